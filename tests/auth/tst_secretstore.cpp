// Where secrets are kept: a real keyring (gnome-keyring-daemon on a private session bus), no keyring
// at all (then a private file, and the choice says so), and the file store's own rules.

#include "auth/secretstore.h"
#include "support/keyringfixture.h"
#include "support/scopedenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using namespace Qt::StringLiterals;
using namespace quorvale;
using quorvale::test::KeyringSession;
using quorvale::test::ScopedEnvironmentVariable;

namespace {

constexpr QFileDevice::Permissions kModeBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                               QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

QFileDevice::Permissions mode(const QString &path)
{
    return QFile::permissions(path) & kModeBits;
}

/// Writes, overwrites, reads back (also from another thread) and removes one secret.
void roundTrip(SecretStore &store)
{
    QString error;
    QCOMPARE(store.read(u"round-trip"_s).status, SecretLookup::Status::Missing);
    QVERIFY2(store.write(u"round-trip"_s, u"first"_s, &error), qPrintable(error));
    QVERIFY2(store.write(u"round-trip"_s, u"rt-Ünïcode/+=="_s, &error), qPrintable(error));
    const SecretLookup found = std::async(std::launch::async, [&store] { return store.read(u"round-trip"_s); }).get();
    QCOMPARE(found.status, SecretLookup::Status::Found);
    QCOMPARE(found.secret, u"rt-Ünïcode/+=="_s);
    QVERIFY(store.remove(u"round-trip"_s, &error));
    QVERIFY(store.remove(u"round-trip"_s, &error)); // nothing left to remove is no error
    QCOMPARE(store.read(u"round-trip"_s).status, SecretLookup::Status::Missing);
    QVERIFY(!store.write(u"../escape"_s, u"x"_s, &error));
    QVERIFY(error.contains(u"not a valid secret name"_s));
}

} // namespace

class TestSecretStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The session bus is looked for once per process where it succeeds: the case without one first.
    void withoutKeyringTheFileIsUsedAndNamed();
    void keyringKeepsSecrets();
    void fileStoreIsPrivateAndAtomic();
    void fileStoreNeverWritesThroughALink();
};

void TestSecretStore::withoutKeyringTheFileIsUsedAndNamed()
{
    ScopedEnvironmentVariable noBus("DBUS_SESSION_BUS_ADDRESS", {});
    ScopedEnvironmentVariable noDisplay("DISPLAY", {});
    QString why;
    QVERIFY(!KeyringSecretStore::answers(std::chrono::seconds(5), &why));
    QVERIFY2(why.startsWith(u"the system keyring said: "_s), qPrintable(why));

    QTemporaryDir dir;
    const QString folder = dir.path() + u"/Quorvale"_s;
    const SecretStoreChoice choice = openSecretStore(std::chrono::seconds(5), folder);
    QCOMPARE(choice.store->kind(), SecretStore::Kind::File);
    QCOMPARE(choice.notice, u"No system keyring is running, so the password and the sign-in are kept in files only "
                             "you can read, in %1."_s.arg(folder));
    QVERIFY(choice.store->write(u"oauth-refresh-token"_s, u"rt-1"_s, nullptr));
    QCOMPARE(mode(folder + u"/oauth-refresh-token"_s), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(choice.store->location(u"oauth-refresh-token"_s),
             u"the file %1/oauth-refresh-token, readable by you only"_s.arg(folder));
}

void TestSecretStore::keyringKeepsSecrets()
{
    KeyringSession keyring;
    QVERIFY(keyring.isRunning());
    ScopedEnvironmentVariable bus("DBUS_SESSION_BUS_ADDRESS", keyring.busAddress());
    QVERIFY(KeyringSecretStore::answers(std::chrono::seconds(10)));

    QTemporaryDir dir;
    const SecretStoreChoice choice = openSecretStore(std::chrono::seconds(10), dir.path());
    QCOMPARE(choice.store->kind(), SecretStore::Kind::Keyring);
    QVERIFY(choice.notice.isEmpty());
    QVERIFY(choice.store->location(u"oauth-refresh-token"_s).contains(u"system keyring"_s));
    roundTrip(*choice.store);
    QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
}

void TestSecretStore::fileStoreIsPrivateAndAtomic()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + u"/config/Quorvale"_s;
    FileSecretStore store(folder);
    roundTrip(store);
    QCOMPARE(mode(folder), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // A folder others can read is closed to them before a secret goes in; no temporary file stays.
    QVERIFY(QFile::setPermissions(folder, kModeBits & ~(QFileDevice::WriteGroup | QFileDevice::WriteOther)));
    QVERIFY(store.write(u"oauth-refresh-token"_s, u"rt-2"_s, nullptr));
    QCOMPARE(mode(folder), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList{u"oauth-refresh-token"_s});
    QCOMPARE(mode(store.path(u"oauth-refresh-token"_s)), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // A file written by hand with a line end, and one that is not a file.
    QFile byHand(store.path(u"by-hand"_s));
    QVERIFY(byHand.open(QIODevice::WriteOnly));
    byHand.write("rt-typed\r\n");
    byHand.close();
    QCOMPARE(store.read(u"by-hand"_s).secret, u"rt-typed"_s);
    QVERIFY(QDir(folder).mkdir(u"a-folder"_s));
    QCOMPARE(store.read(u"a-folder"_s).status, SecretLookup::Status::Failed);
    QString error;
    QVERIFY(!store.write(u"a-folder"_s, u"x"_s, &error));
    QVERIFY2(error.contains(u"is not a file"_s), qPrintable(error));

    // No folder keeps nothing anywhere: not in the working directory, not in the user's folders.
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    FileSecretStore none{QString()};
    const bool written = none.write(u"by-hand"_s, u"x"_s, &error);
    const SecretLookup found = none.read(u"by-hand"_s);
    QVERIFY(QDir::setCurrent(cwd));
    QVERIFY(!written);
    QVERIFY2(error.contains(u"No folder is set"_s), qPrintable(error));
    QCOMPARE(found.status, SecretLookup::Status::Missing);
    QCOMPARE(store.read(u"by-hand"_s).secret, u"rt-typed"_s);
}

void TestSecretStore::fileStoreNeverWritesThroughALink()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(u"elsewhere"_s);
    QFile victim(target);
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("keep me");
    victim.close();
    FileSecretStore store(dir.path());
    QVERIFY(QFile::link(target, store.path(u"oauth-refresh-token"_s)));

    QString error;
    QVERIFY(!store.write(u"oauth-refresh-token"_s, u"rt-3"_s, &error));
    QVERIFY2(error.contains(u"symbolic link"_s), qPrintable(error));
    QCOMPARE(store.read(u"oauth-refresh-token"_s).status, SecretLookup::Status::Failed);
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("keep me"));
    // Removing takes the link away, never the file it points to.
    QVERIFY(store.remove(u"oauth-refresh-token"_s, &error));
    QVERIFY(QFileInfo::exists(target));
    QVERIFY(!QFileInfo(store.path(u"oauth-refresh-token"_s)).isSymLink());
}

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secretstore.moc"
