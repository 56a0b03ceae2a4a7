// The CAPI control task's logic: command line, display name, help contexts, "StatusWindow", the tray
// icon, switching the CAPI on and off, power events, the service rules, the status tree and its texts.
#include "capictl/capi_keys.h"
#include "capictl/capi_status.h"
#include "capictl/capi_task.h"
#include "capictl/capi_testrecords.h"
#include "capictl/ostrel_task.h"
#include "capictl/ostrel_tree.h"
#include "common/platform/registry.h"
#include "common/strings.h"
#include "common/text.h"

#include <condition_variable>
#include <ctime>
#include <gtest/gtest.h>
#include <mutex>

namespace {
const std::string kSettings = "System\\CurrentControlSet\\Services\\ZevraCapiCtl\\Settings";
const std::string kRCapi = "System\\CurrentControlSet\\Services\\ZevraCapiDrv\\Parameters\\RCapi";

// A driver that keeps every status request pending until cancelled and records the control buffers;
// the tests publish status buffers themselves.
struct Recorder {
    std::mutex mutex;
    std::vector<std::string> controls;
};

class PendingDevice : public CapiDevice {
public:
    explicit PendingDevice(Recorder& r)
        : r_(r)
    {
    }
    uint32_t GetStatus(uint8_t*, uint32_t, uint32_t*) override
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cancelled_.wait(lock, [&] { return cancelled; });
        return kCapiErrorAborted;
    }
    uint32_t Control(const uint8_t* data, uint32_t size) override
    {
        std::lock_guard<std::mutex> lock(r_.mutex);
        r_.controls.emplace_back(reinterpret_cast<const char*>(data), size);
        return 0;
    }
    void Cancel() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled = true;
        cancelled_.notify_all();
    }

private:
    Recorder& r_;
    std::mutex mutex_;
    std::condition_variable cancelled_;
    bool cancelled = false;
};

void Publish(const std::string& status)
{
    std::vector<uint8_t> working(status.begin(), status.end());
    CapiStatus().Swap(working, static_cast<uint32_t>(status.size()));
}

class Ostrel : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegUseMemory(true);
        RegMemoryClear();
        StrSetLanguage(1033);
        CapiPlatform p;
        p.open = [this](const std::string&, uint32_t*) -> std::unique_ptr<CapiDevice> {
            return std::make_unique<PendingDevice>(recorder);
        };
        CapiSetPlatform(p);
        ASSERT_EQ(CapiOpen(), 1);
    }
    void TearDown() override
    {
        CapiClose();
        CapiStatus().Clear();
        RegUseMemory(false);
    }
    std::vector<std::string> Controls()
    {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        return recorder.controls;
    }
    std::optional<uint32_t> Dword(const std::string& path, const char* name)
    {
        RegKey key;
        if (key.Open(RegRoot::LocalMachine, path) != RegStatus::Ok)
            return std::nullopt;
        return key.ReadDword(name);
    }
    Recorder recorder;
};

const std::string kName = "Zevra Remote CAPI";
} // namespace

TEST(OstrelOptions, EachOptionOnItsOwnAndLoadListSplitApart)
{
    OstrelOptions o = OstrelParseCommandLine("  /LOAD:capi1,,capi2 /debug:7 /NoSvc  /device:RCAPI /DevVxd:vcapi /x");
    EXPECT_TRUE(o.noService);
    EXPECT_EQ(o.device, "RCAPI");
    EXPECT_EQ(o.altDevice, "vcapi");
    EXPECT_EQ(o.load, (std::vector<std::string> { "capi1", "capi2" }));

    OstrelOptions d = OstrelParseCommandLine("/device: /load:");
    EXPECT_FALSE(d.noService);
    EXPECT_EQ(d.device, "CAPI201");
    EXPECT_TRUE(d.altDevice.empty());
    EXPECT_TRUE(d.load.empty());
    // "/devvxd:" is not taken for "/device:" nor the other way round.
    EXPECT_EQ(OstrelParseCommandLine("/devvxd:a").device, "CAPI201");
}

TEST(OstrelOptions, StatusWindowValueCountsAsTheScanDoes)
{
    OstrelStatusWindowValue v = OstrelParseStatusWindow("10,20,1,1,300,200");
    EXPECT_EQ(v.count, 5);
    EXPECT_EQ(v.left, 10);
    EXPECT_EQ(v.top, 20);
    EXPECT_TRUE(v.details);
    EXPECT_TRUE(v.openAtExit);
    EXPECT_EQ(v.width, 300);
    EXPECT_EQ(v.height, 200);
    EXPECT_EQ(OstrelParseStatusWindow("10,20,0").count, 3);
    EXPECT_EQ(OstrelParseStatusWindow("10,20,1,0").count, 3);
    EXPECT_EQ(OstrelParseStatusWindow("10,20,1,0,300").count, 4);
    EXPECT_EQ(OstrelParseStatusWindow("-5, 7,1,1, +300,200x").count, 5);
    EXPECT_EQ(OstrelParseStatusWindow("10;20").count, 1);
    EXPECT_EQ(OstrelParseStatusWindow("").count, 0);
    EXPECT_EQ(OstrelParseStatusWindow("99999999999,1").count, 0);
    EXPECT_EQ(OstrelParseStatusWindow("-2147483648,1").left, INT32_MIN);
    EXPECT_EQ(OstrelFormatStatusWindow(-4, 8, true, false, 310, 220), "-4,8,1,0,310,220");
}

TEST(OstrelOptions, StatusWindowOpensWhereItWasKeptOnTheWorkArea)
{
    PlaceRect collapsed { 0, 0, 280, 120 }, expanded { 0, 0, 280, 300 }, work { 0, 0, 1024, 740 };
    auto p = OstrelPlaceStatusWindow(OstrelParseStatusWindow("10,20,1,1,300,200"), collapsed, expanded, 0, 0, work);
    // The height below the initial expanded size is raised to it.
    EXPECT_EQ(p.rect, (PlaceRect { 10, 20, 310, 320 }));
    EXPECT_TRUE(p.details);
    p = OstrelPlaceStatusWindow(OstrelParseStatusWindow("10,20,1,1,300,400"), collapsed, expanded, 0, 0, work);
    EXPECT_EQ(p.rect, (PlaceRect { 10, 20, 310, 420 }));
    // Three numbers: position and details; collapsed keeps the collapsed size.
    p = OstrelPlaceStatusWindow(OstrelParseStatusWindow("30,40,0"), collapsed, expanded, 0, 0, work);
    EXPECT_EQ(p.rect, (PlaceRect { 30, 40, 310, 160 }));
    EXPECT_FALSE(p.details);
    // None: centred on the cursor.
    p = OstrelPlaceStatusWindow(OstrelParseStatusWindow(""), collapsed, expanded, 500, 400, work);
    EXPECT_EQ(p.rect, (PlaceRect { 360, 340, 640, 460 }));
    // Saved on a monitor that is gone (right of this one), or above the work area.
    p = OstrelPlaceStatusWindow(OstrelParseStatusWindow("3000,-900,1,1,300,320"), collapsed, expanded, 0, 0, work);
    EXPECT_EQ(p.rect, (PlaceRect { 724, 0, 1024, 320 }));
    p = OstrelPlaceStatusWindow(
        OstrelParseStatusWindow("2147483600,2147483600,1,1,300,320"), collapsed, expanded, 0, 0, work);
    EXPECT_EQ(p.rect, (PlaceRect { 724, 420, 1024, 740 }));
}

TEST_F(Ostrel, DisplayNameHelpBaseAndStatusWindowInTheRegistry)
{
    EXPECT_EQ(OstrelDisplayName(kSettings), kName);
    RegKey key;
    ASSERT_EQ(key.Create(RegRoot::LocalMachine, kSettings), RegStatus::Ok);
    key.WriteString("RCapiName", "Office");
    EXPECT_EQ(OstrelDisplayName(kSettings), "Office Remote CAPI");
    key.WriteString("RCapiName", std::string(300, 'n'));
    EXPECT_EQ(OstrelDisplayName(kSettings), std::string(127, 'n') + " Remote CAPI");
    StrSetLanguage(1031);
    EXPECT_EQ(OstrelTrayTip({ 0, 0, false }, false, "X"),
        "X - Keine Ger\xe4te verf\xfc"
        "gbar");
    StrSetLanguage(1033);

    EXPECT_EQ(OstrelHelpBase(), 1000u);
    EXPECT_EQ(OstrelTrayHelpContext(), 1002u);
    EXPECT_EQ(OstrelHelpContext(1400), 1001u);
    EXPECT_EQ(OstrelHelpContext(1411), 1006u);
    EXPECT_EQ(OstrelHelpContext(1412), 1007u);
    EXPECT_EQ(OstrelHelpContext(1409), 0u);

    EXPECT_EQ(OstrelReadStatusWindow(kSettings).count, 0);
    OstrelWriteStatusWindow(kSettings, "1,2,1,1,300,200");
    EXPECT_EQ(OstrelReadStatusWindow(kSettings).count, 5);
    EXPECT_TRUE(OstrelReadStatusWindow(kSettings).openAtExit);
}

TEST(OstrelTray, IconAndTipFollowTheDevicesAndCalls)
{
    std::string twoOneAvailable = CapiTestDevice(1, 1, 1, "", "A") + CapiTestDevice(2, 1, 2, "", "B");
    auto counts = [](const std::string& s) { return OstrelCountStatus(CapiBytes(s), s.size()); };
    OstrelTray tray;
    EXPECT_TRUE(tray.Update(counts(twoOneAvailable), false, kName, false).changed);
    EXPECT_EQ(tray.Icon(), kOstrelIconAvailable);
    EXPECT_EQ(tray.Tip(), kName + " - One device available");
    EXPECT_FALSE(tray.Update(counts(twoOneAvailable), false, kName, false).changed);
    EXPECT_TRUE(tray.Update(counts(twoOneAvailable), false, kName, true).changed); // force

    std::string withCall = twoOneAvailable + CapiTestConnection(7, 1, 10000, 0);
    tray.Update(counts(withCall), false, kName, false);
    EXPECT_EQ(tray.Icon(), kOstrelIconCalls);
    EXPECT_EQ(tray.Word() & 0xFFFF, 0x0101u);

    std::string noneAvailable = CapiTestDevice(1, 1, 0) + CapiTestDevice(2, 3, 3);
    tray.Update(counts(noneAvailable), false, kName, false);
    EXPECT_EQ(tray.Icon(), kOstrelIconNone);
    EXPECT_EQ(tray.Tip(), kName + " - No devices available");
    tray.Update(counts(""), false, kName, false);
    EXPECT_EQ(tray.Tip(), kName + " - No devices found");
    EXPECT_EQ(tray.Word() & 0xFF, 0xFFu);

    std::string three = CapiTestDevice(1, 1, 1) + CapiTestDevice(2, 2, 1) + CapiTestDevice(3, 3, 1);
    tray.Update(counts(three), false, kName, false);
    EXPECT_EQ(tray.Tip(), kName + " - 3 devices available");
    // Deactivating changes the icon though the counts stay.
    EXPECT_TRUE(tray.Update(counts(three), true, kName, false).changed);
    EXPECT_EQ(tray.Icon(), kOstrelIconDeactivated);
    EXPECT_EQ(tray.Tip(), kName + " - Deactivated");
}

TEST(OstrelTray, TrafficFlashesTheIconOnTheTicks)
{
    std::string busy = CapiTestDevice(1, 1, 1) + CapiTestConnection(7, 1, 10000, 9600);
    OstrelCounts c = OstrelCountStatus(CapiBytes(busy), busy.size());
    EXPECT_TRUE(c.traffic);
    OstrelTray tray;
    auto r = tray.Update(c, false, kName, false);
    EXPECT_TRUE(r.restartTimer); // and one tick handled at once
    EXPECT_EQ(tray.Flash(), 2u);
    EXPECT_EQ(tray.Icon(), kOstrelIconFlash);
    // More traffic while the counter is still at 2 neither restarts the timer nor adds a flash.
    EXPECT_FALSE(tray.Update(c, false, kName, false).restartTimer);
    EXPECT_EQ(tray.Flash(), 2u);
    tray.Tick();
    EXPECT_EQ(tray.Icon(), kOstrelIconCalls);
    EXPECT_EQ(tray.Flash(), 1u);
    // Below 2 new traffic sets it to 3 again; the timer runs, so it is not restarted.
    r = tray.Update(c, false, kName, false);
    EXPECT_FALSE(r.restartTimer);
    EXPECT_EQ(tray.Flash(), 3u);
    tray.Tick();
    EXPECT_EQ(tray.Icon(), kOstrelIconFlash);
    tray.Tick();
    tray.Tick();
    tray.Tick();
    EXPECT_EQ(tray.Flash(), 0u);
    EXPECT_EQ(tray.Icon(), kOstrelIconCalls);
    // Old transfers do not flash.
    std::string quiet = CapiTestDevice(1, 1, 1) + CapiTestConnection(7, 1, 10000, 9000);
    EXPECT_FALSE(OstrelCountStatus(CapiBytes(quiet), quiet.size()).traffic);
}

TEST_F(Ostrel, DeactivatingWithACallAsksFirstUnlessForced)
{
    Publish(CapiTestDevice(1, 1, 1) + CapiTestConnection(7, 1, 5000));
    bool deactivated = false;
    uint32_t calls = OstrelCountStatus().calls;
    ASSERT_EQ(calls, 1u);
    EXPECT_EQ(OstrelToggleActive(&deactivated, calls, false, OstrelAnswer::None, kRCapi), OstrelToggleResult::Ask);
    EXPECT_FALSE(deactivated);
    EXPECT_TRUE(Controls().empty());
    EXPECT_FALSE(Dword(kRCapi, "RCapiSuspended"));
    // No: nothing changes, the (unchanged) flag is written.
    EXPECT_EQ(OstrelToggleActive(&deactivated, calls, false, OstrelAnswer::No, kRCapi), OstrelToggleResult::Done);
    EXPECT_FALSE(deactivated);
    EXPECT_TRUE(Controls().empty());
    EXPECT_EQ(Dword(kRCapi, "RCapiSuspended"), 0u);
    EXPECT_EQ(OstrelToggleActive(&deactivated, calls, false, OstrelAnswer::Yes, kRCapi), OstrelToggleResult::Done);
    EXPECT_TRUE(deactivated);
    EXPECT_EQ(Dword(kRCapi, "RCapiSuspended"), 1u);
    ASSERT_EQ(Controls().size(), 1u);
    EXPECT_EQ(Controls()[0], CapiSuspendRecords(1));
    // Activating never asks.
    EXPECT_EQ(OstrelToggleActive(&deactivated, calls, false, OstrelAnswer::None, kRCapi), OstrelToggleResult::Done);
    EXPECT_FALSE(deactivated);
    EXPECT_EQ(Controls().back(), CapiSuspendRecords(0));
    EXPECT_EQ(OstrelReadDeactivated(kRCapi), 0u);
    // Force: no question.
    EXPECT_EQ(OstrelToggleActive(&deactivated, calls, true, OstrelAnswer::None, kRCapi), OstrelToggleResult::Done);
    EXPECT_TRUE(deactivated);
    EXPECT_EQ(OstrelReadDeactivated(kRCapi), 1u);
    EXPECT_EQ(OstrelStateWord(calls, deactivated), 0x10001u);
}

TEST_F(Ostrel, PowerEventsAskBeforeSuspendAndResumeAsTheUserLeftIt)
{
    EXPECT_EQ(OstrelPowerEvent(kOstrelPowerQuerySuspend, 1, false, kSettings), OstrelPowerResult::Ask);
    EXPECT_EQ(OstrelPowerEvent(kOstrelPowerQuerySuspend, 0, false, kSettings), OstrelPowerResult::Allow);
    EXPECT_EQ(OstrelSuspendAnswer(false, true, kSettings), OstrelPowerResult::Deny);
    EXPECT_FALSE(Dword(kSettings, "SuspendPermission"));
    EXPECT_EQ(OstrelSuspendAnswer(true, false, kSettings), OstrelPowerResult::Allow);
    EXPECT_EQ(Dword(kSettings, "SuspendPermission"), 0u);
    EXPECT_EQ(OstrelPowerEvent(kOstrelPowerQuerySuspend, 1, false, kSettings), OstrelPowerResult::Ask);
    EXPECT_EQ(OstrelSuspendAnswer(true, true, kSettings), OstrelPowerResult::Allow);
    EXPECT_EQ(OstrelPowerEvent(kOstrelPowerQuerySuspend, 1, false, kSettings), OstrelPowerResult::Allow);
    // Read anew at each query: another program may take the permission back.
    RegKey key;
    ASSERT_EQ(key.Open(RegRoot::LocalMachine, kSettings, RegAccess::ReadWrite), RegStatus::Ok);
    key.WriteDword("SuspendPermission", 0);
    EXPECT_EQ(OstrelPowerEvent(kOstrelPowerQuerySuspend, 1, false, kSettings), OstrelPowerResult::Ask);

    // Deactivated by the user: suspend, then resume keeps the driver suspended.
    bool deactivated = false;
    OstrelToggleActive(&deactivated, 0, false, OstrelAnswer::None, kRCapi);
    OstrelPowerEvent(kOstrelPowerSuspend, 0, deactivated, kSettings);
    OstrelPowerEvent(kOstrelPowerResumeAutomatic, 0, deactivated, kSettings);
    OstrelPowerEvent(kOstrelPowerResumeSuspend, 0, deactivated, kSettings);
    auto controls = Controls();
    ASSERT_EQ(controls.size(), 4u);
    for (const auto& c : controls)
        EXPECT_EQ(c, CapiSuspendRecords(1));
    EXPECT_TRUE(deactivated);
    EXPECT_EQ(OstrelReadDeactivated(kRCapi), 1u);
    // Active: resume hands the driver 0.
    OstrelPowerEvent(kOstrelPowerResumeCritical, 0, false, kSettings);
    EXPECT_EQ(Controls().back(), CapiSuspendRecords(0));
    EXPECT_EQ(OstrelReadDeactivated(kRCapi), 1u);
}

namespace {
// A clock that runs the "window thread" as time passes: it sets the flags when their time comes.
struct ThreadClock : Clock {
    ManualClock clock;
    OstrelRunState* run = nullptr;
    uint32_t runsAt = UINT32_MAX, endsAt = UINT32_MAX, error = 0;
    uint32_t TickMs() override
    {
        return clock.TickMs();
    }
    void SleepMs(uint32_t ms) override
    {
        clock.Advance(ms);
        if (TickMs() >= runsAt && TickMs() < endsAt)
            run->running = true;
        if (TickMs() >= endsAt) {
            run->running = false;
            run->exitError = error;
            run->ended = true;
        }
    }
};

struct Report {
    uint32_t state, hint, exit, at;
    bool operator==(const Report&) const = default;
};
} // namespace

TEST(OstrelService, StartAndStopRulesInSimulatedTime)
{
    OstrelRunState run;
    ThreadClock clock;
    clock.run = &run;
    std::vector<Report> reports;
    int quits = 0, marks = 0;
    OstrelServiceHost host;
    host.clock = &clock;
    host.run = &run;
    host.report = [&](uint32_t s, uint32_t h, uint32_t e) { reports.push_back({ s, h, e, clock.TickMs() }); };
    host.startWindowThread = [] { return true; };
    host.postQuit = [&] { ++quits; };
    host.markStatusWindowOpen = [&] { ++marks; };

    clock.runsAt = 300;
    OstrelServiceMain(host);
    EXPECT_EQ(reports, (std::vector<Report> { { kOstrelStartPending, 5000, 0, 0 }, { kOstrelRunning, 0, 0, 300 } }));

    // Stop: the window thread ends after 1.2 s.
    reports.clear();
    clock.endsAt = 1500;
    OstrelServiceStop(host);
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(marks, 1);
    EXPECT_EQ(reports, (std::vector<Report> { { kOstrelStopPending, 5000, 0, 300 }, { kOstrelStopped, 0, 0, 1500 } }));

    // A window thread that outlasts 100 polls of 50 ms leaves the service reported running.
    run.running = true;
    run.ended = false;
    clock.endsAt = UINT32_MAX;
    reports.clear();
    OstrelServiceStop(host);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], (Report { kOstrelRunning, 0, 0, 1500 + 5000 }));
}

TEST(OstrelService, WindowThreadEndingBeforeItRanStopsTheServiceWithItsError)
{
    OstrelRunState run;
    ThreadClock clock;
    clock.run = &run;
    clock.endsAt = 100;
    clock.error = 2; // ERROR_FILE_NOT_FOUND: no such device
    std::vector<Report> reports;
    OstrelServiceHost host;
    host.clock = &clock;
    host.run = &run;
    host.report = [&](uint32_t s, uint32_t h, uint32_t e) { reports.push_back({ s, h, e, clock.TickMs() }); };
    host.startWindowThread = [] { return true; };
    OstrelServiceMain(host);
    EXPECT_EQ(reports, (std::vector<Report> { { kOstrelStartPending, 5000, 0, 0 }, { kOstrelStopped, 0, 2, 100 } }));
}

TEST(OstrelTexts, ConnectedTimesBytesAndNumbers)
{
    StrSetLanguage(1033);
    EXPECT_EQ(OstrelConnectedText(0), "Connection not yet established");
    EXPECT_EQ(OstrelConnectedText(59999), "Connected for 59 seconds");
    EXPECT_EQ(OstrelConnectedText(60000), "Connected for one minute and 0 seconds");
    EXPECT_EQ(OstrelConnectedText(125000), "Connected for 2 minutes and 5 seconds");
    EXPECT_EQ(OstrelConnectedText(3725000), "Connected for one hour and 2 minutes");
    EXPECT_EQ(OstrelConnectedText(7325000), "Connected for 2 hour and 2 minutes");
    EXPECT_EQ(OstrelBytesText(2048, true), "2048 bytes sent");
    EXPECT_EQ(OstrelBytesText(2049, true), "2 kilobytes sent");
    EXPECT_EQ(OstrelBytesText(2097152, false), "2048 kilobytes received");
    EXPECT_EQ(OstrelBytesText(2097153, true), "2 megabytes sent");
    EXPECT_EQ(OstrelBytesText(0xFFFFFFFFu, false), "4095 megabytes received");
    EXPECT_EQ(OstrelJoinNumbers("030/1234;; 567 /"), "030, 1234, 567");
    EXPECT_EQ(OstrelJoinNumbers(""), "");
    EXPECT_EQ(OstrelTooltipText({ "a", "b" }, true), "a\r\nb");
    EXPECT_EQ(OstrelTooltipText({ "a", "b" }, false), "a - b");
    EXPECT_TRUE(OstrelTooltipNewLines(4, 70));
    EXPECT_TRUE(OstrelTooltipNewLines(6, 0));
    EXPECT_FALSE(OstrelTooltipNewLines(4, 0));
}

TEST(OstrelTree, ViewShowsRootsDevicesCallsAndTooltips)
{
    StrSetLanguage(1033);
    std::string s = CapiTestDevice(3, 2, 1, "COM1", "Serial box", "", 2, 2) // serial first in the buffer
        + CapiTestDevice(1, 1, 1, "Office", "Router", "030/1234;567", 2, 1, 2 | 8)
        + CapiTestDevice(2, 1, 2, "Lab", "Locked") + CapiTestDevice(4, 3, 0, "", "Stick")
        + CapiTestConnection(9, 1, 3725000, 3725000, "0301234", 1, 2049, 2048) + CapiTestConnection(10, 1, 0, 0, "", 0)
        + CapiTestApplication();
    std::string expected = "icon 2\n"
                           "tip Zevra Remote CAPI - 2 devices available\n"
                           "CAPI devices: 2\n"
                           "Applications: 1\n"
                           "Connections: 2\n"
                           "Local Area Network [image 0]\n"
                           "  > Contains all CAPI devices in your local area network\n"
                           "  Router [image 6]\n"
                           "    > Router (Office)\n"
                           "    > Calling number: 030, 1234, 567\n"
                           "    > One of 2 channels available\n"
                           "    > Profile: fax group 3, analog modem\n"
                           "    Connected to 0301234 [image 9]\n"
                           "      > Connected for one hour and 2 minutes\n"
                           "      > 2048 bytes sent\n"
                           "      > 2 kilobytes received\n"
                           "    Outgoing Call to Unknown [image 10]\n"
                           "      > Connection not yet established\n"
                           "  Locked [image 5]\n"
                           "    > Locked (Lab) - Access denied\n"
                           "Serial Ports [image 1]\n"
                           "  > Shows all CAPI devices attached to serial ports of your computer\n"
                           "  Serial box [image 6]\n"
                           "    > Serial box (COM1)\n"
                           "    > 2 of 2 channels available\n"
                           "Universal Serial Bus [image 2]\n"
                           "  > Shows all CAPI devices attached to the Universal Serial Bus\n"
                           "  Stick [image 4]\n"
                           "    > Stick (Universal Serial Bus) - Status unknown\n";
    EXPECT_EQ(OstrelViewText(CapiBytes(s), s.size(), kName, false), expected);
    std::string deactivated = OstrelViewText(CapiBytes(s), s.size(), kName, true);
    EXPECT_EQ(deactivated.substr(0, deactivated.find('\n', 8) + 1), "icon 4\ntip Zevra Remote CAPI - Deactivated\n");
}

// A status buffer of 65,536 devices, each with a call, shows in time linear in its size (a lookup of each
// item's record by walking the buffer took many seconds), and a record that does not fit is named.
TEST(OstrelTree, ViewOfManyDevicesIsLinearAndSaysWhereTheBufferWasCut)
{
    constexpr uint32_t kDevices = 65536;
    std::string s;
    for (uint32_t id = 1; id <= kDevices; ++id)
        s += CapiTestDevice(id, 1 + id % 3, 1, "", "d" + std::to_string(id)) + CapiTestConnection(id, id, 1000);
    const std::clock_t start = std::clock();
    std::string text = OstrelViewText(CapiBytes(s), s.size(), "CAPI", false);
    EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 5.0);
    EXPECT_NE(text.find("\n  d65536 [image "), std::string::npos);
    EXPECT_NE(text.find("\n      > Connected for 1 seconds\n"), std::string::npos);
    EXPECT_EQ(text.find("buffer cut"), std::string::npos);

    // The last record claims four bytes more than are left.
    std::string cut = s + CapiTestDevice(kDevices + 1, 1, 1);
    cut.resize(cut.size() - 4);
    text = OstrelViewText(CapiBytes(cut), cut.size(), "CAPI", false);
    EXPECT_NE(text.find(StrFormat("buffer cut: a record at byte %llu does not fit; %llu of %llu bytes shown\n",
                  static_cast<unsigned long long>(s.size()), static_cast<unsigned long long>(s.size()),
                  static_cast<unsigned long long>(cut.size()))),
        std::string::npos);
}

TEST(OstrelTree, ItemsMatchedByIdChangeOnlyWhatChanged)
{
    StrSetLanguage(1033);
    std::string devices;
    for (uint32_t i = 1; i <= 1000; ++i)
        devices += CapiTestDevice(i, 1 + i % 3, 1, "", "Device " + std::to_string(i));
    auto calls = [](uint32_t connected) {
        std::string c;
        for (uint32_t i = 1; i <= 1000; i += 10)
            c += CapiTestConnection(5000 + i, i, i == 501 ? connected : 0, 0, std::to_string(i));
        return c;
    };
    std::string a = devices + calls(0), b = devices + calls(42000);
    OstrelMemoryTree tree;
    OstrelTreeUpdater updater(tree);
    updater.Update(CapiBytes(a), a.size());
    EXPECT_EQ(tree.inserts, 3u + 1000u + 100u);
    size_t before = tree.inserts;
    updater.Update(CapiBytes(a), a.size());
    EXPECT_EQ(tree.inserts, before);
    EXPECT_EQ(tree.updates, 0u);
    updater.Update(CapiBytes(b), b.size());
    EXPECT_EQ(tree.inserts, before);
    EXPECT_EQ(tree.deletes, 0u);
    ASSERT_EQ(tree.updates, 1u);
    auto walk = tree.Walk();
    auto changed = std::find_if(
        walk.begin(), walk.end(), [](auto& p) { return p.first->key == OstrelItemKey(OstrelItemKind::Call, 5501); });
    ASSERT_NE(changed, walk.end());
    EXPECT_EQ(changed->first->label, "Connected to 501");
    EXPECT_EQ(changed->first->image, kOstrelImageOutgoingConnected);

    // A vanished call and device go; a root without devices goes; a new root keeps the root order.
    std::string c = CapiTestDevice(2, 3, 1, "", "Usb") + CapiTestDevice(7, 2, 1, "", "Serial");
    updater.Update(CapiBytes(c), c.size());
    std::vector<std::string> labels;
    for (auto& [item, depth] : tree.Walk())
        labels.push_back(std::string(size_t(depth), ' ') + item->label);
    EXPECT_EQ(labels, (std::vector<std::string> { "Serial Ports", " Serial", "Universal Serial Bus", " Usb" }));
    std::string d = c + CapiTestDevice(1, 1, 1, "", "Lan") + CapiTestConnection(3, 7, 0, 0, "");
    updater.Update(CapiBytes(d), d.size());
    labels.clear();
    for (auto& [item, depth] : tree.Walk())
        labels.push_back(std::string(size_t(depth), ' ') + item->label);
    EXPECT_EQ(labels,
        (std::vector<std::string> { "Local Area Network", " Lan", "Serial Ports", " Serial",
            "  Outgoing Call to Unknown", "Universal Serial Bus", " Usb" }));
    // An empty buffer empties the tree.
    updater.Update(nullptr, 0);
    EXPECT_TRUE(tree.Walk().empty());
    EXPECT_TRUE(updater.Roots().empty());
}
