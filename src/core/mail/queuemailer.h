#pragma once

// Hand-off to this computer's mail queue: each message goes to the system's sendmail program
// (Postfix, or any mail server with that interface), which queues, paces and retries it and relays
// it to the provider. Whether it arrived is the queue's business from then on; a bounce comes back
// to the sender's mailbox.

#include "mail/mailer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace quorvale {

/// The mail queue's program, where every mail server for this system puts it.
inline constexpr QLatin1StringView kSendmailProgram{"/usr/sbin/sendmail"};

/// Where messages are handed to the queue.
struct QueueOptions
{
    QString program = QString(kSendmailProgram);
    /// "NAME=value" entries added to the program's environment (MAIL_CONFIG names another
    /// configuration of the mail server, as tests do).
    QStringList environment{};
    /// How long the program may take to take one message before the send is given up.
    int timeoutSeconds = 120;
};

/// Hands each message to `sendmail -i -f FROM -- RECIPIENT [ARCHIVE]`, its exact bytes on
/// standard input (an attachment streamed, never read whole), and reads the exit status: 0 is
/// queued (the send counts as sent), anything else a refusal with the program's error output as
/// the reason. No retries and no provider limits apply: the queue keeps to those itself.
class QueueMailer final : public Mailer
{
public:
    explicit QueueMailer(QueueOptions options = {});

    SendResult send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks = {}) override;
    QString unusable(const MailServer &server) override;

private:
    QueueOptions m_options;
};

/// The program's mailer: each send goes the way its server says ("SendMethod"), over SMTP or to
/// the computer's mail queue.
class SendMethodMailer final : public Mailer
{
public:
    SendMethodMailer(Mailer &smtp, Mailer &queue) : m_smtp(smtp), m_queue(queue) {}

    SendResult send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks = {}) override
    {
        return pick(server).send(message, server, callbacks);
    }
    std::optional<qint64> sizeLimit(const MailServer &server, const AbortPredicate &aborted) override
    {
        return pick(server).sizeLimit(server, aborted);
    }
    QString unusable(const MailServer &server) override { return pick(server).unusable(server); }

private:
    Mailer &pick(const MailServer &server) const
    {
        return server.method == MailServer::Method::Queue ? m_queue : m_smtp;
    }

    Mailer &m_smtp;
    Mailer &m_queue;
};

/// `message` whole, as it goes to the mail queue, built as on `date` (with its own Message-ID when
/// it has one), each attachment read and encoded: the bytes a copy of it is filed as. Empty, with
/// `*error`, when it cannot be put together (a file that cannot be read, or is no longer the one
/// chosen).
QByteArray wholeMessage(const MailMessage &message, const QDateTime &date, QString *error);

/// What a send that the queue took says in the journal.
inline constexpr QLatin1StringView kQueuedReply{"queued on this computer"};

} // namespace quorvale
