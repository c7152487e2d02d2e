#pragma once

// A mail provider for tests: provider_sim.py (aiosmtpd) on 127.0.0.1, throttling and capping as
// Exchange Online or Gmail document it and answering with their replies. It logs every connection,
// every message it accepted and every refusal with the time on its own clock, so that a test can
// count what went through and when.
//
// Use:
//     quorvale::test::ProviderSim sim({.profile = u"gmail"_s, .perDay = 3, .size = 50000});
//     QVERIFY(sim.isRunning());
//     AppSettings settings = sim.settings();        // host, port, AuthType, login, EmailFrom
//     ... send ...
//     QCOMPARE(sim.accepted().size(), 3);
//     QCOMPARE(sim.refused().first().reply.left(9), u"550 5.4.5"_s);
//     sim.advanceClock(24 * 3600);                   // the provider's day is over
//
// Knobs (ProviderSimOptions): per-minute and per-day limits, the quota reply after n messages, SIZE
// (a larger message is refused only after the whole upload), a temporary refusal at a stage
// ("greeting", "ehlo", "auth", "mail", "rcpt", "data") for the first k tries, at most c
// connections at once, and a login refusal by name (exchange: "unsuccessful", "tenant",
// "mailbox", "security-defaults", "basic-auth"; gmail: "bad-credentials", "app-password",
// "web-login"), and AUTH XOAUTH2 with the token a file holds (a refused token as the provider
// refuses it: gmail answers 334 with a base64 JSON error first). See provider_sim.py for the replies.

#include "support/readyprocess.h"
#include "support/smtpfixture.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryDir;

namespace quorvale::test {

struct ProviderSimOptions
{
    QString profile = u"exchange"_s; ///< "exchange" or "gmail"
    SmtpSecurity security = SmtpSecurity::Plain;
    int perMinute = 0;  ///< 0: no limit
    int perDay = 0;     ///< 0: no limit
    int quotaAfter = 0; ///< 0: never
    qint64 size = 0;    ///< 0: no SIZE
    QString temporaryStage{};
    int temporaryTries = 0;
    int maxConnections = 0; ///< 0: no limit
    QString loginRefusal{};
    /// AUTH XOAUTH2 takes exactly the access token this file holds (gmail refuses another with a
    /// 334 JSON error first, as Google does); empty: only password logins succeed.
    QString xoauth2TokenFile{};
    int temporaryEvery = 0; ///< every Nth message refused at its content with the temporary reply; 0: none
    int ehloDelayMs = 0;    ///< the wait before each EHLO answer
    bool keepMessages = false; ///< keep every accepted message's content for acceptedMessages()
};

/// One thing the simulated provider did.
struct ProviderEvent
{
    double time = 0;    ///< seconds since the epoch, on the simulator's clock
    QString stage;      ///< refusals: where
    QString reply;      ///< refusals: what it answered
    QStringList rcpt;   ///< the recipients concerned
    qint64 size = -1;   ///< accepted (and refused too large): the message's size in bytes
};

class ProviderSim
{
public:
    using Options = ProviderSimOptions;

    /// Starts the simulator and waits until it listens; isRunning() tells whether that worked.
    explicit ProviderSim(Options options = {});
    ~ProviderSim();
    ProviderSim(const ProviderSim &) = delete;
    ProviderSim &operator=(const ProviderSim &) = delete;

    bool isRunning() const;
    quint16 port() const;
    /// Settings that send to the simulator, as SmtpServer::settings() gives them.
    AppSettings settings() const;
    /// CURL_CA_BUNDLE and, for implicit TLS, QUORVALE_IMPLICIT_TLS_PORT, as SmtpServer::environment().
    QStringList environment() const;
    /// The same for a mailer in this process, as SmtpServer::mailerOptions().
    MailerOptions mailerOptions() const;

    QList<ProviderEvent> accepted() const;
    /// With Options::keepMessages: the content of every accepted message, in the order accepted
    /// (the same order as accepted()).
    QList<QByteArray> acceptedMessages() const;
    QList<ProviderEvent> refused() const;
    /// The times of the connections, in order.
    QList<double> connections() const;
    /// Moves the simulator's clock on by `seconds` (its day and minute count on that clock).
    void advanceClock(double seconds);

private:
    QList<ProviderEvent> events(const QString &kind) const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ReadyProcess> m_process;
    quint16 m_port = 0;
    double m_clockOffset = 0;
};

} // namespace quorvale::test
