#pragma once

#include <QString>
#include <QStringList>

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
    /// The question that starts a run, with what the run will do under it (`details`, one line
    /// each); true means Yes. A front end that cannot show the details asks the question alone.
    /// With `defaultNo` (the run would repeat what was done already) No is the answer a hasty
    /// Enter gives, and an answer given in advance (the command line's --yes) does not count.
    virtual bool confirmStart(const QString &question, const QString &details, bool defaultNo = false)
    {
        Q_UNUSED(details);
        Q_UNUSED(defaultNo);
        return askYesNo(question);
    }
    /// A question with several answers (`choices`, `defaultChoice` the default); the index of the
    /// one chosen, or -1 for none (the box closed). A front end without buttons answers Yes/No: the
    /// first choice for Yes, none for No.
    virtual int choose(const QString &question, const QStringList &, int defaultChoice = 0)
    {
        Q_UNUSED(defaultChoice);
        return askYesNo(question) ? 0 : -1;
    }
    /// A warning with a button for `action` beside OK; true when the user chose it. A front end
    /// without buttons shows the warning alone (its text says what to do instead).
    virtual bool warnOffering(const QString &message, const QString &action)
    {
        Q_UNUSED(action);
        warn(message);
        return false;
    }
    /// A warning that the mail server setup is incomplete; the window offers to open Setup.
    virtual void warnSetupIncomplete(const QString &message) { warn(message); }
};

} // namespace quorvale
