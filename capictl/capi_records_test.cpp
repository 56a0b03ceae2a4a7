#include "capictl/capi_format.h"
#include "capictl/capi_keys.h"
#include "capictl/capi_records.h"
#include "capictl/capi_status.h"
#include "capictl/capi_testrecords.h"
#include "common/diag.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
std::vector<uint8_t> Vec(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

// Publishes `buffer` as the task's status copy.
void Publish(const std::string& buffer)
{
    std::vector<uint8_t> working = Vec(buffer);
    CapiStatus().Swap(working, static_cast<uint32_t>(buffer.size()));
}

std::string Le32(uint32_t v)
{
    std::string s;
    CapiAppendLe32(&s, v);
    return s;
}

std::vector<std::string> Walk(const std::string& buffer, size_t bytes, size_t* walked = nullptr)
{
    std::vector<std::string> lines;
    CapiWalker walk(CapiBytes(buffer), bytes);
    for (CapiRecordView r; walk.Next(&r);)
        lines.push_back(CapiFormatStatusRecord(r));
    if (walked)
        *walked = walk.Walked();
    return lines;
}

TEST(CapiRecords, WalkStopsAtBrokenRecords)
{
    const std::string app = CapiTestApplication();
    struct Case {
        const char* what;
        std::string buffer;
        size_t bytes;
        size_t records;
        size_t walked;
    } cases[] = {
        { "empty", "", 0, 0, 0 },
        { "two whole records", app + app, 16, 2, 16 },
        { "byte count ends inside the second", app + app, 15, 1, 8 },
        { "a tail shorter than a header", app + "1234567", 15, 1, 8 },
        { "length below the header", app + Le32(3) + Le32(7) + app, 24, 1, 8 },
        { "length 0 would never advance", Le32(3) + Le32(0) + app, 16, 0, 0 },
        { "length past the byte count", Le32(9) + Le32(0xFFFFFFF0u) + app, 16, 0, 0 },
    };
    for (const Case& c : cases) {
        size_t walked = 0;
        EXPECT_EQ(Walk(c.buffer, c.bytes, &walked).size(), c.records) << c.what;
        EXPECT_EQ(walked, c.walked) << c.what;
    }
}

TEST(CapiRecords, FieldsAndTextsStayWithinTheirRecord)
{
    std::string dev = CapiTestDevice(7, 1, 1, "Office", "Router", "123/456", 2, 1, 8);
    CapiWalker walk(CapiBytes(dev), dev.size());
    CapiRecordView r;
    ASSERT_TRUE(walk.Next(&r));
    EXPECT_EQ(CapiFormatStatusRecord(r),
        "device id=7 attachment=1 state=1 channels=2 free=1 outgoing-only=0 location=\"Office\" name=\"Router\" "
        "numbers=\"123/456\" profile=8");

    // A record cut short: the missing fields read 0, a text whose offset field is missing reads empty.
    CapiRecordView cut { r.bytes, 34 };
    CapiDeviceInfo d = CapiReadDevice(cut);
    EXPECT_EQ(d.outgoingOnly, 0u);
    EXPECT_EQ(d.profile, 0u);
    EXPECT_EQ(d.location, "");
    EXPECT_EQ(d.name, "");
    EXPECT_EQ(r.Field(44), 8u);
    EXPECT_EQ(CapiRecordView({ r.bytes, 47 }).Field(44), 0u);

    // Offsets pointing outside the record, or texts without a NUL before its end.
    std::string bad = dev;
    bad.replace(32, 4, Le32(static_cast<uint32_t>(dev.size()))); // location: just past the end
    bad.replace(36, 4, Le32(0xFFFFFFFFu)); // name: far outside
    bad.back() = 'x'; // numbers: the last text loses its NUL
    CapiRecordView b { CapiBytes(bad), static_cast<uint32_t>(bad.size()) };
    d = CapiReadDevice(b);
    EXPECT_EQ(d.location, "");
    EXPECT_EQ(d.name, "");
    EXPECT_EQ(d.numbers, "");
    // A text at the last byte, which is its NUL, is empty but fine.
    bad.back() = '\0';
    bad.replace(40, 4, Le32(static_cast<uint32_t>(bad.size() - 1)));
    EXPECT_EQ(CapiReadDevice({ CapiBytes(bad), static_cast<uint32_t>(bad.size()) }).numbers, "");

    std::string conn = CapiTestConnection(3, 7, 10000, 9600, "0301234", 1, 500, 600);
    EXPECT_EQ(Walk(conn, conn.size()),
        std::vector<std::string> { "connection id=3 device=7 incoming=1 connected-ms=10000 received=500 sent=600 "
                                   "last-transfer-ms=9600 number=\"0301234\"" });
    std::string other = Le32(9) + Le32(12) + Le32(1);
    EXPECT_EQ(Walk(other + CapiTestApplication(), 20),
        (std::vector<std::string> { "record kind=9 length=12", "application" }));
}

TEST(CapiQueries, EmptyStatus)
{
    Publish("");
    EXPECT_EQ(CapiCountDevices(false), 0u);
    EXPECT_EQ(CapiCountApplications(), 0u);
    EXPECT_EQ(CapiCountConnections(0), 0u);
    EXPECT_FALSE(CapiGetDevice(1));
    CapiRecordList list = CapiListDevices(0);
    EXPECT_EQ(list.count, 0u);
    EXPECT_TRUE(list.bytes.empty());
    EXPECT_EQ(list.bytes.capacity(), 0u);
    EXPECT_FALSE(CapiRecentTraffic(0, 1000));
    CapiStatus().Clear();
    EXPECT_EQ(CapiCountDevices(false), 0u);
}

TEST(CapiQueries, CountsListsAndCopies)
{
    const std::string lan = CapiTestDevice(1, 1, 1, "Hall", "LAN box");
    const std::string serial = CapiTestDevice(2, 2, 2, "", "COM1");
    const std::string usb = CapiTestDevice(3, 3, 1, "", "USB");
    const std::string lan2 = CapiTestDevice(4, 1, 3, "", "LAN 2");
    const std::string c1 = CapiTestConnection(10, 1, 10000, 9600, "111");
    const std::string c2 = CapiTestConnection(11, 3, 10000, 9499);
    const std::string c3 = CapiTestConnection(12, 1, 0, 0);
    std::string buffer = lan + c1 + CapiTestApplication() + serial + usb + c2 + lan2 + c3 + CapiTestApplication();
    // The published byte count is what counts, not the buffer's size.
    std::vector<uint8_t> working = Vec(buffer + std::string(100, '\xAA'));
    CapiStatus().Swap(working, static_cast<uint32_t>(buffer.size()));

    EXPECT_EQ(CapiCountDevices(false), 4u);
    EXPECT_EQ(CapiCountDevices(true), 2u); // only state 1
    EXPECT_EQ(CapiCountApplications(), 2u);
    EXPECT_EQ(CapiCountConnections(0), 3u);
    EXPECT_EQ(CapiCountConnections(1), 2u);
    EXPECT_EQ(CapiCountConnections(2), 0u);

    CapiRecordCopy dev = CapiGetDevice(3);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev.bytes, Vec(usb));
    EXPECT_EQ(CapiReadDevice(dev.View()).name, "USB");
    EXPECT_FALSE(CapiGetDevice(10)); // a connection id, not a device id
    EXPECT_EQ(CapiGetConnection(11).bytes, Vec(c2));

    CapiRecordList lans = CapiListDevices(1);
    EXPECT_EQ(lans.count, 2u);
    EXPECT_EQ(lans.bytes, Vec(lan + lan2));
    EXPECT_EQ(lans.bytes.capacity(), lans.bytes.size()); // exactly the bytes handed out
    EXPECT_EQ(CapiListDevices(0).bytes, Vec(lan + serial + usb + lan2));
    CapiRecordList calls = CapiListConnections(1);
    EXPECT_EQ(calls.count, 2u);
    EXPECT_EQ(calls.bytes, Vec(c1 + c3));

    // (time connected - time at last transfer) <= ms: 10000 - 9600 = 400 is recent within 500.
    EXPECT_TRUE(CapiRecentTraffic(0, 500));
    EXPECT_TRUE(CapiRecentTraffic(1, 400));
    EXPECT_FALSE(CapiRecentTraffic(1, 399) && !CapiRecentTraffic(1, 0)); // c3 has 0 - 0
    EXPECT_FALSE(CapiRecentTraffic(3, 500)); // 501
    EXPECT_TRUE(CapiRecentTraffic(3, 501));
    EXPECT_FALSE(CapiRecentTraffic(2, 100000));
    Publish(CapiTestConnection(1, 1, 100, 200)); // a last transfer after the time connected is not recent
    EXPECT_FALSE(CapiRecentTraffic(0, 0xFFFFFFFFu));

    EXPECT_EQ(
        CapiFormatSummary(CapiBytes(buffer), buffer.size()), "devices 4 available 2 applications 2 connections 3");
}

TEST(CapiQueries, SwapHandsBackThePreviousBuffer)
{
    std::vector<uint8_t> first(1024, 1);
    const uint8_t* firstData = first.data();
    CapiStatus().Swap(first, 8);
    std::vector<uint8_t> second(2048, 2);
    const uint8_t* secondData = second.data();
    CapiStatus().Swap(second, 16);
    // Never copied: the buffers change owners.
    EXPECT_EQ(second.data(), firstData);
    EXPECT_EQ(CapiStatus().With([](const uint8_t* d, size_t) { return d; }), secondData);
    EXPECT_EQ(CapiStatus().Bytes(), 16u);
}

// Settings records: the parameters key in the in-memory registry.
class CapiSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegUseMemory(true);
        RegMemoryClear();
        DiagSetSink([this](const std::string& line) { diag.push_back(line); });
        ASSERT_EQ(params.Create(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\ZevraCapiDrv\\Parameters"),
            RegStatus::Ok);
    }
    void TearDown() override
    {
        DiagSetSink(nullptr);
        RegUseMemory(false);
    }
    std::vector<std::string> Build(int expected = 1)
    {
        EXPECT_EQ(CapiFindDriverKey(CapiFamily::WindowsNT), 1);
        std::string records;
        EXPECT_EQ(CapiBuildSettings(RegRoot::LocalMachine, CapiGetKeys().parameters, &records), expected);
        built = records;
        std::vector<std::string> lines;
        CapiWalker walk(CapiBytes(records), records.size());
        for (CapiRecordView r; walk.Next(&r);)
            lines.push_back(CapiFormatControlRecord(r));
        EXPECT_EQ(walk.Walked(), records.size());
        return lines;
    }
    RegKey params;
    std::string built;
    std::vector<std::string> diag;
};

TEST_F(CapiSettings, ValuesThenKeyEndDepthFirst)
{
    params.WriteDword("Flags", 5);
    RegKey rcapi;
    ASSERT_EQ(rcapi.Create(params, "RCapi"), RegStatus::Ok);
    rcapi.WriteDword("RCapiSuspended", 1);
    std::vector<std::string> lines = Build();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
        "setting type=4 name=\"Flags\" data=05000000 bytes="
        "01000000"
        "22000000"
        "04000000"
        "18000000"
        "04000000"
        "1e000000"
        "466c61677300"
        "05000000");
    EXPECT_EQ(lines[1],
        "setting type=0 name=\"\" data= bytes=01000000"
        "19000000"
        "00000000"
        "18000000"
        "00000000"
        "19000000"
        "00");
    EXPECT_EQ(lines[2].rfind("setting type=4 name=\"RCapi\\RCapiSuspended\" data=01000000 bytes=01000000", 0), 0u)
        << lines[2];
    EXPECT_EQ(lines[3].rfind("setting type=0 name=\"RCapi\\\" data= bytes=010000001f000000", 0), 0u) << lines[3];
}

TEST_F(CapiSettings, DeeperTreesAndTheirOrder)
{
    RegKey k;
    k.Create(params, "b\\Inner");
    k.WriteString("Text", "abc");
    k.Create(params, "A");
    k.SetValue("Bin", kRegBinary, std::string("\x00\xff", 2));
    std::vector<std::string> names;
    for (const std::string& line : Build())
        names.push_back(line.substr(0, line.find(" data=")));
    EXPECT_EQ(names,
        (std::vector<std::string> { "setting type=0 name=\"\"", "setting type=3 name=\"A\\Bin\"",
            "setting type=0 name=\"A\\\"", "setting type=0 name=\"b\\\"", "setting type=1 name=\"b\\Inner\\Text\"",
            "setting type=0 name=\"b\\Inner\\\"" }));
}

TEST_F(CapiSettings, AnEmptyParametersKeyStillSendsItsKeyEnd)
{
    EXPECT_EQ(Build(),
        std::vector<std::string> { "setting type=0 name=\"\" data= bytes=010000001900000000000000"
                                   "180000000000000019000000"
                                   "00" });
    RegKeyDeleteTree(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\ZevraCapiDrv\\Parameters");
    Build(0);
    EXPECT_TRUE(built.empty());
}

TEST_F(CapiSettings, OversizedValuesAreLeftOutAndTheRestFollows)
{
    params.WriteDword("Before", 1);
    params.SetValue("Big", kRegBinary, std::string(261, 'x'));
    params.SetValue("Fits", kRegBinary, std::string(260, 'y'));
    params.WriteDword("After", 2);
    std::vector<std::string> names;
    for (const std::string& line : Build())
        names.push_back(line.substr(0, line.find(" data=")));
    EXPECT_EQ(names,
        (std::vector<std::string> { "setting type=4 name=\"Before\"", "setting type=3 name=\"Fits\"",
            "setting type=4 name=\"After\"", "setting type=0 name=\"\"" }));
    ASSERT_EQ(diag.size(), 1u);
    EXPECT_NE(diag[0].find("\"Big\" left out: 261 bytes"), std::string::npos) << diag[0];
}

TEST_F(CapiSettings, OverlongNamesAndPathsAreLeftOut)
{
    // A relative name of exactly 519 characters is kept, 520 is not.
    RegKey k;
    std::string sub(200, 's'); // path "sss...\" is 201 characters
    ASSERT_EQ(k.Create(params, sub), RegStatus::Ok);
    k.WriteDword(std::string(318, 'v'), 1); // 201 + 318 = 519
    k.WriteDword(std::string(319, 'w'), 2); // 520
    k.WriteDword("short", 3);
    // A subkey whose path would pass 519 characters goes with its subtree.
    RegKey deep;
    ASSERT_EQ(deep.Create(k, std::string(250, 'd') + "\\" + std::string(100, 'e')), RegStatus::Ok);
    deep.WriteDword("lost", 1);
    RegKey ok;
    ASSERT_EQ(ok.Create(k, std::string(250, 'f')), RegStatus::Ok); // 201 + 251 = 452
    ok.WriteDword("kept", 1);
    std::vector<std::string> lines = Build();
    std::string all;
    for (const std::string& line : lines)
        all += line.substr(0, line.find(" data=")) + "\n";
    EXPECT_NE(all.find(std::string(318, 'v')), std::string::npos);
    EXPECT_EQ(all.find(std::string(319, 'w')), std::string::npos);
    EXPECT_NE(all.find("\\short\""), std::string::npos);
    EXPECT_NE(all.find(std::string(250, 'd') + "\\\""), std::string::npos); // 452 characters: kept
    EXPECT_EQ(all.find("eee"), std::string::npos); // 553: left out with its value
    EXPECT_EQ(all.find("lost"), std::string::npos);
    EXPECT_NE(all.find("fff\\kept\""), std::string::npos);
    // key ends "", sub, d and f; the 519 value, short, kept
    EXPECT_EQ(lines.size(), 7u);
    EXPECT_EQ(diag.size(), 2u);
}

TEST(CapiCommands, SuspendAndDropRecords)
{
    std::string suspend = CapiSuspendRecords(1);
    std::string expected = "01000000"
                           "31000000"
                           "04000000"
                           "18000000"
                           "04000000"
                           "2d000000"
        + CapiHex("RCapi\\RCapiSuspended")
        + "00"
          "01000000"
          "01000000"
          "1f000000"
          "00000000"
          "18000000"
          "00000000"
          "00000000"
        + CapiHex("RCapi\\") + "00";
    EXPECT_EQ(CapiHex(suspend), expected);
    EXPECT_EQ(CapiHex(CapiSuspendRecords(0)).substr(90, 8), "00000000");
    std::string drop;
    CapiAppendCommand(&drop, 0x1234);
    EXPECT_EQ(CapiHex(drop),
        "02000000"
        "0c000000"
        "34120000");
    CapiRecordView r { CapiBytes(drop), 12 };
    EXPECT_EQ(CapiFormatControlRecord(r), "drop id=4660 bytes=020000000c00000034120000");
}

// The driver key of both families.
class CapiDriverKey : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegUseMemory(true);
        RegMemoryClear();
    }
    void TearDown() override
    {
        RegUseMemory(false);
    }
    void Instance(const std::string& path, const char* hardware, const char* compatible, const char* driver)
    {
        RegKey k;
        ASSERT_EQ(k.Create(RegRoot::LocalMachine, "Enum\\" + path), RegStatus::Ok);
        if (hardware)
            k.WriteString("HardwareID", hardware);
        if (compatible)
            k.WriteString("CompatibleIDs", compatible);
        if (driver)
            k.WriteString("Driver", driver);
    }
};

TEST_F(CapiDriverKey, WindowsNtUsesTheServiceKeys)
{
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::WindowsNT), 1);
    EXPECT_EQ(CapiGetKeys().settings, "System\\CurrentControlSet\\Services\\ZevraCapiCtl\\Settings");
    EXPECT_EQ(CapiGetKeys().driver, "System\\CurrentControlSet\\Services\\ZevraCapiDrv");
    EXPECT_EQ(CapiGetKeys().parameters, "System\\CurrentControlSet\\Services\\ZevraCapiDrv\\Parameters");
    EXPECT_EQ(CapiGetKeys().rcapi, "System\\CurrentControlSet\\Services\\ZevraCapiDrv\\Parameters\\RCapi");
}

TEST_F(CapiDriverKey, Windows9xSearch)
{
    // Nothing registered: failure.
    EXPECT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 0);
    Instance("Root\\Other\\0000", "SOMETHING", "A,B", "Net\\0001");
    Instance("Root\\NoDriver\\0000", "ZEVRARCAPI", nullptr, nullptr);
    EXPECT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 0);

    // HardwareID ignoring case.
    Instance("Network\\Rcapi\\0000", "zevraRcapi", nullptr, "Net\\0003");
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 1);
    EXPECT_EQ(CapiGetKeys().settings, "Software\\ZEVRA\\Rcapi\\Settings");
    EXPECT_EQ(CapiGetKeys().driver, "System\\CurrentControlSet\\Services\\Class\\Net\\0003");
    EXPECT_EQ(CapiGetKeys().parameters, "System\\CurrentControlSet\\Services\\Class\\Net\\0003\\Parameters");

    // Two matches: the last one found wins (a CompatibleIDs list member, in the later enumerator).
    Instance("USB\\Vid\\7", "USB\\VID_1", "USB\\CLASS_02, ZevraRCAPI ,X", "Net\\0009");
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 1);
    EXPECT_EQ(CapiGetKeys().driver, "System\\CurrentControlSet\\Services\\Class\\Net\\0009");
    // A list member that merely contains the id is not it.
    Instance("ZZZ\\Dev\\1", nullptr, "ZEVRARCAPI2,OTHER", "Net\\0010");
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 1);
    EXPECT_EQ(CapiGetKeys().driver, "System\\CurrentControlSet\\Services\\Class\\Net\\0009");

    // "DrvBaseKey" in the task's settings comes first.
    RegKey settings;
    ASSERT_EQ(settings.Create(RegRoot::LocalMachine, "Software\\ZEVRA\\Rcapi\\Settings"), RegStatus::Ok);
    settings.WriteString("DrvBaseKey", "System\\CurrentControlSet\\Services\\Class\\Net\\0042");
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 1);
    EXPECT_EQ(CapiGetKeys().rcapi, "System\\CurrentControlSet\\Services\\Class\\Net\\0042\\Parameters\\RCapi");
    // ... but only as a string.
    settings.WriteDword("DrvBaseKey", 5);
    ASSERT_EQ(CapiFindDriverKey(CapiFamily::Windows9x), 1);
    EXPECT_EQ(CapiGetKeys().driver, "System\\CurrentControlSet\\Services\\Class\\Net\\0009");
}
} // namespace
