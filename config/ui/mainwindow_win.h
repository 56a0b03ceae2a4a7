// The main window of qorvexal.exe: the folder tree beside the device list, menus, tool bar, status
// bar, the device commands with their dialogs, and the device worker's notices as window messages.
#pragma once

#include "common/testctl.h"

#include <windows.h>

#include <string>

// Starts the device worker with the window's job adapter (before the window exists: the first job is
// posted once it does).
void MainWindowStartWorker();
// Registers "VelquinWindowClass", creates the window with its children, restores its placement and
// posts the start-up job. False when the window cannot be created.
bool MainWindowCreate(HINSTANCE instance, const std::string& title, int showCommand);
HWND MainWindowHandle();
// The message loop's share: the progress window's dialog keys and the accelerators (not while a label
// is being edited). True when the message was taken.
bool MainWindowTranslate(MSG* msg);
// For the test control channel: idle (no job runs or waits, every notice handled) and the window's own
// commands (list, folder, select).
bool MainWindowIdle();
std::string MainWindowTestCommand(const TestCtlCommand& command);
// Help, About (with the program's version and build date).
void ShowQorvexalAbout(HWND owner);
