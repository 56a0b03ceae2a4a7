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
#include "config/frontend/valuerules.h"
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
constexpr unsigned kMainPlacementFlags = kPlaceMaximized | kPlaceActivate;
constexpr UINT kRedrawMessage = WM_APP + 1;
constexpr UINT kChangedMessage = WM_APP + 2;
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

// The worker's notices as messages of the window: JobMsgBusy sent at the start and end of a job,
// results and JobMsgEnded posted with their job numbers, and the end of every job posted as
// JobMsgBusy with wParam 2.
class WindowJobs : public JobWindow {
    // The entry's row is painted again at the next redraw; many changes between two redraws make one.
    static void QueueRedraw(const DeviceEntry& entry)
    {
        {
            std::lock_guard<std::mutex> lock(win.redrawMutex);
            if (win.redrawEntries.size() <= kRedrawRowsMax)
                win.redrawEntries.push_back(&entry);
        }
        if (win.main && !win.redrawPosted.exchange(true)) {
            ++win.pending;
            PostMessageA(win.main, kRedrawMessage, 0, 0);
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
        if (win.main)
            SendMessageA(win.main, JobMsgBusy, static_cast<WPARAM>(busy), 0);
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
        if (win.main && !win.changedPosted.exchange(true)) {
            ++win.pending;
            PostMessageA(win.main, kChangedMessage, 0, 0);
        }
    }
    void JobDone(uint32_t message, int32_t result, DeviceJob* job) override
    {
        (void)result;
        (void)job;
        ++win.pending;
        PostMessageA(win.main, JobMsgBusy, 2, static_cast<LPARAM>(message));
    }
    void Post(const JobNotice& notice) override
    {
        ++win.pending;
        PostMessageA(
            win.main, notice.message, static_cast<WPARAM>(notice.result), reinterpret_cast<LPARAM>(notice.job));
    }
};
WindowJobs g_jobs;

void ConfigureFlow(uint32_t message, int32_t result, DeviceJob& job);

class WindowUi : public CommandUi {
public:
    int Ask(const std::string& text, const char* dontAskKey, bool* dontAskAgain) override
    {
        bool ticked = false;
        bool yes = AskDialog(
            win.main, text, Text(CfgStrWarning), dontAskKey ? Text(CmdStrDontShowAgain) : std::string(), &ticked);
        if (dontAskAgain)
            *dontAskAgain = ticked;
        return yes ? 1 : 0;
    }
    int AskWithList(
        const std::string& text, const std::string& list, const char* dontAskKey, bool* dontAskAgain) override
    {
        bool ticked = false;
        bool yes = AskWithListDialog(
            win.main, text, list, Text(CfgStrWarning), dontAskKey ? Text(CmdStrDontShowAgain) : std::string(), &ticked);
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
        MessageBoxA(win.main, text.c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
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

CommandUi& Ui()
{
    return g_ui;
}

void ConfigureFlow(uint32_t message, int32_t result, DeviceJob& job)
{
    if (win.commands && !WizSetupFlow(win.main, *win.commands, message, result, job)
        && !CfgPrintFlow(win.main, *win.commands, message, result, job))
        CfgConfigureFlow(win.main, *win.commands, message, result, job);
}

std::string EntryTitle(const DeviceEntry& e)
{
    return DeviceShownName(win.devices, e);
}

int WindowUi::Prepare(uint32_t command, DeviceJob& job)
{
    DeviceEntry* first = job.first;
    std::string dropped;
    dropped.swap(win.droppedFile);
    switch (command) {
    case CmdSaveConfig: {
        std::string file
            = FileDialog(win.main, true, StrFormat(Text(CmdStrSaveTitle).c_str(), EntryTitle(*first).c_str()),
                Text(MainStrConfigFilter), "CFGPath", EntryTitle(*first) + ".lcf");
        if (file.empty())
            return 0;
        // The comment travels with the entry: the worker reads it only once the job is posted.
        std::string comment = CfgCommentDefault(EntryTitle(*first));
        if (!CfgCommentDialog(win.main, &comment))
            return 0;
        first->file_name = file;
        first->file_comment = comment;
        return 1;
    }
    case CmdRestoreConfig: {
        std::string file = !dropped.empty()
            ? dropped
            : FileDialog(win.main, false, StrFormat(Text(CmdStrRestoreTitle).c_str(), EntryTitle(*first).c_str()),
                Text(MainStrConfigFilter), "CFGPath");
        if (file.empty())
            return 0;
        first->file_name = file;
        return 1;
    }
    case CmdUploadFirmware:
    case CmdUploadFirmwareMany: {
        std::string file = FirmwareForJob(win.main, job, *this, dropped);
        if (file.empty())
            return 0;
        first->file_name = file;
        return 1;
    }
    case CmdSetTime: {
        std::string time;
        if (!DateTimeDialog(win.main, first->cSysTime.str(), &time))
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
    return win.workerBusy || DeviceWorkerBusy() || win.ownJobQueued || (win.commands && win.commands->Waiting());
}

DeviceFolder* CurrentFolder()
{
    DeviceFolder* f = win.devices.FindFolder(win.devices.current_folder);
    return f ? f : &win.devices.Root();
}

std::vector<DeviceEntry*> Selected()
{
    std::vector<DeviceEntry*> out;
    int i = -1;
    while ((i = ListView_GetNextItem(win.list, i, LVNI_SELECTED)) >= 0)
        if (i < static_cast<int>(win.rows.size()))
            out.push_back(win.rows[static_cast<size_t>(i)]);
    return out;
}

void SaveList()
{
    PartTimer timer(kTimeSave);
    // A failed save leaves the file as it was; the user is told once until a save succeeds again.
    static bool failureShown = false;
    if (DeviceListSave(win.devices, IniPath())) {
        failureShown = false;
        return;
    }
    Diag("device list: cannot save %s\n", IniPath().c_str());
    if (!failureShown) {
        failureShown = true;
        g_ui.Error(StrFormat(Text(MainStrSaveFailed).c_str(), IniPath().c_str()));
    }
}

// The changes a job made since the last save, saved now; with none, the period ends.
void SaveChangedList()
{
    if (win.listDirty) {
        win.listDirty = false;
        SaveList();
        return;
    }
    if (win.saveTimer) {
        KillTimer(win.main, kSaveTimer);
        win.saveTimer = false;
    }
}

void UpdateStatusBar()
{
    if (!win.status)
        return;
    size_t selected = static_cast<size_t>(ListView_GetSelectedCount(win.list));
    std::string text = MainStatusText(win.rows.size(), selected, win.search ? &win.search->request : nullptr);
    std::string busy = AnyJob() ? Text(MainStrBusy) : std::string();
    // Set only when changed: each setting paints the bar again, and status updates come by the thousand.
    static std::string shownText, shownBusy;
    static HWND shownOn = nullptr;
    if (shownOn != win.status || text != shownText)
        SendMessageA(win.status, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (shownOn != win.status || busy != shownBusy)
        SendMessageA(win.status, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(busy.c_str()));
    shownOn = win.status;
    shownText = text;
    shownBusy = busy;
}

void RefreshRows()
{
    DeviceFolder* folder = CurrentFolder();
    std::vector<DeviceEntry*> selected = Selected();
    win.rows.clear();
    for (auto& e : folder->entries)
        win.rows.push_back(e.get());
    if (win.sortColumn >= 0)
        SortDeviceRows(win.rows, win.sortColumn, win.sortDescending);
    win.rowOf.clear();
    for (size_t i = 0; i < win.rows.size(); ++i)
        win.rowOf[win.rows[i]] = i;
    win.shown.assign(win.rows.size(), DeviceRowShown {});
    ListView_SetItemCountEx(win.list, static_cast<int>(win.rows.size()), LVSICF_NOSCROLL);
    ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
    for (size_t i = 0; i < win.rows.size(); ++i)
        if (std::find(selected.begin(), selected.end(), win.rows[i]) != selected.end())
            ListView_SetItemState(win.list, static_cast<int>(i), LVIS_SELECTED, LVIS_SELECTED);
    FitColumns();
    InvalidateRect(win.list, nullptr, FALSE);
    UpdateStatusBar();
}

void ApplyViewStyle()
{
    static const DWORD styles[4] = { LVS_ICON, LVS_REPORT, LVS_SMALLICON, LVS_LIST };
    DWORD style = static_cast<DWORD>(GetWindowLongA(win.list, GWL_STYLE));
    style = (style & ~static_cast<DWORD>(LVS_TYPEMASK | LVS_AUTOARRANGE)) | styles[win.view.view_style];
    if (win.view.auto_arrange)
        style |= LVS_AUTOARRANGE;
    SetWindowLongA(win.list, GWL_STYLE, static_cast<LONG>(style));
    if (win.view.auto_arrange && (win.view.view_style == kViewIcons || win.view.view_style == kViewSmallIcons))
        ListView_Arrange(win.list, LVA_DEFAULT);
    InvalidateRect(win.list, nullptr, TRUE);
}

void Layout()
{
    RECT r;
    GetClientRect(win.main, &r);
    int top = 0, bottom = r.bottom;
    if (win.toolbar) {
        ShowWindow(win.toolbar, win.view.show_tool_bar ? SW_SHOW : SW_HIDE);
        if (win.view.show_tool_bar) {
            SendMessageA(win.toolbar, TB_AUTOSIZE, 0, 0);
            RECT t;
            GetWindowRect(win.toolbar, &t);
            top = t.bottom - t.top;
        }
    }
    if (win.status) {
        ShowWindow(win.status, win.view.show_status_bar ? SW_SHOW : SW_HIDE);
        if (win.view.show_status_bar) {
            SendMessageA(win.status, WM_SIZE, 0, 0);
            RECT s;
            GetWindowRect(win.status, &s);
            bottom -= s.bottom - s.top;
            int parts[2] = { std::max(100, static_cast<int>(r.right) - 120), -1 };
            SendMessageA(win.status, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
        }
    }
    if (win.splitX < 0 && r.right > 0)
        win.splitX = std::clamp(static_cast<int>(r.right) / 4, 120, 260);
    win.splitX = std::clamp(win.splitX, 60, std::max(60, static_cast<int>(r.right) - 80));
    MoveWindow(win.tree, 0, top, win.splitX, bottom - top, TRUE);
    MoveWindow(win.list, win.splitX + kSplitterWidth, top, r.right - win.splitX - kSplitterWidth, bottom - top, TRUE);
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
    win.toolbar
        = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP,
            0, 0, 0, 0, win.main, reinterpret_cast<HMENU>(IDC_MAIN_TOOLBAR), win.instance, nullptr);
    SendMessageA(win.toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    TBADDBITMAP std { HINST_COMMCTRL, IDB_STD_SMALL_COLOR };
    int stdBase = static_cast<int>(SendMessageA(win.toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&std)));
    TBADDBITMAP view { HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR };
    int viewBase = static_cast<int>(SendMessageA(win.toolbar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&view)));
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
    SendMessageA(win.toolbar, TB_ADDBUTTONS, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
}

void CreateChildren()
{
    CreateToolBar();
    win.status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, win.main,
        reinterpret_cast<HMENU>(IDC_MAIN_STATUS), win.instance, nullptr);
    win.tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_EDITLABELS
            | TVS_SHOWSELALWAYS,
        0, 0, 0, 0, win.main, reinterpret_cast<HMENU>(IDC_MAIN_TREE), win.instance, nullptr);
    win.list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_EDITLABELS | LVS_SHOWSELALWAYS
            | LVS_SHAREIMAGELISTS,
        0, 0, 0, 0, win.main, reinterpret_cast<HMENU>(IDC_MAIN_LIST), win.instance, nullptr);
    ListView_SetExtendedListViewStyle(win.list, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    win.largeImages = MakeImages(32);
    win.smallImages = MakeImages(16);
    ListView_SetImageList(win.list, win.largeImages, LVSIL_NORMAL);
    ListView_SetImageList(win.list, win.smallImages, LVSIL_SMALL);
    for (int c = 0; c < kDeviceColumnCount; ++c) {
        std::string header = Text(MainStrColumn0 + static_cast<unsigned>(c));
        LVCOLUMNA col {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = header.data();
        col.cx = win.view.columns[static_cast<size_t>(c)];
        col.iSubItem = c;
        SendMessageA(win.list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
    }
    DragAcceptFiles(win.list, TRUE);
    SetWindowSubclass(win.list, ListTimingProc, 1, 0);
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
    bool busy = AnyJob() || win.closing;
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
        { CmdCheckAll, !busy && win.devices.Count() > 0, false },
        { IDM_DEVICE_CANCEL, busy && !win.closing, false },
        { IDM_DEVICE_HANGUP, !busy && DialupIsConnected(), false },
        { CmdMonitor, ipAny, false },
        { CmdBrowser, n == 1 && ipAll, false },
        { CmdTelnet, n == 1 && ipAll, false },
        { IDM_VIEW_TOOLBAR, true, win.view.show_tool_bar != 0 },
        { IDM_VIEW_STATUSBAR, true, win.view.show_status_bar != 0 },
        { IDM_VIEW_ICONS, true, win.view.view_style == kViewIcons },
        { IDM_VIEW_SMALLICONS, true, win.view.view_style == kViewSmallIcons },
        { IDM_VIEW_LIST, true, win.view.view_style == kViewList },
        { IDM_VIEW_DETAILS, true, win.view.view_style == kViewDetails },
        { IDM_VIEW_AUTOARRANGE, win.view.view_style == kViewIcons || win.view.view_style == kViewSmallIcons,
            win.view.auto_arrange != 0 },
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
    if (!win.toolbar)
        return;
    for (const CommandState& s : CommandStates()) {
        SendMessageA(win.toolbar, TB_ENABLEBUTTON, s.id, MAKELPARAM(s.enabled ? TRUE : FALSE, 0));
        SendMessageA(win.toolbar, TB_CHECKBUTTON, s.id, MAKELPARAM(s.checked ? TRUE : FALSE, 0));
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

void StartShell(const std::string& program, const std::string& arguments)
{
    auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(
        win.main, "open", program.c_str(), arguments.empty() ? nullptr : arguments.c_str(), nullptr, SW_SHOWNORMAL));
    if (result <= 32)
        g_ui.Error(Text(CmdStrCantExecute));
}

void IssueCommand(uint32_t command, std::vector<DeviceEntry*> entries)
{
    if (entries.empty())
        return;
    if (command == CmdUploadFirmware && entries.size() > 1)
        command = CmdUploadFirmwareMany;
    for (DeviceEntry* e : entries)
        e->cancel = 0;
    if (win.commands->Issue(command, entries)) {
        if (command != CmdCheck && command != CmdCheckAll && command != CmdNewDevice && command != CmdProperties)
            ShowProgress(command);
    } else {
        win.droppedFile.clear();
    }
    UpdateCommands();
}

void NewDevice()
{
    auto entry = std::make_unique<DeviceEntry>();
    if (!DeviceDialog(win.main, *entry, true))
        return;
    entry->address_list[0] = entry->address;
    DeviceEntry* added = win.devices.Add(std::move(entry), CurrentFolder());
    SaveList();
    RefreshRows();
    auto it = std::find(win.rows.begin(), win.rows.end(), added);
    if (it != win.rows.end()) {
        int row = static_cast<int>(it - win.rows.begin());
        ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(win.list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(win.list, row, FALSE);
    }
    IssueCommand(CmdNewDevice, { added });
}

void Properties()
{
    std::vector<DeviceEntry*> sel = Selected();
    if (sel.size() != 1)
        return;
    DeviceEntry copy = *sel[0];
    if (!DeviceDialog(win.main, copy, false))
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
    if (!win.commands->Confirm(text, "DontAskForDeviceDelete"))
        return;
    ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
    for (DeviceEntry* e : sel) {
        // A dial-up connection of the entry ends with it.
        if (e->link == LinkDialUp && e->ras_connection)
            DialupHangUp(e);
        win.devices.Remove(e);
    }
    SaveList();
    RefreshRows();
}

void ShowHelp()
{
    std::string shown;
    if (!OpenHelpTopics(win.main, Globals().paths.helpFile, Globals().paths.guideFile, &shown))
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
    uint32_t command = FirmwareDialog(win.main, *sel[0]);
    if (command)
        IssueCommand(command, sel);
}

void SaveViewSettings()
{
    for (int c = 0; c < kDeviceColumnCount && win.view.view_style == kViewDetails; ++c)
        win.view.columns[static_cast<size_t>(c)] = ListView_GetColumnWidth(win.list, c);
    std::vector<std::string> expanded;
    RememberExpanded(TreeView_GetRoot(win.tree), &expanded);
    win.view.expanded = expanded;
    IniTransaction t(IniPath());
    MainViewStore(win.view, t.File());
    // Widths that follow the contents are not the user's: they are fitted again at the next start.
    if (win.fitColumns)
        t.File().SetString("Window", "ListColumns", "");
    t.Commit();
}

// The configuration history of the selected device. A restore there goes the usual way: the version as
// the file, the question with its changes.
void ShowHistory()
{
    std::vector<DeviceEntry*> sel = Selected();
    win.droppedFile = HistoryDialog(win.main, *sel[0], EntryTitle(*sel[0]));
    if (!win.droppedFile.empty())
        IssueCommand(CmdRestoreConfig, sel);
}

// F2: the folder's name when the tree has the focus, else the focused (or first selected) device's.
void RenameSelected()
{
    int row = ListView_GetNextItem(win.list, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (row < 0)
        row = ListView_GetNextItem(win.list, -1, LVNI_SELECTED);
    if (GetFocus() == win.tree)
        TreeView_EditLabel(win.tree, TreeView_GetSelection(win.tree));
    else if (row >= 0) {
        SetFocus(win.list);
        ListView_EditLabel(win.list, row);
    }
}

// The View menu: bars shown or hidden, the list's style and arrangement (the details columns' widths
// kept when leaving the details).
void OnViewCommand(UINT id)
{
    switch (id) {
    case IDM_VIEW_TOOLBAR:
        win.view.show_tool_bar = !win.view.show_tool_bar;
        Layout();
        break;
    case IDM_VIEW_STATUSBAR:
        win.view.show_status_bar = !win.view.show_status_bar;
        Layout();
        break;
    case IDM_VIEW_AUTOARRANGE:
        win.view.auto_arrange = !win.view.auto_arrange;
        ApplyViewStyle();
        break;
    default:
        if (win.view.view_style == kViewDetails)
            for (int c = 0; c < kDeviceColumnCount; ++c)
                win.view.columns[static_cast<size_t>(c)] = ListView_GetColumnWidth(win.list, c);
        win.view.view_style = id == IDM_VIEW_ICONS ? kViewIcons
            : id == IDM_VIEW_SMALLICONS            ? kViewSmallIcons
            : id == IDM_VIEW_LIST                  ? kViewList
                                                   : kViewDetails;
        ApplyViewStyle();
        break;
    }
}

void OnCommand(UINT id)
{
    if (!CommandEnabled(id))
        return;
    switch (id) {
    case IDM_FILE_EXIT:
        PostMessageA(win.main, WM_CLOSE, 0, 0);
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
        if (GetFocus() == win.tree)
            OnCommand(IDM_FOLDER_DELETE);
        else
            DeleteDevices();
        return;
    case CmdFind:
        FindDevices();
        return;
    case IDM_FILE_OPENCONFIG:
        CfgOpenConfigurationCommand(win.main);
        return;
    case IDM_FILE_NEWCONFIG:
        CfgNewConfigurationFile(win.main, std::string());
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
        IssueCommand(id, win.devices.All());
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
    case IDM_DEVICE_HISTORY:
        ShowHistory();
        return;
    case IDM_FILE_EXPORT:
        ExportDeviceListCommand(win.main, DeviceListRows(win.devices));
        return;
    case IDM_EDIT_RENAME:
        RenameSelected();
        return;
    case IDM_EDIT_NEWFOLDER:
        NewFolder();
        return;
    case IDM_FOLDER_RENAME:
        SetFocus(win.tree);
        TreeView_EditLabel(win.tree, TreeView_GetSelection(win.tree));
        return;
    case IDM_FOLDER_DELETE:
        DeleteFolder();
        return;
    case IDM_DEVICE_CANCEL:
        CancelDeviceJob();
        if (win.progress)
            EnableWindow(GetDlgItem(win.progress, IDCANCEL), FALSE);
        return;
    case IDM_DEVICE_HANGUP:
        DialupHangUp(nullptr);
        UpdateCommands();
        return;
    case IDM_VIEW_TOOLBAR:
    case IDM_VIEW_STATUSBAR:
    case IDM_VIEW_ICONS:
    case IDM_VIEW_SMALLICONS:
    case IDM_VIEW_LIST:
    case IDM_VIEW_DETAILS:
    case IDM_VIEW_AUTOARRANGE:
        OnViewCommand(id);
        break;
    case IDM_TOOLS_OPTIONS:
        OptionsDialog(win.main);
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
    --win.pending;
    JobNotice notice { message, static_cast<int32_t>(wParam), reinterpret_cast<DeviceJob*>(lParam) };
    if (message == JobMsgEnded) {
        win.workerBusy = false;
        // The worker has gone: join its thread, which must not outlive the program.
        StopDeviceWorker(nullptr);
        if (win.closing)
            DestroyWindow(win.main);
        return;
    }
    if (message == JobMsgBusy) {
        // The end of a job (after its result, if any).
        uint32_t job = static_cast<uint32_t>(lParam);
        if (win.ownJobQueued && (job == JobStartupCheck || job == JobSearch)
            && !(win.commands && win.commands->Waiting())) {
            win.ownJobQueued = false;
            KillTimer(win.main, kSearchTimer);
            MergeSearch();
            win.search.reset();
        }
        // As the command layer hears it: the number of the job that ended.
        if (win.commands)
            win.commands->OnJobNotice(JobNotice { JobMsgBusy, static_cast<int32_t>(job), nullptr });
        if (win.listDirty)
            SaveChangedList();
        if (!AnyJob())
            HideProgress();
        RefreshRows();
        UpdateCommands();
        return;
    }
    if (message == JobStartupCheck || (message == JobSearch && win.ownJobQueued)) {
        // The search's results are merged at the job's end (above).
        return;
    }
    if (win.commands)
        win.commands->OnJobNotice(notice);
    RefreshRows();
    UpdateCommands();
}

void ContextMenu(int which, POINT screen)
{
    HMENU menu = LoadLanguageMenu(IDM_CONTEXT);
    if (!menu)
        return;
    HMENU popup = GetSubMenu(menu, which);
    ApplyStates(popup);
    UINT id = TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, win.main, nullptr);
    DestroyMenu(menu);
    if (id)
        OnCommand(id);
}

LRESULT OnNotify(NMHDR* hdr)
{
    // A column the user sizes keeps its width from then on (and is stored).
    if (win.list && hdr->hwndFrom == ListView_GetHeader(win.list)
        && (hdr->code == HDN_ENDTRACKA || hdr->code == HDN_ENDTRACKW || hdr->code == HDN_DIVIDERDBLCLICKA
            || hdr->code == HDN_DIVIDERDBLCLICKW))
        win.fitColumns = false;
    if (hdr->hwndFrom == win.list)
        return OnListNotify(hdr);
    if (hdr->hwndFrom == win.tree)
        return OnTreeNotify(hdr);
    if (hdr->code == TTN_GETDISPINFOA) {
        // Tool tips: the menu item's text without its mnemonic and shortcut.
        auto* info = reinterpret_cast<NMTTDISPINFOA*>(hdr);
        char text[128] = {};
        GetMenuStringA(GetMenu(win.main), static_cast<UINT>(hdr->idFrom), text, sizeof text, MF_BYCOMMAND);
        static std::string tip;
        tip = TestCtlMenuText(text);
        info->lpszText = tip.data();
        return 0;
    }
    return 0;
}

// The search's progress, the list's delayed save and the changed rows' repaint.
void OnTimer(HWND window, WPARAM id)
{
    if (id == kSearchTimer) {
        UpdateStatusBar();
        UpdateProgress();
    } else if (id == kSaveTimer) {
        SaveChangedList();
    } else if (id == kRedrawTimer) {
        PartTimer timer(kTimeRedraw);
        if (RedrawChangedRows()) {
            UpdateProgress();
        } else {
            KillTimer(window, kRedrawTimer);
            win.redrawTimer = false;
        }
    }
}

// Rows changed by the worker: repainted now, the updates that follow by the timer.
void OnRedrawMessage(HWND window)
{
    PartTimer timer(kTimeRedraw);
    --win.pending;
    if (RedrawChangedRows() && !win.redrawTimer) {
        // The updates that follow wait for the timer (win.redrawPosted stays set meanwhile).
        win.redrawTimer = SetTimer(window, kRedrawTimer, kRedrawPeriodMs, nullptr) != 0;
        if (!win.redrawTimer)
            win.redrawPosted = false;
    }
    UpdateProgress(); // the status bar shows nothing of a device's status: left as it is
}

// The set-up wizard asked for a device: its row selected and the wizard started, unless the device is
// gone meanwhile or a job runs.
void LaunchPendingWizard()
{
    --win.pending;
    DeviceEntry* e = std::exchange(win.launchWizard, nullptr);
    std::vector<DeviceEntry*> all = win.devices.All();
    if (!e || std::find(all.begin(), all.end(), e) == all.end() || AnyJob())
        return;
    auto it = std::find(win.rows.begin(), win.rows.end(), e);
    if (it != win.rows.end()) {
        int row = static_cast<int>(it - win.rows.begin());
        ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
        ListView_SetItemState(win.list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(win.list, row, FALSE);
    }
    IssueCommand(CmdSetupWizard, { e });
}

// The device list changed: saved now, or with the next save when one waits.
void OnListChanged(HWND window)
{
    --win.pending;
    win.changedPosted = false;
    if (win.saveTimer) {
        win.listDirty = true;
    } else {
        SaveList();
        win.saveTimer = SetTimer(window, kSaveTimer, kSavePeriodMs, nullptr) != 0;
    }
}

// Closing asks first; the worker ends with the window (a running job is cancelled, the window closes
// on 1026).
void OnClose(HWND window)
{
    if (win.closing)
        return;
    if (!win.commands->Confirm(Text(MainStrAskExit), "DontAskForExit"))
        return;
    win.closing = true;
    UpdateCommands();
    if (DeviceWorkerBusy())
        CancelDeviceJob();
    if (win.search)
        win.search->request.cancel = 1;
    if (StopDeviceWorker(&g_jobs))
        DestroyWindow(window);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= JobMsgBusy && message <= JobSetTime && message != JobMsgStart) {
        if (message == JobMsgBusy && wParam != 2) {
            win.workerBusy = wParam != 0;
            UpdateCommands();
            return 0;
        }
        OnJobResult(message, wParam, lParam);
        return 0;
    }
    switch (message) {
    case WM_CREATE:
        win.main = window;
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
        OnTimer(window, wParam);
        return 0;
    case kRedrawMessage:
        OnRedrawMessage(window);
        return 0;
    case kLaunchWizardMessage:
        LaunchPendingWizard();
        return 0;
    case kChangedMessage:
        OnListChanged(window);
        return 0;
    case WM_LBUTTONDOWN: {
        int x = static_cast<short>(LOWORD(lParam));
        if (x >= win.splitX && x < win.splitX + kSplitterWidth) {
            win.splitting = true;
            SetCapture(window);
        }
        return 0;
    }
    case WM_MOUSEMOVE:
        if (win.splitting) {
            win.splitX = static_cast<short>(LOWORD(lParam));
            Layout();
        } else if (win.dragging) {
            POINT pt { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
            ClientToScreen(window, &pt);
            SetCursor(LoadCursorA(nullptr, TreeFolderAt(pt) ? IDC_ARROW : IDC_NO));
        }
        return 0;
    case WM_SETCURSOR: {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(window, &pt);
        if (reinterpret_cast<HWND>(wParam) == window && pt.x >= win.splitX && pt.x < win.splitX + kSplitterWidth) {
            SetCursor(LoadCursorA(nullptr, IDC_SIZEWE));
            return TRUE;
        }
        break;
    }
    case WM_LBUTTONUP:
        if (win.splitting) {
            win.splitting = false;
            ReleaseCapture();
        } else if (win.dragging) {
            win.dragging = false;
            ReleaseCapture();
            POINT pt { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
            ClientToScreen(window, &pt);
            DeviceFolder* folder = TreeFolderAt(pt);
            TreeView_SelectDropTarget(win.tree, nullptr);
            MoveSelectionTo(folder);
        }
        return 0;
    case WM_CLOSE:
        OnClose(window);
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
    win.instance = instance;
    win.commands = std::make_unique<DeviceCommands>(g_ui, IniPath());
    DeviceListLoadFile(win.devices, IniPath(), Globals().paths.deviceListFile);
    {
        IniFile ini(IniPath());
        ini.Load();
        win.view = MainViewRead(ini);
        // Until the user sets the column widths they follow the contents.
        win.fitColumns = ini.GetString("Window", "ListColumns", "").empty();
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
            columns += ListView_GetColumnWidth(win.list, c);
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

HWND MainWindowHandle()
{
    return win.main;
}

bool MainWindowTranslate(MSG* msg)
{
    if (!win.main)
        return false;
    static HACCEL accelerators = LoadAcceleratorsA(win.instance, MAKEINTRESOURCEA(IDA_QORVEXAL));
    if (win.progress && IsDialogMessageA(win.progress, msg))
        return true;
    // The window's keys belong to the window: other windows of the thread (a box the loop also
    // serves) and a label being edited keep theirs (Del, Ins, F2, Esc).
    char cls[32] = {};
    GetClassNameA(GetFocus(), cls, sizeof cls);
    bool editing = StrEqualNoCase(cls, "Edit");
    bool ours = msg->hwnd == win.main || IsChild(win.main, msg->hwnd);
    if (ours && !editing && accelerators && TranslateAcceleratorA(win.main, accelerators, msg))
        return true;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && IsDialogMessageA(win.main, msg))
        return true;
    return false;
}

bool MainWindowIdle()
{
    return !AnyJob() && win.pending.load() == 0 && !win.search && !win.listDirty && !win.redrawTimer;
}
