#pragma once

#include "platform/files.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace quorvale {

/// Streams a file as base64 lines (76 characters, CR LF between lines) in fixed-size chunks, so
/// that memory use does not depend on the file's size. Much faster than libcurl's own encoder.
class Base64FileReader
{
public:
    explicit Base64FileReader(const QString &path);
    bool open();
    QString errorString() const { return m_file.errorString(); }
    /// The file that was opened.
    platform::FileIdentity identity() const { return platform::openFileIdentity(m_file.handle()); }
    /// The exact length of the encoded stream, known before reading.
    qint64 encodedSize() const;
    /// Copies up to `size` bytes of the stream into `buffer`; 0 at the end, -1 on a read error
    /// (including a file that became shorter than it was when opened).
    qint64 read(char *buffer, qint64 size);
    /// True once a read failed.
    bool failed() const { return m_failed; }
    /// Starts the stream again from its beginning.
    bool rewind();

    /// Appends the base64 lines of `raw` (a multiple of 57 bytes, except at the end) to `out`.
    static void appendLines(QByteArray &out, const QByteArray &raw, bool &firstLine);

private:
    QFile m_file;
    qint64 m_rawSize = 0;
    qint64 m_rawRead = 0;
    QByteArray m_pending;
    qsizetype m_pendingPos = 0;
    bool m_firstLine = true;
    bool m_failed = false;
};

/// Encodes a common attachment once instead of for every message. The first send of a file
/// streams it as it is (encoding it on the way); when the same file (same path, size and
/// modification time) is sent again, its base64 form is written once, streamed, into a private
/// folder and reused for every further message. Only one file is kept, and it is removed with
/// the cache; memory use does not grow with the file's size.
///
/// The folder is "attachments/PID-XXXXXX" in the data folder (0700, the file 0600), named after
/// the process that owns it, so that a copy left by a crash is found and removed at the next start
/// (removeLeftovers).
class AttachmentCache
{
public:
    struct Source
    {
        QString path;               ///< the file to stream
        bool base64Encoded = false; ///< true: `path` already holds the base64 lines (CR LF, 76 columns)
    };

    /// The data folder to keep the encoded copy in; empty: none is kept, every send encodes the file.
    void setDataFolder(const QString &folder);
    /// Where to read the attachment `path` from for this send.
    Source sourceFor(const QString &path);

    /// Writes the base64 form of `from` to `to` in lines of 76 characters; false on any error.
    static bool encodeFile(const QString &from, const QString &to);
    /// The folder that holds the encoded copies of every process using `dataFolder`.
    static QString cacheRoot(const QString &dataFolder);
    /// Removes the encoded copies that processes no longer running left in `dataFolder`.
    static void removeLeftovers(const QString &dataFolder);

private:
    QString keyOf(const QString &path) const;

    QString m_dataFolder;
    QString m_lastSeenKey;
    QString m_cachedKey;
    QString m_cachedPath;
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace quorvale
