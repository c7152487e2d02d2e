// The copy of a sent message in the Sent folder, against a real SMTP server (aiosmtpd) and a real
// IMAP server (Dovecot): what lands in Sent is byte for byte what the SMTP server received.

#include "mail/imapclient.h"
#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
#include "support/dovecotfixture.h"
#include "support/smtpfixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;

class TestSentCopy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void copyInSentIsTheMessageTheServerGot_data();
    void copyInSentIsTheMessageTheServerGot();
    void unstuffsWhatWentOverSmtp_data();
    void unstuffsWhatWentOverSmtp();
    void neverLogsInOverAPlainConnection();
};

namespace {

// An IMAP server that offers no encryption and takes any login: it greets, answers each command
// with OK (CAPABILITY without STARTTLS), and writes every line it got to the file it is given.
constexpr char kPlainImapServer[] = R"(
import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(4)
print(s.getsockname()[1], flush=True)
log = open(sys.argv[1], "ab", buffering=0)
while True:
    c, _ = s.accept(); c.settimeout(10)
    try:
        c.sendall(b"* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n")
        f = c.makefile("rb")
        for line in f:
            log.write(line)
            tag = line.split(b" ")[0]
            if b"CAPABILITY" in line.upper():
                c.sendall(b"* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n")
            c.sendall(tag + b" OK done\r\n")
    except Exception:
        pass
    c.close()
)";

} // namespace

void TestSentCopy::neverLogsInOverAPlainConnection()
{
    QTemporaryDir dir;
    const QString received = dir.filePath(u"received.txt"_s);
    QProcess server;
    server.start(u"/usr/bin/python3"_s, {u"-c"_s, QString::fromLatin1(kPlainImapServer), received});
    QVERIFY(server.waitForStarted(10000));
    QVERIFY2(server.waitForReadyRead(10000), server.readAllStandardError().constData());
    const int port = server.readLine().trimmed().toInt();
    QVERIFY(port > 0);

    ImapClient client(ImapServer{u"127.0.0.1"_s, port, false, "user", "secret-password", false, {}, 5});
    QList<ImapFolder> folders;
    const QString error = client.list(&folders);
    server.kill();
    server.waitForFinished();
    QVERIFY2(!error.isEmpty(), "a session went on without encryption");
    QFile got(received);
    const QByteArray lines = got.open(QIODevice::ReadOnly) ? got.readAll() : QByteArray();
    QVERIFY2(!lines.contains("secret-password") && !lines.toUpper().contains("LOGIN") &&
                 !lines.toUpper().contains("AUTHENTICATE"),
             lines.constData());
}

void TestSentCopy::copyInSentIsTheMessageTheServerGot_data()
{
    QTest::addColumn<bool>("implicitTls");
    QTest::addColumn<bool>("sentFolder");   // the server marks a folder "Sent" as \Sent
    QTest::addColumn<bool>("attachment");
    QTest::addColumn<QString>("password");  // the mail login's password as the IMAP server sees it
    QTest::addColumn<QString>("folder");    // "SentFolder"
    QTest::addColumn<QString>("storedIn");  // empty: the copy fails
    QTest::addColumn<QString>("note");      // what is said once
    QTest::newRow("implicit TLS, folder marked Sent") << true << true << false << u"secret"_s << QString() << u"Sent"_s << QString();
    QTest::newRow("STARTTLS, with attachment") << false << true << true << u"secret"_s << QString() << u"Sent"_s << QString();
    QTest::newRow("no folder marked Sent: Sent is created")
        << false << false << false << u"secret"_s << QString() << u"Sent"_s << u"the folder \"Sent\" was created"_s;
    QTest::newRow("folder chosen in the settings") << true << true << false << u"secret"_s << u"Drafts"_s << u"Drafts"_s << QString();
    QTest::newRow("wrong IMAP password: the copy fails, the send does not")
        << true << true << false << u"wrong"_s << QString() << QString() << QString();
    QTest::newRow("folder that does not exist") << true << true << false << u"secret"_s << u"Nowhere"_s << QString() << QString();
}

void TestSentCopy::copyInSentIsTheMessageTheServerGot()
{
    QFETCH(bool, implicitTls);
    QFETCH(bool, sentFolder);
    QFETCH(bool, attachment);
    QFETCH(QString, password);
    QFETCH(QString, folder);
    QFETCH(QString, storedIn);
    QFETCH(QString, note);

    test::SmtpServer smtp({.security = test::SmtpSecurity::StartTls, .password = password});
    QVERIFY(smtp.isRunning());
    test::DovecotServer imap({.sentFolder = sentFolder});
    QVERIFY(imap.isRunning());

    QTemporaryDir dir;
    const QString document = dir.filePath(u"Invoice 7.pdf"_s);
    if (attachment) {
        QFile file(document);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("%PDF-1.4\n") + QByteArray(100000, 'x'));
    }
    AppSettings settings = smtp.settings();
    settings.SentCopy = 1;
    settings.IMAPServer = u"127.0.0.1"_s;
    settings.IMAPPort = QString::number(implicitTls ? imap.tlsPort() : imap.startTlsPort());
    settings.SentFolder = folder;
    MailMessage message;
    message.RecipientAddress = u"anna@example.org"_s;
    message.SubjectLine = u"Rechnung für März"_s;
    // A line that starts with a dot is stuffed on the way to the SMTP server; the copy has it as typed.
    message.BodyText = u"Dear Anna,\r\n.the dot stays\r\n..and so do two\r\n."_s;
    message.AttachmentPath = attachment ? document : QString();

    SmtpMailer mailer(dir.filePath(u"data"_s), {}, smtp.mailerOptions());
    SendCallbacks callbacks;
    callbacks.keepSentMessage = true;
    const SendResult sent = SendMail(mailer, message, settings, callbacks);
    QVERIFY2(sent.sent(), qPrintable(sent.errorText));
    QVERIFY(smtp.waitForMessages(1, 10000));
    QCOMPARE(sent.sentMessage, smtp.messages().first().raw);

    ImapSentCopier copier({}, test::testCaFile().toUtf8(), imap.tlsPort());
    // The IMAP server knows the user with "secret"; the mail login here may be another password.
    const SentCopyResult copied = copier.copy(sent.sentMessage, settings);
    QCOMPARE(copied.ok(), !storedIn.isEmpty());
    if (storedIn.isEmpty()) {
        QVERIFY2(copied.error.startsWith(u"The copy in the Sent folder failed: "_s), qPrintable(copied.error));
        QVERIFY(!copied.error.contains(password) || password == u"secret"_s);
        QVERIFY(imap.folder(u"Sent"_s).isEmpty());
        return;
    }
    QVERIFY2(copied.note.contains(note), qPrintable(copied.note));
    const QList<test::StoredMessage> stored = imap.folder(storedIn);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored.first().bytes, smtp.messages().first().raw);
    QVERIFY(stored.first().seen);

    // The folder is found once: a second copy goes to the same place and says nothing more.
    const SentCopyResult again = copier.copy(sent.sentMessage, settings);
    QVERIFY2(again.ok(), qPrintable(again.error));
    QVERIFY(again.note.isEmpty());
    QCOMPARE(imap.folder(storedIn).size(), 2);

    // Copied once: a copy whose Message-ID the folder holds is not appended again, another one
    // is; a Message-ID that would change the search command is never sent.
    const qsizetype at = sent.sentMessage.indexOf("\r\nMessage-ID: ") + 14;
    const QByteArray id = sent.sentMessage.mid(at, sent.sentMessage.indexOf("\r\n", at) - at);
    QVERIFY2(id.startsWith('<') && id.endsWith('>'), id.constData());
    const SentCopyResult there = copier.copyOnce(sent.sentMessage, id, settings);
    QVERIFY2(there.ok() && there.alreadyThere, qPrintable(there.error));
    const SentCopyResult other = copier.copyOnce(sent.sentMessage, "<other@example.org>", settings);
    QVERIFY2(other.ok() && !other.alreadyThere, qPrintable(other.error));
    const SentCopyResult odd = copier.copyOnce(sent.sentMessage, "<a\" OR ALL \"@x>", settings);
    QVERIFY(!odd.ok());
    QCOMPARE(imap.folder(storedIn).size(), 3);
}

void TestSentCopy::unstuffsWhatWentOverSmtp_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("nothing stuffed") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("stuffed lines") << QByteArray("a\r\n..b\r\n...\r\n") << QByteArray("a\r\n.b\r\n..\r\n");
    QTest::newRow("end of data removed") << QByteArray("a\r\n..\r\n.\r\n") << QByteArray("a\r\n.\r\n");
    QTest::newRow("dot inside a line") << QByteArray("a..b\r\n") << QByteArray("a..b\r\n");
    QTest::newRow("dot after a bare LF stays") << QByteArray("a\n..b\r\n") << QByteArray("a\n..b\r\n");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestSentCopy::unstuffsWhatWentOverSmtp()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, message);
    QCOMPARE(smtpContentUnstuffed(wire), message);
}

QTEST_GUILESS_MAIN(TestSentCopy)
#include "tst_sentcopy.moc"
