#include "cli/qorvexal/jobfront.h"

#include "cli/qorvexal/devices.h"
#include "common/ini.h"
#include "common/platform/net.h"
#include "common/tempstream.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/frontend/devicetable.h"
#include "config/frontend/jobs_diff.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/sysinfo.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

std::string QvMessageLines(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void QvPrintMessage(const std::string& text)
{
    CliPrint(stderr, QvMessageLines(text) + "\n");
}

void QvPrintDiff(const CfgDescription& before, const CfgDescription& after)
{
    std::vector<CfgDiffLine> lines = CfgDiff(before, after);
    std::printf("%s", lines.empty() ? "no changes\n" : CfgDiffText(lines).c_str());
}

std::string QvDeviceFileBase(const DeviceEntry& e)
{
    std::string base = e.name.empty() ? e.AddressText() : e.name.str();
    for (char& c : base)
        if (c == '/' || c == '\\' || c == ':' || c == ' ' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>'
            || c == '|')
            c = '_';
    return base;
}

std::string QvScratchFile(const DeviceEntry& e)
{
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    return (dir / StrFormat("qorvexal-%d-%s.lcf", static_cast<int>(getpid()), QvDeviceFileBase(e).c_str())).string();
}

namespace {
// The entries the front selected from the device list, with the name the list holds for each; the
// worker thread updates a name when a job changes an entry for the list.
std::mutex g_listNamesLock;
std::unordered_map<const DeviceEntry*, std::string> g_listNames;

void SetListName(const DeviceEntry& e, bool only_known)
{
    std::lock_guard<std::mutex> lock(g_listNamesLock);
    if (only_known && g_listNames.find(&e) == g_listNames.end())
        return;
    g_listNames[&e] = e.name.str();
}

// "NAME (WHERE)", or WHERE for a device without a name.
std::string Who(const DeviceEntry& e, const std::string& where)
{
    std::string name = QvDeviceLabel(e);
    return name.empty() ? where : name + " (" + where + ")";
}
} // namespace

std::string QvDeviceLabel(const DeviceEntry& e)
{
    {
        std::lock_guard<std::mutex> lock(g_listNamesLock);
        auto known = g_listNames.find(&e);
        if (known != g_listNames.end() && !known->second.empty())
            return known->second;
    }
    return e.name.str();
}

std::string QvStatusText(const DeviceEntry& e)
{
    return DeviceStatusLine(e);
}

int QvReportFailure(const DeviceEntry& e, const char* what)
{
    int32_t status = e.status.load();
    if (status == DevStatusOk)
        return 0;
    std::string text = status == DevStatusCancelled ? std::string("Cancelled") : QvStatusText(e);
    std::string who = Who(e, e.link == LinkSerial ? e.line_name.str() : e.AddressText());
    std::fprintf(stderr, "%s: %s %s: %s\n", CliProgramName(), what, who.c_str(), CliText(text).c_str());
    return 1;
}

QvJobFront::QvJobFront() = default;

QvJobFront::~QvJobFront()
{
    if (started_)
        StopDeviceWorker(nullptr);
    std::lock_guard<std::mutex> lock(g_listNamesLock);
    for (DeviceEntry* e : selected_)
        g_listNames.erase(e);
}

int QvJobFront::TakeOptions(CliArgs& args)
{
    password_ = args.Value("-p", "--password");
    std::optional<std::string> t = args.Value("-t", "--timeout");
    if (t) {
        unsigned long long seconds = 0;
        if (!CliNumber(t, 3600, &seconds, "time-out"))
            return 2;
        if (seconds == 0)
            return CliFail("the time-out must be at least 1 second", 2);
        timeout_ = static_cast<int32_t>(seconds);
    }
    if (int rc = QvTakeDscOptions(args, &dsc_))
        return rc;
    if (std::optional<std::string> unknown = args.UnknownOption())
        return CliFail(*unknown, 2);
    return 0;
}

int QvJobFront::Select(const std::vector<std::string>& words)
{
    if (!listLoaded_) {
        if (!QvLoadDevices(list_))
            return 1;
        listLoaded_ = true;
    }
    for (const std::string& word : words) {
        std::vector<DeviceEntry*> found;
        bool fromList = true;
        std::string path = word == "/" ? std::string() : word;
        DeviceFolder* folder = (word == "/" || word.find('/') != std::string::npos) ? list_.FindFolder(path) : nullptr;
        if (!folder && word != "/" && word.find('/') == std::string::npos)
            folder = list_.FindFolder(word);
        std::vector<DeviceEntry*> named = QvMatchDevices(list_, word);
        // A name several entries share (devices in their factory state report one name) is refused
        // rather than acted on for all of them; a folder names its devices on purpose.
        if (named.size() > 1)
            return CliFail(QvAmbiguousText(word, named), 2);
        if (!named.empty()) {
            found = named;
        } else if (folder) {
            for (auto& e : folder->entries)
                found.push_back(e.get());
        } else {
            DeviceEntry linked;
            std::string error;
            int kind = QvParseLinkSpec(word, &linked, &error);
            if (kind < 0)
                return CliFail(error, 2);
            auto e = std::make_unique<DeviceEntry>(linked);
            if (kind == 0) {
                uint32_t ip = 0;
                uint16_t port = 0;
                if (!QvParseAddressPort(word, &ip, &port))
                    return CliFail("no device or folder named \"" + word + "\" in " + QvIniPath(), 2);
                *e = DeviceEntry();
                e->address = ip;
                e->port = port;
                e->address_list[0] = ip;
            }
            found.push_back(e.get());
            scratch_.push_back(std::move(e));
            fromList = false;
        }
        if (found.empty())
            return CliFail("the folder \"" + word + "\" holds no devices", 2);
        for (DeviceEntry* e : found) {
            if (std::find(selected_.begin(), selected_.end(), e) != selected_.end())
                continue;
            if (password_)
                e->password = *password_;
            if (timeout_)
                e->timeout_s = timeout_;
            if (e->address_list[0] == 0)
                e->address_list[0] = e->address;
            e->status = 0; // nothing is known yet: the command checks first
            selected_.push_back(e);
            if (fromList)
                SetListName(*e, false);
        }
    }
    shown_.assign(selected_.size(), -1);
    shownProgress_.assign(selected_.size(), DevProgressNone);
    return 0;
}

int QvJobFront::Start(bool descriptions)
{
    if (descriptions)
        if (int rc = index_.Start(dsc_))
            return rc;
    showStatus_ = isatty(2) || std::getenv("QORVEXAL_PROGRESS");
    NetStartup();
    JobOptions options;
    options.easy_config = dsc_.easy ? 1 : 0;
    options.language = dsc_.language;
    options.history = HistSettingsFrom(QvIniPath());
    commands_ = std::make_unique<DeviceCommands>(*this, QvIniPath());
    if (!StartDeviceWorker(*this, options))
        return CliFail("cannot start the device worker", 1);
    started_ = true;
    return 0;
}

int QvJobFront::StartOne(const std::string& word, const char* command, DeviceEntry** entry)
{
    if (int rc = Select({ word }))
        return rc;
    if (selected_.size() != 1)
        return CliFail(StrFormat("%s works on one device", command), 2);
    if (int rc = Start())
        return rc;
    *entry = selected_[0];
    return 0;
}

int32_t QvJobFront::Command(
    uint32_t command, const std::vector<DeviceEntry*>& only, std::function<int(DeviceJob&)> prepare)
{
    finished_ = false;
    lastResult_ = 0;
    prepare_ = std::move(prepare);
    if (!commands_->Issue(command, only.empty() ? selected_ : only))
        return 0;
    while (!finished_) {
        JobNotice notice = NextNotice();
        commands_->OnJobNotice(notice);
    }
    // A command that ended with its check has no result of its own.
    return lastMessage_ == CommandJob(command) ? lastResult_ : 0;
}

int32_t QvJobFront::Job(uint32_t message, const std::vector<DeviceEntry*>& entries, uint32_t argument)
{
    std::vector<DeviceEntry*> chain = entries;
    DeviceJob job = DeviceJobBuild(chain);
    if (!PostDeviceJob(message, &job, argument))
        return 0;
    return WaitForJob(message, job);
}

int32_t QvJobFront::Search(JobSearchRecord& record)
{
    DeviceJob job;
    if (!PostDeviceSearch(JobSearch, &job, &record))
        return 0;
    return WaitForJob(JobSearch, job);
}

std::vector<DeviceEntry> QvJobFront::SearchAll(
    const CliSearchOptions& options, const IniFile& ini, SerialSearch* serial)
{
    SearchSettings settings = SearchReadSettings(ini);
    if (options.timeoutText) {
        settings.timeout_lan_s = static_cast<int32_t>(options.timeout);
        settings.timeout_wan_s = static_cast<int32_t>(options.timeout);
    }
    const bool local = !options.noLocal;
    const uint16_t port = static_cast<uint16_t>(options.port);
    std::vector<DeviceEntry> found;
    auto search = [&](SearchRequest request) {
        JobSearchRecord record;
        record.request = request;
        record.settings = settings;
        record.env.port = port;
        record.env.serial = serial;
        Search(record);
        for (DeviceEntry& e : record.results) {
            // Devices found on another port than the standard one take their commands there too: the
            // entries keep the port, so that the device list reaches them without further setup.
            if (e.link == LinkIp && port != kTftpPort)
                e.port = port;
            found.push_back(std::move(e)); // every device found, however many
        }
    };
    if (local || serial) {
        // One job: the serial phase comes before the network phase.
        SearchRequest request;
        request.what = (local ? SearchLocalNet : 0) | (serial ? SearchSerialPorts : 0);
        search(request);
    }
    for (const auto& [address, mask] : options.remote) {
        SearchRequest request;
        request.what = SearchRemoteNet;
        request.remote_address = address;
        request.remote_netmask = mask;
        search(request);
    }
    return found;
}

int32_t QvJobFront::WaitForJob(uint32_t message, DeviceJob& job)
{
    int32_t result = 0;
    for (;;) {
        JobNotice notice = NextNotice();
        if (notice.message == message) {
            result = notice.result;
            std::string text = JobResultMessage(message, result, job);
            if (!text.empty())
                Error(text);
        } else if (notice.message == JobMsgBusy && static_cast<uint32_t>(notice.result) == message) {
            return result;
        }
    }
}

int QvJobFront::SaveListIfChanged()
{
    if (!changed_ || !listLoaded_)
        return 1;
    changed_ = false;
    return QvSaveDevices(list_);
}

CfgDescriptionPtr QvJobFront::FreshCopy(DeviceEntry& e)
{
    if (!e.config_stream)
        return nullptr;
    uint32_t features = (e.flags & DevFlagFeatureWord) ? e.feature_word : 0xFFFFFFFFu;
    uint32_t hardware = (e.flags & DevFlagHwMask) ? e.hw_mask : 0;
    CfgDescriptionPtr desc = CfgLoadDescription(
        e.device_type.str(), e.fw_version.str(), dsc_.language.c_str(), features, hardware, dsc_.easy);
    if (!desc)
        return nullptr;
    CfgReadFile(*e.config_stream, *desc);
    return desc;
}

std::string QvJobFront::BackupDirectory()
{
    std::string ini = QvIniPath();
    std::filesystem::path dir = std::filesystem::path(ini).parent_path();
    return (dir / "Config").string();
}

std::string QvJobFront::BackupPath(const DeviceEntry& e, const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    std::string base = QvDeviceFileBase(e);
    // Earlier backups are kept: a second one within the same second gets a number.
    std::string path;
    for (int n = 1; n < 1000; ++n) {
        path = (std::filesystem::path(dir) / (base + "_" + stamp + (n > 1 ? StrFormat("-%d", n) : "") + ".lcf"))
                   .string();
        if (!std::filesystem::exists(path, ec))
            break;
    }
    return path;
}

std::string QvJobFront::Backup(DeviceEntry& e, const std::string& dir)
{
    if (!e.config_stream)
        return {};
    std::string path = BackupPath(e, dir);
    uint32_t features = (e.flags & DevFlagFeatureWord) ? e.feature_word : 0xFFFFFFFFu;
    uint32_t hardware = (e.flags & DevFlagHwMask) ? e.hw_mask : 0;
    e.config_stream->Rewind();
    bool ok = CfgExportFile(
        *e.config_stream, e.device_type.str(), e.fw_version.str(), features, hardware, path, e.name.str());
    e.config_stream->Rewind();
    return ok ? path : std::string();
}

int QvJobFront::BackupBeforeWrite(DeviceEntry& e)
{
    std::string path = Backup(e, BackupDirectory());
    if (path.empty()) {
        Job(JobRelease, { &e });
        return CliFail("cannot write the backup; nothing was written (--no-backup to write without one)", 1);
    }
    std::printf("backup: %s\n", path.c_str());
    return 0;
}

void QvJobFront::Redraw(DeviceEntry& entry)
{
    if (!showStatus_)
        return;
    for (size_t i = 0; i < selected_.size(); ++i) {
        if (selected_[i] != &entry)
            continue;
        int32_t status = entry.status.load();
        if (shown_[i] == status)
            return;
        shown_[i] = status;
        std::string text = status == DevStatusCancelled ? std::string("Cancelled") : DevStatusText(status);
        std::string who = Who(entry, entry.AddressText());
        std::fprintf(stderr, "  %s: %s\n", who.c_str(), CliText(text).c_str());
        return;
    }
}

JobNotice QvJobFront::NextNotice()
{
    JobNotice notice;
    if (!showStatus_)
        return notices.Get();
    // While waiting: a line when a device starts dialling (its status stays "Checking ..." meanwhile).
    while (!notices.Wait(&notice, 250)) {
        shownProgress_.resize(selected_.size(), DevProgressNone);
        for (size_t i = 0; i < selected_.size(); ++i) {
            DeviceEntry& entry = *selected_[i];
            int32_t kind = entry.progress_kind.load();
            if (kind == shownProgress_[i])
                continue;
            shownProgress_[i] = kind;
            if (kind != DevProgressDialing)
                continue;
            std::string who = Who(entry, entry.AddressText());
            std::string text = DevProgressText(kind, 0, 0, 0, entry.phone_number.str());
            std::fprintf(stderr, "  %s: %s\n", who.c_str(), CliText(text).c_str());
        }
    }
    return notice;
}

void QvJobFront::EntryChanged(DeviceEntry& entry)
{
    SetListName(entry, true); // the list is saved with the entry as it is now
    changed_ = true;
}

void QvJobFront::JobDone(uint32_t message, int32_t result, DeviceJob* job)
{
    (void)result;
    (void)job;
    notices.Post(JobNotice { JobMsgBusy, static_cast<int32_t>(message), nullptr });
}

int QvJobFront::Ask(const std::string& text, const char* dontAskKey, bool* dontAskAgain)
{
    // A command typed on the command line is the user's answer to its own confirmation.
    (void)dontAskKey;
    if (dontAskAgain)
        *dontAskAgain = false;
    return answer ? answer(text) : 1;
}

void QvJobFront::Error(const std::string& text)
{
    ++errors;
    QvPrintMessage(text);
}

int QvJobFront::Prepare(uint32_t command, DeviceJob& job)
{
    (void)command;
    return prepare_ ? prepare_(job) : 1;
}

void QvJobFront::Finished(uint32_t message, int32_t result, DeviceJob& job)
{
    (void)job;
    lastMessage_ = message;
    lastResult_ = result;
    finished_ = true;
}
