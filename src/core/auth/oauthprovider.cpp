#include "auth/oauthprovider.h"

#include "auth/providertable.h"
#include "oauthdefaults.h"

#include <QHostAddress>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

const QString kMicrosoft = u"microsoft"_s;
const QString kGoogle = u"google"_s;
const QString kCustom = u"custom"_s;

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
    QStringList names;
    for (const MailProviderFacts &provider : mailProviders())
        names.append(provider.name);
    return names;
}

QString endpointProblem(const QUrl &url, const QString &what)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return u"The %1 \"%2\" is not a complete web address."_s.arg(what, url.toString());
    if (!url.userInfo().isEmpty() || url.hasFragment())
        return u"The %1 \"%2\" may not contain a user name, password or \"#\"."_s.arg(
            what, url.toString(QUrl::RemoveUserInfo));
    const QString scheme = url.scheme().toLower();
    if (scheme == u"https")
        return {};
    if (scheme == u"http" && QHostAddress(url.host()).isLoopback())
        return {};
    return u"The %1 \"%2\" must start with https://, so that the sign-in is never sent unencrypted."_s.arg(
        what, url.toString());
}

std::optional<OAuthProvider> resolveOAuthProvider(const OAuthChoice &choice, QString *error)
{
    const QString name = choice.provider.trimmed().toLower();
    OAuthProvider p;
    p.name = name;
    if (name == kMicrosoft) {
        const QString tenant = choice.tenant.trimmed().isEmpty() ? u"organizations"_s : choice.tenant.trimmed();
        // A tenant is a GUID, a domain name or one of the words "organizations", "common", "consumers";
        // it becomes a path segment of the address, so nothing else may get in.
        static const QRegularExpression tenantForm(u"^[A-Za-z0-9][A-Za-z0-9.-]{0,99}$"_s);
        if (!tenantForm.match(tenant).hasMatch()) {
            setError(error, u"The Microsoft 365 tenant \"%1\" is not valid: give the tenant's domain "
                            "name or ID, or leave it empty for \"organizations\"."_s.arg(tenant));
            return std::nullopt;
        }
        const MailProviderFacts &facts = *findMailProvider(kMicrosoft);
        p.authorizeUrl = QUrl(QString(facts.authorizeUrl).replace(u"{tenant}"_s, tenant));
        p.tokenUrl = QUrl(QString(facts.tokenUrl).replace(u"{tenant}"_s, tenant));
        p.scope = facts.scope;
        // The SMTP scope alone does not open the mailbox over IMAP.
        if (choice.imap && !facts.imapScope.isEmpty())
            p.scope += u' ' + QString(facts.imapScope);
        p.scopeOnRefresh = facts.scopeOnRefresh;
        p.clientId = orDefault(choice.clientId, QUORVALE_OAUTH_MICROSOFT_CLIENT_ID);
        // A public client presents no secret (the server refuses one); a secret typed for another
        // provider, in a box Setup no longer shows, is not sent.
        p.clientSecret = facts.usesClientSecret ? choice.clientSecret.trimmed() : QString();
    } else if (name == kGoogle) {
        const MailProviderFacts &facts = *findMailProvider(kGoogle);
        p.authorizeUrl = QUrl(facts.authorizeUrl);
        p.tokenUrl = QUrl(facts.tokenUrl);
        p.scope = facts.scope;
        p.scopeOnRefresh = facts.scopeOnRefresh;
        p.clientId = orDefault(choice.clientId, QUORVALE_OAUTH_GOOGLE_CLIENT_ID);
        // The build's secret belongs to the build's client only.
        p.clientSecret = choice.clientId.trimmed().isEmpty()
                             ? orDefault(choice.clientSecret, QUORVALE_OAUTH_GOOGLE_CLIENT_SECRET)
                             : choice.clientSecret.trimmed();
        // Google hands out a refresh token only for offline access. Consent is never forced: the
        // user (or the administrator, for the organisation) is asked only when Google needs to.
        p.extraAuthorizeParameters = {{u"access_type"_s, u"offline"_s}};
    } else if (name == kCustom) {
        p.authorizeUrl = QUrl(choice.authorizeUrl.trimmed(), QUrl::StrictMode);
        p.tokenUrl = QUrl(choice.tokenUrl.trimmed(), QUrl::StrictMode);
        p.scope = choice.scope.simplified();
        p.clientId = choice.clientId.trimmed();
        p.clientSecret = choice.clientSecret.trimmed();
        // Only a request for offline access promises a refresh token.
        p.refreshTokenRequired = p.scope.split(u' ').contains(u"offline_access"_s);
        for (const auto &[url, what] : {std::pair{p.authorizeUrl, u"Authorize URL"_s},
                                        std::pair{p.tokenUrl, u"Token URL"_s}}) {
            const QString problem = endpointProblem(url, what);
            if (!problem.isEmpty()) {
                setError(error, problem);
                return std::nullopt;
            }
        }
        if (p.scope.isEmpty()) {
            setError(error, u"No Scope is set for the Other sign-in: enter the permissions to ask the provider for."_s);
            return std::nullopt;
        }
    } else {
        setError(error, u"The sign-in provider \"%1\" is not known; use %2."_s.arg(choice.provider,
                                                                                   oauthProviderNames().join(u", "_s)));
        return std::nullopt;
    }
    if (p.clientId.isEmpty()) {
        const MailProviderFacts *facts = findMailProvider(name);
        setError(error, u"No Client ID is set for the %1 sign-in: enter the application (client) ID your "
                        "administrator registered for Quorvale."_s.arg(facts ? QString(facts->title) : name));
        return std::nullopt;
    }
    return p;
}

std::optional<SmtpPreset> smtpPresetFor(const QString &provider)
{
    const MailProviderFacts *facts = findMailProvider(provider);
    if (!facts || facts->smtpHost.isEmpty())
        return std::nullopt;
    return SmtpPreset{facts->smtpHost, facts->smtpPort, facts->authType == 1};
}

} // namespace quorvale
