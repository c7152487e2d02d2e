#include "gui/emailtestdialog.h"

#include "gui/settingsholder.h"
#include "gui/widgetfactory.h"
#include "gui/userdialogs.h"
#include "mail/mailer.h"
#include "run/runreport.h"
#include "settings/settingstable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace quorvale {

using namespace Qt::StringLiterals;

EmailTestDialog::EmailTestDialog(SettingsHolder &settings, Mailer &mailer, UserDialogs &dialogs, QWidget *parent,
                                 SentCopier *sentCopier)
    : QDialog(parent), m_settings(settings), m_mailer(mailer), m_dialogs(dialogs), m_sentCopier(sentCopier)
{
    setObjectName(u"frmEmailTest"_s);
    setWindowTitle(u"Email Test"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto *label1 = new QLabel(u"Email address for send test"_s, this);
    label1->setObjectName(u"Label1"_s);
    m_txtSendEmailAddy = new QLineEdit(this);
    m_txtSendEmailAddy->setObjectName(u"txtSendEmailAddy"_s);
    m_txtSendEmailAddy->setToolTip(u"Email address for send test"_s);
    m_cmdTest = new QPushButton(u"Test"_s, this);
    m_cmdTest->setObjectName(u"cmdTest"_s);
    m_cmdTest->setToolTip(u"Send test email"_s);
    m_cmdTest->setAutoDefault(false);
    m_cmdTest->setMinimumWidth(m_cmdTest->fontMetrics().horizontalAdvance(u"Testing..."_s) + 32);
    auto *label2 = new QLabel(u"Status"_s, this);
    label2->setObjectName(u"Label2"_s);
    m_txtStatus = new QPlainTextEdit(this);
    m_txtStatus->setObjectName(u"txtStatus"_s);
    m_txtStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtStatus->setReadOnly(true);
    m_txtStatus->setTabChangesFocus(true);
    auto *cmdClear = new QPushButton(u"&Clear Status"_s, this);
    cmdClear->setObjectName(u"cmdClear"_s);
    cmdClear->setToolTip(u"Clear status"_s);
    cmdClear->setAutoDefault(false);
    auto *cmdOK = new QPushButton(u"OK"_s, this);
    cmdOK->setObjectName(u"cmdOK"_s);
    cmdOK->setAutoDefault(false);
    cmdOK->setMinimumWidth(96);

    auto *addressRow = new QHBoxLayout;
    addressRow->addWidget(m_txtSendEmailAddy, 1);
    addressRow->addWidget(m_cmdTest);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdClear);
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(label1);
    layout->addLayout(addressRow);
    layout->addSpacing(6);
    layout->addWidget(label2);
    layout->addWidget(m_txtStatus, 1);
    layout->addLayout(buttons);
    fitToScreen(this, QSize(460, 340));

    connect(m_cmdTest, &QPushButton::clicked, this, &EmailTestDialog::cmdTest_Click);
    connect(m_txtSendEmailAddy, &QLineEdit::returnPressed, m_cmdTest, &QPushButton::click);
    connect(cmdClear, &QPushButton::clicked, m_txtStatus, &QPlainTextEdit::clear);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
}

EmailTestDialog::~EmailTestDialog()
{
    if (m_abort)
        m_abort->store(true); // the sender is waited for as it goes
}

void EmailTestDialog::setRunInProgress(bool running)
{
    m_runInProgress = running;
    updateTestButton();
}

void EmailTestDialog::updateTestButton()
{
    m_cmdTest->setEnabled(!m_runInProgress && !m_sender.isRunning());
}

void EmailTestDialog::appendStatus(const QString &line)
{
    QString text = line;
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    m_txtStatus->appendPlainText(text);
    QScrollBar *bar = m_txtStatus->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void EmailTestDialog::cmdTest_Click()
{
    if (m_sender.isRunning() || m_runInProgress)
        return;
    const AppSettings settings = m_settings.get();
    if (!isMailServerComplete(settings)) {
        m_dialogs.warn(this, incompleteSetupMessage(settings));
        return;
    }
    if (m_txtSendEmailAddy->text().isEmpty()) {
        m_dialogs.warn(this, u"You need enter a send email address for testing."_s);
        return;
    }
    m_cmdTest->setText(u"Testing..."_s);
    appendStatus(u"Testing Email..."_s);

    // The message is the test's own: never an attachment, and nothing a run sends is touched.
    MailMessage message;
    message.RecipientAddress = m_txtSendEmailAddy->text();
    message.SubjectLine = u"Test subject line text"_s;
    message.BodyText = u"Test email body text"_s;

    m_result = std::make_shared<SendResult>();
    m_copy.reset();
    m_abort = std::make_shared<std::atomic<bool>>(false);
    SendCallbacks callbacks;
    SentCopier *copier = settings.SentCopy == 1 ? m_sentCopier : nullptr;
    callbacks.keepSentMessage = copier != nullptr;
    if (copier)
        m_copy = std::make_shared<SentCopyResult>();
    callbacks.percentDone = [this](int percent) { Q_EMIT emailProgress(percent); };
    callbacks.aborted = [abort = m_abort] { return abort->load(); };
    m_sender.start(
        u"Quorvale test e-mail"_s,
        [this, message, settings, callbacks, copier, result = m_result, copy = m_copy] {
            *result = SendMail(m_mailer, message, settings, callbacks);
            if (copier && result->sent())
                *copy = copier->copy(result->sentMessage, settings, callbacks.aborted);
        },
        [this] { sendFinished(); });
    updateTestButton();
}

void EmailTestDialog::sendFinished()
{
    const SendResult result = *m_result;

    bool copied = true;
    if (m_copy && result.sent()) {
        copied = m_copy->ok();
        if (!m_copy->note.isEmpty() && copied)
            appendStatus(m_copy->note);
        appendStatus(copied ? u"The copy in the Sent folder was made."_s : m_copy->error);
    }
    // Also a send that could not even start (a port that is not a number, say) says why.
    if (!result.sent() || !copied) {
        if (!result.sent())
            appendStatus(result.errorText);
        appendStatus(u"Email test bad or had problems!"_s);
    }
    appendStatus(u"Email testing complete"_s);
    m_cmdTest->setText(u"Test"_s);
    updateTestButton();
    Q_EMIT emailProgress(0);
    Q_EMIT testFinished();
}

} // namespace quorvale
