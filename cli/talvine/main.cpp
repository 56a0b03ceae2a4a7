// talvine-cli: the monitor's SNMP engine on the command line. Each subcommand lives in its own file
// and registers itself with the command table.
#include "cli/cli.h"

int main(int argc, char** argv)
{
    return CliMain("talvine-cli", "query and watch Morvak devices over SNMP", argc, argv);
}
