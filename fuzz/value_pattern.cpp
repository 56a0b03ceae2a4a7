// Stored date and time values and the device clock text read by a pattern, and their display texts,
// on arbitrary input: the first line is the pattern, the rest the value. A value that reads completely
// by a pattern without digits, each field in one run, is written by the same pattern and reads back
// to the same moment.
#include "config/description/cfg_types.h"
#include "config/store/display.h"
#include "config/store/display_pattern.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
// True when no field letter has two runs: a field written twice takes its last value, which an
// earlier fixed-width run cannot hold.
bool FieldsOnce(const std::string& pattern)
{
    std::string seen;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (std::string("hmsDMY").find(c) == std::string::npos || (i > 0 && pattern[i - 1] == c))
            continue;
        if (seen.find(c) != std::string::npos)
            return false;
        seen += c;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string pattern = input.substr(0, newline);
    std::string value = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    if (pattern.size() > 64)
        return 0;
    CfgSetDateSource([] { return CfgToday { 2026, 12, 7 }; });

    CfgMoment moment;
    unsigned found = 0;
    bool complete = CfgPatternRead(pattern, value, &moment, &found);
    Check((found & ~CfgPatternFields(pattern)) == 0);
    if (complete && pattern.find_first_of("0123456789") == std::string::npos && FieldsOnce(pattern)) {
        std::string written = CfgPatternWrite(pattern, moment);
        CfgMoment again;
        unsigned foundAgain = 0;
        Check(CfgPatternRead(pattern, written, &again, &foundAgain));
        Check(again == moment && foundAgain == found);
        Check(CfgPatternWrite(pattern, again) == written);
    }
    CfgMoment clock;
    if (CfgReadDeviceClock(value, &clock))
        Check(clock.hour < 100 && clock.minute < 100 && clock.second < 100 && clock.day < 100 && clock.month < 100);

    CfgMoment typed;
    CfgReadTypedDate(value, 2026, &typed);

    for (uint32_t kind : { CfgKindEntryDate, CfgKindEntryTime, CfgKindEntryDateTime }) {
        CfgItem item;
        item.kind = kind;
        item.SetText(CfgAttrFormat, pattern);
        item.SetNumber(CfgAttrYearIsWildcard, 1);
        item.SetNumber(CfgAttrNeverEmpty, 1);
        item.SetNumber(CfgAttrShowSeconds, static_cast<uint32_t>(size & 1));
        std::optional<std::string> shown = CfgDisplayText(item, value, "On", "Off", true);
        Check(shown.has_value() && shown->size() < 256);
    }
    return 0;
}
