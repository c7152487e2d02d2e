#include "mail/messagebuilder.h"

#include "mail/htmlbody.h"
#include "mail/mimeencode.h"
#include "text/mailaddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace quorvale {

QList<QByteArray> BuiltMessage::singlePartHeaders()
{
    return {"Content-Type: text/plain; charset=UTF-8", "Content-Transfer-Encoding: quoted-printable"};
}

namespace {

/// A picture of a formatted body, read to be embedded.
struct Picture
{
    QString source;    ///< as the body's img src gives it
    QString fileName;
    QByteArray type;   ///< image/...
    QByteArray data;
};

constexpr qint64 kMaxPictureBytes = 10 * 1024 * 1024;

/// Reads the picture that `source`, a path relative to `folder`, names. Only an ordinary file
/// inside `folder` (links followed) that is a picture is read, so that a body cannot send any other
/// file of the computer. Gives why not, or empty.
QString readPicture(const QString &folder, const QString &source, Picture &picture)
{
    picture.source = source;
    const QString relative = QUrl::fromPercentEncoding(source.section(u'#', 0, 0).section(u'?', 0, 0).toUtf8());
    const auto refused = [&source](const QString &why) {
        return u"The picture \"%1\" of the formatted body %2; the message was not sent."_s.arg(source.simplified(),
                                                                                                why);
    };
    if (folder.isEmpty())
        return refused(u"has no folder to be found in"_s);
    if (relative.isEmpty() || QDir::isAbsolutePath(relative) || relative.contains(u'\\') ||
        relative.split(u'/').contains(u".."_s))
        return refused(u"is not a path inside the body's folder"_s);
    const QString base = QFileInfo(folder).canonicalFilePath();
    const QString real = QFileInfo(QDir(folder).filePath(relative)).canonicalFilePath();
    if (base.isEmpty() || real.isEmpty())
        return refused(u"does not exist"_s);
    if (!real.startsWith(base + u'/'))
        return refused(u"leads out of the body's folder"_s);
    const QFileInfo info(real);
    if (!info.isFile())
        return refused(u"is no file"_s);
    if (info.size() > kMaxPictureBytes)
        return refused(u"is larger than 10 MiB"_s);
    QFile file(real);
    if (!file.open(QIODevice::ReadOnly))
        return refused(u"cannot be read (%1)"_s.arg(file.errorString()));
    picture.data = file.read(kMaxPictureBytes + 1);
    picture.fileName = QFileInfo(relative).fileName();
    picture.type = QMimeDatabase().mimeTypeForFileNameAndData(real, picture.data).name().toLatin1();
    if (!picture.type.startsWith("image/"))
        return refused(u"is no picture"_s);
    return {};
}

/// The pictures of `html`, relative to `folder`, or why one of them cannot be sent.
QString readPictures(const QString &html, const QString &folder, QList<Picture> &pictures)
{
    for (const QString &source : htmlPicturePaths(cleanHtmlBody(html))) {
        Picture picture;
        if (QString problem = readPicture(folder, source, picture); !problem.isEmpty())
            return problem;
        pictures.append(picture);
    }
    return {};
}

/// Whether `message`'s signature goes with it: only a formatted body takes its HTML.
bool formattedSignature(const MailMessage &message)
{
    return !message.HtmlBody.isEmpty() && !message.SignatureHtml.isEmpty();
}

/// The plain body: BodyText, and the signature's text after it.
QString plainBody(const MailMessage &message)
{
    if (message.SignatureHtml.isEmpty())
        return message.BodyText;
    QString body = message.BodyText;
    if (!body.isEmpty() && !body.endsWith(u'\n') && !body.endsWith(u'\r'))
        body += u"\r\n"_s;
    return body + u"\r\n"_s + plainTextOfHtml(message.SignatureHtml);
}

/// `body` with `signature` added at its end, inside its body element when it has one.
QString withSignature(const QString &body, const QString &signature)
{
    const qsizetype end = body.lastIndexOf(u"</body"_s, -1, Qt::CaseInsensitive);
    if (end < 0)
        return body + signature;
    return body.first(end) + signature + body.sliced(end);
}

QByteArray base64Lines(const QByteArray &data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray lines;
    lines.reserve(encoded.size() + encoded.size() / 38 + 2);
    for (qsizetype at = 0; at < encoded.size(); at += 76)
        lines += encoded.sliced(at, std::min<qsizetype>(76, encoded.size() - at)) + "\r\n";
    return lines;
}

QByteArray newBoundary()
{
    // "=_" can appear neither in quoted-printable nor in base64 text.
    return "=_qv_" + QUuid::createUuid().toByteArray(QUuid::Id128);
}

/// The body of a message whose body is formatted: multipart/alternative (a plain-text part made
/// from the HTML, and the HTML), inside multipart/related with its pictures when it has any.
void buildFormatted(BuiltMessage &built, const MailMessage &message)
{
    // Checked by messageProblem; a picture gone since is left out.
    QList<Picture> pictures;
    (void)readPictures(message.HtmlBody, message.HtmlBaseFolder, pictures);
    const qsizetype bodyPictures = pictures.size();
    if (formattedSignature(message))
        (void)readPictures(message.SignatureHtml, message.SignatureFolder, pictures);
    // The Content-IDs end in the domain a Message-ID of this sender would have.
    const QByteArray id = mime::newMessageId(message.EmailFrom);
    const QByteArray domain = id.sliced(id.lastIndexOf('@') + 1).chopped(1);
    // The body's and the signature's pictures are named apart: the same path may be another
    // file in each folder.
    QHash<QString, QString> sources;
    QHash<QString, QString> signatureSources;
    QList<QByteArray> contentIds;
    for (const Picture &picture : std::as_const(pictures)) {
        contentIds.append("part" + QByteArray::number(contentIds.size() + 1) + '.' +
                          QUuid::createUuid().toByteArray(QUuid::Id128) + '@' + domain);
        (contentIds.size() <= bodyPictures ? sources : signatureSources)
            .insert(picture.source, u"cid:"_s + QString::fromLatin1(contentIds.last()));
    }
    QString html = replacePictureSources(message.HtmlBody, sources);
    if (formattedSignature(message))
        html = withSignature(html, replacePictureSources(message.SignatureHtml, signatureSources));
    const QByteArray alternative = newBoundary();
    QByteArray body = "--" + alternative +
                      "\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                      mime::quotedPrintable(mime::crlfLines(plainTextOfHtml(html))) + "\r\n--" + alternative +
                      "\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
                      mime::quotedPrintable(mime::crlfLines(html)) + "\r\n--" + alternative + "--\r\n";
    const QByteArray alternativeType = "multipart/alternative; boundary=\"" + alternative + '"';
    if (pictures.isEmpty()) {
        built.formatted = body;
        built.formattedType = alternativeType;
        return;
    }
    const QByteArray related = newBoundary();
    QByteArray whole = "--" + related + "\r\nContent-Type: " + alternativeType + "\r\n\r\n" + body;
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const Picture &picture = pictures[i];
        whole += "\r\n--" + related + "\r\nContent-Type: " + picture.type +
                 "\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <" + contentIds[i] + ">\r\n" +
                 "Content-Disposition: inline" +
                 mime::attachmentDisposition(picture.fileName).sliced(qsizetype(sizeof("Content-Disposition: attachment")) - 1) + "\r\n\r\n" +
                 base64Lines(picture.data);
    }
    whole += "\r\n--" + related + "--\r\n";
    built.formatted = whole;
    built.formattedType = "multipart/related; boundary=\"" + related + "\"; type=\"multipart/alternative\"";
}

} // namespace

QString messageHtml(const MailMessage &message)
{
    if (message.HtmlBody.isEmpty())
        return {};
    const QString body = cleanHtmlBody(message.HtmlBody);
    return formattedSignature(message) ? withSignature(body, cleanHtmlBody(message.SignatureHtml)) : body;
}

QString messagePlainText(const MailMessage &message)
{
    return message.HtmlBody.isEmpty() ? plainBody(message) : plainTextOfHtml(messageHtml(message));
}

QByteArray BuiltMessage::singlePart() const
{
    if (!formatted.isEmpty())
        return (headers + QList<QByteArray>{"Content-Type: " + formattedType}).join("\r\n") + "\r\n\r\n" + formatted;
    QByteArray whole = (headers + singlePartHeaders()).join("\r\n") + "\r\n\r\n" + text;
    // The content of an SMTP message ends with a line end; giving it here keeps the bytes on the
    // wire exactly the ones built.
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        whole += "\r\n";
    return whole;
}

QString formattedBodyProblem(const MailMessage &message)
{
    if (message.HtmlBody.isEmpty())
        return {};
    QList<Picture> pictures;
    if (QString problem = readPictures(message.HtmlBody, message.HtmlBaseFolder, pictures); !problem.isEmpty())
        return problem;
    if (QString problem = formattedSignature(message)
                              ? readPictures(message.SignatureHtml, message.SignatureFolder, pictures)
                              : QString();
        !problem.isEmpty())
        return u"The signature: "_s + problem;
    return {};
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
    if (!message.MessageId.isEmpty() && !mime::isMessageId(message.MessageId))
        return u"The Message-ID \"%1\" is not one Message-ID; the message was not sent."_s.arg(
            QString::fromLatin1(message.MessageId).simplified());
    if (QString problem = formattedBodyProblem(message); !problem.isEmpty())
        return problem;
    QStringList paths{message.AttachmentPath};
    for (const MailAttachment &more : message.MoreAttachments)
        paths.append(more.path);
    if (message.AttachmentPath.isEmpty() && !message.MoreAttachments.isEmpty())
        return u"Further attachments come only after a first one; the message was not sent."_s;
    for (const QString &path : std::as_const(paths)) {
        if (path.isEmpty())
            continue;
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
    built.headers.append("Message-ID: " +
                         (message.MessageId.isEmpty() ? mime::newMessageId(message.EmailFrom) : message.MessageId));
    built.headers.append("MIME-Version: 1.0");
    if (message.HtmlBody.isEmpty())
        built.text = mime::quotedPrintable(mime::crlfLines(plainBody(message)));
    else
        buildFormatted(built, message);
    if (!message.AttachmentPath.isEmpty()) {
        built.attachmentPath = message.AttachmentPath;
        built.attachmentType = QMimeDatabase().mimeTypeForFile(message.AttachmentPath).name().toLatin1();
        built.attachmentDisposition = mime::attachmentDisposition(QFileInfo(message.AttachmentPath).fileName());
        for (const MailAttachment &more : message.MoreAttachments)
            built.moreAttachments.append({more.path, QMimeDatabase().mimeTypeForFile(more.path).name().toLatin1(),
                                          mime::attachmentDisposition(QFileInfo(more.path).fileName()),
                                          more.identity});
    }
    return built;
}

} // namespace quorvale
