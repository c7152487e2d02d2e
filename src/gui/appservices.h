#pragma once

#include <QString>

#include <memory>

namespace quorvale {

class Clock;
class InboxReader;
class Mailer;
class Printer;
class SentCopier;
class SettingsStore;
class SignInAccount;
class UserDialogs;

/// What the windows talk to. The application's start builds the real ones (guiapp.cpp), tests
/// and the benchmark pass fakes; windows never make their own. Each must outlive the windows.
struct AppServices
{
    SettingsStore &store;
    Mailer &mailer; ///< one send in flight at a time is the mailer's own rule
    Printer &printer;
    Clock &clock;
    UserDialogs &dialogs;
    QString dataFolder; ///< holds the body file and the run journals
    QString helpFolder; ///< the HTML help; empty: there is none
    /// The sign-in the mailer logs in with; empty: the window makes one of its own.
    std::shared_ptr<SignInAccount> account = {};
    /// Puts each sent message into the Sent folder when "SentCopy" is 1; null: no copies.
    SentCopier *sentCopier = nullptr;
    /// Reads the INBOX for delivery reports; null: the window makes one over IMAP.
    InboxReader *inboxReader = nullptr;
};

} // namespace quorvale
