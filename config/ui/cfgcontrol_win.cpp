#include "config/ui/cfgcontrol_win.h"

#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/store/cfg_store.h"

#include <commctrl.h>

namespace {
// A picture of the user's locale settings.
std::string UserPicture(LCTYPE type)
{
    char buffer[128] = {};
    GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return buffer;
}

// The subclass of a filtered edit field: `data` is its item.
LRESULT CALLBACK FilterProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data)
{
    if (message == WM_CHAR && wParam >= 32 && wParam != 127) {
        const CfgItem* item = reinterpret_cast<const CfgItem*>(data);
        char c = static_cast<char>(wParam);
        if (item->Number(CfgAttrConvertToUpper) || item->kind == CfgKindEntryHex)
            c = AsciiUpper(c);
        if (!CfgCheckText(*item, c, "")) {
            MessageBeep(MB_OK);
            return 0;
        }
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(w, FilterProc, id);
    return DefSubclassProc(w, message, wParam, lParam);
}
} // namespace

void CfgFilterTyping(HWND edit, const CfgItem& item)
{
    SetWindowSubclass(edit, FilterProc, 1, reinterpret_cast<DWORD_PTR>(&item));
}

const char* CfgControlClass(CfgCtl control)
{
    switch (control) {
    case CfgCtl::GroupBox:
    case CfgCtl::Radio:
    case CfgCtl::CheckBox:
    case CfgCtl::Button:
        return "BUTTON";
    case CfgCtl::Edit:
        return "EDIT";
    case CfgCtl::IpAddress:
        return WC_IPADDRESSA;
    case CfgCtl::UpDown:
        return UPDOWN_CLASSA;
    case CfgCtl::Date:
    case CfgCtl::Time:
        return DATETIMEPICK_CLASSA;
    case CfgCtl::TrackBar:
        return TRACKBAR_CLASSA;
    case CfgCtl::DropList:
    case CfgCtl::Combo:
        return "COMBOBOX";
    case CfgCtl::ListView:
        return WC_LISTVIEWA;
    default:
        return "STATIC";
    }
}

DWORD CfgControlStyle(const CfgLayoutControl& c)
{
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (c.flags & CfgCtlTabStop)
        style |= WS_TABSTOP;
    if (c.flags & CfgCtlGroupStart)
        style |= WS_GROUP;
    switch (c.control) {
    case CfgCtl::GroupBox:
        return style | BS_GROUPBOX;
    case CfgCtl::Logo:
    case CfgCtl::Icon:
        return style | SS_ICON;
    case CfgCtl::Separator:
        return style | SS_ETCHEDHORZ;
    case CfgCtl::Text:
        return style | SS_LEFT | SS_NOPREFIX;
    case CfgCtl::Edit:
        style |= ES_AUTOHSCROLL;
        if (c.flags & CfgCtlReadOnly)
            style |= ES_READONLY;
        if (c.flags & CfgCtlPassword)
            style |= ES_PASSWORD;
        if (c.flags & CfgCtlUpper)
            style |= ES_UPPERCASE;
        if (c.flags & CfgCtlRightAlign)
            style |= ES_RIGHT;
        return style;
    case CfgCtl::UpDown:
        return style | UDS_ARROWKEYS | UDS_ALIGNRIGHT;
    case CfgCtl::Date:
        return style | DTS_SHORTDATEFORMAT;
    case CfgCtl::Time:
        return style | DTS_TIMEFORMAT | DTS_UPDOWN;
    case CfgCtl::TrackBar:
        return style | TBS_HORZ | TBS_AUTOTICKS;
    case CfgCtl::Radio:
        return style | BS_AUTORADIOBUTTON;
    case CfgCtl::CheckBox:
        return style | ((c.flags & CfgCtlThreeState) ? BS_AUTO3STATE : BS_AUTOCHECKBOX);
    case CfgCtl::DropList:
        return style | WS_VSCROLL | CBS_DROPDOWNLIST | ((c.flags & CfgCtlSorted) ? CBS_SORT : 0);
    case CfgCtl::Combo:
        return style | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL | ((c.flags & CfgCtlSorted) ? CBS_SORT : 0)
            | ((c.flags & CfgCtlUpper) ? CBS_UPPERCASE : 0);
    case CfgCtl::ListView:
        return style | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
    case CfgCtl::Button:
        return style | BS_PUSHBUTTON;
    default:
        return style;
    }
}

HICON CfgStandardIcon(int number)
{
    LPCSTR id = number == 1 ? IDI_HAND : number == 2 ? IDI_QUESTION : number == 3 ? IDI_EXCLAMATION : IDI_ASTERISK;
    return LoadIconA(nullptr, id);
}

std::string CfgTimePicture(bool seconds)
{
    std::string p = UserPicture(LOCALE_STIMEFORMAT);
    if (p.empty())
        p = "HH:mm:ss";
    if (!seconds) {
        size_t s = p.find('s');
        if (s != std::string::npos) {
            size_t from = s;
            while (from > 0 && p[from - 1] != 'm' && p[from - 1] != 'h' && p[from - 1] != 'H')
                --from;
            size_t to = s;
            while (to < p.size() && p[to] == 's')
                ++to;
            p.erase(from, to - from);
        }
    }
    return p;
}

std::string CfgEveryYearSwitchText(const std::string& literal)
{
    std::string text;
    for (char ch : literal)
        if (ch != '\'')
            text += ch;
    return text;
}

std::string CfgEveryYearPicture(const std::string& literal)
{
    std::string p = UserPicture(LOCALE_SSHORTDATE);
    std::string out;
    for (size_t k = 0; k < p.size();) {
        if (p[k] == 'y') {
            while (k < p.size() && p[k] == 'y')
                ++k;
            out += literal;
        } else {
            out += p[k++];
        }
    }
    return out;
}
