#pragma once

// Keeping to a mail provider's sending limits: from the times of the messages sent in the last 24
// hours (every run's journal holds them), how many may go now, when the next may go, and when the
// ones beyond the daily limit can.

#include "auth/providertable.h"

#include <QDateTime>
#include <QList>

#include <optional>

namespace quorvale {

/// What the limits allow at one moment.
struct SendingAllowance
{
    /// How many may go at once now, under both limits (capped at the number wanted).
    qint64 now = 0;
    /// Of the number wanted, how many the daily limit lets go from now on, before `restAt`.
    qint64 withinDay = 0;
    /// When the next message may go: now when `now` > 0, else when a send leaves the minute's or
    /// the day's window. Invalid when nothing is wanted.
    QDateTime nextAt;
    /// When the messages beyond `withinDay` can start; none when every one wanted fits the day.
    std::optional<QDateTime> restAt;
};

/// The allowance under `limits` (0: no limit) for `wanted` more messages at `now`, given the times
/// `sent` of the messages sent so far (in any order; older than 24 hours or not, as the journals
/// hold them). The windows roll: a message counts for the minute for 60 seconds after it was sent
/// and for the day for 24 hours; one sent at a time after `now` (a clock set back) counts as
/// sent, until its own window ends.
SendingAllowance sendingAllowance(const SendingLimits &limits, const QList<QDateTime> &sent, const QDateTime &now,
                                  qint64 wanted);

/// The times of the messages that every run journal in `folder` records as sent (or as perhaps
/// delivered, which the provider may have counted) at `since` or later. A journal that does not
/// read cleanly counts up to where it does.
QList<QDateTime> journalSendTimes(const QString &folder, const QDateTime &since);

} // namespace quorvale
