#pragma once

// File-system calls that differ between systems: which file a path reaches, whether an entry is a
// symbolic link, and writing a file without ever writing through a link. A port changes this file.

#include <QByteArray>
#include <QByteArrayView>
#include <QFileDevice>
#include <QString>

namespace quorvale {

/// Which file a path reached at one moment (device, inode, and when the inode last changed, so
/// that a new file on an inode freed meanwhile differs): a file replaced, re-pointed or changed
/// afterwards has another identity.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 changed = 0; ///< nanoseconds
    bool isValid() const { return inode != 0; }
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

/// Writes all of `data` to the open file `fd`, however many writes it takes; false on an error.
bool writeAll(int fd, QByteArrayView data);

/// Writes `data` to `path` as a new file with `permissions`, replacing what was there in one
/// step: the text goes into a new file beside it, which then takes the name. A symbolic link at
/// `path` is replaced, never written through. Refuses (false with `error`) when `path` is a
/// folder or another kind of special file, or an ordinary file that belongs to another user.
bool writeFileReplacing(const QString &path, const QByteArray &data, QFileDevice::Permissions permissions,
                        QString *error);

} // namespace quorvale
