#include "auth/oauthprovider.h"

#include "oauthdefaults.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace quorvale {

namespace {

const QString kMicrosoft = QStringLiteral("microsoft");
const QString kGoogle = QStringLiteral("google");
const QString kCustom = QStringLiteral("custom");

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QString orDefault(const QString &value, const char *fallback)
{
    const QString trimmed = value.trimmed();
    return trimmed.isEmpty() ? QString::fromUtf8(fallback) : trimmed;
}

} // namespace

QStringList oauthProviderNames()
{
    return {kMicrosoft, kGoogle, kCustom};
}

QString endpointProblem(const QUrl &url, const QString &what)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return QStringLiteral("The %1 \"%2\" is not a complete web address.").arg(what, url.toString());
    if (!url.userInfo().isEmpty() || url.hasFragment())
        return QStringLiteral("The %1 \"%2\" may not contain a user name, password or \"#\".")
            .arg(what, url.toString(QUrl::RemoveUserInfo));
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https")
        return {};
    if (scheme == u"http" && QHostAddress(url.host()).isLoopback())
        return {};
    return QStringLiteral("The %1 \"%2\" must start with https://, so that the sign-in is never sent unencrypted.")
        .arg(what, url.toString());
}

std::optional<OAuthProvider> resolveOAuthProvider(const OAuthChoice &choice, QString *error)
{
    const QString name = choice.provider.trimmed().toLower();
    OAuthProvider p;
    p.name = name;
    if (name == kMicrosoft) {
        const QString tenant =
            choice.tenant.trimmed().isEmpty() ? QStringLiteral("organizations") : choice.tenant.trimmed();
        // A tenant is a GUID, a domain name or one of the words "organizations", "common", "consumers";
        // it becomes a path segment of the address, so nothing else may get in.
        static const QRegularExpression tenantForm(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9.-]{0,99}$"));
        if (!tenantForm.match(tenant).hasMatch()) {
            setError(error, QStringLiteral("The Microsoft 365 tenant \"%1\" is not valid: give the tenant's domain "
                                           "name or ID, or leave it empty for \"organizations\".")
                                .arg(tenant));
            return std::nullopt;
        }
        const QString base =
            QStringLiteral("https://login.microsoftonline.com/") + tenant + QStringLiteral("/oauth2/v2.0/");
        p.authorizeUrl = QUrl(base + QStringLiteral("authorize"));
        p.tokenUrl = QUrl(base + QStringLiteral("token"));
        p.scope = QStringLiteral("https://outlook.office.com/SMTP.Send offline_access");
        p.clientId = orDefault(choice.clientId, QUORVALE_OAUTH_MICROSOFT_CLIENT_ID);
        p.clientSecret = choice.clientSecret.trimmed();
    } else if (name == kGoogle) {
        p.authorizeUrl = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
        p.tokenUrl = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
        p.scope = QStringLiteral("https://mail.google.com/");
        p.clientId = orDefault(choice.clientId, QUORVALE_OAUTH_GOOGLE_CLIENT_ID);
        // The build's secret belongs to the build's client only.
        p.clientSecret = choice.clientId.trimmed().isEmpty()
                             ? orDefault(choice.clientSecret, QUORVALE_OAUTH_GOOGLE_CLIENT_SECRET)
                             : choice.clientSecret.trimmed();
        p.scopeOnRefresh = false;
        // Google hands out a refresh token only for offline access, and on a repeated sign-in only
        // when the user is asked to consent again.
        p.extraAuthorizeParameters = {{QStringLiteral("access_type"), QStringLiteral("offline")},
                                      {QStringLiteral("prompt"), QStringLiteral("consent")}};
    } else if (name == kCustom) {
        p.authorizeUrl = QUrl(choice.authorizeUrl.trimmed(), QUrl::StrictMode);
        p.tokenUrl = QUrl(choice.tokenUrl.trimmed(), QUrl::StrictMode);
        p.scope = choice.scope.simplified();
        p.clientId = choice.clientId.trimmed();
        p.clientSecret = choice.clientSecret.trimmed();
        // Only a request for offline access promises a refresh token.
        p.refreshTokenRequired = p.scope.split(u' ').contains(QStringLiteral("offline_access"));
        for (const auto &[url, what] :
             {std::pair{p.authorizeUrl, QStringLiteral("sign-in address (OAuthAuthorizeUrl)")},
              std::pair{p.tokenUrl, QStringLiteral("token address (OAuthTokenUrl)")}}) {
            const QString problem = endpointProblem(url, what);
            if (!problem.isEmpty()) {
                setError(error, problem);
                return std::nullopt;
            }
        }
        if (p.scope.isEmpty()) {
            setError(error, QStringLiteral("No scope (OAuthScope) is set for the custom sign-in."));
            return std::nullopt;
        }
    } else {
        setError(error, QStringLiteral("The sign-in provider \"%1\" is not known; use %2.")
                            .arg(choice.provider, oauthProviderNames().join(QStringLiteral(", "))));
        return std::nullopt;
    }
    if (p.clientId.isEmpty()) {
        setError(error, QStringLiteral("No client ID (OAuthClientId) is set for the %1 sign-in: enter the ID of the "
                                       "application your administrator registered.")
                            .arg(name));
        return std::nullopt;
    }
    return p;
}

std::optional<SmtpPreset> smtpPresetFor(const QString &provider)
{
    const QString name = provider.trimmed().toLower();
    if (name == kMicrosoft)
        return SmtpPreset{QStringLiteral("smtp.office365.com"), 587, true};
    if (name == kGoogle)
        return SmtpPreset{QStringLiteral("smtp.gmail.com"), 587, true};
    return std::nullopt;
}

} // namespace quorvale
