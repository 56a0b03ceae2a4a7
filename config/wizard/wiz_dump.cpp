#include "config/wizard/wiz_dump.h"

#include "common/text.h"
#include "config/description/cfg_dump.h"

namespace {
void DumpConditions(std::string& out, const std::vector<WizCondition>& conditions, const std::string& indent)
{
    for (const WizCondition& c : conditions)
        out += indent + "skip_when " + CfgDumpQuote(c.operand1) + ", " + CfgDumpQuote(c.operand2) + ", "
            + CfgDumpQuote(c.op) + "\n";
}

void DumpActions(std::string& out, const char* block, const std::vector<WizAction>& actions, const std::string& indent)
{
    out += indent + block + "\n";
    for (const WizAction& a : actions) {
        out += indent + "  " + a.keyword;
        if (!a.args.Empty())
            out += " " + CfgDumpQuoteList(a.args);
        out += "\n";
        DumpConditions(out, a.conditions, indent + "    ");
    }
}
} // namespace

std::string WizDumpScript(const WizScript& wiz)
{
    std::string out = "wizard " + CfgDumpQuote(wiz.name) + ", " + CfgDumpQuote(wiz.title)
        + StrFormat(" default %d\n", wiz.defaultFlag);
    for (const auto& page : wiz.pages.sections) {
        CfgDumpSection(out, *page);
        DumpConditions(out, page->conditions, "  ");
        DumpActions(out, "on_show", page->onShow, "  ");
        DumpActions(out, "on_back", page->onBack, "  ");
        DumpActions(out, "on_next", page->onNext, "  ");
    }
    DumpActions(out, "on_init", wiz.onInit, "");
    DumpActions(out, "on_apply", wiz.onApply, "");
    return out;
}
