// The windows on a small screen (the test runs on a 1366x900 screen at scale 1 and at 1.5, set by
// its environment): they open inside the screen's free area, and at their smallest size no text of
// a button, option, check box or label is cut.

#include "guitest.h"
#include "gui/helpfiles.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLayout>
#include <QScreen>

using namespace quorvale;
using namespace quorvale::test;

namespace {

/// The visible texts of `window` that are narrower than they need, by object name or text.
QStringList clippedTexts(const QWidget *window)
{
    QStringList clipped;
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(window) && !button->text().isEmpty() &&
            button->width() < button->sizeHint().width())
            clipped.append(button->objectName() + u": "_s + button->text());
    }
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        if (label->isVisibleTo(window) && !label->wordWrap() && !label->text().isEmpty() &&
            label->width() < label->sizeHint().width())
            clipped.append(label->objectName() + u": "_s + label->text());
    }
    return clipped;
}

/// Shows `window` at its minimum size and waits until the layout has placed its children.
void shrink(QWidget *window)
{
    window->resize(window->minimumSize());
    QTRY_COMPARE(window->size(), window->minimumSize());
    if (window->layout())
        window->layout()->activate();
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mainWindowFitsTheScreenAndItsTexts()
    {
        WindowFixture f;
        MainWindow &w = f.open();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect free = w.screen()->availableGeometry();
        qInfo("screen %dx%d, window %dx%d, minimum %dx%d", free.width(), free.height(), w.width(), w.height(),
              w.minimumWidth(), w.minimumHeight());
        QVERIFY2(free.contains(w.frameGeometry()), "the window is larger than the screen");
        FIND_CONTROLS(MainControls, ui, w);
        QVERIFY2(free.contains(QRect(ui.cmdStart->mapToGlobal(QPoint(0, 0)), ui.cmdStart->size())),
                 "Start Processing is off the screen");

        shrink(&w);
        QCOMPARE(clippedTexts(&w), QStringList());
    }

    void setupDialogFitsTheScreenAndItsTexts()
    {
        WindowFixture f;
        MainWindow &w = f.open();
        w.showSetup();
        FIND_CHILD(QDialog, setup, w, u"frmSetup"_s);
        QVERIFY(QTest::qWaitForWindowExposed(setup));
        const QRect free = setup->screen()->availableGeometry();
        QVERIFY2(setup->minimumSizeHint().height() <= free.height(), "the setup dialog is taller than the screen");
        shrink(setup);
        QCOMPARE(clippedTexts(setup), QStringList());
    }
};

QTEST_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
