// The setup dialog: its controls, loading, the scheduling switch, OK saving and refusing, the
// print test, help, and Test Email saving the mail settings before the test dialog opens.

#include "guitest.h"
#include "gui/formattededitor.h"
#include "gui/signaturedialog.h"

#include <QTextEdit>

#include "gui/setupdialog.h"
#include "settings/scramble.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

QString stored(WindowFixture &f, const QString &name)
{
    return f.store->RegReadValue(name, ValueKind::Text, u"<unset>"_s).toString();
}

const QStringList kScheduleControls{u"Label2"_s, u"txtDelayBetweenSends"_s, u"Label3"_s, u"txtGroupDelay"_s,
                                    u"Label4"_s, u"txtGroupSize"_s};

} // namespace

class TestSetupDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controlsHaveTheirCaptionsAndToolTips_data();
    void controlsHaveTheirCaptionsAndToolTips();
    void loadsTheCurrentSettings();
    void scheduleBoxEnablesExactlyItsSixControls();
    void valuesTheControlsCannotShowLoadAsDefaults_data();
    void valuesTheControlsCannotShowLoadAsDefaults();
    void signInChoiceFillsTheProvidersServer_data();
    void signInChoiceFillsTheProvidersServer();
    void simpleLoginIsWarnedAbout_data();
    void simpleLoginIsWarnedAbout();
    void senderThatIsNoAddressIsWarnedAboutNotRefused_data();
    void senderThatIsNoAddressIsWarnedAboutNotRefused();
    void okSavesEveryValueAndReopeningShowsThem();
    void okWarnsOfACopyInSentWithoutAServer();
    void okRefusesWhatCouldNotBeStoredAndSavesNothing_data();
    void okRefusesWhatCouldNotBeStoredAndSavesNothing();
    void storedValuesTheUserDidNotTouchStay_data();
    void storedValuesTheUserDidNotTouchStay();
    void closingWithoutOkSavesNothing();
    void signatureIsKeptAsItsOwnFile();
    void pdfBrowseKeepsPathOnCancel();
    void printTestPrintsTheShownPathOrWarns();
    void helpOpensTheSetupTopic();
    void testEmailNeedsCompleteServerSetup();
    void testEmailSavesTheSixMailValuesAndOpensTheTestDialog();
};

void TestSetupDialog::controlsHaveTheirCaptionsAndToolTips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    const auto row = [](const char *name, const char *text, const char *toolTip) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(text) << QString::fromLatin1(toolTip);
    };
    row("Label1", "Email From", "");
    row("txtMailFrom", "", "Return Address");
    row("lblMailFromName", "Sender name", "");
    row("txtMailFromName", "", "The name your clients see beside the address");
    row("lblReplyTo", "Reply-To", "");
    row("txtReplyTo", "", "Where replies go (empty: to the Email From address)");
    row("lblArchiveCopyTo", "Archive copy to", "");
    row("txtArchiveCopyTo", "", "Gets a blind copy of every client's message (empty: no copy)");
    row("Label26", "SMTP Server", "");
    row("txtSMTPServer", "", "SMTP server");
    row("Label6", "Type", "");
    row("cboAuth", "", "Authentication type");
    row("Label40", "SSL Port", "");
    row("txtEmailSslPort", "", "SSL port");
    row("Label10", "Username", "");
    row("txtUsername", "", "Login name");
    row("Label9", "Password", "");
    row("txtPassword", "", "Login password");
    row("cmdTestEmail", "Test Email", "Sends a test email");
    row("chkEnableSchedule", "Enable Email Scheduling", "");
    row("Label2", "Delay between Email Sends (secs):", "");
    row("txtDelayBetweenSends", "", "Delay in seconds between email sends");
    row("Label3", "Delay between Email Groups (mins):", "");
    row("txtGroupDelay", "", "Delay in minutes between email groups");
    row("Label4", "Email Group Size:", "");
    row("txtGroupSize", "", "Email group size");
    row("Label5", "PDF File to print", "");
    row("txtPdfLocation", "", "Path to PDF file");
    row("cmdBrowse", "Browse", "Browse for PDF file");
    row("cmdTestPrinting", "Test PDF Printing", "Test print");
    row("cmdOK", "OK", "");
    row("cmdHelp", "Help", "");
}

void TestSetupDialog::controlsHaveTheirCaptionsAndToolTips()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    QCOMPARE(setup->windowTitle(), u"Setup"_s);
    FIND_CHILD(QWidget, control, setup, name);
    QCOMPARE(control->toolTip(), toolTip);
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        QCOMPARE(caption(button->text()), text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
}

void TestSetupDialog::loadsTheCurrentSettings()
{
    WindowFixture f;
    f.saveServer(u"smtp.practice.example"_s, u"587"_s);
    f.save(u"EnableSchedule"_s, u"1"_s);
    f.save(u"GroupSize"_s, u" 7 "_s);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);

    QCOMPARE(ui.txtMailFrom->text(), u"office@practice.example"_s);
    QCOMPARE(ui.txtSMTPServer->text(), u"smtp.practice.example"_s);
    QCOMPARE(ui.cboAuth->count(), 2);
    QCOMPARE(ui.cboAuth->itemText(0), u"Simple"_s);
    QCOMPARE(ui.cboAuth->itemText(1), u"SSL"_s);
    QCOMPARE(ui.cboAuth->currentIndex(), 0);
    QCOMPARE(ui.txtEmailSslPort->text(), u"587"_s);
    QCOMPARE(ui.txtUsername->text(), u"user"_s);
    QCOMPARE(ui.txtPassword->text(), u"secret"_s);
    QCOMPARE(ui.txtPassword->echoMode(), QLineEdit::Password);
    QVERIFY(ui.chkEnableSchedule->isChecked());
    QCOMPARE(ui.txtDelayBetweenSends->text(), u"1"_s);
    QCOMPARE(ui.txtGroupDelay->text(), u"5"_s);
    QCOMPARE(ui.txtGroupSize->text(), u"7"_s);
    for (const QString &name : kScheduleControls) {
        FIND_CHILD(QWidget, control, setup, name);
        QVERIFY2(control->isEnabled(), qPrintable(name));
    }
    QVERIFY(ui.txtPdfLocation->text().isEmpty());
}

void TestSetupDialog::scheduleBoxEnablesExactlyItsSixControls()
{
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CHILD(QCheckBox, chkEnableSchedule, setup, u"chkEnableSchedule"_s);
    const QList<QWidget *> all = setup->findChildren<QWidget *>();
    const auto enabledOthers = [&] {
        QStringList names;
        for (QWidget *w : all)
            if (!w->objectName().isEmpty() && !kScheduleControls.contains(w->objectName()) && w->isEnabled())
                names << w->objectName();
        return names;
    };
    QList<QWidget *> scheduleControls;
    for (const QString &name : kScheduleControls) {
        FIND_CHILD(QWidget, control, setup, name);
        scheduleControls.append(control);
    }
    const auto enabled = [&scheduleControls] {
        return int(std::count_if(scheduleControls.cbegin(), scheduleControls.cend(),
                                 [](const QWidget *w) { return w->isEnabled(); }));
    };
    const QStringList othersBefore = enabledOthers();
    QCOMPARE(enabled(), 0);

    chkEnableSchedule->click();
    QCOMPARE(enabled(), 6);
    QCOMPARE(enabledOthers(), othersBefore);

    chkEnableSchedule->click();
    QCOMPARE(enabled(), 0);
    QCOMPARE(enabledOthers(), othersBefore);
}

void TestSetupDialog::valuesTheControlsCannotShowLoadAsDefaults_data()
{
    QTest::addColumn<QString>("authType");
    QTest::addColumn<QString>("enableSchedule");
    QTest::addColumn<int>("shownAuth");
    QTest::addColumn<bool>("shownSchedule");
    QTest::newRow("none chosen") << "-1"
                                 << "0" << 1 << false;
    QTest::newRow("simple, on") << "0"
                                << "1" << 0 << true;
    QTest::newRow("unknown type") << "7"
                                  << "0" << 1 << false;
    QTest::newRow("schedule 2") << "1"
                                << "2" << 1 << false;
    QTest::newRow("schedule -1") << "-2"
                                 << "-1" << 1 << false;
}

void TestSetupDialog::valuesTheControlsCannotShowLoadAsDefaults()
{
    QFETCH(QString, authType);
    QFETCH(QString, enableSchedule);
    QFETCH(int, shownAuth);
    QFETCH(bool, shownSchedule);
    WindowFixture f;
    f.save(u"AuthType"_s, authType);
    f.save(u"EnableSchedule"_s, enableSchedule);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    QCOMPARE(ui.cboAuth->currentIndex(), shownAuth);
    QCOMPARE(ui.chkEnableSchedule->isChecked(), shownSchedule);
    QCOMPARE(ui.txtGroupSize->isEnabled(), shownSchedule);
}

void TestSetupDialog::signInChoiceFillsTheProvidersServer_data()
{
    QTest::addColumn<QStringList>("stored"); // server, port, type, sign-in method, provider
    QTest::addColumn<QString>("chosen");     // "method:WORD" or "provider:WORD"
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("shown"); // server, port, type after the choice
    QTest::addColumn<bool>("asked");
    const QStringList ms365{u"smtp.office365.com"_s, u"587"_s, u"SSL"_s};
    const QStringList own{u"mail.old.example"_s, u"25"_s, u"Simple"_s};
    QTest::newRow("OAuth chosen, Microsoft 365 shown, no server yet")
        << QStringList{u""_s, u""_s, u"1"_s, u"password"_s, u"microsoft"_s} << u"method:oauth"_s << true << ms365
        << false;
    QTest::newRow("OAuth chosen over the user's own server: Yes")
        << QStringList{u"mail.old.example"_s, u"25"_s, u"0"_s, u"password"_s, u"microsoft"_s} << u"method:oauth"_s
        << true << ms365 << true;
    QTest::newRow("OAuth chosen over the user's own server: No")
        << QStringList{u"mail.old.example"_s, u"25"_s, u"0"_s, u"password"_s, u"microsoft"_s} << u"method:oauth"_s
        << false << own << true;
    QTest::newRow("provider chosen over another provider's server")
        << QStringList{u"smtp.gmail.com"_s, u"587"_s, u"1"_s, u"oauth"_s, u"google"_s} << u"provider:microsoft"_s
        << false << ms365 << false;
    QTest::newRow("Other leaves the server alone")
        << QStringList{u"mail.old.example"_s, u"25"_s, u"0"_s, u"oauth"_s, u"microsoft"_s} << u"provider:custom"_s
        << true << own << false;
    QTest::newRow("a password method fills nothing")
        << QStringList{u"mail.old.example"_s, u"25"_s, u"0"_s, u"oauth"_s, u"microsoft"_s}
        << u"method:password-command"_s << true << own << false;
    QTest::newRow("the provider's values already shown")
        << QStringList{u"smtp.office365.com"_s, u"587"_s, u"1"_s, u"password"_s, u"microsoft"_s}
        << u"method:oauth"_s << false << ms365 << false;
}

void TestSetupDialog::signInChoiceFillsTheProvidersServer()
{
    QFETCH(QStringList, stored);
    QFETCH(QString, chosen);
    QFETCH(bool, answer);
    QFETCH(QStringList, shown);
    QFETCH(bool, asked);
    WindowFixture f;
    f.save(u"SMPTServer"_s, stored[0]);
    f.save(u"SSLport"_s, stored[1]);
    f.save(u"AuthType"_s, stored[2]);
    f.save(u"SignInMethod"_s, stored[3]);
    f.save(u"OAuthProvider"_s, stored[4]);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    const QString box = chosen.section(u':', 0, 0) == u"method"_s ? u"cboSignIn"_s : u"cboProvider"_s;
    FIND_CHILD(QComboBox, combo, setup, box);
    f.dialogs.answer = answer;
    combo->setCurrentIndex(combo->findData(chosen.section(u':', 1)));
    QVERIFY(combo->currentIndex() >= 0);
    Q_EMIT combo->activated(combo->currentIndex());
    QCOMPARE(QStringList({ui.txtSMTPServer->text(), ui.txtEmailSslPort->text(), ui.cboAuth->currentText()}), shown);
    QCOMPARE(f.dialogs.questions.size(), asked ? 1 : 0);
    // The question names the boxes by their labels and says what changes.
    if (asked) {
        for (const QString &word : {u"SMTP Server"_s, u"mail.old.example"_s, u"smtp.office365.com"_s})
            QVERIFY2(f.dialogs.questions.first().contains(word), qPrintable(f.dialogs.questions.first()));
    }
}

void TestSetupDialog::simpleLoginIsWarnedAbout_data()
{
    QTest::addColumn<QString>("authType");
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("warned");
    QTest::newRow("Simple with a login") << "0"
                                         << "office" << true;
    QTest::newRow("Simple without a login") << "0"
                                            << "" << false;
    QTest::newRow("SSL with a login") << "1"
                                      << "office" << false;
}

void TestSetupDialog::simpleLoginIsWarnedAbout()
{
    QFETCH(QString, authType);
    QFETCH(QString, user);
    QFETCH(bool, warned);
    WindowFixture f;
    f.save(u"AuthType"_s, authType);
    f.save(u"UserName"_s, user);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    auto *warning = ui.lblSimpleWarning;
    QCOMPARE(warning->text(), u"Simple sends the user name and password unencrypted."_s);
    QCOMPARE(!warning->isHidden(), warned);

    // It follows the choice and the user name as they change.
    auto *type = ui.cboAuth;
    auto *name = ui.txtUsername;
    type->setCurrentIndex(1);
    QVERIFY(warning->isHidden());
    type->setCurrentIndex(0);
    name->setText(u"office"_s);
    QVERIFY(!warning->isHidden());
    name->clear();
    QVERIFY(warning->isHidden());
}

void TestSetupDialog::senderThatIsNoAddressIsWarnedAboutNotRefused_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("warned");
    QTest::newRow("an address") << u"office@practice.example"_s << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("a name") << u"Practice Office"_s << true;
    QTest::newRow("no domain") << u"office@"_s << true;
    QTest::newRow("two at signs") << u"office@@practice.example"_s << true;
}
void TestSetupDialog::senderThatIsNoAddressIsWarnedAboutNotRefused()
{
    QFETCH(QString, sender);
    QFETCH(bool, warned);
    WindowFixture f;
    f.save(u"EmailFrom"_s, sender);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    FIND_CHILD(QLabel, warning, setup, u"lblMailFromWarning"_s);
    QCOMPARE(!warning->isHidden(), warned);
    QCOMPARE(warning->text(), u"This is not an e-mail address."_s);
    // It follows the typing, and OK saves what was typed all the same.
    ui.txtMailFrom->setText(u"office@practice.example"_s);
    QVERIFY(warning->isHidden());
    ui.txtMailFrom->setText(sender);
    QCOMPARE(!warning->isHidden(), warned);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);
    QVERIFY(f.dialogs.warnings.isEmpty());
    QCOMPARE(stored(f, u"EmailFrom"_s), sender);
}

void TestSetupDialog::okSavesEveryValueAndReopeningShowsThem()
{
    WindowFixture f;
    QPointer<QDialog> setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    QTest::keyClicks(ui.txtMailFrom, u"office@practice.example"_s);
    QTest::keyClicks(ui.txtSMTPServer, u"smtp.practice.example"_s);
    FIND_CHILD(QLineEdit, txtMailFromName, setup, u"txtMailFromName"_s);
    FIND_CHILD(QLineEdit, txtReplyTo, setup, u"txtReplyTo"_s);
    FIND_CHILD(QLineEdit, txtArchiveCopyTo, setup, u"txtArchiveCopyTo"_s);
    txtMailFromName->setText(u"Smith & Söhne"_s);
    QTest::keyClicks(txtReplyTo, u"questions@practice.example"_s);
    QTest::keyClicks(txtArchiveCopyTo, u"archive@practice.example"_s);
    FIND_CHILD(QComboBox, cboSendMethod, setup, u"cboSendMethod"_s);
    QCOMPARE(cboSendMethod->currentData().toString(), u"smtp"_s);
    cboSendMethod->setCurrentIndex(cboSendMethod->findData(u"queue"_s));
    ui.cboAuth->setCurrentIndex(0);
    QTest::keyClicks(ui.txtEmailSslPort, u"587"_s);
    QTest::keyClicks(ui.txtUsername, u"office"_s);
    QTest::keyClicks(ui.txtPassword, u"Pa55word"_s);
    // Scheduling stays off: its three texts are saved all the same, exactly as typed.
    ui.txtDelayBetweenSends->setText(u" 3 "_s);
    ui.txtGroupDelay->setText(u"2"_s);
    ui.txtGroupSize->setText(u"20"_s);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);
    QTRY_VERIFY(!setup);
    QVERIFY(f.dialogs.warnings.isEmpty());

    QCOMPARE(stored(f, u"EmailFrom"_s), u"office@practice.example"_s);
    QCOMPARE(stored(f, u"AuthType"_s), u"0"_s);
    QCOMPARE(stored(f, u"SSLport"_s), u"587"_s);
    QCOMPARE(stored(f, u"SMPTServer"_s), u"smtp.practice.example"_s);
    QCOMPARE(stored(f, u"UserName"_s), u"office"_s);
    QCOMPARE(stored(f, u"PW"_s), ScrambleText(false, u"Pa55word"_s, true));
    QVERIFY(stored(f, u"PW"_s) != u"Pa55word"_s);
    QCOMPARE(stored(f, u"EnableSchedule"_s), u"0"_s);
    QCOMPARE(stored(f, u"DelayBetweenSends"_s), u" 3 "_s);
    QCOMPARE(stored(f, u"GroupDelay"_s), u"2"_s);
    QCOMPARE(stored(f, u"GroupSize"_s), u"20"_s);
    QCOMPARE(stored(f, u"EmailFromName"_s), u"Smith & Söhne"_s);
    QCOMPARE(stored(f, u"ReplyTo"_s), u"questions@practice.example"_s);
    QCOMPARE(stored(f, u"ArchiveCopyTo"_s), u"archive@practice.example"_s);
    QCOMPARE(stored(f, u"SendMethod"_s), u"queue"_s);

    const AppSettings applied = f.window->settings();
    QCOMPARE(applied.SMTPServer, u"smtp.practice.example"_s);
    QCOMPARE(applied.AuthType, qint16(0));
    QCOMPARE(applied.Password, u"Pa55word"_s);
    QCOMPARE(applied.EnableSchedule, qint16(0));
    QCOMPARE(applied.DelayBetweenSends, 3);
    QCOMPARE(applied.GroupDelay, 2);
    QCOMPARE(applied.GroupSize, 20);
    QCOMPARE(applied.EmailFromName, u"Smith & Söhne"_s);
    QCOMPARE(applied.ArchiveCopyTo, u"archive@practice.example"_s);

    // Reopened, the dialog shows what was saved; so does a fresh load of the settings file.
    setup = f.openSetup();
    QVERIFY(setup);
    FIND_CHILD(QLineEdit, reopenedPassword, setup, u"txtPassword"_s);
    FIND_CHILD(QLineEdit, reopenedGroupDelay, setup, u"txtGroupDelay"_s);
    QCOMPARE(reopenedPassword->text(), u"Pa55word"_s);
    QCOMPARE(reopenedGroupDelay->text(), u"2"_s);
    FIND_CHILD(QComboBox, reopenedSendMethod, setup, u"cboSendMethod"_s);
    QCOMPARE(reopenedSendMethod->currentData().toString(), u"queue"_s);
    AppSettings reloaded;
    LoadSettings(*f.store, reloaded);
    QCOMPARE(reloaded.Password, u"Pa55word"_s);
    QCOMPARE(reloaded.UserName, u"office"_s);
}

void TestSetupDialog::okRefusesWhatCouldNotBeStoredAndSavesNothing_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QString>("caption"); // how the message names the box
    const QString delay = u"The delay between email sends must be a whole number of seconds from 0 to 2147483."_s;
    const QString groupDelay =
        u"The delay between email groups must be a whole number of minutes from 0 to 35791."_s;
    QTest::newRow("letters for a delay") << u"txtDelayBetweenSends"_s << u"ten"_s << delay
                                         << u"Delay between Email Sends (secs)"_s;
    QTest::newRow("fraction of a second") << u"txtDelayBetweenSends"_s << u"1.5"_s << delay
                                          << u"Delay between Email Sends (secs)"_s;
    QTest::newRow("empty group delay") << u"txtGroupDelay"_s << QString() << groupDelay
                                       << u"Delay between Email Groups (mins)"_s;
    QTest::newRow("group delay beyond 32-bit milliseconds")
        << u"txtGroupDelay"_s << u"35792"_s << groupDelay << u"Delay between Email Groups (mins)"_s;
    QTest::newRow("fraction of a minute") << u"txtGroupDelay"_s << u"2.5"_s << groupDelay
                                          << u"Delay between Email Groups (mins)"_s;
    QTest::newRow("group size too big") << u"txtGroupSize"_s << u"3000000000"_s
                                        << u"The email group size must be a whole number from 0 to 2147483647."_s
                                        << u"Email Group Size"_s;
    QTest::newRow("port beyond 65535") << u"txtEmailSslPort"_s << u"99999"_s
                                       << u"The SSL port must be empty or a whole number from 1 to 65535."_s
                                       << u"SSL Port"_s;
    QTest::newRow("one-character password") << u"txtPassword"_s << u"x"_s << u"This password cannot be stored"_s
                                            << u"Password"_s;
    QTest::newRow("password outside the scheme")
        << u"txtPassword"_s << u"\u20ACuro"_s << u"This password cannot be stored"_s << u"Password"_s;
    QTest::newRow("Reply-To with a name")
        << u"txtReplyTo"_s << u"Office <office@practice.example>"_s
        << u"The Reply-To address must be empty or one e-mail address"_s << u"Reply-To"_s;
    QTest::newRow("archive without @") << u"txtArchiveCopyTo"_s << u"archive"_s
                                       << u"The archive copy address must be empty or one e-mail"_s
                                       << u"Archive copy to"_s;
    QTest::newRow("IMAP port with letters")
        << u"txtIMAPPort"_s << u"imaps"_s << u"The IMAP port must be empty or a whole number from 1 to 65535."_s
        << u"IMAP Port"_s;
}

void TestSetupDialog::okWarnsOfACopyInSentWithoutAServer()
{
    WindowFixture f;
    QPointer<QDialog> setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    FIND_CHILD(QCheckBox, chkSentCopy, setup, u"chkSentCopy"_s);
    FIND_CHILD(QLineEdit, txtIMAPServer, setup, u"txtIMAPServer"_s);
    ui.txtSMTPServer->setText(u"smtp.practice.example"_s);
    chkSentCopy->setChecked(true);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings.size(), 1);
    QVERIFY2(f.dialogs.warnings.first().startsWith(u"The copy in the Sent folder is on, but no IMAP Server"_s),
             qPrintable(f.dialogs.warnings.first()));
    QVERIFY(setup && setup->isVisible());
    QCOMPARE(stored(f, u"SentCopy"_s), u"<unset>"_s);
    txtIMAPServer->setText(u"imap.practice.example"_s);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);
    QTRY_VERIFY(!setup);
    QCOMPARE(f.dialogs.warnings.size(), 1);
    QCOMPARE(stored(f, u"SentCopy"_s), u"1"_s);
}

void TestSetupDialog::okRefusesWhatCouldNotBeStoredAndSavesNothing()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, warning);
    QFETCH(QString, caption);
    WindowFixture f;
    QPointer<QDialog> setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    ui.txtSMTPServer->setText(u"smtp.practice.example"_s);
    FIND_CHILD(QLineEdit, edited, setup, field);
    edited->setText(text);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);

    QCOMPARE(f.dialogs.warnings.size(), 1);
    const QString said = f.dialogs.warnings.first();
    QVERIFY2(said.startsWith(warning), qPrintable(said));
    QVERIFY2(said.endsWith(u"Correct \"%1\" and try again."_s.arg(caption)), qPrintable(said));
    // The settings file's names are not the user's words.
    QVERIFY2(!said.contains(u'(' + field.mid(3)) && !said.contains(u"(SSLport)"_s), qPrintable(said));
    // The box refused can be corrected, even a pacing box while scheduling is off.
    QVERIFY(edited->isEnabled());
    QVERIFY(setup && setup->isVisible());
    QCOMPARE(stored(f, u"EmailFrom"_s), u"<unset>"_s);
    QCOMPARE(stored(f, u"SMPTServer"_s), u"<unset>"_s);
    QVERIFY(f.window->settings().SMTPServer.isEmpty());
}

void TestSetupDialog::storedValuesTheUserDidNotTouchStay_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("negative group size") << u"GroupSize"_s << u"-5"_s;
    QTest::newRow("delay beyond what a run can wait") << u"DelayBetweenSends"_s << u"3000000"_s;
    QTest::newRow("port with letters") << u"SSLport"_s << u"smtp"_s;
    QTest::newRow("Reply-To with a name") << u"ReplyTo"_s << u"Office <office@practice.example>"_s;
}

void TestSetupDialog::storedValuesTheUserDidNotTouchStay()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    WindowFixture f;
    f.save(name, value);
    QPointer<QDialog> setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    ui.txtSMTPServer->setText(u"smtp.practice.example"_s);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);

    QVERIFY2(f.dialogs.warnings.isEmpty(), qPrintable(f.dialogs.warnings.join(u'\n')));
    QTRY_VERIFY(!setup);
    QCOMPARE(stored(f, u"SMPTServer"_s), u"smtp.practice.example"_s);
    QCOMPARE(stored(f, name), value);
    QCOMPARE(settingText(f.window->settings(), *findStoredSetting(name)), value);
}

void TestSetupDialog::closingWithoutOkSavesNothing()
{
    WindowFixture f;
    QPointer<QDialog> setup = f.openSetup();
    QVERIFY(setup);
    FIND_CHILD(QLineEdit, txtSMTPServer, setup, u"txtSMTPServer"_s);
    txtSMTPServer->setText(u"smtp.practice.example"_s);
    setup->close();
    QTRY_VERIFY(!setup);
    QCOMPARE(stored(f, u"SMPTServer"_s), u"<unset>"_s);
    QVERIFY(f.window->settings().SMTPServer.isEmpty());
}

void TestSetupDialog::signatureIsKeptAsItsOwnFile()
{
    WindowFixture f;
    QPointer<QDialog> setup = f.openSetup();
    QVERIFY(setup);
    const QString file = f.dataFolder() + u"/Signature.html"_s;
    // Typed, then OK: kept; shown again when opened again; emptied, then OK: gone.
    for (const QString &typed : {u"Smith & Partners"_s, u"Smith & Partners"_s, QString()}) {
        FIND_CHILD(QPushButton, cmdSignature, setup, u"cmdSignature"_s);
        cmdSignature->click();
        FIND_CHILD(SignatureDialog, dialog, setup, u"frmSignature"_s);
        FIND_CHILD(QTextEdit, txtSignature, dialog, u"txtSignature"_s);
        QCOMPARE(txtSignature->toPlainText(), QFileInfo::exists(file) ? u"Smith & Partners"_s : QString());
        txtSignature->setPlainText(typed);
        FIND_CHILD(QPushButton, cmdSignatureOK, dialog, u"cmdSignatureOK"_s);
        QPointer<SignatureDialog> closing = dialog;
        cmdSignatureOK->click();
        QTRY_VERIFY(!closing);
        QCOMPARE(QFileInfo::exists(file), !typed.isEmpty());
    }
    QVERIFY(f.dialogs.warnings.isEmpty());
    // Cancel keeps what was there.
    FIND_CHILD(QPushButton, cmdSignature, setup, u"cmdSignature"_s);
    cmdSignature->click();
    FIND_CHILD(SignatureDialog, dialog, setup, u"frmSignature"_s);
    dialog->editor()->setHtml(u"<b>Other</b>"_s);
    FIND_CHILD(QPushButton, cmdSignatureCancel, dialog, u"cmdSignatureCancel"_s);
    cmdSignatureCancel->click();
    QVERIFY(!QFileInfo::exists(file));
}

void TestSetupDialog::pdfBrowseKeepsPathOnCancel()
{
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    auto *dialog = qobject_cast<SetupDialog *>(setup);
    f.dialogs.files = {u"/docs/Test.pdf"_s, QString()};
    QTest::mouseClick(ui.cmdBrowse, Qt::LeftButton);
    QCOMPARE(f.dialogs.fileDialogs.first().title, u"Load Test PDF File"_s);
    QVERIFY(f.dialogs.fileDialogs.first().filters.startsWith(u"PDF File (*.pdf)"_s));
    QCOMPARE(f.dialogs.fileDialogs.first().fileName, u"TestPDF.pdf"_s);
    QCOMPARE(ui.txtPdfLocation->text(), u"/docs/Test.pdf"_s);
    QCOMPARE(dialog->testPdfPath(), u"/docs/Test.pdf"_s);

    QTest::mouseClick(ui.cmdBrowse, Qt::LeftButton); // cancelled
    QCOMPARE(ui.txtPdfLocation->text(), u"/docs/Test.pdf"_s);
    QCOMPARE(dialog->testPdfPath(), u"/docs/Test.pdf"_s);
    QVERIFY(f.dialogs.warnings.isEmpty());
}

void TestSetupDialog::printTestPrintsTheShownPathOrWarns()
{
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    auto *print = ui.cmdTestPrinting;
    QTest::mouseClick(print, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings, QStringList{u"You need to add a PDF file for testing."_s});
    QVERIFY(f.printer.printed().isEmpty());

    // A typed path is printed as shown, although nothing was browsed for. The print command runs
    // off the UI thread: the window never waits for it, and a second click meanwhile prints nothing.
    ui.txtPdfLocation->setText(u"/docs/typed.pdf"_s);
    f.printer.hold();
    QTest::mouseClick(print, Qt::LeftButton);
    QVERIFY(f.printer.printed().isEmpty()); // the click came back while the print still waits
    QVERIFY(!print->isEnabled());
    QTest::mouseClick(print, Qt::LeftButton);
    f.printer.release();
    QTRY_VERIFY_WITH_TIMEOUT(print->isEnabled(), 5000);
    QCOMPARE(f.printer.printed(), QStringList{u"/docs/typed.pdf"_s});
    QCOMPARE(f.dialogs.warnings.size(), 1);

    // A print request that cannot be handed over is said, not swallowed, once it is done.
    f.printer.printTime = std::chrono::milliseconds(0);
    f.printer.failure = u"lp: No default destination."_s;
    QTest::mouseClick(print, Qt::LeftButton);
    QTRY_COMPARE(f.dialogs.warnings.size(), 2);
    QVERIFY(f.dialogs.warnings.last().contains(u"No default destination"_s));
    QVERIFY(print->isEnabled());

    // Closed while a print test is under way, the dialog waits for it and goes.
    f.printer.printTime = std::chrono::milliseconds(300);
    QTest::mouseClick(print, Qt::LeftButton);
    QPointer<QDialog> closing = setup;
    setup->close();
    QTRY_VERIFY(!closing);
    QCOMPARE(f.printer.printed().size(), 3);
}

void TestSetupDialog::helpOpensTheSetupTopic()
{
    WindowFixture f;
    QVERIFY(QDir().mkpath(f.dir.filePath(u"help"_s)));
    writeFile(f.dir.filePath(u"help/main.html"_s), "<html></html>");
    writeFile(f.dir.filePath(u"help/setup.html"_s), "<html></html>");
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CHILD(QPushButton, cmdHelp, setup, u"cmdHelp"_s);
    QTest::mouseClick(cmdHelp, Qt::LeftButton);
    // Shown in the program's own help window, not handed to a browser.
    FIND_CHILD(QTextBrowser, txtHelp, f.window, u"txtHelp"_s);
    QCOMPARE(txtHelp->source(), QUrl::fromLocalFile(f.dir.filePath(u"help/setup.html"_s)));
    QVERIFY(f.dialogs.openedUrls.isEmpty());
}

void TestSetupDialog::testEmailNeedsCompleteServerSetup()
{
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    ui.txtMailFrom->setText(u"office@practice.example"_s);
    ui.txtSMTPServer->setText(u"smtp.practice.example"_s);
    ui.txtEmailSslPort->setText(u"587"_s);
    ui.txtUsername->setText(u"office"_s);
    QTest::mouseClick(ui.cmdTestEmail, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings, QStringList{u"Your email server setup is not complete."_s});
    QCOMPARE(stored(f, u"EmailFrom"_s), u"<unset>"_s);
    QVERIFY(!f.window->findChild<QDialog *>(u"frmEmailTest"_s));

    ui.txtPassword->setText(u"x"_s);
    QTest::mouseClick(ui.cmdTestEmail, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings.size(), 2);
    QVERIFY(f.dialogs.warnings.last().startsWith(u"This password cannot be stored"_s));
    QCOMPARE(stored(f, u"EmailFrom"_s), u"<unset>"_s);

    // The port is checked by the rules OK and `config set` use, before anything is saved.
    ui.txtPassword->setText(u"secret"_s);
    ui.txtEmailSslPort->setText(u"70000"_s);
    QTest::mouseClick(ui.cmdTestEmail, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings.size(), 3);
    QCOMPARE(f.dialogs.warnings.last(), u"The SSL port must be empty or a whole number from 1 to 65535.\n\n"
                                         "Correct \"SSL Port\" and try again."_s);
    QCOMPARE(stored(f, u"EmailFrom"_s), u"<unset>"_s);
    QVERIFY(!f.window->findChild<QDialog *>(u"frmEmailTest"_s));
}

void TestSetupDialog::testEmailSavesTheSixMailValuesAndOpensTheTestDialog()
{
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    ui.txtSMTPServer->setText(u"smtp.practice.example"_s);
    ui.cboAuth->setCurrentIndex(0);
    ui.txtEmailSslPort->setText(u"25"_s);
    ui.txtUsername->setText(u"office"_s);
    ui.txtPassword->setText(u"secret"_s);
    ui.chkEnableSchedule->click();
    QTest::mouseClick(ui.cmdTestEmail, Qt::LeftButton);

    QVERIFY(f.dialogs.warnings.isEmpty());
    QCOMPARE(stored(f, u"EmailFrom"_s), QString()); // empty, but saved
    QCOMPARE(stored(f, u"AuthType"_s), u"0"_s);
    QCOMPARE(stored(f, u"SMPTServer"_s), u"smtp.practice.example"_s);
    QCOMPARE(stored(f, u"PW"_s), ScrambleText(false, u"secret"_s, true));
    QCOMPARE(stored(f, u"EnableSchedule"_s), u"<unset>"_s);
    QCOMPARE(f.window->settings().UserName, u"office"_s);
    QCOMPARE(f.window->settings().EnableSchedule, qint16(0));
    QVERIFY(setup->isVisible());

    FIND_CHILD(QDialog, test, f.window, u"frmEmailTest"_s);
    QVERIFY(test->isVisible());
    QVERIFY(!test->isModal());
    // Pressed again, the same test dialog comes forward.
    QTest::mouseClick(ui.cmdTestEmail, Qt::LeftButton);
    QCOMPARE(f.window->findChildren<QDialog *>(u"frmEmailTest"_s).size(), 1);
}

QTEST_MAIN(TestSetupDialog)
#include "tst_setupdialog.moc"
