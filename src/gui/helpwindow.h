#pragma once

#include <QWidget>

class QKeyEvent;
class QListWidget;
class QPushButton;
class QTextBrowser;

namespace quorvale {

class UserDialogs;

/// The help, shown inside the program: the contents on the left, the page on the right, with
/// Back and Forward. Needs no browser; links that leave the help go to the desktop.
class HelpWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpWindow)

public:
    /// `folder`: where the HTML pages are; empty when there are none.
    HelpWindow(const QString &folder, UserDialogs &dialogs, QWidget *parent = nullptr);

    /// Shows the page of a context number (kMainHelpContext, kSetupHelpContext).
    void showContext(int context);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showPage(const QString &page);
    void pageChanged();

    QString m_folder;
    UserDialogs &m_dialogs;
    QListWidget *m_contents;
    QTextBrowser *m_browser;
    QPushButton *m_back;
    QPushButton *m_forward;
};

} // namespace quorvale
