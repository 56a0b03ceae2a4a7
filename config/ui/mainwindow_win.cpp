#include "config/ui/mainwindow_win.h"

#include "common/diag.h"
#include "common/ini.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "common/ui/help_win.h"
#include "config/frontend/commands.h"
#include "config/frontend/devicetable.h"
#include "config/frontend/history_view.h"
#include "config/frontend/jobs.h"
#include "config/frontend/mainview.h"
#include "config/startup/startup.h"
#include "config/ui/cfgnew_win.h"
#include "config/ui/cfgsheet_win.h"
#include "config/ui/dialogs_win.h"
#include "config/ui/history_win.h"
#include "config/ui/language_win.h"
#include "config/ui/mainwindow_state_win.h"
#include "config/ui/print_win.h"
#include "config/ui/resource.h"
#include "config/ui/wizard_win.h"
#include "device/console.h"
#include "device/devicelist.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/firmware.h"
#include "device/search.h"

#include <algorithm>
#include <atomic>
#include <commctrl.h>
#include <memory>
#include <mutex>
#include <shellapi.h>
#include <unordered_map>

namespace mainwin {
const char kMainClass[] = "VelquinWindowClass";
constexpr int kWindowExtra = 4 * sizeof(LONG_PTR);
constexpr int kModelessSlot = sizeof(LONG_PTR);
constexpr unsigned kMainPlacementFlags = kPlaceMaximized | kPlaceActivate;
constexpr UINT kRedrawMessage = WM_APP + 1;
constexpr UINT kChangedMessage = WM_APP + 2;
constexpr UINT kLaunchWizardMessage = WM_APP + 3; // after a search: the wizard of a new device
constexpr UINT_PTR kSearchTimer = 1;
// While a job changes entries, the list is saved at the first change and then at most once per period
// (a check-all changes every device: a save per change would write the whole list a thousand times),
// and at once when the job ends.
constexpr UINT_PTR kSaveTimer = 2;
constexpr UINT kSavePeriodMs = 1000;
// The worker's status updates: the first one is shown at once (a message), those that follow within
// the period together at its end (a timer while they keep coming). A check-all of a thousand devices
// wakes the window some fifty times a second instead of two thousand times in all.
constexpr UINT_PTR kRedrawTimer = 3;
constexpr UINT kRedrawPeriodMs = 40;
constexpr int kSplitterWidth = 4;

std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

std::string IniPath()
{
    return Globals().paths.settingsFile;
}

// True while the list paints and `r` lies wholly in what it draws.
bool DrawnWhole(const RECT& r)
{
    if (!g_paintRegion || IsRectEmpty(&r))
        return false;
    if (g_paintSimple)
        return r.left >= g_paintBox.left && r.top >= g_paintBox.top && r.right <= g_paintBox.right
            && r.bottom <= g_paintBox.bottom;
    HRGN rest = CreateRectRgnIndirect(&r);
    bool whole = CombineRgn(rest, rest, g_paintRegion, RGN_DIFF) == NULLREGION;
    DeleteObject(rest);
    return whole;
}

// A cell's rectangle in the details view; column 0's text and its image apart.
RECT CellRect(size_t row, int column)
{
    RECT r {};
    if (column == ColName)
        ListView_GetItemRect(g_list, static_cast<int>(row), &r, LVIR_LABEL);
    else
        ListView_GetSubItemRect(g_list, static_cast<int>(row), column, LVIR_BOUNDS, &r);
    return r;
}

RECT ImageRect(size_t row)
{
    RECT r {};
    ListView_GetItemRect(g_list, static_cast<int>(row), &r, LVIR_ICON);
    return r;
}

// The worker's notices as messages of the window: JobMsgBusy sent at the start and end of a job,
// results and JobMsgEnded posted with their job numbers, and the end of every job posted as
// JobMsgBusy with wParam 2.
class WindowJobs : public JobWindow {
    // The entry's row is painted again at the next redraw; many changes between two redraws make one.
    static void QueueRedraw(const DeviceEntry& entry)
    {
        {
            std::lock_guard<std::mutex> lock(g_redrawMutex);
            if (g_redrawEntries.size() <= kRedrawRowsMax)
                g_redrawEntries.push_back(&entry);
        }
        if (g_main && !g_redrawPosted.exchange(true)) {
            ++g_pending;
            PostMessageA(g_main, kRedrawMessage, 0, 0);
        }
    }

public:
    void OnWorkerStart() override
    {
        // The worker formats dates and numbers and loads texts in the program's language, as the
        // window thread does (Windows NT; the 9x family has no thread locale).
        if ((GetVersion() & 0x80000000u) == 0)
            SetThreadLocale(MAKELCID(Globals().uiLanguage, SORT_DEFAULT));
    }
    void OnBusy(int busy) override
    {
        if (g_main)
            SendMessageA(g_main, JobMsgBusy, static_cast<WPARAM>(busy), 0);
    }
    void Redraw(DeviceEntry& entry) override
    {
        ++g_statusUpdates;
        QueueRedraw(entry);
    }
    void EntryChanged(DeviceEntry& entry) override
    {
        ++g_statusUpdates;
        QueueRedraw(entry);
        // Many changes before the window hears of them make one message (and one save).
        if (g_main && !g_changedPosted.exchange(true)) {
            ++g_pending;
            PostMessageA(g_main, kChangedMessage, 0, 0);
        }
    }
    void JobDone(uint32_t message, int32_t result, DeviceJob* job) override
    {
        (void)result;
        (void)job;
        ++g_pending;
        PostMessageA(g_main, JobMsgBusy, 2, static_cast<LPARAM>(message));
    }
    void Post(const JobNotice& notice) override
    {
        ++g_pending;
        PostMessageA(g_main, notice.message, static_cast<WPARAM>(notice.result), reinterpret_cast<LPARAM>(notice.job));
    }
};
WindowJobs g_jobs;

bool AnyJob();
void UpdateCommands();
void RefreshRows();
void SaveList();

void ConfigureFlow(uint32_t message, int32_t result, DeviceJob& job);

class WindowUi : public CommandUi {
public:
    int Ask(const std::string& text, const char* dontAskKey, bool* dontAskAgain) override
    {
        bool ticked = false;
        bool yes = AskDialog(g_main, text, Text(1950), dontAskKey ? Text(CmdStrDontShowAgain) : std::string(), &ticked);
        if (dontAskAgain)
            *dontAskAgain = ticked;
        return yes ? 1 : 0;
    }
    int AskWithList(
        const std::string& text, const std::string& list, const char* dontAskKey, bool* dontAskAgain) override
    {
        bool ticked = false;
        bool yes = AskWithListDialog(
            g_main, text, list, Text(1950), dontAskKey ? Text(CmdStrDontShowAgain) : std::string(), &ticked);
        if (dontAskAgain)
            *dontAskAgain = ticked;
        return yes ? 1 : 0;
    }
    std::string QuestionList(uint32_t command, const DeviceJob& job) override
    {
        return command == CmdRestoreConfig && job.first ? HistRestoreQuestionList(*job.first) : std::string();
    }
    void Error(const std::string& text) override
    {
        MessageBoxA(g_main, text.c_str(), Text(1951).c_str(), MB_OK | MB_ICONSTOP);
    }
    int Prepare(uint32_t command, DeviceJob& job) override;
    void Finished(uint32_t message, int32_t result, DeviceJob& job) override
    {
        // Configure: the sheet after the read job, then the write and release jobs.
        ConfigureFlow(message, result, job);
        RefreshRows();
        UpdateCommands();
    }
};
WindowUi g_ui;
std::unique_ptr<DeviceCommands> g_commands;

void ConfigureFlow(uint32_t message, int32_t result, DeviceJob& job)
{
    if (g_commands && !WizSetupFlow(g_main, *g_commands, message, result, job)
        && !CfgPrintFlow(g_main, *g_commands, message, result, job))
        CfgConfigureFlow(g_main, *g_commands, message, result, job);
}

std::string EntryTitle(const DeviceEntry& e)
{
    return DeviceShownName(g_devices, e);
}

int WindowUi::Prepare(uint32_t command, DeviceJob& job)
{
    DeviceEntry* first = job.first;
    std::string dropped;
    dropped.swap(g_droppedFile);
    switch (command) {
    case CmdSaveConfig: {
        std::string file
            = FileDialog(g_main, true, StrFormat(Text(CmdStrSaveTitle).c_str(), EntryTitle(*first).c_str()),
                Text(MainStrConfigFilter), "CFGPath", EntryTitle(*first) + ".lcf");
        if (file.empty())
            return 0;
        // The comment travels with the entry: the worker reads it only once the job is posted.
        std::string comment = CfgCommentDefault(EntryTitle(*first));
        if (!CfgCommentDialog(g_main, &comment))
            return 0;
        first->file_name = file;
        first->file_comment = comment;
        return 1;
    }
    case CmdRestoreConfig: {
        std::string file = !dropped.empty()
            ? dropped
            : FileDialog(g_main, false, StrFormat(Text(CmdStrRestoreTitle).c_str(), EntryTitle(*first).c_str()),
                Text(MainStrConfigFilter), "CFGPath");
        if (file.empty())
            return 0;
        first->file_name = file;
        return 1;
    }
    case CmdUploadFirmware:
    case CmdUploadFirmwareMany: {
        std::string file = FirmwareForJob(g_main, job, *this, dropped);
        if (file.empty())
            return 0;
        first->file_name = file;
        return 1;
    }
    case CmdSetTime: {
        std::string time;
        if (!DateTimeDialog(g_main, first->cSysTime.str(), &time))
            return 0;
        first->cSysTime = time;
        return 1;
    }
    default:
        return 1;
    }
}

bool AnyJob()
{
    return g_workerBusy || DeviceWorkerBusy() || g_ownJobQueued || (g_commands && g_commands->Waiting());
}

DeviceFolder* CurrentFolder()
{
    DeviceFolder* f = g_devices.FindFolder(g_devices.current_folder);
    return f ? f : &g_devices.Root();
}

std::vector<DeviceEntry*> Selected()
{
    std::vector<DeviceEntry*> out;
    int i = -1;
    while ((i = ListView_GetNextItem(g_list, i, LVNI_SELECTED)) >= 0)
        if (i < static_cast<int>(g_rows.size()))
            out.push_back(g_rows[static_cast<size_t>(i)]);
    return out;
}

void SaveList()
{
    PartTimer timer(kTimeSave);
    // A failed save leaves the file as it was; the user is told once until a save succeeds again.
    static bool failureShown = false;
    if (DeviceListSave(g_devices, IniPath())) {
        failureShown = false;
        return;
    }
    Diag("device list: cannot save %s\n", IniPath().c_str());
    if (!failureShown) {
        failureShown = true;
        g_ui.Error(StrFormat(Text(1609).c_str(), IniPath().c_str()));
    }
}

// The changes a job made since the last save, saved now; with none, the period ends.
void SaveChangedList()
{
    if (g_listDirty) {
        g_listDirty = false;
        SaveList();
        return;
    }
    if (g_saveTimer) {
        KillTimer(g_main, kSaveTimer);
        g_saveTimer = false;
    }
}

// Image list index: link type times three plus the state (0 unknown, 1 "Ok", 2 failed).
int ImageOf(const DeviceEntry& e)
{
    int32_t s = e.status.load();
    int state = s == DevStatusOk ? 1 : s > DevStatusOk ? 2 : 0;
    int link = e.link >= LinkIp && e.link <= LinkSerial ? e.link : 0;
    return link * 3 + state;
}

HIMAGELIST MakeImages(int size)
{
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 9, 0);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    const COLORREF body[3] = { RGB(70, 110, 170), RGB(40, 140, 130), RGB(150, 100, 60) };
    const COLORREF led[3] = { RGB(160, 160, 160), RGB(40, 200, 40), RGB(220, 40, 40) };
    for (int link = 0; link < 3; ++link) {
        for (int state = 0; state < 3; ++state) {
            HBITMAP bmp = CreateCompatibleBitmap(screen, size, size);
            HGDIOBJ old = SelectObject(dc, bmp);
            RECT all { 0, 0, size, size };
            HBRUSH mask = CreateSolidBrush(RGB(255, 0, 255));
            FillRect(dc, &all, mask);
            DeleteObject(mask);
            // A router's case with its front light, the cable kind as a mark below.
            RECT box { size / 8, size / 3, size - size / 8, size - size / 4 };
            HBRUSH b = CreateSolidBrush(body[link]);
            FillRect(dc, &box, b);
            DeleteObject(b);
            FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            int d = std::max(2, size / 6);
            RECT light { box.right - 2 * d, box.top + d / 2 + 1, box.right - d, box.top + d / 2 + 1 + d };
            HBRUSH l = CreateSolidBrush(led[state]);
            FillRect(dc, &light, l);
            DeleteObject(l);
            RECT cable { size / 2 - 1, box.bottom, size / 2 + 1, size - 1 };
            if (link == LinkSerial)
                cable.left -= size / 8;
            FillRect(dc, &cable, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
            // The state as a badge over the lower right corner, large enough to tell at a glance in
            // the small icons too: a green disc with a tick for "Ok", a red disc with a cross for a
            // failure; no badge while the state is not known yet.
            if (state != 0) {
                int badgeSize = std::max(7, size / 2);
                RECT badge { size - badgeSize, size - badgeSize, size, size };
                HBRUSH fill = CreateSolidBrush(led[state]);
                HPEN rim = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
                HGDIOBJ oldBrush = SelectObject(dc, fill), oldPen = SelectObject(dc, rim);
                Ellipse(dc, badge.left, badge.top, badge.right, badge.bottom);
                int w = std::max(1, badgeSize / 6);
                HPEN mark = CreatePen(PS_SOLID, w, RGB(255, 255, 255));
                SelectObject(dc, mark);
                int m = badgeSize / 4;
                if (state == 2) {
                    MoveToEx(dc, badge.left + m, badge.top + m, nullptr);
                    LineTo(dc, badge.right - m, badge.bottom - m);
                    MoveToEx(dc, badge.right - m - 1, badge.top + m, nullptr);
                    LineTo(dc, badge.left + m - 1, badge.bottom - m);
                } else {
                    MoveToEx(dc, badge.left + m, badge.top + badgeSize / 2, nullptr);
                    LineTo(dc, badge.left + badgeSize / 2 - 1, badge.bottom - m);
                    LineTo(dc, badge.right - m, badge.top + m);
                }
                SelectObject(dc, oldBrush);
                SelectObject(dc, oldPen);
                DeleteObject(fill);
                DeleteObject(rim);
                DeleteObject(mark);
            }
            SelectObject(dc, old);
            ImageList_AddMasked(list, bmp, RGB(255, 0, 255));
            DeleteObject(bmp);
        }
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return list;
}

void UpdateStatusBar()
{
    if (!g_status)
        return;
    size_t selected = static_cast<size_t>(ListView_GetSelectedCount(g_list));
    std::string text = MainStatusText(g_rows.size(), selected, g_search ? &g_search->request : nullptr);
    std::string busy = AnyJob() ? Text(MainStrBusy) : std::string();
    // Set only when changed: each setting paints the bar again, and status updates come by the thousand.
    static std::string shownText, shownBusy;
    static HWND shownOn = nullptr;
    if (shownOn != g_status || text != shownText)
        SendMessageA(g_status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (shownOn != g_status || busy != shownBusy)
        SendMessageA(g_status, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(busy.c_str()));
    shownOn = g_status;
    shownText = text;
    shownBusy = busy;
}

// Adds to `region` what changed of a row in the details view: only the cells that differ from the
// screen. In the other views the item is painted again at once.
void RedrawRow(size_t row, HRGN* region)
{
    if (g_view.view_style != kViewDetails || row >= g_shown.size()) {
        ListView_RedrawItems(g_list, static_cast<int>(row), static_cast<int>(row));
        return;
    }
    const DeviceEntry& e = *g_rows[row];
    uint32_t changed = g_shown[row].Changed(e, ImageOf(e));
    auto add = [region](const RECT& r) {
        ++g_cellsRedrawn;
        if (IsRectEmpty(&r))
            return;
        HRGN part = CreateRectRgnIndirect(&r);
        if (!*region) {
            *region = part;
            return;
        }
        CombineRgn(*region, *region, part, RGN_OR);
        DeleteObject(part);
    };
    if (changed & DeviceRowShown::kImage)
        add(ImageRect(row));
    for (int c = 0; c < kDeviceColumnCount; ++c)
        if (changed & (1u << c))
            add(CellRect(row, c));
}

// Paints again what the worker changed of the rows of its entries, at one go (each invalidation is a
// round trip to the window system's server). Rows out of sight are left to the paint that scrolls
// them in; many changes at once look at every row in sight.
// Returns false when the worker changed nothing since the last call: its next change posts a message
// again.
bool RedrawChangedRows()
{
    std::vector<const DeviceEntry*> changed;
    {
        std::lock_guard<std::mutex> lock(g_redrawMutex);
        changed.swap(g_redrawEntries);
        if (changed.empty()) {
            g_redrawPosted = false;
            return false;
        }
    }
    bool details = g_view.view_style == kViewDetails;
    if (changed.size() > kRedrawRowsMax && !details) {
        InvalidateRect(g_list, nullptr, FALSE);
        return true;
    }
    size_t first = 0, last = g_rows.size();
    if (details) {
        first = static_cast<size_t>(std::max(0, ListView_GetTopIndex(g_list)));
        last = std::min(g_rows.size(), first + static_cast<size_t>(std::max(0, ListView_GetCountPerPage(g_list))) + 1);
    }
    HRGN region = nullptr;
    if (changed.size() > kRedrawRowsMax) {
        for (size_t row = first; row < last; ++row)
            RedrawRow(row, &region);
    } else {
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        for (const DeviceEntry* e : changed) {
            auto it = g_rowOf.find(e);
            if (it != g_rowOf.end() && it->second >= first && it->second < last)
                RedrawRow(it->second, &region);
        }
    }
    if (region) {
        InvalidateRgn(g_list, region, FALSE);
        DeleteObject(region);
    }
    return true;
}

// The details columns as wide as their header and the widest of their texts (the first rows of a
// long list only), while the user has not sized them himself.
void FitColumns()
{
    if (!g_fitColumns || !g_list)
        return;
    constexpr size_t kMeasuredRows = 500;
    constexpr int kPadding = 16; // the list's margins on both sides of a text
    for (int c = 0; c < kDeviceColumnCount; ++c) {
        std::string header = Text(MainStrColumn0 + static_cast<unsigned>(c));
        int width = ListView_GetStringWidth(g_list, header.c_str()) + kPadding;
        for (size_t r = 0; r < g_rows.size() && r < kMeasuredRows; ++r) {
            std::string text = DeviceCellText(*g_rows[r], c);
            int w = ListView_GetStringWidth(g_list, text.c_str()) + kPadding;
            if (c == ColName)
                w += GetSystemMetrics(SM_CXSMICON) + 4;
            width = std::max(width, w);
        }
        width = std::min(width, 400);
        if (ListView_GetColumnWidth(g_list, c) != width)
            ListView_SetColumnWidth(g_list, c, width);
        g_view.columns[static_cast<size_t>(c)] = width;
    }
}

void RefreshRows()
{
    DeviceFolder* folder = CurrentFolder();
    std::vector<DeviceEntry*> selected = Selected();
    g_rows.clear();
    for (auto& e : folder->entries)
        g_rows.push_back(e.get());
    if (g_sortColumn >= 0)
        SortDeviceRows(g_rows, g_sortColumn, g_sortDescending);
    g_rowOf.clear();
    for (size_t i = 0; i < g_rows.size(); ++i)
        g_rowOf[g_rows[i]] = i;
    g_shown.assign(g_rows.size(), DeviceRowShown {});
    ListView_SetItemCountEx(g_list, static_cast<int>(g_rows.size()), LVSICF_NOSCROLL);
    ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
    for (size_t i = 0; i < g_rows.size(); ++i)
        if (std::find(selected.begin(), selected.end(), g_rows[i]) != selected.end())
            ListView_SetItemState(g_list, static_cast<int>(i), LVIS_SELECTED, LVIS_SELECTED);
    FitColumns();
    InvalidateRect(g_list, nullptr, FALSE);
    UpdateStatusBar();
}

// The tree: root "Devices" and every folder, the item data the folder.
void AddFolderItems(HTREEITEM parent, DeviceFolder& folder, HTREEITEM* select)
{
    TVINSERTSTRUCTA ins {};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    std::string text = folder.parent ? folder.name : Text(MainStrDevices);
    ins.item.pszText = text.data();
    ins.item.lParam = reinterpret_cast<LPARAM>(&folder);
    HTREEITEM item
        = reinterpret_cast<HTREEITEM>(SendMessageA(g_tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    if (&folder == CurrentFolder())
        *select = item;
    for (auto& sub : folder.folders)
        AddFolderItems(item, *sub, select);
    std::string path = DeviceList::FolderPath(folder);
    bool expanded = !folder.parent
        || std::any_of(g_view.expanded.begin(), g_view.expanded.end(),
            [&](const std::string& p) { return StrEqualNoCase(p, path); });
    if (expanded)
        TreeView_Expand(g_tree, item, TVE_EXPAND);
}

void RememberExpanded(HTREEITEM item, std::vector<std::string>* out)
{
    for (; item; item = TreeView_GetNextSibling(g_tree, item)) {
        TVITEMA tv {};
        tv.mask = TVIF_PARAM | TVIF_STATE;
        tv.hItem = item;
        tv.stateMask = TVIS_EXPANDED;
        SendMessageA(g_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        auto* folder = reinterpret_cast<DeviceFolder*>(tv.lParam);
        if ((tv.state & TVIS_EXPANDED) && folder && folder->parent)
            out->push_back(DeviceList::FolderPath(*folder));
        RememberExpanded(TreeView_GetChild(g_tree, item), out);
    }
}

void FillTree()
{
    if (TreeView_GetRoot(g_tree)) {
        std::vector<std::string> expanded;
        RememberExpanded(TreeView_GetRoot(g_tree), &expanded);
        g_view.expanded = expanded;
    }
    g_fillingTree = true;
    TreeView_DeleteAllItems(g_tree);
    HTREEITEM select = nullptr;
    AddFolderItems(TVI_ROOT, g_devices.Root(), &select);
    if (select)
        TreeView_SelectItem(g_tree, select);
    g_fillingTree = false;
}

HTREEITEM FindTreeItem(HTREEITEM item, const DeviceFolder* folder)
{
    for (; item; item = TreeView_GetNextSibling(g_tree, item)) {
        TVITEMA tv {};
        tv.mask = TVIF_PARAM;
        tv.hItem = item;
        SendMessageA(g_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        if (reinterpret_cast<DeviceFolder*>(tv.lParam) == folder)
            return item;
        if (HTREEITEM found = FindTreeItem(TreeView_GetChild(g_tree, item), folder))
            return found;
    }
    return nullptr;
}

void SelectFolder(DeviceFolder* folder)
{
    g_devices.current_folder = DeviceList::FolderPath(*folder);
    HTREEITEM item = FindTreeItem(TreeView_GetRoot(g_tree), folder);
    if (item && TreeView_GetSelection(g_tree) != item)
        TreeView_SelectItem(g_tree, item);
    ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
    RefreshRows();
}

void ApplyViewStyle()
{
    static const DWORD styles[4] = { LVS_ICON, LVS_REPORT, LVS_SMALLICON, LVS_LIST };
    DWORD style = static_cast<DWORD>(GetWindowLongA(g_list, GWL_STYLE));
    style = (style & ~static_cast<DWORD>(LVS_TYPEMASK | LVS_AUTOARRANGE)) | styles[g_view.view_style];
    if (g_view.auto_arrange)
        style |= LVS_AUTOARRANGE;
    SetWindowLongA(g_list, GWL_STYLE, static_cast<LONG>(style));
    if (g_view.auto_arrange && (g_view.view_style == kViewIcons || g_view.view_style == kViewSmallIcons))
        ListView_Arrange(g_list, LVA_DEFAULT);
    InvalidateRect(g_list, nullptr, TRUE);
}

void Layout()
{
    RECT r;
    GetClientRect(g_main, &r);
    int top = 0, bottom = r.bottom;
    if (g_toolbar) {
        ShowWindow(g_toolbar, g_view.show_tool_bar ? SW_SHOW : SW_HIDE);
        if (g_view.show_tool_bar) {
            SendMessageA(g_toolbar, TB_AUTOSIZE, 0, 0);
            RECT t;
            GetWindowRect(g_toolbar, &t);
            top = t.bottom - t.top;
        }
    }
    if (g_status) {
        ShowWindow(g_status, g_view.show_status_bar ? SW_SHOW : SW_HIDE);
        if (g_view.show_status_bar) {
            SendMessageA(g_status, WM_SIZE, 0, 0);
            RECT s;
            GetWindowRect(g_status, &s);
            bottom -= s.bottom - s.top;
            int parts[2] = { std::max(100, static_cast<int>(r.right) - 120), -1 };
            SendMessageA(g_status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
        }
    }
    if (g_splitX < 0 && r.right > 0)
        g_splitX = std::clamp(static_cast<int>(r.right) / 4, 120, 260);
    g_splitX = std::clamp(g_splitX, 60, std::max(60, static_cast<int>(r.right) - 80));
    MoveWindow(g_tree, 0, top, g_splitX, bottom - top, TRUE);
    MoveWindow(g_list, g_splitX + kSplitterWidth, top, r.right - g_splitX - kSplitterWidth, bottom - top, TRUE);
}

struct ToolButton {
    int bitmap; // index in the standard (0..) or view (100..) bitmaps
    int command;
};
const ToolButton kToolButtons[] = {
    { STD_FILENEW, CmdNewDevice },
    { STD_FIND, CmdFind },
    { -1, 0 },
    { STD_PROPERTIES, CmdProperties },
    { STD_DELETE, CmdDelete },
    { -1, 0 },
    { STD_REDOW, CmdCheck },
    { STD_REPLACE, CmdCheckAll },
    { -1, 0 },
    { 100 + VIEW_LARGEICONS, IDM_VIEW_ICONS },
    { 100 + VIEW_SMALLICONS, IDM_VIEW_SMALLICONS },
    { 100 + VIEW_LIST, IDM_VIEW_LIST },
    { 100 + VIEW_DETAILS, IDM_VIEW_DETAILS },
    { -1, 0 },
    { STD_HELP, IDM_HELP_CONTENTS },
};

void CreateToolBar()
{
    g_toolbar
        = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP,
            0, 0, 0, 0, g_main, reinterpret_cast<HMENU>(IDC_MAIN_TOOLBAR), g_instance, nullptr);
    SendMessageA(g_toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    TBADDBITMAP std { HINST_COMMCTRL, IDB_STD_SMALL_COLOR };
    int stdBase = static_cast<int>(SendMessageA(g_toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&std)));
    TBADDBITMAP view { HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR };
    int viewBase = static_cast<int>(SendMessageA(g_toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&view)));
    std::vector<TBBUTTON> buttons;
    for (const ToolButton& b : kToolButtons) {
        TBBUTTON t {};
        if (b.bitmap < 0) {
            t.fsStyle = BTNS_SEP;
        } else {
            t.iBitmap = b.bitmap >= 100 ? viewBase + b.bitmap - 100 : stdBase + b.bitmap;
            t.idCommand = b.command;
            t.fsState = TBSTATE_ENABLED;
            t.fsStyle = BTNS_BUTTON;
        }
        buttons.push_back(t);
    }
    SendMessageA(g_toolbar, TB_ADDBUTTONS, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
}

void CreateChildren()
{
    CreateToolBar();
    g_status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, g_main,
        reinterpret_cast<HMENU>(IDC_MAIN_STATUS), g_instance, nullptr);
    g_tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_EDITLABELS
            | TVS_SHOWSELALWAYS,
        0, 0, 0, 0, g_main, reinterpret_cast<HMENU>(IDC_MAIN_TREE), g_instance, nullptr);
    g_list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_EDITLABELS | LVS_SHOWSELALWAYS
            | LVS_SHAREIMAGELISTS,
        0, 0, 0, 0, g_main, reinterpret_cast<HMENU>(IDC_MAIN_LIST), g_instance, nullptr);
    ListView_SetExtendedListViewStyle(g_list, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    g_largeImages = MakeImages(32);
    g_smallImages = MakeImages(16);
    ListView_SetImageList(g_list, g_largeImages, LVSIL_NORMAL);
    ListView_SetImageList(g_list, g_smallImages, LVSIL_SMALL);
    for (int c = 0; c < kDeviceColumnCount; ++c) {
        std::string header = Text(MainStrColumn0 + static_cast<unsigned>(c));
        LVCOLUMNA col {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = header.data();
        col.cx = g_view.columns[static_cast<size_t>(c)];
        col.iSubItem = c;
        SendMessageA(g_list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
    }
    DragAcceptFiles(g_list, TRUE);
    SetWindowSubclass(g_list, ListTimingProc, 1, 0);
    ApplyViewStyle();
    FillTree();
    Layout();
    RefreshRows();
}

// Menu items and tool bar buttons: what applies to the selection, nothing while a job runs.
struct CommandState {
    UINT id;
    bool enabled;
    bool checked;
};

std::vector<CommandState> CommandStates()
{
    std::vector<DeviceEntry*> sel = Selected();
    size_t n = sel.size();
    bool busy = AnyJob() || g_closing;
    bool ipAll = n > 0 && std::all_of(sel.begin(), sel.end(), [](DeviceEntry* e) { return e->link == LinkIp; });
    bool ipAny = std::any_of(sel.begin(), sel.end(), [](DeviceEntry* e) { return e->link == LinkIp; });
    bool folderNotRoot = CurrentFolder()->parent != nullptr;
    bool images = n == 1 && sel[0]->fw_status.image_count > 0;
    return {
        { CmdConfigure, !busy && n >= 1, false },
        { CmdSetupWizard, !busy && n == 1, false },
        { CmdPrint, !busy && n >= 1, false },
        { CmdSaveConfig, !busy && n == 1, false },
        { CmdRestoreConfig, !busy && n == 1, false },
        { CmdUploadFirmware, !busy && n >= 1, false },
        { IDM_FIRMWARE_MANAGEMENT, !busy && n == 1 && (images || sel[0]->status.load() != DevStatusOk), false },
        { IDM_DEVICE_HISTORY, !busy && n == 1, false },
        { CmdSetTime, !busy && n >= 1, false },
        { CmdDelete, !busy && n >= 1, false },
        { IDM_EDIT_RENAME, !busy && n == 1, false },
        { CmdProperties, !busy && n == 1, false },
        { IDM_EDIT_NEWFOLDER, true, false },
        { IDM_FOLDER_RENAME, folderNotRoot, false },
        { IDM_FOLDER_DELETE, !busy && folderNotRoot, false },
        { CmdNewDevice, !busy, false },
        { CmdFind, !busy, false },
        { CmdCheck, !busy && n >= 1, false },
        { CmdCheckAll, !busy && g_devices.Count() > 0, false },
        { IDM_DEVICE_CANCEL, busy && !g_closing, false },
        { IDM_DEVICE_HANGUP, !busy && DialupIsConnected(), false },
        { CmdMonitor, ipAny, false },
        { CmdBrowser, n == 1 && ipAll, false },
        { CmdTelnet, n == 1 && ipAll, false },
        { IDM_VIEW_TOOLBAR, true, g_view.show_tool_bar != 0 },
        { IDM_VIEW_STATUSBAR, true, g_view.show_status_bar != 0 },
        { IDM_VIEW_ICONS, true, g_view.view_style == kViewIcons },
        { IDM_VIEW_SMALLICONS, true, g_view.view_style == kViewSmallIcons },
        { IDM_VIEW_LIST, true, g_view.view_style == kViewList },
        { IDM_VIEW_DETAILS, true, g_view.view_style == kViewDetails },
        { IDM_VIEW_AUTOARRANGE, g_view.view_style == kViewIcons || g_view.view_style == kViewSmallIcons,
            g_view.auto_arrange != 0 },
    };
}

void ApplyStates(HMENU menu)
{
    for (const CommandState& s : CommandStates()) {
        EnableMenuItem(menu, s.id, MF_BYCOMMAND | (s.enabled ? MF_ENABLED : MF_GRAYED));
        CheckMenuItem(menu, s.id, MF_BYCOMMAND | (s.checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

void UpdateCommands()
{
    if (!g_toolbar)
        return;
    for (const CommandState& s : CommandStates()) {
        SendMessageA(g_toolbar, TB_ENABLEBUTTON, s.id, MAKELPARAM(s.enabled ? TRUE : FALSE, 0));
        SendMessageA(g_toolbar, TB_CHECKBUTTON, s.id, MAKELPARAM(s.checked ? TRUE : FALSE, 0));
    }
    UpdateStatusBar();
}

bool CommandEnabled(UINT id)
{
    for (const CommandState& s : CommandStates())
        if (s.id == id)
            return s.enabled;
    return true;
}

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        // The cancel is asked for once; the button stays grey while it is under way.
        CancelDeviceJob();
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        return TRUE;
    }
    return FALSE;
}

void ShowProgress(uint32_t message)
{
    g_progressMessage = message;
    if (!g_progress) {
        g_progress = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_PROGRESS), g_main, ProgressProc, 0);
        SetWindowLongPtrA(g_main, kModelessSlot, reinterpret_cast<LONG_PTR>(g_progress));
    }
    EnableWindow(GetDlgItem(g_progress, IDCANCEL), TRUE);
    SetWindowTextA(g_progress, Text(1612).c_str());
    CenterWindow(g_progress, g_main);
    ShowWindow(g_progress, SW_SHOWNOACTIVATE);
}

void HideProgress()
{
    if (g_progress) {
        SetWindowLongPtrA(g_main, kModelessSlot, 0);
        DestroyWindow(g_progress);
        g_progress = nullptr;
    }
    g_progressMessage = 0;
}

void UpdateProgress()
{
    if (!g_progress)
        return;
    std::string text;
    int percent = -1;
    if (g_search) {
        text = MainStatusText(0, 0, &g_search->request);
    } else if (g_commands) {
        for (DeviceEntry* e = g_commands->Job().first; e; e = e->next) {
            int32_t s = e->status.load();
            if (s >= DevStatusChecking && s < DevStatusOk) {
                text = EntryTitle(*e) + ": " + DeviceCellText(*e, ColStatus);
                percent = DeviceProgressPercent(*e);
                if (e->cancel.load())
                    EnableWindow(GetDlgItem(g_progress, IDCANCEL), FALSE);
                break;
            }
        }
    }
    // Set only when changed (each setting paints the window again).
    char shown[512] = {};
    GetDlgItemTextA(g_progress, IDC_PROGRESS_TEXT, shown, sizeof shown);
    if (text != shown)
        SetDlgItemTextA(g_progress, IDC_PROGRESS_TEXT, text.c_str());
    HWND bar = GetDlgItem(g_progress, IDC_PROGRESS_BAR);
    int position = percent < 0 ? 0 : percent;
    if (SendMessageA(bar, PBM_GETPOS, 0, 0) != position)
        SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void StartShell(const std::string& program, const std::string& arguments)
{
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(
        g_main, "open", program.c_str(), arguments.empty() ? nullptr : arguments.c_str(), nullptr, SW_SHOWNORMAL));
    if (result <= 32)
        g_ui.Error(Text(CmdStrCantExecute));
}

void PostOwnSearch(std::unique_ptr<JobSearchRecord> record, uint32_t message, bool user)
{
    g_search = std::move(record);
    g_userSearch = user;
    IniFile ini(IniPath());
    ini.Load();
    g_serial = std::make_unique<ConsoleSerialSearch>(ConsoleEnumeratePorts(&ini));
    g_search->env.serial = g_serial.get();
    g_search->env.network = Globals().networkStarted;
    // Devices that listen on another port than the standard one (a laboratory, the simulator).
    int32_t port = ini.GetInt("Options", "SearchPort", kTftpPort);
    g_search->env.port = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kTftpPort;
    g_ownJob = message == JobStartupCheck ? DeviceJobBuild(g_devices.All()) : DeviceJob {};
    g_ownJobQueued = true;
    if (!PostDeviceSearch(message, &g_ownJob, g_search->request.what ? g_search.get() : nullptr)) {
        g_ownJobQueued = false;
        g_search.reset();
        return;
    }
    if (!g_search->request.what)
        g_search.reset();
    if (user)
        ShowProgress(message);
    SetTimer(g_main, kSearchTimer, 250, nullptr);
    UpdateCommands();
}

void MergeSearch()
{
    if (!g_search)
        return;
    std::unique_ptr<JobSearchRecord> record = std::move(g_search);
    // Devices found on another port take their commands there too.
    if (record->env.port != kTftpPort)
        for (DeviceEntry& e : record->results)
            if (e.link == LinkIp)
                e.port = record->env.port;
    SearchMergeResult merged
        = DeviceSearchMerge(g_devices, record->results, g_userSearch ? CurrentFolder() : &g_devices.Root());
    SaveList();
    FillTree();
    RefreshRows();
    if (merged.conflicts > 0) {
        ConflictDialog(g_main, SearchConflictMessage(), SearchConflictDetails(record->results, merged.conflicts));
    } else if (merged.first_unconfigured && record->settings.launch_wizard && !merged.first_unconfigured->wizard_done) {
        // The set-up wizard for the first new device that is not configured yet, once the search job
        // has ended.
        g_launchWizard = merged.first_unconfigured;
        ++g_pending;
        PostMessageA(g_main, kLaunchWizardMessage, 0, 0);
    } else if (g_userSearch && merged.new_devices == 0) {
        MessageBoxA(g_main, Text(2303).c_str(), Text(1612).c_str(), MB_OK | MB_ICONINFORMATION);
    }
}

void IssueCommand(uint32_t command, std::vector<DeviceEntry*> entries)
{
    if (entries.empty())
        return;
    if (command == CmdUploadFirmware && entries.size() > 1)
        command = CmdUploadFirmwareMany;
    for (DeviceEntry* e : entries)
        e->cancel = 0;
    if (g_commands->Issue(command, entries)) {
        if (command != CmdCheck && command != CmdCheckAll && command != CmdNewDevice && command != CmdProperties)
            ShowProgress(command);
    } else {
        g_droppedFile.clear();
    }
    UpdateCommands();
}

void NewDevice()
{
    auto entry = std::make_unique<DeviceEntry>();
    if (!DeviceDialog(g_main, *entry, true))
        return;
    entry->address_list[0] = entry->address;
    DeviceEntry* added = g_devices.Add(std::move(entry), CurrentFolder());
    SaveList();
    RefreshRows();
    auto it = std::find(g_rows.begin(), g_rows.end(), added);
    if (it != g_rows.end()) {
        int row = static_cast<int>(it - g_rows.begin());
        ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(g_list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(g_list, row, FALSE);
    }
    IssueCommand(CmdNewDevice, { added });
}

void Properties()
{
    std::vector<DeviceEntry*> sel = Selected();
    if (sel.size() != 1)
        return;
    DeviceEntry copy = *sel[0];
    if (!DeviceDialog(g_main, copy, false))
        return;
    DeviceEntry& e = *sel[0];
    bool linkChanged = e.link != copy.link || e.address != copy.address || e.port != copy.port
        || !(e.line_name == copy.line_name) || !(e.phone_number == copy.phone_number);
    e.link = copy.link;
    e.address = copy.address;
    e.port = copy.port;
    if (linkChanged)
        e.address_list[0] = copy.address, e.address_list[1] = 0;
    e.timeout_s = copy.timeout_s;
    e.line_name = copy.line_name;
    e.ras_entry = copy.ras_entry;
    e.phone_number = copy.phone_number;
    e.name = copy.name;
    e.description = copy.description;
    e.password = copy.password;
    e.password_unsaved = copy.password_unsaved;
    SaveList();
    RefreshRows();
    IssueCommand(CmdProperties, { &e });
}

void DeleteDevices()
{
    std::vector<DeviceEntry*> sel = Selected();
    if (sel.empty())
        return;
    std::string text = sel.size() == 1 ? StrFormat(Text(CmdStrDeleteOne).c_str(), EntryTitle(*sel[0]).c_str())
                                       : StrFormat(Text(CmdStrDeleteMany).c_str(), static_cast<int>(sel.size()));
    if (!g_commands->Confirm(text, "DontAskForDeviceDelete"))
        return;
    ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
    for (DeviceEntry* e : sel) {
        // A dial-up connection of the entry ends with it.
        if (e->link == LinkDialUp && e->ras_connection)
            DialupHangUp(e);
        g_devices.Remove(e);
    }
    SaveList();
    RefreshRows();
}

void MoveSelectionTo(DeviceFolder* folder)
{
    std::vector<DeviceEntry*> sel = Selected();
    if (sel.empty() || !folder || folder == CurrentFolder())
        return;
    ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
    for (DeviceEntry* e : sel)
        DeviceMove(g_devices, e, *folder);
    SaveList();
    RefreshRows();
}

void NewFolder()
{
    DeviceFolder* parent = CurrentFolder();
    DeviceFolder* folder = FolderCreate(*parent, FolderNewName(*parent, Text(MainStrNewFolder)));
    if (!folder)
        return;
    std::string parentPath = DeviceList::FolderPath(*parent);
    if (!parentPath.empty() && std::none_of(g_view.expanded.begin(), g_view.expanded.end(), [&](const std::string& p) {
            return StrEqualNoCase(p, parentPath);
        }))
        g_view.expanded.push_back(parentPath);
    SaveList(); // kept also when the user leaves the name as offered
    FillTree();
    HTREEITEM item = FindTreeItem(TreeView_GetRoot(g_tree), folder);
    SetFocus(g_tree);
    if (item) {
        TreeView_EnsureVisible(g_tree, item);
        TreeView_EditLabel(g_tree, item);
    }
}

void DeleteFolder()
{
    DeviceFolder* folder = CurrentFolder();
    if (!folder->parent)
        return;
    DeviceFolder* parent = folder->parent;
    FolderDelete(g_devices, *folder);
    g_devices.current_folder = DeviceList::FolderPath(*parent);
    SaveList();
    FillTree();
    RefreshRows();
}

void ShowHelp()
{
    std::string shown;
    if (!OpenHelpTopics(g_main, Globals().paths.helpFile, Globals().paths.guideFile, &shown))
        g_ui.Error(StrFormat(Text(MainStrNoHelp).c_str(), shown.c_str()));
}

void FirmwareManagement()
{
    std::vector<DeviceEntry*> sel = Selected();
    if (sel.size() != 1)
        return;
    if (sel[0]->fw_status.image_count == 0) {
        g_ui.Error(Text(MainStrNoImages));
        return;
    }
    uint32_t command = FirmwareDialog(g_main, *sel[0]);
    if (command)
        IssueCommand(command, sel);
}

void SaveViewSettings()
{
    for (int c = 0; c < kDeviceColumnCount && g_view.view_style == kViewDetails; ++c)
        g_view.columns[static_cast<size_t>(c)] = ListView_GetColumnWidth(g_list, c);
    std::vector<std::string> expanded;
    RememberExpanded(TreeView_GetRoot(g_tree), &expanded);
    g_view.expanded = expanded;
    IniTransaction t(IniPath());
    MainViewStore(g_view, t.File());
    // Widths that follow the contents are not the user's: they are fitted again at the next start.
    if (g_fitColumns)
        t.File().SetString("Window", "ListColumns", "");
    t.Commit();
}

void OnCommand(UINT id)
{
    if (!CommandEnabled(id))
        return;
    switch (id) {
    case IDM_FILE_EXIT:
        PostMessageA(g_main, WM_CLOSE, 0, 0);
        return;
    case IDM_HELP_CONTENTS:
        ShowHelp();
        return;
    case CmdNewDevice:
        NewDevice();
        return;
    case CmdProperties:
        Properties();
        return;
    case CmdDelete:
        if (GetFocus() == g_tree)
            OnCommand(IDM_FOLDER_DELETE);
        else
            DeleteDevices();
        return;
    case CmdFind: {
        auto record = std::make_unique<JobSearchRecord>();
        IniFile ini(IniPath());
        ini.Load();
        record->settings = SearchReadSettings(ini);
        if (SearchDialog(g_main, *record) && record->request.what)
            PostOwnSearch(std::move(record), JobSearch, true);
        return;
    }
    case IDM_FILE_OPENCONFIG:
        CfgOpenConfigurationCommand(g_main);
        return;
    case IDM_FILE_NEWCONFIG:
        CfgNewConfigurationFile(g_main, std::string());
        return;
    case CmdConfigure:
    case CmdSetupWizard:
    case CmdPrint:
    case CmdCheck:
    case CmdSaveConfig:
    case CmdRestoreConfig:
    case CmdUploadFirmware:
    case CmdSetTime:
        IssueCommand(id, Selected());
        return;
    case CmdCheckAll:
        IssueCommand(id, g_devices.All());
        return;
    case CmdMonitor: {
        ShellCommand c = MonitorCommand(Selected());
        StartShell(c.program, c.arguments);
        return;
    }
    case CmdBrowser:
    case CmdTelnet: {
        std::vector<DeviceEntry*> sel = Selected();
        ShellCommand c = id == CmdBrowser ? BrowserCommand(*sel[0]) : TelnetCommand(*sel[0], IniPath());
        StartShell(c.program, c.arguments);
        return;
    }
    case IDM_FIRMWARE_MANAGEMENT:
        FirmwareManagement();
        return;
    case IDM_DEVICE_HISTORY: {
        // Restore there goes the usual way: the version as the file, the question with its changes.
        std::vector<DeviceEntry*> sel = Selected();
        g_droppedFile = HistoryDialog(g_main, *sel[0], EntryTitle(*sel[0]));
        if (!g_droppedFile.empty())
            IssueCommand(CmdRestoreConfig, sel);
        return;
    }
    case IDM_FILE_EXPORT:
        ExportDeviceListCommand(g_main, DeviceListRows(g_devices));
        return;
    case IDM_EDIT_RENAME: {
        int row = ListView_GetNextItem(g_list, -1, LVNI_FOCUSED | LVNI_SELECTED);
        if (row < 0)
            row = ListView_GetNextItem(g_list, -1, LVNI_SELECTED);
        if (GetFocus() == g_tree)
            TreeView_EditLabel(g_tree, TreeView_GetSelection(g_tree));
        else if (row >= 0) {
            SetFocus(g_list);
            ListView_EditLabel(g_list, row);
        }
        return;
    }
    case IDM_EDIT_NEWFOLDER:
        NewFolder();
        return;
    case IDM_FOLDER_RENAME:
        SetFocus(g_tree);
        TreeView_EditLabel(g_tree, TreeView_GetSelection(g_tree));
        return;
    case IDM_FOLDER_DELETE:
        DeleteFolder();
        return;
    case IDM_DEVICE_CANCEL:
        CancelDeviceJob();
        if (g_progress)
            EnableWindow(GetDlgItem(g_progress, IDCANCEL), FALSE);
        return;
    case IDM_DEVICE_HANGUP:
        DialupHangUp(nullptr);
        UpdateCommands();
        return;
    case IDM_VIEW_TOOLBAR:
        g_view.show_tool_bar = !g_view.show_tool_bar;
        Layout();
        break;
    case IDM_VIEW_STATUSBAR:
        g_view.show_status_bar = !g_view.show_status_bar;
        Layout();
        break;
    case IDM_VIEW_ICONS:
    case IDM_VIEW_SMALLICONS:
    case IDM_VIEW_LIST:
    case IDM_VIEW_DETAILS:
        if (g_view.view_style == kViewDetails)
            for (int c = 0; c < kDeviceColumnCount; ++c)
                g_view.columns[static_cast<size_t>(c)] = ListView_GetColumnWidth(g_list, c);
        g_view.view_style = id == IDM_VIEW_ICONS ? kViewIcons
            : id == IDM_VIEW_SMALLICONS          ? kViewSmallIcons
            : id == IDM_VIEW_LIST                ? kViewList
                                                 : kViewDetails;
        ApplyViewStyle();
        break;
    case IDM_VIEW_AUTOARRANGE:
        g_view.auto_arrange = !g_view.auto_arrange;
        ApplyViewStyle();
        break;
    case IDM_TOOLS_OPTIONS:
        OptionsDialog(g_main);
        return;
    default:
        if (id >= CmdActivateTestImage && id <= CmdActivateLast)
            IssueCommand(id, Selected());
        return;
    }
    UpdateCommands();
}

void OnJobResult(UINT message, WPARAM wParam, LPARAM lParam)
{
    --g_pending;
    JobNotice notice { message, static_cast<int32_t>(wParam), reinterpret_cast<DeviceJob*>(lParam) };
    if (message == JobMsgEnded) {
        g_workerBusy = false;
        // The worker has gone: join its thread, which must not outlive the program.
        StopDeviceWorker(nullptr);
        if (g_closing)
            DestroyWindow(g_main);
        return;
    }
    if (message == JobMsgBusy) {
        // The end of a job (after its result, if any).
        uint32_t job = static_cast<uint32_t>(lParam);
        if (g_ownJobQueued && (job == JobStartupCheck || job == JobSearch) && !(g_commands && g_commands->Waiting())) {
            g_ownJobQueued = false;
            KillTimer(g_main, kSearchTimer);
            MergeSearch();
            g_search.reset();
        }
        // As the command layer hears it: the number of the job that ended.
        if (g_commands)
            g_commands->OnJobNotice(JobNotice { JobMsgBusy, static_cast<int32_t>(job), nullptr });
        if (g_listDirty)
            SaveChangedList();
        if (!AnyJob())
            HideProgress();
        RefreshRows();
        UpdateCommands();
        return;
    }
    if (message == JobStartupCheck || (message == JobSearch && g_ownJobQueued)) {
        // The search's results are merged at the job's end (above).
        return;
    }
    if (g_commands)
        g_commands->OnJobNotice(notice);
    RefreshRows();
    UpdateCommands();
}

void OnDropFiles(HDROP drop)
{
    POINT pt {};
    DragQueryPoint(drop, &pt);
    char file[MAX_PATH] = {};
    DragQueryFileA(drop, 0, file, sizeof file);
    DragFinish(drop);
    LVHITTESTINFO hit {};
    hit.pt = pt;
    int row = ListView_HitTest(g_list, &hit);
    if (row < 0 || row >= static_cast<int>(g_rows.size()) || AnyJob())
        return;
    std::string head;
    HANDLE f = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        head.resize(4096);
        DWORD got = 0;
        if (!ReadFile(f, head.data(), static_cast<DWORD>(head.size()), &got, nullptr))
            got = 0;
        head.resize(got);
        CloseHandle(f);
    }
    uint32_t command = DroppedFileCommand(file, head);
    if (!command) {
        g_ui.Error(StrFormat(Text(MainStrDropUnknown).c_str(), file));
        return;
    }
    DeviceEntry* entry = g_rows[static_cast<size_t>(row)];
    ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(g_list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    g_droppedFile = file;
    IssueCommand(command, { entry });
}

// The status cell with its bar while a transfer of known size runs.
LRESULT CustomDraw(NMLVCUSTOMDRAW* cd)
{
    switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return g_view.view_style == kViewDetails ? CDRF_NOTIFYITEMDRAW : CDRF_DODEFAULT;
    case CDDS_ITEMPREPAINT: {
        // Only a row with a bar hears of its cells (a notification per cell costs every paint).
        size_t row = cd->nmcd.dwItemSpec;
        return row < g_rows.size() && DeviceStatusBarPercent(*g_rows[row]) >= 0 ? CDRF_NOTIFYSUBITEMDRAW
                                                                                : CDRF_DODEFAULT;
    }
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        size_t row = cd->nmcd.dwItemSpec;
        if (cd->iSubItem != ColStatus || row >= g_rows.size() || g_view.view_style != kViewDetails)
            return CDRF_DODEFAULT;
        const DeviceEntry& e = *g_rows[row];
        int percent = DeviceStatusBarPercent(e);
        if (percent < 0)
            return CDRF_DODEFAULT;
        RECT r {};
        ListView_GetSubItemRect(g_list, static_cast<int>(row), ColStatus, LVIR_BOUNDS, &r);
        std::string text = DeviceCellText(e, ColStatus);
        if (row < g_shown.size() && DrawnWhole(r))
            g_shown[row].Drawn(ColStatus, text, percent);
        InflateRect(&r, -2, -2);
        FillRect(cd->nmcd.hdc, &r, GetSysColorBrush(COLOR_WINDOW));
        RECT bar = r;
        bar.right = r.left + (r.right - r.left) * percent / 100;
        FillRect(cd->nmcd.hdc, &bar, GetSysColorBrush(COLOR_HIGHLIGHT));
        FrameRect(cd->nmcd.hdc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
        SetBkMode(cd->nmcd.hdc, TRANSPARENT);
        SetTextColor(cd->nmcd.hdc, GetSysColor(COLOR_WINDOWTEXT));
        DrawTextA(cd->nmcd.hdc, text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
        return CDRF_SKIPDEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void ContextMenu(int which, POINT screen)
{
    HMENU menu = LoadLanguageMenu(IDM_CONTEXT);
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, which);
    ApplyStates(popup);
    UINT id = TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, g_main, nullptr);
    DestroyMenu(menu);
    if (id)
        OnCommand(id);
}

LRESULT OnNotify(NMHDR* hdr)
{
    // A column the user sizes keeps its width from then on (and is stored).
    if (g_list && hdr->hwndFrom == ListView_GetHeader(g_list)
        && (hdr->code == HDN_ENDTRACKA || hdr->code == HDN_ENDTRACKW || hdr->code == HDN_DIVIDERDBLCLICKA
            || hdr->code == HDN_DIVIDERDBLCLICKW))
        g_fitColumns = false;
    if (hdr->hwndFrom == g_list) {
        switch (hdr->code) {
        case LVN_GETDISPINFOA: {
            ++g_dispInfos;
            auto* info = reinterpret_cast<NMLVDISPINFOA*>(hdr);
            size_t row = static_cast<size_t>(info->item.iItem);
            if (row >= g_rows.size())
                return 0;
            // While the details view paints: what it draws of the row, for the next status update (not
            // again from within: a rectangle the list measures may ask for the text).
            static bool recording = false;
            bool record = !recording && g_paintRegion && g_view.view_style == kViewDetails && row < g_shown.size();
            recording = record;
            int column = info->item.iSubItem;
            if (info->item.mask & LVIF_TEXT) {
                std::string text = DeviceCellText(*g_rows[row], column);
                lstrcpynA(info->item.pszText, text.c_str(), info->item.cchTextMax);
                // A text cut to the buffer is not what the cell shows: left unrecorded.
                if (record && text.size() < static_cast<size_t>(std::max(0, info->item.cchTextMax))
                    && DrawnWhole(CellRect(row, column)))
                    g_shown[row].Drawn(column, text);
            }
            if (info->item.mask & LVIF_IMAGE) {
                info->item.iImage = ImageOf(*g_rows[row]);
                if (record && column == ColName && DrawnWhole(ImageRect(row)))
                    g_shown[row].DrawnImage(info->item.iImage);
            }
            if (record)
                recording = false;
            return 0;
        }
        case LVN_ITEMCHANGED:
        case LVN_ODSTATECHANGED:
            UpdateCommands();
            return 0;
        case LVN_COLUMNCLICK: {
            int column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem;
            g_sortDescending = g_sortColumn == column ? !g_sortDescending : false;
            g_sortColumn = column;
            RefreshRows();
            return 0;
        }
        case LVN_BEGINLABELEDITA:
            if (AnyJob())
                return TRUE;
            // The field takes no more than a device name holds: a longer name would be cut when kept.
            if (HWND edit = ListView_GetEditControl(g_list))
                SendMessageA(edit, EM_LIMITTEXT, decltype(DeviceEntry::name)::kMax, 0);
            return FALSE;
        case LVN_ENDLABELEDITA: {
            auto* info = reinterpret_cast<NMLVDISPINFOA*>(hdr);
            size_t row = static_cast<size_t>(info->item.iItem);
            if (!info->item.pszText || row >= g_rows.size() || Trim(info->item.pszText).empty())
                return FALSE;
            g_rows[row]->name = std::string(Trim(info->item.pszText));
            SaveList();
            RefreshRows();
            return FALSE; // the virtual list shows the name from the entry
        }
        case LVN_BEGINDRAG:
            g_dragging = true;
            SetCapture(g_main);
            return 0;
        case NM_DBLCLK:
            if (ListView_GetSelectedCount(g_list) == 1)
                OnCommand(CmdProperties);
            return 0;
        case NM_RCLICK: {
            POINT pt;
            GetCursorPos(&pt);
            ContextMenu(ListView_GetSelectedCount(g_list) > 0 ? 0 : 1, pt);
            return 0;
        }
        case NM_CUSTOMDRAW:
            ++g_customDraws;
            return CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(hdr));
        }
        return 0;
    }
    if (hdr->hwndFrom == g_tree) {
        switch (hdr->code) {
        case TVN_SELCHANGEDA: {
            if (g_fillingTree)
                return 0;
            auto* tv = reinterpret_cast<NMTREEVIEWA*>(hdr);
            auto* folder = reinterpret_cast<DeviceFolder*>(tv->itemNew.lParam);
            if (folder) {
                g_devices.current_folder = DeviceList::FolderPath(*folder);
                ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
                RefreshRows();
                UpdateCommands();
            }
            return 0;
        }
        case TVN_BEGINLABELEDITA: {
            auto* info = reinterpret_cast<NMTVDISPINFOA*>(hdr);
            return reinterpret_cast<DeviceFolder*>(info->item.lParam)->parent ? FALSE : TRUE;
        }
        case TVN_ENDLABELEDITA: {
            auto* info = reinterpret_cast<NMTVDISPINFOA*>(hdr);
            auto* folder = reinterpret_cast<DeviceFolder*>(info->item.lParam);
            if (!info->item.pszText || !folder)
                return FALSE;
            bool current = folder == CurrentFolder();
            if (!FolderRename(*folder, info->item.pszText)) {
                g_ui.Error(Text(MainStrFolderExists));
                return FALSE;
            }
            if (current)
                g_devices.current_folder = DeviceList::FolderPath(*folder);
            SaveList();
            return TRUE;
        }
        case NM_RCLICK: {
            POINT pt;
            GetCursorPos(&pt);
            TVHITTESTINFO hit {};
            hit.pt = pt;
            ScreenToClient(g_tree, &hit.pt);
            if (HTREEITEM item = TreeView_HitTest(g_tree, &hit))
                TreeView_SelectItem(g_tree, item);
            ContextMenu(2, pt);
            return 0;
        }
        }
        return 0;
    }
    if (hdr->code == TTN_GETDISPINFOA) {
        // Tool tips: the menu item's text without its mnemonic and shortcut.
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(hdr);
        char text[128] = {};
        GetMenuStringA(GetMenu(g_main), static_cast<UINT>(hdr->idFrom), text, sizeof text, MF_BYCOMMAND);
        static std::string tip;
        tip = TestCtlMenuText(text);
        info->lpszText = tip.data();
        return 0;
    }
    return 0;
}

DeviceFolder* TreeFolderAt(POINT screen)
{
    TVHITTESTINFO hit {};
    hit.pt = screen;
    ScreenToClient(g_tree, &hit.pt);
    HTREEITEM item = TreeView_HitTest(g_tree, &hit);
    if (!item || !(hit.flags & TVHT_ONITEM))
        return nullptr;
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    SendMessageA(g_tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    TreeView_SelectDropTarget(g_tree, item);
    return reinterpret_cast<DeviceFolder*>(tv.lParam);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= JobMsgBusy && message <= JobSetTime && message != JobMsgStart) {
        if (message == JobMsgBusy && wParam != 2) {
            g_workerBusy = wParam != 0;
            UpdateCommands();
            return 0;
        }
        OnJobResult(message, wParam, lParam);
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        g_main = window;
        CreateChildren();
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_HELP_ABOUT) {
            ShowQorvexalAbout(window);
            return 0;
        }
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_INITMENUPOPUP:
        ApplyStates(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_DROPFILES:
        OnDropFiles(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kSearchTimer) {
            UpdateStatusBar();
            UpdateProgress();
        } else if (wParam == kSaveTimer) {
            SaveChangedList();
        } else if (wParam == kRedrawTimer) {
            PartTimer timer(kTimeRedraw);
            if (RedrawChangedRows()) {
                UpdateProgress();
            } else {
                KillTimer(window, kRedrawTimer);
                g_redrawTimer = false;
            }
        }
        return 0;
    case kRedrawMessage: {
        PartTimer timer(kTimeRedraw);
        --g_pending;
        if (RedrawChangedRows() && !g_redrawTimer) {
            // The updates that follow wait for the timer (g_redrawPosted stays set meanwhile).
            g_redrawTimer = SetTimer(window, kRedrawTimer, kRedrawPeriodMs, nullptr) != 0;
            if (!g_redrawTimer)
                g_redrawPosted = false;
        }
        UpdateProgress(); // the status bar shows nothing of a device's status: left as it is
        return 0;
    }
    case kLaunchWizardMessage: {
        --g_pending;
        DeviceEntry* e = std::exchange(g_launchWizard, nullptr);
        std::vector<DeviceEntry*> all = g_devices.All();
        if (!e || std::find(all.begin(), all.end(), e) == all.end() || AnyJob())
            return 0;
        auto it = std::find(g_rows.begin(), g_rows.end(), e);
        if (it != g_rows.end()) {
            int row = static_cast<int>(it - g_rows.begin());
            ListView_SetItemState(g_list, -1, 0, LVIS_SELECTED);
            ListView_SetItemState(g_list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            ListView_EnsureVisible(g_list, row, FALSE);
        }
        IssueCommand(CmdSetupWizard, { e });
        return 0;
    }
    case kChangedMessage: {
        --g_pending;
        g_changedPosted = false;
        if (g_saveTimer) {
            g_listDirty = true;
        } else {
            SaveList();
            g_saveTimer = SetTimer(window, kSaveTimer, kSavePeriodMs, nullptr) != 0;
        }
        return 0;
    }
    case WM_LBUTTONDOWN: {
        int x = static_cast<short>(LOWORD(lParam));
        if (x >= g_splitX && x < g_splitX + kSplitterWidth) {
            g_splitting = true;
            SetCapture(window);
        }
        return 0;
    }
    case WM_MOUSEMOVE:
        if (g_splitting) {
            g_splitX = static_cast<short>(LOWORD(lParam));
            Layout();
        } else if (g_dragging) {
            POINT pt { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
            ClientToScreen(window, &pt);
            SetCursor(LoadCursorA(nullptr, TreeFolderAt(pt) ? IDC_ARROW : IDC_NO));
        }
        return 0;
    case WM_SETCURSOR: {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(window, &pt);
        if (reinterpret_cast<HWND>(wParam) == window && pt.x >= g_splitX && pt.x < g_splitX + kSplitterWidth) {
            SetCursor(LoadCursorA(nullptr, IDC_SIZEWE));
            return TRUE;
        }
        break;
    }
    case WM_LBUTTONUP:
        if (g_splitting) {
            g_splitting = false;
            ReleaseCapture();
        } else if (g_dragging) {
            g_dragging = false;
            ReleaseCapture();
            POINT pt { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
            ClientToScreen(window, &pt);
            DeviceFolder* folder = TreeFolderAt(pt);
            TreeView_SelectDropTarget(g_tree, nullptr);
            MoveSelectionTo(folder);
        }
        return 0;
    case WM_CLOSE:
        if (g_closing)
            return 0;
        if (!g_commands->Confirm(Text(MainStrAskExit), "DontAskForExit"))
            return 0;
        g_closing = true;
        UpdateCommands();
        // The worker ends with the window: a running job is cancelled, the window closes on 1026.
        if (DeviceWorkerBusy())
            CancelDeviceJob();
        if (g_search)
            g_search->request.cancel = 1;
        if (StopDeviceWorker(&g_jobs))
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, kSearchTimer);
        KillTimer(window, kSaveTimer);
        HideProgress();
        SaveViewSettings();
        SaveList();
        SaveWindowPlacement(window, IniPath().c_str(), "Window", nullptr, kMainPlacementFlags);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace mainwin

using namespace mainwin;

void MainWindowStartWorker()
{
    JobOptions options;
    options.easy_config = IniGetInt(IniPath(), "Options", "EasyConfig", 1);
    options.language = Globals().dscLanguage;
    options.no_crypt = Globals().noCrypt;
    options.history = HistSettingsFrom(IniPath());
    StartDeviceWorker(g_jobs, options);
}

bool MainWindowCreate(HINSTANCE instance, const std::string& title, int showCommand)
{
    g_instance = instance;
    g_commands = std::make_unique<DeviceCommands>(g_ui, IniPath());
    DeviceListLoadFile(g_devices, IniPath(), Globals().paths.deviceListFile);
    {
        IniFile ini(IniPath());
        ini.Load();
        g_view = MainViewRead(ini);
        // Until the user sets the column widths they follow the contents.
        g_fitColumns = ini.GetString("Window", "ListColumns", "").empty();
    }
    WNDCLASSA wc {};
    wc.lpfnWndProc = MainWindowProc;
    wc.cbWndExtra = kWindowExtra;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_QORVEXAL));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainClass;
    if (!RegisterClassA(&wc))
        return false;
    HMENU menu = LoadLanguageMenu(IDM_QORVEXAL);
    HWND w = CreateWindowA(kMainClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menu, instance, nullptr);
    if (!w)
        return false;
    if (!RestoreWindowPlacement(w, IniPath().c_str(), "Window", nullptr, kMainPlacementFlags)) {
        // No stored placement: room for the folder tree and every details column, within the screen.
        RECT work = GetMonitorWorkArea(w);
        int32_t columns = 0;
        for (int c = 0; c < kDeviceColumnCount; ++c)
            columns += ListView_GetColumnWidth(g_list, c);
        int32_t width, height;
        MainWindowFirstSize(work.right - work.left, work.bottom - work.top,
            columns + 200 + 2 * GetSystemMetrics(SM_CXFRAME) + 4 * GetSystemMetrics(SM_CXEDGE)
                + GetSystemMetrics(SM_CXVSCROLL),
            &width, &height);
        SetWindowPos(w, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        CenterWindow(w, nullptr);
        ShowWindow(w, showCommand);
    }
    UpdateWindow(w);
    // The start-up job: the local entries checked, then the start-up search when it is on.
    IniFile ini(IniPath());
    ini.Load();
    auto record = std::make_unique<JobSearchRecord>();
    record->settings = SearchReadSettings(ini);
    record->request.what = record->settings.at_startup ? SearchStartup : 0;
    PostOwnSearch(std::move(record), JobStartupCheck, false);
    return true;
}

std::string MainDeviceTitle(const DeviceEntry& entry)
{
    return DeviceShownName(g_devices, entry);
}

HWND MainWindowHandle()
{
    return g_main;
}

bool MainWindowTranslate(MSG* msg)
{
    if (!g_main)
        return false;
    static HACCEL accelerators = LoadAcceleratorsA(g_instance, MAKEINTRESOURCEA(IDA_QORVEXAL));
    if (g_progress && IsDialogMessageA(g_progress, msg))
        return true;
    // The window's keys belong to the window: other windows of the thread (a box the loop also
    // serves) and a label being edited keep theirs (Del, Ins, F2, Esc).
    char cls[32] = {};
    GetClassNameA(GetFocus(), cls, sizeof cls);
    bool editing = StrEqualNoCase(cls, "Edit");
    bool ours = msg->hwnd == g_main || IsChild(g_main, msg->hwnd);
    if (ours && !editing && accelerators && TranslateAcceleratorA(g_main, accelerators, msg))
        return true;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && IsDialogMessageA(g_main, msg))
        return true;
    return false;
}

bool MainWindowIdle()
{
    return !AnyJob() && g_pending.load() == 0 && !g_search && !g_listDirty && !g_redrawTimer;
}
