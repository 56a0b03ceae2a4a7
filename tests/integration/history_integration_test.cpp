// The configuration history of qorvexal-cli against morvaksim on loopback: versions appear after a
// read, a write and a wizard, a device that moved to another address (and took another name) keeps
// its history, versions compare item by item and go back through the restore job, the JSON outputs
// parse, and a qorvexal-cli killed while it writes leaves no broken version.
#include "common/platform/file.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "tests/integration/cli_sim_fixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
namespace fs = std::filesystem;

using testing_child::Bin;
using testing_child::FreePort;

using testing_child::Shell;

// Runs a Python expression over the JSON that `command` prints (bound to `d`); its printed result.
std::string Json(const std::string& command, const std::string& expression, int* rc = nullptr)
{
    std::string out, err;
    int code = Shell(
        command + " | python3 -c 'import json,sys; d=json.load(sys.stdin); print(" + expression + ")'", &out, &err);
    if (rc)
        *rc = code;
    EXPECT_EQ(code, 0) << command << "\n" << err;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

class HistoryAgainstMorvaksim : public CliAgainstMorvaksim {
protected:
    HistoryAgainstMorvaksim()
        : CliAgainstMorvaksim(0x7f003101, "hist-it", 300)
    {
    }
    // "source,source,..." of the device's versions, oldest first.
    std::string Sources(const std::string& device)
    {
        return Json(cli + " history --json " + device, "\",\".join(v[\"source\"] for v in d[\"versions\"])");
    }
};

TEST_F(HistoryAgainstMorvaksim, ReadWriteWizardMoveCompareRestore)
{
    std::string out, err;
    // A read keeps the configuration as version 1 in the device's folder beside the settings file.
    ASSERT_EQ(Shell(cli + " read " + Device("127.0.49.2") + " " + dir + "/r.txt", &out, &err), 0) << err;
    EXPECT_EQ(Sources(Device("127.0.49.2")), "read");
    std::string folder = Json(cli + " history --json " + Device("127.0.49.2"), "d[\"device\"][\"folder\"]");
    EXPECT_EQ(fs::path(folder).parent_path().string(), dir + "/History");
    EXPECT_EQ(fs::path(folder).filename().string().rfind("SN-", 0), 0u) << folder;

    // A change: set reads, then writes; both are kept.
    ASSERT_EQ(Shell(cli + " set " + Device("127.0.49.2") + " /sys/location=Lab /sys/password=pw2", &out, &err), 0)
        << err;
    EXPECT_EQ(Sources(Device("127.0.49.2")), "read,read,write");
    // The version file is a configuration file with the secret scrambled.
    std::string written;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().find("_write.lcf") != std::string::npos) {
            ASSERT_EQ(FileReadAll(entry.path().string(), &written), 1);
        }
    }
    EXPECT_NE(written.find("/sys/password == "), std::string::npos) << written;
    EXPECT_EQ(written.find("pw2"), std::string::npos);
    CfgFileHeader header;
    EXPECT_TRUE(CfgParseFileHeader(written, &header));

    // Versions compare per item in the description's labels, by section; the secret is masked unless asked.
    ASSERT_EQ(Shell(cli + " diff -p pw2 --from 1 --to 3 " + Device("127.0.49.2"), &out, &err), 0) << err;
    EXPECT_EQ(
        out, "version 1 -> version 3\n[System]\n  Location: (none) -> Lab\n  Configuration password: (none) -> *\n");
    EXPECT_EQ(Json(cli + " diff -p pw2 --from 1 --to 3 --unmasked --json " + Device("127.0.49.2"),
                  "[(c[\"label\"], c[\"kind\"], c[\"after\"], c[\"secret\"]) for c in d[\"changes\"]]"),
        "[('Location', 'changed', 'Lab', False), ('Configuration password', 'changed', 'pw2', True)]");
    // Against the device now (a read, kept as well).
    EXPECT_EQ(Json(cli + " diff -p pw2 --from 3 --json " + Device("127.0.49.2"), "d[\"to\"], len(d[\"changes\"])"),
        "device 0");

    // Back to version 1 through the restore job; the device then equals version 1.
    ASSERT_EQ(Shell(cli + " restore -p pw2 --version 1 " + Device("127.0.49.2"), &out, &err), 0) << err;
    EXPECT_NE(out.find("restored"), std::string::npos) << out;
    EXPECT_EQ(Sources(Device("127.0.49.2")), "read,read,write,read,read,restore");
    ASSERT_EQ(Shell(cli + " diff --from 1 " + Device("127.0.49.2"), &out, &err), 0) << err;
    EXPECT_EQ(out, "version 1 -> device\nno changes\n");
    EXPECT_EQ(Shell(cli + " restore --version 99 " + Device("127.0.49.2"), &out, &err), 1);
    EXPECT_NE(err.find("no version 99"), std::string::npos) << err;

    // The wizard on the unconfigured device moves it to another address under another name; its
    // history follows it (found by serial number), and by the new name in the device list as well.
    ASSERT_EQ(Shell(cli + " wizard run --answer name=office --answer password=pw1 --answer address=127.0.49.9"
                      + " --answer netmask=255.255.255.0 " + Device("127.0.49.1"),
                  &out, &err),
        0)
        << out << err;
    EXPECT_EQ(Sources(Device("127.0.49.9")), "read-wizard,wizard");
    ASSERT_EQ(Shell(cli + " read -p pw1 " + Device("127.0.49.9") + " " + dir + "/moved.txt", &out, &err), 0) << err;
    EXPECT_EQ(Sources(Device("127.0.49.9")), "read-wizard,wizard,read");
    ASSERT_EQ(Shell(cli + " add office " + Device("127.0.49.9") + " --password pw1", &out, &err), 0) << err;
    EXPECT_EQ(Sources("office"), "read-wizard,wizard,read");
    EXPECT_NE(Json(cli + " history --json office", "d[\"device\"][\"key\"]"),
        Json(cli + " history --json " + Device("127.0.49.2"), "d[\"device\"][\"key\"]"));

    // The text listing: a header and a line per version.
    ASSERT_EQ(Shell(cli + " history office", &out, &err), 0) << err;
    EXPECT_EQ(out.rfind("VERSION  TIME (UTC)", 0), 0u) << out;
    EXPECT_NE(out.find("      3  "), std::string::npos) << out;

    // Machine-readable lists: list --json / --csv (checked: type, serial number, status), check --json.
    EXPECT_EQ(Json(cli + " list --json --check", "[(x[\"name\"], x[\"status\"], x[\"type\"]) for x in d[\"devices\"]]"),
        "[('office', 'Ok', 'Morvak 1100')]");
    ASSERT_EQ(Shell(cli + " list --csv", &out, &err), 0) << err;
    EXPECT_EQ(out.substr(0, out.find('\n') + 1),
        "name,folder,address,type,firmware,serial number,MAC address,status,"
        "description\r\n");
    EXPECT_EQ(Json(cli + " check --json office " + Device("127.0.49.2"),
                  "[(x[\"status_code\"], x[\"serial\"] != \"\") for x in d[\"devices\"]], d[\"failed\"]"),
        "[(110, True), (110, True)] 0");

    // A device that does not answer is found by the name and the address it last had.
    sim.reset();
    EXPECT_EQ(Json(cli + " history -t 1 --json office", "len(d[\"versions\"])"), "3");
    EXPECT_EQ(Json(cli + " history -t 1 --json " + Device("127.0.49.9"), "len(d[\"versions\"])"), "3");
}

// A qorvexal-cli killed while it keeps versions leaves only whole ones: every listed version is a
// configuration file that reads to its end.
TEST_F(HistoryAgainstMorvaksim, KilledWriteLeavesNoBrokenVersion)
{
    std::string out, err;
    // Every file under the history folder.
    auto Files = [&] {
        size_t n = 0;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(dir + "/History", ec), end; !ec && it != end; it.increment(ec))
            ++n;
        return n;
    };
    for (int round = 0; round < 3; ++round) {
        size_t before = Files();
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string command
                = cli + " set " + Device("127.0.49.2") + StrFormat(" /sys/location=R%d", round) + " > /dev/null 2>&1";
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Killed once a file of a new version appears, whole or not yet renamed (bounded: 30 s).
        bool seen = false;
        for (int i = 0; i < 3000 && !seen; ++i) {
            seen = Files() > before;
            if (!seen)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(seen);
    }
    // Every kill may have hit before a rename, so one write runs to its end: the folder the killed runs
    // left behind must not stop it from keeping its version.
    ASSERT_EQ(Shell(cli + " set " + Device("127.0.49.2") + " /sys/location=whole", &out, &err), 0) << err;
    std::string listing = Json(cli + " history --json " + Device("127.0.49.2"), "len(d[\"versions\"])");
    EXPECT_GE(std::stoi(listing), 1);
    std::string folder = Json(cli + " history --json " + Device("127.0.49.2"), "d[\"device\"][\"folder\"]");
    for (const auto& entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".lcf")
            continue;
        std::string data;
        ASSERT_EQ(FileReadAll(entry.path().string(), &data), 1);
        CfgFileHeader header;
        EXPECT_TRUE(CfgParseFileHeader(data, &header)) << name;
        EXPECT_NE(data.find("/sys/name = "), std::string::npos) << name;
        EXPECT_TRUE(data.size() > 2 && data.compare(data.size() - 2, 2, "\r\n") == 0) << name;
    }
}
} // namespace
