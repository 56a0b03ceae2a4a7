// Kept values in simulated time: rates across a counter wrap and a reset, gaps, five-minute averages, the
// bound on disk, torn files, and a writer killed while it writes.
#include "common/platform/file.h"
#include "monitor/engine/trend_store.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
constexpr uint32_t kDevice = 0x0100007f; // 127.0.0.1 in network order
constexpr uint64_t kStart = 1779999900000ull; // a wall time in ms, a multiple of 5 minutes

struct Folder {
    std::string path;
    Folder()
    {
        path = (fs::temp_directory_path()
            / ("trend_test_" + std::to_string(std::random_device {}()) + "_" + std::to_string(counter++)))
                   .string();
        fs::remove_all(path);
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    static inline int counter = 0;
};

struct SimStore {
    std::atomic<uint64_t> now { kStart };
    Folder folder;
    std::unique_ptr<TrendStore> store;
    SimStore()
    {
        Open();
    }
    void Open()
    {
        store = std::make_unique<TrendStore>(folder.path, [this] { return now.load(); });
    }
    void Advance(uint64_t ms)
    {
        now += ms;
    }
    TrendSeriesData Read(const std::string& name, uint32_t from = 0, uint32_t to = UINT32_MAX)
    {
        TrendSeriesData data;
        EXPECT_EQ(1, TrendRead(folder.path, kDevice, name, from, to, &data)) << name;
        return data;
    }
};

std::vector<double> Values(const TrendSeriesData& d)
{
    std::vector<double> v;
    for (const TrendPoint& p : d.points)
        if (!p.gap)
            v.push_back(p.value);
    return v;
}

uint64_t FolderBytes(const std::string& folder)
{
    uint64_t total = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file())
            total += e.file_size();
    return total;
}
} // namespace

TEST(TrendStore, ValuesByKindAndCounterRatesAcrossWrapAndReset)
{
    SimStore s;
    uint32_t counter = s.store->Series(kDevice, "Interface+1:3", kTrendCounter);
    uint32_t integer = s.store->Series(kDevice, "Temp", kTrendInteger);
    uint32_t gauge = s.store->Series(kDevice, "Load", kTrendGauge);
    EXPECT_EQ(counter, s.store->Series(kDevice, "Interface+1:3", kTrendCounter));
    struct Step {
        uint32_t counter;
        uint32_t integer;
        uint32_t gauge;
    } steps[] = {
        { 0xffffff00u, 0xfffffffbu, 0xfffffffbu }, // first counter value: no rate yet; -5 as INTEGER
        { 0x00000100u, 7, 7 }, // wrapped: 0x200 in 10 s
        { 0x00000100u + 1000, 8, 8 }, // 1000 in 10 s
        { 5, 9, 9 }, // went back: reset, no rate
        { 1005, 10, 10 }, // 1000 in 10 s after the reset
    };
    for (const Step& st : steps) {
        s.store->Note(counter, st.counter);
        s.store->Note(integer, st.integer);
        s.store->Note(gauge, st.gauge);
        s.Advance(10000);
    }
    ASSERT_EQ(1, s.store->Flush());
    TrendSeriesData c = s.Read("Interface+1:3");
    EXPECT_EQ(kTrendCounter, c.kind);
    EXPECT_EQ((std::vector<double> { 51.2, 100, 100 }), Values(c));
    EXPECT_EQ((std::vector<double> { -5, 7, 8, 9, 10 }), Values(s.Read("Temp")));
    EXPECT_EQ((std::vector<double> { 4294967291.0, 7, 8, 9, 10 }), Values(s.Read("Load")));
    TrendSeriesData none;
    EXPECT_EQ(0, TrendRead(s.folder.path, kDevice, "Missing", 0, UINT32_MAX, &none));
    EXPECT_EQ((std::vector<std::string> { "Interface+1:3", "Load", "Temp" }), TrendSeriesNames(s.folder.path, kDevice));
}

TEST(TrendStore, GapsWhereTheDeviceDidNotAnswerAndBetweenRuns)
{
    SimStore s;
    uint32_t load = s.store->Series(kDevice, "Load", kTrendGauge);
    uint32_t octets = s.store->Series(kDevice, "Octets", kTrendCounter);
    uint32_t counted = 0;
    auto poll = [&](uint32_t v) {
        s.store->Note(load, v);
        s.store->Note(octets, counted += 500);
        s.Advance(5000);
    };
    poll(1);
    poll(2);
    for (int i = 0; i < 3; ++i) { // three polls without an answer: one gap
        s.store->NoAnswer(kDevice);
        s.Advance(5000);
    }
    counted += 1000000; // what the device counted while it did not answer (or after a reset): no rate
    poll(3);
    poll(3);
    s.store->Flush();
    s.store.reset(); // the monitor ends; the next run starts an hour later
    s.Advance(3600000);
    s.Open();
    load = s.store->Series(kDevice, "Load", kTrendGauge);
    octets = s.store->Series(kDevice, "Octets", kTrendCounter);
    poll(4);
    s.store->Flush();
    std::string shape;
    for (const TrendPoint& p : s.Read("Load").points)
        shape += p.gap ? "|" : std::to_string(static_cast<int>(p.value));
    EXPECT_EQ("|12|33|4", shape);
    // Rates: one before the gap, one after it (not across it), none across the runs.
    EXPECT_EQ((std::vector<double> { 100, 100 }), Values(s.Read("Octets")));
}

TEST(TrendStore, RawSamplesTwoDaysThenFiveMinuteAveragesWithMinimumAndMaximum)
{
    SimStore s;
    uint32_t load = s.store->Series(kDevice, "Load", kTrendGauge);
    // Three days of one poll a second: the value is the second within its minute (0..59).
    const uint32_t days = 3;
    for (uint32_t i = 0; i < days * 86400; ++i) {
        s.store->Note(load, i % 60);
        s.Advance(1000);
        if (i % 3600 == 0)
            s.store->Flush();
    }
    s.store->Flush();
    uint32_t start = static_cast<uint32_t>(kStart / 1000);
    uint32_t end = start + days * 86400;
    TrendSeriesData d = s.Read("Load");
    ASSERT_FALSE(d.points.empty());
    uint32_t rawFrom = UINT32_MAX;
    size_t averaged = 0, raw = 0;
    uint32_t lastTime = 0;
    for (const TrendPoint& p : d.points) {
        if (p.gap)
            continue;
        EXPECT_GE(p.time, lastTime);
        lastTime = p.time;
        if (p.averaged) {
            ++averaged;
            EXPECT_EQ(0u, p.time % kTrendBucket);
            EXPECT_EQ(300u, p.count);
            EXPECT_DOUBLE_EQ(29.5, p.value);
            EXPECT_EQ(0, p.min);
            EXPECT_EQ(59, p.max);
            EXPECT_LT(p.time, rawFrom) << "an average after raw samples";
        } else {
            rawFrom = std::min(rawFrom, p.time);
            ++raw;
        }
    }
    // Raw samples: no more than two days and a quarter (whole six-hour files), at most one per 3 s.
    EXPECT_LE(end - rawFrom, kTrendRawKeep + kTrendRawPeriod);
    EXPECT_GE(end - rawFrom, kTrendRawKeep);
    EXPECT_NEAR(static_cast<double>(end - rawFrom) / kTrendRawSpacing, static_cast<double>(raw), 2);
    // Averages cover the rest without a hole: every five minutes from the start to the raw samples.
    EXPECT_EQ((rawFrom - start) / kTrendBucket, averaged);
    // A window inside the averaged time gives only its own periods.
    TrendSeriesData hour = s.Read("Load", start + 3600, start + 7199);
    EXPECT_EQ(12u, hour.points.size());
}

TEST(TrendStore, SixtyThreeDaysOfOneSecondPollsStayWithinTwoMegabytes)
{
    SimStore s;
    uint32_t octets = s.store->Series(kDevice, "Interface+1:3", kTrendCounter);
    uint32_t value = 0;
    const uint32_t days = 63;
    for (uint32_t day = 0; day < days; ++day) {
        // One poll a second on the last three days (what stays raw); a minute apart before, which gives the
        // same five-minute averages.
        uint32_t step = day + 3 >= days ? 1 : 60;
        for (uint32_t t = 0; t < 86400; t += step) {
            s.Advance(step * 1000ull);
            s.store->Note(octets, value += 1234 * step);
        }
        s.store->Flush();
    }
    uint64_t bytes = FolderBytes(s.folder.path);
    std::printf("kept on disk after 63 days: %llu bytes\n", static_cast<unsigned long long>(bytes));
    EXPECT_LE(bytes, 2u * 1024 * 1024);
    EXPECT_GT(bytes, 1u * 1024 * 1024);
    // Nothing older than sixty days (and the five days of one file) is left.
    TrendSeriesData d = s.Read("Interface+1:3");
    ASSERT_FALSE(d.points.empty());
    uint32_t end = static_cast<uint32_t>(s.now / 1000);
    EXPECT_GE(d.points.front().time + kTrendAverageKeep + kTrendAveragePeriod, end);
    for (const TrendPoint& p : d.points) {
        if (!p.gap) {
            EXPECT_NEAR(1234.0, p.value, 0.01) << p.time;
        }
    }
}

TEST(TrendStore, TornTailIsCutOffAndAPeriodWrittenInTwoRunsMerges)
{
    SimStore s;
    uint32_t load = s.store->Series(kDevice, "Load", kTrendGauge);
    s.store->Note(load, 10);
    s.Advance(60000);
    s.store->Note(load, 20);
    s.store.reset(); // writes the open five minutes (10, 20)
    std::string folder = TrendDeviceDir(s.folder.path, kDevice);
    std::string raw = folder + "/" + TrendRawFileName(static_cast<uint32_t>(kStart / 1000));
    std::string data;
    ASSERT_EQ(1, FileReadAll(raw, &data));
    {
        // What a writer killed inside a block leaves: a header and half its records.
        TrendBlockWriter w;
        w.Sample(1, static_cast<uint32_t>(kStart / 1000) + 100, 99);
        w.Sample(1, static_cast<uint32_t>(kStart / 1000) + 101, 99);
        std::string block = w.Take();
        std::FILE* f = std::fopen(raw.c_str(), "ab");
        std::fwrite(block.data(), 1, block.size() - 7, f);
        std::fclose(f);
    }
    s.Advance(60000);
    s.Open();
    load = s.store->Series(kDevice, "Load", kTrendGauge);
    s.store->Note(load, 60);
    s.store.reset();
    std::string after;
    ASSERT_EQ(1, FileReadAll(raw, &after));
    TrendFileContents c;
    EXPECT_EQ(1, TrendParse(after, &c)) << "the torn block is still there";
    EXPECT_EQ((std::vector<double> { 10, 20, 60 }), Values(s.Read("Load")));
    // The averages file holds the first five minutes twice (each run's part); read back as one period.
    TrendSeriesData avg;
    std::string avgFile = folder + "/" + TrendAverageFileName(static_cast<uint32_t>(kStart / 1000));
    ASSERT_EQ(1, FileReadAll(avgFile, &data));
    ASSERT_EQ(1, TrendParse(data, &c));
    size_t averages = 0;
    for (const TrendRecord& r : c.records)
        averages += r.type == kTrendRecAverage;
    EXPECT_EQ(2u, averages);
}

TEST(TrendFile, ReaderStopsAtTheFirstDamagedBlock)
{
    TrendBlockWriter w;
    w.Series(1, kTrendGauge, "Load");
    w.Sample(1, 1000, 1.5);
    std::string good = w.Take();
    w.Break(2000);
    std::string second = w.Take();
    struct {
        const char* what;
        std::string data;
        int result;
        size_t records;
    } cases[] = {
        { "whole", good + second, 1, 2 },
        { "cut header", good + second.substr(0, 5), 0, 1 },
        { "cut payload", good + second.substr(0, second.size() - 1), 0, 1 },
        { "bad checksum",
            good + second.substr(0, 12) + std::string(1, static_cast<char>(second[12] ^ 1)) + second.substr(13), 0, 1 },
        { "bad magic", std::string("XVK1") + good.substr(4), 0, 0 },
        { "empty", "", 1, 0 },
    };
    for (const auto& c : cases) {
        TrendFileContents out;
        EXPECT_EQ(c.result, TrendParse(c.data, &out)) << c.what;
        EXPECT_EQ(c.records, out.records.size()) << c.what;
        EXPECT_EQ(c.records ? good.size() + (c.records == 2 ? second.size() : 0) : 0, out.validBytes) << c.what;
    }
}

TEST(TrendFile, NamesAndTimes)
{
    uint32_t t;
    ASSERT_TRUE(TrendParseTime("2026-12-09 01:02:03", &t));
    EXPECT_EQ("2026-12-09 01:02:03", TrendTimeText(t));
    EXPECT_EQ("raw-20261209-00.tvk", TrendRawFileName(t));
    EXPECT_EQ(TrendAverageFileName(t), TrendAverageFileName(t - t % kTrendAveragePeriod));
    uint32_t start;
    bool raw;
    ASSERT_TRUE(TrendFilePeriod(TrendRawFileName(t + 6 * 3600), &start, &raw));
    EXPECT_TRUE(raw);
    EXPECT_EQ(t - 3723 + 6 * 3600, start);
    ASSERT_TRUE(TrendFilePeriod(TrendAverageFileName(t), &start, &raw));
    EXPECT_FALSE(raw);
    EXPECT_EQ(TrendAverageFileName(t), TrendAverageFileName(start + kTrendAveragePeriod - 1));
    EXPECT_NE(TrendAverageFileName(t), TrendAverageFileName(start + kTrendAveragePeriod));
    for (const char* bad : { "2026-13-01", "2026-12-09 24:00", "2026-12-09x", "1969-12-31", "2026-12-09 01:02:3" })
        EXPECT_FALSE(TrendParseTime(bad, &t)) << bad;
    ASSERT_TRUE(TrendParseTime("2026-12-09T01:02", &t));
    EXPECT_EQ("2026-12-09 01:02:00", TrendTimeText(t));
    EXPECT_FALSE(TrendFilePeriod("raw-20261209-25.tvk", &start, &raw));
    EXPECT_FALSE(TrendFilePeriod("notes.txt", &start, &raw));
}

#ifndef _WIN32
// A writer killed at random moments while it appends: every file stays readable up to its last whole
// block, and the next writer continues it into a file that reads through.
TEST(TrendStore, KilledWriterLeavesReadableFiles)
{
    Folder folder;
    std::mt19937 random(42);
    uint64_t rounds = 0;
    for (int run = 0; run < 6; ++run) {
        int ready[2];
        ASSERT_EQ(0, ::pipe(ready));
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            std::atomic<uint64_t> now { kStart + static_cast<uint64_t>(run) * 3600000 };
            TrendStore store(folder.path, [&] { return now.load(); });
            std::vector<uint32_t> series;
            for (int i = 0; i < 200; ++i)
                series.push_back(store.Series(kDevice, "Item" + std::to_string(i), kTrendGauge));
            // Each run has an hour of its own: at 5 s a round, 700 rounds stay inside it however fast
            // this machine writes them; then the writer waits for its end.
            for (uint32_t round = 0;; ++round) {
                if (round == 700)
                    for (;;)
                        ::pause();
                for (uint32_t h : series)
                    store.Note(h, round);
                now += 5000;
                store.Flush();
                if (round == 2) {
                    char c = 'r';
                    if (::write(ready[1], &c, 1) != 1)
                        ::_exit(2);
                }
            }
        }
        ::close(ready[1]);
        char got;
        ASSERT_EQ(1, ::read(ready[0], &got, 1));
        ::close(ready[0]);
        ::usleep(std::uniform_int_distribution<int>(0, 20000)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        // The three rounds written before the child said it was ready read back.
        TrendSeriesData d;
        uint32_t runStart = static_cast<uint32_t>((kStart + static_cast<uint64_t>(run) * 3600000) / 1000);
        ASSERT_EQ(1, TrendRead(folder.path, kDevice, "Item0", runStart, runStart + 3599, &d));
        EXPECT_GE(Values(d).size(), 3u) << "run " << run;
        for (size_t i = 1; i < Values(d).size(); ++i)
            EXPECT_EQ(Values(d)[i - 1] + 1, Values(d)[i]) << "run " << run;
        ++rounds;
    }
    // A writer of this process continues the last run's files; afterwards they read through to their end.
    uint64_t last = kStart + 5 * 3600000 + 1000;
    {
        TrendStore store(folder.path, [&] { return last; });
        for (int i = 0; i < 200; ++i)
            store.Note(store.Series(kDevice, "Item" + std::to_string(i), kTrendGauge), 7);
    }
    std::string device = TrendDeviceDir(folder.path, kDevice) + "/";
    for (std::string name : { TrendRawFileName(last / 1000), TrendAverageFileName(last / 1000) }) {
        std::string data;
        ASSERT_EQ(1, FileReadAll(device + name, &data));
        TrendFileContents c;
        EXPECT_EQ(1, TrendParse(data, &c)) << name;
    }
    TrendSeriesData d;
    ASSERT_EQ(1,
        TrendRead(folder.path, kDevice, "Item199", static_cast<uint32_t>(last / 1000),
            static_cast<uint32_t>(last / 1000), &d));
    ASSERT_FALSE(d.points.empty());
    EXPECT_EQ(7, d.points.back().value);
    EXPECT_EQ(6u, rounds);
}
#endif
