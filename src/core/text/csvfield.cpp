#include "text/csvfield.h"

#include <QString>

using namespace Qt::StringLiterals;

namespace quorvale {

QByteArray csvField(QStringView text, CsvQuoting quoting)
{
    QString field = text.toString();
    if (quoting.guardFormulas && !field.isEmpty() && QStringView(u"=+-@\t\r").contains(field.front()))
        field.prepend(u'\'');
    const bool quoted = quoting.always || field.contains(u',') || field.contains(u'"') || field.contains(u'\r') ||
                        field.contains(u'\n') || field.startsWith(u' ') || field.endsWith(u' ');
    if (!quoted)
        return field.toUtf8();
    field.replace(u'"', u"\"\""_s);
    return '"' + field.toUtf8() + '"';
}

} // namespace quorvale
