#include "gui/guiapp.h"

#include "appinfo.h"
#include "gui/appicon.h"
#include "gui/mainwindow.h"

#include <QApplication>

namespace quorvale {

int runGui(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(appTitle());
    QApplication::setApplicationVersion(appVersion());
    QApplication::setDesktopFileName(QStringLiteral("quorvale"));
    QApplication::setWindowIcon(appIcon());

    MainWindow window;
    window.show();
    return QApplication::exec();
}

} // namespace quorvale
