#pragma once

#include "appversion.h"

#include <QString>

namespace quorvale {

using namespace Qt::StringLiterals;

/// The application's fixed identity, shown in the main window's caption and the about box.
inline constexpr int kVersionMajor = QUORVALE_VERSION_MAJOR;
inline constexpr int kVersionMinor = QUORVALE_VERSION_MINOR;
inline constexpr int kVersionRevision = QUORVALE_VERSION_PATCH;

inline QString appTitle() { return u"Quorvale"_s; }

/// "1.0.5": each number in decimal, joined by ".".
inline QString appVersion()
{
    return QString::number(kVersionMajor) + u'.' + QString::number(kVersionMinor) + u'.' +
           QString::number(kVersionRevision);
}

/// The folder that holds the HTML help: the one named by QUORVALE_HELP_DIR when it holds the
/// pages, beside the program ("help/"), where an installation
/// puts it ("../share/quorvale/help"), or, in a build not made for installing (the option
/// QUORVALE_SOURCE_HELP), the source tree. Empty when none exists.
QString helpFolder();

} // namespace quorvale
