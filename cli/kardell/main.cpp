// kardell-cli: the CD start menu on the command line. Each subcommand lives in its own file and
// registers itself with the command table.
#include "cli/cli.h"

int main(int argc, char** argv)
{
    return CliMain("kardell-cli", "show what the CD start menu makes of a menu script", argc, argv);
}
