// Desktop routines every program with a window carries: placement kept in the settings file, centring
// inside the monitor's work area, the user-interface and resource languages, the common-controls
// version, the RunOnce entry. Windows only; the logic lives in common/placement.h and common/language.h.
#pragma once

#include "common/placement.h"

#include <windows.h>

#include <cstdint>
#include <string>

int SaveWindowPlacement(HWND window, const char* iniFile, const char* section, const char* key, unsigned flags);
int RestoreWindowPlacement(HWND window, const char* iniFile, const char* section, const char* key, unsigned flags);
RECT GetMonitorWorkArea(HWND window);
void CenterWindow(HWND window, HWND owner);

// The user-interface language; `nameBuffer` (optional) receives the language's own name.
uint16_t GetUserInterfaceLanguage(char* nameBuffer, int size);
// The language of the dialog resource `resourceName` that suits the user-interface language.
uint16_t ChooseResourceLanguage(HMODULE module, const char* resourceName);
// The version of comctl32.dll (4.0 when it does not tell).
void GetCommonControlsVersion(DWORD* major, DWORD* minor);
// Runs the program once at the next log-on (value name: the window's title, or the program's file name).
int RegisterRunOnce(HWND window);

// The full path of the running program and its directory (with the trailing "\").
std::string GetProgramPath();
std::string GetProgramDirectory();
