// The test control channel on the window thread of a Win32 program (the wire format and the server
// are in common/testctl.h): the commands on windows and controls (windows, controls, command, menu,
// set, check, pick, press, key, shot, and picker and limit that read a date-time picker's moment and
// an edit field's character limit) and the program's own commands through a hook. Every command runs on
// the thread that started the channel, also while a modal dialog or message box is open there.
#pragma once

#include "common/testctl.h"

#include <windows.h>

#include <functional>
#include <string>

struct TestCtlHooks {
    // The program's main window (the target of `command` and `menu`); null before it exists.
    std::function<HWND()> mainWindow;
    // The program's own commands; returns "" for a command it does not know.
    std::function<std::string(const TestCtlCommand&)> extra;
    // True when no job runs or waits and every posted message was handled (asked on the window
    // thread).
    std::function<bool()> isIdle;
};

// Starts the channel on 127.0.0.1:`port` (0: a free port). Returns the port, 0 when it cannot listen.
uint16_t StartTestControl(uint16_t port, TestCtlHooks hooks);
void StopTestControl();
// Writes a 24-bit BMP of the window as it is on the screen. 1 on success.
int SaveWindowBitmap(HWND window, const std::string& file);
