// The configuration history: versions kept per device key, numbered, bounded, written whole (also
// when the writer is killed), and the comparison of two configurations in labels and display texts.
#include "common/platform/file.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/frontend/history.h"
#include "config/frontend/history_diff.h"
#include "config/frontend/jobs_diff.h"
#include "config/store/cfg_store.h"
#include "device/deviceentry.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#else
#include <process.h>
#define getpid _getpid
#endif

namespace fs = std::filesystem;

namespace {
struct TempRoot {
    std::string path;
    explicit TempRoot(const char* name)
    {
        path = (fs::temp_directory_path() / StrFormat("history_test_%d_%s", static_cast<int>(getpid()), name)).string();
        fs::remove_all(path);
    }
    ~TempRoot()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

CfgTempStream Text(const std::string& body)
{
    CfgTempStream s;
    EXPECT_EQ(s.Open(), 1);
    s.Write(body);
    s.Rewind();
    return s;
}

DeviceEntry Device(const char* serial, const char* mac)
{
    DeviceEntry e;
    e.serial_no = serial;
    e.mac_address = mac;
    e.name = "office";
    e.device_type = "Morvak 1100";
    e.fw_version = "3.10";
    return e;
}

TEST(HistoryStore, VersionsPerDeviceKeyNumberedAndBounded)
{
    TempRoot root("keys");
    HistSettings s;
    s.root = root.path;
    s.maxVersions = 3;

    // Serial number first, then the MAC address; characters unsafe in file names become "_".
    struct {
        const char* serial;
        const char* mac;
        const char* key;
    } keys[] = {
        { "S/1 2", "00A05A010203", "SN-S_1_2" },
        { "", "00A05A010203", "MAC-00a05a010203" },
        { " ", "", "" },
    };
    for (const auto& k : keys)
        EXPECT_EQ(HistDeviceKey(Device(k.serial, k.mac)), k.key) << k.serial << "/" << k.mac;

    DeviceEntry anonymous = Device("", "");
    CfgTempStream t0 = Text("[ip]\r\n  /ip/address = 10.0.0.1\r\n");
    EXPECT_EQ(HistKeepText(s, anonymous, t0, nullptr, "read", "c"), 0);
    EXPECT_FALSE(fs::exists(root.path + "/SN-"));

    DeviceEntry e = Device("M1100000001", "00a05a000001");
    for (int i = 1; i <= 5; ++i) {
        CfgTempStream t = Text(StrFormat("[ip]\r\n  /ip/address = 10.0.0.%d\r\n", i));
        HistVersion kept;
        ASSERT_EQ(HistKeepText(s, e, t, nullptr, i % 2 ? "read" : "write", StrFormat("version %d", i), &kept), 1);
        EXPECT_EQ(kept.number, static_cast<uint32_t>(i));
        EXPECT_EQ(kept.comment, StrFormat("version %d", i));
        // A kept version is a configuration file of the device.
        CfgFileHeader header;
        ASSERT_TRUE(CfgReadFileHeader(kept.path, &header));
        EXPECT_EQ(header.deviceType, "Morvak 1100");
        EXPECT_EQ(header.version, "3.10");
        EXPECT_NE(CfgImportFile(kept.path).Contents().find(StrFormat("10.0.0.%d", i)), std::string::npos);
    }
    std::string folder = HistDeviceFolder(root.path, e);
    EXPECT_EQ(fs::path(folder).filename().string(), "SN-M1100000001");
    std::vector<HistVersion> versions = HistList(folder);
    ASSERT_EQ(versions.size(), 3u); // the newest three
    EXPECT_EQ(versions[0].number, 3u);
    EXPECT_EQ(versions[2].number, 5u);
    EXPECT_EQ(versions[1].source, "write");
    EXPECT_EQ(versions[2].comment, "version 5");
    EXPECT_EQ(versions[2].size, fs::file_size(versions[2].path));
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_LE(std::abs(versions[2].time - now), 5);
    EXPECT_FALSE(HistFind(folder, 2));
    ASSERT_TRUE(HistFind(folder, 4));
    EXPECT_EQ(HistFind(folder, 4)->comment, "version 4");

    // A size limit below two versions keeps only the newest; numbers go on from there.
    s.maxBytes = versions[2].size + 1;
    CfgTempStream t6 = Text("[ip]\r\n  /ip/address = 10.0.0.6\r\n");
    ASSERT_EQ(HistKeepText(s, e, t6, nullptr, "backup", "six"), 1);
    versions = HistList(folder);
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].number, 6u);
    EXPECT_EQ(versions[0].source, "backup");

    // A copied file keeps its own header.
    std::string user = root.path + "/user.lcf";
    ASSERT_EQ(FileWriteAtomic(user,
                  CfgFileHeaderText("by hand", "Morvak 1100", "3.10", 0xFFFFFFFFu, 0) + "  /ip/address = 10.0.0.7\r\n"),
        1);
    HistVersion copied;
    ASSERT_EQ(HistKeepFile(s, e, user, "restore", &copied), 1);
    EXPECT_EQ(copied.number, 7u);
    EXPECT_EQ(copied.comment, "by hand");
    EXPECT_TRUE(fs::exists(user)); // the user's file stays as it was
}

TEST(HistoryStore, NamesTimesAndForeignFiles)
{
    struct {
        int64_t time;
        const char* iso;
    } rows[] = {
        { 0, "1970-01-01T00:00:00Z" },
        { 951782400, "2000-02-29T00:00:00Z" },
        { 4102444799, "2099-12-31T23:59:59Z" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(HistTimeIso(row.time), row.iso);
    EXPECT_EQ(HistTimeText(951782400 + 3661), "2000-02-29 01:01:01");

    TempRoot root("names");
    fs::create_directories(root.path);
    auto touch = [&](const std::string& name) { ASSERT_EQ(FileWriteAtomic(root.path + "/" + name, "(x)\r\n"), 1); };
    touch("000002_20000229-010101_write.lcf");
    touch("000010_20991231-235959_read-wizard.lcf");
    // Not versions: a writer's temporary file, other names, a bad date, number 0.
    for (const char* name : { "000003_20000229-010101_write.lcf.~99999-1", "notes.txt", "x_20000229-010101_read.lcf",
             "000004_20001329-010101_read.lcf", "000000_20000229-010101_read.lcf", "000005_20000229-010101_.lcf",
             "000006_20000229-0101_read.lcf", "000007_20010229-000000_read.lcf", "000008_19000229-000000_read.lcf",
             "000009_20000431-000000_read.lcf", "000011_20000101-000060_read.lcf" })
        touch(name);
    std::vector<HistVersion> versions = HistList(root.path);
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].number, 2u);
    EXPECT_EQ(versions[0].time, 951782400 + 3661);
    EXPECT_EQ(versions[0].comment, "x");
    EXPECT_EQ(versions[1].number, 10u);
    EXPECT_EQ(versions[1].source, "read-wizard");
    EXPECT_EQ(versions[1].time, 4102444799);
}

#ifndef _WIN32
// A writer killed in the middle of keeping versions leaves only complete versions; its temporary
// file is no version and goes once it is old.
TEST(HistoryStore, KilledWriterLeavesNoBrokenVersion)
{
    TempRoot root("killed");
    HistSettings s;
    s.root = root.path;
    s.maxVersions = 1000;
    DeviceEntry e = Device("K1", "");
    std::string body = "[big]\r\n";
    for (int i = 0; i < 40000; ++i)
        body += StrFormat("  /big/item%05d = value %05d\r\n", i, i);
    body += "  /big/last = end\r\n";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CfgTempStream t = Text(body);
        for (;;)
            HistKeepText(s, e, t, nullptr, "write", "loop");
    }
    std::string folder = HistDeviceFolder(root.path, e);
    // Kill it once it has written a few versions (bounded: 20 s).
    bool enough = false;
    for (int i = 0; i < 2000 && !enough; ++i) {
        enough = HistList(folder, false).size() >= 3;
        if (!enough)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(enough);
    std::vector<HistVersion> versions = HistList(folder);
    ASSERT_GE(versions.size(), 3u);
    for (const HistVersion& v : versions) {
        std::string data;
        ASSERT_EQ(FileReadAll(v.path, &data), 1);
        EXPECT_EQ(data.size(), versions[0].size) << v.path;
        const std::string last = "  /big/last = end\r\n";
        EXPECT_TRUE(data.size() > last.size() && data.compare(data.size() - last.size(), last.size(), last) == 0)
            << v.path;
    }
    // Leftover temporary files: not listed; removed by the next keep once older than an hour.
    std::vector<fs::path> temps;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".lcf.~") != std::string::npos)
            temps.push_back(entry.path());
    fs::path planted = fs::path(folder) / "000999_20000101-000000_write.lcf.~1-1";
    ASSERT_EQ(FileWriteAtomic(planted.string(), "(half"), 1);
    temps.push_back(planted);
    for (const fs::path& p : temps)
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(2));
    CfgTempStream t = Text("[ip]\r\n");
    ASSERT_EQ(HistKeepText(s, e, t, nullptr, "read", "after"), 1);
    for (const fs::path& p : temps)
        EXPECT_FALSE(fs::exists(p)) << p;
    EXPECT_EQ(HistList(folder).back().number, versions.back().number + 1);
}

#endif

// A description with labels: a name, a secret, an address, a switch, a choice and a route table.
CfgDescriptionPtr MakeDescription()
{
    auto desc = std::make_unique<CfgDescription>();
    CfgSection* sys = desc->AddSection("system", std::string("System"));
    CfgSection* ip = desc->AddSection("ip", std::string("TCP/IP"));
    auto add = [&](CfgSection* s, uint32_t kind, const char* name, const char* label) {
        CfgItem* item = CfgAddItem(s, kind);
        item->name = name;
        item->description = CfgArgList::FromTexts({ label });
        return item;
    };
    add(sys, CfgKindEntryText, "/sys/name", "Device name");
    add(sys, CfgKindEntryText, "/sys/password", "Password")->SetNumber(CfgAttrHidden, 1);
    add(sys, CfgKindOnOff, "/sys/snmp", "SNMP agent");
    CfgItem* dst = add(sys, CfgKindSelectionList, "/time/dst", "Daylight saving");
    dst->SetList(CfgAttrItemValue, CfgArgList::FromTexts({ "0", "1" }));
    dst->SetList(CfgAttrItemText, CfgArgList::FromTexts({ "None", "Europe" }));
    add(ip, CfgKindEntryIpAddress, "/ip/address", "IP address");
    CfgItem* table = add(ip, CfgKindTable, "/ip/routes", "Routes");
    for (const char* column : { "net", "mask", "router" }) {
        CfgItem* c = CfgAddColumn(table, CfgKindEntryIpAddress);
        c->name = column;
        c->description = CfgArgList::FromTexts({ std::string("Route ") + column });
    }
    table->SetNumber(CfgAttrMaxItems, 8);
    CfgIndexNames(*desc);
    return desc;
}

TEST(HistoryDiff, LabelsDisplayTextsSectionsAndSecrets)
{
    CfgDescriptionPtr a = MakeDescription();
    CfgDescriptionPtr b = MakeDescription();
    std::string error;
    for (const char* both : { "/sys/name=alpha", "/ip/routes[10.0.0.0].mask=255.0.0.0", "/sys/password=same",
             "/ip/routes[10.3.0.0].mask=255.255.0.0" }) {
        ASSERT_TRUE(CfgAssign(*a, both, &error)) << error;
        ASSERT_TRUE(CfgAssign(*b, both, &error)) << error;
    }
    for (const char* only : { "/ip/routes[10.1.0.0].mask=255.255.0.0", "/time/dst=0", "/sys/snmp=0" })
        ASSERT_TRUE(CfgAssign(*a, only, &error)) << error;
    for (const char* only : { "/sys/name=beta", "/sys/password=s3cret", "/ip/routes[10.0.0.0].router=10.0.0.1",
             "/ip/routes[10.2.0.0].mask=255.255.0.0", "/time/dst=1", "/sys/snmp=1", "/ip/address=127.0.0.5" })
        ASSERT_TRUE(CfgAssign(*b, only, &error)) << error;

    std::vector<HistChange> changes = HistCompare(*a, *b);
    EXPECT_EQ(HistChangesText(changes),
        "[System]\n"
        "  Device name: alpha -> beta\n"
        "  Password: (secret value changed)\n"
        "  SNMP agent: Off -> On\n"
        "  Daylight saving: None -> Europe\n"
        "[TCP/IP]\n"
        "  IP address: 0.0.0.0 -> 127.0.0.5\n"
        "  Routes [10.0.0.0] Route router: 0.0.0.0 -> 10.0.0.1\n"
        "  Routes [10.1.0.0]: removed (Route mask: 255.255.0.0)\n"
        "  Routes [10.2.0.0]: added (Route mask: 255.255.0.0)\n");
    EXPECT_EQ(changes[2].name, "/sys/snmp");
    EXPECT_EQ(changes[5].name, "/ip/routes[10.0.0.0].router");
    EXPECT_EQ(changes[6].kind, HistChangeKind::Removed);
    EXPECT_EQ(changes[7].kind, HistChangeKind::Added);

    // Asked for, secrets show; the same configuration has no changes.
    HistDiffOptions shown;
    shown.maskSecrets = false;
    std::vector<HistChange> open = HistCompare(*a, *b, shown);
    ASSERT_GE(open.size(), 2u);
    EXPECT_EQ(open[1].before, "same");
    EXPECT_EQ(open[1].after, "s3cret");
    EXPECT_TRUE(open[1].secret);
    EXPECT_EQ(HistChangesText(HistCompare(*b, *b)), "no changes\n");
}

// Large tables compare in linear time: 20,000 rows, every tenth changed.
TEST(HistoryDiff, LargeTables)
{
    CfgDescriptionPtr a = MakeDescription();
    CfgDescriptionPtr b = MakeDescription();
    CfgItem* ta = const_cast<CfgItem*>(CfgFindItem(*a, "/ip/routes"));
    CfgItem* tb = const_cast<CfgItem*>(CfgFindItem(*b, "/ip/routes"));
    for (int i = 0; i < 20000; ++i) {
        std::string key = StrFormat("10.%d.%d.0", i / 256, i % 256);
        CfgRow& ra = ta->rows.emplace_back();
        CfgRow& rb = tb->rows.emplace_back();
        ra.cells[0] = rb.cells[0] = key;
        ra.cells[1] = "255.255.255.0";
        rb.cells[1] = i % 10 ? "255.255.255.0" : "255.255.0.0";
    }
    auto start = std::chrono::steady_clock::now();
    std::vector<HistChange> changes = HistCompare(*a, *b);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(changes.size(), 2000u);
    EXPECT_LT(seconds, 2.0);
}
} // namespace
