#include "gui/helpfiles.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace quorvale {

QUrl helpUrl(const QString &folder, int context)
{
    QString page;
    if (context == kMainHelpContext)
        page = u"main.html"_s;
    else if (context == kSetupHelpContext)
        page = u"setup.html"_s;
    if (folder.isEmpty() || page.isEmpty())
        return {};
    const QFileInfo file(QDir(folder).filePath(page));
    if (!file.isFile())
        return {};
    return QUrl::fromLocalFile(file.absoluteFilePath());
}

} // namespace quorvale
