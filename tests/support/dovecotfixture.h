#pragma once

// A real IMAP server on 127.0.0.1 for tests: the system's Dovecot binary (Debian's dovecot-imapd)
// with a private configuration in a temporary folder, never the system's service. One passwd-file
// user; mail in Maildir under the folder, stored with CR LF line ends so that a stored message is
// byte for byte what was appended. Two free ports: one with implicit TLS, one that requires
// STARTTLS before a login; both with the test certificate of smtpfixture.h (testCaFile()).
//
// Use:
//     quorvale::test::DovecotServer imap;                      // user "user", password "secret"
//     QVERIFY(imap.isRunning());
//     settings.IMAPServer = u"127.0.0.1"_s; settings.IMAPPort = QString::number(imap.startTlsPort());
//     ... append ...
//     const QList<StoredMessage> sent = imap.folder(u"Sent"_s);
//
// The folder "Sent" carries the special-use flag \Sent unless Options::sentFolder is false, in
// which case no folder has it and none called "Sent" exists. The server stops when the DovecotServer
// is destroyed (it exits when its standard input closes).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryDir;

namespace quorvale::test {

class ReadyProcess;

/// One message as the server stored it.
struct StoredMessage
{
    QByteArray bytes;  ///< exactly as stored
    bool seen = false; ///< it carries the \Seen flag
};

struct DovecotServerOptions
{
    QString user = QStringLiteral("user");
    QString password = QStringLiteral("secret");
    bool sentFolder = true; ///< a folder "Sent" marked \Sent exists
    /// Also take mail over LMTP and answer a mail server's login questions (its auth service), for
    /// a mail queue that delivers here (postfixfixture.h); recipients are known by the part of
    /// their address before "@".
    bool lmtp = false;
    QStringList otherUsers{}; ///< more mailboxes besides `user`, with the same password
};

class DovecotServer
{
public:
    using Options = DovecotServerOptions;

    explicit DovecotServer(Options options = {});
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    bool isRunning() const;
    quint16 tlsPort() const { return m_tlsPort; }           ///< implicit TLS
    quint16 startTlsPort() const { return m_startTlsPort; } ///< STARTTLS required
    quint16 lmtpPort() const { return m_lmtpPort; }         ///< with Options::lmtp; 0 otherwise
    quint16 authPort() const { return m_authPort; }         ///< with Options::lmtp; 0 otherwise
    /// The messages of `folder` ("Sent", or "INBOX"), oldest first; none when it does not exist.
    QList<StoredMessage> folder(const QString &name) const { return folder(name, m_options.user); }
    /// The messages of the folder `name` of the mailbox `user`.
    QList<StoredMessage> folder(const QString &name, const QString &user) const;
    /// Whether the folder `name` exists.
    bool hasFolder(const QString &name) const;

private:
    QString maildir(const QString &name, const QString &user) const;

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ReadyProcess> m_process;
    quint16 m_tlsPort = 0;
    quint16 m_startTlsPort = 0;
    quint16 m_lmtpPort = 0;
    quint16 m_authPort = 0;
};

} // namespace quorvale::test
