#pragma once

#include <QIcon>
#include <QPixmap>

namespace quorvale {

/// The program's picture, an envelope, drawn at `size` pixels square.
QPixmap appPixmap(int size);
/// A green tick, the picture on the about box's OK button.
QPixmap tickPixmap(int size);
/// The window icon, in the sizes a desktop asks for.
QIcon appIcon();

} // namespace quorvale
