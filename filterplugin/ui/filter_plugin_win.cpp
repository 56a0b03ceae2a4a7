// qorvexal.dll: the two entry points, the host's functions bound by name, and the controls the pages
// share (texts, filtered fields, action and services controls, station lists and the station dialog).
#include "common/text.h"
#include "filterplugin/ui/filter_res.h"
#include "filterplugin/ui/filter_ui_win.h"

#include <cstring>

HINSTANCE g_filterModule = nullptr;
FilterHost g_filterHostFunctions;

namespace {

template<typename F> void Bind(HMODULE host, const char* name, F* out)
{
    *out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(host, name)));
}

// Binds the nine exports from the host's instance; false when any is missing.
bool BindHost(void* instance)
{
    HMODULE host = static_cast<HMODULE>(instance);
    FilterHost h;
    Bind(host, "VelquinCfgGetDeviceInfo", &h.getDeviceInfo);
    Bind(host, "VelquinCfgGetPluginParam", &h.getPluginParam);
    Bind(host, "VelquinCfgGetValue", &h.getValue);
    Bind(host, "VelquinCfgSetValue", &h.setValue);
    Bind(host, "VelquinCfgGetTabRow", &h.getTabRow);
    Bind(host, "VelquinCfgSetTabRow", &h.setTabRow);
    Bind(host, "VelquinCfgAddTabRow", &h.addTabRow);
    Bind(host, "VelquinCfgDelTabRow", &h.delTabRow);
    Bind(host, "VelquinCfgFindTabRow", &h.findTabRow);
    if (!h.Complete())
        return false;
    g_filterHostFunctions = h;
    return true;
}

// The texts follow the language the host chose for its thread.
void FollowHostLanguage()
{
    StrSetLanguage(LANGIDFROMLCID(GetThreadLocale()));
}

UINT CALLBACK ConfigPageCallback(HWND, UINT, LPPROPSHEETPAGEA)
{
    return 1;
}

struct TextOf {
    int control;
    unsigned text;
};
const TextOf k_texts[] = {
    { IDC_RULES_LABEL, 200 },
    { IDC_NEW, 201 },
    { IDC_EDIT, 202 },
    { IDC_DELETE, 203 },
    { IDC_NAME_LABEL, 204 },
    { IDC_ACTION_GROUP, 205 },
    { IDC_DROP, 206 },
    { IDC_TRANSFER, 207 },
    { IDC_NOTCONN, 208 },
    { IDC_DEFROUTE, 209 },
    { IDC_SRC + STN_GROUP, 210 },
    { IDC_DST + STN_GROUP, 211 },
    { IDC_SRC + STN_ALL, 212 },
    { IDC_DST + STN_ALL, 212 },
    { IDC_SRC + STN_SELECTED, 213 },
    { IDC_DST + STN_SELECTED, 213 },
    { IDC_SRC + STN_ADD, 214 },
    { IDC_DST + STN_ADD, 214 },
    { IDC_SRC + STN_EDIT, 215 },
    { IDC_DST + STN_EDIT, 215 },
    { IDC_SRC + STN_DELETE, 216 },
    { IDC_DST + STN_DELETE, 216 },
    { IDC_PROTO_GROUP, 217 },
    { IDC_TCP, 218 },
    { IDC_UDP, 219 },
    { IDC_ICMP, 220 },
    { IDC_OTHER_LABEL, 221 },
    { IDC_SPORTS_LABEL, 222 },
    { IDC_DPORTS_LABEL, 223 },
    { IDC_ST_LOCAL, 225 },
    { IDC_ST_NAME, 226 },
    { IDC_ST_MAC, 227 },
    { IDC_ST_RANGE, 228 },
    { IDC_ST_TO, 229 },
    { IDC_ST_NET, 230 },
    { IDC_ST_MASK_LABEL, 231 },
    { IDC_MODE_ADD, 235 },
    { IDC_MODE_DELETE, 236 },
    { IDC_SERVICE_LABEL, 237 },
    { IDC_DEFINE, 238 },
    { IDC_ANOTHER, 239 },
    { IDC_CORR_LABEL, 241 },
    { IDOK, 244 },
    { IDCANCEL, 245 },
    { IDC_INTRO, 246 },
    { IDC_DEL_BUTTON, 203 },
    { IDC_FINISH_TITLE, FilterStrWizardTitle },
    { IDC_PRESET + 0, FilterStrPresetFirst + 0 },
    { IDC_PRESET + 1, FilterStrPresetFirst + 1 },
    { IDC_PRESET + 2, FilterStrPresetFirst + 2 },
    { IDC_PRESET + 3, FilterStrPresetFirst + 3 },
    { IDC_PRESET + 4, FilterStrPresetFirst + 4 },
    { IDC_PRESET + 5, FilterStrPresetFirst + 5 },
    { IDC_PRESET + 6, FilterStrPresetFirst + 6 },
};

const char k_fieldProp[] = "QvFilterField";
const char k_fieldProcProp[] = "QvFilterFieldProc";

LRESULT CALLBACK FieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto previous = reinterpret_cast<WNDPROC>(GetPropA(edit, k_fieldProcProp));
    if (message == WM_CHAR && wParam >= 32 && wParam < 256) {
        auto field = static_cast<FilterField>(reinterpret_cast<intptr_t>(GetPropA(edit, k_fieldProp)) - 1);
        if (!FilterFieldAccepts(field, static_cast<char>(wParam))) {
            MessageBeep(MB_OK);
            return 0;
        }
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        RemovePropA(edit, k_fieldProp);
        RemovePropA(edit, k_fieldProcProp);
    }
    return CallWindowProcA(previous, edit, message, wParam, lParam);
}

// ---- the station dialog ----

struct StationDialog {
    FilterStation* station;
    bool mac;
    bool proposing = false; // the mask field is being set by the proposal
    bool maskTyped = false; // the user typed a mask: no more proposals
};

const int k_kindRadio[] = { IDC_ST_LOCAL, IDC_ST_NAME, IDC_ST_MAC, IDC_ST_RANGE, IDC_ST_NET };

int CheckedKind(HWND dialog)
{
    for (int k = 0; k < 5; ++k)
        if (IsDlgButtonChecked(dialog, k_kindRadio[k]) == BST_CHECKED)
            return k;
    return FilterStationLocal;
}

void EnableKindFields(HWND dialog)
{
    int kind = CheckedKind(dialog);
    EnableWindow(GetDlgItem(dialog, IDC_ST_NAMEEDIT), kind == FilterStationName);
    if (HWND mac = GetDlgItem(dialog, IDC_ST_MACEDIT))
        EnableWindow(mac, kind == FilterStationMac);
    EnableWindow(GetDlgItem(dialog, IDC_ST_FIRST), kind == FilterStationRange);
    EnableWindow(GetDlgItem(dialog, IDC_ST_LAST), kind == FilterStationRange);
    EnableWindow(GetDlgItem(dialog, IDC_ST_NETADDR), kind == FilterStationNetwork);
    EnableWindow(GetDlgItem(dialog, IDC_ST_MASK), kind == FilterStationNetwork);
}

bool Refuse(HWND dialog, int control, unsigned message)
{
    FilterMessage(dialog, message);
    SetFocus(GetDlgItem(dialog, control));
    SendDlgItemMessageA(dialog, control, EM_SETSEL, 0, -1);
    return false;
}

bool ReadAddress(HWND dialog, int control, uint32_t* address)
{
    return FilterParseAddress(FilterGetText(dialog, control), address) || Refuse(dialog, control, FilterStrBadAddress);
}

// Takes the dialog's fields into the station; false (after the message) when one is not valid.
bool TakeStation(HWND dialog, StationDialog* d)
{
    FilterStation s;
    s.kind = CheckedKind(dialog);
    switch (s.kind) {
    case FilterStationName: {
        std::string name(Trim(FilterGetText(dialog, IDC_ST_NAMEEDIT)));
        if (name.empty())
            return Refuse(dialog, IDC_ST_NAMEEDIT, FilterStrEnterStation);
        for (char c : name)
            if (!FilterFieldAccepts(FilterFieldStationName, c)) {
                MessageBeep(MB_OK);
                SetFocus(GetDlgItem(dialog, IDC_ST_NAMEEDIT));
                return false;
            }
        s.name = name;
        break;
    }
    case FilterStationMac:
        if (!FilterParseMac(FilterGetText(dialog, IDC_ST_MACEDIT), s.mac))
            return Refuse(dialog, IDC_ST_MACEDIT, FilterStrBadMac);
        break;
    case FilterStationRange:
        if (!ReadAddress(dialog, IDC_ST_FIRST, &s.first))
            return false;
        s.last = s.first;
        if (!std::string(Trim(FilterGetText(dialog, IDC_ST_LAST))).empty()
            && !ReadAddress(dialog, IDC_ST_LAST, &s.last))
            return false;
        if (s.last < s.first)
            std::swap(s.first, s.last);
        break;
    case FilterStationNetwork:
        if (!ReadAddress(dialog, IDC_ST_NETADDR, &s.first) || !ReadAddress(dialog, IDC_ST_MASK, &s.last))
            return false;
        break;
    default:
        break;
    }
    *d->station = s;
    return true;
}

INT_PTR CALLBACK StationProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* d = reinterpret_cast<StationDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        d = reinterpret_cast<StationDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        FilterApplyTexts(dialog);
        SetWindowTextA(dialog, FilterStr(FilterStrStationCaption).c_str());
        FilterAttachField(dialog, IDC_ST_NAMEEDIT, FilterFieldStationName);
        FilterAttachField(dialog, IDC_ST_MACEDIT, FilterFieldMac);
        for (int id : { IDC_ST_FIRST, IDC_ST_LAST, IDC_ST_NETADDR, IDC_ST_MASK })
            FilterAttachField(dialog, id, FilterFieldAddress);
        const FilterStation& s = *d->station;
        int kind = s.kind;
        if (kind == FilterStationMac && !d->mac)
            kind = FilterStationLocal;
        CheckDlgButton(dialog, k_kindRadio[kind], BST_CHECKED);
        d->proposing = true;
        if (s.kind == FilterStationName)
            SetDlgItemTextA(dialog, IDC_ST_NAMEEDIT, s.name.c_str());
        if (s.kind == FilterStationMac && d->mac)
            SetDlgItemTextA(dialog, IDC_ST_MACEDIT, FilterMacText(s.mac).c_str());
        if (s.kind == FilterStationRange) {
            SetDlgItemTextA(dialog, IDC_ST_FIRST, FilterAddressText(s.first).c_str());
            SetDlgItemTextA(dialog, IDC_ST_LAST, FilterAddressText(s.last).c_str());
        }
        if (s.kind == FilterStationNetwork) {
            SetDlgItemTextA(dialog, IDC_ST_NETADDR, FilterAddressText(s.first).c_str());
            SetDlgItemTextA(dialog, IDC_ST_MASK, FilterAddressText(s.last).c_str());
            d->maskTyped = true; // an existing mask is kept
        }
        d->proposing = false;
        EnableKindFields(dialog);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam), code = HIWORD(wParam);
        if (code == BN_CLICKED
            && (id == IDC_ST_LOCAL || id == IDC_ST_NAME || id == IDC_ST_MAC || id == IDC_ST_RANGE
                || id == IDC_ST_NET)) {
            EnableKindFields(dialog);
            return TRUE;
        }
        if (id == IDC_ST_MASK && code == EN_CHANGE && !d->proposing) {
            d->maskTyped = true;
            return TRUE;
        }
        if (id == IDC_ST_NETADDR && code == EN_CHANGE && !d->maskTyped) {
            // The mask of the address's class, until the user types one.
            uint32_t address;
            if (FilterParseAddress(FilterGetText(dialog, IDC_ST_NETADDR), &address)) {
                d->proposing = true;
                SetDlgItemTextA(dialog, IDC_ST_MASK, FilterAddressText(FilterProposedMask(address)).c_str());
                d->proposing = false;
            }
            return TRUE;
        }
        if (id == IDOK && TakeStation(dialog, d)) {
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    }
    return FALSE;
}

} // namespace

FilterHost FilterPageHost(PluginContext* context)
{
    FilterHost h = g_filterHostFunctions;
    h.context = context;
    return h;
}

void FilterApplyTexts(HWND dialog)
{
    for (const TextOf& t : k_texts)
        if (HWND control = GetDlgItem(dialog, t.control))
            SetWindowTextA(control, FilterStr(t.text).c_str());
}

int FilterMessage(HWND owner, unsigned id, UINT flags)
{
    UINT icon = flags & MB_ICONMASK;
    bool warning = icon == MB_ICONEXCLAMATION || icon == MB_ICONQUESTION;
    return MessageBoxA(
        owner, FilterStr(id).c_str(), FilterStr(warning ? FilterStrWarning : FilterStrError).c_str(), flags);
}

INT_PTR FilterResult(HWND dialog, LONG_PTR result)
{
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

void FilterAttachField(HWND dialog, int id, FilterField field)
{
    HWND edit = GetDlgItem(dialog, id);
    if (!edit)
        return;
    SetPropA(edit, k_fieldProp, reinterpret_cast<HANDLE>(static_cast<intptr_t>(field) + 1));
    SetPropA(edit, k_fieldProcProp,
        reinterpret_cast<HANDLE>(SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FieldProc))));
    if (size_t limit = FilterFieldLimit(field))
        SendMessageA(edit, EM_LIMITTEXT, limit, 0);
}

std::string FilterGetText(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return std::string();
    int length = GetWindowTextLengthA(control);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(control, text.data(), length + 1);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// ---- name and action ----

void FilterShowAction(HWND dialog, uint32_t action)
{
    bool transfer = action == FilterActionTransfer;
    CheckDlgButton(dialog, IDC_DROP, transfer ? BST_UNCHECKED : BST_CHECKED);
    CheckDlgButton(dialog, IDC_TRANSFER, transfer ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_NOTCONN, action == FilterActionDropNotConnected ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_DEFROUTE, action == FilterActionDropDefaultRoute ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_NOTCONN), !transfer);
    EnableWindow(GetDlgItem(dialog, IDC_DEFROUTE), !transfer);
    SetDlgItemTextA(dialog, IDC_EXPLAIN, FilterActionExplanation(action).c_str());
}

uint32_t FilterReadAction(HWND dialog)
{
    if (IsDlgButtonChecked(dialog, IDC_TRANSFER) == BST_CHECKED)
        return FilterActionTransfer;
    if (IsDlgButtonChecked(dialog, IDC_NOTCONN) == BST_CHECKED)
        return FilterActionDropNotConnected;
    if (IsDlgButtonChecked(dialog, IDC_DEFROUTE) == BST_CHECKED)
        return FilterActionDropDefaultRoute;
    return FilterActionDrop;
}

void FilterActionClicked(HWND dialog, int id)
{
    // The two boxes under "Drop" exclude each other.
    if (id == IDC_NOTCONN && IsDlgButtonChecked(dialog, IDC_NOTCONN) == BST_CHECKED)
        CheckDlgButton(dialog, IDC_DEFROUTE, BST_UNCHECKED);
    if (id == IDC_DEFROUTE && IsDlgButtonChecked(dialog, IDC_DEFROUTE) == BST_CHECKED)
        CheckDlgButton(dialog, IDC_NOTCONN, BST_UNCHECKED);
    FilterShowAction(dialog, FilterReadAction(dialog));
}

// ---- services ----

void FilterShowServices(HWND dialog, const FilterRule& rule)
{
    bool tcp, udp, icmp;
    std::string other;
    FilterProtocolsToBoxes(rule.protocols, &tcp, &udp, &icmp, &other);
    CheckDlgButton(dialog, IDC_TCP, tcp ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_UDP, udp ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_ICMP, icmp ? BST_CHECKED : BST_UNCHECKED);
    FilterAttachField(dialog, IDC_OTHER, FilterFieldProtocols);
    FilterAttachField(dialog, IDC_SPORTS, FilterFieldPorts);
    FilterAttachField(dialog, IDC_DPORTS, FilterFieldPorts);
    SetDlgItemTextA(dialog, IDC_OTHER, other.c_str());
    SetDlgItemTextA(dialog, IDC_SPORTS, rule.source_ports.c_str());
    SetDlgItemTextA(dialog, IDC_DPORTS, rule.dest_ports.c_str());
}

void FilterReadServices(HWND dialog, FilterRule* rule)
{
    rule->protocols = FilterProtocolsFromBoxes(IsDlgButtonChecked(dialog, IDC_TCP) == BST_CHECKED,
        IsDlgButtonChecked(dialog, IDC_UDP) == BST_CHECKED, IsDlgButtonChecked(dialog, IDC_ICMP) == BST_CHECKED,
        FilterGetText(dialog, IDC_OTHER));
    rule->source_ports = FilterGetText(dialog, IDC_SPORTS);
    rule->dest_ports = FilterGetText(dialog, IDC_DPORTS);
}

// ---- station lists ----

void FilterStationList::Show(HWND dialog, const std::vector<FilterStation>& value)
{
    if (!value.empty())
        stations = value;
    HWND list = GetDlgItem(dialog, base + STN_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const FilterStation& s : stations)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(FilterStationLabel(s).c_str()));
    CheckDlgButton(dialog, base + STN_ALL, value.empty() ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, base + STN_SELECTED, value.empty() ? BST_UNCHECKED : BST_CHECKED);
    Enable(dialog);
}

void FilterStationList::Enable(HWND dialog) const
{
    bool selected = IsDlgButtonChecked(dialog, base + STN_SELECTED) == BST_CHECKED;
    int current = static_cast<int>(SendDlgItemMessageA(dialog, base + STN_LIST, LB_GETCURSEL, 0, 0));
    EnableWindow(GetDlgItem(dialog, base + STN_LIST), selected);
    EnableWindow(GetDlgItem(dialog, base + STN_ADD), selected);
    EnableWindow(GetDlgItem(dialog, base + STN_EDIT), selected && current >= 0);
    EnableWindow(GetDlgItem(dialog, base + STN_DELETE), selected && current >= 0);
}

bool FilterStationList::Command(HWND dialog, int id, int code)
{
    if (id < base || id > base + STN_DELETE)
        return false;
    HWND list = GetDlgItem(dialog, base + STN_LIST);
    int current = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
    switch (id - base) {
    case STN_ADD: {
        FilterStation s;
        s.kind = FilterStationRange;
        if (FilterEditStation(dialog, mac, &s)) {
            stations.push_back(s);
            int at = static_cast<int>(
                SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(FilterStationLabel(s).c_str())));
            SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(at), 0);
        }
        break;
    }
    case STN_LIST:
        if (code != LBN_DBLCLK)
            break;
        [[fallthrough]];
    case STN_EDIT:
        if (current >= 0 && static_cast<size_t>(current) < stations.size()) {
            FilterStation s = stations[static_cast<size_t>(current)];
            if (FilterEditStation(dialog, mac, &s)) {
                stations[static_cast<size_t>(current)] = s;
                SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(current), 0);
                SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(current),
                    reinterpret_cast<LPARAM>(FilterStationLabel(s).c_str()));
                SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(current), 0);
            }
        }
        break;
    case STN_DELETE:
        if (current >= 0 && static_cast<size_t>(current) < stations.size()) {
            stations.erase(stations.begin() + current);
            SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(current), 0);
        }
        break;
    default:
        break;
    }
    Enable(dialog);
    return true;
}

std::vector<FilterStation> FilterStationList::Value(HWND dialog) const
{
    if (IsDlgButtonChecked(dialog, base + STN_SELECTED) != BST_CHECKED)
        return {};
    return stations;
}

bool FilterEditStation(HWND owner, bool mac, FilterStation* station)
{
    StationDialog d { station, mac };
    return DialogBoxParamA(g_filterModule, MAKEINTRESOURCEA(mac ? IDD_STATION_MAC : IDD_STATION), owner, StationProc,
               reinterpret_cast<LPARAM>(&d))
        == IDOK;
}

// ---- rule lists ----

HIMAGELIST FilterRuleImages()
{
    // Two round marks drawn here: green for "Transfer", red for every drop action.
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 2, 0);
    HDC screen = GetDC(nullptr);
    for (COLORREF colour : { RGB(0, 160, 0), RGB(200, 0, 0) }) {
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECT all = { 0, 0, 16, 16 };
        HBRUSH back = CreateSolidBrush(RGB(255, 0, 255));
        FillRect(dc, &all, back);
        DeleteObject(back);
        HBRUSH fill = CreateSolidBrush(colour);
        HGDIOBJ oldBrush = SelectObject(dc, fill);
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
        Ellipse(dc, 1, 1, 15, 15);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(fill);
        SelectObject(dc, old);
        DeleteDC(dc);
        ImageList_AddMasked(images, bitmap, RGB(255, 0, 255));
        DeleteObject(bitmap);
    }
    ReleaseDC(nullptr, screen);
    return images;
}

int FilterRuleImage(const FilterRule& rule)
{
    return rule.action == FilterActionTransfer ? 0 : 1;
}

void FilterRuleColumns(HWND list)
{
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    RECT r;
    GetClientRect(list, &r);
    int width = r.right - r.left - GetSystemMetrics(SM_CXVSCROLL);
    std::string name = FilterStr(FilterStrColumnName), action = FilterStr(FilterStrColumnAction);
    LVCOLUMNA column {};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = width * 2 / 5;
    column.pszText = name.data();
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    column.cx = width - width * 2 / 5;
    column.pszText = action.data();
    SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
}

void FilterRuleLine(HWND list, int index, const FilterRule& rule, bool insert)
{
    std::string name = rule.name, action = FilterActionName(rule.action);
    LVITEMA item {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = name.data();
    item.iImage = FilterRuleImage(rule);
    SendMessageA(list, insert ? LVM_INSERTITEMA : LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    item.mask = LVIF_TEXT;
    item.iSubItem = 1;
    item.pszText = action.data();
    SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

// ---- the entry points ----

extern "C" {

int32_t WINAPI PluginIpFilterCfg(PluginContext* context, int32_t kind, PluginCallRecord* record)
{
    if (!record || !BindHost(record->instance))
        return 0;
    FollowHostLanguage();
    if (kind != PluginKindConfig || !record->page)
        return 1;
    static std::string title;
    title = FilterStr(FilterStrPageTitle);
    auto* page = reinterpret_cast<PROPSHEETPAGEA*>(record->page);
    page->dwFlags = PSP_USECALLBACK | (title.empty() ? 0 : PSP_USETITLE);
    page->hInstance = g_filterModule;
    page->pszTemplate = MAKEINTRESOURCEA(IDD_CFG_PAGE);
    page->pszTitle = title.c_str();
    page->pfnDlgProc = FilterConfigPageProc;
    page->pfnCallback = ConfigPageCallback;
    page->lParam = reinterpret_cast<LPARAM>(context);
    return 1;
}

int32_t WINAPI PluginIpFilterWiz(PluginContext* context, int32_t kind, PluginCallRecord* record)
{
    if (!record || !BindHost(record->instance))
        return 0;
    FollowHostLanguage();
    if (kind != PluginKindWizard || !record->page)
        return 1;
    auto* page = reinterpret_cast<PROPSHEETPAGEA*>(record->page);
    // A record larger than the old layout has the header fields: the sheet draws the texts.
    bool headers = page->dwSize >= offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(page->pszHeaderSubTitle);
    static std::string title, subtitle;
    title = FilterStr(FilterStrWizardTitle);
    subtitle = FilterStr(FilterStrWizardSubtitle);
    void* dialogTemplate = headers ? FilterLoadTemplate(IDD_WIZ_START, std::string(), std::string())
                                   : FilterLoadTemplate(IDD_WIZ_START, title, subtitle);
    if (!dialogTemplate)
        return 0;
    page->dwFlags = PSP_DLGINDIRECT | PSP_USECALLBACK;
    page->hInstance = g_filterModule;
    page->pResource = static_cast<LPCDLGTEMPLATEA>(dialogTemplate);
    page->pfnDlgProc = FilterWizardStartProc;
    page->pfnCallback = FilterWizardPageCallback;
    page->lParam = reinterpret_cast<LPARAM>(context);
    if (headers) {
        page->dwFlags |= PSP_USEHEADERTITLE | PSP_USEHEADERSUBTITLE;
        page->pszHeaderTitle = title.c_str();
        page->pszHeaderSubTitle = subtitle.c_str();
    }
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_filterModule = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

} // extern "C"
