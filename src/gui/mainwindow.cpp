#include "gui/mainwindow.h"

#include "appinfo.h"
#include "auth/signinaccount.h"
#include "clients/csvreader.h"
#include "gui/aboutdialog.h"
#include "gui/appicon.h"
#include "gui/checkdialog.h"
#include "gui/emailtestdialog.h"
#include "gui/formattededitor.h"
#include "gui/helpfiles.h"
#include "gui/helpwindow.h"
#include "gui/previewdialog.h"
#include "gui/runsession.h"
#include "gui/runsummarypanel.h"
#include "gui/setupdialog.h"
#include "gui/userdialogs.h"
#include "gui/widgetfactory.h"
#include "mail/inboxreader.h"
#include "platform/files.h"
#include "run/bouncecheck.h"
#include "run/clock.h"
#include "run/journal.h"
#include "run/ownfiles.h"
#include "settings/bodyfile.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

QProgressBar *makeProgressBar(const QString &name, QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setToolTip(u"Overall progress of sending emails and printing"_s);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

// The status box shows one line per block; a line holding its own line breaks shows as several.
QString displayLines(const QStringList &lines)
{
    QString text = lines.join(u'\n');
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

/// Brings a non-modal window forward.
void present(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

MainWindow::MainWindow(const AppServices &services, QWidget *parent) : QMainWindow(parent), m_services(services)
{
    setObjectName(u"frmMain"_s);
    setWindowIcon(appIcon());
    // Without a sign-in of the program's, the window's own keeps its secret files beside the settings.
    if (!m_services.account) {
        const QString settingsFile = m_services.store.filePath();
        m_services.account = std::make_shared<SignInAccount>(
            SignInAccount::Opener{}, settingsFile.isEmpty() ? QString() : QFileInfo(settingsFile).absolutePath());
    }
    m_session = std::make_unique<RunSession>(m_services, m_settings, this);
    buildUi();
    buildMenus();
    load();
    fetchKeptPassword();
}

void MainWindow::fetchKeptPassword()
{
    // A password moved to the keyring is not in the settings file; asking the keyring may take
    // seconds, so it is asked off the UI thread and the settings are completed when it answers.
    const AppSettings loaded = m_settings.get();
    if (!loaded.Password.isEmpty() || loaded.UserName.isEmpty() || loaded.SignInMethod != "password"_L1)
        return;
    auto kept = std::make_shared<AppSettings>(loaded);
    const std::shared_ptr<SignInAccount> account = m_services.account;
    m_keyring.start(
        u"Quorvale keyring"_s, [kept, account] { fillKeptPassword(*kept, *account); },
        [this, kept] {
            AppSettings now = m_settings.get();
            if (now.Password.isEmpty() && now.UserName == kept->UserName) {
                now.Password = kept->Password;
                m_settings.set(now);
            }
        });
}

MainWindow::~MainWindow()
{
    stopEverything();
}

bool MainWindow::isRunning() const
{
    return m_session->isRunning();
}

void MainWindow::buildUi()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *columns = new QHBoxLayout(central);
    columns->setContentsMargins(12, 10, 12, 12);
    columns->setSpacing(16);
    columns->addLayout(buildInputs(central), 1);
    columns->addLayout(buildStatus(central), 1);

    // Mode 0 at start: the common-attachment controls and chkPrint are disabled.
    OptAddAttachment_Click(0);

    QList<QWidget *> tabOrder{m_txtCSVpath, m_cmdBrowseCSV, m_chkCSVHeader};
    for (QAbstractButton *option : m_optAddAttachment->buttons())
        tabOrder.append(option);
    tabOrder += {m_txtCommonAttachmentPath,
                 m_cmdBrowseCommonAttach,
                 m_txtDocumentPatterns,
                 m_chkPrint,
                 m_txtSubjectLine,
                 m_chkFormatted,
                 m_txtBodyMessage,
                 m_bodyEditor->textBox(),
                 m_txtProgress,
                 m_cmdStart,
                 m_cmdCheck,
                 m_cmdAbort};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(m_cmdBrowseCSV, &QPushButton::clicked, this, &MainWindow::cmdBrowseCSV_Click);
    connect(m_cmdBrowseCommonAttach, &QPushButton::clicked, this, &MainWindow::cmdBrowseCommonAttach_Click);
    connect(m_optAddAttachment, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            OptAddAttachment_Click(index);
    });
    // A run in progress reads the path afresh for every client.
    connect(m_txtCommonAttachmentPath, &QLineEdit::textChanged, m_session.get(), &RunSession::setCommonAttachmentPath);
    connect(m_cmdStart, &QPushButton::clicked, this, &MainWindow::cmdStart_Click);
    connect(m_cmdAbort, &QPushButton::clicked, this, &MainWindow::cmdAbort_Click);
    connect(m_cmdCheck, &QPushButton::clicked, this, &MainWindow::showCheck);

    connect(m_session.get(), &RunSession::statusCleared, this, &MainWindow::clearStatus);
    connect(m_session.get(), &RunSession::linesLogged, this, &MainWindow::appendStatusLines);
    connect(m_session.get(), &RunSession::emailProgressChanged, m_progEmail, &QProgressBar::setValue);
    connect(m_session.get(), &RunSession::printProgressChanged, this, &MainWindow::setPrintProgress);
    connect(m_session.get(), &RunSession::runningChanged, this, &MainWindow::setRunning);
    connect(m_session.get(), &RunSession::askingServerChanged, this, [this](bool asking) {
        m_cmdStart->setEnabled(!asking);
        m_cmdAbort->setEnabled(asking);
        m_mnuResendFailed->setEnabled(!asking);
        m_mnuResendBounced->setEnabled(!asking);
        if (m_emailTest)
            m_emailTest->setRunInProgress(asking);
        if (m_preview)
            m_preview->setRunInProgress(asking);
    });
    connect(m_session.get(), &RunSession::progressChanged, this, &MainWindow::showRunProgress);
    connect(m_session.get(), &RunSession::setupRequested, this, &MainWindow::showSetup);
    connect(m_session.get(), &RunSession::choicesRestored, this,
            [this](AttachmentMode mode, const QString &commonPath, bool print) {
                if (mode == AttachmentMode::Common)
                    m_txtCommonAttachmentPath->setText(commonPath);
                m_optAddAttachment->button(int(mode))->setChecked(true);
                m_chkPrint->setChecked(print);
            });
    connect(m_session.get(), &RunSession::finished, this,
            [this] { m_summary->showRun(m_session->lastTally(), m_session->lastJournalPath()); });
    connect(m_session.get(), &RunSession::finished, this, &MainWindow::runFinished);
    connect(m_summary, &RunSummaryPanel::journalRequested, this,
            [this](const QString &path) { openOnDesktop(path, u"The run journal"_s); });

    sizeToTextsAndScreen();
}

void MainWindow::sizeToTextsAndScreen()
{
    // The smallest size at which no text is cut: what the layouts need, with the run summary
    // and its list of failures shown.
    RunTally sample;
    sample.failures.append(ClientFailure{});
    m_summary->showRun(sample, u"journal"_s);
    setMinimumSize(minimumSizeHint());
    m_summary->clear();
    fitToScreen(this, QSize(980, 660));
}

QLayout *MainWindow::buildInputs(QWidget *parent)
{
    // What to send and to whom.
    auto *label8 = makeLabel(u"Label8"_s, u"Client Email List (csv file)"_s, parent);
    m_txtCSVpath = makeLineEdit(u"txtCSVpath"_s, u"Path of client CSV file"_s, parent);
    m_cmdBrowseCSV = makeButton(u"cmdBrowseCSV"_s, u"&Browse"_s, u"Browse for client CSV file"_s, parent);
    auto *csvRow = new QHBoxLayout;
    csvRow->addWidget(m_txtCSVpath, 1);
    csvRow->addWidget(m_cmdBrowseCSV);
    m_chkCSVHeader = new QCheckBox(u"First line holds column names"_s, parent);
    m_chkCSVHeader->setObjectName(u"chkCSVHeader"_s);
    m_chkCSVHeader->setToolTip(
        u"Check when the first line of the client file names its columns: it is then no client, and the "
        "subject and body can use {{Name}} for the column called Name"_s);

    auto *modeFrame = new QGroupBox(parent);
    modeFrame->setObjectName(u"Frame1"_s);
    m_optAddAttachment = new QButtonGroup(this);
    const QString optionTexts[4][2] = {
        {u"Send email to all clients"_s, u"Select to add no attachment to emails"_s},
        {u"Send email to all clients with a common attachment"_s,
         u"Select to send email to all clients with a common attachment"_s},
        {u"Send email to all clients and a client specific attachment"_s,
         u"Select to send email to all clients and a client specific attachment"_s},
        {u"Send email to all clients with the documents named below"_s,
         u"Select to attach to each client's email every file named below, found by its exact name"_s},
    };
    auto *modeLayout = new QVBoxLayout(modeFrame);
    // Close rows: on a small screen every line saved goes to the message body.
    modeLayout->setSpacing(3);
    for (int i = 0; i < 4; ++i) {
        auto *option = new QRadioButton(optionTexts[i][0], modeFrame);
        option->setObjectName(u"OptAddAttachment%1"_s.arg(i));
        option->setToolTip(optionTexts[i][1]);
        m_optAddAttachment->addButton(option, i);
        modeLayout->addWidget(option);
    }
    m_optAddAttachment->button(0)->setChecked(true);
    m_label6 = makeLabel(u"Label6"_s, u"Common Attachment file path"_s, modeFrame);
    m_txtCommonAttachmentPath =
        makeLineEdit(u"txtCommonAttachmentPath"_s, u"Path of common attachment file"_s, modeFrame);
    m_cmdBrowseCommonAttach =
        makeButton(u"cmdBrowseCommonAttach"_s, u"B&rowse"_s, u"Browse for commom attachment file"_s, modeFrame);
    // The label on the row of its box, to leave the message body the height it can have.
    auto *commonRow = new QHBoxLayout;
    commonRow->addWidget(m_label6);
    commonRow->addWidget(m_txtCommonAttachmentPath, 1);
    commonRow->addWidget(m_cmdBrowseCommonAttach);
    m_txtDocumentPatterns = makeLineEdit(u"txtDocumentPatterns"_s,
                                         u"Names of each client's documents in the client list's folder, \";\" "
                                         "between them, e.g. Invoice_{{id}}.pdf;Statement_{{id}}.pdf"_s,
                                         modeFrame);
    m_txtDocumentPatterns->setPlaceholderText(u"Invoice_{{id}}.pdf;Statement_{{id}}.pdf"_s);
    m_chkPrint = new QCheckBox(u"Print document when no email exists in client list "_s, modeFrame);
    m_chkPrint->setObjectName(u"chkPrint"_s);
    m_chkPrint->setToolTip(u"Check to print document when no email exists in client list"_s);
    // The common file's row and the document names share one row: only one of them is ever used,
    // and a row less leaves the message body more lines on a small screen.
    auto *commonPage = new QWidget(modeFrame);
    commonRow->setContentsMargins(0, 0, 0, 0);
    commonPage->setLayout(commonRow);
    m_attachmentDetails = new QStackedWidget(modeFrame);
    m_attachmentDetails->addWidget(commonPage);
    m_attachmentDetails->addWidget(m_txtDocumentPatterns);
    modeLayout->addWidget(m_attachmentDetails);
    modeLayout->addWidget(m_chkPrint);

    auto *emailFrame = new QGroupBox(u"Email"_s, parent);
    emailFrame->setObjectName(u"Frame2"_s);
    auto *label3 = makeLabel(u"Label3"_s, u"Subject Line"_s, emailFrame);
    m_txtSubjectLine = makeLineEdit(u"txtSubjectLine"_s, u"Subject line"_s, emailFrame);
    auto *label1 = makeLabel(u"Label1"_s, u"Email Body"_s, emailFrame);
    m_txtBodyMessage = new QPlainTextEdit(emailFrame);
    m_txtBodyMessage->setObjectName(u"txtBodyMessage"_s);
    m_txtBodyMessage->setToolTip(u"Email body text"_s);
    m_txtBodyMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtBodyMessage->setTabChangesFocus(true);
    auto *emailLayout = new QVBoxLayout(emailFrame);
    emailLayout->setSpacing(4);
    auto *subjectRow = new QHBoxLayout;
    subjectRow->addWidget(label3);
    subjectRow->addWidget(m_txtSubjectLine, 1);
    emailLayout->addLayout(subjectRow);
    // The body is plain text or formatted; each keeps its text when the other is shown.
    m_chkFormatted = new QCheckBox(u"Formatted"_s, emailFrame);
    m_chkFormatted->setObjectName(u"chkFormatted"_s);
    m_chkFormatted->setToolTip(
        u"Check to write a formatted message (bold, italic, lists, links, pictures); it is sent with a plain-text "
        "copy for mail programs that show no formatting"_s);
    m_bodyEditor = new FormattedEditor(u"txtBodyHtml"_s, m_services.dialogs, emailFrame);
    m_bodyEditor->setDataFolder(m_services.dataFolder);
    m_bodyEditor->textBox()->setToolTip(u"Formatted email body"_s);
    m_bodyEditor->textBox()->setTabChangesFocus(true);
    m_bodyStack = new QStackedWidget(emailFrame);
    m_bodyStack->addWidget(m_txtBodyMessage);
    m_bodyStack->addWidget(m_bodyEditor);
    auto *bodyRow = new QHBoxLayout;
    bodyRow->addWidget(label1);
    bodyRow->addStretch(1);
    bodyRow->addWidget(m_chkFormatted);
    emailLayout->addLayout(bodyRow);
    emailLayout->addWidget(m_bodyStack, 1);
    connect(m_chkFormatted, &QCheckBox::toggled, this, &MainWindow::chkFormatted_Toggled);

    auto *csvHeading = new QHBoxLayout;
    csvHeading->addWidget(label8);
    csvHeading->addStretch(1);
    csvHeading->addWidget(m_chkCSVHeader);
    auto *left = new QVBoxLayout;
    left->setSpacing(4);
    left->addLayout(csvHeading);
    left->addLayout(csvRow);
    left->addWidget(modeFrame);
    left->addWidget(emailFrame, 1);
    return left;
}

QLayout *MainWindow::buildStatus(QWidget *parent)
{
    // What the run is doing.
    auto *label2 = makeLabel(u"Label2"_s, u"Status"_s, parent);
    m_txtProgress = new QPlainTextEdit(parent);
    m_txtProgress->setObjectName(u"txtProgress"_s);
    m_txtProgress->setReadOnly(true);
    m_txtProgress->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtProgress->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_txtProgress->setTabChangesFocus(true);
    // The box keeps its last line in view when it gets smaller (the run's summary appears under
    // it), unless the user has scrolled up to read.
    QScrollBar *statusBar = m_txtProgress->verticalScrollBar();
    connect(statusBar, &QScrollBar::valueChanged, this,
            [this, statusBar](int value) { m_statusAtEnd = value == statusBar->maximum(); });
    connect(statusBar, &QScrollBar::rangeChanged, this, [this, statusBar](int, int maximum) {
        if (m_statusAtEnd)
            statusBar->setValue(maximum);
    });
    auto *label4 = makeLabel(u"Label4"_s, u"Email Progress"_s, parent);
    m_progEmail = makeProgressBar(u"progEmail"_s, parent);
    auto *label5 = makeLabel(u"Label5"_s, u"Print Progress"_s, parent);
    m_progPrint = makeProgressBar(u"progPrint"_s, parent);
    m_lblRunProgress = makeLabel(u"lblRunProgress"_s, QString(), parent);
    // A long line wraps rather than widen the window.
    m_lblRunProgress->setWordWrap(true);
    m_lblRunProgress->setToolTip(u"The client being handled, what was sent and what failed so far, and the time left "
                                 "with the pauses set under Setup"_s);
    auto *bars = new QGridLayout;
    bars->addWidget(label4, 0, 0);
    bars->addWidget(m_progEmail, 0, 1);
    bars->addWidget(label5, 1, 0);
    bars->addWidget(m_progPrint, 1, 1);
    bars->addWidget(m_lblRunProgress, 2, 0, 1, 2);
    bars->setColumnStretch(1, 1);
    m_summary = new RunSummaryPanel(parent);
    m_progressTicker.setInterval(1000);
    connect(&m_progressTicker, &QTimer::timeout, this, &MainWindow::updateRunProgressLine);

    m_cmdStart = makeButton(u"cmdStart"_s, u"Start &Processing"_s, u"Start processing"_s, parent);
    m_cmdAbort = makeButton(u"cmdAbort"_s, u"&Abort Processing"_s, u"Abort Processing"_s, parent);
    m_cmdCheck = makeButton(u"cmdCheck"_s, u"Chec&k Client List"_s,
                            u"Show what a run would do for each client, without sending"_s, parent);
    for (QPushButton *button : {m_cmdStart, m_cmdAbort}) {
        QFont bold = button->font();
        bold.setBold(true);
        button->setFont(bold);
    }
    for (QPushButton *button : {m_cmdStart, m_cmdAbort, m_cmdCheck})
        button->setMinimumHeight(button->sizeHint().height() + 10);
    m_cmdAbort->setEnabled(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdStart, 1);
    buttons->addWidget(m_cmdCheck);
    buttons->addWidget(m_cmdAbort, 1);

    auto *right = new QVBoxLayout;
    right->addWidget(label2);
    right->addWidget(m_txtProgress, 1);
    right->addWidget(m_summary);
    right->addLayout(bars);
    right->addLayout(buttons);
    return right;
}

void MainWindow::buildMenus()
{
    // Menus and their entries carry the object names tests and the help refer to.
    const auto menu = [this](const QString &text, const QString &name) {
        QMenu *m = menuBar()->addMenu(text);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name);
        return m;
    };
    const auto entry = [](auto *parent, const QString &text, const QString &name) {
        QAction *action = parent->addAction(text);
        action->setObjectName(name);
        return action;
    };

    connect(entry(menuBar(), u"E&xit"_s, u"mnuExit"_s), &QAction::triggered, this, &QWidget::close);
    connect(entry(menuBar(), u"&Setup"_s, u"mnuSetup"_s), &QAction::triggered, this, &MainWindow::showSetup);

    QMenu *tools = menu(u"&Tools"_s, u"mnuTools"_s);
    connect(entry(tools, u"&Check Client List..."_s, u"mnuCheck"_s), &QAction::triggered, this, &MainWindow::showCheck);
    QAction *mnuPreview = entry(tools, u"&Preview..."_s, u"mnuPreview"_s);
    mnuPreview->setToolTip(u"Show each client's message exactly as it would be sent"_s);
    connect(mnuPreview, &QAction::triggered, this, [this] { showPreview(); });

    QMenu *journal = menu(u"&Journal"_s, u"mnuJournal"_s);
    m_mnuResendFailed = entry(journal, u"&Resend to Failed Clients"_s, u"mnuResendFailed"_s);
    m_mnuResendFailed->setToolTip(
        u"Send again to the clients of this mailing whose last send was refused or may not have arrived"_s);
    connect(m_mnuResendFailed, &QAction::triggered, this, &MainWindow::resendFailed);
    m_mnuCheckBounces = entry(journal, u"Check for &Bounces"_s, u"mnuCheckBounces"_s);
    m_mnuCheckBounces->setToolTip(
        u"Read the delivery reports in the mailbox (IMAP) for the runs of the last 30 days and record the clients whose message bounced"_s);
    connect(m_mnuCheckBounces, &QAction::triggered, this, &MainWindow::checkForBounces);
    m_mnuResendBounced = entry(journal, u"Resend to B&ounced Clients"_s, u"mnuResendBounced"_s);
    m_mnuResendBounced->setToolTip(u"Send again to the clients of this mailing whose message bounced, at the address "
                                   "now in the client file; those whose address is unchanged are skipped"_s);
    connect(m_mnuResendBounced, &QAction::triggered, this, &MainWindow::resendBounced);
    connect(entry(journal, u"&Open Journal Folder"_s, u"mnuJournalFolder"_s), &QAction::triggered, this,
            &MainWindow::openJournalFolder);

    QMenu *help = menu(u"&Help"_s, u"mnuHelp"_s);
    QAction *mnuHelpContents = entry(help, u"Help &Contents"_s, u"mnuHelpContents"_s);
    mnuHelpContents->setShortcut(QKeySequence::HelpContents);
    connect(mnuHelpContents, &QAction::triggered, this, &MainWindow::mnuHelpContents_Click);
    connect(entry(help, u"&About Quorvale"_s, u"mnuAbout"_s), &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::load()
{
    // The saved settings, and the three boxes filled from them.
    AppSettings settings;
    LoadSettings(m_services.store, settings);
    settings.DataFolder = m_services.dataFolder;
    m_txtSubjectLine->setText(settings.SubjectLine);
    m_txtCSVpath->setText(settings.CSVpath);
    m_chkCSVHeader->setChecked(settings.CSVHeader == 1);
    m_txtBodyMessage->setPlainText(settings.BodyText);
    // The attachment and print choices of the last run, so that a restart offers the same mailing.
    m_txtCommonAttachmentPath->setText(settings.AttachmentPath);
    m_txtDocumentPatterns->setText(settings.DocumentPatterns);
    m_chkPrint->setChecked(settings.PrintDocuments == 1);
    if (const std::optional<AttachmentMode> mode = attachmentModeNamed(settings.AttachMode))
        m_optAddAttachment->button(int(*mode))->setChecked(true);

    setWindowTitle(appTitle() + u" - " + appVersion());

    // The body file. A file that exists but cannot be read is worth a warning: the user would
    // otherwise send (and at the next run save over) an empty body without noticing.
    QString body;
    QString error;
    if (readBodyFile(m_services.dataFolder, body, &error)) {
        settings.BodyText = body;
        QString shown = body;
        shown.replace(u"\r\n"_s, u"\n"_s);
        m_txtBodyMessage->setPlainText(shown);
    } else {
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                m_services.dialogs.warn(this,
                                        u"The message body could not be read from %1:\n%2"_s.arg(
                                            QDir::toNativeSeparators(bodyFilePath(m_services.dataFolder)), error));
            },
            Qt::QueuedConnection);
    }
    // The formatted body, kept beside the plain one; which of them is sent is the last choice.
    QString html;
    if (readHtmlFile(htmlBodyFilePath(m_services.dataFolder), html, &error)) {
        m_bodyEditor->setHtml(html);
    } else {
        QMetaObject::invokeMethod(
            this, [this, error] { m_services.dialogs.warn(this, error); }, Qt::QueuedConnection);
    }
    m_chkFormatted->setChecked(settings.BodyFormat == "html"_L1);
    m_settings.set(settings);
}

QString MainWindow::startFolder(const QString &path) const
{
    const QFileInfo current(path);
    if (!path.isEmpty() && current.absoluteDir().exists())
        return current.absolutePath();
    if (!m_lastChosenFile.isEmpty())
        return QFileInfo(m_lastChosenFile).absolutePath();
    return QDir::homePath();
}

void MainWindow::cmdBrowseCSV_Click()
{
    const QString path =
        m_services.dialogs.chooseOpenFile(this, u"Load CSV File"_s, u"CSV File (*.csv);;All Files (*)"_s,
                                          startFolder(m_txtCSVpath->text()), u"ClientList.csv"_s);
    if (path.isEmpty())
        return;
    m_lastChosenFile = path;
    m_txtCSVpath->setText(QDir::toNativeSeparators(path));
    if (!path.contains(u".csv"_s, Qt::CaseInsensitive))
        m_services.dialogs.warn(this, u"The file selected is not a CSV file! Select a different file."_s);
}

void MainWindow::cmdBrowseCommonAttach_Click()
{
    // The dialog offers the last file chosen, as one shared dialog would, but never the client
    // list: one Enter would make it every client's attachment.
    const QString csvPath = m_txtCSVpath->text();
    const QString offered =
        isClientListFile(m_lastChosenFile, csvPath) ? QString() : QFileInfo(m_lastChosenFile).fileName();
    const QString path =
        m_services.dialogs.chooseOpenFile(this, u"Load Common Attachment File"_s, u"Attachment File (*)"_s,
                                          startFolder(m_txtCommonAttachmentPath->text()), offered);
    if (path.isEmpty())
        return;
    m_lastChosenFile = path;
    m_txtCommonAttachmentPath->setText(QDir::toNativeSeparators(path));
    if (isClientListFile(path, csvPath))
        m_services.dialogs.warn(this, clientListAsAttachmentMessage(QDir::toNativeSeparators(path)));
    else if (path.contains(u".csv"_s, Qt::CaseInsensitive))
        m_services.dialogs.warn(this, u"The file selected is a CSV file! Select a different file."_s);
}

void MainWindow::OptAddAttachment_Click(int index)
{
    if (index < 0 || index > 3)
        return;
    const bool common = index == 1;
    m_label6->setEnabled(common);
    m_txtCommonAttachmentPath->setEnabled(common);
    m_cmdBrowseCommonAttach->setEnabled(common);
    m_txtDocumentPatterns->setEnabled(index == 3);
    m_attachmentDetails->setCurrentWidget(index == 3 ? static_cast<QWidget *>(m_txtDocumentPatterns)
                                                     : m_txtCommonAttachmentPath->parentWidget());
    m_chkPrint->setEnabled(index == 2 || index == 3);
    // A run in progress reads the mode afresh for every client.
    m_session->setAttachmentMode(AttachmentMode(index));
}

QString MainWindow::bodyHtml() const
{
    if (!m_chkFormatted->isChecked())
        return {};
    // Formatted but empty is still a formatted message, so that the question warns of an empty
    // body rather than the plain one going instead.
    const QString html = m_bodyEditor->html();
    return html.isEmpty() ? u"<p></p>"_s : html;
}

void MainWindow::chkFormatted_Toggled(bool formatted)
{
    m_bodyStack->setCurrentIndex(formatted ? 1 : 0);
}

QString MainWindow::bodyText() const
{
    // The raw text keeps no-break spaces; blocks are joined by CR LF as in the body file.
    QString text = m_txtBodyMessage->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u"\r\n"_s);
    text.replace(QChar::LineSeparator, u"\r\n"_s);
    return text;
}

void MainWindow::cmdStart_Click()
{
    startRun(false);
}

void MainWindow::resendFailed()
{
    startRun(true);
}

void MainWindow::resendBounced()
{
    startRun(false, {}, true);
}

void MainWindow::startRun(bool retryFailed, const QStringList &clients, bool resendBounced)
{
    if (m_closing || isRunning())
        return;
    m_session->setAttachmentMode(AttachmentMode(m_optAddAttachment->checkedId()));
    m_session->setCommonAttachmentPath(m_txtCommonAttachmentPath->text());
    RunRequest request;
    request.csvPath = m_txtCSVpath->text();
    request.header = m_chkCSVHeader->isChecked();
    request.delimiter = csvSeparatorNamed(m_settings.get().CSVDelimiter).value_or(',');
    request.subject = m_txtSubjectLine->text();
    request.body = bodyText();
    request.html = bodyHtml();
    request.htmlFolder = m_services.dataFolder;
    request.keepHtml = true;
    request.print = m_chkPrint->isChecked();
    request.documentPatterns = m_txtDocumentPatterns->text().trimmed();
    request.retryFailed = retryFailed;
    request.clients = clients;
    request.resendBounced = resendBounced;
    m_session->start(request);
}

void MainWindow::cmdAbort_Click()
{
    m_session->abort();
    // The first press lets the message being sent finish; the button stays for a second one.
    m_cmdAbort->setToolTip(u"Abort again: stop the message being sent now, without waiting for the server"_s);
}

void MainWindow::clearStatus()
{
    m_txtProgress->clear();
    m_progEmail->setValue(0);
    m_progPrint->setValue(0);
}

void MainWindow::appendStatusLines(const QStringList &lines)
{
    // One append per batch: the cost per line does not grow with the length of the log.
    m_txtProgress->appendPlainText(displayLines(lines));
    QScrollBar *bar = m_txtProgress->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void MainWindow::setPrintProgress(int value, int maximum)
{
    // A print pass with nothing to print shows an empty bar rather than a busy one.
    m_progPrint->setRange(0, qMax(maximum, 0));
    if (maximum <= 0)
        m_progPrint->setRange(0, 1);
    m_progPrint->setValue(qBound(0, value, m_progPrint->maximum()));
}

void MainWindow::setRunning(bool running)
{
    m_cmdStart->setEnabled(!running);
    m_cmdAbort->setEnabled(running);
    if (!running)
        m_cmdAbort->setToolTip(u"Abort Processing"_s);
    m_mnuResendFailed->setEnabled(!running);
    m_mnuResendBounced->setEnabled(!running);
    // The last run's summary stays until the next run starts; the run's progress line shows
    // only while it goes on.
    if (running) {
        m_summary->clear();
    } else {
        m_progressTicker.stop();
        m_lblRunProgress->clear();
    }
    if (m_emailTest)
        m_emailTest->setRunInProgress(running);
    if (m_preview)
        m_preview->setRunInProgress(running);
}

void MainWindow::showRunProgress(const RunProgress &progress)
{
    if (!isRunning())
        return;
    m_runProgress = progress;
    m_sinceProgress.start();
    m_progressTicker.start();
    updateRunProgressLine();
}

void MainWindow::updateRunProgressLine()
{
    RunProgress shown = m_runProgress;
    if (shown.timeLeft)
        shown.timeLeft = std::max(*shown.timeLeft - std::chrono::milliseconds(m_sinceProgress.elapsed()),
                                  std::chrono::milliseconds(0));
    m_lblRunProgress->setText(runProgressText(shown));
}

void MainWindow::mnuHelpContents_Click()
{
    showHelp(kMainHelpContext);
}

void MainWindow::showHelp(int context)
{
    if (!m_help)
        m_help = new HelpWindow(m_services.helpFolder, m_services.dialogs, this);
    m_help->showContext(context);
    present(m_help);
}

void MainWindow::showSetup()
{
    if (!m_setup) {
        m_setup = new SetupDialog(m_settings, m_services.store, m_services.printer, m_services.dialogs,
                                  m_services.helpFolder, m_services.account, this);
        connect(m_setup, &SetupDialog::testEmailRequested, this, &MainWindow::showEmailTest);
        connect(m_setup, &SetupDialog::helpRequested, this, [this] { showHelp(kSetupHelpContext); });
    }
    present(m_setup);
}

void MainWindow::showEmailTest()
{
    if (!m_emailTest) {
        m_emailTest =
            new EmailTestDialog(m_settings, m_services.mailer, m_services.dialogs, this, m_services.sentCopier);
        connect(m_emailTest, &EmailTestDialog::emailProgress, m_progEmail, &QProgressBar::setValue);
        m_emailTest->setRunInProgress(isRunning());
    }
    present(m_emailTest);
}

void MainWindow::showAbout()
{
    if (!m_about)
        m_about = new AboutDialog(m_services.dialogs, this);
    present(m_about);
}

void MainWindow::showCheck()
{
    CheckRequest request;
    request.csvPath = m_txtCSVpath->text();
    request.mode = AttachmentMode(m_optAddAttachment->checkedId());
    request.commonPath = m_txtCommonAttachmentPath->text();
    request.documentPatterns = m_txtDocumentPatterns->text().trimmed();
    request.print = m_chkPrint->isChecked();
    request.header = m_chkCSVHeader->isChecked();
    request.delimiter = csvSeparatorNamed(m_settings.get().CSVDelimiter).value_or(',');
    request.subject = m_txtSubjectLine->text();
    request.body = m_chkFormatted->isChecked() ? bodyHtml() : bodyText();
    request.programFiles = ownProgramFiles(m_services.store.filePath(), m_services.dataFolder);
    // Asked on the check's worker thread, as long as a run's start waits for the answer at most.
    request.serverSizeLimit = [&mailer = m_services.mailer, settings = m_settings.get()] {
        QElapsedTimer elapsed;
        elapsed.start();
        return serverSizeLimit(mailer, settings,
                               [&elapsed] { return elapsed.hasExpired(qint64(RunSession::kSizeProbeSeconds) * 1000); });
    };
    if (!m_check) {
        m_check = new CheckDialog(m_services.dialogs, this);
        connect(m_check, &CheckDialog::previewRequested, this, &MainWindow::showPreview);
        connect(m_check, &CheckDialog::sendToTickedRequested, this,
                [this](const QStringList &clients) { startRun(false, clients); });
        m_check->setAddToReport([folder = runJournalFolder(m_services.dataFolder)](CheckReport &report) {
            // An address that bounced and is still in the list is a problem of the list.
            QList<std::pair<QString, QString>> clients;
            for (const CheckRow &row : report.rows)
                clients.append({row.clientId, row.address});
            report.problems += bouncedAddressesIn(folder, clients);
        });
    }
    m_check->startCheck(request);
    present(m_check);
}

void MainWindow::showPreview(qint64 line)
{
    if (m_txtCSVpath->text().isEmpty()) {
        m_services.dialogs.warn(this, u"You need to set the path for the client CSV file."_s);
        return;
    }
    PreviewRequest request;
    request.csvPath = m_txtCSVpath->text();
    request.header = m_chkCSVHeader->isChecked();
    request.delimiter = csvSeparatorNamed(m_settings.get().CSVDelimiter).value_or(',');
    request.subject = m_txtSubjectLine->text();
    request.body = bodyText();
    if (m_chkFormatted->isChecked()) {
        request.formatted = true;
        request.body = bodyHtml();
        request.htmlFolder = m_services.dataFolder;
    }
    request.mode = AttachmentMode(m_optAddAttachment->checkedId());
    request.commonPath = m_txtCommonAttachmentPath->text();
    request.documentPatterns = m_txtDocumentPatterns->text().trimmed();
    request.sender = m_settings.get().EmailFrom;
    request.senderName = m_settings.get().EmailFromName;
    request.replyTo = m_settings.get().ReplyTo;
    request.programFiles = ownProgramFiles(m_services.store.filePath(), m_services.dataFolder);
    // The preview is built on the UI thread: it never asks the server, it uses what a run's start
    // last learned of it.
    request.serverSizeLimit = m_session->knownSizeLimit(m_settings.get());
    QString signatureError;
    if (!readHtmlFile(signatureFilePath(m_services.dataFolder), request.signature, &signatureError)) {
        m_services.dialogs.warn(this, signatureError);
        return;
    }
    request.signatureFolder = m_services.dataFolder;
    if (!m_preview) {
        m_preview = new PreviewDialog(m_settings, m_services.mailer, m_services.dialogs, this);
        m_preview->setRunInProgress(isRunning());
    }
    if (m_preview->showMailing(request, line))
        present(m_preview);
}

void MainWindow::openJournalFolder()
{
    // Made when missing, so that the file manager opens it even before the first run.
    const QString folder = runJournalFolder(m_services.dataFolder);
    platform::makePrivateFolder(folder);
    openOnDesktop(folder, u"The journal folder"_s);
}

void MainWindow::openOnDesktop(const QString &path, const QString &what)
{
    if (m_services.dialogs.tryOpenUrl(QUrl::fromLocalFile(path)))
        return;
    const QString shown = QDir::toNativeSeparators(path);
    if (m_services.dialogs.warnOffering(
            this, u"%1 could not be opened: no program on this desktop opens it.\n\n%2"_s.arg(what, shown),
            u"Copy Path"_s))
        QApplication::clipboard()->setText(shown);
}

void MainWindow::checkForBounces()
{
    if (m_closing || m_bounceCheck.isRunning())
        return;
    InboxReader *reader = m_services.inboxReader;
    if (!reader) {
        if (!m_ownInboxReader)
            m_ownInboxReader = std::make_unique<ImapInboxReader>(m_services.account);
        reader = m_ownInboxReader.get();
    }
    const AppSettings settings = m_settings.get();
    if (const QString problem = inboxProblem(settings); !problem.isEmpty()) {
        m_services.dialogs.warn(this, problem);
        return;
    }
    const QDateTime now = m_services.clock.currentDateTime();
    const QString dataFolder = m_services.dataFolder;
    auto result = std::make_shared<BounceCheckResult>();
    const std::shared_ptr<std::atomic_bool> aborted = m_bounceCheckAborted;
    m_mnuCheckBounces->setEnabled(false);
    appendStatusLines({u"Checking for bounces..."_s});
    m_bounceCheck.start(
        u"Quorvale bounces"_s,
        [reader, settings, dataFolder, now, result, aborted] {
            *result = quorvale::checkForBounces(*reader, settings, dataFolder, defaultBounceSince(now.date()), now,
                                                [aborted] { return aborted->load(); });
        },
        [this, result] {
            m_mnuCheckBounces->setEnabled(true);
            if (!result->ok()) {
                m_services.dialogs.warn(this, u"The mailbox could not be read: "_s + result->error);
                return;
            }
            QStringList lines;
            for (const BouncedClient &bounced : std::as_const(result->bounced))
                lines.append(bounced.statusLine());
            lines.append(u"Bounces found - "_s + QString::number(result->bounced.size()));
            appendStatusLines(lines);
        });
}

void MainWindow::stopEverything()
{
    if (m_closing)
        return;
    m_closing = true;
    // Exit ends a run where it stands, without its closing lines, and a check for bounces too.
    m_bounceCheckAborted->store(true);
    m_session->shutDown();
    if (m_emailTest)
        delete m_emailTest.data(); // waits for a test send in flight
    for (QWidget *window : std::initializer_list<QWidget *>{m_setup, m_about, m_check, m_preview, m_help}) {
        if (window)
            window->close();
    }
}

void MainWindow::closeWithoutAsking()
{
    m_askBeforeClosing = false;
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Aborting lets the run close its journal as aborted before the program ends.
    if (m_askBeforeClosing && isRunning() &&
        !m_services.dialogs.askYesNo(this, u"A run is in progress. Abort it and exit?"_s)) {
        event->ignore();
        return;
    }
    QString error;
    if (!keepMessage(&error) && m_askBeforeClosing &&
        !m_services.dialogs.askYesNo(
            this,
            u"The subject and message you typed could not be kept for next time (%1). Exit anyway?"_s.arg(error))) {
        event->ignore();
        return;
    }
    stopEverything();
    event->accept();
}

bool MainWindow::keepMessage(QString *error)
{
    // The subject and body typed since the last run are kept for the next start, as a run keeps
    // them; nothing is written when they did not change.
    AppSettings saved;
    LoadSettings(m_services.store, saved);
    QString savedBody;
    readBodyFile(m_services.dataFolder, savedBody);
    const QString subject = m_txtSubjectLine->text();
    const QString body = bodyText();
    if (subject != saved.SubjectLine && !saveSetting(m_services.store, &AppSettings::SubjectLine, subject, error))
        return false;
    // The body file gives back each line with its line end; a last line end makes no difference.
    const auto plain = [](QString text) {
        text.replace(u"\r\n"_s, u"\n"_s);
        while (text.endsWith(u'\n'))
            text.chop(1);
        return text;
    };
    if (plain(body) != plain(savedBody) && !writeBodyFile(m_services.dataFolder, body, error))
        return false;
    // The formatted body and the choice between the two, likewise.
    const QString format = m_chkFormatted->isChecked() ? u"html"_s : u"plain"_s;
    if (format != saved.BodyFormat && !saveSetting(m_services.store, &AppSettings::BodyFormat, format, error))
        return false;
    QString savedHtml;
    readHtmlFile(htmlBodyFilePath(m_services.dataFolder), savedHtml);
    const QString html = m_bodyEditor->html();
    return html == savedHtml || writeHtmlFile(htmlBodyFilePath(m_services.dataFolder), html, error);
}

} // namespace quorvale
