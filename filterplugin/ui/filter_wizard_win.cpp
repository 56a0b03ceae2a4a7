// The filter wizard: its first page (the one the entry point hands over) keeps the state and inserts the
// further pages after itself; pages of the other mode skip themselves in the direction of travel.
#include "common/text.h"
#include "filterplugin/filter_template.h"
#include "filterplugin/ui/filter_res.h"
#include "filterplugin/ui/filter_ui_win.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Wizard {
    FilterWizardState state;
    bool headers = false; // the sheet draws header texts (the larger page record)
    bool inserted = false;
    bool mac = false;
    std::string titles[8], subtitles[8]; // header texts of the inserted pages
    std::string caption; // the host's title of the sheet, which the inserted pages keep
    FilterStationList source { IDC_SRC };
    FilterStationList dest { IDC_DST };
    FilterRule userServices; // what the services dialog gave for "user-defined"
    bool deleteRead = false;
    HFONT bold = nullptr;
};

// The pages inserted after the first, in order, with their header texts.
struct PageInfo {
    int id;
    unsigned title, subtitle;
};
const PageInfo k_pages[] = {
    { IDD_WIZ_NAME, FilterStrAddTitle, FilterStrNameSubtitle },
    { IDD_WIZ_SOURCE, FilterStrAddTitle, FilterStrStationSubtitle },
    { IDD_WIZ_DEST, FilterStrAddTitle, FilterStrStationSubtitle },
    { IDD_WIZ_SERVICE, FilterStrAddTitle, FilterStrStationSubtitle },
    { IDD_WIZ_SUMMARY, FilterStrAddTitle, FilterStrSummarySubtitle },
    { IDD_WIZ_DELETE, FilterStrDeleteTitle, FilterStrDeleteSubtitle },
    { IDD_WIZ_FINISH, 0, 0 },
};

Wizard* StateOf(HWND page)
{
    auto first = reinterpret_cast<HWND>(GetWindowLongPtrA(page, DWLP_USER));
    return first ? reinterpret_cast<Wizard*>(SendMessageA(first, WM_FILTER_STATE, 0, 0)) : nullptr;
}

HFONT BoldFont(HWND dialog, int points)
{
    HDC dc = GetDC(dialog);
    int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(dialog, dc);
    return CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Shell Dlg");
}

// True when no page of the host follows `page` in the sheet.
bool IsSheetsLastPage(HWND page)
{
    HWND sheet = GetParent(page);
    int index = static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0));
    return index >= 0 && !PropSheet_IndexToPage(sheet, index + 1);
}

// The buttons of a page: Back unless it is the sheet's first page; Finish on the last page, which is
// then the default button (Enter finishes).
void SetButtons(HWND page, bool finish)
{
    constexpr WPARAM kNext = 0x3024, kFinish = 0x3025;
    HWND sheet = GetParent(page);
    int index = static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0));
    // The sheet's last page offers Finish (pages of the host may follow the wizard's).
    bool last = IsSheetsLastPage(page);
    DWORD buttons = index > 0 ? PSWIZB_BACK : 0;
    buttons |= finish && last ? PSWIZB_FINISH : PSWIZB_NEXT;
    PropSheet_SetWizButtons(sheet, buttons);
    SendMessageA(sheet, DM_SETDEFID, finish && last ? kFinish : kNext, 0);
}

void InsertPages(HWND first, Wizard* w)
{
    HWND sheet = GetParent(first);
    int index = static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(first), 0));
    if (index < 0)
        return;
    int at = index + 1;
    // A wizard sheet shows the title of its current page: the inserted pages carry the host's, not
    // their templates' captions.
    char caption[256] = {};
    GetWindowTextA(sheet, caption, sizeof caption);
    w->caption = caption;
    for (size_t i = 0; i < sizeof k_pages / sizeof k_pages[0]; ++i) {
        const PageInfo& info = k_pages[i];
        w->titles[i] = info.title ? FilterStr(info.title) : std::string();
        w->subtitles[i] = info.subtitle ? FilterStr(info.subtitle) : std::string();
        PROPSHEETPAGEA page {};
        page.dwSize = w->headers ? sizeof(PROPSHEETPAGEA) : PROPSHEETPAGEA_V1_SIZE;
        page.hInstance = g_filterModule;
        page.pfnDlgProc = nullptr; // set below
        page.lParam = reinterpret_cast<LPARAM>(first);
        page.pfnCallback = FilterWizardPageCallback;
        page.dwFlags = PSP_USECALLBACK;
        if (!w->caption.empty()) {
            page.dwFlags |= PSP_USETITLE;
            page.pszTitle = w->caption.c_str();
        }
        if (w->headers) {
            page.pszTemplate = MAKEINTRESOURCEA(info.id);
            if (info.title) {
                page.dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
                page.pszHeaderTitle = w->titles[i].c_str();
                page.pszHeaderSubTitle = w->subtitles[i].c_str();
            } else {
                page.dwFlags |= PSP_HIDEHEADER;
            }
        } else {
            void* memory = info.title ? FilterLoadTemplate(info.id, w->titles[i], w->subtitles[i])
                                      : FilterLoadTemplate(info.id, std::string(), std::string());
            if (!memory)
                continue;
            page.dwFlags |= PSP_DLGINDIRECT;
            page.pResource = static_cast<LPCDLGTEMPLATEA>(memory);
        }
        page.pfnDlgProc = FilterWizardPageProc;
        HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
        if (!handle) {
            if (page.dwFlags & PSP_DLGINDIRECT)
                std::free(const_cast<DLGTEMPLATE*>(page.pResource));
            continue;
        }
        if (!SendMessageA(sheet, PSM_INSERTPAGE, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(handle)))
            DestroyPropertySheetPage(handle);
        else
            ++at;
    }
}

// Which page a dialog is: its template's id is kept in the window's property.
const char k_pageProp[] = "QvFilterPage";

int PageOf(HWND dialog)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(GetPropA(dialog, k_pageProp)));
}

// The page's id from its controls (each page has one control no other page has).
int IdentifyPage(HWND dialog)
{
    const std::pair<int, int> marks[] = {
        { IDC_NAME, IDD_WIZ_NAME },
        { IDC_SRC + STN_LIST, IDD_WIZ_SOURCE },
        { IDC_DST + STN_LIST, IDD_WIZ_DEST },
        { IDC_PRESET, IDD_WIZ_SERVICE },
        { IDC_SUMMARY, IDD_WIZ_SUMMARY },
        { IDC_DEL_LIST, IDD_WIZ_DELETE },
        { IDC_FINISH_TEXT, IDD_WIZ_FINISH },
    };
    for (auto [control, page] : marks)
        if (GetDlgItem(dialog, control))
            return page;
    return 0;
}

void SetHeaderFont(HWND dialog, Wizard* w)
{
    if (HWND title = GetDlgItem(dialog, IDC_HDR_TITLE)) {
        if (!w->bold)
            w->bold = BoldFont(dialog, 8);
        SendMessageA(title, WM_SETFONT, reinterpret_cast<WPARAM>(w->bold), TRUE);
    }
}

// ---- the services dialog of "user-defined" ----

INT_PTR CALLBACK ServicesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* rule = reinterpret_cast<FilterRule*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        FilterApplyTexts(dialog);
        SetWindowTextA(dialog, FilterStr(FilterStrPageServices).c_str());
        FilterShowServices(dialog, *reinterpret_cast<FilterRule*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            FilterReadServices(dialog, rule);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

int CheckedPreset(HWND dialog)
{
    for (int p = 0; p < FilterPresetCount; ++p)
        if (IsDlgButtonChecked(dialog, IDC_PRESET + p) == BST_CHECKED)
            return p;
    return FilterPresetAll;
}

// ---- page events ----

void ShowPage(HWND dialog, Wizard* w, int page)
{
    FilterWizardState& s = w->state;
    switch (page) {
    case IDD_WIZ_NAME:
        SetDlgItemTextA(dialog, IDC_NAME, s.rule.name.c_str());
        FilterShowAction(dialog, s.rule.action);
        break;
    case IDD_WIZ_SOURCE:
        w->source.stations.clear();
        w->source.Show(dialog, s.rule.sources);
        break;
    case IDD_WIZ_DEST:
        w->dest.stations.clear();
        w->dest.Show(dialog, s.rule.dests);
        break;
    case IDD_WIZ_SERVICE: {
        // The preset the rule's services match is selected again.
        FilterPreset preset = FilterPresetOf(s.rule);
        if (preset == FilterPresetUser)
            w->userServices = s.rule;
        for (int p = 0; p < FilterPresetCount; ++p)
            CheckDlgButton(dialog, IDC_PRESET + p, p == preset ? BST_CHECKED : BST_UNCHECKED);
        EnableWindow(GetDlgItem(dialog, IDC_DEFINE), preset == FilterPresetUser);
        break;
    }
    case IDD_WIZ_SUMMARY: {
        s.Unmark();
        std::string text = FilterSummaryText(s.rule);
        HWND edit = GetDlgItem(dialog, IDC_SUMMARY);
        int stops[1] = { 60 };
        SendMessageA(edit, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(stops));
        SetWindowTextA(edit, text.c_str());
        CheckDlgButton(dialog, IDC_ANOTHER, BST_UNCHECKED);
        break;
    }
    case IDD_WIZ_DELETE: {
        HWND list = GetDlgItem(dialog, IDC_DEL_LIST);
        if (!w->deleteRead) {
            w->deleteRead = true;
            s.list = FilterRead(s.host);
            SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(FilterRuleImages()));
            FilterRuleColumns(list);
            // Rows that cannot be read are offered for correction; a cancelled one stays in the tables
            // as it is, out of the list.
            FilterOfferCorrections(s.host, s.list, [dialog](const FilterUnreadable& row, std::string* text) {
                return FilterAskCorrection(dialog, row, text);
            });
        }
        SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
        for (size_t i = 0; i < s.list.rules.size(); ++i)
            FilterRuleLine(list, static_cast<int>(i), s.list.rules[i], true);
        EnableWindow(GetDlgItem(dialog, IDC_DEL_BUTTON), FALSE);
        break;
    }
    case IDD_WIZ_FINISH:
        SetDlgItemTextA(dialog, IDC_FINISH_TEXT, s.FinishText(IsSheetsLastPage(dialog)).c_str());
        break;
    default:
        break;
    }
    SetButtons(dialog, page == IDD_WIZ_FINISH);
}

// Leaving a page forwards (`forward`) or backwards; false keeps the wizard on it.
bool LeavePage(HWND dialog, Wizard* w, int page, bool forward)
{
    FilterWizardState& s = w->state;
    switch (page) {
    case IDD_WIZ_NAME:
        s.rule.name = std::string(Trim(FilterGetText(dialog, IDC_NAME)));
        s.rule.action = FilterReadAction(dialog);
        if (forward) {
            if (unsigned problem = FilterCheckNewName(s.host, s.rule.name)) {
                FilterMessage(dialog, problem);
                SetFocus(GetDlgItem(dialog, IDC_NAME));
                return false;
            }
        }
        return true;
    case IDD_WIZ_SOURCE:
        s.rule.sources = w->source.Value(dialog);
        return true;
    case IDD_WIZ_DEST:
        s.rule.dests = w->dest.Value(dialog);
        return true;
    case IDD_WIZ_SERVICE: {
        int preset = CheckedPreset(dialog);
        if (preset == FilterPresetUser) {
            s.rule.protocols = w->userServices.protocols;
            s.rule.source_ports = w->userServices.source_ports;
            s.rule.dest_ports = w->userServices.dest_ports;
        } else {
            FilterApplyPreset(&s.rule, static_cast<FilterPreset>(preset));
        }
        return true;
    }
    case IDD_WIZ_SUMMARY:
        if (!forward)
            return true;
        if (IsDlgButtonChecked(dialog, IDC_ANOTHER) == BST_CHECKED) {
            if (!s.AddAnother()) {
                FilterMessage(dialog, FilterStrNotAllWritten);
                return false;
            }
            // Back to the name page for the next rule.
            PostMessageA(dialog, WM_FILTER_GOTO, IDD_WIZ_NAME, 0);
            return false;
        }
        s.MarkPending();
        return true;
    case IDD_WIZ_FINISH:
        // Pages of the host may follow the wizard's (a set-up wizard's last page, where Finish is
        // pressed): the pending rule goes into the tables when the finish page is left forwards.
        if (forward && !s.Finish()) {
            FilterMessage(dialog, FilterStrNotAllWritten);
            return false;
        }
        return true;
    case IDD_WIZ_DELETE:
        if (forward && s.WriteDeletions() != 0) {
            FilterMessage(dialog, FilterStrNotAllWritten);
            return false;
        }
        return true;
    default:
        return true;
    }
}

} // namespace

INT_PTR CALLBACK FilterWizardPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* page = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, page->lParam);
        int id = IdentifyPage(dialog);
        SetPropA(dialog, k_pageProp, reinterpret_cast<HANDLE>(static_cast<intptr_t>(id)));
        Wizard* w = StateOf(dialog);
        FilterApplyTexts(dialog);
        if (w)
            SetHeaderFont(dialog, w);
        if (id == IDD_WIZ_NAME)
            FilterAttachField(dialog, IDC_NAME, FilterFieldRuleName);
        if (id == IDD_WIZ_FINISH && w && w->headers) {
            // The page has no header: the sheet draws its watermark on the left, the texts go beside it.
            RECT band { 0, 0, 115, 0 };
            MapDialogRect(dialog, &band);
            for (int control : { IDC_FINISH_TITLE, IDC_FINISH_TEXT }) {
                HWND c = GetDlgItem(dialog, control);
                RECT r;
                GetWindowRect(c, &r);
                MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
                int width = r.right - band.right;
                SetWindowPos(c, nullptr, band.right, r.top, width > 40 ? width : r.right - r.left, r.bottom - r.top,
                    SWP_NOZORDER | SWP_NOACTIVATE);
            }
        }
        if (id == IDD_WIZ_FINISH && w) {
            HFONT large = BoldFont(dialog, 12);
            SetPropA(dialog, "QvFilterFont", large);
            SendDlgItemMessageA(dialog, IDC_FINISH_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(large), TRUE);
        }
        return TRUE;
    }
    case WM_FILTER_GOTO: {
        HWND sheet = GetParent(dialog);
        auto first = reinterpret_cast<HWND>(GetWindowLongPtrA(dialog, DWLP_USER));
        int index = static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(first), 0));
        if (index >= 0 && static_cast<int>(wParam) == IDD_WIZ_NAME)
            PropSheet_SetCurSel(sheet, nullptr, index + 1);
        return TRUE;
    }
    case WM_COMMAND: {
        Wizard* w = StateOf(dialog);
        if (!w)
            return FALSE;
        int id = LOWORD(wParam), code = HIWORD(wParam);
        int page = PageOf(dialog);
        if (page == IDD_WIZ_NAME && code == BN_CLICKED && id >= IDC_DROP && id <= IDC_DEFROUTE) {
            FilterActionClicked(dialog, id);
            return TRUE;
        }
        if (page == IDD_WIZ_SOURCE)
            return w->source.Command(dialog, id, code);
        if (page == IDD_WIZ_DEST)
            return w->dest.Command(dialog, id, code);
        if (page == IDD_WIZ_SERVICE && code == BN_CLICKED) {
            if (id >= IDC_PRESET && id < IDC_PRESET + FilterPresetCount)
                EnableWindow(GetDlgItem(dialog, IDC_DEFINE), id == IDC_PRESET + FilterPresetUser);
            if (id == IDC_DEFINE)
                DialogBoxParamA(g_filterModule, MAKEINTRESOURCEA(IDD_SERVICES), dialog, ServicesProc,
                    reinterpret_cast<LPARAM>(&w->userServices));
            return TRUE;
        }
        if (page == IDD_WIZ_DELETE && id == IDC_DEL_BUTTON) {
            HWND list = GetDlgItem(dialog, IDC_DEL_LIST);
            int current = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
            if (current >= 0 && w->state.DeleteAt(static_cast<size_t>(current)))
                SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(current), 0);
            EnableWindow(GetDlgItem(dialog, IDC_DEL_BUTTON), FALSE);
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        Wizard* w = StateOf(dialog);
        if (!w)
            return FALSE;
        int page = PageOf(dialog);
        if (header->idFrom == IDC_DEL_LIST && header->code == LVN_ITEMCHANGED) {
            bool selected
                = SendMessageA(header->hwndFrom, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED) >= 0;
            EnableWindow(GetDlgItem(dialog, IDC_DEL_BUTTON), selected);
            return TRUE;
        }
        switch (header->code) {
        case PSN_SETACTIVE:
            if (!FilterWizardShows(page, w->state.mode))
                return FilterResult(dialog, -1);
            ShowPage(dialog, w, page);
            return FilterResult(dialog, 0);
        case PSN_WIZNEXT:
            return FilterResult(dialog, LeavePage(dialog, w, page, true) ? 0 : -1);
        case PSN_WIZBACK:
            return FilterResult(dialog, LeavePage(dialog, w, page, false) ? 0 : -1);
        case PSN_WIZFINISH:
            // A rule still to be added goes into the tables now; when it does not fit, the wizard stays.
            if (!w->state.Finish()) {
                FilterMessage(dialog, FilterStrNotAllWritten);
                return FilterResult(dialog, TRUE);
            }
            return FilterResult(dialog, FALSE);
        }
        return FALSE;
    }
    case WM_DESTROY:
        if (HANDLE font = GetPropA(dialog, "QvFilterFont")) {
            DeleteObject(font);
            RemovePropA(dialog, "QvFilterFont");
        }
        RemovePropA(dialog, k_pageProp);
        return FALSE;
    }
    return FALSE;
}

INT_PTR CALLBACK FilterWizardStartProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* w = reinterpret_cast<Wizard*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        auto* page = reinterpret_cast<PROPSHEETPAGEA*>(lParam);
        w = new Wizard;
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(w));
        w->state.host = FilterPageHost(reinterpret_cast<PluginContext*>(page->lParam));
        w->headers = (page->dwFlags & PSP_USEHEADERTITLE) != 0;
        w->mac = FilterMacEnabled(w->state.host);
        w->source.mac = w->dest.mac = w->mac;
        FilterApplyTexts(dialog);
        SetHeaderFont(dialog, w);
        CheckDlgButton(dialog, IDC_MODE_ADD, BST_CHECKED);
        return TRUE;
    }
    case WM_FILTER_STATE:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(w));
        return TRUE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (!w)
            return FALSE;
        if (header->code == PSN_SETACTIVE) {
            if (!w->inserted) {
                w->inserted = true;
                InsertPages(dialog, w);
            }
            SetButtons(dialog, false);
            return FilterResult(dialog, 0);
        }
        if (header->code == PSN_WIZNEXT) {
            w->state.mode
                = IsDlgButtonChecked(dialog, IDC_MODE_DELETE) == BST_CHECKED ? FilterModeDelete : FilterModeAdd;
            return FilterResult(dialog, 0);
        }
        return FALSE;
    }
    case WM_DESTROY:
        if (w) {
            if (w->bold)
                DeleteObject(w->bold);
            delete w;
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
        }
        return FALSE;
    }
    return FALSE;
}

UINT CALLBACK FilterWizardPageCallback(HWND, UINT message, LPPROPSHEETPAGEA page)
{
    // The template loaded into memory goes with the page.
    if (message == PSPCB_RELEASE && page && (page->dwFlags & PSP_DLGINDIRECT) && page->pResource) {
        std::free(const_cast<DLGTEMPLATE*>(page->pResource));
        page->pResource = nullptr;
    }
    return 1;
}

void* FilterLoadTemplate(int id, const std::string& title, const std::string& subtitle)
{
    HRSRC found = FindResourceA(g_filterModule, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)); // RT_DIALOG
    HGLOBAL loaded = found ? LoadResource(g_filterModule, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(g_filterModule, found) : 0;
    if (!data || size == 0)
        return nullptr;
    std::vector<uint8_t> bytes;
    if (title.empty()) {
        bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    } else {
        auto wide = [](const std::string& text) {
            std::u16string out;
            int n = MultiByteToWideChar(1252, 0, text.c_str(), -1, nullptr, 0);
            if (n > 0) {
                std::wstring w(static_cast<size_t>(n), L'\0');
                MultiByteToWideChar(1252, 0, text.c_str(), -1, w.data(), n);
                for (size_t i = 0; i + 1 < w.size(); ++i)
                    out += static_cast<char16_t>(w[i]);
            }
            return out;
        };
        FilterHeaderControls header;
        header.title = wide(title);
        header.subtitle = wide(subtitle);
        header.titleId = IDC_HDR_TITLE;
        header.subtitleId = IDC_HDR_SUBTITLE;
        bytes = FilterTemplateWithHeader(static_cast<const uint8_t*>(data), size, header);
        if (bytes.empty())
            return nullptr;
    }
    void* memory = std::malloc(bytes.size());
    if (memory)
        std::memcpy(memory, bytes.data(), bytes.size());
    return memory;
}
