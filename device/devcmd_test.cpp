#include "common/tempstream.h"
#include "device/devcmd.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/sysinfo.h"
#include "device/tftp_testpeer.h"

#include <gtest/gtest.h>
#include <map>

namespace {
// A small network of scripted devices: each address answers requests through a TestServer configured
// by `answer` for the file asked for; addresses not in `up` stay silent.
struct FakeNet {
    ManualClock clock { 5000 };
    std::map<uint32_t, bool> up;
    std::function<void(TestServer&, uint32_t address, const std::string& file)> answer;
    std::vector<std::pair<NetAddress, std::string>> requests; // every request: destination and file
    std::vector<TestDatagram> lastSent;
    std::unique_ptr<TestServer> server;

    FakeNet()
    {
        TftpSetEnvironment({ &clock, [this]() {
                                auto link = std::make_unique<ScriptedLink>(clock);
                                server = std::make_unique<TestServer>();
                                ScriptedLink* raw = link.get();
                                link->onSend = [this, raw](ScriptedLink& l, const TestDatagram& d) {
                                    lastSent = raw->sent;
                                    if (raw->sent.size() == 1) { // the request (repeats are not counted)
                                        std::string file(reinterpret_cast<const char*>(d.bytes.data() + 2));
                                        requests.push_back({ d.address, file });
                                        *server = TestServer();
                                        server->tid = { d.address.ip, 41000 };
                                        if (!up[d.address.ip]) {
                                            server->ignoreFrom = 0;
                                            server->ignoreCount = -1;
                                        } else if (answer) {
                                            answer(*server, d.address.ip, file);
                                        }
                                    }
                                    server->Handle(l, d);
                                };
                                return std::unique_ptr<TftpLink>(std::move(link));
                            } });
        DevSetNetworkStack(1);
    }
    ~FakeNet()
    {
        TftpSetEnvironment({});
        DevSetNetworkStack(1);
    }
};

constexpr uint32_t kDevice = 0x7f000101;

std::string SysInfoText(const std::string& name)
{
    SysInfoFields f;
    f.device_type = "Morvak 1100";
    f.hw_release = "A";
    f.fw_version = "3.10.0012";
    f.fw_date = "14.05.2001";
    f.serial_no = "0123456789";
    f.name = name;
    f.mac_address = "00a057010203";
    f.ip_address = "127.0.1.1";
    return SysInfoBuild(f);
}
} // namespace

TEST(DevStatus, TranslatesTransferOutcome)
{
    std::atomic<int32_t> cancelled { 1 }, running { 0 };
    struct {
        int ok;
        int32_t error;
        bool password;
        const std::atomic<int32_t>* cancel;
        int32_t status;
    } rows[] = {
        { 1, 0, true, nullptr, 110 },
        { 0, 4, true, nullptr, 116 },
        { 0, 4, false, nullptr, 118 }, // sysinfo has no password
        { 0, -1, true, nullptr, 115 },
        { 0, 2, false, nullptr, 117 },
        { 0, 1, true, nullptr, 118 },
        { 0, 8, true, nullptr, 118 },
        { 0, 0, true, &cancelled, 0 },
        { 0, 0, true, &running, 113 },
        { 0, 0, true, nullptr, 113 },
    };
    for (auto& row : rows)
        EXPECT_EQ(DevStatusFromTftp(row.ok, row.error, row.password, row.cancel, row.error > 0), row.status)
            << row.ok << " " << row.error;
    // The client's own refusals (ERROR 4 to an oversized block, 8 to options) are unusable answers,
    // never a wrong password; a server's ERROR 0 is its answer, not a local failure.
    EXPECT_EQ(DevStatusFromTftp(0, 4, true, nullptr, false), 118);
    EXPECT_EQ(DevStatusFromTftp(0, 8, true, nullptr, false), 118);
    EXPECT_EQ(DevStatusFromTftp(0, 0, true, nullptr, true), 118);
    EXPECT_EQ(DevStatusFromTftp(0, 0, true, nullptr, false), 113);
    EXPECT_EQ(DevStatusText(110), "Ok");
    EXPECT_EQ(DevStatusText(115), "No response");
    EXPECT_EQ(DevStatusText(0), "");
}

// Progress texts: each kind with and without a rate; the dialling text has an id of its own (203 is
// the byte rate's), per cent stays within 0..100 and needs a total.
TEST(DevCommands, ProgressTexts)
{
    EXPECT_EQ(DevProgressText(DevProgressLines, 12, 0, 0, ""), "Line 12");
    EXPECT_EQ(DevProgressText(DevProgressBytes, 4096, 0, 0, ""), "4096 bytes");
    EXPECT_EQ(DevProgressText(DevProgressBytes, 4096, 0, 2048, ""), "4096 bytes (2048 bytes/sec)");
    EXPECT_EQ(DevProgressText(DevProgressPercent, 512, 2048, 0, ""), "25% finished");
    EXPECT_EQ(DevProgressText(DevProgressPercent, 4096, 2048, 100, ""), "100% finished (100 bytes/sec)");
    EXPECT_EQ(DevProgressText(DevProgressPercent, 300, 0, 0, ""), "300 bytes");
    EXPECT_EQ(DevProgressText(DevProgressDialing, 0, 0, 0, "0301234"), "Dialing 0301234 ...");
    EXPECT_EQ(DevProgressText(DevProgressNone, 5, 0, 0, ""), "");
    EXPECT_EQ(DevProgressText(204, 5, 0, 0, ""), "");
}

TEST(DevCommands, FileNames)
{
    EXPECT_EQ(DevCommandName("", "readconfig"), "readconfig");
    EXPECT_EQ(DevCommandName("geheim", "writeconfig"), "geheimwriteconfig");
    EXPECT_EQ(DevWriteFlashName("pw", 0x00020001), "pwwriteflash_1_2");
    EXPECT_EQ(DevWriteFlashName("pw", 0x00070000), "pwwriteflash_0");
    EXPECT_EQ(DevActivateImageName("", 1), "activateimage_1");
    EXPECT_EQ(DevSetTimeName("x", DevTimeText(9, 5, 7, 3, 11, 2001)), "xtime_p09050703112001");
}

TEST(DevReadConfig, ChecksTheAnswer)
{
    struct {
        const char* name;
        std::string content;
        uint16_t error;
        int32_t status;
    } rows[] = {
        { "configuration", "[Morvak 1100]\r\n[System]\r\n    Name = a\r\n", 0, 110 },
        { "header after blank lines", "\r\n  \r\n   [Morvak 1100]  \r\n", 0, 110 },
        { "echo of the request", "geheimreadconfig", 0, 116 },
        { "echo before a header", "note\r\nxreadconfig\r\n[Morvak 1100]\r\n", 0, 116 },
        { "readconfig after the header", "[Morvak 1100]\r\n    Note = readconfig\r\n", 0, 110 },
        { "no section header", "Name = a\r\nbracket ] only\r\n", 0, 118 },
        { "empty answer", "", 0, 118 },
        { "error 4", "", 4, 116 },
        { "error 2", "", 2, 117 },
        { "error 1", "", 1, 118 },
    };
    for (auto& row : rows) {
        FakeNet net;
        net.up[kDevice] = true;
        net.answer = [&](TestServer& s, uint32_t, const std::string& file) {
            EXPECT_EQ(file, "geheimreadconfig");
            s.content = row.content;
            if (row.error) {
                s.errorCode = row.error;
                s.errorMessage = "no";
            }
        };
        CfgTempStream stream;
        ASSERT_EQ(stream.Open(), 1);
        EXPECT_EQ(DevReadConfig(kDevice, 0, "geheim", stream, 5000, 512), row.status) << row.name;
        if (row.status == 110) {
            EXPECT_EQ(stream.Tell(), 0u) << row.name;
            EXPECT_EQ(stream.Contents(), row.content) << row.name;
        }
    }
}

TEST(DevCommands, SilenceCancelAndNoNetwork)
{
    {
        FakeNet net; // nobody up
        std::string text;
        uint32_t start = net.clock.TickMs();
        EXPECT_EQ(DevSysInfo(kDevice, 0, &text, 3000, 512), DevStatusNoResponse);
        EXPECT_EQ(net.clock.TickMs() - start, 3000u);
        EXPECT_EQ(net.requests[0].first, (NetAddress { kDevice, 69 })); // port 0 means 69
    }
    {
        FakeNet net;
        std::atomic<int32_t> cancel { 1 };
        EXPECT_EQ(DevSetTime(kDevice, 0, "", "00000001012001", 3000, 512, nullptr, &cancel), DevStatusCancelled);
        EXPECT_EQ(net.lastSent.back().Opcode(), 5);
    }
    {
        FakeNet net;
        net.up[kDevice] = true;
        DevSetNetworkStack(0);
        std::string text;
        EXPECT_EQ(DevSysInfo(kDevice, 0, &text, 3000, 512), DevStatusIpError);
        EXPECT_TRUE(net.requests.empty());
    }
}

TEST(DevCommands, PausesAfterSuccess)
{
    FakeNet net;
    net.up[kDevice] = true;
    net.answer = [](TestServer& s, uint32_t, const std::string&) { s.content = "ok"; };
    struct {
        const char* name;
        std::function<int32_t()> run;
        uint32_t pauseMs;
        const char* file;
    } rows[] = {
        { "activate", [] { return DevActivateImage(kDevice, 8069, "pw", 2, 3000, 512); }, 3000, "pwactivateimage_2" },
        { "time", [] { return DevSetTime(kDevice, 8069, "pw", "12000001012001", 3000, 512); }, 2000,
            "pwtime_p12000001012001" },
        { "flash",
            [] {
                TftpMemoryStream image(std::string(3000, 'u'));
                return DevWriteFlash(kDevice, 8069, "pw", 0x00010001, image, 3000, 512);
            },
            2000, "pwwriteflash_1_1" },
    };
    for (auto& row : rows) {
        uint32_t start = net.clock.TickMs();
        EXPECT_EQ(row.run(), DevStatusOk) << row.name;
        EXPECT_EQ(net.clock.TickMs() - start, row.pauseMs) << row.name;
        EXPECT_EQ(net.requests.back().second, row.file);
        EXPECT_EQ(net.requests.back().first.port, 8069);
    }
}

TEST(DevSysInfo, CapsTextAndMapsError4AsUnknown)
{
    FakeNet net;
    net.up[kDevice] = true;
    net.answer = [](TestServer& s, uint32_t, const std::string&) { s.content = std::string(3000, 's'); };
    std::string text;
    EXPECT_EQ(DevSysInfo(kDevice, 0, &text, 3000, 512), DevStatusOk);
    EXPECT_EQ(text.size(), 1023u);
    net.answer = [](TestServer& s, uint32_t, const std::string&) { s.errorCode = 4; };
    EXPECT_EQ(DevSysInfo(kDevice, 0, &text, 3000, 512), DevStatusUnknown);
}

TEST(DevOp, CheckAndReadConfig)
{
    FakeNet net;
    net.up[kDevice] = true;
    net.answer = [](TestServer& s, uint32_t, const std::string& file) {
        s.content = file == "sysinfo" ? SysInfoText("OFFICE") : "[Morvak 1100]\r\n";
    };
    DeviceEntry entry;
    entry.address = kDevice;
    entry.password = "pw";
    entry.cancel = 1;
    EXPECT_EQ(DevOpCheck(entry), 1);
    EXPECT_EQ(entry.status.load(), DevStatusOk);
    EXPECT_EQ(entry.cancel.load(), 0);
    EXPECT_EQ(entry.name.str(), "OFFICE");
    EXPECT_EQ(entry.device_type.str(), "Morvak 1100");

    std::shared_ptr<CfgTempStream> stream;
    uint32_t start = net.clock.TickMs();
    EXPECT_EQ(DevOpReadConfig(entry, &stream), 1);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Contents(), "[Morvak 1100]\r\n");
    EXPECT_GE(net.clock.TickMs() - start, 500u);
    EXPECT_EQ(entry.progress.load(), 15);
    EXPECT_EQ(entry.progress_kind.load(), 0);

    net.answer = [](TestServer& s, uint32_t, const std::string&) { s.content = "garbage"; };
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusUnknown);

    entry.link = LinkSerial; // no port named: the console cannot open one
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusSerialError);
    entry.link = 7;
    EXPECT_EQ(DevOpSetTime(entry, "12000001012001"), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoInterface);
}

TEST(DevOp, WriteConfigCannotBeCancelled)
{
    FakeNet net;
    net.up[kDevice] = true;
    DeviceEntry entry;
    entry.address = kDevice;
    CfgTempStream text;
    ASSERT_EQ(text.Open(), 1);
    text.Write(std::string(1500, 'c'));
    text.Rewind();
    EXPECT_EQ(DevOpWriteConfig(entry, text), 1);
    EXPECT_EQ(entry.cancel.load(), 1);
    EXPECT_EQ(net.server->received, std::string(1500, 'c'));
    EXPECT_EQ(net.requests.back().second, "writeconfig");
}

TEST(DevOp, WaitForRestartTriesFurtherAddresses)
{
    constexpr uint32_t kNew = 0x7f000205;
    struct {
        const char* name;
        uint32_t flags;
        bool oldUp, newUp;
        int ok;
        uint32_t address;
        size_t requests; // sysinfo requests in all
    } rows[] = {
        { "back at its address", DevWaitRestarts | DevWaitFurtherAddresses, true, false, 1, kDevice, 1 },
        { "back at a new address", DevWaitRestarts | DevWaitFurtherAddresses, false, true, 1, kNew, 3 },
        { "new address not tried", DevWaitRestarts, false, true, 0, kDevice, 1 },
        { "gone", DevWaitRestarts | DevWaitFurtherAddresses, false, false, 0, kDevice, 2 },
    };
    for (auto& row : rows) {
        FakeNet net;
        net.up[kDevice] = row.oldUp;
        net.up[kNew] = row.newUp;
        net.answer = [](TestServer& s, uint32_t, const std::string&) { s.content = SysInfoText("BRANCH"); };
        DeviceEntry entry;
        entry.address = kDevice;
        entry.timeout_s = 5;
        entry.address_list[0] = kDevice;
        entry.address_list[1] = 0x7f000204; // silent
        entry.address_list[2] = kNew;
        if (!row.oldUp && !row.newUp)
            entry.address_list[2] = 0; // only the silent further address
        entry.status = DevStatusRestarting;
        uint32_t start = net.clock.TickMs();
        EXPECT_EQ(DevOpWaitRestart(entry, row.flags, 30), row.ok) << row.name;
        EXPECT_EQ(entry.address, row.address) << row.name;
        EXPECT_EQ(entry.timeout_s, 5) << row.name;
        EXPECT_EQ(net.requests.size(), row.requests) << row.name;
        if (!row.oldUp) {
            // 4 s before the first try, then the raised time-out (5 + 30 + 10 s) for the silent address.
            EXPECT_GE(net.clock.TickMs() - start, 4000u + 45000u) << row.name;
        }
    }
}

TEST(DevOp, WaitForRestartCanBeCancelled)
{
    FakeNet net;
    DeviceEntry entry;
    entry.address = kDevice;
    entry.cancel = 1;
    entry.status = DevStatusRestarting;
    EXPECT_EQ(DevOpWaitRestart(entry, DevWaitRestarts, 0), 0);
    EXPECT_EQ(entry.status.load(), DevStatusCancelled);
    EXPECT_TRUE(net.requests.empty());
}
