#include "run/sentrecord.h"

#include "platform/files.h"
#include "platform/process.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <array>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr QByteArrayView kFirstLine = "quorvale sent record 1";
constexpr QByteArrayView kWhoPrefix = "by ";
constexpr qsizetype kMaxWho = 200;
/// Far more than years of mailings (a line is about 160 bytes); a larger file is not a record.
constexpr qint64 kMaxRecordBytes = 64LL * 1024 * 1024;
/// The days a send elsewhere counts for: as long as a similar mailing of this data folder does.
constexpr int kDaysCounted = 30;

constexpr std::array<std::pair<RecordedSend, QByteArrayView>, 3> kWords{{
    {RecordedSend::Failed, "failed"},
    {RecordedSend::Attempting, "attempting"},
    {RecordedSend::Sent, "sent"},
}};

QByteArray wordOf(RecordedSend what)
{
    for (const auto &[value, word] : kWords) {
        if (value == what)
            return word.toByteArray();
    }
    return {};
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool isHash(QByteArrayView text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

QDateTime timeOf(QByteArrayView text)
{
    // "2026-12-07T09:15:02Z" exactly: any other spelling is not the program's.
    if (text.size() != 20 || text.back() != 'Z')
        return {};
    QDateTime time = QDateTime::fromString(QString::fromLatin1(text.first(19)), u"yyyy-MM-ddTHH:mm:ss"_s);
    if (!time.isValid())
        return {};
    time.setTimeSpec(Qt::UTC);
    return time;
}

QString whoThisIs()
{
    QString who = platform::accountName() + u" on "_s + QSysInfo::machineHostName();
    for (QChar &c : who) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            c = u'?';
    }
    return who.left(kMaxWho / 4);
}

int rank(RecordedSend what)
{
    return int(what);
}

} // namespace

bool parseSentRecord(QByteArrayView text, QString *who, QList<RecordLine> *lines, QString *problem)
{
    const auto fail = [problem](qint64 line, const QString &what) {
        *problem = u"line %1: %2"_s.arg(line).arg(what);
        return false;
    };
    qint64 lineNumber = 0;
    qsizetype at = 0;
    while (true) {
        const qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            break; // cut short by a kill, or nothing more
        const QByteArrayView line = text.sliced(at, end - at);
        at = end + 1;
        ++lineNumber;
        if (lineNumber == 1) {
            if (line != kFirstLine)
                return fail(lineNumber, u"not a record of sends"_s);
            continue;
        }
        if (lineNumber == 2) {
            if (!line.startsWith(kWhoPrefix) || line.size() > kMaxWho)
                return fail(lineNumber, u"does not say whose record it is"_s);
            const QString name = QString::fromUtf8(line.sliced(kWhoPrefix.size()));
            if (name.isEmpty() || name.contains(QChar::ReplacementCharacter) ||
                std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
                return fail(lineNumber, u"does not say whose record it is"_s);
            *who = name;
            continue;
        }
        const QList<QByteArray> fields = line.toByteArray().split(' ');
        if (fields.size() != 4)
            return fail(lineNumber, u"not four fields"_s);
        RecordLine entry;
        entry.time = timeOf(fields[0]);
        if (!entry.time.isValid())
            return fail(lineNumber, u"no time"_s);
        const auto word =
            std::find_if(kWords.begin(), kWords.end(), [&fields](const auto &w) { return w.second == fields[1]; });
        if (word == kWords.end())
            return fail(lineNumber, u"unknown outcome"_s);
        entry.what = word->first;
        if (!isHash(fields[2]) || !isHash(fields[3]))
            return fail(lineNumber, u"not a hash"_s);
        entry.client = QString::fromLatin1(fields[2]);
        entry.message = QString::fromLatin1(fields[3]);
        lines->append(entry);
    }
    // Fewer than two lines: a record a kill cut short before its first send, which says nothing.
    return true;
}

QString recordClientHash(const QString &clientKey)
{
    return sha256Hex("client\x1f" + clientKey.toUtf8());
}

QString recordMessageHash(const SentMessage &message)
{
    const QString body = message.bodyKeySha256.isEmpty() ? message.bodySha256 : message.bodyKeySha256;
    return sha256Hex(
        (u"message\x1f"_s + similarText(message.subject) + u'\x1f' + body + u'\x1f' + message.fileSha256).toUtf8());
}

QString recordHome(const QString &dataFolder)
{
    const QString folder = QFileInfo(dataFolder).canonicalFilePath();
    const QString id = QSysInfo::machineHostName() + u'\n' + platform::accountName() + u'\n' +
                       (folder.isEmpty() ? QFileInfo(dataFolder).absoluteFilePath() : folder);
    return sha256Hex(id.toUtf8()).left(16);
}

SendElsewhere SendsElsewhere::of(const QString &clientKey, const SentMessage &message) const
{
    return sends.value(recordClientHash(clientKey) + u' ' + recordMessageHash(message));
}

QString sentRecordPath(const QString &clientFile, const QString &home)
{
    // Beside the list itself, as its lock is: every way of reaching the list meets the same records.
    const QString real = QFileInfo(clientFile).canonicalFilePath();
    const QFileInfo info(real.isEmpty() ? clientFile : real);
    return QDir(info.absolutePath()).filePath(u'.' + info.fileName() + u".quorvale-sent-"_s + home);
}

SendsElsewhere readSendsElsewhere(const QString &clientFile, const QString &ownHome, const QDateTime &asOf)
{
    SendsElsewhere found;
    const QFileInfo own(sentRecordPath(clientFile, ownHome));
    const QString prefix = own.fileName().chopped(ownHome.size());
    const QDir folder = own.absoluteDir();
    const QDateTime from = asOf.addDays(-kDaysCounted);
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (!name.startsWith(prefix) || name == own.fileName())
            continue;
        const QString path = folder.filePath(name);
        // A link or anything but an ordinary file is no record a run wrote.
        if (platform::entryKind(path) != platform::EntryKind::File)
            continue;
        QFile file(path);
        QString problem;
        QString who;
        QList<RecordLine> lines;
        if (!file.open(QIODevice::ReadOnly))
            problem = file.errorString();
        else if (file.size() > kMaxRecordBytes)
            problem = u"too large to be a record"_s;
        else
            parseSentRecord(file.readAll(), &who, &lines, &problem);
        if (!problem.isEmpty()) {
            found.problem = name + u' ' + problem;
            continue;
        }
        QHash<QString, SendElsewhere> last;
        for (const RecordLine &line : std::as_const(lines)) {
            if (line.time >= from)
                last.insert(line.client + u' ' + line.message, SendElsewhere{line.what, line.time, who});
        }
        for (auto it = last.cbegin(); it != last.cend(); ++it) {
            SendElsewhere &held = found.sends[it.key()];
            if (rank(it->what) > rank(held.what) || (it->what == held.what && it->time > held.time) ||
                held.who.isEmpty())
                held = *it;
        }
    }
    return found;
}

SentRecord::SentRecord(std::unique_ptr<platform::AppendOnlyFile> file, QString path)
    : m_file(std::move(file)), m_path(std::move(path))
{
}

SentRecord::~SentRecord() = default;

std::unique_ptr<SentRecord> SentRecord::open(const QString &clientFile, const QString &home, QString *error)
{
    const QString path = sentRecordPath(clientFile, home);
    qint64 size = 0;
    std::unique_ptr<platform::AppendOnlyFile> file = platform::AppendOnlyFile::openOwn(path, &size, error);
    if (!file)
        return nullptr;
    // A new record, or one a power cut left with its first line only, gets its first lines whole
    // before any send is written (openOwn() cut off any line left unfinished).
    QByteArray head;
    if (size == 0)
        head = kFirstLine.toByteArray() + '\n';
    if (size == 0 || size == kFirstLine.size() + 1)
        head += kWhoPrefix.toByteArray() + whoThisIs().toUtf8() + '\n';
    if (!head.isEmpty() && (!file->append(head, error) || !file->syncData(error)))
        return nullptr;
    return std::unique_ptr<SentRecord>(new SentRecord(std::move(file), path));
}

QByteArray formatRecordLine(const RecordLine &line)
{
    return line.time.toUTC().toString(u"yyyy-MM-ddTHH:mm:ss'Z'"_s).toLatin1() + ' ' + wordOf(line.what) + ' ' +
           line.client.toLatin1() + ' ' + line.message.toLatin1() + '\n';
}

bool SentRecord::append(const QDateTime &time, RecordedSend what, const QString &clientKey, const SentMessage &message,
                        bool sync, QString *error)
{
    const QByteArray line =
        formatRecordLine(RecordLine{time, what, recordClientHash(clientKey), recordMessageHash(message)});
    return m_file->append(line, error) && (!sync || m_file->syncData(error));
}

} // namespace quorvale
