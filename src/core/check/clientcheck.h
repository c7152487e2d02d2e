#pragma once

#include "clients/attachmentmode.h"
#include "clients/programfiles.h"

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
    CommonIsProgramFile = 1u << 8, ///< the common attachment is one of the program's own files
    HardLinkedDocument = 1u << 9,  ///< the document's file has other names too (hard links)
};
Q_DECLARE_FLAGS(CheckFlags, CheckFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(CheckFlags)
inline constexpr int kCheckFlagCount = 10;

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
    /// The program's own files besides the client list: never a document, an attachment or the
    /// file a table is saved to.
    ProgramFiles programFiles{};
};

struct CheckReport
{
    /// Empty when the list was read; otherwise why nothing could be checked.
    QString error;
    std::vector<CheckRow> rows;
    /// Problems of the whole list (the common attachment, an unlistable folder, links in the folder
    /// that are no document, a placeholder of the message that names no column), one per line.
    QStringList problems;
    /// The client list and the program's own files of the request, which the table is never saved over.
    ProgramFiles programFiles;

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

/// What saveCheckCsv does with a file already at its path.
enum class ExistingFile
{
    Keep,   ///< refuse: nothing is written
    Replace ///< replace it (the user said so)
};

/// Why saveCheckCsv wrote nothing.
enum class SaveRefusal
{
    None,        ///< it wrote, or the writing itself failed
    ProgramFile, ///< the path is the client list or another of the program's own files
    Exists       ///< a file is there and ExistingFile::Keep was asked
};

/// The table as UTF-8 CSV with a header line, every field quoted, and a field that a spreadsheet
/// would take for a formula ("=", "+", "-", "@", tab or carriage return first) led by "'". Never
/// over the client list or another of the program's own files (report.programFiles), however
/// linked; over another existing file only with ExistingFile::Replace. The file appears only once
/// it has been written whole, and a link in its place is replaced, never written through. False
/// with `error` (and `refusal`, when it was refused) on failure.
bool saveCheckCsv(const CheckReport &report, const QString &path, ExistingFile existing, QString *error,
                  SaveRefusal *refusal = nullptr);

} // namespace quorvale
