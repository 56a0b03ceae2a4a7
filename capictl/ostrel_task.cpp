#include "capictl/ostrel_task.h"

#include "capictl/capi_status.h"
#include "capictl/capi_task.h"
#include "common/platform/registry.h"
#include "common/strings.h"
#include "common/text.h"

#include <algorithm>
#include <climits>

namespace {
std::string Str(unsigned id)
{
    return StrLoad(ostrel_Strings(), id);
}

uint32_t g_helpBase = 0;
bool g_helpBaseSet = false;

// The option's value when `token` starts with `name` (ignoring case).
bool TakeOption(std::string_view token, std::string_view name, std::string* value)
{
    if (token.size() < name.size() || !StrStartsWithNoCase(token, name))
        return false;
    *value = std::string(token.substr(name.size()));
    return true;
}

// One "%d" as sscanf reads it: blanks, a sign, digits; false when no digit follows or it overflows.
bool ScanInt(std::string_view text, size_t* pos, int32_t* out)
{
    size_t p = *pos;
    while (p < text.size()
        && (text[p] == ' ' || text[p] == '\t' || text[p] == '\n' || text[p] == '\r' || text[p] == '\v'
            || text[p] == '\f'))
        ++p;
    bool negative = false;
    if (p < text.size() && (text[p] == '-' || text[p] == '+'))
        negative = text[p++] == '-';
    size_t digits = p;
    int64_t value = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
        value = value * 10 + (text[p] - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return false;
        ++p;
    }
    if (p == digits)
        return false;
    value = negative ? -value : value;
    if (value > INT32_MAX)
        return false;
    *out = static_cast<int32_t>(value);
    *pos = p;
    return true;
}
} // namespace

OstrelOptions OstrelParseCommandLine(std::string_view commandLine)
{
    OstrelOptions options;
    size_t pos = 0;
    while (pos < commandLine.size()) {
        while (pos < commandLine.size() && (commandLine[pos] == ' ' || commandLine[pos] == '\t'))
            ++pos;
        size_t end = pos;
        while (end < commandLine.size() && commandLine[end] != ' ' && commandLine[end] != '\t')
            ++end;
        std::string_view token = commandLine.substr(pos, end - pos);
        pos = end;
        if (token.empty())
            continue;
        std::string value;
        if (StrEqualNoCase(token, "/nosvc"))
            options.noService = true;
        else if (TakeOption(token, "/debug:", &value))
            continue;
        else if (TakeOption(token, "/devvxd:", &value))
            options.altDevice = value;
        else if (TakeOption(token, "/device:", &value)) {
            if (!value.empty())
                options.device = value;
        } else if (TakeOption(token, "/load:", &value)) {
            // The list is split on its own: the token ends at the blank, so later options still count.
            size_t start = 0;
            while (start <= value.size()) {
                size_t comma = value.find(',', start);
                std::string name = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                if (!name.empty())
                    options.load.push_back(name);
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        }
    }
    return options;
}

std::string OstrelDisplayName(const std::string& settingsKey)
{
    RegKey key;
    if (key.Open(RegRoot::LocalMachine, settingsKey) == RegStatus::Ok) {
        if (auto name = key.ReadString("RCapiName")) {
            std::string format = Str(kOstrelStrNameFormat);
            std::string text = CutTo(*name, 127);
            // The format's one "%s" takes the name; a translation without it is shown as it stands.
            size_t at = format.find("%s");
            if (at != std::string::npos)
                return format.substr(0, at) + text + format.substr(at + 2);
            return format;
        }
    }
    return Str(kOstrelStrName);
}

uint32_t OstrelHelpBase()
{
    if (g_helpBaseSet)
        return g_helpBase;
    return ParseUnsigned(Str(kOstrelStrHelpBase));
}

void OstrelSetHelpBase(uint32_t base)
{
    g_helpBase = base;
    g_helpBaseSet = true;
}

uint32_t OstrelHelpContext(uint32_t control)
{
    uint32_t context = 0;
    switch (control) {
    case kOstrelTrayControl:
        context = 2;
        break;
    case 1400:
        context = 1;
        break;
    case 1405:
        context = 3;
        break;
    case 1406:
        context = 4;
        break;
    case 1407:
        context = 5;
        break;
    case 1408:
    case 1411:
        context = 6;
        break;
    case 1412:
        context = 7;
        break;
    default:
        return 0;
    }
    return context + OstrelHelpBase();
}

uint32_t OstrelTrayHelpContext()
{
    return OstrelHelpContext(kOstrelTrayControl);
}

OstrelStatusWindowValue OstrelParseStatusWindow(std::string_view text)
{
    OstrelStatusWindowValue v;
    int32_t numbers[6] = {};
    size_t pos = 0;
    int read = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                break;
            ++pos;
        }
        if (!ScanInt(text, &pos, &numbers[i]))
            break;
        read = i + 1;
    }
    v.left = numbers[0];
    v.top = numbers[1];
    v.details = read >= 3 && numbers[2] != 0;
    v.openAtExit = read >= 4 && numbers[3] != 0;
    v.width = numbers[4];
    v.height = numbers[5];
    // "%d,%d,%d,%*d,%d,%d": the fourth number is read but not counted.
    v.count = read >= 4 ? read - 1 : read;
    return v;
}

std::string OstrelFormatStatusWindow(
    int32_t left, int32_t top, bool details, bool openAtExit, int32_t width, int32_t height)
{
    return StrFormat("%d,%d,%d,%d,%d,%d", left, top, details ? 1 : 0, openAtExit ? 1 : 0, width, height);
}

OstrelStatusWindowValue OstrelReadStatusWindow(const std::string& settingsKey)
{
    RegKey key;
    if (key.Open(RegRoot::LocalMachine, settingsKey) != RegStatus::Ok)
        return {};
    auto text = key.ReadString("StatusWindow");
    return text ? OstrelParseStatusWindow(*text) : OstrelStatusWindowValue {};
}

void OstrelWriteStatusWindow(const std::string& settingsKey, const std::string& value)
{
    RegKey key;
    if (key.Create(RegRoot::LocalMachine, settingsKey) == RegStatus::Ok)
        key.WriteString("StatusWindow", value);
}

OstrelStatusPlacement OstrelPlaceStatusWindow(const OstrelStatusWindowValue& value, const PlaceRect& collapsed,
    const PlaceRect& expanded, int32_t cursorX, int32_t cursorY, const PlaceRect& workArea)
{
    OstrelStatusPlacement p;
    p.expandedWidth = expanded.Width();
    p.expandedHeight = expanded.Height();
    int32_t x = 0, y = 0;
    if (value.count == 5 || value.count == 3) {
        x = value.left;
        y = value.top;
        p.details = value.details;
        if (value.count == 5) {
            p.expandedWidth = std::max(value.width, expanded.Width());
            p.expandedHeight = std::max(value.height, expanded.Height());
        }
    }
    int32_t w = p.details ? p.expandedWidth : std::max(collapsed.Width(), 0);
    int32_t h = p.details ? p.expandedHeight : std::max(collapsed.Height(), 0);
    if (value.count != 5 && value.count != 3) {
        x = cursorX - w / 2;
        y = cursorY - h / 2;
    }
    // Kept on the work area: left edge not left of it, else right edge not right of it; likewise
    // top and bottom (64-bit sums: the saved numbers may be anything).
    int64_t right = int64_t(x) + w, bottom = int64_t(y) + h;
    if (x < workArea.left)
        x = workArea.left;
    else if (right > workArea.right)
        x = static_cast<int32_t>(std::max<int64_t>(int64_t(workArea.right) - w, workArea.left));
    if (y < workArea.top)
        y = workArea.top;
    else if (bottom > workArea.bottom)
        y = static_cast<int32_t>(std::max<int64_t>(int64_t(workArea.bottom) - h, workArea.top));
    p.rect = PlaceRect { x, y, x + w, y + h };
    return p;
}

OstrelCounts OstrelCountStatus(const uint8_t* data, size_t bytes)
{
    OstrelCounts c;
    uint32_t all = capi_buffer::CountDevices(data, bytes, false);
    c.available = all > 0 ? static_cast<int32_t>(capi_buffer::CountDevices(data, bytes, true)) : -1;
    c.calls = capi_buffer::CountConnections(data, bytes, 0);
    c.traffic = capi_buffer::RecentTraffic(data, bytes, 0, kOstrelTrafficMs);
    return c;
}

OstrelCounts OstrelCountStatus()
{
    return CapiStatus().With([](const uint8_t* data, size_t bytes) { return OstrelCountStatus(data, bytes); });
}

std::string OstrelTrayTip(const OstrelCounts& counts, bool deactivated, const std::string& displayName)
{
    const char* name = displayName.c_str();
    if (deactivated)
        return StrFormat(Str(kOstrelStrTipDeactivated).c_str(), name);
    if (counts.available == 1)
        return StrFormat(Str(kOstrelStrTipOne).c_str(), name);
    if (counts.available > 1)
        return StrFormat(Str(kOstrelStrTipMany).c_str(), name, counts.available);
    if (counts.available == 0)
        return StrFormat(Str(kOstrelStrTipNoneAvailable).c_str(), name);
    return StrFormat(Str(kOstrelStrTipNoneFound).c_str(), name);
}

OstrelTray::Refresh OstrelTray::Update(
    const OstrelCounts& counts, bool deactivated, const std::string& displayName, bool force)
{
    Refresh r;
    uint32_t low = ((counts.calls & 0xFF) << 8) | (static_cast<uint32_t>(counts.available) & 0xFF);
    // A change of the activation state changes the icon too, though the counts stayed.
    if (force || !wordSet_ || low != (word_ & 0xFFFF) || deactivated != deactivated_) {
        if (deactivated)
            icon_ = kOstrelIconDeactivated;
        else if (counts.available > 0)
            icon_ = counts.calls ? kOstrelIconCalls : kOstrelIconAvailable;
        else
            icon_ = kOstrelIconNone;
        tip_ = OstrelTrayTip(counts, deactivated, displayName);
        word_ = (word_ & 0xFFFF0000u) | low;
        wordSet_ = true;
        deactivated_ = deactivated;
        r.changed = true;
    }
    if (counts.traffic) {
        uint32_t flash = Flash();
        if (flash < 2)
            word_ = (word_ & 0xFFFF) | (3u << 16);
        if (flash == 0) {
            r.restartTimer = true;
            Tick();
        }
    }
    return r;
}

void OstrelTray::Tick()
{
    uint32_t flash = Flash();
    if (flash > 0)
        word_ = (word_ & 0xFFFF) | ((flash - 1) << 16);
    uint32_t calls = (word_ >> 8) & 0xFF;
    if (calls && !deactivated_ && static_cast<int8_t>(word_ & 0xFF) > 0)
        icon_ = Flash() == 2 ? kOstrelIconFlash : kOstrelIconCalls;
}

uint32_t OstrelReadDeactivated(const std::string& rcapiKey)
{
    RegKey key;
    if (key.Open(RegRoot::LocalMachine, rcapiKey) != RegStatus::Ok)
        return 0;
    return key.ReadDword("RCapiSuspended").value_or(0) ? 1 : 0;
}

OstrelToggleResult OstrelToggleActive(
    bool* deactivated, uint32_t calls, bool force, OstrelAnswer answer, const std::string& rcapiKey)
{
    if (*deactivated) {
        *deactivated = false;
        CapiSetSuspended(0);
    } else if (calls == 0 || force || answer == OstrelAnswer::Yes) {
        *deactivated = true;
        CapiSetSuspended(1);
    } else if (answer == OstrelAnswer::None) {
        return OstrelToggleResult::Ask;
    }
    RegKey key;
    if (key.Create(RegRoot::LocalMachine, rcapiKey) == RegStatus::Ok)
        key.WriteDword("RCapiSuspended", *deactivated ? 1 : 0);
    return OstrelToggleResult::Done;
}

OstrelPowerResult OstrelPowerEvent(uint32_t event, uint32_t flags, bool deactivated, const std::string& settingsKey)
{
    switch (event) {
    case kOstrelPowerQuerySuspend: {
        if (!(flags & 1))
            return OstrelPowerResult::Allow; // no user to ask
        RegKey key;
        if (key.Open(RegRoot::LocalMachine, settingsKey) == RegStatus::Ok
            && key.ReadDword("SuspendPermission").value_or(0) != 0)
            return OstrelPowerResult::Allow;
        return OstrelPowerResult::Ask;
    }
    case kOstrelPowerSuspend:
        CapiSetSuspended(1);
        break;
    case kOstrelPowerResumeCritical:
    case kOstrelPowerResumeSuspend:
    case kOstrelPowerResumeAutomatic:
        // The user's activation state: a deactivated CAPI stays deactivated after a sleep.
        CapiSetSuspended(deactivated ? 1 : 0);
        break;
    default:
        break;
    }
    return OstrelPowerResult::Allow;
}

OstrelPowerResult OstrelSuspendAnswer(bool yes, bool dontShowAgain, const std::string& settingsKey)
{
    if (!yes)
        return OstrelPowerResult::Deny;
    RegKey key;
    if (key.Create(RegRoot::LocalMachine, settingsKey) == RegStatus::Ok)
        key.WriteDword("SuspendPermission", dontShowAgain ? 1 : 0);
    return OstrelPowerResult::Allow;
}

void OstrelServiceMain(const OstrelServiceHost& host)
{
    Clock& clock = host.clock ? *host.clock : SystemClock();
    host.report(kOstrelStartPending, kOstrelWaitHint, 0);
    if (!host.startWindowThread()) {
        host.report(kOstrelStopped, 0, host.run->exitError ? host.run->exitError.load() : 1);
        return;
    }
    while (!host.run->running) {
        if (host.run->ended) {
            // The window thread ended before it ran: the driver could not be opened.
            uint32_t error = host.run->exitError;
            host.report(kOstrelStopped, 0, error ? error : 1);
            return;
        }
        clock.SleepMs(kOstrelPollMs);
    }
    host.report(kOstrelRunning, 0, 0);
}

void OstrelServiceStop(const OstrelServiceHost& host)
{
    Clock& clock = host.clock ? *host.clock : SystemClock();
    host.report(kOstrelStopPending, kOstrelWaitHint, 0);
    if (host.markStatusWindowOpen)
        host.markStatusWindowOpen();
    host.postQuit();
    for (uint32_t i = 0; i < kOstrelStopPolls && host.run->running; ++i)
        clock.SleepMs(kOstrelPollMs);
    if (host.run->running)
        host.report(kOstrelRunning, 0, 0);
    else
        host.report(kOstrelStopped, 0, 0);
}
