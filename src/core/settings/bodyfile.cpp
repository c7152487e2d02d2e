#include "settings/bodyfile.h"

#include "platform/files.h"
#include "text/windows1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr QFileDevice::Permissions kOwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

void setError(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

// UTF-8 (without its byte-order mark) when valid, else Windows-1252, so that no byte is lost.
QString decodeText(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromUtf8(windows1252ToUtf8(bytes));
}

/// Reads the file `path` into `bytes`; a missing file reads as empty. False with `error`
/// (`failure` with the path and the reason) when it cannot be read.
bool readPrivateFile(const QString &path, QByteArray &bytes, const QString &failure, QString *error)
{
    if (!QFileInfo(path).isFile())
        return true;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        setError(error, failure.arg(QDir::toNativeSeparators(path), file.errorString()));
        return false;
    }
    return true;
}

/// Writes `bytes` as the private file `path`, its folder made when missing. False with `error`
/// (`failure` with the path and the reason) when it cannot be.
bool writePrivateFile(const QString &path, const QByteArray &bytes, const QString &failure, QString *error)
{
    if (path.isEmpty()) {
        setError(error, u"No data folder is set, so nothing can be saved there."_s);
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!platform::makePrivateFolder(folder)) {
        setError(error, u"The data folder %1 could not be created."_s.arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    // Under another name the old file would be a file of the client folder like any other.
    QString reason = platform::otherNamesProblem(path);
    if (!reason.isEmpty() || !platform::writeFileReplacing(path, bytes, kOwnerReadWrite, &reason)) {
        setError(error, failure.arg(QDir::toNativeSeparators(path), reason));
        return false;
    }
    return true;
}

} // namespace

QString bodyFilePath(const QString &dataFolder)
{
    return dataFolder.isEmpty() ? QString() : QDir(dataFolder).filePath(u"Body.txt"_s);
}

bool readBodyFile(const QString &dataFolder, QString &body, QString *error)
{
    body.clear();
    if (dataFolder.isEmpty()) {
        setError(error, u"No data folder is set, so the message body cannot be read."_s);
        return false;
    }
    QByteArray bytes;
    if (!readPrivateFile(bodyFilePath(dataFolder), bytes, u"The message body could not be read from %1: %2"_s, error))
        return false;

    // Every line, whatever ended it (CR LF, lone CR, or the end of the file), is followed by
    // CR LF; a lone LF stays inside its line.
    const QString text = decodeText(bytes);
    const QLatin1StringView crlf = "\r\n"_L1;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != u'\r')
            continue;
        body += QStringView(text).mid(start, i - start) + crlf;
        if (i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        body += QStringView(text).mid(start) + crlf;
    return true;
}

bool writeBodyFile(const QString &dataFolder, const QString &body, QString *error)
{
    if (dataFolder.isEmpty()) {
        setError(error, u"No data folder is set, so the message body cannot be saved."_s);
        return false;
    }
    QString text;
    text.reserve(body.size() + 2);
    const QLatin1StringView crlf = "\r\n"_L1;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (c == u'\r' && i + 1 < body.size() && body.at(i + 1) == u'\n')
            continue; // the LF that follows writes the line end
        if (c == u'\r' || c == u'\n')
            text += crlf;
        else
            text += c;
    }
    // The reader follows every line with CR LF, so a body that ends without one would grow by
    // one line end on every load and save.
    if (!text.isEmpty() && !text.endsWith(crlf))
        text += crlf;

    return writePrivateFile(bodyFilePath(dataFolder), text.toUtf8(), u"The message body could not be saved to %1: %2"_s,
                            error);
}

QString htmlBodyFilePath(const QString &dataFolder)
{
    return dataFolder.isEmpty() ? QString() : QDir(dataFolder).filePath(u"Body.html"_s);
}

QString signatureFilePath(const QString &dataFolder)
{
    return dataFolder.isEmpty() ? QString() : QDir(dataFolder).filePath(u"Signature.html"_s);
}

QString pictureFolderPath(const QString &dataFolder)
{
    return dataFolder.isEmpty() ? QString() : QDir(dataFolder).filePath(u"pictures"_s);
}

bool readHtmlFile(const QString &path, QString &html, QString *error)
{
    html.clear();
    QByteArray bytes;
    if (!readPrivateFile(path, bytes, u"%1 could not be read: %2"_s, error))
        return false;
    html = decodeText(bytes);
    return true;
}

bool writeHtmlFile(const QString &path, const QString &html, QString *error)
{
    if (html.isEmpty()) {
        if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
            return true;
        if (QFile::remove(path))
            return true;
        setError(error, u"%1 could not be removed."_s.arg(QDir::toNativeSeparators(path)));
        return false;
    }
    return writePrivateFile(path, html.toUtf8(), u"%1 could not be saved: %2"_s, error);
}

QString keepPicture(const QString &dataFolder, const QString &source, QString *error)
{
    const QFileInfo from(source);
    QFile in(source);
    if (!from.isFile() || !in.open(QIODevice::ReadOnly)) {
        setError(error, u"The picture %1 cannot be read."_s.arg(QDir::toNativeSeparators(source)));
        return {};
    }
    // Only a picture is kept: the message would refuse anything else, and a file chosen by
    // mistake has no business in the data folder.
    constexpr qint64 kMaxPictureBytes = 10 * 1024 * 1024;
    const QByteArray data = in.read(kMaxPictureBytes + 1);
    if (data.size() > kMaxPictureBytes ||
        !QMimeDatabase().mimeTypeForFileNameAndData(source, data).name().startsWith(u"image/"_s)) {
        setError(error, u"%1 is no picture of at most 10 MiB."_s.arg(QDir::toNativeSeparators(source)));
        return {};
    }
    const QString folder = pictureFolderPath(dataFolder);
    if (!platform::makePrivateFolder(folder)) {
        setError(error, u"The data folder %1 could not be created."_s.arg(QDir::toNativeSeparators(folder)));
        return {};
    }
    // Only letters, digits, "-", "_" and "." are kept, so that the name needs no escaping in HTML
    // and a path cannot be made of it.
    QString base;
    for (const QChar c : from.completeBaseName())
        base += (c.isLetterOrNumber() || c == u'-' || c == u'_') && c.unicode() < 128 ? c : u'_';
    QString suffix;
    for (const QChar c : from.suffix())
        if (c.isLetterOrNumber() && c.unicode() < 128)
            suffix += c;
    if (base.isEmpty())
        base = u"picture"_s;
    for (int n = 1;; ++n) {
        const QString name =
            (n == 1 ? base : base + u'-' + QString::number(n)) + (suffix.isEmpty() ? QString() : u'.' + suffix);
        const QString target = QDir(folder).filePath(name);
        QString reason;
        bool taken = false;
        if (!platform::createFileWhole(target, data, kOwnerReadWrite, &reason, &taken)) {
            if (taken && n < 1000)
                continue;
            setError(error, u"The picture could not be kept in %1: %2"_s.arg(QDir::toNativeSeparators(folder), reason));
            return {};
        }
        return u"pictures/"_s + name;
    }
}

} // namespace quorvale
