#include "check/clientcheck.h"

#include "clients/csvreader.h"
#include "run/prompter.h"
#include "run/statuslog.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace quorvale {

namespace {

/// The reader's status lines are not wanted; its warning becomes the report's error.
class CollectingLog final : public StatusLog
{
public:
    void LogStatus(const QString &) override {}
};

class CollectingPrompter final : public Prompter
{
public:
    void warn(const QString &message) override { warnings.append(message); }
    bool askYesNo(const QString &) override { return false; }
    QStringList warnings;
};

/// Letter case folded code point by code point, the way a case-insensitive search compares
/// text, so that equal keys are exactly the texts that such a search finds equal.
QString foldKey(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        c = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(c)) {
            out.append(QChar(QChar::highSurrogate(c)));
            out.append(QChar(QChar::lowSurrogate(c)));
        } else {
            out.append(QChar(char16_t(c)));
        }
    }
    return out;
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
    return texts.join(QStringLiteral(", "));
}

/// Which documents of the folder name which client identifiers. Matching every client against
/// every name would cost clients x files; instead every name is cut, before each '.', into
/// pieces of the lengths the identifiers have, and only identifiers equal to a piece (ignoring
/// case) are tried with isClientDocumentName, the rule a run uses.
class DocumentIndex
{
public:
    DocumentIndex(const QStringList &names, const QStringList &ids) : m_matches(ids.size()), m_named(names.size())
    {
        QHash<QString, QList<int>> byKey;
        QSet<qsizetype> lengths;
        for (int d = 0; d < ids.size(); ++d) {
            if (ids[d].trimmed().isEmpty())
                continue;
            byKey[foldKey(ids[d])].append(d);
            lengths.insert(ids[d].size());
        }
        std::vector<int> triedFor(size_t(ids.size()), -1);
        for (int n = 0; n < names.size(); ++n) {
            const QString &name = names[n];
            for (qsizetype dot = name.indexOf(QLatin1Char('.'), 1); dot > 0;
                 dot = name.indexOf(QLatin1Char('.'), dot + 1)) {
                for (qsizetype length : lengths) {
                    if (length > dot)
                        continue;
                    const auto found = byKey.constFind(foldKey(QStringView(name).mid(dot - length, length)));
                    if (found == byKey.cend())
                        continue;
                    for (int d : *found) {
                        if (triedFor[size_t(d)] == n)
                            continue;
                        triedFor[size_t(d)] = n;
                        if (isClientDocumentName(name, ids[d])) {
                            m_matches[d].append(n);
                            m_named[n].append(d);
                        }
                    }
                }
            }
        }
    }
    /// Indexes of the names that name identifier `d`, in the order a run tries them.
    const QList<int> &matches(int d) const { return m_matches[d]; }
    /// The identifiers that name `n` names.
    const QList<int> &named(int n) const { return m_named[n]; }

private:
    QList<QList<int>> m_matches;
    QList<QList<int>> m_named;
};

QString csvField(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

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
    case CheckAction::Nothing:
        break;
    }
    return "nothing";
}

} // namespace

bool isUsableMailAddress(const QString &address)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || at == address.size() - 1 || address.indexOf(QLatin1Char('@'), at + 1) >= 0)
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
    return std::count_if(rows.cbegin(), rows.cend(), [flag](const CheckRow &row) { return (row.flags & flag) != 0; });
}

qsizetype CheckReport::flaggedCount() const
{
    return std::count_if(rows.cbegin(), rows.cend(), [](const CheckRow &row) { return row.flags != 0; });
}

CheckReport CheckClientList(const CheckRequest &request)
{
    CheckReport report;
    if (request.csvPath.isEmpty()) {
        report.error = QStringLiteral("You need to set the path for the client CSV file.");
        return report;
    }
    CollectingLog log;
    CollectingPrompter prompter;
    const CsvReadResult read = GetCSVFile(request.csvPath, log, prompter);
    if (read.outcome != CsvReadOutcome::Read) {
        report.error =
            prompter.warnings.isEmpty() ? read.message(request.csvPath) : prompter.warnings.join(QLatin1Char('\n'));
        return report;
    }
    const ClientList &clients = read.clients;
    const qsizetype total = clients.Count();

    qint64 commonSize = -1;
    bool commonIsClientList = false;
    if (request.mode == AttachmentMode::Common) {
        commonSize = readableSize(request.commonPath);
        commonIsClientList = isClientListFile(request.commonPath, request.csvPath);
        if (request.commonPath.isEmpty())
            report.problems.append(QStringLiteral("You need to set the path for the client Common file."));
        else if (commonIsClientList)
            report.problems.append(clientListAsAttachmentMessage(request.commonPath));
        else if (commonSize < 0)
            report.problems.append(QStringLiteral("The common attachment file cannot be read. File name= ") +
                                   request.commonPath);
    }

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
        const bool hasAddress = clients.hasEmailAddress(i);
        if (hasAddress)
            linesByAddress[foldKey(clients.EmailAddress(i).trimmed())].append(clients.lineNumber(i));
        needDocuments |= hasAddress ? request.mode == AttachmentMode::ClientSpecific : request.print;
    }

    // One listing of the folder for every client; the run lists it the same way for each.
    const QFileInfo csvFile(request.csvPath);
    const QString folder = csvFile.absolutePath();
    QStringList names;
    if (needDocuments) {
        QString error;
        names = ListDocumentFolder(folder, &error, csvFile.fileName());
        if (!error.isEmpty())
            report.problems.append(error);
    }
    const DocumentIndex index(names, ids);
    const QDir dir(folder);

    report.rows.reserve(size_t(total));
    for (qsizetype i = 0; i < total; ++i) {
        CheckRow row;
        row.lineNumber = clients.lineNumber(i);
        row.clientId = clients.ClientId(i);
        row.address = clients.EmailAddress(i);
        const bool hasAddress = clients.hasEmailAddress(i);
        const bool ownDocument = hasAddress ? request.mode == AttachmentMode::ClientSpecific : request.print;
        if (ownDocument) {
            const int d = distinctOf[size_t(i)];
            const QList<int> &matches = index.matches(d);
            if (matches.isEmpty()) {
                row.action = CheckAction::NoDocument;
            } else {
                row.action = hasAddress ? CheckAction::SendFile : CheckAction::Print;
                row.file = dir.filePath(names[matches.first()]);
                row.fileSize = readableSize(row.file);
                for (qsizetype m = 1; m < matches.size(); ++m)
                    row.otherDocuments.append(names[matches[m]]);
                for (int other : index.named(matches.first())) {
                    if (other != d)
                        row.sharedWith.append(ids[other]);
                }
            }
        } else if (!hasAddress) {
            row.action = CheckAction::Nothing;
        } else if (request.mode == AttachmentMode::Common) {
            row.action = CheckAction::SendFile;
            row.file = request.commonPath;
            row.fileSize = commonSize;
            if (commonSize < 0)
                row.flags |= CommonMissing;
            if (commonIsClientList)
                row.flags |= CommonIsClientList;
        } else {
            row.action = CheckAction::Send;
        }
        if (!row.otherDocuments.isEmpty())
            row.flags |= SeveralDocuments;
        if (!row.sharedWith.isEmpty())
            row.flags |= SharedDocument;
        if (hasAddress) {
            if (!isUsableMailAddress(row.address))
                row.flags |= InvalidAddress;
            const QList<qint64> &lines = linesByAddress[foldKey(row.address.trimmed())];
            if (lines.size() > 1) {
                row.flags |= SameAddress;
                for (qint64 line : lines) {
                    if (line != row.lineNumber)
                        row.sameAddressLines.append(line);
                }
            }
        }
        if (const QList<qint64> &lines = linesById[row.clientId]; lines.size() > 1) {
            row.flags |= SameIdentifier;
            for (qint64 line : lines) {
                if (line != row.lineNumber)
                    row.sameIdentifierLines.append(line);
            }
        }
        report.rows.push_back(std::move(row));
    }
    return report;
}

QString checkActionText(const CheckRow &row)
{
    const QString name = QFileInfo(row.file).fileName();
    const QString size =
        row.fileSize < 0 ? QStringLiteral("cannot be read") : QString::number(row.fileSize) + QStringLiteral(" bytes");
    switch (row.action) {
    case CheckAction::Send:
        return QStringLiteral("Send");
    case CheckAction::SendFile:
        return QStringLiteral("Send with ") + (name.isEmpty() ? QStringLiteral("(no file set)") : name) +
               QStringLiteral(" (") + size + QLatin1Char(')');
    case CheckAction::NoDocument:
        return QStringLiteral("No document found");
    case CheckAction::Print:
        return QStringLiteral("Print ") + name + QStringLiteral(" (") + size + QLatin1Char(')');
    case CheckAction::Nothing:
        break;
    }
    return QStringLiteral("Nothing");
}

QString checkFlagName(CheckFlag flag)
{
    switch (flag) {
    case SeveralDocuments:
        return QStringLiteral("several documents");
    case SharedDocument:
        return QStringLiteral("document names another client");
    case SameAddress:
        return QStringLiteral("same address on another line");
    case SameIdentifier:
        return QStringLiteral("same client ID on another line");
    case InvalidAddress:
        return QStringLiteral("not a valid address");
    case CommonMissing:
        return QStringLiteral("common attachment missing");
    case CommonIsClientList:
        return QStringLiteral("common attachment is the client list");
    }
    return QString();
}

QString checkFlagsText(const CheckRow &row)
{
    QStringList parts;
    if (row.flags & SeveralDocuments)
        parts.append(checkFlagName(SeveralDocuments) + QStringLiteral(" (also ") +
                     row.otherDocuments.join(QStringLiteral(", ")) + QLatin1Char(')'));
    if (row.flags & SharedDocument)
        parts.append(checkFlagName(SharedDocument) + QStringLiteral(" (") + row.sharedWith.join(QStringLiteral(", ")) +
                     QLatin1Char(')'));
    if (row.flags & SameAddress)
        parts.append(checkFlagName(SameAddress) + QStringLiteral(" (line ") + joinLines(row.sameAddressLines) +
                     QLatin1Char(')'));
    if (row.flags & SameIdentifier)
        parts.append(checkFlagName(SameIdentifier) + QStringLiteral(" (line ") + joinLines(row.sameIdentifierLines) +
                     QLatin1Char(')'));
    if (row.flags & InvalidAddress)
        parts.append(checkFlagName(InvalidAddress));
    if (row.flags & CommonMissing)
        parts.append(checkFlagName(CommonMissing));
    if (row.flags & CommonIsClientList)
        parts.append(checkFlagName(CommonIsClientList));
    return parts.join(QStringLiteral("; "));
}

QStringList checkSummary(const CheckReport &report)
{
    if (!report.error.isEmpty())
        return {report.error};
    const auto n = [](qsizetype value) { return QString::number(value); };
    QStringList lines;
    lines.append(QStringLiteral("Clients: ") + n(qsizetype(report.rows.size())));
    lines.append(QStringLiteral("Send: ") + n(report.count(CheckAction::Send)) +
                 QStringLiteral(", send with a file: ") + n(report.count(CheckAction::SendFile)) +
                 QStringLiteral(", no document found: ") + n(report.count(CheckAction::NoDocument)) +
                 QStringLiteral(", print: ") + n(report.count(CheckAction::Print)) + QStringLiteral(", nothing: ") +
                 n(report.count(CheckAction::Nothing)));
    QString flagged = QStringLiteral("Flagged rows: ") + n(report.flaggedCount());
    QStringList perFlag;
    for (int bit = 0; bit < kCheckFlagCount; ++bit) {
        const auto flag = CheckFlag(1u << bit);
        if (const qsizetype count = report.count(flag); count > 0)
            perFlag.append(checkFlagName(flag) + QStringLiteral(": ") + n(count));
    }
    if (!perFlag.isEmpty())
        flagged += QStringLiteral(" (") + perFlag.join(QStringLiteral(", ")) + QLatin1Char(')');
    lines.append(flagged);
    lines.append(report.problems);
    return lines;
}

bool SaveCheckCsv(const CheckReport &report, const QString &path, QString *error)
{
    QSaveFile file(path);
    // The table names clients and their addresses: readable by the user only, whatever the umask.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        if (error)
            *error = file.errorString();
        return false;
    }
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
        QStringList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field));
        out += quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    if (file.write(out) != out.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace quorvale
