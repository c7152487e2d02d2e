#pragma once

// A socket on 127.0.0.1 that listens and never reads or writes: the kernel completes a
// connection to it, and then nothing ever happens. Tests use it as a server that never answers,
// and as a trap on a port nothing should connect to.

#include <QtGlobal>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvale::test {

class SilentListener
{
public:
    /// Listens on `port`, or on a free port when it is 0; port() is 0 when that failed (a port
    /// below 1024 needs root, and another program may hold it).
    explicit SilentListener(quint16 port = 0)
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        socklen_t length = sizeof address;
        if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(m_socket, 4) != 0 || ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~SilentListener()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    quint16 port() const { return m_port; }
    /// True when a connection has arrived since the last call (it is taken and closed).
    bool wasConnected()
    {
        const int connection = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            return false;
        ::close(connection);
        return true;
    }

private:
    int m_socket = -1;
    quint16 m_port = 0;
};

} // namespace quorvale::test
