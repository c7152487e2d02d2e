// Signing in to the mail server, through the program as a user runs it: `quorvale sign-in
// --no-browser` against the fake authorization server (the test opens the printed address as a
// browser would), then runs and test e-mails over STARTTLS with AUTH XOAUTH2, with and without a
// keyring; the password and token commands; the failures that must stop a run at once; and no
// token anywhere but where the refresh token is kept.

#include "auth/signinaccount.h"
#include "mail/smtpmailer.h"
#include "support/keyringfixture.h"
#include "support/oauthfixture.h"
#include "support/programhome.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::KeyringSession;
using quorvale::test::OAuthServer;
using quorvale::test::ProgramHome;
using quorvale::test::SmtpServer;

namespace {

using Pairs = QList<std::pair<QString, QString>>;

const QString kClients = u"list.csv"_s;

/// The settings of the OAuth sign-in at `oauth`.
Pairs oauthSettings(const OAuthServer &oauth)
{
    const OAuthProvider p = oauth.provider();
    return {{u"SignInMethod"_s, u"oauth"_s},
            {u"OAuthProvider"_s, u"custom"_s},
            {u"OAuthAuthorizeUrl"_s, p.authorizeUrl.toString()},
            {u"OAuthTokenUrl"_s, p.tokenUrl.toString()},
            {u"OAuthClientId"_s, p.clientId},
            {u"OAuthScope"_s, p.scope}};
}

/// Runs `quorvale sign-in --no-browser`, opening the address it prints as a browser would.
ProgramHome::Result signIn(const ProgramHome &home)
{
    const std::unique_ptr<QProcess> process = home.start({u"sign-in"_s, u"--no-browser"_s});
    const QByteArray lead = "Open this address in a browser to sign in:\n";
    const auto addressRead = [&lead](const QByteArray &err) {
        const qsizetype at = err.indexOf(lead);
        return at >= 0 && err.indexOf('\n', at + lead.size()) > 0;
    };
    QByteArray err;
    QDeadlineTimer deadline(30000);
    process->setReadChannel(QProcess::StandardError);
    while (!addressRead(err) && process->waitForReadyRead(int(deadline.remainingTime())))
        err += process->readAllStandardError();
    if (!addressRead(err))
        return {-1, {}, QString::fromUtf8(err)};
    const QByteArray address = err.mid(err.indexOf(lead) + lead.size()).split('\n').first();
    quorvale::test::FollowingBrowser browser;
    browser.openUrl(QUrl(QString::fromUtf8(address)));
    // The browser needs this event loop; the program ends once the redirect reached it.
    if (!QTest::qWaitFor([&process] { return process->state() == QProcess::NotRunning; }, 30000))
        return ProgramHome::finish(*process); // ends it
    ProgramHome::Result result;
    result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    result.out = QString::fromUtf8(process->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    result.err = QString::fromUtf8(err + process->readAllStandardError());
    return result;
}

/// A run over every client; `again` sends a mailing that already reached them all once more.
ProgramHome::Result runClients(const ProgramHome &home, bool again = false)
{
    QStringList args{u"run"_s, u"--csv"_s, home.path(kClients), u"--yes"_s};
    if (again)
        args.append(u"--send-again"_s);
    return home.run(args);
}

/// Every file under `folder` that holds one of `tokens`, but `allowed`.
QStringList filesHolding(const QString &folder, const QStringList &tokens, const QString &allowed)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (path == allowed || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        for (const QString &token : tokens) {
            if (content.contains(token.toUtf8()))
                found << path;
        }
    }
    return found;
}

} // namespace

class TestSignInProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signsInAndSendsWithTheToken_data();
    void signsInAndSendsWithTheToken();
    void loginFailuresStopTheRunOnce_data();
    void loginFailuresStopTheRunOnce();
    void commandsGiveTheSecret_data();
    void commandsGiveTheSecret();
    void aRefusedTokenIsRenewedOnce();
    void commandsOthersCouldHaveWrittenAreNotRun_data();
    void commandsOthersCouldHaveWrittenAreNotRun();
};

void TestSignInProgram::signsInAndSendsWithTheToken_data()
{
    QTest::addColumn<bool>("keyring");
    QTest::newRow("no keyring: the token in a file of its own") << false;
    QTest::newRow("in the keyring") << true;
}

void TestSignInProgram::signsInAndSendsWithTheToken()
{
    QFETCH(bool, keyring);
    ProgramHome home;
    OAuthServer oauth;
    SmtpServer smtp({.security = SmtpServer::Security::StartTls, .xoauth2TokenFile = oauth.accessTokenFile()});
    QVERIFY(oauth.isRunning());
    QVERIFY(smtp.isRunning());
    std::unique_ptr<KeyringSession> session;
    if (keyring) {
        session = std::make_unique<KeyringSession>();
        QVERIFY(session->isRunning());
        home.setEnvironment(u"DBUS_SESSION_BUS_ADDRESS="_s + QString::fromUtf8(session->busAddress()));
    }
    QVERIFY(home.configure(smtp, oauthSettings(oauth)));
    QVERIFY(home.writeFile(kClients, "1,a@example.org\r\n2,b@example.org\r\n3,c@example.org\r\n"));
    QList<ProgramHome::Result> outputs;

    const ProgramHome::Result signedIn = signIn(home);
    outputs << signedIn;
    QVERIFY2(signedIn.exitCode == 0, qPrintable(signedIn.err));
    QCOMPARE(signedIn.out, QStringList{u"Signed in."_s});
    const QString tokenFile = home.path(u"config/Quorvale/oauth-refresh-token"_s);
    QCOMPARE(QFileInfo::exists(tokenFile), !keyring);
    if (!keyring) {
        QCOMPARE(QFileInfo(tokenFile).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(signedIn.err.contains(u"No system keyring is running, so the password and the sign-in are kept in files only you can read"_s));
    }
    const ProgramHome::Result shown = home.run({u"config"_s, u"show"_s});
    outputs << shown;
    QVERIFY(shown.out.contains(u"SignInMethod=oauth"_s));
    const QString stored = shown.out.filter(u"OAuthRefreshToken="_s).value(0);
    QVERIFY2(stored.startsWith(u"OAuthRefreshToken=stored in "_s), qPrintable(stored));
    QVERIFY(stored.contains(keyring ? u"keyring"_s : tokenFile));

    // Each token lives less than the five minutes the program wants left: every send refreshes.
    oauth.setAccessLife(301);
    const ProgramHome::Result run = runClients(home);
    outputs << run;
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(smtp.messages().size(), 3);
    QCOMPARE(smtp.authAttempts(), QStringList(3, u"XOAUTH2 ok"_s));
    qsizetype refreshes = 0;
    for (const QJsonObject &request : oauth.requests())
        refreshes += request.value(u"params"_s).toObject().value(u"grant_type"_s).toString() == u"refresh_token"_s;
    QCOMPARE(refreshes, 3);
    const ProgramHome::Result tested = home.run({u"test-email"_s, u"d@example.org"_s});
    outputs << tested;
    QCOMPARE(tested.exitCode, 0);

    // No token anywhere but where the refresh token is kept.
    QString printed;
    for (const ProgramHome::Result &r : std::as_const(outputs))
        printed += r.out.join(u'\n') + r.err;
    for (const QString &token : oauth.issuedTokens())
        QVERIFY2(!printed.contains(token), "a token was printed");
    QCOMPARE(filesHolding(home.root(), oauth.issuedTokens(), tokenFile), QStringList());

    const ProgramHome::Result out = home.run({u"sign-out"_s});
    QCOMPARE(out.exitCode, 0);
    QVERIFY(!QFileInfo::exists(tokenFile));
    QVERIFY(home.run({u"config"_s, u"show"_s}).out.contains(u"OAuthRefreshToken=not stored"_s));
    const ProgramHome::Result after = runClients(home, true);
    QCOMPARE(after.exitCode, 2);
    QVERIFY(after.out.join(u'\n').contains(u"Processing stopped - No sign-in is saved. Sign in again."_s));
}

void TestSignInProgram::loginFailuresStopTheRunOnce_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("authType");
    QTest::addColumn<QString>("smtpFault");
    QTest::addColumn<QString>("oauthFault");
    QTest::addColumn<QString>("reason");

    const QString exchange = u"This mail provider requires the Microsoft 365 sign-in"_s;
    QTest::newRow("refused refresh") << "oauth"
                                     << "" << 1 << ""
                                     << "refuse-refresh"
                                     << "Sign in again";
    QTest::newRow("token command fails") << "token-command"
                                         << "/bin/false" << 1 << ""
                                         << ""
                                         << "The token command \"false\" failed with exit status 1.";
    QTest::newRow("token command prints nothing") << "token-command"
                                                  << "/bin/echo ''" << 1 << ""
                                                  << ""
                                                  << "The token command \"echo\" printed nothing on its first line.";
    QTest::newRow("password command cannot start") << "password-command"
                                                   << "/nonexistent/pass show mail" << 1 << ""
                                                   << ""
                                                   << "The password command \"pass\" could not be started.";
    QTest::newRow("password command hangs") << "password-command"
                                            << "/bin/sleep 60" << 1 << ""
                                            << ""
                                            << "The password command \"sleep\" did not finish within 30 seconds.";
    QTest::newRow("a token over Simple") << "oauth"
                                         << "" << 0 << ""
                                         << ""
                                         << "A sign-in token is only sent over an encrypted connection";
    QTest::newRow("a command's token over Simple") << "token-command"
                                                   << "/bin/echo a-token" << 0 << ""
                                                   << ""
                                                   << "A sign-in token is only sent over an encrypted connection";
    QTest::newRow("5.7.139") << "password"
                             << "" << 1
                             << "reply:AUTH:535 5.7.139 Authentication unsuccessful, basic authentication is disabled."
                             << "" << exchange;
    QTest::newRow("5.7.30") << "password"
                            << "" << 1
                            << "reply:AUTH:550 5.7.30 Basic authentication is not supported for Client Submission."
                            << "" << exchange;
}

void TestSignInProgram::loginFailuresStopTheRunOnce()
{
    QFETCH(QString, method);
    QFETCH(QString, command);
    QFETCH(int, authType);
    QFETCH(QString, smtpFault);
    QFETCH(QString, oauthFault);
    QFETCH(QString, reason);
    ProgramHome home;
    OAuthServer oauth;
    const bool token = method == u"oauth"_s || method == u"token-command"_s;
    SmtpServer smtp({.security = SmtpServer::Security::StartTls,
                     .fault = smtpFault,
                     .xoauth2TokenFile = token ? oauth.accessTokenFile() : QString()});
    QVERIFY(smtp.isRunning());
    Pairs settings = oauthSettings(oauth);
    settings << std::pair(u"SignInMethod"_s, method) << std::pair(u"PasswordCommand"_s, command)
             << std::pair(u"AuthType"_s, QString::number(authType));
    QVERIFY(home.configure(smtp, settings));
    QVERIFY(home.writeFile(kClients, "1,a@example.org\r\n2,b@example.org\r\n3,c@example.org\r\n"));
    if (method == u"oauth"_s)
        QCOMPARE(signIn(home).exitCode, 0);
    oauth.setFault(oauthFault);

    // A run stops before the next client, saying why once; nothing was sent.
    const ProgramHome::Result run = runClients(home);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out.filter(u"Sending email - "_s), QStringList{u"Sending email - 1"_s});
    const QString all = run.out.join(u'\n');
    const qsizetype stopped = all.indexOf(u"\nProcessing stopped - "_s);
    QVERIFY2(stopped > 0 && all.indexOf(reason, stopped) > 0, qPrintable(all));
    QCOMPARE(all.count(reason), 1);
    QCOMPARE(smtp.messages().size(), 0);
    // The test e-mail says the same.
    const ProgramHome::Result tested = home.run({u"test-email"_s, u"d@example.org"_s});
    QCOMPARE(tested.exitCode, 1);
    QVERIFY2(tested.out.join(u'\n').contains(reason), qPrintable(tested.out.join(u'\n')));
    // The refusals of the server never carry the login back to the user.
    QVERIFY(!QString(run.out.join(u'\n') + tested.out.join(u'\n')).contains(u"secret"_s));
}

void TestSignInProgram::commandsGiveTheSecret_data()
{
    QTest::addColumn<QString>("method");
    QTest::newRow("password command") << "password-command";
    QTest::newRow("token command") << "token-command";
}

void TestSignInProgram::commandsGiveTheSecret()
{
    QFETCH(QString, method);
    ProgramHome home;
    OAuthServer oauth;
    const bool token = method == u"token-command"_s;
    SmtpServer smtp({.security = SmtpServer::Security::StartTls,
                     .password = u"from-the-command"_s,
                     .xoauth2TokenFile = token ? oauth.accessTokenFile() : QString()});
    QVERIFY(smtp.isRunning());
    if (token)
        QVERIFY(oauth.signIn(oauth.provider()).ok());
    // The saved password is not the server's: only the command's secret logs in.
    const QString command = token ? u"/bin/cat '"_s + oauth.accessTokenFile() + u'\''
                                  : u"/bin/sh -c 'echo from-the-command; echo second line'"_s;
    QVERIFY(home.configure(smtp, {{u"SignInMethod"_s, method}, {u"PasswordCommand"_s, command}}));
    QVERIFY(home.writeFile(kClients, "1,a@example.org\r\n2,b@example.org\r\n"));
    const ProgramHome::Result run = runClients(home);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(smtp.messages().size(), 2);
    QVERIFY(!run.out.join(u'\n').contains(u"from-the-command"_s));
}

void TestSignInProgram::commandsOthersCouldHaveWrittenAreNotRun_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("mode");       // of the settings file
    QTest::addColumn<bool>("otherOwner"); // the settings file belongs to another user
    QTest::addColumn<QString>("reason");
    QTest::newRow("group may write") << "password-command" << 0620 << false << "(mode 0620)";
    QTest::newRow("anyone may write") << "token-command" << 0606 << false << "(mode 0606)";
    QTest::newRow("another user's") << "password-command" << 0600 << true << "belongs to another user";
}

// A settings file that someone else could have written is read, but the command in it is not run:
// a colleague with write access would otherwise run anything as this user.
void TestSignInProgram::commandsOthersCouldHaveWrittenAreNotRun()
{
    QFETCH(QString, method);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(QString, reason);
    ProgramHome home;
    SmtpServer smtp({.security = SmtpServer::Security::StartTls, .password = u"from-the-command"_s});
    QVERIFY(smtp.isRunning());
    const QString marker = home.path(u"command-ran"_s);
    const QString command = u"/bin/sh -c 'touch \"%1\"; echo from-the-command'"_s.arg(marker);
    QVERIFY(home.configure(smtp, {{u"SignInMethod"_s, method}, {u"PasswordCommand"_s, command}}));
    QVERIFY(home.writeFile(kClients, "1,a@example.org\r\n2,b@example.org\r\n"));
    const QString settings = home.path(u"config/Quorvale/Quorvale.ini"_s);
    const QByteArray native = QFile::encodeName(settings);
    QCOMPARE(::chmod(native.constData(), mode_t(mode)), 0);
    if (otherOwner) {
        const struct passwd *nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("giving a file to another user needs root");
        QCOMPARE(::chown(native.constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    const ProgramHome::Result run = runClients(home);
    QCOMPARE(run.exitCode, 2);
    const QString all = run.out.join(u'\n');
    QVERIFY2(all.contains(u"Processing stopped - "_s) && all.contains(settings) && all.contains(reason),
             qPrintable(all));
    if (!otherOwner)
        QVERIFY2(all.contains(u"chmod 600 "_s + settings), qPrintable(all));
    QVERIFY(!QFile::exists(marker));
    QCOMPARE(smtp.messages().size(), 0);
    // The run's saves leave the file as it was found: never made to look like the user's own.
    struct stat info = {};
    QCOMPARE(::stat(native.constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), mode);
    // Shown, though: the setting is read for display.
    const ProgramHome::Result shown = home.run({u"config"_s, u"get"_s, u"PasswordCommand"_s});
    QCOMPARE(shown.out, QStringList{command});
    QVERIFY(!QFile::exists(marker));

    // Mended as the message says, the command runs (a token would need a sign-in server here).
    if (method != u"password-command"_s)
        return;
    if (otherOwner)
        QCOMPARE(::chown(native.constData(), ::geteuid(), ::getegid()), 0);
    QCOMPARE(::chmod(native.constData(), 0600), 0);
    QCOMPARE(runClients(home).exitCode, 0);
    QVERIFY(QFile::exists(marker));
    QCOMPARE(smtp.messages().size(), 2);
}

void TestSignInProgram::aRefusedTokenIsRenewedOnce()
{
    OAuthServer oauth;
    SmtpServer smtp({.security = SmtpServer::Security::StartTls, .xoauth2TokenFile = oauth.accessTokenFile()});
    QVERIFY(smtp.isRunning());
    QTemporaryDir folder;
    auto account = std::make_shared<SignInAccount>([&folder] {
        return SecretStoreChoice{std::make_unique<FileSecretStore>(folder.path()), {}};
    });
    const OAuthProvider provider = oauth.provider();
    const TokenResult first = oauth.signIn(provider);
    QVERIFY(first.ok());
    QString error;
    QVERIFY(account->holder(provider)->adopt(first.grant, &error));

    AppSettings settings = smtp.settings();
    settings.SignInMethod = u"oauth"_s;
    settings.OAuthProvider = u"custom"_s;
    settings.OAuthAuthorizeUrl = provider.authorizeUrl.toString();
    settings.OAuthTokenUrl = provider.tokenUrl.toString();
    settings.OAuthClientId = provider.clientId;
    settings.OAuthScope = provider.scope;
    SmtpMailer mailer(folder.path(), account, smtp.mailerOptions());
    const MailMessage message{u"a@example.org"_s, {}, u"Subject"_s, u"Body"_s};
    QVERIFY(SendMail(mailer, message, settings).sent());

    // A sign-in elsewhere replaced the token held: the server refuses it, one fresh one goes.
    QVERIFY(oauth.signIn(provider).ok());
    QVERIFY(SendMail(mailer, message, settings).sent());
    QCOMPARE(smtp.authAttempts(), (QStringList{u"XOAUTH2 ok"_s, u"XOAUTH2 refused"_s, u"XOAUTH2 ok"_s}));

    // A server that refuses every token gets one more try, not more, and the run is told to stop.
    settings.UserName = u"someone-else"_s;
    const SendResult refused = SendMail(mailer, message, settings);
    QCOMPARE(refused.status, SendStatus::NotAttempted);
    QVERIFY(refused.errorText.contains(u"refused the sign-in of someone-else"_s));
    QCOMPARE(smtp.authAttempts().mid(3), (QStringList{u"XOAUTH2 refused"_s, u"XOAUTH2 refused"_s}));
    for (const QString &token : oauth.issuedTokens())
        QVERIFY(!refused.errorText.contains(token));
    QCOMPARE(smtp.messages().size(), 2);
}

QTEST_GUILESS_MAIN(TestSignInProgram)
#include "tst_signinprogram.moc"
