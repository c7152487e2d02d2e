// The sending limits' arithmetic on the fake clock: how many may go now, when the next may, and
// when the ones beyond the daily limit can; and a run paced by it that never goes above the limits
// nor waits while one may go.

#include "run/sendinglimits.h"
#include "support/testfakes.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;
using namespace std::chrono_literals;

namespace {

/// Seconds before now, turned into times.
QList<QDateTime> ago(const QDateTime &now, const QList<qint64> &seconds)
{
    QList<QDateTime> times;
    for (qint64 s : seconds)
        times.append(now.addSecs(-s));
    return times;
}

constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 24 * kHour;

} // namespace

class TestSendingLimits : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void allowance_data();
    void allowance();
    void pacedRunKeepsToTheLimitsWithoutIdling();
};

void TestSendingLimits::allowance_data()
{
    QTest::addColumn<int>("perMinute");
    QTest::addColumn<int>("perDay");
    QTest::addColumn<QList<qint64>>("sentAgo"); ///< seconds before now
    QTest::addColumn<qint64>("wanted");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<qint64>("withinDay");
    QTest::addColumn<qint64>("nextIn");  ///< seconds from now
    QTest::addColumn<qint64>("restIn");  ///< seconds from now; -1: every one fits the day

    QTest::newRow("no limits") << 0 << 0 << QList<qint64>{1, 2, 3} << qint64(5000) << qint64(5000) << qint64(5000)
                               << qint64(0) << qint64(-1);
    QTest::newRow("nothing wanted") << 30 << 100 << QList<qint64>{} << qint64(0) << qint64(0) << qint64(0)
                                    << qint64(-1) << qint64(-1);
    QTest::newRow("2,400 wanted, 2,000 a day, none sent")
        << 0 << 2000 << QList<qint64>{} << qint64(2400) << qint64(2000) << qint64(2000) << qint64(0) << kDay;
    QTest::newRow("the day's oldest send frees the first of the rest")
        << 0 << 3 << QList<qint64>{20 * kHour, 2 * kHour} << qint64(5) << qint64(1) << qint64(1) << qint64(0)
        << 4 * kHour;
    QTest::newRow("day full: the next goes when the oldest leaves")
        << 0 << 2 << QList<qint64>{23 * kHour, kHour, 30 * kHour} << qint64(1) << qint64(0) << qint64(0)
        << kHour << kHour;
    QTest::newRow("day over-full (sent elsewhere): as many must leave as are over")
        << 0 << 2 << QList<qint64>{kHour, 23 * kHour, 10 * kHour, 5 * kHour} << qint64(1) << qint64(0) << qint64(0)
        << 19 * kHour << 19 * kHour;
    QTest::newRow("exactly 24 hours old no longer counts")
        << 0 << 1 << QList<qint64>{kDay} << qint64(1) << qint64(1) << qint64(1) << qint64(0) << qint64(-1);
    QTest::newRow("a second short of 24 hours old still counts")
        << 0 << 1 << QList<qint64>{kDay - 1} << qint64(1) << qint64(0) << qint64(0) << qint64(1) << qint64(1);
    QTest::newRow("a second short of a minute old still counts")
        << 1 << 0 << QList<qint64>{59} << qint64(1) << qint64(0) << qint64(1) << qint64(1) << qint64(-1);
    QTest::newRow("a minute with room")
        << 30 << 10000 << QList<qint64>{1, 2, 70} << qint64(100) << qint64(28) << qint64(100) << qint64(0)
        << qint64(-1);
    QTest::newRow("a full minute: the next when its oldest leaves")
        << 3 << 0 << QList<qint64>{50, 10, 30} << qint64(10) << qint64(0) << qint64(10) << qint64(10) << qint64(-1);
    QTest::newRow("a minute over-full")
        << 2 << 0 << QList<qint64>{50, 10, 30, 40} << qint64(1) << qint64(0) << qint64(1) << qint64(30)
        << qint64(-1);
    QTest::newRow("fewer wanted than either limit allows")
        << 30 << 10000 << QList<qint64>{} << qint64(10) << qint64(10) << qint64(10) << qint64(0) << qint64(-1);
    QTest::newRow("the day caps what the minute allows")
        << 30 << 3 << QList<qint64>{kHour} << qint64(10) << qint64(2) << qint64(2) << qint64(0) << 23 * kHour;
    QTest::newRow("a send dated after now counts until its own day ends")
        << 0 << 1 << QList<qint64>{-kHour} << qint64(1) << qint64(0) << qint64(0) << 25 * kHour << 25 * kHour;
}

void TestSendingLimits::allowance()
{
    QFETCH(int, perMinute);
    QFETCH(int, perDay);
    QFETCH(QList<qint64>, sentAgo);
    QFETCH(qint64, wanted);
    QFETCH(qint64, now);
    QFETCH(qint64, withinDay);
    QFETCH(qint64, nextIn);
    QFETCH(qint64, restIn);

    const QDateTime at = test::FakeClock().currentDateTime();
    const SendingAllowance allowance = sendingAllowance({perMinute, perDay}, ago(at, sentAgo), at, wanted);
    QCOMPARE(allowance.now, now);
    QCOMPARE(allowance.withinDay, withinDay);
    QCOMPARE(allowance.nextAt, nextIn < 0 ? QDateTime() : at.addSecs(nextIn));
    QCOMPARE(allowance.restAt.has_value(), restIn >= 0);
    if (allowance.restAt)
        QCOMPARE(*allowance.restAt, at.addSecs(restIn));
}

void TestSendingLimits::pacedRunKeepsToTheLimitsWithoutIdling()
{
    // A run of 130 messages under 30 a minute and 100 a day, each send taking 1.5 seconds: it
    // sends whenever the allowance says so and otherwise sleeps until the next may go.
    const SendingLimits limits{30, 100};
    test::FakeClock clock;
    QList<QDateTime> sent;
    qint64 left = 130;
    while (left > 0) {
        const QDateTime now = clock.currentDateTime();
        const SendingAllowance allowance = sendingAllowance(limits, sent, now, left);
        if (allowance.now == 0) {
            QVERIFY(allowance.nextAt > now);
            clock.sleep(std::chrono::milliseconds(now.msecsTo(allowance.nextAt)));
            continue;
        }
        sent.append(now);
        --left;
        clock.sleep(1500ms);
    }
    for (qsizetype i = 0; i < sent.size(); ++i) {
        // Never above: no 60 seconds hold more than 30, no 24 hours more than 100.
        const auto within = [&](qint64 ms) {
            return std::count_if(sent.begin(), sent.end(), [&](const QDateTime &t) {
                return t >= sent[i] && sent[i].msecsTo(t) < ms;
            });
        };
        QVERIFY(within(60'000) <= 30);
        QVERIFY(within(24 * 3600'000) <= 100);
    }
    // Never idle below: each wait ends exactly when a send leaves its window.
    QCOMPARE(sent.at(30), sent.at(0).addSecs(60));
    QCOMPARE(sent.at(100), sent.at(0).addSecs(24 * 3600));
    QCOMPARE(sent.at(101), sent.at(1).addSecs(24 * 3600));
}

QTEST_GUILESS_MAIN(TestSendingLimits)
#include "tst_sendinglimits.moc"
