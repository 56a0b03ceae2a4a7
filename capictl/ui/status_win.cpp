// The status window of ostrel.exe (dialog 1301): the counters, "CAPI activated", the tree of devices and
// calls with tooltips, "Details", the context menu and its placement in "StatusWindow"; also the
// deactivation question, the help popups and the properties applet.
#include "capictl/capi_status.h"
#include "capictl/capi_task.h"
#include "capictl/ostrel_tree.h"
#include "capictl/ui/ostrel_app.h"
#include "capictl/ui/resource.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "common/ui/help_win.h"

#include <windows.h>

#include <commctrl.h>
#include <memory>
#include <shellapi.h>
#include <unordered_map>

namespace {
// The tree view behind the updater; remembers each item's key for tooltips and the context menu.
class Win32Tree : public OstrelTreeControl {
public:
    explicit Win32Tree(HWND tree)
        : tree_(tree)
    {
    }
    uintptr_t Insert(uintptr_t parent, uintptr_t after, const std::string& label, int image, uint64_t key) override
    {
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent ? reinterpret_cast<HTREEITEM>(parent) : TVI_ROOT;
        insert.hInsertAfter = after == kOstrelLast ? TVI_LAST
            : after == 0                           ? TVI_FIRST
                                                   : reinterpret_cast<HTREEITEM>(after);
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        insert.item.pszText = const_cast<char*>(label.c_str());
        insert.item.iImage = image;
        insert.item.iSelectedImage = image;
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, (LPARAM)&insert));
        keys_[item] = key;
        if (parent)
            SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent);
        return reinterpret_cast<uintptr_t>(item);
    }
    void Update(uintptr_t handle, const std::string& label, int image) override
    {
        TVITEMA item = {};
        item.hItem = reinterpret_cast<HTREEITEM>(handle);
        item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        item.pszText = const_cast<char*>(label.c_str());
        item.iImage = image;
        item.iSelectedImage = image;
        SendMessageA(tree_, TVM_SETITEMA, 0, (LPARAM)&item);
    }
    void Delete(uintptr_t handle) override
    {
        Forget(reinterpret_cast<HTREEITEM>(handle));
        SendMessageA(tree_, TVM_DELETEITEM, 0, (LPARAM)handle);
    }
    bool Key(HTREEITEM item, uint64_t* key) const
    {
        auto it = keys_.find(item);
        if (it == keys_.end())
            return false;
        *key = it->second;
        return true;
    }

private:
    void Forget(HTREEITEM item)
    {
        for (auto child = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item));
             child; child = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)child)))
            Forget(child);
        keys_.erase(item);
    }
    HWND tree_;
    std::unordered_map<HTREEITEM, uint64_t> keys_;
};

struct StatusState {
    std::unique_ptr<Win32Tree> tree;
    std::unique_ptr<OstrelTreeUpdater> updater;
    HIMAGELIST images = nullptr;
    SIZE collapsed {}, expanded {}; // initial window sizes
    SIZE expandedNow {}; // the expanded window's size as the user left it
    bool details = false;
    int counters[3] = { -1, -1, -1 }; // unset
    RECT treeMargin {}; // the tree's distance to the client edges (right, bottom) and its top-left
};
StatusState g_s;

void Layout(HWND dialog)
{
    if (!g_s.details)
        return;
    RECT client;
    GetClientRect(dialog, &client);
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    MoveWindow(tree, g_s.treeMargin.left, g_s.treeMargin.top, client.right - g_s.treeMargin.right - g_s.treeMargin.left,
        client.bottom - g_s.treeMargin.bottom - g_s.treeMargin.top, TRUE);
    HWND grip = GetDlgItem(dialog, IDC_GRIP);
    RECT g;
    GetWindowRect(grip, &g);
    int gw = g.right - g.left, gh = g.bottom - g.top;
    MoveWindow(grip, client.right - gw, client.bottom - gh, gw, gh, TRUE);
}

void ShowDetails(HWND dialog, bool details)
{
    g_s.details = details;
    for (int id : { IDC_TREE, IDC_TREELABEL, IDC_GRIP })
        ShowWindow(GetDlgItem(dialog, id), details ? SW_SHOW : SW_HIDE);
    SetDlgItemTextA(dialog, IDC_DETAILS, OstrelText(details ? kOstrelStrDetailsLess : kOstrelStrDetailsMore).c_str());
    // The window grows downwards from where it stands, and is pushed back onto the work area where that
    // takes it off the screen (opened from the tray, it stands by the screen's bottom edge).
    RECT r;
    GetWindowRect(dialog, &r);
    OstrelStatusWindowValue here;
    here.count = 5;
    here.left = r.left;
    here.top = r.top;
    here.details = details;
    here.width = g_s.expandedNow.cx;
    here.height = g_s.expandedNow.cy;
    RECT work = GetMonitorWorkArea(dialog);
    OstrelStatusPlacement p = OstrelPlaceStatusWindow(here, PlaceRect { 0, 0, g_s.expandedNow.cx, g_s.collapsed.cy },
        PlaceRect { 0, 0, g_s.expandedNow.cx, g_s.expandedNow.cy }, 0, 0,
        PlaceRect { work.left, work.top, work.right, work.bottom });
    SetWindowPos(
        dialog, nullptr, p.rect.left, p.rect.top, p.rect.Width(), p.rect.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    Layout(dialog);
    EnableWindow(GetDlgItem(dialog, IDC_TREE), details && !App().deactivated);
}

void Refresh(HWND dialog)
{
    CheckDlgButton(dialog, IDC_ACTIVATED, App().deactivated ? BST_UNCHECKED : BST_CHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_TREE), g_s.details && !App().deactivated);
    OstrelCounters c = CapiStatus().With([](const uint8_t* d, size_t n) { return OstrelReadCounters(d, n); });
    std::vector<std::string> texts = OstrelCounterTexts(c);
    int values[3] = { int(c.devices), int(c.applications), int(c.connections) };
    for (int i = 0; i < 3; ++i)
        if (values[i] != g_s.counters[i]) {
            g_s.counters[i] = values[i];
            SetDlgItemTextA(dialog, IDC_DEVICES + i, texts[size_t(i)].c_str());
        }
    g_s.updater->UpdateFromStatus();
}

uint64_t SelectedKey(HWND dialog, bool* found)
{
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    uint64_t key = 0;
    *found = item && g_s.tree->Key(item, &key);
    return key;
}

void ContextMenu(HWND dialog, HWND control, int x, int y)
{
    HWND tree = GetDlgItem(dialog, IDC_TREE);
    if (control == tree && x != -1) {
        TVHITTESTINFO hit = {};
        hit.pt = { x, y };
        ScreenToClient(tree, &hit.pt);
        auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_HITTEST, 0, (LPARAM)&hit));
        if (item)
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
    }
    if (x == -1) {
        RECT r;
        GetWindowRect(control, &r);
        x = r.left + 8;
        y = r.top + 8;
    }
    bool found = false;
    uint64_t key = SelectedKey(dialog, &found);
    bool call = control == tree && found && OstrelKeyKind(key) == OstrelItemKind::Call;
    HMENU menu = GetSubMenu(App().menu, 1);
    EnableMenuItem(menu, IDM_DISCONNECT, MF_BYCOMMAND | (call ? MF_ENABLED : MF_GRAYED));
    UINT command = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, dialog, nullptr);
    if (command == IDM_DISCONNECT && call)
        CapiDisconnect(OstrelKeyId(key));
    else if (command == IDM_WHATSTHIS)
        ShowHelpPopup(dialog, static_cast<uint32_t>(GetDlgCtrlID(control)));
}

void PlaceWindow(HWND dialog)
{
    OstrelStatusWindowValue value = OstrelReadStatusWindow(CapiGetKeys().settings);
    POINT cursor;
    GetCursorPos(&cursor);
    PlaceRect collapsed { 0, 0, g_s.collapsed.cx, g_s.collapsed.cy };
    PlaceRect expanded { 0, 0, g_s.expanded.cx, g_s.expanded.cy };
    // The work area of the monitor nearest to where the window goes.
    PlaceRect target = OstrelPlaceStatusWindow(value, collapsed, expanded, cursor.x, cursor.y,
        PlaceRect { INT32_MIN / 2, INT32_MIN / 2, INT32_MAX / 2, INT32_MAX / 2 })
                           .rect;
    SetWindowPos(
        dialog, nullptr, target.left, target.top, target.Width(), target.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    RECT work = GetMonitorWorkArea(dialog);
    OstrelStatusPlacement p = OstrelPlaceStatusWindow(
        value, collapsed, expanded, cursor.x, cursor.y, PlaceRect { work.left, work.top, work.right, work.bottom });
    g_s.expandedNow = { p.expandedWidth, p.expandedHeight };
    SetWindowPos(
        dialog, nullptr, p.rect.left, p.rect.top, p.rect.Width(), p.rect.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
    ShowDetails(dialog, p.details);
}

void InitStatus(HWND dialog)
{
    App().status = dialog;
    SetWindowTextA(dialog, StrFormat(OstrelText(kOstrelStrStatusCaption).c_str(), App().displayName.c_str()).c_str());
    SetDlgItemTextA(dialog, IDC_ACTIVATED, OstrelText(kOstrelStrActivated).c_str());
    SetDlgItemTextA(dialog, IDC_PROPERTIES, OstrelText(kOstrelStrProperties).c_str());
    SetDlgItemTextA(dialog, IDCANCEL, OstrelText(kOstrelStrClose).c_str());
    SetDlgItemTextA(dialog, IDC_TREELABEL, OstrelText(kOstrelStrTreeLabel).c_str());
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)LoadIconA(App().instance, MAKEINTRESOURCEA(IDI_OSTREL)));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(App().instance, MAKEINTRESOURCEA(IDI_OSTREL)));

    RECT window, client, label, tree;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    GetWindowRect(GetDlgItem(dialog, IDC_TREELABEL), &label);
    GetWindowRect(GetDlgItem(dialog, IDC_TREE), &tree);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&label), 2);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&tree), 2);
    g_s.expanded = { window.right - window.left, window.bottom - window.top };
    g_s.collapsed = { g_s.expanded.cx, g_s.expanded.cy - (client.bottom - label.top) + 4 };
    g_s.treeMargin = { tree.left, tree.top, client.right - tree.right, client.bottom - tree.bottom };
    for (int& c : g_s.counters)
        c = -1;

    HWND treeView = GetDlgItem(dialog, IDC_TREE);
    bool large = GetSystemMetrics(SM_CXSMICON) > 16;
    g_s.images = ImageList_LoadImageA(App().instance, MAKEINTRESOURCEA(large ? IDB_TREE20 : IDB_TREE16),
        large ? 20 : 16, 0, RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    SendMessageA(treeView, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)g_s.images);
    if (HWND tips = reinterpret_cast<HWND>(SendMessageA(treeView, TVM_GETTOOLTIPS, 0, 0)))
        SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 400);
    g_s.tree = std::make_unique<Win32Tree>(treeView);
    g_s.updater = std::make_unique<OstrelTreeUpdater>(*g_s.tree);
    PlaceWindow(dialog);
    Refresh(dialog);
    // Items inserted under expanded parents scroll the tree: start at its top.
    if (auto first = SendMessageA(treeView, TVM_GETNEXTITEM, TVGN_ROOT, 0))
        SendMessageA(treeView, TVM_ENSUREVISIBLE, 0, first);
}

void SavePlacement(HWND dialog, bool openAtExit)
{
    RECT r;
    GetWindowRect(dialog, &r);
    OstrelWriteStatusWindow(CapiGetKeys().settings,
        OstrelFormatStatusWindow(r.left, r.top, g_s.details, openAtExit, g_s.expandedNow.cx, g_s.expandedNow.cy));
}

INT_PTR CALLBACK StatusProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitStatus(dialog);
        return TRUE;
    case kOstrelMsgRefresh:
        Refresh(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            CloseStatusWindow(false);
            return TRUE;
        case IDC_ACTIVATED:
            if (HIWORD(wParam) == BN_CLICKED) {
                ToggleActiveFromUser(false);
                Refresh(dialog);
            }
            return TRUE;
        case IDC_PROPERTIES:
            RunProperties(dialog);
            return TRUE;
        case IDC_DETAILS:
            ShowDetails(dialog, !g_s.details);
            return TRUE;
        }
        break;
    case WM_CONTEXTMENU:
        ContextMenu(dialog, reinterpret_cast<HWND>(wParam), (short)LOWORD(lParam), (short)HIWORD(lParam));
        return TRUE;
    case WM_HELP: {
        auto* info = reinterpret_cast<HELPINFO*>(lParam);
        ShowHelpPopup(dialog, static_cast<uint32_t>(info->iCtrlId));
        return TRUE;
    }
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        if (g_s.expanded.cx == 0)
            break;
        if (g_s.details) {
            info->ptMinTrackSize = { g_s.expanded.cx, g_s.expanded.cy };
        } else {
            // Collapsed: not resizable.
            info->ptMinTrackSize = info->ptMaxTrackSize = { g_s.expandedNow.cx, g_s.collapsed.cy };
        }
        return TRUE;
    }
    case WM_SIZE:
        if (g_s.details && wParam == SIZE_RESTORED) {
            RECT r;
            GetWindowRect(dialog, &r);
            g_s.expandedNow = { r.right - r.left, r.bottom - r.top };
            Layout(dialog);
        }
        return TRUE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_TREE && header->code == TVN_GETINFOTIPA) {
            auto* tip = reinterpret_cast<NMTVGETINFOTIPA*>(lParam);
            uint64_t key = 0;
            if (g_s.tree && g_s.tree->Key(tip->hItem, &key)) {
                std::string text = OstrelTooltipText(OstrelTooltipLines(key), App().tooltipNewLines);
                lstrcpynA(tip->pszText, text.c_str(), tip->cchTextMax);
            }
            return TRUE;
        }
        break;
    }
    case WM_DESTROY:
        App().status = nullptr;
        g_s.updater.reset();
        g_s.tree.reset();
        if (g_s.images)
            ImageList_Destroy(g_s.images);
        g_s.images = nullptr;
        return TRUE;
    }
    return FALSE;
}
} // namespace

void OpenStatusWindow()
{
    if (HWND open = App().status) {
        ShowWindow(open, SW_RESTORE);
        SetForegroundWindow(open);
        return;
    }
    HWND dialog = CreateDialogParamA(App().instance, MAKEINTRESOURCEA(IDD_STATUS), App().main, StatusProc, 0);
    if (dialog) {
        ShowWindow(dialog, SW_SHOW);
        SetForegroundWindow(dialog);
    }
}

void CloseStatusWindow(bool openAtExit)
{
    HWND dialog = App().status;
    if (!dialog)
        return;
    SavePlacement(dialog, openAtExit);
    DestroyWindow(dialog);
}

void ToggleActiveFromUser(bool force)
{
    OstrelApp& app = App();
    if (app.asking)
        return;
    uint32_t calls = OstrelCountStatus().calls;
    if (OstrelToggleActive(&app.deactivated, calls, force, OstrelAnswer::None, CapiGetKeys().rcapi)
        == OstrelToggleResult::Ask) {
        HWND owner = app.status ? app.status.load() : app.main.load();
        app.asking = true;
        int answer = MessageBoxA(owner, OstrelText(kOstrelStrAskDeactivate).c_str(), app.displayName.c_str(),
            MB_YESNO | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
        app.asking = false;
        OstrelToggleActive(&app.deactivated, calls, force, answer == IDYES ? OstrelAnswer::Yes : OstrelAnswer::No,
            CapiGetKeys().rcapi);
    }
    PostMessageA(app.main, kOstrelMsgRefresh, 1, 0);
}

namespace {
// Whether a file the driver brings is on this computer: where the program starts it from (the search
// path of programs), or for help files also in the help folder of Windows.
bool DriverFilePresent(const char* name, bool help)
{
    char found[MAX_PATH] = {};
    if (SearchPathA(nullptr, name, nullptr, sizeof found, found, nullptr) > 0)
        return true;
    char windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    return help && n > 0 && n < sizeof windows
        && GetFileAttributesA((std::string(windows) + "\\help\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The applet or help file is missing: said so, instead of nothing happening (what the tray's "What's
// This?" would have shown comes first).
void SayMissing(HWND owner, unsigned id, const char* name, const std::string& before = {})
{
    std::string text = StrFormat(OstrelText(id).c_str(), name);
    if (!before.empty())
        text = before + "\r\n\r\n" + text;
    MessageBoxA(owner, text.c_str(), App().displayName.c_str(), MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}
} // namespace

void ShowHelpPopup(HWND owner, uint32_t control)
{
    uint32_t context = OstrelHelpContext(control);
    if (DriverFilePresent("rcapi.hlp", true)) {
        if (context)
            WinHelpA(owner, "rcapi.hlp", HELP_CONTEXTPOPUP, context);
        return;
    }
    // Without the driver's help file (and on systems without its help engine) the user's guide beside
    // the program opens in the user's browser, for F1 on any control as for "What's This?".
    std::string shown;
    if (OpenHelpTopics(owner, std::string(), GetProgramDirectory() + "ostrel.html", &shown) || !context)
        return;
    SayMissing(owner, kOstrelStrNoHelp, "rcapi.hlp",
        control == kOstrelTrayControl ? OstrelText(kOstrelStrTrayHelp) : std::string());
}

void RunProperties(HWND owner)
{
    if (!DriverFilePresent("rcapi.cpl", false)) {
        SayMissing(owner, kOstrelStrNoApplet, "rcapi.cpl");
        return;
    }
    ShellExecuteA(owner, "open", "rundll32.exe", "shell32.dll,Control_RunDLL rcapi.cpl", nullptr, SW_SHOWNORMAL);
}
