#include "common/ui/aboutbox.h"
#include "common/ui/desktop.h"

#include <windows.h>

#include <shellapi.h>
#include <string>
#include <vector>

namespace {
AboutLinkHandler g_linkHandler;

void OpenWithShell(HWND dialog, const char* address)
{
    ShellExecuteA(dialog, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

// A DLGTEMPLATEEX with its items, built in memory (each item on a DWORD boundary).
class DialogTemplate {
public:
    void Header(DWORD style, short cx, short cy, int items)
    {
        Word(1); // dlgVer
        Word(0xFFFF); // signature
        Dword(0); // helpID
        Dword(0); // exStyle
        Dword(style);
        Word(static_cast<WORD>(items));
        Word(0); // x, y: the box is placed once it exists
        Word(0);
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(0); // no menu
        Word(0); // the standard dialog class
        Word(0); // the title is set at run time
        Word(8); // point size
        Word(FW_NORMAL);
        Word(0); // italic, charset
        Text(L"MS Shell Dlg");
    }
    void Item(WORD classAtom, int id, DWORD style, short x, short y, short cx, short cy)
    {
        while (data_.size() % 4)
            data_.push_back(0);
        Dword(0); // helpID
        Dword(0); // exStyle
        Dword(style | WS_CHILD | WS_VISIBLE);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Dword(static_cast<DWORD>(id));
        Word(0xFFFF);
        Word(classAtom);
        Word(0); // the text is set at run time
        Word(0); // no creation data
    }
    const DLGTEMPLATE* Get() const
    {
        return reinterpret_cast<const DLGTEMPLATE*>(data_.data());
    }

private:
    void Word(WORD w)
    {
        data_.push_back(static_cast<unsigned char>(w & 0xFF));
        data_.push_back(static_cast<unsigned char>(w >> 8));
    }
    void Dword(DWORD d)
    {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const wchar_t* text)
    {
        for (; *text; ++text)
            Word(static_cast<WORD>(*text));
        Word(0);
    }
    std::vector<unsigned char> data_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kStaticAtom = 0x0082;
constexpr int kSeparatorControl = 120;

// Layout in dialog units.
constexpr short kWidth = 230;
constexpr short kTextLeft = 42;
constexpr short kTextWidth = kWidth - kTextLeft - 10;
constexpr short kLineHeight = 10;

struct AboutState {
    AboutBoxRecord record;
    HFONT bold = nullptr;
    HFONT link = nullptr;
    HWND owner = nullptr;
    int whiteBottom = 0; // client y where the white panel ends
};

HFONT ShellFont(HWND window, int weight, bool underline)
{
    HDC dc = GetDC(window);
    int height = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(window, dc);
    return CreateFontA(height, 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET,
        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Shell Dlg");
}

COLORREF LinkColor()
{
    // A system without a hot-track colour has no brush for it. A scheme whose hot-track colour is
    // nearly white would leave the address unreadable on the white panel: pure blue there too.
    if (!GetSysColorBrush(COLOR_HOTLIGHT))
        return RGB(0, 0, 255);
    COLORREF c = GetSysColor(COLOR_HOTLIGHT);
    unsigned luma = (299u * GetRValue(c) + 587u * GetGValue(c) + 114u * GetBValue(c)) / 1000u;
    return luma > 160 ? RGB(0, 0, 255) : c;
}

BOOL CALLBACK FirstIcon(HMODULE, LPCSTR, LPSTR name, LONG_PTR param)
{
    *reinterpret_cast<LPSTR*>(param) = name;
    return FALSE;
}

HICON ProgramIcon(HINSTANCE module)
{
    LPSTR name = nullptr;
    EnumResourceNamesA(module, RT_GROUP_ICON, FirstIcon, reinterpret_cast<LONG_PTR>(&name));
    HICON icon = name ? LoadIconA(module, name) : nullptr;
    return icon ? icon : LoadIconA(nullptr, IDI_APPLICATION);
}

void Place(HWND dialog, const AboutState& s)
{
    if (!(s.record.flags & kAboutCenterOnCursor)) {
        CenterWindow(dialog, s.owner);
        return;
    }
    POINT cursor {};
    GetCursorPos(&cursor);
    RECT wr;
    GetWindowRect(dialog, &wr);
    PlaceRect onPoint = AboutRectOnPoint(PlaceRect { wr.left, wr.top, wr.right, wr.bottom }, cursor.x, cursor.y,
        PlaceRect { cursor.x - 100000, cursor.y - 100000, cursor.x + 100000, cursor.y + 100000 });
    SetWindowPos(dialog, nullptr, onPoint.left, onPoint.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Then inside the work area of the monitor the cursor is on.
    RECT work = GetMonitorWorkArea(dialog);
    PlaceRect placed
        = AboutRectOnPoint(onPoint, cursor.x, cursor.y, PlaceRect { work.left, work.top, work.right, work.bottom });
    SetWindowPos(dialog, nullptr, placed.left, placed.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void InitDialog(HWND dialog, AboutState* s)
{
    const AboutBoxRecord& r = s->record;
    SetWindowTextA(dialog, r.title.c_str());
    SetDlgItemTextA(dialog, IDOK, "OK");
    SendDlgItemMessageA(dialog, kAboutIconControl, STM_SETICON,
        reinterpret_cast<WPARAM>(ProgramIcon(static_cast<HINSTANCE>(r.instance))), 0);
    const struct {
        int id;
        const std::string* text;
    } lines[] = {
        { kAboutProductControl, &r.product },
        { kAboutProduct2Control, &r.product2 },
        { kAboutVersionControl, &r.version },
        { kAboutCopyrightControl, &r.copyright },
        { kAboutCompanyControl, &r.company },
        { kAboutAdditionalControl, &r.additional },
        { kAboutWebControl, &r.web },
    };
    for (const auto& line : lines)
        SetDlgItemTextA(dialog, line.id, line.text->c_str());
    s->bold = ShellFont(dialog, FW_BOLD, false);
    s->link = ShellFont(dialog, FW_NORMAL, true);
    SendDlgItemMessageA(dialog, kAboutProductControl, WM_SETFONT, reinterpret_cast<WPARAM>(s->bold), FALSE);
    if (HWND web = GetDlgItem(dialog, kAboutWebControl)) {
        SendMessageA(web, WM_SETFONT, reinterpret_cast<WPARAM>(s->link), FALSE);
        // Only the address itself is the link: the control is as wide as its text (plus the focus frame).
        HDC dc = GetDC(web);
        HGDIOBJ old = SelectObject(dc, s->link);
        SIZE size {};
        GetTextExtentPoint32A(dc, r.web.c_str(), static_cast<int>(r.web.size()), &size);
        SelectObject(dc, old);
        ReleaseDC(web, dc);
        RECT wr;
        GetClientRect(web, &wr);
        int width = size.cx + 4;
        if (width < wr.right)
            SetWindowPos(web, nullptr, 0, 0, width, wr.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    RECT sep;
    if (HWND separator = GetDlgItem(dialog, kSeparatorControl)) {
        GetWindowRect(separator, &sep);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&sep), 2);
        s->whiteBottom = sep.top;
    }
    Place(dialog, *s);
}

void DrawLink(const DRAWITEMSTRUCT& d, const AboutState& s)
{
    FillRect(d.hDC, &d.rcItem, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HGDIOBJ old = SelectObject(d.hDC, s.link);
    SetBkMode(d.hDC, TRANSPARENT);
    SetTextColor(d.hDC, LinkColor());
    RECT text = d.rcItem;
    text.left += 2;
    DrawTextA(d.hDC, s.record.web.c_str(), static_cast<int>(s.record.web.size()), &text,
        DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(d.hDC, old);
    if (d.itemState & ODS_FOCUS)
        DrawFocusRect(d.hDC, &d.rcItem);
}

void OpenLink(HWND dialog, const AboutState& s)
{
    (g_linkHandler ? g_linkHandler : OpenWithShell)(dialog, s.record.web.c_str());
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* s = reinterpret_cast<AboutState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        s = reinterpret_cast<AboutState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitDialog(dialog, s);
        // OK has the focus: Enter closes the box unless the user moved to the link.
        SetFocus(GetDlgItem(dialog, IDOK));
        return FALSE;
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT client;
        GetClientRect(dialog, &client);
        RECT white = client;
        white.bottom = s ? s->whiteBottom : 0;
        FillRect(dc, &white, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        client.top = white.bottom;
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kSeparatorControl)
            return FALSE;
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
        SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_DRAWITEM:
        if (wParam == static_cast<WPARAM>(kAboutWebControl) && s) {
            DrawLink(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), *s);
            return TRUE;
        }
        break;
    case WM_SETCURSOR:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(wParam)) == kAboutWebControl) {
            SetCursor(LoadCursorA(nullptr, IDC_HAND));
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kAboutWebControl:
            if (HIWORD(wParam) == BN_CLICKED && s)
                OpenLink(dialog, *s);
            return TRUE;
        case IDOK:
            // Enter goes to the default button; on the focused link it opens the link instead.
            if (s && GetFocus() == GetDlgItem(dialog, kAboutWebControl)) {
                OpenLink(dialog, *s);
                return TRUE;
            }
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

std::string LoadModuleString(HINSTANCE module, unsigned id)
{
    char text[512];
    int n = LoadStringA(module, id, text, sizeof text);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}
} // namespace

void SetAboutLinkHandler(AboutLinkHandler handler)
{
    g_linkHandler = handler;
}

INT_PTR ShowAboutBox(HWND owner, const AboutBoxRecord& record)
{
    AboutState s;
    s.record = record;
    s.owner = owner;
    HINSTANCE module = record.instance ? static_cast<HINSTANCE>(record.instance) : GetModuleHandleA(nullptr);
    s.record.instance = module;
    if (record.strings)
        AboutBuildLines(&s.record);
    else
        AboutResolveTexts(&s.record, [module](unsigned id) { return LoadModuleString(module, id); });

    // Only the lines with text get a row; a blank row of half height separates the groups.
    const AboutBoxRecord& r = s.record;
    struct Row {
        int id;
        const std::string* text;
        bool gapBefore;
    } rows[] = {
        { kAboutProductControl, &r.product, false },
        { kAboutProduct2Control, &r.product2, false },
        { kAboutVersionControl, &r.version, true },
        { kAboutCopyrightControl, &r.copyright, false },
        { kAboutCompanyControl, &r.company, true },
        { kAboutAdditionalControl, &r.additional, false },
        { kAboutWebControl, &r.web, true },
    };
    struct Placed {
        int id;
        short y;
    };
    std::vector<Placed> placed;
    short y = 10;
    for (const Row& row : rows) {
        if (row.text->empty())
            continue;
        if (row.gapBefore && !placed.empty())
            y += kLineHeight / 2;
        placed.push_back({ row.id, y });
        y += kLineHeight;
    }
    short panelBottom = static_cast<short>((y < 36 ? 36 : y) + 8);
    short height = static_cast<short>(panelBottom + 24);

    DialogTemplate t;
    t.Header(DS_MODALFRAME | DS_SHELLFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, kWidth, height,
        static_cast<int>(placed.size()) + 3);
    t.Item(kStaticAtom, kAboutIconControl, SS_ICON, 12, 10, 21, 20);
    for (const Placed& p : placed) {
        if (p.id == kAboutWebControl)
            t.Item(kButtonAtom, p.id, BS_OWNERDRAW | WS_TABSTOP, kTextLeft, p.y, kTextWidth, kLineHeight);
        else
            t.Item(kStaticAtom, p.id, SS_LEFT | SS_NOPREFIX, kTextLeft, p.y, kTextWidth, kLineHeight - 1);
    }
    t.Item(kStaticAtom, kSeparatorControl, SS_ETCHEDHORZ, 0, panelBottom, kWidth, 1);
    t.Item(kButtonAtom, IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, kWidth - 60, panelBottom + 6, 50, 14);

    INT_PTR result = DialogBoxIndirectParamA(module, t.Get(), owner, AboutProc, reinterpret_cast<LPARAM>(&s));
    if (s.bold)
        DeleteObject(s.bold);
    if (s.link)
        DeleteObject(s.link);
    return result;
}
