#pragma once

#include <QString>
#include <QUrl>

namespace quorvale {

/// Help topics by context number: the main window's and the setup dialog's.
inline constexpr int kMainHelpContext = 10;
inline constexpr int kSetupHelpContext = 20;

/// The page for a context number in `folder` (see helpFolder()); an empty URL when the context is unknown or its
/// page is missing, so that the caller quietly does nothing.
QUrl helpUrl(const QString &folder, int context);

} // namespace quorvale
