// The pages' portable half: texts in the user's language, presets, masks, field rules, name checks and
// the wizard's steps.
#include "filterplugin/filter_pages.h"

#include "common/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

std::string FilterStr(unsigned id)
{
    return StrLoad(filterplugin_Strings(), id);
}

namespace {

// Puts the texts into a pattern's "%s" and "%d" in order. A translation whose conversions do not
// match gets the texts it has room for; a conversion without text stays empty, nothing is read past
// the given texts.
std::string Fill(const std::string& pattern, std::initializer_list<std::string> args)
{
    std::string out;
    auto arg = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd')) {
            if (arg != args.end())
                out += *arg++;
            ++i;
        } else if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::vector<uint32_t> Numbers(std::string_view list)
{
    std::vector<uint32_t> out;
    size_t at = 0;
    while (at < list.size()) {
        if (list[at] < '0' || list[at] > '9') {
            ++at;
            continue;
        }
        size_t used = 0;
        out.push_back(ParseUnsigned(list.substr(at), &used));
        at += used ? used : 1;
    }
    return out;
}

struct PresetTexts {
    const char* protocols;
    const char* sourcePorts;
    const char* destPorts;
};
const PresetTexts k_presets[FilterPresetUser] = {
    { "", "", "" },
    { "6,17", "", "80,443" },
    { "6", "", "25,109,110,119" },
    { "6", "", "20,21" },
    { "6", "", "23" },
    { "6,17", "137-139", "" },
};

} // namespace

// ---- texts ----

std::string FilterActionName(uint32_t action)
{
    switch (action) {
    case FilterActionDrop:
        return FilterStr(FilterStrActionDrop);
    case FilterActionDropNotConnected:
        return FilterStr(FilterStrActionDrop + 1);
    case FilterActionDropDefaultRoute:
        return FilterStr(FilterStrActionDrop + 2);
    case FilterActionTransfer:
        return FilterStr(FilterStrActionDrop + 3);
    default:
        return std::to_string(action);
    }
}

std::string FilterActionExplanation(uint32_t action)
{
    switch (action) {
    case FilterActionDropNotConnected:
        return FilterStr(FilterStrExplainDrop + 1);
    case FilterActionDropDefaultRoute:
        return FilterStr(FilterStrExplainDrop + 2);
    case FilterActionTransfer:
        return FilterStr(FilterStrExplainDrop + 3);
    default:
        return FilterStr(FilterStrExplainDrop);
    }
}

std::string FilterMacText(const uint8_t mac[6])
{
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string FilterStationLabel(const FilterStation& s)
{
    switch (s.kind) {
    case FilterStationLocal:
        return FilterStr(FilterStrStationLocal);
    case FilterStationName:
        return Fill(FilterStr(FilterStrStationLocal + 1), { s.name });
    case FilterStationMac:
        return Fill(FilterStr(FilterStrStationLocal + 2), { FilterMacText(s.mac) });
    case FilterStationRange:
        if (s.first == s.last)
            return Fill(FilterStr(FilterStrStationLocal + 3), { FilterAddressText(s.first) });
        return Fill(FilterStr(FilterStrStationLocal + 4), { FilterAddressText(s.first), FilterAddressText(s.last) });
    default:
        return Fill(FilterStr(FilterStrStationLocal + 5), { FilterAddressText(s.first), FilterAddressText(s.last) });
    }
}

std::string FilterWhereName(const FilterReadError& error)
{
    switch (error.where) {
    case FilterInProtocol:
        return FilterStr(FilterStrWhereProtocol);
    case FilterInSource:
        return FilterStr(FilterStrWhereProtocol + 1);
    case FilterInDestination:
        return FilterStr(FilterStrWhereProtocol + 2);
    default:
        return Fill(FilterStr(FilterStrWhereProtocol + 3), { error.object });
    }
}

int FilterOfferCorrections(
    const FilterHost& host, FilterList& list, const std::function<bool(const FilterUnreadable&, std::string*)>& ask)
{
    std::vector<FilterUnreadable> rows = std::move(list.unreadable);
    list.unreadable.clear();
    int corrected = 0;
    for (FilterUnreadable& row : rows) {
        bool read = false;
        std::string text;
        while (ask(row, &text)) {
            FilterRule rule;
            FilterReadError error;
            int result = FilterCorrectRow(host, row.row, row.error, text, &rule, &error);
            if (result == 1) {
                // Every row before it is a rule of the list by now, but for those left unreadable.
                size_t at = static_cast<size_t>(row.row) - list.unreadable.size();
                list.rules.insert(list.rules.begin() + static_cast<ptrdiff_t>(std::min(at, list.rules.size())), rule);
                read = true;
                break;
            }
            if (result != 0 || error.text.empty())
                break;
            row.error = error; // still wrong: offered again where reading stopped now
        }
        if (read)
            ++corrected;
        else
            list.unreadable.push_back(std::move(row));
    }
    return corrected;
}

std::string FilterProtocolNames(std::string_view protocols, std::string_view sourcePorts, std::string_view destPorts)
{
    std::vector<uint32_t> numbers = Numbers(protocols);
    if (numbers.empty())
        return FilterStr(FilterStrAllProtocols);
    // A single protocol without a name says which ports it applies to: then the line reads as a whole.
    bool withPorts = numbers.size() == 1 && (!sourcePorts.empty() || !destPorts.empty());
    std::string out;
    for (uint32_t n : numbers) {
        if (n == 0)
            return FilterStr(FilterStrAllProtocols);
        if (!out.empty())
            out += ", ";
        if (n == 1 || n == 6 || n == 17) {
            out += n == 1 ? "ICMP" : n == 6 ? "TCP" : "UDP";
        } else if (!withPorts) {
            out += Fill(FilterStr(FilterStrProtocolNumber), { std::to_string(n) });
        } else if (destPorts.empty()) {
            out += Fill(FilterStr(FilterStrProtocolNumber + 1), { std::to_string(n), std::string(sourcePorts) });
        } else if (sourcePorts.empty()) {
            out += Fill(FilterStr(FilterStrProtocolNumber + 2), { std::to_string(n), std::string(destPorts) });
        } else {
            out += Fill(FilterStr(FilterStrProtocolNumber + 3),
                { std::to_string(n), std::string(sourcePorts), std::string(destPorts) });
        }
    }
    return out;
}

namespace {

void StationLines(std::string* out, unsigned label, const std::vector<FilterStation>& stations)
{
    *out += FilterStr(label);
    if (stations.empty()) {
        *out += FilterStr(FilterStrAllStations) + "\r\n";
        return;
    }
    for (size_t i = 0; i < stations.size(); ++i)
        *out += (i ? "\t" : "") + FilterStationLabel(stations[i]) + "\r\n";
}

} // namespace

std::string FilterSummaryText(const FilterRule& rule)
{
    std::string out = FilterStr(FilterStrSummaryName) + rule.name + "\r\n";
    out += FilterStr(FilterStrSummaryName + 1) + FilterActionName(rule.action) + "\r\n";
    StationLines(&out, FilterStrSummaryName + 2, rule.sources);
    StationLines(&out, FilterStrSummaryName + 3, rule.dests);
    out += FilterStr(FilterStrSummaryName + 4) + FilterProtocolNames(rule.protocols, rule.source_ports, rule.dest_ports)
        + "\r\n";
    if (!rule.source_ports.empty())
        out += FilterStr(FilterStrSummaryName + 5) + rule.source_ports + "\r\n";
    if (!rule.dest_ports.empty())
        out += FilterStr(FilterStrSummaryName + 6) + rule.dest_ports + "\r\n";
    return out;
}

std::string FilterFinishText(int added, int deleted, bool finishButton)
{
    std::string a = std::to_string(added), d = std::to_string(deleted);
    const unsigned next = finishButton ? 0 : FilterStrFinishNextClose - FilterStrFinishClose;
    unsigned id;
    if (added == 0 && deleted == 0)
        return FilterStr(FilterStrFinishNone) + FilterStr(FilterStrFinishClose + next);
    if (added == 0)
        id = deleted == 1 ? 81 : 82;
    else if (deleted == 0)
        id = added == 1 ? 83 : 84;
    else if (added == 1)
        id = deleted == 1 ? 85 : 86;
    else
        id = deleted == 1 ? 87 : 88;
    std::string pattern = FilterStr(id);
    std::string text = id == 82 ? Fill(pattern, { d }) : id == 86 ? Fill(pattern, { d }) : Fill(pattern, { a, d });
    return text + FilterStr(FilterStrFinishSave + next);
}

std::string FilterRuleCaption(std::string_view name)
{
    return Fill(FilterStr(FilterStrRuleCaption), { std::string(name) });
}

// ---- services ----

FilterPreset FilterPresetOf(const FilterRule& rule)
{
    if (rule.protocols.empty())
        return FilterPresetAll;
    // A rule read back from the device is normalised ("20,21" became "20-21"): the presets are
    // compared in that form too.
    FilterRule normal = rule;
    FilterNormalize(&normal);
    for (int p = FilterPresetWeb; p < FilterPresetUser; ++p) {
        FilterRule preset;
        FilterApplyPreset(&preset, static_cast<FilterPreset>(p));
        FilterNormalize(&preset);
        if (normal.protocols == preset.protocols && normal.source_ports == preset.source_ports
            && normal.dest_ports == preset.dest_ports)
            return static_cast<FilterPreset>(p);
    }
    return FilterPresetUser;
}

void FilterApplyPreset(FilterRule* rule, FilterPreset preset)
{
    if (preset < FilterPresetAll || preset >= FilterPresetUser)
        return;
    rule->protocols = k_presets[preset].protocols;
    rule->source_ports = k_presets[preset].sourcePorts;
    rule->dest_ports = k_presets[preset].destPorts;
}

std::string FilterProtocolsFromBoxes(bool tcp, bool udp, bool icmp, std::string_view other)
{
    std::string out;
    auto add = [&out](std::string_view n) {
        if (!n.empty())
            out += (out.empty() ? "" : ",") + std::string(n);
    };
    if (tcp)
        add("6");
    if (udp)
        add("17");
    if (icmp)
        add("1");
    for (uint32_t n : Numbers(other))
        add(std::to_string(n));
    return out;
}

void FilterProtocolsToBoxes(std::string_view protocols, bool* tcp, bool* udp, bool* icmp, std::string* other)
{
    *tcp = *udp = *icmp = false;
    other->clear();
    for (uint32_t n : Numbers(protocols)) {
        if (n == 6)
            *tcp = true;
        else if (n == 17)
            *udp = true;
        else if (n == 1)
            *icmp = true;
        else
            *other += (other->empty() ? "" : ",") + std::to_string(n);
    }
}

// ---- stations ----

uint32_t FilterProposedMask(uint32_t address)
{
    uint32_t first = address >> 24;
    if (first < 128)
        return 0xFF000000u;
    if (first < 192)
        return 0xFFFF0000u;
    if (first < 224)
        return 0xFFFFFF00u;
    return 0xFFFFFFFFu;
}

bool FilterParseAddress(std::string_view text, uint32_t* address)
{
    text = Trim(text);
    uint32_t value = 0;
    size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part && (at >= text.size() || text[at++] != '.'))
            return false;
        size_t digits = 0;
        uint32_t n = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            n = n * 10 + static_cast<uint32_t>(text[at++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || n > 255)
            return false;
        value = value << 8 | n;
    }
    if (at != text.size())
        return false;
    *address = value;
    return true;
}

bool FilterParseMac(std::string_view text, uint8_t mac[6])
{
    text = Trim(text);
    if (text.empty() || text.size() > 12)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        char l = AsciiLower(c);
        int d = (c >= '0' && c <= '9') ? c - '0' : (l >= 'a' && l <= 'f') ? l - 'a' + 10 : -1;
        if (d < 0)
            return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    for (int i = 5; i >= 0; --i, v >>= 8)
        mac[i] = static_cast<uint8_t>(v & 0xFF);
    return true;
}

// ---- edit fields ----

bool FilterFieldAccepts(FilterField field, char c)
{
    static const char k_nameChars[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz@{|}~!$%&'()+-,/:;<=>?[\\]^_`.0123456789";
    if (c == '\0')
        return false;
    bool digit = c >= '0' && c <= '9';
    switch (field) {
    case FilterFieldRuleName:
        return std::strchr(k_nameChars, c) != nullptr;
    case FilterFieldStationName:
        return c != ',' && c != '+' && std::strchr(k_nameChars, c) != nullptr;
    case FilterFieldMac:
        return std::strchr("0123456789abcdefABCDEF", c) != nullptr;
    case FilterFieldAddress:
        return digit || c == '.';
    case FilterFieldProtocols:
        return digit || c == ',';
    case FilterFieldPorts:
        return digit || c == ',' || c == '-';
    }
    return false;
}

size_t FilterFieldLimit(FilterField field)
{
    switch (field) {
    case FilterFieldRuleName:
        return FilterRuleNameMax;
    case FilterFieldStationName:
        return 62;
    case FilterFieldMac:
        return 12;
    case FilterFieldAddress:
        return 15;
    default:
        return FilterListMax;
    }
}

// ---- names ----

unsigned FilterCheckName(std::string_view name, const std::vector<FilterRule>& rules, const FilterRule* self)
{
    if (Trim(name).empty())
        return FilterStrEnterName;
    for (const FilterRule& r : rules)
        if (&r != self && StrEqualNoCase(r.name, name))
            return FilterStrDuplicateName;
    return 0;
}

unsigned FilterCheckNewName(const FilterHost& host, std::string_view name)
{
    if (Trim(name).empty())
        return FilterStrEnterName;
    std::string text(name);
    if (host.findTabRow(host.context, "RuleTable", 0, text.c_str()) >= 0)
        return FilterStrDuplicateName;
    return 0;
}

// ---- the filter wizard ----

const int32_t FilterWizardOrder[8] = { FilterPageStart, FilterPageName, FilterPageSource, FilterPageDest,
    FilterPageService, FilterPageSummary, FilterPageDelete, FilterPageFinish };

bool FilterWizardShows(int32_t page, int32_t mode)
{
    switch (page) {
    case FilterPageStart:
    case FilterPageFinish:
        return true;
    case FilterPageDelete:
        return mode == FilterModeDelete;
    default:
        return mode == FilterModeAdd;
    }
}

int32_t FilterWizardStep(int32_t page, int32_t mode, bool forward)
{
    int at = -1;
    for (int i = 0; i < 8; ++i)
        if (FilterWizardOrder[i] == page)
            at = i;
    if (at < 0)
        return 0;
    for (int i = at + (forward ? 1 : -1); i >= 0 && i < 8; i += forward ? 1 : -1)
        if (FilterWizardShows(FilterWizardOrder[i], mode))
            return FilterWizardOrder[i];
    return 0;
}

bool FilterWizardState::AddAnother()
{
    FilterNormalize(&rule);
    if (!FilterAppendRule(host, rule, FilterReadLimits(host)))
        return false;
    ++added;
    pending = false;
    rule = FilterRule();
    return true;
}

void FilterWizardState::MarkPending()
{
    FilterNormalize(&rule);
    pending = true;
}

void FilterWizardState::Unmark()
{
    pending = false;
}

bool FilterWizardState::DeleteAt(size_t index)
{
    if (index >= list.rules.size())
        return false;
    list.rules.erase(list.rules.begin() + static_cast<ptrdiff_t>(index));
    ++deleted;
    return true;
}

int FilterWizardState::WriteDeletions()
{
    if (deleted == 0)
        return 0;
    if (list.unreadable.empty())
        return FilterWrite(host, list.rules, 0, false, FilterReadLimits(host));
    // Rows that could not be read would be lost by rewriting the tables: only the deleted rules' rows
    // go, everything else stays as the device has it.
    int failed = 0;
    int32_t row = 0; // the row now, in the table as it shrinks
    for (int32_t original = 0;; ++original) {
        char name[FilterRuleNameMax + 2] = "";
        char* buffers[1] = { name };
        int32_t sizes[1] = { static_cast<int32_t>(sizeof name) };
        if (host.getTabRow(host.context, "RuleTable", row, 0, buffers, sizes) == 0)
            break;
        bool kept = false;
        for (const FilterRule& r : list.rules)
            kept = kept || StrEqualNoCase(r.name, name);
        for (const FilterUnreadable& u : list.unreadable)
            kept = kept || u.row == original;
        if (kept || host.delTabRow(host.context, "RuleTable", row) == 0) {
            failed += kept ? 0 : 1;
            ++row;
        }
    }
    return failed;
}

bool FilterWizardState::Finish()
{
    if (!pending)
        return true;
    if (!FilterAppendRule(host, rule, FilterReadLimits(host)))
        return false;
    pending = false;
    ++added;
    return true;
}

std::string FilterWizardState::FinishText(bool finishButton) const
{
    return FilterFinishText(added + (pending ? 1 : 0), deleted, finishButton);
}
