#include "settings/scramble.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace quorvale;

namespace {

QString fromCodes(std::initializer_list<int> codes)
{
    QString text;
    for (int code : codes)
        text += QChar(code);
    return text;
}

bool allCodesWithin(const QString &text, int low, int high)
{
    return std::all_of(text.begin(), text.end(), [&](QChar c) { return c.unicode() >= low && c.unicode() <= high; });
}

} // namespace

class TestScramble : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scramblesToKnownForm_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("scrambled");
        // Odd sum of the first two codes: every code flips its lowest bit before the shift.
        QTest::newRow("abc, odd parity") << u"abc"_s << fromCodes({197, 100, 101, 98, 193});
        // Even sum: codes are only shifted by 2.
        QTest::newRow("ac, even parity") << u"ac"_s << fromCodes({197, 101, 99, 195});
        QTest::newRow("two characters") << u"ab"_s << fromCodes({197, 101, 98, 193});
    }
    void scramblesToKnownForm()
    {
        QFETCH(QString, plain);
        QFETCH(QString, scrambled);
        QCOMPARE(ScrambleText(false, plain, true), scrambled);
        QCOMPARE(ScrambleText(false, scrambled, false), plain);
    }

    void bypassAndEmptyReturnTextUnchanged_data()
    {
        QTest::addColumn<bool>("bypass");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("scrambled");
        QTest::addColumn<QString>("unscrambled");
        const QString odd = u"\u20ACx\u00FF"_s;
        QTest::newRow("bypass plain") << true << u"abc"_s << u"abc"_s << u"abc"_s;
        QTest::newRow("bypass outside Latin-1") << true << odd << odd << odd;
        QTest::newRow("empty") << false << QString() << QString() << QString();
        // A stored form of one or two characters holds no password characters.
        QTest::newRow("one char stored") << false << u"x"_s << ScrambleText(false, u"x"_s, true) << QString();
        QTest::newRow("two chars stored") << false << u"xy"_s << ScrambleText(false, u"xy"_s, true) << QString();
    }
    void bypassAndEmptyReturnTextUnchanged()
    {
        QFETCH(bool, bypass);
        QFETCH(QString, text);
        QFETCH(QString, scrambled);
        QFETCH(QString, unscrambled);
        QCOMPARE(ScrambleText(bypass, text, true), scrambled);
        QCOMPARE(ScrambleText(bypass, text, false), unscrambled);
    }

    void roundTripsEveryTwoCharacterPassword()
    {
        for (int first = 0; first <= 126; ++first) {
            for (int second = 2; second <= 129; ++second) {
                const QString plain = fromCodes({first, second});
                QVERIFY(isStorablePassword(plain));
                const QString stored = ScrambleText(false, plain, true);
                QCOMPARE(stored.size(), 4);
                // The stored form never holds a NUL, so it survives any text store.
                QVERIFY2(allCodesWithin(stored, 1, 255), qPrintable(plain));
                QCOMPARE(ScrambleText(false, stored, false), plain);
            }
        }
    }

    void roundTripsRandomStorablePasswords()
    {
        QRandomGenerator random(20261207);
        for (int round = 0; round < 20000; ++round) {
            const bool printable = round % 2 == 0;
            const int length = random.bounded(2, 41);
            QString plain;
            for (int i = 0; i < length; ++i) {
                const int low = printable ? 32 : (i == 1 ? 2 : 0);
                const int high = printable ? 126 : (i == 0 ? 126 : i == 1 ? 129 : 253);
                plain += QChar(random.bounded(low, high + 1));
            }
            QVERIFY(isStorablePassword(plain));
            const QString stored = ScrambleText(false, plain, true);
            QCOMPARE(stored.size(), plain.size() + 2);
            QVERIFY(allCodesWithin(stored, 1, 255));
            if (printable) {
                QVERIFY(allCodesWithin(stored.first(1), 67, 255));
                QVERIFY(allCodesWithin(stored.last(1), 61, 249));
                QVERIFY(allCodesWithin(stored.mid(1, plain.size()), 34, 129));
            }
            QCOMPARE(ScrambleText(false, stored, false), plain);
        }
    }

    void unscramblingAnyTextStaysWithinLatin1()
    {
        // Hand-edited stored forms: every first and last code, and middles at the extremes.
        const QString middle = fromCodes({0, 1, 2, 3, 254, 255});
        for (int first = 0; first <= 255; ++first) {
            for (int last = 0; last <= 255; ++last) {
                const QString result = ScrambleText(false, QChar(first) + middle + QChar(last), false);
                QCOMPARE(result.size(), middle.size());
                QVERIFY(allCodesWithin(result, 0, 255));
            }
        }
        // Characters beyond Latin-1 count as '?'.
        QCOMPARE(ScrambleText(false, u"\u20AC\u20AC\u20AC\u20AC"_s, false), ScrambleText(false, u"????"_s, false));
    }

    void scramblingUnstorableTextStaysWithinLatin1_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::newRow("one character") << u"a"_s;
        QTest::newRow("first code 127") << fromCodes({127, 97});
        QTest::newRow("second code 1") << fromCodes({97, 1});
        QTest::newRow("second code 130") << fromCodes({97, 130});
        QTest::newRow("code 255") << fromCodes({97, 98, 255});
        QTest::newRow("euro sign") << u"ab\u20AC"_s;
    }
    void scramblingUnstorableTextStaysWithinLatin1()
    {
        QFETCH(QString, plain);
        QVERIFY(!isStorablePassword(plain));
        const QString stored = ScrambleText(false, plain, true);
        QCOMPARE(stored.size(), plain.size() + 2);
        QVERIFY(allCodesWithin(stored, 0, 255));
        QVERIFY(allCodesWithin(ScrambleText(false, stored, false), 0, 255));
    }

    void decidesWhichPasswordsCanBeStored_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("storable");
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("one character") << u"x"_s << false;
        QTest::newRow("two characters") << u"xy"_s << true;
        QTest::newRow("printable") << u"P@ss w0rd;\"=,"_s << true;
        QTest::newRow("first code 126") << fromCodes({126, 97}) << true;
        QTest::newRow("first code 127") << fromCodes({127, 97}) << false;
        QTest::newRow("second code 2") << fromCodes({97, 2}) << true;
        QTest::newRow("second code 1") << fromCodes({97, 1}) << false;
        QTest::newRow("second code 129") << fromCodes({97, 129}) << true;
        QTest::newRow("second code 130") << fromCodes({97, 130}) << false;
        QTest::newRow("later code 253") << fromCodes({97, 98, 253}) << true;
        QTest::newRow("later code 254") << fromCodes({97, 98, 254}) << false;
        QTest::newRow("later NUL") << fromCodes({97, 98, 0}) << true;
        QTest::newRow("beyond Latin-1") << u"ab\u20AC"_s << false;
    }
    void decidesWhichPasswordsCanBeStored()
    {
        QFETCH(QString, password);
        QFETCH(bool, storable);
        QCOMPARE(isStorablePassword(password), storable);
    }
};

QTEST_GUILESS_MAIN(TestScramble)
#include "tst_scramble.moc"
