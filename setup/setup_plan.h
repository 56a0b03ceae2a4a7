// The installation as one ordered plan of steps: from the section list, every file queue, plug-in
// collection, Exec pass, service, registry and shortcut step in the order the installer carries them
// out. `SetupRunPlan` carries a plan out through `SetupHost` (the Win32 shell, or a recording host in
// the tests); `SetupInstall` and `SetupRemove` are the installation and removal threads' work.
#pragma once

#include "setup/plugin_step.h"
#include "setup/setup_engine.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class StepKind : uint8_t {
    QueueFiles, // queue the section's file operations
    CollectPlugins, // collect the steps of a library of the section's "Plugins" key
    Exec, // run a program (an Exec line of the pass's level, or an "@" entry)
    Stage, // the page shows the stage `level` (2 to 6; 7 ends the stages)
    StopService,
    CommitQueue, // copy and delete the queued files
    InstallRegistry, // the section's registry and INI entries
    PluginSteps, // run the collected steps of level 4
    AddService,
    DeleteService,
    MakeIcon,
    DeleteIcon,
    StartService,
    FreePlugins,
    AllowShutdown, // shutdown requests allowed during the level-3 pass ...
    RefuseShutdown, // ... and refused again after it
    OpenFolders, // the folders of shortcuts with the open-folder flag, each once, in the shell
};

struct SetupStep {
    StepKind kind = StepKind::Stage;
    std::string section;
    unsigned level = 0; // Exec pass or stage
    std::string name; // library or service name
    ExecLine exec;
    ShortcutLine shortcut;
    ServiceConfig service;
};

enum : unsigned {
    kStageStopServices = 2,
    kStageFiles = 3,
    kStageRegistry = 4,
    kStageShortcuts = 5,
    kStageStartServices = 6,
    kStageDone = 7,
};

// The plan for the section list. Service sections are read only on NT.
std::vector<SetupStep> SetupBuildPlan(const InfSource& inf, const std::vector<std::string>& sections, bool nt);
// One line describing a step ("exec 1: prog.exe /a (dir ., flags 0)").
std::string SetupStepText(const SetupStep& step);

class SetupHost {
public:
    virtual ~SetupHost() = default;
    virtual void Stage(unsigned stage) = 0;
    virtual bool QueueFiles(const std::string& section, uint32_t* error) = 0;
    // Commits the queue; `restart` is set when a file could not be replaced or deleted now.
    virtual bool CommitQueue(uint32_t* error, bool* restart) = 0;
    virtual bool InstallRegistry(const std::string& section, uint32_t* error) = 0;
    virtual bool ServiceStop(const std::string& name) = 0;
    virtual bool ServiceStart(const std::string& name) = 0;
    virtual bool ServiceAdd(const ServiceConfig& config, uint32_t* error) = 0;
    virtual bool ServiceDelete(const std::string& name, uint32_t* error) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    virtual bool CreateDirectories(const std::string& path) = 0;
    virtual bool CreateLink(const std::string& linkFile, const ShortcutLine& line, const std::string& workDir) = 0;
    // Shows the folder in the shell (not in quiet mode).
    virtual void OpenFolder(const std::string& path) = 0;
    virtual bool RemoveFile(const std::string& path) = 0;
    // Removes the directory when it is empty; false otherwise.
    virtual bool RemoveEmptyDirectory(const std::string& path) = 0;
    virtual void Exec(const ExecLine& line) = 0;
    virtual void AllowShutdown(bool allow) = 0;
    virtual std::vector<PluginStepInfo> CollectPluginSteps(const std::string& library) = 0;
    virtual void RunPluginStep(const PluginStepInfo& step) = 0;
    virtual bool CheckCondition(const std::string& library, const std::string& function, std::string* message) = 0;
};

struct SetupResult {
    bool ok = true;
    uint32_t error = 0; // the platform's error code of a failure (0: none known)
    bool restart = false; // a restart is needed
};

SetupResult SetupRunPlan(const std::vector<SetupStep>& plan, SetupHost& host);

// The conditions of a section, combined with AND; `message` holds the failing library's text.
bool SetupCheckConditions(const InfSource& inf, std::string_view section, SetupHost& host, std::string* message);

// What the installer knows about the script and the system for one run.
struct SetupJob {
    const InfSource* inf = nullptr;
    SetupOs os;
    SetupSections sections;
    std::vector<ProductLine> products;
    std::vector<std::string> selected; // product keys
    std::string targetDir; // "" when none was chosen
    // Target directory of a file section (SetupAPI's DestinationDirs, with directory 32768 set).
    std::function<std::string(const std::string&)> targetPath;
    // Size in bytes of a source file of the installation (none: the entries carry no size).
    std::function<std::optional<uint64_t>(const std::string&)> fileSize;
};

// The installation thread's sections: the install section, then each selected product's.
std::vector<std::string> SetupInstallSectionList(const SetupJob& job);
// Writes the uninstall entries of the selected products and the whole set's "Uninstall" line: name,
// removal command, version, target directory, the script's provider as publisher, the product's
// program (its first shortcut's icon, else its first program file) as icon and the size of the files
// it copies.
void SetupWriteUninstallEntries(const SetupJob& job);
// The whole set's own key (the "Uninstall" line of the install section; "" when there is none).
std::string SetupWholeSetKey(const SetupJob& job);
// The removal's products: the set's own key stands for every installed product and the set itself.
std::vector<std::string> SetupRemovalSelection(const SetupJob& job);
SetupResult SetupInstall(const SetupJob& job, SetupHost& host);

// The removal thread's target directory: the "UserTargetDir" of the first product named that has an
// uninstall entry, else of the first products line with one, else of the whole set's entry.
std::string SetupRemovalTargetDir(const SetupJob& job);
// The removal's sections: each named product's remove section, then the whole set's remove section
// when no other product stays installed.
std::vector<std::string> SetupRemoveSectionList(const SetupJob& job);
// Fails with kSetupErrorNotInstalled when nothing the selection names is installed (has an entry).
SetupResult SetupRemove(const SetupJob& job, SetupHost& host);
// The system's error "This action is only valid for products that are currently installed."
inline constexpr uint32_t kSetupErrorNotInstalled = 1605;

// The product list: every products line with a key; in install mode only those whose install section
// exists and whose conditions hold (`message` keeps the last failure text).
std::vector<ProductLine> SetupAvailableProducts(
    const InfSource& inf, const SetupSections& sections, bool remove, SetupHost& host, std::string* message);
// True when an installed "ProductVersion" of the product is newer than the script's.
bool SetupInstalledIsNewer(const ProductLine& product);
// The selection: the products the command line names (unknown keys select nothing); without names,
// in install mode those selected by default unless a newer version is installed, in remove mode every
// installed product.
std::vector<std::string> SetupInitialSelection(const std::vector<ProductLine>& products, const SetupCommandLine& cmd);
