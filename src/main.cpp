#include "cli/cliapp.h"
#include "gui/guiapp.h"

// With no arguments Quorvale opens its main window; with a command it runs headless.
int main(int argc, char **argv)
{
    if (argc > 1)
        return quorvale::runCli(argc, argv);
    return quorvale::runGui(argc, argv);
}
