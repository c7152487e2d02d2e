#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace quorvale {

// Small builders for the controls of Quorvale's windows: each control carries the object name
// that tests and the help refer to, and its tool tip when it has one.

inline QLabel *makeLabel(const QString &name, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

inline QLineEdit *makeLineEdit(const QString &name, const QString &toolTip, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setToolTip(toolTip);
    return edit;
}

inline QPushButton *makeButton(const QString &name, const QString &text, const QString &toolTip, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    if (!toolTip.isEmpty())
        button->setToolTip(toolTip);
    return button;
}

/// Gives a top-level window `preferred` size, or less on a small screen: never larger than the
/// free area of its screen (leaving room for the frame the window manager adds), never smaller
/// than its minimum size; centred in that area.
inline void fitToScreen(QWidget *window, QSize preferred)
{
    const QScreen *screen = window->screen();
    const QRect free = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    window->resize(preferred.boundedTo(free.size() - QSize(16, 48)).expandedTo(window->minimumSize()));
    window->move(free.topLeft() + QPoint(qMax(0, (free.width() - window->width()) / 2),
                                         qMax(0, (free.height() - window->height() - 40) / 2)));
}

} // namespace quorvale
