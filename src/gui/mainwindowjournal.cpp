// The main window's entries for the run journals: resending to the clients whose send failed,
// and opening the folder where every run records what it did.

#include "gui/mainwindow.h"
#include "gui/userdialogs.h"
#include "platform/platform.h"
#include "run/journal.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

namespace quorvale {

void MainWindow::buildJournalMenu()
{
    QMenu *journal = menuBar()->addMenu(QStringLiteral("&Journal"));
    journal->setObjectName(QStringLiteral("mnuJournal"));
    journal->menuAction()->setObjectName(QStringLiteral("mnuJournal"));
    m_mnuResendFailed = journal->addAction(QStringLiteral("&Resend to Failed Clients"));
    m_mnuResendFailed->setObjectName(QStringLiteral("mnuResendFailed"));
    m_mnuResendFailed->setToolTip(
        QStringLiteral("Send again to the clients of this mailing whose last send was refused or may not have "
                       "arrived"));
    connect(m_mnuResendFailed, &QAction::triggered, this, &MainWindow::resendFailed);
    auto *mnuJournalFolder = journal->addAction(QStringLiteral("&Open Journal Folder"));
    mnuJournalFolder->setObjectName(QStringLiteral("mnuJournalFolder"));
    connect(mnuJournalFolder, &QAction::triggered, this, &MainWindow::openJournalFolder);
}

void MainWindow::resendFailed()
{
    startRun(true);
}

void MainWindow::openJournalFolder()
{
    // Made when missing, so that the file manager opens it even before the first run.
    const QString folder = runJournalFolder(m_dataFolder);
    platform::makePrivateFolder(folder);
    m_dialogs->openUrl(QUrl::fromLocalFile(folder));
}

} // namespace quorvale
