#pragma once

#include <QString>
#include <QUrl>

#include <span>

namespace quorvale {

/// Help topics by context number: the main window's and the setup dialog's.
inline constexpr int kMainHelpContext = 10;
inline constexpr int kSetupHelpContext = 20;

/// One page of the help, as the help window's contents list shows it.
struct HelpTopic
{
    const char *page;  ///< the file in the help folder
    const char *title; ///< its entry in the contents
    int context = 0;   ///< the context number that opens it; 0: none
};

/// Every help page, in the order of the contents. A new page is one more row here.
std::span<const HelpTopic> helpTopics();

/// The page for a context number in `folder` (see helpFolder()); an empty URL when the context is unknown or its
/// page is missing, so that the caller quietly does nothing.
QUrl helpUrl(const QString &folder, int context);

} // namespace quorvale
