// The CD start menu's script reader and its expressions: any bytes read as a menu script for two
// languages and systems; every expression of the script and every line of the input evaluates to
// true, false or an error, and parentheses around or a "!" before a valid expression behave as such.
#include "cdmenu/cd_script.h"

#include "cdmenu/cd_expr.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void CheckExpression(const std::string& e, const CdConditionSet& set)
{
    int r = CdEvalExpression(e, set);
    if (r < -1 || r > 1)
        std::abort();
    if (r < 0 || std::count(e.begin(), e.end(), '(') >= kCdExprMaxDepth - 1)
        return;
    if (CdEvalExpression("(" + e + ")", set) != r || CdEvalExpression("!(" + e + ")", set) != !r)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    IniFile script;
    script.Parse(text);
    CdContext ctx;
    ctx.established.AddList("A B Win9x HaveDriver");
    size_t messages = 0;
    ctx.report = [&](CdMessageKind, const std::string&) { ++messages; };
    for (const char* system : { "WIN98", "WINNT40" }) {
        ctx.env.system = system;
        ctx.env.language = system[3] == 'N' ? "German" : "English";
        ctx.env.languageId = system[3] == 'N' ? 1031 : 1033;
        CdMenu menu = CdReadMenu(script, ctx);
        for (const CdBlock& block : menu.blocks)
            if (block.number < 1)
                std::abort();
    }
    for (const char* section : { "LogicalConditions", "Plugin.Conditions" })
        for (const std::string& key : script.Keys(section))
            CheckExpression(script.GetString(section, key, ""), ctx.established);
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        CheckExpression(text.substr(start, end - start), ctx.established);
        start = end + 1;
    }
    return 0;
}
