// The object-tree script reader on arbitrary text, followed by the building of every device type it
// defines: names stay within their buffers, trees within their depth, and the texts of every item for
// a few states within 255 characters.
#include "common/diag.h"
#include "monitor/objtree/objtree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void Check(const ItemObject& item, int level, const ScriptContext& base)
{
    if (level > kScriptMaxDepth || item.level != level)
        std::abort();
    ScriptContext ctx = base;
    ctx.item = &item;
    uint32_t state = ItemState(item, ctx);
    if (state > item.states.size())
        std::abort();
    for (uint32_t s : { 0u, state, 7u })
        if (ItemText(item, s, ctx).size() > kExprMaxText)
            std::abort();
    for (const auto& child : item.children)
        Check(*child, level + 1, base);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = [] {
        DiagSetSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    static const char* const kLanguages[] = { "English", "Deutsch", "Francais" };
    const char* language = kLanguages[size > 0 ? data[0] % 3 : 0];
    ScriptLibrary lib;
    lib.LoadText(std::string_view(reinterpret_cast<const char*>(data), size), "talvfuzz.dsc", language);
    ScriptNullRuntime runtime;
    for (const ScriptDef* def : lib.Files()[0]->devices) {
        if (def->name.size() > kScriptMaxName)
            std::abort();
        auto device = ScriptInstantiateFrom(lib, def->name);
        if (!device)
            std::abort();
        ScriptContext ctx;
        ctx.device = device.get();
        ctx.runtime = &runtime;
        for (const auto& item : device->items)
            Check(*item, 1, ctx);
        for (const auto& item : device->display)
            if (!item->children.empty())
                std::abort();
    }
    return 0;
}
