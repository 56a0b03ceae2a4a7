// qorvexal-cli describe: loads the description of a device type and firmware version and prints it in
// the stable text form of config/description/cfg_dump.h.
#include "cli/cli.h"
#include "cli/qorvexal/dscopts.h"
#include "config/description/cfg_dump.h"
#include "config/description/cfg_load.h"

#include <cstdio>

namespace {

int RunDescribe(std::vector<std::string>& args)
{
    CliArgs opts(args);
    QvDscOptions dsc;
    if (int rc = QvTakeDscOptions(opts, &dsc))
        return rc;
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (opts.Rest().size() != 2)
        return CliFail("usage: describe " QV_DSC_USAGE " TYPE VERSION", 2);
    const std::string type = opts.Rest()[0];
    const std::string version = opts.Rest()[1];
    CfgDescriptionPtr desc;
    {
        QvDescriptionIndex index;
        if (int rc = index.Start(dsc))
            return rc;
        desc = CfgLoadDescription(type, version, dsc.language.c_str(), dsc.featureMask, dsc.hardwareMask, dsc.easy);
    }
    if (!desc)
        return QvNoDescription(type, version);
    CliPrint(stdout, CfgDumpDescription(*desc));
    return 0;
}

CliRegistrar g_describe { { "describe", "describe " QV_DSC_USAGE " TYPE VERSION", RunDescribe } };
} // namespace
