#pragma once

#include "settings/settingstable.h"

#include "gui/workerthread.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QFormLayout;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

namespace quorvale {

class OAuthSignIn;
class Printer;
class SignInAccount;
struct OAuthProvider;
struct TokenResult;
class SettingsHolder;
class SettingsStore;
class UserDialogs;

/// frmSetup: the mail server and pacing settings, a print test and the way to a test e-mail; in the
/// Authentication frame, how the login gets its secret (the sign-in method, the OAuth2 sign-in,
/// the password or token command) and where secrets are kept. Non-modal; deletes itself when
/// closed, so the next opening loads afresh. The keyring and the sign-in never block it.
class SetupDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SetupDialog)

public:
    SetupDialog(SettingsHolder &settings, SettingsStore &store, Printer &printer, UserDialogs &dialogs,
                const QString &helpFolder, std::shared_ptr<SignInAccount> account, QWidget *parent = nullptr);
    /// Waits for a print test still under way.
    ~SetupDialog() override;

    QString testPdfPath() const { return m_testPdfPath; }

Q_SIGNALS:
    /// The six mail settings were saved and applied: the test e-mail dialog should show.
    void testEmailRequested();
    /// Help was asked for: the help window should show the dialog's topic.
    void helpRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildUi();
    QGroupBox *buildMailFrame();
    QGroupBox *buildScheduleFrame();
    QGroupBox *buildPrintFrame();
    QGroupBox *buildSentCopyFrame();
    /// The sign-in rows below the login in the Authentication frame.
    void buildSignInRows(QGroupBox *frame, QFormLayout *rows);
    /// Opens the signature's editor (frmSignature).
    void cmdSignature_Click();
    void load();
    /// Shows the rows the chosen sign-in method and provider use.
    void showSignInRows();
    /// Grows the dialog to show what it holds, inside the screen's free area.
    void growToFit();
    /// Fills server, port and type from the provider shown, asking first when the server is one
    /// the user gave; with them the provider's sending limits, and the Sent copy off.
    void fillFromProvider();
    void cmdSignIn_Click();
    void signInFinished(const OAuthProvider &provider, const TokenResult &result);
    /// Asks, off the UI thread, where secrets are kept and whether a sign-in is stored.
    void lookUpSecrets();
    /// Whether OK keeps the password in the keyring: ticked, a keyring answers, one is typed and
    /// the login uses it.
    bool passwordGoesToKeyring() const;
    /// Moves the password into the keyring (or back) after OK saved the settings, then closes.
    void keepPassword();
    void chkEnableSchedule_Click();
    /// Shows lblSimpleWarning while "Simple" is chosen and a user name is set.
    void showSimpleWarning();
    void cmdOK_Click();
    void cmdTestEmail_Click();
    void cmdBrowse_Click();
    void cmdTestPrinting_Click();
    void cmdHelp_Click();

    /// A setting as the dialog shows it: the setting, the text to save and the control that holds it.
    struct Field
    {
        SettingKey key;
        QString text;
        QWidget *box;
    };
    /// The six mail settings, in the order OK and Test Email save them.
    QList<Field> mailFields() const;
    /// The four scheduling settings, saved by OK after the mail settings.
    QList<Field> scheduleFields() const;
    /// Checks every field the user changed, refusing with a message that names its box (and the
    /// focus on it) what the setting does not accept; only then saves them in order and applies
    /// them to the program's settings. A stored value left as it was shown is not checked, and not
    /// written when it would be refused: it stays as stored. False when anything was refused or failed.
    bool saveFields(const QList<Field> &fields);
    /// The caption that names `box` in the dialog, without its shortcut mark and colon.
    QString captionOf(const QWidget *box) const;

    SettingsHolder &m_settings;
    SettingsStore &m_store;
    Printer &m_printer;
    UserDialogs &m_dialogs;
    QString m_testPdfPath;

    QLineEdit *m_txtMailFrom = nullptr;
    QLineEdit *m_txtMailFromName = nullptr;
    QLineEdit *m_txtReplyTo = nullptr;
    QLineEdit *m_txtArchiveCopyTo = nullptr;
    QComboBox *m_cboSendMethod = nullptr;
    QCheckBox *m_chkSentCopy = nullptr;
    QLineEdit *m_txtIMAPServer = nullptr;
    QLineEdit *m_txtIMAPPort = nullptr;
    QLineEdit *m_txtSentFolder = nullptr;
    QLabel *m_lblSentCopyNote = nullptr;
    QLineEdit *m_txtSMTPServer = nullptr;
    QComboBox *m_cboAuth = nullptr;
    QLineEdit *m_txtEmailSslPort = nullptr;
    QLineEdit *m_txtUsername = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QLabel *m_lblSimpleWarning = nullptr;
    QLabel *m_lblMailFromWarning = nullptr;
    QFormLayout *m_authRows = nullptr;
    QComboBox *m_cboSignIn = nullptr;
    QComboBox *m_cboProvider = nullptr;
    QLineEdit *m_txtTenant = nullptr;
    QLineEdit *m_txtClientId = nullptr;
    QLineEdit *m_txtClientSecret = nullptr;
    QLineEdit *m_txtAuthorizeUrl = nullptr;
    QLineEdit *m_txtTokenUrl = nullptr;
    QLineEdit *m_txtScope = nullptr;
    QLineEdit *m_txtPasswordCommand = nullptr;
    QPushButton *m_cmdSignIn = nullptr;
    QWidget *m_signInAddress = nullptr; ///< the address to sign in at, with its Copy button
    QPlainTextEdit *m_txtSignInAddress = nullptr;
    QScrollArea *m_scroll = nullptr;
    // The provider's sending limits, filled in when a provider is chosen and saved with OK.
    QString m_dailyLimit;
    QString m_minuteLimit;
    // Every field as load() showed it: what OK compares with to know what the user changed.
    QList<Field> m_shown;
    QLabel *m_lblSignedIn = nullptr;
    QLabel *m_lblSecrets = nullptr;
    QCheckBox *m_chkKeyring = nullptr;
    QPushButton *m_cmdOK = nullptr;
    bool m_keyringAnswers = false;
    bool m_passwordInKeyring = false;
    std::shared_ptr<SignInAccount> m_account;
    QPointer<OAuthSignIn> m_signIn; ///< the sign-in under way
    QCheckBox *m_chkEnableSchedule = nullptr;
    QLabel *m_label2 = nullptr;
    QLabel *m_label3 = nullptr;
    QLabel *m_label4 = nullptr;
    QLineEdit *m_txtDelayBetweenSends = nullptr;
    QLineEdit *m_txtGroupDelay = nullptr;
    QLineEdit *m_txtGroupSize = nullptr;
    QLineEdit *m_txtPdfLocation = nullptr;
    QPushButton *m_cmdTestEmail = nullptr;
    QPushButton *m_cmdBrowse = nullptr;
    QPushButton *m_cmdTestPrinting = nullptr;
    WorkerThread m_printTest{this};     ///< the print test under way, off the UI thread
    WorkerThread m_secretsLookUp{this}; ///< where secrets are kept, asked when the dialog opens
    WorkerThread m_secretsWrite{this};  ///< a sign-in or password being saved
};

} // namespace quorvale
