#include "common/clock.h"
#include "common/platform/net.h"
#include "monitor/snmp/snmp.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace {
// The running client: socket, worker, lock and the engine they drive.
struct Client {
    UdpSocket socket;
    std::recursive_mutex lock;
    std::unique_ptr<SnmpEngine> engine;
    std::thread worker;
    std::atomic<bool> stop { false };
    Clock* clock = nullptr;
    uint16_t agentPort = kSnmpAgentPort;
    uint16_t localPort = 0;
    std::atomic<uint32_t> ticks { 0 };
    uint32_t startMs = 0; // the tick grid starts when the client starts
};

std::mutex g_startLock; // guards g_client itself (start and stop)
std::unique_ptr<Client> g_client;

// The worker: a tick every 100 ms by the clock; in between it waits on the socket and dispatches each
// datagram under the lock. The wait is the receive itself (a receive time-out on the socket), so a
// datagram costs one system call and an idle worker none until the next tick or the time-out; the
// time-out changes (and costs a call to set it) only in the last 20 ms before a tick.
void WorkerLoop(Client* c)
{
    uint32_t lastTick = c->startMs;
    uint8_t buffer[kSnmpReceiveBuffer];
    while (!c->stop.load()) {
        uint32_t now = c->clock->TickMs();
        uint32_t elapsed = now - lastTick;
        if (elapsed >= kSnmpTickMs) {
            // Ticks keep their 100-ms grid; after a long stall the grid restarts instead of catching up.
            lastTick = elapsed >= 2 * kSnmpTickMs ? now : lastTick + kSnmpTickMs;
            std::lock_guard<std::recursive_mutex> guard(c->lock);
            c->engine->Tick();
            ++c->ticks;
            continue;
        }
        uint32_t wait = kSnmpTickMs - elapsed;
        if (wait > 20)
            wait = 20; // bounds how long a stop request or a manual clock waits to be seen
        NetAddress from;
        int size = c->socket.ReceiveFrom(buffer, sizeof buffer, &from, wait);
        if (size > 0) {
            std::lock_guard<std::recursive_mutex> guard(c->lock);
            c->engine->Receive(SnmpAddressFromHost(from.ip), buffer, static_cast<size_t>(size));
        } else if (size == -1) {
            // A failed receive (not a time-out) would return at once again: wait for the socket instead.
            c->socket.WaitReadable(wait);
        }
    }
}

template<class F> auto WithEngine(F f, decltype(f(std::declval<SnmpEngine&>())) otherwise)
{
    Client* c = g_client.get();
    if (!c)
        return otherwise;
    std::lock_guard<std::recursive_mutex> guard(c->lock);
    return f(*c->engine);
}
} // namespace

int SnmpStart(uint16_t localPort)
{
    SnmpStartOptions options;
    options.localPort = localPort;
    return SnmpStartWith(options);
}

int SnmpStartWith(const SnmpStartOptions& options)
{
    std::lock_guard<std::mutex> startGuard(g_startLock);
    if (g_client)
        return 0;
    if (!NetStartup())
        return 0;
    auto c = std::make_unique<Client>();
    if (!c->socket.Open() || !c->socket.Bind(0, options.localPort)) {
        c->socket.Close();
        NetCleanup();
        return 0;
    }
    c->socket.SetReceiveBuffer(4 << 20); // a fleet answers in bursts at every tick
    auto local = c->socket.LocalAddress();
    c->localPort = local ? local->port : options.localPort;
    c->clock = options.clock ? options.clock : &SystemClock();
    c->agentPort = options.agentPort;
    c->startMs = c->clock->TickMs();
    Client* raw = c.get();
    c->engine = std::make_unique<SnmpEngine>([raw](uint32_t address, const uint8_t* data, size_t size) {
        // A datagram that cannot be sent is not reported: the retransmission schedule covers it.
        raw->socket.SendTo(data, size, NetAddress { SnmpAddressToHost(address), raw->agentPort });
    });
    c->worker = std::thread(WorkerLoop, raw);
    g_client = std::move(c);
    return 1;
}

void SnmpStop()
{
    std::lock_guard<std::mutex> startGuard(g_startLock);
    if (!g_client)
        return;
    g_client->stop = true;
    if (g_client->worker.joinable())
        g_client->worker.join();
    {
        std::lock_guard<std::recursive_mutex> guard(g_client->lock);
        g_client->engine->ClearAll();
    }
    g_client->socket.Close();
    g_client.reset();
    NetCleanup();
}

uint16_t SnmpLocalPort()
{
    return g_client ? g_client->localPort : 0;
}

uint32_t SnmpTickCount()
{
    return g_client ? g_client->ticks.load() : 0;
}

int SnmpSubscribe(const SnmpOid& oid, uint32_t address, const char* readCommunity, uint32_t intervalMs, void* context,
    SnmpCallback callback)
{
    return WithEngine(
        [&](SnmpEngine& e) { return e.Subscribe(oid, address, readCommunity, intervalMs, context, callback); }, 0);
}

int SnmpUnsubscribe(const SnmpOid& oid, uint32_t address, void* context)
{
    return WithEngine([&](SnmpEngine& e) { return e.Unsubscribe(oid, address, context); }, 0);
}

int SnmpQueueSet(const SnmpOid& oid, uint32_t address, const char* writeCommunity, const SnmpValue& value,
    void* context, SnmpCallback callback, int defaultFlag)
{
    return WithEngine(
        [&](SnmpEngine& e) { return e.QueueSet(oid, address, writeCommunity, value, context, callback, defaultFlag); },
        0);
}

int SnmpCancelSets(uint32_t address)
{
    return WithEngine([&](SnmpEngine& e) { return e.CancelSets(address); }, 0);
}

void SnmpClearAll()
{
    WithEngine(
        [&](SnmpEngine& e) {
            e.ClearAll();
            return 0;
        },
        0);
}

int SnmpGetCached(const SnmpOid& oid, uint32_t address, SnmpValue* out)
{
    return WithEngine([&](SnmpEngine& e) { return e.GetCached(oid, address, out); }, 0);
}

void SnmpSetTrapObserver(SnmpTrapObserver observer, void* context)
{
    WithEngine(
        [&](SnmpEngine& e) {
            e.SetTrapObserver(observer, context);
            return 0;
        },
        0);
}
