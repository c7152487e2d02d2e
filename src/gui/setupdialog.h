#pragma once

#include "settings/settingstable.h"

#include "gui/workerthread.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvale {

class Printer;
class SettingsHolder;
class SettingsStore;
class UserDialogs;

/// frmSetup: the mail server and pacing settings, a print test and the way to a test e-mail.
/// Non-modal; deletes itself when closed, so the next opening loads afresh.
class SetupDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SetupDialog)

public:
    SetupDialog(SettingsHolder &settings, SettingsStore &store, Printer &printer, UserDialogs &dialogs,
                const QString &helpFolder, QWidget *parent = nullptr);
    /// Waits for a print test still under way.
    ~SetupDialog() override;

    QString testPdfPath() const { return m_testPdfPath; }

Q_SIGNALS:
    /// The six mail settings were saved and applied: the test e-mail dialog should show.
    void testEmailRequested();
    /// Help was asked for: the help window should show the dialog's topic.
    void helpRequested();

private:
    void buildUi();
    QGroupBox *buildMailFrame();
    QGroupBox *buildScheduleFrame();
    QGroupBox *buildPrintFrame();
    void load();
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
    /// Checks every field, refusing with a message (and the focus on its box) what the setting
    /// does not accept; only then saves them in order and applies them to the program's settings.
    /// False when anything was refused or failed.
    bool saveFields(const QList<Field> &fields);

    SettingsHolder &m_settings;
    SettingsStore &m_store;
    Printer &m_printer;
    UserDialogs &m_dialogs;
    QString m_testPdfPath;

    QLineEdit *m_txtMailFrom = nullptr;
    QLineEdit *m_txtSMTPServer = nullptr;
    QComboBox *m_cboAuth = nullptr;
    QLineEdit *m_txtEmailSslPort = nullptr;
    QLineEdit *m_txtUsername = nullptr;
    QLineEdit *m_txtPassword = nullptr;
    QLabel *m_lblSimpleWarning = nullptr;
    QLabel *m_lblMailFromWarning = nullptr;
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
    WorkerThread m_printTest{this}; ///< the print test under way, off the UI thread
};

} // namespace quorvale
