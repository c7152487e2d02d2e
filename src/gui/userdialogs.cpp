#include "gui/userdialogs.h"

#include "appinfo.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace quorvale {

void DesktopDialogs::warn(QWidget *parent, const QString &message)
{
    QMessageBox::warning(parent, appTitle(), message, QMessageBox::Ok);
}

bool DesktopDialogs::askYesNo(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::NoIcon, appTitle(), question, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

QString DesktopDialogs::askText(QWidget *parent, const QString &title, const QString &label)
{
    return QInputDialog::getText(parent, title, label);
}

QString DesktopDialogs::chooseOpenFile(QWidget *parent, const QString &title, const QString &filters,
                                       const QString &folder, const QString &fileName)
{
    const QString start = fileName.isEmpty() ? folder : QDir(folder).filePath(fileName);
    return QFileDialog::getOpenFileName(parent, title, start, filters);
}

QString DesktopDialogs::chooseSaveFile(QWidget *parent, const QString &title, const QString &filters,
                                       const QString &folder, const QString &fileName)
{
    const QString start = fileName.isEmpty() ? folder : QDir(folder).filePath(fileName);
    return QFileDialog::getSaveFileName(parent, title, start, filters);
}

void DesktopDialogs::openUrl(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

bool DesktopDialogs::tryOpenUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

std::unique_ptr<QMessageBox> makeStartQuestion(QWidget *parent, const QString &question, const QString &details,
                                               bool defaultNo)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, appTitle(), question,
                                             QMessageBox::Yes | QMessageBox::No, parent);
    box->setObjectName(QStringLiteral("confirmStart"));
    box->setInformativeText(details);
    box->setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box;
}

bool DesktopDialogs::confirm(QWidget *parent, const QString &question, const QString &details, bool defaultNo)
{
    return makeStartQuestion(parent, question, details, defaultNo)->exec() == QMessageBox::Yes;
}

int DesktopDialogs::choose(QWidget *parent, const QString &question, const QStringList &choices, int defaultChoice)
{
    QMessageBox box(QMessageBox::Question, appTitle(), question, QMessageBox::NoButton, parent);
    QList<QAbstractButton *> buttons;
    for (const QString &choice : choices)
        buttons.append(box.addButton(choice, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole));
    if (!buttons.isEmpty()) {
        box.setDefaultButton(qobject_cast<QPushButton *>(buttons.value(defaultChoice, buttons.first())));
        box.setEscapeButton(buttons.last());
    }
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

bool DesktopDialogs::warnOffering(QWidget *parent, const QString &message, const QString &action)
{
    QMessageBox box(QMessageBox::Warning, appTitle(), message, QMessageBox::Ok, parent);
    QPushButton *offered = box.addButton(action, QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return box.clickedButton() == offered;
}

} // namespace quorvale
