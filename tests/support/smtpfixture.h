#pragma once

// A real SMTP server on 127.0.0.1 for tests: Debian's aiosmtpd (run by /usr/bin/python3) on a free
// port, with AUTH PLAIN and LOGIN for a known user and password, optionally implicit TLS or required
// STARTTLS from a certificate (SAN IP:127.0.0.1, DNS:localhost) signed by a test CA made once per test
// process with openssl. Every accepted message is parsed with Python's standard mail parser, so the
// header values come back decoded exactly as a mail program would show them.
//
// Use:
//     quorvale::test::SmtpServer server;                       // plain SMTP, user "user", password "secret"
//     QVERIFY(server.isRunning());
//     AppSettings settings = server.settings();                // host, port, AuthType, login, EmailFrom
//     ... send through SendMail / SmtpMailer / the program ...
//     QVERIFY(server.waitForMessages(1, 10000));
//     QCOMPARE(server.messages().first().subject, u"Grüße"_s);
//
//     SmtpServer tls({.security = SmtpServer::Security::StartTls});
//     SmtpMailer mailer({}, {}, tls.mailerOptions()); // trusts its CA (and its implicit-TLS port)
//     QProcess child; child.setEnvironment(QProcess::systemEnvironment() + tls.environment());
//
//     SmtpServer refusing({.fault = u"RCPT:550"_s});
//
// Faults (Options::fault, at most one):
//     "VERB:CODE"      answer VERB (EHLO, AUTH, MAIL, RCPT, ...) with CODE instead of running it,
//                      e.g. "MAIL:451", "RCPT:550", "AUTH:535"; "DATA:554" answers 554 after the whole
//                      message content was received (nothing is recorded)
//     "VERB:CODE:TEXT" the same, only for a command whose argument holds TEXT, e.g. "RCPT:550:b@x.org"
//     "reply:VERB:REPLY" answer VERB with REPLY as it stands, e.g. "reply:AUTH:535 5.7.139 ..."
//     "stall:greeting" accept the connection and never greet
//     "stall:VERB"     never answer VERB; "stall:DATA" never answers after the message content;
//                      "stall:handshake" answers STARTTLS and then never does the TLS handshake
//     "slow:DATA:S"    answer the message content only after S seconds, then as usual
//     "close:VERB"     close the connection when VERB arrives; "close:DATA" answers 354, reads a
//                      little of the content and then closes the connection; "close:DOT" reads the
//                      whole content and closes the connection without answering (nothing recorded)
//     "garbage:VERB"   answer VERB with bytes that are no SMTP reply
//     "size:N"         advertise SIZE N and refuse larger messages with 552
//     "pipeline:STARTTLS"  send two more replies in clear right after "220 Ready to start TLS",
//                      before the handshake, as a man in the middle would
// Replies of "VERB:CODE" echo the command's argument; "AUTH:CODE" first takes the login (as base64)
// and quotes it in its refusal, as a careless server might.
//
// Options::xoauth2TokenFile (an OAuthServer's accessTokenFile()) turns the login into AUTH XOAUTH2
// for the user with exactly the token that file holds at that moment; AUTH OAUTHBEARER is advertised
// too and always refused. authAttempts() lists those logins ("XOAUTH2 ok", "OAUTHBEARER refused").
//
// Options::certificate picks what the TLS variants present: a certificate of the test CA for
// 127.0.0.1 and localhost, one of the test CA for another host, an expired one of the test CA,
// or a self-signed one for 127.0.0.1.
//
// The server stops when the SmtpServer is destroyed, also when the test failed or crashed (it exits
// when its standard input closes).

#include "mail/mailserver.h"
#include "settings/appsettings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QProcess;
class QTemporaryDir;

namespace quorvale::test {

using namespace Qt::StringLiterals;

struct ReceivedAttachment
{
    QString fileName;
    QString contentType;
    QByteArray data; ///< decoded bytes
};

/// One part of a received message, as a mail parser sees it.
struct ReceivedPart
{
    QString path;        ///< its place: "0" the message, "0.1" its second part, "0.1.0" that one's first
    QString contentType; ///< "multipart/related", "image/png", ...
    QString contentId;   ///< the Content-ID header as written ("<logo@...>"); empty when absent
    QString disposition; ///< "inline", "attachment" or empty
    QString fileName;
    QByteArray data;     ///< decoded bytes; empty for a multipart
};

struct ReceivedMessage
{
    QString mailFrom;   ///< envelope MAIL FROM
    QStringList rcptTo; ///< envelope RCPT TO, in order
    QByteArray raw;     ///< the message as received (CR LF line ends, dot-stuffing removed)
    QByteArray wire;    ///< the message content as it came over the wire (dot-stuffed, without the final ".")
    QString from, to, subject, date, messageId; ///< decoded header values; empty when absent
    QString body;       ///< the text/plain part, decoded, line ends as sent (CR LF)
    QString replyTo;    ///< the Reply-To header, decoded; empty when absent
    QString fromName, fromAddress; ///< the From header's display name (decoded) and address
    QString html;       ///< the text/html part, decoded; empty when there is none
    QList<ReceivedPart> parts; ///< every part, the message itself first, depth first
    QList<ReceivedAttachment> attachments;
    QStringList parseDefects; ///< what the mail parser found wrong with the message
};

/// The body a single-part message with the text `typed` arrives with: the content of an SMTP
/// message ends with a line end, so a text that does not end with CR LF gains one.
inline QString asSingleTextPart(const QString &typed)
{
    return typed.isEmpty() || typed.endsWith(u"\r\n"_s) ? typed : typed + u"\r\n"_s;
}

enum class SmtpSecurity { Plain, ImplicitTls, StartTls };
enum class SmtpCertificate { Trusted, WrongHost, Expired, SelfSigned };

struct SmtpServerOptions
{
    SmtpSecurity security = SmtpSecurity::Plain;
    QString user = u"user"_s;
    QString password = u"secret"_s;
    QString fault{}; ///< see the table above
    SmtpCertificate certificate = SmtpCertificate::Trusted;
    QString xoauth2TokenFile{}; ///< see above; empty: AUTH PLAIN and LOGIN with the password
};

/// The test CA and the server certificates it signed, made once per process (with openssl) and shared
/// by every test server; empty when they could not be made.
QString testCaFile();
QString testServerCertificate(SmtpCertificate which = SmtpCertificate::Trusted);
QString testServerKey();

class SmtpServer
{
public:
    using Security = SmtpSecurity;
    using Options = SmtpServerOptions;
    using Certificate = SmtpCertificate;

    /// Starts the server and waits until it listens; isRunning() tells whether that worked.
    explicit SmtpServer(Options options = {});
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    bool isRunning() const;
    quint16 port() const;
    /// The CA file that signed the server's certificate (the same for every server of the process).
    QString caFile() const;
    /// Settings that send to this server: SMTPServer "127.0.0.1", SSLport, AuthType (0 for Plain, 1 for
    /// the TLS variants), UserName, Password and EmailFrom "sender@example.com".
    AppSettings settings() const;
    /// "NAME=value" entries a client of this server needs: CURL_CA_BUNDLE for the TLS variants and
    /// QUORVALE_IMPLICIT_TLS_PORT=port() for ImplicitTls (SSL means implicit TLS only on that port).
    QStringList environment() const;
    /// What a mailer in this process needs to reach this server: the test CA for the TLS variants,
    /// and port() as the implicit-TLS port for ImplicitTls.
    MailerOptions mailerOptions() const;

    /// The messages the server accepted so far, in order.
    QList<ReceivedMessage> messages() const;
    /// Waits (without an event loop) until at least `count` messages were accepted.
    bool waitForMessages(int count, int timeoutMs) const;
    /// The command verbs the server received, in order; "CONNECT" marks each new connection.
    QStringList commands() const;
    /// Makes new connections misbehave as `fault` says (see the table; empty: not at all) and forgets
    /// the messages and commands received so far, so that one server can serve many cases.
    void reset(const QString &fault);
    /// The command verbs that arrived unencrypted (all of them for Plain; none should carry the
    /// login or the message when TLS is required).
    QStringList clearCommands() const;
    /// The XOAUTH2 and OAUTHBEARER logins tried, in order: "MECHANISM ok" or "MECHANISM refused".
    QStringList authAttempts() const;

private:
    Options m_options;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
};

} // namespace quorvale::test
