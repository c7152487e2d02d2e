// The password or token command: what it gives, and a clear error for each way it can fail that
// names the command and never repeats what it printed.

#include "auth/secretcommand.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace quorvale;

class TestSecretCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void givesTheFirstLineOrSaysWhyNot_data();
    void givesTheFirstLineOrSaysWhyNot();
};

void TestSecretCommand::givesTheFirstLineOrSaysWhyNot_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("abortAfterMs");  // 0: never
    QTest::addColumn<bool>("token");        // a token command rather than a password command
    QTest::addColumn<QString>("secret");    // expected on success
    QTest::addColumn<QString>("errorPart"); // expected on failure

    const auto sh = [](const QString &script) { return QStringList{u"/bin/sh"_s, u"-c"_s, script}; };
    QTest::newRow("first line") << sh(u"printf 's3cr et\\nsecond\\n'"_s) << 5000 << 0 << false << u"s3cr et"_s
                                << QString();
    QTest::newRow("CR LF line end") << sh(u"printf 'tok\\r\\n'"_s) << 5000 << 0 << false << u"tok"_s << QString();
    QTest::newRow("no line end") << sh(u"printf 'tok'"_s) << 5000 << 0 << false << u"tok"_s << QString();
    QTest::newRow("words are not expanded")
        << QStringList{u"/bin/echo"_s, u"$HOME;*"_s} << 5000 << 0 << false << u"$HOME;*"_s << QString();
    QTest::newRow("standard input is closed")
        << sh(u"read x; echo \"got:$x\""_s) << 5000 << 0 << false << u"got:"_s << QString();
    QTest::newRow("fails") << sh(u"echo leaked-secret; echo leaked-error >&2; exit 3"_s) << 5000 << 0 << false
                           << QString() << u"The password command \"sh\" failed with exit status 3."_s;
    QTest::newRow("cannot start") << QStringList{u"/nonexistent/pass-helper"_s, u"show"_s} << 5000 << 0 << false
                                  << QString() << u"The password command \"pass-helper\" could not be started."_s;
    QTest::newRow("hangs") << QStringList{u"/bin/sleep"_s, u"30"_s} << 300 << 0 << false << QString()
                           << u"\"sleep\" did not finish within 1 second."_s;
    QTest::newRow("stopped by an abort") << QStringList{u"/bin/sleep"_s, u"30"_s} << 30000 << 200 << false << QString()
                                         << u"The password command \"sleep\" was stopped."_s;
    QTest::newRow("a token command fails") << sh(u"exit 1"_s) << 5000 << 0 << true << QString()
                                           << u"The token command \"sh\" failed with exit status 1."_s;
    QTest::newRow("prints nothing") << QStringList{u"/bin/true"_s} << 5000 << 0 << false << QString()
                                    << u"\"true\" printed nothing on its first line."_s;
    QTest::newRow("prints only to standard error")
        << sh(u"echo leaked-error >&2"_s) << 5000 << 0 << false << QString() << u"printed nothing on its first line."_s;
    QTest::newRow("first line empty") << sh(u"printf '\\nleaked-secret\\n'"_s) << 5000 << 0 << false << QString()
                                      << u"printed nothing on its first line."_s;
    QTest::newRow("crashes") << sh(u"echo leaked-secret; kill -9 $$"_s) << 5000 << 0 << false << QString()
                             << u"crashed."_s;
    QTest::newRow("no command") << QStringList() << 5000 << 0 << false << QString() << u"No password command is set: enter it as the Command in Setup."_s;
}

void TestSecretCommand::givesTheFirstLineOrSaysWhyNot()
{
    QFETCH(QStringList, words);
    QFETCH(int, timeoutMs);
    QFETCH(int, abortAfterMs);
    QFETCH(bool, token);
    QFETCH(QString, secret);
    QFETCH(QString, errorPart);

    QElapsedTimer clock;
    clock.start();
    const SecretCommandResult result = runSecretCommand(
        words, token ? SecretKind::AccessToken : SecretKind::Password, std::chrono::milliseconds(timeoutMs),
        [&] { return abortAfterMs > 0 && clock.elapsed() > abortAfterMs; });
    QCOMPARE(result.secret, secret);
    QCOMPARE(result.ok(), errorPart.isEmpty());
    QVERIFY2(result.error.contains(errorPart), qPrintable(result.error));
    QVERIFY2(!result.error.contains(u"leaked"_s), qPrintable(result.error));
}

QTEST_GUILESS_MAIN(TestSecretCommand)
#include "tst_secretcommand.moc"
