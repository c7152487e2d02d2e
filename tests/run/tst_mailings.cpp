// Through the quorvale program against a real SMTP server: one run at a time, and an interrupted
// run resumed so that every client of a mailing gets its message once, and never another
// mailing's, whatever was edited, resent or planted in between.

#include "run/journal.h"
#include "support/programhome.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

const QByteArray kClients = "A,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\n";

QStringList runArgs(const ProgramHome &home, const QString &csv = u"docs/clients.csv"_s,
                    const QString &subject = u"Your invoice"_s)
{
    return {u"run"_s, u"--csv"_s, home.path(csv), u"--subject"_s, subject, u"--body"_s, u"Dear client"_s, u"--yes"_s};
}

/// Pacing that makes a run wait in a group delay after every `groupSize` clients.
QList<std::pair<QString, QString>> pausingAfter(int groupSize)
{
    return {{u"EnableSchedule"_s, u"1"_s},
            {u"DelayBetweenSends"_s, u"0"_s},
            {u"GroupDelay"_s, u"10"_s},
            {u"GroupSize"_s, QString::number(groupSize)}};
}

bool setGroupSize(const ProgramHome &home, int groupSize)
{
    return home.run({u"config"_s, u"set"_s, u"GroupSize"_s, QString::number(groupSize)}).exitCode == 0;
}

/// Runs the program until it waits in its first group delay, then presses Ctrl-C.
ProgramHome::Result interrupted(const ProgramHome &home, const QStringList &args)
{
    const std::unique_ptr<QProcess> process = home.start(args);
    QByteArray out;
    if (!ProgramHome::waitForOutput(*process, "Will resume at", &out))
        return ProgramHome::finish(*process, out);
    ::kill(pid_t(process->processId()), SIGINT);
    return ProgramHome::finish(*process, out);
}

/// Sets `home` up to send to `server`, then runs over the four clients of kClients with `args`
/// until Ctrl-C in the group delay after the first two; the runs that follow go on without one.
bool interruptedAfterTwo(ProgramHome &home, const SmtpServer &server, const QStringList &args)
{
    return server.isRunning() && home.configure(server, pausingAfter(2)) &&
           home.writeFile(u"docs/clients.csv"_s, kClients) && interrupted(home, args).exitCode == 130 &&
           setGroupSize(home, 100);
}

/// The recipients of the messages from the `from`-th on, with the subject when `withSubject`.
QStringList received(const SmtpServer &server, qsizetype from = 0, bool withSubject = false)
{
    QStringList out;
    const QList<ReceivedMessage> messages = server.messages();
    for (qsizetype i = from; i < messages.size(); ++i)
        out.append(messages.at(i).rcptTo.join(u',') + (withSubject ? u' ' + messages.at(i).subject : QString()));
    return out;
}

/// The newest journal of the home.
QString newestJournal(const ProgramHome &home)
{
    const QStringList names = QDir(home.journalFolder()).entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name);
    return names.isEmpty() ? QString() : QDir(home.journalFolder()).filePath(names.last());
}

} // namespace

class TestMailings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aRunKeepsEveryOtherRunOut_data()
    {
        QTest::addColumn<QStringList>("second"); // the other run's options after --csv FILE ... --yes
        QTest::addColumn<QString>("csv");
        QTest::newRow("the same client file") << QStringList() << u"docs/clients.csv"_s;
        QTest::newRow("a resume of the running one") << QStringList{u"--resume"_s} << u"docs/clients.csv"_s;
        QTest::newRow("a resend") << QStringList{u"--retry-failed"_s} << u"docs/clients.csv"_s;
        QTest::newRow("another client file") << QStringList{u"--no-resume"_s} << u"other/list.csv"_s;
    }
    void aRunKeepsEveryOtherRunOut()
    {
        QFETCH(QStringList, second);
        QFETCH(QString, csv);
        ProgramHome home;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(home.configure(server, pausingAfter(1)));
        QVERIFY(home.writeFile(u"docs/clients.csv"_s, "A,a@x.org\r\nB,b@x.org\r\n"));
        QVERIFY(home.writeFile(u"other/list.csv"_s, "A,a@x.org\r\nB,b@x.org\r\n"));

        const std::unique_ptr<QProcess> first = home.start(runArgs(home));
        QByteArray out;
        QVERIFY2(ProgramHome::waitForOutput(*first, "Will resume at", &out), out.constData());
        const ProgramHome::Result other = home.run(runArgs(home, csv) + second);
        QCOMPARE(other.exitCode, 2);
        QVERIFY2(other.err.contains(u"Another run is in progress (process %1 of "_s.arg(first->processId())),
                 qPrintable(other.err));
        QVERIFY2(!other.err.contains(u"did not finish"_s), qPrintable(other.err));
        QCOMPARE(received(server), QStringList{u"a@x.org"_s});

        ::kill(pid_t(first->processId()), SIGINT);
        QCOMPARE(ProgramHome::finish(*first, out).exitCode, 130);
        // Once the first run is over, its resume goes on where it stopped.
        QVERIFY(setGroupSize(home, 100));
        QCOMPARE(home.run(runArgs(home) << u"--resume"_s).exitCode, 0);
        QCOMPARE(received(server), (QStringList{u"a@x.org"_s, u"b@x.org"_s}));
    }

    // Two accounts (two homes, each with its own settings, data folder and run lock) on one client
    // list in a shared folder: while the first runs it, the second is refused; a lock left by a
    // process of this computer that is gone is taken over, one of another computer never is.
    void aClientListIsRunByOneAccountAtATime()
    {
        ProgramHome first;
        ProgramHome second;
        QTemporaryDir shared;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(first.configure(server, pausingAfter(1)));
        QVERIFY(second.configure(server));
        const QString list = shared.filePath(u"clients.csv"_s);
        const QString lockFile = shared.filePath(u".clients.csv.quorvale-lock"_s);
        {
            QFile file(list);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("A,a@x.org\r\nB,b@x.org\r\n");
        }
        const QStringList args{u"run"_s, u"--csv"_s, list, u"--subject"_s, u"Hi"_s, u"--body"_s, u"Dear"_s, u"--yes"_s};

        // Started with no umask at all: its locks still get exactly their modes.
        const mode_t before = ::umask(0);
        const std::unique_ptr<QProcess> running = first.start(args);
        ::umask(before);
        QByteArray out;
        QVERIFY2(ProgramHome::waitForOutput(*running, "Will resume at", &out), out.constData());
        const qint64 pid = running->processId();
        QCOMPARE(modeOf(QDir(first.dataFolder()).filePath(u"run.lock"_s)), mode_t(0600));
        QCOMPARE(modeOf(lockFile), mode_t(0644));
        // No core dump can spill what the running program holds.
        QFile limits(u"/proc/%1/limits"_s.arg(pid));
        QVERIFY(limits.open(QIODevice::ReadOnly));
        QVERIFY2(QString::fromLatin1(limits.readAll()).contains(QRegularExpression(u"Max core file size\\s+0\\s+0"_s)),
                 "core dumps are possible");

        const ProgramHome::Result refused = second.run(args);
        QCOMPARE(refused.exitCode, 2);
        const QString holder = u"Another run is in progress (process %1 of "_s.arg(pid);
        QVERIFY2(refused.err.contains(holder) &&
                     refused.err.contains(u" on computer "_s + QSysInfo::machineHostName() + u", since "_s),
                 qPrintable(refused.err));
        QCOMPARE(received(server), QStringList{u"a@x.org"_s});
        ::kill(pid_t(pid), SIGINT);
        QCOMPARE(ProgramHome::finish(*running, out).exitCode, 130);
        QVERIFY(!QFile::exists(lockFile));

        // A lock of another computer is never taken over: that computer's runs cannot be seen.
        const QByteArray elsewhere = "pid=1\nhost=front-desk\naccount=anna\nstarted=2026-03-02T07:45:00Z\n";
        {
            QFile file(lockFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(elsewhere);
        }
        const ProgramHome::Result other = second.run(args);
        QCOMPARE(other.exitCode, 2);
        QVERIFY2(other.err.contains(u"Another run is in progress (process 1 of anna on computer front-desk, since "
                                    "2026-03-0"_s) &&
                     other.err.contains(lockFile),
                 qPrintable(other.err));
        QCOMPARE(received(server).size(), 1);

        // One of this computer whose process is gone is taken over.
        {
            QFile file(lockFile);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("pid=" + QByteArray::number(pid) + "\nhost=" + QSysInfo::machineHostName().toUtf8() +
                       "\naccount=anna\nstarted=2026-03-02T07:45:00Z\n");
        }
        // The run it cut short reached a from the other home: the resume skips it.
        const ProgramHome::Result stale = second.run(args + QStringList{u"--resume"_s});
        QCOMPARE(stale.exitCode, 0);
        QCOMPARE(received(server), (QStringList{u"a@x.org"_s, u"b@x.org"_s}));
        QVERIFY(!QFile::exists(lockFile));

        // A folder that takes no lock file is said, and the run goes on with its own lock.
        if (::geteuid() == 0)
            QSKIP("root writes into a read-only folder");
        QVERIFY(QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::ExeOwner));
        const ProgramHome::Result readOnly = second.run(args + QStringList{u"--send-again"_s});
        QVERIFY(QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QCOMPARE(readOnly.exitCode, 0);
        QVERIFY2(readOnly.err.contains(u"No lock file can be made beside the client file"_s), qPrintable(readOnly.err));
    }

    // The same list run from a second home after the first finished it: the second is refused
    // unless told to send it again, and told who sent it.
    void aSharedListIsNotSentAgainFromAnotherHome()
    {
        ProgramHome first;
        ProgramHome second;
        QTemporaryDir shared;
        SmtpServer server;
        QVERIFY(first.configure(server));
        QVERIFY(second.configure(server));
        const QString list = shared.filePath(u"clients.csv"_s);
        {
            QFile file(list);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("A,a@x.org\r\nB,b@x.org\r\n");
        }
        const QStringList args{u"run"_s, u"--csv"_s, list, u"--subject"_s, u"Hi"_s, u"--body"_s, u"Dear"_s, u"--yes"_s};
        QCOMPARE(first.run(args).exitCode, 0);
        const ProgramHome::Result again = second.run(args);
        QCOMPARE(again.exitCode, 2);
        QVERIFY2(again.err.contains(u"This mailing was already sent to all 2 clients, by "_s) &&
                     again.err.contains(u"--send-again"_s),
                 qPrintable(again.err));
        QCOMPARE(received(server), (QStringList{u"a@x.org"_s, u"b@x.org"_s}));
        QCOMPARE(second.run(args + QStringList{u"--send-again"_s}).exitCode, 0);
        QCOMPARE(received(server).size(), 4);
    }

    void resumeContinuesOnlyTheSameMailing()
    {
        ProgramHome home;
        SmtpServer server;
        for (const char *id : {"A", "B", "C", "D"})
            QVERIFY(home.writeFile(u"docs/Invoice_%1.pdf"_s.arg(QLatin1String(id)), QByteArray("invoice ") + id));
        const QStringList invoices = runArgs(home) << u"--mode"_s << u"client"_s;
        QVERIFY(interruptedAfterTwo(home, server, invoices));

        // Another mailing to the same clients: it goes to all of them, and leaves the invoices'
        // run unfinished.
        const ProgramHome::Result greeting =
            home.run(runArgs(home, u"docs/clients.csv"_s, u"Merry Christmas"_s) << u"--resume"_s);
        QCOMPARE(greeting.exitCode, 0);
        QVERIFY2(greeting.err.contains(u"There is no unfinished run of this mailing to resume"_s),
                 qPrintable(greeting.err));
        QCOMPARE(received(server, 2, true), (QStringList{u"a@x.org Merry Christmas"_s, u"b@x.org Merry Christmas"_s,
                                                         u"c@x.org Merry Christmas"_s, u"d@x.org Merry Christmas"_s}));
        for (qsizetype i = 2; i < 6; ++i)
            QVERIFY(server.messages().at(i).attachments.isEmpty());

        // The invoices go on where they stopped, each with its own document.
        QCOMPARE(home.run(QStringList(invoices) << u"--resume"_s).exitCode, 0);
        QCOMPARE(received(server, 6, true), (QStringList{u"c@x.org Your invoice"_s, u"d@x.org Your invoice"_s}));
        QCOMPARE(server.messages().at(7).attachments.value(0).data, QByteArray("invoice D"));
    }

    void resumeRecognisesClientsByIdentifierAndAddress()
    {
        ProgramHome home;
        SmtpServer server;
        QVERIFY(interruptedAfterTwo(home, server, runArgs(home)));

        // B's address corrected, two clients added, lines moved; the list opened through a link
        // to its folder.
        QVERIFY(home.writeFile(u"docs/clients.csv"_s,
                               "E,e@x.org\r\nA,a@x.org\r\nB,b.new@x.org\r\nC,c@x.org\r\nD,d@x.org\r\nF,f@x.org\r\n"));
        QVERIFY(QFile::link(home.path(u"docs"_s), home.path(u"linked"_s)));
        const ProgramHome::Result r = home.run(runArgs(home, u"linked/clients.csv"_s) << u"--resume"_s);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(u"2 clients added, 1 address changed since the interrupted run"_s),
                 qPrintable(r.out.join(u'\n')));
        QVERIFY(r.out.contains(u"Skipped (already sent) - a@x.org"_s));
        QCOMPARE(received(server, 2),
                 (QStringList{u"e@x.org"_s, u"b.new@x.org"_s, u"c@x.org"_s, u"d@x.org"_s, u"f@x.org"_s}));
    }

    void aResendNeverFinishesTheRunItResendsFor()
    {
        ProgramHome home;
        SmtpServer server({.fault = u"RCPT:550:b@x.org"_s});
        QVERIFY(interruptedAfterTwo(home, server, runArgs(home)));
        QCOMPARE(received(server), QStringList{u"a@x.org"_s});
        server.reset(QString());

        const ProgramHome::Result resend = home.run(runArgs(home) << u"--retry-failed"_s);
        QCOMPARE(resend.exitCode, 0);
        QVERIFY(resend.out.contains(u"Clients to resend to - 1"_s));
        QVERIFY(resend.out.contains(u"Clients not reached yet - 2 (Start Processing resumes them)"_s));
        QCOMPARE(received(server), QStringList{u"b@x.org"_s});

        QCOMPARE(home.run(runArgs(home) << u"--resume"_s).exitCode, 0);
        QCOMPARE(received(server), (QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
    }

    void anAbortBeforeTheMessageWentOutIsNoRefusal()
    {
        ProgramHome home;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(home.configure(
            server, {{u"EnableSchedule"_s, u"1"_s}, {u"DelayBetweenSends"_s, u"3"_s}, {u"GroupSize"_s, u"100"_s}}));
        QVERIFY(home.writeFile(u"docs/clients.csv"_s, kClients));

        // b's server never answers its sender; Ctrl-C twice during that send cuts it before anything
        // of the message went out (once would let it go on).
        const std::unique_ptr<QProcess> run = home.start(runArgs(home));
        QVERIFY(server.waitForMessages(1, 30000));
        server.reset(u"stall:MAIL"_s); // forgets a's message
        QTRY_VERIFY_WITH_TIMEOUT(server.commands().contains(u"MAIL"_s), 30000);
        ::kill(pid_t(run->processId()), SIGINT);
        QByteArray out;
        QDeadlineTimer deadline(30000);
        while (!out.contains("Abort - letting") && run->waitForReadyRead(int(deadline.remainingTime())))
            out += run->readAllStandardOutput();
        QVERIFY2(out.contains("Abort - letting"), out.constData());
        ::kill(pid_t(run->processId()), SIGINT);
        const ProgramHome::Result r = ProgramHome::finish(*run, out);
        QCOMPARE(r.exitCode, 130);
        const QStringList tail = r.out.mid(r.out.size() - 4);
        QCOMPARE(tail, (QStringList{u"Abort - letting the message being sent finish (up to 30 seconds); abort again "
                                    "to stop it now"_s,
                                    u"Send Error - b@x.org"_s, u"Processing Aborted"_s, u"Processing Complete"_s}));
        server.reset(QString());
        QList<JournalEntry> entries;
        QString error;
        QVERIFY2(readJournal(newestJournal(home), &entries, &error), qPrintable(error));
        QCOMPARE(journalEventName(entries.at(entries.size() - 2).event), u"not sent (aborted)"_s);
        QCOMPARE(entries.at(entries.size() - 2).address, u"b@x.org"_s);

        QVERIFY(home.run({u"config"_s, u"set"_s, u"DelayBetweenSends"_s, u"0"_s}).exitCode == 0);
        const ProgramHome::Result resend = home.run(runArgs(home) << u"--retry-failed"_s);
        QCOMPARE(resend.exitCode, 2);
        QVERIFY2(resend.err.contains(u"Start Processing resumes the 3 clients the interrupted run did not reach"_s),
                 qPrintable(resend.err));
        QCOMPARE(home.run(runArgs(home) << u"--resume"_s).exitCode, 0);
        QCOMPARE(received(server), (QStringList{u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
    }

    void aJournalThatDoesNotReadCleanlyStopsTheResume_data()
    {
        QTest::addColumn<QByteArray>("from"); // in the line of a's "sent"
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("a stray quote") << QByteArray(",a@x.org,") << QByteArray(",a\"@x.org,") << 2;
        QTest::newRow("a field missing") << QByteArray(",a@x.org,") << QByteArray(",") << 2;
        QTest::newRow("an unknown event") << QByteArray(",sent,") << QByteArray(",sant,") << 2;
        QTest::newRow("a line number that does not fit")
            << QByteArray(",sent,1,") << QByteArray(",sent,99999999999999999999,") << 2;
        // Its last line cut off by a crash: the run looks killed, which a resume handles.
        QTest::newRow("a last line cut off") << QByteArray(",aborted,,,,,,,\r\n") << QByteArray(",abor") << 0;
    }
    void aJournalThatDoesNotReadCleanlyStopsTheResume()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(int, exitCode);
        ProgramHome home;
        SmtpServer server;
        QVERIFY(interruptedAfterTwo(home, server, runArgs(home)));

        const QString path = newestJournal(home);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        file.close();
        qsizetype changed = -1;
        for (qsizetype i = 0; i < lines.size() && changed < 0; ++i) {
            if ((lines[i].contains(",sent,") || from.contains("aborted")) &&
                lines[i].contains(from.left(from.size() - 2)))
                changed = i;
        }
        QVERIFY(changed >= 0);
        QByteArray line = lines[changed] + '\n';
        line.replace(from, to);
        lines[changed] = line.chopped(line.endsWith('\n') ? 1 : 0);
        if (!line.endsWith('\n'))
            lines.resize(changed + 1);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(lines.join('\n'));
        file.close();

        const ProgramHome::Result r = home.run(runArgs(home) << u"--resume"_s);
        QCOMPARE(r.exitCode, exitCode);
        if (exitCode == 0) {
            QCOMPARE(received(server), (QStringList{u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
            return;
        }
        QVERIFY2(r.err.contains(path + u", line %1: "_s.arg(changed + 1)), qPrintable(r.err));
        QCOMPARE(received(server).size(), 2);
        // --no-resume goes over every client again.
        QCOMPARE(home.run(runArgs(home) << u"--no-resume"_s).exitCode, 0);
        QCOMPARE(received(server).size(), 6);
    }

    void plantedJournalNumbersAreLeftAside()
    {
        ProgramHome home;
        SmtpServer server;
        QVERIFY(server.isRunning());
        QVERIFY(home.configure(server));
        QVERIFY(home.writeFile(u"docs/other.csv"_s, "Z,z@x.org\r\n"));
        QCOMPARE(home.run(runArgs(home, u"docs/other.csv"_s)).exitCode, 0);
        // Another mailing's journal under the largest number there is, and a number too large to be one.
        QVERIFY(QFile::copy(newestJournal(home),
                            QDir(home.journalFolder()).filePath(u"run-9223372036854775807-20200101-000000.csv"_s)));
        QVERIFY(home.writeFile(u"data/Quorvale/runs/run-99999999999999999999-20200101-000000.csv"_s, "garbage\""));

        QVERIFY(interruptedAfterTwo(home, server, runArgs(home)));
        const ProgramHome::Result r = home.run(runArgs(home) << u"--resume"_s);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(received(server), (QStringList{u"z@x.org"_s, u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
        // The journals of these runs are numbered on from the ones that fit.
        QVERIFY(
            QFileInfo::exists(QDir(home.journalFolder())
                                  .filePath(QDir(home.journalFolder()).entryList({u"run-000003-*.csv"_s}).value(0))));
    }
};

QTEST_GUILESS_MAIN(TestMailings)
#include "tst_mailings.moc"
