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

} // namespace

TokenHolder::TokenHolder(OAuthProvider provider, SecretStore &store, QString key)
    : m_provider(std::move(provider)), m_store(store), m_key(std::move(key))
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
    return true;
}

TokenResult TokenHolder::accessToken(const TokenRequestOptions &options)
{
    QMutexLocker lock(&m_mutex);
    if (isFresh(m_accessToken, m_expiresAt, QDateTime::currentDateTimeUtc())) {
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
    TokenResult result = refreshAccessToken(m_provider, m_refreshToken, options);
    if (!result.ok()) {
        result.error = maskSecrets(result.error, {}, {m_refreshToken, m_accessToken});
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

bool TokenHolder::forget(QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (!m_store.remove(m_key, error))
        return false;
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
