#include "mail/attachmentcache.h"

#include "platform/files.h"
#include "platform/process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {
constexpr qsizetype kLineBytes = 57; // 76 base64 characters
constexpr qsizetype kChunk = kLineBytes * 1024;
} // namespace

Base64FileReader::Base64FileReader(const QString &path) : m_file(path) {}

bool Base64FileReader::open()
{
    if (!m_file.open(QIODevice::ReadOnly))
        return false;
    m_rawSize = m_file.size();
    return true;
}

qint64 Base64FileReader::encodedSize() const
{
    const qint64 characters = (m_rawSize + 2) / 3 * 4;
    const qint64 lines = (characters + 75) / 76;
    return characters + (lines > 0 ? (lines - 1) * 2 : 0);
}

qint64 Base64FileReader::read(char *buffer, qint64 size)
{
    if (m_pendingPos == m_pending.size()) {
        if (m_rawRead == m_rawSize)
            return 0;
        const QByteArray raw = m_file.read(qMin<qint64>(kChunk, m_rawSize - m_rawRead));
        // A short read means the file shrank or failed: never send a cut-off attachment.
        if (raw.size() != qMin<qint64>(kChunk, m_rawSize - m_rawRead)) {
            m_failed = true;
            return -1;
        }
        m_rawRead += raw.size();
        // A file that grew meanwhile is being rewritten: sending its first part would be wrong too.
        if (m_rawRead == m_rawSize && m_file.size() != m_rawSize) {
            m_failed = true;
            return -1;
        }
        m_pending.clear();
        m_pendingPos = 0;
        appendLines(m_pending, raw, m_firstLine);
    }
    const qint64 n = qMin<qint64>(size, m_pending.size() - m_pendingPos);
    memcpy(buffer, m_pending.constData() + m_pendingPos, size_t(n));
    m_pendingPos += n;
    return n;
}

bool Base64FileReader::rewind()
{
    m_rawRead = 0;
    m_pending.clear();
    m_pendingPos = 0;
    m_firstLine = true;
    m_failed = false;
    return m_file.seek(0);
}

void Base64FileReader::appendLines(QByteArray &out, const QByteArray &raw, bool &firstLine)
{
    const QByteArray encoded = raw.toBase64();
    out.reserve(out.size() + encoded.size() + encoded.size() / 38 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76) {
        if (!firstLine)
            out += "\r\n";
        firstLine = false;
        out.append(encoded.constData() + i, qMin<qsizetype>(76, encoded.size() - i));
    }
}

QString AttachmentCache::keyOf(const QString &path) const
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    return info.absoluteFilePath() + u'\n' + QString::number(info.size()) + u'\n' +
           QString::number(info.lastModified().toMSecsSinceEpoch()) + u'\n' +
           QString::number(info.metadataChangeTime().toMSecsSinceEpoch());
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
    if (!m_dir) {
        // Without a data folder every send streams the file itself.
        if (m_dataFolder.isEmpty())
            return {path, false};
        const QString root = cacheRoot(m_dataFolder);
        if (!platform::makePrivateFolder(root))
            return {path, false};
        m_dir = std::make_unique<QTemporaryDir>(
            QDir(root).filePath(QString::number(QCoreApplication::applicationPid()) + u"-XXXXXX"_s));
    }
    if (!m_dir->isValid())
        return {path, false};
    const QString encoded = m_dir->filePath(u"attachment.b64"_s);
    m_cachedKey.clear();
    if (!encodeFile(path, encoded) || keyOf(path) != key) {
        QFile::remove(encoded);
        return {path, false};
    }
    m_cachedKey = key;
    m_cachedPath = encoded;
    return {encoded, true};
}

void AttachmentCache::setDataFolder(const QString &folder)
{
    if (folder == m_dataFolder)
        return;
    m_dataFolder = folder;
    m_dir.reset();
    m_cachedKey.clear();
    m_cachedPath.clear();
}

QString AttachmentCache::cacheRoot(const QString &dataFolder)
{
    return QDir(dataFolder).filePath(u"attachments"_s);
}

void AttachmentCache::removeLeftovers(const QString &dataFolder)
{
    const QDir root(cacheRoot(dataFolder));
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Hidden)) {
        bool ok = false;
        const qint64 pid = name.section(u'-', 0, 0).toLongLong(&ok);
        if (ok && pid != self && !platform::processExists(pid))
            QDir(root.filePath(name)).removeRecursively();
    }
}

bool AttachmentCache::encodeFile(const QString &from, const QString &to)
{
    Base64FileReader in(from);
    QSaveFile out(to);
    if (!in.open() || !out.open(QIODevice::WriteOnly))
        return false;
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = in.read(buffer.data(), buffer.size())) > 0) {
        if (out.write(buffer.constData(), n) != n)
            return false;
    }
    return n == 0 && out.commit();
}

} // namespace quorvale
