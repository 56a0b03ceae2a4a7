#include "config/ui/cfgsheet_win.h"

#include "common/diag.h"
#include "common/ini.h"
#include "common/strings.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_types.h"
#include "config/frontend/commands.h"
#include "config/frontend/history_view.h"
#include "config/frontend/jobs.h"
#include "config/frontend/mainview.h"
#include "config/frontend/valuerules.h"
#include "config/plugin/plugin.h"
#include "config/startup/startup.h"
#include "config/store/cfg_store.h"
#include "config/store/display.h"
#include "config/ui/devicetitle_win.h"
#include "config/ui/dialogs_win.h"
#include "config/ui/history_win.h"
#include "config/ui/wizard_win.h"
#include "device/deviceentry.h"
#include "device/sysinfo.h"

#include <algorithm>
#include <commctrl.h>
#include <cstring>
#include <ctime>
#include <memory>

namespace {
// The page size in dialog units: the sheet is as large as its largest page.
constexpr int kPageWidth = 262;
constexpr int kPageHeight = 200;

std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

std::string IniPath()
{
    return Globals().paths.settingsFile;
}

std::string WindowText(HWND w)
{
    int n = GetWindowTextLengthA(w);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    GetWindowTextA(w, text.data(), n + 1);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// Merged entries are joined while a dialog shows the tables and split again when it closes, in every
// device's configuration.
void ForEachTable(CfgDescription& desc, void (*apply)(CfgItem&))
{
    for (auto& section : desc.sections)
        for (auto& item : section->items)
            if (item->IsTable() && item->List(CfgAttrMergeEntrys))
                for (CfgItem* at = item.get(); at;) {
                    apply(*at);
                    at = at->counterpart == item.get() ? nullptr : at->counterpart;
                }
}

// ---- table-entry dialog

struct EntryData {
    CfgDescription* desc;
    CfgItem* table;
    CfgRow* row; // edited or copied row, nullptr for a new one
    bool editing;
    CfgPageTexts texts;
    std::unique_ptr<CfgPageWin> page;
    std::vector<CfgItem*> saved; // the columns' counterparts, detached while the dialog runs
};

constexpr int kEntryWidth = 262;

INT_PTR CALLBACK EntryProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<EntryData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        data = reinterpret_cast<EntryData*>(lParam);
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        CfgItem& table = *data->table;
        std::vector<CfgItem*> columns;
        std::vector<std::string> defaults;
        if (table.List(CfgAttrDefaultAdd))
            defaults = table.List(CfgAttrDefaultAdd)->Texts();
        for (size_t k = 0; k < table.columns.size() && k < CfgMaxColumns; ++k) {
            CfgItem& column = *table.columns[k];
            data->saved.push_back(column.counterpart);
            column.counterpart = nullptr;
            if (data->row)
                column.value = data->row->cells[k];
            else
                column.value = k < defaults.size() ? std::optional<std::string>(defaults[k]) : std::nullopt;
            columns.push_back(&column);
        }
        CfgLayoutOptions options;
        options.width = kEntryWidth;
        options.height = 400;
        data->page = std::make_unique<CfgPageWin>(d, *data->desc, columns, options, data->texts);
        int bottom = data->page->Layout().height;
        CfgDialogButtons(d, data->texts, kEntryWidth - 7, bottom);
        RECT size { 0, 0, kEntryWidth, bottom + 21 };
        MapDialogRect(d, &size);
        AdjustWindowRectEx(&size, static_cast<DWORD>(GetWindowLongA(d, GWL_STYLE)), FALSE,
            static_cast<DWORD>(GetWindowLongA(d, GWL_EXSTYLE)));
        SetWindowPos(d, nullptr, 0, 0, size.right - size.left, size.bottom - size.top, SWP_NOMOVE | SWP_NOZORDER);
        return TRUE;
    }
    case WM_COMMAND:
        if (CfgDialogOkCancel(d, wParam, [&] {
                if (!data->page->Take(d))
                    return false;
                CfgItem& table = *data->table;
                std::vector<std::string> texts;
                for (auto& column : table.columns)
                    texts.push_back(column->value.value_or(std::string()));
                CfgTakeResult check = CfgCheckTableEntry(table, data->editing ? data->row : nullptr, texts);
                if (check.status != CfgTakeStatus::Rejected)
                    return true;
                MessageBoxA(d, check.message.c_str(), check.title.c_str(), MB_OK | MB_ICONSTOP);
                if (HWND w = data->page->ControlOf(check.focus))
                    SetFocus(w);
                return false;
            }))
            return TRUE;
        [[fallthrough]];
    default: {
        LRESULT result = 0;
        if (data && data->page && data->page->HandleMessage(message, wParam, lParam, &result)) {
            SetWindowLongPtrA(d, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
    }
}

bool TableEntryDialog(HWND owner, CfgDescription& desc, CfgItem& table, CfgRow* row, bool editing)
{
    EntryData data { &desc, &table, row, editing, CfgSheetTexts(), nullptr, {} };
    std::vector<WORD> t = CfgDialogTemplate(
        kEntryWidth, 100, CfgItemLabel(table), WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
    INT_PTR r = DialogBoxIndirectParamA(
        Instance(), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), owner, EntryProc, reinterpret_cast<LPARAM>(&data));
    bool stored = false;
    if (r == IDOK) {
        std::vector<std::string> texts;
        std::vector<const char*> values;
        for (auto& column : table.columns)
            texts.push_back(column->value.value_or(std::string()));
        for (size_t k = 0; k < table.columns.size(); ++k)
            values.push_back(table.columns[k]->value ? texts[k].c_str() : nullptr);
        int index = -1;
        if (editing) {
            int n = 0;
            for (CfgRow& at : table.rows) {
                if (&at == row)
                    index = n;
                ++n;
            }
        } else {
            index = CfgRowInsert(table, -1);
        }
        if (index >= 0 && !values.empty())
            stored = CfgRowSet(table, index, static_cast<int>(values.size()) - 1, values.data()) != 0;
    }
    for (size_t k = 0; k < data.saved.size(); ++k) {
        table.columns[k]->counterpart = data.saved[k];
        table.columns[k]->value.reset();
    }
    return stored;
}

// ---- the sheet

struct SheetState {
    CfgDescription* desc = nullptr;
    DeviceEntry* device = nullptr;
    CfgPageTexts texts;
    HWND sheet = nullptr;
    std::vector<std::unique_ptr<CfgPageWin>> pages; // by page index, built when first shown
    std::vector<CfgSection*> sections; // by page index (nullptr for a plug-in page)
    int pageWidth = kPageWidth; // dialog units: wide enough for the tabs in one row
    bool ok = false;
};

struct PageParam {
    SheetState* state;
    size_t index;
};

INT_PTR CALLBACK PageProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* param = reinterpret_cast<PageParam*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        const PROPSHEETPAGEA* psp = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        param = reinterpret_cast<PageParam*>(psp->lParam);
        SetWindowLongPtrA(d, DWLP_USER, reinterpret_cast<LONG_PTR>(param));
        SheetState& s = *param->state;
        s.sheet = GetParent(d);
        CfgLayoutOptions options;
        options.width = s.pageWidth;
        options.height = kPageHeight;
        options.firstId = 3000 + 200 * static_cast<int>(param->index);
        s.pages[param->index] = std::make_unique<CfgPageWin>(d, *s.desc, *s.sections[param->index], options, s.texts,
            [](HWND owner, CfgDescription& desc, CfgItem& table, CfgRow* row, bool editing) {
                return TableEntryDialog(owner, desc, table, row, editing);
            });
        // The device's clock where the configuration holds no time (a configuration file has no device).
        if (s.device && (s.device->flags & DevFlagTimeValid))
            s.pages[param->index]->ShowDeviceClock(s.device->cSysTime.str());
        return TRUE;
    }
    case WM_NOTIFY: {
        const NMHDR* h = reinterpret_cast<const NMHDR*>(lParam);
        if (param && h->hwndFrom == GetParent(d)) {
            SheetState& s = *param->state;
            CfgPageWin* page = s.pages[param->index].get();
            if (h->code == PSN_KILLACTIVE) {
                // Leaving the page for another tab: its values are checked and taken now; a failing
                // check keeps the page (its message shown, its control focused).
                bool keep = page && !page->Take(GetParent(d));
                SetWindowLongPtrA(d, DWLP_MSGRESULT, keep ? TRUE : FALSE);
                return TRUE;
            }
            if (h->code == PSN_APPLY) {
                // Every page that was shown takes its values; a failing check turns to its page.
                if (page && !page->Take(GetParent(d))) {
                    PropSheet_SetCurSel(GetParent(d), d, 0);
                    SetWindowLongPtrA(d, DWLP_MSGRESULT, PSNRET_INVALID_NOCHANGEPAGE);
                    return TRUE;
                }
                s.ok = true;
                SetWindowLongPtrA(d, DWLP_MSGRESULT, PSNRET_NOERROR);
                return TRUE;
            }
            if (h->code == PSN_QUERYCANCEL) {
                bool changed = false;
                for (auto& p : s.pages)
                    changed = changed || (p && p->Changed());
                bool stay = changed
                    && MessageBoxA(GetParent(d), Text(SheetStrDiscard).c_str(), Text(CfgStrWarning).c_str(),
                           MB_YESNO | MB_ICONQUESTION)
                        != IDYES;
                SetWindowLongPtrA(d, DWLP_MSGRESULT, stay ? TRUE : FALSE);
                return TRUE;
            }
            return FALSE;
        }
        [[fallthrough]];
    }
    default: {
        if (!param)
            return FALSE;
        CfgPageWin* page = param->state->pages[param->index].get();
        LRESULT result = 0;
        if (page && page->HandleMessage(message, wParam, lParam, &result)) {
            SetWindowLongPtrA(d, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
    }
}

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM lParam)
{
    (void)lParam;
    if (message == PSCB_INITIALIZED)
        CfgSheetOwnButtons(sheet, false);
    return 0;
}

// The sheet's modal loop, run here rather than by the sheet itself: every message passes through
// PropSheet_IsDialogMessage first, so Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgDn and Ctrl+PgUp turn the
// pages (a modal sheet's own loop may hand keys to IsDialogMessage alone, which does not). The owner
// is disabled while the sheet runs; OK and Cancel leave the sheet without a current page.
void RunModal(HWND sheet, HWND owner)
{
    if (!sheet || sheet == reinterpret_cast<HWND>(-1))
        return;
    bool enabled = owner && IsWindowEnabled(owner);
    if (enabled)
        EnableWindow(owner, FALSE);
    MSG msg {};
    bool quit = false;
    while (PropSheet_GetCurrentPageHwnd(sheet)) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            break;
        }
        if (got == -1)
            break;
        if (!PropSheet_IsDialogMessage(sheet, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    // The owner is enabled before the sheet goes, so that it becomes the active window again.
    if (enabled)
        EnableWindow(owner, TRUE);
    DestroyWindow(sheet);
    if (quit)
        PostQuitMessage(static_cast<int>(msg.wParam));
}
} // namespace

void CfgSheetOwnButtons(HWND sheet, bool wizard)
{
    // The sheet's buttons come from the common controls, in the system's language; the program's
    // language is that of every other text.
    constexpr int kBack = 0x3023, kNext = 0x3024, kFinish = 0x3025;
    SetDlgItemTextA(sheet, IDCANCEL, Text(SheetStrCancel).c_str());
    if (!wizard) {
        SetDlgItemTextA(sheet, IDOK, Text(SheetStrOk).c_str());
        return;
    }
    SetDlgItemTextA(sheet, kBack, Text(WizStrBack).c_str());
    SetDlgItemTextA(sheet, kNext, Text(WizStrBack + 1).c_str());
    SetDlgItemTextA(sheet, kFinish, Text(WizStrBack + 2).c_str());
}

CfgPageTexts CfgSheetTexts()
{
    CfgPageTexts t;
    t.on = Text(CfgStrOn);
    t.off = Text(CfgStrOff);
    t.buttons = { "", Text(SheetStrAdd), Text(SheetStrAdd + 1), Text(SheetStrAdd + 2), Text(SheetStrAdd + 3) };
    t.everyYear = Text(CfgStrEveryYear);
    t.repeatLabel = Text(SheetStrRepeat);
    t.ok = Text(SheetStrOk);
    t.cancel = Text(SheetStrCancel);
    return t;
}

bool CfgRunSheet(HWND owner, CfgDescription& desc, const std::string& subject, DeviceEntry* device, bool easy)
{
    SheetState s;
    s.desc = &desc;
    s.device = device;
    s.texts = CfgSheetTexts();
    std::vector<std::unique_ptr<PageParam>> params;
    std::vector<HPROPSHEETPAGE> handles;
    std::vector<std::vector<WORD>> templates;
    std::vector<std::string> titles;
    for (auto& section : desc.sections)
        titles.push_back(section->title.value_or(section->name));
    // The tabs in one row: a translation's longer titles widen the pages rather than wrap the tabs
    // into a second row (about four dialog units a character and the tab's margins; at most 420).
    int tabs = 0;
    for (const std::string& title : titles)
        tabs += static_cast<int>(title.size()) * 4 + 14;
    s.pageWidth = std::clamp(tabs, kPageWidth, 420);
    DeviceEntry fileEntry; // plug-in pages of a file's configuration see a device without an address
    if (!device) {
        fileEntry.config = std::shared_ptr<CfgDescription>(&desc, [](CfgDescription*) {});
        device = &fileEntry;
    }
    size_t k = 0;
    for (auto& section : desc.sections) {
        if (section->IsPlugin()) {
            PROPSHEETPAGEA psp {};
            psp.dwSize = PROPSHEETPAGEA_V1_SIZE;
            if (PluginLoadPage(PluginPlatformModules(), *section, device, nullptr, PluginKindConfig,
                    PluginConfigMode(easy), Instance(), reinterpret_cast<PluginPageRecord*>(&psp),
                    PROPSHEETPAGEA_V1_SIZE)) {
                if (HPROPSHEETPAGE h = CreatePropertySheetPageA(&psp)) {
                    handles.push_back(h);
                    s.sections.push_back(nullptr);
                    s.pages.emplace_back();
                    params.emplace_back();
                }
            }
            ++k;
            continue;
        }
        templates.push_back(CfgDialogTemplate(s.pageWidth, kPageHeight, titles[k], WS_CHILD | WS_CAPTION | DS_CONTROL));
        auto param = std::make_unique<PageParam>(PageParam { &s, s.sections.size() });
        PROPSHEETPAGEA psp {};
        psp.dwSize = sizeof psp;
        psp.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
        psp.hInstance = Instance();
        psp.pResource = reinterpret_cast<LPCDLGTEMPLATEA>(templates.back().data());
        psp.pszTitle = titles[k].c_str();
        psp.pfnDlgProc = PageProc;
        psp.lParam = reinterpret_cast<LPARAM>(param.get());
        if (HPROPSHEETPAGE h = CreatePropertySheetPageA(&psp)) {
            handles.push_back(h);
            s.sections.push_back(section.get());
            s.pages.emplace_back();
            params.push_back(std::move(param));
        }
        ++k;
    }
    if (handles.empty())
        return false;
    ForEachTable(desc, [](CfgItem& table) { CfgMergeEntries(table); });
    std::string caption = StrFormat(Text(SheetStrCaption).c_str(), subject.c_str());
    PROPSHEETHEADERA h {};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_MODELESS;
    h.hwndParent = owner;
    h.hInstance = Instance();
    h.pszCaption = caption.c_str();
    h.nPages = static_cast<UINT>(handles.size());
    h.phpage = handles.data();
    h.pfnCallback = SheetCallback;
    RunModal(reinterpret_cast<HWND>(PropertySheetA(&h)), owner);
    ForEachTable(desc, [](CfgItem& table) { CfgSplitEntries(table); });
    return s.ok;
}

// ---- comment dialog

namespace {
struct CommentData {
    std::string text;
};
constexpr int kCommentEdit = 100;

INT_PTR CALLBACK CommentProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<CommentData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        data = reinterpret_cast<CommentData*>(lParam);
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        CfgDialogControl(d, "STATIC", Text(SheetStrCommentLabel), SS_LEFT, -1, { 7, 7, 253, 17 });
        HWND edit = CfgDialogControl(
            d, "EDIT", data->text, WS_TABSTOP | ES_AUTOHSCROLL, kCommentEdit, { 7, 19, 253, 31 }, WS_EX_CLIENTEDGE);
        SendMessageA(edit, EM_LIMITTEXT, 259, 0);
        CfgDialogButtons(d, CfgSheetTexts(), 253, 38);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        return FALSE;
    }
    case WM_COMMAND:
        return CfgDialogOkCancel(d, wParam, [&] {
            data->text = WindowText(GetDlgItem(d, kCommentEdit));
            return true;
        });
    default:
        return FALSE;
    }
}
} // namespace

bool CfgCommentDialog(HWND owner, std::string* comment)
{
    CommentData data { comment->substr(0, 259) };
    std::vector<WORD> t = CfgDialogTemplate(
        260, 59, Text(SheetStrComment), WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
    if (DialogBoxIndirectParamA(Instance(), reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), owner, CommentProc,
            reinterpret_cast<LPARAM>(&data))
        != IDOK)
        return false;
    *comment = data.text;
    return true;
}

std::string CfgCommentDefault(const std::string& name)
{
    char date[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
    return StrFormat(Text(SheetStrCommentDefault).c_str(), name.c_str(), date);
}

// ---- flows

void CfgEnsureDescriptionIndex()
{
    const StartupPaths& p = Globals().paths;
    CfgStartIndex(p.descriptionPattern, p.wizardPattern); // a second start does nothing
}

namespace {
std::string Subject(const DeviceJob& job)
{
    int n = 0;
    for (DeviceEntry* e = job.first; e; e = e->next)
        ++n;
    if (n == 1)
        return MainDeviceTitle(*job.first);
    return StrFormat(Text(SheetStrDevices).c_str(), n);
}

bool EasyConfig()
{
    return IniGetInt(IniPath(), "Options", "EasyConfig", 1) != 0;
}

// Before a sheet that the simplified mode shows with fewer settings than the device has: the question
// whether to open it so, until the user ticks its box. False when the user chose not to open it.
bool EasyNotice(HWND owner, const CfgDescription& desc)
{
    if (!(desc.flags & CfgDescSimplified) || IniGetInt(IniPath(), "Options", "DontWarnAboutEasyConfig", 0) == 1)
        return true;
    bool ticked = false;
    bool yes = AskDialog(
        owner, Text(SheetStrEasyNotice), Text(SheetStrInformation), Text(CmdStrDontShowAgain), &ticked, IDI_QUESTION);
    if (ticked)
        IniWriteString(IniPath(), "Options", "DontWarnAboutEasyConfig", "1");
    return yes;
}
} // namespace

bool CfgConfigureFlow(HWND owner, DeviceCommands& commands, uint32_t message, int32_t result, DeviceJob& job)
{
    if (message == JobReadConfig) {
        if (result != JobReadOk || !job.first || !job.first->config) {
            commands.PostJob(JobRelease);
            return true;
        }
        if (!EasyNotice(owner, *job.first->config)) {
            commands.PostJob(JobRelease);
            return true;
        }
        bool ok = CfgRunSheet(owner, *job.first->config, Subject(job), job.first, EasyConfig());
        bool changed = false;
        for (DeviceEntry* e = job.first; e; e = e->next)
            changed = changed || (e->config && CfgIsModified(*e->config));
        // The question lists what the write changes against what the devices sent.
        if (ok && changed
            && commands.Confirm(Text(CmdStrRestoreWarning), "DontAskForUploadConfig",
                [&] { return HistWriteChangesText(job.first, kHistQuestionLines); })
            && commands.PostJob(JobWriteConfig))
            return true;
        commands.PostJob(JobRelease);
        return true;
    }
    if (message == JobWriteConfig) {
        commands.PostJob(JobRelease);
        return true;
    }
    return message == JobRelease;
}

bool CfgEditFile(HWND owner, const std::string& path)
{
    CfgEnsureDescriptionIndex();
    CfgFileHeader header;
    if (!CfgReadFileHeader(path, &header)) {
        MessageBoxA(owner, CfgFileOpenFailure(path).c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    const char* language = Globals().dscLanguage.empty() ? nullptr : Globals().dscLanguage.c_str();
    bool easy = EasyConfig();
    CfgDescriptionPtr desc = CfgLoadDescription(
        header.deviceType, header.version, language, header.featureMask, header.hardwareMask, easy);
    if (!desc) {
        MessageBoxA(owner,
            StrFormat(Text(CmdStrNoDescription).c_str(), header.deviceType.c_str(), header.version.c_str()).c_str(),
            Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    CfgTempStream text = CfgImportFile(path);
    if (!text.IsOpen()) {
        MessageBoxA(owner, Text(CmdStrCantOpenFile).c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    CfgReadFile(text, *desc);
    desc->flags |= CfgDescNotFromDevice;
    std::string name = path.substr(path.find_last_of("\\/") + 1);
    if (!EasyNotice(owner, *desc) || !CfgRunSheet(owner, *desc, name, nullptr, easy))
        return false;
    std::string comment = header.comment;
    if (!CfgCommentDialog(owner, &comment))
        return false;
    CfgTempStream out = CfgWriteFile(std::move(text), *desc);
    if (!CfgExportFileWith(out, desc.get(), header.deviceType, header.version, header.featureMask, header.hardwareMask,
            path, comment, Globals().noCrypt)) {
        MessageBoxA(owner, Text(CmdStrCantCreateFile).c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

void CfgOpenConfigurationCommand(HWND owner)
{
    std::string path = FileDialog(owner, false, Text(SheetStrOpenTitle), Text(MainStrConfigFilter), "CFGPath");
    if (!path.empty())
        CfgEditFile(owner, path);
}
