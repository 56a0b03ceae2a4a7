// talvine-cli monitor and remove end to end: against net-snmp's snmpd (detection by its sysDescr,
// registration by a set through its rw community, an item updated by a trap from snmptrap) and against
// morvaksim (the shipped scripts, --once, the device list, removal).
#include "common/platform/net.h"
#include "common/testctl.h"
#include "tests/integration/child_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
using testing_child::Env;
using testing_child::FreePort;

using testing_child::TempDir;

// A shell command's output (with its errors) and exit code.
int Shell(const std::string& command, std::string* out)
{
    return testing_child::Shell(command, out, true);
}

using testing_child::Child;

const char* const kSnmpdScript = R"(
device Testbox
  root     1.3.6.1.2.1, 1.3.6.1.4.1.58127
  detect   1.1.1.0, "Testbox agent"
  register 600, enter:Register
  childs   Name, Line

item Name
  uses     1.1.5.0
  text     "name $1"
  refresh  time:600
  childs   Contact

item Contact
  uses     1.1.4.0
  text     "contact $1"
  refresh  time:10

item Line
  uses     2.2.5.0
  states   $1 == 3
  text     "line $1", "line up"
  refresh  time:6000

function Register
  set      1.1.4.0, "Travik"
)";
} // namespace

TEST(MonitorCliAgainstSnmpd, DetectsRegistersAndTakesATrap)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli";
    if (access("/usr/sbin/snmpd", X_OK) != 0 || access("/usr/bin/snmptrap", X_OK) != 0
        || access(cli.c_str(), X_OK) != 0)
        GTEST_SKIP() << "snmpd, snmptrap or talvine-cli is missing";
    TempDir scratch("monitor-snmpd");
    const std::filesystem::path& dir = scratch.path;
    uint16_t agentPort = FreePort(), trapPort = FreePort();
    std::ofstream(dir / "snmpd.conf") << "agentAddress udp:127.0.0.1:" << agentPort << "\n"
                                      << "rocommunity public 127.0.0.1\n"
                                      << "rwcommunity private 127.0.0.1\n"
                                      << "sysDescr Testbox agent\n";
    std::ofstream(dir / "talvtest.dsc") << kSnmpdScript;
    Child snmpd({ "/usr/sbin/snmpd", "-f", "-Lo", "-C", "-r", "-c", (dir / "snmpd.conf").string(), "-p",
                    (dir / "snmpd.pid").string() },
        "", { "SNMP_PERSISTENT_DIR=" + dir.string(), "MIBS=", "HOME=" + dir.string() });
    // snmpd names its version once it listens; then it answers (a bounded number of tries).
    ASSERT_TRUE(snmpd.WaitFor("NET-SNMP version", 60000)) << snmpd.All();
    std::string out;
    int rc = 1;
    for (int i = 0; i < 50 && rc != 0; ++i) {
        rc = Shell(
            "snmpget -v1 -c public -t 0.2 -r 0 127.0.0.1:" + std::to_string(agentPort) + " 1.3.6.1.2.1.1.1.0", &out);
    }
    ASSERT_EQ(rc, 0) << out;

    Child monitor({ cli, "monitor", "--dir", dir.string(), "-p", std::to_string(agentPort), "--local-port",
        std::to_string(trapPort), "-t", "60", "127.0.0.1:private" });
    std::string line;
    ASSERT_TRUE(monitor.WaitFor("127.0.0.1 Contact state=0 image=0 flags=0: contact Travik", 20000, &line))
        << monitor.All();
    // The device line follows the first answer (it may come before or after the items).
    EXPECT_TRUE(monitor.All().find("device 127.0.0.1 Testbox noanswer=0 registered=1") != std::string::npos
        || monitor.WaitFor("device 127.0.0.1 Testbox noanswer=0 registered=1", 10000))
        << monitor.All();
    EXPECT_NE(monitor.All().find("127.0.0.1 Line state=0"), std::string::npos) << monitor.All();
    ASSERT_EQ(Shell("snmptrap -v 1 -c public 127.0.0.1:" + std::to_string(trapPort)
                      + " 1.3.6.1.4.1.58127 127.0.0.1 6 1 '' 1.3.6.1.4.1.58127.2.5.0 i 3",
                  &out),
        0)
        << out;
    EXPECT_TRUE(monitor.WaitFor("127.0.0.1 Line state=1 image=0 flags=0: line up", 10000)) << monitor.All();
    EXPECT_EQ(monitor.Stop(SIGINT), 0);
    std::ifstream list(dir / "talvine.lst", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.substr(0, 26), "Testbox;127.0.0.1;3d1d1b11") << "the rw community scrambled";
}

// A router watched with its read-only community (snmpd with only an rocommunity): it answers every poll
// but refuses the registration set, and the shipped script says so instead of "not answering".
TEST(MonitorCliAgainstSnmpd, ReadOnlyCommunityAnswersAndTheRefusedRegistrationIsShown)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli";
    if (access("/usr/sbin/snmpd", X_OK) != 0 || access(cli.c_str(), X_OK) != 0)
        GTEST_SKIP() << "snmpd or talvine-cli is missing";
    TempDir scratch("monitor-snmpd-ro");
    const std::filesystem::path& dir = scratch.path;
    std::filesystem::copy_file(Env("SUITE_SOURCE_DIR") + "/data/talvmorv.dsc", dir / "talvmorv.dsc");
    uint16_t agentPort = FreePort();
    std::ofstream(dir / "snmpd.conf") << "agentAddress udp:127.0.0.1:" << agentPort << "\n"
                                      << "rocommunity public 127.0.0.1\n"
                                      << "sysDescr Zevra Morvak 1100\n"
                                      << "sysName lab-router\n";
    Child snmpd({ "/usr/sbin/snmpd", "-f", "-Lo", "-C", "-r", "-c", (dir / "snmpd.conf").string(), "-p",
                    (dir / "snmpd.pid").string() },
        "", { "SNMP_PERSISTENT_DIR=" + dir.string(), "MIBS=", "HOME=" + dir.string() });
    ASSERT_TRUE(snmpd.WaitFor("NET-SNMP version", 60000)) << snmpd.All();
    std::string out;
    int rc = 1;
    for (int i = 0; i < 50 && rc != 0; ++i) {
        rc = Shell(
            "snmpget -v1 -c public -t 0.2 -r 0 127.0.0.1:" + std::to_string(agentPort) + " 1.3.6.1.2.1.1.1.0", &out);
    }
    ASSERT_EQ(rc, 0) << out;

    rc = Shell(
        cli + " monitor --dir " + dir.string() + " -p " + std::to_string(agentPort) + " --once -t 40 127.0.0.1:public",
        &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("device 127.0.0.1 Morvak 1100 noanswer=0 registered=0 "), std::string::npos) << out;
    EXPECT_NE(out.find(" refused=1"), std::string::npos) << out;
    EXPECT_NE(out.find("\n  Device state=2 image=13 flags=8: lab-router (127.0.0.1) answers, but refused the "
                       "registration: enter its write community as the password in Properties"),
        std::string::npos)
        << out;
    EXPECT_EQ(out.find("not answering"), std::string::npos) << out;
    EXPECT_EQ(out.find("\n    "), std::string::npos) << "its details stay hidden:\n" << out;
}

TEST(MonitorCliWithMorvaksim, OnceListsTheTreeAndRemoveTakesTheDeviceOut)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli", sim = Env("SUITE_BIN_DIR") + "/morvaksim";
    if (access(cli.c_str(), X_OK) != 0 || access(sim.c_str(), X_OK) != 0)
        GTEST_SKIP() << "talvine-cli or morvaksim is missing";
    TempDir scratch("monitor-sim");
    const std::filesystem::path& dir = scratch.path;
    std::filesystem::copy_file(Env("SUITE_SOURCE_DIR") + "/data/talvmorv.dsc", dir / "talvmorv.dsc");
    uint32_t host = 0x7F005F01; // 127.0.95.1
    uint16_t snmpPort = FreePort(host), tftpPort = FreePort(host);
    testing_child::Morvaksim device({ "--port", std::to_string(tftpPort), "--type", "Morvak 5000", "--snmp-port",
        std::to_string(snmpPort), "127.0.95.1" });
    ASSERT_TRUE(device.Ready()) << device.All();

    std::string out;
    std::string base = cli + " monitor --dir " + dir.string() + " -p " + std::to_string(snmpPort) + " --once ";
    int rc = Shell(base + "127.0.95.1:private 127.0.95.9:private -t 20", &out);
    EXPECT_EQ(rc, 1) << "a detection failed";
    EXPECT_NE(out.find("talvine-cli: No device responded at IP address 127.0.95.9.\n"), std::string::npos) << out;
    for (const char* expected : {
             "device 127.0.95.1 Morvak 5000 noanswer=0 registered=1 ",
             "\n  Device state=0 image=0 flags=0: MORVAK-", // the device's name
             "\n    Line state=",
             "\n      Interface:1 state=",
             "\n      Interface:1+1 state=",
             "\n      Vpn:1+1 state=",
         })
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
    EXPECT_EQ(out.find("Interface:1+2"), std::string::npos) << "the third row does not exist";

    // Listed now: the second run starts from the list.
    rc = Shell(base + "-t 20", &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("device 127.0.95.1 Morvak 5000 noanswer=0 registered=1"), std::string::npos) << out;

    EXPECT_EQ(Shell(cli + " remove --dir " + dir.string() + " 127.0.95.1", &out), 0) << out;
    EXPECT_EQ(Shell(cli + " remove --dir " + dir.string() + " 127.0.95.1", &out), 1) << out;
    std::ifstream list(dir / "talvine.lst", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "");
}

TEST(MonitorCliWithMorvaksim, FindListsTheFleetAndAddsIt)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli", sim = Env("SUITE_BIN_DIR") + "/morvaksim";
    if (access(cli.c_str(), X_OK) != 0 || access(sim.c_str(), X_OK) != 0)
        GTEST_SKIP() << "talvine-cli or morvaksim is missing";
    TempDir scratch("monitor-find");
    const std::filesystem::path& dir = scratch.path;
    std::filesystem::copy_file(Env("SUITE_SOURCE_DIR") + "/data/talvmorv.dsc", dir / "talvmorv.dsc");
    uint32_t host = 0x7F006001; // 127.0.96.1
    uint16_t snmpPort = FreePort(host), tftpPort = FreePort(host), silentPort = FreePort(host);
    testing_child::Morvaksim fleet({ "--port", std::to_string(tftpPort), "--type", "Morvak 5000", "--count", "2",
        "--search", "--snmp-port", std::to_string(snmpPort), "127.0.96.1" });
    ASSERT_TRUE(fleet.Ready()) << fleet.All();

    // The search reaches the fleet by the loopback broadcast; every device is one line.
    std::string out;
    std::string base = cli + " find --dir " + dir.string() + " --no-local --net 127.255.255.255/8 --port "
        + std::to_string(tftpPort) + " -t 2 ";
    EXPECT_EQ(Shell(base, &out), 0) << out;
    EXPECT_NE(out.find("127.0.96.1\tMorvak 5000\tMORVAK-0001\n"), std::string::npos) << out;
    EXPECT_NE(out.find("127.0.96.2\tMorvak 5000\tMORVAK-0002\n"), std::string::npos) << out;
    EXPECT_NE(out.find("2 device(s) found"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "talvine.lst")) << "nothing added without --add";

    // Agents that do not answer: each device fails with the message of a new device that did not answer.
    EXPECT_EQ(Shell(base + "--add -p " + std::to_string(silentPort), &out), 1) << out;
    EXPECT_NE(out.find("talvine-cli: No device responded at IP address 127.0.96.2."), std::string::npos) << out;

    // Added with the agents' port: detected, listed without community.
    EXPECT_EQ(Shell(base + "--add -p " + std::to_string(snmpPort), &out), 0) << out;
    std::ifstream list(dir / "talvine.lst", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(list)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Morvak 5000;127.0.96.1; ;0;"), std::string::npos) << text;
    EXPECT_NE(text.find("Morvak 5000;127.0.96.2; ;0;"), std::string::npos) << text;

    EXPECT_EQ(Shell(cli + " find --no-local", &out), 2) << out;
    EXPECT_EQ(Shell(cli + " find --net 10.0.0.0/33", &out), 2) << out;
}

// talvine-cli ctl against a channel server in this process: the answers without their framing.
TEST(MonitorCliCtl, PrintsAnswersWithoutTheirFraming)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli";
    if (access(cli.c_str(), X_OK) != 0)
        GTEST_SKIP() << "talvine-cli is missing";
    std::string last;
    TestCtlServer server;
    uint16_t port = server.Start(
        0,
        [&](const TestCtlCommand& c) {
            last = c.verb + "|" + c.rest;
            if (c.verb == "tray")
                return std::string("ok shown=1 image=2\n");
            if (c.verb == "tree")
                return TestCtlOkLines({ "device 127.0.0.1 Morvak 5000", ".", "  Line\\nstate=1" });
            if (c.verb == "exit")
                return TestCtlOk();
            return TestCtlError("unknown command: " + c.verb);
        },
        [] { return true; });
    ASSERT_NE(port, 0);
    std::string out, p = " --port " + std::to_string(port) + " ";
    EXPECT_EQ(Shell(cli + " ctl" + p + "tray", &out), 0);
    EXPECT_EQ(out, "shown=1 image=2\n");
    EXPECT_EQ(Shell(cli + " ctl" + p + "tree", &out), 0);
    EXPECT_EQ(out, "device 127.0.0.1 Morvak 5000\n.\n  Line\nstate=1\n");
    EXPECT_EQ(Shell(cli + " ctl" + p + "exit", &out), 0);
    EXPECT_EQ(out, "");
    // Arguments with blanks are quoted for the channel.
    EXPECT_EQ(Shell(cli + " ctl" + p + "press \"Yes please\" now", &out), 1);
    EXPECT_EQ(last, "press|\"Yes please\" now");
    EXPECT_EQ(out, "talvine-cli: unknown command: press\n");
    server.Stop();
    // Nobody listening.
    EXPECT_EQ(Shell(cli + " ctl" + p + "tray", &out), 2) << out;
    EXPECT_EQ(Shell(cli + " ctl tray", &out), 2) << out;
}
