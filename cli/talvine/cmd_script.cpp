// talvine-cli tree, types, expr, expand and state: the object-tree scripts on the command line. The
// scripts (talv*.dsc) are read from --dir (default the program's directory) in the language --lang
// (default English), which also chooses the string table for durations. Values of the polled objects
// and the device's run-time fields are given as options.
#include "cli/cli.h"
#include "common/diag.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/objtree/given_runtime.h"
#include "monitor/objtree/objtree.h"

#include <cstdio>

namespace {
// The options every script command shares.
struct ScriptOptions {
    std::string dir;
    std::string language = "English";
};

// Loads the scripts and selects the string table whose string 2000 is the language (English when none
// is).
void SelectLanguage(const ScriptOptions& o)
{
    const StrCatalog& catalog = talvine_Strings();
    for (size_t i = 0; i < catalog.count; ++i) {
        StrSetLanguage(catalog.tables[i].lang);
        if (StrEqualNoCase(StrLoad(catalog, 2000), o.language))
            return;
    }
    StrSetLanguage(1033);
}

void LoadScripts(const ScriptOptions& o)
{
    SelectLanguage(o);
    std::string dir = o.dir.empty() ? CliShippedDirectory("talv", ".dsc") : o.dir;
    ScriptLoadAll(dir + "/talv*.dsc", o.language);
}

void TakeScriptOptions(CliArgs& opts, ScriptOptions* o)
{
    o->dir = opts.Value("--dir").value_or("");
    o->language = opts.Value("--lang").value_or("English");
}

// The positional words after the options ("--" ends them and is dropped).
std::vector<std::string> Positional(CliArgs& opts)
{
    std::vector<std::string> words = opts.Rest();
    for (auto it = words.begin(); it != words.end(); ++it)
        if (*it == "--") {
            words.erase(it);
            break;
        }
    return words;
}

std::string FlagWords(uint32_t flags)
{
    static const char* const kWords[] = { "hide", "clone", "flash", "error", "connect" };
    std::string out;
    for (int i = 0; i < 5; ++i)
        if (flags & (1u << i)) {
            if (!out.empty())
                out += ' ';
            out += kWords[i];
        }
    return out;
}

// " TEXT", or nothing for an empty text (no blank at the end of a line).
std::string Spaced(const std::string& text)
{
    return text.empty() ? text : " " + text;
}

std::string Entries(const ActionList& list)
{
    std::string out;
    for (const ActionObject& a : list) {
        out += ' ';
        out += a.entry;
    }
    return out;
}

void PrintItem(const ItemObject& item, int level)
{
    std::string pad(static_cast<size_t>(level) * 2, ' ');
    std::string in = pad + "  ";
    std::printf("%sitem %s\n", pad.c_str(), item.ref.c_str());
    for (const ItemUse& u : item.uses) {
        std::printf("%suses %s", in.c_str(), u.valid ? u.oidText.c_str() : "-");
        if (!u.indexTemplate.empty())
            std::printf(" index %s", u.indexTemplate.c_str());
        std::printf("\n");
    }
    for (size_t i = 0; i < item.stateTexts.size(); ++i)
        std::printf("%sstate %u %s\n", in.c_str(), static_cast<unsigned>(i + 1), CliText(item.stateTexts[i]).c_str());
    for (size_t i = 0; i < item.texts.size(); ++i)
        std::printf("%stext %u%s\n", in.c_str(), static_cast<unsigned>(i),
            Spaced(item.TextTemplate(static_cast<uint32_t>(i))).c_str());
    for (size_t i = 0; i < item.images.size(); ++i)
        std::printf("%simage %u %d\n", in.c_str(), static_cast<unsigned>(i), item.images[i]);
    for (size_t i = 0; i < item.flags.size(); ++i)
        std::printf("%sflags %u%s\n", in.c_str(), static_cast<unsigned>(i), Spaced(FlagWords(item.flags[i])).c_str());
    for (size_t i = 0; i < item.refresh.size(); ++i)
        std::printf("%srefresh %u%s\n", in.c_str(), static_cast<unsigned>(i), Spaced(item.refresh[i].words).c_str());
    for (size_t i = 0; i < item.actions.size(); ++i)
        for (const ActionObject& a : item.actions[i])
            std::printf(
                "%saction %u %s %s\n", in.c_str(), static_cast<unsigned>(i), a.entry.c_str(), ActionKindText(a.kind));
    for (const ItemTerm& t : item.terms)
        std::printf("%sterm %s %s\n", in.c_str(), t.name.c_str(), CliText(t.text).c_str());
    for (const auto& child : item.children)
        PrintItem(*child, level + 1);
}

int RunTree(std::vector<std::string>& args)
{
    CliArgs opts(args);
    ScriptOptions o;
    TakeScriptOptions(opts, &o);
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string> words = Positional(opts);
    if (words.size() != 1)
        return CliFail("usage: tree [--dir DIR] [--lang NAME] TYPE", 2);
    LoadScripts(o);
    std::unique_ptr<DeviceObject> d = ScriptInstantiate(words[0]);
    if (!d)
        return CliFail("unknown device type '" + words[0] + "'");
    std::printf("device %s\n", d->type.c_str());
    const ScriptDef* def = ScriptGlobal().FindDevice(d->type, nullptr);
    if (def->Get(kKwName))
        std::printf("name %s\n", CliText(d->name).c_str());
    if (def->Get(kKwVendor))
        std::printf("vendor %s\n", d->vendor.c_str());
    if (!d->roots.empty()) {
        std::printf("root");
        for (const std::string& r : d->roots)
            std::printf(" %s", r.c_str());
        std::printf("\n");
    }
    if (const ScriptValues* v = def->Get(kKwDetect); v && v->size() >= 2)
        std::printf("detect %s %s\n", d->detectOid.c_str(), d->detectValue.c_str());
    if (def->Get(kKwRegister))
        std::printf("register %u%s\n", d->registerInterval, Entries(d->registerActions).c_str());
    for (const OptionObject& opt : d->options) {
        std::printf("option %s %s %u", opt.kindText.c_str(), opt.name.c_str(), opt.defaultValue);
        for (const std::string& v : opt.values)
            std::printf("\t%s", CliText(v).c_str());
        std::printf("\n");
    }
    for (const MapObject& m : d->maps)
        std::printf("map %s\n", m.name.c_str());
    for (const PluginObject& p : d->plugins) {
        std::printf("plugin %s", p.name.c_str());
        for (const ItemUse& u : p.uses)
            std::printf(" %s", u.valid ? u.oidText.c_str() : "-");
        std::printf("\n");
    }
    for (const auto& item : d->display)
        std::printf("display %s\n", item->ref.c_str());
    for (const auto& item : d->items)
        PrintItem(*item, 0);
    return 0;
}

int RunTypes(std::vector<std::string>& args)
{
    CliArgs opts(args);
    ScriptOptions o;
    TakeScriptOptions(opts, &o);
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (!Positional(opts).empty())
        return CliFail("usage: types [--dir DIR] [--lang NAME]", 2);
    LoadScripts(o);
    ScriptLibrary::DetectEntry e;
    for (size_t n = 0; ScriptGlobal().Detect(n, &e); ++n)
        std::printf("%s\t%s\t%s\n", e.device->name.c_str(), e.oidText.c_str(), e.value.c_str());
    return 0;
}

const ItemObject* FindItem(const std::vector<std::unique_ptr<ItemObject>>& items, const std::string& ref)
{
    for (const auto& item : items) {
        if (item->ref == ref)
            return item.get();
        if (const ItemObject* found = FindItem(item->children, ref))
            return found;
    }
    return nullptr;
}

// Everything an evaluation on the command line needs: device, item, runtime, context.
struct Evaluation {
    std::unique_ptr<DeviceObject> device;
    std::unique_ptr<ItemObject> bare; // the item when none is named
    const ItemObject* item = nullptr;
    ScriptGivenRuntime runtime;
    ScriptContext ctx;
    std::optional<std::string> args; // --args: the action context
};

// Prints the usage error and answers false (exit code 2).
bool Refuse(const std::string& message)
{
    CliFail(message, 2);
    return false;
}

// A given value of the command line: OID number N of the item and its value.
struct GivenValue {
    size_t n;
    SnmpValue value;
};

// "N=KIND:VALUE" with KIND i (integer), a (address) or s (string); false with the error printed.
bool ParseGivenValue(const std::string& v, GivenValue* out)
{
    size_t eq = v.find('=');
    auto n = eq == std::string::npos ? std::nullopt : ParseUnsignedStrict(std::string_view(v).substr(0, eq));
    if (!n || *n == 0 || *n > 1000 || v.size() < eq + 3 || v[eq + 2] != ':')
        return Refuse("invalid value '" + v + "' (N=KIND:VALUE expected, KIND i, a or s)");
    std::string text = v.substr(eq + 3);
    switch (v[eq + 1]) {
    case 'i': {
        bool negative = !text.empty() && text[0] == '-';
        auto number = ParseUnsignedStrict(negative ? std::string_view(text).substr(1) : std::string_view(text));
        if (!number)
            return Refuse("invalid integer '" + text + "'");
        out->value = SnmpValue::Integer(negative ? 0u - *number : *number);
        break;
    }
    case 'a': {
        auto ip = NetParseAddress(text);
        if (!ip)
            return Refuse("invalid address '" + text + "'");
        out->value = SnmpValue::Address(SnmpAddressFromHost(*ip));
        break;
    }
    case 's':
        out->value = SnmpValue::String(text);
        break;
    default:
        return Refuse("invalid value '" + v + "' (KIND i, a or s)");
    }
    out->n = *n;
    return true;
}

// The runtime's address, details mask and options ("NAME=N"); false with the error printed.
bool ReadRuntimeOptions(const std::optional<std::string>& address, const std::optional<std::string>& details,
    const std::vector<std::string>& options, ScriptGivenRuntime* runtime)
{
    if (address) {
        auto ip = NetParseAddress(*address);
        if (!ip)
            return Refuse("invalid address '" + *address + "'");
        runtime->address = SnmpAddressFromHost(*ip);
    }
    if (details) {
        auto mask = ParseUnsignedStrict(*details);
        if (!mask)
            return Refuse("invalid details mask '" + *details + "'");
        runtime->details = *mask;
    }
    for (const std::string& opt : options) {
        size_t eq = opt.find('=');
        auto n = eq == std::string::npos ? std::nullopt : ParseUnsignedStrict(std::string_view(opt).substr(eq + 1));
        if (!n || eq == 0)
            return Refuse("invalid option value '" + opt + "' (NAME=N expected)");
        runtime->options[StrLower(opt.substr(0, eq))] = *n;
    }
    return true;
}

// A bare item whose OIDs 1.0.N hold the given values.
std::unique_ptr<ItemObject> BareItem(DeviceObject* device, const std::vector<GivenValue>& given)
{
    auto bare = std::make_unique<ItemObject>();
    bare->device = device;
    size_t count = 0;
    for (const GivenValue& g : given)
        count = std::max(count, g.n);
    for (size_t n = 1; n <= count; ++n) {
        ItemUse use;
        use.oidText = StrFormat("1.0.%u", static_cast<unsigned>(n));
        use.valid = SnmpOidFromText(use.oidText.c_str(), &use.oid);
        bare->uses.push_back(use);
    }
    return bare;
}

// The given values into the runtime under the item's polled OIDs: values of OIDs without an index
// template first, since an index template may read them. -1, else the exit code.
int StoreGivenValues(Evaluation* ev, const std::vector<GivenValue>& given)
{
    for (int pass = 0; pass < 2; ++pass)
        for (const GivenValue& g : given) {
            if (g.n > ev->item->uses.size())
                return CliFail(StrFormat("the item has no OID %u", static_cast<unsigned>(g.n)), 2);
            const ItemUse& use = ev->item->uses[g.n - 1];
            if (use.indexTemplate.empty() != (pass == 0))
                continue;
            SnmpOid oid;
            if (ItemPolledOid(*ev->item, g.n, ev->ctx, &oid))
                ev->runtime.values[SnmpOidText(oid)] = g.value;
        }
    return -1;
}

// Parses the context options; returns -1 when all is well, else the exit code.
int ParseContext(CliArgs& opts, Evaluation* ev, bool withArgs)
{
    ScriptOptions o;
    TakeScriptOptions(opts, &o);
    std::optional<std::string> type = opts.Value("--type");
    std::optional<std::string> itemRef = opts.Value("--item");
    std::vector<std::string> values = opts.Values("-v");
    std::optional<std::string> address = opts.Value("--address");
    std::optional<std::string> community = opts.Value("--community");
    std::vector<std::string> options = opts.Values("--option");
    std::optional<std::string> details = opts.Value("--details");
    bool error = opts.Flag("--error");
    bool refused = opts.Flag("--refused");
    if (withArgs)
        ev->args = opts.Value("--args");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (itemRef && !type)
        return CliFail("--item needs --type", 2);

    std::vector<GivenValue> given;
    for (const std::string& v : values) {
        GivenValue g {};
        if (!ParseGivenValue(v, &g))
            return 2;
        given.push_back(g);
    }
    ev->runtime.community = community.value_or("");
    // --error: the device did not answer; --refused: it answers, but refused its registration.
    ev->runtime.error = error || refused;
    ev->runtime.noAnswer = error;
    ev->runtime.refused = refused;
    if (!ReadRuntimeOptions(address, details, options, &ev->runtime))
        return 2;

    SelectLanguage(o);
    if (type) {
        LoadScripts(o);
        ev->device = ScriptInstantiate(*type);
        if (!ev->device)
            return CliFail("unknown device type '" + *type + "'");
    }
    if (itemRef) {
        ev->item = FindItem(ev->device->items, *itemRef);
        if (!ev->item)
            ev->item = FindItem(ev->device->display, *itemRef);
        if (!ev->item)
            return CliFail("device type '" + ev->device->type + "' has no item '" + *itemRef + "'");
    } else {
        ev->bare = BareItem(ev->device.get(), given);
        ev->item = ev->bare.get();
    }
    ev->ctx.item = ev->item;
    ev->ctx.device = ev->device.get();
    ev->ctx.runtime = &ev->runtime;
    return StoreGivenValues(ev, given);
}

int PrintValue(const SnmpValue& v)
{
    switch (v.kind) {
    case kSnmpInteger:
        std::printf("integer: %u\n", v.integer);
        break;
    case kSnmpIpAddress:
        std::printf("address: %s\n", SnmpAddressText(v.address).c_str());
        break;
    case kSnmpString:
        std::printf("string: %s\n", CliText(v.text).c_str());
        break;
    default:
        std::printf("none\n");
        break;
    }
    return 0;
}

int RunExpr(std::vector<std::string>& args)
{
    CliArgs opts(args);
    Evaluation ev;
    if (int code = ParseContext(opts, &ev, false); code >= 0)
        return code;
    std::vector<std::string> words = Positional(opts);
    if (words.size() != 1)
        return CliFail("usage: expr [CONTEXT] EXPRESSION", 2);
    std::optional<SnmpValue> v = ExprEvaluate(ExprParse(words[0]), ev.ctx);
    if (!v) {
        std::printf("failed\n");
        return 1;
    }
    return PrintValue(*v);
}

int RunExpand(std::vector<std::string>& args)
{
    CliArgs opts(args);
    Evaluation ev;
    if (int code = ParseContext(opts, &ev, true); code >= 0)
        return code;
    std::vector<std::string> words = Positional(opts);
    if (words.size() != 1)
        return CliFail("usage: expand [CONTEXT] [--args TEXT] TEMPLATE", 2);
    std::vector<SnmpValue> actionArgs;
    ScriptContext ctx = ev.ctx;
    if (ev.args) {
        actionArgs = ActionArguments(*ev.args, ev.ctx);
        ctx.kind = ScriptContextKind::Action;
        ctx.args = &actionArgs;
    }
    // An expansion the cycle guard stopped has no value: it fails as an expression does.
    bool aborted = false;
    SnmpValue v = TemplateExpand(words[0], ctx, &aborted);
    if (aborted) {
        std::printf("failed\n");
        return 1;
    }
    return PrintValue(v);
}

int RunState(std::vector<std::string>& args)
{
    CliArgs opts(args);
    Evaluation ev;
    if (int code = ParseContext(opts, &ev, false); code >= 0)
        return code;
    if (!Positional(opts).empty() || !ev.device || ev.bare)
        return CliFail("usage: state --type TYPE --item REF [CONTEXT]", 2);
    uint32_t state = ItemState(*ev.item, ev.ctx);
    std::printf("state %u\n", state);
    std::printf("text: %s\n", CliText(ItemText(*ev.item, state, ev.ctx)).c_str());
    std::printf("flags: %s\n", FlagWords(ev.item->Flags(state)).c_str());
    return 0;
}

const CliRegistrar kTree { { "tree", "tree [--dir DIR] [--lang NAME] TYPE   the objects a device type's script builds",
    RunTree } };
const CliRegistrar kTypes { { "types", "types [--dir DIR] [--lang NAME]   every detect entry: TYPE, OID, VALUE",
    RunTypes } };
const CliRegistrar kExpr { { "expr",
    "expr [CONTEXT] EXPRESSION   evaluate a script expression (CONTEXT: --dir DIR --lang NAME --type TYPE --item "
    "REF -v N=i|a|s:VALUE --address A --community C --option NAME=N --details MASK --error|--refused)",
    RunExpr } };
const CliRegistrar kExpand { { "expand", "expand [CONTEXT] [--args TEXT] TEMPLATE   expand a script template",
    RunExpand } };
const CliRegistrar kState { { "state",
    "state --type TYPE --item REF [CONTEXT]   an item's state, text and flags for the given values", RunState } };
} // namespace
