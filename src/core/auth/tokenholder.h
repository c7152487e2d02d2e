#pragma once

#include "auth/oauthprovider.h"
#include "auth/tokenreply.h"
#include "auth/tokenrequest.h"

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

namespace quorvale {

using namespace Qt::StringLiterals;

class SecretStore;

/// The tokens of one signed-in account. The access token stays in memory only; the refresh token
/// lives in a secret store and is read from it when first needed. Every new access token comes
/// through one refresh path. Safe to share between threads; one refresh runs at a time. When the
/// sign-in was taken over is kept beside the refresh token, to explain a provider that ends it.
class TokenHolder
{
public:
    /// An access token with less than this left is refreshed before it is used.
    static constexpr qint64 kRefreshMarginSeconds = 5 * 60;

    /// `store` keeps the refresh token under `key` and must outlive the holder.
    /// Token requests trust the certificates of `caBundle` (a PEM file) when it is set.
    TokenHolder(OAuthProvider provider, SecretStore &store, QString key = u"oauth-refresh-token"_s,
                QString caBundle = {});

    /// Takes over a fresh sign-in: the refresh token goes to the store (replacing or, when the
    /// sign-in brought none, removing the one there), the access token stays here.
    bool adopt(const TokenGrant &grant, QString *error);
    /// A current access token: the one held while more than five minutes remain, otherwise a new
    /// one for the refresh token. Blocking (a token request); safe from any thread.
    TokenResult accessToken(const TokenRequestOptions &options = {});
    /// Drops the access token held, so that the next accessToken() refreshes: for a server that
    /// refused it although it had not expired.
    void invalidate();
    /// Whether accessToken() would ask the provider for a new token at `now`.
    bool needsRefresh(const QDateTime &now = QDateTime::currentDateTimeUtc()) const;
    /// When the access token held expires; invalid when none is held.
    QDateTime expiresAt() const;
    /// Every token this holder knows, for maskSecrets().
    QStringList secrets() const;
    /// Signs out: forgets the tokens here and in the store.
    bool forget(QString *error);
    /// Replaces the clock that dates the sign-in and the tokens (tests).
    void setClock(std::function<QDateTime()> now);

private:
    OAuthProvider m_provider;
    SecretStore &m_store;
    QString m_key;
    QString m_caBundle;
    std::function<QDateTime()> m_now = &QDateTime::currentDateTimeUtc;
    mutable QMutex m_mutex;
    QString m_accessToken;
    QDateTime m_expiresAt;
    QString m_refreshToken; ///< empty until read from the store or granted
    QStringList m_retired;  ///< tokens replaced during this session, still masked
};

} // namespace quorvale
