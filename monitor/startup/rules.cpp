#include "monitor/startup/rules.h"

#include "common/strings.h"
#include "common/text.h"
#include "monitor/startup/texts.h"

#include <algorithm>

TrayImage ChooseTrayImage(const std::vector<TrayDeviceState>& devices)
{
    bool connected = false;
    for (const TrayDeviceState& d : devices) {
        if (d.noAnswer || !d.registered || d.errors > 0)
            return TrayImage::Error;
        connected = connected || d.connects > 0;
    }
    return connected ? TrayImage::Connected : TrayImage::Idle;
}

uint32_t CountVisible(const VisibleThings& v)
{
    return (v.mainWindow ? 1u : 0u) + (v.trayIcon ? 1u : 0u) + v.displayWindows + v.views;
}

EndAction ChooseEndAction(const VisibleThings& visible, bool dontAskForExit)
{
    if (CountVisible(visible) > 1)
        return EndAction::CloseOnly;
    return dontAskForExit ? EndAction::End : EndAction::Ask;
}

std::string FormatDisplayOptions(const DisplayOptions& o)
{
    std::string text = StrFormat("%d,%d,%d,0x%08x,0x%08x", o.open ? 1 : 0, o.onTop ? 1 : 0, o.scroll, o.text, o.back);
    if (o.opacity)
        text += StrFormat(",%d", *o.opacity);
    return text;
}

namespace {
// The numbers of a comma-separated list (base prefixes, a leading minus); an unreadable field stops it.
std::vector<int64_t> Numbers(std::string_view text)
{
    std::vector<int64_t> out;
    while (true) {
        size_t comma = text.find(',');
        std::string_view field = Trim(text.substr(0, comma));
        bool negative = !field.empty() && field[0] == '-';
        if (negative)
            field.remove_prefix(1);
        size_t used = 0;
        uint32_t value = ParseUnsigned(field, &used);
        if (used == 0 || used != field.size())
            break;
        out.push_back(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return out;
}

uint32_t Color(int64_t value)
{
    uint32_t c = static_cast<uint32_t>(value);
    return c == kDefaultLcdColor ? c : (c & 0xffffffu);
}
} // namespace

std::optional<DisplayOptions> ParseDisplayOptions(std::string_view text)
{
    std::vector<int64_t> n = Numbers(text);
    if (n.size() < 5)
        return std::nullopt;
    DisplayOptions o;
    o.open = n[0] != 0;
    o.onTop = n[1] != 0;
    o.scroll = static_cast<int32_t>(std::clamp<int64_t>(n[2], 0, INT32_MAX));
    o.text = Color(n[3]);
    o.back = Color(n[4]);
    if (n.size() > 5)
        o.opacity = static_cast<uint8_t>(std::clamp<int64_t>(n[5], 0, 255));
    return o;
}

std::string FormatLcdColors(const LcdCustomColors& colors)
{
    std::string text;
    for (size_t i = 0; i < colors.size(); ++i)
        text += StrFormat(i ? ",0x%06x" : "0x%06x", colors[i] & 0xffffffu);
    return text;
}

LcdCustomColors ParseLcdColors(std::string_view text)
{
    LcdCustomColors colors;
    colors.fill(0xffffff);
    std::vector<int64_t> n = Numbers(text);
    for (size_t i = 0; i < n.size() && i < colors.size(); ++i)
        colors[i] = static_cast<uint32_t>(n[i]) & 0xffffffu;
    return colors;
}

GlyphCell DisplayCellSize(int bitmapWidth, int bitmapHeight)
{
    return GlyphCell { std::max(bitmapWidth, 0) / 128, std::max(bitmapHeight, 0) / 2 };
}

void DisplayGlyphOrigin(uint8_t code, const GlyphCell& cell, int* x, int* y)
{
    *x = (code % 128) * cell.width;
    *y = (code / 128) * cell.height;
}

std::string DisplayLineCells(std::string_view text, bool deviceError, int columns)
{
    if (deviceError)
        return std::string(kDisplayErrorCells, static_cast<char>(kDisplayErrorGlyph));
    std::string cells(text);
    if (cells.size() < static_cast<size_t>(std::max(columns, 0)))
        cells.resize(static_cast<size_t>(columns), ' ');
    return cells;
}

void DisplayClientSize(const GlyphCell& cell, int lines, int* width, int* height)
{
    *width = kDisplayColumns * cell.width + 2;
    *height = std::max(lines, 0) * cell.height + 2;
}

int32_t DisplayClampScroll(int32_t wanted, int lines, int visible)
{
    int32_t last = std::max(lines - std::max(visible, 0), 0);
    return std::clamp<int32_t>(wanted, 0, last);
}

bool DisplayFlashShown(uint64_t nowMs, uint32_t blinkMs)
{
    if (blinkMs == 0)
        return true;
    return (nowMs / blinkMs) % 2 == 0;
}

std::string TrayTipText(const std::string& product, const TrayTipCounts& counts, size_t maxLength)
{
    std::vector<std::string> parts;
    if (counts.devices == 0)
        parts.push_back(StrLoad(talvine_Strings(), TvStrTipNoDevices));
    else if (counts.devices == 1)
        parts.push_back(StrLoad(talvine_Strings(), TvStrTipOneDevice));
    else
        parts.push_back(StrFormat(StrLoad(talvine_Strings(), TvStrTipDevices).c_str(), counts.devices));
    if (counts.devices > 0 && counts.noAnswer == 0 && counts.refused == 0)
        parts.push_back(StrLoad(talvine_Strings(), TvStrTipAllAnswering));
    if (counts.noAnswer > 0)
        parts.push_back(StrFormat(StrLoad(talvine_Strings(), TvStrTipNotAnswering).c_str(), counts.noAnswer));
    if (counts.refused > 0)
        parts.push_back(StrFormat(StrLoad(talvine_Strings(), TvStrTipRefusing).c_str(), counts.refused));
    std::string tip = product;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string next = tip + (i == 0 ? " - " : ", ") + parts[i];
        if (next.size() > maxLength)
            break;
        tip = std::move(next);
    }
    return tip.substr(0, maxLength);
}

ScreenRect PlaceBesideMain(
    const ScreenRect& main, int mainClientTop, int width, int height, const ScreenRect& work, int cascade)
{
    width = std::max(1, std::min(width, work.Width()));
    height = std::max(1, std::min(height, work.Height()));
    int shift = cascade * 24;
    auto clampX = [&](int x) { return std::clamp(x, work.left, work.right - width); };
    auto clampY = [&](int y) { return std::clamp(y, work.top, work.bottom - height); };
    auto at = [&](int x, int y) { return ScreenRect { x, y, x + width, y + height }; };
    if (main.right + width <= work.right)
        return at(main.right, clampY(main.top + shift));
    if (main.left - width >= work.left)
        return at(main.left - width, clampY(main.top + shift));
    if (main.bottom + height <= work.bottom)
        return at(clampX(main.left + shift), main.bottom);
    if (main.top - height >= work.top)
        return at(clampX(main.left + shift), main.top - height);
    // No room outside it: over its lower right part, its title bar and menu left free where the work
    // area allows.
    int y = std::max(mainClientTop + shift, std::min(main.bottom, work.bottom) - height);
    return at(clampX(std::min(main.right, work.right) - width - shift), clampY(y));
}

void MainWindowDefaultSize(const ScreenRect& work, int* width, int* height)
{
    *width = std::min(work.Width(), std::max(560, work.Width() * 2 / 5));
    *height = std::min(work.Height(), std::max(480, work.Height() * 3 / 5));
}

int DisplayWindowColumns(const std::vector<std::string>& lines, int fitColumns)
{
    size_t longest = kDisplayColumns;
    for (const std::string& line : lines)
        longest = std::max(longest, line.size());
    return std::max(1, std::min(static_cast<int>(longest), fitColumns));
}
