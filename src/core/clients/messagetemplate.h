#pragma once

#include "clients/clientlist.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quorvale {

/// A subject or a body whose placeholders are filled from each client's line, parsed once.
///
/// `{{id}}` is the client identifier, `{{email}}` the address, `{{3}}`, `{{4}}`, ... the third,
/// fourth, ... field (`{{1}}` and `{{2}}` the first two), and `{{Name}}` the column whose name in
/// the file's first line is Name. Names are compared without letter case and surrounding blanks.
/// The fixed names come first: `{{id}}`, `{{email}}` and a number always mean that field, even when
/// a column is called "id", "Email" or "3", so a message means the same with or without column
/// names; a column's name is looked up only when it is none of these. `{{"text"}}` stands for the
/// text between the quotes: `{{"{{"}}` is how a literal "{{" is written.
///
/// A field may carry a fallback after a "|": `{{Name|Client}}` writes "Client" where the client's
/// Name is empty or blank, and is therefore never counted as an empty field (`{{Name|}}` writes
/// nothing there). Blanks around the fallback are dropped; the first "|" ends the name, so a
/// column whose name holds one is reached by its number. A fallback on a name that no column
/// has does not make it known.
///
/// Every "{{" opens a placeholder, which ends at the first "}}" on the same line. One that is not
/// closed on its line, is empty, or names no column (a number beyond the file's widest line, a
/// name that no column has) is unknown: it is reported, and filling leaves it as written. A text
/// without "{{" holds no placeholder and is given back unchanged.
class FieldTemplate
{
public:
    FieldTemplate() = default;
    /// Parses `text` against the columns of `clients`: their names and how many there are.
    FieldTemplate(const QString &text, const ClientList &clients);

    /// The text as written.
    const QString &text() const;
    /// Whether the text holds any placeholder, known or not; without one, fill() gives the text back.
    bool hasPlaceholders() const;
    /// The placeholders that name no column, as written ("{{Name}}"), each once, in order. One
    /// longer than 40 characters (an unclosed one runs to the end of its line) is cut short with "...".
    QStringList unknownPlaceholders() const;
    /// Whether a field the text uses without a fallback is empty or blank on row `row` of
    /// `clients` (a line without that field included).
    bool usesEmptyField(const ClientList &clients, qsizetype row) const;
    /// The placeholders without a fallback whose field is empty or blank on row `row`, one per
    /// field as first written, in order.
    QStringList emptyPlaceholders(const ClientList &clients, qsizetype row) const;

    /// How a field's value goes into the text.
    enum class Fill
    {
        Text, ///< exactly as read
        Html, ///< HTML-escaped (& < > " '), for a text that is HTML
    };
    /// The text for row `row` of `clients`: every placeholder replaced by its field exactly as read
    /// (inserted as text, never read for placeholders again) or, when the field is empty or blank,
    /// by its fallback; a quoted one by its text, an unknown one left as written. With Fill::Html,
    /// field values are escaped; the text's own words (quoted text, fallbacks) are not.
    QString fill(const ClientList &clients, qsizetype row, Fill mode = Fill::Text) const;
    /// The texts for row `row` when a field holding several values separated by `separator` stands
    /// for each of them in turn (blanks around each value dropped, empty values skipped): one text
    /// per combination, in order, each once. Stops after `limit` texts; `more`, when given, says
    /// whether there were more.
    QStringList fillEach(const ClientList &clients, qsizetype row, QChar separator, qsizetype limit,
                         bool *more = nullptr) const;

private:
    friend struct MessageTemplate;
    // A run of m_text to copy (literal text, the text inside a quoted placeholder), or a
    // placeholder as written with the field it stands for (column >= 0) or none, and where its
    // fallback is in m_text (fallbackFrom < 0: it has none).
    struct Piece
    {
        qsizetype from;
        qsizetype length;
        qsizetype column;
        qsizetype fallbackFrom = -1;
        qsizetype fallbackLength = 0;
    };
    static constexpr qsizetype kText = -1;
    static constexpr qsizetype kUnknown = -2;

    QString written(const Piece &piece) const;

    QString m_text;
    QList<Piece> m_pieces; // empty when the text holds no placeholder
    QList<Piece> m_fields; // the first placeholder without a fallback of each field used, in order
};

/// A mailing's subject and body, each parsed once against the client list's columns.
struct MessageTemplate
{
    MessageTemplate() = default;
    MessageTemplate(const QString &subjectText, const QString &bodyText, const ClientList &clients);

    /// Whether the subject or the body holds any placeholder.
    bool hasPlaceholders() const;
    /// The subject's unknown placeholders, then the body's, each once.
    QStringList unknownPlaceholders() const;
    /// Whether the subject or the body uses a field that is empty or blank on row `row`.
    bool usesEmptyField(const ClientList &clients, qsizetype row) const;
    /// The subject's placeholders with an empty field on row `row`, then the body's, one per field
    /// as first written.
    QStringList emptyPlaceholders(const ClientList &clients, qsizetype row) const;

    FieldTemplate subject;
    FieldTemplate body;
};

/// The warning that stops a run whose message uses `placeholder` (as written), which names no column.
QString unknownPlaceholderMessage(const QString &placeholder);

} // namespace quorvale
