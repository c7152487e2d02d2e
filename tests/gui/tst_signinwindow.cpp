// The sign-in in the setup dialog, offscreen: the rows each method shows, a provider filling in its
// server, "Sign in..." end to end against the fake authorization server (the test follows the
// address the dialog opened, as a browser would), and the password moved into a real keyring.

#include "guitest.h"

#include "auth/signinaccount.h"
#include "gui/setupdialog.h"
#include "settings/scramble.h"
#include "support/keyringfixture.h"
#include "support/oauthfixture.h"
#include "support/scopedenv.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QFormLayout>
#include <QGroupBox>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

using namespace quorvale;
using namespace quorvale::test;
using namespace Qt::StringLiterals;

namespace {

/// How long a wait for the fake servers, the keyring or the dialog may take: a dialog that never
/// gets there fails the test in seconds.
constexpr int kWaitMs = 10000;

/// Whether the row of `name` in the Authentication frame is shown.
bool rowShown(QDialog *setup, const QString &name)
{
    auto *field = setup->findChild<QWidget *>(name);
    auto *rows = setup->findChild<QGroupBox *>(u"Frame8"_s)->findChild<QFormLayout *>();
    return field && rows && rows->isRowVisible(field);
}

void choose(QComboBox *box, const QString &word)
{
    box->setCurrentIndex(box->findData(word));
    Q_EMIT box->activated(box->currentIndex());
}

} // namespace

class TestSignInWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void eachMethodShowsItsRows_data();
    void eachMethodShowsItsRows();
    void choosingAProviderFillsItsServer();
    void signsInWithoutBlockingTheWindow();
    void movesThePasswordIntoTheKeyring();

private:
    QTimer m_modalWatch;
    QStringList m_strayBoxes; ///< modal windows the dialog opened on its own, which the test closed
};

// A message box opened past the dialogs' seam would wait for a click that never comes: the watch
// closes it at once and the test fails, naming what it said.
void TestSignInWindow::init()
{
    m_strayBoxes.clear();
    m_modalWatch.setInterval(100);
    m_modalWatch.disconnect();
    connect(&m_modalWatch, &QTimer::timeout, this, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() == u"frmSetup"_s || modal->objectName() == u"frmEmailTest"_s)
            return;
        const auto *box = qobject_cast<QMessageBox *>(modal);
        m_strayBoxes.append(QString::fromLatin1(modal->metaObject()->className()) + u": "_s + modal->windowTitle() +
                            u' ' + (box ? box->text() : QString()));
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    });
    m_modalWatch.start();
}

void TestSignInWindow::cleanup()
{
    m_modalWatch.stop();
    QVERIFY2(m_strayBoxes.isEmpty(), qPrintable(m_strayBoxes.join(u'\n')));
}

void TestSignInWindow::eachMethodShowsItsRows_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("provider");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("hidden");
    QTest::newRow("password") << "password"
                              << "microsoft" << QStringList{u"txtPassword"_s}
                              << QStringList{u"cmdSignIn"_s, u"txtPasswordCommand"_s, u"cboProvider"_s};
    QTest::newRow("Microsoft 365") << "oauth"
                                   << "microsoft"
                                   << QStringList{u"cboProvider"_s, u"txtTenant"_s, u"txtClientId"_s, u"cmdSignIn"_s}
                                   << QStringList{u"txtPassword"_s, u"txtTokenUrl"_s, u"txtPasswordCommand"_s,
                                                  u"txtClientSecret"_s, u"signInAddress"_s};
    QTest::newRow("Google") << "oauth"
                            << "google" << QStringList{u"txtClientId"_s, u"txtClientSecret"_s}
                            << QStringList{u"txtTenant"_s, u"txtScope"_s, u"signInAddress"_s};
    QTest::newRow("other provider") << "oauth"
                                    << "custom" << QStringList{u"txtAuthorizeUrl"_s, u"txtTokenUrl"_s, u"txtScope"_s}
                                    << QStringList{u"txtTenant"_s, u"txtPassword"_s};
    QTest::newRow("token command") << "token-command"
                                   << "microsoft" << QStringList{u"txtPasswordCommand"_s}
                                   << QStringList{u"txtPassword"_s, u"cmdSignIn"_s, u"chkKeyring"_s};
}

void TestSignInWindow::eachMethodShowsItsRows()
{
    QFETCH(QString, method);
    QFETCH(QString, provider);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, hidden);
    WindowFixture f;
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CHILD(QComboBox, cboSignIn, setup, u"cboSignIn"_s);
    FIND_CHILD(QComboBox, cboProvider, setup, u"cboProvider"_s);
    choose(cboSignIn, method);
    cboProvider->setCurrentIndex(cboProvider->findData(provider));
    for (const QString &name : shown)
        QVERIFY2(rowShown(setup, name), qPrintable(name));
    for (const QString &name : hidden)
        QVERIFY2(!rowShown(setup, name), qPrintable(name));
    // Every control of the frame stays where it was.
    for (const QString &name : {u"cboAuth"_s, u"txtEmailSslPort"_s, u"txtUsername"_s})
        QVERIFY(rowShown(setup, name));
}

void TestSignInWindow::choosingAProviderFillsItsServer()
{
    WindowFixture f;
    f.saveServer(u"mail.old.example"_s, u"25"_s);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CONTROLS(SetupControls, ui, setup);
    FIND_CHILD(QComboBox, cboSignIn, setup, u"cboSignIn"_s);
    FIND_CHILD(QComboBox, cboProvider, setup, u"cboProvider"_s);
    FIND_CHILD(QCheckBox, chkSentCopy, setup, u"chkSentCopy"_s);
    FIND_CHILD(QLabel, lblSentCopyNote, setup, u"lblSentCopyNote"_s);
    chkSentCopy->setChecked(true);
    // Loading changes nothing; choosing the method asks before replacing the user's own server,
    // and No keeps it.
    QCOMPARE(ui.txtSMTPServer->text(), u"mail.old.example"_s);
    f.dialogs.answer = false;
    choose(cboSignIn, u"oauth"_s);
    QCOMPARE(f.dialogs.questions.size(), 1);
    QCOMPARE(ui.txtSMTPServer->text(), u"mail.old.example"_s);
    QVERIFY(chkSentCopy->isChecked());
    f.dialogs.answer = true;
    choose(cboProvider, u"google"_s);
    QCOMPARE(ui.txtSMTPServer->text(), u"smtp.gmail.com"_s);
    // The provider files sent mail in Sent itself: the copy goes off, and the window says why.
    QVERIFY(!chkSentCopy->isChecked());
    QVERIFY2(lblSentCopyNote->text().contains(u"Sent folder itself"_s), qPrintable(lblSentCopyNote->text()));
    choose(cboProvider, u"microsoft"_s);
    QCOMPARE(ui.txtSMTPServer->text(), u"smtp.office365.com"_s);
    QCOMPARE(ui.txtEmailSslPort->text(), u"587"_s);
    QCOMPARE(ui.cboAuth->currentIndex(), 1);
    // The user may still change them; "Other" leaves them alone.
    ui.txtSMTPServer->setText(u"smtp.practice.example"_s);
    choose(cboProvider, u"custom"_s);
    QCOMPARE(ui.txtSMTPServer->text(), u"smtp.practice.example"_s);
    // The provider's sending limits come with it and are saved with OK: a consumer Gmail address
    // has the lower daily limit.
    ui.txtUsername->setText(u"someone@gmail.com"_s);
    choose(cboProvider, u"google"_s);
    QPointer<QDialog> watched(setup);
    QTest::mouseClick(ui.cmdOK, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(watched.isNull() || !watched->isVisible(), kWaitMs);
    QCOMPARE(f.window->settings().DailyLimit, 500);
    QCOMPARE(f.window->settings().MinuteLimit, 0);
    QCOMPARE(f.store->RegReadValue(u"DailyLimit"_s, ValueKind::Text, u"<unset>"_s).toString(), u"500"_s);
}

void TestSignInWindow::signsInWithoutBlockingTheWindow()
{
    OAuthServer oauth;
    QVERIFY(oauth.isRunning());
    WindowFixture f;
    f.saveServer();
    const OAuthProvider p = oauth.provider();
    f.save(u"SignInMethod"_s, u"oauth"_s);
    f.save(u"OAuthProvider"_s, u"custom"_s);
    f.save(u"OAuthAuthorizeUrl"_s, p.authorizeUrl.toString());
    f.save(u"OAuthTokenUrl"_s, p.tokenUrl.toString());
    f.save(u"OAuthClientId"_s, p.clientId);
    f.save(u"OAuthScope"_s, p.scope);
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    FIND_CHILD(QPushButton, cmdSignIn, setup, u"cmdSignIn"_s);
    FIND_CHILD(QLabel, lblSignedIn, setup, u"lblSignedIn"_s);
    FIND_CHILD(QLabel, lblSecrets, setup, u"lblSecrets"_s);
    QTRY_COMPARE(lblSignedIn->text(), u"Not signed in."_s);

    QTest::mouseClick(cmdSignIn, Qt::LeftButton);
    QCOMPARE(f.dialogs.openedUrls.size(), 1);
    // The dialog waits for the browser without blocking: the window answers meanwhile.
    QCOMPARE(cmdSignIn->text(), u"Cancel sign-&in"_s);
    // The address is shown whole, to be copied, for when no browser opened.
    FIND_CHILD(QPlainTextEdit, txtSignInAddress, setup, u"txtSignInAddress"_s);
    FIND_CHILD(QPushButton, cmdCopyAddress, setup, u"cmdCopyAddress"_s);
    QVERIFY(rowShown(setup, u"signInAddress"_s));
    QCOMPARE(txtSignInAddress->toPlainText(), f.dialogs.openedUrls.first().toString(QUrl::FullyEncoded));
    QTest::mouseClick(cmdCopyAddress, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), txtSignInAddress->toPlainText());
    FollowingBrowser browser;
    browser.openUrl(f.dialogs.openedUrls.first());
    QTRY_VERIFY_WITH_TIMEOUT(lblSignedIn->text().startsWith(u"Signed in as user until "_s), kWaitMs);
    QCOMPARE(browser.lastStatus, 200);
    QCOMPARE(cmdSignIn->text(), u"Sign &in..."_s);
    QVERIFY(!rowShown(setup, u"signInAddress"_s));

    // Kept where the dialog said, and only there; the access token nowhere.
    const QString tokenFile = f.dir.filePath(u"secrets/oauth-refresh-token"_s);
    QVERIFY(QFileInfo::exists(tokenFile));
    const QStringList tokens = oauth.issuedTokens();
    QCOMPARE(tokens.size(), 2);
    QFile saved(tokenFile);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(saved.readAll()).trimmed(), tokens.last());
    QVERIFY(!lblSignedIn->text().contains(tokens.first()));

    // A sign-in cancelled from the dialog ends as cancelled.
    QTest::mouseClick(cmdSignIn, Qt::LeftButton);
    QTest::mouseClick(cmdSignIn, Qt::LeftButton);
    QTRY_COMPARE(lblSignedIn->text(), u"The sign-in was cancelled."_s);
}

void TestSignInWindow::movesThePasswordIntoTheKeyring()
{
    KeyringSession keyring;
    QVERIFY(keyring.isRunning());
    ScopedEnvironmentVariable bus("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress());
    WindowFixture f;
    f.account = std::make_shared<SignInAccount>(); // asks the keyring on the bus above
    f.saveServer();
    QDialog *setup = f.openSetup();
    QVERIFY(setup);
    QPointer<QDialog> watched(setup);
    FIND_CHILD(QCheckBox, chkKeyring, setup, u"chkKeyring"_s);
    FIND_CHILD(QLabel, lblSecrets, setup, u"lblSecrets"_s);
    // On by default once the keyring answered.
    QTRY_VERIFY_WITH_TIMEOUT(chkKeyring->isEnabled(), kWaitMs);
    QVERIFY(chkKeyring->isChecked());
    QVERIFY(lblSecrets->text().contains(u"system keyring"_s));
    QTest::mouseClick(setup->findChild<QPushButton *>(u"cmdOK"_s), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(watched.isNull() || !watched->isVisible(), kWaitMs);

    QCOMPARE(f.store->RegReadValue(u"PW"_s, ValueKind::Text, u"<unset>"_s).toString(), QString());
    KeyringSecretStore store;
    QCOMPARE(store.read(kPasswordKey).secret, u"secret"_s);
    QCOMPARE(f.window->settings().Password, u"secret"_s);
    // A new window finds it there.
    f.window.reset();
    f.account = std::make_shared<SignInAccount>();
    f.open();
    QTRY_COMPARE_WITH_TIMEOUT(f.window->settings().Password, u"secret"_s, kWaitMs);
    // Saving again (Test Email saves the mail settings) keeps it out of the file.
    QDialog *again = f.openSetup();
    QVERIFY(again);
    FIND_CHILD(QCheckBox, chkAgain, again, u"chkKeyring"_s);
    QTRY_VERIFY_WITH_TIMEOUT(chkAgain->isEnabled(), kWaitMs);
    QCOMPARE(again->findChild<QLineEdit *>(u"txtPassword"_s)->text(), u"secret"_s);
    QTest::mouseClick(again->findChild<QPushButton *>(u"cmdTestEmail"_s), Qt::LeftButton);
    QVERIFY(f.dialogs.warnings.isEmpty());
    QCOMPARE(f.store->RegReadValue(u"PW"_s, ValueKind::Text, u"<unset>"_s).toString(), QString());
    QCOMPARE(f.window->settings().Password, u"secret"_s);
}

QTEST_MAIN(TestSignInWindow)
#include "tst_signinwindow.moc"
