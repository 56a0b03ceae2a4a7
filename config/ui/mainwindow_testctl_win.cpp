// The main window's commands on the test control channel: its rows and columns, folders, the
// selection, where a pointer aims, and the status benchmark's figures.
#include "common/strings.h"
#include "common/testctl.h"
#include "common/text.h"
#include "config/ui/mainwindow_state_win.h"
#include "config/ui/mainwindow_win.h"
#include "config/ui/print_win.h"
#include "config/ui/resource.h"

#include <algorithm>

using namespace mainwin;

std::string MainWindowTestCommand(const TestCtlCommand& c)
{
    if (!win.main)
        return std::string();
    if (std::string printed = CfgPrintTestCommand(c.verb, c.rest); !printed.empty())
        return printed;
    if (c.verb == "list") {
        std::vector<std::string> lines;
        for (DeviceEntry* e : win.rows) {
            std::string line;
            for (int col = 0; col < kDeviceColumnCount; ++col)
                line += (col ? "\t" : "") + TestCtlEscape(DeviceCellText(*e, col));
            lines.push_back(line);
        }
        return TestCtlOkLines(lines);
    }
    if (c.verb == "columns") {
        // Each details column: its header, its width and the width its widest text needs (header and
        // cells measured as the list draws them, with the list's margins), in pixels.
        std::vector<std::string> lines;
        for (int col = 0; col < kDeviceColumnCount; ++col) {
            std::string header = Text(MainStrColumn0 + static_cast<unsigned>(col));
            int needed = ListView_GetStringWidth(win.list, header.c_str()) + 12;
            for (DeviceEntry* e : win.rows) {
                int w = ListView_GetStringWidth(win.list, DeviceCellText(*e, col).c_str()) + 12;
                if (col == ColName)
                    w += GetSystemMetrics(SM_CXSMICON) + 4;
                needed = std::max(needed, w);
            }
            lines.push_back(StrFormat("%s\t%d\t%d", TestCtlEscape(header).c_str(),
                ListView_GetColumnWidth(win.list, col), std::min(needed, 400)));
        }
        return TestCtlOkLines(lines);
    }
    if (c.verb == "folder" || c.verb == "move") {
        std::string path = TestCtlUnescape(c.rest);
        if (path == "/")
            path.clear();
        DeviceFolder* folder = win.devices.FindFolder(path);
        if (!folder)
            return TestCtlError("no folder " + path);
        if (c.verb == "folder")
            SelectFolder(folder);
        else
            MoveSelectionTo(folder); // what dropping the selection onto the folder does
        UpdateCommands();
        return TestCtlOk();
    }
    if (c.verb == "timing")
        return TimingCommand(c.rest);
    if (c.verb == "locate") {
        // Where a pointer aims at a device's row ("row NAME") or a folder of the tree ("folder PATH"):
        // the screen position of the centre of its label, for input with the real mouse.
        std::vector<std::string> words = TestCtlWords(c.rest);
        if (words.size() != 2)
            return TestCtlError("locate row NAME, locate icon NAME or locate folder PATH");
        RECT r {};
        HWND owner = nullptr;
        if (words[0] == "row" || words[0] == "icon") {
            auto it = std::find_if(
                win.rows.begin(), win.rows.end(), [&](DeviceEntry* e) { return e->name.str() == words[1]; });
            if (it == win.rows.end())
                return TestCtlError("no device " + words[1]);
            int row = static_cast<int>(it - win.rows.begin());
            ListView_EnsureVisible(win.list, row, FALSE);
            ListView_GetItemRect(win.list, row, &r, words[0] == "row" ? LVIR_LABEL : LVIR_ICON);
            owner = win.list;
        } else if (words[0] == "folder") {
            DeviceFolder* folder = win.devices.FindFolder(words[1] == "/" ? std::string() : words[1]);
            HTREEITEM item = folder ? FindTreeItem(TreeView_GetRoot(win.tree), folder) : nullptr;
            if (!item)
                return TestCtlError("no folder " + words[1]);
            TreeView_EnsureVisible(win.tree, item);
            TreeView_GetItemRect(win.tree, item, &r, TRUE);
            owner = win.tree;
        } else {
            return TestCtlError("locate row NAME or locate folder PATH");
        }
        POINT centre { (r.left + r.right) / 2, (r.top + r.bottom) / 2 };
        ClientToScreen(owner, &centre);
        return TestCtlOkLines({ StrFormat("%ld %ld", centre.x, centre.y) });
    }
    if (c.verb == "select") {
        std::vector<std::string> names = TestCtlWords(c.rest);
        std::vector<int> rows;
        for (const std::string& name : names) {
            auto it
                = std::find_if(win.rows.begin(), win.rows.end(), [&](DeviceEntry* e) { return e->name.str() == name; });
            if (it == win.rows.end())
                return TestCtlError("no device " + name);
            rows.push_back(static_cast<int>(it - win.rows.begin()));
        }
        ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int row : rows)
            ListView_SetItemState(win.list, row, LVIS_SELECTED, LVIS_SELECTED);
        if (!rows.empty())
            ListView_SetItemState(win.list, rows.front(), LVIS_FOCUSED, LVIS_FOCUSED);
        SetFocus(win.list);
        UpdateCommands();
        return TestCtlOk();
    }
    return std::string();
}
