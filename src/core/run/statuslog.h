#pragma once

#include <QString>

namespace quorvale {

/// Where status lines go: the main window's status box, or the command line's standard output.
/// One call is one line, written unchanged, with no time stamp or prefix.
class StatusLog
{
public:
    virtual ~StatusLog() = default;
    virtual void LogStatus(const QString &line) = 0;
    /// Empties the log: a run does this once its pre-checks pass, and again when the user
    /// declines to start. A log that cannot be emptied (standard output) ignores it.
    virtual void clearStatus() {}
};

} // namespace quorvale
