#include "cli/qorvexal/dscopts.h"

#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/description/cfg_index.h"
#include "config/frontend/commands.h"
#include "config/frontend/mainview.h"

#include <cstdlib>
#include <filesystem>

std::string QvProgramDirectory()
{
    return CliShippedDirectory("qorv", ".dsc");
}

int QvTakeDscOptions(CliArgs& opts, QvDscOptions* out)
{
    std::optional<std::string> dir = opts.Value("--dir");
    std::optional<std::string> lang = opts.Value("--lang");
    std::optional<std::string> features = opts.Value("--features");
    std::optional<std::string> hardware = opts.Value("--hardware");
    out->easy = opts.Flag("--easy");
    unsigned long long featureMask = 0xFFFFFFFFull;
    unsigned long long hardwareMask = 0;
    if (!CliNumber(features, 0xFFFFFFFFull, &featureMask, "feature mask")
        || !CliNumber(hardware, 0xFFFFFFFFull, &hardwareMask, "hardware mask"))
        return 2;
    out->featureMask = static_cast<uint32_t>(featureMask);
    out->hardwareMask = static_cast<uint32_t>(hardwareMask);
    out->featuresGiven = features.has_value();
    out->hardwareGiven = hardware.has_value();
    out->dir = dir ? *dir : QvProgramDirectory();
    out->language = lang ? *lang : StrLoad(qorvexal_Strings(), MainStrLanguage);
    return 0;
}

QvDescriptionIndex::~QvDescriptionIndex()
{
    if (started_)
        CfgStopIndex();
}

int QvDescriptionIndex::Start(const QvDscOptions& options)
{
    std::string base = options.dir;
    if (!base.empty() && base.back() != '/' && base.back() != '\\')
        base += '/';
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::path(base), ec))
        return CliFail(StrFormat("no such directory: %s", base.c_str()), 1);
    const StrCatalog& strings = qorvexal_Strings();
    CfgStartIndex(base + StrLoad(strings, 1603), base + StrLoad(strings, 1604));
    started_ = true;
    return 0;
}

int QvNoDescription(const std::string& type, const std::string& version)
{
    std::string text = StrLoad(qorvexal_Strings(), CmdStrNoDescription);
    return CliFail(StrFormat(text.c_str(), type.c_str(), version.c_str()), 1);
}
