// The serial console against morvaksim's console on a pseudo-terminal: check, read, write and the
// restart wait through the device operations, the console's configuration against the one TFTP reads,
// the serial phase of the search, and qorvexal-cli on "serial:PATH". The console runs at 38400 baud, so
// every operation goes through all three rows of the probe. The dial-up link runs over the scripted
// platform (the "dialled" link is loopback), with the pauses skipped.
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/startup/startup.h"
#include "device/console.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/search.h"
#include "device/tftp.h"
#include "tests/integration/child_process.h"

#include <atomic>
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

int Shell(const std::string& command, std::string* out)
{
    std::string file = StrFormat("serial-it-%d.out", getpid());
    int rc = std::system((command + " > " + file + " 2>&1").c_str());
    FileReadAll(file, out);
    fs::remove(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

// A simulated device with its console linked at a short relative path (a DeviceEntry holds 15
// characters of port name), started and waited for.
struct SimWithConsole {
    std::string dir;
    std::string link;
    std::string log;
    uint16_t port = 0;
    uint32_t address;
    std::unique_ptr<testing_child::Morvaksim> child;

    SimWithConsole(uint32_t at, std::vector<std::string> extra)
        : address(at)
    {
        char pattern[] = "vqXXXXXX";
        dir = mkdtemp(pattern) ? pattern : "";
        link = dir + "/ttyA";
        log = dir + "/sim.log";
        port = FreePort();
        std::vector<std::string> args = { "--dir", dir + "/state", "--port", std::to_string(port), "--serial", link,
            "--console-baud", "38400", "--verbose", "--restart-ms", "1500" };
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(NetAddressText(at));
        child = std::make_unique<testing_child::Morvaksim>(args, log);
    }
    ~SimWithConsole()
    {
        child.reset();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // Ready once the simulator says that the device and its console listen.
    bool Ready()
    {
        return child->Ready();
    }
    std::string Log()
    {
        std::string text;
        FileReadAll(log, &text);
        return text;
    }
    std::string ConfigOverTftp(const std::string& password)
    {
        TftpMemoryStream s;
        if (!TftpGet(address, port, (password + "readconfig").c_str(), s, 2000, 512))
            return "(failed)";
        return std::string(s.Data().begin(), s.Data().end());
    }
};

DeviceEntry SerialEntry(const std::string& link, const std::string& password)
{
    DeviceEntry e;
    e.link = LinkSerial;
    e.line_name = link;
    e.password = password;
    return e;
}
} // namespace

TEST(SerialConsole, CheckReadWriteRestartAgainstMorvaksim)
{
    SimWithConsole sim(0x7f003501, { "--password", "geheim" });
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    ASSERT_LE(sim.link.size(), 15u);
    DeviceEntry entry = SerialEntry(sim.link, "geheim");

    ASSERT_EQ(DevOpCheck(entry), 1) << DevStatusText(entry.status.load()) << "\n" << sim.Log();
    EXPECT_EQ(entry.name.str(), "MORVAK-0001");
    EXPECT_EQ(entry.device_type.str(), "Morvak 1100");
    EXPECT_EQ(entry.fw_version.str(), "3.10.0012");
    EXPECT_FALSE(entry.serial_no.empty());
    EXPECT_TRUE(entry.flags & DevFlagFeatureWord);
    EXPECT_EQ(entry.feature_word, 5u);
    EXPECT_TRUE(entry.flags & DevFlagTimeValid);
    // The client's line settings as morvaksim saw them: every probe row, the handshake on.
    std::string log = sim.Log();
    EXPECT_NE(log.find(sim.link + ": line 115200 8N1 rtscts=on"), std::string::npos) << log;
    EXPECT_NE(log.find(sim.link + ": line 38400 8N1 rtscts=on"), std::string::npos) << log;

    // The configuration over the console is the one TFTP reads.
    std::shared_ptr<CfgTempStream> stream;
    ASSERT_EQ(DevOpReadConfig(entry, &stream), 1) << DevStatusText(entry.status.load());
    ASSERT_TRUE(stream);
    std::string config = stream->Contents();
    EXPECT_EQ(config, sim.ConfigOverTftp("geheim"));
    EXPECT_GT(entry.progress.load(), 10);

    // A changed configuration written over the console; the device restarts and answers again.
    size_t at = config.find("/sys/location = ");
    ASSERT_NE(at, std::string::npos);
    config.insert(at + 16, "Lab 4");
    CfgTempStream out;
    ASSERT_TRUE(out.Open());
    out.Write(config);
    ASSERT_EQ(DevOpWriteConfig(entry, out), 1) << DevStatusText(entry.status.load());
    entry.cancel = 0;
    ASSERT_EQ(DevOpWaitRestart(entry, DevWaitRestarts, 0), 1) << DevStatusText(entry.status.load());
    EXPECT_EQ(sim.ConfigOverTftp("geheim"), config);
    EXPECT_NE(sim.Log().find("restarting"), std::string::npos);

    // A wrong password.
    DeviceEntry wrong = SerialEntry(sim.link, "nope");
    EXPECT_EQ(DevOpCheck(wrong), 0);
    EXPECT_EQ(wrong.status.load(), DevStatusWrongPassword);
}

TEST(SerialConsole, SearchAndCommandLine)
{
    SimWithConsole sim(0x7f003601, { "--banner", "unquoted" });
    ASSERT_TRUE(sim.Ready()) << sim.Log();

    // The serial phase of the search over the named port, and a port that does not exist.
    ConsoleSerialSearch serial({ sim.dir + "/none", sim.link });
    SearchRequest request;
    request.what = SearchSerialPorts;
    std::vector<DeviceEntry> results;
    SearchEnv env;
    env.serial = &serial;
    env.network = false;
    EXPECT_EQ(DeviceSearch(request, results, SearchSettings {}, env), 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].link, LinkSerial);
    EXPECT_EQ(results[0].line_name.str(), sim.link);
    EXPECT_EQ(results[0].name.str(), "MORVAK-0001"); // the name line without quotes
    EXPECT_EQ(results[0].local, 1);

    // qorvexal-cli: check, the enumeration from the settings, the search, no handshake.
    std::string cli = Bin("qorvexal-cli");
    std::string ini = sim.dir + "/q.ini";
    FileWriteAtomic(ini, "[Options]\r\nSerialPorts=" + sim.link + ";" + sim.dir + "/0123456789abcdef\r\n");
    std::string out;
    EXPECT_EQ(Shell(cli + " --ini " + ini + " --nortscts check serial:" + sim.link, &out), 0) << out;
    EXPECT_NE(out.find("Ok"), std::string::npos) << out;
    EXPECT_NE(sim.Log().find(sim.link + ": line 38400 8N1 rtscts=off"), std::string::npos) << sim.Log();
    EXPECT_EQ(Shell(cli + " --ini " + ini + " serial ports", &out), 0) << out;
    EXPECT_NE(out.find(sim.link + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("too long"), std::string::npos) << out; // the long name is named, not cut
    EXPECT_EQ(Shell(cli + " --ini " + ini + " search --no-local --serial", &out), 0) << out;
    EXPECT_NE(out.find("1 device(s) found, 1 new"), std::string::npos) << out;
    EXPECT_EQ(Shell(cli + " check serial:" + sim.dir + "/0123456789abcdef", &out), 2) << out;
    EXPECT_NE(out.find("too long"), std::string::npos) << out;
    EXPECT_EQ(Shell(cli + " check -p wrong serial:" + sim.link, &out), 1) << out;
    EXPECT_NE(out.find("Wrong password"), std::string::npos) << out;
    EXPECT_EQ(Shell(cli + " check serial:" + sim.dir + "/none", &out), 1) << out;
    EXPECT_NE(out.find("Serial error"), std::string::npos) << out;
}

TEST(SerialConsole, SilentConsole)
{
    SimWithConsole sim(0x7f003701, { "--console-silent" });
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    DeviceEntry entry = SerialEntry(sim.link, "");
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusNoResponse);
}

namespace {
// Real time with the pauses skipped: the restart and retry waits cost nothing, the device's own
// restart still takes its real time.
class SkipClock : public Clock {
public:
    uint32_t TickMs() override
    {
        return SystemClock().TickMs() + skipped_.load();
    }
    void SleepMs(uint32_t ms) override
    {
        skipped_ += ms;
        if (ms >= 100)
            SystemClock().SleepMs(5); // a little real time, so that a restarting device gets on
    }
    void Skip(uint32_t ms)
    {
        skipped_ += ms;
    }

private:
    std::atomic<uint32_t> skipped_ { 0 };
};

struct DialUp : ::testing::Test {
    SkipClock clock;
    std::unique_ptr<DialupScript> script;

    void Use(std::vector<DialupScriptStep> steps)
    {
        DialupSetEnvironment({});
        script = std::make_unique<DialupScript>(clock, std::move(steps));
        DialupSetEnvironment({ script.get(), &clock, {}, {} });
    }
    void SetUp() override
    {
        TftpSetEnvironment({ &clock, {} });
        Use({ DialupScriptStep() });
    }
    void TearDown() override
    {
        DialupSetEnvironment({});
        TftpSetEnvironment({});
    }
    DeviceEntry Entry(const SimWithConsole& sim, const std::string& password)
    {
        DeviceEntry e;
        e.link = LinkDialUp;
        e.phone_number = "0301234";
        e.address = sim.address;
        e.address_list[0] = sim.address;
        e.port = sim.port;
        e.password = password;
        e.timeout_s = 2;
        e.ras_idle_s = 20;
        return e;
    }
};
} // namespace

TEST_F(DialUp, CheckReadWriteRestartThroughADialledLink)
{
    SimWithConsole sim(0x7f003801, { "--password", "geheim" });
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    DeviceEntry entry = Entry(sim, "geheim");

    ASSERT_EQ(DevOpCheck(entry), 1) << DevStatusText(entry.status.load());
    EXPECT_EQ(entry.name.str(), "MORVAK-0001");
    EXPECT_EQ(script->Dials(), 1);
    EXPECT_EQ(script->log[0], "set Velquin Dial-Up Connection #1");
    EXPECT_TRUE(DialupIsConnected());

    // The next operations reuse the connection.
    std::shared_ptr<CfgTempStream> stream;
    ASSERT_EQ(DevOpReadConfig(entry, &stream), 1) << DevStatusText(entry.status.load());
    EXPECT_EQ(stream->Contents(), sim.ConfigOverTftp("geheim"));
    EXPECT_EQ(script->Dials(), 1);

    // A written configuration: the device restarts and drops the line; the restart wait dials again.
    std::string config = stream->Contents();
    size_t at = config.find("/sys/location = ");
    ASSERT_NE(at, std::string::npos);
    config.insert(at + 16, "Remote");
    CfgTempStream out;
    ASSERT_TRUE(out.Open());
    out.Write(config);
    out.Rewind(); // sent from the stream's position
    ASSERT_EQ(DevOpWriteConfig(entry, out), 1) << DevStatusText(entry.status.load());
    Use({ { DialupScriptStep::Fail, 500, 678 }, { DialupScriptStep::Fail, 500, 678 }, DialupScriptStep() });
    entry.cancel = 0;
    ASSERT_EQ(DevOpWaitRestart(entry, DevWaitRestarts, 0), 1) << DevStatusText(entry.status.load());
    EXPECT_EQ(script->Dials(), 3); // two failures, retried every 2 seconds
    EXPECT_EQ(sim.ConfigOverTftp("geheim"), config) << sim.Log();

    // Idle: hung up once ras_idle_s have passed.
    EXPECT_TRUE(DialupIsConnected());
    clock.Skip(21000);
    bool hungUp = false;
    for (int i = 0; i < 200 && !(hungUp = !DialupIsConnected()); ++i)
        SystemClock().SleepMs(10);
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(script->log.back(), "hangup");
}

TEST_F(DialUp, FailureAndCancel)
{
    SimWithConsole sim(0x7f003901, {});
    ASSERT_TRUE(sim.Ready()) << sim.Log();
    DeviceEntry entry = Entry(sim, "");

    // The platform refuses: "Dial-Up error" with its text; nothing reaches the device.
    Use({ { DialupScriptStep::Fail, 2000, 691 } });
    EXPECT_EQ(DevOpCheck(entry), 0);
    EXPECT_EQ(entry.status.load(), DevStatusDialUpError);
    EXPECT_EQ(DialupErrorText(entry.ras_error), "scripted error 691");
    EXPECT_TRUE(entry.name.empty());

    // Cancelled while dialling.
    Use({ { DialupScriptStep::Never } });
    std::thread canceller([&] {
        while (script->Dials() == 0)
            SystemClock().SleepMs(1);
        entry.cancel = 1;
    });
    std::shared_ptr<CfgTempStream> stream;
    EXPECT_EQ(DevOpReadConfig(entry, &stream), 0);
    canceller.join();
    EXPECT_TRUE(entry.status.load() == DevStatusCancelled || entry.ras_error == DialupErrorNoOutcome);
    EXPECT_FALSE(DialupIsConnected());

    // Without the substitute the native tool has no dial-up: 114 with a text, also through qorvexal-cli.
    std::string out;
    EXPECT_EQ(Shell(Bin("qorvexal-cli") + StrFormat(" check ras:0301234@127.0.57.1:%u", sim.port), &out), 1);
    EXPECT_NE(out.find("Dial-Up error: "), std::string::npos) << out;
}
