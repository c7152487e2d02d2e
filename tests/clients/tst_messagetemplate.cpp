#include "clients/csvreader.h"
#include "clients/messagetemplate.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace quorvale {

class TestMessageTemplate final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fillsFieldsOfTheClientsLine_data();
    void fillsFieldsOfTheClientsLine();
    void subjectAndBodyReportTogether();
    void withoutColumnNamesOnlyNumbersReachFurtherFields();
    void htmlFillEscapesOnlyTheValues();

private:
    CsvReadResult read(CsvHeader header) const;

    QTemporaryDir m_dir;
    ClientList m_clients;
};

// Column names that clash with the fixed names, a non-ASCII name, a value holding a line break and
// "{{", one holding HTML's special characters, and a second client whose fields are empty, blank
// (white space beyond ASCII too) or missing.
CsvReadResult TestMessageTemplate::read(CsvHeader header) const
{
    const QString path = m_dir.filePath(u"clients.csv"_s);
    QFile file(path);
    const QByteArray bytes = u"Nr,E-Mail, Name ,Straße,id,3,Notiz,Firma\r\n"
                             "K1,k1@example.com,Jörg Müller,Hauptstraße 1,X,Ü,\"eins, zwei {{id}}\",<b>O'Neil & \"Co\"</b>\r\n"
                             "K2,,   ,\t\u00A0,,\r\n"_s.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the client file");
    file.close();
    return GetCSVFile(path, header);
}

void TestMessageTemplate::initTestCase()
{
    const CsvReadResult result = read(CsvHeader::ColumnNames);
    QCOMPARE(result.outcome, CsvReadOutcome::Read);
    m_clients = result.clients;
}

void TestMessageTemplate::fillsFieldsOfTheClientsLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("filled");
    QTest::addColumn<QStringList>("unknown");
    QTest::addColumn<QStringList>("empty");

    QTest::newRow("no placeholder") << u"Hallo {x} }} {\r\n}"_s << 0 << u"Hallo {x} }} {\r\n}"_s << QStringList()
                                    << QStringList();
    QTest::newRow("identifier and address")
        << u"{{id}} <{{email}}>"_s << 0 << u"K1 <k1@example.com>"_s << QStringList() << QStringList();
    QTest::newRow("numbers") << u"{{1}}|{{2}}|{{3}}|{{4}}"_s << 0 << u"K1|k1@example.com|Jörg Müller|Hauptstraße 1"_s
                             << QStringList() << QStringList();
    QTest::newRow("names without case and blanks")
        << u"{{ name }}, {{STRAßE}}"_s << 0 << u"Jörg Müller, Hauptstraße 1"_s << QStringList() << QStringList();
    QTest::newRow("fixed names before columns so called")
        << u"{{id}} {{ ID }} {{EMAIL}} {{3}} {{5}} {{6}}"_s << 0 << u"K1 K1 k1@example.com Jörg Müller X Ü"_s
        << QStringList() << QStringList();
    QTest::newRow("value with a comma and braces")
        << u"Notiz: {{Notiz}}"_s << 0 << u"Notiz: eins, zwei {{id}}"_s << QStringList() << QStringList();
    QTest::newRow("quoted text") << u"{{\"{{\"}}id}} and {{ \"}\" }}{{\"\"}}"_s << 0 << u"{{id}} and }"_s
                                 << QStringList() << QStringList();
    QTest::newRow("names no column has") << u"{{Vorname}} {{9}} {{0}} {{}} {{Vorname}} {{id}}"_s << 0
                                         << u"{{Vorname}} {{9}} {{0}} {{}} {{Vorname}} K1"_s
                                         << QStringList{u"{{Vorname}}"_s, u"{{9}}"_s, u"{{0}}"_s, u"{{}}"_s}
                                         << QStringList();
    QTest::newRow("not closed on its line") << u"Dear {{Name}\r\n{{Name}}"_s << 0 << u"Dear {{Name}\r\nJörg Müller"_s
                                            << QStringList{u"{{Name}"_s} << QStringList();
    QTest::newRow("long one cut short") << u"{{"_s + u"x"_s.repeated(50) + u"}}"_s << 0
                                        << u"{{"_s + u"x"_s.repeated(50) + u"}}"_s
                                        << QStringList{u"{{"_s + u"x"_s.repeated(35) + u"..."_s} << QStringList();
    QTest::newRow("empty, blank and missing fields")
        << u"{{email}} {{Name}} {{3}} {{id}} {{7}} {{Straße}} {{6}}"_s << 1 << u" "_s.repeated(9) + u"K2  \t\u00A0 "_s
        << QStringList() << QStringList{u"{{email}}"_s, u"{{Name}}"_s, u"{{7}}"_s, u"{{Straße}}"_s, u"{{6}}"_s};
    QTest::newRow("the same, all filled")
        << u"{{email}} {{Name}} {{7}} {{Straße}} {{6}}"_s << 0
        << u"k1@example.com Jörg Müller eins, zwei {{id}} Hauptstraße 1 Ü"_s << QStringList() << QStringList();
    QTest::newRow("fallbacks where the fields are empty, blank or missing")
        << u"Dear {{Name|Client}}, {{3|Kunde}} {{ email | -- }} {{6|}}{{8|n/a}}."_s << 1
        << u"Dear Client, Kunde -- n/a."_s << QStringList() << QStringList();
    QTest::newRow("fallbacks unused where the fields are filled")
        << u"Dear {{Name|Client}}, {{3|Kunde}} {{ email | -- }} {{6|}}."_s << 0
        << u"Dear Jörg Müller, Jörg Müller k1@example.com Ü."_s << QStringList() << QStringList();
    QTest::newRow("a field with and without a fallback, an unknown one with, a quoted bar")
        << u"{{Name|Client}} {{Name}} {{Nmae|x}} {{\"a|b\"}} {{|x}}"_s << 1
        << u"Client     {{Nmae|x}} a|b {{|x}}"_s << QStringList{u"{{Nmae|x}}"_s, u"{{|x}}"_s}
        << QStringList{u"{{Name}}"_s};
}

void TestMessageTemplate::fillsFieldsOfTheClientsLine()
{
    QFETCH(QString, text);
    QFETCH(int, row);
    QFETCH(QString, filled);
    QFETCH(QStringList, unknown);
    QFETCH(QStringList, empty);
    const FieldTemplate parsed(text, m_clients);
    QCOMPARE(parsed.text(), text);
    QCOMPARE(parsed.hasPlaceholders(), text.contains(u"{{"_s));
    QCOMPARE(parsed.fill(m_clients, row), filled);
    QCOMPARE(parsed.unknownPlaceholders(), unknown);
    QCOMPARE(parsed.emptyPlaceholders(m_clients, row), empty);
    QCOMPARE(parsed.usesEmptyField(m_clients, row), !empty.isEmpty());
}

void TestMessageTemplate::subjectAndBodyReportTogether()
{
    const MessageTemplate message(u"{{a}} für {{Name}}"_s, u"{{a}} {{b}}\r\n{{email}} {{Name}}"_s, m_clients);
    QVERIFY(message.hasPlaceholders());
    QCOMPARE(message.unknownPlaceholders(), (QStringList{u"{{a}}"_s, u"{{b}}"_s}));
    QVERIFY(!message.usesEmptyField(m_clients, 0));
    QVERIFY(message.usesEmptyField(m_clients, 1));
    QCOMPARE(message.emptyPlaceholders(m_clients, 1), (QStringList{u"{{Name}}"_s, u"{{email}}"_s}));
    QCOMPARE(unknownPlaceholderMessage(u"{{a}}"_s),
             u"The message uses {{a}}, which is not a column of the client file."_s);
    QVERIFY(!MessageTemplate(u"Rechnung"_s, u"{{Name|Client}}"_s, m_clients).usesEmptyField(m_clients, 1));
    QVERIFY(!MessageTemplate(u"Rechnung"_s, u"{ }}"_s, m_clients).hasPlaceholders());
}

// In an HTML body the client's values are escaped; the text's own words (quoted text, fallbacks)
// are HTML already and go in as written.
void TestMessageTemplate::htmlFillEscapesOnlyTheValues()
{
    const FieldTemplate html(u"<p>{{Firma}} {{\"&amp;\"}} {{Name|<i>Client</i>}}</p>"_s, m_clients);
    QCOMPARE(html.fill(m_clients, 0, FieldTemplate::Fill::Html),
             u"<p>&lt;b&gt;O&#39;Neil &amp; &quot;Co&quot;&lt;/b&gt; &amp; Jörg Müller</p>"_s);
    QCOMPARE(html.fill(m_clients, 1, FieldTemplate::Fill::Html), u"<p> &amp; <i>Client</i></p>"_s);
    QCOMPARE(html.fill(m_clients, 0), u"<p><b>O'Neil & \"Co\"</b> &amp; Jörg Müller</p>"_s);
}

void TestMessageTemplate::withoutColumnNamesOnlyNumbersReachFurtherFields()
{
    const CsvReadResult result = read(CsvHeader::None);
    const FieldTemplate parsed(u"{{Name}} {{3}} {{7}}"_s, result.clients);
    QCOMPARE(parsed.unknownPlaceholders(), QStringList{u"{{Name}}"_s});
    QCOMPARE(parsed.fill(result.clients, 0), u"{{Name}}  Name  Notiz"_s);
    QCOMPARE(FieldTemplate(u"{{3}} {{ID}}"_s, ClientList()).unknownPlaceholders(), QStringList{u"{{3}}"_s});
}

} // namespace quorvale

QTEST_GUILESS_MAIN(quorvale::TestMessageTemplate)
#include "tst_messagetemplate.moc"
