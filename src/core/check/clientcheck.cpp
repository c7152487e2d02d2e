#include "check/clientcheck.h"

#include "mail/messagebuilder.h"
#include "mail/sizeprobe.h"
#include "platform/files.h"
#include "text/csvfield.h"
#include "text/wordtable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

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
    {CheckFlag::MissingDocument, "no document"_L1},
    {CheckFlag::CommonIsProgramFile, "common attachment is a file of the program"_L1},
    {CheckFlag::HardLinkedDocument, "document has other names (hard links)"_L1},
    {CheckFlag::TooLarge, "too large"_L1},
}};

/// The size on the wire of each client's message that is larger than `limit`, by row; -1 for the
/// others. The attachment counts by its file's size: no document is read.
std::vector<qint64> tooLargeSizes(const MailingPlan &plan, qint64 limit)
{
    std::vector<qint64> sizes(size_t(plan.clients().Count()), -1);
    for (qsizetype i = 0; i < plan.clients().Count(); ++i) {
        const ClientPlan &row = plan.plan(i);
        if (row.action != CheckAction::Send && row.action != CheckAction::SendFile)
            continue;
        MailMessage message;
        message.RecipientAddress = row.address;
        message.AttachmentPath = row.action == CheckAction::SendFile ? row.file : QString();
        message.SubjectLine = plan.message().subject.fill(plan.clients(), i);
        message.BodyText = plan.message().body.fill(plan.clients(), i);
        if (const qint64 size = wireSize(buildMessage(message)); size > limit)
            sizes[size_t(i)] = size;
    }
    return sizes;
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
    case CheckAction::Ambiguous:
        return "ambiguous document";
    case CheckAction::Nothing:
        break;
    }
    return "nothing";
}

} // namespace

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

CheckReport checkClientList(const CheckRequest &request)
{
    CheckReport report;
    MailingPlan plan = MailingPlan::make(request.mailing());
    report.error = plan.ok()                     ? plan.chosenProblem()
                   : plan.readMistake().isEmpty() ? plan.error()
                                                  : plan.error() + u'\n' + plan.readMistake();
    if (!report.error.isEmpty())
        return report;
    report.problems = plan.problems();
    report.windows1252Lines = plan.windows1252Lines();
    report.programFiles = request.programFiles;
    report.programFiles.addFile(request.csvPath, u"the client list"_s);
    std::vector<qint64> tooLarge;
    if (request.serverSizeLimit) {
        report.serverSizeLimit = request.serverSizeLimit();
        if (report.serverSizeLimit)
            tooLarge = tooLargeSizes(plan, *report.serverSizeLimit);
    }
    std::vector<bool> chosen;
    if (plan.hasChoice()) {
        chosen.resize(size_t(plan.clients().Count()));
        for (qsizetype i = 0; i < plan.clients().Count(); ++i)
            chosen[size_t(i)] = plan.isChosen(i);
    }
    report.rows = std::move(plan).takePlans();
    for (size_t i = 0; i < tooLarge.size() && i < report.rows.size(); ++i) {
        if (tooLarge[i] < 0)
            continue;
        report.rows[i].flags |= CheckFlag::TooLarge;
        report.rows[i].changeDetails().messageSize = tooLarge[i];
    }
    if (!chosen.empty()) {
        const auto kept = std::remove_if(report.rows.begin(), report.rows.end(),
                                         [&chosen](const CheckRow &row) { return !chosen[size_t(row.row)]; });
        report.leftOut = qsizetype(report.rows.end() - kept);
        report.rows.erase(kept, report.rows.end());
    }
    return report;
}

QString checkActionText(const CheckRow &row)
{
    QString name = QFileInfo(row.file).fileName();
    const QString size = row.fileSize < 0 ? u"cannot be read"_s : QString::number(row.fileSize) + u" bytes"_s;
    // Several named documents: the first with its size as ever, the others after it with theirs.
    QString more;
    for (const PlannedFile &file : row.moreFiles())
        more += u", "_s + QFileInfo(file.path).fileName() + u" ("_s +
                (file.size < 0 ? u"cannot be read"_s : QString::number(file.size) + u" bytes"_s) + u')';
    switch (row.action) {
    case CheckAction::Send:
        return u"Send"_s;
    case CheckAction::SendFile:
        return u"Send with "_s + (name.isEmpty() ? u"(no file set)"_s : name) + u" ("_s + size + u')' + more;
    case CheckAction::NoDocument:
        return u"No document found"_s;
    case CheckAction::Print:
        return u"Print "_s + name + u" ("_s + size + u')' + more;
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
            detail = row.documents().join(u", "_s);
            break;
        case CheckFlag::SharedDocument:
            detail = row.documents().join(u", "_s) + u" also names "_s + row.sharedWith().join(u", "_s);
            break;
        case CheckFlag::SameAddress:
            detail = u"line "_s + joinLines(row.sameAddressLines());
            break;
        case CheckFlag::SameIdentifier:
            detail = u"line "_s + joinLines(row.sameIdentifierLines());
            break;
        case CheckFlag::MissingDocument:
            detail = row.namedMissing();
            break;
        case CheckFlag::EmptyField:
            detail = row.emptyFields().join(u", "_s);
            break;
        case CheckFlag::TooLarge:
            detail = u"the message is "_s + megabytes(row.messageSize());
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
    if (report.leftOut > 0)
        lines.append(u"Left out (not chosen): "_s + n(report.leftOut));
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
    // A line that is not UTF-8 is taken as Windows-1252: right for an old export, garbled names
    // for a UTF-8 file with a stray byte. Which lines, so that a person can look.
    if (const QList<qint64> &odd = report.windows1252Lines; !odd.isEmpty()) {
        constexpr qsizetype kShown = 20;
        QStringList numbers;
        for (qsizetype i = 0; i < std::min(odd.size(), kShown); ++i)
            numbers.append(n(odd.at(i)));
        QString line = (odd.size() == 1 ? u"Read as Windows-1252, not UTF-8: line "_s
                                        : u"Read as Windows-1252, not UTF-8: lines "_s) +
                       numbers.join(u", "_s);
        if (odd.size() > kShown)
            line += u" and "_s + n(odd.size() - kShown) + u" more"_s;
        lines.append(line);
    }
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
