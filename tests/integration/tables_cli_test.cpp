// talvine-cli accounting and vpn against morvaksim: generated accounting rows listed, sorted, saved and
// read back, delete with the write and the read community, the VPN table, a silent device, files that are
// no accounting files, the community from the device list.
#include "common/platform/net.h"
#include "monitor/engine/engine.h"
#include "tests/integration/child_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
using testing_child::Env;
using testing_child::FreePort;

using testing_child::TempDir;

using testing_child::Shell;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        lines.push_back(text.substr(at, nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab - at));
        if (tab == std::string::npos)
            return fields;
        at = tab + 1;
    }
}

struct Rig {
    std::string cli = Env("SUITE_BIN_DIR") + "/talvine-cli", sim = Env("SUITE_BIN_DIR") + "/morvaksim";
    TempDir dir { "tables-cli" };
    std::unique_ptr<testing_child::Morvaksim> device;
    std::string address;
    uint16_t port = 0;
    bool present = false, ok = false;

    Rig(uint32_t host, const std::string& type, int rows)
    {
        if (access(cli.c_str(), X_OK) != 0 || access(sim.c_str(), X_OK) != 0)
            return;
        present = true;
        std::filesystem::copy_file(Env("SUITE_SOURCE_DIR") + "/data/talvmorv.dsc", dir.path / "talvmorv.dsc");
        address = NetAddressText(host);
        port = FreePort(host);
        std::vector<std::string> argv { "--port", std::to_string(FreePort(host)), "--type", type, "--snmp-port",
            std::to_string(port) };
        if (rows >= 0) {
            argv.push_back("--accounting-rows");
            argv.push_back(std::to_string(rows));
        }
        argv.push_back(address);
        device = std::make_unique<testing_child::Morvaksim>(argv);
        ok = device->Ready();
    }
    std::string Base(const std::string& command) const
    {
        return cli + " " + command + " --dir " + dir.path.string() + " -p " + std::to_string(port) + " ";
    }
};

TEST(TablesCli, AccountingListSortSaveAndReadBack)
{
    Rig rig(0x7F006101, "Morvak 2400", 25);
    if (!rig.present)
        GTEST_SKIP() << "talvine-cli or morvaksim is missing";
    ASSERT_TRUE(rig.ok) << "morvaksim did not start: " << rig.device->All();
    std::string out, err;
    ASSERT_EQ(Shell(rig.Base("accounting") + rig.address, &out, &err), 0) << err;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 26u) << out;
    EXPECT_EQ(lines[0], "User\tRemote Site\tType\tConnections\tReceived\tTransmitted\tTotal Online Time");
    // Row 1: user1, type 1, received 1048575 + 1 KB, transmitted 1048576 + 2 KB, 37 s, 1 connection.
    EXPECT_EQ(lines[1], "user1\tSite 1\tDial-up (ISDN)\t1\t1,024 MB\t1,025 MB\t37 seconds\t2");
    // Row 2: no user (the identifier), no marker; row 3: LANUSER-user3 shown without the prefix.
    EXPECT_EQ(Fields(lines[2])[0], "0A0000000002");
    EXPECT_EQ(Fields(lines[2]).back(), "14");
    EXPECT_EQ(Fields(lines[3])[0], "user3");
    EXPECT_EQ(Fields(lines[3])[4], "1,025 GB"); // 2^30 + 1 + 3 KB, rounded up
    EXPECT_EQ(Fields(lines[9])[2], "Unknown"); // type 9
    EXPECT_EQ(Fields(lines[4])[1], ""); // row 4: no remote site

    // Sorted by connections (column 4) as numbers: 1, 2, ..., 25.
    ASSERT_EQ(Shell(rig.Base("accounting") + "--sort 4 " + rig.address, &out), 0);
    lines = Lines(out);
    for (size_t i = 1; i < lines.size(); ++i)
        EXPECT_EQ(Fields(lines[i])[3], std::to_string(i));
    EXPECT_EQ(Shell(rig.Base("accounting") + "--sort 8 " + rig.address, &out), 2);

    // Saved and read back: the same list, also the rows without a remote site or user.
    std::string file = (rig.dir.path / "saved.acc").string();
    ASSERT_EQ(Shell(rig.Base("accounting") + "--save " + file + " " + rig.address, &out), 0);
    std::string back;
    ASSERT_EQ(Shell(rig.cli + " accounting --file " + file, &back, &err), 0) << err;
    EXPECT_EQ(back, out);
    ASSERT_EQ(Shell(rig.cli + " accounting --lang Deutsch --sort 1 --file " + file, &back), 0);
    EXPECT_EQ(Lines(back)[0].substr(0, 9), "Benutzer\t");
    // The German type name in UTF-8 for the terminal, not as its Windows-1252 bytes.
    EXPECT_NE(back.find("\tW\xC3\xA4hlverbindung (ISDN)\t"), std::string::npos) << back;

    std::ofstream(rig.dir.path / "not.acc") << "SomethingElse;3.00.0000\r\n";
    EXPECT_EQ(Shell(rig.cli + " accounting --file " + (rig.dir.path / "not.acc").string(), &out, &err), 1);
    EXPECT_NE(err.find("is not an accounting file"), std::string::npos) << err;
    EXPECT_EQ(out, "");
}

TEST(TablesCli, DeleteWithReadAndWriteCommunity)
{
    Rig rig(0x7F006102, "Morvak 1100", -1);
    if (!rig.present)
        GTEST_SKIP() << "talvine-cli or morvaksim is missing";
    ASSERT_TRUE(rig.ok) << "morvaksim did not start: " << rig.device->All();
    std::string out, err;
    EXPECT_EQ(Shell(rig.Base("accounting") + "--delete -c public " + rig.address, &out, &err), 1);
    EXPECT_EQ(err, "The accounting data can't be deleted.\n\nProbably you used the wrong password.\n");
    EXPECT_EQ(Lines(out).size(), 4u) << "the rows stay";

    // The community of the device list: the write community, so the delete succeeds.
    EngineListLine line;
    line.type = "Morvak 1100";
    line.address = rig.address;
    line.community = "private";
    std::ofstream(rig.dir.path / "talvine.lst") << EngineFormatListLine(line) << "\r\n";
    EXPECT_EQ(Shell(rig.Base("accounting") + "--delete " + rig.address, &out, &err), 0) << err;
    EXPECT_EQ(Lines(out).size(), 1u) << "the title line only: " << out;

    // A type without the vpn plugin.
    EXPECT_EQ(Shell(rig.Base("vpn") + rig.address, &out, &err), 1);
    EXPECT_NE(err.find("has no vpn plugin"), std::string::npos) << err;
}

TEST(TablesCli, VpnTableAndSilentDevice)
{
    Rig rig(0x7F006103, "Morvak 5000", -1);
    if (!rig.present)
        GTEST_SKIP() << "talvine-cli or morvaksim is missing";
    ASSERT_TRUE(rig.ok) << "morvaksim did not start: " << rig.device->All();
    std::string out, err;
    ASSERT_EQ(Shell(rig.Base("vpn") + "--sort 1 " + rig.address, &out, &err), 0) << err;
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_EQ(
        lines[0], "Name\tState\tShort Hold\tConnection\tGateway\tEncryption Algorithm\tHmac Algorithm\tHash Algorithm");
    EXPECT_EQ(lines[2],
        "Warehouse\tIncoming call\t120 seconds\t203.0.113.7\t203.0.113.254\t3DES (168 bit)\tHMAC-MD5 (128 bit)\t"
        "MD5 (128 bit)\t26");
    EXPECT_EQ(Fields(lines[1])[0], "HQ");

    // Nobody answers at .9: the title line and exit 1 after the attempts (-t 1: 10 x 100 ms).
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Shell(rig.Base("vpn") + "-t 1 127.0.97.9", &out, &err), 1);
    EXPECT_EQ(Lines(out).size(), 1u) << out;
    EXPECT_NE(err.find("no answer"), std::string::npos) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    // With the type given, the walk itself finds no answer.
    EXPECT_EQ(Shell(rig.Base("accounting") + "-t 1 --type \"Morvak 5000\" 127.0.97.9", &out, &err), 1);
    EXPECT_EQ(Lines(out).size(), 1u) << out;
    // A folder without the object-tree script: said so at once, not blamed on the device that answers.
    TempDir empty { "tables-empty" };
    EXPECT_EQ(
        Shell(rig.cli + " vpn --dir " + empty.path.string() + " -p " + std::to_string(rig.port) + " " + rig.address,
            &out, &err),
        1);
    EXPECT_NE(err.find("no object-tree script (talv*.dsc) in " + empty.path.string()), std::string::npos) << err;
}

} // namespace
