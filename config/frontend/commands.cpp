#include "config/frontend/commands.h"

#include "common/ini.h"
#include "common/platform/file.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/jobs.h"
#include "device/devicelist.h"
#include "device/devstatus.h"
#include "device/dialup.h"
#include "device/firmware.h"
#include "device/sysinfo.h"
#include "device/texts.h"

namespace {
std::string Text(unsigned id)
{
    return StrLoad(qorvexal_Strings(), id);
}

bool IsUpload(uint32_t command)
{
    return command == CmdUploadFirmware || command == CmdUploadFirmwareMany;
}

bool IsActivate(uint32_t command)
{
    return command >= CmdActivateTestImage && command <= CmdActivateLast;
}

// Check, New device and Properties: their own job is the check itself.
bool IsCheckCommand(uint32_t command)
{
    return command == CmdCheck || command == CmdNewDevice || command == CmdProperties;
}
} // namespace

uint32_t CommandJob(uint32_t command)
{
    switch (command) {
    case CmdConfigure:
        return JobReadConfig;
    case CmdNewDevice:
    case CmdCheck:
    case CmdProperties:
        return JobCheck;
    case CmdFind:
        return JobSearch;
    case CmdCheckAll:
        return JobCheckAll;
    case CmdPrint:
        return JobReadForPrint;
    case CmdSaveConfig:
        return JobSaveToFile;
    case CmdRestoreConfig:
        return JobRestoreFromFile;
    case CmdUploadFirmware:
    case CmdUploadFirmwareMany:
        return JobUploadFirmware;
    case CmdSetupWizard:
        return JobReadForWizard;
    case CmdSetTime:
        return JobSetTime;
    default:
        return IsActivate(command) ? static_cast<uint32_t>(JobActivateImage) : 0u;
    }
}

uint32_t CommandJobArgument(uint32_t command)
{
    // The checks of Check, New device and Properties come back with the command as their result (so
    // they also stop at the first device that does not answer) and check devices already "Ok" again.
    return IsCheckCommand(command) ? command : 0u;
}

const char* CommandConfirmKey(uint32_t command)
{
    if (command == CmdRestoreConfig)
        return "DontAskForUploadConfig";
    if (IsUpload(command))
        return "DontAskForUploadFirmware";
    if (IsActivate(command))
        return "DontAskForActivateFirmware";
    return nullptr;
}

unsigned CommandConfirmText(uint32_t command)
{
    if (command == CmdRestoreConfig)
        return CmdStrRestoreWarning;
    if (IsUpload(command))
        return CmdStrUploadWarning;
    if (IsActivate(command))
        return CmdStrActivateWarning;
    return 0;
}

std::string CfgFileOpenFailure(const std::string& path)
{
    std::string text;
    if (path.empty() || !FileReadAll(path, &text))
        return Text(CmdStrCantOpenFile);
    return StrFormat(Text(CmdStrNotConfigFile).c_str(), path.c_str());
}

std::string JobResultMessage(uint32_t message, int32_t result, const DeviceJob& job)
{
    const DeviceEntry* first = job.first;
    unsigned id = 0u;
    switch (message) {
    case JobReadConfig:
    case JobReadForWizard:
    case JobReadForPrint:
        if (result == JobReadNoDescription && first)
            return StrFormat(Text(CmdStrNoDescription).c_str(), first->device_type.c_str(), first->fw_version.c_str());
        id = result == JobReadNotTogether ? CmdStrNotTogether : result == JobReadFailed ? CmdStrNoConfigData : 0u;
        break;
    case JobWriteConfig:
        id = result == JobWriteFailed ? CmdStrCantWriteConfig : result == JobWriteNoRestart ? CmdStrLostAfterWrite : 0u;
        break;
    case JobSaveToFile:
        id = result == JobSaveReadFailed ? CmdStrNoConfigData : result == JobSaveFileFailed ? CmdStrCantCreateFile : 0u;
        break;
    case JobRestoreFromFile:
        if (result == JobRestoreNoFile)
            return CfgFileOpenFailure(first ? first->file_name : std::string());
        id = result == JobRestoreWriteFailed ? CmdStrCantWriteConfig
            : result == JobRestoreNoRestart  ? CmdStrLostAfterWrite
                                             : 0u;
        break;
    case JobUploadFirmware: {
        // A device with one firmware image may be left without a working one when the upload broke off.
        const DeviceEntry* failed = first;
        for (const DeviceEntry* e = first; e; e = e->next)
            if (e->status.load() != DevStatusOk)
                failed = e;
        bool images = failed && (failed->flags & DevFlagFirmwareImages);
        if (result == JobUploadOk && first) {
            // Back, but not with the new firmware: the device went back to the previous one.
            FirmwareHeader header;
            if (FirmwareReadFile(first->file_name, &header) && !header.version.empty())
                for (const DeviceEntry* e = first; e; e = e->next)
                    if (!FirmwareVersionIs(e->fw_version.str(), header.version))
                        return DeviceText(FwStrFailedToStart);
        }
        id = result == JobUploadNoFile     ? CmdStrCantOpenFile
            : result == JobUploadFailed    ? CmdStrCantUpload
            : result == JobUploadBroken    ? (images ? CmdStrCantUpload : CmdStrUploadInoperable)
            : result == JobUploadNoRestart ? CmdStrLostAfterUpload
                                           : 0u;
        break;
    }
    case JobActivateImage:
        id = result == JobActivateFailed     ? CmdStrCantActivate
            : result == JobActivateNoRestart ? CmdStrLostAfterActivate
                                             : 0u;
        break;
    case JobSetTime:
        id = result == JobTimeFailed ? CmdStrCantSetTime : 0u;
        break;
    default:
        break;
    }
    return id ? Text(id) : std::string();
}

DeviceCommands::DeviceCommands(CommandUi& ui, std::string iniPath)
    : ui_(ui)
    , iniPath_(std::move(iniPath))
{
}

int DeviceCommands::Confirm(const std::string& text, const char* key, const std::function<std::string()>& list)
{
    if (key && IniGetInt(iniPath_, "Options", key, 0) == 1)
        return 1;
    bool dontAsk = false;
    std::string shown = list ? list() : std::string();
    if (!(shown.empty() ? ui_.Ask(text, key, &dontAsk) : ui_.AskWithList(text, shown, key, &dontAsk)))
        return 0;
    if (key && dontAsk)
        IniWriteString(iniPath_, "Options", key, "1");
    return 1;
}

int DeviceCommands::PostJob(uint32_t message)
{
    if (waiting_ || !job_.first)
        return 0;
    waiting_ = message;
    if (!PostDeviceJob(message, &job_, 0)) {
        waiting_ = 0;
        return 0;
    }
    return 1;
}

int DeviceCommands::Issue(uint32_t commandWord, const std::vector<DeviceEntry*>& selected)
{
    if (waiting_ || DeviceWorkerBusy())
        return 0;
    uint32_t command = commandWord & 0xFFFFu;
    if ((commandWord & 0xFFFF0000u) != kCmdReuseJob) {
        entries_ = selected;
        job_ = DeviceJobBuild(entries_);
    }
    if (!job_.first || !CommandJob(command))
        return 0;
    bool allOk = true;
    for (DeviceEntry* e = job_.first; e; e = e->next)
        allOk = allOk && e->status.load() == DevStatusOk;
    if (allOk || command == CmdCheckAll || (commandWord & 0xFFFF0000u) == kCmdReuseJob)
        return PostOwnJob(command);
    waiting_ = JobCheck;
    if (!PostDeviceJob(JobCheck, &job_, 0x10000u + command)) {
        waiting_ = 0;
        return 0;
    }
    return 1;
}

int DeviceCommands::PostOwnJob(uint32_t command)
{
    uint32_t message = CommandJob(command);
    if (message == JobCheck || message == JobCheckAll) {
        waiting_ = message;
        if (!PostDeviceJob(message, &job_, CommandJobArgument(command)))
            waiting_ = 0;
        return waiting_ ? 1 : 0;
    }
    // A restore asks once its file is chosen: the question lists what that file changes.
    bool askFirst = command != CmdRestoreConfig;
    const char* key = CommandConfirmKey(command);
    if (askFirst && key && !Confirm(Text(CommandConfirmText(command)), key))
        return 0;
    if (IsActivate(command))
        job_.first->image_number = static_cast<int32_t>(command) - static_cast<int32_t>(CmdActivateImage0);
    if (!ui_.Prepare(command, job_))
        return 0;
    if (!askFirst && key
        && !Confirm(Text(CommandConfirmText(command)), key, [&] { return ui_.QuestionList(command, job_); }))
        return 0;
    waiting_ = message;
    if (!PostDeviceJob(message, &job_, 0)) {
        waiting_ = 0;
        return 0;
    }
    return 1;
}

void DeviceCommands::OnJobNotice(const JobNotice& notice)
{
    if (notice.message == JobMsgEnded)
        return;
    if (notice.message == JobMsgBusy) {
        // The end of a job that has no result (check all, release): the command is complete.
        uint32_t ended = static_cast<uint32_t>(notice.result);
        if (waiting_ != 0 && ended == waiting_ && (ended == JobCheckAll || ended == JobRelease)) {
            waiting_ = 0;
            ui_.Finished(ended, 0, job_);
        }
        return;
    }
    waiting_ = 0;
    if (notice.message == JobCheck && notice.result != 0) {
        uint32_t command = static_cast<uint32_t>(notice.result) & 0xFFFFu;
        int count = 0;
        int failed = 0;
        DeviceEntry* failedEntry = nullptr;
        for (DeviceEntry* e = job_.first; e; e = e->next) {
            ++count;
            if (e->status.load() != DevStatusOk) {
                ++failed;
                failedEntry = e;
            }
        }
        if (failed == 0 && !IsCheckCommand(command)) {
            if (!Issue(kCmdReuseJob | command, entries_))
                ui_.Finished(notice.message, 0, job_);
            return;
        }
        // Check, New device and Properties end with their check: every device answered.
        if (failed == 0) {
            ui_.Finished(notice.message, notice.result, job_);
            return;
        }
        if (count == 1 && failedEntry->link == LinkSerial && IsUpload(command)) {
            if (ui_.Ask(Text(CmdStrForceSerialUpload), nullptr, nullptr) && PostOwnJob(command))
                return;
            ui_.Finished(notice.message, notice.result, job_); // not forced: the command ends here
            return;
        }
        int32_t status = failedEntry->status.load();
        if (count == 1 && status == DevStatusDialUpError) {
            ui_.Error(StrFormat(Text(CmdStrDialUpFailed).c_str(), DialupErrorText(failedEntry->ras_error).c_str()));
        } else {
            bool anyFailure = false;
            for (DeviceEntry* e = job_.first; e; e = e->next)
                anyFailure = anyFailure || (e->status.load() != DevStatusOk && e->status.load() != DevStatusCancelled);
            if (anyFailure)
                ui_.Error(Text(count == 1 ? CmdStrNoSysInfo : CmdStrNoSysInfoSome));
        }
        ui_.Finished(notice.message, notice.result, job_);
        return;
    }
    std::string text = JobResultMessage(notice.message, notice.result, job_);
    if (!text.empty())
        ui_.Error(text);
    else if (notice.message == JobUploadFirmware && notice.result == JobUploadOk && AskActivateTestImage())
        return;
    ui_.Finished(notice.message, notice.result, job_);
}

int DeviceCommands::AskActivateTestImage()
{
    DeviceEntry* e = job_.first;
    if (!e || e->next || !(e->flags & DevFlagFirmwareImages))
        return 0;
    const FirmwareStatusInfo& images = e->fw_status;
    if (images.number2 != images.number3 || images.number2 == images.active)
        return 0;
    if (!ui_.Ask(DeviceText(FwStrActivateTestMode), nullptr, nullptr))
        return 0;
    e->image_number = images.number2;
    waiting_ = JobActivateImage;
    if (!PostDeviceJob(JobActivateImage, &job_, 0)) {
        waiting_ = 0;
        return 0;
    }
    return 1;
}

ShellCommand MonitorCommand(const std::vector<DeviceEntry*>& entries)
{
    ShellCommand command;
    command.program = Text(CmdStrMonitorProgram);
    for (const DeviceEntry* e : entries)
        if (e->link == LinkIp) {
            // A password with a blank would split the option: the whole word is quoted then.
            std::string option = StrFormat("/add:%s:%s", e->AddressText().c_str(), e->password.c_str());
            bool blank = option.find_first_of(" \t") != std::string::npos;
            command.arguments += blank ? "\"" + option + "\" " : option + " ";
        }
    return command;
}

ShellCommand BrowserCommand(const DeviceEntry& entry)
{
    return ShellCommand { StrFormat("http://%s/", NetAddressText(entry.address).c_str()), {} };
}

ShellCommand TelnetCommand(const DeviceEntry& entry, const std::string& iniPath)
{
    return ShellCommand { IniGetString(iniPath, "Options", "TelnetClient", "telnet.exe"),
        NetAddressText(entry.address) };
}
