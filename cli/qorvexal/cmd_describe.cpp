// qorvexal-cli describe: loads the description of a device type and firmware version and prints it in
// the stable text form of config/description/cfg_dump.h.
#include "cli/cli.h"
#include "common/diag.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/description/cfg_dump.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {
// The directory of the running program, where the build puts the shipped description files.
std::string ProgramDirectory()
{
    std::error_code ec;
#ifdef _WIN32
    char* path = nullptr;
    if (_get_pgmptr(&path) == 0 && path && *path)
        return std::filesystem::path(path).parent_path().string();
#else
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        return self.parent_path().string();
#endif
    return ".";
}

int RunDescribe(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> dir = opts.Value("--dir");
    std::optional<std::string> lang = opts.Value("--lang");
    std::optional<std::string> features = opts.Value("--features");
    std::optional<std::string> hardware = opts.Value("--hardware");
    bool easy = opts.Flag("--easy");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    unsigned long long featureMask = 0xFFFFFFFFull;
    unsigned long long hardwareMask = 0;
    if (!CliNumber(features, 0xFFFFFFFFull, &featureMask, "feature mask")
        || !CliNumber(hardware, 0xFFFFFFFFull, &hardwareMask, "hardware mask"))
        return 2;
    if (opts.Rest().size() != 2)
        return CliFail("usage: describe [--dir DIR] [--lang NAME] [--features MASK] [--hardware MASK] [--easy] "
                       "TYPE VERSION",
            2);
    const std::string type = opts.Rest()[0];
    const std::string version = opts.Rest()[1];
    std::string base = dir ? *dir : ProgramDirectory();
    if (!base.empty() && base.back() != '/' && base.back() != '\\')
        base += '/';
    if (!std::filesystem::is_directory(std::filesystem::path(base))) {
        return CliFail(StrFormat("no such directory: %s", base.c_str()), 1);
    }
    const StrCatalog& strings = qorvexal_Strings();
    std::string language = lang ? *lang : StrLoad(strings, 1600);
    CfgStartIndex(base + StrLoad(strings, 1603), base + StrLoad(strings, 1604));
    CfgDescriptionPtr desc = CfgLoadDescription(
        type, version, language.c_str(), static_cast<uint32_t>(featureMask), static_cast<uint32_t>(hardwareMask), easy);
    CfgStopIndex();
    if (!desc) {
        std::string text = StrLoad(strings, 1919);
        return CliFail(StrFormat(text.c_str(), type.c_str(), version.c_str()), 1);
    }
    std::fputs(CfgDumpDescription(*desc).c_str(), stdout);
    return 0;
}

CliRegistrar g_describe { { "describe",
    "describe [--dir DIR] [--lang NAME] [--features MASK] [--hardware MASK] [--easy] TYPE VERSION", RunDescribe } };
} // namespace
