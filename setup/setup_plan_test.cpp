#include "common/platform/registry.h"
#include "setup/setup_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace {

void EmptyRegistry()
{
    RegUseMemory(true);
    RegMemoryClear();
}

// One value of the Shell Folders key (the common ones under LocalMachine, the user's under CurrentUser).
void WriteShellFolder(RegRoot root, const char* name, const char* folder)
{
    RegKey key;
    ASSERT_EQ(key.Create(root, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"), RegStatus::Ok);
    key.WriteString(name, folder);
}

// A host that records every call as one line and fails the calls it is told to fail.
class RecordingHost : public SetupHost {
public:
    std::vector<std::string> calls;
    std::set<std::string> failing; // "queue:Sec", "commit", "stop:Svc", "add:Svc", "registry:Sec", ...
    std::set<std::string> files; // what FileExists answers true for
    std::set<std::string> nonEmptyDirs;
    bool commitWantsRestart = false;

    void Stage(unsigned stage) override
    {
        calls.push_back("stage " + std::to_string(stage));
    }
    bool QueueFiles(const std::string& section, uint32_t* error) override
    {
        return Call("queue:" + section, error);
    }
    bool CommitQueue(uint32_t* error, bool* restart) override
    {
        *restart = commitWantsRestart;
        return Call("commit", error);
    }
    bool InstallRegistry(const std::string& section, uint32_t* error) override
    {
        return Call("registry:" + section, error);
    }
    bool ServiceStop(const std::string& name) override
    {
        return Call("stop:" + name, nullptr);
    }
    bool ServiceStart(const std::string& name) override
    {
        return Call("start:" + name, nullptr);
    }
    bool ServiceAdd(const ServiceConfig& config, uint32_t* error) override
    {
        return Call("add:" + config.name + " " + config.binary, error);
    }
    bool ServiceDelete(const std::string& name, uint32_t* error) override
    {
        return Call("delete:" + name, error);
    }
    bool FileExists(const std::string& path) override
    {
        return files.count(path) != 0;
    }
    bool CreateDirectories(const std::string& path) override
    {
        return Call("mkdir:" + path, nullptr);
    }
    bool CreateLink(const std::string& linkFile, const ShortcutLine& line, const std::string& workDir) override
    {
        return Call("link:" + linkFile + " -> " + line.target + " in " + workDir, nullptr);
    }
    void OpenFolder(const std::string& path) override
    {
        Call("open:" + path, nullptr);
    }
    bool RemoveFile(const std::string& path) override
    {
        return Call("del:" + path, nullptr);
    }
    bool RemoveEmptyDirectory(const std::string& path) override
    {
        return nonEmptyDirs.count(path) == 0 && Call("rmdir:" + path, nullptr);
    }
    void Exec(const ExecLine& line) override
    {
        Call("exec:" + line.program + (line.atEntry ? " @" : ""), nullptr);
    }
    void AllowShutdown(bool allow) override
    {
        calls.push_back(allow ? "allow shutdown" : "refuse shutdown");
    }
    std::vector<PluginStepInfo> CollectPluginSteps(const std::string& library) override
    {
        calls.push_back("collect:" + library);
        return { { 4, library + "-first", "", 0, "" }, { 4, library + "-second", "", 0, "" },
            { 5, library + "-other", "", 0, "" } };
    }
    void RunPluginStep(const PluginStepInfo& step) override
    {
        calls.push_back("step:" + step.entry);
    }
    bool CheckCondition(const std::string& library, const std::string& function, std::string* message) override
    {
        bool ok = Call("condition:" + library + "!" + function, nullptr);
        *message = ok ? "" : function + " failed";
        return ok;
    }

private:
    bool Call(const std::string& call, uint32_t* error)
    {
        calls.push_back(call);
        if (failing.count(call) != 0) {
            if (error)
                *error = 5;
            return false;
        }
        return true;
    }
};

const char kScript[] = R"([Version]
Signature = "$Chicago$"
[DestinationDirs]
DefaultDestDir = 32768
[Install]
CopyFiles = Main.Files
Exec = @first.exe, Main.Exec, @second.exe
Plugins = steps.dll
MakeIcons = Main.Icons
Uninstall = suite, "Zevra Suite"
Reboot = 0
[Install.Services]
StopService = Svc
AddService = Svc, 0, Svc.Install
StartService = Svc
[Svc.Install]
ServiceType = 16
ServiceBinary = C:\Program Files\Zevra\svc.exe
ServiceGroupOrder = ZevraGroup, +Base
[Main.Files]
setup.exe
[Main.Exec]
2, late.exe
1, early.exe, "%hwnd%"
3, last.exe
[Main.Icons]
CPRG, Zevra\Tool, C:\Program Files\Zevra\tool.exe, , , 0, 1
[Cfg.Install]
Conditions = Cfg.Conditions
CopyFiles = Cfg.Files
Plugins = more.dll
[Cfg.Conditions]
cond.dll, AlwaysHolds
[Cfg.Files]
qorvexal.exe
[Cfg.Remove]
DelIcons = Main.Icons
[Mon.Install]
[Mon.Remove]
[Remove]
DelFiles = Main.Files
[Products]
cfg = Configuration, Cfg.Install, Cfg.Remove, 3, 0, "", 3.0.1
mon = Monitor, Mon.Install, Mon.Remove, 1, 0, "", 2.9
off = Not selected, Mon.Install, Mon.Remove, 0
gone = No section, Gone.Install, Gone.Remove, 1
)";

InfText Script()
{
    InfText inf;
    EXPECT_TRUE(inf.Parse(kScript));
    return inf;
}

std::vector<std::string> PlanText(const InfText& inf, const std::vector<std::string>& sections, bool nt)
{
    std::vector<std::string> lines;
    for (const SetupStep& step : SetupBuildPlan(inf, sections, nt))
        lines.push_back(SetupStepText(step));
    return lines;
}

TEST(SetupPlan, OrderOfSteps)
{
    InfText inf = Script();
    std::vector<std::string> expected = {
        "queue files: Install",
        "queue files: Cfg.Install",
        "collect plug-in steps: steps.dll (Install)",
        "collect plug-in steps: more.dll (Cfg.Install)",
        "exec 1: @first.exe",
        "exec 1: \"early.exe\" \"%hwnd%\" (directory \"\", flags 0)",
        "exec 1: @second.exe",
        "stage 2",
        "stop service: Svc",
        "stage 3",
        "commit file queue",
        "stage 4",
        "registry and INI entries: Install",
        "registry and INI entries: Cfg.Install",
        "plug-in steps of level 4",
        "add service: Svc \"\" type 16 start 3 error 1 binary \"C:\\Program Files\\Zevra\\svc.exe\" group order "
        "\"ZevraGroup\" \"+Base\"",
        "stage 5",
        "make shortcut: CPRG \"Zevra\\Tool\" -> \"C:\\Program Files\\Zevra\\tool.exe\" \"\" (icon \"\",0, open folder)",
        "stage 6",
        "start service: Svc",
        "exec 2: \"late.exe\" \"\" (directory \"\", flags 0)",
        "free plug-in steps",
        "allow shutdown",
        "exec 3: \"last.exe\" \"\" (directory \"\", flags 0)",
        "refuse shutdown",
        "open shortcut folders",
        "stage 7",
    };
    EXPECT_EQ(PlanText(inf, { "Install", "Cfg.Install" }, true), expected);

    // Without NT no service section is read.
    for (const std::string& line : PlanText(inf, { "Install" }, false))
        EXPECT_EQ(line.find("service:"), std::string::npos) << line;
}

TEST(SetupPlan, RunsThroughTheHost)
{
    EmptyRegistry();
    WriteShellFolder(RegRoot::LocalMachine, "Common Programs", "C:\\ProgramData\\Programs");
    InfText inf = Script();
    RecordingHost host;
    host.files.insert("C:\\Program Files\\Zevra\\svc.exe");
    SetupResult result = SetupRunPlan(SetupBuildPlan(inf, { "Install", "Cfg.Install" }, true), host);
    EXPECT_TRUE(result.ok);
    EXPECT_FALSE(result.restart);
    std::vector<std::string> expected = { "queue:Install", "queue:Cfg.Install", "collect:steps.dll", "collect:more.dll",
        "exec:first.exe @", "exec:early.exe", "exec:second.exe @", "stage 2", "stop:Svc", "stage 3", "commit",
        "stage 4", "registry:Install", "registry:Cfg.Install",
        // The steps are kept latest first; only level 4 runs.
        "step:more.dll-second", "step:more.dll-first", "step:steps.dll-second", "step:steps.dll-first",
        // A binary path with a blank that names an existing file is passed quoted.
        "add:Svc \"C:\\Program Files\\Zevra\\svc.exe\"", "stage 5", "mkdir:C:\\ProgramData\\Programs\\Zevra",
        "link:C:\\ProgramData\\Programs\\Zevra\\Tool.lnk -> C:\\Program Files\\Zevra\\tool.exe in C:\\Program "
        "Files\\Zevra",
        "stage 6", "start:Svc", "exec:late.exe", "allow shutdown", "exec:last.exe", "refuse shutdown",
        // The link's folder opens once the installation is complete.
        "open:C:\\ProgramData\\Programs\\Zevra", "stage 7" };
    EXPECT_EQ(host.calls, expected);
    RegKey order;
    ASSERT_EQ(
        order.Open(RegRoot::LocalMachine, "System\\CurrentControlSet\\Control\\ServiceGroupOrder"), RegStatus::Ok);
    uint32_t type = 0;
    std::string list;
    order.QueryValue("List", &type, &list);
    EXPECT_EQ(list, std::string("ZevraGroup\0\0", 12));
}

TEST(SetupPlan, FailuresAndRestarts)
{
    EmptyRegistry();
    InfText inf = Script();
    std::vector<SetupStep> plan = SetupBuildPlan(inf, { "Install" }, true);
    struct Case {
        const char* failing;
        bool ok;
        bool restart;
        const char* lastCall;
    } cases[] = {
        { "stop:Svc", true, true, "stage 7" },
        { "start:Svc", true, true, "stage 7" },
        { "exec:early.exe", true, false, "stage 7" },
        { "queue:Install", false, false, "queue:Install" },
        { "commit", false, false, "commit" },
        { "registry:Install", false, false, "registry:Install" },
        { "add:Svc C:\\Program Files\\Zevra\\svc.exe", false, false, "add:Svc C:\\Program Files\\Zevra\\svc.exe" },
    };
    for (const Case& c : cases) {
        RecordingHost host;
        host.failing.insert(c.failing);
        SetupResult result = SetupRunPlan(plan, host);
        EXPECT_EQ(result.ok, c.ok) << c.failing;
        EXPECT_EQ(result.restart, c.restart) << c.failing;
        EXPECT_EQ(result.error, c.ok ? 0u : 5u) << c.failing;
        EXPECT_EQ(host.calls.back(), c.ok ? std::string(c.lastCall) : "refuse shutdown") << c.failing;
    }
    RecordingHost host;
    host.commitWantsRestart = true;
    EXPECT_TRUE(SetupRunPlan(plan, host).restart);
}

TEST(SetupPlan, DeletedShortcutTakesEmptyFoldersWithIt)
{
    EmptyRegistry();
    WriteShellFolder(RegRoot::CurrentUser, "Programs", "C:\\P\\");
    InfText inf;
    ASSERT_TRUE(inf.Parse("[R]\nDelIcons = I\n[I]\nUPRG, A\\B\\Link\nUPRG, Kept\\Link\nBAD, X\n"));
    RecordingHost host;
    host.nonEmptyDirs.insert("C:\\P\\Kept");
    SetupRunPlan(SetupBuildPlan(inf, { "R" }, true), host);
    std::vector<std::string> shortcutCalls;
    for (const std::string& call : host.calls)
        if (call.starts_with("del:") || call.starts_with("rmdir:"))
            shortcutCalls.push_back(call);
    EXPECT_EQ(shortcutCalls,
        (std::vector<std::string> {
            "del:C:\\P\\A\\B\\Link.lnk", "rmdir:C:\\P\\A\\B", "rmdir:C:\\P\\A", "del:C:\\P\\Kept\\Link.lnk" }));
}

TEST(SetupPlan, ShortcutFoldersOpenOnceAtTheEnd)
{
    EmptyRegistry();
    WriteShellFolder(RegRoot::CurrentUser, "Programs", "C:\\P");
    WriteShellFolder(RegRoot::CurrentUser, "Desktop", "C:\\D");
    InfText inf;
    ASSERT_TRUE(inf.Parse("[I]\nMakeIcons = A, B\nDelIcons = C\n"
                          "[A]\nUPRG, Zevra\\Tools\\One, C:\\Z\\one.exe, , , 0, 1\n"
                          // The same folder spelled otherwise is opened once.
                          "UPRG, ZEVRA\\tools\\Two, C:\\Z\\two.exe, , , 0, 1\n"
                          "UPRG, Zevra\\Plain, C:\\Z\\plain.exe\n"
                          // A link that cannot be written leaves its folder closed.
                          "UDSK, Broken\\Link, C:\\Z\\broken.exe, , , 0, 1\n"
                          "[B]\nUDSK, Zevra, C:\\Z\\desk.exe, , , 0, 2\n"
                          // A deleted shortcut never opens its folder.
                          "[C]\nUPRG, Old\\Link, , , , 0, 1\n"));
    std::vector<std::string> text;
    for (const SetupStep& step : SetupBuildPlan(inf, { "I" }, true))
        text.push_back(SetupStepText(step));
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text[text.size() - 2], "open shortcut folders");

    RecordingHost host;
    host.failing.insert("link:C:\\D\\Broken\\Link.lnk -> C:\\Z\\broken.exe in C:\\Z");
    EXPECT_TRUE(SetupRunPlan(SetupBuildPlan(inf, { "I" }, true), host).ok);
    std::vector<std::string> tail;
    bool refused = false;
    for (const std::string& call : host.calls) {
        refused = refused || call == "refuse shutdown";
        if (call.starts_with("open:")) {
            EXPECT_TRUE(refused) << call << " opened before the installation ended";
            tail.push_back(call);
        }
    }
    EXPECT_EQ(tail, (std::vector<std::string> { "open:C:\\P\\Zevra\\Tools", "open:C:\\D" }));
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "mkdir:C:\\P\\Zevra\\Tools"), host.calls.end());

    // Without a flag the plan has no such step.
    ASSERT_TRUE(inf.Parse("[I]\nMakeIcons = A\n[A]\nUPRG, Zevra\\Plain, C:\\Z\\plain.exe, , , 0, 0\n"));
    for (const SetupStep& step : SetupBuildPlan(inf, { "I" }, true))
        EXPECT_NE(step.kind, StepKind::OpenFolders);
}

SetupJob Job(const InfText& inf, std::vector<std::string> selected)
{
    SetupJob job;
    job.inf = &inf;
    job.sections = SetupChooseSections(inf, job.os);
    job.products = SetupReadProducts(inf, job.sections.products);
    job.selected = std::move(selected);
    job.targetDir = "C:\\Program Files\\Zevra";
    job.targetPath = [](const std::string&) { return std::string("C:\\Program Files\\Zevra"); };
    return job;
}

TEST(SetupJobs, InstallThenRemoveProductByProduct)
{
    EmptyRegistry();
    InfText inf = Script();
    RecordingHost host;
    SetupResult result = SetupInstall(Job(inf, { "cfg", "mon" }), host);
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(result.restart); // cfg has flag bit 1
    EXPECT_EQ(SetupInstalledValue("cfg", "UninstallString"), "\"C:\\Program Files\\Zevra\\setup.exe\" /remove:cfg");
    EXPECT_EQ(SetupInstalledValue("cfg", "ProductVersion"), "3.0.1");
    EXPECT_EQ(SetupInstalledValue("mon", "UserTargetDir"), "C:\\Program Files\\Zevra");
    EXPECT_EQ(SetupInstalledValue("suite", "DisplayName"), "Zevra Suite");
    EXPECT_EQ(SetupInstalledValue("suite", "UninstallString"), "\"C:\\Program Files\\Zevra\\setup.exe\" /remove:suite");
    EXPECT_FALSE(SetupHasUninstallEntry("off"));

    // Removing one product while the other stays installed leaves the whole set's section alone.
    SetupJob first = Job(inf, { "cfg" });
    EXPECT_EQ(SetupRemovalTargetDir(first), "C:\\Program Files\\Zevra");
    EXPECT_EQ(SetupRemoveSectionList(first), (std::vector<std::string> { "Cfg.Remove" }));
    EXPECT_TRUE(SetupRemove(first, host).ok);
    EXPECT_FALSE(SetupHasUninstallEntry("cfg"));
    EXPECT_TRUE(SetupHasUninstallEntry("suite"));

    // The last product removes the whole set, and the set's own entry with it.
    SetupJob last = Job(inf, { "mon" });
    EXPECT_EQ(SetupRemoveSectionList(last), (std::vector<std::string> { "Mon.Remove", "Remove" }));
    host.calls.clear();
    EXPECT_TRUE(SetupRemove(last, host).ok);
    EXPECT_EQ(host.calls[0], "queue:Mon.Remove");
    EXPECT_EQ(host.calls[1], "queue:Remove");
    EXPECT_FALSE(SetupHasUninstallEntry("mon"));
    EXPECT_FALSE(SetupHasUninstallEntry("suite"));
}

TEST(SetupJobs, SelectionAndProducts)
{
    EmptyRegistry();
    InfText inf = Script();
    RecordingHost host;
    std::string message;
    SetupSections sections = SetupChooseSections(inf, SetupOs {});
    std::vector<ProductLine> products = SetupAvailableProducts(inf, sections, false, host, &message);
    ASSERT_EQ(products.size(), 3u); // "gone" has no install section
    EXPECT_EQ(host.calls, (std::vector<std::string> { "condition:cond.dll!AlwaysHolds" }));

    host.failing.insert("condition:cond.dll!AlwaysHolds");
    EXPECT_EQ(SetupAvailableProducts(inf, sections, false, host, &message).size(), 2u);
    EXPECT_EQ(message, "AlwaysHolds failed");
    EXPECT_EQ(SetupAvailableProducts(inf, sections, true, host, &message).size(), 4u);

    // An unknown "/quiet:" key selects nothing; the others are installed.
    EXPECT_EQ(SetupInitialSelection(products, SetupParseCommandLine("/quiet:nope,MON")),
        (std::vector<std::string> { "mon" }));
    EXPECT_EQ(
        SetupInitialSelection(products, SetupParseCommandLine("/quiet")), (std::vector<std::string> { "cfg", "mon" }));
    // A newer version installed (2.10.3 against 2.9) is not preselected.
    SetupWriteUninstallEntry({ "mon", "Monitor", "x", "2.10.3", "" });
    EXPECT_TRUE(SetupInstalledIsNewer(products[1]));
    EXPECT_EQ(SetupInitialSelection(products, SetupParseCommandLine("")), (std::vector<std::string> { "cfg" }));
    // Remove mode without names: every installed product; a name that is no product is kept.
    EXPECT_EQ(SetupInitialSelection(products, SetupParseCommandLine("/remove")), (std::vector<std::string> { "mon" }));
    EXPECT_EQ(SetupInitialSelection(products, SetupParseCommandLine("/remove:suite")),
        (std::vector<std::string> { "suite" }));
}

// The test plug-ins, loaded as the installer loads them: by full path from the program's directory.
TEST(SetupPlugins, RealLibraries)
{
    const char* bin = std::getenv("SUITE_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    std::string dir = bin;
#ifdef _WIN32
    for (char& c : dir)
        c = c == '/' ? '\\' : c;
    if (dir.starts_with("\\"))
        dir = "Z:" + dir;
    const char* ext = ".dll";
#else
    const char* ext = ".so";
#endif
    PluginLoader loader(dir);
    std::string cond = std::string("setup_testplugin_cond") + ext;
    std::string message = "stale";
    EXPECT_TRUE(loader.CheckCondition(cond, "AlwaysHolds", &message));
    EXPECT_EQ(message, "");
    EXPECT_FALSE(loader.CheckCondition(cond, "NoSuchFunction", &message));
    EXPECT_FALSE(loader.CheckCondition("missing.dll", "AlwaysHolds", &message));
#ifdef _WIN32
    _putenv_s("SETUP_TESTPLUGIN_FAIL", "1");
#else
    setenv("SETUP_TESTPLUGIN_FAIL", "1", 1);
#endif
    EXPECT_FALSE(loader.CheckCondition("some\\path\\" + cond, "HoldsUnlessAsked", &message));
    EXPECT_EQ(message.size(), 255u); // the library wrote 300 characters
    EXPECT_EQ(message.substr(0, 18), "The test condition");

    std::vector<PluginStepInfo> steps = loader.CollectSteps(std::string("setup_testplugin_steps") + ext);
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].level, 4u);
    EXPECT_EQ(steps[0].entry, "WriteMarker");
    EXPECT_EQ(steps[0].maximum, 10u);
    EXPECT_EQ(steps[0].library, loader.LibraryPath(std::string("setup_testplugin_steps") + ext));
    // Texts without NUL end at their field.
    EXPECT_EQ(steps[2].entry, std::string(256, 'E'));
    EXPECT_EQ(steps[2].text, std::string(1024, 'T'));

    std::string marker = std::string(bin) + "/setup_test_marker.txt";
    std::remove(marker.c_str());
#ifdef _WIN32
    _putenv_s("SETUP_TESTPLUGIN_MARKER", marker.c_str());
#else
    setenv("SETUP_TESTPLUGIN_MARKER", marker.c_str(), 1);
#endif
    static std::vector<int> positions;
    positions.clear();
    EXPECT_TRUE(loader.RunStep(steps[0], [](int position) { positions.push_back(position); }));
    EXPECT_FALSE(loader.RunStep(steps[1], [](int) {}));
    EXPECT_EQ(positions, (std::vector<int> { 0, 5, 10 }));
    EXPECT_EQ(steps[3].entry, "WaitAtGate"); // without a gate named it returns at once
    EXPECT_TRUE(loader.RunStep(steps[3], [](int) {}));
    std::ifstream in(marker);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "marker 0 5 10\n");
}

TEST(PluginStepRecord, DecodeAndLibraryField)
{
    uint8_t record[kPluginStepSize] = {};
    record[0] = 4;
    record[1284] = 0x10;
    record[1285] = 0x27;
    std::memcpy(record + 4, "Entry", 5);
    std::memset(record + kPluginStepNext, 0xFF, 4);
    PluginStepSetLibrary(record, std::string(400, 'L'));
    PluginStepInfo step = PluginStepDecode(record);
    EXPECT_EQ(step.level, 4u);
    EXPECT_EQ(step.entry, "Entry");
    EXPECT_EQ(step.maximum, 10000u);
    EXPECT_EQ(step.library, std::string(259, 'L'));
    EXPECT_EQ(record[kPluginStepNext], 0);
    char buffer[300];
    std::memset(buffer, 'm', sizeof buffer);
    EXPECT_EQ(PluginFailMessage(buffer, sizeof buffer).size(), 255u);
}

} // namespace

namespace {
// The suite's own kind of script: products with their files, shortcuts and a provider.
const char kSuiteScript[] = R"([Version]
Signature = "$Chicago$"
Provider = %Maker%
[Install]
CopyFiles = Setup.Files
Uninstall = VelquinSuite, %SuiteName%
[Remove]
DelFiles = Setup.Files
[Products]
qorvexal = Velquin, Cfg.Install, Cfg.Remove, 1, 0, "", 3.0.0
talvine = Travik, Mon.Install, Mon.Remove, 1, 1, "", 3.1.0
[Setup.Files]
setup.exe
setup.inf
[Cfg.Install]
CopyFiles = Cfg.Files, Cfg.Data, @extra.txt
MakeIcons = Cfg.Icons
[Cfg.Remove]
DelFiles = Cfg.Files
[Cfg.Files]
qorvexal.exe
qorvexal.dll, filter.dll
[Cfg.Data]
qorv1100.dsc
QORVEXAL.EXE
[Cfg.Icons]
CPRG, "%SuiteName%\Velquin", "%32768%\qorvexal.exe", "", "%32768%\qorvexal.exe", 1, 0
[Mon.Install]
CopyFiles = Mon.Files
[Mon.Remove]
DelFiles = Mon.Files
[Mon.Files]
talvine.exe
talvmorv.dsc
[Strings]
Maker = "Zevra"
SuiteName = "Velquin Suite"
)";

std::string Value(const std::string& key, const char* name)
{
    return SetupInstalledValue(key, name).value_or("(none)");
}

uint32_t Dword(const std::string& key, const char* name)
{
    RegKey reg;
    if (reg.Open(RegRoot::LocalMachine, std::string(kUninstallKey) + "\\" + key) != RegStatus::Ok)
        return 0xDEADBEEF;
    return reg.ReadDword(name).value_or(0xDEADBEEF);
}
} // namespace

TEST(SetupJobs, CopiedFilesAreTheSourcesOfEveryCopyList)
{
    InfText inf;
    ASSERT_TRUE(inf.Parse(kSuiteScript));
    // Each file once (names compared ignoring case), a second field naming the source, "@" single files.
    EXPECT_EQ(SetupCopiedFiles(inf, { "Install", "Cfg.Install", "Mon.Install" }),
        (std::vector<std::string> { "setup.exe", "setup.inf", "qorvexal.exe", "filter.dll", "qorv1100.dsc", "extra.txt",
            "talvine.exe", "talvmorv.dsc" }));
    EXPECT_TRUE(SetupCopiedFiles(inf, { "Remove", "Missing" }).empty());
}

TEST(SetupJobs, UninstallEntriesCarryWhatTheListOfProgramsShows)
{
    EmptyRegistry();
    InfText inf;
    ASSERT_TRUE(inf.Parse(kSuiteScript));
    SetupJob job = Job(inf, { "qorvexal", "talvine" });
    job.targetDir = "C:\\Program Files\\Zevra\\Velquin Suite";
    job.targetPath = [](const std::string&) { return std::string("C:\\Program Files\\Zevra\\Velquin Suite"); };
    const std::map<std::string, uint64_t> sizes
        = { { "qorvexal.exe", 3000000 }, { "filter.dll", 48000 }, { "qorv1100.dsc", 1 }, { "talvine.exe", 2048 },
              { "talvmorv.dsc", 1024 }, { "setup.exe", 1024 }, { "setup.inf", 10 } };
    job.fileSize = [&](const std::string& name) -> std::optional<uint64_t> {
        auto it = sizes.find(name);
        return it == sizes.end() ? std::nullopt : std::optional<uint64_t>(it->second);
    };
    SetupWriteUninstallEntries(job);

    EXPECT_EQ(Value("qorvexal", "DisplayName"), "Velquin");
    EXPECT_EQ(Value("qorvexal", "DisplayVersion"), "3.0.0");
    EXPECT_EQ(Value("qorvexal", "Publisher"), "Zevra");
    EXPECT_EQ(Value("qorvexal", "InstallLocation"), "C:\\Program Files\\Zevra\\Velquin Suite");
    // The shortcut's icon, its index after a comma; the native reader leaves "%32768%" to the installer.
    EXPECT_EQ(Value("qorvexal", "DisplayIcon"), "C:\\Program Files\\Zevra\\Velquin Suite\\qorvexal.exe,1");
    // 3,048,001 bytes (extra.txt is missing: counted as 0) are 2,977 KB rounded up.
    EXPECT_EQ(Dword("qorvexal", "EstimatedSize"), 2977u);
    EXPECT_EQ(Dword("qorvexal", "NoModify"), 1u);
    // A product without a shortcut shows its first program.
    EXPECT_EQ(Value("talvine", "DisplayIcon"), "C:\\Program Files\\Zevra\\Velquin Suite\\talvine.exe");
    EXPECT_EQ(Dword("talvine", "EstimatedSize"), 3u);

    // The set's entry: the same name as everywhere, the installer's icon, the newest product version.
    EXPECT_EQ(Value("VelquinSuite", "DisplayName"), "Velquin Suite");
    EXPECT_EQ(Value("VelquinSuite", "DisplayIcon"), "C:\\Program Files\\Zevra\\Velquin Suite\\setup.exe");
    EXPECT_EQ(Value("VelquinSuite", "DisplayVersion"), "3.1.0");
    EXPECT_EQ(Value("VelquinSuite", "UninstallString"),
        "\"C:\\Program Files\\Zevra\\Velquin Suite\\setup.exe\" /remove:VelquinSuite");
    EXPECT_EQ(Dword("VelquinSuite", "EstimatedSize"), 2u);

    // Without sizes the entries carry none.
    EmptyRegistry();
    job.fileSize = nullptr;
    SetupWriteUninstallEntries(job);
    EXPECT_EQ(Dword("qorvexal", "EstimatedSize"), 0xDEADBEEFu);
}

TEST(SetupJobs, RemovingTheSetRemovesItsProductsAndNothingIsNoSuccess)
{
    EmptyRegistry();
    InfText inf;
    ASSERT_TRUE(inf.Parse(kSuiteScript));
    RecordingHost host;
    ASSERT_TRUE(SetupInstall(Job(inf, { "qorvexal", "talvine" }), host).ok);

    // The set's key (as its entry's removal command gives it, in any case) stands for every
    // installed product and the set's own files.
    SetupJob whole = Job(inf, { "velquinsuite" });
    EXPECT_EQ(SetupRemovalSelection(whole), (std::vector<std::string> { "qorvexal", "talvine", "VelquinSuite" }));
    EXPECT_EQ(SetupRemoveSectionList(whole), (std::vector<std::string> { "Cfg.Remove", "Mon.Remove", "Remove" }));
    host.calls.clear();
    SetupResult removed = SetupRemove(whole, host);
    EXPECT_TRUE(removed.ok);
    EXPECT_EQ(host.calls[0], "queue:Cfg.Remove");
    for (const char* key : { "qorvexal", "talvine", "VelquinSuite" })
        EXPECT_FALSE(SetupHasUninstallEntry(key)) << key;

    // Nothing left that the selection names: the removal fails instead of reporting success.
    ASSERT_TRUE(SetupInstall(Job(inf, { "qorvexal", "talvine" }), host).ok);
    SetupJob nothing = Job(inf, { "nosuchproduct" });
    host.calls.clear();
    SetupResult result = SetupRemove(nothing, host);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kSetupErrorNotInstalled);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(SetupHasUninstallEntry("qorvexal"));
}

TEST(SetupJobs, RemovingTheSetWithNothingInstalledFails)
{
    EmptyRegistry();
    InfText inf;
    ASSERT_TRUE(inf.Parse(kSuiteScript));
    RecordingHost host;
    // The set's own files would be looked for in a target directory nobody recorded: nothing runs.
    SetupResult result = SetupRemove(Job(inf, { "VelquinSuite" }), host);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, kSetupErrorNotInstalled);
    EXPECT_TRUE(host.calls.empty());
}
