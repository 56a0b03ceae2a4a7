#include "common/ini.h"
#include "common/platform/net.h"
#include "common/platform/netif.h"
#include "device/devicelist.h"
#include "device/search.h"
#include "device/sysinfo.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

std::string Text(const std::string& name, const std::string& mac, const std::string& ip = "", int configStatus = -1,
    const std::string& netmask = "")
{
    SysInfoFields f;
    f.device_type = "Morvak 1100";
    f.hw_release = "A";
    f.fw_version = "3.10.0012";
    f.fw_date = "01.02.2003";
    f.serial_no = "S" + mac;
    f.name = name;
    f.mac_address = mac;
    f.ip_address = ip;
    f.ip_netmask = netmask;
    f.config_status = configStatus;
    return SysInfoBuild(f);
}

DeviceEntry Result(uint32_t address, const std::string& mac, uint32_t flags = 0)
{
    DeviceEntry e;
    SysInfoParseInto(Text("dev-" + mac, mac), e);
    e.address = address;
    e.flags = flags;
    e.status = 110;
    return e;
}

TEST(SearchPseudoAddress, HostPartAllOnesButLowestBit)
{
    struct Row {
        uint32_t own, mask, pseudo;
    };
    const Row rows[] = {
        { 0xc0a80514, 0xffffff00, 0xc0a805fe }, // 192.168.5.20/24 -> 192.168.5.254
        { 0x0a010203, 0xffff0000, 0x0a01fefe }, // 10.1.2.3/16 -> 10.1.254.254
        { 0xac100001, 0xfffffff0, 0xac10000e }, // /28 -> .14
        { 0x0a000001, 0xff000000, 0x0afefefe },
    };
    for (const Row& r : rows)
        EXPECT_EQ(SearchPseudoAddress(r.own, r.mask), r.pseudo) << std::hex << r.own;
}

TEST(SearchSettings, DefaultsAndNetworkList)
{
    IniFile empty;
    SearchSettings d = SearchReadSettings(empty);
    EXPECT_EQ(d.at_startup, 1);
    EXPECT_EQ(d.startup_lan, 1);
    EXPECT_EQ(d.startup_wan, 0);
    EXPECT_EQ(d.timeout_lan_s, 3);
    EXPECT_EQ(d.timeout_wan_s, 15);
    EXPECT_EQ(d.launch_wizard, 1);
    EXPECT_TRUE(d.startup_wan_list.empty());

    IniFile ini;
    ini.Parse(
        "[Options]\r\nSearchStartupWANList=10.1.0.0;255.255.0.0;bad;255.0.0.0;172.16.0.0;255.240.0.0;10.9.9.9;\r\n"
        "SearchTimeoutWAN=7\r\n");
    SearchSettings s = SearchReadSettings(ini);
    EXPECT_EQ(s.timeout_wan_s, 7);
    ASSERT_EQ(s.startup_wan_list.size(), 2u);
    EXPECT_EQ(s.startup_wan_list[0], std::make_pair(0x0a010000u, 0xffff0000u));
    EXPECT_EQ(s.startup_wan_list[1], std::make_pair(0xac100000u, 0xfff00000u));
}

TEST(SearchMerge, ConflictsSortingUpdatesAndNewDevices)
{
    DeviceList list;
    auto known = std::make_unique<DeviceEntry>();
    known->address = 0x0a000005;
    known->password = "kept";
    known->timeout_s = 33;
    known->name = "old name";
    DeviceEntry* knownPtr = list.Add(std::move(known));
    auto console = std::make_unique<DeviceEntry>();
    console->link = LinkSerial;
    console->line_name = "com1";
    DeviceEntry* consolePtr = list.Add(std::move(console));

    std::vector<DeviceEntry> results;
    results.push_back(Result(0x0a000009, "00a057000009"));
    results.push_back(Result(0xac173801, "00a0570000a1", DevFlagUnconfigured)); // shipping state, one address
    results.push_back(Result(0x0a000005, "00a057000005"));
    results.push_back(Result(0x0a000001, "00a057000001", DevFlagUnconfigured));
    results.push_back(Result(0xac173801, "00a0570000a2"));
    results.push_back(Result(0x0a000007, "00a057000007", DevFlagUnconfigured));
    DeviceEntry serial = Result(0, "00a0570000c1");
    serial.link = LinkSerial;
    serial.line_name = "COM1";
    results.push_back(serial);

    SearchMergeResult m = DeviceSearchMerge(list, results);
    EXPECT_EQ(m.conflicts, 2);
    EXPECT_EQ(results[0].mac_address.str(), "00a0570000a1");
    EXPECT_EQ(results[1].mac_address.str(), "00a0570000a2");
    EXPECT_EQ(m.new_devices, 3);
    ASSERT_EQ(m.added.size(), 3u);
    // New ones in address order, after what the list held; the conflicting ones are not added.
    EXPECT_EQ(m.added[0]->address, 0x0a000001u);
    EXPECT_EQ(m.added[1]->address, 0x0a000007u);
    EXPECT_EQ(m.added[2]->address, 0x0a000009u);
    EXPECT_EQ(m.first_unconfigured, m.added[0]);
    EXPECT_EQ(list.Count(), 5u);
    // The matching entry takes the system information and keeps its own settings.
    EXPECT_EQ(knownPtr->name.str(), "dev-00a057000005");
    EXPECT_EQ(knownPtr->mac_address.str(), "00a057000005");
    EXPECT_EQ(knownPtr->password.str(), "kept");
    EXPECT_EQ(knownPtr->timeout_s, 33);
    EXPECT_EQ(consolePtr->mac_address.str(), "00a0570000c1");
    EXPECT_EQ(m.updated.size(), 2u);

    std::string details = SearchConflictDetails(results, m.conflicts);
    EXPECT_EQ(details,
        "- IP address:\t172.23.56.1 (pseudo IP - device isn't configured yet)\r\n  MAC address:\t00:a0:57:00:00:a1\r\n"
        "  Serial number:\tS00a0570000a1\r\n\r\n"
        "- IP address:\t172.23.56.1\r\n  MAC address:\t00:a0:57:00:00:a2\r\n  Serial number:\tS00a0570000a2\r\n\r\n");
    EXPECT_EQ(
        SearchConflictMessage().rfind("Several devices with the same IP address were found during the search.", 0), 0u);
}

TEST(SearchMerge, SameAddressSameMacIsNoConflict)
{
    DeviceList list;
    std::vector<DeviceEntry> results { Result(0x0a000001, "00a057000001"), Result(0x0a000001, "00A057000001") };
    SearchMergeResult m = DeviceSearchMerge(list, results);
    EXPECT_EQ(m.conflicts, 0);
    EXPECT_EQ(m.new_devices, 1); // the second updates the entry the first created
    EXPECT_EQ(m.updated.size(), 1u);
}

class FakeSerial : public SerialSearch {
public:
    std::vector<std::string> ports;
    std::vector<std::string> checked;
    std::vector<std::string> Ports() override
    {
        return ports;
    }
    int Check(DeviceEntry& e) override
    {
        checked.push_back(e.line_name.str());
        if (e.line_name.str() == "COM2")
            return 0;
        return SysInfoParseInto(Text("serial-" + e.line_name.str(), "00a0571" + std::to_string(checked.size())), e);
    }
};

TEST(DeviceSearch, SerialPhaseWithoutNetwork)
{
    FakeSerial serial;
    serial.ports = { "COM1", "COM2", "COM3" };
    SearchEnv env;
    env.serial = &serial;
    env.network = false; // the network phases are skipped
    SearchRequest request;
    request.what = SearchSerialPorts | SearchLocalNet | SearchRemoteNet | SearchStartup;
    std::vector<DeviceEntry> results;
    EXPECT_EQ(DeviceSearch(request, results, SearchSettings {}, env), 2);
    EXPECT_EQ(serial.checked, (std::vector<std::string> { "COM1", "COM2", "COM3" }));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].line_name.str(), "COM1");
    EXPECT_EQ(results[0].link, LinkSerial);
    EXPECT_EQ(results[0].local, 1);
    EXPECT_EQ(results[1].line_name.str(), "COM3");
    EXPECT_EQ(request.found.load(), 2);
    EXPECT_EQ(request.phase.load(), SearchPhaseDone);
}

TEST(DeviceSearch, KeepsEveryDeviceBeyond1024AndCancel)
{
    // More devices than the table's first 1,024 entries: it grows, none is left out.
    FakeSerial serial;
    for (int i = 0; i < 1100; ++i)
        serial.ports.push_back("P" + std::to_string(i));
    SearchEnv env;
    env.serial = &serial;
    env.network = false;
    SearchRequest request;
    request.what = SearchSerialPorts;
    std::vector<DeviceEntry> results;
    EXPECT_EQ(DeviceSearch(request, results, SearchSettings {}, env), 1100);
    EXPECT_EQ(results.size(), 1100u);
    EXPECT_EQ(results.back().line_name.str(), "P1099");

    SearchRequest cancelled;
    cancelled.what = SearchSerialPorts;
    cancelled.cancel = 1;
    std::vector<DeviceEntry> none;
    serial.checked.clear();
    EXPECT_EQ(DeviceSearch(cancelled, none, SearchSettings {}, env), 0);
    EXPECT_TRUE(serial.checked.empty());
}

#ifndef _WIN32
// A scripted fleet on loopback, driven from the search's own sleeps: the search runs in simulated time
// and sees every answer at a known moment.
struct ScriptDevice {
    uint32_t from; // address it answers broadcasts from
    std::string text;
    uint32_t probe = 0; // pseudo address it answers probes on (0: none)
};

struct Heard {
    uint32_t at;
    NetAddress from;
    uint32_t to; // the listener's address
    std::string bytes;
};

class ScriptFleet {
public:
    ScriptFleet(ManualClock& clock, uint16_t port)
        : clock_(clock)
        , port_(port)
    {
    }
    bool Listen(uint32_t address)
    {
        auto s = std::make_unique<UdpSocket>();
        if (!s->Open() || !s->SetReuseAddress(true) || !s->Bind(address, port_))
            return false;
        listeners_.push_back({ address, std::move(s) });
        return true;
    }
    void Pump()
    {
        for (auto& [address, socket] : listeners_) {
            while (socket->WaitReadable(0) == 1) {
                char buffer[2048];
                NetAddress from;
                int n = socket->ReceiveFrom(buffer, sizeof buffer, &from);
                if (n < 0)
                    break;
                heard.push_back({ clock_.TickMs(), from, address, std::string(buffer, static_cast<size_t>(n)) });
                if (n < 2 || buffer[1] != 1)
                    continue;
                for (const ScriptDevice& d : devices) {
                    bool probe = d.probe != 0 && d.probe == address;
                    if (address == 0x7fffffffu || probe) {
                        std::string packet("\0\3\0\1", 4);
                        packet += d.text.substr(0, 512);
                        NetSendFromLocal(*socket, packet.data(), packet.size(), probe ? d.probe : d.from, from);
                    }
                }
            }
        }
    }
    std::vector<Heard> Requests() const
    {
        std::vector<Heard> r;
        for (const Heard& h : heard)
            if (h.bytes.size() > 1 && h.bytes[1] == 1)
                r.push_back(h);
        return r;
    }
    std::vector<ScriptDevice> devices;
    std::vector<Heard> heard;

private:
    ManualClock& clock_;
    uint16_t port_;
    std::vector<std::pair<uint32_t, std::unique_ptr<UdpSocket>>> listeners_;
};

class PumpClock : public Clock {
public:
    ManualClock base;
    std::function<void()> pump;
    uint32_t TickMs() override
    {
        return base.TickMs();
    }
    void SleepMs(uint32_t ms) override
    {
        base.Advance(ms);
        if (pump)
            pump();
    }
};

class SearchNetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A free port for this run's listeners.
        UdpSocket probe;
        ASSERT_EQ(probe.Open(), 1);
        ASSERT_EQ(probe.Bind(0x7f000001, 0), 1);
        port = probe.LocalAddress()->port;
        probe.Close();
        fleet = std::make_unique<ScriptFleet>(clock.base, port);
        ASSERT_TRUE(fleet->Listen(0x7fffffffu));
        clock.pump = [this] { fleet->Pump(); };
        env.clock = &clock;
        env.port = port;
        env.own_addresses = [] { return std::vector<uint32_t> {}; };
    }
    int Search(size_t room = kSearchRoom, uint32_t timeoutMs = 3000, std::atomic<int32_t>* cancel = nullptr)
    {
        return DeviceSearchNet(results, room, 0x7fffffffu, timeoutMs, &found, cancel, env);
    }
    PumpClock clock;
    std::unique_ptr<ScriptFleet> fleet;
    SearchEnv env;
    uint16_t port = 0;
    std::vector<DeviceEntry> results;
    std::atomic<int32_t> found { 0 };
};

TEST_F(SearchNetTest, RequestOnceASecondAndEntriesOfEachDevice)
{
    fleet->devices = { { 0x7f010001, Text("a", "00a057000001", "127.1.0.1") },
        { 0x7f010002, Text("b", "00a057000002", "127.1.0.2") } };
    EXPECT_EQ(Search(), 2);
    std::vector<Heard> requests = fleet->Requests();
    ASSERT_EQ(requests.size(), 3u); // at 0, 1000 and 2000 ms of a 3-second search
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].bytes, std::string("\0\1sysinfo\0octet\0", 16));
        EXPECT_EQ(requests[i].at, 1000 * i + 1); // heard at the search's first 1-ms sleep after sending
    }
    EXPECT_EQ(clock.TickMs(), 3000u);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(found.load(), 2);
    EXPECT_EQ(results[0].address, 0x7f010001u);
    EXPECT_EQ(results[0].name.str(), "a");
    EXPECT_EQ(results[0].timeout_s, 10);
    EXPECT_EQ(results[0].status.load(), 110);
    EXPECT_EQ(results[0].link, LinkIp);
    EXPECT_EQ(results[1].address, 0x7f010002u);
}

TEST_F(SearchNetTest, FullBlockIsUsedAndAnsweredWithError3)
{
    std::string full = Text("full", "00a0570000f1", "127.1.0.3");
    full += "COMMENT: " + std::string(600, '*') + "\r\n";
    std::string exact = Text("exact", "00a0570000f2", "127.1.0.4");
    exact += "X" + std::string(512 - exact.size() - 3, 'x') + "\r\n"; // exactly 512 bytes
    ASSERT_EQ(exact.size(), 512u);
    fleet->devices = { { 0x7f010003, full }, { 0x7f010004, exact }, { 0x7f010005, Text("short", "00a0570000f3") } };
    EXPECT_EQ(Search(kSearchRoom, 1500), 3);
    int errors = 0, acks = 0;
    for (const Heard& h : fleet->heard) {
        if (h.bytes == std::string("\0\5\0\3\0", 5))
            ++errors;
        if (h.bytes == std::string("\0\4\0\1", 4))
            ++acks;
    }
    // Two requests, three answers each: the two full blocks get ERROR 3, the short text ACK 1; all
    // replies of the broadcast socket go back by broadcast to the device's port.
    EXPECT_EQ(errors, 4);
    EXPECT_EQ(acks, 2);
    EXPECT_EQ(results[0].name.str(), "full");
    EXPECT_EQ(results[1].name.str(), "exact");
}

TEST_F(SearchNetTest, InvalidAndRepeatedMacDropped)
{
    fleet->devices = { { 0x7f010006, Text("one", "00a057000006") }, { 0x7f010007, Text("two", "00A057000006") },
        { 0x7f010008, "DEVICE: x\r\nNAME: y\r\n" } };
    EXPECT_EQ(Search(kSearchRoom, 1000), 1);
    EXPECT_EQ(results[0].name.str(), "one");
}

TEST_F(SearchNetTest, RoomAndCancel)
{
    for (uint32_t i = 1; i <= 5; ++i)
        fleet->devices.push_back({ 0x7f020000 + i, Text("d" + std::to_string(i), "00a05702000" + std::to_string(i)) });
    EXPECT_EQ(Search(3), 3);
    EXPECT_LT(clock.TickMs(), 100u); // stops as soon as the room is used up

    results.clear();
    std::atomic<int32_t> cancel { 1 };
    uint32_t before = clock.TickMs();
    EXPECT_EQ(Search(kSearchRoom, 3000, &cancel), 0);
    EXPECT_EQ(clock.TickMs(), before);
}

TEST_F(SearchNetTest, UnconfiguredDeviceProbedOnPseudoAddressAfter300ms)
{
    ASSERT_TRUE(fleet->Listen(0x7f0005fe)); // 127.0.5.254
    env.own_addresses = [] { return std::vector<uint32_t> { 0x7f000514 }; }; // 127.0.5.20
    fleet->devices = { { 0x7f090909, Text("new", "00a0570000e1", "0.0.0.0", 0, "255.255.255.0"), 0x7f0005fe },
        { 0x7f090910, Text("silent", "00a0570000e2", "0.0.0.0", 0x80, "255.255.255.0"), 0x7f0005fe },
        { 0x7f090911, Text("configured", "00a0570000e3", "127.9.9.17") } };
    EXPECT_EQ(Search(kSearchRoom, 2000), 3);
    ASSERT_EQ(results.size(), 3u);
    // The device with CONFIG-STATUS bit 0x80 is listed where it answered from, never probed.
    EXPECT_EQ(results[0].name.str(), "silent");
    EXPECT_EQ(results[0].address, 0x7f090910u);
    EXPECT_EQ(results[1].name.str(), "configured");
    EXPECT_EQ(results[2].name.str(), "new");
    EXPECT_EQ(results[2].address, 0x7f0005feu); // listed with the pseudo address
    EXPECT_TRUE(results[2].flags & DevFlagUnconfigured);
    // The probe went once, from the second socket, 300 ms after the first answer.
    std::vector<Heard> probes;
    for (const Heard& h : fleet->Requests())
        if (h.to == 0x7f0005feu)
            probes.push_back(h);
    ASSERT_EQ(probes.size(), 1u); // found on its pseudo address, it is not probed again
    EXPECT_EQ(probes[0].at, 302u); // answer taken at 1 ms, probe sent at 301, heard at the next sleep
    EXPECT_NE(probes[0].from.port, fleet->Requests()[0].from.port);
}
#endif

} // namespace
