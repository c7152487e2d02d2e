#include "run/clientfilelock.h"

#include "platform/files.h"
#include "platform/process.h"
#include "run/prompter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

using namespace Qt::StringLiterals;

namespace quorvale {

namespace {

/// A lock file is a few short lines; anything longer is not one of ours.
constexpr qint64 kMaxLockBytes = 4096;

QString refusal(const LockHolder &holder)
{
    return u"Another run is in progress (%1). Start this one when it has finished."_s.arg(lockHolderText(holder));
}

} // namespace

QByteArray lockFileContent(const LockHolder &holder)
{
    // One value a line: a line break inside a value would start another.
    const auto line = [](const QString &value) { return value.toUtf8().replace('\n', ' ').replace('\r', ' '); };
    return "pid=" + QByteArray::number(holder.pid) + "\nhost=" + line(holder.host) + "\naccount=" +
           line(holder.account) + "\nstarted=" + holder.started.toUTC().toString(Qt::ISODate).toUtf8() + '\n';
}

std::optional<LockHolder> parseLockFile(const QByteArray &content)
{
    LockHolder holder;
    bool pidSeen = false;
    for (const QByteArray &line : content.left(kMaxLockBytes).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QString value = QString::fromUtf8(line.mid(eq + 1)).trimmed();
        if (key == "pid") {
            holder.pid = value.toLongLong(&pidSeen);
        } else if (key == "host") {
            holder.host = value;
        } else if (key == "account") {
            holder.account = value;
        } else if (key == "started") {
            const QDateTime started = QDateTime::fromString(value, Qt::ISODate);
            if (started.isValid())
                holder.started = started;
        }
    }
    if (!pidSeen || holder.pid <= 0 || holder.host.isEmpty())
        return std::nullopt;
    return holder;
}

QString lockHolderText(const LockHolder &holder)
{
    QStringList parts;
    parts.append(holder.pid > 0 ? u"process %1"_s.arg(holder.pid) : u"process unknown"_s);
    if (!holder.account.isEmpty())
        parts.last() += u" of "_s + holder.account;
    if (!holder.host.isEmpty())
        parts.last() += u" on computer "_s + holder.host;
    if (holder.started.isValid())
        parts.append(u"since "_s + holder.started.toLocalTime().toString(u"yyyy-MM-dd hh:mm"_s));
    return parts.join(u", "_s);
}

ClientFileLock::ClientFileLock(const QString &clientFile) : m_path(lockPathFor(clientFile)) {}

ClientFileLock::~ClientFileLock()
{
    if (m_written.isEmpty())
        return;
    // Removed only while it still says this run holds it.
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly) && file.read(kMaxLockBytes) == m_written) {
        file.close();
        QFile::remove(m_path);
    }
}

QString ClientFileLock::lockPathFor(const QString &clientFile)
{
    // Beside the list itself, so that runs reaching it through different links meet at one lock.
    const QString real = QFileInfo(clientFile).canonicalFilePath();
    const QFileInfo info(real.isEmpty() ? clientFile : real);
    return QDir(info.absolutePath()).filePath(u'.' + info.fileName() + u".quorvale-lock"_s);
}

QString ClientFileLock::accountName()
{
    return platform::accountName();
}

LockHolder ClientFileLock::thisProcess()
{
    return {QCoreApplication::applicationPid(), QSysInfo::machineHostName(), accountName(),
            QDateTime::currentDateTimeUtc()};
}

bool ClientFileLock::readHolder(LockHolder *holder, QByteArray *content) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.read(kMaxLockBytes);
    const std::optional<LockHolder> parsed = parseLockFile(*content);
    if (!parsed)
        return false;
    *holder = *parsed;
    // A lock written without its time is as old as the file.
    if (!holder->started.isValid())
        holder->started = QFileInfo(m_path).lastModified();
    return true;
}

ClientFileLock::Outcome ClientFileLock::tryLock()
{
    m_problem.clear();
    const LockHolder me = thisProcess();
    const QByteArray content = lockFileContent(me);
    // A few rounds: a stale lock removed here may be taken by another run in between.
    for (int round = 0; round < 3; ++round) {
        QString error;
        bool exists = false;
        // Readable by the other accounts that use the list, so that they can see who holds it.
        if (platform::createFileWhole(m_path, content,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther,
                                      &error, &exists)) {
            m_written = content;
            m_holder = me;
            return Outcome::Locked;
        }
        if (!exists) {
            m_problem = u"No lock file can be made beside the client file, in %1 (%2)"_s.arg(
                QDir::toNativeSeparators(QFileInfo(m_path).absolutePath()), error);
            return Outcome::NotPossible;
        }
        LockHolder holder;
        QByteArray seen;
        if (!readHolder(&holder, &seen)) {
            if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink())
                continue; // removed meanwhile: try again
            // Garbled or unreadable: who holds it cannot be told, so it is never taken over.
            m_holder = {};
            m_holder.started = QFileInfo(m_path).lastModified();
            return Outcome::Held;
        }
        m_holder = holder;
        // Only a process of this computer can be seen to be gone.
        if (holder.host != me.host || platform::processExists(holder.pid))
            return Outcome::Held;
        LockHolder again;
        QByteArray now;
        if (readHolder(&again, &now) && now == seen)
            QFile::remove(m_path);
    }
    return Outcome::Held;
}

bool lockClientFile(const QString &clientFile, std::unique_ptr<ClientFileLock> &lock, Prompter &prompter)
{
    lock.reset();
    // A list that is not there is refused when it is read, a moment later.
    if (!QFileInfo(clientFile).isFile())
        return true;
    lock = std::make_unique<ClientFileLock>(clientFile);
    switch (lock->tryLock()) {
    case ClientFileLock::Outcome::Locked:
        return true;
    case ClientFileLock::Outcome::NotPossible:
        prompter.warn(lock->problem() + u". Runs of other accounts or computers on the same client file are not kept "
                                        "out; this account's own are."_s);
        lock.reset();
        return true;
    case ClientFileLock::Outcome::Held:
        break;
    }
    const LockHolder holder = lock->holder();
    QString text = refusal(holder);
    // A computer that crashed during a run leaves its lock behind, and only a person can tell.
    if (holder.pid <= 0)
        text += u" The lock file %1 cannot be read; if no run is going, delete it."_s.arg(
            QDir::toNativeSeparators(lock->lockPath()));
    else if (holder.host != ClientFileLock::thisProcess().host)
        text += u" If no run is going on that computer, delete %1."_s.arg(QDir::toNativeSeparators(lock->lockPath()));
    prompter.warn(text);
    lock.reset();
    return false;
}

QString runLockRefusal(const QLockFile &lock)
{
    LockHolder holder;
    QString application;
    lock.getLockInfo(&holder.pid, &holder.host, &application);
    const QFileInfo file(lock.fileName());
    holder.account = file.owner();
    holder.started = file.lastModified();
    return refusal(holder);
}

} // namespace quorvale
