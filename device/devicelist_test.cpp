#include "common/ini.h"
#include "common/platform/file.h"
#include "common/scramble.h"
#include "device/devicelist.h"
#include "device/mru.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string TempDir()
{
    static int n = 0;
    std::filesystem::path dir = std::filesystem::temp_directory_path()
        / ("dlist_test_" + std::to_string(static_cast<long>(::testing::UnitTest::GetInstance()->random_seed())) + "_"
            + std::to_string(n++) + "_" + std::to_string(reinterpret_cast<uintptr_t>(&n) & 0xffff));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

DeviceEntry IpEntry(uint32_t ip, uint16_t port, int timeout, const char* password)
{
    DeviceEntry e;
    e.link = LinkIp;
    e.address = ip;
    e.port = port;
    e.timeout_s = timeout;
    e.password = password;
    return e;
}

TEST(DeviceParameters, WrittenForm)
{
    DeviceEntry ras;
    ras.link = LinkDialUp;
    ras.local = 0;
    ras.ras_entry = "Office";
    ras.phone_number = "0301234";
    ras.ras_idle_s = 20;
    DeviceEntry com;
    com.link = LinkSerial;
    com.local = 1;
    com.line_name = "COM2";
    DeviceEntry unsaved = IpEntry(0x0a000001, 0, 5, "secret");
    unsaved.password_unsaved = 1;
    struct Row {
        const char* what;
        DeviceEntry entry;
        std::string text;
    };
    const Row rows[] = {
        { "port 0", IpEntry(0xc0a80101, 0, 10, ""), "0;;IP;192.168.1.1;10;" },
        { "port 8069", IpEntry(0xc0a80101, 8069, 10, ""), "0;;IP;192.168.1.1:8069;10;" },
        { "password abc", IpEntry(0xc0a80101, 0, 3, "abc"), "0;" + CfgScramble("abc") + ";IP;192.168.1.1;3;" },
        { "unsaved password", unsaved, "0;;IP;10.0.0.1;5;" },
        { "dial-up", ras, "0;;RAS;Office;0301234;20;" },
        { "serial", com, "1;;COM;COM2;" },
    };
    for (const Row& r : rows) {
        EXPECT_EQ(DeviceParameters(r.entry), r.text) << r.what;
        // And back: the stored fields read as they were written.
        DeviceEntry back;
        DeviceParseParameters(r.text, back);
        EXPECT_EQ(DeviceParameters(back), r.text) << r.what;
        EXPECT_EQ(back.link, r.entry.link) << r.what;
        if (!r.entry.password_unsaved) {
            EXPECT_EQ(back.password.str(), r.entry.password.str()) << r.what;
        }
    }
}

TEST(DeviceParameters, ScrambledPassword)
{
    std::string s = CfgScramble("abc");
    EXPECT_EQ(s.size(), 6u);
    EXPECT_EQ(s.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(CfgUnscramble(s), "abc");
}

TEST(DeviceParameters, ReadingKeepsDefaultsForEmptyFields)
{
    struct Row {
        const char* text;
        int32_t link;
        uint32_t address;
        uint16_t port;
        int32_t timeout;
        int32_t local;
    };
    const Row rows[] = {
        { "1;;IP;;;", LinkIp, 0, 0, 10, 1 },
        { ";;IP;10.1.2.3;;", LinkIp, 0x0a010203, 0, 10, 0 },
        { "0;;IP;10.1.2.3:8069;7;", LinkIp, 0x0a010203, 8069, 7, 0 },
        { "0;;ip;10.1.2.3;7;", LinkIp, 0, 0, 10, 0 }, // kinds are matched in upper case only
        { "0;;XYZ;10.1.2.3;7;", LinkIp, 0, 0, 10, 0 },
        { "0;;IP;not-an-address;7;", LinkIp, 0, 0, 7, 0 },
        { "0;;COM;;", LinkSerial, 0, 0, 10, 0 },
        { "0", LinkIp, 0, 0, 10, 0 },
    };
    for (const Row& r : rows) {
        DeviceEntry e;
        DeviceParseParameters(r.text, e);
        EXPECT_EQ(e.link, r.link) << r.text;
        EXPECT_EQ(e.address, r.address) << r.text;
        EXPECT_EQ(e.port, r.port) << r.text;
        EXPECT_EQ(e.timeout_s, r.timeout) << r.text;
        EXPECT_EQ(e.local, r.local) << r.text;
    }
}

TEST(DeviceList, FoldersAreStoredInTheirSections)
{
    DeviceList list;
    auto e = std::make_unique<DeviceEntry>(IpEntry(0xc0a80102, 0, 10, "pw"));
    e->name = "inner";
    e->description = "line one\r\nline two";
    list.Add(std::move(e), &list.MakeFolder("B/A"));
    auto r = std::make_unique<DeviceEntry>(IpEntry(0xc0a80103, 8069, 10, ""));
    r->name = "top";
    list.Add(std::move(r));
    list.current_folder = "B/A";
    list.MakeFolder("B/Empty");
    list.MakeFolder("C");

    IniFile ini;
    ini.Parse("[Options]\r\nSearchAtStartup=0\r\n[DeviceList/"
              "Old]\r\nCount=1\r\n1_Name=gone\r\n1_Parameters=0;;IP;1.2.3.4;10;\r\n");
    DeviceListStore(list, ini);
    EXPECT_EQ(ini.GetString("DeviceList/B/A", "1_Name", ""), "inner");
    EXPECT_EQ(ini.GetString("DeviceList/B/A", "1_Description", ""), "line one  line two");
    EXPECT_EQ(ini.GetString("DeviceList", "1_Parameters", ""), "0;;IP;192.168.1.3:8069;10;");
    EXPECT_EQ(ini.GetString("Options", "CurrentFolder", "?"), "B/A");
    EXPECT_EQ(ini.GetString("Options", "SearchAtStartup", ""), "0");
    EXPECT_FALSE(ini.HasSection("DeviceList/Old"));
    // A folder whose sub-folders have sections needs none; empty folders keep theirs, in order.
    EXPECT_FALSE(ini.HasSection("DeviceList/B"));
    EXPECT_EQ(ini.GetString("DeviceList/B/Empty", "Count", ""), "0");
    EXPECT_EQ(ini.GetString("DeviceList/C", "Count", ""), "0");

    DeviceList back;
    EXPECT_EQ(DeviceListLoad(back, ini), 2);
    ASSERT_NE(back.FindFolder("b/a"), nullptr);
    ASSERT_EQ(back.FindFolder("B")->folders.size(), 2u);
    EXPECT_EQ(back.FindFolder("B")->folders[1]->name, "Empty");
    EXPECT_TRUE(back.FindFolder("B/Empty")->entries.empty());
    ASSERT_EQ(back.Root().folders.size(), 2u);
    EXPECT_EQ(back.Root().folders[1]->name, "C");
    EXPECT_EQ(back.FindFolder("B/A")->entries.at(0)->password.str(), "pw");
    EXPECT_EQ(back.current_folder, "B/A");
}

TEST(DeviceList, LoadingRules)
{
    IniFile ini;
    ini.Parse("[devicelist/b/a]\r\nCount=2\r\n1_Name=lower\r\n1_Parameters=0;;IP;10.0.0.1;10;\r\n"
              "2_Name=\r\n2_Parameters=0;;IP;10.0.0.2;10;\r\n"
              "[DeviceList/B]\r\nCount=1\r\n1_Name=parent\r\n1_Parameters=0;;IP;10.0.0.9;10;\r\n"
              "[DeviceList]\r\nCount=99999999\r\n1_Name=no-params\r\n3_Name=third\r\n3_Parameters=1;;COM;COM1;\r\n"
              "[DeviceListing]\r\nCount=1\r\n1_Name=other\r\n1_Parameters=0;;IP;10.0.0.3;10;\r\n"
              "[Options]\r\nCurrentFolder=nowhere\r\n");
    DeviceList list;
    EXPECT_EQ(DeviceListLoad(list, ini), 4);
    DeviceFolder* a = list.FindFolder("B/A");
    ASSERT_NE(a, nullptr);
    // Lower-case and mixed-case sections land in the same folders; an empty name is not loaded.
    ASSERT_EQ(a->entries.size(), 1u);
    EXPECT_EQ(a->entries[0]->name.str(), "lower");
    ASSERT_EQ(list.Root().folders.size(), 1u);
    EXPECT_EQ(list.Root().folders[0]->entries.at(0)->name.str(), "parent");
    EXPECT_EQ(list.Root().folders[0]->folders.at(0).get(), a);
    // An entry without parameters is kept with the defaults, so that a save does not drop it.
    ASSERT_EQ(list.Root().entries.size(), 2u);
    EXPECT_EQ(list.Root().entries[0]->name.str(), "no-params");
    EXPECT_EQ(list.Root().entries[0]->link, LinkIp);
    EXPECT_EQ(list.Root().entries[1]->name.str(), "third");
    EXPECT_EQ(list.Root().entries[1]->link, LinkSerial);
    EXPECT_EQ(list.current_folder, "");
}

// Lists an older or damaged writer left: the entries are found by their keys, so adding one device keeps
// every other, whatever "Count" says and however often a folder's section stands in the file.
TEST(DeviceList, AddingADeviceKeepsEveryEntryOfABrokenList)
{
    using namespace std::string_literals;
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> names; // root entries in order, then those of folder F
    } rows[] = {
        { "no count", "[DeviceList]\r\n1_Name=a\r\n1_Parameters=0;;IP;10.0.0.1;10;\r\n2_Name=b\r\n", { "a", "b" } },
        { "count too small",
            "[DeviceList]\r\nCount=1\r\n2_Name=b\r\n1_Name=a\r\n3_Name=c\r\n3_Parameters=0;;COM;COM2;\r\n",
            { "a", "b", "c" } },
        { "negative count", "[DeviceList]\r\nCount=-3\r\n1_Name=a\r\n", { "a" } },
        { "section twice",
            "[DeviceList/F]\r\nCount=1\r\n1_Name=f1\r\n[Options]\r\nx=1\r\n[devicelist/f]\r\nCount=2\r\n"
            "1_Name=f2\r\n2_Name=f3\r\n[DeviceList]\r\n1_Name=a\r\n[DeviceList]\r\n1_Name=b\r\n",
            { "a", "b", "f1", "f2", "f3" } },
        { "NUL in a name", "[DeviceList]\r\nCount=2\r\n1_Name=\0a\r\n2_Name=b\0c\r\n"s, { "a", "b c" } },
        { "odd keys", "[DeviceList]\r\n01_Name=zero\r\n1_Name=a\r\n1_Name=dup\r\nx_Name=x\r\n", { "a" } },
    };
    for (const auto& row : rows) {
        IniFile ini;
        ini.Parse(row.text);
        DeviceList list;
        DeviceListLoad(list, ini);
        list.Add(std::make_unique<DeviceEntry>(IpEntry(0x0a0000ffu, 0, 10, "")))->name = "added";
        IniFile stored;
        stored.Parse(row.text);
        DeviceListStore(list, stored);
        DeviceList back;
        DeviceListLoad(back, stored);
        std::vector<std::string> names;
        for (DeviceEntry* e : back.All())
            names.push_back(e->name.str());
        std::vector<std::string> expected = row.names;
        expected.insert(expected.begin()
                + static_cast<std::ptrdiff_t>(std::count_if(
                    row.names.begin(), row.names.end(), [](const std::string& n) { return n[0] != 'f'; })),
            "added");
        EXPECT_EQ(names, expected) << row.what;
        EXPECT_EQ(stored.GetString("Options", "x", ""), row.what == std::string("section twice") ? "1" : "")
            << row.what;
    }
}

TEST(DeviceList, SaveKeepsOtherSettingsAndSurvivesReload)
{
    std::string dir = TempDir();
    std::string path = dir + "/qorvexal.ini";
    ASSERT_EQ(FileWriteAtomic(path, "[Options]\r\nEasyConfig=0\r\n"), 1);
    DeviceList list;
    for (int i = 0; i < 50; ++i) {
        auto e = std::make_unique<DeviceEntry>(IpEntry(0x0a000000u + static_cast<uint32_t>(i), 0, 10, "x"));
        e->name = "dev" + std::to_string(i);
        list.Add(std::move(e), i % 2 ? &list.MakeFolder("Odd") : nullptr);
    }
    ASSERT_EQ(DeviceListSave(list, path), 1);
    EXPECT_EQ(IniGetInt(path, "Options", "EasyConfig", 1), 0);
    DeviceList back;
    ASSERT_EQ(DeviceListLoadFile(back, path, ""), 1);
    EXPECT_EQ(back.Count(), 50u);
    EXPECT_EQ(back.FindFolder("Odd")->entries.size(), 25u);
    std::filesystem::remove_all(dir);
}

TEST(DeviceList, WhatIsLoadedSurvivesAStoreAndALoad)
{
    using namespace std::string_literals;
    // Names as the settings file and the legacy list may hold them: quoted, with a NUL (a blank, so that
    // nothing after it is lost), cut by a carriage return (a line end of its own).
    IniFile ini;
    ini.Parse(std::string("[DeviceList]\r\nCount=4\r\n1_Name=\"\"quoted\"\"\r\n1_Parameters=0;;IP;10.0.0.1;10;\r\n"
                          "2_Name=cut\0rest\r\n2_Parameters=0;;IP;10.0.0.2;10;\r\n"
                          "3_Name=a\rb\r\n3_Parameters=0;;IP;10.0.0.3;10;\r\n"
                          "4_Name=\0x\r\n4_Parameters=0;;IP;10.0.0.4;10;\r\n"s));
    DeviceList list;
    EXPECT_EQ(DeviceListLoad(list, ini), 4);
    EXPECT_EQ(DeviceListImportLegacy(list, "legacy;;IP;10.0.0.5\0;junk\r\n \r ;;IP;10.0.0.6\r\n"s), 1);
    std::vector<std::string> names;
    for (DeviceEntry* e : list.All())
        names.push_back(e->name.str());
    EXPECT_EQ(names, (std::vector<std::string> { "\"quoted\"", "cut rest", "a", "x", "legacy" }));
    IniFile stored;
    DeviceListStore(list, stored);
    DeviceList again;
    EXPECT_EQ(DeviceListLoad(again, stored), 5);
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(again.All()[i]->name.str(), names[i]);
}

// An entry the list cannot read whole (a name beyond 63 characters, parameters beyond 255) is written
// back as the file held it while the user leaves it alone; once changed it is written as it now is.
TEST(DeviceList, EntriesThatCannotBeReadWholeAreKeptAsTheyWere)
{
    const std::string longName(100, 'n');
    const std::string longParameters = "0;;IP;" + std::string(2000, '1') + ";10;";
    IniFile ini;
    ini.Parse("[DeviceList]\r\nCount=2\r\n1_Name=" + longName + "\r\n1_Description=d\r\n1_Parameters=" + longParameters
        + "\r\n2_Name=plain\r\n2_Parameters=0;;IP;10.0.0.2;10;\r\n");
    DeviceList list;
    ASSERT_EQ(DeviceListLoad(list, ini), 2);
    IniFile stored;
    DeviceListStore(list, stored);
    EXPECT_EQ(stored.GetString("DeviceList", "1_Name", ""), longName);
    EXPECT_EQ(stored.GetString("DeviceList", "1_Description", ""), "d");
    EXPECT_EQ(stored.GetString("DeviceList", "1_Parameters", ""), longParameters);
    EXPECT_EQ(stored.GetString("DeviceList", "2_Parameters", ""), "0;;IP;10.0.0.2;10;");

    // The user gives the device an address: the entry is now what the list holds.
    list.All()[0]->address = 0x0a000001u;
    IniFile changed;
    DeviceListStore(list, changed);
    EXPECT_EQ(changed.GetString("DeviceList", "1_Name", ""), longName.substr(0, 63));
    EXPECT_EQ(changed.GetString("DeviceList", "1_Parameters", ""), "0;;IP;10.0.0.1;10;");
}

TEST(DeviceList, LegacyListIsImportedSavedThenDeleted)
{
    std::string dir = TempDir();
    std::string ini = dir + "/qorvexal.ini";
    std::string legacy = dir + "/qorvexal.lst";
    std::string pw = CfgScramble("geheim");
    ASSERT_EQ(FileWriteAtomic(legacy,
                  "# devices\r\n\r\n"
                  " office ; main office ; IP ; 192.168.0.1 ; "
                      + pw
                      + " ; 1 ; 15\r\n"
                        "branch;;IP;192.168.0.2;;0\r\n"
                        "modem;dial;RAS;Branch Office;0301234;;0;\r\n"
                        "console;;COM;3;;1\r\n"
                        "usb;;COM;ttyUSB0;;0\r\n"),
        1);
    DeviceList list;
    ASSERT_EQ(DeviceListLoadFile(list, ini, legacy), 1);
    EXPECT_FALSE(FileExists(legacy));
    ASSERT_EQ(list.Root().entries.size(), 5u);
    const auto& e = list.Root().entries;
    EXPECT_EQ(e[0]->name.str(), "office");
    EXPECT_EQ(e[0]->description.str(), "main office");
    EXPECT_EQ(e[0]->address, 0xc0a80001u);
    EXPECT_EQ(e[0]->password.str(), "geheim");
    EXPECT_EQ(e[0]->local, 1);
    EXPECT_EQ(e[0]->timeout_s, 15);
    EXPECT_EQ(e[1]->timeout_s, 10);
    EXPECT_EQ(e[2]->link, LinkDialUp);
    EXPECT_EQ(e[2]->ras_entry.str(), "Branch Office");
    EXPECT_EQ(e[2]->phone_number.str(), "0301234");
    EXPECT_EQ(e[2]->ras_idle_s, 20);
    EXPECT_EQ(e[3]->line_name.str(), "COM3");
    EXPECT_EQ(e[4]->line_name.str(), "ttyUSB0");

    DeviceList saved;
    IniFile file;
    ASSERT_EQ(file.Load(ini), 1);
    EXPECT_EQ(DeviceListLoad(saved, file), 5);

    // A legacy list that cannot be saved stays where it is.
    ASSERT_EQ(FileWriteAtomic(legacy, "x;;IP;1.2.3.4\r\n"), 1);
    DeviceList again;
    EXPECT_EQ(DeviceListLoadFile(again, dir + "/missing-dir/qorvexal.ini", legacy), 0);
    EXPECT_TRUE(FileExists(legacy));
    std::filesystem::remove_all(dir);
}

#ifndef _WIN32
// A process killed at any moment of a save leaves either the old or the new list, never a broken one.
TEST(DeviceList, KilledSaveLosesNothing)
{
    std::string dir = TempDir();
    std::string path = dir + "/qorvexal.ini";
    auto makeList = [](int n) {
        DeviceList list;
        for (int i = 0; i < n; ++i) {
            auto e = std::make_unique<DeviceEntry>(IpEntry(0x0a000000u + static_cast<uint32_t>(i), 0, 10, "pw"));
            e->name = "dev" + std::to_string(i);
            e->description = std::string(200, 'd');
            list.Add(std::move(e));
        }
        return list;
    };
    ASSERT_EQ(DeviceListSave(makeList(300), path), 1);
    srand(1234);
    for (int round = 0; round < 20; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            DeviceList other = makeList(301 + round % 2);
            for (;;)
                DeviceListSave(other, path);
        }
        usleep(static_cast<useconds_t>(1000 + rand() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        IniFile ini;
        ASSERT_EQ(ini.Load(path), 1);
        DeviceList back;
        int n = DeviceListLoad(back, ini);
        EXPECT_TRUE(n == 300 || n == 301 || n == 302) << n;
        EXPECT_EQ(static_cast<int>(back.Count()), ini.GetInt("DeviceList", "Count", -1));
    }
    std::filesystem::remove_all(dir);
}
#endif

TEST(DeviceList, RemoveAndJobChain)
{
    DeviceList list;
    DeviceEntry* a = list.Add(std::make_unique<DeviceEntry>());
    DeviceEntry* b = list.Add(std::make_unique<DeviceEntry>(), &list.MakeFolder("F"));
    DeviceEntry* c = list.Add(std::make_unique<DeviceEntry>());
    EXPECT_EQ(list.FolderOf(b), list.FindFolder("f"));
    DeviceJob job = DeviceJobBuild({ c, a, b });
    EXPECT_EQ(job.count, 3);
    EXPECT_EQ(job.first, c);
    EXPECT_EQ(c->next, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, nullptr);
    EXPECT_EQ(list.Remove(b), 1);
    EXPECT_EQ(list.Remove(b), 0);
    EXPECT_EQ(list.All(), (std::vector<DeviceEntry*> { a, c }));
}

TEST(Mru, FormatAndParse)
{
    std::vector<std::string> items;
    for (int i = 0; i < 25; ++i)
        items.push_back("10.0.0." + std::to_string(i));
    std::string value = MruFormat("10.0.0.3", items);
    std::vector<std::string> back = MruParse(value);
    ASSERT_EQ(back.size(), 21u);
    EXPECT_EQ(back[0], "10.0.0.3");
    EXPECT_EQ(back[1], "10.0.0.0");
    EXPECT_EQ(back[3], "10.0.0.2");
    EXPECT_EQ(back[4], "10.0.0.4"); // the current text is not repeated
    EXPECT_EQ(back[20], "10.0.0.20");
    EXPECT_EQ(MruFormat("", { "a", "b" }), "a;b;");
    EXPECT_EQ(MruFormat("a", {}), "a;");
    EXPECT_EQ(MruParse("a;;b"), (std::vector<std::string> { "a", "b" }));

    IniFile ini;
    MruStore(ini, "MorvakAddressMRU", "10.0.0.1:8069", { "10.0.0.2" });
    EXPECT_EQ(ini.GetString("Options", "MorvakAddressMRU", ""), "10.0.0.1:8069;10.0.0.2;");
    EXPECT_EQ(MruLoad(ini, "MorvakAddressMRU").size(), 2u);
}

} // namespace
