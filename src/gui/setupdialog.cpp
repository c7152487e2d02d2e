#include "gui/setupdialog.h"

#include "check/clientcheck.h"
#include "gui/settingsholder.h"
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
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace quorvale {

using namespace Qt::StringLiterals;

SetupDialog::SetupDialog(SettingsHolder &settings, SettingsStore &store, Printer &printer, UserDialogs &dialogs,
                         const QString & /*helpFolder*/, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_store(store), m_printer(printer), m_dialogs(dialogs)
{
    setObjectName(u"frmSetup"_s);
    setWindowTitle(u"Setup"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    buildUi();
    load();
}

SetupDialog::~SetupDialog() = default;

void SetupDialog::buildUi()
{
    // The frames first: Enter must not press any of their buttons (below).
    QGroupBox *mail = buildMailFrame();
    QGroupBox *schedule = buildScheduleFrame();
    QGroupBox *print = buildPrintFrame();
    auto *cmdOK = makeButton(u"cmdOK"_s, u"OK"_s, QString(), this);
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
    right->addStretch(1);
    auto *columns = new QHBoxLayout;
    columns->setSpacing(12);
    columns->addWidget(mail, 1);
    columns->addLayout(right, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addLayout(columns, 1);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    const QList<QWidget *> tabOrder{
        m_txtMailFrom,  m_txtSMTPServer,  m_cboAuth,           m_txtEmailSslPort,      m_txtUsername,
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
    // A sender that is no e-mail address is said beside the box as it is typed; it is not refused.
    m_lblMailFromWarning = makeLabel(u"lblMailFromWarning"_s, u"This is not an e-mail address."_s, frame1);
    m_lblMailFromWarning->hide();
    connect(m_txtMailFrom, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_lblMailFromWarning->setVisible(!text.trimmed().isEmpty() && !isUsableMailAddress(text.trimmed()));
    });
    auto *top = new QFormLayout;
    top->addRow(makeLabel(u"Label1"_s, u"Email From"_s, frame1), m_txtMailFrom);
    top->addRow(QString(), m_lblMailFromWarning);
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
    for (QLineEdit *edit : {m_txtMailFrom, m_txtSMTPServer, m_txtEmailSslPort, m_txtUsername, m_txtPassword})
        edit->setMinimumWidth(wide);
    // "Simple" is plain SMTP: said beside the choice whenever a login would go with it.
    m_lblSimpleWarning =
        makeLabel(u"lblSimpleWarning"_s, u"Simple sends the user name and password unencrypted."_s, frame8);
    m_lblSimpleWarning->setWordWrap(true);
    m_lblSimpleWarning->hide();
    auto *auth = new QFormLayout(frame8);
    auth->addRow(makeLabel(u"Label6"_s, u"Type"_s, frame8), m_cboAuth);
    auth->addRow(QString(), m_lblSimpleWarning);
    auth->addRow(makeLabel(u"Label40"_s, u"SSL Port"_s, frame8), m_txtEmailSslPort);
    auth->addRow(makeLabel(u"Label10"_s, u"Username"_s, frame8), m_txtUsername);
    auth->addRow(makeLabel(u"Label9"_s, u"Password"_s, frame8), m_txtPassword);

    m_cmdTestEmail = makeButton(u"cmdTestEmail"_s, u"Test &Email"_s, u"Sends a test email"_s, frame1);
    auto *testRow = new QHBoxLayout;
    testRow->addStretch(1);
    testRow->addWidget(m_cmdTestEmail);
    auto *frame1Layout = new QVBoxLayout(frame1);
    frame1Layout->addLayout(top);
    frame1Layout->addWidget(frame8);
    frame1Layout->addLayout(testRow);
    connect(m_cmdTestEmail, &QPushButton::clicked, this, &SetupDialog::cmdTestEmail_Click);
    connect(m_cboAuth, &QComboBox::currentIndexChanged, this, &SetupDialog::showSimpleWarning);
    connect(m_txtUsername, &QLineEdit::textChanged, this, &SetupDialog::showSimpleWarning);
    return frame1;
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
    // Settings load any type but "Simple" as "SSL"; the dialog shows the same.
    m_cboAuth->setCurrentIndex(s.AuthType == 0 ? 0 : 1);
    m_txtEmailSslPort->setText(s.SSLport);
    m_txtSMTPServer->setText(s.SMTPServer);
    m_txtUsername->setText(s.UserName);
    m_txtPassword->setText(s.Password);
    // Only exactly 1 ticks the box, as only exactly 1 turns scheduling on in a run.
    m_chkEnableSchedule->setChecked(s.EnableSchedule == 1);
    chkEnableSchedule_Click();
    m_txtDelayBetweenSends->setText(QString::number(s.DelayBetweenSends));
    m_txtGroupDelay->setText(QString::number(s.GroupDelay));
    m_txtGroupSize->setText(QString::number(s.GroupSize));
}

void SetupDialog::showSimpleWarning()
{
    m_lblSimpleWarning->setVisible(m_cboAuth->currentIndex() == 0 && !m_txtUsername->text().isEmpty());
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
        {&AppSettings::AuthType, QString::number(m_cboAuth->currentIndex()), m_cboAuth},
        {&AppSettings::SSLport, m_txtEmailSslPort->text(), m_txtEmailSslPort},
        {&AppSettings::SMTPServer, m_txtSMTPServer->text(), m_txtSMTPServer},
        {&AppSettings::UserName, m_txtUsername->text(), m_txtUsername},
        {&AppSettings::Password, m_txtPassword->text(), m_txtPassword},
    };
}

QList<SetupDialog::Field> SetupDialog::scheduleFields() const
{
    return {
        {&AppSettings::EnableSchedule, QString::number(m_chkEnableSchedule->isChecked() ? 1 : 0), m_chkEnableSchedule},
        {&AppSettings::DelayBetweenSends, m_txtDelayBetweenSends->text(), m_txtDelayBetweenSends},
        {&AppSettings::GroupDelay, m_txtGroupDelay->text(), m_txtGroupDelay},
        {&AppSettings::GroupSize, m_txtGroupSize->text(), m_txtGroupSize},
    };
}

bool SetupDialog::saveFields(const QList<Field> &fields)
{
    QList<SettingEdit> edits;
    for (const Field &field : fields)
        edits.append({field.key, field.text});
    AppSettings settings = m_settings.get();
    QString error;
    qsizetype refused = -1;
    if (saveSettings(m_store, edits, settings, &error, &refused)) {
        m_settings.set(settings);
        return true;
    }
    if (refused < 0) {
        m_dialogs.warn(this, u"The settings could not be saved:\n%1"_s.arg(error));
        return false;
    }
    m_dialogs.warn(this, error);
    if (QWidget *box = fields.at(refused).box; box->isEnabled())
        box->setFocus();
    return false;
}

void SetupDialog::cmdOK_Click()
{
    if (!saveFields(mailFields() + scheduleFields()))
        return;
    close();
    if (parentWidget())
        parentWidget()->activateWindow();
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
