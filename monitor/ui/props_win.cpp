#include "monitor/ui/props_win.h"

#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/startup/logpage.h"
#include "monitor/startup/startup.h"
#include "monitor/ui/resource.h"
#include "monitor/views/log.h"

#include <commctrl.h>
#include <ctime>
#include <shellapi.h>
#include <string>

namespace {
struct Sheet {
    EngineDevice* device = nullptr;
    std::string password;
    LogPageState log;
    bool saved = false;
};

Sheet* Of(HWND page)
{
    return reinterpret_cast<Sheet*>(GetWindowLongPtrA(page, DWLP_USER));
}

void Remember(HWND page, LPARAM lParam)
{
    auto* psp = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
    SetWindowLongPtrA(page, DWLP_USER, psp->lParam);
}

std::string ItemString(HWND page, int id)
{
    char text[256] = {};
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

INT_PTR CALLBACK DevicePageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        Remember(page, lParam);
        Sheet* s = Of(page);
        SetDlgItemTextA(page, IDC_PROP_TYPE, s->device->object->type.c_str());
        SetDlgItemTextA(page, IDC_PROP_VENDOR, s->device->object->vendor.c_str());
        SetDlgItemTextA(page, IDC_PROP_ADDRESS, s->device->AddressText().c_str());
        SetDlgItemTextA(page, IDC_PROP_PASSWORD, s->password.c_str());
        return TRUE;
    }
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->code == PSN_APPLY) {
            Of(page)->password = ItemString(page, IDC_PROP_PASSWORD);
            Of(page)->saved = true;
            SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// The names the two fixed namings give now, shown below their buttons.
void ShowExpandedNames(HWND page, const std::string& address)
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_s(&local, &now);
    SetDlgItemTextA(page, IDC_LOG_MONTHLY_NAME, LogPageExpandedName(LogNaming::Monthly, address, local).c_str());
    SetDlgItemTextA(page, IDC_LOG_DAILY_NAME, LogPageExpandedName(LogNaming::Daily, address, local).c_str());
}

void DeleteAllLogs(HWND page)
{
    if (MessageBoxA(page, StrLoad(talvine_Strings(), 2018).c_str(), StrLoad(talvine_Strings(), 2011).c_str(),
            MB_YESNO | MB_ICONQUESTION)
        != IDYES)
        return;
    LogClose();
    // Every file of the Log directory to the recycle bin, without further questions.
    std::string from = LogDirectory() + "\\*";
    from.push_back('\0');
    SHFILEOPSTRUCTA op {};
    op.hwnd = page;
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    SHFileOperationA(&op);
}

INT_PTR CALLBACK LoggingPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        Remember(page, lParam);
        Sheet* s = Of(page);
        CheckDlgButton(page, IDC_LOG_EVENTS, (s->log.mask & kLogDeviceEvents) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(page, IDC_LOG_ABPORTS, (s->log.mask & kLogAbPorts) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(page, IDC_LOG_SOLVANE, (s->log.mask & kLogSolvane) ? BST_CHECKED : BST_UNCHECKED);
        int radio = s->log.naming == LogNaming::Monthly ? IDC_LOG_MONTHLY
            : s->log.naming == LogNaming::Daily         ? IDC_LOG_DAILY
                                                        : IDC_LOG_CUSTOM;
        CheckRadioButton(page, IDC_LOG_MONTHLY, IDC_LOG_CUSTOM, radio);
        SetDlgItemTextA(page, IDC_LOG_CUSTOM_NAME, s->log.custom.c_str());
        ShowExpandedNames(page, s->device->AddressText());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_LOG_OPEN_DIR) {
            ShellExecuteA(page, "open", LogDirectory().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_LOG_DELETE_ALL) {
            DeleteAllLogs(page);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_LOG_CUSTOM_NAME && HIWORD(wParam) == EN_SETFOCUS)
            CheckRadioButton(page, IDC_LOG_MONTHLY, IDC_LOG_CUSTOM, IDC_LOG_CUSTOM);
        break;
    case WM_NOTIFY:
        if (reinterpret_cast<NMHDR*>(lParam)->code == PSN_APPLY) {
            Sheet* s = Of(page);
            s->log.mask = (IsDlgButtonChecked(page, IDC_LOG_EVENTS) == BST_CHECKED ? kLogDeviceEvents : 0)
                | (IsDlgButtonChecked(page, IDC_LOG_ABPORTS) == BST_CHECKED ? kLogAbPorts : 0)
                | (IsDlgButtonChecked(page, IDC_LOG_SOLVANE) == BST_CHECKED ? kLogSolvane : 0);
            s->log.naming = IsDlgButtonChecked(page, IDC_LOG_DAILY) == BST_CHECKED ? LogNaming::Daily
                : IsDlgButtonChecked(page, IDC_LOG_CUSTOM) == BST_CHECKED          ? LogNaming::Custom
                                                                                   : LogNaming::Monthly;
            s->log.custom = std::string(Trim(ItemString(page, IDC_LOG_CUSTOM_NAME)));
            s->saved = true;
            SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
} // namespace

bool ShowDeviceProperties(HINSTANCE instance, HWND owner, EngineDevice& device)
{
    const std::string& settings = TalvineGlobalsGet().paths.settingsFile;
    std::string address = device.AddressText();
    Sheet sheet;
    sheet.device = &device;
    sheet.password = device.community;
    sheet.log = LogPageLoad(settings, address);

    PROPSHEETPAGEA pages[2] {};
    const int templates[2] = { IDD_PROP_DEVICE, IDD_PROP_LOGGING };
    DLGPROC procs[2] = { DevicePageProc, LoggingPageProc };
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].hInstance = instance;
        pages[i].pszTemplate = MAKEINTRESOURCEA(templates[i]);
        pages[i].pfnDlgProc = procs[i];
        pages[i].lParam = reinterpret_cast<LPARAM>(&sheet);
    }
    std::string caption = device.object->name.empty() ? address : device.object->name;
    PROPSHEETHEADERA header {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = owner;
    header.hInstance = instance;
    header.pszCaption = caption.c_str();
    header.nPages = 2;
    header.ppsp = pages;
    PropertySheetA(&header);
    if (!sheet.saved)
        return false;
    device.community = sheet.password;
    LogPageSave(settings, address, sheet.log);
    return true;
}
