// The main window's journal entries: resending to failed clients, checking for bounces and opening
// the journal folder.

#include "guitest.h"
#include "gui/checkdialog.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>

#include <atomic>
#include <thread>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

/// A delivery report saying the message `messageId` did not reach `address`.
QByteArray report(const QByteArray &address, const QByteArray &messageId)
{
    return "From: MAILER-DAEMON@mx.example.com\r\nSubject: Undelivered Mail\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/report; report-type=delivery-status; boundary=\"b\"\r\n\r\n"
           "--b\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; mx.example.com\r\n\r\n"
           "Final-Recipient: rfc822; " +
           address + "\r\nAction: failed\r\nStatus: 5.1.1\r\nDiagnostic-Code: smtp; 550 5.1.1 User unknown\r\n"
                     "--b\r\nContent-Type: text/rfc822-headers\r\n\r\nMessage-ID: " +
           messageId + "\r\nSubject: Other\r\n--b--\r\n";
}

} // namespace

class TestJournalMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void journalFolderEntryOpensTheFolder()
    {
        WindowFixture f;
        MainWindow &w = f.open();
        FIND_CHILD(QMenu, menu, w, u"mnuJournal"_s);
        FIND_CHILD(QAction, mnuResendFailed, w, u"mnuResendFailed"_s);
        FIND_CHILD(QAction, mnuCheckBounces, w, u"mnuCheckBounces"_s);
        FIND_CHILD(QAction, mnuResendBounced, w, u"mnuResendBounced"_s);
        FIND_CHILD(QAction, mnuJournalFolder, w, u"mnuJournalFolder"_s);
        QCOMPARE(menu->actions(),
                 (QList<QAction *>{mnuResendFailed, mnuCheckBounces, mnuResendBounced, mnuJournalFolder}));
        QCOMPARE(caption(mnuCheckBounces->text()), u"Check for Bounces"_s);
        QCOMPARE(caption(menu->actions().first()->text()), u"Resend to Failed Clients"_s);
        mnuJournalFolder->trigger();
        const QString folder = QDir(f.dataFolder()).filePath(u"runs"_s);
        QCOMPARE(f.dialogs.openedUrls, QList<QUrl>{QUrl::fromLocalFile(folder)});
        QVERIFY(QFileInfo(folder).isDir());
    }

    void resendGoesToTheFailedClientsOnly()
    {
        WindowFixture f;
        f.saveServer();
        writeFile(f.dir.filePath(u"clients.csv"_s), "1001,ann@example.com\r\n1002,bob@example.com\r\n");
        f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
        MainWindow &w = f.open();
        FIND_CONTROLS(MainControls, ui, f.window);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        FIND_CHILD(QAction, resend, w, u"mnuResendFailed"_s);

        // Nothing failed yet: the entry says so and starts nothing.
        resend->trigger();
        QTRY_COMPARE(f.dialogs.warnings.size(), 1);
        QVERIFY(f.dialogs.questions.isEmpty());

        f.mailer.failure = u"550 mailbox unavailable"_s;
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        f.mailer.failure.clear();
        f.dialogs.questions.clear();

        resend->trigger();
        QVERIFY(!resend->isEnabled());
        QVERIFY(finished.wait(10000));
        QVERIFY(resend->isEnabled());
        QCOMPARE(f.dialogs.questions, QStringList{u"Are you sure your ready to start processing?"_s});
        QCOMPARE(f.mailer.messages().size(), 4);
        QVERIFY(statusLines(ui.txtProgress).contains(u"Clients to resend to - 2"_s));

        // Both were sent to now: a further resend has nobody to go to.
        resend->trigger();
        QTRY_COMPARE(f.dialogs.warnings.size(), 2);
        QCOMPARE(f.mailer.messages().size(), 4);
    }

    void checkForBouncesListsTheBouncedClientsOffTheWindowsThread()
    {
        WindowFixture f;
        f.saveServer();
        f.save(u"IMAPServer"_s, u"imap.example.org"_s);
        writeFile(f.dir.filePath(u"clients.csv"_s), "1001,ann@example.com\r\n1002,bob@example.com\r\n");
        f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
        MainWindow &w = f.open();
        FIND_CONTROLS(MainControls, ui, f.window);
        FIND_CHILD(QAction, check, w, u"mnuCheckBounces"_s);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(f.mailer.messages().size(), 2);

        // A report of Ann's message, one of a message sent by someone else.
        f.inbox.inbox = {report("ann@example.com", f.mailer.messages().at(0).MessageId),
                         report("zed@example.com", "<1@elsewhere.example>")};
        const QString line = u"Bounced - ann@example.com (client 1001): 5.1.1 550 5.1.1 User unknown"_s;
        for (int times = 1; times <= 2; ++times) {
            check->trigger();
            QTRY_COMPARE(statusLines(ui.txtProgress).count(u"Bounces found - 1"_s), times);
            QCOMPARE(statusLines(ui.txtProgress).count(line), times);
            QVERIFY(check->isEnabled());
        }
        QVERIFY(!f.inbox.askedOnAppThread);
        QCOMPARE(f.inbox.askedSince, f.fakeClock.currentDateTime().date());

        // A mailbox that cannot be read is said so, and the entry can be tried again.
        f.inbox.error = u"the IMAP server imap.example.org:993 cannot be reached"_s;
        check->trigger();
        QTRY_COMPARE(f.dialogs.warnings.size(), 1);
        QCOMPARE(f.dialogs.warnings.first(),
                 u"The mailbox could not be read: the IMAP server imap.example.org:993 cannot be reached"_s);
        QVERIFY(check->isEnabled());
    }

    void resendToBouncedReachesTheCorrectedAddressOnce()
    {
        WindowFixture f;
        f.saveServer();
        f.save(u"IMAPServer"_s, u"imap.example.org"_s);
        const QString list = f.dir.filePath(u"clients.csv"_s);
        writeFile(list, "1001,ann@example.com\r\n1002,bob@example.com\r\n1003,cy@example.com\r\n");
        f.save(u"CSVpath"_s, list);
        MainWindow &w = f.open();
        FIND_CONTROLS(MainControls, ui, f.window);
        FIND_CHILD(QAction, check, w, u"mnuCheckBounces"_s);
        FIND_CHILD(QAction, resend, w, u"mnuResendBounced"_s);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        const QList<MailMessage> sent = f.mailer.messages();
        QCOMPARE(sent.size(), 3);

        // Nothing bounced yet.
        resend->trigger();
        QTRY_COMPARE(f.dialogs.warnings.size(), 1);
        QVERIFY2(f.dialogs.warnings.last().startsWith(u"There are no bounced clients"_s),
                 qPrintable(f.dialogs.warnings.last()));

        f.inbox.inbox = {report("ann@example.com", sent.at(0).MessageId),
                         report("bob@example.com", sent.at(1).MessageId)};
        check->trigger();
        QTRY_VERIFY(statusLines(ui.txtProgress).contains(u"Bounces found - 2"_s));
        // Ann's address is corrected; Bob's is not yet.
        writeFile(list, "1001,ann.new@example.com\r\n1002,bob@example.com\r\n1003,cy@example.com\r\n");
        f.dialogs.questions.clear();
        resend->trigger();
        QVERIFY(finished.wait(10000));
        QCOMPARE(f.dialogs.questions, QStringList{u"Are you sure your ready to start processing?"_s});
        QCOMPARE(f.mailer.messages().size(), 4);
        QCOMPARE(f.mailer.messages().last().RecipientAddress, u"ann.new@example.com"_s);
        QVERIFY(statusLines(ui.txtProgress).contains(u"Clients to resend to - 1"_s));
        QVERIFY(statusLines(ui.txtProgress).contains(
            u"Skipped (bounced, address unchanged) - bob@example.com (client 1002)"_s));
        // The run's summary names the client still bounced.
        FIND_CHILD(QPlainTextEdit, failures, w, u"txtRunFailures"_s);
        FIND_CHILD(QLabel, counts, w, u"lblRunCounts"_s);
        QTRY_COMPARE(failures->toPlainText(), u"Bounced - bob@example.com (client 1002): 5.1.1 550 5.1.1 User unknown"_s);
        QVERIFY2(counts->text().contains(u"Bounced earlier and not sent to since: 1 client"_s), qPrintable(counts->text()));
        // So does the check of the list: Bob's address bounced; Ann's new one did not.
        w.showCheck();
        FIND_CHILD(CheckDialog, checkDialog, w, u"frmCheck"_s);
        QSignalSpy checked(checkDialog, &CheckDialog::checked);
        QVERIFY(checked.wait(10000));
        QCOMPARE(checkDialog->report().problems,
                 QStringList{u"Bounced - bob@example.com (client 1002): 5.1.1 550 5.1.1 User unknown"_s});

        // Ann was reached at her new address: a second resend has only Bob, still unchanged.
        resend->trigger();
        QTRY_COMPARE(f.dialogs.warnings.size(), 2);
        QVERIFY2(f.dialogs.warnings.last().contains(u"bob@example.com (client 1002)"_s),
                 qPrintable(f.dialogs.warnings.last()));
        QCOMPARE(f.mailer.messages().size(), 4);
    }

    void afterAnAbortResendAndStartFinishTheMailing()
    {
        // One client printed, a sent, b refused, then Abort pressed twice during c's send (once would
        // let it finish): c got nothing, d was never tried.
        WindowFixture f;
        f.saveServer();
        writeFile(f.dir.filePath(u"clients.csv"_s), "P,\r\nA,a@x.org\r\nB,b@x.org\r\nC,c@x.org\r\nD,d@x.org\r\n");
        for (const char *id : {"P", "A", "B", "C", "D"})
            writeFile(f.dir.filePath(u"Doc_%1.pdf"_s.arg(QLatin1String(id))), id);
        f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
        MainWindow &w = f.open();
        FIND_CONTROLS(MainControls, ui, f.window);
        ui.OptAddAttachment2->click();
        ui.chkPrint->click();
        QSignalSpy finished(&w, &MainWindow::runFinished);
        f.mailer.refused = {u"b@x.org"_s};
        f.mailer.onSend = [abort = ui.cmdAbort](const MailMessage &m) {
            if (m.RecipientAddress == u"c@x.org"_s) {
                QMetaObject::invokeMethod(abort, &QPushButton::click, Qt::BlockingQueuedConnection);
                QMetaObject::invokeMethod(abort, &QPushButton::click, Qt::BlockingQueuedConnection);
            }
        };
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY(statusLines(ui.txtProgress).contains(u"Send Error - c@x.org"_s));
        QCOMPARE(f.printer.printed().size(), 1);
        f.mailer.refused.clear();
        f.mailer.onSend = nullptr;
        const auto recipients = [&f] {
            QStringList out;
            for (const MailMessage &m : f.mailer.messages())
                out.append(m.RecipientAddress);
            return out;
        };
        QCOMPARE(recipients(), (QStringList{u"a@x.org"_s, u"b@x.org"_s}));

        // The resend goes to b alone, and says who is left for Start.
        FIND_CHILD(QAction, mnuResendFailed, w, u"mnuResendFailed"_s);
        mnuResendFailed->trigger();
        QVERIFY(finished.wait(10000));
        QVERIFY(statusLines(ui.txtProgress).contains(u"Clients not reached yet - 2 (Start Processing resumes them)"_s));
        QCOMPARE(recipients(), (QStringList{u"a@x.org"_s, u"b@x.org"_s, u"b@x.org"_s}));

        // Start resumes the mailing: c and d, nothing printed again.
        f.dialogs.questions.clear();
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(f.dialogs.questions.size(), 2);
        QVERIFY2(f.dialogs.questions.first().contains(u"reached 3 clients"_s), qPrintable(f.dialogs.questions.first()));
        QCOMPARE(recipients(), (QStringList{u"a@x.org"_s, u"b@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
        QCOMPARE(f.printer.printed().size(), 1);
        QVERIFY(statusLines(ui.txtProgress).contains(u"Skipped (already printed) - P"_s));
    }

    void aSecondWindowsStartIsRefusedWhileARunGoes()
    {
        WindowFixture f;
        f.saveServer();
        writeFile(f.dir.filePath(u"clients.csv"_s), "A,a@x.org\r\nB,b@x.org\r\n");
        f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
        MainWindow &first = f.open();
        FIND_CHILD(QPushButton, cmdStart, f.window, u"cmdStart"_s);
        QSignalSpy finished(&first, &MainWindow::runFinished);
        // The first window's run is in the middle of a send.
        std::atomic<bool> release = false;
        f.mailer.onSend = [&release](const MailMessage &) {
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        QTest::mouseClick(cmdStart, Qt::LeftButton);
        QTRY_COMPARE(f.dialogs.questions.size(), 1);
        QVERIFY(first.isRunning());

        ScriptedDialogs dialogs;
        FakeMailer mailer;
        MainWindow second(AppServices{*f.store, mailer, f.printer, f.fakeClock, dialogs, f.dataFolder(), {}});
        second.show();
        FIND_CHILD(QPushButton, secondStart, second, u"cmdStart"_s);
        QTest::mouseClick(secondStart, Qt::LeftButton);
        QTRY_COMPARE(dialogs.warnings.size(), 1);
        QVERIFY2(dialogs.warnings.first().startsWith(
                     u"Another run is in progress (process %1 of "_s.arg(QCoreApplication::applicationPid())),
                 qPrintable(dialogs.warnings.first()));
        QVERIFY(dialogs.questions.isEmpty());
        QVERIFY(!second.isRunning());
        QVERIFY(secondStart->isEnabled());

        release = true;
        QVERIFY(finished.wait(10000));
        QCOMPARE(f.mailer.messages().size(), 2);
        QVERIFY(mailer.messages().isEmpty());
    }
};

QTEST_MAIN(TestJournalMenu)
#include "tst_journalmenu.moc"
