#include "auth/secretcommand.h"

#include "platform/files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// A password or token is a line; a command that prints megabytes is not giving one.
constexpr qint64 kMaxOutputBytes = 1024 * 1024;

} // namespace

SecretCommandResult runSecretCommand(const QStringList &words, SecretKind kind, std::chrono::milliseconds timeout,
                                     const std::function<bool()> &aborted, const QString &settingsFile)
{
    const QString what = kind == SecretKind::Password ? u"password command"_s : u"token command"_s;
    if (words.isEmpty() || words.first().isEmpty())
        return {{}, u"No %1 is set: enter it as the Command in Setup."_s.arg(what)};
    // Only the program's name: the arguments may hold a secret of their own.
    const QString name = u"The %1 \"%2\""_s.arg(what, QFileInfo(words.first()).fileName());

    // The command comes from the settings file: when someone else could have written it there,
    // it is not run, as ssh ignores a configuration file that others can change.
    QString fix;
    if (const QString problem = settingsFile.isEmpty() ? QString() : platform::othersCanChange(settingsFile, &fix);
        !problem.isEmpty())
        return {{},
                u"%1 is not run: the settings file %2 %3, so the command may not be yours. Fix: %4."_s.arg(
                    name, QDir::toNativeSeparators(settingsFile), problem, fix)};

    QProcess process;
    process.setProgram(words.first());
    process.setArguments(words.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        return {{}, name + u" could not be started."_s};

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
                return {{}, name + u" was stopped."_s};
            if (output.size() > kMaxOutputBytes)
                return {{}, name + u" printed far more than one line."_s};
            const qint64 seconds = std::chrono::ceil<std::chrono::seconds>(timeout).count();
            return {{},
                    name +
                        u" did not finish within %1 second%2."_s.arg(seconds).arg(seconds == 1 ? QString() : u"s"_s)};
        }
    }
    output += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit)
        return {{}, name + u" crashed."_s};
    if (process.exitCode() != 0)
        return {{}, name + u" failed with exit status %1."_s.arg(process.exitCode())};
    const qsizetype end = output.indexOf('\n');
    QByteArray line = end < 0 ? output : output.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.trimmed().isEmpty())
        return {{}, name + u" printed nothing on its first line."_s};
    return {QString::fromUtf8(line), {}};
}

} // namespace quorvale
