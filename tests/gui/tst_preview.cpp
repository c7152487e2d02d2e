// The main window with fields of the client's line: the column-names check box, the Preview window
// (next, previous, find, the row of Check Client List) showing what a run then sends, "Send to me",
// and what stops a run with fields before its question.

#include "guitest.h"
#include "gui/checkdialog.h"
#include "gui/previewdialog.h"
#include "run/journal.h"

#include <QAction>
#include <QDir>
#include <QSignalSpy>
#include <QImage>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QTextEdit>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <thread>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kClients = "Client,Email, Name ,Month\r\n42,anna@example.org,Anna,M\xc3\xa4rz\r\n"
                            "7,bert@example.org,Bert,April\r\n9,,Cy,Mai\r\n";

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

    /// A window over a client file with column names, the message using them.
    MainWindow &openWithFields(WindowFixture &f, const QString &subject = u"Invoice {{Month}}"_s)
    {
        f.saveServer();
        writeFile(f.dir.filePath(u"clients.csv"_s), kClients);
        f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
        f.save(u"CSVHeader"_s, u"1"_s);
        MainWindow &w = f.open();
        w.findChild<QLineEdit *>(u"txtSubjectLine"_s)->setText(subject);
        w.findChild<QPlainTextEdit *>(u"txtBodyMessage"_s)->setPlainText(u"Dear {{name}},\nyour {{4}} invoice."_s);
        return w;
    }

private Q_SLOTS:
    void previewShowsWhatTheRunSends()
    {
        WindowFixture f;
        MainWindow &w = openWithFields(f);
        FIND_CHILD(QCheckBox, chkCSVHeader, w, u"chkCSVHeader"_s);
        QVERIFY(chkCSVHeader->isChecked());
        FIND_CHILD(QAction, mnuPreview, w, u"mnuPreview"_s);
        mnuPreview->trigger();
        FIND_CHILD(PreviewDialog, preview, w, u"frmPreview"_s);
        QVERIFY(preview->isVisible());
        FIND_CHILD(QLineEdit, txtTo, preview, u"txtTo"_s);
        FIND_CHILD(QLineEdit, txtSubject, preview, u"txtSubject"_s);
        FIND_CHILD(QLineEdit, txtFrom, preview, u"txtFrom"_s);
        FIND_CHILD(QLineEdit, txtFind, preview, u"txtFind"_s);
        FIND_CHILD(QLineEdit, txtAttachment, preview, u"txtAttachment"_s);
        FIND_CHILD(QPlainTextEdit, txtBody, preview, u"txtBody"_s);
        FIND_CHILD(QPushButton, cmdNext, preview, u"cmdNext"_s);
        FIND_CHILD(QPushButton, cmdPrevious, preview, u"cmdPrevious"_s);
        FIND_CHILD(QLabel, lblProblem, preview, u"lblProblem"_s);

        // The first line names the columns: the first client is on line 2.
        QCOMPARE(txtFrom->text(), u"office@practice.example"_s);
        QCOMPARE(txtTo->text(), u"anna@example.org"_s);
        QCOMPARE(txtSubject->text(), u"Invoice März"_s);
        QCOMPARE(txtBody->toPlainText(), u"Dear Anna,\nyour März invoice."_s);
        QCOMPARE(txtAttachment->text(), u"none"_s);
        QVERIFY(!cmdPrevious->isEnabled());
        QTest::mouseClick(cmdNext, Qt::LeftButton);
        QCOMPARE(txtSubject->text(), u"Invoice April"_s);
        // The last client has no address: a run prints for it, and the window says so.
        QTest::mouseClick(cmdNext, Qt::LeftButton);
        QVERIFY(!cmdNext->isEnabled());
        QVERIFY(txtTo->text().isEmpty());
        QVERIFY(lblProblem->text().contains(u"no e-mail address"_s));
        txtFind->setText(u"7"_s);
        QTest::keyClick(txtFind, Qt::Key_Return);
        QCOMPARE(txtTo->text(), u"bert@example.org"_s);
        txtFind->setText(u"1234"_s);
        QTest::keyClick(txtFind, Qt::Key_Return);
        QCOMPARE(f.dialogs.warnings, QStringList{u"No client with the client ID \"1234\" is in the client list."_s});
        QCOMPARE(txtTo->text(), u"bert@example.org"_s);
        const MailMessage shown = preview->shown().message;

        // The run sends that client exactly the message shown.
        FIND_CONTROLS(MainControls, ui, f.window);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        const QList<MailMessage> sent = f.mailer.messages();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(1).RecipientAddress, shown.RecipientAddress);
        QCOMPARE(sent.at(1).SubjectLine, shown.SubjectLine);
        QCOMPARE(sent.at(1).BodyText, shown.BodyText);
        QCOMPARE(sent.at(1).AttachmentPath, shown.AttachmentPath);
        // The run saved the check box with the client file.
        AppSettings saved;
        LoadSettings(*f.store, saved);
        QCOMPARE(saved.CSVHeader, qint16(1));
    }

    void formattedMessageIsShownFormattedWithItsSenderAndSignature()
    {
        WindowFixture f;
        f.save(u"EmailFromName"_s, u"Smith & Partners"_s);
        f.save(u"ReplyTo"_s, u"desk@practice.example"_s);
        QImage logo(6, 3, QImage::Format_RGB32);
        logo.fill(Qt::darkGreen);
        QVERIFY(QDir().mkpath(f.dataFolder() + u"/pictures"_s));
        QVERIFY(logo.save(f.dataFolder() + u"/pictures/logo.png"_s, "PNG"));
        writeFile(f.dataFolder() + u"/Signature.html"_s, "<p><i>Regards</i></p><img src=\"pictures/logo.png\">");
        MainWindow &w = openWithFields(f);
        FIND_CHILD(QCheckBox, chkFormatted, w, u"chkFormatted"_s);
        chkFormatted->click();
        FIND_CHILD(QTextEdit, txtBodyHtml, w, u"txtBodyHtml"_s);
        txtBodyHtml->setHtml(u"<p>Dear <b>{{name}}</b> &amp; co</p>"_s);
        FIND_CHILD(QAction, mnuPreview, w, u"mnuPreview"_s);
        mnuPreview->trigger();
        FIND_CHILD(PreviewDialog, preview, w, u"frmPreview"_s);
        FIND_CHILD(QLineEdit, txtFrom, preview, u"txtFrom"_s);
        FIND_CHILD(QLineEdit, txtReplyTo, preview, u"txtReplyTo"_s);
        FIND_CHILD(QTabWidget, tabBody, preview, u"tabBody"_s);
        FIND_CHILD(QTextBrowser, txtBodyFormatted, preview, u"txtBodyFormatted"_s);
        FIND_CHILD(QPlainTextEdit, txtBody, preview, u"txtBody"_s);
        QCOMPARE(txtFrom->text(), u"Smith & Partners <office@practice.example>"_s);
        QCOMPARE(txtReplyTo->text(), u"desk@practice.example"_s);
        QCOMPARE(tabBody->currentWidget(), txtBodyFormatted);
        // The signature's logo is shown from the file the message embeds.
        const QString html = txtBodyFormatted->toHtml();
        QVERIFY2(html.contains(QUrl::fromLocalFile(f.dataFolder() + u"/pictures/logo.png"_s).toString()), qPrintable(html));
        QCOMPARE(txtBodyFormatted->toPlainText().left(14), u"Dear Anna & co"_s);
        QVERIFY(txtBody->toPlainText().startsWith(u"Dear Anna & co"_s));
        QVERIFY(txtBody->toPlainText().contains(u"Regards"_s));
        QVERIFY(preview->shown().problem.isEmpty());

        // Plain again: the text alone, with the signature's text.
        chkFormatted->click();
        mnuPreview->trigger();
        QVERIFY(!tabBody->isTabVisible(0));
        QCOMPARE(txtBody->toPlainText(), u"Dear Anna,\nyour März invoice.\n\nRegards"_s);
    }

    void sendToMeSendsTheShownMessageElsewhere()
    {
        WindowFixture f;
        MainWindow &w = openWithFields(f);
        w.showPreview(3); // Bert, from a row of the check
        FIND_CHILD(PreviewDialog, preview, w, u"frmPreview"_s);
        FIND_CHILD(QLineEdit, txtSendTo, preview, u"txtSendTo"_s);
        FIND_CHILD(QPushButton, cmdSendToMe, preview, u"cmdSendToMe"_s);
        FIND_CHILD(QLabel, lblSendStatus, preview, u"lblSendStatus"_s);
        QCOMPARE(preview->shown().message.RecipientAddress, u"bert@example.org"_s);
        QCOMPARE(txtSendTo->text(), u"office@practice.example"_s);
        txtSendTo->setText(u"me@example.net"_s);
        QSignalSpy done(preview, &PreviewDialog::sendFinished);
        QTest::mouseClick(cmdSendToMe, Qt::LeftButton);
        QVERIFY(done.wait(10000));
        QCOMPARE(lblSendStatus->text(), u"Sent to me@example.net"_s);
        // Opened again, the preview starts clean: no last send, no old search.
        FIND_CHILD(QLineEdit, txtFind, preview, u"txtFind"_s);
        txtFind->setText(u"9"_s);
        preview->close();
        w.showPreview();
        QCOMPARE(lblSendStatus->text(), QString());
        QCOMPARE(txtFind->text(), QString());
        const QList<MailMessage> sent = f.mailer.messages();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().RecipientAddress, u"me@example.net"_s);
        QCOMPARE(sent.first().SubjectLine, u"Invoice April"_s);
        QCOMPARE(sent.first().BodyText, u"Dear Bert,\r\nyour April invoice."_s);
        // A test: no run, no journal.
        QVERIFY(QDir(runJournalFolder(f.dataFolder())).entryList(QDir::Files).isEmpty());

        // While a run goes on, the mail server is the run's: Send to me waits until it is over.
        std::atomic<bool> release{false};
        f.mailer.onSend = [&release](const MailMessage &) {
            for (int i = 0; i < 1000 && !release; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        };
        FIND_CONTROLS(MainControls, ui, f.window);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QTRY_VERIFY(!cmdSendToMe->isEnabled());
        release = true;
        QVERIFY(finished.wait(10000));
        QVERIFY(cmdSendToMe->isEnabled());
    }

    void checkRowOpensItsPreview()
    {
        WindowFixture f;
        MainWindow &w = openWithFields(f, u"Invoice {{Month}} {{ name }}"_s);
        writeFile(f.dir.filePath(u"clients.csv"_s), "Client,Email,Name,Month\r\n42,anna@example.org,Anna,\r\n"
                                                    "7,bert@example.org,Bert,April\r\n");
        w.showCheck();
        FIND_CHILD(CheckDialog, check, w, u"frmCheck"_s);
        QSignalSpy checked(check, &CheckDialog::checked);
        QVERIFY(checked.wait(10000));
        // The empty month of client 42 is flagged.
        QCOMPARE(check->report().rows.at(0).emptyFields(), QStringList{u"{{Month}}"_s});
        QVERIFY(check->report().rows.at(1).emptyFields().isEmpty());
        FIND_CHILD(QTableView, table, check, u"tblCheck"_s);
        FIND_CHILD(QPushButton, cmdPreviewRow, check, u"cmdPreviewRow"_s);
        table->setCurrentIndex(table->model()->index(1, 0));
        QTest::mouseClick(cmdPreviewRow, Qt::LeftButton);
        FIND_CHILD(PreviewDialog, preview, w, u"frmPreview"_s);
        QCOMPARE(preview->shown().lineNumber, 3);
        QCOMPARE(preview->shown().message.SubjectLine, u"Invoice April Bert"_s);
    }

    void runWithFieldsStopsBeforeItsQuestion_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("warnings");
        QTest::addColumn<int>("questions");
        QTest::addColumn<int>("sent");
        QTest::newRow("unknown column") << u"Invoice {{Town}}"_s << true
                                        << QStringList{u"The message uses {{Town}}, which is not a column of the client file."_s}
                                        << 0 << 0;
        // Client 9 has no address: only the two messages count.
        QTest::newRow("empty field, no") << u"{{Month}} {{Name}}"_s << false << QStringList() << 1 << 0;
        QTest::newRow("empty field, yes") << u"{{Month}} {{Name}}"_s << true << QStringList() << 2 << 2;
    }
    void runWithFieldsStopsBeforeItsQuestion()
    {
        QFETCH(QString, subject);
        QFETCH(bool, answer);
        QFETCH(QStringList, warnings);
        QFETCH(int, questions);
        QFETCH(int, sent);
        WindowFixture f;
        MainWindow &w = openWithFields(f, subject);
        writeFile(f.dir.filePath(u"clients.csv"_s), "Client,Email,Name,Month\r\n42,anna@example.org,Anna,\r\n"
                                                    "7,bert@example.org,Bert,April\r\n9,,Cy,\r\n");
        f.dialogs.answer = answer;
        FIND_CONTROLS(MainControls, ui, f.window);
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        if (sent > 0)
            QVERIFY(finished.wait(10000));
        QTRY_COMPARE(f.dialogs.warnings.size() + f.dialogs.questions.size(), warnings.size() + questions);
        QCOMPARE(f.dialogs.warnings, warnings);
        QCOMPARE(f.dialogs.questions.size(), questions);
        if (questions > 0)
            QVERIFY(f.dialogs.questions.first().startsWith(
                u"1 client to be sent to has an empty field that the message uses ({{Month}})"_s));
        QCOMPARE(f.mailer.messages().size(), sent);
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
