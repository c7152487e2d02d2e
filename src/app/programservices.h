#pragma once

// The one place where the program reads its environment and builds the services that both front
// ends talk to. Everything below takes what it needs from here as arguments.

#include "mail/mailserver.h"
#include "run/clock.h"
#include "run/printer.h"

#include <QString>

#include <memory>

namespace quorvale {

class ImapInboxReader;
class ImapSentCopier;
class Mailer;
class QueueMailer;
class SettingsStore;
class SignInAccount;
class SmtpMailer;

/// What the program takes from its environment, read once where it starts.
struct ProgramEnvironment
{
    QString settingsPath; ///< $XDG_CONFIG_HOME/Quorvale/Quorvale.ini (default ~/.config/...)
    QString dataFolder;   ///< $XDG_DATA_HOME/Quorvale (default ~/.local/share/Quorvale)
    /// CURL_CA_BUNDLE: the CA file to trust instead of the system's; QUORVALE_IMPLICIT_TLS_PORT:
    /// the port on which "SSL" means implicit TLS instead of 465 (a test server's).
    MailerOptions mail;
    QString printCommand;    ///< QUORVALE_PRINT_COMMAND: the command that replaces `lp`
    bool hasDesktop = false; ///< DISPLAY or WAYLAND_DISPLAY is set: a web browser can be shown

    /// Reads this process's environment.
    static ProgramEnvironment read();
};

/// The services of the running program: the settings store, the sign-in with its secret store,
/// the mailer, the copier into the Sent folder, the printer, the clock and the data folder. Built once at start-up and handed to
/// the window or the command line; tests build fakes instead.
class ProgramServices
{
public:
    explicit ProgramServices(ProgramEnvironment environment);
    ~ProgramServices();
    ProgramServices(const ProgramServices &) = delete;
    ProgramServices &operator=(const ProgramServices &) = delete;

    const ProgramEnvironment environment;
    const std::unique_ptr<SettingsStore> store;
    const std::shared_ptr<SignInAccount> account;
    const std::unique_ptr<SmtpMailer> smtpMailer;
    const std::unique_ptr<QueueMailer> queueMailer;
    /// Sends each message the way "SendMethod" says: over SMTP, or to this computer's mail queue.
    const std::unique_ptr<Mailer> mailer;
    /// Puts each sent message into the Sent folder when "SentCopy" is 1.
    const std::unique_ptr<ImapSentCopier> sentCopier;
    /// Reads the INBOX for delivery reports.
    const std::unique_ptr<ImapInboxReader> inboxReader;
    CommandPrinter printer;
    SystemClock clock;
};

} // namespace quorvale
