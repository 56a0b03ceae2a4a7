// The shipped object-tree scripts against the simulator: for every device type morvaksim simulates, the
// value net-snmp's snmpget reads at each detect OID selects exactly that type.
#include "common/platform/net.h"
#include "monitor/objtree/script.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
std::string Env(const char* name)
{
    const char* s = std::getenv(name);
    return s ? s : ".";
}

uint16_t FreePort(uint32_t ip)
{
    UdpSocket s;
    s.Open();
    s.Bind(ip, 0);
    return s.LocalAddress()->port;
}

int Shell(const std::string& command, std::string* out)
{
    out->clear();
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out->append(buffer, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One simulated device of a type, stopped when the test ends.
struct Simulator {
    pid_t pid = 0;
    Simulator(const std::string& type, const std::string& address, uint16_t snmpPort, uint16_t tftpPort)
    {
        std::string sim = Env("SUITE_BIN_DIR") + "/morvaksim";
        std::vector<std::string> argv = { sim, "--port", std::to_string(tftpPort), "--type", type, "--snmp-port",
            std::to_string(snmpPort), address };
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(posix_spawn(&pid, sim.c_str(), &actions, nullptr, args.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Simulator()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            int status;
            waitpid(pid, &status, 0);
        }
    }
};
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
        Simulator device(type, address, snmpPort, tftpPort);
        std::vector<std::string> selected;
        for (const ScriptLibrary::DetectEntry& entry : entries) {
            std::string out;
            int rc = 1;
            // The simulator answers once it is up: a bounded number of tries.
            for (int i = 0; i < 50 && rc != 0; ++i) {
                rc = Shell("snmpget -v1 -c public -On -Oqv -t 1 -r 0 " + address + ":" + std::to_string(snmpPort) + " "
                        + entry.oidText,
                    &out);
                if (rc != 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
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
