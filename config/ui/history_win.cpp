#include "config/ui/history_win.h"

#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/history_view.h"
#include "config/frontend/mainview.h"
#include "config/frontend/valuerules.h"
#include "config/startup/startup.h"
#include "config/ui/dialogs_win.h"
#include "config/ui/language_win.h"
#include "config/ui/resource.h"

#include <algorithm>
#include <commctrl.h>

namespace {
std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

const char* Language()
{
    return Globals().dscLanguage.empty() ? nullptr : Globals().dscLanguage.c_str();
}

void AddColumns(HWND list, unsigned firstText, const std::vector<int>& widths)
{
    for (size_t i = 0; i < widths.size(); ++i) {
        std::string header = Text(firstText + static_cast<unsigned>(i));
        LVCOLUMNA column {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = header.data();
        column.cx = widths[i];
        ListView_InsertColumn(list, static_cast<int>(i), &column);
    }
}

void AddRow(HWND list, const std::vector<std::string>& cells)
{
    LVITEMA item {};
    item.mask = LVIF_TEXT;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = const_cast<char*>(cells[0].c_str());
    int row = ListView_InsertItem(list, &item);
    for (size_t c = 1; c < cells.size(); ++c)
        ListView_SetItemText(list, row, static_cast<int>(c), const_cast<char*>(cells[c].c_str()));
}

struct HistoryData {
    const DeviceEntry* entry;
    std::string title;
    std::vector<HistVersion> versions; // oldest first, as the list shows them
    std::string restore; // the chosen version's file
    bool choosing = false; // the choices are being set from the list's selection
};

// The version of a choice's selection (the choices list the versions in the same order).
const HistVersion* Chosen(HWND d, HistoryData& h, int id)
{
    LRESULT i = SendDlgItemMessageA(d, id, CB_GETCURSEL, 0, 0);
    return i >= 0 && static_cast<size_t>(i) < h.versions.size() ? &h.versions[static_cast<size_t>(i)] : nullptr;
}

// The version of the list's focused (else first) selected row.
const HistVersion* Selected(HWND d, HistoryData& h)
{
    HWND list = GetDlgItem(d, IDC_HIST_VERSIONS);
    int row = ListView_GetNextItem(list, -1, LVNI_FOCUSED | LVNI_SELECTED);
    if (row < 0)
        row = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    return row >= 0 && static_cast<size_t>(row) < h.versions.size() ? &h.versions[static_cast<size_t>(row)] : nullptr;
}

void Compare(HWND d, HistoryData& h)
{
    HWND list = GetDlgItem(d, IDC_HIST_CHANGES);
    ListView_DeleteAllItems(list);
    const HistVersion* from = Chosen(d, h, IDC_HIST_FROM);
    const HistVersion* to = Chosen(d, h, IDC_HIST_TO);
    if (!from || !to)
        return;
    bool secrets = IsDlgButtonChecked(d, IDC_HIST_SECRETS) == BST_CHECKED;
    HCURSOR cursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    HistComparison c = HistCompareVersions(*from, *to, Language(), secrets);
    SetCursor(cursor);
    if (!c.error.empty()) {
        SetDlgItemTextA(d, IDC_HIST_SUMMARY, c.error.c_str());
        return;
    }
    SetDlgItemTextA(d, IDC_HIST_SUMMARY,
        c.changes.empty()
            ? Text(HistStrNoChanges).c_str()
            : StrFormat(Text(HistStrCount).c_str(), from->number, to->number, static_cast<unsigned>(c.changes.size()))
                  .c_str());
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (const HistChangeRow& row : HistChangeRows(c.changes))
        AddRow(list, { row.section ? "[" + row.item + "]" : "  " + row.item, row.before, row.after });
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
}

// Two rows selected in the list: the older is compared with the newer.
void CompareSelection(HWND d, HistoryData& h)
{
    HWND list = GetDlgItem(d, IDC_HIST_VERSIONS);
    if (ListView_GetSelectedCount(list) != 2)
        return;
    int first = ListView_GetNextItem(list, -1, LVNI_SELECTED);
    int second = ListView_GetNextItem(list, first, LVNI_SELECTED);
    SendDlgItemMessageA(d, IDC_HIST_FROM, CB_SETCURSEL, static_cast<WPARAM>(first), 0);
    SendDlgItemMessageA(d, IDC_HIST_TO, CB_SETCURSEL, static_cast<WPARAM>(second), 0);
    Compare(d, h);
}

void EnableButtons(HWND d, HistoryData& h)
{
    bool one = Selected(d, h) != nullptr;
    EnableWindow(GetDlgItem(d, IDC_HIST_RESTORE), one);
    EnableWindow(GetDlgItem(d, IDC_HIST_SAVEAS), one);
}

void SaveAs(HWND d, HistoryData& h)
{
    const HistVersion* v = Selected(d, h);
    if (!v)
        return;
    std::string file = FileDialog(d, true, StrFormat(Text(HistStrSaveTitle).c_str(), v->number, h.title.c_str()),
        Text(MainStrConfigFilter), "CFGPath", StrFormat("%s-%u.lcf", h.title.c_str(), v->number));
    if (!file.empty() && !HistSaveVersionAs(*v, file))
        MessageBoxA(d, StrFormat(Text(HistStrCantWrite).c_str(), file.c_str()).c_str(), Text(CfgStrError).c_str(),
            MB_OK | MB_ICONSTOP);
}

void Fill(HWND d, HistoryData& h)
{
    SetWindowTextA(d, StrFormat(Text(HistStrTitle).c_str(), h.title.c_str()).c_str());
    HWND versions = GetDlgItem(d, IDC_HIST_VERSIONS);
    HWND changes = GetDlgItem(d, IDC_HIST_CHANGES);
    ListView_SetExtendedListViewStyle(versions, LVS_EX_FULLROWSELECT);
    ListView_SetExtendedListViewStyle(changes, LVS_EX_FULLROWSELECT);
    AddColumns(versions, HistStrColumn0, { 60, 130, 150, 60, 240 });
    AddColumns(changes, HistStrChangeColumn0, { 260, 190, 190 });
    std::string folder = HistFolderOf(HistSettingsFrom(Globals().paths.settingsFile).root, *h.entry);
    if (!folder.empty())
        h.versions = HistList(folder);
    for (const HistVersion& v : h.versions) {
        AddRow(versions, HistVersionCells(v));
        std::string label = HistVersionLabel(v);
        SendDlgItemMessageA(d, IDC_HIST_FROM, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
        SendDlgItemMessageA(d, IDC_HIST_TO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
    }
    if (h.versions.empty()) {
        SetDlgItemTextA(d, IDC_HIST_SUMMARY, StrFormat(Text(HistStrNoHistory).c_str(), h.title.c_str()).c_str());
        EnableButtons(d, h);
        return;
    }
    // The newest version selected, compared with the one before it.
    int newest = static_cast<int>(h.versions.size()) - 1;
    h.choosing = true;
    ListView_SetItemState(versions, newest, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(versions, newest, FALSE);
    h.choosing = false;
    SendDlgItemMessageA(d, IDC_HIST_FROM, CB_SETCURSEL, static_cast<WPARAM>(newest > 0 ? newest - 1 : 0), 0);
    SendDlgItemMessageA(d, IDC_HIST_TO, CB_SETCURSEL, static_cast<WPARAM>(newest), 0);
    if (newest > 0)
        Compare(d, h);
    EnableButtons(d, h);
}

INT_PTR CALLBACK HistoryProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* h = reinterpret_cast<HistoryData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        Fill(d, *reinterpret_cast<HistoryData*>(lParam));
        return TRUE;
    case WM_NOTIFY: {
        auto* n = reinterpret_cast<NMHDR*>(lParam);
        if (h && n->idFrom == IDC_HIST_VERSIONS && n->code == LVN_ITEMCHANGED && !h->choosing) {
            auto* change = reinterpret_cast<NMLISTVIEW*>(lParam);
            if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED)) {
                CompareSelection(d, *h);
                EnableButtons(d, *h);
            }
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (!h)
            break;
        switch (LOWORD(wParam)) {
        case IDC_HIST_FROM:
        case IDC_HIST_TO:
            if (HIWORD(wParam) == CBN_SELCHANGE)
                Compare(d, *h);
            return TRUE;
        case IDC_HIST_SECRETS:
            if (HIWORD(wParam) == BN_CLICKED)
                Compare(d, *h);
            return TRUE;
        case IDC_HIST_SAVEAS:
            SaveAs(d, *h);
            return TRUE;
        case IDC_HIST_RESTORE:
            if (const HistVersion* v = Selected(d, *h)) {
                h->restore = v->path;
                EndDialog(d, IDOK);
            }
            return TRUE;
        case IDCANCEL:
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

struct AskListData {
    std::string text, list, title, check;
    bool ticked = false;
};

INT_PTR CALLBACK AskListProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* a = reinterpret_cast<AskListData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        a = reinterpret_cast<AskListData*>(lParam);
        SetWindowTextA(d, a->title.c_str());
        SetDlgItemTextA(d, IDC_HIST_ASK_TEXT, a->text.c_str());
        SetDlgItemTextA(d, IDC_HIST_ASK_HEADING, Text(HistStrWriteChanges).c_str());
        SetDlgItemTextA(d, IDC_HIST_ASK_LIST, a->list.c_str());
        SetDlgItemTextA(d, IDC_HIST_ASK_CHECK, a->check.c_str());
        ShowWindow(GetDlgItem(d, IDC_HIST_ASK_CHECK), a->check.empty() ? SW_HIDE : SW_SHOW);
        SendDlgItemMessageA(
            d, IDC_HIST_ASK_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_EXCLAMATION)), 0);
        MessageBeep(MB_ICONEXCLAMATION);
        // Yes has the focus, not the list (whose text would show selected).
        SetFocus(GetDlgItem(d, IDYES));
        return FALSE;
    case WM_COMMAND:
        if (a && (LOWORD(wParam) == IDYES || LOWORD(wParam) == IDNO || LOWORD(wParam) == IDCANCEL)) {
            a->ticked = IsDlgButtonChecked(d, IDC_HIST_ASK_CHECK) == BST_CHECKED;
            EndDialog(d, LOWORD(wParam) == IDYES ? IDYES : IDNO);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
} // namespace

std::string HistoryDialog(HWND owner, const DeviceEntry& entry, const std::string& title)
{
    HistoryData h;
    h.entry = &entry;
    h.title = title;
    if (LanguageDialog(IDD_HISTORY, owner, HistoryProc, reinterpret_cast<LPARAM>(&h)) != IDOK)
        return {};
    return h.restore;
}

bool AskWithListDialog(HWND owner, const std::string& text, const std::string& list, const std::string& title,
    const std::string& checkText, bool* ticked)
{
    AskListData a { text, list, title, checkText };
    bool yes = LanguageDialog(IDD_HIST_ASK, owner, AskListProc, reinterpret_cast<LPARAM>(&a)) == IDYES;
    *ticked = a.ticked;
    return yes;
}

std::string HistRestoreQuestionList(const DeviceEntry& entry)
{
    return HistRestoreChangesText(
        HistSettingsFrom(Globals().paths.settingsFile).root, entry, entry.file_name, Language(), kHistQuestionLines);
}

void ExportDeviceListCommand(HWND owner, const std::vector<DeviceRow>& rows)
{
    std::string file
        = FileDialog(owner, true, Text(HistStrExportTitle), Text(HistStrCsvFilter), "CSVPath", "devices.csv", "csv");
    if (file.empty())
        return;
    if (!FileWriteAtomic(file, DeviceListCsv(rows)))
        MessageBoxA(owner, StrFormat(Text(HistStrCantWrite).c_str(), file.c_str()).c_str(), Text(CfgStrError).c_str(),
            MB_OK | MB_ICONSTOP);
}
