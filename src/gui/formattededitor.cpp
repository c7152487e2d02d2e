#include "gui/formattededitor.h"

#include "gui/userdialogs.h"
#include "mail/htmlbody.h"
#include "settings/bodyfile.h"

#include <QDir>
#include <QHBoxLayout>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextList>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace quorvale {

FormattedEditor::FormattedEditor(const QString &name, UserDialogs &dialogs, QWidget *parent)
    : QWidget(parent), m_dialogs(dialogs)
{
    setObjectName(name + u"Editor"_s);
    m_text = new QTextEdit(this);
    m_text->setObjectName(name);
    m_text->setAcceptRichText(true);
    m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto *bold = makeTool(name + u"Bold"_s, u"B"_s, u"Bold (Ctrl+B)"_s);
    QFont boldFont = bold->font();
    boldFont.setBold(true);
    bold->setFont(boldFont);
    bold->setShortcut(QKeySequence::Bold);
    auto *italic = makeTool(name + u"Italic"_s, u"I"_s, u"Italic (Ctrl+I)"_s);
    QFont italicFont = italic->font();
    italicFont.setItalic(true);
    italic->setFont(italicFont);
    italic->setShortcut(QKeySequence::Italic);
    auto *list = makeTool(name + u"List"_s, u"\u2022 List"_s, u"Bulleted list"_s);
    auto *link = makeTool(name + u"Link"_s, u"Link..."_s, u"Make the selected text a link"_s);
    auto *picture = makeTool(name + u"Picture"_s, u"Picture..."_s, u"Insert a picture from a file"_s);
    bold->setCheckable(true);
    italic->setCheckable(true);

    auto *tools = new QHBoxLayout;
    tools->setContentsMargins(0, 0, 0, 0);
    tools->setSpacing(2);
    for (QToolButton *tool : {bold, italic, list, link, picture})
        tools->addWidget(tool);
    tools->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(tools);
    layout->addWidget(m_text, 1);

    connect(bold, &QToolButton::clicked, this, [this](bool on) {
        m_text->setFontWeight(on ? QFont::Bold : QFont::Normal);
        m_text->setFocus();
    });
    connect(italic, &QToolButton::clicked, this, [this](bool on) {
        m_text->setFontItalic(on);
        m_text->setFocus();
    });
    connect(m_text, &QTextEdit::currentCharFormatChanged, this, [bold, italic](const QTextCharFormat &format) {
        bold->setChecked(format.fontWeight() >= QFont::Bold);
        italic->setChecked(format.fontItalic());
    });
    connect(list, &QToolButton::clicked, this, [this] {
        QTextCursor cursor = m_text->textCursor();
        if (QTextList *current = cursor.currentList()) {
            // A second press ends the list for this paragraph.
            current->remove(cursor.block());
            QTextBlockFormat plain = cursor.blockFormat();
            plain.setIndent(0);
            cursor.setBlockFormat(plain);
        } else {
            cursor.createList(QTextListFormat::ListDisc);
        }
        m_text->setFocus();
    });
    connect(link, &QToolButton::clicked, this, &FormattedEditor::askLink);
    connect(picture, &QToolButton::clicked, this, &FormattedEditor::choosePicture);
}

QToolButton *FormattedEditor::makeTool(const QString &name, const QString &text, const QString &toolTip)
{
    auto *tool = new QToolButton(this);
    tool->setObjectName(name);
    tool->setText(text);
    tool->setToolTip(toolTip);
    tool->setAutoRaise(true);
    tool->setFocusPolicy(Qt::NoFocus);
    return tool;
}

void FormattedEditor::setDataFolder(const QString &folder)
{
    m_dataFolder = folder;
    // The pictures' relative paths are shown from the folder they are sent from.
    m_text->document()->setBaseUrl(QUrl::fromLocalFile(QDir(folder).absolutePath() + u'/'));
}

QString FormattedEditor::html() const
{
    const QTextDocument *document = m_text->document();
    // Nothing typed: no formatted body, rather than an empty page of markup.
    if (document->isEmpty())
        return {};
    // The document writes every '"' as "&quot;", also inside a field's quoted text.
    return unescapeFieldQuotes(document->toHtml());
}

void FormattedEditor::setHtml(const QString &html)
{
    m_text->setHtml(html);
}

bool FormattedEditor::insertPicture(const QString &path)
{
    QString error;
    const QString kept = keepPicture(m_dataFolder, path, &error);
    if (kept.isEmpty()) {
        m_dialogs.warn(this, error);
        return false;
    }
    QTextImageFormat image;
    image.setName(kept);
    m_text->textCursor().insertImage(image);
    return true;
}

void FormattedEditor::insertLink(const QString &address)
{
    const QString target = address.trimmed();
    if (target.isEmpty())
        return;
    QTextCursor cursor = m_text->textCursor();
    const QString text = cursor.hasSelection() ? cursor.selectedText() : target;
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(target);
    format.setForeground(palette().link());
    format.setFontUnderline(true);
    cursor.insertText(text, format);
    // What is typed after the link is no part of it.
    cursor.setCharFormat(QTextCharFormat());
    m_text->setTextCursor(cursor);
}

void FormattedEditor::choosePicture()
{
    const QString path = m_dialogs.chooseOpenFile(this, u"Insert Picture"_s,
                                                  u"Pictures (*.png *.jpg *.jpeg *.gif);;All Files (*)"_s,
                                                  QDir::homePath(), QString());
    if (!path.isEmpty())
        insertPicture(path);
    m_text->setFocus();
}

void FormattedEditor::askLink()
{
    const QString address = m_dialogs.askText(this, u"Link"_s, u"Address of the link (https://... or mailto:...):"_s);
    insertLink(address);
    m_text->setFocus();
}

} // namespace quorvale
