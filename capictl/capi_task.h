// The CAPI task's side of the remote-CAPI driver: finding the driver's registry keys, opening the device
// with its status thread, and the control requests (settings, suspend, drop a call). The device itself is
// behind CapiDevice: the Win32 layer opens the real one, tests put in a substitute.
#pragma once

#include "common/clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// System error numbers the task tells apart (as Windows numbers them).
constexpr uint32_t kCapiErrorMoreData = 234; // the output buffer is too small
constexpr uint32_t kCapiErrorAborted = 995; // the request was cancelled
constexpr uint32_t kCapiErrorNotOpen = 6; // no device open (an invalid handle)

// An open device. Requests wait while the driver keeps them pending.
class CapiDevice {
public:
    virtual ~CapiDevice() = default; // closes the device
    // The status request into `buffer`; 0 with the bytes written, or the system error.
    virtual uint32_t GetStatus(uint8_t* buffer, uint32_t size, uint32_t* bytes) = 0;
    // A control request with one or more control records; 0 or the system error.
    virtual uint32_t Control(const uint8_t* data, uint32_t size) = 0;
    // Called from another thread: ends a pending status request, and any later one at once.
    virtual void Cancel() = 0;
};

struct CapiPlatform {
    // Opens the device by its full name; null with the system error when it cannot be opened.
    std::function<std::unique_ptr<CapiDevice>(const std::string& name, uint32_t* error)> open;
    // Called by the status thread after each new status buffer (the Win32 layer posts message 1036).
    std::function<void()> notify;
    Clock* clock = nullptr; // the status thread's pauses; the system clock when null
    bool windows9x = false;
    std::string device = "\\\\.\\CAPI201";
    std::string altDevice; // tried on Windows 9x when `device` cannot be opened; empty: none
};
void CapiSetPlatform(CapiPlatform platform);

// Opens the device (the alternative one on Windows 9x when the first fails) and starts the status thread.
int CapiOpen();
// Stops the status thread (a pending request is cancelled, a pause cut short), then closes the device
// and empties the status copy. No request is ever issued on a closed device.
void CapiClose();
bool CapiIsOpen();
// The system error of the last failed CapiOpen or control request.
uint32_t CapiLastError();

// Control requests; 1 when the driver took the request, 0 on failure (no retry).
int CapiPushSettings(); // the whole parameters key
int CapiSetSuspended(uint32_t flag);
int CapiDisconnect(uint32_t connection);
// Sends a control buffer as it stands (the requests above build theirs).
int CapiSendControl(const std::string& records);

// The status thread's request sizes and pauses (tests read them).
constexpr uint32_t kCapiStatusStep = 1024; // first size, and the growth on ERROR_MORE_DATA
constexpr uint32_t kCapiStatusMax = 16u << 20; // a driver that asks for more is treated as failing
constexpr uint32_t kCapiFirstPause = 100; // after a failed request, doubling while failures go on
constexpr uint32_t kCapiMaxPause = 2000;
