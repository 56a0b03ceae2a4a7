// The properties sheet of a device in talvine.exe: the device page (type, vendor, address, the editable
// password), the logging page and the options page.
#pragma once

#include <windows.h>

struct EngineDevice;
class Engine;

// Modal; true when the user saved with OK.
bool ShowDeviceProperties(HINSTANCE instance, HWND owner, Engine& engine, EngineDevice& device);
