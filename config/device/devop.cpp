#include "config/device/devop.h"

#include "common/tempstream.h"
#include "config/device/console.h"
#include "config/device/devcmd.h"
#include "config/device/devstatus.h"
#include "config/device/sysinfo.h"

namespace {
constexpr uint32_t kReadPauseMs = 500;
constexpr uint32_t kRestartPauseMs = 4000;
constexpr uint32_t kPauseStepMs = 100;
constexpr int32_t kRestartSlackSeconds = 10;

uint32_t TimeoutMs(const DeviceEntry& entry)
{
    return static_cast<uint32_t>(entry.timeout_s > 0 ? entry.timeout_s : 0) * 1000u;
}

// Operations without a procedure for the entry's link end with "No interface".
bool IpLink(DeviceEntry& entry)
{
    if (entry.link == LinkIp)
        return true;
    entry.status = DevStatusNoInterface;
    return false;
}

int Done(DeviceEntry& entry, int32_t status)
{
    entry.status = status;
    return status == DevStatusOk ? 1 : 0;
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
} // namespace

int DevOpCheck(DeviceEntry& entry)
{
    if (entry.link == LinkSerial)
        return Done(entry, ConsoleCheck(entry));
    if (!IpLink(entry))
        return 0;
    entry.cancel = 0;
    std::string text;
    int32_t status
        = DevSysInfo(entry.address, entry.port, &text, TimeoutMs(entry), kDevBlockSize, nullptr, &entry.cancel);
    if (status == DevStatusOk && !SysInfoParseInto(text, entry))
        status = DevStatusUnknown;
    return Done(entry, status);
}

int DevOpReadConfig(DeviceEntry& entry, std::shared_ptr<CfgTempStream>* stream)
{
    if (stream)
        stream->reset();
    if (entry.link == LinkSerial)
        return Done(entry, ConsoleReadConfig(entry, stream));
    if (!DevOpCheck(entry))
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
    return Done(entry, status);
}

int DevOpWriteConfig(DeviceEntry& entry, CfgTempStream& stream)
{
    if (entry.link == LinkSerial)
        return Done(entry, ConsoleWriteConfig(entry, stream));
    if (!IpLink(entry))
        return 0;
    entry.cancel = 1; // from here on the write must not be interrupted
    entry.progress_kind = 201;
    entry.progress = 0;
    int32_t status = DevWriteConfig(
        entry.address, entry.port, entry.password.str(), stream, TimeoutMs(entry), kDevBlockSize, &entry.progress);
    entry.progress_kind = 0;
    return Done(entry, status);
}

int DevOpUploadFirmware(DeviceEntry& entry, std::FILE* firmware, uint32_t imageParam)
{
    if (!IpLink(entry))
        return 0;
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
    return Done(entry, status);
}

int DevOpActivateImage(DeviceEntry& entry, int32_t image)
{
    if (!IpLink(entry))
        return 0;
    return Done(entry,
        DevActivateImage(entry.address, entry.port, entry.password.str(), image, TimeoutMs(entry), kDevBlockSize,
            nullptr, &entry.cancel));
}

int DevOpSetTime(DeviceEntry& entry, std::string_view timeText)
{
    if (!IpLink(entry))
        return 0;
    return Done(entry,
        DevSetTime(entry.address, entry.port, entry.password.str(), timeText, TimeoutMs(entry), kDevBlockSize, nullptr,
            &entry.cancel));
}

int DevOpWaitRestart(DeviceEntry& entry, uint32_t flags, int32_t extraSeconds)
{
    if (entry.link == LinkSerial)
        return WaitRestartSerial(entry, flags, extraSeconds);
    if (!IpLink(entry))
        return 0;
    if ((flags & DevWaitRestarts) && !Pause(entry, kRestartPauseMs)) {
        entry.status = DevStatusCancelled;
        return 0;
    }
    int32_t savedTimeout = entry.timeout_s;
    if (flags & DevWaitRestarts)
        entry.timeout_s += extraSeconds + kRestartSlackSeconds;
    int32_t before = entry.status.load();
    uint32_t firstAddress = entry.address;
    int ok = DevOpCheck(entry);
    if (!ok && (flags & DevWaitFurtherAddresses) && entry.status.load() != DevStatusCancelled) {
        for (size_t i = 1; i < DeviceEntry::kAddressListSize && entry.address_list[i] != 0; ++i) {
            entry.status = before;
            entry.address = entry.address_list[i];
            if ((ok = DevOpCheck(entry)) != 0 || entry.status.load() == DevStatusCancelled)
                break;
        }
        if (!ok)
            entry.address = entry.address_list[0] ? entry.address_list[0] : firstAddress;
    }
    entry.timeout_s = savedTimeout;
    return entry.status.load() == DevStatusOk ? 1 : 0;
}
