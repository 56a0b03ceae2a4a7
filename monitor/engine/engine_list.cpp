// The device list's line format, the tree-state text and the `add:` records of another instance.
#include "common/scramble.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/objtree/expr.h"

#include <cstring>

namespace {
constexpr char kTreeAlphabet[] = "@#0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// The next item of the walk over the script-built items (clones are left out with their subtrees): the
// first child, else the next sibling, else the next sibling of the nearest ancestor that has one.
// `climbs` counts the levels climbed. Null at the end of the walk.
const EngineItem* NextSibling(const EngineItem& item, const std::vector<std::unique_ptr<EngineItem>>& top)
{
    const auto& siblings = item.parent ? item.parent->children : top;
    bool after = false;
    for (const auto& s : siblings) {
        if (after && s->rowOffset == 0)
            return s.get();
        if (s.get() == &item)
            after = true;
    }
    return nullptr;
}

const EngineItem* FirstChild(const EngineItem& item)
{
    for (const auto& c : item.children)
        if (c->rowOffset == 0)
            return c.get();
    return nullptr;
}

const EngineItem* Next(const EngineItem& item, const std::vector<std::unique_ptr<EngineItem>>& top, int* climbs)
{
    *climbs = 0;
    if (const EngineItem* child = FirstChild(item))
        return child;
    for (const EngineItem* at = &item; at; at = at->parent) {
        if (const EngineItem* next = NextSibling(*at, top))
            return next;
        ++*climbs;
    }
    return nullptr;
}

const EngineItem* First(const std::vector<std::unique_ptr<EngineItem>>& top)
{
    for (const auto& s : top)
        if (s->rowOffset == 0)
            return s.get();
    return nullptr;
}
} // namespace

bool EngineParseListLine(std::string_view line, EngineListLine* out)
{
    line = TrimLineEnd(line);
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (fields.size() < 4) {
        size_t semi = line.find(';', pos);
        if (semi == std::string_view::npos)
            break;
        fields.push_back(line.substr(pos, semi - pos));
        pos = semi + 1;
    }
    fields.push_back(line.substr(pos));
    if (fields.size() < 3)
        return false;
    *out = EngineListLine {};
    out->type = std::string(fields[0]);
    out->address = std::string(Trim(fields[1]));
    out->community = fields[2] == " " ? std::string() : CfgUnscramble(fields[2]);
    if (fields.size() > 3)
        out->mode = static_cast<uint32_t>(ParseDecimal(fields[3]));
    if (fields.size() > 4)
        out->treeState = std::string(fields[4]);
    return true;
}

std::string EngineFormatListLine(const EngineListLine& line)
{
    return line.type + ";" + line.address + ";" + (line.community.empty() ? " " : CfgScramble(line.community)) + ";"
        + std::to_string(static_cast<int32_t>(line.mode)) + ";" + line.treeState; // "%d"
}

std::string EngineTreeStateEncode(const std::vector<std::unique_ptr<EngineItem>>& items)
{
    std::vector<uint8_t> codes;
    for (const EngineItem* item = First(items); item;) {
        codes.push_back(item->expanded && FirstChild(*item) ? 3 : 2);
        int climbs = 0;
        const EngineItem* next = Next(*item, items, &climbs);
        if (next && next->parent == item)
            codes.push_back(1);
        else if (next)
            codes.insert(codes.end(), static_cast<size_t>(climbs), 0);
        item = next;
    }
    std::string out;
    for (size_t i = 0; i < codes.size(); i += 3) {
        unsigned v = codes[i] << 4;
        if (i + 1 < codes.size())
            v |= codes[i + 1] << 2;
        if (i + 2 < codes.size())
            v |= codes[i + 2];
        out += kTreeAlphabet[v];
    }
    return out;
}

void EngineTreeStateDecode(std::string_view text, const std::vector<std::unique_ptr<EngineItem>>& items)
{
    std::vector<uint8_t> codes;
    for (char c : text) {
        const char* at = std::strchr(kTreeAlphabet, c);
        if (!c || !at)
            break;
        unsigned v = static_cast<unsigned>(at - kTreeAlphabet);
        codes.push_back(static_cast<uint8_t>((v >> 4) & 3));
        codes.push_back(static_cast<uint8_t>((v >> 2) & 3));
        codes.push_back(static_cast<uint8_t>(v & 3));
    }
    size_t n = 0;
    for (const EngineItem* item = First(items); item && n < codes.size();) {
        uint8_t code = codes[n++];
        if (code != 2 && code != 3)
            return;
        const_cast<EngineItem*>(item)->expanded = code == 3;
        int climbs = 0;
        const EngineItem* next = Next(*item, items, &climbs);
        if (next && next->parent == item) {
            if (n >= codes.size() || codes[n++] != 1)
                return;
        } else if (next) {
            for (int i = 0; i < climbs; ++i)
                if (n >= codes.size() || codes[n++] != 0)
                    return;
        }
        item = next;
    }
}

std::vector<std::pair<uint32_t, std::string>> EngineParseAddRecords(const uint8_t* data, size_t size)
{
    std::vector<std::pair<uint32_t, std::string>> out;
    size_t pos = 0;
    while (size - pos > 11) {
        uint32_t length = static_cast<uint32_t>(data[pos]) | static_cast<uint32_t>(data[pos + 1]) << 8
            | static_cast<uint32_t>(data[pos + 2]) << 16 | static_cast<uint32_t>(data[pos + 3]) << 24;
        if (length < 12 || length > size - pos)
            break;
        uint32_t address;
        std::memcpy(&address, data + pos + 4, 4); // as it lies in memory: network byte order
        const char* text = reinterpret_cast<const char*>(data + pos + 8);
        size_t textMax = length - 8;
        size_t textLength = strnlen(text, textMax);
        out.emplace_back(address, std::string(text, std::min<size_t>(textLength, 255)));
        pos += length;
    }
    return out;
}

std::string EngineItemLine(EngineItem& item)
{
    EngineDevice& d = *item.device;
    ScriptContext ctx;
    ctx.item = item.object;
    ctx.device = d.object.get();
    ctx.runtime = &d;
    std::string text = ItemText(*item.object, item.state, ctx);
    return StrFormat("%s%s state=%u image=%d flags=%u: %s", item.display ? "display " : "", item.Name().c_str(),
        item.state, item.object->Image(item.state), item.object->Flags(item.state), text.c_str());
}

std::string EngineDeviceLine(EngineDevice& d)
{
    return StrFormat("device %s %s noanswer=%d registered=%d errors=%u connects=%u refused=%d", d.AddressText().c_str(),
        d.object->type.c_str(), d.noAnswer.load() ? 1 : 0, d.registered ? 1 : 0, d.errors, d.connects,
        d.Refused() ? 1 : 0);
}

namespace {
void TreeItemLines(const std::vector<std::unique_ptr<EngineItem>>& items, int level, std::vector<std::string>& out)
{
    for (const auto& item : items) {
        if (!item->shown)
            continue;
        out.push_back(std::string(static_cast<size_t>(level) * 2, ' ') + EngineItemLine(*item));
        TreeItemLines(item->children, level + 1, out);
    }
}
} // namespace

std::vector<std::string> EngineTreeLines(const Engine& engine, bool display)
{
    std::vector<std::string> out;
    for (const auto& d : engine.Devices()) {
        out.push_back(EngineDeviceLine(*d));
        TreeItemLines(d->items, 1, out);
        if (display)
            TreeItemLines(d->display, 1, out);
    }
    return out;
}
