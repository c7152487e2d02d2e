#include "mail/smtplogin.h"

#include "auth/secretcommand.h"
#include "auth/signinaccount.h"
#include "text/shellwords.h"

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr std::chrono::seconds kSecretTimeout{30};

SmtpLogin failedLogin(const QString &error, SendStatus failure = SendStatus::NotAttempted)
{
    SmtpLogin login;
    login.error = error;
    login.failure = failure;
    return login;
}

} // namespace

SmtpLoginSource::SmtpLoginSource(const MailServer &server, SignInAccount *account, AbortPredicate aborted,
                                 QString settingsFile)
    : m_server(server), m_account(account), m_aborted(std::move(aborted)), m_settingsFile(std::move(settingsFile))
{
    if (!server.password.isEmpty())
        m_secrets << server.password;
}

SmtpLogin SmtpLoginSource::first()
{
    using SignIn = MailServer::SignIn;
    const bool token = m_server.signIn == SignIn::OAuth || m_server.signIn == SignIn::TokenCommand;
    // A token opens the mailbox until it expires, whoever holds it: it never goes over plain SMTP.
    if (token && m_server.security != MailServer::Security::Tls)
        return failedLogin(u"A sign-in token is only sent over an encrypted connection: choose SSL in Setup. "
                           "Nothing was sent."_s);
    if (m_server.user.isEmpty())
        return {};

    switch (m_server.signIn) {
    case SignIn::Password: {
        if (!m_server.password.isEmpty() || !m_account)
            return SmtpLogin::with(m_server.password);
        // No password in the settings: it may have been moved to the keyring.
        const SecretLookup kept = m_account->secrets().read(kPasswordKey);
        if (kept.status == SecretLookup::Status::Failed)
            return failedLogin(u"The password could not be read: "_s + kept.error);
        m_secrets << kept.secret;
        return SmtpLogin::with(kept.secret);
    }
    case SignIn::PasswordCommand:
    case SignIn::TokenCommand: {
        const SecretCommandResult result =
            runSecretCommand(splitShellWords(m_server.secretCommand),
                             token ? SecretKind::AccessToken : SecretKind::Password, kSecretTimeout, m_aborted,
                             m_settingsFile);
        if (!result.ok() && m_aborted && m_aborted())
            return failedLogin(u"The send was aborted."_s, SendStatus::NotSentAborted);
        if (!result.ok())
            return failedLogin(result.error + u" Nothing was sent."_s);
        m_secrets << result.secret;
        return SmtpLogin::with(result.secret, token);
    }
    case SignIn::OAuth:
        return fromSignIn();
    }
    return {};
}

SmtpLogin SmtpLoginSource::fromSignIn()
{
    if (!m_holder) {
        QString error;
        const std::optional<OAuthProvider> provider = resolveOAuthProvider(m_server.oauth, &error);
        if (!provider)
            return failedLogin(error + u" Nothing was sent."_s);
        if (!m_account)
            return failedLogin(u"The sign-in is not available here."_s);
        m_holder = m_account->holder(*provider);
    }
    const TokenResult result = m_holder->accessToken({m_aborted, kSecretTimeout});
    m_secrets << m_holder->secrets();
    switch (result.failure) {
    case AuthFailure::None:
        return SmtpLogin::with(result.grant.accessToken, true);
    case AuthFailure::Cancelled:
        return failedLogin(u"The send was aborted."_s, SendStatus::NotSentAborted);
    case AuthFailure::Network:
    case AuthFailure::TimedOut:
    case AuthFailure::BadReply:
        // The sign-in may answer again for the next client.
        return failedLogin(u"No sign-in token could be had: "_s + result.error, SendStatus::Refused);
    case AuthFailure::SignInAgain:
    case AuthFailure::Setup:
    case AuthFailure::Refused:
    case AuthFailure::Mismatch:
        break;
    }
    return failedLogin(result.error);
}

bool SmtpLoginSource::mayRetry() const
{
    return m_holder && !m_retried;
}

SmtpLogin SmtpLoginSource::retry()
{
    m_retried = true;
    m_holder->invalidate();
    return fromSignIn();
}

QStringList SmtpLoginSource::secrets() const
{
    QStringList all = m_secrets;
    if (m_account && m_server.signIn == MailServer::SignIn::OAuth)
        all += m_account->knownTokens();
    return all;
}

} // namespace quorvale
