// The Win32 side of the driver interface: the real device (CreateFileA, overlapped DeviceIoControl), the
// notification posted to a window, the system family and error texts. No <windows.h> here, so that the
// command-line tool can use it too.
#pragma once

#include "capictl/capi_keys.h"
#include "capictl/capi_task.h"

#include <cstdint>
#include <functional>
#include <string>

// Opens the device with CreateFileA: read and write, no sharing, OPEN_EXISTING, overlapped and
// delete-on-close. Null with the system error.
std::unique_ptr<CapiDevice> CapiOpenWin32Device(const std::string& name, uint32_t* error);

// The task's platform: the Win32 device, `notify` after each status buffer, the system's family.
// `device` and `altDevice` are the names after "\\.\" ("CAPI201"); an empty `altDevice` means none.
CapiPlatform CapiWin32Platform(const std::string& device, const std::string& altDevice, std::function<void()> notify);
// A notification that posts message 1036 to `window` (an HWND).
std::function<void()> CapiNotifyWindow(void* window);
constexpr uint32_t kCapiStatusMessage = 1036;

// Windows 9x when the top bit of the platform version is set.
CapiFamily CapiSystemFamily();
// The system's text for an error number, without the line end.
std::string CapiErrorText(uint32_t error);
