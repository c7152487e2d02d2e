#include "gui/signaturedialog.h"

#include "gui/formattededitor.h"
#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"
#include "settings/bodyfile.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace quorvale {

SignatureDialog::SignatureDialog(const QString &dataFolder, UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_dataFolder(dataFolder), m_dialogs(dialogs)
{
    setObjectName(u"frmSignature"_s);
    setWindowTitle(u"Signature"_s);
    auto *label = makeLabel(u"lblSignature"_s,
                            u"Added to the end of every message (as text to a plain message):"_s, this);
    m_editor = new FormattedEditor(u"txtSignature"_s, dialogs, this);
    m_editor->setDataFolder(dataFolder);
    m_editor->textBox()->setToolTip(u"The signature, with a logo picture if you like"_s);
    QString html;
    QString error;
    if (!readHtmlFile(signatureFilePath(dataFolder), html, &error))
        QMetaObject::invokeMethod(
            this, [this, error] { m_dialogs.warn(this, error); }, Qt::QueuedConnection);
    m_editor->setHtml(html);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(u"cmdSignatureOK"_s);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(u"cmdSignatureCancel"_s);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_editor, 1);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (save())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    fitToScreen(this, QSize(560, 340));
}

bool SignatureDialog::save()
{
    QString error;
    if (writeHtmlFile(signatureFilePath(m_dataFolder), m_editor->html(), &error))
        return true;
    m_dialogs.warn(this, error);
    return false;
}

} // namespace quorvale
