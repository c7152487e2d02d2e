#pragma once

#include <QDialog>

namespace quorvale {

class FormattedEditor;
class UserDialogs;

/// frmSignature: the signature that ends every message, formatted, with a logo picture if wanted.
/// OK keeps it as Signature.html in the data folder; an empty signature removes it, and messages
/// go without one.
class SignatureDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SignatureDialog)

public:
    SignatureDialog(const QString &dataFolder, UserDialogs &dialogs, QWidget *parent = nullptr);

    FormattedEditor *editor() const { return m_editor; }
    /// Saves the signature; false, having warned, when it cannot be.
    bool save();

private:
    QString m_dataFolder;
    UserDialogs &m_dialogs;
    FormattedEditor *m_editor = nullptr;
};

} // namespace quorvale
