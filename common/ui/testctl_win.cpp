#include "common/ui/testctl_win.h"

#include "common/text.h"

#include <commctrl.h>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr UINT kRunMessage = WM_APP + 0x3A0;
constexpr UINT kIdleMessage = WM_APP + 0x3A1;
const char kControlClass[] = "TestControlWindowClass";

struct Channel {
    TestCtlHooks hooks;
    HWND window = nullptr;
    TestCtlServer server;
};
Channel* g_channel;

struct Call {
    const TestCtlCommand* command;
    std::string answer;
};

std::string ClassOf(HWND w)
{
    char name[128] = {};
    GetClassNameA(w, name, sizeof name);
    return name;
}

std::string TextOf(HWND w)
{
    int length = GetWindowTextLengthA(w);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowTextA(w, text.data(), length + 1);
    text.resize(strlen(text.c_str()));
    return text;
}

bool Is(const std::string& cls, const char* name)
{
    return StrEqualNoCase(cls, name);
}

std::string KindOf(HWND w)
{
    std::string cls = ClassOf(w);
    if (Is(cls, "Button")) {
        LONG type = GetWindowLongA(w, GWL_STYLE) & BS_TYPEMASK;
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE)
            return "checkbox";
        if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
            return "radio";
        if (type == BS_GROUPBOX)
            return "static";
        return "button";
    }
    if (Is(cls, "Edit") || Is(cls, "RichEdit20A") || Is(cls, WC_IPADDRESSA))
        return "edit";
    if (Is(cls, "Static"))
        return "static";
    if (Is(cls, "ListBox"))
        return "list";
    if (Is(cls, "ComboBox") || Is(cls, WC_COMBOBOXEXA))
        return "combo";
    if (Is(cls, WC_LISTVIEWA))
        return "listview";
    if (Is(cls, WC_TREEVIEWA))
        return "tree";
    if (Is(cls, WC_TABCONTROLA))
        return "tab";
    return "other";
}

// The controls of a window in tab order; the visible child dialogs (a property sheet's page, a file
// dialog's own part) and a file dialog's folder view (holding the list of files) are entered, hidden
// ones are left out.
void Collect(HWND parent, std::vector<HWND>* out)
{
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (!IsWindowVisible(c))
            continue;
        std::string cls = ClassOf(c);
        if (cls == "#32770" || cls == "SHELLDLL_DefView") {
            Collect(c, out);
            continue;
        }
        out->push_back(c);
    }
}

int IdOf(HWND w)
{
    return static_cast<int>(static_cast<short>(GetDlgCtrlID(w) & 0xFFFF));
}

HWND ActiveWindow()
{
    HWND active = GetActiveWindow();
    if (active && IsWindowVisible(active))
        return active;
    HWND main = g_channel->hooks.mainWindow ? g_channel->hooks.mainWindow() : nullptr;
    return main;
}

// The control with the id. Where two share it (a file dialog's list of files and its Open button are
// both 1), `pick` takes the one with entries and the other commands the one without.
HWND FindControl(HWND top, int id, bool entries)
{
    std::vector<HWND> controls;
    Collect(top, &controls);
    HWND first = nullptr;
    for (HWND c : controls) {
        if (IdOf(c) != id)
            continue;
        std::string kind = KindOf(c);
        bool hasEntries = kind == "list" || kind == "combo" || kind == "listview" || kind == "tab";
        if (hasEntries == entries)
            return c;
        if (!first)
            first = c;
    }
    return first;
}

std::vector<std::string> Entries(HWND w, const std::string& kind)
{
    std::vector<std::string> lines;
    char buffer[1024];
    if (kind == "list") {
        int n = static_cast<int>(SendMessageA(w, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            if (SendMessageA(w, LB_GETTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof buffer))
                continue;
            buffer[0] = 0;
            SendMessageA(w, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer));
            lines.push_back("\t" + TestCtlEscape(buffer));
        }
    } else if (kind == "combo") {
        int n = static_cast<int>(SendMessageA(w, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            if (SendMessageA(w, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof buffer))
                continue;
            buffer[0] = 0;
            SendMessageA(w, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
            lines.push_back("\t" + TestCtlEscape(buffer));
        }
    } else if (kind == "listview") {
        HWND header = reinterpret_cast<HWND>(SendMessageA(w, LVM_GETHEADER, 0, 0));
        int columns = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
        if (columns < 1)
            columns = 1;
        int n = static_cast<int>(SendMessageA(w, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            std::string line;
            for (int c = 0; c < columns; ++c) {
                LVITEMA item {};
                item.iSubItem = c;
                item.pszText = buffer;
                item.cchTextMax = sizeof buffer;
                buffer[0] = 0;
                SendMessageA(w, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
                line += "\t" + TestCtlEscape(buffer);
            }
            lines.push_back(line);
        }
    } else if (kind == "tab") {
        int n = static_cast<int>(SendMessageA(w, TCM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            TCITEMA item {};
            item.mask = TCIF_TEXT;
            item.pszText = buffer;
            item.cchTextMax = sizeof buffer;
            buffer[0] = 0;
            SendMessageA(w, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
            lines.push_back("\t" + TestCtlEscape(TestCtlLabel(buffer)));
        }
    }
    return lines;
}

// The visible top-level windows of one process, as EnumWindows lists them.
struct Found {
    DWORD pid;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectVisible(HWND w, LPARAM p)
{
    auto* f = reinterpret_cast<Found*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == f->pid && IsWindowVisible(w))
        f->windows.push_back(w);
    return TRUE;
}

std::string Windows()
{
    Found found { GetCurrentProcessId(), {} };
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&found));
    HWND active = ActiveWindow();
    std::vector<std::string> lines;
    auto line = [](HWND w) {
        return TestCtlHandle(reinterpret_cast<uintptr_t>(w)) + "\t" + ClassOf(w) + "\t" + TestCtlEscape(TextOf(w));
    };
    for (HWND w : found.windows)
        if (w == active)
            lines.push_back(line(w));
    for (HWND w : found.windows)
        if (w != active)
            lines.push_back(line(w));
    return TestCtlOkLines(lines);
}

std::string Controls(const std::string& rest)
{
    HWND top = rest.empty() ? ActiveWindow() : reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    if (!top || !IsWindow(top))
        return TestCtlError("no such window");
    std::vector<HWND> controls;
    Collect(top, &controls);
    std::vector<std::string> lines;
    for (HWND c : controls) {
        std::string kind = KindOf(c);
        std::string state = IsWindowEnabled(c) ? "e" : "d";
        if ((kind == "checkbox" || kind == "radio") && SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED)
            state += "c";
        std::string text = kind == "edit" || kind == "combo" ? TextOf(c) : TestCtlLabel(TextOf(c));
        lines.push_back(
            std::to_string(IdOf(c)) + "\t" + ClassOf(c) + "\t" + kind + "\t" + state + "\t" + TestCtlEscape(text));
        for (std::string& entry : Entries(c, kind))
            lines.push_back(std::move(entry));
    }
    return TestCtlOkLines(lines);
}

// A menu item by the path of its English texts; *id receives its command.
std::string FindMenuItem(HWND owner, HMENU menu, const std::string& path, UINT* id)
{
    size_t pos = 0;
    while (menu) {
        size_t bar = path.find('|', pos);
        std::string want = path.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
        int count = GetMenuItemCount(menu);
        int found = -1;
        for (int i = 0; i < count && found < 0; ++i) {
            char text[256] = {};
            GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            if (TestCtlMenuText(text) == want)
                found = i;
        }
        if (found < 0)
            return "no menu item " + want;
        UINT state = GetMenuState(menu, static_cast<UINT>(found), MF_BYPOSITION);
        HMENU sub = GetSubMenu(menu, found);
        if (sub) {
            // What a user's opening of the menu does: the program brings its items up to date.
            SendMessageA(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), found);
            if (bar == std::string::npos)
                return "not a command: " + want;
            menu = sub;
            pos = bar + 1;
            continue;
        }
        if (state & (MF_GRAYED | MF_DISABLED))
            return "disabled: " + want;
        *id = GetMenuItemID(menu, found);
        return "";
    }
    return "no menu";
}

// The state of a command in the menu bar (searched through every submenu): -1 not there, 0 disabled,
// 1 enabled.
int MenuCommandState(HWND owner, HMENU menu, UINT id)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub) {
            SendMessageA(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), i);
            int s = MenuCommandState(owner, sub, id);
            if (s >= 0)
                return s;
        } else if (GetMenuItemID(menu, i) == id) {
            return (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED)) ? 0 : 1;
        }
    }
    return -1;
}

void Notify(HWND control, WORD code)
{
    SendMessageA(
        GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code), reinterpret_cast<LPARAM>(control));
}

// A date-time picker set as a user would: "D.M.YYYY", "hh:mm[:ss]" or both, then the change notice.
std::string SetPicker(HWND c, const std::string& text)
{
    SYSTEMTIME st {};
    if (SendMessageA(c, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)) != GDT_VALID)
        GetLocalTime(&st);
    unsigned a = 0, b = 0, y = 0, h = 0, m = 0, sec = 0;
    std::string date, time;
    for (const std::string& part : TestCtlWords(text))
        (part.find('.') != std::string::npos ? date : time) = part;
    if (!date.empty()) {
        if (sscanf(date.c_str(), "%u.%u.%u", &a, &b, &y) != 3)
            return TestCtlError("bad date " + date);
        st.wDay = static_cast<WORD>(a);
        st.wMonth = static_cast<WORD>(b);
        st.wYear = static_cast<WORD>(y);
    }
    if (!time.empty()) {
        if (sscanf(time.c_str(), "%u:%u:%u", &h, &m, &sec) < 2)
            return TestCtlError("bad time " + time);
        st.wHour = static_cast<WORD>(h);
        st.wMinute = static_cast<WORD>(m);
        st.wSecond = static_cast<WORD>(sec);
    }
    if (!SendMessageA(c, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&st)))
        return TestCtlError("the picker refused " + text);
    NMDATETIMECHANGE change {};
    change.nmhdr = { c, static_cast<UINT_PTR>(GetDlgCtrlID(c)), DTN_DATETIMECHANGE };
    change.dwFlags = GDT_VALID;
    change.st = st;
    SendMessageA(GetParent(c), WM_NOTIFY, change.nmhdr.idFrom, reinterpret_cast<LPARAM>(&change));
    return TestCtlOk();
}

std::string Pick(HWND c, const std::string& text)
{
    std::string kind = KindOf(c);
    if (kind == "list") {
        LRESULT i
            = SendMessageA(c, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
        if (i == LB_ERR)
            return TestCtlError("no entry " + text);
        LONG style = GetWindowLongA(c, GWL_STYLE);
        if (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) {
            SendMessageA(c, LB_SETSEL, FALSE, -1);
            SendMessageA(c, LB_SETSEL, TRUE, i);
        } else {
            SendMessageA(c, LB_SETCURSEL, i, 0);
        }
        Notify(c, LBN_SELCHANGE);
        return TestCtlOk();
    }
    if (kind == "combo") {
        LRESULT i
            = SendMessageA(c, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
        if (i == CB_ERR)
            return TestCtlError("no entry " + text);
        SendMessageA(c, CB_SETCURSEL, i, 0);
        Notify(c, CBN_SELCHANGE);
        return TestCtlOk();
    }
    if (kind == "listview") {
        int n = static_cast<int>(SendMessageA(c, LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char buffer[512] = {};
            LVITEMA item {};
            item.pszText = buffer;
            item.cchTextMax = sizeof buffer;
            SendMessageA(c, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            if (text != buffer)
                continue;
            LVITEMA state {};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = 0;
            SendMessageA(c, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
            state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(c, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
            SendMessageA(c, LVM_ENSUREVISIBLE, i, FALSE);
            return TestCtlOk();
        }
        return TestCtlError("no entry " + text);
    }
    if (kind == "tab") {
        int n = static_cast<int>(SendMessageA(c, TCM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; ++i) {
            char buffer[256] = {};
            TCITEMA item {};
            item.mask = TCIF_TEXT;
            item.pszText = buffer;
            item.cchTextMax = sizeof buffer;
            SendMessageA(c, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
            if (TestCtlLabel(buffer) != text)
                continue;
            HWND parent = GetParent(c);
            // A property sheet turns its page itself; another tab control tells its parent.
            if (SendMessageA(parent, PSM_GETTABCONTROL, 0, 0) == reinterpret_cast<LRESULT>(c)) {
                SendMessageA(parent, PSM_SETCURSEL, i, 0);
            } else {
                NMHDR hdr { c, static_cast<UINT_PTR>(GetDlgCtrlID(c)), TCN_SELCHANGING };
                SendMessageA(parent, WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
                SendMessageA(c, TCM_SETCURSEL, i, 0);
                hdr.code = TCN_SELCHANGE;
                SendMessageA(parent, WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
            }
            return TestCtlOk();
        }
        return TestCtlError("no entry " + text);
    }
    return TestCtlError("not a list");
}

// "ID TEXT": the id and the rest (empty when only the id is given).
bool IdAndText(const std::string& rest, int* id, std::string* text)
{
    size_t blank = rest.find(' ');
    std::string number = rest.substr(0, blank);
    char* end = nullptr;
    long v = strtol(number.c_str(), &end, 10);
    if (number.empty() || *end)
        return false;
    *id = static_cast<int>(v);
    *text = blank == std::string::npos ? std::string() : TestCtlUnescape(rest.substr(blank + 1));
    return true;
}

// "command ID": the main window's menu command, refused while the menu shows it disabled.
std::string RunCommand(HWND main, const std::string& rest)
{
    char* end = nullptr;
    long id = strtol(rest.c_str(), &end, 10);
    if (rest.empty() || *end || id <= 0 || id > 0xFFFF)
        return TestCtlError("bad command id");
    if (!main)
        return TestCtlError("no main window");
    if (HMENU menu = GetMenu(main); menu && MenuCommandState(main, menu, static_cast<UINT>(id)) == 0)
        return TestCtlError("disabled: " + rest);
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return TestCtlOk();
}

// "menu PATH": the main window's menu item by its texts.
std::string RunMenu(HWND main, const std::string& rest)
{
    if (!main || !GetMenu(main))
        return TestCtlError("no main window");
    UINT id = 0;
    std::string error = FindMenuItem(main, GetMenu(main), rest, &id);
    if (!error.empty())
        return TestCtlError(error);
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return TestCtlOk();
}

// "key ID NAME": a key pressed and released on a control, as the keyboard sends it to the control with
// the focus ("space", "up", "down", "return", or the virtual-key number).
std::string RunKey(const std::string& rest)
{
    int id = 0;
    std::string name;
    if (!IdAndText(rest, &id, &name))
        return TestCtlError("bad control id");
    HWND top = ActiveWindow();
    HWND control = top ? FindControl(top, id, false) : nullptr;
    if (!control)
        return TestCtlError("no control " + std::to_string(id));
    UINT vk = name == "space" ? VK_SPACE
        : name == "up"        ? VK_UP
        : name == "down"      ? VK_DOWN
        : name == "return"    ? VK_RETURN
                              : static_cast<UINT>(strtoul(name.c_str(), nullptr, 10));
    if (vk == 0 || vk > 0xFE)
        return TestCtlError("bad key " + name);
    SetFocus(control);
    SendMessageA(control, WM_KEYDOWN, vk, 1);
    SendMessageA(control, WM_KEYUP, vk, 1 | 0xC0000000u);
    return TestCtlOk();
}

// "picker ID": the moment a date-time picker holds ("D.M.YYYY hh:mm:ss"); "limit ID": the most
// characters an edit field (or a combo box's edit) takes; "limit focus": that of the field with the
// focus (a list's label being edited).
std::string RunPickerOrLimit(const std::string& verb, const std::string& rest)
{
    int id = 0;
    std::string text;
    bool focus = verb == "limit" && rest == "focus";
    if (!focus && !IdAndText(rest, &id, &text))
        return TestCtlError("bad control id");
    HWND top = ActiveWindow();
    HWND control = focus ? GetFocus() : top ? FindControl(top, id, false) : nullptr;
    if (!control)
        return TestCtlError("no control " + std::to_string(id));
    if (verb == "picker") {
        SYSTEMTIME st {};
        if (!Is(ClassOf(control), DATETIMEPICK_CLASSA)
            || SendMessageA(control, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&st)) != GDT_VALID)
            return TestCtlError("no moment");
        return TestCtlOkLines(
            { StrFormat("%u.%u.%u %02u:%02u:%02u", st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute, st.wSecond) });
    }
    HWND edit = Is(ClassOf(control), "ComboBox") ? FindWindowExA(control, nullptr, "Edit", nullptr) : control;
    if (!edit || !Is(ClassOf(edit), "Edit"))
        return TestCtlError("not an edit field");
    return TestCtlOkLines({ std::to_string(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0)) });
}

// "set ID TEXT": the control's text as a user would type it, with the notice the control then sends.
std::string SetControl(HWND control, const std::string& text)
{
    std::string kind = KindOf(control);
    // CR LF is the line break of a multi-line edit box.
    std::string value;
    for (char ch : text)
        value += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    if (Is(ClassOf(control), DATETIMEPICK_CLASSA))
        return SetPicker(control, text);
    if (Is(ClassOf(control), WC_IPADDRESSA)) {
        // The fields as typed, then the change notice the control sends.
        unsigned a = 0, b = 0, c3 = 0, d = 0;
        if (text.empty())
            SendMessageA(control, IPM_CLEARADDRESS, 0, 0);
        else if (sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c3, &d) == 4)
            SendMessageA(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(a, b, c3, d)));
        else
            return TestCtlError("bad address " + text);
        Notify(control, EN_CHANGE);
        return TestCtlOk();
    }
    SetWindowTextA(control, value.c_str());
    if (kind == "combo")
        Notify(control, CBN_EDITCHANGE);
    else if (kind == "edit" && (GetWindowLongA(control, GWL_STYLE) & ES_MULTILINE))
        Notify(control, EN_CHANGE);
    return TestCtlOk();
}

// "check ID 0|1": a check box or radio button brought to the state by a user's click.
std::string CheckControl(HWND control, const std::string& text)
{
    if (text != "0" && text != "1")
        return TestCtlError("check takes 0 or 1");
    bool want = text == "1";
    bool now = SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (want != now) {
        if (KindOf(control) == "radio" && !want)
            return TestCtlError("a radio button is cleared by checking another");
        // A user's click: the button changes its state and tells its parent.
        SendMessageA(control, BM_CLICK, 0, 0);
    }
    return TestCtlOk();
}

// "set", "check", "pick" and "press" on a control of the active window. A press is posted, so that a
// button opening a modal dialog does not hold the channel.
std::string RunOnControl(const std::string& verb, const std::string& rest)
{
    int id = 0;
    std::string text;
    if (!IdAndText(rest, &id, &text))
        return TestCtlError("bad control id");
    HWND top = ActiveWindow();
    HWND control = top ? FindControl(top, id, verb == "pick") : nullptr;
    if (!control)
        return TestCtlError("no control " + std::to_string(id));
    if (verb == "set")
        return SetControl(control, text);
    if (verb == "check")
        return CheckControl(control, text);
    if (verb == "pick")
        return Pick(control, text);
    if (!IsWindowEnabled(control))
        return TestCtlError("disabled: " + std::to_string(id));
    PostMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
        reinterpret_cast<LPARAM>(control));
    return TestCtlOk();
}

// "shot FILE": the active window; "shot HANDLE FILE": that one (a window shown without activation, a
// progress window beside the active one).
std::string RunShot(std::string rest)
{
    HWND top = nullptr;
    size_t blank = rest.find(' ');
    if (rest.rfind("0x", 0) == 0 && blank != std::string::npos) {
        top = reinterpret_cast<HWND>(TestCtlParseHandle(rest.substr(0, blank)));
        if (!top || !IsWindow(top))
            return TestCtlError("no such window");
        rest.erase(0, blank + 1);
    } else {
        top = ActiveWindow();
    }
    if (!top)
        return TestCtlError("no window");
    std::string file = TestCtlUnescape(rest);
    if (file.empty())
        return TestCtlError("no file name");
    return SaveWindowBitmap(top, file) ? TestCtlOk() : TestCtlError("cannot write " + file);
}

std::string Run(const TestCtlCommand& c)
{
    const std::string& v = c.verb;
    HWND main = g_channel->hooks.mainWindow ? g_channel->hooks.mainWindow() : nullptr;
    if (v == "windows")
        return Windows();
    if (v == "controls")
        return Controls(c.rest);
    if (v == "command")
        return RunCommand(main, c.rest);
    if (v == "menu")
        return RunMenu(main, c.rest);
    if (v == "key")
        return RunKey(c.rest);
    if (v == "picker" || v == "limit")
        return RunPickerOrLimit(v, c.rest);
    if (v == "set" || v == "check" || v == "pick" || v == "press")
        return RunOnControl(v, c.rest);
    if (v == "shot")
        return RunShot(c.rest);
    if (g_channel->hooks.extra) {
        std::string answer = g_channel->hooks.extra(c);
        if (!answer.empty())
            return answer;
    }
    return TestCtlError("unknown command " + v);
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kRunMessage) {
        auto* call = reinterpret_cast<Call*>(lParam);
        call->answer = Run(*call->command);
        return 1;
    }
    if (message == kIdleMessage)
        return g_channel && g_channel->hooks.isIdle && g_channel->hooks.isIdle() ? 1 : 0;
    return DefWindowProcA(window, message, wParam, lParam);
}
} // namespace

int SaveWindowBitmap(HWND window, const std::string& file)
{
    RECT r {};
    GetWindowRect(window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return 0;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(static_cast<size_t>(stride) * static_cast<size_t>(height));
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), reinterpret_cast<BITMAPINFO*>(&info),
        DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER head {};
    head.bfType = 0x4D42;
    head.bfOffBits = sizeof head + sizeof info;
    head.bfSize = head.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE f = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    bool ok = WriteFile(f, &head, sizeof head, &written, nullptr) && WriteFile(f, &info, sizeof info, &written, nullptr)
        && WriteFile(f, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(f);
    return ok ? 1 : 0;
}

uint16_t StartTestControl(uint16_t port, TestCtlHooks hooks)
{
    if (g_channel)
        return 0;
    WNDCLASSA wc {};
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kControlClass;
    RegisterClassA(&wc);
    auto channel = std::make_unique<Channel>();
    channel->hooks = std::move(hooks);
    channel->window = CreateWindowA(kControlClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    if (!channel->window)
        return 0;
    g_channel = channel.get();
    HWND target = channel->window;
    // The server's thread hands each command to the window thread and waits for its answer; a
    // window that is gone (the program ends) answers with an error at once.
    uint16_t listening = channel->server.Start(
        port,
        [target](const TestCtlCommand& c) {
            Call call { &c, {} };
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutA(
                    target, kRunMessage, 0, reinterpret_cast<LPARAM>(&call), SMTO_NORMAL, 600000, &result)
                || !result)
                return TestCtlError("the program does not answer");
            return call.answer;
        },
        [target] {
            DWORD_PTR result = 0;
            return SendMessageTimeoutA(target, kIdleMessage, 0, 0, SMTO_NORMAL, 10000, &result) && result == 1;
        });
    if (!listening) {
        DestroyWindow(channel->window);
        g_channel = nullptr;
        return 0;
    }
    channel.release();
    return listening;
}

void StopTestControl()
{
    if (!g_channel)
        return;
    DestroyWindow(g_channel->window);
    g_channel->server.Stop();
    delete g_channel;
    g_channel = nullptr;
}
