// ostrel.exe: start-up, the service "ZevraCapiCtl" (or a registered service process on Windows 9x, or an
// ordinary program with "/nosvc"), the window thread with its hidden main window "RemoteCapiClass", the
// tray icon and menu, the messages other programs send, power events and the about box.
#include "capictl/capi_status.h"
#include "capictl/capi_task.h"
#include "capictl/ostrel_tree.h"
#include "capictl/ui/ostrel_app.h"
#include "capictl/ui/resource.h"
#include "capictl/win32/capi_win.h"
#include "common/platform/registry.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/aboutbox.h"
#include "common/ui/desktop.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

namespace {
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTrayId = 1;

OstrelTray g_tray;
HICON g_icons[5] = {};
SERVICE_STATUS_HANDLE g_serviceHandle = nullptr;
SERVICE_STATUS g_serviceStatus = {};
HANDLE g_windowThread = nullptr;

bool IsNt()
{
    return App().family == CapiFamily::WindowsNT;
}

// ---- tray icon ----------------------------------------------------------------------------------------

bool TrayCall(DWORD what)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof data;
    data.hWnd = App().main;
    data.uID = kTrayId;
    data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    data.uCallbackMessage = kOstrelMsgTray;
    data.hIcon = g_icons[g_tray.Icon()];
    lstrcpynA(data.szTip, g_tray.Tip().c_str(), sizeof data.szTip);
    return Shell_NotifyIconA(what, &data) != FALSE;
}

void ReopenStatusIfOpenAtExit()
{
    RegKey key;
    if (OstrelReadStatusWindow(CapiGetKeys().settings).openAtExit && !App().status) {
        SetForegroundWindow(App().main);
        OpenStatusWindow();
    }
}

// Modifies the icon; when that fails (the shell was restarted, or the icon was never added) adds it
// again and, when that succeeds, reopens the status window as at creation.
void TrayModify()
{
    if (TrayCall(NIM_MODIFY))
        return;
    if (TrayCall(NIM_ADD))
        ReopenStatusIfOpenAtExit();
}

void TrayTick()
{
    g_tray.Tick();
    TrayModify();
}

void TrayRefresh(bool force)
{
    OstrelCounts counts = OstrelCountStatus();
    OstrelTray::Refresh r = g_tray.Update(counts, App().deactivated, App().displayName, force);
    if (r.restartTimer)
        SetTimer(App().main, kTimerId, kOstrelTickMs, nullptr);
    TrayModify();
    if (App().status)
        SendMessageA(App().status, kOstrelMsgRefresh, force ? 1 : 0, 0);
}

void LoadTrayIcons()
{
    bool large = GetSystemMetrics(SM_CXSMICON) > 16;
    int size = large ? 20 : 16;
    HIMAGELIST list = ImageList_LoadImageA(App().instance, MAKEINTRESOURCEA(large ? IDB_TRAY20 : IDB_TRAY16), size, 0,
        RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    for (int i = 0; i < 5; ++i)
        g_icons[i] = list ? ImageList_GetIcon(list, i, ILD_NORMAL) : LoadIconA(nullptr, IDI_APPLICATION);
    if (list)
        ImageList_Destroy(list);
}

void FreeTrayIcons()
{
    for (HICON& icon : g_icons) {
        if (icon)
            DestroyIcon(icon);
        icon = nullptr;
    }
}

// ---- menus and commands -------------------------------------------------------------------------------

void SetMenuText(HMENU menu, UINT id, unsigned text)
{
    std::string t = OstrelText(text);
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<char*>(t.c_str());
    SetMenuItemInfoA(menu, id, FALSE, &info);
}

void PrepareMenus()
{
    App().menu = LoadMenuA(App().instance, MAKEINTRESOURCEA(IDM_OSTREL));
    HMENU tray = GetSubMenu(App().menu, 0);
    HMENU status = GetSubMenu(App().menu, 1);
    SetMenuText(tray, IDM_STATUS, kOstrelStrMenuStatus);
    SetMenuText(tray, IDM_PROPERTIES, kOstrelStrMenuStatus + 1);
    SetMenuText(tray, IDM_ACTIVE, kOstrelStrMenuStatus + 2);
    SetMenuText(tray, IDM_EXIT, kOstrelStrMenuStatus + 3);
    SetMenuText(tray, IDM_WHATSTHIS, kOstrelStrMenuStatus + 4);
    SetMenuText(tray, IDM_ABOUT, kOstrelStrMenuStatus + 5);
    SetMenuText(status, IDM_DISCONNECT, kOstrelStrMenuDisconnect);
    SetMenuText(status, IDM_WHATSTHIS, kOstrelStrMenuStatus + 4);
    if (!App().options.noService)
        DeleteMenu(tray, IDM_EXIT, MF_BYCOMMAND);
    SetMenuDefaultItem(tray, IDM_STATUS, FALSE);
}

void ShowTrayMenu(HWND window)
{
    HMENU tray = GetSubMenu(App().menu, 0);
    CheckMenuItem(tray, IDM_ACTIVE, MF_BYCOMMAND | (App().deactivated ? MF_UNCHECKED : MF_CHECKED));
    POINT at;
    GetCursorPos(&at);
    SetForegroundWindow(window);
    TrackPopupMenu(tray, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    PostMessageA(window, WM_NULL, 0, 0);
}

void ShowOstrelAbout(HWND owner)
{
    AboutBoxRecord r;
    r.instance = App().instance;
    r.strings = &ostrel_Strings();
    r.flags = kAboutProduct2Id | kAboutCompanyId | kAboutBuildVersion | kAboutBuildCopyright | kAboutCenterOnCursor;
    r.title = CutTo(StrFormat(OstrelText(kOstrelStrAboutTitle).c_str(), App().displayName.c_str()), 255);
    r.product = CutTo(App().displayName, 255);
    r.product2Id = kOstrelStrAboutProduct2;
    r.companyId = kOstrelStrAboutCompany;
    r.major = OSTREL_VERSION_MAJOR;
    r.minor = OSTREL_VERSION_MINOR;
    r.build = OSTREL_VERSION_BUILD;
    AboutParseCompilerDate(__DATE__, &r.buildDate);
    ShowAboutBox(owner, r);
}

// The suspend warning (dialog 1302): Yes or No, and the check box.
struct SuspendAnswer {
    bool yes = false;
    bool dontShow = false;
};

INT_PTR CALLBACK SuspendProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, App().displayName.c_str());
        SetDlgItemTextA(dialog, IDC_SUSPEND_TEXT, OstrelText(kOstrelStrAskSuspend).c_str());
        SetDlgItemTextA(dialog, IDC_SUSPEND_CHECK, OstrelText(kOstrelStrDontShowAgain).c_str());
        SetDlgItemTextA(dialog, IDYES, OstrelText(kOstrelStrYes).c_str());
        SetDlgItemTextA(dialog, IDNO, OstrelText(kOstrelStrNo).c_str());
        SendDlgItemMessageA(dialog, IDC_SUSPEND_ICON, STM_SETICON, (WPARAM)LoadIconA(nullptr, IDI_EXCLAMATION), 0);
        SetForegroundWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDYES || LOWORD(wParam) == IDNO || LOWORD(wParam) == IDCANCEL) {
            auto* answer = reinterpret_cast<SuspendAnswer*>(GetWindowLongPtrA(dialog, DWLP_USER));
            answer->yes = LOWORD(wParam) == IDYES;
            answer->dontShow = IsDlgButtonChecked(dialog, IDC_SUSPEND_CHECK) == BST_CHECKED;
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

LRESULT PowerBroadcast(HWND window, WPARAM event, LPARAM flags)
{
    const std::string& settings = CapiGetKeys().settings;
    OstrelPowerResult r
        = OstrelPowerEvent(static_cast<uint32_t>(event), static_cast<uint32_t>(flags), App().deactivated, settings);
    if (r == OstrelPowerResult::Ask) {
        SetForegroundWindow(window);
        SuspendAnswer answer;
        App().asking = true;
        DialogBoxParamA(
            App().instance, MAKEINTRESOURCEA(IDD_SUSPEND), window, SuspendProc, reinterpret_cast<LPARAM>(&answer));
        App().asking = false;
        r = OstrelSuspendAnswer(answer.yes, answer.dontShow, settings);
    }
    return r == OstrelPowerResult::Deny ? BROADCAST_QUERY_DENY : TRUE;
}

void EndSession(bool endingOnlyLogOff)
{
    if (!IsNt() && !endingOnlyLogOff) {
        using Register = DWORD(WINAPI*)(DWORD, DWORD);
        auto reg = reinterpret_cast<Register>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "RegisterServiceProcess")));
        if (reg)
            reg(0, 0);
        CapiClose();
    }
    if (App().status)
        CloseStatusWindow(true);
}

// ---- the main window -----------------------------------------------------------------------------------

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        App().main = window;
        PrepareMenus();
        LoadTrayIcons();
        g_tray.Update(OstrelCountStatus(), App().deactivated, App().displayName, true);
        if (TrayCall(NIM_ADD))
            ReopenStatusIfOpenAtExit();
        SetTimer(window, kTimerId, kOstrelTickMs, nullptr);
        TrayRefresh(true);
        return 0;
    case kOstrelMsgPushSettings:
        return CapiPushSettings();
    case kOstrelMsgQueryState:
        return OstrelStateWord(OstrelCountStatus().calls, App().deactivated);
    case kOstrelMsgSetState: {
        bool wanted = LOWORD(wParam) != 0;
        if (wanted != App().deactivated && !App().asking)
            ToggleActiveFromUser(HIWORD(wParam) != 0);
        TrayRefresh(false);
        return OstrelStateWord(OstrelCountStatus().calls, App().deactivated);
    }
    case kOstrelMsgTray:
        if (lParam == WM_LBUTTONDBLCLK)
            OpenStatusWindow();
        else if (lParam == WM_RBUTTONUP)
            ShowTrayMenu(window);
        return 0;
    case kOstrelMsgRefresh:
        TrayRefresh(wParam == 1);
        return 0;
    case WM_TIMER:
        if (wParam == kTimerId)
            TrayTick();
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_STATUS:
            OpenStatusWindow();
            break;
        case IDM_PROPERTIES:
            RunProperties(window);
            break;
        case IDM_ACTIVE:
            ToggleActiveFromUser(false);
            break;
        case IDM_EXIT:
            // Ending closes the CAPI under the calls too: with calls open the user is asked first, as
            // for deactivating it.
            if (OstrelCountStatus().calls > 0) {
                App().asking = true;
                int answer = MessageBoxA(window, OstrelText(kOstrelStrAskDeactivate).c_str(), App().displayName.c_str(),
                    MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
                App().asking = false;
                if (answer != IDYES)
                    break;
            }
            PostQuitMessage(0);
            break;
        case IDM_WHATSTHIS:
            ShowHelpPopup(window, kOstrelTrayControl);
            break;
        case IDM_ABOUT:
            ShowOstrelAbout(window);
            break;
        }
        return 0;
    case WM_POWERBROADCAST:
        return PowerBroadcast(window, wParam, lParam);
    case WM_ENDSESSION:
        if (wParam)
            EndSession((static_cast<DWORD>(lParam) & ENDSESSION_LOGOFF) != 0);
        return 0;
    case WM_CLOSE:
        return 0; // ignored: only the quit message ends the task
    case WM_DESTROY: {
        KillTimer(window, kTimerId);
        NOTIFYICONDATAA data = {};
        data.cbSize = sizeof data;
        data.hWnd = window;
        data.uID = kTrayId;
        Shell_NotifyIconA(NIM_DELETE, &data);
        FreeTrayIcons();
        return 0;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- the window thread ---------------------------------------------------------------------------------

DWORD WINAPI WindowThread(void*)
{
    OstrelApp& app = App();
    if (IsNt())
        SetThreadLocale(MAKELCID(app.language, SORT_DEFAULT));
    CapiSetPlatform(
        CapiWin32Platform(app.options.device, app.family == CapiFamily::Windows9x ? app.options.altDevice : "", [] {
            if (HWND w = App().main)
                PostMessageA(w, kOstrelMsgRefresh, 0, 0);
        }));
    if (!CapiOpen()) {
        app.run.exitError = CapiLastError() ? CapiLastError() : ERROR_FILE_NOT_FOUND;
        app.run.ended = true;
        return app.run.exitError;
    }
    app.run.running = true;
    app.deactivated = OstrelReadDeactivated(CapiGetKeys().rcapi) != 0;
    DWORD major = 4, minor = 0;
    GetCommonControlsVersion(&major, &minor);
    app.tooltipNewLines = OstrelTooltipNewLines(major, minor);
    INITCOMMONCONTROLSEX controls = { sizeof controls, ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES };
    InitCommonControlsEx(&controls);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = app.instance;
    wc.hIcon = LoadIconA(app.instance, MAKEINTRESOURCEA(IDI_OSTREL));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDM_OSTREL);
    wc.lpszClassName = kOstrelWindowClass;
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, kOstrelWindowClass, app.displayName.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
        CW_USEDEFAULT, 200, 100, nullptr, nullptr, app.instance, nullptr);
    if (window) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (app.status && IsDialogMessageA(app.status, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (app.status)
        CloseStatusWindow(app.openAtExit);
    CapiClose();
    app.main = nullptr;
    if (window)
        DestroyWindow(window);
    if (app.menu)
        DestroyMenu(app.menu);
    app.menu = nullptr;
    app.run.running = false;
    app.run.ended = true;
    return 0;
}

// ---- the service -----------------------------------------------------------------------------------------

void ReportService(uint32_t state, uint32_t waitHint, uint32_t exitCode)
{
    static DWORD checkPoint = 0;
    g_serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_serviceStatus.dwCurrentState = state;
    g_serviceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    g_serviceStatus.dwWin32ExitCode = exitCode;
    g_serviceStatus.dwServiceSpecificExitCode = 0;
    g_serviceStatus.dwWaitHint = waitHint;
    g_serviceStatus.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : ++checkPoint;
    SetServiceStatus(g_serviceHandle, &g_serviceStatus);
}

OstrelServiceHost ServiceHost()
{
    OstrelServiceHost host;
    host.run = &App().run;
    host.report = ReportService;
    host.startWindowThread = [] {
        g_windowThread = CreateThread(nullptr, 0, WindowThread, nullptr, 0, nullptr);
        if (!g_windowThread)
            App().run.exitError = GetLastError();
        return g_windowThread != nullptr;
    };
    host.markStatusWindowOpen = [] {
        // Read by the window thread when it closes the status window at the end of its loop.
        App().openAtExit = App().status.load() != nullptr;
    };
    host.postQuit = [] {
        for (int i = 0; i < 100 && !App().main && App().run.running; ++i)
            Sleep(kOstrelPollMs);
        if (HWND main = App().main)
            PostMessageA(main, WM_QUIT, 0, 0);
    };
    return host;
}

void WINAPI ServiceHandler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP)
        OstrelServiceStop(ServiceHost());
    else
        SetServiceStatus(g_serviceHandle, &g_serviceStatus);
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    g_serviceHandle = RegisterServiceCtrlHandlerA(kOstrelServiceName, ServiceHandler);
    if (!g_serviceHandle)
        return;
    OstrelServiceMain(ServiceHost());
}

std::string CommandLineArguments()
{
    // Everything after the program's name (quoted or not).
    const char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p)
            ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t')
            ++p;
    }
    return p;
}

// "/load:": opens each device in turn until one opens, then closes it (loads a dynamic driver on 9x).
void LoadDrivers(const std::vector<std::string>& names)
{
    for (const auto& name : names) {
        HANDLE h = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            break;
        }
    }
}
} // namespace

OstrelApp& App()
{
    static OstrelApp app;
    return app;
}

std::string OstrelText(unsigned id)
{
    return StrLoad(ostrel_Strings(), id);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    OstrelApp& app = App();
    app.instance = instance;
    app.family = CapiSystemFamily();
    // The language of the dialogs that suit the user; on NT the thread locale follows it.
    app.language = ChooseResourceLanguage(instance, MAKEINTRESOURCEA(IDD_STATUS));
    StrSetLanguage(app.language);
    if (app.family == CapiFamily::WindowsNT)
        SetThreadLocale(MAKELCID(app.language, SORT_DEFAULT));
    app.options = OstrelParseCommandLine(CommandLineArguments());
    LoadDrivers(app.options.load);
    if (!CapiFindDriverKey(app.family))
        return -1;
    OstrelSetHelpBase(OstrelHelpBase());
    app.displayName = OstrelDisplayName(CapiGetKeys().settings);

    if (app.options.noService) {
        WindowThread(nullptr);
        return static_cast<int>(app.run.exitError.load());
    }
    if (app.family == CapiFamily::Windows9x) {
        using Register = DWORD(WINAPI*)(DWORD, DWORD);
        auto reg = reinterpret_cast<Register>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "RegisterServiceProcess")));
        if (reg)
            reg(0, 1);
        WindowThread(nullptr);
        return static_cast<int>(app.run.exitError.load());
    }
    static char name[] = "ZevraCapiCtl";
    SERVICE_TABLE_ENTRYA table[] = { { name, ServiceMain }, { nullptr, nullptr } };
    if (!StartServiceCtrlDispatcherA(table))
        return static_cast<int>(GetLastError());
    if (g_windowThread) {
        WaitForSingleObject(g_windowThread, 5000);
        CloseHandle(g_windowThread);
    }
    return 0;
}
