// The main window driven as a person would: its controls, start-up, file choosers, mode switch,
// menus, and runs through the window with a recording mailer (Start, Abort, Exit mid-run).

#include "guitest.h"

#include "gui/aboutdialog.h"
#include "gui/formattededitor.h"
#include "gui/guiapp.h"
#include "gui/helpfiles.h"
#include "run/journal.h"
#include "settings/bodyfile.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTextBrowser>

#include <csignal>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controlsHaveTheirCaptionsToolTipsAndStates_data();
    void controlsHaveTheirCaptionsToolTipsAndStates();
    void menusHaveTheirEntries();
    void tabOrderFollowsTheForm();
    void startsWithSavedSettingsAndBodyFile();
    void firstStartShowsDefaults();
    void restartKeepsTheMailingAsTheLastRunAndTheUserLeftIt();
    void namedDocumentsAreSentAndTheirNamesKept();
    void resumeWithTheEarlierChoicesShowsThem();
    void formattedBodyIsSentFormattedAndSurvivesARestart();
    void unreadableBodyFileIsWarnedAbout();
    void modeSwitchChangesOnlyEnabledStates_data();
    void modeSwitchChangesOnlyEnabledStates();
    void csvChooserWarnsAboutOtherFilesButKeepsThem_data();
    void csvChooserWarnsAboutOtherFilesButKeepsThem();
    void commonChooserWarnsAboutCsvFiles_data();
    void commonChooserWarnsAboutCsvFiles();
    void helpWindowShowsTopicsWithHistory();
    void setupAndAboutExistOnce();
    void aboutBoxShowsIdentityAndLinks();
    void aboutBoxClosesWithEnterAndEsc_data();
    void aboutBoxClosesWithEnterAndEsc();

    void runLogsEveryStepAndSendsOneMessagePerAddress();
    void runIsSummarisedBeforeAndAfter();
    void questionWarnsOfMessagesLargerThanTheServerTakes();
    void incompleteSetupOffersSetup();
    void failedCheckKeepsTheOldStatusLines();
    void answeringNoClearsTheStatusBoxAndSavesNothing();
    void startAfterAFinishedMailingSaysSoAndDefaultsToNo();
    void fastRunShowsEveryLineInOrderBeforeItEnds();
    void abortClickEndsTheRunAtItsNextCheckPoint();
    void abortLetsTheMessageBeingSentFinish_data();
    void abortLetsTheMessageBeingSentFinish();
    void modeChangedMidRunAppliesToTheClientsThatFollow_data();
    void modeChangedMidRunAppliesToTheClientsThatFollow();
    void exitMidRunAsksThenAbortsTheRun();
    void sessionEndAbortsTheRunAndCloses_data();
    void sessionEndAbortsTheRunAndCloses();
};

void TestMainWindow::controlsHaveTheirCaptionsToolTipsAndStates_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("Label8") << "Label8"
                            << "Client Email List (csv file)"
                            << "" << true;
    QTest::newRow("txtCSVpath") << "txtCSVpath"
                                << ""
                                << "Path of client CSV file" << true;
    QTest::newRow("cmdBrowseCSV") << "cmdBrowseCSV"
                                  << "Browse"
                                  << "Browse for client CSV file" << true;
    QTest::newRow("Opt0") << "OptAddAttachment0"
                          << "Send email to all clients"
                          << "Select to add no attachment to emails" << true;
    QTest::newRow("Opt1") << "OptAddAttachment1"
                          << "Send email to all clients with a common attachment"
                          << "Select to send email to all clients with a common attachment" << true;
    QTest::newRow("Opt2") << "OptAddAttachment2"
                          << "Send email to all clients and a client specific attachment"
                          << "Select to send email to all clients and a client specific attachment" << true;
    QTest::newRow("Label6") << "Label6"
                            << "Common Attachment file path"
                            << "" << false;
    QTest::newRow("txtCommonAttachmentPath") << "txtCommonAttachmentPath"
                                             << ""
                                             << "Path of common attachment file" << false;
    QTest::newRow("cmdBrowseCommonAttach") << "cmdBrowseCommonAttach"
                                           << "Browse"
                                           << "Browse for commom attachment file" << false;
    QTest::newRow("chkPrint") << "chkPrint"
                              << "Print document when no email exists in client list "
                              << "Check to print document when no email exists in client list" << false;
    QTest::newRow("Label3") << "Label3"
                            << "Subject Line"
                            << "" << true;
    QTest::newRow("txtSubjectLine") << "txtSubjectLine"
                                    << "Subject Line Text"
                                    << "Subject line" << true;
    QTest::newRow("Label1") << "Label1"
                            << "Email Body"
                            << "" << true;
    QTest::newRow("txtBodyMessage") << "txtBodyMessage"
                                    << ""
                                    << "Email body text" << true;
    QTest::newRow("Label2") << "Label2"
                            << "Status"
                            << "" << true;
    QTest::newRow("txtProgress") << "txtProgress"
                                 << ""
                                 << "" << true;
    QTest::newRow("Label4") << "Label4"
                            << "Email Progress"
                            << "" << true;
    QTest::newRow("progEmail") << "progEmail"
                               << ""
                               << "Overall progress of sending emails and printing" << true;
    QTest::newRow("Label5") << "Label5"
                            << "Print Progress"
                            << "" << true;
    QTest::newRow("progPrint") << "progPrint"
                               << ""
                               << "Overall progress of sending emails and printing" << true;
    QTest::newRow("cmdStart") << "cmdStart"
                              << "Start Processing"
                              << "Start processing" << true;
    QTest::newRow("cmdAbort") << "cmdAbort"
                              << "Abort Processing"
                              << "Abort Processing" << false;
}

void TestMainWindow::controlsHaveTheirCaptionsToolTipsAndStates()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);

    WindowFixture f;
    MainWindow &w = f.open();
    QCOMPARE(w.windowTitle(), u"Quorvale - 1.0.5"_s);
    FIND_CHILD(QWidget, control, w, name);
    QCOMPARE(control->toolTip(), toolTip);
    QCOMPARE(control->isEnabled(), enabled);
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        QCOMPARE(caption(button->text()), text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
    else if (auto *edit = qobject_cast<QLineEdit *>(control))
        QCOMPARE(edit->text(), text);
    else if (auto *box = qobject_cast<QPlainTextEdit *>(control))
        QCOMPARE(box->toPlainText(), text);
    else if (auto *bar = qobject_cast<QProgressBar *>(control))
        QCOMPARE(std::pair(bar->value(), bar->maximum()), std::pair(0, 100));
}

void TestMainWindow::menusHaveTheirEntries()
{
    WindowFixture f;
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    const QStringList expected{u"mnuExit"_s, u"mnuSetup"_s, u"mnuHelp"_s, u"mnuHelpContents"_s, u"mnuAbout"_s};
    const QStringList captions{u"Exit"_s, u"Setup"_s, u"Help"_s, u"Help Contents"_s, u"About Quorvale"_s};
    for (qsizetype i = 0; i < expected.size(); ++i) {
        FIND_CHILD(QAction, action, w, expected[i]);
        QCOMPARE(caption(action->text()), captions[i]);
        QVERIFY(action->isEnabled());
    }
    FIND_CHILD(QMenu, helpMenu, w, u"mnuHelp"_s);
    FIND_CHILD(QAction, mnuHelpContents, w, u"mnuHelpContents"_s);
    FIND_CHILD(QAction, mnuAbout, w, u"mnuAbout"_s);
    QCOMPARE(helpMenu->actions(), (QList<QAction *>{mnuHelpContents, mnuAbout}));
    QVERIFY(ui.txtProgress->isReadOnly());
    QVERIFY(ui.cmdStart->font().bold());
    QVERIFY(ui.cmdAbort->font().bold());
}

void TestMainWindow::tabOrderFollowsTheForm()
{
    WindowFixture f;
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    ui.OptAddAttachment1->click(); // the common-attachment controls take part
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    ui.txtCSVpath->setFocus();
    // The mode buttons are one stop (arrow keys move within them).
    const QStringList expected{u"cmdBrowseCSV"_s,
                               u"chkCSVHeader"_s,
                               u"OptAddAttachment0"_s,
                               u"txtCommonAttachmentPath"_s,
                               u"cmdBrowseCommonAttach"_s,
                               u"txtSubjectLine"_s,
                               u"chkFormatted"_s,
                               u"txtBodyMessage"_s,
                               u"txtProgress"_s,
                               u"cmdStart"_s};
    QStringList visited;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, expected);
}

void TestMainWindow::startsWithSavedSettingsAndBodyFile()
{
    WindowFixture f;
    f.save(u"SubjectLine"_s, u"Your 2025 accounts"_s);
    f.save(u"CSVpath"_s, u"/srv/clients/list.csv"_s);
    QVERIFY(QDir().mkpath(f.dataFolder()));
    writeFile(f.dataFolder() + u"/Body.txt", "Dear client\r\nRegards\r\n");

    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QCOMPARE(ui.txtSubjectLine->text(), u"Your 2025 accounts"_s);
    QCOMPARE(ui.txtCSVpath->text(), u"/srv/clients/list.csv"_s);
    QCOMPARE(ui.txtBodyMessage->toPlainText(), u"Dear client\nRegards\n"_s);
    QCOMPARE(w.settings().DataFolder, f.dataFolder());
    QVERIFY(f.dialogs.warnings.isEmpty());
}

void TestMainWindow::firstStartShowsDefaults()
{
    WindowFixture f;
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QCOMPARE(w.windowTitle(), u"Quorvale - 1.0.5"_s);
    QCOMPARE(ui.txtSubjectLine->text(), u"Subject Line Text"_s);
    QVERIFY(ui.txtCSVpath->text().isEmpty());
    QVERIFY(ui.txtBodyMessage->toPlainText().isEmpty());
    QVERIFY(ui.OptAddAttachment0->isChecked());
    QVERIFY(!ui.chkPrint->isChecked());
}

void TestMainWindow::unreadableBodyFileIsWarnedAbout()
{
    WindowFixture f;
    QVERIFY(QDir().mkpath(f.dataFolder()));
    const QString path = f.dataFolder() + u"/Body.txt";
    writeFile(path, "Dear client\r\n");
    QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("this user can read any file");
    f.open();
    FIND_CHILD(QPlainTextEdit, txtBodyMessage, f.window, u"txtBodyMessage"_s);
    QTRY_COMPARE(f.dialogs.warnings.size(), 1);
    QVERIFY(f.dialogs.warnings.first().startsWith(u"The message body could not be read"_s));
    QVERIFY(txtBodyMessage->toPlainText().isEmpty());
}

void TestMainWindow::modeSwitchChangesOnlyEnabledStates_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("commonEnabled");
    QTest::addColumn<bool>("printEnabled");
    QTest::newRow("no attachment") << 0 << false << false;
    QTest::newRow("common attachment") << 1 << true << false;
    QTest::newRow("client attachment") << 2 << false << true;
    QTest::newRow("named documents") << 3 << false << true;
}

void TestMainWindow::modeSwitchChangesOnlyEnabledStates()
{
    QFETCH(int, mode);
    QFETCH(bool, commonEnabled);
    QFETCH(bool, printEnabled);

    WindowFixture f;
    f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    // Tick ui.chkPrint in mode 2 and leave a path behind: switching never touches either.
    ui.OptAddAttachment2->click();
    ui.chkPrint->click();
    ui.txtCommonAttachmentPath->setText(u"/tmp/letter.pdf"_s);

    FIND_CHILD(QRadioButton, chosen, f.window, u"OptAddAttachment%1"_s.arg(mode));
    chosen->click();
    QVERIFY(chosen->isChecked());
    QCOMPARE(ui.Label6->isEnabled(), commonEnabled);
    QCOMPARE(ui.txtCommonAttachmentPath->isEnabled(), commonEnabled);
    QCOMPARE(ui.cmdBrowseCommonAttach->isEnabled(), commonEnabled);
    QCOMPARE(ui.chkPrint->isEnabled(), printEnabled);
    QVERIFY(ui.chkPrint->isChecked());
    QCOMPARE(ui.txtCommonAttachmentPath->text(), u"/tmp/letter.pdf"_s);
    QVERIFY(ui.cmdStart->isEnabled());
}

void TestMainWindow::csvChooserWarnsAboutOtherFilesButKeepsThem_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expectedPath");
    QTest::addColumn<bool>("warned");
    QTest::newRow("csv, any case") << "/data/clients.CSV"
                                   << "/data/clients.CSV" << false;
    QTest::newRow("text file") << "/data/list.txt"
                               << "/data/list.txt" << true;
    QTest::newRow("cancelled") << ""
                               << "/old/clients.csv" << false;
}

void TestMainWindow::csvChooserWarnsAboutOtherFilesButKeepsThem()
{
    QFETCH(QString, chosen);
    QFETCH(QString, expectedPath);
    QFETCH(bool, warned);

    WindowFixture f;
    f.save(u"CSVpath"_s, u"/old/clients.csv"_s);
    f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    f.dialogs.files = {chosen};
    QTest::mouseClick(ui.cmdBrowseCSV, Qt::LeftButton);

    QCOMPARE(f.dialogs.fileDialogs.size(), 1);
    QCOMPARE(f.dialogs.fileDialogs[0].title, u"Load CSV File"_s);
    QVERIFY(f.dialogs.fileDialogs[0].filters.startsWith(u"CSV File (*.csv)"_s));
    QCOMPARE(f.dialogs.fileDialogs[0].fileName, u"ClientList.csv"_s);
    QCOMPARE(ui.txtCSVpath->text(), expectedPath);
    QCOMPARE(f.dialogs.warnings,
             warned ? QStringList{u"The file selected is not a CSV file! Select a different file."_s} : QStringList());
}

void TestMainWindow::commonChooserWarnsAboutCsvFiles_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("warning");
    const QString csv = u"The file selected is a CSV file! Select a different file."_s;
    QTest::newRow("pdf") << "/data/letter.pdf" << QString();
    QTest::newRow(".csv anywhere") << "/data/report.csv.pdf" << csv;
    QTest::newRow("csv, upper case") << "/data/LIST.CSV" << csv;
    QTest::newRow("the client list")
        << "/data/clients.csv"
        << u"The common attachment is the client CSV file, which holds every client's address. Select a different "
           "file. File name= /data/clients.csv"_s;
}

void TestMainWindow::commonChooserWarnsAboutCsvFiles()
{
    QFETCH(QString, chosen);
    QFETCH(QString, warning);

    WindowFixture f;
    f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QTest::mouseClick(ui.OptAddAttachment1, Qt::LeftButton);
    f.dialogs.files = {u"/data/clients.csv"_s, chosen, QString()};
    QTest::mouseClick(ui.cmdBrowseCSV, Qt::LeftButton);
    QTest::mouseClick(ui.cmdBrowseCommonAttach, Qt::LeftButton);

    QCOMPARE(f.dialogs.fileDialogs.size(), 2);
    QCOMPARE(f.dialogs.fileDialogs[1].title, u"Load Common Attachment File"_s);
    // It starts in the client list's folder, but never on the client list itself.
    QCOMPARE(f.dialogs.fileDialogs[1].folder, u"/data"_s);
    QCOMPARE(f.dialogs.fileDialogs[1].fileName, QString());
    QCOMPARE(ui.txtCommonAttachmentPath->text(), chosen);
    QCOMPARE(f.dialogs.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});

    // Opened again, it offers the file chosen last, unless that is the client list.
    QTest::mouseClick(ui.cmdBrowseCommonAttach, Qt::LeftButton);
    QCOMPARE(f.dialogs.fileDialogs[2].fileName,
             chosen == u"/data/clients.csv"_s ? QString() : QFileInfo(chosen).fileName());
}

void TestMainWindow::helpWindowShowsTopicsWithHistory()
{
    WindowFixture f;
    MainWindow &w = f.open();
    FIND_CHILD(QAction, help, f.window, u"mnuHelpContents"_s);
    QCOMPARE(help->shortcut(), QKeySequence(Qt::Key_F1));
    help->trigger(); // no help folder: the window says so
    FIND_CHILD(QWidget, frmHelp, w, u"frmHelp"_s);
    FIND_CHILD(QTextBrowser, txtHelp, frmHelp, u"txtHelp"_s);
    FIND_CHILD(QListWidget, lstHelpTopics, frmHelp, u"lstHelpTopics"_s);
    FIND_CHILD(QPushButton, cmdHelpBack, frmHelp, u"cmdHelpBack"_s);
    FIND_CHILD(QPushButton, cmdHelpForward, frmHelp, u"cmdHelpForward"_s);
    QVERIFY(frmHelp->isVisible());
    QVERIFY(txtHelp->toPlainText().contains(u"No help found"_s));
    // Esc and Close each close it, as they close a dialog.
    QTest::keyClick(txtHelp, Qt::Key_Escape);
    QVERIFY(!frmHelp->isVisible());
    help->trigger();
    QVERIFY(frmHelp->isVisible());
    FIND_CHILD(QPushButton, cmdHelpClose, frmHelp, u"cmdHelpClose"_s);
    QTest::mouseClick(cmdHelpClose, Qt::LeftButton);
    QVERIFY(!frmHelp->isVisible());

    // The pages of the source tree, shown inside the program: no browser is asked for anything.
    const QString pages = QFINDTESTDATA("../../help/main.html").section(u'/', 0, -2);
    QVERIFY(QDir(pages).exists(u"run.html"_s));
    WindowFixture g;
    QVERIFY(QFile::link(pages, g.dir.filePath(u"help"_s)));
    MainWindow &v = g.open();
    v.showHelp(kMainHelpContext);
    FIND_CHILD(QTextBrowser, browser, v, u"txtHelp"_s);
    FIND_CHILD(QListWidget, topics, v, u"lstHelpTopics"_s);
    FIND_CHILD(QPushButton, back, v, u"cmdHelpBack"_s);
    FIND_CHILD(QPushButton, forward, v, u"cmdHelpForward"_s);
    QCOMPARE(topics->count(), qsizetype(helpTopics().size()));
    // Every topic of the contents is a page that shows.
    for (int i = 0; i < topics->count(); ++i) {
        QTest::mouseClick(topics->viewport(), Qt::LeftButton, {}, topics->visualItemRect(topics->item(i)).center());
        QCOMPARE(browser->source().fileName(), topics->item(i)->data(Qt::UserRole).toString());
        QVERIFY(!browser->documentTitle().isEmpty());
    }
    const auto page = [topics](int row) { return topics->item(row)->data(Qt::UserRole).toString(); };
    const int last = topics->count() - 1;
    QCOMPARE(browser->source().fileName(), page(last));
    QVERIFY(back->isEnabled());
    QVERIFY(!forward->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    QCOMPARE(browser->source().fileName(), page(last - 1));
    QCOMPARE(topics->currentRow(), last - 1);
    QVERIFY(forward->isEnabled());
    QTest::mouseClick(forward, Qt::LeftButton);
    QCOMPARE(browser->source().fileName(), page(last));
    // A link between pages stays in the window.
    Q_EMIT browser->anchorClicked(QUrl(u"main.html#journal"_s));
    QCOMPARE(browser->source().fileName(), u"main.html"_s);
    QVERIFY(g.dialogs.openedUrls.isEmpty());
    QVERIFY(f.dialogs.openedUrls.isEmpty());

    // The setup dialog's Help shows its own topic in the same window.
    v.showSetup();
    FIND_CHILD(QPushButton, cmdHelp, v, u"cmdHelp"_s);
    QTest::mouseClick(cmdHelp, Qt::LeftButton);
    QCOMPARE(browser->source().fileName(), u"setup.html"_s);
    QCOMPARE(v.findChildren<QTextBrowser *>().size(), 1);
}

void TestMainWindow::setupAndAboutExistOnce()
{
    WindowFixture f;
    MainWindow &w = f.open();
    FIND_CHILD(QAction, mnuSetup, w, u"mnuSetup"_s);
    FIND_CHILD(QAction, mnuAbout, w, u"mnuAbout"_s);
    mnuSetup->trigger();
    mnuSetup->trigger();
    mnuAbout->trigger();
    mnuAbout->trigger();
    QCOMPARE(w.findChildren<QDialog *>(u"frmSetup"_s).size(), 1);
    QCOMPARE(w.findChildren<QDialog *>(u"frmAbout"_s).size(), 1);
    FIND_CHILD(QDialog, setup, w, u"frmSetup"_s);
    QVERIFY(setup->isVisible());
    QVERIFY(!setup->isModal());
    QCOMPARE(setup->parentWidget(), &w);

    // Closed, it is gone; opened again, it loads afresh.
    QPointer<QDialog> first = setup;
    setup->close();
    QTRY_VERIFY(!first);
    mnuSetup->trigger();
    QCOMPARE(w.findChildren<QDialog *>(u"frmSetup"_s).size(), 1);
}

void TestMainWindow::aboutBoxShowsIdentityAndLinks()
{
    WindowFixture f;
    MainWindow &w = f.open();
    w.showAbout();
    FIND_CHILD(QDialog, about, w, u"frmAbout"_s);
    FIND_CHILD(QLabel, lblTitle, about, u"lblTitle"_s);
    FIND_CHILD(QLabel, lblVersion, about, u"lblVersion"_s);
    FIND_CHILD(QLabel, label2, about, u"Label2"_s);
    FIND_CHILD(QLabel, lblDescription, about, u"lblDescription"_s);
    FIND_CHILD(QLabel, lblDisclaimer, about, u"lblDisclaimer"_s);
    FIND_CHILD(QPushButton, ok, about, u"cmdOK"_s);
    FIND_CHILD(QLabel, web, about, u"URLLabel2"_s);
    FIND_CHILD(QLabel, mail, about, u"URLLabel1"_s);
    QCOMPARE(about->windowTitle(), u"About Quorvale"_s);
    QCOMPARE(lblTitle->text(), u"Quorvale"_s);
    QVERIFY(lblTitle->font().bold());
    QCOMPARE(lblVersion->text(), u"Version 1.0.5"_s);
    QCOMPARE(label2->text(), u"Web Address:"_s);
    QCOMPARE(lblDescription->text(), u"Email: "_s);
    QVERIFY(!lblDisclaimer->text().isEmpty());
    QCOMPARE(ok->text(), u"&OK"_s);
    QCOMPARE(ok->toolTip(), u"Click to close window"_s);
    QCOMPARE(ok->iconSize(), QSize(64, 64));

    QVERIFY(web->text().contains(QLatin1String(kWebAddress)));
    QVERIFY(mail->text().contains(QLatin1String(kSalesAddress)));
    Q_EMIT web->linkActivated(QString::fromLatin1(kWebAddress));
    Q_EMIT mail->linkActivated(u"mailto:"_s + QLatin1String(kSalesAddress));
    QCOMPARE(f.dialogs.openedUrls,
             (QList<QUrl>{QUrl(QString::fromLatin1(kWebAddress)), QUrl(u"mailto:sales@quorvale.example"_s)}));
}

void TestMainWindow::aboutBoxClosesWithEnterAndEsc_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Esc") << int(Qt::Key_Escape);
}

void TestMainWindow::aboutBoxClosesWithEnterAndEsc()
{
    QFETCH(int, key);
    WindowFixture f;
    MainWindow &w = f.open();
    w.showAbout();
    FIND_CHILD(QDialog, aboutBox, w, u"frmAbout"_s);
    QPointer<QDialog> about = aboutBox;
    QVERIFY(QTest::qWaitForWindowExposed(about));
    QTest::keyClick(about, Qt::Key(key));
    QTRY_VERIFY(!about);
}

namespace {

// Three clients, one without an address; scheduling off and a fake clock keep the run instant.
void prepareRun(WindowFixture &f, const QByteArray &csv = "1001,ann@example.com\r\n1002,\r\n1003,bob@example.com\r\n")
{
    f.saveServer();
    writeFile(f.dir.filePath(u"clients.csv"_s), csv);
    f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
}

/// `count` clients, each with an address.
QByteArray clientsWithAddresses(int count)
{
    QByteArray csv;
    for (int i = 1; i <= count; ++i)
        csv += QByteArray::number(i) + ",client" + QByteArray::number(i) + "@example.com\r\n";
    return csv;
}

/// The lines of the window's one run journal.
QList<JournalEntry> journalEntries(const WindowFixture &f)
{
    const QDir runs(runJournalFolder(f.dataFolder()));
    QList<JournalEntry> entries;
    QString error;
    if (!readJournal(runs.filePath(runs.entryList({u"run-*.csv"_s}).value(0)), &entries, &error))
        qWarning("%s", qPrintable(error));
    return entries;
}

} // namespace

void TestMainWindow::restartKeepsTheMailingAsTheLastRunAndTheUserLeftIt()
{
    WindowFixture f;
    prepareRun(f);
    writeFile(f.dir.filePath(u"terms.pdf"_s), "pdf");
    MainWindow &w = f.open();
    {
        FIND_CONTROLS(MainControls, ui, f.window);
        ui.OptAddAttachment1->click();
        ui.txtCommonAttachmentPath->setText(f.dir.filePath(u"terms.pdf"_s));
        ui.OptAddAttachment2->click();
        ui.chkPrint->setChecked(true);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        // Typed after the run and never sent: kept when the window closes.
        ui.txtSubjectLine->setText(u"Next month's accounts"_s);
        ui.txtBodyMessage->setPlainText(u"Dear client,\nsee attached."_s);
        QVERIFY(f.window->close());
    }
    f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QVERIFY(ui.OptAddAttachment2->isChecked());
    QVERIFY(ui.chkPrint->isChecked() && ui.chkPrint->isEnabled());
    QVERIFY(!ui.txtCommonAttachmentPath->isEnabled());
    QCOMPARE(ui.txtSubjectLine->text(), u"Next month's accounts"_s);
    // The body file gives every line its line end back, as it always has.
    QCOMPARE(ui.txtBodyMessage->toPlainText(), u"Dear client,\nsee attached.\n"_s);
    QVERIFY(f.dialogs.warnings.isEmpty());
}

void TestMainWindow::namedDocumentsAreSentAndTheirNamesKept()
{
    WindowFixture f;
    prepareRun(f, "1001,ann@example.com\r\n");
    writeFile(f.dir.filePath(u"Invoice_1001.pdf"_s), "invoice");
    writeFile(f.dir.filePath(u"Statement_1001.pdf"_s), "statement");
    const QString patterns = u"Invoice_{{id}}.pdf;Statement_{{id}}.pdf"_s;
    MainWindow &w = f.open();
    {
        FIND_CONTROLS(MainControls, ui, f.window);
        FIND_CHILD(QRadioButton, named, f.window, u"OptAddAttachment3"_s);
        FIND_CHILD(QLineEdit, names, f.window, u"txtDocumentPatterns"_s);
        QVERIFY(!names->isEnabled());
        named->click();
        QVERIFY(names->isEnabled());
        QVERIFY(!ui.txtCommonAttachmentPath->isEnabled());
        names->setText(patterns);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY(f.window->close());
    }
    const QList<MailMessage> sent = f.mailer.messages();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().AttachmentPath, f.dir.filePath(u"Invoice_1001.pdf"_s));
    QCOMPARE(sent.first().MoreAttachments.size(), 1);
    QCOMPARE(sent.first().MoreAttachments.first().path, f.dir.filePath(u"Statement_1001.pdf"_s));
    QCOMPARE(f.store->RegReadValue(u"AttachMode"_s, ValueKind::Text, QString()).toString(), u"named"_s);
    QCOMPARE(f.store->RegReadValue(u"DocumentPatterns"_s, ValueKind::Text, QString()).toString(), patterns);
    // Opened again: the same choice and names.
    f.open();
    FIND_CHILD(QRadioButton, named, f.window, u"OptAddAttachment3"_s);
    FIND_CHILD(QLineEdit, names, f.window, u"txtDocumentPatterns"_s);
    QVERIFY(named->isChecked());
    QVERIFY(names->isEnabled());
    QCOMPARE(names->text(), patterns);
    QVERIFY(f.dialogs.warnings.isEmpty());
}

void TestMainWindow::formattedBodyIsSentFormattedAndSurvivesARestart()
{
    WindowFixture f;
    prepareRun(f);
    QImage logo(8, 4, QImage::Format_RGB32);
    logo.fill(Qt::darkBlue);
    QVERIFY(logo.save(f.dir.filePath(u"Company Logo.png"_s), "PNG"));
    writeFile(f.dir.filePath(u"notes.txt"_s), "not a picture");
    MainWindow &w = f.open();
    QSignalSpy finished(&w, &MainWindow::runFinished);
    {
        FIND_CONTROLS(MainControls, ui, f.window);
        FIND_CHILD(QCheckBox, chkFormatted, f.window, u"chkFormatted"_s);
        FIND_CHILD(FormattedEditor, editor, f.window, u"txtBodyHtmlEditor"_s);
        ui.txtBodyMessage->setPlainText(u"Plain {{id}}"_s);
        QVERIFY(!chkFormatted->isChecked() && !editor->isVisibleTo(f.window.get()));
        chkFormatted->click();
        QVERIFY(editor->isVisibleTo(f.window.get()) && !ui.txtBodyMessage->isVisibleTo(f.window.get()));
        editor->setHtml(u"<p>Dear <b>{{id}}</b></p>"_s);
        // A picture is kept in the data folder, never over another; a file that is no picture is
        // refused with a warning.
        QVERIFY(!editor->insertPicture(f.dir.filePath(u"notes.txt"_s)));
        QCOMPARE(f.dialogs.warnings.size(), 1);
        QVERIFY(editor->insertPicture(f.dir.filePath(u"Company Logo.png"_s)));
        QVERIFY(editor->insertPicture(f.dir.filePath(u"Company Logo.png"_s)));
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(f.mailer.messages().size(), 2);
        const MailMessage sent = f.mailer.messages().first();
        QVERIFY2(sent.HtmlBody.contains(u"1001"_s) && sent.HtmlBody.contains(u"src=\"pictures/Company_Logo.png\""_s) &&
                     sent.HtmlBody.contains(u"src=\"pictures/Company_Logo-2.png\""_s),
                 qPrintable(sent.HtmlBody));
        QCOMPARE(sent.HtmlBaseFolder, f.dataFolder());
        QVERIFY(QFileInfo(f.dataFolder() + u"/pictures/Company_Logo.png"_s).isFile());
        QVERIFY(QFileInfo(f.dataFolder() + u"/Body.html"_s).isFile());
        QVERIFY(f.window->close());
    }
    // The formatted body and the choice of it come back; the plain body too.
    f.open();
    {
        FIND_CONTROLS(MainControls, ui, f.window);
        FIND_CHILD(QCheckBox, chkFormatted, f.window, u"chkFormatted"_s);
        FIND_CHILD(FormattedEditor, editor, f.window, u"txtBodyHtmlEditor"_s);
        QVERIFY(chkFormatted->isChecked());
        QVERIFY2(editor->textBox()->toPlainText().contains(u"Dear {{id}}"_s), qPrintable(editor->html()));
        QVERIFY2(editor->html().contains(u"font-weight:700"_s), qPrintable(editor->html()));
        QCOMPARE(ui.txtBodyMessage->toPlainText(), u"Plain {{id}}\n"_s);
        // Back to plain: the plain body goes, and the formatted one is kept for later.
        chkFormatted->click();
        f.mailer.clear();
        f.dialogs.choices = {0};
        QSignalSpy again(f.window.get(), &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(again.wait(10000));
        QVERIFY(!f.mailer.messages().isEmpty());
        QVERIFY(f.mailer.messages().first().HtmlBody.isEmpty());
        QCOMPARE(f.mailer.messages().first().BodyText, u"Plain 1001\r\n"_s);
        QVERIFY(f.window->close());
    }
    f.open();
    FIND_CHILD(QCheckBox, chkFormatted, f.window, u"chkFormatted"_s);
    FIND_CHILD(FormattedEditor, editor, f.window, u"txtBodyHtmlEditor"_s);
    QVERIFY(!chkFormatted->isChecked());
    QVERIFY(editor->html().contains(u"pictures/Company_Logo.png"_s));
}

void TestMainWindow::resumeWithTheEarlierChoicesShowsThem()
{
    // A run without attachment stopped by the server after ann; then the window says each
    // client's own document, and the user chooses to resume with the earlier choices.
    WindowFixture f;
    prepareRun(f);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QSignalSpy finished(&w, &MainWindow::runFinished);
    f.mailer.statuses = {SendStatus::Sent, SendStatus::ServerUnusable};
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    ui.OptAddAttachment2->click();
    ui.chkPrint->setChecked(true);
    f.mailer.clear();
    f.dialogs.questions.clear();
    f.dialogs.choices = {0};
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QVERIFY2(f.dialogs.questions.first().startsWith(
                 u"The interrupted run of this mailing was sending no attachment and not printing documents; you "
                 "chose each client's own document and printing."_s),
             qPrintable(f.dialogs.questions.first()));
    QCOMPARE(f.dialogs.chooseDefaults, QList<int>{0});
    QVERIFY(ui.OptAddAttachment0->isChecked());
    QVERIFY(!ui.chkPrint->isChecked());
    QCOMPARE(f.mailer.recipients(), QStringList{u"bob@example.com"_s});
    QVERIFY(f.mailer.messages().first().AttachmentPath.isEmpty());
}

void TestMainWindow::runLogsEveryStepAndSendsOneMessagePerAddress()
{
    WindowFixture f;
    prepareRun(f);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    ui.txtSubjectLine->setText(u"Accounts"_s);
    ui.txtBodyMessage->setPlainText(u"Dear client\nRegards"_s);
    ui.txtProgress->setPlainText(u"an old line"_s);

    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(10000));

    QCOMPARE(f.dialogs.questions, QStringList{u"Are you sure your ready to start processing?"_s});
    QCOMPARE(statusLines(ui.txtProgress),
             (QStringList{u"Parsing CSV file..."_s, u"Clients found - 3"_s, u"Parsing CSV file complete"_s,
                          u"Client count - 3"_s, u"Emails to be sent - 2"_s, u"Start processing..."_s,
                          u"Sending email - 1"_s, u"Sending email - 2"_s, u"Processing Complete"_s}));
    const QList<MailMessage> sent = f.mailer.messages();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0].RecipientAddress, u"ann@example.com"_s);
    QCOMPARE(sent[1].RecipientAddress, u"bob@example.com"_s);
    QCOMPARE(sent[0].SubjectLine, u"Accounts"_s);
    QCOMPARE(sent[0].BodyText, u"Dear client\r\nRegards"_s);
    QVERIFY(sent[0].AttachmentPath.isEmpty());

    // Idle again, and the inputs were saved.
    QVERIFY(ui.cmdStart->isEnabled());
    QVERIFY(!ui.cmdAbort->isEnabled());
    QCOMPARE(ui.progEmail->value(), 0);
    QCOMPARE(f.store->RegReadValue(u"SubjectLine"_s, ValueKind::Text, QString()).toString(), u"Accounts"_s);
    QString body;
    QVERIFY(readBodyFile(f.dataFolder(), body));
    QCOMPARE(body, u"Dear client\r\nRegards\r\n"_s);
}

void TestMainWindow::runIsSummarisedBeforeAndAfter()
{
    WindowFixture f;
    prepareRun(f);
    f.mailer.refused = {u"bob@example.com"_s};
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    FIND_CHILD(QWidget, summary, w, u"runSummary"_s);
    FIND_CHILD(QLabel, counts, w, u"lblRunCounts"_s);
    FIND_CHILD(QPlainTextEdit, failures, w, u"txtRunFailures"_s);
    FIND_CHILD(QLabel, journal, w, u"lblRunJournal"_s);
    QVERIFY(!summary->isVisible());

    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    // The question keeps its words; what the run will do is under it. A fresh install's subject
    // and an empty body are pointed out.
    QCOMPARE(f.dialogs.questions, QStringList{u"Are you sure your ready to start processing?"_s});
    QCOMPARE(
        f.dialogs.confirmDetails,
        QStringList{u"E-mails to send: 2\nSubject: Subject Line Text\nAttachment: none\n"
                    "Warning: the subject is still \"Subject Line Text\".\nWarning: the message body is empty."_s});

    // After the run, its summary stays in the window; the completion line is unchanged.
    QCOMPARE(statusLines(ui.txtProgress).last(), u"Processing Complete"_s);
    QVERIFY(summary->isVisible());
    QCOMPARE(counts->text(), u"Last run: Sent 1, refused 1, outcome unknown 0, no document 0, printed 0, print "
                             "errors 0, skipped on resume 0"_s);
    QCOMPARE(failures->toPlainText(), u"Refused - bob@example.com (client 1003): 550 refused"_s);
    QVERIFY(journal->isVisible());
    const QList<JournalEntry> entries = journalEntries(f);
    QCOMPARE(entries.last().event, JournalEvent::Completed);

    // The link opens the journal; when nothing on the desktop can, the path is shown and copied.
    Q_EMIT journal->linkActivated(u"journal"_s);
    QCOMPARE(f.dialogs.openedUrls.size(), 1);
    const QString path = f.dialogs.openedUrls.first().toLocalFile();
    QVERIFY2(path.startsWith(runJournalFolder(f.dataFolder())) && path.endsWith(u".csv"_s), qPrintable(path));
    f.dialogs.urlsOpen = false;
    f.dialogs.takeOffer = true;
    Q_EMIT journal->linkActivated(u"journal"_s);
    QCOMPARE(f.dialogs.offered, QStringList{u"Copy Path"_s});
    QVERIFY2(f.dialogs.warnings.last().endsWith(u"\n\n"_s + path), qPrintable(f.dialogs.warnings.last()));
    QCOMPARE(QApplication::clipboard()->text(), path);
    FIND_CHILD(QAction, mnuJournalFolder, w, u"mnuJournalFolder"_s);
    mnuJournalFolder->trigger();
    QCOMPARE(f.dialogs.offered.size(), 2);
    QCOMPARE(QApplication::clipboard()->text(), runJournalFolder(f.dataFolder()));

    // A run declined at the question is no run: the summary stays until one starts.
    f.dialogs.answer = false;
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_VERIFY(f.dialogs.questions.size() > 1);
    QVERIFY(summary->isVisible());
    f.dialogs.answer = true;
    f.mailer.refused.clear();
    const qsizetype runs = finished.count();
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    // The run may end before the window is looked at again: its own summary replaces the last one.
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), runs + 1, 10000);
    QVERIFY(!failures->isVisible());
    // Start again resumes the mailing: only the client refused before gets its message.
    QVERIFY2(counts->text().startsWith(u"Last run: Sent 1, refused 0"_s), qPrintable(counts->text()));
}

void TestMainWindow::questionWarnsOfMessagesLargerThanTheServerTakes()
{
    WindowFixture f;
    prepareRun(f);
    f.mailer.maxSize = 1000000;
    writeFile(f.dir.filePath(u"letter.pdf"_s), QByteArray(1000000, 'x'));
    f.dialogs.answer = false;
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    ui.OptAddAttachment1->click();
    ui.txtCommonAttachmentPath->setText(f.dir.filePath(u"letter.pdf"_s));
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    // The server is asked on the worker thread: the click returns at once, Start disabled until the
    // question follows the answer.
    QVERIFY(f.dialogs.questions.isEmpty());
    QVERIFY(!ui.cmdStart->isEnabled());
    QTRY_COMPARE(f.dialogs.questions.size(), 1);
    QVERIFY2(f.dialogs.confirmDetails.first().endsWith(
                 u"\nWarning: 2 messages are larger than the server takes (at most 1 MB)"_s),
             qPrintable(f.dialogs.confirmDetails.first()));
    QTRY_COMPARE(ui.txtProgress->toPlainText(), u"Nothing was started."_s);
    QVERIFY(ui.cmdStart->isEnabled());
    // The preview, built without asking the server, says what the start learned of it.
    w.showPreview();
    FIND_CHILD(QLabel, lblProblem, w, u"lblProblem"_s);
    QCOMPARE(lblProblem->text(), u"The message is 1.4 MB; the server takes at most 1 MB."_s);
    QVERIFY(f.mailer.attempts().isEmpty());
}

void TestMainWindow::incompleteSetupOffersSetup()
{
    WindowFixture f;
    prepareRun(f);
    f.save(u"SMPTServer"_s, QString());
    f.save(u"SSLport"_s, QString());
    f.dialogs.takeOffer = true;
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings, QStringList{u"Your email server setup is not complete.\nMissing in Setup: SMTP "
                                             "Server, SSL Port."_s});
    QCOMPARE(f.dialogs.offered, QStringList{u"Open Setup"_s});
    FIND_CHILD(QDialog, setup, w, u"frmSetup"_s);
    QVERIFY(setup->isVisible());
    QVERIFY(f.mailer.attempts().isEmpty());
}

void TestMainWindow::failedCheckKeepsTheOldStatusLines()
{
    WindowFixture f;
    f.saveServer();
    f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    ui.txtProgress->setPlainText(u"an old line"_s);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_COMPARE(f.dialogs.warnings, QStringList{u"You need to set the path for the client CSV file."_s});
    QCOMPARE(statusLines(ui.txtProgress), QStringList{u"an old line"_s});
    QVERIFY(ui.cmdStart->isEnabled());
    QVERIFY(!f.window->isRunning());
}

void TestMainWindow::answeringNoClearsTheStatusBoxAndSavesNothing()
{
    WindowFixture f;
    prepareRun(f);
    f.dialogs.answer = false;
    f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    ui.txtSubjectLine->setText(u"Not saved"_s);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_COMPARE(f.dialogs.questions.size(), 1);
    // The counts are cleared away; one line says that nothing was started.
    QTRY_COMPARE(ui.txtProgress->toPlainText(), u"Nothing was started."_s);
    QVERIFY(!f.window->isRunning());
    QVERIFY(ui.cmdStart->isEnabled());
    QVERIFY(!ui.cmdAbort->isEnabled());
    QCOMPARE(f.store->RegReadValue(u"SubjectLine"_s, ValueKind::Text, u"unset"_s).toString(), u"unset"_s);
    QVERIFY(f.mailer.messages().isEmpty());
}

void TestMainWindow::startAfterAFinishedMailingSaysSoAndDefaultsToNo()
{
    WindowFixture f;
    prepareRun(f, clientsWithAddresses(3));
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QCOMPARE(f.dialogs.confirmDefaultNo, QList<bool>{false});

    // Start again: the question says the mailing reached everyone, and Enter would answer No.
    f.dialogs.answer = false;
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_COMPARE(f.dialogs.confirmDefaultNo, (QList<bool>{false, true}));
    QVERIFY2(f.dialogs.questions.last().startsWith(u"This mailing was already sent to all 3 clients on "_s),
             qPrintable(f.dialogs.questions.last()));
    QTRY_COMPARE(ui.txtProgress->toPlainText(), u"Nothing was started."_s);
    QCOMPARE(f.mailer.messages().size(), 3);
}

void TestMainWindow::fastRunShowsEveryLineInOrderBeforeItEnds()
{
    // With no pauses the worker logs far faster than the window takes lines in batches.
    WindowFixture f;
    QByteArray csv;
    const int clients = 1500;
    for (int i = 1; i <= clients; ++i)
        csv += QByteArray::number(i) + ",client" + QByteArray::number(i) + "@example.com\r\n";
    prepareRun(f, csv);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(20000));
    QVERIFY(ui.cmdStart->isEnabled());

    const QStringList lines = statusLines(ui.txtProgress);
    QCOMPARE(lines.last(), u"Processing Complete"_s);
    QStringList sends;
    for (const QString &line : lines)
        if (line.startsWith(u"Sending email - "_s))
            sends << line;
    QCOMPARE(sends.size(), clients);
    for (int i = 0; i < clients; ++i)
        QCOMPARE(sends[i], u"Sending email - %1"_s.arg(i + 1));
}

void TestMainWindow::abortClickEndsTheRunAtItsNextCheckPoint()
{
    WindowFixture f;
    prepareRun(f, clientsWithAddresses(20));
    f.mailer.sendTime = std::chrono::milliseconds(100);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    auto *status = ui.txtProgress;

    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(w.isRunning());
    QVERIFY(!ui.cmdStart->isEnabled());
    QVERIFY(ui.cmdAbort->isEnabled());
    QTRY_VERIFY(statusLines(status).contains(u"Sending email - 2"_s));

    // While it runs: which client, the counts, the time left; the e-mail bar is the pass's share.
    FIND_CHILD(QLabel, progress, w, u"lblRunProgress"_s);
    QTRY_VERIFY2(progress->text().startsWith(u"Client 3 of 20 - sent 2, failed 0 - "_s), qPrintable(progress->text()));
    QVERIFY2(ui.progEmail->value() >= 10 && ui.progEmail->value() <= 20,
             qPrintable(QString::number(ui.progEmail->value())));

    QTest::mouseClick(ui.cmdAbort, Qt::LeftButton);
    QVERIFY(finished.wait(10000));
    QVERIFY(progress->text().isEmpty());
    QCOMPARE(ui.progEmail->value(), 0);
    const QStringList lines = statusLines(status);
    QCOMPARE(lines.mid(lines.size() - 2), (QStringList{u"Processing Aborted"_s, u"Processing Complete"_s}));
    QVERIFY(f.mailer.messages().size() < 20);
    QVERIFY(ui.cmdStart->isEnabled());
    QVERIFY(!ui.cmdAbort->isEnabled());
}

void TestMainWindow::abortLetsTheMessageBeingSentFinish_data()
{
    QTest::addColumn<int>("presses");
    QTest::addColumn<JournalEvent>("event"); // the client's outcome in the journal
    QTest::newRow("once: the message finishes") << 1 << JournalEvent::Sent;
    QTest::newRow("twice: it is cut off") << 2 << JournalEvent::NotSentAborted;
}

void TestMainWindow::abortLetsTheMessageBeingSentFinish()
{
    QFETCH(int, presses);
    QFETCH(JournalEvent, event);
    WindowFixture f;
    prepareRun(f, clientsWithAddresses(3));
    f.mailer.sendTime = std::chrono::milliseconds(1000);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);

    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_COMPARE(f.mailer.attempts().size(), 1);
    for (int i = 0; i < presses; ++i) {
        // The button stays for a second press and says what it does.
        QVERIFY(ui.cmdAbort->isEnabled());
        QTest::mouseClick(ui.cmdAbort, Qt::LeftButton);
        QVERIFY(ui.cmdAbort->toolTip().startsWith(u"Abort again"_s));
    }
    QVERIFY(finished.wait(10000));
    QCOMPARE(ui.cmdAbort->toolTip(), u"Abort Processing"_s);
    const QStringList lines = statusLines(ui.txtProgress);
    QCOMPARE(lines.mid(lines.size() - 2), (QStringList{u"Processing Aborted"_s, u"Processing Complete"_s}));
    QCOMPARE(lines.filter(u"Sending email - "_s).size(), 1);
    QCOMPARE(lines.filter(u"Send Error - client1@example.com"_s).size(), presses == 1 ? 0 : 1);
    QCOMPARE(f.mailer.messages().size(), presses == 1 ? 1 : 0);
    const QList<JournalEntry> entries = journalEntries(f);
    QVERIFY(entries.size() >= 2);
    QCOMPARE(entries.at(entries.size() - 2).event, event);
    QCOMPARE(entries.last().event, JournalEvent::Aborted);
}

void TestMainWindow::modeChangedMidRunAppliesToTheClientsThatFollow_data()
{
    QTest::addColumn<QString>("common");  // the common path set mid-run, relative to the test folder
    QTest::addColumn<QString>("refusal"); // the journal's reason for the clients not sent; empty: all sent
    QTest::newRow("a letter") << u"letter.pdf"_s << QString();
    QTest::newRow("an empty path") << QString() << u"The common attachment path is empty"_s;
    QTest::newRow("the client list") << u"clients.csv"_s << u"The common attachment is the client CSV file"_s;
    QTest::newRow("a link to the client list") << u"link.csv"_s << u"The common attachment is the client CSV file"_s;
}

void TestMainWindow::modeChangedMidRunAppliesToTheClientsThatFollow()
{
    QFETCH(QString, common);
    QFETCH(QString, refusal);
    WindowFixture f;
    prepareRun(f, clientsWithAddresses(8));
    writeFile(f.dir.filePath(u"letter.pdf"_s), "%PDF-1.4\n");
    QVERIFY(QFile::link(f.dir.filePath(u"clients.csv"_s), f.dir.filePath(u"link.csv"_s)));
    f.mailer.sendTime = std::chrono::milliseconds(100);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);

    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_VERIFY(f.mailer.messages().size() >= 1);
    // The mode switch and the path box stay live during a run.
    ui.txtCommonAttachmentPath->setText(common.isEmpty() ? QString() : f.dir.filePath(common));
    QTest::mouseClick(ui.OptAddAttachment1, Qt::LeftButton);
    QVERIFY(finished.wait(20000));

    const QList<MailMessage> sent = f.mailer.messages();
    QVERIFY(sent.first().AttachmentPath.isEmpty());
    const QStringList lines = statusLines(ui.txtProgress);
    // The switch is said once, before the first client it applies to.
    const QStringList changes = lines.filter(u"Attachment changed - "_s);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.first(), u"Attachment changed - from here on: the common file "_s +
                                  (common.isEmpty() ? u"(none given)"_s : f.dir.filePath(common)));
    QVERIFY(lines.at(lines.indexOf(changes.first()) + 1).startsWith(u"Sending email - "_s));
    if (refusal.isEmpty()) {
        QCOMPARE(sent.size(), 8);
        QCOMPARE(sent.last().AttachmentPath, f.dir.filePath(u"letter.pdf"_s));
        QVERIFY(lines.filter(u"Send Error"_s).isEmpty());
        return;
    }
    // From the switch on, no message goes out: not without its attachment, not with the client
    // list. Each such client has its error line and a journal line saying why; the run goes on.
    for (const MailMessage &m : sent)
        QVERIFY(m.AttachmentPath.isEmpty());
    QVERIFY(sent.size() < 8);
    QCOMPARE(lines.filter(u"Send Error - "_s).size(), 8 - sent.size());
    QCOMPARE(lines.last(), u"Processing Complete"_s);
    QCOMPARE(lines.filter(u"Send Error - "_s).last(), u"Send Error - client8@example.com"_s);
    const QList<JournalEntry> entries = journalEntries(f);
    qsizetype refused = 0;
    for (const JournalEntry &e : entries) {
        if (e.event == JournalEvent::Refused) {
            ++refused;
            QVERIFY2(e.detail.startsWith(refusal), qPrintable(e.detail));
        }
    }
    QCOMPARE(refused, 8 - sent.size());
    QCOMPARE(entries.last().event, JournalEvent::Completed);
}

void TestMainWindow::exitMidRunAsksThenAbortsTheRun()
{
    WindowFixture f;
    QByteArray csv;
    for (int i = 1; i <= 50; ++i)
        csv += QByteArray::number(i) + ",client" + QByteArray::number(i) + "@example.com\r\n";
    prepareRun(f, csv);
    f.save(u"EnableSchedule"_s, u"1"_s);
    f.save(u"DelayBetweenSends"_s, u"600"_s); // a ten-minute pause after every send
    MainWindow &w = f.open(/*realTime=*/true);
    FIND_CONTROLS(MainControls, ui, f.window);
    w.showSetup();
    w.showAbout();
    auto *status = ui.txtProgress;

    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_VERIFY(statusLines(status).contains(u"Sending email - 1"_s));
    const QStringList before = statusLines(status);

    FIND_CHILD(QAction, mnuExit, w, u"mnuExit"_s);
    // No: the run goes on.
    f.dialogs.answer = false;
    mnuExit->trigger();
    QCOMPARE(f.dialogs.questions.last(), u"A run is in progress. Abort it and exit?"_s);
    QVERIFY(w.isVisible());
    QVERIFY(w.isRunning());
    // Yes: the run is aborted (its journal says so), and the program ends without its closing lines.
    f.dialogs.answer = true;
    mnuExit->trigger();
    QCOMPARE(f.dialogs.questions.size(), 3);
    QCOMPARE(journalEntries(f).last().event, JournalEvent::Aborted);
    QVERIFY(!w.isVisible());
    QVERIFY(!w.isRunning());
    QVERIFY(!w.findChild<QDialog *>(u"frmSetup"_s) || !w.findChild<QDialog *>(u"frmSetup"_s)->isVisible());
    QVERIFY(!w.findChild<QDialog *>(u"frmAbout"_s) || !w.findChild<QDialog *>(u"frmAbout"_s)->isVisible());
    QTest::qWait(50);
    QCOMPARE(statusLines(status), before);
    QCOMPARE(f.mailer.messages().size(), 1);
    f.window.reset();
}

void TestMainWindow::sessionEndAbortsTheRunAndCloses_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestMainWindow::sessionEndAbortsTheRunAndCloses()
{
    QFETCH(int, signal);
    WindowFixture f;
    prepareRun(f, clientsWithAddresses(20));
    f.mailer.sendTime = std::chrono::milliseconds(100);
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    closeWithTheSession(w);
    auto *status = ui.txtProgress;

    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QTRY_VERIFY(statusLines(status).contains(u"Sending email - 2"_s));
    ::raise(signal);
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(!w.isRunning());
    QVERIFY(f.mailer.messages().size() < 20);
    // The run was aborted, not cut off: its journal has its closing line.
    QCOMPARE(journalEntries(f).last().event, JournalEvent::Aborted);
    f.window.reset();
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
