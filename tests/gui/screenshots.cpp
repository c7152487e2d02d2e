// Saves a PNG of each window in a realistic state, for people to look at: the main window idle
// and mid-run, the setup dialog, the test e-mail dialog and the about box.
// Usage: quorvale_screenshots OUTDIR   (scripts/screenshots.sh runs it under Xvfb)

#include "appinfo.h"
#include "gui/guifakes.h"
#include "gui/mainwindow.h"
#include "run/clock.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"
#include "support/fakemailer.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

bool save(QWidget *widget, const QString &folder, const QString &name)
{
    const QString path = QDir(folder).filePath(name + u".png");
    const bool ok = widget->grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

/// Runs the steps one after another from the event loop, each after `delayMs`.
void chain(QList<std::function<void()>> steps, int delayMs)
{
    if (steps.isEmpty()) {
        QApplication::quit();
        return;
    }
    QTimer::singleShot(delayMs, [steps, delayMs]() mutable {
        steps.takeFirst()();
        chain(steps, delayMs);
    });
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: quorvale_screenshots OUTDIR\n", stderr);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QTemporaryDir dir;
    auto store = openSettingsStore(dir.filePath(u"Quorvale.ini"_s));
    AppSettings settings;
    QList<SettingEdit> practice{{&AppSettings::EmailFrom, u"office@berg-accounting.example"_s},
                                {&AppSettings::SMTPServer, u"smtp.berg-accounting.example"_s},
                                {&AppSettings::AuthType, u"1"_s},
                                {&AppSettings::SSLport, u"587"_s},
                                {&AppSettings::UserName, u"office@berg-accounting.example"_s},
                                {&AppSettings::Password, u"correct horse"_s},
                                {&AppSettings::EnableSchedule, u"1"_s},
                                {&AppSettings::DelayBetweenSends, u"0"_s},
                                {&AppSettings::GroupDelay, u"10"_s},
                                {&AppSettings::GroupSize, u"90"_s},
                                {&AppSettings::SubjectLine, u"Your 2025 annual accounts"_s}};
    QFile csv(dir.filePath(u"clients.csv"_s));
    csv.open(QIODevice::WriteOnly);
    const char *names[] = {"anna.berg",   "tom.holt", "",          "lena.marsh", "omar.said", "ruth.cole",
                           "ivan.petrov", "",         "mia.jones", "li.wang",    "sara.kahn", "ben.okafor"};
    const char *fullNames[] = {"Anna Berg", "Tom Holt",  "Jan Wolff", "Lena Marsh", "Omar Said",  "Ruth Cole",
                               "Ivan Petrov", "Eva Lund", "Mia Jones", "Li Wang",    "Sara Kahn", "Ben Okafor"};
    for (int i = 0; i < 12; ++i)
        csv.write(QByteArray::number(1040 + i) + ',' +
                  (*names[i] ? QByteArray(names[i]) + QByteArray("@example.com") : QByteArray()) + ',' +
                  fullNames[i] + "\r\n");
    csv.close();
    practice.append({&AppSettings::CSVpath, csv.fileName()});
    if (!saveSettings(*store, practice, settings, nullptr))
        return 1;
    QFile letter(dir.filePath(u"Engagement letter 2025.pdf"_s));
    letter.open(QIODevice::WriteOnly);
    letter.write("%PDF-1.4\n");
    letter.close();
    QDir().mkpath(dir.filePath(u"data"_s));
    QFile body(dir.filePath(u"data/Body.txt"_s));
    body.open(QIODevice::WriteOnly);
    body.write("Dear client,\r\n\r\nplease find attached your annual accounts for 2025.\r\n"
               "Do not hesitate to call us with any question.\r\n\r\nKind regards,\r\nBerg Accounting\r\n");
    body.close();

    ScriptedDialogs dialogs;
    // Sends that take a while and report their progress as a real upload would.
    FakeMailer mailer;
    mailer.sendTime = std::chrono::milliseconds(840);
    RecordingPrinter printer;
    SystemClock clock;
    MainWindow window(AppServices{*store, mailer, printer, clock, dialogs, dir.filePath(u"data"_s), helpFolder()});
    window.show();

    bool ok = true;
    chain({
              [&] { ok &= save(&window, out, u"1-main-idle"_s); },
              [&] {
                  window.findChild<QRadioButton *>(u"OptAddAttachment1"_s)->click();
                  window.findChild<QLineEdit *>(u"txtCommonAttachmentPath"_s)
                      ->setText(dir.filePath(u"Engagement letter 2025.pdf"_s));
                  window.findChild<QPushButton *>(u"cmdStart"_s)->click();
              },
              [] {},
              [] {},
              [] {},
              [&] { ok &= save(&window, out, u"2-main-running"_s); },
              [&] {
                  window.findChild<QPushButton *>(u"cmdAbort"_s)->click();
                  window.showSetup();
              },
              [&] { ok &= save(window.findChild<QDialog *>(u"frmSetup"_s), out, u"3-setup"_s); },
              [&] {
                  window.showEmailTest();
                  auto *test = window.findChild<QDialog *>(u"frmEmailTest"_s);
                  test->findChild<QLineEdit *>(u"txtSendEmailAddy"_s)->setText(u"anna.berg@example.com"_s);
                  test->findChild<QPushButton *>(u"cmdTest"_s)->click();
              },
              [] {},
              [] {},
              [&] { ok &= save(window.findChild<QDialog *>(u"frmEmailTest"_s), out, u"4-email-test"_s); },
              [&] { window.showAbout(); },
              [&] { ok &= save(window.findChild<QDialog *>(u"frmAbout"_s), out, u"5-about"_s); },
              [&] {
                  window.findChild<QDialog *>(u"frmAbout"_s)->close();
                  window.findChild<QPlainTextEdit *>(u"txtBodyMessage"_s)
                      ->setPlainText(u"Dear {{3}},\n\nplease find attached your annual accounts for 2025.\n"
                                     "Do not hesitate to call us with any question.\n\nKind regards,\nBerg Accounting"_s);
                  window.showPreview(2);
              },
              [&] { ok &= save(window.findChild<QDialog *>(u"frmPreview"_s), out, u"6-preview"_s); },
          },
          700);
    QApplication::exec();
    return ok ? 0 : 1;
}
