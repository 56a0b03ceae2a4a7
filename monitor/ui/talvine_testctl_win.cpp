// talvine.exe: the monitor's own commands of the test channel: what the tree, the taskbar icon and its
// menu, the windows and the dialogs show, and the clicks a test gives the tree.
#include "common/platform/net.h"
#include "common/text.h"
#include "common/ui/testctl_win.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/ui/display_win.h"
#include "monitor/ui/graph_win.h"
#include "monitor/ui/talvine_app_win.h"
#include "monitor/ui/talvine_views.h"

#include <windows.h>

#include <commctrl.h>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tvwin {
namespace {
HTREEITEM TreeItemByText(HTREEITEM h, const std::string& prefix)
{
    for (; h; h = TreeView_GetNextSibling(A().tree, h)) {
        char text[512] = {};
        TVITEMA tv {};
        tv.mask = TVIF_TEXT;
        tv.hItem = h;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        if (SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))
            && std::string(text).compare(0, prefix.size(), prefix) == 0)
            return h;
        if (HTREEITEM found = TreeItemByText(TreeView_GetChild(A().tree, h), prefix))
            return found;
    }
    return nullptr;
}

// The taskbar icon's menu as it opens: each entry's text, the default one marked "*".
std::string TrayMenuLines()
{
    HMENU menus = nullptr;
    HMENU menu = TrayMenu(&menus);
    std::vector<std::string> lines;
    UINT def = GetMenuDefaultItem(menu, FALSE, 0);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[256] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        UINT id = GetMenuItemID(menu, i);
        if (text[0])
            lines.push_back((id == def ? "*" : "") + TestCtlEscape(text));
    }
    DestroyMenu(menus);
    return TestCtlOkLines(lines);
}

// Which of the system's icons a dialog shows: information, warning, error, question, other or none.
std::string DialogIconKind(const std::string& rest)
{
    HWND w = reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    if (!w || !IsWindow(w))
        return TestCtlError("no such window");
    std::string kind = "none";
    for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child))
            continue;
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") != 0)
            continue;
        auto shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        kind = shown == LoadIconA(nullptr, IDI_INFORMATION) ? "information"
            : shown == LoadIconA(nullptr, IDI_WARNING)      ? "warning"
            : shown == LoadIconA(nullptr, IDI_ERROR)        ? "error"
            : shown == LoadIconA(nullptr, IDI_QUESTION)     ? "question"
                                                            : "other";
    }
    return "ok " + kind + "\n";
}

// A window's rectangle and the top of its client area, in screen coordinates: "HANDLE" or "main".
std::string WindowRectLine(const std::string& rest)
{
    HWND w = rest == "main" ? A().main : reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    if (!w || !IsWindow(w))
        return TestCtlError("no such window");
    RECT r {};
    GetWindowRect(w, &r);
    POINT client { 0, 0 };
    ClientToScreen(w, &client);
    RECT work {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return "ok "
        + StrFormat("%ld %ld %ld %ld client=%ld work=%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom, client.y,
            work.left, work.top, work.right, work.bottom)
        + "\n";
}

// The list of a view window: the sum of its columns' widths and the width of its client area.
std::string ListColumnWidths(const std::string& rest)
{
    HWND w = reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    HWND list = w && IsWindow(w) ? FindWindowExA(w, nullptr, WC_LISTVIEWA, nullptr) : nullptr;
    if (!list)
        return TestCtlError("no list in " + rest);
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int count = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    long total = 0;
    for (int i = 0; i < count; ++i)
        total += static_cast<long>(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0));
    RECT client {};
    GetClientRect(list, &client);
    return "ok " + StrFormat("%ld %ld", total, client.right) + "\n";
}

// A double click of the left button on the first tree item whose text begins with the given one,
// at the middle of its text, as the mouse gives it.
std::string DoubleClickTreeItem(const std::string& rest)
{
    std::vector<std::string> words = TestCtlWords(rest);
    HTREEITEM h = TreeItemByText(TreeView_GetRoot(A().tree), words.empty() ? std::string() : words[0]);
    if (!h)
        return TestCtlError("no tree item " + rest);
    TreeView_EnsureVisible(A().tree, h);
    RECT r {};
    std::memcpy(&r, &h, sizeof h); // TVM_GETITEMRECT takes the item in the rectangle's first bytes
    if (!SendMessageA(A().tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)))
        return TestCtlError("tree item not visible");
    POINT at { (r.left + r.right) / 2, (r.top + r.bottom) / 2 };
    POINT screen = at;
    ClientToScreen(A().tree, &screen);
    SetCursorPos(screen.x, screen.y);
    LPARAM xy = MAKELPARAM(at.x, at.y);
    PostMessageA(A().tree, WM_LBUTTONDOWN, MK_LBUTTON, xy);
    PostMessageA(A().tree, WM_LBUTTONUP, 0, xy);
    PostMessageA(A().tree, WM_LBUTTONDBLCLK, MK_LBUTTON, xy);
    PostMessageA(A().tree, WM_LBUTTONUP, 0, xy);
    return TestCtlOk();
}

// The tree view's items in tree order, each "IMAGE<TAB>TEXT" (what the window shows of `tree`).
std::string TreeViewLines()
{
    std::vector<std::string> lines;
    std::vector<HTREEITEM> stack { reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)) };
    while (!stack.empty()) {
        HTREEITEM h = stack.back();
        stack.pop_back();
        if (!h)
            continue;
        char text[512] = {};
        TVITEMA tv {};
        tv.mask = TVIF_TEXT | TVIF_IMAGE;
        tv.hItem = h;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        lines.push_back(std::to_string(tv.iImage) + "\t" + TestCtlEscape(text));
        stack.push_back(reinterpret_cast<HTREEITEM>(
            SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(h))));
        stack.push_back(reinterpret_cast<HTREEITEM>(
            SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(h))));
    }
    return TestCtlOkLines(lines);
}

// The tip the tree asks for when the mouse rests on the first item whose text begins with the given
// one (through the tree's own notification to the window).
std::string TreeItemTip(const std::string& rest)
{
    std::vector<std::string> words = TestCtlWords(rest);
    HTREEITEM h = TreeItemByText(TreeView_GetRoot(A().tree), words.empty() ? std::string() : words[0]);
    if (!h)
        return TestCtlError("no tree item " + rest);
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = h;
    SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    char text[INFOTIPSIZE] = {};
    NMTVGETINFOTIPA tip {};
    tip.hdr.hwndFrom = A().tree;
    tip.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(A().tree));
    tip.hdr.code = TVN_GETINFOTIPA;
    tip.pszText = text;
    tip.cchTextMax = sizeof text;
    tip.hItem = h;
    tip.lParam = tv.lParam;
    SendMessageA(A().main, WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    return "ok " + TestCtlEscape(text) + "\n";
}
} // namespace

// The monitor's own commands of the test channel.
std::string TestCommand(const TestCtlCommand& c)
{
    if (c.verb == "tree") {
        if (!A().engine)
            return TestCtlError("no engine");
        return TestCtlOkLines(EngineTreeLines(*A().engine, false));
    }
    if (c.verb == "tray")
        return "ok " + StrFormat("shown=%d image=%d", A().trayShown ? 1 : 0, static_cast<int>(A().trayImage)) + "\n";
    if (c.verb == "traytip")
        return "ok " + TestCtlEscape(A().trayTip) + "\n";
    if (c.verb == "balloon")
        return "ok " + TestCtlEscape(A().lastBalloon) + "\n";
    if (c.verb == "traymenu")
        return TrayMenuLines();
    if (c.verb == "dialogicon")
        return DialogIconKind(c.rest);
    if (c.verb == "rect")
        return WindowRectLine(c.rest);
    if (c.verb == "displayfit") {
        std::optional<uint32_t> ip = NetParseAddress(c.rest);
        EngineDevice* d = ip && A().engine ? A().engine->FindDevice(SnmpAddressFromHost(*ip)) : nullptr;
        std::string fit = d ? DisplayFit(*d) : std::string();
        return fit.empty() ? TestCtlError("no display window for " + c.rest) : "ok " + fit + "\n";
    }
    if (c.verb == "columns")
        return ListColumnWidths(c.rest);
    if (c.verb == "dblclick")
        return DoubleClickTreeItem(c.rest);
    if (c.verb == "exit") {
        // Ends as the Exit of the question does, also with a display or dialog open.
        PostMessageA(A().main, kExitMessage, 0, 0);
        return TestCtlOk();
    }
    if (c.verb == "display") {
        // Opens or activates a device's display window (what command 3022 does for the selected device).
        std::optional<uint32_t> ip = NetParseAddress(c.rest);
        EngineDevice* d = ip && A().engine ? A().engine->FindDevice(SnmpAddressFromHost(*ip)) : nullptr;
        if (!d)
            return TestCtlError("no device " + c.rest);
        DisplayOpen(*d);
        return TestCtlOk();
    }
    if (c.verb == "treeview")
        return TreeViewLines();
    if (c.verb == "tip")
        return TreeItemTip(c.rest);
    if (c.verb == "detecting")
        return "ok " + std::to_string(A().engine ? A().engine->Detecting() : 0) + "\n";
    if (c.verb == "select") {
        // Selects the first tree item (depth first) whose text begins with the given one, as a click would.
        std::vector<std::string> words = TestCtlWords(c.rest);
        std::string text = words.empty() ? std::string() : words[0];
        HTREEITEM h = TreeItemByText(TreeView_GetRoot(A().tree), text);
        if (!h)
            return TestCtlError("no tree item " + text);
        TreeView_SelectItem(A().tree, h);
        return TestCtlOk();
    }
    std::string graph = GraphTestCommand(c);
    return graph.empty() ? TalvineViewsTestCommand(c) : graph;
}
} // namespace tvwin
