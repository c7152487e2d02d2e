#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace quorvale {

/// Encodes a common attachment once instead of for every message. The first send of a file
/// streams it as it is (libcurl encodes it on the way); when the same file (same path, size and
/// modification time) is sent again, its base64 form is written once, streamed, into a private
/// temporary folder and reused for every further message. Only one file is kept, and it is
/// removed with the cache; memory use does not grow with the file's size.
class AttachmentCache
{
public:
    struct Source
    {
        QString path;               ///< the file to stream
        bool base64Encoded = false; ///< true: `path` already holds the base64 lines (CR LF, 76 columns)
    };

    /// Where to read the attachment `path` from for this send.
    Source sourceFor(const QString &path);

    /// Writes the base64 form of `from` to `to` in lines of 76 characters; false on any error.
    static bool encodeFile(const QString &from, const QString &to);

private:
    QString keyOf(const QString &path) const;

    QString m_lastSeenKey;
    QString m_cachedKey;
    QString m_cachedPath;
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace quorvale
