// The monitor's start-up sequence. The order of the steps is fixed here; what each step does on the
// system goes through TalvinePlatform (Win32 in monitor/ui/, a recording substitute in the tests).
#pragma once

#include "monitor/startup/options.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The files of the monitor: what it reads in the program's directory, what it writes (settings, device
// list, the "Log" and "Accounting" folders) in the data directory, which is the program's own unless
// that takes no files (common/datafolder.h).
struct TalvinePaths {
    std::string directory; // with its trailing separator
    std::string dataDirectory; // with its trailing separator
    std::string settingsFile; // talvine.ini (TvStrSettingsFile)
    std::string scriptPattern; // talv*.dsc (TvStrScriptPattern)
    std::string listFile; // talvine.lst (TvStrListFile)
    std::string helpFile; // talvine%s.hlp (TvStrHelpFile) with TvStrHelpFileSuffix filled in
    std::string guideFile; // the user's guide in HTML (TvStrGuideFile), opened when there is no help file
};
// `dataDirectory` empty: the program's directory.
TalvinePaths BuildTalvinePaths(std::string_view programPath, const std::string& dataDirectory = {});

// The process-wide settings fixed at start-up.
struct TalvineGlobals {
    uint16_t uiLanguage = 1033;
    std::string languageName; // TvStrLanguageName: the scripts choose their texts by it
    TalvineOptions options;
    TalvinePaths paths;
};
TalvineGlobals& TalvineGlobalsGet();

// Window classes and the dialog whose resource languages decide the user-interface language.
constexpr const char* kTravikWindowClass = "TravikWindowClass";
constexpr const char* kTravikTrayClass = "TravikTrayWndClass";
constexpr const char* kTravikDisplayClass = "TravikDisplayWindowClass";
constexpr int kTalvineLanguageDialogId = 4000;
// A second start waits this long, in steps, for the first one's main window.
constexpr uint32_t kOtherWindowWaitStepMs = 100;
constexpr uint32_t kOtherWindowWaitLimitMs = 20000;

class TalvinePlatform {
public:
    virtual ~TalvinePlatform() = default;
    // Step 1.
    virtual void InitCommonControls() = 0;
    virtual uint16_t ChooseResourceLanguage(int dialogId) = 0;
    virtual void SetThreadLocale(uint16_t lang) = 0;
    // Right after the options: the test control channel on 127.0.0.1 (only with "testctl:").
    virtual void StartTestControl(uint16_t port)
    {
        (void)port;
    }
    virtual std::string ProgramPath() = 0;
    // Step 3: where the monitor writes (common/datafolder.h); the program directory unless the
    // platform decides otherwise.
    virtual std::string DataDirectory(const std::string& programDirectory)
    {
        return programDirectory;
    }
    // Step 2: takes the lock named `lockName`; true when another instance holds it.
    virtual bool IsOtherInstance(const std::string& lockName) = 0;
    // The other instance's main window: true once it exists.
    virtual bool FindOtherMainWindow() = 0;
    virtual void Sleep(uint32_t ms) = 0;
    virtual void ShowOtherMainWindow() = 0;
    // The "add:" records to the other instance's main window (`own` false) or to the own one.
    virtual void SendAddRecords(const std::vector<uint8_t>& records, bool own) = 0;
    // Step 4: false when the SNMP client cannot start.
    virtual bool StartSnmp(uint16_t port) = 0;
    virtual void ErrorBox(const std::string& text, const std::string& caption) = 0;
    // Step 5.
    virtual void LoadScripts(const std::string& pattern, const std::string& language) = 0;
    virtual void InitLog(const std::string& directory, const std::string& settingsFile, bool toStdout) = 0;
    virtual void InitViews() = 0;
    // Step 6: the taskbar window, the main window and the accelerators; false when that fails.
    virtual bool CreateWindows(const std::string& title) = 0;
    // Step 8.
    virtual void RunMessageLoop() = 0;
    virtual void CloseJobSockets() = 0;
    virtual void CloseLog() = 0;
    virtual void FreeScripts() = 0;
    virtual void StopSnmp() = 0;
};

// The lock name of the single instance: the full path in lower case, "\" replaced by "_".
std::string TalvineLockName(std::string_view programPath);

// The whole start-up and run of the program; returns 0 in every case.
int RunTalvine(std::string_view commandLine, TalvinePlatform& platform);
