// The installer's reading of its INF script: which sections apply to the running system, the products,
// the command line, string references, Exec, shortcut and service lines, the service group order,
// uninstall entries and the target directory. Everything here is portable; the Win32 shell carries out
// what it decides.
#pragma once

#include "setup/inf.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The running system: NT family or 9x family, and its version.
struct SetupOs {
    bool nt = true;
    unsigned major = 10;
    unsigned minor = 0;
};
// "nt:5.0", "9x:4.90"; false for anything else.
bool SetupParseOs(std::string_view text, SetupOs* os);
std::string SetupOsText(const SetupOs& os);

// The install, remove and products sections for the system ("" when the script has none of them).
struct SetupSections {
    std::string install;
    std::string remove;
    std::string products;
};
SetupSections SetupChooseSections(const InfSource& inf, const SetupOs& os);

enum : uint32_t {
    kProductSelected = 1, // selected by default
    kProductNeedsRestart = 2, // a restart is needed after its installation
    kProductRestartNote = 4, // the restart note is shown before the installation
};

struct ProductLine {
    std::string key;
    std::string name; // "DisplayName"
    std::string installSection;
    std::string removeSection;
    uint32_t flags = 0;
    uint32_t icon = 0;
    std::string description;
    std::string version; // "ProductVersion", dotted decimal
};
// Every line of the products section with a non-empty key.
std::vector<ProductLine> SetupReadProducts(const InfSource& inf, std::string_view section);

// Dotted decimal versions, component by component from the left; a missing component counts as 0.
int SetupCompareVersions(std::string_view a, std::string_view b);

// The command line.
struct SetupCommandLine {
    bool quiet = false; // "/quiet", "/silent" and their ":" forms
    bool remove = false;
    // Products named by "/quiet:", "/install:" or "/remove:" (empty: none named).
    std::vector<std::string> keys;
    bool keysGiven = false;
    unsigned reboot = 1; // "/reboot:"
    int style = -1; // "/style:" (-1: not given)
    uint16_t language = 0; // "/lang:" (0: not given)
    std::vector<std::string> unknown; // tokens no option matched
};
SetupCommandLine SetupParseCommandLine(std::string_view text);
// Style when the command line gives none: wizard-97 on common controls 4.71 and later, except on 9x.
int SetupDefaultStyle(const SetupOs& os, unsigned comctlMajor, unsigned comctlMinor);

// String-table references: "%%" is "%", "%N" the string N, "%+N" / "%-N" the string N above or below
// the one being expanded. A string that refers to itself, directly or in a cycle, stops expanding there.
// The result is at most kSetupMaxExpanded characters.
inline constexpr size_t kSetupMaxExpanded = 8192;
std::string SetupExpandString(unsigned id, const std::function<std::string(unsigned)>& lookup);

// Exec lines.
enum : uint32_t { kExecNoWait = 1, kExecDeleteProgram = 2 };
struct ExecLine {
    unsigned level = 0;
    std::string program;
    std::string parameters;
    std::string directory;
    uint32_t flags = 0;
    bool atEntry = false; // an "@" entry of the Exec key: runs the file, waiting for it
};
std::optional<ExecLine> SetupReadExecLine(const InfLine& line);
// Each "%hwnd%" up to the first other "%" replaced by the window handle, written "0x%08x".
std::string SetupReplaceHwnd(std::string_view parameters, uint64_t window);

// Shortcut lines ("MakeIcons" and "DelIcons" sections).
struct ShortcutLine {
    std::string folder; // folder code, at most 15 characters
    std::string link; // relative to the folder, without ".lnk"
    std::string target;
    std::string arguments;
    std::string iconFile;
    int iconIndex = 0;
    bool openFolder = false;
};
ShortcutLine SetupReadShortcutLine(const InfLine& line);
// The folder a folder code names ("CPRG" ...) from the Shell Folders values; none for an unknown code
// or a value that cannot be read. Expandable values are expanded from the environment.
std::optional<std::string> SetupResolveFolder(std::string_view code);
// "%NAME%" references to environment variables replaced; unknown ones stay.
std::string SetupExpandEnvironment(std::string_view text);
// Directory part of a path ("" when it has no "\").
std::string SetupParentPath(std::string_view path);

// Services.
enum class ServiceAction : uint8_t { Stop, Start, Add, Delete };
struct ServiceOp {
    ServiceAction action;
    std::string name;
    std::string installSection; // AddService
};
// The lines of the section "<section>.Services" (read only on NT).
std::vector<ServiceOp> SetupReadServiceOps(const InfSource& inf, std::string_view section);

struct ServiceConfig {
    std::string name;
    std::string displayName;
    uint32_t type = 0x10;
    uint32_t startType = 3;
    uint32_t errorControl = 1;
    std::string binary;
    std::string loadOrderGroup;
    std::vector<std::string> dependencies;
    std::string startName;
    bool hasGroupOrder = false;
    std::string group; // "ServiceGroupOrder" = group [, anchor]
    std::string anchor;
};
ServiceConfig SetupReadServiceConfig(const InfSource& inf, std::string_view section, std::string_view name);
// A binary path with a blank that is not quoted and names an existing file as a whole is quoted, so
// that "C:\Program Files\x.exe" never runs a planted "C:\Program.exe".
std::string SetupQuoteServiceBinary(std::string_view binary, const std::function<bool(const std::string&)>& fileExists);
// The group moved within the group order: removed where it stood, inserted before the anchor ("" or
// "+" prefix) or after it ("-" prefix); an anchor not in the list puts it first ("+") or last ("-").
std::vector<std::string> SetupMoveGroup(std::vector<std::string> list, std::string_view group, std::string_view anchor);
std::vector<std::string> SetupSplitMultiSz(std::string_view data);
std::string SetupJoinMultiSz(const std::vector<std::string>& list);
// Reads the whole "List" of the group order, moves the group and writes the whole list back.
bool SetupApplyGroupOrder(std::string_view group, std::string_view anchor);

// Uninstall entries under HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\<key>.
extern const char kUninstallKey[];
// The command that removes a product: the installed setup.exe, " /remove:" and the key; a path with
// a blank is quoted.
std::string SetupUninstallString(std::string_view setupPath, std::string_view key);
struct UninstallEntry {
    std::string key;
    std::string displayName;
    std::string uninstallString;
    std::string version; // "ProductVersion" and "DisplayVersion"; "" writes none
    std::string targetDir; // "UserTargetDir" and "InstallLocation"; "" writes none
};
// What the system's list of installed programs shows besides the name ("" or 0 writes none).
struct UninstallDisplay {
    std::string publisher; // "Publisher"
    std::string displayIcon; // "DisplayIcon": a file, or a file, "," and an icon index
    uint32_t estimatedSizeKb = 0; // "EstimatedSize"
};
bool SetupWriteUninstallEntry(const UninstallEntry& entry, const UninstallDisplay& display = UninstallDisplay());
bool SetupDeleteUninstallEntry(std::string_view key);
bool SetupHasUninstallEntry(std::string_view key);
std::optional<std::string> SetupInstalledValue(std::string_view key, std::string_view value);

// The files an installation of the sections copies, each once in script order: every entry of their
// "CopyFiles" lists (a "@name" entry is the file itself, a file section's line names its source file in
// the second field, else in the first).
std::vector<std::string> SetupCopiedFiles(const InfSource& inf, const std::vector<std::string>& sections);

// Where the script copies "setup.exe": the file section of a CopyFiles list that has it, and the name.
// `targetPath` gives a file section's target directory (SetupAPI's DestinationDirs).
std::optional<std::string> SetupFindSetupCopy(const InfSource& inf, std::string_view installSection,
    std::string_view fallbackSection, const std::function<std::string(const std::string&)>& targetPath);

// The default target directory when [DestinationDirs] DefaultDestDir names directory 24: the
// ProgramFilesDir value plus the line's second field; none otherwise (the platform's default applies).
std::optional<std::string> SetupDefaultTargetDir(const InfSource& inf);

// Conditions: the condition sections a section names and their (library, function) lines.
struct ConditionCheck {
    std::string library;
    std::string function;
};
std::vector<ConditionCheck> SetupReadConditions(const InfSource& inf, std::string_view section);
