// The configuration history's costs, each against its own yardstick in the same run:
//  - a write job to a simulated device with the history kept against the same job without it (the
//    ratio of the medians; aim: at most 1.05), devices restarting in --restart-ms (default 3000, as
//    the simulator's devices do; the 4 s pause before the restart check is skipped);
//  - listing 10,000 kept versions with their comments, as `qorvexal-cli history` does (aim: 1 s);
//  - comparing two 20,000-line configurations read into their descriptions (aim: 0.5 s).
// build/native/bin/history_bench [--rounds N] [--restart-ms MS] [--skip-write]
#include "config/frontend/history.h"

#include "bench/config_generated.h"
#include "common/clock.h"
#include "common/diag.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"
#include "config/frontend/history_diff.h"
#include "config/frontend/jobs.h"
#include "device/tftp.h"
#include "sim/simfleet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
using Steady = std::chrono::steady_clock;

double Seconds(Steady::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Real time, but the operations' fixed pauses return at once; the devices' restart still takes its time.
class SkipClock : public Clock {
public:
    uint32_t TickMs() override
    {
        return SystemClock().TickMs() + skipped_.load();
    }
    void SleepMs(uint32_t ms) override
    {
        if (ms >= 1000)
            skipped_ += ms;
        else
            SystemClock().SleepMs(ms);
    }

private:
    std::atomic<uint32_t> skipped_ { 0 };
};

CfgTempStream Stream(const std::string& text)
{
    CfgTempStream s;
    s.Open();
    s.Write(text);
    s.Rewind();
    return s;
}

int WriteJobs(int rounds, uint32_t restartMs, const std::string& scratch)
{
    std::string data = FileProgramDirectory() + "/";
    CfgStartIndex(data + "qorv????.dsc", data + "qorv????.wiz");
    CfgWaitIndex();
    NetStartup();
    SkipClock clock;
    TftpEnvironment env;
    env.clock = &clock;
    TftpSetEnvironment(env);

    SimFleet fleet;
    SimSettings s;
    s.dir = scratch + "/sim";
    s.port = static_cast<uint16_t>(30000 + getpid() % 20000);
    s.count = 1;
    s.address = 0x7f5b0001; // 127.91.0.1
    s.device.restartMs = restartMs;
    std::string error;
    if (!fleet.Start(s, &error)) {
        std::fprintf(stderr, "history_bench: simulator: %s\n", error.c_str());
        return 1;
    }
    std::atomic<bool> stop { false };
    std::thread server([&] { fleet.Run(stop); });

    JobContext context;
    context.options.easy_config = 0;
    HistSettings history;
    history.root = scratch + "/History";
    history.maxVersions = 100;
    std::vector<double> with, without;
    int failed = 0;
    for (int round = 0; round < rounds * 2 && failed == 0; ++round) {
        bool keep = round % 2 == 1;
        DeviceEntry e;
        e.address = e.address_list[0] = s.address;
        e.port = s.port;
        e.timeout_s = 2;
        DeviceEntry* chain[] = { &e };
        DeviceJob job;
        job.count = 1;
        job.first = chain[0];
        context.options.history = HistSettings {};
        RunDeviceJob(JobCheck, job, 0, nullptr, context);
        if (int32_t read = RunDeviceJob(JobReadConfig, job, 0, nullptr, context); read != JobReadOk) {
            std::fprintf(stderr, "history_bench: read job result %d, status %d\n", read, e.status.load());
            ++failed;
            break;
        }
        context.options.history = keep ? history : HistSettings {};
        auto t0 = Steady::now();
        int32_t result = RunDeviceJob(JobWriteConfig, job, 0, nullptr, context);
        double t = Seconds(Steady::now() - t0);
        RunDeviceJob(JobRelease, job, 0, nullptr, context);
        if (result != JobWriteOk) {
            std::fprintf(stderr, "history_bench: write job result %d\n", result);
            ++failed;
        }
        (keep ? with : without).push_back(t);
        std::printf("  write job %s history: %.4f s\n", keep ? "with   " : "without", t);
    }
    stop = true;
    server.join();
    TftpSetEnvironment(TftpEnvironment {});
    CfgStopIndex();
    if (failed)
        return 1;
    size_t kept = 0;
    for (const auto& entry : fs::directory_iterator(history.root))
        kept += HistList(entry.path().string(), false).size();
    double a = Median(with), b = Median(without);
    std::printf("write job (restart %u ms): median %.4f s with history, %.4f s without, %zu versions kept\n", restartMs,
        a, b, kept);
    std::printf("RATIO write with/without history: %.4f (aim: at most 1.05)\n", b > 0 ? a / b : 0);
    return 0;
}

int Listing(int rounds, const std::string& scratch)
{
    std::string folder = scratch + "/list/SN-BENCH";
    fs::create_directories(folder);
    std::string body = CfgFileHeaderText("MORVAK-0001", "Morvak 1100", "3.10", 0xFFFFFFFFu, 0);
    for (int i = 0; i < 40; ++i)
        body += StrFormat("  /sys/item%02d = value %d\r\n", i, i);
    for (unsigned n = 1; n <= 10000; ++n) {
        std::string path
            = folder + StrFormat("/%06u_20261209-%02u%02u%02u_write.lcf", n, n / 3600 % 24, n / 60 % 60, n % 60);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) {
            std::fprintf(stderr, "history_bench: cannot write %s\n", path.c_str());
            return 1;
        }
        std::fwrite(body.data(), 1, body.size(), f);
        std::fclose(f);
    }
    double best = 1e9;
    size_t shown = 0;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Steady::now();
        std::vector<HistVersion> versions = HistList(folder);
        std::string out;
        for (const HistVersion& v : versions)
            out += StrFormat("%7u  %s  %-11s %9llu  ", v.number, HistTimeText(v.time).c_str(), v.source.c_str(),
                       static_cast<unsigned long long>(v.size))
                + v.comment + "\n";
        best = std::min(best, Seconds(Steady::now() - t0));
        shown = versions.size();
    }
    std::printf("history of %zu versions listed with comments: best %.4f s of %d (aim: 1 s)\n", shown, best, rounds);
    return shown == 10000 ? 0 : 1;
}

int Compare(int rounds)
{
    const std::string description = bench::DescriptionText();
    std::string text = bench::ConfigText();
    // The second configuration: every tenth value line changed.
    std::string changed;
    size_t lines = 0, at = 0, edits = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
        at = end == std::string::npos ? text.size() : end + 1;
        size_t eq = line.find(" = ");
        if (eq != std::string::npos && ++lines % 10 == 0 && line.find("bits") == std::string::npos) {
            line.insert(eq + 3, "x");
            ++edits;
        }
        changed += line;
    }
    double best = 1e9, bestCompare = 1e9;
    size_t count = 0;
    for (int round = 0; round < rounds; ++round) {
        auto t0 = Steady::now();
        auto fileA = CfgFile::FromText(description);
        auto fileB = CfgFile::FromText(description);
        CfgDescriptionPtr a = CfgLoadDescriptionFrom(*fileA, "Bench 1.0", nullptr, 0xFFFFFFFFu, 0, false);
        CfgDescriptionPtr b = CfgLoadDescriptionFrom(*fileB, "Bench 1.0", nullptr, 0xFFFFFFFFu, 0, false);
        if (!a || !b) {
            std::fprintf(stderr, "history_bench: the generated description did not load\n");
            return 1;
        }
        CfgTempStream ta = Stream(text), tb = Stream(changed);
        CfgReadFile(ta, *a);
        CfgReadFile(tb, *b);
        auto t1 = Steady::now();
        std::vector<HistChange> changes = HistCompare(*a, *b);
        std::string out = HistChangesText(changes);
        auto t2 = Steady::now();
        best = std::min(best, Seconds(t2 - t0));
        bestCompare = std::min(bestCompare, Seconds(t2 - t1));
        count = changes.size();
    }
    size_t textLines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    std::printf("diff of two %zu-line configurations (%zu values edited, %zu changes): best %.4f s with loading "
                "both, %.4f s comparing and printing (aim: 0.5 s)\n",
        textLines, edits, count, best, bestCompare);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    uint32_t restartMs = 3000;
    bool skipWrite = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--restart-ms") && i + 1 < argc)
            restartMs = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--skip-write"))
            skipWrite = true;
        else {
            std::fprintf(stderr, "usage: history_bench [--rounds N] [--restart-ms MS] [--skip-write]\n");
            return 2;
        }
    }
    DiagSetSink([](const std::string&) {});
    std::string scratch
        = (fs::temp_directory_path() / StrFormat("history_bench_%d", static_cast<int>(getpid()))).string();
    fs::remove_all(scratch);
    int rc = Compare(rounds);
    if (rc == 0)
        rc = Listing(rounds, scratch);
    if (rc == 0 && !skipWrite)
        rc = WriteJobs(rounds, restartMs, scratch);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return rc;
}
