// The monitor's main window: its state and the steps its parts share. talvine_win.cpp: the window, the
// taskbar icon, the end and the start-up's platform; talvine_tree_win.cpp: the engine's tree;
// talvine_query_win.cpp: a script action's question; talvine_commands_win.cpp: the dialogs, menus and
// commands; talvine_testctl_win.cpp: the test channel's commands. Internal to talvine.exe.
#pragma once

#include "common/testctl.h"
#include "monitor/engine/engine.h"
#include "monitor/objtree/objtree.h"
#include "monitor/startup/options.h"
#include "monitor/startup/rules.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tvwin {
constexpr UINT kWakeMessage = WM_APP + 1; // the engine has something queued
constexpr UINT kTrayMessage = WM_APP + 2; // the taskbar icon's callback
constexpr UINT kFailureMessage = WM_APP + 3; // a detection failed: ask about it outside Process
constexpr UINT kExitMessage = WM_APP + 4; // the test channel's exit
constexpr UINT_PTR kTimerEngine = 1;
constexpr UINT kTrayId = 1;

std::string Text(unsigned id);

struct Failure {
    uint32_t address;
    EngineDetectResult result;
    std::string message;
};

// What the last new-device dialog held, shown again after a failed detection.
struct NewDeviceInput {
    std::string address;
    std::string password;
    bool logging = false;
};

struct App {
    HINSTANCE instance = nullptr;
    int showCommand = SW_SHOWDEFAULT;
    HWND main = nullptr;
    HWND tray = nullptr; // the hidden window of the taskbar icon
    HWND tree = nullptr;
    HWND hint = nullptr; // says how to add devices while the tree is empty (the tree hidden meanwhile)
    HACCEL accelerators = nullptr;
    HICON icons[3] = {};
    TalvineSettings settings;
    bool trayShown = false;
    TrayImage trayImage = TrayImage::Idle;
    std::string trayTip; // the product name and a summary of the devices
    std::string lastBalloon; // title and text of the last balloon shown (the test channel reads it)
    bool onTop = false;
    bool ended = false; // settings and list saved, the window goes
    std::unique_ptr<EngineFrontEnd> front;
    std::unique_ptr<Engine> engine;
    std::vector<Failure> failures;
    std::map<uint32_t, NewDeviceInput> pendingInput; // address -> what was entered
};

// The window's state, one for the program.
App& A();

// The window and its taskbar icon (talvine_win.cpp).
void RefreshTray();
void ShowTray(bool shown);
VisibleThings Visible();
// The user closes one visible thing: hide it when something else stays, else ask (or end). False when
// only that thing is to close; true when the program ends or the user chose to keep it.
bool CloseOrEnd(HWND owner);
// The taskbar icon's menu (the first of the context menus; `menus` to destroy afterwards).
HMENU TrayMenu(HMENU* menus);

// The engine's tree (talvine_tree_win.cpp).
std::unique_ptr<EngineFrontEnd> MakeFrontEnd();
void CreateTree(HWND window);
void ShowTreeOrHint();
EngineItem* SelectedItem();
EngineDevice* SelectedDevice();
std::string ItemTip(EngineItem& item);
bool RunDefaultAction();
void TreeContextMenu();

// The question before a script action (talvine_query_win.cpp): true on OK or Yes; `checked` the
// check box's state.
bool AskQuery(QueryStyle style, const std::string& message, const std::string& checkText, bool* checked);

// The dialogs, menus and commands (talvine_commands_win.cpp).
void HandleFailures();
void UpdateMenu();
std::vector<const ActionObject*> ItemMenuActions(EngineItem& item);
void RunItemAction(EngineItem& item, size_t index);
void ItemContextMenu(POINT at);
void OnCommand(int id, LPARAM lParam);

// The monitor's own commands of the test channel (talvine_testctl_win.cpp).
std::string TestCommand(const TestCtlCommand& c);
} // namespace tvwin
