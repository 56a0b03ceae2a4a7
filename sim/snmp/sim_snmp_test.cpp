#include "sim/snmp/sim_snmp.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>

namespace {
std::string DataDir()
{
    const char* src = std::getenv("SUITE_SOURCE_DIR");
    return std::string(src ? src : ".") + "/sim/snmp/data";
}

std::shared_ptr<SimMib> LoadType(const char* file)
{
    std::string error;
    auto mib = SimMibLoad(DataDir() + "/" + file, &error);
    EXPECT_TRUE(mib) << error;
    return mib;
}

SnmpOid Oid(const std::string& text)
{
    SnmpOid oid;
    EXPECT_EQ(SnmpOidFromText(text.c_str(), &oid), 1) << text;
    return oid;
}

struct Exchange {
    SimSnmpAgent agent;
    explicit Exchange(std::shared_ptr<SimMib> mib, size_t maxResponse = 1472)
        : agent(Config(maxResponse), std::move(mib), 0)
    {
    }
    static SimSnmpDeviceConfig Config(size_t maxResponse)
    {
        SimSnmpDeviceConfig c;
        c.name = "dev-7";
        c.address = 0x7F000107;
        c.maxResponse = maxResponse;
        return c;
    }
    // Sends one request; false when the agent does not answer.
    bool Ask(uint8_t pdu, const char* community, std::vector<SnmpBinding> bindings, SnmpMessage* answer,
        uint32_t nowMs = 1000)
    {
        SnmpMessage req;
        req.pdu = pdu;
        req.community = community;
        req.requestId = 77;
        req.bindings = std::move(bindings);
        uint8_t buffer[2048];
        size_t n = SnmpEncodeMessage(req, buffer, sizeof buffer);
        std::vector<uint8_t> out = agent.Handle(buffer, n, nowMs);
        if (out.empty())
            return false;
        EXPECT_EQ(SnmpDecodeMessage(out.data(), out.size(), answer), kSnmpDecodeOk);
        EXPECT_EQ(answer->pdu, kPduResponse);
        EXPECT_EQ(answer->requestId, 77u);
        return true;
    }
};

SnmpBinding Null(const std::string& oid)
{
    SnmpBinding b;
    b.oid = Oid(oid);
    return b;
}

SnmpBinding Text(const std::string& oid, const std::string& text)
{
    SnmpBinding b;
    b.oid = Oid(oid);
    b.tag = kBerOctetString;
    b.value = SnmpValue::String(text);
    return b;
}
} // namespace

TEST(SimMib, ParsesTheShippedTypesAndReportsTheFirstError)
{
    for (const char* file : { "morvak1100.mib", "morvak1100plus.mib", "morvak2400.mib", "morvak5000.mib" }) {
        auto mib = LoadType(file);
        ASSERT_TRUE(mib);
        EXPECT_GT(mib->objects.size(), 80u) << file;
    }
    struct Row {
        const char* text;
        const char* error;
    } rows[] = {
        { "1.3.6 s ro \"x", "t:1: unterminated quote" },
        { "1.3.6 q ro 1", "t:1: unknown type: q" },
        { "1.3.6 i ro x", "t:1: not a number: x" },
        { "\n1.3.6 i rx 1", "t:2: access must be ro or rw: rx" },
        { "1.3.x i ro 1", "t:1: bad object identifier: 1.3.x" },
        { "1.3.6 a ro 1.2.3", "t:1: not an address: 1.2.3" },
        { "1.3.6 i ro cycle 1,2 0", "t:1: cycle needs values and a period in seconds" },
        // Periods whose milliseconds (over the whole cycle) do not fit 32 bits: refused, never a
        // division by a period that wrapped to 0.
        { "1.3.6 i ro cycle 1,2 536870912",
            "t:1: cycle period too long (the whole cycle must stay below 4294967 seconds)" },
        { "1.3.6 i ro cycle 1,2,3 1431656",
            "t:1: cycle period too long (the whole cycle must stay below 4294967 seconds)" },
        { "1.3.6 s ro uptime", "t:1: uptime needs type t" },
        { "1.3.6 i ro 1 extra", "t:1: unexpected word: extra" },
        { "include nothing-here.mib", "t:1: cannot include nothing-here.mib" },
    };
    for (const Row& row : rows) {
        std::string error;
        EXPECT_FALSE(SimMibParse(row.text, "t", DataDir(), &error));
        EXPECT_EQ(error, row.error);
    }
}

TEST(SimAgent, GetAndGetNextWalkTheMibInOrder)
{
    Exchange x(LoadType("morvak1100.mib"));
    SnmpMessage a;
    ASSERT_TRUE(x.Ask(kPduGet, "public", { Null("1.3.6.1.2.1.1.1.0"), Null("1.3.6.1.2.1.1.5.0") }, &a));
    EXPECT_EQ(a.errorStatus, 0u);
    ASSERT_EQ(a.bindings.size(), 2u);
    EXPECT_EQ(a.bindings[0].value.text, "Zevra Morvak 1100");
    EXPECT_EQ(a.bindings[1].value.text, "dev-7") << "$name";
    // getnext from a table's column prefix and across the end of a column
    ASSERT_TRUE(x.Ask(kPduGetNext, "public", { Null("1.3.6.1.2.1.2.2.1.2"), Null("1.3.6.1.2.1.2.2.1.2.2") }, &a));
    EXPECT_EQ(SnmpOidText(a.bindings[0].oid), "1.3.6.1.2.1.2.2.1.2.1");
    EXPECT_EQ(a.bindings[0].value.text, "LAN");
    EXPECT_EQ(SnmpOidText(a.bindings[1].oid), "1.3.6.1.2.1.2.2.1.3.1");
    // unknown object, end of the MIB
    ASSERT_TRUE(x.Ask(kPduGet, "private", { Null("1.3.6.1.2.1.1.1.0"), Null("1.3.6.1.2.1.1.99.0") }, &a));
    EXPECT_EQ(a.errorStatus, kSnmpNoSuchName);
    EXPECT_EQ(a.errorIndex, 2u);
    ASSERT_EQ(a.bindings.size(), 2u) << "an error answer repeats the request's bindings";
    ASSERT_TRUE(x.Ask(kPduGetNext, "public", { Null("1.3.6.1.4.1.58127.9") }, &a));
    EXPECT_EQ(a.errorStatus, kSnmpNoSuchName);
    // a wrong community gets no answer
    EXPECT_FALSE(x.Ask(kPduGet, "guess", { Null("1.3.6.1.2.1.1.1.0") }, &a));
}

TEST(SimAgent, SetChecksCommunityAccessAndType)
{
    Exchange x(LoadType("morvak2400.mib"));
    SnmpMessage a;
    struct Row {
        const char* community;
        SnmpBinding binding;
        uint32_t status;
    } rows[] = {
        // The read community, or a read-only object: noSuchName, as SNMPv1 agents answer.
        { "public", Text("1.3.6.1.2.1.1.4.0", "ops"), kSnmpNoSuchName },
        { "private", Text("1.3.6.1.2.1.1.1.0", "x"), kSnmpNoSuchName },
        { "private", Text("1.3.6.1.2.1.1.98.0", "x"), kSnmpNoSuchName },
        { "private", Null("1.3.6.1.2.1.1.4.0"), kSnmpBadValue },
        { "private", Text("1.3.6.1.2.1.1.4.0", "ops@example"), kSnmpNoError },
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(x.Ask(kPduSet, row.community, { row.binding }, &a));
        EXPECT_EQ(a.errorStatus, row.status) << row.community << " " << SnmpOidText(row.binding.oid);
    }
    ASSERT_TRUE(x.Ask(kPduGet, "public", { Null("1.3.6.1.2.1.1.4.0") }, &a));
    EXPECT_EQ(a.bindings[0].value.text, "ops@example");
    // A set of several is all or nothing.
    ASSERT_TRUE(x.Ask(kPduSet, "private", { Text("1.3.6.1.2.1.1.6.0", "lab"), Null("1.3.6.1.2.1.1.4.0") }, &a));
    EXPECT_EQ(a.errorStatus, kSnmpBadValue);
    EXPECT_EQ(a.errorIndex, 2u);
    ASSERT_TRUE(x.Ask(kPduGet, "public", { Null("1.3.6.1.2.1.1.6.0") }, &a));
    EXPECT_EQ(a.bindings[0].value.text, "");
}

TEST(SimAgent, ClearingTheAccountingTableRemovesItsRows)
{
    auto mib = LoadType("morvak1100.mib");
    Exchange x(mib), other(mib);
    SnmpMessage a;
    ASSERT_TRUE(x.Ask(kPduGetNext, "public", { Null("1.3.6.1.4.1.58127.3.1.1.1") }, &a));
    EXPECT_EQ(a.bindings[0].value.text, "LANUSER-maria");
    ASSERT_TRUE(x.Ask(kPduSet, "private", { Text("1.3.6.1.4.1.58127.3.2.0", "") }, &a));
    EXPECT_EQ(a.errorStatus, 0u);
    ASSERT_TRUE(x.Ask(kPduGetNext, "public", { Null("1.3.6.1.4.1.58127.3.1.1.1") }, &a));
    EXPECT_EQ(SnmpOidText(a.bindings[0].oid), "1.3.6.1.4.1.58127.3.2.0");
    ASSERT_TRUE(other.Ask(kPduGetNext, "public", { Null("1.3.6.1.4.1.58127.3.1.1.1") }, &a));
    EXPECT_EQ(a.bindings[0].value.text, "LANUSER-maria") << "another device of the type keeps its table";
}

TEST(SimAgent, SessionRowsComeAndGoTheSameOnEveryRun)
{
    auto mib = LoadType("morvak1100.mib");
    // The rows of the sessions table a walk of its first column finds at a moment (seconds from the start).
    auto rows = [&](Exchange& x, uint32_t second) {
        std::string out;
        SnmpMessage a;
        std::string at = "1.3.6.1.4.1.58127.5.1.1.1";
        for (int i = 0; i < 10 && x.Ask(kPduGetNext, "public", { Null(at) }, &a, second * 1000 + 500); ++i) {
            at = SnmpOidText(a.bindings[0].oid);
            if (a.errorStatus || at.rfind("1.3.6.1.4.1.58127.5.1.1.1.", 0) != 0)
                break;
            out += at.substr(at.rfind('.') + 1);
        }
        return out;
    };
    Exchange x(mib), other(mib);
    EXPECT_EQ(rows(x, 5), "12");
    EXPECT_EQ(rows(x, 15), "123");
    EXPECT_EQ(rows(x, 35), "12");
    EXPECT_EQ(rows(x, 42), "1");
    EXPECT_EQ(rows(x, 50), "14");
    EXPECT_EQ(rows(x, 75), "123") << "every minute again";
    EXPECT_EQ(rows(other, 15), "123") << "the same on every device";
    // A get of a row that is gone: noSuchName.
    SnmpMessage a;
    ASSERT_TRUE(x.Ask(kPduGet, "public", { Null("1.3.6.1.4.1.58127.5.1.1.3.3") }, &a, 35000));
    EXPECT_EQ(a.errorStatus, kSnmpNoSuchName);
    ASSERT_TRUE(x.Ask(kPduGet, "public", { Null("1.3.6.1.4.1.58127.5.1.1.3.3") }, &a, 15000));
    EXPECT_EQ(a.bindings[0].value.text, "pptp");

    std::string error;
    EXPECT_FALSE(SimMibParse("1.3.6.1.1 s ro \"x\" present 5,5 60\n", "t.mib", ".", &error));
    EXPECT_FALSE(SimMibParse("1.3.6.1.1 s ro \"x\" present 1,70 60\n", "t.mib", ".", &error));
}

TEST(SimAgent, RegistrationMakesTheSenderATrapDestination)
{
    Exchange x(LoadType("morvak1100.mib"));
    EXPECT_TRUE(x.agent.TrapDestinations().empty());
    auto set = [&](const std::string& value, const NetAddress& from) {
        SnmpMessage req;
        req.pdu = kPduSet;
        req.community = "private";
        req.requestId = 5;
        req.bindings = { Text(kSimRegistrationOid, value) };
        uint8_t buffer[512];
        size_t n = SnmpEncodeMessage(req, buffer, sizeof buffer);
        return !x.agent.Handle(buffer, n, 1000, &from).empty();
    };
    NetAddress monitor { 0x7F000001, 40162 };
    ASSERT_TRUE(set("Travik:162", monitor));
    EXPECT_EQ(x.agent.TrapDestinations(), std::vector<NetAddress> { monitor });
    EXPECT_TRUE(x.agent.WantsTraps());
    ASSERT_TRUE(set("", monitor));
    EXPECT_TRUE(x.agent.TrapDestinations().empty()) << "an empty value ends it";
}

TEST(SimAgent, CommunitiesOfAWrittenConfiguration)
{
    std::string read, write;
    EXPECT_FALSE(SimCommunitiesFromConfig("[sys]\r\n    /sys/name = x\r\n", &read, &write));
    const char* config = "[snmp]\r\n    </snmp/communities>\r\n      /snmp/communities-01 = ops\r\n"
                         "      /snmp/communities-02 = 2\r\n      /snmp/communities-03 = 0.0.0.0\r\n"
                         "    </snmp/communities>\r\n      /snmp/communities-01 = watch\r\n"
                         "      /snmp/communities-02 = 1\r\n      /snmp/communities-03 = 0.0.0.0\r\n";
    ASSERT_TRUE(SimCommunitiesFromConfig(config, &read, &write));
    EXPECT_EQ(read, "watch");
    EXPECT_EQ(write, "ops");
    // Read-only rows alone: nobody writes, not even with an empty community.
    ASSERT_TRUE(
        SimCommunitiesFromConfig("/snmp/communities-01 = public\r\n/snmp/communities-02 = 1\r\n", &read, &write));
    EXPECT_EQ(read, "public");
    EXPECT_EQ(write, "");
    Exchange x(LoadType("morvak1100.mib"));
    x.agent.SetCommunities(read, write);
    SnmpMessage a;
    ASSERT_TRUE(x.Ask(kPduSet, "", { Text("1.3.6.1.2.1.1.4.0", "x") }, &a) == false || a.errorStatus != 0);
    EXPECT_FALSE(x.Ask(kPduGet, "private", { Null("1.3.6.1.2.1.1.4.0") }, &a)) << "--snmp-write replaced";
    EXPECT_TRUE(x.Ask(kPduGet, "public", { Null("1.3.6.1.2.1.1.4.0") }, &a));
}

TEST(SimAgent, ValuesChangeOverTime)
{
    Exchange x(LoadType("morvak1100.mib"));
    SnmpMessage a, b;
    auto ask = [&](uint32_t now, SnmpMessage* out) {
        return x.Ask(kPduGet, "public",
            { Null("1.3.6.1.2.1.1.3.0"), Null("1.3.6.1.2.1.2.2.1.10.1"), Null("1.3.6.1.4.1.58127.2.4.0") }, out, now);
    };
    ASSERT_TRUE(ask(10000, &a));
    ASSERT_TRUE(ask(70000, &b));
    EXPECT_EQ(a.bindings[0].tag, kBerTimeTicks);
    EXPECT_EQ(b.bindings[0].value.integer - a.bindings[0].value.integer, 6000u);
    EXPECT_EQ(a.bindings[1].tag, kBerCounter);
    EXPECT_EQ(b.bindings[1].value.integer - a.bindings[1].value.integer, 60u * 250000u) << "wraps like a Counter";
    std::set<uint32_t> loads;
    for (uint32_t t = 0; t < 20000; t += 4000) {
        ASSERT_TRUE(ask(t, &a));
        loads.insert(a.bindings[2].value.integer);
    }
    EXPECT_EQ(loads.size(), 5u);
}

TEST(SimAgent, AnswersTooBigBeyondItsSize)
{
    Exchange x(LoadType("morvak1100.mib"), 100);
    SnmpMessage a;
    std::vector<SnmpBinding> many;
    for (int i = 1; i <= 7; ++i)
        many.push_back(Null("1.3.6.1.2.1.1." + std::to_string(i) + ".0"));
    ASSERT_TRUE(x.Ask(kPduGet, "public", many, &a));
    EXPECT_EQ(a.errorStatus, kSnmpTooBig);
    EXPECT_EQ(a.errorIndex, 0u);
    ASSERT_TRUE(x.Ask(kPduGet, "public", { many[0] }, &a));
    EXPECT_EQ(a.errorStatus, 0u);
}

TEST(SimAgent, TrapsCarryTheEnterpriseAndTheChangedObject)
{
    Exchange x(LoadType("morvak5000.mib"));
    std::vector<uint8_t> trap = x.agent.BuildTrap(1, { { 1, 3, 6, 1, 4, 1, 58127, 2, 5, 0 } }, 5000);
    SnmpMessage m;
    ASSERT_EQ(SnmpDecodeMessage(trap.data(), trap.size(), &m), kSnmpDecodeOk);
    EXPECT_EQ(m.pdu, kPduTrap);
    EXPECT_EQ(SnmpOidText(m.enterprise), "1.3.6.1.4.1.58127.1.4");
    EXPECT_EQ(m.genericTrap, 6u);
    EXPECT_EQ(m.specificTrap, 1u);
    EXPECT_EQ(m.timeStamp, 500u);
    EXPECT_EQ(SnmpAddressText(m.agentAddress), "127.0.1.7");
    ASSERT_EQ(m.bindings.size(), 1u);
    // The line state cycles every 20 s: one trap per change.
    size_t traps = 0;
    for (uint32_t t = 0; t <= 100000; t += 100)
        traps += x.agent.DueTraps(t).size();
    EXPECT_EQ(traps, 5u);
}
