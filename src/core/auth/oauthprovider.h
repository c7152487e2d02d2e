#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace quorvale {

/// What the user chose for the OAuth2 sign-in, as the settings hold it ("OAuthProvider",
/// "OAuthTenant", "OAuthClientId", "OAuthClientSecret", "OAuthAuthorizeUrl", "OAuthTokenUrl",
/// "OAuthScope"). Empty values take the provider's defaults.
struct OAuthChoice
{
    QString provider; ///< "microsoft", "google" or "custom"
    QString tenant;
    QString clientId;
    QString clientSecret;
    QString authorizeUrl; ///< custom only
    QString tokenUrl;     ///< custom only
    QString scope;        ///< custom only
    bool imap = false;    ///< the mailbox is also read over IMAP (the Sent copy, bounces)
};

/// Everything the sign-in and the token refresh need to talk to one authorization server.
struct OAuthProvider
{
    QString name;
    QUrl authorizeUrl;
    QUrl tokenUrl;
    QString scope;
    QString clientId;
    QString clientSecret; ///< sent only when not empty
    /// The token endpoint must hand out a refresh token; a sign-in without one is refused.
    bool refreshTokenRequired = true;
    /// Repeat the scope when refreshing (the Microsoft identity platform wants it).
    bool scopeOnRefresh = true;
    /// Added to the authorization address as they stand.
    QList<QPair<QString, QString>> extraAuthorizeParameters;
};

/// The SMTP server that goes with a provider; the setup fills it in when the provider is chosen.
struct SmtpPreset
{
    QString host;
    int port = 587;
    bool startTls = true;
};

/// The provider names the settings accept, in the order the setup offers them.
QStringList oauthProviderNames();

/// The provider for `choice`, with its endpoints, scope and client registration (the build's default
/// client when the choice names none). Empty, with the reason in `error`, when the choice is unknown
/// or incomplete, a custom address is not https (or on the loopback address), or no client id is known.
std::optional<OAuthProvider> resolveOAuthProvider(const OAuthChoice &choice, QString *error);

/// The SMTP server, port and STARTTLS of a known provider; empty for "custom" and unknown names.
std::optional<SmtpPreset> smtpPresetFor(const QString &provider);

/// Why `url` may not carry a sign-in (`what` names it in the text), or empty when it may: only
/// https, or plain http to a literal loopback address, with a host and without user or fragment.
QString endpointProblem(const QUrl &url, const QString &what);

} // namespace quorvale
