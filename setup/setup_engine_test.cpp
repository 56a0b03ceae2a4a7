#include "common/platform/registry.h"
#include "common/strings.h"
#include "setup/setup_engine.h"
#include "setup/texts.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>

namespace {

// Every test that touches the registry starts from an empty in-memory one (also under Wine).
void EmptyRegistry()
{
    RegUseMemory(true);
    RegMemoryClear();
}

void SetEnv(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

InfText Parse(const std::string& text)
{
    InfText inf;
    EXPECT_TRUE(inf.Parse(text));
    return inf;
}

SetupOs Os(const char* text)
{
    SetupOs os;
    EXPECT_TRUE(SetupParseOs(text, &os)) << text;
    return os;
}

TEST(SetupSections, ChosenByFamilyAndVersion)
{
    struct Case {
        const char* sections;
        const char* os;
        const char* install;
    } cases[] = {
        { "Install.NT5 Install", "nt:5.0", "Install.NT5" },
        { "Install.NT5 Install", "nt:4.0", "Install" },
        { "Install.NTx86 Install.NT", "nt:4.0", "Install.NTx86" },
        { "Install.WinMe Install.Win98", "9x:4.10", "Install.Win98" },
        { "Install.WinMe Install.Win98", "9x:4.90", "Install.WinMe" },
        { "Install.Win98 Install.Win", "9x:4.0", "Install.Win" },
        { "Install.NT Install.Win", "nt:10.0", "Install.NT" },
        { "Install.Win", "nt:10.0", "" },
    };
    for (const Case& c : cases) {
        std::string text;
        std::string names = c.sections;
        for (size_t pos = 0; pos < names.size();) {
            size_t end = names.find(' ', pos);
            end = end == std::string::npos ? names.size() : end;
            text += "[" + names.substr(pos, end - pos) + "]\n";
            pos = end + 1;
        }
        InfText inf = Parse(text + "[Products.Win98]\n[Remove]\n");
        SetupSections chosen = SetupChooseSections(inf, Os(c.os));
        EXPECT_EQ(chosen.install, c.install) << c.sections << " on " << c.os;
        EXPECT_EQ(chosen.remove, "Remove");
        EXPECT_EQ(chosen.products, Os(c.os).nt || std::string(c.os) == "9x:4.0" ? "" : "Products.Win98");
    }
    SetupOs os;
    EXPECT_FALSE(SetupParseOs("nt", &os));
    EXPECT_FALSE(SetupParseOs("xp:5.1", &os));
    EXPECT_FALSE(SetupParseOs("nt:.1", &os));
}

TEST(SetupProducts, LinesAndFlags)
{
    InfText inf
        = Parse("[Products]\n"
                "cfg = \"Configuration, tool\", Cfg.Install, Cfg.Remove, 0x5, 2, \"Edits configurations\", 3.0.1\n"
                "mon = Monitor\n"
                "= no key\n"
                "keyless, line\n");
    std::vector<ProductLine> products = SetupReadProducts(inf, "Products");
    ASSERT_EQ(products.size(), 2u);
    EXPECT_EQ(products[0].key, "cfg");
    EXPECT_EQ(products[0].name, "Configuration, tool");
    EXPECT_EQ(products[0].installSection, "Cfg.Install");
    EXPECT_EQ(products[0].removeSection, "Cfg.Remove");
    EXPECT_EQ(products[0].flags, kProductSelected | kProductRestartNote);
    EXPECT_EQ(products[0].icon, 2u);
    EXPECT_EQ(products[0].description, "Edits configurations");
    EXPECT_EQ(products[0].version, "3.0.1");
    EXPECT_EQ(products[1].installSection, "");
}

TEST(SetupVersions, ComponentByComponent)
{
    struct Case {
        const char* a;
        const char* b;
        int order;
    } cases[] = {
        { "2.10.3", "2.9", 1 },
        { "2.9", "2.10.3", -1 },
        { "1.0", "1", 0 },
        { "1.0.0.1", "1", 1 },
        { "", "0.0", 0 },
        { "3.0", "3.0.0", 0 },
        { "10", "9.99", 1 },
        { "1.2", "1.10", -1 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SetupCompareVersions(c.a, c.b), c.order) << c.a << " vs " << c.b;
}

TEST(SetupCommandLine, EveryOption)
{
    SetupCommandLine cmd = SetupParseCommandLine("  /QUIET:cfg,Mon, /reboot:2   /style:0 /lang:ger  /bogus");
    EXPECT_TRUE(cmd.quiet);
    EXPECT_TRUE(cmd.keysGiven);
    EXPECT_EQ(cmd.keys, (std::vector<std::string> { "cfg", "Mon" }));
    EXPECT_EQ(cmd.reboot, 2u);
    EXPECT_EQ(cmd.style, 0);
    EXPECT_EQ(cmd.language, 1031);
    EXPECT_EQ(cmd.unknown, (std::vector<std::string> { "/bogus" }));

    cmd = SetupParseCommandLine("/silent /remove:cfg");
    EXPECT_TRUE(cmd.quiet);
    EXPECT_TRUE(cmd.remove);
    EXPECT_EQ(cmd.keys, (std::vector<std::string> { "cfg" }));
    EXPECT_EQ(cmd.reboot, 1u);
    EXPECT_EQ(cmd.style, -1);

    // Prefixes are compared by their own length: "/quietly" is "/quiet", "/installnow" is "/install".
    cmd = SetupParseCommandLine("/quietly /remove /installnow /lang:spanish");
    EXPECT_TRUE(cmd.quiet);
    EXPECT_FALSE(cmd.remove);
    EXPECT_FALSE(cmd.keysGiven);
    EXPECT_EQ(cmd.language, 10);

    cmd = SetupParseCommandLine("/install:mon /lang:xx");
    EXPECT_FALSE(cmd.quiet);
    EXPECT_EQ(cmd.keys, (std::vector<std::string> { "mon" }));
    EXPECT_EQ(cmd.language, 0);
    EXPECT_EQ(cmd.unknown.size(), 1u);

    EXPECT_EQ(SetupDefaultStyle(Os("nt:5.0"), 4, 71), 1);
    EXPECT_EQ(SetupDefaultStyle(Os("nt:5.0"), 4, 70), 0);
    EXPECT_EQ(SetupDefaultStyle(Os("9x:4.90"), 5, 80), 0);
}

TEST(SetupStrings, References)
{
    std::map<unsigned, std::string> table = {
        { 1300, "%+1 Software Setup" },
        { 1301, "Morvak" },
        { 1302, "100%% of %+1" },
        { 1303, "%-2" },
        { 1, "%1 loops" },
        { 2, "a %3 b" },
        { 3, "c %2 d" },
        { 4, "%5x%+" },
        { 5, "%-1" },
        { 6, "%99999 big, % alone" },
    };
    auto lookup = [&](unsigned id) { return table.count(id) ? table[id] : std::string(); };
    EXPECT_EQ(SetupExpandString(1300, lookup), "Morvak Software Setup");
    EXPECT_EQ(SetupExpandString(1302, lookup), "100% of Morvak");
    EXPECT_EQ(SetupExpandString(1, lookup), " loops");
    EXPECT_EQ(SetupExpandString(2, lookup), "a c  d b");
    EXPECT_EQ(SetupExpandString(4, lookup), "x%+");
    EXPECT_EQ(SetupExpandString(6, lookup), "%99999 big, % alone");
    // Strings that each name the next one twice stop growing at the bound.
    std::map<unsigned, std::string> fan;
    for (unsigned id = 100; id < 140; ++id)
        fan[id] = "ab%+1%+1";
    EXPECT_EQ(SetupExpandString(100, [&](unsigned id) { return fan.count(id) ? fan[id] : std::string(); }).size(),
        kSetupMaxExpanded);

    // The installer's own tables: the welcome text and title in every language name the product.
    for (uint16_t lang : { 1033, 1031, 1036, 1040 }) {
        StrSetLanguage(lang);
        auto own = [](unsigned id) { return StrLoad(setup_Strings(), id); };
        EXPECT_NE(SetupExpandString(SetupStrCaption, own).find("Velquin Suite"), std::string::npos) << lang;
        EXPECT_NE(SetupExpandString(SetupStrWelcome, own).find("Velquin Suite"), std::string::npos) << lang;
        EXPECT_NE(SetupExpandString(SetupStrRemoveWelcome, own).find("Velquin Suite"), std::string::npos) << lang;
    }
    StrSetLanguage(1033);
}

TEST(SetupExec, LinesAndWindowHandle)
{
    InfText inf = Parse("[E]\n1, prog.exe, \"/a %hwnd% /b\", C:\\dir, 3\n2,two.exe\n9\n");
    std::vector<InfLine> lines = inf.Lines("E");
    std::optional<ExecLine> first = SetupReadExecLine(lines[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->level, 1u);
    EXPECT_EQ(first->program, "prog.exe");
    EXPECT_EQ(first->parameters, "/a %hwnd% /b");
    EXPECT_EQ(first->directory, "C:\\dir");
    EXPECT_EQ(first->flags, kExecNoWait | kExecDeleteProgram);
    EXPECT_EQ(SetupReadExecLine(lines[1])->flags, 0u);
    EXPECT_FALSE(SetupReadExecLine(lines[2]));

    EXPECT_EQ(SetupReplaceHwnd("/w:%hwnd% %HWND%", 0x1a2b), "/w:0x00001a2b 0x00001a2b");
    // Only up to the first other "%": what follows it stays as written.
    EXPECT_EQ(SetupReplaceHwnd("%hwnd% 50% %hwnd%", 0x10), "0x00000010 50% %hwnd%");
}

TEST(SetupShortcuts, LinesAndFolderCodes)
{
    InfText inf = Parse("[I]\nCPRG_TOO_LONG_CODE, Zevra\\Tool, C:\\p\\t.exe, -x, C:\\p\\t.exe, 2, 1\nUDSK,Link\n");
    std::vector<InfLine> lines = inf.Lines("I");
    ShortcutLine full = SetupReadShortcutLine(lines[0]);
    EXPECT_EQ(full.folder, "CPRG_TOO_LONG_C");
    EXPECT_EQ(full.link, "Zevra\\Tool");
    EXPECT_EQ(full.iconIndex, 2);
    EXPECT_TRUE(full.openFolder);
    ShortcutLine bare = SetupReadShortcutLine(lines[1]);
    EXPECT_EQ(bare.target, "");
    EXPECT_FALSE(bare.openFolder);

    EmptyRegistry();
    const char* path = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    RegKey user;
    ASSERT_EQ(user.Create(RegRoot::CurrentUser, path), RegStatus::Ok);
    user.WriteString("Programs", "C:\\Users\\u\\Programs");
    user.WriteString("Desktop", "%SETUP_TEST_HOME%\\Desktop", kRegExpandSz);
    RegKey common;
    ASSERT_EQ(common.Create(RegRoot::LocalMachine, path), RegStatus::Ok);
    common.WriteString("Common Programs", "C:\\ProgramData\\Programs");
    SetEnv("SETUP_TEST_HOME", "C:\\Users\\u");

    EXPECT_EQ(SetupResolveFolder("cprg"), "C:\\ProgramData\\Programs");
    EXPECT_EQ(SetupResolveFolder("UPRG"), "C:\\Users\\u\\Programs");
    // A common folder that cannot be read falls back to the user's.
    EXPECT_EQ(SetupResolveFolder("CDSK"), "C:\\Users\\u\\Desktop");
    EXPECT_FALSE(SetupResolveFolder("USTU"));
    EXPECT_FALSE(SetupResolveFolder("XPRG"));
    RegMemoryClear();
}

TEST(SetupServices, OpsConfigAndQuoting)
{
    InfText inf = Parse("[Main.Services]\nStopService = Svc\nAddService = Svc, 0, Svc.Install\nDelService = Old\n"
                        "StartService = Svc\nBogus = x\nAddService = ,0,x\n"
                        "[Svc.Install]\nDisplayName = \"The Service\"\nServiceType = 272\nStartType = 2\n"
                        "ErrorControl = 0\nServiceBinary = C:\\Program Files\\Zevra\\svc.exe\n"
                        "LoadOrderGroup = Extended Base\nDependencies = Tcpip, +NetBIOSGroup\n"
                        "StartName = LocalSystem\nServiceGroupOrder = Extended Base, -Base\n");
    std::vector<ServiceOp> ops = SetupReadServiceOps(inf, "Main");
    ASSERT_EQ(ops.size(), 4u);
    EXPECT_EQ(ops[0].action, ServiceAction::Stop);
    EXPECT_EQ(ops[1].action, ServiceAction::Add);
    EXPECT_EQ(ops[1].installSection, "Svc.Install");
    EXPECT_EQ(ops[2].action, ServiceAction::Delete);
    EXPECT_EQ(ops[3].action, ServiceAction::Start);

    ServiceConfig config = SetupReadServiceConfig(inf, "Svc.Install", "Svc");
    EXPECT_EQ(config.displayName, "The Service");
    EXPECT_EQ(config.type, 272u);
    EXPECT_EQ(config.startType, 2u);
    EXPECT_EQ(config.errorControl, 0u);
    EXPECT_EQ(config.dependencies, (std::vector<std::string> { "Tcpip", "+NetBIOSGroup" }));
    EXPECT_EQ(config.startName, "LocalSystem");
    EXPECT_TRUE(config.hasGroupOrder);
    EXPECT_EQ(config.anchor, "-Base");

    auto exists = [](const std::string& path) { return path == "C:\\Program Files\\Zevra\\svc.exe"; };
    EXPECT_EQ(SetupQuoteServiceBinary(config.binary, exists), "\"C:\\Program Files\\Zevra\\svc.exe\"");
    // Already quoted, with arguments (not a file as a whole), or without blank: left as written.
    EXPECT_EQ(SetupQuoteServiceBinary("\"C:\\a b\\s.exe\" -x", exists), "\"C:\\a b\\s.exe\" -x");
    EXPECT_EQ(SetupQuoteServiceBinary("C:\\Program Files\\Zevra\\svc.exe -service", exists),
        "C:\\Program Files\\Zevra\\svc.exe -service");
    EXPECT_EQ(SetupQuoteServiceBinary("C:\\svc.exe", exists), "C:\\svc.exe");
}

TEST(SetupServices, GroupOrderMoves)
{
    using List = std::vector<std::string>;
    const List base = { "Boot Bus Extender", "System Bus Extender", "Base", "Extended Base", "PNP_TDI" };
    struct Case {
        const char* group;
        const char* anchor;
        List expected;
    } cases[] = {
        { "New", "-Missing",
            { "Boot Bus Extender", "System Bus Extender", "Base", "Extended Base", "PNP_TDI", "New" } },
        { "New", "+Missing",
            { "New", "Boot Bus Extender", "System Bus Extender", "Base", "Extended Base", "PNP_TDI" } },
        { "New", "Missing", { "New", "Boot Bus Extender", "System Bus Extender", "Base", "Extended Base", "PNP_TDI" } },
        { "New", "-Boot Bus Extender",
            { "Boot Bus Extender", "New", "System Bus Extender", "Base", "Extended Base", "PNP_TDI" } },
        { "Extended Base", "Base", { "Boot Bus Extender", "System Bus Extender", "Extended Base", "Base", "PNP_TDI" } },
        { "Base", "-PNP_TDI", { "Boot Bus Extender", "System Bus Extender", "Extended Base", "PNP_TDI", "Base" } },
        // Names are compared exactly: "base" is another group.
        { "base", "+Base", { "Boot Bus Extender", "System Bus Extender", "base", "Base", "Extended Base", "PNP_TDI" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SetupMoveGroup(base, c.group, c.anchor), c.expected) << c.group << " " << c.anchor;

    // A list of about 3,000 bytes is read and written back whole.
    EmptyRegistry();
    List big;
    for (int i = 0; i < 200; ++i)
        big.push_back("Group number " + std::to_string(i));
    std::string data = SetupJoinMultiSz(big);
    ASSERT_GT(data.size(), 3000u);
    RegKey key;
    ASSERT_EQ(
        key.Create(RegRoot::LocalMachine, "System\\CurrentControlSet\\Control\\ServiceGroupOrder"), RegStatus::Ok);
    key.SetValue("List", kRegMultiSz, data);
    ASSERT_TRUE(SetupApplyGroupOrder("Zevra CAPI", "-Group number 199"));
    uint32_t type = 0;
    std::string stored;
    ASSERT_EQ(key.QueryValue("List", &type, &stored), RegStatus::Ok);
    List after = SetupSplitMultiSz(stored);
    ASSERT_EQ(after.size(), 201u);
    EXPECT_EQ(after.back(), "Zevra CAPI");
    EXPECT_EQ(List(after.begin(), after.end() - 1), big);
    RegMemoryClear();
}

TEST(SetupUninstall, EntriesAndStrings)
{
    EXPECT_EQ(SetupUninstallString("C:\\Zevra\\setup.exe", "cfg"), "C:\\Zevra\\setup.exe /remove:cfg");
    EXPECT_EQ(SetupUninstallString("C:\\Program Files\\Zevra\\setup.exe", "cfg"),
        "\"C:\\Program Files\\Zevra\\setup.exe\" /remove:cfg");

    EmptyRegistry();
    ASSERT_TRUE(SetupWriteUninstallEntry({ "cfg", "Configuration", "x /remove:cfg", "3.0", "C:\\Zevra" }));
    ASSERT_TRUE(SetupWriteUninstallEntry({ "mon", "Monitor", "x /remove:mon", "", "" }));
    EXPECT_TRUE(SetupHasUninstallEntry("CFG"));
    EXPECT_EQ(SetupInstalledValue("cfg", "ProductVersion"), "3.0");
    EXPECT_EQ(SetupInstalledValue("cfg", "UserTargetDir"), "C:\\Zevra");
    EXPECT_FALSE(SetupInstalledValue("mon", "ProductVersion"));
    EXPECT_TRUE(SetupDeleteUninstallEntry("cfg"));
    EXPECT_TRUE(SetupDeleteUninstallEntry("cfg"));
    EXPECT_FALSE(SetupHasUninstallEntry("cfg"));
    EXPECT_FALSE(SetupHasUninstallEntry(""));
    RegMemoryClear();
}

TEST(SetupTargetDir, DefaultFromProgramFiles)
{
    EmptyRegistry();
    RegKey key;
    ASSERT_EQ(key.Create(RegRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion"), RegStatus::Ok);
    key.WriteString("ProgramFilesDir", "C:\\Program Files");
    struct Case {
        const char* line;
        std::optional<std::string> dir;
    } cases[] = {
        { "DefaultDestDir = 24, \\Zevra\\Morvak\\", "C:\\Program Files\\Zevra\\Morvak" },
        { "DefaultDestDir = 24, Zevra", "C:\\Program Files\\Zevra" },
        { "DefaultDestDir = 24", "C:\\Program Files" },
        { "DefaultDestDir = 11, Zevra", std::nullopt },
        { "Other = 24, Zevra", std::nullopt },
    };
    for (const Case& c : cases) {
        InfText inf = Parse(std::string("[DestinationDirs]\n") + c.line + "\n");
        EXPECT_EQ(SetupDefaultTargetDir(inf), c.dir) << c.line;
    }
    RegMemoryClear();
}

TEST(SetupCopy, WhereTheInstallerGoes)
{
    InfText inf = Parse("[Install]\nCopyFiles = @readme.txt, Main.Files\n[Cfg.Install]\nCopyFiles = Cfg.Files\n"
                        "[Main.Files]\nSETUP.EXE\nsetup.inf\n[Cfg.Files]\nqorvexal.exe\n");
    auto target = [](const std::string& section) { return section == "Main.Files" ? "C:\\Zevra\\" : "C:\\Other"; };
    EXPECT_EQ(SetupFindSetupCopy(inf, "Cfg.Install", "Install", target), "C:\\Zevra\\setup.exe");
    EXPECT_FALSE(SetupFindSetupCopy(inf, "Cfg.Install", "", target));
}

} // namespace
