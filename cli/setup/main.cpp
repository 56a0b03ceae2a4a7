// setup-cli: what the installer reads from its INF script and the steps it would carry out. Each
// subcommand lives in its own file and registers itself with the command table.
#include "cli/cli.h"

int main(int argc, char** argv)
{
    return CliMain("setup-cli", "show what the installer reads from an INF script and what it would do", argc, argv);
}
