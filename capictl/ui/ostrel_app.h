// What the windows of ostrel.exe share: the task's global state and the calls between the main window
// (ostrel_win.cpp) and the status window (status_win.cpp).
#pragma once

#include "capictl/capi_keys.h"
#include "capictl/ostrel_task.h"

#include <windows.h>

#include <atomic>
#include <string>

struct OstrelApp {
    HINSTANCE instance = nullptr;
    OstrelOptions options;
    CapiFamily family = CapiFamily::WindowsNT;
    std::string displayName;
    uint16_t language = 1033;
    bool tooltipNewLines = true; // common controls 4.70 or later
    OstrelRunState run;
    std::atomic<HWND> main { nullptr };
    std::atomic<HWND> status { nullptr }; // the status window while it is open
    std::atomic<bool> openAtExit { false }; // the status window was open when the task stopped
    bool deactivated = false;
    bool asking = false; // a question is open
    HMENU menu = nullptr; // menu 1000: the tray menu and the status window's context menu
};
OstrelApp& App();

std::string OstrelText(unsigned id);

// The status window (dialog 1301): opens it, or brings it to the front when it is open.
void OpenStatusWindow();
// Closes it: writes "StatusWindow" with `openAtExit` as the fourth number.
void CloseStatusWindow(bool openAtExit);
// ToggleActive with its question; refreshes the tray and the status window.
void ToggleActiveFromUser(bool force);
// The help popup of a control ("rcapi.hlp").
void ShowHelpPopup(HWND owner, uint32_t control);
// Starts the properties applet.
void RunProperties(HWND owner);
