#include "gui/guiapp.h"

#include "appinfo.h"

#include <QApplication>
#include <QMessageBox>

namespace quorvale {

int runGui(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMessageBox::information(nullptr, appTitle(),
                             QStringLiteral("Quorvale %1: the main window is not built yet.").arg(appVersion()));
    return 0;
}

} // namespace quorvale
