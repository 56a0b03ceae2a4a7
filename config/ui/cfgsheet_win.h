// The configuration sheet: a modal property sheet with one page per section of a configuration, the
// table-entry dialog, and the flows that open it: Configure on devices (read job, sheet, upload
// warning, write job, release job), a configuration file opened from the File menu or by the "edit:"
// verb (written back after the comment dialog), Save configuration as.
#pragma once

#include "config/ui/cfgpage_win.h"

#include <windows.h>

#include <string>

struct CfgDescription;
struct DeviceEntry;
struct DeviceJob;
class DeviceCommands;

// String ids of the sheet's texts.
enum : unsigned {
    SheetStrCaption = 2130, // "Configuration of %s"
    SheetStrDevices = 2131, // "%d devices"
    SheetStrDiscard = 2132, // "You have changed settings. Do you want to discard your changes?"
    SheetStrRepeat = 2133, // "Please repeat your entry:"
    SheetStrAdd = 2134, // "&Add...", then Edit, Delete, Copy
    SheetStrEasyNotice = 2138,
    SheetStrComment = 2139, // "Comment"
    SheetStrCommentLabel = 2140,
    SheetStrCommentDefault = 2141, // "Configuration of '%s' from %s"
    SheetStrOpenTitle = 2142, // "Open configuration"
    SheetStrSaveAsTitle = 2143, // "Save configuration as"
    SheetStrOk = 2144,
    SheetStrCancel = 2145,
    SheetStrInformation = 2146,
};

// The texts of the pages in the user's language.
CfgPageTexts CfgSheetTexts();
// The sheet's own buttons (OK and Cancel; a wizard's Back, Next, Finish and Cancel) in the program's
// language.
void CfgSheetOwnButtons(HWND sheet, bool wizard);

// Runs the sheet on `desc` (the first device's or the file's configuration; the other devices of a
// group through the items' counterparts). `subject` names what is configured in the caption. Plug-in
// pages get `device` (its `config` is `desc`) and the mode from `easy`. Merged table entries are
// joined while the sheet is open. Returns true on OK, with every changed value taken.
bool CfgRunSheet(HWND owner, CfgDescription& desc, const std::string& subject, DeviceEntry* device, bool easy);

// The comment dialog before a configuration file is written: `comment` is the default and receives
// the text (at most 259 characters). False when cancelled.
bool CfgCommentDialog(HWND owner, std::string* comment);

// The comment a saved configuration of `name` starts with: "Configuration of '%s' from %s" with
// today's date in the user's short date format.
std::string CfgCommentDefault(const std::string& name);

// Configure on devices: after the read job (1031) ended, the sheet; on OK with changes the upload
// warning (DontAskForUploadConfig), then the write job; otherwise, and after the write, the release.
// Called with every job result the window's commands report; returns true when it took the result.
bool CfgConfigureFlow(HWND owner, DeviceCommands& commands, uint32_t message, int32_t result, DeviceJob& job);

// A configuration file in the sheet: opens it ("Can't open file."; no description: string 1919),
// shows the sheet and on OK writes it back after the comment dialog. Returns true when written.
bool CfgEditFile(HWND owner, const std::string& path);

// File, Open configuration: the file dialog (CFGPath), then CfgEditFile.
void CfgOpenConfigurationCommand(HWND owner);

// Starts the description index unless it runs (the verbs come before the main window starts it).
void CfgEnsureDescriptionIndex();
