#pragma once

// Runs the quorvale program against a real SMTP server (the tests' own, or the provider simulator),
// kills it with SIGKILL at random moments, resumes it until every client was dealt with, and
// compares what the run journals say with what the server received; or starts two runs of one
// mailing at once and counts what each client received. Used by the kill test and by bench_runkill.

#include "run/journal.h"
#include "support/dovecotfixture.h"
#include "support/providersim.h"
#include "support/smtpfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>

namespace quorvale::test {

using namespace Qt::StringLiterals;

struct KillFigures
{
    int rounds = 0;                 ///< client files delivered to the end
    int clients = 0;                ///< clients over all rounds
    int runs = 0;                   ///< program starts
    int kills = 0;                  ///< runs ended by SIGKILL
    int duplicates = 0;             ///< messages a client received beyond its first
    int lost = 0;                   ///< clients that received nothing and are not journalled "unknown"
    int unknown = 0;                ///< clients journalled "unknown" at the end (skipped on resume)
    int unknownArrived = 0;         ///< of those, how many had in fact received their message
    int wrongDocuments = 0;         ///< messages without the client's own document, or with another's
    int sentCopies = 0;             ///< copies in the IMAP Sent folder (with KillOptions::sentCopy)
    int sentWithoutCopy = 0;        ///< messages journalled sent whose copy is not in Sent (with sentCopy)
    int copiedTwice = 0;            ///< messages journalled sent whose copy is in Sent more than once
    QMap<QString, int> killedWhere; ///< kills by where the journal shows the run was
    QStringList problems;           ///< every mismatch between the journals, the server and the rules
};

/// What the program sends to and what happens on the way.
struct KillOptions
{
    bool providerSim = false; ///< the provider simulator instead of the tests' SMTP server
    bool documents = false;   ///< each client's own document beside the list; wrong documents counted
    bool sentCopy = false;    ///< a copy of every message in the Sent folder of a real IMAP server
    int temporaryEvery = 0;   ///< the provider puts off every Nth message: the run waits to try again
    int ehloDelayMs = 0;      ///< the provider answers EHLO slowly: early kills fall in the size probe
};

/// Two runs of one mailing started together, many times.
struct RaceFigures
{
    int races = 0;
    int clients = 0;      ///< clients over all races
    int bothRan = 0;      ///< races in which both runs sent something (target 0)
    int lockRefusals = 0; ///< runs that did not start because the other held the mailing
    int duplicates = 0;   ///< messages a client received beyond its first
    int lost = 0;         ///< clients that received nothing once the winner and a resume were done
    int wrongDocuments = 0;
    int kills = 0;   ///< one after the other: the first runs killed before they ended
    int unknown = 0; ///< clients a killed run left "may have been sent" (skipped; got at most one)
    QStringList problems;
};

class KillHarness
{
public:
    explicit KillHarness(KillOptions options = {}) : m_options(options)
    {
        m_home.setAutoRemove(true);
        if (m_options.providerSim) {
            m_sim = std::make_unique<ProviderSim>(ProviderSimOptions{.temporaryEvery = m_options.temporaryEvery,
                                                                     .ehloDelayMs = m_options.ehloDelayMs,
                                                                     .keepMessages = true});
        } else {
            m_server = std::make_unique<SmtpServer>();
        }
        if (m_options.sentCopy)
            m_imap = std::make_unique<DovecotServer>();
    }

    bool isReady() const
    {
        return m_home.isValid() && (m_sim ? m_sim->isRunning() : m_server->isRunning()) &&
               (!m_imap || m_imap->isRunning());
    }
    QString dataFolder(const QString &home = {}) const
    {
        return m_home.filePath((home.isEmpty() ? QString() : home + u'/') + u"data/Quorvale"_s);
    }
    QString filePath(const QString &name) const { return m_home.filePath(name); }
    /// The tests' SMTP server (not with KillOptions::providerSim).
    const SmtpServer &server() const { return *m_server; }

    /// Every message the server accepted: its recipients and content.
    QList<std::pair<QStringList, QByteArray>> received() const
    {
        QList<std::pair<QStringList, QByteArray>> all;
        if (m_sim) {
            const QList<ProviderEvent> events = m_sim->accepted();
            const QList<QByteArray> contents = m_sim->acceptedMessages();
            for (qsizetype i = 0; i < events.size(); ++i)
                all.append({events.at(i).rcpt, contents.value(i)});
        } else {
            for (const ReceivedMessage &message : m_server->messages())
                all.append({message.rcptTo, message.raw});
        }
        return all;
    }

    /// Runs the program to its end with `args` in `home` (a folder of the harness's; empty: its own);
    /// its exit status, and its standard error in `err`.
    int runProgram(const QStringList &args, QString *err = nullptr, const QString &home = {})
    {
        QProcess process;
        setUp(process, args, home);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start();
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (err)
            *err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    /// Saves the server's settings through the program into `home` (a folder of the harness's,
    /// empty: its own): scheduling on, `delay` seconds between sends.
    bool configure(QString *error, const QString &home = {}, int delay = 0)
    {
        const AppSettings s = m_sim ? m_sim->settings() : m_server->settings();
        QList<QStringList> sets = {{u"SMPTServer"_s, s.SMTPServer},
                                   {u"SSLport"_s, s.SSLport},
                                   {u"AuthType"_s, QString::number(s.AuthType)},
                                   {u"UserName"_s, s.UserName},
                                   {u"PW"_s, s.Password},
                                   {u"EmailFrom"_s, s.EmailFrom},
                                   {u"EnableSchedule"_s, u"1"_s},
                                   {u"DelayBetweenSends"_s, QString::number(delay)},
                                   {u"GroupSize"_s, u"100000"_s},
                                   {u"GroupDelay"_s, u"0"_s}};
        if (m_imap)
            sets += QList<QStringList>{{u"SentCopy"_s, u"1"_s},
                                       {u"IMAPServer"_s, u"127.0.0.1"_s},
                                       {u"IMAPPort"_s, QString::number(m_imap->startTlsPort())}};
        for (const QStringList &set : sets) {
            QProcess process;
            setUp(process, QStringList{u"config"_s, u"set"_s} + set, home);
            process.start();
            if (!process.waitForFinished(30000) || process.exitCode() != 0) {
                *error = u"config set "_s + set.first() + u" failed"_s;
                return false;
            }
        }
        return true;
    }

    /// Rounds of `clientsPerRound` clients until at least `targetKills` runs were killed. Each kill
    /// comes after a random wait of up to `maxDelayMs`: from the program's start or, for one run in
    /// four when the provider puts messages off, from the moment the run says it waits to try again.
    KillFigures run(int targetKills, int clientsPerRound, int maxDelayMs, quint32 seed)
    {
        KillFigures figures;
        QRandomGenerator random(seed);
        while (figures.kills < targetKills && figures.problems.isEmpty()) {
            const int round = figures.rounds;
            const QString csv = writeRound(u"round%1"_s.arg(round), round, clientsPerRound, &figures.problems);
            if (csv.isEmpty())
                break;

            bool done = false;
            while (!done && figures.kills < targetKills && figures.problems.isEmpty()) {
                const bool inWait = m_options.temporaryEvery > 0 && random.bounded(4) == 0;
                const int exitCode =
                    start(csv, int(random.bounded(maxDelayMs + 1)), inWait ? kWaitLine : QByteArray(), figures);
                // A run killed after it wrote its last line (while the program was ending) completed:
                // a further run would rightly go over every client again.
                done = exitCode == 0 || (exitCode < 0 && newestEnd(csv) == "completed"_L1);
                if (exitCode > 0)
                    figures.problems.append(
                        u"a run ended with exit status %1: %2"_s.arg(exitCode).arg(lastRunsErrors()));
            }
            // The last run of the round goes to the end.
            if (!done && figures.problems.isEmpty() && start(csv, -1, {}, figures) != 0)
                figures.problems.append(u"the last run of round %1 did not complete"_s.arg(round));
            check(round, csv, clientsPerRound, figures);
            figures.clients += clientsPerRound;
            ++figures.rounds;
        }
        if (m_imap)
            figures.sentCopies = int(m_imap->folder(u"Sent"_s).size());
        return figures;
    }

    /// `races` times, two runs of one new mailing of `clients` clients started together: two
    /// processes of one home, or (`twoHomes`) of two homes, each with its own settings and journals,
    /// on one shared client list. A resume in the winner's home then finishes what is left. Both homes
    /// must have been configured (configure(&error, u"homeA"_s, ...), "homeB").
    RaceFigures race(int races, int clients, bool twoHomes)
    {
        RaceFigures f;
        for (int r = 0; r < races && f.problems.isEmpty(); ++r) {
            const int round = (twoHomes ? 200000 : 100000) + r;
            const QString csv = writeRound(u"race%1"_s.arg(round), round, clients, &f.problems);
            if (csv.isEmpty())
                break;
            QProcess runs[2];
            for (int i = 0; i < 2; ++i) {
                setUp(runs[i], runArgs(csv), i == 1 && twoHomes ? u"homeB"_s : u"homeA"_s);
                runs[i].setStandardOutputFile(QProcess::nullDevice());
            }
            runs[0].start();
            runs[1].start();
            int sent = 0;
            QString winner = u"homeA"_s; // the home whose run went: its journals know the mailing
            for (QProcess &run : runs) {
                if (!run.waitForFinished(300000)) {
                    run.kill();
                    run.waitForFinished();
                    f.problems.append(u"a racing run did not end"_s);
                    continue;
                }
                const QString err = QString::fromUtf8(run.readAllStandardError());
                const int code = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
                if (code == 0 || code == 1) {
                    ++sent;
                    if (twoHomes && &run == &runs[1])
                        winner = u"homeB"_s;
                } else if (code == 2 && err.contains(u"Another run is in progress"_s))
                    ++f.lockRefusals;
                else
                    f.problems.append(u"a racing run ended with %1: %2"_s.arg(code).arg(err.trimmed().left(300)));
            }
            f.bothRan += sent == 2 ? 1 : 0;
            // Whatever the race left, a resume in the winner's home finishes it (or says it is done);
            // then the other home runs the mailing too, and finds it done.
            QStringList homes{winner};
            if (twoHomes)
                homes.append(winner == u"homeA"_s ? u"homeB"_s : u"homeA"_s);
            runAfter(csv, homes, f);
            count(round, clients, {}, f);
        }
        return f;
    }

    /// `rounds` times, one after the other on one shared client list: a run of a new mailing from
    /// homeA killed at a random moment in its first `maxKillMs`, then a run from homeB, then one
    /// from homeA again (each --resume): the second skips whom the first reached or may have, and
    /// the third finds the mailing done. Both homes must have been configured.
    RaceFigures oneAfterTheOther(int rounds, int clients, int maxKillMs, quint32 seed)
    {
        RaceFigures f;
        QRandomGenerator random(seed);
        for (int r = 0; r < rounds && f.problems.isEmpty(); ++r) {
            const int round = 300000 + r;
            const QString csv = writeRound(u"after%1"_s.arg(round), round, clients, &f.problems);
            if (csv.isEmpty())
                break;
            QProcess first;
            setUp(first, runArgs(csv), u"homeA"_s);
            first.setStandardOutputFile(QProcess::nullDevice());
            first.setStandardErrorFile(QProcess::nullDevice());
            first.start();
            if (!first.waitForFinished(int(random.bounded(maxKillMs + 1)))) {
                ::kill(pid_t(first.processId()), SIGKILL);
                first.waitForFinished(30000);
                ++f.kills;
            }
            runAfter(csv, {u"homeB"_s, u"homeA"_s}, f);
            // A client some run died sending to, and that no run journalled sent, may have been
            // sent: the later runs skip it, so it gets at most one message.
            QSet<QString> sent;
            QSet<QString> inDoubt;
            for (const QString &home : {u"homeA"_s, u"homeB"_s}) {
                for (const auto &[path, entries] : journalsOf(csv, home)) {
                    QHash<QString, JournalEvent> last;
                    for (const JournalEntry &e : entries) {
                        if (!e.address.isEmpty() && e.event != JournalEvent::Client && e.event != JournalEvent::Message)
                            last.insert(e.address, e.event);
                    }
                    for (auto it = last.cbegin(); it != last.cend(); ++it) {
                        if (it.value() == JournalEvent::Sent)
                            sent.insert(it.key());
                        if (it.value() == JournalEvent::Attempting || it.value() == JournalEvent::Unknown)
                            inDoubt.insert(it.key());
                    }
                }
            }
            count(round, clients, inDoubt - sent, f);
        }
        return f;
    }

private:
    /// Runs the mailing on `csv` from each of `homes` in turn, to the end: each sends what is
    /// left, or says the mailing was already sent.
    void runAfter(const QString &csv, const QStringList &homes, RaceFigures &f)
    {
        for (const QString &home : homes) {
            QString err;
            const int code = runProgram(runArgs(csv), &err, home);
            if (code != 0 && !(code == 2 && err.contains(u"already sent"_s)))
                f.problems.append(
                    u"a run from %1 after race %2 ended with %3: %4"_s.arg(home).arg(f.races).arg(code).arg(
                        err.trimmed().left(300)));
        }
    }

    /// Counts what the clients of `round` received: a client of `inDoubt` that got nothing is
    /// "may have been sent", not lost.
    void count(int round, int clients, const QSet<QString> &inDoubt, RaceFigures &f)
    {
        const QHash<QString, QList<QByteArray>> got = receivedBy();
        for (int i = 1; i <= clients; ++i) {
            const QList<QByteArray> messages = got.value(address(round, i));
            f.duplicates += std::max<int>(0, int(messages.size()) - 1);
            if (inDoubt.contains(address(round, i)))
                ++f.unknown;
            else
                f.lost += messages.isEmpty() ? 1 : 0;
            for (const QByteArray &raw : messages)
                f.wrongDocuments += hasOwnDocument(raw, round, i) ? 0 : 1;
        }
        f.clients += clients;
        ++f.races;
    }

    /// The end of what the last run wrote on its standard error.
    QString lastRunsErrors() const
    {
        QFile file(m_home.filePath(u"run.err"_s));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(600)).trimmed() : QString();
    }

    /// The line a run writes when the server put a message off and it waits to try again.
    static constexpr QByteArrayView kWaitLine = "Server busy - trying again";

    /// The Message-ID header of `message`, or empty.
    static QByteArray messageIdOf(const QByteArray &message)
    {
        for (const QByteArray &line : message.split('\n')) {
            if (line.trimmed().isEmpty())
                break;
            if (line.toLower().startsWith("message-id:"))
                return line.mid(11).trimmed();
        }
        return {};
    }
    static QString address(int round, int client) { return u"r%1c%2@example.org"_s.arg(round).arg(client); }
    static QByteArray documentOf(int round, int client)
    {
        // Short enough to be one base64 line, so that a message holds it as one piece.
        return u"Document of client C%1 in round %2\n"_s.arg(client).arg(round).toUtf8();
    }
    bool hasOwnDocument(const QByteArray &raw, int round, int client) const
    {
        return !m_options.documents || raw.contains(documentOf(round, client).toBase64());
    }

    QStringList runArgs(const QString &csv) const
    {
        QStringList args{u"run"_s,    u"--csv"_s,       csv,        u"--subject"_s, u"Documents"_s,
                         u"--body"_s, u"Dear client"_s, u"--yes"_s, u"--resume"_s};
        if (m_options.documents)
            args << u"--mode"_s << u"client"_s;
        return args;
    }

    /// A new client list in the folder `name` (with each client's document when asked); its path,
    /// or empty with a problem noted.
    QString writeRound(const QString &name, int round, int clients, QStringList *problems) const
    {
        const QString csv = m_home.filePath(name + u"/clients.csv"_s);
        QDir().mkpath(QFileInfo(csv).path());
        QByteArray content;
        for (int i = 1; i <= clients; ++i) {
            content += u"C%1,%2\r\n"_s.arg(i).arg(address(round, i)).toUtf8();
            if (!m_options.documents)
                continue;
            QFile document(QFileInfo(csv).dir().filePath(u"Invoice_C%1.txt"_s.arg(i)));
            if (!document.open(QIODevice::WriteOnly) || document.write(documentOf(round, i)) < 0) {
                problems->append(u"cannot write "_s + document.fileName());
                return {};
            }
        }
        QFile file(csv);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            problems->append(u"cannot write "_s + csv);
            return {};
        }
        return csv;
    }

    void setUp(QProcess &process, const QStringList &args, const QString &home = {}) const
    {
        const QString root = home.isEmpty() ? m_home.path() : m_home.filePath(home);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, root + u"/config"_s);
        env.insert(u"XDG_DATA_HOME"_s, root + u"/data"_s);
        if (m_imap)
            env.insert(u"CURL_CA_BUNDLE"_s, testCaFile());
        process.setProcessEnvironment(env);
        process.setProgram(qEnvironmentVariable("QUORVALE_BINARY"));
        process.setArguments(args);
    }

    /// One run with --yes --resume; SIGKILL after `killAfterMs` (never when negative), counted
    /// from the start or, with a `trigger`, from the first output line holding it (no kill when
    /// none comes). The exit status, or -1 when it was killed.
    int start(const QString &csv, int killAfterMs, QByteArrayView trigger, KillFigures &figures)
    {
        const qsizetype journalsBefore = journalsOf(csv).size();
        QProcess process;
        setUp(process, runArgs(csv));
        if (trigger.isEmpty())
            process.setStandardOutputFile(QProcess::nullDevice());
        // Kept until the next run: a run that ends badly is reported with what it said.
        process.setStandardErrorFile(m_home.filePath(u"run.err"_s));
        process.start();
        ++figures.runs;
        if (!process.waitForStarted(30000)) {
            figures.problems.append(u"the program did not start"_s);
            return 1;
        }
        if (!trigger.isEmpty()) {
            QByteArray out;
            const QDeadlineTimer deadline(300000);
            while (!out.contains(trigger) && process.state() == QProcess::Running && !deadline.hasExpired()) {
                if (process.waitForReadyRead(100))
                    out += process.readAllStandardOutput();
            }
            if (!out.contains(trigger))
                killAfterMs = -1;
        }
        if (killAfterMs >= 0 && !process.waitForFinished(killAfterMs)) {
            ::kill(pid_t(process.processId()), SIGKILL);
            process.waitForFinished(30000);
            ++figures.kills;
            ++figures.killedWhere[whereKilled(csv, journalsBefore, !trigger.isEmpty())];
            return -1;
        }
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(300000)) {
            process.kill();
            process.waitForFinished();
            figures.problems.append(u"a run did not end"_s);
            return 1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 1;
    }

    /// Where the run on `csv` was when it was killed, as its journal (the newest, when there are
    /// more than `journalsBefore`) shows it.
    QString whereKilled(const QString &csv, qsizetype journalsBefore, bool waiting) const
    {
        const auto journals = journalsOf(csv);
        if (journals.size() <= journalsBefore)
            return u"before its journal (start, size probe)"_s;
        const QList<JournalEntry> &entries = journals.last().second;
        const auto client = std::find_if(entries.crbegin(), entries.crend(), [](const JournalEntry &e) {
            return e.line > 0 && e.event != JournalEvent::Client;
        });
        if (client == entries.crend())
            return u"before the first client (size probe, question)"_s;
        if (waiting)
            return u"in a wait to try again"_s;
        if (!entries.isEmpty() &&
            (entries.last().event == JournalEvent::Completed || entries.last().event == JournalEvent::Aborted ||
             entries.last().event == JournalEvent::Stopped))
            return u"while ending"_s;
        if (client->event == JournalEvent::Attempting)
            return u"during a send"_s;
        if (client->event == JournalEvent::Sent)
            return m_imap ? u"after a send (Sent copy, pause)"_s : u"after a send (pause)"_s;
        if (client->event == JournalEvent::Copied || client->event == JournalEvent::CopyFailed)
            return u"after a send's copy (pause)"_s;
        return u"between clients"_s;
    }

    /// The journals of the runs on `csv`, oldest first, by path.
    QList<std::pair<QString, QList<JournalEntry>>> journalsOf(const QString &csv, const QString &home = {}) const
    {
        QList<std::pair<QString, QList<JournalEntry>>> found;
        const QDir runs(QDir(dataFolder(home)).filePath(u"runs"_s));
        for (const QString &name : runs.entryList({u"run-*.csv"_s}, QDir::Files, QDir::Name)) {
            QList<JournalEntry> entries;
            readJournal(runs.filePath(name), &entries, nullptr);
            const bool ours = std::any_of(entries.cbegin(), entries.cend(), [&](const JournalEntry &e) {
                return e.event == JournalEvent::ClientFile && e.file == QFileInfo(csv).absoluteFilePath();
            });
            if (ours)
                found.append({runs.filePath(name), entries});
        }
        return found;
    }

    /// The last line of the newest journal of `csv`.
    QString newestEnd(const QString &csv) const
    {
        const auto journals = journalsOf(csv);
        return journals.isEmpty() || journals.last().second.isEmpty()
                   ? QString()
                   : journalEventName(journals.last().second.last().event);
    }

    /// The messages the server accepted, by recipient.
    QHash<QString, QList<QByteArray>> receivedBy() const
    {
        QHash<QString, QList<QByteArray>> got;
        for (const auto &[rcpt, raw] : received()) {
            for (const QString &to : rcpt)
                got[to].append(raw);
        }
        return got;
    }

    void check(int round, const QString &csv, int clients, KillFigures &figures)
    {
        const QHash<QString, QList<QByteArray>> got = receivedBy();
        // Each client's last outcome over the round's journals, oldest first; an attempt with no
        // outcome after it is a send the program died in.
        QHash<QString, QString> last;
        QHash<QString, int> sentLines;
        for (const auto &[path, entries] : journalsOf(csv)) {
            if ((QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther)) != 0)
                figures.problems.append(u"journal readable by others: "_s + path);
            for (const JournalEntry &e : std::as_const(entries)) {
                if (e.address.isEmpty() || e.event == JournalEvent::Client)
                    continue;
                if (e.event == JournalEvent::Sent) {
                    ++sentLines[e.address];
                    if (!e.detail.startsWith("250"_L1))
                        figures.problems.append(u"sent without the server's reply: "_s + e.detail);
                }
                // The lines about a message's copy in Sent say nothing of what the client received.
                if (e.event == JournalEvent::Message || e.event == JournalEvent::Copied ||
                    e.event == JournalEvent::CopyFailed || e.event == JournalEvent::CopyNotMade)
                    continue;
                last.insert(e.address,
                            journalEventName(e.event == JournalEvent::Attempting ? JournalEvent::Unknown : e.event));
            }
        }
        // Each message a client was journalled sent owes one copy in Sent, found by its Message-ID.
        QHash<QByteArray, int> copies;
        if (m_imap) {
            for (const StoredMessage &copy : m_imap->folder(u"Sent"_s))
                ++copies[messageIdOf(copy.bytes)];
        }
        for (int i = 1; i <= clients; ++i) {
            const QString to = address(round, i);
            const QList<QByteArray> messages = got.value(to);
            const int count = int(messages.size());
            const QString outcome = last.value(to);
            if (m_imap && outcome == "sent"_L1 && count == 1) {
                const int made = copies.value(messageIdOf(messages.first()));
                figures.sentWithoutCopy += made == 0 ? 1 : 0;
                figures.copiedTwice += made > 1 ? 1 : 0;
            }
            figures.duplicates += std::max(0, count - 1);
            for (const QByteArray &raw : messages) {
                if (!hasOwnDocument(raw, round, i)) {
                    ++figures.wrongDocuments;
                    figures.problems.append(to + u" received a message without its own document"_s);
                }
            }
            if (outcome == "unknown"_L1) {
                ++figures.unknown;
                figures.unknownArrived += count > 0 ? 1 : 0;
            } else if (count == 0) {
                ++figures.lost;
            }
            if (outcome != "sent"_L1 && outcome != "unknown"_L1)
                figures.problems.append(to + u" ends as \""_s + outcome + u'"');
            if (outcome == "sent"_L1 && count != 1)
                figures.problems.append(to + u" journalled sent, received %1"_s.arg(count));
            if (sentLines.value(to) > 1)
                figures.problems.append(to + u" journalled sent more than once"_s);
            if (count > 1)
                figures.problems.append(to + u" received %1 messages"_s.arg(count));
        }
    }

    KillOptions m_options;
    QTemporaryDir m_home;
    std::unique_ptr<SmtpServer> m_server;
    std::unique_ptr<ProviderSim> m_sim;
    std::unique_ptr<DovecotServer> m_imap;
};

} // namespace quorvale::test
