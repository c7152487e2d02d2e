#pragma once

namespace quorvale {

/// Runs the desktop program: the main window, until the user exits.
int runGui(int argc, char **argv);

} // namespace quorvale
