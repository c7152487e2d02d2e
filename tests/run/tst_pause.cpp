#include "run/abortrequest.h"
#include "run/pause.h"
#include "support/testfakes.h"

#include <QTest>

using namespace quorvale;
using namespace std::chrono_literals;

class TestPause : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lastsOneSliceAtLeast_data()
    {
        QTest::addColumn<double>("wait");
        QTest::addColumn<int>("slices");
        // Zero and negative waits still take one slice; 1000 ms ends at the first reading
        // past the deadline, the eleventh slice.
        QTest::newRow("zero") << 0.0 << 1;
        QTest::newRow("negative") << -5000.0 << 1;
        QTest::newRow("one slice") << 100.0 << 2;
        QTest::newRow("one second") << 1000.0 << 11;
        QTest::newRow("fraction") << 150.5 << 2;
    }
    void lastsOneSliceAtLeast()
    {
        QFETCH(double, wait);
        QFETCH(int, slices);
        test::FakeClock clock;
        AbortRequest abort;
        PauseFor(wait, clock, abort);
        QCOMPARE(clock.sleeps(), slices);
        QCOMPARE(clock.slept(), std::chrono::milliseconds(slices * kPauseSliceMs));
    }

    void endsWithinOneSliceOfAnAbort()
    {
        test::FakeClock clock;
        AbortRequest abort;
        clock.onSleep = [&](std::chrono::milliseconds) {
            if (clock.sleeps() == 3)
                abort.request();
        };
        PauseFor(5.0 * 60000, clock, abort);
        QCOMPARE(clock.sleeps(), 3);
    }

    void alreadyAbortedReturnsAfterFirstSlice()
    {
        test::FakeClock clock;
        AbortRequest abort;
        abort.request();
        PauseFor(60000, clock, abort);
        QCOMPARE(clock.sleeps(), 1);
    }

    void clockGoingBackwardsEndsThePause()
    {
        test::FakeClock clock;
        AbortRequest abort;
        clock.onSleep = [&](std::chrono::milliseconds now) {
            if (clock.sleeps() == 2)
                clock.set(now - 10s);
        };
        PauseFor(60000, clock, abort);
        QCOMPARE(clock.sleeps(), 2);
    }

    void hugeWaitsDoNotOverflow()
    {
        // A group delay of the largest 32-bit minute count, aborted after a few slices.
        test::FakeClock clock;
        AbortRequest abort;
        clock.onSleep = [&](std::chrono::milliseconds) {
            if (clock.sleeps() == 4)
                abort.request();
        };
        PauseFor(2147483647.0 * 60000.0, clock, abort);
        QCOMPARE(clock.sleeps(), 4);
    }

    void realClockSleepsForReal()
    {
        SystemClock clock;
        AbortRequest abort;
        const auto before = clock.tick();
        PauseFor(0, clock, abort);
        QVERIFY(clock.tick() - before >= 100ms);
    }
};

QTEST_GUILESS_MAIN(TestPause)
#include "tst_pause.moc"
