#pragma once

#include "run/prompter.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace quorvale {

/// Everything the windows ask of the desktop that blocks or leaves the program: message boxes,
/// the file-open dialog and opening a link in the user's browser. Tests answer through a fake.
class UserDialogs
{
public:
    virtual ~UserDialogs() = default;
    /// A warning box titled "Quorvale" with the exclamation icon and an OK button.
    virtual void warn(QWidget *parent, const QString &message) = 0;
    /// A Yes/No question titled "Quorvale"; true means Yes.
    virtual bool askYesNo(QWidget *parent, const QString &question) = 0;
    /// The file-open dialog; returns the chosen full path, or empty text when cancelled.
    /// `filters` are ";;"-separated name filters, the first one selected.
    virtual QString chooseOpenFile(QWidget *parent, const QString &title, const QString &filters, const QString &folder,
                                   const QString &fileName) = 0;
    /// Opens a help page or link in the user's browser or mail program.
    virtual void openUrl(const QUrl &url) = 0;
    /// Opens a file or folder with the desktop's program for it; false when none took it.
    virtual bool tryOpenUrl(const QUrl &url)
    {
        openUrl(url);
        return true;
    }
    /// The run's Yes/No question with what the run will do under it (the box's informative text).
    /// With `defaultNo`, No is the default button.
    virtual bool confirm(QWidget *parent, const QString &question, const QString &details, bool defaultNo = false)
    {
        Q_UNUSED(details);
        Q_UNUSED(defaultNo);
        return askYesNo(parent, question);
    }
    /// A question with the buttons `choices`, the first the default; the index of the one chosen,
    /// -1 when the box was closed.
    virtual int choose(QWidget *parent, const QString &question, const QStringList &choices, int defaultChoice = 0)
    {
        Q_UNUSED(choices);
        Q_UNUSED(defaultChoice);
        return askYesNo(parent, question) ? 0 : -1;
    }
    /// A warning with one more button, `action`, beside OK; true when the user chose it.
    virtual bool warnOffering(QWidget *parent, const QString &message, const QString &action)
    {
        Q_UNUSED(action);
        warn(parent, message);
        return false;
    }
    /// A line of text asked for, titled `title` with `label` above the box; empty when cancelled.
    virtual QString askText(QWidget *parent, const QString &title, const QString &label)
    {
        Q_UNUSED(parent);
        Q_UNUSED(title);
        Q_UNUSED(label);
        return {};
    }
    /// The file-save dialog; returns the chosen full path, or empty text when cancelled. Stand-ins
    /// that script only file choices answer it as they answer chooseOpenFile.
    virtual QString chooseSaveFile(QWidget *parent, const QString &title, const QString &filters,
                                   const QString &folder, const QString &fileName)
    {
        return chooseOpenFile(parent, title, filters, folder, fileName);
    }
};

/// The box that asks whether to start a run, with what the run will do as its informative text.
std::unique_ptr<QMessageBox> makeStartQuestion(QWidget *parent, const QString &question, const QString &details,
                                               bool defaultNo = false);

/// The real thing: QMessageBox, QFileDialog and QDesktopServices.
class DesktopDialogs final : public UserDialogs
{
public:
    void warn(QWidget *parent, const QString &message) override;
    bool askYesNo(QWidget *parent, const QString &question) override;
    QString askText(QWidget *parent, const QString &title, const QString &label) override;
    QString chooseOpenFile(QWidget *parent, const QString &title, const QString &filters, const QString &folder,
                           const QString &fileName) override;
    void openUrl(const QUrl &url) override;
    bool tryOpenUrl(const QUrl &url) override;
    bool confirm(QWidget *parent, const QString &question, const QString &details, bool defaultNo) override;
    bool warnOffering(QWidget *parent, const QString &message, const QString &action) override;
    int choose(QWidget *parent, const QString &question, const QStringList &choices, int defaultChoice) override;
    QString chooseSaveFile(QWidget *parent, const QString &title, const QString &filters, const QString &folder,
                           const QString &fileName) override;
};

/// The run's warnings and its one question, shown over `parent`. Remembers whether the
/// question was answered No, which is the one case where the window clears its status box.
class DialogPrompter final : public Prompter
{
public:
    /// `openSetup` is called when the user asks for Setup from the incomplete-setup warning.
    DialogPrompter(UserDialogs &dialogs, QWidget *parent, std::function<void()> openSetup = {})
        : m_dialogs(dialogs), m_parent(parent), m_openSetup(std::move(openSetup))
    {
    }
    void warn(const QString &message) override { m_dialogs.warn(m_parent, message); }
    bool askYesNo(const QString &question) override
    {
        m_answeredNo = !m_dialogs.askYesNo(m_parent, question);
        return !m_answeredNo;
    }
    bool confirmStart(const QString &question, const QString &details, bool defaultNo) override
    {
        m_answeredNo = !m_dialogs.confirm(m_parent, question, details, defaultNo);
        return !m_answeredNo;
    }
    int choose(const QString &question, const QStringList &choices, int defaultChoice) override
    {
        const int chosen = m_dialogs.choose(m_parent, question, choices, defaultChoice);
        // The last choice is the one that starts nothing.
        m_answeredNo = chosen < 0 || chosen == choices.size() - 1;
        return chosen;
    }
    bool warnOffering(const QString &message, const QString &action) override
    {
        return m_dialogs.warnOffering(m_parent, message, action);
    }
    void warnSetupIncomplete(const QString &message) override
    {
        if (m_dialogs.warnOffering(m_parent, message, QStringLiteral("Open Setup")) && m_openSetup)
            m_openSetup();
    }
    bool answeredNo() const { return m_answeredNo; }

private:
    UserDialogs &m_dialogs;
    QWidget *m_parent;
    std::function<void()> m_openSetup;
    bool m_answeredNo = false;
};

} // namespace quorvale
