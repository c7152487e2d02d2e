#include "cli/cliapp.h"

#include <cstdio>

namespace quorvale {

int runCli(int, char **)
{
    std::fputs("quorvale: the command line is not built yet\n", stderr);
    return 2;
}

} // namespace quorvale
