// The pieces of message composition that need no server: address checks, header and body
// encodings, the attachment encoding cache and the one-send-at-a-time gate.

#include "mail/attachmentcache.h"
#include "mail/mimeencode.h"
#include "mail/sendgate.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QThread>

#include <atomic>
#include <thread>

using namespace Qt::StringLiterals;
using namespace quorvale;

namespace {

QByteArray decodeQuotedPrintable(const QByteArray &encoded)
{
    QByteArray out;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '=') {
            out += encoded[i];
        } else if (encoded.mid(i + 1, 2) == "\r\n") {
            i += 2; // soft line break
        } else {
            out += char(encoded.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        }
    }
    return out;
}

/// The text of a header value made of RFC 2047 words: their decoded bytes joined.
QString decodeEncodedWords(const QByteArray &value)
{
    QByteArray bytes;
    for (QByteArray word : value.split('\n')) {
        word = word.trimmed();
        if (!word.startsWith("=?UTF-8?B?") || !word.endsWith("?="))
            return u"<not an encoded word: "_s + QString::fromLatin1(word) + u'>';
        bytes += QByteArray::fromBase64(word.mid(10, word.size() - 12));
    }
    return QString::fromUtf8(bytes);
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &c : data)
        c = char(generator.bounded(256));
    return data;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TestMimeEncode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addressCheck_data();
    void addressCheck();
    void lineEndsBecomeCrLf_data();
    void lineEndsBecomeCrLf();
    void quotedPrintableIsSafeAndLossless_data();
    void quotedPrintableIsSafeAndLossless();
    void headerText_data();
    void headerText();
    void attachmentFileName_data();
    void attachmentFileName();
    void dateHeader_data();
    void dateHeader();
    void messageIdDomain_data();
    void messageIdDomain();
    void recognisesOneMessageId_data();
    void recognisesOneMessageId();
    void cachedEncodingMatchesFile_data();
    void cachedEncodingMatchesFile();
    void fileChangedWhileStreamingFails_data();
    void fileChangedWhileStreamingFails();
    void cacheEncodesOnlyRepeatedUnchangedFiles();
    void gateRefusesNestingAndLetsOthersWait();
    void gateWaitEndsOnAbort();
};

void TestMimeEncode::addressCheck_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain") << u"client@example.org"_s << true;
    QTest::newRow("empty (null sender)") << QString() << true;
    QTest::newRow("non-ASCII") << u"zoë@bücher.example"_s << true;
    QTest::newRow("CR") << u"a@b.c\rRCPT TO:<x@y.z>"_s << false;
    QTest::newRow("LF") << u"a@b.c\n"_s << false;
    QTest::newRow("tab") << u"a@b.c\tx"_s << false;
    QTest::newRow("NUL") << u"a@b.c"_s + QChar(0) << false;
    QTest::newRow("DEL") << u"a@b.c\x7f"_s << false;
    QTest::newRow("next line (C1)") << u"a@b.c\u0085"_s << false;
    QTest::newRow("closing bracket") << u"a@b.c> SIZE=1"_s << false;
    QTest::newRow("opening bracket") << u"Name <a@b.c"_s << false;
}

void TestMimeEncode::addressCheck()
{
    QFETCH(QString, address);
    QFETCH(bool, usable);
    QCOMPARE(mime::addressProblem(address).isEmpty(), usable);
}

void TestMimeEncode::lineEndsBecomeCrLf_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("LF") << u"a\nb\n"_s << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR LF kept") << u"a\r\nb"_s << QByteArray("a\r\nb");
    QTest::newRow("CR") << u"a\rb"_s << QByteArray("a\r\nb");
    QTest::newRow("LF CR is two") << u"a\n\rb"_s << QByteArray("a\r\n\r\nb");
    QTest::newRow("UTF-8") << u"ä\n"_s << QByteArray("\xc3\xa4\r\n");
}

void TestMimeEncode::lineEndsBecomeCrLf()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(mime::crlfLines(text), expected);
}

void TestMimeEncode::quotedPrintableIsSafeAndLossless_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("equals sign") << QByteArray("a=b==");
    QTest::newRow("blanks before line ends") << QByteArray("x \r\ny\t\r\n \r\nend ");
    QTest::newRow("long ASCII line") << QByteArray(300, 'x');
    QTest::newRow("long UTF-8 line") << QString(100, u'é').toUtf8();
    QTest::newRow("escapes at the wrap") << QByteArray(74, 'x') + "\xff\xfe" + QByteArray(73, 'y') + "=";
    QTest::newRow("lone CR and LF") << QByteArray("a\rb\nc\r\n");
    QTest::newRow("every byte") << randomBytes(5000);
}

void TestMimeEncode::quotedPrintableIsSafeAndLossless()
{
    QFETCH(QByteArray, data);
    const QByteArray encoded = mime::quotedPrintable(data);
    QCOMPARE(decodeQuotedPrintable(encoded), data);
    for (const QByteArray &line : encoded.split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        QVERIFY2(text.size() <= 76, text.constData());
        QVERIFY2(!text.endsWith(' ') && !text.endsWith('\t'), text.constData());
        for (char c : text)
            QVERIFY2(c >= 33 && c <= 126 ? true : c == ' ' || c == '\t', text.constData());
    }
}

void TestMimeEncode::headerText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("asIs");
    QTest::newRow("ASCII") << u"Your tax return 2026"_s << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("umlauts") << u"Grüße"_s << false;
    QTest::newRow("emoji across words") << QString(40, u' ').replace(u" "_s, u"🙂"_s) << false;
    QTest::newRow("long CJK") << QString(200, u'漢') << false;
    QTest::newRow("literal encoded word") << u"=?UTF-8?B?SGk=?="_s << false;
    QTest::newRow("outer blanks") << u" x "_s << false;
    QTest::newRow("double blank") << u"a  b"_s << false;
    QTest::newRow("tab") << u"a\tb"_s << false;
    QTest::newRow("too long for one line") << QString(1000, u'a') << false;
}

void TestMimeEncode::headerText()
{
    QFETCH(QString, text);
    QFETCH(bool, asIs);
    const QByteArray value = mime::encodeHeaderText(text);
    if (asIs) {
        QCOMPARE(value, text.toLatin1());
        return;
    }
    QCOMPARE(decodeEncodedWords(value), text);
    QVERIFY(!value.contains('\r') || value.count("\r\n") == value.count('\r'));
    for (const QByteArray &line : value.split('\n')) {
        QVERIFY2(line.trimmed().size() <= 75, line.constData());
        // Each word decodes on its own: no character is cut in two.
        const QByteArray word = line.trimmed();
        const QByteArray bytes = QByteArray::fromBase64(word.mid(10, word.size() - 12));
        QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
    }
}

void TestMimeEncode::attachmentFileName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ASCII") << u"Invoice 17.pdf"_s
                           << QByteArray("Content-Disposition: attachment; filename=\"Invoice 17.pdf\"");
    QTest::newRow("umlaut") << u"Bericht_ä.pdf"_s
                            << QByteArray("Content-Disposition: attachment; filename*=UTF-8''Bericht_%C3%A4.pdf");
    QTest::newRow("quote and semicolon") << u"a\"b;c.txt"_s
                                         << QByteArray("Content-Disposition: attachment; filename*=UTF-8''a%22b%3Bc.txt");
    QTest::newRow("line break") << u"x\r\nBcc: y"_s
                                << QByteArray("Content-Disposition: attachment; filename*=UTF-8''x%0D%0ABcc%3A%20y");
    QTest::newRow("percent and star") << u"100% *ü.txt"_s
                                      << QByteArray("Content-Disposition: attachment; filename*=UTF-8''100%25%20%2A%C3%BC.txt");
}

void TestMimeEncode::attachmentFileName()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, expected);
    QCOMPARE(mime::attachmentDisposition(fileName), expected);
}

void TestMimeEncode::dateHeader_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("UTC") << QDateTime(QDate(2026, 12, 7), QTime(4, 38, 44), Qt::UTC)
                         << QByteArray("Mon, 07 Dec 2026 04:38:44 +0000");
    QTest::newRow("east") << QDateTime(QDate(2026, 1, 2), QTime(13, 4, 5), Qt::OffsetFromUTC, 3600)
                          << QByteArray("Fri, 02 Jan 2026 13:04:05 +0100");
    QTest::newRow("west, half hour") << QDateTime(QDate(2026, 6, 28), QTime(23, 59, 59), Qt::OffsetFromUTC, -12600)
                                     << QByteArray("Sun, 28 Jun 2026 23:59:59 -0330");
}

void TestMimeEncode::dateHeader()
{
    QFETCH(QDateTime, when);
    QFETCH(QByteArray, expected);
    QCOMPARE(mime::rfc2822Date(when), expected);
}

void TestMimeEncode::messageIdDomain_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QByteArray>("domain");
    QTest::newRow("sender's domain") << u"office@practice.example"_s << QByteArray("@practice.example>");
    QTest::newRow("no sender") << QString() << QByteArray("@quorvale.localhost>");
    QTest::newRow("no domain") << u"office@"_s << QByteArray("@quorvale.localhost>");
    QTest::newRow("non-ASCII domain") << u"a@bücher.example"_s << QByteArray("@quorvale.localhost>");
}

void TestMimeEncode::messageIdDomain()
{
    QFETCH(QString, from);
    QFETCH(QByteArray, domain);
    const QByteArray id = mime::newMessageId(from);
    QVERIFY2(id.startsWith('<') && id.endsWith(domain), id.constData());
    QVERIFY(id != mime::newMessageId(from));
    // A run's Message-ID: the run's start, the message's number and the client's line, readable,
    // in the same domain, and never the same twice for the same run and client.
    const QDateTime start(QDate(2026, 12, 7), QTime(23, 5, 9, 12), QTimeZone::utc());
    const QByteArray run = mime::runMessageId(start, 3, 42, from);
    QVERIFY2(run.startsWith("<20261207230509012.3.42.") && run.endsWith(domain), run.constData());
    QVERIFY(mime::isMessageId(run));
    QVERIFY(mime::isMessageId(id));
    QVERIFY(run != mime::runMessageId(start, 3, 42, from));
}

void TestMimeEncode::recognisesOneMessageId_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << QByteArray("<a.b.c@practice.example>") << true;
    QTest::newRow("no brackets") << QByteArray("a@practice.example") << false;
    QTest::newRow("no at") << QByteArray("<abc>") << false;
    QTest::newRow("two ats") << QByteArray("<a@b@c>") << false;
    QTest::newRow("empty left") << QByteArray("<@b>") << false;
    QTest::newRow("line break") << QByteArray("<a@b>\r\nBcc: x@y") << false;
    QTest::newRow("inner line break") << QByteArray("<a\r\nBcc: x@y>") << false;
    QTest::newRow("blank") << QByteArray("<a b@c>") << false;
    QTest::newRow("second id") << QByteArray("<a@b> <c@d>") << false;
    QTest::newRow("non-ASCII") << QByteArray("<a@b\xc3\xbc>") << false;
}

void TestMimeEncode::recognisesOneMessageId()
{
    QFETCH(QByteArray, id);
    QFETCH(bool, valid);
    QCOMPARE(mime::isMessageId(id), valid);
}

void TestMimeEncode::cachedEncodingMatchesFile_data()
{
    QTest::addColumn<int>("size");
    for (int size : {0, 1, 2, 56, 57, 58, 57 * 1024 - 1, 57 * 1024, 57 * 1024 + 1, 300'001})
        QTest::addRow("%d bytes", size) << size;
}

void TestMimeEncode::cachedEncodingMatchesFile()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    const QByteArray data = randomBytes(size);
    writeFile(dir.filePath(u"in"_s), data);
    QVERIFY(AttachmentCache::encodeFile(dir.filePath(u"in"_s), dir.filePath(u"out"_s)));
    QFile out(dir.filePath(u"out"_s));
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QByteArray encoded = out.readAll();
    const QList<QByteArray> lines = encoded.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool last = i + 1 == lines.size();
        QVERIFY(last ? !lines[i].endsWith('\r') : lines[i].endsWith('\r'));
        QVERIFY(lines[i].size() <= (last ? 76 : 77));
    }
    QCOMPARE(QByteArray(encoded).replace("\r\n", ""), data.toBase64());

    // Streamed in small odd pieces, the stream is the same and exactly as long as announced.
    Base64FileReader reader(dir.filePath(u"in"_s));
    QVERIFY(reader.open());
    QCOMPARE(reader.encodedSize(), encoded.size());
    QByteArray streamed;
    char piece[1000];
    for (qint64 n = 0; (n = reader.read(piece, 997)) > 0;)
        streamed.append(piece, n);
    QCOMPARE(streamed, encoded);
    QVERIFY(reader.rewind());
    QCOMPARE(reader.read(piece, 10), qMin<qint64>(10, encoded.size()));
}

void TestMimeEncode::fileChangedWhileStreamingFails_data()
{
    QTest::addColumn<qint64>("newSize");
    QTest::newRow("shrunk") << qint64(1000);
    QTest::newRow("grew") << qint64(400'000);
}

void TestMimeEncode::fileChangedWhileStreamingFails()
{
    QFETCH(qint64, newSize);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"doc.pdf"_s);
    writeFile(path, randomBytes(200'000));
    Base64FileReader reader(path);
    QVERIFY(reader.open());
    char piece[4096];
    QVERIFY(reader.read(piece, sizeof piece) > 0);
    writeFile(path, randomBytes(newSize));
    qint64 n = 0;
    while ((n = reader.read(piece, sizeof piece)) > 0) {
    }
    QCOMPARE(n, -1);
    QVERIFY(reader.failed());
}

void TestMimeEncode::cacheEncodesOnlyRepeatedUnchangedFiles()
{
    QTemporaryDir dir;
    const QString common = dir.filePath(u"common.pdf"_s);
    const QString other = dir.filePath(u"C1.pdf"_s);
    writeFile(common, "first version");
    writeFile(other, "client document");

    // Without a data folder nothing is kept, in no folder of the user's: every send streams the file.
    AttachmentCache none;
    QCOMPARE(none.sourceFor(common).path, common);
    QCOMPARE(none.sourceFor(common).path, common);

    AttachmentCache cache;
    cache.setDataFolder(dir.filePath(u"data"_s));

    // A file sent once (a client's own document) is never copied.
    AttachmentCache::Source source = cache.sourceFor(common);
    QCOMPARE(source.path, common);
    QVERIFY(!source.base64Encoded);

    // The second send of the same file encodes it once; later sends reuse that.
    source = cache.sourceFor(common);
    QVERIFY(source.base64Encoded);
    QVERIFY(source.path != common);
    const QString encodedPath = source.path;
    QCOMPARE(cache.sourceFor(common).path, encodedPath);
    QFile encoded(encodedPath);
    QVERIFY(encoded.open(QIODevice::ReadOnly));
    QCOMPARE(QByteArray::fromBase64(encoded.readAll()), QByteArray("first version"));
    QCOMPARE(encoded.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
    encoded.close();

    // Another file in between does not disturb it.
    QCOMPARE(cache.sourceFor(other).path, other);
    QVERIFY(cache.sourceFor(common).base64Encoded);

    // A changed file is read afresh, never from the old encoding.
    QThread::msleep(20);
    writeFile(common, "second, longer version");
    source = cache.sourceFor(common);
    QCOMPARE(source.path, common);
    QVERIFY(!source.base64Encoded);
    source = cache.sourceFor(common);
    QVERIFY(source.base64Encoded);
    QVERIFY(encoded.open(QIODevice::ReadOnly));
    QCOMPARE(QByteArray::fromBase64(encoded.readAll()), QByteArray("second, longer version"));

    // A missing file is handed on as it is (the send reports it).
    const QString missing = dir.filePath(u"gone.pdf"_s);
    QCOMPARE(cache.sourceFor(missing).path, missing);
    QCOMPARE(cache.sourceFor(missing).path, missing);
}

void TestMimeEncode::gateRefusesNestingAndLetsOthersWait()
{
    SendGate gate;
    QCOMPARE(gate.enter({}, std::chrono::milliseconds(10)), SendGate::Entry::Entered);
    QCOMPARE(gate.enter({}, std::chrono::milliseconds(10)), SendGate::Entry::Nested);

    std::atomic<bool> released{false};
    std::atomic<bool> enteredBeforeRelease{false};
    std::atomic<int> polls{0};
    std::thread other([&] {
        const auto entry = gate.enter([&] { ++polls; return false; }, std::chrono::milliseconds(5));
        enteredBeforeRelease = !released.load();
        if (entry == SendGate::Entry::Entered)
            gate.leave();
    });
    while (polls.load() < 3)
        QThread::msleep(1);
    released = true;
    gate.leave();
    other.join();
    QVERIFY(!enteredBeforeRelease.load());
    QCOMPARE(gate.enter({}, std::chrono::milliseconds(10)), SendGate::Entry::Entered);
    gate.leave();
}

void TestMimeEncode::gateWaitEndsOnAbort()
{
    SendGate gate;
    QCOMPARE(gate.enter({}, std::chrono::milliseconds(10)), SendGate::Entry::Entered);
    SendGate::Entry entry = SendGate::Entry::Entered;
    int polls = 0;
    std::thread other([&] { entry = gate.enter([&] { return ++polls == 3; }, std::chrono::milliseconds(5)); });
    other.join();
    QCOMPARE(entry, SendGate::Entry::Aborted);
    QCOMPARE(polls, 3);
    gate.leave();
}

QTEST_GUILESS_MAIN(TestMimeEncode)
#include "tst_mimeencode.moc"
