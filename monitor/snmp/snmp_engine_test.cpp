#include "monitor/snmp/snmp_engine.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {
SnmpOid Oid(const std::string& text)
{
    SnmpOid oid;
    EXPECT_EQ(SnmpOidFromText(text.c_str(), &oid), 1) << text;
    return oid;
}

const uint32_t kDevice = SnmpAddressFromHost(0x7F000002);

// The engine with a wire that records what it sends; the test plays the device.
struct Harness {
    struct Sent {
        uint32_t address;
        SnmpMessage message;
        size_t size;
    };
    std::vector<Sent> sent;
    SnmpEngine engine { [this](uint32_t address, const uint8_t* data, size_t size) {
        Sent s { address, {}, size };
        EXPECT_LE(size, kSnmpRequestBuffer);
        EXPECT_EQ(SnmpDecodeMessage(data, size, &s.message), kSnmpDecodeOk);
        sent.push_back(std::move(s));
    } };
    int ticks = 0;

    void Tick(int n = 1)
    {
        for (int i = 0; i < n; ++i, ++ticks)
            engine.Tick();
    }
    // Answers the last request: values are the OID's last subidentifier.
    void Answer(uint32_t status = 0, uint32_t index = 0, std::vector<SnmpBinding> bindings = {}, int drop = -1)
    {
        ASSERT_FALSE(sent.empty());
        const SnmpMessage& req = sent.back().message;
        SnmpMessage r;
        r.pdu = kPduResponse;
        r.requestId = req.requestId;
        r.errorStatus = status;
        r.errorIndex = index;
        if (bindings.empty()) {
            for (size_t i = 0; i < req.bindings.size(); ++i) {
                if (static_cast<int>(i) == drop)
                    continue;
                SnmpBinding b = req.bindings[i];
                b.tag = kBerInteger;
                b.value = SnmpValue::Integer(b.oid.bytes[b.oid.length - 1]);
                r.bindings.push_back(b);
            }
        } else {
            r.bindings = std::move(bindings);
        }
        Deliver(r);
    }
    void Deliver(const SnmpMessage& m, uint32_t from = kDevice)
    {
        uint8_t buffer[4096];
        size_t n = SnmpEncodeMessage(m, buffer, sizeof buffer);
        ASSERT_GT(n, 0u);
        engine.Receive(from, buffer, n);
    }
};

// Records every callback as (context, status).
struct Calls {
    std::vector<std::pair<int, int>> log;
    static void Callback(void* context, int status)
    {
        auto* c = static_cast<std::pair<Calls*, int>*>(context);
        c->first->log.push_back({ c->second, status });
    }
};

std::vector<std::string> OidsOf(const SnmpMessage& m)
{
    std::vector<std::string> out;
    for (const SnmpBinding& b : m.bindings)
        out.push_back(SnmpOidText(b.oid));
    return out;
}
} // namespace

TEST(SnmpEngine, DuePollsOfOneDeviceGoInOneGetRequestAndAnswersReachSubscribers)
{
    Harness h;
    Calls calls;
    std::vector<std::pair<Calls*, int>> contexts;
    for (int i = 1; i <= 3; ++i)
        contexts.push_back({ &calls, i });
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(h.engine.Subscribe(Oid("1.3.6.1.2.1.1." + std::to_string(i + 1) + ".0"), kDevice, "", 250,
                      &contexts[i], Calls::Callback),
            1);
    h.Tick(2);
    EXPECT_TRUE(h.sent.empty()) << "ceil(250/100) = 3 ticks";
    h.Tick();
    ASSERT_EQ(h.sent.size(), 1u);
    const SnmpMessage& req = h.sent[0].message;
    EXPECT_EQ(req.pdu, kPduGet);
    EXPECT_EQ(req.community, "public");
    EXPECT_EQ(req.requestId >> 24, 0u);
    EXPECT_EQ(OidsOf(req), (std::vector<std::string> { "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.2.0", "1.3.6.1.2.1.1.1.0" }))
        << "pre-order with the newest child in front";
    for (const SnmpBinding& b : req.bindings)
        EXPECT_EQ(b.tag, kBerNull);
    h.Answer();
    EXPECT_EQ(calls.log, (std::vector<std::pair<int, int>> { { 3, 0 }, { 2, 0 }, { 1, 0 } }));
    SnmpValue v;
    ASSERT_EQ(h.engine.GetCached(Oid("1.3.6.1.2.1.1.2.0"), kDevice, &v), 1);
    EXPECT_EQ(v.kind, kSnmpInteger);
    EXPECT_EQ(v.integer, 0u);
    h.Tick(20);
    EXPECT_EQ(h.sent.size(), 1u) << "a poll is one-shot until re-armed";
    EXPECT_EQ(h.engine.GetCached(Oid("1.3.6.1.2.1.1.9.0"), kDevice, &v), 0);
    EXPECT_EQ(h.engine.GetCached(Oid("1.3.6.1.2.1.1.2.0"), SnmpAddressFromHost(0x7F000009), &v), 0);
}

TEST(SnmpEngine, ErrorStatusCompletesOnlyTheBindingAtTheErrorIndex)
{
    Harness h;
    Calls calls;
    std::vector<std::pair<Calls*, int>> contexts;
    for (int i = 1; i <= 5; ++i)
        contexts.push_back({ &calls, i });
    // Subscribed in reverse so that the request carries .1 to .5 in order.
    for (int i = 5; i >= 1; --i)
        h.engine.Subscribe(
            Oid("1.3.6.1.4.1.9." + std::to_string(i)), kDevice, "pw", 100, &contexts[i - 1], Calls::Callback);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0].message.community, "pw");
    ASSERT_EQ(h.sent[0].message.bindings.size(), 5u);
    h.Answer(kSnmpNoSuchName, 3);
    EXPECT_EQ(calls.log, (std::vector<std::pair<int, int>> { { 3, kSnmpNoSuchName } }));
    h.Tick();
    ASSERT_EQ(h.sent.size(), 2u);
    EXPECT_EQ(OidsOf(h.sent[1].message),
        (std::vector<std::string> { "1.3.6.1.4.1.9.1", "1.3.6.1.4.1.9.2", "1.3.6.1.4.1.9.4", "1.3.6.1.4.1.9.5" }));
    EXPECT_EQ(h.sent[1].message.requestId, h.sent[0].message.requestId + 1);
    h.Answer();
    EXPECT_EQ(calls.log.size(), 5u);
}

TEST(SnmpEngine, AnErrorIndexNamingNoBindingFailsTheWholeRequestInsteadOfRepeatingIt)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 }, b { &calls, 2 };
    h.engine.Subscribe(Oid("1.3.6.1.4.1.9.1"), kDevice, "", 100, &a, Calls::Callback);
    h.engine.Subscribe(Oid("1.3.6.1.4.1.9.2"), kDevice, "", 100, &b, Calls::Callback);
    h.Tick();
    h.Answer(kSnmpGenErr, 0);
    EXPECT_EQ(calls.log, (std::vector<std::pair<int, int>> { { 2, kSnmpGenErr }, { 1, kSnmpGenErr } }));
    h.Tick(5);
    EXPECT_EQ(h.sent.size(), 1u);
}

TEST(SnmpEngine, TooBigMakesEachNamedRequestTravelAlone)
{
    Harness h;
    Calls calls;
    std::vector<std::pair<Calls*, int>> contexts;
    for (int i = 1; i <= 4; ++i)
        contexts.push_back({ &calls, i });
    for (int i = 4; i >= 1; --i)
        h.engine.Subscribe(
            Oid("1.3.6.1.4.1.9." + std::to_string(i)), kDevice, "", 100, &contexts[i - 1], Calls::Callback);
    h.Tick();
    ASSERT_EQ(h.sent[0].message.bindings.size(), 4u);
    // The device names the first two.
    std::vector<SnmpBinding> named(h.sent[0].message.bindings.begin(), h.sent[0].message.bindings.begin() + 2);
    h.Answer(kSnmpTooBig, 0, named);
    EXPECT_TRUE(calls.log.empty());
    h.Tick();
    EXPECT_EQ(OidsOf(h.sent[1].message), (std::vector<std::string> { "1.3.6.1.4.1.9.1" }));
    h.Answer();
    h.Tick();
    EXPECT_EQ(OidsOf(h.sent[2].message), (std::vector<std::string> { "1.3.6.1.4.1.9.2" }));
    h.Answer();
    h.Tick();
    EXPECT_EQ(OidsOf(h.sent[3].message), (std::vector<std::string> { "1.3.6.1.4.1.9.3", "1.3.6.1.4.1.9.4" }));
    h.Answer();
    EXPECT_EQ(calls.log.size(), 4u);
    for (auto& c : calls.log)
        EXPECT_EQ(c.second, 0);

    // tooBig without bindings marks the whole request; tooBig again for a lone request fails it.
    for (int i = 1; i <= 2; ++i)
        h.engine.Subscribe(
            Oid("1.3.6.1.4.1.9." + std::to_string(i)), kDevice, "", 100, &contexts[i - 1], Calls::Callback);
    calls.log.clear();
    h.Tick();
    ASSERT_EQ(h.sent.back().message.bindings.size(), 2u);
    SnmpMessage empty;
    empty.pdu = kPduResponse;
    empty.requestId = h.sent.back().message.requestId;
    empty.errorStatus = kSnmpTooBig;
    h.Deliver(empty);
    h.Tick();
    ASSERT_EQ(h.sent.back().message.bindings.size(), 1u);
    h.Answer(kSnmpTooBig, 0);
    EXPECT_EQ(calls.log.size(), 1u);
    EXPECT_EQ(calls.log[0].second, kSnmpTooBig);
}

// An answer larger than the receive buffer arrives cut: it is taken as tooBig at once (no wait for the
// retransmissions): the batch goes again one request at a time, and a lone request that is still
// answered too large fails with status 1 at once. A cut datagram that answers nothing is ignored.
TEST(SnmpEngine, AnAnswerCutByTheReceiveBufferSplitsTheBatchAtOnce)
{
    Harness h;
    Calls calls;
    std::vector<std::pair<Calls*, int>> contexts;
    for (int i = 1; i <= 2; ++i)
        contexts.push_back({ &calls, i });
    for (int i = 1; i <= 2; ++i)
        h.engine.Subscribe(
            Oid("1.3.6.1.4.1.9." + std::to_string(i)), kDevice, "", 100, &contexts[i - 1], Calls::Callback);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 1u);
    ASSERT_EQ(h.sent[0].message.bindings.size(), 2u);
    // The answer as a device sends it, 3,000 bytes and more, of which the buffer holds the first 2,048.
    auto cutAnswer = [&](const SnmpMessage& request, uint32_t requestId) {
        SnmpMessage r;
        r.pdu = kPduResponse;
        r.requestId = requestId;
        for (const SnmpBinding& asked : request.bindings)
            for (int copy = 0; copy < 9; ++copy) { // (a value holds at most 255 characters)
                SnmpBinding b = asked;
                b.tag = kBerOctetString;
                b.value = SnmpValue::String(std::string(255, 'x'));
                r.bindings.push_back(b);
            }
        std::vector<uint8_t> bytes(8192);
        bytes.resize(SnmpEncodeMessage(r, bytes.data(), bytes.size()));
        EXPECT_GT(bytes.size(), kSnmpReceiveBuffer);
        h.engine.ReceiveCut(kDevice, bytes.data(), kSnmpReceiveBuffer, bytes.size());
    };
    cutAnswer(h.sent[0].message, h.sent[0].message.requestId + 7); // another request's: ignored
    h.Tick();
    EXPECT_EQ(h.sent.size(), 1u) << "nothing goes out before the retransmission is due";
    cutAnswer(h.sent[0].message, h.sent[0].message.requestId);
    EXPECT_TRUE(calls.log.empty());
    h.Tick();
    ASSERT_EQ(h.sent.size(), 2u) << "the batch goes again at the next tick, not after the time-out";
    ASSERT_EQ(h.sent[1].message.bindings.size(), 1u);
    std::string first = OidsOf(h.sent[1].message)[0];
    int firstContext = first.back() - '0';
    cutAnswer(h.sent[1].message, h.sent[1].message.requestId);
    ASSERT_EQ(calls.log.size(), 1u);
    EXPECT_EQ(calls.log[0], std::make_pair(firstContext, static_cast<int>(kSnmpTooBig)));
    h.Tick();
    ASSERT_EQ(h.sent.size(), 3u);
    ASSERT_EQ(h.sent[2].message.bindings.size(), 1u);
    EXPECT_NE(OidsOf(h.sent[2].message)[0], first);
    h.Answer();
    ASSERT_EQ(calls.log.size(), 2u);
    EXPECT_EQ(calls.log[1], std::make_pair(3 - firstContext, 0));
}

TEST(SnmpEngine, ADuplicateOrForeignAnswerIsIgnored)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 };
    h.engine.Subscribe(Oid("1.3.6.1.2.1.1.3.0"), kDevice, "", 100, &a, Calls::Callback);
    h.Tick();
    SnmpMessage answer;
    answer.pdu = kPduResponse;
    answer.requestId = h.sent[0].message.requestId;
    SnmpBinding b = h.sent[0].message.bindings[0];
    b.tag = kBerTimeTicks;
    b.value = SnmpValue::Integer(42);
    answer.bindings.push_back(b);
    h.Deliver(answer, SnmpAddressFromHost(0x7F000003)); // another address
    EXPECT_TRUE(calls.log.empty());
    SnmpMessage wrongId = answer;
    wrongId.requestId += 1;
    h.Deliver(wrongId);
    EXPECT_TRUE(calls.log.empty());
    h.Deliver(answer);
    EXPECT_EQ(calls.log.size(), 1u);
    // Re-armed and polled again; the old answer arrives once more before the new one.
    h.engine.Subscribe(Oid("1.3.6.1.2.1.1.3.0"), kDevice, "", 100, &a, Calls::Callback);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 2u);
    h.Deliver(answer);
    EXPECT_EQ(calls.log.size(), 1u);
}

TEST(SnmpEngine, RetransmitsAtTheScheduleThenGivesUpAndSendsTheNextRequestOnTheFollowingTick)
{
    struct Row {
        uint32_t answerAtTick; // answer to the first request after this many ticks: sets the latency class
        uint32_t latencyClass;
        std::vector<int> sendTicks; // of the second request, relative to its first send
        int giveUpTick;
    } rows[] = {
        { 1, 0, { 0, 10, 25, 50 }, 100 },
        { 12, 1, { 0, 25, 50, 100 }, 150 },
        { 30, 2, { 0, 50, 100, 150 }, 200 },
    };
    for (const Row& row : rows) {
        Harness h;
        Calls calls;
        std::pair<Calls*, int> a { &calls, 1 };
        SnmpOid oid = Oid("1.3.6.1.2.1.1.3.0");
        h.engine.Subscribe(oid, kDevice, "", 100, &a, Calls::Callback);
        h.Tick();
        h.Tick(row.answerAtTick - 1);
        h.Answer();
        ASSERT_EQ(h.engine.FindAgent(kDevice)->latencyClass, row.latencyClass);
        // Second poll: the device falls silent.
        h.engine.Subscribe(oid, kDevice, "", 100, &a, Calls::Callback);
        calls.log.clear();
        size_t before = h.sent.size();
        h.Tick();
        int first = h.ticks - 1;
        std::vector<int> sendTicks;
        uint32_t id = h.sent.back().message.requestId;
        while (calls.log.empty() && h.ticks < first + 400) {
            if (h.sent.size() > before) {
                sendTicks.push_back(h.ticks - 1 - first);
                EXPECT_EQ(h.sent.back().message.requestId, id) << "a retransmission keeps its id";
                before = h.sent.size();
            }
            h.Tick();
        }
        EXPECT_EQ(sendTicks, row.sendTicks);
        EXPECT_EQ(h.ticks - 1 - first, row.giveUpTick);
        EXPECT_EQ(calls.log, (std::vector<std::pair<int, int>> { { 1, -1 } }));
        SnmpValue v;
        ASSERT_EQ(h.engine.GetCached(oid, kDevice, &v), 1);
        EXPECT_EQ(v.kind, kSnmpNone);
        EXPECT_EQ(h.engine.FindAgent(kDevice)->latencyClass, 0u);
        // A late answer to the abandoned request is not taken for the next one.
        h.Answer();
        EXPECT_EQ(calls.log.size(), 1u);
        h.engine.Subscribe(oid, kDevice, "", 100, &a, Calls::Callback);
        size_t sentBefore = h.sent.size();
        h.Tick();
        EXPECT_EQ(h.sent.size(), sentBefore + 1) << "the next request goes out on the following tick";
        EXPECT_NE(h.sent.back().message.requestId, id);
    }
}

TEST(SnmpEngine, SubscriptionRules)
{
    Harness h;
    Calls calls;
    SnmpOid oid = Oid("1.3.6.1.2.1.1.5.0");
    std::vector<std::pair<Calls*, int>> contexts(257);
    for (int i = 0; i < 257; ++i)
        contexts[i] = { &calls, i };
    // Interval 0 registers without a poll.
    ASSERT_EQ(h.engine.Subscribe(oid, kDevice, "", 0, &contexts[0], Calls::Callback), 1);
    h.Tick(50);
    EXPECT_TRUE(h.sent.empty());
    // The same context twice keeps one slot.
    ASSERT_EQ(h.engine.Subscribe(oid, kDevice, "", 0, &contexts[0], Calls::Callback), 1);
    for (int i = 1; i < 256; ++i)
        ASSERT_EQ(h.engine.Subscribe(oid, kDevice, "", 0, &contexts[i], Calls::Callback), 1) << i;
    EXPECT_EQ(h.engine.Subscribe(oid, kDevice, "", 0, &contexts[256], Calls::Callback), 0) << "the 257th";
    // A shorter interval wins over an armed longer one, a longer one does not replace a shorter.
    h.engine.Subscribe(oid, kDevice, "", 1000, &contexts[0], Calls::Callback);
    h.engine.Subscribe(oid, kDevice, "", 200, &contexts[0], Calls::Callback);
    h.engine.Subscribe(oid, kDevice, "", 5000, &contexts[0], Calls::Callback);
    h.Tick(2);
    ASSERT_EQ(h.sent.size(), 1u);
    h.Answer();
    EXPECT_EQ(calls.log.size(), 256u) << "every subscriber once";
}

TEST(SnmpEngine, UnsubscribeClearsTheValueAndPrunesEmptyNodes)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 }, b { &calls, 2 };
    SnmpOid leaf = Oid("1.3.6.1.2.1.1.5.0");
    SnmpOid parent = Oid("1.3.6.1.2.1.1");
    h.engine.Subscribe(leaf, kDevice, "", 100, &a, Calls::Callback);
    h.engine.Subscribe(leaf, kDevice, "", 100, &b, Calls::Callback);
    h.engine.Subscribe(parent, kDevice, "", 0, &a, Calls::Callback);
    h.Tick();
    h.Answer();
    SnmpValue v;
    EXPECT_EQ(h.engine.Unsubscribe(leaf, kDevice, &calls), 0) << "unknown context";
    EXPECT_EQ(h.engine.Unsubscribe(leaf, kDevice, &a), 1);
    ASSERT_EQ(h.engine.GetCached(leaf, kDevice, &v), 1);
    EXPECT_EQ(v.kind, kSnmpInteger) << "one subscriber left";
    EXPECT_EQ(h.engine.Unsubscribe(leaf, kDevice, &b), 1);
    EXPECT_EQ(h.engine.GetCached(leaf, kDevice, &v), 0) << "the leaf is gone";
    EXPECT_EQ(h.engine.GetCached(parent, kDevice, &v), 1) << "the parent still has a subscriber";
    EXPECT_EQ(h.engine.Unsubscribe(parent, kDevice, &a), 1);
    EXPECT_EQ(h.engine.GetCached(Oid("1.3"), kDevice, &v), 0) << "every empty ancestor is gone";
}

namespace {
// A subscriber that removes itself and its neighbour, then frees everything, from inside its callback.
struct Reentrant {
    SnmpEngine* engine;
    SnmpOid oid;
    int calls = 0;
    bool clearAll = false;
    static void Callback(void* context, int status)
    {
        auto* r = static_cast<Reentrant*>(context);
        ++r->calls;
        SnmpValue v;
        r->engine->GetCached(r->oid, kDevice, &v);
        r->engine->Unsubscribe(r->oid, kDevice, r);
        r->engine->Unsubscribe(r->oid, kDevice, r + 1);
        r->engine->Subscribe(Oid("1.3.6.1.9"), kDevice, "", 100, r, Callback);
        if (r->clearAll)
            r->engine->ClearAll();
    }
};
} // namespace

TEST(SnmpEngine, CallbacksMayChangeTheEngine)
{
    for (bool clearAll : { false, true }) {
        Harness h;
        Reentrant r[2];
        SnmpOid oid = Oid("1.3.6.1.2.1.1.5.0");
        for (Reentrant& x : r) {
            x.engine = &h.engine;
            x.oid = oid;
            x.clearAll = clearAll;
            h.engine.Subscribe(oid, kDevice, "", 100, &x, Reentrant::Callback);
        }
        h.Tick();
        h.Answer();
        EXPECT_EQ(r[0].calls + r[1].calls, 1) << "the second one was removed before its turn";
        h.Tick(3);
        h.Answer();
    }
}

TEST(SnmpEngine, SetsUseTheWriteCommunityAndTravelOneByOne)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 }, b { &calls, 2 };
    SnmpOid oid = Oid("1.3.6.1.2.1.1.4.0");
    h.engine.QueueSet(
        oid, kDevice, "private", SnmpValue::Address(SnmpAddressFromHost(0x0A000001)), &a, Calls::Callback, 0);
    h.engine.QueueSet(oid, kDevice, "", SnmpValue::Integer(7), &b, Calls::Callback, 1);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 1u);
    const SnmpMessage& set = h.sent[0].message;
    EXPECT_EQ(set.pdu, kPduSet);
    EXPECT_EQ(set.community, "public") << "the last write community given (default flag set)";
    EXPECT_EQ(set.requestId >> 24, 2u);
    ASSERT_EQ(set.bindings.size(), 1u);
    EXPECT_EQ(set.bindings[0].tag, kBerOctetString);
    EXPECT_EQ(set.bindings[0].value.text, "10.0.0.1");
    h.Answer(kSnmpNoError, 0, { set.bindings[0] });
    EXPECT_EQ(calls.log, (std::vector<std::pair<int, int>> { { 1, 0 } }));
    h.Tick();
    EXPECT_EQ(h.sent[1].message.bindings[0].tag, kBerInteger);
    h.Answer(kSnmpReadOnly, 1);
    EXPECT_EQ(calls.log.back(), std::make_pair(2, static_cast<int>(kSnmpReadOnly)));
    // Without the default flag an empty write community stays empty; cancelling drops queued sets.
    h.engine.QueueSet(oid, kDevice, nullptr, SnmpValue::Integer(1), &a, Calls::Callback, 0);
    EXPECT_EQ(h.engine.FindAgent(kDevice)->writeCommunity, "");
    h.Tick();
    EXPECT_EQ(h.engine.CancelSets(kDevice), 1);
    EXPECT_EQ(h.engine.CancelSets(SnmpAddressFromHost(0x7F000063)), 0);
    Calls polls;
    std::pair<Calls*, int> c { &polls, 3 };
    h.engine.Subscribe(oid, kDevice, "", 100, &c, Calls::Callback);
    size_t before = h.sent.size();
    h.Tick();
    EXPECT_EQ(h.sent.size(), before + 1) << "the cancelled set leaves nothing outstanding";
    EXPECT_EQ(calls.log.size(), 2u) << "cancelled sets get no callback";
}

TEST(SnmpEngine, BatchesHoldAtMost32AndFitTheRequestBuffer)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 };
    for (int i = 0; i < 40; ++i)
        h.engine.Subscribe(Oid("1.3.6.1.4.1.9." + std::to_string(i)), kDevice, "", 100, &a, Calls::Callback);
    h.Tick();
    EXPECT_EQ(h.sent[0].message.bindings.size(), 32u);
    h.Answer();
    h.Tick();
    EXPECT_EQ(h.sent[1].message.bindings.size(), 8u);
    // 32 long OIDs cannot share one 1024-byte request: each request is cut to fit, none is lost.
    Harness l;
    std::string base = "1.3.6.1.4.1";
    for (int i = 0; i < 60; ++i)
        base += ".300";
    for (int i = 0; i < 32; ++i)
        l.engine.Subscribe(
            Oid(base + "." + std::to_string(i)), kDevice, std::string(255, 'c').c_str(), 100, &a, Calls::Callback);
    calls.log.clear();
    size_t total = 0;
    for (int round = 0; round < 40 && total < 32; ++round) {
        l.Tick();
        ASSERT_FALSE(l.sent.empty());
        total += l.sent.back().message.bindings.size();
        EXPECT_LE(l.sent.back().size, kSnmpRequestBuffer);
        l.Answer();
    }
    EXPECT_EQ(total, 32u);
    EXPECT_EQ(calls.log.size(), 32u);
    EXPECT_GT(l.sent.size(), 1u);
}

namespace {
struct TrapSeen {
    int count = 0;
    uint32_t generic = 0;
    static void Observe(void* context, const SnmpTrapInfo& trap)
    {
        auto* t = static_cast<TrapSeen*>(context);
        ++t->count;
        t->generic = trap.message->genericTrap;
    }
};
} // namespace

TEST(SnmpEngine, EnterpriseTrapsSixOneUpdateSubscribedNodes)
{
    Harness h;
    Calls calls;
    TrapSeen seen;
    std::pair<Calls*, int> a { &calls, 1 };
    SnmpOid oid = Oid("1.3.6.1.4.1.9.3.1");
    h.engine.Subscribe(oid, kDevice, "", 0, &a, Calls::Callback);
    h.engine.SetTrapObserver(TrapSeen::Observe, &seen);
    SnmpMessage trap;
    trap.pdu = kPduTrap;
    trap.enterprise = Oid("1.3.6.1.4.1.9");
    trap.genericTrap = 6;
    trap.specificTrap = 2;
    SnmpBinding b;
    b.oid = oid;
    b.tag = kBerOctetString;
    b.value = SnmpValue::String("up");
    trap.bindings = { b };
    SnmpBinding other = b;
    other.oid = Oid("1.3.6.1.4.1.9.3.2");
    trap.bindings.push_back(other);
    h.Deliver(trap);
    EXPECT_TRUE(calls.log.empty()) << "specific 2 is not used";
    trap.specificTrap = 1;
    h.Deliver(trap, SnmpAddressFromHost(0x7F000005));
    EXPECT_TRUE(calls.log.empty()) << "the sender has no agent";
    h.Deliver(trap);
    EXPECT_EQ(calls.log, (std::vector<std::pair<int, int>> { { 1, 0 } }));
    SnmpValue v;
    ASSERT_EQ(h.engine.GetCached(oid, kDevice, &v), 1);
    EXPECT_EQ(v.text, "up");
    EXPECT_EQ(seen.count, 3);
    EXPECT_EQ(seen.generic, 6u);
}

// Requests keep their OIDs in one buffer per device: removing done or cancelled requests from the middle
// of the queue must leave every other request with its own OID.
TEST(SnmpEngine, RequestsKeepTheirOidsWhenOthersLeaveTheQueue)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 };
    const char* texts[] = { "1.3.6.1.2.1.1.5.0", "1.3.6.1.4.1.58127.2.300000.0", "1.3.6.1.2.1.2.2.1.10.1", "1.3.6.7" };
    // A set queued first goes alone; the gets behind it wait.
    h.engine.QueueSet(Oid("1.3.6.1.2.1.1.4.0"), kDevice, "w", SnmpValue::Integer(1), &a, Calls::Callback, 1);
    for (const char* t : texts)
        h.engine.Subscribe(Oid(t), kDevice, "", 100, &a, Calls::Callback);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 1u);
    EXPECT_EQ(h.sent[0].message.pdu, kPduSet);
    // The set is cancelled while outstanding; the four gets fall due and go out together.
    EXPECT_EQ(h.engine.CancelSets(kDevice), 1);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 2u);
    ASSERT_EQ(h.sent[1].message.bindings.size(), 4u);
    std::vector<std::string> sent;
    for (const SnmpBinding& b : h.sent[1].message.bindings)
        sent.push_back(SnmpOidText(b.oid));
    std::vector<std::string> expected(std::rbegin(texts), std::rend(texts)); // pre-order, newest first
    std::sort(sent.begin(), sent.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sent, expected);
    // noSuchName for the second binding completes that one; the other three go out again, each with its OID.
    std::string failed = SnmpOidText(h.sent[1].message.bindings[1].oid);
    h.Answer(kSnmpNoSuchName, 2);
    h.Tick();
    ASSERT_EQ(h.sent.size(), 3u);
    std::vector<std::string> again;
    for (const SnmpBinding& b : h.sent[2].message.bindings)
        again.push_back(SnmpOidText(b.oid));
    std::vector<std::string> rest;
    for (const SnmpBinding& b : h.sent[1].message.bindings)
        if (SnmpOidText(b.oid) != failed)
            rest.push_back(SnmpOidText(b.oid));
    EXPECT_EQ(again, rest);
    h.Answer();
    EXPECT_EQ(calls.log.size(), 4u);
    EXPECT_EQ(std::count(calls.log.begin(), calls.log.end(), std::make_pair(1, static_cast<int>(kSnmpNoSuchName))), 1);
}

// The first subscriber of a node is kept apart from the others: whoever leaves, the rest are called in
// the order they subscribed, and a node whose subscribers all left and came back works as before.
TEST(SnmpEngine, SubscribersKeepTheirOrderWhicheverLeaves)
{
    struct Row {
        std::vector<int> subscribe; // contexts, in order
        std::vector<int> leave;
        std::vector<int> join; // after leaving
        std::vector<int> called;
    } rows[] = {
        { { 1, 2, 3 }, { 1 }, {}, { 2, 3 } },
        { { 1, 2, 3 }, { 1, 2 }, { 4 }, { 3, 4 } },
        { { 1, 2, 3 }, { 2 }, { 5 }, { 1, 3, 5 } },
        { { 1, 2 }, { 2, 1 }, { 6, 7 }, { 6, 7 } },
        { { 1 }, { 1 }, { 1 }, { 1 } },
        { { 1, 2, 3, 4, 5, 6 }, { 1, 4 }, { 1 }, { 2, 3, 5, 6, 1 } },
    };
    SnmpOid oid = Oid("1.3.6.1.2.1.1.5.0");
    for (const Row& row : rows) {
        Harness h;
        Calls calls;
        std::vector<std::pair<Calls*, int>> contexts(8);
        for (int i = 0; i < 8; ++i)
            contexts[i] = { &calls, i };
        // A second subscriber keeps the node (and its poll) when the last of the first set leaves.
        std::pair<Calls*, int> keeper { &calls, 99 };
        h.engine.Subscribe(Oid("1.3.6.1.2.1.1.6.0"), kDevice, "", 100, &keeper, Calls::Callback);
        for (int c : row.subscribe)
            ASSERT_EQ(h.engine.Subscribe(oid, kDevice, "", 100, &contexts[c], Calls::Callback), 1);
        for (int c : row.leave)
            ASSERT_EQ(h.engine.Unsubscribe(oid, kDevice, &contexts[c]), 1) << c;
        EXPECT_EQ(h.engine.Unsubscribe(oid, kDevice, &contexts[row.leave[0]]), 0) << "already gone";
        for (int c : row.join)
            ASSERT_EQ(h.engine.Subscribe(oid, kDevice, "", 100, &contexts[c], Calls::Callback), 1);
        h.Tick();
        ASSERT_FALSE(h.sent.empty());
        h.Answer();
        std::vector<int> called;
        for (const auto& [context, status] : calls.log) {
            EXPECT_EQ(status, 0);
            if (context != 99)
                called.push_back(context);
        }
        EXPECT_EQ(called, row.called);
    }
}

// Answers are read where they lie in the datagram: every kind of value reaches the cache as the decoder
// gives it, and a later answer with a shorter text replaces the longer one.
TEST(SnmpEngine, AnswersOfEveryKindReachTheCache)
{
    Harness h;
    Calls calls;
    std::pair<Calls*, int> a { &calls, 1 };
    struct Row {
        const char* oid;
        uint8_t tag;
        SnmpValue value;
        SnmpValue expected;
    } rows[] = {
        { "1.3.6.1.2.1.1.1.0", kBerOctetString, SnmpValue::String("router of the back office"),
            SnmpValue::String("router of the back office") },
        { "1.3.6.1.2.1.1.2.0", kBerOid, SnmpValue::String("1.3.6.1.4.1.58127.1.3"),
            SnmpValue::String("1.3.6.1.4.1.58127.1.3") },
        { "1.3.6.1.2.1.1.3.0", kBerTimeTicks, SnmpValue::Integer(0xFFFFFFFEu), SnmpValue::Integer(0xFFFFFFFEu) },
        { "1.3.6.1.2.1.4.20.1.1.1", kBerIpAddress, SnmpValue::Address(SnmpAddressFromHost(0xC0A80101)),
            SnmpValue::Address(SnmpAddressFromHost(0xC0A80101)) },
        { "1.3.6.1.2.1.2.2.1.10.1", kBerInteger, SnmpValue::Integer(static_cast<uint32_t>(-2)),
            SnmpValue::Integer(static_cast<uint32_t>(-2)) },
        { "1.3.6.1.2.1.1.4.0", kBerNull, SnmpValue(), SnmpValue() },
    };
    for (const Row& row : rows)
        h.engine.Subscribe(Oid(row.oid), kDevice, "", 100, &a, Calls::Callback);
    for (const char* shorter : { "", "up" }) {
        h.Tick();
        ASSERT_FALSE(h.sent.empty());
        std::vector<SnmpBinding> bindings;
        for (const SnmpBinding& asked : h.sent.back().message.bindings) {
            for (const Row& row : rows)
                if (SnmpOidEqual(asked.oid, Oid(row.oid))) {
                    SnmpBinding b = asked;
                    b.tag = row.tag;
                    b.value = row.value;
                    bindings.push_back(b);
                }
        }
        ASSERT_EQ(bindings.size(), std::size(rows));
        h.Answer(0, 0, bindings);
        for (const Row& row : rows) {
            SnmpValue v;
            ASSERT_EQ(h.engine.GetCached(Oid(row.oid), kDevice, &v), 1) << row.oid;
            EXPECT_EQ(v.kind, row.expected.kind) << row.oid;
            EXPECT_EQ(v.integer, row.expected.integer) << row.oid;
            EXPECT_EQ(v.address, row.expected.address) << row.oid;
            EXPECT_EQ(v.text, row.expected.text) << row.oid;
        }
        // The next round answers the text with a shorter one.
        rows[0].value = rows[0].expected = SnmpValue::String(shorter);
        for (int i = 0; i < 10; ++i)
            h.Tick(); // (re-armed by nobody: subscribe again for the next poll)
        for (const Row& row : rows)
            h.engine.Subscribe(Oid(row.oid), kDevice, "", 100, &a, Calls::Callback);
    }
}
