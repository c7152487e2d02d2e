#pragma once

#include <QString>

#include <functional>

class QObject;
class QThread;

namespace quorvale {

/// Runs one piece of work at a time on a thread of its own, and tells its owner when it is done,
/// on the owner's thread. The owner never waits for it, except when it goes: then the work is
/// waited for (quit, wait, delete, as qBittorrent's GracefulDeleter does), so nothing is left
/// running against freed objects.
class WorkerThread
{
public:
    /// `owner` lives on the thread that is told when the work is done.
    explicit WorkerThread(QObject *owner) : m_owner(owner) {}
    /// Waits for work still under way.
    ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    /// Starts `work` on a new thread called `name`; `done` runs on the owner's thread once it has
    /// ended. False (and nothing started) while earlier work is still under way.
    bool start(const QString &name, std::function<void()> work, std::function<void()> done = {});
    /// True from start() until the work has ended and `done` was called.
    bool isRunning() const { return m_thread != nullptr; }
    /// Waits for the work to end; `done` is then not called.
    void wait();

private:
    QObject *m_owner;
    QThread *m_thread = nullptr;
};

} // namespace quorvale
