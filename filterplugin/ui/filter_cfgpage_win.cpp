// The configuration page (the device's rules in a list, New, Edit, Delete, written on apply), the rule
// editor's property sheet and the correction dialog for rule rows that cannot be read.
#include "common/text.h"
#include "filterplugin/ui/filter_res.h"
#include "filterplugin/ui/filter_ui_win.h"

namespace {

// ---- the rule editor ----

struct Editor {
    FilterRule rule;
    const std::vector<FilterRule>* rules; // the page's list, for the name check
    const FilterRule* self; // the rule edited (nullptr for a new one)
    FilterStationList source { IDC_SRC };
    FilterStationList dest { IDC_DST };
};

INT_PTR CALLBACK EditorNameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* e = reinterpret_cast<Editor*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        e = reinterpret_cast<Editor*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(e));
        FilterApplyTexts(dialog);
        FilterAttachField(dialog, IDC_NAME, FilterFieldRuleName);
        SetDlgItemTextA(dialog, IDC_NAME, e->rule.name.c_str());
        FilterShowAction(dialog, e->rule.action);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_NAME && HIWORD(wParam) == EN_CHANGE) {
            // The sheet's caption follows the name.
            SetWindowTextA(GetParent(dialog), FilterRuleCaption(FilterGetText(dialog, IDC_NAME)).c_str());
            return TRUE;
        }
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) >= IDC_DROP && LOWORD(wParam) <= IDC_DEFROUTE) {
            FilterActionClicked(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == PSN_KILLACTIVE || header->code == PSN_APPLY) {
            e->rule.name = std::string(Trim(FilterGetText(dialog, IDC_NAME)));
            e->rule.action = FilterReadAction(dialog);
        }
        if (header->code == PSN_APPLY) {
            if (unsigned problem = FilterCheckName(e->rule.name, *e->rules, e->self)) {
                PropSheet_SetCurSel(GetParent(dialog), nullptr, 0);
                FilterMessage(dialog, problem);
                SetFocus(GetDlgItem(dialog, IDC_NAME));
                return FilterResult(dialog, PSNRET_INVALID_NOCHANGEPAGE);
            }
            return FilterResult(dialog, PSNRET_NOERROR);
        }
        return FALSE;
    }
    }
    return FALSE;
}

INT_PTR CALLBACK EditorStationsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* e = reinterpret_cast<Editor*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        e = reinterpret_cast<Editor*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(e));
        FilterApplyTexts(dialog);
        SetDlgItemTextA(dialog, IDC_SRC + STN_GROUP, FilterStr(FilterStrSourceStations).c_str());
        SetDlgItemTextA(dialog, IDC_DST + STN_GROUP, FilterStr(FilterStrDestStations).c_str());
        e->source.Show(dialog, e->rule.sources);
        e->dest.Show(dialog, e->rule.dests);
        return TRUE;
    case WM_COMMAND:
        return e->source.Command(dialog, LOWORD(wParam), HIWORD(wParam))
            || e->dest.Command(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == PSN_KILLACTIVE || header->code == PSN_APPLY) {
            e->rule.sources = e->source.Value(dialog);
            e->rule.dests = e->dest.Value(dialog);
        }
        return header->code == PSN_APPLY ? FilterResult(dialog, PSNRET_NOERROR) : FALSE;
    }
    }
    return FALSE;
}

INT_PTR CALLBACK EditorServicesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* e = reinterpret_cast<Editor*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        e = reinterpret_cast<Editor*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(e));
        FilterApplyTexts(dialog);
        FilterShowServices(dialog, e->rule);
        return TRUE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == PSN_KILLACTIVE || header->code == PSN_APPLY)
            FilterReadServices(dialog, &e->rule);
        return header->code == PSN_APPLY ? FilterResult(dialog, PSNRET_NOERROR) : FALSE;
    }
    }
    return FALSE;
}

// The rule editor on `rule`; true on OK with the rule changed (not yet normalised).
bool EditRule(HWND owner, const std::vector<FilterRule>& rules, const FilterRule* self, bool mac, FilterRule* rule)
{
    Editor e { *rule, &rules, self };
    e.source.mac = e.dest.mac = mac;
    std::string titles[3]
        = { FilterStr(FilterStrPageNameAction), FilterStr(FilterStrPageStations), FilterStr(FilterStrPageServices) };
    const int templates[3] = { IDD_RULE_NAME, IDD_RULE_STATIONS, IDD_RULE_SERVICES };
    DLGPROC procs[3] = { EditorNameProc, EditorStationsProc, EditorServicesProc };
    PROPSHEETPAGEA pages[3] {};
    for (int i = 0; i < 3; ++i) {
        pages[i].dwSize = sizeof(PROPSHEETPAGEA);
        pages[i].dwFlags = PSP_USETITLE;
        pages[i].hInstance = g_filterModule;
        pages[i].pszTemplate = MAKEINTRESOURCEA(templates[i]);
        pages[i].pszTitle = titles[i].c_str();
        pages[i].pfnDlgProc = procs[i];
        pages[i].lParam = reinterpret_cast<LPARAM>(&e);
    }
    std::string caption = FilterRuleCaption(rule->name);
    PROPSHEETHEADERA sheet {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    sheet.hwndParent = owner;
    sheet.hInstance = g_filterModule;
    sheet.pszCaption = caption.c_str();
    sheet.nPages = 3;
    sheet.ppsp = pages;
    if (PropertySheetA(&sheet) <= 0)
        return false;
    *rule = e.rule;
    return true;
}

// ---- the correction dialog ----

struct Correction {
    const FilterUnreadable* row;
    std::string text;
};

INT_PTR CALLBACK CorrectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* c = reinterpret_cast<Correction*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        c = reinterpret_cast<Correction*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        FilterApplyTexts(dialog);
        SetWindowTextA(dialog, FilterStr(FilterStrCorrectCaption).c_str());
        const FilterReadError& error = c->row->error;
        std::string info = FilterStr(FilterStrCorrectRule);
        // The pattern's two places: the rule's name, then the cell or object.
        std::string where = FilterWhereName(error);
        size_t first = info.find("%s");
        if (first != std::string::npos) {
            info.replace(first, 2, c->row->name);
            size_t second = info.find("%s", first + c->row->name.size());
            if (second != std::string::npos)
                info.replace(second, 2, where);
        }
        SetDlgItemTextA(dialog, IDC_CORR_INFO, info.c_str());
        SetDlgItemTextA(dialog, IDC_CORR_TEXT, error.text.c_str());
        // The text from where reading stopped is selected.
        HWND edit = GetDlgItem(dialog, IDC_CORR_TEXT);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(error.position), static_cast<LPARAM>(error.text.size()));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            c->text = FilterGetText(dialog, IDC_CORR_TEXT);
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

// ---- the configuration page ----

struct ConfigPage {
    FilterHost host;
    FilterList list;
    size_t skipped = 0; // rows that could not be read and were not corrected
    bool mac = false;
    HIMAGELIST images = nullptr;
};

int Selected(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void EnableButtons(HWND dialog)
{
    bool selected = Selected(GetDlgItem(dialog, IDC_RULES)) >= 0;
    EnableWindow(GetDlgItem(dialog, IDC_EDIT), selected);
    EnableWindow(GetDlgItem(dialog, IDC_DELETE), selected);
}

void Changed(HWND dialog)
{
    PropSheet_Changed(GetParent(dialog), dialog);
}

// Offers each unreadable row for correction; a corrected row joins the list at its place in table order,
// a cancelled one is skipped.
void OfferCorrections(HWND dialog, ConfigPage* p)
{
    int corrected = FilterOfferCorrections(p->host, p->list,
        [dialog](const FilterUnreadable& row, std::string* text) { return FilterAskCorrection(dialog, row, text); });
    p->skipped += p->list.unreadable.size();
    p->list.unreadable.clear();
    if (corrected == 0)
        return;
    HWND list = GetDlgItem(dialog, IDC_RULES);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (size_t i = 0; i < p->list.rules.size(); ++i)
        FilterRuleLine(list, static_cast<int>(i), p->list.rules[i], true);
    EnableButtons(dialog);
    Changed(dialog);
}

bool Apply(HWND dialog, ConfigPage* p)
{
    if (p->skipped > 0) {
        std::string question = FilterStr(FilterStrDropUnreadable);
        size_t at = question.find("%d");
        if (at != std::string::npos)
            question.replace(at, 2, std::to_string(p->skipped));
        if (MessageBoxA(dialog, question.c_str(), FilterStr(FilterStrWarning).c_str(), MB_YESNO | MB_ICONQUESTION)
            != IDYES)
            return false;
    }
    int failed = FilterWrite(p->host, p->list.rules, p->skipped, true, FilterReadLimits(p->host));
    p->skipped = 0;
    if (failed != 0) {
        FilterMessage(dialog, FilterStrNotAllWritten);
        return false;
    }
    return true;
}

} // namespace

INT_PTR CALLBACK FilterConfigPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* p = reinterpret_cast<ConfigPage*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        auto* context = reinterpret_cast<PluginContext*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        p = new ConfigPage;
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(p));
        p->host = FilterPageHost(context);
        p->mac = FilterMacEnabled(p->host);
        FilterApplyTexts(dialog);
        HWND list = GetDlgItem(dialog, IDC_RULES);
        p->images = FilterRuleImages();
        SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(p->images));
        FilterRuleColumns(list);
        p->list = FilterRead(p->host);
        for (size_t i = 0; i < p->list.rules.size(); ++i)
            FilterRuleLine(list, static_cast<int>(i), p->list.rules[i], true);
        EnableButtons(dialog);
        if (!p->list.unreadable.empty())
            PostMessageA(dialog, WM_FILTER_CORRECT, 0, 0);
        return TRUE;
    }
    case WM_FILTER_CORRECT:
        OfferCorrections(dialog, p);
        return TRUE;
    case WM_COMMAND: {
        HWND list = GetDlgItem(dialog, IDC_RULES);
        int current = Selected(list);
        switch (LOWORD(wParam)) {
        case IDC_NEW: {
            FilterRule rule;
            if (EditRule(dialog, p->list.rules, nullptr, p->mac, &rule)) {
                FilterNormalize(&rule);
                int at = static_cast<int>(p->list.rules.size());
                p->list.rules.push_back(rule);
                FilterRuleLine(list, at, rule, true);
                ListView_SetItemState(list, at, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
                Changed(dialog);
            }
            return TRUE;
        }
        case IDC_EDIT:
            if (current >= 0 && static_cast<size_t>(current) < p->list.rules.size()) {
                FilterRule rule = p->list.rules[static_cast<size_t>(current)];
                if (EditRule(dialog, p->list.rules, &p->list.rules[static_cast<size_t>(current)], p->mac, &rule)) {
                    FilterNormalize(&rule);
                    p->list.rules[static_cast<size_t>(current)] = rule;
                    FilterRuleLine(list, current, rule, false);
                    Changed(dialog);
                }
            }
            return TRUE;
        case IDC_DELETE:
            if (current >= 0 && static_cast<size_t>(current) < p->list.rules.size()) {
                p->list.rules.erase(p->list.rules.begin() + current);
                SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(current), 0);
                EnableButtons(dialog);
                Changed(dialog);
            }
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_RULES) {
            if (header->code == LVN_ITEMCHANGED)
                EnableButtons(dialog);
            if (header->code == NM_DBLCLK && Selected(header->hwndFrom) >= 0)
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_EDIT, BN_CLICKED), 0);
            return TRUE;
        }
        if (header->code == PSN_APPLY)
            return FilterResult(dialog, Apply(dialog, p) ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
        if (header->code == PSN_KILLACTIVE)
            return FilterResult(dialog, FALSE);
        return FALSE;
    }
    case WM_DESTROY:
        if (p) {
            ImageList_Destroy(p->images);
            delete p;
            SetWindowLongPtrA(dialog, DWLP_USER, 0);
        }
        return FALSE;
    }
    return FALSE;
}

bool FilterAskCorrection(HWND owner, const FilterUnreadable& row, std::string* text)
{
    Correction c { &row, std::string() };
    if (DialogBoxParamA(g_filterModule, MAKEINTRESOURCEA(IDD_CORRECT), owner, CorrectProc, reinterpret_cast<LPARAM>(&c))
        != IDOK)
        return false;
    *text = std::move(c.text);
    return true;
}
