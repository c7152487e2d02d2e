#include "mailing/mailingplan.h"

#include "clients/csvreader.h"
#include "text/counted.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// Letter case folded as a case-insensitive search compares text, for finding an address on
/// several lines. Text already folded comes back shared, not copied.
QString foldKey(const QString &text)
{
    return text.toCaseFolded();
}

qint64 readableSize(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() ? info.size() : -1;
}

/// The lines that share a key (an address, a client identifier) and, for each client, the others:
/// the first few only, since a list where thousands of lines share an address must not hold
/// thousands of line numbers for each of them. Every client past the first few of its key sees the
/// same others, so they share one list.
class SameLines
{
public:
    static constexpr qsizetype kShown = 10;

    explicit SameLines(qsizetype keys) : m_counts(size_t(keys), 0) {}

    /// First pass: one more line has key `key`.
    void count(int key) { ++m_counts[size_t(key)]; }
    /// Second pass, in list order: line `line` has key `key`.
    void collect(int key, qint64 line)
    {
        if (!isShared(key))
            return;
        Group &group = m_groups[key];
        if (group.head.size() <= kShown)
            group.head.append(line);
    }
    bool isShared(int key) const { return key >= 0 && m_counts[size_t(key)] > 1; }

    /// The details of a client at `line` with key `key`: its own for one of the first lines of the
    /// key, else those of every other client of the key. `lines` picks the list they set.
    QSharedDataPointer<ClientPlanDetails> details(int key, qint64 line, QList<qint64> ClientPlanDetails::*lines)
    {
        Group &group = m_groups[key];
        const auto shownEnd = group.head.cbegin() + std::min(kShown, group.head.size());
        if (std::find(group.head.cbegin(), shownEnd, line) != shownEnd) {
            QSharedDataPointer<ClientPlanDetails> own(new ClientPlanDetails);
            QList<qint64> &others = (*own).*lines;
            for (qint64 other : std::as_const(group.head)) {
                if (other != line && others.size() < kShown)
                    others.append(other);
            }
            return own;
        }
        if (!group.shared) {
            group.shared.reset(new ClientPlanDetails);
            (*group.shared).*lines = QList<qint64>(group.head.cbegin(), shownEnd);
        }
        return group.shared;
    }

private:
    struct Group
    {
        QList<qint64> head; ///< the first kShown + 1 lines
        QSharedDataPointer<ClientPlanDetails> shared;
    };
    std::vector<int> m_counts;
    QHash<int, Group> m_groups; ///< keys on several lines only
};

} // namespace

bool isUsableMailAddress(const QString &address)
{
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at == address.size() - 1 || address.indexOf(u'@', at + 1) >= 0)
        return false;
    // A domain without a dot ("ann@example") reaches nobody outside this computer.
    const QStringView domain = QStringView(address).mid(at + 1);
    if (!domain.contains(u'.') || domain.startsWith(u'.') || domain.endsWith(u'.'))
        return false;
    return std::none_of(address.cbegin(), address.cend(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    });
}

QStringList planWarningLines(const PlanWarnings &w)
{
    QStringList lines;
    if (w.invalidAddresses > 0)
        lines.append(counted(w.invalidAddresses, "address is not valid", "addresses are not valid"));
    if (w.sharedAddresses > 0)
        lines.append(counted(w.sharedAddresses, "client shares an address", "clients share an address"));
    if (w.withoutDocument > 0)
        lines.append(counted(w.withoutDocument, "client has no document", "clients have no document"));
    if (w.ambiguous > 0)
        lines.append(counted(w.ambiguous, "client has", "clients have") +
                     u" several documents or a document naming another client (they get nothing)"_s);
    if (w.emptyFields > 0)
        lines.append(counted(w.emptyFields, "client has an empty field", "clients have an empty field") +
                     u" the message uses"_s);
    return lines;
}

MailingPlan MailingPlan::make(const Mailing &mailing)
{
    MailingPlan plan;
    plan.m_mailing = mailing;
    if (mailing.csvPath.isEmpty()) {
        plan.m_error = u"You need to set the path for the client CSV file."_s;
        return plan;
    }
    CsvReadResult read =
        GetCSVFile(mailing.csvPath, mailing.header ? CsvHeader::ColumnNames : CsvHeader::None, mailing.delimiter);
    if (read.outcome != CsvReadOutcome::Read) {
        plan.m_error = read.message(mailing.csvPath);
        plan.m_readMistake = clientFileMistake(clientFileHead(mailing.csvPath), mailing.delimiter);
        return plan;
    }
    plan.m_clients = std::move(read.clients);
    plan.m_windows1252Lines = std::move(read.windows1252Lines);
    const ClientList &clients = plan.m_clients;
    plan.m_message = MessageTemplate(mailing.subject, mailing.body, clients);
    const qsizetype total = clients.Count();

    // The distinct identifiers, each held once: the clients' plans share them.
    plan.m_distinctOf.resize(size_t(total));
    {
        QHash<QString, int> idIndex;
        for (qsizetype i = 0; i < total; ++i) {
            const QString id = clients.ClientId(i);
            auto found = idIndex.constFind(id);
            if (found == idIndex.cend()) {
                found = idIndex.insert(id, int(plan.m_ids.size()));
                plan.m_ids.append(id);
            }
            plan.m_distinctOf[size_t(i)] = *found;
        }
    }
    plan.m_ids.squeeze();
    plan.chooseClients();
    SameLines sameIds(plan.m_ids.size());
    for (qsizetype i = 0; i < total; ++i)
        sameIds.count(plan.m_distinctOf[size_t(i)]);

    // The addresses, grouped as a case-insensitive search would find them; clients with the same
    // address, written alike, share its text.
    std::vector<int> addressOf(size_t(total), -1);
    QHash<QString, int> addressIndex;
    QStringList addresses; ///< each group's first address as written
    plan.m_plans.resize(size_t(total));
    for (qsizetype i = 0; i < total; ++i) {
        ClientPlan &row = plan.m_plans[size_t(i)];
        row.row = i;
        row.lineNumber = clients.lineNumber(i);
        row.clientId = plan.m_ids.at(plan.m_distinctOf[size_t(i)]);
        if (!clients.hasEmailAddress(i))
            continue;
        row.address = clients.EmailAddress(i);
        const QString key = foldKey(row.address.trimmed());
        auto found = addressIndex.constFind(key);
        if (found == addressIndex.cend()) {
            found = addressIndex.insert(key, int(addresses.size()));
            addresses.append(row.address);
        } else if (const QString &first = addresses.at(*found); first == row.address) {
            row.address = first;
        }
        addressOf[size_t(i)] = *found;
    }
    addressIndex = {};
    SameLines sameAddresses(addresses.size());
    addresses = {};
    for (const int group : addressOf) {
        if (group >= 0)
            sameAddresses.count(group);
    }
    for (qsizetype i = 0; i < total; ++i) {
        sameIds.collect(plan.m_distinctOf[size_t(i)], clients.lineNumber(i));
        sameAddresses.collect(addressOf[size_t(i)], clients.lineNumber(i));
    }

    for (qsizetype i = 0; i < total; ++i) {
        ClientPlan &row = plan.m_plans[size_t(i)];
        const int address = addressOf[size_t(i)];
        const int id = plan.m_distinctOf[size_t(i)];
        if (!row.address.isEmpty() && !isUsableMailAddress(row.address))
            row.flags |= ClientFlag::InvalidAddress;
        const bool sameAddress = !row.address.isEmpty() && sameAddresses.isShared(address);
        const bool sameId = sameIds.isShared(id);
        if (sameAddress) {
            row.flags |= ClientFlag::SameAddress;
            row.shareDetails(sameAddresses.details(address, row.lineNumber, &ClientPlanDetails::sameAddressLines));
        }
        if (sameId) {
            row.flags |= ClientFlag::SameIdentifier;
            const QSharedDataPointer<ClientPlanDetails> idDetails =
                sameIds.details(id, row.lineNumber, &ClientPlanDetails::sameIdentifierLines);
            if (sameAddress)
                row.changeDetails().sameIdentifierLines = idDetails->sameIdentifierLines;
            else
                row.shareDetails(idDetails);
        }
    }
    plan.replan(mailing.mode, mailing.commonPath);
    return plan;
}

void MailingPlan::chooseClients()
{
    m_chosen.clear();
    m_unknownChosen.clear();
    if (m_mailing.clients.isEmpty())
        return;
    QSet<QString> wanted;
    for (const QString &id : std::as_const(m_mailing.clients))
        wanted.insert(id.trimmed());
    m_chosen.assign(size_t(m_ids.size()), false);
    QSet<QString> found;
    for (qsizetype i = 0; i < m_ids.size(); ++i) {
        const QString id = m_ids.at(i).trimmed();
        if (wanted.contains(id)) {
            m_chosen[size_t(i)] = true;
            found.insert(id);
        }
    }
    for (const QString &id : std::as_const(m_mailing.clients)) {
        const QString trimmed = id.trimmed();
        if (!found.contains(trimmed) && !m_unknownChosen.contains(trimmed))
            m_unknownChosen.append(trimmed);
    }
}

qsizetype MailingPlan::chosenCount() const
{
    if (m_chosen.empty())
        return m_clients.Count();
    qsizetype count = 0;
    for (qsizetype i = 0; i < m_clients.Count(); ++i)
        count += isChosen(i) ? 1 : 0;
    return count;
}

QString MailingPlan::chosenProblem() const
{
    if (m_unknownChosen.isEmpty())
        return {};
    constexpr qsizetype kShown = 20;
    QString names = m_unknownChosen.mid(0, kShown).join(u", "_s);
    if (m_unknownChosen.size() > kShown)
        names += u" and %1 more"_s.arg(m_unknownChosen.size() - kShown);
    return (m_unknownChosen.size() == 1 ? u"This chosen client is not in the client list: "_s
                                        : u"These chosen clients are not in the client list: "_s) +
           names + u'.';
}

QString unknownDocumentPlaceholderMessage(const QString &placeholder)
{
    return u"The document names use "_s + placeholder + u", which is not a column of the client file."_s;
}

QString MailingPlan::unknownPlaceholderProblem(const QString &placeholder) const
{
    QString message = unknownPlaceholderMessage(placeholder);
    if (m_mailing.header || m_clients.Count() == 0 || m_clients.lineNumber(0) != 1)
        return message;
    // The name as the message writes it, compared as column names are: letter case and blanks aside.
    QString name = placeholder;
    if (name.startsWith(u"{{"_s) && name.endsWith(u"}}"_s))
        name = name.mid(2, name.size() - 4);
    name = name.section(u'|', 0, 0).trimmed();
    for (qsizetype column = 0; column < m_clients.fieldCount(0); ++column) {
        if (m_clients.field(0, column).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return message + u" The first line of the file holds \"%1\": if that line holds the column names, tick "
                             "\"First line holds column names\" (--header on the command line)."_s.arg(name);
    }
    return message;
}

void MailingPlan::replan(AttachmentMode mode, const QString &commonPath)
{
    m_mailing.mode = mode;
    m_mailing.commonPath = commonPath;
    const QFileInfo csvFile(m_mailing.csvPath);
    m_problems.clear();
    m_commonSize = -1;
    m_commonIsList = false;
    m_commonIsOwn = false;
    m_commonProblem.clear();
    if (mode == AttachmentMode::Common) {
        m_commonSize = readableSize(commonPath);
        m_commonIsList = isClientListFile(commonPath, m_mailing.csvPath);
        const QString own = programFileAttachmentProblem(commonPath, m_mailing.csvPath, m_mailing.programFiles);
        m_commonIsOwn = !own.isEmpty() && !m_commonIsList;
        if (commonPath.isEmpty())
            m_commonProblem = u"You need to set the path for the client Common file."_s;
        else if (!own.isEmpty())
            m_commonProblem = own;
        else if (m_commonSize < 0)
            m_commonProblem = u"The common attachment file cannot be read. File name= "_s + commonPath;
        if (!m_commonProblem.isEmpty())
            m_problems.append(m_commonProblem);
    }
    for (const QString &placeholder : m_message.unknownPlaceholders())
        m_problems.append(unknownPlaceholderProblem(placeholder));
    if (mode == AttachmentMode::Named) {
        m_patterns = DocumentPatterns(m_mailing.documentPatterns, m_clients);
        if (!m_patterns.problem().isEmpty())
            m_problems.append(m_patterns.problem());
        for (const QString &placeholder : m_patterns.unknownPlaceholders())
            m_problems.append(unknownDocumentPlaceholderMessage(placeholder));
    }

    // The folder is listed once, when a client first needs its own document; every name is asked
    // once which clients it names.
    const bool needDocuments =
        mode == AttachmentMode::ClientSpecific || mode == AttachmentMode::Named || m_mailing.print;
    if (needDocuments && !m_listed) {
        m_listed = true;
        const DocumentListing listing =
            listDocumentFolder(csvFile.absolutePath(), csvFile.absoluteFilePath(), m_mailing.programFiles);
        m_hardLinked = listing.hardLinked;
        m_skippedFiles = listing.skipped;
        m_folderError = listing.error;
        if (!listing.error.isEmpty())
            m_listProblems.append(listing.error);
        for (const SkippedEntry &skipped : listing.skipped)
            m_listProblems.append(u"Not a document: "_s + skipped.name + u" ("_s + skipped.reason + u')');
        for (const QString &name : listing.names) {
            m_listedNames.insert(name);
            m_foldedNames.insert(name.toLower(), name);
        }
        m_index.emplace(m_ids);
        m_matches.resize(size_t(m_ids.size()));
        // The index is made of the distinct identifiers: its list positions are theirs.
        for (const QString &name : listing.names) {
            for (const int distinct : m_index->listPositionsNamedBy(name))
                m_matches[size_t(distinct)].append(name);
        }
    }
    if (needDocuments)
        m_problems.append(m_listProblems);
    for (qsizetype i = 0; i < m_clients.Count(); ++i)
        planClient(m_plans[size_t(i)], i);
}

void MailingPlan::planClient(ClientPlan &row, qsizetype i) const
{
    const bool hasAddress = !row.address.isEmpty();
    row.action = ClientAction::Nothing;
    row.file.clear();
    row.fileSize = -1;
    row.identity = {};
    // What the last plan decided goes; the lines that share the address or identifier stay.
    if (!row.documents().isEmpty() || !row.sharedWith().isEmpty() || !row.refused().isEmpty() ||
        !row.emptyFields().isEmpty() || !row.moreFiles().isEmpty() || !row.namedMissing().isEmpty()) {
        ClientPlanDetails &details = row.changeDetails();
        details.moreFiles.clear();
        details.namedMissing.clear();
        details.documents.clear();
        details.sharedWith.clear();
        details.refused.clear();
        details.emptyFields.clear();
    }
    row.flags &= ~ClientFlags(ClientFlag::SeveralDocuments | ClientFlag::SharedDocument | ClientFlag::CommonMissing |
                              ClientFlag::CommonIsClientList | ClientFlag::MissingDocument | ClientFlag::EmptyField |
                              ClientFlag::CommonIsProgramFile | ClientFlag::HardLinkedDocument);
    const bool named = m_mailing.mode == AttachmentMode::Named;
    const bool ownDocument =
        hasAddress ? m_mailing.mode == AttachmentMode::ClientSpecific || named : m_mailing.print;
    if (ownDocument && named) {
        planNamedDocuments(row, i, hasAddress);
    } else if (ownDocument) {
        const ClientDocument document =
            classifyDocuments(m_matches[size_t(m_distinctOf[size_t(i)])], row.clientId, *m_index);
        switch (document.outcome) {
        case ClientDocument::Outcome::None:
            row.action = ClientAction::NoDocument;
            if (hasAddress)
                row.flags |= ClientFlag::MissingDocument;
            // Named for the client but no document (a link out of the folder, a program file):
            // say which and why, rather than that none is there.
            for (const SkippedEntry &skipped : m_skippedFiles) {
                if (isClientDocumentName(skipped.name, row.clientId)) {
                    QString &refused = row.changeDetails().refused;
                    refused += (refused.isEmpty() ? QString() : u"; "_s) + skipped.name + u" is no document: "_s +
                               skipped.reason;
                }
            }
            break;
        case ClientDocument::Outcome::Found:
            row.action = hasAddress ? ClientAction::SendFile : ClientAction::Print;
            row.file = QDir(QFileInfo(m_mailing.csvPath).absolutePath()).filePath(document.names.first());
            row.fileSize = readableSize(row.file);
            row.identity = platform::fileIdentity(row.file);
            // Another name of the same file may be anything (a file of another client, the
            // settings once replaced): worth a look before it goes out.
            if (m_hardLinked.contains(document.names.first()))
                row.flags |= ClientFlag::HardLinkedDocument;
            break;
        case ClientDocument::Outcome::Several:
            row.action = ClientAction::Ambiguous;
            row.changeDetails().documents = document.names;
            row.flags |= ClientFlag::SeveralDocuments;
            break;
        case ClientDocument::Outcome::Shared:
            row.action = ClientAction::Ambiguous;
            row.changeDetails().documents = document.names;
            row.changeDetails().sharedWith = document.otherIds;
            row.flags |= ClientFlag::SharedDocument;
            break;
        }
    } else if (!hasAddress) {
        row.action = ClientAction::Nothing;
    } else if (m_mailing.mode == AttachmentMode::Common) {
        row.action = ClientAction::SendFile;
        row.file = m_mailing.commonPath;
        row.fileSize = m_commonSize;
        if (m_commonSize < 0)
            row.flags |= ClientFlag::CommonMissing;
        if (m_commonIsList)
            row.flags |= ClientFlag::CommonIsClientList;
        if (m_commonIsOwn)
            row.flags |= ClientFlag::CommonIsProgramFile;
    } else {
        row.action = ClientAction::Send;
    }
    // Only a message carries the fields: a printed client's document is as it is.
    if (hasAddress) {
        if (QStringList empty = m_message.emptyPlaceholders(m_clients, i); !empty.isEmpty()) {
            row.changeDetails().emptyFields = std::move(empty);
            row.flags |= ClientFlag::EmptyField;
        }
    }
}

void MailingPlan::planNamedDocuments(ClientPlan &row, qsizetype i, bool hasAddress) const
{
    const NamedDocuments wanted = m_patterns.namesFor(m_clients, i);
    QString missing = m_folderError.isEmpty() ? wanted.problem : m_folderError;
    for (qsizetype n = 0; missing.isEmpty() && n < wanted.names.size(); ++n) {
        if (!m_listedNames.contains(wanted.names.at(n)))
            missing = missingDocumentReason(wanted.names.at(n));
    }
    if (!missing.isEmpty()) {
        // One missing document and the client gets none: half of what it is owed would look complete.
        row.action = ClientAction::NoDocument;
        if (hasAddress)
            row.flags |= ClientFlag::MissingDocument;
        row.changeDetails().refused = missing;
        row.changeDetails().namedMissing = missing;
        return;
    }
    const QDir folder(QFileInfo(m_mailing.csvPath).absolutePath());
    QList<PlannedFile> files;
    for (const QString &name : wanted.names) {
        const QString path = folder.filePath(name);
        files.append({path, readableSize(path), platform::fileIdentity(path)});
        if (m_hardLinked.contains(name))
            row.flags |= ClientFlag::HardLinkedDocument;
    }
    row.action = hasAddress ? ClientAction::SendFile : ClientAction::Print;
    row.file = files.first().path;
    row.fileSize = files.first().size;
    row.identity = files.first().identity;
    if (files.size() > 1)
        row.changeDetails().moreFiles = files.mid(1);
}

QString MailingPlan::missingDocumentReason(const QString &name) const
{
    for (const SkippedEntry &skipped : m_skippedFiles) {
        if (skipped.name == name)
            return name + u" is no document: "_s + skipped.reason;
    }
    if (name == QFileInfo(m_mailing.csvPath).fileName())
        return name + u" is the client list"_s;
    if (name.startsWith(u'.'))
        return name + u" is a hidden file"_s;
    // Names are compared exactly: a file that differs in letter case only is not taken, but named.
    if (const auto similar = m_foldedNames.constFind(name.toLower()); similar != m_foldedNames.cend())
        return name + u" is missing (the folder has "_s + *similar + u')';
    return name + u" is missing"_s;
}

QString Mailing::messageKey() const
{
    if (!formatted && signature.isEmpty())
        return body;
    return (formatted ? u"formatted\n"_s : u"plain\n"_s) + body + u"\nsignature\n"_s + signature;
}

} // namespace quorvale
