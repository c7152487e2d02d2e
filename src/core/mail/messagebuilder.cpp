#include "mail/messagebuilder.h"

#include "mail/mimeencode.h"
#include "text/mailaddress.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

using namespace Qt::StringLiterals;

namespace quorvale {

QList<QByteArray> BuiltMessage::singlePartHeaders()
{
    return {"Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: quoted-printable"};
}

QByteArray BuiltMessage::singlePart() const
{
    QByteArray whole = (headers + singlePartHeaders()).join("\r\n") + "\r\n\r\n" + text;
    // The content of an SMTP message ends with a line end; giving it here keeps the bytes on the
    // wire exactly the ones built.
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        whole += "\r\n";
    return whole;
}

QString messageProblem(const MailMessage &message)
{
    if (message.RecipientAddress.trimmed().isEmpty())
        return u"No recipient address was given."_s;
    if (const QString problem = mime::addressProblem(message.RecipientAddress); !problem.isEmpty())
        return u"The recipient address %1; the message was not sent."_s.arg(problem);
    if (const QString problem = mime::addressProblem(message.EmailFrom); !problem.isEmpty())
        return u"The sender address %1; the message was not sent."_s.arg(problem);
    if (mime::hasLineBreak(message.SubjectLine))
        return u"The subject contains a line break; the message was not sent."_s;
    if (!isOneLineText(message.EmailFromName))
        return u"The sender name contains a line break or a control character; the message was not sent."_s;
    if (!message.ReplyTo.isEmpty() && !isSingleMailAddress(message.ReplyTo))
        return u"The Reply-To address \"%1\" is not one e-mail address; the message was not sent."_s.arg(
            message.ReplyTo.simplified());
    if (!message.ArchiveCopyTo.isEmpty() && !isSingleMailAddress(message.ArchiveCopyTo))
        return u"The archive copy address \"%1\" is not one e-mail address; the message was not sent."_s.arg(
            message.ArchiveCopyTo.simplified());
    const QString &path = message.AttachmentPath;
    if (!path.isEmpty()) {
        QFile file(path);
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
            const QString reason = !QFileInfo::exists(path)  ? u"it does not exist"_s
                                   : QFileInfo(path).isDir() ? u"it is a folder"_s
                                                             : file.errorString();
            return u"The attachment \"%1\" cannot be read (%2); the message was not sent."_s.arg(path, reason);
        }
    }
    return {};
}

BuiltMessage buildMessage(const MailMessage &message, const QDateTime &date)
{
    BuiltMessage built;
    built.sender = message.EmailFrom.trimmed().toUtf8();
    built.recipient = message.RecipientAddress.trimmed().toUtf8();
    built.headers.append("Date: " + mime::rfc2822Date(date));
    const QString senderName = message.EmailFromName.trimmed();
    if (!built.sender.isEmpty())
        built.headers.append("From: " +
                             (senderName.isEmpty() ? built.sender : mime::namedAddress(senderName, built.sender)));
    if (!message.ReplyTo.isEmpty())
        built.headers.append("Reply-To: " + message.ReplyTo.toUtf8());
    built.headers.append("To: " + built.recipient);
    // The archive copy is an envelope recipient only, so the client never sees where it went.
    const QString archive = message.ArchiveCopyTo.trimmed();
    if (!archive.isEmpty() && archive.compare(message.RecipientAddress.trimmed(), Qt::CaseInsensitive) != 0)
        built.archiveRecipient = archive.toUtf8();
    built.headers.append("Subject: " + mime::encodeHeaderText(message.SubjectLine));
    built.headers.append("Message-ID: " + mime::newMessageId(message.EmailFrom));
    built.headers.append("MIME-Version: 1.0");
    built.text = mime::quotedPrintable(mime::crlfLines(message.BodyText));
    if (!message.AttachmentPath.isEmpty()) {
        built.attachmentPath = message.AttachmentPath;
        built.attachmentType = QMimeDatabase().mimeTypeForFile(message.AttachmentPath).name().toLatin1();
        built.attachmentDisposition = mime::attachmentDisposition(QFileInfo(message.AttachmentPath).fileName());
    }
    return built;
}

} // namespace quorvale
