#include "gui/mainwindow.h"

#include "appinfo.h"
#include "gui/aboutdialog.h"
#include "gui/appicon.h"
#include "gui/checkdialog.h"
#include "gui/emailtestdialog.h"
#include "gui/helpfiles.h"
#include "gui/runbridge.h"
#include "gui/setupdialog.h"
#include "gui/widgetfactory.h"
#include "mail/attachmentcache.h"
#include "mail/smtpmailer.h"
#include "run/clock.h"
#include "run/printer.h"
#include "settings/bodyfile.h"
#include "settings/settingsstore.h"
#include "settings/settingstable.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
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
#include <QThread>
#include <QVBoxLayout>

namespace quorvale {

using namespace Qt::StringLiterals;

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

} // namespace

MainWindow::MainWindow(const MainWindowOptions &options, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(u"frmMain"_s);
    setWindowIcon(appIcon());

    if (!options.store)
        m_ownedStore = openSettingsStore();
    m_store = options.store ? options.store : m_ownedStore.get();
    if (!options.printer)
        m_ownedPrinter = std::make_unique<CommandPrinter>();
    m_printer = options.printer ? options.printer : m_ownedPrinter.get();
    if (!options.clock)
        m_ownedClock = std::make_unique<SystemClock>();
    m_clock = options.clock ? options.clock : m_ownedClock.get();
    if (!options.dialogs)
        m_ownedDialogs = std::make_unique<DesktopDialogs>();
    m_dialogs = options.dialogs ? options.dialogs : m_ownedDialogs.get();
    m_dataFolder = options.dataFolder;
    m_helpFolder = options.helpFolder;

    m_bridge = new RunBridge(this);

    buildUi();
    buildMenus();

    if (!options.mailer)
        m_ownedMailer = std::make_unique<SmtpMailer>(m_dataFolder);
    m_mailer = options.mailer ? options.mailer : m_ownedMailer.get();

    load();
}

MainWindow::~MainWindow()
{
    stopEverything();
}

void MainWindow::buildUi()
{
    auto *central = new QWidget(this);
    setCentralWidget(central);

    // Left column: what to send and to whom.
    auto *label8 = makeLabel(u"Label8"_s, u"Client Email List (csv file)"_s, central);
    m_txtCSVpath = makeLineEdit(u"txtCSVpath"_s, u"Path of client CSV file"_s, central);
    m_cmdBrowseCSV = makeButton(u"cmdBrowseCSV"_s, u"&Browse"_s, u"Browse for client CSV file"_s, central);
    auto *csvRow = new QHBoxLayout;
    csvRow->addWidget(m_txtCSVpath, 1);
    csvRow->addWidget(m_cmdBrowseCSV);

    auto *modeFrame = new QGroupBox(central);
    modeFrame->setObjectName(u"Frame1"_s);
    m_optAddAttachment = new QButtonGroup(this);
    const QString optionTexts[3][2] = {
        {u"Send email to all clients"_s, u"Select to add no attachment to emails"_s},
        {u"Send email to all clients with a common attachment"_s,
         u"Select to send email to all clients with a common attachment"_s},
        {u"Send email to all clients and a client specific attachment"_s,
         u"Select to send email to all clients and a client specific attachment"_s},
    };
    auto *modeLayout = new QVBoxLayout(modeFrame);
    for (int i = 0; i < 3; ++i) {
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
    auto *commonRow = new QHBoxLayout;
    commonRow->addWidget(m_txtCommonAttachmentPath, 1);
    commonRow->addWidget(m_cmdBrowseCommonAttach);
    m_chkPrint = new QCheckBox(u"Print document when no email exists in client list "_s, modeFrame);
    m_chkPrint->setObjectName(u"chkPrint"_s);
    m_chkPrint->setToolTip(u"Check to print document when no email exists in client list"_s);
    modeLayout->addSpacing(6);
    modeLayout->addWidget(m_label6);
    modeLayout->addLayout(commonRow);
    modeLayout->addSpacing(4);
    modeLayout->addWidget(m_chkPrint);

    auto *emailFrame = new QGroupBox(u"Email"_s, central);
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
    emailLayout->addWidget(label3);
    emailLayout->addWidget(m_txtSubjectLine);
    emailLayout->addSpacing(4);
    emailLayout->addWidget(label1);
    emailLayout->addWidget(m_txtBodyMessage, 1);

    auto *left = new QVBoxLayout;
    left->addWidget(label8);
    left->addLayout(csvRow);
    left->addSpacing(4);
    left->addWidget(modeFrame);
    left->addWidget(emailFrame, 1);

    // Right column: what the run is doing.
    auto *label2 = makeLabel(u"Label2"_s, u"Status"_s, central);
    m_txtProgress = new QPlainTextEdit(central);
    m_txtProgress->setObjectName(u"txtProgress"_s);
    m_txtProgress->setReadOnly(true);
    m_txtProgress->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtProgress->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_txtProgress->setTabChangesFocus(true);
    auto *label4 = makeLabel(u"Label4"_s, u"Email Progress"_s, central);
    m_progEmail = makeProgressBar(u"progEmail"_s, central);
    auto *label5 = makeLabel(u"Label5"_s, u"Print Progress"_s, central);
    m_progPrint = makeProgressBar(u"progPrint"_s, central);
    auto *bars = new QGridLayout;
    bars->addWidget(label4, 0, 0);
    bars->addWidget(m_progEmail, 0, 1);
    bars->addWidget(label5, 1, 0);
    bars->addWidget(m_progPrint, 1, 1);
    bars->setColumnStretch(1, 1);

    m_cmdStart = makeButton(u"cmdStart"_s, u"Start &Processing"_s, u"Start processing"_s, central);
    m_cmdAbort = makeButton(u"cmdAbort"_s, u"&Abort Processing"_s, u"Abort Processing"_s, central);
    for (QPushButton *button : {m_cmdStart, m_cmdAbort}) {
        QFont bold = button->font();
        bold.setBold(true);
        button->setFont(bold);
        button->setMinimumHeight(button->sizeHint().height() + 10);
    }
    m_cmdAbort->setEnabled(false);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdStart, 1);
    buttons->addWidget(buildCheckEntries(central));
    buttons->addWidget(m_cmdAbort, 1);

    auto *right = new QVBoxLayout;
    right->addWidget(label2);
    right->addWidget(m_txtProgress, 1);
    right->addSpacing(4);
    right->addLayout(bars);
    right->addSpacing(8);
    right->addLayout(buttons);

    auto *columns = new QHBoxLayout(central);
    columns->setContentsMargins(12, 10, 12, 12);
    columns->setSpacing(16);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    // Mode 0 at start: the common-attachment controls and chkPrint are disabled.
    OptAddAttachment_Click(0);

    setTabOrder(m_txtCSVpath, m_cmdBrowseCSV);
    setTabOrder(m_cmdBrowseCSV, m_optAddAttachment->button(0));
    setTabOrder(m_optAddAttachment->button(0), m_optAddAttachment->button(1));
    setTabOrder(m_optAddAttachment->button(1), m_optAddAttachment->button(2));
    setTabOrder(m_optAddAttachment->button(2), m_txtCommonAttachmentPath);
    setTabOrder(m_txtCommonAttachmentPath, m_cmdBrowseCommonAttach);
    setTabOrder(m_cmdBrowseCommonAttach, m_chkPrint);
    setTabOrder(m_chkPrint, m_txtSubjectLine);
    setTabOrder(m_txtSubjectLine, m_txtBodyMessage);
    setTabOrder(m_txtBodyMessage, m_txtProgress);
    setTabOrder(m_txtProgress, m_cmdStart);
    setTabOrder(m_cmdStart, m_cmdCheck);
    setTabOrder(m_cmdCheck, m_cmdAbort);

    connect(m_cmdBrowseCSV, &QPushButton::clicked, this, &MainWindow::cmdBrowseCSV_Click);
    connect(m_cmdBrowseCommonAttach, &QPushButton::clicked, this, &MainWindow::cmdBrowseCommonAttach_Click);
    connect(m_optAddAttachment, &QButtonGroup::idToggled, this, [this](int index, bool checked) {
        if (checked)
            OptAddAttachment_Click(index);
    });
    connect(m_txtCommonAttachmentPath, &QLineEdit::textChanged, this,
            [this](const QString &path) { m_control.setCommonAttachmentPath(path); });
    connect(m_cmdStart, &QPushButton::clicked, this, &MainWindow::cmdStart_Click);
    connect(m_cmdAbort, &QPushButton::clicked, this, &MainWindow::cmdAbort_Click);

    connect(m_bridge, &RunBridge::linesLogged, this, &MainWindow::appendStatusLines);
    connect(m_bridge, &RunBridge::emailProgressChanged, m_progEmail, &QProgressBar::setValue);
    connect(m_bridge, &RunBridge::printProgressChanged, this, &MainWindow::setPrintProgress);
    connect(m_bridge, &RunBridge::runningStateChanged, this, &MainWindow::setRunning);

    resize(980, 660);
    setMinimumSize(760, 540);
}

void MainWindow::buildMenus()
{
    auto *mnuExit = menuBar()->addAction(u"E&xit"_s);
    mnuExit->setObjectName(u"mnuExit"_s);
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);

    auto *mnuSetup = menuBar()->addAction(u"&Setup"_s);
    mnuSetup->setObjectName(u"mnuSetup"_s);
    connect(mnuSetup, &QAction::triggered, this, &MainWindow::showSetup);

    buildCheckMenu();
    buildJournalMenu();

    QMenu *help = menuBar()->addMenu(u"&Help"_s);
    help->setObjectName(u"mnuHelp"_s);
    help->menuAction()->setObjectName(u"mnuHelp"_s);
    auto *mnuHelpContents = help->addAction(u"Help &Contents"_s);
    mnuHelpContents->setObjectName(u"mnuHelpContents"_s);
    mnuHelpContents->setShortcut(QKeySequence::HelpContents);
    connect(mnuHelpContents, &QAction::triggered, this, &MainWindow::mnuHelpContents_Click);
    auto *mnuAbout = help->addAction(u"&About Quorvale"_s);
    mnuAbout->setObjectName(u"mnuAbout"_s);
    connect(mnuAbout, &QAction::triggered, this, &MainWindow::showAbout);
}

void MainWindow::load()
{
    // 1. The data folder, and the encoded attachment copies that a crashed run left in it.
    if (m_dataFolder.isEmpty())
        m_dataFolder = defaultDataFolder();
    AttachmentCache::removeLeftovers(m_dataFolder);

    // 2. The saved settings, and the three boxes filled from them.
    AppSettings settings;
    LoadSettings(*m_store, settings);
    settings.DataFolder = m_dataFolder;
    m_txtSubjectLine->setText(settings.SubjectLine);
    m_txtCSVpath->setText(settings.CSVpath);
    m_txtBodyMessage->setPlainText(settings.BodyText);

    // 3. The caption.
    setWindowTitle(appTitle() + u" - " + appVersion());

    // 4. The mail component was created with the window (it needs the settings holder).

    // 5. The body file. A file that exists but cannot be read is worth a warning: the user
    // would otherwise send (and at the next run save over) an empty body without noticing.
    QString body;
    QString error;
    if (readBodyFile(m_dataFolder, body, &error)) {
        settings.BodyText = body;
        QString shown = body;
        shown.replace(u"\r\n"_s, u"\n"_s);
        m_txtBodyMessage->setPlainText(shown);
    } else {
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                m_dialogs->warn(this, u"The message body could not be read from %1:\n%2"_s.arg(
                                          QDir::toNativeSeparators(bodyFilePath(m_dataFolder)), error));
            },
            Qt::QueuedConnection);
    }
    m_settings.set(settings);

    // 6. The help pages.
    if (m_helpFolder.isEmpty())
        m_helpFolder = helpFolder();
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
    const QString path = m_dialogs->chooseOpenFile(this, u"Load CSV File"_s, u"CSV File (*.csv);;All Files (*)"_s,
                                                   startFolder(m_txtCSVpath->text()), u"ClientList.csv"_s);
    if (path.isEmpty())
        return;
    m_lastChosenFile = path;
    m_txtCSVpath->setText(QDir::toNativeSeparators(path));
    if (!path.contains(u".csv"_s, Qt::CaseInsensitive))
        m_dialogs->warn(this, u"The file selected is not a CSV file! Select a different file."_s);
}

void MainWindow::cmdBrowseCommonAttach_Click()
{
    // The dialog offers the last file chosen, as one shared dialog would, but never the client
    // list: one Enter would make it every client's attachment.
    const QString csvPath = m_txtCSVpath->text();
    const QString offered =
        isClientListFile(m_lastChosenFile, csvPath) ? QString() : QFileInfo(m_lastChosenFile).fileName();
    const QString path = m_dialogs->chooseOpenFile(this, u"Load Common Attachment File"_s, u"Attachment File (*)"_s,
                                                   startFolder(m_txtCommonAttachmentPath->text()), offered);
    if (path.isEmpty())
        return;
    m_lastChosenFile = path;
    m_txtCommonAttachmentPath->setText(QDir::toNativeSeparators(path));
    if (isClientListFile(path, csvPath))
        m_dialogs->warn(this, clientListAsAttachmentMessage(QDir::toNativeSeparators(path)));
    else if (path.contains(u".csv"_s, Qt::CaseInsensitive))
        m_dialogs->warn(this, u"The file selected is a CSV file! Select a different file."_s);
}

void MainWindow::OptAddAttachment_Click(int index)
{
    if (index < 0 || index > 2)
        return;
    const bool common = index == 1;
    m_label6->setEnabled(common);
    m_txtCommonAttachmentPath->setEnabled(common);
    m_cmdBrowseCommonAttach->setEnabled(common);
    m_chkPrint->setEnabled(index == 2);
    // A run in progress reads the mode afresh for every client.
    m_control.setAttachmentMode(static_cast<AttachmentMode>(index));
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

void MainWindow::startRun(bool retryFailed)
{
    if (m_runActive || m_closing)
        return;
    m_control.setAttachmentMode(static_cast<AttachmentMode>(m_optAddAttachment->checkedId()));
    m_control.setCommonAttachmentPath(m_txtCommonAttachmentPath->text());

    RunRequest request;
    request.csvPath = m_txtCSVpath->text();
    request.subject = m_txtSubjectLine->text();
    request.body = bodyText();
    request.print = m_chkPrint->isChecked();
    request.retryFailed = retryFailed;

    m_prompter = std::make_unique<DialogPrompter>(*m_dialogs, this);
    RunDependencies deps{*m_store,  *m_bridge,  *m_prompter,
                         *m_mailer, *m_printer, *m_clock,
                         m_control, m_bridge,   [this] { return m_settings.get(); }};
    m_run = std::make_unique<BatchRun>(std::move(deps));
    // The box keeps its old lines when a check stops the run before its first line.
    m_clearStatusOnNextLine = true;
    const bool go = m_run->prepare(request);
    m_bridge->flush();
    m_clearStatusOnNextLine = false;
    if (!go) {
        if (m_prompter->answeredNo())
            m_txtProgress->clear();
        m_run.reset();
        setRunning(false);
        return;
    }

    m_runActive = true;
    setRunning(true);
    BatchRun *run = m_run.get();
    m_runThread = QThread::create([run] { run->execute(); });
    m_runThread->setObjectName(u"Quorvale run"_s);
    connect(m_runThread, &QThread::finished, this, &MainWindow::onRunThreadFinished);
    if (m_emailTest)
        m_emailTest->setRunInProgress(true);
    m_runThread->start();
}

void MainWindow::cmdAbort_Click()
{
    m_control.abort().request();
}

void MainWindow::onRunThreadFinished()
{
    if (!m_runThread)
        return;
    m_runThread->wait();
    m_runThread->deleteLater();
    m_runThread = nullptr;
    m_run.reset();
    if (!m_closing)
        finishRunOnceShown();
}

void MainWindow::finishRunOnceShown()
{
    // The worker may have logged faster than the window shows; the run is over for the user
    // (Start enabled again) once its last line is in the status box.
    if (m_closing)
        return;
    if (m_bridge->hasPendingLines()) {
        QMetaObject::invokeMethod(this, &MainWindow::finishRunOnceShown, Qt::QueuedConnection);
        return;
    }
    m_bridge->flush();
    m_runActive = false;
    setRunning(false);
    if (m_emailTest)
        m_emailTest->setRunInProgress(false);
    Q_EMIT runFinished();
}

void MainWindow::appendStatusLines(const QStringList &lines)
{
    if (m_clearStatusOnNextLine) {
        m_clearStatusOnNextLine = false;
        m_txtProgress->clear();
        m_progEmail->setValue(0);
        m_progPrint->setValue(0);
    }
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
    // A run that is still winding down keeps Start disabled until its last line is shown.
    const bool busy = running || m_runActive;
    m_cmdStart->setEnabled(!busy);
    m_cmdAbort->setEnabled(busy);
    if (m_mnuResendFailed)
        m_mnuResendFailed->setEnabled(!busy);
}

void MainWindow::mnuHelpContents_Click()
{
    const QUrl url = helpUrl(m_helpFolder, kMainHelpContext);
    if (url.isValid())
        m_dialogs->openUrl(url);
}

void MainWindow::showSetup()
{
    if (!m_setup) {
        m_setup = new SetupDialog(m_settings, *m_store, *m_printer, *m_dialogs, m_helpFolder, this);
        connect(m_setup, &SetupDialog::testEmailRequested, this, &MainWindow::showEmailTest);
    }
    m_setup->show();
    m_setup->raise();
    m_setup->activateWindow();
}

void MainWindow::showEmailTest()
{
    if (!m_emailTest) {
        m_emailTest = new EmailTestDialog(m_settings, *m_mailer, *m_dialogs, this);
        connect(m_emailTest, &EmailTestDialog::emailProgress, m_progEmail, &QProgressBar::setValue);
        m_emailTest->setRunInProgress(m_runActive);
    }
    m_emailTest->show();
    m_emailTest->raise();
    m_emailTest->activateWindow();
}

void MainWindow::showAbout()
{
    if (!m_about)
        m_about = new AboutDialog(*m_dialogs, this);
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void MainWindow::stopEverything()
{
    if (m_closing)
        return;
    m_closing = true;
    // Exit ends a run where it stands: its closing lines are dropped, the pause or send it is
    // in notices the abort within a slice, and the worker is waited for so nothing is left
    // running against freed objects.
    m_bridge->discard();
    m_control.abort().request();
    if (m_runThread) {
        m_runThread->wait();
        delete m_runThread;
        m_runThread = nullptr;
        m_run.reset();
    }
    m_runActive = false;
    if (m_emailTest)
        delete m_emailTest.data(); // waits for a test send in flight
    if (m_setup)
        m_setup->close();
    if (m_about)
        m_about->close();
    if (m_check)
        m_check->close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    stopEverything();
    event->accept();
}

} // namespace quorvale
