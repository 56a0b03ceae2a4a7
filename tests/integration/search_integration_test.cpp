// The device search against the simulator's fleet: on loopback (a directed broadcast to 127.255.255.255
// that the fleet on 127.x.y.z answers) and, as root, a real broadcast in network namespaces that the
// test creates and removes itself. Nothing leaves this machine.
#include "common/platform/net.h"
#include "common/platform/netif.h"
#include "common/text.h"
#include "device/devicelist.h"
#include "device/search.h"
#include "sim/search.h"
#include "sim/simfleet.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uint32_t kLoopbackBroadcast = 0x7fffffffu;

void RaiseFileLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

uint16_t FreePort()
{
    UdpSocket s;
    s.Open();
    s.Bind(0x7f000001, 0);
    return s.LocalAddress() ? s.LocalAddress()->port : 0;
}

std::string TempDir(const char* what)
{
    // Device state in memory where there is a tmpfs: a thousand devices write (and sync) their state.
    std::error_code ec;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                                               : std::filesystem::temp_directory_path();
    std::filesystem::path dir = base / StrFormat("search_it_%s_%d", what, static_cast<int>(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// A fleet with its search responder, run on a thread of its own (optionally inside a namespace).
class FleetThread {
public:
    ~FleetThread()
    {
        Stop();
    }
    // Starts the fleet; returns once it listens (or failed: `error` set).
    bool Start(const SimSettings& settings, const SimSearchOptions& search, const std::string& netns = "")
    {
        std::atomic<int> state { 0 };
        thread_ = std::thread([&, settings, search, netns] {
            if (!netns.empty()) {
                int fd = open(("/var/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
                    error = "cannot enter " + netns;
                    state = 2;
                    return;
                }
                close(fd);
            }
            if (!fleet.Start(settings, &error) || !responder.Start(fleet, search, &error)) {
                state = 2;
                return;
            }
            state = 1;
            fleet.Run(stop_);
            responder.Stop();
        });
        while (state == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return state == 1;
    }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    SimFleet fleet;
    SimSearchResponder responder;
    std::string error;

private:
    std::atomic<bool> stop_ { false };
    std::thread thread_;
};

// A clock that follows the fleet: while the fleet answers a request, its time runs by the fleet's
// pauses between bursts (the network's jitter a real fleet answers with); otherwise it runs with the
// real clock. A loaded machine that holds the fleet's thread stretches the real time the answers take,
// not the search's: the search must still keep every answer and find every device within its time-out.
class FleetPacedClock : public Clock, public SimSearchPacer {
public:
    uint32_t TickMs() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return NowLocked();
    }
    void SleepMs(uint32_t ms) override
    {
        SystemClock().SleepMs(ms);
    }
    void Begin() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (answering_ == 0)
            paced_ = NowLocked();
        ++answering_;
    }
    void Pause(uint32_t ms) override
    {
        SystemClock().SleepMs(ms);
        std::lock_guard<std::mutex> lock(mutex_);
        paced_ += ms;
    }
    void End() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--answering_ == 0)
            realAt_ = SystemClock().TickMs();
    }

private:
    uint32_t NowLocked() const
    {
        return answering_ ? paced_ : paced_ + (SystemClock().TickMs() - realAt_);
    }
    std::mutex mutex_;
    int answering_ = 0;
    uint32_t paced_ = 0; // the clock's time when the fleet last started or paused answering
    uint32_t realAt_ = SystemClock().TickMs(); // the real time when it stopped
};

SimSettings Settings(const std::string& dir, uint32_t first, uint32_t count, uint16_t port)
{
    SimSettings s;
    s.dir = dir;
    s.address = first;
    s.count = count;
    s.port = port;
    s.device.restartMs = 100;
    return s;
}

TEST(SearchLoopback, FleetWithUnconfiguredShippingAndFullBlockDevices)
{
    RaiseFileLimit();
    uint16_t port = FreePort();
    std::string dir = TempDir("roles");
    SimSearchOptions o;
    o.port = port;
    o.unconfigured = 2;
    o.shipping = 2;
    o.shipping_address = 0x7f4d00fe; // 127.77.0.254
    o.full_block = 1;
    FleetThread fleet;
    ASSERT_TRUE(fleet.Start(Settings(dir, 0x7f4d0001, 12, port), o)) << fleet.error;

    SearchEnv env;
    env.port = port;
    std::vector<DeviceEntry> results;
    std::atomic<int32_t> found { 0 };
    int added = DeviceSearchNet(results, kSearchRoom, kLoopbackBroadcast, 1500, &found, nullptr, env);
    EXPECT_EQ(added, 12);
    EXPECT_EQ(found.load(), 12);

    // The merge: the two devices in shipping state conflict, the others go into the list in order.
    DeviceList list;
    SearchMergeResult m = DeviceSearchMerge(list, results);
    EXPECT_EQ(m.conflicts, 2);
    EXPECT_EQ(results[0].address, 0x7f4d00feu);
    EXPECT_EQ(results[1].address, 0x7f4d00feu);
    EXPECT_NE(results[0].mac_address.str(), results[1].mac_address.str());
    EXPECT_EQ(m.new_devices, 10);
    ASSERT_NE(m.first_unconfigured, nullptr);
    EXPECT_EQ(m.first_unconfigured->address, 0x7f4d0001u); // on loopback it is listed where it answered from
    for (size_t i = 1; i < m.added.size(); ++i)
        EXPECT_LT(m.added[i - 1]->address, m.added[i]->address);
    // The device whose text fills a whole block was read from its first 512 bytes.
    bool fullBlock = false;
    for (DeviceEntry* e : m.added)
        fullBlock = fullBlock || e->address == 0x7f4d0005u;
    EXPECT_TRUE(fullBlock);
    fleet.Stop();
    std::filesystem::remove_all(dir);
}

TEST(SearchLoopback, FleetsSideBySideNeverAnswerForEachOther)
{
    // Another engineer's fleet on the same machine: a second fleet cannot take a port whose searches
    // another fleet answers, and fleets apart never share a MAC address (each numbers its devices from
    // 1; a shared one hid a device behind the other fleet's first device).
    uint16_t port = FreePort();
    std::string dirA = TempDir("sideA"), dirB = TempDir("sideB");
    SimSearchOptions o;
    o.port = port;
    FleetThread a;
    ASSERT_TRUE(a.Start(Settings(dirA, 0x7f4e0001, 2, port), o)) << a.error;
    FleetThread b;
    EXPECT_FALSE(b.Start(Settings(dirB, 0x7f4f0001, 2, port), o));
    EXPECT_NE(b.error.find("search listener: cannot bind 127.255.255.255"), std::string::npos) << b.error;
    b.Stop();
    // Nor can it take a device's address and port (it would take half of that device's requests).
    FleetThread overlapping;
    SimSearchOptions elsewhere = o;
    elsewhere.port = FreePort();
    std::string dirC = TempDir("sideC");
    EXPECT_FALSE(overlapping.Start(Settings(dirC, 0x7f4e0002, 2, port), elsewhere));
    EXPECT_NE(overlapping.error.find("cannot listen on 127.78.0.2 port"), std::string::npos) << overlapping.error;
    overlapping.Stop();
    std::filesystem::remove_all(dirC);

    FleetThread c;
    o.port = FreePort();
    ASSERT_TRUE(c.Start(Settings(dirB, 0x7f4f0001, 2, o.port), o)) << c.error;
    EXPECT_NE(a.fleet.Device(0).mac, c.fleet.Device(0).mac);
    EXPECT_NE(a.fleet.Device(1).mac, c.fleet.Device(1).mac);

    // The first fleet's search finds just its own two devices.
    SearchEnv env;
    env.port = port;
    std::vector<DeviceEntry> results;
    EXPECT_EQ(DeviceSearchNet(results, kSearchRoom, kLoopbackBroadcast, 1500, nullptr, nullptr, env), 2);
    for (const DeviceEntry& e : results)
        EXPECT_TRUE(e.address == 0x7f4e0001u || e.address == 0x7f4e0002u) << NetAddressText(e.address);
    a.Stop();
    c.Stop();
    std::filesystem::remove_all(dirA);
    std::filesystem::remove_all(dirB);
}

TEST(SearchLoopback, TenThousandDevicesWithinTheTimeOut)
{
    // Far more devices than the table's first 1,024 entries: the search runs to its time-out and keeps
    // every one of them, and the merge into the device list takes them all.
    constexpr int kDevices = 10000;
    RaiseFileLimit();
    rlimit limit {};
    // Two sockets per device (its TFTP server and its search listener): beyond the usual hard limit,
    // which a privileged run may raise.
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < kDevices * 2 + 100) {
        rlimit more { static_cast<rlim_t>(kDevices * 2 + 1000), static_cast<rlim_t>(kDevices * 2 + 1000) };
        setrlimit(RLIMIT_NOFILE, &more);
    }
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < kDevices * 2)
        GTEST_SKIP() << "too few file descriptors for " << kDevices << " simulated devices";
    uint16_t port = FreePort();
    std::string dir = TempDir("scale");
    FleetPacedClock clock;
    SimSearchOptions o;
    o.port = port;
    o.pacer = &clock;
    FleetThread fleet;
    ASSERT_TRUE(fleet.Start(Settings(dir, 0x7f580001, kDevices, port), o)) << fleet.error;

    SearchEnv env;
    env.port = port;
    env.clock = &clock;
    std::vector<DeviceEntry> results;
    // The search counts its finds; the hook notes the clock's time when the last one came.
    std::atomic<int32_t> found { 0 };
    std::atomic<int64_t> allFoundMs { -1 };
    const uint32_t begin = clock.TickMs();
    std::atomic<bool> done { false };
    std::thread watch([&] {
        while (!done && allFoundMs < 0) {
            if (found.load() >= kDevices)
                allFoundMs = static_cast<int64_t>(clock.TickMs() - begin);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    auto realBegin = std::chrono::steady_clock::now();
    int added = DeviceSearchNet(results, SIZE_MAX, kLoopbackBroadcast, 3000, &found, nullptr, env);
    long long realMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realBegin).count();
    done = true;
    watch.join();
    EXPECT_EQ(added, kDevices);
    std::printf("search: %d of %d simulated devices found, all of them after %lld ms of the fleet's time "
                "(time-out 3000 ms; the search took %lld ms of real time)\n",
        added, kDevices, static_cast<long long>(allFoundMs.load()), realMs);
    EXPECT_GE(allFoundMs.load(), 0);
    EXPECT_LT(allFoundMs.load(), 3000);
    DeviceList list;
    SearchMergeResult m = DeviceSearchMerge(list, results, nullptr);
    EXPECT_EQ(m.new_devices, added);
    EXPECT_EQ(m.conflicts, 0);
    EXPECT_EQ(list.Count(), static_cast<size_t>(added));
    fleet.Stop();
    std::filesystem::remove_all(dir);
}

// Two network namespaces joined by a veth pair: the PC at 192.168.5.20/24, the devices behind
// 192.168.5.100 and up. Made and removed by the test; nothing reaches a real network.
class SearchNamespaces : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "network namespaces need root";
        if (std::system("ip -V >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "the ip tool is missing";
        pc = StrFormat("dlist-pc-%d", static_cast<int>(getpid()));
        dev = StrFormat("dlist-dev-%d", static_cast<int>(getpid()));
        Cleanup();
        std::string script
            = StrFormat("set -e; ip netns add %1$s; ip netns add %2$s;"
                        "ip link add vpc netns %1$s type veth peer name vdev netns %2$s;"
                        "ip -n %1$s link set lo up; ip -n %2$s link set lo up;"
                        "ip -n %1$s addr add 192.168.5.20/24 dev vpc; ip -n %1$s link set vpc up;"
                        "ip -n %1$s route add default dev vpc;"
                        "ip -n %2$s addr add 192.168.5.1/24 dev vdev; ip -n %2$s addr add 192.168.5.254/24 dev vdev;"
                        "for i in $(seq 100 139); do ip -n %2$s addr add 192.168.5.$i/24 dev vdev; done;"
                        "ip -n %2$s link set vdev up",
                pc.c_str(), dev.c_str());
        ready = std::system(("bash -c '" + script + "' >/dev/null 2>&1").c_str()) == 0;
        ASSERT_TRUE(ready) << "cannot create the network namespaces";
    }
    void TearDown() override
    {
        if (!pc.empty())
            Cleanup();
    }
    void Cleanup()
    {
        std::system(("ip netns del " + pc + " >/dev/null 2>&1; ip netns del " + dev + " >/dev/null 2>&1").c_str());
    }
    // Runs `work` on a thread inside the PC's namespace.
    void InPc(const std::function<void()>& work)
    {
        std::thread t([&] {
            int fd = open(("/var/run/netns/" + pc).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(setns(fd, CLONE_NEWNET), 0);
            close(fd);
            work();
        });
        t.join();
    }
    std::string pc, dev;
    bool ready = false;
};

TEST_F(SearchNamespaces, BroadcastFindsTheFleetAndProbesTheUnconfiguredDevice)
{
    std::string dir = TempDir("netns");
    SimSearchOptions o;
    o.port = 69;
    o.bind = { 0xFFFFFFFFu, 0xc0a805ffu, 0xc0a805feu }; // 255.255.255.255, 192.168.5.255, 192.168.5.254
    o.unconfigured = 1;
    o.unconfigured_netmask = 0xFFFFFF00;
    FleetThread fleet;
    ASSERT_TRUE(fleet.Start(Settings(dir, 0xc0a80564, 40, 69), o, dev)) << fleet.error;

    std::vector<DeviceEntry> results;
    std::atomic<int32_t> found { 0 };
    std::vector<uint32_t> own;
    InPc([&] {
        own = NetOwnAddresses();
        DeviceSearchNet(results, kSearchRoom, 0xFFFFFFFFu, 2000, &found, nullptr, SearchEnv {});
    });
    EXPECT_EQ(own, (std::vector<uint32_t> { 0xc0a80514u }));
    ASSERT_EQ(results.size(), 40u);
    EXPECT_EQ(found.load(), 40);
    int pseudo = 0;
    for (const DeviceEntry& e : results) {
        if (e.flags & DevFlagUnconfigured) {
            ++pseudo;
            EXPECT_EQ(e.address, 0xc0a805feu) << "the unconfigured device is listed at 192.168.5.254";
        } else {
            EXPECT_GE(e.address, 0xc0a80565u);
            EXPECT_LE(e.address, 0xc0a8058bu);
        }
    }
    EXPECT_EQ(pseudo, 1);
    fleet.Stop();
    std::filesystem::remove_all(dir);
}

TEST_F(SearchNamespaces, CommandLineSearchMergesIntoTheDeviceList)
{
    const char* bin = std::getenv("SUITE_BIN_DIR");
    std::string cli = std::string(bin ? bin : ".") + "/qorvexal-cli";
    if (access(cli.c_str(), X_OK) != 0)
        GTEST_SKIP() << "qorvexal-cli not built";
    std::string dir = TempDir("cli");
    SimSearchOptions o;
    o.port = 69;
    o.bind = { 0xFFFFFFFFu, 0xc0a805ffu, 0xc0a805feu };
    o.shipping = 2;
    o.shipping_address = 0xc0a80501; // 192.168.5.1
    FleetThread fleet;
    ASSERT_TRUE(fleet.Start(Settings(dir + "/sim", 0xc0a80564, 5, 69), o, dev)) << fleet.error;

    std::string ini = dir + "/qorvexal.ini";
    std::string out = dir + "/out.txt";
    std::string command = StrFormat(
        "ip netns exec %s %s --ini %s search -t 2 > %s 2>&1", pc.c_str(), cli.c_str(), ini.c_str(), out.c_str());
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("5 device(s) found, 3 new, 2 conflict(s)"), std::string::npos) << text;
    EXPECT_NE(text.find("Several devices with the same IP address"), std::string::npos) << text;
    EXPECT_NE(text.find("192.168.5.1 "), std::string::npos) << text;

    // The list holds the three devices; a second search finds nothing new.
    DeviceList list;
    ASSERT_EQ(DeviceListLoadFile(list, ini, ""), 1);
    EXPECT_EQ(list.Count(), 3u);
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream again(out);
    text.assign((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("5 device(s) found, 0 new, 2 conflict(s)"), std::string::npos) << text;
    fleet.Stop();
    std::filesystem::remove_all(dir);
}

TEST(SimSearchText, RolesRewriteTheSystemInformation)
{
    std::string base = "DEVICE: Morvak 1100\r\nIP-ADDRESS: 127.0.0.5\r\nIP-NETMASK: 255.0.0.0\r\nCONFIG-STATUS: 32\r\n";
    SimSearchOptions o;
    o.no_probe = true;
    std::string u = SimSearchText(base, SimSearchRole::Unconfigured, o, 0);
    EXPECT_NE(u.find("IP-ADDRESS: 0.0.0.0\r\n"), std::string::npos) << u;
    EXPECT_NE(u.find("IP-NETMASK: 255.255.255.0\r\n"), std::string::npos) << u;
    EXPECT_NE(u.find("CONFIG-STATUS: 160\r\n"), std::string::npos) << u;
    std::string s = SimSearchText(base, SimSearchRole::Shipping, o, 0xac173801);
    EXPECT_NE(s.find("IP-ADDRESS: 172.23.56.1\r\n"), std::string::npos) << s;
    EXPECT_GT(SimSearchText(base, SimSearchRole::FullBlock, o, 0).size(), 512u);
}

} // namespace
