#include "capictl/capi_task.h"

#include "capictl/capi_keys.h"
#include "capictl/capi_records.h"
#include "capictl/capi_status.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {
struct Task {
    CapiPlatform platform;
    std::mutex mutex; // the device pointer, against control requests while closing
    std::unique_ptr<CapiDevice> device;
    std::atomic<bool> valid { false }; // the handle is valid: the status thread goes on
    std::thread thread;
    std::atomic<uint32_t> lastError { 0 };
};

Task& T()
{
    static Task task;
    return task;
}

Clock& TaskClock()
{
    return T().platform.clock ? *T().platform.clock : SystemClock();
}

// Waits `ms` on the task's clock, in slices, so that CapiClose cuts the pause short.
void Pause(uint32_t ms)
{
    Clock& clock = TaskClock();
    uint32_t start = clock.TickMs();
    while (T().valid) {
        uint32_t gone = clock.TickMs() - start;
        if (gone >= ms)
            break;
        clock.SleepMs(std::min<uint32_t>(ms - gone, 20));
    }
}

// Issues each status request as soon as the previous one completed; the driver keeps it pending until
// its status changes, so the thread waits in the driver and the window hears of each change once.
void StatusThread(CapiDevice* device)
{
    uint32_t size = kCapiStatusStep;
    uint32_t pause = 0;
    std::vector<uint8_t> working;
    while (T().valid) {
        if (working.size() < size)
            working = std::vector<uint8_t>(size); // grown, never shrunk; old contents are not wanted
        uint32_t bytes = 0;
        uint32_t error = device->GetStatus(working.data(), static_cast<uint32_t>(working.size()), &bytes);
        if (!T().valid)
            break;
        if (error == kCapiErrorMoreData && size < kCapiStatusMax) {
            size += kCapiStatusStep;
            continue;
        }
        if (error == 0) {
            pause = 0;
            CapiStatus().Swap(working, bytes);
            if (T().platform.notify)
                T().platform.notify();
            continue;
        }
        // Any other failure: ask again, but after a pause that grows while the failures go on, so a
        // driver that fails at once does not make this a busy loop.
        pause = pause ? std::min(pause * 2, kCapiMaxPause) : kCapiFirstPause;
        Pause(pause);
    }
}
} // namespace

void CapiSetPlatform(CapiPlatform platform)
{
    T().platform = std::move(platform);
}

int CapiOpen()
{
    Task& t = T();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.device || !t.platform.open) {
        t.lastError = kCapiErrorNotOpen;
        return 0;
    }
    uint32_t error = 0;
    std::unique_ptr<CapiDevice> device = t.platform.open(t.platform.device, &error);
    if (!device && !t.platform.altDevice.empty() && t.platform.windows9x)
        device = t.platform.open(t.platform.altDevice, &error);
    if (!device) {
        t.lastError = error;
        return 0;
    }
    t.device = std::move(device);
    t.valid = true;
    t.thread = std::thread(StatusThread, t.device.get());
    return 1;
}

void CapiClose()
{
    Task& t = T();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!t.device)
        return;
    // The handle becomes invalid first; the pending request is cancelled and the thread has left the
    // loop before the device is closed.
    t.valid = false;
    t.device->Cancel();
    if (t.thread.joinable())
        t.thread.join();
    t.device.reset();
    CapiStatus().Clear();
}

bool CapiIsOpen()
{
    return T().valid;
}

uint32_t CapiLastError()
{
    return T().lastError;
}

int CapiSendControl(const std::string& records)
{
    Task& t = T();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (!t.device || !t.valid) {
        t.lastError = kCapiErrorNotOpen;
        return 0;
    }
    uint32_t error
        = t.device->Control(reinterpret_cast<const uint8_t*>(records.data()), static_cast<uint32_t>(records.size()));
    if (error != 0) {
        t.lastError = error;
        return 0;
    }
    return 1;
}

int CapiPushSettings()
{
    std::string records;
    if (!CapiBuildSettings(RegRoot::LocalMachine, CapiGetKeys().parameters, &records)) {
        T().lastError = 2; // the parameters key cannot be opened: as the system says it
        return 0;
    }
    return CapiSendControl(records);
}

int CapiSetSuspended(uint32_t flag)
{
    return CapiSendControl(CapiSuspendRecords(flag));
}

int CapiDisconnect(uint32_t connection)
{
    std::string records;
    CapiAppendCommand(&records, connection);
    return CapiSendControl(records);
}
