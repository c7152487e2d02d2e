#pragma once

#include <QIcon>
#include <QPixmap>

namespace quorvale {

/// The program's picture, an envelope, drawn at `size` pixels square.
QPixmap appPixmap(int size);
/// The window icon, in the sizes a desktop asks for.
QIcon appIcon();

} // namespace quorvale
