#pragma once

#include "clients/clientlist.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quorvale {

/// What a read of the client CSV file came to. Callers stop on anything but Read.
enum class CsvReadOutcome {
    Read,             ///< the whole file was read into the list
    FileMissing,      ///< no ordinary file at that path
    FileUnreadable,   ///< the file exists but could not be opened or read
    LineUnsplittable, ///< a line has no second field (or exceeds the splitter's limits)
};

struct CsvReadResult
{
    CsvReadOutcome outcome = CsvReadOutcome::Read;
    qint64 failedLine = 0; ///< 1-based, for LineUnsplittable
    ClientList clients;    ///< empty unless outcome is Read
    /// The lines (1-based, in file order) that were not valid UTF-8 and were read as Windows-1252.
    QList<qint64> windows1252Lines;
    /// The warning text for a failed read; empty for Read.
    QString message(const QString &fileName) const;
};

/// Splits one line of the client CSV file into its fields (never fewer than one): comma
/// separator, double-quote quoting without escapes, leading spaces before a quote dropped.
/// Returns an empty list when the line cannot be split: a field spans more than 32,766
/// characters up to its separator, or the line holds more than 32,767 fields.
QStringList ParseCSVLine(const QString &line, QChar separator = u',',
                         QChar quote = u'"');

/// The same split on a line of UTF-8 text within those limits, each field a view into the line.
QList<QByteArrayView> splitCsvBytes(QByteArrayView line, char separator = ',');
/// Field `index` (0-based) of such a line; the null view when the line holds fewer fields.
QByteArrayView csvFieldAt(QByteArrayView line, qsizetype index, char separator = ',');

/// The field separator that a "CSVDelimiter" setting or a --delimiter option names: "," (the
/// comma), ";" or "tab"; nothing for any other text.
std::optional<char> csvSeparatorNamed(const QString &name);

/// Whether the client CSV file's first line is a client or the names of the columns.
enum class CsvHeader {
    None,        ///< every line is a client
    ColumnNames, ///< the first non-empty line names the columns and is no client
};

/// Reads the client CSV file: the whole list, or why it could not be read (the caller logs
/// "Clients found - " and the count, or shows the result's message). Empty lines are skipped (they
/// still count for line numbers); CR LF, LF and a lone CR each end a line, wherever they stand.
/// Each line is read as UTF-8 when it is valid UTF-8, otherwise as Windows-1252 (the result lists
/// those lines); a leading byte-order mark is dropped. Fields are split at `separator`. With
/// CsvHeader::ColumnNames the first non-empty line must split like a client's line too; its fields
/// become the list's column names, and clients keep the file's line numbers.
CsvReadResult GetCSVFile(const QString &fileName, CsvHeader header = CsvHeader::None, char separator = ',');

/// What a client CSV file must look like, in one sentence for the user.
QString clientFileFormat();
/// Which common mistake the start of a client CSV file (`head`, its first bytes) looks like, read
/// with `separator`: another separator than that one (semicolons where commas belong), or a first
/// line of column names; empty when neither.
QString clientFileMistake(const QByteArray &head, char separator = ',');
/// The separator the start of a client CSV file (`head`) looks separated by instead of `separator`:
/// its first line holds that one and not the chosen one; none otherwise.
std::optional<char> otherSeparatorOf(const QByteArray &head, char separator);
/// How a separator is named to the user and to --delimiter: "\";\"", "\",\"", "tab".
QString separatorName(char separator);
/// The first bytes of `fileName` that clientFileMistake() looks at; empty when it cannot be read.
QByteArray clientFileHead(const QString &fileName);

} // namespace quorvale
