#include "cli/qorvexal/cmd_device.h"

#include "cli/cli.h"
#include "cli/qorvexal/devices.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "device/devstatus.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

bool QvDeviceFromArgument(const std::string& name, DeviceEntry* entry)
{
    *entry = DeviceEntry();
    uint32_t ip = 0;
    uint16_t port = 0;
    if (QvParseAddressPort(name, &ip, &port)) {
        // An address needs no device list.
        entry->address = ip;
        entry->port = port;
    } else {
        DeviceList list;
        if (!QvLoadDevices(list))
            return false;
        std::unique_ptr<DeviceEntry> scratch;
        std::string error;
        DeviceEntry* found = QvResolveDevice(list, name, scratch, error);
        if (!found) {
            CliFail(error, 2);
            return false;
        }
        *entry = *found;
        entry->next = nullptr;
    }
    if (entry->link != LinkIp) {
        CliFail(name + ": only devices reached over IP are supported here", 2);
        return false;
    }
    if (entry->timeout_s <= 0)
        entry->timeout_s = 10;
    if (entry->address_list[0] == 0)
        entry->address_list[0] = entry->address;
    return true;
}

bool QvTimeoutOption(const std::optional<std::string>& text, int32_t* seconds)
{
    unsigned long long value = static_cast<unsigned long long>(*seconds);
    if (!CliNumber(text, 3600, &value, "time-out"))
        return false;
    if (value == 0) {
        CliFail("the time-out must be at least 1 second", 2);
        return false;
    }
    *seconds = static_cast<int32_t>(value);
    return true;
}

int QvReportStatus(const DeviceEntry& entry, const char* what)
{
    int32_t status = entry.status.load();
    std::string text = status == DevStatusCancelled ? "Cancelled" : DevStatusText(status);
    if (!entry.status_text.empty())
        text += ": " + entry.status_text;
    if (status == DevStatusOk)
        return 0;
    std::fprintf(stderr, "%s: %s %s: %s\n", CliProgramName(), what, entry.AddressText().c_str(), CliText(text).c_str());
    return 1;
}

int QvWithProgress(DeviceEntry& entry, const std::function<int()>& work)
{
    bool show = isatty(2) || std::getenv("QORVEXAL_PROGRESS");
    if (!show)
        return work();
    int result = 0;
    std::atomic<bool> done { false };
    std::thread worker([&] {
        result = work();
        done = true;
    });
    // The rate counts from the start of the current kind of progress (a dial-up link dials first).
    auto start = std::chrono::steady_clock::now();
    int32_t shownKind = DevProgressNone;
    size_t shownWidth = 0;
    bool shown = false;
    while (!done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        int32_t kind = entry.progress_kind.load();
        if (kind != shownKind) {
            shownKind = kind;
            start = std::chrono::steady_clock::now();
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        int32_t count = entry.progress.load();
        bool bytes = kind == DevProgressBytes || kind == DevProgressPercent;
        int32_t rate = bytes && seconds > 0.5 ? static_cast<int32_t>(count / seconds) : 0;
        std::string line = DevProgressText(kind, count, entry.progress_total.load(), rate, entry.phone_number.str());
        if (line.empty())
            continue;
        // A shorter text than the last one blanks the rest of the line.
        size_t width = line.size();
        line.append(shownWidth > width ? shownWidth - width : 0, ' ');
        shownWidth = width;
        std::fprintf(stderr, "\r%s", line.c_str());
        shown = true;
    }
    worker.join();
    if (shown)
        std::fprintf(stderr, "\n");
    return result;
}
