#include "run/pause.h"

#include "run/abortrequest.h"
#include "run/clock.h"

#include <thread>

namespace quorvale {

using std::chrono::milliseconds;

void PauseFor(double ms, Clock &clock, const AbortRequest &abort)
{
    const milliseconds start = clock.tick();
    const double deadline = static_cast<double>(clock.tick().count()) + ms;
    const auto slice = [&] {
        clock.sleep(milliseconds(kPauseSliceMs));
        return clock.tick();
    };
    milliseconds now = slice();
    if (abort.isRequested())
        return;
    while (static_cast<double>(now.count()) <= deadline && now >= start) {
        now = slice();
        if (abort.isRequested())
            return;
    }
}

std::chrono::milliseconds SystemClock::tick() const
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

void SystemClock::sleep(milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

QDateTime SystemClock::currentDateTime() const
{
    return QDateTime::currentDateTime();
}

} // namespace quorvale
