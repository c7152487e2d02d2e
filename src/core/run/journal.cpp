#include "run/journal.h"

#include "platform/files.h"
#include "text/csvfield.h"
#include "text/wordtable.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr int kColumns = 9;

QString systemError(const QString &what, const QString &path, const QString &reason)
{
    return what + u' ' + path + u" ("_s + reason + u')';
}

const QRegularExpression &journalName()
{
    static const QRegularExpression name(u"^run-(\\d+)-.*\\.csv$"_s);
    return name;
}

/// Sequence numbers a new journal may take; a larger one found in the folder (put there by hand,
/// say) is still read, but new journals are numbered from the largest number below this.
constexpr qint64 kLargestNewSequence = 999'999'999'999'999;

/// The journals of `folder`, newest (highest sequence number) first. A name whose number does not
/// fit in 64 bits is no journal of ours and is left aside.
QList<std::pair<qint64, QString>> journalFiles(const QString &folder)
{
    QList<std::pair<qint64, QString>> files;
    // No folder is not the working directory.
    if (folder.isEmpty())
        return files;
    const QStringList names = QDir(folder).entryList({u"run-*.csv"_s}, QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = journalName().match(name);
        bool fits = false;
        const qint64 sequence = match.hasMatch() ? match.captured(1).toLongLong(&fits) : 0;
        if (fits && sequence > 0)
            files.append({sequence, QDir(folder).filePath(name)});
    }
    std::sort(files.begin(), files.end(), [](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first : a.second > b.second;
    });
    return files;
}

constexpr WordTable<JournalEvent, 27> kEventNames{{
    {JournalEvent::Run, "run"_L1},
    {JournalEvent::ClientFile, "client file"_L1},
    {JournalEvent::Subject, "subject"_L1},
    {JournalEvent::Body, "body"_L1},
    {JournalEvent::Mode, "mode"_L1},
    {JournalEvent::Print, "print"_L1},
    {JournalEvent::ChosenClients, "chosen clients"_L1},
    {JournalEvent::CommonAttachment, "common attachment"_L1},
    {JournalEvent::Client, "client"_L1},
    {JournalEvent::Message, "message"_L1},
    {JournalEvent::Attempting, "attempting"_L1},
    {JournalEvent::Sent, "sent"_L1},
    {JournalEvent::Refused, "refused"_L1},
    {JournalEvent::Unknown, "unknown"_L1},
    {JournalEvent::NotSentAborted, "not sent (aborted)"_L1},
    {JournalEvent::NoDocument, "no document"_L1},
    {JournalEvent::SeveralDocuments, "several documents"_L1},
    {JournalEvent::SharedDocument, "shared document"_L1},
    {JournalEvent::Printed, "printed"_L1},
    {JournalEvent::PrintError, "print error"_L1},
    {JournalEvent::CopyFailed, "copy in sent failed"_L1},
    {JournalEvent::Copied, "copied to sent"_L1},
    {JournalEvent::CopyNotMade, "copy in sent not made"_L1},
    {JournalEvent::Bounced, "bounced"_L1},
    {JournalEvent::Completed, "completed"_L1},
    {JournalEvent::Aborted, "aborted"_L1},
    {JournalEvent::Stopped, "stopped"_L1},
}};

constexpr WordTable<RunKind, 5> kRunKindNames{{
    {RunKind::AllClients, "all clients"_L1},
    {RunKind::Resume, "resume"_L1},
    {RunKind::ResendToFailed, "resend to failed"_L1},
    {RunKind::Bounces, "bounces"_L1},
    {RunKind::ResendToBounced, "resend to bounced"_L1},
}};

/// Where an event stands in the order every run writes its lines.
enum class Section
{
    Run,
    Header,
    Client,
    Outcome,
    End
};

Section sectionOf(JournalEvent event)
{
    switch (event) {
    case JournalEvent::Run:
        return Section::Run;
    case JournalEvent::ClientFile:
    case JournalEvent::Subject:
    case JournalEvent::Body:
    case JournalEvent::Mode:
    case JournalEvent::Print:
    case JournalEvent::ChosenClients:
    case JournalEvent::CommonAttachment:
        return Section::Header;
    case JournalEvent::Client:
        return Section::Client;
    case JournalEvent::Completed:
    case JournalEvent::Aborted:
    case JournalEvent::Stopped:
        return Section::End;
    default:
        return Section::Outcome;
    }
}

bool isNumber(const QByteArray &field, qint64 *value)
{
    if (field.isEmpty() || !std::all_of(field.cbegin(), field.cend(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    bool ok = false;
    *value = field.toLongLong(&ok);
    return ok;
}

bool isSha256(const QByteArray &field)
{
    return field.size() == 64 && std::all_of(field.cbegin(), field.cend(),
                                             [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

/// The chosen clients a "chosen clients" line holds; none when its detail is not a list of texts.
std::optional<QStringList> chosenClientsOf(const QString &detail)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(detail.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().isEmpty())
        return std::nullopt;
    QStringList ids;
    for (const QJsonValue &id : document.array()) {
        if (!id.isString())
            return std::nullopt;
        ids.append(id.toString());
    }
    return chosenClientKeys(ids);
}

} // namespace

QString journalEventName(JournalEvent event)
{
    return wordOf(kEventNames, event);
}

std::optional<JournalEvent> journalEventNamed(QStringView name)
{
    return valueOf(kEventNames, name);
}

QString runKindName(RunKind kind)
{
    return wordOf(kRunKindNames, kind);
}

std::optional<RunKind> runKindNamed(QStringView name)
{
    return valueOf(kRunKindNames, name);
}

QString runJournalFolder(const QString &dataFolder)
{
    return dataFolder.isEmpty() ? QString() : QDir(dataFolder).filePath(u"runs"_s);
}

QStringList journalColumns()
{
    return {u"time"_s, u"event"_s, u"line"_s,   u"client id"_s, u"address"_s,
            u"file"_s, u"size"_s,  u"sha256"_s, u"detail"_s};
}

QByteArray formatJournalLine(const JournalEntry &entry)
{
    QByteArray line = csvField(entry.time.toString(Qt::ISODateWithMs));
    line += ',' + csvField(journalEventName(entry.event));
    line += ',' + (entry.line > 0 ? QByteArray::number(entry.line) : QByteArray());
    line += ',' + csvField(entry.clientId);
    line += ',' + csvField(entry.address);
    line += ',' + csvField(entry.file);
    line += ',' + (entry.size >= 0 ? QByteArray::number(entry.size) : QByteArray());
    line += ',' + csvField(entry.sha256);
    line += ',' + csvField(entry.detail);
    return line + "\r\n";
}

Journal::Journal(std::unique_ptr<platform::AppendOnlyFile> file, QString path)
    : m_file(std::move(file)), m_path(std::move(path))
{
}

Journal::~Journal() = default;

std::unique_ptr<Journal> Journal::create(const QString &folder, const QDateTime &now, QString *error)
{
    // The journals name clients: a new folder is the user's alone.
    if (folder.isEmpty() || !platform::makePrivateFolder(folder)) {
        if (error)
            *error = u"The run journal folder cannot be created: "_s + folder;
        return nullptr;
    }
    qint64 sequence = 1;
    for (const auto &[number, path] : journalFiles(folder)) {
        if (number < kLargestNewSequence) {
            sequence = number + 1;
            break;
        }
    }
    const QString stamp = now.toString(u"yyyyMMdd-HHmmss"_s);
    for (int attempt = 0; attempt < 1000; ++attempt, ++sequence) {
        const QString path = QDir(folder).filePath(u"run-%1-%2.csv"_s.arg(sequence, 6, 10, QChar(u'0')).arg(stamp));
        QString reason;
        bool taken = false;
        std::unique_ptr<platform::AppendOnlyFile> file = platform::AppendOnlyFile::createNew(path, &reason, &taken);
        if (taken)
            continue; // another run took this number at the same moment
        if (!file) {
            if (error)
                *error = systemError(u"The run journal cannot be created:"_s, path, reason);
            return nullptr;
        }
        std::unique_ptr<Journal> journal(new Journal(std::move(file), path));
        // A byte-order mark lets spreadsheet programs read the file as UTF-8.
        const QByteArray header = "\xEF\xBB\xBF" + journalColumns().join(u',').toUtf8() + "\r\n";
        if (!journal->write(header, true, error))
            return nullptr;
        return journal;
    }
    if (error)
        *error = u"The run journal cannot be created in "_s + folder;
    return nullptr;
}

bool Journal::write(QByteArrayView bytes, bool sync, QString *error)
{
    // After a failed write the file may end in half a line: nothing more is added to it, so that
    // a reader drops that half line instead of taking it for a whole one joined with the next.
    if (m_failed) {
        if (error)
            *error = u"The run journal could not be written before: "_s + m_path;
        return false;
    }
    QString reason;
    if ((!bytes.isEmpty() && !m_file->append(bytes, &reason)) || (sync && !m_file->syncData(&reason))) {
        m_failed = true;
        if (error)
            *error = systemError(u"The run journal cannot be written:"_s, m_path, reason);
        return false;
    }
    if (sync)
        ++m_syncs;
    return true;
}

bool Journal::append(const JournalEntry &entry, QString *error, bool sync)
{
    return write(formatJournalLine(entry), sync, error);
}

bool Journal::sync(QString *error)
{
    return write({}, true, error);
}

bool JournalParser::fail(qint64 line, const QString &what)
{
    if (m_problem.isEmpty())
        m_problem = u"line %1: %2"_s.arg(line).arg(what);
    return false;
}

bool JournalParser::feed(QByteArrayView bytes)
{
    if (!m_problem.isEmpty())
        return false;
    if (!m_started) {
        // The byte-order mark may come in pieces too; wait for three bytes before deciding.
        static constexpr char kMark[] = "\xEF\xBB\xBF";
        m_field += QByteArray(bytes.data(), bytes.size());
        if (m_field.size() < 3 && QByteArrayView(kMark).startsWith(m_field))
            return true;
        m_started = true;
        QByteArray start = std::exchange(m_field, {});
        if (start.startsWith(kMark))
            start.remove(0, 3);
        return feed(start);
    }
    // After a field's text: a comma ends the field, a line end the record.
    const auto ends = [this](char c, bool *ok) {
        if (c == ',')
            endField();
        else if (c == '\r')
            m_state = State::AfterCarriageReturn;
        else if (c == '\n')
            *ok = endRecord();
        else
            return false;
        return true;
    };
    for (const char c : bytes) {
        bool ok = true;
        switch (m_state) {
        case State::FieldStart:
        case State::Unquoted:
            if (c == '"') {
                if (m_state == State::Unquoted)
                    return fail(m_line, u"a quote inside a field that does not start with one"_s);
                m_state = State::Quoted;
            } else if (!ends(c, &ok)) {
                m_field += c;
                m_state = State::Unquoted;
            }
            break;
        case State::Quoted:
            if (c == '"')
                m_state = State::QuoteInQuoted;
            else
                m_field += c;
            if (c == '\n')
                ++m_line;
            break;
        case State::QuoteInQuoted:
            if (c == '"') {
                m_field += c;
                m_state = State::Quoted;
            } else if (!ends(c, &ok)) {
                return fail(m_line, u"text after the closing quote of a field"_s);
            }
            break;
        case State::AfterCarriageReturn:
            if (c != '\n')
                return fail(m_line, u"a carriage return that does not end the line"_s);
            ok = endRecord();
            break;
        }
        if (!ok)
            return false;
    }
    return true;
}

void JournalParser::endField()
{
    m_fields.append(std::exchange(m_field, {}));
    m_state = State::FieldStart;
}

bool JournalParser::endRecord()
{
    endField();
    const qint64 line = m_recordLine;
    ++m_line;
    m_recordLine = m_line;
    const QList<QByteArray> fields = std::exchange(m_fields, {});
    if (m_records++ == 0) {
        QList<QByteArray> columns;
        for (const QString &column : journalColumns())
            columns.append(column.toUtf8());
        return fields == columns || fail(line, u"this is not the header line of a run journal"_s);
    }
    // An empty line, as an editor may leave at the end, says nothing.
    if (fields.size() == 1 && fields.first().isEmpty())
        return true;
    if (fields.size() != kColumns)
        return fail(line, u"%1 fields instead of %2"_s.arg(fields.size()).arg(kColumns));
    JournalEntry entry;
    entry.time = QDateTime::fromString(QString::fromUtf8(fields.at(0)), Qt::ISODateWithMs);
    const QString eventName = QString::fromUtf8(fields.at(1));
    entry.clientId = QString::fromUtf8(fields.at(3));
    entry.address = QString::fromUtf8(fields.at(4));
    entry.file = QString::fromUtf8(fields.at(5));
    entry.sha256 = QString::fromUtf8(fields.at(7));
    entry.detail = QString::fromUtf8(fields.at(8));
    if (!entry.time.isValid())
        return fail(line, u"the time is not a time"_s);
    if (!fields.at(2).isEmpty() && (!isNumber(fields.at(2), &entry.line) || entry.line == 0))
        return fail(line, u"the line number is not a number from 1 up"_s);
    if (!fields.at(6).isEmpty() && !isNumber(fields.at(6), &entry.size))
        return fail(line, u"the size is not a number"_s);
    // Several files (named documents) give one hash a line, empty for a file that could not be read.
    const QList<QByteArray> hashes = fields.at(7).split('\n');
    if (!fields.at(7).isEmpty() && !std::all_of(hashes.cbegin(), hashes.cend(), [](const QByteArray &hash) {
            return hash.isEmpty() || isSha256(hash);
        }))
        return fail(line, u"the SHA-256 is not 64 hexadecimal digits"_s);
    const std::optional<JournalEvent> event = journalEventNamed(eventName);
    if (!event)
        return fail(line, u"the event \"%1\" is unknown"_s.arg(eventName));
    entry.event = *event;
    if (entry.event == JournalEvent::ChosenClients && !chosenClientsOf(entry.detail))
        return fail(line, u"the chosen clients are not a list of client IDs"_s);
    if (!checkEntry(entry, line))
        return false;
    m_entries.append(std::move(entry));
    return true;
}

bool JournalParser::checkEntry(const JournalEntry &entry, qint64 line)
{
    const Section section = sectionOf(entry.event);
    const bool aboutClient = section == Section::Client || section == Section::Outcome;
    if (aboutClient != (entry.line > 0))
        return fail(line,
                    aboutClient ? u"the client's line number is missing"_s : u"a line number where none belongs"_s);
    // The order every run writes: the run line, the mailing, the client list, what happened to
    // each client, and at most one end.
    if (m_entries.isEmpty())
        return section == Section::Run ||
               fail(line, u"the event \"%1\" is out of order"_s.arg(journalEventName(entry.event)));
    const Section previous = sectionOf(m_entries.last().event);
    // The choices may change during the run: their lines then come again among the outcomes.
    const bool choiceChanged = section == Section::Header && entry.event != JournalEvent::ClientFile &&
                               entry.event != JournalEvent::Subject && entry.event != JournalEvent::Body &&
                               (previous == Section::Client || previous == Section::Outcome);
    const bool inOrder =
        section != Section::Run && previous != Section::End &&
        (choiceChanged || !(section == Section::Header && previous != Section::Run && previous != Section::Header)) &&
        !(section == Section::Client && previous == Section::Outcome);
    return inOrder || fail(line, u"the event \"%1\" is out of order"_s.arg(journalEventName(entry.event)));
}

QStringList journalPaths(const QString &folder)
{
    QStringList paths;
    for (const auto &[sequence, path] : journalFiles(folder))
        paths.append(path);
    return paths;
}

bool readJournal(const QString &path, QList<JournalEntry> *entries, QString *error)
{
    QFile file(path);
    JournalParser parser;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + u": "_s + file.errorString();
        return false;
    }
    if (!parser.feed(file.readAll())) {
        if (error)
            *error = path + u", "_s + parser.problem();
        return false;
    }
    *entries = parser.entries();
    return true;
}

QString textSha256(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
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

bool MailingChoices::differsFrom(const MailingChoices &other) const
{
    if (mode != other.mode || (printKnown && other.printKnown && print != other.print) || clients != other.clients)
        return true;
    if (mode == AttachmentMode::Named)
        return documentPatterns != other.documentPatterns;
    return mode == AttachmentMode::Common && commonSha256 != other.commonSha256;
}

QStringList chosenClientKeys(const QStringList &ids)
{
    QStringList keys;
    keys.reserve(ids.size());
    for (const QString &id : ids)
        keys.append(id.trimmed());
    keys.sort();
    keys.removeDuplicates();
    return keys;
}

namespace {

QList<JournalEntry> choiceLines(const QDateTime &time, const MailingChoices &choices)
{
    JournalEntry mode{time, JournalEvent::Mode};
    mode.detail = attachmentModeName(choices.mode);
    JournalEntry print{time, JournalEvent::Print};
    print.detail = choices.print ? u"yes"_s : u"no"_s;
    JournalEntry common{time, JournalEvent::CommonAttachment};
    if (choices.mode == AttachmentMode::Common && !choices.commonFile.isEmpty()) {
        const QFileInfo info(choices.commonFile);
        common.file = info.absoluteFilePath();
        common.size = info.size();
        common.sha256 = choices.commonSha256;
    }
    // Named mode has no common file: the line holds the names of the documents instead.
    if (choices.mode == AttachmentMode::Named)
        common.detail = choices.documentPatterns;
    if (choices.clients.isEmpty())
        return {mode, print, common};
    JournalEntry chosen{time, JournalEvent::ChosenClients};
    chosen.detail = QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(choices.clients)).toJson(QJsonDocument::Compact));
    return {mode, print, chosen, common};
}

} // namespace

QList<JournalEntry> journalHeader(const QDateTime &time, RunKind kind, const MailingKey &mailing)
{
    JournalEntry run{time, JournalEvent::Run};
    run.detail = runKindName(kind);
    JournalEntry clientFile{time, JournalEvent::ClientFile};
    clientFile.file = mailing.clientFile;
    clientFile.size = QFileInfo(mailing.clientFile).size();
    clientFile.sha256 = mailing.clientFileSha256;
    JournalEntry subject{time, JournalEvent::Subject};
    subject.detail = mailing.subject;
    JournalEntry body{time, JournalEvent::Body};
    body.sha256 = mailing.bodySha256;
    body.detail = mailing.bodyKeySha256;
    return QList<JournalEntry>{run, clientFile, subject, body} + choiceLines(time, mailing.choices);
}

QList<JournalEntry> journalChoicesChanged(const QDateTime &time, const MailingChoices &choices)
{
    return choiceLines(time, choices);
}

QString journalClientKey(const QString &clientId, const QString &address)
{
    // A list exported again with blanks around an id or another letter case in an address still
    // holds the same clients.
    return clientId.trimmed() + QChar(0x1f) + address.trimmed().toCaseFolded();
}

QString similarText(const QString &text)
{
    return text.trimmed().toCaseFolded();
}

bool SentMessage::sameAs(const SentMessage &other) const
{
    const bool sameBody =
        bodySha256 == other.bodySha256 || (!bodyKeySha256.isEmpty() && bodyKeySha256 == other.bodyKeySha256);
    return sameBody && fileSha256 == other.fileSha256 && similarText(subject) == similarText(other.subject);
}

namespace {

/// The mailing a journal's first lines describe.
struct JournalHeader
{
    bool complete = false; ///< every line up to "common attachment" is there
    bool hasMode = false;
    QDateTime time;
    std::optional<RunKind> kind;
    QString clientFile;
    QString clientFileSha256;
    QString subject;
    QString bodySha256;
    QString bodyKeySha256; ///< empty in journals written before they recorded it
    std::optional<AttachmentMode> mode;
    MailingChoices choices; ///< printKnown only when the journal has a print line
};

/// Takes a choice line into `choices`; false for any other line.
bool readChoice(const JournalEntry &e, MailingChoices &choices)
{
    switch (e.event) {
    case JournalEvent::Mode:
        choices.mode = attachmentModeNamed(e.detail).value_or(AttachmentMode::None);
        return true;
    case JournalEvent::Print:
        choices.print = e.detail == "yes"_L1;
        choices.printKnown = true;
        return true;
    case JournalEvent::CommonAttachment:
        choices.commonFile = e.file;
        choices.commonSha256 = e.sha256;
        choices.documentPatterns = e.detail;
        return true;
    case JournalEvent::ChosenClients:
        choices.clients = chosenClientsOf(e.detail).value_or(QStringList());
        return true;
    default:
        return false;
    }
}

JournalHeader headerOf(const QList<JournalEntry> &entries)
{
    JournalHeader header;
    header.choices.printKnown = false;
    for (const JournalEntry &e : entries) {
        switch (e.event) {
        case JournalEvent::Run:
            header.time = e.time;
            header.kind = runKindNamed(e.detail);
            continue;
        case JournalEvent::ClientFile:
            header.clientFile = e.file;
            header.clientFileSha256 = e.sha256;
            continue;
        case JournalEvent::Subject:
            header.subject = e.detail;
            continue;
        case JournalEvent::Body:
            header.bodySha256 = e.sha256;
            header.bodyKeySha256 = e.detail;
            continue;
        case JournalEvent::Mode:
            header.hasMode = true;
            header.mode = attachmentModeNamed(e.detail);
            readChoice(e, header.choices);
            continue;
        case JournalEvent::Print:
        case JournalEvent::ChosenClients:
            readChoice(e, header.choices);
            continue;
        case JournalEvent::CommonAttachment:
            readChoice(e, header.choices);
            header.complete = true;
            break;
        default:
            break;
        }
        break;
    }
    return header;
}

/// The choices a run ended with: its header's, changed by any change lines after its client list.
MailingChoices choicesAtEnd(const JournalHeader &header, const QList<JournalEntry> &entries)
{
    MailingChoices choices = header.choices;
    bool pastHeader = false;
    for (const JournalEntry &e : entries) {
        pastHeader = pastHeader || sectionOf(e.event) == Section::Client || sectionOf(e.event) == Section::Outcome;
        if (pastHeader)
            readChoice(e, choices);
    }
    return choices;
}

/// A mailing like `mailing` within the 30 days before it: the same list (by path, or by what it
/// held when renamed since), and the same subject and body apart from letter case and blanks.
bool similarMailing(const JournalHeader &header, const MailingKey &mailing)
{
    if (!mailing.asOf.isValid() || header.time < mailing.asOf.addDays(-30) || header.bodyKeySha256.isEmpty() ||
        header.bodyKeySha256 != mailing.bodyKeySha256 || similarText(header.subject) != similarText(mailing.subject))
        return false;
    const QString path = QFileInfo(header.clientFile).canonicalFilePath();
    return path == mailing.clientFile || (path.isEmpty() && header.clientFileSha256 == mailing.clientFileSha256);
}

bool sameMailing(const JournalHeader &header, const QList<JournalEntry> &entries, const MailingKey &mailing)
{
    if (QFileInfo(header.clientFile).canonicalFilePath() != mailing.clientFile || header.subject != mailing.subject ||
        header.bodySha256 != mailing.bodySha256)
        return header.hasMode && similarMailing(header, mailing);
    if (header.hasMode)
        return true;
    // Written before journals recorded the mode: the same bytes in the client file, and the mode
    // its first lines and its messages show. Messages with a file were sent with the client's own
    // document, messages without one with none; a run that sent nothing fits either.
    const bool common = mailing.choices.mode == AttachmentMode::Common;
    if (header.clientFileSha256 != mailing.clientFileSha256)
        return false;
    if (!header.choices.commonSha256.isEmpty())
        return common && header.choices.commonSha256 == mailing.choices.commonSha256;
    for (const JournalEntry &e : entries) {
        if (e.event == JournalEvent::Attempting && !e.address.isEmpty())
            return mailing.choices.mode == (e.file.isEmpty() ? AttachmentMode::None : AttachmentMode::ClientSpecific);
    }
    return !common;
}

/// Reads a journal up to the end of its header, or whole when `whole`; false with `problem`.
bool readEntries(const QString &path, bool whole, QList<JournalEntry> *entries, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = path + u": "_s + file.errorString();
        return false;
    }
    JournalParser parser;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty() && file.error() != QFileDevice::NoError) {
            *problem = path + u": "_s + file.errorString();
            return false;
        }
        if (!parser.feed(chunk)) {
            *problem = path + u", "_s + parser.problem();
            return false;
        }
        if (!whole && headerOf(parser.entries()).complete)
            break;
    }
    *entries = parser.entries();
    return true;
}

/// The runs of `mailing` in `folder`, oldest first, back to its newest run over all clients: a
/// resumed run or a resend continues the runs before it, a run over all clients starts afresh.
/// Empty with `problem` when a journal that may belong to it does not read cleanly.
QList<QList<JournalEntry>> runsOfMailing(const QString &folder, const MailingKey &mailing, QString *problem)
{
    QList<QList<JournalEntry>> runs;
    for (const auto &[sequence, path] : journalFiles(folder)) {
        QList<JournalEntry> entries;
        // Another mailing's journal is read only as far as its header; a problem there still
        // counts, as it may hide this mailing.
        if (!readEntries(path, false, &entries, problem))
            return {};
        const JournalHeader header = headerOf(entries);
        if (!header.complete)
            continue; // ended before its first client: it reached nobody
        if (!sameMailing(header, entries, mailing))
            continue;
        if (!readEntries(path, true, &entries, problem))
            return {};
        if (!sameMailing(header, entries, mailing))
            continue;
        runs.prepend(std::move(entries));
        // A run over some chosen clients says nothing of the others: the runs before it still count.
        if (header.kind == RunKind::AllClients && header.choices.clients.isEmpty())
            break;
    }
    return runs;
}

/// What a client's line says of it; empty for a line that says nothing of its outcome.
std::optional<JournalHistory::Last> outcomeOf(JournalEvent event)
{
    using Last = JournalHistory::Last;
    switch (event) {
    // An attempt without an outcome after it is a send the run died in: it may have arrived.
    case JournalEvent::Attempting:
    case JournalEvent::Unknown:
        return Last::Unknown;
    case JournalEvent::Sent:
    case JournalEvent::Printed:
        return Last::Sent;
    case JournalEvent::Refused:
        return Last::Failed;
    case JournalEvent::NotSentAborted:
        return Last::NotSent;
    case JournalEvent::NoDocument:
    case JournalEvent::SeveralDocuments:
    case JournalEvent::SharedDocument:
        return Last::NoDocument;
    case JournalEvent::PrintError:
        return Last::PrintError;
    default:
        return std::nullopt;
    }
}

} // namespace

bool isCopyLineOf(const JournalEntry &entry, QByteArrayView messageId)
{
    const QString first = entry.detail.section(u' ', 0, 0);
    return first.isEmpty() || (!messageId.isEmpty() && first.toLatin1() == messageId);
}

JournalHistory readJournalHistory(const QString &folder, const MailingKey &mailing)
{
    JournalHistory history;
    const QList<QList<JournalEntry>> runs = runsOfMailing(folder, mailing, &history.problem);
    if (runs.isEmpty())
        return history;

    history.started = headerOf(runs.first()).time;
    history.subject = headerOf(runs.first()).subject;
    history.unfinished = true;
    std::map<QString, JournalEntry> unknown; // by key, for the list of unknown clients
    for (const QList<JournalEntry> &entries : runs) {
        const JournalHeader header = headerOf(entries);
        // The bounces found for the mailing belong to no run: they change no outcome, choice or list.
        if (header.kind == RunKind::Bounces) {
            for (const JournalEntry &e : entries) {
                if (e.event == JournalEvent::Bounced)
                    history.bounced.insert(journalClientKey(e.clientId, e.address), e);
            }
            continue;
        }
        const bool completed = entries.last().event == JournalEvent::Completed;
        if (header.kind == RunKind::AllClients && !header.choices.clients.isEmpty()) {
            // A run over some chosen clients starts afresh for them, as a run over every client
            // does for all: what the runs before it did to them no longer counts, and the mailing
            // is as finished as this run.
            const QSet<QString> chosen(header.choices.clients.cbegin(), header.choices.clients.cend());
            const auto isChosen = [&chosen](const QString &key) { return chosen.contains(key.section(QChar(0x1f), 0, 0)); };
            history.last.removeIf([&isChosen](const auto &it) { return isChosen(it.key()); });
            history.sent.removeIf([&isChosen](const auto &it) { return isChosen(it.key()); });
            history.missingCopies.removeIf([&isChosen](const auto &it) { return isChosen(it.key()); });
            std::erase_if(unknown, [&isChosen](const auto &it) { return isChosen(it.first); });
            history.unfinished = !completed;
        } else if (completed && header.kind != RunKind::ResendToFailed && header.kind != RunKind::ResendToBounced) {
            // A resend goes over some clients only: it never finishes the runs it resends for.
            history.unfinished = false;
        }
        history.finished = completed ? entries.last().time : QDateTime();
        QList<JournalEntry> clientList;
        bool listEnded = false; // a run killed while writing its list leaves only part of it
        // What the client being handled gets: the message filled from its line (when the run
        // journals one) or the mailing's own, and the file of its attempt.
        SentMessage got{header.subject, header.bodySha256, header.bodyKeySha256, {}};
        QByteArray messageId; // of the attempt being handled
        QDateTime attempted;
        for (const JournalEntry &e : entries) {
            if (e.event == JournalEvent::Client) {
                clientList.append(e);
                continue;
            }
            if (e.event == JournalEvent::Message) {
                got.subject = e.detail;
                got.bodySha256 = e.sha256;
                got.bodyKeySha256.clear();
                continue;
            }
            if (e.event == JournalEvent::Attempting) {
                got.fileSha256 = e.sha256;
                messageId = e.detail.toLatin1();
                attempted = e.time;
            }
            if (e.event == JournalEvent::Copied || e.event == JournalEvent::CopyNotMade) {
                const auto it = history.missingCopies.constFind(journalClientKey(e.clientId, e.address));
                if (it != history.missingCopies.cend() && isCopyLineOf(e, it->messageId))
                    history.missingCopies.erase(it);
            }
            listEnded = listEnded || e.line > 0 || sectionOf(e.event) == Section::End;
            const std::optional<JournalHistory::Last> last = outcomeOf(e.event);
            if (!last)
                continue;
            const QString key = journalClientKey(e.clientId, e.address);
            // A send to the client since its message bounced, at its old address or a new one,
            // settles the bounce.
            if (e.event == JournalEvent::Sent || e.event == JournalEvent::Unknown || e.event == JournalEvent::Refused) {
                history.bounced.removeIf([&e](const QHash<QString, JournalEntry>::iterator it) {
                    return it.value().clientId.trimmed() == e.clientId.trimmed();
                });
            }
            history.last.insert(key, *last);
            if (*last == JournalHistory::Last::Sent)
                history.sent.insert(key, got);
            else
                history.sent.remove(key);
            // Each message sent owes a copy until a line says it was made; a printout owes none.
            if (e.event == JournalEvent::Sent && !messageId.isEmpty())
                history.missingCopies.insert(key, {e, messageId, attempted, got});
            else
                history.missingCopies.remove(key);
            if (e.event != JournalEvent::Attempting) {
                got = SentMessage{header.subject, header.bodySha256, header.bodyKeySha256, {}};
                messageId.clear();
            }
            if (*last == JournalHistory::Last::Unknown)
                unknown[key] = e;
            else
                unknown.erase(key);
        }
        if (header.hasMode)
            history.choices = choicesAtEnd(header, entries);
        else
            history.choices.reset();
        if (listEnded && header.hasMode) {
            history.clientListKnown = true;
            history.clientList = std::move(clientList);
        }
    }
    for (auto it = history.last.cbegin(); it != history.last.cend(); ++it)
        history.reached += it.value() == JournalHistory::Last::Sent ? 1 : 0;
    for (const auto &[key, entry] : unknown)
        history.unknownClients.append(entry);
    std::sort(history.unknownClients.begin(), history.unknownClients.end(),
              [](const JournalEntry &a, const JournalEntry &b) { return a.line < b.line; });
    return history;
}

} // namespace quorvale
