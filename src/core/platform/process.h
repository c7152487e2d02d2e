#pragma once

// What a program asks of the system about processes and signals. A port to another system
// changes this file and its .cpp.

#include <QString>
#include <QtGlobal>

namespace quorvale::platform {

/// True while a process with this id exists (one of another user included).
bool processExists(qint64 pid);

/// The name of the account the program runs as ("anna"); the user id as text when it has none.
QString accountName();

/// From now on SIGINT, SIGTERM and SIGHUP each call `onSignal(context)` (when given) and make
/// terminationSignalFd() readable. `onSignal` runs inside the signal handler: it may only do what
/// is safe there, such as an atomic store. Of each kind, `catches` signals are caught; the next
/// one ends the program the usual way. A later call replaces the callback and catches the next
/// signals of each kind again.
void catchTerminationSignals(void (*onSignal)(void *) = nullptr, void *context = nullptr, int catches = 1);
/// The read end (non-blocking) of the pipe that every caught termination signal writes one byte
/// to; -1 until catchTerminationSignals was called.
int terminationSignalFd();
/// Reads away what caught signals wrote to terminationSignalFd().
void drainTerminationSignals();

/// The process leaves no core dump and no other process of the user may read its memory
/// (ptrace), so that a crash or a debugger never spills a password or token it holds. Called
/// once at start-up, before any secret is read.
void preventCoreDumps();

/// A reader of standard output that goes away (`| head`) makes writes fail instead of ending
/// the program.
void ignoreBrokenPipe();

} // namespace quorvale::platform
