#include "mail/queuemailer.h"

#include "mail/attachmentcache.h"
#include "mail/messagebuilder.h"
#include "mail/sendgate.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr qint64 kChunk = 64 * 1024;
constexpr int kPollMs = 100;

SendResult failed(SendStatus status, const QString &error)
{
    return {status, {}, error};
}

/// A multipart boundary: dashes and random letters and digits, as no encoded line holds.
QByteArray newBoundary()
{
    static constexpr char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray boundary(24, '-');
    for (int i = 0; i < 22; ++i)
        boundary += kChars[QRandomGenerator::global()->bounded(int(sizeof(kChars) - 1))];
    return boundary;
}

/// One attachment of a queued message: its part's headers (and what comes before them) and the
/// reader that streams its data.
struct QueuedFile
{
    QByteArray before;
    std::unique_ptr<Base64FileReader> reader;
    QString path;
};

/// The message as sendmail gets it, in pieces: everything before the first attachment's data, each
/// attachment (streamed from its reader, after its part's headers), and everything after the last.
/// Without an attachment it is one piece.
struct QueuedMessage
{
    QByteArray head;
    std::vector<QueuedFile> files;
    QByteArray tail;
    qint64 size() const
    {
        qint64 total = head.size() + tail.size();
        for (const QueuedFile &file : files)
            total += file.before.size() + file.reader->encodedSize();
        return total;
    }
};

/// The part headers of one attachment, after the boundary line before it.
QByteArray attachmentPart(const QByteArray &boundary, const QByteArray &type, const QByteArray &disposition)
{
    return "\r\n--" + boundary + "\r\nContent-Type: " + type + "\r\n" + disposition +
           "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
}

/// A reader of the attachment at `path`, which must still be the file chosen (`expected`, when valid).
QString openAttachment(const QString &path, const platform::FileIdentity &expected,
                       std::unique_ptr<Base64FileReader> &out)
{
    auto reader = std::make_unique<Base64FileReader>(path);
    if (!reader->open())
        return u"The attachment \"%1\" cannot be read (%2); the message was not sent."_s.arg(path, reader->errorString());
    if (expected.isValid() && reader->identity() != expected)
        return u"The attachment \"%1\" is no longer the file that was chosen (it was replaced or "
               "re-pointed meanwhile); the message was not sent."_s.arg(path);
    out = std::move(reader);
    return {};
}

QString composeMessage(const MailMessage &message, const BuiltMessage &built, QueuedMessage &out)
{
    if (built.attachmentPath.isEmpty()) {
        out.head = built.singlePart();
        return {};
    }
    // Every file of the message goes, each still the one chosen: a client owed several documents
    // never gets only some of them.
    std::unique_ptr<Base64FileReader> first;
    if (QString problem = openAttachment(built.attachmentPath, message.AttachmentIdentity, first); !problem.isEmpty())
        return problem;
    // multipart/mixed: the text (or the formatted body, whole) and the attachments, as the SMTP
    // path sends it.
    const QByteArray boundary = newBoundary();
    QByteArray head = "Content-Type: multipart/mixed; boundary=" + boundary + "\r\n";
    for (const QByteArray &line : built.headers)
        head += line + "\r\n";
    head += "\r\n--" + boundary + "\r\n";
    if (built.formatted.isEmpty()) {
        head += "Content-Type: text/plain; charset=UTF-8\r\nContent-Disposition: inline\r\n"
                "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                built.text;
    } else {
        head += "Content-Type: " + built.formattedType + "\r\n\r\n" + built.formatted;
    }
    out.head = head;
    out.files.push_back({attachmentPart(boundary, built.attachmentType, built.attachmentDisposition), std::move(first),
                         built.attachmentPath});
    for (const BuiltMessage::Attachment &more : built.moreAttachments) {
        std::unique_ptr<Base64FileReader> reader;
        if (QString problem = openAttachment(more.path, more.identity, reader); !problem.isEmpty()) {
            out.files.clear();
            return problem;
        }
        out.files.push_back({attachmentPart(boundary, more.type, more.disposition), std::move(reader), more.path});
    }
    out.tail = "\r\n--" + boundary + "--\r\n";
    return {};
}

/// Feeds `bytes` to the running program, a chunk at a time, asking about an abort between chunks.
/// False when the program ended, stopped taking input, or the send was aborted (`aborted` set).
bool feed(QProcess &process, QByteArrayView bytes, const SendCallbacks &callbacks, const QDeadlineTimer &deadline,
          bool &aborted, const std::function<void(qint64)> &progress)
{
    while (!bytes.isEmpty()) {
        const QByteArrayView chunk = bytes.first(std::min<qint64>(bytes.size(), kChunk));
        if (process.write(chunk.data(), chunk.size()) != chunk.size())
            return false;
        while (process.bytesToWrite() > 0) {
            if (callbacks.aborted && callbacks.aborted()) {
                aborted = true;
                return false;
            }
            if (process.state() != QProcess::Running || deadline.hasExpired())
                return false;
            process.waitForBytesWritten(kPollMs);
        }
        progress(chunk.size());
        bytes = bytes.sliced(chunk.size());
    }
    return true;
}

} // namespace

QByteArray wholeMessage(const MailMessage &message, const QDateTime &date, QString *error)
{
    if (QString problem = messageProblem(message); !problem.isEmpty()) {
        *error = problem;
        return {};
    }
    QueuedMessage queued;
    if (QString problem = composeMessage(message, buildMessage(message, date), queued); !problem.isEmpty()) {
        *error = problem;
        return {};
    }
    QByteArray bytes = queued.head;
    for (QueuedFile &file : queued.files) {
        bytes += file.before;
        const qsizetype at = bytes.size();
        bytes.resize(at + qsizetype(file.reader->encodedSize()));
        qsizetype filled = at;
        while (filled < bytes.size()) {
            const qint64 n = file.reader->read(bytes.data() + filled, bytes.size() - filled);
            if (n <= 0)
                break;
            filled += qsizetype(n);
        }
        if (filled != bytes.size() || file.reader->failed()) {
            *error = u"The attachment \"%1\" could not be read to its end (it changed or became unreadable)."_s.arg(
                file.path);
            return {};
        }
    }
    return bytes + queued.tail;
}

QueueMailer::QueueMailer(QueueOptions options) : m_options(std::move(options))
{
}

QString QueueMailer::unusable(const MailServer &server)
{
    Q_UNUSED(server);
    const QFileInfo program(m_options.program);
    if (program.isFile() && program.isExecutable())
        return {};
    return u"Send by is set to this computer's mail queue, but %1 is not there: install a mail server "
           "such as Postfix, or set Send by to SMTP in Setup. Nothing was sent."_s.arg(m_options.program);
}

SendResult QueueMailer::send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks)
{
    if (const QString why = unusable(server); !why.isEmpty())
        return failed(SendStatus::NotAttempted, why);
    if (QString problem = messageProblem(message); !problem.isEmpty())
        return failed(SendStatus::Refused, problem);
    const BuiltMessage built = buildMessage(message);
    QueuedMessage queued;
    if (const QString problem = composeMessage(message, built, queued); !problem.isEmpty())
        return failed(SendStatus::Refused, problem);
    // One send in flight in the whole program, whichever way it leaves.
    SendGateGuard gate(programSendGate(), callbacks.aborted, std::chrono::milliseconds(kPollMs));
    if (gate.entry() == SendGate::Entry::Nested)
        return failed(SendStatus::Refused, u"Another message is being sent; a send cannot start inside it."_s);
    if (gate.entry() == SendGate::Entry::Aborted || (callbacks.aborted && callbacks.aborted()))
        return failed(SendStatus::NotSentAborted, u"The send was aborted."_s);

    // No shell: each address is one argument, after "--" so that none can be read as an option.
    QStringList arguments{u"-i"_s};
    if (!built.sender.isEmpty())
        arguments << u"-f"_s << QString::fromUtf8(built.sender);
    arguments << u"--"_s << QString::fromUtf8(built.recipient);
    if (!built.archiveRecipient.isEmpty())
        arguments << QString::fromUtf8(built.archiveRecipient);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : std::as_const(m_options.environment))
        environment.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(m_options.program, arguments);
    if (!process.waitForStarted(30000))
        return failed(SendStatus::Refused,
                      u"The mail queue's program %1 could not be started: %2"_s.arg(m_options.program, process.errorString()));

    const QDeadlineTimer deadline(std::chrono::seconds(std::max(1, m_options.timeoutSeconds)));
    const qint64 total = std::max<qint64>(queued.size(), 1);
    qint64 written = 0;
    const auto progress = [&](qint64 bytes) {
        written += bytes;
        if (callbacks.percentDone)
            callbacks.percentDone(int(std::min<qint64>(99, written * 100 / total)));
    };
    QByteArray kept;
    const auto keep = [&](QByteArrayView bytes) {
        if (callbacks.keepSentMessage)
            kept += bytes;
    };
    bool aborted = false;
    QString unreadable; // the attachment that could not be read to its end
    bool whole = feed(process, queued.head, callbacks, deadline, aborted, progress);
    keep(queued.head);
    QByteArray buffer;
    for (QueuedFile &file : queued.files) {
        if (!whole)
            break;
        whole = feed(process, file.before, callbacks, deadline, aborted, progress);
        keep(file.before);
        if (buffer.isEmpty())
            buffer = QByteArray(kChunk, Qt::Uninitialized);
        while (whole) {
            const qint64 n = file.reader->read(buffer.data(), buffer.size());
            if (n <= 0) {
                whole = n == 0;
                if (!whole)
                    unreadable = file.path;
                break;
            }
            const QByteArrayView chunk(buffer.constData(), n);
            keep(chunk);
            whole = feed(process, chunk, callbacks, deadline, aborted, progress);
        }
    }
    if (whole && !queued.files.empty()) {
        whole = feed(process, queued.tail, callbacks, deadline, aborted, progress);
        keep(queued.tail);
    }
    if (!whole) {
        // An incomplete message must never be queued: the program is stopped before its input ends.
        process.kill();
        process.waitForFinished(5000);
        if (aborted)
            return failed(SendStatus::NotSentAborted, u"The send was aborted."_s);
        if (!unreadable.isEmpty())
            return failed(SendStatus::Refused,
                          u"The attachment \"%1\" could not be read while sending (it changed or became unreadable); "
                          "the message was not sent."_s.arg(unreadable));
        const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        return failed(SendStatus::Refused, u"The mail queue's program %1 stopped taking the message%2"_s.arg(
                                               m_options.program, said.isEmpty() ? u"."_s : u": "_s + said));
    }
    process.closeWriteChannel();
    // The whole message is with the program now: an abort no longer stops it.
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        process.waitForFinished(kPollMs);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        return failed(SendStatus::MaybeDelivered,
                      u"The mail queue's program %1 took the whole message but did not finish within %2 seconds: "
                      "it may have been queued."_s.arg(m_options.program)
                          .arg(m_options.timeoutSeconds));
    }
    const QString said = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (process.exitStatus() != QProcess::NormalExit)
        return failed(SendStatus::Refused, u"The mail queue's program %1 ended abnormally%2"_s.arg(
                                               m_options.program, said.isEmpty() ? u"."_s : u": "_s + said));
    if (process.exitCode() != 0)
        return failed(SendStatus::Refused,
                      u"The mail queue refused the message (%1 exit status %2)%3"_s.arg(m_options.program)
                          .arg(process.exitCode())
                          .arg(said.isEmpty() ? u"."_s : u": "_s + said));
    if (callbacks.percentDone)
        callbacks.percentDone(100);
    SendResult result;
    result.status = SendStatus::Sent;
    result.serverReply = QString(kQueuedReply);
    result.sentMessage = kept;
    return result;
}

} // namespace quorvale
