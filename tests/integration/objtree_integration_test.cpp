// The shipped object-tree scripts against the simulator and on the command line: for every device type
// morvaksim simulates, the value net-snmp's snmpget reads at each detect OID selects exactly that type;
// talvine-cli's tree, types, expr, expand and state print what the scripts define.
#include "common/platform/net.h"
#include "monitor/objtree/script.h"
#include "tests/integration/child_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
using testing_child::Env;
using testing_child::FreePort;
using testing_child::Shell;

} // namespace

TEST(ShippedScriptsWithMorvaksim, DetectValuesSelectExactlyTheirType)
{
    std::string sim = Env("SUITE_BIN_DIR") + "/morvaksim";
    if (access(sim.c_str(), X_OK) != 0 || access("/usr/bin/snmpget", X_OK) != 0)
        GTEST_SKIP() << "morvaksim or net-snmp's snmpget is missing";
    ScriptLibrary lib;
    ASSERT_GE(lib.LoadAll(Env("SUITE_SOURCE_DIR") + "/data/talv*.dsc", "English"), 1);
    std::vector<ScriptLibrary::DetectEntry> entries;
    ScriptLibrary::DetectEntry e;
    for (size_t n = 0; lib.Detect(n, &e); ++n)
        entries.push_back(e);
    ASSERT_EQ(entries.size(), 4u);

    uint32_t host = 0x7F002C01; // 127.0.44.1
    for (const char* type : { "Morvak 1100", "Morvak 1100 Plus", "Morvak 2400", "Morvak 5000" }) {
        SCOPED_TRACE(type);
        uint16_t snmpPort = FreePort(host), tftpPort = FreePort(host);
        std::string address = "127.0.44.1";
        testing_child::Morvaksim device(
            { "--port", std::to_string(tftpPort), "--type", type, "--snmp-port", std::to_string(snmpPort), address });
        ASSERT_TRUE(device.Ready()) << device.All();
        std::vector<std::string> selected;
        for (const ScriptLibrary::DetectEntry& entry : entries) {
            std::string out;
            int rc = 1;
            // The simulator listens: a lost datagram is all a retry is for.
            for (int i = 0; i < 3 && rc != 0; ++i)
                rc = Shell("snmpget -v1 -c public -On -Oqv -t 2 -r 0 " + address + ":" + std::to_string(snmpPort) + " "
                        + entry.oidText,
                    &out);
            ASSERT_EQ(rc, 0) << entry.oidText;
            while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
                out.pop_back();
            if (out.size() >= 2 && out.front() == '"' && out.back() == '"')
                out = out.substr(1, out.size() - 2);
            if (out == entry.value)
                selected.push_back(entry.device->name);
        }
        EXPECT_EQ(selected, std::vector<std::string> { type });
    }
}

namespace {
// talvine-cli with the shipped scripts: its output and exit code.
int Cli(const std::string& args, std::string* out)
{
    return Shell(Env("SUITE_BIN_DIR") + "/talvine-cli " + args, out);
}
} // namespace

TEST(ShippedScriptsWithTalvineCli, TreeTypesExpressionsAndStates)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli";
    if (access(cli.c_str(), X_OK) != 0)
        GTEST_SKIP() << "talvine-cli is not built";
    std::string dir = " --dir " + Env("SUITE_SOURCE_DIR") + "/data ";
    std::string out;
    ASSERT_EQ(Cli("types" + dir, &out), 0);
    EXPECT_EQ(out,
        "Morvak 1100\t1.3.6.1.2.1.1.1.0\tZevra Morvak 1100\n"
        "Morvak 1100 Plus\t1.3.6.1.2.1.1.1.0\tZevra Morvak 1100 Plus\n"
        "Morvak 2400\t1.3.6.1.2.1.1.1.0\tZevra Morvak 2400\n"
        "Morvak 5000\t1.3.6.1.2.1.1.1.0\tZevra Morvak 5000\n");

    ASSERT_EQ(Cli("tree" + dir + "--lang Deutsch 'Morvak 5000'", &out), 0);
    for (const char* line : { "device Morvak 5000\n", "detect 1.3.6.1.2.1.1.1.0 Zevra Morvak 5000\n",
             "register 600 enter:Register enter:RegisterPort:162\n",
             "option radiogroup Warn 1\tWenn die Leitung getrennt wird\t1\tNichts tun\tSprechblase zeigen\n",
             "plugin accounting - - 1.3.6.1.4.1.58127.3.1.1 1.3.6.1.4.1.58127.3.2.0\n",
             "plugin vpn - 1.3.6.1.4.1.58127.4.1.1\n", "display Line\n", "item Device\n", "  item Line\n",
             "    state 1 $1 == 1 && $(Warn)\n", "    action 4 enter:LogUp log\n", "    item Interface:1\n",
             "      uses 1.3.6.1.2.1.2.2.1.8 index $i\n", "      flags 3 clone error\n", "      term up $2 == 1\n",
             "    item Vpn:1\n" })
        EXPECT_NE(out.find(line), std::string::npos) << line;
    ASSERT_EQ(Cli("tree" + dir + "'Morvak 1100'", &out), 0);
    EXPECT_EQ(out.find("Vpn"), std::string::npos); // the 1100 has no VPN list

    struct Row {
        std::string args;
        int code;
        std::string out;
    } rows[] = {
        { "expr '10 - 4 - 3'", 0, "integer: 9\n" },
        { "expr -v 1=s:03 '$1 == 3'", 0, "integer: 0\n" },
        { "expr -- '1/0'", 1, "failed\n" },
        { "expand -v 1=i:9000 '$(1 /100 as duration)'", 0, "string: One minute and 30 seconds\n" },
        { "expand --lang Francais -v 1=i:9000 '$(1 /100 as duration)'", 0, "string: Une minute et 30 secondes\n" },
        { "expand --args a:b '$3'", 0, "none\n" },
        { "expand --address 10.0.0.1 '$a'", 0, "address: 10.0.0.1\n" },
        // Shifts count modulo 32, literals keep their low 32 bits, a format's division by 0 keeps the number.
        { "expr '1 << 33'", 0, "integer: 2\n" },
        { "expr '0x80000000 >> 63'", 0, "integer: 1\n" },
        { "expr '4294967297 + 1'", 0, "integer: 2\n" },
        { "expand -v 1=i:10 '$(1 /0)'", 0, "integer: 10\n" },
        { "state" + dir + "--type 'Morvak 2400' --item Line -v 1=i:3", 0,
            "state 4\ntext: Line: connected\nflags: connect\n" },
        { "state" + dir + "--type 'Morvak 2400' --item Line -v 1=i:1 --option warn=0", 0,
            "state 2\ntext: Line: idle\nflags: \n" },
        { "state" + dir + "--type 'Morvak 5000' --item Interface:1 -v 1=s:WAN -v 2=i:2", 0,
            "state 3\ntext: WAN: down\nflags: clone error\n" },
        { "state" + dir + "--type 'Morvak 2400' --item Device --error --address 192.0.2.1", 0,
            "state 1\ntext: Morvak 2400 (192.0.2.1) not answering\nflags: error\n" },
        { "state" + dir + "--type 'Morvak 2400' --item Device --refused --address 192.0.2.1", 0,
            "state 2\ntext:  (192.0.2.1) answers, but refused the registration: enter its write community as the "
            "password in Properties\nflags: error\n" },
        { "state" + dir + "--type 'Morvak 9' --item Line", 1, "" },
        { "state" + dir + "--type 'Morvak 2400' --item Nothing", 1, "" },
        { "tree" + dir + "'Morvak 9'", 1, "" },
        { "expr --bogus 1", 2, "" },
        { "expr -v 1=x:1 '$1'", 2, "" },
        { "tree", 2, "" },
    };
    for (const Row& r : rows) {
        EXPECT_EQ(Cli(r.args, &out), r.code) << r.args;
        EXPECT_EQ(out, r.out) << r.args;
    }
}

// A template whose term refers to itself is stopped by the cycle guard: expand fails as expr does.
TEST(ShippedScriptsWithTalvineCli, ExpandStoppedByTheCycleGuardFails)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli";
    if (access(cli.c_str(), X_OK) != 0)
        GTEST_SKIP() << "talvine-cli is not built";
    std::string dir = std::string(::testing::TempDir()) + "objtree_cycle_" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/talvcyc.dsc")
        << "device Cyc\n  childs I\nitem I\n  uses 0.1.1\n  term self, $(self) + 1\n  term two, 2\n";
    const std::string context = " --dir " + dir + " --type Cyc --item I ";
    std::string out;
    EXPECT_EQ(Cli("expand" + context + "'x $(self) y'", &out), 1);
    EXPECT_EQ(out, "failed\n");
    EXPECT_EQ(Cli("expr" + context + "'$(self)'", &out), 1);
    EXPECT_EQ(out, "failed\n");
    EXPECT_EQ(Cli("expand" + context + "'x $(two) y'", &out), 0);
    EXPECT_EQ(out, "string: x 2 y\n");
    std::filesystem::remove_all(dir);
}
