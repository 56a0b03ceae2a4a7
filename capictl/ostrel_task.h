// Ostrel, the CAPI control task: its command line, display name and help contexts, the settings it
// keeps under the task settings key, the tray icon's state, switching the CAPI on and off, the power
// events and the service's start and stop rules. Portable: the Win32 program (capictl/ui/) supplies the
// windows, the tray icon and the service control manager around it.
#pragma once

#include "common/clock.h"
#include "common/placement.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Window messages of the main window (class "RemoteCapiClass"), usable by other programs.
enum : uint32_t {
    kOstrelMsgPushSettings = 1024,
    kOstrelMsgQueryState = 1924,
    kOstrelMsgSetState = 1925, // wParam: low word the wanted deactivated flag, high word force
    kOstrelMsgTray = 1034,
    kOstrelMsgRefresh = 1036, // wParam 1: force
};
inline constexpr const char* kOstrelWindowClass = "RemoteCapiClass";
inline constexpr const char* kOstrelServiceName = "ZevraCapiCtl";

// String ids of the task's string tables (res/ostrel/strings.*).
enum : unsigned {
    kOstrelStrHelpBase = 1208,
    kOstrelStrName = 1209,
    kOstrelStrNameFormat = 1210,
    kOstrelStrStatusCaption = 1211,
    kOstrelStrAboutTitle = 1212,
    kOstrelStrTipDeactivated = 1213,
    kOstrelStrTipOne = 1214,
    kOstrelStrTipMany = 1215,
    kOstrelStrTipNoneAvailable = 1216,
    kOstrelStrTipNoneFound = 1217,
    kOstrelStrAskDeactivate = 1218,
    kOstrelStrAskSuspend = 1219,
    kOstrelStrDontShowAgain = 1220,
    kOstrelStrYes = 1221,
    kOstrelStrNo = 1222,
    kOstrelStrDevices = 1223,
    kOstrelStrApplications = 1224,
    kOstrelStrConnections = 1225,
    kOstrelStrDetailsMore = 1226,
    kOstrelStrDetailsLess = 1227,
    kOstrelStrActivated = 1228,
    kOstrelStrProperties = 1229,
    kOstrelStrClose = 1230,
    kOstrelStrTreeLabel = 1231,
    kOstrelStrRootLan = 1232, // 1233 serial ports, 1234 USB
    kOstrelStrRootLanTip = 1235, // 1236, 1237
    kOstrelStrConnectedTo = 1238,
    kOstrelStrIncomingFrom = 1239,
    kOstrelStrOutgoingTo = 1240,
    kOstrelStrUnknown = 1241,
    kOstrelStrDeviceTip = 1242, // 1243 status unknown, 1244 access denied, 1245 not compatible
    kOstrelStrCallingNumber = 1246,
    kOstrelStrOutgoingOnly = 1247,
    kOstrelStrChannelsNone = 1248,
    kOstrelStrChannelsOne = 1249,
    kOstrelStrChannelsSome = 1250,
    kOstrelStrProfile = 1251,
    kOstrelStrFax = 1252,
    kOstrelStrModem = 1253,
    kOstrelStrNotEstablished = 1254,
    kOstrelStrSeconds = 1255,
    kOstrelStrOneMinute = 1256,
    kOstrelStrMinutes = 1257,
    kOstrelStrOneHour = 1258,
    kOstrelStrHours = 1259,
    kOstrelStrBytesSent = 1260, // kilobytes 1261, megabytes 1262; received 1263 to 1265
    kOstrelStrMenuStatus = 1270, // 1271 properties, 1272 active, 1273 exit, 1274 what's this, 1275 about
    kOstrelStrMenuDisconnect = 1276,
    kOstrelStrTrayHelp = 1280,
    kOstrelStrNoApplet = 1281, // the properties applet is missing
    kOstrelStrNoHelp = 1282, // the help file is missing
    kOstrelStrAboutProduct2 = 1290,
    kOstrelStrAboutCompany = 1291,
};

// Commands of the tray menu and the status window's context menu.
enum : unsigned {
    kOstrelCmdStatus = 1100,
    kOstrelCmdProperties = 1101,
    kOstrelCmdActive = 1102,
    kOstrelCmdExit = 1103,
    kOstrelCmdWhatsThis = 1104,
    kOstrelCmdDisconnect = 1105,
    kOstrelCmdAbout = 1106,
};

// The command line: blank-separated tokens, options compared ignoring case.
struct OstrelOptions {
    bool noService = false; // "/nosvc"
    std::string device = "CAPI201"; // "/device:" name (after "\\.\")
    std::string altDevice; // "/devvxd:" name; empty: none
    std::vector<std::string> load; // "/load:" list, in order
};
// Each option is taken on its own; the "/load:" list is split separately, so later options still count.
// Unknown tokens and "/debug:" are ignored. An empty "/device:" keeps the default device.
OstrelOptions OstrelParseCommandLine(std::string_view commandLine);

// The display name: string 1209, or string 1210 formatted with "RCapiName" (at most 127 characters,
// as read into 128 bytes) when the task settings key holds that value.
std::string OstrelDisplayName(const std::string& settingsKey);

// Help contexts of "rcapi.hlp": the tray's "What's This?" and the status window's controls, each
// increased by the help base (string 1208). 0 for a control without one.
uint32_t OstrelHelpContext(uint32_t control);
uint32_t OstrelTrayHelpContext();
void OstrelSetHelpBase(uint32_t base);
uint32_t OstrelHelpBase(); // the number of string 1208 (0 when it is no number)
inline constexpr unsigned kOstrelTrayControl = 0; // the tray's "What's This?" (context 2)

// "StatusWindow": left, top, details shown, open at exit, width and height of the expanded window.
struct OstrelStatusWindowValue {
    int count = 0; // numbers read as "%d,%d,%d,%*d,%d,%d" reads them (the open-at-exit mark not counted)
    int32_t left = 0, top = 0, width = 0, height = 0;
    bool details = false;
    bool openAtExit = false; // the fourth number
};
OstrelStatusWindowValue OstrelParseStatusWindow(std::string_view text);
std::string OstrelFormatStatusWindow(
    int32_t left, int32_t top, bool details, bool openAtExit, int32_t width, int32_t height);
OstrelStatusWindowValue OstrelReadStatusWindow(const std::string& settingsKey);
void OstrelWriteStatusWindow(const std::string& settingsKey, const std::string& value);

// Where the status window opens. `collapsed` and `expanded` are the window's initial sizes (origin 0,0).
// Five numbers: position, size and details; three: position and details; otherwise centred on the cursor
// with the details hidden. The window is then kept on the work area (a position saved on a monitor that
// is gone) and never made smaller than its initial size.
struct OstrelStatusPlacement {
    PlaceRect rect; // the window as shown (collapsed height when the details are hidden)
    int32_t expandedWidth = 0, expandedHeight = 0; // the size the expanded window takes
    bool details = false;
};
OstrelStatusPlacement OstrelPlaceStatusWindow(const OstrelStatusWindowValue& value, const PlaceRect& collapsed,
    const PlaceRect& expanded, int32_t cursorX, int32_t cursorY, const PlaceRect& workArea);

// The tray icon: icons 0 no device available, 1 devices available, 2 with calls, 3 data flash,
// 4 deactivated. The state word holds the available devices (bits 0-7, 0xFF when there are no devices
// at all), the calls (bits 8-15) and the flash counter (bits 16-31).
enum : int {
    kOstrelIconNone = 0,
    kOstrelIconAvailable = 1,
    kOstrelIconCalls = 2,
    kOstrelIconFlash = 3,
    kOstrelIconDeactivated = 4
};
inline constexpr uint32_t kOstrelTickMs = 500;
inline constexpr uint32_t kOstrelTrafficMs = 500;

struct OstrelCounts {
    int32_t available = -1; // -1: no device records at all
    uint32_t calls = 0;
    bool traffic = false; // some connection transferred data within the last 500 ms
};
OstrelCounts OstrelCountStatus(const uint8_t* data, size_t bytes);
OstrelCounts OstrelCountStatus(); // the task's status copy

class OstrelTray {
public:
    struct Refresh {
        bool changed = false; // icon and tip were set
        bool restartTimer = false; // the flash began: restart the 500-ms timer (a tick was handled at once)
    };
    // The refresh after a new status buffer (message 1036), or forced.
    Refresh Update(const OstrelCounts& counts, bool deactivated, const std::string& displayName, bool force);
    // One tick of the 500-ms timer: the flash counter runs down; while there are calls the icon
    // alternates between 2 and 3.
    void Tick();
    int Icon() const
    {
        return icon_;
    }
    const std::string& Tip() const
    {
        return tip_;
    }
    uint32_t Word() const
    {
        return word_;
    }
    uint32_t Flash() const
    {
        return word_ >> 16;
    }

private:
    uint32_t word_ = 0;
    bool wordSet_ = false;
    int icon_ = kOstrelIconNone;
    bool deactivated_ = false;
    std::string tip_;
};
// The tray tip for these counts.
std::string OstrelTrayTip(const OstrelCounts& counts, bool deactivated, const std::string& displayName);

// The activation state, kept as "RCapiSuspended" in the RCapi key.
uint32_t OstrelReadDeactivated(const std::string& rcapiKey);

enum class OstrelAnswer { None, Yes, No };
enum class OstrelToggleResult {
    Done, // the state was switched (or left on "No") and written
    Ask, // there are calls: ask the deactivation question, then call again with the answer
};
// ToggleActive: when deactivated, activate. Otherwise deactivate when there are no calls, with force, or
// on the answer Yes; with calls and no answer yet, ask. Tells the driver the new "RCapiSuspended" and
// writes it into the RCapi key (created when missing; a failed write is ignored).
OstrelToggleResult OstrelToggleActive(
    bool* deactivated, uint32_t calls, bool force, OstrelAnswer answer, const std::string& rcapiKey);
// The result of messages 1924 and 1925: calls << 16 | deactivated.
inline uint32_t OstrelStateWord(uint32_t calls, bool deactivated)
{
    return (calls << 16) | (deactivated ? 1u : 0u);
}

// Power events (WM_POWERBROADCAST). Query suspend with user interaction allowed asks unless
// "SuspendPermission" (read anew each time) allows it; suspend tells the driver "suspended"; resume tells
// it the user's activation state. The deactivated flag and the registry stay as they are.
enum : uint32_t {
    kOstrelPowerQuerySuspend = 0,
    kOstrelPowerSuspend = 4,
    kOstrelPowerResumeCritical = 6,
    kOstrelPowerResumeSuspend = 7,
    kOstrelPowerResumeAutomatic = 0x12,
};
enum class OstrelPowerResult { Allow, Ask, Deny };
OstrelPowerResult OstrelPowerEvent(uint32_t event, uint32_t flags, bool deactivated, const std::string& settingsKey);
// The answer to the suspend warning: Yes allows and stores the check box as "SuspendPermission".
OstrelPowerResult OstrelSuspendAnswer(bool yes, bool dontShowAgain, const std::string& settingsKey);

// The service's start and stop rules. The service control manager's states:
enum : uint32_t { kOstrelStopped = 1, kOstrelStartPending = 2, kOstrelStopPending = 3, kOstrelRunning = 4 };
inline constexpr uint32_t kOstrelPollMs = 50;
inline constexpr uint32_t kOstrelStopPolls = 100;
inline constexpr uint32_t kOstrelWaitHint = 5000;

// What the window thread shares with the service main and control handler.
struct OstrelRunState {
    std::atomic<bool> running { false }; // the window thread is up
    std::atomic<bool> ended { false }; // the window thread has ended
    std::atomic<uint32_t> exitError { 0 }; // the Win32 error that ended it before it ran
};

struct OstrelServiceHost {
    Clock* clock = nullptr;
    OstrelRunState* run = nullptr;
    // Reports a state with its wait hint and Win32 exit code.
    std::function<void(uint32_t state, uint32_t waitHint, uint32_t exitCode)> report;
    std::function<bool()> startWindowThread;
    std::function<void()> markStatusWindowOpen; // the status window is open: reopen it at the next start
    std::function<void()> postQuit;
};
// Service main: start pending (5000 ms), the window thread, then polls every 50 ms until it runs and
// reports running. When the thread ends before it ran (the driver cannot be opened), reports stopped
// with that error as the exit code.
void OstrelServiceMain(const OstrelServiceHost& host);
// The stop control: stop pending, the status window marked, quit posted; waits at most 100 polls of
// 50 ms for the window thread, then reports stopped, or running when it is still up.
void OstrelServiceStop(const OstrelServiceHost& host);
