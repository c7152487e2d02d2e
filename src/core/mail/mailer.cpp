#include "mail/mailer.h"

#include "settings/settingstable.h"
#include "text/wordtable.h"

#include <QSysInfo>

#include <cctype>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr WordTable<MailServer::SignIn, 4> kSignInWords{{
    {MailServer::SignIn::Password, "password"_L1},
    {MailServer::SignIn::OAuth, "oauth"_L1},
    {MailServer::SignIn::PasswordCommand, "password-command"_L1},
    {MailServer::SignIn::TokenCommand, "token-command"_L1},
}};

} // namespace

QByteArray ehloDomain()
{
    const QByteArray name = QSysInfo::machineHostName().toLatin1();
    for (char c : name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'))
            return "localhost";
    }
    return name.isEmpty() ? QByteArray("localhost") : name;
}

MailServer mailServerFrom(const AppSettings &settings)
{
    MailServer server;
    server.method = settings.SendMethod == "queue"_L1 ? MailServer::Method::Queue : MailServer::Method::Smtp;
    server.host = settings.SMTPServer;
    server.user = settings.UserName;
    server.password = settings.Password;
    server.signIn = valueOf(kSignInWords, settings.SignInMethod).value_or(MailServer::SignIn::Password);
    server.secretCommand = settings.PasswordCommand;
    server.oauth = {settings.OAuthProvider,     settings.OAuthTenant,       settings.OAuthClientId,
                    settings.OAuthClientSecret, settings.OAuthAuthorizeUrl, settings.OAuthTokenUrl,
                    settings.OAuthScope};
    // The sign-in's token then also opens the mailbox for the Sent copy and the check for bounces.
    server.oauth.imap = settings.SentCopy == 1 || !settings.IMAPServer.trimmed().isEmpty();
    // Only "Simple" (0) and "SSL" (1) say how to reach the server. Anything else must never fall
    // back to plain SMTP with the login in clear: no send is attempted.
    if (settings.AuthType == 0 || settings.AuthType == 1) {
        server.security = MailServer::Security(settings.AuthType);
    } else {
        server.problem =
            u"The authentication type %1 is neither 0 (Simple) nor 1 (SSL); nothing was sent."_s.arg(settings.AuthType);
        return server;
    }
    if (const std::optional<qint32> port = smtpPortNumber(settings.SSLport))
        server.port = *port;
    else
        server.problem = u"The SMTP port \"%1\" is not a number from 1 to 65535."_s.arg(settings.SSLport.trimmed());
    return server;
}

SendResult SendMail(Mailer &mailer, MailMessage message, const AppSettings &settings, const SendCallbacks &callbacks)
{
    message.EmailFrom = settings.EmailFrom;
    message.EmailFromName = settings.EmailFromName;
    message.ReplyTo = settings.ReplyTo;
    return mailer.send(message, mailServerFrom(settings), callbacks);
}

} // namespace quorvale
