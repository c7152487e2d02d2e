#pragma once

// The sockets of a mail transfer, opened and closed here so that another thread may shut them
// down. A port to another system changes this file and its .cpp.

#include <QtGlobal>

namespace quorvale::platform {

/// A socket handle as the system gives it; kNoSocket when there is none.
using SocketHandle = qintptr;
inline constexpr SocketHandle kNoSocket = -1;

/// A new socket (not inherited by child processes); kNoSocket when it cannot be made.
SocketHandle openSocket(int family, int type, int protocol);
/// Ends both directions of the connection at once, which also ends any blocking wait on it.
void shutdownSocket(SocketHandle socket);
/// Closes the socket; 0 on success.
int closeSocket(SocketHandle socket);

} // namespace quorvale::platform
