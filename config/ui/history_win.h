// Device, Configuration history: the kept versions of a device, two of them compared, one saved as a
// file or chosen for a restore; the upload question with the list of changes a write makes; File,
// Export device list. The logic is config/frontend/history_view.h and devicetable.h.
#pragma once

#include "config/frontend/devicetable.h"

#include <windows.h>

#include <string>
#include <vector>

struct DeviceEntry;

// The history dialog of `entry` (its versions under the settings' history folder). Returns the file
// of the version the user chose to restore, "" when the dialog was closed.
std::string HistoryDialog(HWND owner, const DeviceEntry& entry, const std::string& title);
// How many lines of changes an upload question lists at most (then how many more there are).
constexpr size_t kHistQuestionLines = 200;
// A question with Yes and No and a scrolling list below it (what a write changes); `checkText` offers
// the "don't show again" box (`*ticked` tells whether it was ticked). True for Yes.
bool AskWithListDialog(HWND owner, const std::string& text, const std::string& list, const std::string& title,
    const std::string& checkText, bool* ticked);
// The restore question's list: what the file chosen for the entry's restore changes against the
// device's newest kept version ("" when that cannot be told).
std::string HistRestoreQuestionList(const DeviceEntry& entry);
// File, Export device list: the save dialog, then the list's CSV written whole.
void ExportDeviceListCommand(HWND owner, const std::vector<DeviceRow>& rows);
