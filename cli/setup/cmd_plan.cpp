// setup-cli plan: the sections the installer chooses on a given system, its products and the steps of
// an installation or removal in the order it carries them out.
#include "cli/setup/inf_args.h"
#include "common/platform/registry.h"
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
    InfText inf;
    SetupOs os;
    if (int rc = SetupCliReadInf(opts, osText, kPlanUsage, &inf, &os)) {
        return rc;
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
