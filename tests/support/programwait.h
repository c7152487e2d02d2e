#pragma once

// Waits for the quorvale program that a test started to end, and collects what it wrote. A
// healthy program writes a line at least every second or two (a status line per client, the
// pacing's wait being the longest silence), or ends; one that writes nothing on either stream
// for kProgramQuietLimit is taken as hung and killed, so that a test meeting a broken program
// fails in seconds with a message instead of at the test's own limit. The limit leaves room for
// the sanitizer build (several times slower) on a busy machine; a test whose program waits longer
// in silence (a long pause between messages) passes a longer limit.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <chrono>

namespace quorvale::test {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kProgramQuietLimit = 15s;
constexpr std::chrono::milliseconds kProgramTotalLimit = 120s;

struct ProgramEnd
{
    bool finished = false;
    QByteArray out; ///< everything written on standard output
    QByteArray err; ///< everything written on standard error
    QString why;    ///< why the wait was given up ("wrote nothing for 15 s"); empty when finished
};

/// Waits for `process` to end, or for it to write nothing for `quietLimit` or to run longer than
/// `totalLimit`, whichever comes first; then it is killed.
inline ProgramEnd waitForProgram(QProcess &process, std::chrono::milliseconds quietLimit = kProgramQuietLimit,
                                 std::chrono::milliseconds totalLimit = kProgramTotalLimit)
{
    ProgramEnd end;
    const QDeadlineTimer total(totalLimit);
    QElapsedTimer quiet;
    quiet.start();
    while (!process.waitForFinished(100) && process.state() != QProcess::NotRunning) {
        const qsizetype before = end.out.size() + end.err.size();
        end.out += process.readAllStandardOutput();
        end.err += process.readAllStandardError();
        if (end.out.size() + end.err.size() != before)
            quiet.restart();
        const bool hung = quiet.elapsed() >= quietLimit.count();
        if (hung || total.hasExpired()) {
            const QString what = hung ? QStringLiteral("wrote nothing for %1 s").arg(quietLimit.count() / 1000)
                                      : QStringLiteral("ran longer than %1 s").arg(totalLimit.count() / 1000);
            end.why = QStringLiteral("the program ") + what + QStringLiteral(" and was stopped");
            process.kill();
            process.waitForFinished();
            end.out += process.readAllStandardOutput();
            end.err += process.readAllStandardError();
            return end;
        }
    }
    end.finished = true;
    end.out += process.readAllStandardOutput();
    end.err += process.readAllStandardError();
    return end;
}

/// Reads `process`'s standard output into `out` until it holds `text`; false when the program
/// ended first, wrote nothing on it for `quietLimit`, or ran longer than `totalLimit`.
inline bool waitForOutput(QProcess &process, const QByteArray &text, QByteArray *out,
                          std::chrono::milliseconds quietLimit = kProgramQuietLimit,
                          std::chrono::milliseconds totalLimit = kProgramTotalLimit)
{
    const QDeadlineTimer total(totalLimit);
    while (!out->contains(text) && !total.hasExpired() &&
           process.waitForReadyRead(int(std::min<qint64>(quietLimit.count(), total.remainingTime()))))
        *out += process.readAllStandardOutput();
    return out->contains(text);
}

} // namespace quorvale::test
