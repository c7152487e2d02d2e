#pragma once

// A lock file beside the client list, so that one list is mailed by one run at a time whoever runs
// it: another account of this computer, or another computer on a shared folder, each with data
// folders (and run locks) of their own.

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>

class QLockFile;

namespace quorvale {

class Prompter;

/// Who holds a run lock.
struct LockHolder
{
    qint64 pid = 0;
    QString host;
    QString account;
    QDateTime started;
};

/// "process 4711 of anna on computer office-2, since 2026-12-07 09:15": the holder as far as known.
QString lockHolderText(const LockHolder &holder);

/// The content of a lock file that says `holder` holds it.
QByteArray lockFileContent(const LockHolder &holder);
/// Who the lock file content `content` says holds it; empty when it names no process and computer
/// (garbled, cut off, not a lock file). Reads at most the first few kilobytes.
std::optional<LockHolder> parseLockFile(const QByteArray &content);

/// The lock beside one client file: a hidden file ".NAME.quorvale-lock" in the client file's
/// folder that says which process, computer and account run the file and since when (no secret;
/// readable by everyone, 0644). It stays while this object lives and is taken over only when it
/// was left by a process of this computer that is gone; one of another computer is never taken
/// over, as that computer's processes cannot be seen from here.
class ClientFileLock
{
public:
    enum class Outcome
    {
        Locked,     ///< this run holds the lock
        Held,       ///< another run holds it: holder() says who
        NotPossible ///< the folder takes no lock file (read-only, gone): problem() says why
    };

    explicit ClientFileLock(const QString &clientFile);
    /// Removes the lock file when this object holds it.
    ~ClientFileLock();
    ClientFileLock(const ClientFileLock &) = delete;
    ClientFileLock &operator=(const ClientFileLock &) = delete;

    Outcome tryLock();
    LockHolder holder() const { return m_holder; }
    QString problem() const { return m_problem; }
    QString lockPath() const { return m_path; }

    /// The lock file of `clientFile`: beside the file it reaches once links are followed.
    static QString lockPathFor(const QString &clientFile);
    /// This process as a lock holder, started now.
    static LockHolder thisProcess();
    /// The account the program runs as.
    static QString accountName();

private:
    /// Reads the holder of the lock file; false when it holds no lock (unreadable, garbled or gone).
    bool readHolder(LockHolder *holder, QByteArray *content) const;

    QString m_path;
    LockHolder m_holder;
    QString m_problem;
    QByteArray m_written; ///< what this object wrote into the lock file, while it holds it
};

/// Takes the lock beside `clientFile` into `lock` for a run. False, having warned who holds it, when
/// another run holds it. Where no lock file can be made there, warns that only this account's own
/// runs are kept off the list and goes on (true, `lock` empty).
bool lockClientFile(const QString &clientFile, std::unique_ptr<ClientFileLock> &lock, Prompter &prompter);

/// The refusal to start while another run holds `lock`, the run lock of the data folder.
QString runLockRefusal(const QLockFile &lock);

} // namespace quorvale
