// Documents named for each client by patterns: which files a client gets, and why a client gets no
// message at all, decided where the run, the check and the preview read it.

#include "mailing/mailingplan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestNamedDocuments : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void namesExactlyOneFileEach_data()
    {
        // files: "name" an ordinary file, "name->target" a symbolic link (target relative to the folder).
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("patterns");
        QTest::addColumn<bool>("print");
        QTest::addColumn<QString>("expected"); // "send: a,b", "print: a,b" or "none: <part of the reason>"

        const QString both = u"Invoice_{{id}}.pdf;Statement_{{id}}.pdf"_s;
        QTest::newRow("exact names, in pattern order")
            << QStringList{u"Statement_42.pdf"_s, u"Invoice_42.pdf"_s, u"Invoice_7.pdf"_s} << "42,a@example.org"_ba
            << both << false << u"send: Invoice_42.pdf,Statement_42.pdf"_s;
        QTest::newRow("blanks around the patterns") << QStringList{u"Invoice_42.pdf"_s} << "42,a@example.org"_ba
                                                    << u" Invoice_{{id}}.pdf ; ;"_s << false
                                                    << u"send: Invoice_42.pdf"_s;
        QTest::newRow("letter case differs: not taken, but named")
            << QStringList{u"invoice_42.pdf"_s} << "42,a@example.org"_ba << u"Invoice_{{id}}.pdf"_s << false
            << u"none: Invoice_42.pdf is missing (the folder has invoice_42.pdf)"_s;
        QTest::newRow("one of two missing: no message")
            << QStringList{u"Invoice_42.pdf"_s} << "42,a@example.org"_ba << both << false
            << u"none: Statement_42.pdf is missing"_s;
        QTest::newRow("several names in one field")
            << QStringList{u"a.pdf"_s, u"b.pdf"_s} << "42,a@example.org,a.pdf; b.pdf"_ba << u"{{3}}"_s << false
            << u"send: a.pdf,b.pdf"_s;
        QTest::newRow("several values in a longer name")
            << QStringList{u"Invoice_1.pdf"_s, u"Invoice_2.pdf"_s} << "42,a@example.org,1;2"_ba
            << u"Invoice_{{3}}.pdf"_s << false << u"send: Invoice_1.pdf,Invoice_2.pdf"_s;
        QTest::newRow("a folder part from a field")
            << QStringList{u"sub/a.pdf"_s} << "42,a@example.org,sub/a.pdf"_ba << u"{{3}}"_s << false
            << u"none: has a folder part"_s;
        QTest::newRow("a backslash from a field")
            << QStringList{u"a.pdf"_s} << "42,a@example.org,..\\a.pdf"_ba << u"{{3}}"_s << false
            << u"none: has a folder part"_s;
        QTest::newRow("dot dot from a field")
            << QStringList{u"a.pdf"_s} << "42,a@example.org,.."_ba << u"{{3}}"_s << false
            << u"none: is a folder, not a file"_s;
        QTest::newRow("a folder part in the pattern")
            << QStringList{u"sub/Invoice_42.pdf"_s} << "42,a@example.org"_ba << u"sub/Invoice_{{id}}.pdf"_s << false
            << u"none: has a folder part"_s;
        QTest::newRow("a control character from a field")
            << QStringList{u"a\tb.pdf"_s} << "42,a@example.org,a\tb.pdf"_ba << u"{{3}}"_s << false
            << u"none: holds a control character"_s;
        QStringList many;
        for (int n = 1; n <= 51; ++n)
            many.append(QString::number(n));
        QTest::newRow("one name more than the most a client may get")
            << QStringList{} << "42,a@example.org," + many.join(u';').toUtf8() << u"Invoice_{{3}}.pdf"_s << false
            << u"none: the document names give more than 50 files"_s;
        QTest::newRow("an empty field names nothing")
            << QStringList{u"Invoice_.pdf"_s} << "42,a@example.org,"_ba << u"Invoice_{{3}}.pdf"_s << false
            << u"none: which is empty on the client's line"_s;
        QTest::newRow("an empty field after a name that was found")
            << QStringList{u"Invoice_42.pdf"_s} << "42,a@example.org,"_ba << u"Invoice_{{id}}.pdf;{{3}}"_s << true
            << u"none: which is empty on the client's line"_s;
        QTest::newRow("a column that does not exist")
            << QStringList{u"Invoice_42.pdf"_s} << "42,a@example.org"_ba << u"Invoice_{{Number}}.pdf"_s << false
            << u"none: which is not a column of the client file"_s;
        QTest::newRow("the client list by name")
            << QStringList{} << "42,a@example.org"_ba << u"list.csv"_s << false << u"none: list.csv is the client list"_s;
        QTest::newRow("a hidden file") << QStringList{u".Invoice_42.pdf"_s} << "42,a@example.org"_ba
                                       << u".Invoice_{{id}}.pdf"_s << false << u"none: is a hidden file"_s;
        QTest::newRow("a link to a file of the folder")
            << QStringList{u"Invoice_42.pdf"_s, u"real.pdf"_s, u"Statement_42.pdf->real.pdf"_s}
            << "42,a@example.org"_ba << both << false << u"send: Invoice_42.pdf,Statement_42.pdf"_s;
        QTest::newRow("a link out of the folder")
            << QStringList{u"Invoice_42.pdf"_s, u"../outside.pdf"_s, u"Statement_42.pdf->../outside.pdf"_s}
            << "42,a@example.org"_ba << both << false
            << u"none: Statement_42.pdf is no document: a link to a file outside the folder"_s;
        QTest::newRow("a link to the client list")
            << QStringList{u"Invoice_42.pdf->list.csv"_s} << "42,a@example.org"_ba << u"Invoice_{{id}}.pdf"_s
            << false << u"none: Invoice_42.pdf is no document"_s;
        QTest::newRow("a folder of that name")
            << QStringList{u"Invoice_42.pdf/inside.pdf"_s} << "42,a@example.org"_ba << u"Invoice_{{id}}.pdf"_s
            << false << u"none: Invoice_42.pdf is missing"_s;
        QTest::newRow("no address: every named file printed")
            << QStringList{u"Invoice_42.pdf"_s, u"Statement_42.pdf"_s} << "42,"_ba << both << true
            << u"print: Invoice_42.pdf,Statement_42.pdf"_s;
    }

    void namesExactlyOneFileEach()
    {
        QFETCH(QStringList, files);
        QFETCH(QByteArray, line);
        QFETCH(QString, patterns);
        QFETCH(bool, print);
        QFETCH(QString, expected);
        QTemporaryDir top;
        const QDir folder(top.filePath(u"docs"_s));
        QVERIFY(writeFile(folder.filePath(u"list.csv"_s), line + "\r\n"));
        for (const QString &file : std::as_const(files)) {
            const qsizetype arrow = file.indexOf(u"->"_s);
            if (arrow < 0)
                QVERIFY(writeFile(folder.filePath(file), "content of " + file.toUtf8()));
            else
                QVERIFY(QFile::link(folder.filePath(file.mid(arrow + 2)), folder.filePath(file.left(arrow))));
        }
        Mailing mailing;
        mailing.csvPath = folder.filePath(u"list.csv"_s);
        mailing.subject = u"Your documents"_s;
        mailing.mode = AttachmentMode::Named;
        mailing.print = print;
        mailing.documentPatterns = patterns;
        const MailingPlan plan = MailingPlan::make(mailing);
        QVERIFY2(plan.ok(), qPrintable(plan.error()));
        const ClientPlan &client = plan.plan(0);
        QStringList names;
        for (const PlannedFile &file : client.files()) {
            names.append(QFileInfo(file.path).fileName());
            // Each file as it was found: a file swapped in later is told apart from it.
            QVERIFY(file.identity.isValid());
            QCOMPARE(file.size, QFileInfo(file.path).size());
        }
        switch (client.action) {
        case ClientAction::SendFile:
            QCOMPARE(u"send: "_s + names.join(u','), expected);
            break;
        case ClientAction::Print:
            QCOMPARE(u"print: "_s + names.join(u','), expected);
            break;
        case ClientAction::NoDocument:
            QVERIFY2(expected.startsWith(u"none: "_s) && client.refused().contains(expected.mid(6)),
                     qPrintable(client.refused()));
            QVERIFY(names.isEmpty());
            // The question counts it with the clients that have no document.
            QCOMPARE(plan.warnings([](qsizetype) { return true; }).withoutDocument, plan.clients().hasEmailAddress(0) ? 1 : 0);
            break;
        default:
            QFAIL(qPrintable(u"unexpected action for "_s + expected));
        }
    }
};

QTEST_GUILESS_MAIN(TestNamedDocuments)
#include "tst_nameddocuments.moc"
