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

inline HINSTANCE g_instance;
inline HWND g_main, g_tree, g_list, g_toolbar, g_status, g_progress;
inline HIMAGELIST g_largeImages, g_smallImages;
inline DeviceList g_devices;
inline std::vector<DeviceEntry*> g_rows; // the current folder's entries as shown
inline std::unordered_map<const DeviceEntry*, size_t> g_rowOf; // an entry's index in g_rows
// What each row of the details view shows, as its paints drew it: a status update repaints only the
// cells that differ. Recorded while the list paints (g_paintRegion: the part it draws).
inline std::vector<DeviceRowShown> g_shown;
inline HRGN g_paintRegion = nullptr;
inline RECT g_paintBox {};
inline bool g_paintSimple = false; // the region is g_paintBox
inline bool g_fitColumns = false; // no stored widths: the details columns are sized to their texts
inline int g_sortColumn = -1;
inline bool g_sortDescending = false;
inline MainViewSettings g_view;
inline int g_splitX = -1; // the tree's width; a quarter of the window at first
inline bool g_splitting = false;
inline bool g_dragging = false;
inline bool g_closing = false;
inline bool g_fillingTree = false;
inline std::atomic<int> g_pending { 0 }; // notices posted and not yet handled
inline std::atomic<bool> g_redrawPosted { false }; // a message is on its way or kRedrawTimer runs
inline bool g_redrawTimer = false;
// The entries the worker changed since the last redraw: only their rows are painted again.
inline std::mutex g_redrawMutex;
inline std::vector<const DeviceEntry*> g_redrawEntries;
inline constexpr size_t kRedrawRowsMax = 64; // more changed rows than this: the whole list
inline bool g_workerBusy = false; // between the two JobMsgBusy of a job
inline bool g_ownJobQueued = false; // a job the window posted itself (start-up check, search) is not done yet
inline std::unique_ptr<JobSearchRecord> g_search;
inline DeviceEntry* g_launchWizard = nullptr;
inline bool g_userSearch = false;
inline DeviceJob g_ownJob;
inline std::unique_ptr<ConsoleSerialSearch> g_serial;
inline std::string g_droppedFile;
inline uint32_t g_progressMessage = 0; // the job the progress window shows

inline std::atomic<bool> g_changedPosted { false };
inline bool g_listDirty = false; // changed by a job, not saved yet (kSaveTimer runs)
inline bool g_saveTimer = false;
inline std::unique_ptr<DeviceCommands> g_commands;

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
void MergeSearch();
} // namespace mainwin
