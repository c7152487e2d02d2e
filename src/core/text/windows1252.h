#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace quorvale {

/// `bytes` read as Windows-1252, as UTF-8. Every byte keeps its place: line ends and commas stay
/// where they were, and the five codes Windows-1252 leaves undefined keep their Latin-1 meaning,
/// so no byte is lost.
QByteArray windows1252ToUtf8(QByteArrayView bytes);

} // namespace quorvale
