#pragma once

namespace quorvale {

class MainWindow;
class ProgramServices;

/// Runs the desktop program: the main window over `services`, until the user exits.
int runGui(int argc, char **argv, ProgramServices &services);

/// Ends the program as Exit does when the session ends: SIGTERM, SIGHUP or SIGINT (caught
/// through a pipe, read on the UI thread), the session manager's request to save, or the
/// application quitting close `window`, which aborts a run and waits for its worker.
void closeWithTheSession(MainWindow &window);

} // namespace quorvale
