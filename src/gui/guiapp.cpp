#include "gui/guiapp.h"

#include "appinfo.h"
#include "auth/signinaccount.h"
#include "gui/appicon.h"
#include "gui/mainwindow.h"
#include "gui/userdialogs.h"
#include "mail/attachmentcache.h"
#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
#include "platform/process.h"
#include "run/clock.h"
#include "run/printer.h"
#include "settings/settingsstore.h"

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

int runGui(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(appTitle());
    QApplication::setApplicationVersion(appVersion());
    QApplication::setDesktopFileName(u"quorvale"_s);
    QApplication::setWindowIcon(appIcon());
    // A signal that ends the session from now on is kept until the window can close with it.
    platform::catchTerminationSignals();

    // The services the windows talk to, built once here: tests build fakes instead.
    const QString dataFolder = defaultDataFolder();
    // Encoded attachment copies that a crashed run left behind.
    AttachmentCache::removeLeftovers(dataFolder);
    const std::unique_ptr<SettingsStore> store = openSettingsStore();
    const auto account = std::make_shared<SignInAccount>();
    SmtpMailer mailer(dataFolder, account);
    ImapSentCopier sentCopier(account, qgetenv("CURL_CA_BUNDLE"));
    CommandPrinter printer;
    SystemClock clock;
    DesktopDialogs dialogs;
    MainWindow window(
        AppServices{*store, mailer, printer, clock, dialogs, dataFolder, helpFolder(), account, &sentCopier});
    closeWithTheSession(window);
    window.show();
    return QApplication::exec();
}

} // namespace quorvale
