#include "check/clientcheck.h"
#include "mail/smtpmailer.h"
#include "run/batchrun.h"
#include "support/providersim.h"
#include "clients/documentmatch.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <unistd.h>

using namespace quorvale;
using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

} // namespace

class TestClientCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void clientModeRows_data();
    void clientModeRows();
    void checkTakesTheRunsDocument();
    void commonAttachment_data();
    void commonAttachment();
    void addressValidity_data();
    void addressValidity();
    void sameLinesOfManyClients_data();
    void sameLinesOfManyClients();
    void hardLinksAreFlaggedAndProgramFilesRefused();
    void linksSendOnlyAFileOfTheListsFolder_data();
    void linksSendOnlyAFileOfTheListsFolder();
    void unreadableListIsAnError();
    void savedTableQuotesFields();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir m_dir;
    QString m_csv;
};

void TestClientCheck::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_csv = m_dir.filePath(u"list_42.csv"_s);
    // Each line sets off one or more flags; "42." also sits in the list's own name on purpose.
    writeFile(m_csv, "42,a@x.com\n7,b@x.com\nAb,c@x.com\nab,d@x.com\n9,C@X.com\n9,bad address@x.com\n100,\n"
                     "55,e@@x.com\n\n61,f@x.com\n3,g@x.com\n");
    for (const char *name : {"Invoice_42.pdf", "Letter_42.pdf", "7.pdf", "1042.pdf", "Ab.txt", "Print_100.pdf",
                             ".~lock.7.pdf#", "61.pdf", "Invoice_61 copy 3.pdf"})
        writeFile(m_dir.filePath(QString::fromLatin1(name)), "document");
    QVERIFY(QDir(m_dir.path()).mkdir(u"55.d"_s)); // a folder is never a document
    writeFile(m_dir.filePath(u"clean.csv"_s), "7,b@x.com\n61,f@x.com\n");
    writeFile(m_dir.filePath(u"semicolons.csv"_s), "7;b@x.com\r\n61;f\xFC@x.com\n");
}

void TestClientCheck::clientModeRows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("file");
    QTest::addColumn<CheckFlags>("flags");
    QTest::addColumn<QString>("details");

    const auto add = [](const char *tag, int row, qint64 line, CheckAction action, const char *file, CheckFlags flags,
                        const char *details) {
        QTest::newRow(tag) << row << line << int(action) << QString::fromUtf8(file) << flags
                           << QString::fromUtf8(details);
    };
    add("two documents, neither taken", 0, 1, CheckAction::Ambiguous, "", CheckFlag::SeveralDocuments,
        "several documents (Invoice_42.pdf, Letter_42.pdf)");
    add("plain, lock file and 1042 ignored", 1, 2, CheckAction::SendFile, "7.pdf", {}, "");
    add("document names two clients", 2, 3, CheckAction::Ambiguous, "",
        CheckFlag::SharedDocument | CheckFlag::SameAddress,
        "document names another client (Ab.txt also names ab); same address on another line (line 5)");
    add("the other client", 3, 4, CheckAction::Ambiguous, "", CheckFlag::SharedDocument,
        "document names another client (Ab.txt also names Ab)");
    add("address in other letter case", 4, 5, CheckAction::NoDocument, "",
        CheckFlag::SameAddress | CheckFlag::SameIdentifier | CheckFlag::MissingDocument,
        "same address on another line (line 3); same client ID on another line (line 6); no document");
    add("blank in address", 5, 6, CheckAction::NoDocument, "",
        CheckFlag::SameIdentifier | CheckFlag::InvalidAddress | CheckFlag::MissingDocument,
        "same client ID on another line (line 5); not a valid address; no document");
    add("printed", 6, 7, CheckAction::Print, "Print_100.pdf", {}, "");
    add("two @, a folder is no document", 7, 8, CheckAction::NoDocument, "",
        CheckFlag::InvalidAddress | CheckFlag::MissingDocument, "not a valid address; no document");
    add("line after an empty line, a name that holds 61 is not its", 8, 10, CheckAction::SendFile, "61.pdf", {}, "");
    add("the name holds another client's id", 9, 11, CheckAction::Ambiguous, "", CheckFlag::SharedDocument,
        "document names another client (Invoice_61 copy 3.pdf also names 61)");
}

void TestClientCheck::clientModeRows()
{
    QFETCH(int, row);
    const CheckReport report = checkClientList({m_csv, AttachmentMode::ClientSpecific, QString(), true});
    QVERIFY(report.error.isEmpty());
    QCOMPARE(report.rows.size(), size_t(10));
    QVERIFY(report.problems.isEmpty());
    const CheckRow &r = report.rows[size_t(row)];
    QTEST(r.lineNumber, "line");
    QTEST(int(r.action), "action");
    QTEST(QFileInfo(r.file).fileName(), "file");
    QTEST(r.flags, "flags");
    QTEST(checkFlagsText(r), "details");
    if (!r.file.isEmpty())
        QCOMPARE(r.fileSize, qint64(8));
}

void TestClientCheck::checkTakesTheRunsDocument()
{
    // Many identifiers and names that nearly match (dates and versions around them, letters before
    // digits, prefixes and suffixes of other identifiers, look-alike letters): for every client the
    // check must say what the run's lookup finds, and both must agree with trying every name
    // against every identifier.
    QTemporaryDir dir;
    QStringList ids;
    QByteArray csv;
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    qInfo("seed %u", seed);
    const QStringList idForms{u"%1"_s, u"K%1"_s, u"k%1"_s, u"\u00DC%1"_s, u"%1b"_s, u"B%1"_s, u"S%1"_s, u"%10"_s};
    for (int i = 0; i < 120; ++i) {
        const QString id = idForms[i % idForms.size()].arg(random.bounded(40));
        ids.append(id);
        csv += id.toUtf8() + (i % 9 == 0 ? QByteArray(",\n") : ",c" + QByteArray::number(i) + "@x.com\n");
    }
    writeFile(dir.filePath(u"clients.csv"_s), csv);
    const QStringList prefixes{u""_s,       u"Inv_"_s, u"x"_s,   u"1"_s,        u"A-"_s,
                               u"\u00E4"_s, u"INV."_s, u"v1."_s, u"2024.10."_s, u"Statement_2024_"_s};
    const QStringList suffixes{u".pdf"_s, u".2025.PDF"_s, u".1.pdf"_s, u"._final.pdf"_s, u".PDF"_s, u"x.pdf"_s};
    for (int i = 0; i < 250; ++i) {
        QString id = ids[random.bounded(ids.size())];
        switch (random.bounded(5)) {
        case 0: // a prefix of the identifier, which may be another client's
            id.truncate(1 + random.bounded(id.size()));
            break;
        case 1: // the identifier with more after it
            id += random.bounded(2) ? u"7"_s : u"b"_s;
            break;
        case 2: // look-alike letters: the Kelvin sign and the long s
            id.replace(u'K', u'\u212A').replace(u'S', u'\u017F');
            break;
        default:
            break;
        }
        QString name = prefixes[random.bounded(prefixes.size())] + id + suffixes[random.bounded(suffixes.size())];
        writeFile(dir.filePath(random.bounded(2) ? name : name.toUpper()), "x");
    }
    const QString list = dir.filePath(u"clients.csv"_s);
    const CheckReport report = checkClientList({list, AttachmentMode::ClientSpecific, QString(), true});
    QCOMPARE(report.rows.size(), size_t(ids.size()));
    const QStringList names = listDocumentFolder(dir.path(), list).names;
    const ClientIdIndex index(ids);
    qsizetype ambiguous = 0;
    for (const CheckRow &row : report.rows) {
        const ClientDocument run = FindClientDocument(dir.path(), row.clientId, index, list);
        QStringList matching;
        for (const QString &name : names) {
            if (isClientDocumentName(name, row.clientId))
                matching.append(name);
        }
        QCOMPARE(run.names, matching);
        QStringList others;
        if (matching.size() == 1) {
            for (const QString &id : ids) {
                if (id != row.clientId && !others.contains(id) &&
                    (isClientDocumentName(matching.first(), id) || holdsClientId(matching.first(), id)))
                    others.append(id);
            }
        }
        QCOMPARE(run.otherIds, others);
        switch (run.outcome) {
        case ClientDocument::Outcome::Found:
            QCOMPARE(row.file, run.path);
            QVERIFY(row.action == CheckAction::SendFile || row.action == CheckAction::Print);
            break;
        case ClientDocument::Outcome::None:
            QCOMPARE(row.action, CheckAction::NoDocument);
            break;
        case ClientDocument::Outcome::Several:
        case ClientDocument::Outcome::Shared:
            ++ambiguous;
            QCOMPARE(row.action, CheckAction::Ambiguous);
            QCOMPARE(row.documents(), run.names);
            QCOMPARE(row.sharedWith(), run.otherIds);
            QVERIFY(row.file.isEmpty());
            break;
        }
    }
    QVERIFY(ambiguous > 0);
}

void TestClientCheck::commonAttachment_data()
{
    QTest::addColumn<QString>("common");
    QTest::addColumn<bool>("missing");
    QTest::addColumn<qint64>("advertised"); // the server's SIZE; 0: none; -1: the server is not asked
    QTest::addColumn<int>("tooLarge");
    QTest::newRow("present") << u"7.pdf"_s << false << qint64(-1) << 0;
    QTest::newRow("not there") << u"gone.pdf"_s << true << qint64(-1) << 0;
    QTest::newRow("not set") << QString() << true << qint64(-1) << 0;
    // Every message (headers, body and the 8-byte file) is larger than 300 bytes, none than 100,000.
    QTest::newRow("the server takes less") << u"7.pdf"_s << false << qint64(300) << 9;
    QTest::newRow("the server takes more") << u"7.pdf"_s << false << qint64(100000) << 0;
    QTest::newRow("no SIZE advertised") << u"7.pdf"_s << false << qint64(0) << 0;
    QTest::newRow("a missing file is not sized") << u"gone.pdf"_s << true << qint64(300) << 0;
}

void TestClientCheck::commonAttachment()
{
    QFETCH(QString, common);
    QFETCH(bool, missing);
    QFETCH(qint64, advertised);
    QFETCH(int, tooLarge);
    const QString path = common.isEmpty() ? QString() : m_dir.filePath(common);
    CheckRequest request{m_csv, AttachmentMode::Common, path, false};
    std::optional<quorvale::test::ProviderSim> sim;
    SmtpMailer smtp(m_dir.path());
    if (advertised >= 0) {
        sim.emplace(quorvale::test::ProviderSimOptions{.profile = u"exchange"_s, .size = advertised});
        QVERIFY(sim->isRunning());
        request.serverSizeLimit = [&sim, &smtp] { return serverSizeLimit(smtp, sim->settings()); };
    }
    const CheckReport report = checkClientList(request);
    QCOMPARE(report.count(CheckFlag::TooLarge), tooLarge);
    if (tooLarge > 0)
        QVERIFY2(checkFlagsText(report.rows[0]).startsWith(u"too large (the message is "_s),
                 qPrintable(checkFlagsText(report.rows[0])));
    if (sim) {
        QVERIFY(sim->accepted().isEmpty());
        QVERIFY(sim->refused().isEmpty());
    }
    QCOMPARE(report.problems.size(), missing ? 1 : 0);
    QCOMPARE(report.count(CheckFlag::CommonMissing), missing ? 9 : 0);
    QCOMPARE(report.count(CheckAction::SendFile), 9);
    QCOMPARE(report.count(CheckAction::Nothing), 1); // no address, printing not ticked
    QCOMPARE(report.count(CheckFlag::SeveralDocuments) + report.count(CheckFlag::SharedDocument),
             0); // own documents play no part
    QCOMPARE(report.rows[0].fileSize, missing ? qint64(-1) : qint64(8));
}

void TestClientCheck::addressValidity_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain") << u"anna.berg@practice.example"_s << true;
    QTest::newRow("non-ASCII") << u"zoë@exämple.de"_s << true;
    QTest::newRow("no @") << u"anna.practice.example"_s << false;
    QTest::newRow("two @") << u"a@b@example.com"_s << false;
    QTest::newRow("nothing before @") << u"@example.com"_s << false;
    QTest::newRow("nothing after @") << u"anna@"_s << false;
    QTest::newRow("blank") << u"anna @example.com"_s << false;
    QTest::newRow("trailing blank") << u"anna@example.com "_s << false;
    QTest::newRow("no-break space") << u"anna\u00A0x@example.com"_s << false;
    QTest::newRow("tab") << u"anna\t@example.com"_s << false;
    QTest::newRow("line break") << u"anna@example.com\r\nBcc: x@y.z"_s << false;
    QTest::newRow("zero-width") << u"anna\u200B@example.com"_s << false;
}

void TestClientCheck::addressValidity()
{
    QFETCH(QString, address);
    QTEST(isUsableMailAddress(address), "usable");
}

// Clients whose address (in any letter case) or identifier is on many lines: each sees the first
// ten other lines, whether it is one of them or comes later, and keeps them when the mode changes.
void TestClientCheck::sameLinesOfManyClients_data()
{
    QTest::addColumn<QByteArray>("csv");
    const auto lines = [](int count, const auto &line) {
        QByteArray csv;
        for (int i = 0; i < count; ++i)
            csv += line(i) + '\n';
        return csv;
    };
    QTest::newRow("11 share an address")
        << lines(11, [](int i) -> QByteArray { return QByteArray::number(i) + ",a@x.com"; });
    QTest::newRow("25 share an address, in two cases, between others")
        << lines(25, [](int i) -> QByteArray {
               return QByteArray::number(i) + (i % 3 == 0 ? QByteArray(",o" + QByteArray::number(i) + "@x.com")
                                                          : QByteArray(i % 2 ? ",A@X.com" : ",a@x.com"));
           });
    QTest::newRow("14 share an identifier, some an address too, some without one")
        << lines(14, [](int i) -> QByteArray {
               return "7," + QByteArray(i % 4 == 0 ? "" : i % 2 ? "a@x.com" : "b@x.com");
           });
}

void TestClientCheck::sameLinesOfManyClients()
{
    QFETCH(QByteArray, csv);
    QTemporaryDir dir;
    writeFile(dir.filePath(u"clients.csv"_s), csv);
    const QList<QByteArray> written = csv.split('\n');
    // What each client must see: the first ten other lines that have the same key.
    const auto others = [&written](qint64 own, const std::function<QByteArray(const QByteArray &)> &key) {
        QList<qint64> lines;
        for (qint64 line = 1; line < written.size() && lines.size() < 10; ++line) {
            if (line != own && !key(written[line - 1]).isEmpty() && key(written[line - 1]) == key(written[own - 1]))
                lines.append(line);
        }
        return lines;
    };
    const auto address = [](const QByteArray &line) { return line.split(',').value(1).toLower(); };
    const auto id = [](const QByteArray &line) { return line.split(',').value(0); };

    Mailing mailing;
    mailing.csvPath = dir.filePath(u"clients.csv"_s);
    MailingPlan plan = MailingPlan::make(mailing);
    QVERIFY(plan.ok());
    for (int round = 0; round < 2; ++round) {
        QCOMPARE(plan.plans().size(), size_t(written.size() - 1));
        for (const ClientPlan &row : plan.plans()) {
            const QByteArray &line = written[row.lineNumber - 1];
            QCOMPARE(row.address.toUtf8(), line.split(',').value(1)); // as written, not folded
            QCOMPARE(row.sameAddressLines(), others(row.lineNumber, address));
            QCOMPARE(row.sameIdentifierLines(), others(row.lineNumber, id));
            QCOMPARE(row.flags.testFlag(ClientFlag::SameAddress), !row.sameAddressLines().isEmpty());
            QCOMPARE(row.flags.testFlag(ClientFlag::SameIdentifier), !row.sameIdentifierLines().isEmpty());
        }
        plan.replan(AttachmentMode::ClientSpecific, QString());
    }
}

// A document with other names may be anything under them: flagged. One that is the settings (or
// another of the program's own files) is no document at all, nor the common attachment.
void TestClientCheck::hardLinksAreFlaggedAndProgramFilesRefused()
{
    QTemporaryDir dir;
    const auto link = [&dir](const char *from, const char *to) {
        return ::link(QFile::encodeName(dir.filePath(QString::fromLatin1(from))).constData(),
                      QFile::encodeName(dir.filePath(QString::fromLatin1(to))).constData()) == 0;
    };
    writeFile(dir.filePath(u"list.csv"_s), "1,a@x.com\n2,b@x.com\n3,c@x.com\n");
    writeFile(dir.filePath(u"Invoice_1.pdf"_s), "one");
    QDir(dir.path()).mkdir(u"elsewhere"_s);
    writeFile(dir.filePath(u"elsewhere/other.pdf"_s), "someone else's");
    QVERIFY(link("elsewhere/other.pdf", "Invoice_2.pdf"));
    writeFile(dir.filePath(u"elsewhere/Quorvale.ini"_s), "PW=scrambled");
    QVERIFY(link("elsewhere/Quorvale.ini", "Invoice_3.pdf"));
    CheckRequest request{dir.filePath(u"list.csv"_s), AttachmentMode::ClientSpecific, QString(), false};
    request.programFiles.addFile(dir.filePath(u"elsewhere/Quorvale.ini"_s), u"the settings file"_s);

    const CheckReport report = checkClientList(request);
    QCOMPARE(report.rows.size(), size_t(3));
    QCOMPARE(report.rows[0].flags, CheckFlags());
    QCOMPARE(report.rows[1].action, CheckAction::SendFile);
    QCOMPARE(report.rows[1].flags, CheckFlags(CheckFlag::HardLinkedDocument));
    QCOMPARE(checkFlagsText(report.rows[1]), u"document has other names (hard links)"_s);
    QCOMPARE(report.rows[2].action, CheckAction::NoDocument);
    QVERIFY2(report.problems.contains(u"Not a document: Invoice_3.pdf (the same file as the settings file "_s +
                                      dir.filePath(u"elsewhere/Quorvale.ini"_s) + u')'),
             qPrintable(report.problems.join(u'\n')));

    request.mode = AttachmentMode::Common;
    request.commonPath = dir.filePath(u"Invoice_3.pdf"_s);
    const CheckReport common = checkClientList(request);
    QCOMPARE(common.count(CheckFlag::CommonIsProgramFile), 3);
    QVERIFY(common.problems.first().startsWith(u"The common attachment is the settings file"_s));
}

void TestClientCheck::linksSendOnlyAFileOfTheListsFolder_data()
{
    // Where docs/Invoice_7.pdf, beside the list, leads (from the top folder); whether the check
    // sends it.
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("sent");
    QTest::newRow("a file of the folder") << u"docs/real.pdf"_s << true;
    QTest::newRow("a file in a folder below") << u"docs/sub/deep.pdf"_s << false;
    QTest::newRow("a sibling folder whose name starts the same") << u"docs-old/real.pdf"_s << false;
    QTest::newRow("the folder above") << u"real.pdf"_s << false;
}

void TestClientCheck::linksSendOnlyAFileOfTheListsFolder()
{
    QFETCH(QString, target);
    QFETCH(bool, sent);
    QTemporaryDir dir;
    const QDir top(dir.path());
    QVERIFY(top.mkpath(u"docs/sub"_s));
    QVERIFY(top.mkpath(u"docs-old"_s));
    for (const char *name : {"docs/real.pdf", "docs/sub/deep.pdf", "docs-old/real.pdf", "real.pdf"})
        writeFile(top.filePath(QString::fromLatin1(name)), "a document");
    writeFile(top.filePath(u"docs/list.csv"_s), "7,a@x.com\n");
    QVERIFY(QFile::link(top.filePath(target), top.filePath(u"docs/Invoice_7.pdf"_s)));

    const CheckReport report =
        checkClientList({top.filePath(u"docs/list.csv"_s), AttachmentMode::ClientSpecific, QString(), false});
    QCOMPARE(report.rows.size(), size_t(1));
    QCOMPARE(report.rows[0].action, sent ? CheckAction::SendFile : CheckAction::NoDocument);
}

void TestClientCheck::unreadableListIsAnError()
{
    const CheckReport missing =
        checkClientList({m_dir.filePath(u"none.csv"_s), AttachmentMode::None, QString(), false});
    QVERIFY(!missing.error.isEmpty());
    QVERIFY(missing.rows.empty());
    QVERIFY(!checkClientList({}).error.isEmpty());
}

void TestClientCheck::savedTableQuotesFields()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(u"c.csv"_s), "\"Smith, J\",j@x.com\nO\"Neil Å,a@x.com\n=1+2,f@x.com\n");
    const CheckReport report = checkClientList({dir.filePath(u"c.csv"_s), AttachmentMode::None, {}, false});
    const QString out = dir.filePath(u"out/check.csv"_s);
    QString error;
    QVERIFY(!saveCheckCsv(report, out, ExistingFile::Keep, &error)); // the folder does not exist
    QVERIFY(!error.isEmpty());
    QVERIFY(QDir(dir.path()).mkdir(u"out"_s));
    QVERIFY2(saveCheckCsv(report, out, ExistingFile::Keep, &error), qPrintable(error));
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF\"Line\"")); // a byte-order mark tells spreadsheets it is UTF-8
    const QString text = QString::fromUtf8(bytes.mid(3));
    const QStringList lines = text.split(u"\r\n"_s);
    QCOMPARE(lines.size(), 5); // header, three rows, the last line's end
    QCOMPARE(lines[0], u"\"Line\",\"Client ID\",\"Address\",\"Action\",\"File\",\"Size\",\"Flags\""_s);
    QCOMPARE(lines[1], u"\"1\",\"Smith, J\",\"j@x.com\",\"send\",\"\",\"\",\"\""_s);
    QCOMPARE(lines[2], u"\"2\",\"O\"\"Neil Å\",\"a@x.com\",\"send\",\"\",\"\",\"\""_s);
    // A spreadsheet would run the identifier as a formula: it is led by "'".
    QCOMPARE(lines[3], u"\"3\",\"'=1+2\",\"f@x.com\",\"send\",\"\",\"\",\"\""_s);
}

void TestClientCheck::commandLine_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // a line of standard output, or text on standard error

    const QString list = u"list_42.csv"_s;
    QTest::newRow("flags found")
        << list << QStringList{u"--mode"_s, u"client"_s, u"--print"_s, u"--subject"_s, u"ignored"_s} << 1
        << u"! 1\t42\ta@x.com\tNot sent: ambiguous document\tseveral documents (Invoice_42.pdf, Letter_42.pdf)"_s;
    QTest::newRow("unflagged row") << list << QStringList{u"--mode=client"_s} << 1
                                   << u"  2\t7\tb@x.com\tSend with 7.pdf (8 bytes)"_s;
    QTest::newRow("nothing flagged") << u"clean.csv"_s << QStringList{} << 0 << u"  2\t61\tf@x.com\tSend"_s;
    QTest::newRow("semicolons, a line in Windows-1252") << u"semicolons.csv"_s << QStringList{u"--delimiter"_s, u";"_s}
                                                        << 0 << u"Read as Windows-1252, not UTF-8: line 2"_s;
    QTest::newRow("semicolons read with commas")
        << u"semicolons.csv"_s << QStringList{} << 2 << u"There was a problem reading the CSV file at line 1"_s;
    QTest::newRow("no such list") << u"none.csv"_s << QStringList{} << 2 << u"none.csv"_s;
    QTest::newRow("bad mode") << list << QStringList{u"--mode"_s, u"all"_s} << 2
                              << u"--mode must be none, common, client or named"_s;
}

void TestClientCheck::commandLine()
{
    QFETCH(QString, list);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    const QString saved = m_dir.filePath(u"saved/check.csv"_s);
    QDir().mkpath(QFileInfo(saved).path());
    QFile::remove(saved);
    QProcess process;
    process.setProgram(qEnvironmentVariable("QUORVALE_BINARY"));
    process.setArguments(QStringList{u"check"_s, u"--csv"_s, m_dir.filePath(list), u"--save"_s, saved} + args);
    process.start();
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), exitCode);
    if (exitCode == 2) {
        QVERIFY2(err.contains(expected), qPrintable(err));
        QVERIFY(!QFile::exists(saved));
        return;
    }
    QVERIFY2(out.split(u'\n').contains(expected), qPrintable(out));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const qsizetype rows = exitCode == 0 ? 2 : 10;
    QVERIFY(out.startsWith(u"Clients: %1\n"_s.arg(rows)));
    QCOMPARE(file.readAll().count("\r\n"), rows + 1);
}

QTEST_GUILESS_MAIN(TestClientCheck)
#include "tst_clientcheck.moc"
