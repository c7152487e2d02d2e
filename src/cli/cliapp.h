#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QTextStream;

namespace quorvale {

class AbortRequest;
class Clock;
class InboxReader;
class Mailer;
class Printer;
class ProgramServices;
class SentCopier;
class SettingsStore;
class SignInAccount;

/// What the commands talk to: the program's own services, or a test's fakes.
struct CliServices
{
    SettingsStore &store;
    Mailer &mailer; ///< one send in flight at a time is the mailer's own rule
    Printer &printer;
    Clock &clock;
    std::shared_ptr<SignInAccount> account; ///< the sign-in and the secrets it keeps; never empty
    QString dataFolder;                     ///< holds the body file and the run journals
    bool hasDesktop = false;                ///< sign-in may show the web browser
    /// Given the abort request of a run or a sign-in as it starts; the program makes Ctrl-C,
    /// SIGTERM and SIGHUP request it. Empty: nothing but the caller aborts.
    std::function<void(AbortRequest &)> watchAbort = {};
    /// Puts each sent message into the Sent folder when "SentCopy" is 1; null: no copies.
    SentCopier *sentCopier = nullptr;
    /// Reads the INBOX for delivery reports; null: one over IMAP with the account is made.
    InboxReader *inboxReader = nullptr;
};

/// The standard streams of a command: the process's own, or a test's buffers.
struct CliConsole
{
    QTextStream &in;
    QTextStream &out;
    QTextStream &err;
};

/// Runs one command (`run`, `check`, `preview`, `test-email`, `config`, `sign-in`, `sign-out`,
/// `--help`, `--version`: `args` without the program's name); returns its exit status.
int runCommandLine(const QStringList &args, CliServices &services, CliConsole &console);

/// The program's command line over `services`, on the process's standard streams; returns the
/// exit status.
int runCli(int argc, char **argv, ProgramServices &services);

} // namespace quorvale
