#include "clients/csvreader.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace quorvale {

class TestCsvReader final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void splitsLineIntoFields_data();
    void splitsLineIntoFields();
    void splitsWithOtherSeparatorAndQuote();
    void readerTakesEveryFieldOfEachLine_data();
    void readerTakesEveryFieldOfEachLine();
    void readerAgreesWithSplitterOnRandomLines();
    void refusesLinesBeyondSplitterLimits_data();
    void refusesLinesBeyondSplitterLimits();
    void readsFiles_data();
    void readsFiles();
    void readsFurtherFieldsAndColumnNames_data();
    void readsFurtherFieldsAndColumnNames();
    void warnsAboutMissingFile_data();
    void warnsAboutMissingFile();
    void readsHiddenFile();
    void warnsAboutUnreadableFile();
    void handBuiltListGivesBackItsRows();

private:
    QString writeFile(const QByteArray &bytes, const QString &name = u"clients.csv"_s);

    QTemporaryDir m_dir;
};

QString TestCsvReader::writeFile(const QByteArray &bytes, const QString &name)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test file");
    return path;
}

void TestCsvReader::splitsLineIntoFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("id and address") << u"12345,addr"_s << QStringList{u"12345"_s, u"addr"_s};
    QTest::newRow("no address") << u"12345,"_s << QStringList{u"12345"_s, QString()};
    QTest::newRow("no comma") << u"12345"_s << QStringList{u"12345"_s};
    QTest::newRow("empty line") << QString() << QStringList{QString()};
    QTest::newRow("lone comma") << u","_s << QStringList{QString(), QString()};
    QTest::newRow("blanks only") << u"   "_s << QStringList{u"   "_s};
    QTest::newRow("comma inside quotes") << u"\"Smith, Jane\",addr"_s << QStringList{u"Smith, Jane"_s, u"addr"_s};
    QTest::newRow("doubled quote is no escape") << u"\"a\"\"b\",addr"_s << QStringList{u"a"_s, u"addr"_s};
    QTest::newRow("spaces before quote, junk after")
        << u"  \"x\" junk ,addr"_s << QStringList{u"x"_s, u"addr"_s};
    QTest::newRow("plain fields keep spaces") << u" 12345 , addr "_s << QStringList{u" 12345 "_s, u" addr "_s};
    QTest::newRow("blank address") << u"12345,   "_s << QStringList{u"12345"_s, u"   "_s};
    QTest::newRow("further fields") << u"1,a,b,c"_s << QStringList{u"1"_s, u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("trailing comma") << u"a,b,"_s << QStringList{u"a"_s, u"b"_s, QString()};
    QTest::newRow("no closing quote") << u"1,\"open"_s << QStringList{u"1"_s, u"open"_s};
    QTest::newRow("lone quote") << u"1,\""_s << QStringList{u"1"_s, QString()};
    QTest::newRow("only a lone quote") << u"\""_s << QStringList{QString()};
    QTest::newRow("header line") << u"ClientID,Email"_s << QStringList{u"ClientID"_s, u"Email"_s};
    QTest::newRow("quoted line") << u"\"x\""_s << QStringList{u"x"_s};
    QTest::newRow("quoted then comma") << u"\"x\","_s << QStringList{u"x"_s, QString()};
    QTest::newRow("empty quotes") << u"\"\",addr"_s << QStringList{QString(), u"addr"_s};
    QTest::newRow("quote inside plain field") << u"a\"b,c"_s << QStringList{u"a\"b"_s, u"c"_s};
    QTest::newRow("tab is not a space") << u"\t\"x\",y"_s << QStringList{u"\t\"x\""_s, u"y"_s};
    QTest::newRow("junk with quote and comma after closing quote")
        << u"\"a,b\"c,d\"e"_s << QStringList{u"a,b"_s, u"d\"e"_s};
    QTest::newRow("quoted middle field") << u"1,  \"a,b\"  ,z"_s << QStringList{u"1"_s, u"a,b"_s, u"z"_s};
    QTest::newRow("quoted address") << u"1,\"mail\""_s << QStringList{u"1"_s, u"mail"_s};
    QTest::newRow("quote in the junk after a quoted address")
        << u"1,\"a\"x\"y,z"_s << QStringList{u"1"_s, u"a"_s, u"z"_s};
    QTest::newRow("non-ASCII") << u"Müller,jörg@straße.example"_s
                               << QStringList{u"Müller"_s, u"jörg@straße.example"_s};
}

void TestCsvReader::splitsLineIntoFields()
{
    QFETCH(QString, line);
    QFETCH(QStringList, fields);
    const QString before = line;
    QCOMPARE(ParseCSVLine(line), fields);
    QCOMPARE(line, before);
}

void TestCsvReader::splitsWithOtherSeparatorAndQuote()
{
    QCOMPARE(ParseCSVLine(u" 'a;b' x;\"c,d\";"_s, u';', u'\''),
             (QStringList{u"a;b"_s, u"\"c,d\""_s, QString()}));
}

// Every line of the splitter's table, read from a file, must give exactly the splitter's fields, or
// stop the read when the splitter finds fewer than two; read as column names, the same.
void TestCsvReader::readerTakesEveryFieldOfEachLine_data()
{
    splitsLineIntoFields_data();
}

void TestCsvReader::readerTakesEveryFieldOfEachLine()
{
    QFETCH(QString, line);
    QFETCH(QStringList, fields);
    const QString path = writeFile(u"first,line\r\n"_s.toUtf8() + line.toUtf8() + "\r\n");
    const CsvReadResult result = GetCSVFile(path);
    if (line.isEmpty()) {
        QCOMPARE(result.outcome, CsvReadOutcome::Read);
        QCOMPARE(result.clients.Count(), 1);
    } else if (fields.size() < 2) {
        QCOMPARE(result.outcome, CsvReadOutcome::LineUnsplittable);
        QCOMPARE(result.failedLine, 2);
        QCOMPARE(result.clients.Count(), 0);
    } else {
        QCOMPARE(result.outcome, CsvReadOutcome::Read);
        QCOMPARE(result.clients.Count(), 2);
        const ClientRecord client = result.clients.at(1);
        QCOMPARE(client.ClientId, fields.at(0));
        QCOMPARE(client.EmailAddress, fields.at(1));
        QCOMPARE(client.LineNumber, 2);
        QCOMPARE(result.clients.hasEmailAddress(1), !fields.at(1).isEmpty());
        QCOMPARE(result.clients.fieldCount(1), fields.size());
        for (qsizetype column = 0; column <= fields.size(); ++column)
            QCOMPARE(result.clients.field(1, column), fields.value(column));
    }

    // The same line as the column names: it must split like a client's line, and is no client.
    const CsvReadResult named = GetCSVFile(writeFile(line.toUtf8() + "\r\n1,a"), CsvHeader::ColumnNames);
    if (line.isEmpty()) {
        QCOMPARE(named.clients.columnNames(), (QStringList{u"1"_s, u"a"_s}));
        QCOMPARE(named.clients.Count(), 0);
    } else if (fields.size() < 2) {
        QCOMPARE(named.outcome, CsvReadOutcome::LineUnsplittable);
        QCOMPARE(named.failedLine, 1);
    } else {
        QCOMPARE(named.clients.columnNames(), fields);
        QCOMPARE(named.clients.Count(), 1);
        QCOMPARE(named.clients.lineNumber(0), 2);
    }
}

void TestCsvReader::readerAgreesWithSplitterOnRandomLines()
{
    static const QString alphabet = u"a é,\" \t\""_s;
    QRandomGenerator random(20261207);
    QList<QStringList> expected;
    QByteArray bytes;
    while (expected.size() < 3000) {
        QString line;
        for (int length = random.bounded(14); length > 0; --length)
            line.append(alphabet.at(random.bounded(int(alphabet.size()))));
        const QStringList fields = ParseCSVLine(line);
        QVERIFY(!fields.isEmpty());
        if (fields.size() < 2)
            continue;
        expected.append(fields);
        bytes += line.toUtf8() + "\r\n";
    }
    const CsvReadResult result = GetCSVFile(writeFile(bytes));
    QCOMPARE(result.outcome, CsvReadOutcome::Read);
    QCOMPARE(result.clients.Count(), expected.size());
    qsizetype widest = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QCOMPARE(result.clients.ClientId(i), expected.at(i).at(0));
        QCOMPARE(result.clients.EmailAddress(i), expected.at(i).at(1));
        QCOMPARE(result.clients.lineNumber(i), i + 1);
        QCOMPARE(result.clients.fieldCount(i), expected.at(i).size());
        for (qsizetype column = 2; column < expected.at(i).size(); ++column)
            QCOMPARE(result.clients.field(i, column), expected.at(i).at(column));
        widest = std::max(widest, expected.at(i).size());
    }
    QCOMPARE(result.clients.columnCount(), widest);
}

void TestCsvReader::refusesLinesBeyondSplitterLimits_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("splittable");

    const auto repeated = [](const QString &text, qsizetype times) { return text.repeated(times); };
    QTest::newRow("plain field at the limit") << repeated(u"a"_s, 32766) + u",x"_s << true;
    QTest::newRow("plain field over the limit") << repeated(u"a"_s, 32767) + u",x"_s << false;
    QTest::newRow("last field over the limit") << u"1,"_s + repeated(u"a"_s, 32767) << false;
    QTest::newRow("quoted field at the limit") << u"\""_s + repeated(u"a"_s, 32764) + u"\",x"_s << true;
    QTest::newRow("quoted field over the limit") << u"\""_s + repeated(u"a"_s, 32765) + u"\",x"_s << false;
    QTest::newRow("junk after the quote counts") << u"\"a\""_s + repeated(u" "_s, 32764) + u",x"_s << false;
    QTest::newRow("two-byte characters at the limit") << repeated(u"é"_s, 32766) + u",x"_s << true;
    QTest::newRow("two-byte characters over the limit") << repeated(u"é"_s, 32767) + u",x"_s << false;
    QTest::newRow("characters beyond U+FFFF count twice") << repeated(u"😀"_s, 16383) + u",x"_s << true;
    QTest::newRow("characters beyond U+FFFF over the limit") << repeated(u"😀"_s, 16384) + u",x"_s << false;
    QTest::newRow("fields at the limit") << repeated(u","_s, 32766) << true;
    QTest::newRow("fields over the limit") << repeated(u","_s, 32767) << false;
}

void TestCsvReader::refusesLinesBeyondSplitterLimits()
{
    QFETCH(QString, line);
    QFETCH(bool, splittable);
    QCOMPARE(ParseCSVLine(line).isEmpty(), !splittable);

    const CsvReadResult result = GetCSVFile(writeFile("1,ok\r\n" + line.toUtf8()));
    QCOMPARE(result.outcome, splittable ? CsvReadOutcome::Read : CsvReadOutcome::LineUnsplittable);
    QCOMPARE(result.failedLine, splittable ? 0 : 2);
}

// Line ends and encodings: CR LF, LF and a lone CR each end a line wherever they stand, and each
// line is UTF-8 when it is valid UTF-8, otherwise Windows-1252, on its own.
void TestCsvReader::readsFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("mails");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QList<qint64>>("windows1252"); // the lines read as Windows-1252
    QTest::addColumn<int>("failedLine");            // 0: the file reads

    const QList<qint64> none;
    QTest::newRow("CR LF") << QByteArray("1,a\r\n2,\r\n") << QStringList{u"1"_s, u"2"_s}
                           << QStringList{u"a"_s, QString()} << QList<int>{1, 2} << none << 0;
    QTest::newRow("lone CR, no end on the last line") << QByteArray("1,a\r2,b") << QStringList{u"1"_s, u"2"_s}
                                                      << QStringList{u"a"_s, u"b"_s} << QList<int>{1, 2} << none << 0;
    QTest::newRow("LF only") << QByteArray("1,a\n2,b\n") << QStringList{u"1"_s, u"2"_s} << QStringList{u"a"_s, u"b"_s}
                             << QList<int>{1, 2} << none << 0;
    QTest::newRow("a lone LF ends a line in a file with CRs")
        << QByteArray("1,a\n2,b\r\n3,c") << QStringList{u"1"_s, u"2"_s, u"3"_s} << QStringList{u"a"_s, u"b"_s, u"c"_s}
        << QList<int>{1, 2, 3} << none << 0;
    QTest::newRow("a lone CR ends a line in a file of CR LF: seven clients stay seven")
        << QByteArray("1,a\r\n2,b\r\n3,c\r4,d\r\n5,e\n\r6,f\r\r\n7,g\r\n")
        << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s, u"6"_s, u"7"_s}
        << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"f"_s, u"g"_s} << QList<int>{1, 2, 3, 4, 5, 7, 9}
        << none << 0;
    QTest::newRow("a stray CR in a field ends the line, which then has no second field")
        << QByteArray("1,a@x,Jane\rSmith\n2,b@x\n") << QStringList() << QStringList() << QList<int>() << none << 2;
    QTest::newRow("a stray CR in a quoted field too")
        << QByteArray("\"1\r2\",a@x\r\n") << QStringList() << QStringList() << QList<int>() << none << 1;
    QTest::newRow("empty lines skipped, numbers kept")
        << QByteArray("\r\n1,a\r\n\r\n2,b\r\n\r\n") << QStringList{u"1"_s, u"2"_s} << QStringList{u"a"_s, u"b"_s}
        << QList<int>{2, 4} << none << 0;
    QTest::newRow("empty LF lines skipped") << QByteArray("1,a\n\n2,b\n\n") << QStringList{u"1"_s, u"2"_s}
                                            << QStringList{u"a"_s, u"b"_s} << QList<int>{1, 3} << none << 0;
    QTest::newRow("empty file") << QByteArray() << QStringList() << QStringList() << QList<int>() << none << 0;
    QTest::newRow("only line ends") << QByteArray("\r\n\n\r") << QStringList() << QStringList() << QList<int>() << none
                                    << 0;
    QTest::newRow("header line is a client")
        << QByteArray("ClientID,Email\r\n1,a") << QStringList{u"ClientID"_s, u"1"_s} << QStringList{u"Email"_s, u"a"_s}
        << QList<int>{1, 2} << none << 0;
    QTest::newRow("byte-order mark dropped")
        << QByteArray("\xEF\xBB\xBF"
                      "1,a")
        << QStringList{u"1"_s} << QStringList{u"a"_s} << QList<int>{1} << none << 0;
    QTest::newRow("byte-order mark only")
        << QByteArray("\xEF\xBB\xBF") << QStringList() << QStringList() << QList<int>() << none << 0;
    QTest::newRow("UTF-8") << u"Müller,jörg@x\r\n€,😀"_s.toUtf8() << QStringList{u"Müller"_s, u"€"_s}
                           << QStringList{u"jörg@x"_s, u"😀"_s} << QList<int>{1, 2} << none << 0;
    QTest::newRow("Windows-1252") << QByteArray("M\xFCller,\x80\x9F\r\n\x81,\xA0")
                                  << QStringList{u"Müller"_s, u"\u0081"_s} << QStringList{u"€Ÿ"_s, u"\u00A0"_s}
                                  << QList<int>{1, 2} << QList<qint64>{1, 2} << 0;
    QTest::newRow("one Windows-1252 line garbles no UTF-8 line")
        << QByteArray("1,J\xC3\xBCrgen\r\n2,M\xFC"
                      "ller\r\n\r\n3,\xE2\x82\xAC\r\n4,\xE9")
        << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s} << QStringList{u"Jürgen"_s, u"Müller"_s, u"€"_s, u"é"_s}
        << QList<int>{1, 2, 4, 5} << QList<qint64>{2, 5} << 0;
    QTest::newRow("Windows-1252 line ended by a lone LF")
        << QByteArray("\xFC,a\n2,b\r\n3,c") << QStringList{u"ü"_s, u"2"_s, u"3"_s}
        << QStringList{u"a"_s, u"b"_s, u"c"_s} << QList<int>{1, 2, 3} << QList<qint64>{1} << 0;
    QTest::newRow("byte-order mark dropped before a Windows-1252 line")
        << QByteArray("\xEF\xBB\xBF"
                      "M\xFCller,a\r\nJ\xC3\xBCrgen,b")
        << QStringList{u"Müller"_s, u"Jürgen"_s} << QStringList{u"a"_s, u"b"_s} << QList<int>{1, 2} << QList<qint64>{1}
        << 0;
    QTest::newRow("overlong UTF-8 is Windows-1252") << QByteArray("\xC0\xAF,a") << QStringList{u"À¯"_s}
                                                    << QStringList{u"a"_s} << QList<int>{1} << QList<qint64>{1} << 0;
    QTest::newRow("encoded surrogate is Windows-1252") << QByteArray("\xED\xA0\x80,a") << QStringList{u"í\u00A0€"_s}
                                                       << QStringList{u"a"_s} << QList<int>{1} << QList<qint64>{1} << 0;
    QTest::newRow("UTF-8 cut short at a line end is Windows-1252")
        << QByteArray("a,\xC3\r\nb,\xA9") << QStringList{u"a"_s, u"b"_s} << QStringList{u"Ã"_s, u"©"_s}
        << QList<int>{1, 2} << QList<qint64>{1, 2} << 0;
}

void TestCsvReader::readsFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, mails);
    QFETCH(QList<int>, lines);
    QFETCH(int, failedLine);
    const CsvReadResult result = GetCSVFile(writeFile(bytes));
    if (failedLine > 0) {
        QCOMPARE(result.outcome, CsvReadOutcome::LineUnsplittable);
        QCOMPARE(result.failedLine, failedLine);
        QCOMPARE(result.clients.Count(), 0);
        return;
    }
    QCOMPARE(result.outcome, CsvReadOutcome::Read);
    QCOMPARE(result.message(u"x"_s), QString());
    QTEST(result.windows1252Lines, "windows1252");
    QCOMPARE(result.clients.Count(), ids.size());
    for (qsizetype i = 0; i < ids.size(); ++i) {
        QCOMPARE(result.clients.ClientId(i), ids.at(i));
        QCOMPARE(result.clients.EmailAddress(i), mails.at(i));
        QCOMPARE(result.clients.lineNumber(i), lines.at(i));
        QCOMPARE(result.clients.fieldCount(i), 2); // no line end is inside a line
    }
}

// Every row of the list against all the fields of its line, read with or without column names.
void TestCsvReader::readsFurtherFieldsAndColumnNames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<int>("columnCount");
    QTest::addColumn<char>("separator");

    const QList<QStringList> fiveColumns{{u"1"_s, u"a"_s, u"x"_s, QString(), u"Smith, Jane"_s},
                                         {u"2"_s, QString(), u"y"_s, u"q"_s, u"z"_s}};
    QTest::newRow("five columns") << QByteArray("1,a,x,,\"Smith, Jane\"\r\n2,,y,q,z\r\n") << false << QStringList()
                                  << fiveColumns << QList<int>{1, 2} << 5 << ',';
    QTest::newRow("column names first") << QByteArray("Id, Mail ,Name\r\n1,a,x\r\n") << true
                                        << QStringList{u"Id"_s, u" Mail "_s, u"Name"_s}
                                        << QList<QStringList>{{u"1"_s, u"a"_s, u"x"_s}} << QList<int>{2} << 3 << ',';
    QTest::newRow("names after empty lines and a byte-order mark")
        << QByteArray("\xEF\xBB\xBF\r\n\r\n\"Id\",Mail\r\n\r\n1,a") << true << QStringList{u"Id"_s, u"Mail"_s}
        << QList<QStringList>{{u"1"_s, u"a"_s}} << QList<int>{5} << 2 << ',';
    QTest::newRow("names only") << QByteArray("Id,Mail,Name") << true << QStringList{u"Id"_s, u"Mail"_s, u"Name"_s}
                                << QList<QStringList>() << QList<int>() << 3 << ',';
    QTest::newRow("empty file with names")
        << QByteArray() << true << QStringList() << QList<QStringList>() << QList<int>() << 2 << ',';
    QTest::newRow("lines of different widths")
        << QByteArray("Id,Mail\n1,a,b,c\n2,\n") << true << QStringList{u"Id"_s, u"Mail"_s}
        << QList<QStringList>{{u"1"_s, u"a"_s, u"b"_s, u"c"_s}, {u"2"_s, QString()}} << QList<int>{2, 3} << 4 << ',';
    QTest::newRow("quoted address with junk before the third field")
        << QByteArray("1,\"a\" junk,third\r2,\"b\" junk\r3,\"c,d,e") << false << QStringList()
        << QList<QStringList>{{u"1"_s, u"a"_s, u"third"_s}, {u"2"_s, u"b"_s}, {u"3"_s, u"c,d,e"_s}}
        << QList<int>{1, 2, 3} << 3 << ',';
    QTest::newRow("lone LF after a third field")
        << QByteArray("1,a,x\n2,b,\r\n") << false << QStringList()
        << QList<QStringList>{{u"1"_s, u"a"_s, u"x"_s}, {u"2"_s, u"b"_s, QString()}} << QList<int>{1, 2} << 3 << ',';
    QTest::newRow("Windows-1252 names and fields")
        << QByteArray("Id,Mail,Stra\xDF"
                      "e\r\n1,a,M\xFCller")
        << true << QStringList{u"Id"_s, u"Mail"_s, u"Straße"_s} << QList<QStringList>{{u"1"_s, u"a"_s, u"Müller"_s}}
        << QList<int>{2} << 3 << ',';
    QTest::newRow("semicolons") << QByteArray("Id;Mail;Name\r\n1;a@x;\"Smith; Jane\"\r\n2;b,c;x;\n") << true
                                << QStringList{u"Id"_s, u"Mail"_s, u"Name"_s}
                                << QList<QStringList>{{u"1"_s, u"a@x"_s, u"Smith; Jane"_s},
                                                      {u"2"_s, u"b,c"_s, u"x"_s, QString()}}
                                << QList<int>{2, 3} << 4 << ';';
    QTest::newRow("tabs") << QByteArray("1\ta@x\tx, y\n2\t\t  \"q\tr\"") << false << QStringList()
                          << QList<QStringList>{{u"1"_s, u"a@x"_s, u"x, y"_s}, {u"2"_s, QString(), u"q\tr"_s}}
                          << QList<int>{1, 2} << 3 << '\t';
}

void TestCsvReader::readsFurtherFieldsAndColumnNames()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, header);
    QFETCH(QStringList, names);
    QFETCH(QList<QStringList>, rows);
    QFETCH(QList<int>, lines);
    QFETCH(int, columnCount);
    QFETCH(char, separator);
    const CsvReadResult result =
        GetCSVFile(writeFile(bytes), header ? CsvHeader::ColumnNames : CsvHeader::None, separator);
    QCOMPARE(result.outcome, CsvReadOutcome::Read);
    const ClientList &clients = result.clients;
    QCOMPARE(clients.columnNames(), names);
    QCOMPARE(clients.columnCount(), columnCount);
    QCOMPARE(clients.Count(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QCOMPARE(clients.lineNumber(i), lines.at(i));
        QCOMPARE(clients.fieldCount(i), rows.at(i).size());
        QCOMPARE(clients.ClientId(i), rows.at(i).at(0));
        QCOMPARE(clients.EmailAddress(i), rows.at(i).at(1));
        for (qsizetype column = 0; column <= rows.at(i).size(); ++column)
            QCOMPARE(clients.field(i, column), rows.at(i).value(column));
    }
}

void TestCsvReader::warnsAboutMissingFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("no such file") << m_dir.filePath(u"missing.csv"_s);
    QTest::newRow("folder") << m_dir.path();
    QTest::newRow("empty path") << QString();
}

void TestCsvReader::warnsAboutMissingFile()
{
    QFETCH(QString, path);
    const CsvReadResult result = GetCSVFile(path);
    QCOMPARE(result.outcome, CsvReadOutcome::FileMissing);
    QCOMPARE(result.clients.Count(), 0);
    QCOMPARE(result.message(path), u"There was a problem reading the CSV file. File name= "_s + path);
}

void TestCsvReader::readsHiddenFile()
{
    const CsvReadResult result = GetCSVFile(writeFile("1,a", u".clients.csv"_s));
    QCOMPARE(result.outcome, CsvReadOutcome::Read);
    QCOMPARE(result.clients.Count(), 1);
}

void TestCsvReader::warnsAboutUnreadableFile()
{
    // Permissions do not stop root; this file exists but reading its start fails there too.
    QString path = u"/proc/self/mem"_s;
    if (geteuid() != 0) {
        path = writeFile("1,a", u"locked.csv"_s);
        QVERIFY(QFile::setPermissions(path, {}));
    }
    const CsvReadResult result = GetCSVFile(path);
    QCOMPARE(result.outcome, CsvReadOutcome::FileUnreadable);
    QCOMPARE(result.clients.Count(), 0);
    QCOMPARE(result.message(path), u"There was a problem reading the CSV file. File name= "_s + path);
}

void TestCsvReader::handBuiltListGivesBackItsRows()
{
    ClientList list;
    list.append(u"Müller"_s, QString(), 3);
    list.append(u"2"_s, u"   "_s, 7);
    QCOMPARE(list.Count(), 2);
    QCOMPARE(list.ClientId(0), u"Müller"_s);
    QVERIFY(!list.hasEmailAddress(0));
    QVERIFY(list.hasEmailAddress(1)); // blanks are an address as far as the list is concerned
    const ClientRecord second = list.at(1);
    QCOMPARE(second.ClientId, u"2"_s);
    QCOMPARE(second.EmailAddress, u"   "_s);
    QCOMPARE(second.LineNumber, 7);
    list.clear();
    QCOMPARE(list.Count(), 0);
}

} // namespace quorvale

QTEST_GUILESS_MAIN(quorvale::TestCsvReader)
#include "tst_csvreader.moc"
