// The TFTP client against real peers: in.tftpd of tftpd-hpa started by the test on a loopback high
// port, the tftp client of tftp-hpa against morvaksim, and the qorvexal-cli device cycle against
// morvaksim (check, read, write, restart at a new address, check).
#include "common/platform/file.h"
#include "common/text.h"
#include "device/deviceentry.h"
#include "device/firmware.h"
#include "device/sysinfo.h"
#include "device/tftp.h"
#include "tests/integration/child_process.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

using testing_child::Bin;
using testing_child::Child;
using testing_child::FreePort;

std::string Dir(const char* name)
{
    fs::path p = fs::temp_directory_path() / StrFormat("tftp-it-%d-%s", getpid(), name);
    fs::remove_all(p);
    fs::create_directories(p);
    fs::permissions(p, fs::perms::all);
    return p.string();
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

// Runs a command, returns its exit code; standard output and error together into `out`, or with
// `stdoutOnly` just the command's result (progress and diagnostics go to standard error).
int Shell(const std::string& command, std::string* out = nullptr, bool stdoutOnly = false)
{
    std::string file = fs::temp_directory_path() / StrFormat("tftp-it-%d.out", getpid());
    int rc = std::system((command + " > " + file + (stdoutOnly ? " 2>/dev/null" : " 2>&1")).c_str());
    if (out)
        FileReadAll(file, out);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// Waits until in.tftpd at `port` hands out `file` (it names no moment it listens): a bounded number
// of tries, each a second long at most, with a pause after a refusal (before it has bound its port).
bool WaitForFile(uint32_t ip, uint16_t port, const char* file)
{
    for (int i = 0; i < 120; ++i) {
        TftpMemoryStream s;
        if (TftpGet(ip, port, file, s, 1000, 512))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// morvaksim with `args`, waited for until it says that its devices listen.
std::unique_ptr<testing_child::Morvaksim> Sim(const std::vector<std::string>& args)
{
    auto sim = std::make_unique<testing_child::Morvaksim>(args);
    EXPECT_TRUE(sim->Ready()) << sim->All();
    return sim;
}
} // namespace

TEST(TftpAgainstTftpdHpa, GetPutBlockSizesAndMissingFile)
{
    if (!fs::exists("/usr/sbin/in.tftpd"))
        GTEST_SKIP() << "tftpd-hpa is not installed";
    std::string dir = Dir("tftpd");
    uint16_t port = FreePort();
    FileWriteAtomic(dir + "/small.bin", Pattern(1024));
    FileWriteAtomic(dir + "/big.bin", Pattern(300000));
    std::vector<std::string> argv
        = { "/usr/sbin/in.tftpd", "-L", "-a", StrFormat("127.0.0.1:%u", port), "-s", dir, "-c", "-p" };
    if (geteuid() == 0) {
        argv.push_back("-u");
        argv.push_back("root");
    }
    Child server(argv);
    ASSERT_TRUE(WaitForFile(0x7f000001, port, "small.bin")) << "in.tftpd did not answer";

    struct {
        int32_t requested;
        uint32_t negotiated;
    } rows[] = { { 512, 512 }, { 1024, 1024 }, { 1432, 1432 }, { 0, 8192 } };
    for (auto& row : rows) {
        for (const char* name : { "small.bin", "big.bin" }) {
            std::string expected;
            FileReadAll(dir + "/" + name, &expected);
            TftpMemoryStream in;
            TftpTransfer t(false, { 0x7f000001, port }, name, 3000, row.requested, in);
            TftpUdpLink link;
            ASSERT_EQ(link.Open(), 1);
            EXPECT_EQ(TftpRun(t, link, SystemClock(), nullptr, nullptr), 1) << name << " " << row.requested;
            EXPECT_EQ(t.BlockSize(), row.negotiated);
            EXPECT_EQ(in.Data() == expected, true) << name << " " << row.requested;
        }
        // Put: the server creates the file (-c).
        std::string up = Pattern(70000 + static_cast<size_t>(row.requested));
        TftpMemoryStream out(up);
        std::string target = StrFormat("up-%d.bin", row.requested);
        EXPECT_EQ(TftpPut(0x7f000001, port, target.c_str(), out, 3000, row.requested), 1);
        std::string stored;
        FileReadAll(dir + "/" + target, &stored);
        EXPECT_EQ(stored == up, true) << row.requested;
    }
    TftpMemoryStream none;
    EXPECT_EQ(TftpGet(0x7f000001, port, "missing.bin", none, 3000, 512), 0);
    EXPECT_EQ(TftpLastError, 1);
    // The command line names the server's own error, not a status of its own.
    std::string out;
    EXPECT_EQ(Shell(StrFormat("%s tftp get -p %u 127.0.0.1 missing.bin %s/got.bin", Bin("qorvexal-cli").c_str(), port,
                        dir.c_str()),
                  &out),
        1);
    EXPECT_NE(out.find("get missing.bin: File not found (1)"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir + "/got.bin"));
}

namespace {
// The client's datagrams counted on their way out of a real UDP socket.
struct CountingLink : TftpUdpLink {
    std::vector<uint16_t>* opcodes;
    explicit CountingLink(std::vector<uint16_t>* o)
        : opcodes(o)
    {
    }
    int Send(const uint8_t* data, size_t size, NetAddress to) override
    {
        opcodes->push_back(size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0);
        return TftpUdpLink::Send(data, size, to);
    }
};
} // namespace

TEST(MorvaksimDuplicates, APutSendsEveryBlockOnce)
{
    // The simulator sends every second datagram twice: every other ACK arrives twice. Each block still
    // goes out once (answering a duplicate ACK with DATA would double every later block).
    std::string dir = Dir("duplicates");
    uint16_t port = FreePort();
    auto sim = Sim({ "--dir", dir + "/state", "--port", std::to_string(port), "--duplicate-every", "2", "127.0.45.1" });
    std::vector<uint16_t> opcodes;
    TftpSetEnvironment({ nullptr, [&]() -> std::unique_ptr<TftpLink> {
                            auto link = std::make_unique<CountingLink>(&opcodes);
                            return link->Open() ? std::move(link) : nullptr;
                        } });
    FirmwareHeader header;
    header.letter = 'F';
    header.pattern = "Morvak_1100";
    header.version = "3.30";
    header.date = "01062024";
    std::string image = FirmwareBuildHeader(header) + Pattern(40 * 512 - 100 - kFirmwareHeaderSize);
    TftpMemoryStream source(image);
    int ok = TftpPut(0x7f002d01, port, "writeflash_0", source, 5000, 512);
    TftpSetEnvironment({});
    ASSERT_EQ(ok, 1) << TftpLastFailureText();
    size_t data = static_cast<size_t>(std::count(opcodes.begin(), opcodes.end(), kTftpData));
    EXPECT_GE(data, 40u);
    EXPECT_LE(data, 42u) << "blocks sent again on duplicate ACKs";
}

TEST(MorvaksimAgainstTftpHpa, ServesTheTftpClient)
{
    if (!fs::exists("/usr/bin/tftp"))
        GTEST_SKIP() << "tftp-hpa is not installed";
    std::string dir = Dir("simclient");
    uint16_t port = FreePort();
    auto sim = Sim({ "--dir", dir + "/state", "--port", std::to_string(port), "--count", "2", "127.0.44.1" });
    std::string out;
    EXPECT_EQ(
        Shell(StrFormat("tftp -m binary 127.0.44.2 %u -c get sysinfo %s/sysinfo.txt", port, dir.c_str()), &out), 0)
        << out;
    std::string text;
    ASSERT_TRUE(FileReadAll(dir + "/sysinfo.txt", &text));
    DeviceEntry entry;
    EXPECT_EQ(SysInfoParseInto(text, entry), 1);
    EXPECT_EQ(entry.name.str(), "MORVAK-0002");
    // A configuration round trip through the other client.
    EXPECT_EQ(Shell(StrFormat("tftp -m binary 127.0.44.1 %u -c get readconfig %s/config.txt", port, dir.c_str())), 0);
    std::string config;
    ASSERT_TRUE(FileReadAll(dir + "/config.txt", &config));
    EXPECT_EQ(config.rfind("[Morvak 1100]\r\n", 0), 0u);
}

TEST(QorvexalCliAgainstMorvaksim, CheckReadWriteRestartCheck)
{
    std::string dir = Dir("cycle");
    uint16_t port = FreePort();
    auto sim = Sim({ "--dir", dir + "/state", "--port", std::to_string(port), "--restart-ms", "1500", "--password",
        "geheim", "127.0.45.1" });
    std::string cli = Bin("qorvexal-cli");
    std::string device = StrFormat("127.0.45.1:%u", port);
    std::string out;
    EXPECT_EQ(Shell(cli + " check " + device, &out, true), 0);
    EXPECT_EQ(out, "Ok\n");
    EXPECT_EQ(Shell(cli + " read -p wrong " + device + " " + dir + "/c.txt", &out), 1);
    EXPECT_NE(out.find("Wrong password"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir + "/c.txt"));
    ASSERT_EQ(Shell(cli + " read -p geheim " + device + " " + dir + "/c.txt", &out), 0) << out;
    std::string config;
    ASSERT_TRUE(FileReadAll(dir + "/c.txt", &config));
    size_t at = config.find("/ip/address = 127.0.45.1");
    ASSERT_NE(at, std::string::npos);
    config.replace(at, 24, "/ip/address = 127.0.45.9");
    FileWriteAtomic(dir + "/new.txt", config);
    ASSERT_EQ(Shell(cli + " write -p geheim -a 127.0.45.9 " + device + " " + dir + "/new.txt", &out), 0) << out;
    EXPECT_NE(out.find(StrFormat("127.0.45.9:%u", port)), std::string::npos) << out;
    EXPECT_EQ(Shell(cli + " check -t 1 " + device, &out, true), 1);
    EXPECT_EQ(out, "No response\n");
    EXPECT_EQ(Shell(cli + StrFormat(" check 127.0.45.9:%u", port), &out), 0);
    EXPECT_EQ(Shell(cli + StrFormat(" time -p geheim 127.0.45.9:%u", port), &out), 0) << out;
    EXPECT_EQ(Shell(cli + StrFormat(" tftp get -p %u 127.0.45.9 readconfig %s/none.txt", port, dir.c_str()), &out), 1);
    EXPECT_NE(out.find("Wrong password"), std::string::npos) << out;
}

// A device addressed by its name in the device list keeps that name in what the jobs print, although
// the check reads the name the device reports into the entry.
TEST(QorvexalCliAgainstMorvaksim, JobsNameTheDeviceByItsListName)
{
    std::string dir = Dir("listname");
    uint16_t port = FreePort();
    auto sim = Sim({ "--dir", dir + "/state", "--port", std::to_string(port), "--restart-ms", "300", "--password",
        "geheim", "127.0.45.21" });
    std::string cli = Bin("qorvexal-cli") + " --ini " + dir + "/q.ini";
    std::string out;
    ASSERT_EQ(Shell(cli + StrFormat(" add r1 127.0.45.21:%u", port), &out), 0) << out;
    EXPECT_EQ(Shell(cli + " read -p wrong r1 " + dir + "/c.txt", &out), 1);
    EXPECT_NE(out.find("reading the configuration of r1 (127.0.45.21"), std::string::npos) << out;
    ASSERT_EQ(Shell(cli + " read -p geheim r1 " + dir + "/c.txt", &out), 0) << out;
    ASSERT_EQ(Shell(cli + " write --no-diff -p geheim r1 " + dir + "/c.txt", &out, true), 0) << out;
    EXPECT_NE(out.find(StrFormat("r1: written, back at 127.0.45.21:%u", port)), std::string::npos) << out;
    ASSERT_EQ(Shell(cli + " list", &out, true), 0);
    EXPECT_EQ(out.rfind("r1 ", 0), 0u) << out;
}
