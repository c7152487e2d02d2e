// The hand-off to the computer's mail queue, against a stand-in sendmail that keeps its arguments
// and its standard input: the envelope goes as separate arguments after "--", the message's exact
// bytes (an attachment streamed in multipart/mixed) on standard input, and the exit status and
// error output decide the result.

#include "mail/messagebuilder.h"
#include "mail/queuemailer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;
using namespace quorvale;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray withoutDate(QByteArray message)
{
    const qsizetype date = message.indexOf("Date: ");
    return date < 0 ? message : message.remove(date, message.indexOf("\r\n", date) + 2 - date);
}

bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body) < 0)
        return false;
    file.close();
    return file.setPermissions(file.permissions() | QFile::ExeOwner);
}

} // namespace

class TestQueueMailer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handsTheExactMessageToSendmail_data()
    {
        QTest::addColumn<QString>("attachment"); // content of an attachment; empty: none
        QTest::addColumn<QString>("more");       // content of a second attachment; empty: none
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("exitWith"); // "": 0; else the stand-in's exit status and error
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason"); // in the error text
        const int sent = int(SendStatus::Sent);
        const int refused = int(SendStatus::Refused);
        QTest::newRow("plain message") << QString() << QString() << QString() << QString() << QString() << sent << QString();
        QTest::newRow("archive copy is a second recipient")
            << QString() << QString() << QString() << u"archive@example.org"_s << QString() << sent << QString();
        QTest::newRow("attachment streamed as multipart/mixed")
            << u"Invoice 42, total 100.00"_s << QString() << QString() << QString() << QString() << sent << QString();
        QTest::newRow("formatted body with attachment")
            << u"Invoice 7"_s << QString() << u"<p>Dear <b>client</b></p>"_s << QString() << QString() << sent << QString();
        QTest::newRow("exit status 75: refused with sendmail's words")
            << QString() << QString() << QString() << QString() << u"75 postdrop: warning: unable to look up public/pickup"_s
            << refused << u"(%1 exit status 75): postdrop: warning: unable to look up public/pickup"_s;
        QTest::newRow("exit status 1 without words")
            << QString() << QString() << QString() << QString() << u"1"_s << refused << u"exit status 1)."_s;
        // A client owed two documents gets both in the one message, never only the first.
        QTest::newRow("two documents, both streamed")
            << u"Invoice 42"_s << u"Statement 42"_s << QString() << QString() << QString() << sent << QString();
        QTest::newRow("two documents with a formatted body")
            << u"Invoice 7"_s << u"Statement 7"_s << u"<p>Dear client</p>"_s << QString() << QString() << sent
            << QString();
    }

    void handsTheExactMessageToSendmail()
    {
        QFETCH(QString, attachment);
        QFETCH(QString, more);
        QFETCH(QString, html);
        QFETCH(QString, archive);
        QFETCH(QString, exitWith);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString program = dir.filePath(u"sendmail"_s);
        QByteArray body = "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\ncat > \"$0.in\"\n";
        if (!exitWith.isEmpty()) {
            const QString words = exitWith.section(u' ', 1);
            if (!words.isEmpty())
                body += "echo '" + words.toUtf8() + "' >&2\n";
            body += "exit " + exitWith.section(u' ', 0, 0).toUtf8() + "\n";
        }
        QVERIFY(writeScript(program, body));

        MailMessage message{u"anna@example.org"_s, QString(), u"Your invoice"_s, u"Dear client\n.\nBye"_s};
        message.EmailFrom = u"office@example.com"_s;
        message.MessageId = "<run1.42@example.com>";
        message.ArchiveCopyTo = archive;
        message.HtmlBody = html;
        if (!attachment.isEmpty()) {
            message.AttachmentPath = dir.filePath(u"Invoice_42.pdf"_s);
            QFile file(message.AttachmentPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(attachment.toUtf8());
        }
        if (!more.isEmpty()) {
            const QString path = dir.filePath(u"Statement_42.pdf"_s);
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(more.toUtf8());
            file.close();
            message.MoreAttachments.append({path, platform::fileIdentity(path)});
        }
        QueueMailer mailer(QueueOptions{.program = program});
        QList<int> percents;
        const SendResult result =
            mailer.send(message, MailServer{.method = MailServer::Method::Queue},
                        {.percentDone = [&percents](int p) { percents.append(p); }, .keepSentMessage = true});
        QCOMPARE(int(result.status), status);
        QVERIFY2(result.errorText.contains(reason.arg(program)), qPrintable(result.errorText));

        QStringList expected{u"-i"_s, u"-f"_s, u"office@example.com"_s, u"--"_s, u"anna@example.org"_s};
        if (!archive.isEmpty())
            expected << archive;
        QCOMPARE(QString::fromUtf8(readAll(program + u".args"_s)).split(u'\n', Qt::SkipEmptyParts), expected);
        const QByteArray in = readAll(program + u".in"_s);
        if (status != int(SendStatus::Sent))
            return;
        QCOMPARE(result.serverReply, QString(kQueuedReply));
        QCOMPARE(in, result.sentMessage);
        QCOMPARE(percents.last(), 100);
        QVERIFY(in.contains("\r\nTo: anna@example.org\r\n"));
        QVERIFY(!in.contains("archive@example.org"));
        if (attachment.isEmpty()) {
            // The message exactly as built, but for its Date.
            QCOMPARE(withoutDate(in), withoutDate(buildMessage(message).singlePart()));
            return;
        }
        // One multipart/mixed entity: the text first, then the file as base64, closed by its boundary.
        QVERIFY(in.startsWith("Content-Type: multipart/mixed; boundary="));
        const QByteArray first = in.left(in.indexOf("\r\n"));
        const QByteArray boundary = first.mid(first.indexOf('=') + 1);
        QCOMPARE(in.count(QByteArray("--" + boundary + "\r\n")), more.isEmpty() ? 2 : 3);
        QVERIFY(in.endsWith(QByteArray("\r\n--" + boundary + "--\r\n")));
        QVERIFY(in.contains(attachment.toUtf8().toBase64()));
        if (!more.isEmpty()) {
            QVERIFY(in.contains(more.toUtf8().toBase64()));
            QVERIFY(in.contains("filename=\"Statement_42.pdf\""));
            QVERIFY(in.indexOf("Invoice_42.pdf") < in.indexOf("Statement_42.pdf"));
        }
        QVERIFY(in.contains(html.isEmpty() ? "Content-Type: text/plain; charset=UTF-8" : "multipart/alternative"));
    }

    void anUnfinishedHandOffIsNeverReportedAsSent_data()
    {
        QTest::addColumn<QByteArray>("script"); // the stand-in's commands; "queued" marks a message it took
        QTest::addColumn<QString>("midway"); // once the first chunk went: "abort" the send, "shrink" the file
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("queued");
        const QByteArray takes = "cat > \"$0.in\" && touch \"$0.queued\"\n";
        // The program is killed, not given the end of its input: a cut-off message is never queued.
        QTest::newRow("aborted midway") << takes << u"abort"_s << int(SendStatus::NotSentAborted)
                                        << u"The send was aborted."_s << false;
        // A file cut short while it is read: the message is never completed with what is left.
        QTest::newRow("the document cut short") << takes << u"shrink"_s << int(SendStatus::Refused)
                                                << u"could not be read while sending"_s << false;
        QTest::newRow("killed by a signal") << QByteArray("cat > /dev/null\nkill -9 $$\n") << QString()
                                            << int(SendStatus::Refused) << u"ended abnormally"_s << false;
        QTest::newRow("no end within the time") << QByteArray(takes + "sleep 30\n") << QString()
                                                << int(SendStatus::MaybeDelivered) << u"it may have been queued"_s
                                                << true;
    }

    void anUnfinishedHandOffIsNeverReportedAsSent()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, midway);
        QFETCH(int, status);
        QFETCH(QString, reason);
        QFETCH(bool, queued);
        QTemporaryDir dir;
        const QString program = dir.filePath(u"sendmail"_s);
        QVERIFY(writeScript(program, script));
        MailMessage message{u"anna@example.org"_s, QString(), u"S"_s, u"B"_s};
        // Aborted or cut short: far more than a pipe holds, so that the hand-off takes many chunks.
        message.AttachmentPath = dir.filePath(u"Invoice_42.pdf"_s);
        QFile file(message.AttachmentPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(QByteArray(midway.isEmpty() ? 1024 : 4 * 1024 * 1024, 'x')) > 0);
        file.close();
        bool started = false;
        QueueMailer mailer(QueueOptions{.program = program, .timeoutSeconds = 2});
        const SendResult result = mailer.send(message, MailServer{.method = MailServer::Method::Queue},
                                              {.percentDone =
                                                   [&](int) {
                                                       if (!started && midway == "shrink"_L1)
                                                           QFile::resize(message.AttachmentPath, 1000);
                                                       started = true;
                                                   },
                                               .aborted = [&] { return midway == "abort"_L1 && started; }});
        QCOMPARE(int(result.status), status);
        QVERIFY2(result.errorText.contains(reason), qPrintable(result.errorText));
        QVERIFY(result.sentMessage.isEmpty());
        QCOMPARE(QFile::exists(program + u".queued"_s), queued);
    }

    void refusesBeforeAnythingWhenSendmailIsMissingOrTheSendAborted()
    {
        QTemporaryDir dir;
        const MailMessage message{u"anna@example.org"_s, QString(), u"S"_s, u"B"_s};
        QueueMailer missing(QueueOptions{.program = dir.filePath(u"sendmail"_s)});
        const MailServer queue{.method = MailServer::Method::Queue};
        QVERIFY(missing.unusable(queue).contains(u"is not there"_s));
        QCOMPARE(missing.send(message, queue).status, SendStatus::NotAttempted);

        const QString program = dir.filePath(u"sendmail"_s);
        QVERIFY(writeScript(program, "cat > \"$0.in\"\n"));
        QueueMailer mailer(QueueOptions{.program = program});
        QVERIFY(mailer.unusable(queue).isEmpty());
        const SendResult aborted = mailer.send(message, queue, {.aborted = [] { return true; }});
        QCOMPARE(aborted.status, SendStatus::NotSentAborted);
        QVERIFY(!QFile::exists(program + u".in"_s));

        // A document replaced since it was found, first or further: nothing reaches the program.
        for (const bool further : {false, true}) {
            const QString first = dir.filePath(u"Invoice_42.pdf"_s);
            const QString second = dir.filePath(u"Statement_42.pdf"_s);
            for (const QString &path : {first, second}) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write("as found");
            }
            MailMessage replaced = message;
            replaced.AttachmentPath = first;
            replaced.AttachmentIdentity = platform::fileIdentity(first);
            replaced.MoreAttachments = {{second, platform::fileIdentity(second)}};
            const QString swapped = further ? second : first;
            QVERIFY(QFile::remove(swapped));
            QFile file(swapped);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("swapped in");
            file.close();
            const SendResult refused = mailer.send(replaced, queue);
            QCOMPARE(refused.status, SendStatus::Refused);
            QVERIFY2(refused.errorText.contains(u"is no longer the file that was chosen"_s), qPrintable(refused.errorText));
            QVERIFY(!QFile::exists(program + u".in"_s));
        }

        // One send at a time in the whole program: one started from inside a send is refused.
        std::optional<SendResult> nested;
        const SendResult outer = mailer.send(message, queue, {.percentDone = [&](int) {
                                                 if (!nested)
                                                     nested = mailer.send(message, queue);
                                             }});
        QCOMPARE(outer.status, SendStatus::Sent);
        QVERIFY(nested);
        QCOMPARE(nested->status, SendStatus::Refused);
        QVERIFY(nested->errorText.startsWith(u"Another message is being sent"_s));
    }
};

QTEST_GUILESS_MAIN(TestQueueMailer)
#include "tst_queuemailer.moc"
