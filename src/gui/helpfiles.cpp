#include "gui/helpfiles.h"

#include <QDir>
#include <QFileInfo>

namespace quorvale {

QUrl helpUrl(const QString &folder, int context)
{
    QString page;
    if (context == kMainHelpContext)
        page = QStringLiteral("main.html");
    else if (context == kSetupHelpContext)
        page = QStringLiteral("setup.html");
    if (folder.isEmpty() || page.isEmpty())
        return {};
    const QFileInfo file(QDir(folder).filePath(page));
    if (!file.isFile())
        return {};
    return QUrl::fromLocalFile(file.absoluteFilePath());
}

} // namespace quorvale
