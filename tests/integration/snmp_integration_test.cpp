// The SNMP engine, its jobs and talvine-cli against real peers: net-snmp's snmpd and tools on loopback,
// and the simulator's agent checked with snmpget, snmpwalk and snmpset.
#include "common/clock.h"
#include "monitor/snmp/snmp.h"
#include "sim/snmp/sim_snmp.h"
#include "tests/integration/child_process.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
const uint32_t kLoopback = 0x7F000001;

std::string SourceDir()
{
    const char* s = std::getenv("SUITE_SOURCE_DIR");
    return s ? s : ".";
}

std::string BinDir()
{
    const char* s = std::getenv("SUITE_BIN_DIR");
    return s ? s : ".";
}

SnmpOid Oid(const std::string& text)
{
    SnmpOid oid;
    EXPECT_EQ(SnmpOidFromText(text.c_str(), &oid), 1) << text;
    return oid;
}

// A UDP port that was free a moment ago.
using testing_child::FreePort;
using testing_child::Shell;

bool HaveProgram(const char* path)
{
    return access(path, X_OK) == 0;
}

// Stops the engine even when a test ends early.
struct EngineRun {
    explicit EngineRun(uint16_t agentPort, uint16_t localPort = 0, Clock* clock = nullptr)
    {
        SnmpStartOptions o;
        o.agentPort = agentPort;
        o.localPort = localPort;
        o.clock = clock;
        ok = SnmpStartWith(o) == 1;
    }
    ~EngineRun()
    {
        SnmpStop();
    }
    bool ok = false;
};

// One poll's outcome through the engine.
struct Outcome {
    std::mutex lock;
    int calls = 0;
    int status = 99;
    SnmpValue value;
    SnmpOid oid;
    uint32_t address = 0;
    static void Callback(void* context, int status)
    {
        auto* o = static_cast<Outcome*>(context);
        std::lock_guard<std::mutex> guard(o->lock);
        SnmpGetCached(o->oid, o->address, &o->value);
        o->status = status;
        ++o->calls;
    }
    bool Wait(int calls = 1, int ms = 12000)
    {
        for (int i = 0; i < ms / 5; ++i) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (this->calls >= calls)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

// net-snmp's agent on a loopback port, with its own configuration in a temporary directory.
class Snmpd {
public:
    Snmpd()
    {
        dir_ = std::filesystem::temp_directory_path() / ("snmpd-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
        port_ = FreePort();
        std::ofstream conf(dir_ / "snmpd.conf");
        conf << "agentAddress udp:127.0.0.1:" << port_ << "\n"
             << "rocommunity public 127.0.0.1\n"
             << "rwcommunity private 127.0.0.1\n"
             << "sysLocation lab\n";
        conf.close();
        std::string confPath = (dir_ / "snmpd.conf").string();
        child_ = std::make_unique<testing_child::Child>(std::vector<std::string> { "/usr/sbin/snmpd", "-f", "-Lo", "-C",
                                                            "-r", "-c", confPath, "-p", (dir_ / "snmpd.pid").string() },
            (dir_ / "snmpd.log").string(),
            std::vector<std::string> { "SNMP_PERSISTENT_DIR=" + dir_.string(), "MIBS=", "HOME=" + dir_.string() });
    }
    ~Snmpd()
    {
        child_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Waits until the agent names its version (it listens then) and answers a getnext job.
    bool Ready()
    {
        if (!child_->WaitFor("NET-SNMP version", 60000))
            return false;
        auto socket = SnmpOpenJobSocket();
        SnmpMessage answer;
        for (int i = 0; i < 5; ++i)
            if (SnmpGetNextJob(socket.get(), SnmpAddressFromHost(kLoopback), port_, "public", { Oid("1.3.6.1.2.1.1") },
                    1000, &answer))
                return true;
        return false;
    }
    uint16_t Port() const
    {
        return port_;
    }

private:
    std::filesystem::path dir_;
    uint16_t port_ = 0;
    std::unique_ptr<testing_child::Child> child_;
};

struct Rows {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> firstOids;
    static void Row(void* context, SnmpWalkColumn* columns, uint32_t count)
    {
        auto* r = static_cast<Rows*>(context);
        std::vector<std::string> row;
        for (uint32_t i = 0; i < count; ++i)
            row.push_back(columns[i].text);
        r->rows.push_back(row);
        r->firstOids.push_back(SnmpOidText(columns[0].oid));
    }
};

Rows Walk(uint16_t port, uint32_t address, const char* table, std::vector<uint32_t> columns)
{
    Rows rows;
    auto socket = SnmpOpenJobSocket();
    SnmpOid oid = Oid(table);
    std::vector<SnmpWalkColumn> cols(columns.size());
    for (size_t i = 0; i < columns.size(); ++i)
        cols[i].column = columns[i];
    SnmpWalkParams p;
    p.rowContext = &rows;
    p.socket = socket.get();
    p.address = address;
    p.oidTable = &oid;
    p.columns = cols.data();
    p.columnCount = static_cast<uint32_t>(cols.size());
    p.row = Rows::Row;
    p.port = port;
    p.waitMs = 300;
    std::thread job(SnmpWalkJob, &p);
    job.join();
    return rows;
}
} // namespace

TEST(SnmpAgainstSnmpd, GetWalkSetAndTrap)
{
    if (!HaveProgram("/usr/sbin/snmpd") || !HaveProgram("/usr/bin/snmptrap"))
        GTEST_SKIP() << "net-snmp's snmpd or tools are not installed";
    Snmpd snmpd;
    ASSERT_TRUE(snmpd.Ready()) << "snmpd did not come up";
    uint32_t trapPort = FreePort();
    EngineRun engine(snmpd.Port(), static_cast<uint16_t>(trapPort));
    ASSERT_TRUE(engine.ok);
    uint32_t address = SnmpAddressFromHost(kLoopback);

    // get sysDescr
    Outcome descr;
    descr.oid = Oid("1.3.6.1.2.1.1.1.0");
    descr.address = address;
    ASSERT_EQ(SnmpSubscribe(descr.oid, address, "public", 1, &descr, Outcome::Callback), 1);
    ASSERT_TRUE(descr.Wait());
    EXPECT_EQ(descr.status, 0);
    EXPECT_EQ(descr.value.kind, kSnmpString);
    EXPECT_FALSE(descr.value.text.empty());

    // walk the interfaces table: index, name, type
    Rows rows = Walk(snmpd.Port(), address, "1.3.6.1.2.1.2.2.1", { 1, 2, 3 });
    ASSERT_GE(rows.rows.size(), 1u);
    bool loopbackSeen = false;
    for (auto& row : rows.rows)
        loopbackSeen |= row[1] == "lo";
    EXPECT_TRUE(loopbackSeen);
    EXPECT_EQ(rows.firstOids[0], "1.3.6.1.2.1.2.2.1.1." + rows.rows[0][0]);

    // set sysContact and read it back
    Outcome set;
    set.oid = Oid("1.3.6.1.2.1.1.4.0");
    set.address = address;
    ASSERT_EQ(SnmpQueueSet(set.oid, address, "private", SnmpValue::String("noc@lab"), &set, Outcome::Callback, 0), 1);
    ASSERT_TRUE(set.Wait());
    EXPECT_EQ(set.status, 0);
    Outcome contact;
    contact.oid = set.oid;
    contact.address = address;
    SnmpSubscribe(contact.oid, address, "public", 1, &contact, Outcome::Callback);
    ASSERT_TRUE(contact.Wait());
    EXPECT_EQ(contact.value.text, "noc@lab");
    // a set with the read community is refused and reported with the device's status
    Outcome refused;
    refused.oid = set.oid;
    refused.address = address;
    SnmpQueueSet(set.oid, address, "public", SnmpValue::String("x"), &refused, Outcome::Callback, 0);
    ASSERT_TRUE(refused.Wait());
    EXPECT_GE(refused.status, 2);

    // an enterprise trap from snmptrap reaches the subscribers of its objects
    Outcome trapped;
    trapped.oid = Oid("1.3.6.1.4.1.58127.2.5.0");
    trapped.address = address;
    SnmpSubscribe(trapped.oid, address, "public", 0, &trapped, Outcome::Callback);
    std::string out;
    EXPECT_EQ(Shell("snmptrap -v 1 -c public 127.0.0.1:" + std::to_string(trapPort)
                      + " 1.3.6.1.4.1.58127 127.0.0.1 6 1 '' 1.3.6.1.4.1.58127.2.5.0 i 3",
                  &out),
        0);
    ASSERT_TRUE(trapped.Wait(1, 5000));
    EXPECT_EQ(trapped.status, 0);
    EXPECT_EQ(trapped.value.kind, kSnmpInteger);
    EXPECT_EQ(trapped.value.integer, 3u);
}

namespace {
// The simulator's agents for a few devices of the test.
struct SimFleet {
    SimSnmpServer server;
    uint16_t port;
    std::shared_ptr<SimMib> mib;
    explicit SimFleet(int devices, uint32_t firstAddress = 0x7F000A01, std::optional<NetAddress> trapTo = {},
        size_t maxResponse = 1472)
    {
        std::string error;
        mib = SimMibLoad(SourceDir() + "/sim/snmp/data/morvak1100.mib", &error);
        EXPECT_TRUE(mib) << error;
        port = FreePort(firstAddress);
        for (int i = 0; i < devices; ++i) {
            SimSnmpDeviceConfig c;
            c.address = firstAddress + static_cast<uint32_t>(i);
            c.port = port;
            c.name = "sim-" + std::to_string(i + 1);
            c.trapTo = trapTo;
            c.maxResponse = maxResponse;
            EXPECT_EQ(server.AddDevice(c, mib), 1);
        }
        EXPECT_EQ(server.Start(), 1);
    }
};
} // namespace

TEST(SimAgentWithNetSnmpTools, GetWalkAndSet)
{
    if (!HaveProgram("/usr/bin/snmpget"))
        GTEST_SKIP() << "net-snmp's tools are not installed";
    SimFleet fleet(2);
    std::string host = "127.0.10.2:" + std::to_string(fleet.port);
    std::string out;
    ASSERT_EQ(Shell("snmpget -v1 -c public -On -t 1 -r 1 " + host + " 1.3.6.1.2.1.1.5.0 1.3.6.1.2.1.1.1.0", &out), 0);
    EXPECT_EQ(out, ".1.3.6.1.2.1.1.5.0 = STRING: \"sim-2\"\n.1.3.6.1.2.1.1.1.0 = STRING: \"Zevra Morvak 1100\"\n");
    ASSERT_EQ(Shell("snmpwalk -v1 -c public -On -t 1 -r 1 " + host + " 1.3.6.1.4.1.58127.3.1.1.1", &out), 0);
    EXPECT_EQ(out,
        ".1.3.6.1.4.1.58127.3.1.1.1.1 = STRING: \"LANUSER-maria\"\n"
        ".1.3.6.1.4.1.58127.3.1.1.1.2 = STRING: \"office-b\"\n"
        ".1.3.6.1.4.1.58127.3.1.1.1.3 = \"\"\n");
    ASSERT_EQ(Shell("snmpwalk -v1 -c public -On -t 1 -r 1 " + host + " 1.3.6.1.2.1.2.2.1.10", &out), 0);
    EXPECT_NE(out.find(".1.3.6.1.2.1.2.2.1.10.2 = Counter32: "), std::string::npos) << out;
    ASSERT_EQ(Shell("snmpset -v1 -c private -On -t 1 -r 1 " + host + " 1.3.6.1.2.1.1.6.0 s 'rack 4'", &out), 0);
    ASSERT_EQ(Shell("snmpget -v1 -c public -On -t 1 -r 1 " + host + " 1.3.6.1.2.1.1.6.0", &out), 0);
    EXPECT_EQ(out, ".1.3.6.1.2.1.1.6.0 = STRING: \"rack 4\"\n");
    // errors as net-snmp reports them
    EXPECT_NE(Shell("snmpset -v1 -c private -t 1 -r 1 " + host + " 1.3.6.1.2.1.1.1.0 s x", &out), 0);
    EXPECT_NE(Shell("snmpset -v1 -c private -t 1 -r 1 " + host + " 1.3.6.1.2.1.1.6.0 i 5", &out), 0);
    EXPECT_NE(Shell("snmpget -v1 -c wrong -t 1 -r 0 " + host + " 1.3.6.1.2.1.1.5.0", &out), 0);
    // the other device of the fleet keeps its own values
    ASSERT_EQ(Shell("snmpget -v1 -c public -On -Oqv -t 1 -r 1 127.0.10.1:" + std::to_string(fleet.port)
                      + " 1.3.6.1.2.1.1.6.0 1.3.6.1.2.1.1.5.0",
                  &out),
        0);
    EXPECT_EQ(out, "\"\"\n\"sim-1\"\n");
}

TEST(SimAgentWithEngine, TrapsAndTheCommandLine)
{
    uint16_t trapPort = FreePort();
    SimFleet fleet(1, 0x7F000B01, NetAddress { kLoopback, trapPort });
    EngineRun engine(fleet.port, trapPort);
    ASSERT_TRUE(engine.ok);
    uint32_t device = SnmpAddressFromHost(0x7F000B01);
    Outcome state;
    state.oid = Oid("1.3.6.1.4.1.58127.2.7.0");
    state.address = device;
    SnmpSubscribe(state.oid, device, "public", 0, &state, Outcome::Callback);
    ASSERT_EQ(
        fleet.server.SetValue(0x7F000B01, "1.3.6.1.4.1.58127.2.7.0", kBerOctetString, SnmpValue::String("registered")),
        1);
    ASSERT_EQ(fleet.server.SendTrap(0x7F000B01, 1, { "1.3.6.1.4.1.58127.2.7.0" }), 1);
    ASSERT_TRUE(state.Wait(1, 5000));
    EXPECT_EQ(state.value.text, "registered");
    SnmpStop();

    // talvine-cli
    std::string cli = BinDir() + "/talvine-cli";
    if (!HaveProgram(cli.c_str()))
        GTEST_SKIP() << "talvine-cli is not built";
    std::string host = " -p " + std::to_string(fleet.port) + " 127.0.11.1 ";
    std::string out;
    EXPECT_EQ(Shell(cli + " snmp get" + host + "1.3.6.1.2.1.1.5.0 1.3.6.1.2.1.1.7.0 1.3.6.1.4.1.58127.2.8.0", &out), 0);
    EXPECT_EQ(out,
        "1.3.6.1.2.1.1.5.0 = string: sim-1\n1.3.6.1.2.1.1.7.0 = integer: 78\n"
        "1.3.6.1.4.1.58127.2.8.0 = ipaddress: 192.0.2.10\n");
    EXPECT_EQ(Shell(cli + " snmp get" + host + "1.3.6.1.2.1.1.99.0", &out), 1);
    EXPECT_EQ(Shell(cli + " snmp getnext" + host + "1.3.6.1.2.1.1.5", &out), 0);
    EXPECT_EQ(out, "1.3.6.1.2.1.1.5.0 = string: sim-1\n");
    EXPECT_EQ(Shell(cli + " snmp walk" + host + "1.3.6.1.4.1.58127.4.1.1.1", &out), 0);
    EXPECT_EQ(out, "1.3.6.1.4.1.58127.4.1.1.1.1 = string: HQ\n1.3.6.1.4.1.58127.4.1.1.1.2 = string: Warehouse\n");
    EXPECT_EQ(Shell(cli + " snmp set -c private" + host + "1.3.6.1.2.1.2.2.1.7.2 i 2", &out), 0);
    EXPECT_EQ(out, "1.3.6.1.2.1.2.2.1.7.2 = integer: 2\n");
    EXPECT_EQ(Shell(cli + " snmp set -c private" + host + "1.3.6.1.4.1.58127.2.7.0 a 10.1.2.3", &out), 0);
    EXPECT_EQ(Shell(cli + " snmp get" + host + "1.3.6.1.4.1.58127.2.7.0", &out), 0);
    EXPECT_EQ(out, "1.3.6.1.4.1.58127.2.7.0 = string: 10.1.2.3\n") << "an address travels as its text";
    EXPECT_EQ(Shell(cli + " snmp set -c public" + host + "1.3.6.1.2.1.1.6.0 s x", &out), 1) << "readOnly";
    EXPECT_EQ(Shell(cli + " snmp get -t 1 -p " + std::to_string(FreePort()) + " 127.0.0.1 1.3.6.1.2.1.1.5.0", &out), 1);
    EXPECT_EQ(Shell(cli + " snmp get" + host + "not-an-oid", &out), 2);
    // A request larger than one Ethernet frame (a get of 2,125 bytes) is read whole and answered.
    {
        SnmpMessage big;
        big.pdu = kPduGet;
        big.community = "public";
        big.requestId = 4242;
        while (SnmpEncodedSize(big) < 2125) {
            SnmpBinding b;
            b.oid = Oid("1.3.6.1.4.1.58127.99.1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17.18.19.20.21.22.23.24.25");
            big.bindings.push_back(b);
        }
        std::vector<uint8_t> bytes(SnmpEncodedSize(big));
        bytes.resize(SnmpEncodeMessage(big, bytes.data(), bytes.size()));
        UdpSocket asker;
        ASSERT_EQ(asker.Open(), 1);
        ASSERT_EQ(asker.Bind(kLoopback, 0), 1);
        asker.SendTo(bytes.data(), bytes.size(), NetAddress { 0x7F000B01, fleet.port });
        ASSERT_EQ(asker.WaitReadable(5000), 1) << bytes.size() << "-byte request not answered";
        uint8_t answer[4096];
        NetAddress from;
        int n = asker.ReceiveFrom(answer, sizeof answer, &from);
        SnmpMessage m;
        ASSERT_EQ(SnmpDecodeMessage(answer, static_cast<size_t>(n), &m), kSnmpDecodeOk);
        EXPECT_EQ(m.requestId, 4242u);
    }
    // A negative integer goes and comes back signed; a walk of "1" walks everything under it.
    EXPECT_EQ(Shell(cli + " snmp set -c private" + host + "1.3.6.1.2.1.2.2.1.7.2 i -5", &out), 0) << out;
    EXPECT_EQ(out, "1.3.6.1.2.1.2.2.1.7.2 = integer: -5\n");
    EXPECT_EQ(Shell(cli + " snmp set -c private" + host + "1.3.6.1.2.1.2.2.1.7.2 i 4294967291", &out), 2);
    EXPECT_EQ(Shell(cli + " snmp walk" + host + "1", &out), 0);
    EXPECT_NE(out.find("1.3.6.1.2.1.1.5.0 = string: sim-1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("1.3.6.1.2.1.2.2.1.7.2 = integer: -5\n"), std::string::npos) << out;
    EXPECT_NE(out.find("1.3.6.1.4.1.58127.4.1.1.1.2 = string: Warehouse\n"), std::string::npos) << out;
    // A walk honours -t for every request: against a closed port it ends after about a second, far from
    // the default 15 s (the bound leaves room for starting a sanitizer build on a busy machine).
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Shell(cli + " snmp walk -t 1 -p " + std::to_string(FreePort()) + " 127.0.0.1 1.3.6.1.2.1", &out), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5)) << out;

    // talvine-cli trap prints what the simulator sends. It listens on a port of its own choosing and
    // names it once it listens.
    auto listen = [&](int count, int* port) {
        auto child = std::make_unique<testing_child::Child>(
            std::vector<std::string> { cli, "trap", "-n", std::to_string(count), "-p", "0" });
        std::string line;
        *port = child->WaitFor("waiting for traps on UDP port ", 60000, &line)
            ? std::atoi(line.c_str() + line.rfind(' ') + 1)
            : 0;
        return child;
    };
    int cliTrapPort = 0;
    auto listener = listen(2, &cliTrapPort);
    ASSERT_GT(cliTrapPort, 0) << listener->All();
    SimFleet trapping(1, 0x7F000C01, NetAddress { kLoopback, static_cast<uint16_t>(cliTrapPort) });
    // The simulated device also announces its line state by a trap every 20 s, at a phase of its own,
    // so the listener takes two traps and the test sends its own twice: one of the two printed is ours.
    ASSERT_EQ(trapping.server.SendTrap(0x7F000C01, 1, { "1.3.6.1.2.1.1.5.0" }), 1);
    ASSERT_EQ(trapping.server.SendTrap(0x7F000C01, 1, { "1.3.6.1.2.1.1.5.0" }), 1);
    EXPECT_TRUE(listener->WaitFor("  1.3.6.1.2.1.1.5.0 = string: sim-1", 60000)) << listener->All();
    EXPECT_NE(listener->All().find("trap from 127.0.12.1: enterprise 1.3.6.1.4.1.58127.1.1, agent 127.0.12.1, "
                                   "generic 6, specific 1"),
        std::string::npos)
        << listener->All();

    // net-snmp's snmptrap: an octet string holding NUL and line-feed bytes is printed whole in hex on its
    // own line, a negative integer signed.
    if (HaveProgram("/usr/bin/snmptrap")) {
        int port = 0;
        auto trapListener = listen(1, &port);
        ASSERT_GT(port, 0) << trapListener->All();
        std::string trapOut;
        EXPECT_EQ(Shell("snmptrap -v 1 -c public 127.0.0.1:" + std::to_string(port)
                          + " 1.3.6.1.4.1.58127.1.1 127.0.0.1 6 1 '' 1.3.6.1.4.1.58127.9.1.0 x 41004243440A45"
                            " 1.3.6.1.4.1.58127.9.2.0 i -5",
                      &trapOut),
            0)
            << trapOut;
        EXPECT_TRUE(trapListener->WaitFor("  1.3.6.1.4.1.58127.9.2.0 = integer: -5", 60000)) << trapListener->All();
        EXPECT_NE(
            trapListener->All().find("  1.3.6.1.4.1.58127.9.1.0 = hex: 41 00 42 43 44 0A 45\n"), std::string::npos)
            << trapListener->All();
    }
}

namespace {
// Every poll of the flood test: re-armed from inside its callback, like the monitor engine does.
struct Poll {
    SnmpOid oid;
    uint32_t address;
    std::atomic<int> answers { 0 };
    std::atomic<int> failures { 0 };
    static void Callback(void* context, int status)
    {
        auto* p = static_cast<Poll*>(context);
        if (status == 0)
            ++p->answers;
        else
            ++p->failures;
        SnmpSubscribe(p->oid, p->address, "public", 1000, p, Callback);
    }
};

// Malformed and forged datagrams: noise, cut messages, wrong versions and request ids.
std::vector<std::vector<uint8_t>> Garbage()
{
    std::vector<std::vector<uint8_t>> out;
    std::mt19937 random(7);
    for (int i = 0; i < 16; ++i) {
        std::vector<uint8_t> noise(1 + random() % 300);
        for (auto& b : noise)
            b = static_cast<uint8_t>(random());
        out.push_back(noise);
    }
    SnmpMessage m;
    m.pdu = kPduResponse;
    m.community = "public";
    SnmpBinding b;
    b.oid = Oid("1.3.6.1.2.1.1.5.0");
    b.tag = kBerOctetString;
    b.value = SnmpValue::String("forged");
    m.bindings.push_back(b);
    for (uint32_t id : { 1u, 5u, 0x7FFFFFFFu, 0x02000003u }) {
        m.requestId = id;
        uint8_t buffer[512];
        size_t n = SnmpEncodeMessage(m, buffer, sizeof buffer);
        out.push_back(std::vector<uint8_t>(buffer, buffer + n));
        out.push_back(std::vector<uint8_t>(buffer, buffer + n / 2));
        std::vector<uint8_t> v1(buffer, buffer + n);
        v1[4] = 1; // version 2
        out.push_back(v1);
        std::vector<uint8_t> huge(buffer, buffer + n);
        huge[1] = 0x84; // a length far beyond the datagram
        out.push_back(huge);
    }
    return out;
}
} // namespace

TEST(SnmpUnderFlood, MalformedDatagramsLoseNoPoll)
{
    const int kDevices = 100;
    const int kObjects = 32;
    SimFleet fleet(kDevices, 0x7F001001);
    ManualClock clock;
    EngineRun engine(fleet.port, 0, &clock);
    ASSERT_TRUE(engine.ok);
    std::vector<std::string> objects = SimPolledObjects();
    ASSERT_EQ(objects.size(), static_cast<size_t>(kObjects));
    std::vector<std::unique_ptr<Poll>> polls;
    for (int d = 0; d < kDevices; ++d)
        for (const std::string& o : objects) {
            auto p = std::make_unique<Poll>();
            p->oid = Oid(o);
            p->address = SnmpAddressFromHost(0x7F001001 + d);
            ASSERT_EQ(SnmpSubscribe(p->oid, p->address, "public", 1000, p.get(), Poll::Callback), 1);
            polls.push_back(std::move(p));
        }
    // The flood: from the devices' own addresses (other ports) and from elsewhere, at the engine's port.
    std::atomic<bool> stop { false };
    std::atomic<int> sent { 0 };
    std::thread flood([&] {
        std::vector<std::vector<uint8_t>> garbage = Garbage();
        std::vector<UdpSocket> senders(5);
        for (size_t i = 0; i < senders.size(); ++i) {
            senders[i].Open();
            senders[i].Bind(i == 0 ? kLoopback : 0x7F001001 + static_cast<uint32_t>(i * 17), 0);
        }
        NetAddress to { kLoopback, SnmpLocalPort() };
        for (int n = 0; !stop && n < 400000; ++n) {
            const auto& g = garbage[n % garbage.size()];
            senders[n % senders.size()].SendTo(g.data(), g.size(), to);
            ++sent;
            if (n % 64 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // 5 poll rounds on the manual clock (a round is 10 ticks). After each tick the answers get time to
    // arrive: the clock moves on once no answer came for 30 ms (at most 2 s), so a slow machine or a
    // sanitizer build does not turn a late answer into a lost poll.
    auto answered = [&] {
        long total = 0;
        for (auto& p : polls)
            total += p->answers.load();
        return total;
    };
    // Two rounds more than counted: an answer the flood pushed out of a full receive buffer comes with
    // the retransmission a round later; a lost poll would still end in a give-up (failures).
    const int kRounds = 5;
    for (int tick = 0; tick < (kRounds + 2) * 10 + 5; ++tick) {
        uint32_t before = SnmpTickCount();
        clock.Advance(kSnmpTickMs);
        for (int i = 0; i < 2000 && SnmpTickCount() == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        long seen = answered();
        for (int quiet = 0, waited = 0; quiet < 30 && waited < 2000; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            long now = answered();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
        }
    }
    stop = true;
    flood.join();
    int failures = 0, least = 1 << 30;
    for (auto& p : polls) {
        failures += p->failures;
        least = std::min(least, p->answers.load());
    }
    EXPECT_GT(sent.load(), 1000);
    EXPECT_EQ(failures, 0);
    EXPECT_GE(least, kRounds) << "every object answered in every round";
    SnmpStop();
}

TEST(MorvaksimSnmp, DevicesAnswerAndSendTraps)
{
    std::string sim = BinDir() + "/morvaksim";
    std::string cli = BinDir() + "/talvine-cli";
    if (!HaveProgram(sim.c_str()) || !HaveProgram(cli.c_str()))
        GTEST_SKIP() << "morvaksim or talvine-cli is not built";
    uint16_t snmpPort = FreePort(0x7F001E01), tftpPort = FreePort(0x7F001E01), trapPort = FreePort();
    testing_child::Morvaksim device({ "--port", std::to_string(tftpPort), "--count", "2", "--snmp-port",
        std::to_string(snmpPort), "--trap", "127.0.0.1:" + std::to_string(trapPort), "127.0.30.1" });
    ASSERT_TRUE(device.Ready()) << device.All();
    std::string host = " -p " + std::to_string(snmpPort) + " 127.0.30.2 ";
    std::string out;
    ASSERT_EQ(Shell(cli + " snmp get -t 5" + host + "1.3.6.1.2.1.1.1.0 1.3.6.1.4.1.58127.2.1.0", &out), 0) << out;
    EXPECT_EQ(out, "1.3.6.1.2.1.1.1.0 = string: Zevra Morvak 1100\n1.3.6.1.4.1.58127.2.1.0 = string: Morvak 1100\n");
    EXPECT_EQ(Shell(cli + " snmp walk" + host + "1.3.6.1.2.1.2.2.1.2", &out), 0);
    EXPECT_EQ(out, "1.3.6.1.2.1.2.2.1.2.1 = string: LAN\n1.3.6.1.2.1.2.2.1.2.2 = string: WAN\n");
    EXPECT_EQ(Shell(cli + " snmp set -c private" + host + "1.3.6.1.2.1.1.4.0 s lab", &out), 0);
    EXPECT_EQ(Shell(cli + " snmp get -c private" + host + "1.3.6.1.2.1.1.4.0", &out), 0);
    EXPECT_EQ(out, "1.3.6.1.2.1.1.4.0 = string: lab\n");
    EXPECT_NE(Shell(cli + " snmp get -t 2 -c wrong" + host + "1.3.6.1.2.1.1.4.0", &out), 0);
}

// talvine-cli within the request and receive sizes: a get of more objects than one 1,024-byte request
// holds goes out in several and is answered whole (net-snmp's agent); a request that cannot fit and an
// answer beyond 2,048 bytes are told at once, not waited out as silence.
TEST(SnmpSizes, CommandLineSplitsWhatItCanAndTellsWhatItCannot)
{
    std::string cli = BinDir() + "/talvine-cli";
    if (!HaveProgram(cli.c_str()))
        GTEST_SKIP() << "talvine-cli is not built";
    if (!HaveProgram("/usr/sbin/snmpd"))
        GTEST_SKIP() << "net-snmp's snmpd is not installed";
    std::string out;
    {
        Snmpd snmpd;
        ASSERT_TRUE(snmpd.Ready()) << "snmpd did not come up";
        std::string host = " -p " + std::to_string(snmpd.Port()) + " 127.0.0.1 ";
        std::string oids;
        for (int i = 0; i < 150; ++i) // 150 x 14 bytes of bindings: three requests
            oids += " 1.3.6.1.2.1.1.6.0";
        ASSERT_EQ(Shell(cli + " snmp get" + host + oids, &out, true), 0) << out;
        std::string expected;
        for (int i = 0; i < 150; ++i)
            expected += "1.3.6.1.2.1.1.6.0 = string: lab\n";
        EXPECT_EQ(out, expected);
        // One binding that no request holds: a community of 1,000 characters.
        auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(Shell(cli + " snmp get -c " + std::string(1000, 'c') + host + "1.3.6.1.2.1.1.6.0", &out, true), 1);
        EXPECT_NE(out.find("request too large"), std::string::npos) << out;
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    }
    // An agent that answers beyond the receive size (the simulator, allowed large answers).
    SimFleet fleet(1, 0x7F000C01, {}, 65000);
    ASSERT_EQ(fleet.server.SetValue(
                  0x7F000C01, "1.3.6.1.4.1.58127.2.7.0", kBerOctetString, SnmpValue::String(std::string(250, 'v'))),
        1);
    std::string host = " -p " + std::to_string(fleet.port) + " 127.0.12.1 ";
    std::string oids;
    for (int i = 0; i < 12; ++i) // 12 x 250 bytes of values
        oids += " 1.3.6.1.4.1.58127.2.7.0";
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Shell(cli + " snmp get" + host + oids, &out, true), 1);
    EXPECT_NE(out.find("answer of "), std::string::npos) << out;
    EXPECT_NE(out.find(" bytes too large"), std::string::npos) << out;
    EXPECT_EQ(out.find("no answer"), std::string::npos) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
    // Fewer of them fit: the same agent answers.
    EXPECT_EQ(Shell(cli + " snmp get" + host + "1.3.6.1.4.1.58127.2.7.0", &out), 0) << out;
    EXPECT_EQ(out, "1.3.6.1.4.1.58127.2.7.0 = string: " + std::string(250, 'v') + "\n");
}
