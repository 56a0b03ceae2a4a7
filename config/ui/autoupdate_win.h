// The firmware update the shell starts with "autoupdate:", before the main window exists: the
// firmware upload for one device of the list, or an update package (its search, selection and upload
// dialogs). Each brings up the network for its own run.
#pragma once

#include <windows.h>

#include <string>

// The firmware upload for the device of the list named `name` (ignoring case), as the window's
// Firmware upload command does it: check, file dialog, questions, upload, restart.
void AutoUpdateDevice(HWND owner, const std::string& name);
// The update package described by `iniFile`: the search, the selection of the devices found and the
// upload, device by device.
void AutoUpdateFromFile(HWND owner, const std::string& iniFile);
// For the test control channel: no update work runs or waits to be handled (a dialog waiting for
// the user counts as idle).
bool AutoUpdateIdle();
