#pragma once

#include <atomic>

namespace quorvale {

/// The user's request to abort a run: set by the Abort button (or Ctrl-C), read by the run's
/// check points, the pauses and the mail send, cleared by the run itself. Safe to use from any thread.
class AbortRequest
{
public:
    void request() { m_requested.store(true, std::memory_order_release); }
    void clear() { m_requested.store(false, std::memory_order_release); }
    bool isRequested() const { return m_requested.load(std::memory_order_acquire); }

private:
    std::atomic<bool> m_requested{false};
};

} // namespace quorvale
