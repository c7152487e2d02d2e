#include "clients/messagetemplate.h"

#include <QStringView>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

constexpr qsizetype kReportedLength = 40;

// A field number: ASCII digits without a leading zero (larger numbers than any line can hold stop
// growing at kNoSuchField); -1 when the text is no number.
constexpr qsizetype kNoSuchField = 1'000'000;

qsizetype fieldNumber(QStringView name)
{
    if (name.isEmpty() || name.front() == u'0')
        return -1;
    qsizetype number = 0;
    for (const QChar c : name) {
        if (c < u'0' || c > u'9')
            return -1;
        number = std::min(number * 10 + (c.unicode() - u'0'), kNoSuchField);
    }
    return number;
}

bool sameName(QStringView a, QStringView b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

} // namespace

FieldTemplate::FieldTemplate(const QString &text, const ClientList &clients) : m_text(text)
{
    const QStringList &columnNames = clients.columnNames();
    const auto columnOf = [&](QStringView inside) -> qsizetype {
        const QStringView name = inside.trimmed();
        if (name.isEmpty())
            return kUnknown;
        if (sameName(name, u"id"))
            return 0;
        if (sameName(name, u"email"))
            return 1;
        if (const qsizetype number = fieldNumber(name); number > 0)
            return number <= clients.columnCount() ? number - 1 : kUnknown;
        const auto named = std::find_if(columnNames.cbegin(), columnNames.cend(),
                                        [&](const QString &column) { return sameName(column, name); });
        return named == columnNames.cend() ? kUnknown : named - columnNames.cbegin();
    };

    const QStringView all(m_text);
    const qsizetype end = all.size();
    qsizetype literalFrom = 0;
    for (qsizetype open = all.indexOf(u"{{"); open >= 0; open = all.indexOf(u"{{", literalFrom)) {
        if (open > literalFrom)
            m_pieces.append({literalFrom, open - literalFrom, kText});
        // The placeholder runs to the first "}}", unless its line ends first.
        qsizetype at = open + 2;
        while (at < end && all[at] != u'\r' && all[at] != u'\n' &&
               !(all[at] == u'}' && at + 1 < end && all[at + 1] == u'}'))
            ++at;
        if (at == end || all[at] != u'}') {
            m_pieces.append({open, at - open, kUnknown});
            literalFrom = at;
            continue;
        }
        literalFrom = at + 2;
        const QStringView inside = all.sliced(open + 2, at - open - 2);
        const QStringView trimmed = inside.trimmed();
        if (trimmed.size() >= 2 && trimmed.front() == u'"' && trimmed.back() == u'"') {
            m_pieces.append({trimmed.data() - all.data() + 1, trimmed.size() - 2, kText});
            continue;
        }
        const qsizetype bar = inside.indexOf(u'|');
        if (bar < 0) {
            m_pieces.append({open, literalFrom - open, columnOf(inside)});
            continue;
        }
        const QStringView fallback = inside.sliced(bar + 1).trimmed();
        m_pieces.append({open, literalFrom - open, columnOf(inside.first(bar)),
                         fallback.isEmpty() ? open + 2 + bar + 1 : fallback.data() - all.data(), fallback.size()});
    }
    if (!m_pieces.isEmpty() && literalFrom < end)
        m_pieces.append({literalFrom, end - literalFrom, kText});
    for (const Piece &piece : std::as_const(m_pieces)) {
        if (piece.column >= 0 && piece.fallbackFrom < 0 &&
            std::none_of(m_fields.cbegin(), m_fields.cend(),
                         [&](const Piece &field) { return field.column == piece.column; }))
            m_fields.append(piece);
    }
}

const QString &FieldTemplate::text() const
{
    return m_text;
}

bool FieldTemplate::hasPlaceholders() const
{
    return !m_pieces.isEmpty();
}

QString FieldTemplate::written(const Piece &piece) const
{
    QStringView text = QStringView(m_text).sliced(piece.from, piece.length);
    if (text.size() <= kReportedLength)
        return text.toString();
    text.truncate(kReportedLength - 3);
    if (text.back().isHighSurrogate())
        text.chop(1);
    return text + u"..."_s;
}

QStringList FieldTemplate::unknownPlaceholders() const
{
    QStringList unknown;
    for (const Piece &piece : m_pieces) {
        if (piece.column == kUnknown) {
            const QString placeholder = written(piece);
            if (!unknown.contains(placeholder))
                unknown.append(placeholder);
        }
    }
    return unknown;
}

bool FieldTemplate::usesEmptyField(const ClientList &clients, qsizetype row) const
{
    return std::any_of(m_fields.cbegin(), m_fields.cend(),
                       [&](const Piece &field) { return clients.isFieldBlank(row, field.column); });
}

QStringList FieldTemplate::emptyPlaceholders(const ClientList &clients, qsizetype row) const
{
    QStringList placeholders;
    for (const Piece &field : m_fields) {
        if (clients.isFieldBlank(row, field.column))
            placeholders.append(written(field));
    }
    return placeholders;
}

namespace {

QString htmlEscaped(const QString &value)
{
    QString escaped = value.toHtmlEscaped();
    escaped.replace(u'\'', u"&#39;"_s);
    return escaped;
}

} // namespace

QString FieldTemplate::fill(const ClientList &clients, qsizetype row, Fill mode) const
{
    if (m_pieces.isEmpty())
        return m_text;
    QString filled;
    filled.reserve(m_text.size());
    for (const Piece &piece : m_pieces) {
        if (piece.column < 0)
            filled += QStringView(m_text).sliced(piece.from, piece.length);
        else if (piece.fallbackFrom >= 0 && clients.isFieldBlank(row, piece.column))
            filled += QStringView(m_text).sliced(piece.fallbackFrom, piece.fallbackLength);
        else if (mode == Fill::Html)
            filled += htmlEscaped(clients.field(row, piece.column));
        else
            filled += clients.field(row, piece.column);
    }
    return filled;
}

QStringList FieldTemplate::fillEach(const ClientList &clients, qsizetype row, QChar separator, qsizetype limit,
                                    bool *more) const
{
    if (more)
        *more = false;
    QStringList texts{QString()};
    for (const Piece &piece : m_pieces.isEmpty() ? QList<Piece>{{0, m_text.size(), kText}} : m_pieces) {
        QStringList values;
        if (piece.column < 0) {
            values.append(m_text.sliced(piece.from, piece.length));
        } else if (piece.fallbackFrom >= 0 && clients.isFieldBlank(row, piece.column)) {
            values.append(m_text.sliced(piece.fallbackFrom, piece.fallbackLength));
        } else {
            const QString field = clients.field(row, piece.column);
            for (const QStringView value : QStringView(field).split(separator)) {
                if (!value.trimmed().isEmpty())
                    values.append(value.trimmed().toString());
            }
            // A blank field stands for nothing, as fill() writes it.
            if (values.isEmpty())
                values.append(QString());
        }
        QStringList next;
        for (const QString &text : std::as_const(texts)) {
            for (const QString &value : std::as_const(values)) {
                if (next.size() >= limit) {
                    if (more)
                        *more = true;
                    break;
                }
                next.append(text + value);
            }
        }
        texts = std::move(next);
    }
    texts.removeDuplicates();
    return texts;
}

MessageTemplate::MessageTemplate(const QString &subjectText, const QString &bodyText, const ClientList &clients)
    : subject(subjectText, clients), body(bodyText, clients)
{
}

bool MessageTemplate::hasPlaceholders() const
{
    return subject.hasPlaceholders() || body.hasPlaceholders();
}

namespace {

QStringList joinedOnce(QStringList first, const QStringList &second)
{
    for (const QString &item : second) {
        if (!first.contains(item))
            first.append(item);
    }
    return first;
}

} // namespace

QStringList MessageTemplate::unknownPlaceholders() const
{
    return joinedOnce(subject.unknownPlaceholders(), body.unknownPlaceholders());
}

bool MessageTemplate::usesEmptyField(const ClientList &clients, qsizetype row) const
{
    return subject.usesEmptyField(clients, row) || body.usesEmptyField(clients, row);
}

QStringList MessageTemplate::emptyPlaceholders(const ClientList &clients, qsizetype row) const
{
    QStringList placeholders;
    QList<qsizetype> columns;
    for (const FieldTemplate *text : {&subject, &body}) {
        for (const FieldTemplate::Piece &field : text->m_fields) {
            if (!columns.contains(field.column) && clients.isFieldBlank(row, field.column)) {
                columns.append(field.column);
                placeholders.append(text->written(field));
            }
        }
    }
    return placeholders;
}

QString unknownPlaceholderMessage(const QString &placeholder)
{
    return u"The message uses "_s + placeholder + u", which is not a column of the client file."_s;
}

} // namespace quorvale
