#include "cli/cliapp.h"

#include "app/programservices.h"
#include "appinfo.h"
#include "auth/oauthsignin.h"
#include "auth/signinaccount.h"
#include "check/clientcheck.h"
#include "clients/csvreader.h"
#include "mail/attachmentcache.h"
#include "mail/messagebuilder.h"
#include "mail/inboxreader.h"
#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
#include "platform/process.h"
#include "run/batchrun.h"
#include "run/bouncecheck.h"
#include "run/clock.h"
#include "run/messagepreview.h"
#include "run/ownfiles.h"
#include "run/printer.h"
#include "run/prompter.h"
#include "run/statuslog.h"
#include "settings/bodyfile.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

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
  quorvale preview --csv FILE [options] (--client ID | --line N) [--send-to ADDRESS]
  quorvale test-email ADDRESS
  quorvale config show | get NAME | set NAME VALUE
  quorvale sign-in [--no-browser]
  quorvale sign-out
  quorvale bounces [--since YYYY-MM-DD]
  quorvale --help | -h | help | --version

run: sends one message to every client in the client CSV file (client id, e-mail address),
using the mail server and pacing settings saved by the Setup dialog (see "config").
  --csv FILE          the client CSV file (required); client documents are looked up in its folder
  --header            the first line of the client CSV file holds column names: it is no client
  --delimiter C       what separates the fields of the client CSV file: "," (a comma), ";" or tab
                      (default: the saved setting CSVDelimiter, a comma unless set otherwise)
  --subject TEXT      subject line (default: the saved subject line)
  --body TEXT         message body (default: the saved body)
  --body-file FILE    read the message body from FILE (UTF-8)
  --html-file FILE    send a formatted body: the HTML of FILE (UTF-8), with a plain-text part made
                      from it; pictures named by paths relative to FILE's folder go inside the
                      message; scripts, remote pictures and external styles are left out
  --mode MODE         none (default): no attachment
                      common: attach the file given with --attachment to every message
                      client: attach each client's own document, a file in the CSV file's folder
                              whose name holds the client id followed by "." (e.g. Invoice_42.pdf;
                              not 1042.pdf, v1.42.pdf or Invoice_42.1.pdf); a client that several
                              documents name, or whose document also names another client of the
                              list or holds one's id as a word of its own (Invoice_42 copy 2.pdf
                              for client 2; a date such as 2024-10-31 holds no id), gets no message
                      named: attach every file that --documents names for the client (no
                              guessing: a client whose named file is missing gets no message)
  --attachment FILE   the common attachment (with --mode common)
  --documents NAMES   with --mode named: file names in the CSV file's folder, ";" between them,
                      fields filled per client, e.g. "Invoice_{{id}}.pdf;Statement_{{id}}.pdf"
                      (default: the saved setting DocumentPatterns); names are compared exactly,
                      letter case too; a field holding several names separated by ";" gives each
  --print             print the document of each client without an e-mail address
  --clients ID,...    go only to these clients of the list (client ids separated by commas); the
                      others are left out: not sent to, not printed, and no failure. An id that no
                      client of the list has starts nothing (exit status 2). The journal records
                      the choice: resuming with other clients chosen is asked about, as for other
                      attachment or print options
  --yes, -y           start without asking for confirmation (otherwise the question is answered
                      on standard input: y or yes starts the run)
  --allow-empty-fields  send to clients whose line has an empty field that the message uses;
                      without it the run asks, and with --yes it starts nothing (exit status 2)
  --skip-empty-fields   send only to the other clients, passing those over without asking
  --resume            when an earlier run of the same mailing (client file, subject and body) did
                      not finish, skip the clients it already sent to without asking; clients whose
                      message may or may not have arrived (the connection broke after it was handed
                      over) are skipped too. Clients are recognised by their id and address, so
                      clients added or corrected since are sent to. The earlier run's attachment and
                      print options must be given again: with others nothing starts (exit status 2)
                      and standard error names them.
  --include-unknown   with --resume: send to those clients again
  --no-resume         go over every client again even though an earlier run did not finish
  --retry-failed      send only to the clients of the mailing whose last send was refused or may
                      not have arrived
  --resend-bounced    send only to the clients of the mailing whose message bounced (see
                      "bounces"), at the address now in the client file once it was corrected;
                      those whose address is unchanged are named and skipped
  --send-again        send a mailing that already reached every client once more (without it,
                      the question says when the mailing was sent and defaults to No, and with
                      --yes nothing starts: exit status 2)
  With --yes and neither --resume nor --no-resume, a run of a mailing whose earlier run did not
  finish starts nothing (exit status 2): it never skips or resends without being told.
  Fields: the subject and the body may hold fields of each client's line, filled in for every
  client: {{id}} the client id, {{email}} the address, {{3}}, {{4}}, ... the third, fourth, ...
  field, and with --header {{Name}} the column whose first line says Name (letter case and
  blanks around it aside). {{"{{"}} writes a literal "{{". A field may carry a fallback,
  written where the client's field is empty: {{Name|Client}}, {{3|Client}}; such a field is not
  counted as empty. For example, with the line
  42,ann@example.com,Ann Smith,March and --subject "Invoice {{4}}" --body "Dear {{3}}, ..." the
  client gets "Invoice March" and "Dear Ann Smith, ...". A field that no column of the file has
  stops the run before its question (exit status 2); clients whose field is empty are counted
  and the run asks whether to send to them (see --allow-empty-fields). A value is inserted as
  text; one holding a line break cannot go in the subject: that client's send fails.
  Every run keeps a journal of what it sent, in $XDG_DATA_HOME/Quorvale/runs/; a journal that
  does not read cleanly stops the run (exit status 2) until it is mended or --no-resume is given.
  Only one run goes at a time: another one, from the window or the command line, is refused
  (exit status 2) while it lasts, with the process, account, computer and time of the run that
  holds it. A run also leaves a hidden lock file beside the client file (.NAME.quorvale-lock,
  readable by all, no secret) that keeps runs of other accounts and computers off the same list;
  one left by a process of this computer that has ended is taken over, one of another computer
  never is (delete it once no run goes on there). A folder that takes no lock file is named on
  standard error and the run goes on.
  A document or common attachment that is the client list or a file of the program's own
  (settings, body, journals, sign-in, lock), also through a hard link, is never sent.
  A password or token command (SignInMethod password-command, token-command) is not run while
  the settings file belongs to another user or others may change it: the run stops, naming the
  file and the fix (chmod 600 FILE).
  Status lines go to standard output as they happen, warnings to standard error. Before it asks
  (or starts, with --yes) the run writes what it will do to standard error: how many e-mails and
  printouts, the subject, the attachment, the clients a resume skips, and warnings (the subject
  still "Subject Line Text", an empty body). Each failed client is named on standard error with
  the server's or the printer's reason as it happens, and one line of counts ends the run.
  Ctrl-C, SIGTERM and SIGHUP abort the run: no other client is started, and a message being
  sent is let finish (up to 30 seconds) so that its outcome is known. A second one stops that
  message at once; a third of the same kind ends the program.
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
  --csv, --header, --delimiter, --mode, --attachment, --print   as for run (--yes is ignored)
  --clients ID,...    as for run: only these clients are shown, and the others counted as left out
  --subject, --body, --body-file, --html-file   the message as for run: a client whose line has an empty field
                      that the message uses is flagged, a field that no column has is reported
  --save FILE         also save the table as a CSV file (UTF-8, with a header line; a field that
                      would start a spreadsheet formula is led by "'"; a link named FILE is
                      replaced, not written through). Never over the client list or a file of the
                      program's own (settings, body, journals, sign-in, lock), under any name or
                      link; over another file that exists only with --force
  --force             with --save: replace the file FILE if there is one
  Exit status: 0 nothing flagged; 1 flags or problems found; 2 the list could not be read, the
  table could not be saved (FILE exists and --force was not given, or it is a file of the
  program's own), or bad usage.

preview: shows the message one client would get from "run" with the same options, exactly as it
would be sent: "From: ", "To: " and "Subject: " lines, an empty line, the body, and "Attachment: "
with the file name and size in bytes, "Attachment: none", or why the client's document is not
sent (no document found, several documents, a document naming another client). Sends nothing
and saves no setting.
  --csv, --header, --delimiter, --mode, --attachment, --subject, --body, --body-file, --html-file,
  --clients           as for run (a formatted body is shown as its text; a client left out is
                      shown with the note that a run leaves it out)
  --client ID         the client with this client id (the first line that has it)
  --line N            the client on line N of the client CSV file
  --send-to ADDRESS   send that client's message (fields filled, its document attached) to
                      ADDRESS instead of showing it, and print "Sent to " and the address. A test:
                      no run journal records it
  Exit status: 0 shown or sent; 1 the send failed; 2 the client is not in the list, the list
  cannot be read, the message uses a field that no column has, or bad usage.

test-email ADDRESS: sends one test message to ADDRESS with the saved mail server settings; with
SentCopy 1 it also puts that message in the Sent folder, and fails when that copy fails. With
SendMethod queue it hands the message to this computer's mail queue instead.

config: the saved settings.
  show                shows every setting (the password masked)
  get NAME            prints one setting as the program uses it (the password in plain text)
  set NAME VALUE      saves one setting; VALUE "-" reads it from standard input
                      (use "-" for the password, so that it stays out of the shell history)
  NAME is one of: EmailFrom, SMPTServer (also accepted as SMTPServer), AuthType (0 Simple, 1 SSL),
  SSLport, UserName, PW, SubjectLine, CSVpath, CSVHeader (0 or 1: the first line of the client
  file holds column names), CSVDelimiter (",", ";" or tab: what separates the fields of the client
  file), AttachMode (none, common, client), AttachmentPath, PrintDocuments
  (0 or 1) (the window's attachment and print choices, kept by each run; run's own options do
  not read them), BodyFormat (plain or html: whether the window sends its plain body, Body.txt,
  or its formatted one, Body.html, both in the data folder), EnableSchedule (0 or 1), DelayBetweenSends
  (seconds), GroupDelay (minutes), GroupSize (clients), and for signing in: SignInMethod (password,
  oauth, password-command, token-command), OAuthProvider (microsoft, google, custom),
  OAuthClientId, OAuthClientSecret, OAuthTenant, OAuthAuthorizeUrl, OAuthTokenUrl, OAuthScope,
  PasswordCommand, and the mail provider's sending limits: DailyLimit (messages per rolling 24
  hours) and MinuteLimit (messages per minute), whole numbers without separators, 0 for none.
  And for every message: EmailFromName (the sender's name shown with EmailFrom,
  one line), ReplyTo (the address replies go to; empty: none), ArchiveCopyTo (an address that
  gets a blind copy of every client's message, in the same delivery; empty: none), and for a
  copy of every sent message in the mailbox's Sent folder over IMAP with the mail login: SentCopy
  (0 or 1), IMAPServer, IMAPPort (993: TLS; any other port: STARTTLS, never unencrypted; default
  993), SentFolder (empty: the folder the server marks as Sent, else "Sent", made when missing).
  SendMethod: smtp (to SMPTServer, the default) or queue (each message handed to this computer's
  mail queue, /usr/sbin/sendmail, which relays it; the server and login settings are not used).
  show also says whether a sign-in is stored (OAuthRefreshToken) and where the secrets are kept.

sign-in: signs in to the mail provider (SignInMethod oauth) with the saved OAuth settings. Writes
the address of the provider's sign-in page to standard error and opens it in the web browser
with xdg-open (not with --no-browser, nor without a desktop), waits up to five minutes for the
sign-in to come back to this computer, then prints "Signed in." (exit status 0) or the reason
(exit status 1).
The refresh token is kept in the system keyring, or, when none answers, in a file readable by
you only in the settings folder.

sign-out: forgets the stored sign-in.

bounces: reads the delivery reports in the mailbox's INBOX over IMAP (IMAPServer, IMAPPort, the
mail login; nothing in the mailbox is deleted, moved or marked read), matches each to a client of
the runs since --since (default: the runs of the last 30 days) and records the client as bounced
in the run journals. Prints "Bounced - ADDRESS (client ID): " with the status and the server's
words for each bounced client, then "Bounces found - " and the count. Exit status: 0 none, 1 some,
2 the mailbox could not be read, or bad usage.

Settings are kept in $XDG_CONFIG_HOME/Quorvale/Quorvale.ini, the body in
$XDG_DATA_HOME/Quorvale/Body.txt.
)";

/// The last line of --help: where the HTML help pages are, or that there are none to be found.
QString helpFolderLine()
{
    const QString folder = helpFolder();
    if (folder.isEmpty())
        return u"\nNo help pages were found beside the program.\n"_s;
    return u"\nThe help pages are in "_s + folder + u" (start with main.html).\n"_s;
}

/// The command's standard streams, each write flushed as it is made. Safe from several threads.
class Console
{
public:
    explicit Console(CliConsole &streams) : m_streams(streams) {}
    void out(const QString &text) { write(m_streams.out, text); }
    void err(const QString &text) { write(m_streams.err, text); }
    /// One line of standard input without its line end; empty at the end of the input.
    std::optional<QString> readLine()
    {
        QString line;
        if (!m_streams.in.readLineInto(&line))
            return std::nullopt;
        return line;
    }
    /// The rest of standard input.
    QString readAll() { return m_streams.in.readAll(); }

private:
    void write(QTextStream &stream, const QString &text)
    {
        QMutexLocker lock(&m_mutex);
        stream << text;
        stream.flush();
    }

    CliConsole &m_streams;
    QMutex m_mutex;
};

/// Status lines on standard output, each flushed as it is written.
class StdoutLog final : public StatusLog
{
public:
    explicit StdoutLog(Console &console) : m_console(console) {}
    void LogStatus(const QString &line) override { m_console.out(line + u'\n'); }

private:
    Console &m_console;
};

/// Warnings on standard error; the question on standard input unless --yes answered it.
class ConsolePrompter final : public Prompter
{
public:
    ConsolePrompter(Console &console, bool assumeYes) : m_console(console), m_assumeYes(assumeYes) {}
    void warn(const QString &message) override { m_console.err(message + u'\n'); }
    bool confirmStart(const QString &question, const QString &details, bool defaultNo) override
    {
        // What the run will do is shown before it is asked about, and before a --yes run starts.
        m_console.err(details + u'\n');
        // --yes answers the ordinary question only, never one whose answer should be No.
        if (defaultNo && m_assumeYes) {
            m_console.err(question + u'\n');
            return false;
        }
        return askYesNo(question);
    }
    bool askYesNo(const QString &question) override
    {
        if (m_assumeYes)
            return true;
        m_console.err(question + u" [y/N] "_s);
        const std::optional<QString> answer = m_console.readLine();
        if (!answer)
            return false;
        const QString text = answer->trimmed().toLower();
        return text == "y"_L1 || text == "yes"_L1;
    }

private:
    Console &m_console;
    bool m_assumeYes;
};

/// Ctrl-C, SIGTERM and SIGHUP (a logout, a closed terminal) are the Abort button: the run ends at
/// its next check point with its journal closed and the encoded attachment copy removed, letting a
/// message being handed over finish first. A second one, as a second press of Abort, cuts that
/// message off; a third of the same kind ends the program at once. A reader of the status lines
/// that goes away (`| head`) must not kill the run halfway through a send.
void abortOnTerminationSignals(AbortRequest &abort)
{
    platform::ignoreBrokenPipe();
    // A lock-free atomic add: safe in a signal handler.
    platform::catchTerminationSignals([](void *request) { static_cast<AbortRequest *>(request)->request(); }, &abort,
                                      2);
}

/// What the status lines leave out: each client's failure and why, on standard error as it happens.
class ConsoleObserver final : public RunObserver
{
public:
    explicit ConsoleObserver(Console &console) : m_console(console) {}
    void emailProgress(int) override {}
    void printProgress(int, int) override {}
    void runningChanged(bool) override {}
    void clientFailed(const ClientFailure &failure) override { m_console.err(clientFailureText(failure) + u'\n'); }

private:
    Console &m_console;
};

// --- the options of run and check ----------------------------------------------------------

/// The commands that take the options of a mailing.
enum Command : unsigned
{
    Run = 1u << 0,
    Check = 1u << 1,
    Preview = 1u << 2,
};

/// One option: its name (and short form), whether a value follows it, the commands that take it
/// and those that take it only to ignore it, and the option it may not come with.
struct Option
{
    QLatin1StringView name;
    QLatin1StringView alias = {};
    bool takesValue = false;
    unsigned commands = Run | Check | Preview;
    QLatin1StringView excludes = {};
};

/// The one table of the options of run, check and preview, so that they cannot drift apart. Check
/// takes run's --yes and ignores it.
constexpr std::array<Option, 26> kOptions{{
    {.name = "--csv"_L1, .takesValue = true},
    {.name = "--header"_L1},
    {.name = "--delimiter"_L1, .takesValue = true},
    {.name = "--subject"_L1, .takesValue = true},
    {.name = "--body"_L1, .takesValue = true},
    {.name = "--body-file"_L1, .takesValue = true},
    {.name = "--html-file"_L1, .takesValue = true},
    {.name = "--mode"_L1, .takesValue = true},
    {.name = "--attachment"_L1, .takesValue = true},
    {.name = "--documents"_L1, .takesValue = true},
    {.name = "--save"_L1, .takesValue = true, .commands = Check},
    {.name = "--force"_L1, .commands = Check},
    {.name = "--print"_L1, .commands = Run | Check},
    {.name = "--clients"_L1, .takesValue = true},
    {.name = "--yes"_L1, .alias = "-y"_L1, .commands = Run | Check},
    {.name = "--allow-empty-fields"_L1, .commands = Run, .excludes = "--skip-empty-fields"_L1},
    {.name = "--skip-empty-fields"_L1, .commands = Run, .excludes = "--allow-empty-fields"_L1},
    {.name = "--resume"_L1, .commands = Run, .excludes = "--no-resume"_L1},
    {.name = "--no-resume"_L1, .commands = Run, .excludes = "--resume"_L1},
    {.name = "--include-unknown"_L1, .commands = Run},
    {.name = "--retry-failed"_L1, .commands = Run},
    {.name = "--resend-bounced"_L1, .commands = Run},
    {.name = "--send-again"_L1, .commands = Run},
    {.name = "--client"_L1, .takesValue = true, .commands = Preview, .excludes = "--line"_L1},
    {.name = "--line"_L1, .takesValue = true, .commands = Preview, .excludes = "--client"_L1},
    {.name = "--send-to"_L1, .takesValue = true, .commands = Preview},
}};

/// The options given to one command, by name ("--csv"): the value of each valued one (the last
/// given), and the flags.
class Options
{
public:
    /// Reads `args` for `command` (its name `commandName` for the messages); false with the usage
    /// error in `error`.
    bool parse(const QStringList &args, Command command, const QString &commandName, QString *error)
    {
        for (qsizetype i = 0; i < args.size(); ++i) {
            QString name = args.at(i);
            std::optional<QString> value;
            if (const qsizetype eq = name.indexOf(u'='); name.startsWith("--"_L1) && eq > 0) {
                value = name.mid(eq + 1);
                name.truncate(eq);
            }
            const auto option = std::find_if(kOptions.cbegin(), kOptions.cend(), [&name, command](const Option &o) {
                return (o.commands & command) && (name == o.name || (!o.alias.isEmpty() && name == o.alias));
            });
            if (option != kOptions.cend() && !option->excludes.isEmpty() && has(option->excludes)) {
                // Named in the order of the table.
                const auto other = std::find_if(kOptions.cbegin(), kOptions.cend(),
                                                [option](const Option &o) { return o.name == option->excludes; });
                const auto [first, second] = std::minmax(option, other);
                return fail(error, u"give either %1 or %2, not both"_s.arg(first->name, second->name));
            }
            if (option != kOptions.cend() && option->takesValue) {
                if (!value && i + 1 < args.size())
                    value = args.at(++i);
                if (!value)
                    return fail(error, name + u" needs a value"_s);
                m_values.insert(option->name, *value);
                continue;
            }
            if (value)
                return fail(error, name + u" takes no value"_s);
            if (option == kOptions.cend())
                return fail(error, u"unknown option for "_s + commandName + u": "_s + name);
            m_flags.insert(option->name);
        }
        return true;
    }

    bool has(QLatin1StringView name) const { return m_flags.contains(name) || m_values.contains(name); }
    std::optional<QString> value(QLatin1StringView name) const
    {
        const auto it = m_values.constFind(name);
        return it == m_values.cend() ? std::nullopt : std::optional<QString>(*it);
    }

private:
    static bool fail(QString *error, const QString &text)
    {
        *error = text;
        return false;
    }

    QHash<QString, QString> m_values;
    QSet<QString> m_flags;
};

/// The attachment mode and the common attachment of --mode and --attachment; false with the
/// usage error in `error`.
bool readAttachmentOptions(const Options &options, AttachmentMode *mode, QString *commonPath, QString *error)
{
    const QString name = options.value("--mode"_L1).value_or(u"none"_s);
    const std::optional<AttachmentMode> named = attachmentModeNamed(name);
    if (!named) {
        *error = u"--mode must be none, common, client or named, not "_s + name;
        return false;
    }
    if (options.has("--attachment"_L1) && *named != AttachmentMode::Common) {
        *error = u"--attachment is only used with --mode common"_s;
        return false;
    }
    *mode = *named;
    *commonPath = options.value("--attachment"_L1).value_or(QString());
    return true;
}

/// The document names of --documents, or the saved ones, in named mode; false with the usage error
/// in `error`.
bool readDocumentPatterns(const Options &options, const AppSettings &settings, AttachmentMode mode,
                          QString *patterns, QString *error)
{
    if (options.has("--documents"_L1) && mode != AttachmentMode::Named) {
        *error = u"--documents is only used with --mode named"_s;
        return false;
    }
    if (mode != AttachmentMode::Named)
        return true;
    *patterns = options.value("--documents"_L1).value_or(settings.DocumentPatterns);
    *error = documentPatternsProblem(*patterns);
    return error->isEmpty();
}

/// The field separator of --delimiter, or the saved one; false with the usage error in `error`.
bool readDelimiter(const Options &options, const AppSettings &settings, char *delimiter, QString *error)
{
    const QString name = options.value("--delimiter"_L1).value_or(settings.CSVDelimiter);
    const std::optional<char> separator = csvSeparatorNamed(name);
    if (!separator) {
        *error = u"--delimiter must be \",\", \";\" or tab, not "_s + name;
        return false;
    }
    *delimiter = *separator;
    return true;
}

/// The client ids of --clients, each once, in the order given (none without it); false with the
/// usage error in `error`.
bool readChosenClients(const Options &options, QStringList *ids, QString *error)
{
    const std::optional<QString> value = options.value("--clients"_L1);
    if (!value)
        return true;
    for (const QString &id : value->split(u',')) {
        const QString trimmed = id.trimmed();
        if (!trimmed.isEmpty() && !ids->contains(trimmed))
            ids->append(trimmed);
    }
    if (ids->isEmpty()) {
        *error = u"--clients needs the ids of the clients to go to, separated by commas"_s;
        return false;
    }
    return true;
}

// --- run ------------------------------------------------------------------------------------

/// The run's request from its options; false with the usage error in `error`.
bool readRunOptions(const Options &options, RunRequest &request, QString *error)
{
    request.csvPath = options.value("--csv"_L1).value_or(QString());
    request.print = options.has("--print"_L1);
    request.includeUnknown = options.has("--include-unknown"_L1);
    request.retryFailed = options.has("--retry-failed"_L1);
    request.resendBounced = options.has("--resend-bounced"_L1);
    request.sendAgain = options.has("--send-again"_L1);
    request.header = options.has("--header"_L1);
    const bool resume = options.has("--resume"_L1);
    const bool noResume = options.has("--no-resume"_L1);
    if (request.csvPath.isEmpty())
        *error = u"run needs --csv FILE, the client CSV file"_s;
    else if (options.has("--body"_L1) && options.has("--body-file"_L1))
        *error = u"give either --body or --body-file, not both"_s;
    else if (request.includeUnknown && !resume)
        *error = u"--include-unknown is only used with --resume"_s;
    else if (request.retryFailed && (resume || noResume))
        *error = u"--retry-failed takes neither --resume nor --no-resume"_s;
    else if (request.resendBounced && (request.retryFailed || resume || noResume))
        *error = u"--resend-bounced takes neither --retry-failed, --resume nor --no-resume"_s;
    if (!error->isEmpty())
        return false;
    // --yes answers the confirmation only: skipping clients, or sending to them a second time, is
    // never decided for the user.
    request.resume = resume                    ? ResumeChoice::Resume
                     : noResume                ? ResumeChoice::StartAfresh
                     : options.has("--yes"_L1) ? ResumeChoice::Refuse
                                               : ResumeChoice::Ask;
    // Nor is sending messages with a hole where a field of the client's line was meant to be.
    request.emptyFields = options.has("--allow-empty-fields"_L1)  ? EmptyFieldChoice::Send
                          : options.has("--skip-empty-fields"_L1) ? EmptyFieldChoice::Skip
                          : options.has("--yes"_L1)               ? EmptyFieldChoice::Refuse
                                                                  : EmptyFieldChoice::Ask;
    return true;
}


int exitStatusOf(const BatchRun &run)
{
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

/// The stored setting a command names.
const StoredSetting *lookUpSetting(const QString &name)
{
    // "SMTPServer" is what people type; the stored name keeps its historical spelling.
    if (name.compare("SMTPServer"_L1, Qt::CaseInsensitive) == 0)
        return findStoredSetting(u"SMPTServer");
    return findStoredSetting(name);
}

/// Shows the sign-in page with the desktop's own opener.
class DesktopBrowser final : public BrowserOpener
{
public:
    bool openUrl(const QUrl &url) override
    {
        return QProcess::startDetached(u"xdg-open"_s, {url.toString(QUrl::FullyEncoded)});
    }
};

/// The commands over one set of services and streams.
class CommandLine
{
public:
    CommandLine(CliServices &services, CliConsole &streams) : m_services(services), m_console(streams) {}

    int run(QStringList args)
    {
        const QString command = args.isEmpty() ? QString() : args.takeFirst();
        if (command == "--help"_L1 || command == "-h"_L1 || command == "help"_L1 || args.contains("--help"_L1)) {
            writeOut(QString::fromUtf8(kHelp) + helpFolderLine());
            return Ok;
        }
        if (command == "--version"_L1) {
            writeOut(appTitle() + u' ' + appVersion() + u'\n');
            return Ok;
        }
        // Encoded attachment copies that a crashed run left behind.
        AttachmentCache::removeLeftovers(m_services.dataFolder);
        if (command == "run"_L1)
            return runCommand(args);
        if (command == "check"_L1)
            return checkCommand(args);
        if (command == "preview"_L1)
            return previewCommand(args);
        if (command == "test-email"_L1)
            return testEmailCommand(args);
        if (command == "config"_L1)
            return configCommand(args);
        if (command == "sign-in"_L1)
            return signInCommand(args);
        if (command == "sign-out"_L1)
            return signOutCommand(args);
        if (command == "bounces"_L1)
            return bouncesCommand(args);
        return usageError(u"unknown command "_s + command);
    }

private:
    void writeOut(const QString &text) { m_console.out(text); }
    void writeErr(const QString &text) { m_console.err(text); }

    int usageError(const QString &message)
    {
        writeErr(u"quorvale: "_s + message + u"\nTry \"quorvale --help\".\n"_s);
        return NotStarted;
    }

    AppSettings loadSettings()
    {
        AppSettings settings;
        settings.DataFolder = m_services.dataFolder;
        LoadSettings(m_services.store, settings);
        return settings;
    }

    /// "Simple" is plain SMTP: one line on standard error says so whenever a login goes with it.
    void warnAboutLoginInClear(const AppSettings &settings)
    {
        if (settings.AuthType == 0 && !settings.UserName.isEmpty())
            writeErr(u"quorvale: warning: the authentication type is Simple (AuthType 0): the user name and "
                     "password go to the server unencrypted.\n"_s);
    }

    bool readRunBody(const Options &options, const AppSettings &settings, QString &body, int *status)
    {
        const std::optional<QString> text = options.value("--body"_L1);
        const std::optional<QString> path = options.value("--body-file"_L1);
        if (!text && !path) {
            QString error;
            if (readBodyFile(settings.DataFolder, body, &error))
                return true;
            writeErr(u"quorvale: the saved body cannot be read: "_s + error + u'\n');
            *status = NotStarted;
            return false;
        }
        if (text) {
            body = *text;
        } else {
            QFile file(*path);
            if (!file.open(QIODevice::ReadOnly)) {
                *status = usageError(u"the body file cannot be read: "_s + *path + u" ("_s + file.errorString() + u')');
                return false;
            }
            body = QString::fromUtf8(file.readAll());
        }
        // The window's body has CR LF line breaks, and so must the saved body file it reads back.
        body.replace(u"\r\n"_s, u"\n"_s);
        body.replace(u'\n', u"\r\n"_s);
        return true;
    }

    /// The message of --subject, --body and --body-file, or the saved one. False with the exit status
    /// in `status` when the body cannot be read or both body options were given.
    bool readMessage(const Options &options, const AppSettings &settings, QString *subject, QString *body, int *status)
    {
        if (options.has("--body"_L1) && options.has("--body-file"_L1)) {
            *status = usageError(u"give either --body or --body-file, not both"_s);
            return false;
        }
        *subject = options.value("--subject"_L1).value_or(settings.SubjectLine);
        return readRunBody(options, settings, *body, status);
    }

    /// The formatted body of --html-file (empty without it) and the folder its pictures are found
    /// in. False with the exit status in `status` when it cannot be read or goes with --body or
    /// --body-file.
    bool readHtmlOption(const Options &options, QString *html, QString *folder, int *status)
    {
        const std::optional<QString> path = options.value("--html-file"_L1);
        if (!path)
            return true;
        if (options.has("--body"_L1) || options.has("--body-file"_L1)) {
            *status = usageError(u"give either --html-file or --body / --body-file, not both"_s);
            return false;
        }
        QString error;
        if (!QFileInfo(*path).isFile()) {
            *status = usageError(u"the HTML file cannot be read: "_s + *path);
            return false;
        }
        if (!readHtmlFile(*path, *html, &error)) {
            *status = usageError(error);
            return false;
        }
        if (html->trimmed().isEmpty()) {
            *status = usageError(u"the HTML file is empty: "_s + *path);
            return false;
        }
        *folder = QFileInfo(*path).absolutePath();
        return true;
    }

    /// The signature set up in the data folder, into `request`. False with the exit status in
    /// `status` when it cannot be read.
    bool readSignature(const AppSettings &settings, PreviewRequest &request, int *status)
    {
        QString error;
        if (!readHtmlFile(signatureFilePath(settings.DataFolder), request.signature, &error)) {
            writeErr(u"quorvale: "_s + error + u'\n');
            *status = NotStarted;
            return false;
        }
        request.signatureFolder = settings.DataFolder;
        return true;
    }

    int runCommand(const QStringList &args)
    {
        Options options;
        RunRequest request;
        RunControl control;
        AttachmentMode mode = AttachmentMode::None;
        QString commonPath;
        QString error;
        if (!options.parse(args, Run, u"run"_s, &error) || !readRunOptions(options, request, &error) ||
            !readAttachmentOptions(options, &mode, &commonPath, &error) ||
            !readChosenClients(options, &request.clients, &error))
            return usageError(error);
        control.setAttachmentMode(mode);
        control.setCommonAttachmentPath(commonPath);

        AppSettings settings = loadSettings();
        if (!readDelimiter(options, settings, &request.delimiter, &error) ||
            !readDocumentPatterns(options, settings, mode, &request.documentPatterns, &error))
            return usageError(error);
        fillKeptPassword(settings, *m_services.account);
        int status = NotStarted;
        if (!readMessage(options, settings, &request.subject, &request.body, &status) ||
            !readHtmlOption(options, &request.html, &request.htmlFolder, &status))
            return status;

        warnAboutLoginInClear(settings);
        StdoutLog log(m_console);
        ConsolePrompter prompter(m_console, options.has("--yes"_L1));
        ConsoleObserver observer(m_console);
        BatchRun run(RunDependencies{m_services.store, log, prompter, m_services.mailer, m_services.printer,
                                     m_services.clock, control, &observer, [&settings] { return settings; },
                                     ownProgramFiles(m_services.store.filePath(), settings.DataFolder),
                                     m_services.sentCopier});
        // The question warns of messages larger than the server takes: it is asked first.
        request.serverSizeLimit = serverSizeLimit(m_services.mailer, settings);
        if (run.prepare(request)) {
            if (m_services.watchAbort)
                m_services.watchAbort(control.abort());
            run.execute();
            writeErr(runTallyLine(run.tally()) + u'\n');
        } else if (run.alreadySent() && options.has("--yes"_L1) && !request.sendAgain) {
            writeErr(u"quorvale: give --send-again to send this mailing to every client once more.\n"_s);
        } else if (run.earlierRunUnfinished() && request.resume == ResumeChoice::Refuse) {
            writeErr(u"quorvale: give --resume to skip the clients the earlier run sent to, or --no-resume to "
                     "go over every client again.\n"_s);
        }
        return exitStatusOf(run);
    }

    // --- check --------------------------------------------------------------------------------

    int checkCommand(const QStringList &args)
    {
        Options options;
        CheckRequest request;
        QString error;
        if (!options.parse(args, Check, u"check"_s, &error))
            return usageError(error);
        request.csvPath = options.value("--csv"_L1).value_or(QString());
        request.print = options.has("--print"_L1);
        request.header = options.has("--header"_L1);
        if (request.csvPath.isEmpty())
            return usageError(u"check needs --csv FILE, the client CSV file"_s);
        if (!readAttachmentOptions(options, &request.mode, &request.commonPath, &error) ||
            !readChosenClients(options, &request.clients, &error))
            return usageError(error);
        const AppSettings settings = loadSettings();
        if (!readDelimiter(options, settings, &request.delimiter, &error) ||
            !readDocumentPatterns(options, settings, request.mode, &request.documentPatterns, &error))
            return usageError(error);
        if (options.has("--force"_L1) && !options.has("--save"_L1))
            return usageError(u"--force is only used with --save"_s);
        // The message as a run would send it, for the fields of each client's line it uses.
        int status = NotStarted;
        QString htmlFolder;
        if (!readMessage(options, settings, &request.subject, &request.body, &status) ||
            !readHtmlOption(options, &request.body, &htmlFolder, &status))
            return status;
        request.programFiles = ownProgramFiles(m_services.store.filePath(), settings.DataFolder);
        // A message larger than the server takes is flagged: the server is asked first.
        Mailer &mailer = m_services.mailer;
        request.serverSizeLimit = [&mailer, &settings] { return serverSizeLimit(mailer, settings); };

        platform::ignoreBrokenPipe();
        CheckReport report = checkClientList(request);
        if (!report.error.isEmpty()) {
            writeErr(report.error + u'\n');
            return NotStarted;
        }
        // An address that bounced and is still in the list is a problem of the list.
        QList<std::pair<QString, QString>> clients;
        for (const CheckRow &row : report.rows)
            clients.append({row.clientId, row.address});
        report.problems += bouncedAddressesIn(runJournalFolder(settings.DataFolder), clients);
        QString out = checkSummary(report).join(u'\n') + u"\n\n"_s;
        for (const CheckRow &row : report.rows) {
            out += (row.flags ? u"! "_s : u"  "_s) + QString::number(row.lineNumber) + u'\t' + row.clientId + u'\t' +
                   row.address + u'\t' + checkActionText(row);
            if (row.flags)
                out += u'\t' + checkFlagsText(row);
            out += u'\n';
        }
        writeOut(out);
        if (const std::optional<QString> save = options.value("--save"_L1)) {
            // Nothing is asked here: an existing file is replaced only when --force says so.
            SaveRefusal refusal = SaveRefusal::None;
            const ExistingFile existing = options.has("--force"_L1) ? ExistingFile::Replace : ExistingFile::Keep;
            if (!saveCheckCsv(report, *save, existing, &error, &refusal)) {
                writeErr(u"quorvale: the check could not be saved to "_s + *save + u" ("_s + error + u")"_s +
                         (refusal == SaveRefusal::Exists ? u"; give --force to replace it"_s : QString()) + u'\n');
                return NotStarted;
            }
        }
        return report.flaggedCount() > 0 || !report.problems.isEmpty() ? Failed : Ok;
    }

    // --- preview --------------------------------------------------------------------------------

    /// "Send to me": the client's message, to `address` instead of the client.
    int sendPreview(const MessagePreview &shown, const QString &address, AppSettings settings)
    {
        fillKeptPassword(settings, *m_services.account);
        if (!isMailServerComplete(settings)) {
            writeErr(incompleteSetupMessage(settings) + u'\n');
            return NotStarted;
        }
        warnAboutLoginInClear(settings);
        const SendResult result = sendPreviewTo(m_services.mailer, shown, address, settings);
        if (!result.sent()) {
            writeErr(u"quorvale: not sent: "_s + result.errorText + u'\n');
            return result.status == SendStatus::NotAttempted ? NotStarted : Failed;
        }
        writeOut(u"Sent to "_s + address.trimmed() + u'\n');
        return Ok;
    }

    int previewCommand(const QStringList &args)
    {
        Options options;
        PreviewRequest request;
        QString error;
        if (!options.parse(args, Preview, u"preview"_s, &error) ||
            !readAttachmentOptions(options, &request.mode, &request.commonPath, &error) ||
            !readChosenClients(options, &request.clients, &error))
            return usageError(error);
        request.csvPath = options.value("--csv"_L1).value_or(QString());
        request.header = options.has("--header"_L1);
        const std::optional<QString> clientId = options.value("--client"_L1);
        const std::optional<QString> lineText = options.value("--line"_L1);
        if (request.csvPath.isEmpty())
            return usageError(u"preview needs --csv FILE, the client CSV file"_s);
        if (!clientId && !lineText)
            return usageError(u"preview needs --client ID or --line N, the client whose message to show"_s);
        bool lineIsNumber = false;
        const qint64 line = lineText ? lineText->toLongLong(&lineIsNumber) : 0;
        if (lineText && (!lineIsNumber || line < 1))
            return usageError(u"--line must be a line number from 1 up, not "_s + *lineText);

        const AppSettings settings = loadSettings();
        if (!readDelimiter(options, settings, &request.delimiter, &error) ||
            !readDocumentPatterns(options, settings, request.mode, &request.documentPatterns, &error))
            return usageError(error);
        request.sender = settings.EmailFrom;
        request.senderName = settings.EmailFromName;
        request.replyTo = settings.ReplyTo;
        request.programFiles = ownProgramFiles(m_services.store.filePath(), settings.DataFolder);
        int status = NotStarted;
        QString html;
        if (!readMessage(options, settings, &request.subject, &request.body, &status) ||
            !readHtmlOption(options, &html, &request.htmlFolder, &status) || !readSignature(settings, request, &status))
            return status;
        if (!html.isEmpty()) {
            request.formatted = true;
            request.body = html;
        }

        platform::ignoreBrokenPipe();
        MailingPreview mailing;
        if (!mailing.load(request, &error)) {
            writeErr(error + u'\n');
            return NotStarted;
        }
        const qsizetype row = clientId ? mailing.rowOfClient(*clientId) : mailing.rowOfLine(line);
        if (row < 0) {
            const QString which =
                clientId ? u"no client with the ID \"%1\""_s.arg(*clientId) : u"no client on line %1"_s.arg(line);
            writeErr(u"quorvale: "_s + which + u" in "_s + request.csvPath + u'\n');
            return NotStarted;
        }
        const std::optional<QString> sendTo = options.value("--send-to"_L1);
        // What is shown says when the server would not take the message: it is asked first.
        if (!sendTo)
            mailing.setServerSizeLimit(serverSizeLimit(m_services.mailer, settings));
        const MessagePreview shown = mailing.preview(row);
        if (sendTo)
            return sendPreview(shown, *sendTo, settings);

        QString body = messagePlainText(shown.message);
        body.replace(u"\r\n"_s, u"\n"_s);
        if (!body.isEmpty() && !body.endsWith(u'\n'))
            body += u'\n';
        // The sender's name and the Reply-To, as a send takes them from the settings, when set.
        const QString name = settings.EmailFromName.trimmed();
        const QString from =
            name.isEmpty() ? shown.message.EmailFrom : u"%1 <%2>"_s.arg(name, shown.message.EmailFrom);
        const QString replyTo = settings.ReplyTo.isEmpty() ? QString() : u"\nReply-To: "_s + settings.ReplyTo;
        writeOut(u"From: "_s + from + replyTo + u"\nTo: "_s + shown.message.RecipientAddress + u"\nSubject: "_s +
                 shown.message.SubjectLine + u"\nMessage-ID: "_s + QString::fromLatin1(shown.message.MessageId) +
                 u" (a new one for each run)\n\n"_s + body + u"Attachment: "_s + shown.attachmentText() + u'\n');
        if (!shown.problem.isEmpty())
            writeErr(u"quorvale: a run would not send this message: "_s + shown.problem + u'\n');
        return Ok;
    }

    // --- test-email -----------------------------------------------------------------------------

    int testEmailCommand(const QStringList &args)
    {
        if (args.size() > 1)
            return usageError(u"test-email takes one address"_s);
        const QString address = args.value(0);
        AppSettings settings = loadSettings();
        fillKeptPassword(settings, *m_services.account);
        if (!isMailServerComplete(settings)) {
            writeErr(incompleteSetupMessage(settings) + u'\n');
            return NotStarted;
        }
        if (address.isEmpty()) {
            writeErr(u"You need enter a send email address for testing.\n"_s);
            return NotStarted;
        }

        warnAboutLoginInClear(settings);
        StdoutLog log(m_console);
        log.LogStatus(u"Testing Email..."_s);
        const MailMessage message{address, QString(), u"Test subject line text"_s, u"Test email body text"_s};
        SendCallbacks callbacks;
        callbacks.keepSentMessage = settings.SentCopy == 1 && m_services.sentCopier;
        const SendResult result = SendMail(m_services.mailer, message, settings, callbacks);
        if (result.sent() && settings.SendMethod == "queue"_L1)
            log.LogStatus(u"The test message is queued on this computer; its mail server delivers it from there."_s);
        bool copied = true;
        if (result.sent() && callbacks.keepSentMessage) {
            // With the copy on, the test also puts its message in the Sent folder.
            const SentCopyResult copy = m_services.sentCopier->copy(result.sentMessage, settings);
            copied = copy.ok();
            if (!copy.note.isEmpty() && copy.ok())
                log.LogStatus(copy.note);
            log.LogStatus(copy.ok() ? u"The copy in the Sent folder was made."_s : copy.error);
        }
        if (!result.sent() || !copied) {
            if (!result.sent())
                log.LogStatus(result.errorText);
            log.LogStatus(u"Email test bad or had problems!"_s);
        }
        log.LogStatus(u"Email testing complete"_s);
        return result.sent() && copied ? Ok : Failed;
    }

    int unknownSetting(const QString &name)
    {
        QStringList names;
        for (const StoredSetting &setting : settingsTable())
            names.append(setting.name);
        return usageError(u"unknown setting "_s + name + u"; the settings are "_s + names.join(u", "_s));
    }

    int configCommand(const QStringList &args)
    {
        const QString action = args.value(0);
        if (action == "show"_L1 && args.size() == 1) {
            const AppSettings settings = loadSettings();
            SignInAccount &account = *m_services.account;
            SecretPlaces &secrets = account.secrets();
            for (const StoredSetting &setting : settingsTable()) {
                QString value = settingText(settings, setting);
                if (setting.masked && !value.isEmpty())
                    value = u"********"_s;
                if (setting.key == SettingKey(&AppSettings::Password) && value.isEmpty() && secrets.hasKeyring()) {
                    if (const QString where = secrets.storedLocation(kPasswordKey); !where.isEmpty())
                        value = u"******** (kept in "_s + where + u')';
                }
                writeOut(setting.name + u'=' + value + u'\n');
            }
            const QString token = secrets.storedLocation(kRefreshTokenKey);
            writeOut(u"OAuthRefreshToken="_s + (token.isEmpty() ? u"not stored"_s : u"stored in "_s + token) + u'\n');
            if (const QString notice = account.storeNotice(); !notice.isEmpty())
                writeErr(u"quorvale: "_s + notice + u'\n');
            return Ok;
        }
        if (action == "get"_L1 && args.size() == 2) {
            const StoredSetting *setting = lookUpSetting(args.at(1));
            if (!setting)
                return unknownSetting(args.at(1));
            AppSettings settings = loadSettings();
            if (setting->key == SettingKey(&AppSettings::Password)) {
                fillKeptPassword(settings, *m_services.account);
            }
            writeOut(settingText(settings, *setting) + u'\n');
            return Ok;
        }
        if (action == "set"_L1 && args.size() == 3) {
            const StoredSetting *setting = lookUpSetting(args.at(1));
            if (!setting)
                return unknownSetting(args.at(1));
            QString value = args.at(2);
            if (value == "-"_L1) {
                value = m_console.readAll();
                // One line end closes the value; it is not part of it.
                if (value.endsWith(u'\n'))
                    value.chop(1);
                if (value.endsWith(u'\r'))
                    value.chop(1);
            }
            if (const QString problem = settingTextProblem(*setting, value); !problem.isEmpty()) {
                // The value is named, except a password, which never goes to the terminal.
                const QString what = setting->type == SettingType::Password
                                         ? QString(setting->name)
                                         : setting->name + u" cannot be \""_s + value + u'"';
                writeErr(u"quorvale: "_s + what + u": "_s + problem + u" Nothing was saved.\n"_s);
                return NotStarted;
            }
            QString error;
            if (!saveSetting(m_services.store, setting->key, value, &error)) {
                writeErr(u"quorvale: "_s + setting->name + u" could not be saved: "_s + error + u'\n');
                return Failed;
            }
            return Ok;
        }
        return usageError(u"config needs show, get NAME or set NAME VALUE"_s);
    }

    int signInCommand(const QStringList &args)
    {
        bool browser = true;
        for (const QString &arg : args) {
            if (arg != "--no-browser"_L1)
                return usageError(u"unknown option for sign-in: "_s + arg);
            browser = false;
        }
        const AppSettings settings = loadSettings();
        QString error;
        const std::optional<OAuthProvider> provider = resolveOAuthProvider(mailServerFrom(settings).oauth, &error);
        if (!provider) {
            writeErr(error + u'\n');
            return Failed;
        }
        if (settings.SignInMethod != "oauth"_L1)
            writeErr(u"quorvale: note: the sign-in method is \"%1\"; messages are sent with this sign-in once it is "
                     "\"oauth\" (quorvale config set SignInMethod oauth).\n"_s.arg(settings.SignInMethod));
        SignInAccount &account = *m_services.account;
        if (const QString notice = account.storeNotice(); !notice.isEmpty())
            writeErr(u"quorvale: "_s + notice + u'\n');

        OAuthSignIn signIn(*provider);
        signIn.setLoginHint(settings.UserName);
        signIn.setCaBundle(account.caBundle());
        if (!signIn.start(&error)) {
            writeErr(error + u'\n');
            return Failed;
        }
        const QString address = signIn.authorizationUrl().toString(QUrl::FullyEncoded);
        writeErr(u"Open this address in a browser to sign in:\n"_s + address + u'\n');
        DesktopBrowser desktop;
        if (browser && m_services.hasDesktop)
            signIn.openBrowser(desktop);
        AbortRequest abort;
        if (m_services.watchAbort)
            m_services.watchAbort(abort);
        const TokenResult result = signIn.waitForFinished([&abort] { return abort.isRequested(); });
        if (!result.ok()) {
            writeErr(result.error + u'\n');
            return Failed;
        }
        if (!account.holder(*provider)->adopt(result.grant, &error)) {
            writeErr(u"The sign-in could not be saved: "_s + error + u'\n');
            return Failed;
        }
        writeOut(u"Signed in.\n"_s);
        return Ok;
    }

    int signOutCommand(const QStringList &args)
    {
        if (!args.isEmpty())
            return usageError(u"sign-out takes no arguments"_s);
        QString error;
        if (!m_services.account->signOut(&error)) {
            writeErr(u"quorvale: the sign-in could not be forgotten: "_s + error + u'\n');
            return Failed;
        }
        writeOut(u"Signed out.\n"_s);
        return Ok;
    }

    // --- bounces ---------------------------------------------------------------------------------

    int bouncesCommand(const QStringList &args)
    {
        QDate since = defaultBounceSince(m_services.clock.currentDateTime().date());
        for (qsizetype i = 0; i < args.size(); ++i) {
            QString value;
            if (args.at(i) == "--since"_L1 && i + 1 < args.size())
                value = args.at(++i);
            else if (args.at(i).startsWith("--since="_L1))
                value = args.at(i).mid(8);
            else if (args.at(i) == "--since"_L1)
                return usageError(u"--since needs a value"_s);
            else
                return usageError(u"unknown option for bounces: "_s + args.at(i));
            since = QDate::fromString(value, u"yyyy-MM-dd"_s);
            if (!since.isValid())
                return usageError(u"--since takes a date as YYYY-MM-DD, not "_s + value);
        }
        AppSettings settings = loadSettings();
        fillKeptPassword(settings, *m_services.account);
        std::unique_ptr<InboxReader> own;
        InboxReader *reader = m_services.inboxReader;
        if (!reader) {
            own = std::make_unique<ImapInboxReader>(m_services.account);
            reader = own.get();
        }
        AbortRequest abort;
        if (m_services.watchAbort)
            m_services.watchAbort(abort);
        const BounceCheckResult result =
            checkForBounces(*reader, settings, m_services.dataFolder, since, m_services.clock.currentDateTime(),
                            [&abort] { return abort.isRequested(); });
        if (!result.problem.isEmpty())
            writeErr(u"quorvale: a run journal was passed over: "_s + result.problem + u'\n');
        for (const BouncedClient &bounced : result.bounced)
            writeOut(bounced.statusLine() + u'\n');
        if (!result.ok()) {
            writeErr(u"quorvale: the mailbox could not be read: "_s + result.error + u'\n');
            return NotStarted;
        }
        writeOut(u"Bounces found - "_s + QString::number(result.bounced.size()) + u'\n');
        return result.bounced.isEmpty() ? Ok : Failed;
    }

    CliServices &m_services;
    Console m_console;
};

} // namespace

int runCommandLine(const QStringList &args, CliServices &services, CliConsole &streams)
{
    return CommandLine(services, streams).run(args);
}

int runCli(int argc, char **argv, ProgramServices &program)
{
    QCoreApplication app(argc, argv);
    CliServices services{*program.store,
                         *program.mailer,
                         program.printer,
                         program.clock,
                         program.account,
                         program.environment.dataFolder,
                         program.environment.hasDesktop,
                         abortOnTerminationSignals,
                         program.sentCopier.get(),
                         program.inboxReader.get()};
    QTextStream in(stdin);
    QTextStream out(stdout);
    QTextStream err(stderr);
    CliConsole streams{in, out, err};
    return runCommandLine(QCoreApplication::arguments().mid(1), services, streams);
}

} // namespace quorvale
