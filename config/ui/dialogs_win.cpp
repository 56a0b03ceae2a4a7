#include "config/ui/dialogs_win.h"

#include "common/ini.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "config/frontend/commands.h"
#include "config/frontend/deviceinfo.h"
#include "config/frontend/jobs.h"
#include "config/frontend/mainview.h"
#include "config/frontend/valuerules.h"
#include "config/startup/startup.h"
#include "config/ui/devicetitle_win.h"
#include "config/ui/language_win.h"
#include "config/ui/resource.h"
#include "device/console.h"
#include "device/firmware.h"
#include "device/mru.h"
#include "device/search.h"
#include "device/texts.h"

#include <algorithm>
#include <commctrl.h>
#include <commdlg.h>

namespace {
std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

std::string IniPath()
{
    return Globals().paths.settingsFile;
}

} // namespace

std::string DialogText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    int length = GetWindowTextLengthA(item);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(item, text.data(), length + 1);
    text.resize(strlen(text.c_str()));
    return text;
}

void DialogWarn(HWND owner, unsigned id, int focus)
{
    MessageBoxA(owner, Text(id).c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONEXCLAMATION);
    if (focus)
        SetFocus(GetDlgItem(owner, focus));
}

namespace {
std::vector<std::string> ComboItems(HWND combo)
{
    std::vector<std::string> items;
    int n = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        std::string text(static_cast<size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
        text.resize(strlen(text.c_str()));
        items.push_back(text);
    }
    return items;
}

void FillCombo(HWND combo, const std::vector<std::string>& items)
{
    for (const std::string& item : items)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

// "a.b.c.d" or "a.b.c.d:port".
bool ParseAddressPort(std::string_view text, uint32_t* ip, uint16_t* port)
{
    text = Trim(text);
    size_t colon = text.find(':');
    std::optional<uint32_t> a = NetParseAddress(text.substr(0, colon));
    if (!a || *a == 0)
        return false;
    *port = 0;
    if (colon != std::string_view::npos) {
        std::optional<uint32_t> p = ParseUnsignedStrict(text.substr(colon + 1));
        if (!p || *p == 0 || *p > 65535)
            return false;
        *port = static_cast<uint16_t>(*p);
    }
    *ip = *a;
    return true;
}

// ---- Device dialog
struct DeviceDialogData {
    DeviceEntry* entry;
    bool isNew;
};

void ShowKind(HWND d, int link)
{
    auto show = [&](int id, bool on) { ShowWindow(GetDlgItem(d, id), on ? SW_SHOW : SW_HIDE); };
    show(IDC_DEV_ADDRESS_LABEL, link == LinkIp);
    show(IDC_DEV_ADDRESS, link == LinkIp);
    show(IDC_DEV_TIMEOUT_LABEL, link == LinkIp);
    show(IDC_DEV_TIMEOUT, link == LinkIp);
    show(IDC_DEV_PORT_LABEL, link == LinkSerial);
    show(IDC_DEV_PORT, link == LinkSerial);
    show(IDC_DEV_RASENTRY_LABEL, link == LinkDialUp);
    show(IDC_DEV_RASENTRY, link == LinkDialUp);
    show(IDC_DEV_PHONE_LABEL, link == LinkDialUp);
    show(IDC_DEV_PHONE, link == LinkDialUp);
}

// The first field of a kind of link: the address, the serial port or the phone-book entry.
int KindField(int link)
{
    return link == LinkSerial ? IDC_DEV_PORT : link == LinkDialUp ? IDC_DEV_RASENTRY : IDC_DEV_ADDRESS;
}

int KindChecked(HWND d)
{
    if (IsDlgButtonChecked(d, IDC_DEV_SERIAL) == BST_CHECKED)
        return LinkSerial;
    if (IsDlgButtonChecked(d, IDC_DEV_DIALUP) == BST_CHECKED)
        return LinkDialUp;
    return LinkIp;
}

INT_PTR CALLBACK DeviceProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<DeviceDialogData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        data = reinterpret_cast<DeviceDialogData*>(lParam);
        DeviceEntry& e = *data->entry;
        IniFile ini(IniPath());
        ini.Load();
        int link = e.link >= LinkIp && e.link <= LinkSerial ? e.link : LinkIp;
        CheckRadioButton(d, IDC_DEV_IP, IDC_DEV_DIALUP, IDC_DEV_IP + link);
        HWND address = GetDlgItem(d, IDC_DEV_ADDRESS);
        FillCombo(address, MruLoad(ini, "MorvakAddressMRU"));
        if (e.address)
            SetWindowTextA(address,
                (e.port ? StrFormat("%s:%hu", NetAddressText(e.address).c_str(), e.port) : NetAddressText(e.address))
                    .c_str());
        SetDlgItemInt(d, IDC_DEV_TIMEOUT, static_cast<UINT>(e.timeout_s), FALSE);
        HWND port = GetDlgItem(d, IDC_DEV_PORT);
        std::vector<std::string> ports = ConsoleEnumeratePorts(&ini);
        if (!e.line_name.empty() && std::none_of(ports.begin(), ports.end(), [&](const std::string& p) {
                return StrEqualNoCase(p, e.line_name);
            }))
            ports.insert(ports.begin(), e.line_name.str());
        FillCombo(port, ports);
        SetWindowTextA(port, e.line_name.empty() && !ports.empty() ? ports[0].c_str() : e.line_name.c_str());
        SetDlgItemTextA(d, IDC_DEV_RASENTRY, e.ras_entry.c_str());
        HWND phone = GetDlgItem(d, IDC_DEV_PHONE);
        FillCombo(phone, MruLoad(ini, "MorvakPhoneMRU"));
        SetWindowTextA(phone, e.phone_number.c_str());
        SetDlgItemTextA(d, IDC_DEV_NAME, e.name.c_str());
        SetDlgItemTextA(d, IDC_DEV_DESCRIPTION, e.description.c_str());
        // A password taken over from a written configuration is not shown.
        if (!e.password_unsaved) {
            std::string shown(e.password.str());
            OemToCharBuffA(shown.data(), shown.data(), static_cast<DWORD>(shown.size()));
            SetDlgItemTextA(d, IDC_DEV_PASSWORD, shown.c_str());
        }
        SendDlgItemMessageA(d, IDC_DEV_NAME, EM_LIMITTEXT, DeviceEntry().name.kMax, 0);
        SendDlgItemMessageA(d, IDC_DEV_DESCRIPTION, EM_LIMITTEXT, DeviceEntry().description.kMax, 0);
        SendDlgItemMessageA(d, IDC_DEV_PASSWORD, EM_LIMITTEXT, DeviceEntry().password.kMax, 0);
        SendDlgItemMessageA(d, IDC_DEV_RASENTRY, EM_LIMITTEXT, DeviceEntry().ras_entry.kMax, 0);
        SendDlgItemMessageA(d, IDC_DEV_PHONE, CB_LIMITTEXT, DeviceEntry().phone_number.kMax, 0);
        SendDlgItemMessageA(d, IDC_DEV_PORT, CB_LIMITTEXT, DeviceEntry().line_name.kMax, 0);
        ShowKind(d, link);
        // What the device reported beyond the columns: the Solvane server, its firmware image store.
        std::string info;
        for (const std::string& text : DeviceInfoTexts(e))
            info += (info.empty() ? "" : "\n") + text;
        SetDlgItemTextA(d, IDC_DEV_INFO_LABEL, Text(DevInfoStrLabel).c_str());
        SetDlgItemTextA(d, IDC_DEV_INFO, info.c_str());
        ShowWindow(GetDlgItem(d, IDC_DEV_INFO_LABEL), info.empty() ? SW_HIDE : SW_SHOW);
        ShowWindow(GetDlgItem(d, IDC_DEV_INFO), info.empty() ? SW_HIDE : SW_SHOW);
        // Typing starts in the field that says how the device is reached, whatever its kind.
        SetFocus(GetDlgItem(d, KindField(link)));
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DEV_IP:
        case IDC_DEV_SERIAL:
        case IDC_DEV_DIALUP:
            if (HIWORD(wParam) == BN_CLICKED)
                ShowKind(d, KindChecked(d));
            return TRUE;
        case IDOK: {
            DeviceEntry& e = *data->entry;
            int link = KindChecked(d);
            std::string name(Trim(DialogText(d, IDC_DEV_NAME)));
            uint32_t ip = 0;
            uint16_t port = 0;
            std::string addressText = DialogText(d, IDC_DEV_ADDRESS);
            if (link == LinkIp && !ParseAddressPort(addressText, &ip, &port)) {
                DialogWarn(d, MainStrBadAddress, IDC_DEV_ADDRESS);
                return TRUE;
            }
            if (name.empty()) {
                DialogWarn(d, MainStrNoName, IDC_DEV_NAME);
                return TRUE;
            }
            e.link = link;
            if (link == LinkIp) {
                e.address = ip;
                e.port = port;
                BOOL ok = FALSE;
                UINT timeout = GetDlgItemInt(d, IDC_DEV_TIMEOUT, &ok, FALSE);
                e.timeout_s = ok && timeout > 0 ? static_cast<int32_t>(std::min(timeout, 3600u)) : 10;
            } else if (link == LinkSerial) {
                e.line_name = std::string(Trim(DialogText(d, IDC_DEV_PORT)));
            } else {
                e.ras_entry = DialogText(d, IDC_DEV_RASENTRY);
                e.phone_number = std::string(Trim(DialogText(d, IDC_DEV_PHONE)));
                if (data->isNew)
                    e.ras_idle_s = 20;
            }
            e.name = name;
            e.description = DialogText(d, IDC_DEV_DESCRIPTION);
            std::string password = DialogText(d, IDC_DEV_PASSWORD);
            if (!e.password_unsaved || !password.empty()) {
                CharToOemBuffA(password.data(), password.data(), static_cast<DWORD>(password.size()));
                e.password = password;
                e.password_unsaved = 0;
            }
            IniTransaction t(IniPath());
            MruStore(t.File(), "MorvakAddressMRU", link == LinkIp ? std::string(Trim(addressText)) : std::string(),
                ComboItems(GetDlgItem(d, IDC_DEV_ADDRESS)));
            MruStore(t.File(), "MorvakPhoneMRU", link == LinkDialUp ? e.phone_number.str() : std::string(),
                ComboItems(GetDlgItem(d, IDC_DEV_PHONE)));
            t.Commit();
            EndDialog(d, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Search dialog
INT_PTR CALLBACK SearchProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* record = reinterpret_cast<JobSearchRecord*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        IniFile ini(IniPath());
        ini.Load();
        std::string flags = ini.GetString("Options", "SearchFlags", "0;1;0");
        int f[3] = { 0, 1, 0 };
        std::sscanf(flags.c_str(), "%d;%d;%d", &f[0], &f[1], &f[2]);
        CheckDlgButton(d, IDC_SEARCH_SERIAL, f[0] ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(d, IDC_SEARCH_LOCAL, f[1] ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(d, IDC_SEARCH_REMOTE, f[2] ? BST_CHECKED : BST_UNCHECKED);
        for (auto [id, key] : { std::pair { IDC_SEARCH_ADDRESS, "SearchAddressMRU" },
                 std::pair { IDC_SEARCH_NETMASK, "SearchNetmaskMRU" } }) {
            HWND combo = GetDlgItem(d, id);
            std::vector<std::string> items = MruLoad(ini, key);
            FillCombo(combo, items);
            if (!items.empty())
                SendMessageA(combo, CB_SETCURSEL, 0, 0);
        }
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if ((id == IDC_SEARCH_ADDRESS || id == IDC_SEARCH_NETMASK) && HIWORD(wParam) == CBN_KILLFOCUS) {
            // The text in dotted form when it reads as an address.
            std::string text = DialogText(d, id);
            std::optional<uint32_t> a = NetParseAddress(Trim(text));
            if (a && NetAddressText(*a) != text)
                SetDlgItemTextA(d, id, NetAddressText(*a).c_str());
            return TRUE;
        }
        if (id == IDOK) {
            bool serial = IsDlgButtonChecked(d, IDC_SEARCH_SERIAL) == BST_CHECKED;
            bool local = IsDlgButtonChecked(d, IDC_SEARCH_LOCAL) == BST_CHECKED;
            bool remote = IsDlgButtonChecked(d, IDC_SEARCH_REMOTE) == BST_CHECKED;
            std::string address(Trim(DialogText(d, IDC_SEARCH_ADDRESS)));
            std::string mask(Trim(DialogText(d, IDC_SEARCH_NETMASK)));
            std::optional<uint32_t> a = NetParseAddress(address), m = NetParseAddress(mask);
            if (remote && (!a || !m)) {
                DialogWarn(d, MainStrBadAddress, !a ? IDC_SEARCH_ADDRESS : IDC_SEARCH_NETMASK);
                return TRUE;
            }
            record->request.what
                = (serial ? SearchSerialPorts : 0) | (local ? SearchLocalNet : 0) | (remote ? SearchRemoteNet : 0);
            record->request.remote_address = a.value_or(0);
            record->request.remote_netmask = m.value_or(0);
            IniTransaction t(IniPath());
            t->SetString("Options", "SearchFlags", StrFormat("%d;%d;%d", serial, local, remote));
            MruStore(t.File(), "SearchAddressMRU", address, ComboItems(GetDlgItem(d, IDC_SEARCH_ADDRESS)));
            MruStore(t.File(), "SearchNetmaskMRU", mask, ComboItems(GetDlgItem(d, IDC_SEARCH_NETMASK)));
            t.Commit();
            EndDialog(d, IDOK);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

// ---- Options
struct OptionKey {
    int id;
    const char* key;
};
const OptionKey kOptionKeys[] = {
    { IDC_OPT_EXIT, "DontAskForExit" },
    { IDC_OPT_DELETE, "DontAskForDeviceDelete" },
    { IDC_OPT_UPLOADCONFIG, "DontAskForUploadConfig" },
    { IDC_OPT_UPLOADFIRMWARE, "DontAskForUploadFirmware" },
    { IDC_OPT_ACTIVATE, "DontAskForActivateFirmware" },
};

INT_PTR CALLBACK OptionsProc(HWND d, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: {
        IniFile ini(IniPath());
        ini.Load();
        // A box asks for confirmation: checked while its DontAskFor key is 0.
        for (const OptionKey& k : kOptionKeys)
            CheckDlgButton(d, k.id, ini.GetInt("Options", k.key, 0) == 0 ? BST_CHECKED : BST_UNCHECKED);
        int easy = ini.GetInt("Options", "EasyConfig", 1);
        CheckRadioButton(d, IDC_OPT_EASY, IDC_OPT_FULL, easy ? IDC_OPT_EASY : IDC_OPT_FULL);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            IniTransaction t(IniPath());
            for (const OptionKey& k : kOptionKeys)
                t->SetString("Options", k.key, IsDlgButtonChecked(d, k.id) == BST_CHECKED ? "0" : "1");
            t->SetString("Options", "EasyConfig", IsDlgButtonChecked(d, IDC_OPT_EASY) == BST_CHECKED ? "1" : "0");
            t.Commit();
            EndDialog(d, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Date and time
struct TimeData {
    std::string deviceClock;
    std::string* result;
};

bool ParseClock(const std::string& text, SYSTEMTIME* st)
{
    if (text.size() != 14 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    auto n = [&](size_t at, size_t len) { return static_cast<WORD>(std::stoi(text.substr(at, len))); };
    SYSTEMTIME t {};
    t.wHour = n(0, 2);
    t.wMinute = n(2, 2);
    t.wSecond = n(4, 2);
    t.wDay = n(6, 2);
    t.wMonth = n(8, 2);
    t.wYear = n(10, 4);
    FILETIME ft;
    if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 || !SystemTimeToFileTime(&t, &ft))
        return false;
    *st = t;
    return true;
}

void AddSecond(SYSTEMTIME* st)
{
    FILETIME ft;
    if (!SystemTimeToFileTime(st, &ft))
        return;
    ULARGE_INTEGER u { { ft.dwLowDateTime, ft.dwHighDateTime } };
    u.QuadPart += 10000000ull;
    ft.dwLowDateTime = u.LowPart;
    ft.dwHighDateTime = u.HighPart;
    FileTimeToSystemTime(&ft, st);
}

void SetPickers(HWND d, const SYSTEMTIME& st)
{
    SYSTEMTIME copy = st;
    SendDlgItemMessageA(d, IDC_TIME_DATE, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&copy));
    SendDlgItemMessageA(d, IDC_TIME_TIME, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&copy));
}

SYSTEMTIME ReadPickers(HWND d)
{
    SYSTEMTIME date {}, time {};
    SendDlgItemMessageA(d, IDC_TIME_DATE, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&date));
    SendDlgItemMessageA(d, IDC_TIME_TIME, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time));
    date.wHour = time.wHour;
    date.wMinute = time.wMinute;
    date.wSecond = time.wSecond;
    date.wMilliseconds = 0;
    return date;
}

void ApplyLocal(HWND d)
{
    bool local = IsDlgButtonChecked(d, IDC_TIME_LOCAL) == BST_CHECKED;
    EnableWindow(GetDlgItem(d, IDC_TIME_DATE), !local);
    EnableWindow(GetDlgItem(d, IDC_TIME_TIME), !local);
    if (local) {
        SYSTEMTIME st;
        GetLocalTime(&st);
        SetPickers(d, st);
    }
}

INT_PTR CALLBACK DateTimeProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<TimeData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        data = reinterpret_cast<TimeData*>(lParam);
        SYSTEMTIME st;
        bool device = ParseClock(data->deviceClock, &st);
        if (!device)
            GetLocalTime(&st);
        CheckDlgButton(d, IDC_TIME_LOCAL, device ? BST_UNCHECKED : BST_CHECKED);
        SetPickers(d, st);
        ApplyLocal(d);
        SetTimer(d, 1, 1000, nullptr);
        return TRUE;
    }
    case WM_TIMER: {
        // The clock shown runs on, unless the user is changing it.
        HWND focus = GetFocus();
        if (focus == GetDlgItem(d, IDC_TIME_DATE) || focus == GetDlgItem(d, IDC_TIME_TIME))
            return TRUE;
        if (IsDlgButtonChecked(d, IDC_TIME_LOCAL) == BST_CHECKED) {
            ApplyLocal(d);
        } else {
            SYSTEMTIME st = ReadPickers(d);
            AddSecond(&st);
            SetPickers(d, st);
        }
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_TIME_LOCAL && HIWORD(wParam) == BN_CLICKED) {
            ApplyLocal(d);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK) {
            SYSTEMTIME st;
            if (IsDlgButtonChecked(d, IDC_TIME_LOCAL) == BST_CHECKED)
                GetLocalTime(&st);
            else
                st = ReadPickers(d);
            *data->result
                = StrFormat("%02d%02d%02d%02d%02d%04d", st.wHour, st.wMinute, st.wSecond, st.wDay, st.wMonth, st.wYear);
            KillTimer(d, 1);
            EndDialog(d, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            KillTimer(d, 1);
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Question with check box
struct AskData {
    std::string text, title, check;
    LPCSTR icon = IDI_EXCLAMATION;
    bool ticked = false;
};

// The question's text at its full height: a longer text (a translation) moves the check box and the
// buttons down and makes the dialog taller, so that nothing of it is cut.
void FitAskText(HWND d)
{
    HWND text = GetDlgItem(d, IDC_ASK_TEXT);
    RECT box;
    GetWindowRect(text, &box);
    MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&box), 2);
    std::string s = DialogText(d, IDC_ASK_TEXT);
    HDC dc = GetDC(text);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0)));
    RECT need { 0, 0, box.right - box.left, 0 };
    DrawTextA(dc, s.c_str(), static_cast<int>(s.size()), &need, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(text, dc);
    int grow = need.bottom - (box.bottom - box.top);
    if (grow <= 0)
        return;
    SetWindowPos(text, nullptr, 0, 0, box.right - box.left, need.bottom, SWP_NOMOVE | SWP_NOZORDER);
    for (int id : { IDC_ASK_CHECK, IDYES, IDNO }) {
        HWND c = GetDlgItem(d, id);
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
        SetWindowPos(c, nullptr, r.left, r.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    RECT w;
    GetWindowRect(d, &w);
    SetWindowPos(d, nullptr, 0, 0, w.right - w.left, w.bottom - w.top + grow, SWP_NOMOVE | SWP_NOZORDER);
    CenterWindow(d, GetParent(d));
}

INT_PTR CALLBACK AskProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* a = reinterpret_cast<AskData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        a = reinterpret_cast<AskData*>(lParam);
        SetWindowTextA(d, a->title.c_str());
        SetDlgItemTextA(d, IDC_ASK_TEXT, a->text.c_str());
        SetDlgItemTextA(d, IDC_ASK_CHECK, a->check.c_str());
        SendDlgItemMessageA(d, IDC_ASK_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, a->icon)), 0);
        FitAskText(d);
        MessageBeep(a->icon == IDI_QUESTION ? MB_ICONQUESTION : MB_ICONEXCLAMATION);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDYES || LOWORD(wParam) == IDNO || LOWORD(wParam) == IDCANCEL) {
            a->ticked = IsDlgButtonChecked(d, IDC_ASK_CHECK) == BST_CHECKED;
            EndDialog(d, LOWORD(wParam) == IDYES ? IDYES : IDNO);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Address conflicts
struct ConflictData {
    std::string text, details;
};

INT_PTR CALLBACK ConflictProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* c = reinterpret_cast<ConflictData*>(lParam);
        SetWindowTextA(d, Text(CfgStrWarning).c_str());
        SetDlgItemTextA(d, IDC_CONFLICT_TEXT, c->text.c_str());
        SetDlgItemTextA(d, IDC_CONFLICT_DETAILS, c->details.c_str());
        SendDlgItemMessageA(
            d, IDC_CONFLICT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_EXCLAMATION)), 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CONFLICT_MORE) {
            // ">>" opens the details below the message.
            HWND details = GetDlgItem(d, IDC_CONFLICT_DETAILS);
            RECT r, dr;
            GetWindowRect(d, &r);
            GetWindowRect(details, &dr);
            SetWindowPos(d, nullptr, 0, 0, r.right - r.left, dr.bottom - r.top + 12, SWP_NOMOVE | SWP_NOZORDER);
            ShowWindow(details, SW_SHOW);
            EnableWindow(GetDlgItem(d, IDC_CONFLICT_MORE), FALSE);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(d, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Firmware management
struct FirmwareData {
    const DeviceEntry* entry;
    uint32_t command = 0;
};

INT_PTR CALLBACK FirmwareProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* f = reinterpret_cast<FirmwareData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        f = reinterpret_cast<FirmwareData*>(lParam);
        const FirmwareStatusInfo& s = f->entry->fw_status;
        HWND list = GetDlgItem(d, IDC_FW_IMAGES);
        for (size_t i = 0; i < s.versions.size(); ++i) {
            std::string item = StrFormat(DeviceText(FwStrVersion).c_str(), s.versions[i].c_str(),
                i < s.dates.size() ? FirmwareDateText(s.dates[i]).c_str() : "");
            if (static_cast<int32_t>(i) == s.active)
                item += " *";
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
        SendMessageA(list, LB_SETCURSEL, s.active, 0);
        SetDlgItemTextA(d, IDC_FW_STORE, DeviceImageStoreText(*f->entry).c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_FW_ACTIVATE) {
            int sel = static_cast<int>(SendDlgItemMessageA(d, IDC_FW_IMAGES, LB_GETCURSEL, 0, 0));
            if (IsDlgButtonChecked(d, IDC_FW_TESTMODE) == BST_CHECKED)
                f->command = CmdActivateTestImage;
            else if (sel >= 0 && sel <= static_cast<int>(CmdActivateLast - CmdActivateImage0))
                f->command = CmdActivateImage0 + static_cast<uint32_t>(sel);
            else
                return TRUE;
            EndDialog(d, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
} // namespace

bool DeviceDialog(HWND owner, DeviceEntry& entry, bool isNew)
{
    DeviceDialogData data { &entry, isNew };
    return LanguageDialog(IDD_DEVICE, owner, DeviceProc, reinterpret_cast<LPARAM>(&data)) == IDOK;
}

bool SearchDialog(HWND owner, JobSearchRecord& record)
{
    return LanguageDialog(IDD_SEARCH, owner, SearchProc, reinterpret_cast<LPARAM>(&record)) == IDOK;
}

void OptionsDialog(HWND owner)
{
    LanguageDialog(IDD_OPTIONS, owner, OptionsProc, 0);
}

bool DateTimeDialog(HWND owner, const std::string& deviceClock, std::string* time)
{
    TimeData data { deviceClock, time };
    return LanguageDialog(IDD_DATETIME, owner, DateTimeProc, reinterpret_cast<LPARAM>(&data)) == IDOK;
}

bool AskDialog(HWND owner, const std::string& text, const std::string& title, const std::string& checkText,
    bool* ticked, LPCSTR icon)
{
    *ticked = false;
    if (checkText.empty()) {
        UINT style = icon == IDI_QUESTION ? MB_ICONQUESTION : MB_ICONEXCLAMATION;
        return MessageBoxA(owner, text.c_str(), title.c_str(), MB_YESNO | style) == IDYES;
    }
    AskData a { text, title, checkText, icon };
    bool yes = LanguageDialog(IDD_ASK, owner, AskProc, reinterpret_cast<LPARAM>(&a)) == IDYES;
    *ticked = a.ticked;
    return yes;
}

void ConflictDialog(HWND owner, const std::string& text, const std::string& details)
{
    ConflictData c { text, details };
    LanguageDialog(IDD_CONFLICT, owner, ConflictProc, reinterpret_cast<LPARAM>(&c));
}

uint32_t FirmwareDialog(HWND owner, const DeviceEntry& entry)
{
    FirmwareData f { &entry };
    LanguageDialog(IDD_FIRMWARE, owner, FirmwareProc, reinterpret_cast<LPARAM>(&f));
    return f.command;
}

std::string FileDialog(HWND owner, bool save, const std::string& title, const std::string& filter,
    const char* folderKey, const std::string& defaultName, const char* extension)
{
    std::string filters = filter;
    std::replace(filters.begin(), filters.end(), '|', '\0');
    filters += '\0';
    std::string folder = IniGetString(IniPath(), "Options", folderKey, "");
    char file[MAX_PATH] = {};
    lstrcpynA(file, defaultName.c_str(), sizeof file);
    for (char& c : file)
        if (c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            c = '_';
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filters.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = save ? extension : nullptr;
    ofn.Flags
        = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn)))
        return std::string();
    std::string chosen = file;
    size_t slash = chosen.find_last_of("\\/");
    if (slash != std::string::npos)
        IniWriteString(IniPath(), "Options", folderKey, chosen.substr(0, slash).c_str());
    return chosen;
}

std::string FirmwareForJob(HWND owner, const DeviceJob& job, CommandUi& ui, const std::string& dropped)
{
    const DeviceEntry* first = job.first;
    std::string name = MainDeviceTitle(*first);
    std::string title = job.count > 1 ? StrFormat(Text(CmdStrFirmwareTitleMany).c_str(), job.count)
                                      : StrFormat(Text(CmdStrFirmwareTitleOne).c_str(), name.c_str());
    std::string file = !dropped.empty() ? dropped : FirmwareFileDialog(owner, title);
    if (file.empty())
        return file;
    FirmwareHeader header;
    if (!FirmwareReadFile(file, &header)) {
        ui.Error(Text(CmdStrCantOpenFile));
        return std::string();
    }
    std::vector<const DeviceEntry*> devices;
    for (const DeviceEntry* e = first; e; e = e->next)
        devices.push_back(e);
    for (const std::string& question : FirmwareUploadQuestions(header, devices))
        if (!ui.Ask(question, nullptr, nullptr))
            return std::string();
    return file;
}

namespace {
UINT_PTR CALLBACK FirmwareFileHook(HWND hook, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_NOTIFY)
        return 0;
    auto* n = reinterpret_cast<OFNOTIFYA*>(lParam);
    if (n->hdr.code != CDN_SELCHANGE && n->hdr.code != CDN_INITDONE)
        return 0;
    char path[MAX_PATH] = {};
    SendMessageA(GetParent(hook), CDM_GETFILEPATH, sizeof path, reinterpret_cast<LPARAM>(path));
    FirmwareHeader header;
    std::string text;
    if (path[0] && FirmwareReadFile(path, &header))
        text = FirmwareDescribe(header);
    SetDlgItemTextA(hook, IDC_FWFILE_TEXT, text.c_str());
    return 0;
}
} // namespace

std::string FirmwareFileDialog(HWND owner, const std::string& title)
{
    // "lc_*u.*;*.upx" of the string table, then every file.
    std::string pattern = DeviceText(FwStrFileFilter);
    std::string filters = StrFormat("%s (%s)",
        Text(MainStrFirmwareFilter).substr(0, Text(MainStrFirmwareFilter).find(" (")).c_str(), pattern.c_str());
    filters += '\0';
    filters += pattern;
    filters += '\0';
    std::string all = Text(MainStrFirmwareFilter);
    size_t bar = all.find('|', all.find('|') + 1);
    std::string rest = bar == std::string::npos ? std::string() : all.substr(bar + 1);
    std::replace(rest.begin(), rest.end(), '|', '\0');
    filters += rest;
    filters += '\0';
    std::string folder = IniGetString(IniPath(), "Options", "UPXPath", "");
    char file[MAX_PATH] = {};
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.hInstance = GetModuleHandleA(nullptr);
    ofn.lpstrFilter = filters.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpTemplateName = MAKEINTRESOURCEA(IDD_FWFILE);
    ofn.lpfnHook = FirmwareFileHook;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER
        | OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
    if (!GetOpenFileNameA(&ofn))
        return std::string();
    std::string chosen = file;
    size_t slash = chosen.find_last_of("\\/");
    if (slash != std::string::npos)
        IniWriteString(IniPath(), "Options", "UPXPath", chosen.substr(0, slash).c_str());
    return chosen;
}
