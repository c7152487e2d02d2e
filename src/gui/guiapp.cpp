#include "gui/guiapp.h"

#include "appinfo.h"
#include "gui/appicon.h"
#include "gui/mainwindow.h"
#include "platform/process.h"

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

using namespace Qt::StringLiterals;

namespace quorvale {

void closeWithTheSession(MainWindow &window)
{
    platform::catchTerminationSignals();
    auto *notifier = new QSocketNotifier(platform::terminationSignalFd(), QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        platform::drainTerminationSignals();
        window.close();
    });
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &) { window.close(); });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, [&window] { window.close(); });
}

int runGui(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(appTitle());
    QApplication::setApplicationVersion(appVersion());
    QApplication::setDesktopFileName(u"quorvale"_s);
    QApplication::setWindowIcon(appIcon());

    MainWindow window;
    closeWithTheSession(window);
    window.show();
    return QApplication::exec();
}

} // namespace quorvale
