// setup-cli plan: the sections the installer chooses on a given system, its products and the steps of
// an installation or removal in the order it carries them out.
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/platform/registry.h"
#include "common/strings.h"
#include "common/text.h"
#include "setup/setup_plan.h"

#include <cstdio>

namespace {
constexpr const char* kPlanUsage = "plan [--os nt:5.0|nt:4.0|9x:4.10|9x:4.90] [--remove] [--select KEY,...] INF";

int RunPlan(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> osText = opts.Value("--os");
    bool remove = opts.Flag("--remove");
    std::optional<std::string> select = opts.Value("--select");
    if (auto unknown = opts.UnknownOption()) {
        return CliFail(*unknown, 2);
    }
    if (opts.Rest().size() != 1) {
        return CliFail(std::string("usage: ") + kPlanUsage, 2);
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
    if (!inf.Open(text, nullptr, &line)) {
        CliPrint(stderr, StrFormat(StrLoad(setup_Strings(), 1003).c_str(), path.c_str(), line) + "\n");
        return 1;
    }
    // The plan is made against an empty registry: nothing counts as installed.
    RegUseMemory(true);

    SetupJob job;
    job.inf = &inf;
    job.os = os;
    job.sections = SetupChooseSections(inf, os);
    job.products = SetupReadProducts(inf, job.sections.products);
    auto none = [](const std::string& name) { return name.empty() ? std::string("(none)") : name; };
    std::printf("install section: %s\n", none(job.sections.install).c_str());
    std::printf("remove section: %s\n", none(job.sections.remove).c_str());
    std::printf("products section: %s\n", none(job.sections.products).c_str());
    for (const ProductLine& product : job.products) {
        std::printf("product %s \"%s\"\n", product.key.c_str(), CliText(product.name).c_str());
    }
    std::string command = remove ? "/remove" : "/install";
    if (select) {
        command += ":" + *select;
    }
    SetupCommandLine cmd = SetupParseCommandLine(command);
    job.selected = SetupInitialSelection(job.products, cmd);
    std::vector<std::string> sections = remove ? SetupRemoveSectionList(job) : SetupInstallSectionList(job);
    for (const SetupStep& step : SetupBuildPlan(inf, sections, os.nt)) {
        std::printf("%s\n", SetupStepText(step).c_str());
    }
    return 0;
}

CliRegistrar g_plan { { "plan", kPlanUsage, RunPlan } };
} // namespace
