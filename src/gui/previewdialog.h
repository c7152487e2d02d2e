#pragma once

#include "gui/workerthread.h"
#include "mail/mailer.h"
#include "run/messagepreview.h"

#include <QDialog>

#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTextBrowser;

namespace quorvale {

class SettingsHolder;
class UserDialogs;

/// frmPreview: the message one client would get, exactly as a run would send it now, client by
/// client; "Send to me" sends that message to the sender or a typed address instead, on a thread
/// of its own. It is a test: no journal, no run.
class PreviewDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PreviewDialog)

public:
    PreviewDialog(SettingsHolder &settings, Mailer &mailer, UserDialogs &dialogs, QWidget *parent = nullptr);
    ~PreviewDialog() override;

    /// Reads the client list and shows the client on line `line` (0: the first client). False
    /// (having warned) when the list cannot be read or the message uses a field no column has.
    bool showMailing(const PreviewRequest &request, qint64 line = 0);
    /// Shows client `row` of the list.
    void showClient(qsizetype row);
    qsizetype currentRow() const { return m_row; }
    const MessagePreview &shown() const { return m_shown; }
    /// While a run is in progress "Send to me" waits: the run has the mail server.
    void setRunInProgress(bool running);
    bool isSending() const { return m_sender.isRunning(); }

Q_SIGNALS:
    /// A "Send to me" has ended; its outcome is in the status line.
    void sendFinished();

private:
    void findClient();
    void sendToMe();
    void updateButtons();
    /// The formatted message to show, its pictures named by their files.
    static QString shownHtml(const MailMessage &message);

    SettingsHolder &m_settings;
    Mailer &m_mailer;
    UserDialogs &m_dialogs;
    MailingPreview m_mailing;
    MessagePreview m_shown;
    qsizetype m_row = -1;
    bool m_runInProgress = false;
    std::shared_ptr<SendResult> m_result;
    WorkerThread m_sender{this}; ///< after what its work uses, so that it goes first

    QLabel *m_lblClient = nullptr;
    QLineEdit *m_txtFind = nullptr;
    QPushButton *m_cmdPrevious = nullptr;
    QPushButton *m_cmdNext = nullptr;
    QLineEdit *m_txtFrom = nullptr;
    QLineEdit *m_txtTo = nullptr;
    QLineEdit *m_txtSubject = nullptr;
    QPlainTextEdit *m_txtBody = nullptr;
    QTextBrowser *m_txtBodyFormatted = nullptr;
    QTabWidget *m_bodyTabs = nullptr;
    QLineEdit *m_txtReplyTo = nullptr;
    QLineEdit *m_txtAttachment = nullptr;
    QLineEdit *m_txtMessageId = nullptr;
    QLabel *m_lblProblem = nullptr;
    QLineEdit *m_txtSendTo = nullptr;
    QPushButton *m_cmdSendToMe = nullptr;
    QLabel *m_lblSendStatus = nullptr;
};

} // namespace quorvale
