#pragma once

// The first stage of a send: a MailMessage checked and turned into the header lines, the body and
// the attachment that go on the wire. Usable on its own, to show a message exactly as it would be
// sent, but for its Date (and its Message-ID, when the message brings none).

#include "mail/mailer.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace quorvale {

/// A message ready to be sent.
struct BuiltMessage
{
    QByteArray sender;                ///< the envelope sender (MAIL FROM): the address, UTF-8
    QByteArray recipient;             ///< the envelope recipient (RCPT TO)
    QList<QByteArray> headers;        ///< Date, From (when there is a sender), Reply-To (when set), To, Subject, Message-ID, MIME-Version
    QByteArray text;                  ///< the body: quoted-printable, CR LF line ends
    QString attachmentPath;           ///< empty: no attachment
    QByteArray attachmentType;        ///< the attachment's MIME type
    QByteArray attachmentDisposition; ///< its Content-Disposition header line (the file name encoded)
    /// A further attachment, after the first.
    struct Attachment
    {
        QString path;
        QByteArray type;
        QByteArray disposition;
        platform::FileIdentity identity;
    };
    QList<Attachment> moreAttachments; ///< empty unless the message has several files
    /// A second envelope recipient (RCPT TO) that gets the same message as a blind copy; no header
    /// names it. Empty: none (also when it is the recipient itself).
    QByteArray archiveRecipient;
    /// With a formatted body: the body, whole (multipart/alternative, inside multipart/related when
    /// it has pictures), and its Content-Type header value. Empty: the body is `text` alone.
    QByteArray formatted;
    QByteArray formattedType;

    /// The header lines of the one text part a message without attachment and formatted body is.
    static QList<QByteArray> singlePartHeaders();
    /// A message without attachment, whole: exactly the bytes of its upload, ending in a line end.
    QByteArray singlePart() const;
};

/// Why `message` cannot be sent (no recipient, a line break or control character where a header
/// or SMTP command would take it, a Reply-To or archive copy address that is not one address, an
/// attachment that cannot be read), or empty when it can.
QString messageProblem(const MailMessage &message);

/// The HTML of a formatted message as it is sent, its signature included, before its pictures are
/// embedded; empty for a plain message.
QString messageHtml(const MailMessage &message);
/// The text a reader that shows no formatting gets: the plain body with the signature's text, or
/// the plain-text part made from the formatted body.
QString messagePlainText(const MailMessage &message);

/// Why a picture of `message`'s formatted body or of its signature cannot be sent (missing, not a
/// picture, outside its folder), or empty.
QString formattedBodyProblem(const MailMessage &message);

/// `message` as it goes on the wire on `date`, with its Message-ID (a new one when it has none). Header text that is not
/// plain ASCII is RFC 2047 encoded; check messageProblem() first.
BuiltMessage buildMessage(const MailMessage &message, const QDateTime &date = QDateTime::currentDateTime());

} // namespace quorvale
