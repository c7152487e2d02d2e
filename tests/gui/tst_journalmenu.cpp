// The main window's journal entries: resending to failed clients and opening the journal folder.

#include "guitest.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::Literals::StringLiterals;

class TestJournalMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void journalFolderEntryOpensTheFolder()
    {
        WindowFixture f;
        MainWindow &w = f.open();
        auto *menu = w.findChild<QMenu *>(u"mnuJournal"_s);
        QVERIFY(menu);
        QCOMPARE(menu->actions(), (QList<QAction *>{w.findChild<QAction *>(u"mnuResendFailed"_s),
                                                    w.findChild<QAction *>(u"mnuJournalFolder"_s)}));
        QCOMPARE(caption(menu->actions().first()->text()), u"Resend to Failed Clients"_s);
        w.findChild<QAction *>(u"mnuJournalFolder"_s)->trigger();
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
        QSignalSpy finished(&w, &MainWindow::runFinished);
        auto *resend = w.findChild<QAction *>(u"mnuResendFailed"_s);

        // Nothing failed yet: the entry says so and starts nothing.
        resend->trigger();
        QCOMPARE(f.dialogs.warnings.size(), 1);
        QVERIFY(f.dialogs.questions.isEmpty());

        f.mailer.failure = u"550 mailbox unavailable"_s;
        QTest::mouseClick(f.widget<QPushButton>("cmdStart"), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        f.mailer.failure.clear();
        f.dialogs.questions.clear();

        resend->trigger();
        QVERIFY(!resend->isEnabled());
        QVERIFY(finished.wait(10000));
        QVERIFY(resend->isEnabled());
        QCOMPARE(f.dialogs.questions, QStringList{u"Are you sure your ready to start processing?"_s});
        QCOMPARE(f.mailer.messages().size(), 4);
        QVERIFY(statusLines(f.widget<QPlainTextEdit>("txtProgress")).contains(u"Clients to resend to - 2"_s));

        // Both were sent to now: a further resend has nobody to go to.
        resend->trigger();
        QCOMPARE(f.dialogs.warnings.size(), 2);
        QCOMPARE(f.mailer.messages().size(), 4);
    }
};

QTEST_MAIN(TestJournalMenu)
#include "tst_journalmenu.moc"
