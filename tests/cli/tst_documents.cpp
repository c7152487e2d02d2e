// Through the quorvale program, as a user and a colleague with write access to the shared
// documents folder would meet it: each client gets its own document or none, never another
// client's or a file from elsewhere; the check shows exactly that; and the files the program
// writes never go through a link planted where it writes them.

#include "support/programhome.h"

#include <QTest>

#include <unistd.h>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

/// "name=content" writes a file, "name->target" makes a symbolic link (target relative to the
/// home), both inside the client list's folder "docs".
bool makeFiles(const ProgramHome &home, const QStringList &files)
{
    for (const QString &file : files) {
        if (const qsizetype arrow = file.indexOf(u"->"_s); arrow > 0) {
            if (!QFile::link(home.path(file.mid(arrow + 2)), home.path(u"docs/"_s + file.left(arrow))))
                return false;
        } else if (!home.writeFile(u"docs/"_s + file.section(u'=', 0, 0), file.section(u'=', 1).toUtf8())) {
            return false;
        }
    }
    return true;
}

} // namespace

class TestDocuments : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachClientGetsOnlyItsOwnDocument_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QByteArray>("clients");
        QTest::addColumn<QStringList>("passes");   // status lines after "Start processing..."
        QTest::addColumn<QStringList>("messages"); // "address attachment-name content", in order
        QTest::addColumn<QStringList>("check");    // lines the check prints for the clients

        QTest::newRow("dates and versions are no client's")
            << QStringList{u"Statement_42_2024.10.pdf=date"_s, u"Report v1.2.pdf=version"_s}
            << QByteArray("10,ten@x.org\r\n2,two@x.org\r\n")
            << QStringList{u"No attachment found for Client ID - 10"_s, u"No attachment found for Client ID - 2"_s,
                           u"Processing Complete with 2 errors!"_s}
            << QStringList{}
            << QStringList{u"! 1\t10\tten@x.org\tNo document found\tno document"_s, u"! 2\t2\ttwo@x.org\tNo document found\tno document"_s};
        QTest::newRow("a number after the period is no client's")
            << QStringList{u"Invoice_42.1.pdf=first draft"_s, u"Invoice_42.pdf=the invoice"_s}
            << QByteArray("42,anna@x.org\r\n") << QStringList{u"Sending email - 1"_s, u"Processing Complete"_s}
            << QStringList{u"anna@x.org Invoice_42.pdf the invoice"_s}
            << QStringList{u"  1\t42\tanna@x.org\tSend with Invoice_42.pdf (11 bytes)"_s};
        QTest::newRow("a document that names two clients goes to neither")
            << QStringList{u"Invoice_B12.pdf=b twelve"_s} << QByteArray("12,twelve@x.org\r\nB12,b@x.org\r\n")
            << QStringList{u"Document also matches another client for Client ID - 12"_s,
                           u"Document also matches another client for Client ID - B12"_s,
                           u"Processing Complete with 2 errors!"_s}
            << QStringList{}
            << QStringList{u"! 1\t12\ttwelve@x.org\tNot sent: ambiguous document\tdocument names another client "
                           u"(Invoice_B12.pdf also names B12)"_s,
                           u"! 2\tB12\tb@x.org\tNot sent: ambiguous document\tdocument names another client "
                           u"(Invoice_B12.pdf also names 12)"_s};
        QTest::newRow("the Kelvin sign is no K")
            << QStringList{u"Invoice_\u212A1.pdf=kelvin"_s, u"Invoice_k2.pdf=k two"_s}
            << QByteArray("K1,k1@x.org\r\nK2,k2@x.org\r\n")
            << QStringList{u"No attachment found for Client ID - K1"_s, u"Sending email - 2"_s,
                           u"Processing Complete with 1 errors!"_s}
            << QStringList{u"k2@x.org Invoice_k2.pdf k two"_s}
            << QStringList{u"! 1\tK1\tk1@x.org\tNo document found\tno document"_s,
                           u"  2\tK2\tk2@x.org\tSend with Invoice_k2.pdf (5 bytes)"_s};
        QTest::newRow("several documents: none is sent")
            << QStringList{u"Invoice_7.pdf=invoice"_s, u"Letter_7.pdf=letter"_s} << QByteArray("7,seven@x.org\r\n")
            << QStringList{u"Several documents found for Client ID - 7"_s, u"Processing Complete with 1 errors!"_s}
            << QStringList{}
            << QStringList{u"! 1\t7\tseven@x.org\tNot sent: ambiguous document\tseveral documents (Invoice_7.pdf, "
                           u"Letter_7.pdf)"_s};
        QTest::newRow("a link out of the folder is no document")
            << QStringList{u"Statement_5.pdf->config/Quorvale/Quorvale.ini"_s} << QByteArray("5,five@x.org\r\n")
            << QStringList{u"No attachment found for Client ID - 5"_s, u"Processing Complete with 1 errors!"_s}
            << QStringList{}
            << QStringList{u"Not a document: Statement_5.pdf (a link to a file outside the folder)"_s,
                           u"! 1\t5\tfive@x.org\tNo document found\tno document"_s};
        QTest::newRow("a link within the folder is a document")
            << QStringList{u"stored six.pdf=kept elsewhere"_s, u"Invoice_6.pdf->docs/stored six.pdf"_s}
            << QByteArray("6,six@x.org\r\n") << QStringList{u"Sending email - 1"_s, u"Processing Complete"_s}
            << QStringList{u"six@x.org Invoice_6.pdf kept elsewhere"_s}
            << QStringList{u"  1\t6\tsix@x.org\tSend with Invoice_6.pdf (14 bytes)"_s};
        QTest::newRow("the print pass follows the same rules")
            << QStringList{u"Invoice_8.pdf=invoice"_s, u"Letter_8.pdf=letter"_s, u"Invoice_9.pdf=nine"_s}
            << QByteArray("8,\r\n9,\r\n")
            << QStringList{u"Printing document - 1"_s, u"Several documents found for Client ID - 8"_s,
                           u"Printing document - 2"_s, u"Processing Complete with 1 errors!"_s}
            << QStringList{u"printed Invoice_9.pdf"_s}
            << QStringList{u"! 1\t8\t\tNot printed: ambiguous document\tseveral documents (Invoice_8.pdf, "
                           u"Letter_8.pdf)"_s,
                           u"  2\t9\t\tPrint Invoice_9.pdf (4 bytes)"_s};
    }
    void eachClientGetsOnlyItsOwnDocument()
    {
        QFETCH(QStringList, files);
        QFETCH(QByteArray, clients);
        QFETCH(QStringList, passes);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, check);
        ProgramHome home;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(home.configure(server));
        QVERIFY(home.writeFile(u"docs/clients.csv"_s, clients));
        QVERIFY(makeFiles(home, files));
        const QStringList mode{u"--csv"_s, home.path(u"docs/clients.csv"_s), u"--mode"_s, u"client"_s, u"--print"_s};

        const ProgramHome::Result checked = home.run(QStringList{u"check"_s} + mode);
        for (const QString &line : std::as_const(check))
            QVERIFY2(checked.out.contains(line), qPrintable(line + u"\nnot in\n"_s + checked.out.join(u'\n')));

        const ProgramHome::Result r =
            home.run(QStringList{u"run"_s} + mode +
                     QStringList{u"--subject"_s, u"Documents"_s, u"--body"_s, u"Hello"_s, u"--yes"_s});
        const qsizetype start = r.out.indexOf(u"Start processing..."_s);
        QVERIFY2(start > 0, qPrintable(r.err));
        QCOMPARE(r.out.mid(start + 1), passes);
        QCOMPARE(r.exitCode, passes.last() == u"Processing Complete"_s ? 0 : 1);

        QStringList got;
        for (const ReceivedMessage &m : server.messages()) {
            QCOMPARE(m.attachments.size(), 1);
            got.append(m.rcptTo.join(u',') + u' ' + m.attachments.first().fileName + u' ' +
                       QString::fromUtf8(m.attachments.first().data));
        }
        for (const QString &line : QString::fromUtf8(home.readFile(u"printed.txt"_s)).split(u'\n', Qt::SkipEmptyParts))
            got.append(u"printed "_s + QFileInfo(line).fileName());
        QCOMPARE(got, messages);
    }

    void filesAreNeverWrittenThroughALink_data()
    {
        QTest::addColumn<QString>("written");     // the file the program writes, a link planted there
        QTest::addColumn<QStringList>("command"); // "%home" stands for the home folder
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("content"); // what the written file then holds; empty: it stays a link
        const QString list = u"%home/shared/clients.csv"_s;
        QTest::newRow("the saved check table replaces the link")
            << u"shared/check.csv"_s
            << QStringList{u"check"_s, u"--csv"_s, list, u"--save"_s, u"%home/shared/check.csv"_s, u"--force"_s} << 0
            << QByteArray("\"1\",\"'=1+2\",\"a@x.org\",\"send\"");
        QTest::newRow("the body file replaces the link")
            << u"data/Quorvale/Body.txt"_s
            << QStringList{u"run"_s, u"--csv"_s, list, u"--body"_s, u"Dear client"_s, u"--yes"_s} << 0
            << QByteArray("Dear client\r\n");
        QTest::newRow("the settings are not saved through a link")
            << u"config/Quorvale/Quorvale.ini"_s << QStringList{u"config"_s, u"set"_s, u"SubjectLine"_s, u"x"_s} << 1
            << QByteArray();
    }
    void filesAreNeverWrittenThroughALink()
    {
        QFETCH(QString, written);
        QFETCH(QStringList, command);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, content);
        ProgramHome home;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(home.configure(server));
        // Formula-like identifiers, which a spreadsheet would run.
        QVERIFY(home.writeFile(u"shared/clients.csv"_s, "=1+2,a@x.org\r\n+1,b@x.org\r\n-2,c@x.org\r\n@3,d@x.org\r\n"));
        QVERIFY(home.writeFile(u".bashrc"_s, "echo hello\n"));
        QFile::remove(home.path(written));
        QVERIFY(QDir().mkpath(QFileInfo(home.path(written)).path()));
        QVERIFY(QFile::link(home.path(u".bashrc"_s), home.path(written)));
        command.replaceInStrings(u"%home"_s, home.root());

        const ProgramHome::Result r = home.run(command);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        QCOMPARE(home.readFile(u".bashrc"_s), QByteArray("echo hello\n"));
        QCOMPARE(QFileInfo(home.path(written)).isSymLink(), content.isEmpty());
        if (content.isEmpty()) {
            QVERIFY2(r.err.contains(u"symbolic link"_s), qPrintable(r.err));
            return;
        }
        const QByteArray saved = home.readFile(written);
        QVERIFY2(saved.contains(content), saved.constData());
        QCOMPARE(QFile::permissions(home.path(written)) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        if (written.endsWith(u"check.csv"_s)) {
            for (const char *field : {"\"'+1\"", "\"'-2\"", "\"'@3\""})
                QVERIFY2(saved.contains(field), field);
        }
    }

    void aFileOfAnotherUserIsLeftAsItIs()
    {
        ProgramHome home;
        QVERIFY(home.writeFile(u"shared/clients.csv"_s, "1,a@x.org\r\n"));
        QVERIFY(home.writeFile(u"shared/check.csv"_s, "a colleague's table"));
        if (::chown(QFile::encodeName(home.path(u"shared/check.csv"_s)).constData(), 65534, 65534) != 0)
            QSKIP("only the system administrator can give a file to another user");
        const ProgramHome::Result r = home.run({u"check"_s, u"--csv"_s, home.path(u"shared/clients.csv"_s), u"--save"_s,
                                                home.path(u"shared/check.csv"_s), u"--force"_s});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(u"belongs to another user"_s), qPrintable(r.err));
        QCOMPARE(home.readFile(u"shared/check.csv"_s), QByteArray("a colleague's table"));
    }
};

QTEST_GUILESS_MAIN(TestDocuments)
#include "tst_documents.moc"
