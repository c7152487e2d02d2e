#include "clients/programfiles.h"

#include "clients/attachmentmode.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

QString realFolder(const QString &folder)
{
    const QString real = QFileInfo(folder).canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(folder) : real;
}

} // namespace

void ProgramFiles::addFile(const QString &path, const QString &what)
{
    if (!path.isEmpty())
        m_entries.append({QFileInfo(path).absoluteFilePath(), what, false, platform::fileIdentity(path)});
}

void ProgramFiles::addFolder(const QString &folder, const QString &what)
{
    if (!folder.isEmpty())
        m_entries.append({QDir(folder).absolutePath(), what, true, {}});
}

bool ProgramFiles::wasAdded(const platform::FileIdentity &file) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [&file](const Entry &entry) { return file.isSameFileAs(entry.added); });
}

QStringList ProgramFiles::folders() const
{
    QStringList out;
    for (const Entry &entry : m_entries) {
        const QString folder = realFolder(entry.folder ? entry.path : QFileInfo(entry.path).absolutePath());
        if (!out.contains(folder))
            out.append(folder);
    }
    return out;
}

QString ProgramFiles::which(const QString &path) const
{
    if (path.isEmpty() || m_entries.isEmpty())
        return {};
    const QFileInfo info(path);
    const QString absolute = info.absoluteFilePath();
    const QString folder = realFolder(info.absolutePath());
    const QString real = info.canonicalFilePath();
    const platform::FileIdentity identity = platform::fileIdentity(path);
    const auto named = [](const Entry &entry, const QString &file) -> QString {
        return entry.what + u' ' + QDir::toNativeSeparators(file);
    };
    // Only a file with more than one name can be one of them under a name of another folder.
    const bool hardLinked = platform::hardLinkCount(path) > 1;
    for (const Entry &entry : m_entries) {
        if (entry.folder) {
            const QString own = realFolder(entry.path);
            if (folder == own || (!real.isEmpty() && QFileInfo(real).absolutePath() == own))
                return named(entry, absolute);
            if (!hardLinked)
                continue;
            const QFileInfoList files = QDir(entry.path).entryInfoList(QDir::Files | QDir::Hidden);
            for (const QFileInfo &file : files) {
                if (platform::fileIdentity(file.filePath(), false).isSameFileAs(identity))
                    return named(entry, file.filePath());
            }
            continue;
        }
        if (absolute == entry.path || (!real.isEmpty() && real == QFileInfo(entry.path).canonicalFilePath()) ||
            identity.isSameFileAs(platform::fileIdentity(entry.path)) || identity.isSameFileAs(entry.added))
            return named(entry, entry.path);
    }
    return {};
}

QString programFileAttachmentProblem(const QString &path, const QString &csvPath, const ProgramFiles &own)
{
    if (isClientListFile(path, csvPath))
        return clientListAsAttachmentMessage(path);
    ProgramFiles all = own;
    all.addFile(csvPath, u"the client list"_s);
    const QString which = all.which(path);
    if (which.isEmpty())
        return {};
    // A hard link to the client list is found here, by the file it is.
    if (which.startsWith(u"the client list"_s))
        return clientListAsAttachmentMessage(path);
    return u"The common attachment is %1, a file of the program's own that is never sent. Select a different "
           "file. File name= %2"_s.arg(which, path);
}

} // namespace quorvale
