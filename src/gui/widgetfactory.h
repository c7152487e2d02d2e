#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

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

} // namespace quorvale
