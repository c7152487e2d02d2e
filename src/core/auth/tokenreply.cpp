#include "auth/tokenreply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// Access tokens from the large providers are a few kilobytes; anything far beyond is no token.
constexpr qsizetype kMaxTokenLength = 16 * 1024;
/// Ten years: no server hands out an access token for longer, and it keeps the arithmetic safe.
constexpr qint64 kMaxLifetimeSeconds = 10LL * 365 * 24 * 3600;

TokenResult badReply(const QString &why)
{
    return TokenResult::failed(AuthFailure::BadReply, u"The sign-in server's answer cannot be used: %1."_s.arg(why));
}

// RFC 6750 limits a bearer token to letters, digits and "-._~+/=", but providers differ; every
// visible ASCII character is accepted, blanks and control characters never (they would break the
// SMTP login line and the masking of error texts).
bool isTokenText(const QString &token)
{
    if (token.isEmpty() || token.size() > kMaxTokenLength)
        return false;
    for (QChar c : token) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

// RFC 6749 makes expires_in a number; some servers send it as a string of digits.
qint64 lifetimeSeconds(const QJsonValue &value)
{
    if (value.isDouble()) {
        const double seconds = value.toDouble();
        if (std::isfinite(seconds) && seconds == std::floor(seconds) && seconds > 0 && seconds <= kMaxLifetimeSeconds)
            return qint64(seconds);
        return -1;
    }
    if (value.isString()) {
        const QString text = value.toString();
        bool ok = false;
        const qint64 seconds = text.toLongLong(&ok);
        if (ok && !text.isEmpty() && text.at(0).isDigit() && seconds > 0 && seconds <= kMaxLifetimeSeconds)
            return seconds;
    }
    return -1;
}

} // namespace

QString printableText(const QString &text, qsizetype maxLength)
{
    QString out;
    for (QChar c : text) {
        if (c.isSpace())
            out += u' ';
        else if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format &&
                 c.category() != QChar::Other_Surrogate && c.category() != QChar::Other_NotAssigned)
            out += c;
    }
    out = out.simplified();
    if (out.size() > maxLength)
        out = out.left(maxLength - 3) + u"..."_s;
    return out;
}

TokenResult providerRefusal(const QString &lead, const QString &code, const QString &description)
{
    TokenResult refused = TokenResult::failed(AuthFailure::Refused, {});
    refused.providerError = printableText(code, 80);
    const QString said = printableText(description);
    refused.providerDetail = said.isEmpty() ? refused.providerError : refused.providerError + u" ("_s + said + u')';
    refused.error = lead + u": "_s + refused.providerDetail + u'.';
    return refused;
}

TokenResult parseTokenReply(int httpStatus, const QByteArray &body, bool refreshTokenRequired, const QDateTime &now)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (httpStatus != 200)
            return TokenResult::failed(AuthFailure::BadReply,
                                       u"The sign-in server answered with HTTP status %1."_s.arg(httpStatus));
        return badReply(u"it is not a JSON object"_s);
    }
    const QJsonObject reply = document.object();

    const QJsonValue error = reply.value(u"error");
    if (!error.isUndefined() || httpStatus != 200) {
        const QString code = printableText(error.toString(), 80);
        if (code.isEmpty())
            return TokenResult::failed(AuthFailure::BadReply,
                                       u"The sign-in server answered with an error it did not name "
                                       "(HTTP status %1)."_s.arg(httpStatus));
        return providerRefusal(u"The sign-in server refused the request"_s, code,
                               reply.value(u"error_description").toString());
    }

    if (reply.value(u"token_type").toString().compare(u"Bearer", Qt::CaseInsensitive) != 0)
        return badReply(u"its token type is not \"Bearer\""_s);
    TokenGrant grant;
    grant.accessToken = reply.value(u"access_token").toString();
    if (!isTokenText(grant.accessToken))
        return badReply(u"it holds no usable access token"_s);
    const qint64 lifetime = lifetimeSeconds(reply.value(u"expires_in"));
    if (lifetime < 0)
        return badReply(u"it does not say how long the access token lasts"_s);
    grant.expiresAt = now.toUTC().addSecs(lifetime);
    const QString refresh = reply.value(u"refresh_token").toString();
    if (!refresh.isEmpty()) {
        if (!isTokenText(refresh))
            return badReply(u"its refresh token is not usable"_s);
        grant.refreshToken = refresh;
    } else if (refreshTokenRequired) {
        return badReply(u"it holds no refresh token, so the sign-in would not last"_s);
    }
    grant.scope = printableText(reply.value(u"scope").toString(), 1000);
    TokenResult result;
    result.grant = grant;
    return result;
}

} // namespace quorvale
