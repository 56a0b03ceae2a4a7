// kardell.exe: the CD start menu. One window thread: locate and read the menu script, ask the plug-ins,
// establish the file conditions, add the fonts the program carries, show the picture with the menu's
// lines drawn over it, and launch what the user clicks.
#include "cdmenu/cd_env.h"
#include "cdmenu/cd_files.h"
#include "cdmenu/cd_script.h"
#include "cdmenu/ui/plugin_win.h"
#include "cdmenu/ui/resource.h"
#include "cdmenu/ui/texts.h"
#include "common/platform/file.h"
#include "common/platform/instance.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"

#include <windows.h>

#include <commdlg.h>
#include <cstdio>
#include <cstdlib>
#include <mmsystem.h>
#include <set>
#include <shellapi.h>
#include <string>
#include <vector>

namespace {
const char kWindowClass[] = "Zevra Setup";
// Sub-menu lines stand this far right of the line that opens them, per level.
constexpr int kSubMenuIndent = 24;
constexpr UINT_PTR kAnimationTimer = 1;
constexpr int kAnimationSteps = 8;

using AlphaBlendFn = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);

// One line as it stands on the screen (sub-menu lines only while their sub-menu is open).
struct ShownLine {
    const CdLine* line;
    const CdBlock* block;
    size_t blockIndex;
    int depth;
    RECT rect; // the text's extent, client coordinates
};

struct App {
    HINSTANCE instance = nullptr;
    std::string directory; // Kardell's own folder, with the trailing "\"
    std::string scriptPath;
    std::string tempScript; // the "EGS" file holding an embedded script, deleted at exit
    std::vector<std::string> fontFiles; // added font files, removed and deleted at exit
    IniFile script;
    CdContext ctx;
    CdMenu menu;
    CdCommandLine commandLine;
    HWND window = nullptr;
    HBITMAP background = nullptr;
    HBITMAP help = nullptr;
    RECT helpTraced {}; // the help panel's place last traced
    int width = 640, height = 480;
    std::vector<HFONT> blockFonts;
    HCURSOR standardCursor = nullptr, hotspotCursor = nullptr;
    std::set<const CdLine*> open; // open sub-menus
    std::vector<ShownLine> shown;
    int hot = -1; // index into `shown` of the hot spot under the mouse
    bool tracking = false;
    AlphaBlendFn alphaBlend = nullptr;
    int animationStep = kAnimationSteps;
    FILE* trace = nullptr; // KARDELL_TRACE: what the menu shows and does, for the Windows tests
};
App g;

void Trace(const std::string& line)
{
    if (!g.trace)
        return;
    std::fprintf(g.trace, "%s\n", line.c_str());
    std::fflush(g.trace);
}

std::string Str(unsigned id)
{
    return StrLoad(kardell_Strings(), id);
}

// Replaces the "%s" of a string-table text in order (translations are texts, never formats).
std::string Fill(std::string text, const std::vector<std::string>& args)
{
    size_t at = 0;
    for (const std::string& a : args) {
        at = text.find("%s", at);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, a);
        at += a.size();
    }
    return text;
}

void Message(CdMessageKind kind, const std::string& text)
{
    Trace((kind == CdMessageKind::Warning ? "warning " : "error ") + text);
    MessageBoxA(g.window, text.c_str(), Str(kind == CdMessageKind::Warning ? CdStrWarning : CdStrError).c_str(),
        MB_OK | (kind == CdMessageKind::Warning ? MB_ICONWARNING : MB_ICONERROR));
}

std::string SystemErrorText(DWORD code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = text ? text : StrFormat("Error %lu", static_cast<unsigned long>(code));
    if (text)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string TempFileName(const char* prefix)
{
    char dir[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    if (!GetTempPathA(sizeof dir, dir) || !GetTempFileNameA(dir, prefix, 0, name))
        return {};
    return name;
}

bool WriteFileBytes(const std::string& path, const void* data, DWORD size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, data, size, &written, nullptr) && written == size;
    CloseHandle(file);
    return ok;
}

// The script: an embedded "INIFILE" resource written unchanged to an "EGS" temporary file, else
// autorun.inf in Kardell's own folder.
std::string LocateScript()
{
    HRSRC res = FindResourceA(nullptr, "INIFILE", MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    if (res) {
        HGLOBAL loaded = LoadResource(nullptr, res);
        const void* bytes = loaded ? LockResource(loaded) : nullptr;
        DWORD size = SizeofResource(nullptr, res);
        std::string temp = TempFileName("EGS");
        if (bytes && !temp.empty() && WriteFileBytes(temp, bytes, size)) {
            g.tempScript = temp;
            return temp;
        }
        if (!temp.empty())
            DeleteFileA(temp.c_str());
    }
    return g.directory + "autorun.inf";
}

BOOL CALLBACK AddFont(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR)
{
    HRSRC res = FindResourceA(module, name, type);
    HGLOBAL loaded = res ? LoadResource(module, res) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    std::string temp = TempFileName("EGF");
    if (!bytes || temp.empty())
        return TRUE;
    // GDI takes the font from a file of its own kind: the temporary name with ".ttf".
    DeleteFileA(temp.c_str());
    temp += ".ttf";
    if (WriteFileBytes(temp, bytes, SizeofResource(module, res)) && AddFontResourceA(temp.c_str()) > 0) {
        g.fontFiles.push_back(temp);
        Trace("font " + temp);
    } else {
        DeleteFileA(temp.c_str());
    }
    return TRUE;
}

void RemoveFonts()
{
    for (const std::string& f : g.fontFiles) {
        RemoveFontResourceA(f.c_str());
        DeleteFileA(f.c_str());
    }
    g.fontFiles.clear();
}

void ReadEnvironment()
{
    CdEnvironment& env = g.ctx.env;
    env.languageId = GetUserInterfaceLanguage(nullptr, 0);
    env.language = CdLanguageName(env.languageId);
    if (env.language.empty()) {
        char name[256] = {};
        GetLocaleInfoA(MAKELCID(env.languageId, SORT_DEFAULT), LOCALE_SENGLANGUAGE, name, sizeof name);
        env.language = name;
    }
    char country[256] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SENGCOUNTRY, country, sizeof country);
    env.country = country;
    OSVERSIONINFOA version {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    env.system = CdSystemName(version.dwPlatformId == VER_PLATFORM_WIN32_NT,
        version.dwPlatformId == VER_PLATFORM_WIN32s, version.dwMajorVersion, version.dwMinorVersion);
    CdApplyCommandLine(g.commandLine, &env);
}

COLORREF Rgb(const CdColor& c)
{
    return RGB(c.r, c.g, c.b);
}

HFONT MakeFont(const CdTextStyle& s)
{
    return CreateFontA(-s.fontHeight, 0, 0, 0, (s.fontFlags & kCdFontBold) ? FW_BOLD : FW_NORMAL,
        (s.fontFlags & kCdFontItalic) != 0, (s.fontFlags & kCdFontUnderlined) != 0,
        (s.fontFlags & kCdFontStrikeout) != 0, DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
        DEFAULT_PITCH | FF_SWISS, s.fontName.c_str());
}

void PlaySoundNamed(const std::string& name)
{
    if (name.empty())
        return;
    // A sound resource of the program, else a file; silent without a sound device.
    if (!PlaySoundA(name.c_str(), g.instance, SND_RESOURCE | SND_ASYNC | SND_NODEFAULT))
        PlaySoundA(name.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

void AddShown(const CdBlock& block, size_t blockIndex, const std::vector<CdLine>& lines, int depth, int* y, HDC dc)
{
    for (const CdLine& line : lines) {
        ShownLine s { &line, &block, blockIndex, depth, {} };
        SIZE size {};
        std::string text = line.text.empty() ? " " : line.text;
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
        int x = block.style.textX + depth * kSubMenuIndent;
        // The 3D correction widens the hit area by the raised letters' offset.
        s.rect = { x, *y, x + size.cx + block.style.correction3d, *y + size.cy + block.style.correction3d };
        g.shown.push_back(s);
        *y += block.style.distance;
        if (line.IsSubMenu() && g.open.count(&line))
            AddShown(block, blockIndex, line.subMenu, depth + 1, y, dc);
    }
}

void Layout()
{
    g.shown.clear();
    HDC dc = CreateCompatibleDC(nullptr);
    for (size_t i = 0; i < g.menu.blocks.size(); ++i) {
        const CdBlock& block = g.menu.blocks[i];
        HGDIOBJ old = SelectObject(dc, g.blockFonts[i]);
        int y = block.style.textY;
        AddShown(block, i, block.lines, 0, &y, dc);
        SelectObject(dc, old);
    }
    DeleteDC(dc);
    if (g.trace && g.window) {
        POINT origin { 0, 0 };
        ClientToScreen(g.window, &origin);
        Trace(StrFormat("layout %d %d %d", static_cast<int>(origin.x), static_cast<int>(origin.y),
            static_cast<int>(g.shown.size())));
        for (size_t i = 0; i < g.shown.size(); ++i) {
            const ShownLine& s = g.shown[i];
            Trace(StrFormat("line %d %s %d %d %d %d %d %s", static_cast<int>(i),
                s.block->hotspot ? "hotspot" : "static", s.depth, static_cast<int>(origin.x + s.rect.left),
                static_cast<int>(origin.y + s.rect.top), static_cast<int>(s.rect.right - s.rect.left),
                static_cast<int>(s.rect.bottom - s.rect.top), s.line->text.c_str()));
        }
    }
}

void DrawShadowText(HDC dc, int x, int y, const std::string& text, const CdTextStyle& style, COLORREF color)
{
    if (style.shadowX || style.shadowY) {
        SetTextColor(dc, Rgb(style.shadowColor));
        TextOutA(dc, x + style.shadowX, y + style.shadowY, text.c_str(), static_cast<int>(text.size()));
    }
    SetTextColor(dc, color);
    TextOutA(dc, x, y, text.c_str(), static_cast<int>(text.size()));
}

void DrawHelp(HDC dc, const CdHelpPanel& panel)
{
    int w = panel.width, h = panel.height;
    BITMAP bm {};
    if (g.help)
        GetObjectA(g.help, sizeof bm, &bm);
    if (w <= 0)
        w = g.help ? bm.bmWidth : 240;
    if (h <= 0)
        h = g.help ? bm.bmHeight : 120;
    const CdTextStyle& style = panel.style;
    HFONT font = MakeFont(style);
    HGDIOBJ old = SelectObject(dc, font);
    // Off the shown lines (an open sub-menu reaches under the panel's place), as wide as its text.
    int textWidth = 0;
    for (const std::string& line : panel.text) {
        SIZE size {};
        GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
        textWidth = std::max(textWidth, static_cast<int>(size.cx) + 2 * panel.textOffset + std::abs(style.shadowX));
    }
    std::vector<CdBox> lines;
    for (const ShownLine& s : g.shown)
        if (!s.line->separator && !s.line->text.empty())
            lines.push_back(CdBox { s.rect.left, s.rect.top, s.rect.right, s.rect.bottom });
    CdBox box
        = CdPlaceHelpPanel(CdBox { panel.x, panel.y, panel.x + w, panel.y + h }, lines, textWidth, g.width, g.height);
    RECT r { box.left, box.top, box.right, box.bottom };
    w = box.right - box.left;
    if (g.trace && g.window
        && (r.left != g.helpTraced.left || r.top != g.helpTraced.top || r.right != g.helpTraced.right)) {
        POINT origin { 0, 0 };
        ClientToScreen(g.window, &origin);
        Trace(StrFormat("help %d %d %d %d", static_cast<int>(origin.x + r.left), static_cast<int>(origin.y + r.top),
            static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top)));
        g.helpTraced = r;
    }
    if (g.help) {
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ oldBitmap = SelectObject(mem, g.help);
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchBlt(dc, r.left, r.top, w, h, mem, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
        SelectObject(mem, oldBitmap);
        DeleteDC(mem);
    } else {
        HBRUSH brush = CreateSolidBrush(Rgb(g.menu.helpColor));
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
    if (panel.frame) {
        HBRUSH frame = CreateSolidBrush(Rgb(style.colors.empty() ? CdColor { 255, 255, 255 } : style.colors[0]));
        FrameRect(dc, &r, frame);
        DeleteObject(frame);
    }
    HRGN clip = CreateRectRgnIndirect(&r);
    SelectClipRgn(dc, clip);
    int y = r.top + panel.textOffset;
    COLORREF color = Rgb(style.colors.empty() ? CdColor { 255, 255, 255 } : style.colors[0]);
    for (const std::string& line : panel.text) {
        DrawShadowText(dc, r.left + panel.textOffset, y, line, style, color);
        y += style.distance;
    }
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
    SelectObject(dc, old);
    DeleteObject(font);
}

// The whole picture with the menu, into `dc` (a bitmap of the window's size).
void Render(HDC dc)
{
    RECT all { 0, 0, g.width, g.height };
    if (g.background) {
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(mem, g.background);
        BitBlt(dc, 0, 0, g.width, g.height, mem, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
    } else {
        FillRect(dc, &all, GetSysColorBrush(COLOR_APPWORKSPACE));
    }
    SetBkMode(dc, TRANSPARENT);
    for (size_t i = 0; i < g.shown.size(); ++i) {
        const ShownLine& s = g.shown[i];
        if (s.line->separator || s.line->text.empty())
            continue;
        const CdTextStyle& style = s.block->style;
        bool hot = static_cast<int>(i) == g.hot;
        CdColor color = style.colors.empty() ? CdColor { 255, 255, 255 } : style.colors[0];
        if (hot && style.colors.size() > 1)
            color = style.colors[1];
        HGDIOBJ old = SelectObject(dc, g.blockFonts[s.blockIndex]);
        DrawShadowText(dc, s.rect.left, s.rect.top, s.line->text, style, Rgb(color));
        SelectObject(dc, old);
    }
    if (g.hot >= 0 && g.shown[static_cast<size_t>(g.hot)].line->help)
        DrawHelp(dc, *g.shown[static_cast<size_t>(g.hot)].line->help);
    else
        g.helpTraced = {};
}

void Paint(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP buffer = CreateCompatibleBitmap(dc, g.width, g.height);
    HGDIOBJ old = SelectObject(mem, buffer);
    Render(mem);
    if (g.animationStep < kAnimationSteps && g.alphaBlend) {
        // The opening animation: the picture fades in over black.
        RECT all { 0, 0, g.width, g.height };
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        BLENDFUNCTION blend { AC_SRC_OVER, 0, static_cast<BYTE>(255 * (g.animationStep + 1) / kAnimationSteps), 0 };
        g.alphaBlend(dc, 0, 0, g.width, g.height, mem, 0, 0, g.width, g.height, blend);
    } else {
        BitBlt(dc, 0, 0, g.width, g.height, mem, 0, 0, SRCCOPY);
    }
    SelectObject(mem, old);
    DeleteObject(buffer);
    DeleteDC(mem);
    EndPaint(window, &ps);
}

int HitTest(int x, int y)
{
    for (size_t i = 0; i < g.shown.size(); ++i) {
        const ShownLine& s = g.shown[i];
        if (!s.block->hotspot || s.line->separator || s.line->text.empty())
            continue;
        POINT p { x, y };
        if (PtInRect(&s.rect, p))
            return static_cast<int>(i);
    }
    return -1;
}

void SetHot(int hot)
{
    if (hot == g.hot)
        return;
    g.hot = hot;
    if (hot >= 0)
        Trace("hot " + g.shown[static_cast<size_t>(hot)].line->text);
    InvalidateRect(g.window, nullptr, FALSE);
}

// Closing a sub-menu closes the open sub-menus below it too.
void CloseSubMenu(const CdLine* line)
{
    g.open.erase(line);
    for (const CdLine& sub : line->subMenu)
        if (sub.IsSubMenu())
            CloseSubMenu(&sub);
}

bool IsRelativePath(const std::string& file)
{
    return file.find(':') == std::string::npos && !(file.size() > 0 && (file[0] == '\\' || file[0] == '/'));
}

void Launch(const CdLine& line)
{
    PlaySoundNamed(g.menu.clickWav);
    std::string parameters = CdLaunchParameters(line, g.ctx);
    std::string file = IsRelativePath(line.command) ? g.directory + line.command : line.command;
    SHELLEXECUTEINFOA info {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = g.window;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = g.directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    SetLastError(0);
    if (ShellExecuteExA(&info)) {
        Trace("launch " + file + " [" + parameters + "] ok");
        return;
    }
    DWORD error = GetLastError();
    // No program is associated with the file: the shell's "Open with" lets the user choose one. The
    // shell tells this case by hInstApp (the last error differs between systems).
    if (reinterpret_cast<INT_PTR>(info.hInstApp) == SE_ERR_NOASSOC) {
        std::string openAs = "shell32.dll,OpenAs_RunDLL " + file;
        SHELLEXECUTEINFOA as {};
        as.cbSize = sizeof as;
        as.fMask = SEE_MASK_FLAG_NO_UI;
        as.hwnd = g.window;
        as.lpFile = "rundll32.exe";
        as.lpParameters = openAs.c_str();
        as.lpDirectory = g.directory.c_str();
        as.nShow = SW_SHOWNORMAL;
        BOOL ok = ShellExecuteExA(&as);
        Trace("launch " + file + " noassoc: rundll32.exe " + openAs + (ok ? " ok" : " failed"));
        if (ok)
            return;
        error = GetLastError();
    }
    Trace(StrFormat("launch %s failed %lu", file.c_str(), static_cast<unsigned long>(error)));
    Message(CdMessageKind::Error, Fill(Str(CdStrCannotStart), { line.command, SystemErrorText(error) }));
}

void Click(int index)
{
    const CdLine& line = *g.shown[static_cast<size_t>(index)].line;
    if (line.IsSubMenu()) {
        if (g.open.count(&line))
            CloseSubMenu(&line);
        else
            g.open.insert(&line);
        PlaySoundNamed(g.menu.menuWav);
        Trace(std::string(g.open.count(&line) ? "open " : "close ") + line.text);
        g.hot = -1;
        Layout();
        POINT p;
        GetCursorPos(&p);
        ScreenToClient(g.window, &p);
        g.hot = HitTest(p.x, p.y);
        InvalidateRect(g.window, nullptr, FALSE);
        return;
    }
    if (line.IsExit()) {
        PlaySoundNamed(g.menu.clickWav);
        Trace("exit");
        DestroyWindow(g.window);
        return;
    }
    if (!line.command.empty())
        Launch(line);
}

// The help-bitmap tool: the help panel's part of the picture saved as a bitmap file (to draw a
// help bitmap that fits), or a bitmap file taken as the help panel to try it.
RECT HelpPanelRect()
{
    int x = 0, y = 0, w = 0, h = 0;
    std::string pos = g.script.GetString("Help", "StartPosXY", "");
    std::string ext = g.script.GetString("Help", "StartPosExt", "");
    std::sscanf(pos.c_str(), "%d,%d", &x, &y);
    std::sscanf(ext.c_str(), "%d,%d", &w, &h);
    if (w <= 0 || h <= 0) {
        w = 240;
        h = 120;
    }
    return { x, y, x + w, y + h };
}

std::string FileFilter()
{
    std::string filter = Str(CdStrBitmapFilter);
    for (char& c : filter)
        if (c == '|')
            c = '\0';
    return filter + '\0';
}

void SaveHelpBitmap()
{
    char name[MAX_PATH] = "help.bmp";
    std::string filter = FileFilter();
    std::string title = Str(CdStrSaveHelpBitmap);
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g.window;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = "bmp";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&ofn))
        return;
    RECT r = HelpPanelRect();
    int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFOHEADER bi {};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    std::vector<BYTE> bits(static_cast<size_t>(stride) * static_cast<size_t>(h));
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP part = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, part);
    if (g.background) {
        HDC src = CreateCompatibleDC(screen);
        HGDIOBJ o = SelectObject(src, g.background);
        BitBlt(mem, 0, 0, w, h, src, r.left, r.top, SRCCOPY);
        SelectObject(src, o);
        DeleteDC(src);
    }
    SelectObject(mem, old);
    GetDIBits(mem, part, 0, static_cast<UINT>(h), bits.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    DeleteObject(part);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER fh {};
    fh.bfType = 0x4d42;
    fh.bfOffBits = sizeof fh + sizeof bi;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(bits.size());
    std::string data(reinterpret_cast<const char*>(&fh), sizeof fh);
    data.append(reinterpret_cast<const char*>(&bi), sizeof bi);
    data.append(reinterpret_cast<const char*>(bits.data()), bits.size());
    if (!WriteFileBytes(name, data.data(), static_cast<DWORD>(data.size())))
        Message(CdMessageKind::Error, Fill(Str(CdStrBitmapUnwritable), { name }));
    else
        Trace(std::string("help bitmap saved ") + name);
}

void OpenHelpBitmap()
{
    char name[MAX_PATH] = "";
    std::string filter = FileFilter();
    std::string title = Str(CdStrOpenHelpBitmap);
    OPENFILENAMEA ofn {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g.window;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&ofn))
        return;
    auto bitmap = static_cast<HBITMAP>(LoadImageA(nullptr, name, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE));
    if (!bitmap) {
        Message(CdMessageKind::Error, Fill(Str(CdStrBitmapUnreadable), { name }));
        return;
    }
    if (g.help)
        DeleteObject(g.help);
    g.help = bitmap;
    Trace(std::string("help bitmap opened ") + name);
    InvalidateRect(g.window, nullptr, FALSE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (wParam == kAnimationTimer) {
            if (++g.animationStep >= kAnimationSteps)
                KillTimer(window, kAnimationTimer);
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        if (!g.tracking) {
            TRACKMOUSEEVENT tme { sizeof tme, TME_LEAVE, window, 0 };
            g.tracking = TrackMouseEvent(&tme) != 0;
        }
        SetHot(HitTest(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))));
        return 0;
    case WM_MOUSELEAVE:
        g.tracking = false;
        SetHot(-1);
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(g.hot >= 0 ? g.hotspotCursor : g.standardCursor);
            return TRUE;
        }
        break;
    case WM_LBUTTONUP: {
        int hit = HitTest(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        if (hit >= 0)
            Click(hit);
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xfff0) == IDM_SAVE_HELP_BITMAP) {
            SaveHelpBitmap();
            return 0;
        }
        if ((wParam & 0xfff0) == IDM_OPEN_HELP_BITMAP) {
            OpenHelpBitmap();
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HBITMAP LoadBitmapResource(const std::string& name)
{
    if (name.empty())
        return nullptr;
    return static_cast<HBITMAP>(LoadImageA(g.instance, name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HCURSOR LoadCursorNamed(const std::string& name, LPCSTR fallback)
{
    HCURSOR c = name.empty() ? nullptr : LoadCursorA(g.instance, name.c_str());
    return c ? c : LoadCursorA(nullptr, fallback);
}

bool CreateMenuWindow(int show)
{
    g.background = LoadBitmapResource(g.menu.backgroundBitmap);
    g.help = LoadBitmapResource(g.menu.helpBitmap);
    if (g.background) {
        BITMAP bm {};
        GetObjectA(g.background, sizeof bm, &bm);
        g.width = bm.bmWidth;
        g.height = bm.bmHeight;
    }
    for (const CdBlock& block : g.menu.blocks)
        g.blockFonts.push_back(MakeFont(block.style));
    g.standardCursor = LoadCursorNamed(g.menu.standardCursor, IDC_ARROW);
    g.hotspotCursor = LoadCursorNamed(g.menu.hotspotCursor, IDC_HAND);
    HICON icon = g.menu.icon.empty() ? nullptr : LoadIconA(g.instance, g.menu.icon.c_str());
    if (!icon)
        icon = LoadIconA(g.instance, MAKEINTRESOURCEA(IDI_KARDELL));

    WNDCLASSA wc {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = g.instance;
    wc.hIcon = icon;
    wc.hCursor = nullptr;
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassA(&wc))
        return false;
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r { 0, 0, g.width, g.height };
    AdjustWindowRect(&r, style, FALSE);
    std::string title = g.menu.windowTitle.empty() ? "Kardell" : g.menu.windowTitle;
    g.window = CreateWindowExA(0, kWindowClass, title.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
        r.bottom - r.top, nullptr, nullptr, g.instance, nullptr);
    if (!g.window)
        return false;
    if (g.commandLine.createBitmap) {
        HMENU system = GetSystemMenu(g.window, FALSE);
        AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(system, MF_STRING, IDM_SAVE_HELP_BITMAP, Str(CdStrSaveHelpBitmap).c_str());
        AppendMenuA(system, MF_STRING, IDM_OPEN_HELP_BITMAP, Str(CdStrOpenHelpBitmap).c_str());
    }
    CenterWindow(g.window, nullptr);
    HMODULE msimg = LoadLibraryA("msimg32.dll");
    if (msimg)
        g.alphaBlend = reinterpret_cast<AlphaBlendFn>(reinterpret_cast<void*>(GetProcAddress(msimg, "AlphaBlend")));
    if (g.alphaBlend) {
        g.animationStep = 0;
        SetTimer(g.window, kAnimationTimer, 40, nullptr);
    }
    Layout();
    ShowWindow(g.window, show);
    UpdateWindow(g.window);
    return true;
}

void Cleanup()
{
    RemoveFonts();
    if (!g.tempScript.empty())
        DeleteFileA(g.tempScript.c_str());
    for (HFONT f : g.blockFonts)
        DeleteObject(f);
    if (g.background)
        DeleteObject(g.background);
    if (g.help)
        DeleteObject(g.help);
    Trace("ended");
    if (g.trace)
        std::fclose(g.trace);
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    g.instance = instance;
    if (const char* trace = std::getenv("KARDELL_TRACE"); trace && *trace)
        g.trace = std::fopen(trace, "ab");
    g.directory = GetProgramDirectory();

    // One menu at a time: a second start restores and raises the first window and ends.
    if (IsOtherInstance(GetProgramPath(), "kardell")) {
        HWND other = FindWindowA(kWindowClass, nullptr);
        if (other) {
            if (IsIconic(other))
                ShowWindow(other, SW_RESTORE);
            SetForegroundWindow(other);
        }
        Trace(other ? "other instance raised" : "other instance without window");
        if (g.trace)
            std::fclose(g.trace);
        return 0;
    }
    SetCurrentDirectoryA(g.directory.c_str());
    g.commandLine = CdParseCommandLine(commandLine ? commandLine : "");
    g.ctx.report = Message;

    g.scriptPath = LocateScript();
    Trace("script " + g.scriptPath);
    ReadEnvironment();
    StrSetLanguage(g.ctx.env.languageId);
    std::string text;
    if (!FileReadAll(g.scriptPath, &text)) {
        Message(CdMessageKind::Error, Fill(Str(CdStrScriptUnreadable), { g.scriptPath }));
        Cleanup();
        return 1;
    }
    g.script.Parse(text);

    CdWin32PluginLoader loader(instance, g.directory);
    CdAskPlugins(g.script, loader, &g.ctx);
    StrSetLanguage(g.ctx.env.languageId);
    CdDirFileSystem files(g.directory);
    CdEstablishFileConditions(g.script, files, &g.ctx.established);
    HDC screen = GetDC(nullptr);
    g.ctx.display16 = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES) <= 4;
    ReleaseDC(nullptr, screen);
    Trace(StrFormat("environment %s 0x%04x %s %s", g.ctx.env.language.c_str(), g.ctx.env.languageId,
        g.ctx.env.country.c_str(), g.ctx.env.system.c_str()));
    for (const std::string& c : g.ctx.established.Names())
        Trace("condition " + c);

    EnumResourceNamesA(nullptr, "TTF", AddFont, 0);
    g.menu = CdReadMenu(g.script, g.ctx);
    if (!CreateMenuWindow(show)) {
        Cleanup();
        return 1;
    }
    PlaySoundNamed(g.menu.welcomeWav);
    if (g.commandLine.system) {
        Trace("system message");
        MessageBoxA(
            g.window, CdSystemMessage(g.ctx.env).c_str(), g.menu.windowTitle.c_str(), MB_OK | MB_ICONINFORMATION);
        Trace("system message closed");
    }

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Cleanup();
    return 0;
}
