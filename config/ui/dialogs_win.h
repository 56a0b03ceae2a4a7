// The dialogs of the main window's commands: device (new, properties), search, options, date and time,
// the question with "Don't show this warning next time", address conflicts with their details, firmware
// management, and the file dialogs with the folders they remember.
#pragma once

#include "device/deviceentry.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct JobSearchRecord;
class CommandUi;

// The whole text of the dialog's control `id`.
std::string DialogText(HWND dialog, int id);
// The message `id` (a string of the program) with the exclamation mark, titled "Error"; then the
// keyboard focus to the control `focus` (none: 0).
void DialogWarn(HWND owner, unsigned id, int focus = 0);
// The device dialog on `entry` (a new entry: its defaults). Returns true on OK with the entry filled;
// the address and phone lists are saved then.
bool DeviceDialog(HWND owner, DeviceEntry& entry, bool isNew);
// The search dialog: fills the request's phases and remote network. True on OK.
bool SearchDialog(HWND owner, JobSearchRecord& record);
// The Options dialog: writes its keys on OK.
void OptionsDialog(HWND owner);
// The date and time dialog: `time` receives "hhmmssDDMMYYYY". `deviceClock`: the device's own clock
// text (empty when it reported none).
bool DateTimeDialog(HWND owner, const std::string& deviceClock, std::string* time);
// A question with Yes and No; with `checkText` the check box is offered and `*ticked` tells whether
// the user ticked it. Returns true for Yes. `icon`: a warning (the default) or the question mark
// (IDI_QUESTION) for a question without risk.
bool AskDialog(HWND owner, const std::string& text, const std::string& title, const std::string& checkText,
    bool* ticked, LPCSTR icon = IDI_EXCLAMATION);
// The address conflicts of a search with the details shown by ">>".
void ConflictDialog(HWND owner, const std::string& text, const std::string& details);
// Firmware management of one device: returns the command to issue (activate image n: 1323 + n, the test
// image: 1322), 0 when closed.
uint32_t FirmwareDialog(HWND owner, const DeviceEntry& entry);
// The firmware file dialog: starts in "UPXPath" (kept), shows the chosen file's header text below the
// file list. Returns "" when cancelled.
std::string FirmwareFileDialog(HWND owner, const std::string& title);
// The firmware for a firmware upload job: `dropped` (a file dropped on a device) or the file dialog,
// then the file's header against the job's devices with the mismatch and downgrade questions through
// `ui`. Returns "" when cancelled or refused.
std::string FirmwareForJob(HWND owner, const DeviceJob& job, CommandUi& ui, const std::string& dropped);
// A file dialog starting in the folder stored under `folderKey` ("CFGPath", "UPXPath"), which keeps
// the chosen file's folder. `filter`: "Text|*.x|...|"; `extension`: what a saved name without one gets.
// Returns "" when cancelled.
std::string FileDialog(HWND owner, bool save, const std::string& title, const std::string& filter,
    const char* folderKey, const std::string& defaultName = std::string(), const char* extension = "lcf");
