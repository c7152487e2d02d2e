#pragma once

#include "mail/mailer.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace quorvale {

class SignInAccount;
class TokenHolder;

/// The secret one send logs in with, taken afresh for every send: the saved password, or the one
/// in the keyring; what the password or token command prints; an access token of the sign-in,
/// refreshed when it is about to expire.
struct SmtpLogin
{
    QString secret;
    bool bearer = false;                           ///< log in with AUTH XOAUTH2, `secret` being the access token
    QString error;                                 ///< why there is no secret; empty when there is one
    SendStatus failure = SendStatus::NotAttempted; ///< how the send ends when there is none
    bool ok() const { return error.isEmpty(); }
    static SmtpLogin with(const QString &secret, bool bearer = false)
    {
        SmtpLogin login;
        login.secret = secret;
        login.bearer = bearer;
        return login;
    }
};

/// Gets the login of one send to `server`. `account` (the program's sign-in) is used for the
/// OAuth2 sign-in and for a password kept in the keyring; it may be null for a server with a
/// saved password. Blocking (a command, a token request, the keyring): runs on the send's thread.
class SmtpLoginSource
{
public:
    /// `settingsFile` is where the server's password or token command was read from.
    SmtpLoginSource(const MailServer &server, SignInAccount *account, AbortPredicate aborted,
                    QString settingsFile = {});

    SmtpLogin first();
    /// Whether a second try may succeed after the server refused the login: only a token of the
    /// sign-in, which may have been revoked or replaced before its time, and only once.
    bool mayRetry() const;
    /// A fresh access token after a refusal.
    SmtpLogin retry();
    /// Every secret this send may have met, for maskSecrets().
    QStringList secrets() const;

private:
    SmtpLogin fromSignIn();

    const MailServer &m_server;
    SignInAccount *m_account;
    AbortPredicate m_aborted;
    QString m_settingsFile;
    std::shared_ptr<TokenHolder> m_holder;
    QStringList m_secrets;
    bool m_retried = false;
};

} // namespace quorvale
