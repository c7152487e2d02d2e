#pragma once

#include "gui/workerthread.h"
#include "mail/sentcopy.h"

#include <QDialog>

#include <atomic>
#include <memory>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace quorvale {

class Mailer;
class SettingsHolder;
struct SendResult;
class UserDialogs;

/// frmEmailTest: sends one fixed message to a typed address with the current mail settings.
/// The send runs on its own thread; the dialog deletes itself when closed and waits for a
/// send in flight (which it aborts) before it goes.
class EmailTestDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EmailTestDialog)

public:
    /// With `sentCopier`, a test with the copy in Sent on also puts its message there.
    EmailTestDialog(SettingsHolder &settings, Mailer &mailer, UserDialogs &dialogs, QWidget *parent = nullptr,
                    SentCopier *sentCopier = nullptr);
    ~EmailTestDialog() override;

    /// While a run is in progress the test cannot start a send of its own.
    void setRunInProgress(bool running);
    bool isSending() const { return m_sender.isRunning(); }

Q_SIGNALS:
    /// The send's progress for the main window's progEmail (0 once the test is over).
    void emailProgress(int percent);
    /// A test send has ended and its lines are in the status box.
    void testFinished();

private:
    void cmdTest_Click();
    void sendFinished();
    void appendStatus(const QString &line);
    void updateTestButton();

    SettingsHolder &m_settings;
    Mailer &m_mailer;
    UserDialogs &m_dialogs;
    bool m_runInProgress = false;
    SentCopier *m_sentCopier = nullptr;
    std::shared_ptr<SendResult> m_result;
    std::shared_ptr<SentCopyResult> m_copy; ///< the copy in Sent, when it was tried
    std::shared_ptr<std::atomic<bool>> m_abort;
    WorkerThread m_sender{this}; ///< after what its work uses, so that it goes first

    QLineEdit *m_txtSendEmailAddy = nullptr;
    QPushButton *m_cmdTest = nullptr;
    QPlainTextEdit *m_txtStatus = nullptr;
};

} // namespace quorvale
