#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
#include "run/batchrun.h"
#include "run/journal.h"
#include "run/pause.h"
#include "runharness.h"
#include "settings/bodyfile.h"
#include "settings/settingstable.h"
#include "support/providersim.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

#include <algorithm>

using namespace Qt::StringLiterals;

using namespace quorvale;
using quorvale::test::ProviderSim;
using quorvale::test::ProviderSimOptions;
using quorvale::test::RunHarness;

Q_DECLARE_METATYPE(quorvale::test::ProviderSimOptions)

Q_DECLARE_METATYPE(quorvale::SmtpStage)

namespace {

/// Copies into a Sent folder that takes them as `answers` says, in order ("ok" or a reason); when
/// none is left, ok. Records what it was given.
class ScriptedSentCopier final : public SentCopier
{
public:
    SentCopyResult copy(const QByteArray &message, const AppSettings &, const AbortPredicate &) override
    {
        copied.append(message);
        const QString answer = answers.isEmpty() ? u"ok"_s : answers.takeFirst();
        return answer == u"ok"_s ? SentCopyResult{} : SentCopyResult{answer, {}};
    }
    SentCopyResult copyOnce(const QByteArray &message, const QByteArray &, const AppSettings &settings,
                            const AbortPredicate &aborted) override
    {
        return copy(message, settings, aborted);
    }
    QStringList answers;
    QList<QByteArray> copied;
};

} // namespace

namespace {

const QString kQuestion = u"Are you sure your ready to start processing?"_s;
const QString kLettingFinish =
    u"Abort - letting the message being sent finish (up to 30 seconds); abort again to stop it now"_s;

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

/// The pacing skeleton of a trace: "S<n>" per send, "G" per group delay, "~ms" per pause.
QString pacing(const QStringList &trace)
{
    QStringList out;
    for (const QString &entry : trace) {
        if (entry.startsWith("Sending email - "_L1))
            out.append(u'S' + entry.mid(16));
        else if (entry == "Starting email group delay..."_L1)
            out.append(u"G"_s);
        else if (entry.startsWith(u'~'))
            out.append(entry);
    }
    return out.join(u' ');
}

/// The run sends to the provider simulator through the real mailer.
void useProvider(RunHarness &h, const ProviderSim &sim, Mailer &smtp)
{
    const QString dataFolder = h.settings.DataFolder;
    h.settings = sim.settings();
    h.settings.DataFolder = dataFolder;
    h.realMailer = &smtp;
}

void schedule(RunHarness &h, qint32 delaySecs, qint32 groupDelayMins, qint32 groupSize)
{
    h.settings.EnableSchedule = 1;
    h.settings.DelayBetweenSends = delaySecs;
    h.settings.GroupDelay = groupDelayMins;
    h.settings.GroupSize = groupSize;
}

} // namespace

class TestBatchRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failedCopyInSentIsRetriedOnceAndNeverFailsTheSend_data()
    {
        QTest::addColumn<int>("sentCopy");
        QTest::addColumn<QStringList>("answers");      // the Sent folder's, in order
        QTest::addColumn<int>("copies");               // copies tried
        QTest::addColumn<QStringList>("copyEvents");   // journal lines about copies, "event line"
        QTest::addColumn<qint64>("copyFailures");      // counted in the summary
        QTest::newRow("off: no copy") << 0 << QStringList() << 0 << QStringList() << qint64(0);
        QTest::newRow("every copy made") << 1 << QStringList() << 2
                                         << QStringList{u"copied to sent 1"_s, u"copied to sent 2"_s} << qint64(0);
        QTest::newRow("one fails, then is made at the end")
            << 1 << QStringList{u"ok"_s, u"no folder"_s} << 3
            << QStringList{u"copied to sent 1"_s, u"copy in sent failed 2"_s, u"copied to sent 2"_s} << qint64(0);
        QTest::newRow("both fail twice")
            << 1 << QStringList{u"down"_s, u"down"_s, u"down"_s, u"down"_s} << 4
            << QStringList{u"copy in sent failed 1"_s, u"copy in sent failed 2"_s, u"copy in sent failed 1"_s,
                           u"copy in sent failed 2"_s}
            << qint64(2);
    }

    void failedCopyInSentIsRetriedOnceAndNeverFailsTheSend()
    {
        QFETCH(int, sentCopy);
        QFETCH(QStringList, answers);
        QFETCH(int, copies);
        QFETCH(QStringList, copyEvents);
        QFETCH(qint64, copyFailures);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        h.settings.SentCopy = qint16(sentCopy);
        ScriptedSentCopier copier;
        copier.answers = answers;
        RunDependencies deps = h.deps();
        deps.sentCopier = &copier;
        BatchRun run(deps);
        QVERIFY(run.prepare(h.request));
        QCOMPARE(run.execute(), RunOutcome::Completed);
        QCOMPARE(run.tally().sent, 2);
        QCOMPARE(run.tally().copyFailures, copyFailures);
        QCOMPARE(copier.copied.size(), copies);
        QCOMPARE(h.trace.contains(u"Copies in Sent failed for 2 clients"_s), copyFailures == 2);
        // On without an IMAP server: the question says no copy can be made.
        QCOMPARE(h.prompter.details.value(0).contains(u"Warning: the copy in the Sent folder is on, but none can be "
                                                      "made: No IMAP Server is set in Setup"_s),
                 sentCopy == 1);

        QList<JournalEntry> entries;
        QString error;
        const QDir runs(runJournalFolder(h.settings.DataFolder));
        QVERIFY2(readJournal(runs.filePath(runs.entryList(QDir::Files).value(0)), &entries, &error), qPrintable(error));
        QStringList events;
        QStringList ids;
        for (const JournalEntry &e : std::as_const(entries)) {
            if (e.event == JournalEvent::CopyFailed || e.event == JournalEvent::Copied)
                events << journalEventName(e.event) + u' ' + QString::number(e.line);
            if (e.event == JournalEvent::Attempting)
                ids << e.detail;
        }
        QCOMPARE(events, copyEvents);
        // The copy is the message that was sent: its Message-ID is the one journalled for the client.
        QCOMPARE(ids.size(), 2);
        QVERIFY(ids.at(0) != ids.at(1));
        const QByteArray first = "Message-ID: " + ids.at(0).toLatin1();
        const QByteArray second = "Message-ID: " + ids.at(1).toLatin1();
        for (const QByteArray &copy : std::as_const(copier.copied))
            QVERIFY(copy.startsWith(first) || copy.startsWith(second));
    }

    void emptyListStillAsksSavesAndCompletes()
    {
        RunHarness h;
        h.writeCsv("");
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(h.trace, QStringList({u"Parsing CSV file..."_s, u"Clients found - 0"_s, u"Parsing CSV file complete"_s,
                                       u"Client count - 0"_s, u"Emails to be sent - 0"_s, u"Start processing..."_s,
                                       u"Processing Complete"_s}));
        QCOMPARE(h.prompter.questions, QStringList{kQuestion});
        QCOMPARE(h.store.writes,
                 QStringList({u"CSVpath"_s, u"CSVHeader"_s, u"SubjectLine"_s, u"AttachMode"_s, u"PrintDocuments"_s}));
        QCOMPARE(h.store.values.value(u"CSVpath"_s).toString(), h.request.csvPath);
        QCOMPARE(h.store.values.value(u"SubjectLine"_s).toString(), h.request.subject);
        QCOMPARE(readAll(bodyFilePath(h.settings.DataFolder)), h.request.body);
        QCOMPARE(h.log.clears, 1);
        QVERIFY(h.observer.events.contains(u"running"_s));
        QCOMPARE(h.observer.events.mid(h.observer.events.indexOf(u"running"_s) + 1),
                 QStringList({u"idle"_s, u"email 0"_s, u"print 0/0"_s}));
    }

    void printsThenSendsWithOneSecondPauses()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,\r\n3,c@x.org\r\n4,\r\n");
        h.writeFile(u"2.pdf"_s);
        h.request.print = true;
        QCOMPARE(h.run(), RunOutcome::CompletedWithErrors);
        QCOMPARE(h.trace.mid(3, 4), QStringList({u"Client count - 4"_s, u"Emails to be sent - 2"_s,
                                                 u"Documents to be printed - 2"_s, u"Start processing..."_s}));
        // Client 4 has no document: its step is logged, reported as an error and paced, but nothing
        // is printed.
        QCOMPARE(h.passes(),
                 QStringList({u"Printing document - 1"_s, u"~1100"_s, u"Printing document - 2"_s,
                              u"No document found to print for Client ID - 4"_s, u"~1100"_s, u"Sending email - 1"_s,
                              u"=> a@x.org | "_s, u"~1100"_s, u"Sending email - 2"_s, u"=> c@x.org | "_s, u"~1100"_s,
                              u"Processing Complete with 1 errors!"_s}));
        QCOMPARE(h.printer.printed(), QStringList{h.dir.filePath(u"2.pdf"_s)});
        QCOMPARE(h.mailer.attempts().size(), 2);
        for (const MailMessage &m : h.mailer.attempts()) {
            QCOMPARE(m.SubjectLine, h.request.subject);
            QCOMPARE(m.BodyText, h.request.body);
            QVERIFY(m.AttachmentPath.isEmpty());
        }
        QVERIFY(h.observer.events.contains(u"print 2/2"_s));
        QVERIFY(h.observer.events.contains(u"email 100"_s));
    }

    void groupsAndDelaysPaceTheSends_data()
    {
        QTest::addColumn<int>("groupSize");
        QTest::addColumn<int>("delaySecs");
        QTest::addColumn<int>("clients");
        QTest::addColumn<QString>("expected");
        // A group delay (1 minute here) comes before the client after every full group, never
        // after the last; every pause lasts one 100 ms slice at least.
        QTest::newRow("groups of 3") << 3 << 0 << 5 << u"S1 ~100 S2 ~100 S3 ~100 G ~60100 S4 ~100 S5 ~100"_s;
        QTest::newRow("group size 0") << 0 << 2 << 2 << u"G ~60100 S1 ~2100 G ~60100 S2 ~2100"_s;
        QTest::newRow("negative group size") << -1 << 0 << 1 << u"G ~60100 S1 ~100"_s;
        QTest::newRow("group larger than list") << 10 << 1 << 3 << u"S1 ~1100 S2 ~1100 S3 ~1100"_s;
        QTest::newRow("exactly one group") << 2 << 0 << 2 << u"S1 ~100 S2 ~100"_s;
    }
    void groupsAndDelaysPaceTheSends()
    {
        QFETCH(int, groupSize);
        QFETCH(int, delaySecs);
        QFETCH(int, clients);
        QFETCH(QString, expected);
        RunHarness h;
        QByteArray csv;
        for (int i = 1; i <= clients; ++i)
            csv += QByteArray::number(i) + ",c" + QByteArray::number(i) + "@x.org\r\n," + "\r\n";
        h.writeCsv(csv);
        schedule(h, delaySecs, 1, groupSize);
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(pacing(h.passes()), expected);
        // The time left said before the first client is the time the pacing then took, and it
        // shrinks with every client.
        const QList<RunProgress> &progress = h.observer.progress;
        QCOMPARE(progress.size(), clients);
        QCOMPARE(progress.first().timeLeft->count(), h.clock.slept().count());
        for (int i = 1; i < progress.size(); ++i) {
            QCOMPARE(progress[i].client, i + 1);
            QCOMPARE(progress[i].clients, clients);
            QVERIFY(*progress[i].timeLeft < *progress[i - 1].timeLeft);
        }
    }

    void timeLeftTakesTheMeasuredSendTime()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n4,\r\n");
        h.writeFile(u"4.pdf"_s);
        h.request.print = true;
        // Each send takes 5 s of the run's clock.
        h.onSend = [&h](const MailMessage &) { h.clock.set(h.clock.tick() + std::chrono::seconds(5)); };
        QCOMPARE(h.run(), RunOutcome::Completed);
        QList<qint64> left;
        for (const RunProgress &p : h.observer.progress)
            left.append(p.timeLeft->count());
        // The print step and three clients at 1.1 s each; then what the sends took comes in.
        QCOMPARE(left, (QList<qint64>{4400, 3300, 2 * 6100, 6100}));
        QCOMPARE(runProgressText(h.observer.progress.at(2)),
                 u"Client 3 of 4 - sent 1, failed 0 - less than a minute left"_s);
        // The e-mail bar shows the pass as a whole: it never goes back and is full only at the end.
        QList<int> bar;
        for (const QString &event : h.observer.events)
            if (event.startsWith(u"email "_s))
                bar.append(event.mid(6).toInt());
        QCOMPARE(bar, (QList<int>{0, 33, 33, 66, 66, 100, 100, 0}));
    }

    void confirmationSaysWhatTheRunWillDo_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("print");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("header");
        const QByteArray three = "1,a@x.org\r\n2,b@x.org\r\n3,\r\n";
        QTest::newRow("a fresh install's inputs")
            << three << 0 << false << u"Subject Line Text"_s << u"\r\n"_s
            << QStringList{u"E-mails to send: 2"_s, u"Subject: Subject Line Text"_s, u"Attachment: none"_s,
                           u"Warning: the subject is still \"Subject Line Text\"."_s,
                           u"Warning: the message body is empty."_s}
            << false;
        QTest::newRow("common attachment")
            << three << 1 << false << u"Accounts"_s << u"Dear client"_s
            << QStringList{u"E-mails to send: 2"_s, u"Subject: Accounts"_s,
                           u"Attachment: letter.pdf (2.0 kB), the same file for every client"_s}
            << false;
        QTest::newRow("own documents, one missing, and printing")
            << three << 2 << true << u"Accounts"_s << u"Dear client"_s
            << QStringList{u"E-mails to send: 2"_s, u"Documents to print: 1"_s, u"Subject: Accounts"_s,
                           u"Attachment: each client's own document; 1 of 2 clients has none and gets no e-mail"_s,
                           u"Warning: 1 client has no document"_s}
            << false;
        QTest::newRow("a line of column names")
            << QByteArray("Client,Email\r\n1,a@x.org\r\n") << 0 << false << u"Accounts"_s << u"Dear client"_s
            << QStringList{u"E-mails to send: 2"_s, u"Subject: Accounts"_s, u"Attachment: none"_s,
                           u"Warning: The first line looks like column names (Client,Email), not a client: it "
                           "would be taken as one."_s,
                           u"Warning: 1 address is not valid"_s}
            << false;
        // Said to hold column names, the first line is no client and no mistake.
        QTest::newRow("a line of column names, said so")
            << QByteArray("Client,Email\r\n1,a@x.org\r\n") << 0 << false << u"Accounts"_s << u"Dear client"_s
            << QStringList{u"E-mails to send: 1"_s, u"Subject: Accounts"_s, u"Attachment: none"_s} << true;
    }
    void confirmationSaysWhatTheRunWillDo()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, mode);
        QFETCH(bool, print);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(QStringList, expected);
        QFETCH(bool, header);
        RunHarness h;
        h.writeCsv(csv);
        h.writeFile(u"letter.pdf"_s, QByteArray(2048, 'x'));
        h.writeFile(u"Invoice_1.pdf"_s);
        h.control.setAttachmentMode(AttachmentMode(mode));
        h.control.setCommonAttachmentPath(h.dir.filePath(u"letter.pdf"_s));
        h.request.print = print;
        h.request.header = header;
        h.request.subject = subject;
        h.request.body = body;
        h.prompter.answer = false;
        QCOMPARE(h.run(), RunOutcome::NotStarted);
        QCOMPARE(h.prompter.questions, QStringList{kQuestion});
        QCOMPARE(h.prompter.details, QStringList{expected.join(u'\n')});
    }

    void tallyAndReasonsOfEveryClient()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n4,d@x.org\r\n5,\r\n6,\r\n");
        for (const char *name : {"1.pdf", "2.pdf", "3.pdf", "5.pdf"})
            h.writeFile(QString::fromLatin1(name));
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        h.request.print = true;
        h.printer.failure = u"no printer"_s;
        h.mailer.statuses = {SendStatus::Sent, SendStatus::Refused, SendStatus::MaybeDelivered};
        BatchRun run(h.deps());
        QVERIFY(run.prepare(h.request));
        QCOMPARE(run.execute(), RunOutcome::CompletedWithErrors);
        const QStringList failures{
            u"Print error - client 5: no printer"_s,
            u"No document - client 6: no file in the client list's folder names the client"_s,
            u"Refused - b@x.org (client 2): 550 refused"_s,
            u"Outcome unknown - c@x.org (client 3): The connection to the SMTP server was lost."_s,
            u"No document - d@x.org (client 4): no file in the client list's folder names the client"_s};
        QCOMPARE(h.observer.failures, failures);
        QCOMPARE(runTallyLine(run.tally()), u"Sent 1, refused 1, outcome unknown 1, no document 2, printed 0, "
                                            "print errors 1, skipped on resume 0"_s);
        QCOMPARE(run.tally().failures.size(), failures.size());
    }

    void schedulingLinesAndResumeTime()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        schedule(h, 0, 5, 1);
        QCOMPARE(h.run(), RunOutcome::Completed);
        // The fake clock reads 13:20:45.1 when the delay starts; five minutes later is 1:25 PM.
        QCOMPARE(h.passes(),
                 QStringList({u"Email scheduling enabled:"_s, u"  Delay between email sends - 0secs"_s,
                              u"  Delay between email groups - 5mins"_s, u"  Email group size - 1"_s,
                              u"Sending email - 1"_s, u"=> a@x.org | "_s, u"~100"_s, u"Starting email group delay..."_s,
                              u"  Will resume at 01:25:45 PM"_s, u"~300100"_s, u"Continuing email sends"_s,
                              u"Sending email - 2"_s, u"=> b@x.org | "_s, u"~100"_s, u"Processing Complete"_s}));
    }

    void largestGroupDelayIsAnnouncedAndWaitedInFull()
    {
        // The largest group delay the settings accept, after every client: its milliseconds, added
        // to the clock's reading, no longer fit in 32 bits, and the pause must still last all of it.
        const StoredSetting *groupDelay = findStoredSetting(u"GroupDelay");
        QVERIFY(groupDelay);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        schedule(h, 0, qint32(groupDelay->maximum), 1);
        QCOMPARE(h.run(), RunOutcome::Completed);
        const qint64 delayMs = groupDelay->maximum * 60000;
        QCOMPARE(delayMs, 2147460000); // 35791 minutes
        // The delay starts at 13:20:45.1 on the fake clock; 24 days, 20 hours and 31 minutes later
        // is 9:51:45 in the morning. The pause ends at the first slice past its end.
        QCOMPARE(h.passes().mid(7),
                 QStringList({u"Starting email group delay..."_s, u"  Will resume at 09:51:45 AM"_s,
                              u"~"_s + QString::number(delayMs + 100), u"Continuing email sends"_s,
                              u"Sending email - 2"_s, u"=> b@x.org | "_s, u"~100"_s, u"Processing Complete"_s}));
    }

    void abortIsSeenAtItsCheckPoints_data()
    {
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("duringSend");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<RunOutcome>("outcome");
        QTest::newRow("print pause") << u"Printing document - 1"_s << false
                                     << QStringList({u"Printing document - 1"_s, u"~100"_s, u"Processing Aborted"_s,
                                                     u"Processing Complete"_s})
                                     << RunOutcome::Aborted;
        // No client is started after an abort: the pause ends, and so does the run.
        QTest::newRow("pause between clients")
            << u"=> a@x.org | "_s << false
            << QStringList({u"Printing document - 1"_s, u"~1100"_s, u"Sending email - 1"_s, u"=> a@x.org | "_s,
                            u"~100"_s, u"Processing Aborted"_s, u"Processing Complete"_s})
            << RunOutcome::Aborted;
        // The message being handed over is let finish (and is sent); no other follows.
        QTest::newRow("during a send") << u"=> a@x.org | "_s << true
                                       << QStringList({u"Printing document - 1"_s, u"~1100"_s, u"Sending email - 1"_s,
                                                       u"=> a@x.org | "_s, kLettingFinish, u"Processing Aborted"_s,
                                                       u"Processing Complete"_s})
                                       << RunOutcome::Aborted;
        // Nothing looks at the request after the last pause: the run simply completes.
        QTest::newRow("pause after last client")
            << u"=> c@x.org | "_s << false
            << QStringList({u"Printing document - 1"_s, u"~1100"_s, u"Sending email - 1"_s, u"=> a@x.org | "_s,
                            u"~1100"_s, u"Sending email - 2"_s, u"=> c@x.org | "_s, u"~100"_s,
                            u"Processing Complete"_s})
            << RunOutcome::Completed;
    }
    void abortIsSeenAtItsCheckPoints()
    {
        QFETCH(QString, after);
        QFETCH(bool, duringSend);
        QFETCH(QStringList, expected);
        QFETCH(RunOutcome, outcome);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,\r\n3,c@x.org\r\n");
        h.writeFile(u"2.pdf"_s);
        h.request.print = true;
        if (duringSend)
            h.onSend = [&h](const MailMessage &) { h.control.abort().request(); };
        else
            h.abortInPauseAfter(after);
        QCOMPARE(h.run(), outcome);
        QCOMPARE(h.passes(), expected);
        QVERIFY(!h.control.abort().isRequested()); // the end of the run clears it
    }

    // An abort during a send lets the message be handed over, for up to 30 seconds on the run's
    // clock, and journals its real outcome; a second abort cuts it off at once.
    void abortLetsTheMessageBeingSentFinish_data()
    {
        QTest::addColumn<qint64>("sendMs");     // how long the server takes
        QTest::addColumn<SendStatus>("answer"); // what it answers once it has the message
        QTest::addColumn<qint64>("secondMs");   // a second abort this far into the send; -1 none
        QTest::addColumn<qint64>("tookMs");     // how long the send went on
        QTest::addColumn<QStringList>("lines"); // the status lines after "=> a@x.org"
        QTest::addColumn<QString>("failure");   // the client's failure; empty: sent
        QTest::addColumn<QString>("event");     // the client's last journal line
        const QString aborted = u"Not sent (aborted) - a@x.org (client 1): The send was aborted."_s;
        const QStringList cut{u"Send Error - a@x.org"_s, u"Processing Aborted"_s, u"Processing Complete"_s};
        QTest::newRow("sent in time") << qint64(5000) << SendStatus::Sent << qint64(-1) << qint64(5000)
                                      << QStringList{kLettingFinish, u"Processing Aborted"_s, u"Processing Complete"_s}
                                      << QString() << u"sent"_s;
        QTest::newRow("refused in time") << qint64(5000) << SendStatus::Refused << qint64(-1) << qint64(5000)
                                         << QStringList{kLettingFinish, u"Send Error - a@x.org"_s,
                                                        u"Processing Aborted"_s, u"Processing Complete"_s}
                                         << u"Refused - a@x.org (client 1): 550 refused"_s << u"refused"_s;
        QTest::newRow("answer just in time")
            << qint64(29990) << SendStatus::Sent << qint64(-1) << qint64(29990)
            << QStringList{kLettingFinish, u"Processing Aborted"_s, u"Processing Complete"_s} << QString() << u"sent"_s;
        QTest::newRow("too slow: cut after 30 s")
            << qint64(60000) << SendStatus::Sent << qint64(-1) << qint64(30000) << QStringList{kLettingFinish} + cut
            << aborted << u"not sent (aborted)"_s;
        QTest::newRow("aborted twice at once")
            << qint64(60000) << SendStatus::Sent << qint64(0) << qint64(0) << cut << aborted << u"not sent (aborted)"_s;
        QTest::newRow("aborted again while let finish")
            << qint64(60000) << SendStatus::Sent << qint64(10000) << qint64(10000) << QStringList{kLettingFinish} + cut
            << aborted << u"not sent (aborted)"_s;
    }
    void abortLetsTheMessageBeingSentFinish()
    {
        QFETCH(qint64, sendMs);
        QFETCH(SendStatus, answer);
        QFETCH(qint64, secondMs);
        QFETCH(qint64, tookMs);
        QFETCH(QStringList, lines);
        QFETCH(QString, failure);
        QFETCH(QString, event);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        h.mailer.statuses = {answer};
        h.mailer.sendTime = std::chrono::milliseconds(sendMs);
        qint64 took = 0;
        // The send's time passes on the run's clock.
        h.mailer.step = [&](std::chrono::milliseconds step) {
            h.clock.set(h.clock.tick() + step);
            took += step.count();
            if (took == secondMs)
                h.control.abort().request();
        };
        h.onSend = [&](const MailMessage &) {
            h.control.abort().request();
            if (secondMs == 0)
                h.control.abort().request();
        };
        QCOMPARE(h.run(), RunOutcome::Aborted);
        QCOMPARE(took, tookMs);
        QCOMPARE(h.passes(), QStringList({u"Sending email - 1"_s, u"=> a@x.org | "_s}) + lines);
        QCOMPARE(h.mailer.attempts().size(), 1);
        QCOMPARE(h.observer.failures, failure.isEmpty() ? QStringList() : QStringList{failure});
        const QStringList journals = QDir(runJournalFolder(h.settings.DataFolder)).entryList({u"run-*.csv"_s});
        QCOMPARE(journals.size(), 1);
        QList<JournalEntry> entries;
        QString error;
        QVERIFY2(
            readJournal(QDir(runJournalFolder(h.settings.DataFolder)).filePath(journals.first()), &entries, &error),
            qPrintable(error));
        QCOMPARE(journalEventName(entries.at(entries.size() - 2).event), event);
        QCOMPARE(entries.last().event, JournalEvent::Aborted);
    }

    void abortAroundAGroupDelay_data()
    {
        QTest::addColumn<bool>("inDelay");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("during the delay")
            << true
            << QStringList({u"Sending email - 1"_s, u"=> a@x.org | "_s, u"~100"_s, u"Starting email group delay..."_s,
                            u"  Will resume at 01:25:45 PM"_s, u"~300"_s, u"Aborting email sends"_s,
                            u"Processing Complete"_s});
        // Aborted in the pause before a due group delay: the delay ends after its first slice.
        QTest::newRow("in the pause before it")
            << false
            << QStringList({u"Sending email - 1"_s, u"=> a@x.org | "_s, u"~100"_s, u"Starting email group delay..."_s,
                            u"  Will resume at 01:25:45 PM"_s, u"~100"_s, u"Aborting email sends"_s,
                            u"Processing Complete"_s});
    }
    void abortAroundAGroupDelay()
    {
        QFETCH(bool, inDelay);
        QFETCH(QStringList, expected);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        schedule(h, 0, 5, 1);
        if (inDelay) {
            h.onSleep = [&h] {
                if (h.trace.last().startsWith(u"  Will resume at "_s) && h.pausedMs == 300)
                    h.control.abort().request();
            };
        } else {
            h.abortInPauseAfter(u"=> a@x.org | "_s);
        }
        QCOMPARE(h.run(), RunOutcome::Aborted);
        QCOMPARE(h.passes().mid(4), expected);
        QCOMPARE(h.mailer.attempts().size(), 1);
    }

    void clientDocumentsMissingDocumentsAndSendErrors()
    {
        RunHarness h;
        // The last client's identifier is the client list's own name: the list is never attached.
        h.writeCsv("42,a@x.org\r\n9,b@x.org\r\nB7,c@x.org\r\nclients,d@x.org\r\n");
        h.writeFile(u"Invoice_42.pdf"_s);
        h.writeFile(u"1009.pdf"_s); // names client 1009, not 9
        h.writeFile(u"AB7.pdf"_s);  // names client AB7, not B7
        h.writeFile(u"b7.PDF"_s);
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        h.mailer.statuses = {SendStatus::Sent, SendStatus::Refused};
        // Whatever changes meanwhile, the run sends the subject and body it started with.
        h.onSend = [&h](const MailMessage &) {
            h.request.subject = u"changed"_s;
            h.settings.SubjectLine = u"changed"_s;
            h.settings.BodyText = u"changed"_s;
        };
        QCOMPARE(h.run(), RunOutcome::CompletedWithErrors);
        QCOMPARE(h.passes(), QStringList({u"Sending email - 1"_s, u"=> a@x.org | Invoice_42.pdf"_s, u"~1100"_s,
                                          u"No attachment found for Client ID - 9"_s, u"~1100"_s,
                                          u"Sending email - 3"_s, u"=> c@x.org | b7.PDF"_s, u"Send Error - c@x.org"_s,
                                          u"~1100"_s, u"No attachment found for Client ID - clients"_s, u"~1100"_s,
                                          u"Processing Complete with 2 errors!"_s}));
        for (const MailMessage &m : h.mailer.attempts()) {
            QCOMPARE(m.SubjectLine, u"Your statement"_s);
            QCOMPARE(m.BodyText, u"Dear client,\r\nplease find it attached.\r\n"_s);
        }
    }

    void attachmentModeIsReadForEveryClient()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n");
        h.writeFile(u"common.pdf"_s);
        h.writeFile(u"other.pdf"_s);
        h.writeFile(u"3.pdf"_s);
        h.control.setAttachmentMode(AttachmentMode::Common);
        h.control.setCommonAttachmentPath(h.dir.filePath(u"common.pdf"_s));
        h.onSend = [&h](const MailMessage &m) {
            if (m.RecipientAddress == u"a@x.org"_s)
                h.control.setCommonAttachmentPath(h.dir.filePath(u"other.pdf"_s));
            else
                h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        };
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(h.passes().filter(u"=> "_s),
                 QStringList({u"=> a@x.org | common.pdf"_s, u"=> b@x.org | other.pdf"_s, u"=> c@x.org | 3.pdf"_s}));
        // Each change is said once, before the first message it applies to.
        QCOMPARE(h.passes().filter(u"Attachment changed"_s),
                 QStringList({u"Attachment changed - from here on: the common file "_s + h.dir.filePath(u"other.pdf"_s),
                              u"Attachment changed - from here on: each client's own document"_s}));
        QCOMPARE(h.passes().indexOf(u"Sending email - 2"_s) - 1,
                 h.passes().indexOf(h.passes().filter(u"Attachment changed"_s).first()));
    }

    void preChecksStopBeforeAnything_data()
    {
        QTest::addColumn<QString>("blank");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("common");
        QTest::addColumn<QString>("warning");
        const QString incomplete = u"Your email server setup is not complete.\nMissing in Setup: "_s;
        QTest::newRow("no server") << u"server"_s << 0 << QString() << incomplete + u"SMTP Server."_s;
        QTest::newRow("no port") << u"port"_s << 0 << QString() << incomplete + u"SSL Port."_s;
        QTest::newRow("no user") << u"user"_s << 0 << QString() << incomplete + u"Username."_s;
        QTest::newRow("no password") << u"password"_s << 0 << QString() << incomplete + u"Password."_s;
        QTest::newRow("server and password")
            << u"server password"_s << 0 << QString() << incomplete + u"SMTP Server, Password."_s;
        QTest::newRow("server before csv") << u"server csv"_s << 0 << QString() << incomplete + u"SMTP Server."_s;
        QTest::newRow("common path empty")
            << u"csv"_s << 1 << QString() << u"You need to set the path for the client Common file."_s;
        QTest::newRow("no csv path") << u"csv"_s << 0 << QString()
                                     << u"You need to set the path for the client CSV file."_s;
        QTest::newRow("common file missing")
            << QString() << 1 << u"missing.pdf"_s << u"The common attachment file cannot be read. File name= "_s;
        QTest::newRow("common path is a folder")
            << QString() << 1 << u"folder"_s << u"The common attachment file cannot be read. File name= "_s;
        // Without a data folder there is nowhere for the lock, the body and the journal: no folder of
        // the user's is guessed at.
        QTest::newRow("no data folder") << u"data"_s << 0 << QString()
                                        << u"No data folder is set for the run journals and the message body; "
                                           "nothing was started."_s;
    }
    void preChecksStopBeforeAnything()
    {
        QFETCH(QString, blank);
        QFETCH(int, mode);
        QFETCH(QString, common);
        QFETCH(QString, warning);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n");
        QVERIFY(QDir(h.dir.path()).mkdir(u"folder"_s));
        if (blank.contains(u"server"_s))
            h.settings.SMTPServer.clear();
        if (blank.contains(u"port"_s))
            h.settings.SSLport.clear();
        if (blank.contains(u"user"_s))
            h.settings.UserName.clear();
        if (blank.contains(u"password"_s))
            h.settings.Password.clear();
        if (blank.contains(u"csv"_s))
            h.request.csvPath.clear();
        if (blank.contains(u"data"_s))
            h.settings.DataFolder.clear();
        h.control.setAttachmentMode(AttachmentMode(mode));
        const QString commonPath = common.isEmpty() ? QString() : h.dir.filePath(common);
        h.control.setCommonAttachmentPath(commonPath);
        if (warning.endsWith(u"= "_s))
            warning += commonPath;

        QCOMPARE(h.run(), RunOutcome::NotStarted);
        QCOMPARE(h.prompter.warnings, QStringList{warning});
        QVERIFY(h.trace.isEmpty());
        QCOMPARE(h.log.clears, 0); // the status box keeps its old text
        QVERIFY(h.prompter.questions.isEmpty());
        QVERIFY(h.store.writes.isEmpty());
        QVERIFY(h.mailer.attempts().isEmpty());
    }

    void formattedPictureThatCannotGoStopsBeforeTheQuestion_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<QString>("warning");
        QTest::newRow("the body's picture is missing")
            << u"<p>Hi <img src=\"logo.png\"></p>"_s << QByteArray() << u"\"logo.png\" of the formatted body does not exist"_s;
        QTest::newRow("the signature's picture is missing")
            << u"<p>Hi</p>"_s << QByteArray("<img src=\"pictures/logo.png\">")
            << u"The signature: The picture \"pictures/logo.png\""_s;
        QTest::newRow("a text file as the picture")
            << u"<p>Hi <img src=\"clients.csv\"></p>"_s << QByteArray() << u"is no picture"_s;
    }
    void formattedPictureThatCannotGoStopsBeforeTheQuestion()
    {
        QFETCH(QString, body);
        QFETCH(QByteArray, signature);
        QFETCH(QString, warning);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        QVERIFY(QDir().mkpath(h.settings.DataFolder));
        if (!signature.isEmpty())
            h.writeFile(u"data/Signature.html"_s, signature);
        h.request.html = body;
        h.request.htmlFolder = h.dir.path();
        QCOMPARE(h.run(), RunOutcome::NotStarted);
        QCOMPARE(h.prompter.warnings.size(), 1);
        QVERIFY2(h.prompter.warnings.first().contains(warning), qPrintable(h.prompter.warnings.first()));
        QVERIFY(h.prompter.questions.isEmpty());
        QVERIFY(h.store.writes.isEmpty());
        QVERIFY(h.mailer.attempts().isEmpty());
    }

    void unreadableCsvEndsTheRunBeforeTheCounts_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("mistake"); // the last line of the warning
        const QString format = u"The client CSV file must hold one client per line: the client id, a comma, then "
                               "the e-mail address (left empty for a client without one). A first line of column "
                               "names is read as a client unless \"First line holds column names\" is ticked "
                               "(--header on the command line)."_s;
        QTest::newRow("missing file") << QByteArray() << format;
        QTest::newRow("line without a second field") << QByteArray("1,a@x.org\r\n2\r\n3,c@x.org\r\n") << format;
        QTest::newRow("semicolons") << QByteArray("1;a@x.org\r\n2;b@x.org\r\n")
                                    << u"The lines look separated by semicolons (;): choose the separator \";\" "
                                       "(--delimiter \";\" on the command line, or quorvale config set CSVDelimiter "
                                       "\";\")."_s;
        QTest::newRow("a heading") << QByteArray("Clients\n1,a@x.org\n")
                                   << u"The first line looks like column names (Clients), not a client: it would "
                                      "be taken as one."_s;
    }
    void unreadableCsvEndsTheRunBeforeTheCounts()
    {
        QFETCH(QByteArray, csv);
        QFETCH(QString, mistake);
        RunHarness h;
        if (!csv.isEmpty())
            h.writeCsv(csv);
        QCOMPARE(h.run(), RunOutcome::NotStarted);
        QCOMPARE(h.trace.first(), u"Parsing CSV file..."_s);
        QVERIFY(!h.trace.contains(u"Parsing CSV file complete"_s));
        QVERIFY(h.trace.filter(u"Client count"_s).isEmpty());
        QCOMPARE(h.prompter.warnings.size(), 1);
        // The reader's own message, what the file must look like, and the mistake it looks like.
        QVERIFY2(h.prompter.warnings.first().startsWith(u"There was a problem reading the CSV file"_s),
                 qPrintable(h.prompter.warnings.first()));
        QVERIFY2(h.prompter.warnings.first().endsWith(u'\n' + mistake), qPrintable(h.prompter.warnings.first()));
        QVERIFY(h.prompter.questions.isEmpty());
        QVERIFY(h.store.writes.isEmpty());
        QVERIFY(!QFile::exists(bodyFilePath(h.settings.DataFolder)));
        QVERIFY(h.mailer.attempts().isEmpty());
    }

    void answeringNoClearsTheLogAndSavesNothing()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n");
        h.prompter.answer = false;
        QCOMPARE(h.run(), RunOutcome::NotStarted);
        QCOMPARE(h.prompter.questions, QStringList{kQuestion});
        QCOMPARE(h.log.lines, QStringList{u"Nothing was started."_s});
        QCOMPARE(h.log.clears, 2);
        QVERIFY(h.store.writes.isEmpty());
        QVERIFY(!QFile::exists(bodyFilePath(h.settings.DataFolder)));
        QVERIFY(h.mailer.attempts().isEmpty());
        QVERIFY(!h.observer.events.contains(u"running"_s));
    }

    void failuresEndTheRunSayingWhy_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<bool>("started");
        QTest::newRow("settings not writable") << u"store"_s << QStringList() << false;
        QTest::newRow("body file not writable")
            << u"body"_s
            << QStringList({u"CSVpath"_s, u"CSVHeader"_s, u"SubjectLine"_s, u"AttachMode"_s, u"PrintDocuments"_s})
            << false;
        QTest::newRow("send cannot be attempted")
            << u"send"_s
            << QStringList({u"CSVpath"_s, u"CSVHeader"_s, u"SubjectLine"_s, u"AttachMode"_s, u"PrintDocuments"_s})
            << true;
        QTest::newRow("common file edited during the run")
            << u"common"_s
            << QStringList({u"CSVpath"_s, u"CSVHeader"_s, u"SubjectLine"_s, u"AttachmentPath"_s, u"AttachMode"_s,
                            u"PrintDocuments"_s})
            << true;
    }
    void failuresEndTheRunSayingWhy()
    {
        QFETCH(QString, failure);
        QFETCH(QStringList, saved);
        QFETCH(bool, started);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        if (failure == u"store"_s)
            h.store.failWrites = true;
        if (failure == u"body"_s) {
            h.writeFile(u"blocker"_s);
            h.settings.DataFolder = h.dir.filePath(u"blocker"_s); // a file, so no folder can be made there
        }
        if (failure == u"send"_s)
            h.settings.SSLport = u"x"_s; // read for the send: no message can go to such a server
        if (failure == u"common"_s) {
            h.writeFile(u"letter.pdf"_s, "letter");
            h.control.setAttachmentMode(AttachmentMode::Common);
            h.control.setCommonAttachmentPath(h.dir.filePath(u"letter.pdf"_s));
            h.onSend = [&h](const MailMessage &) { h.writeFile(u"letter.pdf"_s, "the letter, edited"); };
        }
        QCOMPARE(h.run(), RunOutcome::Stopped);
        QCOMPARE(h.store.writes, saved);
        QCOMPARE(h.trace.contains(u"Start processing..."_s), started);
        QVERIFY2(h.trace.last().startsWith(u"Processing stopped - "_s), qPrintable(h.trace.last()));
        QVERIFY(h.trace.last().size() > 21);
        QVERIFY(h.trace.filter(u"Processing Complete"_s).isEmpty());
        QCOMPARE(h.mailer.attempts().size(), started ? 1 : 0);
        QCOMPARE(h.observer.events.mid(h.observer.events.size() - 3, 1), QStringList{u"idle"_s});
        if (failure == u"send"_s)
            QCOMPARE(h.trace.last(), u"Processing stopped - The SMTP port \"x\" is not a number from 1 to 65535."_s);
        if (failure == u"common"_s)
            QVERIFY(
                h.trace.last().startsWith(u"Processing stopped - the common attachment was changed during the run"_s));
    }

    void everyClientsMessageCarriesTheArchiveCopy()
    {
        RunHarness h;
        h.settings.ArchiveCopyTo = u"archive@practice.example"_s;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(h.mailer.attempts().size(), 2);
        for (const MailMessage &m : h.mailer.attempts())
            QCOMPARE(m.ArchiveCopyTo, u"archive@practice.example"_s);
    }

    void startAfterAFinishedMailingSaysSoAndDefaultsToNo_data()
    {
        QTest::addColumn<int>("resume");
        QTest::addColumn<bool>("sendAgain");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("sentAgain");
        QTest::newRow("asked, answered No") << int(ResumeChoice::Ask) << false << false << 0;
        QTest::newRow("asked, answered Yes") << int(ResumeChoice::Ask) << false << true << 2;
        // --yes with or without --resume or --no-resume: the default No is the answer.
        QTest::newRow("--resume --yes") << int(ResumeChoice::Resume) << false << true << 0;
        QTest::newRow("--no-resume --yes") << int(ResumeChoice::StartAfresh) << false << true << 0;
        QTest::newRow("--send-again --yes") << int(ResumeChoice::Refuse) << true << true << 2;
    }
    void startAfterAFinishedMailingSaysSoAndDefaultsToNo()
    {
        QFETCH(int, resume);
        QFETCH(bool, sendAgain);
        QFETCH(bool, answer);
        QFETCH(int, sentAgain);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(h.prompter.defaultNo, QList<bool>{false});

        RunHarness again;
        again.settings.DataFolder = h.settings.DataFolder;
        again.request = h.request;
        again.request.resume = ResumeChoice(resume);
        again.request.sendAgain = sendAgain;
        // A front end that answers in advance (--yes) never answers a question that defaults to No.
        again.prompter.answer = answer;
        again.prompter.answerDefaultNo = resume == int(ResumeChoice::Ask) ? answer : false;
        again.run();
        QVERIFY2(again.prompter.questions.value(0).startsWith(u"This mailing was already sent to all 2 clients on "_s),
                 qPrintable(again.prompter.questions.value(0)));
        QCOMPARE(again.prompter.defaultNo, QList<bool>{!sendAgain});
        QCOMPARE(again.mailer.attempts().size(), sentAgain);
    }

    void refusedLoginStopsTheRunAndLeavesTheRestForTheNextStart()
    {
        // The second client meets a refused login: one login attempt, no other client tried, and
        // the next Start (a resume) sends to every client not sent, that one included.
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n4,d@x.org\r\n");
        h.mailer.statuses = {SendStatus::Sent, SendStatus::ServerUnusable};
        QCOMPARE(h.run(), RunOutcome::Stopped);
        QCOMPARE(h.mailer.attempts().size(), 2);
        const QStringList tail = h.trace.mid(h.trace.size() - 2);
        QCOMPARE(tail.first(), u"Send Error - b@x.org"_s);
        QVERIFY2(tail.last().startsWith(u"Processing stopped - the mail server refused the user name or password"_s) &&
                     tail.last().endsWith(u"Check Setup, then press Start to send to the clients not reached."_s),
                 qPrintable(tail.last()));
        QVERIFY(h.trace.filter(u"Processing Complete"_s).isEmpty());

        RunHarness next;
        next.settings.DataFolder = h.settings.DataFolder;
        next.request = h.request;
        next.request.resume = ResumeChoice::Resume;
        QCOMPARE(next.run(), RunOutcome::Completed);
        QStringList sentTo;
        for (const MailMessage &m : next.mailer.attempts())
            sentTo.append(m.RecipientAddress);
        QCOMPARE(sentTo, (QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
    }

    void refusalsAreTriedAgainOrStopTheRun_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies"); ///< the server's answers to the first sends
        QTest::addColumn<SmtpStage>("stage");
        QTest::addColumn<QString>("abortAfter"); ///< abort in the pause after this trace line
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<RunOutcome>("outcome");

        const QByteArray busy = "451 4.3.0 Temporary server error. Please try again later";
        const QString busyIn = u"Server busy - trying again in %1 secs: "_s + QString::fromLatin1(busy);
        const QString a = u"=> a@x.org | "_s, b = u"=> b@x.org | "_s;
        const QStringList second{u"Sending email - 2"_s, b, u"~1100"_s};
        QTest::newRow("put off twice, then taken") << QList<QByteArray>{busy, busy} << SmtpStage::RcptTo << QString()
                                                   << QStringList{u"Sending email - 1"_s,
                                                                  a,
                                                                  busyIn.arg(10),
                                                                  u"~10100"_s,
                                                                  a,
                                                                  busyIn.arg(60),
                                                                  u"~60100"_s,
                                                                  a,
                                                                  u"~1100"_s} +
                                                          second + QStringList{u"Processing Complete"_s}
                                                   << RunOutcome::Completed;
        QTest::newRow("put off every time: refused with the last reply, the run goes on")
            << QList<QByteArray>{busy, busy, busy, busy} << SmtpStage::Data << QString()
            << QStringList{u"Sending email - 1"_s,
                           a,
                           busyIn.arg(10),
                           u"~10100"_s,
                           a,
                           busyIn.arg(60),
                           u"~60100"_s,
                           a,
                           busyIn.arg(300),
                           u"~300100"_s,
                           a,
                           u"Send Error - a@x.org"_s,
                           u"~1100"_s} +
                   second + QStringList{u"Processing Complete"_s}
            << RunOutcome::CompletedWithErrors;
        const QByteArray login = "454 4.7.0 Temporary authentication failure";
        const QString loginIn = u"Server busy - trying again in %1 secs: "_s + QString::fromLatin1(login);
        QTest::newRow("login put off every time: the run stops")
            << QList<QByteArray>{login, login, login, login} << SmtpStage::Login << QString()
            << QStringList{u"Sending email - 1"_s,
                           a,
                           loginIn.arg(10),
                           u"~10100"_s,
                           a,
                           loginIn.arg(60),
                           u"~60100"_s,
                           a,
                           loginIn.arg(300),
                           u"~300100"_s,
                           a,
                           u"Send Error - a@x.org"_s,
                           u"Processing stopped - the server refused the login for now: "_s +
                               QString::fromLatin1(login) +
                               u" (tried again after 10 secs, 60 secs and 300 secs); later, press Start to send to "
                               "the clients not reached."_s}
            << RunOutcome::Stopped;
        QTest::newRow("aborted while waiting")
            << QList<QByteArray>{busy} << SmtpStage::RcptTo << busyIn.arg(10) << QStringList{u"Sending email - 1"_s,
                                                                                             a,
                                                                                             busyIn.arg(10),
                                                                                             u"~100"_s,
                                                                                             u"Send Error - a@x.org"_s,
                                                                                             u"Processing Aborted"_s,
                                                                                             u"Processing Complete"_s}
            << RunOutcome::Aborted;
        QTest::newRow("recipient refused: the run goes on")
            << QList<QByteArray>{"550 5.1.1 User unknown"} << SmtpStage::RcptTo << QString()
            << QStringList{u"Sending email - 1"_s, a, u"Send Error - a@x.org"_s, u"~1100"_s} + second +
                   QStringList{u"Processing Complete"_s}
            << RunOutcome::CompletedWithErrors;
        const QByteArray quota = "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException";
        QTest::newRow("mailbox over its quota: the run stops before the next client")
            << QList<QByteArray>{quota} << SmtpStage::Data << QString()
            << QStringList{u"Sending email - 1"_s, a, u"Send Error - a@x.org"_s,
                           u"Processing stopped - the mail provider's sending limit was reached: "_s +
                               QString::fromLatin1(quota) +
                               u"; the clients not reached can be sent later (usually within 24 hours), and Start "
                               "then sends them."_s}
            << RunOutcome::Stopped;
        const QByteArray named = "550 5.4.5 Daily user sending limit exceeded; retry after 2030-03-01T10:00:00Z";
        QTest::newRow("daily limit that names its end")
            << QList<QByteArray>{named} << SmtpStage::MailFrom << QString()
            << QStringList{u"Sending email - 1"_s, a, u"Send Error - a@x.org"_s,
                           u"Processing stopped - the mail provider's sending limit was reached: "_s +
                               QString::fromLatin1(named) + u"; the clients not reached can be sent after "_s +
                               QLocale::c().toString(
                                   QDateTime(QDate(2030, 3, 1), QTime(10, 0), QTimeZone::utc()).toLocalTime(),
                                   u"yyyy-MM-dd HH:mm"_s) +
                               u", and Start then sends them."_s}
            << RunOutcome::Stopped;
        QTest::newRow("sender refused: the run stops")
            << QList<QByteArray>{"550 5.7.60 SMTP; Client does not have permissions to send as this sender"}
            << SmtpStage::MailFrom << QString()
            << QStringList{u"Sending email - 1"_s, a, u"Send Error - a@x.org"_s,
                           u"Processing stopped - the server refused the sender: 550 5.7.60 SMTP; Client does not "
                           "have permissions to send as this sender. The mailbox you log in with may not send as the "
                           "sender address: make the Email From address in Setup the mailbox's own address, or have an "
                           "administrator give the mailbox the Send As permission. Then press Start to send to the "
                           "clients not reached."_s}
            << RunOutcome::Stopped;
    }
    void refusalsAreTriedAgainOrStopTheRun()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(SmtpStage, stage);
        QFETCH(QString, abortAfter);
        QFETCH(QStringList, expected);
        QFETCH(RunOutcome, outcome);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        h.mailer.replies = replies;
        h.mailer.replyStage = stage;
        if (!abortAfter.isEmpty())
            h.abortInPauseAfter(abortAfter);
        QCOMPARE(h.run(), outcome);
        const QStringList passes = h.passes();
        QCOMPARE(passes, expected);
        const QString a = u"=> a@x.org | "_s;
        // A refused client's reason is the server's last reply; a wait counts in the time left.
        if (outcome != RunOutcome::Completed && outcome != RunOutcome::Aborted)
            QVERIFY2(h.observer.failures.value(0).contains(QString::fromLatin1(replies.last().left(9))),
                     qPrintable(h.observer.failures.value(0)));
        // Every try is journalled, and every try put off is journalled as refused before the wait.
        QStringList events;
        const QDir runs(runJournalFolder(h.settings.DataFolder));
        QList<JournalEntry> entries;
        QString error;
        QVERIFY2(readJournal(runs.filePath(runs.entryList({u"run-*.csv"_s}).value(0)), &entries, &error),
                 qPrintable(error));
        for (const JournalEntry &entry : entries) {
            if (entry.address == u"a@x.org"_s && entry.event != JournalEvent::Client)
                events.append(journalEventName(entry.event));
        }
        const qsizetype tries = passes.count(a);
        QCOMPARE(events.count(journalEventName(JournalEvent::Attempting)), tries);
        for (qsizetype i = 0; i + 1 < tries; ++i)
            QCOMPARE(events.mid(2 * i, 2), (QStringList{journalEventName(JournalEvent::Attempting),
                                                        journalEventName(JournalEvent::Refused)}));
        const bool waited = passes.filter(u"Server busy"_s).size() > 0;
        const bool counted = std::any_of(h.observer.progress.cbegin(), h.observer.progress.cend(),
                                         [](const RunProgress &p) { return p.timeLeft >= std::chrono::seconds(10); });
        QCOMPARE(counted, waited);
    }

    void providerRefusalsCostNoClientAndSendEachOnce_data()
    {
        QTest::addColumn<ProviderSimOptions>("options");
        QTest::addColumn<QString>("stop"); ///< how the first run stops; empty: it completes
        using O = ProviderSimOptions;
        QTest::newRow("recipient put off twice")
            << O{.profile = u"exchange"_s, .temporaryStage = u"rcpt"_s, .temporaryTries = 2} << QString();
        QTest::newRow("greeting put off twice")
            << O{.profile = u"gmail"_s, .temporaryStage = u"greeting"_s, .temporaryTries = 2} << QString();
        QTest::newRow("gmail's daily limit")
            << O{.profile = u"gmail"_s, .perDay = 2}
            << u"Processing stopped - the mail provider's sending limit was reached: 550 5.4.5 Daily user sending "
               "limit exceeded"_s;
        QTest::newRow("exchange's daily quota")
            << O{.profile = u"exchange"_s, .perDay = 2}
            << u"Processing stopped - the mail provider's sending limit was reached: 554 5.2.0 "
               "STOREDRV.Submission.Exception:SubmissionQuotaExceededException"_s;
    }
    void providerRefusalsCostNoClientAndSendEachOnce()
    {
        QFETCH(ProviderSimOptions, options);
        QFETCH(QString, stop);
        ProviderSim sim(options);
        QVERIFY(sim.isRunning());
        const QStringList clients{u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s};
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n4,d@x.org\r\n");
        SmtpMailer smtp(h.settings.DataFolder);
        useProvider(h, sim, smtp);
        const auto accepted = [&sim] {
            QStringList to;
            for (const auto &event : sim.accepted())
                to += event.rcpt;
            return to;
        };
        if (stop.isEmpty()) {
            // The waits go by on the run's clock; the server counts only the tries.
            QCOMPARE(h.run(), RunOutcome::Completed);
            QCOMPARE(accepted(), clients);
            // Each refusal a send met was waited out once; the size probe before the first send
            // meets the first refusal of the greeting.
            const int probed = options.temporaryStage == u"greeting"_s ? 1 : 0;
            QCOMPARE(sim.refused().size(), options.temporaryTries);
            QCOMPARE(h.trace.filter(u"Server busy - trying again in "_s).size(), options.temporaryTries - probed);
            return;
        }
        // The quota stops the run at once: the server hears from no client after the refused one.
        QCOMPARE(h.run(), RunOutcome::Stopped);
        QCOMPARE(accepted(), clients.mid(0, 2));
        QCOMPARE(sim.refused().size(), 1);
        QVERIFY2(h.trace.last().startsWith(stop), qPrintable(h.trace.last()));
        QVERIFY2(h.trace.last().endsWith(u"; the clients not reached can be sent later (usually within 24 hours), "
                                         "and Start then sends them."_s),
                 qPrintable(h.trace.last()));
        // After the provider's day, Start resumes the rest, each once.
        sim.advanceClock(24 * 3600 + 60);
        h.request.resume = ResumeChoice::Resume;
        QCOMPARE(h.run(), RunOutcome::Completed);
        QCOMPARE(accepted(), clients);
    }

    void sendingLimitsPaceAndStopTheRun_data()
    {
        QTest::addColumn<int>("perDay");
        QTest::addColumn<int>("perMinute");
        QTest::addColumn<QString>("emails"); ///< the question's first line
        QTest::addColumn<QString>("paced");
        QTest::addColumn<QString>("stop"); ///< the last line, when the run stops
        QTest::addColumn<QString>("method"); ///< SendMethod
        // The fake clock starts at 2026-01-02 13:20:45 local time.
        QTest::newRow("no limits") << 0 << 0 << u"E-mails to send: 3"_s << u"S1 ~1100 S2 ~1100 S3 ~1100"_s << QString()
                                   << u"smtp"_s;
        QTest::newRow("the day takes them all")
            << 3 << 0 << u"E-mails to send: 3"_s << u"S1 ~1100 S2 ~1100 S3 ~1100"_s << QString() << u"smtp"_s;
        QTest::newRow("two a day")
            << 2 << 0 << u"E-mails to send: 3 - 2 within the daily limit now, the rest from 2026-01-03 13:20"_s
            << u"S1 ~1100 S2 ~1100"_s
            << u"Processing stopped - the daily sending limit of 2 is reached; the rest can be sent after "
               "2026-01-03 13:20, and Start then sends them."_s
            << u"smtp"_s;
        // The third waits until the first send leaves the minute, on top of the pause after the second.
        QTest::newRow("two a minute") << 0 << 2 << u"E-mails to send: 3"_s << u"S1 ~1100 S2 ~59000 S3 ~1100"_s
                                      << QString() << u"smtp"_s;
        // The computer's mail queue keeps to the provider's limits itself: it takes every message now.
        QTest::newRow("the queue takes all, whatever the limits")
            << 2 << 1 << u"E-mails to queue on this computer: 3"_s << u"S1 ~1100 S2 ~1100 S3 ~1100"_s << QString()
            << u"queue"_s;
    }
    void sendingLimitsPaceAndStopTheRun()
    {
        QFETCH(int, perDay);
        QFETCH(int, perMinute);
        QFETCH(QString, emails);
        QFETCH(QString, paced);
        QFETCH(QString, stop);
        QFETCH(QString, method);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n");
        h.settings.SendMethod = method;
        h.settings.DailyLimit = perDay;
        h.settings.MinuteLimit = perMinute;
        QCOMPARE(h.run(), stop.isEmpty() ? RunOutcome::Completed : RunOutcome::Stopped);
        QCOMPARE(h.prompter.details.value(0).section(u'\n', 0, 0), emails);
        QCOMPARE(pacing(h.passes()), paced);
        if (!stop.isEmpty())
            QCOMPARE(h.trace.last(), stop);
    }

    void dailyLimitCountsEveryRunsSends()
    {
        // Two runs of other mailings sent 2 messages in the last 24 hours: a limit of 3 leaves one.
        RunHarness first;
        first.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        QCOMPARE(first.run(), RunOutcome::Completed);

        RunHarness h;
        h.settings.DataFolder = first.settings.DataFolder;
        h.settings.DailyLimit = 3;
        h.request.subject = u"Another mailing"_s;
        h.writeCsv("3,c@x.org\r\n4,d@x.org\r\n");
        QCOMPARE(h.run(), RunOutcome::Stopped);
        QCOMPARE(h.prompter.details.value(0).section(u'\n', 0, 0),
                 u"E-mails to send: 2 - 1 within the daily limit now, the rest from 2026-01-03 13:20"_s);
        QCOMPARE(h.mailer.recipients(), QStringList{u"c@x.org"_s});

        // A day later, Start resumes the one not reached.
        RunHarness next;
        next.settings = h.settings;
        next.request = h.request;
        next.request.resume = ResumeChoice::Resume;
        next.clock.set(next.clock.tick() + std::chrono::hours(24) + std::chrono::minutes(1));
        QCOMPARE(next.run(), RunOutcome::Completed);
        QCOMPARE(next.mailer.recipients(), QStringList{u"d@x.org"_s});
    }

    void dailyLimitCountsEveryMessageThatMayHaveGone_data()
    {
        // What an earlier run of another mailing did with its two messages; a limit of 3 a day.
        QTest::addColumn<QString>("earlier");
        QTest::addColumn<QStringList>("sentNow");
        const QStringList one{u"c@x.org"_s};
        QTest::newRow("both sent") << u"sent sent"_s << one;
        QTest::newRow("one may have arrived") << u"sent unknown"_s << one;
        QTest::newRow("one refused") << u"sent refused"_s << QStringList{u"c@x.org"_s, u"d@x.org"_s};
    }

    void dailyLimitCountsEveryMessageThatMayHaveGone()
    {
        QFETCH(QString, earlier);
        QFETCH(QStringList, sentNow);
        RunHarness first;
        first.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        for (const QString &word : earlier.split(u' '))
            first.mailer.statuses.append(word == u"sent"_s      ? SendStatus::Sent
                                         : word == u"unknown"_s ? SendStatus::MaybeDelivered
                                                                : SendStatus::Refused);
        first.run();

        RunHarness h;
        h.settings.DataFolder = first.settings.DataFolder;
        h.settings.DailyLimit = 3;
        h.request.subject = u"Another mailing"_s;
        h.writeCsv("3,c@x.org\r\n4,d@x.org\r\n");
        h.run();
        QCOMPARE(h.mailer.recipients(), sentNow);
    }

    void limitsKeepTheRunWithinTheProvidersOwn_data()
    {
        QTest::addColumn<ProviderSimOptions>("options");
        QTest::addColumn<int>("perDay");
        QTest::addColumn<int>("perMinute");
        QTest::addColumn<int>("accepted");
        QTest::newRow("exchange, 2 a minute")
            << ProviderSimOptions{.profile = u"exchange"_s, .perMinute = 2} << 0 << 2 << 4;
        QTest::newRow("gmail, 2 a day") << ProviderSimOptions{.profile = u"gmail"_s, .perDay = 2} << 2 << 0 << 2;
    }
    void limitsKeepTheRunWithinTheProvidersOwn()
    {
        QFETCH(ProviderSimOptions, options);
        QFETCH(int, perDay);
        QFETCH(int, perMinute);
        QFETCH(int, accepted);
        ProviderSim sim(options);
        QVERIFY(sim.isRunning());
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n4,d@x.org\r\n");
        SmtpMailer smtp(h.settings.DataFolder);
        useProvider(h, sim, smtp);
        h.settings.DailyLimit = perDay;
        h.settings.MinuteLimit = perMinute;
        // The provider's clock goes with the run's.
        const auto slept = h.clock.onSleep;
        h.clock.onSleep = [&](std::chrono::milliseconds now) {
            slept(now);
            sim.advanceClock(kPauseSliceMs / 1000.0);
        };
        h.run();
        // Never a refusal: the run kept below the limits, and went on at them.
        QCOMPARE(sim.refused().size(), 0);
        QCOMPARE(sim.accepted().size(), accepted);
        QCOMPARE(h.trace.filter(u"Server busy"_s).size(), 0);
    }

    void messageLargerThanTheServerTakesIsNeverUploaded()
    {
        ProviderSim sim({.profile = u"exchange"_s, .size = 1000000});
        QVERIFY(sim.isRunning());
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        h.writeFile(u"1.pdf"_s, QByteArray(1000000, 'x')); // 1.35 MB in base64
        h.writeFile(u"2.pdf"_s, QByteArray(1000, 'x'));
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        SmtpMailer smtp(h.settings.DataFolder);
        useProvider(h, sim, smtp);
        QCOMPARE(h.run(), RunOutcome::CompletedWithErrors);
        // The server was asked, without a status line, and heard nothing of the large message.
        QCOMPARE(h.passes().mid(0, 2), (QStringList{u"Sending email - 1"_s, u"Send Error - a@x.org"_s}));
        QCOMPARE(h.observer.failures,
                 QStringList{u"Not sent - a@x.org (client 1): the message is 1.4 MB; the server takes at most 1 MB"_s});
        QCOMPARE(sim.refused().size(), 0);
        QCOMPARE(sim.accepted().size(), 1);
        QCOMPARE(sim.accepted().first().rcpt, QStringList{u"b@x.org"_s});
    }

    void questionWarnsOfMessagesLargerThanTheServerTakes_data()
    {
        QTest::addColumn<qint64>("advertised"); // the server's SIZE; 0: none
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("warning"); // empty: no warning about sizes
        const QString one = u"Warning: 1 message is larger than the server takes (at most 1 MB)"_s;
        QTest::newRow("one client's document too large")
            << qint64(1000000) << int(AttachmentMode::ClientSpecific) << one;
        QTest::newRow("the common file makes every message too large")
            << qint64(1000000) << int(AttachmentMode::Common)
            << u"Warning: 2 messages are larger than the server takes (at most 1 MB)"_s;
        QTest::newRow("every message fits") << qint64(2000000) << int(AttachmentMode::ClientSpecific) << QString();
        QTest::newRow("no SIZE advertised") << qint64(0) << int(AttachmentMode::Common) << QString();
    }

    void questionWarnsOfMessagesLargerThanTheServerTakes()
    {
        QFETCH(qint64, advertised);
        QFETCH(int, mode);
        QFETCH(QString, warning);
        ProviderSim sim({.profile = u"exchange"_s, .size = advertised});
        QVERIFY(sim.isRunning());
        RunHarness h;
        // Client 3 has no address: its printout is no message the server sees.
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n3,\r\n");
        h.writeFile(u"1.pdf"_s, QByteArray(1000000, 'x')); // 1.35 MB in base64
        h.writeFile(u"2.pdf"_s, QByteArray(1000, 'x'));
        h.writeFile(u"3.pdf"_s, QByteArray(1000000, 'x'));
        h.control.setAttachmentMode(AttachmentMode(mode));
        h.control.setCommonAttachmentPath(h.dir.filePath(u"1.pdf"_s));
        SmtpMailer smtp(h.settings.DataFolder);
        useProvider(h, sim, smtp);
        h.request.serverSizeLimit = serverSizeLimit(smtp, h.settings);
        h.prompter.answer = false;
        QCOMPARE(h.run(), RunOutcome::NotStarted);
        QCOMPARE(h.prompter.details.size(), 1);
        const QStringList details = h.prompter.details.first().split(u'\n');
        const QStringList sizeLines = details.filter(u"larger than the server takes"_s);
        QCOMPARE(sizeLines, warning.isEmpty() ? QStringList() : QStringList{warning});
        // Asking said nothing in the status box and handed the server no message.
        QVERIFY(!h.trace.join(u'\n').contains(u"SIZE"_s, Qt::CaseInsensitive));
        QVERIFY(sim.accepted().isEmpty());
        QVERIFY(sim.refused().isEmpty());
    }

    void folderThatCannotBeListedStopsTheRun()
    {
        RunHarness h;
        QVERIFY(QDir(h.dir.path()).mkdir(u"clients"_s));
        h.request.csvPath = h.dir.filePath(u"clients/list.csv"_s);
        h.writeFile(u"clients/list.csv"_s, "1,a@x.org\r\n");
        h.control.setAttachmentMode(AttachmentMode::ClientSpecific);
        BatchRun batch(h.deps());
        QVERIFY(batch.prepare(h.request));
        QVERIFY(QDir(h.dir.filePath(u"clients"_s)).removeRecursively());
        QCOMPARE(batch.execute(), RunOutcome::Stopped);
        QVERIFY2(h.trace.last().startsWith(u"Processing stopped - "_s), qPrintable(h.trace.last()));
        QVERIFY(h.mailer.attempts().isEmpty());
    }

    void printErrorIsLoggedAndTheRunGoesOn()
    {
        RunHarness h;
        h.writeCsv("C1,\r\nC2,\r\n3,c@x.org\r\n");
        h.writeFile(u"C1.pdf"_s);
        h.writeFile(u"C2.pdf"_s);
        h.request.print = true;
        h.printer.failure = u"no printer"_s;
        QCOMPARE(h.run(), RunOutcome::CompletedWithErrors);
        QCOMPARE(h.passes(),
                 QStringList({u"Printing document - 1"_s, u"Print Error - C1"_s, u"~1100"_s, u"Printing document - 2"_s,
                              u"Print Error - C2"_s, u"~1100"_s, u"Sending email - 1"_s, u"=> c@x.org | "_s, u"~1100"_s,
                              u"Processing Complete"_s}));
    }

    void printsOnlyTheDocumentTheCheckFound_data()
    {
        // What happens to client 2's document between the question and its print.
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("printed");
        QTest::newRow("left alone") << u"none"_s << true;
        QTest::newRow("replaced by another file") << u"replaced"_s << false;
        QTest::newRow("replaced by a link to another file") << u"link"_s << false;
        QTest::newRow("renamed away, another moved in") << u"moved"_s << false;
    }

    void printsOnlyTheDocumentTheCheckFound()
    {
        QFETCH(QString, change);
        QFETCH(bool, printed);
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,\r\n");
        h.writeFile(u"2.pdf"_s, "the client's own document");
        h.writeFile(u"other.txt"_s, "someone else's letter");
        h.request.print = true;
        const QString document = h.dir.filePath(u"2.pdf"_s);
        BatchRun batch(h.deps());
        QVERIFY(batch.prepare(h.request));
        if (change == u"replaced") {
            QVERIFY(QFile::remove(document));
            h.writeFile(u"2.pdf"_s, "a document put there since");
        } else if (change == u"link") {
            QVERIFY(QFile::remove(document));
            QVERIFY(QFile::link(h.dir.filePath(u"other.txt"_s), document));
        } else if (change == u"moved") {
            QVERIFY(QFile::rename(document, h.dir.filePath(u"old.pdf"_s)));
            QVERIFY(QFile::rename(h.dir.filePath(u"other.txt"_s), document));
        }
        batch.execute();
        h.flushPause();
        QCOMPARE(h.printer.printed(), printed ? QStringList{document} : QStringList());
        QCOMPARE(h.passes().contains(u"Print Error - 2"_s), !printed);
        QCOMPARE(batch.outcome(), printed ? RunOutcome::Completed : RunOutcome::CompletedWithErrors);
        QCOMPARE(h.mailer.recipients(), QStringList{u"a@x.org"_s});
    }

    void largestDelaysNeitherOverflowNorShrink()
    {
        RunHarness h;
        h.writeCsv("1,a@x.org\r\n2,b@x.org\r\n");
        schedule(h, INT_MAX, INT_MAX, 1);
        // Abort after 1000 slices of the delay between sends: a product that wrapped in 32 bits
        // would have ended that pause after its first slice.
        h.onSleep = [&h] {
            if (h.pausedMs == 100000)
                h.control.abort().request();
        };
        QCOMPARE(h.run(), RunOutcome::Aborted);
        const QStringList passes = h.passes();
        QCOMPARE(passes.mid(6, 2), QStringList({u"~100000"_s, u"Starting email group delay..."_s}));
        QVERIFY2(QRegularExpression(u"^  Will resume at \\d\\d:\\d\\d:\\d\\d [AP]M$"_s).match(passes.at(8)).hasMatch(),
                 qPrintable(passes.at(8)));
        QCOMPARE(passes.mid(9), QStringList({u"~100"_s, u"Aborting email sends"_s, u"Processing Complete"_s}));
    }
};

QTEST_GUILESS_MAIN(TestBatchRun)
#include "tst_batchrun.moc"
