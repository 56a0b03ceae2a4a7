// Kept values end to end: talvine-cli monitor polls a simulated Morvak and keeps its values, killed or
// ended; talvine-cli history prints them (rates of the interface counters, gaps between runs, CSV).
#include "tests/integration/child_process.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <unistd.h>

namespace {
using testing_child::Env;
using testing_child::TempDir;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.empty() || line.back() != '\r' ? line : line.substr(0, line.size() - 1));
    return lines;
}
} // namespace

TEST(TrendsCliWithMorvaksim, MonitorKeepsValuesAndHistoryPrintsThem)
{
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli", sim = Env("SUITE_BIN_DIR") + "/morvaksim";
    if (access(cli.c_str(), X_OK) != 0 || access(sim.c_str(), X_OK) != 0)
        GTEST_SKIP() << "talvine-cli or morvaksim is missing";
    TempDir scratch("trends-sim");
    const std::filesystem::path& dir = scratch.path;
    std::filesystem::copy_file(Env("SUITE_SOURCE_DIR") + "/data/talvmorv.dsc", dir / "talvmorv.dsc");
    uint32_t host = 0x7F005F21; // 127.0.95.33
    uint16_t snmpPort = testing_child::FreePort(host), tftpPort = testing_child::FreePort(host);
    testing_child::Morvaksim device({ "--port", std::to_string(tftpPort), "--type", "Morvak 5000", "--snmp-port",
        std::to_string(snmpPort), "127.0.95.33" });
    ASSERT_TRUE(device.Ready()) << device.All();
    std::string out;
    std::string monitor = cli + " monitor --dir " + dir.string() + " -p " + std::to_string(snmpPort);
    std::string history = cli + " history --dir " + dir.string() + " 127.0.95.33 ";

    // A first run, killed once its values are on disk: what was written reads back.
    {
        testing_child::Child run(
            { cli, "monitor", "--dir", dir.string(), "-p", std::to_string(snmpPort), "127.0.95.33:private" });
        ASSERT_TRUE(run.WaitFor("Interface:1+1 state=", 30000)) << run.All();
        std::filesystem::path folder = dir / "trends" / "127.0.95.33";
        bool written = false;
        for (int i = 0; i < 200 && !written; ++i) { // the writer writes every five seconds
            written = testing_child::Shell(history + "Uptime", &out) == 0 && Lines(out).size() >= 2;
            if (!written)
                run.WaitFor("never printed", 100);
        }
        ASSERT_TRUE(written) << out;
        run.Stop(SIGKILL);
    }
    // A second run that ends by itself after 14 seconds (the killed run saved no device list).
    ASSERT_EQ(0, testing_child::Shell(monitor + " -t 14 127.0.95.33:private", &out)) << out;

    // The interface's received bytes: a counter, kept as its rate (the simulator counts 250000 a second).
    ASSERT_EQ(0, testing_child::Shell(history + "Interface:1:3", &out)) << out;
    std::vector<std::string> lines = Lines(out);
    int rates = 0, gaps = 0;
    for (const std::string& line : lines) {
        if (line.find("  gap") != std::string::npos) {
            ++gaps;
            continue;
        }
        size_t at = line.find("  ");
        ASSERT_NE(at, std::string::npos) << line;
        double rate = std::atof(line.c_str() + at + 2);
        EXPECT_NEAR(250000, rate, 25000) << line;
        EXPECT_NE(line.find("/s"), std::string::npos) << line;
        ++rates;
    }
    EXPECT_GE(rates, 2) << out;
    EXPECT_EQ(gaps, 2) << "the start of each run\n" << out;

    // The up time in CSV, limited to a window that holds nothing: only the header.
    ASSERT_EQ(0, testing_child::Shell(history + "Uptime --csv --from 2001-01-01 --to 2001-01-02", &out)) << out;
    EXPECT_EQ("time,value,minimum,maximum,samples\r\n", out);
    ASSERT_EQ(0, testing_child::Shell(history + "Uptime --csv --from -1h", &out)) << out;
    lines = Lines(out);
    ASSERT_GE(lines.size(), 4u) << out;
    EXPECT_EQ("time,value,minimum,maximum,samples", lines[0]);
    EXPECT_NE(lines[1].find(",,,,0"), std::string::npos) << "a run starts with a gap\n" << out;
    // An unknown reference names what is kept; bad times are refused.
    EXPECT_EQ(1, testing_child::Shell(history + "Nothing", &out, true));
    EXPECT_NE(out.find("kept: "), std::string::npos) << out;
    EXPECT_NE(out.find("Uptime"), std::string::npos) << out;
    EXPECT_EQ(2, testing_child::Shell(history + "Uptime --from yesterday", &out, true)) << out;
    EXPECT_EQ(2, testing_child::Shell(history + "Uptime --from now --to -1d", &out, true)) << out;
}
