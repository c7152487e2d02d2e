// bench_gui: a 2,000-client run through the main window (recording mailer, no pauses) while a
// 10 ms timer ticks on the UI thread. Prints the longest gap between ticks (how long the window
// was unresponsive at worst) and the UI time spent per appended status line.
// Usage: bench_gui [CLIENTS]   (runs on the offscreen platform unless QT_QPA_PLATFORM is set)

#include "gui/guifakes.h"
#include "gui/mainwindow.h"
#include "gui/runbridge.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"
#include "support/testfakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

/// Times every delivery from the run's worker to the window (the bridge's queued flushes).
class TimingApp final : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!bridge || receiver != bridge || event->type() != QEvent::MetaCall)
            return QApplication::notify(receiver, event);
        QElapsedTimer timer;
        timer.start();
        const bool result = QApplication::notify(receiver, event);
        const qint64 ns = timer.nsecsElapsed();
        deliveryNs += ns;
        longestDeliveryNs = std::max(longestDeliveryNs, ns);
        ++deliveries;
        return result;
    }
    QObject *bridge = nullptr;
    qint64 deliveryNs = 0;
    qint64 longestDeliveryNs = 0;
    int deliveries = 0;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimingApp app(argc, argv);
    const int clients = argc > 1 ? std::atoi(argv[1]) : 2000;

    QTemporaryDir dir;
    auto store = openSettingsStore(dir.filePath(u"Quorvale.ini"_s));
    AppSettings settings;
    if (!saveSettings(*store,
                      {{&AppSettings::SMTPServer, u"127.0.0.1"_s},
                       {&AppSettings::SSLport, u"25"_s},
                       {&AppSettings::UserName, u"user"_s},
                       {&AppSettings::Password, u"secret"_s},
                       {&AppSettings::EnableSchedule, u"1"_s},
                       {&AppSettings::DelayBetweenSends, u"0"_s}},
                      settings, nullptr))
        return 1;
    QFile csv(dir.filePath(u"clients.csv"_s));
    if (!csv.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 1; i <= clients; ++i)
        csv.write(QByteArray::number(i) + ",client" + QByteArray::number(i) + "@example.com\r\n");
    csv.close();
    if (!saveSetting(*store, &AppSettings::CSVpath, csv.fileName()))
        return 1;

    ScriptedDialogs dialogs;
    FakeMailer mailer;
    FakePrinter printer;
    FakeClock clock; // pauses pass at once: the run logs as fast as it can
    MainWindow w(AppServices{*store, mailer, printer, clock, dialogs, dir.filePath(u"data"_s), {}});
    w.show();
    app.bridge = w.findChild<RunBridge *>();

    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    int ticks = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        longestGapMs = std::max(longestGapMs, sinceTick.elapsed());
        sinceTick.restart();
    });

    QElapsedTimer total;
    qint64 clickMs = 0;
    QObject::connect(&w, &MainWindow::runFinished, &app, [&] {
        ticker.stop();
        QApplication::quit();
    });
    // The click itself (reading the list and counting on the UI thread) counts as a gap too.
    ticker.start();
    sinceTick.start();
    QTimer::singleShot(15, [&] {
        total.start();
        w.findChild<QPushButton *>(u"cmdStart"_s)->click();
        clickMs = total.elapsed();
    });
    QApplication::exec();

    const auto *status = w.findChild<QPlainTextEdit *>(u"txtProgress"_s);
    const int lines = status->blockCount() - (status->toPlainText().endsWith(u'\n') ? 1 : 0);
    std::printf("clients:                       %d\n", clients);
    std::printf("messages sent:                 %lld\n", static_cast<long long>(mailer.messages().size()));
    std::printf("status lines:                  %d\n", lines);
    std::printf("run time:                      %.1f ms\n", static_cast<double>(total.elapsed()));
    std::printf("Start click (checks, reading, counts): %lld ms\n", static_cast<long long>(clickMs));
    std::printf("10 ms timer ticks:             %d\n", ticks);
    std::printf("longest UI-thread gap:         %lld ms (target: no gap over 50 ms) %s\n",
                static_cast<long long>(longestGapMs), longestGapMs <= 50 ? "OK" : "OVER");
    std::printf("deliveries to the window:      %d (longest %.2f ms)\n", app.deliveries,
                static_cast<double>(app.longestDeliveryNs) / 1e6);
    std::printf("UI time per status line:       %.1f us\n",
                lines > 0 ? static_cast<double>(app.deliveryNs) / 1e3 / lines : 0.0);
    if (qEnvironmentVariableIsSet("BENCH_DUMP"))
        std::printf("%s\n", qPrintable(status->toPlainText()));
    return 0;
}
