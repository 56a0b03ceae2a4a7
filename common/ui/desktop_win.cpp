#include "common/language.h"
#include "common/ui/desktop.h"

#include <windows.h>

#include <shlwapi.h>
#include <vector>

namespace {
PlaceRect ToPlace(const RECT& r)
{
    return PlaceRect { r.left, r.top, r.right, r.bottom };
}

bool IsWin9x()
{
    return (GetVersion() & 0x80000000u) != 0;
}

std::string RegistryText(HKEY root, const char* path, const char* value)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    char data[64] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG rc = RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : std::string();
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD lang, LONG_PTR param)
{
    reinterpret_cast<std::vector<uint16_t>*>(param)->push_back(lang);
    return TRUE;
}
} // namespace

int SaveWindowPlacement(HWND window, const char* iniFile, const char* section, const char* key, unsigned flags)
{
    WINDOWPLACEMENT wp {};
    wp.length = sizeof wp;
    if (!GetWindowPlacement(window, &wp))
        return 0;
    bool topMost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    PlacementRecord r = PlacementFromWindow(
        ToPlace(wp.rcNormalPosition), IsIconic(window) != 0, IsZoomed(window) != 0, topMost, !IsWindowVisible(window));
    return PlacementSave(iniFile, section, key, flags, r);
}

int RestoreWindowPlacement(HWND window, const char* iniFile, const char* section, const char* key, unsigned flags)
{
    PlacementRecord r;
    if (!PlacementLoad(iniFile, section, key, flags, &r))
        return 0;
    MoveWindow(window, r.x, r.y, r.width, r.height, FALSE);
    switch (PlacementShowFor(r, flags)) {
    case PlacementShow::None:
        break;
    case PlacementShow::Maximized:
        ShowWindow(window, SW_SHOWMAXIMIZED);
        break;
    case PlacementShow::Minimized:
        ShowWindow(window, SW_SHOWMINIMIZED);
        break;
    case PlacementShow::Activated:
        ShowWindow(window, SW_SHOW);
        break;
    case PlacementShow::NoActivate:
        ShowWindow(window, SW_SHOWNA);
        break;
    }
    if (r.topMost)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return 1;
}

RECT GetMonitorWorkArea(HWND window)
{
    // Bound by name: systems before multiple-monitor support lack both functions.
    using MonitorFromWindowFn = HMONITOR(WINAPI*)(HWND, DWORD);
    using GetMonitorInfoFn = BOOL(WINAPI*)(HMONITOR, LPMONITORINFO);
    RECT area {};
    HMODULE user = GetModuleHandleA("user32.dll");
    auto fromWindow = user
        ? reinterpret_cast<MonitorFromWindowFn>(reinterpret_cast<void*>(GetProcAddress(user, "MonitorFromWindow")))
        : nullptr;
    auto getInfo = user
        ? reinterpret_cast<GetMonitorInfoFn>(reinterpret_cast<void*>(GetProcAddress(user, "GetMonitorInfoA")))
        : nullptr;
    if (fromWindow && getInfo) {
        MONITORINFO info {};
        info.cbSize = sizeof info;
        HMONITOR monitor = fromWindow(window, MONITOR_DEFAULTTONEAREST);
        if (monitor && getInfo(monitor, &info))
            return info.rcWork;
    }
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

void CenterWindow(HWND window, HWND owner)
{
    RECT wr, orc;
    GetWindowRect(window, &wr);
    PlaceRect work = ToPlace(GetMonitorWorkArea(window));
    PlaceRect ownerRect;
    bool haveOwner = owner && GetWindowRect(owner, &orc);
    if (haveOwner)
        ownerRect = ToPlace(orc);
    PlaceRect placed = CenterRect(ToPlace(wr), haveOwner ? &ownerRect : nullptr, work, GetSystemMetrics(SM_CXSMICON),
        GetSystemMetrics(SM_CYSMICON));
    SetWindowPos(window, nullptr, placed.left, placed.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

uint16_t GetUserInterfaceLanguage(char* nameBuffer, int size)
{
    uint16_t lang = 0;
    DWORD version = GetVersion();
    if (IsWin9x()) {
        lang = ParseHexLanguage(RegistryText(HKEY_CURRENT_USER, "Control Panel\\Desktop\\ResourceLocale", nullptr));
    } else if (LOBYTE(LOWORD(version)) >= 5) {
        using Fn = LANGID(WINAPI*)();
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        auto fn = kernel
            ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")))
            : nullptr;
        if (fn)
            lang = fn();
    } else {
        lang = ParseHexLanguage(RegistryText(HKEY_USERS, ".DEFAULT\\Control Panel\\International", "Locale"));
    }
    if (lang == 0)
        lang = kLangEnglish;
    if (nameBuffer && size > 0) {
        nameBuffer[0] = '\0';
        GetLocaleInfoA(MAKELCID(lang, SORT_DEFAULT), LOCALE_SNATIVELANGNAME, nameBuffer, size);
    }
    return lang;
}

uint16_t ChooseResourceLanguage(HMODULE module, const char* resourceName)
{
    std::vector<uint16_t> languages;
    EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, resourceName, CollectLanguage,
        reinterpret_cast<LONG_PTR>(&languages));
    return ChooseLanguageFrom(GetUserInterfaceLanguage(nullptr, 0), languages);
}

void GetCommonControlsVersion(DWORD* major, DWORD* minor)
{
    *major = 4;
    *minor = 0;
    HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (!comctl)
        return;
    auto fn = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
    DLLVERSIONINFO info {};
    info.cbSize = sizeof info;
    if (fn && SUCCEEDED(fn(&info))) {
        *major = info.dwMajorVersion;
        *minor = info.dwMinorVersion;
    }
    FreeLibrary(comctl);
}

int RegisterRunOnce(HWND window)
{
    std::string path = GetProgramPath();
    std::string name;
    if (window) {
        char title[256] = {};
        GetWindowTextA(window, title, sizeof title);
        name = title;
    } else {
        name = path.substr(path.find_last_of('\\') + 1);
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, nullptr, 0,
            KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return 0;
    LONG rc = RegSetValueExA(
        key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()), static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 1 : 0;
}

std::string GetProgramPath()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n < sizeof path ? n : 0);
}

std::string GetProgramDirectory()
{
    std::string path = GetProgramPath();
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
