#include "gui/helpfiles.h"

#include <QDir>
#include <QFileInfo>

#include <array>

using namespace Qt::StringLiterals;

namespace quorvale {

std::span<const HelpTopic> helpTopics()
{
    static constexpr std::array<HelpTopic, 6> topics{{
        {"main.html", "Sending to your clients", kMainHelpContext},
        {"run.html", "Before, during and after a run"},
        {"setup.html", "Setting up the mail server", kSetupHelpContext},
        {"signin.html", "Signing in to your mail provider"},
        {"providers.html", "When the mail provider says no"},
        {"fields.html", "Fields from the client list in your message"},
    }};
    return topics;
}

QUrl helpUrl(const QString &folder, int context)
{
    QString page;
    for (const HelpTopic &topic : helpTopics()) {
        if (context != 0 && topic.context == context)
            page = QString::fromLatin1(topic.page);
    }
    if (folder.isEmpty() || page.isEmpty())
        return {};
    const QFileInfo file(QDir(folder).filePath(page));
    if (!file.isFile())
        return {};
    return QUrl::fromLocalFile(file.absoluteFilePath());
}

} // namespace quorvale
