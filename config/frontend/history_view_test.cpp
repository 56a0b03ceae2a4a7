// The window's side of the configuration history: the device list's CSV export, a comparison as list
// rows and as the bounded text of an upload question, what a write changes against the text a device
// sent, and a version saved as the user's file.
#include "common/platform/file.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_pattern.h"
#include "config/frontend/devicetable.h"
#include "config/frontend/history_view.h"
#include "config/frontend/jobs_diff.h"
#include "config/store/cfg_store.h"
#include "device/devicelist.h"
#include "device/devstatus.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#else
#include <process.h>
#define getpid _getpid
#endif

namespace fs = std::filesystem;

namespace {
std::unique_ptr<DeviceEntry> Entry(const char* name, const char* address, const char* description)
{
    auto e = std::make_unique<DeviceEntry>();
    e->name = name;
    e->description = description;
    e->link = LinkIp;
    uint32_t a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(std::sscanf(address, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
    e->address = (a << 24) | (b << 16) | (c << 8) | d;
    return e;
}

TEST(DeviceTable, CsvExportOfTheWholeListWithFoldersAndQuoting)
{
    DeviceList list;
    DeviceEntry* office = list.Add(Entry("office", "127.0.0.5", "ground floor, left"));
    office->device_type = "Morvak 1100";
    office->fw_version = "3.10";
    office->serial_no = "S1";
    office->mac_address = "00a05a010203";
    office->status = DevStatusOk;
    DeviceEntry* quoted
        = list.Add(Entry("say \"hi\"", "127.0.0.6", "two\nlines"), &list.MakeFolder("Customers/Branch"));
    quoted->port = 1069;
    auto dial = std::make_unique<DeviceEntry>();
    dial->name = "remote";
    dial->link = LinkDialUp;
    dial->ras_entry = "Office";
    dial->phone_number = "0301234";
    list.Add(std::move(dial), &list.MakeFolder("Customers"));

    std::string csv = DeviceListCsv(DeviceListRows(list));
    // A folder's devices before its sub-folders'; the top folder is "/"; a device not checked has no
    // status; commas, quotes and line breaks are quoted with inner quotes doubled.
    EXPECT_EQ(csv,
        "name,folder,address,type,firmware,serial number,MAC address,status,description\r\n"
        "office,/,127.0.0.5,Morvak 1100,3.10,S1,00a05a010203,"
            + DevStatusText(DevStatusOk)
            + ",\"ground floor, left\"\r\n"
              "remote,Customers,Office (0301234),,,,,,\r\n"
              "\"say \"\"hi\"\"\",Customers/Branch,127.0.0.6:1069,,,,,,\"two\nlines\"\r\n");
    EXPECT_EQ(DeviceListCsv({}), "name,folder,address,type,firmware,serial number,MAC address,status,description\r\n");
    // The suite's ANSI texts become UTF-8.
    EXPECT_EQ(CsvField("Stra\xDF"
                       "e"),
        "Stra\xC3\x9F"
        "e");
}

// Sections: System with a name, a secret and a switch; TCP/IP with an address and a route table.
CfgDescriptionPtr Description()
{
    auto desc = std::make_unique<CfgDescription>();
    desc->pattern = CfgDeviceKey("Morvak 1100", "3.10");
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
    add(ip, CfgKindEntryIpAddress, "/ip/address", "IP address");
    CfgItem* table = add(ip, CfgKindTable, "/ip/routes", "Routes");
    for (const char* column : { "net", "mask" }) {
        CfgItem* c = CfgAddColumn(table, CfgKindEntryIpAddress);
        c->name = column;
        c->description = CfgArgList::FromTexts({ std::string("Route ") + column });
    }
    table->SetNumber(CfgAttrMaxItems, 8);
    CfgIndexNames(*desc);
    return desc;
}

void Assign(CfgDescription& desc, std::initializer_list<const char*> values)
{
    std::string error;
    for (const char* v : values)
        ASSERT_TRUE(CfgAssign(desc, v, &error)) << v << ": " << error;
}

TEST(HistoryView, ComparisonRowsAndTheBoundedQuestionList)
{
    CfgDescriptionPtr a = Description();
    CfgDescriptionPtr b = Description();
    Assign(*a, { "/sys/name=alpha", "/sys/password=old", "/ip/routes[10.1.0.0].mask=255.255.0.0" });
    Assign(*b,
        { "/sys/name=beta", "/sys/password=new", "/ip/address=127.0.0.5", "/ip/routes[10.2.0.0].mask=255.255.0.0" });
    std::vector<HistChange> changes = HistCompare(*a, *b);
    std::vector<HistChangeRow> rows = HistChangeRows(changes);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_TRUE(rows[0].section);
    EXPECT_EQ(rows[0].item, "System");
    EXPECT_EQ(rows[1].item, "Device name");
    EXPECT_EQ(rows[1].before, "alpha");
    EXPECT_EQ(rows[1].after, "beta");
    // A secret shows no value, only that it changed.
    EXPECT_EQ(rows[2].before, "*");
    EXPECT_EQ(rows[2].after, "(secret value changed)");
    EXPECT_TRUE(rows[3].section);
    EXPECT_EQ(rows[3].item, "TCP/IP");
    EXPECT_EQ(rows[4].before, "0.0.0.0");
    EXPECT_EQ(rows[4].after, "127.0.0.5");
    EXPECT_EQ(rows[5].before, "Route mask: 255.255.0.0");
    EXPECT_EQ(rows[5].after, "(removed)");
    EXPECT_EQ(rows[6].before, "(added)");

    EXPECT_EQ(HistChangesList(changes, 100),
        "[System]\r\n"
        "  Device name: alpha -> beta\r\n"
        "  Password: * -> (secret value changed)\r\n"
        "[TCP/IP]\r\n"
        "  IP address: 0.0.0.0 -> 127.0.0.5\r\n"
        "  Routes [10.1.0.0]: Route mask: 255.255.0.0 -> (removed)\r\n"
        "  Routes [10.2.0.0]: (added) -> Route mask: 255.255.0.0\r\n");
    // Bounded: a section's title is not left without a change below it; what is left out is counted.
    EXPECT_EQ(HistChangesList(changes, 4),
        "[System]\r\n"
        "  Device name: alpha -> beta\r\n"
        "  Password: * -> (secret value changed)\r\n"
        "... further changes: 3\r\n");
    EXPECT_EQ(HistChangesList({}, 4), "No changes.\r\n");
}

TEST(HistoryView, WhatAWriteChangesAgainstTheTextTheDeviceSent)
{
    CfgDescriptionPtr edited = Description();
    CfgTempStream sent;
    ASSERT_EQ(sent.Open(), 1);
    sent.Write("[system]\r\n  /sys/name = office\r\n  /sys/password = s3cret\r\n[ip]\r\n"
               "  /ip/address = 127.0.0.5\r\n");
    sent.Rewind();
    CfgReadFile(sent, *edited);
    // Nothing edited: nothing to write.
    EXPECT_TRUE(HistPendingChanges(*edited, sent, "Morvak 1100", "3.10", 0xFFFFFFFFu).empty());
    // A value the device did not send (the switch) counts as none, not as what the user set.
    Assign(*edited, { "/sys/name=lab", "/sys/password=other", "/sys/snmp=1", "/ip/routes[10.9.0.0].mask=255.255.0.0" });
    std::vector<HistChange> changes = HistPendingChanges(*edited, sent, "Morvak 1100", "3.10", 0xFFFFFFFFu);
    ASSERT_EQ(changes.size(), 4u) << HistChangesText(changes);
    EXPECT_EQ(changes[0].before, "office");
    EXPECT_EQ(changes[0].after, "lab");
    EXPECT_TRUE(changes[1].masked); // the question never shows a secret
    EXPECT_EQ(changes[2].name, "/sys/snmp");
    EXPECT_EQ(changes[3].kind, HistChangeKind::Added);
    // The text stays usable for the write that follows.
    std::string first;
    ASSERT_TRUE(sent.ReadLine(&first));
    EXPECT_EQ(first, "[system]");

    // Entries as a write job has them: the configuration and the text; several under their names.
    DeviceEntry one, two;
    one.name = "one";
    two.name = "two";
    one.device_type = two.device_type = "Morvak 1100";
    one.fw_version = two.fw_version = "3.10";
    one.config = std::move(edited);
    one.config_stream = std::make_shared<CfgTempStream>(std::move(sent));
    EXPECT_EQ(HistWriteChangesText(&one, 2), "[System]\r\n  Device name: office -> lab\r\n... further changes: 3\r\n");
    one.next = &two; // two has no configuration: nothing of it is listed
    EXPECT_EQ(HistWriteChangesText(&one, 40).rfind("one:\r\n[System]\r\n", 0), 0u);
}

struct Scratch {
    std::string path;
    Scratch()
    {
        path = (fs::temp_directory_path() / StrFormat("history_view_test_%d", static_cast<int>(getpid()))).string();
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

TEST(HistoryView, VersionsListedSavedAsAndFoundByTheirDevice)
{
    Scratch root;
    HistSettings settings;
    settings.root = root.path + "/History";
    DeviceEntry e;
    e.name = "office";
    e.serial_no = "S1";
    e.device_type = "Morvak 1100";
    e.fw_version = "3.10";
    CfgDescriptionPtr desc = Description();
    HistVersion kept[2];
    for (int i = 0; i < 2; ++i) {
        CfgTempStream text;
        ASSERT_EQ(text.Open(), 1);
        text.Write(StrFormat("[system]\r\n  /sys/name = v%d\r\n", i));
        text.Rewind();
        ASSERT_EQ(HistKeepText(settings, e, text, desc.get(), i ? "write" : "read", "comment", &kept[i]), 1);
    }
    // Found by the serial number, else by the name the device last had.
    std::string folder = HistFolderOf(settings.root, e);
    EXPECT_EQ(folder, HistDeviceFolder(settings.root, e));
    DeviceEntry unknown;
    unknown.name = "office";
    EXPECT_EQ(HistFolderOf(settings.root, unknown), folder);
    EXPECT_EQ(HistFolderOf("", e), "");

    std::vector<std::string> cells = HistVersionCells(kept[1]);
    ASSERT_EQ(cells.size(), 5u);
    EXPECT_EQ(cells[0], "2");
    EXPECT_EQ(cells[1], HistTimeText(kept[1].time));
    EXPECT_EQ(cells[2], "Written");
    EXPECT_EQ(cells[3], std::to_string(kept[1].size));
    EXPECT_EQ(cells[4], "comment");
    EXPECT_EQ(HistVersionLabel(kept[0]), "1: " + HistTimeText(kept[0].time) + ", Read");
    EXPECT_EQ(HistSourceText("something-new"), "something-new");

    // Save as: the version's file as it is kept; a folder that does not exist fails.
    std::string copy = root.path + "/mine.lcf";
    ASSERT_TRUE(HistSaveVersionAs(kept[0], copy));
    std::string original, saved;
    ASSERT_TRUE(FileReadAll(kept[0].path, &original));
    ASSERT_TRUE(FileReadAll(copy, &saved));
    EXPECT_EQ(saved, original);
    EXPECT_FALSE(HistSaveVersionAs(kept[0], root.path + "/missing/mine.lcf"));
    HistVersion gone = kept[0];
    gone.path = root.path + "/gone.lcf";
    EXPECT_FALSE(HistSaveVersionAs(gone, copy));

    // The same version twice is no comparison; a file that is no configuration says so.
    EXPECT_FALSE(HistCompareVersions(kept[0], kept[0], nullptr, false).error.empty());
    HistVersion foreign = kept[1];
    foreign.path = copy + ".txt";
    ASSERT_TRUE(FileWriteAtomic(foreign.path, "not a configuration\r\n"));
    HistComparison c = HistCompareVersions(foreign, kept[0], nullptr, false);
    EXPECT_NE(c.error.find("not a configuration file"), std::string::npos) << c.error;
    EXPECT_TRUE(c.changes.empty());
}
} // namespace
