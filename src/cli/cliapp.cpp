#include "cli/cliapp.h"

#include "appinfo.h"
#include "check/clientcheck.h"
#include "mail/attachmentcache.h"
#include "mail/sendmail.h"
#include "platform/platform.h"
#include "run/batchrun.h"
#include "run/clock.h"
#include "run/printer.h"
#include "run/prompter.h"
#include "run/statuslog.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

namespace quorvale {

namespace {

/// Exit statuses of `quorvale run`; the other commands use Ok, Failed and NotStarted alike.
enum ExitStatus
{
    Ok = 0,
    Failed = 1,
    NotStarted = 2,
    Aborted = 130
};

const char kHelp[] = R"(Usage:
  quorvale                      open the main window
  quorvale run --csv FILE [options]
  quorvale check --csv FILE [options] [--save FILE]
  quorvale test-email ADDRESS
  quorvale config show | get NAME | set NAME VALUE
  quorvale --help | -h | help | --version

run: sends one message to every client in the client CSV file (client id, e-mail address),
using the mail server and pacing settings saved by the Setup dialog (see "config").
  --csv FILE          the client CSV file (required); client documents are looked up in its folder
  --subject TEXT      subject line (default: the saved subject line)
  --body TEXT         message body (default: the saved body)
  --body-file FILE    read the message body from FILE (UTF-8)
  --mode MODE         none (default): no attachment
                      common: attach the file given with --attachment to every message
                      client: attach each client's own document, a file in the CSV file's folder
                              whose name holds the client id followed by "." (e.g. Invoice_42.pdf;
                              not 1042.pdf, v1.42.pdf or Invoice_42.1.pdf); a client that several
                              documents name, or whose document also names another client of the
                              list, gets no message
  --attachment FILE   the common attachment (with --mode common)
  --print             print the document of each client without an e-mail address
  --yes, -y           start without asking for confirmation (otherwise the question is answered
                      on standard input: y or yes starts the run)
  --resume            when an earlier run of the same mailing (client file, subject, body, mode and
                      common attachment) did not finish, skip the clients it already sent to without
                      asking; clients whose message may or may not have arrived (the connection broke
                      after it was handed over) are skipped too. Clients are recognised by their id
                      and address, so clients added or corrected since are sent to.
  --include-unknown   with --resume: send to those clients again
  --no-resume         go over every client again even though an earlier run did not finish
  --retry-failed      send only to the clients of the mailing whose last send was refused or may
                      not have arrived
  With --yes and neither --resume nor --no-resume, a run of a mailing whose earlier run did not
  finish starts nothing (exit status 2): it never skips or resends without being told.
  Every run keeps a journal of what it sent, in $XDG_DATA_HOME/Quorvale/runs/; a journal that
  does not read cleanly stops the run (exit status 2) until it is mended or --no-resume is given.
  Only one run goes at a time: another one, from the window or the command line, is refused
  (exit status 2) while it lasts.
  Status lines go to standard output as they happen, warnings to standard error.
  Ctrl-C, SIGTERM and SIGHUP abort the run (a second one ends the program at once).
  Exit status: 0 completed without errors; 1 completed with errors (missing documents, send or
  print errors) or stopped by a failure after sending or printing something; 2 nothing was sent or
  printed (bad usage, incomplete setup, an unreadable CSV file, the answer No, or a failure before
  the first message or printout); 130 aborted.

check: shows, client by client, what "run" with the same options would do now (send, send with
which file, no document found, print which file, or nothing), and flags what deserves a second
look: several documents for one client, a document that names more than one client (a run sends
or prints neither), the same address or client id on more than one line, an address that is not
valid, a missing common attachment; links in the folder that are no document are listed. Flagged
rows start with "!". Sends and prints nothing and saves no setting.
  --csv, --mode, --attachment, --print   as for run (--subject, --body, --body-file, --yes are ignored)
  --save FILE         also save the table as a CSV file (UTF-8, with a header line; a field that
                      would start a spreadsheet formula is led by "'"; a link named FILE is
                      replaced, not written through)
  Exit status: 0 nothing flagged; 1 flags or problems found; 2 the list could not be read, the
  table could not be saved, or bad usage.

test-email ADDRESS: sends one test message to ADDRESS with the saved mail server settings.

config: the saved settings.
  show                shows every setting (the password masked)
  get NAME            prints one setting as the program uses it (the password in plain text)
  set NAME VALUE      saves one setting; VALUE "-" reads it from standard input
                      (use "-" for the password, so that it stays out of the shell history)
  NAME is one of: EmailFrom, SMPTServer (also accepted as SMTPServer), AuthType (0 Simple, 1 SSL),
  SSLport, UserName, PW, SubjectLine, CSVpath, EnableSchedule (0 or 1), DelayBetweenSends
  (seconds), GroupDelay (minutes), GroupSize (clients).

Settings are kept in $XDG_CONFIG_HOME/Quorvale/Quorvale.ini, the body in
$XDG_DATA_HOME/Quorvale/Body.txt.
)";

/// The last line of --help: where the HTML help pages are, or that there are none to be found.
QString helpFolderLine()
{
    const QString folder = helpFolder();
    if (folder.isEmpty())
        return QStringLiteral("\nNo help pages were found beside the program.\n");
    return QStringLiteral("\nThe help pages are in ") + folder + QStringLiteral(" (start with main.html).\n");
}

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeErr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int usageError(const QString &message)
{
    writeErr(QStringLiteral("quorvale: ") + message + QStringLiteral("\nTry \"quorvale --help\".\n"));
    return NotStarted;
}

/// Status lines on standard output, each flushed as it is written.
class StdoutLog final : public StatusLog
{
public:
    void LogStatus(const QString &line) override
    {
        QMutexLocker lock(&m_mutex);
        writeOut(line + QLatin1Char('\n'));
    }

private:
    QMutex m_mutex;
};

/// Warnings on standard error; the question on standard input unless --yes answered it.
class ConsolePrompter final : public Prompter
{
public:
    explicit ConsolePrompter(bool assumeYes) : m_assumeYes(assumeYes) {}
    void warn(const QString &message) override { writeErr(message + QLatin1Char('\n')); }
    bool askYesNo(const QString &question) override
    {
        if (m_assumeYes)
            return true;
        writeErr(question + QStringLiteral(" [y/N] "));
        std::string answer;
        if (!std::getline(std::cin, answer))
            return false;
        const QString text = QString::fromStdString(answer).trimmed().toLower();
        return text == QLatin1String("y") || text == QLatin1String("yes");
    }

private:
    bool m_assumeYes;
};

/// Ctrl-C, SIGTERM and SIGHUP (a logout, a closed terminal) are the Abort button: the run ends at
/// its next check point with its journal closed and the encoded attachment copy removed. A second
/// one of the same kind ends the program at once. A reader of the status lines that goes away
/// (`| head`) must not kill the run halfway through a send.
void abortOnTerminationSignals(AbortRequest &abort)
{
    std::signal(SIGPIPE, SIG_IGN);
    // A lock-free atomic store: safe in a signal handler.
    platform::catchTerminationSignals([](void *request) { static_cast<AbortRequest *>(request)->request(); }, &abort);
}

AppSettings loadSettings(const SettingsStore &store)
{
    AppSettings settings;
    settings.DataFolder = defaultDataFolder();
    LoadSettings(store, settings);
    return settings;
}

/// "Simple" is plain SMTP: one line on standard error says so whenever a login goes with it.
void warnAboutLoginInClear(const AppSettings &settings)
{
    if (settings.AuthType == 0 && !settings.UserName.isEmpty())
        writeErr(QStringLiteral("quorvale: warning: the authentication type is Simple (AuthType 0): the user name and "
                                "password go to the server unencrypted.\n"));
}

// --- run ------------------------------------------------------------------------------------

int runCommand(const QStringList &args)
{
    RunRequest request;
    std::optional<QString> csv, subject, body, bodyFile, mode, attachment;
    bool assumeYes = false;
    std::optional<ResumeChoice> resume;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args.at(i);
        std::optional<QString> inlineValue;
        if (const qsizetype eq = option.indexOf(QLatin1Char('=')); option.startsWith(QLatin1String("--")) && eq > 0) {
            inlineValue = option.mid(eq + 1);
            option.truncate(eq);
        }
        const auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args.at(++i);
            return std::nullopt;
        };
        std::optional<QString> *target = nullptr;
        if (option == QLatin1String("--csv"))
            target = &csv;
        else if (option == QLatin1String("--subject"))
            target = &subject;
        else if (option == QLatin1String("--body"))
            target = &body;
        else if (option == QLatin1String("--body-file"))
            target = &bodyFile;
        else if (option == QLatin1String("--mode"))
            target = &mode;
        else if (option == QLatin1String("--attachment"))
            target = &attachment;
        if (target) {
            *target = value();
            if (!*target)
                return usageError(option + QStringLiteral(" needs a value"));
            continue;
        }
        if (inlineValue)
            return usageError(option + QStringLiteral(" takes no value"));
        if (option == QLatin1String("--print"))
            request.print = true;
        else if (option == QLatin1String("--yes") || option == QLatin1String("-y"))
            assumeYes = true;
        else if (option == QLatin1String("--resume") || option == QLatin1String("--no-resume")) {
            const ResumeChoice choice =
                option == QLatin1String("--resume") ? ResumeChoice::Resume : ResumeChoice::StartAfresh;
            if (resume && *resume != choice)
                return usageError(QStringLiteral("give either --resume or --no-resume, not both"));
            resume = choice;
        } else if (option == QLatin1String("--include-unknown"))
            request.includeUnknown = true;
        else if (option == QLatin1String("--retry-failed"))
            request.retryFailed = true;
        else
            return usageError(QStringLiteral("unknown option for run: ") + option);
    }
    request.csvPath = csv.value_or(QString());
    if (request.csvPath.isEmpty())
        return usageError(QStringLiteral("run needs --csv FILE, the client CSV file"));
    if (body && bodyFile)
        return usageError(QStringLiteral("give either --body or --body-file, not both"));
    if (request.includeUnknown && resume != ResumeChoice::Resume)
        return usageError(QStringLiteral("--include-unknown is only used with --resume"));
    if (request.retryFailed && resume)
        return usageError(QStringLiteral("--retry-failed takes neither --resume nor --no-resume"));
    // --yes answers the confirmation only: skipping clients, or sending to them a second time, is
    // never decided for the user.
    request.resume = resume.value_or(assumeYes ? ResumeChoice::Refuse : ResumeChoice::Ask);

    RunControl control;
    const QString modeName = mode.value_or(QStringLiteral("none"));
    if (modeName == QLatin1String("none"))
        control.setAttachmentMode(AttachmentMode::None);
    else if (modeName == QLatin1String("common"))
        control.setAttachmentMode(AttachmentMode::Common);
    else if (modeName == QLatin1String("client"))
        control.setAttachmentMode(AttachmentMode::ClientSpecific);
    else
        return usageError(QStringLiteral("--mode must be none, common or client, not ") + modeName);
    if (attachment && control.attachmentMode() != AttachmentMode::Common)
        return usageError(QStringLiteral("--attachment is only used with --mode common"));
    control.setCommonAttachmentPath(attachment.value_or(QString()));

    const std::unique_ptr<SettingsStore> store = openSettingsStore();
    const AppSettings settings = loadSettings(*store);
    request.subject = subject.value_or(settings.SubjectLine);
    if (body || bodyFile) {
        if (body) {
            request.body = *body;
        } else {
            QFile file(*bodyFile);
            if (!file.open(QIODevice::ReadOnly))
                return usageError(QStringLiteral("the body file cannot be read: ") + *bodyFile + QStringLiteral(" (") +
                                  file.errorString() + QLatin1Char(')'));
            request.body = QString::fromUtf8(file.readAll());
        }
        // The window's body has CR LF line breaks, and so must the saved body file it reads back.
        request.body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        request.body.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    } else {
        QString error;
        if (!ReadBodyFile(settings.DataFolder, request.body, &error)) {
            writeErr(QStringLiteral("quorvale: the saved body cannot be read: ") + error + QLatin1Char('\n'));
            return NotStarted;
        }
    }

    warnAboutLoginInClear(settings);
    StdoutLog log;
    ConsolePrompter prompter(assumeYes);
    const auto currentSettings = [&settings] { return settings; };
    SmtpMailer mailer(currentSettings);
    CommandPrinter printer;
    SystemClock clock;
    BatchRun run(RunDependencies{*store, log, prompter, mailer, printer, clock, control, nullptr, currentSettings});
    if (run.prepare(request)) {
        abortOnTerminationSignals(control.abort());
        run.execute();
    } else if (run.earlierRunUnfinished() && request.resume == ResumeChoice::Refuse) {
        writeErr(
            QStringLiteral("quorvale: give --resume to skip the clients the earlier run sent to, or --no-resume to "
                           "go over every client again.\n"));
    }
    switch (run.outcome()) {
    case RunOutcome::Completed:
        return Ok;
    case RunOutcome::CompletedWithErrors:
        return Failed;
    case RunOutcome::Stopped:
        return run.anythingHandedOver() ? Failed : NotStarted;
    case RunOutcome::Aborted:
        return Aborted;
    case RunOutcome::NotStarted:
        break;
    }
    return NotStarted;
}

// --- check --------------------------------------------------------------------------------

int checkCommand(const QStringList &args)
{
    CheckRequest request;
    std::optional<QString> mode, attachment, save;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString option = args.at(i);
        std::optional<QString> value;
        if (const qsizetype eq = option.indexOf(QLatin1Char('=')); option.startsWith(QLatin1String("--")) && eq > 0) {
            value = option.mid(eq + 1);
            option.truncate(eq);
        }
        static const QStringList valued{QStringLiteral("--csv"),        QStringLiteral("--subject"),
                                        QStringLiteral("--body"),       QStringLiteral("--body-file"),
                                        QStringLiteral("--mode"),       QStringLiteral("--attachment"),
                                        QStringLiteral("--save")};
        if (valued.contains(option)) {
            if (!value && i + 1 < args.size())
                value = args.at(++i);
            if (!value)
                return usageError(option + QStringLiteral(" needs a value"));
            if (option == QLatin1String("--csv"))
                request.csvPath = *value;
            else if (option == QLatin1String("--mode"))
                mode = value;
            else if (option == QLatin1String("--attachment"))
                attachment = value;
            else if (option == QLatin1String("--save"))
                save = value;
            continue;
        }
        if (value)
            return usageError(option + QStringLiteral(" takes no value"));
        if (option == QLatin1String("--print"))
            request.print = true;
        else if (option != QLatin1String("--yes") && option != QLatin1String("-y"))
            return usageError(QStringLiteral("unknown option for check: ") + option);
    }
    if (request.csvPath.isEmpty())
        return usageError(QStringLiteral("check needs --csv FILE, the client CSV file"));
    const QString modeName = mode.value_or(QStringLiteral("none"));
    if (modeName == QLatin1String("none"))
        request.mode = AttachmentMode::None;
    else if (modeName == QLatin1String("common"))
        request.mode = AttachmentMode::Common;
    else if (modeName == QLatin1String("client"))
        request.mode = AttachmentMode::ClientSpecific;
    else
        return usageError(QStringLiteral("--mode must be none, common or client, not ") + modeName);
    if (attachment && request.mode != AttachmentMode::Common)
        return usageError(QStringLiteral("--attachment is only used with --mode common"));
    request.commonPath = attachment.value_or(QString());

    std::signal(SIGPIPE, SIG_IGN);
    const CheckReport report = CheckClientList(request);
    if (!report.error.isEmpty()) {
        writeErr(report.error + QLatin1Char('\n'));
        return NotStarted;
    }
    QString out = checkSummary(report).join(QLatin1Char('\n')) + QStringLiteral("\n\n");
    for (const CheckRow &row : report.rows) {
        out += (row.flags ? QStringLiteral("! ") : QStringLiteral("  ")) + QString::number(row.lineNumber) +
               QLatin1Char('\t') + row.clientId + QLatin1Char('\t') + row.address + QLatin1Char('\t') +
               checkActionText(row);
        if (row.flags)
            out += QLatin1Char('\t') + checkFlagsText(row);
        out += QLatin1Char('\n');
    }
    writeOut(out);
    if (save) {
        QString error;
        if (!SaveCheckCsv(report, *save, &error)) {
            writeErr(QStringLiteral("quorvale: the check could not be saved to ") + *save + QStringLiteral(" (") + error +
                     QStringLiteral(")\n"));
            return NotStarted;
        }
    }
    return report.flaggedCount() > 0 || !report.problems.isEmpty() ? Failed : Ok;
}

// --- test-email -----------------------------------------------------------------------------

int testEmailCommand(const QStringList &args)
{
    if (args.size() > 1)
        return usageError(QStringLiteral("test-email takes one address"));
    const QString address = args.value(0);
    const std::unique_ptr<SettingsStore> store = openSettingsStore();
    const AppSettings settings = loadSettings(*store);
    if (settings.SMTPServer.isEmpty() || settings.SSLport.isEmpty() || settings.UserName.isEmpty() ||
        settings.Password.isEmpty()) {
        writeErr(QStringLiteral("Your email server setup is not complete.\n"));
        return NotStarted;
    }
    if (address.isEmpty()) {
        writeErr(QStringLiteral("You need enter a send email address for testing.\n"));
        return NotStarted;
    }

    warnAboutLoginInClear(settings);
    StdoutLog log;
    log.LogStatus(QStringLiteral("Testing Email..."));
    SmtpMailer mailer([&settings] { return settings; });
    const MailMessage message{address, QString(), QStringLiteral("Test subject line text"),
                              QStringLiteral("Test email body text")};
    QString status, errors, error;
    const bool attempted = mailer.sendMail(message, status, errors, &error, {}, {});
    const bool sent = attempted && status == QLatin1String("OK");
    if (!sent) {
        log.LogStatus(attempted ? errors : error);
        log.LogStatus(QStringLiteral("Email test bad or had problems!"));
    }
    log.LogStatus(QStringLiteral("Email testing complete"));
    return sent ? Ok : Failed;
}

// --- config ---------------------------------------------------------------------------------

const StoredSetting *lookUpSetting(const QString &name)
{
    // "SMTPServer" is what people type; the stored name keeps its historical spelling.
    if (name.compare(QLatin1String("SMTPServer"), Qt::CaseInsensitive) == 0)
        return findStoredSetting(u"SMPTServer");
    return findStoredSetting(name);
}

int unknownSetting(const QString &name)
{
    QStringList names;
    for (const StoredSetting &setting : settingsTable())
        names.append(setting.name);
    return usageError(QStringLiteral("unknown setting ") + name + QStringLiteral("; the settings are ") +
                      names.join(QStringLiteral(", ")));
}

int configCommand(const QStringList &args)
{
    const QString action = args.value(0);
    const std::unique_ptr<SettingsStore> store = openSettingsStore();
    if (action == QLatin1String("show") && args.size() == 1) {
        const AppSettings settings = loadSettings(*store);
        for (const StoredSetting &setting : settingsTable()) {
            QString value = settingText(settings, setting);
            if (setting.type == SettingType::Password && !value.isEmpty())
                value = QStringLiteral("********");
            writeOut(setting.name + QLatin1Char('=') + value + QLatin1Char('\n'));
        }
        return Ok;
    }
    if (action == QLatin1String("get") && args.size() == 2) {
        const StoredSetting *setting = lookUpSetting(args.at(1));
        if (!setting)
            return unknownSetting(args.at(1));
        writeOut(settingText(loadSettings(*store), *setting) + QLatin1Char('\n'));
        return Ok;
    }
    if (action == QLatin1String("set") && args.size() == 3) {
        const StoredSetting *setting = lookUpSetting(args.at(1));
        if (!setting)
            return unknownSetting(args.at(1));
        QString value = args.at(2);
        if (value == QLatin1String("-")) {
            QFile in;
            if (!in.open(stdin, QIODevice::ReadOnly))
                return usageError(QStringLiteral("standard input cannot be read"));
            value = QString::fromUtf8(in.readAll());
            // One line end closes the value; it is not part of it.
            if (value.endsWith(QLatin1Char('\n')))
                value.chop(1);
            if (value.endsWith(QLatin1Char('\r')))
                value.chop(1);
        }
        if (const QString problem = settingTextProblem(*setting, value); !problem.isEmpty()) {
            // The value is named, except a password, which never goes to the terminal.
            const QString what = setting->type == SettingType::Password
                                     ? QString(setting->name)
                                     : setting->name + QStringLiteral(" cannot be \"") + value + QLatin1Char('"');
            writeErr(QStringLiteral("quorvale: ") + what + QStringLiteral(": ") + problem +
                     QStringLiteral(" Nothing was saved.\n"));
            return NotStarted;
        }
        QString error;
        if (!SaveSettingText(*store, *setting, value, &error)) {
            writeErr(QStringLiteral("quorvale: ") + setting->name + QStringLiteral(" could not be saved: ") + error +
                     QLatin1Char('\n'));
            return Failed;
        }
        return Ok;
    }
    return usageError(QStringLiteral("config needs show, get NAME or set NAME VALUE"));
}

} // namespace

int runCli(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help") ||
        args.contains(QLatin1String("--help"))) {
        writeOut(QString::fromUtf8(kHelp) + helpFolderLine());
        return Ok;
    }
    if (command == QLatin1String("--version")) {
        writeOut(appTitle() + QLatin1Char(' ') + appVersion() + QLatin1Char('\n'));
        return Ok;
    }
    // Encoded attachment copies that a crashed run left behind.
    AttachmentCache::removeLeftovers(defaultDataFolder());
    if (command == QLatin1String("run"))
        return runCommand(args);
    if (command == QLatin1String("check"))
        return checkCommand(args);
    if (command == QLatin1String("test-email"))
        return testEmailCommand(args);
    if (command == QLatin1String("config"))
        return configCommand(args);
    return usageError(QStringLiteral("unknown command ") + command);
}

} // namespace quorvale
