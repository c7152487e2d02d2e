#pragma once

#include "gui/appservices.h"
#include "gui/settingsholder.h"
#include "run/runreport.h"
#include "gui/workerthread.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <memory>

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace quorvale {

class AboutDialog;
class CheckDialog;
class EmailTestDialog;
class FormattedEditor;
class HelpWindow;
class InboxReader;
class PreviewDialog;
class RunSession;
class RunSummaryPanel;
class SetupDialog;

/// frmMain: the message inputs, the attachment mode, the status box and the run buttons. It wires
/// its controls to a RunSession, which holds the run, and shows what the session reports.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(const AppServices &services, QWidget *parent = nullptr);
    ~MainWindow() override;

    /// From Start until the run's last line is shown.
    bool isRunning() const;
    AppSettings settings() const { return m_settings.get(); }
    QString dataFolder() const { return m_services.dataFolder; }

    void showSetup();
    void showAbout();
    void showEmailTest();
    /// Checks the client list with the window's current inputs and shows the result (frmCheck).
    void showCheck();
    /// Shows the message of the client on line `line` of the client list (0: the first client)
    /// as a run would send it with the window's current inputs (frmPreview).
    void showPreview(qint64 line = 0);
    /// A run over only the clients whose last send was refused or may not have arrived.
    void resendFailed();
    /// A run over only the clients whose message bounced, at the address now in the client file
    /// once it was changed.
    void resendBounced();
    /// Opens the folder of the run journals in the desktop's file manager.
    void openJournalFolder();
    /// Reads the mailbox's delivery reports of the last 30 days' runs off the window's thread,
    /// journals the bounced clients and lists them in the status box.
    void checkForBounces();
    /// Shows the help window at a context number (kMainHelpContext, kSetupHelpContext).
    void showHelp(int context);
    /// Closes the window because the desktop session ends: a run is aborted without a question.
    void closeWithoutAsking();

Q_SIGNALS:
    /// A run's worker has finished and the window is idle again.
    void runFinished();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildUi();
    QLayout *buildInputs(QWidget *parent);
    QLayout *buildStatus(QWidget *parent);
    void buildMenus();
    void load();
    /// Completes the settings with the password the keyring keeps, when the file holds none.
    void fetchKeptPassword();

    void cmdBrowseCSV_Click();
    void cmdBrowseCommonAttach_Click();
    void OptAddAttachment_Click(int index);
    void cmdStart_Click();
    /// `clients`: the clients ticked in the check to go to (by identifier); empty: every client.
    void startRun(bool retryFailed, const QStringList &clients = {}, bool resendBounced = false);
    void cmdAbort_Click();
    void mnuHelpContents_Click();

    void clearStatus();
    void appendStatusLines(const QStringList &lines);
    void setPrintProgress(int value, int maximum);
    void setRunning(bool running);
    void showRunProgress(const RunProgress &progress);
    /// The progress line with the time left counted down since the run last reported.
    void updateRunProgressLine();
    /// Opens a file or folder on the desktop; when nothing opens it, says so with its path and
    /// offers to copy the path.
    void openOnDesktop(const QString &path, const QString &what);
    /// Sizes the window to its texts and to the screen it opens on.
    void sizeToTextsAndScreen();
    void stopEverything();
    /// Saves the subject and body when they differ from the saved ones; false with `error`.
    bool keepMessage(QString *error);
    QString bodyText() const;
    /// The formatted body when the body is formatted; empty when it is plain.
    QString bodyHtml() const;
    /// chkFormatted: shows the formatted editor or the plain text box.
    void chkFormatted_Toggled(bool formatted);
    QString startFolder(const QString &path) const;

    AppServices m_services;
    SettingsHolder m_settings;
    std::unique_ptr<RunSession> m_session;
    QString m_lastChosenFile; // the file dialog starts from the last choice, like one shared dialog
    bool m_closing = false;
    bool m_askBeforeClosing = true;
    bool m_statusAtEnd = true; ///< the status box shows its last line

    QPointer<SetupDialog> m_setup;
    QPointer<EmailTestDialog> m_emailTest;
    QPointer<AboutDialog> m_about;
    QPointer<CheckDialog> m_check;
    QPointer<PreviewDialog> m_preview;
    QPointer<HelpWindow> m_help;

    QLineEdit *m_txtCSVpath = nullptr;
    QLineEdit *m_txtCommonAttachmentPath = nullptr;
    QLineEdit *m_txtDocumentPatterns = nullptr; ///< the names of each client's documents (fourth mode)
    QStackedWidget *m_attachmentDetails = nullptr; ///< the common file's row, or the document names in the fourth mode
    QLineEdit *m_txtSubjectLine = nullptr;
    QPlainTextEdit *m_txtBodyMessage = nullptr;
    FormattedEditor *m_bodyEditor = nullptr; ///< txtBodyHtml, the formatted body
    QStackedWidget *m_bodyStack = nullptr;
    QCheckBox *m_chkFormatted = nullptr;
    QPlainTextEdit *m_txtProgress = nullptr;
    QLabel *m_label6 = nullptr;
    QPushButton *m_cmdBrowseCSV = nullptr;
    QPushButton *m_cmdBrowseCommonAttach = nullptr;
    QPushButton *m_cmdStart = nullptr;
    QPushButton *m_cmdAbort = nullptr;
    QPushButton *m_cmdCheck = nullptr;
    QAction *m_mnuResendFailed = nullptr;
    QAction *m_mnuCheckBounces = nullptr;
    QAction *m_mnuResendBounced = nullptr;
    QButtonGroup *m_optAddAttachment = nullptr;
    QCheckBox *m_chkPrint = nullptr;
    QCheckBox *m_chkCSVHeader = nullptr;
    QProgressBar *m_progEmail = nullptr;
    QProgressBar *m_progPrint = nullptr;
    QLabel *m_lblRunProgress = nullptr;
    RunProgress m_runProgress;
    QElapsedTimer m_sinceProgress;
    QTimer m_progressTicker; ///< counts the time left down between reports (a long group delay)
    RunSummaryPanel *m_summary = nullptr;
    WorkerThread m_keyring{this}; ///< the password asked of the keyring at start
    std::unique_ptr<InboxReader> m_ownInboxReader; ///< when the services bring none
    /// Set when the window goes: a check for bounces under way stops at its next wait.
    std::shared_ptr<std::atomic_bool> m_bounceCheckAborted = std::make_shared<std::atomic_bool>(false);
    WorkerThread m_bounceCheck{this}; ///< the check for bounces; destroyed first, so it is waited for
};

} // namespace quorvale
