#pragma once

// The program's own files, which no name, link or hard link in a client's folder may turn into a
// document or an attachment, and which no saved table may overwrite.

#include "platform/files.h"

#include <QList>
#include <QString>

namespace quorvale {

/// The files of the program itself: the client list, the settings, the body file, the run journals,
/// the sign-in's token file and the run lock. Looked up afresh on every question, so that a file
/// made after this set was built (a new journal) counts too; and each file also as it was when it
/// was added, so that a hard link to a file that was replaced since (the settings saved anew by a
/// run) still counts as that file.
class ProgramFiles
{
public:
    /// Adds one file (it need not exist yet); `what` names it in messages ("the settings file").
    void addFile(const QString &path, const QString &what);
    /// Adds every file in `folder` (the run journals), those made later included.
    void addFolder(const QString &folder, const QString &what);
    bool isEmpty() const { return m_entries.isEmpty(); }

    /// Which of these files `path` reaches: the same path, or the same file (device and inode)
    /// through a symbolic or a hard link, as "the settings file /home/anna/.config/Quorvale/Quorvale.ini".
    /// Empty when it reaches none of them.
    QString which(const QString &path) const;
    /// True when `file` is one of these files as it was when it was added (no look at the disk).
    bool wasAdded(const platform::FileIdentity &file) const;
    /// The real paths of the folders that hold these files: a file elsewhere can only be one of
    /// them through a hard link.
    QStringList folders() const;

private:
    struct Entry
    {
        QString path; ///< absolute
        QString what;
        bool folder = false;
        platform::FileIdentity added; ///< the file as it was when added
    };
    QList<Entry> m_entries;
};

/// Why `path` cannot be the common attachment: it is the client list `csvPath` or another of the
/// program's own files `own` (the message names the file). Empty when it may be attached.
QString programFileAttachmentProblem(const QString &path, const QString &csvPath, const ProgramFiles &own);

} // namespace quorvale
