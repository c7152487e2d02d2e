// The run journal: what it records and when it reaches the disk, resuming an unfinished run,
// resending to failed clients, and the mail layer telling a lost answer from a refusal.

#include "mail/smtpmailer.h"
#include "run/journal.h"
#include "run/resumeplan.h"
#include "run/sentrecord.h"
#include "runharness.h"
#include "support/smtpfixture.h"

#include <QDir>
#include <QTest>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace quorvale;
using quorvale::test::RunHarness;
using quorvale::test::SmtpServer;

namespace {

/// What the real fdatasync calls on run journals did: how many there were, how much of the file
/// the last one covered, and from which call on they fail (0: never) as a failing disk would.
struct JournalSyncs
{
    int calls = 0;
    qint64 syncedSize = -1;
    int failFrom = 0;
};
JournalSyncs g_syncs;

bool isRunJournal(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 && std::strstr(target, "/runs/run-") != nullptr;
}

} // namespace

// Every fdatasync of this test program comes here first (the journal is linked in statically), so
// the tests see the syncs that really reach the disk, not what the journal says it did.
extern "C" int fdatasync(int fd)
{
    using Real = int (*)(int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "fdatasync"));
    if (!isRunJournal(fd))
        return real(fd);
    ++g_syncs.calls;
    if (g_syncs.failFrom > 0 && g_syncs.calls >= g_syncs.failFrom) {
        errno = EIO;
        return -1;
    }
    const int result = real(fd);
    struct stat info = {};
    if (result == 0 && ::fstat(fd, &info) == 0)
        g_syncs.syncedSize = info.st_size;
    return result;
}

namespace {

const QString kConfirm = u"Are you sure your ready to start processing?"_s;

QStringList journalsOf(const RunHarness &h)
{
    const QDir runs(runJournalFolder(h.settings.DataFolder));
    QStringList paths;
    for (const QString &name : runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name))
        paths.append(runs.filePath(name));
    return paths;
}

QList<JournalEntry> entriesOf(const QString &path)
{
    QList<JournalEntry> entries;
    QString error;
    if (!readJournal(path, &entries, &error))
        qWarning("%s", qPrintable(error));
    return entries;
}

/// "event address" per client line, "event" for the others.
QStringList events(const QList<JournalEntry> &entries)
{
    QStringList out;
    for (const JournalEntry &e : entries)
        out.append(journalEventName(e.event) +
                   (e.line > 0 ? u' ' + (e.address.isEmpty() ? e.clientId : e.address) : QString()));
    return out;
}

QStringList sentTo(const RunHarness &h)
{
    return h.mailer.recipients();
}

/// a sent, b unknown, c refused, then an abort in the pause, which the send to d sees (not sent,
/// aborted before its message was handed over); e was never reached.
void abortedFirstRun(RunHarness &h)
{
    h.writeCsv("A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\nE,e@x.org\r\n");
    h.mailer.statuses = {SendStatus::Sent, SendStatus::MaybeDelivered, SendStatus::Refused};
    h.abortInPauseAfter(u"Send Error - c@x.org"_s);
    QCOMPARE(h.run(), RunOutcome::Aborted);
    h.onSleep = nullptr;
    h.mailer.clear();
    h.mailer.statuses.clear();
    h.prompter.questions.clear();
    h.trace.clear();
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linesReachTheFileOneByOneAndReadBack()
    {
        QTemporaryDir dir;
        QString error;
        const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7));
        g_syncs = {};
        std::unique_ptr<Journal> journal = Journal::create(dir.filePath(u"runs"_s), now, &error);
        QVERIFY2(journal, qPrintable(error));
        QCOMPARE(journal->syncCount(), 1); // the header line
        QCOMPARE(g_syncs.calls, 1);
        QVERIFY(QFileInfo(journal->path()).fileName().startsWith(u"run-000001-20260304-050607"_s));
        struct stat info = {};
        QCOMPARE(::stat(QFile::encodeName(journal->path()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(u"runs"_s)).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);

        JournalEntry run;
        run.time = now;
        run.event = JournalEvent::Run;
        run.detail = u"all clients"_s;
        QVERIFY(journal->append(run, &error, false));
        JournalEntry tricky{now,
                            JournalEvent::Sent,
                            7,
                            u" id, \"quoted\" "_s,
                            u"a@x.org"_s,
                            u"/d/x,y.pdf"_s,
                            12,
                            QString(64, u'a'),
                            u"250 OK\r\nsecond line"_s};
        // Only a field that needs it is quoted, a quote inside it doubled; no formula guard.
        QCOMPARE(formatJournalLine(tricky),
                 "2026-03-04T05:06:07.000,sent,7,\" id, \"\"quoted\"\" \",a@x.org,\"/d/x,y.pdf\",12," +
                     QByteArray(64, 'a') + ",\"250 OK\r\nsecond line\"\r\n");
        QVERIFY(journal->append(tricky, &error, false));
        QCOMPARE(journal->syncCount(), 1);
        JournalEntry end;
        end.time = now;
        end.event = JournalEvent::Completed;
        QCOMPARE(g_syncs.calls, 1);
        QVERIFY(journal->append(end, &error));
        QCOMPARE(journal->syncCount(), 2);
        QCOMPARE(g_syncs.calls, 2);
        QCOMPARE(g_syncs.syncedSize, QFileInfo(journal->path()).size());

        // A line cut short by a crash is dropped; the ones before it stand.
        QFile file(journal->path());
        QVERIFY(file.open(QIODevice::Append));
        file.write("2026-03-04T05:06:08,attempting,8,X,\"b@x");
        file.close();
        const QList<JournalEntry> back = entriesOf(journal->path());
        QCOMPARE(back.size(), 3);
        QCOMPARE(back.at(1).clientId, tricky.clientId);
        QCOMPARE(back.at(1).file, tricky.file);
        QCOMPARE(back.at(1).detail, tricky.detail);
        QCOMPARE(back.at(1).size, 12);
        QCOMPARE(back.at(1).time, now);
        QCOMPARE(back.at(2).size, -1);

        // The next journal takes the next number.
        std::unique_ptr<Journal> second = Journal::create(dir.filePath(u"runs"_s), now, &error);
        QVERIFY(second && QFileInfo(second->path()).fileName().startsWith(u"run-000002-"_s));
    }

    void chosenClientsLineReadsBackOrStopsTheReading_data()
    {
        QTest::addColumn<QByteArray>("detail");
        QTest::addColumn<QStringList>("clients"); ///< empty: the line does not read
        QTest::newRow("ids") << QByteArray("\"[\"\"1\"\",\"\"7\"\",\"\"a, b\"\"]\"")
                             << QStringList{u"1"_s, u"7"_s, u"a, b"_s};
        QTest::newRow("empty list") << QByteArray("[]") << QStringList{};
        QTest::newRow("not a list") << QByteArray("7") << QStringList{};
        QTest::newRow("numbers") << QByteArray("[7]") << QStringList{};
        QTest::newRow("cut short") << QByteArray("\"[\"\"7\"\"\"") << QStringList{};
    }
    void chosenClientsLineReadsBackOrStopsTheReading()
    {
        QFETCH(QByteArray, detail);
        QFETCH(QStringList, clients);
        const QByteArray head = "\xEF\xBB\xBFtime,event,line,client id,address,file,size,sha256,detail\r\n"
                                "2026-01-02T13:04:05.000,run,,,,,,,all clients\r\n"
                                "2026-01-02T13:04:05.000,mode,,,,,,,none\r\n"
                                "2026-01-02T13:04:05.000,chosen clients,,,,,,,";
        JournalParser parser;
        const bool read = parser.feed(QByteArray(head + detail + "\r\n"));
        QCOMPARE(read, !clients.isEmpty());
        if (!read) {
            QCOMPARE(parser.problem(), u"line 4: the chosen clients are not a list of client IDs"_s);
            return;
        }
        // Written as the run writes it: blanks aside, sorted, each once.
        MailingKey mailing;
        mailing.choices.clients = chosenClientKeys({u"7"_s, u" 1"_s, u"a, b"_s, u"7"_s});
        QCOMPARE(mailing.choices.clients, clients);
        const QList<JournalEntry> lines = journalHeader(QDateTime::currentDateTime(), RunKind::AllClients, mailing);
        QCOMPARE(lines.at(lines.size() - 2).event, JournalEvent::ChosenClients);
        QCOMPARE(lines.at(lines.size() - 2).detail, parser.entries().last().detail);
    }

    void aRecordOfSendsReadsAsWrittenOrNotAtAll_data()
    {
        QTest::addColumn<QByteArray>("tail"); // after the record's first two lines
        QTest::addColumn<int>("lines");       // read; -1: the record does not read
        const QByteArray hash(64, 'a');
        const QByteArray line = "2026-12-07T09:15:02Z sent " + hash + ' ' + hash + '\n';
        QTest::newRow("lines") << QByteArray(line + line) << 2;
        QTest::newRow("cut short by a kill") << QByteArray(line + line.left(30)) << 1;
        QTest::newRow("unknown outcome") << QByteArray(line).replace("sent", "gone") << -1;
        QTest::newRow("no time") << QByteArray(line).replace("09:15:02Z", "09:15:02+") << -1;
        QTest::newRow("not a hash") << QByteArray(line).replace("aaaa", "AAAA") << -1;
        QTest::newRow("a field too many") << QByteArray(line).replace(" sent", " sent sent") << -1;
        QTest::newRow("a blank too many") << QByteArray(line).replace(" sent", "  sent") << -1;
    }
    void aRecordOfSendsReadsAsWrittenOrNotAtAll()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, lines);
        QString who;
        QList<RecordLine> read;
        QString problem;
        QCOMPARE(
            parseSentRecord(QByteArray("quorvale sent record 1\nby anna on office-2\n" + tail), &who, &read, &problem),
            lines >= 0);
        QCOMPARE(who, u"anna on office-2"_s);
        QCOMPARE(read.size(), std::max(lines, 0));
        QCOMPARE(problem.isEmpty(), lines >= 0);
    }

    void theRecordOfSendsIsWrittenOnlyAsItsOwn()
    {
        // A line a kill cut short is cut off before the next run writes, so the record still reads.
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n");
        const QString path = sentRecordPath(h.request.csvPath, recordHome(h.settings.DataFolder));
        // The attempt is on the disk before the message goes: a kill during the send leaves it in doubt.
        QList<RecordLine> before;
        h.onSend = [&path, &before](const MailMessage &) {
            QFile file(path);
            QString who;
            QString problem;
            QVERIFY(file.open(QIODevice::ReadOnly) && parseSentRecord(file.readAll(), &who, &before, &problem));
        };
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(before.size(), 1);
        QCOMPARE(before.first().what, RecordedSend::Attempting);
        h.onSend = nullptr;
        QFile record(path);
        QVERIFY(record.open(QIODevice::Append));
        record.write("2026-12-07T09:15:02Z se");
        record.close();
        h.request.sendAgain = true;
        QCOMPARE(h.run(), RunOutcome::Completed);
        QVERIFY(record.open(QIODevice::ReadOnly));
        QString who;
        QList<RecordLine> lines;
        QString problem;
        QVERIFY2(parseSentRecord(record.readAll(), &who, &lines, &problem), qPrintable(problem));
        QCOMPARE(lines.size(), 4);
        record.close();

        // One left with its first line only (a power cut while it was begun) gets its second.
        QVERIFY(record.open(QIODevice::WriteOnly | QIODevice::Truncate));
        record.write("quorvale sent record 1\nby anna");
        record.close();
        QCOMPARE(h.run(), RunOutcome::Completed);
        QVERIFY(record.open(QIODevice::ReadOnly));
        QVERIFY2(parseSentRecord(record.readAll(), &who, &lines, &problem), qPrintable(problem));
        record.close();

        // A colleague who can write into the list's folder points this data folder's record at a
        // file of the user's: the run stops before any send, and the file is as it was.
        h.mailer.clear();
        h.writeFile(u"mine.txt"_s, "mine");
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(h.dir.filePath(u"mine.txt"_s), path));
        QCOMPARE(h.run(), RunOutcome::Stopped);
        QVERIFY(h.mailer.attempts().isEmpty());
        QVERIFY2(h.trace.join(u'\n').contains(u"the record of sends beside the client list cannot be written"_s),
                 qPrintable(h.trace.join(u'\n')));
        QFile mine(h.dir.filePath(u"mine.txt"_s));
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QCOMPARE(mine.readAll(), QByteArray("mine"));
    }

    void recordsEveryStepBeforeTheNext()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n4,\r\n5,e@x.org\r\n6,\r\n");
        h.writeFile(u"Doc_1.pdf"_s, "one");
        h.writeFile(u"Doc_2.pdf"_s, "two");
        h.writeFile(u"Doc_3.pdf"_s, "three");
        h.writeFile(u"Doc_4.pdf"_s, "four");
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        h.request.print = true;
        h.printer.failure.clear();
        h.mailer.statuses = {SendStatus::Sent, SendStatus::Refused, SendStatus::MaybeDelivered};
        // When a message goes out, its "attempting" line is already in the file, and on the disk:
        // the last real sync covered the whole file.
        QStringList lastLineAtSend;
        g_syncs = {};
        h.onSend = [&](const MailMessage &m) {
            QCOMPARE(g_syncs.syncedSize, QFileInfo(journalsOf(h).value(0)).size());
            const QList<JournalEntry> now = entriesOf(journalsOf(h).value(0));
            lastLineAtSend.append(now.isEmpty() ? QString()
                                                : journalEventName(now.last().event) + u' ' + now.last().address);
            QCOMPARE(now.last().sha256, fileSha256(m.AttachmentPath));
        };
        QCOMPARE(h.run(), RunOutcome::CompletedWithErrors);
        QCOMPARE(lastLineAtSend,
                 QStringList({u"attempting a@x.org"_s, u"attempting b@x.org"_s, u"attempting c@x.org"_s}));
        QCOMPARE(g_syncs.syncedSize, QFileInfo(journalsOf(h).value(0)).size());

        QCOMPARE(journalsOf(h).size(), 1);
        const QList<JournalEntry> entries = entriesOf(journalsOf(h).first());
        QCOMPARE(events(entries), QStringList({u"run"_s,
                                               u"client file"_s,
                                               u"subject"_s,
                                               u"body"_s,
                                               u"mode"_s,
                                               u"print"_s,
                                               u"common attachment"_s,
                                               u"client a@x.org"_s,
                                               u"client b@x.org"_s,
                                               u"client c@x.org"_s,
                                               u"client 4"_s,
                                               u"client e@x.org"_s,
                                               u"client 6"_s,
                                               u"attempting 4"_s,
                                               u"printed 4"_s,
                                               u"no document 6"_s,
                                               u"attempting a@x.org"_s,
                                               u"sent a@x.org"_s,
                                               u"attempting b@x.org"_s,
                                               u"refused b@x.org"_s,
                                               u"attempting c@x.org"_s,
                                               u"unknown c@x.org"_s,
                                               u"no document e@x.org"_s,
                                               u"completed"_s}));
        QCOMPARE(entries.at(0).detail, u"all clients"_s);
        QCOMPARE(entries.at(1).file, QFileInfo(h.request.csvPath).canonicalFilePath());
        QCOMPARE(entries.at(1).sha256, fileSha256(h.request.csvPath));
        QCOMPARE(entries.at(2).detail, h.request.subject);
        QCOMPARE(entries.at(3).sha256.size(), 64);
        QCOMPARE(entries.at(4).detail, u"client"_s);
        QCOMPARE(entries.at(5).detail, u"yes"_s); // printing
        QCOMPARE(entries.at(10).line, 4);
        QCOMPARE(entries.at(10).clientId, u"4"_s);
        QCOMPARE(entries.at(16).file, h.dir.filePath(u"Doc_1.pdf"_s));
        QCOMPARE(entries.at(16).size, 3);
        QCOMPARE(entries.at(16).line, 1);
        QCOMPARE(entries.at(16).clientId, u"1"_s);
        QCOMPARE(entries.at(17).detail, u"250 OK queued"_s);
        QCOMPARE(entries.at(19).detail, u"550 refused"_s);
        // The status box shows exactly what it showed before the journal existed.
        QVERIFY(!h.trace.join(u'\n').contains(u"journal"_s, Qt::CaseInsensitive));
    }

    void aJournalThatCannotBeWrittenStopsTheRunBeforeAnySend()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n");
        QVERIFY(QDir().mkpath(h.settings.DataFolder));
        QFile blocker(runJournalFolder(h.settings.DataFolder));
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the folder should be
        blocker.close();
        QCOMPARE(h.run(), RunOutcome::Stopped);
        QVERIFY(h.mailer.attempts().isEmpty());
        QVERIFY(h.trace.last().startsWith(u"Processing stopped - The run journal folder cannot be created"_s));
    }

    void aJournalWriteThatFailsMidRunStopsBeforeTheNextSend()
    {
        RunHarness h;
        QByteArray csv;
        for (int i = 1; i <= 20; ++i)
            csv += "C" + QByteArray::number(i) + ",c" + QByteArray::number(i) + "@x.org\r\n";
        h.writeCsv(csv);
        // Files of this process cannot grow past 3000 bytes while the run goes on: the journal
        // fills up after a few clients.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old = {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 3000;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const RunOutcome outcome = h.run();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);

        QCOMPARE(outcome, RunOutcome::Stopped);
        QVERIFY2(h.trace.last().startsWith(u"Processing stopped - The run journal cannot be written"_s),
                 qPrintable(h.trace.last()));
        QVERIFY(!h.mailer.attempts().isEmpty());
        QVERIFY(h.mailer.attempts().size() < 20);
        // Every message that went out has its "attempting" line; the last one may lack its outcome,
        // and then counts as "unknown".
        const QList<JournalEntry> entries = entriesOf(journalsOf(h).value(0));
        qsizetype attempts = 0;
        for (const JournalEntry &e : entries)
            attempts += e.event == JournalEvent::Attempting ? 1 : 0;
        QCOMPARE(attempts, h.mailer.attempts().size());
        QVERIFY(entries.last().event != JournalEvent::Completed);
    }

    void aFailingSyncStopsTheRunBeforeTheNextSend()
    {
        RunHarness h;
        h.writeCsv("A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\n");
        // The journal's own header, the run's opening lines, a's "attempting": the fourth real sync,
        // of a's "sent" line, fails as a disk that reports EIO would.
        g_syncs = {};
        g_syncs.failFrom = 4;
        const RunOutcome outcome = h.run();
        g_syncs.failFrom = 0;
        QCOMPARE(outcome, RunOutcome::Stopped);
        QCOMPARE(sentTo(h), QStringList{u"a@x.org"_s});
        QVERIFY2(h.trace.last().startsWith(u"Processing stopped - The run journal cannot be written"_s),
                 qPrintable(h.trace.last()));
    }

    void resumesAnUnfinishedRun_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("includeUnknown");
        QTest::addColumn<bool>("retryFailed");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("questions"); // before the confirmation

        const auto all = QStringList{u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s};
        const int completed = int(RunOutcome::Completed);
        QTest::newRow("asked, yes to both") << int(ResumeChoice::Ask) << true << false << false << completed
                                            << QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s} << 2;
        QTest::newRow("asked, no: every client")
            << int(ResumeChoice::Ask) << false << false << false << completed << all << 1;
        QTest::newRow("resume, unknown skipped") << int(ResumeChoice::Resume) << true << false << false << completed
                                                 << QStringList{u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s} << 0;
        QTest::newRow("resume with unknown")
            << int(ResumeChoice::Resume) << true << true << false << completed
            << QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s} << 0;
        QTest::newRow("start afresh") << int(ResumeChoice::StartAfresh) << true << false << false << completed << all
                                      << 0;
        QTest::newRow("refused: nothing sent")
            << int(ResumeChoice::Refuse) << true << false << false << int(RunOutcome::NotStarted) << QStringList() << 0;
        // The send to d was aborted before anything went out: not a failure, but not reached yet.
        QTest::newRow("resend to failed") << int(ResumeChoice::Ask) << true << false << true << completed
                                          << QStringList{u"b@x.org"_s, u"c@x.org"_s} << 0;
    }

    void resumesAnUnfinishedRun()
    {
        QFETCH(int, choice);
        QFETCH(bool, answer);
        QFETCH(bool, includeUnknown);
        QFETCH(bool, retryFailed);
        QFETCH(int, outcome);
        QFETCH(QStringList, sent);
        QFETCH(int, questions);

        RunHarness h;
        abortedFirstRun(h);
        h.request.resume = ResumeChoice(choice);
        h.request.includeUnknown = includeUnknown;
        h.request.retryFailed = retryFailed;
        h.prompter.answers = {answer};
        QCOMPARE(int(h.run()), outcome);
        QCOMPARE(sentTo(h), sent);
        if (outcome == int(RunOutcome::NotStarted)) {
            QCOMPARE(h.prompter.warnings.size(), 1);
            return;
        }
        QCOMPARE(h.prompter.questions.size(), questions + 1);
        QCOMPARE(h.prompter.questions.last(), kConfirm);
        if (questions == 2) {
            QVERIFY(h.prompter.questions.at(1).contains(u"line 2: B b@x.org"_s));
            // Sending twice is the worse mistake: the question about them defaults to No, and says
            // that the connection was lost (no Abort left the doubt).
            QCOMPARE(h.prompter.choiceDefaults, QList<int>{1});
            QVERIFY(h.prompter.questions.at(1).contains(u"lost the connection"_s));
        }

        // A skipped client has its one line and counts nowhere else: numbering starts with the
        // first client sent to, and no pause follows a skip.
        const QStringList passes = h.passes();
        const QStringList skipped = passes.filter(u"Skipped"_s);
        if (!retryFailed && sent.size() < 5) {
            QCOMPARE(skipped.first(), u"Skipped (already sent) - a@x.org"_s);
            QCOMPARE(passes.at(passes.indexOf(skipped.first()) + 1).left(1), u"S"_s);
        }
        if (ResumeChoice(choice) == ResumeChoice::Resume && !includeUnknown) {
            // b is never counted as reached: not before Yes, not in the counts after the run.
            QCOMPARE(skipped.last(), u"Skipped (may have been sent) - b@x.org"_s);
            QVERIFY2(h.prompter.details.last().contains(
                         u"Skipped: 1 client an earlier run of this mailing already reached\nSkipped: 1 client whose "
                         "message may or may not have arrived (not sent again)"_s),
                     qPrintable(h.prompter.details.last()));
        }
        QCOMPARE(passes.filter(u"Sending email - "_s).first(), u"Sending email - 1"_s);
        QCOMPARE(passes.filter(u"Sending email - "_s).size(), sent.size());

        // A resend leaves the clients the interrupted run did not reach to Start, and says so.
        h.mailer.clear();
        h.prompter.questions.clear();
        h.request = RunRequest{h.request.csvPath, h.request.subject, h.request.body};
        if (retryFailed) {
            QVERIFY(h.trace.contains(u"Clients not reached yet - 2 (Start Processing resumes them)"_s));
            QCOMPARE(h.run(), RunOutcome::Completed);
            QCOMPARE(h.prompter.questions.size(), 2);
            QVERIFY2(h.prompter.questions.first().contains(u"reached 3 clients"_s),
                     qPrintable(h.prompter.questions.first()));
            QCOMPARE(sentTo(h), (QStringList{u"d@x.org"_s, u"e@x.org"_s}));
            h.mailer.clear();
            h.prompter.questions.clear();
        }
        // The earlier run and this one together are finished now. When b was skipped because its
        // message may have arrived, the next run resumes again and asks about b only; otherwise
        // it asks no resume question (only, every client having its message, whether to send it
        // all again).
        QCOMPARE(h.run(), RunOutcome::Completed);
        if (!sent.contains(u"b@x.org"_s)) {
            QVERIFY2(h.prompter.questions.first().startsWith(u"This mailing was already sent on"_s),
                     qPrintable(h.prompter.questions.first()));
            QCOMPARE(sentTo(h), QStringList{u"b@x.org"_s});
            return;
        }
        QCOMPARE(h.prompter.questions.size(), 1);
        QVERIFY2(h.prompter.questions.first().endsWith(kConfirm), qPrintable(h.prompter.questions.first()));
        QCOMPARE(h.mailer.attempts().size(), 5);
    }

    void resumeLooksNoFurtherBackThanTheNewestFullRun()
    {
        // A run over all clients aborted after a, b and c; then a fresh run over all clients,
        // aborted after a. Only that fresh run counts: the resume sends to b to e.
        RunHarness h;
        h.writeCsv("A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\nE,e@x.org\r\n");
        h.abortInPauseAfter(u"=> c@x.org | "_s);
        QCOMPARE(h.run(), RunOutcome::Aborted);
        h.request.resume = ResumeChoice::StartAfresh;
        h.abortInPauseAfter(u"=> a@x.org | "_s);
        h.mailer.clear();
        h.trace.clear();
        QCOMPARE(h.run(), RunOutcome::Aborted);
        QCOMPARE(sentTo(h), QStringList{u"a@x.org"_s}); // no client is started after an abort
        h.onSleep = nullptr;
        h.mailer.clear();
        h.request.resume = ResumeChoice::Resume;
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(sentTo(h), (QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s}));
    }

    void resumePlanFollowsTheEarlierRuns_data()
    {
        // Clients A a@x.org, B b@x.org, C c@x.org and D without an address; the earlier runs'
        // outcomes as "a=sent b=unknown"; "unfinished" or "finished"; the choices now and then.
        QTest::addColumn<QString>("earlier");
        QTest::addColumn<int>("resume");
        QTest::addColumn<bool>("retryFailed");
        QTest::addColumn<bool>("otherChoices"); // the earlier run sent each client's own document
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("unknown");
        QTest::addColumn<bool>("asks");
        QTest::addColumn<QString>("says"); // in the refusal, the notice, the sentence before Yes
        const int ask = int(ResumeChoice::Ask);
        const int yes = int(ResumeChoice::Refuse);
        const int resume = int(ResumeChoice::Resume);
        const int afresh = int(ResumeChoice::StartAfresh);
        const int all = int(RunKind::AllClients);
        const int resumed = int(RunKind::Resume);
        const QString half = u"unfinished a=sent b=unknown c=failed"_s;
        QTest::newRow("no earlier run") << QString() << ask << false << false << all << 0 << 0 << false << QString();
        QTest::newRow("unfinished: asked") << half << ask << false << false << resumed << 1 << 1 << true << QString();
        QTest::newRow("unfinished: --yes alone")
            << half << yes << false << false << all << 0 << 0 << false << u"did not finish"_s;
        QTest::newRow("unfinished: --resume")
            << half << resume << false << false << resumed << 1 << 1 << false << QString();
        QTest::newRow("unfinished: --no-resume")
            << half << afresh << false << false << all << 0 << 0 << false << QString();
        QTest::newRow("other choices: asked") << half << ask << false << true << resumed << 1 << 1 << true
                                              << u"was sending each client's own document; you chose no attachment."_s;
        QTest::newRow("other choices: --resume") << half << resume << false << true << all << 0 << 0 << false
                                                 << u"you chose no attachment. Nothing was sent"_s;
        QTest::newRow("other choices: --yes alone")
            << half << yes << false << true << all << 0 << 0 << false << u"you chose no attachment. Nothing was sent"_s;
        QTest::newRow("reached nobody: --resume") << u"unfinished c=failed"_s << resume << false << false << all << 0
                                                  << 0 << false << u"There is no unfinished run"_s;
        QTest::newRow("finished with every client")
            << u"finished a=sent b=sent c=sent"_s << ask << false << true << all << 0 << 0 << false
            << u"This mailing was already sent to all 3 clients on"_s;
        QTest::newRow("finished, --no-resume") << u"finished a=sent b=sent c=sent"_s << afresh << false << false << all
                                               << 0 << 0 << false << u"already sent to all 3 clients"_s;
        QTest::newRow("finished, c refused")
            << u"finished a=sent b=sent c=failed"_s << ask << false << false << resumed << 2 << 0 << true << QString();
        QTest::newRow("finished, c refused: --yes alone")
            << u"finished a=sent b=sent c=failed"_s << yes << false << false << all << 0 << 0 << false
            << u"This mailing was already sent on"_s;
        QTest::newRow("a document changed since") << u"unfinished a=sent b=sent* c=failed"_s << ask << false << false
                                                  << resumed << 1 << 0 << true << u"1 would now get another message"_s;
        QTest::newRow("a month-old run: every document changed")
            << u"finished a=sent* b=sent* c=sent*"_s << ask << false << false << all << 0 << 0 << false << QString();
        QTest::newRow("resend to failed")
            << half << ask << true << true << int(RunKind::ResendToFailed) << 0 << 0 << false << QString();
        QTest::newRow("resend with none failed") << u"unfinished a=sent"_s << ask << true << false << all << 0 << 0
                                                 << false << u"There are no failed clients"_s;
        QTest::newRow("a journal that does not read")
            << u"problem"_s << resume << false << false << all << 0 << 0 << false << u"does not read cleanly"_s;
    }

    void resumePlanFollowsTheEarlierRuns()
    {
        QFETCH(QString, earlier);
        QFETCH(int, resume);
        QFETCH(bool, retryFailed);
        QFETCH(bool, otherChoices);
        QFETCH(int, kind);
        QFETCH(int, skipped);
        QFETCH(int, unknown);
        QFETCH(bool, asks);
        QFETCH(QString, says);
        ClientList clients;
        clients.append(u"A"_s, u"a@x.org"_s, 1);
        clients.append(u"B"_s, u"b@x.org"_s, 2);
        clients.append(u" C "_s, u"c@x.org"_s, 3); // exported again with blanks around its id
        clients.append(u"D"_s, QString(), 4);
        JournalHistory history;
        const QStringList words = earlier.split(u' ', Qt::SkipEmptyParts);
        history.problem = words.contains(u"problem"_s) ? u"j.csv, line 3: a stray quote"_s : QString();
        history.unfinished = words.contains(u"unfinished"_s);
        history.started = QDateTime(QDate(2026, 11, 30), QTime(9, 0));
        if (words.contains(u"finished"_s))
            history.finished = history.started.addSecs(600);
        using Last = JournalHistory::Last;
        const QHash<QString, Last> outcomes{
            {u"sent"_s, Last::Sent}, {u"unknown"_s, Last::Unknown}, {u"failed"_s, Last::Failed}};
        for (const QString &word : words) {
            if (!word.contains(u'='))
                continue;
            const QString letter = word.section(u'=', 0, 0);
            const QString key = journalClientKey(letter.toUpper(), letter + u"@x.org"_s);
            // "sent*": what the client got then differs from what it would get now.
            QString outcome = word.section(u'=', 1);
            history.sent.insert(key, SentMessage{u"S"_s, outcome.endsWith(u'*') ? u"then"_s : u"now"_s, {}, {}});
            outcome.remove(u'*');
            history.last.insert(key, outcomes.value(outcome));
            history.reached += history.last.value(key) == Last::Sent ? 1 : 0;
            if (history.last.value(key) == Last::Unknown)
                history.unknownClients.append(
                    JournalEntry{{}, JournalEvent::Unknown, 2, letter.toUpper(), letter + u"@x.org"_s});
        }
        MailingChoices then;
        then.mode = otherChoices ? AttachmentMode::ClientSpecific : AttachmentMode::None;
        history.choices = then;
        const ResumePlan plan = makeResumePlan(
            clients, history,
            ResumeRequest{ResumeChoice(resume), retryFailed, false, MailingChoices{}, u"S"_s, [](qsizetype) {
                              return SentMessage{u"S"_s, u"now"_s, {}, {}};
                          }});
        QCOMPARE(int(plan.kind), kind);
        QCOMPARE(plan.skip.size(), skipped);
        QCOMPARE(plan.unknown.size(), unknown);
        QCOMPARE(!plan.resumeQuestion.isEmpty(), asks);
        const QString told = plan.refusal + plan.notice + plan.alreadySent + plan.otherChoices;
        QVERIFY2(says.isEmpty() ? told.isEmpty() : QString(told + plan.resumeQuestion).contains(says),
                 qPrintable(told + plan.resumeQuestion));
        QCOMPARE(plan.earlierChoices.has_value(), told.contains(u"you chose"_s));
        if (kind == int(RunKind::ResendToFailed))
            QCOMPARE(plan.resendCount, 2); // b, whose message may have arrived, and c, refused
    }

    void aResumeKnowsItsClientsInAListExportedAgain_data()
    {
        // The interrupted run's list (a sent, b unknown, c refused, d and e not reached), written
        // again as another program exports it: the clients are the same, and a is not sent again.
        QTest::addColumn<QByteArray>("list");
        QTest::newRow("as it was") << "A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\nE,e@x.org\r\n"_ba;
        QTest::newRow("addresses in capitals")
            << "A,A@X.ORG\r\nB,B@x.org\r\nC,C@X.org\r\nD,d@X.ORG\r\nE,e@x.org\r\n"_ba;
        QTest::newRow("blanks around the identifiers")
            << " A,a@x.org\r\nB ,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\nE,e@x.org\r\n"_ba;
    }

    void aResumeKnowsItsClientsInAListExportedAgain()
    {
        QFETCH(QByteArray, list);
        RunHarness h;
        abortedFirstRun(h);
        h.writeCsv(list);
        h.request.resume = ResumeChoice::Resume;
        QCOMPARE(h.run(), RunOutcome::Completed);
        QStringList sent;
        for (const QString &address : sentTo(h))
            sent.append(address.trimmed().toLower());
        QCOMPARE(sent, (QStringList{u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s}));
    }

    void aDamagedJournalIsNeverResumedFrom_data()
    {
        // How the aborted run's journal was edited since, and what the next run says (empty: it
        // resumes).
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("says");
        QTest::newRow("as written") << u"none"_s << QString();
        QTest::newRow("a field too many") << u"extra field"_s << u"10 fields instead of 9"_s;
        QTest::newRow("a field too few") << u"missing field"_s << u"8 fields instead of 9"_s;
        QTest::newRow("a client's line after the closing line") << u"after the end"_s << u"is out of order"_s;
        QTest::newRow("a second closing line") << u"second end"_s << u"is out of order"_s;
    }

    void aDamagedJournalIsNeverResumedFrom()
    {
        QFETCH(QString, edit);
        QFETCH(QString, says);
        RunHarness h;
        abortedFirstRun(h);
        const QStringList journals = journalsOf(h);
        QCOMPARE(journals.size(), 1);
        QFile file(journals.first());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        file.close();
        QVERIFY(lines.size() > 3 && lines.last().isEmpty());
        lines.removeLast();
        // The last line closes the run; the one before it says what happened to a client.
        const qsizetype end = lines.size() - 1;
        QVERIFY2(lines.at(end).contains(",aborted,"), lines.at(end).constData());
        qsizetype sent = end;
        while (sent > 0 && !lines.at(sent).contains("a@x.org"))
            --sent;
        QVERIFY2(lines.at(sent).contains(",sent,"), lines.at(sent).constData());
        const auto withoutEnd = [](QByteArray line) { return line.endsWith('\r') ? line.chopped(1) : line; };
        if (edit == u"extra field")
            lines[sent] = withoutEnd(lines.at(sent)) + ",x\r";
        else if (edit == u"missing field")
            lines[sent] = withoutEnd(lines.at(sent)).left(withoutEnd(lines.at(sent)).lastIndexOf(',')) + '\r';
        else if (edit == u"after the end")
            lines.append(lines.at(sent));
        else if (edit == u"second end")
            lines.append(lines.at(end));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(lines.join('\n') + '\n');
        file.close();

        h.request.resume = ResumeChoice::Resume;
        const RunOutcome outcome = h.run();
        if (says.isEmpty()) {
            QCOMPARE(outcome, RunOutcome::Completed);
            QVERIFY(!sentTo(h).contains(u"a@x.org"_s));
            QVERIFY(!sentTo(h).isEmpty());
            return;
        }
        // Which clients that run reached is not known: nothing goes until the journal is mended.
        QCOMPARE(outcome, RunOutcome::NotStarted);
        QCOMPARE(sentTo(h), QStringList());
        QCOMPARE(h.prompter.warnings.size(), 1);
        QVERIFY2(h.prompter.warnings.first().contains(u"does not read cleanly"_s) &&
                     h.prompter.warnings.first().contains(says),
                 qPrintable(h.prompter.warnings.first()));
    }

    void resumingWithOtherChoicesAsksWhichToUse_data()
    {
        // The interrupted run sent no attachment; the window now says the common file.
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("attachment"); // of the messages the resume sends
        QTest::addColumn<int>("modeAfter");
        QTest::newRow("use the earlier choices")
            << 0 << int(RunOutcome::Completed) << QString() << int(AttachmentMode::None);
        QTest::newRow("keep my choices") << 1 << int(RunOutcome::Completed) << u"letter.pdf"_s
                                         << int(AttachmentMode::Common);
        QTest::newRow("cancel") << -1 << int(RunOutcome::NotStarted) << QString() << int(AttachmentMode::Common);
    }

    void resumingWithOtherChoicesAsksWhichToUse()
    {
        QFETCH(int, choice);
        QFETCH(int, outcome);
        QFETCH(QString, attachment);
        QFETCH(int, modeAfter);
        RunHarness h;
        abortedFirstRun(h);
        h.writeFile(u"letter.pdf"_s, "letter");
        h.control.setAttachmentMode(AttachmentMode::Common);
        h.control.setCommonAttachmentPath(h.dir.filePath(u"letter.pdf"_s));
        h.prompter.choices = {choice, 1}; // then: do not send again to b, whose message may have arrived
        QCOMPARE(int(h.run()), outcome);
        QVERIFY2(h.prompter.questions.first().startsWith(
                     u"The interrupted run of this mailing was sending no attachment; you chose the common file "
                     "letter.pdf."_s),
                 qPrintable(h.prompter.questions.first()));
        QCOMPARE(h.prompter.choiceDefaults.first(), 0);
        QCOMPARE(int(h.control.attachmentMode()), modeAfter);
        if (outcome == int(RunOutcome::NotStarted)) {
            QCOMPARE(h.mailer.attempts().size(), 0);
            QCOMPARE(h.log.lines, QStringList{u"Nothing was started."_s});
            return;
        }
        // a got the message without attachment: with the common file now, it gets it again.
        const QStringList resumed{u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s};
        QCOMPARE(h.mailer.recipients(), attachment.isEmpty() ? resumed : QStringList{u"a@x.org"_s} + resumed);
        for (const MailMessage &m : h.mailer.attempts())
            QCOMPARE(QFileInfo(m.AttachmentPath).fileName(), attachment);
    }

    void aResumeSendsAgainOnlyWhereTheDocumentChanged()
    {
        // Each client's own document; the run is aborted after 1 and 2. Then 1's document is
        // replaced (next month's, say): the resume sends to 1 again and to 3, never to 2.
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n");
        for (const QString &name : {u"Doc_1.pdf"_s, u"Doc_2.pdf"_s, u"Doc_3.pdf"_s})
            h.writeFile(name, "first");
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        h.abortInPauseAfter(u"=> b@x.org | Doc_2.pdf"_s);
        QCOMPARE(h.run(), RunOutcome::Aborted);
        h.onSleep = nullptr;
        h.mailer.clear();
        h.writeFile(u"Doc_1.pdf"_s, "second");
        h.request.resume = ResumeChoice::Resume;
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(h.mailer.recipients(), (QStringList{u"a@x.org"_s, u"c@x.org"_s}));
        QVERIFY(h.trace.contains(u"Clients whose message changed since - 1 (they get it again)"_s));
    }

    void aResumeSkipsTheClientsReachedWhateverTheBody_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        QTest::newRow("plain with a field") << u"Dear {{id}},\r\nhere it is.\r\n"_s << QString();
        QTest::newRow("formatted") << QString() << u"<p>Dear client,</p><p>here it is.</p>"_s;
        QTest::newRow("formatted with a field") << QString() << u"<p>Dear <b>{{id}}</b>,</p><p>here it is.</p>"_s;
    }
    void aResumeSkipsTheClientsReachedWhateverTheBody()
    {
        // What the resume finds a client would get now must be what the journal says it got, or
        // every client reached counts as changed and is sent the mailing again.
        QFETCH(QString, text);
        QFETCH(QString, html);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n");
        if (!text.isEmpty())
            h.request.body = text;
        h.request.html = html;
        h.request.htmlFolder = h.dir.path();
        h.abortInPauseAfter(u"=> b@x.org | "_s);
        QCOMPARE(h.run(), RunOutcome::Aborted);
        h.onSleep = nullptr;
        h.mailer.clear();
        h.request.resume = ResumeChoice::Resume;
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(h.mailer.recipients(), QStringList{u"c@x.org"_s});
    }

    void aMailingFromAnotherDataFolderIsNeverSentTwice_data()
    {
        // Another data folder (another account, another computer on the shared folder) ran the
        // list first: all of it, or a and b before it was aborted, or all of it before 1's
        // document was replaced.
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("question"); // how the first question or warning opens
        const int ask = int(ResumeChoice::Ask);
        const QStringList all{u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s};
        QTest::newRow("sent there, No") << u"all"_s << ask << false << QStringList()
                                        << u"This mailing was already sent to all 3 clients, by "_s;
        QTest::newRow("sent there, Yes") << u"all"_s << ask << true << all
                                         << u"This mailing was already sent to all 3 clients, by "_s;
        QTest::newRow("sent there, start afresh")
            << u"all"_s << int(ResumeChoice::StartAfresh) << false << QStringList()
            << u"This mailing was already sent to all 3 clients, by "_s;
        QTest::newRow("aborted there, skip") << u"aborted"_s << ask << true << QStringList{u"c@x.org"_s}
                                             << u"This mailing was already sent to 2 of these clients by "_s;
        QTest::newRow("aborted there, go over all")
            << u"aborted"_s << ask << false << all << u"This mailing was already sent to 2 of these clients by "_s;
        QTest::newRow("aborted there, resume")
            << u"aborted"_s << int(ResumeChoice::Resume) << true << QStringList{u"c@x.org"_s} << QString();
        QTest::newRow("aborted there, not told") << u"aborted"_s << int(ResumeChoice::Refuse) << true << QStringList()
                                                 << u"This mailing was already sent to 2 of these clients by "_s;
        QTest::newRow("a document changed since") << u"changed"_s << ask << true << QStringList{u"a@x.org"_s}
                                                  << u"This mailing was already sent to 2 of these clients by "_s;
        QTest::newRow("a damaged record")
            << u"damaged"_s << ask << true << QStringList() << u"The record of another account's or computer's sends"_s;
        // b's message may have arrived there: the resume skips it as a resume from there would.
        QTest::newRow("in doubt there") << u"in doubt"_s << int(ResumeChoice::Resume) << true << QStringList()
                                        << QString();
        QTest::newRow("in doubt there, asked") << u"in doubt"_s << ask << true << QStringList{u"b@x.org"_s}
                                               << u"This mailing was already sent to 3 of these clients by "_s;
        // Sent there, then refused from a third data folder told to send it again: b still has it.
        QTest::newRow("sent there, refused from a third")
            << u"third"_s << ask << false << QStringList() << u"This mailing was already sent to all 3 clients, by "_s;
        // Sent there longer ago than a similar mailing counts: another month's mailing.
        QTest::newRow("sent there 31 days before") << u"old"_s << ask << true << all << QString();
    }
    void aMailingFromAnotherDataFolderIsNeverSentTwice()
    {
        QFETCH(QString, first);
        QFETCH(int, choice);
        QFETCH(bool, answer);
        QFETCH(QStringList, sent);
        QFETCH(QString, question);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n");
        for (const QString &name : {u"Doc_1.pdf"_s, u"Doc_2.pdf"_s, u"Doc_3.pdf"_s})
            h.writeFile(name, "first");
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        if (first == u"aborted"_s)
            h.abortInPauseAfter(u"=> b@x.org | Doc_2.pdf"_s);
        if (first == u"in doubt"_s)
            h.mailer.statuses = {SendStatus::Sent, SendStatus::MaybeDelivered, SendStatus::Sent};
        h.run();
        h.onSleep = nullptr;
        h.mailer.statuses.clear();
        if (first == u"old"_s)
            h.clock.set(std::chrono::hours(24 * 31));
        if (first == u"changed"_s)
            h.writeFile(u"Doc_1.pdf"_s, "second");
        // Only hashes go beside the list: no address, no document name.
        const QStringList records =
            QDir(h.dir.path()).entryList({u".clients.csv.quorvale-sent-*"_s}, QDir::Hidden | QDir::Files);
        QCOMPARE(records.size(), 1);
        QFile record(h.dir.filePath(records.first()));
        QVERIFY(record.open(QIODevice::ReadWrite));
        const QByteArray text = record.readAll();
        QVERIFY(!text.contains("x.org") && !text.contains("Doc_"));
        if (first == u"damaged"_s)
            record.write("2026-12-07T09:15:02Z sent 12\n");
        record.close();

        if (first == u"third"_s) {
            h.settings.DataFolder = h.dir.filePath(u"third data"_s);
            h.request.sendAgain = true;
            h.clock.set(std::chrono::hours(1));
            h.mailer.statuses = {SendStatus::Sent, SendStatus::Refused, SendStatus::Sent};
            h.run();
            h.request.sendAgain = false;
        }
        h.settings.DataFolder = h.dir.filePath(u"other data"_s);
        h.mailer.clear();
        h.prompter.questions.clear();
        h.request.resume = ResumeChoice(choice);
        h.prompter.answers = {answer};
        h.prompter.answerDefaultNo = answer;
        h.run();
        QCOMPARE(h.mailer.recipients(), sent);
        const QStringList said = h.prompter.warnings + h.prompter.questions;
        if (question.isEmpty())
            QCOMPARE(said, QStringList{kConfirm});
        else
            QVERIFY2(said.first().startsWith(question), qPrintable(said.first()));
        if (first == u"in doubt"_s && choice == int(ResumeChoice::Ask))
            QVERIFY2(said.at(1).contains(u"(a run from another account or computer stopped while sending it)"_s),
                     qPrintable(said.at(1)));
        if (sent.isEmpty())
            return;
        // Now the mailing is whole, seen from either data folder: nobody gets it again.
        for (const QString &folder : {u"data"_s, u"other data"_s}) {
            h.settings.DataFolder = h.dir.filePath(folder);
            h.mailer.clear();
            h.prompter.questions.clear();
            h.request.resume = ResumeChoice::Ask;
            h.prompter.answers = {true};
            h.prompter.answerDefaultNo = false;
            h.run();
            QCOMPARE(h.mailer.recipients(), QStringList());
            QVERIFY2(h.prompter.questions.first().startsWith(u"This mailing was already sent to all 3 clients"_s),
                     qPrintable(h.prompter.questions.first()));
        }
    }

    void aChoiceChangedDuringTheRunIsTheOneAResumeContinues()
    {
        // The window switched to the common file during the first send; the run was aborted
        // after c. Resuming with the common file asks nothing about choices.
        RunHarness h;
        h.writeFile(u"letter.pdf"_s, "letter");
        h.onSend = [&h](const MailMessage &) {
            h.control.setCommonAttachmentPath(h.dir.filePath(u"letter.pdf"_s));
            h.control.setAttachmentMode(AttachmentMode::Common);
        };
        abortedFirstRun(h);
        h.onSend = nullptr;
        const QStringList lines = events(entriesOf(journalsOf(h).first()));
        QCOMPARE(lines.mid(lines.indexOf(u"sent a@x.org"_s) + 1, 4),
                 (QStringList{u"mode"_s, u"print"_s, u"common attachment"_s, u"attempting b@x.org"_s}));
        h.prompter.choices = {1}; // b's message may have arrived: not again
        QCOMPARE(h.run(), RunOutcome::Completed);
        QVERIFY2(h.prompter.questions.first().startsWith(u"An earlier run of this mailing did not finish"_s),
                 qPrintable(h.prompter.questions.first()));
        // a got its message before the change, without the file: it gets it again, with the file.
        QCOMPARE(h.mailer.recipients(), (QStringList{u"a@x.org"_s, u"c@x.org"_s, u"d@x.org"_s, u"e@x.org"_s}));
    }

    void resumesOnlyWhatThereIsToResume_data()
    {
        // What differs from the earlier, unfinished run; a different mailing starts afresh without
        // a word, the same mailing would be refused here (ResumeChoice::Refuse), with other
        // attachment choices too.
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("says");
        const int completed = int(RunOutcome::Completed);
        const int notStarted = int(RunOutcome::NotStarted);
        const QString reached = u"reached 1 client."_s;
        QTest::newRow("another subject") << u"subject"_s << completed << 5 << QString();
        // A similar mailing (the subject in another letter case, the list renamed) is this one.
        QTest::newRow("the subject's letter case") << u"case"_s << notStarted << 0 << reached;
        QTest::newRow("the list renamed") << u"renamed"_s << notStarted << 0 << reached;
        QTest::newRow("a similar mailing a month old") << u"case, a month later"_s << completed << 5 << QString();
        QTest::newRow("a similar mailing 29 days old") << u"case, 29 days later"_s << notStarted << 0 << reached;
        QTest::newRow("a similar mailing 30 days and a minute old")
            << u"case, 30 days and a minute later"_s << completed << 5 << QString();
        QTest::newRow("another body") << u"body"_s << completed << 5 << QString();
        QTest::newRow("the same text, formatted") << u"formatted"_s << completed << 5 << QString();
        QTest::newRow("a signature added") << u"signature"_s << completed << 5 << QString();
        QTest::newRow("another mode") << u"mode"_s << notStarted << 0
                                      << u"The interrupted run of this mailing was sending no attachment; you chose "
                                         "the common file letter.pdf. Nothing was sent"_s;
        QTest::newRow("another common attachment")
            << u"common"_s << notStarted << 0
            << u"was sending the common file letter.pdf as it was then; you chose the common file letter.pdf as it "
               "is now."_s;
        QTest::newRow("another file") << u"file"_s << completed << 5 << QString();
        QTest::newRow("earlier run reached nobody") << u"nobody"_s << completed << 2 << QString();
        QTest::newRow("the same list, edited") << u"edited"_s << notStarted << 0 << reached;
        QTest::newRow("the same list through a linked folder") << u"linked"_s << notStarted << 0 << reached;
    }

    void resumesOnlyWhatThereIsToResume()
    {
        QFETCH(QString, change);
        QFETCH(int, outcome);
        QFETCH(int, sent);
        QFETCH(QString, says);
        RunHarness h;
        if (change == u"common"_s) {
            h.writeFile(u"letter.pdf"_s, "first letter");
            h.control.setAttachmentMode(AttachmentMode::Common);
            h.control.setCommonAttachmentPath(h.dir.filePath(u"letter.pdf"_s));
        }
        if (change == u"nobody"_s) {
            h.writeCsv("A,a@x.org\r\nB,b@x.org\r\n");
            h.mailer.notAttempted = u"The SMTP port is not valid."_s; // stops the run at its first send
            QCOMPARE(h.run(), RunOutcome::Stopped);
            h.mailer.notAttempted.clear();
            h.prompter.questions.clear();
        } else {
            abortedFirstRun(h);
        }
        if (change == u"file"_s) {
            const QString copy = h.dir.filePath(u"copy.csv"_s);
            QVERIFY(QFile::copy(h.request.csvPath, copy));
            h.request.csvPath = copy;
        } else if (change == u"subject"_s) {
            h.request.subject = u"Season's greetings"_s;
        } else if (change.startsWith(u"case"_s)) {
            h.request.subject = u"  "_s + h.request.subject.toUpper();
            if (change.endsWith(u"a month later"_s))
                h.clock.set(h.clock.tick() + std::chrono::hours(24 * 31));
            else if (change.endsWith(u"29 days later"_s))
                h.clock.set(h.clock.tick() + std::chrono::hours(24 * 29));
            else if (change.endsWith(u"a minute later"_s))
                h.clock.set(h.clock.tick() + std::chrono::hours(24 * 30) + std::chrono::minutes(1));
        } else if (change == u"renamed"_s) {
            const QString renamed = h.dir.filePath(u"clients-may.csv"_s);
            QVERIFY(QFile::rename(h.request.csvPath, renamed));
            h.request.csvPath = renamed;
        } else if (change == u"body"_s) {
            h.request.body += u"PS"_s;
        } else if (change == u"formatted"_s) {
            h.request.html = h.request.body;
        } else if (change == u"signature"_s) {
            h.writeFile(u"data/Signature.html"_s, "<p>Smith &amp; Partners</p>");
        } else if (change == u"mode"_s || change == u"common"_s) {
            h.writeFile(u"letter.pdf"_s, "another letter");
            h.control.setAttachmentMode(AttachmentMode::Common);
            h.control.setCommonAttachmentPath(h.dir.filePath(u"letter.pdf"_s));
        } else if (change == u"edited"_s) {
            h.writeCsv("A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\nE,e@x.org\r\nF,f@x.org\r\n");
        } else if (change == u"linked"_s) {
            QVERIFY(QFile::link(h.dir.path(), h.dir.filePath(u"linked"_s)));
            h.request.csvPath = h.dir.filePath(u"linked/clients.csv"_s);
        }
        h.mailer.clear();
        h.request.resume = ResumeChoice::Refuse; // would refuse if it found anything to resume
        QCOMPARE(int(h.run()), outcome);
        QCOMPARE(h.mailer.attempts().size(), sent);
        if (outcome == int(RunOutcome::Completed))
            QCOMPARE(h.prompter.questions, QStringList{kConfirm});
        else
            QVERIFY2(h.prompter.warnings.last().contains(says), qPrintable(h.prompter.warnings.last()));
    }

    void mailLayerTellsALostAnswerFromARefusal_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("reply");
        QTest::newRow("accepted") << QString() << int(SendStatus::Sent) << u"250"_s;
        QTest::newRow("refused after the content") << u"DATA:554"_s << int(SendStatus::Refused) << u"554"_s;
        QTest::newRow("no answer after the content") << u"stall:DATA"_s << int(SendStatus::MaybeDelivered) << QString();
        QTest::newRow("refused recipient") << u"RCPT:550"_s << int(SendStatus::Refused) << QString();
    }

    void mailLayerTellsALostAnswerFromARefusal()
    {
        QFETCH(QString, fault);
        QFETCH(int, status);
        QFETCH(QString, reply);
        SmtpServer server({.fault = fault});
        QVERIFY(server.isRunning());
        MailServer mailServer = mailServerFrom(server.settings());
        mailServer.timeoutSeconds = 1;
        SmtpMailer mailer;
        const SendResult result = mailer.send(MailMessage{u"c@x.org"_s, {}, u"S"_s, u"B"_s}, mailServer);
        QCOMPARE(int(result.status), status);
        QVERIFY2(result.serverReply.startsWith(reply), qPrintable(result.serverReply));
        if (reply.isEmpty())
            QVERIFY(result.serverReply.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
