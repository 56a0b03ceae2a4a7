#include "device/devop.h"

#include "common/tempstream.h"
#include "device/console.h"
#include "device/devcmd.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/sysinfo.h"

namespace {
constexpr uint32_t kReadPauseMs = 500;
constexpr uint32_t kRestartPauseMs = 4000;
constexpr uint32_t kPauseStepMs = 100;
constexpr int32_t kRestartSlackSeconds = 10;
constexpr uint32_t kDialRetryPauseMs = 2000;

uint32_t TimeoutMs(const DeviceEntry& entry)
{
    return static_cast<uint32_t>(entry.timeout_s > 0 ? entry.timeout_s : 0) * 1000u;
}

int Done(DeviceEntry& entry, int32_t status)
{
    entry.status = status;
    return status == DevStatusOk ? 1 : 0;
}

// Done after a device command: keeps what the device said about a failure with the status.
int DoneTftp(DeviceEntry& entry, int32_t status)
{
    entry.status_text = status == DevStatusOk ? std::string() : TftpLastFailureText();
    return Done(entry, status);
}

// Sleeps `ms` in steps of 100 ms; false as soon as the user cancels.
bool Pause(DeviceEntry& entry, uint32_t ms)
{
    for (uint32_t waited = 0; waited < ms; waited += kPauseStepMs) {
        if (entry.cancel.load())
            return false;
        TftpClock().SleepMs(kPauseStepMs);
    }
    return true;
}
// Serial: after the wait, the console is checked again and again while it stays silent (115), until
// the extra seconds (plus 10 when the device restarts) have passed.
int WaitRestartSerial(DeviceEntry& entry, uint32_t flags, int32_t extraSeconds)
{
    if ((flags & DevWaitRestarts) && !Pause(entry, kRestartPauseMs)) {
        entry.status = DevStatusCancelled;
        return 0;
    }
    Clock& clock = TftpClock();
    int32_t allowMs = (extraSeconds + ((flags & DevWaitRestarts) ? kRestartSlackSeconds : 0)) * 1000;
    uint32_t start = clock.TickMs();
    for (;;) {
        entry.status = ConsoleCheck(entry);
        if (entry.status.load() != DevStatusNoResponse)
            break;
        if (static_cast<int32_t>(clock.TickMs() - start) >= allowMs)
            break;
    }
    return entry.status.load() == DevStatusOk ? 1 : 0;
}
int IpCheck(DeviceEntry& entry)
{
    entry.cancel = 0;
    std::string text;
    int32_t status
        = DevSysInfo(entry.address, entry.port, &text, TimeoutMs(entry), kDevBlockSize, nullptr, &entry.cancel);
    if (status == DevStatusOk && !SysInfoParseInto(text, entry)) {
        entry.status_text = "the system information text is not valid";
        return Done(entry, DevStatusUnknown);
    }
    return DoneTftp(entry, status);
}

int IpReadConfig(DeviceEntry& entry, std::shared_ptr<CfgTempStream>* stream)
{
    if (!IpCheck(entry))
        return 0;
    TftpClock().SleepMs(kReadPauseMs);
    auto received = std::make_shared<CfgTempStream>();
    if (!received->Open())
        return Done(entry, DevStatusIpError);
    entry.progress_kind = 201;
    entry.progress = 0;
    int32_t status = DevReadConfig(entry.address, entry.port, entry.password.str(), *received, TimeoutMs(entry),
        kDevBlockSize, &entry.progress, &entry.cancel);
    entry.progress_kind = 0;
    if (status == DevStatusOk && stream)
        *stream = std::move(received);
    return DoneTftp(entry, status);
}

int IpWriteConfig(DeviceEntry& entry, CfgTempStream& stream)
{
    entry.cancel = 1; // from here on the write must not be interrupted
    entry.progress_kind = 201;
    entry.progress = 0;
    int32_t status = DevWriteConfig(
        entry.address, entry.port, entry.password.str(), stream, TimeoutMs(entry), kDevBlockSize, &entry.progress);
    entry.progress_kind = 0;
    return DoneTftp(entry, status);
}

int IpUploadFirmware(DeviceEntry& entry, std::FILE* firmware, uint32_t imageParam)
{
    entry.cancel = 1;
    long start = std::ftell(firmware);
    std::fseek(firmware, 0, SEEK_END);
    long end = std::ftell(firmware);
    std::fseek(firmware, start, SEEK_SET);
    entry.progress_total = static_cast<int32_t>(end > start ? end - start : 0);
    entry.progress_kind = 202;
    entry.progress = 0;
    entry.uploading = 1;
    TftpFileStream local(firmware);
    int32_t status = DevWriteFlash(entry.address, entry.port, entry.password.str(), imageParam, local, TimeoutMs(entry),
        kDevBlockSize, &entry.progress);
    entry.progress_kind = 0;
    entry.uploading = 0;
    return DoneTftp(entry, status);
}

int IpActivateImage(DeviceEntry& entry, int32_t image)
{
    return DoneTftp(entry,
        DevActivateImage(entry.address, entry.port, entry.password.str(), image, TimeoutMs(entry), kDevBlockSize,
            nullptr, &entry.cancel));
}

int IpSetTime(DeviceEntry& entry, std::string_view timeText)
{
    return DoneTftp(entry,
        DevSetTime(entry.address, entry.port, entry.password.str(), timeText, TimeoutMs(entry), kDevBlockSize, nullptr,
            &entry.cancel));
}

// Dial-up: the connection first (made or reused), then the IP procedure, then the idle hang-up.
template<typename Procedure> int OverDialUp(DeviceEntry& entry, Procedure procedure)
{
    int32_t status = DialupConnect(entry);
    if (status != DevStatusOk)
        return Done(entry, status);
    int ok = procedure();
    DialupStartIdleHangUp(entry);
    return ok;
}

// Dial-up: after the wait the connection is made again (the device dropped it when it restarted); while
// that fails with "Dial-Up error" it is tried every 2 seconds until the extra seconds plus 10 have passed.
int WaitRestartDialUp(DeviceEntry& entry, uint32_t flags, int32_t extraSeconds)
{
    if (!Pause(entry, (flags & DevWaitRestarts) ? kRestartPauseMs : kDialRetryPauseMs)) {
        entry.status = DevStatusCancelled;
        return 0;
    }
    Clock& clock = TftpClock();
    uint32_t start = clock.TickMs();
    int32_t before = entry.status.load();
    int64_t allowMs = (static_cast<int64_t>(extraSeconds) + kRestartSlackSeconds) * 1000;
    for (;;) {
        int32_t status = DialupConnect(entry);
        if (status == DevStatusOk)
            break;
        entry.status = status;
        if (status != DevStatusDialUpError || static_cast<int64_t>(clock.TickMs() - start) >= allowMs)
            return 0;
        entry.status = before;
        if (!Pause(entry, kDialRetryPauseMs)) {
            entry.status = DevStatusCancelled;
            return 0;
        }
    }
    // The line is up before the device's restart has ended: its check allows for the restart as the
    // check over IP does.
    int32_t savedTimeout = entry.timeout_s;
    if (flags & DevWaitRestarts)
        entry.timeout_s += extraSeconds + kRestartSlackSeconds;
    int ok = IpCheck(entry);
    entry.timeout_s = savedTimeout;
    DialupStartIdleHangUp(entry);
    return ok;
}
} // namespace

int DevOpCheck(DeviceEntry& entry)
{
    switch (entry.link) {
    case LinkIp:
        return IpCheck(entry);
    case LinkDialUp:
        return OverDialUp(entry, [&] { return IpCheck(entry); });
    case LinkSerial:
        return Done(entry, ConsoleCheck(entry));
    default:
        return Done(entry, DevStatusNoInterface);
    }
}

int DevOpReadConfig(DeviceEntry& entry, std::shared_ptr<CfgTempStream>* stream)
{
    if (stream)
        stream->reset();
    switch (entry.link) {
    case LinkIp:
        return IpReadConfig(entry, stream);
    case LinkDialUp:
        return OverDialUp(entry, [&] { return IpReadConfig(entry, stream); });
    case LinkSerial:
        return Done(entry, ConsoleReadConfig(entry, stream));
    default:
        return Done(entry, DevStatusNoInterface);
    }
}

int DevOpWriteConfig(DeviceEntry& entry, CfgTempStream& stream)
{
    switch (entry.link) {
    case LinkIp:
        return IpWriteConfig(entry, stream);
    case LinkDialUp:
        return OverDialUp(entry, [&] { return IpWriteConfig(entry, stream); });
    case LinkSerial:
        return Done(entry, ConsoleWriteConfig(entry, stream));
    default:
        return Done(entry, DevStatusNoInterface);
    }
}

int DevOpUploadFirmware(DeviceEntry& entry, std::FILE* firmware, uint32_t imageParam)
{
    switch (entry.link) {
    case LinkIp:
        return IpUploadFirmware(entry, firmware, imageParam);
    case LinkDialUp:
        return OverDialUp(entry, [&] { return IpUploadFirmware(entry, firmware, imageParam); });
    case LinkSerial: {
        entry.uploading = 1;
        int32_t status = ConsoleUploadFirmware(entry, firmware);
        entry.uploading = 0;
        return Done(entry, status);
    }
    default:
        return Done(entry, DevStatusNoInterface);
    }
}

int DevOpActivateImage(DeviceEntry& entry, int32_t image)
{
    switch (entry.link) {
    case LinkIp:
        return IpActivateImage(entry, image);
    case LinkDialUp:
        return OverDialUp(entry, [&] { return IpActivateImage(entry, image); });
    default:
        return Done(entry, DevStatusNoInterface); // no serial procedure
    }
}

int DevOpSetTime(DeviceEntry& entry, std::string_view timeText)
{
    switch (entry.link) {
    case LinkIp:
        return IpSetTime(entry, timeText);
    case LinkDialUp:
        return OverDialUp(entry, [&] { return IpSetTime(entry, timeText); });
    default:
        return Done(entry, DevStatusNoInterface); // no serial procedure
    }
}

int DevOpWaitRestart(DeviceEntry& entry, uint32_t flags, int32_t extraSeconds)
{
    if (entry.link == LinkSerial)
        return WaitRestartSerial(entry, flags, extraSeconds);
    if (entry.link == LinkDialUp)
        return WaitRestartDialUp(entry, flags, extraSeconds);
    if (entry.link != LinkIp)
        return Done(entry, DevStatusNoInterface);
    if ((flags & DevWaitRestarts) && !Pause(entry, kRestartPauseMs)) {
        entry.status = DevStatusCancelled;
        return 0;
    }
    int32_t savedTimeout = entry.timeout_s;
    if (flags & DevWaitRestarts)
        entry.timeout_s += extraSeconds + kRestartSlackSeconds;
    int32_t before = entry.status.load();
    uint32_t firstAddress = entry.address;
    int ok = IpCheck(entry);
    if (!ok && (flags & DevWaitFurtherAddresses) && entry.status.load() != DevStatusCancelled) {
        for (size_t i = 1; i < DeviceEntry::kAddressListSize && entry.address_list[i] != 0; ++i) {
            entry.status = before;
            entry.address = entry.address_list[i];
            if ((ok = IpCheck(entry)) != 0 || entry.status.load() == DevStatusCancelled)
                break;
        }
        if (!ok)
            entry.address = entry.address_list[0] ? entry.address_list[0] : firstAddress;
    }
    entry.timeout_s = savedTimeout;
    return entry.status.load() == DevStatusOk ? 1 : 0;
}
