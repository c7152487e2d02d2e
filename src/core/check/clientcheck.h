#pragma once

#include "clients/attachmentmode.h"

#include <QFlags>
#include <QString>
#include <QStringList>

#include <vector>

namespace quorvale {

/// What a run would do for one client, given the mode and the print tick.
enum class CheckAction
{
    Send,       ///< a message without attachment
    SendFile,   ///< a message with the common file or the client's own document
    NoDocument, ///< the client's own document is needed and there is none
    Print,      ///< the client's document is printed
    Nothing,    ///< no address and printing not ticked
    Ambiguous   ///< several documents, or one naming another client too: none is sent or printed
};

/// Reasons a row deserves a second look; a row may carry several.
enum class CheckFlag : unsigned
{
    SeveralDocuments = 1u << 0,   ///< more than one document names the client
    SharedDocument = 1u << 1,     ///< the client's only document also names another client
    SameAddress = 1u << 2,        ///< the address is on more than one line
    SameIdentifier = 1u << 3,     ///< the client identifier is on more than one line
    InvalidAddress = 1u << 4,     ///< not a usable mail address
    CommonMissing = 1u << 5,      ///< the common attachment is not set or cannot be read
    CommonIsClientList = 1u << 6, ///< the common attachment is the client list itself
    EmptyField = 1u << 7,         ///< the message uses a field that is empty on the client's line
};
Q_DECLARE_FLAGS(CheckFlags, CheckFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(CheckFlags)
inline constexpr int kCheckFlagCount = 8;

/// One client of the list and what a run would do with it.
struct CheckRow
{
    qint64 lineNumber = 0;
    QString clientId;
    QString address;
    CheckAction action = CheckAction::Nothing;
    QString file;           ///< full path of the file sent or printed
    qint64 fileSize = -1;   ///< bytes; -1 when there is no file or it cannot be read
    QStringList documents;  ///< the documents that name the client, when none can be taken
    QStringList sharedWith; ///< other client identifiers that the client's only document also names
    QList<qint64> sameAddressLines;
    QList<qint64> sameIdentifierLines;
    QStringList emptyFields; ///< the placeholders of the message whose field is empty on this line
    CheckFlags flags;
};

/// The window's inputs or the command line's options. The subject and the body matter only for the
/// fields of the client's line they use.
struct CheckRequest
{
    QString csvPath;
    AttachmentMode mode = AttachmentMode::None;
    QString commonPath;
    bool print = false;
    bool header = false; ///< the first line of the file holds column names
    QString subject{};
    QString body{};
    char delimiter = ','; ///< what separates the fields of a line
};

struct CheckReport
{
    /// Empty when the list was read; otherwise why nothing could be checked.
    QString error;
    std::vector<CheckRow> rows;
    /// Problems of the whole list (the common attachment, an unlistable folder, links in the folder
    /// that are no document, a placeholder of the message that names no column), one per line.
    QStringList problems;
    /// The lines of the client file that were not UTF-8 and were read as Windows-1252.
    QList<qint64> windows1252Lines;

    qsizetype count(CheckAction action) const;
    qsizetype count(CheckFlag flag) const;
    qsizetype flaggedCount() const;
};

/// Reads the client list exactly as a run would and says, client by client, what a run in the
/// requested mode would do now. Lists the folder once. Never changes settings, sends or prints.
CheckReport checkClientList(const CheckRequest &request);

/// True for an address with exactly one '@', something on both sides, and no blanks or
/// control characters.
bool isUsableMailAddress(const QString &address);

/// "Send", "Send with Invoice_42.pdf (12,345 bytes)", "No document found", ...
QString checkActionText(const CheckRow &row);
/// The row's flags and their details, "; "-separated; empty for an unflagged row.
QString checkFlagsText(const CheckRow &row);
/// The summary shown above the table and printed first by the command line.
QStringList checkSummary(const CheckReport &report);

/// The table as UTF-8 CSV with a header line, every field quoted, and a field that a spreadsheet
/// would take for a formula ("=", "+", "-", "@", tab or carriage return first) led by "'". The
/// file is replaced only once it has been written whole, and a link in its place is replaced,
/// never written through. False with `error` on failure.
bool saveCheckCsv(const CheckReport &report, const QString &path, QString *error);

} // namespace quorvale
