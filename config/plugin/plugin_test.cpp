#include "common/diag.h"
#include "config/description/cfg_load.h"
#include "config/plugin/plugin.h"
#include "config/store/cfg_store.h"
#include "device/deviceentry.h"

#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

CfgDescriptionPtr Load(const std::string& body)
{
    std::string text = std::string("version \"Test 1.0\", English\n") + body;
    auto file = CfgFile::FromText(text);
    return CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false);
}

const char* kConfig = R"(
section main
entryfield_text shared
entryfield_text other
alias nick
section_plugin Filter
module "*", "PluginIpFilterCfg"
uses shared
uses counter, cnt
uses_table RuleTable, 3
uses_table Single, 1
module_param macfilter, 1
module_param MaxRules, 12
module_param macfilter, 7
module_param tail
section later
entryfield_text config.prefixed
entryfield_text wizard.inconfig
)";

const char* kWizard = R"(
section page1
entryfield_text wizard.choice
entryfield_text plain
)";

struct Fixture {
    DeviceEntry device;
    CfgDescriptionPtr wizard;
    PluginContext config; // kind 1 on the filter section
    PluginContext wiz; // kind 2

    Fixture()
    {
        device.config = std::shared_ptr<CfgDescription>(Load(kConfig).release());
        wizard = Load(kWizard);
        device.device_type = "Morvak 1100";
        device.name = "office";
        device.fw_version = "3.1";
        device.fw_date = "01.02.2003";
        device.feature_word = 0x12345678;
        config.device = &device;
        config.kind = PluginKindConfig;
        config.section = device.config->sections[1].get();
        wiz.device = &device;
        wiz.kind = PluginKindWizard;
        wiz.wizardPages = wizard.get();
    }
    CfgItem& Item(size_t section, size_t index)
    {
        return *device.config->sections[section]->items[index];
    }
};

TEST(PluginExports, DeviceInfoAndBoundedCopies)
{
    Fixture f;
    char buf[32];
    const struct {
        int32_t what;
        const char* text;
    } texts[] = { { 1, "Morvak 1100" }, { 2, "office" }, { 3, "3.1" }, { 4, "01.02.2003" } };
    for (const auto& t : texts) {
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(VelquinCfgGetDeviceInfo(&f.config, t.what, buf, sizeof buf), 1);
        EXPECT_STREQ(buf, t.text);
    }
    // Sizes 0, 1, exact (length + 1) and one short: never a byte past `size`, always terminated.
    for (int32_t size : { 0, 1, 12, 11 }) {
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(VelquinCfgGetDeviceInfo(&f.config, 1, buf, size), 1);
        std::string expected = std::string("Morvak 1100").substr(0, size > 0 ? size - 1 : 0);
        if (size > 0) {
            EXPECT_EQ(std::string(buf), expected) << size;
        }
        for (int32_t i = size; i < static_cast<int32_t>(sizeof buf); ++i)
            ASSERT_EQ(buf[i], 'x') << "byte " << i << " written with size " << size;
    }
    uint32_t word = 0;
    EXPECT_EQ(VelquinCfgGetDeviceInfo(&f.config, 5, reinterpret_cast<char*>(&word), 4), 1);
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_EQ(VelquinCfgGetDeviceInfo(&f.config, 5, buf, 3), 0);
    EXPECT_EQ(VelquinCfgGetDeviceInfo(&f.config, 0, buf, sizeof buf), 0);
    EXPECT_EQ(VelquinCfgGetDeviceInfo(&f.config, 6, buf, sizeof buf), 0);
}

TEST(PluginExports, PluginParameters)
{
    Fixture f;
    char buf[8];
    EXPECT_EQ(VelquinCfgGetPluginParam(&f.config, "MACFILTER", nullptr, 0), 1); // first pair wins
    EXPECT_EQ(VelquinCfgGetPluginParam(&f.config, "maxrules", buf, sizeof buf), 2);
    EXPECT_STREQ(buf, "12");
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(VelquinCfgGetPluginParam(&f.config, "maxrules", buf, 2), 2); // length, copy cut
    EXPECT_STREQ(buf, "1");
    EXPECT_EQ(buf[2], 'x');
    EXPECT_EQ(VelquinCfgGetPluginParam(&f.config, "missing", buf, sizeof buf), 0);
    EXPECT_EQ(VelquinCfgGetPluginParam(&f.config, "tail", buf, sizeof buf), 0); // a line without value adds nothing
    // A value is never taken for a key: "1" is macfilter's value, not a key whose value is "MaxRules".
    EXPECT_EQ(VelquinCfgGetPluginParam(&f.config, "1", buf, sizeof buf), 0);
}

TEST(PluginExports, LookUpRules)
{
    Fixture f;
    char buf[16];
    f.Item(1, 1).value = "5";
    // Kind 1: only the page's own section; a name or its alias.
    EXPECT_EQ(PluginFindItem(&f.config, "SHARED"), &f.Item(1, 0));
    EXPECT_EQ(PluginFindItem(&f.config, "cnt"), &f.Item(1, 1));
    EXPECT_EQ(PluginFindItem(&f.config, "other"), nullptr);
    EXPECT_EQ(PluginFindItem(&f.config, "nick"), nullptr);
    EXPECT_EQ(VelquinCfgGetValue(&f.config, "Counter", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "5");
    // Kind 2: "wizard." names in the wizard's pages, with the prefix as part of the name; everything
    // else in the configuration, sections in order (the first "shared" is in section main).
    EXPECT_EQ(PluginFindItem(&f.wiz, "Wizard.Choice"), f.wizard->sections[0]->items[0].get());
    EXPECT_EQ(PluginFindItem(&f.wiz, "wizard.plain"), nullptr);
    EXPECT_EQ(PluginFindItem(&f.wiz, "plain"), nullptr);
    EXPECT_EQ(PluginFindItem(&f.wiz, "wizard.inconfig"), nullptr);
    EXPECT_EQ(PluginFindItem(&f.wiz, "shared"), &f.Item(0, 0));
    EXPECT_EQ(PluginFindItem(&f.wiz, "nick"), &f.Item(0, 1));
    EXPECT_EQ(PluginFindItem(&f.wiz, "config.prefixed"), f.device.config->sections[2]->items[0].get());
    EXPECT_EQ(PluginFindItem(&f.wiz, "prefixed"), nullptr);
    PluginContext none;
    EXPECT_EQ(PluginFindItem(&none, "shared"), nullptr);
}

TEST(PluginExports, Values)
{
    Fixture f;
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(VelquinCfgGetValue(&f.config, "shared", buf, sizeof buf), 1); // no value: empty text
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(VelquinCfgGetValue(&f.config, "nothing", buf, sizeof buf), 0);
    EXPECT_EQ(VelquinCfgSetValue(&f.config, "shared", "abcdefghij"), 1);
    EXPECT_EQ(f.Item(1, 0).changed, 1u);
    EXPECT_EQ(f.Item(1, 0).value, "abcdefghij");
    EXPECT_EQ(f.Item(0, 0).value, std::nullopt); // the other section's same-named item stays
    EXPECT_EQ(VelquinCfgGetValue(&f.config, "shared", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(VelquinCfgSetValue(&f.config, "shared", nullptr), 1);
    EXPECT_EQ(f.Item(1, 0).value, std::nullopt);
    EXPECT_EQ(VelquinCfgSetValue(&f.config, "nothing", "1"), 0);
}

TEST(PluginExports, TableRows)
{
    Fixture f;
    CfgItem& table = f.Item(1, 2);
    EXPECT_EQ(VelquinCfgAddTabRow(&f.config, "ruletable", 0), 0);
    EXPECT_EQ(VelquinCfgAddTabRow(&f.config, "RuleTable", 99), 1); // beyond the last row: appended
    EXPECT_EQ(VelquinCfgAddTabRow(&f.config, "RuleTable", -1), 2);
    EXPECT_EQ(VelquinCfgAddTabRow(&f.config, "shared", 0), -1); // not a table
    EXPECT_EQ(table.changed, 1u);
    const char* row1[] = { "r1", "TCP", "ignored" };
    EXPECT_EQ(VelquinCfgSetTabRow(&f.config, "RuleTable", 1, 1, row1), 3);
    const char* row2[] = { "R2", nullptr, "x" };
    EXPECT_EQ(VelquinCfgSetTabRow(&f.config, "RuleTable", 2, 2, row2), 3);
    EXPECT_EQ(VelquinCfgSetTabRow(&f.config, "RuleTable", 3, 2, row2), 0);
    EXPECT_EQ(VelquinCfgSetTabRow(&f.config, "counter", 0, 2, row2), 0);
    CfgRow* r = CfgRowAt(table, 1);
    EXPECT_EQ(r->cells[0], "r1");
    EXPECT_EQ(r->cells[2], std::nullopt); // past the last column: no value

    // Reading: last column 0 copies only the first column but returns the full count; no buffer
    // past the count is touched even with a last column of 63.
    char cells[64][8];
    char* buffers[64];
    int32_t sizes[64];
    for (int i = 0; i < 64; ++i) {
        std::memset(cells[i], 'x', sizeof cells[i]);
        buffers[i] = cells[i];
        sizes[i] = sizeof cells[i];
    }
    EXPECT_EQ(VelquinCfgGetTabRow(&f.config, "RuleTable", 1, 0, buffers, sizes), 3);
    EXPECT_STREQ(cells[0], "r1");
    EXPECT_EQ(cells[1][0], 'x');
    EXPECT_EQ(VelquinCfgGetTabRow(&f.config, "RuleTable", 1, 63, buffers, sizes), 3);
    EXPECT_STREQ(cells[1], "TCP");
    EXPECT_STREQ(cells[2], ""); // no value: empty text
    EXPECT_EQ(cells[3][0], 'x');
    sizes[0] = 2;
    EXPECT_EQ(VelquinCfgGetTabRow(&f.config, "RuleTable", 1, 0, buffers, sizes), 3);
    EXPECT_STREQ(cells[0], "r");
    EXPECT_EQ(VelquinCfgGetTabRow(&f.config, "RuleTable", 3, 2, buffers, sizes), 0);
    EXPECT_EQ(VelquinCfgGetTabRow(&f.config, "RuleTable", -1, 2, buffers, sizes), 0);
    EXPECT_EQ(VelquinCfgGetTabRow(&f.config, "shared", 0, 2, buffers, sizes), 0);

    // Finding: case-blind, the first matching row; the column must be below the count.
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 0, "R1"), 1);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 0, "r2"), 2);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 0, ""), 0); // the empty first row
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 1, "tcp"), 1);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 0, "r3"), -1);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 3, "x"), -1);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", -1, "x"), -1);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "shared", 0, "x"), -1);

    EXPECT_EQ(VelquinCfgDelTabRow(&f.config, "RuleTable", 0), 1);
    EXPECT_EQ(VelquinCfgFindTabRow(&f.config, "RuleTable", 0, "r2"), 1);
    EXPECT_EQ(VelquinCfgDelTabRow(&f.config, "RuleTable", 2), 0);
    EXPECT_EQ(VelquinCfgDelTabRow(&f.config, "shared", 0), 0);
    EXPECT_EQ(table.rows.size(), 2u);
}

// ---- page loading over a scripted module table ----

struct ScriptedModule {
    std::map<std::string, void*> symbols;
    int loads = 0;
    int frees = 0;
};
std::map<std::string, ScriptedModule> g_modules; // by full path
std::vector<std::string> g_events;
int32_t g_lastKind = 0;
int32_t g_lastMode = 0;
uint32_t g_lastSize = 0;
void* g_lastInstance = nullptr;
PluginContext* g_lastContext = nullptr;
int g_template = 10207;

void* ScriptLoad(const std::string& path)
{
    auto it = g_modules.find(path);
    if (it == g_modules.end())
        return nullptr;
    ++it->second.loads;
    return &it->second;
}
void* ScriptSymbol(void* module, const char* name)
{
    auto& symbols = static_cast<ScriptedModule*>(module)->symbols;
    auto it = symbols.find(name);
    return it == symbols.end() ? nullptr : it->second;
}
void ScriptFree(void* module)
{
    ++static_cast<ScriptedModule*>(module)->frees;
    g_events.push_back("free");
}

uint32_t PLUGIN_CALL LibraryCallback(void*, uint32_t message, PluginPageRecord* page)
{
    g_events.push_back("library " + std::to_string(message));
    return 1;
}

int32_t PLUGIN_CALL FillingEntry(PluginContext* context, int32_t kind, PluginCallRecord* record)
{
    g_lastKind = kind;
    g_lastMode = record->mode;
    g_lastSize = record->page->size;
    g_lastInstance = record->instance;
    g_lastContext = context;
    record->page->flags = 0x20 | PluginPageUseCallback;
    record->page->dialogTemplate = &g_template;
    record->page->instance = context->module;
    record->page->callback = LibraryCallback;
    record->page->dialogProc = reinterpret_cast<void*>(&g_template);
    return 1;
}

int32_t PLUGIN_CALL ConfigOnlyEntry(PluginContext* context, int32_t kind, PluginCallRecord* record)
{
    if (kind == PluginKindConfig)
        record->page->dialogTemplate = &g_template;
    return 1;
}

struct LoaderFixture : Fixture {
    PluginModuleService modules;
    std::vector<std::string> diag;
    LoaderFixture()
    {
        g_modules.clear();
        g_events.clear();
        modules.load = ScriptLoad;
        modules.symbol = ScriptSymbol;
        modules.release = ScriptFree;
        modules.directory = "C:\\Program Files\\Velquin";
        modules.baseName = "qorvexal";
        modules.extension = ".dll";
        modules.separator = '\\';
        DiagSetSink([this](const std::string& line) { diag.push_back(line); });
    }
    ~LoaderFixture()
    {
        DiagSetSink(nullptr);
    }
    CfgSection& Section(std::vector<std::string> module)
    {
        CfgSection& s = *device.config->sections[1];
        s.module = CfgArgList::FromTexts(module);
        return s;
    }
};

TEST(PluginLoad, ModuleNamesResolveInTheProgramDirectoryOnly)
{
    LoaderFixture f;
    const struct {
        const char* name;
        const char* path;
    } rows[] = {
        { "*", "C:\\Program Files\\Velquin\\qorvexal.dll" },
        { "qorvexal.dll", "C:\\Program Files\\Velquin\\qorvexal.dll" },
        { "other", "C:\\Program Files\\Velquin\\other.dll" },
        { "other.plg", "C:\\Program Files\\Velquin\\other.plg" },
        { "sub\\other.dll", "" },
        { "sub/other.dll", "" },
        { "C:other.dll", "" },
        { "\\\\server\\share\\x.dll", "" },
        { "..", "" },
        { "..dll", "" },
        { "", "" },
    };
    for (const auto& r : rows)
        EXPECT_EQ(PluginModulePath(f.modules, r.name), r.path) << r.name;
    f.modules.directory = "/opt/velquin/";
    f.modules.separator = '/';
    EXPECT_EQ(PluginModulePath(f.modules, "*"), "/opt/velquin/qorvexal.dll");
}

TEST(PluginLoad, PageFilledChainedAndReleased)
{
    LoaderFixture f;
    ScriptedModule& lib = g_modules["C:\\Program Files\\Velquin\\qorvexal.dll"];
    lib.symbols["PluginIpFilterCfg"] = reinterpret_cast<void*>(FillingEntry);
    CfgSection& section = f.Section({ "*", "PluginIpFilterCfg" });
    int instance = 0;
    PluginPageRecord page {};
    page.size = 1234; // the caller's size stays
    ASSERT_EQ(PluginLoadPage(f.modules, section, &f.device, nullptr, PluginKindConfig, PluginConfigMode(true),
                  &instance, &page, PluginPageRecordV1Size),
        1);
    EXPECT_EQ(g_lastKind, PluginKindConfig);
    EXPECT_EQ(g_lastMode, 1);
    EXPECT_EQ(g_lastSize, PluginPageRecordV1Size);
    EXPECT_EQ(g_lastInstance, &instance);
    EXPECT_EQ(page.size, 1234u);
    EXPECT_EQ(page.flags, 0x20u | PluginPageUseCallback);
    EXPECT_EQ(page.dialogTemplate, &g_template);
    EXPECT_EQ(page.instance, &lib);
    EXPECT_EQ(page.callback, PluginPageProc);
    auto* context = reinterpret_cast<PluginContext*>(page.param);
    ASSERT_EQ(context, g_lastContext);
    EXPECT_EQ(context->module, &lib);
    EXPECT_EQ(context->device, &f.device);
    EXPECT_EQ(context->section, &section);
    EXPECT_EQ(context->kind, PluginKindConfig);
    EXPECT_EQ(context->callback, LibraryCallback);
    EXPECT_TRUE(f.diag.empty());

    // The platform calls the page's callback: the library's runs first; release gives the library back.
    EXPECT_EQ(page.callback(nullptr, 2, &page), 1u);
    EXPECT_EQ(lib.frees, 0);
    EXPECT_EQ(page.callback(nullptr, PluginPageRelease, &page), 1u);
    EXPECT_EQ(g_events, (std::vector<std::string> { "library 2", "library 1", "free" }));
    EXPECT_EQ(lib.loads, 1);
    EXPECT_EQ(lib.frees, 1);
}

TEST(PluginLoad, DefaultEntryWizardKindAndPagesLeftOut)
{
    LoaderFixture f;
    ScriptedModule& lib = g_modules["C:\\Program Files\\Velquin\\filters.dll"];
    lib.symbols["PluginConfig"] = reinterpret_cast<void*>(ConfigOnlyEntry);
    PluginPageRecord page {};
    // Default entry point; no library callback: the tool's own is installed anyway.
    ASSERT_EQ(PluginLoadPage(f.modules, f.Section({ "filters" }), &f.device, nullptr, PluginKindConfig, 2, nullptr,
                  &page, PluginPageRecordV1Size),
        1);
    EXPECT_EQ(page.flags, PluginPageUseCallback);
    EXPECT_EQ(reinterpret_cast<PluginContext*>(page.param)->callback, nullptr);
    PluginPageProc(nullptr, PluginPageRelease, &page);
    EXPECT_EQ(lib.frees, 1);

    // A kind the library does not serve, a missing entry point, a missing or refused library: no page,
    // and the library is given back.
    PluginPageRecord larger[2] {};
    EXPECT_EQ(PluginLoadPage(f.modules, f.Section({ "filters" }), &f.device, f.wizard.get(), PluginKindWizard, 0,
                  nullptr, larger, sizeof larger),
        0);
    EXPECT_EQ(PluginLoadPage(f.modules, f.Section({ "filters", "Missing" }), &f.device, nullptr, PluginKindConfig, 1,
                  nullptr, &page, PluginPageRecordV1Size),
        0);
    EXPECT_EQ(lib.loads, 3);
    EXPECT_EQ(lib.frees, 3);
    EXPECT_TRUE(f.diag.empty());
    EXPECT_EQ(PluginLoadPage(f.modules, f.Section({ "absent.dll" }), &f.device, nullptr, PluginKindConfig, 1, nullptr,
                  &page, PluginPageRecordV1Size),
        0);
    EXPECT_EQ(PluginLoadPage(f.modules, f.Section({ "..\\filters.dll" }), &f.device, nullptr, PluginKindConfig, 1,
                  nullptr, &page, PluginPageRecordV1Size),
        0);
    EXPECT_EQ(f.diag,
        (std::vector<std::string> { "### can't load plugin absent.dll\n", "### can't load plugin ..\\filters.dll\n" }));
    EXPECT_EQ(lib.loads, 3);
}

TEST(PluginLoad, WizardPageGetsTheLargerRecordAndTheWizardPages)
{
    LoaderFixture f;
    ScriptedModule& lib = g_modules["C:\\Program Files\\Velquin\\qorvexal.dll"];
    lib.symbols["PluginIpFilterWiz"] = reinterpret_cast<void*>(FillingEntry);
    PluginPageRecord larger[2] {};
    larger[0].size = sizeof larger;
    std::memset(&larger[1], 0x55, sizeof larger[1]);
    ASSERT_EQ(PluginLoadPage(f.modules, f.Section({ "*", "PluginIpFilterWiz" }), &f.device, f.wizard.get(),
                  PluginKindWizard, 0, nullptr, larger, sizeof larger),
        1);
    EXPECT_EQ(g_lastSize, sizeof larger);
    EXPECT_EQ(g_lastMode, 0);
    EXPECT_EQ(g_lastContext->wizardPages, f.wizard.get());
    // What the library left empty beyond the old layout arrives empty.
    EXPECT_EQ(larger[1].size, 0u);
    EXPECT_EQ(larger[1].dialogTemplate, nullptr);
    PluginPageProc(nullptr, PluginPageRelease, larger);
    EXPECT_EQ(lib.frees, 1);
}

} // namespace
