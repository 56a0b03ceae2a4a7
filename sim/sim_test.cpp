#include "common/tempstream.h"
#include "common/text.h"
#include "device/devcmd.h"
#include "device/deviceentry.h"
#include "device/devstatus.h"
#include "device/firmware.h"
#include "device/sysinfo.h"
#include "sim/simfleet.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {
uint16_t TestPort()
{
    return static_cast<uint16_t>(20000 + getpid() % 20000);
}

std::string FreshDir(const char* name)
{
    std::string dir = (std::filesystem::temp_directory_path() / StrFormat("simtest-%d-%s", getpid(), name)).string();
    std::filesystem::remove_all(dir);
    return dir;
}

// A fleet served by its own thread, as morvaksim runs it.
struct LiveFleet {
    SimFleet fleet;
    std::atomic<bool> stop { false };
    std::thread thread;
    std::vector<std::string> requests;
    std::mutex lock;

    explicit LiveFleet(const SimSettings& settings)
    {
        fleet.onRequest = [this](size_t i, const SimRequest& r, NetAddress) {
            std::lock_guard<std::mutex> guard(lock);
            std::string line = StrFormat("%zu %s %s", i, r.write ? "WRQ" : "RRQ", r.file.c_str());
            for (auto& [name, value] : r.options)
                line += " " + name + "=" + value;
            requests.push_back(line);
        };
        std::string error;
        started = fleet.Start(settings, &error);
        EXPECT_EQ(started, 1) << error;
        if (started)
            thread = std::thread([this] { fleet.Run(stop); });
    }
    ~LiveFleet()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    int started = 0;
};

SimSettings Settings(const char* name, uint32_t address, uint32_t count = 1)
{
    SimSettings s;
    s.dir = FreshDir(name);
    s.port = TestPort();
    s.count = count;
    s.address = address;
    s.device.restartMs = 300;
    return s;
}

std::string Get(uint32_t address, const std::string& file, int32_t blockSize = 512, uint32_t timeoutMs = 2000)
{
    TftpMemoryStream stream;
    if (!TftpGet(address, TestPort(), file.c_str(), stream, timeoutMs, blockSize))
        return StrFormat("failed %d", TftpLastError);
    return stream.Data();
}
} // namespace

TEST(SimTransfer, ServesAcrossTheBlockNumberWrapAndIgnoresDuplicateAcks)
{
    SimRequest request;
    request.blockSize = 8;
    NetAddress client { 0x7f000001, 5000 };
    std::string data(65535 * 8 + 2, 'w'); // the last block is number 65536, sent as 0
    SimTransfer t(request, client, data, {});
    t.Start(0);
    ASSERT_EQ(t.Outbox().size(), 1u); // the OACK
    t.Outbox().clear();
    std::string got;
    uint16_t block = 0;
    for (int guard = 0; guard < 70000 && t.GetState() == SimTransfer::State::Running; ++guard) {
        uint8_t ack[4] = { 0, 4, static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block) };
        t.Receive(ack, 4, client, 0);
        t.Receive(ack, 4, client, 0); // a duplicate ACK must not send the block twice
        if (t.GetState() != SimTransfer::State::Running)
            break;
        ASSERT_EQ(t.Outbox().size(), 1u);
        auto& d = t.Outbox()[0].bytes;
        block = static_cast<uint16_t>(d[2] << 8 | d[3]);
        got.append(d.begin() + 4, d.end());
        t.Outbox().clear();
    }
    EXPECT_EQ(t.GetState(), SimTransfer::State::Done);
    EXPECT_EQ(got, data);
    EXPECT_EQ(block, 0);
}

TEST(SimRequest, ParsesOptionsAndRefusesMalformed)
{
    std::string rrq("\0\1sysinfo\0octet\0blksize\0"
                    "1024\0",
        30);
    SimRequest r;
    ASSERT_TRUE(SimParseRequest(reinterpret_cast<const uint8_t*>(rrq.data()), rrq.size(), &r));
    EXPECT_EQ(r.file, "sysinfo");
    EXPECT_EQ(r.blockSize, 1024);
    for (std::string bad : { std::string("\0\1", 2), std::string("\0\3x\0octet\0", 10), std::string("\0\1x\0oc", 6),
             std::string("\0\2\0octet\0", 9) }) {
        EXPECT_FALSE(SimParseRequest(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), &r));
    }
}

TEST(SimDevice, AnswersSysinfoAndConfiguration)
{
    SimSettings s = Settings("answers", 0x7f4d0001, 2);
    s.password = "geheim";
    LiveFleet live(s);
    ASSERT_TRUE(live.started);

    DeviceEntry entry;
    std::string netmask;
    ASSERT_EQ(SysInfoParseInto(Get(0x7f4d0002, "sysinfo"), entry, &netmask), 1);
    EXPECT_EQ(entry.device_type.str(), "Morvak 1100");
    EXPECT_EQ(entry.fw_version.str(), "3.10.0012");
    EXPECT_EQ(entry.name.str(), "MORVAK-0002");
    EXPECT_EQ(entry.fw_status.image_count, 2);
    EXPECT_TRUE(entry.flags & DevFlagTimeValid);
    EXPECT_EQ(netmask, "255.0.0.0");

    CfgTempStream config;
    ASSERT_EQ(config.Open(), 1);
    EXPECT_EQ(DevReadConfig(0x7f4d0001, TestPort(), "geheim", config, 2000, 512), DevStatusOk);
    std::string text = config.Contents();
    EXPECT_EQ(text.rfind("[Morvak 1100]\r\n", 0), 0u);
    EXPECT_NE(text.find("/ip/address = 127.77.0.1\r\n"), std::string::npos);
    EXPECT_NE(text.find("/sys/password = geheim\r\n"), std::string::npos);
    config.Clear();
    EXPECT_EQ(DevReadConfig(0x7f4d0001, TestPort(), "wrong", config, 2000, 512), DevStatusWrongPassword);
    EXPECT_EQ(Get(0x7f4d0001, "nosuchfile"), "failed 1");

    std::lock_guard<std::mutex> guard(live.lock);
    ASSERT_GE(live.requests.size(), 3u);
    EXPECT_EQ(live.requests[0], "1 RRQ sysinfo blksize=512");
    EXPECT_EQ(live.requests[1], "0 RRQ geheimreadconfig blksize=512");
}

TEST(SimDevice, PerDeviceRefusals)
{
    struct {
        const char* name;
        bool echo, refuse;
        int32_t status;
    } rows[] = { { "echo", true, false, DevStatusWrongPassword }, { "refuse", false, true, DevStatusAccessDenied } };
    uint32_t address = 0x7f4d0101;
    for (auto& row : rows) {
        SimSettings s = Settings(row.name, address);
        s.device.echoWrongPassword = row.echo;
        s.device.refuseAccess = row.refuse;
        LiveFleet live(s);
        CfgTempStream config;
        ASSERT_EQ(config.Open(), 1);
        EXPECT_EQ(DevReadConfig(address, TestPort(), "x", config, 2000, 512), row.status) << row.name;
        if (row.echo) {
            EXPECT_EQ(config.Contents(), "xreadconfig\r\n");
        }
        ++address;
    }
}

TEST(SimDevice, NegotiatesBlockSize)
{
    struct {
        bool truncated;
        uint32_t maxBlock;
        int32_t requested;
        uint32_t expected;
    } rows[] = { { false, 8192, 1024, 1024 }, { false, 600, 1024, 600 }, { true, 8192, 8192, 1432 } };
    uint32_t address = 0x7f4d0201;
    for (auto& row : rows) {
        SimSettings s = Settings("blksize", address);
        s.device.truncatedOack = row.truncated;
        s.device.maxBlockSize = row.maxBlock;
        LiveFleet live(s);
        FirmwareHeader header;
        header.letter = 'F';
        header.pattern = "Morvak_1100";
        header.version = "3.30";
        header.date = "01062024";
        std::string content = FirmwareBuildHeader(header) + std::string(5000, 'p');
        TftpMemoryStream up(content);
        // A firmware image goes through the same transfer; the device keeps it.
        auto link = std::make_unique<TftpUdpLink>();
        ASSERT_EQ(link->Open(), 1);
        TftpTransfer t(true, { address, TestPort() }, "writeflash_0", 2000, row.requested, up);
        EXPECT_EQ(TftpRun(t, *link, SystemClock(), nullptr, nullptr), 1);
        EXPECT_EQ(t.BlockSize(), row.expected);
        ++address;
    }
}

TEST(SimDevice, RestartsAtTheAddressOfAWrittenConfiguration)
{
    for (bool noRestart : { false, true }) {
        uint32_t oldAddress = noRestart ? 0x7f4d0311 : 0x7f4d0301;
        uint32_t newAddress = oldAddress + 8;
        SimSettings s = Settings(noRestart ? "apply" : "restart", oldAddress);
        s.device.noRestart = noRestart;
        s.device.restartMs = 800;
        std::string written;
        {
            LiveFleet live(s);
            CfgTempStream config;
            ASSERT_EQ(config.Open(), 1);
            ASSERT_EQ(DevReadConfig(oldAddress, TestPort(), "", config, 2000, 512), DevStatusOk);
            written = config.Contents();
            size_t at = written.find("/ip/address = ");
            written.replace(at, written.find("\r\n", at) - at, "/ip/address = " + NetAddressText(newAddress));
            at = written.find("/sys/name = ");
            written.replace(at, written.find("\r\n", at) - at, "/sys/name = BRANCH");
            CfgTempStream out;
            ASSERT_EQ(out.Open(), 1);
            out.Write(written);
            out.Rewind();
            ASSERT_EQ(DevWriteConfig(oldAddress, TestPort(), "", out, 2000, 512), DevStatusOk);
            std::string info;
            if (!noRestart) { // restarting: silent everywhere for a while
                EXPECT_EQ(DevSysInfo(newAddress, TestPort(), &info, 300, 512), DevStatusNoResponse);
            }
            EXPECT_EQ(DevSysInfo(newAddress, TestPort(), &info, 3000, 512), DevStatusOk);
            DeviceEntry entry;
            ASSERT_EQ(SysInfoParseInto(info, entry), 1);
            EXPECT_EQ(entry.name.str(), "BRANCH");
            EXPECT_EQ(entry.flags & DevFlagNoRestart, noRestart ? DevFlagNoRestart : 0u);
            EXPECT_EQ(DevSysInfo(oldAddress, TestPort(), &info, 300, 512), DevStatusNoResponse);
        }
        // A new run of the simulator finds the device where it was.
        LiveFleet again(s);
        std::string info;
        EXPECT_EQ(DevSysInfo(newAddress, TestPort(), &info, 2000, 512), DevStatusOk);
        CfgTempStream config;
        ASSERT_EQ(config.Open(), 1);
        ASSERT_EQ(DevReadConfig(newAddress, TestPort(), "", config, 2000, 512), DevStatusOk);
        EXPECT_EQ(config.Contents(), written);
    }
}

TEST(SimDevice, ImagesAndClock)
{
    uint32_t address = 0x7f4d0401;
    SimSettings s = Settings("images", address);
    s.device.restartMs = 200;
    LiveFleet live(s);
    EXPECT_EQ(DevActivateImage(address, TestPort(), "", 1, 2000, 512), DevStatusOk); // pauses 3 s
    EXPECT_EQ(DevActivateImage(address, TestPort(), "", 5, 2000, 512), DevStatusUnknown);
    EXPECT_EQ(DevSetTime(address, TestPort(), "", "10203005062001", 2000, 512), DevStatusOk);
    EXPECT_EQ(DevSetTime(address, TestPort(), "", "99999999999999", 2000, 512), DevStatusUnknown);
    DeviceEntry entry;
    ASSERT_EQ(SysInfoParseInto(Get(address, "sysinfo"), entry), 1);
    EXPECT_EQ(entry.fw_version.str(), "3.22.0005");
    EXPECT_EQ(entry.fw_status.active, 1);
    EXPECT_EQ(entry.cSysTime.str().substr(6), "05062001"); // the seconds run on
    EXPECT_EQ(entry.cSysTime.str().substr(0, 4), "1020");
}

TEST(SimDevice, ReadsTimeFieldsAsDecimal)
{
    struct {
        const char* text;
        bool ok;
        std::time_t at;
    } rows[] = {
        { "09080708092026", true, 1788858487 }, // 09:08:07 on 8 September 2026: every field with a leading 0
        { "23595931121999", true, 946684799 },
        { "00000001011970", true, 0 },
        { "24000001012000", false, 0 },
        { "00000000012000", false, 0 },
        { "00000001132000", false, 0 },
        { "0000000101200", false, 0 },
        { "0000000101200x", false, 0 },
    };
    for (const auto& row : rows) {
        std::time_t t = -1;
        EXPECT_EQ(SimParseTime(row.text, &t), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(t, row.at) << row.text;
        }
    }
}

TEST(SimDevice, FaultsTheClientSurvives)
{
    struct {
        const char* name;
        SimFaults faults;
        bool ok;
    } rows[] = {
        { "drop", { 3, 0, 0, -1, false }, true },
        { "duplicate", { 0, 2, 0, -1, false }, true },
        { "delay", { 0, 0, 300, -1, false }, true },
        { "stray port", { 0, 0, 0, -1, true }, true },
        { "silent", { 0, 0, 0, 3, false }, false },
    };
    uint32_t address = 0x7f4d0501;
    for (auto& row : rows) {
        SimSettings s = Settings(row.name, address);
        s.faults = row.faults;
        LiveFleet live(s);
        CfgTempStream config;
        ASSERT_EQ(config.Open(), 1);
        EXPECT_EQ(DevReadConfig(address, TestPort(), "", config, 2500, 128) == DevStatusOk, row.ok) << row.name;
        if (row.ok) {
            EXPECT_EQ(config.Contents(), live.fleet.Device(0).config) << row.name;
        }
        ++address;
    }
}

TEST(SimTime, FieldsAreDecimal)
{
    // 09:08:07 on 8 September 2026: fields with a leading zero and an 8 or 9 are not octal.
    std::time_t t = 0;
    ASSERT_TRUE(SimParseTime("09080708092026", &t));
    EXPECT_EQ(t, 1788858487);
    EXPECT_FALSE(SimParseTime("24000001012026", &t));
}
