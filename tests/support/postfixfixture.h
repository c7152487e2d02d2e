#pragma once

// A real mail queue for tests: the system's Postfix with a private configuration directory in a
// temporary folder (its own queue and data directories), never the system's instance, in front of
// a DovecotServer of its own. Mail for the domain quorvale.test is delivered over LMTP to that
// Dovecot, one mailbox per local part; an unknown local part is bounced by Postfix with a real
// delivery status notification into the sender's INBOX; mail for any other domain is bounced at
// once, so nothing leaves the machine. Submission on a free port of 127.0.0.1 requires STARTTLS
// (the test certificate of smtpfixture.h) and a login that Dovecot checks.
//
// Use:
//     quorvale::test::PostfixServer postfix({u"anna"_s});     // mailboxes "user" (password "secret") and "anna"
//     if (!PostfixServer::canRun()) QSKIP(qPrintable(PostfixServer::whyNot()));
//     QVERIFY(postfix.isRunning());
//     sendmail with MAIL_CONFIG=postfix.configDirectory() in its environment queues here;
//     QVERIFY(postfix.waitForMail(u"anna"_s, 1));
//
// Postfix starts only as root. Everything it started stops when the PostfixServer is destroyed, or
// when the test process dies (its helper exits when its standard input closes).

#include "support/dovecotfixture.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryDir;

namespace quorvale::test {

class ReadyProcess;

class PostfixServer
{
public:
    /// Starts Dovecot with the mailbox "user" and `otherUsers`, then Postfix in front of it.
    explicit PostfixServer(const QStringList &otherUsers = {});
    ~PostfixServer();
    PostfixServer(const PostfixServer &) = delete;
    PostfixServer &operator=(const PostfixServer &) = delete;

    /// Whether Postfix can be started here: it is installed and this process runs as root.
    static bool canRun();
    /// Why not, in words for QSKIP; empty when it can.
    static QString whyNot();

    bool isRunning() const;
    static QString domain() { return QStringLiteral("quorvale.test"); }
    /// "name@quorvale.test".
    static QString address(const QString &name) { return name + QLatin1Char('@') + domain(); }
    quint16 submissionPort() const { return m_submissionPort; }
    /// The configuration directory: MAIL_CONFIG for `sendmail` (or `sendmail -C`).
    QString configDirectory() const;
    /// "MAIL_CONFIG=..." for a child process's environment.
    QString sendmailEnvironment() const { return QStringLiteral("MAIL_CONFIG=") + configDirectory(); }
    DovecotServer &dovecot() { return *m_dovecot; }

    /// Waits (up to `timeoutMs`) until the INBOX of `user` holds at least `count` messages; false
    /// when it did not in time.
    bool waitForMail(const QString &user, int count, int timeoutMs = 60000) const;
    /// The INBOX of `user`, oldest first.
    QList<StoredMessage> inbox(const QString &user) const { return m_dovecot->folder(QStringLiteral("INBOX"), user); }
    /// What Postfix logged, to explain a failure.
    QByteArray log() const;

private:
    std::unique_ptr<DovecotServer> m_dovecot;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ReadyProcess> m_process;
    quint16 m_submissionPort = 0;
};

} // namespace quorvale::test
