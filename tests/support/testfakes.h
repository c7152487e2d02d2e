#pragma once

// The fakes of every test, the screenshots and the benchmarks, one per seam: a clock that
// advances only when slept on, a status log, a prompter with scripted answers, a settings store in
// memory, a printer and a mailer that record what they are asked to do, and a run observer.

#include "mail/inboxreader.h"
#include "mail/mailer.h"
#include "run/batchrun.h"
#include "run/clock.h"
#include "run/printer.h"
#include "run/prompter.h"
#include "run/statuslog.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quorvale::test {

using namespace Qt::StringLiterals;

/// Time stands still until someone sleeps; each sleep advances it exactly. `onSleep` lets a
/// test act at a given moment (request an abort, say).
class FakeClock final : public Clock
{
public:
    std::chrono::milliseconds tick() const override { return m_now; }
    void sleep(std::chrono::milliseconds duration) override
    {
        m_now += duration;
        m_slept += duration;
        ++m_sleeps;
        if (onSleep)
            onSleep(m_now);
    }
    QDateTime currentDateTime() const override { return m_start.addMSecs(m_now.count()); }

    void set(std::chrono::milliseconds now) { m_now = now; }
    std::chrono::milliseconds slept() const { return m_slept; }
    int sleeps() const { return m_sleeps; }

    std::function<void(std::chrono::milliseconds now)> onSleep;

private:
    QDateTime m_start{QDate(2026, 1, 2), QTime(13, 4, 5)};
    std::chrono::milliseconds m_now{1'000'000};
    std::chrono::milliseconds m_slept{0};
    int m_sleeps = 0;
};

/// Records every status line and counts how often it was emptied (an emptied log forgets its
/// lines, as the status box does). Read it once the run is over. With `keepRecords` false it only
/// counts the lines (a benchmark's run of many clients).
class RecordingLog final : public StatusLog
{
public:
    void LogStatus(const QString &line) override
    {
        ++count;
        if (keepRecords)
            lines.append(line);
        if (onLine)
            onLine(line);
    }
    void clearStatus() override
    {
        ++clears;
        lines.clear();
    }
    QStringList lines; ///< the lines since the log was last emptied
    int clears = 0;    ///< how often it was emptied
    qint64 count = 0;  ///< every line ever written, kept or not
    bool keepRecords = true;
    std::function<void(const QString &line)> onLine;
};

/// Records warnings and questions; answers with the next of `answers`, then with `answer`. A
/// confirmation whose default is No gets `answerDefaultNo` instead.
class ScriptedPrompter final : public Prompter
{
public:
    void warn(const QString &message) override { warnings.append(message); }
    bool askYesNo(const QString &question) override
    {
        questions.append(question);
        return answers.isEmpty() ? answer : answers.takeFirst();
    }
    bool confirmStart(const QString &question, const QString &details, bool defaultNo) override
    {
        this->details.append(details);
        this->defaultNo.append(defaultNo);
        if (defaultNo) {
            questions.append(question);
            return answerDefaultNo;
        }
        return askYesNo(question);
    }
    int choose(const QString &question, const QStringList &, int defaultChoice) override
    {
        choiceDefaults.append(defaultChoice);
        if (choices.isEmpty())
            return askYesNo(question) ? 0 : -1;
        questions.append(question);
        return choices.takeFirst();
    }
    bool answer = true;
    QList<bool> answers;
    QList<int> choiceDefaults; ///< the default answer of each question with several answers
    QList<int> choices;        ///< answers to the next questions with several answers, in order
    QStringList warnings;
    QStringList questions;
    QStringList details;         ///< what each confirmation showed under its question
    QList<bool> defaultNo;       ///< whether each confirmation had No as its default
    bool answerDefaultNo = true; ///< the answer to a confirmation whose default is No
};

/// Settings in memory: reads give what was written (or the default), and every write is noted.
class FakeStore final : public SettingsStore
{
public:
    QVariant RegReadValue(const QString &name, ValueKind, const QVariant &defaultValue) const override
    {
        return values.value(name, defaultValue);
    }
    bool RegWriteValue(const QString &name, ValueKind, const QVariant &value, QString *error) override
    {
        if (failWrites) {
            if (error)
                *error = u"settings file is read-only"_s;
            return false;
        }
        writes.append(name);
        values.insert(name, value);
        return true;
    }
    QMap<QString, QVariant> values;
    QStringList writes;
    bool failWrites = false;
};

/// Records every document; each print takes `printTime` and fails with `failure` when that is
/// set. While the printer is held a print waits for release() (at most ten seconds, so a print
/// made on the wrong thread fails its test instead of hanging it). Safe from any thread.
class FakePrinter final : public Printer
{
public:
    bool printDocument(const QString &path, QString *error = nullptr) override
    {
        {
            std::unique_lock lock(m_gateMutex);
            m_gate.wait_for(lock, std::chrono::seconds(10), [this] { return !m_held; });
        }
        std::this_thread::sleep_for(printTime);
        QMutexLocker lock(&m_mutex);
        m_printed.append(path);
        if (!failure.isEmpty() && error)
            *error = failure;
        return failure.isEmpty();
    }
    QStringList printed() const
    {
        QMutexLocker lock(&m_mutex);
        return m_printed;
    }
    void hold()
    {
        std::lock_guard lock(m_gateMutex);
        m_held = true;
    }
    void release()
    {
        {
            std::lock_guard lock(m_gateMutex);
            m_held = false;
        }
        m_gate.notify_all();
    }
    QString failure; ///< not empty: every print fails with this text
    std::chrono::milliseconds printTime{0};

private:
    mutable QMutex m_mutex;
    QStringList m_printed;
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    bool m_held = false;
};

/// The one fake mailer: it records every message it is asked to send and answers as scripted,
/// from any thread.
class FakeMailer final : public Mailer
{
public:
    /// Each send calls `onSend` (on the sending thread), takes `sendTime` (in 10 ms `step`s that
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
            if (step)
                step(10ms);
            else
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
        case SendStatus::Sent: {
            SendResult sent{scripted, u"250 OK queued"_s, {}};
            // A stand-in for the bytes that went out, when a copy of them is wanted.
            if (callbacks.keepSentMessage)
                sent.sentMessage = "Message-ID: " + message.MessageId + "\r\nTo: " +
                                   message.RecipientAddress.toUtf8() + "\r\n\r\n" + message.BodyText.toUtf8();
            return sent;
        }
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
    QStringList refused;
    QString failure;      ///< not empty: every send is refused with this text
    QString notAttempted; ///< not empty: no send is attempted, for this reason
    std::chrono::milliseconds sendTime{0};
    /// How each 10 ms of `sendTime` passes (a test's fake clock advanced, say); empty: real sleep.
    std::function<void(std::chrono::milliseconds)> step;
    std::function<void(const MailMessage &)> onSend;
    bool keepRecords = true; ///< false: remember nothing (a benchmark's run of many clients)
    /// The server's replies to the next sends, read as the real mailer reads them at `replyStage`,
    /// before `statuses`; an empty one: that send goes as scripted otherwise.
    QList<QByteArray> replies;
    SmtpStage replyStage = SmtpStage::RcptTo;
    std::optional<qint64> maxSize; ///< the SIZE the server advertises; none: no limit

private:
    mutable QMutex m_mutex;
    QList<MailMessage> m_attempts;
    QList<MailMessage> m_messages;
    QList<MailServer> m_servers;
};

/// Records what a front end would show of a run besides its status lines.
class RecordingObserver final : public RunObserver
{
public:
    void emailProgress(int percent) override { events.append(u"email %1"_s.arg(percent)); }
    void printProgress(int value, int maximum) override { events.append(u"print %1/%2"_s.arg(value).arg(maximum)); }
    void runningChanged(bool running) override { events.append(running ? u"running"_s : u"idle"_s); }
    void runProgress(const RunProgress &p) override { progress.append(p); }
    void clientFailed(const ClientFailure &failure) override { failures.append(clientFailureText(failure)); }
    QStringList events;
    QList<RunProgress> progress;
    QStringList failures;
};

/// A mailbox whose INBOX holds `messages`, or that cannot be read when `error` is set. Records the
/// day asked for and whether it was asked on the application's own thread.
class FakeInboxReader final : public InboxReader
{
public:
    QString readSince(const AppSettings &, const QDate &since, QList<QByteArray> *messages,
                      const AbortPredicate &) override
    {
        QMutexLocker lock(&m_mutex);
        askedSince = since;
        askedOnAppThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        ++reads;
        *messages = error.isEmpty() ? inbox : QList<QByteArray>();
        return error;
    }

    QList<QByteArray> inbox;
    QString error;
    QDate askedSince;
    bool askedOnAppThread = false;
    int reads = 0;

private:
    QMutex m_mutex;
};

} // namespace quorvale::test
