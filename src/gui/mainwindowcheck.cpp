// The main window's entries for checking the client list before a run.

#include "gui/checkdialog.h"
#include "gui/mainwindow.h"
#include "gui/widgetfactory.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

namespace quorvale {

QPushButton *MainWindow::buildCheckEntries(QWidget *buttonParent)
{
    m_cmdCheck = makeButton(QStringLiteral("cmdCheck"), QStringLiteral("Chec&k Client List"),
                            QStringLiteral("Show what a run would do for each client, without sending"), buttonParent);
    m_cmdCheck->setMinimumHeight(m_cmdCheck->sizeHint().height() + 10);
    connect(m_cmdCheck, &QPushButton::clicked, this, &MainWindow::showCheck);

    return m_cmdCheck;
}

void MainWindow::buildCheckMenu()
{
    QMenu *tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    tools->menuAction()->setObjectName(QStringLiteral("mnuTools"));
    auto *mnuCheck = tools->addAction(QStringLiteral("&Check Client List..."));
    mnuCheck->setObjectName(QStringLiteral("mnuCheck"));
    connect(mnuCheck, &QAction::triggered, this, &MainWindow::showCheck);
}

void MainWindow::showCheck()
{
    CheckRequest request;
    request.csvPath = m_txtCSVpath->text();
    request.mode = static_cast<AttachmentMode>(m_optAddAttachment->checkedId());
    request.commonPath = m_txtCommonAttachmentPath->text();
    request.print = m_chkPrint->isChecked();
    if (!m_check)
        m_check = new CheckDialog(*m_dialogs, this);
    m_check->startCheck(request);
    m_check->show();
    m_check->raise();
    m_check->activateWindow();
}

} // namespace quorvale
