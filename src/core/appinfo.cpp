#include "appinfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace quorvale {

QString helpFolder()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QStringList candidates;
    // Named explicitly: the build names the source pages so that a program not yet installed (the
    // one the manual page is written from) finds them.
    if (const QString chosen = qEnvironmentVariable("QUORVALE_HELP_DIR"); !chosen.isEmpty())
        candidates << chosen;
    candidates << appDir + u"/help" << appDir + u"/../share/quorvale/help";
#ifdef QUORVALE_SOURCE_HELP_DIR
    candidates << QString::fromUtf8(QUORVALE_SOURCE_HELP_DIR);
#endif
    for (const QString &folder : std::as_const(candidates)) {
        if (QFileInfo(folder + u"/main.html").isFile())
            return QDir::cleanPath(folder);
    }
    return {};
}

} // namespace quorvale
