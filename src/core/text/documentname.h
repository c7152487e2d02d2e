#pragma once

// The names of documents as a user writes them: plain file names of one folder, several at once
// separated by ";".

#include <QString>
#include <QStringList>

namespace quorvale {

/// The patterns of a "DocumentPatterns" text: split at ";", blanks around each dropped, empty ones
/// skipped.
QStringList splitDocumentPatterns(const QString &patterns);

/// Why `name` is not the plain name of a file in one folder: empty, "." or "..", a folder part
/// ("/" or "\\"), a control character, blanks around it. Empty when it is one.
QString documentNameProblem(const QString &name);

/// Why `patterns` can name no document whatever the client (none given, a pattern with a folder
/// part, "..", a control character in its own text); empty when it can. Fields are not looked at.
QString documentPatternsProblem(const QString &patterns);

} // namespace quorvale
