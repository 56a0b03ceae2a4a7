#include "device/deviceentry.h"
#include "device/sysinfo.h"

#include <gtest/gtest.h>

namespace {

const char* const kBase = "DEVICE: Morvak 1611 Office\r\n"
                          "HW-RELEASE: C\r\n"
                          "VERSION: 3.52.0017 / 12.05.2003\r\n"
                          "SERIAL-NUMBER: 061370800123\r\n"
                          "NAME: branch-1\r\n"
                          "MAC-ADDRESS: 00a057112233\r\n";

struct Parsed {
    int valid = 0;
    std::string device_type, fw_version, fw_date, serial_no, name, mac, ip, netmask, hw_release, time;
    FirmwareStatusInfo fw;
    uint32_t flags = 0, feature_word = 0, hw_mask = 0;
};

Parsed Parse(std::string_view text)
{
    Parsed p;
    SysInfoOut out { &p.device_type, &p.fw_version, &p.fw_date, &p.serial_no, &p.name, &p.mac, &p.ip, &p.netmask,
        &p.hw_release, &p.time, &p.fw, &p.flags, &p.feature_word, &p.hw_mask };
    p.valid = SysInfoParse(text, out);
    return p;
}

TEST(SysInfoParse, ReadsEveryRequiredField)
{
    Parsed p = Parse(kBase);
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.device_type, "Morvak 1611 Office");
    EXPECT_EQ(p.hw_release, "C");
    EXPECT_EQ(p.fw_version, "3.52.0017");
    EXPECT_EQ(p.fw_date, "12.05.2003");
    EXPECT_EQ(p.serial_no, "061370800123");
    EXPECT_EQ(p.name, "branch-1");
    EXPECT_EQ(p.mac, "00a057112233");
    EXPECT_EQ(p.flags, 0u);
}

TEST(SysInfoParse, ANulEndsTheText)
{
    std::string text = std::string(kBase) + "IP-ADDRESS: 10.0.0.1\r\n";
    text.insert(text.find("NAME:") + 6, 1, '\0'); // the name and every later line are cut off
    Parsed p = Parse(text);
    EXPECT_EQ(p.valid, 0);
    EXPECT_EQ(p.ip, "");
    text = std::string(kBase) + '\0' + "NAME: second\r\n";
    p = Parse(text);
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.name, "branch-1");
}

TEST(SysInfoParse, RequiredKeysMustOccurExactlyOnce)
{
    struct Row {
        const char* what;
        std::string text;
        int valid;
    };
    std::string base = kBase;
    auto without = [&base](const char* line) {
        std::string t = base;
        size_t at = t.find(line);
        size_t end = t.find("\r\n", at);
        t.erase(at, end + 2 - at);
        return t;
    };
    const Row rows[] = {
        { "all six", base, 1 },
        { "no HW-RELEASE", without("HW-RELEASE:"), 0 },
        { "no DEVICE", without("DEVICE:"), 0 },
        { "no MAC-ADDRESS", without("MAC-ADDRESS:"), 0 },
        { "NAME twice", base + "NAME: other\r\n", 0 },
        { "SERIAL-NUMBER and SERIENNUMMER", base + "SERIENNUMMER: 1\r\n", 0 },
        // Counted by key: one given twice never stands in for a missing one.
        { "DEVICE twice instead of NAME", without("NAME:") + "DEVICE: again\r\n", 0 },
        { "MAC-ADRESSE for a missing NAME", without("NAME:") + "MAC-ADRESSE: 00a057010203\r\n", 0 },
        { "NAME twice instead of MAC-ADDRESS", without("MAC-ADDRESS:") + "NAME: second\r\n", 0 },
        { "key not at line start", without("NAME:") + " NAME: x\r\n", 0 },
        { "key in lower case", without("NAME:") + "name: x\r\n", 0 },
        { "optional keys twice", base + "TIME: 1\r\nTIME: 2\r\nIP-ADDRESS: 1.2.3.4\r\nIP-ADDRESS: 1.2.3.5\r\n", 1 },
        { "lone LF and lone CR",
            "DEVICE: a\nHW-RELEASE: b\rVERSION: 1 / 2\n\nSERIAL-NUMBER: 1\rNAME: n\nMAC-ADDRESS: m", 1 },
        { "empty text", "", 0 },
    };
    for (const Row& r : rows)
        EXPECT_EQ(Parse(r.text).valid, r.valid) << r.what;
}

TEST(SysInfoParse, GermanKeys)
{
    Parsed p = Parse("DEVICE: Morvak 1611\r\nHW-RELEASE: B\r\nVERSION: 3.10 vom 01.02.2001\r\n"
                     "SERIENNUMMER: 999\r\nNAME: zentrale\r\nMAC-ADRESSE: 00a0570a0b0c\r\n"
                     "IP-ADRESSE: 0.0.0.0\r\nIP-NETZ-MASKE: 255.255.0.0\r\nINTRANET-ADRESSE: 0.0.0.0\r\n"
                     "INTRANET-MASKE: 255.255.255.0\r\n");
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.serial_no, "999");
    EXPECT_EQ(p.mac, "00a0570a0b0c");
    EXPECT_EQ(p.netmask, "255.255.0.0");
    EXPECT_EQ(p.ip, "0.0.0.0");
    EXPECT_EQ(p.fw_date, "01.02.2001");
    EXPECT_EQ(p.flags, DevFlagUnconfigured);
}

TEST(SysInfoParse, FieldsAreCutToTheirWidths)
{
    std::string long63(70, 'd');
    Parsed p = Parse(std::string("DEVICE: ") + long63 + "\r\nHW-RELEASE:   ABCDEFG\r\n"
        + "VERSION: 1234567890123 x 123456789012345\r\nSERIAL-NUMBER: 123456789012345678901234\r\n" + "NAME: " + long63
        + "\r\nMAC-ADDRESS: 00a0571122334455\r\nTIME: 12345678901234567890\r\n");
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.device_type.size(), 63u);
    EXPECT_EQ(p.hw_release, "ABCD");
    EXPECT_EQ(p.fw_version, "123456789");
    EXPECT_EQ(p.fw_date, "12345678901");
    EXPECT_EQ(p.serial_no, "123456789012345"); // 24 characters on the line, 15 in the field
    EXPECT_EQ(p.name.size(), 63u);
    EXPECT_EQ(p.mac, "00a0571122334");
    EXPECT_EQ(p.time, "123456789012345");

    // Into an entry: every field stays within its room.
    DeviceEntry e;
    e.name = "old";
    std::string netmask;
    EXPECT_EQ(SysInfoParseInto(std::string(kBase) + "SERIAL-NUMBER: 123456789012345678901234\r\n", e, &netmask), 0);
    EXPECT_EQ(e.serial_no.str(), "123456789012345");
}

TEST(SysInfoParse, NameWithoutValueTakesTheDeviceType)
{
    std::string text = kBase;
    text.replace(text.find("NAME: branch-1"), 14, "NAME:");
    Parsed p = Parse(text);
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.name, "Morvak 1611 Office");

    text = kBase;
    text.replace(text.find("NAME: branch-1"), 14, "NAME:    ");
    EXPECT_EQ(Parse(text).name, "Morvak 1611 Office");
}

TEST(SysInfoParse, Flags)
{
    struct Row {
        const char* lines;
        uint32_t flags;
    };
    const Row rows[] = {
        { "IP-ADDRESS: 0.0.0.0\r\n", DevFlagUnconfigured },
        { "INTRANET-ADDRESS: 0.0.0.0\r\n", DevFlagUnconfigured },
        { "IP-ADDRESS: 0.0.0.0\r\nINTRANET-ADDRESS: 10.0.0.1\r\n", 0 },
        { "IP-ADDRESS: 192.168.1.1\r\n", 0 },
        { "IP-ADDRESS:\r\n", 0 },
        { "IP-ADDRESS: none\r\n", 0 },
        { "CONFIG-STATUS: 16\r\n", DevFlagConfigStatus10 },
        { "CONFIG-STATUS: 32\r\n", DevFlagNoRestart },
        { "CONFIG-STATUS: 64\r\n", DevFlagSlowRestart },
        { "CONFIG-STATUS: 128\r\n", DevFlagNoPseudoProbe },
        { "CONFIG-STATUS: 15\r\n", 0 },
        { "CONFIG-STATUS: 240\r\nIP-ADDRESS: 0.0.0.0\r\n",
            DevFlagUnconfigured | DevFlagConfigStatus10 | DevFlagNoRestart | DevFlagSlowRestart
                | DevFlagNoPseudoProbe },
        { "SOLVANE-PORT: 0\r\n", 0 },
        { "SOLVANE-PORT: 4000\r\n", DevFlagSolvane },
        { "TIME: 00000000000000\r\n", DevFlagHasTime },
        { "TIME: 12304501022004\r\n", DevFlagHasTime | DevFlagTimeValid },
        { "TIME:\r\n", DevFlagHasTime },
        { "FEATUREWORD: 101\r\n", DevFlagFeatureWord },
        { "HW-MASK: 1\r\n", DevFlagHwMask },
        { "FIRMWARE-STATUS: 0;0;0\r\n", DevFlagFirmwareImages },
        { "FIRMWARE-STATUS: 0;1;2;3.52m.01052003.upx\r\n", DevFlagFirmwareImages | DevFlagAsymmetric },
    };
    for (const Row& r : rows) {
        Parsed p = Parse(std::string(kBase) + r.lines);
        EXPECT_EQ(p.valid, 1) << r.lines;
        EXPECT_EQ(p.flags, r.flags) << r.lines;
    }
}

TEST(SysInfoParse, BinaryWords)
{
    struct Row {
        const char* value;
        uint32_t word;
    };
    const Row rows[] = {
        { "101", 5 },
        { "0", 0 },
        { "11111111111111111111111111111111", 0xFFFFFFFFu },
        { "100000000000000000000000000000000", 0xFFFFFFFFu }, // 33 digits: saturates like strtoul
        { "1012", 5 },
        { "x", 0 },
    };
    for (const Row& r : rows) {
        Parsed p = Parse(std::string(kBase) + "FEATUREWORD: " + r.value + "\r\nHW-MASK: " + r.value + "\r\n");
        EXPECT_EQ(p.feature_word, r.word) << r.value;
        EXPECT_EQ(p.hw_mask, r.word) << r.value;
    }
}

TEST(SysInfoParse, FirmwareStatusImages)
{
    struct Row {
        const char* value;
        int32_t active, n2, n3, count;
        std::vector<std::string> versions, dates;
    };
    const Row rows[] = {
        { "1;2;3;3.52.01052003.upx", 1, 2, 3, 1, { "3.52" }, { "01052003" } },
        { "0;0;0;352.0105.bin", 0, 0, 0, 1, { "352" }, { "0105" } },
        { "0;0;0;single.dot", 0, 0, 0, 1, { "*" }, { "*" } },
        { "0;0;0;nodot", 0, 0, 0, 1, { "*" }, { "*" } },
        { "1;0;0;a.b.c;x.y.z;", 1, 0, 0, 2, { "a", "x" }, { "b", "y" } },
        { "0;0", 0, 0, 0, 0, {}, {} },
    };
    for (const Row& r : rows) {
        Parsed p = Parse(std::string(kBase) + "FIRMWARE-STATUS: " + r.value + "\r\n");
        EXPECT_EQ(p.fw.active, r.active) << r.value;
        EXPECT_EQ(p.fw.number2, r.n2) << r.value;
        EXPECT_EQ(p.fw.number3, r.n3) << r.value;
        EXPECT_EQ(p.fw.image_count, r.count) << r.value;
        EXPECT_EQ(p.fw.versions, r.versions) << r.value;
        EXPECT_EQ(p.fw.dates, r.dates) << r.value;
    }
}

TEST(SysInfoParse, FirmwareListsKeepTheirRoom)
{
    // Ten images with 20-character versions: the 128-byte list holds six of them (6 * 21 + 1).
    std::string value = "0;0;0";
    for (int i = 0; i < 10; ++i)
        value += ";12345678901234567890.1.x";
    Parsed p = Parse(std::string(kBase) + "FIRMWARE-STATUS: " + value.substr(0, 255) + "\r\n");
    size_t bytes = 1;
    for (const std::string& v : p.fw.versions)
        bytes += v.size() + 1;
    EXPECT_LE(bytes, FirmwareStatusInfo::kListBytes);
    EXPECT_EQ(p.fw.versions.size(), p.fw.dates.size());
    EXPECT_EQ(p.fw.versions.size(), 6u);
    EXPECT_EQ(p.fw.image_count, 10);
}

TEST(SysInfoParse, AbsentOutputsAreSkippedAndGivenOnesCleared)
{
    std::string name = "stale", serial = "stale";
    SysInfoOut out;
    out.name = &name;
    out.serial_no = &serial;
    EXPECT_EQ(SysInfoParse("NAME: fresh\r\n", out), 0);
    EXPECT_EQ(name, "fresh");
    EXPECT_EQ(serial, "");
    EXPECT_EQ(SysInfoParse(kBase, SysInfoOut {}), 1);
}

TEST(SysInfoBuild, ParsesBackToTheSameFields)
{
    SysInfoFields f;
    f.device_type = "Morvak 800 ISDN";
    f.hw_release = "A";
    f.fw_version = "3.52.0017";
    f.fw_date = "12.05.2003";
    f.serial_no = "061370800123";
    f.name = "sim-1";
    f.mac_address = "00a057000001";
    f.ip_address = "0.0.0.0";
    f.ip_netmask = "255.255.255.0";
    f.config_status = 0x80;
    f.time = "12304501022004";
    f.fw_status = "0;1;1;3.52.01052003.upx;3.50m.01012003.upx";
    f.solvane_port = 0;
    f.feature_word = "1101";
    f.hw_mask = "11";
    Parsed p = Parse(SysInfoBuild(f));
    EXPECT_EQ(p.valid, 1);
    EXPECT_EQ(p.device_type, f.device_type);
    EXPECT_EQ(p.hw_release, f.hw_release);
    EXPECT_EQ(p.fw_version, f.fw_version);
    EXPECT_EQ(p.fw_date, f.fw_date);
    EXPECT_EQ(p.serial_no, f.serial_no);
    EXPECT_EQ(p.name, f.name);
    EXPECT_EQ(p.mac, f.mac_address);
    EXPECT_EQ(p.ip, f.ip_address);
    EXPECT_EQ(p.netmask, f.ip_netmask);
    EXPECT_EQ(p.time, f.time);
    EXPECT_EQ(p.feature_word, 13u);
    EXPECT_EQ(p.hw_mask, 3u);
    EXPECT_EQ(p.fw.image_count, 2);
    EXPECT_EQ(p.flags,
        DevFlagUnconfigured | DevFlagNoPseudoProbe | DevFlagHasTime | DevFlagTimeValid | DevFlagFirmwareImages
            | DevFlagAsymmetric | DevFlagFeatureWord | DevFlagHwMask);
}

} // namespace
