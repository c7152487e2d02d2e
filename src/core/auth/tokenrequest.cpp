#include "auth/tokenrequest.h"

#include "appinfo.h"

#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QPair>

#include <curl/curl.h>

#include <memory>
#include <mutex>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// A token reply is a few kilobytes; a server that sends more is not one to believe.
constexpr size_t kMaxReplyBytes = 1024 * 1024;

using Form = QList<QPair<QString, QString>>;

struct Transfer
{
    QByteArray body;
    bool tooLarge = false;
    const std::function<bool()> *aborted = nullptr;
};

size_t collect(char *data, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    const size_t bytes = size * count;
    if (transfer->body.size() + bytes > kMaxReplyBytes) {
        transfer->tooLarge = true;
        return 0;
    }
    transfer->body.append(data, qsizetype(bytes));
    return bytes;
}

int progress(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *transfer = static_cast<Transfer *>(userData);
    return (*transfer->aborted && (*transfer->aborted)()) ? 1 : 0;
}

QByteArray encodeForm(const Form &form)
{
    QByteArray out;
    for (const auto &[name, value] : form) {
        if (!out.isEmpty())
            out += '&';
        out += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    return out;
}

// Posts the form and reads the reply, as libcurl's blocking call on this thread: no event loop,
// nothing shared with other threads but libcurl's global state, set up once.
TokenResult postForm(const OAuthProvider &provider, const Form &form, bool refreshTokenRequired,
                     const TokenRequestOptions &options)
{
    const QString problem = endpointProblem(provider.tokenUrl, u"token address"_s);
    if (!problem.isEmpty())
        return TokenResult::failed(AuthFailure::Setup, problem);

    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return TokenResult::failed(AuthFailure::Network, u"The sign-in could not start its connection."_s);
    CURL *h = curl.get();

    const QByteArray url = provider.tokenUrl.toEncoded();
    const QByteArray body = encodeForm(form);
    const QByteArray userAgent = u"%1/%2"_s.arg(appTitle(), appVersion()).toUtf8();
    const QByteArray caBundle = QFile::encodeName(options.caBundle);
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(
        curl_slist_append(nullptr, "Accept: application/json"), &curl_slist_free_all);
    Transfer transfer;
    transfer.aborted = &options.aborted;
    char curlError[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https,http"); // endpointProblem allows http on loopback only
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.constData());
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(options.timeout.count()));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(options.timeout.count()));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    if (!caBundle.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caBundle.constData());
    // A proxy from the environment is for the outside world; a server on this machine is reached directly.
    if (QHostAddress(provider.tokenUrl.host()).isLoopback())
        curl_easy_setopt(h, CURLOPT_NOPROXY, "*");

    const CURLcode code = curl_easy_perform(h);
    const QString host = provider.tokenUrl.host();
    switch (code) {
    case CURLE_OK:
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        return TokenResult::failed(AuthFailure::Cancelled, u"The sign-in was cancelled."_s);
    case CURLE_OPERATION_TIMEDOUT:
        return TokenResult::failed(AuthFailure::TimedOut, u"The sign-in server %1 did not answer within %2 "
                                                          "seconds."_s.arg(host)
                                                              .arg((options.timeout.count() + 999) / 1000));
    case CURLE_WRITE_ERROR:
        if (transfer.tooLarge)
            return TokenResult::failed(AuthFailure::BadReply, u"The sign-in server %1 sent an answer far too "
                                                              "large for a token reply."_s.arg(host));
        [[fallthrough]];
    default: {
        const QString detail =
            curlError[0] ? QString::fromUtf8(curlError).trimmed() : QString::fromUtf8(curl_easy_strerror(code));
        return TokenResult::failed(AuthFailure::Network,
                                   u"The sign-in server %1 could not be reached (%2)."_s.arg(host, detail));
    }
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    return parseTokenReply(int(status), transfer.body, refreshTokenRequired, QDateTime::currentDateTimeUtc());
}

void addClient(Form &form, const OAuthProvider &provider)
{
    form.append({u"client_id"_s, provider.clientId});
    if (!provider.clientSecret.isEmpty())
        form.append({u"client_secret"_s, provider.clientSecret});
}

} // namespace

TokenResult exchangeAuthorizationCode(const OAuthProvider &provider, const QString &code, const QString &verifier,
                                      const QString &redirectUri, const TokenRequestOptions &options)
{
    Form form{{u"grant_type"_s, u"authorization_code"_s},
              {u"code"_s, code},
              {u"redirect_uri"_s, redirectUri},
              {u"code_verifier"_s, verifier}};
    addClient(form, provider);
    TokenResult result = postForm(provider, form, provider.refreshTokenRequired, options);
    // Google sends a refresh token only when the account first allows the app; a sign-in after one
    // whose token was lost (signed out here, another computer) brings none.
    if (result.failure == AuthFailure::BadReply && provider.name == u"google" &&
        result.error.contains(u"no refresh token"_s))
        result.error += u" Google sends one only the first time an account allows Quorvale: remove Quorvale's "
                        "access at https://myaccount.google.com/permissions, then sign in again."_s;
    return result;
}

TokenResult refreshAccessToken(const OAuthProvider &provider, const QString &refreshToken,
                               const TokenRequestOptions &options)
{
    if (refreshToken.isEmpty())
        return TokenResult::failed(AuthFailure::SignInAgain, u"No sign-in is saved. Sign in again."_s);
    Form form{{u"grant_type"_s, u"refresh_token"_s}, {u"refresh_token"_s, refreshToken}};
    if (provider.scopeOnRefresh)
        form.append({u"scope"_s, provider.scope});
    addClient(form, provider);
    // The reply may carry a new refresh token (the old one then stops working soon) or none.
    TokenResult result = postForm(provider, form, false, options);
    if (result.failure == AuthFailure::Refused && result.providerError == u"invalid_grant") {
        result.failure = AuthFailure::SignInAgain;
        result.error = u"The saved sign-in is no longer accepted (%1). Sign in again."_s.arg(result.providerDetail);
    }
    return result;
}

} // namespace quorvale
