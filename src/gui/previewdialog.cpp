#include "gui/previewdialog.h"
#include "mail/htmlbody.h"
#include "mail/messagebuilder.h"

#include "gui/settingsholder.h"
#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"
#include "settings/settingstable.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QUrl>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBrowser>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

QLineEdit *shownLine(const QString &name, QWidget *parent)
{
    QLineEdit *line = makeLineEdit(name, QString(), parent);
    line->setReadOnly(true);
    return line;
}

// Return in the search box finds a client; it must not press a button as well.
QPushButton *button(const QString &name, const QString &text, QWidget *parent)
{
    QPushButton *b = makeButton(name, text, QString(), parent);
    b->setAutoDefault(false);
    return b;
}

} // namespace

PreviewDialog::PreviewDialog(SettingsHolder &settings, Mailer &mailer, UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_mailer(mailer), m_dialogs(dialogs)
{
    setObjectName(u"frmPreview"_s);
    setWindowTitle(u"Preview"_s);
    setModal(false);

    m_lblClient = new QLabel(this);
    m_lblClient->setObjectName(u"lblClient"_s);
    m_cmdPrevious = button(u"cmdPrevious"_s, u"< &Previous"_s, this);
    m_cmdNext = button(u"cmdNext"_s, u"&Next >"_s, this);
    m_txtFind = new QLineEdit(this);
    m_txtFind->setObjectName(u"txtFind"_s);
    m_txtFind->setPlaceholderText(u"Client ID"_s);
    m_txtFind->setToolTip(u"Show the message of the client with this client ID"_s);
    auto *cmdFind = button(u"cmdFind"_s, u"&Find"_s, this);
    auto *navigation = new QHBoxLayout;
    navigation->addWidget(m_cmdPrevious);
    navigation->addWidget(m_cmdNext);
    navigation->addWidget(m_lblClient, 1);
    navigation->addWidget(m_txtFind);
    navigation->addWidget(cmdFind);

    m_txtFrom = shownLine(u"txtFrom"_s, this);
    m_txtTo = shownLine(u"txtTo"_s, this);
    m_txtSubject = shownLine(u"txtSubject"_s, this);
    m_txtBody = new QPlainTextEdit(this);
    m_txtBody->setObjectName(u"txtBody"_s);
    m_txtBody->setReadOnly(true);
    m_txtBody->setTabChangesFocus(true);
    m_txtAttachment = shownLine(u"txtAttachment"_s, this);
    m_txtMessageId = shownLine(u"txtMessageId"_s, this);
    m_txtMessageId->setToolTip(u"Each run gives the message a new Message-ID of this form; the journal records it."_s);
    m_txtReplyTo = shownLine(u"txtReplyTo"_s, this);
    // A formatted message is shown as its reader sees it, and as the text sent beside it.
    m_txtBodyFormatted = new QTextBrowser(this);
    m_txtBodyFormatted->setObjectName(u"txtBodyFormatted"_s);
    m_txtBodyFormatted->setOpenLinks(false);
    m_txtBodyFormatted->setTabChangesFocus(true);
    m_bodyTabs = new QTabWidget(this);
    m_bodyTabs->setObjectName(u"tabBody"_s);
    m_bodyTabs->addTab(m_txtBodyFormatted, u"Formatted"_s);
    m_bodyTabs->addTab(m_txtBody, u"Text"_s);
    auto *fields = new QFormLayout;
    fields->addRow(u"From:"_s, m_txtFrom);
    fields->addRow(u"Reply-To:"_s, m_txtReplyTo);
    fields->addRow(u"To:"_s, m_txtTo);
    fields->addRow(u"Subject:"_s, m_txtSubject);
    fields->addRow(u"Attachment:"_s, m_txtAttachment);
    fields->addRow(u"Message-ID:"_s, m_txtMessageId);
    m_lblProblem = new QLabel(this);
    m_lblProblem->setObjectName(u"lblProblem"_s);
    m_lblProblem->setWordWrap(true);
    m_lblProblem->setStyleSheet(u"color: #a00000"_s);

    m_txtSendTo = new QLineEdit(this);
    m_txtSendTo->setObjectName(u"txtSendTo"_s);
    m_txtSendTo->setToolTip(u"The address that gets this client's message as a test"_s);
    m_cmdSendToMe = button(u"cmdSendToMe"_s, u"&Send to me"_s, this);
    m_cmdSendToMe->setToolTip(u"Send this client's exact message to the address beside it, not to the client"_s);
    auto *sendRow = new QHBoxLayout;
    sendRow->addWidget(new QLabel(u"Send this message to:"_s, this));
    sendRow->addWidget(m_txtSendTo, 1);
    sendRow->addWidget(m_cmdSendToMe);
    m_lblSendStatus = new QLabel(this);
    m_lblSendStatus->setObjectName(u"lblSendStatus"_s);
    m_lblSendStatus->setWordWrap(true);
    auto *cmdClose = button(u"cmdClose"_s, u"Close"_s, this);
    auto *closeRow = new QHBoxLayout;
    closeRow->addWidget(m_lblSendStatus, 1);
    closeRow->addWidget(cmdClose);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addLayout(navigation);
    layout->addLayout(fields);
    layout->addWidget(m_bodyTabs, 1);
    layout->addWidget(m_lblProblem);
    layout->addLayout(sendRow);
    layout->addLayout(closeRow);
    fitToScreen(this, QSize(640, 520));

    connect(m_cmdPrevious, &QPushButton::clicked, this, [this] { showClient(m_row - 1); });
    connect(m_cmdNext, &QPushButton::clicked, this, [this] { showClient(m_row + 1); });
    connect(cmdFind, &QPushButton::clicked, this, &PreviewDialog::findClient);
    connect(m_txtFind, &QLineEdit::returnPressed, this, &PreviewDialog::findClient);
    connect(m_cmdSendToMe, &QPushButton::clicked, this, &PreviewDialog::sendToMe);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::close);
    updateButtons();
}

PreviewDialog::~PreviewDialog() = default;

QString PreviewDialog::shownHtml(const MailMessage &message)
{
    // The pictures are shown from the files the message embeds, named by their full paths; a path
    // that the body's folder does not hold is the signature's.
    const QString html = messageHtml(message);
    QHash<QString, QString> sources;
    for (const QString &path : htmlPicturePaths(html)) {
        const QString inBody = QDir(message.HtmlBaseFolder).absoluteFilePath(path);
        const QString file = QFileInfo::exists(inBody) || message.SignatureFolder.isEmpty()
                                 ? inBody
                                 : QDir(message.SignatureFolder).absoluteFilePath(path);
        sources.insert(path, QUrl::fromLocalFile(file).toString());
    }
    return replacePictureSources(html, sources);
}

bool PreviewDialog::showMailing(const PreviewRequest &request, qint64 line)
{
    QString error;
    MailingPreview mailing;
    if (!mailing.load(request, &error)) {
        m_dialogs.warn(parentWidget() ? parentWidget() : this, error);
        return false;
    }
    m_mailing = std::move(mailing);
    // Each opening starts clean: what was searched for and sent last time belongs to that list.
    m_txtFind->clear();
    if (!m_sender.isRunning())
        m_lblSendStatus->clear();
    if (m_txtSendTo->text().isEmpty())
        m_txtSendTo->setText(request.sender);
    const qsizetype row = line > 0 ? m_mailing.rowOfLine(line) : 0;
    m_row = -1;
    showClient(row < 0 ? 0 : row);
    return true;
}

void PreviewDialog::showClient(qsizetype row)
{
    const qsizetype count = m_mailing.clients().Count();
    if (count == 0) {
        m_row = -1;
        m_shown = {};
        m_lblClient->setText(u"The client list holds no client."_s);
        for (QLineEdit *line : {m_txtFrom, m_txtReplyTo, m_txtTo, m_txtSubject, m_txtAttachment, m_txtMessageId})
            line->clear();
        m_txtBody->clear();
        m_txtBodyFormatted->clear();
        m_lblProblem->clear();
        updateButtons();
        return;
    }
    m_row = qBound<qsizetype>(0, row, count - 1);
    m_shown = m_mailing.preview(m_row);
    m_lblClient->setText(u"Client %1 of %2 (line %3, client ID %4)"_s.arg(m_row + 1).arg(count).arg(
        m_shown.lineNumber).arg(m_shown.clientId));
    // The sender's name and the Reply-To that a send takes from the settings.
    const AppSettings settings = m_settings.get();
    m_shown.message.EmailFromName = settings.EmailFromName;
    m_shown.message.ReplyTo = settings.ReplyTo;
    const QString name = settings.EmailFromName.trimmed();
    m_txtFrom->setText(name.isEmpty() ? m_shown.message.EmailFrom
                                      : u"%1 <%2>"_s.arg(name, m_shown.message.EmailFrom.trimmed()));
    m_txtReplyTo->setText(settings.ReplyTo.isEmpty() ? u"none (replies go to the sender)"_s : settings.ReplyTo);
    m_txtTo->setText(m_shown.message.RecipientAddress);
    m_txtSubject->setText(m_shown.message.SubjectLine);
    QString body = messagePlainText(m_shown.message);
    body.replace(u"\r\n"_s, u"\n"_s);
    m_txtBody->setPlainText(body);
    const bool formatted = !m_shown.message.HtmlBody.isEmpty();
    m_bodyTabs->setTabVisible(0, formatted);
    m_bodyTabs->setCurrentIndex(formatted ? 0 : 1);
    m_txtBodyFormatted->setHtml(formatted ? shownHtml(m_shown.message) : QString());
    m_txtAttachment->setText(m_shown.attachmentText());
    m_txtMessageId->setText(QString::fromLatin1(m_shown.message.MessageId));
    m_lblProblem->setText(m_shown.problem);
    updateButtons();
}

void PreviewDialog::findClient()
{
    const QString id = m_txtFind->text();
    if (id.trimmed().isEmpty())
        return;
    const qsizetype row = m_mailing.rowOfClient(id);
    if (row < 0) {
        m_dialogs.warn(this, u"No client with the client ID \"%1\" is in the client list."_s.arg(id));
        return;
    }
    showClient(row);
}

void PreviewDialog::setRunInProgress(bool running)
{
    m_runInProgress = running;
    updateButtons();
}

void PreviewDialog::updateButtons()
{
    const qsizetype count = m_mailing.clients().Count();
    m_cmdPrevious->setEnabled(m_row > 0);
    m_cmdNext->setEnabled(m_row >= 0 && m_row + 1 < count);
    m_cmdSendToMe->setEnabled(m_row >= 0 && !m_runInProgress && !m_sender.isRunning());
}

void PreviewDialog::sendToMe()
{
    if (m_row < 0 || m_runInProgress || m_sender.isRunning())
        return;
    const AppSettings settings = m_settings.get();
    if (!isMailServerComplete(settings)) {
        m_dialogs.warn(this, u"Your email server setup is not complete."_s);
        return;
    }
    const QString address = m_txtSendTo->text().trimmed();
    m_lblSendStatus->setText(u"Sending to %1..."_s.arg(address));
    m_result = std::make_shared<SendResult>();
    m_sender.start(
        u"Quorvale send to me"_s,
        [this, shown = m_shown, address, settings, result = m_result] {
            *result = sendPreviewTo(m_mailer, shown, address, settings);
        },
        [this, address] {
            m_lblSendStatus->setText(m_result->sent() ? u"Sent to "_s + address
                                                      : u"Not sent: "_s + m_result->errorText);
            updateButtons();
            Q_EMIT sendFinished();
        });
    updateButtons();
}

} // namespace quorvale
