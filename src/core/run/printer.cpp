#include "run/printer.h"

#include "text/shellwords.h"

#include <QProcess>
#include <QStringList>
#include <QStringView>

using namespace Qt::StringLiterals;

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
    if (m_command.trimmed().isEmpty()) {
        // "--" keeps a file name that starts with "-" from being taken as an option of lp.
        words = {u"lp"_s, u"--"_s};
    } else {
        words = splitShellWords(m_command);
        if (words.isEmpty())
            return fail(u"The print command is empty"_s);
    }
    const QString program = words.takeFirst();
    // A relative path starting with "-" would be taken for an option by most print commands.
    words.append(path.startsWith(u'-') ? u"./"_s + path : path);

    QProcess process;
    process.setProgram(program);
    process.setArguments(words);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted())
        return fail(u"The print command cannot be started: "_s + program);
    if (!process.waitForFinished(kPrintCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return fail(u"The print command did not finish: "_s + program);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return fail(u"The print command failed: "_s + program + (said.isEmpty() ? QString() : u": "_s + said));
    }
    return true;
}

} // namespace quorvale
