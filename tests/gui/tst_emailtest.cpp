// The test e-mail dialog and a whole run through the window, both against a real SMTP server
// on 127.0.0.1; the checks before a send and the run-in-progress guard with a recording mailer.

#include "guitest.h"

#include "mail/sentcopy.h"
#include "mail/smtpmailer.h"
#include "support/dovecotfixture.h"
#include "support/smtpfixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

void saveServerOf(WindowFixture &f, const SmtpServer &server)
{
    const AppSettings s = server.settings();
    f.save(u"SMPTServer"_s, s.SMTPServer);
    f.save(u"SSLport"_s, s.SSLport);
    f.save(u"AuthType"_s, QString::number(s.AuthType));
    f.save(u"UserName"_s, s.UserName);
    f.save(u"PW"_s, s.Password);
    f.save(u"EmailFrom"_s, s.EmailFrom);
}

/// Opens the setup dialog, presses Test Email and returns the test dialog; null (the test has
/// failed) when a control is missing.
QDialog *openTest(WindowFixture &f)
{
    f.window->showSetup();
    QDialog *test = nullptr;
    [&] {
        FIND_CHILD(QDialog, setup, f.window, u"frmSetup"_s);
        FIND_CHILD(QPushButton, cmdTestEmail, setup, u"cmdTestEmail"_s);
        QTest::mouseClick(cmdTestEmail, Qt::LeftButton);
        FIND_CHILD(QDialog, opened, f.window, u"frmEmailTest"_s);
        test = opened;
    }();
    return test;
}

/// Types the address, presses Test and waits until the caption is back; the status lines then.
QStringList runTest(QDialog *test, const QString &address)
{
    QStringList lines{u"<a control is missing>"_s};
    [&] {
        QVERIFY(test);
        FIND_CHILD(QPushButton, button, test, u"cmdTest"_s);
        FIND_CHILD(QLineEdit, txtSendEmailAddy, test, u"txtSendEmailAddy"_s);
        FIND_CHILD(QPlainTextEdit, txtStatus, test, u"txtStatus"_s);
        QSignalSpy finished(test, SIGNAL(testFinished()));
        txtSendEmailAddy->setText(address);
        QTest::mouseClick(button, Qt::LeftButton);
        lines = finished.isEmpty() && !finished.wait(30000) ? QStringList{u"<timed out>"_s} : statusLines(txtStatus);
    }();
    return lines;
}

} // namespace

class TestEmailTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controlsHaveTheirCaptions();
    void successfulTestShowsTwoLinesAndSendsNoAttachment();
    void failedTestShowsTheServersReason();
    void portThatIsNotANumberIsReportedAndCaptionRestored();
    void checksBeforeSending_data();
    void checksBeforeSending();
    void testCannotSendWhileARunIsInProgress();
    void wholeRunThroughTheWindowReachesTheServer();
    void testAlsoPutsItsMessageInSent_data();
    void testAlsoPutsItsMessageInSent();
};

void TestEmailTest::controlsHaveTheirCaptions()
{
    WindowFixture f;
    f.saveServer();
    f.open();
    QDialog *test = openTest(f);
    QVERIFY(test);
    QCOMPARE(test->windowTitle(), u"Email Test"_s);
    const QList<std::tuple<QString, QString, QString>> controls{
        {u"Label1"_s, u"Email address for send test"_s, QString()},
        {u"txtSendEmailAddy"_s, QString(), u"Email address for send test"_s},
        {u"cmdTest"_s, u"Test"_s, u"Send test email"_s},
        {u"Label2"_s, u"Status"_s, QString()},
        {u"txtStatus"_s, QString(), QString()},
        {u"cmdClear"_s, u"Clear Status"_s, u"Clear status"_s},
        {u"cmdOK"_s, u"OK"_s, QString()},
    };
    for (const auto &[name, text, toolTip] : controls) {
        FIND_CHILD(QWidget, w, test, name);
        QCOMPARE(w->toolTip(), toolTip);
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            QCOMPARE(caption(button->text()), text);
        else if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), text);
    }
}

void TestEmailTest::successfulTestShowsTwoLinesAndSendsNoAttachment()
{
    SmtpServer server;
    QVERIFY(server.isRunning());
    SmtpMailer smtp; // the real one; it outlives the window
    WindowFixture f;
    saveServerOf(f, server);
    f.open(/*realTime=*/true, &smtp);
    FIND_CHILD(QProgressBar, progEmail, f.window, u"progEmail"_s);

    QDialog *test = openTest(f);
    QVERIFY(test);
    FIND_CHILD(QPushButton, cmdTest, test, u"cmdTest"_s);
    FIND_CHILD(QPushButton, cmdClear, test, u"cmdClear"_s);
    FIND_CHILD(QPlainTextEdit, txtStatus, test, u"txtStatus"_s);
    QCOMPARE(runTest(test, u"client@example.com"_s), (QStringList{u"Testing Email..."_s, u"Email testing complete"_s}));
    QCOMPARE(cmdTest->text(), u"Test"_s);
    QCOMPARE(progEmail->value(), 0);
    QVERIFY(server.waitForMessages(1, 5000));
    const ReceivedMessage message = server.messages().first();
    QCOMPARE(message.rcptTo, QStringList{u"client@example.com"_s});
    QCOMPARE(message.subject, u"Test subject line text"_s);
    QCOMPARE(message.body.trimmed(), u"Test email body text"_s);
    QVERIFY(message.attachments.isEmpty());

    // A second test adds its lines below the first; Clear Status empties the box.
    QCOMPARE(runTest(test, u"client@example.com"_s).size(), 4);
    cmdClear->click();
    QVERIFY(txtStatus->toPlainText().isEmpty());
}

void TestEmailTest::failedTestShowsTheServersReason()
{
    SmtpServer server({.fault = u"RCPT:550"_s});
    QVERIFY(server.isRunning());
    SmtpMailer smtp; // the real one; it outlives the window
    WindowFixture f;
    saveServerOf(f, server);
    f.open(/*realTime=*/true, &smtp);

    const QStringList lines = runTest(openTest(f), u"nobody@example.com"_s);
    QVERIFY2(lines.size() >= 4, qPrintable(lines.join(u'|')));
    QCOMPARE(lines.first(), u"Testing Email..."_s);
    QCOMPARE(lines.mid(lines.size() - 2),
             (QStringList{u"Email test bad or had problems!"_s, u"Email testing complete"_s}));
    QVERIFY(!lines[1].isEmpty());
}

void TestEmailTest::portThatIsNotANumberIsReportedAndCaptionRestored()
{
    SmtpMailer smtp; // the real one; it outlives the window
    WindowFixture f;
    f.saveServer(u"127.0.0.1"_s, u"twenty-five"_s);
    f.open(/*realTime=*/true, &smtp);

    // The setup dialog refuses such a port; a hand-edited settings file still gets it this far.
    f.window->showEmailTest();
    FIND_CHILD(QDialog, test, f.window, u"frmEmailTest"_s);
    FIND_CHILD(QPushButton, cmdTest, test, u"cmdTest"_s);
    const QStringList lines = runTest(test, u"client@example.com"_s);
    QVERIFY2(lines.size() == 4, qPrintable(lines.join(u'|')));
    QCOMPARE(lines.first(), u"Testing Email..."_s);
    QVERIFY(!lines[1].isEmpty());
    QCOMPARE(lines.mid(2), (QStringList{u"Email test bad or had problems!"_s, u"Email testing complete"_s}));
    QCOMPARE(cmdTest->text(), u"Test"_s);
    QVERIFY(cmdTest->isEnabled());
}

void TestEmailTest::checksBeforeSending_data()
{
    QTest::addColumn<bool>("serverSaved");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("warning");
    QTest::newRow("no address") << true << ""
                                << "You need enter a send email address for testing.";
    QTest::newRow("setup incomplete") << false << "client@example.com"
                                      << "Your email server setup is not complete.\nMissing in Setup: SMTP Server, "
                                         "SSL Port, Username, Password.";
}

void TestEmailTest::checksBeforeSending()
{
    QFETCH(bool, serverSaved);
    QFETCH(QString, address);
    QFETCH(QString, warning);
    WindowFixture f;
    if (serverSaved)
        f.saveServer();
    f.open();
    // Opened straight from the window, the test sees the settings as they are.
    f.window->showEmailTest();
    FIND_CHILD(QDialog, test, f.window, u"frmEmailTest"_s);
    FIND_CHILD(QLineEdit, txtSendEmailAddy, test, u"txtSendEmailAddy"_s);
    FIND_CHILD(QPushButton, cmdTest, test, u"cmdTest"_s);
    FIND_CHILD(QPlainTextEdit, txtStatus, test, u"txtStatus"_s);
    txtSendEmailAddy->setText(address);
    QTest::mouseClick(cmdTest, Qt::LeftButton);
    QCOMPARE(f.dialogs.warnings, QStringList{warning});
    QVERIFY(txtStatus->toPlainText().isEmpty());
    QVERIFY(f.mailer.messages().isEmpty());
}

void TestEmailTest::testCannotSendWhileARunIsInProgress()
{
    WindowFixture f;
    f.saveServer();
    QByteArray csv;
    for (int i = 1; i <= 10; ++i)
        csv += QByteArray::number(i) + ",client" + QByteArray::number(i) + "@example.com\r\n";
    writeFile(f.dir.filePath(u"clients.csv"_s), csv);
    f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
    f.mailer.sendTime = std::chrono::milliseconds(50);
    MainWindow &w = f.open();
    FIND_CHILD(QPushButton, cmdStart, f.window, u"cmdStart"_s);
    QDialog *test = openTest(f);
    QVERIFY(test);
    FIND_CHILD(QPushButton, button, test, u"cmdTest"_s);
    QVERIFY(button->isEnabled());

    QSignalSpy finished(&w, &MainWindow::runFinished);
    QTest::mouseClick(cmdStart, Qt::LeftButton);
    QVERIFY(!button->isEnabled());
    QVERIFY(finished.wait(20000));
    QVERIFY(button->isEnabled());
    // Nothing but the run's own messages went out, all with the run's subject.
    const QList<MailMessage> sent = f.mailer.messages();
    QCOMPARE(sent.size(), 10);
    for (const MailMessage &m : sent)
        QCOMPARE(m.SubjectLine, u"Subject Line Text"_s);
}

void TestEmailTest::wholeRunThroughTheWindowReachesTheServer()
{
    SmtpServer server;
    QVERIFY(server.isRunning());
    SmtpMailer smtp; // the real one; it outlives the window
    WindowFixture f;
    saveServerOf(f, server);
    // Pacing on with no delay: each pause is one 100 ms slice of the real clock.
    f.save(u"EnableSchedule"_s, u"1"_s);
    f.save(u"DelayBetweenSends"_s, u"0"_s);
    f.save(u"GroupSize"_s, u"100"_s);
    writeFile(f.dir.filePath(u"clients.csv"_s), "A1,ann@example.com\r\nB2,\r\nC3,carl@example.com\r\n");
    writeFile(f.dir.filePath(u"A1.pdf"_s), "%PDF-1.4 ann\n");
    writeFile(f.dir.filePath(u"C3.pdf"_s), "%PDF-1.4 carl\n");
    writeFile(f.dir.filePath(u"B2.pdf"_s), "%PDF-1.4 bea\n");
    f.open(/*realTime=*/true, &smtp);
    FIND_CONTROLS(MainControls, ui, f.window);

    ui.txtCSVpath->setText(f.dir.filePath(u"clients.csv"_s));
    ui.txtSubjectLine->setText(u"Your documents"_s);
    ui.txtBodyMessage->setPlainText(u"Dear client,\nplease find your documents attached."_s);
    ui.OptAddAttachment2->click();
    ui.chkPrint->click();

    QSignalSpy finished(f.window.get(), &MainWindow::runFinished);
    QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
    QVERIFY(finished.wait(30000));

    QCOMPARE(statusLines(ui.txtProgress),
             (QStringList{u"Parsing CSV file..."_s, u"Clients found - 3"_s, u"Parsing CSV file complete"_s,
                          u"Client count - 3"_s, u"Emails to be sent - 2"_s, u"Documents to be printed - 1"_s,
                          u"Start processing..."_s, u"Printing document - 1"_s, u"Email scheduling enabled:"_s,
                          u"  Delay between email sends - 0secs"_s, u"  Delay between email groups - 5mins"_s,
                          u"  Email group size - 100"_s, u"Sending email - 1"_s, u"Sending email - 2"_s,
                          u"Processing Complete"_s}));
    QCOMPARE(f.printer.printed(), QStringList{f.dir.filePath(u"B2.pdf"_s)});
    QVERIFY(server.waitForMessages(2, 5000));
    const QList<ReceivedMessage> messages = server.messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].rcptTo, QStringList{u"ann@example.com"_s});
    QCOMPARE(messages[0].subject, u"Your documents"_s);
    QCOMPARE(messages[0].attachments.size(), 1);
    QCOMPARE(messages[0].attachments[0].fileName, u"A1.pdf"_s);
    QCOMPARE(messages[0].attachments[0].data, QByteArray("%PDF-1.4 ann\n"));
    QCOMPARE(messages[1].rcptTo, QStringList{u"carl@example.com"_s});
    QCOMPARE(messages[1].attachments[0].fileName, u"C3.pdf"_s);
    QVERIFY(messages[1].body.startsWith(u"Dear client,\r\nplease find"_s));
    QCOMPARE(ui.progEmail->value(), 0);
    QVERIFY(ui.cmdStart->isEnabled());
}

void TestEmailTest::testAlsoPutsItsMessageInSent_data()
{
    QTest::addColumn<QString>("imapUser");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("copy made") << u"user"_s
                               << QStringList{u"Testing Email..."_s, u"The copy in the Sent folder was made."_s,
                                              u"Email testing complete"_s};
    QTest::newRow("IMAP refuses the login")
        << u"someone else"_s
        << QStringList{u"Testing Email..."_s, u"The copy in the Sent folder failed: "_s,
                       u"Email test bad or had problems!"_s, u"Email testing complete"_s};
}

void TestEmailTest::testAlsoPutsItsMessageInSent()
{
    QFETCH(QString, imapUser);
    QFETCH(QStringList, lines);
    SmtpServer server;
    QVERIFY(server.isRunning());
    DovecotServer imap({.user = imapUser});
    QVERIFY(imap.isRunning());
    SmtpMailer smtp;
    ImapSentCopier copier({}, testCaFile().toUtf8(), imap.tlsPort());
    WindowFixture f;
    saveServerOf(f, server);
    f.save(u"SentCopy"_s, u"1"_s);
    f.save(u"IMAPServer"_s, u"127.0.0.1"_s);
    f.save(u"IMAPPort"_s, QString::number(imap.tlsPort()));
    AppServices services = f.services(/*realTime=*/true, &smtp);
    services.sentCopier = &copier;
    f.window = std::make_unique<MainWindow>(services);
    f.window->show();

    const QStringList shown = runTest(openTest(f), u"client@example.com"_s);
    QCOMPARE(shown.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        QVERIFY2(shown.at(i).startsWith(lines.at(i)), qPrintable(shown.at(i)));
    QVERIFY(server.waitForMessages(1, 5000));
    const QList<StoredMessage> sent = imap.folder(u"Sent"_s);
    QCOMPARE(sent.size(), imapUser == u"user"_s ? 1 : 0);
    if (!sent.isEmpty())
        QCOMPARE(sent.first().bytes, server.messages().first().raw);
}

QTEST_MAIN(TestEmailTest)
#include "tst_emailtest.moc"
