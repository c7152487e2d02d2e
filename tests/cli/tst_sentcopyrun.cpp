// A run with the copy in Sent on, through the quorvale program against a real SMTP server
// (aiosmtpd) and a real IMAP server (Dovecot): each client's exact message lands in Sent, and a copy
// that fails is journalled, tried again once and counted, while the client's send stays sent.

#include "support/dovecotfixture.h"
#include "support/programhome.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QTest>

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
        QTest::newRow("copies made") << u"user"_s << QStringList{u"sent 42"_s, u"sent 7"_s} << QString();
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
};

QTEST_GUILESS_MAIN(TestSentCopyRun)
#include "tst_sentcopyrun.moc"
