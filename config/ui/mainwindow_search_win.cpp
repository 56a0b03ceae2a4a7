// The main window's progress window and its own searches (the start-up check, Find): posted to the
// worker, their results merged into the device list.
#include "common/ini.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "config/frontend/mainview.h"
#include "config/startup/startup.h"
#include "config/ui/dialogs_win.h"
#include "config/ui/mainwindow_state_win.h"
#include "config/ui/resource.h"
#include "device/console.h"
#include "device/devstatus.h"
#include "device/search.h"

#include <commctrl.h>

namespace mainwin {
namespace {
INT_PTR CALLBACK ProgressProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        // The cancel is asked for once; the button stays grey while it is under way.
        CancelDeviceJob();
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        return TRUE;
    }
    return FALSE;
}
} // namespace

void ShowProgress(uint32_t message)
{
    win.progressMessage = message;
    if (!win.progress) {
        win.progress = CreateDialogParamA(win.instance, MAKEINTRESOURCEA(IDD_PROGRESS), win.main, ProgressProc, 0);
        SetWindowLongPtrA(win.main, kModelessSlot, reinterpret_cast<LONG_PTR>(win.progress));
    }
    EnableWindow(GetDlgItem(win.progress, IDCANCEL), TRUE);
    SetWindowTextA(win.progress, Text(MainStrProgramName).c_str());
    CenterWindow(win.progress, win.main);
    ShowWindow(win.progress, SW_SHOWNOACTIVATE);
}

void HideProgress()
{
    if (win.progress) {
        SetWindowLongPtrA(win.main, kModelessSlot, 0);
        DestroyWindow(win.progress);
        win.progress = nullptr;
    }
    win.progressMessage = 0;
}

void UpdateProgress()
{
    if (!win.progress)
        return;
    std::string text;
    int percent = -1;
    if (win.search) {
        text = MainStatusText(0, 0, &win.search->request);
    } else if (win.commands) {
        for (DeviceEntry* e = win.commands->Job().first; e; e = e->next) {
            int32_t s = e->status.load();
            if (s >= DevStatusChecking && s < DevStatusOk) {
                text = EntryTitle(*e) + ": " + DeviceCellText(*e, ColStatus);
                percent = DeviceProgressPercent(*e);
                if (e->cancel.load())
                    EnableWindow(GetDlgItem(win.progress, IDCANCEL), FALSE);
                break;
            }
        }
    }
    // Set only when changed (each setting paints the window again).
    char shown[512] = {};
    GetDlgItemTextA(win.progress, IDC_PROGRESS_TEXT, shown, sizeof shown);
    if (text != shown)
        SetDlgItemTextA(win.progress, IDC_PROGRESS_TEXT, text.c_str());
    HWND bar = GetDlgItem(win.progress, IDC_PROGRESS_BAR);
    int position = percent < 0 ? 0 : percent;
    if (SendMessageA(bar, PBM_GETPOS, 0, 0) != position)
        SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void PostOwnSearch(std::unique_ptr<JobSearchRecord> record, uint32_t message, bool user)
{
    win.search = std::move(record);
    win.userSearch = user;
    IniFile ini(IniPath());
    ini.Load();
    win.serial = std::make_unique<ConsoleSerialSearch>(ConsoleEnumeratePorts(&ini));
    win.search->env.serial = win.serial.get();
    win.search->env.network = Globals().networkStarted;
    // Devices that listen on another port than the standard one (a laboratory, the simulator).
    int32_t port = ini.GetInt("Options", "SearchPort", kTftpPort);
    win.search->env.port = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kTftpPort;
    win.ownJob = message == JobStartupCheck ? DeviceJobBuild(win.devices.All()) : DeviceJob {};
    win.ownJobQueued = true;
    if (!PostDeviceSearch(message, &win.ownJob, win.search->request.what ? win.search.get() : nullptr)) {
        win.ownJobQueued = false;
        win.search.reset();
        return;
    }
    if (!win.search->request.what)
        win.search.reset();
    if (user)
        ShowProgress(message);
    SetTimer(win.main, kSearchTimer, 250, nullptr);
    UpdateCommands();
}

// Find: the search dialog, then the search it asks for.
void FindDevices()
{
    auto record = std::make_unique<JobSearchRecord>();
    IniFile ini(IniPath());
    ini.Load();
    record->settings = SearchReadSettings(ini);
    if (SearchDialog(win.main, *record) && record->request.what)
        PostOwnSearch(std::move(record), JobSearch, true);
}

void MergeSearch()
{
    if (!win.search)
        return;
    std::unique_ptr<JobSearchRecord> record = std::move(win.search);
    // Devices found on another port take their commands there too.
    if (record->env.port != kTftpPort)
        for (DeviceEntry& e : record->results)
            if (e.link == LinkIp)
                e.port = record->env.port;
    SearchMergeResult merged
        = DeviceSearchMerge(win.devices, record->results, win.userSearch ? CurrentFolder() : &win.devices.Root());
    SaveList();
    FillTree();
    RefreshRows();
    if (merged.conflicts > 0) {
        ConflictDialog(win.main, SearchConflictMessage(), SearchConflictDetails(record->results, merged.conflicts));
    } else if (merged.first_unconfigured && record->settings.launch_wizard && !merged.first_unconfigured->wizard_done) {
        // The set-up wizard for the first new device that is not configured yet, once the search job
        // has ended.
        win.launchWizard = merged.first_unconfigured;
        ++win.pending;
        PostMessageA(win.main, kLaunchWizardMessage, 0, 0);
    } else if (win.userSearch && merged.new_devices == 0) {
        MessageBoxA(
            win.main, Text(MainStrNoNewDevices).c_str(), Text(MainStrProgramName).c_str(), MB_OK | MB_ICONINFORMATION);
    }
}
} // namespace mainwin
