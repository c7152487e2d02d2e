// The SMTP login with an OAuth2 access token, as the mail layer will do it: sign in at the fake
// authorization server, then log in to the test SMTP server (STARTTLS, XOAUTH2 with exactly the
// token issued last) with libcurl's bearer option, and send one message.

#include "auth/secretmask.h"
#include "auth/tokenrequest.h"
#include "support/oauthfixture.h"
#include "support/smtpfixture.h"

#include <QTest>

#include <curl/curl.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::OAuthServer;
using quorvale::test::SmtpServer;

namespace {

struct Login
{
    bool sent = false;
    QString error;
};

/// Sends a short message over STARTTLS, logging in as `user` with `token`; `loginOptions` as
/// CURLOPT_LOGIN_OPTIONS (empty: libcurl's own choice of mechanism).
Login sendWithToken(const SmtpServer &server, const QByteArray &user, const QByteArray &token,
                    const QByteArray &loginOptions)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    CURL *h = curl.get();
    const QByteArray url = "smtp://127.0.0.1:" + QByteArray::number(server.port());
    const QByteArray ca = server.caFile().toUtf8();
    QByteArray message = "From: <sender@example.com>\r\nTo: <client@example.com>\r\nSubject: Token\r\n\r\nHello.\r\n";
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> rcpt(curl_slist_append(nullptr, "<client@example.com>"),
                                                                     &curl_slist_free_all);
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_CAINFO, ca.constData());
    curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(h, CURLOPT_XOAUTH2_BEARER, token.constData());
    if (!loginOptions.isEmpty())
        curl_easy_setopt(h, CURLOPT_LOGIN_OPTIONS, loginOptions.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, "<sender@example.com>");
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.get());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READDATA, &message);
    curl_easy_setopt(
        h, CURLOPT_READFUNCTION, +[](char *buffer, size_t size, size_t count, void *data) -> size_t {
            auto *rest = static_cast<QByteArray *>(data);
            const size_t n = std::min(size * count, size_t(rest->size()));
            memcpy(buffer, rest->constData(), n);
            rest->remove(0, qsizetype(n));
            return n;
        });
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L);
    const CURLcode code = curl_easy_perform(h);
    return {code == CURLE_OK, QString::fromUtf8(curl_easy_strerror(code)) + u": "_s + QString::fromUtf8(error)};
}

} // namespace

class TestXoauth2Login : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    void logsInWithTheCurrentTokenOnly_data();
    void logsInWithTheCurrentTokenOnly();
};

void TestXoauth2Login::logsInWithTheCurrentTokenOnly_data()
{
    QTest::addColumn<QString>("token"); // "current", "previous" (after a refresh), "refreshed"
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("loginOptions");
    QTest::addColumn<QStringList>("attempts");

    QTest::newRow("XOAUTH2 with the token")
        << u"current"_s << QByteArray("user") << QByteArray("AUTH=XOAUTH2") << QStringList{u"XOAUTH2 ok"_s};
    // libcurl prefers OAUTHBEARER when offered, which some providers advertise and refuse.
    QTest::newRow("libcurl's own choice")
        << u"current"_s << QByteArray("user") << QByteArray() << QStringList{u"OAUTHBEARER refused"_s};
    QTest::newRow("another user") << u"current"_s << QByteArray("someone") << QByteArray("AUTH=XOAUTH2")
                                  << QStringList{u"XOAUTH2 refused"_s};
    QTest::newRow("a token replaced by a refresh")
        << u"previous"_s << QByteArray("user") << QByteArray("AUTH=XOAUTH2") << QStringList{u"XOAUTH2 refused"_s};
    QTest::newRow("the refreshed token") << u"refreshed"_s << QByteArray("user") << QByteArray("AUTH=XOAUTH2")
                                         << QStringList{u"XOAUTH2 ok"_s};
}

void TestXoauth2Login::logsInWithTheCurrentTokenOnly()
{
    QFETCH(QString, token);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, loginOptions);
    QFETCH(QStringList, attempts);

    OAuthServer authority;
    QVERIFY(authority.isRunning());
    SmtpServer smtp({.security = SmtpServer::Security::StartTls, .xoauth2TokenFile = authority.accessTokenFile()});
    QVERIFY(smtp.isRunning());

    const TokenResult signedIn = authority.signIn(authority.provider());
    QVERIFY2(signedIn.ok(), qPrintable(signedIn.error));
    QString use = signedIn.grant.accessToken;
    if (token != u"current") {
        const TokenResult refreshed = refreshAccessToken(authority.provider(), signedIn.grant.refreshToken);
        QVERIFY2(refreshed.ok(), qPrintable(refreshed.error));
        if (token == u"refreshed")
            use = refreshed.grant.accessToken;
    }

    const Login login = sendWithToken(smtp, user, use.toLatin1(), loginOptions);
    QCOMPARE(smtp.authAttempts(), attempts);
    QCOMPARE(login.sent, attempts.first().endsWith(u" ok"));
    QCOMPARE(smtp.messages().size(), login.sent ? 1 : 0);
    QVERIFY(!smtp.clearCommands().contains(u"AUTH"_s)); // the token only ever went over TLS
    if (!login.sent) {
        QVERIFY2(login.error.contains(u"535"_s) || login.error.contains(u"Login denied"_s), qPrintable(login.error));
        QVERIFY(!maskSecrets(login.error, QString::fromLatin1(user), {use}).contains(use));
    }
}

QTEST_GUILESS_MAIN(TestXoauth2Login)
#include "tst_xoauth2login.moc"
