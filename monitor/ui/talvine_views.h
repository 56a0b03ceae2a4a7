// talvine.exe's side of the accounting and VPN views: their start with the program, the command that
// shows a saved accounting file, the main window's rules when a view closes, their end, and the test
// channel's command "views".
#pragma once

#include "common/testctl.h"
#include "monitor/views/table_views.h"

#include <windows.h>

#include <cstdint>
#include <string>

// At start-up, before the main window: the two window kinds, the job sockets and the accounting
// directory. A failure is written as a diagnostic line (the program runs on without the views).
void TalvineViewsStart(HINSTANCE instance);
// Command 3016: the file dialog, then a view of the file chosen.
void TalvineViewsOpenFile(HWND owner);
// The view windows that are visible (they count for the ending rules).
uint32_t TalvineViewsVisible();
// At the end (or when the session ends): every view window closed, its placement and widths saved.
void TalvineViewsCloseWindows();
// After the message loop: waits for running jobs, frees the views and closes the job sockets.
void TalvineViewsStop();
// "views": one line per open view, "KIND rows=N running=0|1 window=HANDLE title=TITLE" (KIND "acc" or
// "vpn", "file" added for a view of a file). "" for another command.
std::string TalvineViewsTestCommand(const TestCtlCommand& command);
