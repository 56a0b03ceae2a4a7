#include "config/ui/wizard_win.h"

#include "common/strings.h"
#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/frontend/commands.h"
#include "config/frontend/history_view.h"
#include "config/frontend/jobs.h"
#include "config/frontend/valuerules.h"
#include "config/plugin/plugin.h"
#include "config/startup/startup.h"
#include "config/ui/cfgpage_win.h"
#include "config/ui/cfgsheet_win.h"
#include "config/ui/devicetitle_win.h"
#include "config/ui/history_win.h"
#include "config/ui/resource.h"
#include "config/wizard/wiz_runner.h"
#include "device/deviceentry.h"

#include <commctrl.h>
#include <memory>
#include <prsht.h>
#include <string>
#include <vector>

namespace {

// Page sizes in dialog units: interior pages (below the header in style 1) and the pages without a
// header (the selection page, the last page), as large as the plug-in's pages.
constexpr int kPageWidth = 300;
constexpr int kInteriorHeight = 140;
constexpr int kExteriorHeight = 190;
// The band the watermark takes on the left of a page without a header.
constexpr int kWatermarkWidth = 112;
// Style 0 draws the header texts on the page itself.
constexpr int kClassicHeaderHeight = 30;
constexpr int kHeaderTitleId = 2990;
constexpr int kHeaderSubtitleId = 2991;
constexpr int kWatermarkId = 2992;

std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

struct SheetState;

// One page of the loaded wizard built from its items.
struct ItemPage {
    SheetState* sheet = nullptr;
    int index = 0; // the wizard page
    bool last = false;
    std::string title, subtitle; // header texts
    std::vector<WORD> dialogTemplate;
    std::unique_ptr<CfgPageWin> page;
    HFONT bold = nullptr;
};

struct SheetState {
    DeviceEntry* entry = nullptr;
    WizRunner* runner = nullptr;
    int style = 1;
    std::string caption;
    CfgPageTexts texts;
    HWND sheet = nullptr;
    // The pages of the wizard in the sheet (nullptr: none), and the records of every page made while
    // the sheet runs (a removed page's record stays until the sheet ends).
    const WizScript* inSheet = nullptr;
    std::vector<std::unique_ptr<ItemPage>> pages;
    HBITMAP watermark = nullptr;
    HFONT selectionFont = nullptr;
    bool finished = false;
};

void SetResult(HWND dialog, LONG_PTR result)
{
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
}

// The buttons as the runner computes them (conditions evaluated afresh).
void SetButtons(SheetState& s)
{
    WizButtons b = s.runner->Buttons();
    PropSheet_SetWizButtons(s.sheet, (b.back ? PSWIZB_BACK : 0) | (b.finish ? PSWIZB_FINISH : PSWIZB_NEXT));
    // Enter presses what the page offers: Finish on a last page, else Next.
    constexpr WPARAM kNext = 0x3024, kFinish = 0x3025;
    SendMessageA(s.sheet, DM_SETDEFID, b.finish ? kFinish : kNext, 0);
}

// Style 0: the watermark as a control on the left of a page without a header.
void AddWatermark(HWND page, SheetState& s)
{
    if (!s.watermark)
        s.watermark = LoadBitmapA(Instance(), MAKEINTRESOURCEA(IDB_WIZ_WATERMARK));
    RECT r { 0, 0, kWatermarkWidth - 4, kExteriorHeight };
    MapDialogRect(page, &r);
    HWND w = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE, 0, 0, r.right,
        r.bottom, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kWatermarkId)), Instance(), nullptr);
    SendMessageA(w, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(s.watermark));
}

HFONT BoldFont(HWND dialog)
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA lf {};
    if (!font || !GetObjectA(font, sizeof lf, &lf))
        return nullptr;
    lf.lfWeight = FW_BOLD;
    return CreateFontIndirectA(&lf);
}

// Style 0: the header title (bold) and subtitle at the top of an interior page.
void AddClassicHeader(HWND page, ItemPage& p)
{
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0));
    p.bold = BoldFont(page);
    auto label = [&](const std::string& text, int id, RECT r, HFONT f) {
        MapDialogRect(page, &r);
        HWND w = CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, r.left,
            r.top, r.right - r.left, r.bottom - r.top, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
            Instance(), nullptr);
        SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(f ? f : font), 0);
    };
    label(p.title, kHeaderTitleId, { 7, 4, kPageWidth - 7, 14 }, p.bold);
    label(p.subtitle, kHeaderSubtitleId, { 15, 14, kPageWidth - 7, 24 }, nullptr);
    RECT line { 0, kClassicHeaderHeight - 3, kPageWidth, kClassicHeaderHeight - 2 };
    MapDialogRect(page, &line);
    CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, 0, line.top, line.right, 2, page, nullptr,
        Instance(), nullptr);
}

// Moves every control of the page right by `dx` dialog units (the last page's items beside the
// watermark).
void ShiftControls(HWND page, int dx)
{
    RECT d { 0, 0, dx, 0 };
    MapDialogRect(page, &d);
    for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(c) == kWatermarkId)
            continue;
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
        SetWindowPos(c, nullptr, r.left + d.right, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

INT_PTR CALLBACK ItemPageProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* p = reinterpret_cast<ItemPage*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        p = reinterpret_cast<ItemPage*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(d, DWLP_USER, reinterpret_cast<LONG_PTR>(p));
        SheetState& s = *p->sheet;
        s.sheet = GetParent(d);
        WizScript* wiz = s.runner->Wizard();
        CfgSection& section = *wiz->pages.sections[static_cast<size_t>(p->index)];
        CfgLayoutOptions options;
        options.width = kPageWidth - (p->last ? kWatermarkWidth : 0);
        options.height = p->last ? kExteriorHeight : kInteriorHeight;
        if (s.style == 0 && !p->last) {
            options.top = kClassicHeaderHeight;
            AddClassicHeader(d, *p);
        }
        if (s.style == 0 && p->last)
            AddWatermark(d, s);
        p->page = std::make_unique<CfgPageWin>(d, wiz->pages, section, options, s.texts);
        if (p->last)
            ShiftControls(d, kWatermarkWidth);
        return TRUE;
    }
    case WM_NOTIFY: {
        const NMHDR* h = reinterpret_cast<const NMHDR*>(lParam);
        if (p && h->hwndFrom == GetParent(d)) {
            SheetState& s = *p->sheet;
            switch (h->code) {
            case PSN_SETACTIVE:
                // A page one of whose conditions holds refuses: the sheet passes on in the direction of
                // travel. Otherwise its show list has run: the controls show the items as they are now.
                if (!s.runner->Enter(p->index)) {
                    SetResult(d, -1);
                    return TRUE;
                }
                if (p->page)
                    p->page->Fill();
                SetButtons(s);
                SetResult(d, 0);
                return TRUE;
            case PSN_WIZNEXT:
            case PSN_WIZFINISH:
                // An invalid entry keeps the page (its message was shown, its control has the focus).
                if (p->page && !p->page->Take(s.sheet)) {
                    SetResult(d, h->code == PSN_WIZNEXT ? -1 : TRUE);
                    return TRUE;
                }
                s.runner->Leave(true);
                if (h->code == PSN_WIZFINISH)
                    s.finished = true;
                SetResult(d, 0);
                return TRUE;
            case PSN_WIZBACK:
                s.runner->Leave(false);
                SetResult(d, 0);
                return TRUE;
            default:
                return FALSE;
            }
        }
        break;
    }
    case WM_DESTROY:
        if (p) {
            p->page.reset();
            if (p->bold)
                DeleteObject(p->bold);
            p->bold = nullptr;
        }
        return FALSE;
    default:
        break;
    }
    if (!p || !p->page)
        return FALSE;
    LRESULT result = 0;
    if (p->page->HandleMessage(message, wParam, lParam, &result)) {
        SetResult(d, result);
        return TRUE;
    }
    return FALSE;
}

// The property pages of the loaded wizard, in order: plug-in pages from their libraries (kind 2,
// mode 0), the others built from their items with the header rules.
std::vector<HPROPSHEETPAGE> WizardPages(SheetState& s)
{
    std::vector<HPROPSHEETPAGE> handles;
    WizScript* wiz = s.runner->Wizard();
    if (!wiz)
        return handles;
    int count = static_cast<int>(wiz->pages.sections.size());
    for (int i = 0; i < count; ++i) {
        CfgSection& section = *wiz->pages.sections[static_cast<size_t>(i)];
        PROPSHEETPAGEA psp {};
        if (section.IsPlugin()) {
            // The page record of the full size carries the header fields (style 1); the old layout's
            // size has none, so the library puts its texts on the page (style 0).
            psp.dwSize = s.style == 1 ? sizeof psp : PROPSHEETPAGEA_V1_SIZE;
            if (!PluginLoadPage(PluginPlatformModules(), section, s.entry, &wiz->pages, PluginKindWizard, 0, Instance(),
                    reinterpret_cast<PluginPageRecord*>(&psp), psp.dwSize))
                continue;
            psp.dwFlags |= PSP_USETITLE;
            psp.pszTitle = s.caption.c_str();
            if (HPROPSHEETPAGE h = CreatePropertySheetPageA(&psp))
                handles.push_back(h);
            continue;
        }
        auto page = std::make_unique<ItemPage>();
        page->sheet = &s;
        page->index = i;
        page->last = i == count - 1;
        WizRunner::PageHeader(*wiz, section, s.entry->name.str(), &page->title, &page->subtitle);
        int height = page->last ? kExteriorHeight : kInteriorHeight + (s.style == 0 ? kClassicHeaderHeight : 0);
        page->dialogTemplate = CfgDialogTemplate(kPageWidth, height, s.caption, WS_CHILD | WS_CAPTION | DS_CONTROL);
        psp.dwSize = sizeof psp;
        psp.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
        if (s.style == 1)
            psp.dwFlags |= page->last ? PSP_HIDEHEADER : PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
        psp.hInstance = Instance();
        psp.pResource = reinterpret_cast<LPCDLGTEMPLATEA>(page->dialogTemplate.data());
        psp.pszTitle = s.caption.c_str();
        psp.pszHeaderTitle = page->title.c_str();
        psp.pszHeaderSubTitle = page->subtitle.c_str();
        psp.pfnDlgProc = ItemPageProc;
        psp.lParam = reinterpret_cast<LPARAM>(page.get());
        if (HPROPSHEETPAGE h = CreatePropertySheetPageA(&psp)) {
            handles.push_back(h);
            s.pages.push_back(std::move(page));
        }
    }
    s.inSheet = wiz;
    return handles;
}

// ---- the selection page and the placeholder

void SelectionButtons(HWND page, SheetState& s)
{
    bool selected = SendDlgItemMessageA(page, IDC_WIZ_SELECT_LIST, LB_GETCURSEL, 0, 0) != LB_ERR;
    PropSheet_SetWizButtons(s.sheet, selected ? PSWIZB_NEXT : 0);
}

void DrawEntry(const DRAWITEMSTRUCT& di)
{
    if (di.itemID == static_cast<UINT>(-1))
        return;
    bool selected = (di.itemState & ODS_SELECTED) != 0;
    FillRect(di.hDC, &di.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    int icon = GetSystemMetrics(SM_CXSMICON);
    int height = di.rcItem.bottom - di.rcItem.top;
    static HICON small = static_cast<HICON>(LoadImageA(
        Instance(), MAKEINTRESOURCEA(IDI_QORVEXAL), IMAGE_ICON, icon, GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    if (small)
        DrawIconEx(
            di.hDC, di.rcItem.left + 2, di.rcItem.top + (height - icon) / 2, small, icon, icon, 0, nullptr, DI_NORMAL);
    char text[256] = "";
    SendMessageA(di.hwndItem, LB_GETTEXT, di.itemID, reinterpret_cast<LPARAM>(text));
    SetBkMode(di.hDC, TRANSPARENT);
    SetTextColor(di.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT r = di.rcItem;
    r.left += icon + 8;
    DrawTextA(di.hDC, text, -1, &r, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (di.itemState & ODS_FOCUS)
        DrawFocusRect(di.hDC, &di.rcItem);
}

// Next on the selection page: the chosen wizard's pages replace those of the wizard loaded before,
// unless it is the same one. False when it could not be loaded (the page stays).
bool ChooseWizard(HWND page, SheetState& s)
{
    LRESULT sel = SendDlgItemMessageA(page, IDC_WIZ_SELECT_LIST, LB_GETCURSEL, 0, 0);
    const std::vector<WizListEntry>& list = s.runner->List();
    if (sel == LB_ERR || static_cast<size_t>(sel) >= list.size())
        return false;
    const std::string& name = list[static_cast<size_t>(sel)].name;
    WizScript* loaded = s.runner->Wizard();
    bool keep = loaded && loaded->name == name && s.inSheet == loaded;
    if (!keep) {
        while (PropSheet_IndexToPage(s.sheet, 2))
            PropSheet_RemovePage(s.sheet, 2, nullptr);
        s.inSheet = nullptr;
    }
    if (!s.runner->Select(name))
        return false;
    if (!keep)
        for (HPROPSHEETPAGE h : WizardPages(s))
            PropSheet_AddPage(s.sheet, h);
    return true;
}

INT_PTR CALLBACK SelectionProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* s = reinterpret_cast<SheetState*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        s = reinterpret_cast<SheetState*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(d, DWLP_USER, reinterpret_cast<LONG_PTR>(s));
        s->sheet = GetParent(d);
        s->selectionFont = BoldFont(d);
        SetDlgItemTextA(d, IDC_WIZ_SELECT_TITLE, Text(WizStrChoose).c_str());
        if (s->selectionFont)
            SendDlgItemMessageA(d, IDC_WIZ_SELECT_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(s->selectionFont), 0);
        SetDlgItemTextA(d, IDC_WIZ_SELECT_TEXT, Text(WizStrChooseText).c_str());
        // The entries hold the titles as their text; the name is found by the entry's place.
        for (const WizListEntry& w : s->runner->List())
            SendDlgItemMessageA(d, IDC_WIZ_SELECT_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(w.title.c_str()));
        if (s->style == 0)
            AddWatermark(d, *s);
        return TRUE;
    }
    case WM_MEASUREITEM: {
        auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        mi->itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYSMICON) + 6);
        SetResult(d, TRUE);
        return TRUE;
    }
    case WM_DRAWITEM:
        DrawEntry(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        SetResult(d, TRUE);
        return TRUE;
    case WM_COMMAND:
        if (s && LOWORD(wParam) == IDC_WIZ_SELECT_LIST) {
            if (HIWORD(wParam) == LBN_SELCHANGE)
                SelectionButtons(d, *s);
            else if (HIWORD(wParam) == LBN_DBLCLK
                && SendDlgItemMessageA(d, IDC_WIZ_SELECT_LIST, LB_GETCURSEL, 0, 0) != LB_ERR)
                PropSheet_PressButton(s->sheet, PSBTN_NEXT);
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        const NMHDR* h = reinterpret_cast<const NMHDR*>(lParam);
        if (!s || h->hwndFrom != GetParent(d))
            return FALSE;
        if (h->code == PSN_SETACTIVE) {
            // The DEFAULT wizard of an unconfigured device is loaded already: no selection.
            WizScript* wiz = s->runner->Wizard();
            if (wiz && wiz->defaultFlag && s->inSheet == wiz) {
                SetResult(d, -1);
                return TRUE;
            }
            s->runner->EnterSelection();
            SelectionButtons(d, *s);
            SetResult(d, 0);
            return TRUE;
        }
        if (h->code == PSN_WIZNEXT) {
            SetResult(d, ChooseWizard(d, *s) ? 0 : -1);
            return TRUE;
        }
        return FALSE;
    }
    case WM_DESTROY:
        if (s && s->selectionFont) {
            DeleteObject(s->selectionFont);
            s->selectionFont = nullptr;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// The placeholder refuses every activation, so the sheet moves past it either way.
INT_PTR CALLBACK PlaceholderProc(HWND d, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == PSN_SETACTIVE) {
        SetResult(d, -1);
        return TRUE;
    }
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

HPROPSHEETPAGE FixedPage(SheetState& s, int id, DLGPROC proc)
{
    PROPSHEETPAGEA psp {};
    psp.dwSize = sizeof psp;
    psp.dwFlags = PSP_USETITLE | (s.style == 1 ? PSP_HIDEHEADER : 0);
    psp.hInstance = Instance();
    psp.pszTemplate = MAKEINTRESOURCEA(id);
    psp.pszTitle = s.caption.c_str();
    psp.pfnDlgProc = proc;
    psp.lParam = reinterpret_cast<LPARAM>(&s);
    return CreatePropertySheetPageA(&psp);
}

// The sheet's own buttons in the program's language once it exists.
int CALLBACK WizardCallback(HWND sheet, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED)
        CfgSheetOwnButtons(sheet, true);
    return 0;
}
} // namespace

int WizRunSheet(HWND owner, DeviceEntry& entry)
{
    WizRunner runner(entry, Globals().dscLanguage);
    WizRunner::Opened opened = runner.Open(false);
    if (opened == WizRunner::Opened::MarkCleared)
        return 0;
    if (opened == WizRunner::Opened::NoWizard) {
        MessageBoxA(owner, Text(WizStrNoWizard).c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return 0;
    }
    SheetState s;
    s.entry = &entry;
    s.runner = &runner;
    s.style = Globals().wizardStyle == 1 ? 1 : 0;
    s.caption = StrFormat(Text(WizStrCaption).c_str(), MainDeviceTitle(entry).c_str());
    s.texts = CfgSheetTexts();
    std::vector<HPROPSHEETPAGE> handles { FixedPage(s, IDD_WIZ_SELECT, SelectionProc),
        FixedPage(s, IDD_WIZ_PLACEHOLDER, PlaceholderProc) };
    bool running = opened == WizRunner::Opened::Running;
    if (running)
        for (HPROPSHEETPAGE h : WizardPages(s))
            handles.push_back(h);
    PROPSHEETHEADERA h {};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_WIZARD | PSH_NOAPPLYNOW;
    HBITMAP header = nullptr;
    if (s.style == 1) {
        // The header bitmap by its handle: a sheet given only the resource loads it but draws no
        // bitmap in the header of an interior page on every common-controls version.
        header = LoadBitmapA(Instance(), MAKEINTRESOURCEA(IDB_WIZ_HEADER));
        h.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_NOAPPLYNOW | (header ? PSH_USEHBMHEADER : 0);
        h.pszbmWatermark = MAKEINTRESOURCEA(IDB_WIZ_WATERMARK);
        h.hbmHeader = header;
    }
    h.dwFlags |= PSH_USECALLBACK;
    h.pfnCallback = WizardCallback;
    h.hwndParent = owner;
    h.hInstance = Instance();
    h.pszCaption = s.caption.c_str();
    h.nPages = static_cast<UINT>(handles.size());
    h.nStartPage = running ? 2 : 0;
    h.phpage = handles.data();
    PropertySheetA(&h);
    int result = s.finished ? runner.Complete() : runner.Cancel();
    if (s.watermark)
        DeleteObject(s.watermark);
    if (header)
        DeleteObject(header);
    return result;
}

bool WizSetupFlow(HWND owner, DeviceCommands& commands, uint32_t message, int32_t result, DeviceJob& job)
{
    if (message != JobReadForWizard)
        return false;
    // The write job's result comes back to the configuration flow, which releases the configuration.
    // Like the configuration sheet's, the write asks first with the list of what it changes.
    if (result == JobReadOk && job.first && job.first->config && WizRunSheet(owner, *job.first) > 0
        && commands.Confirm(StrLoad(qorvexal_Strings(), CmdStrRestoreWarning), "DontAskForUploadConfig",
            [&] { return HistWriteChangesText(job.first, kHistQuestionLines); })
        && commands.PostJob(JobWriteConfig))
        return true;
    commands.PostJob(JobRelease);
    return true;
}
