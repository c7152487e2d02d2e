#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace quorvale::platform {

namespace {

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

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

bool makePrivateFolder(const QString &path, QString *error)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    for (QString at = clean; !QFileInfo::exists(at); at = QFileInfo(at).path()) {
        missing.prepend(at);
        if (QFileInfo(at).path() == at)
            break;
    }
    for (const QString &folder : std::as_const(missing)) {
        const QByteArray name = QFile::encodeName(folder);
        if (::mkdir(name.constData(), 0700) == 0) {
            // The umask may only take bits away; chmod puts back exactly 0700 on what was made here.
            ::chmod(name.constData(), 0700);
        } else if (errno != EEXIST) {
            setError(error, u"The folder %1 cannot be created (%2)."_s.arg(
                                QDir::toNativeSeparators(folder), QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
    }
    if (!QFileInfo(clean).isDir()) {
        setError(error, u"%1 is not a folder."_s.arg(QDir::toNativeSeparators(clean)));
        return false;
    }
    return true;
}

bool isSameFile(const QString &a, const QString &b)
{
    struct stat first = {};
    struct stat second = {};
    if (a.isEmpty() || b.isEmpty() || ::stat(QFile::encodeName(a).constData(), &first) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

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

} // namespace quorvale::platform
