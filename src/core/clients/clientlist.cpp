#include "clients/clientlist.h"

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

void ClientList::append(const QString &clientId, const QString &emailAddress, qint64 lineNumber)
{
    const QByteArray id = clientId.toUtf8();
    const QByteArray mail = emailAddress.toUtf8();
    Row row{m_text.size(), m_text.size() + id.size(), lineNumber, quint32(id.size()), quint32(mail.size())};
    m_text.append(id).append(mail);
    m_rows.push_back(row);
}

void ClientList::clear()
{
    m_text.clear();
    m_rows.clear();
    m_rows.shrink_to_fit();
}

QString ClientList::text(qint64 offset, quint32 length) const
{
    return QString::fromUtf8(m_text.constData() + offset, qsizetype(length));
}

} // namespace quorvale
