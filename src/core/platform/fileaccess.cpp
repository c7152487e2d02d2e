#include "platform/fileaccess.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

FileIdentity identityOf(const struct stat &info)
{
    if (!S_ISREG(info.st_mode))
        return {};
    return {quint64(info.st_dev), quint64(info.st_ino),
            qint64(info.st_ctim.tv_sec) * 1'000'000'000 + qint64(info.st_ctim.tv_nsec)};
}

mode_t modeOf(QFileDevice::Permissions permissions)
{
    using P = QFileDevice::Permission;
    mode_t mode = 0;
    const std::pair<P, mode_t> bits[] = {{P::ReadOwner, S_IRUSR}, {P::WriteOwner, S_IWUSR}, {P::ExeOwner, S_IXUSR},
                                         {P::ReadGroup, S_IRGRP}, {P::WriteGroup, S_IWGRP}, {P::ExeGroup, S_IXGRP},
                                         {P::ReadOther, S_IROTH}, {P::WriteOther, S_IWOTH}, {P::ExeOther, S_IXOTH}};
    for (const auto &[permission, bit] : bits) {
        if (permissions.testFlag(permission))
            mode |= bit;
    }
    return mode;
}

QString reason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool writeAll(int fd, QByteArrayView data)
{
    const char *at = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

EntryKind entryKind(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return EntryKind::Missing;
    if (S_ISLNK(info.st_mode))
        return EntryKind::Link;
    if (S_ISREG(info.st_mode))
        return EntryKind::File;
    if (S_ISDIR(info.st_mode))
        return EntryKind::Folder;
    return EntryKind::Other;
}

FileIdentity fileIdentity(const QString &path, bool followLinks)
{
    struct stat info = {};
    const QByteArray native = QFile::encodeName(path);
    if ((followLinks ? ::stat(native.constData(), &info) : ::lstat(native.constData(), &info)) != 0)
        return {};
    return identityOf(info);
}

FileIdentity openFileIdentity(int fd)
{
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return {};
    return identityOf(info);
}

bool writeFileReplacing(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions,
                        QString *error)
{
    const QByteArray target = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(target.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return fail(error, path + u" is a folder."_s);
        if (!S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode))
            return fail(error, path + u" is not an ordinary file."_s);
        // A file of another user in a shared folder is theirs: never overwrite it.
        if (S_ISREG(info.st_mode) && info.st_uid != ::geteuid())
            return fail(error, path + u" belongs to another user; it is left as it is."_s);
    } else if (errno != ENOENT) {
        return fail(error, path + u" cannot be looked at ("_s + reason(errno) + u')');
    }

    // The new content goes into a file of its own beside the target (made here, so no link can be
    // waiting under its name), which then takes the target's name: rename() replaces a link that
    // sits there instead of following it, and a reader never sees half a file.
    const QFileInfo where(path);
    QByteArray temporary =
        QFile::encodeName(where.absolutePath()) + "/." + QFile::encodeName(where.fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, u"A file cannot be created in "_s + where.absolutePath() + u" ("_s + reason(errno) + u')');
    bool written = ::fchmod(fd, modeOf(permissions)) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    const int writeError = errno;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.constData(), target.constData()) != 0) {
        const int code = written ? errno : writeError;
        ::unlink(temporary.constData());
        return fail(error, path + u" cannot be written ("_s + reason(code) + u')');
    }
    // The new name must survive a power cut too.
    const int folder = ::open(QFile::encodeName(where.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace quorvale
