#include "run/printer.h"

#include <QProcess>
#include <QStringList>
#include <QStringView>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// Long enough for a busy spooler to take the job; a command that hangs must not stall the run.
constexpr int kPrintCommandTimeoutMs = 30000;

/// Splits a command into words with a POSIX shell's quoting rules: blanks separate words, single
/// quotes keep everything literally, inside double quotes a backslash escapes only a backslash,
/// a double quote, "$" and "`", and outside quotes it keeps the next character. No expansions.
QStringList splitShellWords(const QString &command)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (c == u'\'') {
            inWord = true;
            const qsizetype end = command.indexOf(u'\'', i + 1);
            word += command.mid(i + 1, (end < 0 ? command.size() : end) - i - 1);
            i = end < 0 ? command.size() : end;
        } else if (c == u'"') {
            inWord = true;
            for (++i; i < command.size() && command.at(i) != u'"'; ++i) {
                if (command.at(i) == u'\\' && i + 1 < command.size() &&
                    QStringView(u"\\\"$`").contains(command.at(i + 1)))
                    ++i;
                word += command.at(i);
            }
        } else if (c == u'\\') {
            inWord = true;
            if (i + 1 < command.size())
                word += command.at(++i);
        } else if (c.isSpace()) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

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
        words = {u"lp"_s, u"--"_s};
    } else {
        words = splitShellWords(custom);
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
