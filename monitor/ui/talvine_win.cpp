// talvine.exe: the Win32 side of the monitor's start-up (monitor/startup/startup.h), the main window with
// the engine's tree, the taskbar icon, the new-device dialog, the ending rules and the test control channel.
#include "common/datafolder.h"
#include "common/diag.h"
#include "common/ini.h"
#include "common/platform/instance.h"
#include "common/platform/net.h"
#include "common/platform/process.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/aboutbox.h"
#include "common/ui/desktop.h"
#include "common/ui/help_win.h"
#include "common/ui/testctl_win.h"
#include "device/mru.h"
#include "monitor/engine/engine.h"
#include "monitor/log/log.h"
#include "monitor/objtree/expr.h"
#include "monitor/objtree/script.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/startup/rules.h"
#include "monitor/startup/startup.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/display_win.h"
#include "monitor/ui/find_win.h"
#include "monitor/ui/graph_win.h"
#include "monitor/ui/props_win.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/talvine_views.h"
#include "monitor/ui/texts.h"

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <commctrl.h>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <shellapi.h>
#include <string>
#include <vector>

namespace {
constexpr UINT kWakeMessage = WM_APP + 1; // the engine has something queued
constexpr UINT kTrayMessage = WM_APP + 2; // the taskbar icon's callback
constexpr UINT kFailureMessage = WM_APP + 3; // a detection failed: ask about it outside Process
constexpr UINT kExitMessage = WM_APP + 4; // the test channel's exit
constexpr UINT_PTR kTimerEngine = 1;
constexpr UINT kTrayId = 1;
// Placement of the main window: maximised remembered, shown activated.
constexpr unsigned kMainPlacementFlags = 2 | 16;

std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}

struct Failure {
    uint32_t address;
    EngineDetectResult result;
    std::string message;
};

// What the last new-device dialog held, shown again after a failed detection.
struct NewDeviceInput {
    std::string address;
    std::string password;
    bool logging = false;
};

class WinFrontEnd;

struct App {
    HINSTANCE instance = nullptr;
    int showCommand = SW_SHOWDEFAULT;
    HWND main = nullptr;
    HWND tray = nullptr; // the hidden window of the taskbar icon
    HWND tree = nullptr;
    HWND hint = nullptr; // says how to add devices while the tree is empty (the tree hidden meanwhile)
    HACCEL accelerators = nullptr;
    HICON icons[3] = {};
    TalvineSettings settings;
    bool trayShown = false;
    TrayImage trayImage = TrayImage::Idle;
    std::string trayTip; // the product name and a summary of the devices
    std::string lastBalloon; // title and text of the last balloon shown (the test channel reads it)
    bool onTop = false;
    bool ended = false; // settings and list saved, the window goes
    std::unique_ptr<WinFrontEnd> front;
    std::unique_ptr<Engine> engine;
    std::vector<Failure> failures;
    std::map<uint32_t, NewDeviceInput> pendingInput; // address -> what was entered
};

App& A()
{
    static App app;
    return app;
}

void RefreshTray();

// The engine's front end: the tree view holds the shown items, each tree item's lParam its EngineItem.
// The question before a script action: the icon and buttons its flags chose, the message, and the
// check box when the script names one.
struct QueryDialog {
    QueryStyle style;
    std::string message;
    std::string checkText;
    bool ticked = false;
};

RECT ControlRect(HWND dialog, HWND control)
{
    RECT r {};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void PlaceControl(HWND control, const RECT& r)
{
    SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Keeps the controls the query needs, grows the text to the message and moves what is below it.
void QueryLayout(HWND dialog, const QueryDialog& q)
{
    HWND icon = GetDlgItem(dialog, IDC_QUERY_ICON);
    HWND text = GetDlgItem(dialog, IDC_QUERY_TEXT);
    HWND check = GetDlgItem(dialog, IDC_QUERY_CHECK);
    RECT client {};
    GetClientRect(dialog, &client);
    RECT iconRect = ControlRect(dialog, icon);
    RECT textRect = ControlRect(dialog, text);
    RECT checkRect = ControlRect(dialog, check);
    RECT buttonRect = ControlRect(dialog, GetDlgItem(dialog, IDOK));
    RECT rightRect = ControlRect(dialog, GetDlgItem(dialog, IDCANCEL));
    int checkGap = checkRect.top - textRect.bottom;
    int buttonGap = buttonRect.top - checkRect.bottom;
    int bottomMargin = client.bottom - buttonRect.bottom;

    LPCSTR iconId = q.style.icon == QueryIcon::Information ? IDI_INFORMATION
        : q.style.icon == QueryIcon::Warning               ? IDI_WARNING
        : q.style.icon == QueryIcon::Error                 ? IDI_ERROR
                                                           : nullptr;
    if (iconId) {
        SendMessageA(icon, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, iconId)), 0);
    } else {
        DestroyWindow(icon);
        textRect.left = iconRect.left;
        checkRect.left = iconRect.left;
    }

    // The message as it stands: an ampersand is no mnemonic; the text grows to its lines.
    SetWindowLongA(text, GWL_STYLE, GetWindowLongA(text, GWL_STYLE) | SS_NOPREFIX);
    SetWindowTextA(text, q.message.c_str());
    RECT need { 0, 0, textRect.right - textRect.left, 0 };
    HDC dc = GetDC(text);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(text, WM_GETFONT, 0, 0)));
    DrawTextA(dc, q.message.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(text, dc);
    textRect.bottom = textRect.top + std::max<LONG>(need.bottom, textRect.bottom - textRect.top);
    PlaceControl(text, textRect);

    LONG below = textRect.bottom;
    if (q.checkText.empty()) {
        DestroyWindow(check);
    } else {
        SetWindowTextA(check, q.checkText.c_str());
        LONG height = checkRect.bottom - checkRect.top;
        checkRect.top = textRect.bottom + checkGap;
        checkRect.bottom = checkRect.top + height;
        PlaceControl(check, checkRect);
        below = checkRect.bottom;
    }
    if (iconId)
        below = std::max(below, iconRect.bottom);

    // Two buttons at the right (OK alone takes the place of the right one).
    int first = q.style.buttons == QueryButtons::YesNo ? IDYES : IDOK;
    int second = q.style.buttons == QueryButtons::YesNo ? IDNO
        : q.style.buttons == QueryButtons::OkCancel     ? IDCANCEL
                                                        : 0;
    for (int id : { IDOK, IDCANCEL, IDYES, IDNO })
        if (id != first && id != second)
            DestroyWindow(GetDlgItem(dialog, id));
    LONG height = buttonRect.bottom - buttonRect.top;
    LONG top = below + buttonGap;
    if (!second)
        buttonRect = rightRect;
    buttonRect.top = rightRect.top = top;
    buttonRect.bottom = rightRect.bottom = top + height;
    PlaceControl(GetDlgItem(dialog, first), buttonRect);
    if (second)
        PlaceControl(GetDlgItem(dialog, second), rightRect);
    SendMessageA(dialog, DM_SETDEFID, static_cast<WPARAM>(first), 0);
    SetFocus(GetDlgItem(dialog, first));

    RECT window {};
    GetWindowRect(dialog, &window);
    LONG grow = top + height + bottomMargin - client.bottom;
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, window.bottom - window.top + grow,
        SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Yes and No need an answer: no close box, as a message box has none.
    if (q.style.buttons == QueryButtons::YesNo)
        EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
}

INT_PTR CALLBACK QueryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* q = reinterpret_cast<QueryDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, Text(TvStrProgramName).c_str());
        QueryLayout(dialog, *reinterpret_cast<QueryDialog*>(lParam));
        CenterWindow(dialog, GetParent(dialog));
        return FALSE; // the focus is on the first button
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        // Escape and the close box: Cancel, or OK where OK stands alone; Yes and No need an answer.
        if (id == IDCANCEL && q->style.buttons == QueryButtons::YesNo)
            return TRUE;
        if (id == IDCANCEL && q->style.buttons == QueryButtons::Ok)
            id = IDOK;
        if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO) {
            q->ticked = IsDlgButtonChecked(dialog, IDC_QUERY_CHECK) == BST_CHECKED;
            EndDialog(dialog, id);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

class WinFrontEnd : public EngineFrontEnd {
public:
    void Wake() override
    {
        if (A().main)
            PostMessageA(A().main, kWakeMessage, 0, 0);
    }
    void ItemInserted(EngineItem& item, EngineItem* after) override
    {
        DisplayItemChanged(item);
        if (item.display)
            return;
        HTREEITEM parent = item.parent ? static_cast<HTREEITEM>(item.parent->frontData) : TVI_ROOT;
        if (item.parent && !parent)
            return;
        HTREEITEM insertAfter = TVI_FIRST;
        if (after && after->frontData)
            insertAfter = static_cast<HTREEITEM>(after->frontData);
        else if (!item.parent)
            insertAfter = LastTopItemBefore(*item.device);
        std::string text = ItemText(item);
        TVINSERTSTRUCTA ins {};
        ins.hParent = parent;
        ins.hInsertAfter = insertAfter;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = text.data();
        ins.item.lParam = reinterpret_cast<LPARAM>(&item);
        ins.item.iImage = ins.item.iSelectedImage = item.object->Image(item.state);
        item.frontData
            = reinterpret_cast<void*>(SendMessageA(A().tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
        if (item.parent && item.parent->expanded)
            SendMessageA(A().tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    }
    void ItemUpdated(EngineItem& item) override
    {
        DisplayItemChanged(item);
        if (item.display || !item.frontData)
            return;
        std::string text = ItemText(item);
        TVITEMA tv {};
        tv.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        tv.hItem = static_cast<HTREEITEM>(item.frontData);
        tv.pszText = text.data();
        tv.iImage = tv.iSelectedImage = item.object->Image(item.state);
        SendMessageA(A().tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    }
    void ItemRemoved(EngineItem& item) override
    {
        // Deleting a tree item deletes its children too; TVN_DELETEITEM clears each one's handle.
        if (!item.display && item.frontData)
            SendMessageA(A().tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item.frontData));
        item.frontData = nullptr;
        if (item.display)
            DisplayItemChanged(item);
    }
    void DeviceChanged(EngineDevice& d) override
    {
        DisplayDeviceChanged(d);
    }
    void DeviceAdded(EngineDevice& d) override
    {
        d.details = A().settings.detailsMask;
        A().pendingInput.erase(d.address);
    }
    void DeviceRemoved(EngineDevice& d) override
    {
        DisplayDeviceRemoved(d);
    }
    void DetectFailed(uint32_t address, EngineDetectResult result, const std::string& message) override
    {
        A().failures.push_back(Failure { address, result, message });
        PostMessageA(A().main, kFailureMessage, 0, 0);
    }
    bool Query(EngineDevice&, QueryStyle style, const std::string& message, const std::string& checkText,
        bool* checked) override
    {
        QueryDialog q { style, message, checkText };
        INT_PTR answer = DialogBoxParamA(
            A().instance, MAKEINTRESOURCEA(IDD_QUERY), A().main, QueryProc, reinterpret_cast<LPARAM>(&q));
        *checked = q.ticked;
        return answer == IDOK || answer == IDYES;
    }
    void Balloon(EngineDevice& d, uint32_t kind, const std::string& text) override
    {
        if (!A().trayShown)
            return;
        // Which device it is about: its name and address.
        std::string title = StrFormat(Text(UiStrDeviceTitle).c_str(), d.object->name.c_str(), d.AddressText().c_str());
        NOTIFYICONDATAA n {};
        n.cbSize = sizeof n;
        n.hWnd = A().tray;
        n.uID = kTrayId;
        n.uFlags = NIF_INFO;
        lstrcpynA(n.szInfo, text.c_str(), sizeof n.szInfo);
        lstrcpynA(n.szInfoTitle, title.c_str(), sizeof n.szInfoTitle);
        n.dwInfoFlags = kind == 3 ? NIIF_ERROR : kind == 2 ? NIIF_WARNING : NIIF_INFO;
        Shell_NotifyIconA(NIM_MODIFY, &n);
        A().lastBalloon = std::string(n.szInfoTitle) + "\t" + n.szInfo;
    }
    void Plugin(EngineDevice& d, const std::string& name, const std::string& argument) override
    {
        // The accounting and VPN views; a name or argument they do not know does nothing.
        if (!PluginCall(d, name, argument))
            Diag("plug-in call for %s: %s %s: no such view\n", d.AddressText().c_str(), name.c_str(), argument.c_str());
    }
    void Run(EngineDevice&, const std::string& program, const std::string& parameters, bool hidden) override
    {
        if (ProcessStart(program, parameters, hidden) != 1)
            Diag("cannot start %s\n", program.c_str());
    }
    void ErrorMessage(const std::string& text) override
    {
        MessageBoxA(A().main, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    }

private:
    static std::string ItemText(EngineItem& item)
    {
        ScriptContext ctx;
        ctx.item = item.object;
        ctx.device = item.device->object.get();
        ctx.runtime = item.device;
        return ::ItemText(*item.object, item.state, ctx);
    }
    // At top level a device's first item follows the last shown top-level item of the devices before it.
    static HTREEITEM LastTopItemBefore(EngineDevice& device)
    {
        HTREEITEM last = TVI_FIRST;
        for (const auto& d : A().engine->Devices()) {
            if (d.get() == &device)
                break;
            for (const auto& item : d->items)
                if (item->frontData)
                    last = static_cast<HTREEITEM>(item->frontData);
        }
        return last;
    }
};

// Icons of the taskbar: idle grey, connected green, error red (drawn here, so that the three states
// differ at a glance in every colour depth).
HICON MakeIcon(COLORREF colour)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP colourBits = CreateCompatibleBitmap(screen, 16, 16);
    HBITMAP maskBits = CreateBitmap(16, 16, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, colourBits);
    RECT all { 0, 0, 16, 16 };
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HBRUSH fill = CreateSolidBrush(colour);
    HGDIOBJ oldBrush = SelectObject(dc, fill);
    Ellipse(dc, 1, 1, 15, 15);
    SelectObject(dc, maskBits);
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    Ellipse(dc, 1, 1, 15, 15);
    SelectObject(dc, oldBrush);
    SelectObject(dc, old);
    DeleteObject(fill);
    ICONINFO info {};
    info.fIcon = TRUE;
    info.hbmColor = colourBits;
    info.hbmMask = maskBits;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colourBits);
    DeleteObject(maskBits);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return icon;
}

void TrayIcon(DWORD action)
{
    NOTIFYICONDATAA n {};
    n.cbSize = sizeof n;
    n.hWnd = A().tray;
    n.uID = kTrayId;
    n.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    n.uCallbackMessage = kTrayMessage;
    n.hIcon = A().icons[static_cast<int>(A().trayImage)];
    lstrcpynA(n.szTip, (A().trayTip.empty() ? Text(TvStrProgramName) : A().trayTip).c_str(), sizeof n.szTip);
    Shell_NotifyIconA(action, &n);
}

void ShowTray(bool shown)
{
    if (shown == A().trayShown)
        return;
    A().trayShown = shown;
    A().settings.showTrayStatus = shown;
    TrayIcon(shown ? NIM_ADD : NIM_DELETE);
}

// The icon's image from the devices' error and connect counts, after every notification.
void RefreshTray()
{
    if (!A().engine)
        return;
    std::vector<TrayDeviceState> states;
    TrayTipCounts counts;
    for (const auto& d : A().engine->Devices()) {
        states.push_back(TrayDeviceState { d->noAnswer.load(), d->registered, d->errors, d->connects });
        ++counts.devices;
        counts.noAnswer += d->noAnswer.load() ? 1 : 0;
        counts.refused += d->Refused() ? 1 : 0;
    }
    TrayImage image = ChooseTrayImage(states);
    std::string tip = TrayTipText(Text(TvStrProgramName), counts, sizeof NOTIFYICONDATAA {}.szTip - 1);
    if (image == A().trayImage && tip == A().trayTip)
        return;
    A().trayImage = image;
    A().trayTip = tip;
    if (A().trayShown)
        TrayIcon(NIM_MODIFY);
}

VisibleThings Visible()
{
    VisibleThings v;
    v.mainWindow = A().main && IsWindowVisible(A().main);
    v.trayIcon = A().trayShown;
    v.displayWindows = DisplayCount();
    v.views = TalvineViewsVisible();
    return v;
}

// "Do you wish to end Travik?" with its check box; true on Yes.
struct AskExit {
    bool ticked = false;
};

INT_PTR CALLBACK AskExitProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* ask = reinterpret_cast<AskExit*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, Text(TvStrProgramName).c_str());
        SetDlgItemTextA(
            dialog, IDC_ASKEXIT_TEXT, StrFormat(Text(UiStrAskExit).c_str(), Text(TvStrProgramName).c_str()).c_str());
        SetDlgItemTextA(dialog, IDC_ASKEXIT_CHECK, Text(UiStrAskExitNoMore).c_str());
        SendDlgItemMessageA(
            dialog, IDC_ASKEXIT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_QUESTION)), 0);
        CenterWindow(dialog, GetParent(dialog));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDYES || LOWORD(wParam) == IDNO || LOWORD(wParam) == IDCANCEL) {
            ask->ticked = IsDlgButtonChecked(dialog, IDC_ASKEXIT_CHECK) == BST_CHECKED;
            EndDialog(dialog, LOWORD(wParam) == IDYES ? IDYES : IDNO);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

bool AskForExit(HWND owner)
{
    AskExit ask;
    INT_PTR answer = DialogBoxParamA(
        A().instance, MAKEINTRESOURCEA(IDD_ASKEXIT), owner, AskExitProc, reinterpret_cast<LPARAM>(&ask));
    if (answer != IDYES)
        return false;
    if (ask.ticked) {
        A().settings.dontAskForExit = true;
        IniWriteInt(TalvineGlobalsGet().paths.settingsFile, kSectionOptions, "DontAskForExit", 1);
    }
    return true;
}

void SaveSettings()
{
    const std::string& ini = TalvineGlobalsGet().paths.settingsFile;
    // A failed save leaves the file as it was; the user learns that the changes are not kept.
    if (!WriteTalvineSettings(ini, A().settings))
        MessageBoxA(A().main, StrFormat(Text(UiStrSettingsNotSaved).c_str(), ini.c_str()).c_str(), "Error",
            MB_OK | MB_ICONERROR);
    SaveWindowPlacement(A().main, ini.c_str(), kSectionMainWindow, nullptr, kMainPlacementFlags);
}

// The end: exit actions (not when the session ends: nothing may wait then), settings, then the window
// goes, and with it the engine (the list is saved in WM_DESTROY).
void EndProgram(bool runExitActions)
{
    if (A().ended)
        return;
    A().ended = true;
    if (runExitActions && A().engine)
        A().engine->RunExitActions();
    SaveSettings();
    DisplaySaveAndCloseAll();
    TalvineViewsCloseWindows();
    DestroyWindow(A().main);
}

// The user closes one visible thing: hide it when something else stays, else ask (or end).
bool CloseOrEnd(HWND owner)
{
    switch (ChooseEndAction(Visible(), A().settings.dontAskForExit)) {
    case EndAction::CloseOnly:
        return false;
    case EndAction::Ask:
        if (!AskForExit(owner))
            return true; // stays as it is
        EndProgram(true);
        return true;
    case EndAction::End:
        EndProgram(true);
        return true;
    }
    return true;
}

} // namespace

bool TalvineMayCloseOne(HWND owner)
{
    return !CloseOrEnd(owner);
}

namespace {
void ShowMain()
{
    if (IsIconic(A().main))
        ShowWindow(A().main, SW_RESTORE);
    else
        ShowWindow(A().main, SW_SHOW);
    SetForegroundWindow(A().main);
}

// The tip of a tree item. A device's own item says why its details are hidden and what to do about it;
// every other item (and an answering device) shows its whole text, which a narrow window may cut.
std::string ItemTip(EngineItem& item)
{
    EngineDevice& d = *item.device;
    bool own = !item.parent && !item.display && !d.items.empty() && d.items.front().get() == &item;
    if (own && d.Error()) {
        std::string name = StrFormat(Text(UiStrDeviceTitle).c_str(), d.object->name.c_str(), d.AddressText().c_str());
        unsigned id = d.noAnswer.load() ? UiStrTipNoAnswer : d.Refused() ? UiStrTipRefused : UiStrTipAnswers;
        return StrFormat(Text(id).c_str(), name.c_str());
    }
    ScriptContext ctx;
    ctx.item = item.object;
    ctx.device = d.object.get();
    ctx.runtime = &d;
    return ::ItemText(*item.object, item.state, ctx);
}

EngineItem* SelectedItem()
{
    HTREEITEM selected = reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!selected)
        return nullptr;
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = selected;
    if (!SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv)))
        return nullptr;
    return reinterpret_cast<EngineItem*>(tv.lParam);
}

// The device of the selected item; the first device while nothing is selected.
EngineDevice* SelectedDevice()
{
    if (EngineItem* item = SelectedItem())
        return item->device;
    return A().engine && !A().engine->Devices().empty() ? A().engine->Devices().front().get() : nullptr;
}

// The new-device dialog: the address with its history, rewritten as dotted decimal on leaving the field.
INT_PTR CALLBACK NewDeviceProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* input = reinterpret_cast<NewDeviceInput*>(GetWindowLongPtrA(dialog, DWLP_USER));
    auto addressText = [&] {
        char text[256] = {};
        GetDlgItemTextA(dialog, IDC_NEW_ADDRESS, text, sizeof text);
        return std::string(Trim(text));
    };
    switch (message) {
    case WM_INITDIALOG: {
        input = reinterpret_cast<NewDeviceInput*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        std::string mru = IniGetString(TalvineGlobalsGet().paths.settingsFile, kSectionOptions, "DeviceAddressMRU", "");
        for (const std::string& item : MruParse(mru))
            SendDlgItemMessageA(dialog, IDC_NEW_ADDRESS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        SetDlgItemTextA(dialog, IDC_NEW_ADDRESS, input->address.c_str());
        SetDlgItemTextA(dialog, IDC_NEW_PASSWORD, input->password.c_str());
        CheckDlgButton(dialog, IDC_NEW_LOGGING, input->logging ? BST_CHECKED : BST_UNCHECKED);
        CenterWindow(dialog, GetParent(dialog));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_NEW_ADDRESS && HIWORD(wParam) == CBN_KILLFOCUS) {
            if (std::optional<uint32_t> ip = NetParseAddress(addressText()))
                SetDlgItemTextA(dialog, IDC_NEW_ADDRESS, NetAddressText(*ip).c_str());
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK) {
            std::optional<uint32_t> ip = NetParseAddress(addressText());
            if (!ip || *ip == 0) {
                MessageBeep(MB_ICONEXCLAMATION);
                SetFocus(GetDlgItem(dialog, IDC_NEW_ADDRESS));
                return TRUE;
            }
            char password[256] = {};
            GetDlgItemTextA(dialog, IDC_NEW_PASSWORD, password, sizeof password);
            input->address = NetAddressText(*ip);
            input->password = password;
            input->logging = IsDlgButtonChecked(dialog, IDC_NEW_LOGGING) == BST_CHECKED;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void HandleFailures();
void ShowTreeOrHint();

void NewDevice(NewDeviceInput input)
{
    if (DialogBoxParamA(
            A().instance, MAKEINTRESOURCEA(IDD_NEWDEVICE), A().main, NewDeviceProc, reinterpret_cast<LPARAM>(&input))
        != IDOK)
        return;
    const std::string& ini = TalvineGlobalsGet().paths.settingsFile;
    std::string mru = IniGetString(ini, kSectionOptions, "DeviceAddressMRU", "");
    mru = MruFormat(input.address, MruParse(mru));
    IniWriteString(ini, kSectionOptions, "DeviceAddressMRU", mru.c_str());
    std::optional<uint32_t> ip = NetParseAddress(input.address);
    uint32_t address = SnmpAddressFromHost(*ip);
    A().pendingInput[address] = input;
    if (!A().engine->AddDevice(address, input.password, input.logging))
        return;
    // The detection, shown until it ends; its failure is asked about once the dialog has closed.
    if (!DetectDialog(A().instance, A().main, *A().engine, address))
        A().pendingInput.erase(address);
    HandleFailures();
}

// Failed detections, asked about on the window thread once Process has returned.
void HandleFailures()
{
    if (DetectDialogOpen())
        return; // asked once the detection dialog has closed
    std::vector<Failure> failures;
    failures.swap(A().failures);
    for (const Failure& f : failures) {
        NewDeviceInput input = A().pendingInput.count(f.address) ? A().pendingInput[f.address] : NewDeviceInput {};
        A().pendingInput.erase(f.address);
        if (f.result == EngineDetectResult::NoAnswer) {
            if (MessageBoxA(A().main, f.message.c_str(), Text(TvStrProgramName).c_str(), MB_YESNO | MB_ICONQUESTION)
                == IDYES) {
                if (input.address.empty()) {
                    uint32_t host = 0;
                    const auto* b = reinterpret_cast<const uint8_t*>(&f.address);
                    host = static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
                    input.address = NetAddressText(host);
                }
                NewDevice(input);
            }
        } else {
            MessageBoxA(A().main, f.message.c_str(), Text(TvStrProgramName).c_str(), MB_OK | MB_ICONEXCLAMATION);
        }
    }
}

void DeleteSelected()
{
    EngineItem* item = SelectedItem();
    if (!item)
        return;
    if (!A().settings.dontAskForDeviceDelete
        && MessageBoxA(
               A().main, Text(UiStrAskDelete).c_str(), Text(TvStrProgramName).c_str(), MB_YESNO | MB_ICONQUESTION)
            != IDYES)
        return;
    A().engine->RemoveDevice(item->device);
    RefreshTray();
    ShowTreeOrHint();
}

void ShowHelp()
{
    const TalvinePaths& paths = TalvineGlobalsGet().paths;
    std::string shown;
    if (!OpenHelpTopics(A().main, paths.helpFile, paths.guideFile, &shown))
        MessageBoxA(A().main, Text(UiStrNoHelp).c_str(), "Error", MB_OK | MB_ICONERROR);
}

void ShowAbout()
{
    AboutBoxRecord r;
    r.instance = A().instance;
    r.strings = &talvine_Strings();
    r.flags = kAboutProductId | kAboutBuildVersion | kAboutBuildCopyright;
    r.title = TestCtlMenuText(StrFormat("&About %s", Text(TvStrProgramName).c_str()));
    r.productId = TvStrProgramName;
    r.major = TALVINE_VERSION_MAJOR;
    r.minor = TALVINE_VERSION_MINOR;
    r.build = TALVINE_VERSION_BUILD;
    AboutParseCompilerDate(__DATE__, &r.buildDate);
    ShowAboutBox(A().main, r);
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CheckDlgButton(dialog, IDC_OPT_EXIT, A().settings.dontAskForExit ? BST_UNCHECKED : BST_CHECKED);
        CheckDlgButton(dialog, IDC_OPT_DELETE, A().settings.dontAskForDeviceDelete ? BST_UNCHECKED : BST_CHECKED);
        CenterWindow(dialog, GetParent(dialog));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            A().settings.dontAskForExit = IsDlgButtonChecked(dialog, IDC_OPT_EXIT) != BST_CHECKED;
            A().settings.dontAskForDeviceDelete = IsDlgButtonChecked(dialog, IDC_OPT_DELETE) != BST_CHECKED;
            WriteTalvineSettings(TalvineGlobalsGet().paths.settingsFile, A().settings);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void UpdateMenu()
{
    HMENU menu = GetMenu(A().main);
    CheckMenuItem(menu, IDC_ON_TOP, A().onTop ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(menu, IDC_SHOW_TRAY, A().trayShown ? MF_CHECKED : MF_UNCHECKED);
    uint32_t mask = A().settings.detailsMask;
    CheckMenuItem(menu, IDC_DETAILS_ERRORS, (mask & 1) ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(menu, IDC_DETAILS_DIAGNOSTICS, (mask & 2) ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(menu, IDC_DETAILS_SYSINFO, (mask & 4) ? MF_CHECKED : MF_UNCHECKED);
}

// The menu entries of the selected item's current state (menu, menudef, menuex), from 3500.
std::vector<const ActionObject*> ItemMenuActions(EngineItem& item)
{
    std::vector<const ActionObject*> out;
    if (const ActionList* actions = item.object->Actions(item.state))
        for (const ActionObject& a : *actions)
            if (a.event == kKwMenu || a.event == kKwMenudef || a.event == kKwMenuex)
                out.push_back(&a);
    return out;
}

std::string ActionMenuText(EngineItem& item, const ActionObject& action)
{
    ScriptContext ctx;
    ctx.item = item.object;
    ctx.device = item.device->object.get();
    ctx.runtime = item.device;
    std::vector<SnmpValue> args = ActionArguments(action.arguments, ctx);
    ctx.args = &args;
    std::string text = ExprValueText(TemplateExpand(action.text, ctx));
    return text.empty() ? action.function : text;
}

void RunItemAction(EngineItem& item, size_t index)
{
    std::vector<const ActionObject*> actions = ItemMenuActions(item);
    if (index >= actions.size())
        return;
    EngineDevice* device = item.device;
    uint32_t address = device->address;
    A().engine->ActionRun(&item, *device, *actions[index], [address](int status) {
        // The device did not answer: offer another password (the status arrives on the SNMP worker).
        if (status == -1)
            PostMessageA(A().main, WM_COMMAND, MAKEWPARAM(IDC_PROPERTIES, 2), static_cast<LPARAM>(address));
    });
}

void ItemContextMenu(POINT at)
{
    EngineItem* item = SelectedItem();
    HMENU menus = LoadMenuA(A().instance, MAKEINTRESOURCEA(IDM_CONTEXT));
    HMENU menu = GetSubMenu(menus, 1);
    if (item) {
        std::vector<const ActionObject*> actions = ItemMenuActions(*item);
        if (!actions.empty())
            InsertMenuA(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        for (size_t i = actions.size(); i-- > 0;) {
            std::string text = ActionMenuText(*item, *actions[i]);
            InsertMenuA(menu, 0, MF_BYPOSITION | MF_STRING, IDC_ITEM_ACTIONS + i, text.c_str());
            if (actions[i]->event == kKwMenudef)
                SetMenuDefaultItem(menu, static_cast<UINT>(IDC_ITEM_ACTIONS + i), FALSE);
        }
    }
    if (item)
        GraphAddMenuEntry(menu, IDC_GRAPH);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, A().main, nullptr);
    DestroyMenu(menus);
}

void OnCommand(int id, LPARAM lParam)
{
    Engine& engine = *A().engine;
    switch (id) {
    case IDC_GRAPH:
        if (EngineItem* item = SelectedItem())
            GraphOpenItem(A().main, *item);
        break;
    case IDC_NEW:
        NewDevice(NewDeviceInput {});
        break;
    case IDC_REFRESH:
        if (EngineItem* item = SelectedItem())
            engine.Refresh(item);
        break;
    case IDC_REFRESH_ALL:
        engine.Refresh(nullptr);
        break;
    case IDC_DELETE:
        DeleteSelected();
        break;
    case IDC_PROPERTIES: {
        // A menu action that got no answer (lParam: the device's address): the password may be wrong.
        EngineDevice* device = nullptr;
        if (lParam) {
            if (MessageBoxA(A().main, Text(UiStrAskPassword).c_str(), Text(TvStrProgramName).c_str(),
                    MB_YESNO | MB_ICONQUESTION)
                != IDYES)
                break;
            device = engine.FindDevice(static_cast<uint32_t>(lParam));
        } else {
            device = SelectedDevice();
        }
        if (device && ShowDeviceProperties(A().instance, A().main, engine, *device))
            engine.SaveDevices();
        break;
    }
    case IDC_CLOSE:
        PostMessageA(A().main, WM_CLOSE, 0, 0);
        break;
    case IDC_ON_TOP:
        A().onTop = !A().onTop;
        SetWindowPos(A().main, A().onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        break;
    case IDC_SHOW_TRAY:
        ShowTray(!A().trayShown);
        break;
    case IDC_REMOVE_TRAY: {
        VisibleThings v = Visible();
        v.trayIcon = true;
        if (CountVisible(v) > 1)
            ShowTray(false);
        else
            CloseOrEnd(A().main);
        break;
    }
    case IDC_DETAILS_ERRORS:
    case IDC_DETAILS_DIAGNOSTICS:
    case IDC_DETAILS_SYSINFO: {
        A().settings.detailsMask ^= 1u << (id - IDC_DETAILS_ERRORS);
        for (const auto& d : engine.Devices())
            d->details = A().settings.detailsMask;
        engine.Refresh(nullptr);
        break;
    }
    case IDC_OPTIONS:
        DialogBoxParamA(A().instance, MAKEINTRESOURCEA(IDD_OPTIONS), A().main, OptionsProc, 0);
        break;
    case IDC_ACCOUNTING:
        TalvineViewsOpenFile(A().main);
        break;
    case IDC_HELP_TOPICS:
        ShowHelp();
        break;
    case IDC_ABOUT:
        ShowAbout();
        break;
    case IDC_SHOW:
        ShowMain();
        break;
    case IDC_FIND:
        FindDevicesDialog(A().instance, A().main, engine);
        break;
    case IDC_DISPLAY:
        if (EngineDevice* device = SelectedDevice())
            DisplayOpen(*device);
        break;
    default:
        if (id >= IDC_ITEM_ACTIONS && id < IDC_ITEM_ACTIONS + 100)
            if (EngineItem* item = SelectedItem())
                RunItemAction(*item, static_cast<size_t>(id - IDC_ITEM_ACTIONS));
        break;
    }
    UpdateMenu();
}

// The tree while devices are monitored, else the hint how to add them.
void ShowTreeOrHint()
{
    bool empty = A().engine && A().engine->Devices().empty();
    bool hintShown = (GetWindowLongA(A().hint, GWL_STYLE) & WS_VISIBLE) != 0;
    if (hintShown != empty) {
        ShowWindow(A().hint, empty ? SW_SHOW : SW_HIDE);
        ShowWindow(A().tree, empty ? SW_HIDE : SW_SHOW);
    }
}

void ProcessEngine()
{
    if (!A().engine)
        return;
    A().engine->Process();
    RefreshTray();
    ShowTreeOrHint();
    uint32_t next = A().engine->NextTimerMs();
    if (next != UINT32_MAX)
        SetTimer(A().main, kTimerEngine, std::max<uint32_t>(next, 10), nullptr);
}

// The tree, with its tips and state images, and the hint an empty tree shows.
void CreateTree(HWND window)
{
    A().tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
        WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_INFOTIP, 0, 0,
        0, 0, window, nullptr, A().instance, nullptr);
    A().hint = CreateWindowExA(0, "STATIC", Text(UiStrEmptyTreeHint).c_str(), WS_CHILD | SS_CENTER | SS_NOPREFIX, 0, 0,
        0, 0, window, nullptr, A().instance, nullptr);
    SendMessageA(A().hint, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    // Tips of several lines, shown long enough to be read.
    if (HWND tips = reinterpret_cast<HWND>(SendMessageA(A().tree, TVM_GETTOOLTIPS, 0, 0))) {
        SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 420);
        SendMessageA(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    }
    // The image strip: each item shows the image of its state.
    if (HIMAGELIST images = ImageList_LoadImageA(
            A().instance, "MONITORIMAGES", 16, 0, RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION))
        SendMessageA(A().tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

// A double click on an item runs its default (bold) menu entry; false on an item without one, which
// expands or collapses as usual.
bool RunDefaultAction()
{
    DWORD pos = GetMessagePos();
    TVHITTESTINFO hit {};
    hit.pt = { static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos)) };
    ScreenToClient(A().tree, &hit.pt);
    HTREEITEM h = reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (!h || !(hit.flags & TVHT_ONITEM))
        return false;
    SendMessageA(A().tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(h));
    EngineItem* item = SelectedItem();
    if (!item)
        return false;
    std::vector<const ActionObject*> actions = ItemMenuActions(*item);
    for (size_t i = 0; i < actions.size(); ++i) {
        if (actions[i]->event == kKwMenudef) {
            RunItemAction(*item, i);
            return true;
        }
    }
    return false;
}

// A right click selects the item under the pointer and opens its menu there.
void TreeContextMenu()
{
    POINT at;
    GetCursorPos(&at);
    TVHITTESTINFO hit {};
    hit.pt = at;
    ScreenToClient(A().tree, &hit.pt);
    auto h = reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (h)
        SendMessageA(A().tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(h));
    ItemContextMenu(at);
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateTree(window);
        return 0;
    case WM_SIZE:
        MoveWindow(A().tree, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        // The hint a third down the empty window, with a margin.
        MoveWindow(A().hint, 24, HIWORD(lParam) / 3, std::max(LOWORD(lParam) - 48, 0), HIWORD(lParam) / 2, TRUE);
        return 0;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lParam) == A().hint) {
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
            SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_GRAYTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
        }
        break;
    case WM_SETFOCUS:
        SetFocus(A().tree);
        return 0;
    case kWakeMessage:
        ProcessEngine();
        return 0;
    case kFailureMessage:
        HandleFailures();
        return 0;
    case kExitMessage:
        EndProgram(true);
        return 0;
    case WM_TIMER:
        if (wParam == kTimerEngine) {
            KillTimer(window, kTimerEngine);
            ProcessEngine();
        }
        return 0;
    case WM_COPYDATA: {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (copy && copy->dwData == kAddRecordsMessageId && A().engine)
            A().engine->AddDevicesFromMessage(static_cast<const uint8_t*>(copy->lpData), copy->cbData);
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom != A().tree)
            break;
        if (header->code == TVN_DELETEITEMA) {
            const auto* tv = reinterpret_cast<const NMTREEVIEWA*>(lParam);
            if (auto* item = reinterpret_cast<EngineItem*>(tv->itemOld.lParam))
                item->frontData = nullptr;
        } else if (header->code == TVN_ITEMEXPANDEDA) {
            const auto* tv = reinterpret_cast<const NMTREEVIEWA*>(lParam);
            if (auto* item = reinterpret_cast<EngineItem*>(tv->itemNew.lParam))
                item->expanded = (tv->itemNew.state & TVIS_EXPANDED) != 0;
        } else if (header->code == TVN_GETINFOTIPA) {
            auto* tip = reinterpret_cast<NMTVGETINFOTIPA*>(lParam);
            if (auto* item = reinterpret_cast<EngineItem*>(tip->lParam); item && tip->pszText && tip->cchTextMax > 0)
                lstrcpynA(tip->pszText, ItemTip(*item).c_str(), tip->cchTextMax);
            return 0;
        } else if (header->code == NM_DBLCLK) {
            if (RunDefaultAction())
                return TRUE;
            break;
        } else if (header->code == NM_RCLICK) {
            TreeContextMenu();
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), lParam);
        return 0;
    case WM_CLOSE:
        if (!CloseOrEnd(window))
            ShowWindow(window, SW_HIDE);
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // Log-off or shutdown: saved and ended without asking.
        if (wParam) {
            SaveSettings();
            DisplaySaveAndCloseAll();
            TalvineViewsCloseWindows();
            A().ended = true;
            if (A().engine) {
                SnmpClearAll();
                A().engine->SaveDevices();
            }
            Diag("session ends: settings and device list saved\n");
        }
        return 0;
    case WM_DESTROY:
        KillTimer(window, kTimerEngine);
        if (A().engine) {
            SnmpClearAll();
            A().engine->SaveDevices();
            A().engine.reset();
        }
        GraphStop();
        if (A().trayShown)
            TrayIcon(NIM_DELETE);
        A().trayShown = false;
        A().main = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The "&About %s" entry with the product name.
void FillAboutMenuText(HMENU menu)
{
    char text[256] = {};
    if (GetMenuStringA(menu, IDC_ABOUT, text, sizeof text, MF_BYCOMMAND) > 0) {
        std::string filled = StrFormat(text, Text(TvStrProgramName).c_str());
        ModifyMenuA(menu, IDC_ABOUT, MF_BYCOMMAND | MF_STRING, IDC_ABOUT, filled.c_str());
    }
}

// The taskbar icon's menu (the first of the context menus; `menus` to destroy afterwards): "&Show" the
// default, the about entry with the product name.
HMENU TrayMenu(HMENU* menus)
{
    *menus = LoadMenuA(A().instance, MAKEINTRESOURCEA(IDM_CONTEXT));
    HMENU menu = GetSubMenu(*menus, 0);
    SetMenuDefaultItem(menu, IDC_SHOW, FALSE);
    FillAboutMenuText(menu);
    return menu;
}

LRESULT CALLBACK TrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kTrayMessage && wParam == kTrayId) {
        if (lParam == WM_LBUTTONDBLCLK) {
            PostMessageA(A().main, WM_COMMAND, IDC_SHOW, 0);
        } else if (lParam == WM_RBUTTONUP) {
            HMENU menus = nullptr;
            HMENU menu = TrayMenu(&menus);
            POINT at;
            GetCursorPos(&at);
            SetForegroundWindow(A().main);
            TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, A().main, nullptr);
            DestroyMenu(menus);
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool CreateMonitorWindows(const std::string& title)
{
    App& app = A();
    WNDCLASSA tc {};
    tc.lpfnWndProc = TrayProc;
    tc.hInstance = app.instance;
    tc.lpszClassName = kTravikTrayClass;
    RegisterClassA(&tc);
    app.tray = CreateWindowA(kTravikTrayClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, app.instance, nullptr);

    app.icons[0] = MakeIcon(RGB(160, 160, 160));
    app.icons[1] = MakeIcon(RGB(0, 176, 0));
    app.icons[2] = MakeIcon(RGB(208, 0, 0));
    WNDCLASSA wc {};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = app.instance;
    wc.hIcon = app.icons[1];
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kTravikWindowClass;
    if (!RegisterClassA(&wc))
        return false;
    HMENU menu = LoadMenuA(app.instance, MAKEINTRESOURCEA(IDM_MAIN));
    FillAboutMenuText(menu);
    // Without a stored placement: a useful part of the screen, placed by the system.
    RECT workArea {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    int width = 0, height = 0;
    MainWindowDefaultSize(ScreenRect { workArea.left, workArea.top, workArea.right, workArea.bottom }, &width, &height);
    app.main = CreateWindowA(kTravikWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
        width, height, nullptr, menu, app.instance, nullptr);
    if (!app.main)
        return false;
    app.accelerators = LoadAcceleratorsA(app.instance, MAKEINTRESOURCEA(IDA_MAIN));

    const TalvinePaths& paths = TalvineGlobalsGet().paths;
    app.settings = ReadTalvineSettings(paths.settingsFile);
    app.front = std::make_unique<WinFrontEnd>();
    EngineSettings es;
    es.listPath = paths.listFile;
    es.settingsPath = paths.settingsFile;
    es.trends = GraphStart(app.instance, paths.directory);
    app.engine = std::make_unique<Engine>(es, app.front.get());
    app.engine->LoadDevices();
    for (const auto& d : app.engine->Devices())
        d->details = app.settings.detailsMask;
    app.engine->StartAll();
    DisplayRegisterClass(app.instance);

    if (app.settings.showTrayStatus)
        ShowTray(true);
    if (!RestoreWindowPlacement(app.main, paths.settingsFile.c_str(), kSectionMainWindow, nullptr, kMainPlacementFlags))
        ShowWindow(app.main, app.showCommand);
    UpdateWindow(app.main);
    UpdateMenu();
    ProcessEngine();
    DisplayRestoreAll(*app.engine);
    return true;
}

HTREEITEM TreeItemByText(HTREEITEM h, const std::string& prefix)
{
    for (; h; h = TreeView_GetNextSibling(A().tree, h)) {
        char text[512] = {};
        TVITEMA tv {};
        tv.mask = TVIF_TEXT;
        tv.hItem = h;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        if (SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv))
            && std::string(text).compare(0, prefix.size(), prefix) == 0)
            return h;
        if (HTREEITEM found = TreeItemByText(TreeView_GetChild(A().tree, h), prefix))
            return found;
    }
    return nullptr;
}

// The taskbar icon's menu as it opens: each entry's text, the default one marked "*".
std::string TrayMenuLines()
{
    HMENU menus = nullptr;
    HMENU menu = TrayMenu(&menus);
    std::vector<std::string> lines;
    UINT def = GetMenuDefaultItem(menu, FALSE, 0);
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[256] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        UINT id = GetMenuItemID(menu, i);
        if (text[0])
            lines.push_back((id == def ? "*" : "") + TestCtlEscape(text));
    }
    DestroyMenu(menus);
    return TestCtlOkLines(lines);
}

// Which of the system's icons a dialog shows: information, warning, error, question, other or none.
std::string DialogIconKind(const std::string& rest)
{
    HWND w = reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    if (!w || !IsWindow(w))
        return TestCtlError("no such window");
    std::string kind = "none";
    for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child))
            continue;
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") != 0)
            continue;
        auto shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        kind = shown == LoadIconA(nullptr, IDI_INFORMATION) ? "information"
            : shown == LoadIconA(nullptr, IDI_WARNING)      ? "warning"
            : shown == LoadIconA(nullptr, IDI_ERROR)        ? "error"
            : shown == LoadIconA(nullptr, IDI_QUESTION)     ? "question"
                                                            : "other";
    }
    return "ok " + kind + "\n";
}

// A window's rectangle and the top of its client area, in screen coordinates: "HANDLE" or "main".
std::string WindowRectLine(const std::string& rest)
{
    HWND w = rest == "main" ? A().main : reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    if (!w || !IsWindow(w))
        return TestCtlError("no such window");
    RECT r {};
    GetWindowRect(w, &r);
    POINT client { 0, 0 };
    ClientToScreen(w, &client);
    RECT work {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return "ok "
        + StrFormat("%ld %ld %ld %ld client=%ld work=%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom, client.y,
            work.left, work.top, work.right, work.bottom)
        + "\n";
}

// The list of a view window: the sum of its columns' widths and the width of its client area.
std::string ListColumnWidths(const std::string& rest)
{
    HWND w = reinterpret_cast<HWND>(TestCtlParseHandle(rest));
    HWND list = w && IsWindow(w) ? FindWindowExA(w, nullptr, WC_LISTVIEWA, nullptr) : nullptr;
    if (!list)
        return TestCtlError("no list in " + rest);
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int count = header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
    long total = 0;
    for (int i = 0; i < count; ++i)
        total += static_cast<long>(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0));
    RECT client {};
    GetClientRect(list, &client);
    return "ok " + StrFormat("%ld %ld", total, client.right) + "\n";
}

// A double click of the left button on the first tree item whose text begins with the given one,
// at the middle of its text, as the mouse gives it.
std::string DoubleClickTreeItem(const std::string& rest)
{
    std::vector<std::string> words = TestCtlWords(rest);
    HTREEITEM h = TreeItemByText(TreeView_GetRoot(A().tree), words.empty() ? std::string() : words[0]);
    if (!h)
        return TestCtlError("no tree item " + rest);
    TreeView_EnsureVisible(A().tree, h);
    RECT r {};
    std::memcpy(&r, &h, sizeof h); // TVM_GETITEMRECT takes the item in the rectangle's first bytes
    if (!SendMessageA(A().tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r)))
        return TestCtlError("tree item not visible");
    POINT at { (r.left + r.right) / 2, (r.top + r.bottom) / 2 };
    POINT screen = at;
    ClientToScreen(A().tree, &screen);
    SetCursorPos(screen.x, screen.y);
    LPARAM xy = MAKELPARAM(at.x, at.y);
    PostMessageA(A().tree, WM_LBUTTONDOWN, MK_LBUTTON, xy);
    PostMessageA(A().tree, WM_LBUTTONUP, 0, xy);
    PostMessageA(A().tree, WM_LBUTTONDBLCLK, MK_LBUTTON, xy);
    PostMessageA(A().tree, WM_LBUTTONUP, 0, xy);
    return TestCtlOk();
}

// The tree view's items in tree order, each "IMAGE<TAB>TEXT" (what the window shows of `tree`).
std::string TreeViewLines()
{
    std::vector<std::string> lines;
    std::vector<HTREEITEM> stack { reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)) };
    while (!stack.empty()) {
        HTREEITEM h = stack.back();
        stack.pop_back();
        if (!h)
            continue;
        char text[512] = {};
        TVITEMA tv {};
        tv.mask = TVIF_TEXT | TVIF_IMAGE;
        tv.hItem = h;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        lines.push_back(std::to_string(tv.iImage) + "\t" + TestCtlEscape(text));
        stack.push_back(reinterpret_cast<HTREEITEM>(
            SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(h))));
        stack.push_back(reinterpret_cast<HTREEITEM>(
            SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(h))));
    }
    return TestCtlOkLines(lines);
}

// The tip the tree asks for when the mouse rests on the first item whose text begins with the given
// one (through the tree's own notification to the window).
std::string TreeItemTip(const std::string& rest)
{
    std::vector<std::string> words = TestCtlWords(rest);
    HTREEITEM h = TreeItemByText(TreeView_GetRoot(A().tree), words.empty() ? std::string() : words[0]);
    if (!h)
        return TestCtlError("no tree item " + rest);
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = h;
    SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    char text[INFOTIPSIZE] = {};
    NMTVGETINFOTIPA tip {};
    tip.hdr.hwndFrom = A().tree;
    tip.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(A().tree));
    tip.hdr.code = TVN_GETINFOTIPA;
    tip.pszText = text;
    tip.cchTextMax = sizeof text;
    tip.hItem = h;
    tip.lParam = tv.lParam;
    SendMessageA(A().main, WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    return "ok " + TestCtlEscape(text) + "\n";
}

// The monitor's own commands of the test channel.
std::string TestCommand(const TestCtlCommand& c)
{
    if (c.verb == "tree") {
        if (!A().engine)
            return TestCtlError("no engine");
        return TestCtlOkLines(EngineTreeLines(*A().engine, false));
    }
    if (c.verb == "tray")
        return "ok " + StrFormat("shown=%d image=%d", A().trayShown ? 1 : 0, static_cast<int>(A().trayImage)) + "\n";
    if (c.verb == "traytip")
        return "ok " + TestCtlEscape(A().trayTip) + "\n";
    if (c.verb == "balloon")
        return "ok " + TestCtlEscape(A().lastBalloon) + "\n";
    if (c.verb == "traymenu")
        return TrayMenuLines();
    if (c.verb == "dialogicon")
        return DialogIconKind(c.rest);
    if (c.verb == "rect")
        return WindowRectLine(c.rest);
    if (c.verb == "displayfit") {
        std::optional<uint32_t> ip = NetParseAddress(c.rest);
        EngineDevice* d = ip && A().engine ? A().engine->FindDevice(SnmpAddressFromHost(*ip)) : nullptr;
        std::string fit = d ? DisplayFit(*d) : std::string();
        return fit.empty() ? TestCtlError("no display window for " + c.rest) : "ok " + fit + "\n";
    }
    if (c.verb == "columns")
        return ListColumnWidths(c.rest);
    if (c.verb == "dblclick")
        return DoubleClickTreeItem(c.rest);
    if (c.verb == "exit") {
        // Ends as the Exit of the question does, also with a display or dialog open.
        PostMessageA(A().main, kExitMessage, 0, 0);
        return TestCtlOk();
    }
    if (c.verb == "display") {
        // Opens or activates a device's display window (what command 3022 does for the selected device).
        std::optional<uint32_t> ip = NetParseAddress(c.rest);
        EngineDevice* d = ip && A().engine ? A().engine->FindDevice(SnmpAddressFromHost(*ip)) : nullptr;
        if (!d)
            return TestCtlError("no device " + c.rest);
        DisplayOpen(*d);
        return TestCtlOk();
    }
    if (c.verb == "treeview")
        return TreeViewLines();
    if (c.verb == "tip")
        return TreeItemTip(c.rest);
    if (c.verb == "detecting")
        return "ok " + std::to_string(A().engine ? A().engine->Detecting() : 0) + "\n";
    if (c.verb == "select") {
        // Selects the first tree item (depth first) whose text begins with the given one, as a click would.
        std::vector<std::string> words = TestCtlWords(c.rest);
        std::string text = words.empty() ? std::string() : words[0];
        HTREEITEM h = TreeItemByText(TreeView_GetRoot(A().tree), text);
        if (!h)
            return TestCtlError("no tree item " + text);
        TreeView_SelectItem(A().tree, h);
        return TestCtlOk();
    }
    std::string graph = GraphTestCommand(c);
    return graph.empty() ? TalvineViewsTestCommand(c) : graph;
}

class Win32TalvinePlatform : public TalvinePlatform {
public:
    void InitCommonControls() override
    {
        INITCOMMONCONTROLSEX icc { static_cast<DWORD>(sizeof icc),
            ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES };
        InitCommonControlsEx(&icc);
    }
    uint16_t ChooseResourceLanguage(int dialogId) override
    {
        return ::ChooseResourceLanguage(A().instance, MAKEINTRESOURCEA(dialogId));
    }
    void SetThreadLocale(uint16_t lang) override
    {
        if ((GetVersion() & 0x80000000u) == 0)
            ::SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
    }
    void StartTestControl(uint16_t port) override
    {
        TestCtlHooks hooks;
        hooks.mainWindow = [] { return A().main; };
        hooks.extra = [](const TestCtlCommand& c) { return TestCommand(c); };
        hooks.isIdle = [] { return !A().engine || A().engine->Detecting() == 0; };
        uint16_t listening = ::StartTestControl(port, std::move(hooks));
        if (listening)
            Diag("test control: port %u\n", static_cast<unsigned>(listening));
        else
            Diag("test control: cannot listen on port %u\n", static_cast<unsigned>(port));
    }
    std::string ProgramPath() override
    {
        return GetProgramPath();
    }
    std::string DataDirectory(const std::string& programDirectory) override
    {
        return ChooseDataFolder(programDirectory, "Travik", { Text(TvStrSettingsFile) }).folder;
    }
    bool IsOtherInstance(const std::string& lockName) override
    {
        return ::IsOtherInstance(lockName);
    }
    bool FindOtherMainWindow() override
    {
        other_ = FindWindowA(kTravikWindowClass, nullptr);
        return other_ != nullptr;
    }
    void Sleep(uint32_t ms) override
    {
        ::Sleep(ms);
    }
    void ShowOtherMainWindow() override
    {
        PostMessageA(other_, WM_COMMAND, IDC_SHOW, 0);
        AllowSetForegroundWindow(ASFW_ANY);
    }
    void SendAddRecords(const std::vector<uint8_t>& records, bool own) override
    {
        COPYDATASTRUCT copy {};
        copy.dwData = kAddRecordsMessageId;
        copy.cbData = static_cast<DWORD>(records.size());
        copy.lpData = const_cast<uint8_t*>(records.data());
        HWND target = own ? A().main : other_;
        DWORD_PTR result = 0;
        SendMessageTimeoutA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 20000, &result);
    }
    bool StartSnmp(uint16_t port) override
    {
        WSADATA data {};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            return false;
        return SnmpStart(port) == 1;
    }
    void ErrorBox(const std::string& text, const std::string& caption) override
    {
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    }
    void LoadScripts(const std::string& pattern, const std::string& language) override
    {
        int loaded = ScriptLoadAll(pattern, language);
        Diag("scripts: %d from %s\n", loaded, pattern.c_str());
    }
    void InitLog(const std::string& directory, const std::string& settingsFile, bool toStdout) override
    {
        LogInit(directory, settingsFile, toStdout);
    }
    void InitViews() override
    {
        TalvineViewsStart(A().instance);
    }
    bool CreateWindows(const std::string& title) override
    {
        return CreateMonitorWindows(title);
    }
    void RunMessageLoop() override
    {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (A().main && TranslateAcceleratorA(A().main, A().accelerators, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        StopTestControl();
    }
    void CloseJobSockets() override
    {
        TalvineViewsStop();
    }
    void CloseLog() override
    {
        LogClose();
    }
    void FreeScripts() override
    {
        ScriptFreeAll();
    }
    void StopSnmp() override
    {
        SnmpStop();
        WSACleanup();
    }

private:
    HWND other_ = nullptr;
};
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    A().instance = instance;
    A().showCommand = showCommand;
    Win32TalvinePlatform platform;
    return RunTalvine(commandLine ? commandLine : "", platform);
}
