// talvine-cli history: prints the values the monitor kept of one item of a device (raw samples where they
// are still kept, five-minute averages with their minimum and maximum before, and the gaps).
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "monitor/engine/trend_store.h"
#include "monitor/snmp/snmp.h"

#include <chrono>
#include <cstdio>

namespace {
// "YYYY-MM-DD[ HH:MM[:SS]]" (UTC), "now", or "-N" with s, m, h or d (before now).
bool ParseWhen(const std::string& text, uint32_t now, uint32_t* out)
{
    if (text == "now") {
        *out = now;
        return true;
    }
    if (text.size() >= 3 && text[0] == '-') {
        unsigned long long n = 0;
        for (size_t i = 1; i + 1 < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9' || n > 100000000)
                return false;
            n = n * 10 + static_cast<unsigned>(text[i] - '0');
        }
        unsigned long long unit;
        switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            return false;
        }
        *out = n * unit >= now ? 0 : static_cast<uint32_t>(now - n * unit);
        return true;
    }
    return TrendParseTime(text, out);
}

int RunHistory(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::string dir = opts.Value("--dir").value_or(FileProgramDirectory());
    std::optional<std::string> fromText = opts.Value("--from");
    std::optional<std::string> toText = opts.Value("--to");
    bool csv = opts.Flag("--csv");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    std::vector<std::string> words;
    for (const std::string& w : opts.Rest())
        if (w != "--")
            words.push_back(w);
    if (words.size() != 2)
        return CliFail("usage: history [--dir DIR] ADDRESS REF [--from TIME] [--to TIME] [--csv]", 2);
    auto ip = NetParseAddress(words[0]);
    if (!ip || *ip == 0)
        return CliFail("invalid device address '" + words[0] + "'", 2);
    uint32_t now = static_cast<uint32_t>(TrendSystemNowMs() / 1000);
    uint32_t from = 0, to = UINT32_MAX;
    if (fromText && !ParseWhen(*fromText, now, &from))
        return CliFail("invalid time '" + *fromText + "' (YYYY-MM-DD[ HH:MM[:SS]] in UTC, now, or -N[smhd])", 2);
    if (toText && !ParseWhen(*toText, now, &to))
        return CliFail("invalid time '" + *toText + "' (YYYY-MM-DD[ HH:MM[:SS]] in UTC, now, or -N[smhd])", 2);
    if (from > to)
        return CliFail("--from lies after --to", 2);
    uint32_t address = SnmpAddressFromHost(*ip);
    std::string store = TrendStoreDir(dir);
    TrendSeriesData data;
    if (TrendRead(store, address, words[1], from, to, &data) != 1) {
        std::vector<std::string> names = TrendSeriesNames(store, address);
        if (names.empty())
            return CliFail("no values kept of " + words[0] + " in " + store);
        std::string list;
        for (const std::string& n : names)
            list += (list.empty() ? "" : ", ") + n;
        return CliFail("no values kept of " + words[1] + " at " + words[0] + " (kept: " + list + ")");
    }
    std::string out;
    if (csv)
        out = "time,value,minimum,maximum,samples\r\n";
    const char* unit = TrendKindName(data.kind);
    for (const TrendPoint& p : data.points) {
        std::string time = TrendTimeText(p.time);
        if (csv) {
            if (p.gap)
                out += time + ",,,,0\r\n";
            else
                out += time + "," + TrendValueText(p.value) + "," + TrendValueText(p.min) + "," + TrendValueText(p.max)
                    + "," + std::to_string(p.count) + "\r\n";
        } else if (p.gap) {
            out += time + "  gap\n";
        } else if (p.averaged) {
            out += time + "  " + TrendValueText(p.value) + unit + "  min " + TrendValueText(p.min) + "  max "
                + TrendValueText(p.max) + "  (" + std::to_string(p.count) + " samples)\n";
        } else {
            out += time + "  " + TrendValueText(p.value) + unit + "\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

CliRegistrar g_history { { "history",
    "history [--dir DIR] ADDRESS REF [--from TIME] [--to TIME] [--csv]   (TIME: YYYY-MM-DD[ HH:MM[:SS]] UTC, now, "
    "-N[smhd]; REF: an item's reference, REF:N its N-th value, REF+K a table row's clone)",
    RunHistory } };
} // namespace
