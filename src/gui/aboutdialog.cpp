#include "gui/aboutdialog.h"

#include "appinfo.h"
#include "gui/appicon.h"
#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

QLabel *makeLink(const QString &name, const QString &text, const QString &target, UserDialogs &dialogs, QWidget *parent)
{
    auto *label = makeLabel(name, u"<a href=\"%1\">%2</a>"_s.arg(target.toHtmlEscaped(), text.toHtmlEscaped()), parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setToolTip(target);
    QObject::connect(label, &QLabel::linkActivated, parent,
                     [&dialogs](const QString &link) { dialogs.openUrl(QUrl(link)); });
    return label;
}

} // namespace

AboutDialog::AboutDialog(UserDialogs &dialogs, QWidget *parent) : QDialog(parent)
{
    setObjectName(u"frmAbout"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto *picture = new QLabel(this);
    picture->setPixmap(appPixmap(64));
    auto *lblTitle = makeLabel(u"lblTitle"_s, QString(), this);
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    lblTitle->setFont(titleFont);
    auto *lblVersion = makeLabel(u"lblVersion"_s, QString(), this);
    auto *heading = new QVBoxLayout;
    heading->addStretch(1);
    heading->addWidget(lblTitle);
    heading->addWidget(lblVersion);
    heading->addStretch(1);
    auto *top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(heading, 1);

    auto *line1 = new QFrame(this);
    line1->setObjectName(u"Line1"_s);
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);

    const QString web = QString::fromLatin1(kWebAddress);
    const QString sales = QString::fromLatin1(kSalesAddress);
    auto *links = new QGridLayout;
    links->addWidget(makeLabel(u"Label2"_s, u"Web Address:"_s, this), 0, 0);
    links->addWidget(makeLink(u"URLLabel2"_s, web, web, dialogs, this), 0, 1);
    links->addWidget(makeLabel(u"lblDescription"_s, u"Email: "_s, this), 1, 0);
    links->addWidget(makeLink(u"URLLabel1"_s, sales, u"mailto:" + sales, dialogs, this), 1, 1);
    links->setColumnStretch(1, 1);
    links->setHorizontalSpacing(10);

    auto *lblDisclaimer =
        makeLabel(u"lblDisclaimer"_s,
                  u"Warning: this program is provided \"as is\", without warranty of any kind. Check your "
                  "client list, message and attachments before every run; the authors accept no liability "
                  "for messages sent, not sent or sent to the wrong address."_s,
                  this);
    lblDisclaimer->setWordWrap(true);
    QFont small = lblDisclaimer->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    lblDisclaimer->setFont(small);

    auto *cmdOK = new QPushButton(u"&OK"_s, this);
    cmdOK->setObjectName(u"cmdOK"_s);
    cmdOK->setToolTip(u"Click to close window"_s);
    cmdOK->setIcon(tickPixmap(64));
    cmdOK->setIconSize(QSize(64, 64));
    cmdOK->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(10);
    layout->addLayout(top);
    layout->addWidget(line1);
    layout->addLayout(links);
    layout->addWidget(lblDisclaimer);
    layout->addLayout(buttons);
    setFixedWidth(440);

    // Load: the caption, the version and the title.
    setWindowTitle(u"About " + appTitle());
    lblVersion->setText(u"Version " + appVersion());
    lblTitle->setText(appTitle());

    // OK is the default button (Enter) and, as QDialog's reject, the cancel button (Esc).
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::close);
}

} // namespace quorvale
