#pragma once

// Which file of the client list's folder is a client's own document. The run and the check both
// decide it here, so that the check always shows what a run will do.

#include "clients/programfiles.h"
#include "platform/files.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

namespace quorvale {

/// True when `fileName` names the client `clientId`: it holds the identifier followed by "."
/// where the identifier starts the name or follows a character that is neither "." nor of the
/// kind (digit, letter, other) of the identifier's first, and no digit follows the "."; the
/// identifier is no part of a date (see holdsClientId). So for client 42: "42.pdf", "Invoice_42.pdf"
/// and "Smith42.doc" yes; "1042.pdf", "v1.42.pdf" and "Invoice_42.1.pdf" no; for client 10,
/// "Statement_2024-10.pdf" no. Letter case is ignored, but an ASCII letter only ever equals an ASCII
/// letter: the Kelvin sign is not K. Never true for a blank identifier.
bool isClientDocumentName(const QString &fileName, const QString &clientId);

/// True when `fileName` holds `clientId` as a whole word: where it starts the name or follows a
/// character that is neither letter nor digit, and ends the name or comes before such a character,
/// outside any date (digit groups joined by "-", ".", "_" or "/", one of them four digits long and
/// the others days or months: "2024-10-31", "31.10.2024", "2024_10"). So "Statement_42_2024-10.pdf"
/// holds 42 but neither 2024 nor 10, and "42 Smith 2.pdf" holds 42 and 2. Letter case is ignored as
/// isClientDocumentName ignores it. Never true for a blank identifier.
bool holdsClientId(const QString &fileName, const QString &clientId);

/// A folder entry that looks like a document but is none, and why.
struct SkippedEntry
{
    QString name;
    QString reason;
};

/// The entries of a client list's folder that may be a client's document.
struct DocumentListing
{
    QStringList names;           ///< in the order a lookup tries them
    QList<SkippedEntry> skipped; ///< symbolic links that are no document, and the program's own files
    QStringList hardLinked;      ///< the names (of `names`) whose file has other names too
    QString error;               ///< not empty: the folder could not be listed
};

/// Lists `folder`: ordinary files, and symbolic links whose target is an ordinary file in the same
/// folder; never hidden files, the client list `clientList` (a path), nor the client list or any
/// file of `own` under another name (a symbolic or hard link): those are skipped, with the file
/// they are. Sorted by name ignoring letter case, so the order is the same on every machine.
DocumentListing listDocumentFolder(const QString &folder, const QString &clientList = QString(),
                                   const ProgramFiles &own = ProgramFiles());

/// The client identifiers of one list, arranged so that finding the ones a file name names costs
/// about as much as the name is long, whatever the length of the list. Built once per run or check.
class ClientIdIndex
{
public:
    ClientIdIndex() = default;
    explicit ClientIdIndex(const QStringList &clientIds);
    /// The distinct identifiers of the list that `fileName` names, in list order.
    QStringList idsNamedBy(const QString &fileName) const;
    /// The same as their positions in the list the index was made of (the first of each).
    QList<int> listPositionsNamedBy(const QString &fileName) const;
    /// The distinct identifiers of the list that `fileName` holds as whole words, in list order.
    QStringList idsHeldBy(const QString &fileName) const;
    /// The identifiers of the list other than `clientId` that `fileName` names or holds as whole
    /// words, in list order: any one of them means the name is not the client's document alone.
    QStringList otherIdsIn(const QString &fileName, const QString &clientId) const;

private:
    QList<int> namedPositions(const QString &fileName) const;
    QList<int> heldPositions(const QString &fileName) const;
    QStringList idsAt(QList<int> positions) const;

    QStringList m_ids;
    QHash<QString, int> m_byKey;   ///< the first identifier with each folded key
    std::vector<int> m_nextOfKey;  ///< the next identifier with the same key, or -1
    std::vector<int> m_listPosition; ///< where each identifier first is in the list the index was made of
    QList<qsizetype> m_lengths;
};

/// What looking up one client's document found.
struct ClientDocument
{
    enum class Outcome
    {
        None,    ///< no document names the client
        Found,   ///< exactly one, naming no other client of the list
        Several, ///< more than one document names the client: none is taken
        Shared   ///< the only document also names another client of the list, or holds another
                 ///< one's identifier as a whole word: it is not taken
    };
    Outcome outcome = Outcome::None;
    QStringList names;               ///< the documents that name the client, in lookup order
    QStringList otherIds;            ///< Shared: the other identifiers the document names or holds
    QString path;                    ///< Found: the document's full path
    platform::FileIdentity identity; ///< Found: the file the document was when it was found
    QString refused;                 ///< None: the files naming the client that are no document, and why
};

/// What a run does with the documents `matching` (in lookup order) that name `clientId`.
ClientDocument classifyDocuments(const QStringList &matching, const QString &clientId, const ClientIdIndex &index);

/// Looks up the client's own document in `folder`, listing the folder afresh, as listDocumentFolder
/// (with `own`) and classifyDocuments say. Outcome None for a blank identifier, and when the folder cannot be
/// listed (then `error` says why).
ClientDocument FindClientDocument(const QString &folder, const QString &clientId, const ClientIdIndex &index,
                                  const QString &clientList = QString(), QString *error = nullptr,
                                  const ProgramFiles &own = ProgramFiles());

} // namespace quorvale
