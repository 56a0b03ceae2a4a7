// Writing the filter: each rule packed into its six cells, with the fixed objects it uses and the
// generated objects that hold what a cell cannot.
#include "common/text.h"
#include "filterplugin/filter.h"
#include "filterplugin/filter_tables.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

const char* const kAnyHostDefinition = "%A0.0.0.0 %M0.0.0.0";

std::string MacDigits(const uint8_t mac[6])
{
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string StationItem(const FilterStation& s)
{
    switch (s.kind) {
    case FilterStationLocal:
        return "%L";
    case FilterStationName:
        return "%H" + s.name;
    case FilterStationMac:
        return "%E" + MacDigits(s.mac);
    case FilterStationRange:
        if (s.first == s.last)
            return "%A" + FilterAddressText(s.first);
        return "%A" + FilterAddressText(s.first) + "-" + FilterAddressText(s.last);
    default:
        return "%A" + FilterAddressText(s.first) + " %M" + FilterAddressText(s.last);
    }
}

size_t JoinedLength(const std::vector<std::string>& items)
{
    size_t n = 0;
    for (const std::string& item : items)
        n += item.size() + 1;
    return n ? n - 1 : 0;
}

std::string Join(const std::vector<std::string>& items, char separator)
{
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty())
            out += separator;
        out += item;
    }
    return out;
}

// Orders the items (shortest first) so that a long item stands right after the short ones it can
// share an object definition with.
void GroupItems(std::vector<std::string>& items)
{
    std::stable_sort(
        items.begin(), items.end(), [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
    size_t pos = 0;
    while (pos < items.size()) {
        std::string longest = std::move(items.back());
        items.pop_back();
        size_t total = longest.size();
        size_t i = pos;
        bool crossed = false;
        for (; i < items.size(); ++i) {
            total += items[i].size() + 1;
            if (total >= 65) {
                crossed = true;
                break;
            }
        }
        if (!crossed || i + 1 >= items.size()) {
            items.push_back(std::move(longest));
            return;
        }
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(i), std::move(longest));
        pos = i + 1;
    }
}

class Writer {
public:
    Writer(const FilterHost& host, const FilterLimits& limits)
        : host_(host)
        , limits_(limits)
    {
        ruleRows_ = FilterCountRows(host, FilterRuleTable);
        objectRows_ = FilterCountRows(host, FilterObjectTable);
    }

    bool Rule(const FilterRule& given)
    {
        FilterRule rule = given;
        FilterNormalize(&rule);
        appended_.clear();
        name_ = rule.name;
        std::string protocol, source, dest;
        bool ok = ProtocolCell(rule.protocols, &protocol)
            && StationCell(rule.source_ports, rule.sources, FilterStationCellMax, &source)
            && StationCell(rule.dest_ports, rule.dests, FilterStationCellMax, &dest)
            && AppendRow(rule, protocol, source, dest);
        if (!ok) {
            // Give back what this rule appended, last first, so that nothing of it stays behind.
            for (auto it = appended_.rbegin(); it != appended_.rend(); ++it)
                if (host_.delTabRow(host_.context, FilterObjectTable, *it))
                    --objectRows_;
        }
        return ok;
    }

private:
    bool AppendRow(
        const FilterRule& rule, const std::string& protocol, const std::string& source, const std::string& dest)
    {
        if (limits_.maxRules >= 0 && ruleRows_ >= limits_.maxRules)
            return false;
        int32_t row = host_.addTabRow(host_.context, FilterRuleTable, INT32_MAX);
        if (row < 0)
            return false;
        ++ruleRows_;
        std::string action = std::to_string(rule.action);
        std::string option = std::to_string(rule.option);
        const char* values[6]
            = { rule.name.c_str(), protocol.c_str(), source.c_str(), dest.c_str(), action.c_str(), option.c_str() };
        if (host_.setTabRow(host_.context, FilterRuleTable, row, 5, values) > 0)
            return true;
        if (host_.delTabRow(host_.context, FilterRuleTable, row))
            --ruleRows_;
        return false;
    }

    // Writes an object: the row of exactly that name is replaced, or a row is appended.
    bool WriteObject(const std::string& name, const std::string& definition)
    {
        const char* values[2] = { name.c_str(), definition.c_str() };
        int32_t row = FilterFindObjectRow(host_, name);
        if (row >= 0)
            return host_.setTabRow(host_.context, FilterObjectTable, row, 1, values) > 0;
        if (limits_.maxObjects >= 0 && objectRows_ >= limits_.maxObjects)
            return false;
        row = host_.addTabRow(host_.context, FilterObjectTable, INT32_MAX);
        if (row < 0)
            return false;
        ++objectRows_;
        appended_.push_back(row);
        return host_.setTabRow(host_.context, FilterObjectTable, row, 1, values) > 0;
    }

    // A fixed object may be used when it is absent (then written) or already holds its definition;
    // one of that name that says something else belongs to other rules and is left alone.
    bool UseFixed(const std::string& name, const std::string& definition)
    {
        std::string present;
        if (FilterFindObject(host_, name, &present))
            return present == definition;
        return WriteObject(name, definition);
    }

    // A new object name for this rule: the rule name (made to read back as a name) and a counter,
    // cut to the name's room, not yet in ObjectTable.
    bool GeneratedName(std::string* out)
    {
        std::string base = name_.empty() ? std::string("X") : name_;
        for (char& c : base)
            if (c == ',' || c == '+' || c == ' ' || c == '\t' || c == '%' || c == '\0')
                c = 'X';
        if (!((base[0] >= 'A' && base[0] <= 'Z') || (base[0] >= 'a' && base[0] <= 'z')))
            base[0] = 'X';
        for (uint32_t counter = 0; counter < 1000000; ++counter) {
            std::string digits = std::to_string(counter);
            std::string name
                = base.substr(0, FilterObjectNameMax - std::min(digits.size(), FilterObjectNameMax - 1)) + digits;
            if (host_.findTabRow(host_.context, FilterObjectTable, 0, name.c_str()) < 0) {
                *out = name;
                return true;
            }
        }
        return false;
    }

    bool ProtocolCell(const std::string& protocols, std::string* cell)
    {
        if (protocols.empty()) {
            if (UseFixed("ANY", "")) {
                *cell = "ANY";
                return true;
            }
            return Generated("%P0", cell);
        }
        std::vector<std::string> names;
        bool unnamed = false;
        size_t at = 0;
        while (at < protocols.size()) {
            size_t used = 0;
            uint32_t n = ParseUnsigned(std::string_view(protocols).substr(at), &used);
            at += used + 1;
            if (n == 1)
                names.push_back("ICMP");
            else if (n == 6)
                names.push_back("TCP");
            else if (n == 17)
                names.push_back("UDP");
            else
                unnamed = true;
        }
        if (!unnamed && Join(names, ',').size() <= 8) {
            static const struct {
                const char* name;
                const char* definition;
            } kFixed[] = { { "ICMP", "%P1" }, { "TCP", "%P6" }, { "UDP", "%P17" } };
            bool usable = true;
            for (const std::string& name : names)
                for (const auto& fixed : kFixed)
                    if (name == fixed.name && !UseFixed(fixed.name, fixed.definition))
                        usable = false;
            if (usable) {
                *cell = Join(names, ',');
                return true;
            }
        }
        return Generated("%P" + protocols, cell);
    }

    bool Generated(const std::string& definition, std::string* name)
    {
        return GeneratedName(name) && WriteObject(*name, definition);
    }

    bool StationCell(
        const std::string& ports, const std::vector<FilterStation>& stations, size_t capacity, std::string* cell)
    {
        std::vector<std::string> items;
        if (!ports.empty())
            items.push_back("%S" + ports);
        if (stations.empty())
            items.push_back(UseFixed("ANYHOST", kAnyHostDefinition) ? "ANYHOST" : kAnyHostDefinition);
        for (const FilterStation& s : stations)
            items.push_back(StationItem(s));
        GroupItems(items);
        for (int round = 0; JoinedLength(items) > capacity; ++round) {
            std::string name;
            if (round > 4096 || !GeneratedName(&name))
                return false;
            std::string definition;
            while (!items.empty()) {
                size_t total = JoinedLength(items) + 1 + name.size();
                const std::string& front = items.front();
                size_t need = definition.size() + (definition.empty() ? 0 : 1) + front.size();
                if (total <= capacity || need > FilterDefinitionMax)
                    break;
                definition += (definition.empty() ? "" : " ") + front;
                items.erase(items.begin());
            }
            // An item that no object can hold: the rule cannot be written.
            if (definition.empty() || !WriteObject(name, definition))
                return false;
            items.push_back(name);
        }
        *cell = Join(items, ' ');
        return true;
    }

    const FilterHost& host_;
    FilterLimits limits_;
    int32_t ruleRows_ = 0;
    int32_t objectRows_ = 0;
    std::string name_;
    std::vector<int32_t> appended_; // ObjectTable rows this rule appended
};

} // namespace

FilterLimits FilterReadLimits(const FilterHost& host)
{
    FilterLimits limits;
    char text[32];
    if (host.getPluginParam(host.context, "maxrules", text, sizeof text) > 0)
        limits.maxRules = std::max(0, ParseDecimal(text));
    if (host.getPluginParam(host.context, "maxobjects", text, sizeof text) > 0)
        limits.maxObjects = std::max(0, ParseDecimal(text));
    return limits;
}

bool FilterMacEnabled(const FilterHost& host)
{
    char text[32];
    return host.getPluginParam(host.context, "macfilter", text, sizeof text) > 0 && ParseDecimal(text) != 0;
}

bool FilterAppendRule(const FilterHost& host, const FilterRule& rule, const FilterLimits& limits)
{
    Writer writer(host, limits);
    return writer.Rule(rule);
}

int FilterWrite(const FilterHost& host, const std::vector<FilterRule>& rules, size_t unreadableCount,
    bool dropUnreadable, const FilterLimits& limits)
{
    if (unreadableCount > 0 && !dropUnreadable)
        return -1;
    while (host.delTabRow(host.context, FilterRuleTable, 0)) { }
    while (host.delTabRow(host.context, FilterObjectTable, 0)) { }
    Writer writer(host, limits);
    int failed = 0;
    for (const FilterRule& rule : rules)
        if (!writer.Rule(rule))
            ++failed;
    return failed;
}
