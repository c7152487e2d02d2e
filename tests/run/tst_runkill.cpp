// The program killed with SIGKILL at random moments during runs, resumed each time: every client
// receives exactly one message, except those the journal marks "unknown" (the program died while
// the server had the message), which receive at most one. And what the command line's flags make
// of an earlier run that did not finish.

#include "killharness.h"

#include <QTest>

#include <QCryptographicHash>
#include <QDir>

using namespace Qt::StringLiterals;

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
        QTest::addColumn<QString>("earlierMode"); // empty: a journal from before modes were recorded
        const QString yes = u"--yes"_s;
        QTest::newRow("--yes alone starts nothing") << QStringList{yes} << 2 << QStringList() << QString();
        QTest::newRow("--resume") << QStringList{yes, u"--resume"_s} << 0 << QStringList{u"c@x.org"_s, u"d@x.org"_s}
                                  << QString();
        QTest::newRow("--resume --include-unknown")
            << QStringList{yes, u"--resume"_s, u"--include-unknown"_s} << 0
            << QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s} << QString();
        QTest::newRow("--no-resume") << QStringList{yes, u"--no-resume"_s} << 0
                                     << QStringList{u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}
                                     << QString();
        QTest::newRow("--retry-failed") << QStringList{yes, u"--retry-failed"_s} << 0
                                        << QStringList{u"b@x.org"_s, u"c@x.org"_s} << QString();
        QTest::newRow("--include-unknown needs --resume")
            << QStringList{yes, u"--include-unknown"_s} << 2 << QStringList() << QString();
        // The interrupted run sent each client's own document; this one would send none.
        QTest::newRow("--resume with other choices")
            << QStringList{yes, u"--resume"_s} << 2 << QStringList() << u"client"_s;
        QTest::newRow("--yes with other choices") << QStringList{yes} << 2 << QStringList() << u"client"_s;
        QTest::newRow("--no-resume with other choices")
            << QStringList{yes, u"--no-resume"_s} << 0
            << QStringList{u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s} << u"client"_s;
    }

    void commandLineDecidesAboutAnUnfinishedRun()
    {
        QFETCH(QStringList, flags);
        QFETCH(int, exitCode);
        QFETCH(QStringList, received);
        QFETCH(QString, earlierMode);
        KillHarness h;
        QVERIFY(h.isReady());
        QString error;
        QVERIFY2(h.configure(&error), qPrintable(error));
        const QString csv = h.filePath(u"clients.csv"_s);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\n");
        file.close();

        // An earlier run that died, journalled as runs were before journals recorded the attachment
        // mode and the client list: a sent, b in the middle of its send, c refused, d not reached.
        const QDateTime now = QDateTime::currentDateTime();
        std::unique_ptr<Journal> journal = Journal::create(QDir(h.dataFolder()).filePath(u"runs"_s), now, &error);
        QVERIFY2(journal, qPrintable(error));
        const auto entry = [&](const QString &event, qint64 line = 0, const QString &id = {}) {
            JournalEntry e;
            e.time = now;
            e.event = journalEventNamed(event).value();
            e.line = line;
            e.clientId = id;
            e.address = id.isEmpty() ? QString() : id.toLower() + u"@x.org"_s;
            return e;
        };
        JournalEntry run = entry(u"run"_s);
        run.detail = u"all clients"_s;
        JournalEntry clientFile = entry(u"client file"_s);
        clientFile.file = csv;
        clientFile.sha256 = fileSha256(csv);
        JournalEntry subject = entry(u"subject"_s);
        subject.detail = u"S"_s;
        JournalEntry body = entry(u"body"_s);
        body.sha256 = QString::fromLatin1(QCryptographicHash::hash("B", QCryptographicHash::Sha256).toHex());
        JournalEntry mode = entry(u"mode"_s);
        mode.detail = earlierMode;
        QList<JournalEntry> header{run, clientFile, subject, body};
        if (!earlierMode.isEmpty())
            header.append(mode);
        for (const JournalEntry &e : header + QList{entry(u"common attachment"_s), entry(u"attempting"_s, 1, u"A"_s),
                                                    entry(u"sent"_s, 1, u"A"_s), entry(u"attempting"_s, 2, u"B"_s),
                                                    entry(u"attempting"_s, 3, u"C"_s), entry(u"refused"_s, 3, u"C"_s)})
            QVERIFY(journal->append(e, &error));
        journal.reset();

        QString err;
        QCOMPARE(h.runProgram(
                     QStringList{u"run"_s, u"--csv"_s, csv, u"--subject"_s, u"S"_s, u"--body"_s, u"B"_s} + flags, &err),
                 exitCode);
        QStringList got;
        for (const auto &message : h.server().messages())
            got += message.rcptTo;
        got.sort();
        QCOMPARE(got, received);
        if (!earlierMode.isEmpty() && exitCode == 2)
            QVERIFY2(err.contains(u"The interrupted run of this mailing was sending each client's own document; you "
                                  "chose no attachment. Nothing was sent"_s),
                     qPrintable(err));
        else if (flags == QStringList{u"--yes"_s})
            QVERIFY2(err.contains(u"--resume"_s) && err.contains(u"did not finish"_s), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestRunKill)
#include "tst_runkill.moc"
