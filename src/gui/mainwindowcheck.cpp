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

using namespace Qt::StringLiterals;

namespace quorvale {

QPushButton *MainWindow::buildCheckEntries(QWidget *buttonParent)
{
    m_cmdCheck = makeButton(u"cmdCheck"_s, u"Chec&k Client List"_s,
                            u"Show what a run would do for each client, without sending"_s, buttonParent);
    m_cmdCheck->setMinimumHeight(m_cmdCheck->sizeHint().height() + 10);
    connect(m_cmdCheck, &QPushButton::clicked, this, &MainWindow::showCheck);

    return m_cmdCheck;
}

void MainWindow::buildCheckMenu()
{
    QMenu *tools = menuBar()->addMenu(u"&Tools"_s);
    tools->setObjectName(u"mnuTools"_s);
    tools->menuAction()->setObjectName(u"mnuTools"_s);
    auto *mnuCheck = tools->addAction(u"&Check Client List..."_s);
    mnuCheck->setObjectName(u"mnuCheck"_s);
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
