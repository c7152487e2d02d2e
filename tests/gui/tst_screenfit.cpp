// The windows on a small screen (the test runs on a 1366x768 and a 1366x900 screen, each at scale
// 1 and 1.5, set by its environment): in every state they open inside the screen's free area,
// every button outside a scrolling area is on the screen, and no text of a button, option, check
// box or label is cut (too narrow, or too low for its lines), at the size they open with and at
// their smallest size.

#include "guitest.h"
#include "gui/helpfiles.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>

using namespace quorvale;
using namespace quorvale::test;

namespace {

/// Whether `widget` lies in a scrolling area inside `window` (it may be scrolled out of view).
bool scrolls(const QWidget *widget, const QWidget *window)
{
    for (const QWidget *w = widget->parentWidget(); w && w != window; w = w->parentWidget()) {
        if (qobject_cast<const QScrollArea *>(w))
            return true;
    }
    return false;
}

/// The visible texts of `window` that are cut: narrower than they need, or, for a text that
/// wraps, lower than its lines need. By object name and text.
QStringList clippedTexts(const QWidget *window)
{
    QStringList clipped;
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(window) && !button->text().isEmpty() &&
            (button->width() < button->sizeHint().width() ||
             button->height() < button->minimumSizeHint().height()))
            clipped.append(button->objectName() + u": "_s + button->text());
    }
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty())
            continue;
        const bool cut = label->wordWrap() ? label->height() < label->heightForWidth(label->width())
                                           : label->width() < label->sizeHint().width() ||
                                                 label->height() < label->minimumSizeHint().height();
        if (cut)
            clipped.append(label->objectName() + u": "_s + label->text());
    }
    return clipped;
}

/// The visible buttons of `window` that are not wholly on the screen, leaving out those in a
/// scrolling area.
QStringList buttonsOffScreen(const QWidget *window)
{
    const QRect free = window->screen()->availableGeometry();
    QStringList off;
    for (const QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->isVisibleTo(window) && !scrolls(button, window) &&
            !free.contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())))
            off.append(button->objectName());
    }
    return off;
}

/// Shows `window` at its minimum size and waits until the layout has placed its children.
void shrink(QWidget *window)
{
    window->resize(window->minimumSize());
    QTRY_COMPARE(window->size(), window->minimumSize());
    // Texts that wrap ask for their new heights once they have their new widths.
    for (int pass = 0; pass < 2; ++pass) {
        QTest::qWait(20);
        if (window->layout())
            window->layout()->activate();
    }
}

void choose(QComboBox *box, const QString &word)
{
    box->setCurrentIndex(box->findData(word));
    Q_EMIT box->activated(box->currentIndex());
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyWindowFitsInEveryState_data();
    void everyWindowFitsInEveryState();
};

void TestScreenFit::everyWindowFitsInEveryState_data()
{
    QTest::addColumn<QString>("state");
    for (const char *state :
         {"main idle", "main during a run", "main after a run", "main formatted", "setup password", "setup simple",
          "setup Microsoft 365", "setup other provider", "setup token command", "setup password command",
          "setup signing in", "setup signed in", "setup long note", "email test", "preview", "check", "help",
          "signature"})
        QTest::newRow(state) << QString::fromLatin1(state);
}

void TestScreenFit::everyWindowFitsInEveryState()
{
    QFETCH(QString, state);
    WindowFixture f;
    f.saveServer();
    f.save(u"UserName"_s, u"office@practice.example"_s);
    writeFile(f.dir.filePath(u"clients.csv"_s), "1001,ann@example.com\r\n1002,\r\n1003,bob@example.com\r\n");
    f.save(u"CSVpath"_s, f.dir.filePath(u"clients.csv"_s));
    if (state.startsWith(u"setup"_s) && state != u"setup simple"_s)
        f.save(u"AuthType"_s, u"1"_s);
    if (state == u"setup Microsoft 365"_s || state == u"setup signing in"_s || state == u"setup signed in"_s) {
        f.save(u"SignInMethod"_s, u"oauth"_s);
        f.save(u"OAuthProvider"_s, u"microsoft"_s);
        f.save(u"OAuthClientId"_s, u"3f2a9c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6b"_s);
    }
    if (state == u"setup other provider"_s) {
        f.save(u"SignInMethod"_s, u"oauth"_s);
        f.save(u"OAuthProvider"_s, u"custom"_s);
    }
    if (state == u"setup token command"_s || state == u"setup password command"_s)
        f.save(u"SignInMethod"_s,
               state.endsWith(u"password command"_s) ? u"password-command"_s : u"token-command"_s);
    f.mailer.refused = {u"bob@example.com"_s};
    MainWindow &w = f.open(state == u"main during a run"_s);
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QWidget *window = &w;
    const auto child = [&w](const QString &name) { return w.findChild<QWidget *>(name); };
    if (state == u"main during a run"_s) {
        f.mailer.sendTime = std::chrono::milliseconds(500);
        QTest::mouseClick(w.findChild<QPushButton *>(u"cmdStart"_s), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.findChild<QLabel *>(u"lblRunProgress"_s)->text().isEmpty(), 10000);
    } else if (state == u"main after a run"_s) {
        QSignalSpy finished(&w, &MainWindow::runFinished);
        QTest::mouseClick(w.findChild<QPushButton *>(u"cmdStart"_s), Qt::LeftButton);
        QVERIFY(finished.wait(10000));
        QVERIFY(child(u"runSummary"_s)->isVisible());
    } else if (state == u"main formatted"_s) {
        w.findChild<QCheckBox *>(u"chkFormatted"_s)->click();
    } else if (state.startsWith(u"setup"_s)) {
        window = f.openSetup();
        QVERIFY(window);
        if (state == u"setup simple"_s)
            QTRY_VERIFY(child(u"lblSimpleWarning"_s)->isVisible());
        QTRY_VERIFY(w.findChild<QLabel *>(u"lblSecrets"_s)->text() != u"Looking for the system keyring..."_s);
        auto *lblSignedIn = w.findChild<QLabel *>(u"lblSignedIn"_s);
        if (state == u"setup signing in"_s) {
            QTest::mouseClick(w.findChild<QPushButton *>(u"cmdSignIn"_s), Qt::LeftButton);
            QTRY_VERIFY(child(u"txtSignInAddress"_s)->isVisible());
        } else if (state == u"setup signed in"_s) {
            lblSignedIn->setText(u"Signed in as office@practice.example until 12/8/26 4:15 PM."_s);
        } else if (state == u"setup long note"_s) {
            w.findChild<QLabel *>(u"lblSecrets"_s)
                ->setText(u"No system keyring is running, so the password and the sign-in are kept in a file "
                          "only you can read, in /home/office/.config/Quorvale/secrets, beside the settings."_s);
        }
    } else if (state == u"email test"_s) {
        w.showEmailTest();
        window = child(u"frmEmailTest"_s);
    } else if (state == u"preview"_s) {
        w.showPreview(1);
        window = child(u"frmPreview"_s);
    } else if (state == u"check"_s) {
        w.showCheck();
        window = child(u"frmCheck"_s);
    } else if (state == u"help"_s) {
        w.showHelp(kMainHelpContext);
        window = child(u"frmHelp"_s);
    } else if (state == u"signature"_s) {
        QWidget *setup = f.openSetup();
        QVERIFY(setup);
        setup->findChild<QPushButton *>(u"cmdSignature"_s)->click();
        window = child(u"frmSignature"_s);
    }
    QVERIFY2(window, qPrintable(state));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    // Let a window that grows with what it shows settle.
    QTest::qWait(50);
    window->layout()->activate();

    const QRect free = window->screen()->availableGeometry();
    qInfo("screen %dx%d, window %dx%d, minimum %dx%d", free.width(), free.height(), window->width(),
          window->height(), window->minimumWidth(), window->minimumHeight());
    QVERIFY2(free.contains(window->frameGeometry()), "the window is larger than the screen");
    QVERIFY2(window->minimumSize().height() <= free.height() && window->minimumSize().width() <= free.width(),
             "the window cannot be made small enough for the screen");
    QVERIFY2(buttonsOffScreen(window).isEmpty(), qPrintable(buttonsOffScreen(window).join(u", "_s)));
    QVERIFY2(clippedTexts(window).isEmpty(), qPrintable(u"cut: "_s + clippedTexts(window).join(u", "_s)));

    shrink(window);
    QVERIFY2(clippedTexts(window).isEmpty(), qPrintable(u"cut when smallest: "_s + clippedTexts(window).join(u", "_s)));
}

QTEST_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
