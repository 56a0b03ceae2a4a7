// qorvexal.exe: the Win32 side of the start-up sequence (config/startup/startup.h) and the main window.
#include "common/datafolder.h"
#include "common/diag.h"
#include "common/platform/dialup.h"
#include "common/platform/instance.h"
#include "common/strings.h"
#include "common/ui/aboutbox.h"
#include "common/ui/desktop.h"
#include "common/ui/testctl_win.h"
#include "config/frontend/mainview.h"
#include "config/startup/startup.h"
#include "config/ui/autoupdate_win.h"
#include "config/ui/cfgnew_win.h"
#include "config/ui/cfgsheet_win.h"
#include "config/ui/mainwindow_win.h"
#include "config/ui/print_win.h"
#include "config/ui/resource.h"
#include "config/ui/services.h"

#include <windows.h>
#include <winsock2.h>

#include <commctrl.h>
#include <shlobj.h>
#include <string>

namespace {
const char kMainClass[] = "VelquinWindowClass";
const char kDummyClass[] = "DummyWindowClass";

HINSTANCE g_instance;
int g_showCommand = SW_SHOWDEFAULT;

struct CheckWarning {
    std::string text, title, check;
    bool ticked = false;
};

INT_PTR CALLBACK CheckWarningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* w = reinterpret_cast<CheckWarning*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        w = reinterpret_cast<CheckWarning*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, w->title.c_str());
        SetDlgItemTextA(dialog, IDC_CHECKWARNING_TEXT, w->text.c_str());
        SetDlgItemTextA(dialog, IDC_CHECKWARNING_CHECK, w->check.c_str());
        SendDlgItemMessageA(dialog, IDC_CHECKWARNING_ICON, STM_SETICON,
            reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_EXCLAMATION)), 0);
        MessageBeep(MB_ICONEXCLAMATION);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            w->ticked = IsDlgButtonChecked(dialog, IDC_CHECKWARNING_CHECK) == BST_CHECKED;
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

class Win32StartupPlatform : public StartupPlatform {
public:
    void InitCommonControls() override
    {
        ::InitCommonControls();
    }
    void CommonControlsVersion(uint32_t* major, uint32_t* minor) override
    {
        DWORD ma = 4, mi = 0;
        GetCommonControlsVersion(&ma, &mi);
        *major = ma;
        *minor = mi;
    }
    bool IsWin9x() override
    {
        return (GetVersion() & 0x80000000u) != 0;
    }
    uint32_t MajorVersion() override
    {
        return LOBYTE(LOWORD(GetVersion()));
    }
    uint16_t ChooseResourceLanguage(int dialogId) override
    {
        return ::ChooseResourceLanguage(g_instance, MAKEINTRESOURCEA(dialogId));
    }
    void SetThreadLocale(uint16_t lang) override
    {
        ::SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
    }
    std::string ProgramPath() override
    {
        return GetProgramPath();
    }
    std::string DataDirectory(const std::string& programDirectory) override
    {
        return ChooseDataFolder(programDirectory, "Velquin", { StrLoad(qorvexal_Strings(), MainStrIniName) }).folder;
    }
    ShellVerbHooks VerbHooks() override
    {
        ShellVerbHooks h = Services().verbs;
        h.isOtherInstance
            = [](std::string_view path, std::string_view suffix) { return ::IsOtherInstance(path, suffix); };
        h.createDummyOwner = [] {
            WNDCLASSA wc {};
            wc.lpfnWndProc = DefWindowProcA;
            wc.hInstance = g_instance;
            wc.lpszClassName = kDummyClass;
            RegisterClassA(&wc);
            HWND w = CreateWindowA(kDummyClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, g_instance, nullptr);
            return reinterpret_cast<uintptr_t>(w);
        };
        h.destroyDummyOwner = [](uintptr_t w) { DestroyWindow(reinterpret_cast<HWND>(w)); };
        // Until the configuration dialogs take them over, the verbs that open files report what they
        // were asked to do.
        if (!h.edit)
            h.edit = [](uintptr_t, const std::string& f) { Diag("verb edit: %s\n", f.c_str()); };
        if (!h.print)
            h.print = [](uintptr_t, const std::string& f) { Diag("verb print: %s\n", f.c_str()); };
        if (!h.printTo)
            h.printTo = [](uintptr_t, const std::string& f, const std::string& p, const std::string& d,
                            const std::string& port) {
                Diag("verb printto: %s on %s (%s, %s)\n", f.c_str(), p.c_str(), d.c_str(), port.c_str());
            };
        // A new file only: an existing file with content is never emptied (and deleted on a cancel).
        h.createEmptyFile = [](const std::string& f) {
            HANDLE file
                = CreateFileA(f.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE)
                return false;
            LARGE_INTEGER size {};
            bool empty = GetFileSizeEx(file, &size) && size.QuadPart == 0;
            CloseHandle(file);
            return empty;
        };
        h.deleteFile = [](const std::string& f) { DeleteFileA(f.c_str()); };
        h.shellNotify = [](const std::string& f, bool created) {
            SHChangeNotify(created ? SHCNE_CREATE : SHCNE_DELETE, SHCNF_PATHA | SHCNF_FLUSH, f.c_str(), nullptr);
        };
        return h;
    }
    void CreateDirectory(const std::string& path) override
    {
        ::CreateDirectoryA(path.c_str(), nullptr);
    }
    bool IsOtherInstance(std::string_view path, std::string_view suffix) override
    {
        return ::IsOtherInstance(path, suffix);
    }
    void ActivateOtherInstance() override
    {
        HWND other = FindWindowA(kMainClass, nullptr);
        Diag("another instance runs: window %s\n", other ? "activated" : "not found");
        if (!other)
            return;
        if (IsIconic(other))
            ShowWindow(other, SW_RESTORE);
        SetForegroundWindow(other);
    }
    void LoadDialupLibrary() override
    {
        if (Services().loadDialupLibrary)
            Services().loadDialupLibrary();
    }
    bool StartNetwork(std::string* description) override
    {
        WSADATA data {};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        *description = data.szDescription;
        return true;
    }
    std::optional<std::string> NetworkLibraryCompany() override
    {
        HMODULE module = LoadLibraryA("wsock32.dll");
        if (!module)
            return std::nullopt;
        char path[MAX_PATH] = {};
        GetModuleFileNameA(module, path, sizeof path);
        FreeLibrary(module);
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(path, &handle);
        if (size == 0)
            return std::nullopt;
        std::string info(size, '\0');
        if (!GetFileVersionInfoA(path, 0, size, info.data()))
            return std::nullopt;
        WORD* translation = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length)
            || length < 4)
            return std::nullopt;
        char query[64];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\CompanyName", translation[0], translation[1]);
        char* company = nullptr;
        if (!VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&company), &length) || !company)
            return std::nullopt;
        return std::string(company);
    }
    bool WarnWithCheckBox(const std::string& text, const std::string& title, const std::string& check) override
    {
        CheckWarning w { text, title, check };
        DialogBoxParamA(
            g_instance, MAKEINTRESOURCEA(IDD_CHECKWARNING), nullptr, CheckWarningProc, reinterpret_cast<LPARAM>(&w));
        return w.ticked;
    }
    void StartDescriptionIndex(const StartupPaths& paths) override
    {
        if (Services().startDescriptionIndex)
            Services().startDescriptionIndex(paths);
    }
    void StartDeviceWorker() override
    {
        // The window's own worker unless another one is plugged in.
        if (!Services().startDeviceWorker) {
            MainWindowStartWorker();
            return;
        }
        DWORD thread = Services().startDeviceWorker();
        if (thread == 0)
            return;
        // The post succeeds once the thread has its message queue; a thread that never gets one (it
        // ended at once) must not hold the start-up forever.
        DWORD start = GetTickCount();
        while (!PostThreadMessageA(thread, kWorkerStartMessage, 0, 0) && GetTickCount() - start < 10000)
            Sleep(0);
    }
    bool CreateMainWindow(const std::string& title) override
    {
        return MainWindowCreate(g_instance, title, g_showCommand);
    }
    void RunMessageLoop() override
    {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (MainWindowTranslate(&msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        StopTestControl();
    }
    void StartTestControl(uint16_t port) override
    {
        TestCtlHooks hooks;
        hooks.mainWindow = [] { return MainWindowHandle(); };
        hooks.extra = [](const TestCtlCommand& c) { return MainWindowTestCommand(c); };
        hooks.isIdle = [] { return MainWindowIdle() && AutoUpdateIdle(); };
        uint16_t listening = ::StartTestControl(port, std::move(hooks));
        if (listening)
            Diag("test control: port %u\n", static_cast<unsigned>(listening));
        else
            Diag("test control: cannot listen on port %u\n", static_cast<unsigned>(port));
    }
    void StopNetwork() override
    {
        WSACleanup();
    }
    void UnloadDialupLibrary() override
    {
        if (Services().unloadDialupLibrary)
            Services().unloadDialupLibrary();
    }
};
} // namespace

// Help, About: the program's version, the compiler's build date and the about texts of the string table.
void ShowQorvexalAbout(HWND owner)
{
    AboutBoxRecord r;
    r.instance = g_instance;
    r.strings = &qorvexal_Strings();
    r.flags
        = kAboutTitleId | kAboutProductId | kAboutProduct2Id | kAboutWebId | kAboutBuildVersion | kAboutBuildCopyright;
    r.titleId = MainStrAboutTitle;
    r.productId = MainStrProgramName;
    r.product2Id = MainStrProductLine;
    r.webId = MainStrWebAddress;
    r.major = QORVEXAL_VERSION_MAJOR;
    r.minor = QORVEXAL_VERSION_MINOR;
    r.build = QORVEXAL_VERSION_BUILD;
    AboutParseCompilerDate(__DATE__, &r.buildDate);
    ShowAboutBox(owner, r);
}

QorvexalServices& Services()
{
    // The dial-up library is bound at start-up; a missing one only means no dial-up links.
    static QorvexalServices services = [] {
        QorvexalServices s;
        s.loadDialupLibrary = [] { DialupLoad(); };
        s.unloadDialupLibrary = [] { DialupUnload(); };
        s.startDescriptionIndex = [](const StartupPaths&) { CfgEnsureDescriptionIndex(); };
        s.verbs.edit = [](uintptr_t owner, const std::string& file) {
            Diag("verb edit: %s\n", file.c_str());
            CfgEditFile(reinterpret_cast<HWND>(owner), file);
        };
        s.verbs.newConfiguration = [](uintptr_t owner, const std::string& file) {
            Diag("verb shellnew: %s\n", file.c_str());
            return CfgNewConfigurationFile(reinterpret_cast<HWND>(owner), file);
        };
        s.verbs.print = [](uintptr_t owner, const std::string& file) {
            Diag("verb print: %s\n", file.c_str());
            CfgPrintFile(reinterpret_cast<HWND>(owner), file);
        };
        s.verbs.printTo = [](uintptr_t owner, const std::string& file, const std::string& printer,
                              const std::string& driver, const std::string& port) {
            Diag("verb printto: %s on %s (%s, %s)\n", file.c_str(), printer.c_str(), driver.c_str(), port.c_str());
            CfgPrintFile(reinterpret_cast<HWND>(owner), file, printer, driver, port);
        };
        s.verbs.autoUpdateDevice
            = [](uintptr_t owner, const std::string& name) { AutoUpdateDevice(reinterpret_cast<HWND>(owner), name); };
        s.verbs.autoUpdateFromFile
            = [](uintptr_t owner, const std::string& file) { AutoUpdateFromFile(reinterpret_cast<HWND>(owner), file); };
        return s;
    }();
    return services;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    g_instance = instance;
    g_showCommand = showCommand;
    Globals().instance = instance;
    Win32StartupPlatform platform;
    return RunQorvexal(commandLine ? commandLine : "", platform);
}
