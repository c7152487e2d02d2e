#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace quorvale {

/// One client: one non-empty line of the client CSV file.
struct ClientRecord
{
    QString ClientId;     ///< the first field, exactly as split (spaces kept)
    QString EmailAddress; ///< the second field; empty means the client has no address
    qint64 LineNumber = 0; ///< 1-based line of the file the client came from
};

/// The parsed client CSV file, rows in file order. Stored compactly (one UTF-8 text buffer and
/// offsets into it) because a list may hold a million clients; rows are materialised on access.
/// Fields after the second are not stored apart: they are split again from the line when asked for.
class ClientList
{
public:
    /// Number of clients (rows), written N in the run's counts.
    qsizetype Count() const;
    /// Row `index`, 0-based.
    ClientRecord at(qsizetype index) const;
    QString ClientId(qsizetype index) const;
    QString EmailAddress(qsizetype index) const;
    bool hasEmailAddress(qsizetype index) const;
    qint64 lineNumber(qsizetype index) const;
    /// Number of fields on row `index`'s line (at least two).
    qsizetype fieldCount(qsizetype index) const;
    /// Field `column` of row `index`: 0 the identifier, 1 the address, 2 the third field, and so
    /// on; the empty text when the line holds no such field.
    QString field(qsizetype index, qsizetype column) const;
    /// Whether that field is empty or holds nothing but white space (a missing field included).
    bool isFieldBlank(qsizetype index, qsizetype column) const;
    /// The fields of the file's first line when it was read as column names; empty otherwise.
    const QStringList &columnNames() const;
    /// The most fields any line of the file holds, the column names' line included; at least two.
    qsizetype columnCount() const;

    // Filled by the reader (and by tests that build a list by hand).
    void append(const QString &clientId, const QString &emailAddress, qint64 lineNumber);
    void clear();

private:
    // The reader hands over the file's text whole and adds rows that point into it.
    friend class ClientListBuilder;
    struct Row
    {
        qint64 idOffset;
        qint64 mailOffset;
        qint64 line;
        quint32 idLength; // bytes; a field is at most 32,766 UTF-16 units, so this never overflows
        quint32 mailLength;
    };
    QString text(qint64 offset, quint32 length) const;
    // The third and later fields of the row's line as one run of m_text, from after the separator
    // that ends the address to the line's end; the null view when the line has two fields.
    QByteArrayView tail(const Row &row) const;
    QByteArrayView fieldBytes(const Row &row, qsizetype column) const;

    QByteArray m_text; // UTF-8
    std::vector<Row> m_rows;
    // What separates the fields of a line, for the fields after the address.
    char m_separator = ',';
    QStringList m_columnNames;
    qsizetype m_columnCount = 2;
};

} // namespace quorvale
