#pragma once

#include <QWidget>

class QTextEdit;
class QToolButton;

namespace quorvale {

class UserDialogs;

/// A rich-text editor with a small toolbar (bold, italic, bulleted list, link, picture) for a
/// formatted body or a signature. Pictures inserted from files are copied into the data folder's
/// picture folder and named by paths relative to the data folder, where the message's pictures
/// are taken from when it is sent.
class FormattedEditor final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FormattedEditor)

public:
    /// `name` is the object name of the text box; the toolbar's buttons carry it as a prefix.
    FormattedEditor(const QString &name, UserDialogs &dialogs, QWidget *parent = nullptr);

    /// The folder whose relative picture paths the HTML uses.
    void setDataFolder(const QString &folder);
    /// The HTML as it is kept and sent; empty when the text box is empty (no text, no picture).
    QString html() const;
    void setHtml(const QString &html);
    QTextEdit *textBox() const { return m_text; }

    /// Inserts the picture in the file `path` at the cursor (the Picture button after its file
    /// dialog); false, having warned, when it cannot be kept.
    bool insertPicture(const QString &path);
    /// Makes the selected text (or, with none, `address` itself) a link to `address`.
    void insertLink(const QString &address);

private:
    QToolButton *makeTool(const QString &name, const QString &text, const QString &toolTip);
    void choosePicture();
    void askLink();

    UserDialogs &m_dialogs;
    QString m_dataFolder;
    QTextEdit *m_text = nullptr;
};

} // namespace quorvale
