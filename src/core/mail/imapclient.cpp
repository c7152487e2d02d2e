#include "mail/imapclient.h"

#include <QLocale>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace quorvale {

bool ImapFolder::hasFlag(QByteArrayView flag) const
{
    for (const QByteArray &own : flags) {
        if (own.compare(flag, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

namespace {

/// Reads the parts of one LIST line: "(flags) delimiter name", where the delimiter is a quoted
/// character or NIL and the name an atom or a quoted string. Literals ({n}) are not read: libcurl
/// hands them over split, and a folder whose name needs one is not a usable Sent folder.
class ListLine
{
public:
    explicit ListLine(QByteArrayView text) : m_text(text) {}

    bool read(ImapFolder *folder)
    {
        if (!take('('))
            return false;
        while (!at(')')) {
            QByteArray flag;
            if (!atom(&flag, true))
                return false;
            folder->flags.append(flag);
            skipBlanks();
        }
        ++m_at;
        if (!take(' '))
            return false;
        QByteArray delimiter;
        if (!string(&delimiter) && !atom(&delimiter, false))
            return false;
        if (!take(' '))
            return false;
        if (!string(&folder->name) && !atom(&folder->name, false))
            return false;
        return m_at == m_text.size() && !folder->name.isEmpty();
    }

private:
    bool at(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }
    bool take(char c)
    {
        if (!at(c))
            return false;
        ++m_at;
        return true;
    }
    void skipBlanks()
    {
        while (at(' '))
            ++m_at;
    }
    bool atom(QByteArray *out, bool flag)
    {
        const qsizetype start = m_at;
        if (flag)
            take('\\');
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (c <= ' ' || c >= 127 || c == '(' || c == ')' || c == '"' || c == '{' || (c == '\\' && !flag))
                break;
            if (flag && c == '\\')
                break;
            ++m_at;
        }
        if (m_at == start || (flag && m_at == start + 1 && m_text[start] == '\\'))
            return false;
        *out = m_text.sliced(start, m_at - start).toByteArray();
        return true;
    }
    bool string(QByteArray *out)
    {
        if (!take('"'))
            return false;
        QByteArray value;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') {
                *out = value;
                return true;
            }
            if (c == '\r' || c == '\n')
                return false;
            if (c == '\\') {
                if (m_at >= m_text.size() || (m_text[m_at] != '"' && m_text[m_at] != '\\'))
                    return false;
                value += m_text[m_at++];
                continue;
            }
            value += c;
        }
        return false;
    }

    QByteArrayView m_text;
    qsizetype m_at = 0;
};

QList<QByteArrayView> lines(QByteArrayView text)
{
    QList<QByteArrayView> result;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        result.append(line);
        start = end + 1;
    }
    return result;
}

struct Upload
{
    const QByteArray *data = nullptr;
    qsizetype at = 0;
    static size_t read(char *buffer, size_t size, size_t count, void *self)
    {
        auto *upload = static_cast<Upload *>(self);
        const qsizetype n = std::min<qsizetype>(qsizetype(size * count), upload->data->size() - upload->at);
        std::memcpy(buffer, upload->data->constData() + upload->at, size_t(n));
        upload->at += n;
        return size_t(n);
    }
};

size_t collect(char *data, size_t size, size_t count, void *self)
{
    static_cast<QByteArray *>(self)->append(data, qsizetype(size * count));
    return size * count;
}

int collectReplies(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    if (type == CURLINFO_HEADER_IN)
        static_cast<QByteArray *>(self)->append(data, qsizetype(size));
    return 0;
}

int progress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *aborted = static_cast<const ImapAbort *>(self);
    return *aborted && (*aborted)() ? 1 : 0;
}

/// The server's last tagged refusal ("A003 NO [TRYCREATE] Mailbox doesn't exist: Sent"), without
/// its tag, or empty.
QByteArray lastRefusal(QByteArrayView replies)
{
    QByteArray refusal;
    for (QByteArrayView line : lines(replies)) {
        const qsizetype blank = line.indexOf(' ');
        if (blank <= 0 || line.startsWith('*') || line.startsWith('+'))
            continue;
        const QByteArrayView rest = line.sliced(blank + 1);
        if (rest.startsWith("NO ") || rest.startsWith("BAD "))
            refusal = rest.toByteArray();
    }
    return refusal;
}

/// One untagged reply of a session: its text, and the literals ({n} and n bytes) it carried.
struct UntaggedReply
{
    QByteArray text;
    QList<QByteArray> literals;
};

/// Commands of our own on a connection libcurl opened and logged in on (CONNECT_ONLY): libcurl
/// has no read-only way into a folder, so EXAMINE and FETCH BODY.PEEK go as text. Every wait is
/// bounded by the timeout and asks the abort predicate in short slices.
class RawSession
{
public:
    RawSession(CURL *handle, const ImapAbort &aborted, int timeoutSeconds, qsizetype maxLiteral)
        : m_handle(handle), m_aborted(aborted), m_timeout(timeoutSeconds), m_maxLiteral(maxLiteral)
    {
    }
    ~RawSession()
    {
        if (m_multi)
            curl_multi_cleanup(m_multi);
    }
    RawSession(const RawSession &) = delete;
    RawSession &operator=(const RawSession &) = delete;

    /// Sends `command` under a new tag and reads its replies up to the tagged one; false with
    /// `error` when the server refuses it or the connection fails.
    bool run(const QByteArray &command, QList<UntaggedReply> *untagged, QString *error)
    {
        const QByteArray tag = "Q" + QByteArray::number(++m_tags);
        if (!send(tag + ' ' + command + "\r\n", error))
            return false;
        UntaggedReply current;
        bool inUntagged = false;
        for (;;) {
            QByteArray line;
            if (!readLine(&line, error))
                return false;
            const bool continued = inUntagged && !current.text.isEmpty() && current.text.endsWith('}');
            if (!continued) {
                if (line.startsWith(QByteArray(tag + ' '))) {
                    const QByteArray status = line.sliced(tag.size() + 1);
                    if (status.startsWith("OK"))
                        return true;
                    *error = QString::fromUtf8(status).simplified();
                    return false;
                }
                if (inUntagged)
                    untagged->append(std::exchange(current, {}));
                inUntagged = line.startsWith("* ");
                current.text.clear();
            }
            current.text += line;
            qint64 size = -1;
            if (line.endsWith('}')) {
                const qsizetype open = line.lastIndexOf('{');
                bool ok = false;
                size = open >= 0 ? line.sliced(open + 1, line.size() - open - 2).toLongLong(&ok) : -1;
                if (!ok || size < 0 || size > m_maxLiteral + 4096) {
                    *error = u"the server sent a reply too large to read"_s;
                    return false;
                }
                QByteArray literal;
                if (!readBytes(size, &literal, error))
                    return false;
                if (inUntagged)
                    current.literals.append(literal);
            } else if (inUntagged) {
                untagged->append(std::exchange(current, {}));
                inUntagged = false;
            }
        }
    }

private:
    bool waitForSocket(bool forWriting, QString *error)
    {
        if (!m_multi)
            m_multi = curl_multi_init();
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (!m_multi || curl_easy_getinfo(m_handle, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
            socket == CURL_SOCKET_BAD) {
            *error = u"the connection was closed"_s;
            return false;
        }
        curl_waitfd wait{socket, short(forWriting ? CURL_WAIT_POLLOUT : CURL_WAIT_POLLIN), 0};
        int ready = 0;
        if (curl_multi_poll(m_multi, &wait, 1, 100, &ready) != CURLM_OK) {
            *error = u"the connection failed"_s;
            return false;
        }
        return true;
    }
    bool timedOut(std::chrono::steady_clock::time_point since, QString *error) const
    {
        if (m_aborted && m_aborted()) {
            *error = u"aborted"_s;
            return true;
        }
        if (std::chrono::steady_clock::now() - since > std::chrono::seconds(m_timeout)) {
            *error = u"the server did not answer in time"_s;
            return true;
        }
        return false;
    }
    bool send(const QByteArray &bytes, QString *error)
    {
        qsizetype at = 0;
        const auto start = std::chrono::steady_clock::now();
        while (at < bytes.size()) {
            size_t sent = 0;
            const CURLcode code = curl_easy_send(m_handle, bytes.constData() + at, size_t(bytes.size() - at), &sent);
            if (code == CURLE_AGAIN) {
                if (timedOut(start, error) || !waitForSocket(true, error))
                    return false;
                continue;
            }
            if (code != CURLE_OK) {
                *error = QString::fromUtf8(curl_easy_strerror(code));
                return false;
            }
            at += qsizetype(sent);
        }
        return true;
    }
    /// Reads more from the connection into the buffer.
    bool fill(QString *error)
    {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            char chunk[16384];
            size_t got = 0;
            const CURLcode code = curl_easy_recv(m_handle, chunk, sizeof chunk, &got);
            if (code == CURLE_OK && got == 0) {
                *error = u"the server closed the connection"_s;
                return false;
            }
            if (code == CURLE_OK) {
                m_buffer.append(chunk, qsizetype(got));
                return true;
            }
            if (code != CURLE_AGAIN) {
                *error = QString::fromUtf8(curl_easy_strerror(code));
                return false;
            }
            if (timedOut(start, error) || !waitForSocket(false, error))
                return false;
        }
    }
    bool readLine(QByteArray *line, QString *error)
    {
        qsizetype end;
        while ((end = m_buffer.indexOf("\r\n")) < 0) {
            if (m_buffer.size() > 8 * 1024 * 1024) {
                *error = u"the server sent a line too long to read"_s;
                return false;
            }
            if (!fill(error))
                return false;
        }
        *line = m_buffer.first(end);
        m_buffer.remove(0, end + 2);
        return true;
    }
    bool readBytes(qint64 size, QByteArray *bytes, QString *error)
    {
        while (m_buffer.size() < size) {
            if (!fill(error))
                return false;
        }
        *bytes = m_buffer.first(qsizetype(size));
        m_buffer.remove(0, qsizetype(size));
        return true;
    }

    CURL *m_handle;
    const ImapAbort &m_aborted;
    int m_timeout;
    qsizetype m_maxLiteral;
    CURLM *m_multi = nullptr;
    QByteArray m_buffer;
    int m_tags = 0;
};

/// The UIDs of an untagged "* SEARCH 3 7 9" reply.
QList<quint32> searchUids(const QList<UntaggedReply> &replies)
{
    QList<quint32> uids;
    for (const UntaggedReply &reply : replies) {
        if (!reply.text.startsWith("* SEARCH"))
            continue;
        for (const QByteArray &word : reply.text.sliced(8).split(' ')) {
            bool ok = false;
            const quint32 uid = word.toUInt(&ok);
            if (ok && uid > 0)
                uids.append(uid);
        }
    }
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return uids;
}

} // namespace

QList<ImapFolder> parseImapList(QByteArrayView reply)
{
    QList<ImapFolder> folders;
    for (QByteArrayView line : lines(reply)) {
        if (!line.startsWith("* LIST ") && !line.startsWith("* list "))
            continue;
        ImapFolder folder;
        if (ListLine(line.sliced(7)).read(&folder))
            folders.append(folder);
    }
    return folders;
}

quint32 parseAppendUid(QByteArrayView reply)
{
    const qsizetype at = QByteArrayView(reply).indexOf("[APPENDUID ");
    if (at < 0)
        return 0;
    const QByteArrayView rest = reply.sliced(at + 11);
    const qsizetype blank = rest.indexOf(' ');
    const qsizetype end = rest.indexOf(']');
    if (blank <= 0 || end <= blank + 1)
        return 0;
    bool ok = false;
    const quint32 uid = rest.sliced(blank + 1, end - blank - 1).toByteArray().toUInt(&ok);
    return ok ? uid : 0;
}

bool isUsableFolderName(const QString &name)
{
    if (name.trimmed().isEmpty() || name.size() > 200)
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() >= 0x7f || c == u'"' || c == u'\\' || c == u'*' || c == u'%')
            return false;
    }
    return true;
}

bool isSearchableMessageId(QByteArrayView messageId)
{
    if (messageId.size() < 5 || messageId.size() > 250 || !messageId.startsWith('<') || !messageId.endsWith('>') ||
        !messageId.contains('@'))
        return false;
    return std::all_of(messageId.cbegin(), messageId.cend(),
                       [](char c) { return c > ' ' && c < 127 && c != '"' && c != '\\'; });
}

ImapClient::ImapClient(ImapServer server, ImapAbort aborted)
    : m_server(std::move(server)), m_aborted(std::move(aborted))
{
}

QString ImapClient::list(QList<ImapFolder> *folders)
{
    QByteArray reply;
    const QString error = perform(QString(), "LIST \"\" \"*\"", nullptr, &reply);
    if (error.isEmpty())
        *folders = parseImapList(reply);
    return error;
}

QString ImapClient::create(const QString &name)
{
    if (!isUsableFolderName(name))
        return u"The folder name \"%1\" cannot be used on the IMAP server."_s.arg(name.simplified());
    QByteArray reply;
    return perform(QString(), "CREATE \"" + name.toLatin1() + '"', nullptr, &reply);
}

QString ImapClient::append(const QString &folder, const QByteArray &message)
{
    if (!isUsableFolderName(folder))
        return u"The folder name \"%1\" cannot be used on the IMAP server."_s.arg(folder.simplified());
    QByteArray reply;
    return perform(folder, {}, &message, &reply);
}

void *ImapClient::configured(void *handle, const QByteArray &url, char *curlError, QByteArray *replies) const
{
    CURL *h = handle;
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    if (!m_server.caBundle.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, m_server.caBundle.constData());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, long(m_server.timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(m_server.timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(m_server.timeoutSeconds));
    curl_easy_setopt(h, CURLOPT_USERNAME, m_server.user.constData());
    if (m_server.bearer) {
        curl_easy_setopt(h, CURLOPT_XOAUTH2_BEARER, m_server.secret.constData());
        curl_easy_setopt(h, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
    } else {
        curl_easy_setopt(h, CURLOPT_PASSWORD, m_server.secret.constData());
    }
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, replies);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &collectReplies);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &m_aborted);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &progress);
    return h;
}

QByteArray ImapClient::url(const QString &folder) const
{
    return QByteArray(m_server.implicitTls ? "imaps://" : "imap://") + QUrl::toAce(m_server.host) + ':' +
           QByteArray::number(m_server.port) + '/' + QUrl::toPercentEncoding(folder);
}

QString ImapClient::connectOnly(std::unique_ptr<void, void (*)(void *)> *easy, const QString &aborted) const
{
    easy->reset(curl_easy_init());
    if (!*easy)
        return u"The mail library could not be initialised."_s;
    // libcurl connects, encrypts and logs in, then leaves the connection to us; it keeps the
    // connection only when it may reuse it.
    CURL *h = easy->get();
    QByteArray replies;
    char curlError[CURL_ERROR_SIZE] = {};
    configured(h, url(QString()), curlError, &replies);
    curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 0L);
    const CURLcode code = curl_easy_perform(h);
    return code == CURLE_OK ? QString() : failure(code, replies, curlError, aborted);
}

QString ImapClient::hasMessageId(const QString &folder, const QByteArray &messageId, bool *found)
{
    *found = false;
    if (!isUsableFolderName(folder))
        return u"The folder name \"%1\" cannot be used on the IMAP server."_s.arg(folder.simplified());
    if (!isSearchableMessageId(messageId))
        return u"the Message-ID \"%1\" cannot be searched for"_s.arg(QString::fromLatin1(messageId).simplified());
    std::unique_ptr<CURL, void (*)(CURL *)> easy(nullptr, curl_easy_cleanup);
    if (const QString failed = connectOnly(&easy, u"The search of the Sent folder was aborted."_s); !failed.isEmpty())
        return failed;
    CURL *h = easy.get();

    RawSession session(h, m_aborted, m_server.timeoutSeconds, 0);
    const QString server = u"%1:%2"_s.arg(m_server.host).arg(m_server.port);
    QString error;
    QList<UntaggedReply> untagged;
    if (!session.run("EXAMINE \"" + folder.toLatin1() + '"', &untagged, &error))
        return u"the IMAP server %1 could not be searched (%2)"_s.arg(server, error);
    untagged.clear();
    if (!session.run("UID SEARCH HEADER Message-ID \"" + messageId + '"', &untagged, &error))
        return u"the IMAP server %1 could not be searched (%2)"_s.arg(server, error);
    *found = !searchUids(untagged).isEmpty();
    untagged.clear();
    session.run("LOGOUT", &untagged, &error);
    return {};
}

QString ImapClient::readSince(const QString &folder, const QDate &since, qsizetype maxBytes,
                              const std::function<bool(QByteArrayView headers)> &wanted, QList<QByteArray> *messages)
{
    messages->clear();
    if (!isUsableFolderName(folder))
        return u"The folder name \"%1\" cannot be used on the IMAP server."_s.arg(folder.simplified());
    std::unique_ptr<CURL, void (*)(CURL *)> easy(nullptr, curl_easy_cleanup);
    if (const QString failed = connectOnly(&easy, u"The reading of the mailbox was aborted."_s); !failed.isEmpty())
        return failed;
    CURL *h = easy.get();

    RawSession session(h, m_aborted, m_server.timeoutSeconds, maxBytes);
    const QString server = u"%1:%2"_s.arg(m_server.host).arg(m_server.port);
    const auto failed = [&](const QString &why) {
        return u"the IMAP server %1 could not be read (%2)"_s.arg(server, why);
    };
    QString error;
    QList<UntaggedReply> untagged;
    if (!session.run("EXAMINE \"" + folder.toLatin1() + '"', &untagged, &error))
        return failed(error);
    untagged.clear();
    const QByteArray date = QLocale::c().toString(since, u"d-MMM-yyyy"_s).toLatin1();
    if (!session.run("UID SEARCH SINCE " + date, &untagged, &error))
        return failed(error);
    const QList<quint32> found = searchUids(untagged);
    const auto uidSet = [](const QList<quint32> &uids, qsizetype first, qsizetype count) {
        QByteArray set;
        for (qsizetype i = first; i < std::min(first + count, uids.size()); ++i)
            set += (set.isEmpty() ? "" : ",") + QByteArray::number(uids.at(i));
        return set;
    };
    // First the few headers of every message, then only the wanted ones, a batch at a time: one
    // round trip per batch, and no more than a batch's text held beyond the messages kept.
    QList<quint32> uids;
    constexpr qsizetype kHeaderBatch = 200;
    for (qsizetype first = 0; first < found.size(); first += kHeaderBatch) {
        untagged.clear();
        if (!session.run("UID FETCH " + uidSet(found, first, kHeaderBatch) +
                             " (UID BODY.PEEK[HEADER.FIELDS (FROM SUBJECT CONTENT-TYPE)])",
                         &untagged, &error))
            return failed(error);
        for (const UntaggedReply &reply : std::as_const(untagged)) {
            const qsizetype at = reply.text.indexOf("UID ");
            bool ok = false;
            const quint32 uid = at < 0 ? 0 : reply.text.sliced(at + 4).split(' ').value(0).toUInt(&ok);
            if (ok && !reply.literals.isEmpty() && (!wanted || wanted(reply.literals.first())))
                uids.append(uid);
        }
    }
    constexpr qsizetype kBatch = 20;
    for (qsizetype first = 0; first < uids.size(); first += kBatch) {
        untagged.clear();
        if (!session.run("UID FETCH " + uidSet(uids, first, kBatch) + " (BODY.PEEK[]<0." +
                             QByteArray::number(maxBytes) + ">)",
                         &untagged, &error))
            return failed(error);
        for (const UntaggedReply &reply : std::as_const(untagged)) {
            if (reply.text.contains(" FETCH ") && !reply.literals.isEmpty())
                messages->append(reply.literals.first());
        }
    }
    untagged.clear();
    session.run("LOGOUT", &untagged, &error);
    return {};
}

QString ImapClient::perform(const QString &folder, const QByteArray &command, const QByteArray *upload,
                            QByteArray *reply)
{
    const std::unique_ptr<CURL, void (*)(CURL *)> easy(curl_easy_init(), curl_easy_cleanup);
    if (!easy)
        return u"The mail library could not be initialised."_s;
    CURL *h = easy.get();
    QByteArray replies;
    char curlError[CURL_ERROR_SIZE] = {};
    Upload reader{upload, 0};
    configured(h, url(folder), curlError, &replies);
    if (!command.isEmpty())
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, command.constData());
    if (upload) {
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(upload->size()));
        curl_easy_setopt(h, CURLOPT_READDATA, &reader);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &Upload::read);
    }
    curl_easy_setopt(h, CURLOPT_WRITEDATA, reply);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
    const CURLcode code = curl_easy_perform(h);
    if (upload)
        reply->append(replies);
    if (code == CURLE_OK)
        return {};
    return failure(code, replies, curlError, u"The copy was aborted."_s);
}

QString ImapClient::failure(int curlCode, const QByteArray &replies, const char *curlError,
                            const QString &aborted) const
{
    const auto code = CURLcode(curlCode);
    const QString server = u"%1:%2"_s.arg(m_server.host).arg(m_server.port);
    QString why;
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        return aborted;
    case CURLE_LOGIN_DENIED:
        why = u"the IMAP server %1 refused the login of %2"_s.arg(server, QString::fromUtf8(m_server.user));
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
        why = u"the IMAP server %1 cannot be reached"_s.arg(server);
        break;
    case CURLE_USE_SSL_FAILED:
        why = u"the IMAP server %1 offers no encrypted connection (STARTTLS) on this port"_s.arg(server);
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
        why = u"the secure connection to the IMAP server %1 failed"_s.arg(server);
        break;
    default:
        why = u"the IMAP server %1 did not take it"_s.arg(server);
        break;
    }
    QString detail = QString::fromUtf8(lastRefusal(replies)).simplified();
    if (detail.isEmpty())
        detail = QString::fromUtf8(curlError).simplified();
    if (!m_server.secret.isEmpty())
        detail.replace(QString::fromUtf8(m_server.secret), u"********"_s);
    return why + (detail.isEmpty() ? QString() : u" ("_s + detail + u')');
}

} // namespace quorvale
