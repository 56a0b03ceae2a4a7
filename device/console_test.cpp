// The console over a recording substitute of the serial service, in simulated time: a scripted device
// answers what the console writes, and every call on the port is logged with the moment it happened.
#include "common/platform/registry.h"
#include "common/platform/serial.h"
#include "common/tempstream.h"
#include "device/console.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/serial_testport.h"
#include "device/tftp.h"

#include <cstring>
#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace {
// The port: every call is logged with its moment; the device's output is queued in order.
class RecordingPort : public TimedTestPort {
public:
    RecordingPort(ManualClock& clock, std::vector<std::string>& log)
        : TimedTestPort(clock)
        , log_(log)
    {
    }
    std::function<void(RecordingPort&, std::string_view)> onWrite;
    bool failWrites = false;

    void Log(const std::string& what)
    {
        log_.push_back(std::to_string(clock_.TickMs()) + " " + what);
    }
    // The device sends `text`, arriving `delayMs` from now (after what is queued already).
    void Send(std::string_view text, uint32_t delayMs = 2)
    {
        Arrive(std::string(text), delayMs, true);
    }

    int SetBaud(uint32_t b) override
    {
        Log("baud " + std::to_string(b));
        return TimedTestPort::SetBaud(b);
    }
    int Write(const void* data, size_t size) override
    {
        std::string text(static_cast<const char*>(data), size);
        Log("write " + Printable(text));
        if (failWrites)
            return 0;
        if (onWrite)
            onWrite(*this, text);
        return 1;
    }
    void SendBreak(uint32_t ms) override
    {
        Log("break " + std::to_string(ms));
        TimedTestPort::SendBreak(ms);
    }

    static std::string Printable(std::string_view text)
    {
        std::string out;
        for (char c : text)
            out += c == '\r' ? std::string("<CR>") : c == 0x1a ? std::string("<SUB>") : std::string(1, c);
        return out;
    }

private:
    std::vector<std::string>& log_;
};

// A scripted console: answers 0x1A at one speed, then banner, name line, password prompt, commands.
struct ScriptedConsole {
    uint32_t speed = 115200;
    std::string maker = "| Zevra ";
    std::string nameLine = "Connected to \"Office Router\", console 1";
    std::string password = "secret";
    std::string config = "[Morvak 1100]\r\n    /sys/name = Office\r\n    /ip/address = 10.0.0.1\r\n";
    bool silentAfterOutband = false;
    std::vector<std::string> written; // configuration lines received after "writeconfig"

    enum { Idle, Banner, Password, Shell, Writing } state = Idle;
    std::string line;

    void Attach(RecordingPort& port)
    {
        port.onWrite = [this](RecordingPort& p, std::string_view text) { Input(p, text); };
    }
    void Input(RecordingPort& p, std::string_view text)
    {
        if (p.baud != speed)
            return;
        for (char c : text) {
            if (c == 0x1a) {
                state = Banner;
                line.clear();
                p.Send("\r\nOutband\r\n");
                continue;
            }
            if (c != '\r') {
                line += c;
                continue;
            }
            if (silentAfterOutband)
                continue;
            std::string got;
            got.swap(line);
            Command(p, got);
        }
    }
    void Command(RecordingPort& p, const std::string& got)
    {
        switch (state) {
        case Idle:
            return;
        case Banner:
            p.Send("\r\n" + maker
                + "Morvak 1100\r\n| Ver. 3.22.0005 / 01.03.2006\r\n| SN.  012345678901234567\r\n"
                  "| Copyright\r\n\r\n"
                + nameLine + "\r\n\r\npassword:");
            state = Password;
            return;
        case Password:
            if (got == password) {
                p.Send("\r\nOffice Router:/\r\n> ");
                state = Shell;
            } else {
                p.Send("\r\nLogin incorrect\r\npassword:");
            }
            return;
        case Shell:
            if (got == "sysinfo")
                p.Send("\r\nDEVICE: Morvak 1100\r\nCONFIG-STATUS: 96\r\nFEATUREWORD: 101\r\nHW-MASK: 11\r\n"
                       "TIME: 10150001032006\r\n\r\nOffice Router:/\r\n> ");
            else if (got == "readconfig")
                p.Send("\r\n" + config + "\r\n\r\nOffice Router:/\r\n> ");
            else if (got == "writeconfig")
                state = Writing;
            else if (got == "x")
                state = Idle;
            return;
        case Writing:
            if (got.empty() && !written.empty())
                state = Shell;
            else if (!got.empty())
                written.push_back(got);
            return;
        }
    }
};

struct ConsoleTest : ::testing::Test {
    ManualClock clock { 1000 };
    std::vector<std::string> log;
    ScriptedConsole device;
    SerialOptions opened;
    std::string openedName;
    bool openFails = false;
    RecordingPort* port = nullptr;
    DeviceEntry entry;

    void SetUp() override
    {
        TftpSetEnvironment({ &clock, {} });
        ConsoleSetEnvironment({ [this](std::string_view name, const SerialOptions& options, std::string* error) {
            openedName = name;
            opened = options;
            if (openFails) {
                *error = "no such port";
                return std::unique_ptr<SerialPort>();
            }
            auto p = std::make_unique<RecordingPort>(clock, log);
            p->baud = options.baud;
            device.Attach(*p);
            port = p.get();
            return std::unique_ptr<SerialPort>(std::move(p));
        } });
        entry.link = LinkSerial;
        entry.line_name = "COM3";
        entry.password = "secret";
    }
    void TearDown() override
    {
        ConsoleSetEnvironment({});
        TftpSetEnvironment({});
        ConsoleSetHandshake(true);
    }
    std::vector<std::string> Find(const std::string& what) const
    {
        std::vector<std::string> found;
        for (const std::string& l : log)
            if (l.find(what) != std::string::npos)
                found.push_back(l);
        return found;
    }
    uint32_t TimeOf(const std::string& line) const
    {
        return static_cast<uint32_t>(std::stoul(line));
    }
};

TEST_F(ConsoleTest, ProbeFindsTheThirdRowWithBreaksAndPauses)
{
    device.speed = 38400;
    ASSERT_EQ(DevOpCheck(entry), 1);
    EXPECT_EQ(entry.status.load(), DevStatusOk);
    // Each row: the speed, a BREAK, then ten 0x1A a row's wait apart.
    std::vector<std::string> bauds = Find("baud");
    ASSERT_EQ(bauds.size(), 3u);
    EXPECT_NE(bauds[0].find("115200"), std::string::npos);
    EXPECT_NE(bauds[2].find("38400"), std::string::npos);
    std::vector<std::string> breaks = Find("break 500");
    ASSERT_GE(breaks.size(), 3u);
    std::vector<std::string> subs = Find("<SUB>");
    ASSERT_EQ(subs.size(), 21u); // 10 + 10 unanswered, the first of the third row answered
    // First row: 100 ms per try; after it a pause of 200 ms before the second row's speed.
    EXPECT_EQ(TimeOf(subs[1]) - TimeOf(subs[0]), 100u);
    EXPECT_EQ(TimeOf(bauds[1]) - (TimeOf(subs[9]) + 100), 200u);
    EXPECT_EQ(TimeOf(subs[11]) - TimeOf(subs[10]), 250u);
    EXPECT_EQ(TimeOf(bauds[2]) - (TimeOf(subs[19]) + 250), 200u);
    EXPECT_LT(TimeOf(breaks[2]), TimeOf(subs[20]));
    // "Outband" then 250 ms before the CR.
    std::vector<std::string> writes = Find("write");
    auto cr
        = std::find_if(writes.begin(), writes.end(), [](const std::string& l) { return l.ends_with("write <CR>"); });
    ASSERT_NE(cr, writes.end());
    EXPECT_EQ(TimeOf(*cr) - TimeOf(subs[20]), 2u + 250u);
    // The banner and the login.
    EXPECT_EQ(entry.device_type.str(), "Morvak 1100");
    EXPECT_EQ(entry.fw_version.str(), "3.22.0005");
    EXPECT_EQ(entry.fw_date.str(), "01.03.2006");
    EXPECT_EQ(entry.serial_no.str(), "012345678901234"); // 18 digits sent, 15 kept
    EXPECT_EQ(entry.name.str(), "Office Router");
    EXPECT_EQ(Find("write secret<CR>").size(), 1u);
    // The extra system information: CONFIG-STATUS 0x60, FEATUREWORD, HW-MASK and TIME as the system
    // information text sets them.
    EXPECT_EQ(entry.flags,
        uint32_t(DevFlagNoRestart | DevFlagSlowRestart | DevFlagFeatureWord | DevFlagHwMask | DevFlagHasTime
            | DevFlagTimeValid));
    EXPECT_EQ(entry.feature_word, 5u);
    EXPECT_EQ(entry.hw_mask, 3u);
    EXPECT_EQ(entry.cSysTime.str(), "10150001032006");
    EXPECT_TRUE(opened.rtsCts);
    EXPECT_EQ(openedName, "COM3");
}

TEST_F(ConsoleTest, BannerVariants)
{
    struct Case {
        std::string maker;
        std::string nameLine;
        std::string name; // expected
    } cases[] = {
        { "| Zevra ", "Welcome to OFFICE-7, serial console", "OFFICE-7" },
        { "| Norvane ", "Welcome to OFFICE-7, line 1, serial console", "1" },
        { "| Keltra ", "Router \"Main\", \"Other\"", "Main" }, { "| Zevra ", "NoCommaHere", "NoCommaHere" },
        { "| Zevra ", "\"\" empty quotes", "Morvak 1100" }, // no name: the device type
    };
    for (const Case& c : cases) {
        device.maker = c.maker;
        device.nameLine = c.nameLine;
        DeviceEntry e = entry;
        EXPECT_EQ(DevOpCheck(e), 1) << c.nameLine;
        EXPECT_EQ(e.name.str(), c.name) << c.nameLine;
        EXPECT_EQ(e.device_type.str(), "Morvak 1100") << c.maker;
    }
    // A maker the console does not know: no banner, so no login.
    device.maker = "| Other ";
    DeviceEntry e = entry;
    EXPECT_EQ(DevOpCheck(e), 0);
    EXPECT_EQ(e.status.load(), DevStatusNoResponse); // the password prompt waits for an answer never sent
}

TEST_F(ConsoleTest, HandshakeFollowsNoRtsCts)
{
    ASSERT_EQ(DevOpCheck(entry), 1);
    EXPECT_TRUE(opened.rtsCts);
    EXPECT_EQ(opened.baud, 115200u);
    ConsoleSetHandshake(false);
    ASSERT_EQ(DevOpCheck(entry), 1);
    EXPECT_FALSE(opened.rtsCts);
}

TEST_F(ConsoleTest, Failures)
{
    // A refused password.
    entry.password = "wrong";
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusWrongPassword);

    // Outband, then silence: a BREAK and "No response".
    entry.password = "secret";
    device.silentAfterOutband = true;
    log.clear();
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoResponse);
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("break 500"), std::string::npos);

    // No console at any speed: three rows of ten tries.
    device.silentAfterOutband = false;
    device.speed = 9600;
    log.clear();
    uint32_t start = clock.TickMs();
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoResponse);
    EXPECT_EQ(Find("<SUB>").size(), 30u);
    EXPECT_EQ(clock.TickMs() - start, 3 * 500u + 1000 + 2500 + 2500 + 2 * 200);

    // The port does not open, or refuses what is written.
    openFails = true;
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusSerialError);
    openFails = false;
    device.speed = 115200;
    ConsoleSetEnvironment({ [this](std::string_view, const SerialOptions&, std::string*) {
        auto p = std::make_unique<RecordingPort>(clock, log);
        p->failWrites = true;
        return std::unique_ptr<SerialPort>(std::move(p));
    } });
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusSerialError);
}

TEST_F(ConsoleTest, CancelEndsWithZero)
{
    // Cancel while the probe runs: the scripted device never answers, the third 0x1A cancels.
    device.speed = 9600;
    int subs = 0;
    ConsoleSetEnvironment({ [&](std::string_view, const SerialOptions& options, std::string*) {
        auto p = std::make_unique<RecordingPort>(clock, log);
        p->baud = options.baud;
        p->onWrite = [&](RecordingPort&, std::string_view text) {
            if (text == "\x1a" && ++subs == 3)
                entry.cancel = 1;
        };
        return std::unique_ptr<SerialPort>(std::move(p));
    } });
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusCancelled);
    EXPECT_EQ(subs, 3);

    // Cancel while the configuration comes in.
    SetUp();
    device = ScriptedConsole();
    device.config.clear();
    for (int i = 0; i < 50; ++i)
        device.config += "    /item" + std::to_string(i) + " = 1\r\n";
    port = nullptr;
    bool armed = false;
    std::shared_ptr<CfgTempStream> stream;
    ConsoleSetEnvironment({ [&](std::string_view, const SerialOptions& options, std::string*) {
        auto p = std::make_unique<RecordingPort>(clock, log);
        p->baud = options.baud;
        device.Attach(*p);
        auto inner = p->onWrite;
        p->onWrite = [&, inner](RecordingPort& rp, std::string_view text) {
            inner(rp, text);
            if (text == "\r" && armed)
                entry.cancel = 1;
            armed = text == "readconfig";
        };
        return std::unique_ptr<SerialPort>(std::move(p));
    } });
    EXPECT_EQ(DevOpReadConfig(entry, &stream), 0);
    EXPECT_EQ(entry.status.load(), DevStatusCancelled);
    EXPECT_FALSE(stream);
}

TEST_F(ConsoleTest, ReadConfigEndsAtTheFirstEmptyLineAfterText)
{
    device.config = "\f\t \r\n[Morvak 1100]\r\n    /sys/name = Office\r\n \t\r\n    /after = lost\r\n";
    std::shared_ptr<CfgTempStream> stream;
    ASSERT_EQ(DevOpReadConfig(entry, &stream), 1);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Contents(), "[Morvak 1100]\r\n    /sys/name = Office\r\n");
    EXPECT_EQ(entry.progress.load(), 2);
    EXPECT_EQ(entry.progress_kind.load(), 0);
    EXPECT_EQ(Find("write x<CR>").size(), 1u);
    // "readconfig", 500 ms, then its CR.
    std::vector<std::string> cmd = Find("write readconfig");
    ASSERT_EQ(cmd.size(), 1u);
    auto at = std::find(log.begin(), log.end(), cmd[0]);
    ASSERT_NE(at + 1, log.end());
    EXPECT_EQ(*(at + 1), std::to_string(TimeOf(cmd[0]) + 500) + " write <CR>");
}

TEST_F(ConsoleTest, ReadConfigKeepsLongLinesWhole)
{
    std::string longValue(3000, 'v');
    device.config = "[Morvak 1100]\r\n    /long = " + longValue + "\r\n    /next = 1\r\n";
    std::shared_ptr<CfgTempStream> stream;
    ASSERT_EQ(DevOpReadConfig(entry, &stream), 1);
    EXPECT_EQ(stream->Contents(), device.config);
    EXPECT_EQ(entry.progress.load(), 3);
}

TEST_F(ConsoleTest, WriteConfigSendsEachLineTwentyMillisecondsApart)
{
    CfgTempStream file;
    ASSERT_TRUE(file.Open());
    file.Write("[Morvak 1100]\r\n    /sys/name = New\r\n\r\n    /ip/address = 10.0.0.9\n");
    ASSERT_EQ(DevOpWriteConfig(entry, file), 1);
    EXPECT_EQ(entry.status.load(), DevStatusOk);
    EXPECT_EQ(entry.cancel.load(), 1); // not cancellable once started
    EXPECT_EQ(device.written,
        (std::vector<std::string> { "[Morvak 1100]", "    /sys/name = New", "    /ip/address = 10.0.0.9" }));
    EXPECT_EQ(entry.progress.load(), 3);
    std::vector<std::string> lines = Find("write     /");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(TimeOf(lines[1]) - TimeOf(lines[0]), 20u);
    EXPECT_EQ(Find("write writeconfig<CR><CR>").size(), 1u);
    EXPECT_TRUE(Find("write sysinfo").empty()); // a write needs no feature data
    EXPECT_EQ(file.Tell(), 0u);
}

TEST_F(ConsoleTest, RestartWaitChecksUntilTheConsoleAnswers)
{
    // Silent for the first 9 seconds after the write: the first checks give "No response".
    uint32_t upAt = clock.TickMs() + 9000;
    ConsoleSetEnvironment({ [&](std::string_view, const SerialOptions& options, std::string*) {
        auto p = std::make_unique<RecordingPort>(clock, log);
        p->baud = options.baud;
        device.state = ScriptedConsole::Idle;
        device.Attach(*p);
        auto inner = p->onWrite;
        p->onWrite = [&, inner](RecordingPort& rp, std::string_view text) {
            if (static_cast<int32_t>(clock.TickMs() - upAt) >= 0)
                inner(rp, text);
        };
        return std::unique_ptr<SerialPort>(std::move(p));
    } });
    ASSERT_EQ(DevOpWaitRestart(entry, DevWaitRestarts, 0), 1);
    EXPECT_GE(clock.TickMs(), upAt);

    // A console that never comes back: given up once the allowed time has passed.
    upAt = clock.TickMs() + 1000000;
    uint32_t start = clock.TickMs();
    EXPECT_EQ(DevOpWaitRestart(entry, DevWaitRestarts, 5), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoResponse);
    EXPECT_GE(clock.TickMs() - start, 4000u + 15000u);
    EXPECT_LT(clock.TickMs() - start, 4000u + 15000u + 12000u); // one more probe at most
}

TEST_F(ConsoleTest, OtherOperationsHaveNoSerialProcedure)
{
    EXPECT_EQ(DevOpActivateImage(entry, 1), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoInterface);
    EXPECT_EQ(DevOpSetTime(entry, "120000010120250"), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoInterface);
}

// The line reader over the same substitute.
TEST_F(ConsoleTest, LineReader)
{
    RecordingPort p(clock, log);
    SerialLineReader reader(p, clock);
    std::string line;
    // A prompt without line end comes out once the time-out passes; nothing at all is silence.
    p.Send("first\r\nprompt:", 10);
    EXPECT_EQ(reader.ReadLine(&line, 256, 500), SerialLine);
    EXPECT_EQ(line, "first\r");
    uint32_t before = clock.TickMs();
    EXPECT_EQ(reader.ReadLine(&line, 256, 500), SerialLine);
    EXPECT_EQ(line, "prompt:");
    EXPECT_EQ(clock.TickMs() - before, 500u);
    EXPECT_EQ(reader.ReadLine(&line, 256, 500), SerialSilence);
    EXPECT_TRUE(line.empty());
    // The limit cuts; the rest follows. A line of exactly the limit is whole.
    p.Send("abcdefgh\nabcd\n");
    EXPECT_EQ(reader.ReadLine(&line, 5, 500), SerialLine);
    EXPECT_EQ(line, "abcde");
    EXPECT_TRUE(reader.LastLineCut());
    EXPECT_EQ(reader.ReadLine(&line, 5, 500), SerialLine);
    EXPECT_EQ(line, "fgh");
    EXPECT_FALSE(reader.LastLineCut());
    EXPECT_EQ(reader.ReadLine(&line, 4, 500), SerialLine);
    EXPECT_EQ(line, "abcd");
    EXPECT_FALSE(reader.LastLineCut());
    // A text split across reads is found; what follows it stays.
    p.Send("xxOut", 5);
    p.Send("band\r\nnext\n", 5);
    EXPECT_EQ(reader.WaitFor({ "Login", "Outband" }, 100), 1);
    EXPECT_EQ(reader.ReadLine(&line, 256, 100), SerialLine);
    EXPECT_EQ(line, "\r");
    EXPECT_EQ(reader.ReadLine(&line, 256, 100), SerialLine);
    EXPECT_EQ(line, "next");
    EXPECT_EQ(reader.WaitFor({ "Outband" }, 100), -1);
}

TEST(ConsolePorts, Registry)
{
    RegUseMemory(true);
    RegMemoryClear();
    RegKey nt;
    ASSERT_EQ(nt.Create(RegRoot::LocalMachine, "Hardware\\DeviceMap\\SerialComm"), RegStatus::Ok);
    nt.WriteString("\\Device\\Serial0", "COM1");
    nt.WriteString("\\Device\\Serial1", "COM10");
    nt.WriteString("\\Device\\VSerial", "com1"); // the same port again
    nt.WriteString("\\Device\\Long", "COM123456789012345"); // longer than an entry holds: left out
    nt.WriteDword("\\Device\\Odd", 7);
    EXPECT_EQ(ConsoleRegistryPorts(false), (std::vector<std::string> { "COM1", "COM10" }));

    RegKey port, printer, serialClass, printerClass;
    ASSERT_EQ(port.Create(RegRoot::LocalMachine, "Enum\\BIOS\\*PNP0501\\0C"), RegStatus::Ok);
    port.WriteString("PortName", "COM2");
    port.WriteString("Driver", "Ports\\0000");
    ASSERT_EQ(printer.Create(RegRoot::LocalMachine, "Enum\\BIOS\\*PNP0400\\0D"), RegStatus::Ok);
    printer.WriteString("PortName", "LPT1");
    printer.WriteString("Driver", "Ports\\0001");
    ASSERT_EQ(serialClass.Create(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\Class\\Ports\\0000"),
        RegStatus::Ok);
    serialClass.SetValue("PortSubClass", kRegBinary, std::string(1, '\x01'));
    ASSERT_EQ(printerClass.Create(RegRoot::LocalMachine, "System\\CurrentControlSet\\Services\\Class\\Ports\\0001"),
        RegStatus::Ok);
    printerClass.SetValue("PortSubClass", kRegBinary, std::string(1, '\x00'));
    EXPECT_EQ(ConsoleRegistryPorts(true), (std::vector<std::string> { "COM2" }));
    RegMemoryClear();
    RegUseMemory(false);
}

TEST(ConsolePorts, SplitAndLongNames)
{
    EXPECT_EQ(ConsoleSplitPortList(" /dev/ttyS0; ;com1;COM1;/dev/ttyUSB0;"),
        (std::vector<std::string> { "/dev/ttyS0", "com1", "/dev/ttyUSB0" }));
    EXPECT_TRUE(ConsoleSplitPortList("").empty());
}
} // namespace
