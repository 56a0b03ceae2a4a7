// What the monitor's windows decide without a window system: the taskbar icon's image, the ending
// rules, the display window's saved settings and its cell layout.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Taskbar images.
enum class TrayImage : uint8_t { Idle = 0, Connected = 1, Error = 2 };
// What the icon needs of one device.
struct TrayDeviceState {
    bool noAnswer = false;
    bool registered = true;
    uint32_t errors = 0; // shown items with the error flag
    uint32_t connects = 0; // shown items with the connect flag
};
// Error when any device does not answer, is not registered or shows an error item; else Connected when
// any device shows a connect item; else Idle.
TrayImage ChooseTrayImage(const std::vector<TrayDeviceState>& devices);

// Ending. What stays visible: the main window when visible, the taskbar icon when shown, each open
// display window, accounting view and VPN view.
struct VisibleThings {
    bool mainWindow = false;
    bool trayIcon = false;
    uint32_t displayWindows = 0;
    uint32_t views = 0;
};
uint32_t CountVisible(const VisibleThings& visible);
enum class EndAction : uint8_t {
    CloseOnly, // hide the main window, remove the icon, or close the one window: other things stay
    Ask, // ask "Do you wish to end ...?" and end on Yes
    End, // end without asking ("DontAskForExit", or the session ends)
};
// The user closes one visible thing (the main window, the icon through "Remove from Taskbar", a display
// window or a view); `visible` counts it too.
EndAction ChooseEndAction(const VisibleThings& visible, bool dontAskForExit);
// Log-off or shutdown: saved and ended without asking, whatever is visible.
constexpr EndAction kSessionEndAction = EndAction::End;

// A display window's saved state: "_Options" = "%d,%d,%d,0x%08x,0x%08x" and optionally ",%d" (open at the
// end, always on top, scroll position, text colour, background colour as 0x00BBGGRR, opacity 0 to 255).
constexpr uint32_t kDefaultLcdColor = 0xff000000; // the system's button colours
struct DisplayOptions {
    bool open = false;
    bool onTop = false;
    int32_t scroll = 0;
    uint32_t text = kDefaultLcdColor;
    uint32_t back = kDefaultLcdColor;
    std::optional<uint8_t> opacity; // written only when set
    bool operator==(const DisplayOptions&) const = default;
};
std::string FormatDisplayOptions(const DisplayOptions& options);
// Fewer than five numbers: none. A colour other than the default marker keeps its low 24 bits; a
// negative scroll position reads as 0, an opacity above 255 as 255.
std::optional<DisplayOptions> ParseDisplayOptions(std::string_view text);
// The 16 custom colours of the colour dialog ("CustomLcdColors"): "0x%06x" each, joined by ",". Missing or
// unreadable entries read as white.
using LcdCustomColors = std::array<uint32_t, 16>;
std::string FormatLcdColors(const LcdCustomColors& colors);
LcdCustomColors ParseLcdColors(std::string_view text);

// The panel: glyphs from a bitmap of two rows of 128 glyphs (codes 0-127 above, 128-255 below).
constexpr int kDisplayColumns = 20;
constexpr int kDisplayErrorCells = 32;
constexpr uint8_t kDisplayErrorGlyph = 127;
struct GlyphCell {
    int width = 0;
    int height = 0;
};
GlyphCell DisplayCellSize(int bitmapWidth, int bitmapHeight);
// Where a character's glyph lies in the bitmap.
void DisplayGlyphOrigin(uint8_t code, const GlyphCell& cell, int* x, int* y);
// The cells of one line: the item's text padded with blanks to `columns`, or 32 error glyphs while the
// device does not answer or is not registered. A text longer than the window keeps its tail (the
// scroll bar is vertical only, so it is cut where it is drawn).
std::string DisplayLineCells(std::string_view text, bool deviceError, int columns = kDisplayColumns);
// The inside of the panel for `lines` lines: 20 cells wide, a border of one pixel.
void DisplayClientSize(const GlyphCell& cell, int lines, int* width, int* height);
// The first line shown for a wanted scroll position, with `visible` lines fitting: 0 to lines - visible.
int32_t DisplayClampScroll(int32_t wanted, int lines, int visible);
// A flashing line is shown in the first half of each period of twice the caret blink rate.
bool DisplayFlashShown(uint64_t nowMs, uint32_t blinkMs);

// The taskbar tip: the product name and a summary of the devices, "Travik - 3 devices, 1 not answering,
// 1 refusing registration" (string table texts), no longer than `maxLength` characters: the parts that
// do not fit whole are left out from the end.
struct TrayTipCounts {
    uint32_t devices = 0;
    uint32_t noAnswer = 0;
    uint32_t refused = 0; // answering, registration refused
};
std::string TrayTipText(const std::string& product, const TrayTipCounts& counts, size_t maxLength);

// Screen rectangles (left, top, right, bottom) for the placement of the windows the main window opens.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const
    {
        return right - left;
    }
    int Height() const
    {
        return bottom - top;
    }
    bool operator==(const ScreenRect&) const = default;
};
// Where a window of `width` x `height` opens first beside the main window `main` inside the work area
// `work`: right of it, else left, else below, else above; where none has room, over the main window's
// lower part, never above `mainClientTop` (the top of its client area: its title bar and menu stay
// free). `cascade` shifts the n-th window opened so that windows placed together do not hide each
// other. A window larger than the work area is cut to it. The window's rectangle is returned.
ScreenRect PlaceBesideMain(
    const ScreenRect& main, int mainClientTop, int width, int height, const ScreenRect& work, int cascade = 0);
// The main window's size with no stored placement: a useful part of the work area, at least 560 x 480
// where the screen has room.
void MainWindowDefaultSize(const ScreenRect& work, int* width, int* height);
// The display window's columns: wide enough for its longest line, at least 20, at most `fitColumns`
// (what the work area holds; at least 1).
int DisplayWindowColumns(const std::vector<std::string>& lines, int fitColumns);
