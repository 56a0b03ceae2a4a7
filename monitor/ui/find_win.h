// The device search (Find) and the type detection dialogs of talvine.exe.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class Engine;

// Find: the search broadcast for 3 s, the devices found listed, the chosen ones added without password as
// the "add:" option adds them (detected, no message when that fails).
void FindDevicesDialog(HINSTANCE instance, HWND owner, Engine& engine);

// The detection of `address` (network order) that Engine::AddDevice started, shown with an animation
// until it ends. Cancel cancels the detection. False when the user cancelled.
bool DetectDialog(HINSTANCE instance, HWND owner, Engine& engine, uint32_t address);
// True while a detection dialog is open (its outcome is asked about once it has closed).
bool DetectDialogOpen();
