// qorvexal-cli as a front end over the device worker: the devices named on the command line (names,
// addresses, folders of the device list) become a job, commands go through the same command rules as
// the window's (check first, then the command's own job), and results come back as the window's
// messages. Status changes are shown on standard error, one line per change, when it is a terminal or
// QORVEXAL_PROGRESS is set.
#pragma once

#include "cli/cli.h"
#include "cli/qorvexal/dscopts.h"
#include "config/description/cfg_types.h"
#include "config/frontend/commands.h"
#include "config/frontend/jobs.h"
#include "device/devicelist.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#define QV_JOB_USAGE "[-p PASSWORD] [-t SECONDS] " QV_DSC_USAGE

class QvJobFront : public JobWindow, public CommandUi {
public:
    QvJobFront();
    ~QvJobFront() override;

    // Takes -p, -t and the description options and refuses any other option (take the command's own
    // options first). Returns 0 or the exit code.
    int TakeOptions(CliArgs& args);
    // Loads the device list (when one exists) and resolves each word: a folder path ("A/B", "/" for
    // the root) gives its entries, a name or ADDRESS[:PORT] its entry (a new one for an unknown
    // address). Returns 0 or the exit code.
    int Select(const std::vector<std::string>& words);
    // Starts the worker and, for commands that load descriptions, the description index. Returns 0 or
    // the exit code.
    int Start(bool descriptions = true);
    // Select, then Start, for commands that work on one device: `command` names it in the error when
    // `word` gives more or fewer. Returns 0 with the device in `*entry`, or the exit code.
    int StartOne(const std::string& word, const char* command, DeviceEntry** entry);

    // Runs a command of the window on the selected devices (or `only` when given) until it ends.
    // `prepare` fills the job before the command's own job is posted. Returns the last job's result
    // (0 when the check failed or nothing ran).
    int32_t Command(
        uint32_t command, const std::vector<DeviceEntry*>& only = {}, std::function<int(DeviceJob&)> prepare = {});
    // Posts one job directly and waits for its end. Returns its result.
    int32_t Job(uint32_t message, const std::vector<DeviceEntry*>& entries, uint32_t argument = 0);
    // Posts the search job (1028) with the record and waits for its end; the devices found are in
    // `record.results`. Returns the job's result.
    int32_t Search(JobSearchRecord& record);
    // Searches as the window's Find command does: the serial ports (when `serial` is given) and the local
    // network (unless --no-local) in one job, then one job for each --net, each with the search settings
    // of `ini` (-t, when given, for both time-outs) and the TFTP port of --port, which the entries found
    // keep. Returns every device found, in that order.
    std::vector<DeviceEntry> SearchAll(
        const CliSearchOptions& options, const IniFile& ini, SerialSearch* serial = nullptr);
    // Saves the device list when a job changed an entry that the list holds.
    int SaveListIfChanged();

    std::vector<DeviceEntry*>& Selected()
    {
        return selected_;
    }
    // The description options taken by TakeOptions.
    const QvDscOptions& Dsc() const
    {
        return dsc_;
    }
    // The description of `entry` loaded afresh with the device's values as read (its configuration
    // stream); nullptr when either is missing.
    CfgDescriptionPtr FreshCopy(DeviceEntry& entry);
    // Writes the configuration text the entry holds (its stream) into a time-stamped file in `dir`.
    // Returns the file name, "" on failure.
    std::string Backup(DeviceEntry& entry, const std::string& dir);
    // A new time-stamped backup file name for the entry in `dir` (created when missing).
    static std::string BackupPath(const DeviceEntry& entry, const std::string& dir);
    // The directory of backups: "Config" beside the settings file.
    static std::string BackupDirectory();
    // Before writing to a device: keeps a backup of the configuration the entry holds in the directory
    // of backups and prints its name. When that fails, releases the entry and returns 1 (nothing is to
    // be written); else 0.
    int BackupBeforeWrite(DeviceEntry& entry);

    int errors = 0; // messages shown
    // Answers the questions of the command rules; unset: every question is answered Yes (a command
    // typed on the command line is the user's consent to its own confirmation).
    std::function<int(const std::string& text)> answer;
    // The message and result of the last job a command ran (a command may run a follow-up job).
    uint32_t LastMessage() const
    {
        return lastMessage_;
    }
    int32_t LastResult() const
    {
        return lastResult_;
    }

    // JobWindow
    void Redraw(DeviceEntry& entry) override;
    void EntryChanged(DeviceEntry& entry) override;
    void JobDone(uint32_t message, int32_t result, DeviceJob* job) override;
    // CommandUi
    int Ask(const std::string& text, const char* dontAskKey, bool* dontAskAgain) override;
    void Error(const std::string& text) override;
    int Prepare(uint32_t command, DeviceJob& job) override;
    void Finished(uint32_t message, int32_t result, DeviceJob& job) override;

private:
    // Waits for the end of the posted job `message`, showing its result message. Returns its result.
    int32_t WaitForJob(uint32_t message, DeviceJob& job);
    // The next notice of the worker; meanwhile, with status shown, a line for each device that starts
    // dialling.
    JobNotice NextNotice();
    DeviceList list_;
    bool listLoaded_ = false;
    bool changed_ = false;
    std::vector<std::unique_ptr<DeviceEntry>> scratch_;
    std::vector<DeviceEntry*> selected_;
    std::optional<std::string> password_;
    int32_t timeout_ = 0;
    QvDscOptions dsc_;
    QvDescriptionIndex index_;
    std::unique_ptr<DeviceCommands> commands_;
    bool started_ = false;
    bool finished_ = false;
    int32_t lastResult_ = 0;
    uint32_t lastMessage_ = 0;
    std::function<int(DeviceJob&)> prepare_;
    std::vector<int32_t> shown_; // last status shown per entry (by position in selected_)
    std::vector<int32_t> shownProgress_; // last progress kind seen per entry
    bool showStatus_ = false; // status changes on standard error: a terminal, or QORVEXAL_PROGRESS set
};

// The lines of a message with CR (and CR LF) as line breaks.
std::string QvMessageLines(const std::string& text);
// The status text of an entry: "Dial-Up error" carries the dial-up error's text ("Dial-Up error: ...").
std::string QvStatusText(const DeviceEntry& entry);
// Prints the lines of a message (CR as line breaks) on standard error.
void QvPrintMessage(const std::string& text);
// Prints per item what `after` changes against `before` on standard output ("no changes" when nothing).
void QvPrintDiff(const CfgDescription& before, const CfgDescription& after);
// A file name made from the device's name (its address when it has none), safe on every system.
std::string QvDeviceFileBase(const DeviceEntry& entry);
// A scratch file name for a configuration file of the entry, in the temporary directory.
std::string QvScratchFile(const DeviceEntry& entry);
// The name a user knows the device by: for a device selected from the device list, the name the list
// holds for it (a job's check puts the name the device reports into the entry, which the list keeps
// only when the job changed the entry for the list, as a configuration with a new name does); else the
// name the device reports; "" when it has none.
std::string QvDeviceLabel(const DeviceEntry& entry);
// When the entry's status is not "Ok": prints "<program>: <what> <device>: <status text>" on standard
// error and returns 1; else 0.
int QvReportFailure(const DeviceEntry& entry, const char* what);
