// The monitor engine with the shipped scripts polling N simulated Morvak 2400s against the bare SNMP
// engine polling the same OIDs at the same intervals, in the same run. Each client runs in a child
// process pinned to CPU 0, the simulated fleet in the parent on CPU 1. The engine's child records what it
// polled (address, OID, interval of every subscribed item OID) once its tree has settled; the bare
// engine's child then polls exactly those, re-arming each in its callback as the engine does.
//
// Figures: CPU seconds (user and system, getrusage, the whole process) per 100,000 notifications (SNMP
// callbacks: one per polled OID answered; the engine also shows how many item notifications its front
// end handled, far fewer: one waiting notification per item is enough, and an answer that brings an
// object's value again is re-armed on the SNMP worker) and their RATIO (aim 2), and the
// largest N at which the engine keeps every device (none given up) and gets at least 80% of the answers
// its polls call for, on one core.
//
//   monitor_engine [--seconds S] [--sizes N,N,...] [--script-intervals] [--keep-rounds R]
//
// By default every item is polled once a second (its refresh times set to 1 s); --script-intervals keeps
// the scripts' own times (5 to 60 s), so that far fewer notifications come per device.
//
// Each size also runs the engine a second time keeping the polled values (the kept-values store with its
// writer thread, in the same child, so its processor time counts): the RATIO of CPU per notification with
// and without keeping (aim at most 1.10), and what it wrote.
#include "monitor/engine/engine.h"
#include "monitor/engine/trend_store.h"
#include "monitor/snmp/snmp.h"
#include "sim/snmp/sim_snmp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
const uint32_t kFirstDevice = 0x7F020001; // 127.2.0.1 and up
const auto kSettle = std::chrono::milliseconds(6500);

void PinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

double CpuNow()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

struct Result {
    uint64_t notifications = 0; // the engine: item notifications handled; the bare engine: callbacks
    uint64_t callbacks = 0; // the engine: SNMP callbacks of its items (one per polled OID answered)
    uint64_t givenUp = 0;
    uint64_t polls = 0; // subscribed OIDs (engine)
    double expectedPerSecond = 0; // notifications its intervals call for
    double seconds = 0;
    double cpu = 0;
    uint64_t kept = 0; // notes the kept-values store took (keeping runs)
    uint64_t bytes = 0; // what it wrote
};

// One polled OID, as the engine polled it.
struct PollRecord {
    uint32_t address;
    uint32_t intervalMs;
    uint32_t length;
    uint8_t bytes[64];
};

void OneSecond(std::vector<std::unique_ptr<ItemObject>>& items)
{
    for (auto& item : items) {
        if (item->refresh.empty())
            item->refresh.push_back({});
        for (ItemRefresh& r : item->refresh)
            r.interval = 10;
        OneSecond(item->children);
    }
}

void Collect(EngineDevice& d, const std::vector<std::unique_ptr<EngineItem>>& items, std::vector<PollRecord>* out)
{
    for (const auto& item : items) {
        for (const EngineOid& o : item->oids) {
            if (!o.subscribed || o.oid.length > 64)
                continue;
            const ItemRefresh* r = item->object->Refresh(item->state);
            PollRecord p {};
            p.address = d.address;
            p.intervalMs = r ? r->interval * 100 : 0;
            p.length = o.oid.length;
            std::memcpy(p.bytes, o.oid.bytes, o.oid.length);
            if (p.intervalMs)
                out->push_back(p);
        }
        Collect(d, item->children, out);
    }
}

uint64_t FolderBytes(const std::string& dir)
{
    // The files' own sizes (the device folders' directory blocks are not what the store writes).
    std::string command
        = "find " + dir + " -type f -printf '%s\\n' 2>/dev/null | awk '{ n += $1 } END { print n + 0 }'";
    FILE* p = popen(command.c_str(), "r");
    unsigned long long n = 0;
    if (p) {
        if (fscanf(p, "%llu", &n) != 1)
            n = 0;
        pclose(p);
    }
    return n;
}

Result RunEngine(
    int devices, uint16_t port, int seconds, bool scriptIntervals, bool keep, std::vector<PollRecord>* polls)
{
    ScriptLoadAll(std::string(SUITE_SOURCE_DIR) + "/data/talv*.dsc", "English");
    SnmpStartOptions options;
    options.agentPort = port;
    if (!SnmpStartWith(options))
        std::exit(1);
    EngineWaitingFrontEnd front;
    front.queryAnswer = true;
    char dir[] = "/tmp/monitor-engine-XXXXXX";
    if (!mkdtemp(dir))
        std::exit(1);
    EngineSettings settings;
    settings.listPath = std::string(dir) + "/talvine.lst";
    settings.settingsPath = std::string(dir) + "/talvine.ini";
    Result r;
    {
        TrendStore trends(TrendStoreDir(dir));
        if (keep) {
            trends.StartWriter();
            settings.trends = &trends;
        }
        Engine engine(settings, &front);
        for (int i = 0; i < devices; ++i) {
            EngineDevice* d = engine.AddKnownDevice(SnmpAddressFromHost(kFirstDevice + i), "private", "Morvak 2400");
            if (!d)
                std::exit(1);
            if (!scriptIntervals)
                OneSecond(d->object->items);
        }
        engine.StartAll();
        auto begin = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < begin + kSettle) {
            engine.Process();
            front.WaitMs(100);
        }
        polls->clear();
        for (const auto& d : engine.Devices())
            Collect(*d, d->items, polls);
        for (const PollRecord& p : *polls)
            r.expectedPerSecond += 1000.0 / p.intervalMs;
        r.polls = polls->size();
        double cpu = CpuNow();
        uint64_t callbacks = engine.Callbacks();
        auto start = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < start + std::chrono::seconds(seconds)) {
            r.notifications += engine.Process();
            front.WaitMs(100);
        }
        r.cpu = CpuNow() - cpu;
        r.callbacks = engine.Callbacks() - callbacks;
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const auto& d : engine.Devices())
            r.givenUp += d->noAnswer.load() || !d->registered ? 1 : 0;
        SnmpStop(); // before the engine goes: no callback runs while it is freed
        r.kept = trends.NotesTaken();
    }
    r.bytes = FolderBytes(TrendStoreDir(dir));
    std::string rm = std::string("rm -rf ") + dir;
    if (std::system(rm.c_str()) != 0)
        std::fprintf(stderr, "cannot remove %s\n", dir);
    return r;
}

// --- the bare SNMP engine -------------------------------------------------------------------------------

std::atomic<uint64_t> g_bindings { 0 };
std::atomic<uint64_t> g_failures { 0 };

struct BarePoll {
    SnmpOid oid;
    uint32_t address;
    uint32_t intervalMs;
};

void Rearm(void* context, int status)
{
    auto* p = static_cast<BarePoll*>(context);
    auto& counter = status == -1 ? g_failures : g_bindings;
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    SnmpSubscribe(p->oid, p->address, "private", p->intervalMs, p, Rearm);
}

Result RunBare(const std::vector<PollRecord>& records, uint16_t port, int seconds)
{
    SnmpStartOptions options;
    options.agentPort = port;
    if (!SnmpStartWith(options))
        std::exit(1);
    std::vector<BarePoll> polls(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        polls[i].oid.length = records[i].length;
        std::memcpy(polls[i].oid.bytes, records[i].bytes, records[i].length);
        polls[i].address = records[i].address;
        polls[i].intervalMs = records[i].intervalMs;
        SnmpSubscribe(polls[i].oid, polls[i].address, "private", 1, &polls[i], Rearm);
    }
    std::this_thread::sleep_for(kSettle);
    Result r;
    uint64_t start = g_bindings;
    double cpu = CpuNow();
    auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    r.cpu = CpuNow() - cpu;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    r.notifications = g_bindings - start;
    r.givenUp = g_failures;
    SnmpStop();
    return r;
}

// Runs the engine in a child on CPU 0: its result and what it polled.
Result MeasureEngine(
    int devices, uint16_t port, int seconds, bool scriptIntervals, bool keep, std::vector<PollRecord>* polls)
{
    int fd[2];
    if (pipe(fd) != 0)
        std::exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        PinTo(0);
        std::vector<PollRecord> mine;
        Result r = RunEngine(devices, port, seconds, scriptIntervals, keep, &mine);
        uint64_t n = mine.size();
        if (write(fd[1], &r, sizeof r) != sizeof r || write(fd[1], &n, sizeof n) != sizeof n)
            _exit(1);
        for (const PollRecord& p : mine)
            if (write(fd[1], &p, sizeof p) != sizeof p)
                _exit(1);
        _exit(0);
    }
    close(fd[1]);
    Result r;
    uint64_t n = 0;
    FILE* in = fdopen(fd[0], "rb");
    if (fread(&r, sizeof r, 1, in) != 1 || fread(&n, sizeof n, 1, in) != 1)
        r.givenUp = ~0ull;
    polls->resize(n);
    if (n && fread(polls->data(), sizeof(PollRecord), n, in) != n)
        polls->clear();
    fclose(in);
    int status;
    waitpid(pid, &status, 0);
    return r;
}

Result MeasureBare(const std::vector<PollRecord>& polls, uint16_t port, int seconds)
{
    int fd[2];
    if (pipe(fd) != 0)
        std::exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        PinTo(0);
        Result r = RunBare(polls, port, seconds);
        if (write(fd[1], &r, sizeof r) != sizeof r)
            _exit(1);
        _exit(0);
    }
    close(fd[1]);
    Result r;
    if (read(fd[0], &r, sizeof r) != sizeof r)
        r.givenUp = ~0ull;
    close(fd[0]);
    int status;
    waitpid(pid, &status, 0);
    return r;
}

uint16_t FreePort(uint32_t ip)
{
    UdpSocket s;
    s.Open();
    s.Bind(ip, 0);
    return s.LocalAddress()->port;
}
} // namespace

int main(int argc, char** argv)
{
    int seconds = 5;
    bool scriptIntervals = false;
    int keepRounds = 2;
    std::vector<int> sizes = { 100, 250, 500, 1000 };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--script-intervals") == 0)
            scriptIntervals = true;
        else if (i + 1 < argc && std::strcmp(argv[i], "--keep-rounds") == 0)
            keepRounds = std::max(1, std::atoi(argv[++i]));
        else if (i + 1 < argc && std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (i + 1 < argc && std::strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            for (char* p = argv[++i]; *p;) {
                sizes.push_back(static_cast<int>(std::strtol(p, &p, 10)));
                if (*p == ',')
                    ++p;
            }
        }
    }
    int largest = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    std::string error;
    auto mib = SimMibLoad(std::string(SUITE_SOURCE_DIR) + "/sim/snmp/data/morvak2400.mib", &error);
    if (!mib) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    PinTo(1);
    SimSnmpServer fleet;
    uint16_t port = FreePort(kFirstDevice);
    for (int i = 0; i < largest; ++i) {
        SimSnmpDeviceConfig c;
        c.address = kFirstDevice + static_cast<uint32_t>(i);
        c.port = port;
        c.name = "bench-" + std::to_string(i);
        if (!fleet.AddDevice(c, mib))
            return 1;
    }
    fleet.Start();
    std::printf("%s; %d s measured per client and size\n",
        scriptIntervals ? "the scripts' refresh times" : "every item polled once a second", seconds);
    std::printf("devices  client  polled-oids  expected/s  callbacks/s  notifications/s  given-up  cpu-s  "
                "cpu-s/100k-callbacks\n");
    int sustained = 0;
    for (int n : sizes) {
        std::vector<PollRecord> polls;
        Result e = MeasureEngine(n, port, seconds, scriptIntervals, false, &polls);
        Result b = MeasureBare(polls, port, seconds);
        double ePer = e.callbacks ? e.cpu / e.callbacks * 100000.0 : 0;
        // Keeping values against not keeping them, in turn (--keep-rounds, default 2): the lowest figure of
        // each counts (other processes on the machine only ever add to a run's time).
        std::vector<PollRecord> keptPolls;
        Result k = MeasureEngine(n, port, seconds, scriptIntervals, true, &keptPolls);
        double kPer = k.callbacks ? k.cpu / k.callbacks * 100000.0 : 0;
        double plainPer = ePer;
        for (int round = 1; round < keepRounds; ++round) {
            Result e2 = MeasureEngine(n, port, seconds, scriptIntervals, false, &keptPolls);
            Result k2 = MeasureEngine(n, port, seconds, scriptIntervals, true, &keptPolls);
            std::printf("%7d  round %d: keeping %.4f, not keeping %.4f\n", n, round + 1,
                k2.callbacks ? k2.cpu / k2.callbacks * 100000.0 : 0,
                e2.callbacks ? e2.cpu / e2.callbacks * 100000.0 : 0);
            if (e2.callbacks)
                plainPer = std::min(plainPer, e2.cpu / e2.callbacks * 100000.0);
            if (k2.callbacks && (kPer == 0 || k2.cpu / k2.callbacks * 100000.0 < kPer)) {
                k = k2;
                kPer = k2.cpu / k2.callbacks * 100000.0;
            }
        }
        double bPer = b.notifications ? b.cpu / b.notifications * 100000.0 : 0;
        std::printf("%7d  engine  %11llu  %10.0f  %11.0f  %15.0f  %8llu  %5.2f  %9.4f\n", n,
            static_cast<unsigned long long>(e.polls), e.expectedPerSecond, e.callbacks / e.seconds,
            e.notifications / e.seconds, static_cast<unsigned long long>(e.givenUp), e.cpu, ePer);
        std::printf("%7d  bare    %11zu  %10.0f  %11.0f  %15s  %8llu  %5.2f  %9.4f\n", n, polls.size(),
            e.expectedPerSecond, b.notifications / b.seconds, "-", static_cast<unsigned long long>(b.givenUp), b.cpu,
            bPer);
        std::printf("%7d  keeping %11llu  %10.0f  %11.0f  %15.0f  %8llu  %5.2f  %9.4f  (kept %llu values, "
                    "%llu bytes written)\n",
            n, static_cast<unsigned long long>(k.polls), k.expectedPerSecond, k.callbacks / k.seconds,
            k.notifications / k.seconds, static_cast<unsigned long long>(k.givenUp), k.cpu, kPer,
            static_cast<unsigned long long>(k.kept), static_cast<unsigned long long>(k.bytes));
        if (bPer > 0 && ePer > 0)
            std::printf("%7d  RATIO engine/bare CPU per notification (SNMP callback) = %.2f\n", n, ePer / bPer);
        if (plainPer > 0 && kPer > 0)
            std::printf("%7d  RATIO keeping/not keeping values, engine CPU per notification = %.3f (best of the "
                        "rounds: %.4f against %.4f)\n",
                n, kPer / plainPer, kPer, plainPer);
        if (e.givenUp == 0 && e.callbacks / e.seconds >= 0.8 * e.expectedPerSecond)
            sustained = n;
        std::fflush(stdout);
    }
    fleet.Stop();
    std::printf("largest N polled as its items ask, none given up, on one core: %d\n", sustained);
    return 0;
}
