#pragma once

// A mailing and what it does for each client: the one place that decides which document a client
// gets, whether its message goes, is printed or passed over, and what deserves a second look. The
// run, the check, the preview and the question before a run all read this plan, so they cannot
// disagree about a client.

#include "clients/attachmentmode.h"
#include "clients/clientlist.h"
#include "clients/documentmatch.h"
#include "clients/documentnames.h"
#include "clients/messagetemplate.h"
#include "clients/programfiles.h"
#include "platform/files.h"

#include <QFlags>
#include <QHash>
#include <QSet>
#include <QList>
#include <QSharedData>
#include <QSharedDataPointer>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace quorvale {

/// What the user asked for: the client list, the message, the attachment and the print choice.
struct Mailing
{
    QString csvPath;
    bool header = false; ///< the first line of the client file holds column names
    QString subject;
    QString body;
    AttachmentMode mode = AttachmentMode::None;
    QString commonPath; ///< common mode: the common attachment
    bool print = false; ///< documents of clients without an address are printed
    char delimiter = ','; ///< what separates the fields of a line of the client list
    /// The program's own files besides the client list: never a document or the attachment.
    ProgramFiles programFiles{};
    bool formatted = false; ///< `body` is HTML, sent formatted, its fields filled with escaped values
    QString htmlFolder{};   ///< where the relative picture paths of a formatted body start
    QString signature{};    ///< the signature (HTML) that ends every message; empty: none
    QString signatureFolder{}; ///< where its relative picture paths start
    /// Named mode: the names of each client's documents, ";" between them, fields filled per client.
    QString documentPatterns{};
    /// The clients the mailing goes to, by client identifier (blanks around it aside); empty: every
    /// client of the list. The others are left out: not sent to, printed or counted.
    QStringList clients{};

    /// The body and signature as one text whose hash tells this message from any other: the plain
    /// body alone when there is neither formatting nor signature.
    QString messageKey() const;
};

/// What a run does for one client.
enum class ClientAction
{
    Send,       ///< a message without attachment
    SendFile,   ///< a message with the common file or the client's own document
    NoDocument, ///< the client's own document is needed and there is none
    Print,      ///< the client's document is printed
    Nothing,    ///< no address and printing not ticked
    Ambiguous   ///< several documents, or one naming another client too: none is sent or printed
};

/// Reasons a client deserves a second look; a client may carry several.
enum class ClientFlag : unsigned
{
    SeveralDocuments = 1u << 0,   ///< more than one document names the client
    SharedDocument = 1u << 1,     ///< the client's only document also names another client
    SameAddress = 1u << 2,        ///< the address is on more than one line
    SameIdentifier = 1u << 3,     ///< the client identifier is on more than one line
    InvalidAddress = 1u << 4,     ///< not a usable mail address
    CommonMissing = 1u << 5,      ///< the common attachment is not set or cannot be read
    CommonIsClientList = 1u << 6, ///< the common attachment is the client list itself
    EmptyField = 1u << 7,         ///< the message uses a field that is empty on the client's line
    MissingDocument = 1u << 8,    ///< the client has an address but no document of its own (client mode)
    CommonIsProgramFile = 1u << 9, ///< the common attachment is one of the program's own files
    HardLinkedDocument = 1u << 10, ///< the document's file has other names too (hard links)
    TooLarge = 1u << 11,           ///< the message is larger than the server takes (set by the check)
};
Q_DECLARE_FLAGS(ClientFlags, ClientFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(ClientFlags)
inline constexpr int kClientFlagCount = 12;

/// A file a client's message carries, or a run prints, as it was found.
struct PlannedFile
{
    QString path;
    qint64 size = -1; ///< bytes; -1 when it cannot be read
    platform::FileIdentity identity;
};

/// What only some clients have: documents that cannot be taken or were refused, other lines with the same address or
/// identifier, empty fields. Kept apart from ClientPlan and shared between clients that have the
/// same (the clients of one address share its list of lines), so that a plan of a million clients
/// stays small.
struct ClientPlanDetails : QSharedData
{
    QStringList documents;
    QString refused;
    QStringList sharedWith;
    QList<qint64> sameAddressLines;
    QList<qint64> sameIdentifierLines;
    QStringList emptyFields;
    qint64 messageSize = -1; ///< with ClientFlag::TooLarge: the message's size on the wire in bytes
    QList<PlannedFile> moreFiles; ///< named mode: the client's documents after the first
    QString namedMissing;         ///< named mode: why the client's documents cannot all be taken
};

/// One client of the list and what the mailing does for it.
struct ClientPlan
{
    qsizetype row = -1; ///< the client's row in the list
    qint64 lineNumber = 0;
    QString clientId;
    QString address;
    QString file;                    ///< full path of the file sent or printed
    qint64 fileSize = -1;            ///< bytes; -1 when there is no file or it cannot be read
    platform::FileIdentity identity; ///< the client's own document as it was found
    ClientAction action = ClientAction::Nothing;
    ClientFlags flags;

    /// The documents that name the client, when none can be taken.
    const QStringList &documents() const { return details().documents; }
    /// No document: the files naming the client that are none, and why.
    const QString &refused() const { return details().refused; }
    /// Other client identifiers that the client's only document also names.
    const QStringList &sharedWith() const { return details().sharedWith; }
    /// The other lines with the same address, the first few only.
    const QList<qint64> &sameAddressLines() const { return details().sameAddressLines; }
    /// The other lines with the same client identifier, the first few only.
    const QList<qint64> &sameIdentifierLines() const { return details().sameIdentifierLines; }
    /// The placeholders of the message whose field is empty on this line.
    const QStringList &emptyFields() const { return details().emptyFields; }
    /// With ClientFlag::TooLarge: the message's size on the wire in bytes.
    qint64 messageSize() const { return details().messageSize; }
    /// Named mode: the documents after the first (`file`), in the order their names were given.
    const QList<PlannedFile> &moreFiles() const { return details().moreFiles; }
    /// Named mode, no document: which name is missing, or why the names name nothing.
    const QString &namedMissing() const { return details().namedMissing; }
    /// Every file the client's message carries or the run prints: `file` and moreFiles().
    QList<PlannedFile> files() const
    {
        QList<PlannedFile> all;
        if (!file.isEmpty())
            all.append({file, fileSize, identity});
        all.append(moreFiles());
        return all;
    }

    /// The details to change: this client's own copy, made when it has none or shares one.
    ClientPlanDetails &changeDetails()
    {
        if (!m_details)
            m_details = new ClientPlanDetails;
        return *m_details;
    }
    /// Takes `details` as they are, shared with whoever else has them.
    void shareDetails(const QSharedDataPointer<ClientPlanDetails> &details) { m_details = details; }
    const QSharedDataPointer<ClientPlanDetails> &sharedDetails() const { return m_details; }

private:
    const ClientPlanDetails &details() const
    {
        static const ClientPlanDetails none;
        return m_details ? *m_details.constData() : none;
    }
    QSharedDataPointer<ClientPlanDetails> m_details; ///< null: none of the details
};

/// How many clients carry each kind of problem: what the question before a run warns about.
struct PlanWarnings
{
    qint64 invalidAddresses = 0;
    qint64 sharedAddresses = 0; ///< clients whose address another line of the list has too
    qint64 withoutDocument = 0; ///< client mode: clients with an address and no document
    qint64 ambiguous = 0;       ///< several documents, or a document naming another client
    qint64 emptyFields = 0;
};

/// A mailing read and decided: its client list, its message and one plan per client.
class MailingPlan
{
public:
    /// Reads the client list and lists its folder once. `error` (empty when the list was read)
    /// says why nothing could be planned.
    static MailingPlan make(const Mailing &mailing);

    const Mailing &mailing() const { return m_mailing; }
    QString error() const { return m_error; }
    /// When the list could not be read: what its start looks like it got wrong (another separator,
    /// a line of column names), or empty.
    QString readMistake() const { return m_readMistake; }
    bool ok() const { return m_error.isEmpty(); }
    const ClientList &clients() const { return m_clients; }
    /// The lines of the client list read as Windows-1252 because they are not UTF-8.
    const QList<qint64> &windows1252Lines() const { return m_windows1252Lines; }
    const MessageTemplate &message() const { return m_message; }
    /// The plan of each client, in list order.
    const std::vector<ClientPlan> &plans() const { return m_plans; }
    /// The plans taken out of a plan that is no longer needed: a large list's plans are not copied.
    std::vector<ClientPlan> takePlans() && { return std::move(m_plans); }
    const ClientPlan &plan(qsizetype row) const { return m_plans[size_t(row)]; }
    /// Problems of the whole mailing (the common attachment, an unlistable folder, links in the
    /// folder that are no document, a placeholder of the message that names no column).
    const QStringList &problems() const { return m_problems; }
    /// The client list's folder could not be listed: the run cannot tell who gets which document.
    QString folderError() const { return m_folderError; }
    /// Why the common attachment cannot be sent (not set, the client list or another of the
    /// program's own files, unreadable); empty when it can or the mode is another.
    QString commonProblem() const { return m_commonProblem; }

    /// Whether the client on `row` is one the mailing goes to (every client without a choice).
    bool isChosen(qsizetype row) const
    {
        return m_chosen.empty() || m_chosen[size_t(m_distinctOf[size_t(row)])];
    }
    /// Whether the mailing goes to some clients of the list only.
    bool hasChoice() const { return !m_mailing.clients.isEmpty(); }
    /// The rows the mailing goes to.
    qsizetype chosenCount() const;
    /// The chosen identifiers that no client of the list has, each once; nothing may go then.
    const QStringList &unknownChosen() const { return m_unknownChosen; }
    /// "These chosen clients are not in the client list: 17, 99.", or empty.
    QString chosenProblem() const;
    /// Named mode: the names of each client's documents, parsed against the list's columns.
    const DocumentPatterns &documentPatterns() const { return m_patterns; }

    /// Why the message cannot use `placeholder` ("{{Nmae}}"): it names no column. When the first
    /// line, not said to hold column names, holds that name, says to tick the box that says so.
    QString unknownPlaceholderProblem(const QString &placeholder) const;

    /// The plan again with another attachment mode or common file (the window may change them
    /// during a run): the list, the message and the folder's listing are kept.
    void replan(AttachmentMode mode, const QString &commonPath);

    /// The counts behind the question's warnings, over the rows `counted` says take part.
    template<typename Counted>
    PlanWarnings warnings(Counted counted) const
    {
        PlanWarnings w;
        for (const ClientPlan &plan : m_plans) {
            if (plan.address.isEmpty() || !isChosen(plan.row) || !counted(plan.row))
                continue;
            w.invalidAddresses += plan.flags.testFlag(ClientFlag::InvalidAddress) ? 1 : 0;
            w.sharedAddresses += plan.flags.testFlag(ClientFlag::SameAddress) ? 1 : 0;
            w.withoutDocument += plan.action == ClientAction::NoDocument ? 1 : 0;
            w.ambiguous += plan.action == ClientAction::Ambiguous ? 1 : 0;
            w.emptyFields += plan.emptyFields().isEmpty() ? 0 : 1;
        }
        return w;
    }

private:
    void planClient(ClientPlan &plan, qsizetype row) const;
    /// Marks the distinct identifiers the mailing's choice of clients names, and those it names that no client has.
    void chooseClients();
    void planNamedDocuments(ClientPlan &plan, qsizetype row, bool hasAddress) const;
    QString missingDocumentReason(const QString &name) const;

    Mailing m_mailing;
    QString m_error;
    QString m_readMistake;
    QString m_folderError;
    ClientList m_clients;
    QList<qint64> m_windows1252Lines;
    MessageTemplate m_message;
    std::vector<ClientPlan> m_plans;
    QStringList m_problems;
    QStringList m_listProblems; ///< the folder's links that are no document, said once
    QStringList m_ids; ///< the distinct client identifiers, in list order
    std::vector<bool> m_chosen;  ///< by distinct identifier; empty: every client is chosen
    QStringList m_unknownChosen; ///< chosen identifiers that are no client's
    // The documents, decided once when first needed: which names name each distinct client identifier.
    std::optional<ClientIdIndex> m_index;
    std::vector<int> m_distinctOf;
    std::vector<QStringList> m_matches;
    bool m_listed = false;
    qint64 m_commonSize = -1;
    bool m_commonIsList = false;
    bool m_commonIsOwn = false;
    QString m_commonProblem;
    QStringList m_hardLinked;           ///< documents whose file has other names too
    QList<SkippedEntry> m_skippedFiles; ///< entries of the folder that are no document
    QSet<QString> m_listedNames;          ///< the documents of the folder, by their exact names
    QHash<QString, QString> m_foldedNames; ///< the same by their names in lower case, for a hint
    DocumentPatterns m_patterns;          ///< named mode: the names of each client's documents
};

/// True for an address with exactly one '@', something on both sides, a dot in the domain and
/// no blanks or control characters.
bool isUsableMailAddress(const QString &address);

/// Why a run cannot use document names that use `placeholder` (as written), which names no column.
QString unknownDocumentPlaceholderMessage(const QString &placeholder);

/// What the question before a run warns about the plan ("2 addresses are not valid"), one line
/// per kind with its count; none when nothing deserves a look.
QStringList planWarningLines(const PlanWarnings &warnings);

} // namespace quorvale
