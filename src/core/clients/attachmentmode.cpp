#include "clients/attachmentmode.h"

#include "platform/files.h"

#include <QFileInfo>

#include <array>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr std::array<std::pair<AttachmentMode, QLatin1StringView>, 3> kNames{{
    {AttachmentMode::None, "none"_L1},
    {AttachmentMode::Common, "common"_L1},
    {AttachmentMode::ClientSpecific, "client"_L1},
}};

} // namespace

QString attachmentModeName(AttachmentMode mode)
{
    for (const auto &[named, name] : kNames) {
        if (named == mode)
            return name;
    }
    return kNames.front().second;
}

std::optional<AttachmentMode> attachmentModeNamed(QStringView name)
{
    for (const auto &[mode, named] : kNames) {
        if (name == named)
            return mode;
    }
    return std::nullopt;
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
