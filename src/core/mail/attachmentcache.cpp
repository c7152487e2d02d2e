#include "mail/attachmentcache.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quorvale {

QString AttachmentCache::keyOf(const QString &path) const
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return info.absoluteFilePath() + u'\n' + QString::number(info.size()) + u'\n'
           + QString::number(info.lastModified().toMSecsSinceEpoch()) + u'\n'
           + QString::number(info.metadataChangeTime().toMSecsSinceEpoch());
}

AttachmentCache::Source AttachmentCache::sourceFor(const QString &path)
{
    const QString key = keyOf(path);
    if (key.isEmpty())
        return {path, false};
    if (key == m_cachedKey && QFileInfo::exists(m_cachedPath))
        return {m_cachedPath, true};
    if (key != m_lastSeenKey) {
        m_lastSeenKey = key;
        return {path, false};
    }
    // The second send of the same file: encode it once for this and every further send.
    if (!m_dir)
        m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return {path, false};
    const QString encoded = m_dir->filePath(QStringLiteral("attachment.b64"));
    m_cachedKey.clear();
    if (!encodeFile(path, encoded) || keyOf(path) != key) {
        QFile::remove(encoded);
        return {path, false};
    }
    m_cachedKey = key;
    m_cachedPath = encoded;
    return {encoded, true};
}

bool AttachmentCache::encodeFile(const QString &from, const QString &to)
{
    QFile in(from);
    QSaveFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        return false;
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    constexpr qsizetype kLineBytes = 57; // 76 base64 characters
    constexpr qsizetype kChunk = kLineBytes * 1024;
    QByteArray lines;
    bool first = true;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kChunk);
        // Padding may only end the last chunk.
        if (chunk.isEmpty() || (chunk.size() % kLineBytes != 0 && !in.atEnd()))
            return false;
        const QByteArray encoded = chunk.toBase64();
        lines.clear();
        lines.reserve(encoded.size() + encoded.size() / 38 + 2);
        for (qsizetype i = 0; i < encoded.size(); i += 76) {
            if (!first)
                lines += "\r\n";
            first = false;
            lines.append(encoded.constData() + i, qMin<qsizetype>(76, encoded.size() - i));
        }
        if (out.write(lines) != lines.size())
            return false;
    }
    return in.error() == QFileDevice::NoError && out.commit();
}

} // namespace quorvale
