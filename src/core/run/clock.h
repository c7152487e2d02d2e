#pragma once

#include <QDateTime>

#include <chrono>

namespace quorvale {

/// Time as the run sees it. Tests drive a fake one so that pacing is checked without sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    /// A monotonic reading; only differences between readings mean anything.
    virtual std::chrono::milliseconds tick() const = 0;
    /// Suspends the calling thread for the given time.
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    /// The local date and time, for the "Will resume at" line.
    virtual QDateTime currentDateTime() const = 0;
};

/// The real clock: steady_clock (never wraps) and the thread's own sleep.
class SystemClock final : public Clock
{
public:
    std::chrono::milliseconds tick() const override;
    void sleep(std::chrono::milliseconds duration) override;
    QDateTime currentDateTime() const override;
};

} // namespace quorvale
