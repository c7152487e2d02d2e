#include "run/batchrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvale;

class TestClientDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findsOnlyTheClientsOwnDocument_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("clientId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name starts with it") << QStringList{u"42.pdf"_qs} << u"42"_qs << u"42.pdf"_qs;
        QTest::newRow("after a separator") << QStringList{u"Invoice_42.pdf"_qs} << u"42"_qs << u"Invoice_42.pdf"_qs;
        QTest::newRow("digits after letters") << QStringList{u"Smith42.doc"_qs} << u"42"_qs << u"Smith42.doc"_qs;
        QTest::newRow("another client's number") << QStringList{u"1042.pdf"_qs} << u"42"_qs << QString();
        QTest::newRow("skips another client's number")
            << QStringList{u"1042.pdf"_qs, u"Smith42.doc"_qs} << u"42"_qs << u"Smith42.doc"_qs;
        QTest::newRow("later occurrence counts") << QStringList{u"1042.42.pdf"_qs} << u"42"_qs << u"1042.42.pdf"_qs;
        QTest::newRow("letters after letters") << QStringList{u"BA7.pdf"_qs} << u"A7"_qs << QString();
        QTest::newRow("letters after digits") << QStringList{u"2024A7.pdf"_qs} << u"A7"_qs << u"2024A7.pdf"_qs;
        QTest::newRow("case ignored") << QStringList{u"INVOICE_AB12.PDF"_qs} << u"ab12"_qs << u"INVOICE_AB12.PDF"_qs;
        QTest::newRow("needs the period") << QStringList{u"42pdf"_qs, u"42_old.pdf"_qs} << u"42"_qs << QString();
        QTest::newRow("name order, case ignored")
            << QStringList{u"b_42.pdf"_qs, u"a_42.txt"_qs, u"A_42.pdf"_qs} << u"42"_qs << u"A_42.pdf"_qs;
        QTest::newRow("folders are not documents")
            << QStringList{u"42.d/"_qs, u"x_42.pdf"_qs} << u"42"_qs << u"x_42.pdf"_qs;
        QTest::newRow("hidden lock file")
            << QStringList{u".~lock.Invoice_42.odt#"_qs, u"Invoice_42.odt"_qs} << u"42"_qs << u"Invoice_42.odt"_qs;
        QTest::newRow("empty identifier") << QStringList{u"a.pdf"_qs, u".pdf"_qs} << QString() << QString();
        QTest::newRow("blank identifier") << QStringList{u" .pdf"_qs, u"a  .pdf"_qs} << u"  "_qs << QString();
        QTest::newRow("non-ASCII identifier")
            << QStringList{u"Müller.pdf"_qs, u"xmüller.pdf"_qs} << u"müller"_qs << u"Müller.pdf"_qs;
    }
    void findsOnlyTheClientsOwnDocument()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, clientId);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &name : std::as_const(files)) {
            if (name.endsWith(QLatin1Char('/'))) {
                QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
                continue;
            }
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QString error;
        const QString found = FindClientDocument(dir.path(), clientId, &error);
        QCOMPARE(found, expected.isEmpty() ? QString() : dir.filePath(expected));
        QVERIFY(error.isEmpty());
    }

    void neverPicksTheClientList()
    {
        QTemporaryDir dir;
        for (const QString &name : {u"2024.csv"_qs, u"2024.pdf"_qs}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(FindClientDocument(dir.path(), u"2024"_qs, nullptr, u"2024.csv"_qs), dir.filePath(u"2024.pdf"_qs));
        QVERIFY(QFile::remove(dir.filePath(u"2024.pdf"_qs)));
        QCOMPARE(FindClientDocument(dir.path(), u"2024"_qs, nullptr, u"2024.csv"_qs), QString());
    }

    void listsTheFolderAfreshForEveryLookup()
    {
        QTemporaryDir dir;
        QCOMPARE(FindClientDocument(dir.path(), u"7"_qs), QString());
        QFile file(dir.filePath(u"7.pdf"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(FindClientDocument(dir.path(), u"7"_qs), dir.filePath(u"7.pdf"_qs));
    }

    void reportsAFolderThatCannotBeListed()
    {
        QTemporaryDir dir;
        QString error;
        QCOMPARE(FindClientDocument(dir.filePath(u"gone"_qs), u"7"_qs, &error), QString());
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestClientDocument)
#include "tst_clientdocument.moc"
