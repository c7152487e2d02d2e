#pragma once

// What watches a transfer from outside the sending thread: its connection, which another thread
// may shut down, and the watch that asks the abort question while libcurl holds the sending
// thread in a blocking wait.

#include "mail/mailer.h"
#include "mail/replytable.h"

#include <curl/curl.h>

#include <QByteArray>
#include <QList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvale {

/// The sockets of the send in progress and the server's replies that tell how it ended. Its
/// abort() may be called from another thread: it shuts the connection down, which ends even a
/// blocking wait.
class TransferState
{
public:
    QByteArray lastErrorReply; ///< the server's last error reply
    SmtpStage errorStage = SmtpStage::Greeting; ///< the stage lastErrorReply answered
    QByteArray messageReply;   ///< the server's reply to the message content (after its 354)
    QList<QByteArray> recipientReplies; ///< the server's reply to each RCPT TO, in order
    /// When set, gets the message content as it went out (dot-stuffed, as on the wire).
    QByteArray *content = nullptr;

    void abort();

    /// libcurl's CURLOPT_OPENSOCKETFUNCTION, CURLOPT_CLOSESOCKETFUNCTION and CURLOPT_DEBUGFUNCTION.
    static curl_socket_t openSocket(void *self, curlsocktype, curl_sockaddr *address);
    static int closeSocket(void *self, curl_socket_t socket);
    static int debug(CURL *, curl_infotype type, char *data, size_t size, void *self);

private:
    std::mutex m_mutex; ///< guards m_aborted and m_sockets
    bool m_aborted = false;
    bool m_contentSent = false; ///< the server asked for the message content (354)
    bool m_recipientAsked = false; ///< a RCPT TO went out and its reply has not come yet
    SmtpStage m_stage = SmtpStage::Greeting; ///< the stage of the last command sent
    std::vector<curl_socket_t> m_sockets;
};

/// libcurl waits for some SMTP replies (the one after the message content, the one to QUIT) in
/// blocking calls, during which the sending thread cannot ask whether to abort. This watch, one
/// thread per mailer, asks in its place whenever the sending thread has been inside libcurl for
/// longer than the check interval, and on an abort shuts the connection down. Both threads ask
/// under one lock, so the question is never asked twice at once.
class TransferWatch
{
public:
    ~TransferWatch();

    /// A send starts: `aborted` is its abort question, `state` its connection.
    void begin(TransferState *state, AbortPredicate aborted, std::chrono::milliseconds interval);
    /// The send is over; the question and the state are not touched after this returns.
    void end();

    void enterLibcurl() { m_insideSince.store(std::chrono::steady_clock::now().time_since_epoch().count()); }
    void leaveLibcurl() { m_insideSince.store(0); }

    /// Asks the abort question, from the sending thread. True also when the watch saw an abort.
    bool check();
    /// True once either thread saw an abort.
    bool aborted();

private:
    void run();

    std::thread m_thread;
    std::mutex m_mutex; ///< guards the fields below up to m_parked
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_active = false;
    bool m_parked = false;
    std::chrono::milliseconds m_interval{100};
    std::atomic<std::chrono::steady_clock::rep> m_insideSince{0};
    std::mutex m_checkMutex; ///< guards the fields below
    TransferState *m_state = nullptr;
    AbortPredicate m_aborted;
    bool m_abortSeen = false;
};

} // namespace quorvale
