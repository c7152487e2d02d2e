#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace quorvale {

/// What a token endpoint granted. The access token lives in memory only; the refresh token is
/// what a secret store keeps.
struct TokenGrant
{
    QString accessToken;
    QString refreshToken; ///< empty when the reply carried none
    QDateTime expiresAt;  ///< UTC
    QString scope;        ///< as granted, when the server said
};

/// Why a sign-in or a token request did not give a token.
enum class AuthFailure
{
    None,
    Setup,       ///< the settings are incomplete or unsafe (no client id, an http address, ...)
    Network,     ///< the server could not be reached or the connection broke
    Refused,     ///< the provider answered with an OAuth error
    SignInAgain, ///< the saved sign-in is no longer accepted: only a new sign-in helps
    BadReply,    ///< the answer was not a token reply we can trust
    Mismatch,    ///< the browser brought back an answer to another sign-in request
    TimedOut,
    Cancelled,
};

/// A token, or why there is none. `error` is a complete sentence for the user and never contains a
/// token.
struct TokenResult
{
    TokenGrant grant;
    AuthFailure failure = AuthFailure::None;
    QString error;
    QString providerError;  ///< the OAuth "error" code, when the provider sent one ("invalid_grant", ...)
    QString providerDetail; ///< that code with the provider's description, ready to quote

    bool ok() const { return failure == AuthFailure::None; }
    static TokenResult failed(AuthFailure failure, const QString &error)
    {
        TokenResult r;
        r.failure = failure;
        r.error = error;
        return r;
    }
};

/// The provider's refusal: `code` and `description` (made printable) in providerError and
/// providerDetail, and the sentence `lead` + ": " + the detail + "." as the error.
TokenResult providerRefusal(const QString &lead, const QString &code, const QString &description);

/// Reads a token endpoint's answer (`httpStatus` and `body`), field by field: a JSON object; on
/// failure its "error" and "error_description"; on success "token_type" Bearer, "access_token",
/// "expires_in" and, when `refreshTokenRequired`, "refresh_token". Tokens must be printable ASCII
/// without blanks. `now` dates the expiry.
TokenResult parseTokenReply(int httpStatus, const QByteArray &body, bool refreshTokenRequired, const QDateTime &now);

/// `text` made safe to show: control characters removed, blanks collapsed, at most `maxLength` characters.
QString printableText(const QString &text, qsizetype maxLength = 300);

} // namespace quorvale
