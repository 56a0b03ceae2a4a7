#include "config/startup/settings.h"

#include "common/ini.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/mainview.h"

QorvexalSettings ReadSettings(const IniFile& ini, const std::string& defaultDscLanguage)
{
    QorvexalSettings s;
    s.dscLanguage = ini.GetString(kSectionOverride, kKeyDscLanguage, defaultDscLanguage, 255);
    struct IntKey {
        const char* section;
        const char* key;
        int32_t* value;
    } ints[] = {
        { kSectionOptions, kKeyDontWarnAboutWinsock, &s.dontWarnAboutWinsock },
        { kSectionOptions, "EasyConfig", &s.easyConfig },
        { kSectionOptions, "DontWarnAboutEasyConfig", &s.dontWarnAboutEasyConfig },
        { kSectionOptions, "DontAskForExit", &s.dontAskForExit },
        { kSectionOptions, "DontAskForDeviceDelete", &s.dontAskForDeviceDelete },
        { kSectionOptions, "DontAskForUploadConfig", &s.dontAskForUploadConfig },
        { kSectionOptions, "DontAskForUploadFirmware", &s.dontAskForUploadFirmware },
        { kSectionOptions, "DontAskForActivateFirmware", &s.dontAskForActivateFirmware },
        { kSectionOptions, "SearchTimeoutLAN", &s.searchTimeoutLan },
        { kSectionOptions, "SearchTimeoutWAN", &s.searchTimeoutWan },
        { kSectionOptions, "SearchAtStartup", &s.searchAtStartup },
        { kSectionOptions, "SearchStartupLAN", &s.searchStartupLan },
        { kSectionOptions, "SearchStartupWAN", &s.searchStartupWan },
        { kSectionOptions, "SearchLaunchWizard", &s.searchLaunchWizard },
        { kSectionWindow, "ShowToolBar", &s.showToolBar },
        { kSectionWindow, "ShowStatusBar", &s.showStatusBar },
        { kSectionWindow, "ViewStyle", &s.viewStyle },
        { kSectionWindow, "AutoArrange", &s.autoArrange },
    };
    for (const IntKey& k : ints)
        *k.value = ini.GetInt(k.section, k.key, *k.value);
    struct TextKey {
        const char* section;
        const char* key;
        std::string* value;
        size_t limit;
    } texts[] = {
        { kSectionOptions, "CFGPath", &s.cfgPath, 259 },
        { kSectionOptions, "UPXPath", &s.upxPath, 259 },
        { kSectionOptions, "TelnetClient", &s.telnetClient, 259 },
        { kSectionOptions, "SearchStartupWANList", &s.searchStartupWanList, 1023 },
        { kSectionOptions, "CurrentFolder", &s.currentFolder, 255 },
        { kSectionWindow, "ListColumns", &s.listColumns, 255 },
        { kSectionWindow, "FolderTree", &s.folderTree, 1023 },
    };
    for (const TextKey& k : texts)
        *k.value = ini.GetString(k.section, k.key, *k.value, k.limit);
    return s;
}

QorvexalSettings ReadSettingsFile(const std::string& path, const std::string& defaultDscLanguage)
{
    IniFile ini;
    ini.Load(path);
    return ReadSettings(ini, defaultDscLanguage);
}

std::string ProgramDirectoryOf(const std::string& programPath)
{
    size_t cut = programPath.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : programPath.substr(0, cut + 1);
}

StartupPaths BuildStartupPaths(const std::string& programDirectory, const std::string& dataDirectory)
{
    const StrCatalog& table = qorvexal_Strings();
    StartupPaths p;
    p.programDirectory = programDirectory;
    p.dataDirectory = dataDirectory.empty() ? programDirectory : dataDirectory;
    p.settingsFile = p.dataDirectory + StrLoad(table, MainStrIniName);
    p.descriptionPattern = programDirectory + StrLoad(table, MainStrDescriptionFiles);
    p.wizardPattern = programDirectory + StrLoad(table, MainStrWizardFiles);
    p.deviceListFile = p.dataDirectory + StrLoad(table, MainStrDeviceListName);
    // MainStrHelpName holds one "%s" for MainStrHelpLanguage; anything else in it is taken literally.
    std::string help = StrLoad(table, MainStrHelpName);
    size_t at = help.find("%s");
    if (at != std::string::npos)
        help.replace(at, 2, StrLoad(table, MainStrHelpLanguage));
    p.helpFile = programDirectory + help;
    p.guideFile = programDirectory + StrLoad(table, MainStrGuideName);
    p.configDirectory = p.dataDirectory + "Config";
    p.firmwareDirectory = p.dataDirectory + "Firmware";
    return p;
}
