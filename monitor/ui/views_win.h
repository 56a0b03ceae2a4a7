// The accounting and VPN view windows ("TravikAccountingPlugin", "TravikVpnPlugin"): a command row and a
// list view in report mode showing one TableView of monitor/views/, and the monitor's image strip, which
// the main window's tree uses too.
#pragma once

#include "monitor/views/table_views.h"

#include <windows.h>

#include <commctrl.h>

// What the program's main window decides for the views: a view window closed (the main window applies
// its rules for ending the program when it was the last visible window).
class ViewsWindowOwner {
public:
    virtual ~ViewsWindowOwner() = default;
    virtual void ViewWindowClosed(HWND window) = 0;
};

// Registers the two window classes and the hidden window that runs ViewsProcess when a job wakes it, and
// fills `config->wake` and `config->createWindow`; then call ViewsInit(*config). `owner` may be null.
int ViewsWindowsInit(HINSTANCE instance, ViewsConfig* config, ViewsWindowOwner* owner);
// Closes every view window (their placement and widths are saved) and the hidden window.
void ViewsWindowsClose();

// The monitor's image strip (bitmap resource "MONITORIMAGES", 16 x 16, magenta transparent); made once.
HIMAGELIST MonitorImageList();

// The window of a view (null when it has none).
HWND ViewWindow(const TableView& view);

// Command identifiers of the view windows (buttons; the test channel sends them as WM_COMMAND).
enum : int {
    kViewCmdRefresh = 101,
    kViewCmdLoad = 102,
    kViewCmdSave = 103,
    kViewCmdDelete = 104,
    kViewCmdTopMost = 105,
    kViewCmdClose = 106,
    kViewList = 110,
};
