#pragma once

#include <QByteArray>
#include <QString>

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

    QByteArray m_text; // UTF-8
    std::vector<Row> m_rows;
};

} // namespace quorvale
