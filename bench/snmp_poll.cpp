// The SNMP engine polling N simulated devices (32 objects each, once a second) against a client built on
// net-snmp's asynchronous API doing the same polling, in the same run. Each client runs in a child
// process pinned to one core; the simulated fleet runs in the parent on the other core. Prints the CPU
// seconds per 100,000 variable bindings of each and their ratio, split into user and system (kernel)
// time as getrusage counts them in each child, and the largest N each sustains without a given-up device.
// Each size runs R rounds of S seconds; a round measures both clients, in alternating order, and the
// ratio is that of the two clients' medians (with the minimum and maximum of each, and of single rounds).
//
//   snmp_poll [--rounds R] [--seconds S] [--sizes N,N,...] [--only engine|net-snmp]
//
// Instruction counts, which stay steady on a busy machine: under callgrind the measured span of each
// client is dumped as a part of its own (the settling second and the start-up are zeroed away), e.g.
//   valgrind --tool=callgrind --callgrind-out-file=/tmp/cg.%p snmp_poll --only engine --rounds 1 --seconds 5 --sizes
//   200
// then the child's /tmp/cg.<pid>.1 "summary:" divided by the bindings printed is instructions per binding.
// From a thousand devices on, cache misses weigh as much as instructions; callgrind simulates them with a
// last level small enough to feel the pressure at a size it can still poll in time (no device given up):
//   valgrind --tool=callgrind --cache-sim=yes --D1=49152,12,64 --LL=1048576,16,64 ... --sizes 400
// then (DLmr + DLmw) of the summary divided by the bindings is last-level misses per binding.
#include "monitor/snmp/snmp.h"
#include "sim/snmp/sim_snmp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

namespace {
const uint32_t kFirstDevice = 0x7F010001; // 127.1.0.1 and up
const int kObjects = 32;
// Before the measured span: two rounds of polls, and half a second more so that the span's edges fall
// between rounds (a span aligned with the rounds would count one round more or less by chance).
const auto kSettle = std::chrono::milliseconds(2500);

void PinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    sched_setaffinity(0, sizeof set, &set);
}

struct Result {
    uint64_t bindings = 0;
    uint64_t givenUp = 0;
    double seconds = 0; // measured polling time
    double cpu = 0; // CPU seconds of the process within it (user and system)
    double user = 0; // of which in user space
    double system = 0; // of which in the kernel (system calls, datagrams, wake-ups)
    uint64_t wakeups = 0; // voluntary context switches: how often the process slept and was woken
};

struct CpuTimes {
    double user = 0;
    double system = 0;
    uint64_t wakeups = 0;
};

CpuTimes CpuNow()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return { u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6, u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6,
        static_cast<uint64_t>(u.ru_nvcsw) };
}

// Fills the CPU figures of a measured span that began at `start`.
void SpanCpu(const CpuTimes& start, Result* r)
{
    CpuTimes end = CpuNow();
    r->user = end.user - start.user;
    r->system = end.system - start.system;
    r->cpu = r->user + r->system;
    r->wakeups = end.wakeups - start.wakeups;
}

// --- the engine -----------------------------------------------------------------------------------------

// Counted by the worker alone (callbacks run on it) and read by the main thread: a plain increment of an
// atomic, as net-snmp's client counts with a plain one (a locked increment per binding cost more than some
// of the engine's own steps).
std::atomic<uint64_t> g_bindings { 0 };
std::atomic<uint64_t> g_failures { 0 };

void Count(std::atomic<uint64_t>& counter)
{
    counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// One polled object of one device. The OIDs are kept once for all devices, as net-snmp's client keeps
// them (a 260-byte OID per object and device made every callback a cache miss of the benchmark's own).
struct Poll {
    const SnmpOid* oid;
    uint32_t address;
};

void Rearm(void* context, int status)
{
    auto* p = static_cast<Poll*>(context);
    if (status == 0)
        Count(g_bindings);
    else
        Count(g_failures);
    SnmpSubscribe(*p->oid, p->address, "public", 1000, p, Rearm); // polled again a second later
}

Result RunEngine(int devices, uint16_t port, int seconds)
{
    SnmpStartOptions options;
    options.agentPort = port;
    if (!SnmpStartWith(options)) {
        std::fprintf(stderr, "engine: cannot start\n");
        std::exit(1);
    }
    auto begin = std::chrono::steady_clock::now();
    std::vector<std::string> texts = SimPolledObjects();
    std::vector<SnmpOid> oids(texts.size());
    for (size_t o = 0; o < texts.size(); ++o)
        SnmpOidFromText(texts[o].c_str(), &oids[o]);
    std::vector<Poll> polls(static_cast<size_t>(devices) * kObjects);
    for (int d = 0; d < devices; ++d)
        for (int o = 0; o < kObjects; ++o) {
            Poll& p = polls[static_cast<size_t>(d) * kObjects + o];
            p.oid = &oids[o];
            p.address = SnmpAddressFromHost(kFirstDevice + d);
            SnmpSubscribe(*p.oid, p.address, "public", 1000, &p, Rearm);
        }
    // The polls come in one burst a second (the first a second after subscribing); the measured span
    // begins and ends half-way between two bursts, after two of them have settled the memory in use.
    std::this_thread::sleep_until(begin + kSettle);
    CALLGRIND_ZERO_STATS;
    uint64_t startBindings = g_bindings;
    CpuTimes startCpu = CpuNow();
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    CALLGRIND_DUMP_STATS_AT("engine measured span");
    Result r;
    SpanCpu(startCpu, &r);
    r.bindings = g_bindings - startBindings;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.givenUp = g_failures;
    SnmpStop();
    return r;
}

// --- net-snmp's asynchronous API ------------------------------------------------------------------------

struct NsDevice {
    netsnmp_session* session = nullptr;
    bool outstanding = false;
};
uint64_t g_nsBindings = 0;
uint64_t g_nsGivenUp = 0;

int NsCallback(int operation, netsnmp_session*, int, netsnmp_pdu* pdu, void* magic)
{
    auto* d = static_cast<NsDevice*>(magic);
    d->outstanding = false;
    if (operation == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE) {
        if (pdu->errstat == SNMP_ERR_NOERROR)
            for (netsnmp_variable_list* v = pdu->variables; v; v = v->next_variable)
                ++g_nsBindings;
    } else {
        ++g_nsGivenUp;
    }
    return 1;
}

Result RunNetSnmp(int devices, uint16_t port, int seconds)
{
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    init_snmp("snmp_poll");
    std::vector<std::string> texts = SimPolledObjects();
    std::vector<std::vector<oid>> oids;
    for (const std::string& t : texts) {
        oid buffer[MAX_OID_LEN];
        size_t length = MAX_OID_LEN;
        read_objid(t.c_str(), buffer, &length);
        oids.emplace_back(buffer, buffer + length);
    }
    std::vector<NsDevice> devs(static_cast<size_t>(devices));
    char community[] = "public";
    for (int i = 0; i < devices; ++i) {
        netsnmp_session s;
        snmp_sess_init(&s);
        s.version = SNMP_VERSION_1;
        std::string peer = NetAddressText(kFirstDevice + i) + ":" + std::to_string(port);
        s.peername = const_cast<char*>(peer.c_str());
        s.community = reinterpret_cast<u_char*>(community);
        s.community_len = std::strlen(community);
        s.callback = NsCallback;
        s.callback_magic = &devs[i];
        s.timeout = 1000000; // 1 s, 3 retries: given up after 4 sends, as the engine does
        s.retries = 3;
        devs[i].session = snmp_open(&s);
        if (!devs[i].session) {
            std::fprintf(stderr, "net-snmp: cannot open session %d\n", i);
            std::exit(1);
        }
    }
    auto now = [] { return std::chrono::steady_clock::now(); };
    auto begin = now();
    auto measureFrom = begin + kSettle; // half-way between two rounds, as for the engine
    auto end = measureFrom + std::chrono::seconds(seconds);
    auto nextRound = begin;
    uint64_t startBindings = 0;
    CpuTimes startCpu;
    bool measuring = false;
    netsnmp_large_fd_set fdset;
    netsnmp_large_fd_set_init(&fdset, devices + 64);
    while (now() < end) {
        if (!measuring && now() >= measureFrom) {
            measuring = true;
            CALLGRIND_ZERO_STATS;
            startBindings = g_nsBindings;
            startCpu = CpuNow();
        }
        if (now() >= nextRound) {
            // Each device is asked for its 32 objects once a second (one at a time, like the engine).
            for (NsDevice& d : devs) {
                if (d.outstanding)
                    continue;
                netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
                for (const auto& o : oids)
                    snmp_add_null_var(pdu, o.data(), o.size());
                if (snmp_send(d.session, pdu))
                    d.outstanding = true;
                else
                    snmp_free_pdu(pdu);
            }
            nextRound += std::chrono::seconds(1);
        }
        int fds = 0, block = 0;
        struct timeval timeout = { 0, 0 };
        NETSNMP_LARGE_FD_ZERO(&fdset);
        snmp_select_info2(&fds, &fdset, &timeout, &block);
        auto untilRound = std::chrono::duration_cast<std::chrono::microseconds>(nextRound - now()).count();
        if (untilRound < 0)
            untilRound = 0;
        if (block || timeout.tv_sec * 1000000 + timeout.tv_usec > untilRound) {
            timeout.tv_sec = untilRound / 1000000;
            timeout.tv_usec = untilRound % 1000000;
        }
        int count = netsnmp_large_fd_set_select(fds, &fdset, nullptr, nullptr, &timeout);
        if (count > 0)
            snmp_read2(&fdset);
        else if (count == 0)
            snmp_timeout();
    }
    CALLGRIND_DUMP_STATS_AT("net-snmp measured span");
    Result r;
    SpanCpu(startCpu, &r);
    r.bindings = g_nsBindings - startBindings;
    r.seconds = seconds;
    r.givenUp = g_nsGivenUp;
    netsnmp_large_fd_set_cleanup(&fdset);
    for (NsDevice& d : devs)
        snmp_close(d.session);
    return r;
}

// Runs one client in a child process on CPU 0; its result.
Result Measure(bool engine, int devices, uint16_t port, int seconds)
{
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        std::exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFd[0]);
        PinTo(0);
        Result r = engine ? RunEngine(devices, port, seconds) : RunNetSnmp(devices, port, seconds);
        if (write(pipeFd[1], &r, sizeof r) != sizeof r)
            _exit(1);
        _exit(0);
    }
    close(pipeFd[1]);
    Result r;
    if (read(pipeFd[0], &r, sizeof r) != sizeof r)
        r.givenUp = ~0ull;
    close(pipeFd[0]);
    int status;
    waitpid(pid, &status, 0);
    return r;
}

// One client's figures over the rounds of one size: per-binding CPU (all, user, system) and wake-ups.
struct Series {
    std::vector<double> cpu, user, system, wakeups, cpuPerSecond;
    uint64_t givenUp = 0;
    double minRate = -1;
    void Add(const Result& r)
    {
        double per = r.bindings ? 100000.0 / r.bindings : 0;
        cpu.push_back(r.cpu * per);
        user.push_back(r.user * per);
        system.push_back(r.system * per);
        wakeups.push_back(r.wakeups / r.seconds);
        cpuPerSecond.push_back(r.cpu / r.seconds * 1000.0);
        givenUp += r.givenUp;
        double rate = r.bindings / r.seconds;
        if (minRate < 0 || rate < minRate)
            minRate = rate;
    }
};

struct Spread {
    double median, min, max;
};

Spread Of(std::vector<double> v)
{
    if (v.empty())
        return { 0, 0, 0 };
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return { median, v.front(), v.back() };
}

void PrintSummary(int n, const char* name, const Series& s)
{
    Spread cpu = Of(s.cpu), user = Of(s.user), system = Of(s.system), wake = Of(s.wakeups),
           perSecond = Of(s.cpuPerSecond);
    std::printf("%7d  %-8s  median %.4f (min %.4f, max %.4f)  user %.4f  sys %.4f  cpu-ms/s %.1f  wake-ups/s %.0f  "
                "given-up %llu\n",
        n, name, cpu.median, cpu.min, cpu.max, user.median, system.median, perSecond.median, wake.median,
        static_cast<unsigned long long>(s.givenUp));
}
} // namespace

int main(int argc, char** argv)
{
    int seconds = 4;
    int rounds = 5;
    int only = -1; // --only engine|net-snmp: measure one client (for profiling)
    std::vector<int> sizes = { 250, 500, 1000, 2000, 4000 };
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--only") == 0)
            only = std::strcmp(argv[i + 1], "engine") == 0 ? 0 : 1;
        else if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--sizes") == 0) {
            sizes.clear();
            for (char* p = argv[i + 1]; *p;) {
                sizes.push_back(static_cast<int>(std::strtol(p, &p, 10)));
                if (*p == ',')
                    ++p;
            }
        }
    }
    int largest = sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end());
    std::string error;
    auto mib = SimMibLoad(std::string(SUITE_SOURCE_DIR) + "/sim/snmp/data/morvak1100.mib", &error);
    if (!mib) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    // The fleet: one agent per loopback address, all on one port, served from CPU 1.
    PinTo(1);
    SimSnmpServer fleet;
    uint16_t port = 16170;
    for (int i = 0; i < largest; ++i) {
        SimSnmpDeviceConfig c;
        c.address = kFirstDevice + i;
        c.port = port;
        c.name = "bench-" + std::to_string(i);
        if (!fleet.AddDevice(c, mib))
            return 1;
    }
    fleet.Start();
    std::printf(
        "%d rounds of %d s per size; each round measures both clients, the order alternating\n", rounds, seconds);
    std::printf(
        "devices  client    round  bindings/s  given-up  cpu-s  user-s  sys-s  wake-ups/s  cpu-s/100k-bindings\n");
    const char* names[2] = { "engine", "net-snmp" };
    int sustained[2] = { 0, 0 };
    struct Ratio {
        int devices;
        Spread engine, netsnmp;
        double value, user, system;
        double roundMin, roundMax; // ratios of single rounds
    };
    std::vector<Ratio> ratios;
    for (int n : sizes) {
        Series series[2];
        std::vector<double> roundRatios;
        for (int round = 1; round <= rounds; ++round) {
            Result r[2];
            for (int step = 0; step < 2; ++step) {
                int which = (round % 2) ? step : 1 - step; // engine first in odd rounds, net-snmp in even ones
                if (only >= 0 && which != only)
                    continue;
                r[which] = Measure(which == 0, n, port, seconds);
                series[which].Add(r[which]);
                std::printf("%7d  %-8s  %5d  %10.0f  %8llu  %5.2f  %6.2f  %5.2f  %10.0f  %8.4f\n", n, names[which],
                    round, r[which].bindings / r[which].seconds, static_cast<unsigned long long>(r[which].givenUp),
                    r[which].cpu, r[which].user, r[which].system, r[which].wakeups / r[which].seconds,
                    r[which].bindings ? r[which].cpu / r[which].bindings * 100000.0 : 0);
                std::fflush(stdout);
            }
            if (only < 0 && r[0].bindings && r[1].bindings)
                roundRatios.push_back((r[0].cpu / r[0].bindings) / (r[1].cpu / r[1].bindings));
        }
        for (int which = 0; which < 2; ++which) {
            if (only >= 0 && which != only)
                continue;
            PrintSummary(n, names[which], series[which]);
            // Sustained: nobody given up and at least 80% of a poll a second delivered in every round.
            if (series[which].givenUp == 0 && series[which].minRate >= 0.8 * n * kObjects)
                sustained[which] = n;
        }
        // The ratio counts only where both clients kept every device (a given-up device skews the CPU).
        if (only < 0 && series[0].givenUp == 0 && series[1].givenUp == 0 && !roundRatios.empty()) {
            Ratio q { n, Of(series[0].cpu), Of(series[1].cpu), 0, 0, 0, 0, 0 };
            q.value = q.engine.median / q.netsnmp.median;
            q.user = Of(series[0].user).median / Of(series[1].user).median;
            q.system = Of(series[0].system).median / Of(series[1].system).median;
            Spread each = Of(roundRatios);
            q.roundMin = each.min;
            q.roundMax = each.max;
            ratios.push_back(q);
            std::printf("%7d  RATIO of medians = %.2f (user %.2f, system %.2f; single rounds %.2f to %.2f)\n", n,
                q.value, q.user, q.system, q.roundMin, q.roundMax);
        }
        std::fflush(stdout);
    }
    fleet.Stop();
    std::printf("\nRATIO = median engine CPU per binding / median net-snmp CPU per binding (lower is better; 0.50 = "
                "half the CPU)\n");
    for (const Ratio& q : ratios)
        std::printf("  RATIO at %5d devices: %.2f   engine %.4f (%.4f-%.4f)  net-snmp %.4f (%.4f-%.4f) cpu-s/100k\n",
            q.devices, q.value, q.engine.median, q.engine.min, q.engine.max, q.netsnmp.median, q.netsnmp.min,
            q.netsnmp.max);
    if (ratios.empty())
        std::printf("  RATIO: not measured (run both clients; a size counts only when neither gives up a device)\n");
    std::printf(
        "largest N sustained on one core: engine %d, net-snmp %d (of %d tried)\n", sustained[0], sustained[1], largest);
    return 0;
}
