// The properties sheet of a device in talvine.exe: the device page (type, vendor, address, the editable
// password) and the logging page.
#pragma once

#include <windows.h>

struct EngineDevice;

// Modal; true when the user saved with OK.
bool ShowDeviceProperties(HINSTANCE instance, HWND owner, EngineDevice& device);
