// The set-up wizard sheet on the wizard runner (config/wizard/wiz_runner.h): a wizard-97 sheet with
// watermark and header (wizard style 1) or a classic wizard (style 0), the selection page with the
// wizards' titles, an empty placeholder page behind it, and one page per wizard page, built from its
// items by the page builder or served by a plug-in library. The runner decides which page takes its
// activation and which buttons are offered; the sheet passes over refused pages in the direction of
// travel. Edit, Setup wizard reads the configuration, runs the sheet and writes it after Finish.
#pragma once

#include <windows.h>

#include <cstdint>

struct DeviceEntry;
struct DeviceJob;
class DeviceCommands;

// String ids of the sheet's texts.
enum : unsigned {
    WizStrCaption = 2190, // "Setup Wizard for %s"
    WizStrChoose = 2191, // the selection page's heading
    WizStrChooseText = 2192, // the selection page's text
    WizStrBack = 2193, // "< &Back", then "&Next >", "Finish": a wizard sheet's own buttons
};

// Runs the wizard sheet for `entry` (its `config` is the configuration the wizard edits). Returns 1
// after Finish (on_apply has run), 0 after Cancel or when no wizard is available ("No setup wizard
// available for this device type.", unless the default-wizard-completed mark is cleared instead).
int WizRunSheet(HWND owner, DeviceEntry& entry);

// Edit, Setup wizard: after the read job for the wizard (1032) the sheet; after Finish the write job
// (1034), otherwise the release job. Called with every job result the window's commands report; true
// when it took the result.
bool WizSetupFlow(HWND owner, DeviceCommands& commands, uint32_t message, int32_t result, DeviceJob& job);
