#include "text/mailaddress.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control;
}

} // namespace

bool isSingleMailAddress(const QString &address)
{
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at == address.size() - 1 || address.indexOf(u'@', at + 1) >= 0)
        return false;
    return std::none_of(address.cbegin(), address.cend(), [](QChar c) {
        return c.isSpace() || isControl(c) || c.category() == QChar::Other_Format || u"<>()[],;:\"\\"_s.contains(c);
    });
}

bool isOneLineText(const QString &text)
{
    return std::none_of(text.cbegin(), text.cend(), isControl);
}

} // namespace quorvale
