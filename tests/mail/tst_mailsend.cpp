// Sending through the real SMTP component to a real SMTP server on 127.0.0.1, then reading back what
// the server received with a standard mail parser.

#include "clients/csvreader.h"
#include "clients/messagetemplate.h"
#include "mail/messagebuilder.h"
#include "mail/smtpmailer.h"
#include "platform/files.h"
#include "support/smtpfixture.h"

#include <QFile>
#include <QMimeDatabase>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::SmtpServer;

namespace {

SendResult send(SmtpMailer &mailer, const AppSettings &settings, const MailMessage &message,
                const SendCallbacks &callbacks = {})
{
    return SendMail(mailer, message, settings, callbacks);
}

MailMessage message(const QString &to, const QString &subject = u"Your documents"_s,
                    const QString &body = u"Dear client,\r\nplease find your documents attached."_s,
                    const QString &attachment = {})
{
    return MailMessage{to, attachment, subject, body};
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(20261207);
    generator.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
    return data;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &data)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool nothingReachedServer(const SmtpServer &server)
{
    return server.commands().isEmpty() && server.messages().isEmpty();
}

/// The header lines of a message as they came over the wire: every byte 7-bit, whatever the text.
bool headersAreSevenBit(const QByteArray &wire)
{
    const QByteArray headers = wire.left(wire.indexOf("\r\n\r\n"));
    return !headers.isEmpty() && std::all_of(headers.cbegin(), headers.cend(), [](char c) { return uchar(c) < 0x80; });
}

} // namespace

class TestMailSend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deliversHeadersAndBody();
    void builtMessageIsWhatGoesOnTheWire();
    void bodyTextRoundTrips_data();
    void bodyTextRoundTrips();
    void subjectAndFileNameRoundTrip_data();
    void subjectAndFileNameRoundTrip();
    void binaryAttachmentArrivesIdenticalEveryTime();
    void abortFromProgressStopsUpload();
    void abortRequestedBeforeTheSendReachesNoServer();
    void refusesUnreadableAttachment_data();
    void refusesUnreadableAttachment();
    void emptyAttachmentPathSendsWithoutAttachment();
    void portTextRules_data();
    void portTextRules();
    void otherAuthTypeIsNeverSent();
    void sentResultHasTheServersReplyAndNoError();
    void nestedSendIsRefused();
    void sendsFromTwoThreadsTakeTurns();
    void eachSendGoesToTheServerItIsGiven();
    void senderNameAndReplyToArrive_data();
    void senderNameAndReplyToArrive();
    void refusesWhatWouldBreakAHeader_data();
    void refusesWhatWouldBreakAHeader();
    void archiveCopyIsABlindEnvelopeRecipientOnly();
    void formattedBodyGoesAsAlternativeWithInlinePictures();
    void formattedBodySendsOnlyPicturesOfItsFolder_data();
    void formattedBodySendsOnlyPicturesOfItsFolder();
};

void TestMailSend::deliversHeadersAndBody()
{
    SmtpServer server;
    QVERIFY(server.isRunning());
    SmtpMailer mailer;
    const SendResult o = send(mailer, server.settings(), message(u"client@example.org"_s));
    QCOMPARE(o.status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(1, 10000));

    const auto m = server.messages().first();
    QCOMPARE(m.mailFrom, u"sender@example.com"_s);
    QCOMPARE(m.rcptTo, QStringList{u"client@example.org"_s});
    QCOMPARE(m.from, u"sender@example.com"_s);
    QCOMPARE(m.to, u"client@example.org"_s);
    QCOMPARE(m.subject, u"Your documents"_s);
    QCOMPARE(m.body, test::asSingleTextPart(u"Dear client,\r\nplease find your documents attached."_s));
    QVERIFY(m.attachments.isEmpty());
    QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u"; ")));
    QVERIFY(m.messageId.startsWith(u'<') && m.messageId.endsWith(u"@example.com>"));
    const QDateTime date = QDateTime::fromString(m.date, Qt::RFC2822Date);
    QVERIFY2(date.isValid(), qPrintable(m.date));
    QVERIFY(qAbs(date.secsTo(QDateTime::currentDateTime())) < 24 * 3600);
    QCOMPARE(m.raw.count("\nMIME-Version: 1.0\r\n") + m.raw.startsWith("MIME-Version: 1.0\r\n"), 1);
    // Without an attachment the message is its one text part.
    QVERIFY(m.raw.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: "
                           "quoted-printable\r\n\r\n"));
    QVERIFY(!m.raw.contains("multipart"));
    QVERIFY(!m.raw.contains("secret"));
    QVERIFY(server.commands().contains(u"AUTH"_s));
    QCOMPARE(server.commands().last(), u"QUIT"_s);
}

void TestMailSend::builtMessageIsWhatGoesOnTheWire()
{
    // What the builder makes of a message, shown without sending it, is byte for byte what the
    // server receives, but for the Date and Message-ID, which every send makes anew.
    const auto withoutDateAndId = [](QByteArray message) {
        static const QRegularExpression stamps(u"^(Date|Message-ID): [^\\r]*\\r\\n"_s,
                                               QRegularExpression::MultilineOption);
        return QString::fromLatin1(message).remove(stamps);
    };
    SmtpServer server;
    SmtpMailer mailer;
    MailMessage mail = message(u"client@example.org"_s, u"Grüße – Ihre Unterlagen"_s, u"Zeile eins\n.Zeile zwei"_s);
    mail.EmailFrom = server.settings().EmailFrom;
    QVERIFY(mailer.send(mail, mailServerFrom(server.settings())).sent());
    QVERIFY(server.waitForMessages(1, 10000));
    const QByteArray built = buildMessage(mail).singlePart();
    QVERIFY(built.startsWith("Date: ") && built.contains("\r\nMessage-ID: "));
    QCOMPARE(withoutDateAndId(server.messages().first().raw), withoutDateAndId(built));
}

void TestMailSend::bodyTextRoundTrips_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("received");
    QTest::newRow("From line and blanks") << u"From here  \r\n\tindented \t"_s << u"From here  \r\n\tindented \t"_s;
    QTest::newRow("non-ASCII") << u"Grüße, Zoë — 日本 ☺ 🙂"_s << u"Grüße, Zoë — 日本 ☺ 🙂"_s;
    QTest::newRow("long line") << QString(500, u'x') + u"=y"_s << QString(500, u'x') + u"=y"_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestMailSend::bodyTextRoundTrips()
{
    QFETCH(QString, typed);
    QFETCH(QString, received);
    SmtpServer server;
    SmtpMailer mailer;
    QCOMPARE(send(mailer, server.settings(), message(u"c@example.org"_s, u"s"_s, typed)).status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(1, 10000));
    QCOMPARE(server.messages().first().body, test::asSingleTextPart(received));
    QVERIFY(server.messages().first().parseDefects.isEmpty());
}

void TestMailSend::subjectAndFileNameRoundTrip_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("ASCII") << u"Invoice 2026/12"_s << u"invoice 17.pdf"_s;
    QTest::newRow("German") << u"Grüße aus Köln – Ihre Unterlagen"_s << u"Steuerbescheid_Müller.pdf"_s;
    QTest::newRow("CJK and emoji") << u"日本語の件名 🙂"_s << u"報告書 🙂.txt"_s;
    QTest::newRow("long mixed") << QString(30, u'ä') + QString(150, u'a') + u" end"_s << QString(60, u'ö') + u".docx"_s;
    QTest::newRow("looks encoded") << u"=?UTF-8?B?SGk=?= literally"_s << u"=?UTF-8?B?SGk=?=.txt"_s;
    QTest::newRow("blanks and quotes") << u"  two  spaces  "_s << u"a \"quoted\" name; x=1.txt"_s;
    QTest::newRow("tab in subject") << u"a\tb"_s << u"back\\slash.txt"_s;
    QTest::newRow("very long ASCII") << QString(1200, u's') << u"x.txt"_s;
}

void TestMailSend::subjectAndFileNameRoundTrip()
{
    QFETCH(QString, subject);
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    const QString path = writeFile(dir, fileName, "content of " + fileName.toUtf8());
    SmtpServer server;
    SmtpMailer mailer;
    const SendResult o = send(mailer, server.settings(), message(u"c@example.org"_s, subject, u"b"_s, path));
    QCOMPARE(o.status, SendStatus::Sent);
    // The same subject in a message without an attachment, which is sent as one text part.
    QCOMPARE(send(mailer, server.settings(), message(u"c@example.org"_s, subject, u"b"_s)).status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(2, 10000));
    // A mail parser would accept 8-bit header bytes too: the wire itself must hold 7-bit headers.
    for (const auto &sent : server.messages()) {
        QCOMPARE(sent.subject, subject);
        QVERIFY2(headersAreSevenBit(sent.wire), sent.wire.left(sent.wire.indexOf("\r\n\r\n")).constData());
    }
    const auto m = server.messages().first();
    QCOMPARE(m.subject, subject);
    QCOMPARE(m.attachments.size(), 1);
    QCOMPARE(m.attachments.first().fileName, fileName);
    QCOMPARE(m.attachments.first().data, "content of " + fileName.toUtf8());
    QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u"; ")));
    for (const QByteArray &line : m.raw.split('\n'))
        QVERIFY2(line.size() <= 998, line.left(80).constData());
}

void TestMailSend::binaryAttachmentArrivesIdenticalEveryTime()
{
    // The same file three times, as a common attachment goes to every client: the first send
    // streams the file, later ones reuse its encoding. Every copy must be byte-identical.
    QTemporaryDir dir;
    const QByteArray data = randomBytes(3 * 1024 * 1024 + 7);
    const QString path = writeFile(dir, u"scan.pdf"_s, data);
    SmtpServer server;
    SmtpMailer mailer;
    QList<int> percents;
    SendCallbacks callbacks;
    callbacks.percentDone = [&](int percent) { percents.append(percent); };
    for (int i = 0; i < 3; ++i) {
        percents.clear();
        const SendResult o =
            send(mailer, server.settings(), message(u"c%1@example.org"_s.arg(i), u"s"_s, u"b"_s, path), callbacks);
        QCOMPARE(o.status, SendStatus::Sent);
        QVERIFY(!percents.isEmpty());
        QCOMPARE(percents.last(), 100);
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        QVERIFY(percents.first() >= 0);
    }
    QVERIFY(server.waitForMessages(3, 20000));
    const auto messages = server.messages();
    for (const auto &m : messages) {
        QCOMPARE(m.attachments.size(), 1);
        QCOMPARE(m.attachments.first().contentType, QMimeDatabase().mimeTypeForFile(path).name());
        QCOMPARE(m.attachments.first().contentType, u"application/pdf"_s);
        QVERIFY(m.attachments.first().data == data);
    }
    QCOMPARE(messages.at(2).rcptTo, QStringList{u"c2@example.org"_s});

    // A changed file is sent as it is now, never from an earlier encoding.
    QByteArray changed = data;
    changed[12345] = char(changed[12345] ^ 0x5a);
    QThread::msleep(20); // a different modification time
    writeFile(dir, u"scan.pdf"_s, changed);
    QCOMPARE(send(mailer, server.settings(), message(u"c@example.org"_s, u"s"_s, u"b"_s, path)).status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(4, 20000));
    QVERIFY(server.messages().at(3).attachments.first().data == changed);
}

void TestMailSend::abortFromProgressStopsUpload()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, u"big.bin"_s, randomBytes(8 * 1024 * 1024));
    SmtpServer server;
    SmtpMailer mailer;
    std::atomic<int> highest = 0;
    SendCallbacks callbacks;
    callbacks.percentDone = [&](int percent) { highest = qMax(highest.load(), percent); };
    callbacks.aborted = [&] { return highest >= 10; };
    const SendResult o = send(mailer, server.settings(), message(u"c@example.org"_s, u"s"_s, u"b"_s, path), callbacks);
    // Stopped before the message was handed over: not sent, which is no refusal.
    QCOMPARE(o.status, SendStatus::NotSentAborted);
    QCOMPARE(o.errorText, u"The send was aborted."_s);
    QVERIFY(highest < 100);
    QThread::msleep(200);
    QVERIFY(server.messages().isEmpty());
}

void TestMailSend::abortRequestedBeforeTheSendReachesNoServer()
{
    SmtpServer server;
    SmtpMailer mailer;
    SendCallbacks callbacks;
    callbacks.aborted = [] { return true; };
    const SendResult o = send(mailer, server.settings(), message(u"c@example.org"_s), callbacks);
    QCOMPARE(o.status, SendStatus::NotSentAborted);
    QCOMPARE(o.errorText, u"The send was aborted."_s);
    QThread::msleep(100);
    QVERIFY(nothingReachedServer(server));
}

void TestMailSend::refusesUnreadableAttachment_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << u"missing"_s;
    QTest::newRow("folder") << u"folder"_s;
    QTest::newRow("no read permission") << u"unreadable"_s;
    // Chosen for a client, then swapped for a link to another file before the send read it.
    QTest::newRow("replaced since it was chosen") << u"replaced"_s;
    // A client's second named document, swapped the same way: the whole message stays unsent.
    QTest::newRow("a further file replaced since it was chosen") << u"further replaced"_s;
}

void TestMailSend::refusesUnreadableAttachment()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = dir.filePath(u"C1001.pdf"_s);
    if (kind == u"folder") {
        QVERIFY(QDir(dir.path()).mkdir(u"C1001.pdf"_s));
    } else if (kind == u"unreadable") {
        writeFile(dir, u"C1001.pdf"_s, "secret document");
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        QFile probe(path);
        if (probe.open(QIODevice::ReadOnly))
            QSKIP("running with rights that read any file");
    }
    MailMessage mail = message(u"c@example.org"_s, u"s"_s, u"b"_s, path);
    if (kind.endsWith(u"replaced"_s)) {
        writeFile(dir, u"C1001.pdf"_s, "the client's own document");
        mail.AttachmentIdentity = platform::fileIdentity(path);
        if (kind == u"further replaced"_s) {
            mail.AttachmentPath = writeFile(dir, u"Invoice_1001.pdf"_s, "the client's invoice");
            mail.AttachmentIdentity = platform::fileIdentity(mail.AttachmentPath);
            mail.MoreAttachments = {{path, platform::fileIdentity(path)}};
        }
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(writeFile(dir, u"settings.ini"_s, "PW=secret"), path));
    }
    SmtpServer server;
    SmtpMailer mailer;
    const SendResult o = send(mailer, server.settings(), mail);
    QCOMPARE(o.status, SendStatus::Refused);
    QVERIFY2(o.errorText.contains(path), qPrintable(o.errorText));
    QThread::msleep(100);
    QVERIFY(nothingReachedServer(server));
}

void TestMailSend::emptyAttachmentPathSendsWithoutAttachment()
{
    SmtpServer server;
    SmtpMailer mailer;
    QCOMPARE(send(mailer, server.settings(), message(u"c@example.org"_s, u"s"_s, u"b"_s, QString())).status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(1, 10000));
    QVERIFY(server.messages().first().attachments.isEmpty());
}

void TestMailSend::portTextRules_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<bool>("attempted");
    QTest::newRow("blanks around") << u"  %1 \t"_s << true;
    QTest::newRow("letters") << u"25a"_s << false;
    QTest::newRow("empty") << u""_s << false;
    QTest::newRow("blanks only") << u"   "_s << false;
    QTest::newRow("beyond 32 bits") << u"4294967321"_s << false;
    QTest::newRow("not a port") << u"70000"_s << false;
    QTest::newRow("zero") << u"0"_s << false;
    QTest::newRow("fraction") << u"25.5"_s << false;
}

void TestMailSend::portTextRules()
{
    QFETCH(QString, portText);
    QFETCH(bool, attempted);
    SmtpServer server;
    AppSettings settings = server.settings();
    settings.SSLport = portText.contains(u"%1") ? portText.arg(server.port()) : portText;
    SmtpMailer mailer;
    const SendResult o = send(mailer, settings, message(u"c@example.org"_s));
    if (attempted) {
        QCOMPARE(o.status, SendStatus::Sent);
    } else {
        QCOMPARE(o.status, SendStatus::NotAttempted);
        QVERIFY2(o.errorText.contains(u"port"), qPrintable(o.errorText));
        QVERIFY(o.serverReply.isEmpty());
        QVERIFY(nothingReachedServer(server));
    }
}

void TestMailSend::otherAuthTypeIsNeverSent()
{
    SmtpServer tls(
        {.security = SmtpServer::Security::StartTls, .user = u"user"_s, .password = u"secret"_s, .fault = {}});
    SmtpServer plain;
    SmtpMailer mailer({}, {}, tls.mailerOptions());

    // A send over TLS first, so that the component holds a security setting and a port ...
    QCOMPARE(send(mailer, tls.settings(), message(u"one@example.org"_s)).status, SendStatus::Sent);
    // ... which a send with any type but Simple or SSL never falls back to: it is not attempted.
    for (const qint16 type : {qint16(-1), qint16(2), qint16(7)}) {
        AppSettings other = plain.settings();
        other.AuthType = type;
        const SendResult o = send(mailer, other, message(u"two@example.org"_s));
        QCOMPARE(o.status, SendStatus::NotAttempted);
        QVERIFY2(o.errorText.contains(u"authentication type %1"_s.arg(type)), qPrintable(o.errorText));
    }

    // A server value made by hand has no plain-SMTP default either: until told Simple or SSL it
    // sends nothing.
    MailServer fresh;
    fresh.host = u"127.0.0.1"_s;
    fresh.port = plain.port();
    fresh.user = u"user"_s;
    fresh.password = u"secret"_s;
    MailMessage email = message(u"three@example.org"_s);
    email.EmailFrom = u"sender@example.com"_s;
    const SendResult unset = mailer.send(email, fresh);
    QCOMPARE(unset.status, SendStatus::NotAttempted);
    QVERIFY2(unset.errorText.contains(u"No connection security"_s), qPrintable(unset.errorText));
    fresh.security = MailServer::Security(2);
    QCOMPARE(mailer.send(email, fresh).status, SendStatus::NotAttempted);

    QThread::msleep(100);
    QVERIFY(nothingReachedServer(plain));
    QCOMPARE(tls.messages().size(), 1);
    QCOMPARE(tls.commands().count(u"CONNECT"_s), 1);
}

void TestMailSend::sentResultHasTheServersReplyAndNoError()
{
    SmtpServer server;
    SmtpMailer mailer;
    const SendResult o = send(mailer, server.settings(), message(u"c@example.org"_s));
    QVERIFY(o.sent());
    QVERIFY2(o.serverReply.startsWith(u"250"), qPrintable(o.serverReply));
    QVERIFY(o.errorText.isEmpty());
}

void TestMailSend::nestedSendIsRefused()
{
    SmtpServer server;
    SmtpMailer outer;
    SmtpMailer inner;
    SendResult nested;
    bool triedNested = false;
    SendCallbacks callbacks;
    callbacks.aborted = [&] {
        if (!triedNested) {
            triedNested = true;
            nested = send(inner, server.settings(), message(u"nested@example.org"_s));
        }
        return false;
    };
    const SendResult o = send(outer, server.settings(), message(u"outer@example.org"_s), callbacks);
    QVERIFY(triedNested);
    QCOMPARE(nested.status, SendStatus::Refused);
    QVERIFY2(nested.errorText.contains(u"Another message is being sent"), qPrintable(nested.errorText));
    QCOMPARE(o.status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(1, 10000));
    QThread::msleep(100);
    QCOMPARE(server.messages().size(), 1);
    QCOMPARE(server.messages().first().rcptTo, QStringList{u"outer@example.org"_s});
}

void TestMailSend::sendsFromTwoThreadsTakeTurns()
{
    // A run's worker and a test e-mail may share one mailer; their sends must never overlap.
    SmtpServer server;
    const AppSettings settings = server.settings();
    SmtpMailer mailer;
    std::atomic<int> ok{0};
    const auto sender = [&](int thread) {
        for (int i = 0; i < 5; ++i) {
            if (send(mailer, settings, message(u"t%1-%2@example.org"_s.arg(thread).arg(i))).sent())
                ++ok;
        }
    };
    std::thread a(sender, 1);
    std::thread b(sender, 2);
    a.join();
    b.join();
    QCOMPARE(ok.load(), 10);
    QVERIFY(server.waitForMessages(10, 10000));
    int open = 0;
    for (const QString &command : server.commands()) {
        open += command == u"CONNECT" ? 1 : command == u"QUIT" ? -1 : 0;
        QVERIFY(open == 0 || open == 1);
    }
}

void TestMailSend::eachSendGoesToTheServerItIsGiven()
{
    SmtpServer first;
    SmtpServer second;
    AppSettings current = first.settings();
    SmtpMailer mailer;
    QList<int> percents;
    int checks = 0;
    SendCallbacks callbacks;
    callbacks.percentDone = [&](int p) { percents.append(p); };
    callbacks.aborted = [&] { return ++checks < 0; };
    QCOMPARE(send(mailer, current, message(u"a@example.org"_s), callbacks).status, SendStatus::Sent);
    QCOMPARE(percents.last(), 100);
    QVERIFY(checks > 0);
    current = second.settings();
    QCOMPARE(send(mailer, current, message(u"b@example.org"_s)).status, SendStatus::Sent);
    QVERIFY(first.waitForMessages(1, 10000));
    QVERIFY(second.waitForMessages(1, 10000));

    current.SSLport = u"x"_s;
    const SendResult o = send(mailer, current, message(u"c@example.org"_s));
    QCOMPARE(o.status, SendStatus::NotAttempted);
    QVERIFY(!o.errorText.isEmpty());
}

void TestMailSend::senderNameAndReplyToArrive_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("replyTo");
    QTest::addColumn<QByteArray>("fromLine"); ///< the From line on the wire; empty: not compared
    // Neither set: the header lines are exactly as they always were.
    QTest::newRow("neither") << QString() << QString() << QByteArray("From: sender@example.com");
    QTest::newRow("ASCII with &") << u"Smith & Partners"_s << u"replies@example.org"_s
                                  << QByteArray("From: \"Smith & Partners\" <sender@example.com>");
    QTest::newRow("quotes and backslash") << u"Say \"Hi\" \\ Bye"_s << QString()
                                          << QByteArray(R"(From: "Say \"Hi\" \\ Bye" <sender@example.com>)");
    QTest::newRow("German") << u"Müller & Söhne, Steuerberater"_s << u"buero@example.de"_s << QByteArray();
    QTest::newRow("looks encoded") << u"=?UTF-8?B?SGk=?= literally"_s << QString() << QByteArray();
    QTest::newRow("long, beyond ASCII") << QString(120, u'ä') << QString() << QByteArray();
}

void TestMailSend::senderNameAndReplyToArrive()
{
    QFETCH(QString, name);
    QFETCH(QString, replyTo);
    QFETCH(QByteArray, fromLine);
    SmtpServer server;
    SmtpMailer mailer;
    AppSettings settings = server.settings();
    settings.EmailFromName = name;
    settings.ReplyTo = replyTo;
    QCOMPARE(send(mailer, settings, message(u"c@example.org"_s)).status, SendStatus::Sent);
    QVERIFY(server.waitForMessages(1, 10000));
    const auto m = server.messages().first();
    QCOMPARE(m.fromName, name);
    QCOMPARE(m.fromAddress, u"sender@example.com"_s);
    QCOMPARE(m.mailFrom, u"sender@example.com"_s);
    QCOMPARE(m.replyTo, replyTo);
    QCOMPARE(m.raw.contains("\r\nReply-To: "), !replyTo.isEmpty());
    if (!fromLine.isEmpty())
        QVERIFY2(m.raw.contains(QByteArray("\r\n" + fromLine + "\r\n")), m.raw.left(m.raw.indexOf("\r\n\r\n")).constData());
    QVERIFY2(headersAreSevenBit(m.wire), m.wire.left(m.wire.indexOf("\r\n\r\n")).constData());
    QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u"; ")));
}

void TestMailSend::refusesWhatWouldBreakAHeader_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("replyTo");
    QTest::addColumn<QString>("archive");
    QTest::newRow("name with a line break") << u"Smith\r\nBcc: all@example.org"_s << QString() << QString();
    QTest::newRow("Reply-To with a line break") << QString() << u"a@example.org\r\nBcc: b@example.org"_s << QString();
    QTest::newRow("Reply-To of two addresses") << QString() << u"a@example.org, b@example.org"_s << QString();
    QTest::newRow("archive with a line break") << QString() << QString() << u"a@example.org\r\nDATA"_s;
    QTest::newRow("archive with a name") << QString() << QString() << u"Archive <a@example.org>"_s;
}

void TestMailSend::refusesWhatWouldBreakAHeader()
{
    QFETCH(QString, name);
    QFETCH(QString, replyTo);
    QFETCH(QString, archive);
    SmtpServer server;
    SmtpMailer mailer;
    AppSettings settings = server.settings();
    settings.EmailFromName = name;
    settings.ReplyTo = replyTo;
    MailMessage mail = message(u"c@example.org"_s);
    mail.ArchiveCopyTo = archive;
    const SendResult o = send(mailer, settings, mail);
    QCOMPARE(o.status, SendStatus::Refused);
    QVERIFY(o.errorText.endsWith(u"the message was not sent."_s));
    QVERIFY(nothingReachedServer(server));
}

void TestMailSend::archiveCopyIsABlindEnvelopeRecipientOnly()
{
    static const QRegularExpression bccHeader(u"(^|\\n)bcc:"_s, QRegularExpression::CaseInsensitiveOption);
    QTemporaryDir dir;
    const QString document = writeFile(dir, u"Invoice_42.pdf"_s, randomBytes(4000));
    SmtpServer server;
    SmtpMailer mailer;
    MailMessage plain = message(u"client@example.org"_s);
    plain.ArchiveCopyTo = u"archive@example.net"_s;
    MailMessage attached = message(u"client@example.org"_s, u"s"_s, u"b"_s, document);
    attached.ArchiveCopyTo = u"archive@example.net"_s;

    // One transaction, the archive a second envelope recipient: the same message, named nowhere in it.
    for (const MailMessage &mail : {plain, attached}) {
        const SendResult o = send(mailer, server.settings(), mail);
        QCOMPARE(o.status, SendStatus::Sent);
        QVERIFY(o.archiveRefused.isEmpty());
    }
    QVERIFY(server.waitForMessages(2, 10000));
    for (const auto &m : server.messages()) {
        QCOMPARE(m.rcptTo, (QStringList{u"client@example.org"_s, u"archive@example.net"_s}));
        QCOMPARE(m.to, u"client@example.org"_s);
        QVERIFY(!QString::fromLatin1(m.raw).contains(bccHeader));
        QVERIFY(!m.raw.contains("archive@"));
    }
    QCOMPARE(server.messages().at(1).attachments.size(), 1);
    QCOMPARE(server.commands().count(u"DATA"_s), 2);

    // A refused archive copy: the client's message goes, once, and the refusal is reported.
    for (const MailMessage &mail : {plain, attached}) {
        server.reset(u"RCPT:550:archive@"_s);
        const SendResult o = send(mailer, server.settings(), mail);
        QCOMPARE(o.status, SendStatus::Sent);
        QVERIFY2(o.archiveRefused.startsWith(u"550"_s), qPrintable(o.archiveRefused));
        QVERIFY(o.errorText.isEmpty());
        QVERIFY(server.waitForMessages(1, 10000));
        QCOMPARE(server.messages().size(), 1);
        QCOMPARE(server.messages().first().rcptTo, QStringList{u"client@example.org"_s});
        QCOMPARE(server.commands().count(u"DATA"_s), 1);
        QCOMPARE(server.commands().count(u"CONNECT"_s), 1);
    }

    // A refused client is a refused send, though the archive took the message.
    server.reset(u"RCPT:550:client@"_s);
    const SendResult refused = send(mailer, server.settings(), plain);
    QCOMPARE(refused.status, SendStatus::Refused);
    QVERIFY2(refused.errorText.contains(u"client@example.org"_s) && refused.errorText.contains(u"550"_s),
             qPrintable(refused.errorText));
    QVERIFY(refused.archiveRefused.isEmpty());

    // The client as its own archive: one recipient.
    server.reset({});
    MailMessage own = plain;
    own.ArchiveCopyTo = u"Client@Example.org"_s;
    QVERIFY(send(mailer, server.settings(), own).sent());
    QVERIFY(server.waitForMessages(1, 10000));
    QCOMPARE(server.messages().first().rcptTo, QStringList{u"client@example.org"_s});
}

void TestMailSend::formattedBodyGoesAsAlternativeWithInlinePictures()
{
    static const QRegularExpression bccHeader(u"(^|\\n)bcc:"_s, QRegularExpression::CaseInsensitiveOption);
    QTemporaryDir dir;
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + randomBytes(3000);
    QDir(dir.path()).mkdir(u"img"_s);
    writeFile(dir, u"img/logo.png"_s, png);
    const QString document = writeFile(dir, u"Invoice_42.pdf"_s, randomBytes(2000));
    const QString csv = writeFile(dir, u"clients.csv"_s, "Id,Email,Name\r\n42,c@example.org,Smith & <Co> \"O'Neil\"\r\n");
    const ClientList clients = GetCSVFile(csv, CsvHeader::ColumnNames).clients;
    QCOMPARE(clients.Count(), 1);
    // The body as a rich-text editor might save it, with fields, a picture twice, and what must not go.
    const FieldTemplate body(u"<html><head><style>p{margin:0}</style></head><body><p>Dear {{Name}},</p>"
                             "<p>see <a href=\"https://ex.org/i?id={{id}}\">your invoice</a>.</p><p><img src=\"img/logo.png\" "
                             "alt=\"Logo\" onerror=\"x()\"><img src=\"http://track.example/p.gif?c={{id}}\">"
                             "<script>steal()</script><img src=\"img/logo.png\"></p></body></html>"_s,
                             clients);
    SmtpServer server;
    SmtpMailer mailer;
    for (const QString &attachment : {QString(), document}) {
        MailMessage mail = message(u"c@example.org"_s, u"Ihre Rechnung"_s, u"plain"_s, attachment);
        mail.HtmlBody = body.fill(clients, 0, FieldTemplate::Fill::Html);
        mail.HtmlBaseFolder = dir.path();
        const SendResult o = send(mailer, server.settings(), mail);
        QVERIFY2(o.sent(), qPrintable(o.errorText));
    }
    QVERIFY(server.waitForMessages(2, 10000));
    const QList<test::ReceivedMessage> received = server.messages();
    for (qsizetype i = 0; i < 2; ++i) {
        const test::ReceivedMessage &m = received[i];
        QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u"; ")));
        QVERIFY(!QString::fromLatin1(m.raw).contains(bccHeader));
        // The layout: [mixed: ] related: (alternative: text, html), picture [, the document].
        QStringList layout;
        for (const auto &part : m.parts)
            layout.append(part.path + u' ' + part.contentType + u' ' + part.disposition);
        const QString in = i == 0 ? u"0"_s : u"0.0"_s;
        QStringList expected{in + u" multipart/related "_s, in + u".0 multipart/alternative "_s,
                             in + u".0.0 text/plain "_s, in + u".0.1 text/html "_s, in + u".1 image/png inline"_s};
        if (i == 1)
            expected = QStringList{u"0 multipart/mixed "_s} + expected + QStringList{u"0.1 application/pdf attachment"_s};
        QCOMPARE(layout, expected);
        const auto picture = m.parts[layout.indexOf(in + u".1 image/png inline"_s)];
        QCOMPARE(picture.data, png);
        QCOMPARE(picture.fileName, u"logo.png"_s);
        // Both pictures of the body are the one inline part; nothing fetched, nothing run.
        QVERIFY(picture.contentId.startsWith(u'<') && picture.contentId.endsWith(u'>'));
        const QString cid = u"cid:"_s + picture.contentId.mid(1, picture.contentId.size() - 2);
        QCOMPARE(m.html.count(u"src=\""_s + cid + u'"'), 2);
        QCOMPARE(m.html.count(u"<img"_s), 2);
        QVERIFY(!m.html.contains(u"track.example"_s) && !m.html.contains(u"script"_s) &&
                !m.html.contains(u"onerror"_s));
        QVERIFY(m.html.contains(u"<p>Dear Smith &amp; &lt;Co&gt; &quot;O&#39;Neil&quot;,</p>"_s));
        QVERIFY(m.html.contains(u"href=\"https://ex.org/i?id=42\""_s));
        QCOMPARE(m.body, u"Dear Smith & <Co> \"O'Neil\",\r\n\r\nsee your invoice <https://ex.org/i?id=42>.\r\n\r\n"
                         "Logo"_s);
        if (i == 1)
            QCOMPARE(m.attachments.last().fileName, u"Invoice_42.pdf"_s);
        QVERIFY2(headersAreSevenBit(m.wire), "8-bit header");
    }
}

void TestMailSend::formattedBodySendsOnlyPicturesOfItsFolder_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("said");
    QTest::newRow("missing") << u"nothere.png"_s << u"does not exist"_s;
    QTest::newRow("up and out") << u"../secret.png"_s << u"is not a path inside the body's folder"_s;
    QTest::newRow("absolute path") << u"file:///etc/passwd"_s << QString(); // not relative: dropped, not read
    QTest::newRow("link leading out") << u"out.png"_s << u"leads out of the body's folder"_s;
    QTest::newRow("a folder") << u"sub"_s << u"is no file"_s;
    QTest::newRow("not a picture") << u"notes.txt"_s << u"is no picture"_s;
}

void TestMailSend::formattedBodySendsOnlyPicturesOfItsFolder()
{
    QFETCH(QString, source);
    QFETCH(QString, said);
    QTemporaryDir outer;
    writeFile(outer, u"secret.png"_s, "\x89PNG\r\n\x1a\nsecret");
    QDir(outer.path()).mkpath(u"body/sub"_s);
    const QString folder = outer.filePath(u"body"_s);
    writeFile(outer, u"body/notes.txt"_s, "just text");
    QVERIFY(QFile::link(outer.filePath(u"secret.png"_s), folder + u"/out.png"_s));
    SmtpServer server;
    SmtpMailer mailer;
    MailMessage mail = message(u"c@example.org"_s);
    mail.HtmlBody = u"<p>Hi <img src=\""_s + source + u"\"></p>"_s;
    mail.HtmlBaseFolder = folder;
    const SendResult o = send(mailer, server.settings(), mail);
    if (said.isEmpty()) {
        QVERIFY(o.sent());
        QVERIFY(server.waitForMessages(1, 10000));
        QCOMPARE(server.messages().first().parts.size(), 3); // alternative: text, html; no picture
        QVERIFY(!server.messages().first().raw.contains("passwd"));
        return;
    }
    QCOMPARE(o.status, SendStatus::Refused);
    QVERIFY2(o.errorText.contains(said), qPrintable(o.errorText));
    QVERIFY(nothingReachedServer(server));
}

QTEST_GUILESS_MAIN(TestMailSend)
#include "tst_mailsend.moc"
