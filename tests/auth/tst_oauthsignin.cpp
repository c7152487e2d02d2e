// The OAuth2 sign-in end to end: the provider table, then the flow against a fake authorization
// server on 127.0.0.1, with a test browser that follows the redirect back to the loopback address.

#include "auth/oauthprovider.h"
#include "auth/oauthsignin.h"
#include "auth/providertable.h"
#include "support/oauthfixture.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include <future>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::FollowingBrowser;
using quorvale::test::OAuthServer;

Q_DECLARE_METATYPE(quorvale::AuthFailure)

namespace {

QString s256(const QString &verifier)
{
    return QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QList<QJsonObject> requestsTo(const OAuthServer &server, const QString &path)
{
    QList<QJsonObject> found;
    for (const QJsonObject &request : server.requests()) {
        if (request.value(u"path").toString() == path)
            found.append(request);
    }
    return found;
}

QUrl withParameter(const QUrl &url, const QString &name, const QString &value)
{
    QUrlQuery query(url);
    query.removeQueryItem(name);
    query.addQueryItem(name, value);
    QUrl changed = url;
    changed.setQuery(query);
    return changed;
}

/// Sends `request` to the sign-in's loopback port on `host` and returns the whole answer. The
/// socket works on a thread of its own while this one keeps the sign-in's event loop turning.
QByteArray rawRequest(const QHostAddress &host, quint16 port, const QByteArray &request)
{
    std::future<QByteArray> answer = std::async(std::launch::async, [host, port, request]() -> QByteArray {
        QTcpSocket socket;
        socket.connectToHost(host, port);
        if (!socket.waitForConnected(5000))
            return QByteArray();
        socket.write(request);
        socket.waitForBytesWritten(5000);
        QByteArray received;
        while (socket.waitForReadyRead(5000))
            received += socket.readAll();
        received += socket.readAll();
        return received;
    });
    while (answer.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QTest::qWait(10);
    return answer.get();
}

} // namespace

class TestOAuthSignIn : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void providerTable_data();
    void providerTable();
    void imapScopeIsAddedWhenTheMailboxIsRead_data();
    void imapScopeIsAddedWhenTheMailboxIsRead();
    void sendingLimitsOfEachProvider_data();
    void sendingLimitsOfEachProvider();
    void signInEnds_data();
    void signInEnds();
    void strayRequestsDoNotEndTheWait();
    void endsWhenNoAnswerComesOrWhenCancelled();
};

void TestOAuthSignIn::providerTable_data()
{
    QTest::addColumn<OAuthChoice>("choice");
    QTest::addColumn<QString>("authorize"); // empty: refused
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("errorPart");

    const QString ms = u"https://login.microsoftonline.com/"_s;
    QTest::newRow("microsoft, default tenant")
        << OAuthChoice{u"microsoft"_s, {}, u"id"_s, {}, {}, {}, {}} << ms + u"organizations/oauth2/v2.0/authorize"_s
        << ms + u"organizations/oauth2/v2.0/token"_s << QString();
    QTest::newRow("microsoft, named tenant")
        << OAuthChoice{u"Microsoft"_s, u"contoso.onmicrosoft.com"_s, u"id"_s, {}, {}, {}, {}}
        << ms + u"contoso.onmicrosoft.com/oauth2/v2.0/authorize"_s
        << ms + u"contoso.onmicrosoft.com/oauth2/v2.0/token"_s << QString();
    QTest::newRow("microsoft, a secret typed for another provider")
        << OAuthChoice{u"microsoft"_s, {}, u"id"_s, u"sec"_s, {}, {}, {}} << ms + u"organizations/oauth2/v2.0/authorize"_s
        << ms + u"organizations/oauth2/v2.0/token"_s << QString();
    QTest::newRow("microsoft, tenant that leaves the path")
        << OAuthChoice{u"microsoft"_s, u"../evil.example"_s, u"id"_s, {}, {}, {}, {}} << QString() << QString()
        << u"tenant"_s;
    QTest::newRow("google") << OAuthChoice{u"google"_s, {}, u"id"_s, u"sec"_s, {}, {}, {}}
                            << u"https://accounts.google.com/o/oauth2/v2/auth"_s
                            << u"https://oauth2.googleapis.com/token"_s << QString();
    QTest::newRow("no client id anywhere")
        << OAuthChoice{u"google"_s, {}, {}, {}, {}, {}, {}} << QString() << QString() << u"No Client ID is set for the Google sign-in"_s;
    QTest::newRow("unknown provider") << OAuthChoice{u"yahoo"_s, {}, u"id"_s, {}, {}, {}, {}} << QString() << QString()
                                      << u"microsoft, google, custom"_s;
    const auto custom = [](const QString &authorize, const QString &token) {
        return OAuthChoice{u"custom"_s, {}, u"id"_s, {}, authorize, token, u"mail offline_access"_s};
    };
    QTest::newRow("custom https") << custom(u"https://id.example/auth"_s, u"https://id.example/token"_s)
                                  << u"https://id.example/auth"_s << u"https://id.example/token"_s << QString();
    QTest::newRow("custom http on loopback")
        << custom(u"http://127.0.0.1:8080/auth"_s, u"http://[::1]:8080/token"_s) << u"http://127.0.0.1:8080/auth"_s
        << u"http://[::1]:8080/token"_s << QString();
    QTest::newRow("custom http elsewhere") << custom(u"https://id.example/auth"_s, u"http://id.example/token"_s)
                                           << QString() << QString() << u"must start with https://"_s;
    QTest::newRow("custom http to the name localhost")
        << custom(u"http://localhost:8080/auth"_s, u"https://id.example/token"_s) << QString() << QString()
        << u"must start with https://"_s;
    QTest::newRow("custom with a password in the address")
        << custom(u"https://id.example/auth"_s, u"https://me:pw@id.example/token"_s) << QString() << QString()
        << u"user name, password"_s;
    QTest::newRow("custom, no address") << custom({}, u"https://id.example/token"_s) << QString() << QString()
                                        << u"The Authorize URL \"\" is not a complete web address"_s;
    QTest::newRow("custom, no scope")
        << OAuthChoice{u"custom"_s, {}, u"id"_s, {}, u"https://id.example/auth"_s, u"https://id.example/token"_s, {}}
        << QString() << QString() << u"No Scope is set"_s;
}

void TestOAuthSignIn::providerTable()
{
    QFETCH(OAuthChoice, choice);
    QFETCH(QString, authorize);
    QFETCH(QString, token);
    QFETCH(QString, errorPart);

    QString error;
    const std::optional<OAuthProvider> provider = resolveOAuthProvider(choice, &error);
    QCOMPARE(provider.has_value(), !authorize.isEmpty());
    if (!provider) {
        QVERIFY2(error.contains(errorPart), qPrintable(error));
        QVERIFY(!error.contains(u"pw@"_s));
        // The message names the boxes of Setup, never the names in the settings file.
        QVERIFY2(!error.contains(u"(OAuth"_s), qPrintable(error));
        return;
    }
    QCOMPARE(provider->authorizeUrl.toString(), authorize);
    QCOMPARE(provider->tokenUrl.toString(), token);
    QVERIFY(provider->refreshTokenRequired); // each of these asks for offline access
    // No sign-in forces the consent screen (which, for an organisation whose administrator has
    // consented for everyone, would ask for an approval already given).
    for (const auto &[name, value] : provider->extraAuthorizeParameters)
        QVERIFY2(name != u"prompt" || value != u"consent", qPrintable(choice.provider));
    // A secret goes only to a provider whose sign-in takes one.
    const MailProviderFacts *facts = findMailProvider(choice.provider);
    QCOMPARE(provider->clientSecret, facts->usesClientSecret ? choice.clientSecret : QString());
    const std::optional<SmtpPreset> smtp = smtpPresetFor(choice.provider);
    QCOMPARE(smtp.has_value(), choice.provider != u"custom");
    if (smtp) {
        QCOMPARE(smtp->port, 587);
        QVERIFY(smtp->startTls);
    }
}

void TestOAuthSignIn::imapScopeIsAddedWhenTheMailboxIsRead_data()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<bool>("imap");
    QTest::addColumn<QString>("scope");
    const QString smtp = u"https://outlook.office.com/SMTP.Send offline_access"_s;
    QTest::newRow("Microsoft 365, SMTP only") << u"microsoft"_s << false << smtp;
    QTest::newRow("Microsoft 365 with IMAP")
        << u"microsoft"_s << true << smtp + u" https://outlook.office.com/IMAP.AccessAsUser.All"_s;
    QTest::newRow("Google: one scope for both") << u"google"_s << true << u"https://mail.google.com/"_s;
    QTest::newRow("custom: the user's own scope") << u"custom"_s << true << u"mail offline_access"_s;
}

void TestOAuthSignIn::imapScopeIsAddedWhenTheMailboxIsRead()
{
    QFETCH(QString, provider);
    QFETCH(bool, imap);
    OAuthChoice choice{provider, {}, u"id"_s, {}, u"https://id.example/auth"_s, u"https://id.example/token"_s,
                       u"mail offline_access"_s, imap};
    QString error;
    const std::optional<OAuthProvider> resolved = resolveOAuthProvider(choice, &error);
    QVERIFY2(resolved, qPrintable(error));
    QTEST(resolved->scope, "scope");
}

void TestOAuthSignIn::sendingLimitsOfEachProvider_data()
{
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QString>("mailbox");
    QTest::addColumn<int>("perMinute");
    QTest::addColumn<int>("perDay");

    QTest::newRow("Microsoft 365") << u"microsoft"_s << u"office@practice.example"_s << 30 << 10000;
    QTest::newRow("Google Workspace") << u"google"_s << u"office@practice.example"_s << 0 << 2000;
    QTest::newRow("consumer Gmail") << u"Google"_s << u" Someone@GMail.com"_s << 0 << 500;
    QTest::newRow("consumer Googlemail") << u"google"_s << u"someone@googlemail.com"_s << 0 << 500;
    QTest::newRow("a Workspace domain that only ends like gmail")
        << u"google"_s << u"someone@notgmail.com"_s << 0 << 2000;
    QTest::newRow("no mailbox yet") << u"google"_s << QString() << 0 << 2000;
    QTest::newRow("other") << u"custom"_s << u"someone@gmail.com"_s << 0 << 0;
    QTest::newRow("unknown") << u"yahoo"_s << u"someone@example.com"_s << 0 << 0;
}

void TestOAuthSignIn::sendingLimitsOfEachProvider()
{
    QFETCH(QString, provider);
    QFETCH(QString, mailbox);
    QFETCH(int, perMinute);
    QFETCH(int, perDay);
    QCOMPARE(sendingLimitsFor(provider, mailbox), (SendingLimits{perMinute, perDay}));
    // The names the settings take are the table's, in Setup's order.
    QCOMPARE(oauthProviderNames(), (QStringList{u"microsoft"_s, u"google"_s, u"custom"_s}));
}

void TestOAuthSignIn::signInEnds_data()
{
    QTest::addColumn<QString>("fault");         // of the fake server
    QTest::addColumn<QByteArray>("tokenReply"); // the token endpoint's answer, "STATUS body"; empty: a real one
    QTest::addColumn<QString>("tamper");        // a parameter of the sign-in address the browser changes
    QTest::addColumn<AuthFailure>("failure");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("signed in") << QString() << QByteArray() << QString() << AuthFailure::None << QString();
    QTest::newRow("the user declines") << u"authorize-error"_s << QByteArray() << QString() << AuthFailure::Refused
                                       << u"access_denied (The user said no.)"_s;
    QTest::newRow("an answer to another request")
        << QString() << QByteArray() << u"state"_s << AuthFailure::Mismatch << u"does not belong"_s;
    QTest::newRow("a challenge that the verifier does not match")
        << QString() << QByteArray() << u"code_challenge"_s << AuthFailure::Refused << u"invalid_grant"_s;
    QTest::newRow("a reply without refresh token")
        << QString() << QByteArray(R"(200 {"token_type":"Bearer","access_token":"at-x","expires_in":3600})")
        << QString() << AuthFailure::BadReply << u"no refresh token"_s;
    QTest::newRow("a reply that is no JSON") << QString() << QByteArray("200 <html>hello</html>") << QString()
                                             << AuthFailure::BadReply << u"not a JSON object"_s;
}

void TestOAuthSignIn::signInEnds()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, tokenReply);
    QFETCH(QString, tamper);
    QFETCH(AuthFailure, failure);
    QFETCH(QString, errorPart);

    OAuthServer server({.clientSecret = u"not-so-secret"_s});
    QVERIFY(server.isRunning());
    server.setFault(fault);
    if (!tokenReply.isEmpty())
        server.setTokenReply(tokenReply.left(3).toInt(), tokenReply.mid(4));

    OAuthSignIn signIn(server.provider());
    signIn.setLoginHint(u"anna+office@example.com"_s);
    QSignalSpy finished(&signIn, &OAuthSignIn::finished);
    QString error;
    QVERIFY2(signIn.start(&error), qPrintable(error));
    FollowingBrowser browser;
    if (!tamper.isEmpty())
        browser.rewrite = [&tamper](const QUrl &url) { return withParameter(url, tamper, u"tampered-value"_s); };
    QVERIFY(signIn.openBrowser(browser));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.size(), 1);
    const TokenResult result = signIn.result();
    QCOMPARE(result.failure, failure);
    QVERIFY2(result.error.contains(errorPart), qPrintable(result.error));
    for (const QString &token : server.issuedTokens())
        QVERIFY2(!result.error.contains(token), qPrintable(result.error));

    // The request carried a fresh state and an S256 challenge, and named the loopback address.
    const QList<QJsonObject> authorizations = requestsTo(server, u"/authorize"_s);
    QCOMPARE(authorizations.size(), 1);
    const QJsonObject asked = authorizations.first().value(u"params").toObject();
    QCOMPARE(asked.value(u"code_challenge_method").toString(), u"S256"_s);
    if (tamper != u"state")
        QVERIFY(asked.value(u"state").toString().size() >= 43);
    QCOMPARE(asked.value(u"login_hint").toString(), u"anna+office@example.com"_s);
    QCOMPARE(asked.value(u"scope").toString(), u"test.send offline_access"_s);
    const QUrl redirect(asked.value(u"redirect_uri").toString());
    QCOMPARE(redirect.host(), u"localhost"_s);
    QCOMPARE(redirect.path(), u"/"_s);

    const QList<QJsonObject> exchanges = requestsTo(server, u"/token"_s);
    QCOMPARE(exchanges.size(), failure == AuthFailure::Mismatch || fault == u"authorize-error" ? 0 : 1);
    if (failure == AuthFailure::None) {
        const QJsonObject form = exchanges.first().value(u"params").toObject();
        QCOMPARE(s256(form.value(u"code_verifier").toString()), asked.value(u"code_challenge").toString());
        QCOMPARE(form.value(u"redirect_uri").toString(), redirect.toString());
        QCOMPARE(form.value(u"client_secret").toString(), u"not-so-secret"_s);
        QCOMPARE(result.grant.accessToken, server.currentAccessToken());
        QVERIFY(server.issuedTokens().contains(result.grant.refreshToken));
        const qint64 life = QDateTime::currentDateTimeUtc().secsTo(result.grant.expiresAt);
        QVERIFY2(life > 3500 && life <= 3600, qPrintable(QString::number(life)));
    }
    // The browser got a page saying it may be closed, and the loopback address stopped listening.
    QTRY_VERIFY(!browser.lastPage.isEmpty());
    if (failure != AuthFailure::Mismatch)
        QVERIFY2(browser.lastPage.contains(u"You may close this window"_s), qPrintable(browser.lastPage));
    QVERIFY(rawRequest(QHostAddress::LocalHost, redirect.port(), "GET / HTTP/1.1\r\n\r\n").isEmpty());
}

void TestOAuthSignIn::strayRequestsDoNotEndTheWait()
{
    OAuthServer server;
    QVERIFY(server.isRunning());
    OAuthSignIn signIn(server.provider());
    QSignalSpy finished(&signIn, &OAuthSignIn::finished);
    QVERIFY(signIn.start(nullptr));
    const quint16 port = QUrlQuery(signIn.authorizationUrl())
                             .queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded)
                             .section(u':', 2)
                             .section(u'/', 0, 0)
                             .toUShort();
    QVERIFY(port != 0);

    // What a browser or a curious program may send before the real answer comes, over either address.
    const struct
    {
        QHostAddress host;
        QByteArray request;
        QByteArray status;
    } strays[] = {
        {QHostAddress::LocalHost, "GET /favicon.ico HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 404"},
        {QHostAddress::LocalHostIPv6, "GET /favicon.ico HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 404"},
        {QHostAddress::LocalHost, "POST /?code=x&state=y HTTP/1.1\r\n\r\n", "HTTP/1.1 405"},
        {QHostAddress::LocalHost, "GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 400"},
        {QHostAddress::LocalHost, "nonsense\r\n\r\n", "HTTP/1.1 400"},
        {QHostAddress::LocalHost, "GET /?" + QByteArray(20000, 'a'), "HTTP/1.1 431"},
    };
    for (const auto &stray : strays) {
        const QByteArray answer = rawRequest(stray.host, port, stray.request);
        QVERIFY2(answer.startsWith(stray.status), QByteArray(stray.request.left(30) + " -> " + answer).constData());
    }
    QVERIFY(!signIn.isFinished());

    FollowingBrowser browser;
    QVERIFY(signIn.openBrowser(browser));
    QVERIFY(finished.wait(20000));
    QVERIFY2(signIn.result().ok(), qPrintable(signIn.result().error));
}

void TestOAuthSignIn::endsWhenNoAnswerComesOrWhenCancelled()
{
    OAuthServer server;
    QVERIFY(server.isRunning());

    OAuthSignIn waiting(server.provider());
    waiting.setTimeout(std::chrono::milliseconds(300));
    QVERIFY(waiting.start(nullptr));
    QCOMPARE(waiting.waitForFinished().failure, AuthFailure::TimedOut);
    QVERIFY2(waiting.result().error.contains(u"within 1 second;"_s), qPrintable(waiting.result().error));

    OAuthSignIn cancelled(server.provider());
    QVERIFY(cancelled.start(nullptr));
    QElapsedTimer clock;
    clock.start();
    const TokenResult result = cancelled.waitForFinished([&clock] { return clock.elapsed() > 200; });
    QCOMPARE(result.failure, AuthFailure::Cancelled);

    // A stalled token endpoint: the code came back, the exchange hangs, cancel still ends it at once.
    server.setFault(u"stall"_s);
    OAuthSignIn stalled(server.provider());
    QVERIFY(stalled.start(nullptr));
    FollowingBrowser browser;
    QVERIFY(stalled.openBrowser(browser));
    QTRY_COMPARE(requestsTo(server, u"/token"_s).size(), 1);
    stalled.cancel();
    QCOMPARE(stalled.waitForFinished().failure, AuthFailure::Cancelled);
}

QTEST_GUILESS_MAIN(TestOAuthSignIn)
#include "tst_oauthsignin.moc"
