// Several documents per client, named by patterns: what a client receives, what the preview and the
// check say, and what the journal keeps, through the quorvale program against a real SMTP server.

#include "run/journal.h"
#include "support/programhome.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::ProgramHome;
using quorvale::test::SmtpServer;

namespace {

/// Bytes that survive no careless encoding: every byte value, twice.
QByteArray binary(char first)
{
    QByteArray bytes(1, first);
    for (int i = 0; i < 512; ++i)
        bytes += char(i % 256);
    return bytes;
}

} // namespace

class TestNamedDocsRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachClientGetsEveryNamedFile()
    {
        ProgramHome home;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(home.configure(server));
        // Client 7's statement is missing (a file differing in letter case is no match).
        // Client 9 has no address: both its documents are printed.
        QVERIFY(home.writeFile(u"docs/list.csv"_s, "42,anna@example.org\r\n7,bert@example.org\r\n9,\r\n"));
        QVERIFY(home.writeFile(u"docs/Invoice_9.pdf"_s, "nine"));
        QVERIFY(home.writeFile(u"docs/Statement_9.pdf"_s, "nine"));
        const QByteArray invoice = binary('I');
        const QByteArray statement = binary('S');
        QVERIFY(home.writeFile(u"docs/Invoice_42.pdf"_s, invoice));
        QVERIFY(home.writeFile(u"docs/Statement_42.pdf"_s, statement));
        QVERIFY(home.writeFile(u"docs/Invoice_7.pdf"_s, "seven"));
        QVERIFY(home.writeFile(u"docs/statement_7.pdf"_s, "seven"));
        const QStringList mailing{u"--csv"_s, home.path(u"docs/list.csv"_s), u"--subject"_s, u"Your documents"_s,
                                  u"--body"_s, u"Dear client"_s, u"--mode"_s, u"named"_s, u"--documents"_s,
                                  u"Invoice_{{id}}.pdf;Statement_{{id}}.pdf"_s};

        const ProgramHome::Result preview = home.run(QStringList{u"preview"_s, u"--client"_s, u"42"_s} + mailing);
        QVERIFY2(preview.exitCode == 0, qPrintable(preview.err));
        QVERIFY2(preview.out.contains(u"Attachment: Invoice_42.pdf (513 bytes), Statement_42.pdf (513 bytes)"_s),
                 qPrintable(preview.out.join(u'\n')));
        const ProgramHome::Result check = home.run(QStringList{u"check"_s} + mailing);
        QVERIFY2(check.out.join(u'\n').contains(u"Statement_7.pdf is missing (the folder has statement_7.pdf)"_s),
                 qPrintable(check.out.join(u'\n')));

        const ProgramHome::Result r = home.run(QStringList{u"run"_s, u"--yes"_s, u"--print"_s} + mailing);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(QString::fromUtf8(home.readFile(u"printed.txt"_s)).split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{home.path(u"docs/Invoice_9.pdf"_s), home.path(u"docs/Statement_9.pdf"_s)}));
        QVERIFY2(r.out.contains(u"No attachment found for Client ID - 7"_s), qPrintable(r.out.join(u'\n')));
        QVERIFY2(r.err.contains(u"Statement_7.pdf is missing"_s), qPrintable(r.err));

        QVERIFY(server.waitForMessages(1, 10000));
        const QList<test::ReceivedMessage> messages = server.messages();
        QCOMPARE(messages.size(), 1);
        const test::ReceivedMessage &m = messages.first();
        QCOMPARE(m.to, u"anna@example.org"_s);
        QVERIFY2(m.parseDefects.isEmpty(), qPrintable(m.parseDefects.join(u'\n')));
        QCOMPARE(m.attachments.size(), 2);
        QCOMPARE(m.attachments.at(0).fileName, u"Invoice_42.pdf"_s);
        QCOMPARE(m.attachments.at(0).contentType, u"application/pdf"_s);
        QCOMPARE(m.attachments.at(0).data, invoice);
        QCOMPARE(m.attachments.at(1).fileName, u"Statement_42.pdf"_s);
        QCOMPARE(m.attachments.at(1).data, statement);

        // The journal reads back, and its attempt names both files with their hashes.
        const QDir runs(home.journalFolder());
        QList<JournalEntry> entries;
        QString error;
        QVERIFY2(readJournal(runs.filePath(runs.entryList({u"run-*.csv"_s}).value(0)), &entries, &error),
                 qPrintable(error));
        const auto attempt = std::find_if(entries.cbegin(), entries.cend(),
                                          [](const JournalEntry &e) {
                                              return e.event == JournalEvent::Attempting && e.clientId == u"42"_s;
                                          });
        QVERIFY(attempt != entries.cend());
        QCOMPARE(attempt->file.split(u'\n'),
                 (QStringList{home.path(u"docs/Invoice_42.pdf"_s), home.path(u"docs/Statement_42.pdf"_s)}));
        QCOMPARE(attempt->sha256.split(u'\n'), (QStringList{fileSha256(home.path(u"docs/Invoice_42.pdf"_s)),
                                                            fileSha256(home.path(u"docs/Statement_42.pdf"_s))}));
        QCOMPARE(attempt->size, 2 * 513);
        QCOMPARE(std::count_if(entries.cbegin(), entries.cend(),
                               [](const JournalEntry &e) { return e.event == JournalEvent::CommonAttachment &&
                                                                  e.detail == u"Invoice_{{id}}.pdf;Statement_{{id}}.pdf"_s; }),
                 1);

        // Names that use no column of the list start nothing.
        QStringList misspelt = mailing;
        misspelt.last() = u"Invoice_{{Nmae}}.pdf"_s;
        misspelt[3] = u"Other documents"_s; // another mailing: no question about the first one
        const ProgramHome::Result refused = home.run(QStringList{u"run"_s, u"--yes"_s} + misspelt);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(u"The document names use {{Nmae}}, which is not a column of the client file."_s),
                 qPrintable(refused.err));
        QCOMPARE(server.messages().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestNamedDocsRun)
#include "tst_nameddocsrun.moc"
