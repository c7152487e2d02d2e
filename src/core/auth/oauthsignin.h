#pragma once

#include "auth/loopbackreceiver.h"
#include "auth/oauthprovider.h"
#include "auth/tokenreply.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QThread;
class QTimer;

namespace quorvale {

/// Shows an address in the user's web browser. Core cannot reach the desktop: the window supplies
/// one over QDesktopServices, the command line may have none, tests follow the redirects themselves.
class BrowserOpener
{
public:
    virtual ~BrowserOpener() = default;
    /// False when no browser could be asked to show `url`.
    virtual bool openUrl(const QUrl &url) = 0;
};

/// One OAuth2 sign-in: authorization code with PKCE (S256) and a fresh `state`, the browser sent
/// to the provider, the answer received on a loopback address, the code traded for tokens. Lives
/// on a thread with an event loop and never blocks it (the token request runs on a thread of its
/// own). Ends exactly once with finished(): tokens, or why not — a refusal, an answer to another
/// request, no answer within the time limit (five minutes unless set), or cancel().
class OAuthSignIn final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OAuthSignIn)

public:
    explicit OAuthSignIn(OAuthProvider provider, QObject *parent = nullptr);
    ~OAuthSignIn() override;

    /// The account to suggest on the provider's page (the user name), when known.
    void setLoginHint(const QString &user);
    void setTimeout(std::chrono::milliseconds timeout);
    /// The certificates (a PEM file) the token request trusts instead of the system's; empty: the system's.
    void setCaBundle(const QString &file) { m_caBundle = file; }

    /// Listens for the browser's answer and makes the address to open; false, with the reason in
    /// `error`, when the provider's addresses are unsafe or nothing can listen.
    bool start(QString *error);
    /// The provider's sign-in page for this request; valid after start().
    QUrl authorizationUrl() const;
    /// Asks `browser` to show authorizationUrl(); false when it could not (the user may open it by hand).
    bool openBrowser(BrowserOpener &browser) const;
    /// Ends the sign-in as cancelled, unless it has ended already.
    void cancel();

    bool isFinished() const { return m_finished; }
    TokenResult result() const { return m_result; }
    /// Runs a local event loop until the sign-in ends, cancelling it when `aborted` turns true
    /// (polled every 100 ms). For the command line, which has no other loop; never in the window.
    TokenResult waitForFinished(const std::function<bool()> &aborted = {});

Q_SIGNALS:
    void finished(const quorvale::TokenResult &result);

private:
    /// What the browser shows for `request`; ends the sign-in when the request is its answer.
    LoopbackReceiver::Answer receive(const RedirectRequest &request);
    void exchange(const QString &code);
    void finish(TokenResult result);

    OAuthProvider m_provider;
    QString m_loginHint;
    QString m_caBundle;
    std::chrono::milliseconds m_timeout{std::chrono::minutes(5)};
    QString m_state;
    QString m_verifier;
    QUrl m_authorizationUrl;
    QString m_redirectUri; ///< the loopback address, fixed for this sign-in
    std::unique_ptr<LoopbackReceiver> m_receiver;
    QTimer *m_timer = nullptr;
    std::unique_ptr<QThread> m_exchangeThread;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
    bool m_finished = false;
    TokenResult m_result;
};

} // namespace quorvale
