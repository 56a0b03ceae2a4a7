// The client with its worker and a real loopback socket; the scheduler runs on a manual clock.
#include "common/clock.h"
#include "monitor/snmp/snmp.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {
const uint32_t kLoopback = 0x7F000001;

// Moves the clock one tick and waits until the worker has run it.
void StepTick(ManualClock& clock)
{
    uint32_t before = SnmpTickCount();
    clock.Advance(kSnmpTickMs);
    for (int i = 0; i < 5000 && SnmpTickCount() == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_NE(SnmpTickCount(), before) << "the worker did not tick";
}

struct Outcome {
    std::atomic<int> calls { 0 };
    std::atomic<int> status { 99 };
    SnmpValue value; // read inside the callback, with the client's lock held
    SnmpOid oid;
    uint32_t address = 0;
    static void Callback(void* context, int status)
    {
        auto* o = static_cast<Outcome*>(context);
        SnmpGetCached(o->oid, o->address, &o->value); // re-entrant lock
        o->status = status;
        ++o->calls;
    }
};

// Stops the client even when a test ends early.
struct StopAtEnd {
    ~StopAtEnd()
    {
        SnmpStop();
    }
};

bool WaitFor(const std::atomic<int>& counter, int wanted)
{
    for (int i = 0; i < 3000 && counter.load() < wanted; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return counter.load() >= wanted;
}

struct Device {
    UdpSocket socket;
    uint16_t port = 0;
    Device()
    {
        EXPECT_EQ(socket.Open(), 1);
        EXPECT_EQ(socket.Bind(kLoopback, 0), 1);
        port = socket.LocalAddress()->port;
    }
    // The requests waiting now.
    std::vector<SnmpMessage> Drain()
    {
        std::vector<SnmpMessage> out;
        uint8_t buffer[2048];
        while (socket.WaitReadable(0) > 0) {
            NetAddress from;
            int n = socket.ReceiveFrom(buffer, sizeof buffer, &from);
            SnmpMessage m;
            if (n > 0 && SnmpDecodeMessage(buffer, static_cast<size_t>(n), &m) == kSnmpDecodeOk) {
                client = from;
                out.push_back(m);
            }
        }
        return out;
    }
    void Send(const SnmpMessage& m, NetAddress to)
    {
        uint8_t buffer[2048];
        size_t n = SnmpEncodeMessage(m, buffer, sizeof buffer);
        socket.SendTo(buffer, n, to);
    }
    NetAddress client;
};
} // namespace

TEST(SnmpClient, WorkerRetransmitsOnTheInjectedClockAndGivesUp)
{
    ManualClock clock(1000);
    Device device;
    SnmpStartOptions options;
    options.agentPort = device.port;
    options.clock = &clock;
    ASSERT_EQ(SnmpStartWith(options), 1);
    StopAtEnd stopAtEnd;
    EXPECT_EQ(SnmpStartWith(options), 0) << "one client per program";
    Outcome outcome;
    SnmpOidFromText("1.3.6.1.2.1.1.3.0", &outcome.oid);
    outcome.address = SnmpAddressFromHost(kLoopback);
    ASSERT_EQ(SnmpSubscribe(outcome.oid, outcome.address, "ro", 100, &outcome, Outcome::Callback), 1);
    std::vector<int> sendTicks;
    for (int tick = 1; tick <= 101 && outcome.calls == 0; ++tick) {
        StepTick(clock);
        for (const SnmpMessage& m : device.Drain()) {
            EXPECT_EQ(m.community, "ro");
            sendTicks.push_back(tick);
        }
    }
    EXPECT_EQ(sendTicks, (std::vector<int> { 1, 11, 26, 51 }));
    ASSERT_TRUE(WaitFor(outcome.calls, 1));
    EXPECT_EQ(outcome.status.load(), -1);
    EXPECT_EQ(outcome.value.kind, kSnmpNone);
    SnmpStop();
    EXPECT_EQ(SnmpSubscribe(outcome.oid, outcome.address, "", 100, &outcome, Outcome::Callback), 0) << "stopped";
}

namespace {
struct TrapLog {
    std::atomic<int> count { 0 };
    uint32_t specific = 0;
    static void Observe(void* context, const SnmpTrapInfo& trap)
    {
        auto* t = static_cast<TrapLog*>(context);
        t->specific = trap.message->specificTrap;
        ++t->count;
    }
};
} // namespace

TEST(SnmpClient, AnswersAndTrapsArriveOnTheWorker)
{
    ManualClock clock;
    Device device;
    SnmpStartOptions options;
    options.agentPort = device.port;
    options.clock = &clock;
    ASSERT_EQ(SnmpStartWith(options), 1);
    StopAtEnd stopAtEnd;
    ASSERT_NE(SnmpLocalPort(), 0);
    Outcome outcome;
    SnmpOidFromText("1.3.6.1.2.1.1.5.0", &outcome.oid);
    outcome.address = SnmpAddressFromHost(kLoopback);
    SnmpSubscribe(outcome.oid, outcome.address, "", 1, &outcome, Outcome::Callback);
    StepTick(clock);
    std::vector<SnmpMessage> requests = device.Drain();
    ASSERT_EQ(requests.size(), 1u);
    SnmpMessage answer = requests[0];
    answer.pdu = kPduResponse;
    answer.bindings[0].tag = kBerOctetString;
    answer.bindings[0].value = SnmpValue::String("router-1");
    device.Send(answer, device.client);
    ASSERT_TRUE(WaitFor(outcome.calls, 1));
    EXPECT_EQ(outcome.status.load(), 0);
    EXPECT_EQ(outcome.value.text, "router-1");

    TrapLog traps;
    SnmpSetTrapObserver(TrapLog::Observe, &traps);
    SnmpMessage trap;
    trap.pdu = kPduTrap;
    SnmpOidFromText("1.3.6.1.4.1.9", &trap.enterprise);
    trap.genericTrap = 6;
    trap.specificTrap = 1;
    SnmpBinding b;
    b.oid = outcome.oid;
    b.tag = kBerOctetString;
    b.value = SnmpValue::String("renamed");
    trap.bindings.push_back(b);
    device.Send(trap, NetAddress { kLoopback, SnmpLocalPort() });
    ASSERT_TRUE(WaitFor(outcome.calls, 2));
    EXPECT_EQ(outcome.value.text, "renamed");
    EXPECT_EQ(traps.count.load(), 1);
    EXPECT_EQ(traps.specific, 1u);
    SnmpStop();
}
