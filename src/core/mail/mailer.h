#pragma once

// The seam between a run (or a test e-mail) and mail delivery: one message and one server go in,
// one result comes out. The real Mailer sends over SMTP (smtpmailer.h); tests use a fake.

#include "mail/mailserver.h"
#include "mail/replytable.h"
#include "platform/files.h"
#include "settings/appsettings.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace quorvale {

/// A further file a message carries, after the one of MailMessage::AttachmentPath.
struct MailAttachment
{
    QString path;
    /// When valid, the file must still be this one when it is read for sending.
    platform::FileIdentity identity{};
};

/// The inputs of one send, passed explicitly so that nothing else (a test e-mail, edits in
/// the window) can change what a run sends.
struct MailMessage
{
    QString RecipientAddress;
    QString AttachmentPath; ///< empty: no attachment
    QString SubjectLine;
    QString BodyText;
    /// When valid, the attachment must still be this file when it is read for sending; a file
    /// replaced, or a link re-pointed, since it was chosen is not sent.
    platform::FileIdentity AttachmentIdentity{};
    QString EmailFrom{}; ///< the sender
    QString EmailFromName{}; ///< the sender's name, shown with EmailFrom; empty: the address alone
    QString ReplyTo{};       ///< the Reply-To address; empty: none
    /// An extra envelope recipient that gets the same message as a blind copy (no header names
    /// it); empty: none. SendMail leaves it as the caller set it: a run sets it for each client's
    /// message from "ArchiveCopyTo", a test leaves it empty.
    QString ArchiveCopyTo{};
    /// A formatted body (HTML, its fields already filled with escaped values); empty: the message
    /// is BodyText alone, as plain text. It is cleaned before it goes (see cleanHtmlBody) and sent
    /// with a plain-text part made from it; BodyText is then not sent.
    QString HtmlBody{};
    /// The folder that the relative picture paths of HtmlBody start from; their pictures are
    /// embedded. Only pictures inside it are.
    QString HtmlBaseFolder{};
    /// The message's Message-ID, "<left@right>": a run gives each message its own, recorded in
    /// the journal. Empty: a new one is made when the message is built.
    QByteArray MessageId{};
    /// A signature (HTML) that ends the message: appended to HtmlBody, or, to a plain message, as
    /// its plain text after BodyText. Empty: none, and the message is exactly as without it.
    QString SignatureHtml{};
    /// The folder that the relative picture paths of SignatureHtml start from.
    QString SignatureFolder{};
    /// Files attached after AttachmentPath, in this order (a client's several named documents);
    /// only with an AttachmentPath. Empty: the message is exactly as with that one file.
    QList<MailAttachment> MoreAttachments{};
};

/// How a send ended.
enum class SendStatus
{
    Sent,           ///< the server accepted the message
    Refused,        ///< the server or the connection failed it, or it could not be put together
    MaybeDelivered, ///< the whole message was handed over but no answer came: it may have arrived
    NotSentAborted, ///< an abort stopped it before the message was handed over
    /// It could not be attempted, and no other message can be with these settings (a server the
    /// settings do not describe, a sign-in to renew, a provider that wants another sign-in): a run
    /// stops rather than fail every client.
    NotAttempted,
    /// The server could not be reached, the secure connection to it failed, or it refused the
    /// login: no other message can go either until the setup or the server changes. A run stops
    /// before the next client rather than try (and fail a login) once per client.
    ServerUnusable,
};

/// What a send came to.
struct SendResult
{
    SendStatus status = SendStatus::NotAttempted;
    QString serverReply; ///< the server's answer to the message content ("250 OK queued", "554 ...")
    QString errorText;   ///< why it was not sent (never a password or token); empty when it was
    QString stopReason{}; ///< ServerUnusable: what is wrong and what to do, in the user's words
    bool sent() const { return status == SendStatus::Sent; }
    /// The server's refusal of the archive copy's recipient (MailMessage::ArchiveCopyTo); empty
    /// when it took it or there was none. It never makes the client's send fail.
    QString archiveRefused{};
    /// With SendCallbacks::keepSentMessage, once sent: the message exactly as the server got it
    /// (CR LF line ends, dot-stuffing removed). Empty otherwise.
    QByteArray sentMessage{};
    /// The server's refusal that ended the send, as read (see classifyReply): whether it is
    /// temporary, this client's alone or the whole mailbox's, and at which stage it came. None
    /// when no refusal ended it (sent, aborted, a lost connection, nothing attempted).
    std::optional<ReplyVerdict> refusal{};
};

/// Asked during a send whether to stop it; true stops it. The same question from the run's Abort
/// down to the transfer. It may be asked from a helper thread of the send, so it must be
/// thread-safe.
using AbortPredicate = std::function<bool()>;

/// What a send reports while it goes, and how to stop it. Both may be empty.
struct SendCallbacks
{
    std::function<void(int percent)> percentDone; ///< the upload's progress, 0-100
    AbortPredicate aborted;
    /// Keep the message's bytes as they were sent (SendResult::sentMessage), for a copy of it.
    bool keepSentMessage = false;
};

/// Delivers one message at a time.
class Mailer
{
public:
    virtual ~Mailer() = default;
    /// Sends `message` to `server` over a new connection. One attempt, never a retry.
    virtual SendResult send(const MailMessage &message, const MailServer &server,
                            const SendCallbacks &callbacks = {}) = 0;
    /// The largest message in bytes that `server` takes, asked without logging in or sending;
    /// none when it sets no limit or cannot be asked. `aborted` ends the asking.
    virtual std::optional<qint64> sizeLimit(const MailServer &server, const AbortPredicate &aborted)
    {
        Q_UNUSED(server);
        Q_UNUSED(aborted);
        return std::nullopt;
    }
    /// Why no message at all can be handed over to `server` (the computer's mail queue has no
    /// sendmail program), in the user's words; empty when sends can be tried. Cheap: asked before
    /// a run starts.
    virtual QString unusable(const MailServer &server)
    {
        Q_UNUSED(server);
        return {};
    }
};

/// Sends `message` from the sender of `settings` ("EmailFrom", with "EmailFromName" and "ReplyTo")
/// to the server `settings` describe.
SendResult SendMail(Mailer &mailer, MailMessage message, const AppSettings &settings,
                    const SendCallbacks &callbacks = {});

} // namespace quorvale
