// setup-cli files: every file an installation of the whole script copies from beside setup.exe (the
// install section and every product's install section), one a line, so that a distribution can be
// checked against its script.
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "setup/setup_engine.h"

#include <cstdio>

namespace {
constexpr const char* kFilesUsage = "files [--os nt:5.0|nt:4.0|9x:4.10|9x:4.90] INF";

int RunFiles(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> osText = opts.Value("--os");
    if (auto unknown = opts.UnknownOption()) {
        return CliFail(*unknown, 2);
    }
    if (opts.Rest().size() != 1) {
        return CliFail(std::string("usage: ") + kFilesUsage, 2);
    }
    SetupOs os;
    if (osText && !SetupParseOs(*osText, &os)) {
        return CliFail("--os: nt:MAJOR.MINOR or 9x:MAJOR.MINOR expected, not " + *osText, 2);
    }
    const std::string path = opts.Rest()[0];
    std::string text;
    if (!FileReadAll(path, &text)) {
        return CliFail("cannot read " + path, 1);
    }
    InfText inf;
    unsigned line = 0;
    if (!inf.Parse(text, nullptr, &line)) {
        CliPrint(stderr, StrFormat(StrLoad(setup_Strings(), 1003).c_str(), path.c_str(), line) + "\n");
        return 1;
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
