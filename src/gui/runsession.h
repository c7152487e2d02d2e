#pragma once

#include "gui/appservices.h"
#include "gui/workerthread.h"
#include "run/batchrun.h"

#include <QObject>
#include <QStringList>

#include <memory>

class QWidget;

namespace quorvale {

class DialogPrompter;
class RunBridge;
class SettingsHolder;

/// The window's batch runs, one at a time: a run's preparation (checks, counts, the questions) on
/// the UI thread, its passes on a worker thread, and what it reports handed on as signals in the
/// order it happened. Owns the run, its thread, the bridge that carries its reports and the
/// prompter that asks its questions over `dialogParent`.
class RunSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunSession)

public:
    RunSession(const AppServices &services, SettingsHolder &settings, QWidget *dialogParent);
    ~RunSession() override;

    /// Starts a run of `request` with the attachment mode and common path set last. With a complete
    /// server setup the server is first asked, on the worker thread, how large a message it takes
    /// (at most kSizeProbeSeconds; no answer: nothing is said about sizes), and the run's
    /// preparation and its question follow when it has answered; Start stays disabled meanwhile.
    /// True when the run goes on (asking the server, or on its worker thread); false when a check,
    /// the list or the user stopped it.
    bool start(const RunRequest &request);
    static constexpr int kSizeProbeSeconds = 10;
    /// Asks the run to stop at its next check point, letting a message being handed over finish;
    /// asked again, cuts that message off too.
    void abort();
    /// What the run reads afresh for every client: the window may change it during a run.
    void setAttachmentMode(AttachmentMode mode);
    void setCommonAttachmentPath(const QString &path);
    /// From start() until the run's last line was handed on.
    bool isRunning() const { return m_active || m_probing; }
    /// What the last run did and its journal; empty until a run has ended.
    const RunTally &lastTally() const { return m_lastTally; }
    QString lastJournalPath() const { return m_lastJournalPath; }
    /// The largest message the server of `settings` takes, as it said when a run last started;
    /// none when it set no limit, was not asked, or the server has changed since.
    std::optional<qint64> knownSizeLimit(const AppSettings &settings) const;
    /// Ends a run where it stands (the program is ending): its closing lines are dropped, the
    /// pause or send it is in notices the abort within a slice, and its worker is waited for.
    void shutDown();

Q_SIGNALS:
    /// The status box and the bars are to be emptied: a new run shows its first line, or the user
    /// said No to it.
    void statusCleared();
    void linesLogged(const QStringList &lines);
    void emailProgressChanged(int percent);
    void printProgressChanged(int value, int maximum);
    /// True while a run is going or winding down: Start disabled, Abort enabled.
    void runningChanged(bool running);
    /// Where the run is: "client N of M", the counts so far and the time left.
    void progressChanged(const quorvale::RunProgress &progress);
    /// True while the server is asked how large a message it takes, before the run's question:
    /// Start disabled, Abort enabled (it cancels the start). No run yet: the last run's summary stays.
    void askingServerChanged(bool asking);
    /// The run resumes with the interrupted run's attachment and print choices: the window shows them.
    void choicesRestored(quorvale::AttachmentMode mode, const QString &commonPath, bool print);
    /// The user asked for Setup from the warning that the mail server setup is incomplete.
    void setupRequested();
    /// A run has ended and its last line was handed on; lastTally() says what it did.
    void finished();

private:
    /// The run's preparation on the UI thread (its checks and question), then its passes on the worker.
    bool prepareAndRun(const RunRequest &request);
    void showLines(const QStringList &lines);
    void finishOnceShown();

    const AppServices m_services;
    SettingsHolder &m_settings;
    QWidget *m_dialogParent;
    RunControl m_control;
    RunBridge *m_bridge;
    std::unique_ptr<DialogPrompter> m_prompter;
    std::unique_ptr<BatchRun> m_run;
    WorkerThread m_worker{this};
    RunTally m_lastTally;
    QString m_lastJournalPath;
    bool m_active = false;
    bool m_probing = false; ///< the server is being asked for its size limit before the run's question
    QString m_sizeLimitServer; ///< the server m_sizeLimit was asked of ("host:port")
    std::optional<qint64> m_sizeLimit;
    bool m_clearOnNextLine = false;
    bool m_closing = false;
};

} // namespace quorvale
