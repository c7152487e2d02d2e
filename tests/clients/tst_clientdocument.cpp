
#include "clients/documentmatch.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using namespace quorvale;

namespace {

/// The path of the client's one document in `folder`, "" when there is none, or "several" /
/// "shared" when none can be taken.
QString lookUp(const QString &folder, const QString &clientId, const QStringList &list = {},
               const QString &clientList = {}, QString *error = nullptr)
{
    const ClientDocument found =
        FindClientDocument(folder, clientId, ClientIdIndex(list + QStringList{clientId}), clientList, error);
    switch (found.outcome) {
    case ClientDocument::Outcome::Found:
        return found.path;
    case ClientDocument::Outcome::Several:
        return u"several: "_s + found.names.join(u',');
    case ClientDocument::Outcome::Shared:
        return u"shared: "_s + found.names.join(u',') + u' ' + found.otherIds.join(u',');
    case ClientDocument::Outcome::None:
        break;
    }
    return {};
}

} // namespace

class TestClientDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void findsOnlyTheClientsOwnDocument_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("clientId");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name starts with it") << QStringList{u"42.pdf"_s} << u"42"_s << u"42.pdf"_s;
        QTest::newRow("after a separator") << QStringList{u"Invoice_42.pdf"_s} << u"42"_s << u"Invoice_42.pdf"_s;
        QTest::newRow("digits after letters") << QStringList{u"Smith42.doc"_s} << u"42"_s << u"Smith42.doc"_s;
        QTest::newRow("another client's number") << QStringList{u"1042.pdf"_s} << u"42"_s << QString();
        QTest::newRow("skips another client's number")
            << QStringList{u"1042.pdf"_s, u"Smith42.doc"_s} << u"42"_s << u"Smith42.doc"_s;
        QTest::newRow("later occurrence counts") << QStringList{u"1042_42.pdf"_s} << u"42"_s << u"1042_42.pdf"_s;
        QTest::newRow("a version before") << QStringList{u"1042.42.pdf"_s, u"v1.2.pdf"_s} << u"42"_s << QString();
        QTest::newRow("a date before") << QStringList{u"Statement_42_2024.10.pdf"_s} << u"10"_s << QString();
        QTest::newRow("a digit after") << QStringList{u"Invoice_42.1.pdf"_s, u"42.2024.pdf"_s, u"Invoice_42.pdf"_s}
                                       << u"42"_s << u"Invoice_42.pdf"_s;
        QTest::newRow("a digit ends the name")
            << QStringList{u"Invoice_42.1"_s, u"42.7"_s, u"Smith42.0"_s} << u"42"_s << QString();
        QTest::newRow("a letter ends the name") << QStringList{u"Invoice_42.x"_s} << u"42"_s << u"Invoice_42.x"_s;
        QTest::newRow("the period ends the name") << QStringList{u"Invoice_42."_s} << u"42"_s << u"Invoice_42."_s;
        QTest::newRow("letters after the period")
            << QStringList{u"Invoice_42.final.pdf"_s} << u"42"_s << u"Invoice_42.final.pdf"_s;
        QTest::newRow("Kelvin sign is no K")
            << QStringList{u"Invoice_\u212A1.pdf"_s, u"x_k1.pdf"_s} << u"K1"_s << u"x_k1.pdf"_s;
        QTest::newRow("long s is no s") << QStringList{u"\u017F7.pdf"_s} << u"S7"_s << QString();
        QTest::newRow("K is no Kelvin sign") << QStringList{u"K1.pdf"_s} << u"\u212A1"_s << QString();
        QTest::newRow("letters after letters") << QStringList{u"BA7.pdf"_s} << u"A7"_s << QString();
        QTest::newRow("letters after digits") << QStringList{u"2024A7.pdf"_s} << u"A7"_s << u"2024A7.pdf"_s;
        QTest::newRow("case ignored") << QStringList{u"INVOICE_AB12.PDF"_s} << u"ab12"_s << u"INVOICE_AB12.PDF"_s;
        QTest::newRow("needs the period") << QStringList{u"42pdf"_s, u"42_old.pdf"_s} << u"42"_s << QString();
        QTest::newRow("several, in name order, case ignored")
            << QStringList{u"b_42.pdf"_s, u"a_42.txt"_s, u"A_42.pdf"_s} << u"42"_s
            << u"several: A_42.pdf,a_42.txt,b_42.pdf"_s;
        QTest::newRow("folders are not documents")
            << QStringList{u"42.d/"_s, u"x_42.pdf"_s} << u"42"_s << u"x_42.pdf"_s;
        QTest::newRow("hidden lock file")
            << QStringList{u".~lock.Invoice_42.odt#"_s, u"Invoice_42.odt"_s} << u"42"_s << u"Invoice_42.odt"_s;
        QTest::newRow("empty identifier") << QStringList{u"a.pdf"_s, u".pdf"_s} << QString() << QString();
        QTest::newRow("blank identifier") << QStringList{u" .pdf"_s, u"a  .pdf"_s} << u"  "_s << QString();
        QTest::newRow("non-ASCII identifier")
            << QStringList{u"Müller.pdf"_s, u"xmüller.pdf"_s} << u"müller"_s << u"Müller.pdf"_s;
    }
    void findsOnlyTheClientsOwnDocument()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, clientId);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const QString &name : std::as_const(files)) {
            if (name.endsWith(u'/')) {
                QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
                continue;
            }
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QString error;
        const QString found = lookUp(dir.path(), clientId, {}, {}, &error);
        QCOMPARE(found, expected.isEmpty() || expected.contains(u':') ? expected : dir.filePath(expected));
        QVERIFY(error.isEmpty());
    }

    // With clients 1 to 99 and 2024, a document of client 42 under everyday names, and other names
    // with numbers in them: who gets the file, when it is alone in its folder. "refused to 2 (also
    // 42)": the name names client 2, who gets nothing from it because it also holds 42. A client a
    // name only holds keeps its own document: each of them also has one of its own in the folder.
    void aNameHoldingAnotherClientNamesNoOne_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("goesTo");
        const auto row = [](const char *name, const char *goesTo) {
            QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(goesTo);
        };
        row("Invoice_42.pdf", "to 42");
        row("42.pdf", "to 42");
        row("Smith42.doc", "to 42");
        row("Invoice_42.final.pdf", "to 42");
        row("Statement_42_2024-10.pdf", "nobody");
        row("Invoice_42_v2.pdf", "refused to 2 (also 42)");
        row("Invoice_42 copy 2.pdf", "refused to 2 (also 42)");
        row("Letter_42-Page3.pdf", "refused to 3 (also 42)");
        row("Invoice_42_Q3.pdf", "refused to 3 (also 42)");
        row("Invoice_42-1.pdf", "refused to 1 (also 42)");
        row("Invoice_42 #7.pdf", "refused to 7 (also 42)");
        row("Invoice_42_2024.pdf", "refused to 2024 (also 42)");
        row("Invoice_42-2024.pdf", "refused to 2024 (also 42)");
        row("42 Smith 2.pdf", "refused to 2 (also 42)");
        row("42_5.pdf", "refused to 5 (also 42)");
        row("Invoice 42 page 1 of 3.pdf", "refused to 3 (also 1, 42)");
        row("Invoice_42 (2).pdf", "nobody");
        row("Invoice_42_final.pdf", "nobody");
        row("Invoice_042.pdf", "nobody");
        // Dates hold no client.
        row("Statement_2024-10-31_42.pdf", "to 42");
        row("31.10.2024 Invoice 42.pdf", "to 42");
        row("12-03-2024_42.pdf", "to 42");
        row("2024_10 Invoice 42.pdf", "to 42");
        row("Statement_2024-10.pdf", "nobody");
        row("Statement 31.10.2024.pdf", "nobody");
        row("Invoice_42_2024-10-31.pdf", "nobody");
        row("Statement_2024_42.pdf", "refused to 42 (also 2024)"); // 42 is neither a day nor a month
        row("Report 2024.pdf", "to 2024");                         // a year alone is no date
        // Today's rule for where an identifier may stand.
        row("1042.pdf", "nobody");
        row("Report v1.42.pdf", "nobody");
        row("Statement_2024.42.pdf", "nobody");
        row("Invoice_42.1.pdf", "nobody");
    }
    void aNameHoldingAnotherClientNamesNoOne()
    {
        QFETCH(QString, name);
        QStringList list;
        for (int id = 1; id <= 99; ++id)
            list.append(QString::number(id));
        list.append(u"2024"_s);
        const ClientIdIndex index(list);
        QTemporaryDir dir;
        QStringList held;
        for (const QString &id : list) {
            if (holdsClientId(name, id) && !isClientDocumentName(name, id))
                held.append(id);
        }
        for (const QString &file : QStringList{name} + held) {
            QFile document(dir.filePath(file == name ? name : u"Own_"_s + file + u".pdf"_s));
            QVERIFY(document.open(QIODevice::WriteOnly));
        }

        // What the run, the print pass and the check decide for each client of the list.
        QStringList outcomes;
        for (const QString &id : list) {
            const ClientDocument found = FindClientDocument(dir.path(), id, index);
            if (held.contains(id)) {
                QCOMPARE(found.outcome, ClientDocument::Outcome::Found);
                QCOMPARE(found.path, dir.filePath(u"Own_"_s + id + u".pdf"_s));
            } else if (found.outcome == ClientDocument::Outcome::Found) {
                QCOMPARE(found.path, dir.filePath(name));
                outcomes.append(u"to "_s + id);
            } else if (found.outcome == ClientDocument::Outcome::Shared) {
                QCOMPARE(found.names, QStringList{name});
                outcomes.append(u"refused to %1 (also %2)"_s.arg(id, found.otherIds.join(u", "_s)));
            } else {
                QCOMPARE(found.outcome, ClientDocument::Outcome::None);
            }
        }
        QTEST(outcomes.isEmpty() ? u"nobody"_s : outcomes.join(u"; "_s), "goesTo");
    }

    void linksAreDocumentsOnlyInsideTheFolder_data()
    {
        QTest::addColumn<QString>("target");  // what docs/Invoice_7.pdf links to, from the top folder
        QTest::addColumn<QString>("skipped"); // the reason the listing gives; empty: a document
        QTest::newRow("a file of the folder") << u"docs/real.pdf"_s << QString();
        QTest::newRow("through another link of the folder") << u"docs/other-link"_s << QString();
        QTest::newRow("a file outside the folder") << u"settings.ini"_s << u"a link to a file outside the folder"_s;
        QTest::newRow("out and back in") << u"docs-again/real.pdf"_s << QString();
        QTest::newRow("a folder") << u"docs/sub"_s << u"a link to something that is not an ordinary file"_s;
        QTest::newRow("nothing") << u"docs/gone.pdf"_s << u"a link to nothing"_s;
        QTest::newRow("a file in a folder below") << u"docs/sub/deep.pdf"_s << u"a link to a file outside the folder"_s;
        QTest::newRow("a sibling folder whose name starts the same")
            << u"docs-old/real.pdf"_s << u"a link to a file outside the folder"_s;
        QTest::newRow("a file whose name starts like the folder")
            << u"docs.pdf"_s << u"a link to a file outside the folder"_s;
    }
    void linksAreDocumentsOnlyInsideTheFolder()
    {
        QFETCH(QString, target);
        QFETCH(QString, skipped);
        QTemporaryDir dir;
        const QDir top(dir.path());
        QVERIFY(top.mkpath(u"docs/sub"_s));
        QVERIFY(top.mkpath(u"docs-old"_s));
        for (const QString &name : {u"docs/real.pdf"_s, u"settings.ini"_s, u"docs/sub/deep.pdf"_s,
                                    u"docs-old/real.pdf"_s, u"docs.pdf"_s}) {
            QFile file(top.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(top.filePath(u"docs"_s), top.filePath(u"docs-again"_s)));
        QVERIFY(QFile::link(top.filePath(u"docs/real.pdf"_s), top.filePath(u"docs/other-link"_s)));
        const QString link = top.filePath(u"docs/Invoice_7.pdf"_s);
        QVERIFY(QFile::link(top.filePath(target), link));

        // The folder itself may be named through a link.
        for (const QString &folder : {top.filePath(u"docs"_s), top.filePath(u"docs-again"_s)}) {
            const DocumentListing listing = listDocumentFolder(folder);
            QCOMPARE(listing.names.contains(u"Invoice_7.pdf"_s), skipped.isEmpty());
            QCOMPARE(listing.skipped.size(), skipped.isEmpty() ? 0 : 1);
            if (!skipped.isEmpty())
                QCOMPARE(listing.skipped.first().reason, skipped);
            const ClientDocument found = FindClientDocument(folder, u"7"_s, ClientIdIndex({u"7"_s}));
            QCOMPARE(found.outcome, skipped.isEmpty() ? ClientDocument::Outcome::Found : ClientDocument::Outcome::None);
            if (skipped.isEmpty())
                QCOMPARE(found.identity, platform::fileIdentity(top.filePath(u"docs/real.pdf"_s)));
        }
    }

    void neverPicksTheClientList()
    {
        QTemporaryDir dir;
        for (const QString &name : {u"2024.csv"_s, u"2024.pdf"_s}) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString list = dir.filePath(u"2024.csv"_s);
        QCOMPARE(lookUp(dir.path(), u"2024"_s, {}, list), dir.filePath(u"2024.pdf"_s));
        QVERIFY(QFile::remove(dir.filePath(u"2024.pdf"_s)));
        QCOMPARE(lookUp(dir.path(), u"2024"_s, {}, list), QString());
        // Nor a link to it under a document's name.
        QVERIFY(QFile::link(list, dir.filePath(u"Letter_2024.pdf"_s)));
        QCOMPARE(lookUp(dir.path(), u"2024"_s, {}, list), QString());
        QCOMPARE(listDocumentFolder(dir.path(), list).skipped.size(), 1);
    }

    void listsTheFolderAfreshForEveryLookup()
    {
        QTemporaryDir dir;
        QCOMPARE(lookUp(dir.path(), u"7"_s), QString());
        QFile file(dir.filePath(u"7.pdf"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(lookUp(dir.path(), u"7"_s), dir.filePath(u"7.pdf"_s));
    }

    void reportsAFolderThatCannotBeListed()
    {
        QTemporaryDir dir;
        QString error;
        QCOMPARE(lookUp(dir.filePath(u"gone"_s), u"7"_s, {}, {}, &error), QString());
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestClientDocument)
#include "tst_clientdocument.moc"
