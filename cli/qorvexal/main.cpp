// qorvexal-cli: the configuration tool on the command line. Each subcommand lives in its own file
// and registers itself with the command table.
#include "cli/cli.h"
#include "cli/qorvexal/globals.h"

int main(int argc, char** argv)
{
    return CliMain("qorvexal-cli", "configure Morvak devices and configuration files", argc, argv, QvTakeGlobalOptions);
}
