#include "config/wizard/wiz_actions.h"

#include "common/diag.h"
#include "common/locale.h"
#include "common/platform/net.h"
#include "common/platform/netif.h"
#include "common/text.h"
#include "config/store/cfg_store.h"
#include "config/wizard/wiz_script.h"
#include "device/deviceentry.h"

#include <mutex>

namespace {

std::mutex g_hostLock;
std::function<std::vector<uint32_t>()> g_hostAddresses;

std::vector<uint32_t> HostAddresses()
{
    std::function<std::vector<uint32_t>()> source;
    {
        std::lock_guard<std::mutex> lock(g_hostLock);
        source = g_hostAddresses;
    }
    return source ? source() : NetHostAddresses();
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

uint32_t FeatureMask(const DeviceEntry& e)
{
    return (e.flags & DevFlagFeatureWord) ? e.feature_word : 0xFFFFFFFFu;
}

std::string DeviceVariable(std::string_view name, const DeviceEntry* e)
{
    if (!e)
        return "";
    if (StrEqualNoCase(name, "type"))
        return e->device_type.str();
    if (StrEqualNoCase(name, "ipaddr"))
        return NetAddressText(e->address);
    // Bits 0x0040 and 0x0080 are read as the scripts know them, whatever DeviceFlags calls them.
    if (StrEqualNoCase(name, "flags.empty_cfg"))
        return (e->flags & 0x0001u) ? "1" : "0";
    if (StrEqualNoCase(name, "flags.auto_dhcp"))
        return (e->flags & 0x0040u) ? "1" : "0";
    if (StrEqualNoCase(name, "flags.dhcp_addr"))
        return (e->flags & 0x0080u) ? "1" : "0";
    if (StrStartsWithNoCase(name, "feature.")) {
        // A signed number with base prefixes: "-1" has every bit.
        std::string_view number = TrimLeft(name.substr(8));
        bool negative = !number.empty() && number[0] == '-';
        if (!number.empty() && (number[0] == '-' || number[0] == '+'))
            number.remove_prefix(1);
        uint32_t bits = ParseUnsigned(number);
        if (negative)
            bits = 0u - bits;
        return (bits & FeatureMask(*e)) ? "1" : "0";
    }
    return "";
}

std::vector<std::string> HostVariable(std::string_view name)
{
    if (StrEqualNoCase(name, "ipaddr")) {
        // The list holds at most 256 bytes (each text with its NUL, and the closing empty text).
        std::vector<std::string> out;
        size_t used = 1;
        for (uint32_t ip : HostAddresses()) {
            std::string text = NetAddressText(ip);
            if (used + text.size() + 1 > 256)
                break;
            used += text.size() + 1;
            out.push_back(std::move(text));
        }
        if (out.empty())
            out.emplace_back();
        return out;
    }
    const LocaleFormat& locale = CurrentLocale();
    if (StrEqualNoCase(name, "language.name"))
        return { locale.LanguageName() };
    if (StrEqualNoCase(name, "country.name"))
        return { locale.CountryName() };
    if (StrEqualNoCase(name, "country.code"))
        return { StrFormat("%d", locale.CountryCode()) };
    return { "" };
}

// "(" and the first 20 characters of the item's description, then ")" or "...)" when it is longer.
std::string Excerpt(const CfgItem& item)
{
    if (!item.description || item.description->Empty())
        return "";
    std::string_view d = item.description->At(0);
    if (d.size() > 20)
        return "(" + std::string(d.substr(0, 20)) + "...)";
    return "(" + std::string(d) + ")";
}

const char* Text(const std::string& s)
{
    return s.c_str();
}

std::optional<std::string_view> Arg(const WizAction& a, size_t n)
{
    if (n >= a.args.Count())
        return std::nullopt;
    return a.args.At(n);
}

// The place an action changes: a plain item's value, or a cell; nullptr when the target form gives
// none (a row or column that does not exist, a row part on an item that is not a table).
std::optional<std::string>* ValueSlot(const CfgResolved& r)
{
    CfgItem& item = *r.item;
    if (!r.row)
        return item.IsTable() ? nullptr : &item.value;
    if (!item.IsTable())
        return nullptr;
    CfgRow* row = CfgRowByKey(item, *r.row, false);
    int column = CfgColumnIndex(item, *r.column);
    if (!row || column < 0)
        return nullptr;
    return &row->cells[static_cast<size_t>(column)];
}

bool WholeTable(const CfgResolved& r)
{
    return r.item->IsTable() && !r.row;
}

class ActionRunner {
public:
    ActionRunner(WizScript& wiz, CfgDescription* config, const DeviceEntry* entry, WizMode mode)
        : wiz_(wiz)
        , config_(config)
        , entry_(entry)
        , mode_(mode)
    {
    }

    void Run(const WizAction& a)
    {
        for (const WizCondition& c : a.conditions) {
            if (WizTestCondition(wiz_, config_, c, entry_)) {
                Diag("doing wiz actions, skiping command %s\n", a.keyword.c_str());
                return;
            }
        }
        const std::string& kw = a.keyword;
        Diag("doing wiz actions, %s\n", kw.c_str());
        size_t minimum = kw == "set" ? 2
            : kw == "setip"          ? 3
            : kw == "del"            ? 1
            : kw == "cat"            ? 2
            : kw == "cut"            ? 2
            : kw == "cpy"            ? 2
                                     : 0;
        if (a.args.Count() < minimum) {
            Diag("  ### warning: not enough parameters for action %s\n", kw.c_str());
            return;
        }
        if (kw == "cpy") {
            Copy(a);
            return;
        }
        if (kw == "enable" || kw == "disable") {
            Enable(a, kw == "enable");
            return;
        }
        CfgResolved r;
        std::string target(a.args.At(0));
        if (!CfgResolveName(&wiz_.pages, mode_ == WizMode::Apply ? config_ : nullptr, target, &r)) {
            Diag("  ### warning: item %s not found or not accessible\n", target.c_str());
            return;
        }
        if (r.row && !r.item->IsTable())
            return; // a row or column part on an item that is not a table does nothing
        if (kw == "set")
            Set(a, r, target);
        else if (kw == "setip")
            SetIp(a, r, target);
        else if (kw == "del")
            Delete(a, r, target);
        else if (kw == "cat")
            Cat(a, r, target);
        else if (kw == "cut")
            Cut(a, r, target);
    }

private:
    WizValue Resolve(const std::optional<std::string_view>& operand)
    {
        return WizResolveOperand(&wiz_.pages, config_, operand, entry_);
    }

    // Values are kept within the working text of 1,024 bytes (a configuration line holds no more): a
    // longer one leaves the target as it was.
    static bool TooLong(const std::string& value)
    {
        if (value.size() < WizWorkText)
            return false;
        Diag("  ### warning: value too long for action set\n");
        return true;
    }

    void Announce(const CfgResolved& r, const std::string& target)
    {
        Diag(r.item->IsTable() ? "  table: %s %s\n" : "  item: %s %s\n", target.c_str(), Excerpt(*r.item).c_str());
    }

    void Set(const WizAction& a, const CfgResolved& r, const std::string& target)
    {
        CfgItem& item = *r.item;
        if (WholeTable(r)) {
            Announce(r, target);
            std::string key = Resolve(Arg(a, 1)).First();
            CfgRow* row = nullptr;
            for (CfgRow& each : item.rows)
                if (each.cells[0] && StrEqualNoCase(*each.cells[0], key)) {
                    row = &each;
                    break;
                }
            size_t count = std::min(item.columns.size(), CfgMaxColumns);
            std::vector<std::optional<std::string>> cells(count);
            for (size_t i = 1; i <= count; ++i) {
                if (std::optional<std::string_view> arg = Arg(a, i)) {
                    cells[i - 1] = Resolve(arg).First();
                    if (TooLong(*cells[i - 1]))
                        return;
                }
            }
            if (!row)
                row = &item.rows.emplace_back();
            std::string shown;
            for (size_t i = 1; i <= count; ++i) {
                row->cells[i - 1] = cells[i - 1];
                if (i > 1)
                    shown += ", ";
                shown += row->cells[i - 1].value_or("");
            }
            Diag("  add/update entry: %s\n", shown.c_str());
            return;
        }
        std::optional<std::string>* slot = ValueSlot(r);
        if (!slot)
            return;
        Announce(r, target);
        std::string value = Resolve(Arg(a, 1)).First();
        if (TooLong(value))
            return;
        *slot = std::move(value);
        Diag("  new value: %s [%s]\n", Text(**slot), std::string(a.args.At(1)).c_str());
    }

    void SetIp(const WizAction& a, const CfgResolved& r, const std::string& target)
    {
        if (WholeTable(r)) {
            Diag("  ### warning: action setip makes no sense for a table\n");
            return;
        }
        std::optional<std::string>* slot = ValueSlot(r);
        if (!slot)
            return;
        Announce(r, target);
        std::string first, second, op;
        if (a.args.Count() == 3) {
            first = Resolve(a.args.At(0)).First();
            second = Resolve(a.args.At(1)).First();
            op = std::string(a.args.At(2));
        } else {
            first = Resolve(a.args.At(1)).First();
            second = Resolve(a.args.At(2)).First();
            op = std::string(a.args.At(3));
        }
        uint32_t x = CfgInetAddr(first).value_or(0xFFFFFFFFu);
        uint32_t y = CfgInetAddr(second).value_or(0xFFFFFFFFu);
        uint32_t result;
        const char* sign;
        if (StrEqualNoCase(op, "and")) {
            result = x & y;
            sign = "&";
        } else if (StrEqualNoCase(op, "or")) {
            result = x | y;
            sign = "|";
        } else if (StrEqualNoCase(op, "xor")) {
            result = x ^ y;
            sign = "^";
        } else {
            Diag("  ### warning: unknown operation code %s for action setip\n", op.c_str());
            return;
        }
        Diag("  operation: %s %s ", NetAddressText(x).c_str(), sign);
        Diag("%s\n", NetAddressText(y).c_str());
        *slot = NetAddressText(result);
        Diag("  new value: %s\n", Text(**slot));
    }

    void Delete(const WizAction& a, const CfgResolved& r, const std::string& target)
    {
        CfgItem& item = *r.item;
        if (WholeTable(r)) {
            Diag("  table: %s %s\n  deleting value\n", target.c_str(), Excerpt(item).c_str());
            std::optional<std::string_view> key = Arg(a, 1);
            if (!key)
                return;
            CfgRow* row = CfgRowByKey(item, Resolve(key).First(), false);
            if (!row)
                return;
            Diag("  deleting entry: %s [%s]\n", row->cells[0].value_or("").c_str(), std::string(*key).c_str());
            for (auto it = item.rows.begin(); it != item.rows.end(); ++it)
                if (&*it == row) {
                    item.rows.erase(it);
                    break;
                }
            return;
        }
        std::optional<std::string>* slot = ValueSlot(r);
        if (!slot)
            return;
        Diag(item.IsTable() ? "  table: %s %s\n  deleting value\n" : "  item: %s %s\n  deleting value\n",
            target.c_str(), Excerpt(item).c_str());
        slot->reset();
    }

    void Cat(const WizAction& a, const CfgResolved& r, const std::string& target)
    {
        if (WholeTable(r)) {
            Diag("  ### warning: action cat makes no sense for a table\n");
            return;
        }
        std::optional<std::string>* slot = ValueSlot(r);
        if (!slot)
            return;
        Announce(r, target);
        std::string old = slot->value_or("");
        std::string added = Resolve(Arg(a, 1)).First();
        Diag("  new value: %s + %s [%s]", old.c_str(), added.c_str(), std::string(a.args.At(1)).c_str());
        if (old.size() + added.size() >= WizWorkText) {
            Diag("\n  ### warning: value too long for action cat\n");
            return;
        }
        *slot = old + added;
        Diag(" -> %s\n", Text(**slot));
    }

    void Cut(const WizAction& a, const CfgResolved& r, const std::string& target)
    {
        if (WholeTable(r)) {
            Diag("  ### warning: action cut makes no sense for a table\n");
            return;
        }
        std::optional<std::string>* slot = ValueSlot(r);
        if (!slot)
            return;
        Announce(r, target);
        std::string old = slot->value_or("");
        if (old.size() >= WizWorkText) {
            Diag("  ### warning: value too long for action cut\n");
            return;
        }
        std::string startText(a.args.At(1));
        std::optional<std::string_view> lengthArg = Arg(a, 2);
        std::string lengthText = lengthArg ? std::string(*lengthArg) : std::string("0");
        int64_t length = static_cast<int64_t>(old.size());
        int64_t start = ParseDecimal(startText);
        if (start > length)
            start = length;
        if (start < 0)
            start = -start > length ? 0 : length + start;
        int64_t rest = length - start;
        int64_t count = ParseDecimal(lengthText);
        if (count == 0 || count > rest)
            count = rest;
        else if (count < 0)
            count = -count > rest ? 0 : rest + count;
        std::string result = old;
        result.erase(static_cast<size_t>(start), static_cast<size_t>(count));
        *slot = result;
        Diag(" -> cut (%s, %s) -> %s\n", startText.c_str(), lengthText.c_str(), result.c_str());
    }

    void Copy(const WizAction& a)
    {
        std::string target(a.args.At(0));
        CfgResolved to;
        if (!CfgResolveName(&wiz_.pages, mode_ == WizMode::Apply ? config_ : nullptr, target, &to) || to.row
            || !to.item->IsTable()) {
            Diag("  ### warning: table %s not found or not accessible\n", target.c_str());
            return;
        }
        Diag("  copy to table: %s %s\n", target.c_str(), Excerpt(*to.item).c_str());
        std::string source(a.args.At(1));
        CfgResolved from;
        if (!CfgResolveName(&wiz_.pages, config_, source, &from) || from.row || !from.item->IsTable()) {
            Diag("  ### warning: table %s not found\n", source.c_str());
            return;
        }
        Diag("  copy from table: %s %s\n", source.c_str(), Excerpt(*from.item).c_str());
        if (from.item == to.item)
            return; // a table copied onto itself keeps its rows
        to.item->rows.clear();
        for (const CfgRow& row : from.item->rows)
            to.item->rows.push_back(row);
    }

    void Enable(const WizAction& a, bool enable)
    {
        std::string target(a.args.At(0));
        CfgResolved r;
        if (!CfgResolveName(&wiz_.pages, nullptr, target, &r) || r.row) {
            Diag("  ### warning: item %s not found or not accessible\n", target.c_str());
            return;
        }
        Diag(enable ? "  enabling item: %s %s\n" : "  disabling item: %s %s\n", target.c_str(),
            Excerpt(*r.item).c_str());
        if (enable)
            r.item->state &= ~CfgItemDisabled;
        else
            r.item->state |= CfgItemDisabled;
    }

    WizScript& wiz_;
    CfgDescription* config_;
    const DeviceEntry* entry_;
    WizMode mode_;
};

bool IsReference(std::string_view text)
{
    return StartsWith(text, "wizard.") || StartsWith(text, "config.");
}

} // namespace

void WizSetHostAddressSource(std::function<std::vector<uint32_t>()> source)
{
    std::lock_guard<std::mutex> lock(g_hostLock);
    g_hostAddresses = std::move(source);
}

WizValue WizResolveOperand(CfgDescription* wizard, CfgDescription* config,
    const std::optional<std::string_view>& operand, const DeviceEntry* entry)
{
    WizValue v;
    if (!operand || *operand == "*") {
        v.texts.emplace_back();
        return v;
    }
    std::string_view text = *operand;
    if (StartsWith(text, "device.")) {
        v.texts.push_back(DeviceVariable(text.substr(7), entry));
        return v;
    }
    if (StartsWith(text, "host.")) {
        v.texts = HostVariable(text.substr(5));
        return v;
    }
    if (IsReference(text) && CfgValueOf(wizard, config, text, &v.texts)) {
        if (v.texts.empty())
            v.texts.emplace_back();
        return v;
    }
    v.texts.assign(1, std::string(text));
    v.own = true;
    return v;
}

void WizRunActions(WizScript& wiz, CfgDescription* config, const std::vector<WizAction>& actions,
    const DeviceEntry* entry, WizMode mode)
{
    ActionRunner runner(wiz, config, entry, mode);
    for (const WizAction& a : actions)
        runner.Run(a);
}

bool WizTestCondition(WizScript& wiz, CfgDescription* config, const WizCondition& c, const DeviceEntry* entry)
{
    Diag("check wiz skip, skip_when\n");
    if (c.operand1.empty() || c.operand2.empty() || c.op.empty())
        return false;
    bool negate = c.op[0] == '!';
    std::string_view op = negate ? std::string_view(c.op).substr(1) : std::string_view(c.op);
    CfgDescription* pages = &wiz.pages;
    bool holds;
    if (op == "exists") {
        Diag("  operator: %s\n  operand1: %s\n", c.op.c_str(), c.operand1.c_str());
        std::vector<std::string> values;
        CfgResolved r;
        holds = IsReference(c.operand1)
            && (CfgValueOf(pages, config, c.operand1, &values)
                || (CfgResolveName(pages, config, c.operand1, &r) && !r.row));
    } else if (op == "empty") {
        std::string first = WizResolveOperand(pages, config, c.operand1, entry).First();
        Diag("  operator: %s\n  operand1: %s: \"%s\"\n", c.op.c_str(), c.operand1.c_str(), first.c_str());
        holds = first.empty();
    } else if (op == "equal") {
        std::string a = WizResolveOperand(pages, config, c.operand1, entry).First();
        std::string b = WizResolveOperand(pages, config, c.operand2, entry).First();
        Diag("  operator: %s\n  operand1: %s: \"%s\"\n  operand2: %s: \"%s\"\n", c.op.c_str(), c.operand1.c_str(),
            a.c_str(), c.operand2.c_str(), b.c_str());
        holds = a == b;
    } else if (op == "contains") {
        WizValue list = WizResolveOperand(pages, config, c.operand1, entry);
        if (list.own)
            list.texts.clear();
        std::string b = WizResolveOperand(pages, config, c.operand2, entry).First();
        std::string shown;
        for (size_t i = 0; i < list.texts.size(); ++i)
            shown += StrFormat(i ? ", \"%s\"" : "\"%s\"", list.texts[i].c_str());
        Diag("  operator: %s\n  operand1: %s: %s\n  operand2: %s: \"%s\"\n", c.op.c_str(), c.operand1.c_str(),
            shown.c_str(), c.operand2.c_str(), b.c_str());
        holds = false;
        for (const std::string& t : list.texts)
            holds = holds || t == b;
    } else {
        Diag("  unknown oparator: %s\n", c.op.c_str());
        return false;
    }
    return negate ? !holds : holds;
}

bool WizAnyConditionHolds(
    WizScript& wiz, CfgDescription* config, const std::vector<WizCondition>& conditions, const DeviceEntry* entry)
{
    for (const WizCondition& c : conditions)
        if (WizTestCondition(wiz, config, c, entry))
            return true;
    return false;
}
