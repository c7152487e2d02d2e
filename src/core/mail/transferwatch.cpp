#include "mail/transferwatch.h"

#include "platform/sockets.h"

#include <algorithm>

namespace quorvale {

namespace {

/// The stage a command sent opens; lines that open none (the login's answers to its challenges)
/// stay in the stage they belong to.
SmtpStage stageOf(const char *data, size_t size, SmtpStage current)
{
    const auto starts = [data, size](const char *verb) {
        const size_t length = qstrlen(verb);
        return size >= length && qstrnicmp(data, verb, uint(length)) == 0;
    };
    if (starts("EHLO") || starts("HELO"))
        return SmtpStage::Hello;
    if (starts("STARTTLS"))
        return SmtpStage::StartTls;
    if (starts("AUTH "))
        return SmtpStage::Login;
    if (starts("MAIL FROM:"))
        return SmtpStage::MailFrom;
    if (starts("RCPT TO:"))
        return SmtpStage::RcptTo;
    if (starts("DATA"))
        return SmtpStage::Data;
    if (starts("QUIT"))
        return SmtpStage::AfterMessage;
    return current;
}

} // namespace

void TransferState::abort()
{
    std::lock_guard lock(m_mutex);
    m_aborted = true;
    for (curl_socket_t socket : m_sockets)
        platform::shutdownSocket(socket);
}

curl_socket_t TransferState::openSocket(void *self, curlsocktype, curl_sockaddr *address)
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

int TransferState::closeSocket(void *self, curl_socket_t socket)
{
    auto *state = static_cast<TransferState *>(self);
    std::lock_guard lock(state->m_mutex);
    std::erase(state->m_sockets, socket);
    return platform::closeSocket(socket);
}

int TransferState::debug(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    auto *state = static_cast<TransferState *>(self);
    // Of what we send (the login among it) only whether a command names a recipient is looked at,
    // so that each recipient's reply is known; the server's replies give the error text.
    if (type == CURLINFO_DATA_OUT && state->content) {
        state->content->append(data, qsizetype(size));
        return 0;
    }
    if (type == CURLINFO_HEADER_OUT) {
        state->m_recipientAsked = size >= 8 && qstrnicmp(data, "RCPT TO:", 8) == 0;
        state->m_stage = stageOf(data, size, state->m_stage);
        return 0;
    }
    if (type != CURLINFO_HEADER_IN || size < 3)
        return 0;
    const QByteArray reply = QByteArray(data, qsizetype(size)).trimmed();
    if (state->m_contentSent && state->messageReply.isEmpty())
        state->messageReply = reply;
    if (reply.startsWith("354"))
        state->m_contentSent = true;
    if (data[0] == '4' || data[0] == '5') {
        state->lastErrorReply = reply;
        state->errorStage = state->m_stage;
    }
    // A reply's last line has no '-' after its code.
    if (state->m_recipientAsked && (size == 3 || data[3] != '-')) {
        state->recipientReplies.append(reply);
        state->m_recipientAsked = false;
    }
    return 0;
}

TransferWatch::~TransferWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TransferWatch::begin(TransferState *state, AbortPredicate aborted, std::chrono::milliseconds interval)
{
    {
        std::lock_guard checkLock(m_checkMutex);
        m_state = state;
        m_aborted = std::move(aborted);
        m_abortSeen = false;
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

void TransferWatch::end()
{
    {
        std::lock_guard lock(m_mutex);
        m_active = false;
    }
    std::lock_guard checkLock(m_checkMutex);
    m_state = nullptr;
    m_aborted = nullptr;
}

bool TransferWatch::check()
{
    std::lock_guard checkLock(m_checkMutex);
    if (!m_abortSeen && m_aborted && m_aborted())
        m_abortSeen = true;
    return m_abortSeen;
}

bool TransferWatch::aborted()
{
    std::lock_guard checkLock(m_checkMutex);
    return m_abortSeen;
}

void TransferWatch::run()
{
    std::unique_lock lock(m_mutex);
    auto idleSince = std::chrono::steady_clock::now();
    while (!m_stop) {
        // Idle for a second: sleep until the next send instead of waking every few milliseconds.
        if (!m_active && std::chrono::steady_clock::now() - idleSince > std::chrono::seconds(1)) {
            m_parked = true;
            m_wake.wait(lock, [this] { return m_stop || m_active; });
            m_parked = false;
            continue;
        }
        const auto interval = m_interval;
        m_wake.wait_for(lock, std::max<std::chrono::milliseconds>(interval / 2, std::chrono::milliseconds(5)));
        if (!m_active)
            continue;
        idleSince = std::chrono::steady_clock::now();
        const auto since = m_insideSince.load();
        if (since == 0 || idleSince.time_since_epoch().count() - since <
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval).count())
            continue;
        lock.unlock();
        {
            std::lock_guard checkLock(m_checkMutex);
            if (m_aborted && !m_abortSeen && m_insideSince.load() != 0 && m_aborted()) {
                m_abortSeen = true;
                m_state->abort();
            }
        }
        lock.lock();
    }
}

} // namespace quorvale
