#include "monitor/ui/views_win.h"

#include "common/strings.h"
#include "common/ui/desktop.h"
#include "monitor/startup/rules.h"
#include "monitor/startup/startup.h"
#include "monitor/views/texts.h"

#include <algorithm>
#include <commdlg.h>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr UINT kWakeMessage = WM_APP + 40;
constexpr char kAccountingClass[] = "TravikAccountingPlugin";
constexpr char kVpnClass[] = "TravikVpnPlugin";
constexpr char kWakeClass[] = "TravikViewsWake";
constexpr int kRowHeight = 28; // the command row above the list
constexpr int kDefaultColumnWidth = 110;
constexpr unsigned kPlacementFlags = kPlaceMaximized | kPlaceMinimized | kPlaceActivate;

HINSTANCE g_instance;
HWND g_wake;
ViewsWindowOwner* g_owner;
std::string g_settings;

std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}

struct ViewWin;
std::map<const TableView*, ViewWin*>& Windows()
{
    static std::map<const TableView*, ViewWin*> windows;
    return windows;
}

struct ViewWin : TableViewHost {
    HWND hwnd = nullptr;
    HWND list = nullptr;
    std::vector<std::pair<int, HWND>> buttons;
    TableView* view = nullptr;
    // The texts of the row the list asked for last (it asks column by column).
    size_t cachedRow = SIZE_MAX;
    std::vector<std::string> cached;
    // Without stored column widths the columns fit their titles and texts, and a window without a stored
    // placement grows to show them all (within the work area), as rows come.
    bool fitColumns = false;
    bool fitWindow = false;

    void RowsChanged(size_t) override
    {
        cachedRow = SIZE_MAX;
        ListView_SetItemCountEx(list, static_cast<int>(view->RowCount()), LVSICF_NOSCROLL);
        InvalidateRect(list, nullptr, FALSE);
        if (fitColumns)
            FitColumns();
    }
    void JobChanged() override
    {
        Enable();
    }

    // Each column as wide as its widest text (title or row), measured in the list's font; rows measured
    // once each as they come.
    std::vector<int> fitted;
    size_t measured = 0;
    void FitColumns()
    {
        std::vector<std::string> titles = view->ColumnTitles();
        if (fitted.size() != titles.size()) {
            fitted.assign(titles.size(), 0);
            for (size_t c = 0; c < titles.size(); ++c)
                fitted[c] = ListView_GetStringWidth(list, titles[c].c_str()) + 16;
            fitted[0] += GetSystemMetrics(SM_CXSMICON) + 6; // the row's image
        }
        if (view->RowCount() < measured)
            measured = 0; // emptied for a refresh
        for (; measured < view->RowCount(); ++measured) {
            std::vector<std::string> texts = view->RowTexts(measured);
            for (size_t c = 0; c < texts.size() && c < fitted.size(); ++c) {
                int image = c == 0 ? GetSystemMetrics(SM_CXSMICON) + 6 : 0;
                fitted[c] = std::max(fitted[c], ListView_GetStringWidth(list, texts[c].c_str()) + 14 + image);
            }
        }
        int total = 0;
        for (size_t c = 0; c < fitted.size(); ++c) {
            int now = ListView_GetColumnWidth(list, static_cast<int>(c));
            if (fitted[c] > now)
                ListView_SetColumnWidth(list, static_cast<int>(c), fitted[c]);
            total += std::max(fitted[c], now);
        }
        if (!fitWindow)
            return;
        // The list spans the window's client area (its sunken edge inside it).
        RECT r {}, client {};
        GetWindowRect(hwnd, &r);
        GetClientRect(hwnd, &client);
        int wanted = (r.right - r.left) - client.right + total + GetSystemMetrics(SM_CXVSCROLL)
            + 4 * GetSystemMetrics(SM_CXEDGE);
        RECT work = GetMonitorWorkArea(hwnd);
        wanted = std::min<int>(wanted, work.right - work.left);
        if (wanted > r.right - r.left) {
            SetWindowPos(hwnd, nullptr, 0, 0, wanted, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            PlaceBesideMainWindow(hwnd, static_cast<int>(Windows().size()) - 1);
        }
    }
    void TitleChanged() override
    {
        SetWindowTextA(hwnd, view->Title().c_str());
    }
    void BringToFront() override
    {
        if (IsIconic(hwnd))
            ShowWindow(hwnd, SW_RESTORE);
        SetForegroundWindow(hwnd);
    }
    void DeleteFailed() override
    {
        MessageBoxA(hwnd, Text(ViewStrDeleteFailed).c_str(), "Error", MB_OK | MB_ICONERROR);
    }

    void Enable()
    {
        for (auto& [id, button] : buttons) {
            bool on = true;
            if (id == kViewCmdRefresh)
                on = view->CanRefresh();
            else if (id == kViewCmdLoad || id == kViewCmdSave)
                on = view->CanLoadSave();
            else if (id == kViewCmdDelete)
                on = view->CanDelete();
            EnableWindow(button, on ? TRUE : FALSE);
        }
    }

    void Create()
    {
        HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        struct Command {
            int id;
            unsigned text;
        };
        std::vector<Command> commands;
        if (view->Kind() == TableKind::Accounting)
            commands = { { kViewCmdRefresh, ViewStrCmdRefresh }, { kViewCmdLoad, ViewStrCmdLoad },
                { kViewCmdSave, ViewStrCmdSave }, { kViewCmdDelete, ViewStrCmdDelete },
                { kViewCmdTopMost, ViewStrCmdTopMost }, { kViewCmdClose, ViewStrCmdClose } };
        else
            commands = { { kViewCmdRefresh, ViewStrCmdRefresh }, { kViewCmdTopMost, ViewStrCmdTopMost },
                { kViewCmdClose, ViewStrCmdClose } };
        for (const Command& c : commands) {
            DWORD style
                = WS_CHILD | WS_VISIBLE | WS_TABSTOP | (c.id == kViewCmdTopMost ? BS_AUTOCHECKBOX : BS_PUSHBUTTON);
            HWND b = CreateWindowExA(0, "BUTTON", Text(c.text).c_str(), style, 0, 0, 0, 0, hwnd,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), g_instance, nullptr);
            SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            buttons.emplace_back(c.id, b);
        }
        list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
            0, 0, 0, 0, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kViewList)), g_instance, nullptr);
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
        ListView_SetImageList(list, MonitorImageList(), LVSIL_SMALL);
        std::vector<std::string> titles = view->ColumnTitles();
        std::vector<int> widths = view->ReadColumnWidths();
        fitColumns = std::none_of(widths.begin(), widths.end(), [](int w) { return w > 0; });
        for (size_t i = 0; i < titles.size(); ++i) {
            LVCOLUMNA col {};
            col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            col.pszText = titles[i].data();
            col.cx = i < widths.size() && widths[i] > 0 ? widths[i] : fitColumns ? 0 : kDefaultColumnWidth;
            col.iSubItem = static_cast<int>(i);
            ListView_InsertColumn(list, static_cast<int>(i), &col);
        }
        if (view->ReadOptions() & kViewKeepOnTop) {
            SendMessageA(Button(kViewCmdTopMost), BM_SETCHECK, BST_CHECKED, 0);
            SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
        RowsChanged(0);
        Enable();
    }

    HWND Button(int id) const
    {
        for (auto& [bid, b] : buttons)
            if (bid == id)
                return b;
        return nullptr;
    }

    void Layout()
    {
        RECT r;
        GetClientRect(hwnd, &r);
        int x = 4;
        for (auto& [id, b] : buttons) {
            int w = id == kViewCmdTopMost ? 130 : 84;
            if (id == kViewCmdClose)
                x = std::max(x, static_cast<int>(r.right) - w - 4);
            MoveWindow(b, x, 3, w, kRowHeight - 6, TRUE);
            x += w + 4;
        }
        MoveWindow(list, 0, kRowHeight, r.right, r.bottom > kRowHeight ? r.bottom - kRowHeight : 0, TRUE);
    }

    void SaveState()
    {
        std::vector<int> widths;
        for (size_t i = 0; i < view->ColumnTitles().size(); ++i)
            widths.push_back(ListView_GetColumnWidth(list, static_cast<int>(i)));
        view->WriteColumnWidths(widths);
        bool top = SendMessageA(Button(kViewCmdTopMost), BM_GETCHECK, 0, 0) == BST_CHECKED;
        view->WriteOptions(top ? kViewKeepOnTop : 0);
        SaveWindowPlacement(
            hwnd, g_settings.c_str(), view->SettingsSection(), view->PlacementKey().c_str(), kPlacementFlags);
    }

    void Command(int id)
    {
        std::string path;
        switch (id) {
        case kViewCmdRefresh:
            view->Refresh();
            break;
        case kViewCmdLoad:
            if (view->CanLoadSave() && ViewsAskAccountingFile(hwnd, false, &path))
                view->Load(path);
            break;
        case kViewCmdSave:
            if (view->CanLoadSave() && ViewsAskAccountingFile(hwnd, true, &path))
                view->Save(path);
            break;
        case kViewCmdDelete:
            if (view->CanDelete()
                && MessageBoxA(hwnd, Text(ViewStrAskDelete).c_str(), "Warning", MB_YESNO | MB_ICONQUESTION) == IDYES)
                view->Delete();
            break;
        case kViewCmdTopMost: {
            bool top = SendMessageA(Button(kViewCmdTopMost), BM_GETCHECK, 0, 0) == BST_CHECKED;
            SetWindowPos(hwnd, top ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            break;
        }
        case kViewCmdClose:
            // As the window's own close box: the owner decides (this object may be gone afterwards).
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            break;
        default:
            break;
        }
    }

    LRESULT Notify(NMHDR* n)
    {
        if (n->idFrom != kViewList)
            return 0;
        if (n->code == LVN_GETDISPINFOA) {
            LVITEMA& item = reinterpret_cast<NMLVDISPINFOA*>(n)->item;
            if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= view->RowCount())
                return 0;
            size_t row = static_cast<size_t>(item.iItem);
            if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0) {
                if (cachedRow != row) {
                    cached = view->RowTexts(row);
                    cachedRow = row;
                }
                const std::string& t
                    = static_cast<size_t>(item.iSubItem) < cached.size() ? cached[item.iSubItem] : std::string();
                size_t n2 = std::min(t.size(), static_cast<size_t>(item.cchTextMax - 1));
                std::memcpy(item.pszText, t.data(), n2);
                item.pszText[n2] = '\0';
            }
            if (item.mask & LVIF_IMAGE)
                item.iImage = view->RowImage(row);
        } else if (n->code == LVN_COLUMNCLICK) {
            view->Sort(static_cast<size_t>(reinterpret_cast<NMLISTVIEW*>(n)->iSubItem));
        }
        return 0;
    }
};

LRESULT CALLBACK ViewProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* w = reinterpret_cast<ViewWin*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        w = static_cast<ViewWin*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        w->hwnd = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
        break;
    }
    case WM_CREATE:
        w->Create();
        return 0;
    case WM_SIZE:
        if (w)
            w->Layout();
        return 0;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = { 420, 160 };
        return 0;
    case WM_EXITSIZEMOVE:
        // Moved or sized by the user: it stays where it was put.
        if (w)
            w->fitWindow = false;
        return 0;
    case WM_COMMAND:
        if (w && LOWORD(wParam) >= kViewCmdRefresh && LOWORD(wParam) <= kViewCmdClose)
            w->Command(LOWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return w ? w->Notify(reinterpret_cast<NMHDR*>(lParam)) : 0;
    case WM_CLOSE:
        if (!g_owner || g_owner->ViewWindowMayClose(hwnd)) {
            if (IsWindow(hwnd))
                DestroyWindow(hwnd);
        }
        return 0;
    case WM_DESTROY:
        if (w && w->view) {
            w->SaveState();
            Windows().erase(w->view);
            w->view->Close();
            w->view = nullptr;
            if (g_owner)
                g_owner->ViewWindowClosed(hwnd);
        }
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        delete w;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    default:
        break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK WakeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kWakeMessage) {
        ViewsProcess();
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TableViewHost* CreateViewWindow(TableView& view)
{
    auto* w = new ViewWin;
    w->view = &view;
    const char* cls = view.Kind() == TableKind::Accounting ? kAccountingClass : kVpnClass;
    HWND hwnd = CreateWindowExA(0, cls, view.Title().c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 720,
        300, nullptr, nullptr, g_instance, w);
    if (!hwnd)
        return nullptr; // WM_NCDESTROY freed it
    Windows()[&view] = w;
    if (!RestoreWindowPlacement(
            hwnd, g_settings.c_str(), view.SettingsSection(), view.PlacementKey().c_str(), kPlacementFlags)) {
        // First shown: beside the main window, not over it.
        w->fitWindow = true;
        PlaceBesideMainWindow(hwnd, static_cast<int>(Windows().size()) - 1);
        if (w->fitColumns)
            w->FitColumns();
        ShowWindow(hwnd, SW_SHOW);
    }
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
    return w;
}

} // namespace

int ViewsWindowsInit(HINSTANCE instance, ViewsConfig* config, ViewsWindowOwner* owner)
{
    g_instance = instance;
    g_owner = owner;
    g_settings = config->settingsPath;
    INITCOMMONCONTROLSEX icc { sizeof icc, ICC_LISTVIEW_CLASSES };
    InitCommonControlsEx(&icc);
    WNDCLASSA wc {};
    wc.lpfnWndProc = ViewProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kAccountingClass;
    if (!RegisterClassA(&wc))
        return 0;
    wc.lpszClassName = kVpnClass;
    if (!RegisterClassA(&wc))
        return 0;
    WNDCLASSA wake {};
    wake.lpfnWndProc = WakeProc;
    wake.hInstance = instance;
    wake.lpszClassName = kWakeClass;
    if (!RegisterClassA(&wake))
        return 0;
    g_wake = CreateWindowExA(0, kWakeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (!g_wake)
        return 0;
    config->wake = [] { PostMessageA(g_wake, kWakeMessage, 0, 0); };
    config->createWindow = CreateViewWindow;
    return 1;
}

void ViewsWindowsClose()
{
    while (!Windows().empty())
        DestroyWindow(Windows().begin()->second->hwnd);
    if (g_wake)
        DestroyWindow(g_wake);
    g_wake = nullptr;
}

HIMAGELIST MonitorImageList()
{
    static HIMAGELIST images = ImageList_LoadImageA(g_instance ? g_instance : GetModuleHandleA(nullptr),
        "MONITORIMAGES", 16, 0, RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    return images;
}

HWND ViewWindow(const TableView& view)
{
    auto it = Windows().find(&view);
    return it == Windows().end() ? nullptr : it->second->hwnd;
}

bool ViewsAskAccountingFile(HWND owner, bool save, std::string* path)
{
    std::string filter = Text(ViewStrAccountingFilter);
    for (char& c : filter)
        if (c == '|')
            c = '\0';
    filter.push_back('\0');
    char name[MAX_PATH] = "";
    std::string dir = ViewsLastAccountingPath();
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrInitialDir = dir.c_str();
    ofn.lpstrDefExt = "acc";
    ofn.Flags = OFN_HIDEREADONLY | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn)))
        return false;
    *path = name;
    size_t slash = path->find_last_of("\\/");
    if (slash != std::string::npos)
        ViewsRememberAccountingPath(path->substr(0, slash));
    return true;
}

uint32_t ViewWindowsVisible()
{
    uint32_t n = 0;
    for (const auto& [view, w] : Windows())
        n += IsWindowVisible(w->hwnd) ? 1 : 0;
    return n;
}

void PlaceBesideMainWindow(HWND window, int cascade)
{
    HWND main = FindWindowA(kTravikWindowClass, nullptr);
    RECT w {}, m {}, work = GetMonitorWorkArea(main ? main : window);
    GetWindowRect(window, &w);
    POINT client { 0, 0 };
    if (main) {
        GetWindowRect(main, &m);
        ClientToScreen(main, &client);
    } else {
        m = RECT { work.left, work.top, work.left, work.top };
        client.y = work.top;
    }
    ScreenRect r = PlaceBesideMain(ScreenRect { m.left, m.top, m.right, m.bottom }, client.y, w.right - w.left,
        w.bottom - w.top, ScreenRect { work.left, work.top, work.right, work.bottom }, cascade);
    SetWindowPos(window, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_NOACTIVATE);
}
