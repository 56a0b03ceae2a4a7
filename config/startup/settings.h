// The configuration tool's settings file (qorvexal.ini): every key it knows, with its default, and the
// file paths built at start-up from the program directory and the string table.
#pragma once

#include <cstdint>
#include <string>

class IniFile;

// Keys of the settings file, read once into one record. A missing file or key gives the default.
struct QorvexalSettings {
    // [Override]
    std::string dscLanguage; // DscLanguage, at most 255 characters; default MainStrLanguage
    // [Options]
    int32_t dontWarnAboutWinsock = 0;
    int32_t easyConfig = 1;
    int32_t dontWarnAboutEasyConfig = 0;
    int32_t dontAskForExit = 0;
    int32_t dontAskForDeviceDelete = 0;
    int32_t dontAskForUploadConfig = 0;
    int32_t dontAskForUploadFirmware = 0;
    int32_t dontAskForActivateFirmware = 0;
    std::string cfgPath;
    std::string upxPath;
    std::string telnetClient = "telnet.exe";
    int32_t searchTimeoutLan = 3;
    int32_t searchTimeoutWan = 15;
    int32_t searchAtStartup = 1;
    int32_t searchStartupLan = 1;
    int32_t searchStartupWan = 0;
    std::string searchStartupWanList; // at most 1023 characters
    int32_t searchLaunchWizard = 1;
    std::string currentFolder;
    // [Window]
    int32_t showToolBar = 1;
    int32_t showStatusBar = 1;
    std::string listColumns;
    int32_t viewStyle = 1;
    int32_t autoArrange = 0;
    std::string folderTree;
};

// Section and key names.
inline constexpr const char* kSectionOverride = "Override";
inline constexpr const char* kSectionOptions = "Options";
inline constexpr const char* kSectionWindow = "Window";
inline constexpr const char* kKeyDscLanguage = "DscLanguage";
inline constexpr const char* kKeyDontWarnAboutWinsock = "DontWarnAboutWinsock";

// Reads every known key; `defaultDscLanguage` is MainStrLanguage of the table in use.
QorvexalSettings ReadSettings(const IniFile& ini, const std::string& defaultDscLanguage);
QorvexalSettings ReadSettingsFile(const std::string& path, const std::string& defaultDscLanguage);

// The file names of the running program, from its directory and the string table (MainStrIniName to
// MainStrGuideName, config/frontend/mainview.h). What the program reads comes from its own directory;
// what it writes goes to the data directory (the program's own, or the user's when that one takes no
// files: common/datafolder.h).
struct StartupPaths {
    std::string programDirectory; // ends with the separator
    std::string dataDirectory; // ends with the separator
    std::string settingsFile; // qorvexal.ini
    std::string descriptionPattern; // qorv????.dsc
    std::string wizardPattern; // qorv????.wiz
    std::string deviceListFile; // qorvexal.lst
    std::string helpFile; // qorvexl%s.hlp with MainStrHelpLanguage
    std::string guideFile; // the user's guide in HTML (MainStrGuideName), opened when there is no help file
    std::string configDirectory; // "Config"
    std::string firmwareDirectory; // "Firmware"
};

// The directory of a program file: the path cut after its last "\" (or "/").
std::string ProgramDirectoryOf(const std::string& programPath);
// Strings are read from the qorvexal table in the language set with StrSetLanguage. The settings file,
// the legacy list file and the folders "Config" and "Firmware" lie in `dataDirectory` (empty: the
// program directory).
StartupPaths BuildStartupPaths(const std::string& programDirectory, const std::string& dataDirectory = {});
