// Figures for the batch run:
//  1. 500 clients, scheduling on with a delay of 0, against a local SMTP server (postfix's
//     smtp-sink when installed, see bench/mail/setup.sh; else the tests' aiosmtpd server): the
//     run's cost per client beyond the 100 ms pause slice that every client waits at least.
//  2. 10,000 clients with a mailer that sends nothing and a clock that never sleeps: time and
//     peak memory, against the memory of the client list alone.
//  3. One client document lookup in a folder of 10,000 files (every lookup lists the folder).
//  4. The run journal's client list for a large list: writing it before the first send, and what
//     it costs the next run to pass over it (another mailing) or read it (the same mailing).

#include "mail/smtpmailer.h"
#include "run/batchrun.h"
#include "run/clock.h"
#include "run/journal.h"
#include "run/pause.h"
#include "support/smtpfixture.h"
#include "support/testfakes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

using namespace quorvale;

namespace {

/// Measures the time a Mailer spends inside its sends.
class TimedMailer final : public Mailer
{
public:
    explicit TimedMailer(Mailer &inner) : m_inner(inner) {}
    SendResult send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks) override
    {
        QElapsedTimer timer;
        timer.start();
        const SendResult result = m_inner.send(message, server, callbacks);
        nanoseconds += timer.nsecsElapsed();
        failures += result.sent() ? 0 : 1;
        return result;
    }
    qint64 nanoseconds = 0;
    int failures = 0;

private:
    Mailer &m_inner;
};

/// Binds port 0 on loopback (connect == false) or connects to `port` there; the port, or 0.
quint16 loopback(quint16 port, bool connect)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    const bool ok = connect ? ::connect(fd, raw, sizeof address) == 0
                            : ::bind(fd, raw, sizeof address) == 0 && ::getsockname(fd, raw, &length) == 0;
    ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

/// postfix's smtp-sink on a free loopback port, when it is installed; port() 0 otherwise.
class SmtpSink
{
public:
    SmtpSink()
    {
        const QString program = u"/usr/sbin/smtp-sink"_s;
        const quint16 port = loopback(0, false);
        if (!QFileInfo(program).isExecutable() || port == 0)
            return;
        m_process.start(program, {u"-a"_s, u"-u"_s, u"nobody"_s, u"127.0.0.1:%1"_s.arg(port), u"256"_s});
        QDeadlineTimer deadline(5000);
        while (!loopback(port, true) && !deadline.hasExpired())
            QThread::msleep(20);
        m_port = loopback(port, true);
    }
    ~SmtpSink()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString writeClients(const QTemporaryDir &dir, int count)
{
    const QString path = dir.filePath(u"clients-%1.csv"_s.arg(count));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    for (int i = 1; i <= count; ++i)
        file.write(QByteArray::number(100000 + i) + ",client" + QByteArray::number(i) + "@example.org\r\n");
    return path;
}

struct Timed
{
    double seconds = 0;
    RunOutcome outcome = RunOutcome::NotStarted;
};

Timed runOnce(Mailer &mailer, Clock &clock, const AppSettings &settings, const QString &csv, StatusLog &log)
{
    test::FakeStore store; // the benchmark must not touch the user's settings
    test::ScriptedPrompter prompter;
    test::FakePrinter printer;
    RunControl control;
    BatchRun run(RunDependencies{store, log, prompter, mailer, printer, clock, control, nullptr,
                                 [&settings] { return settings; }});
    RunRequest request{csv, u"Your statement"_s, u"Dear client,\r\nhere it is.\r\n"_s, false};
    QElapsedTimer timer;
    timer.start();
    Timed result;
    if (run.prepare(request))
        result.outcome = run.execute();
    result.seconds = double(timer.nsecsElapsed()) / 1e9;
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    AppSettings settings;
    settings.DataFolder = dir.filePath(u"data"_s);
    settings.EnableSchedule = 1;
    settings.DelayBetweenSends = 0;
    settings.GroupSize = 1000000;

    // 1. Real sends to a local server.
    const int smallRun = argc > 1 ? QByteArray(argv[1]).toInt() : 500;
    {
        SmtpSink sink;
        std::unique_ptr<test::SmtpServer> server;
        if (sink.port() == 0)
            server = std::make_unique<test::SmtpServer>();
        if (sink.port() == 0 && !server->isRunning()) {
            std::fprintf(stderr, "bench_run: no local SMTP server could be started\n");
            return 1;
        }
        const AppSettings mail = server ? server->settings() : AppSettings{};
        settings.SMTPServer = u"127.0.0.1"_s;
        settings.SSLport = QString::number(server ? server->port() : sink.port());
        settings.AuthType = 0;
        settings.UserName = server ? mail.UserName : u"user"_s;
        settings.Password = server ? mail.Password : u"secret"_s;
        settings.EmailFrom = u"sender@example.com"_s;
        SmtpMailer smtp(settings.DataFolder);
        TimedMailer mailer(smtp);
        SystemClock clock;
        test::RecordingLog log;
        log.keepRecords = false;
        const QString csv = writeClients(dir, smallRun);
        const Timed t = runOnce(mailer, clock, settings, csv, log);
        const double perClientMs = t.seconds * 1000.0 / smallRun;
        std::printf("%d clients into %s on 127.0.0.1, scheduling on, delay 0 (outcome %d, %d failed sends)\n", smallRun,
                    server ? "the aiosmtpd test server" : "smtp-sink", int(t.outcome), mailer.failures);
        std::printf("  total %.2f s, %.2f ms per client, overhead over the 100 ms pause floor %.2f ms per client\n",
                    t.seconds, perClientMs, perClientMs - kPauseSliceMs);
        const double sendMs = double(mailer.nanoseconds) / 1e6 / smallRun;
        std::printf("  of which inside the send (connect to QUIT) %.2f ms, the run itself and the pause's\n"
                    "  oversleep %.2f ms per client\n",
                    sendMs, perClientMs - kPauseSliceMs - sendMs);
    }

    // 2. A large run with nothing sent and no real waiting.
    const int largeRun = argc > 2 ? QByteArray(argv[2]).toInt() : 10000;
    {
        const QString csv = writeClients(dir, largeRun);
        const long before = peakRssKiB();
        test::FakeMailer mailer;
        mailer.keepRecords = false; // the run's own memory is measured
        test::FakeClock clock;
        test::RecordingLog log;
        log.keepRecords = false;
        const Timed t = runOnce(mailer, clock, settings, csv, log);
        std::printf("%d clients, fake mailer and clock (outcome %d, %lld status lines)\n", largeRun, int(t.outcome),
                    static_cast<long long>(log.count));
        std::printf("  total %.3f s, %.2f us per client; peak RSS %ld KiB before, %ld KiB after (+%ld KiB)\n",
                    t.seconds, t.seconds * 1e6 / largeRun, before, peakRssKiB(), peakRssKiB() - before);
        const long afterFirst = peakRssKiB();
        runOnce(mailer, clock, settings, writeClients(dir, largeRun * 4), log);
        std::printf("  %d clients: peak RSS +%ld KiB over the %d-client run\n", largeRun * 4, peakRssKiB() - afterFirst,
                    largeRun);
    }

    // 3. One lookup among many files.
    {
        QTemporaryDir docs;
        for (int i = 0; i < 10000; ++i) {
            QFile file(docs.filePath(u"Invoice_%1.pdf"_s.arg(100000 + i)));
            if (!file.open(QIODevice::WriteOnly))
                return 1;
        }
        QElapsedTimer timer;
        timer.start();
        const int lookups = 20;
        const ClientIdIndex index;
        for (int i = 0; i < lookups; ++i)
            FindClientDocument(docs.path(), QString::number(109999 - i), index);
        std::printf("client document lookup in a folder of 10000 files: %.2f ms each\n",
                    double(timer.nsecsElapsed()) / 1e6 / lookups);
    }

    // 4. The client list in the journal.
    {
        const int clients = argc > 3 ? QByteArray(argv[3]).toInt() : 100000;
        QTemporaryDir journals;
        const QDateTime now = QDateTime::currentDateTime();
        QTemporaryDir lists;
        const QString list = writeClients(lists, clients);
        QElapsedTimer timer;
        timer.start();
        QString error;
        std::unique_ptr<Journal> journal = Journal::create(journals.path(), now, &error);
        MailingKey mailing{QFileInfo(list).canonicalFilePath(), QString(64, u'a'), u"Your statement"_s,
                           QString(64, u'b')};
        bool ok = journal != nullptr;
        for (const JournalEntry &entry : journalHeader(now, RunKind::AllClients, mailing))
            ok = ok && journal->append(entry, &error, false);
        JournalEntry client;
        client.time = now;
        client.event = JournalEvent::Client;
        for (int i = 1; ok && i <= clients; ++i) {
            client.line = i;
            client.clientId = QString::number(100000 + i);
            client.address = u"client%1@example.org"_s.arg(i);
            ok = journal->append(client, &error, false);
        }
        JournalEntry aborted;
        aborted.time = now;
        aborted.event = JournalEvent::Aborted;
        ok = ok && journal->sync(&error) && journal->append(aborted, &error);
        const double writeMs = double(timer.nsecsElapsed()) / 1e6;
        const qint64 bytes = ok ? QFileInfo(journal->path()).size() : 0;
        journal.reset();
        if (!ok) {
            std::fprintf(stderr, "bench_run: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("journal with a list of %d clients: written and synced in %.1f ms, %.1f MB\n", clients, writeMs,
                    double(bytes) / 1e6);
        timer.start();
        MailingKey other = mailing;
        other.subject = u"Another mailing"_s;
        readJournalHistory(journals.path(), other);
        const double passMs = double(timer.nsecsElapsed()) / 1e6;
        timer.start();
        const JournalHistory history = readJournalHistory(journals.path(), mailing);
        std::printf("  the next run passes over it (another mailing) in %.2f ms, reads it (the same mailing, %s) in "
                    "%.1f ms\n",
                    passMs, history.problem.isEmpty() ? "read cleanly" : qPrintable(history.problem),
                    double(timer.nsecsElapsed()) / 1e6);
    }
    return 0;
}
