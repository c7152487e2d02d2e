#pragma once

#include <QString>

namespace quorvale {

/// The body file "Body.txt" in `dataFolder`: UTF-8, lines ended by CR LF. Empty when `dataFolder` is:
/// with no data folder there is no body file, and reading or writing it fails.
QString bodyFilePath(const QString &dataFolder);
/// Reads the body: every line (ended by CR LF or a lone CR; a lone LF stays in its line)
/// followed by CR LF. Text that is not valid UTF-8 is read as Windows-1252. A missing file (or
/// something other than an ordinary file there) gives empty text. Returns false with `error`,
/// and empty text, when the file exists but cannot be read.
bool readBodyFile(const QString &dataFolder, QString &body, QString *error = nullptr);
/// Writes the body with CR LF line ends (any CR LF, lone CR or lone LF becomes CR LF) and a
/// CR LF after a non-empty last line, so that a load and a save leave the file as it was.
/// Creates the data folder if needed; replaces the file atomically (mode 0600; a link in its place is
/// replaced, never written through). False with `error` on failure.
bool writeBodyFile(const QString &dataFolder, const QString &body, QString *error = nullptr);

} // namespace quorvale
