#include "config/frontend/jobs.h"

#include "common/diag.h"
#include "common/platform/net.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/store/cfg_store.h"
#include "device/devop.h"
#include "device/devstatus.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {
constexpr size_t kAddressTextMax = 128; // addresses taken from a written configuration, as text
constexpr int32_t kSlowRestartSeconds = 30;
constexpr int32_t kUpdateRestartSeconds = 30;
constexpr const char* kNameItem = "/sys/name";

struct Run {
    JobContext& context;

    void Redraw(DeviceEntry& entry) const
    {
        if (context.window)
            context.window->Redraw(entry);
    }
    void SetStatus(DeviceEntry& entry, int32_t status) const
    {
        entry.status = status;
        Redraw(entry);
    }
    void Working(DeviceEntry* entry) const
    {
        if (context.current)
            context.current->store(entry);
    }
    void Changed(DeviceEntry& entry) const
    {
        if (context.window)
            context.window->EntryChanged(entry);
    }
};

uint32_t FeatureMask(const DeviceEntry& entry)
{
    return (entry.flags & DevFlagFeatureWord) ? entry.feature_word : 0xFFFFFFFFu;
}

uint32_t HardwareMask(const DeviceEntry& entry)
{
    return (entry.flags & DevFlagHwMask) ? entry.hw_mask : 0;
}

const char* Language(const JobContext& context)
{
    return context.options.language.empty() ? nullptr : context.options.language.c_str();
}

// Keeps a configuration read from or written to the device in its history. `desc` scrambles the
// secrets; a simplified one may lack secret items, so then the full description is taken.
void Keep(const Run& run, DeviceEntry& entry, CfgTempStream& text, const CfgDescription* desc, const char* source)
{
    HistSettings settings = run.context.options.history;
    if (settings.root.empty())
        return;
    settings.noCrypt = settings.noCrypt || run.context.options.no_crypt;
    HistKeepText(settings, entry, text, desc, source, entry.file_comment.value_or(entry.name.str()));
}

// What a configuration held by an entry was read for, so that its write is kept as the wizard's or as
// an edit's: the wizard has ended when its write job runs. Keys are only compared, never followed.
class ReadPurposes {
public:
    void Set(const DeviceEntry* e, uint32_t message)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        purposes_[e] = message;
    }
    void Forget(const DeviceEntry* e)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        purposes_.erase(e);
    }
    // "wizard" for a configuration read for a wizard, else "write".
    const char* WriteSource(const DeviceEntry* e)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = purposes_.find(e);
        return found != purposes_.end() && found->second == JobReadForWizard ? "wizard" : "write";
    }

private:
    std::mutex mutex_;
    std::unordered_map<const DeviceEntry*, uint32_t> purposes_;
};

ReadPurposes g_readPurposes;

void KeepFile(const Run& run, DeviceEntry& entry, const std::string& path, const char* source)
{
    if (!run.context.options.history.root.empty())
        HistKeepFile(run.context.options.history, entry, path, source);
}

void FreeConfig(DeviceEntry& entry)
{
    g_readPurposes.Forget(&entry);
    entry.config.reset();
    entry.config_stream.reset();
}

// The configuration's addresses become the entry's addresses: those of the configuration (best
// first), then the address the device had, then the further addresses the entry had (the user may
// have named them), as many as fit the entry's list and an address text of 128 characters. The
// restart wait tries them in this order, so a device that moved is found at its new address without
// first waiting out the time-out at the old one.
void RefreshAddresses(DeviceEntry& entry, const CfgDescription& desc)
{
    std::vector<uint32_t> addresses;
    CfgAlternativeAddresses(desc, entry.address, &addresses);
    uint32_t list[DeviceEntry::kAddressListSize] = {};
    size_t n = 0;
    size_t textLength = 0;
    auto add = [&](uint32_t address) {
        if (address == 0 || n >= DeviceEntry::kAddressListSize)
            return;
        for (size_t i = 0; i < n; ++i)
            if (list[i] == address)
                return;
        size_t length = NetAddressText(address).size() + 1;
        if (textLength + length > kAddressTextMax)
            return;
        textLength += length;
        list[n++] = address;
    };
    for (uint32_t address : addresses)
        add(address);
    add(entry.address);
    for (size_t i = 1; i < DeviceEntry::kAddressListSize; ++i)
        add(entry.address_list[i]);
    std::memcpy(entry.address_list, list, sizeof(list));
    entry.address = list[0];
}

// After a configuration went to the device: a new device name and the configuration's password are
// taken over (the password unsaved), the addresses refreshed for the restart wait.
void TakeOverFromConfig(const Run& run, DeviceEntry& entry, const CfgDescription& desc)
{
    std::string name = JobConfigName(desc);
    if (!name.empty() && name != entry.name.str()) {
        entry.name = name;
        run.Changed(entry);
    }
    if (std::optional<std::string> password = CfgGetAccessPassword(desc)) {
        if (*password != entry.password.str()) {
            entry.password = *password;
            entry.password_unsaved = 1;
        }
    }
    if (entry.link == LinkIp)
        RefreshAddresses(entry, desc);
}

// The wait after a written configuration. The write operation set `cancel` so that it could not be
// interrupted; from here on the user may cancel again.
int WaitAfterWrite(const Run& run, DeviceEntry& entry)
{
    uint32_t flags = entry.link == LinkIp ? static_cast<uint32_t>(DevWaitFurtherAddresses) : 0u;
    bool restarts = !(entry.flags & DevFlagNoRestart);
    if (restarts)
        flags |= DevWaitRestarts;
    int32_t extra = (entry.flags & DevFlagSlowRestart) ? kSlowRestartSeconds : 0;
    entry.cancel = 0;
    run.SetStatus(entry, restarts ? DevStatusRestarting : DevStatusChecking);
    int ok = DevOpWaitRestart(entry, flags, extra);
    run.Redraw(entry);
    return ok;
}

int32_t CheckEntries(const Run& run, DeviceJob& job, bool localOnly)
{
    for (DeviceEntry* e = job.first; e; e = e->next) {
        if (localOnly && !e->local)
            continue;
        run.Working(e);
        run.SetStatus(*e, DevStatusChecking);
        DevOpCheck(*e);
        run.Redraw(*e);
        if (e->cancel.load())
            break;
    }
    return 0;
}

int32_t Search(const Run& run, JobSearchRecord& search)
{
    if (run.context.current_search)
        run.context.current_search->store(&search.request);
    DeviceSearch(search.request, search.results, search.settings, search.env);
    if (run.context.current_search)
        run.context.current_search->store(nullptr);
    return JobSearchDone;
}

int32_t Check(const Run& run, DeviceJob& job, uint32_t argument)
{
    uint32_t stop = argument & 0xFFFFu;
    bool skipOk = argument > 0xFFFFu;
    for (DeviceEntry* e = job.first; e; e = e->next) {
        if (skipOk && e->status.load() == DevStatusOk)
            continue;
        run.Working(e);
        run.SetStatus(*e, DevStatusChecking);
        DevOpCheck(*e);
        run.Redraw(*e);
        int32_t status = e->status.load();
        if (status == DevStatusCancelled || (stop != 0 && status != DevStatusOk))
            break;
    }
    return static_cast<int32_t>(stop);
}

int32_t ReadConfig(const Run& run, DeviceJob& job, uint32_t message)
{
    bool easy = message == JobReadConfig && run.context.options.easy_config != 0;
    DeviceEntry* first = job.first;
    // The description as loaded, before any values: every further entry gets a copy of it, so that no
    // value of one device can stay behind in another's configuration.
    CfgDescriptionPtr prototype;
    CfgDescription* previous = nullptr;
    int32_t result = JobReadOk;
    for (DeviceEntry* e = first; e && result == JobReadOk; e = e->next) {
        if (e->config) {
            previous = e->config.get();
            continue;
        }
        run.Working(e);
        run.SetStatus(*e, DevStatusReadingConfig);
        CfgDescriptionPtr desc;
        if (e == first) {
            desc = CfgLoadDescription(e->device_type.str(), e->fw_version.str(), Language(run.context), FeatureMask(*e),
                HardwareMask(*e), easy);
            if (desc && job.count > 1)
                CfgPruneForGroup(*desc);
            if (desc && job.count > 1)
                prototype = CfgCloneDescription(*desc, e->device_type.str(), e->fw_version.str(), FeatureMask(*e));
        } else {
            const CfgDescription* source
                = prototype ? prototype.get() : (first->config ? first->config.get() : nullptr);
            if (source)
                desc = CfgCloneDescription(*source, e->device_type.str(), e->fw_version.str(), FeatureMask(*e));
        }
        if (!desc) {
            run.SetStatus(*e, DevStatusOk);
            result = e == first ? JobReadNoDescription : JobReadNotTogether;
            break;
        }
        std::shared_ptr<CfgTempStream> stream;
        if (!DevOpReadConfig(*e, &stream) || !stream) {
            run.Redraw(*e);
            result = JobReadFailed;
            break;
        }
        CfgReadFile(*stream, *desc);
        g_readPurposes.Set(e, message);
        Keep(run, *e, *stream, easy ? nullptr : desc.get(),
            message == JobReadConfig          ? "read"
                : message == JobReadForWizard ? "read-wizard"
                                              : "read-print");
        if (previous)
            CfgLinkCounterparts(*previous, *desc);
        e->config = std::shared_ptr<CfgDescription>(std::move(desc));
        e->config_stream = std::move(stream);
        previous = e->config.get();
        run.Redraw(*e);
    }
    return result;
}

int32_t WriteConfig(const Run& run, DeviceJob& job)
{
    int32_t result = JobWriteOk;
    for (DeviceEntry* e = job.first; e; e = e->next) {
        if (!e->config)
            continue;
        run.Working(e);
        run.SetStatus(*e, DevStatusWritingConfig);
        CfgTempStream old;
        if (e->config_stream)
            old = std::move(*e->config_stream);
        else if (!old.Open())
            return JobWriteFailed;
        auto text = std::make_shared<CfgTempStream>(CfgWriteFile(std::move(old), *e->config));
        e->config_stream = text;
        if (!text->IsOpen() || !DevOpWriteConfig(*e, *text)) {
            run.Redraw(*e);
            return JobWriteFailed;
        }
        // Kept under the name and addresses the configuration gives the device, by which it is found next.
        TakeOverFromConfig(run, *e, *e->config);
        Keep(run, *e, *text, nullptr, e->wizard_config ? "wizard" : g_readPurposes.WriteSource(e));
        if (!WaitAfterWrite(run, *e))
            result = JobWriteNoRestart;
        if (e->status.load() == DevStatusCancelled)
            return result;
        if (!(e == job.first && e->wizard_config))
            FreeConfig(*e);
    }
    return result;
}

int32_t Release(DeviceJob& job)
{
    for (DeviceEntry* e = job.first; e; e = e->next) {
        FreeConfig(*e);
        e->wizard_config.reset();
    }
    return 0;
}

int32_t SaveToFile(const Run& run, DeviceEntry& e)
{
    run.Working(&e);
    run.SetStatus(e, DevStatusReadingConfig);
    std::shared_ptr<CfgTempStream> stream;
    if (!DevOpReadConfig(e, &stream) || !stream) {
        run.Redraw(e);
        return JobSaveReadFailed;
    }
    run.Redraw(e);
    const std::string comment = e.file_comment.value_or(e.name.str());
    bool written = CfgExportFile(*stream, e.device_type.str(), e.fw_version.str(), FeatureMask(e), HardwareMask(e),
        e.file_name, comment, run.context.options.no_crypt);
    stream->Close();
    if (written)
        KeepFile(run, e, e.file_name, "backup");
    return written ? JobSaveOk : JobSaveFileFailed;
}

int32_t RestoreFromFile(const Run& run, DeviceEntry& e)
{
    run.Working(&e);
    run.SetStatus(e, DevStatusWritingConfig);
    CfgFileHeader header;
    CfgTempStream text;
    if (CfgReadFileHeader(e.file_name, &header))
        text = CfgImportFile(e.file_name);
    if (!text.IsOpen()) {
        run.SetStatus(e, DevStatusOk);
        return JobRestoreNoFile;
    }
    // The description tells the name, password and addresses the device will have.
    CfgDescriptionPtr desc = CfgLoadDescription(
        e.device_type.str(), e.fw_version.str(), Language(run.context), FeatureMask(e), HardwareMask(e), false);
    if (desc)
        CfgReadFile(text, *desc);
    text.Rewind();
    if (!DevOpWriteConfig(e, text)) {
        run.Redraw(e);
        return JobRestoreWriteFailed;
    }
    if (desc)
        TakeOverFromConfig(run, e, *desc);
    KeepFile(run, e, e.file_name, "restore");
    int ok = WaitAfterWrite(run, e);
    FreeConfig(e);
    return ok ? JobRestoreOk : JobRestoreNoRestart;
}

int32_t UploadFirmware(const Run& run, DeviceJob& job)
{
    DeviceEntry* first = job.first;
    const std::string path = first->file_name;
    uint32_t imageParam = static_cast<uint32_t>(first->image_number);
    int kind = FirmwareReadFile(path, nullptr);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return JobUploadNoFile;
    int32_t result = JobUploadOk;
    for (DeviceEntry* e = first; e && result == JobUploadOk; e = e->next) {
        run.Working(e);
        run.SetStatus(*e, DevStatusUploading);
        e->progress = 0; // the update-started mark: data went to the device
        std::fseek(file.get(), 0, SEEK_SET);
        if (!DevOpUploadFirmware(*e, file.get(), imageParam)) {
            result = e->progress.load() > 0 ? JobUploadBroken : JobUploadFailed;
            run.Redraw(*e);
            break;
        }
        bool update = kind == FirmwareUpdate;
        e->cancel = 0;
        run.SetStatus(*e, update ? DevStatusUpdateRunning : DevStatusRestarting);
        int ok = DevOpWaitRestart(*e, DevWaitRestarts, update ? kUpdateRestartSeconds : 0);
        run.Redraw(*e);
        result = ok ? JobUploadOk : JobUploadNoRestart;
    }
    return result;
}

int32_t ActivateImage(const Run& run, DeviceEntry& e)
{
    run.Working(&e);
    run.SetStatus(e, DevStatusActivating);
    if (!DevOpActivateImage(e, e.image_number)) {
        run.Redraw(e);
        return JobActivateFailed;
    }
    e.cancel = 0;
    run.SetStatus(e, DevStatusRestarting);
    int ok = DevOpWaitRestart(e, DevWaitRestarts, 0);
    run.Redraw(e);
    return ok ? JobActivateOk : JobActivateNoRestart;
}

int32_t SetTime(const Run& run, DeviceJob& job)
{
    const std::string timeText = job.first->cSysTime.str();
    int32_t result = JobTimeOk;
    for (DeviceEntry* e = job.first; e; e = e->next) {
        run.Working(e);
        run.SetStatus(*e, DevStatusSettingClock);
        if (!DevOpSetTime(*e, timeText)) {
            run.Redraw(*e);
            result = JobTimeFailed;
            break;
        }
        DevOpWaitRestart(*e, 0, 0);
        run.Redraw(*e);
        result = JobTimeOk;
    }
    return result;
}
} // namespace

std::string JobConfigName(const CfgDescription& desc)
{
    const CfgItem* item = CfgFindItem(desc, kNameItem);
    return item && !item->IsTable() && item->value ? CutTo(*item->value, DeviceEntry().name.kMax) : std::string();
}

int32_t RunDeviceJob(uint32_t message, DeviceJob& job, uint32_t argument, JobSearchRecord* search, JobContext& context)
{
    Run run { context };
    // A dial-up entry without a phone-book entry gets one named when it is first dialled: the name
    // goes into the device list, so the next dial reuses that entry instead of making another.
    std::vector<DeviceEntry*> unnamed;
    for (DeviceEntry* e = job.first; e; e = e->next)
        if (e->link == LinkDialUp && e->ras_entry.empty())
            unnamed.push_back(e);
    int32_t result = 0;
    switch (message) {
    case JobStartupCheck:
        CheckEntries(run, job, true);
        if (search)
            result = Search(run, *search);
        break;
    case JobSearch:
        if (search)
            result = Search(run, *search);
        break;
    case JobCheck:
        result = Check(run, job, argument);
        break;
    case JobCheckAll:
        result = CheckEntries(run, job, false);
        break;
    case JobReadConfig:
    case JobReadForWizard:
    case JobReadForPrint:
        if (job.first)
            result = ReadConfig(run, job, message);
        break;
    case JobWriteConfig:
        result = WriteConfig(run, job);
        break;
    case JobRelease:
        result = Release(job);
        break;
    case JobSaveToFile:
        if (job.first)
            result = SaveToFile(run, *job.first);
        break;
    case JobRestoreFromFile:
        if (job.first)
            result = RestoreFromFile(run, *job.first);
        break;
    case JobUploadFirmware:
        if (job.first)
            result = UploadFirmware(run, job);
        break;
    case JobActivateImage:
        if (job.first)
            result = ActivateImage(run, *job.first);
        break;
    case JobSetTime:
        if (job.first)
            result = SetTime(run, job);
        break;
    default:
        Diag("device worker: unknown job %u\n", message);
        break;
    }
    for (DeviceEntry* e : unnamed)
        if (!e->ras_entry.empty())
            run.Changed(*e);
    run.Working(nullptr);
    return result;
}
