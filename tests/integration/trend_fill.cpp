// Fills a monitor folder's kept values with a simulated past, for the graph window's Wine test: the
// series "Load" (a gauge: a daily wave with noise) and "Interface:1:3" (a counter, kept as its rate) of
// one device, polled every STEP seconds for SECONDS up to a minute ago, with the device silent for a
// while in the middle (a gap).
//   trend_fill DIR ADDRESS SECONDS STEP
#include "monitor/engine/trend_store.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    unsigned a, b, c, d;
    if (argc != 5 || std::sscanf(argv[2], "%u.%u.%u.%u", &a, &b, &c, &d) != 4) {
        std::fprintf(stderr, "usage: trend_fill DIR ADDRESS SECONDS STEP\n");
        return 2;
    }
    uint32_t address = a | b << 8 | c << 16 | d << 24; // network order
    uint64_t seconds = std::strtoull(argv[3], nullptr, 10), step = std::strtoull(argv[4], nullptr, 10);
    if (!step || !seconds)
        return 2;
    uint64_t end = TrendSystemNowMs() - 60000, start = end - seconds * 1000, now = start;
    uint64_t notes = 0;
    {
        TrendStore store(TrendStoreDir(argv[1]), [&] { return now; });
        uint32_t load = store.Series(address, "Load", kTrendGauge);
        uint32_t octets = store.Series(address, "Interface:1:3", kTrendCounter);
        uint32_t counter = 0xfff00000u; // wraps early on
        uint64_t silentFrom = start + (end - start) * 6 / 10, silentTo = silentFrom + (end - start) / 50;
        for (uint64_t i = 0; now < end; ++i, now += step * 1000) {
            if (now >= silentFrom && now < silentTo) {
                store.NoAnswer(address);
                continue;
            }
            double day = static_cast<double>(now % 86400000) / 86400000.0;
            double wave = 30 + 25 * std::sin(day * 6.283185307) + static_cast<double>(i * 7919 % 13);
            store.Note(load, static_cast<uint32_t>(wave));
            counter += static_cast<uint32_t>((40000 + 30000 * std::sin(day * 12.56637)) * step);
            store.Note(octets, counter);
            notes += 2;
            if (i % 20000 == 0)
                store.Flush();
        }
    }
    std::printf("%llu values kept\n", static_cast<unsigned long long>(notes));
    return 0;
}
