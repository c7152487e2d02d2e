#include "auth/tokenholder.h"

#include "auth/secretmask.h"
#include "auth/secretstore.h"

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

bool isFresh(const QString &accessToken, const QDateTime &expiresAt, const QDateTime &now)
{
    return !accessToken.isEmpty() && now.secsTo(expiresAt) >= TokenHolder::kRefreshMarginSeconds;
}

QString signedInKey(const QString &key)
{
    return key + u"-signed-in"_s;
}

/// Google ends every sign-in of an app whose consent screen is in "Testing" 7 days after it was
/// given; a refusal from then on is most likely that.
constexpr qint64 kGoogleTestingSeconds = 7 * 24 * 3600;
constexpr qint64 kAboutSeconds = 12 * 3600;

} // namespace

TokenHolder::TokenHolder(OAuthProvider provider, SecretStore &store, QString key, QString caBundle)
    : m_provider(std::move(provider)), m_store(store), m_key(std::move(key)), m_caBundle(std::move(caBundle))
{
}

bool TokenHolder::adopt(const TokenGrant &grant, QString *error)
{
    QMutexLocker lock(&m_mutex);
    // A sign-in without a refresh token must not leave an earlier one behind, which may belong to
    // another account.
    if (grant.refreshToken.isEmpty() ? !m_store.remove(m_key, error) : !m_store.write(m_key, grant.refreshToken, error))
        return false;
    if (!m_accessToken.isEmpty())
        m_retired << m_accessToken;
    if (!m_refreshToken.isEmpty() && m_refreshToken != grant.refreshToken)
        m_retired << m_refreshToken;
    m_accessToken = grant.accessToken;
    m_expiresAt = grant.expiresAt;
    m_refreshToken = grant.refreshToken;
    // Only to explain a refusal later: a store that cannot keep it changes nothing else.
    if (grant.refreshToken.isEmpty())
        m_store.remove(signedInKey(m_key), nullptr);
    else
        m_store.write(signedInKey(m_key), m_now().toUTC().toString(Qt::ISODate), nullptr);
    return true;
}

TokenResult TokenHolder::accessToken(const TokenRequestOptions &options)
{
    QMutexLocker lock(&m_mutex);
    if (isFresh(m_accessToken, m_expiresAt, m_now())) {
        TokenResult held;
        held.grant = {m_accessToken, m_refreshToken, m_expiresAt, {}};
        return held;
    }

    if (m_refreshToken.isEmpty()) {
        const SecretLookup saved = m_store.read(m_key);
        if (saved.status == SecretLookup::Status::Failed)
            return TokenResult::failed(AuthFailure::Setup, saved.error);
        if (saved.status == SecretLookup::Status::Missing)
            return TokenResult::failed(AuthFailure::SignInAgain, u"No sign-in is saved. Sign in again."_s);
        m_refreshToken = saved.secret;
    }
    TokenRequestOptions trusting = options;
    if (trusting.caBundle.isEmpty())
        trusting.caBundle = m_caBundle;
    TokenResult result = refreshAccessToken(m_provider, m_refreshToken, trusting);
    if (!result.ok()) {
        result.error = maskSecrets(result.error, {}, {m_refreshToken, m_accessToken});
        if (result.failure == AuthFailure::SignInAgain && m_provider.name == u"google") {
            const QDateTime signedIn = QDateTime::fromString(m_store.read(signedInKey(m_key)).secret, Qt::ISODate);
            if (signedIn.isValid() && signedIn.secsTo(m_now()) >= kGoogleTestingSeconds - kAboutSeconds)
                result.error +=
                    u" Google ends the sign-ins of an app whose consent screen is still in \"Testing\" 7 days after "
                    "they were given: the administrator who registered Quorvale sets its publishing status to \"In "
                    "production\" (Google Cloud console, APIs & Services > OAuth consent screen); then sign in again."_s;
        }
        return result;
    }
    if (!m_accessToken.isEmpty())
        m_retired << m_accessToken;
    m_accessToken = result.grant.accessToken;
    m_expiresAt = result.grant.expiresAt;
    // A new refresh token replaces the old one, which the provider may stop accepting soon. Should
    // the store fail to keep it, this session goes on with it and the stored one stays as it was.
    if (!result.grant.refreshToken.isEmpty() && result.grant.refreshToken != m_refreshToken) {
        m_store.write(m_key, result.grant.refreshToken, nullptr);
        m_retired << m_refreshToken;
        m_refreshToken = result.grant.refreshToken;
    }
    result.grant.refreshToken = m_refreshToken;
    return result;
}

void TokenHolder::invalidate()
{
    QMutexLocker lock(&m_mutex);
    if (!m_accessToken.isEmpty())
        m_retired << m_accessToken;
    m_accessToken.clear();
    m_expiresAt = {};
}

bool TokenHolder::needsRefresh(const QDateTime &now) const
{
    QMutexLocker lock(&m_mutex);
    return !isFresh(m_accessToken, m_expiresAt, now);
}

QDateTime TokenHolder::expiresAt() const
{
    QMutexLocker lock(&m_mutex);
    return m_expiresAt;
}

QStringList TokenHolder::secrets() const
{
    QMutexLocker lock(&m_mutex);
    QStringList all = m_retired;
    for (const QString &token : {m_accessToken, m_refreshToken}) {
        if (!token.isEmpty())
            all << token;
    }
    return all;
}

void TokenHolder::setClock(std::function<QDateTime()> now)
{
    QMutexLocker lock(&m_mutex);
    m_now = std::move(now);
}

bool TokenHolder::forget(QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (!m_store.remove(m_key, error))
        return false;
    m_store.remove(signedInKey(m_key), nullptr);
    for (const QString &token : {m_accessToken, m_refreshToken}) {
        if (!token.isEmpty())
            m_retired << token;
    }
    m_accessToken.clear();
    m_refreshToken.clear();
    m_expiresAt = {};
    return true;
}

} // namespace quorvale
