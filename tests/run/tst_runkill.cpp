// The program killed with SIGKILL at random moments during runs, resumed each time: every client
// receives exactly one message, except those the journal marks "unknown" (the program died while
// the server had the message), which receive at most one.

#include "killharness.h"

#include <QTest>

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
};

QTEST_GUILESS_MAIN(TestRunKill)
#include "tst_runkill.moc"
