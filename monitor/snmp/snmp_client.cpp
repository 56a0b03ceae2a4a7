#include "common/clock.h"
#include "common/platform/net.h"
#include "monitor/snmp/snmp.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
    // The longest wait in the socket: with the real clock, up to the next tick (SnmpStop wakes the worker
    // with a datagram to its own port); an injected clock cannot be waited on and is read every 20 ms.
    uint32_t longestWaitMs = kSnmpTickMs;
    // Requests written during a tick, sent together after it: their bytes one after the other, and
    // where each begins, its size and its destination.
    std::vector<uint8_t> outgoingBytes;
    struct Outgoing {
        size_t offset;
        size_t size;
        uint32_t address; // network byte order
    };
    std::vector<Outgoing> outgoing;
    std::vector<NetDatagram> sendBatch;

    void QueueSend(uint32_t address, const uint8_t* data, size_t size)
    {
        outgoing.push_back({ outgoingBytes.size(), size, address });
        outgoingBytes.insert(outgoingBytes.end(), data, data + size);
    }

    // A datagram that cannot be sent is not reported: the retransmission schedule covers it.
    void FlushSends()
    {
        if (outgoing.empty())
            return;
        sendBatch.clear();
        for (const Outgoing& o : outgoing)
            sendBatch.push_back(NetDatagram {
                &outgoingBytes[o.offset], o.size, NetAddress { SnmpAddressToHost(o.address), agentPort } });
        socket.SendMany(sendBatch.data(), sendBatch.size());
        outgoing.clear();
        outgoingBytes.clear();
    }
};

std::mutex g_startLock; // guards g_client itself (start and stop)
std::unique_ptr<Client> g_client;

// How often this thread holds the client's lock. Callbacks run with the lock held and mostly call back
// into the client (re-arming their poll): those calls need not take the re-entrant lock once more.
thread_local int t_lockDepth = 0;

// Holds the client's lock for a scope and counts it for this thread.
class ClientLock {
public:
    explicit ClientLock(Client* c)
        : c_(c)
    {
        if (t_lockDepth == 0)
            c_->lock.lock();
        ++t_lockDepth;
    }
    ~ClientLock()
    {
        if (--t_lockDepth == 0)
            c_->lock.unlock();
    }
    ClientLock(const ClientLock&) = delete;
    ClientLock& operator=(const ClientLock&) = delete;

private:
    Client* c_;
};

// Datagrams taken from the socket in one system call.
constexpr size_t kReceiveBatch = 64;

// The worker: a tick every 100 ms by the clock; in between it waits on the socket. Each wake-up takes
// every datagram already waiting (up to kReceiveBatch in one system call) and dispatches them under one
// hold of the lock; the requests a tick sends are gathered and go out together after it, several per
// system call. The wait is the receive itself (a receive time-out on the socket, up to the next tick), so an
// idle worker wakes only for its ticks. While answers come in one after another the worker takes them once a
// millisecond instead of being woken for each.
void WorkerLoop(Client* c)
{
    uint32_t lastTick = c->startMs;
    std::vector<uint8_t> buffers(kReceiveBatch * kSnmpReceiveBuffer);
    NetDatagram batch[kReceiveBatch];
    bool gathering = false;
    while (!c->stop.load()) {
        uint32_t now = c->clock->TickMs();
        uint32_t elapsed = now - lastTick;
        if (elapsed >= kSnmpTickMs) {
            // Ticks keep their 100-ms grid; after a long stall the grid restarts instead of catching up.
            lastTick = elapsed >= 2 * kSnmpTickMs ? now : lastTick + kSnmpTickMs;
            {
                // (The gathered requests are only touched with the lock held.)
                ClientLock guard(c);
                c->engine->Tick();
                c->FlushSends();
            }
            ++c->ticks; // (counted once its requests are out: tests wait on it)
            continue;
        }
        uint32_t wait = kSnmpTickMs - elapsed;
        if (wait > c->longestWaitMs)
            wait = c->longestWaitMs;
        if (gathering) {
            // Answers are coming in one after another: let them gather for a millisecond and take them
            // together, rather than being woken for each one or two.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            wait = 0;
        }
        for (size_t i = 0; i < kReceiveBatch; ++i)
            batch[i] = NetDatagram { &buffers[i * kSnmpReceiveBuffer], kSnmpReceiveBuffer, {} };
        int count = c->socket.ReceiveMany(batch, kReceiveBatch, wait);
        // (A full batch leaves more waiting: the next receive returns at once. Nothing waiting ends the
        // gathering: the worker sleeps in the receive until the next answer or tick.)
        gathering = count > 0 && count < static_cast<int>(kReceiveBatch);
        if (count > 0) {
            ClientLock guard(c);
            for (int i = 0; i < count; ++i) {
                if (i + 1 < count)
                    c->engine->Prefetch(SnmpAddressFromHost(batch[i + 1].peer.ip));
                if (batch[i].size > 0)
                    c->engine->ReceiveCut(SnmpAddressFromHost(batch[i].peer.ip),
                        static_cast<const uint8_t*>(batch[i].data), batch[i].size, batch[i].whole,
                        batch[i].peer.port == c->agentPort);
            }
        } else if (count == -1) {
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
    ClientLock guard(c);
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
    c->longestWaitMs = options.clock ? 20 : kSnmpTickMs;
    c->agentPort = options.agentPort;
    c->startMs = c->clock->TickMs();
    Client* raw = c.get();
    // The engine sends only from its tick, which runs on the worker: the worker sends what it gathered.
    c->engine = std::make_unique<SnmpEngine>(
        [raw](uint32_t address, const uint8_t* data, size_t size) { raw->QueueSend(address, data, size); });
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
    // An empty datagram to the client's own port ends the worker's wait (otherwise it sees the request at
    // the next tick at the latest).
    uint8_t none = 0;
    g_client->socket.SendTo(&none, 0, NetAddress { 0x7F000001, g_client->localPort });
    if (g_client->worker.joinable())
        g_client->worker.join();
    {
        ClientLock guard(g_client.get());
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
