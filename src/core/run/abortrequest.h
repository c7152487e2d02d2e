#pragma once

#include <atomic>

namespace quorvale {

/// The user's request to abort a run: set by the Abort button (or Ctrl-C), read by the run's
/// check points, the pauses and the mail send, cleared by the run itself. Safe to use from any
/// thread, and request() from a signal handler.
///
/// The first request stops the run at its next check point but lets a message already being
/// handed over finish (for a while), so that its outcome is known; a second request, or
/// requestNow(), also cuts that message off.
class AbortRequest
{
public:
    void request() { m_requests.fetch_add(1, std::memory_order_acq_rel); }
    /// Stops at once, cutting a send in progress: the program is ending.
    void requestNow() { m_requests.fetch_add(2, std::memory_order_acq_rel); }
    void clear() { m_requests.store(0, std::memory_order_release); }
    bool isRequested() const { return m_requests.load(std::memory_order_acquire) > 0; }
    /// True when a send in progress is to be cut off now rather than let finish.
    bool isUrgent() const { return m_requests.load(std::memory_order_acquire) > 1; }

private:
    std::atomic<int> m_requests{0};
    static_assert(std::atomic<int>::is_always_lock_free);
};

} // namespace quorvale
