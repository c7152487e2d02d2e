#pragma once

#include "platform/files.h"

#include <QString>

#include <functional>
#include <memory>

namespace quorvale {

/// One message: subject, plain-text body, sender, one To recipient and at most one file
/// attachment (an empty path means none).
class Email
{
public:
    void put_Subject(const QString &subject) { m_subject = subject; }
    void put_Body(const QString &body) { m_body = body; }
    void put_From(const QString &from) { m_from = from; }
    /// Sets the one To recipient (a further call replaces it).
    int AddTo(const QString &displayName, const QString &address);
    /// Sets the file to attach; an empty path means no attachment. Returns the file's MIME type
    /// (empty for an empty path). A file that cannot be read makes the send fail, never go without it.
    QString AddFileAttachment(const QString &path);
    /// When valid, the attachment must be this file when the send reads it; otherwise the send
    /// fails without sending anything.
    void RequireAttachmentIdentity(const platform::FileIdentity &identity) { m_attachmentIdentity = identity; }

    QString subject() const { return m_subject; }
    QString body() const { return m_body; }
    QString from() const { return m_from; }
    QString toName() const { return m_toName; }
    QString toAddress() const { return m_toAddress; }
    QString attachmentPath() const { return m_attachmentPath; }
    platform::FileIdentity attachmentIdentity() const { return m_attachmentIdentity; }

private:
    QString m_subject, m_body, m_from, m_toName, m_toAddress, m_attachmentPath;
    platform::FileIdentity m_attachmentIdentity;
};

/// The SMTP client over libcurl. One instance lives as long as its owner; every send
/// re-applies its settings. Only one send is in flight in the whole program at a time.
class MailMan
{
public:
    MailMan();
    ~MailMan();
    MailMan(const MailMan &) = delete;
    MailMan &operator=(const MailMan &) = delete;

    void put_SmtpHost(const QString &host);
    void put_SmtpUsername(const QString &user);
    void put_SmtpPassword(const QString &password);
    /// The integer setting that a send sets to 100: the AbortCheck interval in milliseconds
    /// (1 to 100; larger values count as 100).
    void put_HeartbeatMs(int ms);
    /// 1: TLS (implicit on port 465, STARTTLS required on any other); 0: plain SMTP. Nothing is
    /// sent until it is set to one of the two; any other value fails the send before connecting.
    void put_SmtpSsl(int on);
    /// The server's port (1-65535); nothing is sent until it is set.
    void put_SmtpPort(qint32 port);
    /// The data folder in which a repeated attachment's encoded copy is kept while this
    /// MailMan lives (see AttachmentCache); empty: the user's.
    void put_DataFolder(const QString &folder);
    /// How long to wait for the server (connecting, each reply, a stalled upload) before the send
    /// fails; 30 seconds unless set, so a dead server fails a send well within a minute.
    void put_TimeoutSeconds(int seconds);

    /// Sends one message over a new connection. Returns exactly 1 when the server accepted it, 0
    /// otherwise (LastErrorText says why). A CR or LF in the sender, recipient or subject, or an
    /// attachment that cannot be read, fails the send before anything reaches the server. Waits while
    /// another thread sends; a send started from inside a send's callbacks is refused.
    int SendEmail(const Email &email);
    /// Why the last operation failed (no password in it).
    QString LastErrorText() const;
    /// The server's answer to the message content in the last send (such as "250 OK queued");
    /// empty when the send did not get that far or no answer came.
    QString LastServerReply() const;
    /// True when the last send failed after the whole message was handed over to the server but
    /// before its answer came (the connection broke, the wait timed out, or an abort): the
    /// message may have arrived.
    bool LastSendMaybeDelivered() const;
    /// True when an abort stopped the last send (before or while the message was handed over).
    bool LastSendAborted() const;
    int CloseSmtpConnection();

    /// Raised during a send with the upload percentage (0-100); `abort` may be set to 1.
    std::function<void(int percentDone, int &abort)> SendPercentDone;
    /// Polled at least every 100 ms during a send; setting `abort` to 1 stops the send. While
    /// libcurl holds the sending thread in a blocking wait for the server, a helper thread polls
    /// it instead (never both at once), so it must be safe to call from another thread.
    std::function<void(int &abort)> AbortCheck;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace quorvale
