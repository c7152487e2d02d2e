#include "gui/guiapp.h"

#include "app/programservices.h"
#include "appinfo.h"
#include "gui/appicon.h"
#include "gui/mainwindow.h"
#include "gui/userdialogs.h"
#include "mail/attachmentcache.h"
#include "mail/inboxreader.h"
#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
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
        window.closeWithoutAsking();
    });
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &) { window.closeWithoutAsking(); });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, [&window] { window.closeWithoutAsking(); });
}

int runGui(int argc, char **argv, ProgramServices &services)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(appTitle());
    QApplication::setApplicationVersion(appVersion());
    QApplication::setDesktopFileName(u"quorvale"_s);
    QApplication::setWindowIcon(appIcon());
    // A signal that ends the session from now on is kept until the window can close with it.
    platform::catchTerminationSignals();

    // Encoded attachment copies that a crashed run left behind.
    AttachmentCache::removeLeftovers(services.environment.dataFolder);
    DesktopDialogs dialogs;
    MainWindow window(AppServices{*services.store, *services.mailer, services.printer, services.clock, dialogs,
                                  services.environment.dataFolder, helpFolder(), services.account,
                                  services.sentCopier.get(), services.inboxReader.get()});
    closeWithTheSession(window);
    window.show();
    return QApplication::exec();
}

} // namespace quorvale
