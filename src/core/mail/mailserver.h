#pragma once

#include "auth/oauthprovider.h"
#include "settings/appsettings.h"

#include <QByteArray>
#include <QString>

namespace quorvale {

/// How a send reaches the mail server: one value for each send, taken from the settings of that
/// moment, so that a change saved in the setup dialog applies to the next send.
struct MailServer
{
    /// "SSL" (AuthType 1): implicit TLS on port 465, STARTTLS required on any other port. "Simple"
    /// (0): plain SMTP. Unset sends nothing: there is no plain-SMTP default to fall back to.
    enum class Security
    {
        Unset = -1,
        Plain = 0,
        Tls = 1
    };

    /// Over SMTP to `host`, or handed to this computer's mail queue (its sendmail program), which
    /// relays it and needs none of the fields below.
    enum class Method
    {
        Smtp,
        Queue
    };
    Method method = Method::Smtp;

    QString host;
    qint32 port = 0; ///< 1-65535
    Security security = Security::Unset;
    /// How the login gets its secret: the password as saved; an access token from the OAuth2
    /// sign-in (AUTH XOAUTH2); or what a command prints, used as the password or as an access token.
    enum class SignIn
    {
        Password,
        OAuth,
        PasswordCommand,
        TokenCommand
    };

    QString user; ///< empty: no login
    QString password;
    SignIn signIn = SignIn::Password;
    QString secretCommand; ///< the password or token command, as typed ("PasswordCommand")
    OAuthChoice oauth;     ///< with SignIn::OAuth
    /// How long to wait for the server (connecting, each reply, a stalled upload) before the send
    /// fails, so that a dead server fails a send well within a minute.
    int timeoutSeconds = 30;
    /// Why no message can be sent to this server as the settings describe it; empty when one
    /// can. A send to a server with a problem is not attempted.
    QString problem;
};

/// The server of `settings` ("SMPTServer", "SSLport", "AuthType", "UserName", "PW" and the sign-in
/// settings). An AuthType
/// other than 0 or 1, or an SSLport that is not a whole number from 1 to 65535 (blanks around it
/// ignored), gives a server with a problem.
MailServer mailServerFrom(const AppSettings &settings);

/// How this program reaches any mail server, fixed where the program starts: the certificates it
/// trusts and the port on which "SSL" means implicit TLS (STARTTLS is required on any other).
struct MailerOptions
{
    QString caBundle;          ///< a PEM file of certificates to trust instead of the system's; empty: the system's
    int implicitTlsPort = 465; ///< 1-65535
    /// The settings file that password and token commands come from: they are not run while others
    /// may change it. Empty: they come from no file.
    QString settingsFile;
};
/// The name this machine gives in EHLO, when it is a plain host name; "localhost" otherwise.
QByteArray ehloDomain();

} // namespace quorvale
