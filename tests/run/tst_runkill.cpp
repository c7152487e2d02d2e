// The program killed with SIGKILL at random moments during runs, resumed each time: every client
// receives exactly one message, except those the journal marks "unknown" (the program died while
// the server had the message), which receive at most one. And what the command line's flags make
// of an earlier run that did not finish.

#include "killharness.h"

#include <QTest>

#include <QCryptographicHash>
#include <QDir>

using namespace quorvale;
using quorvale::test::KillFigures;
using quorvale::test::KillHarness;

class TestRunKill : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resumedRunsDeliverEveryMessageOnce()
    {
        KillHarness harness;
        QVERIFY(harness.isReady());
        QString error;
        QVERIFY2(harness.configure(&error), qPrintable(error));
        bool seeded = false;
        const quint32 seed = quint32(qEnvironmentVariableIntValue("QUORVALE_KILL_SEED", &seeded));
        const quint32 used = seeded ? seed : QRandomGenerator::global()->generate();
        const KillFigures f = harness.run(20, 40, 700, used);
        qInfo("seed %u: %d kills, %d runs, %d clients, %d unknown (%d arrived), %d duplicates, %d lost", used, f.kills,
              f.runs, f.clients, f.unknown, f.unknownArrived, f.duplicates, f.lost);
        QVERIFY2(f.problems.isEmpty(), qPrintable(f.problems.join(u'\n')));
        QVERIFY(f.kills >= 20);
        QCOMPARE(f.duplicates, 0);
        QCOMPARE(f.lost, 0);
    }

    void commandLineDecidesAboutAnUnfinishedRun_data()
    {
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("received");
        const QString yes = QStringLiteral("--yes");
        QTest::newRow("--yes alone starts nothing") << QStringList{yes} << 2 << QStringList();
        QTest::newRow("--resume") << QStringList{yes, u"--resume"_qs} << 0 << QStringList{u"c@x.org"_qs, u"d@x.org"_qs};
        QTest::newRow("--resume --include-unknown") << QStringList{yes, u"--resume"_qs, u"--include-unknown"_qs} << 0
                                                    << QStringList{u"b@x.org"_qs, u"c@x.org"_qs, u"d@x.org"_qs};
        QTest::newRow("--no-resume") << QStringList{yes, u"--no-resume"_qs} << 0
                                     << QStringList{u"a@x.org"_qs, u"b@x.org"_qs, u"c@x.org"_qs, u"d@x.org"_qs};
        QTest::newRow("--retry-failed") << QStringList{yes, u"--retry-failed"_qs} << 0
                                        << QStringList{u"b@x.org"_qs, u"c@x.org"_qs};
        QTest::newRow("--include-unknown needs --resume")
            << QStringList{yes, u"--include-unknown"_qs} << 2 << QStringList();
    }

    void commandLineDecidesAboutAnUnfinishedRun()
    {
        QFETCH(QStringList, flags);
        QFETCH(int, exitCode);
        QFETCH(QStringList, received);
        KillHarness h;
        QVERIFY(h.isReady());
        QString error;
        QVERIFY2(h.configure(&error), qPrintable(error));
        const QString csv = h.filePath(u"clients.csv"_qs);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\n");
        file.close();

        // An earlier run that died, journalled as runs were before journals recorded the attachment
        // mode and the client list: a sent, b in the middle of its send, c refused, d not reached.
        const QDateTime now = QDateTime::currentDateTime();
        std::unique_ptr<Journal> journal = Journal::create(QDir(h.dataFolder()).filePath(u"runs"_qs), now, &error);
        QVERIFY2(journal, qPrintable(error));
        const auto entry = [&](const QString &event, qint64 line = 0, const QString &id = {}) {
            JournalEntry e;
            e.time = now;
            e.event = event;
            e.line = line;
            e.clientId = id;
            e.address = id.isEmpty() ? QString() : id.toLower() + u"@x.org"_qs;
            return e;
        };
        JournalEntry run = entry(u"run"_qs);
        run.detail = QString::fromUtf16(journal::kKindFull);
        JournalEntry clientFile = entry(u"client file"_qs);
        clientFile.file = csv;
        clientFile.sha256 = fileSha256(csv);
        JournalEntry subject = entry(u"subject"_qs);
        subject.detail = u"S"_qs;
        JournalEntry body = entry(u"body"_qs);
        body.sha256 = QString::fromLatin1(QCryptographicHash::hash("B", QCryptographicHash::Sha256).toHex());
        for (const JournalEntry &e :
             {run, clientFile, subject, body, entry(u"common attachment"_qs), entry(u"attempting"_qs, 1, u"A"_qs),
              entry(u"sent"_qs, 1, u"A"_qs), entry(u"attempting"_qs, 2, u"B"_qs), entry(u"attempting"_qs, 3, u"C"_qs),
              entry(u"refused"_qs, 3, u"C"_qs)})
            QVERIFY(journal->append(e, &error));
        journal.reset();

        QString err;
        QCOMPARE(h.runProgram(
                     QStringList{u"run"_qs, u"--csv"_qs, csv, u"--subject"_qs, u"S"_qs, u"--body"_qs, u"B"_qs} + flags,
                     &err),
                 exitCode);
        QStringList got;
        for (const auto &message : h.server().messages())
            got += message.rcptTo;
        got.sort();
        QCOMPARE(got, received);
        if (flags == QStringList{u"--yes"_qs})
            QVERIFY2(err.contains(u"--resume"_qs) && err.contains(u"did not finish"_qs), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestRunKill)
#include "tst_runkill.moc"
