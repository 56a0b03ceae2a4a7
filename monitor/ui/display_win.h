// The display window of talvine.exe ("TravikDisplayWindowClass"): one per device, its display items as
// the lines of an LCD-like panel.
#pragma once

#include <windows.h>

#include <string>

struct EngineDevice;
struct EngineItem;
class Engine;

void DisplayRegisterClass(HINSTANCE instance);
// Opens the device's display window (or brings it to the front).
void DisplayOpen(EngineDevice& device);
// The engine's notifications for the display items and the device line.
void DisplayItemChanged(EngineItem& item);
void DisplayDeviceChanged(EngineDevice& device);
// The device goes: its window closes without saving.
void DisplayDeviceRemoved(EngineDevice& device);
// Open display windows.
unsigned DisplayCount();
// At the end: every open window saves its state as open and closes.
void DisplaySaveAndCloseAll();
// At start: the windows saved as open are opened again.
void DisplayRestoreAll(Engine& engine);

// What the device's open display window shows against what it holds: "COLUMNS LINES LONGEST COUNT" (the
// cells and lines it shows whole, its longest line's length and its number of lines); empty when none
// is open.
std::string DisplayFit(EngineDevice& device);

// From the main window: what closing one visible thing does (true: just close it; otherwise the main
// window asked or ended the program).
bool TalvineMayCloseOne(HWND owner);
