#include "gui/workerthread.h"

#include <QThread>

#include <utility>

namespace quorvale {

WorkerThread::~WorkerThread()
{
    wait();
}

bool WorkerThread::start(const QString &name, std::function<void()> work, std::function<void()> done)
{
    if (m_thread)
        return false;
    m_thread = QThread::create(std::move(work));
    m_thread->setObjectName(name);
    QThread *thread = m_thread;
    QObject::connect(thread, &QThread::finished, m_owner, [this, thread, done = std::move(done)] {
        if (m_thread != thread)
            return; // waited for already
        m_thread = nullptr;
        thread->wait();
        thread->deleteLater();
        if (done)
            done();
    });
    m_thread->start();
    return true;
}

void WorkerThread::wait()
{
    if (QThread *thread = std::exchange(m_thread, nullptr)) {
        thread->wait();
        delete thread;
    }
}

} // namespace quorvale
