#pragma once

// Runs the quorvale program against a real SMTP server, kills it with SIGKILL at random moments,
// resumes it until every client was dealt with, and compares what the run journals say with what
// the server received. Used by the kill test and by bench_run.

#include "run/journal.h"
#include "support/smtpfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

namespace quorvale::test {

using namespace Qt::StringLiterals;

struct KillFigures
{
    int rounds = 0;         ///< client files delivered to the end
    int clients = 0;        ///< clients over all rounds
    int runs = 0;           ///< program starts
    int kills = 0;          ///< runs ended by SIGKILL
    int duplicates = 0;     ///< messages a client received beyond its first
    int lost = 0;           ///< clients that received nothing and are not journalled "unknown"
    int unknown = 0;        ///< clients journalled "unknown" at the end (skipped on resume)
    int unknownArrived = 0; ///< of those, how many had in fact received their message
    QStringList problems;   ///< every mismatch between the journals, the server and the rules
};

class KillHarness
{
public:
    KillHarness() { m_home.setAutoRemove(true); }

    bool isReady() const { return m_home.isValid() && m_server.isRunning(); }
    QString dataFolder() const { return m_home.filePath(u"data/Quorvale"_s); }
    QString filePath(const QString &name) const { return m_home.filePath(name); }
    const SmtpServer &server() const { return m_server; }

    /// Runs the program to its end with `args`; its exit status, and its standard error in `err`.
    int runProgram(const QStringList &args, QString *err = nullptr)
    {
        QProcess process;
        setUp(process, args);
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

    /// Saves the server's settings through the program: scheduling on, no delay between sends.
    bool configure(QString *error)
    {
        const AppSettings s = m_server.settings();
        const QList<QStringList> sets = {{u"SMPTServer"_s, s.SMTPServer},
                                         {u"SSLport"_s, s.SSLport},
                                         {u"AuthType"_s, QString::number(s.AuthType)},
                                         {u"UserName"_s, s.UserName},
                                         {u"PW"_s, s.Password},
                                         {u"EmailFrom"_s, s.EmailFrom},
                                         {u"EnableSchedule"_s, u"1"_s},
                                         {u"DelayBetweenSends"_s, u"0"_s},
                                         {u"GroupSize"_s, u"100000"_s},
                                         {u"GroupDelay"_s, u"0"_s}};
        for (const QStringList &set : sets) {
            QProcess process;
            setUp(process, QStringList{u"config"_s, u"set"_s} + set);
            process.start();
            if (!process.waitForFinished(30000) || process.exitCode() != 0) {
                *error = u"config set "_s + set.first() + u" failed"_s;
                return false;
            }
        }
        return true;
    }

    /// Rounds of `clientsPerRound` clients until at least `targetKills` runs were killed; each
    /// kill comes after a random wait of up to `maxDelayMs` from the program's start.
    KillFigures run(int targetKills, int clientsPerRound, int maxDelayMs, quint32 seed)
    {
        KillFigures figures;
        QRandomGenerator random(seed);
        while (figures.kills < targetKills && figures.problems.isEmpty()) {
            const int round = figures.rounds;
            const QString csv = m_home.filePath(u"round%1/clients.csv"_s.arg(round));
            QDir().mkpath(QFileInfo(csv).path());
            QByteArray content;
            for (int i = 1; i <= clientsPerRound; ++i)
                content += u"C%1,r%2c%1@example.org\r\n"_s.arg(i).arg(round).toUtf8();
            QFile file(csv);
            if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
                figures.problems.append(u"cannot write "_s + csv);
                break;
            }
            file.close();

            bool done = false;
            while (!done && figures.kills < targetKills && figures.problems.isEmpty()) {
                const int exitCode = start(csv, int(random.bounded(maxDelayMs + 1)), figures);
                // A run killed after it wrote its last line (while the program was ending) completed:
                // a further run would rightly go over every client again.
                done = exitCode == 0 || (exitCode < 0 && newestEnd(csv) == "completed"_L1);
                if (exitCode > 0)
                    figures.problems.append(u"a run ended with exit status %1"_s.arg(exitCode));
            }
            // The last run of the round goes to the end.
            if (!done && figures.problems.isEmpty() && start(csv, -1, figures) != 0)
                figures.problems.append(u"the last run of round %1 did not complete"_s.arg(round));
            check(round, csv, clientsPerRound, figures);
            figures.clients += clientsPerRound;
            ++figures.rounds;
        }
        return figures;
    }

private:
    void setUp(QProcess &process, const QStringList &args) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_s, m_home.filePath(u"config"_s));
        env.insert(u"XDG_DATA_HOME"_s, m_home.filePath(u"data"_s));
        process.setProcessEnvironment(env);
        process.setProgram(qEnvironmentVariable("QUORVALE_BINARY"));
        process.setArguments(args);
    }

    /// One run with --yes --resume; SIGKILL after `killAfterMs` (never when negative). The exit
    /// status, or -1 when it was killed.
    int start(const QString &csv, int killAfterMs, KillFigures &figures)
    {
        QProcess process;
        setUp(process, {u"run"_s, u"--csv"_s, csv, u"--subject"_s, u"Documents"_s, u"--body"_s, u"Dear client"_s,
                        u"--yes"_s, u"--resume"_s});
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start();
        ++figures.runs;
        if (!process.waitForStarted(30000)) {
            figures.problems.append(u"the program did not start"_s);
            return 1;
        }
        if (killAfterMs >= 0 && !process.waitForFinished(killAfterMs)) {
            ::kill(pid_t(process.processId()), SIGKILL);
            process.waitForFinished(30000);
            ++figures.kills;
            return -1;
        }
        if (process.state() != QProcess::NotRunning && !process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished();
            figures.problems.append(u"a run did not end"_s);
            return 1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 1;
    }

    /// The journals of the runs on `csv`, oldest first, by path.
    QList<std::pair<QString, QList<JournalEntry>>> journalsOf(const QString &csv) const
    {
        QList<std::pair<QString, QList<JournalEntry>>> found;
        const QDir runs(QDir(dataFolder()).filePath(u"runs"_s));
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

    void check(int round, const QString &csv, int clients, KillFigures &figures)
    {
        QHash<QString, int> received;
        for (const ReceivedMessage &message : m_server.messages()) {
            for (const QString &to : message.rcptTo)
                ++received[to];
        }
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
                last.insert(e.address,
                            journalEventName(e.event == JournalEvent::Attempting ? JournalEvent::Unknown : e.event));
            }
        }
        for (int i = 1; i <= clients; ++i) {
            const QString address = u"r%1c%2@example.org"_s.arg(round).arg(i);
            const int count = received.value(address);
            const QString outcome = last.value(address);
            figures.duplicates += std::max(0, count - 1);
            if (outcome == "unknown"_L1) {
                ++figures.unknown;
                figures.unknownArrived += count > 0 ? 1 : 0;
            } else if (count == 0) {
                ++figures.lost;
            }
            if (outcome != "sent"_L1 && outcome != "unknown"_L1)
                figures.problems.append(address + u" ends as \""_s + outcome + u'"');
            if (outcome == "sent"_L1 && count != 1)
                figures.problems.append(address + u" journalled sent, received %1"_s.arg(count));
            if (sentLines.value(address) > 1)
                figures.problems.append(address + u" journalled sent more than once"_s);
            if (count > 1)
                figures.problems.append(address + u" received %1 messages"_s.arg(count));
        }
    }

    QTemporaryDir m_home;
    SmtpServer m_server;
};

} // namespace quorvale::test
