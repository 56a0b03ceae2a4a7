#include "config/ui/autoupdate_win.h"

#include "common/diag.h"
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "common/ui/desktop.h"
#include "config/frontend/commands.h"
#include "config/frontend/jobs.h"
#include "config/frontend/mainview.h"
#include "config/frontend/valuerules.h"
#include "config/startup/startup.h"
#include "config/ui/dialogs_win.h"
#include "config/ui/language_win.h"
#include "config/ui/resource.h"
#include "device/devicelist.h"
#include "device/devop.h"
#include "device/devstatus.h"
#include "device/search.h"
#include "device/texts.h"
#include "device/update.h"

#include <winsock2.h>

#include <atomic>
#include <commctrl.h>
#include <memory>
#include <thread>

namespace {
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 250;
constexpr UINT kNoticeMessage = WM_APP + 20; // the device worker posted a notice
constexpr UINT kStartMessage = WM_APP + 21; // the progress window is up: issue the command
constexpr UINT kDoneMessage = WM_APP + 22; // the update thread finished a step (wParam: which)
constexpr UINT kAskMessage = WM_APP + 23; // the update thread asks the user (lParam: Question*)
constexpr WPARAM kAllDone = static_cast<WPARAM>(-1);

constexpr unsigned UpdStrNoDevice = 2200;
constexpr unsigned UpdStrBadPackage = 2201;
constexpr unsigned UpdStrPackage = 2202;
constexpr unsigned UpdStrNoneFound = 2203;
constexpr unsigned UpdStrSelectSome = 2204;
constexpr unsigned UpdStrWaiting = 2207;
constexpr unsigned UpdStrUpdated = 2208;
constexpr unsigned UpdStrFailed = 2209;
constexpr unsigned UpdStrCancelled = 2210;
constexpr unsigned UpdStrDeviceOf = 2211;
constexpr unsigned UpdStrDone = 2212;
constexpr unsigned UpdStrClose = 2213;
constexpr unsigned UpdStrPassword = 2214;
constexpr unsigned UpdStrBadRemote = 2215;
constexpr unsigned UpdStrColumn = 2216;

// Work of the verbs that the test channel's "idle" waits for: threads running (not waiting for the
// user) and messages posted and not yet handled.
std::atomic<int> g_working { 0 };
std::atomic<int> g_posted { 0 };
// The commands of a device's upload while it runs: a job posted and not yet answered is work too.
const DeviceCommands* g_deviceCommands = nullptr;

std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

std::string IniPath()
{
    return Globals().paths.settingsFile;
}

void PostCounted(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    ++g_posted;
    if (!PostMessageA(window, message, wParam, lParam))
        --g_posted;
}

void SetTextIfChanged(HWND dialog, int id, const std::string& text)
{
    if (DialogText(dialog, id) != text)
        SetDlgItemTextA(dialog, id, text.c_str());
}

void SetBar(HWND bar, int percent)
{
    int position = percent < 0 ? 0 : percent;
    if (SendMessageA(bar, PBM_GETPOS, 0, 0) != position)
        SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

// The network for the run of one verb (the program's own start-up comes later).
class VerbNetwork {
public:
    VerbNetwork()
    {
        WSADATA data {};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~VerbNetwork()
    {
        if (started_)
            WSACleanup();
    }
    VerbNetwork(const VerbNetwork&) = delete;
    VerbNetwork& operator=(const VerbNetwork&) = delete;
    bool Started() const
    {
        return started_;
    }

private:
    bool started_ = false;
};

void AddColumns(HWND list, const std::vector<std::pair<unsigned, int>>& columns)
{
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    int i = 0;
    for (const auto& [id, width] : columns) {
        std::string header = Text(id);
        LVCOLUMNA col {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = header.data();
        col.cx = width;
        col.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&col));
        ++i;
    }
}

void SetCell(HWND list, int row, int column, const std::string& text)
{
    char shown[256] = {};
    LVITEMA item {};
    item.iSubItem = column;
    item.pszText = shown;
    item.cchTextMax = sizeof shown;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    if (text == shown)
        return;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int AddRow(HWND list, const std::vector<std::string>& cells)
{
    LVITEMA item {};
    item.mask = LVIF_TEXT;
    item.iItem = ListView_GetItemCount(list);
    item.pszText = const_cast<char*>(cells[0].c_str());
    int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    for (size_t c = 1; c < cells.size(); ++c)
        SetCell(list, row, static_cast<int>(c), cells[c]);
    return row;
}

// ---- One device of the list: the window's Firmware upload command, with a progress window of its own
class DeviceUpload : public JobWindow, public CommandUi {
public:
    DeviceUpload(DeviceEntry& entry)
        : entry_(entry)
        , commands_(*this, IniPath())
    {
        g_deviceCommands = &commands_;
    }
    ~DeviceUpload() override
    {
        g_deviceCommands = nullptr;
    }
    DeviceUpload(const DeviceUpload&) = delete;
    DeviceUpload& operator=(const DeviceUpload&) = delete;

    // JobWindow: results and the end of every job come to the progress window as notices.
    void Post(const JobNotice& notice) override
    {
        notices.Post(notice);
        if (window_)
            PostCounted(window_, kNoticeMessage);
    }
    void JobDone(uint32_t message, int32_t result, DeviceJob* job) override
    {
        (void)result;
        (void)job;
        Post(JobNotice { JobMsgBusy, static_cast<int32_t>(message), nullptr });
    }

    // CommandUi
    int Ask(const std::string& text, const char* dontAskKey, bool* dontAskAgain) override
    {
        bool ticked = false;
        bool yes = AskDialog(
            window_, text, Text(CfgStrWarning), dontAskKey ? Text(CmdStrDontShowAgain) : std::string(), &ticked);
        if (dontAskAgain)
            *dontAskAgain = ticked;
        return yes ? 1 : 0;
    }
    void Error(const std::string& text) override
    {
        MessageBoxA(window_, text.c_str(), Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
    }
    int Prepare(uint32_t command, DeviceJob& job) override
    {
        if (command != CmdUploadFirmware)
            return 1;
        std::string file = FirmwareForJob(window_, job, *this, std::string());
        if (file.empty())
            return 0;
        job.first->file_name = file;
        return 1;
    }
    void Finished(uint32_t message, int32_t result, DeviceJob& job) override
    {
        (void)message;
        (void)result;
        (void)job;
        End();
    }

    static INT_PTR CALLBACK Proc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<DeviceUpload*>(GetWindowLongPtrA(d, DWLP_USER));
        switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(d, DWLP_USER, lParam);
            self = reinterpret_cast<DeviceUpload*>(lParam);
            self->window_ = d;
            SetWindowTextA(d, Text(MainStrProgramName).c_str());
            CenterWindow(d, GetWindow(d, GW_OWNER));
            SetTimer(d, kTickTimer, kTickMs, nullptr);
            PostCounted(d, kStartMessage);
            return TRUE;
        case kStartMessage:
            --g_posted;
            self->entry_.cancel = 0;
            if (!self->commands_.Issue(CmdUploadFirmware, { &self->entry_ }))
                self->End();
            return TRUE;
        case kNoticeMessage: {
            --g_posted;
            JobNotice notice;
            while (self->notices.Wait(&notice, 0))
                self->commands_.OnJobNotice(notice);
            return TRUE;
        }
        case WM_TIMER:
            self->ShowStatus();
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) {
                // The cancel is asked for once; the button stays grey while it is under way.
                CancelDeviceJob();
                EnableWindow(GetDlgItem(d, IDCANCEL), FALSE);
                return TRUE;
            }
            break;
        case WM_DESTROY:
            KillTimer(d, kTickTimer);
            self->window_ = nullptr;
            break;
        }
        return FALSE;
    }

private:
    void End()
    {
        if (window_ && !ended_) {
            ended_ = true;
            EndDialog(window_, IDOK);
        }
    }
    void ShowStatus()
    {
        std::string name = entry_.name.empty() ? DeviceCellText(entry_, ColAddress) : entry_.name.str();
        SetTextIfChanged(window_, IDC_PROGRESS_TEXT, name + ": " + DeviceCellText(entry_, ColStatus));
        SetBar(GetDlgItem(window_, IDC_PROGRESS_BAR), DeviceProgressPercent(entry_));
    }

    DeviceEntry& entry_;
    DeviceCommands commands_;
    HWND window_ = nullptr;
    bool ended_ = false;
};

// ---- The update package
struct Question {
    enum Kind { Password, Activate };
    Question(Kind k, DeviceEntry* e)
        : kind(k)
        , entry(e)
    {
    }
    Kind kind;
    DeviceEntry* entry;
    std::string password;
    bool yes = false;
};

struct Package {
    UpdateDescription desc;
    bool network = false;
    JobSearchRecord search;
    std::vector<UpdateOffer> offers; // one per device found
    std::vector<size_t> chosen; // the devices to update, by their place in search.results
    std::vector<std::string> outcome; // per chosen device, once done
    std::thread thread;
    std::atomic<bool> running { false };
    std::atomic<bool> stop { false };
    std::atomic<int> current { -1 }; // the chosen device being updated
    int updated = 0, failed = 0;
    HWND window = nullptr;

    ~Package()
    {
        stop = true;
        search.request.cancel = 1;
        if (thread.joinable())
            thread.join();
    }
    // Runs `work` on the update thread; the window hears kDoneMessage with kAllDone at its end.
    template<class F> void Start(HWND d, F work)
    {
        window = d;
        running = true;
        ++g_working;
        thread = std::thread([this, d, work] {
            work();
            running = false;
            --g_working;
            PostCounted(d, kDoneMessage, kAllDone);
        });
    }
    void Join()
    {
        if (thread.joinable())
            thread.join();
    }
    // Asks the user on the window thread; the update thread waits meanwhile (and counts as idle).
    bool AskUser(Question& q)
    {
        --g_working;
        SendMessageA(window, kAskMessage, 0, reinterpret_cast<LPARAM>(&q));
        ++g_working;
        return q.yes;
    }
};

INT_PTR CALLBACK PasswordProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* q = reinterpret_cast<Question*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        q = reinterpret_cast<Question*>(lParam);
        std::string name = q->entry->name.empty() ? q->entry->AddressText() : q->entry->name.str();
        SetDlgItemTextA(d, IDC_UPD_PASSWORD_TEXT, StrFormat(Text(UpdStrPassword).c_str(), name.c_str()).c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            q->password = DialogText(d, IDC_UPD_PASSWORD);
            q->yes = true;
            EndDialog(d, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void EnableRemote(HWND d)
{
    bool remote = IsDlgButtonChecked(d, IDC_UPD_REMOTE) == BST_CHECKED;
    EnableWindow(GetDlgItem(d, IDC_UPD_ADDRESS), remote);
    EnableWindow(GetDlgItem(d, IDC_UPD_NETMASK), remote);
}

void EnableSearchInput(HWND d, bool on)
{
    for (int id : { IDOK, IDC_UPD_LOCAL, IDC_UPD_REMOTE, IDC_UPD_ADDRESS, IDC_UPD_NETMASK })
        EnableWindow(GetDlgItem(d, id), on);
    if (on)
        EnableRemote(d);
}

// The search dialog: where to search, then the search with its phase and count; ends with OK once
// devices were found.
INT_PTR CALLBACK SearchProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* p = reinterpret_cast<Package*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        p = reinterpret_cast<Package*>(lParam);
        SetDlgItemTextA(d, IDC_UPD_PACKAGE, StrFormat(Text(UpdStrPackage).c_str(), p->desc.path.c_str()).c_str());
        CheckDlgButton(d, IDC_UPD_LOCAL, BST_CHECKED);
        EnableRemote(d);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_UPD_REMOTE:
            EnableRemote(d);
            return TRUE;
        case IDOK: {
            SearchRequest& r = p->search.request;
            r.what = (IsDlgButtonChecked(d, IDC_UPD_LOCAL) == BST_CHECKED ? SearchLocalNet : 0);
            if (IsDlgButtonChecked(d, IDC_UPD_REMOTE) == BST_CHECKED) {
                std::optional<uint32_t> address = NetParseAddress(Trim(DialogText(d, IDC_UPD_ADDRESS)));
                std::optional<uint32_t> mask = NetParseAddress(Trim(DialogText(d, IDC_UPD_NETMASK)));
                if (!address || !mask || *address == 0) {
                    DialogWarn(d, UpdStrBadRemote, !address || *address == 0 ? IDC_UPD_ADDRESS : IDC_UPD_NETMASK);
                    return TRUE;
                }
                r.what |= SearchRemoteNet;
                r.remote_address = *address;
                r.remote_netmask = *mask;
            }
            if (!r.what)
                return TRUE;
            r.cancel = 0;
            p->search.results.clear();
            EnableSearchInput(d, false);
            SetDlgItemTextA(d, IDC_UPD_STATUS, "");
            SetTimer(d, kTickTimer, kTickMs, nullptr);
            p->Start(d, [p] { DeviceSearch(p->search.request, p->search.results, p->search.settings, p->search.env); });
            return TRUE;
        }
        case IDCANCEL:
            if (p->running) {
                p->search.request.cancel = 1;
                EnableWindow(GetDlgItem(d, IDCANCEL), FALSE);
            } else {
                EndDialog(d, IDCANCEL);
            }
            return TRUE;
        }
        break;
    case WM_TIMER:
        if (p->search.request.phase.load() != SearchPhaseDone)
            SetTextIfChanged(d, IDC_UPD_STATUS, MainStatusText(0, 0, &p->search.request));
        return TRUE;
    case kDoneMessage:
        --g_posted;
        KillTimer(d, kTickTimer);
        p->Join();
        if (p->search.request.cancel.load()) {
            EndDialog(d, IDCANCEL);
        } else if (p->search.results.empty()) {
            SetDlgItemTextA(d, IDC_UPD_STATUS, Text(UpdStrNoneFound).c_str());
            EnableSearchInput(d, true);
        } else {
            EndDialog(d, IDOK);
        }
        return TRUE;
    }
    return FALSE;
}

// The selection: every device found with what the package offers it; the suggested ones selected.
INT_PTR CALLBACK SelectProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* p = reinterpret_cast<Package*>(GetWindowLongPtrA(d, DWLP_USER));
    HWND list = GetDlgItem(d, IDC_UPD_DEVICES);
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        p = reinterpret_cast<Package*>(lParam);
        AddColumns(list,
            { { MainStrColumn0 + ColName, 100 }, { MainStrColumn0 + ColAddress, 130 }, { MainStrColumn0 + ColType, 90 },
                { MainStrColumn0 + ColFirmware, 130 }, { UpdStrColumn, 155 } });
        for (size_t i = 0; i < p->search.results.size(); ++i) {
            const DeviceEntry& e = p->search.results[i];
            int row = AddRow(list,
                { DeviceCellText(e, ColName), DeviceCellText(e, ColAddress), DeviceCellText(e, ColType),
                    DeviceCellText(e, ColFirmware), UpdateOfferText(p->offers[i]) });
            if (p->offers[i].suggested)
                ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            p->chosen.clear();
            int i = -1;
            while ((i = ListView_GetNextItem(list, i, LVNI_SELECTED)) >= 0)
                p->chosen.push_back(static_cast<size_t>(i));
            if (p->chosen.empty()) {
                MessageBoxA(
                    d, Text(UpdStrSelectSome).c_str(), Text(MainStrProgramName).c_str(), MB_OK | MB_ICONINFORMATION);
                return TRUE;
            }
            EndDialog(d, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(d, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// After an upload to a device with several images that now runs the new one in test mode: the
// user's word activates it, as after the window's own upload.
void ActivateTestImage(Package& p, DeviceEntry& e)
{
    const FirmwareStatusInfo& images = e.fw_status;
    if (!(e.flags & DevFlagFirmwareImages) || images.number2 != images.number3 || images.number2 == images.active)
        return;
    Question q { Question::Activate, &e };
    if (!p.AskUser(q))
        return;
    e.cancel = 0;
    e.status = DevStatusActivating;
    if (!DevOpActivateImage(e, images.number2))
        return;
    e.cancel = 0;
    e.status = DevStatusRestarting;
    DevOpWaitRestart(e, DevWaitRestarts, 0);
}

// The update thread: the chosen devices one after the other, as the package describes each.
void UpdateChosen(Package* p)
{
    UpdateUi ui;
    ui.step = [](const DeviceEntry& e, const std::string& text) {
        Diag("update %s: %s\n", e.AddressText().c_str(), text.c_str());
    };
    ui.askPassword = [p](DeviceEntry& e, std::string* password) {
        Question q { Question::Password, &e };
        if (!p->AskUser(q))
            return false;
        *password = q.password;
        return true;
    };
    for (size_t i = 0; i < p->chosen.size(); ++i) {
        if (p->stop)
            break;
        DeviceEntry& e = p->search.results[p->chosen[i]];
        e.cancel = 0;
        p->current = static_cast<int>(i);
        int outcome = UpdateDevice(p->desc, e, ui);
        if (outcome == UpdatePassed && !p->stop)
            ActivateTestImage(*p, e);
        int32_t status = e.status.load();
        std::string text = outcome == UpdatePassed ? StrFormat(Text(UpdStrUpdated).c_str(), e.fw_version.c_str())
            : outcome == UpdateLeftAlone           ? DeviceText(UpdStrNoSection)
            : status == DevStatusCancelled         ? Text(UpdStrCancelled)
                                           : StrFormat(Text(UpdStrFailed).c_str(), DeviceStatusCellText(e).c_str());
        p->outcome[i] = text;
        p->updated += outcome == UpdatePassed;
        p->failed += outcome == UpdateFailed && status != DevStatusCancelled;
        PostCounted(p->window, kDoneMessage, i);
    }
    p->current = -1;
}

// The upload: one row per chosen device with its status while it runs and its outcome after.
INT_PTR CALLBACK UploadProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* p = reinterpret_cast<Package*>(GetWindowLongPtrA(d, DWLP_USER));
    HWND list = GetDlgItem(d, IDC_UPD_RESULTS);
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        p = reinterpret_cast<Package*>(lParam);
        AddColumns(list,
            { { MainStrColumn0 + ColName, 100 }, { MainStrColumn0 + ColAddress, 130 },
                { MainStrColumn0 + ColStatus, 220 } });
        p->outcome.assign(p->chosen.size(), std::string());
        for (size_t i : p->chosen) {
            const DeviceEntry& e = p->search.results[i];
            AddRow(list, { DeviceCellText(e, ColName), DeviceCellText(e, ColAddress), Text(UpdStrWaiting) });
        }
        SetTimer(d, kTickTimer, kTickMs, nullptr);
        p->Start(d, [p] { UpdateChosen(p); });
        return TRUE;
    case WM_TIMER: {
        int i = p->current.load();
        if (i < 0)
            return TRUE;
        const DeviceEntry& e = p->search.results[p->chosen[static_cast<size_t>(i)]];
        SetCell(list, i, 2, DeviceCellText(e, ColStatus));
        SetTextIfChanged(d, IDC_UPD_STATUS,
            StrFormat(Text(UpdStrDeviceOf).c_str(), i + 1, static_cast<int>(p->chosen.size()),
                DeviceCellText(e, ColName).c_str()));
        SetBar(GetDlgItem(d, IDC_UPD_BAR), DeviceProgressPercent(e));
        return TRUE;
    }
    case kAskMessage: {
        auto* q = reinterpret_cast<Question*>(lParam);
        if (q->kind == Question::Password) {
            LanguageDialog(IDD_UPD_PASSWORD, d, PasswordProc, lParam);
        } else {
            bool ticked = false;
            q->yes = AskDialog(d, DeviceText(FwStrActivateTestMode), Text(CfgStrWarning), std::string(), &ticked);
        }
        return TRUE;
    }
    case kDoneMessage:
        --g_posted;
        if (wParam != kAllDone) {
            SetCell(list, static_cast<int>(wParam), 2, p->outcome[wParam]);
            return TRUE;
        }
        KillTimer(d, kTickTimer);
        p->Join();
        for (size_t i = 0; i < p->chosen.size(); ++i)
            if (p->outcome[i].empty())
                SetCell(list, static_cast<int>(i), 2, Text(UpdStrCancelled));
        SetDlgItemTextA(d, IDC_UPD_STATUS, StrFormat(Text(UpdStrDone).c_str(), p->updated, p->failed).c_str());
        SetBar(GetDlgItem(d, IDC_UPD_BAR), 0);
        SetDlgItemTextA(d, IDCANCEL, Text(UpdStrClose).c_str());
        EnableWindow(GetDlgItem(d, IDCANCEL), TRUE);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            if (!p->running) {
                EndDialog(d, IDOK);
                return TRUE;
            }
            // The device being updated stops where its operation can, the others are left alone.
            p->stop = true;
            int i = p->current.load();
            if (i >= 0)
                p->search.results[p->chosen[static_cast<size_t>(i)]].cancel = 1;
            EnableWindow(GetDlgItem(d, IDCANCEL), FALSE);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
} // namespace

void AutoUpdateDevice(HWND owner, const std::string& name)
{
    Diag("verb autoupdate device: %s\n", name.c_str());
    DeviceList list;
    DeviceListLoadFile(list, IniPath(), Globals().paths.deviceListFile);
    DeviceEntry* entry = nullptr;
    for (DeviceEntry* e : list.All())
        if (!entry && StrEqualNoCase(e->name.str(), Trim(name)))
            entry = e;
    if (!entry) {
        MessageBoxA(owner, StrFormat(Text(UpdStrNoDevice).c_str(), name.c_str()).c_str(), Text(CfgStrError).c_str(),
            MB_OK | MB_ICONSTOP);
        return;
    }
    VerbNetwork network;
    DeviceUpload upload(*entry);
    JobOptions options;
    options.language = Globals().dscLanguage;
    if (!StartDeviceWorker(upload, options))
        return;
    LanguageDialog(IDD_PROGRESS, owner, DeviceUpload::Proc, reinterpret_cast<LPARAM>(&upload));
    StopDeviceWorker(nullptr);
    // What the device reported after its upload (firmware, images) is kept in the list.
    if (!DeviceListSave(list, IniPath()))
        Diag("device list: cannot save %s\n", IniPath().c_str());
}

void AutoUpdateFromFile(HWND owner, const std::string& iniFile)
{
    Diag("verb autoupdate file: %s\n", iniFile.c_str());
    auto p = std::make_unique<Package>();
    std::string error;
    if (!UpdateReadDescription(iniFile, &p->desc, &error)) {
        Diag("update package: %s\n", error.c_str());
        MessageBoxA(owner, StrFormat(Text(UpdStrBadPackage).c_str(), iniFile.c_str()).c_str(),
            Text(CfgStrError).c_str(), MB_OK | MB_ICONSTOP);
        return;
    }
    VerbNetwork network;
    IniFile ini(IniPath());
    ini.Load();
    p->search.settings = SearchReadSettings(ini);
    p->search.env.network = network.Started();
    // Devices that listen on another port than the standard one (a laboratory, the simulator).
    int32_t port = ini.GetInt("Options", "SearchPort", kTftpPort);
    p->search.env.port = port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kTftpPort;
    if (LanguageDialog(IDD_UPD_SEARCH, owner, SearchProc, reinterpret_cast<LPARAM>(p.get())) != IDOK)
        return;
    for (DeviceEntry& e : p->search.results) {
        if (e.link == LinkIp && p->search.env.port != kTftpPort)
            e.port = p->search.env.port;
        p->offers.push_back(UpdateOfferFor(p->desc, e));
    }
    if (LanguageDialog(IDD_UPD_SELECT, owner, SelectProc, reinterpret_cast<LPARAM>(p.get())) != IDOK)
        return;
    if (IniGetInt(IniPath(), "Options", "DontAskForUploadFirmware", 0) == 0) {
        bool ticked = false;
        if (!AskDialog(owner, Text(CmdStrUploadWarning), Text(CfgStrWarning), Text(CmdStrDontShowAgain), &ticked))
            return;
        if (ticked)
            IniWriteString(IniPath(), "Options", "DontAskForUploadFirmware", "1");
    }
    LanguageDialog(IDD_UPD_UPLOAD, owner, UploadProc, reinterpret_cast<LPARAM>(p.get()));
}

bool AutoUpdateIdle()
{
    return g_working.load() == 0 && g_posted.load() == 0 && !(g_deviceCommands && g_deviceCommands->Waiting())
        && !DeviceWorkerBusy();
}
