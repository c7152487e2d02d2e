#pragma once

#include <QString>

namespace quorvale {

using namespace Qt::StringLiterals;

/// Every persisted setting plus the body text and the data folder. Field names follow the
/// settings value names they are stored under (see settingsstore.h for the table).
struct AppSettings
{
    QString EmailFrom;
    QString SMTPServer;  ///< stored as "SMPTServer"
    qint16 AuthType = 1; ///< 0 "Simple", 1 "SSL", -1 none chosen
    QString SSLport;     ///< as typed; converted when a message is sent
    QString UserName;
    QString Password; ///< plain; only the stored copy ("PW") is scrambled
    QString SubjectLine = u"Subject Line Text"_s;
    QString BodyText; ///< not stored as a setting; see the body file
    QString CSVpath;
    qint16 CSVHeader = 0;         ///< 1: the client file's first line holds column names
    QString AttachMode = u"none"_s; ///< the attachment mode of the last run: none, common or client
    QString AttachmentPath;         ///< the common attachment of the last run
    qint16 PrintDocuments = 0;      ///< 1: the last run printed the documents of clients without an address
    QString CSVDelimiter = u","_s; ///< what separates the client file's fields: ",", ";" or "tab"
    QString BodyFormat = u"plain"_s; ///< the window's body: plain (Body.txt) or html (Body.html)
    qint16 EnableSchedule = 0;    ///< scheduling is on only when exactly 1
    qint32 DelayBetweenSends = 1; ///< seconds
    qint32 GroupDelay = 5;        ///< minutes
    qint32 GroupSize = 100;       ///< clients
    QString DataFolder;           ///< holds Body.txt; not stored

    // Signing in to the mail server (see settingstable.cpp for the values each one takes).
    QString SignInMethod = u"password"_s;   ///< password, oauth, password-command or token-command
    QString OAuthProvider = u"microsoft"_s; ///< microsoft, google or custom
    QString OAuthClientId;                  ///< empty: the client the program was built with
    QString OAuthClientSecret;              ///< only for clients that have one (Google's desktop clients)
    QString OAuthTenant;                    ///< Microsoft: empty means "organizations"
    QString OAuthAuthorizeUrl;              ///< custom provider
    QString OAuthTokenUrl;                  ///< custom provider
    QString OAuthScope;                     ///< custom provider
    QString PasswordCommand;                ///< run before each send; its first output line is the secret

    // The mail provider's sending limits (0: none), which a run keeps to.
    qint32 DailyLimit = 0;  ///< messages per rolling 24 hours
    qint32 MinuteLimit = 0; ///< messages per minute
    // What every message says besides its sender address.
    QString EmailFromName; ///< the sender's name shown with EmailFrom; empty: the address alone
    QString ReplyTo;       ///< where replies go; empty: no Reply-To (replies go to EmailFrom)
    QString ArchiveCopyTo; ///< gets a blind copy of every client's message; empty: none
    /// Named mode: each client's documents by name, ";" between them, fields filled per client.
    QString DocumentPatterns;
    // A copy of every sent message in the mailbox's Sent folder, over IMAP with the mail login.
    qint16 SentCopy = 0;            ///< 1: each accepted message is appended to the Sent folder
    QString IMAPServer;             ///< the IMAP server's name
    QString IMAPPort = u"993"_s;    ///< 993: implicit TLS; any other port: STARTTLS, required
    QString SentFolder;             ///< empty: the folder the server marks \Sent, else "Sent"
    // How each message leaves: over SMTP to the server above, or handed to this computer's mail
    // queue (its sendmail program), which relays it.
    QString SendMethod = u"smtp"_s; ///< smtp or queue
};

} // namespace quorvale
