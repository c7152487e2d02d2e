#include "gui/userdialogs.h"

#include "appinfo.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

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

} // namespace quorvale
