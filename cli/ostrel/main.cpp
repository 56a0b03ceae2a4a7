// ostrel-cli: the CAPI task's driver interface on the command line. Each subcommand lives in its own
// file and registers itself with the command table.
#include "cli/cli.h"
#include "common/diag.h"

int main(int argc, char** argv)
{
    DiagToStream(stderr);
    return CliMain("ostrel-cli", "decode status buffers and talk to the remote-CAPI driver", argc, argv);
}
