// A new configuration made from a device type's initial data: the new-configuration dialog (device
// type, firmware version with the last one preselected, the features as check boxes), the sheet on the
// new configuration, and the file it is saved to (File, New configuration and the "shellnew:" verb).
#pragma once

#include <windows.h>

#include <string>

// String ids of the dialog.
enum : unsigned {
    NewStrTitle = 2147, // "New configuration"
    NewStrDeviceType = 2148, // "&Device type:"
    NewStrVersion = 2149, // "&Firmware version:"
    NewStrFeatures = 2150, // "Features"
};

// Control ids of the dialog (features from NewIdFirstFeature on, one check box each).
enum : int {
    NewIdDeviceType = 101,
    NewIdVersion = 102,
    NewIdFirstFeature = 110,
};

// Makes a new configuration: the dialog, the sheet on it, then the file. `path` is the file to write
// ("shellnew:"); empty, the user picks one in the Save configuration as dialog. Before the file is
// written the comment dialog offers "Configuration of '%s' from %s" (device type, today's date).
// Returns true when the file was written; nothing is written when any step is cancelled.
bool CfgNewConfigurationFile(HWND owner, const std::string& path);
