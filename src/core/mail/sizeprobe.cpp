#include "mail/sizeprobe.h"

#include "auth/tokenreply.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QSysInfo>

#include <cctype>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// How often the abort question is asked while the probe waits for the server.
constexpr int kPollMs = 100;
/// A reply longer than this is no server's EHLO reply.
constexpr qsizetype kMaxReply = 64 * 1024;



/// One conversation with the server, each step bounded by the timeout and the abort question.
class Conversation
{
public:
    Conversation(const MailServer &server, const QString &caBundle, const AbortPredicate &aborted)
        : m_server(server), m_caBundle(caBundle), m_aborted(aborted), m_timeoutMs(std::max(1, server.timeoutSeconds) * 1000)
    {
    }

    QString problem() const { return m_problem; }

    bool connect(bool implicitTls)
    {
        configureTls();
        const QString host = m_server.host.trimmed();
        if (implicitTls)
            m_socket.connectToHostEncrypted(host, quint16(m_server.port));
        else
            m_socket.connectToHost(host, quint16(m_server.port));
        if (!wait([&] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                  [&] { return m_socket.waitForConnected(kPollMs); }))
            return fail(u"Could not connect to the SMTP server %1 on port %2"_s.arg(host).arg(m_server.port));
        return !implicitTls || encrypted();
    }

    bool startTls()
    {
        m_socket.startClientEncryption();
        return encrypted();
    }

    /// Sends `command` and reads the reply; false unless its code starts with `expected`.
    bool exchange(const QByteArray &command, char expected, QList<QByteArray> *lines = nullptr)
    {
        if (!command.isEmpty()) {
            m_socket.write(command + "\r\n");
            if (!wait([&] { return m_socket.bytesToWrite() == 0; },
                      [&] { return m_socket.waitForBytesWritten(kPollMs); }))
                return fail(u"The connection to the SMTP server was lost"_s);
        }
        QList<QByteArray> reply;
        if (!readReply(reply))
            return false;
        if (lines)
            *lines = reply;
        if (reply.first().isEmpty() || reply.first().at(0) != expected)
            return fail(u"The SMTP server answered "_s + printableText(QString::fromUtf8(reply.join(' ')), 200));
        return true;
    }

    void quit()
    {
        if (m_socket.state() == QAbstractSocket::ConnectedState) {
            m_socket.write("QUIT\r\n");
            m_socket.waitForBytesWritten(kPollMs);
        }
        m_socket.abort();
    }

private:
    bool fail(const QString &text)
    {
        if (m_problem.isEmpty())
            m_problem = m_aborted && m_aborted() ? u"The size check was aborted."_s : text + u'.';
        m_socket.abort();
        return false;
    }

    void configureTls()
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        config.setProtocol(QSsl::TlsV1_2OrLater);
        if (!m_caBundle.isEmpty())
            config.setCaCertificates(QSslCertificate::fromPath(m_caBundle, QSsl::Pem));
        m_socket.setSslConfiguration(config);
        m_socket.setPeerVerifyName(m_server.host.trimmed());
    }

    bool encrypted()
    {
        if (!wait([&] { return m_socket.isEncrypted(); }, [&] { return m_socket.waitForEncrypted(kPollMs); })) {
            const auto errors = m_socket.sslHandshakeErrors();
            return fail(errors.isEmpty()
                            ? u"A secure connection to the SMTP server could not be made"_s
                            : u"The SMTP server's certificate could not be verified ("_s + errors.first().errorString() +
                                  u')');
        }
        return true;
    }

    /// Waits in slices of kPollMs until `done`, the timeout or an abort.
    template <typename Done, typename Step> bool wait(Done done, Step step)
    {
        QDeadlineTimer deadline(m_timeoutMs);
        while (!done()) {
            if (deadline.hasExpired() || (m_aborted && m_aborted()))
                return false;
            if (!step() && m_socket.state() == QAbstractSocket::UnconnectedState)
                return false;
        }
        return true;
    }

    bool readReply(QList<QByteArray> &lines)
    {
        QDeadlineTimer deadline(m_timeoutMs);
        qsizetype total = 0;
        while (true) {
            while (m_socket.canReadLine()) {
                QByteArray line = m_socket.readLine(kMaxReply);
                total += line.size();
                while (line.endsWith('\n') || line.endsWith('\r'))
                    line.chop(1);
                lines.append(line);
                // The last line of a reply has a blank (or nothing) after its code.
                if (line.size() < 4 || line.at(3) != '-')
                    return true;
            }
            if (total + m_socket.bytesAvailable() > kMaxReply)
                return fail(u"The SMTP server's reply could not be understood"_s);
            if (deadline.hasExpired() || (m_aborted && m_aborted()))
                return fail(u"The SMTP server did not answer in time"_s);
            if (!m_socket.waitForReadyRead(kPollMs) && m_socket.state() == QAbstractSocket::UnconnectedState &&
                !m_socket.canReadLine())
                return fail(u"The connection to the SMTP server was lost"_s);
        }
    }

    const MailServer &m_server;
    const QString m_caBundle;
    const AbortPredicate &m_aborted;
    const int m_timeoutMs;
    QSslSocket m_socket;
    QString m_problem;
};

/// The SIZE of an EHLO reply; none when it names none or 0 (no fixed limit).
std::optional<qint64> advertisedSize(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        const QList<QByteArray> words = line.mid(4).trimmed().split(' ');
        if (words.first().toUpper() != "SIZE")
            continue;
        bool ok = false;
        const qint64 size = words.size() > 1 ? words.at(1).toLongLong(&ok) : 0;
        return ok && size > 0 ? std::optional<qint64>(size) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

SizeProbeResult probeSizeLimit(const MailServer &server, const MailerOptions &options, const AbortPredicate &aborted)
{
    SizeProbeResult result;
    if (!server.problem.isEmpty() || server.port < 1 || server.port > 65535 || server.host.trimmed().isEmpty() ||
        (server.security != MailServer::Security::Plain && server.security != MailServer::Security::Tls)) {
        result.problem = server.problem.isEmpty() ? u"The SMTP server is not set up."_s : server.problem;
        return result;
    }
    const bool tls = server.security == MailServer::Security::Tls;
    const bool implicitTls = tls && server.port == options.implicitTlsPort;
    const QByteArray ehlo = "EHLO " + ehloDomain();
    Conversation talk(server, options.caBundle, aborted);
    QList<QByteArray> lines;
    bool ok = talk.connect(implicitTls) && talk.exchange({}, '2') && talk.exchange(ehlo, '2', &lines);
    if (ok && tls && !implicitTls)
        ok = talk.exchange("STARTTLS", '2') && talk.startTls() && talk.exchange(ehlo, '2', &lines);
    if (ok)
        result.maxSize = advertisedSize(lines);
    else
        result.problem = talk.problem();
    talk.quit();
    return result;
}

qint64 base64WireSize(qint64 rawBytes)
{
    const qint64 characters = (rawBytes + 2) / 3 * 4;
    const qint64 lines = (characters + 75) / 76;
    return characters + (lines > 0 ? (lines - 1) * 2 : 0);
}

qint64 wireSize(const BuiltMessage &built)
{
    // Servers count the content without the dots that escape a line's first dot, and without the
    // final dot.
    if (built.attachmentPath.isEmpty())
        return built.singlePart().size();
    const QFileInfo file(built.attachmentPath);
    if (!file.isFile() || !file.isReadable())
        return -1;
    // The mail library's multipart/mixed: its own Content-Type line before the message's headers,
    // then the text part and the attachment part, each led by a boundary line and its headers.
    // The boundary is 24 dashes and 16 to 22 random characters, as the library's version has it.
    constexpr qint64 kBoundary = 24 + 22;
    auto line = [](const QByteArray &text) { return qint64(text.size()) + 2; };
    qint64 size = line("Content-Type: multipart/mixed; boundary=") + kBoundary;
    for (const QByteArray &header : built.headers)
        size += line(header);
    size += 2;
    // "--B" CRLF, text part headers, CRLF, text, CRLF "--B" CRLF, file part headers, CRLF, data,
    // CRLF "--B--" CRLF.
    size += 2 + kBoundary + 2;
    size += line("Content-Type: text/plain; charset=UTF-8") + line("Content-Disposition: inline") +
            line("Content-Transfer-Encoding: quoted-printable") + 2;
    size += built.text.size();
    size += 2 + 2 + kBoundary + 2;
    size += line("Content-Type: " + built.attachmentType) + line(built.attachmentDisposition) +
            line("Content-Transfer-Encoding: base64") + 2;
    size += base64WireSize(file.size());
    // Each further file: CRLF "--B" CRLF, its part headers, CRLF, its data.
    for (const BuiltMessage::Attachment &more : built.moreAttachments) {
        const QFileInfo moreFile(more.path);
        if (!moreFile.isFile() || !moreFile.isReadable())
            return -1;
        size += 2 + 2 + kBoundary + 2;
        size += line("Content-Type: " + more.type) + line(more.disposition) + line("Content-Transfer-Encoding: base64") +
                2;
        size += base64WireSize(moreFile.size());
    }
    size += 2 + 2 + kBoundary + 2 + 2;
    return size;
}

QString megabytes(qint64 bytes)
{
    const double mb = double(bytes) / 1e6;
    QString text = QString::number(mb, 'f', mb < 10 ? 1 : 0);
    if (text.endsWith(u".0"_s))
        text.chop(2);
    return text + u" MB"_s;
}

} // namespace quorvale
