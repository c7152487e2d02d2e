#pragma once

// The one fake mailer of the tests, the screenshots and the benchmarks: it records every message it
// is asked to send and answers as scripted, from any thread.

#include "mail/mailer.h"

#include <QList>
#include <QMutex>
#include <QStringList>

#include <chrono>
#include <functional>
#include <thread>

namespace quorvale::test {

using namespace Qt::StringLiterals;

class FakeMailer final : public Mailer
{
public:
    /// Each send calls `onSend` (on the sending thread), takes `sendTime` (in 10 ms steps that
    /// report the progress and ask whether to abort: an abort gives NotSentAborted), and then ends
    /// as the next of `statuses` says; when none is left, Refused for a recipient in `refused` or
    /// when `failure` is set, else `status`. A server with a problem, or `notAttempted` set, makes no
    /// send be attempted. A send for which `replies` holds a reply is refused with it.
    SendResult send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks) override
    {
        SendStatus scripted = status;
        QByteArray reply;
        {
            QMutexLocker lock(&m_mutex);
            if (!replies.isEmpty())
                reply = replies.takeFirst();
            if (keepRecords) {
                m_attempts.append(message);
                m_servers.append(server);
            }
            if (!statuses.isEmpty())
                scripted = statuses.takeFirst();
            else if (!failure.isEmpty() || refused.contains(message.RecipientAddress))
                scripted = SendStatus::Refused;
        }
        if (onSend)
            onSend(message);
        if (!server.problem.isEmpty() || !notAttempted.isEmpty())
            return {SendStatus::NotAttempted, {}, server.problem.isEmpty() ? notAttempted : server.problem};
        using namespace std::chrono_literals;
        for (auto waited = 0ms;; waited += 10ms) {
            if (callbacks.aborted && callbacks.aborted())
                return {SendStatus::NotSentAborted, {}, u"The send was aborted."_s};
            if (waited >= sendTime)
                break;
            if (callbacks.percentDone)
                callbacks.percentDone(int(waited * 100 / sendTime));
            std::this_thread::sleep_for(10ms);
        }
        if (callbacks.percentDone)
            callbacks.percentDone(100);
        if (keepRecords) {
            QMutexLocker lock(&m_mutex);
            m_messages.append(message);
        }
        if (!reply.isEmpty()) {
            SendResult refused{SendStatus::Refused, {}, {}};
            refused.refusal = classifyReply(replyStage, reply, LoginKind::Password, QDateTime::currentDateTimeUtc());
            refused.errorText = refused.refusal->reason;
            return refused;
        }
        switch (scripted) {
        case SendStatus::Sent:
            return {scripted, u"250 OK queued"_s, {}};
        case SendStatus::MaybeDelivered:
            return {scripted, {}, u"The connection to the SMTP server was lost."_s};
        case SendStatus::NotSentAborted:
            return {scripted, {}, u"The send was aborted."_s};
        case SendStatus::ServerUnusable:
            return {scripted, {}, u"Login denied"_s,
                    u"the mail server refused the user name or password (535 5.7.8 Authentication failed). Check "
                    "Setup, then press Start to send to the clients not reached."_s};
        case SendStatus::Refused:
        case SendStatus::NotAttempted:
            break;
        }
        return {scripted, {}, failure.isEmpty() ? u"550 refused"_s : failure};
    }

    std::optional<qint64> sizeLimit(const MailServer &, const AbortPredicate &) override { return maxSize; }

    /// Every message asked to be sent, in order.
    QList<MailMessage> attempts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_attempts;
    }
    /// The messages that reached the server (sent, refused by it, or lost on the way), in order.
    QList<MailMessage> messages() const
    {
        QMutexLocker lock(&m_mutex);
        return m_messages;
    }
    /// The server each attempt was sent to.
    QList<MailServer> servers() const
    {
        QMutexLocker lock(&m_mutex);
        return m_servers;
    }
    /// The recipients of the attempts.
    QStringList recipients() const
    {
        QStringList out;
        for (const MailMessage &m : attempts())
            out.append(m.RecipientAddress);
        return out;
    }
    /// Forgets what was sent.
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_attempts.clear();
        m_messages.clear();
        m_servers.clear();
    }

    SendStatus status = SendStatus::Sent;
    QList<SendStatus> statuses;
    /// The server's replies to the next sends, read as the real mailer reads them at `replyStage`,
    /// before `statuses`; an empty one: that send goes as scripted otherwise.
    QList<QByteArray> replies;
    SmtpStage replyStage = SmtpStage::RcptTo;
    std::optional<qint64> maxSize; ///< the SIZE the server advertises; none: no limit
    QStringList refused;
    QString failure;      ///< not empty: every send is refused with this text
    QString notAttempted; ///< not empty: no send is attempted, for this reason
    std::chrono::milliseconds sendTime{0};
    std::function<void(const MailMessage &)> onSend;
    bool keepRecords = true; ///< false: remember nothing (a benchmark's run of many clients)

private:
    mutable QMutex m_mutex;
    QList<MailMessage> m_attempts;
    QList<MailMessage> m_messages;
    QList<MailServer> m_servers;
};

} // namespace quorvale::test
