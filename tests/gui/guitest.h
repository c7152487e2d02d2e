#pragma once

// What every window test needs: a private settings file and data folder, the fakes, and a
// main window opened over them.

#include "auth/signinaccount.h"
#include "gui/guifakes.h"
#include "gui/mainwindow.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"
#include "support/testfakes.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace quorvale::test {

using namespace Qt::StringLiterals;

inline const QObject *asObject(const QObject *object)
{
    return object;
}
inline const QObject *asObject(const QObject &object)
{
    return &object;
}
template <typename T> const QObject *asObject(const std::unique_ptr<T> &object)
{
    return object.get();
}

/// Declares `var` as the child of `parent` (a pointer, reference or unique_ptr) of type `Type`
/// called `name`. When there is none the test function fails here and returns: one missing widget
/// fails one case, never the whole test program through a null pointer.
#define FIND_CHILD(Type, var, parent, name)                                                                          \
    Type *const var = ::quorvale::test::asObject(parent)->findChild<Type *>(name);                                     \
    QVERIFY2(var, qPrintable(u"no " #Type " called "_s + QString(name)))

/// Looks up `name` in `parent` as a T; notes it in `missing` when there is none.
template <typename T> void findInto(const QObject *parent, T *&out, const char *name, QStringList &missing)
{
    out = parent->findChild<T *>(QString::fromLatin1(name));
    if (!out)
        missing.append(QString::fromLatin1(name));
}

/// The main window's controls, by their object names.
struct MainControls
{
    QLineEdit *txtCSVpath, *txtCommonAttachmentPath, *txtSubjectLine;
    QPlainTextEdit *txtBodyMessage, *txtProgress;
    QRadioButton *OptAddAttachment0, *OptAddAttachment1, *OptAddAttachment2;
    QCheckBox *chkPrint;
    QLabel *Label6;
    QPushButton *cmdBrowseCSV, *cmdBrowseCommonAttach, *cmdStart, *cmdAbort, *cmdCheck;
    QProgressBar *progEmail, *progPrint;

    /// Finds them all in `window`; the names of those missing.
    QStringList find(const QObject *window)
    {
        QStringList missing;
        findInto(window, txtCSVpath, "txtCSVpath", missing);
        findInto(window, txtCommonAttachmentPath, "txtCommonAttachmentPath", missing);
        findInto(window, txtSubjectLine, "txtSubjectLine", missing);
        findInto(window, txtBodyMessage, "txtBodyMessage", missing);
        findInto(window, txtProgress, "txtProgress", missing);
        findInto(window, OptAddAttachment0, "OptAddAttachment0", missing);
        findInto(window, OptAddAttachment1, "OptAddAttachment1", missing);
        findInto(window, OptAddAttachment2, "OptAddAttachment2", missing);
        findInto(window, chkPrint, "chkPrint", missing);
        findInto(window, Label6, "Label6", missing);
        findInto(window, cmdBrowseCSV, "cmdBrowseCSV", missing);
        findInto(window, cmdBrowseCommonAttach, "cmdBrowseCommonAttach", missing);
        findInto(window, cmdStart, "cmdStart", missing);
        findInto(window, cmdAbort, "cmdAbort", missing);
        findInto(window, cmdCheck, "cmdCheck", missing);
        findInto(window, progEmail, "progEmail", missing);
        findInto(window, progPrint, "progPrint", missing);
        return missing;
    }
};

/// The setup dialog's controls, by their object names.
struct SetupControls
{
    QLineEdit *txtMailFrom, *txtSMTPServer, *txtEmailSslPort, *txtUsername, *txtPassword;
    QComboBox *cboAuth;
    QLabel *lblSimpleWarning;
    QCheckBox *chkEnableSchedule;
    QLineEdit *txtDelayBetweenSends, *txtGroupDelay, *txtGroupSize, *txtPdfLocation;
    QPushButton *cmdTestEmail, *cmdBrowse, *cmdTestPrinting, *cmdOK, *cmdHelp;

    /// Finds them all in `dialog`; the names of those missing.
    QStringList find(const QObject *dialog)
    {
        QStringList missing;
        findInto(dialog, txtMailFrom, "txtMailFrom", missing);
        findInto(dialog, txtSMTPServer, "txtSMTPServer", missing);
        findInto(dialog, txtEmailSslPort, "txtEmailSslPort", missing);
        findInto(dialog, txtUsername, "txtUsername", missing);
        findInto(dialog, txtPassword, "txtPassword", missing);
        findInto(dialog, cboAuth, "cboAuth", missing);
        findInto(dialog, lblSimpleWarning, "lblSimpleWarning", missing);
        findInto(dialog, chkEnableSchedule, "chkEnableSchedule", missing);
        findInto(dialog, txtDelayBetweenSends, "txtDelayBetweenSends", missing);
        findInto(dialog, txtGroupDelay, "txtGroupDelay", missing);
        findInto(dialog, txtGroupSize, "txtGroupSize", missing);
        findInto(dialog, txtPdfLocation, "txtPdfLocation", missing);
        findInto(dialog, cmdTestEmail, "cmdTestEmail", missing);
        findInto(dialog, cmdBrowse, "cmdBrowse", missing);
        findInto(dialog, cmdTestPrinting, "cmdTestPrinting", missing);
        findInto(dialog, cmdOK, "cmdOK", missing);
        findInto(dialog, cmdHelp, "cmdHelp", missing);
        return missing;
    }
};

/// Declares `var` as the controls (MainControls or SetupControls) of `parent`; when one is missing
/// the test function fails here and returns.
#define FIND_CONTROLS(Controls, var, parent)                                                                         \
    Controls var{};                                                                                                    \
    if (const QStringList missing_ = var.find(::quorvale::test::asObject(parent)); !missing_.isEmpty())               \
    QFAIL(qPrintable(u"missing: "_s + missing_.join(u", "_s)))

/// A caption without its access-key marker ("&Start Processing" -> "Start Processing").
inline QString caption(QString text)
{
    text.replace(u"&&"_s, u"\x01"_s);
    text.remove(u'&');
    text.replace(u"\x01"_s, u"&"_s);
    return text;
}

/// The lines of a status box.
inline QStringList statusLines(const QPlainTextEdit *box)
{
    return box->toPlainText().isEmpty() ? QStringList() : box->toPlainText().split(u'\n');
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

struct WindowFixture
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store = openSettingsStore(dir.filePath(u"Quorvale.ini"_s));
    ScriptedDialogs dialogs;
    FakeMailer mailer;
    FakePrinter printer;
    FakeClock fakeClock;
    SystemClock systemClock;
    FakeInboxReader inbox;
    /// Secrets in files of the fixture's folder: a window test never asks the user's keyring.
    std::shared_ptr<SignInAccount> account =
        std::make_shared<SignInAccount>([folder = dir.filePath(u"secrets"_s)] {
            return SecretStoreChoice{std::make_unique<FileSecretStore>(folder), {}};
        });
    std::unique_ptr<MainWindow> window;

    QString dataFolder() const { return dir.filePath(u"data"_s); }

    void save(const QString &name, const QString &value)
    {
        // Written as they are (a test stores values the program would refuse), the password through
        // the settings table, which scrambles it.
        if (name == u"PW")
            QVERIFY(saveSetting(*store, &AppSettings::Password, value));
        else
            store->RegWriteValue(name, ValueKind::Text, value);
    }
    /// Server settings complete enough for a run to pass its checks.
    void saveServer(const QString &host = u"127.0.0.1"_s, const QString &port = u"25"_s)
    {
        save(u"SMPTServer"_s, host);
        save(u"SSLport"_s, port);
        save(u"UserName"_s, u"user"_s);
        save(u"PW"_s, u"secret"_s);
        save(u"AuthType"_s, u"0"_s);
        save(u"EmailFrom"_s, u"office@practice.example"_s);
    }
    /// The services of a window over the fixture's fakes; `realTime` keeps the system clock
    /// (pauses really wait), `otherMailer` sends instead of the fake (such as the real SMTP one).
    AppServices services(bool realTime = false, Mailer *otherMailer = nullptr)
    {
        return AppServices{*store,
                           otherMailer ? *otherMailer : mailer,
                           printer,
                           realTime ? static_cast<Clock &>(systemClock) : fakeClock,
                           dialogs,
                           dataFolder(),
                           dir.filePath(u"help"_s),
                           account,
                           nullptr,
                           &inbox};
    }
    /// Opens the window when needed, then the setup dialog; null when it did not open (check it).
    QDialog *openSetup()
    {
        if (!window)
            open();
        window->showSetup();
        return window->findChild<QDialog *>(u"frmSetup"_s);
    }
    /// Opens the window over services(`realTime`, `otherMailer`).
    MainWindow &open(bool realTime = false, Mailer *otherMailer = nullptr)
    {
        window = std::make_unique<MainWindow>(services(realTime, otherMailer));
        window->show();
        return *window;
    }
};

} // namespace quorvale::test
