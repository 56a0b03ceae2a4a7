// Normalisation: protocols and ports sorted and merged, stations sorted, "all" forms made empty.
#include "common/text.h"
#include "filterplugin/filter.h"

#include <algorithm>
#include <cstring>

namespace {

std::vector<uint32_t> Numbers(std::string_view list)
{
    std::vector<uint32_t> out;
    size_t at = 0;
    while (at < list.size()) {
        size_t used = 0;
        out.push_back(ParseUnsigned(list.substr(at), &used));
        at += used ? used : 1;
        while (at < list.size() && list[at] == ',')
            ++at;
    }
    return out;
}

std::string NormalizeProtocols(const std::string& list)
{
    std::vector<uint32_t> numbers = Numbers(list);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    if (!numbers.empty() && numbers.front() == 0)
        return std::string();
    std::string out;
    for (uint32_t n : numbers)
        out += (out.empty() ? "" : ",") + std::to_string(n);
    return out;
}

std::string NormalizePorts(const std::string& list)
{
    struct Range {
        uint32_t first, last;
    };
    std::vector<Range> ranges;
    size_t at = 0;
    while (at < list.size()) {
        size_t used = 0;
        Range r {};
        r.first = ParseUnsigned(list.substr(at), &used);
        at += used;
        r.last = r.first;
        if (at < list.size() && list[at] == '-') {
            ++at;
            r.last = ParseUnsigned(list.substr(at), &used);
            at += used;
        }
        if (!used && (at >= list.size() || list[at] != ','))
            ++at;
        while (at < list.size() && list[at] == ',')
            ++at;
        if (r.first == 0)
            return std::string(); // port 0: all ports
        r.last = std::max(r.last, r.first);
        ranges.push_back(r);
    }
    std::stable_sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
    std::vector<Range> merged;
    for (const Range& r : ranges) {
        if (!merged.empty() && r.first <= static_cast<uint64_t>(merged.back().last) + 1)
            merged.back().last = std::max(merged.back().last, r.last);
        else
            merged.push_back(r);
    }
    std::string out;
    for (const Range& r : merged) {
        if (!out.empty())
            out += ',';
        out += std::to_string(r.first);
        if (r.last != r.first)
            out += "-" + std::to_string(r.last);
    }
    return out;
}

int LowestSetBit(uint32_t mask)
{
    for (int bit = 0; bit < 32; ++bit)
        if (mask & (1u << bit))
            return bit;
    return 32;
}

bool StationLess(const FilterStation& a, const FilterStation& b)
{
    if (a.kind != b.kind)
        return a.kind < b.kind;
    switch (a.kind) {
    case FilterStationName:
        return a.name < b.name;
    case FilterStationMac:
        return std::memcmp(a.mac, b.mac, sizeof a.mac) < 0;
    case FilterStationRange: {
        bool aSingle = a.first == a.last;
        bool bSingle = b.first == b.last;
        if (aSingle != bSingle)
            return aSingle;
        if (a.first != b.first)
            return a.first < b.first;
        return a.last < b.last;
    }
    case FilterStationNetwork:
        // By address, then the narrower network first; masks with holes (as a cell may hold) can share
        // their lowest bit, and then the whole mask decides, so that any order of the same stations
        // normalises alike.
        if (a.first != b.first)
            return a.first < b.first;
        if (LowestSetBit(a.last) != LowestSetBit(b.last))
            return LowestSetBit(a.last) < LowestSetBit(b.last);
        return a.last < b.last;
    default:
        return false;
    }
}

void NormalizeStations(std::vector<FilterStation>& stations)
{
    for (FilterStation& s : stations) {
        // A network of one address is that address, as the reader reads the written form.
        if (s.kind == FilterStationNetwork && s.last == 0xFFFFFFFFu) {
            s.kind = FilterStationRange;
            s.last = s.first;
        }
        if (s.kind == FilterStationNetwork && s.first == 0 && s.last == 0) {
            stations.clear();
            return;
        }
    }
    std::stable_sort(stations.begin(), stations.end(), StationLess);
}

} // namespace

bool FilterStation::operator==(const FilterStation& other) const
{
    if (kind != other.kind)
        return false;
    switch (kind) {
    case FilterStationName:
        return name == other.name;
    case FilterStationMac:
        return std::memcmp(mac, other.mac, sizeof mac) == 0;
    case FilterStationRange:
    case FilterStationNetwork:
        return first == other.first && last == other.last;
    default:
        return true;
    }
}

void FilterNormalize(FilterRule* rule)
{
    rule->protocols = NormalizeProtocols(rule->protocols);
    rule->source_ports = NormalizePorts(rule->source_ports);
    rule->dest_ports = NormalizePorts(rule->dest_ports);
    NormalizeStations(rule->sources);
    NormalizeStations(rule->dests);
}
