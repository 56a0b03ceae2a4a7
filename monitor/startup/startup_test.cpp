#include "common/strings.h"
#include "monitor/startup/startup.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
// Records each platform step as one line; the answers are set by the test.
class RecordingPlatform : public TalvinePlatform {
public:
    std::vector<std::string> steps;
    std::string programPath = "C:\\Program Files\\Travik\\Talvine.EXE";
    bool otherInstance = false;
    int otherWindowAfter = 0; // FindOtherMainWindow calls before the window exists; -1: never
    bool snmpStarts = true;
    bool windowsCreated = true;
    uint32_t slept = 0;
    std::vector<uint8_t> records;

    void InitCommonControls() override
    {
        steps.push_back("InitCommonControls");
    }
    uint16_t ChooseResourceLanguage(int dialogId) override
    {
        steps.push_back("ChooseResourceLanguage " + std::to_string(dialogId));
        return 1033;
    }
    void SetThreadLocale(uint16_t lang) override
    {
        steps.push_back("SetThreadLocale " + std::to_string(lang));
    }
    void StartTestControl(uint16_t port) override
    {
        steps.push_back("StartTestControl " + std::to_string(port));
    }
    std::string ProgramPath() override
    {
        return programPath;
    }
    bool IsOtherInstance(const std::string& lockName) override
    {
        steps.push_back("IsOtherInstance " + lockName);
        return otherInstance;
    }
    bool FindOtherMainWindow() override
    {
        if (otherWindowAfter < 0)
            return false;
        return otherWindowAfter-- == 0;
    }
    void Sleep(uint32_t ms) override
    {
        slept += ms;
    }
    void ShowOtherMainWindow() override
    {
        steps.push_back("ShowOtherMainWindow");
    }
    void SendAddRecords(const std::vector<uint8_t>& r, bool own) override
    {
        steps.push_back(own ? "SendAddRecords own" : "SendAddRecords other");
        records = r;
    }
    bool StartSnmp(uint16_t port) override
    {
        steps.push_back("StartSnmp " + std::to_string(port));
        return snmpStarts;
    }
    void ErrorBox(const std::string& text, const std::string& caption) override
    {
        steps.push_back("ErrorBox " + caption + ": " + text.substr(0, text.find('\r')));
    }
    void LoadScripts(const std::string& pattern, const std::string& language) override
    {
        steps.push_back("LoadScripts " + pattern + " " + language);
    }
    void InitLog(const std::string& directory, const std::string& settings, bool toStdout) override
    {
        steps.push_back("InitLog " + directory + " " + settings + (toStdout ? " stdout" : ""));
    }
    void InitViews() override
    {
        steps.push_back("InitViews");
    }
    bool CreateWindows(const std::string& title) override
    {
        steps.push_back("CreateWindows " + title);
        return windowsCreated;
    }
    void RunMessageLoop() override
    {
        steps.push_back("RunMessageLoop");
    }
    void CloseJobSockets() override
    {
        steps.push_back("CloseJobSockets");
    }
    void CloseLog() override
    {
        steps.push_back("CloseLog");
    }
    void FreeScripts() override
    {
        steps.push_back("FreeScripts");
    }
    void StopSnmp() override
    {
        steps.push_back("StopSnmp");
    }
};

const char kLock[] = "IsOtherInstance c:_program files_travik_talvine.exe";
const char kDir[] = "C:\\Program Files\\Travik\\";

TEST(RunTalvine, FirstStartInOrder)
{
    RecordingPlatform p;
    EXPECT_EQ(RunTalvine("-LANG:GER /port:1161 /log2stdout /add:10.0.0.1:pw /testctl:0", p), 0);
    std::string dir = kDir;
    std::vector<std::string> expected { "InitCommonControls", "ChooseResourceLanguage 4000", "SetThreadLocale 1031",
        "StartTestControl 0", kLock, "StartSnmp 1161", "LoadScripts " + dir + "talv*.dsc Deutsch",
        "InitLog " + dir + " " + dir + "talvine.ini stdout", "InitViews", "CreateWindows Travik", "SendAddRecords own",
        "RunMessageLoop", "CloseJobSockets", "CloseLog", "FreeScripts", "StopSnmp" };
    EXPECT_EQ(p.steps, expected);
    EXPECT_EQ(p.records.size(), 14u);
    // The German help file, the list and settings beside the program.
    const TalvinePaths& paths = TalvineGlobalsGet().paths;
    EXPECT_EQ(paths.helpFile, dir + "talvine1.hlp");
    EXPECT_EQ(paths.listFile, dir + "talvine.lst");
    EXPECT_EQ(TalvineGlobalsGet().languageName, "Deutsch");
    StrSetLanguage(1033);
}

TEST(RunTalvine, NoSnmpEndsWithTheMessage)
{
    RecordingPlatform p;
    p.snmpStarts = false;
    RunTalvine("", p);
    std::vector<std::string> expected { "InitCommonControls", "ChooseResourceLanguage 4000", "SetThreadLocale 1033",
        kLock, "StartSnmp 0", "ErrorBox Travik: TCP/IP protocol not found." };
    EXPECT_EQ(p.steps, expected);
}

TEST(RunTalvine, WindowsThatFailStillCleanUp)
{
    RecordingPlatform p;
    p.windowsCreated = false;
    RunTalvine("/add:10.0.0.1", p);
    std::vector<std::string> tail(p.steps.end() - 5, p.steps.end());
    std::vector<std::string> expected { "CreateWindows Travik", "CloseJobSockets", "CloseLog", "FreeScripts",
        "StopSnmp" };
    EXPECT_EQ(tail, expected);
}

TEST(RunTalvine, SecondStartHandsOverItsDevices)
{
    RecordingPlatform p;
    p.otherInstance = true;
    p.otherWindowAfter = 3;
    RunTalvine("/add:10.0.0.1:public /add:10.0.0.2", p);
    std::vector<std::string> expected { "InitCommonControls", "ChooseResourceLanguage 4000", "SetThreadLocale 1033",
        kLock, "ShowOtherMainWindow", "SendAddRecords other" };
    EXPECT_EQ(p.steps, expected);
    EXPECT_EQ(p.slept, 300u);
    std::vector<TalvineAdd> adds = UnpackAddRecords(p.records.data(), p.records.size());
    ASSERT_EQ(adds.size(), 2u);
    EXPECT_EQ(adds[0].community, "public");
    EXPECT_EQ(adds[1].community, "");

    // Without devices only the window is shown.
    RecordingPlatform plain;
    plain.otherInstance = true;
    RunTalvine("", plain);
    EXPECT_EQ(plain.steps.back(), "ShowOtherMainWindow");
}

TEST(RunTalvine, SecondStartGivesUpWhenTheFirstNeverShowsItsWindow)
{
    RecordingPlatform p;
    p.otherInstance = true;
    p.otherWindowAfter = -1;
    RunTalvine("/add:10.0.0.1", p);
    EXPECT_EQ(p.steps.back(), kLock);
    EXPECT_EQ(p.slept, kOtherWindowWaitLimitMs);
}
} // namespace
