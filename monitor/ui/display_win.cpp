#include "monitor/ui/display_win.h"

#include "common/ini.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "monitor/engine/engine.h"
#include "monitor/objtree/expr.h"
#include "monitor/startup/rules.h"
#include "monitor/startup/startup.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/views_win.h"

#include <algorithm>
#include <commdlg.h>
#include <map>
#include <string>

namespace {
constexpr UINT_PTR kFlashTimer = 1;
constexpr UINT kCmdDefaultColors = 3101;
constexpr UINT kCmdForeground = 3102;
constexpr UINT kCmdBackground = 3103;
constexpr int kMinColumns = 6; // the narrowest the user may make it

struct Display {
    HWND window = nullptr;
    EngineDevice* device = nullptr;
    DisplayOptions options;
    bool flashShown = true;
    // The size follows the lines (as tall as they are, as wide as the longest, within the work area)
    // until the user sizes the window or a stored placement gives its size.
    bool sized = false;
    int columns = kDisplayColumns;
};

HINSTANCE g_instance;
HBITMAP g_glyphs; // two rows of 128 glyphs, 1 bit per pixel (set: background)
GlyphCell g_cell;
std::map<EngineDevice*, Display> g_displays;

std::string Ini()
{
    return TalvineGlobalsGet().paths.settingsFile;
}

std::string Key(EngineDevice& d, const char* suffix)
{
    return d.AddressText() + suffix;
}

// The glyphs: the printable characters of the system's fixed font, drawn once; code 127 a full block
// (the cell of a device that does not answer).
void MakeGlyphs()
{
    if (g_glyphs)
        return;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HFONT font = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
    HGDIOBJ oldFont = SelectObject(dc, font);
    TEXTMETRICA tm {};
    GetTextMetricsA(dc, &tm);
    g_cell = GlyphCell { tm.tmAveCharWidth + 1, tm.tmHeight + 2 };
    g_glyphs = CreateBitmap(128 * g_cell.width, 2 * g_cell.height, 1, 1, nullptr);
    HGDIOBJ oldBitmap = SelectObject(dc, g_glyphs);
    RECT all { 0, 0, 128 * g_cell.width, 2 * g_cell.height };
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    for (int code = 32; code < 256; ++code) {
        int x = 0, y = 0;
        DisplayGlyphOrigin(static_cast<uint8_t>(code), g_cell, &x, &y);
        if (code == kDisplayErrorGlyph) {
            RECT block { x + 1, y + 1, x + g_cell.width - 1, y + g_cell.height - 1 };
            FillRect(dc, &block, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            continue;
        }
        char c = static_cast<char>(code);
        TextOutA(dc, x, y + 1, &c, 1);
    }
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

COLORREF TextColour(const Display& d)
{
    return d.options.text == kDefaultLcdColor ? GetSysColor(COLOR_BTNTEXT) : d.options.text;
}
COLORREF BackColour(const Display& d)
{
    return d.options.back == kDefaultLcdColor ? GetSysColor(COLOR_BTNFACE) : d.options.back;
}

std::string LineText(EngineItem& item)
{
    ScriptContext ctx;
    ctx.item = item.object;
    ctx.device = item.device->object.get();
    ctx.runtime = item.device;
    return ItemText(*item.object, item.state, ctx);
}

void UpdateTitle(Display& d)
{
    std::string title;
    for (const auto& item : d.device->items) {
        title = LineText(*item);
        break;
    }
    SetWindowTextA(d.window, title.c_str());
}

int LineCount(const Display& d)
{
    return static_cast<int>(d.device->display.size());
}

RECT WorkArea(HWND window)
{
    return GetMonitorWorkArea(window);
}

// The frame around a client area of the given size.
SIZE FrameSize(HWND window, int clientWidth, int clientHeight)
{
    RECT r { 0, 0, clientWidth + GetSystemMetrics(SM_CXVSCROLL), clientHeight };
    AdjustWindowRectEx(&r, GetWindowLongA(window, GWL_STYLE), FALSE, GetWindowLongA(window, GWL_EXSTYLE));
    return SIZE { r.right - r.left, r.bottom - r.top };
}

// Whole lines and cells that the client area shows.
int VisibleLines(const Display& d)
{
    RECT client;
    GetClientRect(d.window, &client);
    return std::max(1, static_cast<int>(client.bottom - 2) / std::max(g_cell.height, 1));
}
int VisibleColumns(const Display& d)
{
    RECT client;
    GetClientRect(d.window, &client);
    return std::max(1, static_cast<int>(client.right - 2) / std::max(g_cell.width, 1));
}

// The window's size for its lines (until the user sizes it) and the scroll bar's range.
void Layout(Display& d)
{
    if (!d.sized) {
        RECT work = WorkArea(d.window);
        SIZE frame = FrameSize(d.window, 0, 0);
        int fitColumns = std::max(1, static_cast<int>(work.right - work.left - frame.cx - 2) / g_cell.width);
        int fitLines = std::max(1, static_cast<int>(work.bottom - work.top - frame.cy - 2) / g_cell.height);
        std::vector<std::string> texts;
        for (const auto& item : d.device->display)
            if (item->shown && !d.device->Error())
                texts.push_back(LineText(*item));
        // Wider when a line needs it, never narrower by itself (texts change every poll).
        d.columns = std::max(d.columns, DisplayWindowColumns(texts, fitColumns));
        int lines = std::max(1, std::min(LineCount(d), fitLines));
        int width = 0, height = 0;
        DisplayClientSize(g_cell, lines, &width, &height);
        width += (d.columns - kDisplayColumns) * g_cell.width;
        SIZE size = FrameSize(d.window, width, height);
        RECT now;
        GetWindowRect(d.window, &now);
        if (now.right - now.left != size.cx || now.bottom - now.top != size.cy)
            SetWindowPos(d.window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    int visible = VisibleLines(d);
    d.options.scroll = DisplayClampScroll(d.options.scroll, LineCount(d), visible);
    SCROLLINFO si { sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL, 0, std::max(LineCount(d) - 1, 0),
        static_cast<UINT>(visible), d.options.scroll, 0 };
    SetScrollInfo(d.window, SB_VERT, &si, TRUE);
}

void Paint(Display& d, HDC dc)
{
    RECT client;
    GetClientRect(d.window, &client);
    HBRUSH back = CreateSolidBrush(BackColour(d));
    FillRect(dc, &client, back);
    DeleteObject(back);
    HDC glyphs = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(glyphs, g_glyphs);
    // A monochrome source takes the text colour for its 0 bits and the background colour for its 1 bits.
    SetTextColor(dc, TextColour(d));
    SetBkColor(dc, BackColour(d));
    bool error = d.device->Error();
    int y = 1;
    for (int line = d.options.scroll; line < LineCount(d) && y < client.bottom; ++line, y += g_cell.height) {
        EngineItem& item = *d.device->display[static_cast<size_t>(line)];
        if (!error && (item.object->Flags(item.state) & 4) && !d.flashShown)
            continue;
        int columns = VisibleColumns(d);
        std::string cells = DisplayLineCells(item.shown ? LineText(item) : std::string(), error, columns);
        for (int col = 0; col < columns && col < static_cast<int>(cells.size()); ++col) {
            int gx = 0, gy = 0;
            DisplayGlyphOrigin(static_cast<uint8_t>(cells[static_cast<size_t>(col)]), g_cell, &gx, &gy);
            BitBlt(dc, 1 + col * g_cell.width, y, g_cell.width, g_cell.height, glyphs, gx, gy, SRCCOPY);
        }
    }
    SelectObject(glyphs, old);
    DeleteDC(glyphs);
}

void SaveState(Display& d, bool open)
{
    d.options.open = open;
    IniWriteString(
        Ini(), kSectionDisplayWindow, Key(*d.device, "_Options").c_str(), FormatDisplayOptions(d.options).c_str());
    SaveWindowPlacement(d.window, Ini().c_str(), kSectionDisplayWindow, Key(*d.device, "_WindowPos").c_str(), 0);
}

void ApplyOnTopAndOpacity(Display& d)
{
    SetWindowPos(d.window, d.options.onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
        SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!d.options.opacity)
        return;
    // Layered windows where the platform has them (bound by name).
    using SetLayered = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
    auto set = reinterpret_cast<SetLayered>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "SetLayeredWindowAttributes")));
    if (!set)
        return;
    SetWindowLongA(d.window, GWL_EXSTYLE, GetWindowLongA(d.window, GWL_EXSTYLE) | WS_EX_LAYERED);
    set(d.window, 0, *d.options.opacity, LWA_ALPHA);
}

bool ChooseLcdColour(Display& d, uint32_t* colour)
{
    LcdCustomColors custom = ParseLcdColors(IniGetString(Ini(), kSectionDisplayWindow, "CustomLcdColors", ""));
    COLORREF table[16];
    for (size_t i = 0; i < 16; ++i)
        table[i] = custom[i];
    CHOOSECOLORA cc {};
    cc.lStructSize = sizeof cc;
    cc.hwndOwner = d.window;
    cc.lpCustColors = table;
    cc.rgbResult = *colour == kDefaultLcdColor ? GetSysColor(COLOR_BTNTEXT) : *colour;
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    bool chosen = ChooseColorA(&cc) != 0;
    for (size_t i = 0; i < 16; ++i)
        custom[i] = table[i];
    IniWriteString(Ini(), kSectionDisplayWindow, "CustomLcdColors", FormatLcdColors(custom).c_str());
    if (chosen)
        *colour = cc.rgbResult & 0xffffffu;
    return chosen;
}

Display* Of(HWND window)
{
    for (auto& [device, d] : g_displays)
        if (d.window == window)
            return &d;
    return nullptr;
}

void Close(Display& d, bool save)
{
    EngineDevice* device = d.device;
    if (save)
        SaveState(d, false);
    KillTimer(d.window, kFlashTimer);
    HWND window = d.window;
    g_displays.erase(device);
    device->engine->AttachDisplay(*device, false);
    DestroyWindow(window);
}

LRESULT CALLBACK DisplayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Display* d = Of(window);
    if (!d)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        Paint(*d, dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        if (g_cell.height > 0) {
            Layout(*d);
            InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    case WM_EXITSIZEMOVE: {
        // Sized by the user: kept as it is from now on.
        RECT now;
        GetWindowRect(window, &now);
        SIZE wanted = FrameSize(window, d->columns * g_cell.width + 2, 0);
        if (now.right - now.left != wanted.cx || VisibleLines(*d) < LineCount(*d))
            d->sized = true;
        return 0;
    }
    case WM_GETMINMAXINFO: {
        SIZE least = FrameSize(window, kMinColumns * g_cell.width + 2, g_cell.height + 2);
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = { least.cx, least.cy };
        return 0;
    }
    case WM_TIMER:
        if (wParam == kFlashTimer) {
            d->flashShown = !d->flashShown;
            InvalidateRect(window, nullptr, FALSE);
        }
        return 0;
    case WM_VSCROLL: {
        SCROLLINFO si {};
        si.cbSize = sizeof si;
        si.fMask = SIF_ALL;
        GetScrollInfo(window, SB_VERT, &si);
        int pos = si.nPos;
        switch (LOWORD(wParam)) {
        case SB_LINEUP:
            --pos;
            break;
        case SB_LINEDOWN:
            ++pos;
            break;
        case SB_PAGEUP:
            pos -= static_cast<int>(si.nPage);
            break;
        case SB_PAGEDOWN:
            pos += static_cast<int>(si.nPage);
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            pos = si.nTrackPos;
            break;
        }
        d->options.scroll = DisplayClampScroll(pos, LineCount(*d), static_cast<int>(si.nPage));
        SetScrollPos(window, SB_VERT, d->options.scroll, TRUE);
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    }
    case WM_CONTEXTMENU: {
        HMENU menus = LoadMenuA(g_instance, MAKEINTRESOURCEA(IDM_DISPLAY));
        HMENU menu = GetSubMenu(menus, 0);
        CheckMenuItem(menu, IDC_ON_TOP, d->options.onTop ? MF_CHECKED : MF_UNCHECKED);
        POINT at { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
        if (at.x == -1 && at.y == -1)
            GetCursorPos(&at);
        TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
        DestroyMenu(menus);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_REFRESH:
            for (const auto& item : d->device->display)
                d->device->engine->Refresh(item.get());
            break;
        case IDC_ON_TOP:
            d->options.onTop = !d->options.onTop;
            ApplyOnTopAndOpacity(*d);
            break;
        case kCmdDefaultColors:
            d->options.text = kDefaultLcdColor;
            d->options.back = kDefaultLcdColor;
            break;
        case kCmdForeground:
            ChooseLcdColour(*d, &d->options.text);
            break;
        case kCmdBackground:
            ChooseLcdColour(*d, &d->options.back);
            break;
        }
        SaveState(*d, true);
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    case WM_CLOSE:
        if (TalvineMayCloseOne(window))
            Close(*d, true);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

void DisplayRegisterClass(HINSTANCE instance)
{
    g_instance = instance;
    WNDCLASSA wc {};
    wc.lpfnWndProc = DisplayProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kTravikDisplayClass;
    RegisterClassA(&wc);
}

void DisplayOpen(EngineDevice& device)
{
    auto found = g_displays.find(&device);
    if (found != g_displays.end()) {
        ShowWindow(found->second.window, SW_SHOWNORMAL);
        SetForegroundWindow(found->second.window);
        return;
    }
    MakeGlyphs();
    Display& d = g_displays[&device];
    d.device = &device;
    std::string saved = IniGetString(Ini(), kSectionDisplayWindow, Key(device, "_Options"), "");
    if (std::optional<DisplayOptions> o = ParseDisplayOptions(saved))
        d.options = *o;
    d.window = CreateWindowExA(WS_EX_TOOLWINDOW, kTravikDisplayClass, "",
        WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VSCROLL | WS_THICKFRAME, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100,
        nullptr, nullptr, g_instance, nullptr);
    device.engine->AttachDisplay(device, true);
    Layout(d);
    UpdateTitle(d);
    if (RestoreWindowPlacement(d.window, Ini().c_str(), kSectionDisplayWindow, Key(device, "_WindowPos").c_str(), 0)) {
        d.sized = true;
    } else {
        PlaceBesideMainWindow(d.window, static_cast<int>(g_displays.size()) - 1);
    }
    ShowWindow(d.window, SW_SHOWNORMAL);
    ApplyOnTopAndOpacity(d);
    SetTimer(d.window, kFlashTimer, GetCaretBlinkTime(), nullptr);
    SaveState(d, true);
}

std::string DisplayFit(EngineDevice& device)
{
    auto found = g_displays.find(&device);
    if (found == g_displays.end())
        return {};
    Display& d = found->second;
    size_t longest = 0;
    for (const auto& item : device.display)
        if (item->shown)
            longest = std::max(longest, LineText(*item).size());
    return StrFormat("%d %d %d %d", VisibleColumns(d), VisibleLines(d), static_cast<int>(longest), LineCount(d));
}

void DisplayItemChanged(EngineItem& item)
{
    auto found = g_displays.find(item.device);
    if (found == g_displays.end())
        return;
    if (item.display) {
        Layout(found->second);
        InvalidateRect(found->second.window, nullptr, FALSE);
    } else if (!item.parent) {
        UpdateTitle(found->second);
    }
}

void DisplayDeviceChanged(EngineDevice& device)
{
    auto found = g_displays.find(&device);
    if (found != g_displays.end())
        InvalidateRect(found->second.window, nullptr, FALSE);
}

void DisplayDeviceRemoved(EngineDevice& device)
{
    auto found = g_displays.find(&device);
    if (found != g_displays.end())
        Close(found->second, false);
}

unsigned DisplayCount()
{
    return static_cast<unsigned>(g_displays.size());
}

void DisplaySaveAndCloseAll()
{
    while (!g_displays.empty()) {
        Display& d = g_displays.begin()->second;
        SaveState(d, true);
        Close(d, false);
    }
}

void DisplayRestoreAll(Engine& engine)
{
    for (const auto& device : engine.Devices()) {
        std::string saved = IniGetString(Ini(), kSectionDisplayWindow, Key(*device, "_Options"), "");
        std::optional<DisplayOptions> o = ParseDisplayOptions(saved);
        if (o && o->open)
            DisplayOpen(*device);
    }
}
