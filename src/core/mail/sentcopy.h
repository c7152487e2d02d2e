#pragma once

// A copy of each sent message in the mailbox's Sent folder, so that the practice's mail program
// shows what went to whom. A copy that fails never makes the send fail.

#include "mail/imapclient.h"
#include "mail/mailer.h"
#include "settings/appsettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace quorvale {

class SignInAccount;

/// The message content as it went out in SMTP, back as the message: the dot-stuffing undone and
/// the end-of-data line removed.
QByteArray smtpContentUnstuffed(QByteArrayView wire);

/// The IMAP server set in Setup with the mail login, as a send gets it (the password, a command's
/// output or the sign-in's token); IMAP is always encrypted. Empty, with `*error` saying why, when
/// no login could be had.
std::optional<ImapServer> imapServerOf(const AppSettings &settings, SignInAccount *account, const QByteArray &caBundle,
                                       int implicitTlsPort, const AbortPredicate &aborted, QString *error);

/// How a copy ended.
struct SentCopyResult
{
    QString error; ///< why the copy failed, in the user's words; empty when it was made
    QString note;  ///< something to say once (the folder "Sent" was created); empty otherwise
    bool alreadyThere = false; ///< copyOnce(): the folder held the message already; nothing was appended
    bool ok() const { return error.isEmpty(); }
};

/// Puts a sent message into the Sent folder.
class SentCopier
{
public:
    virtual ~SentCopier() = default;
    /// Appends `message` (its exact bytes) to the Sent folder of the mailbox `settings` describe.
    virtual SentCopyResult copy(const QByteArray &message, const AppSettings &settings,
                                const AbortPredicate &aborted = {}) = 0;
    /// As copy(), unless the Sent folder already holds a message with the Message-ID `messageId`
    /// (a copy appended just before the program was stopped): then nothing is appended and the
    /// result says `alreadyThere`.
    virtual SentCopyResult copyOnce(const QByteArray &message, const QByteArray &messageId,
                                    const AppSettings &settings, const AbortPredicate &aborted = {}) = 0;
};

/// Why the copy cannot be made with `settings` (no IMAP server, a port that is not one); empty
/// when it can.
QString sentCopyProblem(const AppSettings &settings);

/// The real SentCopier: IMAP over libcurl with the mail login. It finds the Sent folder once per
/// server and user: "SentFolder" when set; else the folder the server marks \Sent; else "Sent",
/// created when missing (said once).
class ImapSentCopier final : public SentCopier
{
public:
    /// `caBundle`: the CA file to verify servers with (empty: the system's). `implicitTlsPort`:
    /// the port on which IMAP is implicit TLS; STARTTLS is required on any other.
    explicit ImapSentCopier(std::shared_ptr<SignInAccount> account = {}, QByteArray caBundle = {},
                            int implicitTlsPort = 993);

    SentCopyResult copy(const QByteArray &message, const AppSettings &settings,
                        const AbortPredicate &aborted = {}) override;
    SentCopyResult copyOnce(const QByteArray &message, const QByteArray &messageId, const AppSettings &settings,
                            const AbortPredicate &aborted = {}) override;

private:
    /// Appends `message`, first searching for `messageId` when it is not empty.
    SentCopyResult append(const QByteArray &message, const QByteArray &messageId, const AppSettings &settings,
                          const AbortPredicate &aborted);
    QString findFolder(ImapClient &client, const AppSettings &settings, QString *note);

    std::shared_ptr<SignInAccount> m_account;
    QByteArray m_caBundle;
    int m_implicitTlsPort;
    std::mutex m_mutex; ///< one copy at a time: a run's and a test's may come from two threads
    QString m_foundFor; ///< the server and user m_folder was found for
    QString m_folder;
};

} // namespace quorvale
