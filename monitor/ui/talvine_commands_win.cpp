// talvine.exe: the main window's dialogs, menus and commands: a new device and its failed detection,
// deleting one, help, about and options, the menu's check marks, and the menu entries of the scripts'
// items.
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/aboutbox.h"
#include "common/ui/desktop.h"
#include "common/ui/help_win.h"
#include "common/ui/testctl_win.h"
#include "device/mru.h"
#include "monitor/objtree/expr.h"
#include "monitor/snmp/snmp.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/startup/startup.h"
#include "monitor/startup/texts.h"
#include "monitor/ui/display_win.h"
#include "monitor/ui/find_win.h"
#include "monitor/ui/graph_win.h"
#include "monitor/ui/props_win.h"
#include "monitor/ui/resource.h"
#include "monitor/ui/talvine_app_win.h"
#include "monitor/ui/talvine_views.h"
#include "monitor/ui/texts.h"

#include <windows.h>

#include <commctrl.h>
#include <optional>
#include <string>
#include <vector>

namespace tvwin {
namespace {
void ShowMain()
{
    if (IsIconic(A().main))
        ShowWindow(A().main, SW_RESTORE);
    else
        ShowWindow(A().main, SW_SHOW);
    SetForegroundWindow(A().main);
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
} // namespace

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
} // namespace tvwin
