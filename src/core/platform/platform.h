#pragma once

// The few operating-system calls Quorvale makes beyond Qt: private folders, file identity,
// whether a process still exists, and the signals that end a program. A port to another system
// changes this file and its .cpp only.

#include <QString>

namespace quorvale::platform {

/// Creates `path` and every missing folder above it, each readable by its owner only (0700)
/// whatever the umask. Folders that exist are left as they are. False with `error` when a
/// folder cannot be made (or a file is in the way).
bool makePrivateFolder(const QString &path, QString *error = nullptr);

/// True when `a` and `b` name the same file once links are followed (same device and inode).
/// False when either cannot be looked at.
bool isSameFile(const QString &a, const QString &b);

/// True while a process with this id exists (one of another user included).
bool processExists(qint64 pid);

/// From now on SIGINT, SIGTERM and SIGHUP each call `onSignal(context)` (when given) and make
/// terminationSignalFd() readable. `onSignal` runs inside the signal handler: it may only do what
/// is safe there, such as an atomic store. A second signal of the same kind ends the program the
/// usual way. A later call replaces the callback and catches the next signal of each kind again.
void catchTerminationSignals(void (*onSignal)(void *) = nullptr, void *context = nullptr);
/// The read end (non-blocking) of the pipe that every caught termination signal writes one byte
/// to; -1 until catchTerminationSignals was called.
int terminationSignalFd();
/// Reads away what caught signals wrote to terminationSignalFd().
void drainTerminationSignals();

} // namespace quorvale::platform
