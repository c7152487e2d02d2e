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
};

} // namespace quorvale
