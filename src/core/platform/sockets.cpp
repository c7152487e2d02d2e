#include "platform/sockets.h"

#include <sys/socket.h>
#include <unistd.h>

namespace quorvale::platform {

SocketHandle openSocket(int family, int type, int protocol)
{
    const int socket = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return socket < 0 ? kNoSocket : SocketHandle(socket);
}

void shutdownSocket(SocketHandle socket)
{
    ::shutdown(int(socket), SHUT_RDWR);
}

int closeSocket(SocketHandle socket)
{
    return ::close(int(socket));
}

} // namespace quorvale::platform
