#include "config/ui/print_win.h"

#include "common/diag.h"
#include "common/ini.h"
#include "common/strings.h"
#include "common/tempstream.h"
#include "common/testctl.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_types.h"
#include "config/frontend/commands.h"
#include "config/frontend/jobs.h"
#include "config/frontend/valuerules.h"
#include "config/startup/startup.h"
#include "config/store/display.h"
#include "config/ui/cfgsheet_win.h"
#include "device/deviceentry.h"

#include <algorithm>
#include <cderr.h>
#include <commdlg.h>
#include <memory>
#include <winspool.h>

namespace {
constexpr int kPointSize = 10;
constexpr int kPreviewPrint = 101, kPreviewPrevious = 102, kPreviewNext = 103, kPreviewClose = 104;
constexpr int kHideBox = 2101; // the print dialog's check box
constexpr int kPreviewButton = 2169; // the print dialog's preview button
const char kPreviewClass[] = "VelquinPrintPreviewWndClass";

std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

void Error(HWND owner, const std::string& text)
{
    MessageBoxA(owner, text.c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
}

// True when at least one printer is installed (local or connected).
bool AnyPrinter()
{
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count);
    if (needed == 0)
        return false;
    std::vector<BYTE> buffer(needed);
    if (!EnumPrintersA(
            PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, buffer.data(), needed, &needed, &count))
        return false;
    return count > 0;
}

struct DcDeleter {
    void operator()(HDC dc) const
    {
        if (dc)
            DeleteDC(dc);
    }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

// Lays out every part on the page of `dc` and calls `page` for each page with its metrics.
template<class F> void ForEachPage(HDC dc, const RECT& area, const std::vector<PrintJobPart>& parts, bool hide, F page)
{
    PrintFonts fonts(dc);
    PrintPageMetrics metrics = CfgPrintMetrics(dc, area, fonts, hide);
    Printout printout;
    for (const PrintJobPart& part : parts) {
        CfgLayoutPrintout(*part.desc, part.header, metrics.options, &printout);
        for (size_t p = 0; p < printout.pages.size(); ++p)
            if (!page(printout, p, metrics, fonts))
                return;
    }
}

// The pages on a printer DC as one document. False (the document aborted) when a step fails.
bool PrintOnDc(HDC dc, const std::vector<PrintJobPart>& parts, const std::string& documentName, bool hide)
{
    DOCINFOA doc {};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = documentName.c_str();
    if (StartDocA(dc, &doc) <= 0)
        return false;
    bool ok = true;
    ForEachPage(dc, CfgPrinterArea(dc), parts, hide,
        [&](const Printout& printout, size_t p, const PrintPageMetrics& metrics, const PrintFonts& fonts) {
            ok = StartPage(dc) > 0;
            if (ok) {
                CfgDrawPrintPage(dc, printout, p, metrics, fonts);
                ok = EndPage(dc) > 0;
            }
            return ok;
        });
    if (!ok) {
        AbortDoc(dc);
        return false;
    }
    return EndDoc(dc) > 0;
}

// The printer the print dialog chose.
std::string PrinterName(const PRINTDLGA& pd)
{
    std::string name;
    if (pd.hDevNames) {
        if (auto* names = static_cast<DEVNAMES*>(GlobalLock(pd.hDevNames))) {
            name = reinterpret_cast<const char*>(names) + names->wDeviceOffset;
            GlobalUnlock(pd.hDevNames);
        }
    }
    return name;
}

// ---- the print dialog's additions: the hide-passwords box and the preview button

struct DialogExtras {
    bool hide = true;
    bool preview = false;
};

UINT_PTR CALLBACK PrintHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* extras = reinterpret_cast<DialogExtras*>(GetPropA(dialog, "VelquinPrintExtras"));
    switch (message) {
    case WM_INITDIALOG: {
        auto* pd = reinterpret_cast<PRINTDLGA*>(lParam);
        extras = reinterpret_cast<DialogExtras*>(pd->lCustData);
        SetPropA(dialog, "VelquinPrintExtras", extras);
        // Room for a row below the dialog's controls.
        RECT window, client;
        GetWindowRect(dialog, &window);
        GetClientRect(dialog, &client);
        RECT row { 0, 0, 4, 20 };
        MapDialogRect(dialog, &row);
        SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + row.bottom,
            SWP_NOMOVE | SWP_NOZORDER);
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        RECT box { 7, 0, 180, 12 }, button { 0, 0, 60, 14 };
        MapDialogRect(dialog, &box);
        MapDialogRect(dialog, &button);
        int y = client.bottom + (row.bottom - box.bottom) / 2;
        HWND check = CreateWindowExA(0, "BUTTON", Text(CfgStrHidePasswords).c_str(),
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, box.left, y, box.right - box.left, box.bottom, dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHideBox)), Instance(), nullptr);
        SendMessageA(check, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        SendMessageA(check, BM_SETCHECK, extras->hide ? BST_CHECKED : BST_UNCHECKED, 0);
        HWND preview = CreateWindowExA(0, "BUTTON", Text(PrintStrPreview).c_str(),
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, client.right - button.right - box.left,
            client.bottom + (row.bottom - button.bottom) / 2, button.right, button.bottom, dialog,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPreviewButton)), Instance(), nullptr);
        SendMessageA(preview, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (!extras)
            break;
        if (LOWORD(wParam) == kPreviewButton) {
            extras->preview = true;
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK)
            extras->hide = IsDlgButtonChecked(dialog, kHideBox) == BST_CHECKED;
        break;
    case WM_DESTROY:
        RemovePropA(dialog, "VelquinPrintExtras");
        break;
    }
    return FALSE;
}

// ---- the preview window

struct Preview {
    const std::vector<PrintJobPart>* parts = nullptr;
    HDC printer = nullptr; // the page is the printer's; without a printer, the screen's with a default page
    bool defaultPage = false; // no printer: an A4 page in the screen's pixels, Print says that none is installed
    bool hide = true;
    size_t page = 0;
    size_t pages = 0;
    bool print = false; // Print pressed
    bool done = false;
    HWND buttons[4] = {};
};

// The default page of a preview without a printer: A4 in the pixels of `dc`.
SIZE DefaultPage(HDC dc)
{
    return SIZE { MulDiv(2100, GetDeviceCaps(dc, LOGPIXELSX), 254), MulDiv(2970, GetDeviceCaps(dc, LOGPIXELSY), 254) };
}

// The printed area of the default page: half an inch from each edge, as on a printer.
RECT DefaultArea(HDC dc)
{
    SIZE page = DefaultPage(dc);
    RECT area { 0, 0, page.cx, page.cy };
    InflateRect(&area, -GetDeviceCaps(dc, LOGPIXELSX) / 2, -GetDeviceCaps(dc, LOGPIXELSY) / 2);
    return area;
}

// The size of the preview's page in its device's units (the printable part on a printer).
SIZE PreviewPage(const Preview& p)
{
    if (p.defaultPage)
        return DefaultPage(p.printer);
    return SIZE { GetDeviceCaps(p.printer, HORZRES), GetDeviceCaps(p.printer, VERTRES) };
}

// The page, scaled from the printer's units into `paper` of the window.
void DrawPreviewPage(HDC dc, const RECT& paper, Preview& p)
{
    FillRect(dc, &paper, reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FrameRect(dc, &paper, reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SIZE size = PreviewPage(p);
    int pageWidth = size.cx, pageHeight = size.cy;
    int saved = SaveDC(dc);
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, pageWidth, pageHeight, nullptr);
    SetViewportExtEx(dc, paper.right - paper.left, paper.bottom - paper.top, nullptr);
    SetViewportOrgEx(dc, paper.left, paper.top, nullptr);
    // Laid out on the printer's page, drawn with the printer's fonts scaled to the window.
    size_t n = 0;
    p.pages = 0;
    ForEachPage(p.printer, p.defaultPage ? DefaultArea(p.printer) : CfgPrinterArea(p.printer), *p.parts, p.hide,
        [&](const Printout& printout, size_t page, const PrintPageMetrics& metrics, const PrintFonts& fonts) {
            // The printer's fonts: their heights are in the page's units, which the mapping scales.
            if (n++ == p.page)
                CfgDrawPrintPage(dc, printout, page, metrics, fonts);
            return true;
        });
    p.pages = n;
    RestoreDC(dc, saved);
}

LRESULT CALLBACK PreviewProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* p = reinterpret_cast<Preview*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_CREATE: {
        p = reinterpret_cast<Preview*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(p));
        const unsigned texts[4] = { PrintStrPrint, PrintStrPrevious, PrintStrNext, PrintStrClose };
        HFONT font = reinterpret_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        for (int i = 0; i < 4; ++i) {
            p->buttons[i] = CreateWindowExA(0, "BUTTON", Text(texts[i]).c_str(),
                WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 8 + i * 108, 6, 100,
                24, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kPreviewPrint + i)), Instance(), nullptr);
            SendMessageA(p->buttons[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        }
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT client;
        GetClientRect(window, &client);
        RECT below { client.left, client.top + 36, client.right, client.bottom };
        FillRect(dc, &below, reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1));
        // The paper in the page's proportions, as large as the window allows.
        int pw = GetDeviceCaps(p->printer, PHYSICALWIDTH), ph = GetDeviceCaps(p->printer, PHYSICALHEIGHT);
        if (p->defaultPage) {
            SIZE page = DefaultPage(p->printer);
            pw = page.cx;
            ph = page.cy;
        } else if (pw <= 0 || ph <= 0) {
            pw = GetDeviceCaps(p->printer, HORZRES);
            ph = GetDeviceCaps(p->printer, VERTRES);
        }
        int height = std::max(1, static_cast<int>(below.bottom - below.top) - 16);
        int width = static_cast<int>(static_cast<int64_t>(height) * pw / std::max(ph, 1));
        if (width > below.right - below.left - 16) {
            width = std::max(1, static_cast<int>(below.right - below.left) - 16);
            height = static_cast<int>(static_cast<int64_t>(width) * ph / std::max(pw, 1));
        }
        RECT paper { (below.right - width) / 2, below.top + 8, 0, 0 };
        paper.right = paper.left + width;
        paper.bottom = paper.top + height;
        DrawPreviewPage(dc, paper, *p);
        EndPaint(window, &ps);
        EnableWindow(p->buttons[1], p->page > 0);
        EnableWindow(p->buttons[2], p->page + 1 < p->pages);
        return 0;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kPreviewPrint:
            // Without a printer the preview stays: only printing itself needs one.
            if (p->defaultPage) {
                Error(window, Text(PrintStrNoPrinter));
                return 0;
            }
            p->print = true;
            DestroyWindow(window);
            return 0;
        case kPreviewPrevious:
        case kPreviewNext:
            if (LOWORD(wParam) == kPreviewPrevious && p->page > 0)
                --p->page;
            else if (LOWORD(wParam) == kPreviewNext && p->page + 1 < p->pages)
                ++p->page;
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        case kPreviewClose:
        case IDCANCEL:
            DestroyWindow(window);
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        p->done = true;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The preview as a modal window over `owner`. True when the user chose to print.
bool RunPreview(HWND owner, Preview& p, const std::string& documentName)
{
    WNDCLASSA wc {};
    wc.lpfnWndProc = PreviewProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPreviewClass;
    RegisterClassA(&wc); // a second registration fails harmlessly
    RECT work {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int height = (work.bottom - work.top) * 9 / 10;
    int width = std::min(static_cast<int>(work.right - work.left), height * 4 / 5 + 40);
    HWND window
        = CreateWindowExA(0, kPreviewClass, StrFormat(Text(PrintStrPreviewTitle).c_str(), documentName.c_str()).c_str(),
            WS_OVERLAPPEDWINDOW | WS_VISIBLE, work.left + (work.right - work.left - width) / 2,
            work.top + (work.bottom - work.top - height) / 2, width, height, owner, nullptr, Instance(), &p);
    if (!window)
        return false;
    if (owner)
        EnableWindow(owner, FALSE);
    MSG msg;
    while (!p.done && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (owner) {
        EnableWindow(owner, TRUE);
        SetForegroundWindow(owner);
    }
    return p.print;
}

// A configuration file read into its description, as the sheet opens it. Messages on failure.
CfgDescriptionPtr OpenFile(HWND owner, const std::string& path, CfgFileHeader* header)
{
    CfgEnsureDescriptionIndex();
    if (!CfgReadFileHeader(path, header)) {
        Error(owner, CfgFileOpenFailure(path));
        return nullptr;
    }
    const char* language = Globals().dscLanguage.empty() ? nullptr : Globals().dscLanguage.c_str();
    bool easy = IniGetInt(Globals().paths.settingsFile, "Options", "EasyConfig", 1) != 0;
    CfgDescriptionPtr desc = CfgLoadDescription(
        header->deviceType, header->version, language, header->featureMask, header->hardwareMask, easy);
    if (!desc) {
        Error(owner, StrFormat(Text(CmdStrNoDescription).c_str(), header->deviceType.c_str(), header->version.c_str()));
        return nullptr;
    }
    CfgTempStream text = CfgImportFile(path);
    if (!text.IsOpen()) {
        Error(owner, Text(CmdStrCantOpenFile));
        return nullptr;
    }
    CfgReadFile(text, *desc);
    desc->flags |= CfgDescNotFromDevice;
    return desc;
}

std::string FileName(const std::string& path)
{
    return path.substr(path.find_last_of("\\/") + 1);
}
} // namespace

// ---- the renderer

PrintFonts::PrintFonts(HDC dc)
{
    LOGFONTA lf {};
    lf.lfHeight = -MulDiv(kPointSize, GetDeviceCaps(dc, LOGPIXELSY), 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    lstrcpynA(lf.lfFaceName, "Courier New", LF_FACESIZE);
    regular = CreateFontIndirectA(&lf);
    lf.lfWeight = FW_BOLD;
    bold = CreateFontIndirectA(&lf);
}

PrintFonts::~PrintFonts()
{
    if (regular)
        DeleteObject(regular);
    if (bold)
        DeleteObject(bold);
}

RECT CfgPrinterArea(HDC dc)
{
    int marginX = GetDeviceCaps(dc, LOGPIXELSX) / 2, marginY = GetDeviceCaps(dc, LOGPIXELSY) / 2;
    RECT area { 0, 0, GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES) };
    if (area.right > 4 * marginX && area.bottom > 4 * marginY)
        InflateRect(&area, -marginX, -marginY);
    return area;
}

PrintPageMetrics CfgPrintMetrics(HDC dc, const RECT& area, const PrintFonts& fonts, bool hidePasswords)
{
    PrintPageMetrics m;
    m.area = area;
    HGDIOBJ old = SelectObject(dc, fonts.bold);
    TEXTMETRICA tm {};
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    // The bold face is the wider one: every line fits in either.
    m.charWidth = std::max<int>(1, tm.tmAveCharWidth);
    m.lineHeight = std::max<int>(1, tm.tmHeight + tm.tmExternalLeading);
    m.options.columns = std::max(PrintMinColumns, static_cast<int>(area.right - area.left) / m.charWidth);
    m.options.lines = std::max(PrintMinLines, static_cast<int>(area.bottom - area.top) / m.lineHeight);
    m.options.hidePasswords = hidePasswords;
    return m;
}

void CfgDrawPrintPage(HDC dc, const Printout& printout, size_t page, const PrintPageMetrics& m, const PrintFonts& fonts)
{
    if (page >= printout.pages.size())
        return;
    HGDIOBJ old = SelectObject(dc, fonts.regular);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
    int y = m.area.top;
    for (const PrintLine& line : printout.pages[page].lines) {
        bool bold = line.style == PrintStyle::Heading || line.style == PrintStyle::Caption
            || line.style == PrintStyle::TableHeader;
        SelectObject(dc, bold ? fonts.bold : fonts.regular);
        for (const PrintCell& cell : printout.Cells(line)) {
            std::string_view text = printout.Text(cell);
            // Each character in its cell, so that proportional substitutes of the font keep the columns.
            std::vector<INT> dx(text.size(), m.charWidth);
            ExtTextOutA(dc, m.area.left + cell.x * m.charWidth, y, 0, nullptr, text.data(),
                static_cast<UINT>(text.size()), dx.data());
        }
        y += m.lineHeight;
    }
    SelectObject(dc, old);
}

std::vector<std::string> CfgPrintToMetafiles(
    const std::vector<PrintJobPart>& parts, const std::string& prefix, bool hidePasswords)
{
    std::vector<std::string> files;
    HDC screen = GetDC(nullptr);
    // An A4 page in the screen's pixels; the metafile's frame in 0.01 mm.
    RECT area { 0, 0, MulDiv(2100, GetDeviceCaps(screen, LOGPIXELSX), 254),
        MulDiv(2970, GetDeviceCaps(screen, LOGPIXELSY), 254) };
    RECT frame { 0, 0, 21000, 29700 };
    RECT printed = area;
    InflateRect(&printed, -GetDeviceCaps(screen, LOGPIXELSX) / 2, -GetDeviceCaps(screen, LOGPIXELSY) / 2);
    bool ok = true;
    ForEachPage(screen, printed, parts, hidePasswords,
        [&](const Printout& printout, size_t page, const PrintPageMetrics& metrics, const PrintFonts&) {
            std::string file = prefix + std::to_string(files.size() + 1) + ".emf";
            HDC dc = CreateEnhMetaFileA(screen, file.c_str(), &frame, "Velquin\0Configuration\0");
            if (!dc) {
                ok = false;
                return false;
            }
            PrintFonts fonts(dc);
            CfgDrawPrintPage(dc, printout, page, metrics, fonts);
            HENHMETAFILE emf = CloseEnhMetaFile(dc);
            if (!emf) {
                ok = false;
                return false;
            }
            DeleteEnhMetaFile(emf);
            files.push_back(file);
            return true;
        });
    ReleaseDC(nullptr, screen);
    if (!ok)
        files.clear();
    return files;
}

bool CfgPrintWithDialog(HWND owner, const std::vector<PrintJobPart>& parts, const std::string& documentName)
{
    if (!AnyPrinter()) {
        // No print dialog without a printer: the preview on a default page, passwords hidden; its
        // Print button says that no printer is installed.
        Diag("print: no printer, preview on a default page\n");
        HDC screen = GetDC(nullptr);
        Preview p;
        p.parts = &parts;
        p.printer = screen;
        p.defaultPage = true;
        RunPreview(owner, p, documentName);
        ReleaseDC(nullptr, screen);
        return false;
    }
    DialogExtras extras;
    PRINTDLGA pd {};
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = owner;
    pd.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIESANDCOLLATE | PD_ENABLEPRINTHOOK;
    pd.lpfnPrintHook = PrintHook;
    pd.lCustData = reinterpret_cast<LPARAM>(&extras);
    pd.nCopies = 1;
    for (;;) {
        if (!PrintDlgA(&pd)) {
            DWORD error = CommDlgExtendedError();
            if (error == PDERR_NODEFAULTPRN || error == PDERR_NODEVICES)
                Error(owner, Text(PrintStrNoPrinter));
            else if (error != 0)
                Error(owner, StrFormat(Text(PrintStrFailed).c_str(), ""));
            break;
        }
        UniqueDc dc(pd.hDC);
        pd.hDC = nullptr;
        bool print = true;
        if (extras.preview) {
            Preview p;
            p.parts = &parts;
            p.printer = dc.get();
            p.hide = extras.hide;
            print = RunPreview(owner, p, documentName);
        }
        if (print && !PrintOnDc(dc.get(), parts, documentName, extras.hide))
            Error(owner, StrFormat(Text(PrintStrFailed).c_str(), PrinterName(pd).c_str()));
        if (print || !extras.preview)
            break;
        // Closed the preview: back to the print dialog.
        extras.preview = false;
    }
    if (pd.hDevMode)
        GlobalFree(pd.hDevMode);
    if (pd.hDevNames)
        GlobalFree(pd.hDevNames);
    return true;
}

bool CfgPrintFile(
    HWND owner, const std::string& path, const std::string& printer, const std::string& driver, const std::string& port)
{
    CfgFileHeader header;
    CfgDescriptionPtr desc = OpenFile(owner, path, &header);
    if (!desc)
        return false;
    std::vector<PrintJobPart> parts(1);
    parts[0].desc = desc.get();
    parts[0].header = CfgPrintHeader(*desc, header.deviceType, header.version, path);
    std::string document = FileName(path);
    UniqueDc dc;
    std::string name = printer;
    if (printer.empty()) {
        char buffer[256] = {};
        DWORD size = sizeof buffer;
        if (AnyPrinter() && GetDefaultPrinterA(buffer, &size))
            name = buffer;
        if (!name.empty())
            dc.reset(CreateDCA("WINSPOOL", name.c_str(), nullptr, nullptr));
    } else {
        dc.reset(CreateDCA(driver.empty() ? nullptr : driver.c_str(), printer.c_str(),
            port.empty() ? nullptr : port.c_str(), nullptr));
    }
    if (!dc) {
        Diag("print: no printer%s%s\n", name.empty() ? "" : " ", name.c_str());
        Error(owner, name.empty() ? Text(PrintStrNoPrinter) : StrFormat(Text(PrintStrFailed).c_str(), name.c_str()));
        return false;
    }
    // The shell's print verbs print without asking: passwords hidden, as the dialog proposes.
    if (!PrintOnDc(dc.get(), parts, document, true)) {
        Error(owner, StrFormat(Text(PrintStrFailed).c_str(), name.c_str()));
        return false;
    }
    return true;
}

bool CfgPrintFlow(HWND owner, DeviceCommands& commands, uint32_t message, int32_t result, DeviceJob& job)
{
    if (message != JobReadForPrint)
        return false;
    if (result == JobReadOk) {
        std::vector<PrintJobPart> parts;
        std::string document;
        for (DeviceEntry* e = job.first; e; e = e->next) {
            if (!e->config)
                continue;
            PrintJobPart part;
            part.desc = e->config.get();
            part.header = CfgPrintHeader(*e->config, e->device_type.str(), e->fw_version.str(), e->AddressText());
            if (part.header.deviceName.empty())
                part.header.deviceName = e->name.str();
            document += (document.empty() ? "" : ", ") + part.header.deviceName;
            parts.push_back(std::move(part));
        }
        if (!parts.empty())
            CfgPrintWithDialog(owner, parts, StrFormat(Text(SheetStrCaption).c_str(), document.c_str()));
    }
    commands.PostJob(JobRelease);
    return true;
}

std::string CfgPrintTestCommand(const std::string& verb, const std::string& rest)
{
    if (verb != "printemf")
        return std::string();
    std::vector<std::string> words = TestCtlWords(rest);
    if (words.size() != 3 || (words[2] != "hide" && words[2] != "show"))
        return TestCtlError("printemf LCFFILE PREFIX hide|show");
    CfgFileHeader header;
    if (!CfgReadFileHeader(words[0], &header))
        return TestCtlError("cannot open " + words[0]);
    CfgDescriptionPtr desc = OpenFile(nullptr, words[0], &header);
    if (!desc)
        return TestCtlError("cannot open " + words[0]);
    std::vector<PrintJobPart> parts(1);
    parts[0].desc = desc.get();
    parts[0].header = CfgPrintHeader(*desc, header.deviceType, header.version, words[0]);
    std::vector<std::string> files = CfgPrintToMetafiles(parts, words[1], words[2] == "hide");
    if (files.empty())
        return TestCtlError("no metafile written");
    Diag("printemf: %u pages\n", static_cast<unsigned>(files.size()));
    return TestCtlOk();
}
