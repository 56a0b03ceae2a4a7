#include "config/ui/cfgpage_win.h"

#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/frontend/valuerules.h"
#include "config/store/cfg_store.h"
#include "config/store/display.h"
#include "config/store/display_pattern.h"
#include "config/ui/cfgcontrol_win.h"
#include "config/ui/resource.h"

#include <algorithm>
#include <commctrl.h>
#include <cstring>

namespace {
// One item's controls.
struct ItemCtl {
    CfgItem* item = nullptr;
    HWND label = nullptr;
    HWND main = nullptr;
    HWND second = nullptr; // date-and-time: the time picker
    HWND buddy = nullptr; // up-down
    HWND value = nullptr; // slider value text
    HWND everyYearBox = nullptr; // the "(Every year)" switch of a date with a wildcard year
    std::vector<HWND> radios;
    std::vector<std::pair<HWND, int>> buttons; // table buttons with their CfgTableButton
    bool changed = false;
    bool everyYear = false; // a date shown (and kept) with the wildcard year
    std::string filled; // the value the control held after filling (a change without notice shows)
    std::string taken; // the value last taken into the store (or filled): not taken twice
};

std::string WindowText(HWND w)
{
    int n = GetWindowTextLengthA(w);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    GetWindowTextA(w, text.data(), n + 1);
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The value of an item as the controls start from it: its own, else the default.
std::optional<std::string> ShownValue(const CfgItem& item)
{
    if (item.value)
        return item.value;
    if (item.kind == CfgKindSlider && item.HasAttr(CfgAttrDefaultValue))
        return std::to_string(item.Number(CfgAttrDefaultValue));
    if (item.Text(CfgAttrDefaultValue))
        return *item.Text(CfgAttrDefaultValue);
    return std::nullopt;
}

// True when the devices configured together hold different values of the item.
bool DevicesDiffer(const CfgItem& item)
{
    std::vector<const CfgItem*> seen { &item };
    for (const CfgItem* at = item.counterpart; at && std::find(seen.begin(), seen.end(), at) == seen.end();
         at = at->counterpart) {
        if (at->value != item.value)
            return true;
        seen.push_back(at);
    }
    return false;
}

// The index a selection (17, 18) or switch (20) shows for a value; -1 for none.
int SelectionIndex(const CfgItem& item, const std::optional<std::string>& value)
{
    CfgAttr valuesAttr = item.kind == CfgKindSelectionButtons ? CfgAttrButtonValue
        : item.kind == CfgKindSelectionList                   ? CfgAttrItemValue
                                                              : CfgAttrValueList;
    if (!value)
        return static_cast<int>(item.Number(CfgAttrDefaultSelection));
    const CfgOptArgList& values = item.List(valuesAttr);
    if (!values)
        return static_cast<int>(ParseUnsigned(*value));
    if (item.kind == CfgKindOnOff) {
        if (values->Count() > 2 && *value == values->At(2))
            return 2;
        return *value == values->At(1) ? 1 : 0;
    }
    for (size_t k = values->Count(); k-- > 0;)
        if (values->At(k) == *value)
            return static_cast<int>(k);
    return -1;
}
} // namespace

struct CfgPageWin::Impl {
    HWND page = nullptr;
    CfgDescription* desc = nullptr;
    CfgPageTexts texts;
    CfgTableEntryDialog tableEntry;
    CfgPageLayout layout;
    std::vector<ItemCtl> items;
    std::vector<HWND> windows; // by layout index
    HFONT bold = nullptr;
    HICON info = nullptr;
    HICON logo = nullptr;
    bool filling = false;
    int scroll = 0; // pixels scrolled down
    int pageHeight = 0; // pixels of the whole layout
    bool changedAny = false;
    std::string deviceClock; // the device's clock as it reported it ("hhmmssDDMMYYYY"), empty: none
    DWORD clockShownAt = 0; // tick count when the page began to show it

    ItemCtl* Find(const CfgItem* item)
    {
        for (ItemCtl& c : items)
            if (c.item == item)
                return &c;
        return nullptr;
    }
    ItemCtl* FindByWindow(HWND w)
    {
        for (ItemCtl& c : items) {
            if (c.main == w || c.second == w || c.buddy == w || (w && c.everyYearBox == w))
                return &c;
            for (HWND r : c.radios)
                if (r == w)
                    return &c;
        }
        return nullptr;
    }

    void Build(const std::vector<CfgItem*>& list, const CfgLayoutOptions& options)
    {
        std::vector<const CfgItem*> constItems(list.begin(), list.end());
        layout = CfgLayoutItems(constItems, options, texts.buttons);
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0));
        LOGFONTA lf {};
        if (font && GetObjectA(font, sizeof lf, &lf)) {
            lf.lfWeight = FW_BOLD;
            bold = CreateFontIndirectA(&lf);
        }
        info = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_INFORMATION));
        // The logo of group_logo frames: the program's own icon.
        logo = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_QORVEXAL));
        HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(page, GWLP_HINSTANCE));
        for (CfgItem* item : list)
            if (!CfgKindIsDecoration(item->kind) && item->kind != CfgKindGroupEnd) {
                ItemCtl c;
                c.item = item;
                items.push_back(c);
            }
        for (size_t k = 0; k < layout.controls.size(); ++k) {
            const CfgLayoutControl& lc = layout.controls[k];
            RECT r { lc.x, lc.y, lc.x + lc.width, lc.y + lc.height };
            if (lc.control == CfgCtl::DropList || lc.control == CfgCtl::Combo)
                r.bottom = r.top + 100; // the dropped list
            MapDialogRect(page, &r);
            DWORD exStyle = lc.control == CfgCtl::Edit || lc.control == CfgCtl::ListView ? WS_EX_CLIENTEDGE : 0;
            HWND w = CreateWindowExA(exStyle, CfgControlClass(lc.control), lc.text.c_str(), CfgControlStyle(lc), r.left,
                r.top, r.right - r.left, r.bottom - r.top, page,
                reinterpret_cast<HMENU>(static_cast<INT_PTR>(options.firstId + static_cast<int>(k))), instance,
                nullptr);
            windows.push_back(w);
            if (!w)
                continue;
            SendMessageA(w, WM_SETFONT,
                reinterpret_cast<WPARAM>((lc.flags & CfgCtlBold) && lc.role == CfgRole::Label && bold ? bold : font),
                0);
            if (lc.control == CfgCtl::Logo)
                SendMessageA(w, STM_SETICON, reinterpret_cast<WPARAM>(logo ? logo : info), 0);
            if (lc.control == CfgCtl::Icon)
                SendMessageA(w, STM_SETICON, reinterpret_cast<WPARAM>(CfgStandardIcon(lc.index)), 0);
            ItemCtl* ic = Find(lc.item);
            if (!ic)
                continue;
            switch (lc.role) {
            case CfgRole::Label:
                ic->label = w;
                break;
            case CfgRole::Main:
                if (lc.control == CfgCtl::Radio)
                    ic->radios.push_back(w);
                if (!ic->main)
                    ic->main = w;
                break;
            case CfgRole::Second:
                ic->second = w;
                break;
            case CfgRole::Buddy:
                ic->buddy = w;
                break;
            case CfgRole::Value:
                ic->value = w;
                break;
            case CfgRole::TableButton:
                ic->buttons.push_back({ w, lc.index });
                break;
            case CfgRole::EveryYear:
                ic->everyYearBox = w;
                SetWindowTextA(w, CfgEveryYearSwitchText(texts.everyYear).c_str());
                break;
            default:
                break;
            }
            if (lc.role == CfgRole::Main)
                Prepare(*ic, lc, w);
        }
        RECT all { 0, 0, 0, layout.height };
        MapDialogRect(page, &all);
        pageHeight = all.bottom;
        if (layout.scrolls) {
            SetWindowLongPtrA(page, GWL_STYLE, GetWindowLongPtrA(page, GWL_STYLE) | WS_VSCROLL);
            SetWindowPos(page, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
            UpdateScrollBar();
        }
    }

    // Settings of a main control that do not depend on the value.
    void Prepare(ItemCtl& c, const CfgLayoutControl& lc, HWND w)
    {
        const CfgItem& item = *c.item;
        CfgControlChoice choice = CfgChooseControl(item);
        switch (lc.control) {
        case CfgCtl::Edit:
            SendMessageA(w, EM_LIMITTEXT, choice.maxLength ? choice.maxLength : 255, 0);
            if (choice.flags & CfgCtlFiltered)
                CfgFilterTyping(w, item);
            break;
        case CfgCtl::Combo: {
            COMBOBOXINFO info {};
            info.cbSize = sizeof info;
            if (GetComboBoxInfo(w, &info) && info.hwndItem) {
                SendMessageA(info.hwndItem, EM_LIMITTEXT, choice.maxLength ? choice.maxLength : 255, 0);
                CfgFilterTyping(info.hwndItem, item);
            }
            break;
        }
        case CfgCtl::Time:
            SendMessageA(w, DTM_SETFORMATA, 0,
                reinterpret_cast<LPARAM>(CfgTimePicture(item.Number(CfgAttrShowSeconds) != 0).c_str()));
            break;
        case CfgCtl::TrackBar: {
            uint32_t lo = item.Number(CfgAttrRangeMin), hi = item.Number(CfgAttrRangeMax);
            uint32_t span = lo >= hi ? lo - hi : hi - lo;
            SendMessageA(w, TBM_SETRANGEMIN, FALSE, 0);
            SendMessageA(w, TBM_SETRANGEMAX, TRUE, static_cast<LPARAM>(span));
            uint32_t step = item.Number(CfgAttrStep) ? item.Number(CfgAttrStep) : 1;
            SendMessageA(w, TBM_SETLINESIZE, 0, static_cast<LPARAM>(step));
            SendMessageA(w, TBM_SETPAGESIZE, 0, static_cast<LPARAM>(step));
            SendMessageA(w, TBM_SETTICFREQ, std::max<uint32_t>(step, span / 10 ? span / 10 : 1), 0);
            break;
        }
        case CfgCtl::DropList:
            if (item.kind == CfgKindSelectionList && item.List(CfgAttrItemText))
                for (std::string_view t : *item.List(CfgAttrItemText))
                    SendMessageA(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::string(t).c_str()));
            break;
        case CfgCtl::ListView: {
            ListView_SetExtendedListViewStyle(w, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
            RECT r;
            GetClientRect(w, &r);
            int n = std::max<int>(1, static_cast<int>(item.columns.size()));
            for (size_t k = 0; k < item.columns.size(); ++k) {
                std::string head = CfgItemLabel(*item.columns[k]);
                LVCOLUMNA col {};
                col.mask = LVCF_TEXT | LVCF_WIDTH;
                col.cx = (r.right - r.left) / n;
                col.pszText = head.data();
                ListView_InsertColumn(w, static_cast<int>(k), &col);
            }
            break;
        }
        default:
            break;
        }
    }

    void FillTable(ItemCtl& c)
    {
        HWND w = c.main;
        ListView_DeleteAllItems(w);
        int row = 0;
        for (CfgRow& r : c.item->rows) {
            for (size_t k = 0; k < c.item->columns.size() && k < CfgMaxColumns; ++k) {
                std::string cell = CfgDisplayText(*c.item->columns[k], r.cells[k], texts.on, texts.off, true)
                                       .value_or(std::string());
                if (k == 0) {
                    LVITEMA lv {};
                    lv.mask = LVIF_TEXT | LVIF_PARAM;
                    lv.iItem = row;
                    lv.pszText = cell.data();
                    lv.lParam = row;
                    ListView_InsertItem(w, &lv);
                } else {
                    ListView_SetItemText(w, row, static_cast<int>(k), cell.data());
                }
            }
            ++row;
        }
    }

    void FillFromTables(ItemCtl& c)
    {
        const CfgItem& item = *c.item;
        SendMessageA(c.main, CB_RESETCONTENT, 0, 0);
        if (!item.List(CfgAttrItemsFromTable))
            return;
        std::vector<std::string> list = item.List(CfgAttrItemsFromTable)->Texts();
        std::vector<std::string> seen;
        for (size_t k = 0; k < list.size(); ++k) {
            CfgItem* table = CfgFindItem(*desc, list[k]);
            std::string column = "1";
            if (k + 1 < list.size() && ParseUnsignedStrict(list[k + 1])) {
                column = list[k + 1];
                ++k;
            }
            std::vector<std::string> values;
            if (!table || !CfgColumnValues(*table, column, &values))
                continue;
            for (const std::string& v : values) {
                if (item.Number(CfgAttrNoDuplicates) && std::find(seen.begin(), seen.end(), v) != seen.end())
                    continue;
                seen.push_back(v);
                SendMessageA(c.main, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(v.c_str()));
            }
        }
    }

    void SetDate(ItemCtl& c, const std::optional<std::string>& value, bool differ)
    {
        const CfgItem& item = *c.item;
        CfgMoment m;
        unsigned found = 0;
        bool ok = value && !differ && CfgPatternRead(CfgItemPattern(item), *value, &m, &found);
        CfgToday today = CfgCurrentDate();
        c.everyYear = ok && m.year == 0 && item.Number(CfgAttrYearIsWildcard);
        ShowEveryYear(c);
        SYSTEMTIME st {};
        st.wYear = static_cast<WORD>(ok && m.year ? m.year : today.year);
        st.wMonth = static_cast<WORD>(ok && m.month ? m.month : today.month);
        st.wDay = static_cast<WORD>(ok && m.day ? m.day : today.day);
        st.wHour = static_cast<WORD>(ok ? m.hour : 0);
        st.wMinute = static_cast<WORD>(ok ? m.minute : 0);
        st.wSecond = static_cast<WORD>(ok ? m.second : 0);
        if (!CfgIsValidDate(st.wYear, st.wMonth, st.wDay)) {
            st.wYear = static_cast<WORD>(today.year);
            st.wMonth = static_cast<WORD>(today.month);
            st.wDay = static_cast<WORD>(today.day);
        }
        if (st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59)
            st.wHour = st.wMinute = st.wSecond = 0;
        SendMessageA(c.main, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
        if (c.second)
            SendMessageA(c.second, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
    }

    // A date-and-time item without a value of its own shows the device's clock, running on from the
    // moment the page began to show it. False when the item or the device has none to show.
    bool ShowDeviceClock(ItemCtl& c)
    {
        CfgMoment m;
        if (deviceClock.empty() || !CfgShowsDeviceClock(*c.item)
            || !CfgDeviceClockMoment(deviceClock, (GetTickCount() - clockShownAt) / 1000, &m))
            return false;
        SYSTEMTIME st {};
        st.wYear = static_cast<WORD>(m.year);
        st.wMonth = static_cast<WORD>(m.month);
        st.wDay = static_cast<WORD>(m.day);
        st.wHour = static_cast<WORD>(m.hour);
        st.wMinute = static_cast<WORD>(m.minute);
        st.wSecond = static_cast<WORD>(m.second);
        SendMessageA(c.main, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
        if (c.second)
            SendMessageA(c.second, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
        return true;
    }

    // Once a second: the clocks shown run on, except where the user set a moment or is setting one.
    // What runs on is no change of the user's: it is not taken.
    void ClockTick()
    {
        HWND focus = GetFocus();
        filling = true;
        for (ItemCtl& c : items) {
            if (c.changed || !c.main || (focus && (focus == c.main || focus == c.second)))
                continue;
            if (Current(c) != c.taken)
                continue; // changed without a notice: the user's
            if (ShowDeviceClock(c))
                c.filled = c.taken = Current(c);
        }
        filling = false;
    }

    // The picture of a date with the wildcard year, or the user's own; the switch as it stands.
    void ShowEveryYear(ItemCtl& c)
    {
        if (c.everyYear)
            SendMessageA(
                c.main, DTM_SETFORMATA, 0, reinterpret_cast<LPARAM>(CfgEveryYearPicture(texts.everyYear).c_str()));
        else
            SendMessageA(c.main, DTM_SETFORMATA, 0, 0);
        if (c.everyYearBox)
            SendMessageA(c.everyYearBox, BM_SETCHECK, c.everyYear ? BST_CHECKED : BST_UNCHECKED, 0);
    }

    void FillItem(ItemCtl& c)
    {
        CfgItem& item = *c.item;
        bool differ = DevicesDiffer(item);
        std::optional<std::string> value = differ ? std::nullopt : ShownValue(item);
        std::string text = value.value_or(std::string());
        c.changed = false;
        switch (item.kind) {
        case CfgKindReadonlyText:
            SetWindowTextA(c.main,
                differ ? ""
                       : CfgDisplayText(item, item.value, texts.on, texts.off, false).value_or(std::string()).c_str());
            // The display text carries the unit, which stands beside the control already.
            if (!differ && item.Text(CfgAttrUnit) && !item.List(CfgAttrItemText)) {
                std::string shown = item.value.value_or(std::string());
                if (item.Number(CfgAttrConvertToUpper))
                    for (char& ch : shown)
                        ch = AsciiUpper(ch);
                SetWindowTextA(c.main, shown.c_str());
            }
            break;
        case CfgKindEntryText:
        case CfgKindEntryNumbers:
        case CfgKindEntryHex:
            SetWindowTextA(c.main, text.c_str());
            break;
        case CfgKindEntryIpAddress: {
            std::optional<uint32_t> a = value ? CfgInetAddr(*value) : std::nullopt;
            if (differ || !a)
                SendMessageA(c.main, IPM_CLEARADDRESS, 0, 0);
            else
                SendMessageA(c.main, IPM_SETADDRESS, 0, static_cast<LPARAM>(*a));
            break;
        }
        case CfgKindEntryNumeric:
            SetWindowTextA(c.main, differ ? "" : CfgNumberText(item, ParseUnsigned(text)).c_str());
            break;
        case CfgKindEntryDate:
        case CfgKindEntryDateTime:
            SetDate(c, value, differ);
            break;
        case CfgKindEntryTime: {
            CfgMoment m;
            SYSTEMTIME st {};
            GetLocalTime(&st);
            if (value && CfgPatternRead(CfgItemPattern(item), *value, &m) && m.hour < 24 && m.minute < 60
                && m.second < 60) {
                st.wHour = static_cast<WORD>(m.hour);
                st.wMinute = static_cast<WORD>(m.minute);
                st.wSecond = static_cast<WORD>(m.second);
            } else {
                st.wHour = st.wMinute = st.wSecond = 0;
            }
            st.wMilliseconds = 0;
            SendMessageA(c.main, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st));
            break;
        }
        case CfgKindSlider: {
            uint32_t lo = item.Number(CfgAttrRangeMin), hi = item.Number(CfgAttrRangeMax);
            uint32_t v = ParseUnsigned(text);
            uint32_t pos = lo >= hi ? (v <= lo ? lo - v : 0) : (v >= lo ? v - lo : 0);
            SendMessageA(c.main, TBM_SETPOS, TRUE, static_cast<LPARAM>(pos));
            UpdateSliderText(c);
            break;
        }
        case CfgKindSelectionButtons: {
            int index = differ ? -1 : SelectionIndex(item, value);
            for (size_t k = 0; k < c.radios.size(); ++k)
                SendMessageA(c.radios[k], BM_SETCHECK, static_cast<int>(k) == index ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        }
        case CfgKindSelectionList:
            SendMessageA(c.main, CB_SETCURSEL, differ ? -1 : SelectionIndex(item, value), 0);
            break;
        case CfgKindSelectionFromTable:
            FillFromTables(c);
            if (item.Number(CfgAttrNoEdit))
                SendMessageA(c.main, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
            else
                SetWindowTextA(c.main, text.c_str());
            break;
        case CfgKindOnOff: {
            int index = differ ? 2 : SelectionIndex(item, value);
            bool three = (GetWindowLongA(c.main, GWL_STYLE) & 0xF) == BS_AUTO3STATE;
            if (index == 2 && !three && !differ)
                index = 0;
            if (differ && !three) // an undetermined state for devices that differ
                SetWindowLongA(c.main, GWL_STYLE, (GetWindowLongA(c.main, GWL_STYLE) & ~0xF) | BS_AUTO3STATE);
            SendMessageA(c.main, BM_SETCHECK,
                index == 1       ? BST_CHECKED
                    : index == 2 ? BST_INDETERMINATE
                                 : BST_UNCHECKED,
                0);
            break;
        }
        case CfgKindTable:
            FillTable(c);
            break;
        default:
            break;
        }
    }

    void UpdateSliderText(ItemCtl& c)
    {
        if (!c.value)
            return;
        CfgControlState s;
        s.position = static_cast<uint32_t>(SendMessageA(c.main, TBM_GETPOS, 0, 0));
        SetWindowTextA(c.value, CfgControlValue(*c.item, s).c_str());
    }

    CfgControlState State(ItemCtl& c)
    {
        CfgControlState s;
        s.changed = c.changed;
        const CfgItem& item = *c.item;
        switch (item.kind) {
        case CfgKindEntryIpAddress: {
            if (!SendMessageA(c.main, IPM_ISBLANK, 0, 0)) {
                DWORD a = 0;
                SendMessageA(c.main, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&a));
                s.text
                    = StrFormat("%lu.%lu.%lu.%lu", (a >> 24) & 255ul, (a >> 16) & 255ul, (a >> 8) & 255ul, a & 255ul);
            }
            break;
        }
        case CfgKindEntryDate:
        case CfgKindEntryDateTime: {
            SYSTEMTIME st {};
            if (SendMessageA(c.main, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)) == GDT_VALID)
                s.text = c.everyYear ? StrFormat("%u.%u.", st.wDay, st.wMonth)
                                     : StrFormat("%u.%u.%u", st.wDay, st.wMonth, st.wYear);
            if (c.second && SendMessageA(c.second, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)) == GDT_VALID) {
                s.hour = st.wHour;
                s.minute = st.wMinute;
                s.second = st.wSecond;
            }
            break;
        }
        case CfgKindEntryTime: {
            SYSTEMTIME st {};
            if (SendMessageA(c.main, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)) == GDT_VALID) {
                s.hour = st.wHour;
                s.minute = st.wMinute;
                s.second = st.wSecond;
            }
            break;
        }
        case CfgKindSlider:
            s.position = static_cast<uint32_t>(SendMessageA(c.main, TBM_GETPOS, 0, 0));
            break;
        case CfgKindSelectionButtons:
            for (size_t k = 0; k < c.radios.size(); ++k)
                if (SendMessageA(c.radios[k], BM_GETCHECK, 0, 0) == BST_CHECKED)
                    s.selection = static_cast<int>(k);
            break;
        case CfgKindSelectionList:
            s.selection = static_cast<int>(SendMessageA(c.main, CB_GETCURSEL, 0, 0));
            break;
        case CfgKindOnOff: {
            LRESULT state = SendMessageA(c.main, BM_GETCHECK, 0, 0);
            s.check = state == BST_CHECKED ? 1 : state == BST_INDETERMINATE ? 2 : 0;
            break;
        }
        case CfgKindSelectionFromTable:
            if (item.Number(CfgAttrNoEdit)) {
                int sel = static_cast<int>(SendMessageA(c.main, CB_GETCURSEL, 0, 0));
                if (sel >= 0) {
                    std::string t(static_cast<size_t>(SendMessageA(c.main, CB_GETLBTEXTLEN, sel, 0)) + 1, '\0');
                    SendMessageA(c.main, CB_GETLBTEXT, sel, reinterpret_cast<LPARAM>(t.data()));
                    t.resize(std::strlen(t.c_str()));
                    s.text = t;
                }
            } else {
                s.text = WindowText(c.main);
            }
            break;
        default:
            s.text = WindowText(c.main);
            break;
        }
        return s;
    }

    void Reset(ItemCtl& c)
    {
        filling = true;
        switch (c.item->kind) {
        case CfgKindSelectionButtons:
            for (HWND r : c.radios)
                SendMessageA(r, BM_SETCHECK, BST_UNCHECKED, 0);
            break;
        case CfgKindSelectionList:
            SendMessageA(c.main, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
            break;
        case CfgKindEntryIpAddress:
            SendMessageA(c.main, IPM_CLEARADDRESS, 0, 0);
            break;
        case CfgKindOnOff:
            SendMessageA(c.main, BM_SETCHECK, BST_INDETERMINATE, 0);
            break;
        default:
            if (c.main)
                SetWindowTextA(c.main, "");
            break;
        }
        c.changed = false;
        filling = false;
    }

    void Focus(const CfgItem* item)
    {
        ItemCtl* c = Find(item);
        if (!c || !c->main)
            return;
        ScrollTo(c->main);
        SetFocus(c->main);
        SendMessageA(c->main, EM_SETSEL, 0, -1);
        if (c->item->kind == CfgKindSelectionFromTable)
            SendMessageA(c->main, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
    }

    // The value the control holds now (for enable_item).
    std::string Current(ItemCtl& c)
    {
        if (c.item->IsTable() || c.item->kind == CfgKindReadonlyText)
            return c.item->value.value_or(std::string());
        return CfgControlValue(*c.item, State(c));
    }

    void UpdateStates()
    {
        // Enabled unless disabled by a wizard action or by an enabling item that is off.
        std::vector<const CfgItem*> off;
        for (ItemCtl& c : items) {
            if (!c.item->enableItem || !c.main)
                continue;
            if (CfgValueEnables(*c.item, Current(c)) && !(c.item->state & CfgItemDisabled))
                continue;
            for (std::string_view name : *c.item->enableItem)
                if (const CfgItem* target = CfgFindItem(*desc, name))
                    off.push_back(target);
        }
        for (ItemCtl& c : items) {
            bool enabled = !(c.item->state & CfgItemDisabled) && std::find(off.begin(), off.end(), c.item) == off.end();
            for (HWND w : { c.label, c.main, c.second, c.buddy, c.value, c.everyYearBox })
                if (w)
                    EnableWindow(w, enabled);
            for (HWND r : c.radios)
                EnableWindow(r, enabled);
            for (auto& [w, b] : c.buttons) {
                bool need = b != CfgTableAdd;
                bool selected = ListView_GetNextItem(c.main, -1, LVNI_SELECTED) >= 0;
                bool full = b != CfgTableDelete && b != CfgTableEdit && c.item->Number(CfgAttrMaxItems)
                    && c.item->rows.size() >= c.item->Number(CfgAttrMaxItems);
                EnableWindow(w, enabled && tableEntry && (!need || selected) && !full);
                if (b == CfgTableDelete)
                    EnableWindow(w, enabled && selected);
            }
        }
    }

    // A control changed by the user.
    void Changed(ItemCtl& c)
    {
        if (filling)
            return;
        c.changed = true;
        changedAny = true;
        if (c.item->kind == CfgKindSlider)
            UpdateSliderText(c);
        if (c.item->enableItem)
            UpdateStates();
        // change_item: the named items follow (their lists and texts are made again).
        if (c.item->changeItem)
            for (std::string_view name : *c.item->changeItem)
                if (ItemCtl* other = Find(CfgFindItem(*desc, name)); other && !other->changed) {
                    filling = true;
                    FillItem(*other);
                    filling = false;
                }
    }

    void TableButton(ItemCtl& c, int button)
    {
        CfgItem& table = *c.item;
        int sel = ListView_GetNextItem(c.main, -1, LVNI_SELECTED);
        CfgRow* row = sel >= 0 ? CfgRowAt(table, static_cast<size_t>(sel)) : nullptr;
        bool done = false;
        if (button == CfgTableDelete) {
            if (sel >= 0)
                done = CfgRowDelete(table, sel) != 0;
        } else if (tableEntry) {
            if (button != CfgTableAdd && !row)
                return;
            done = tableEntry(page, *desc, table, button == CfgTableAdd ? nullptr : row, button == CfgTableEdit);
        }
        if (done) {
            c.changed = true;
            changedAny = true;
            FillTable(c);
            int select = button == CfgTableDelete ? std::min(sel, static_cast<int>(table.rows.size()) - 1)
                : button == CfgTableEdit          ? sel
                                                  : static_cast<int>(table.rows.size()) - 1;
            if (select >= 0)
                ListView_SetItemState(c.main, select, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        }
        UpdateStates();
    }

    void Spin(ItemCtl& c, int delta)
    {
        const CfgItem& item = *c.item;
        CfgControlState s;
        s.text = WindowText(c.main);
        uint64_t v = ParseUnsigned(CfgControlValue(item, s));
        uint32_t step = item.Number(CfgAttrStep) ? item.Number(CfgAttrStep) : 1;
        int64_t next = static_cast<int64_t>(v) + static_cast<int64_t>(delta) * step;
        uint32_t lo = item.Number(CfgAttrRangeMin), hi = item.Number(CfgAttrRangeMax);
        if (hi > lo)
            next = std::clamp<int64_t>(next, lo, hi);
        next = std::clamp<int64_t>(next, 0, 0xFFFFFFFFll);
        SetWindowTextA(c.main, CfgNumberText(item, static_cast<uint32_t>(next)).c_str());
    }

    void UpdateScrollBar()
    {
        RECT r;
        GetClientRect(page, &r);
        SCROLLINFO si {};
        si.cbSize = sizeof si;
        si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        si.nMin = 0;
        si.nMax = pageHeight;
        si.nPage = static_cast<UINT>(r.bottom);
        si.nPos = scroll;
        SetScrollInfo(page, SB_VERT, &si, TRUE);
    }

    void ScrollBy(int dy)
    {
        RECT r;
        GetClientRect(page, &r);
        int limit = std::max(0, pageHeight - static_cast<int>(r.bottom));
        int next = std::clamp(scroll + dy, 0, limit);
        if (next == scroll)
            return;
        ScrollWindowEx(
            page, 0, scroll - next, nullptr, nullptr, nullptr, nullptr, SW_SCROLLCHILDREN | SW_INVALIDATE | SW_ERASE);
        scroll = next;
        UpdateScrollBar();
    }

    // Brings a control into view (the focus moved to it, or a check failed on it).
    void ScrollTo(HWND w)
    {
        if (!layout.scrolls || !w)
            return;
        RECT c, r;
        GetWindowRect(w, &c);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&c), 2);
        GetClientRect(page, &r);
        if (c.top < 0)
            ScrollBy(c.top - 8);
        else if (c.bottom > r.bottom)
            ScrollBy(c.bottom - r.bottom + 8);
    }
};

CfgPageWin::CfgPageWin(HWND page, CfgDescription& desc, const std::vector<CfgItem*>& items,
    const CfgLayoutOptions& options, const CfgPageTexts& texts, CfgTableEntryDialog tableEntry)
    : impl_(std::make_unique<Impl>())
{
    impl_->page = page;
    impl_->desc = &desc;
    impl_->texts = texts;
    impl_->tableEntry = std::move(tableEntry);
    impl_->Build(items, options);
    Fill();
}

namespace {
std::vector<CfgItem*> SectionItems(CfgSection& section)
{
    std::vector<CfgItem*> items;
    for (CfgItemPtr& item : section.items)
        items.push_back(item.get());
    return items;
}
} // namespace

CfgPageWin::CfgPageWin(HWND page, CfgDescription& desc, CfgSection& section, const CfgLayoutOptions& options,
    const CfgPageTexts& texts, CfgTableEntryDialog tableEntry)
    : CfgPageWin(page, desc, SectionItems(section), options, texts, std::move(tableEntry))
{
}

namespace {
constexpr UINT_PTR kClockTimer = 0x7C10;
constexpr char kClockProp[] = "CfgPageClock";

void CALLBACK ClockTimer(HWND page, UINT, UINT_PTR, DWORD)
{
    if (auto* impl = static_cast<CfgPageWin::Impl*>(GetPropA(page, kClockProp)))
        impl->ClockTick();
}
} // namespace

void CfgPageWin::ShowDeviceClock(const std::string& clockText)
{
    Impl& m = *impl_;
    m.deviceClock = clockText;
    m.clockShownAt = GetTickCount();
    bool shown = false;
    m.filling = true;
    for (ItemCtl& c : m.items)
        if (c.main && !c.changed && m.ShowDeviceClock(c)) {
            c.filled = c.taken = m.Current(c);
            shown = true;
        }
    m.filling = false;
    if (shown) {
        SetPropA(m.page, kClockProp, impl_.get());
        SetTimer(m.page, kClockTimer, 1000, ClockTimer);
    }
}

CfgPageWin::~CfgPageWin()
{
    if (GetPropA(impl_->page, kClockProp)) {
        KillTimer(impl_->page, kClockTimer);
        RemovePropA(impl_->page, kClockProp);
    }
    if (impl_->bold)
        DeleteObject(impl_->bold);
}

void CfgPageWin::Fill()
{
    impl_->filling = true;
    for (ItemCtl& c : impl_->items)
        if (c.main) {
            impl_->FillItem(c);
            c.filled = impl_->Current(c);
            c.taken = c.filled;
        }
    impl_->filling = false;
    impl_->changedAny = false;
    UpdateStates();
}

void CfgPageWin::UpdateStates()
{
    impl_->UpdateStates();
}

bool CfgPageWin::Changed() const
{
    for (ItemCtl& c : impl_->items)
        if (c.main && !c.item->IsTable() && c.item->kind != CfgKindReadonlyText && impl_->Current(c) != c.filled)
            return true;
    return impl_->changedAny;
}

HWND CfgPageWin::ControlOf(const CfgItem* item) const
{
    ItemCtl* c = impl_->Find(item);
    return c ? c->main : nullptr;
}

const CfgPageLayout& CfgPageWin::Layout() const
{
    return impl_->layout;
}

bool CfgPageWin::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    Impl& m = *impl_;
    *result = 0;
    switch (message) {
    case WM_COMMAND: {
        HWND w = reinterpret_cast<HWND>(lParam);
        UINT code = HIWORD(wParam);
        for (ItemCtl& c : m.items)
            for (auto& [button, b] : c.buttons)
                if (button == w && code == BN_CLICKED) {
                    m.TableButton(c, b);
                    return true;
                }
        ItemCtl* c = m.FindByWindow(w);
        if (!c)
            return false;
        if (w == c->everyYearBox && code == BN_CLICKED) {
            c->everyYear = SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
            m.ShowEveryYear(*c);
        }
        if (code == EN_CHANGE || code == BN_CLICKED || code == CBN_SELCHANGE || code == CBN_EDITCHANGE)
            m.Changed(*c);
        if (code == EN_SETFOCUS || code == BN_SETFOCUS || code == CBN_SETFOCUS)
            m.ScrollTo(w);
        return true;
    }
    case WM_NOTIFY: {
        const NMHDR* h = reinterpret_cast<const NMHDR*>(lParam);
        ItemCtl* c = m.FindByWindow(h->hwndFrom);
        if (!c) {
            // The address control's fields report through their parent: the address control.
            for (ItemCtl& ic : m.items)
                if (ic.main && (h->hwndFrom == ic.main || GetParent(h->hwndFrom) == ic.main))
                    c = &ic;
        }
        if (!c)
            return false;
        if (h->code == IPN_FIELDCHANGED || h->code == DTN_DATETIMECHANGE)
            m.Changed(*c);
        if (h->code == UDN_DELTAPOS && c->buddy == h->hwndFrom) {
            const NMUPDOWN* ud = reinterpret_cast<const NMUPDOWN*>(lParam);
            m.Spin(*c, -ud->iDelta); // the arrow up gives a negative delta
            *result = 1;
            return true;
        }
        if (c->item->IsTable()) {
            if (h->code == LVN_ITEMCHANGED)
                m.UpdateStates();
            if (h->code == NM_DBLCLK)
                m.TableButton(*c, CfgTableEdit);
        }
        return true;
    }
    case WM_HSCROLL: {
        ItemCtl* c = m.FindByWindow(reinterpret_cast<HWND>(lParam));
        if (!c)
            return false;
        m.Changed(*c);
        return true;
    }
    case WM_VSCROLL: {
        if (lParam || !m.layout.scrolls)
            return false;
        RECT r;
        GetClientRect(m.page, &r);
        int line = 16, pageStep = r.bottom - 16;
        switch (LOWORD(wParam)) {
        case SB_LINEUP:
            m.ScrollBy(-line);
            break;
        case SB_LINEDOWN:
            m.ScrollBy(line);
            break;
        case SB_PAGEUP:
            m.ScrollBy(-pageStep);
            break;
        case SB_PAGEDOWN:
            m.ScrollBy(pageStep);
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            m.ScrollBy(static_cast<int>(HIWORD(wParam)) - m.scroll);
            break;
        default:
            break;
        }
        return true;
    }
    case WM_MOUSEWHEEL:
        if (!m.layout.scrolls)
            return false;
        m.ScrollBy(-GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 24);
        return true;
    default:
        return false;
    }
}

bool CfgPageWin::Take(HWND owner)
{
    Impl& m = *impl_;
    for (size_t k = 0; k < m.items.size(); ++k) {
        ItemCtl& c = m.items[k];
        if (!c.main || c.item->IsTable() || c.item->kind == CfgKindReadonlyText)
            continue;
        // An untouched control of a time period still takes part: its partner may have moved.
        bool period = c.item->kind == CfgKindEntryTime && c.item->Number(CfgAttrLowerBuddy);
        if (!c.changed && m.Current(c) != c.taken)
            c.changed = true;
        if (!c.changed && !period)
            continue;
        CfgControlState state = m.State(c);
        CfgControlState partner;
        CfgTakeContext context;
        if (period && k + 1 < m.items.size() && m.items[k + 1].item->kind == CfgKindEntryTime) {
            partner = m.State(m.items[k + 1]);
            context.periodPartner = &partner;
        }
        if (!c.changed) {
            // Only the period check: the untouched value itself is not taken again.
            CfgControlState copy = state;
            if (!context.periodPartner)
                continue;
            CfgTakeResult r = CfgTakeValue(*m.desc, *c.item, copy, CfgAnswers {}, context);
            if (r.status == CfgTakeStatus::Rejected && !r.message.empty()) {
                MessageBoxA(owner, r.message.c_str(), r.title.c_str(), MB_OK | MB_ICONEXCLAMATION);
                m.Focus(r.focus ? r.focus : c.item);
                return false;
            }
            continue;
        }
        CfgAnswers answers;
        for (;;) {
            CfgTakeResult r = CfgTakeValue(*m.desc, *c.item, state, answers, context);
            if (r.status == CfgTakeStatus::Taken || r.status == CfgTakeStatus::Kept) {
                c.changed = false;
                c.taken = m.Current(c);
                break;
            }
            if (r.status == CfgTakeStatus::Reset) {
                m.Reset(c);
                c.changed = false;
                c.taken = m.Current(c);
                break;
            }
            if (r.status == CfgTakeStatus::Rejected) {
                if (!r.message.empty())
                    MessageBoxA(owner, r.message.c_str(), r.title.c_str(), MB_OK | MB_ICONEXCLAMATION);
                m.Focus(r.focus ? r.focus : c.item);
                return false;
            }
            if (r.status == CfgTakeStatus::Ask) {
                bool yes = MessageBoxA(owner, r.message.c_str(), r.title.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
                if (r.messageId == CfgStrDevicesDiffer)
                    answers.changeAll = yes;
                else
                    answers.keepInput = yes;
                continue;
            }
            if (r.status == CfgTakeStatus::RepeatWrong) {
                MessageBoxA(owner, r.message.c_str(), r.title.c_str(), MB_OK | MB_ICONSTOP);
                answers.repeated.reset();
                continue;
            }
            if (r.status == CfgTakeStatus::AskRepeat) {
                std::string again;
                if (CfgRepeatDialog(owner, r.caption, m.texts, &again))
                    answers.repeated = again;
                else
                    answers.repeatCancelled = true;
                continue;
            }
            break;
        }
    }
    return true;
}

// ---- in-memory dialogs

std::vector<WORD> CfgDialogTemplate(int width, int height, const std::string& caption, DWORD style)
{
    std::vector<WORD> t;
    auto dword = [&](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto text = [&](const std::string& s) {
        int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
        std::wstring w(static_cast<size_t>(std::max(n, 1)), L'\0');
        MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
        for (wchar_t c : w)
            t.push_back(static_cast<WORD>(c));
        if (w.empty() || w.back() != L'\0')
            t.push_back(0);
    };
    dword(style | DS_SETFONT);
    dword(0); // extended style
    t.push_back(0); // no controls: the page builder adds them
    t.push_back(0);
    t.push_back(0);
    t.push_back(static_cast<WORD>(width));
    t.push_back(static_cast<WORD>(height));
    t.push_back(0); // no menu
    t.push_back(0); // standard class
    text(caption);
    t.push_back(8);
    text("MS Shell Dlg");
    return t;
}

namespace {
struct RepeatData {
    std::string caption;
    const CfgPageTexts* texts;
    std::string text;
};

constexpr int kRepeatEdit = 100;

INT_PTR CALLBACK RepeatProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* data = reinterpret_cast<RepeatData*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        data = reinterpret_cast<RepeatData*>(lParam);
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        CfgDialogControl(d, "STATIC", data->texts->repeatLabel, SS_LEFT, -1, { 7, 7, 193, 17 });
        HWND edit = CfgDialogControl(
            d, "EDIT", "", WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, kRepeatEdit, { 7, 19, 193, 31 });
        SendMessageA(edit, EM_LIMITTEXT, 255, 0);
        CfgDialogButtons(d, *data->texts, 193, 38);
        SetFocus(edit);
        return FALSE;
    }
    case WM_COMMAND:
        return CfgDialogOkCancel(d, wParam, [&] {
            data->text = WindowText(GetDlgItem(d, kRepeatEdit));
            return true;
        });
    default:
        return FALSE;
    }
}
} // namespace

HWND CfgDialogControl(HWND dialog, const char* cls, const std::string& text, DWORD style, int id, RECT r, DWORD exStyle)
{
    MapDialogRect(dialog, &r);
    HWND w = CreateWindowExA(exStyle, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
        r.bottom - r.top, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)), nullptr);
    SendMessageA(w, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), 0);
    return w;
}

void CfgDialogButtons(HWND dialog, const CfgPageTexts& texts, int right, int top)
{
    CfgDialogControl(
        dialog, "BUTTON", texts.ok, WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK, { right - 104, top, right - 54, top + 14 });
    CfgDialogControl(
        dialog, "BUTTON", texts.cancel, WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL, { right - 50, top, right, top + 14 });
}

BOOL CfgDialogOkCancel(HWND dialog, WPARAM wParam, const std::function<bool()>& ok)
{
    if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
        if (!ok || ok())
            EndDialog(dialog, IDOK);
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

bool CfgRepeatDialog(HWND owner, const std::string& caption, const CfgPageTexts& texts, std::string* text)
{
    RepeatData data { caption, &texts, {} };
    std::vector<WORD> t
        = CfgDialogTemplate(200, 59, caption, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    INT_PTR r = DialogBoxIndirectParamA(
        instance, reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), owner, RepeatProc, reinterpret_cast<LPARAM>(&data));
    if (r != IDOK)
        return false;
    *text = data.text;
    return true;
}
