#pragma once

#include <QString>
#include <QStringList>

namespace quorvale {

/// Splits a command into words with a POSIX shell's quoting rules: blanks separate words, single
/// quotes keep everything literally, inside double quotes a backslash escapes only a backslash,
/// a double quote, "$" and "`", and outside quotes it keeps the next character. No expansions.
QStringList splitShellWords(const QString &command);

} // namespace quorvale
