#pragma once

#include "gui/settingsholder.h"
#include "gui/userdialogs.h"
#include "run/batchrun.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;

namespace quorvale {

class AboutDialog;
class CheckDialog;
class Clock;
class EmailTestDialog;
class Mailer;
class Printer;
class RunBridge;
class SettingsStore;
class SetupDialog;

/// What the main window talks to. Every pointer may stay null for the real thing; tests and
/// the benchmark put fakes in. Pointed-to objects must outlive the window.
struct MainWindowOptions
{
    SettingsStore *store = nullptr; ///< null: the user's settings file
    Mailer *mailer = nullptr;       ///< null: SMTP with the current settings
    Printer *printer = nullptr;     ///< null: the print command
    Clock *clock = nullptr;         ///< null: the system clock
    UserDialogs *dialogs = nullptr; ///< null: real message boxes, file dialogs and browser
    QString dataFolder;             ///< empty: the user's data folder
    QString helpFolder;             ///< empty: found beside the program
};

/// frmMain: the message inputs, the attachment mode, the status box and the run buttons.
/// A run's preparation (checks, counts, the question) happens here on the UI thread; its
/// passes run on a worker thread and report back through a RunBridge.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(const MainWindowOptions &options = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    /// From Start until the run's last line is shown.
    bool isRunning() const { return m_runActive; }
    AppSettings settings() const { return m_settings.get(); }
    QString dataFolder() const { return m_dataFolder; }

    void showSetup();
    void showAbout();
    void showEmailTest();
    /// Checks the client list with the window's current inputs and shows the result (frmCheck).
    void showCheck();
    /// A run over only the clients whose last send was refused or may not have arrived.
    void resendFailed();
    /// Opens the folder of the run journals in the desktop's file manager.
    void openJournalFolder();

Q_SIGNALS:
    /// A run's worker has finished and the window is idle again.
    void runFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildUi();
    void buildMenus();
    QPushButton *buildCheckEntries(QWidget *buttonParent);
    void buildCheckMenu();
    void buildJournalMenu();
    void load();

    void cmdBrowseCSV_Click();
    void cmdBrowseCommonAttach_Click();
    void OptAddAttachment_Click(int index);
    void cmdStart_Click();
    void startRun(bool retryFailed);
    void cmdAbort_Click();
    void mnuHelpContents_Click();

    void appendStatusLines(const QStringList &lines);
    void setPrintProgress(int value, int maximum);
    void setRunning(bool running);
    void onRunThreadFinished();
    void finishRunOnceShown();
    void stopEverything();
    QString bodyText() const;
    QString startFolder(const QString &path) const;

    // Owned stand-ins for what the options left empty.
    std::unique_ptr<SettingsStore> m_ownedStore;
    std::unique_ptr<Mailer> m_ownedMailer;
    std::unique_ptr<Printer> m_ownedPrinter;
    std::unique_ptr<Clock> m_ownedClock;
    std::unique_ptr<UserDialogs> m_ownedDialogs;

    SettingsStore *m_store = nullptr;
    Printer *m_printer = nullptr;
    Clock *m_clock = nullptr;
    UserDialogs *m_dialogs = nullptr;
    Mailer *m_mailer = nullptr; // one send in flight at a time is the mailer's own rule
    QString m_dataFolder;
    QString m_helpFolder;
    QString m_lastChosenFile; // the file dialog starts from the last choice, like one shared dialog

    SettingsHolder m_settings;
    RunControl m_control;
    RunBridge *m_bridge = nullptr;
    std::unique_ptr<DialogPrompter> m_prompter;
    std::unique_ptr<BatchRun> m_run;
    QThread *m_runThread = nullptr;
    bool m_runActive = false;
    bool m_clearStatusOnNextLine = false;
    bool m_closing = false;

    QPointer<SetupDialog> m_setup;
    QPointer<EmailTestDialog> m_emailTest;
    QPointer<AboutDialog> m_about;
    QPointer<CheckDialog> m_check;

    QLineEdit *m_txtCSVpath = nullptr;
    QLineEdit *m_txtCommonAttachmentPath = nullptr;
    QLineEdit *m_txtSubjectLine = nullptr;
    QPlainTextEdit *m_txtBodyMessage = nullptr;
    QPlainTextEdit *m_txtProgress = nullptr;
    QLabel *m_label6 = nullptr;
    QPushButton *m_cmdBrowseCSV = nullptr;
    QPushButton *m_cmdBrowseCommonAttach = nullptr;
    QPushButton *m_cmdStart = nullptr;
    QPushButton *m_cmdAbort = nullptr;
    QPushButton *m_cmdCheck = nullptr;
    QAction *m_mnuResendFailed = nullptr;
    QButtonGroup *m_optAddAttachment = nullptr;
    QCheckBox *m_chkPrint = nullptr;
    QProgressBar *m_progEmail = nullptr;
    QProgressBar *m_progPrint = nullptr;
};

} // namespace quorvale
