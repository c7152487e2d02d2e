#include "run/messagepreview.h"

#include "clients/csvreader.h"
#include "mail/messagebuilder.h"

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

QString MessagePreview::attachmentText() const
{
    if (!attachmentNote.isEmpty())
        return attachmentNote;
    if (message.AttachmentPath.isEmpty())
        return u"none"_s;
    const QString name = QFileInfo(message.AttachmentPath).fileName();
    if (attachmentSize < 0)
        return name + u" (cannot be read)"_s;
    return name + u" ("_s + QString::number(attachmentSize) + u" bytes)"_s;
}

bool MailingPreview::load(const PreviewRequest &request, QString *error)
{
    m_request = request;
    m_index.reset();
    CsvReadResult read = GetCSVFile(request.csvPath, request.header ? CsvHeader::ColumnNames : CsvHeader::None);
    if (read.outcome != CsvReadOutcome::Read) {
        *error = read.message(request.csvPath);
        return false;
    }
    m_clients = std::move(read.clients);
    m_message = MessageTemplate(request.subject, request.body, m_clients);
    if (const QStringList unknown = m_message.unknownPlaceholders(); !unknown.isEmpty()) {
        *error = unknownPlaceholderMessage(unknown.first());
        return false;
    }
    return true;
}

qsizetype MailingPreview::rowOfClient(const QString &clientId) const
{
    const QString wanted = clientId.trimmed();
    for (qsizetype i = 0; i < m_clients.Count(); ++i) {
        if (m_clients.ClientId(i).trimmed() == wanted)
            return i;
    }
    return -1;
}

qsizetype MailingPreview::rowOfLine(qint64 line) const
{
    for (qsizetype i = 0; i < m_clients.Count(); ++i) {
        if (m_clients.lineNumber(i) == line)
            return i;
    }
    return -1;
}

MessagePreview MailingPreview::preview(qsizetype row) const
{
    MessagePreview shown;
    shown.lineNumber = m_clients.lineNumber(row);
    shown.clientId = m_clients.ClientId(row);
    QString attachment;
    platform::FileIdentity identity;
    const QFileInfo csvFile(m_request.csvPath);
    switch (m_request.mode) {
    case AttachmentMode::None:
        break;
    case AttachmentMode::Common:
        attachment = m_request.commonPath;
        if (attachment.isEmpty())
            shown.attachmentNote = u"no common attachment set: the message is not sent"_s;
        else
            shown.attachmentNote =
                programFileAttachmentProblem(attachment, csvFile.absoluteFilePath(), m_request.programFiles);
        break;
    case AttachmentMode::ClientSpecific: {
        if (!m_index) {
            QStringList ids;
            ids.reserve(m_clients.Count());
            for (qsizetype i = 0; i < m_clients.Count(); ++i)
                ids.append(m_clients.ClientId(i));
            m_index.emplace(ids);
        }
        QString error;
        const ClientDocument document =
            FindClientDocument(csvFile.absolutePath(), shown.clientId, *m_index, csvFile.absoluteFilePath(), &error,
                               m_request.programFiles);
        switch (document.outcome) {
        case ClientDocument::Outcome::Found:
            attachment = document.path;
            identity = document.identity;
            break;
        case ClientDocument::Outcome::None:
            shown.attachmentNote = !error.isEmpty()            ? u"no document found ("_s + error + u')'
                                   : !document.refused.isEmpty() ? u"no document found ("_s + document.refused + u')'
                                                                 : u"no document found"_s;
            break;
        case ClientDocument::Outcome::Several:
            shown.attachmentNote =
                u"several documents found (%1): none is sent, nor the message"_s.arg(document.names.join(u", "_s));
            break;
        case ClientDocument::Outcome::Shared:
            shown.attachmentNote = u"the document %1 also names %2: it is not sent, nor the message"_s.arg(
                document.names.join(u", "_s), document.otherIds.join(u", "_s));
            break;
        }
        break;
    }
    }
    shown.message = clientMessage(m_message, m_clients, row, attachment, identity);
    shown.message.EmailFrom = m_request.sender;
    if (!attachment.isEmpty() && shown.attachmentNote.isEmpty() && QFileInfo(attachment).isFile())
        shown.attachmentSize = QFileInfo(attachment).size();
    if (!m_clients.hasEmailAddress(row))
        shown.problem = u"The client has no e-mail address: a run prints its document instead."_s;
    else if (shown.attachmentNote.isEmpty())
        shown.problem = messageProblem(shown.message);
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
