// The plug-in loader and the nine exports under Windows: test plug-in libraries loaded as the real one
// is, binding the exports by name on the host's instance. On i686 a calling convention that does not
// match crashes here; the record size tells the old page layout of the target.
#include "common/diag.h"
#include "config/description/cfg_load.h"
#include "config/plugin/plugin.h"
#include "device/deviceentry.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <prsht.h>

namespace {

struct Host {
    DeviceEntry device;
    std::vector<std::string> diag;
    PluginModuleService modules = PluginPlatformModules();

    Host()
    {
        const char* text = "version \"Test 1.0\", English\n"
                           "section_plugin Filter\n"
                           "uses counter\n"
                           "uses_table RuleTable, 3\n"
                           "module_param macfilter, 1\n";
        auto file = CfgFile::FromText(text);
        device.config = std::shared_ptr<CfgDescription>(
            CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false).release());
        device.device_type = "Morvak 1100";
        device.feature_word = 4;
        DiagSetSink([this](const std::string& line) { diag.push_back(line); });
    }
    ~Host()
    {
        DiagSetSink(nullptr);
    }
    CfgSection& Section(const std::vector<std::string>& module)
    {
        CfgSection& s = *device.config->sections[0];
        s.module = CfgArgList::FromTexts(module);
        return s;
    }
    int32_t Load(const std::vector<std::string>& module, PluginPageRecord* page)
    {
        return PluginLoadPage(modules, Section(module), &device, nullptr, PluginKindConfig, 1,
            GetModuleHandleA(nullptr), page, PluginPageRecordV1Size);
    }
};

TEST(WindowsPlugin, ExportsBoundByNameAnswerAsTheTableSays)
{
    Host host;
    PluginPageRecord page {};
    ASSERT_EQ(host.Load({ "windows_plugin_probe.dll", "PluginProbe" }, &page), 1) << host.diag.size();
    ASSERT_NE(GetModuleHandleA("windows_plugin_probe.dll"), nullptr);
    std::string expected = "size=" + std::to_string(PROPSHEETPAGEA_V1_SIZE)
        + " kind=1 mode=1 info=1:Morvak 1100 word=1:00000004 bad=0 param=1 value=1:'' set=1 add=0,1 setrow=3 "
          "getrow=3:r1,TCP,? find=1 del=1,0";
    ASSERT_NE(page.title, nullptr);
    EXPECT_EQ(std::string(page.title), expected);
    EXPECT_EQ(host.device.config->sections[0]->items[0]->value, "42");
    EXPECT_EQ(page.flags & PSP_USECALLBACK, static_cast<DWORD>(PSP_USECALLBACK));

    // The platform copies the record and calls the page callback with release at the end.
    PROPSHEETPAGEA copy {};
    std::memcpy(&copy, &page, PROPSHEETPAGEA_V1_SIZE);
    copy.dwSize = PROPSHEETPAGEA_V1_SIZE;
    EXPECT_EQ(copy.pfnCallback(nullptr, PSPCB_RELEASE, &copy), 1u);
    EXPECT_EQ(GetModuleHandleA("windows_plugin_probe.dll"), nullptr);
}

TEST(WindowsPlugin, PagesLeftOut)
{
    Host host;
    PluginPageRecord page {};
    // No entry point: no page, and the library is not kept.
    EXPECT_EQ(host.Load({ "windows_plugin_noentry.dll" }, &page), 0);
    EXPECT_EQ(GetModuleHandleA("windows_plugin_noentry.dll"), nullptr);
    EXPECT_TRUE(host.diag.empty());

    // A library in the current directory and on PATH, but not beside the program, is not loaded,
    // though a plain load through the search path would take it.
    std::string planted = PLANTED_DIR;
    if (planted.front() == '/') {
        planted = "Z:" + planted;
        for (char& c : planted)
            if (c == '/')
                c = '\\';
    }
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    ASSERT_TRUE(SetCurrentDirectoryA(planted.c_str()));
    char path[8192] = "";
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (planted + ";" + path).c_str());
    HMODULE plain = LoadLibraryA("windows_plugin_planted.dll");
    ASSERT_NE(plain, nullptr);
    FreeLibrary(plain);
    EXPECT_EQ(host.Load({ "windows_plugin_planted.dll" }, &page), 0);
    EXPECT_EQ(host.Load({ "..\\planted\\windows_plugin_planted.dll" }, &page), 0);
    EXPECT_EQ(host.Load({ planted + "\\windows_plugin_planted.dll" }, &page), 0);
    EXPECT_EQ(GetModuleHandleA("windows_plugin_planted.dll"), nullptr);
    SetCurrentDirectoryA(before);
    SetEnvironmentVariableA("PATH", path);
    ASSERT_EQ(host.diag.size(), 3u);
    EXPECT_EQ(host.diag[0], "### can't load plugin windows_plugin_planted.dll\n");
}

} // namespace
