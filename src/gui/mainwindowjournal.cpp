// The main window's entries for the run journals: resending to the clients whose send failed,
// and opening the folder where every run records what it did.

#include "gui/mainwindow.h"
#include "gui/userdialogs.h"
#include "platform/files.h"
#include "run/journal.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace quorvale {

void MainWindow::buildJournalMenu()
{
    QMenu *journal = menuBar()->addMenu(u"&Journal"_s);
    journal->setObjectName(u"mnuJournal"_s);
    journal->menuAction()->setObjectName(u"mnuJournal"_s);
    m_mnuResendFailed = journal->addAction(u"&Resend to Failed Clients"_s);
    m_mnuResendFailed->setObjectName(u"mnuResendFailed"_s);
    m_mnuResendFailed->setToolTip(
        u"Send again to the clients of this mailing whose last send was refused or may not have "
        "arrived"_s);
    connect(m_mnuResendFailed, &QAction::triggered, this, &MainWindow::resendFailed);
    auto *mnuJournalFolder = journal->addAction(u"&Open Journal Folder"_s);
    mnuJournalFolder->setObjectName(u"mnuJournalFolder"_s);
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
