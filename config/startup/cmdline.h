// The command line of the configuration tool: the option pass and the verb pass share one splitting.
#pragma once

#include "common/cmdline.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// "file,printer,driver,port": split at commas outside double quotes, each part without enclosing quotes.
std::vector<std::string> SplitPrintTo(std::string_view value);

// What the option pass found. Options not given stay unset.
struct StartupOptions {
    bool noRtsCts = false; // "nortscts": serial links without hardware handshake
    bool noCrypt = false; // "nocrypt": hidden values written in plain to configuration files
    std::optional<int32_t> wizardStyle; // "wizstyle:" + number
    std::optional<uint16_t> language; // "lang:" + name or number
    // "testctl:" + port: the test control channel on 127.0.0.1 (0: a free port, written to the
    // diagnostic output).
    std::optional<uint16_t> testControlPort;
};

// The option pass. Never fails: unknown tokens are ignored.
void ParseOptions(std::string_view line, StartupOptions* options);

// The entry points the verbs hand their work to. `owner` is the parent window for dialogs (a window
// handle as a number). Unset hooks are skipped.
struct ShellVerbHooks {
    // The lock test of another instance (IsOtherInstance with the verb's suffix).
    std::function<bool(std::string_view path, std::string_view suffix)> isOtherInstance;
    // The hidden "DummyWindowClass" window that owns the verbs' dialogs unless "owner:" names one.
    std::function<uintptr_t()> createDummyOwner;
    std::function<void(uintptr_t)> destroyDummyOwner;
    std::function<void(uintptr_t owner, const std::string& file)> edit;
    std::function<void(uintptr_t owner, const std::string& file)> print;
    std::function<void(uintptr_t owner, const std::string& file, const std::string& printer, const std::string& driver,
        const std::string& port)>
        printTo;
    // shellnew: create the file empty and tell the shell (created true) or that it was deleted (false).
    std::function<bool(const std::string& file)> createEmptyFile;
    std::function<void(const std::string& file)> deleteFile;
    std::function<void(const std::string& file, bool created)> shellNotify;
    // The new-configuration dialog on a fresh file; false when it does not succeed.
    std::function<bool(uintptr_t owner, const std::string& file)> newConfiguration;
    std::function<void(uintptr_t owner, const std::string& iniFile)> autoUpdateFromFile;
    std::function<void(uintptr_t owner, const std::string& device)> autoUpdateDevice;
};

// The verb pass. Returns true when the program is to end without opening its window ("close").
bool HandleShellVerbs(std::string_view line, const ShellVerbHooks& hooks);
