// Some clients of the list chosen with --clients: what run, check and preview do with them, how the
// journal keeps the choice and what a later run of the same mailing makes of it; and the message for
// a client file separated otherwise than the separator chosen. In this process, over the fake mailer.

#include "support/inprocesscli.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::InProcessCli;

namespace {

const QByteArray kFour = "1,a@example.org\r\n2,b@example.org\r\n3,c@example.org\r\n4,d@example.org\r\n";

} // namespace

class TestChosenClients : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<InProcessCli> m_cli;

    QString path(const QString &name) const { return m_home->filePath(name); }

    void writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QStringList args(const QString &command, const QStringList &more) const
    {
        QStringList all{command, u"--csv"_s, path(u"list.csv"_s)};
        if (command != "check"_L1)
            all += {u"--subject"_s, u"Statement"_s, u"--body"_s, u"Dear client"_s};
        return all + more;
    }

    InProcessCli::Result run(const QStringList &more) { return m_cli->run(args(u"run"_s, more)); }

    QStringList recipients()
    {
        QStringList to;
        for (const MailMessage &m : m_cli->mailer.messages())
            to.append(m.RecipientAddress);
        m_cli->mailer.clear();
        return to;
    }

    QString journals() const
    {
        QString text;
        const QDir runs(m_cli->dataFolder + u"/runs"_s);
        for (const QString &name : runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name)) {
            QFile file(runs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(file.readAll());
        }
        return text;
    }

private Q_SLOTS:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        m_cli = std::make_unique<InProcessCli>(m_home->path());
        QVERIFY(m_cli->configure());
        writeFile(u"list.csv"_s, kFour);
    }

    void runGoesToTheChosenClientsOnly_data()
    {
        QTest::addColumn<QString>("clients");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("sentTo");
        QTest::addColumn<QStringList>("said"); ///< on standard error, in this order
        QTest::newRow("two of four") << u"3,1"_s << 0 << QStringList{u"a@example.org"_s, u"c@example.org"_s}
                                     << QStringList{u"Chosen clients: 2 of 4 clients (the others are left out)"_s,
                                                    u"E-mails to send: 2"_s,
                                                    u"skipped on resume 0, left out (not chosen) 2"_s};
        QTest::newRow("blanks and repeats aside") << u" 2 ,2,"_s << 0 << QStringList{u"b@example.org"_s}
                                                  << QStringList{u"Chosen clients: 1 of 4 clients"_s};
        QTest::newRow("every client chosen") << u"1,2,3,4"_s << 0
                                             << QStringList{u"a@example.org"_s, u"b@example.org"_s, u"c@example.org"_s,
                                                            u"d@example.org"_s}
                                             << QStringList{u"Chosen clients: 4 of 4 clients"_s};
        QTest::newRow("an id not in the list") << u"1,17,99"_s << 2 << QStringList{}
                                               << QStringList{u"These chosen clients are not in the client list: "
                                                              "17, 99. Nothing was sent."_s};
    }
    void runGoesToTheChosenClientsOnly()
    {
        QFETCH(QString, clients);
        QFETCH(int, exitCode);
        QFETCH(QStringList, sentTo);
        QFETCH(QStringList, said);
        const InProcessCli::Result r = run({u"--clients"_s, clients, u"--yes"_s});
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(recipients(), sentTo);
        qsizetype at = 0;
        for (const QString &text : said) {
            at = r.err.indexOf(text, at);
            QVERIFY2(at >= 0, qPrintable(text + u" not in:\n"_s + r.err));
        }
        if (exitCode == 0)
            QVERIFY2(r.out.contains(u"Clients chosen - %1"_s.arg(sentTo.size())), qPrintable(r.out.join(u'\n')));
    }

    void checkAndPreviewAgreeWithTheRun()
    {
        const InProcessCli::Result check = m_cli->run(args(u"check"_s, {u"--clients"_s, u"2,4"_s}));
        QCOMPARE(check.exitCode, 0);
        QVERIFY2(check.out.contains(u"Clients: 2"_s) && check.out.contains(u"Left out (not chosen): 2"_s) &&
                     check.out.contains(u"  2\t2\tb@example.org\tSend"_s) &&
                     !check.out.join(u'\n').contains(u"a@example.org"_s),
                 qPrintable(check.out.join(u'\n')));
        QCOMPARE(m_cli->run(args(u"check"_s, {u"--clients"_s, u"5"_s})).err,
                 u"This chosen client is not in the client list: 5.\n"_s);

        const InProcessCli::Result chosen =
            m_cli->run(args(u"preview"_s, {u"--clients"_s, u"2,4"_s, u"--client"_s, u"4"_s}));
        QCOMPARE(chosen.exitCode, 0);
        QVERIFY2(chosen.err.isEmpty(), qPrintable(chosen.err));
        const InProcessCli::Result leftOut =
            m_cli->run(args(u"preview"_s, {u"--clients"_s, u"2,4"_s, u"--client"_s, u"1"_s}));
        QCOMPARE(leftOut.exitCode, 0);
        QVERIFY2(leftOut.err.contains(u"The client is not one of the chosen clients: a run leaves it out."_s),
                 qPrintable(leftOut.err));
        QCOMPARE(m_cli->run(args(u"preview"_s, {u"--clients"_s, u"9"_s, u"--client"_s, u"1"_s})).exitCode, 2);
        QCOMPARE(m_cli->run(args(u"run"_s, {u"--clients"_s, u" , "_s})).err,
                 u"quorvale: --clients needs the ids of the clients to go to, separated by commas\nTry \"quorvale "
                 "--help\".\n"_s);
    }

    void journalKeepsTheChoiceAndAResumeNeverChangesIt()
    {
        // Stopped by the server after client 1 of the chosen 1, 2 and 3.
        m_cli->mailer.statuses = {SendStatus::Sent, SendStatus::ServerUnusable};
        QCOMPARE(run({u"--clients"_s, u"3,2,1"_s, u"--yes"_s}).exitCode, 1);
        QCOMPARE(recipients(), (QStringList{u"a@example.org"_s, u"b@example.org"_s}));
        QVERIFY2(journals().contains(u",chosen clients,,,,,,,\"[\"\"1\"\",\"\"2\"\",\"\"3\"\"]\"\r\n"_s),
                 qPrintable(journals()));

        // Other clients, or every client, would widen or narrow what the interrupted run was doing.
        const InProcessCli::Result narrower = run({u"--clients"_s, u"1,2"_s, u"--resume"_s, u"--yes"_s});
        QCOMPARE(narrower.exitCode, 2);
        QVERIFY2(narrower.err.contains(u"The interrupted run of this mailing was sending to 3 chosen clients; you "
                                       "chose 2 chosen clients."_s),
                 qPrintable(narrower.err));
        const InProcessCli::Result wider = run({u"--resume"_s, u"--yes"_s});
        QCOMPARE(wider.exitCode, 2);
        QVERIFY2(wider.err.contains(u"was sending to 3 chosen clients; you chose every client of the list."_s),
                 qPrintable(wider.err));
        QVERIFY(recipients().isEmpty());

        // The same choice resumes it: the client it reached is skipped.
        QCOMPARE(run({u"--clients"_s, u"1,2,3"_s, u"--resume"_s, u"--yes"_s}).exitCode, 0);
        QCOMPARE(recipients(), (QStringList{u"b@example.org"_s, u"c@example.org"_s}));

        // Finished: the chosen clients have it; the rest of the list, chosen now, gets it without a
        // question, and a run over every client then finds the whole list reached.
        const InProcessCli::Result again = run({u"--clients"_s, u"1,2,3"_s, u"--yes"_s});
        QCOMPARE(again.exitCode, 2);
        QVERIFY2(again.err.contains(u"This mailing was already sent to all 3 clients"_s), qPrintable(again.err));
        QCOMPARE(run({u"--clients"_s, u"4"_s, u"--yes"_s}).exitCode, 0);
        QCOMPARE(recipients(), QStringList{u"d@example.org"_s});
        const InProcessCli::Result all = run({u"--yes"_s});
        QCOMPARE(all.exitCode, 2);
        QVERIFY2(all.err.contains(u"This mailing was already sent to all 4 clients"_s), qPrintable(all.err));
        QVERIFY(recipients().isEmpty());
    }

    void aRunOverChosenClientsStartsAfreshForThemOnly()
    {
        // Every client reached; then clients 1, 2 and 3 sent to once more, stopped after client 1.
        QCOMPARE(run({u"--yes"_s}).exitCode, 0);
        QCOMPARE(recipients().size(), 4);
        m_cli->mailer.statuses = {SendStatus::Sent, SendStatus::ServerUnusable};
        QCOMPARE(run({u"--clients"_s, u"1,2,3"_s, u"--send-again"_s, u"--yes"_s}).exitCode, 1);
        QCOMPARE(recipients(), (QStringList{u"a@example.org"_s, u"b@example.org"_s}));
        // Resumed: 2 and 3 get it once more, as asked, though the first run reached them; 1 had it.
        QCOMPARE(run({u"--clients"_s, u"1,2,3"_s, u"--resume"_s, u"--yes"_s}).exitCode, 0);
        QCOMPARE(recipients(), (QStringList{u"b@example.org"_s, u"c@example.org"_s}));
    }

    void aLaterRunKeepsToTheChosenClients_data()
    {
        QTest::addColumn<QList<QStringList>>("before"); ///< the options of the earlier runs, in order
        QTest::addColumn<QList<int>>("statuses"); ///< the mailer's answers over all the runs
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("sentTo");
        QTest::addColumn<QString>("said"); ///< on standard error
        using S = SendStatus;
        const QStringList all{u"--yes"_s};
        // Client 2's message may have arrived, client 3 was never reached: the two not chosen
        // play no part in a run over 3 and 4.
        QTest::newRow("an unknown outcome of a client left out")
            << QList<QStringList>{all} << QList<int>{int(S::Sent), int(S::MaybeDelivered), int(S::ServerUnusable)}
            << QStringList{u"--clients"_s, u"3,4"_s, u"--yes"_s} << 0
            << QStringList{u"c@example.org"_s, u"d@example.org"_s} << QString();
        QTest::newRow("a failed client left out is not retried")
            << QList<QStringList>{all} << QList<int>{int(S::Sent), int(S::Refused), int(S::Sent), int(S::Sent)}
            << QStringList{u"--clients"_s, u"1,3"_s, u"--retry-failed"_s, u"--yes"_s} << 2 << QStringList{}
            << u"There are no failed clients to resend to in this mailing."_s;
        // A run over clients 1 and 2 again starts afresh for them: the earlier unknown outcome of
        // client 2 no longer counts once the client was chosen again.
        QTest::newRow("an unknown outcome before the clients were chosen again")
            << QList<QStringList>{all, {u"--clients"_s, u"1,2"_s, u"--no-resume"_s, u"--yes"_s}}
            << QList<int>{int(S::Sent), int(S::MaybeDelivered), int(S::Sent), int(S::Sent), int(S::ServerUnusable)}
            << QStringList{u"--clients"_s, u"1,2"_s, u"--resume"_s, u"--yes"_s} << 0
            << QStringList{u"a@example.org"_s, u"b@example.org"_s} << QString();
    }

    void aLaterRunKeepsToTheChosenClients()
    {
        QFETCH(QList<QStringList>, before);
        QFETCH(QList<int>, statuses);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QStringList, sentTo);
        QFETCH(QString, said);
        for (const int status : std::as_const(statuses))
            m_cli->mailer.statuses.append(SendStatus(status));
        for (const QStringList &earlier : std::as_const(before))
            run(earlier);
        QVERIFY2(m_cli->mailer.statuses.isEmpty(), "the earlier runs went otherwise than scripted");
        recipients();
        const InProcessCli::Result r = run(options);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        QCOMPARE(recipients(), sentTo);
        QVERIFY2(r.err.contains(said), qPrintable(r.err));
    }

    void fileSeparatedOtherwiseNamesTheOptionThatReadsIt_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("run") << u"run"_s;
        QTest::newRow("check") << u"check"_s;
        QTest::newRow("preview") << u"preview"_s;
    }
    void fileSeparatedOtherwiseNamesTheOptionThatReadsIt()
    {
        QFETCH(QString, command);
        writeFile(u"list.csv"_s, "1;a@example.org\r\n2;b@example.org\r\n");
        QStringList more{u"--yes"_s};
        if (command == "preview"_L1)
            more = {u"--client"_s, u"1"_s};
        else if (command == "check"_L1)
            more.clear();
        const InProcessCli::Result r = m_cli->run(args(command, more));
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(u"The lines look separated by semicolons (;): choose the separator \";\" (--delimiter "
                                "\";\" on the command line, or quorvale config set CSVDelimiter \";\")."_s),
                 qPrintable(r.err));
        QVERIFY(recipients().isEmpty());
        // Read so, it goes.
        const InProcessCli::Result read = m_cli->run(args(command, more + QStringList{u"--delimiter"_s, u";"_s}));
        QCOMPARE(read.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestChosenClients)
#include "tst_chosenclients.moc"
