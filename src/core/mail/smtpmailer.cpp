#include "mail/smtpmailer.h"

#include "auth/secretmask.h"
#include "auth/signinaccount.h"
#include "mail/messagebuilder.h"
#include "mail/sendgate.h"
#include "mail/sentcopy.h"
#include "mail/sizeprobe.h"
#include "mail/smtplogin.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// How often the abort question is asked while a send waits for the server.
constexpr std::chrono::milliseconds kPollInterval{100};

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

template <auto Free> struct Deleter
{
    template <typename T> void operator()(T *p) const { Free(p); }
};
using MimePtr = std::unique_ptr<curl_mime, Deleter<curl_mime_free>>;
using SlistPtr = std::unique_ptr<curl_slist, Deleter<curl_slist_free_all>>;

void append(SlistPtr &list, const QByteArray &line)
{
    if (curl_slist *grown = curl_slist_append(list.get(), line.constData())) {
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


/// Why no send can be attempted to `server`, or empty.
QString serverProblem(const MailServer &server)
{
    if (!server.problem.isEmpty())
        return server.problem;
    if (server.security != MailServer::Security::Plain && server.security != MailServer::Security::Tls)
        return u"No connection security is set for the SMTP server (SSL must be 0 or 1); the message was not sent."_s;
    if (server.port < 1 || server.port > 65535)
        return u"The SMTP port %1 is not valid; it must be a number from 1 to 65535."_s.arg(server.port);
    return {};
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


QString describeFailure(CURLcode code, const char *curlError, const QByteArray &serverReply, const MailServer &server)
{
    QString text;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        text = u"The SMTP server %1 could not be found."_s.arg(server.host);
        break;
    case CURLE_COULDNT_CONNECT:
        text = u"Could not connect to the SMTP server %1 on port %2."_s.arg(server.host).arg(server.port);
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

/// Why no message at all can go to `server` after a failure with `code` before anything of the
/// message went out, in the user's words and with what to do; empty when the failure may be this
/// message's alone.
QString serverUnusableReason(CURLcode code, const QByteArray &reply, const MailServer &server)
{
    QString what;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        what = u"the mail server %1 could not be found"_s.arg(server.host);
        break;
    case CURLE_COULDNT_CONNECT:
        what = u"the mail server %1 could not be reached on port %2"_s.arg(server.host).arg(server.port);
        break;
    case CURLE_OPERATION_TIMEDOUT:
        what = u"the mail server %1 did not answer"_s.arg(server.host);
        break;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        what = u"the mail server's certificate could not be verified"_s;
        break;
    case CURLE_SSL_CONNECT_ERROR:
        what = u"no secure connection could be made to the mail server"_s;
        break;
    case CURLE_USE_SSL_FAILED:
        what = u"the mail server does not offer a secure connection (STARTTLS)"_s;
        break;
    case CURLE_LOGIN_DENIED:
        what = u"the mail server refused the user name or password"_s;
        break;
    default:
        return {};
    }
    if (!reply.trimmed().isEmpty())
        what += u" ("_s + QString::fromUtf8(reply.trimmed()).simplified() + u')';
    return what + u". Check Setup, then press Start to send to the clients not reached."_s;
}

/// Exchange Online's answers to a password login it no longer takes ("550 5.7.30 Basic
/// authentication is not supported for Client Submission.", "535 5.7.139 ... basic authentication is
/// disabled").
bool isPasswordLoginSwitchedOff(const QByteArray &reply)
{
    return reply.contains("5.7.30") || reply.contains("5.7.139");
}

// Lets a transaction go on when some of its recipients are refused (libcurl >= 7.69, which
// spelt it with three Ls before 8.2).
#if LIBCURL_VERSION_NUM >= 0x080200
constexpr CURLoption kMailRcptAllowFails = CURLOPT_MAIL_RCPT_ALLOWFAILS;
#else
constexpr CURLoption kMailRcptAllowFails = CURLOPT_MAIL_RCPT_ALLLOWFAILS;
#endif

/// With an archive copy the server answers the client's recipient and the archive's apart, and
/// the message goes to whichever it took. A refused client is a refused send even when the archive
/// took the message; a refused archive copy is only reported.
void checkRecipients(SendResult &result, const QList<QByteArray> &replies, const QByteArray &recipient)
{
    const auto refused = [](const QByteArray &reply) { return !reply.startsWith('2'); };
    if (!replies.isEmpty() && refused(replies[0]) &&
        (result.status == SendStatus::Sent || result.status == SendStatus::MaybeDelivered)) {
        result.status = SendStatus::Refused;
        result.serverReply = QString::fromUtf8(replies[0]);
        result.errorText = u"The SMTP server refused the recipient %1; the message was not sent to it (only the "
                           "archive copy went).\r\nThe server said: "_s.arg(QString::fromUtf8(recipient)) +
                           QString::fromUtf8(replies[0]);
    }
    if (replies.size() > 1 && refused(replies[1]))
        result.archiveRefused = QString::fromUtf8(replies[1]);
}

/// Reads the server's refusal that ended a failed send (see classifyReply), so that a run can tell
/// a refusal worth trying again from one of this client alone and from one of the whole mailbox. A
/// refusal of the message itself (the sender, the recipient, the content) is explained by what
/// was refused and the reply, never by how the connection ended afterwards.
void readRefusal(SendResult &result, const TransferState &state, bool bearer)
{
    if ((result.status != SendStatus::Refused && result.status != SendStatus::ServerUnusable) ||
        state.lastErrorReply.isEmpty())
        return;
    ReplyVerdict verdict =
        classifyReply(state.errorStage, state.lastErrorReply, bearer ? LoginKind::Token : LoginKind::Password,
                      QDateTime::currentDateTimeUtc());
    if (verdict.code < 400)
        return;
    switch (verdict.stage) {
    case SmtpStage::MailFrom:
    case SmtpStage::RcptTo:
    case SmtpStage::Data:
        result.errorText = verdict.fix.isEmpty() ? verdict.reason : verdict.reason + u"\r\n"_s + verdict.fix;
        break;
    default:
        break;
    }
    result.refusal = std::move(verdict);
}

SendResult failed(SendStatus status, const QString &error)
{
    return {status, {}, error};
}

/// A login the server refused in a way that every further send would meet too: a token refused
/// even when fresh, or a password a provider no longer takes. The send ends as not attempted, so
/// that a run stops before the next client, and says what to do.
void explainRefusedLogin(SendResult &result, CURLcode code, const QByteArray &errorReply, const SmtpLogin &login,
                         const MailServer &server)
{
    // A login put off for now is no refused login: the caller may try again later.
    if (result.refusal && result.refusal->kind == ReplyClass::Temporary)
        return;
    if (code == CURLE_LOGIN_DENIED && login.bearer) {
        result.status = SendStatus::NotAttempted;
        result.errorText =
            (server.signIn == MailServer::SignIn::OAuth
                 ? u"The SMTP server refused the sign-in of %1. Sign in again in Setup; if that does not help, "
                   "the mailbox may not be allowed to send over SMTP (see the help on signing in)."_s
                 : u"The SMTP server refused the token that the token command printed for %1."_s)
                .arg(server.user) +
            u"\r\n"_s + result.errorText;
    } else if (code != CURLE_OK && server.signIn == MailServer::SignIn::Password &&
               isPasswordLoginSwitchedOff(errorReply)) {
        result.status = SendStatus::NotAttempted;
        // 5.7.139 says in its text why: SMTP AUTH off for the organisation or the mailbox, security
        // defaults, or password logins switched off; each has its own fix.
        const bool told = result.refusal && !result.refusal->fix.isEmpty();
        result.errorText =
            (told ? result.refusal->fix
                  : u"This mail provider requires the Microsoft 365 sign-in and no longer takes a password: in "
                    "Setup, choose the sign-in method \"OAuth sign-in\" with the provider \"Microsoft 365\", click "
                    "\"Sign in...\" and save (on the command line: quorvale config set SignInMethod oauth, then "
                    "quorvale sign-in)."_s) +
            u"\r\nThe server said: "_s + QString::fromUtf8(errorReply);
    } else if (result.status == SendStatus::ServerUnusable && result.refusal &&
               result.refusal->stage == SmtpStage::Login && !result.refusal->fix.isEmpty()) {
        // The provider's reply may tell what it wants (an app password, a sign-in in the browser
        // first): say that too, where it says more than any refused login would.
        const QString anyRefusal =
            classifyReply(SmtpStage::Login, "535 Authentication failed",
                          login.bearer ? LoginKind::Token : LoginKind::Password, QDateTime::currentDateTimeUtc())
                .fix;
        const QString check = u"Check Setup, then press Start"_s;
        if (result.refusal->fix != anyRefusal && result.stopReason.contains(check))
            result.stopReason.insert(result.stopReason.indexOf(check), result.refusal->fix + u' ');
    }
}

} // namespace

/// Everything one send hands to libcurl, alive until the transfer is over.
struct SmtpMailer::Transfer
{
    explicit Transfer(CURL *handle, const SendCallbacks &callbacks, TransferWatch &watch)
        : easy(handle), callbacks(callbacks), watch(watch)
    {
    }
    // The handle is reset before this send's message and lists are freed, so it never keeps
    // pointers to them.
    ~Transfer() { curl_easy_reset(easy); }

    void reportPercent(int percent)
    {
        if (percent == lastPercent)
            return;
        lastPercent = percent;
        if (callbacks.percentDone)
            callbacks.percentDone(percent);
    }

    CURL *easy;
    const SendCallbacks &callbacks;
    TransferWatch &watch;
    MessageReader whole;
    MimePtr mime;
    SlistPtr headers;
    SlistPtr recipients;
    QByteArray url, sender, user, password, bearer, caBundle;
    /// The files read while sending, each owned by its MIME part, with their paths.
    QList<std::pair<const Base64FileReader *, QString>> attachmentReaders;
    char curlError[CURL_ERROR_SIZE] = {};
    TransferState state;
    QByteArray content; ///< the message as it went out, when the caller keeps it
    int lastPercent = -1;
    bool abortSeen = false;
};

/// How one connection ended.
struct SmtpMailer::Attempt
{
    SendResult result;
    CURLcode code = CURLE_OK;
    QByteArray errorReply; ///< the server's last error reply
};

SmtpMailer::SmtpMailer(const QString &dataFolder, std::shared_ptr<SignInAccount> account, MailerOptions options)
    : m_options(std::move(options)), m_account(account ? std::move(account) : std::make_shared<SignInAccount>()), m_easy(nullptr, curl_easy_cleanup),
      m_multi(nullptr, curl_multi_cleanup)
{
    initCurlOnce();
    m_cache.setDataFolder(dataFolder);
}

SmtpMailer::~SmtpMailer() = default;

SendResult SmtpMailer::send(const MailMessage &message, const MailServer &server, const SendCallbacks &callbacks)
{
    if (const QString problem = serverProblem(server); !problem.isEmpty())
        return failed(SendStatus::NotAttempted, problem);
    if (QString problem = hostProblem(server.host); !problem.isEmpty())
        return failed(SendStatus::Refused, problem);
    if (QString problem = messageProblem(message); !problem.isEmpty())
        return failed(SendStatus::Refused, problem);

    SendGateGuard gate(programSendGate(), callbacks.aborted, kPollInterval);
    if (gate.entry() == SendGate::Entry::Nested)
        return failed(SendStatus::Refused, u"Another message is being sent; a send cannot start inside it."_s);
    if (gate.entry() == SendGate::Entry::Aborted)
        return failed(SendStatus::NotSentAborted, u"The send was aborted."_s);

    // One handle for every send of this mailer: libcurl keeps what it can reuse in it (such as the
    // parsed CA certificates); FORBID_REUSE still makes each send use a new connection.
    if (!m_easy)
        m_easy.reset(curl_easy_init());
    if (!m_multi)
        m_multi.reset(curl_multi_init());
    if (!m_easy || !m_multi)
        return failed(SendStatus::Refused, u"The mail library could not be initialised."_s);

    SmtpLoginSource logins(server, m_account.get(), callbacks.aborted, m_options.settingsFile);
    SmtpLogin login = logins.first();
    Attempt tried;
    if (login.ok())
        tried = attempt(message, server, login, callbacks);
    // A token refused before its time (revoked, or replaced by a sign-in elsewhere): nothing was
    // handed over before the login, so one more try with a fresh token is safe.
    if (login.ok() && tried.code == CURLE_LOGIN_DENIED && logins.mayRetry()) {
        login = logins.retry();
        if (login.ok())
            tried = attempt(message, server, login, callbacks);
    }
    SendResult result = login.ok() ? tried.result : failed(login.failure, login.error);
    if (login.ok())
        explainRefusedLogin(result, tried.code, tried.errorReply, login, server);
    // Servers and libraries should never echo a secret, but these texts are shown and logged.
    const QStringList secrets = logins.secrets();
    result.errorText = maskSecrets(result.errorText, server.user, secrets);
    result.serverReply = maskSecrets(result.serverReply, server.user, secrets);
    result.stopReason = maskSecrets(result.stopReason, server.user, secrets);
    return result;
}

std::optional<qint64> SmtpMailer::sizeLimit(const MailServer &server, const AbortPredicate &aborted)
{
    if (!serverProblem(server).isEmpty() || !hostProblem(server.host).isEmpty())
        return std::nullopt;
    return probeSizeLimit(server, m_options, aborted).maxSize;
}

SmtpMailer::Attempt SmtpMailer::attempt(const MailMessage &message, const MailServer &server, const SmtpLogin &login,
                                        const SendCallbacks &callbacks)
{
    Attempt tried;
    Transfer transfer(m_easy.get(), callbacks, m_watch);
    if (callbacks.keepSentMessage)
        transfer.state.content = &transfer.content;
    const BuiltMessage built = buildMessage(message);
    if (const QString error = configureTransfer(transfer, built, message, server, login); !error.isEmpty()) {
        tried.result = failed(SendStatus::Refused, error);
        tried.code = CURLE_FAILED_INIT;
        return tried;
    }
    // Asked on this thread before anything reaches the server: an abort requested before the send
    // stops it here.
    if (callbacks.aborted && callbacks.aborted()) {
        tried.result = failed(SendStatus::NotSentAborted, u"The send was aborted."_s);
        tried.code = CURLE_ABORTED_BY_CALLBACK;
        return tried;
    }
    tried.code = driveTransfer(transfer, callbacks);
    tried.result = readResult(transfer, tried.code, server);
    if (!transfer.abortSeen)
        readRefusal(tried.result, transfer.state, login.bearer);
    if (!built.archiveRecipient.isEmpty())
        checkRecipients(tried.result, transfer.state.recipientReplies, built.recipient);
    tried.errorReply = transfer.state.lastErrorReply;
    return tried;
}

QString SmtpMailer::configureTransfer(Transfer &t, const BuiltMessage &built, const MailMessage &message,
                                      const MailServer &server, const SmtpLogin &login)
{
    // Without an attachment the message is one text part, handed to libcurl whole; libcurl
    // stuffs the dots and ends it. With one it is multipart/mixed, built by libcurl's MIME API.
    if (built.attachmentPath.isEmpty()) {
        t.whole.data = built.singlePart();
    } else {
        t.mime.reset(curl_mime_init(t.easy));
        if (!t.mime)
            return u"The mail library could not be initialised."_s;
        for (const QByteArray &line : built.headers)
            append(t.headers, line);
        curl_mimepart *text = curl_mime_addpart(t.mime.get());
        if (built.formatted.isEmpty()) {
            curl_mime_data(text, built.text.constData(), size_t(built.text.size()));
            curl_mime_type(text, "text/plain; charset=UTF-8");
            setPartHeaders(text, {"Content-Disposition: inline", "Content-Transfer-Encoding: quoted-printable"});
        } else {
            // A formatted body is one multipart entity, built whole with its own boundaries.
            curl_mime_data(text, built.formatted.constData(), size_t(built.formatted.size()));
            curl_mime_type(text, built.formattedType.constData());
        }
        if (const QString error = addAttachment(t, built.attachmentPath, built.attachmentType,
                                                built.attachmentDisposition, message.AttachmentIdentity);
            !error.isEmpty())
            return error;
        for (const BuiltMessage::Attachment &more : built.moreAttachments) {
            if (const QString error = addAttachment(t, more.path, more.type, more.disposition, more.identity);
                !error.isEmpty())
                return error;
        }
    }
    setConnection(t, built, server, login);
    return {};
}

QString SmtpMailer::addAttachment(Transfer &t, const QString &path, const QByteArray &type,
                                  const QByteArray &disposition, const platform::FileIdentity &expected)
{
    curl_mimepart *file = curl_mime_addpart(t.mime.get());
    curl_mime_type(file, type.constData());
    setPartHeaders(file, {disposition, "Content-Transfer-Encoding: base64"});
    // A file that must be the one chosen is read afresh and checked, never taken from the cache.
    const AttachmentCache::Source source =
        expected.isValid() ? AttachmentCache::Source{path, false} : m_cache.sourceFor(path);
    if (source.base64Encoded) {
        if (curl_mime_filedata(file, QFile::encodeName(source.path).constData()) != CURLE_OK)
            return u"The attachment \"%1\" cannot be read; the message was not sent."_s.arg(path);
        curl_mime_filename(file, nullptr);
        return {};
    }
    auto reader = std::make_unique<Base64FileReader>(path);
    if (!reader->open())
        return u"The attachment \"%1\" cannot be read (%2); the message was not sent."_s.arg(path,
                                                                                             reader->errorString());
    if (expected.isValid() && reader->identity() != expected)
        return u"The attachment \"%1\" is no longer the file that was chosen (it was replaced or "
               "re-pointed meanwhile); the message was not sent."_s.arg(path);
    const curl_off_t size = reader->encodedSize();
    t.attachmentReaders.append({reader.get(), path});
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
    return {};
}

void SmtpMailer::setConnection(Transfer &t, const BuiltMessage &built, const MailServer &server, const SmtpLogin &login)
{
    // The connection: one per send, TLS as chosen, certificates always verified.
    const bool tls = server.security == MailServer::Security::Tls;
    const bool implicitTls = tls && server.port == m_options.implicitTlsPort;
    QString host = server.host.trimmed();
    if (host.contains(u':') && !host.startsWith(u'['))
        host = u'[' + host + u']';
    t.url = (implicitTls ? "smtps://" : "smtp://") + host.toUtf8() + ':' + QByteArray::number(server.port) + '/' +
            ehloDomain();
    t.sender = built.sender;
    t.user = server.user.toUtf8();
    (login.bearer ? t.bearer : t.password) = login.secret.toUtf8();
    t.caBundle = QFile::encodeName(m_options.caBundle);
    append(t.recipients, built.recipient);
    if (!built.archiveRecipient.isEmpty())
        append(t.recipients, built.archiveRecipient);

    CURL *h = t.easy;
    curl_easy_setopt(h, CURLOPT_URL, t.url.constData());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, t.curlError);
    curl_easy_setopt(h, CURLOPT_USE_SSL, long(tls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    if (!t.caBundle.isEmpty())
        curl_easy_setopt(h, CURLOPT_CAINFO, t.caBundle.constData());
    const long timeout = std::max(1, server.timeoutSeconds);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, timeout);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeout);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeout);
    if (!server.user.isEmpty() && login.bearer) {
        // libcurl would otherwise prefer OAUTHBEARER, which some providers refuse.
        curl_easy_setopt(h, CURLOPT_USERNAME, t.user.constData());
        curl_easy_setopt(h, CURLOPT_XOAUTH2_BEARER, t.bearer.constData());
        curl_easy_setopt(h, CURLOPT_LOGIN_OPTIONS, "AUTH=XOAUTH2");
    } else if (!server.user.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, t.user.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, t.password.constData());
    }
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, t.sender.constData());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, t.recipients.get());
    // The archive copy goes in the same transaction, so the client's message is sent once; its
    // refusal must not fail the client's send (see checkRecipients).
    if (!built.archiveRecipient.isEmpty())
        curl_easy_setopt(h, kMailRcptAllowFails, 1L);
    if (t.mime) {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, t.headers.get());
        curl_easy_setopt(h, CURLOPT_MIMEPOST, t.mime.get());
    } else {
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(t.whole.data.size()));
        curl_easy_setopt(h, CURLOPT_READDATA, &t.whole);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &MessageReader::read);
        curl_easy_setopt(h, CURLOPT_SEEKDATA, &t.whole);
        curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &MessageReader::seek);
    }
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &t.state);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &TransferState::openSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, &t.state);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &TransferState::closeSocket);
    // The upload's progress goes to the caller, and the abort question is asked with it.
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(
        h, CURLOPT_XFERINFOFUNCTION,
        +[](void *self, curl_off_t, curl_off_t, curl_off_t ulTotal, curl_off_t ulNow) -> int {
            auto *transfer = static_cast<Transfer *>(self);
            if (ulTotal > 0)
                transfer->reportPercent(int(std::clamp<curl_off_t>(ulNow * 100 / ulTotal, 0, 100)));
            return transfer->watch.check() ? 1 : 0;
        });
    // The server's replies tell a refusal from a lost answer (see TransferState::debug).
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &t.state);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &TransferState::debug);
}

CURLcode SmtpMailer::driveTransfer(Transfer &t, const SendCallbacks &callbacks)
{
    CURLM *multi = m_multi.get();
    if (curl_multi_add_handle(multi, t.easy) != CURLM_OK)
        return CURLE_FAILED_INIT;
    // Drive the transfer in waits of at most the check interval, so that the abort question is
    // asked on time even while the server is silent; the watch covers libcurl's own blocking waits.
    m_watch.begin(&t.state, callbacks.aborted, kPollInterval);
    int running = 1;
    auto nextCheck = std::chrono::steady_clock::now() + kPollInterval;
    while (running > 0) {
        m_watch.enterLibcurl();
        const CURLMcode code = curl_multi_perform(multi, &running);
        m_watch.leaveLibcurl();
        if (code != CURLM_OK || running == 0)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextCheck && m_watch.check()) {
            // Shut the connection down first, so that removing the transfer waits for nothing.
            t.state.abort();
            break;
        }
        if (now >= nextCheck)
            nextCheck = now + kPollInterval;
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextCheck - now).count();
        curl_multi_poll(multi, nullptr, 0, int(std::clamp<long long>(wait, 0, kPollInterval.count())), nullptr);
    }
    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (CURLMsg *done = curl_multi_info_read(multi, &queued)) {
        if (done->msg == CURLMSG_DONE && done->easy_handle == t.easy)
            result = done->data.result;
    }
    // Removing an unfinished transfer closes its connection at once, without waiting for the server.
    m_watch.enterLibcurl();
    curl_multi_remove_handle(multi, t.easy);
    m_watch.leaveLibcurl();
    t.abortSeen = m_watch.aborted();
    m_watch.end();
    return result;
}

SendResult SmtpMailer::readResult(Transfer &t, CURLcode code, const MailServer &server)
{
    SendResult result;
    result.serverReply = QString::fromUtf8(t.state.messageReply);
    // Every byte of the message went out but no answer to it came: the server may have kept it.
    // (An error reply to the message would be a refusal, and is kept in lastErrorReply.)
    curl_off_t uploaded = 0;
    curl_off_t total = -1;
    curl_easy_getinfo(t.easy, CURLINFO_SIZE_UPLOAD_T, &uploaded);
    curl_easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_UPLOAD_T, &total);
    const bool maybeDelivered = code != CURLE_OK && total > 0 && uploaded >= total && t.state.lastErrorReply.isEmpty();

    if (code == CURLE_OK) {
        // An abort that came as the server accepted the message is too late: the message was sent,
        // and saying otherwise could make the user send it twice.
        t.reportPercent(100);
        result.status = SendStatus::Sent;
        if (t.state.content)
            result.sentMessage = smtpContentUnstuffed(t.content);
    } else if (t.abortSeen) {
        result.status = maybeDelivered ? SendStatus::MaybeDelivered : SendStatus::NotSentAborted;
        result.errorText = u"The send was aborted."_s;
    } else if (const auto unread = std::find_if(t.attachmentReaders.cbegin(), t.attachmentReaders.cend(),
                                                [](const auto &reader) { return reader.first->failed(); });
               unread != t.attachmentReaders.cend()) {
        result.status = SendStatus::Refused;
        result.errorText = u"The attachment \"%1\" could not be read while sending (it changed or became unreadable); "
                           "the message was not sent."_s.arg(unread->second);
    } else {
        result.status = maybeDelivered ? SendStatus::MaybeDelivered : SendStatus::Refused;
        result.errorText = describeFailure(code, t.curlError, t.state.lastErrorReply, server);
        if (!maybeDelivered && uploaded == 0) {
            result.stopReason = serverUnusableReason(code, t.state.lastErrorReply, server);
            if (!result.stopReason.isEmpty())
                result.status = SendStatus::ServerUnusable;
        }
        // Say so where the user reads it too, so that nobody resends it without checking.
        if (maybeDelivered)
            result.errorText += u"\r\nThe whole message had been sent, but the server did not confirm it: "
                                "it may have been delivered."_s;
    }
    return result;
}

} // namespace quorvale
