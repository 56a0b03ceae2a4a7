// Benchmark: the states and texts of the shipped scripts' items for 64,000 notifications, against the
// SNMP engine's own CPU for delivering the values they read, in the same run. A fleet of simulated
// Morvak 2400s (the simulator's agents on loopback, on a thread of their own) is polled by the engine
// through the objects every item of the shipped script uses, each once a second; each answer is one
// notification. The engine's cost is the CPU time of its worker thread per delivered binding; the
// scripts' cost is the CPU time of evaluating one item's state and text from the engine's cache (as the
// monitor does for every notification).
//
//   objtree_states [--devices N] [--seconds S] [--show]
//
// --show prints the first device's items (reference, state, text) as they were evaluated.
#include "common/diag.h"
#include "common/platform/net.h"
#include "monitor/objtree/objtree.h"
#include "monitor/snmp/snmp.h"
#include "sim/snmp/sim_snmp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace {
constexpr uint32_t kFirstDevice = 0x7F003201; // 127.0.50.1
constexpr int kNotifications = 64000;

double ThreadCpuMs(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The engine's cache as the monitor reads it for one device.
class CacheRuntime : public ScriptNullRuntime {
public:
    uint32_t address = 0;
    bool Cached(const SnmpOid& oid, SnmpValue* out) override
    {
        return SnmpGetCached(oid, address, out) == 1;
    }
    uint32_t Address() override
    {
        return address;
    }
};

struct Poll {
    SnmpOid oid;
    uint32_t address;
};

std::atomic<uint64_t> g_bindings { 0 };
std::atomic<pthread_t> g_worker {};
std::atomic<bool> g_haveWorker { false };

void Rearm(void* context, int status)
{
    auto* p = static_cast<Poll*>(context);
    if (!g_haveWorker.load(std::memory_order_relaxed)) {
        g_worker = pthread_self();
        g_haveWorker = true;
    }
    if (status == 0)
        g_bindings.store(g_bindings.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    SnmpSubscribe(p->oid, p->address, "public", 1000, p, Rearm);
}

void Collect(const std::vector<std::unique_ptr<ItemObject>>& items, std::vector<const ItemObject*>* out)
{
    for (const auto& i : items) {
        out->push_back(i.get());
        Collect(i->children, out);
    }
}
} // namespace

int main(int argc, char** argv)
{
    int devices = 200, seconds = 4;
    bool show = false;
    for (int i = 1; i < argc; ++i)
        show = show || std::strcmp(argv[i], "--show") == 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--devices") == 0)
            devices = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
    }
    DiagSetSink([](const std::string& line) { std::fprintf(stderr, "%s", line.c_str()); });
    NetStartup();
    ScriptLibrary& lib = ScriptGlobal();
    if (lib.LoadAll(std::string(SUITE_SOURCE_DIR) + "/data/talv*.dsc", "English") < 1) {
        std::fprintf(stderr, "objtree_states: no scripts in %s/data\n", SUITE_SOURCE_DIR);
        return 1;
    }
    std::string error;
    auto mib = SimMibLoad(std::string(SUITE_SOURCE_DIR) + "/sim/snmp/data/morvak2400.mib", &error);
    if (!mib) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    UdpSocket probe;
    probe.Open();
    probe.Bind(kFirstDevice, 0);
    uint16_t port = probe.LocalAddress()->port;
    probe.Close();
    SimSnmpServer fleet;
    for (int d = 0; d < devices; ++d) {
        SimSnmpDeviceConfig c;
        c.address = kFirstDevice + static_cast<uint32_t>(d);
        c.port = port;
        c.name = "bench-" + std::to_string(d);
        if (!fleet.AddDevice(c, mib))
            return 1;
    }
    fleet.Start();
    SnmpStartOptions options;
    options.agentPort = port;
    if (!SnmpStartWith(options)) {
        std::fprintf(stderr, "objtree_states: the engine does not start\n");
        return 1;
    }

    // Every device's tree, and a poll of every OID its items use (rows at instance 1).
    struct Device {
        std::unique_ptr<DeviceObject> object;
        std::vector<const ItemObject*> items;
        CacheRuntime runtime;
    };
    std::vector<Device> fleetTrees(static_cast<size_t>(devices));
    std::vector<std::unique_ptr<Poll>> polls;
    for (int d = 0; d < devices; ++d) {
        Device& dev = fleetTrees[static_cast<size_t>(d)];
        dev.object = ScriptInstantiate("Morvak 2400");
        dev.runtime.address = SnmpAddressFromHost(kFirstDevice + static_cast<uint32_t>(d));
        Collect(dev.object->items, &dev.items);
        ScriptContext ctx { ScriptContextKind::Item, nullptr, dev.object.get(), &dev.runtime };
        for (const ItemObject* item : dev.items)
            for (size_t n = 1; n <= item->uses.size(); ++n) {
                auto p = std::make_unique<Poll>();
                p->address = dev.runtime.address;
                ctx.item = item;
                if (!ItemPolledOid(*item, n, ctx, &p->oid))
                    continue;
                SnmpSubscribe(p->oid, p->address, "public", 1000, p.get(), Rearm);
                polls.push_back(std::move(p));
            }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    if (!g_haveWorker) {
        std::fprintf(stderr, "objtree_states: no answers from the fleet\n");
        return 1;
    }
    clockid_t worker;
    pthread_getcpuclockid(g_worker.load(), &worker);
    uint64_t startBindings = g_bindings;
    double startCpu = ThreadCpuMs(worker);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double engineMs = ThreadCpuMs(worker) - startCpu;
    uint64_t bindings = g_bindings - startBindings;

    // The notifications: items of all devices in turn, each state and text from the cache.
    size_t shown = 0;
    double start = ThreadCpuMs(CLOCK_THREAD_CPUTIME_ID);
    size_t d = 0, i = 0;
    for (int k = 0; k < kNotifications; ++k) {
        Device& dev = fleetTrees[d];
        const ItemObject* item = dev.items[i];
        ScriptContext ctx { ScriptContextKind::Item, item, dev.object.get(), &dev.runtime };
        uint32_t state = ItemState(*item, ctx);
        shown += ItemText(*item, state, ctx).size();
        if (++d == fleetTrees.size()) {
            d = 0;
            i = (i + 1) % dev.items.size();
        }
    }
    double scriptMs = ThreadCpuMs(CLOCK_THREAD_CPUTIME_ID) - start;
    if (show) {
        Device& dev = fleetTrees[0];
        for (const ItemObject* item : dev.items) {
            ScriptContext ctx { ScriptContextKind::Item, item, dev.object.get(), &dev.runtime };
            uint32_t state = ItemState(*item, ctx);
            std::printf("%-12s state %u: %s\n", item->ref.c_str(), state, ItemText(*item, state, ctx).c_str());
        }
    }
    SnmpStop();
    fleet.Stop();
    double enginePer = bindings ? engineMs * 1000.0 / static_cast<double>(bindings) : 0;
    double scriptPer = scriptMs * 1000.0 / kNotifications;
    std::printf("objtree_states: %d devices, %zu polled objects: engine %llu bindings in %.1f ms CPU (%.2f us each); "
                "scripts %d notifications in %.1f ms CPU (%.2f us each, %zu text bytes); RATIO %.2f\n",
        devices, polls.size(), static_cast<unsigned long long>(bindings), engineMs, enginePer, kNotifications, scriptMs,
        scriptPer, shown, enginePer > 0 ? scriptPer / enginePer : 0.0);
    return 0;
}
