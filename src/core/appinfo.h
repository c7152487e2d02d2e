#pragma once

#include <QString>

namespace quorvale {

/// The application's fixed identity, shown in the main window's caption and the about box.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 0;
inline constexpr int kVersionRevision = 5;

inline QString appTitle() { return QStringLiteral("Quorvale"); }

/// "1.0.5": each number in decimal, joined by ".".
inline QString appVersion()
{
    return QString::number(kVersionMajor) + QLatin1Char('.') + QString::number(kVersionMinor) + QLatin1Char('.') +
           QString::number(kVersionRevision);
}

} // namespace quorvale
