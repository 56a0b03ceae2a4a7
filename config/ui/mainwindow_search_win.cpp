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

void ShowProgress(uint32_t message)
{
    g_progressMessage = message;
    if (!g_progress) {
        g_progress = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_PROGRESS), g_main, ProgressProc, 0);
        SetWindowLongPtrA(g_main, kModelessSlot, reinterpret_cast<LONG_PTR>(g_progress));
    }
    EnableWindow(GetDlgItem(g_progress, IDCANCEL), TRUE);
    SetWindowTextA(g_progress, Text(1612).c_str());
    CenterWindow(g_progress, g_main);
    ShowWindow(g_progress, SW_SHOWNOACTIVATE);
}

void HideProgress()
{
    if (g_progress) {
        SetWindowLongPtrA(g_main, kModelessSlot, 0);
        DestroyWindow(g_progress);
        g_progress = nullptr;
    }
    g_progressMessage = 0;
}

void UpdateProgress()
{
    if (!g_progress)
        return;
    std::string text;
    int percent = -1;
    if (g_search) {
        text = MainStatusText(0, 0, &g_search->request);
    } else if (g_commands) {
        for (DeviceEntry* e = g_commands->Job().first; e; e = e->next) {
            int32_t s = e->status.load();
            if (s >= DevStatusChecking && s < DevStatusOk) {
                text = EntryTitle(*e) + ": " + DeviceCellText(*e, ColStatus);
                percent = DeviceProgressPercent(*e);
                if (e->cancel.load())
                    EnableWindow(GetDlgItem(g_progress, IDCANCEL), FALSE);
                break;
            }
        }
    }
    // Set only when changed (each setting paints the window again).
    char shown[512] = {};
    GetDlgItemTextA(g_progress, IDC_PROGRESS_TEXT, shown, sizeof shown);
    if (text != shown)
        SetDlgItemTextA(g_progress, IDC_PROGRESS_TEXT, text.c_str());
    HWND bar = GetDlgItem(g_progress, IDC_PROGRESS_BAR);
    int position = percent < 0 ? 0 : percent;
    if (SendMessageA(bar, PBM_GETPOS, 0, 0) != position)
        SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void PostOwnSearch(std::unique_ptr<JobSearchRecord> record, uint32_t message, bool user)
{
    g_search = std::move(record);
    g_userSearch = user;
    IniFile ini(IniPath());
    ini.Load();
    g_serial = std::make_unique<ConsoleSerialSearch>(ConsoleEnumeratePorts(&ini));
    g_search->env.serial = g_serial.get();
    g_search->env.network = Globals().networkStarted;
    // Devices that listen on another port than the standard one (a laboratory, the simulator).
    int32_t port = ini.GetInt("Options", "SearchPort", kTftpPort);
    g_search->env.port = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kTftpPort;
    g_ownJob = message == JobStartupCheck ? DeviceJobBuild(g_devices.All()) : DeviceJob {};
    g_ownJobQueued = true;
    if (!PostDeviceSearch(message, &g_ownJob, g_search->request.what ? g_search.get() : nullptr)) {
        g_ownJobQueued = false;
        g_search.reset();
        return;
    }
    if (!g_search->request.what)
        g_search.reset();
    if (user)
        ShowProgress(message);
    SetTimer(g_main, kSearchTimer, 250, nullptr);
    UpdateCommands();
}

void MergeSearch()
{
    if (!g_search)
        return;
    std::unique_ptr<JobSearchRecord> record = std::move(g_search);
    // Devices found on another port take their commands there too.
    if (record->env.port != kTftpPort)
        for (DeviceEntry& e : record->results)
            if (e.link == LinkIp)
                e.port = record->env.port;
    SearchMergeResult merged
        = DeviceSearchMerge(g_devices, record->results, g_userSearch ? CurrentFolder() : &g_devices.Root());
    SaveList();
    FillTree();
    RefreshRows();
    if (merged.conflicts > 0) {
        ConflictDialog(g_main, SearchConflictMessage(), SearchConflictDetails(record->results, merged.conflicts));
    } else if (merged.first_unconfigured && record->settings.launch_wizard && !merged.first_unconfigured->wizard_done) {
        // The set-up wizard for the first new device that is not configured yet, once the search job
        // has ended.
        g_launchWizard = merged.first_unconfigured;
        ++g_pending;
        PostMessageA(g_main, kLaunchWizardMessage, 0, 0);
    } else if (g_userSearch && merged.new_devices == 0) {
        MessageBoxA(g_main, Text(2303).c_str(), Text(1612).c_str(), MB_OK | MB_ICONINFORMATION);
    }
}
} // namespace mainwin
