#pragma once

// Fakes at the seams shared by the tests: a clock that advances only when slept on, a status
// log that records lines, and a prompter with scripted answers.

#include "run/clock.h"
#include "run/prompter.h"
#include "run/statuslog.h"

#include <QDateTime>
#include <QMutex>
#include <QStringList>

#include <functional>

namespace quorvale::test {

/// Time stands still until someone sleeps; each sleep advances it exactly. `onSleep` lets a
/// test act at a given moment (request an abort, say).
class FakeClock final : public Clock
{
public:
    std::chrono::milliseconds tick() const override { return m_now; }
    void sleep(std::chrono::milliseconds duration) override
    {
        m_now += duration;
        m_slept += duration;
        ++m_sleeps;
        if (onSleep)
            onSleep(m_now);
    }
    QDateTime currentDateTime() const override { return m_start.addMSecs(m_now.count()); }

    void set(std::chrono::milliseconds now) { m_now = now; }
    std::chrono::milliseconds slept() const { return m_slept; }
    int sleeps() const { return m_sleeps; }

    std::function<void(std::chrono::milliseconds now)> onSleep;

private:
    QDateTime m_start{QDate(2026, 1, 2), QTime(13, 4, 5)};
    std::chrono::milliseconds m_now{1'000'000};
    std::chrono::milliseconds m_slept{0};
    int m_sleeps = 0;
};

/// Records every status line; safe to write from a worker thread.
class RecordingLog final : public StatusLog
{
public:
    void LogStatus(const QString &line) override
    {
        QMutexLocker lock(&m_mutex);
        m_lines.append(line);
        if (onLine)
            onLine(line);
    }
    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    std::function<void(const QString &line)> onLine;

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

/// Records warnings and questions; answers every question with `answer`.
class ScriptedPrompter final : public Prompter
{
public:
    void warn(const QString &message) override { warnings.append(message); }
    bool askYesNo(const QString &question) override
    {
        questions.append(question);
        return answer;
    }
    bool answer = true;
    QStringList warnings;
    QStringList questions;
};

} // namespace quorvale::test
