#include "gui/setupdialog.h"

#include "auth/oauthsignin.h"
#include "auth/providertable.h"
#include "auth/signinaccount.h"
#include "check/clientcheck.h"
#include "gui/settingsholder.h"
#include "gui/signaturedialog.h"
#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"
#include "run/printer.h"
#include "settings/settingstable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace quorvale {

using namespace Qt::StringLiterals;

namespace {

/// The sign-in methods as the settings name them, with the words the dialog shows.
const QList<std::pair<QString, QString>> kSignInMethods{
    {u"password"_s, u"Password"_s},
    {u"oauth"_s, u"OAuth sign-in"_s},
    {u"password-command"_s, u"Password command"_s},
    {u"token-command"_s, u"Token command"_s},
};
/// The providers' names and titles, from the one table of providers.
QList<std::pair<QString, QString>> providerChoices()
{
    QList<std::pair<QString, QString>> choices;
    for (const MailProviderFacts &provider : mailProviders())
        choices.append({provider.name, provider.title});
    return choices;
}

void fillChoices(QComboBox *box, const QList<std::pair<QString, QString>> &choices)
{
    for (const auto &[word, caption] : choices)
        box->addItem(caption, word);
}

QString chosenWord(const QComboBox *box)
{
    return box->currentData().toString();
}

/// A text that wraps at the width its row gives it: it asks for no width of its own, and for the
/// height of its lines at the width it has. (Given a height that depends on the width, the form
/// layouts miscount such a text's lines and cut it, or the row under it.)
class RowText final : public QLabel
{
public:
    RowText(const QString &name, const QString &text, QWidget *parent) : QLabel(text, parent)
    {
        setObjectName(name);
        setWordWrap(true);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    }
    bool hasHeightForWidth() const override { return false; }
    QSize sizeHint() const override { return {0, linesHeight()}; }
    QSize minimumSizeHint() const override { return {0, linesHeight()}; }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        // Narrower or wider, the text may take more or fewer lines.
        if (event->size().width() != event->oldSize().width() && height() != linesHeight())
            updateGeometry();
    }

private:
    int linesHeight() const { return text().isEmpty() ? 0 : heightForWidth(std::max(width(), 1)); }
};

/// The window's browser: the desktop's, through the dialogs' seam.
class DialogsBrowser final : public BrowserOpener
{
public:
    explicit DialogsBrowser(UserDialogs &dialogs) : m_dialogs(dialogs) {}
    bool openUrl(const QUrl &url) override
    {
        m_dialogs.openUrl(url);
        return true;
    }

private:
    UserDialogs &m_dialogs;
};

} // namespace

SetupDialog::SetupDialog(SettingsHolder &settings, SettingsStore &store, Printer &printer, UserDialogs &dialogs,
                         const QString & /*helpFolder*/, std::shared_ptr<SignInAccount> account, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_store(store), m_printer(printer), m_dialogs(dialogs),
      m_account(std::move(account))
{
    setObjectName(u"frmSetup"_s);
    setWindowTitle(u"Setup"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    buildUi();
    load();
    growToFit();
    lookUpSecrets();
}

SetupDialog::~SetupDialog() = default;

void SetupDialog::buildUi()
{
    // The frames first: Enter must not press any of their buttons (below).
    QGroupBox *mail = buildMailFrame();
    QGroupBox *schedule = buildScheduleFrame();
    QGroupBox *print = buildPrintFrame();
    QGroupBox *sentCopy = buildSentCopyFrame();
    auto *cmdOK = makeButton(u"cmdOK"_s, u"OK"_s, QString(), this);
    m_cmdOK = cmdOK;
    auto *cmdHelp = makeButton(u"cmdHelp"_s, u"&Help"_s, QString(), this);
    // Enter in any box presses OK, never the button that happens to have the focus.
    for (auto *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);
    cmdOK->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdHelp);
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    cmdOK->setMinimumWidth(96);

    auto *right = new QVBoxLayout;
    right->addWidget(schedule);
    right->addWidget(print);
    right->addWidget(sentCopy);
    right->addStretch(1);
    // The frames scroll when the screen is too small for them; Help and OK stay below, always in view.
    auto *content = new QWidget;
    content->setObjectName(u"setupContent"_s);
    auto *columns = new QHBoxLayout(content);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(12);
    columns->addWidget(mail, 1);
    columns->addLayout(right, 1);
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(u"scrollSetup"_s);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setWidget(content);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_scroll, 1);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    const QList<QWidget *> tabOrder{
        m_txtMailFrom,  m_txtMailFromName, m_txtReplyTo,      m_txtArchiveCopyTo,
        m_txtSMTPServer,  m_cboAuth,           m_txtEmailSslPort,      m_txtUsername,
        m_txtPassword,  m_cmdTestEmail,   m_chkEnableSchedule, m_txtDelayBetweenSends, m_txtGroupDelay,
        m_txtGroupSize, m_txtPdfLocation, m_cmdBrowse,         m_cmdTestPrinting,      cmdHelp,
        cmdOK};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(cmdOK, &QPushButton::clicked, this, &SetupDialog::cmdOK_Click);
    connect(cmdHelp, &QPushButton::clicked, this, &SetupDialog::cmdHelp_Click);
}

QGroupBox *SetupDialog::buildMailFrame()
{
    // Email Configuration: sender and server, with the login details in their own frame.
    auto *frame1 = new QGroupBox(u"Email Configuration"_s, this);
    frame1->setObjectName(u"Frame1"_s);
    m_txtMailFrom = makeLineEdit(u"txtMailFrom"_s, u"Return Address"_s, frame1);
    m_txtSMTPServer = makeLineEdit(u"txtSMTPServer"_s, u"SMTP server"_s, frame1);
    m_txtMailFromName = makeLineEdit(u"txtMailFromName"_s, u"The name your clients see beside the address"_s, frame1);
    m_txtReplyTo = makeLineEdit(u"txtReplyTo"_s, u"Where replies go (empty: to the Email From address)"_s, frame1);
    m_txtArchiveCopyTo = makeLineEdit(
        u"txtArchiveCopyTo"_s, u"Gets a blind copy of every client's message (empty: no copy)"_s, frame1);
    // A sender that is no e-mail address is said beside the box as it is typed; it is not refused.
    m_lblMailFromWarning = makeLabel(u"lblMailFromWarning"_s, u"This is not an e-mail address."_s, frame1);
    m_lblMailFromWarning->hide();
    connect(m_txtMailFrom, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_lblMailFromWarning->setVisible(!text.trimmed().isEmpty() && !isUsableMailAddress(text.trimmed()));
    });
    auto *top = new QFormLayout;
    top->addRow(makeLabel(u"Label1"_s, u"Email From"_s, frame1), m_txtMailFrom);
    top->addRow(QString(), m_lblMailFromWarning);
    top->addRow(makeLabel(u"lblMailFromName"_s, u"Sender name"_s, frame1), m_txtMailFromName);
    top->addRow(makeLabel(u"lblReplyTo"_s, u"Reply-To"_s, frame1), m_txtReplyTo);
    top->addRow(makeLabel(u"lblArchiveCopyTo"_s, u"Archive copy to"_s, frame1), m_txtArchiveCopyTo);
    // Straight to the SMTP server below, or handed to this computer's mail queue, which relays it.
    m_cboSendMethod = new QComboBox(frame1);
    m_cboSendMethod->setObjectName(u"cboSendMethod"_s);
    m_cboSendMethod->setToolTip(u"The mail queue (Postfix) of this computer suits several staff and more mail than "
                                "one mailbox may send; see Help"_s);
    fillChoices(m_cboSendMethod, {{u"smtp"_s, u"SMTP server"_s}, {u"queue"_s, u"This computer's mail queue"_s}});
    top->addRow(makeLabel(u"lblSendMethod"_s, u"Send by"_s, frame1), m_cboSendMethod);
    top->addRow(makeLabel(u"Label26"_s, u"SMTP Server"_s, frame1), m_txtSMTPServer);

    auto *frame8 = new QGroupBox(u"Authentication"_s, frame1);
    frame8->setObjectName(u"Frame8"_s);
    m_cboAuth = new QComboBox(frame8);
    m_cboAuth->setObjectName(u"cboAuth"_s);
    m_cboAuth->setToolTip(u"Authentication type"_s);
    m_txtEmailSslPort = makeLineEdit(u"txtEmailSslPort"_s, u"SSL port"_s, frame8);
    m_txtUsername = makeLineEdit(u"txtUsername"_s, u"Login name"_s, frame8);
    m_txtPassword = makeLineEdit(u"txtPassword"_s, u"Login password"_s, frame8);
    m_txtPassword->setEchoMode(QLineEdit::Password);
    // Room for a full sender address or server name without scrolling.
    const int wide = fontMetrics().horizontalAdvance(u"office@practice-name.example.com"_s);
    for (QLineEdit *edit : {m_txtMailFrom, m_txtMailFromName, m_txtReplyTo, m_txtArchiveCopyTo, m_txtSMTPServer,
                            m_txtEmailSslPort, m_txtUsername, m_txtPassword})
        edit->setMinimumWidth(wide);
    // "Simple" is plain SMTP: said beside the choice whenever a login would go with it.
    m_lblSimpleWarning =
        new RowText(u"lblSimpleWarning"_s, u"Simple sends the user name and password unencrypted."_s, frame8);
    m_lblSimpleWarning->hide();
    auto *auth = new QFormLayout(frame8);
    auth->addRow(makeLabel(u"Label6"_s, u"Type"_s, frame8), m_cboAuth);
    auth->addRow(QString(), m_lblSimpleWarning);
    auth->addRow(makeLabel(u"Label40"_s, u"SSL Port"_s, frame8), m_txtEmailSslPort);
    auth->addRow(makeLabel(u"Label10"_s, u"Username"_s, frame8), m_txtUsername);
    auth->addRow(makeLabel(u"Label9"_s, u"Password"_s, frame8), m_txtPassword);
    buildSignInRows(frame8, auth);

    m_cmdTestEmail = makeButton(u"cmdTestEmail"_s, u"Test &Email"_s, u"Sends a test email"_s, frame1);
    // The signature ends every message; it is kept in its own file, not with these settings.
    auto *cmdSignature = makeButton(u"cmdSignature"_s, u"Si&gnature..."_s,
                                    u"The signature added to every message, with a logo picture"_s, frame1);
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(cmdSignature);
    testRow->addStretch(1);
    testRow->addWidget(m_cmdTestEmail);
    connect(cmdSignature, &QPushButton::clicked, this, &SetupDialog::cmdSignature_Click);
    auto *frame1Layout = new QVBoxLayout(frame1);
    frame1Layout->addLayout(top);
    frame1Layout->addWidget(frame8);
    frame1Layout->addLayout(testRow);
    frame1Layout->addStretch(1);
    connect(m_cmdTestEmail, &QPushButton::clicked, this, &SetupDialog::cmdTestEmail_Click);
    connect(m_cboAuth, &QComboBox::currentIndexChanged, this, &SetupDialog::showSimpleWarning);
    connect(m_txtUsername, &QLineEdit::textChanged, this, &SetupDialog::showSimpleWarning);
    return frame1;
}

void SetupDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Now that its texts have their widths, the heights of those that wrap are known.
    growToFit();
}

void SetupDialog::cmdSignature_Click()
{
    auto *dialog = new SignatureDialog(m_settings.get().DataFolder, m_dialogs, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void SetupDialog::buildSignInRows(QGroupBox *frame, QFormLayout *rows)
{
    m_authRows = rows;
    m_cboSignIn = new QComboBox(frame);
    m_cboSignIn->setObjectName(u"cboSignIn"_s);
    m_cboSignIn->setToolTip(u"How the login gets its password or token"_s);
    fillChoices(m_cboSignIn, kSignInMethods);
    m_cboProvider = new QComboBox(frame);
    m_cboProvider->setObjectName(u"cboProvider"_s);
    m_cboProvider->setToolTip(u"Who signs you in; choosing one fills in its mail server"_s);
    fillChoices(m_cboProvider, providerChoices());
    m_txtTenant =
        makeLineEdit(u"txtTenant"_s, u"The Microsoft 365 tenant (empty: any work or school account)"_s, frame);
    m_txtClientId = makeLineEdit(u"txtClientId"_s, u"The application (client) ID registered for Quorvale"_s, frame);
    m_txtClientSecret = makeLineEdit(u"txtClientSecret"_s, u"Only for clients that have one (Google)"_s, frame);
    m_txtClientSecret->setEchoMode(QLineEdit::Password);
    m_txtAuthorizeUrl = makeLineEdit(u"txtAuthorizeUrl"_s, u"The provider's authorization address (https)"_s, frame);
    m_txtTokenUrl = makeLineEdit(u"txtTokenUrl"_s, u"The provider's token address (https)"_s, frame);
    m_txtScope = makeLineEdit(u"txtScope"_s, u"The permissions to ask for, separated by spaces"_s, frame);
    m_txtPasswordCommand = makeLineEdit(
        u"txtPasswordCommand"_s, u"Run before each send; its first output line is the password or token"_s, frame);
    m_cmdSignIn = makeButton(u"cmdSignIn"_s, u"Sign &in..."_s, u"Sign in in your web browser"_s, frame);
    m_lblSignedIn = new RowText(u"lblSignedIn"_s, QString(), frame);
    m_lblSignedIn->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The address to sign in at, for when no browser opened: it has no spaces, so it wraps
    // anywhere, and it can be copied whole.
    m_signInAddress = new QWidget(frame);
    m_signInAddress->setObjectName(u"signInAddress"_s);
    m_txtSignInAddress = new QPlainTextEdit(m_signInAddress);
    m_txtSignInAddress->setObjectName(u"txtSignInAddress"_s);
    m_txtSignInAddress->setToolTip(u"Open this address in a web browser to sign in"_s);
    m_txtSignInAddress->setReadOnly(true);
    m_txtSignInAddress->setWordWrapMode(QTextOption::WrapAnywhere);
    m_txtSignInAddress->setTabChangesFocus(true);
    m_txtSignInAddress->setFixedHeight(m_txtSignInAddress->fontMetrics().lineSpacing() * 4 +
                                       2 * m_txtSignInAddress->frameWidth() + 8);
    auto *cmdCopyAddress = makeButton(u"cmdCopyAddress"_s, u"&Copy address"_s,
                                      u"Copies the address, to paste it into a web browser"_s, m_signInAddress);
    connect(cmdCopyAddress, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_txtSignInAddress->toPlainText()); });
    auto *addressLayout = new QVBoxLayout(m_signInAddress);
    addressLayout->setContentsMargins(0, 0, 0, 0);
    addressLayout->addWidget(m_txtSignInAddress);
    addressLayout->addWidget(cmdCopyAddress, 0, Qt::AlignRight);
    m_lblSecrets = new RowText(u"lblSecrets"_s, u"Looking for the system keyring..."_s, frame);
    m_chkKeyring = new QCheckBox(u"Keep the password in the system keyring"_s, frame);
    m_chkKeyring->setObjectName(u"chkKeyring"_s);
    m_chkKeyring->setEnabled(false);

    rows->addRow(makeLabel(u"lblSignInMethod"_s, u"Sign-in"_s, frame), m_cboSignIn);
    rows->addRow(makeLabel(u"lblProvider"_s, u"Provider"_s, frame), m_cboProvider);
    rows->addRow(makeLabel(u"lblTenant"_s, u"Tenant"_s, frame), m_txtTenant);
    rows->addRow(makeLabel(u"lblClientId"_s, u"Client ID"_s, frame), m_txtClientId);
    rows->addRow(makeLabel(u"lblClientSecret"_s, u"Client secret"_s, frame), m_txtClientSecret);
    rows->addRow(makeLabel(u"lblAuthorizeUrl"_s, u"Authorize URL"_s, frame), m_txtAuthorizeUrl);
    rows->addRow(makeLabel(u"lblTokenUrl"_s, u"Token URL"_s, frame), m_txtTokenUrl);
    rows->addRow(makeLabel(u"lblScope"_s, u"Scope"_s, frame), m_txtScope);
    rows->addRow(makeLabel(u"lblPasswordCommand"_s, u"Command"_s, frame), m_txtPasswordCommand);
    rows->addRow(m_cmdSignIn, m_lblSignedIn);
    rows->addRow(QString(), m_signInAddress);
    rows->addRow(QString(), m_chkKeyring);
    rows->addRow(QString(), m_lblSecrets);

    connect(m_cboSignIn, &QComboBox::currentIndexChanged, this, &SetupDialog::showSignInRows);
    connect(m_cboProvider, &QComboBox::currentIndexChanged, this, &SetupDialog::showSignInRows);
    connect(m_cboSignIn, &QComboBox::activated, this, [this] {
        if (chosenWord(m_cboSignIn) == "oauth"_L1)
            fillFromProvider();
    });
    connect(m_cboProvider, &QComboBox::activated, this, &SetupDialog::fillFromProvider);
    connect(m_cmdSignIn, &QPushButton::clicked, this, &SetupDialog::cmdSignIn_Click);
}

void SetupDialog::showSignInRows()
{
    const QString method = chosenWord(m_cboSignIn);
    const QString provider = chosenWord(m_cboProvider);
    const bool oauth = method == "oauth"_L1;
    const bool command = method.endsWith("-command"_L1);
    m_authRows->setRowVisible(m_txtPassword, method == "password"_L1);
    m_authRows->setRowVisible(m_chkKeyring, method == "password"_L1 && m_keyringAnswers);
    for (QWidget *row : {static_cast<QWidget *>(m_cboProvider), static_cast<QWidget *>(m_txtClientId),
                         static_cast<QWidget *>(m_cmdSignIn)})
        m_authRows->setRowVisible(row, oauth);
    const MailProviderFacts *facts = findMailProvider(provider);
    m_authRows->setRowVisible(m_txtClientSecret, oauth && (!facts || facts->usesClientSecret));
    m_authRows->setRowVisible(m_txtTenant, oauth && provider == "microsoft"_L1);
    for (QLineEdit *row : {m_txtAuthorizeUrl, m_txtTokenUrl, m_txtScope})
        m_authRows->setRowVisible(row, oauth && provider == "custom"_L1);
    m_authRows->setRowVisible(m_txtPasswordCommand, command);
    m_authRows->setRowVisible(m_signInAddress, oauth && m_signIn);
    growToFit();
}

void SetupDialog::growToFit()
{
    // Rows shown, and texts that wrap onto more lines, can need more room than the dialog has: it
    // grows (never shrinks under the user) as far as the screen's free area allows, and stays
    // inside it; what does not fit then scrolls.
    QWidget *content = m_scroll->widget();
    content->layout()->activate();
    layout()->activate();
    const QRect free = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    // Room for the frame the window manager adds.
    const QSize room = free.size() - QSize(16, 48);
    const QSize chrome = (layout()->totalSizeHint() - m_scroll->sizeHint()).expandedTo(QSize(24, 24));
    int width = std::min(content->sizeHint().width() + chrome.width(), room.width());
    const int contentWidth = width - chrome.width();
    const int contentHeight = content->hasHeightForWidth() ? content->heightForWidth(contentWidth)
                                                             : content->sizeHint().height();
    int height = contentHeight + chrome.height();
    if (height > room.height()) {
        height = room.height();
        width = std::min(width + m_scroll->verticalScrollBar()->sizeHint().width(), room.width());
    }
    QSize wanted(width, height);
    if (!isVisible()) {
        // Placed over its main window when first shown.
        resize(wanted);
        return;
    }
    resize(wanted.expandedTo(size()).boundedTo(room));
    // Kept inside the free area, moved up or left when it grew past its edge.
    QRect frame = frameGeometry();
    if (frame.bottom() > free.bottom())
        frame.moveBottom(free.bottom());
    if (frame.right() > free.right())
        frame.moveRight(free.right());
    if (frame.top() < free.top())
        frame.moveTop(free.top());
    if (frame.left() < free.left())
        frame.moveLeft(free.left());
    move(frame.topLeft());
}

void SetupDialog::fillFromProvider()
{
    const std::optional<SmtpPreset> preset = smtpPresetFor(chosenWord(m_cboProvider));
    if (!preset)
        return;
    const QString port = QString::number(preset->port);
    const int type = preset->startTls ? 1 : 0;
    const QString server = m_txtSMTPServer->text().trimmed();
    const bool shown = server == preset->host && m_txtEmailSslPort->text().trimmed() == port &&
                       m_cboAuth->currentIndex() == type;
    // A server of the user's own is replaced only when the user agrees; an empty one, or another
    // provider's, is simply filled in.
    const bool ownServer = !server.isEmpty() && std::none_of(mailProviders().begin(), mailProviders().end(),
                                                             [&server](const MailProviderFacts &facts) {
                                                                 return !facts.smtpHost.isEmpty() &&
                                                                        server.compare(facts.smtpHost,
                                                                                       Qt::CaseInsensitive) == 0;
                                                             });
    if (!shown && ownServer &&
        !m_dialogs.askYesNo(this, u"Use the mail server of %1? The SMTP Server, SSL Port and Type change from "
                                  "%2, %3, %4 to %5, %6, %7."_s.arg(m_cboProvider->currentText(), server,
                                                                    m_txtEmailSslPort->text(), m_cboAuth->currentText(),
                                                                    preset->host, port, m_cboAuth->itemText(type))))
        return;
    m_txtSMTPServer->setText(preset->host);
    m_txtEmailSslPort->setText(port);
    m_cboAuth->setCurrentIndex(type);
    // These providers file what is sent through them in Sent themselves: a copy would be a second one.
    m_chkSentCopy->setChecked(false);
    m_lblSentCopyNote->setText(u"%1 puts each message sent through it in the Sent folder itself, so the copy is off."_s.arg(
        m_cboProvider->currentText()));
    m_lblSentCopyNote->show();
    const QString mailbox = m_txtUsername->text().isEmpty() ? m_txtMailFrom->text() : m_txtUsername->text();
    const SendingLimits limits = sendingLimitsFor(chosenWord(m_cboProvider), mailbox);
    m_dailyLimit = QString::number(limits.perDay);
    m_minuteLimit = QString::number(limits.perMinute);
    if (isVisible())
        growToFit();
}

void SetupDialog::cmdSignIn_Click()
{
    if (m_signIn) {
        m_signIn->cancel();
        return;
    }
    const OAuthChoice choice{chosenWord(m_cboProvider), m_txtTenant->text(),       m_txtClientId->text(),
                             m_txtClientSecret->text(), m_txtAuthorizeUrl->text(), m_txtTokenUrl->text(),
                             m_txtScope->text(),
                             m_chkSentCopy->isChecked() || !m_txtIMAPServer->text().trimmed().isEmpty()};
    QString error;
    const std::optional<OAuthProvider> provider = resolveOAuthProvider(choice, &error);
    if (!provider) {
        m_dialogs.warn(this, error);
        return;
    }
    auto *signIn = new OAuthSignIn(*provider, this);
    signIn->setLoginHint(m_txtUsername->text());
    if (m_account)
        signIn->setCaBundle(m_account->caBundle());
    if (!signIn->start(&error)) {
        delete signIn;
        m_dialogs.warn(this, error);
        return;
    }
    m_signIn = signIn;
    connect(signIn, &OAuthSignIn::finished, this,
            [this, provider = *provider](const TokenResult &result) { signInFinished(provider, result); });
    DialogsBrowser browser(m_dialogs);
    signIn->openBrowser(browser);
    m_cmdSignIn->setText(u"Cancel sign-&in"_s);
    m_lblSignedIn->setText(u"Finish the sign-in in your web browser. If none opened, open this address:"_s);
    m_txtSignInAddress->setPlainText(signIn->authorizationUrl().toString(QUrl::FullyEncoded));
    showSignInRows();
    // Scrolled into view once the scrolling area has taken the row in.
    QTimer::singleShot(0, this, [this] {
        if (m_signInAddress->isVisible())
            m_scroll->ensureWidgetVisible(m_signInAddress);
    });
}

void SetupDialog::signInFinished(const OAuthProvider &provider, const TokenResult &result)
{
    m_signIn->deleteLater();
    m_signIn = nullptr;
    m_cmdSignIn->setText(u"Sign &in..."_s);
    m_txtSignInAddress->clear();
    showSignInRows();
    if (!result.ok()) {
        m_lblSignedIn->setText(result.error);
        growToFit();
        return;
    }
    // The refresh token goes to the keyring (or its file), which may take a while: off this thread.
    m_cmdSignIn->setEnabled(false);
    m_lblSignedIn->setText(u"Saving the sign-in..."_s);
    auto error = std::make_shared<QString>();
    const std::shared_ptr<SignInAccount> account = m_account;
    const QString user = m_txtUsername->text();
    const QDateTime expires = result.grant.expiresAt;
    m_secretsWrite.start(
        u"Quorvale sign-in"_s,
        [account, provider, grant = result.grant, error] { account->holder(provider)->adopt(grant, error.get()); },
        [this, error, user, expires] {
            m_cmdSignIn->setEnabled(true);
            m_lblSignedIn->setText(error->isEmpty()
                                       ? u"Signed in as %1 until %2."_s.arg(
                                             user, QLocale().toString(expires.toLocalTime(), QLocale::ShortFormat))
                                       : u"The sign-in could not be saved: "_s + *error);
            growToFit();
        });
}

void SetupDialog::lookUpSecrets()
{
    struct Found
    {
        QString notice, token, password;
        SecretLookup kept;
        bool keyring = false;
    };
    auto found = std::make_shared<Found>();
    const std::shared_ptr<SignInAccount> account = m_account;
    m_secretsLookUp.start(
        u"Quorvale keyring"_s,
        [account, found] {
            SecretPlaces &places = account->secrets();
            found->keyring = places.hasKeyring();
            found->notice = account->storeNotice();
            found->token = places.storedLocation(kRefreshTokenKey);
            found->password = places.hasKeyring() ? places.storedLocation(kPasswordKey) : QString();
            if (!found->password.isEmpty())
                found->kept = places.read(kPasswordKey);
        },
        [this, found] {
            m_keyringAnswers = found->keyring;
            m_passwordInKeyring = !found->password.isEmpty();
            m_lblSecrets->setText(found->keyring ? u"Passwords and sign-ins are kept in the system keyring."_s
                                                 : found->notice);
            // Opened before the window had the kept password: shown once the keyring gave it.
            if (m_txtPassword->text().isEmpty() && found->kept.status == SecretLookup::Status::Found)
                m_txtPassword->setText(found->kept.secret);
            m_chkKeyring->setEnabled(found->keyring);
            m_chkKeyring->setChecked(found->keyring);
            if (!m_signIn && m_cmdSignIn->isEnabled())
                m_lblSignedIn->setText(found->token.isEmpty() ? u"Not signed in."_s
                                                              : u"Signed in as %1 (the sign-in is kept in %2)."_s.arg(
                                                                    m_txtUsername->text(), found->token));
            showSignInRows();
        });
}

QGroupBox *SetupDialog::buildScheduleFrame()
{
    // Scheduling: the three pacing values, enabled only while scheduling is ticked.
    auto *frame2 = new QGroupBox(u"Scheduling"_s, this);
    frame2->setObjectName(u"Frame2"_s);
    m_chkEnableSchedule = new QCheckBox(u"Enable Email Scheduling"_s, frame2);
    m_chkEnableSchedule->setObjectName(u"chkEnableSchedule"_s);
    m_label2 = makeLabel(u"Label2"_s, u"Delay between Email Sends (secs):"_s, frame2);
    m_txtDelayBetweenSends = makeLineEdit(u"txtDelayBetweenSends"_s, u"Delay in seconds between email sends"_s, frame2);
    m_label3 = makeLabel(u"Label3"_s, u"Delay between Email Groups (mins):"_s, frame2);
    m_txtGroupDelay = makeLineEdit(u"txtGroupDelay"_s, u"Delay in minutes between email groups"_s, frame2);
    m_label4 = makeLabel(u"Label4"_s, u"Email Group Size:"_s, frame2);
    m_txtGroupSize = makeLineEdit(u"txtGroupSize"_s, u"Email group size"_s, frame2);
    auto *schedule = new QGridLayout(frame2);
    schedule->addWidget(m_chkEnableSchedule, 0, 0, 1, 2);
    schedule->addWidget(m_label2, 1, 0);
    schedule->addWidget(m_txtDelayBetweenSends, 1, 1);
    schedule->addWidget(m_label3, 2, 0);
    schedule->addWidget(m_txtGroupDelay, 2, 1);
    schedule->addWidget(m_label4, 3, 0);
    schedule->addWidget(m_txtGroupSize, 3, 1);
    schedule->setColumnStretch(1, 1);
    const int digits = fontMetrics().horizontalAdvance(u"0000000000"_s);
    for (QLineEdit *edit : {m_txtDelayBetweenSends, m_txtGroupDelay, m_txtGroupSize})
        edit->setFixedWidth(digits);
    connect(m_chkEnableSchedule, &QCheckBox::toggled, this, &SetupDialog::chkEnableSchedule_Click);
    return frame2;
}

QGroupBox *SetupDialog::buildSentCopyFrame()
{
    // A copy of every sent message in the mailbox's Sent folder, over IMAP with the mail login.
    auto *frame = new QGroupBox(u"Copy in Sent Folder"_s, this);
    frame->setObjectName(u"FrameSentCopy"_s);
    m_chkSentCopy = new QCheckBox(u"Put a copy of each message in the Sent folder"_s, frame);
    m_chkSentCopy->setObjectName(u"chkSentCopy"_s);
    m_txtIMAPServer = makeLineEdit(u"txtIMAPServer"_s, u"The mailbox's IMAP server"_s, frame);
    m_txtIMAPPort = makeLineEdit(u"txtIMAPPort"_s, u"993: TLS; any other port: STARTTLS, never unencrypted"_s, frame);
    m_txtSentFolder = makeLineEdit(u"txtSentFolder"_s, u"Empty: the folder the server marks as Sent"_s, frame);
    m_lblSentCopyNote = new RowText(u"lblSentCopyNote"_s, QString(), frame);
    m_lblSentCopyNote->hide();
    auto *rows = new QFormLayout(frame);
    rows->addRow(m_chkSentCopy);
    rows->addRow(makeLabel(u"lblIMAPServer"_s, u"IMAP Server"_s, frame), m_txtIMAPServer);
    rows->addRow(makeLabel(u"lblIMAPPort"_s, u"IMAP Port"_s, frame), m_txtIMAPPort);
    rows->addRow(makeLabel(u"lblSentFolder"_s, u"Sent folder"_s, frame), m_txtSentFolder);
    rows->addRow(m_lblSentCopyNote);
    return frame;
}

QGroupBox *SetupDialog::buildPrintFrame()
{
    // Print Test.
    auto *frame3 = new QGroupBox(u"Print Test"_s, this);
    frame3->setObjectName(u"Frame3"_s);
    m_txtPdfLocation = makeLineEdit(u"txtPdfLocation"_s, u"Path to PDF file"_s, frame3);
    m_txtPdfLocation->setMinimumWidth(fontMetrics().horizontalAdvance(u"0000000000"_s) * 2);
    m_cmdBrowse = makeButton(u"cmdBrowse"_s, u"&Browse"_s, u"Browse for PDF file"_s, frame3);
    m_cmdTestPrinting = makeButton(u"cmdTestPrinting"_s, u"Test PDF &Printing"_s, u"Test print"_s, frame3);
    auto *print = new QGridLayout(frame3);
    print->addWidget(makeLabel(u"Label5"_s, u"PDF File to print"_s, frame3), 0, 0, 1, 2);
    print->addWidget(m_txtPdfLocation, 1, 0);
    print->addWidget(m_cmdBrowse, 1, 1);
    auto *printRow = new QHBoxLayout;
    printRow->addStretch(1);
    printRow->addWidget(m_cmdTestPrinting);
    print->addLayout(printRow, 2, 0, 1, 2);
    print->setColumnStretch(0, 1);
    connect(m_cmdBrowse, &QPushButton::clicked, this, &SetupDialog::cmdBrowse_Click);
    connect(m_cmdTestPrinting, &QPushButton::clicked, this, &SetupDialog::cmdTestPrinting_Click);
    return frame3;
}

void SetupDialog::load()
{
    const AppSettings s = m_settings.get();
    m_cboAuth->addItem(u"Simple"_s);
    m_cboAuth->addItem(u"SSL"_s);
    m_txtMailFrom->setText(s.EmailFrom);
    m_txtMailFromName->setText(s.EmailFromName);
    m_txtReplyTo->setText(s.ReplyTo);
    m_txtArchiveCopyTo->setText(s.ArchiveCopyTo);
    m_cboSendMethod->setCurrentIndex(std::max(0, m_cboSendMethod->findData(s.SendMethod)));
    m_chkSentCopy->setChecked(s.SentCopy == 1);
    m_txtIMAPServer->setText(s.IMAPServer);
    m_txtIMAPPort->setText(s.IMAPPort);
    m_txtSentFolder->setText(s.SentFolder);
    // Settings load any type but "Simple" as "SSL"; the dialog shows the same.
    m_cboAuth->setCurrentIndex(s.AuthType == 0 ? 0 : 1);
    m_txtEmailSslPort->setText(s.SSLport);
    m_txtSMTPServer->setText(s.SMTPServer);
    m_txtUsername->setText(s.UserName);
    m_txtPassword->setText(s.Password);
    m_cboSignIn->setCurrentIndex(std::max(0, m_cboSignIn->findData(s.SignInMethod)));
    m_cboProvider->setCurrentIndex(std::max(0, m_cboProvider->findData(s.OAuthProvider)));
    m_txtTenant->setText(s.OAuthTenant);
    m_txtClientId->setText(s.OAuthClientId);
    m_txtClientSecret->setText(s.OAuthClientSecret);
    m_txtAuthorizeUrl->setText(s.OAuthAuthorizeUrl);
    m_txtTokenUrl->setText(s.OAuthTokenUrl);
    m_txtScope->setText(s.OAuthScope);
    m_txtPasswordCommand->setText(s.PasswordCommand);
    showSignInRows();
    // Only exactly 1 ticks the box, as only exactly 1 turns scheduling on in a run.
    m_chkEnableSchedule->setChecked(s.EnableSchedule == 1);
    chkEnableSchedule_Click();
    m_txtDelayBetweenSends->setText(QString::number(s.DelayBetweenSends));
    m_txtGroupDelay->setText(QString::number(s.GroupDelay));
    m_txtGroupSize->setText(QString::number(s.GroupSize));
    m_dailyLimit = QString::number(s.DailyLimit);
    m_minuteLimit = QString::number(s.MinuteLimit);
    m_shown = mailFields() + scheduleFields();
}

void SetupDialog::showSimpleWarning()
{
    const bool shown = m_cboAuth->currentIndex() == 0 && !m_txtUsername->text().isEmpty();
    if (shown == !m_lblSimpleWarning->isHidden())
        return;
    m_lblSimpleWarning->setVisible(shown);
    if (isVisible())
        growToFit();
}

void SetupDialog::chkEnableSchedule_Click()
{
    const bool on = m_chkEnableSchedule->isChecked();
    for (QWidget *w : std::initializer_list<QWidget *>{m_label2, m_txtDelayBetweenSends, m_label3, m_txtGroupDelay,
                                                       m_label4, m_txtGroupSize})
        w->setEnabled(on);
}

QList<SetupDialog::Field> SetupDialog::mailFields() const
{
    return {
        {&AppSettings::EmailFrom, m_txtMailFrom->text(), m_txtMailFrom},
        {&AppSettings::EmailFromName, m_txtMailFromName->text(), m_txtMailFromName},
        {&AppSettings::ReplyTo, m_txtReplyTo->text(), m_txtReplyTo},
        {&AppSettings::ArchiveCopyTo, m_txtArchiveCopyTo->text(), m_txtArchiveCopyTo},
        {&AppSettings::SendMethod, chosenWord(m_cboSendMethod), m_cboSendMethod},
        {&AppSettings::SentCopy, m_chkSentCopy->isChecked() ? u"1"_s : u"0"_s, m_chkSentCopy},
        {&AppSettings::IMAPServer, m_txtIMAPServer->text(), m_txtIMAPServer},
        {&AppSettings::IMAPPort, m_txtIMAPPort->text(), m_txtIMAPPort},
        {&AppSettings::SentFolder, m_txtSentFolder->text(), m_txtSentFolder},
        {&AppSettings::AuthType, QString::number(m_cboAuth->currentIndex()), m_cboAuth},
        {&AppSettings::SSLport, m_txtEmailSslPort->text(), m_txtEmailSslPort},
        {&AppSettings::SMTPServer, m_txtSMTPServer->text(), m_txtSMTPServer},
        {&AppSettings::UserName, m_txtUsername->text(), m_txtUsername},
        {&AppSettings::Password, m_txtPassword->text(), m_txtPassword},
        {&AppSettings::SignInMethod, chosenWord(m_cboSignIn), m_cboSignIn},
        {&AppSettings::OAuthProvider, chosenWord(m_cboProvider), m_cboProvider},
        {&AppSettings::OAuthTenant, m_txtTenant->text(), m_txtTenant},
        {&AppSettings::OAuthClientId, m_txtClientId->text(), m_txtClientId},
        {&AppSettings::OAuthClientSecret, m_txtClientSecret->text(), m_txtClientSecret},
        {&AppSettings::OAuthAuthorizeUrl, m_txtAuthorizeUrl->text(), m_txtAuthorizeUrl},
        {&AppSettings::OAuthTokenUrl, m_txtTokenUrl->text(), m_txtTokenUrl},
        {&AppSettings::OAuthScope, m_txtScope->text(), m_txtScope},
        {&AppSettings::PasswordCommand, m_txtPasswordCommand->text(), m_txtPasswordCommand},
    };
}

QList<SetupDialog::Field> SetupDialog::scheduleFields() const
{
    return {
        {&AppSettings::EnableSchedule, QString::number(m_chkEnableSchedule->isChecked() ? 1 : 0), m_chkEnableSchedule},
        {&AppSettings::DelayBetweenSends, m_txtDelayBetweenSends->text(), m_txtDelayBetweenSends},
        {&AppSettings::GroupDelay, m_txtGroupDelay->text(), m_txtGroupDelay},
        {&AppSettings::GroupSize, m_txtGroupSize->text(), m_txtGroupSize},
        {&AppSettings::DailyLimit, m_dailyLimit, m_cboProvider},
        {&AppSettings::MinuteLimit, m_minuteLimit, m_cboProvider},
    };
}

bool SetupDialog::passwordGoesToKeyring() const
{
    return m_keyringAnswers && m_chkKeyring->isChecked() && !m_txtPassword->text().isEmpty() &&
           chosenWord(m_cboSignIn) == "password"_L1;
}

bool SetupDialog::saveFields(const QList<Field> &fields)
{
    // A password the keyring keeps stays out of the settings file; the program goes on using it.
    const bool keptInKeyring = m_passwordInKeyring && passwordGoesToKeyring();
    // A value the settings file held that the dialog cannot save (a hand-edited GroupSize=-5) loads
    // and is used as it is; only what the user changed is the user's to correct.
    const auto untouched = [this](const Field &field) {
        return std::any_of(m_shown.begin(), m_shown.end(),
                           [&field](const Field &shown) { return shown.key == field.key && shown.text == field.text; });
    };
    QList<SettingEdit> edits;
    QList<const Field *> edited;
    for (const Field &field : fields) {
        const QString text =
            keptInKeyring && field.key == SettingKey(&AppSettings::Password) ? QString() : field.text;
        if (untouched(field) && !settingTextProblem(storedSetting(field.key), text).isEmpty())
            continue;
        edits.append({field.key, text});
        edited.append(&field);
    }
    AppSettings settings = m_settings.get();
    QString error;
    qsizetype refused = -1;
    if (saveSettings(m_store, edits, settings, &error, &refused)) {
        if (keptInKeyring)
            settings.Password = m_txtPassword->text();
        m_settings.set(settings);
        return true;
    }
    if (refused < 0) {
        m_dialogs.warn(this, u"The settings could not be saved:\n%1"_s.arg(error));
        return false;
    }
    // Said in the dialog's words: the caption of the box, not the name in the settings file.
    const Field &field = *edited.at(refused);
    error.remove(u" ("_s + storedSetting(field.key).name + u')');
    m_dialogs.warn(this, u"%1\n\nCorrect \"%2\" and try again."_s.arg(error, captionOf(field.box)));
    // A pacing box is disabled while scheduling is off; the value refused in it is made editable.
    field.box->setEnabled(true);
    for (auto [box, caption] : {std::pair{m_txtDelayBetweenSends, m_label2}, std::pair{m_txtGroupDelay, m_label3},
                                std::pair{m_txtGroupSize, m_label4}}) {
        if (box == field.box)
            caption->setEnabled(true);
    }
    field.box->setFocus();
    return false;
}

QString SetupDialog::captionOf(const QWidget *box) const
{
    QString caption;
    if (const auto *check = qobject_cast<const QCheckBox *>(box))
        caption = check->text();
    for (auto [field, label] : {std::pair{m_txtDelayBetweenSends, m_label2}, std::pair{m_txtGroupDelay, m_label3},
                                std::pair{m_txtGroupSize, m_label4}}) {
        if (field == box)
            caption = label->text();
    }
    for (const QFormLayout *form : findChildren<QFormLayout *>()) {
        if (const auto *label = qobject_cast<const QLabel *>(form->labelForField(const_cast<QWidget *>(box))))
            caption = label->text();
    }
    caption.remove(u'&');
    if (caption.endsWith(u':'))
        caption.chop(1);
    return caption;
}

void SetupDialog::cmdOK_Click()
{
    // Every copy would fail, client by client: said now, where the server can still be filled in.
    if (m_chkSentCopy->isChecked() && m_txtIMAPServer->text().trimmed().isEmpty()) {
        m_dialogs.warn(this, u"The copy in the Sent folder is on, but no IMAP Server is filled in, so no copy "
                             "could be made. Fill in the IMAP Server, or untick the copy."_s);
        m_txtIMAPServer->setFocus();
        return;
    }
    if (m_secretsWrite.isRunning() || !saveFields(mailFields() + scheduleFields()))
        return;
    keepPassword();
}

void SetupDialog::keepPassword()
{
    const auto closeNow = [this] {
        close();
        if (parentWidget())
            parentWidget()->activateWindow();
    };
    const QString password = m_txtPassword->text();
    const bool toKeyring = passwordGoesToKeyring();
    // Unticked, a password kept in the keyring goes back to the settings file, just saved there.
    const bool fromKeyring = m_passwordInKeyring && !m_chkKeyring->isChecked() && !password.isEmpty() &&
                             chosenWord(m_cboSignIn) == "password"_L1;
    if (!toKeyring && !fromKeyring)
        return closeNow();
    auto error = std::make_shared<QString>();
    auto done = std::make_shared<bool>(false);
    const std::shared_ptr<SignInAccount> account = m_account;
    m_cmdOK->setEnabled(false);
    m_secretsWrite.start(
        u"Quorvale keyring"_s,
        [account, password, toKeyring, error, done] {
            SecretPlaces &places = account->secrets();
            *done = toKeyring ? places.write(kPasswordKey, password, error.get())
                              : places.remove(kPasswordKey, error.get());
        },
        [this, toKeyring, error, done, closeNow] {
            m_cmdOK->setEnabled(true);
            if (!*done) {
                m_dialogs.warn(this, u"The password stays in the settings file: the keyring said: "_s + *error);
                return;
            }
            // In the keyring now: the settings file no longer holds it. The program keeps using it.
            QString saveError;
            if (toKeyring && !saveSetting(m_store, &AppSettings::Password, QString(), &saveError)) {
                m_dialogs.warn(this, u"The password could not be removed from the settings file:\n"_s + saveError);
                return;
            }
            closeNow();
        });
}

void SetupDialog::cmdTestEmail_Click()
{
    AppSettings shown = m_settings.get();
    for (const Field &field : mailFields())
        setSettingText(shown, storedSetting(field.key), field.text);
    if (!isMailServerComplete(shown)) {
        m_dialogs.warn(this, u"Your email server setup is not complete."_s);
        return;
    }
    if (saveFields(mailFields()))
        Q_EMIT testEmailRequested();
}

void SetupDialog::cmdBrowse_Click()
{
    const QString current = m_txtPdfLocation->text();
    const QString folder = !current.isEmpty() && QFileInfo(current).absoluteDir().exists()
                               ? QFileInfo(current).absolutePath()
                               : QDir::homePath();
    const QString path = m_dialogs.chooseOpenFile(this, u"Load Test PDF File"_s, u"PDF File (*.pdf);;All Files (*)"_s,
                                                  folder, u"TestPDF.pdf"_s);
    if (path.isEmpty())
        return;
    m_testPdfPath = path;
    m_txtPdfLocation->setText(QDir::toNativeSeparators(path));
}

void SetupDialog::cmdTestPrinting_Click()
{
    // The path shown is the one printed, whether it was browsed for or typed.
    const QString path = m_txtPdfLocation->text();
    if (path.isEmpty()) {
        m_dialogs.warn(this, u"You need to add a PDF file for testing."_s);
        return;
    }
    // The print command may take its time (or hang until its timeout): it runs off the UI thread,
    // and the button stays disabled until it is done.
    struct Outcome
    {
        bool printed = false;
        QString error;
    };
    auto outcome = std::make_shared<Outcome>();
    Printer &printer = m_printer;
    const bool started = m_printTest.start(
        u"Quorvale print test"_s,
        [&printer, path, outcome] { outcome->printed = printer.printDocument(path, &outcome->error); },
        [this, outcome] {
            m_cmdTestPrinting->setEnabled(true);
            if (!outcome->printed)
                m_dialogs.warn(this, u"The PDF file could not be sent to the printer:\n%1"_s.arg(outcome->error));
        });
    if (started)
        m_cmdTestPrinting->setEnabled(false);
}

void SetupDialog::cmdHelp_Click()
{
    Q_EMIT helpRequested();
}

} // namespace quorvale
