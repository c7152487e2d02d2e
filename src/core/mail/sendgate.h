#pragma once

#include "mail/mailer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quorvale {

/// Lets one holder at a time through. A caller on another thread waits (polling `aborted` while it
/// does); a second entry from the thread that already holds it is refused, because a send must
/// never nest inside another (a callback of a send starting a send).
class SendGate
{
public:
    enum class Entry
    {
        Entered,
        Nested,
        Aborted
    };

    Entry enter(const AbortPredicate &aborted, std::chrono::milliseconds pollInterval)
    {
        std::unique_lock lock(m_mutex);
        if (m_busy && m_owner == std::this_thread::get_id())
            return Entry::Nested;
        while (m_busy) {
            m_released.wait_for(lock, pollInterval);
            if (!m_busy)
                break;
            lock.unlock();
            const bool stop = aborted && aborted();
            lock.lock();
            if (stop)
                return Entry::Aborted;
        }
        m_busy = true;
        m_owner = std::this_thread::get_id();
        return Entry::Entered;
    }

    void leave()
    {
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
            m_owner = {};
        }
        m_released.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_busy = false;
    std::thread::id m_owner;
};

/// The one gate every send of the program passes: only one send is in flight at a time, whichever
/// mailer and thread it comes from.
inline SendGate &programSendGate()
{
    static SendGate gate;
    return gate;
}

/// Leaves the gate when it goes out of scope, if it was entered.
class SendGateGuard
{
public:
    SendGateGuard(SendGate &gate, const AbortPredicate &aborted, std::chrono::milliseconds pollInterval)
        : m_gate(gate), m_entry(gate.enter(aborted, pollInterval))
    {
    }
    ~SendGateGuard()
    {
        if (m_entry == SendGate::Entry::Entered)
            m_gate.leave();
    }
    SendGateGuard(const SendGateGuard &) = delete;
    SendGateGuard &operator=(const SendGateGuard &) = delete;
    SendGate::Entry entry() const { return m_entry; }

private:
    SendGate &m_gate;
    SendGate::Entry m_entry;
};

} // namespace quorvale
