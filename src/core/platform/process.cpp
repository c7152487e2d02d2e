#include "platform/process.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace quorvale::platform {

namespace {

std::atomic<void (*)(void *)> g_onSignal{nullptr};
std::atomic<void *> g_context{nullptr};
int g_pipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int)
{
    const int saved = errno;
    if (void (*callback)(void *) = g_onSignal.load())
        callback(g_context.load());
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    }
    errno = saved;
}

} // namespace

bool processExists(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

void catchTerminationSignals(void (*onSignal)(void *), void *context)
{
    if (g_pipe[0] < 0) {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            g_pipe[0] = fds[0];
            g_pipe[1] = fds[1];
        }
    }
    g_context.store(context);
    g_onSignal.store(onSignal);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int terminationSignalFd()
{
    return g_pipe[0];
}

void drainTerminationSignals()
{
    if (g_pipe[0] < 0)
        return;
    char buffer[64];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
}

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace quorvale::platform
