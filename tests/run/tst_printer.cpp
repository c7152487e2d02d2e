#include "run/printer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace quorvale;

class TestPrinter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handsTheFileOverAsOneArgument()
    {
        QTemporaryDir dir;
        const QString record = dir.filePath(u"args.txt"_s);
        const QString script = dir.filePath(u"record print.sh"_s);
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$RECORD\"\n");
        file.close();
        qputenv("RECORD", QFile::encodeName(record));
        CommandPrinter printer(u"/bin/sh \""_s + script + u"\" -o 'media=A4'"_s);
        // A name with blanks that starts with "-" must arrive as the last argument, whole.
        const QString document = dir.filePath(u"-n 2 copy.pdf"_s);
        QString error;
        QVERIFY2(printer.printDocument(document, &error), qPrintable(error));
        QFile recorded(record);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(recorded.readAll()), u"-o\nmedia=A4\n"_s + document + u"\n"_s);
    }

    void reportsACommandThatCannotHandItOver_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("exits with an error") << u"/bin/false"_s;
        QTest::newRow("no such program") << u"/nonexistent/quorvale-print"_s;
        QTest::newRow("killed") << u"/bin/sh -c 'kill -9 $$'"_s;
    }
    void reportsACommandThatCannotHandItOver()
    {
        QFETCH(QString, command);
        QString error;
        QVERIFY(!CommandPrinter(command).printDocument(u"/tmp/x.pdf"_s, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPrinter)
#include "tst_printer.moc"
