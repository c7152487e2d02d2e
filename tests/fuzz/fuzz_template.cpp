// Message templates on arbitrary text. The input is a client file's line of column names, a line of
// one client's fields, and the text of a subject or body, split at the first two NUL bytes. Rules:
// - a text without "{{" holds no placeholder and fills to itself;
// - any text written with every "{{" as {{"{{"}} holds no field and fills to the text itself;
// - a placeholder whose name is no fixed name, no field number and no column is reported as
//   unknown, and one that names a column is filled with that column's field;
// - a name followed by "|" and a fallback is filled with the fallback (blanks around it dropped)
//   where the field is blank, and is never reported as an empty field;
// - filling, reporting and parsing never crash on any text, lone surrogates included.

#include "clients/messagetemplate.h"
#include "fuzzclient.h"

using namespace Qt::StringLiterals;
using namespace quorvale;

namespace {

// The column a name stands for, found the simple way: -1 when none.
qsizetype expectedColumn(const QString &name, const ClientList &clients)
{
    const QString key = name.trimmed().toCaseFolded();
    if (key == u"id"_s)
        return 0;
    if (key == u"email"_s)
        return 1;
    bool number = !key.isEmpty() && !key.startsWith(u'0');
    for (const QChar c : key)
        number = number && c >= u'0' && c <= u'9';
    if (number)
        return key.size() < 7 && key.toLongLong() <= clients.columnCount() ? key.toLongLong() - 1 : -1;
    for (qsizetype i = 0; !key.isEmpty() && i < clients.columnNames().size(); ++i) {
        if (clients.columnNames()[i].trimmed().toCaseFolded() == key)
            return i;
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::optional<fuzz::OneClient> client = fuzz::oneClientOf(data, size);
    if (!client)
        return 0;
    const ClientList &clients = client->clients;
    const size_t start = client->textStart;
    // Text as a form gives it, and the same bytes as UTF-16 code units, lone surrogates and all.
    for (const QString &text :
         {QString::fromUtf8(fuzz::bytesOf(data + start, size - start)), fuzz::utf16Of(data + start, size - start)}) {
        const FieldTemplate parsed(text, clients);
        const QString filled = parsed.fill(clients, 0);
        FUZZ_CHECK(parsed.usesEmptyField(clients, 0) == !parsed.emptyPlaceholders(clients, 0).isEmpty());
        FUZZ_CHECK(parsed.hasPlaceholders() == text.contains(u"{{"_s));
        if (!parsed.hasPlaceholders())
            FUZZ_CHECK(filled == text && parsed.unknownPlaceholders().isEmpty());

        QString escaped = text;
        escaped.replace(u"{{"_s, u"{{\"{{\"}}"_s);
        const FieldTemplate literal(escaped, clients);
        FUZZ_CHECK(literal.fill(clients, 0) == text && literal.unknownPlaceholders().isEmpty());

        // The text's first line as a name between braces.
        const QString name = text.section(u'\n', 0, 0).section(u'\r', 0, 0);
        if (name.contains(u"}}"_s) || name.contains(u"{{"_s) || name.endsWith(u'}') ||
            (name.trimmed().startsWith(u'"') && name.trimmed().endsWith(u'"') && name.trimmed().size() >= 2))
            continue;
        const QString placeholder = u"{{"_s + name + u"}}"_s;
        const FieldTemplate single(u"<"_s + placeholder + u">"_s, clients);
        const bool hasFallback = name.contains(u'|');
        const qsizetype column = expectedColumn(name.section(u'|', 0, 0), clients);
        if (column < 0) {
            FUZZ_CHECK(single.unknownPlaceholders().size() == 1 &&
                       single.fill(clients, 0) == u"<"_s + placeholder + u">"_s);
            FUZZ_CHECK(placeholder.size() > 40 || single.unknownPlaceholders()[0] == placeholder);
        } else {
            const bool blank = clients.isFieldBlank(0, column);
            const QString value = hasFallback && blank ? name.section(u'|', 1).trimmed() : clients.field(0, column);
            FUZZ_CHECK(single.unknownPlaceholders().isEmpty());
            FUZZ_CHECK(single.fill(clients, 0) == u"<"_s + value + u">"_s);
            FUZZ_CHECK(single.usesEmptyField(clients, 0) == (blank && !hasFallback));
        }
    }
    return 0;
}
