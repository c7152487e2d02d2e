#include "auth/oauthsignin.h"

#include "auth/secretmask.h"
#include "auth/tokenrequest.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// 32 random bytes from the system's generator as base64url: 43 characters, within what PKCE
/// allows for a verifier and far beyond guessing for a state.
QString randomWord()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challengeFor(const QString &verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Form-style query: every character but the unreserved ones escaped, so that "+" in a user name
// or client id is never read as a blank.
QByteArray queryItem(const QString &name, const QString &value)
{
    return QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
}

const QString kCloseWindow = u"You may close this window and return to Quorvale."_s;

} // namespace

OAuthSignIn::OAuthSignIn(OAuthProvider provider, QObject *parent)
    : QObject(parent), m_provider(std::move(provider)), m_cancelled(std::make_shared<std::atomic<bool>>(false))
{
}

OAuthSignIn::~OAuthSignIn()
{
    m_cancelled->store(true);
    if (m_exchangeThread)
        m_exchangeThread->wait(); // the token request notices the cancel within a second
}

void OAuthSignIn::setLoginHint(const QString &user)
{
    m_loginHint = user.trimmed();
}

void OAuthSignIn::setTimeout(std::chrono::milliseconds timeout)
{
    m_timeout = timeout;
}

bool OAuthSignIn::start(QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_receiver || m_finished)
        return fail(u"This sign-in has already been started."_s);
    for (const auto &[url, what] : {std::pair{m_provider.authorizeUrl, u"sign-in address"_s},
                                    std::pair{m_provider.tokenUrl, u"token address"_s}}) {
        const QString problem = endpointProblem(url, what);
        if (!problem.isEmpty())
            return fail(problem);
    }
    m_receiver =
        std::make_unique<LoopbackReceiver>([this](const RedirectRequest &request) { return receive(request); });
    QString listenError;
    if (!m_receiver->listen(&listenError)) {
        m_receiver.reset();
        return fail(listenError);
    }
    m_redirectUri = m_receiver->redirectUri().toString();
    m_state = randomWord();
    m_verifier = randomWord();

    QByteArray query = m_provider.authorizeUrl.query(QUrl::FullyEncoded).toLatin1();
    const auto add = [&query](const QString &name, const QString &value) {
        if (!query.isEmpty())
            query += '&';
        query += queryItem(name, value);
    };
    add(u"response_type"_s, u"code"_s);
    add(u"client_id"_s, m_provider.clientId);
    add(u"redirect_uri"_s, m_redirectUri);
    add(u"scope"_s, m_provider.scope);
    add(u"state"_s, m_state);
    add(u"code_challenge"_s, challengeFor(m_verifier));
    add(u"code_challenge_method"_s, u"S256"_s);
    for (const auto &[name, value] : std::as_const(m_provider.extraAuthorizeParameters))
        add(name, value);
    if (!m_loginHint.isEmpty())
        add(u"login_hint"_s, m_loginHint);
    m_authorizationUrl = m_provider.authorizeUrl;
    m_authorizationUrl.setQuery(QString::fromLatin1(query), QUrl::StrictMode);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        const qint64 seconds = std::chrono::ceil<std::chrono::seconds>(m_timeout).count();
        const bool minutes = seconds % 60 == 0;
        const qint64 count = minutes ? seconds / 60 : seconds;
        const QString limit =
            u"%1 %2%3"_s.arg(count).arg(minutes ? u"minute"_s : u"second"_s).arg(count == 1 ? QString() : u"s"_s);
        finish(TokenResult::failed(AuthFailure::TimedOut, u"No sign-in came back from the browser within "
                                                          "%1; nothing was signed in."_s.arg(limit)));
    });
    m_timer->start(m_timeout);
    return true;
}

QUrl OAuthSignIn::authorizationUrl() const
{
    return m_authorizationUrl;
}

bool OAuthSignIn::openBrowser(BrowserOpener &browser) const
{
    return m_authorizationUrl.isValid() && browser.openUrl(m_authorizationUrl);
}

void OAuthSignIn::cancel()
{
    m_cancelled->store(true);
    finish(TokenResult::failed(AuthFailure::Cancelled, u"The sign-in was cancelled."_s));
}

TokenResult OAuthSignIn::waitForFinished(const std::function<bool()> &aborted)
{
    if (!m_finished) {
        QEventLoop loop;
        connect(this, &OAuthSignIn::finished, &loop, &QEventLoop::quit);
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [this, &aborted] {
            if (aborted && aborted())
                cancel();
        });
        poll.start(100);
        if (!m_finished)
            loop.exec();
    }
    return m_result;
}

LoopbackReceiver::Answer OAuthSignIn::receive(const RedirectRequest &request)
{
    if (m_finished || m_exchangeThread)
        return {400, u"Sign-in already ended"_s, kCloseWindow, true};
    const int states = request.count(u"state"_s);
    const int codes = request.count(u"code"_s);
    const int errors = request.count(u"error"_s);
    if (states == 0 && codes == 0 && errors == 0)
        return {400, u"Not a sign-in answer"_s,
                u"This address only receives the answer to a sign-in started in Quorvale."_s, false};

    // Only the request this sign-in sent knows the state: anything else may be an answer forced on
    // the browser by someone else, and its code must never be used.
    if (states != 1 || request.value(u"state"_s) != m_state) {
        finish(TokenResult::failed(AuthFailure::Mismatch,
                                   u"The browser brought back an answer that does not belong to this "
                                   "sign-in, so it was refused and nothing was signed in. Sign in again."_s));
        return {400, u"Sign-in refused"_s,
                u"This answer does not belong to the sign-in Quorvale started, so it was refused. "_s + kCloseWindow,
                true};
    }
    if (errors > 0) {
        const TokenResult refused = providerRefusal(u"The sign-in was refused"_s, request.value(u"error"_s),
                                                    request.value(u"error_description"_s));
        finish(refused);
        return {200, u"Sign-in refused"_s, u"The provider said: %1. "_s.arg(refused.providerDetail) + kCloseWindow,
                true};
    }
    const QString code = request.value(u"code"_s);
    if (codes != 1 || code.isEmpty()) {
        finish(TokenResult::failed(AuthFailure::BadReply, u"The browser brought back a sign-in answer "
                                                          "without a usable code; nothing was signed in."_s));
        return {400, u"Sign-in failed"_s, kCloseWindow, true};
    }
    exchange(code);
    return {200, u"Quorvale received the sign-in"_s, kCloseWindow, true};
}

void OAuthSignIn::exchange(const QString &code)
{
    m_timer->stop();
    auto result = std::make_shared<TokenResult>();
    TokenRequestOptions options;
    options.aborted = [cancelled = m_cancelled] { return cancelled->load(); };
    options.caBundle = m_caBundle;
    m_exchangeThread.reset(QThread::create(
        [result, options, provider = m_provider, code, verifier = m_verifier, redirect = m_redirectUri] {
            *result = exchangeAuthorizationCode(provider, code, verifier, redirect, options);
            result->error = maskSecrets(result->error, {}, {code, verifier});
        }));
    connect(m_exchangeThread.get(), &QThread::finished, this, [this, result] { finish(*result); });
    m_exchangeThread->start();
}

void OAuthSignIn::finish(TokenResult result)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_timer)
        m_timer->stop();
    if (m_receiver)
        m_receiver->stop();
    m_result = std::move(result);
    // Signalled from the event loop, never from inside the receiver's or a timer's own call, so
    // that a receiver of finished() may delete this sign-in.
    QTimer::singleShot(0, this, [this] { Q_EMIT finished(m_result); });
}

} // namespace quorvale
