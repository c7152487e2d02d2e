#pragma once

// A harness that runs the run engine over the shared fakes and records one trace of everything a
// run does: status lines verbatim, "~N" for the time the run paused before the next event, and
// "=> address | attachment" for each send.

#include "run/batchrun.h"
#include "run/pause.h"
#include "support/testfakes.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace quorvale::test {

using namespace Qt::StringLiterals;

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
    RecordingLog log;
    ScriptedPrompter prompter;
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
