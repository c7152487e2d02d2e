#pragma once

namespace quorvale {

class AbortRequest;
class Clock;

/// The length of one pause slice: the abort request is looked at after every slice.
inline constexpr int kPauseSliceMs = 100;

/// Waits `milliseconds` in 100 ms slices and returns early once an abort is requested.
/// Every pause lasts at least one slice, also for 0 or a negative wait, and ends at the
/// first clock reading past the deadline; a reading earlier than the start ends it at once.
void PauseFor(double milliseconds, Clock &clock, const AbortRequest &abort);

} // namespace quorvale
