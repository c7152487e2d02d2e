#pragma once

// A fake OAuth2 authorization server on 127.0.0.1 (oauth_server.py on Python's http.server) and a
// test browser that follows its redirect back to the sign-in's loopback address.
//
// Use:
//     quorvale::test::OAuthServer server({.accessLifeSeconds = 400});
//     QVERIFY(server.isRunning());
//     OAuthProvider provider = ...;  provider.authorizeUrl = server.authorizeUrl(); ...tokenUrl()
//     FollowingBrowser browser;      // fetches the address like a browser, following redirects
//     signIn.openBrowser(browser);
//     server.setFault(u"refuse-refresh"_s);          // see oauth_server.py for the faults
//     server.setTokenReply(200, "not json");          // the token endpoint's next answers
//     server.requests();                               // what the server received, in order
//
// An SmtpServer with Options::xoauth2TokenFile = server.accessTokenFile() accepts exactly the
// access token this server issued last.

#include "auth/oauthsignin.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QTemporaryDir;

namespace quorvale::test {

using namespace Qt::StringLiterals;

class ReadyProcess;

struct OAuthServerOptions
{
    int accessLifeSeconds = 3600;
    bool rotateRefreshTokens = false;
    QString clientId = u"quorvale-test-client"_s;
    QString clientSecret{}; ///< required from the client when not empty
};

class OAuthServer
{
public:
    using Options = OAuthServerOptions;

    explicit OAuthServer(Options options = {});
    ~OAuthServer();
    OAuthServer(const OAuthServer &) = delete;
    OAuthServer &operator=(const OAuthServer &) = delete;

    bool isRunning() const;
    QUrl authorizeUrl() const;
    QUrl tokenUrl() const;
    /// A provider on this server with its client registration, as the sign-in gets it.
    OAuthProvider provider() const;
    /// Signs in through this server as a user would (the browser follows the redirects), waiting
    /// at most 20 seconds.
    TokenResult signIn(const OAuthProvider &provider) const;

    /// The file that always holds the access token issued last.
    QString accessTokenFile() const;
    QString currentAccessToken() const;
    /// Every access and refresh token issued so far.
    QStringList issuedTokens() const;
    /// Each request as {"method", "path", "params"} (query or form fields), in order.
    QList<QJsonObject> requests() const;

    /// One fault of oauth_server.py ("refuse-refresh", "authorize-error", "stall"); empty: none.
    void setFault(const QString &fault);
    /// Makes the token endpoint answer `status` with `body`, whatever it is asked.
    void setTokenReply(int status, const QByteArray &body);
    /// The life of access tokens issued from now on.
    void setAccessLife(int seconds);

private:
    void writeFile(const char *name, const QByteArray &content) const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ReadyProcess> m_process;
    quint16 m_port = 0;
};

/// A browser for tests: fetches the address it is given and follows every redirect, as a real one
/// does, so that the provider's answer reaches the sign-in's loopback address. `rewrite` may alter
/// the address first (to play a tampered request).
class FollowingBrowser final : public BrowserOpener
{
public:
    bool openUrl(const QUrl &url) override;

    std::function<QUrl(const QUrl &)> rewrite;
    /// The last page the browser ended on: its HTTP status and text.
    int lastStatus = 0;
    QString lastPage;
    int opened = 0;

private:
    QNetworkAccessManager m_network;
};

} // namespace quorvale::test
