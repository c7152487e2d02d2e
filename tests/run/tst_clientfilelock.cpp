// The lock beside a client file: taken when free, refused while another run (of any account or
// computer) holds it, taken over only from a process of this computer that is gone, and never
// in the way of a folder that cannot take it.

#include "run/clientfilelock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace quorvale;

namespace {

/// The id of a process that has ended.
qint64 endedProcess()
{
    QProcess process;
    process.start(u"/bin/true"_s, {});
    process.waitForFinished();
    return process.processId() > 0 ? process.processId() : 999'999;
}

} // namespace

class TestClientFileLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aLockBesideTheListIsTakenOrRefused_data()
    {
        QTest::addColumn<QByteArray>("existing"); // the lock file found there; empty: none
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("holderText"); // part of the holder's description when refused
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        const auto lock = [](qint64 pid, const QByteArray &on) {
            return QByteArray("pid=" + QByteArray::number(pid) + "\nhost=" + on +
                              "\naccount=anna\nstarted=2026-03-01T08:30:00Z\n");
        };
        const int locked = int(ClientFileLock::Outcome::Locked);
        const int held = int(ClientFileLock::Outcome::Held);
        QTest::newRow("free") << QByteArray() << locked << QString();
        QTest::newRow("a live run of this computer")
            << lock(::getppid(), host) << held << u"process %1 of anna on computer %2"_s.arg(::getppid()).arg(
                                                      QString::fromUtf8(host));
        QTest::newRow("this very process") << lock(::getpid(), host) << held << u"of anna"_s;
        QTest::newRow("a run of this computer that is gone") << lock(endedProcess(), host) << locked << QString();
        QTest::newRow("a run of another computer") << lock(endedProcess(), "other-pc") << held
                                                   << u"on computer other-pc, since 2026-03-01"_s;
        QTest::newRow("garbled") << QByteArray("\x01\x02garbage") << held << u"process unknown"_s;
        QTest::newRow("empty") << QByteArray("") << held << u"process unknown"_s;
    }
    void aLockBesideTheListIsTakenOrRefused()
    {
        QFETCH(QByteArray, existing);
        QFETCH(int, outcome);
        QFETCH(QString, holderText);
        QTemporaryDir dir;
        const QString csv = dir.filePath(u"clients.csv"_s);
        const QString lockPath = dir.filePath(u".clients.csv.quorvale-lock"_s);
        QCOMPARE(ClientFileLock::lockPathFor(csv), lockPath);
        const bool hadLock = QTest::currentDataTag() != QByteArray("free");
        if (hadLock) {
            QFile file(lockPath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(existing);
        }
        const mode_t umaskBefore = ::umask(0);
        {
            ClientFileLock lock(csv);
            const ClientFileLock::Outcome got = lock.tryLock();
            ::umask(umaskBefore);
            QCOMPARE(int(got), outcome);
            if (got == ClientFileLock::Outcome::Locked) {
                // Who holds it, for the other accounts to read; no more than that.
                struct stat info = {};
                QCOMPARE(::stat(QFile::encodeName(lockPath).constData(), &info), 0);
                QCOMPARE(info.st_mode & 07777, mode_t(0644));
                QFile file(lockPath);
                QVERIFY(file.open(QIODevice::ReadOnly));
                const QByteArray content = file.readAll();
                QVERIFY2(content.startsWith(QByteArray("pid=" + QByteArray::number(::getpid()) + "\nhost=")),
                         content.constData());
                QVERIFY(content.contains(QByteArray("account=" + ClientFileLock::accountName().toUtf8())));
                // A second run is kept out while the first holds it.
                ClientFileLock second(csv);
                QCOMPARE(second.tryLock(), ClientFileLock::Outcome::Held);
                QCOMPARE(second.holder().pid, qint64(::getpid()));
            } else {
                QVERIFY2(lockHolderText(lock.holder()).contains(holderText), qPrintable(lockHolderText(lock.holder())));
            }
        }
        // Gone with the run that took it; another's lock stays where it was.
        QCOMPARE(QFile::exists(lockPath), outcome == int(ClientFileLock::Outcome::Held));
        // No leftovers of the writing beside the list.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 outcome == int(ClientFileLock::Outcome::Held) ? 1 : 0);
    }

    void aLinkToTheListMeetsTheSameLock()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(u"shared"_s));
        const QString list = dir.filePath(u"shared/clients.csv"_s);
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(list, dir.filePath(u"mine.csv"_s)));
        ClientFileLock first(list);
        QCOMPARE(first.tryLock(), ClientFileLock::Outcome::Locked);
        ClientFileLock throughLink(dir.filePath(u"mine.csv"_s));
        QCOMPARE(throughLink.tryLock(), ClientFileLock::Outcome::Held);
    }

    void aFolderThatTakesNoLockIsSaidSo()
    {
        // /proc takes no new file, not even from root; a read-only folder does the same to others.
        ClientFileLock lock(u"/proc/clients.csv"_s);
        QCOMPARE(lock.tryLock(), ClientFileLock::Outcome::NotPossible);
        QVERIFY2(lock.problem().contains(u"/proc"_s), qPrintable(lock.problem()));
    }
};

QTEST_GUILESS_MAIN(TestClientFileLock)
#include "tst_clientfilelock.moc"
