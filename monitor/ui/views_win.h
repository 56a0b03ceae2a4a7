// The accounting and VPN view windows ("TravikAccountingPlugin", "TravikVpnPlugin"): a command row and a
// list view in report mode showing one TableView of monitor/views/, and the monitor's image strip, which
// the main window's tree uses too.
#pragma once

#include "monitor/views/table_views.h"

#include <windows.h>

#include <commctrl.h>

// What the program's main window decides for the views. A view window that the user closes asks first:
// true closes it (other things stay visible); false keeps it, unless the owner ended the program
// meanwhile (closing every view window itself). ViewWindowClosed tells that a window went, also when
// ViewsWindowsClose closed it.
class ViewsWindowOwner {
public:
    virtual ~ViewsWindowOwner() = default;
    virtual bool ViewWindowMayClose(HWND window)
    {
        (void)window;
        return true;
    }
    virtual void ViewWindowClosed(HWND window) = 0;
};

// Moves a window that opens without a stored placement beside the main window ("TravikWindowClass"),
// inside the work area, its title bar and menu left free; `cascade` shifts the n-th of several.
void PlaceBesideMainWindow(HWND window, int cascade);

// Registers the two window classes and the hidden window that runs ViewsProcess when a job wakes it, and
// fills `config->wake` and `config->createWindow`; then call ViewsInit(*config). `owner` may be null.
int ViewsWindowsInit(HINSTANCE instance, ViewsConfig* config, ViewsWindowOwner* owner);
// Closes every view window (their placement and widths are saved) and the hidden window.
void ViewsWindowsClose();

// The monitor's image strip (bitmap resource "MONITORIMAGES", 16 x 16, magenta transparent); made once.
HIMAGELIST MonitorImageList();

// The window of a view (null when it has none), and how many view windows are visible.
HWND ViewWindow(const TableView& view);
uint32_t ViewWindowsVisible();

// The file dialog of the accounting files: filter ViewStrAccountingFilter, starting in the last directory used, which
// it remembers ("ACCPath"). False when the user cancels.
bool ViewsAskAccountingFile(HWND owner, bool save, std::string* path);

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
