// Benchmark: the device search and the merge of its results into the device list against the number of
// devices. For N simulated devices on loopback (morvaksim's fleet and search responder in this process),
// the search runs with a 3-second time-out and the time until all N were found is taken; then the N
// results are merged into a device list that already holds N/2 of them. The merge is measured against a
// peer in the same run: copying the N results into a new list of entries, the least any merge does.
// Prints per N: found, time to all found, merge and copy times and their ratio, and each time per
// device, which stays flat when the work grows linearly. Run by hand: bench/search_scale [N...]
// (default 1000 2500 5000 10000; needs about 2N+100 file descriptors).
#include "common/platform/net.h"
#include "common/text.h"
#include "device/devicelist.h"
#include "device/search.h"
#include "sim/search.h"
#include "sim/simfleet.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

uint16_t FreePort()
{
    UdpSocket s;
    s.Open();
    s.Bind(0x7f000001, 0);
    return s.LocalAddress() ? s.LocalAddress()->port : 0;
}

// A list that already knows every second device (their entries are updated by the merge).
void Prefill(DeviceList& list, const std::vector<DeviceEntry>& results)
{
    for (size_t i = 0; i < results.size(); i += 2)
        list.Add(std::make_unique<DeviceEntry>(results[i]), nullptr);
}

bool Measure(uint32_t n)
{
    std::filesystem::path dir = std::filesystem::path(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp")
        / StrFormat("search_bench_%d_%u", static_cast<int>(getpid()), n);
    std::filesystem::remove_all(dir);
    SimSettings settings;
    settings.dir = dir.string();
    settings.count = n;
    settings.address = 0x7f600001;
    settings.port = FreePort();
    SimFleet fleet;
    SimSearchResponder responder;
    SimSearchOptions options;
    options.port = settings.port;
    std::string error;
    if (!fleet.Start(settings, &error) || !responder.Start(fleet, options, &error)) {
        std::fprintf(stderr, "search_scale: %u devices: %s\n", n, error.c_str());
        return false;
    }
    std::atomic<bool> stop { false };
    std::thread loop([&] { fleet.Run(stop); });

    SearchEnv env;
    env.port = settings.port;
    std::vector<DeviceEntry> results;
    std::atomic<int32_t> found { 0 };
    std::atomic<bool> done { false };
    double allFoundMs = -1;
    Clock::time_point begin = Clock::now();
    std::thread watch([&] {
        while (!done) {
            if (allFoundMs < 0 && found.load() >= static_cast<int32_t>(n))
                allFoundMs = Ms(Clock::now() - begin);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    DeviceSearchNet(results, SIZE_MAX, 0x7fffffffu, 3000, &found, nullptr, env);
    done = true;
    watch.join();
    stop = true;
    loop.join();
    responder.Stop();

    // The merge, best of five, against the copy, best of five.
    double merge = 1e300, copy = 1e300;
    for (int round = 0; round < 5; ++round) {
        std::vector<DeviceEntry> work = results;
        DeviceList list;
        Prefill(list, work);
        Clock::time_point t0 = Clock::now();
        SearchMergeResult m = DeviceSearchMerge(list, work, nullptr);
        merge = std::min(merge, Ms(Clock::now() - t0));
        if (m.new_devices + static_cast<int>(m.updated.size()) + m.conflicts != static_cast<int>(results.size()))
            std::fprintf(stderr, "search_scale: the merge lost devices\n");

        DeviceList peer;
        Prefill(peer, results);
        t0 = Clock::now();
        for (const DeviceEntry& e : results)
            peer.Add(std::make_unique<DeviceEntry>(e), nullptr);
        copy = std::min(copy, Ms(Clock::now() - t0));
    }
    std::printf("%6u devices: found %6zu, all after %7.1f ms | merge %7.2f ms (%5.2f us/device), copy %7.2f ms "
                "(%5.2f us/device), merge/copy %.2f\n",
        n, results.size(), allFoundMs, merge, merge * 1000 / n, copy, copy * 1000 / n, merge / copy);
    std::fflush(stdout);
    std::filesystem::remove_all(dir);
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    // Two sockets per device; a privileged run may go beyond the hard limit.
    rlimit limit;
    rlimit wanted { 2 * 10000 + 1000, 2 * 10000 + 1000 };
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < wanted.rlim_cur
        && setrlimit(RLIMIT_NOFILE, &wanted) != 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    NetStartup();
    std::vector<uint32_t> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty())
        sizes = { 1000, 2500, 5000, 10000 };
    for (uint32_t n : sizes)
        if (!Measure(n))
            return 1;
    return 0;
}
