// talvine.exe: the Win32 side of the monitor's start-up (monitor/startup/startup.h), the main window with
// its taskbar icon and the ending rules. The window's tree, its dialogs and commands and the test channel's
// commands are the talvine_*_win.cpp files beside it (talvine_app_win.h).
#include "common/datafolder.h"
#include "common/diag.h"
#include "common/ini.h"
#include "common/platform/instance.h"
#include "common/platform/net.h"
#include "common/platform/process.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/aboutbox.h"
#include "common/ui/desktop.h"
#include "common/ui/help_win.h"
#include "common/ui/testctl_win.h"
#include "device/mru.h"
#include "monitor/engine/engine.h"
#include "monitor/log/log.h"
#include "monitor/objtree/expr.h"
#include "monitor/objtree/script.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/startup/rules.h"
#include "monitor/startup/startup.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/display_win.h"
#include "monitor/ui/find_win.h"
#include "monitor/ui/graph_win.h"
#include "monitor/ui/props_win.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/talvine_app_win.h"
#include "monitor/ui/talvine_views.h"
#include "monitor/ui/texts.h"

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <commctrl.h>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <shellapi.h>
#include <string>
#include <vector>
namespace tvwin {
namespace {
// Placement of the main window: maximised remembered, shown activated.
constexpr unsigned kMainPlacementFlags = 2 | 16;

// Icons of the taskbar: idle grey, connected green, error red (drawn here, so that the three states
// differ at a glance in every colour depth).
HICON MakeIcon(COLORREF colour)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP colourBits = CreateCompatibleBitmap(screen, 16, 16);
    HBITMAP maskBits = CreateBitmap(16, 16, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, colourBits);
    RECT all { 0, 0, 16, 16 };
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HBRUSH fill = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(dc, fill);
    Ellipse(dc, 1, 1, 15, 15);
    SelectObject(dc, maskBits);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    Ellipse(dc, 1, 1, 15, 15);
    SelectObject(dc, oldBrush);
    SelectObject(dc, old);
    DeleteObject(fill);
    ICONINFO info {};
    info.fIcon = TRUE;
    info.hbmColor = colourBits;
    info.hbmMask = maskBits;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colourBits);
    DeleteObject(maskBits);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return icon;
}

void TrayIcon(DWORD action)
{
    NOTIFYICONDATAA n {};
    n.cbSize = sizeof n;
    n.hWnd = A().tray;
    n.uID = kTrayId;
    n.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    n.uCallbackMessage = kTrayMessage;
    n.hIcon = A().icons[static_cast<int>(A().trayImage)];
    lstrcpynA(n.szTip, (A().trayTip.empty() ? Text(TvStrProgramName) : A().trayTip).c_str(), sizeof n.szTip);
    Shell_NotifyIconA(action, &n);
}

// "Do you wish to end Travik?" with its check box; true on Yes.
struct AskExit {
    bool ticked = false;
};

INT_PTR CALLBACK AskExitProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* ask = reinterpret_cast<AskExit*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, Text(TvStrProgramName).c_str());
        SetDlgItemTextA(
            dialog, IDC_ASKEXIT_TEXT, StrFormat(Text(UiStrAskExit).c_str(), Text(TvStrProgramName).c_str()).c_str());
        SetDlgItemTextA(dialog, IDC_ASKEXIT_CHECK, Text(UiStrAskExitNoMore).c_str());
        SendDlgItemMessageA(
            dialog, IDC_ASKEXIT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_QUESTION)), 0);
        CenterWindow(dialog, GetParent(dialog));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDYES || LOWORD(wParam) == IDNO || LOWORD(wParam) == IDCANCEL) {
            ask->ticked = IsDlgButtonChecked(dialog, IDC_ASKEXIT_CHECK) == BST_CHECKED;
            EndDialog(dialog, LOWORD(wParam) == IDYES ? IDYES : IDNO);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

bool AskForExit(HWND owner)
{
    AskExit ask;
    INT_PTR answer = DialogBoxParamA(
        A().instance, MAKEINTRESOURCEA(IDD_ASKEXIT), owner, AskExitProc, reinterpret_cast<LPARAM>(&ask));
    if (answer != IDYES)
        return false;
    if (ask.ticked) {
        A().settings.dontAskForExit = true;
        IniWriteInt(TalvineGlobalsGet().paths.settingsFile, kSectionOptions, "DontAskForExit", 1);
    }
    return true;
}

void SaveSettings()
{
    const std::string& ini = TalvineGlobalsGet().paths.settingsFile;
    // A failed save leaves the file as it was; the user learns that the changes are not kept.
    if (!WriteTalvineSettings(ini, A().settings))
        MessageBoxA(A().main, StrFormat(Text(UiStrSettingsNotSaved).c_str(), ini.c_str()).c_str(), "Error",
            MB_OK | MB_ICONERROR);
    SaveWindowPlacement(A().main, ini.c_str(), kSectionMainWindow, nullptr, kMainPlacementFlags);
}

// The end: exit actions (not when the session ends: nothing may wait then), settings, then the window
// goes, and with it the engine (the list is saved in WM_DESTROY).
void EndProgram(bool runExitActions)
{
    if (A().ended)
        return;
    A().ended = true;
    if (runExitActions && A().engine)
        A().engine->RunExitActions();
    SaveSettings();
    DisplaySaveAndCloseAll();
    TalvineViewsCloseWindows();
    DestroyWindow(A().main);
}
} // namespace

std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}

App& A()
{
    static App app;
    return app;
}

void ShowTray(bool shown)
{
    if (shown == A().trayShown)
        return;
    A().trayShown = shown;
    A().settings.showTrayStatus = shown;
    TrayIcon(shown ? NIM_ADD : NIM_DELETE);
}

// The icon's image from the devices' error and connect counts, after every notification.
void RefreshTray()
{
    if (!A().engine)
        return;
    std::vector<TrayDeviceState> states;
    TrayTipCounts counts;
    for (const auto& d : A().engine->Devices()) {
        states.push_back(TrayDeviceState { d->noAnswer.load(), d->registered, d->errors, d->connects });
        ++counts.devices;
        counts.noAnswer += d->noAnswer.load() ? 1 : 0;
        counts.refused += d->Refused() ? 1 : 0;
    }
    TrayImage image = ChooseTrayImage(states);
    std::string tip = TrayTipText(Text(TvStrProgramName), counts, sizeof NOTIFYICONDATAA {}.szTip - 1);
    if (image == A().trayImage && tip == A().trayTip)
        return;
    A().trayImage = image;
    A().trayTip = tip;
    if (A().trayShown)
        TrayIcon(NIM_MODIFY);
}

VisibleThings Visible()
{
    VisibleThings v;
    v.mainWindow = A().main && IsWindowVisible(A().main);
    v.trayIcon = A().trayShown;
    v.displayWindows = DisplayCount();
    v.views = TalvineViewsVisible();
    return v;
}

// The user closes one visible thing: hide it when something else stays, else ask (or end).
bool CloseOrEnd(HWND owner)
{
    switch (ChooseEndAction(Visible(), A().settings.dontAskForExit)) {
    case EndAction::CloseOnly:
        return false;
    case EndAction::Ask:
        if (!AskForExit(owner))
            return true; // stays as it is
        EndProgram(true);
        return true;
    case EndAction::End:
        EndProgram(true);
        return true;
    }
    return true;
}

namespace {
void ProcessEngine()
{
    if (!A().engine)
        return;
    A().engine->Process();
    RefreshTray();
    ShowTreeOrHint();
    uint32_t next = A().engine->NextTimerMs();
    if (next != UINT32_MAX)
        SetTimer(A().main, kTimerEngine, std::max<uint32_t>(next, 10), nullptr);
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateTree(window);
        return 0;
    case WM_SIZE:
        MoveWindow(A().tree, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        // The hint a third down the empty window, with a margin.
        MoveWindow(A().hint, 24, HIWORD(lParam) / 3, std::max(LOWORD(lParam) - 48, 0), HIWORD(lParam) / 2, TRUE);
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == A().hint) {
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
            SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_GRAYTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_SETFOCUS:
        SetFocus(A().tree);
        return 0;
    case kWakeMessage:
        ProcessEngine();
        return 0;
    case kFailureMessage:
        HandleFailures();
        return 0;
    case kExitMessage:
        EndProgram(true);
        return 0;
    case WM_TIMER:
        if (wParam == kTimerEngine) {
            KillTimer(window, kTimerEngine);
            ProcessEngine();
        }
        return 0;
    case WM_COPYDATA: {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (copy && copy->dwData == kAddRecordsMessageId && A().engine)
            A().engine->AddDevicesFromMessage(static_cast<const uint8_t*>(copy->lpData), copy->cbData);
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom != A().tree)
            break;
        if (header->code == TVN_DELETEITEMA) {
            const auto* tv = reinterpret_cast<const NMTREEVIEWA*>(lParam);
            if (auto* item = reinterpret_cast<EngineItem*>(tv->itemOld.lParam))
                item->frontData = nullptr;
        } else if (header->code == TVN_ITEMEXPANDEDA) {
            const auto* tv = reinterpret_cast<const NMTREEVIEWA*>(lParam);
            if (auto* item = reinterpret_cast<EngineItem*>(tv->itemNew.lParam))
                item->expanded = (tv->itemNew.state & TVIS_EXPANDED) != 0;
        } else if (header->code == TVN_GETINFOTIPA) {
            auto* tip = reinterpret_cast<NMTVGETINFOTIPA*>(lParam);
            if (auto* item = reinterpret_cast<EngineItem*>(tip->lParam); item && tip->pszText && tip->cchTextMax > 0)
                lstrcpynA(tip->pszText, ItemTip(*item).c_str(), tip->cchTextMax);
            return 0;
        } else if (header->code == NM_DBLCLK) {
            if (RunDefaultAction())
                return TRUE;
            break;
        } else if (header->code == NM_RCLICK) {
            TreeContextMenu();
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), lParam);
        return 0;
    case WM_CLOSE:
        if (!CloseOrEnd(window))
            ShowWindow(window, SW_HIDE);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Log-off or shutdown: saved and ended without asking.
        if (wParam) {
            SaveSettings();
            DisplaySaveAndCloseAll();
            TalvineViewsCloseWindows();
            A().ended = true;
            if (A().engine) {
                SnmpClearAll();
                A().engine->SaveDevices();
            }
            Diag("session ends: settings and device list saved\n");
        }
        return 0;
    case WM_DESTROY:
        KillTimer(window, kTimerEngine);
        if (A().engine) {
            SnmpClearAll();
            A().engine->SaveDevices();
            A().engine.reset();
        }
        GraphStop();
        if (A().trayShown)
            TrayIcon(NIM_DELETE);
        A().trayShown = false;
        A().main = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The "&About %s" entry with the product name.
void FillAboutMenuText(HMENU menu)
{
    char text[256] = {};
    if (GetMenuStringA(menu, IDC_ABOUT, text, sizeof text, MF_BYCOMMAND) > 0) {
        std::string filled = StrFormat(text, Text(TvStrProgramName).c_str());
        ModifyMenuA(menu, IDC_ABOUT, MF_BYCOMMAND | MF_STRING, IDC_ABOUT, filled.c_str());
    }
}
} // namespace

// The taskbar icon's menu (the first of the context menus; `menus` to destroy afterwards): "&Show" the
// default, the about entry with the product name.
HMENU TrayMenu(HMENU* menus)
{
    *menus = LoadMenuA(A().instance, MAKEINTRESOURCEA(IDM_CONTEXT));
    HMENU menu = GetSubMenu(*menus, 0);
    SetMenuDefaultItem(menu, IDC_SHOW, FALSE);
    FillAboutMenuText(menu);
    return menu;
}

namespace {
LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kTrayMessage && wParam == kTrayId) {
        if (lParam == WM_LBUTTONDBLCLK) {
            PostMessageA(A().main, WM_COMMAND, IDC_SHOW, 0);
        } else if (lParam == WM_RBUTTONUP) {
            HMENU menus = nullptr;
            HMENU menu = TrayMenu(&menus);
            POINT at;
            GetCursorPos(&at);
            SetForegroundWindow(A().main);
            TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, A().main, nullptr);
            DestroyMenu(menus);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool CreateMonitorWindows(const std::string& title)
{
    App& app = A();
    WNDCLASSA tc {};
    tc.lpfnWndProc = TrayProc;
    tc.hInstance = app.instance;
    tc.lpszClassName = kTravikTrayClass;
    RegisterClassA(&tc);
    app.tray = CreateWindowA(kTravikTrayClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, app.instance, nullptr);

    app.icons[0] = MakeIcon(RGB(160, 160, 160));
    app.icons[1] = MakeIcon(RGB(0, 176, 0));
    app.icons[2] = MakeIcon(RGB(208, 0, 0));
    WNDCLASSA wc {};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = app.instance;
    wc.hIcon = app.icons[1];
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kTravikWindowClass;
    if (!RegisterClassA(&wc))
        return false;
    HMENU menu = LoadMenuA(app.instance, MAKEINTRESOURCEA(IDM_MAIN));
    FillAboutMenuText(menu);
    // Without a stored placement: a useful part of the screen, placed by the system.
    RECT workArea {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    int width = 0, height = 0;
    MainWindowDefaultSize(ScreenRect { workArea.left, workArea.top, workArea.right, workArea.bottom }, &width, &height);
    app.main = CreateWindowA(kTravikWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
        width, height, nullptr, menu, app.instance, nullptr);
    if (!app.main)
        return false;
    app.accelerators = LoadAcceleratorsA(app.instance, MAKEINTRESOURCEA(IDA_MAIN));

    const TalvinePaths& paths = TalvineGlobalsGet().paths;
    app.settings = ReadTalvineSettings(paths.settingsFile);
    app.front = MakeFrontEnd();
    EngineSettings es;
    es.listPath = paths.listFile;
    es.settingsPath = paths.settingsFile;
    es.trends = GraphStart(app.instance, paths.directory);
    app.engine = std::make_unique<Engine>(es, app.front.get());
    app.engine->LoadDevices();
    for (const auto& d : app.engine->Devices())
        d->details = app.settings.detailsMask;
    app.engine->StartAll();
    DisplayRegisterClass(app.instance);

    if (app.settings.showTrayStatus)
        ShowTray(true);
    if (!RestoreWindowPlacement(app.main, paths.settingsFile.c_str(), kSectionMainWindow, nullptr, kMainPlacementFlags))
        ShowWindow(app.main, app.showCommand);
    UpdateWindow(app.main);
    UpdateMenu();
    ProcessEngine();
    DisplayRestoreAll(*app.engine);
    return true;
}

class Win32TalvinePlatform : public TalvinePlatform {
public:
    void InitCommonControls() override
    {
        INITCOMMONCONTROLSEX icc { static_cast<DWORD>(sizeof icc),
            ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES };
        InitCommonControlsEx(&icc);
    }
    uint16_t ChooseResourceLanguage(int dialogId) override
    {
        return ::ChooseResourceLanguage(A().instance, MAKEINTRESOURCEA(dialogId));
    }
    void SetThreadLocale(uint16_t lang) override
    {
        if ((GetVersion() & 0x80000000u) == 0)
            ::SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
    }
    void StartTestControl(uint16_t port) override
    {
        TestCtlHooks hooks;
        hooks.mainWindow = [] { return A().main; };
        hooks.extra = [](const TestCtlCommand& c) { return TestCommand(c); };
        hooks.isIdle = [] { return !A().engine || A().engine->Detecting() == 0; };
        uint16_t listening = ::StartTestControl(port, std::move(hooks));
        if (listening)
            Diag("test control: port %u\n", static_cast<unsigned>(listening));
        else
            Diag("test control: cannot listen on port %u\n", static_cast<unsigned>(port));
    }
    std::string ProgramPath() override
    {
        return GetProgramPath();
    }
    std::string DataDirectory(const std::string& programDirectory) override
    {
        return ChooseDataFolder(programDirectory, "Travik", { Text(TvStrSettingsFile) }).folder;
    }
    bool IsOtherInstance(const std::string& lockName) override
    {
        return ::IsOtherInstance(lockName);
    }
    bool FindOtherMainWindow() override
    {
        other_ = FindWindowA(kTravikWindowClass, nullptr);
        return other_ != nullptr;
    }
    void Sleep(uint32_t ms) override
    {
        ::Sleep(ms);
    }
    void ShowOtherMainWindow() override
    {
        PostMessageA(other_, WM_COMMAND, IDC_SHOW, 0);
        AllowSetForegroundWindow(ASFW_ANY);
    }
    void SendAddRecords(const std::vector<uint8_t>& records, bool own) override
    {
        COPYDATASTRUCT copy {};
        copy.dwData = kAddRecordsMessageId;
        copy.cbData = static_cast<DWORD>(records.size());
        copy.lpData = const_cast<uint8_t*>(records.data());
        HWND target = own ? A().main : other_;
        DWORD_PTR result = 0;
        SendMessageTimeoutA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 20000, &result);
    }
    bool StartSnmp(uint16_t port) override
    {
        WSADATA data {};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        return SnmpStart(port) == 1;
    }
    void ErrorBox(const std::string& text, const std::string& caption) override
    {
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    }
    void LoadScripts(const std::string& pattern, const std::string& language) override
    {
        int loaded = ScriptLoadAll(pattern, language);
        Diag("scripts: %d from %s\n", loaded, pattern.c_str());
    }
    void InitLog(const std::string& directory, const std::string& settingsFile, bool toStdout) override
    {
        LogInit(directory, settingsFile, toStdout);
    }
    void InitViews() override
    {
        TalvineViewsStart(A().instance);
    }
    bool CreateWindows(const std::string& title) override
    {
        return CreateMonitorWindows(title);
    }
    void RunMessageLoop() override
    {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (A().main && TranslateAcceleratorA(A().main, A().accelerators, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        StopTestControl();
    }
    void CloseJobSockets() override
    {
        TalvineViewsStop();
    }
    void CloseLog() override
    {
        LogClose();
    }
    void FreeScripts() override
    {
        ScriptFreeAll();
    }
    void StopSnmp() override
    {
        SnmpStop();
        WSACleanup();
    }

private:
    HWND other_ = nullptr;
};
} // namespace
} // namespace tvwin

bool TalvineMayCloseOne(HWND owner)
{
    return !tvwin::CloseOrEnd(owner);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    tvwin::A().instance = instance;
    tvwin::A().showCommand = showCommand;
    tvwin::Win32TalvinePlatform platform;
    return RunTalvine(commandLine ? commandLine : "", platform);
}
