// A run with the copy in Sent on, through the quorvale program against a real SMTP server
// (aiosmtpd) and a real IMAP server (Dovecot): each client's exact message lands in Sent, and a copy
// that fails is journalled, tried again once and counted, while the client's send stays sent. A copy
// that a run killed after a send never made is made by the resume, once.

#include "support/dovecotfixture.h"
#include "support/programhome.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::ProgramHome;
using quorvale::test::SmtpServer;

namespace {

/// The events of the run journals' client lines, in order, with their client IDs ("sent 42").
QStringList journalEvents(const ProgramHome &home)
{
    QStringList events;
    const QDir runs(home.journalFolder());
    for (const QString &name : runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name)) {
        QFile file(runs.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(u"\r\n"_s)) {
            const QStringList fields = line.split(u',');
            if (fields.value(2).toInt() <= 0 || fields.value(1) == u"client"_s || fields.value(1) == u"attempting"_s)
                continue;
            events << fields.value(1) + u' ' + fields.value(3);
        }
    }
    return events;
}

/// The newest run journal of `home`, cut after its first line for which `keep` is false (the line
/// itself kept when `withIt`): as a run killed there leaves it.
bool cutNewestJournal(const ProgramHome &home, const std::function<bool(const QStringList &)> &keep, bool withIt)
{
    const QDir runs(home.journalFolder());
    const QStringList names = runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name);
    QFile file(runs.filePath(names.value(names.size() - 1)));
    if (names.isEmpty() || !file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray text = file.readAll();
    QByteArray kept;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const bool goOn = keep(QString::fromUtf8(line).trimmed().split(u','));
        if (goOn || withIt)
            kept += line + '\n';
        if (!goOn)
            break;
    }
    return kept != text && file.resize(0) && file.write(kept) == kept.size();
}

QByteArray messageIdOf(const QByteArray &message)
{
    for (const QByteArray &line : message.split('\n')) {
        if (line.startsWith("Message-ID: "))
            return line.mid(12).trimmed();
        if (line.trimmed().isEmpty())
            break;
    }
    return {};
}

} // namespace

class TestSentCopyRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachClientsMessageLandsInSent_data()
    {
        QTest::addColumn<QString>("imapUser");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QString>("summary"); // empty: no failed copy is reported
        QTest::newRow("copies made") << u"user"_s
                                     << QStringList{u"sent 42"_s, u"copied to sent 42"_s, u"sent 7"_s,
                                                    u"copied to sent 7"_s}
                                     << QString();
        QTest::newRow("IMAP refuses the login: sends stay sent")
            << u"someone else"_s
            << QStringList{u"sent 42"_s, u"copy in sent failed 42"_s, u"sent 7"_s, u"copy in sent failed 7"_s,
                           u"copy in sent failed 42"_s, u"copy in sent failed 7"_s}
            << u"Copies in Sent failed for 2 clients"_s;
    }

    void eachClientsMessageLandsInSent()
    {
        QFETCH(QString, imapUser);
        QFETCH(QStringList, events);
        QFETCH(QString, summary);
        ProgramHome home;
        SmtpServer smtp({.security = test::SmtpSecurity::StartTls});
        QVERIFY(smtp.isRunning());
        // The IMAP server knows the mail login only in the first case.
        test::DovecotServer imap({.user = imapUser});
        QVERIFY(imap.isRunning());
        QVERIFY(home.configure(smtp, {{u"SentCopy"_s, u"1"_s},
                                      {u"IMAPServer"_s, u"127.0.0.1"_s},
                                      {u"IMAPPort"_s, QString::number(imap.startTlsPort())}}));
        QVERIFY(home.writeFile(u"list.csv"_s, "42,anna@example.org\r\n7,bert@example.org\r\n"));
        const ProgramHome::Result r = home.run({u"run"_s, u"--yes"_s, u"--csv"_s, home.path(u"list.csv"_s),
                                                u"--subject"_s, u"Your documents"_s, u"--body"_s, u".Dear client"_s});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(u"Processing Complete"_s), qPrintable(r.out.join(u'\n')));
        QCOMPARE(journalEvents(home), events);
        QVERIFY(smtp.waitForMessages(2, 10000));
        // The test e-mail tests the copy too.
        const ProgramHome::Result tested = home.run({u"test-email"_s, u"office@example.org"_s});
        QCOMPARE(tested.exitCode, summary.isEmpty() ? 0 : 1);
        QVERIFY2(tested.out.contains(summary.isEmpty() ? u"The copy in the Sent folder was made."_s
                                                       : u"Email test bad or had problems!"_s),
                 qPrintable(tested.out.join(u'\n')));
        QVERIFY(smtp.waitForMessages(3, 10000));
        if (summary.isEmpty()) {
            QVERIFY(!r.err.contains(u"Copies in Sent"_s));
            const QList<test::StoredMessage> sent = imap.folder(u"Sent"_s);
            QCOMPARE(sent.size(), 3);
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(sent.at(i).bytes, smtp.messages().at(i).raw);
                QVERIFY(sent.at(i).seen);
            }
        } else {
            QVERIFY2(r.out.contains(summary), qPrintable(r.out.join(u'\n')));
            QVERIFY2(r.err.contains(summary), qPrintable(r.err));
        }
    }

    void aCopyCutOffByAKillIsMadeOnResumeOnce_data()
    {
        QTest::addColumn<bool>("copyThere");       // the killed run's copy was appended before the kill
        QTest::addColumn<bool>("documentChanged"); // client 7's document changed before the resume
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("copyEvent"); // the resume's journal line about client 7's first message
        QTest::newRow("copy missing") << false << false << u"Copy in Sent made - bert@example.org"_s
                                      << u"copied to sent"_s;
        QTest::newRow("copy in Sent already") << true << false << u"Copy in Sent already there - bert@example.org"_s
                                              << u"copied to sent"_s;
        QTest::newRow("document changed since")
            << false << true
            << u"No copy in Sent - bert@example.org (its document or message changed since it was sent)"_s
            << u"copy in sent not made"_s;
    }

    void aCopyCutOffByAKillIsMadeOnResumeOnce()
    {
        QFETCH(bool, copyThere);
        QFETCH(bool, documentChanged);
        QFETCH(QString, said);
        QFETCH(QString, copyEvent);
        ProgramHome home;
        SmtpServer smtp({.security = test::SmtpSecurity::StartTls});
        QVERIFY(smtp.isRunning());
        test::DovecotServer first;
        QVERIFY(first.isRunning());
        QVERIFY(home.configure(smtp, {{u"SentCopy"_s, u"1"_s},
                                      {u"IMAPServer"_s, u"127.0.0.1"_s},
                                      {u"IMAPPort"_s, QString::number(first.startTlsPort())}}));
        QVERIFY(home.writeFile(u"list.csv"_s, "42,anna@example.org\r\n7,bert@example.org\r\n"));
        QVERIFY(home.writeFile(u"Invoice_42.txt"_s, "Invoice of client 42\n"));
        QVERIFY(home.writeFile(u"Invoice_7.txt"_s, "Invoice of client 7\n"));
        const QStringList run{u"run"_s,     u"--yes"_s,  u"--resume"_s, u"--csv"_s, home.path(u"list.csv"_s),
                              u"--subject"_s, u"Invoice"_s, u"--body"_s, u"Dear client"_s, u"--mode"_s, u"client"_s};
        const ProgramHome::Result r = home.run(run);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(smtp.waitForMessages(2, 10000));
        QCOMPARE(first.folder(u"Sent"_s).size(), 2);
        // Killed after client 7's send was journalled, before its copy was: with the copy appended
        // (the mailbox has it), or before (a mailbox without it).
        QVERIFY(cutNewestJournal(home, [](const QStringList &f) { return !(f.value(1) == u"sent"_s && f.value(3) == u"7"_s); },
                                 true));
        std::unique_ptr<test::DovecotServer> other;
        if (!copyThere) {
            other = std::make_unique<test::DovecotServer>();
            QVERIFY(other->isRunning());
            QCOMPARE(home.run({u"config"_s, u"set"_s, u"IMAPPort"_s, QString::number(other->startTlsPort())}).exitCode, 0);
        }
        const test::DovecotServer &imap = copyThere ? first : *other;
        if (documentChanged)
            QVERIFY(home.writeFile(u"Invoice_7.txt"_s, "Invoice of client 7, corrected\n"));

        const ProgramHome::Result resumed = home.run(run);
        QVERIFY2(resumed.exitCode == 0, qPrintable(resumed.err + resumed.out.join(u'\n')));
        QVERIFY2(resumed.out.contains(said), qPrintable(resumed.out.join(u'\n')));
        QVERIFY2(resumed.out.contains(u"Copies in Sent missing from an earlier run - 1"_s), qPrintable(resumed.out.join(u'\n')));
        // Client 7 got one message, or a second one with its corrected document; client 42 none more.
        QVERIFY(smtp.waitForMessages(documentChanged ? 3 : 2, 10000));
        QCOMPARE(smtp.messages().size(), documentChanged ? 3 : 2);
        // Sent holds each message that went exactly once, by Message-ID.
        const QList<test::StoredMessage> sent = imap.folder(u"Sent"_s);
        QCOMPARE(sent.size(), copyThere ? 2 : 1);
        const QByteArray lastSent = messageIdOf(smtp.messages().last().raw);
        QVERIFY(!lastSent.isEmpty());
        QCOMPARE(messageIdOf(sent.last().bytes), lastSent);
        QVERIFY(sent.last().bytes.contains(QByteArray(documentChanged ? "Invoice of client 7, corrected\n"
                                                                      : "Invoice of client 7\n")
                                               .toBase64()));
        const QList<QStringList> lines = test::journalLines(home.journalFolder(), copyEvent);
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.last().value(3), u"7"_s);
        QVERIFY(lines.last().value(8).startsWith(QString::fromLatin1(messageIdOf(smtp.messages().at(1).raw))));

        // Killed again before its end: the next resume finds no copy missing and adds none.
        QVERIFY(cutNewestJournal(home, [](const QStringList &f) { return f.value(1) != u"completed"_s; }, false));
        const ProgramHome::Result again = home.run(run);
        QVERIFY2(again.exitCode == 0, qPrintable(again.err));
        QVERIFY2(!again.out.join(u'\n').contains(u"Copies in Sent missing"_s), qPrintable(again.out.join(u'\n')));
        QCOMPARE(imap.folder(u"Sent"_s).size(), copyThere ? 2 : 1);
        QCOMPARE(smtp.messages().size(), documentChanged ? 3 : 2);
    }
};

QTEST_GUILESS_MAIN(TestSentCopyRun)
#include "tst_sentcopyrun.moc"
