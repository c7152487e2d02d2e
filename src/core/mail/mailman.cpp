#include "mail/mailman.h"

#include "mail/attachmentcache.h"
#include "mail/mimeencode.h"
#include "mail/sendgate.h"
#include "platform/files.h"
#include "platform/sockets.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSysInfo>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr int kMaxPollMs = 100;

/// The one gate every send of the program passes: only one send is in flight at a time.
SendGate &programSendGate()
{
    static SendGate gate;
    return gate;
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

template<auto Free>
struct Deleter
{
    template<typename T>
    void operator()(T *p) const { Free(p); }
};
using EasyPtr = std::unique_ptr<CURL, Deleter<curl_easy_cleanup>>;
using MultiPtr = std::unique_ptr<CURLM, Deleter<curl_multi_cleanup>>;
using MimePtr = std::unique_ptr<curl_mime, Deleter<curl_mime_free>>;
using SlistPtr = std::unique_ptr<curl_slist, Deleter<curl_slist_free_all>>;

void append(SlistPtr &list, const QByteArray &line)
{
    curl_slist *grown = curl_slist_append(list.get(), line.constData());
    if (grown) {
        (void)list.release();
        list.reset(grown);
    }
}

/// Gives `part` these header lines.
void setPartHeaders(curl_mimepart *part, const QList<QByteArray> &lines)
{
    SlistPtr list;
    for (const QByteArray &line : lines)
        append(list, line);
    curl_mime_headers(part, list.release(), 1);
}

/// A whole message in memory, read by libcurl as the upload.
struct MessageReader
{
    QByteArray data;
    qsizetype position = 0;

    static size_t read(char *buffer, size_t size, size_t count, void *self)
    {
        auto *reader = static_cast<MessageReader *>(self);
        const qsizetype n = qMin<qsizetype>(qsizetype(size * count), reader->data.size() - reader->position);
        std::memcpy(buffer, reader->data.constData() + reader->position, size_t(n));
        reader->position += n;
        return size_t(n);
    }
    static int seek(void *self, curl_off_t offset, int origin)
    {
        auto *reader = static_cast<MessageReader *>(self);
        if (origin != SEEK_SET || offset < 0 || offset > reader->data.size())
            return CURL_SEEKFUNC_CANTSEEK;
        reader->position = qsizetype(offset);
        return CURL_SEEKFUNC_OK;
    }
};

/// SSL means implicit TLS on this port and required STARTTLS on any other.
int implicitTlsPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("QUORVALE_IMPLICIT_TLS_PORT", &ok);
    return ok && port > 0 && port <= 65535 ? port : 465;
}

QString hostProblem(const QString &host)
{
    if (host.trimmed().isEmpty())
        return u"No SMTP server is set."_s;
    for (QChar c : host.trimmed()) {
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || u"/\\@?#%<>\"'"_s.contains(c))
            return u"The SMTP server name \"%1\" is not valid."_s.arg(host.simplified());
    }
    return {};
}

/// The name this machine gives in EHLO, when it is a plain host name.
QByteArray ehloDomain()
{
    const QByteArray name = QSysInfo::machineHostName().toLatin1();
    for (char c : name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'))
            return "localhost";
    }
    return name.isEmpty() ? QByteArray("localhost") : name;
}

/// The sockets of the send in progress and the server's last error reply. Its abort() may be
/// called from another thread: it shuts the connection down, which ends even a blocking wait.
class TransferState
{
public:
    QByteArray lastErrorReply; ///< the server's last error reply
    QByteArray messageReply;   ///< the server's reply to the message content (after its 354)

    void abort()
    {
        std::lock_guard lock(m_mutex);
        m_aborted = true;
        for (curl_socket_t socket : m_sockets)
            platform::shutdownSocket(socket);
    }

    static curl_socket_t openSocket(void *self, curlsocktype, curl_sockaddr *address)
    {
        auto *state = static_cast<TransferState *>(self);
        std::lock_guard lock(state->m_mutex);
        if (state->m_aborted)
            return CURL_SOCKET_BAD;
        const platform::SocketHandle socket = platform::openSocket(address->family, address->socktype, address->protocol);
        if (socket == platform::kNoSocket)
            return CURL_SOCKET_BAD;
        state->m_sockets.push_back(curl_socket_t(socket));
        return curl_socket_t(socket);
    }

    static int closeSocket(void *self, curl_socket_t socket)
    {
        auto *state = static_cast<TransferState *>(self);
        std::lock_guard lock(state->m_mutex);
        std::erase(state->m_sockets, socket);
        return platform::closeSocket(socket);
    }

    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *self)
    {
        if (type != CURLINFO_HEADER_IN || size < 3)
            return 0;
        auto *state = static_cast<TransferState *>(self);
        const QByteArray reply = QByteArray(data, qsizetype(size)).trimmed();
        if (state->m_contentSent && state->messageReply.isEmpty())
            state->messageReply = reply;
        if (reply.startsWith("354"))
            state->m_contentSent = true;
        if (data[0] == '4' || data[0] == '5')
            state->lastErrorReply = reply;
        return 0;
    }

private:
    std::mutex m_mutex; ///< guards m_aborted and m_sockets
    bool m_aborted = false;
    bool m_contentSent = false; ///< the server asked for the message content (354)
    std::vector<curl_socket_t> m_sockets;
};

/// libcurl waits for some SMTP replies (the one after the message content, the one to QUIT) in
/// blocking calls, during which the sending thread cannot run the abort check. This watch, one
/// thread per MailMan, runs the check in its place whenever the sending thread has been inside
/// libcurl for longer than the check interval, and on an abort shuts the connection down. Both
/// threads run the check under one lock, so it never runs twice at once.
class BlockingWaitWatch
{
public:
    ~BlockingWaitWatch()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    /// A send starts: `check` is its abort check, `state` its connection.
    void begin(TransferState *state, std::function<bool()> check, std::chrono::milliseconds interval)
    {
        {
            std::lock_guard checkLock(m_checkMutex);
            m_state = state;
            m_check = std::move(check);
            m_aborted = false;
        }
        bool wake = false;
        {
            std::lock_guard lock(m_mutex);
            m_interval = interval;
            m_active = true;
            wake = m_parked;
            if (!m_thread.joinable())
                m_thread = std::thread([this] { run(); });
        }
        if (wake)
            m_wake.notify_all();
    }

    /// The send is over; the check and the state are not touched after this returns.
    void end()
    {
        {
            std::lock_guard lock(m_mutex);
            m_active = false;
        }
        std::lock_guard checkLock(m_checkMutex);
        m_state = nullptr;
        m_check = nullptr;
    }

    void enterLibcurl() { m_insideSince.store(std::chrono::steady_clock::now().time_since_epoch().count()); }
    void leaveLibcurl() { m_insideSince.store(0); }

    /// The abort check, from the sending thread. True also when the watch saw an abort.
    bool check()
    {
        std::lock_guard checkLock(m_checkMutex);
        if (!m_aborted && m_check && m_check())
            m_aborted = true;
        return m_aborted;
    }

    bool aborted()
    {
        std::lock_guard checkLock(m_checkMutex);
        return m_aborted;
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        auto idleSince = std::chrono::steady_clock::now();
        while (!m_stop) {
            if (!m_active && std::chrono::steady_clock::now() - idleSince > std::chrono::seconds(1)) {
                m_parked = true;
                m_wake.wait(lock, [this] { return m_stop || m_active; });
                m_parked = false;
                continue;
            }
            const auto interval = m_interval;
            m_wake.wait_for(lock, std::max<std::chrono::milliseconds>(interval / 2, std::chrono::milliseconds(5)));
            if (!m_active) {
                continue;
            }
            idleSince = std::chrono::steady_clock::now();
            const auto since = m_insideSince.load();
            if (since == 0 || idleSince.time_since_epoch().count() - since
                                  < std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval).count())
                continue;
            lock.unlock();
            {
                std::lock_guard checkLock(m_checkMutex);
                if (m_check && !m_aborted && m_insideSince.load() != 0 && m_check()) {
                    m_aborted = true;
                    m_state->abort();
                }
            }
            lock.lock();
        }
    }

    std::thread m_thread;
    std::mutex m_mutex; ///< guards the fields below up to m_parked
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_active = false;
    bool m_parked = false;
    std::chrono::milliseconds m_interval{kMaxPollMs};
    std::atomic<std::chrono::steady_clock::rep> m_insideSince{0};
    std::mutex m_checkMutex; ///< guards the fields below
    TransferState *m_state = nullptr;
    std::function<bool()> m_check;
    bool m_aborted = false;
};

} // namespace

int Email::AddTo(const QString &displayName, const QString &address)
{
    m_toName = displayName;
    m_toAddress = address;
    return 1;
}

QString Email::AddFileAttachment(const QString &path)
{
    m_attachmentPath = path;
    if (path.isEmpty())
        return {};
    return QMimeDatabase().mimeTypeForFile(path).name();
}

struct MailMan::Private
{
    QString host;
    QString user;
    QString password;
    int heartbeatMs = kMaxPollMs;
    int ssl = -1;    ///< unset until put_SmtpSsl: never a silent plain-SMTP default
    qint32 port = 0; ///< unset until put_SmtpPort
    int timeoutSeconds = 30;
    QString lastError;
    QString lastReply;
    bool maybeDelivered = false;
    bool aborted = false;
    AttachmentCache cache;
    EasyPtr easy;
    MultiPtr multi;
    BlockingWaitWatch watch;

    // State of the send in progress, read by libcurl's callbacks.
    MailMan *owner = nullptr;
    int lastPercent = -1;
    bool abortedByCallback = false;

    bool pollAbort() const
    {
        int abort = 0;
        if (owner->AbortCheck)
            owner->AbortCheck(abort);
        return abort != 0;
    }

    void reportPercent(int percent)
    {
        if (percent == lastPercent)
            return;
        lastPercent = percent;
        int abort = 0;
        if (owner->SendPercentDone)
            owner->SendPercentDone(percent, abort);
        if (abort != 0)
            abortedByCallback = true;
    }

    QString validate(const Email &email) const;
    QString send(const Email &email);
    QString describeFailure(CURLcode code, const char *curlError, const QByteArray &serverReply) const;
    QString withoutPassword(QString text) const;
};

MailMan::MailMan() : d(std::make_unique<Private>())
{
    initCurlOnce();
    d->owner = this;
}

MailMan::~MailMan() = default;

void MailMan::put_SmtpHost(const QString &host)
{
    d->host = host;
}

void MailMan::put_SmtpUsername(const QString &user)
{
    d->user = user;
}

void MailMan::put_SmtpPassword(const QString &password)
{
    d->password = password;
}

void MailMan::put_HeartbeatMs(int ms)
{
    d->heartbeatMs = ms;
}

void MailMan::put_SmtpSsl(int on)
{
    d->ssl = on;
}

void MailMan::put_SmtpPort(qint32 port)
{
    d->port = port;
}

void MailMan::put_DataFolder(const QString &folder)
{
    d->cache.setDataFolder(folder);
}

void MailMan::put_TimeoutSeconds(int seconds)
{
    d->timeoutSeconds = qMax(1, seconds);
}

QString MailMan::LastErrorText() const
{
    return d->lastError;
}

QString MailMan::LastServerReply() const
{
    return d->lastReply;
}

bool MailMan::LastSendMaybeDelivered() const
{
    return d->maybeDelivered;
}

bool MailMan::LastSendAborted() const
{
    return d->aborted;
}

int MailMan::CloseSmtpConnection()
{
    // Every send uses its own connection and closes it before it returns.
    return 1;
}

int MailMan::SendEmail(const Email &email)
{
    d->lastReply.clear();
    d->maybeDelivered = false;
    d->aborted = false;
    d->lastError = d->validate(email);
    if (!d->lastError.isEmpty())
        return 0;

    const auto pollInterval = std::chrono::milliseconds(qBound(1, d->heartbeatMs, kMaxPollMs));
    SendGateGuard gate(programSendGate(), [this] { return d->pollAbort(); }, pollInterval);
    if (gate.entry() == SendGate::Entry::Nested) {
        d->lastError = u"Another message is being sent; a send cannot start inside it."_s;
        return 0;
    }
    if (gate.entry() == SendGate::Entry::Aborted) {
        d->lastError = u"The send was aborted."_s;
        d->aborted = true;
        return 0;
    }
    d->lastError = d->withoutPassword(d->send(email));
    return d->lastError.isEmpty() ? 1 : 0;
}

QString MailMan::Private::validate(const Email &email) const
{
    const QString hostError = hostProblem(host);
    if (!hostError.isEmpty())
        return hostError;
    if (ssl != 0 && ssl != 1)
        return u"No connection security is set for the SMTP server (SSL must be 0 or 1); the message "
                              "was not sent."_s;
    if (port < 1 || port > 65535)
        return u"The SMTP port %1 is not valid; it must be a number from 1 to 65535."_s.arg(port);
    if (email.toAddress().trimmed().isEmpty())
        return u"No recipient address was given."_s;
    QString problem = mime::addressProblem(email.toAddress());
    if (!problem.isEmpty())
        return u"The recipient address %1; the message was not sent."_s.arg(problem);
    problem = mime::addressProblem(email.from());
    if (!problem.isEmpty())
        return u"The sender address %1; the message was not sent."_s.arg(problem);
    if (mime::hasLineBreak(email.toName()))
        return u"The recipient name contains a line break; the message was not sent."_s;
    if (mime::hasLineBreak(email.subject()))
        return u"The subject contains a line break; the message was not sent."_s;
    const QString path = email.attachmentPath();
    if (!path.isEmpty()) {
        QFile file(path);
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
            const QString reason = QFileInfo::exists(path) ? (QFileInfo(path).isDir() ? u"it is a folder"_s
                                                                                       : file.errorString())
                                                           : u"it does not exist"_s;
            return u"The attachment \"%1\" cannot be read (%2); the message was not sent."_s
                .arg(path, reason);
        }
    }
    return {};
}

QString MailMan::Private::send(const Email &email)
{
    lastPercent = -1;
    abortedByCallback = false;

    // One handle for every send of this MailMan: libcurl keeps what it can reuse in it (such as the
    // parsed CA certificates); FORBID_REUSE still makes each send use a new connection.
    if (!easy)
        easy.reset(curl_easy_init());
    if (!easy)
        return u"The mail library could not be initialised."_s;

    // The message headers, then the body as quoted-printable text.
    QList<QByteArray> headerLines;
    headerLines.append("Date: " + mime::rfc2822Date(QDateTime::currentDateTime()));
    const QByteArray fromBytes = email.from().trimmed().toUtf8();
    if (!fromBytes.isEmpty())
        headerLines.append("From: " + fromBytes);
    QByteArray to = email.toAddress().trimmed().toUtf8();
    if (!email.toName().isEmpty())
        to = mime::encodeHeaderText(email.toName()) + " <" + to + '>';
    headerLines.append("To: " + to);
    headerLines.append("Subject: " + mime::encodeHeaderText(email.subject()));
    headerLines.append("Message-ID: " + mime::newMessageId(email.from()));
    headerLines.append("MIME-Version: 1.0");
    const QByteArray body = mime::quotedPrintable(mime::crlfLines(email.body()));
    const QList<QByteArray> textHeaders{"Content-Type: text/plain; charset=UTF-8",
                                        "Content-Transfer-Encoding: quoted-printable"};

    // Without an attachment the message is one text part, handed to libcurl whole; libcurl
    // stuffs the dots and ends it. With one it is multipart/mixed, built by libcurl's MIME API.
    const QString path = email.attachmentPath();
    MessageReader whole;
    MimePtr mime;
    SlistPtr headers;
    if (path.isEmpty()) {
        // The content of an SMTP message ends with a line end; giving it here keeps the bytes on
        // the wire exactly the ones built.
        whole.data = (headerLines + textHeaders).join("\r\n") + "\r\n\r\n" + body;
        if (!body.isEmpty() && !body.endsWith("\r\n"))
            whole.data += "\r\n";
    } else {
        mime.reset(curl_mime_init(easy.get()));
        if (!mime)
            return u"The mail library could not be initialised."_s;
        for (const QByteArray &line : std::as_const(headerLines))
            append(headers, line);
        curl_mimepart *text = curl_mime_addpart(mime.get());
        curl_mime_data(text, body.constData(), size_t(body.size()));
        curl_mime_type(text, "text/plain; charset=UTF-8");
        setPartHeaders(text, {"Content-Disposition: inline", "Content-Transfer-Encoding: quoted-printable"});
    }

    const Base64FileReader *attachmentReader = nullptr;
    if (!path.isEmpty()) {
        curl_mimepart *file = curl_mime_addpart(mime.get());
        // A file that must be the one chosen is read afresh and checked, never taken from the cache.
        const platform::FileIdentity expected = email.attachmentIdentity();
        const AttachmentCache::Source source =
            expected.isValid() ? AttachmentCache::Source{path, false} : cache.sourceFor(path);
        curl_mime_type(file, QMimeDatabase().mimeTypeForFile(path).name().toLatin1().constData());
        if (source.base64Encoded) {
            if (curl_mime_filedata(file, QFile::encodeName(source.path).constData()) != CURLE_OK)
                return u"The attachment \"%1\" cannot be read; the message was not sent."_s.arg(path);
            curl_mime_filename(file, nullptr);
        } else {
            auto reader = std::make_unique<Base64FileReader>(path);
            if (!reader->open())
                return u"The attachment \"%1\" cannot be read (%2); the message was not sent."_s
                    .arg(path, reader->errorString());
            if (expected.isValid() && reader->identity() != expected)
                return u"The attachment \"%1\" is no longer the file that was chosen (it was replaced or "
                                      "re-pointed meanwhile); the message was not sent."_s
                    .arg(path);
            const curl_off_t size = reader->encodedSize();
            attachmentReader = reader.get(); // owned by the message from here on
            curl_mime_data_cb(
                file, size,
                [](char *buffer, size_t size, size_t count, void *self) -> size_t {
                    const qint64 n = static_cast<Base64FileReader *>(self)->read(buffer, qint64(size * count));
                    return n < 0 ? CURL_READFUNC_ABORT : size_t(n);
                },
                [](void *self, curl_off_t offset, int origin) -> int {
                    return offset == 0 && origin == SEEK_SET && static_cast<Base64FileReader *>(self)->rewind()
                               ? CURL_SEEKFUNC_OK
                               : CURL_SEEKFUNC_CANTSEEK;
                },
                [](void *self) { delete static_cast<Base64FileReader *>(self); }, reader.release());
        }
        setPartHeaders(file, {mime::attachmentDisposition(QFileInfo(path).fileName()),
                              "Content-Transfer-Encoding: base64"});
    }

    // The connection: one per send, TLS as chosen, certificates always verified.
    const bool implicitTls = ssl == 1 && port == implicitTlsPort();
    QString hostPart = host.trimmed();
    if (hostPart.contains(u':') && !hostPart.startsWith(u'['))
        hostPart = u'[' + hostPart + u']';
    const QByteArray url = (implicitTls ? "smtps://" : "smtp://") + hostPart.toUtf8() + ':'
                           + QByteArray::number(port) + '/' + ehloDomain();
    const QByteArray userBytes = user.toUtf8();
    const QByteArray passwordBytes = password.toUtf8();
    const QByteArray caBundle = qgetenv("CURL_CA_BUNDLE");
    SlistPtr recipients;
    append(recipients, email.toAddress().trimmed().toUtf8());
    char curlError[CURL_ERROR_SIZE] = {};

    CURL *h = easy.get();
    // Reset the handle on the way out (before this send's message is freed), so it never keeps
    // pointers to it.
    const std::unique_ptr<CURL, void (*)(CURL *)> resetOnExit(h, [](CURL *handle) { curl_easy_reset(handle); });
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(h, CURLOPT_USE_SSL, long(ssl == 1 ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    if (!caBundle.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, caBundle.constData());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(timeoutSeconds));
    if (!user.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, userBytes.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, passwordBytes.constData());
    }
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, fromBytes.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    if (mime) {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
    } else {
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(whole.data.size()));
        curl_easy_setopt(h, CURLOPT_READDATA, &whole);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &MessageReader::read);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, &whole);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &MessageReader::seek);
    }
    TransferState state;
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &state);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &TransferState::openSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &state);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &TransferState::closeSocket);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION,
                     +[](void *self, curl_off_t, curl_off_t, curl_off_t ulTotal, curl_off_t ulNow) -> int {
                         auto *p = static_cast<Private *>(self);
                         if (ulTotal > 0)
                             p->reportPercent(int(std::clamp<curl_off_t>(ulNow * 100 / ulTotal, 0, 100)));
                         return p->abortedByCallback ? 1 : 0;
                     });
    // Only the server's replies are looked at (for the error text); what we send, with the login, is not.
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &state);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &TransferState::debug);

    // Drive the transfer in waits of at most the check interval, so that the abort check runs on
    // time even while the server is silent; the watch covers libcurl's own blocking waits.
    if (pollAbort()) {
        aborted = true;
        return u"The send was aborted."_s;
    }
    if (!multi)
        multi.reset(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), h) != CURLM_OK)
        return u"The mail library could not be initialised."_s;
    const auto pollInterval = std::chrono::milliseconds(qBound(1, heartbeatMs, kMaxPollMs));
    watch.begin(&state, [this] { return pollAbort(); }, pollInterval);
    bool abortSeen = false;
    int running = 1;
    auto nextCheck = std::chrono::steady_clock::now() + pollInterval;
    while (running > 0) {
        watch.enterLibcurl();
        const CURLMcode code = curl_multi_perform(multi.get(), &running);
        watch.leaveLibcurl();
        if (code != CURLM_OK || running == 0)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (abortedByCallback || (now >= nextCheck && watch.check())) {
            // Shut the connection down first, so that removing the transfer waits for nothing.
            state.abort();
            abortSeen = true;
            break;
        }
        if (now >= nextCheck)
            nextCheck = now + pollInterval;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextCheck - now).count();
        curl_multi_poll(multi.get(), nullptr, 0, int(std::clamp<long long>(wait, 0, kMaxPollMs)), nullptr);
    }
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == h)
            result = message->data.result;
    }
    // Every byte of the message went out but no answer to it came: the server may have kept it.
    // (An error reply to the message would be a refusal, and is kept in lastErrorReply.)
    curl_off_t uploaded = 0;
    curl_off_t total = -1;
    curl_easy_getinfo(h, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_UPLOAD_T, &total);
    lastReply = QString::fromUtf8(state.messageReply);
    maybeDelivered = result != CURLE_OK && total > 0 && uploaded >= total && state.lastErrorReply.isEmpty();
    // Removing an unfinished transfer closes its connection at once, without waiting for the server.
    watch.enterLibcurl();
    curl_multi_remove_handle(multi.get(), h);
    watch.leaveLibcurl();
    watch.end();
    abortSeen = abortSeen || watch.aborted() || abortedByCallback;

    // An abort that came as the server accepted the message is too late: the message was sent,
    // and saying otherwise could make the user send it twice.
    if (abortSeen && result != CURLE_OK) {
        aborted = true;
        return u"The send was aborted."_s;
    }
    if (attachmentReader && attachmentReader->failed())
        return u"The attachment \"%1\" could not be read while sending (it changed or became unreadable); "
                              "the message was not sent."_s.arg(path);
    if (result != CURLE_OK) {
        QString text = describeFailure(result, curlError, state.lastErrorReply);
        // Say so where the user reads it too, so that nobody resends it without checking.
        if (maybeDelivered)
            text += u"\r\nThe whole message had been sent, but the server did not confirm it: "
                                   "it may have been delivered."_s;
        return text;
    }
    reportPercent(100);
    return {};
}

QString MailMan::Private::describeFailure(CURLcode code, const char *curlError,
                                          const QByteArray &serverReply) const
{
    QString text;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        text = u"The SMTP server %1 could not be found."_s.arg(host);
        break;
    case CURLE_COULDNT_CONNECT:
        text = u"Could not connect to the SMTP server %1 on port %2."_s.arg(host).arg(port);
        break;
    case CURLE_LOGIN_DENIED:
        text = u"The SMTP server refused the user name or password."_s;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        text = u"The SMTP server did not answer in time."_s;
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        text = u"The SMTP server's certificate could not be verified; the message was not sent."_s;
        break;
    case CURLE_SSL_CONNECT_ERROR:
        text = u"A secure connection to the SMTP server could not be made."_s;
        break;
    case CURLE_USE_SSL_FAILED:
        text = u"The SMTP server does not offer a secure connection (STARTTLS)."_s;
        break;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        text = u"The connection to the SMTP server was lost."_s;
        break;
    case CURLE_WEIRD_SERVER_REPLY:
        text = u"The SMTP server's reply could not be understood; the message was not sent."_s;
        break;
    case CURLE_READ_ERROR:
        text = u"The attachment could not be read while sending."_s;
        break;
    default:
        text = u"The message could not be sent."_s;
        break;
    }
    text += u" (%1"_s.arg(QString::fromUtf8(curl_easy_strerror(code)));
    if (curlError[0] != '\0')
        text += u": "_s + QString::fromUtf8(curlError).trimmed();
    text += u')';
    if (!serverReply.isEmpty())
        text += u"\r\nThe server said: "_s + QString::fromUtf8(serverReply);
    return text;
}

QString MailMan::Private::withoutPassword(QString text) const
{
    // Servers and libraries should never echo the password, but the error text is shown and
    // logged, so make sure of it: as typed, and as base64 in the AUTH LOGIN and AUTH PLAIN
    // exchanges, which a careless server may quote in its refusal.
    if (password.size() < 3)
        return text;
    const QByteArray secret = password.toUtf8();
    for (const QByteArray &form : {secret.toBase64(), QByteArray('\0' + user.toUtf8() + '\0' + secret).toBase64()})
        text.replace(QString::fromLatin1(form), u"********"_s);
    text.replace(password, u"********"_s);
    return text;
}

} // namespace quorvale
