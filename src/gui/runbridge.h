#pragma once

#include "run/batchrun.h"
#include "run/statuslog.h"

#include <QMutex>
#include <QObject>
#include <QStringList>

#include <optional>
#include <utility>

namespace quorvale {

/// Carries what a run reports from its worker thread to the window. Status lines are queued
/// and handed over in batches, progress is coalesced to its latest value, so a run that logs
/// thousands of lines a second never floods the UI thread's event queue. Calls made on the
/// UI thread itself (the run's preparation) are delivered at once.
class RunBridge final : public QObject, public StatusLog, public RunObserver
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunBridge)

public:
    /// Most lines handed to the window in one go; the rest follow in the next event-loop pass.
    static constexpr int kMaxLinesPerBatch = 250;

    explicit RunBridge(QObject *parent = nullptr);

    void LogStatus(const QString &line) override;
    void emailProgress(int percent) override;
    void printProgress(int value, int maximum) override;
    void runningChanged(bool running) override;
    void runProgress(const RunProgress &progress) override;

    /// Delivers what is pending now. UI thread only.
    void flush();
    /// From now on nothing is delivered any more (the program is ending).
    void discard();
    /// True while reported lines wait to be handed to the window.
    bool hasPendingLines();

Q_SIGNALS:
    void linesLogged(const QStringList &lines);
    void emailProgressChanged(int percent);
    void printProgressChanged(int value, int maximum);
    void runningStateChanged(bool running);
    void progressChanged(const quorvale::RunProgress &progress);

private:
    /// Called with m_mutex held: delivers now on the UI thread, else posts one flush.
    void deliverLocked(QMutexLocker<QMutex> &lock);

    QMutex m_mutex;
    QStringList m_lines;
    std::optional<int> m_emailPercent;
    std::optional<std::pair<int, int>> m_printProgress;
    std::optional<bool> m_running;
    std::optional<RunProgress> m_progress;
    bool m_flushPosted = false;
    bool m_discarding = false;
};

} // namespace quorvale
