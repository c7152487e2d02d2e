#include "auth/secretcommand.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

namespace quorvale {

namespace {

/// A password or token is a line; a command that prints megabytes is not giving one.
constexpr qint64 kMaxOutputBytes = 1024 * 1024;

} // namespace

SecretCommandResult runSecretCommand(const QStringList &words, SecretKind kind, std::chrono::milliseconds timeout,
                                     const std::function<bool()> &aborted)
{
    const QString what =
        kind == SecretKind::Password ? QStringLiteral("password command") : QStringLiteral("token command");
    if (words.isEmpty() || words.first().isEmpty())
        return {{}, QStringLiteral("No %1 (PasswordCommand) is set.").arg(what)};
    // Only the program's name: the arguments may hold a secret of their own.
    const QString name = QStringLiteral("The %1 \"%2\"").arg(what, QFileInfo(words.first()).fileName());

    QProcess process;
    process.setProgram(words.first());
    process.setArguments(words.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        return {{}, name + QStringLiteral(" could not be started.")};

    QByteArray output;
    const QDeadlineTimer deadline(timeout);
    while (process.state() != QProcess::NotRunning) {
        const qint64 slice = std::min<qint64>(100, deadline.remainingTime());
        process.waitForFinished(int(std::max<qint64>(slice, 0)));
        output += process.readAllStandardOutput();
        const bool stop = aborted && aborted();
        if (process.state() == QProcess::NotRunning)
            break;
        if (stop || deadline.hasExpired() || output.size() > kMaxOutputBytes) {
            process.kill();
            process.waitForFinished();
            if (stop)
                return {{}, name + QStringLiteral(" was stopped.")};
            if (output.size() > kMaxOutputBytes)
                return {{}, name + QStringLiteral(" printed far more than one line.")};
            const qint64 seconds = std::chrono::ceil<std::chrono::seconds>(timeout).count();
            return {{},
                    name + QStringLiteral(" did not finish within %1 second%2.")
                               .arg(seconds)
                               .arg(seconds == 1 ? QString() : QStringLiteral("s"))};
        }
    }
    output += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit)
        return {{}, name + QStringLiteral(" crashed.")};
    if (process.exitCode() != 0)
        return {{}, name + QStringLiteral(" failed with exit status %1.").arg(process.exitCode())};
    const qsizetype end = output.indexOf('\n');
    QByteArray line = end < 0 ? output : output.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.trimmed().isEmpty())
        return {{}, name + QStringLiteral(" printed nothing on its first line.")};
    return {QString::fromUtf8(line), {}};
}

} // namespace quorvale
