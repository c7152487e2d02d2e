#pragma once

// Fakes for the run engine's remaining seams (settings store, mailer, printer, observer) and a
// harness that records one trace of everything a run does: status lines verbatim, "~N" for the
// time the run paused before the next event, and "=> address | attachment" for each send.

#include "run/batchrun.h"
#include "run/pause.h"
#include "run/printer.h"
#include "settings/settingsstore.h"
#include "support/fakemailer.h"
#include "support/fakes.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

namespace quorvale::test {

using namespace Qt::StringLiterals;

class FakeStore final : public SettingsStore
{
public:
    QVariant RegReadValue(const QString &name, ValueKind, const QVariant &defaultValue) const override
    {
        return values.value(name, defaultValue);
    }
    bool RegWriteValue(const QString &name, ValueKind, const QVariant &value, QString *error) override
    {
        if (failWrites) {
            if (error)
                *error = u"settings file is read-only"_s;
            return false;
        }
        writes.append(name);
        values.insert(name, value);
        return true;
    }
    QMap<QString, QVariant> values;
    QStringList writes;
    bool failWrites = false;
};

/// Records warnings and questions; answers with the next of `answers`, then with `answer`.
class QueuedPrompter final : public Prompter
{
public:
    void warn(const QString &message) override { warnings.append(message); }
    bool askYesNo(const QString &question) override
    {
        questions.append(question);
        return answers.isEmpty() ? answer : answers.takeFirst();
    }
    bool confirmStart(const QString &question, const QString &details, bool defaultNo) override
    {
        this->details.append(details);
        this->defaultNo.append(defaultNo);
        if (defaultNo) {
            questions.append(question);
            return answerDefaultNo;
        }
        return askYesNo(question);
    }
    int choose(const QString &question, const QStringList &, int defaultChoice) override
    {
        choiceDefaults.append(defaultChoice);
        return askYesNo(question) ? 0 : -1;
    }
    bool answer = true;
    QList<bool> answers;
    QList<int> choiceDefaults; ///< the default answer of each question with several answers
    QStringList warnings;
    QStringList questions;
    QStringList details; ///< what each confirmation showed under its question
    QList<bool> defaultNo; ///< whether each confirmation had No as its default
    bool answerDefaultNo = true; ///< the answer to a confirmation whose default is No
};

class FakePrinter final : public Printer
{
public:
    bool printDocument(const QString &path, QString *error) override
    {
        printed.append(path);
        if (fail && error)
            *error = u"no printer"_s;
        return !fail;
    }
    QStringList printed;
    bool fail = false;
};

class RecordingObserver final : public RunObserver
{
public:
    void emailProgress(int percent) override { events.append(u"email %1"_s.arg(percent)); }
    void printProgress(int value, int maximum) override { events.append(u"print %1/%2"_s.arg(value).arg(maximum)); }
    void runningChanged(bool running) override { events.append(running ? u"running"_s : u"idle"_s); }
    void runProgress(const RunProgress &p) override { progress.append(p); }
    void clientFailed(const ClientFailure &failure) override { failures.append(clientFailureText(failure)); }
    QStringList events;
    QList<RunProgress> progress;
    QStringList failures;
};

/// A status log that also notes when it was emptied.
class ClearingLog final : public StatusLog
{
public:
    std::function<void(const QString &)> onLine;
    int clears = 0;
    QStringList lines;
    void LogStatus(const QString &line) override
    {
        lines.append(line);
        if (onLine)
            onLine(line);
    }
    void clearStatus() override
    {
        ++clears;
        lines.clear();
    }
};

/// One run with every dependency faked except the CSV reader and the body file, which work on
/// real files in a temporary folder.
class RunHarness
{
public:
    RunHarness()
    {
        settings.SMTPServer = u"127.0.0.1"_s;
        settings.SSLport = u"25"_s;
        settings.UserName = u"user"_s;
        settings.Password = u"secret"_s;
        settings.DataFolder = dir.filePath(u"data"_s);
        request.csvPath = dir.filePath(u"clients.csv"_s);
        request.subject = u"Your statement"_s;
        request.body = u"Dear client,\r\nplease find it attached.\r\n"_s;
        log.onLine = [this](const QString &line) {
            flushPause();
            trace.append(line);
        };
        clock.onSleep = [this](std::chrono::milliseconds) {
            pausedMs += kPauseSliceMs;
            if (onSleep)
                onSleep();
        };
        mailer.onSend = [this](const MailMessage &m) {
            flushPause();
            trace.append(u"=> "_s + m.RecipientAddress + u" | "_s + QFileInfo(m.AttachmentPath).fileName());
            if (onSend)
                onSend(m);
        };
    }

    void writeFile(const QString &name, const QByteArray &content = QByteArray("x"))
    {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void writeCsv(const QByteArray &content) { writeFile(u"clients.csv"_s, content); }

    RunDependencies deps()
    {
        return RunDependencies{store,   log,      prompter, realMailer ? *realMailer : mailer, printer, clock,
                               control, &observer, [this] { return settings; }};
    }

    /// prepare() and, when it says so, execute(); returns the outcome.
    RunOutcome run()
    {
        BatchRun batch(deps());
        if (batch.prepare(request))
            batch.execute();
        flushPause();
        return batch.outcome();
    }

    /// The trace from "Start processing..." on (the counts before it are checked elsewhere).
    QStringList passes() const
    {
        const qsizetype start = trace.indexOf(u"Start processing..."_s);
        return start < 0 ? QStringList() : trace.mid(start + 1);
    }

    /// Requests an abort during the pause that follows the trace entry `entry` (the n-th such
    /// entry, counting from 1).
    void abortInPauseAfter(const QString &entry, int occurrence = 1)
    {
        onSleep = [this, entry, occurrence] {
            if (pausedMs == kPauseSliceMs && trace.count(entry) == occurrence && trace.last() == entry)
                control.abort().request();
        };
    }

    void flushPause()
    {
        if (pausedMs > 0)
            trace.append(u"~"_s + QString::number(pausedMs));
        pausedMs = 0;
    }

    QTemporaryDir dir;
    AppSettings settings;
    RunRequest request;
    FakeStore store;
    ClearingLog log;
    QueuedPrompter prompter;
    FakeMailer mailer;
    Mailer *realMailer = nullptr; ///< when set, the run sends through it instead of `mailer`
    FakePrinter printer;
    FakeClock clock;
    RunControl control;
    RecordingObserver observer;
    QStringList trace;
    qint64 pausedMs = 0;
    std::function<void()> onSleep;
    std::function<void(const MailMessage &)> onSend;
};

} // namespace quorvale::test
