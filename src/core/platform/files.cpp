#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace quorvale::platform {

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

/// Brings a folder's entries (a name just made or replaced) to the disk.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

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
    if (path.isEmpty() || (followLinks ? ::stat(native.constData(), &info) : ::lstat(native.constData(), &info)) != 0)
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

bool isSameFile(const QString &a, const QString &b)
{
    return fileIdentity(a).isSameFileAs(fileIdentity(b));
}

qint64 hardLinkCount(const QString &path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return qint64(info.st_nlink);
}

QString otherNamesProblem(const QString &path)
{
    const qint64 links = hardLinkCount(path);
    if (links <= 1)
        return {};
    const QString file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    return u"%1 has %2 other names (hard links), where its old content would stay once it is written anew. "
           "Remove them (find / -xdev -samefile %1 lists them) and try again."_s.arg(file)
               .arg(links - 1);
}

bool belongsToAnotherUser(const QString &path)
{
    struct stat info = {};
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid != ::geteuid();
}

QString othersCanChange(const QString &path, QString *fix)
{
    const QString file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const uid_t me = ::geteuid();
    const auto problem = [fix](const QString &why, const QString &mend) {
        if (fix)
            *fix = mend;
        return why;
    };
    if (info.st_uid != me && info.st_uid != 0)
        return problem(u"belongs to another user (user id %1)"_s.arg(info.st_uid),
                       u"replace %1 with a copy of your own"_s.arg(file));
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return problem(u"may be changed by other users (mode %1)"_s.arg(info.st_mode & 07777, 4, 8, QChar(u'0')),
                       u"chmod 600 "_s + file);
    // Whoever may write to the folder may put another file in its place.
    const QString folder = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
    struct stat dir = {};
    if (::stat(QFile::encodeName(folder).constData(), &dir) != 0)
        return {};
    if (dir.st_uid != me && dir.st_uid != 0)
        return problem(u"is in the folder %1, which belongs to another user (user id %2)"_s.arg(folder).arg(dir.st_uid),
                       u"keep it in a folder of your own"_s);
    if ((dir.st_mode & (S_IWGRP | S_IWOTH)) && !(dir.st_mode & S_ISVTX))
        return problem(u"is in the folder %1, which other users may change (mode %2)"_s.arg(folder).arg(
                           dir.st_mode & 07777, 4, 8, QChar(u'0')),
                       u"chmod go-w "_s + folder);
    return {};
}

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
            return fail(
                error, u"The folder %1 cannot be created (%2)."_s.arg(QDir::toNativeSeparators(folder), reason(errno)));
        }
    }
    if (!QFileInfo(clean).isDir())
        return fail(error, u"%1 is not a folder."_s.arg(QDir::toNativeSeparators(clean)));
    return true;
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
    syncFolder(where.absolutePath());
    return true;
}

bool createFileWhole(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions, QString *error,
                     bool *exists)
{
    if (exists)
        *exists = false;
    const QFileInfo where(path);
    const QByteArray target = QFile::encodeName(path);
    // Written whole under a hidden name of its own first, then given the name with link(), which
    // never replaces what is there: no reader ever sees a half-written file.
    QByteArray temporary =
        QFile::encodeName(where.absolutePath()) + "/." + QFile::encodeName(where.fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, reason(errno));
    bool written = ::fchmod(fd, modeOf(permissions)) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
    int code = errno;
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(temporary.constData());
        return fail(error, reason(code));
    }
    if (::link(temporary.constData(), target.constData()) == 0) {
        ::unlink(temporary.constData());
        syncFolder(where.absolutePath());
        return true;
    }
    code = errno;
    ::unlink(temporary.constData());
    if (code != EPERM && code != ENOTSUP && code != ENOSYS) {
        if (exists)
            *exists = code == EEXIST;
        return fail(error, reason(code));
    }
    // A file system without hard links (a FAT stick, some network shares): create the name
    // exclusively and fill it, which a reader may see half-written for a moment.
    const int direct = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (direct < 0) {
        if (exists)
            *exists = errno == EEXIST;
        return fail(error, reason(errno));
    }
    written = ::fchmod(direct, modeOf(permissions)) == 0 && writeAll(direct, data) && ::fsync(direct) == 0;
    code = errno;
    written = ::close(direct) == 0 && written;
    if (!written) {
        ::unlink(target.constData());
        return fail(error, reason(code));
    }
    syncFolder(where.absolutePath());
    return true;
}

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::createNew(const QString &path, QString *error, bool *exists)
{
    if (exists)
        *exists = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (exists)
            *exists = errno == EEXIST;
        fail(error, reason(errno));
        return nullptr;
    }
    // The new name must survive a power cut too.
    syncFolder(QFileInfo(path).absolutePath());
    return std::unique_ptr<AppendOnlyFile>(new AppendOnlyFile(fd));
}

std::unique_ptr<AppendOnlyFile> AppendOnlyFile::openOwn(const QString &path, qint64 *size, QString *error)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail(error, reason(errno));
        return nullptr;
    }
    std::unique_ptr<AppendOnlyFile> file(new AppendOnlyFile(fd));
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        fail(error, reason(errno));
        return nullptr;
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_nlink != 1) {
        fail(error, u"it is not an ordinary file of this account with one name"_s);
        return nullptr;
    }
    // Back to the last line end: what follows it is a line a kill cut short.
    qint64 end = info.st_size;
    char block[4096];
    while (end > 0) {
        const qint64 from = std::max<qint64>(0, end - qint64(sizeof block));
        const ssize_t got = ::pread(fd, block, size_t(end - from), from);
        if (got != end - from) {
            fail(error, reason(got < 0 ? errno : EIO));
            return nullptr;
        }
        const void *newline = ::memrchr(block, '\n', size_t(got));
        if (newline) {
            end = from + (static_cast<const char *>(newline) - block) + 1;
            break;
        }
        end = from;
    }
    if (end != info.st_size && ::ftruncate(fd, end) != 0) {
        fail(error, reason(errno));
        return nullptr;
    }
    if (info.st_size == 0)
        syncFolder(QFileInfo(path).absolutePath());
    *size = end;
    return file;
}

AppendOnlyFile::~AppendOnlyFile()
{
    ::fdatasync(m_fd);
    ::close(m_fd);
}

bool AppendOnlyFile::append(QByteArrayView data, QString *error)
{
    return writeAll(m_fd, data) || fail(error, reason(errno));
}

bool AppendOnlyFile::syncData(QString *error)
{
    return ::fdatasync(m_fd) == 0 || fail(error, reason(errno));
}

} // namespace quorvale::platform
