#include "clients/clientlist.h"

#include "clients/csvreader.h"

#include <algorithm>

namespace quorvale {

qsizetype ClientList::Count() const
{
    return qsizetype(m_rows.size());
}

ClientRecord ClientList::at(qsizetype index) const
{
    const Row &row = m_rows.at(size_t(index));
    return {text(row.idOffset, row.idLength), text(row.mailOffset, row.mailLength), row.line};
}

QString ClientList::ClientId(qsizetype index) const
{
    const Row &row = m_rows.at(size_t(index));
    return text(row.idOffset, row.idLength);
}

QString ClientList::EmailAddress(qsizetype index) const
{
    const Row &row = m_rows.at(size_t(index));
    return text(row.mailOffset, row.mailLength);
}

bool ClientList::hasEmailAddress(qsizetype index) const
{
    return m_rows.at(size_t(index)).mailLength != 0;
}

qint64 ClientList::lineNumber(qsizetype index) const
{
    return m_rows.at(size_t(index)).line;
}

qsizetype ClientList::fieldCount(qsizetype index) const
{
    const QByteArrayView rest = tail(m_rows.at(size_t(index)));
    return rest.isNull() ? 2 : 2 + splitCsvBytes(rest, m_separator).size();
}

QString ClientList::field(qsizetype index, qsizetype column) const
{
    return QString::fromUtf8(fieldBytes(m_rows.at(size_t(index)), column));
}

bool ClientList::isFieldBlank(qsizetype index, qsizetype column) const
{
    const QByteArrayView bytes = fieldBytes(m_rows.at(size_t(index)), column);
    for (const char byte : bytes) {
        if (uchar(byte) >= 0x80) // white space beyond ASCII is left to Qt
            return QString::fromUtf8(bytes).trimmed().isEmpty();
        if (byte != ' ' && (byte < '\t' || byte > '\r'))
            return false;
    }
    return true;
}

const QStringList &ClientList::columnNames() const
{
    return m_columnNames;
}

qsizetype ClientList::columnCount() const
{
    return m_columnCount;
}

void ClientList::append(const QString &clientId, const QString &emailAddress, qint64 lineNumber)
{
    const QByteArray id = clientId.toUtf8();
    const QByteArray mail = emailAddress.toUtf8();
    Row row{m_text.size(), m_text.size() + id.size(), lineNumber, quint32(id.size()), quint32(mail.size())};
    m_text.append(id).append(mail).append('\n'); // ends the line: no third field
    m_rows.push_back(row);
}

void ClientList::clear()
{
    m_text.clear();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_columnNames.clear();
    m_columnCount = 2;
}

QString ClientList::text(qint64 offset, quint32 length) const
{
    return QString::fromUtf8(m_text.constData() + offset, qsizetype(length));
}

QByteArrayView ClientList::tail(const Row &row) const
{
    // The line goes on after its address up to the next line end. A plain address ends at the
    // separator before the third field; a quoted one at its closing quote, and the separator is
    // the first one after it. Without a separator the line has two fields: the null view.
    const char *from = m_text.constData() + row.mailOffset + row.mailLength;
    const char *textEnd = m_text.constData() + m_text.size();
    // Every CR and every LF ends a line, so neither stands inside one.
    const char *lineEnd = std::find_if(from, textEnd, [](char c) { return c == '\r' || c == '\n'; });
    const QByteArrayView rest(from, lineEnd);
    const qsizetype separator = rest.indexOf(m_separator);
    return separator < 0 ? QByteArrayView() : rest.sliced(separator + 1);
}

QByteArrayView ClientList::fieldBytes(const Row &row, qsizetype column) const
{
    if (column == 0)
        return QByteArrayView(m_text.constData() + row.idOffset, qsizetype(row.idLength));
    if (column == 1)
        return QByteArrayView(m_text.constData() + row.mailOffset, qsizetype(row.mailLength));
    const QByteArrayView rest = tail(row);
    return column < 0 || rest.isNull() ? QByteArrayView() : csvFieldAt(rest, column - 2, m_separator);
}

} // namespace quorvale
