#include "check/clientcheck.h"

#include "clients/csvreader.h"
#include "clients/documentmatch.h"
#include "clients/messagetemplate.h"
#include "platform/files.h"
#include "text/csvfield.h"
#include "text/wordtable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// Letter case folded as a case-insensitive search compares text, for finding an address on
/// several lines.
QString foldKey(QStringView text)
{
    return text.toString().toCaseFolded();
}

qint64 readableSize(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() ? info.size() : -1;
}

QString joinLines(const QList<qint64> &lines)
{
    QStringList texts;
    for (qint64 line : lines)
        texts.append(QString::number(line));
    return texts.join(u", "_s);
}

constexpr WordTable<CheckFlag, kCheckFlagCount> kFlagNames{{
    {CheckFlag::SeveralDocuments, "several documents"_L1},
    {CheckFlag::SharedDocument, "document names another client"_L1},
    {CheckFlag::SameAddress, "same address on another line"_L1},
    {CheckFlag::SameIdentifier, "same client ID on another line"_L1},
    {CheckFlag::InvalidAddress, "not a valid address"_L1},
    {CheckFlag::CommonMissing, "common attachment missing"_L1},
    {CheckFlag::CommonIsClientList, "common attachment is the client list"_L1},
    {CheckFlag::EmptyField, "empty field used by the message"_L1},
    {CheckFlag::CommonIsProgramFile, "common attachment is a file of the program"_L1},
    {CheckFlag::HardLinkedDocument, "document has other names (hard links)"_L1},
}};

const char *actionKeyword(CheckAction action)
{
    switch (action) {
    case CheckAction::Send:
        return "send";
    case CheckAction::SendFile:
        return "send with file";
    case CheckAction::NoDocument:
        return "no document found";
    case CheckAction::Print:
        return "print";
    case CheckAction::Ambiguous:
        return "ambiguous document";
    case CheckAction::Nothing:
        break;
    }
    return "nothing";
}

} // namespace

bool isUsableMailAddress(const QString &address)
{
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at == address.size() - 1 || address.indexOf(u'@', at + 1) >= 0)
        return false;
    return std::none_of(address.cbegin(), address.cend(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    });
}

qsizetype CheckReport::count(CheckAction action) const
{
    return std::count_if(rows.cbegin(), rows.cend(), [action](const CheckRow &row) { return row.action == action; });
}

qsizetype CheckReport::count(CheckFlag flag) const
{
    return std::count_if(rows.cbegin(), rows.cend(), [flag](const CheckRow &row) { return row.flags.testFlag(flag); });
}

qsizetype CheckReport::flaggedCount() const
{
    return std::count_if(rows.cbegin(), rows.cend(), [](const CheckRow &row) { return bool(row.flags); });
}

namespace {

/// The lines other than `own` of `lines`.
QList<qint64> otherLines(const QList<qint64> &lines, qint64 own)
{
    QList<qint64> others;
    for (qint64 line : lines) {
        if (line != own)
            others.append(line);
    }
    return others;
}

/// The common attachment as every row in common mode shows it.
struct CommonAttachment
{
    qint64 size = -1;
    bool isClientList = false;
    bool isProgramFile = false;
};

CommonAttachment checkCommonAttachment(const CheckRequest &request, QStringList &problems)
{
    CommonAttachment common;
    if (request.mode != AttachmentMode::Common)
        return common;
    common.size = readableSize(request.commonPath);
    common.isClientList = isClientListFile(request.commonPath, request.csvPath);
    const QString own = programFileAttachmentProblem(request.commonPath, request.csvPath, request.programFiles);
    common.isProgramFile = !own.isEmpty() && !common.isClientList;
    if (request.commonPath.isEmpty())
        problems.append(u"You need to set the path for the client Common file."_s);
    else if (!own.isEmpty())
        problems.append(own);
    else if (common.size < 0)
        problems.append(u"The common attachment file cannot be read. File name= "_s + request.commonPath);
    return common;
}

/// The client's own document as a run would find it: what the row shows and flags.
void describeOwnDocument(CheckRow &row, const ClientDocument &document, const QDir &folder,
                         const QStringList &hardLinked)
{
    switch (document.outcome) {
    case ClientDocument::Outcome::None:
        row.action = CheckAction::NoDocument;
        break;
    case ClientDocument::Outcome::Found:
        row.action = row.address.isEmpty() ? CheckAction::Print : CheckAction::SendFile;
        row.file = folder.filePath(document.names.first());
        row.fileSize = readableSize(row.file);
        // Another name of the same file may be anything (a file of another client, the
        // settings once replaced): worth a look before it goes out.
        if (hardLinked.contains(document.names.first()))
            row.flags |= CheckFlag::HardLinkedDocument;
        break;
    case ClientDocument::Outcome::Several:
        row.action = CheckAction::Ambiguous;
        row.documents = document.names;
        row.flags |= CheckFlag::SeveralDocuments;
        break;
    case ClientDocument::Outcome::Shared:
        row.action = CheckAction::Ambiguous;
        row.documents = document.names;
        row.sharedWith = document.otherIds;
        row.flags |= CheckFlag::SharedDocument;
        break;
    }
}

} // namespace

CheckReport checkClientList(const CheckRequest &request)
{
    CheckReport report;
    if (request.csvPath.isEmpty()) {
        report.error = u"You need to set the path for the client CSV file."_s;
        return report;
    }
    const CsvReadResult read = GetCSVFile(request.csvPath, request.header ? CsvHeader::ColumnNames : CsvHeader::None);
    if (read.outcome != CsvReadOutcome::Read) {
        report.error = read.message(request.csvPath);
        return report;
    }
    report.programFiles = request.programFiles;
    report.programFiles.addFile(request.csvPath, u"the client list"_s);
    const ClientList &clients = read.clients;
    const qsizetype total = clients.Count();
    const CommonAttachment common = checkCommonAttachment(request, report.problems);
    const MessageTemplate message(request.subject, request.body, clients);
    for (const QString &placeholder : message.unknownPlaceholders())
        report.problems.append(unknownPlaceholderMessage(placeholder));
    const auto ownDocument = [&request, &clients](qsizetype i) {
        return clients.hasEmailAddress(i) ? request.mode == AttachmentMode::ClientSpecific : request.print;
    };

    // The distinct identifiers, and the lines each identifier and address is on.
    QStringList ids;
    QHash<QString, int> idIndex;
    std::vector<int> distinctOf(static_cast<size_t>(total));
    QHash<QString, QList<qint64>> linesById;
    QHash<QString, QList<qint64>> linesByAddress;
    bool needDocuments = false;
    for (qsizetype i = 0; i < total; ++i) {
        const QString id = clients.ClientId(i);
        auto found = idIndex.constFind(id);
        if (found == idIndex.cend()) {
            found = idIndex.insert(id, int(ids.size()));
            ids.append(id);
        }
        distinctOf[size_t(i)] = *found;
        linesById[id].append(clients.lineNumber(i));
        if (clients.hasEmailAddress(i))
            linesByAddress[foldKey(clients.EmailAddress(i).trimmed())].append(clients.lineNumber(i));
        needDocuments |= ownDocument(i);
    }

    // One listing of the folder for every client; the run lists it the same way for each, and
    // decides with the same index which clients a document names.
    const QFileInfo csvFile(request.csvPath);
    DocumentListing listing;
    if (needDocuments) {
        listing = listDocumentFolder(csvFile.absolutePath(), csvFile.absoluteFilePath(), request.programFiles);
        if (!listing.error.isEmpty())
            report.problems.append(listing.error);
        for (const SkippedEntry &skipped : std::as_const(listing.skipped))
            report.problems.append(u"Not a document: "_s + skipped.name + u" ("_s + skipped.reason + u')');
    }
    const ClientIdIndex index(ids);
    std::vector<QStringList> matches(size_t(ids.size()));
    for (const QString &name : std::as_const(listing.names)) {
        for (const QString &id : index.idsNamedBy(name))
            matches[size_t(idIndex.value(id))].append(name);
    }

    report.rows.reserve(size_t(total));
    for (qsizetype i = 0; i < total; ++i) {
        CheckRow row;
        row.lineNumber = clients.lineNumber(i);
        row.clientId = clients.ClientId(i);
        row.address = clients.EmailAddress(i);
        const bool hasAddress = clients.hasEmailAddress(i);
        if (ownDocument(i)) {
            describeOwnDocument(row, classifyDocuments(matches[size_t(distinctOf[size_t(i)])], row.clientId, index),
                                QDir(csvFile.absolutePath()), listing.hardLinked);
        } else if (!hasAddress) {
            row.action = CheckAction::Nothing;
        } else if (request.mode == AttachmentMode::Common) {
            row.action = CheckAction::SendFile;
            row.file = request.commonPath;
            row.fileSize = common.size;
            if (common.size < 0)
                row.flags |= CheckFlag::CommonMissing;
            if (common.isClientList)
                row.flags |= CheckFlag::CommonIsClientList;
            if (common.isProgramFile)
                row.flags |= CheckFlag::CommonIsProgramFile;
        } else {
            row.action = CheckAction::Send;
        }
        if (hasAddress && !isUsableMailAddress(row.address))
            row.flags |= CheckFlag::InvalidAddress;
        // Only a message carries the fields: a printed client's document is as it is.
        if (hasAddress)
            row.emptyFields = message.emptyPlaceholders(clients, i);
        if (!row.emptyFields.isEmpty())
            row.flags |= CheckFlag::EmptyField;
        if (const QList<qint64> &lines = linesByAddress[foldKey(row.address.trimmed())];
            hasAddress && lines.size() > 1) {
            row.flags |= CheckFlag::SameAddress;
            row.sameAddressLines = otherLines(lines, row.lineNumber);
        }
        if (const QList<qint64> &lines = linesById[row.clientId]; lines.size() > 1) {
            row.flags |= CheckFlag::SameIdentifier;
            row.sameIdentifierLines = otherLines(lines, row.lineNumber);
        }
        report.rows.push_back(std::move(row));
    }
    return report;
}

QString checkActionText(const CheckRow &row)
{
    const QString name = QFileInfo(row.file).fileName();
    const QString size = row.fileSize < 0 ? u"cannot be read"_s : QString::number(row.fileSize) + u" bytes"_s;
    switch (row.action) {
    case CheckAction::Send:
        return u"Send"_s;
    case CheckAction::SendFile:
        return u"Send with "_s + (name.isEmpty() ? u"(no file set)"_s : name) + u" ("_s + size + u')';
    case CheckAction::NoDocument:
        return u"No document found"_s;
    case CheckAction::Print:
        return u"Print "_s + name + u" ("_s + size + u')';
    case CheckAction::Ambiguous:
        return row.address.isEmpty() ? u"Not printed: ambiguous document"_s : u"Not sent: ambiguous document"_s;
    case CheckAction::Nothing:
        break;
    }
    return u"Nothing"_s;
}

QString checkFlagsText(const CheckRow &row)
{
    QStringList parts;
    for (const auto &[flag, name] : kFlagNames) {
        if (!row.flags.testFlag(flag))
            continue;
        QString detail;
        switch (flag) {
        case CheckFlag::SeveralDocuments:
            detail = row.documents.join(u", "_s);
            break;
        case CheckFlag::SharedDocument:
            detail = row.documents.join(u", "_s) + u" also names "_s + row.sharedWith.join(u", "_s);
            break;
        case CheckFlag::SameAddress:
            detail = u"line "_s + joinLines(row.sameAddressLines);
            break;
        case CheckFlag::SameIdentifier:
            detail = u"line "_s + joinLines(row.sameIdentifierLines);
            break;
        case CheckFlag::EmptyField:
            detail = row.emptyFields.join(u", "_s);
            break;
        default:
            break;
        }
        parts.append(detail.isEmpty() ? QString(name) : name + u" ("_s + detail + u')');
    }
    return parts.join(u"; "_s);
}

QStringList checkSummary(const CheckReport &report)
{
    if (!report.error.isEmpty())
        return {report.error};
    const auto n = [](qsizetype value) { return QString::number(value); };
    QStringList lines;
    lines.append(u"Clients: "_s + n(qsizetype(report.rows.size())));
    lines.append(u"Send: "_s + n(report.count(CheckAction::Send)) + u", send with a file: "_s +
                 n(report.count(CheckAction::SendFile)) + u", no document found: "_s +
                 n(report.count(CheckAction::NoDocument)) + u", print: "_s + n(report.count(CheckAction::Print)) +
                 u", ambiguous document: "_s + n(report.count(CheckAction::Ambiguous)) + u", nothing: "_s +
                 n(report.count(CheckAction::Nothing)));
    QString flagged = u"Flagged rows: "_s + n(report.flaggedCount());
    QStringList perFlag;
    for (const auto &[flag, name] : kFlagNames) {
        if (const qsizetype count = report.count(flag); count > 0)
            perFlag.append(name + u": "_s + n(count));
    }
    if (!perFlag.isEmpty())
        flagged += u" ("_s + perFlag.join(u", "_s) + u')';
    lines.append(flagged);
    lines.append(report.problems);
    return lines;
}

bool saveCheckCsv(const CheckReport &report, const QString &path, ExistingFile existing, QString *error,
                  SaveRefusal *refusal)
{
    if (refusal)
        *refusal = SaveRefusal::None;
    const auto refuse = [error, refusal](SaveRefusal why, const QString &text) {
        if (refusal)
            *refusal = why;
        if (error)
            *error = text;
        return false;
    };
    // Saved over the client list or the settings, the table would wipe them.
    if (const QString which = report.programFiles.which(path); !which.isEmpty())
        return refuse(SaveRefusal::ProgramFile, u"it is "_s + which + u", which is never overwritten"_s);
    // The byte-order mark tells spreadsheet programs that the text is UTF-8.
    QByteArray out("\xEF\xBB\xBF\"Line\",\"Client ID\",\"Address\",\"Action\",\"File\",\"Size\",\"Flags\"\r\n");
    for (const CheckRow &row : report.rows) {
        const QStringList fields{QString::number(row.lineNumber),
                                 row.clientId,
                                 row.address,
                                 QString::fromLatin1(actionKeyword(row.action)),
                                 row.file.isEmpty() ? QString() : QDir::toNativeSeparators(row.file),
                                 row.fileSize < 0 ? QString() : QString::number(row.fileSize),
                                 checkFlagsText(row)};
        QByteArrayList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field, {.always = true, .guardFormulas = true}));
        out += quoted.join(',') + "\r\n";
    }
    // It names clients and their addresses: readable by its owner only.
    const QFileDevice::Permissions mode = QFile::ReadOwner | QFile::WriteOwner;
    if (existing == ExistingFile::Replace)
        return platform::writeFileReplacing(path, out, mode, error);
    bool exists = false;
    if (platform::createFileWhole(path, out, mode, error, &exists))
        return true;
    return exists ? refuse(SaveRefusal::Exists, u"a file of that name exists already"_s) : false;
}

} // namespace quorvale
