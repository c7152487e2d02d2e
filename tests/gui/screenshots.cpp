// Saves a PNG of each window in a realistic state, for people to look at: the main window idle,
// the question that starts a run with its summary, the main window mid-run and after a run with
// its summary, the setup dialog (with the warning about "Simple", the Microsoft 365 sign-in and the
// sign-in's address), the test e-mail dialog, the about box, the check window with
// flagged rows and the help window. Exits with 1 when a window could not be photographed.
// Usage: quorvale_screenshots OUTDIR   (scripts/screenshots.sh runs it under Xvfb)

#include "appinfo.h"
#include "gui/guifakes.h"
#include "gui/helpfiles.h"
#include "gui/mainwindow.h"
#include "gui/userdialogs.h"
#include "run/clock.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"
#include "support/testfakes.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QCheckBox>
#include <QComboBox>
#include <QTextEdit>
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
    const bool ok = widget && widget->grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

/// Runs the steps one after another from the event loop, each `delayMs` after the one before; a
/// step that returns false is not done yet and is tried again after the same delay.
void chain(QList<std::function<bool()>> steps, int delayMs)
{
    if (steps.isEmpty()) {
        QApplication::quit();
        return;
    }
    QTimer::singleShot(delayMs, [steps, delayMs]() mutable {
        if (steps.first()())
            steps.removeFirst();
        chain(steps, delayMs);
    });
}

/// A step that only does something.
std::function<bool()> act(std::function<void()> action)
{
    return [action] {
        action();
        return true;
    };
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
    // The last client shares the first one's address: the check flags both.
    const char *names[] = {"anna.berg",   "tom.holt", "",          "lena.marsh", "omar.said", "ruth.cole",
                           "ivan.petrov", "",         "mia.jones", "li.wang",    "sara.kahn", "anna.berg"};
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
    // The common letter, and the clients' own documents: two for client 1041, one naming two clients.
    for (const char *name : {"Engagement letter 2025.pdf", "Accounts 1040.pdf", "Accounts 1041.pdf",
                             "Accounts_1041.pdf", "Accounts 1043._1044.pdf", "Accounts 1045.pdf"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        file.open(QIODevice::WriteOnly);
        file.write("%PDF-1.4\n");
    }
    QDir().mkpath(dir.filePath(u"data"_s));
    QFile body(dir.filePath(u"data/Body.txt"_s));
    body.open(QIODevice::WriteOnly);
    body.write("Dear client,\r\n\r\nplease find attached your annual accounts for 2025.\r\n"
               "Do not hesitate to call us with any question.\r\n\r\nKind regards,\r\nBerg Accounting\r\n");
    body.close();

    // Yes to everything; the question that starts a run is photographed the first time it is asked.
    ScriptedDialogs dialogs;
    bool confirmShot = false;
    dialogs.onConfirm = [&](QWidget *parent, const QString &question, const QString &details) {
        if (dialogs.confirmDetails.size() == 1) {
            const auto box = makeStartQuestion(parent, question, details);
            box->show();
            confirmShot = save(box.get(), out, u"2-confirm"_s);
        }
    };
    // Sends that take a while and report their progress as a real upload would.
    FakeMailer mailer;
    mailer.sendTime = std::chrono::milliseconds(840);
    FakePrinter printer;
    SystemClock clock;
    MainWindow window(AppServices{*store, mailer, printer, clock, dialogs, dir.filePath(u"data"_s), helpFolder()});
    window.show();

    const auto idle = [&window] { return !window.isRunning(); };
    const auto child = [&window](const char *name) { return window.findChild<QWidget *>(QString::fromLatin1(name)); };
    bool ok = true;
    chain({
              act([&] { ok &= save(&window, out, u"1-main-idle"_s); }),
              act([&] {
                  window.findChild<QRadioButton *>(u"OptAddAttachment1"_s)->click();
                  window.findChild<QLineEdit *>(u"txtCommonAttachmentPath"_s)
                      ->setText(dir.filePath(u"Engagement letter 2025.pdf"_s));
                  window.findChild<QPushButton *>(u"cmdStart"_s)->click();
              }),
              [&] { return window.findChild<QLabel *>(u"lblRunProgress"_s)->text().startsWith(u"Client 4 "_s); },
              // Start asks its question once the server said what size it takes: by now it was asked.
              act([&] { ok &= confirmShot && save(&window, out, u"3-main-running"_s); }),
              act([&] { window.findChild<QPushButton *>(u"cmdAbort"_s)->click(); }),
              idle,
              // The same mailing again: it resumes, and two of its sends fail.
              act([&] {
                  mailer.sendTime = std::chrono::milliseconds(60);
                  mailer.statuses = {SendStatus::Sent, SendStatus::Refused, SendStatus::Sent, SendStatus::MaybeDelivered};
                  window.findChild<QPushButton *>(u"cmdStart"_s)->click();
              }),
              idle,
              act([&] { ok &= save(&window, out, u"4-main-after-run"_s); }),
              act([&] { window.showSetup(); }),
              act([&] { ok &= save(child("frmSetup"), out, u"5-setup"_s); }),
              // Setup with the warning about "Simple", then with the Microsoft 365 sign-in, asked
              // for and waiting for the browser, its address shown to be copied.
              act([&] { child("frmSetup")->findChild<QComboBox *>(u"cboAuth"_s)->setCurrentIndex(0); }),
              act([&] { ok &= save(child("frmSetup"), out, u"5b-setup-simple"_s); }),
              act([&] {
                  auto *setup = child("frmSetup");
                  const auto choose = [setup](const char *name, const QString &word) {
                      auto *box = setup->findChild<QComboBox *>(QString::fromLatin1(name));
                      box->setCurrentIndex(box->findData(word));
                      Q_EMIT box->activated(box->currentIndex());
                  };
                  choose("cboProvider", u"microsoft"_s);
                  choose("cboSignIn", u"oauth"_s);
                  setup->findChild<QLineEdit *>(u"txtClientId"_s)->setText(u"3f2a9c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6b"_s);
              }),
              act([&] { ok &= save(child("frmSetup"), out, u"5c-setup-microsoft"_s); }),
              act([&] { child("frmSetup")->findChild<QPushButton *>(u"cmdSignIn"_s)->click(); }),
              act([&] { ok &= save(child("frmSetup"), out, u"5d-setup-signing-in"_s); }),
              act([&] { child("frmSetup")->findChild<QPushButton *>(u"cmdSignIn"_s)->click(); }),
              act([&] {
                  window.showEmailTest();
                  auto *test = window.findChild<QDialog *>(u"frmEmailTest"_s);
                  test->findChild<QLineEdit *>(u"txtSendEmailAddy"_s)->setText(u"anna.berg@example.com"_s);
                  test->findChild<QPushButton *>(u"cmdTest"_s)->click();
              }),
              act([] {}),
              act([] {}),
              act([&] { ok &= save(child("frmEmailTest"), out, u"6-email-test"_s); }),
              act([&] { window.showAbout(); }),
              act([&] { ok &= save(child("frmAbout"), out, u"7-about"_s); }),
              act([&] {
                  window.findChild<QRadioButton *>(u"OptAddAttachment2"_s)->click();
                  window.showCheck();
              }),
              [&] {
                  const auto *table = window.findChild<QTableView *>(u"tblCheck"_s);
                  return table && table->model() && table->model()->rowCount() > 0;
              },
              act([&] { ok &= save(child("frmCheck"), out, u"8-check"_s); }),
              act([&] { window.showHelp(kMainHelpContext); }),
              act([&] { ok &= save(child("frmHelp"), out, u"9-help"_s); }),
              act([&] {
                  window.findChild<QPlainTextEdit *>(u"txtBodyMessage"_s)
                      ->setPlainText(u"Dear {{3}},\n\nplease find attached your annual accounts for 2025.\n"
                                     "Do not hesitate to call us with any question.\n\nKind regards,\nBerg Accounting"_s);
                  window.showPreview(2);
              }),
              act([&] { ok &= save(child("frmPreview"), out, u"10-preview"_s); }),
              // The formatted body, its preview and the signature's editor.
              act([&] {
                  window.findChild<QCheckBox *>(u"chkFormatted"_s)->click();
                  window.findChild<QTextEdit *>(u"txtBodyHtml"_s)
                      ->setHtml(u"<p>Dear <b>{{3}}</b>,</p><p>please find attached your <i>annual accounts</i>:</p>"
                                "<ul><li>balance sheet</li><li>profit and loss</li></ul>"
                                "<p>See <a href=\"https://berg.example\">our site</a>.</p>"_s);
                  ok &= save(&window, out, u"11-main-formatted"_s);
                  window.showPreview(2);
              }),
              act([&] { ok &= save(child("frmPreview"), out, u"12-preview-formatted"_s); }),
              act([&] {
                  window.showSetup();
                  child("frmSetup")->findChild<QPushButton *>(u"cmdSignature"_s)->click();
              }),
              act([&] {
                  auto *signature = child("frmSignature");
                  signature->findChild<QTextEdit *>(u"txtSignature"_s)
                      ->setHtml(u"<p><b>Berg Accounting</b><br>Main Street 1</p>"_s);
                  ok &= save(signature, out, u"13-signature"_s);
              }),
          },
          700);
    // A window that never gets to its picture fails the program rather than hanging it.
    QTimer::singleShot(std::chrono::minutes(2), [&ok] {
        std::fputs("screenshots: timed out waiting for a window\n", stderr);
        ok = false;
        QApplication::quit();
    });
    QApplication::exec();
    for (const QString &warning : std::as_const(dialogs.warnings))
        std::printf("warning: %s\n", qPrintable(warning));
    return ok ? 0 : 1;
}
