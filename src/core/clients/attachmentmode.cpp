#include "clients/attachmentmode.h"

#include "platform/files.h"
#include "text/wordtable.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr WordTable<AttachmentMode, 4> kNames{{
    {AttachmentMode::None, "none"_L1},
    {AttachmentMode::Common, "common"_L1},
    {AttachmentMode::ClientSpecific, "client"_L1},
    {AttachmentMode::Named, "named"_L1},
}};

} // namespace

QString attachmentModeName(AttachmentMode mode)
{
    return wordOf(kNames, mode);
}

std::optional<AttachmentMode> attachmentModeNamed(QStringView name)
{
    return valueOf(kNames, name);
}

bool isClientListFile(const QString &path, const QString &csvPath)
{
    if (path.isEmpty() || csvPath.isEmpty())
        return false;
    return platform::isSameFile(path, csvPath) ||
           QFileInfo(path).absoluteFilePath() == QFileInfo(csvPath).absoluteFilePath();
}

QString clientListAsAttachmentMessage(const QString &path)
{
    return u"The common attachment is the client CSV file, which holds every client's address. "
           "Select a different file. File name= "_s +
           path;
}

} // namespace quorvale
