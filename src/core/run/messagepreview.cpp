#include "run/messagepreview.h"

#include "mail/htmlbody.h"
#include "mail/messagebuilder.h"
#include "mail/mimeencode.h"
#include "mail/sizeprobe.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace quorvale {

MailMessage clientMessage(const MessageTemplate &message, const ClientList &clients, qsizetype row,
                          const QString &attachment, const platform::FileIdentity &identity)
{
    return MailMessage{clients.EmailAddress(row), attachment, message.subject.fill(clients, row),
                       message.body.fill(clients, row), identity};
}

MailMessage clientMessage(const MailingPlan &plan, qsizetype row, const QString &attachment,
                          const platform::FileIdentity &identity)
{
    const Mailing &mailing = plan.mailing();
    MailMessage message = clientMessage(plan.message(), plan.clients(), row, attachment, identity);
    if (mailing.formatted) {
        message.HtmlBody = plan.message().body.fill(plan.clients(), row, FieldTemplate::Fill::Html);
        message.HtmlBaseFolder = mailing.htmlFolder;
        // The plain text shown and journalled is the one sent beside the HTML.
        message.BodyText = plainTextOfHtml(cleanHtmlBody(message.HtmlBody));
    }
    message.SignatureHtml = mailing.signature;
    message.SignatureFolder = mailing.signatureFolder;
    if (const ClientPlan &planned = plan.plan(row); !attachment.isEmpty() && attachment == planned.file) {
        for (const PlannedFile &more : planned.moreFiles())
            message.MoreAttachments.append({more.path, more.identity});
    }
    return message;
}

QString MessagePreview::attachmentText() const
{
    if (!attachmentNote.isEmpty())
        return attachmentNote;
    if (message.AttachmentPath.isEmpty())
        return u"none"_s;
    const auto described = [](const QString &path, qint64 size) -> QString {
        const QString name = QFileInfo(path).fileName();
        if (size < 0)
            return name + u" (cannot be read)"_s;
        return name + u" ("_s + QString::number(size) + u" bytes)"_s;
    };
    QString text = described(message.AttachmentPath, attachmentSize);
    for (const MailAttachment &more : message.MoreAttachments) {
        const QFileInfo file(more.path);
        text += u", "_s + described(more.path, file.isFile() ? file.size() : -1);
    }
    return text;
}

bool MailingPreview::load(const PreviewRequest &request, QString *error)
{
    m_request = request;
    Mailing mailing{request.csvPath,    request.header,    request.subject,    request.body,
                    request.mode,       request.commonPath, false,              request.delimiter,
                    request.programFiles, request.formatted, request.htmlFolder, request.signature,
                    request.signatureFolder, request.documentPatterns};
    mailing.clients = request.clients;
    m_plan = MailingPlan::make(mailing);
    if (!m_plan.ok() || !m_plan.chosenProblem().isEmpty()) {
        *error = m_plan.ok()                     ? m_plan.chosenProblem()
                 : m_plan.readMistake().isEmpty() ? m_plan.error()
                                                  : m_plan.error() + u'\n' + m_plan.readMistake();
        return false;
    }
    if (const QStringList unknown = m_plan.message().unknownPlaceholders(); !unknown.isEmpty()) {
        *error = m_plan.unknownPlaceholderProblem(unknown.first());
        return false;
    }
    return true;
}

qsizetype MailingPreview::rowOfClient(const QString &clientId) const
{
    const QString wanted = clientId.trimmed();
    for (qsizetype i = 0; i < m_plan.clients().Count(); ++i) {
        if (m_plan.clients().ClientId(i).trimmed() == wanted)
            return i;
    }
    return -1;
}

qsizetype MailingPreview::rowOfLine(qint64 line) const
{
    for (qsizetype i = 0; i < m_plan.clients().Count(); ++i) {
        if (m_plan.clients().lineNumber(i) == line)
            return i;
    }
    return -1;
}

MessagePreview MailingPreview::preview(qsizetype row) const
{
    MessagePreview shown;
    shown.lineNumber = m_plan.clients().lineNumber(row);
    shown.clientId = m_plan.clients().ClientId(row);
    const ClientPlan &plan = m_plan.plan(row);
    QString attachment;
    platform::FileIdentity identity;
    switch (plan.action) {
    case ClientAction::Send:
    case ClientAction::Nothing:
        break;
    case ClientAction::SendFile:
    case ClientAction::Print:
        attachment = plan.file;
        identity = plan.identity;
        if (m_request.mode == AttachmentMode::Common && attachment.isEmpty())
            shown.attachmentNote = u"no common attachment set: the message is not sent"_s;
        else if (plan.flags & (ClientFlag::CommonIsClientList | ClientFlag::CommonIsProgramFile))
            shown.attachmentNote = m_plan.commonProblem();
        break;
    case ClientAction::NoDocument:
        shown.attachmentNote = !m_plan.folderError().isEmpty() ? u"no document found ("_s + m_plan.folderError() + u')'
                               : !plan.refused().isEmpty()     ? u"no document found ("_s + plan.refused() + u')'
                                                               : u"no document found"_s;
        break;
    case ClientAction::Ambiguous:
        shown.attachmentNote =
            plan.flags.testFlag(ClientFlag::SeveralDocuments)
                ? u"several documents found (%1): none is sent, nor the message"_s.arg(plan.documents().join(u", "_s))
                : u"the document %1 also names %2: it is not sent, nor the message"_s.arg(
                      plan.documents().join(u", "_s), plan.sharedWith().join(u", "_s));
        break;
    }
    shown.message = clientMessage(m_plan, row, attachment, identity);
    shown.message.EmailFrom = m_request.sender;
    // The form of the Message-ID a run gives this message; the run makes its own, with its own
    // start and a new random part.
    shown.message.MessageId = mime::runMessageId(QDateTime::currentDateTime(), row + 1, shown.lineNumber,
                                                 m_request.sender);
    if (!attachment.isEmpty() && shown.attachmentNote.isEmpty() && QFileInfo(attachment).isFile())
        shown.attachmentSize = QFileInfo(attachment).size();
    if (!m_plan.isChosen(row))
        shown.problem = u"The client is not one of the chosen clients: a run leaves it out."_s;
    else if (!m_plan.clients().hasEmailAddress(row))
        shown.problem = u"The client has no e-mail address: a run prints its document instead."_s;
    else if (shown.attachmentNote.isEmpty())
        shown.problem = messageProblem(shown.message);
    if (shown.problem.isEmpty() && shown.attachmentNote.isEmpty() && m_request.serverSizeLimit) {
        MailMessage sized = shown.message;
        sized.EmailFromName = m_request.senderName;
        sized.ReplyTo = m_request.replyTo;
        if (const qint64 size = wireSize(buildMessage(sized)); size > *m_request.serverSizeLimit)
            shown.problem = u"The message is %1; the server takes at most %2."_s.arg(
                megabytes(size), megabytes(*m_request.serverSizeLimit));
    }
    return shown;
}

SendResult sendPreviewTo(Mailer &mailer, const MessagePreview &shown, const QString &address,
                         const AppSettings &settings)
{
    SendResult refused;
    if (!shown.attachmentNote.isEmpty())
        refused.errorText = u"a run would not send this client's message: "_s + shown.attachmentNote;
    else if (address.trimmed().isEmpty())
        refused.errorText = u"No address was given to send the message to."_s;
    if (!refused.errorText.isEmpty())
        return refused;
    MailMessage message = shown.message;
    message.RecipientAddress = address.trimmed();
    return SendMail(mailer, message, settings);
}

} // namespace quorvale
