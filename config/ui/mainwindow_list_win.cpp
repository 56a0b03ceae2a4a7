// The main window's device list: the icons with their state badge, what a status update paints
// again (only the cells that changed), the columns fitted to their texts, the in-cell progress bar,
// files dropped onto a device, and the list's notifications.
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/commands.h"
#include "config/frontend/mainview.h"
#include "config/ui/mainwindow_state_win.h"
#include "config/ui/resource.h"
#include "device/devstatus.h"

#include <algorithm>
#include <commctrl.h>
#include <shellapi.h>

namespace mainwin {
namespace {
// True while the list paints and `r` lies wholly in what it draws.
bool DrawnWhole(const RECT& r)
{
    if (!win.paintRegion || IsRectEmpty(&r))
        return false;
    if (win.paintSimple)
        return r.left >= win.paintBox.left && r.top >= win.paintBox.top && r.right <= win.paintBox.right
            && r.bottom <= win.paintBox.bottom;
    HRGN rest = CreateRectRgnIndirect(&r);
    bool whole = CombineRgn(rest, rest, win.paintRegion, RGN_DIFF) == NULLREGION;
    DeleteObject(rest);
    return whole;
}

// A cell's rectangle in the details view; column 0's text and its image apart.
RECT CellRect(size_t row, int column)
{
    RECT r {};
    if (column == ColName)
        ListView_GetItemRect(win.list, static_cast<int>(row), &r, LVIR_LABEL);
    else
        ListView_GetSubItemRect(win.list, static_cast<int>(row), column, LVIR_BOUNDS, &r);
    return r;
}

RECT ImageRect(size_t row)
{
    RECT r {};
    ListView_GetItemRect(win.list, static_cast<int>(row), &r, LVIR_ICON);
    return r;
}

// Image list index: link type times three plus the state (0 unknown, 1 "Ok", 2 failed).
int ImageOf(const DeviceEntry& e)
{
    int32_t s = e.status.load();
    int state = s == DevStatusOk ? 1 : s > DevStatusOk ? 2 : 0;
    int link = e.link >= LinkIp && e.link <= LinkSerial ? e.link : 0;
    return link * 3 + state;
}
} // namespace

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

namespace {
// Adds to `region` what changed of a row in the details view: only the cells that differ from the
// screen. In the other views the item is painted again at once.
void RedrawRow(size_t row, HRGN* region)
{
    if (win.view.view_style != kViewDetails || row >= win.shown.size()) {
        ListView_RedrawItems(win.list, static_cast<int>(row), static_cast<int>(row));
        return;
    }
    const DeviceEntry& e = *win.rows[row];
    uint32_t changed = win.shown[row].Changed(e, ImageOf(e));
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
} // namespace

// Paints again what the worker changed of the rows of its entries, at one go (each invalidation is a
// round trip to the window system's server). Rows out of sight are left to the paint that scrolls
// them in; many changes at once look at every row in sight.
// Returns false when the worker changed nothing since the last call: its next change posts a message
// again.
bool RedrawChangedRows()
{
    std::vector<const DeviceEntry*> changed;
    {
        std::lock_guard<std::mutex> lock(win.redrawMutex);
        changed.swap(win.redrawEntries);
        if (changed.empty()) {
            win.redrawPosted = false;
            return false;
        }
    }
    bool details = win.view.view_style == kViewDetails;
    if (changed.size() > kRedrawRowsMax && !details) {
        InvalidateRect(win.list, nullptr, FALSE);
        return true;
    }
    size_t first = 0, last = win.rows.size();
    if (details) {
        first = static_cast<size_t>(std::max(0, ListView_GetTopIndex(win.list)));
        last = std::min(
            win.rows.size(), first + static_cast<size_t>(std::max(0, ListView_GetCountPerPage(win.list))) + 1);
    }
    HRGN region = nullptr;
    if (changed.size() > kRedrawRowsMax) {
        for (size_t row = first; row < last; ++row)
            RedrawRow(row, &region);
    } else {
        std::sort(changed.begin(), changed.end());
        changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
        for (const DeviceEntry* e : changed) {
            auto it = win.rowOf.find(e);
            if (it != win.rowOf.end() && it->second >= first && it->second < last)
                RedrawRow(it->second, &region);
        }
    }
    if (region) {
        InvalidateRgn(win.list, region, FALSE);
        DeleteObject(region);
    }
    return true;
}

// The details columns as wide as their header and the widest of their texts (the first rows of a
// long list only), while the user has not sized them himself.
void FitColumns()
{
    if (!win.fitColumns || !win.list)
        return;
    constexpr size_t kMeasuredRows = 500;
    constexpr int kPadding = 16; // the list's margins on both sides of a text
    for (int c = 0; c < kDeviceColumnCount; ++c) {
        std::string header = Text(MainStrColumn0 + static_cast<unsigned>(c));
        int width = ListView_GetStringWidth(win.list, header.c_str()) + kPadding;
        for (size_t r = 0; r < win.rows.size() && r < kMeasuredRows; ++r) {
            std::string text = DeviceCellText(*win.rows[r], c);
            int w = ListView_GetStringWidth(win.list, text.c_str()) + kPadding;
            if (c == ColName)
                w += GetSystemMetrics(SM_CXSMICON) + 4;
            width = std::max(width, w);
        }
        width = std::min(width, 400);
        if (ListView_GetColumnWidth(win.list, c) != width)
            ListView_SetColumnWidth(win.list, c, width);
        win.view.columns[static_cast<size_t>(c)] = width;
    }
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
    int row = ListView_HitTest(win.list, &hit);
    if (row < 0 || row >= static_cast<int>(win.rows.size()) || AnyJob())
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
        Ui().Error(StrFormat(Text(MainStrDropUnknown).c_str(), file));
        return;
    }
    DeviceEntry* entry = win.rows[static_cast<size_t>(row)];
    ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(win.list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    win.droppedFile = file;
    IssueCommand(command, { entry });
}

namespace {
// The status cell with its bar while a transfer of known size runs.
LRESULT CustomDraw(NMLVCUSTOMDRAW* cd)
{
    switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return win.view.view_style == kViewDetails ? CDRF_NOTIFYITEMDRAW : CDRF_DODEFAULT;
    case CDDS_ITEMPREPAINT: {
        // Only a row with a bar hears of its cells (a notification per cell costs every paint).
        size_t row = cd->nmcd.dwItemSpec;
        return row < win.rows.size() && DeviceStatusBarPercent(*win.rows[row]) >= 0 ? CDRF_NOTIFYSUBITEMDRAW
                                                                                    : CDRF_DODEFAULT;
    }
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        size_t row = cd->nmcd.dwItemSpec;
        if (cd->iSubItem != ColStatus || row >= win.rows.size() || win.view.view_style != kViewDetails)
            return CDRF_DODEFAULT;
        const DeviceEntry& e = *win.rows[row];
        int percent = DeviceStatusBarPercent(e);
        if (percent < 0)
            return CDRF_DODEFAULT;
        RECT r {};
        ListView_GetSubItemRect(win.list, static_cast<int>(row), ColStatus, LVIR_BOUNDS, &r);
        std::string text = DeviceCellText(e, ColStatus);
        if (row < win.shown.size() && DrawnWhole(r))
            win.shown[row].Drawn(ColStatus, text, percent);
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
} // namespace

LRESULT OnListNotify(NMHDR* hdr)
{
    switch (hdr->code) {
    case LVN_GETDISPINFOA: {
        ++g_dispInfos;
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(hdr);
        size_t row = static_cast<size_t>(info->item.iItem);
        if (row >= win.rows.size())
            return 0;
        // While the details view paints: what it draws of the row, for the next status update (not
        // again from within: a rectangle the list measures may ask for the text).
        static bool recording = false;
        bool record = !recording && win.paintRegion && win.view.view_style == kViewDetails && row < win.shown.size();
        recording = record;
        int column = info->item.iSubItem;
        if (info->item.mask & LVIF_TEXT) {
            std::string text = DeviceCellText(*win.rows[row], column);
            lstrcpynA(info->item.pszText, text.c_str(), info->item.cchTextMax);
            // A text cut to the buffer is not what the cell shows: left unrecorded.
            if (record && text.size() < static_cast<size_t>(std::max(0, info->item.cchTextMax))
                && DrawnWhole(CellRect(row, column)))
                win.shown[row].Drawn(column, text);
        }
        if (info->item.mask & LVIF_IMAGE) {
            info->item.iImage = ImageOf(*win.rows[row]);
            if (record && column == ColName && DrawnWhole(ImageRect(row)))
                win.shown[row].DrawnImage(info->item.iImage);
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
        win.sortDescending = win.sortColumn == column ? !win.sortDescending : false;
        win.sortColumn = column;
        RefreshRows();
        return 0;
    }
    case LVN_BEGINLABELEDITA:
        if (AnyJob())
            return TRUE;
        // The field takes no more than a device name holds: a longer name would be cut when kept.
        if (HWND edit = ListView_GetEditControl(win.list))
            SendMessageA(edit, EM_LIMITTEXT, decltype(DeviceEntry::name)::kMax, 0);
        return FALSE;
    case LVN_ENDLABELEDITA: {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(hdr);
        size_t row = static_cast<size_t>(info->item.iItem);
        if (!info->item.pszText || row >= win.rows.size() || Trim(info->item.pszText).empty())
            return FALSE;
        win.rows[row]->name = std::string(Trim(info->item.pszText));
        SaveList();
        RefreshRows();
        return FALSE; // the virtual list shows the name from the entry
    }
    case LVN_BEGINDRAG:
        win.dragging = true;
        SetCapture(win.main);
        return 0;
    case NM_DBLCLK:
        if (ListView_GetSelectedCount(win.list) == 1)
            OnCommand(CmdProperties);
        return 0;
    case NM_RCLICK: {
        POINT pt;
        GetCursorPos(&pt);
        ContextMenu(ListView_GetSelectedCount(win.list) > 0 ? 0 : 1, pt);
        return 0;
    }
    case NM_CUSTOMDRAW:
        ++g_customDraws;
        return CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(hdr));
    }
    return 0;
}
} // namespace mainwin
