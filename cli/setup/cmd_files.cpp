// setup-cli files: every file an installation of the whole script copies from beside setup.exe (the
// install section and every product's install section), one a line, so that a distribution can be
// checked against its script.
#include "cli/setup/inf_args.h"
#include "setup/setup_engine.h"

#include <cstdio>

namespace {
constexpr const char* kFilesUsage = "files [--os nt:5.0|nt:4.0|9x:4.10|9x:4.90] INF";

int RunFiles(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> osText = opts.Value("--os");
    InfText inf;
    SetupOs os;
    if (int rc = SetupCliReadInf(opts, osText, kFilesUsage, &inf, &os)) {
        return rc;
    }
    SetupSections sections = SetupChooseSections(inf, os);
    std::vector<std::string> installs;
    if (!sections.install.empty()) {
        installs.push_back(sections.install);
    }
    for (const ProductLine& product : SetupReadProducts(inf, sections.products)) {
        if (!product.installSection.empty()) {
            installs.push_back(product.installSection);
        }
    }
    for (const std::string& file : SetupCopiedFiles(inf, installs)) {
        std::printf("%s\n", file.c_str());
    }
    return 0;
}

CliRegistrar g_files { { "files", kFilesUsage, RunFiles } };
} // namespace
