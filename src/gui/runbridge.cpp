#include "gui/runbridge.h"

#include <QThread>

namespace quorvale {

RunBridge::RunBridge(QObject *parent) : QObject(parent) {}

void RunBridge::LogStatus(const QString &line)
{
    QMutexLocker lock(&m_mutex);
    m_lines.append(line);
    deliverLocked(lock);
}

void RunBridge::emailProgress(int percent)
{
    QMutexLocker lock(&m_mutex);
    m_emailPercent = percent;
    deliverLocked(lock);
}

void RunBridge::printProgress(int value, int maximum)
{
    QMutexLocker lock(&m_mutex);
    m_printProgress = std::make_pair(value, maximum);
    deliverLocked(lock);
}

void RunBridge::runningChanged(bool running)
{
    QMutexLocker lock(&m_mutex);
    m_running = running;
    deliverLocked(lock);
}

void RunBridge::runProgress(const RunProgress &progress)
{
    QMutexLocker lock(&m_mutex);
    m_progress = progress;
    deliverLocked(lock);
}

void RunBridge::deliverLocked(QMutexLocker<QMutex> &lock)
{
    if (m_discarding)
        return;
    if (QThread::currentThread() == thread()) {
        lock.unlock();
        flush();
        return;
    }
    if (!m_flushPosted) {
        m_flushPosted = true;
        QMetaObject::invokeMethod(this, &RunBridge::flush, Qt::QueuedConnection);
    }
}

void RunBridge::flush()
{
    QStringList lines;
    std::optional<int> emailPercent;
    std::optional<std::pair<int, int>> printProgress;
    std::optional<bool> running;
    std::optional<RunProgress> progress;
    bool more = false;
    {
        QMutexLocker lock(&m_mutex);
        m_flushPosted = false;
        if (m_discarding)
            return;
        if (m_lines.size() <= kMaxLinesPerBatch) {
            lines.swap(m_lines);
        } else {
            lines = m_lines.mid(0, kMaxLinesPerBatch);
            m_lines.remove(0, kMaxLinesPerBatch);
            more = true;
            m_flushPosted = true;
        }
        emailPercent = std::exchange(m_emailPercent, std::nullopt);
        printProgress = std::exchange(m_printProgress, std::nullopt);
        running = std::exchange(m_running, std::nullopt);
        progress = std::exchange(m_progress, std::nullopt);
    }
    if (!lines.isEmpty())
        Q_EMIT linesLogged(lines);
    if (emailPercent)
        Q_EMIT emailProgressChanged(*emailPercent);
    if (printProgress)
        Q_EMIT printProgressChanged(printProgress->first, printProgress->second);
    if (progress)
        Q_EMIT progressChanged(*progress);
    if (running)
        Q_EMIT runningStateChanged(*running);
    // The rest of a long backlog waits for the next pass so that timers and input get their turn.
    if (more)
        QMetaObject::invokeMethod(this, &RunBridge::flush, Qt::QueuedConnection);
}

bool RunBridge::hasPendingLines()
{
    QMutexLocker lock(&m_mutex);
    return !m_lines.isEmpty();
}

void RunBridge::discard()
{
    QMutexLocker lock(&m_mutex);
    m_discarding = true;
    m_lines.clear();
}

} // namespace quorvale
