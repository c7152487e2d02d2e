#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace quorvale {

/// What a run attaches to each message: the index of the selected OptAddAttachment button.
enum class AttachmentMode
{
    None = 0,
    Common = 1,
    ClientSpecific = 2,
    Named = 3 ///< every file the client's document patterns name, by exact name
};

/// "none", "common", "client" or "named": the word the command line takes and the run journal records.
QString attachmentModeName(AttachmentMode mode);
/// The mode a word of attachmentModeName() names; empty for any other text.
std::optional<AttachmentMode> attachmentModeNamed(QStringView name);

/// True when `path` names the client list `csvPath` itself (the same file once links are
/// followed, or the same path): as an attachment it would give every client every other
/// client's address.
bool isClientListFile(const QString &path, const QString &csvPath);
/// Why the client list cannot be the common attachment, naming the file.
QString clientListAsAttachmentMessage(const QString &path);

} // namespace quorvale
