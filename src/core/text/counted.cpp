#include "text/counted.h"

namespace quorvale {

QString counted(qint64 count, const char *one, const char *many)
{
    return QString::number(count) + u' ' + QString::fromLatin1(count == 1 ? one : many);
}

} // namespace quorvale
