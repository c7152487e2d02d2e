#include "platform/process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

#include <fcntl.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace quorvale::platform {

namespace {

std::atomic<void (*)(void *)> g_onSignal{nullptr};
std::atomic<void *> g_context{nullptr};
int g_pipe[2] = {-1, -1};
constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> g_caught[std::size(kTerminationSignals)]; ///< of each kind, since the last catch call
std::atomic<int> g_catches{1};                             ///< of each kind before the usual way

extern "C" void onTerminationSignal(int signal)
{
    const int saved = errno;
    for (std::size_t i = 0; i < std::size(kTerminationSignals); ++i) {
        // The last one caught hands the next one of its kind back to the system (sigaction is
        // safe in a handler).
        if (kTerminationSignals[i] == signal && g_caught[i].fetch_add(1) + 1 >= g_catches.load()) {
            struct sigaction usual = {};
            usual.sa_handler = SIG_DFL;
            sigemptyset(&usual.sa_mask);
            ::sigaction(signal, &usual, nullptr);
        }
    }
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

QString accountName()
{
    const uid_t uid = ::geteuid();
    struct passwd entry = {};
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

void catchTerminationSignals(void (*onSignal)(void *), void *context, int catches)
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
    g_catches.store(std::max(catches, 1));
    for (std::atomic<int> &caught : g_caught)
        caught.store(0);
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kTerminationSignals)
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

void preventCoreDumps()
{
    // Not dumpable: no core file, and /proc/PID/mem and ptrace closed to the user's other
    // processes. A core size limit of 0 covers a handler that ignores the flag.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const struct rlimit none = {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace quorvale::platform
