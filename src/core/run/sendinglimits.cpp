#include "run/sendinglimits.h"

#include "run/journal.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <algorithm>

namespace quorvale {

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;
constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;

/// The sends still inside the window of `lengthMs` at `now`, oldest first, in milliseconds.
QList<qint64> inWindow(const QList<qint64> &sentMs, qint64 nowMs, qint64 lengthMs)
{
    QList<qint64> inside;
    for (qint64 t : sentMs) {
        if (t > nowMs - lengthMs)
            inside.append(t);
    }
    return inside;
}

} // namespace

SendingAllowance sendingAllowance(const SendingLimits &limits, const QList<QDateTime> &sent, const QDateTime &now,
                                  qint64 wanted)
{
    SendingAllowance allowance;
    if (wanted <= 0)
        return allowance;
    const qint64 nowMs = now.toMSecsSinceEpoch();
    QList<qint64> sentMs;
    for (const QDateTime &t : sent) {
        if (t.isValid())
            sentMs.append(t.toMSecsSinceEpoch());
    }
    std::sort(sentMs.begin(), sentMs.end());

    // The day: how many of those wanted fit, and when the first beyond them can go (the oldest send
    // of the window leaves it; with none, the first sent from now does, 24 hours on).
    qint64 dayLeft = wanted;
    const QList<qint64> day = inWindow(sentMs, nowMs, kDayMs);
    if (limits.perDay > 0) {
        dayLeft = std::clamp<qint64>(limits.perDay - day.size(), 0, wanted);
        if (dayLeft < wanted) {
            const qint64 needed = day.size() + dayLeft - limits.perDay + 1; // sends that must leave first
            const qint64 leaving = needed <= day.size() ? day.at(needed - 1) : nowMs;
            allowance.restAt = QDateTime::fromMSecsSinceEpoch(std::max(leaving + kDayMs, nowMs), now.timeZone());
        }
    }
    allowance.withinDay = dayLeft;

    // The minute: how many may go now, and when the next may.
    qint64 minuteLeft = dayLeft;
    const QList<qint64> minute = inWindow(sentMs, nowMs, kMinuteMs);
    if (limits.perMinute > 0)
        minuteLeft = std::clamp<qint64>(limits.perMinute - minute.size(), 0, dayLeft);
    allowance.now = minuteLeft;

    if (minuteLeft > 0) {
        allowance.nextAt = now;
    } else if (dayLeft == 0) {
        allowance.nextAt = *allowance.restAt;
    } else {
        // The minute is full: the next goes when its oldest send (that still counts) leaves it.
        const qint64 over = minute.size() - limits.perMinute; // sends beyond the limit, oldest first
        const qint64 leaving = minute.at(std::clamp<qint64>(over, 0, minute.size() - 1));
        allowance.nextAt = QDateTime::fromMSecsSinceEpoch(std::max(leaving + kMinuteMs, nowMs), now.timeZone());
    }
    return allowance;
}

QList<QDateTime> journalSendTimes(const QString &folder, const QDateTime &since)
{
    QList<QDateTime> times;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("run-*.csv")}, QDir::Files);
    for (const QFileInfo &info : files) {
        // A journal last written before the window holds no send inside it.
        if (info.lastModified() < since)
            continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        JournalParser parser;
        while (!file.atEnd()) {
            if (!parser.feed(file.read(1 << 20)))
                break;
        }
        for (const JournalEntry &entry : parser.entries()) {
            if ((entry.event == JournalEvent::Sent || entry.event == JournalEvent::Unknown) &&
                !entry.address.isEmpty() && entry.time >= since)
                times.append(entry.time);
        }
    }
    return times;
}

} // namespace quorvale
