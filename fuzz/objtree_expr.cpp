// Expressions, templates and formats of the object-tree scripts on arbitrary text and values: texts
// stay within 255 characters and nesting (terms that refer to themselves, index templates that read
// their own value) ends in a failure, never in a stack overflow.
//
// Input: up to three cached values (each a kind byte, a length byte and its bytes), then the text
// evaluated as an expression, expanded as a template in item, action and map context, and used as a
// format.
#include "common/diag.h"
#include "monitor/objtree/given_runtime.h"
#include "monitor/objtree/objtree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
const char* const kScript = "device T\n"
                            "  name Box\n"
                            "  childs I\n"
                            "  option checkbox:Beep:1, Beep\n"
                            "item I\n"
                            "  uses 0.1.1, 0.1.2, 0.1.3.$(t)\n"
                            "  term t, $(t) + $(u)\n"
                            "  term u, $1 * $(u)\n"
                            "  term v, $(w) + $(w)\n"
                            "  term w, $(x) + $(x)\n"
                            "  term x, $2\n"
                            "  childs C:$(v)\n"
                            "item C\n"
                            "  uses 0.1.$i\n"
                            "map <T> M\n  from 1, \"\", x\n  to one, \"$f$f$f$f\", \"$(f map M)\", default\n";

void CheckText(const SnmpValue& v)
{
    if (v.kind == kSnmpString && v.text.size() > kExprMaxText)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScriptLibrary lib;
    static std::unique_ptr<DeviceObject> device;
    if (!device) {
        DiagSetSink([](const std::string&) {});
        lib.LoadText(kScript, "talvfuzz.dsc", "English");
        device = ScriptInstantiateFrom(lib, "T");
    }
    ScriptGivenRuntime rt;
    size_t at = 0;
    std::vector<SnmpValue> values;
    for (int n = 1; n <= 3 && at + 2 <= size; ++n) {
        uint8_t kind = data[at] % 4;
        size_t length = data[at + 1];
        at += 2;
        if (length > size - at)
            length = size - at;
        std::string bytes(reinterpret_cast<const char*>(data) + at, length);
        at += length;
        SnmpValue v;
        if (kind == 1)
            v = SnmpValue::Integer(bytes.size() >= 4
                    ? static_cast<uint32_t>(static_cast<uint8_t>(bytes[0])) << 24 | static_cast<uint8_t>(bytes[1]) << 16
                        | static_cast<uint8_t>(bytes[2]) << 8 | static_cast<uint8_t>(bytes[3])
                    : static_cast<uint32_t>(bytes.size()));
        else if (kind == 2)
            v = SnmpValue::Address(static_cast<uint32_t>(bytes.size()) * 0x01010101u);
        else if (kind == 3)
            v = SnmpValue::String(bytes);
        rt.values["1." + std::to_string(n)] = v;
        values.push_back(v);
    }
    std::string text(reinterpret_cast<const char*>(data) + at, size - at);

    ScriptContext ctx;
    ctx.device = device.get();
    ctx.item = device->items[0].get();
    ctx.runtime = &rt;
    std::optional<SnmpValue> r = ExprEvaluate(ExprParse(text), ctx);
    if (r)
        CheckText(*r);
    CheckText(TemplateExpand(text, ctx));
    ScriptContext action = ctx;
    action.kind = ScriptContextKind::Action;
    std::vector<SnmpValue> args = ActionArguments(text, ctx);
    for (const SnmpValue& a : args)
        CheckText(a);
    action.args = &args;
    CheckText(TemplateExpand(text, action));
    ScriptContext map = ctx;
    map.kind = ScriptContextKind::Map;
    SnmpValue from = values.empty() ? SnmpValue() : values[0];
    map.from = &from;
    CheckText(TemplateExpand(text, map));
    CheckText(ValueFormat(from, text, ctx));
    CheckText(ValueFormat(from, "map M", ctx));
    for (uint32_t s = 0; s < 3; ++s)
        if (ItemText(*ctx.item, s, ctx).size() > kExprMaxText)
            std::abort();
    if (!device->items[0]->children.empty())
        (void)ItemInstance(*device->items[0]->children[0], ctx);
    return 0;
}
