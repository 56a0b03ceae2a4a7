// The client with its worker and a real loopback socket; the scheduler runs on a manual clock.
#include "common/clock.h"
#include "monitor/snmp/snmp.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
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

namespace {
// A scripted device for the jobs: answers each request with the reply that `script` builds (none when
// it returns false), and counts the requests it saw.
struct ScriptedDevice {
    Device device;
    std::thread thread;
    std::atomic<bool> stop { false };
    std::atomic<int> requests { 0 };
    std::mutex seenLock; // the peer's thread appends while the test reads (a retransmission may come)
    std::vector<SnmpMessage> seenMessages;
    std::function<bool(const SnmpMessage&, SnmpMessage*)> script;

    void Start()
    {
        thread = std::thread([this] {
            uint8_t buffer[2048];
            while (!stop) {
                if (device.socket.WaitReadable(10) <= 0)
                    continue;
                NetAddress from;
                int n = device.socket.ReceiveFrom(buffer, sizeof buffer, &from);
                SnmpMessage m, reply;
                if (n <= 0 || SnmpDecodeMessage(buffer, static_cast<size_t>(n), &m) != kSnmpDecodeOk)
                    continue;
                {
                    std::lock_guard<std::mutex> guard(seenLock);
                    seenMessages.push_back(m);
                }
                ++requests;
                if (script(m, &reply))
                    device.Send(reply, from);
            }
        });
    }
    // The requests seen once the device's thread has taken `n` of them (bounded): a job that gave up
    // after its last try returns while that request may still wait in the device's socket.
    int RequestsAfter(int n)
    {
        WaitFor(requests, n);
        return requests.load();
    }
    // A copy of the requests received so far.
    std::vector<SnmpMessage> Seen()
    {
        std::lock_guard<std::mutex> guard(seenLock);
        return seenMessages;
    }
    void Stop()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    ~ScriptedDevice()
    {
        Stop();
    }
};

SnmpOid Oid(const char* text)
{
    SnmpOid oid;
    SnmpOidFromText(text, &oid);
    return oid;
}

struct WalkLog {
    std::vector<std::string> rows;
    int started = 0, finished = 0;
    static void Row(void* context, SnmpWalkColumn* columns, uint32_t count)
    {
        std::string row;
        for (uint32_t i = 0; i < count; ++i)
            row += (i ? "|" : "") + columns[i].text;
        static_cast<WalkLog*>(context)->rows.push_back(row);
    }
    static void Start(void* context, void*)
    {
        ++static_cast<WalkLog*>(context)->started;
    }
    static void Finish(void* context, void*)
    {
        ++static_cast<WalkLog*>(context)->finished;
    }
};
} // namespace

TEST(SnmpJobs, WalkDeliversRowsUntilAColumnLeavesItsPrefix)
{
    ScriptedDevice peer;
    // Table 1.3.6.1.4.1.9.1, columns 2 and 5, rows 1 and 2; then column 2 runs into column 3.
    peer.script = [](const SnmpMessage& m, SnmpMessage* r) {
        *r = m;
        r->pdu = kPduResponse;
        for (SnmpBinding& b : r->bindings) {
            std::string text = SnmpOidText(b.oid);
            std::string column = text.substr(0, text.rfind('.'));
            bool atColumn = std::count(text.begin(), text.end(), '.') == 8;
            if (atColumn)
                text += ".1";
            else if (text.back() == '1')
                text = column + ".2";
            else
                text = "1.3.6.1.4.1.9.1." + std::to_string(std::stoi(column.substr(column.rfind('.') + 1)) + 1) + ".1";
            b.oid = Oid(text.c_str());
            b.tag = kBerGauge;
            b.value = SnmpValue::Integer(static_cast<uint32_t>(text.size()));
        }
        return true;
    };
    peer.Start();
    auto socket = SnmpOpenJobSocket();
    ASSERT_TRUE(socket);
    SnmpOid table = Oid("1.3.6.1.4.1.9.1");
    SnmpWalkColumn columns[2];
    columns[0].column = 2;
    columns[1].column = 5;
    WalkLog log;
    SnmpWalkParams p;
    p.context = &log;
    p.rowContext = &log;
    p.socket = socket.get();
    p.address = SnmpAddressFromHost(kLoopback);
    p.oidTable = &table;
    p.columns = columns;
    p.columnCount = 2;
    p.start = WalkLog::Start;
    p.finish = WalkLog::Finish;
    p.row = WalkLog::Row;
    p.port = peer.device.port;
    p.waitMs = 500;
    std::thread job(SnmpWalkJob, &p);
    job.join();
    EXPECT_EQ(log.started, 1);
    EXPECT_EQ(log.finished, 1);
    EXPECT_EQ(log.rows, (std::vector<std::string> { "19|19", "19|19" })) << "no row for the step that left";
    ASSERT_EQ(peer.requests.load(), 3);
    std::vector<SnmpMessage> seen = peer.Seen();
    EXPECT_EQ(seen[0].community, "public");
    EXPECT_EQ(seen[0].pdu, kPduGetNext);
    for (int i = 1; i < 3; ++i)
        EXPECT_EQ(seen[i].requestId, seen[0].requestId + static_cast<uint32_t>(i)) << "one id per step";
    EXPECT_EQ(SnmpOidText(seen[0].bindings[1].oid), "1.3.6.1.4.1.9.1.5");
    EXPECT_EQ(SnmpOidText(seen[2].bindings[0].oid), "1.3.6.1.4.1.9.1.2.2");
    EXPECT_EQ(SnmpOidText(columns[0].oid), "1.3.6.1.4.1.9.1.2.2");
    EXPECT_EQ(columns[0].kind, kSnmpInteger);
}

TEST(SnmpJobs, SilentDeviceGetsTenAttemptsAndASetReportsItsOutcome)
{
    ScriptedDevice peer;
    std::atomic<uint32_t> setStatus { 0 };
    peer.script = [&](const SnmpMessage& m, SnmpMessage* r) {
        if (m.pdu != kPduSet)
            return false; // silent to walks
        *r = m;
        r->pdu = kPduResponse;
        r->errorStatus = setStatus;
        r->errorIndex = setStatus ? 1 : 0;
        return true;
    };
    peer.Start();
    auto socket = SnmpOpenJobSocket();
    SnmpOid table = Oid("1.3.6.1.4.1.9.1");
    SnmpWalkColumn column;
    column.column = 1;
    WalkLog log;
    SnmpWalkParams p;
    p.rowContext = &log;
    p.context = &log;
    p.finish = WalkLog::Finish;
    p.socket = socket.get();
    p.address = SnmpAddressFromHost(kLoopback);
    p.oidTable = &table;
    p.columns = &column;
    p.columnCount = 1;
    p.row = WalkLog::Row;
    p.port = peer.device.port;
    p.waitMs = 20;
    SnmpWalkJob(&p);
    EXPECT_EQ(peer.RequestsAfter(10), 10);
    EXPECT_EQ(log.finished, 1);
    EXPECT_TRUE(log.rows.empty());
    EXPECT_EQ(p.answers, 0u);

    SnmpOid oids[4]
        = { Oid("1.3.6.1.4.1.9.0"), Oid("1.3.6.1.4.1.9.1"), Oid("1.3.6.1.4.1.9.2"), Oid("1.3.6.1.4.1.9.3") };
    for (uint32_t status : { 0u, 4u }) {
        setStatus = status;
        int result = 7;
        SnmpSetParams s;
        s.socket = socket.get();
        s.result = &result;
        s.address = SnmpAddressFromHost(kLoopback);
        s.community = "";
        s.oidTable = oids;
        s.entry = 3;
        s.port = peer.device.port;
        s.waitMs = 500;
        SnmpSetJob(&s);
        EXPECT_EQ(result, status == 0 ? 1 : 0);
        const SnmpMessage sent = peer.Seen().back();
        EXPECT_EQ(sent.community, "") << "exactly as entered";
        EXPECT_EQ(SnmpOidText(sent.bindings[0].oid), "1.3.6.1.4.1.9.3");
        EXPECT_EQ(sent.bindings[0].tag, kBerOctetString);
        EXPECT_EQ(sent.bindings[0].value.text, "");
    }
}

TEST(SnmpClient, UndecodableOrForeignAnswersKeepTheRetransmissionSchedule)
{
    // Answers with the right request id that cannot be taken: bindings that do not decode, or the right
    // answer from another port. Each leaves the schedule alone: the request is repeated at ticks
    // 11, 26 and 51 and given up like a silent one (not re-sent at every tick for ever).
    for (int kind = 0; kind < 2; ++kind) {
        ManualClock clock(1000);
        Device device;
        Device other; // another port on the agent's address
        SnmpStartOptions options;
        options.agentPort = device.port;
        options.clock = &clock;
        ASSERT_EQ(SnmpStartWith(options), 1);
        StopAtEnd stopAtEnd;
        Outcome outcome;
        SnmpOidFromText("1.3.6.1.2.1.1.5.0", &outcome.oid);
        outcome.address = SnmpAddressFromHost(kLoopback);
        ASSERT_EQ(SnmpSubscribe(outcome.oid, outcome.address, "", 100, &outcome, Outcome::Callback), 1);
        std::vector<int> sendTicks;
        for (int tick = 1; tick <= 101 && outcome.calls == 0; ++tick) {
            StepTick(clock);
            for (const SnmpMessage& m : device.Drain()) {
                sendTicks.push_back(tick);
                SnmpMessage answer = m;
                answer.pdu = kPduResponse;
                answer.bindings[0].tag = kBerOctetString;
                answer.bindings[0].value = SnmpValue::String("forged");
                uint8_t buffer[2048];
                size_t n = SnmpEncodeMessage(answer, buffer, sizeof buffer);
                if (kind == 0) {
                    // The binding's OID made malformed: its last byte continues.
                    // (Searched from the end: the bindings come last.)
                    for (size_t i = n - 2; i > 0; --i)
                        if (buffer[i] == 0x06 && buffer[i + 1] == m.bindings[0].oid.length) {
                            buffer[i + 1 + buffer[i + 1]] |= 0x80;
                            break;
                        }
                    device.socket.SendTo(buffer, n, device.client);
                } else {
                    other.socket.SendTo(buffer, n, device.client);
                }
            }
            // Let the worker read the answer before the next tick.
            for (int i = 0; i < 20 && device.socket.WaitReadable(0) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        SCOPED_TRACE(kind);
        EXPECT_EQ(sendTicks, (std::vector<int> { 1, 11, 26, 51 }));
        ASSERT_TRUE(WaitFor(outcome.calls, 1));
        EXPECT_EQ(outcome.status.load(), -1);
        EXPECT_NE(outcome.value.text, "forged");
        SnmpStop();
    }
}

TEST(SnmpJobs, WalksStopWhenAnAnswerIsNotAfterTheOidAsked)
{
    // An agent that answers every GetNext with the OID it was asked (or an earlier one).
    for (bool earlier : { false, true }) {
        ScriptedDevice peer;
        peer.script = [&](const SnmpMessage& m, SnmpMessage* r) {
            *r = m;
            r->pdu = kPduResponse;
            for (SnmpBinding& b : r->bindings) {
                if (earlier)
                    b.oid = Oid("1.3.6.1.4.1.9.1.2.1");
                else if (SnmpOidText(b.oid) == "1.3.6.1.4.1.9.1.2")
                    b.oid = Oid("1.3.6.1.4.1.9.1.2.5");
                b.tag = kBerInteger;
                b.value = SnmpValue::Integer(1);
            }
            return true;
        };
        peer.Start();
        auto socket = SnmpOpenJobSocket();
        SnmpOid table = Oid("1.3.6.1.4.1.9.1");
        SnmpWalkColumn column;
        column.column = 2;
        WalkLog log;
        SnmpWalkParams p;
        p.rowContext = &log;
        p.socket = socket.get();
        p.address = SnmpAddressFromHost(kLoopback);
        p.oidTable = &table;
        p.columns = &column;
        p.columnCount = 1;
        p.row = WalkLog::Row;
        p.port = peer.device.port;
        p.waitMs = 500;
        SnmpWalkJob(&p);
        SCOPED_TRACE(earlier);
        EXPECT_EQ(p.notIncreasing, 1);
        EXPECT_EQ(log.rows.size(), earlier ? 1u : 1u);
        EXPECT_LE(peer.requests.load(), 2);

        struct Rows {
            int count = 0;
            static void Row(void* context, const SnmpBinding&)
            {
                ++static_cast<Rows*>(context)->count;
            }
        } rows;
        uint32_t status = 0;
        SnmpOid last;
        int before = peer.requests.load();
        EXPECT_EQ(SnmpWalkSubtree(socket.get(), SnmpAddressFromHost(kLoopback), peer.device.port, "",
                      { 1, 3, 6, 1, 4, 1, 9, 1, 2 }, 500, Rows::Row, &rows, &status, &last),
            kSnmpSubtreeNotIncreasing);
        EXPECT_LE(peer.requests.load() - before, 2);
        EXPECT_EQ(rows.count, 1);
    }
}

TEST(SnmpJobs, AnswersOnlyFromTheAgentsPortWithUnguessableIds)
{
    // The right answer sent from another port of the agent's host is not taken.
    ScriptedDevice peer;
    Device other;
    auto socket = SnmpOpenJobSocket();
    SnmpMessage answer;
    std::vector<SnmpOid> oids { Oid("1.3.6.1.2.1.1.5.0") };
    // The scripted device learns the job socket's address from the request it decodes.
    peer.script = [&](const SnmpMessage& m, SnmpMessage* r) {
        *r = m;
        r->pdu = kPduResponse;
        r->bindings[0].tag = kBerInteger;
        r->bindings[0].value = SnmpValue::Integer(1);
        other.Send(*r, NetAddress { kLoopback, socket->LocalAddress()->port });
        return false;
    };
    peer.Start();
    EXPECT_EQ(SnmpGetNextJob(socket.get(), SnmpAddressFromHost(kLoopback), peer.device.port, "", oids, 20, &answer), 0);
    ASSERT_EQ(peer.RequestsAfter(10), 10);
    // Request ids do not start at a fixed value: two jobs in a row start apart (not 0, not one after
    // the other).
    std::vector<SnmpMessage> seen = peer.Seen();
    uint32_t first = seen[0].requestId;
    EXPECT_EQ(seen[9].requestId, first) << "one request, repeated";
    SnmpGetNextJob(socket.get(), SnmpAddressFromHost(kLoopback), peer.device.port, "", oids, 1, &answer);
    ASSERT_GE(peer.RequestsAfter(11), 11);
    seen = peer.Seen();
    uint32_t second = seen[10].requestId;
    EXPECT_FALSE(first == 0 && second == 0);
    EXPECT_NE(second, first + 1);
    peer.Stop(); // its script sends through `other` to `socket`, which go before it
}
