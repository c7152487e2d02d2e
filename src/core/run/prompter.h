#pragma once

#include <QString>

namespace quorvale {

/// Warnings and the one Yes/No question of a run. The window shows message boxes titled
/// "Quorvale"; the command line writes to standard error and reads standard input.
class Prompter
{
public:
    virtual ~Prompter() = default;
    /// Shows a warning and returns once the user has seen it.
    virtual void warn(const QString &message) = 0;
    /// Asks a Yes/No question; true means Yes.
    virtual bool askYesNo(const QString &question) = 0;
};

} // namespace quorvale
