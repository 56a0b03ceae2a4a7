// kardell-cli as users run it: the menu listing of a script with language variants, sub-menus, file
// conditions beside the script and script errors, and the exit codes.
#include "common/platform/file.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {
struct CliRun {
    int code;
    std::string out, err;
};

class KardellCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("kardell-cli-" + std::to_string(std::random_device {}()));
        fs::create_directories(dir_ / "Driver");
    }
    void TearDown() override
    {
        fs::remove_all(dir_);
    }
    CliRun Menu(const std::string& options, const std::string& script = "menu.inf")
    {
        const char* bin = std::getenv("SUITE_BIN_DIR");
        std::string out = (dir_ / "out").string(), err = (dir_ / "err").string();
        std::string command = std::string(bin ? bin : ".") + "/kardell-cli " + options + " '" + (dir_ / script).string()
            + "' >" + out + " 2>" + err;
        if (options.rfind("embed", 0) == 0 || options.empty())
            command = std::string(bin ? bin : ".") + "/kardell-cli " + options + " >" + out + " 2>" + err;
        int rc = std::system(command.c_str());
        CliRun r { WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, "", "" };
        FileReadAll(out, &r.out);
        FileReadAll(err, &r.err);
        return r;
    }
    void Write(const std::string& name, const std::string& text)
    {
        ASSERT_TRUE(FileWriteAtomic((dir_ / name).string(), text));
    }
    fs::path dir_;
};

const char* kScript = "[FilePresentConditions]\r\n"
                      "HaveDriver=driver\\*.sys\r\n"
                      "[LogicalConditions]\r\n"
                      "Nt=HaveDriver && Extra\r\n"
                      "Bad=(HaveDriver\r\n"
                      "[1.Static.Default]\r\nLine=Welcome\r\nLine=$Line\r\n"
                      "[1.Static.407]\r\nLine=Willkommen\r\n"
                      "[1.Hotspot.Default]\r\n"
                      "Line=Install;setup.exe;/s;;;HaveDriver\r\n"
                      "Line=Win9x only;w9x.exe;;;!WinNT\r\n"
                      "Line=Tools;$SubMenu;Tools\r\n"
                      "Line=Extra;extra.exe;;;;Nt\r\n"
                      "Line=Broken;x.exe;;;;Bad\r\n"
                      "Line=Exit;$Exit\r\n"
                      "[Tools.Hotspot]\r\nLine=Readme;readme.txt\r\nLine=More;$SubMenu;More\r\n"
                      "[More.Hotspot]\r\nLine=Deep;deep.exe;a b\r\nLine=Loop;$SubMenu;Tools\r\n"
                      "[2.Hotspot]\r\n1.Line=Old;old.exe\r\n"
                      "[3.Static]\r\nLine=Third\r\n";
} // namespace

TEST_F(KardellCli, ListsTheMenuInOrderWithSubMenusAfterTheirLine)
{
    Write("menu.inf", kScript);
    Write("Driver/capi.SYS", "x");
    CliRun r = Menu("menu --cond extra");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
        "static\t1\t0\tWelcome\t\t\n"
        "static\t1\t0\t\t\t\n"
        "hotspot\t1\t0\tInstall\tsetup.exe\t/s\n"
        "hotspot\t1\t0\tTools\t$SubMenu\tTools\n"
        "hotspot\t1\t1\tReadme\treadme.txt\t\n"
        "hotspot\t1\t1\tMore\t$SubMenu\tMore\n"
        "hotspot\t1\t2\tDeep\tdeep.exe\ta b\n"
        "hotspot\t1\t2\tLoop\t$SubMenu\tTools\n"
        "hotspot\t1\t0\tExtra\textra.exe\t\n"
        "hotspot\t1\t0\tExit\t$Exit\t\n"
        "static\t3\t0\tThird\t\t\n");
    // Script errors in the program's words on standard error; the listing goes on.
    EXPECT_NE(r.err.find("Error in logical expression:\n(HaveDriver\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1.Line"), std::string::npos) << r.err;
}

TEST_F(KardellCli, LanguageSystemAndConditionOptions)
{
    Write("menu.inf", kScript);
    // A known language name sets its id: the hexadecimal section 1.Static.407 wins.
    CliRun german = Menu("menu --lang German --os WIN98");
    EXPECT_EQ(german.code, 0);
    EXPECT_EQ(german.out.substr(0, german.out.find('\n')), "static\t1\t0\tWillkommen\t\t");
    EXPECT_NE(german.out.find("Win9x only"), std::string::npos);
    EXPECT_EQ(german.out.find("Install"), std::string::npos); // no driver file beside the script
    CliRun byId = Menu("menu --langid 0x407");
    EXPECT_EQ(byId.out.substr(0, byId.out.find('\n')), "static\t1\t0\tWillkommen\t\t");
    CliRun english = Menu("menu --lang English --cond HaveDriver");
    EXPECT_NE(english.out.find("Install"), std::string::npos);
}

// Scripts and the program's own texts are Windows-1252; the terminal of a Linux user reads UTF-8.
TEST_F(KardellCli, GermanTextsReachTheTerminalAsUtf8)
{
    Write("menu.inf",
        "[1.Static.407]\r\nLine=Gr\xFC\xDF Gott \x80 5\r\n"
        "[2.Hotspot]\r\n1.Line=Alt;alt.exe\r\n");
    CliRun r = Menu("menu --lang German");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "static\t1\t0\tGr\xC3\xBC\xC3\x9F Gott \xE2\x82\xAC 5\t\t\n");
    EXPECT_NE(r.err.find("Das Men\xC3\xBCskript verwendet nummerierte Eintr\xC3\xA4ge"), std::string::npos) << r.err;
}

TEST_F(KardellCli, ExitCodes)
{
    Write("menu.inf", kScript);
    EXPECT_EQ(Menu("menu", "missing.inf").code, 1);
    EXPECT_EQ(Menu("menu --langid nine").code, 2);
    EXPECT_EQ(Menu("menu --frobnicate").code, 2);
    EXPECT_EQ(Menu("").code, 2);
    EXPECT_EQ(Menu("embed a.exe b.inf c.exe").code, 2); // Windows only
}
