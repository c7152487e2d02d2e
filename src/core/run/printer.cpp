#include "run/printer.h"

#include <QProcess>
#include <QStringList>

namespace quorvale {

namespace {

/// Long enough for a busy spooler to take the job; a command that hangs must not stall the run.
constexpr int kPrintCommandTimeoutMs = 30000;

} // namespace

bool CommandPrinter::printDocument(const QString &path, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };

    QStringList words;
    const QString custom = qEnvironmentVariable("QUORVALE_PRINT_COMMAND");
    if (custom.trimmed().isEmpty()) {
        // "--" keeps a file name that starts with "-" from being taken as an option of lp.
        words = {QStringLiteral("lp"), QStringLiteral("--")};
    } else {
        words = QProcess::splitCommand(custom);
        if (words.isEmpty())
            return fail(QStringLiteral("The print command is empty"));
    }
    const QString program = words.takeFirst();
    words.append(path);

    QProcess process;
    process.setProgram(program);
    process.setArguments(words);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        return fail(QStringLiteral("The print command cannot be started: ") + program);
    if (!process.waitForFinished(kPrintCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return fail(QStringLiteral("The print command did not finish: ") + program);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return fail(QStringLiteral("The print command failed: ") + program +
                    (said.isEmpty() ? QString() : QStringLiteral(": ") + said));
    }
    return true;
}

} // namespace quorvale
