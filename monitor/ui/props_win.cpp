#include "monitor/ui/props_win.h"

#include "common/strings.h"
#include "common/text.h"
#include "monitor/engine/engine.h"
#include "monitor/log/log.h"
#include "monitor/startup/logpage.h"
#include "monitor/startup/optionspage.h"
#include "monitor/startup/startup.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/graph_win.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/texts.h"

#include <commctrl.h>
#include <ctime>
#include <shellapi.h>
#include <string>
#include <vector>

namespace {
struct Sheet {
    EngineDevice* device = nullptr;
    std::string password;
    LogPageState log;
    std::vector<OptionsPageEntry> options;
    std::vector<uint32_t> values;
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

INT_PTR CALLBACK DevicePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        Remember(page, lParam);
        Sheet* s = Of(page);
        SetDlgItemTextA(page, IDC_PROP_TYPE, s->device->object->type.c_str());
        SetDlgItemTextA(page, IDC_PROP_VENDOR, s->device->object->vendor.c_str());
        SetDlgItemTextA(page, IDC_PROP_ADDRESS, s->device->AddressText().c_str());
        SetDlgItemTextA(page, IDC_PROP_PASSWORD, s->password.c_str());
        GraphAddButton(page, IDC_PROP_GRAPH);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_PROP_GRAPH) {
            // The graph of every kept value of the device, beside the sheet.
            GraphOpen(nullptr, Of(page)->device->address, Of(page)->device->AddressText(), {});
            return TRUE;
        }
        break;
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
    if (MessageBoxA(page, StrLoad(talvine_Strings(), UiStrAskDeleteLogs).c_str(),
            StrLoad(talvine_Strings(), TvStrProgramName).c_str(), MB_YESNO | MB_ICONQUESTION)
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
// The options page: a tree of check and radio entries drawn with state images (1 box, 2 box checked,
// 3 radio, 4 radio chosen), a radio group with its image from the strip.
HIMAGELIST StateImages()
{
    static HIMAGELIST list = [] {
        HIMAGELIST l = ImageList_Create(16, 16, ILC_COLOR24, 5, 0);
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HPEN frame = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_WINDOWTEXT));
        HBRUSH mark = CreateSolidBrush(GetSysColor(COLOR_WINDOWTEXT));
        for (int kind = 0; kind < 5; ++kind) {
            HBITMAP bits = CreateCompatibleBitmap(screen, 16, 16);
            HGDIOBJ old = SelectObject(dc, bits);
            RECT all { 0, 0, 16, 16 };
            FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
            HGDIOBJ oldPen = SelectObject(dc, frame);
            HGDIOBJ oldBrush = SelectObject(dc, GetSysColorBrush(COLOR_WINDOW));
            if (kind == 1 || kind == 2) {
                Rectangle(dc, 2, 2, 15, 15);
                if (kind == 2) {
                    // The tick: two strokes, three pixels thick.
                    for (int t = 0; t < 3; ++t) {
                        MoveToEx(dc, 4, 7 + t, nullptr);
                        LineTo(dc, 7, 10 + t);
                        LineTo(dc, 13, 4 + t);
                    }
                }
            } else if (kind == 3 || kind == 4) {
                Ellipse(dc, 2, 2, 15, 15);
                if (kind == 4) {
                    SelectObject(dc, mark);
                    Ellipse(dc, 6, 6, 11, 11);
                }
            }
            SelectObject(dc, oldBrush);
            SelectObject(dc, oldPen);
            SelectObject(dc, old);
            ImageList_Add(l, bits, nullptr);
            DeleteObject(bits);
        }
        DeleteObject(frame);
        DeleteObject(mark);
        DeleteDC(dc);
        ReleaseDC(nullptr, screen);
        return l;
    }();
    return list;
}

UINT StateImageOf(const Sheet& s, const OptionsPageEntry& e)
{
    switch (e.kind) {
    case OptionsPageEntry::Kind::Check:
        return OptionsPageChecked(e, s.values) ? 2 : 1;
    case OptionsPageEntry::Kind::Radio:
        return OptionsPageChecked(e, s.values) ? 4 : 3;
    case OptionsPageEntry::Kind::Group:
        break;
    }
    return 0;
}

// Every entry's state image again (a radio entry chosen clears the others of its group).
void ShowOptionStates(HWND tree, const Sheet& s)
{
    std::vector<HTREEITEM> stack { reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)) };
    while (!stack.empty()) {
        HTREEITEM h = stack.back();
        stack.pop_back();
        if (!h)
            continue;
        stack.push_back(
            reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(h))));
        stack.push_back(
            reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(h))));
        TVITEMA tv {};
        tv.mask = TVIF_PARAM;
        tv.hItem = h;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        TVITEMA set {};
        set.mask = TVIF_STATE;
        set.hItem = h;
        set.stateMask = TVIS_STATEIMAGEMASK;
        set.state = INDEXTOSTATEIMAGEMASK(StateImageOf(s, s.options[static_cast<size_t>(tv.lParam)]));
        SendMessageA(tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&set));
    }
}

void FillOptionsTree(HWND tree, const Sheet& s)
{
    SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(StateImages()));
    HIMAGELIST strip = ImageList_LoadImageA(
        GetModuleHandleA(nullptr), "MONITORIMAGES", 16, 0, RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (strip)
        SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(strip));
    HTREEITEM group = nullptr;
    for (size_t i = 0; i < s.options.size(); ++i) {
        const OptionsPageEntry& e = s.options[i];
        std::string label = e.label;
        TVINSERTSTRUCTA ins {};
        ins.hParent = e.kind == OptionsPageEntry::Kind::Radio && group ? group : TVI_ROOT;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = label.data();
        ins.item.lParam = static_cast<LPARAM>(i);
        // Only a group shows an image of the strip; the other entries ask for one beyond it (none drawn).
        ins.item.iImage = ins.item.iSelectedImage
            = e.kind == OptionsPageEntry::Kind::Group && e.image >= 0 ? e.image : 0xFFFF;
        HTREEITEM h
            = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
        if (e.kind == OptionsPageEntry::Kind::Group)
            group = h;
        else if (e.kind == OptionsPageEntry::Kind::Check)
            group = nullptr;
    }
    for (HTREEITEM h = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); h;
         h = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(h))))
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(h));
    ShowOptionStates(tree, s);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

// A click or the space key on an entry.
void ActivateOption(HWND tree, Sheet& s, HTREEITEM h)
{
    if (!h)
        return;
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = h;
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv)))
        return;
    if (OptionsPageActivate(s.options[static_cast<size_t>(tv.lParam)], s.values))
        ShowOptionStates(tree, s);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

INT_PTR CALLBACK OptionsPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        Remember(page, lParam);
        FillOptionsTree(GetDlgItem(page, IDC_OPTIONS_TREE), *Of(page));
        return TRUE;
    case WM_NOTIFY: {
        const auto* h = reinterpret_cast<const NMHDR*>(lParam);
        HWND tree = GetDlgItem(page, IDC_OPTIONS_TREE);
        if (h->hwndFrom == tree && h->code == NM_CLICK) {
            TVHITTESTINFO hit {};
            GetCursorPos(&hit.pt);
            ScreenToClient(tree, &hit.pt);
            HTREEITEM item
                = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            if (item && (hit.flags & (TVHT_ONITEMSTATEICON | TVHT_ONITEMLABEL | TVHT_ONITEMICON))) {
                SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
                ActivateOption(tree, *Of(page), item);
            }
            return TRUE;
        }
        if (h->hwndFrom == tree && h->code == TVN_KEYDOWN) {
            if (reinterpret_cast<const NMTVKEYDOWN*>(lParam)->wVKey == VK_SPACE) {
                ActivateOption(
                    tree, *Of(page), reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)));
                SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
                return TRUE;
            }
            break;
        }
        if (h->code == PSN_SETACTIVE) {
            SetFocus(tree);
            break;
        }
        if (h->code == PSN_APPLY) {
            Of(page)->saved = true;
            SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}
} // namespace

bool ShowDeviceProperties(HINSTANCE instance, HWND owner, Engine& engine, EngineDevice& device)
{
    const std::string& settings = TalvineGlobalsGet().paths.settingsFile;
    std::string address = device.AddressText();
    Sheet sheet;
    sheet.device = &device;
    sheet.password = device.community;
    sheet.log = LogPageLoad(settings, address);
    sheet.options = OptionsPageEntries(device.object->options);
    sheet.values = OptionsPageValues(device);

    // The options page only for a device whose script has options.
    PROPSHEETPAGEA pages[3] {};
    const int templates[3] = { IDD_PROP_DEVICE, IDD_PROP_LOGGING, IDD_PROP_OPTIONS };
    DLGPROC procs[3] = { DevicePageProc, LoggingPageProc, OptionsPageProc };
    const UINT count = sheet.options.empty() ? 2 : 3;
    for (UINT i = 0; i < count; ++i) {
        pages[i].dwSize = sizeof pages[i];
        pages[i].hInstance = instance;
        pages[i].pszTemplate = MAKEINTRESOURCEA(templates[i]);
        pages[i].pfnDlgProc = procs[i];
        pages[i].lParam = reinterpret_cast<LPARAM>(&sheet);
    }
    // Which device: its type and address ("Morvak 1100 (127.0.0.1)"), as several of a type may be watched.
    std::string caption = device.object->name.empty()
        ? address
        : StrFormat(StrLoad(talvine_Strings(), UiStrDeviceTitle).c_str(), device.object->name.c_str(), address.c_str());
    PROPSHEETHEADERA header {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = owner;
    header.hInstance = instance;
    header.pszCaption = caption.c_str();
    header.nPages = count;
    header.ppsp = pages;
    PropertySheetA(&header);
    if (!sheet.saved)
        return false;
    // A new password registers the device again at once (the registration it refused may pass now).
    engine.SetCommunity(device, sheet.password);
    LogPageSave(settings, address, sheet.log);
    OptionsPageSave(engine, device, sheet.values);
    return true;
}
