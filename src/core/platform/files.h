#pragma once

// File-system calls that differ between systems: which file a path reaches, what an entry is,
// private folders, and files written so that no link is ever written through and what was
// written survives a crash. A port to another system changes this file and its .cpp.

#include <QByteArray>
#include <QByteArrayView>
#include <QFileDevice>
#include <QString>

#include <memory>

namespace quorvale::platform {

/// Which file a path reached at one moment (device, inode, and when the inode last changed, so
/// that a new file on an inode freed meanwhile differs): a file replaced, re-pointed or changed
/// afterwards has another identity.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 changed = 0; ///< nanoseconds
    bool isValid() const { return inode != 0; }
    /// The same file, changed since or not.
    bool isSameFileAs(const FileIdentity &other) const
    {
        return isValid() && device == other.device && inode == other.inode;
    }
    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
};

/// What a folder entry is, looked at without following a symbolic link.
enum class EntryKind
{
    Missing,
    File, ///< an ordinary file
    Link, ///< a symbolic link
    Folder,
    Other ///< a device, pipe or socket
};

EntryKind entryKind(const QString &path);

/// The identity of the ordinary file at `path`, following a symbolic link there or not; invalid
/// when `path` reaches nothing or something other than an ordinary file (with `followLinks`
/// false, also when it is a link).
FileIdentity fileIdentity(const QString &path, bool followLinks = true);

/// The identity of the ordinary file open as `fd`; invalid for anything else.
FileIdentity openFileIdentity(int fd);

/// True when `a` and `b` reach the same ordinary file once links are followed. False when either
/// reaches none.
bool isSameFile(const QString &a, const QString &b);

/// How many names (hard links) the ordinary file at `path` has, following a symbolic link there;
/// 0 when `path` reaches no ordinary file.
qint64 hardLinkCount(const QString &path);

/// Why the program's own file at `path` must not be written anew: it has other names too (hard
/// links), under which the old content (a password, a token) would stay once the file is replaced.
/// Empty when it has one name or none.
QString otherNamesProblem(const QString &path);

/// True when the file at `path` (following links) belongs to another user than the one the program
/// runs as.
bool belongsToAnotherUser(const QString &path);

/// Why others than the user could change what the file at `path` says (following links): it or
/// its folder belongs to another user (root aside), or its group or other users may write to it
/// (a folder with the sticky bit aside). `fix` gets the command that mends it ("chmod 600 FILE").
/// Empty when nothing is wrong, also when there is no file.
QString othersCanChange(const QString &path, QString *fix = nullptr);

/// Creates `path` and every missing folder above it, each readable by its owner only (0700)
/// whatever the umask. Folders that exist are left as they are. False with `error` when a
/// folder cannot be made (or a file is in the way).
bool makePrivateFolder(const QString &path, QString *error = nullptr);

/// Writes `data` to `path` as a new file with `permissions`, replacing what was there in one
/// step: the text goes into a new file beside it, which then takes the name. A symbolic link at
/// `path` is replaced, never written through. Refuses (false with `error`) when `path` is a
/// folder or another kind of special file, or an ordinary file that belongs to another user.
bool writeFileReplacing(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions,
                        QString *error);

/// Creates `path` holding `data`, with exactly `permissions` whatever the umask, in one step: a
/// reader sees no file or the whole of it. Fails (false with `error`, and `exists` set) when
/// anything is at `path` already, a symbolic link included.
bool createFileWhole(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions, QString *error,
                     bool *exists = nullptr);

/// A new file, readable by its owner only, that only grows and whose lines reach the disk when
/// synced, so that it tells the truth up to its last synced write even after a kill or a power cut.
class AppendOnlyFile
{
public:
    /// Creates `path`, which must not exist (nor be a link): null with `error`, and `exists` set
    /// when something was there already. The new name is on the disk before this returns.
    static std::unique_ptr<AppendOnlyFile> createNew(const QString &path, QString *error, bool *exists = nullptr);
    /// Opens the program's own file `path` to write at its end, made readable by everyone (0644)
    /// when missing. Refuses a link, anything but an ordinary file, a file of another user and one
    /// with other names (hard links). A last line left unfinished (no line end after it, as a kill
    /// leaves it) is cut off; `size` gets the size that is left.
    static std::unique_ptr<AppendOnlyFile> openOwn(const QString &path, qint64 *size, QString *error);
    /// Brings what was written to the disk and closes the file.
    ~AppendOnlyFile();
    AppendOnlyFile(const AppendOnlyFile &) = delete;
    AppendOnlyFile &operator=(const AppendOnlyFile &) = delete;

    /// Writes all of `data` at the end; false with `error` (the system's reason) when it cannot.
    bool append(QByteArrayView data, QString *error);
    /// Brings the data written so far to the disk (fdatasync); false with `error` when that fails.
    bool syncData(QString *error);

private:
    explicit AppendOnlyFile(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace quorvale::platform
