// The main window's device commands as jobs: a command first checks its devices unless every one is
// "Ok", then posts its own job; the confirmations before the risky ones (with their DontAskFor keys);
// the messages for failed checks and for every job result; and the commands that start other programs.
// The front end (the Win32 window, the command-line tool) supplies the dialogs through CommandUi and
// hands every notice of the worker to OnJobNotice.
#pragma once

#include "config/frontend/worker.h"
#include "device/deviceentry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Menu identifiers of the device commands.
enum DeviceCommandId : uint32_t {
    CmdConfigure = 1304,
    CmdNewDevice = 1306,
    CmdFind = 1307,
    CmdCheck = 1308,
    CmdCheckAll = 1309,
    CmdDelete = 1310,
    CmdProperties = 1311,
    CmdPrint = 1312,
    CmdSaveConfig = 1314,
    CmdRestoreConfig = 1315,
    CmdUploadFirmware = 1319,
    CmdUploadFirmwareMany = 1321,
    CmdActivateTestImage = 1322, // the image running in test mode
    CmdActivateImage0 = 1323, // 1323 + n activates image n, up to 1332
    CmdActivateLast = 1332,
    CmdSetupWizard = 1349,
    CmdSetTime = 1350,
    CmdMonitor = 1351,
    CmdBrowser = 1353,
    CmdTelnet = 1354,
};
constexpr uint32_t kCmdReuseJob = 0xFFFF0000u; // high 16 bits: reuse the current job (after its check)

// String ids of the messages.
constexpr unsigned CmdStrNoSysInfo = 1700;
constexpr unsigned CmdStrNoSysInfoSome = 1701;
constexpr unsigned CmdStrNoConfigData = 1702;
constexpr unsigned CmdStrCantWriteConfig = 1703;
constexpr unsigned CmdStrCantUpload = 1704;
constexpr unsigned CmdStrCantActivate = 1705;
constexpr unsigned CmdStrCantSetTime = 1706;
constexpr unsigned CmdStrLostAfterWrite = 1707;
constexpr unsigned CmdStrLostAfterUpload = 1708;
constexpr unsigned CmdStrLostAfterActivate = 1709;
constexpr unsigned CmdStrNotTogether = 1710;
constexpr unsigned CmdStrNoWizard = 1711;
constexpr unsigned CmdStrCantCreateFile = 1712;
constexpr unsigned CmdStrForceSerialUpload = 1713;
constexpr unsigned CmdStrDialUpFailed = 1714;
constexpr unsigned CmdStrDeleteOne = 1715;
constexpr unsigned CmdStrDeleteMany = 1716;
constexpr unsigned CmdStrSaveTitle = 1717;
constexpr unsigned CmdStrRestoreWarning = 1718;
constexpr unsigned CmdStrRestoreTitle = 1719;
constexpr unsigned CmdStrFirmwareTitleOne = 1720;
constexpr unsigned CmdStrFirmwareTitleMany = 1721;
constexpr unsigned CmdStrActivateWarning = 1722;
constexpr unsigned CmdStrCantExecute = 1723;
constexpr unsigned CmdStrMonitorProgram = 1724;
constexpr unsigned CmdStrUploadInoperable = 1725;
constexpr unsigned CmdStrUploadWarning = 1726;
constexpr unsigned CmdStrNoDescription = 1919;
constexpr unsigned CmdStrCantOpenFile = 1924;
constexpr unsigned CmdStrNotConfigFile = 2384; // "%s is not a configuration file."
constexpr unsigned CmdStrDontShowAgain = 1806;

// The job a command posts once its devices are checked (0: none), and its argument.
uint32_t CommandJob(uint32_t command);
uint32_t CommandJobArgument(uint32_t command);
// The DontAskFor key of the confirmation before a command's job, or nullptr when it asks nothing.
const char* CommandConfirmKey(uint32_t command);
// The string id of that confirmation.
unsigned CommandConfirmText(uint32_t command);

// Why a configuration file could not be opened: "Can't open file." when it cannot be read, else that
// the file (its header lines do not parse) is not a configuration file.
std::string CfgFileOpenFailure(const std::string& path);

// The message for a job's result: "" when the result means success (or has no message).
std::string JobResultMessage(uint32_t message, int32_t result, const DeviceJob& job);

// What the command layer needs from its front end.
class CommandUi {
public:
    virtual ~CommandUi() = default;
    // A question with Yes and No (`dontAskKey`: the check box "&Don't show this warning next time"
    // is offered; set `dontAskAgain` when the user ticked it). Returns 1 for Yes.
    virtual int Ask(const std::string& text, const char* dontAskKey, bool* dontAskAgain) = 0;
    // The same question with a list below it (what a write will change); without a list of its own
    // the front end asks the plain question.
    virtual int AskWithList(
        const std::string& text, const std::string& list, const char* dontAskKey, bool* dontAskAgain)
    {
        (void)list;
        return Ask(text, dontAskKey, dontAskAgain);
    }
    // The list a command's question shows, once the command's dialogs filled the job (the changes a
    // restore makes); "" for none.
    virtual std::string QuestionList(uint32_t command, const DeviceJob& job)
    {
        (void)command;
        (void)job;
        return {};
    }
    // An error message.
    virtual void Error(const std::string& text) = 0;
    // The dialogs before a command's job (file, firmware, date and time): fill the job's entries
    // (file_name, image_number, cSysTime). Returns 0 when the user cancelled.
    virtual int Prepare(uint32_t command, DeviceJob& job)
    {
        (void)command;
        (void)job;
        return 1;
    }
    // A job ended with its result; the message (if any) was shown already.
    virtual void Finished(uint32_t message, int32_t result, DeviceJob& job)
    {
        (void)message;
        (void)result;
        (void)job;
    }
};

// A program the front end starts through the shell.
struct ShellCommand {
    std::string program;
    std::string arguments;
};

class DeviceCommands {
public:
    // `iniPath`: the settings file with the DontAskFor keys (section "Options").
    DeviceCommands(CommandUi& ui, std::string iniPath);

    // Issues a device command for the selected entries (ignored with kCmdReuseJob in the high bits:
    // the current job is used). Returns 0 when nothing was posted (a job runs, nothing to do,
    // cancelled by the user).
    int Issue(uint32_t commandWord, const std::vector<DeviceEntry*>& selected);
    // Every notice the worker posts goes through here: check results continue or end the command,
    // other results are turned into messages.
    void OnJobNotice(const JobNotice& notice);
    // True while a job of this front end runs (posted, result not in yet).
    bool Waiting() const
    {
        return waiting_ != 0;
    }
    DeviceJob& Job()
    {
        return job_;
    }
    // A confirmation with its DontAskFor key: 1 when the key is set or the user said Yes (a ticked
    // check box stores 1 under the key).
    // `list`: made only when the question is asked, shown below it ("" for none).
    int Confirm(const std::string& text, const char* key, const std::function<std::string()>& list = nullptr);
    // Posts a follow-up job on the entries of the current job (the configuration sheet's write and
    // release jobs); its result comes back through OnJobNotice. 0 when it could not be posted.
    int PostJob(uint32_t message);

private:
    int PostOwnJob(uint32_t command);
    // After an upload to one device with several images whose new image runs in test mode: asks
    // whether to activate it and posts that job on Yes. 1 when the job was posted.
    int AskActivateTestImage();

    CommandUi& ui_;
    std::string iniPath_;
    std::vector<DeviceEntry*> entries_;
    DeviceJob job_;
    uint32_t waiting_ = 0; // the message of the job in flight
};

// "Monitor device": the monitor program with one "/add:%s:%s " (address, password) per IP device.
ShellCommand MonitorCommand(const std::vector<DeviceEntry*>& entries);
// "Open web browser": "http://%s/" with the device's address.
ShellCommand BrowserCommand(const DeviceEntry& entry);
// "Open telnet session": the program named by "TelnetClient" (default "telnet.exe") with the address.
ShellCommand TelnetCommand(const DeviceEntry& entry, const std::string& iniPath);
