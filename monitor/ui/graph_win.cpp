// The graph window of kept values (see graph_win.h). The points of each series are reduced once per
// reading or size to one column record per pixel (lowest, highest, first and last value, the band of
// averaged periods, a gap before it), so that painting costs the same for a hundred points as for sixty
// thousand, and moving the pointer only paints again.
#include "monitor/ui/graph_win.h"

#include "common/strings.h"
#include "common/text.h"
#include "common/ui/testctl_win.h"
#include "monitor/engine/engine.h"
#include "monitor/engine/trend_store.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/texts.h"

#include <algorithm>
#include <cmath>
#include <commdlg.h>
#include <cstdio>
#include <memory>

namespace {
const char kGraphClass[] = "TravikGraphWndClass";
enum : int {
    kIdRangeFirst = 100, // 100..103: hour, day, week, all
    kIdCopy = 110,
    kIdSave = 111,
    kIdList = 120,
    kTimerRefresh = 1,
};
const int kBar = 30; // the button row
const int kListWidth = 170;
const int kMarginLeft = 64, kMarginRight = 12, kMarginTop = 22, kMarginBottom = 36;
const COLORREF kColors[] = { RGB(0, 90, 200), RGB(200, 40, 40), RGB(0, 140, 60), RGB(150, 60, 170), RGB(220, 120, 0),
    RGB(0, 150, 160), RGB(120, 90, 40), RGB(90, 90, 90) };

std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}

// A string-table text with its "%s" filled in.
std::string Fill(const std::string& text, const std::string& value)
{
    size_t at = text.find("%s");
    return at == std::string::npos ? text : text.substr(0, at) + value + text.substr(at + 2);
}

struct Column {
    bool has = false;
    bool band = false;
    bool gapBefore = false;
    double lo = 0, hi = 0, first = 0, last = 0, bandLo = 0, bandHi = 0;
};

struct Series {
    std::string name;
    TrendSeriesData data;
    std::vector<Column> columns;
    double low = 0, high = 1; // its value scale: every series fills the height (their units differ)
};

struct Graph {
    HWND hwnd = nullptr;
    HWND list = nullptr;
    HWND buttons[6] = {};
    uint32_t address = 0;
    std::string title;
    std::vector<std::string> names; // every kept series of the device (the list's order)
    std::vector<std::string> wanted; // selected
    std::vector<std::string> listFor; // the selection the list was last filled with
    std::vector<Series> shown;
    int range = 1; // 0 hour, 1 day, 2 week, 3 all
    uint32_t from = 0, to = 1;
    bool dirty = true; // columns to be made again
    int columnsFor = 0; // the plot width the columns were made for
    double low = 0, high = 1; // the value axis
    int mouseX = -1;
    std::string pointer; // the value line under the pointer
    double lastPaintMs = 0;
    size_t points = 0;
};

struct GraphGlobals {
    HINSTANCE instance = nullptr;
    std::unique_ptr<TrendStore> store;
    std::vector<std::unique_ptr<Graph>> graphs;
};

GraphGlobals& G()
{
    static GraphGlobals g;
    return g;
}

Graph* FromWindow(HWND hwnd)
{
    return reinterpret_cast<Graph*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

uint32_t NowSeconds()
{
    return static_cast<uint32_t>(TrendSystemNowMs() / 1000);
}

RECT PlotRect(HWND hwnd)
{
    RECT rc;
    GetClientRect(hwnd, &rc);
    rc.left += kListWidth + kMarginLeft;
    rc.top += kBar + kMarginTop;
    rc.right -= kMarginRight;
    rc.bottom -= kMarginBottom;
    if (rc.right < rc.left + 10)
        rc.right = rc.left + 10;
    if (rc.bottom < rc.top + 10)
        rc.bottom = rc.top + 10;
    return rc;
}

// The local time of a kept time, as SYSTEMTIME.
SYSTEMTIME LocalTime(uint32_t time)
{
    ULARGE_INTEGER u;
    u.QuadPart = (static_cast<uint64_t>(time) + 11644473600ull) * 10000000ull;
    FILETIME utc { u.LowPart, u.HighPart }, local;
    FileTimeToLocalFileTime(&utc, &local);
    SYSTEMTIME st {};
    FileTimeToSystemTime(&local, &st);
    return st;
}

std::string LocalDate(uint32_t time)
{
    SYSTEMTIME st = LocalTime(time);
    char buf[80] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf, sizeof buf);
    return buf;
}

std::string LocalClock(uint32_t time, bool seconds)
{
    SYSTEMTIME st = LocalTime(time);
    char buf[80] = {};
    GetTimeFormatA(LOCALE_USER_DEFAULT, seconds ? 0 : TIME_NOSECONDS, &st, nullptr, buf, sizeof buf);
    return buf;
}

// Seconds local time lies ahead of UTC at `time` (ticks fall on local hours and days).
int64_t LocalOffset(uint32_t time)
{
    SYSTEMTIME st = LocalTime(time);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    int64_t local = static_cast<int64_t>(u.QuadPart / 10000000ull) - 11644473600ll;
    return local - time;
}

void Load(Graph& g)
{
    uint32_t now = NowSeconds();
    static const uint32_t spans[] = { 3600, 86400, 7 * 86400 };
    g.to = now;
    g.from = g.range < 3 ? now - spans[g.range] : 0;
    g.shown.clear();
    g.points = 0;
    std::vector<std::string> before = g.names;
    if (G().store) {
        g.names = TrendSeriesNames(G().store->Dir(), g.address);
        for (const std::string& name : g.wanted) {
            Series s;
            s.name = name;
            if (TrendRead(G().store->Dir(), g.address, name, g.from, g.to, &s.data) == 1) {
                g.points += s.data.points.size();
                g.shown.push_back(std::move(s));
            }
        }
    }
    if (g.range == 3) {
        uint32_t first = now - 3600;
        for (const Series& s : g.shown)
            if (!s.data.points.empty())
                first = std::min(first, s.data.points.front().time);
        g.from = first;
    }
    if (g.to <= g.from)
        g.to = g.from + 1;
    g.dirty = true;
    // The list shows every kept series; the selected ones are drawn. (Filled again only when a series
    // came: the periodic reading keeps its scroll position.)
    if (g.list
        && (g.names != before || SendMessageA(g.list, LB_GETCOUNT, 0, 0) != static_cast<LRESULT>(g.names.size())
            || g.listFor != g.wanted)) {
        g.listFor = g.wanted;
        SendMessageA(g.list, WM_SETREDRAW, FALSE, 0);
        SendMessageA(g.list, LB_RESETCONTENT, 0, 0);
        for (const std::string& n : g.names) {
            LRESULT at = SendMessageA(g.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n.c_str()));
            bool on = std::find(g.wanted.begin(), g.wanted.end(), n) != g.wanted.end();
            SendMessageA(g.list, LB_SETSEL, on ? TRUE : FALSE, at);
        }
        SendMessageA(g.list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(g.list, nullptr, TRUE);
    }
}

// One column record per pixel for every shown series, and each series' value scale (the first one's is
// the axis drawn).
void MakeColumns(Graph& g, int width)
{
    double span = static_cast<double>(g.to - g.from);
    for (Series& s : g.shown) {
        s.columns.assign(static_cast<size_t>(width), Column {});
        bool gap = false, any = false;
        int lastX = -1;
        for (const TrendPoint& p : s.data.points) {
            if (p.gap) {
                gap = true;
                continue;
            }
            int x = static_cast<int>((static_cast<double>(p.time) - g.from) * (width - 1) / span + 0.5);
            x = std::clamp(x, 0, width - 1);
            Column& c = s.columns[static_cast<size_t>(x)];
            if (!c.has) {
                c.has = true;
                c.lo = c.hi = c.first = c.last = p.value;
                c.gapBefore = gap || lastX < 0;
            } else {
                c.lo = std::min(c.lo, p.value);
                c.hi = std::max(c.hi, p.value);
                c.last = p.value;
            }
            if (p.averaged) {
                c.bandLo = c.band ? std::min(c.bandLo, p.min) : p.min;
                c.bandHi = c.band ? std::max(c.bandHi, p.max) : p.max;
                c.band = true;
            }
            gap = false;
            lastX = x;
            double lo = c.band ? std::min(c.lo, c.bandLo) : c.lo;
            double hi = c.band ? std::max(c.hi, c.bandHi) : c.hi;
            s.low = any ? std::min(s.low, lo) : lo;
            s.high = any ? std::max(s.high, hi) : hi;
            any = true;
        }
        if (!any) {
            s.low = 0;
            s.high = 1;
        }
        if (s.high - s.low < 1e-9) {
            s.high += 1;
            s.low -= 1;
        }
        double pad = (s.high - s.low) * 0.05;
        s.high += pad;
        if (s.low < 0 || s.low - pad >= 0)
            s.low -= pad;
    }
    g.low = g.shown.empty() ? 0 : g.shown.front().low;
    g.high = g.shown.empty() ? 1 : g.shown.front().high;
    g.columnsFor = width;
    g.dirty = false;
}

double NiceStep(double range, int parts)
{
    double raw = range / parts;
    double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : { 1.0, 2.0, 5.0, 10.0 })
        if (m * mag >= raw)
            return m * mag;
    return 10 * mag;
}

// Draws the whole client area into `dc` (a window or a picture).
// The height in the plot of value v on a scale from low (the bottom) to high (the top).
int PlotY(const RECT& plot, double low, double high, double v)
{
    return plot.bottom - static_cast<int>((v - low) * (plot.bottom - plot.top) / (high - low) + 0.5);
}

// Time axis: ticks on local minutes, hours or days, labelled in the user's formats.
void DrawTimeAxis(const Graph& g, HDC dc, const RECT& client, const RECT& plot)
{
    int width = plot.right - plot.left;
    static const uint32_t steps[] = { 60, 300, 900, 1800, 3600, 3 * 3600, 6 * 3600, 12 * 3600, 86400, 2 * 86400,
        7 * 86400, 14 * 86400, 28 * 86400 };
    double span = static_cast<double>(g.to - g.from);
    uint32_t tick = steps[sizeof steps / sizeof steps[0] - 1];
    for (uint32_t s : steps)
        if (s * width / span >= 90) {
            tick = s;
            break;
        }
    int64_t offset = LocalOffset(g.to);
    int64_t first = ((static_cast<int64_t>(g.from) + offset + tick - 1) / tick) * tick - offset;
    std::string lastDate;
    for (int64_t t = first; t <= g.to; t += tick) {
        int x = plot.left + static_cast<int>((t - g.from) * (width - 1) / span + 0.5);
        MoveToEx(dc, x, plot.top, nullptr);
        LineTo(dc, x, plot.bottom);
        uint32_t ut = static_cast<uint32_t>(t);
        std::string date = LocalDate(ut);
        std::string label = tick >= 86400 ? date : LocalClock(ut, false);
        int shift = std::min(0, static_cast<int>(client.right) - (x + 60)); // the last label stays whole
        RECT r { x - 60 + shift, plot.bottom + 3, x + 60 + shift, plot.bottom + 17 };
        DrawTextA(dc, label.c_str(), -1, &r, DT_CENTER | DT_SINGLELINE);
        if (tick < 86400 && date != lastDate) {
            RECT d { x - 60 + shift, plot.bottom + 17, x + 60 + shift, plot.bottom + 31 };
            DrawTextA(dc, date.c_str(), -1, &d, DT_CENTER | DT_SINGLELINE);
            lastDate = date;
        }
    }
}

// Series i: the bands of its averaged periods first, its line over them, its legend; the pen `axis`
// selected again afterwards.
void DrawSeries(const Graph& g, size_t i, HDC dc, const RECT& plot, HPEN axis)
{
    int width = plot.right - plot.left;
    COLORREF c = kColors[i % (sizeof kColors / sizeof kColors[0])];
    COLORREF light
        = RGB(255 - (255 - GetRValue(c)) / 4, 255 - (255 - GetGValue(c)) / 4, 255 - (255 - GetBValue(c)) / 4);
    HBRUSH band = CreateSolidBrush(light);
    const std::vector<Column>& cols = g.shown[i].columns;
    const Series& series = g.shown[i];
    auto ySeries = [&](double v) { return PlotY(plot, series.low, series.high, v); };
    for (int x = 0; x < width; ++x) {
        const Column& col = cols[static_cast<size_t>(x)];
        if (col.has && col.band) {
            RECT r { plot.left + x, ySeries(col.bandHi), plot.left + x + 1, ySeries(col.bandLo) + 1 };
            FillRect(dc, &r, band);
        }
    }
    DeleteObject(band);
    HPEN pen = CreatePen(PS_SOLID, 1, c);
    SelectObject(dc, pen);
    bool down = false;
    for (int x = 0; x < width; ++x) {
        const Column& col = cols[static_cast<size_t>(x)];
        if (!col.has)
            continue;
        int px = plot.left + x;
        if (down && !col.gapBefore)
            LineTo(dc, px, ySeries(col.first));
        else
            MoveToEx(dc, px, ySeries(col.first), nullptr);
        if (col.hi != col.lo) {
            MoveToEx(dc, px, ySeries(col.lo), nullptr);
            LineTo(dc, px, ySeries(col.hi) - 1);
        }
        MoveToEx(dc, px, ySeries(col.last), nullptr);
        LineTo(dc, px + 1, ySeries(col.last)); // a lone point shows
        MoveToEx(dc, px, ySeries(col.last), nullptr);
        down = true;
    }
    SelectObject(dc, axis);
    DeleteObject(pen);
    // The legend: the series' names in their colours.
    SetTextColor(dc, c);
    std::string name = series.name + (series.data.kind == kTrendCounter ? " (/s)" : "");
    if (i > 0) // its own scale, from the bottom to the top of the plot
        name += "  " + TrendValueText(std::round(series.low)) + " .. " + TrendValueText(std::round(series.high));
    RECT r { plot.left + 8, plot.top + 2 + static_cast<int>(i) * 14, plot.right - 4,
        plot.top + 16 + static_cast<int>(i) * 14 };
    DrawTextA(dc, name.c_str(), -1, &r, DT_RIGHT | DT_SINGLELINE);
}

void Draw(Graph& g, HDC dc, const RECT& client, const RECT& plot)
{
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    RECT area = client;
    area.left = kListWidth;
    area.top = kBar;
    FillRect(dc, &area, white);
    int width = plot.right - plot.left;
    if (g.dirty || g.columnsFor != width)
        MakeColumns(g, width);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    // Grid and value axis.
    HPEN grid = CreatePen(PS_SOLID, 1, RGB(225, 225, 225));
    HPEN axis = CreatePen(PS_SOLID, 1, RGB(80, 80, 80));
    HGDIOBJ oldPen = SelectObject(dc, grid);
    SetTextColor(dc, g.shown.empty() ? RGB(60, 60, 60) : kColors[0]); // the axis is the first series' scale
    double step = NiceStep(g.high - g.low, 5);
    for (double v = std::ceil(g.low / step) * step; v <= g.high; v += step) {
        int y = PlotY(plot, g.low, g.high, v);
        MoveToEx(dc, plot.left, y, nullptr);
        LineTo(dc, plot.right, y);
        std::string t = TrendValueText(std::fabs(v) < step / 1e6 ? 0 : v);
        RECT r { kListWidth, y - 8, plot.left - 4, y + 8 };
        DrawTextA(dc, t.c_str(), -1, &r, DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    }
    DrawTimeAxis(g, dc, client, plot);
    SelectObject(dc, axis);
    MoveToEx(dc, plot.left, plot.top, nullptr);
    LineTo(dc, plot.left, plot.bottom);
    LineTo(dc, plot.right, plot.bottom);
    // Series: bands of averaged periods first, lines over them.
    for (size_t i = 0; i < g.shown.size(); ++i)
        DrawSeries(g, i, dc, plot, axis);
    if (g.shown.empty() || g.points == 0) {
        SetTextColor(dc, RGB(60, 60, 60));
        std::string t = Text(GraphStrNoValues);
        RECT r = plot;
        DrawTextA(dc, t.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    // The pointer: a line and the values under it.
    if (g.mouseX >= plot.left && g.mouseX < plot.right) {
        HPEN dot = CreatePen(PS_DOT, 1, RGB(0, 0, 0));
        SelectObject(dc, dot);
        MoveToEx(dc, g.mouseX, plot.top, nullptr);
        LineTo(dc, g.mouseX, plot.bottom);
        SelectObject(dc, axis);
        DeleteObject(dot);
    }
    SetTextColor(dc, RGB(0, 0, 0));
    RECT line { plot.left, kBar + 3, plot.right, kBar + kMarginTop - 2 };
    DrawTextA(dc, g.pointer.c_str(), -1, &line, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
    DeleteObject(grid);
    DeleteObject(axis);
}

// The value line for the pointer at client column x: the time and each shown series' nearest value.
void Point(Graph& g, int x)
{
    RECT plot = PlotRect(g.hwnd);
    g.mouseX = x;
    g.pointer.clear();
    if (x < plot.left || x >= plot.right)
        return;
    double span = static_cast<double>(g.to - g.from);
    int width = plot.right - plot.left;
    double at = g.from + (x - plot.left) * span / std::max(1, width - 1);
    double reach = std::max(span / width * 2, 10.0); // a value this close counts
    uint32_t t = static_cast<uint32_t>(at);
    g.pointer = LocalDate(t) + " " + LocalClock(t, true);
    for (const Series& s : g.shown) {
        const std::vector<TrendPoint>& pts = s.data.points;
        auto it
            = std::lower_bound(pts.begin(), pts.end(), t, [](const TrendPoint& p, uint32_t v) { return p.time < v; });
        const TrendPoint* best = nullptr;
        for (auto c : { it, it == pts.begin() ? it : it - 1 })
            if (c != pts.end() && !c->gap && std::fabs(c->time - at) <= reach
                && (!best || std::fabs(c->time - at) < std::fabs(best->time - at)))
                best = &*c;
        g.pointer += "   " + s.name + ": ";
        if (!best) {
            g.pointer += "-";
            continue;
        }
        g.pointer += TrendValueText(best->value) + TrendKindName(s.data.kind);
        if (best->averaged)
            g.pointer += " (" + TrendValueText(best->min) + ".." + TrendValueText(best->max) + ")";
    }
}

void Paint(Graph& g, HDC dc)
{
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    RECT client;
    GetClientRect(g.hwnd, &client);
    RECT plot = PlotRect(g.hwnd);
    // Drawn into a bitmap first: no flicker while the pointer moves.
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old = SelectObject(mem, bmp);
    FillRect(mem, &client, GetSysColorBrush(COLOR_BTNFACE));
    Draw(g, mem, client, plot);
    BitBlt(dc, kListWidth, kBar, client.right - kListWidth, client.bottom - kBar, mem, kListWidth, kBar, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    QueryPerformanceCounter(&b);
    g.lastPaintMs = (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart;
}

bool CopyPicture(Graph& g)
{
    RECT client;
    GetClientRect(g.hwnd, &client);
    RECT plot = PlotRect(g.hwnd);
    HDC dc = GetDC(g.hwnd);
    HDC mem = CreateCompatibleDC(dc);
    int w = client.right - kListWidth, h = client.bottom - kBar;
    HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    SetViewportOrgEx(mem, -kListWidth, -kBar, nullptr);
    Draw(g, mem, client, plot);
    SetViewportOrgEx(mem, 0, 0, nullptr);
    SelectObject(mem, old);
    DeleteDC(mem);
    ReleaseDC(g.hwnd, dc);
    bool ok = false;
    if (OpenClipboard(g.hwnd)) {
        EmptyClipboard();
        ok = SetClipboardData(CF_BITMAP, bmp) != nullptr;
        CloseClipboard();
    }
    if (!ok)
        DeleteObject(bmp);
    return ok;
}

bool SaveCsv(Graph& g, const std::string& path)
{
    std::string out = "time (UTC),item,value,minimum,maximum,samples\r\n";
    for (const Series& s : g.shown)
        for (const TrendPoint& p : s.data.points) {
            out += TrendTimeText(p.time) + "," + s.name + ",";
            if (p.gap)
                out += ",,,0\r\n";
            else
                out += TrendValueText(p.value) + "," + TrendValueText(p.min) + "," + TrendValueText(p.max) + ","
                    + std::to_string(p.count) + "\r\n";
        }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

void AskSave(Graph& g)
{
    char file[MAX_PATH] = "graph.csv";
    std::string filter = Text(GraphStrCsvFilter);
    std::replace(filter.begin(), filter.end(), '|', '\0');
    filter.push_back('\0');
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g.hwnd;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrDefExt = "csv";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&ofn))
        return;
    if (!SaveCsv(g, file))
        MessageBoxA(
            g.hwnd, Fill(Text(GraphStrNotWritten), file).c_str(), Text(TvStrProgramName).c_str(), MB_OK | MB_ICONERROR);
}

void Layout(Graph& g)
{
    RECT rc;
    GetClientRect(g.hwnd, &rc);
    int x = 4;
    for (int i = 0; i < 6; ++i) {
        int w = i < 4 ? 84 : 110;
        MoveWindow(g.buttons[i], x, 3, w, kBar - 6, TRUE);
        x += w + (i == 3 ? 16 : 4);
    }
    MoveWindow(g.list, 4, kBar, kListWidth - 8, rc.bottom - kBar - 4, TRUE);
    g.dirty = true;
}

void SetRange(Graph& g, int range)
{
    g.range = std::clamp(range, 0, 3);
    for (int i = 0; i < 4; ++i)
        SendMessageA(g.buttons[i], BM_SETCHECK, i == g.range ? BST_CHECKED : BST_UNCHECKED, 0);
    Load(g);
    InvalidateRect(g.hwnd, nullptr, FALSE);
}

LRESULT CALLBACK GraphProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Graph* g = FromWindow(hwnd);
    switch (msg) {
    case WM_CREATE: {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        g = static_cast<Graph*>(cs->lpCreateParams);
        g->hwnd = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(g));
        HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        for (int i = 0; i < 6; ++i) {
            bool radio = i < 4;
            int id = radio ? kIdRangeFirst + i : (i == 4 ? kIdCopy : kIdSave);
            g->buttons[i] = CreateWindowA("BUTTON", Text(GraphStrLastHour + i).c_str(),
                WS_CHILD | WS_VISIBLE | WS_TABSTOP | (radio ? BS_AUTORADIOBUTTON | BS_PUSHLIKE : BS_PUSHBUTTON), 0, 0,
                10, 10, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), G().instance, nullptr);
            SendMessageA(g->buttons[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
        g->list = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | LBS_EXTENDEDSEL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 0, 0,
            10, 10, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdList)), G().instance, nullptr);
        SendMessageA(g->list, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        Layout(*g);
        SetRange(*g, g->range);
        SetTimer(hwnd, kTimerRefresh, 10000, nullptr);
        return 0;
    }
    case WM_SIZE:
        if (g) {
            Layout(*g);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (g) {
            RECT bar;
            GetClientRect(hwnd, &bar);
            RECT left = bar;
            left.right = kListWidth;
            bar.bottom = kBar;
            FillRect(dc, &bar, GetSysColorBrush(COLOR_BTNFACE));
            FillRect(dc, &left, GetSysColorBrush(COLOR_BTNFACE));
            Paint(*g, dc);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (g) {
            Point(*g, static_cast<short>(LOWORD(lParam)));
            RECT r;
            GetClientRect(hwnd, &r);
            r.left = kListWidth;
            r.top = kBar;
            InvalidateRect(hwnd, &r, FALSE);
        }
        return 0;
    case WM_TIMER:
        if (g && wParam == kTimerRefresh) {
            Load(*g);
            if (g->mouseX >= 0)
                Point(*g, g->mouseX);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_COMMAND:
        if (!g)
            break;
        if (LOWORD(wParam) >= kIdRangeFirst && LOWORD(wParam) < kIdRangeFirst + 4) {
            SetRange(*g, LOWORD(wParam) - kIdRangeFirst);
        } else if (LOWORD(wParam) == kIdCopy) {
            CopyPicture(*g);
        } else if (LOWORD(wParam) == kIdSave) {
            AskSave(*g);
        } else if (LOWORD(wParam) == kIdList && HIWORD(wParam) == LBN_SELCHANGE) {
            g->wanted.clear();
            int n = static_cast<int>(SendMessageA(g->list, LB_GETCOUNT, 0, 0));
            for (int i = 0; i < n && static_cast<size_t>(i) < g->names.size(); ++i)
                if (SendMessageA(g->list, LB_GETSEL, i, 0) > 0)
                    g->wanted.push_back(g->names[static_cast<size_t>(i)]);
            Load(*g);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, kTimerRefresh);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0); // the record goes now
        if (g) {
            auto& all = G().graphs;
            for (auto it = all.begin(); it != all.end(); ++it)
                if (it->get() == g) {
                    all.erase(it);
                    break;
                }
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

Graph* Newest()
{
    return G().graphs.empty() ? nullptr : G().graphs.back().get();
}
} // namespace

TrendStore* GraphStart(HINSTANCE instance, const std::string& directory)
{
    G().instance = instance;
    std::string dir = directory;
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/'))
        dir.pop_back();
    G().store = std::make_unique<TrendStore>(TrendStoreDir(dir.empty() ? "." : dir));
    G().store->StartWriter();
    WNDCLASSA wc {};
    wc.lpfnWndProc = GraphProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_CROSS);
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.lpszClassName = kGraphClass;
    RegisterClassA(&wc);
    return G().store.get();
}

void GraphStop()
{
    GraphCloseAll();
    G().store.reset();
}

void GraphAddMenuEntry(HMENU menu, UINT id)
{
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, id, Text(GraphStrOpen).c_str());
}

void GraphAddButton(HWND page, int id)
{
    RECT r { 80, 80, 150, 94 }; // dialog units, below the password
    MapDialogRect(page, &r);
    HWND b = CreateWindowA("BUTTON", Text(GraphStrOpen).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
        r.left, r.top, r.right - r.left, r.bottom - r.top, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(page, GWLP_HINSTANCE)), nullptr);
    SendMessageA(b, WM_SETFONT, SendMessageA(page, WM_GETFONT, 0, 0), FALSE);
}

void GraphOpenItem(HWND owner, EngineItem& item)
{
    std::vector<std::string> refs;
    std::string name = item.Name();
    for (size_t n = 1; n <= std::max<size_t>(1, item.oids.size()); ++n)
        refs.push_back(n == 1 ? name : name + ":" + std::to_string(n));
    // Only what is kept is selected (an item's text objects keep nothing).
    std::vector<std::string> kept
        = G().store ? TrendSeriesNames(G().store->Dir(), item.device->address) : std::vector<std::string> {};
    std::vector<std::string> wanted;
    for (const std::string& r : refs)
        if (std::find(kept.begin(), kept.end(), r) != kept.end())
            wanted.push_back(r);
    GraphOpen(owner, item.device->address, item.device->AddressText(), wanted.empty() ? refs : wanted);
}

void GraphOpen(HWND owner, uint32_t address, const std::string& title, const std::vector<std::string>& refs)
{
    for (auto& g : G().graphs)
        if (g->address == address) {
            if (!refs.empty()) {
                g->wanted = refs;
                Load(*g);
                InvalidateRect(g->hwnd, nullptr, FALSE);
            }
            ShowWindow(g->hwnd, SW_SHOWNORMAL);
            SetForegroundWindow(g->hwnd);
            return;
        }
    auto g = std::make_unique<Graph>();
    g->address = address;
    g->title = title;
    g->wanted = refs;
    if (refs.empty() && G().store)
        g->wanted = TrendSeriesNames(G().store->Dir(), address);
    Graph* raw = g.get();
    G().graphs.push_back(std::move(g));
    std::string caption = Fill(Text(GraphStrTitle), title);
    HWND hwnd = CreateWindowExA(0, kGraphClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 820,
        440, owner, nullptr, G().instance, raw);
    if (!hwnd) {
        G().graphs.pop_back();
        return;
    }
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
}

void GraphCloseAll()
{
    while (!G().graphs.empty()) {
        HWND h = G().graphs.back()->hwnd;
        DestroyWindow(h);
        if (!G().graphs.empty() && G().graphs.back()->hwnd == h)
            G().graphs.pop_back();
    }
}

std::string GraphTestCommand(const TestCtlCommand& c)
{
    if (c.verb != "graph")
        return "";
    std::vector<std::string> words = TestCtlWords(c.rest);
    if (words.empty())
        return TestCtlError("graph what?");
    const std::string& what = words[0];
    if (what == "open") {
        if (words.size() < 2)
            return TestCtlError("graph open ADDRESS [REF]...");
        unsigned a, b, cc, d;
        char end;
        if (std::sscanf(words[1].c_str(), "%u.%u.%u.%u%c", &a, &b, &cc, &d, &end) != 4 || a > 255 || b > 255 || cc > 255
            || d > 255)
            return TestCtlError("bad address " + words[1]);
        uint32_t address = a | b << 8 | cc << 16 | d << 24; // network order
        GraphOpen(nullptr, address, words[1], std::vector<std::string>(words.begin() + 2, words.end()));
        Graph* g = Newest();
        return g ? "ok window=" + TestCtlHandle(reinterpret_cast<uintptr_t>(g->hwnd)) + "\n"
                 : TestCtlError("not opened");
    }
    Graph* g = Newest();
    if (!g)
        return TestCtlError("no graph window");
    if (what == "range") {
        static const char* names[] = { "hour", "day", "week", "all" };
        for (int i = 0; i < 4; ++i)
            if (words.size() > 1 && words[1] == names[i]) {
                SetRange(*g, i);
                return TestCtlOk();
            }
        return TestCtlError("graph range hour|day|week|all");
    }
    if (what == "paint") {
        g->dirty = true;
        RedrawWindow(g->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return StrFormat("ok points=%u columns=%d series=%u ms=%.1f\n", static_cast<unsigned>(g->points), g->columnsFor,
            static_cast<unsigned>(g->shown.size()), g->lastPaintMs);
    }
    if (what == "point") {
        if (words.size() < 2)
            return TestCtlError("graph point X");
        Point(*g, std::atoi(words[1].c_str()));
        RedrawWindow(g->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return "ok " + TestCtlEscape(g->pointer) + "\n";
    }
    if (what == "save") {
        if (words.size() < 2)
            return TestCtlError("graph save FILE");
        return SaveCsv(*g, words[1]) ? TestCtlOk() : TestCtlError("cannot write " + words[1]);
    }
    if (what == "copy") {
        if (!CopyPicture(*g))
            return TestCtlError("clipboard");
        bool has = IsClipboardFormatAvailable(CF_BITMAP) != 0;
        return StrFormat("ok bitmap=%d\n", has ? 1 : 0);
    }
    if (what == "close") {
        DestroyWindow(g->hwnd);
        return TestCtlOk();
    }
    return TestCtlError("unknown graph command " + what);
}
