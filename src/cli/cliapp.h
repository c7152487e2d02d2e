#pragma once

namespace quorvale {

/// Runs the command-line front end (`quorvale run|test-email|config ...`); returns the exit status.
int runCli(int argc, char **argv);

} // namespace quorvale
