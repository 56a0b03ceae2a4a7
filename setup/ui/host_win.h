// The installer's steps carried out on Windows: SetupAPI's file queue and registry sections, the
// service control manager, the shell's link object, programs started through the shell and plug-in
// libraries. Progress goes to a window as posted messages (none in quiet mode).
#pragma once

#include "setup/plugin_step.h"
#include "setup/setup_plan.h"

#include <windows.h>

#include <atomic>
#include <setupapi.h>
#include <string>

// Messages posted to the progress window.
enum : UINT {
    kMsgStage = WM_APP + 1, // wParam: stage (2 to 7)
    kMsgProgressRange = WM_APP + 2, // wParam: maximum (0 hides the bar)
    kMsgProgressPos = WM_APP + 3, // wParam: position
    kMsgStepText = WM_APP + 4, // lParam: new char[] text the receiver deletes
    kMsgDone = WM_APP + 5, // wParam: success, lParam: error code
    kMsgQueueProgress
    = WM_APP + 6, // SetupAPI's default callback: wParam 0 with the file count in lParam, then 1 per file
};

class WinSetupHost : public SetupHost {
public:
    // `inf` stays open while the host lives; `progress` (may be null) receives the messages.
    WinSetupHost(HINF inf, HWND progress, bool quiet, bool remove, bool nt, std::string programDir);
    ~WinSetupHost() override;
    WinSetupHost(const WinSetupHost&) = delete;
    WinSetupHost& operator=(const WinSetupHost&) = delete;

    void Stage(unsigned stage) override;
    bool QueueFiles(const std::string& section, uint32_t* error) override;
    bool CommitQueue(uint32_t* error, bool* restart) override;
    bool InstallRegistry(const std::string& section, uint32_t* error) override;
    bool ServiceStop(const std::string& name) override;
    bool ServiceStart(const std::string& name) override;
    bool ServiceAdd(const ServiceConfig& config, uint32_t* error) override;
    bool ServiceDelete(const std::string& name, uint32_t* error) override;
    bool FileExists(const std::string& path) override;
    bool CreateDirectories(const std::string& path) override;
    bool CreateLink(const std::string& linkFile, const ShortcutLine& line, const std::string& workDir) override;
    void OpenFolder(const std::string& path) override;
    bool RemoveFile(const std::string& path) override;
    bool RemoveEmptyDirectory(const std::string& path) override;
    void Exec(const ExecLine& line) override;
    void AllowShutdown(bool allow) override;
    std::vector<PluginStepInfo> CollectPluginSteps(const std::string& library) override;
    void RunPluginStep(const PluginStepInfo& step) override;
    bool CheckCondition(const std::string& library, const std::string& function, std::string* message) override;

    // The queue callback's view (public for the callback function).
    UINT OnQueueNotify(UINT notification, UINT_PTR param1, UINT_PTR param2);

private:
    void Post(UINT message, WPARAM wParam, LPARAM lParam = 0);
    void RegisterDeleteAtRestart(const std::string& path);

    HINF inf_;
    HWND progress_;
    bool quiet_;
    bool remove_;
    bool nt_;
    HSPFILEQ queue_ = INVALID_HANDLE_VALUE;
    PluginLoader plugins_;
    bool restart_ = false; // a file could not be replaced or deleted now
    std::vector<std::string> delayedDirs_; // folders of files deleted at restart
    std::vector<std::string> deletedDirs_; // folders from which files were deleted
    std::vector<std::string> pendingDeletes_; // files an earlier removal left to the restart (NT)
    void* defaultContext_ = nullptr;
};

// True while shutdown requests are to be allowed (the level-3 Exec pass).
extern std::atomic<bool> g_setupShutdownAllowed;
// The text of a system error code ("" for 0 or an unknown code).
std::string SetupSystemMessage(uint32_t error);
