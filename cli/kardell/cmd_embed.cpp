// kardell-cli embed: a copy of kardell.exe that carries a menu script as its "INIFILE" resource.
#include "cdmenu/cd_embed.h"
#include "cli/cli.h"

#include <cstdio>

namespace {
int RunEmbed(std::vector<std::string>& args)
{
    CliArgs opts(args);
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (opts.Rest().size() != 3)
        return CliFail("usage: embed KARDELL.EXE SCRIPT OUT.EXE", 2);
    if (!CdCanEmbedScript())
        return CliFail("embed works on Windows only", 2);
    std::string error;
    if (!CdEmbedScript(opts.Rest()[0], opts.Rest()[1], opts.Rest()[2], &error))
        return CliFail(error, 1);
    return 0;
}

CliRegistrar g_embed { { "embed", "embed KARDELL.EXE SCRIPT OUT.EXE", RunEmbed } };
} // namespace
