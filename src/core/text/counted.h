#pragma once

#include <QString>

namespace quorvale {

/// "1 client", "3 clients": the count and the word that goes with it.
QString counted(qint64 count, const char *one, const char *many);

} // namespace quorvale
