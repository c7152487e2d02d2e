// Delivery reports read from the samples in the bounce fuzz corpus: standard reports, a real
// Postfix one, bounces that only quote the original, and messages that are no bounce at all.

#include "mail/bouncereport.h"

#include <QDateTime>
#include <QFile>
#include <QTest>
#include <QTimeZone>

using namespace quorvale;
using namespace Qt::StringLiterals;

class TestBounceReport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsTheFailedRecipientAndTheOriginal_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QByteArray>("cutAt"); // the sample ends before this text (a partial fetch)
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("recipient");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("diagnostic");
        QTest::addColumn<QByteArray>("originalId");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("candidate"); // its headers alone make it worth reading whole

        QTest::newRow("postfix") << u"postfix-dsn"_s << QByteArray() << 1 << u"ann.old@client.example"_s << u"5.1.1"_s
                                 << u"550 5.1.1 <ann.old@client.example>: Recipient address rejected: User unknown "
                                    "in virtual mailbox table"_s
                                 << QByteArray("<20261207.091500.1.2.a1b2c3@practice.example>")
                                 << u"Rechnung Dezember \u00fc"_s << true;
        QTest::newRow("postfix cut short") << u"postfix-dsn"_s << QByteArray("Dear client") << 1
                                           << u"ann.old@client.example"_s << u"5.1.1"_s
                                           << u"550 5.1.1 <ann.old@client.example>: Recipient address rejected: User "
                                              "unknown in virtual mailbox table"_s
                                           << QByteArray("<20261207.091500.1.2.a1b2c3@practice.example>")
                                           << u"Rechnung Dezember \u00fc"_s << true;
        QTest::newRow("standard, the delayed recipient left out")
            << u"standard-dsn"_s << QByteArray() << 1 << u"bob@client.example"_s << u"5.2.2"_s
            << u"552 5.2.2 Mailbox full"_s << QByteArray("<20261201.080000.2.7.ffee@practice.example>")
            << u"Invoice 17"_s << true;
        QTest::newRow("qmail quoting the original")
            << u"qmail-quoted"_s << QByteArray() << 1 << u"eve@client.example"_s << u"5.1.1"_s
            << u"Remote host said: 550 5.1.1 No such user here"_s
            << QByteArray("<20261202.101010.3.9.0a0b@practice.example>") << u"Invoice 18"_s << true;
        QTest::newRow("undeliverable with the original attached")
            << u"exchange-undeliverable"_s << QByteArray() << 1 << u"frank@client.example"_s << u"5.1.10"_s
            << u"The email address you entered couldn't be found. Remote server returned '550 5.1.10 "
               "RESOLVER.ADR.RecipientNotFound; Recipient not found by SMTP address lookup'"_s
            << QByteArray("<20261203.111111.4.12.beef@practice.example>") << u"Invoice 19"_s << true;
        QTest::newRow("only a delay") << u"delay-only"_s << QByteArray() << 0 << QString() << QString() << QString()
                                      << QByteArray() << QString() << true;
        // Delivered, relayed or expanded is no failure, whatever the status says.
        QTest::newRow("delivered, relayed and expanded") << u"delivered-relayed"_s << QByteArray() << 0 << QString()
                                                         << QString() << QString() << QByteArray() << QString() << true;
        QTest::newRow("only the original recipient named")
            << u"original-recipient-only"_s << QByteArray() << 1 << u"dana@client.example"_s << u"5.1.1"_s
            << QString() << QByteArray("<20261205.090000.6.1.cdef@practice.example>") << u"Invoice 21"_s << true;
        // Neither Message-ID nor subject: nothing to tell the client's message from another's.
        QTest::newRow("quoted original without Message-ID or subject")
            << u"quoted-without-id"_s << QByteArray() << 0 << QString() << QString() << QString() << QByteArray()
            << QString() << true;
        QTest::newRow("a person's reply quoting headers")
            << u"person-reply"_s << QByteArray() << 0 << QString() << QString() << QString() << QByteArray()
            << QString() << false;
        QTest::newRow("garbage") << u"garbage"_s << QByteArray() << 0 << QString() << QString() << QString()
                                 << QByteArray() << QString() << false;
    }

    void readsTheFailedRecipientAndTheOriginal()
    {
        QFETCH(QString, sample);
        QFETCH(QByteArray, cutAt);
        QFETCH(int, count);
        QFile file(QStringLiteral(QUORVALE_BOUNCE_SAMPLES) + u'/' + sample);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QByteArray message = file.readAll();
        if (!cutAt.isEmpty())
            message.truncate(message.indexOf(cutAt));
        QTEST(mayBeBounce(message.first(message.indexOf("\r\n\r\n") + 4)), "candidate");
        const QList<Bounce> bounces = readBounce(message);
        QCOMPARE(bounces.size(), count);
        if (count == 0)
            return;
        QTEST(bounces.first().recipient, "recipient");
        QTEST(bounces.first().status, "status");
        QTEST(bounces.first().diagnostic, "diagnostic");
        QTEST(bounces.first().originalId, "originalId");
        QTEST(bounces.first().originalSubject, "subject");
    }

    // The report's own Date header (never the quoted original's) dates it; a date that cannot be
    // read leaves it undated.
    void datesTheReportByItsOwnDateHeader_data()
    {
        QTest::addColumn<QByteArray>("date"); // replaces the report's own Date header; empty: the sample's
        QTest::addColumn<QDateTime>("reported");
        const QDateTime sampleDate(QDate(2026, 12, 7), QTime(9, 15, 2), QTimeZone(3600));
        QTest::newRow("with the zone's name after the offset") << QByteArray() << sampleDate;
        QTest::newRow("without the weekday, west of UTC") << QByteArray("7 Dec 2026 03:15:02 -0500") << sampleDate;
        QTest::newRow("not a date") << QByteArray("yesterday (CET)") << QDateTime();
        QTest::newRow("no such day") << QByteArray("Mon, 31 Feb 2026 09:15:02 +0100") << QDateTime();
    }
    void datesTheReportByItsOwnDateHeader()
    {
        QFETCH(QByteArray, date);
        QFETCH(QDateTime, reported);
        QFile file(QStringLiteral(QUORVALE_BOUNCE_SAMPLES) + u"/postfix-dsn"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray message = file.readAll();
        if (!date.isEmpty())
            message.replace("Date: Mon,  7 Dec 2026 09:15:02 +0100 (CET)", QByteArray("Date: " + date));
        const QList<Bounce> bounces = readBounce(message);
        QCOMPARE(bounces.size(), 1);
        QCOMPARE(bounces.first().reported.isValid(), reported.isValid());
        if (reported.isValid())
            QCOMPARE(bounces.first().reported.toUTC(), reported.toUTC());
    }
};

QTEST_GUILESS_MAIN(TestBounceReport)
#include "tst_bouncereport.moc"
