#include "app/programservices.h"
#include "cli/cliapp.h"
#include "gui/guiapp.h"
#include "platform/process.h"

// With no arguments Quorvale opens its main window; with a command it runs headless. Both run
// over the same services, built here once from the environment.
int main(int argc, char **argv)
{
    // Both front ends come to hold a password or a sign-in token: no core dump may keep it.
    quorvale::platform::preventCoreDumps();
    quorvale::ProgramServices services(quorvale::ProgramEnvironment::read());
    if (argc > 1)
        return quorvale::runCli(argc, argv, services);
    return quorvale::runGui(argc, argv, services);
}
