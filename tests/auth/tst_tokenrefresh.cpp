// Keeping a sign-in alive: the token refresh against the fake authorization server (real HTTP),
// the token holder's one refresh path and its store, and the masking of tokens in any text.

#include "auth/secretmask.h"
#include "auth/secretstore.h"
#include "auth/tokenholder.h"
#include "auth/tokenrequest.h"
#include "support/oauthfixture.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::OAuthServer;

Q_DECLARE_METATYPE(quorvale::AuthFailure)

namespace {

int tokenRequests(const OAuthServer &server)
{
    int n = 0;
    for (const QJsonObject &request : server.requests())
        n += request.value(u"path").toString() == u"/token" ? 1 : 0;
    return n;
}

QJsonObject lastForm(const OAuthServer &server)
{
    return server.requests().last().value(u"params").toObject();
}

/// Every file under `folder` whose content contains `text`.
QStringList filesContaining(const QString &folder, const QString &text)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(text.toUtf8()))
            found << file.fileName();
    }
    return found;
}

} // namespace

class TestTokenRefresh : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void refreshReplies_data();
    void refreshReplies();
    void holderRefreshesOnlyNearTheEnd_data();
    void holderRefreshesOnlyNearTheEnd();
    void holderKeepsOnlyTheRefreshToken();
    void refusedRefreshSaysSignInAgain();
    void refusalAWeekAfterAGoogleSignInIsExplained_data();
    void refusalAWeekAfterAGoogleSignInIsExplained();
    void googleSignInWithoutRefreshTokenSaysWhy();
    void slowServerIsCancelledOrTimesOut();
    void masksEveryFormOfASecret_data();
    void masksEveryFormOfASecret();

private:
    std::unique_ptr<OAuthServer> m_server;
    TokenGrant m_grant;
};

void TestTokenRefresh::initTestCase()
{
    m_server = std::make_unique<OAuthServer>();
    QVERIFY(m_server->isRunning());
    const TokenResult signedIn = m_server->signIn(m_server->provider());
    QVERIFY2(signedIn.ok(), qPrintable(signedIn.error));
    m_grant = signedIn.grant;
}

void TestTokenRefresh::refreshReplies_data()
{
    QTest::addColumn<int>("status"); // 0: the server's own answer
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<AuthFailure>("failure");
    QTest::addColumn<QString>("errorPart");

    const QByteArray good = R"({"token_type":"bearer","access_token":"at-fine","expires_in":"3599"})";
    QTest::newRow("a new token") << 0 << QByteArray() << AuthFailure::None << QString();
    QTest::newRow("expires_in as text, token type in lower case") << 200 << good << AuthFailure::None << QString();
    QTest::newRow("refused: invalid_grant")
        << 400 << QByteArray(R"({"error":"invalid_grant","error_description":"AADSTS700082: expired"})")
        << AuthFailure::SignInAgain << u"(invalid_grant (AADSTS700082: expired)). Sign in again."_s;
    QTest::newRow("refused: another error") << 401 << QByteArray(R"({"error":"invalid_client"})")
                                            << AuthFailure::Refused << u"refused the request: invalid_client."_s;
    QTest::newRow("an error page") << 500 << QByteArray("<html>Internal error</html>") << AuthFailure::BadReply
                                   << u"HTTP status 500"_s;
    QTest::newRow("an error that names nothing")
        << 400 << QByteArray(R"({"error":{"code":7}})") << AuthFailure::BadReply << u"did not name (HTTP status 400)"_s;
    QTest::newRow("not JSON") << 200 << QByteArray("access_token=x") << AuthFailure::BadReply << u"not a JSON object"_s;
    QTest::newRow("a JSON list") << 200 << QByteArray("[1,2]") << AuthFailure::BadReply << u"not a JSON object"_s;
    QTest::newRow("another token type") << 200
                                        << QByteArray(R"({"token_type":"mac","access_token":"at-x","expires_in":3600})")
                                        << AuthFailure::BadReply << u"not \"Bearer\""_s;
    QTest::newRow("no access token") << 200 << QByteArray(R"({"token_type":"Bearer","expires_in":3600})")
                                     << AuthFailure::BadReply << u"no usable access token"_s;
    QTest::newRow("an access token with a blank")
        << 200 << QByteArray(R"({"token_type":"Bearer","access_token":"at x","expires_in":3600})")
        << AuthFailure::BadReply << u"no usable access token"_s;
    QTest::newRow("an access token with a line break")
        << 200 << QByteArray(R"({"token_type":"Bearer","access_token":"at\r\nMAIL FROM:<x>","expires_in":3600})")
        << AuthFailure::BadReply << u"no usable access token"_s;
    QTest::newRow("no lifetime") << 200 << QByteArray(R"({"token_type":"Bearer","access_token":"at-x"})")
                                 << AuthFailure::BadReply << u"how long"_s;
    QTest::newRow("a negative lifetime") << 200
                                         << QByteArray(
                                                R"({"token_type":"Bearer","access_token":"at-x","expires_in":-5})")
                                         << AuthFailure::BadReply << u"how long"_s;
    QTest::newRow("a fractional lifetime")
        << 200 << QByteArray(R"({"token_type":"Bearer","access_token":"at-x","expires_in":0.5})")
        << AuthFailure::BadReply << u"how long"_s;
    QTest::newRow("a refresh token that is no token")
        << 200 << QByteArray(R"({"token_type":"Bearer","access_token":"at-x","expires_in":60,"refresh_token":"a b"})")
        << AuthFailure::BadReply << u"refresh token is not usable"_s;
    QTest::newRow("far too large") << 200 << QByteArray(2 * 1024 * 1024, 'x') << AuthFailure::BadReply
                                   << u"far too large"_s;
}

void TestTokenRefresh::refreshReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(AuthFailure, failure);
    QFETCH(QString, errorPart);

    if (status == 0)
        m_server->setFault({});
    else
        m_server->setTokenReply(status, body);
    const TokenResult result = refreshAccessToken(m_server->provider(), m_grant.refreshToken);
    m_server->setFault({});
    QCOMPARE(result.failure, failure);
    QVERIFY2(result.error.contains(errorPart), qPrintable(result.error));
    if (result.ok()) {
        QVERIFY(result.grant.expiresAt > QDateTime::currentDateTimeUtc().addSecs(3500));
        QVERIFY(result.grant.refreshToken.isEmpty()); // no new one was sent
    }
    // The request itself: a refresh grant for this client, with the scope repeated.
    const QJsonObject form = lastForm(*m_server);
    QCOMPARE(form.value(u"grant_type").toString(), u"refresh_token"_s);
    QCOMPARE(form.value(u"refresh_token").toString(), m_grant.refreshToken);
    QCOMPARE(form.value(u"scope").toString(), u"test.send offline_access"_s);
    QVERIFY(!result.error.contains(m_grant.refreshToken));
}

void TestTokenRefresh::holderRefreshesOnlyNearTheEnd_data()
{
    QTest::addColumn<int>("lifeSeconds");
    QTest::addColumn<bool>("refreshesAgain");

    QTest::newRow("an hour left") << 3600 << false;
    QTest::newRow("five minutes and a little left") << 320 << false;
    QTest::newRow("less than five minutes left") << 290 << true;
}

void TestTokenRefresh::holderRefreshesOnlyNearTheEnd()
{
    QFETCH(int, lifeSeconds);
    QFETCH(bool, refreshesAgain);

    QTemporaryDir dir;
    FileSecretStore store(dir.path());
    TokenHolder holder(m_server->provider(), store);
    QVERIFY(holder.adopt({u"at-stale"_s, m_grant.refreshToken, QDateTime::currentDateTimeUtc(), {}}, nullptr));
    QVERIFY(holder.needsRefresh());

    m_server->setAccessLife(lifeSeconds);
    const int before = tokenRequests(*m_server);
    const TokenResult first = holder.accessToken();
    QVERIFY2(first.ok(), qPrintable(first.error));
    QCOMPARE(first.grant.accessToken, m_server->currentAccessToken());
    QCOMPARE(holder.needsRefresh(), refreshesAgain);
    const TokenResult second = holder.accessToken();
    QVERIFY(second.ok());
    QCOMPARE(tokenRequests(*m_server), before + (refreshesAgain ? 2 : 1));
    QCOMPARE(second.grant.accessToken == first.grant.accessToken, !refreshesAgain);

    // A server that refused the token although it had not run out: the next use refreshes.
    holder.invalidate();
    QVERIFY(holder.needsRefresh());
    QVERIFY(holder.accessToken().grant.accessToken != second.grant.accessToken);
    m_server->setAccessLife(3600);
}

void TestTokenRefresh::holderKeepsOnlyTheRefreshToken()
{
    OAuthServer rotating({.rotateRefreshTokens = true});
    QVERIFY(rotating.isRunning());
    const TokenResult signedIn = rotating.signIn(rotating.provider());
    QVERIFY(signedIn.ok());

    QTemporaryDir dir;
    FileSecretStore store(dir.path() + u"/config"_s);
    TokenHolder holder(rotating.provider(), store);
    QVERIFY(holder.adopt(signedIn.grant, nullptr));
    QCOMPARE(store.read(u"oauth-refresh-token"_s).secret, signedIn.grant.refreshToken);

    // A new holder (the next program start) finds the refresh token in the store. The server hands
    // out a new refresh token with each refresh: the store follows it, from a worker thread too.
    TokenHolder later(rotating.provider(), store);
    later.invalidate();
    const TokenResult refreshed = std::async(std::launch::async, [&later] { return later.accessToken(); }).get();
    QVERIFY2(refreshed.ok(), qPrintable(refreshed.error));
    QVERIFY(refreshed.grant.refreshToken != signedIn.grant.refreshToken);
    QCOMPARE(store.read(u"oauth-refresh-token"_s).secret, refreshed.grant.refreshToken);

    // Access tokens are never written anywhere; the only file is the private refresh token file.
    for (const QString &token : {signedIn.grant.accessToken, refreshed.grant.accessToken})
        QCOMPARE(filesContaining(dir.path(), token), QStringList());
    // Beside it, when the sign-in was taken over (no secret: a date).
    QCOMPARE(QDir(dir.path() + u"/config"_s).entryList(QDir::Files | QDir::Hidden),
             (QStringList{u"oauth-refresh-token"_s, u"oauth-refresh-token-signed-in"_s}));
    // The replaced refresh token stays among the secrets to mask.
    QCOMPARE(later.secrets(),
             QStringList({signedIn.grant.refreshToken, refreshed.grant.accessToken, refreshed.grant.refreshToken}));

    // A sign-in that brings no refresh token leaves none of an earlier one behind.
    TokenHolder again(rotating.provider(), store);
    QVERIFY(again.adopt({u"at-only"_s, {}, QDateTime::currentDateTimeUtc().addSecs(3600), {}}, nullptr));
    QCOMPARE(store.read(u"oauth-refresh-token"_s).status, SecretLookup::Status::Missing);
    QVERIFY(later.adopt(refreshed.grant, nullptr));

    QVERIFY(later.forget(nullptr));
    QCOMPARE(store.read(u"oauth-refresh-token"_s).status, SecretLookup::Status::Missing);
    const TokenResult signedOut = later.accessToken();
    QCOMPARE(signedOut.failure, AuthFailure::SignInAgain);
    QVERIFY(signedOut.error.contains(u"Sign in again"_s));
}

void TestTokenRefresh::refusedRefreshSaysSignInAgain()
{
    QTemporaryDir dir;
    FileSecretStore store(dir.path());
    TokenHolder holder(m_server->provider(), store);
    QVERIFY(holder.adopt({u"at-old"_s, m_grant.refreshToken, QDateTime::currentDateTimeUtc(), {}}, nullptr));
    m_server->setFault(u"refuse-refresh"_s);
    const TokenResult result = holder.accessToken();
    m_server->setFault({});
    QCOMPARE(result.failure, AuthFailure::SignInAgain);
    QVERIFY2(result.error.contains(u"Sign in again."_s), qPrintable(result.error));
    QVERIFY(result.error.contains(u"AADSTS70000"_s));
    for (const QString &secret : holder.secrets())
        QVERIFY(!result.error.contains(secret));
}

void TestTokenRefresh::refusalAWeekAfterAGoogleSignInIsExplained_data()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<qint64>("hoursLater");
    QTest::addColumn<bool>("explained");

    QTest::newRow("Google, 7 days later") << u"google"_s << qint64(7 * 24 + 1) << true;
    QTest::newRow("Google, a little under 7 days later") << u"google"_s << qint64(7 * 24 - 2) << true;
    QTest::newRow("Google, a month later (not used since)") << u"google"_s << qint64(30 * 24) << true;
    QTest::newRow("Google, 2 days later") << u"google"_s << qint64(2 * 24) << false;
    QTest::newRow("Microsoft, 7 days later") << u"microsoft"_s << qint64(7 * 24 + 1) << false;
}

void TestTokenRefresh::refusalAWeekAfterAGoogleSignInIsExplained()
{
    QFETCH(QString, provider);
    QFETCH(qint64, hoursLater);
    QFETCH(bool, explained);

    OAuthProvider named = m_server->provider();
    named.name = provider;
    QTemporaryDir dir;
    FileSecretStore store(dir.path());
    const QDateTime signedIn = QDateTime::currentDateTimeUtc().addDays(-20);
    QDateTime now = signedIn;
    TokenHolder holder(named, store);
    holder.setClock([&now] { return now; });
    QVERIFY(holder.adopt({u"at-old"_s, m_grant.refreshToken, signedIn.addSecs(3600), {}}, nullptr));
    // A new holder (the program started again) still knows when the sign-in was.
    TokenHolder later(named, store);
    later.setClock([&now] { return now; });
    now = signedIn.addSecs(hoursLater * 3600);
    m_server->setFault(u"refuse-refresh"_s);
    const TokenResult result = later.accessToken();
    m_server->setFault({});
    QCOMPARE(result.failure, AuthFailure::SignInAgain);
    QVERIFY2(result.error.contains(u"Sign in again."_s), qPrintable(result.error));
    QCOMPARE(result.error.contains(u"\"Testing\" 7 days after"_s), explained);
    if (explained)
        QVERIFY(result.error.contains(u"\"In production\""_s));
}

void TestTokenRefresh::googleSignInWithoutRefreshTokenSaysWhy()
{
    OAuthProvider google = m_server->provider();
    google.name = u"google"_s;
    google.refreshTokenRequired = true;
    m_server->setTokenReply(200, R"({"token_type":"Bearer","access_token":"at-only","expires_in":3599})");
    const TokenResult result =
        exchangeAuthorizationCode(google, u"code-1"_s, u"verifier-1"_s, u"http://127.0.0.1:1/"_s);
    m_server->setFault({});
    QCOMPARE(result.failure, AuthFailure::BadReply);
    QVERIFY2(result.error.contains(u"https://myaccount.google.com/permissions"_s), qPrintable(result.error));
}

void TestTokenRefresh::slowServerIsCancelledOrTimesOut()
{
    m_server->setFault(u"stall"_s);
    QElapsedTimer clock;
    clock.start();
    const TokenResult timedOut =
        refreshAccessToken(m_server->provider(), m_grant.refreshToken, {{}, std::chrono::milliseconds(500)});
    QCOMPARE(timedOut.failure, AuthFailure::TimedOut);

    clock.restart();
    const TokenResult cancelled =
        refreshAccessToken(m_server->provider(), m_grant.refreshToken,
                           {[&clock] { return clock.elapsed() > 300; }, std::chrono::seconds(30)});
    QCOMPARE(cancelled.failure, AuthFailure::Cancelled);
    m_server->setFault({});
}

void TestTokenRefresh::masksEveryFormOfASecret_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");

    const QString token = u"ya29.a0AfB_token"_s;
    const QString xoauth2 = QString::fromLatin1(xoauth2InitialResponse(u"anna@example.com"_s, token));
    QTest::newRow("as typed") << u"Bearer "_s + token + u" refused"_s << u"Bearer ******** refused"_s;
    QTest::newRow("XOAUTH2 initial response") << u"535 5.7.3 "_s + xoauth2 << u"535 5.7.3 ********"_s;
    QTest::newRow("base64") << u"AUTH PLAIN "_s + QString::fromLatin1(token.toUtf8().toBase64())
                            << u"AUTH PLAIN ********"_s;
    QTest::newRow("AUTH PLAIN login")
        << u"refused "_s +
               QString::fromLatin1(QByteArray(QByteArray("\0anna@example.com\0", 18) + token.toUtf8()).toBase64())
        << u"refused ********"_s;
    QTest::newRow("twice") << token + u","_s + token << u"********,********"_s;
    QTest::newRow("nothing to mask") << u"Connection refused"_s << u"Connection refused"_s;
}

void TestTokenRefresh::masksEveryFormOfASecret()
{
    QFETCH(QString, text);
    QFETCH(QString, masked);
    QCOMPARE(maskSecrets(text, u"anna@example.com"_s, {u"ya29.a0AfB_token"_s, u"x"_s}), masked);
    // The XOAUTH2 initial response is exactly what SMTP servers expect.
    QCOMPARE(QByteArray::fromBase64(xoauth2InitialResponse(u"u"_s, u"t"_s)), QByteArray("user=u\x01"
                                                                                        "auth=Bearer t\x01\x01"));
}

QTEST_GUILESS_MAIN(TestTokenRefresh)
#include "tst_tokenrefresh.moc"
