// `quorvale bounces` in this process against a real IMAP server (Dovecot) whose INBOX holds
// delivery reports put there by APPEND: each report is matched to the client of a run, printed and
// journalled once; the mailbox is left as it was.

#include "mail/imapclient.h"
#include "support/dovecotfixture.h"
#include "support/inprocesscli.h"
#include "support/programhome.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::InProcessCli;
using quorvale::test::journalLines;
using quorvale::test::ProgramHome;

namespace {

QByteArray sample(const QString &name)
{
    QFile file(QStringLiteral(QUORVALE_BOUNCE_SAMPLES) + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool appendToInbox(const test::DovecotServer &imap, const QByteArray &message)
{
    ImapServer server;
    server.host = u"127.0.0.1"_s;
    server.port = imap.startTlsPort();
    server.implicitTls = false;
    server.user = "user";
    server.secret = "secret";
    server.caBundle = QFile::encodeName(test::testCaFile());
    return ImapClient(server).append(u"INBOX"_s, message).isEmpty();
}

/// The test server's settings, and `imap` as the IMAP server.
bool configureWithImap(InProcessCli &cli, const test::DovecotServer &imap)
{
    if (!cli.configure())
        return false;
    for (const auto &[name, value] :
         {std::pair{u"IMAPServer"_s, u"127.0.0.1"_s}, std::pair{u"IMAPPort"_s, QString::number(imap.startTlsPort())}}) {
        if (cli.run({u"config"_s, u"set"_s, name, value}).exitCode != 0)
            return false;
    }
    return true;
}

} // namespace

class TestBounces : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportsAreMatchedPrintedAndJournalledOnce()
    {
        ProgramHome home;
        InProcessCli cli(home.root());
        test::DovecotServer imap;
        QVERIFY(imap.isRunning());
        QVERIFY(configureWithImap(cli, imap));
        QVERIFY(
            home.writeFile(u"list.csv"_s, "1,ann@client.example\r\n2,bob@client.example\r\n3,carl@client.example\r\n"));
        const InProcessCli::Result run = cli.run({u"run"_s, u"--yes"_s, u"--csv"_s, home.path(u"list.csv"_s),
                                                  u"--subject"_s, u"Invoice 17"_s, u"--body"_s, u"Dear client"_s});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(cli.mailer.messages().size(), 3);
        const QByteArray annId = cli.mailer.messages().at(0).MessageId;
        const QByteArray carlId = cli.mailer.messages().at(2).MessageId;
        QVERIFY(!annId.isEmpty());

        // Ann's by her message's Message-ID (a Postfix report); Bob's by address and subject, the
        // report's quoted headers lacking the Message-ID; Carl's only delayed; one of another
        // sender's messages.
        const QByteArray postfix = sample(u"postfix-dsn"_s)
                                       .replace("<20261207.091500.1.2.a1b2c3@practice.example>", annId)
                                       .replace("ann.old@client.example", "ann@client.example");
        const QByteArray standard =
            sample(u"standard-dsn"_s).replace("Message-ID: <20261201.080000.2.7.ffee@practice.example>\r\n", "");
        const QByteArray delayed = sample(u"delay-only"_s)
                                       .replace("<x.1@practice.example>", carlId)
                                       .replace("dave@client.example", "carl@client.example");
        const QByteArray foreign = sample(u"qmail-quoted"_s);
        // Ann's report comes twice (the server sent it again): she is named and journalled once.
        for (const QByteArray &message : {postfix, standard, delayed, foreign, postfix})
            QVERIFY(appendToInbox(imap, message));

        const QStringList expected{
            u"Bounced - ann@client.example (client 1): 5.1.1 550 5.1.1 <ann@client.example>: Recipient address "
            "rejected: User unknown in virtual mailbox table"_s,
            u"Bounced - bob@client.example (client 2): 5.2.2 552 5.2.2 Mailbox full"_s, u"Bounces found - 2"_s};
        for (int check = 0; check < 2; ++check) {
            const InProcessCli::Result r = cli.run({u"bounces"_s});
            QVERIFY2(r.exitCode == 1, qPrintable(r.err));
            QCOMPARE(r.out, expected);
            // Journalled by the first check only.
            const QList<QStringList> bounced = journalLines(home.journalFolder(), u"bounced"_s);
            QCOMPARE(bounced.size(), 2);
            QCOMPARE(bounced.at(0).value(3), u"1"_s);
            QVERIFY(bounced.at(0).value(8).startsWith(QString::fromLatin1(annId) + u" 5.1.1 550"_s));
        }
        // The check of the list names the addresses that bounced.
        const InProcessCli::Result checked = cli.run({u"check"_s, u"--csv"_s, home.path(u"list.csv"_s)});
        QCOMPARE(checked.exitCode, 1);
        QVERIFY2(checked.out.contains(expected.at(0)) && checked.out.contains(expected.at(1)),
                 qPrintable(checked.out.join(u'\n')));

        // Ann's address is corrected: a resend reaches her new one once; Bob's, in other letter case
        // only, is the same address: named and skipped.
        QVERIFY(
            home.writeFile(u"list.csv"_s, "1,ann@new.example\r\n2,Bob@client.example\r\n3,carl@client.example\r\n"));
        const QStringList resend{
            u"run"_s,       u"--yes"_s,      u"--resend-bounced"_s, u"--csv"_s,      home.path(u"list.csv"_s),
            u"--subject"_s, u"Invoice 17"_s, u"--body"_s,           u"Dear client"_s};
        // Only chosen clients are resent to: with Ann left out, there is nobody.
        const InProcessCli::Result leftOut = cli.run(resend + QStringList{u"--clients"_s, u"2"_s});
        QVERIFY2(leftOut.exitCode == 2, qPrintable(leftOut.err));
        QCOMPARE(cli.mailer.messages().size(), 3);
        const InProcessCli::Result resent = cli.run(resend);
        QVERIFY2(resent.exitCode == 0, qPrintable(resent.err));
        QCOMPARE(cli.mailer.messages().size(), 4);
        QCOMPARE(cli.mailer.messages().last().RecipientAddress, u"ann@new.example"_s);
        QVERIFY2(resent.out.contains(u"Skipped (bounced, address unchanged) - Bob@client.example (client 2)"_s),
                 qPrintable(resent.out.join(u'\n')));
        const InProcessCli::Result again = cli.run(resend);
        QCOMPARE(again.exitCode, 2);
        QVERIFY2(again.err.contains(u"There are no bounced clients with a changed address"_s), qPrintable(again.err));
        QCOMPARE(cli.mailer.messages().size(), 4);

        // Read only: every report is still in the INBOX.
        QCOMPARE(imap.folder(u"INBOX"_s).size(), 5);

        // Runs of the period's first day are looked at; runs before it are not.
        const InProcessCli::Result firstDay = cli.run({u"bounces"_s, u"--since"_s, u"2026-01-02"_s});
        QCOMPARE(firstDay.out, expected);
        // Runs before the period are not looked at.
        const InProcessCli::Result later = cli.run({u"bounces"_s, u"--since"_s, u"2026-01-03"_s});
        QCOMPARE(later.exitCode, 0);
        QCOMPARE(later.out, QStringList{u"Bounces found - 0"_s});

        // Without --since the check looks back 30 days: on the 30th day after the run, its
        // bounces are still found.
        cli.clock.set(cli.clock.tick() + std::chrono::days(30));
        QCOMPARE(cli.run({u"bounces"_s}).out, expected);

        // A later send to the address that bounced settles the bounce: the check no longer names it.
        const InProcessCli::Result bobAgain =
            cli.run({u"run"_s, u"--yes"_s, u"--clients"_s, u"2"_s, u"--send-again"_s, u"--csv"_s,
                     home.path(u"list.csv"_s), u"--subject"_s, u"Invoice 17"_s, u"--body"_s, u"Dear client"_s});
        QVERIFY2(bobAgain.exitCode == 0, qPrintable(bobAgain.err));
        QCOMPARE(cli.mailer.messages().last().RecipientAddress, u"Bob@client.example"_s);
        const InProcessCli::Result settled = cli.run({u"check"_s, u"--csv"_s, home.path(u"list.csv"_s)});
        QVERIFY2(!settled.out.join(u'\n').contains(u"Bounced - bob@client.example"_s) &&
                     !settled.out.join(u'\n').contains(u"Bounced - Bob@client.example"_s),
                 qPrintable(settled.out.join(u'\n')));
    }

    // A report that quotes no Message-ID of ours is matched by address and subject; after a resend
    // of the mailing it goes to the newest send made before the report was written.
    void aReportWithoutOurIdGoesToTheNewestSendBeforeIt_data()
    {
        QTest::addColumn<int>("reportedAfterHours"); // after the first send; none: the report has no date
        QTest::addColumn<int>("send");               // 0 the first send, 1 the resend two days later, -1 neither
        QTest::newRow("no date: the resend") << std::numeric_limits<int>::min() << 1;
        QTest::newRow("between the sends: the first") << 24 << 0;
        QTest::newRow("after the resend: the resend") << 72 << 1;
        QTest::newRow("before both sends: neither") << -24 << -1;
    }
    void aReportWithoutOurIdGoesToTheNewestSendBeforeIt()
    {
        QFETCH(int, reportedAfterHours);
        QFETCH(int, send);
        ProgramHome home;
        InProcessCli cli(home.root());
        test::DovecotServer imap;
        QVERIFY(imap.isRunning());
        QVERIFY(configureWithImap(cli, imap));
        QVERIFY(home.writeFile(u"list.csv"_s, "2,bob@client.example\r\n"));
        const QStringList run{
            u"run"_s,       u"--yes"_s,      u"--send-again"_s, u"--csv"_s,      home.path(u"list.csv"_s),
            u"--subject"_s, u"Invoice 17"_s, u"--body"_s,       u"Dear client"_s};
        const QDateTime firstSend = cli.clock.currentDateTime();
        QCOMPARE(cli.run(run).exitCode, 0);
        cli.clock.set(cli.clock.tick() + std::chrono::days(2));
        QCOMPARE(cli.run(run).exitCode, 0);
        cli.clock.set(cli.clock.tick() + std::chrono::days(2));
        QCOMPARE(cli.mailer.messages().size(), 2);

        QByteArray report =
            sample(u"standard-dsn"_s).replace("Message-ID: <20261201.080000.2.7.ffee@practice.example>\r\n", "");
        if (reportedAfterHours != std::numeric_limits<int>::min()) {
            const QDateTime reported = firstSend.addSecs(qint64(reportedAfterHours) * 3600);
            report.prepend("Date: " + reported.toString(Qt::RFC2822Date).toLatin1() + "\r\n");
        }
        QVERIFY(appendToInbox(imap, report));
        const InProcessCli::Result r = cli.run({u"bounces"_s});
        QVERIFY2(r.exitCode == (send < 0 ? 0 : 1), qPrintable(r.err));
        const QList<QStringList> bounced = journalLines(home.journalFolder(), u"bounced"_s);
        QCOMPARE(bounced.size(), send < 0 ? 0 : 1);
        if (send >= 0) {
            const QString id = QString::fromLatin1(cli.mailer.messages().at(send).MessageId);
            QVERIFY2(bounced.first().value(8).startsWith(id + u" 5.2.2"_s), qPrintable(bounced.first().join(u',')));
        }
    }

    void anUnreadableMailboxOrBadDateStopsTheCheck_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("login refused") << u"wrong"_s << QStringList{u"bounces"_s}
                                       << u"the mailbox could not be read: the IMAP server"_s;
        QTest::newRow("not a date") << u"secret"_s << QStringList{u"bounces"_s, u"--since"_s, u"2026-13-01"_s}
                                    << u"--since takes a date as YYYY-MM-DD"_s;
        QTest::newRow("unknown option") << u"secret"_s << QStringList{u"bounces"_s, u"--all"_s}
                                        << u"unknown option for bounces: --all"_s;
    }

    void anUnreadableMailboxOrBadDateStopsTheCheck()
    {
        QFETCH(QString, password);
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        ProgramHome home;
        InProcessCli cli(home.root());
        test::DovecotServer imap({.password = password});
        QVERIFY(imap.isRunning());
        QVERIFY(cli.configure());
        QCOMPARE(cli.run({u"config"_s, u"set"_s, u"IMAPServer"_s, u"127.0.0.1"_s}).exitCode, 0);
        QCOMPARE(cli.run({u"config"_s, u"set"_s, u"IMAPPort"_s, QString::number(imap.startTlsPort())}).exitCode, 0);
        QVERIFY(home.writeFile(u"list.csv"_s, "1,ann@client.example\r\n"));
        QCOMPARE(cli.run({u"run"_s, u"--yes"_s, u"--csv"_s, home.path(u"list.csv"_s), u"--subject"_s, u"Invoice"_s,
                          u"--body"_s, u"Dear client"_s})
                     .exitCode,
                 0);
        const InProcessCli::Result r = cli.run(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(error), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestBounces)
#include "tst_bounces.moc"
