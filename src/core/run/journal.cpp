#include "run/journal.h"

#include "platform/platform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvale {

namespace {

constexpr int kColumns = 9;

QString systemError(const QString &what, const QString &path, int code)
{
    return what + QStringLiteral(" ") + path + QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(code)) +
           QLatin1Char(')');
}

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\r') || bytes.contains('\n') ||
        (!bytes.isEmpty() && (bytes.front() == ' ' || bytes.back() == ' '))) {
        bytes.replace("\"", "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

const QRegularExpression &journalName()
{
    static const QRegularExpression name(QStringLiteral("^run-(\\d+)-.*\\.csv$"));
    return name;
}

/// The journals of `folder`, newest (highest sequence number) first.
QList<std::pair<qint64, QString>> journalFiles(const QString &folder)
{
    QList<std::pair<qint64, QString>> files;
    const QStringList names = QDir(folder).entryList({QStringLiteral("run-*.csv")}, QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = journalName().match(name);
        if (match.hasMatch())
            files.append({match.captured(1).toLongLong(), QDir(folder).filePath(name)});
    }
    std::sort(files.begin(), files.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    return files;
}

} // namespace

QString runJournalFolder(const QString &dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("runs"));
}

QStringList journalColumns()
{
    return {QStringLiteral("time"),      QStringLiteral("event"),   QStringLiteral("line"),
            QStringLiteral("client id"), QStringLiteral("address"), QStringLiteral("file"),
            QStringLiteral("size"),      QStringLiteral("sha256"),  QStringLiteral("detail")};
}

QByteArray formatJournalLine(const JournalEntry &entry)
{
    QByteArray line = csvField(entry.time.toString(Qt::ISODateWithMs));
    line += ',' + csvField(entry.event);
    line += ',' + (entry.line > 0 ? QByteArray::number(entry.line) : QByteArray());
    line += ',' + csvField(entry.clientId);
    line += ',' + csvField(entry.address);
    line += ',' + csvField(entry.file);
    line += ',' + (entry.size >= 0 ? QByteArray::number(entry.size) : QByteArray());
    line += ',' + csvField(entry.sha256);
    line += ',' + csvField(entry.detail);
    return line + "\r\n";
}

Journal::Journal(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

Journal::~Journal()
{
    if (m_fd >= 0) {
        ::fdatasync(m_fd);
        ::close(m_fd);
    }
}

std::unique_ptr<Journal> Journal::create(const QString &folder, const QDateTime &now, QString *error)
{
    // The journals name clients: a new folder is the user's alone.
    if (!platform::makePrivateFolder(folder)) {
        if (error)
            *error = QStringLiteral("The run journal folder cannot be created: ") + folder;
        return nullptr;
    }
    const QList<std::pair<qint64, QString>> existing = journalFiles(folder);
    qint64 sequence = existing.isEmpty() ? 1 : existing.first().first + 1;
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int attempt = 0; attempt < 1000; ++attempt, ++sequence) {
        const QString path =
            QDir(folder).filePath(QStringLiteral("run-%1-%2.csv").arg(sequence, 6, 10, QLatin1Char('0')).arg(stamp));
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue; // another run took this number at the same moment
            if (error)
                *error = systemError(QStringLiteral("The run journal cannot be created:"), path, errno);
            return nullptr;
        }
        std::unique_ptr<Journal> journal(new Journal(fd, path));
        // A byte-order mark lets spreadsheet programs read the file as UTF-8.
        const QByteArray header = "\xEF\xBB\xBF" + journalColumns().join(u',').toUtf8() + "\r\n";
        if (!writeAll(fd, header) || ::fdatasync(fd) != 0) {
            if (error)
                *error = systemError(QStringLiteral("The run journal cannot be written:"), path, errno);
            return nullptr;
        }
        // The new name must survive a power cut too.
        const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        ++journal->m_syncs;
        return journal;
    }
    if (error)
        *error = QStringLiteral("The run journal cannot be created in ") + folder;
    return nullptr;
}

bool Journal::append(const JournalEntry &entry, QString *error, bool sync)
{
    // After a failed write the file may end in half a line: nothing more is added to it, so that
    // a reader drops that half line instead of taking it for a whole one joined with the next.
    if (m_failed) {
        if (error)
            *error = QStringLiteral("The run journal could not be written before: ") + m_path;
        return false;
    }
    if (!writeAll(m_fd, formatJournalLine(entry)) || (sync && ::fdatasync(m_fd) != 0)) {
        m_failed = true;
        if (error)
            *error = systemError(QStringLiteral("The run journal cannot be written:"), m_path, errno);
        return false;
    }
    if (sync)
        ++m_syncs;
    return true;
}

bool readJournal(const QString &path, QList<JournalEntry> *entries, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QByteArray data = file.readAll();
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);

    QList<QByteArray> fields;
    QByteArray field;
    bool quoted = false;
    bool header = true;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data.at(i);
        if (quoted) {
            if (c == '"' && i + 1 < data.size() && data.at(i + 1) == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.append(std::exchange(field, {}));
        } else if (c == '\r') {
            // part of the CR LF line end
        } else if (c == '\n') {
            fields.append(std::exchange(field, {}));
            if (!header && fields.size() == kColumns) {
                JournalEntry entry;
                entry.time = QDateTime::fromString(QString::fromUtf8(fields.at(0)), Qt::ISODateWithMs);
                entry.event = QString::fromUtf8(fields.at(1));
                entry.line = fields.at(2).toLongLong();
                entry.clientId = QString::fromUtf8(fields.at(3));
                entry.address = QString::fromUtf8(fields.at(4));
                entry.file = QString::fromUtf8(fields.at(5));
                entry.size = fields.at(6).isEmpty() ? -1 : fields.at(6).toLongLong();
                entry.sha256 = QString::fromUtf8(fields.at(7));
                entry.detail = QString::fromUtf8(fields.at(8));
                entries->append(entry);
            }
            header = false;
            fields.clear();
        } else {
            field += c;
        }
    }
    // Whatever follows the last line end was cut short by a crash and is dropped.
    return true;
}

QString fileSha256(const QString &path, QString *error)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString journalClientKey(qint64 line, const QString &clientId, const QString &address)
{
    return QString::number(line) + QChar(0x1f) + clientId + QChar(0x1f) + address;
}

JournalHistory readJournalHistory(const QString &folder, const QString &csvPath, const QString &csvSha256)
{
    JournalHistory history;
    // The runs on this client file, newest first, back to the newest run over all clients: a
    // resumed run or a resend continues the runs before it, a run over all clients starts afresh.
    QList<QList<JournalEntry>> runs;
    for (const auto &[sequence, path] : journalFiles(folder)) {
        QList<JournalEntry> entries;
        if (!readJournal(path, &entries, nullptr))
            continue;
        const auto clientFile = std::find_if(entries.cbegin(), entries.cend(),
                                             [](const JournalEntry &e) { return e.event == journal::kClientFile; });
        if (clientFile == entries.cend() || clientFile->file != csvPath || clientFile->sha256 != csvSha256)
            continue;
        const bool fresh = entries.first().event == journal::kRun && entries.first().detail == journal::kKindFull;
        if (runs.isEmpty())
            history.unfinished = entries.last().event != journal::kCompleted;
        runs.prepend(std::move(entries));
        if (fresh)
            break;
    }

    std::map<QString, JournalEntry> unknown; // by key, for the list of unknown clients
    for (const QList<JournalEntry> &entries : std::as_const(runs)) {
        for (const JournalEntry &e : entries) {
            if (e.line <= 0)
                continue;
            const QString key = journalClientKey(e.line, e.clientId, e.address);
            using Last = JournalHistory::Last;
            std::optional<Last> last;
            // An attempt without an outcome after it is a send the run died in: it may have arrived.
            if (e.event == journal::kAttempting || e.event == journal::kUnknown)
                last = Last::Unknown;
            else if (e.event == journal::kSent || e.event == journal::kPrinted)
                last = Last::Sent;
            else if (e.event == journal::kRefused)
                last = Last::Failed;
            else if (e.event == journal::kNoDocument)
                last = Last::NoDocument;
            else if (e.event == journal::kPrintError)
                last = Last::PrintError;
            if (!last)
                continue;
            history.last.insert(key, *last);
            if (*last == Last::Unknown)
                unknown[key] = e;
            else
                unknown.erase(key);
        }
    }
    for (const auto &[key, entry] : unknown)
        history.unknownClients.append(entry);
    std::sort(history.unknownClients.begin(), history.unknownClients.end(),
              [](const JournalEntry &a, const JournalEntry &b) { return a.line < b.line; });
    return history;
}

} // namespace quorvale
