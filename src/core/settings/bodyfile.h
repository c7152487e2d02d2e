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

/// The formatted body "Body.html" in `dataFolder` (empty when no folder is given).
QString htmlBodyFilePath(const QString &dataFolder);
/// The signature "Signature.html" in `dataFolder` (empty when no folder is given).
QString signatureFilePath(const QString &dataFolder);
/// The folder beside them that holds the pictures they show, which their HTML names by paths
/// relative to `dataFolder`.
QString pictureFolderPath(const QString &dataFolder);
/// Reads an HTML file of the data folder (UTF-8, else Windows-1252) exactly as it is. A missing
/// file gives empty text; false with `error`, and empty text, when it exists but cannot be read.
bool readHtmlFile(const QString &path, QString &html, QString *error = nullptr);
/// Writes an HTML file of the data folder as UTF-8, replacing it atomically (mode 0600; a link in
/// its place is replaced, never written through); empty `html` removes it. False with `error`.
bool writeHtmlFile(const QString &path, const QString &html, QString *error = nullptr);
/// Copies the picture `source` into the picture folder of `dataFolder` (under a name not yet
/// taken there) and gives its path relative to `dataFolder`, as the HTML names it; empty, with
/// `error`, when it cannot.
QString keepPicture(const QString &dataFolder, const QString &source, QString *error = nullptr);

} // namespace quorvale
