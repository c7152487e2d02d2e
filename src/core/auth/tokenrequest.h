#pragma once

#include "auth/oauthprovider.h"
#include "auth/tokenreply.h"

#include <QString>

#include <chrono>
#include <functional>

namespace quorvale {

/// How long a token request may take, and how the caller stops it early.
struct TokenRequestOptions
{
    std::function<bool()> aborted; ///< polled while the request runs; true ends it as Cancelled
    std::chrono::milliseconds timeout{30000};
    QString caBundle{}; ///< a PEM file of certificates to trust instead of the system's; empty: the system's
};

/// Trades the authorization code for tokens (a form POST to the token endpoint with the PKCE
/// verifier). Blocking; safe to call from any thread.
TokenResult exchangeAuthorizationCode(const OAuthProvider &provider, const QString &code, const QString &verifier,
                                      const QString &redirectUri, const TokenRequestOptions &options = {});

/// Gets a new access token for a refresh token. A refused refresh ("invalid_grant") fails with
/// AuthFailure::SignInAgain and says "Sign in again". Blocking, needs no event loop; safe to call
/// from any thread.
TokenResult refreshAccessToken(const OAuthProvider &provider, const QString &refreshToken,
                               const TokenRequestOptions &options = {});

} // namespace quorvale
