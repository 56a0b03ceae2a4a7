#include "cdmenu/cd_files.h"
#include "cdmenu/cd_script.h"
#include "common/text.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>

namespace {
IniFile Script(const char* text)
{
    IniFile ini;
    ini.Parse(text);
    return ini;
}

struct Collected {
    std::vector<std::string> warnings, errors;
    CdReport Sink()
    {
        return [this](CdMessageKind kind, const std::string& text) {
            (kind == CdMessageKind::Warning ? warnings : errors).push_back(text);
        };
    }
};

CdEnvironment Env(const char* language, uint16_t id, const char* system = "WINNT2K")
{
    CdEnvironment env;
    env.language = language;
    env.languageId = id;
    env.system = system;
    return env;
}

std::vector<std::string> Texts(const std::vector<CdLine>& lines)
{
    std::vector<std::string> out;
    for (const CdLine& l : lines)
        out.push_back(l.separator ? "--" : l.text);
    return out;
}
} // namespace

TEST(CdVariant, BaseThenHexIdThenNameThenDefault)
{
    IniFile s = Script("[1.Hotspot.Default]\n[1.Hotspot.German]\n[1.Hotspot.40c]\n[1.Hotspot.Ital]\n"
                       "[2.Hotspot]\n[2.Hotspot.German]\n[Bitmap.Default]\n");
    EXPECT_EQ(CdFindVariant(s, "1.Hotspot", Env("German", 1031)), "1.Hotspot.German");
    EXPECT_EQ(CdFindVariant(s, "1.Hotspot", Env("Dutch", 1043)), "1.Hotspot.Default");
    EXPECT_EQ(CdFindVariant(s, "1.Hotspot", Env("French", 1036)), "1.Hotspot.40c");
    // The name is compared over the length written in the section name.
    EXPECT_EQ(CdFindVariant(s, "1.Hotspot", Env("Italian", 1040)), "1.Hotspot.Ital");
    // A language's own variant comes before the plain name, which serves only when no variant does.
    EXPECT_EQ(CdFindVariant(s, "2.Hotspot", Env("German", 1031)), "2.Hotspot.German");
    EXPECT_EQ(CdFindVariant(s, "2.Hotspot", Env("Dutch", 1043)), "2.Hotspot");
    EXPECT_EQ(CdFindVariant(s, "Bitmap", Env("English", 1033)), "Bitmap.Default");
    EXPECT_FALSE(CdFindVariant(s, "3.Hotspot", Env("German", 1031)));
    EXPECT_FALSE(CdFindVariant(s, "1.Hot", Env("German", 1031)));
}

TEST(CdMenu, LinesAreFilteredByLanguageSystemAndConditions)
{
    IniFile s = Script("[LogicalConditions]\n"
                       "Both=HaveDriver and not Old\n"
                       "Broken=(HaveDriver && Old\n"
                       "[1.Static]\n"
                       "Line=Welcome\n"
                       "Line=$Line\n"
                       "Line=Nur deutsch;German\n"
                       "Line=Not German;!German;;\n"
                       "[1.Hotspot]\n"
                       "Line=Install;driver\\win9x\\setup.exe;;;!WinNT\n"
                       "Line=Install NT;driver\\nt\\setup.exe;/q;;WinNT;Both;InstallHelp\n"
                       "Line=Hidden;x.exe;;;;Broken\n"
                       "Line=Established;x.exe;;;;Other,HaveDriver\n"
                       "Line=Exit;$Exit\n");
    struct Row {
        CdEnvironment env;
        std::vector<std::string> statics, hotspots;
    } rows[] = {
        { Env("French", 1036, "WIN98"), { "Welcome", "--", "Not German" }, { "Install", "Established", "Exit" } },
        { Env("German", 1031, "WINNT40"), { "Welcome", "--", "Nur deutsch" }, { "Install NT", "Established", "Exit" } },
        { Env("English", 1033, "WINNT35"), { "Welcome", "--", "Not German" }, { "Install NT", "Established", "Exit" } },
    };
    for (const Row& row : rows) {
        Collected got;
        CdContext ctx;
        ctx.env = row.env;
        ctx.established.Add("havedriver");
        ctx.report = got.Sink();
        CdMenu menu = CdReadMenu(s, ctx);
        ASSERT_EQ(menu.blocks.size(), 2u);
        EXPECT_FALSE(menu.blocks[0].hotspot);
        EXPECT_TRUE(menu.blocks[1].hotspot);
        EXPECT_EQ(Texts(menu.blocks[0].lines), row.statics) << row.env.language;
        EXPECT_EQ(Texts(menu.blocks[1].lines), row.hotspots) << row.env.language;
        ASSERT_EQ(got.errors.size(), 1u);
        EXPECT_EQ(got.errors[0], "Error in logical expression:\n(HaveDriver && Old");
    }
    CdContext ctx;
    ctx.env = Env("English", 1033, "WINNT2K");
    ctx.established.Add("HaveDriver");
    CdMenu menu = CdReadMenu(s, ctx);
    const CdLine& nt = menu.blocks[1].lines[0];
    EXPECT_EQ(nt.command, "driver\\nt\\setup.exe");
    EXPECT_EQ(nt.parameters, "/q");
    EXPECT_EQ(nt.helpSection, "InstallHelp");
    EXPECT_TRUE(menu.blocks[1].lines.back().IsExit());
    ctx.established.Add("Old");
    EXPECT_EQ(Texts(CdReadMenu(s, ctx).blocks[1].lines), std::vector<std::string>({ "Established", "Exit" }));
}

TEST(CdMenu, BlocksEndAtTheFirstMissingNumberAndNumberedKeysSkipABlock)
{
    IniFile s = Script("[1.Static.German]\nLine=eins\n"
                       "[1.Static.Default]\nLine=one\n"
                       "[2.Hotspot]\n1.Line=old style;x.exe\n2.Line=more;y.exe\n"
                       "[3.Static]\nLine=three\n"
                       "[5.Static]\nLine=five, never read\n");
    Collected got;
    CdContext ctx;
    ctx.env = Env("Dutch", 1043);
    ctx.report = got.Sink();
    CdMenu menu = CdReadMenu(s, ctx);
    ASSERT_EQ(menu.blocks.size(), 2u);
    EXPECT_EQ(menu.blocks[0].section, "1.Static.Default");
    EXPECT_EQ(Texts(menu.blocks[0].lines), std::vector<std::string>({ "one" }));
    EXPECT_EQ(menu.blocks[1].number, 3);
    ASSERT_EQ(got.warnings.size(), 1u);
    EXPECT_NE(got.warnings[0].find("1.Line"), std::string::npos);
    EXPECT_NE(got.warnings[0].find("[2.Hotspot]"), std::string::npos);
}

TEST(CdMenu, SubMenusAreReadOnceEvenWhenTheyNameThemselvesOrAParent)
{
    IniFile s = Script("[1.Hotspot]\n"
                       "Line=Drivers;$SubMenu;Drivers\n"
                       "Line=Missing;$submenu;Nowhere\n"
                       "[Drivers.Hotspot.German]\nLine=Treiber\n"
                       "[Drivers.Hotspot.Default]\n"
                       "Line=ISDN;$SubMenu;Isdn\n"
                       "Line=Again;$SubMenu;Drivers\n"
                       "Line=Only French;x.exe;;French\n"
                       "[Isdn.Hotspot]\n"
                       "Line=Self;$SubMenu;Isdn\n"
                       "Line=Up;$SubMenu;Drivers\n"
                       "Line=Top;$SubMenu;1\n");
    CdContext ctx;
    CdMenu menu = CdReadMenu(s, ctx);
    ASSERT_EQ(menu.blocks.size(), 1u);
    const std::vector<CdLine>& top = menu.blocks[0].lines;
    ASSERT_EQ(top.size(), 2u);
    EXPECT_TRUE(top[1].IsSubMenu());
    EXPECT_TRUE(top[1].subMenu.empty());
    const std::vector<CdLine>& drivers = top[0].subMenu;
    EXPECT_EQ(Texts(drivers), std::vector<std::string>({ "ISDN", "Again" }));
    EXPECT_TRUE(drivers[1].subMenu.empty()); // names its parent
    EXPECT_EQ(Texts(drivers[0].subMenu), std::vector<std::string>({ "Self", "Up", "Top" }));
    EXPECT_TRUE(drivers[0].subMenu[0].subMenu.empty());
    EXPECT_TRUE(drivers[0].subMenu[1].subMenu.empty());
    // "1.Hotspot" is the block itself, open as the outermost parent.
    EXPECT_TRUE(drivers[0].subMenu[2].subMenu.empty());
}

TEST(CdMenu, AppearanceComesFromTheBlockThenMetricsAndFont)
{
    IniFile s = Script("[COMMON]\nWindowTitle=Velquin CD\nClickWav=CLICK\n"
                       "[Metrics]\nShadow=3;4\nTextKoor=100,120\nTextDistance=30\n"
                       "[Font]\nFontName=Arial\nFontFlags=Bold, italic\nFontHeight=22\n"
                       "FontColor=255,255,255;255,0,0\nFontColor.16=255,255,255;0,255,0\nShadowColor=1,2,3\n"
                       "[Bitmap.English]\nBackgroundBitmap=BACKGROUND\nHelpBitmap=HELP\nHelpColor=0,0,128\n"
                       "[Help]\nFontHeight=14\nStartPosXY=300,200\nStartPosExt=320,200\nText=generic\n"
                       "[SetupHelp]\nText=Installs the tools.\\nNeeds 10 MB.\n"
                       "[1.Hotspot]\nTextKoor=50,60\nFontColor=0,0,0;999,-5,x\n"
                       "Line=Setup;setup.exe;$PLUGINRESULT /s;;;;SetupHelp\n");
    CdContext ctx;
    ctx.pluginResult = "ISDN";
    CdMenu menu = CdReadMenu(s, ctx);
    EXPECT_EQ(menu.windowTitle, "Velquin CD");
    EXPECT_EQ(menu.clickWav, "CLICK");
    EXPECT_EQ(menu.backgroundBitmap, "BACKGROUND");
    EXPECT_EQ(menu.helpBitmap, "HELP");
    EXPECT_EQ(menu.helpColor.b, 128);
    const CdTextStyle& st = menu.blocks[0].style;
    EXPECT_EQ(st.fontName, "Arial");
    EXPECT_EQ(st.fontFlags, unsigned(kCdFontBold | kCdFontItalic));
    EXPECT_EQ(st.fontHeight, 22);
    EXPECT_EQ(st.textX, 50);
    EXPECT_EQ(st.textY, 60);
    EXPECT_EQ(st.distance, 30);
    EXPECT_EQ(st.shadowX, 3);
    EXPECT_EQ(st.shadowY, 4);
    ASSERT_EQ(st.colors.size(), 2u);
    EXPECT_EQ(st.colors[1].r, 255); // clamped
    EXPECT_EQ(st.colors[1].g, 0);
    EXPECT_EQ(st.shadowColor.g, 2);
    const CdLine& line = menu.blocks[0].lines[0];
    ASSERT_TRUE(line.help);
    EXPECT_EQ(line.help->style.fontHeight, 14);
    EXPECT_EQ(line.help->x, 300);
    EXPECT_EQ(line.help->height, 200);
    EXPECT_EQ(line.help->text, std::vector<std::string>({ "Installs the tools.", "Needs 10 MB." }));
    EXPECT_EQ(CdLaunchParameters(line, ctx), "ISDN /s");

    // A 16-colour display takes the ".16" colours (the block's own FontColor has none: its own list).
    ctx.display16 = true;
    IniFile s16 = Script("[Font]\nFontColor=255,255,255;255,0,0\nFontColor.16=9,9,9;0,255,0\n[1.Static]\nLine=x\n");
    EXPECT_EQ(CdReadMenu(s16, ctx).blocks[0].style.colors[0].r, 9);
}

namespace {
struct FakeLibrary {
    std::optional<uint32_t> version;
    std::optional<int> init = 1;
    std::optional<std::string> language, country, examine;
};

class FakePlugin : public CdPlugin {
public:
    FakePlugin(const FakeLibrary& lib, std::vector<std::string>* calls, std::string name)
        : lib_(lib)
        , calls_(calls)
        , name_(std::move(name))
    {
    }
    std::optional<uint32_t> GetVersionNumber() override
    {
        calls_->push_back(name_ + ":version");
        return lib_.version;
    }
    std::optional<int> OnInit(const std::string& parameters) override
    {
        calls_->push_back(name_ + ":init " + std::to_string(parameters.size()));
        params = parameters;
        return lib_.init;
    }
    std::optional<std::string> GetLanguage() override
    {
        calls_->push_back(name_ + ":language");
        return lib_.language;
    }
    std::optional<std::string> GetCountry() override
    {
        return lib_.country;
    }
    std::optional<std::string> GetExamineString() override
    {
        calls_->push_back(name_ + ":examine");
        return lib_.examine;
    }
    static inline std::string params;

private:
    FakeLibrary lib_;
    std::vector<std::string>* calls_;
    std::string name_;
};

class FakeLoader : public CdPluginLoader {
public:
    std::map<std::string, FakeLibrary> libraries;
    std::vector<std::string> calls;
    std::unique_ptr<CdPlugin> Load(const std::string& file) override
    {
        calls.push_back("load " + file);
        auto it = libraries.find(file);
        if (it == libraries.end())
            return nullptr;
        return std::make_unique<FakePlugin>(it->second, &calls, file);
    }
};
} // namespace

TEST(CdPlugins, AskedInOrderWithTheirVersionAndInitChecks)
{
    IniFile s = Script("[PLUGIN]\nDLL=missing.dll\nDLL=old.dll\nDLL=new.dll\nDLL=none.dll\nDLL=lang.dll\n"
                       "DLL=refuses.dll\nDLL=cond.dll\nComment=ignored\n"
                       "[Plugin.Parameter]\nServer=cd\nMode=1\n");
    FakeLoader loader;
    loader.libraries["old.dll"] = { 13, 1, std::nullopt, std::nullopt, std::string("First,Shared") };
    loader.libraries["new.dll"] = { 14, 1, std::string("Dutch"), {}, std::string("TooNew") };
    loader.libraries["none.dll"] = { std::nullopt, 1, std::string("Dutch"), {}, {} };
    loader.libraries["lang.dll"] = { 3, std::nullopt, std::string("German"), std::string("Austria"), {} };
    loader.libraries["refuses.dll"] = { 3, 0, std::string("French"), {}, std::string("Refused") };
    loader.libraries["cond.dll"] = { 3, 1, std::nullopt, std::nullopt, std::string("Isdn Dsl") };
    CdContext ctx;
    CdAskPlugins(s, loader, &ctx);
    EXPECT_EQ(ctx.env.language, "German");
    EXPECT_EQ(ctx.env.languageId, 1031);
    EXPECT_EQ(ctx.env.country, "Austria");
    EXPECT_EQ(ctx.established.Names(), std::vector<std::string>({ "First", "Shared", "Isdn", "Dsl" }));
    EXPECT_EQ(ctx.pluginResult, "Isdn Dsl");
    EXPECT_EQ(FakePlugin::params, std::string("Server=cd\0Mode=1\0\0", 18));
    std::vector<std::string> expected = { "load missing.dll", "load old.dll", "old.dll:version", "old.dll:init 18",
        "old.dll:language", "old.dll:examine", "load new.dll", "new.dll:version", "load none.dll", "none.dll:version",
        "load lang.dll", "lang.dll:version", "lang.dll:init 18", "lang.dll:language", "lang.dll:examine",
        "load refuses.dll", "refuses.dll:version", "refuses.dll:init 18", "load cond.dll", "cond.dll:version",
        "cond.dll:init 18", "cond.dll:language", "cond.dll:examine" };
    EXPECT_EQ(loader.calls, expected);
}

TEST(CdPlugins, NumberedDllKeysAreWarnedAndNothingIsLoaded)
{
    IniFile s = Script("[PLUGIN]\n1.DLL=old.dll\n");
    FakeLoader loader;
    Collected got;
    CdContext ctx;
    ctx.report = got.Sink();
    CdAskPlugins(s, loader, &ctx);
    EXPECT_TRUE(loader.calls.empty());
    ASSERT_EQ(got.warnings.size(), 1u);
    EXPECT_NE(got.warnings[0].find("[PLUGIN]"), std::string::npos);
}

TEST(CdFiles, PatternsMatchFilesBelowTheRoot)
{
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("cdmenu-" + std::to_string(std::random_device {}()));
    fs::create_directories(root / "Driver" / "Win9x");
    std::ofstream(root / "Driver" / "Win9x" / "SETUP.EXE") << "x";
    std::ofstream(root / "readme.txt") << "x";
    CdDirFileSystem files(root.string());
    EXPECT_TRUE(files.AnyMatch("driver\\win9x\\setup.exe"));
    EXPECT_TRUE(files.AnyMatch("Driver/*/set?p.*"));
    EXPECT_TRUE(files.AnyMatch("*\\Win9x"));
    EXPECT_TRUE(files.AnyMatch("read*"));
    EXPECT_FALSE(files.AnyMatch("driver\\nt\\setup.exe"));
    EXPECT_FALSE(files.AnyMatch("readme.txt\\x"));
    EXPECT_FALSE(files.AnyMatch(""));

    IniFile s = Script("[FilePresentConditions]\nWin9xDriver=driver\\win9x\\*.exe\nNt=driver\\nt\\*.sys\n"
                       "Readme=\"readme.txt\"\n");
    CdConditionSet set;
    CdEstablishFileConditions(s, files, &set);
    EXPECT_EQ(set.Names(), std::vector<std::string>({ "Win9xDriver", "Readme" }));
    fs::remove_all(root);

    EXPECT_TRUE(WildcardMatch("*a*b*", "xxAyyB"));
    EXPECT_FALSE(WildcardMatch("*a*b", "xxAyyBz"));
    EXPECT_TRUE(WildcardMatch("a**", "a"));
}

TEST(CdHelpPanel, StaysOffTheShownLines)
{
    // The shipped CD's panel (352,150 260x150) and a 640x480 picture.
    const CdBox panel { 352, 150, 612, 300 };
    std::vector<CdBox> lines = { { 56, 150, 230, 176 }, { 56, 180, 300, 206 } };
    // Lines left of it: where the script puts it.
    EXPECT_EQ(CdPlaceHelpPanel(panel, lines, 200, 640, 480), panel);
    // A longer text widens it, within the picture.
    EXPECT_EQ(CdPlaceHelpPanel(panel, lines, 300, 640, 480), (CdBox { 340, 150, 640, 300 }));
    // A sub-menu line reaching under it ("Command-line tools (folder)" at depth 1): moved right of it.
    lines.push_back({ 76, 210, 368, 236 });
    EXPECT_EQ(CdPlaceHelpPanel(panel, lines, 200, 640, 480), (CdBox { 380, 150, 640, 300 }));
    // No room on the right: the nearest place above or below the lines it would cover (above here).
    lines.push_back({ 76, 240, 420, 266 });
    EXPECT_EQ(CdPlaceHelpPanel(panel, lines, 200, 640, 480), (CdBox { 352, 48, 612, 198 }));
    // Nowhere free: at the picture's right edge.
    EXPECT_EQ(CdPlaceHelpPanel(panel, { { 0, 0, 640, 480 } }, 200, 640, 480), (CdBox { 380, 150, 640, 300 }));
    // A long line in the middle of the menu and no room right of it: the nearest place above or below
    // it beside the shorter lines (here above it).
    std::vector<CdBox> menu = { { 40, 150, 200, 176 }, { 40, 184, 260, 210 }, { 40, 218, 170, 244 },
        { 60, 252, 460, 278 }, { 60, 286, 200, 312 }, { 40, 320, 140, 346 } };
    EXPECT_EQ(CdPlaceHelpPanel(panel, menu, 200, 640, 480), (CdBox { 352, 90, 612, 240 }));
}
