// The start-up sequence of the configuration tool. The order of the steps is fixed here; what each
// step does on the system goes through StartupPlatform (Win32 in config/ui/, a recording substitute in
// the tests). The background services that later parts of the program provide are plugged in as hooks.
#pragma once

#include "config/startup/cmdline.h"
#include "config/startup/settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The process-wide settings fixed at start-up.
struct QorvexalGlobals {
    void* instance = nullptr; // module handle for resource loads
    int32_t wizardStyle = 0;
    uint16_t uiLanguage = 1033;
    bool noRtsCts = false;
    bool noCrypt = false;
    std::string dscLanguage; // description language, at most 255 characters
    StartupPaths paths;
    bool networkStarted = false;
};
QorvexalGlobals& Globals();

// The dialog whose resource languages decide the user-interface language.
inline constexpr int kLanguageDialogId = 3023;
// The thread message that wakes the device worker once its queue exists.
inline constexpr uint32_t kWorkerStartMessage = 1024;

class StartupPlatform {
public:
    virtual ~StartupPlatform() = default;
    // Step 1.
    virtual void InitCommonControls() = 0;
    virtual void CommonControlsVersion(uint32_t* major, uint32_t* minor) = 0;
    // The platform family (top bit of the version) and the major version.
    virtual bool IsWin9x() = 0;
    virtual uint32_t MajorVersion() = 0;
    virtual uint16_t ChooseResourceLanguage(int dialogId) = 0;
    // Right after the option pass: the test control channel on 127.0.0.1 (only with "testctl:").
    virtual void StartTestControl(uint16_t port)
    {
        (void)port;
    }
    // Step 3.
    virtual void SetThreadLocale(uint16_t lang) = 0;
    // Step 4: the full path of the running program.
    virtual std::string ProgramPath() = 0;
    // Step 4: where the program writes its settings, list and folders (common/datafolder.h); the
    // program directory unless the platform decides otherwise.
    virtual std::string DataDirectory(const std::string& programDirectory)
    {
        return programDirectory;
    }
    // Step 5: what the verbs do.
    virtual ShellVerbHooks VerbHooks() = 0;
    // Step 6 (an existing directory is no error; failures are ignored).
    virtual void CreateDirectory(const std::string& path) = 0;
    // Step 7.
    virtual bool IsOtherInstance(std::string_view path, std::string_view suffix) = 0;
    virtual void ActivateOtherInstance() = 0;
    // Step 8.
    virtual void LoadDialupLibrary() = 0;
    // Step 9: starts the network stack; `description` receives the library's own description.
    virtual bool StartNetwork(std::string* description) = 0;
    // The company name in the network library's version information; none when it has none.
    virtual std::optional<std::string> NetworkLibraryCompany() = 0;
    // The warning with its "don't show again" check box; returns true when the box was ticked.
    virtual bool WarnWithCheckBox(const std::string& text, const std::string& title, const std::string& checkText) = 0;
    // Step 10.
    virtual void StartDescriptionIndex(const StartupPaths& paths) = 0;
    // Step 11 (includes waking the worker with kWorkerStartMessage).
    virtual void StartDeviceWorker() = 0;
    // Step 12: registers the class and creates the main window; false when that fails.
    virtual bool CreateMainWindow(const std::string& title) = 0;
    // Step 13.
    virtual void RunMessageLoop() = 0;
    // Step 14.
    virtual void StopNetwork() = 0;
    virtual void UnloadDialupLibrary() = 0;
};

// 1 when the common controls are 4.71 or later, forced to 0 on the Windows 9x family above major 3.
int32_t DefaultWizardStyle(uint32_t ccMajor, uint32_t ccMinor, bool win9x, uint32_t majorVersion);
// The network library counts as the system's own only when its company name contains "Microsoft".
bool NetworkLibraryIsForeign(const std::optional<std::string>& company);
// The size of a main window without saved placement.
void MainWindowDefaultSize(int32_t dialogBaseUnitX, int32_t cxFrame, int32_t cxEdge, int32_t* width, int32_t* height);

// The whole start-up and run of the program; returns 0 in every case.
int RunQorvexal(std::string_view commandLine, StartupPlatform& platform);
