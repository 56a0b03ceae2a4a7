// How the dialogs name a device in captions, titles and messages, without depending on the main
// window's file: the list they name it from is the main window's.
#pragma once

#include <string>

struct DeviceEntry;

// The device's name, with its address beside it where another device of the list has the same name.
std::string MainDeviceTitle(const DeviceEntry& entry);
