#pragma once

#include "clients/attachmentmode.h"
#include "mailing/mailingplan.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace quorvale {

// The check shows the mailing's plan: its rows are the clients' plans.
using CheckAction = ClientAction;
using CheckFlag = ClientFlag;
using CheckFlags = ClientFlags;
using CheckRow = ClientPlan;
inline constexpr int kCheckFlagCount = kClientFlagCount;

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
    /// The program's own files besides the client list: never a document or the attachment.
    ProgramFiles programFiles{};
    QString documentPatterns{}; ///< named mode: the names of each client's documents
    /// Asks the server how large a message it takes (blocking; none: no limit, or no answer).
    /// Unset: sizes are not checked.
    std::function<std::optional<qint64>()> serverSizeLimit{};
    /// The clients a run would go to, by client identifier; empty: every client. Only they are checked.
    QStringList clients{};

    /// The mailing a run would make of them.
    Mailing mailing() const
    {
        Mailing mailing{csvPath, header, subject, body, mode, commonPath, print, delimiter, programFiles};
        mailing.clients = clients;
        mailing.documentPatterns = documentPatterns;
        return mailing;
    }
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
    /// The program's own files, the client list among them: a saved table never replaces them.
    ProgramFiles programFiles;
    /// The largest message the server takes, when it said; clients whose message is larger are
    /// flagged "too large".
    std::optional<qint64> serverSizeLimit;
    /// The clients of the list that were not chosen: a run leaves them out, and they are not shown.
    qsizetype leftOut = 0;

    qsizetype count(CheckAction action) const;
    qsizetype count(CheckFlag flag) const;
    qsizetype flaggedCount() const;
};

/// Reads the client list exactly as a run would and says, client by client, what a run in the
/// requested mode would do now. Lists the folder once. Never changes settings, sends or prints.
CheckReport checkClientList(const CheckRequest &request);

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
