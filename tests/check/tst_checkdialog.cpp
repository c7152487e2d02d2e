#include "gui/checkdialog.h"
#include "gui/guitest.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

class TestCheckDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checksTheWindowsInputsAndFilters();
};

void TestCheckDialog::checksTheWindowsInputsAndFilters()
{
    WindowFixture f;
    const QString csv = f.dir.filePath(u"clients.csv"_s);
    writeFile(csv, "1,a@x.com\n2,a@x.com\n3,c@x.com\n4,\n");
    writeFile(f.dir.filePath(u"Invoice_3.pdf"_s), "pdf");
    writeFile(f.dir.filePath(u"Invoice_4.pdf"_s), "pdf");
    const QByteArray iniBefore = [&] {
        QFile ini(f.dir.filePath(u"Quorvale.ini"_s));
        return ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray();
    }();
    MainWindow &w = f.open();
    FIND_CONTROLS(MainControls, ui, f.window);
    ui.txtCSVpath->setText(csv);
    ui.OptAddAttachment2->click();
    ui.chkPrint->setChecked(true);

    ui.cmdCheck->click();
    FIND_CHILD(CheckDialog, dialog, w, u"frmCheck"_s);
    FIND_CHILD(QLabel, lblCheckSummary, dialog, u"lblCheckSummary"_s);
    FIND_CHILD(QTableView, table, dialog, u"tblCheck"_s);
    FIND_CHILD(QCheckBox, chkFlaggedOnly, dialog, u"chkFlaggedOnly"_s);
    FIND_CHILD(QPushButton, save, dialog, u"cmdSaveCsv"_s);
    FIND_CHILD(QAction, mnuCheck, w, u"mnuCheck"_s);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QTRY_VERIFY(!dialog->isChecking()); // the check runs off the window's thread
    const QString summary = lblCheckSummary->text();
    QVERIFY2(summary.contains(u"Clients: 4"_s), qPrintable(summary));
    QVERIFY2(summary.contains(u"send with a file: 1, no document found: 2, print: 1"_s), qPrintable(summary));
    QVERIFY2(summary.contains(u"Flagged rows: 2 (same address on another line: 2, no document: 2)"_s), qPrintable(summary));

    QCOMPARE(table->model()->rowCount(), 4);
    QVERIFY(!table->model()->index(0, 0).data(Qt::DecorationRole).isNull()); // flagged rows carry an icon
    QVERIFY(table->model()->index(2, 0).data(Qt::DecorationRole).isNull());
    QCOMPARE(table->model()->index(3, CheckTableModel::ActionColumn).data().toString(),
             u"Print Invoice_4.pdf (3 bytes)"_s);
    chkFlaggedOnly->setChecked(true);
    QCOMPARE(table->model()->rowCount(), 2);
    QCOMPARE(table->model()->index(1, CheckTableModel::LineColumn).data().toInt(), 2);

    // The menu entry checks again with the inputs as they are now; the filter stays.
    // A second request while one runs is checked after it, with the inputs of that moment.
    ui.cmdCheck->click();
    ui.OptAddAttachment0->click();
    mnuCheck->trigger();
    QCOMPARE(w.findChildren<CheckDialog *>().size(), 1);
    QTRY_VERIFY(!dialog->isChecking());
    QCOMPARE(table->model()->rowCount(), 2);
    QCOMPARE(table->model()->index(0, CheckTableModel::ActionColumn).data().toString(), u"Send"_s);

    // Saved through the file chooser; a cancelled chooser writes nothing.
    const QString saved = f.dir.filePath(u"check.csv"_s);
    f.dialogs.files = {QString(), saved};
    save->click();
    QVERIFY(!QFile::exists(saved));
    save->click();
    QVERIFY(QFile::exists(saved));
    QVERIFY(f.dialogs.warnings.isEmpty());
    // Never over the client list, whatever the file chooser allowed.
    f.dialogs.files = {csv};
    save->click();
    QCOMPARE(f.dialogs.warnings.size(), 1);
    QVERIFY2(f.dialogs.warnings.first().contains(u"it is the client list"_s), qPrintable(f.dialogs.warnings.first()));
    QFile list(csv);
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), QByteArray("1,a@x.com\n2,a@x.com\n3,c@x.com\n4,\n"));
    f.dialogs.warnings.clear();

    // A check sends, prints and saves nothing.
    QVERIFY(f.mailer.messages().isEmpty());
    QVERIFY(f.printer.printed().isEmpty());
    QFile ini(f.dir.filePath(u"Quorvale.ini"_s));
    QCOMPARE(ini.open(QIODevice::ReadOnly) ? ini.readAll() : QByteArray(), iniBefore);
}

QTEST_MAIN(TestCheckDialog)
#include "tst_checkdialog.moc"
