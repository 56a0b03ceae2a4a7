// setup.exe: the installer's Win32 shell. Reads "setup.inf" beside the program through SetupAPI,
// decides with the portable engine (setup/setup_plan.h) and carries the plan out on a worker thread
// through WinSetupHost, behind eight wizard pages or, in quiet mode, without any.
#include "common/diag.h"
#include "common/platform/instance.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "setup/inf_setupapi.h"
#include "setup/setup_plan.h"
#include "setup/texts.h"
#include "setup/ui/host_win.h"
#include "setup/ui/resource.h"

#include <windows.h>

#include <commctrl.h>
#include <memory>
#include <prsht.h>
#include <richedit.h>
#include <setupapi.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace {

constexpr DWORD kDirTarget = 32768;
// The wizard sheet's own buttons.
constexpr int kSheetBack = 0x3023;
constexpr int kSheetNext = 0x3024;
constexpr int kSheetFinish = 0x3025;
constexpr int kExitDone = 0;
constexpr int kExitRestartNeeded = 3010;
constexpr int kExitFailed = 1603;

struct Setup {
    HINSTANCE instance = nullptr;
    HWND window = nullptr; // the hidden "SETUP" window
    HWND sheet = nullptr;
    SetupCommandLine cmd;
    SetupOs os;
    std::string programDir; // with the trailing "\"
    std::string infPath;
    HINF hinf = INVALID_HANDLE_VALUE;
    std::unique_ptr<InfSource> inf;
    SetupSections sections;
    std::vector<ProductLine> products;
    std::vector<bool> newer; // installed version newer than the script's
    std::vector<std::string> selected;
    std::string targetDir;
    int style = 1;
    bool remove = false;
    // The worker thread and its outcome.
    HANDLE thread = nullptr;
    std::atomic<bool> running { false };
    bool finished = false;
    SetupResult result;
    bool restartNeeded = false;
    int exitCode = kExitFailed;
    HBITMAP watermark = nullptr;
    HBITMAP header = nullptr;
    HIMAGELIST icons = nullptr;
};
Setup g;

std::string Str(unsigned id)
{
    return StrLoad(setup_Strings(), id);
}

std::string Expanded(unsigned id)
{
    return SetupExpandString(id, [](unsigned n) { return Str(n); });
}

// A message to the user; in quiet mode a diagnostic line instead.
int Message(const std::string& text, const std::string& caption, UINT flags)
{
    if (g.cmd.quiet) {
        Diag("setup: %s: %s\n", caption.c_str(), text.c_str());
        return (flags & MB_DEFBUTTON2) != 0 ? IDNO : IDOK;
    }
    return MessageBoxA(g.sheet, text.c_str(), caption.c_str(), flags | MB_SETFOREGROUND);
}

SetupOs RunningOs()
{
    OSVERSIONINFOA info {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    SetupOs os;
    os.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    os.major = info.dwMajorVersion;
    os.minor = info.dwMinorVersion;
    return os;
}

bool IsSelected(const std::string& key)
{
    for (const std::string& s : g.selected)
        if (StrEqualNoCase(s, key))
            return true;
    return false;
}

void SetSelected(const std::string& key, bool on)
{
    std::erase_if(g.selected, [&](const std::string& s) { return StrEqualNoCase(s, key); });
    if (on)
        g.selected.push_back(key);
}

std::string TargetPathOf(const std::string& section)
{
    char path[MAX_PATH] = {};
    if (!SetupGetTargetPathA(g.hinf, nullptr, section.c_str(), path, sizeof path, nullptr))
        return {};
    return path;
}

bool SetTargetDir(const std::string& dir)
{
    if (Trim(dir).empty() || !SetupSetDirectoryIdA(g.hinf, kDirTarget, dir.c_str()))
        return false;
    g.targetDir = dir;
    return true;
}

DWORD WINAPI Worker(LPVOID)
{
    if (g.os.nt)
        SetThreadLocale(MAKELCID(StrGetLanguage(), SORT_DEFAULT));
    HWND progress = g.cmd.quiet ? nullptr : PropSheet_GetCurrentPageHwnd(g.sheet);
    WinSetupHost host(
        g.hinf, progress, g.cmd.quiet, g.remove, g.os.nt, g.programDir.substr(0, g.programDir.size() - 1));
    SetupJob job;
    job.inf = g.inf.get();
    job.os = g.os;
    job.sections = g.sections;
    job.products = g.products;
    job.selected = g.selected;
    job.targetDir = g.targetDir;
    job.targetPath = TargetPathOf;
    job.fileSize = [](const std::string& name) -> std::optional<uint64_t> {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA((g.programDir + name).c_str(), GetFileExInfoStandard, &data))
            return std::nullopt;
        return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    };
    SetupResult result;
    if (g.remove) {
        std::string dir = SetupRemovalTargetDir(job);
        if (!dir.empty())
            SetTargetDir(dir);
        job.targetDir = g.targetDir;
        result = SetupRemove(job, host);
    } else {
        result = SetupInstall(job, host);
    }
    g.result = result;
    g.running = false;
    PostMessageA(progress ? progress : g.window, kMsgDone, result.ok, static_cast<LPARAM>(result.error));
    return 0;
}

bool StartWorker()
{
    g.running = true;
    DWORD id = 0;
    g.thread = CreateThread(nullptr, 0, Worker, nullptr, 0, &id);
    if (!g.thread) {
        g.running = false;
        return false;
    }
    return true;
}

// The failure text: the fixed message, then the system's text for the error when there is one.
std::string FailureText(const SetupResult& result)
{
    std::string text = Str(g.remove ? SetupStrRemoveFailed : SetupStrInstallFailed);
    std::string system = SetupSystemMessage(result.error);
    if (!system.empty())
        text = StrFormat(Str(SetupStrFailureReason).c_str(), text.c_str(), system.c_str());
    return text;
}

// ---- Pages ----

struct PageInfo {
    int dialog;
    unsigned title; // header title (0: none)
    unsigned subtitle;
};

void SetText(HWND page, int id, const std::string& text)
{
    SetDlgItemTextA(page, id, text.c_str());
}

// Title lines of the welcome and finish pages: bold and larger.
HFONT TitleFont()
{
    static HFONT font = nullptr;
    if (!font) {
        NONCLIENTMETRICSA metrics {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        LOGFONTA lf = metrics.lfMessageFont;
        lf.lfWeight = FW_BOLD;
        lf.lfHeight = lf.lfHeight * 3 / 2;
        font = CreateFontIndirectA(&lf);
    }
    return font;
}

void InitCommon(HWND page, const PageInfo& info)
{
    if (GetDlgItem(page, IDC_TITLE))
        SendDlgItemMessageA(page, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(TitleFont()), TRUE);
    // In the classic style the header texts stand on the page itself.
    if (HWND header = GetDlgItem(page, IDC_HEADER)) {
        if (g.style == 0 && info.title != 0)
            SetWindowTextA(header, Str(info.title).c_str());
        else
            ShowWindow(header, SW_HIDE);
    }
}

// The wizard's own buttons speak the pages' language (the system labels them in its own, and the
// pages tell the user which of them to click).
void TranslateSheetButtons()
{
    static const struct {
        int control;
        unsigned text;
    } kButtons[] = { { kSheetBack, SetupStrBack }, { kSheetNext, SetupStrNext }, { kSheetFinish, SetupStrFinish },
        { IDCANCEL, SetupStrCancel } };
    for (const auto& button : kButtons)
        SetDlgItemTextA(g.sheet, button.control, Str(button.text).c_str());
}

void SetButtons(DWORD buttons)
{
    PropSheet_SetWizButtons(g.sheet, buttons);
}

void EnableCancel(bool on)
{
    EnableWindow(GetDlgItem(g.sheet, IDCANCEL), on);
}

bool AnyRestartNote()
{
    for (const ProductLine& p : g.products)
        if (IsSelected(p.key) && (p.flags & kProductRestartNote) != 0)
            return true;
    return false;
}

void DrawProduct(const DRAWITEMSTRUCT* item)
{
    if (item->itemID == static_cast<UINT>(-1) || item->itemID >= g.products.size())
        return;
    const ProductLine& product = g.products[item->itemID];
    HDC dc = item->hDC;
    RECT r = item->rcItem;
    bool focused = (item->itemState & ODS_SELECTED) != 0;
    FillRect(dc, &r, GetSysColorBrush(focused ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    RECT box { r.left + 2, r.top + 1, r.left + 15, r.top + 14 };
    DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | (IsSelected(product.key) ? DFCS_CHECKED : 0));
    if (g.icons)
        ImageList_Draw(g.icons, static_cast<int>(product.icon), dc, r.left + 18, r.top, ILD_TRANSPARENT);
    SetBkMode(dc, TRANSPARENT);
    COLORREF colour = g.newer[item->itemID] ? GetSysColor(COLOR_GRAYTEXT)
        : focused                           ? GetSysColor(COLOR_HIGHLIGHTTEXT)
                                            : GetSysColor(COLOR_WINDOWTEXT);
    SetTextColor(dc, colour);
    RECT text { r.left + 38, r.top, r.right, r.bottom };
    DrawTextA(dc, product.name.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if ((item->itemState & ODS_FOCUS) != 0)
        DrawFocusRect(dc, &r);
}

void UpdateComponentButtons()
{
    SetButtons(g.selected.empty() ? PSWIZB_BACK : PSWIZB_BACK | PSWIZB_NEXT);
}

// Checking a product whose installed version is newer asks first (default No).
void ToggleProduct(HWND list, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= g.products.size())
        return;
    const ProductLine& product = g.products[index];
    bool on = !IsSelected(product.key);
    if (on && g.newer[index]) {
        std::string question = StrFormat(Str(SetupStrNewerInstalled).c_str(), product.name.c_str());
        if (Message(question, Str(SetupStrWarning), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
            return;
    }
    SetSelected(product.key, on);
    InvalidateRect(list, nullptr, TRUE);
    UpdateComponentButtons();
}

LRESULT CALLBACK ProductListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (msg == WM_LBUTTONDOWN && LOWORD(lParam) < 16) {
        DWORD hit = static_cast<DWORD>(SendMessageA(list, LB_ITEMFROMPOINT, 0, lParam));
        if (HIWORD(hit) == 0)
            ToggleProduct(list, LOWORD(hit));
    } else if (msg == WM_KEYDOWN && wParam == VK_SPACE) {
        ToggleProduct(list, static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0)));
        return 0;
    } else if (msg == WM_LBUTTONDBLCLK) {
        DWORD hit = static_cast<DWORD>(SendMessageA(list, LB_ITEMFROMPOINT, 0, lParam));
        if (HIWORD(hit) == 0)
            ToggleProduct(list, LOWORD(hit));
    }
    return DefSubclassProc(list, msg, wParam, lParam);
}

DWORD CALLBACK StreamLicense(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done)
{
    auto* text = reinterpret_cast<std::string*>(cookie);
    LONG n = std::min<LONG>(size, static_cast<LONG>(text->size()));
    memcpy(buffer, text->data(), static_cast<size_t>(n));
    text->erase(0, static_cast<size_t>(n));
    *done = n;
    return 0;
}

// The licence in the wizard's language, else in English, else in any language the program has.
HRSRC LicenseResource()
{
    const LANGID languages[] = { StrGetLanguage(), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US) };
    for (LANGID lang : languages)
        if (HRSRC res = FindResourceExA(g.instance, "RTF", MAKEINTRESOURCEA(IDR_LICENSE), lang))
            return res;
    return FindResourceA(g.instance, MAKEINTRESOURCEA(IDR_LICENSE), "RTF");
}

std::string LicenseText()
{
    HRSRC res = LicenseResource();
    HGLOBAL data = res ? LoadResource(g.instance, res) : nullptr;
    if (!data)
        return {};
    return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(g.instance, res));
}

int CALLBACK BrowseCallback(HWND dialog, UINT msg, LPARAM, LPARAM data)
{
    if (msg == BFFM_INITIALIZED)
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

void Browse(HWND page)
{
    std::string prompt = Str(SetupStrChooseTarget);
    BROWSEINFOA info {};
    info.hwndOwner = g.sheet;
    info.lpszTitle = prompt.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(g.targetDir.c_str());
    LPITEMIDLIST item = SHBrowseForFolderA(&info);
    if (item) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(item, path))
            SetDlgItemTextA(page, IDC_TARGETDIR, path);
        CoTaskMemFree(item);
    }
}

// The carry-out and removal pages: progress of the worker.
void OnWorkerMessage(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    HWND bar = GetDlgItem(page, IDC_PROGRESS);
    switch (msg) {
    case kMsgStage: {
        // By stage number; the files' stage copies or deletes, and the last one shows nothing.
        static const unsigned kStageText[] = { 0, 0, SetupStrStageStopServices, 0, SetupStrStageRegistry,
            SetupStrStageShortcuts, SetupStrStageStartServices };
        unsigned id = wParam < std::size(kStageText) ? kStageText[wParam] : 0;
        if (wParam == kStageFiles)
            id = g.remove ? SetupStrStageDeleteFiles : SetupStrStageCopyFiles;
        SetText(page, IDC_STAGE, id != 0 ? Str(id) : "");
        break;
    }
    case kMsgQueueProgress:
        if (wParam == 0) {
            ShowWindow(bar, SW_SHOW);
            SendMessageA(bar, PBM_SETRANGE32, 0, lParam);
            SendMessageA(bar, PBM_SETPOS, 0, 0);
            SendMessageA(bar, PBM_SETSTEP, 1, 0);
        } else {
            SendMessageA(bar, PBM_STEPIT, 0, 0);
        }
        break;
    case kMsgProgressRange:
        ShowWindow(bar, wParam > 0 ? SW_SHOW : SW_HIDE);
        SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(wParam));
        SendMessageA(bar, PBM_SETPOS, 0, 0);
        break;
    case kMsgProgressPos:
        SendMessageA(bar, PBM_SETPOS, wParam, 0);
        break;
    case kMsgStepText: {
        std::unique_ptr<char[]> text(reinterpret_cast<char*>(lParam));
        SetText(page, IDC_STAGE, text.get());
        break;
    }
    case kMsgDone:
        WaitForSingleObject(g.thread, INFINITE);
        CloseHandle(g.thread);
        g.thread = nullptr;
        if (g.result.ok) {
            g.finished = true;
            g.restartNeeded = g.result.restart;
            EnableCancel(true);
            PropSheet_PressButton(g.sheet, PSBTN_NEXT);
        } else {
            SetText(page, IDC_STAGE, "");
            Message(FailureText(g.result), Str(SetupStrError), MB_OK | MB_ICONERROR);
            EnableCancel(true);
            SetButtons(PSWIZB_BACK | PSWIZB_NEXT);
        }
        break;
    default:
        break;
    }
}

// The texts and contents a page shows when it is made.
void InitPage(HWND page, const PageInfo& info)
{
    switch (info.dialog) {
    case IDD_WELCOME:
        SetText(page, IDC_TITLE, Expanded(SetupStrCaption));
        SetText(page, IDC_TEXT, Expanded(SetupStrWelcome));
        break;
    case IDD_LICENSE: {
        std::string text = LicenseText();
        EDITSTREAM stream { reinterpret_cast<DWORD_PTR>(&text), 0, StreamLicense };
        SendDlgItemMessageA(page, IDC_LICENSE, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
        break;
    }
    case IDD_COMPONENTS: {
        HWND list = GetDlgItem(page, IDC_PRODUCTS);
        SendMessageA(list, LB_SETITEMHEIGHT, 0, 17);
        for (const ProductLine& p : g.products)
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p.name.c_str()));
        SetWindowSubclass(list, ProductListProc, 1, 0);
        if (!g.products.empty()) {
            SendMessageA(list, LB_SETCURSEL, 0, 0);
            SetText(page, IDC_DESCRIPTION, g.products[0].description);
        }
        break;
    }
    case IDD_TARGET:
        SetText(page, IDC_TEXT, Str(SetupStrChooseTarget));
        SetText(page, IDC_BROWSE, Str(SetupStrBrowse));
        SetText(page, IDC_TARGETDIR, g.targetDir);
        SHAutoComplete(GetDlgItem(page, IDC_TARGETDIR), SHACF_FILESYS_DIRS);
        break;
    case IDD_CARRYOUT:
        SetText(page, IDC_TEXT, Str(SetupStrCarryOutNote));
        ShowWindow(GetDlgItem(page, IDC_PROGRESS), SW_HIDE);
        break;
    case IDD_REMOVE: {
        SetText(page, IDC_TEXT, Expanded(SetupStrRemoveWelcome));
        HWND list = GetDlgItem(page, IDC_PRODUCTS);
        for (const ProductLine& p : g.products)
            if (IsSelected(p.key))
                SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(p.name.c_str()));
        ShowWindow(GetDlgItem(page, IDC_PROGRESS), SW_HIDE);
        break;
    }
    case IDD_FINISH:
    case IDD_REMOVEFINISH:
        SetText(page, IDC_TITLE, Expanded(SetupStrCaption));
        break;
    default:
        break;
    }
}

// The components' list and the target folder as the user changes them.
void OnPageCommand(HWND page, const PageInfo& info, WPARAM wParam)
{
    if (LOWORD(wParam) == IDC_PRODUCTS && HIWORD(wParam) == LBN_SELCHANGE && info.dialog == IDD_COMPONENTS) {
        int index = static_cast<int>(SendDlgItemMessageA(page, IDC_PRODUCTS, LB_GETCURSEL, 0, 0));
        if (index >= 0 && static_cast<size_t>(index) < g.products.size())
            SetText(page, IDC_DESCRIPTION, g.products[index].description);
    } else if (LOWORD(wParam) == IDC_BROWSE) {
        Browse(page);
    } else if (LOWORD(wParam) == IDC_TARGETDIR && HIWORD(wParam) == EN_CHANGE) {
        char dir[MAX_PATH] = {};
        GetDlgItemTextA(page, IDC_TARGETDIR, dir, sizeof dir);
        SetButtons(SetTargetDir(dir) ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
    }
}

// A page becoming the current one: its buttons, and the texts that depend on what went before.
void ActivatePage(HWND page, const PageInfo& info)
{
    switch (info.dialog) {
    case IDD_WELCOME:
        SetButtons(PSWIZB_NEXT);
        break;
    case IDD_COMPONENTS:
        UpdateComponentButtons();
        break;
    case IDD_TARGET:
        SetButtons(SetTargetDir(g.targetDir) ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
        break;
    case IDD_CARRYOUT:
        SetText(page, IDC_RESTARTNOTE, AnyRestartNote() ? Str(SetupStrRestartInstall) : "");
        SetButtons(PSWIZB_BACK | PSWIZB_NEXT);
        if (g.cmd.quiet)
            PostMessageA(g.sheet, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
        break;
    case IDD_REMOVE:
        SetButtons(PSWIZB_NEXT);
        break;
    case IDD_FINISH:
    case IDD_REMOVEFINISH:
        SetText(page, IDC_TEXT, Str(info.dialog == IDD_FINISH ? SetupStrInstallDone : SetupStrRemoveDone));
        SetText(page, IDC_RESTARTNOTE,
            g.restartNeeded ? Str(info.dialog == IDD_FINISH ? SetupStrRestartInstall : SetupStrRestartRemove) : "");
        SetButtons(PSWIZB_FINISH);
        EnableCancel(false);
        break;
    default:
        SetButtons(PSWIZB_BACK | PSWIZB_NEXT);
        break;
    }
}

INT_PTR CALLBACK PageProc(HWND page, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const PageInfo* info = reinterpret_cast<const PageInfo*>(GetWindowLongPtrA(page, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        const auto* psp = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        info = reinterpret_cast<const PageInfo*>(psp->lParam);
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(info));
        if (g.sheet != GetParent(page)) {
            g.sheet = GetParent(page);
            CenterWindow(g.sheet, nullptr);
            TranslateSheetButtons();
        }
        InitCommon(page, *info);
        InitPage(page, *info);
        return TRUE;
    }
    case WM_MEASUREITEM:
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = 17;
        return TRUE;
    case WM_DRAWITEM:
        DrawProduct(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (info)
            OnPageCommand(page, *info, wParam);
        break;
    case kMsgStage:
    case kMsgQueueProgress:
    case kMsgProgressRange:
    case kMsgProgressPos:
    case kMsgStepText:
    case kMsgDone:
        OnWorkerMessage(page, msg, wParam, lParam);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* nm = reinterpret_cast<const NMHDR*>(lParam);
        auto result = [&](LONG_PTR value) {
            SetWindowLongPtrA(page, DWLP_MSGRESULT, value);
            return TRUE;
        };
        switch (nm->code) {
        case PSN_SETACTIVE:
            ActivatePage(page, *info);
            return result(0);
        case PSN_WIZNEXT:
            if ((info->dialog == IDD_CARRYOUT || info->dialog == IDD_REMOVE) && !g.finished) {
                // Next starts the thread and keeps the page; the thread's end moves on.
                if (!g.running && StartWorker()) {
                    EnableCancel(false);
                    SetButtons(0);
                }
                return result(-1);
            }
            return result(0);
        case PSN_WIZBACK:
            return result(0);
        case PSN_QUERYCANCEL:
            return result(g.running ? TRUE : FALSE); // refused while the thread runs
        case PSN_WIZFINISH:
            g.exitCode = g.finished ? (g.restartNeeded ? kExitRestartNeeded : kExitDone) : kExitFailed;
            return result(0);
        default:
            break;
        }
        break;
    }
    default:
        break;
    }
    return FALSE;
}

void RunWizard()
{
    static const PageInfo kInstall[] = {
        { IDD_WELCOME, 0, 0 },
        { IDD_LICENSE, SetupStrLicenseTitle, SetupStrLicenseSubtitle },
        { IDD_COMPONENTS, SetupStrComponentsTitle, SetupStrComponentsSubtitle },
        { IDD_TARGET, SetupStrTargetTitle, SetupStrTargetSubtitle },
        { IDD_CARRYOUT, SetupStrCarryOutTitle, SetupStrCarryOutSubtitle },
        { IDD_FINISH, 0, 0 },
    };
    static const PageInfo kRemove[] = {
        { IDD_REMOVE, SetupStrRemoveTitle, SetupStrRemoveSubtitle },
        { IDD_REMOVEFINISH, 0, 0 },
    };
    std::vector<const PageInfo*> pages;
    if (g.remove) {
        for (const PageInfo& p : kRemove)
            pages.push_back(&p);
    } else {
        for (const PageInfo& p : kInstall) {
            bool skip = (p.dialog == IDD_WELCOME || p.dialog == IDD_LICENSE || p.dialog == IDD_TARGET) && g.cmd.quiet;
            skip = skip || (p.dialog == IDD_LICENSE && !LicenseResource());
            skip = skip || (p.dialog == IDD_COMPONENTS && (g.cmd.keysGiven || g.cmd.quiet));
            if (!skip)
                pages.push_back(&p);
        }
    }
    std::string caption = Expanded(SetupStrCaption);
    std::vector<std::string> titles;
    titles.reserve(pages.size() * 2);
    std::vector<HPROPSHEETPAGE> handles;
    for (const PageInfo* p : pages) {
        PROPSHEETPAGEA psp {};
        psp.dwSize = sizeof psp;
        psp.hInstance = g.instance;
        psp.pszTemplate = MAKEINTRESOURCEA(p->dialog);
        psp.pfnDlgProc = PageProc;
        psp.lParam = reinterpret_cast<LPARAM>(p);
        psp.dwFlags = PSP_USETITLE;
        psp.pszTitle = caption.c_str();
        if (g.style != 0) {
            if (p->title == 0) {
                psp.dwFlags |= PSP_HIDEHEADER;
            } else {
                titles.push_back(Str(p->title));
                psp.pszHeaderTitle = titles.back().c_str();
                titles.push_back(Str(p->subtitle));
                psp.pszHeaderSubTitle = titles.back().c_str();
                psp.dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
            }
        }
        handles.push_back(CreatePropertySheetPageA(&psp));
    }
    PROPSHEETHEADERA psh {};
    psh.dwSize = sizeof psh;
    psh.hwndParent = nullptr;
    psh.hInstance = g.instance;
    psh.pszCaption = caption.c_str();
    psh.nPages = static_cast<UINT>(handles.size());
    psh.phpage = handles.data();
    psh.dwFlags = PSH_WIZARD;
    if (g.style == 1) {
        // Wizard-97 with the bitmaps the program loads itself.
        g.watermark
            = static_cast<HBITMAP>(LoadImageA(g.instance, MAKEINTRESOURCEA(IDB_WATERMARK), IMAGE_BITMAP, 0, 0, 0));
        g.header = static_cast<HBITMAP>(LoadImageA(g.instance, MAKEINTRESOURCEA(IDB_HEADER), IMAGE_BITMAP, 0, 0, 0));
        psh.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER | PSH_USEHBMWATERMARK | PSH_USEHBMHEADER;
        psh.hbmWatermark = g.watermark;
        psh.hbmHeader = g.header;
    } else if (g.style == 2) {
        // Wizard-97 with the bitmaps taken from the resources as the property sheet takes them (its
        // system colours mapped). The watermark goes by resource id; the header goes as the bitmap
        // made from its resource: some property sheets load a header named by id but paint only one
        // given as a bitmap, and the page headers would stand without it.
        g.header = CreateMappedBitmap(g.instance, IDB_HEADER, 0, nullptr, 0);
        psh.dwFlags = PSH_WIZARD97 | PSH_WATERMARK | PSH_HEADER;
        psh.pszbmWatermark = MAKEINTRESOURCEA(IDB_WATERMARK);
        if (g.header) {
            psh.dwFlags |= PSH_USEHBMHEADER;
            psh.hbmHeader = g.header;
        } else {
            psh.pszbmHeader = MAKEINTRESOURCEA(IDB_HEADER);
        }
    }
    g.exitCode = kExitFailed;
    PropertySheetA(&psh);
    g.sheet = nullptr;
}

// Quiet mode: no pages; the worker runs while this thread keeps its messages going.
void RunQuiet()
{
    if (!g.remove && g.selected.empty())
        Diag("setup: no product selected\n");
    if (!StartWorker()) {
        g.exitCode = kExitFailed;
        return;
    }
    while (true) {
        DWORD wait = MsgWaitForMultipleObjects(1, &g.thread, FALSE, INFINITE, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0)
            break;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != kMsgDone) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    CloseHandle(g.thread);
    g.thread = nullptr;
    if (!g.result.ok) {
        Diag("setup: %s\n", FailureText(g.result).c_str());
        g.exitCode = kExitFailed;
        return;
    }
    g.finished = true;
    g.restartNeeded = g.result.restart;
    g.exitCode = g.restartNeeded ? kExitRestartNeeded : kExitDone;
}

bool EnableShutdownPrivilege()
{
    HMODULE advapi = GetModuleHandleA("advapi32");
    if (!advapi)
        advapi = LoadLibraryA("advapi32.dll");
    using OpenTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
    using LookupFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, PLUID);
    using AdjustFn = BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
    auto openToken = reinterpret_cast<OpenTokenFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "OpenProcessToken")));
    auto lookup = reinterpret_cast<LookupFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "LookupPrivilegeValueA")));
    auto adjust = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(GetProcAddress(advapi, "AdjustTokenPrivileges")));
    if (!openToken || !lookup || !adjust)
        return false;
    HANDLE token = nullptr;
    if (!openToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = lookup(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)
        && adjust(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return ok;
}

bool RestartSystem()
{
    return (!g.os.nt || EnableShutdownPrivilege()) && ExitWindowsEx(EWX_REBOOT, 0);
}

// After a change that needs a restart: "/reboot:" 1 asks, 2 restarts at once, anything else does nothing.
void HandleRestart()
{
    if (!g.finished || !g.restartNeeded)
        return;
    if (g.cmd.reboot == 1 && !g.cmd.quiet) {
        INT answer = SetupPromptReboot(nullptr, nullptr, FALSE);
        if (answer != -1 && (answer & SPFILEQ_REBOOT_IN_PROGRESS) != 0) {
            g.exitCode = kExitDone;
            return;
        }
        // Asked without a file queue, the platform's question reports the restart as recommended
        // whatever the user answers. A SetupAPI that reports nothing (or fails) has asked nothing: the
        // installer asks itself, so that files and folders left for the restart (the installer itself
        // after a removal) do not stay without the user being told.
        if (answer == -1 || (answer & SPFILEQ_REBOOT_RECOMMENDED) == 0) {
            Diag("setup: the system asked nothing about the restart (%d); asking here\n", answer);
            std::string question
                = Str(g.remove ? SetupStrRestartRemove : SetupStrRestartInstall) + "\r\r" + Str(SetupStrRestartNow);
            if (Message(question, Expanded(SetupStrCaption), MB_YESNO | MB_ICONQUESTION) == IDYES && RestartSystem())
                g.exitCode = kExitDone;
        }
    } else if (g.cmd.reboot == 2) {
        if (RestartSystem())
            g.exitCode = kExitDone;
    }
}

// Everything from opening the script to the end of the wizard; runs once the "SETUP" window exists.
void Run()
{
    g.infPath = g.programDir + "setup.inf";
    unsigned errorLine = 0;
    g.inf = InfOpenSetupApi(g.infPath, &errorLine);
    if (!g.inf) {
        Message(StrFormat(Str(SetupStrScriptError).c_str(), g.infPath.c_str(), errorLine), Str(SetupStrError),
            MB_OK | MB_ICONERROR);
        return;
    }
    // The same file again for SetupAPI's own work (file queues, directory ids): one handle for both.
    UINT line = 0;
    g.hinf = SetupOpenInfFileA(g.infPath.c_str(), nullptr, INF_STYLE_WIN4, &line);
    if (g.hinf == INVALID_HANDLE_VALUE) {
        Message(StrFormat(Str(SetupStrScriptError).c_str(), g.infPath.c_str(), line), Str(SetupStrError),
            MB_OK | MB_ICONERROR);
        return;
    }
    g.sections = SetupChooseSections(*g.inf, g.os);
    WinSetupHost probe(g.hinf, nullptr, true, g.remove, g.os.nt, g.programDir.substr(0, g.programDir.size() - 1));
    std::string message;
    if (g.inf->HasSection("Install") && !SetupCheckConditions(*g.inf, "Install", probe, &message)) {
        Message(message, Str(SetupStrCannotInstall), MB_OK | MB_ICONSTOP);
        return;
    }
    g.products = SetupAvailableProducts(*g.inf, g.sections, g.remove, probe, &message);
    if (g.products.empty()) {
        Message(
            message.empty() ? Str(SetupStrNothingToInstall) : message, Str(SetupStrCannotInstall), MB_OK | MB_ICONSTOP);
        return;
    }
    for (const ProductLine& p : g.products)
        g.newer.push_back(!g.remove && SetupInstalledIsNewer(p));
    g.selected = SetupInitialSelection(g.products, g.cmd);
    if (g.remove) {
        // The set's own key stands for the products it installed: the removal page lists them.
        SetupJob job;
        job.inf = g.inf.get();
        job.sections = g.sections;
        job.products = g.products;
        job.selected = g.selected;
        g.selected = SetupRemovalSelection(job);
    }
    if (g.cmd.quiet && !g.remove) {
        // Quiet: the question about a more recent installed version counts as No.
        for (size_t i = 0; i < g.products.size(); ++i) {
            if (g.newer[i] && IsSelected(g.products[i].key)) {
                Message(StrFormat(Str(SetupStrNewerInstalled).c_str(), g.products[i].name.c_str()),
                    Str(SetupStrWarning), MB_YESNO | MB_DEFBUTTON2);
                SetSelected(g.products[i].key, false);
            }
        }
    }
    // The target directory: an installed product's, else the default.
    std::string dir;
    for (const ProductLine& p : g.products)
        if (dir.empty())
            dir = SetupInstalledValue(p.key, "UserTargetDir").value_or("");
    if (dir.empty())
        dir = SetupDefaultTargetDir(*g.inf).value_or("");
    if (dir.empty())
        dir = TargetPathOf("");
    if (!g.remove)
        SetTargetDir(dir);
    if (g.cmd.quiet)
        RunQuiet();
    else
        RunWizard();
    HandleRestart();
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        PostMessageA(window, WM_APP, 0, 0);
        return 0;
    case WM_APP:
        Run();
        DestroyWindow(window);
        return 0;
    case WM_QUERYENDSESSION:
        if (g.running && !g_setupShutdownAllowed) {
            g.restartNeeded = true; // refused while the thread runs; a restart is still needed
            return FALSE;
        }
        return TRUE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, msg, wParam, lParam);
    }
}

struct ShownSearch {
    HWND enabled = nullptr; // the window the user works in (a message box before the wizard)
    HWND visible = nullptr;
};

BOOL CALLBACK FindShown(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<ShownSearch*>(param);
    if (!IsWindowVisible(window))
        return TRUE;
    if (!search->visible)
        search->visible = window;
    if (IsWindowEnabled(window)) {
        search->enabled = window;
        return FALSE;
    }
    return TRUE;
}

// What a running installer shows for its hidden "SETUP" window: the wizard stands on its own (not
// owned, so that it has its own taskbar button), so the window is looked up among the thread's
// top-level windows, front first. The hidden window itself when nothing is shown.
HWND ShownWindowOf(HWND setup)
{
    HWND popup = GetLastActivePopup(setup);
    if (popup != setup && IsWindowVisible(popup))
        return popup;
    ShownSearch search;
    EnumThreadWindows(GetWindowThreadProcessId(setup, nullptr), FindShown, reinterpret_cast<LPARAM>(&search));
    return search.enabled ? search.enabled : search.visible ? search.visible : setup;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    g.instance = instance;
    std::string path = GetProgramPath();
    if (IsOtherInstance(path)) {
        if (HWND other = FindWindowA("SETUP", nullptr)) {
            HWND shown = ShownWindowOf(other);
            if (IsIconic(shown))
                ShowWindow(shown, SW_RESTORE);
            SetForegroundWindow(shown);
        }
        return kExitFailed;
    }
    INITCOMMONCONTROLSEX controls { sizeof controls, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&controls);
    LoadLibraryA("riched20.dll");
    g.os = RunningOs();
    g.cmd = SetupParseCommandLine(commandLine ? commandLine : "");
    g.remove = g.cmd.remove;
    uint16_t lang
        = g.cmd.language != 0 ? g.cmd.language : ChooseResourceLanguage(instance, MAKEINTRESOURCEA(IDD_WELCOME));
    if (g.os.nt)
        SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
    StrSetLanguage(lang);
    DWORD major = 4;
    DWORD minor = 0;
    GetCommonControlsVersion(&major, &minor);
    g.style = g.cmd.style >= 0 && g.cmd.style <= 2 ? g.cmd.style : SetupDefaultStyle(g.os, major, minor);
    for (const std::string& token : g.cmd.unknown)
        Diag("setup: unknown option %s\n", token.c_str());
    g.programDir = GetProgramDirectory();
    SetCurrentDirectoryA(g.programDir.c_str()); // the script's source root is "."
    g.icons
        = ImageList_LoadImageA(instance, MAKEINTRESOURCEA(IDB_COMPONENTS), 16, 0, RGB(255, 0, 255), IMAGE_BITMAP, 0);

    WNDCLASSA wc {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "SETUP";
    RegisterClassA(&wc);
    g.window = CreateWindowA("SETUP", "Setup", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (g.hinf != INVALID_HANDLE_VALUE)
        SetupCloseInfFile(g.hinf);
    return g.exitCode;
}
