// The main window's state and the helpers its parts share: the window file, the test channel's
// commands, the status benchmark's timers (mainwindow_*_win.cpp). Internal to qorvexal.exe.
#pragma once

#include "config/frontend/commands.h"
#include "config/frontend/devicetable.h"
#include "config/frontend/jobs.h"
#include "config/frontend/mainview.h"
#include "config/ui/mainwindow_timing_win.h"
#include "device/console.h"
#include "device/devicelist.h"

#include <windows.h>

#include <atomic>
#include <commctrl.h>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shellapi.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace mainwin {
constexpr int kModelessSlot = sizeof(LONG_PTR); // the window's extra slot: the progress window
constexpr UINT kLaunchWizardMessage = WM_APP + 3; // after a search: the wizard of a new device
constexpr UINT_PTR kSearchTimer = 1;

inline constexpr size_t kRedrawRowsMax = 64; // more changed rows than this: the whole list

// The main window's state, one for the program: its windows, the list and the rows shown, the view,
// the worker's notices under way, the window's own jobs and what is saved when.
struct MainWindowState {
    HINSTANCE instance {};
    HWND main {}, tree {}, list {}, toolbar {}, status {}, progress {};
    HIMAGELIST largeImages {}, smallImages {};
    DeviceList devices;
    std::vector<DeviceEntry*> rows; // the current folder's entries as shown
    std::unordered_map<const DeviceEntry*, size_t> rowOf; // an entry's index in rows
    // What each row of the details view shows, as its paints drew it: a status update repaints only the
    // cells that differ. Recorded while the list paints (paintRegion: the part it draws).
    std::vector<DeviceRowShown> shown;
    HRGN paintRegion = nullptr;
    RECT paintBox {};
    bool paintSimple = false; // the region is paintBox
    bool fitColumns = false; // no stored widths: the details columns are sized to their texts
    int sortColumn = -1;
    bool sortDescending = false;
    MainViewSettings view;
    int splitX = -1; // the tree's width; a quarter of the window at first
    bool splitting = false;
    bool dragging = false;
    bool closing = false;
    bool fillingTree = false;
    std::atomic<int> pending { 0 }; // notices posted and not yet handled
    std::atomic<bool> redrawPosted { false }; // a message is on its way or kRedrawTimer runs
    bool redrawTimer = false;
    // The entries the worker changed since the last redraw: only their rows are painted again.
    std::mutex redrawMutex;
    std::vector<const DeviceEntry*> redrawEntries;
    bool workerBusy = false; // between the two JobMsgBusy of a job
    bool ownJobQueued = false; // a job the window posted itself (start-up check, search) is not done yet
    std::unique_ptr<JobSearchRecord> search;
    DeviceEntry* launchWizard = nullptr;
    bool userSearch = false;
    DeviceJob ownJob;
    std::unique_ptr<ConsoleSerialSearch> serial;
    std::string droppedFile;
    uint32_t progressMessage = 0; // the job the progress window shows
    std::atomic<bool> changedPosted { false };
    bool listDirty = false; // changed by a job, not saved yet (kSaveTimer runs)
    bool saveTimer = false;
    std::unique_ptr<DeviceCommands> commands;
};
inline MainWindowState win;

// The window (mainwindow_win.cpp).
std::string Text(unsigned id);
std::string IniPath();
std::string EntryTitle(const DeviceEntry& e);
CommandUi& Ui();
bool AnyJob();
DeviceFolder* CurrentFolder();
std::vector<DeviceEntry*> Selected();
void SaveList();
void RefreshRows();
void UpdateStatusBar();
void UpdateCommands();
void IssueCommand(uint32_t command, std::vector<DeviceEntry*> entries);
void OnCommand(UINT id);
void ContextMenu(int which, POINT screen);

// The device list view (mainwindow_list_win.cpp).
HIMAGELIST MakeImages(int size);
bool RedrawChangedRows();
void FitColumns();
void OnDropFiles(HDROP drop);
LRESULT OnListNotify(NMHDR* hdr);

// The folder tree (mainwindow_tree_win.cpp).
void FillTree();
void RememberExpanded(HTREEITEM item, std::vector<std::string>* out);
HTREEITEM FindTreeItem(HTREEITEM item, const DeviceFolder* folder);
void SelectFolder(DeviceFolder* folder);
void MoveSelectionTo(DeviceFolder* folder);
void NewFolder();
void DeleteFolder();
DeviceFolder* TreeFolderAt(POINT screen);
LRESULT OnTreeNotify(NMHDR* hdr);

// The progress window and the window's own searches (mainwindow_search_win.cpp).
void ShowProgress(uint32_t message);
void HideProgress();
void UpdateProgress();
void PostOwnSearch(std::unique_ptr<JobSearchRecord> record, uint32_t message, bool user);
void FindDevices();
void MergeSearch();
} // namespace mainwin
