// ScriptInstantiate: one device type's objects from the definitions of the file that holds its device
// definition. Names are looked up with the type's constraints first (ScriptFile::Find).
#include "common/diag.h"
#include "common/text.h"
#include "monitor/objtree/objtree.h"

namespace {
// A device's items beyond this many are not built: a script whose items each name several children
// again would otherwise grow a tree of 2^100 items within the depth limit.
constexpr size_t kMaxItems = 20000;

struct Builder {
    const ScriptFile& file;
    std::string type;
    DeviceObject* device;
    size_t items = 0;
    bool tooMany = false;

    ItemUse MakeUse(std::string_view entry) const;
    ActionList MakeActions(std::string_view list) const;
    std::unique_ptr<ItemObject> MakeItem(std::string_view ref, ItemObject* parent, int level, bool withChildren);
};

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Calls `visit` with each value of a list as the "*" and "#" rules resolve it (ScriptResolveList without
// copying the texts).
template<typename Visit> void ForEachResolved(const ScriptValues& values, Visit visit)
{
    std::string_view first, prev;
    for (size_t i = 0; i < values.size(); ++i) {
        std::string_view v = values[i];
        std::string_view r = i > 0 && v == "*" ? first : v == "#" ? (i > 0 ? prev : std::string_view()) : v;
        if (i == 0)
            first = r;
        prev = r;
        visit(r);
    }
}

std::vector<std::string> SplitWords(std::string_view text)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        size_t b = i;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        if (i > b)
            words.emplace_back(text.substr(b, i - b));
    }
    return words;
}

std::string JoinValues(const ScriptValues& values)
{
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ',';
        out += values[i];
    }
    return out;
}

SnmpValue MapEntry(std::string_view text)
{
    if (auto n = ParseUnsignedStrict(text); n && !text.empty() && !IsBlank(text.front()) && !IsBlank(text.back()))
        return SnmpValue::Integer(*n);
    SnmpValue v;
    v.kind = kSnmpString;
    v.text = std::string(text);
    return v;
}

// Splits an OID text with an index template at the last "." before the first "$". False when there
// is a "$" but no such ".".
bool SplitIndex(std::string_view* text, std::string* index)
{
    size_t dollar = text->find('$');
    if (dollar == std::string_view::npos)
        return true;
    size_t dot = text->rfind('.', dollar);
    if (dot == std::string_view::npos)
        return false;
    *index = std::string(text->substr(dot + 1));
    *text = text->substr(0, dot);
    return true;
}

ItemUse Builder::MakeUse(std::string_view entry) const
{
    ItemUse use;
    std::string_view text = entry;
    if (!SplitIndex(&text, &use.indexTemplate))
        return use;
    use.oidText = ScriptResolveOid(text, &device->roots);
    use.valid = !use.oidText.empty() && SnmpOidFromText(use.oidText.c_str(), &use.oid);
    if (!use.valid)
        use.oidText.clear();
    return use;
}

ActionKind KindOf(std::string_view keyword)
{
    switch (ScriptFindKeyword(keyword)) {
    case kKwSetevent:
        return ActionKind::SetEvent;
    case kKwSet:
        return ActionKind::SnmpSet;
    case kKwLog:
        return ActionKind::Log;
    case kKwInfotip:
        return ActionKind::Infotip;
    case kKwExecute:
        return ActionKind::Execute;
    case kKwExechidden:
        return ActionKind::ExecHidden;
    case kKwExecplugin:
        return ActionKind::ExecPlugin;
    default:
        return ActionKind::None;
    }
}

// Blank-separated entries EVENT:FUNCTION[:ARGUMENTS]; the arguments run to the first blank outside
// parentheses. Entries whose function is not found are left out.
ActionList Builder::MakeActions(std::string_view list) const
{
    ActionList actions;
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && IsBlank(list[i]))
            ++i;
        if (i >= list.size())
            break;
        size_t b = i;
        int depth = 0;
        while (i < list.size() && (depth > 0 || !IsBlank(list[i]))) {
            if (list[i] == '(')
                ++depth;
            else if (list[i] == ')' && depth > 0)
                --depth;
            ++i;
        }
        std::string_view entry = list.substr(b, i - b);
        ActionObject a;
        a.entry = std::string(entry);
        size_t c1 = entry.find(':');
        std::string_view eventWord = c1 == std::string_view::npos ? std::string_view() : entry.substr(0, c1);
        std::string_view rest = c1 == std::string_view::npos ? entry : entry.substr(c1 + 1);
        size_t c2 = rest.find(':');
        a.function = std::string(rest.substr(0, c2));
        if (c2 != std::string_view::npos)
            a.arguments = std::string(rest.substr(c2 + 1));
        ScriptKeyword ev = ScriptFindKeyword(eventWord);
        if (ev == kKwEnter || ev == kKwLeave || ev == kKwExit || ev == kKwMenu || ev == kKwMenudef || ev == kKwMenuex)
            a.event = ev;
        const ScriptDef* fn = file.Find(kKwFunction, a.function, type);
        if (!fn)
            continue;
        if (const ScriptValues* action = fn->Get(kKwAction); action && !action->empty()) {
            a.kind = KindOf((*action)[0]);
            a.values = action->Strings(1);
            if (a.kind == ActionKind::SnmpSet) {
                std::string_view oid = a.values.empty() ? std::string_view() : std::string_view(a.values[0]);
                if (SplitIndex(&oid, &a.setIndexTemplate))
                    a.setOid = ScriptResolveOid(oid, &device->roots);
                if (a.values.size() > 1)
                    a.setValue = a.values[1];
            }
        }
        if (const ScriptValues* text = fn->Get(kKwText))
            a.text = JoinValues(*text);
        if (const ScriptValues* query = fn->Get(kKwQuery); query && !query->empty()) {
            a.hasQuery = true;
            a.queryFlags = ParseUnsigned((*query)[0]);
            for (size_t q = 1; q < query->size() && q <= 3; ++q)
                a.queryTexts.emplace_back((*query)[q]);
        }
        actions.push_back(std::move(a));
    }
    return actions;
}

uint32_t FlagsOf(std::string_view words)
{
    uint32_t flags = 0;
    for (const std::string& w : SplitWords(words)) {
        switch (ScriptFindKeyword(w)) {
        case kKwHide:
            flags |= kItemHide;
            break;
        case kKwClone:
            flags |= kItemClone;
            break;
        case kKwFlash:
            flags |= kItemFlash;
            break;
        case kKwError:
            flags |= kItemError;
            break;
        case kKwConnect:
            flags |= kItemConnect;
            break;
        default:
            break;
        }
    }
    return flags;
}

ItemRefresh RefreshOf(std::string_view words)
{
    ItemRefresh r;
    r.words = std::string(words);
    for (const std::string& w : SplitWords(words)) {
        if (w.compare(0, 5, "time:") == 0)
            r.interval = ParseUnsigned(std::string_view(w).substr(5));
        else if (w.compare(0, 6, "event:") == 0)
            r.events.push_back(w.substr(6));
    }
    return r;
}

std::unique_ptr<ItemObject> Builder::MakeItem(std::string_view ref, ItemObject* parent, int level, bool withChildren)
{
    if (level > kScriptMaxDepth) {
        Diag("ObjTre: Max tree depth exceeded\n");
        return nullptr;
    }
    std::string_view name = ref;
    if (size_t colon = name.find(':'); colon != std::string_view::npos)
        name = name.substr(0, colon);
    name = Trim(name);
    const ScriptDef* def = file.Find(kKwItem, name, type);
    if (!def)
        return nullptr;
    if (items >= kMaxItems) {
        if (!tooMany)
            Diag("ObjTre: Too many items for device type %s\n", type.c_str());
        tooMany = true;
        return nullptr;
    }
    ++items;
    auto item = std::make_unique<ItemObject>();
    item->ref = std::string(ref);
    item->parent = parent;
    item->device = device;
    item->level = level;
    if (const ScriptValues* uses = def->Get(kKwUses)) {
        item->uses.reserve(uses->size());
        ForEachResolved(*uses, [&](std::string_view u) { item->uses.push_back(MakeUse(u)); });
    }
    if (const ScriptValues* states = def->Get(kKwStates)) {
        item->stateTexts.reserve(states->size());
        item->states.reserve(states->size());
        ForEachResolved(*states, [&](std::string_view s) {
            item->stateTexts.emplace_back(s);
            item->states.push_back(ExprParse(s));
        });
    }
    if (const ScriptValues* text = def->Get(kKwText))
        item->texts = text->Strings();
    if (const ScriptValues* images = def->Get(kKwImage)) {
        item->images.reserve(images->size());
        ForEachResolved(*images, [&](std::string_view s) { item->images.push_back(ParseDecimal(s)); });
    }
    if (const ScriptValues* flags = def->Get(kKwFlags)) {
        item->flagWords.reserve(flags->size());
        item->flags.reserve(flags->size());
        ForEachResolved(*flags, [&](std::string_view s) {
            item->flagWords.emplace_back(s);
            item->flags.push_back(FlagsOf(s));
        });
    }
    if (const ScriptValues* actions = def->Get(kKwAction)) {
        item->actions.reserve(actions->size());
        ForEachResolved(*actions, [&](std::string_view s) { item->actions.push_back(MakeActions(s)); });
    }
    if (const ScriptValues* refresh = def->Get(kKwRefresh)) {
        item->refresh.reserve(refresh->size());
        ForEachResolved(*refresh, [&](std::string_view s) { item->refresh.push_back(RefreshOf(s)); });
    }
    for (const ScriptAttr& a : def->attrs) {
        if (a.keyword != kKwTerm || a.values.size() < 2)
            continue;
        ItemTerm term;
        term.name = a.values[0];
        term.text = a.values[1];
        term.expr = ExprParse(term.text);
        item->terms.push_back(std::move(term));
    }
    if (withChildren)
        if (const ScriptValues* childs = def->Get(kKwChilds)) {
            item->children.reserve(childs->size());
            for (std::string_view c : *childs)
                if (auto child = MakeItem(c, item.get(), level + 1, true))
                    item->children.push_back(std::move(child));
        }
    return item;
}
} // namespace

std::unique_ptr<ItemObject> ItemClone(const ItemObject& item, ItemObject* parent)
{
    auto copy = std::make_unique<ItemObject>();
    copy->ref = item.ref;
    copy->parent = parent;
    copy->device = item.device;
    copy->level = item.level;
    copy->uses = item.uses;
    copy->stateTexts = item.stateTexts;
    copy->states = item.states;
    copy->texts = item.texts;
    copy->images = item.images;
    copy->flags = item.flags;
    copy->flagWords = item.flagWords;
    copy->actions = item.actions;
    copy->refresh = item.refresh;
    copy->terms = item.terms;
    for (const auto& child : item.children)
        copy->children.push_back(ItemClone(*child, copy.get()));
    return copy;
}

const char* ActionKindText(ActionKind kind)
{
    switch (kind) {
    case ActionKind::SetEvent:
        return "setevent";
    case ActionKind::SnmpSet:
        return "set";
    case ActionKind::Log:
        return "log";
    case ActionKind::Infotip:
        return "infotip";
    case ActionKind::Execute:
        return "execute";
    case ActionKind::ExecHidden:
        return "exechidden";
    case ActionKind::ExecPlugin:
        return "execplugin";
    default:
        return "none";
    }
}

std::vector<std::string> ScriptResolveList(const ScriptValues& values)
{
    std::vector<std::string> out;
    out.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        std::string_view v = values[i];
        if (i > 0 && v == "*")
            out.push_back(out[0]);
        else if (v == "#")
            out.push_back(i > 0 ? out[i - 1] : std::string());
        else
            out.emplace_back(v);
    }
    return out;
}

namespace {
template<typename T> const T* PerState(const std::vector<T>& list, uint32_t state)
{
    if (list.empty())
        return nullptr;
    return state < list.size() ? &list[state] : &list[0];
}
} // namespace

int32_t ItemObject::Image(uint32_t state) const
{
    const int32_t* v = PerState(images, state);
    return v ? *v : 0;
}

uint32_t ItemObject::Flags(uint32_t state) const
{
    const uint32_t* v = PerState(flags, state);
    return v ? *v : 0;
}

const ActionList* ItemObject::Actions(uint32_t state) const
{
    return PerState(actions, state);
}

const ItemRefresh* ItemObject::Refresh(uint32_t state) const
{
    return PerState(refresh, state);
}

const std::string& ItemObject::TextTemplate(uint32_t state) const
{
    static const std::string empty;
    if (texts.empty())
        return empty;
    size_t n = state < texts.size() ? state : 0;
    // "#" is the entry before it (itself resolved), "*" entry 0.
    while (n > 0 && texts[n] == "#")
        --n;
    if (n > 0 && texts[n] == "*")
        n = 0;
    if (texts[n] == "#")
        return empty;
    return texts[n];
}

const ItemTerm* ItemObject::FindTerm(std::string_view name) const
{
    for (const ItemTerm& t : terms)
        if (StrEqualNoCase(t.name, name))
            return &t;
    return nullptr;
}

const MapObject* DeviceObject::FindMap(std::string_view name) const
{
    for (const MapObject& m : maps)
        if (StrEqualNoCase(m.name, name))
            return &m;
    return nullptr;
}

const OptionObject* DeviceObject::FindOption(std::string_view name) const
{
    for (const OptionObject& o : options)
        if (StrEqualNoCase(o.name, name))
            return &o;
    return nullptr;
}

std::unique_ptr<DeviceObject> ScriptInstantiateFrom(const ScriptLibrary& library, std::string_view type)
{
    const ScriptFile* file = nullptr;
    const ScriptDef* def = library.FindDevice(type, &file);
    if (!def)
        return nullptr;
    auto device = std::make_unique<DeviceObject>();
    Builder b { *file, def->name, device.get() };
    device->type = def->name;
    if (const ScriptValues* v = def->Get(kKwName); v && !v->empty())
        device->name = (*v)[0];
    if (const ScriptValues* v = def->Get(kKwVendor); v && !v->empty())
        device->vendor = (*v)[0];
    if (const ScriptValues* v = def->Get(kKwRoot))
        device->roots = v->Strings();
    if (const ScriptValues* v = def->Get(kKwDetect); v && v->size() >= 2) {
        device->detectOid = ScriptResolveOid((*v)[0], &device->roots);
        device->detectValue = std::string((*v)[1]);
    }
    if (const ScriptValues* v = def->Get(kKwRegister); v && !v->empty()) {
        device->registerInterval = ParseUnsigned((*v)[0]);
        for (size_t i = 1; i < v->size(); ++i) {
            ActionList more = b.MakeActions((*v)[i]);
            device->registerActions.insert(device->registerActions.end(), more.begin(), more.end());
        }
    }
    if (const ScriptValues* v = def->Get(kKwChilds))
        for (std::string_view c : *v)
            if (auto item = b.MakeItem(c, nullptr, 1, true))
                device->items.push_back(std::move(item));
    if (const ScriptValues* v = def->Get(kKwDisplay))
        for (std::string_view c : *v)
            if (auto item = b.MakeItem(c, nullptr, 1, false))
                device->display.push_back(std::move(item));
    if (const ScriptValues* v = def->Get(kKwPlugins))
        for (std::string_view name : *v) {
            const ScriptDef* p = file->Find(kKwPlugin, Trim(name), device->type);
            if (!p)
                continue;
            PluginObject plugin;
            plugin.name = p->name;
            if (const ScriptValues* uses = p->Get(kKwUses))
                ForEachResolved(*uses, [&](std::string_view u) { plugin.uses.push_back(b.MakeUse(u)); });
            device->plugins.push_back(std::move(plugin));
        }
    for (const ScriptAttr& a : def->attrs) {
        if (a.keyword != kKwOption || a.values.size() < 2)
            continue;
        std::string_view first = a.values[0];
        size_t c1 = first.find(':');
        if (c1 == std::string_view::npos)
            continue;
        OptionObject o;
        o.kindText = std::string(Trim(first.substr(0, c1)));
        o.kind = o.kindText == "checkbox" ? OptionKind::Checkbox
            : o.kindText == "radiogroup"  ? OptionKind::Radiogroup
                                          : OptionKind::None;
        std::string_view rest = first.substr(c1 + 1);
        size_t c2 = rest.find(':');
        o.name = std::string(Trim(rest.substr(0, c2)));
        if (c2 != std::string_view::npos)
            o.defaultValue = ParseUnsigned(rest.substr(c2 + 1));
        o.values = a.values.Strings(1);
        device->options.push_back(std::move(o));
    }
    // The maps that apply: those constrained to this type first, then the unconstrained, each name once.
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& d : file->defs) {
            if (d->kind != kKwMap || (pass == 0 ? !(d->constrained && d->Names(device->type)) : d->constrained))
                continue;
            if (device->FindMap(d->name))
                continue;
            MapObject m;
            m.name = d->name;
            if (const ScriptValues* from = d->Get(kKwFrom))
                for (std::string_view s : *from)
                    m.from.push_back(MapEntry(s));
            if (const ScriptValues* to = d->Get(kKwTo))
                for (std::string_view s : *to)
                    m.to.push_back(MapEntry(s));
            device->maps.push_back(std::move(m));
        }
    return device;
}

std::unique_ptr<DeviceObject> ScriptInstantiate(std::string_view type)
{
    return ScriptInstantiateFrom(ScriptGlobal(), type);
}
