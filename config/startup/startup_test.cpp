#include "common/ini.h"
#include "common/strings.h"
#include "config/startup/startup.h"
#include "device/console.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
std::string TempDir()
{
#ifdef _WIN32
    const char* tmp = std::getenv("TEMP");
    return std::string(tmp ? tmp : ".") + "\\";
#else
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/";
#endif
}

// Records each platform step as one line; the answers are set by the test.
class RecordingPlatform : public StartupPlatform {
public:
    std::vector<std::string> steps;
    std::string programPath = TempDir() + "startup_test_qorvexal.exe";
    bool otherInstance = false;
    bool networkStarts = true;
    std::optional<std::string> company = std::string("Microsoft Corporation");
    bool tickBox = false;
    std::string warning;
    bool win9x = false;
    uint32_t major = 5, ccMajor = 5, ccMinor = 81;

    void InitCommonControls() override
    {
        steps.push_back("InitCommonControls");
    }
    void CommonControlsVersion(uint32_t* ma, uint32_t* mi) override
    {
        *ma = ccMajor;
        *mi = ccMinor;
    }
    bool IsWin9x() override
    {
        return win9x;
    }
    uint32_t MajorVersion() override
    {
        return major;
    }
    uint16_t ChooseResourceLanguage(int dialogId) override
    {
        steps.push_back("ChooseResourceLanguage " + std::to_string(dialogId));
        return 1031;
    }
    void SetThreadLocale(uint16_t lang) override
    {
        steps.push_back("SetThreadLocale " + std::to_string(lang));
    }
    std::string ProgramPath() override
    {
        return programPath;
    }
    ShellVerbHooks VerbHooks() override
    {
        steps.push_back("VerbHooks");
        ShellVerbHooks h;
        h.print = [this](uintptr_t, const std::string& f) { steps.push_back("print " + f); };
        return h;
    }
    void CreateDirectory(const std::string& path) override
    {
        steps.push_back("CreateDirectory " + path.substr(path.find_last_of("\\/") + 1));
    }
    bool IsOtherInstance(std::string_view path, std::string_view suffix) override
    {
        steps.push_back(
            "IsOtherInstance " + std::string(path == programPath ? "self" : path) + "|" + std::string(suffix));
        return otherInstance;
    }
    void ActivateOtherInstance() override
    {
        steps.push_back("ActivateOtherInstance");
    }
    void LoadDialupLibrary() override
    {
        steps.push_back("LoadDialupLibrary");
    }
    bool StartNetwork(std::string* description) override
    {
        steps.push_back("StartNetwork");
        *description = "WinSock 2.0";
        return networkStarts;
    }
    std::optional<std::string> NetworkLibraryCompany() override
    {
        return company;
    }
    bool WarnWithCheckBox(const std::string& text, const std::string& title, const std::string& check) override
    {
        steps.push_back("Warn " + title + " / " + check);
        warning = text;
        return tickBox;
    }
    void StartDescriptionIndex(const StartupPaths& paths) override
    {
        steps.push_back("StartDescriptionIndex " + paths.descriptionPattern.substr(paths.programDirectory.size()));
    }
    void StartDeviceWorker() override
    {
        steps.push_back("StartDeviceWorker");
    }
    bool CreateMainWindow(const std::string& title) override
    {
        steps.push_back("CreateMainWindow " + title);
        return true;
    }
    void RunMessageLoop() override
    {
        steps.push_back("RunMessageLoop");
    }
    void StopNetwork() override
    {
        steps.push_back("StopNetwork");
    }
    void UnloadDialupLibrary() override
    {
        steps.push_back("UnloadDialupLibrary");
    }
};

class Startup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ini_ = ProgramDirectoryOf(platform_.programPath) + "qorvexal.ini";
        std::remove(ini_.c_str());
        StrSetLanguage(1033);
    }
    void TearDown() override
    {
        std::remove(ini_.c_str());
        StrSetLanguage(1033);
    }
    RecordingPlatform platform_;
    std::string ini_;
};
} // namespace

TEST_F(Startup, RunsTheStepsInOrder)
{
    EXPECT_EQ(RunQorvexal("/lang:eng /nocrypt", platform_), 0);
    std::vector<std::string> expected = {
        "InitCommonControls",
        "ChooseResourceLanguage 3023",
        "SetThreadLocale 1033",
        "VerbHooks",
        "CreateDirectory Config",
        "CreateDirectory Firmware",
        "IsOtherInstance self|",
        "LoadDialupLibrary",
        "StartNetwork",
        "StartDescriptionIndex qorv????.dsc",
        "StartDeviceWorker",
        "CreateMainWindow Velquin",
        "RunMessageLoop",
        "StopNetwork",
        "UnloadDialupLibrary",
    };
    EXPECT_EQ(platform_.steps, expected);
    const QorvexalGlobals& g = Globals();
    EXPECT_EQ(g.uiLanguage, 1033);
    EXPECT_TRUE(g.noCrypt);
    EXPECT_FALSE(g.noRtsCts);
    EXPECT_EQ(g.wizardStyle, 1);
    EXPECT_EQ(g.dscLanguage, "English");
    EXPECT_EQ(g.paths.settingsFile, ini_);
    EXPECT_TRUE(g.networkStarted);
}

// The "nortscts" switch reaches the device console, which opens its ports without the handshake; a
// start without it turns the handshake on again.
TEST_F(Startup, NoRtsCtsSwitchesTheConsoleHandshakeOff)
{
    RunQorvexal("/nortscts", platform_);
    EXPECT_TRUE(Globals().noRtsCts);
    EXPECT_FALSE(ConsoleSerialOptions().rtsCts);
    RunQorvexal("", platform_);
    EXPECT_TRUE(ConsoleSerialOptions().rtsCts);
}

TEST_F(Startup, LanguageFromResourcesAndDescriptionLanguageFromSettings)
{
    IniWriteString(ini_, "Override", "DscLanguage", std::string(300, 'x').c_str());
    platform_.win9x = true; // no SetThreadLocale on the 9x family
    platform_.major = 4;
    RunQorvexal("", platform_);
    EXPECT_EQ(Globals().uiLanguage, 1031);
    EXPECT_EQ(Globals().dscLanguage, std::string(255, 'x'));
    EXPECT_EQ(Globals().wizardStyle, 0);
    for (const std::string& s : platform_.steps)
        EXPECT_NE(s.rfind("SetThreadLocale", 0), 0u);
    EXPECT_EQ(Globals().paths.helpFile, Globals().paths.programDirectory + "qorvexl1.hlp"); // the German table
}

TEST_F(Startup, CloseEndsAfterTheVerbs)
{
    RunQorvexal("/close /print:a.lcf", platform_);
    std::vector<std::string> expected = {
        "InitCommonControls",
        "ChooseResourceLanguage 3023",
        "SetThreadLocale 1031",
        "VerbHooks",
        "print a.lcf",
    };
    EXPECT_EQ(platform_.steps, expected);
}

TEST_F(Startup, AnotherInstanceIsActivatedInstead)
{
    platform_.otherInstance = true;
    RunQorvexal("", platform_);
    ASSERT_GE(platform_.steps.size(), 2u);
    EXPECT_EQ(platform_.steps[platform_.steps.size() - 2], "IsOtherInstance self|");
    EXPECT_EQ(platform_.steps.back(), "ActivateOtherInstance");
}

TEST_F(Startup, WarnsAboutAForeignNetworkLibrary)
{
    struct Row {
        bool starts;
        std::optional<std::string> company;
        const char* dontWarn; // null: key absent
        bool tick;
        bool warned;
        const char* keyAfter;
    } rows[] = {
        { true, std::nullopt, nullptr, false, true, "" }, // no version information: foreign
        { true, std::string("Trumpet Software"), nullptr, true, true, "1" }, // ticked box writes 1
        { true, std::string(""), "0", false, true, "0" }, { true, std::nullopt, "1", false, false, "1" },
        { true, std::nullopt, "2", false, false, "2" }, // any non-zero value
        { true, std::string("Microsoft Corporation"), nullptr, false, false, "" },
        { false, std::nullopt, nullptr, false, false, "" }, // no network: no warning
    };
    for (const Row& r : rows) {
        std::remove(ini_.c_str());
        if (r.dontWarn)
            IniWriteString(ini_, "Options", "DontWarnAboutWinsock", r.dontWarn);
        RecordingPlatform p;
        p.networkStarts = r.starts;
        p.company = r.company;
        p.tickBox = r.tick;
        RunQorvexal("/lang:eng", p);
        bool warned = false;
        for (const std::string& s : p.steps)
            warned = warned || s == "Warn Velquin / &Don't show this warning next time";
        EXPECT_EQ(warned, r.warned) << (r.company ? *r.company : "(none)");
        if (warned) {
            EXPECT_EQ(p.warning.find("The network library in use (WinSock 2.0) is not"), 0u);
        }
        EXPECT_EQ(IniGetString(ini_, "Options", "DontWarnAboutWinsock", ""), r.keyAfter);
        bool stopped = false;
        for (const std::string& s : p.steps)
            stopped = stopped || s == "StopNetwork";
        EXPECT_EQ(stopped, r.starts);
    }
}

TEST(StartupSettings, DefaultsAndValues)
{
    IniFile empty;
    QorvexalSettings d = ReadSettings(empty, "English");
    EXPECT_EQ(d.dscLanguage, "English");
    EXPECT_EQ(d.easyConfig, 1);
    EXPECT_EQ(d.telnetClient, "telnet.exe");
    EXPECT_EQ(d.searchTimeoutLan, 3);
    EXPECT_EQ(d.searchTimeoutWan, 15);
    EXPECT_EQ(d.searchAtStartup, 1);
    EXPECT_EQ(d.searchStartupLan, 1);
    EXPECT_EQ(d.searchStartupWan, 0);
    EXPECT_EQ(d.searchLaunchWizard, 1);
    EXPECT_EQ(d.showToolBar, 1);
    EXPECT_EQ(d.showStatusBar, 1);
    EXPECT_EQ(d.viewStyle, 1);
    EXPECT_EQ(d.autoArrange, 0);
    EXPECT_EQ(d.dontAskForExit, 0);

    IniFile ini;
    ini.Parse("[Options]\r\nEasyConfig=0\r\nSearchTimeoutLAN=7\r\nTelnetClient=putty.exe\r\nSearchStartupWANList="
        + std::string(2000, '1') + "\r\n[window]\r\nviewstyle=3\r\n[Override]\r\nDscLanguage=Deutsch\r\n");
    QorvexalSettings s = ReadSettings(ini, "English");
    EXPECT_EQ(s.easyConfig, 0);
    EXPECT_EQ(s.searchTimeoutLan, 7);
    EXPECT_EQ(s.telnetClient, "putty.exe");
    EXPECT_EQ(s.searchStartupWanList.size(), 1023u);
    EXPECT_EQ(s.viewStyle, 3);
    EXPECT_EQ(s.dscLanguage, "Deutsch");
}

TEST(StartupSettings, PathsAndHelpers)
{
    EXPECT_EQ(ProgramDirectoryOf("C:\\Program Files\\Velquin\\qorvexal.exe"), "C:\\Program Files\\Velquin\\");
    EXPECT_EQ(ProgramDirectoryOf("qorvexal.exe"), "");
    StartupPaths p = BuildStartupPaths("C:\\V\\");
    EXPECT_EQ(p.settingsFile, "C:\\V\\qorvexal.ini");
    EXPECT_EQ(p.descriptionPattern, "C:\\V\\qorv????.dsc");
    EXPECT_EQ(p.wizardPattern, "C:\\V\\qorv????.wiz");
    EXPECT_EQ(p.deviceListFile, "C:\\V\\qorvexal.lst");
    EXPECT_EQ(p.helpFile, "C:\\V\\qorvexl0.hlp");
    EXPECT_EQ(p.configDirectory, "C:\\V\\Config");
    EXPECT_EQ(p.firmwareDirectory, "C:\\V\\Firmware");
    EXPECT_EQ(p.guideFile, "C:\\V\\velquin.html");
    // A program folder that takes no files: what the program writes goes to the data folder, what it
    // reads stays beside the program.
    StartupPaths cd = BuildStartupPaths("D:\\", "C:\\Users\\u\\AppData\\Roaming\\Zevra\\Velquin\\");
    EXPECT_EQ(cd.settingsFile, "C:\\Users\\u\\AppData\\Roaming\\Zevra\\Velquin\\qorvexal.ini");
    EXPECT_EQ(cd.deviceListFile, "C:\\Users\\u\\AppData\\Roaming\\Zevra\\Velquin\\qorvexal.lst");
    EXPECT_EQ(cd.configDirectory, "C:\\Users\\u\\AppData\\Roaming\\Zevra\\Velquin\\Config");
    EXPECT_EQ(cd.firmwareDirectory, "C:\\Users\\u\\AppData\\Roaming\\Zevra\\Velquin\\Firmware");
    EXPECT_EQ(cd.descriptionPattern, "D:\\qorv????.dsc");
    EXPECT_EQ(cd.wizardPattern, "D:\\qorv????.wiz");
    EXPECT_EQ(cd.helpFile, "D:\\qorvexl0.hlp");
    EXPECT_EQ(cd.guideFile, "D:\\velquin.html");

    EXPECT_EQ(DefaultWizardStyle(4, 70, false, 4), 0);
    EXPECT_EQ(DefaultWizardStyle(4, 71, false, 4), 1);
    EXPECT_EQ(DefaultWizardStyle(5, 0, false, 5), 1);
    EXPECT_EQ(DefaultWizardStyle(5, 0, true, 4), 0);
    EXPECT_EQ(DefaultWizardStyle(5, 0, true, 3), 1);
    EXPECT_TRUE(NetworkLibraryIsForeign(std::nullopt));
    EXPECT_TRUE(NetworkLibraryIsForeign(std::string("microsoft")));
    EXPECT_FALSE(NetworkLibraryIsForeign(std::string("Microsoft Corporation")));
    int32_t w, h;
    MainWindowDefaultSize(8, 4, 2, &w, &h);
    EXPECT_EQ(w, 8 * 215 / 4 + 12);
    EXPECT_EQ(h, w * 2 / 3);
}
