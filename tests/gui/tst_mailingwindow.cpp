// The window's choices for a mailing, driven through its controls: the clients ticked in the check
// and "Send to ticked clients only", a client file separated otherwise than the separator chosen,
// and fields and pictures in a formatted body.

#include "guitest.h"
#include "gui/checkdialog.h"
#include "gui/formattededitor.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTextEdit>

using namespace Qt::StringLiterals;
using namespace quorvale;
using namespace quorvale::test;

namespace {

void prepareRun(WindowFixture &f, const QByteArray &csv)
{
    f.saveServer();
    writeFile(f.dir.filePath(u"clients.csv"_s), csv);
    f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
    f.save(u"SubjectLine"_s, u"Statement"_s);
}

QStringList recipients(const WindowFixture &f)
{
    QStringList to;
    for (const MailMessage &m : f.mailer.messages())
        to.append(m.RecipientAddress);
    return to;
}

/// The check of the window's inputs, once it has finished; null when it did not open.
CheckDialog *checked(MainWindow &w)
{
    w.showCheck();
    auto *check = w.findChild<CheckDialog *>(u"frmCheck"_s);
    if (check && check->isChecking())
        QSignalSpy(check, &CheckDialog::checked).wait(10000);
    return check;
}

} // namespace

class TestMailingWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tickedClientsAreTheOnlyOnesARunGoesTo()
    {
        WindowFixture f;
        prepareRun(f, "1,a@x.org\r\n2,b@x.org\r\n3,c@x.org\r\n2,b2@x.org\r\n");
        MainWindow &w = f.open();
        QSignalSpy finished(&w, &MainWindow::runFinished);
        CheckDialog *check = checked(w);
        QVERIFY(check && check->report().error.isEmpty());
        FIND_CHILD(QTableView, table, check, u"tblCheck"_s);
        FIND_CHILD(QPushButton, send, check, u"cmdSendTicked"_s);
        QCOMPARE(caption(send->text()), u"Send to ticked clients only"_s);
        QAbstractItemModel *rows = table->model();
        const auto ticked = [rows](int row) { return rows->index(row, 0).data(Qt::CheckStateRole).toInt(); };
        QCOMPARE(ticked(0), int(Qt::Checked));

        // The Line heading unticks every client: nothing to send to.
        Q_EMIT table->horizontalHeader()->sectionClicked(0);
        QCOMPARE(ticked(0), int(Qt::Unchecked));
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(f.dialogs.warnings, QStringList{u"No client is ticked: tick the clients to send to."_s});
        QVERIFY(!w.isRunning());

        // Client 2 ticked on one line is ticked on both; the run goes to it alone.
        QVERIFY(rows->setData(rows->index(1, 0), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(ticked(3), int(Qt::Checked));
        QCOMPARE(ticked(2), int(Qt::Unchecked));
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(recipients(f), (QStringList{u"b@x.org"_s, u"b2@x.org"_s}));
        QCOMPARE(f.dialogs.confirmDetails.size(), 1);
        QVERIFY2(f.dialogs.confirmDetails.first().startsWith(
                     u"Chosen clients: 2 of 4 clients (the others are left out)\nE-mails to send: 2\n"_s),
                 qPrintable(f.dialogs.confirmDetails.first()));

        // Start goes to every client again, and the ones the ticked run reached are skipped when
        // the user says so.
        f.mailer.clear();
        f.dialogs.answer = true;
        FIND_CONTROLS(MainControls, ui, f.window);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QCOMPARE(recipients(f), (QStringList{u"a@x.org"_s, u"c@x.org"_s}));
    }

    void fileSeparatedOtherwiseIsOfferedToBeReadSo_data()
    {
        QTest::addColumn<bool>("take");
        QTest::newRow("read with semicolons") << true;
        QTest::newRow("declined") << false;
    }
    void fileSeparatedOtherwiseIsOfferedToBeReadSo()
    {
        QFETCH(bool, take);
        WindowFixture f;
        prepareRun(f, "1;a@x.org\r\n2;b@x.org\r\n");
        f.dialogs.takeOffer = take;
        MainWindow &w = f.open();
        QSignalSpy finished(&w, &MainWindow::runFinished);
        FIND_CONTROLS(MainControls, ui, f.window);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QTRY_COMPARE(f.dialogs.offered, QStringList{u"Read it with \";\""_s});
        QVERIFY2(f.dialogs.warnings.value(0).contains(u"The lines look separated by semicolons (;)"_s),
                 qPrintable(f.dialogs.warnings.value(0)));
        if (!take) {
            QTRY_VERIFY(!w.isRunning());
            QVERIFY(f.mailer.messages().isEmpty());
            QCOMPARE(w.settings().CSVDelimiter, u","_s);
            return;
        }
        // The run may already have finished while the offer was awaited above.
        QVERIFY(!finished.isEmpty() || finished.wait(10000));
        QCOMPARE(recipients(f), (QStringList{u"a@x.org"_s, u"b@x.org"_s}));
        // Kept for the list: the check reads it so too, and the next run asks nothing.
        QCOMPARE(f.store->RegReadValue(u"CSVDelimiter"_s, ValueKind::Text, {}).toString(), u";"_s);
        CheckDialog *check = checked(w);
        QVERIFY(check);
        QVERIFY2(check->report().error.isEmpty(), qPrintable(check->report().error));
        QCOMPARE(check->report().rows.size(), size_t(2));
    }

    void formattedBodyTakesQuotedFieldsAndAPictureAlone()
    {
        WindowFixture f;
        prepareRun(f, "1001,ann@example.com\r\n");
        QImage logo(8, 4, QImage::Format_RGB32);
        logo.fill(Qt::darkBlue);
        QVERIFY(logo.save(f.dir.filePath(u"logo.png"_s), "PNG"));
        MainWindow &w = f.open();
        QSignalSpy finished(&w, &MainWindow::runFinished);
        FIND_CONTROLS(MainControls, ui, f.window);
        FIND_CHILD(QCheckBox, chkFormatted, f.window, u"chkFormatted"_s);
        FIND_CHILD(FormattedEditor, editor, f.window, u"txtBodyHtmlEditor"_s);
        chkFormatted->click();
        editor->textBox()->setFocus();
        QTest::keyClicks(editor->textBox(), u"Dear {{\"{{\"}}{{id}}}}"_s);
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY2(f.dialogs.warnings.isEmpty(), qPrintable(f.dialogs.warnings.join(u'\n')));
        QCOMPARE(f.mailer.messages().size(), 1);
        QVERIFY2(f.mailer.messages().first().HtmlBody.contains(u"Dear {{1001}}"_s),
                 qPrintable(f.mailer.messages().first().HtmlBody));
        QVERIFY(!f.dialogs.confirmDetails.last().contains(u"Warning: the message body is empty."_s));

        // A picture alone is no empty body; nothing at all is.
        editor->setHtml(QString());
        QVERIFY(editor->insertPicture(f.dir.filePath(u"logo.png"_s)));
        f.dialogs.choices = {0}; // send again the mailing that reached every client
        QTest::mouseClick(ui.cmdStart, Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY2(!f.dialogs.confirmDetails.last().contains(u"Warning: the message body is empty."_s),
                 qPrintable(f.dialogs.confirmDetails.last()));
    }
};

QTEST_MAIN(TestMailingWindow)
#include "tst_mailingwindow.moc"
