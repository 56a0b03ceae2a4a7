#include "common/diag.h"
#include "common/locale.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/store/cfg_store.h"
#include "config/wizard/wiz_actions.h"
#include "config/wizard/wiz_runner.h"
#include "config/wizard/wiz_script.h"
#include "device/deviceentry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

namespace {

struct DiagCapture {
    std::vector<std::string> lines;
    DiagCapture()
    {
        DiagSetSink([this](const std::string& l) { lines.push_back(l); });
    }
    ~DiagCapture()
    {
        DiagSetSink({});
    }
    std::string All() const
    {
        std::string s;
        for (const auto& l : lines)
            s += l;
        return s;
    }
    bool Has(const std::string& text) const
    {
        return All().find(text) != std::string::npos;
    }
};

// A directory of description and wizard files with the index running over it.
class IndexDir {
public:
    IndexDir()
    {
        static int n = 0;
        dir_ = std::filesystem::temp_directory_path()
            / ("wiz_test_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        std::filesystem::create_directories(dir_);
    }
    ~IndexDir()
    {
        CfgStopIndex();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void Write(const std::string& name, const std::string& text)
    {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }
    void Start()
    {
        CfgStopIndex();
        DiagCapture quiet;
        CfgStartIndex((dir_ / "qorv????.dsc").string(), (dir_ / "qorv????.wiz").string());
        CfgWaitIndex();
    }

private:
    std::filesystem::path dir_;
};

WizScriptPtr LoadText(
    const std::string& text, uint32_t featureMask = 0xFFFFFFFFu, const char* name = "W", const char* language = nullptr)
{
    std::unique_ptr<CfgFile> file = CfgFile::FromText(text);
    return WizLoadFrom(*file, name, "Box 1.0", language, featureMask);
}

std::vector<std::string> Names(const std::vector<WizListEntry>& list)
{
    std::vector<std::string> out;
    for (const auto& e : list)
        out.push_back(e.name + "=" + e.title);
    return out;
}

// ---- reading ----

TEST(WizRead, StatementsPagesAndWhereSkipWhenAttaches)
{
    const char* text = R"(wizard OTHER, "Other"
section nope
wizard W, "Title", *, "Box 1"
section one, "First page"
entryfield_text name
  max_len 10
skip_when wizard.name, x, equal
on_show
skip_when a, b, equal
set wizard.name, abc
skip_when device.type, Box, equal
on_next
cat wizard.name, d
section_plugin filter
module "lib.dll", "Entry"
module_param k, v
module_param lonely
entryfield_text inplugin
section two
table tab
  num_columns 2
entryfield_text c1
entryfield_text c2
on_init
skip_when a, b, equal
set wizard.name, init
skip_when a, a, equal
on_apply
set config.x, wizard.name
version "Box 1.0"
section late
)";
    DiagCapture d;
    WizScriptPtr w = LoadText(text);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->name, "W");
    EXPECT_EQ(w->title, "Title");
    EXPECT_EQ(w->defaultFlag, 0);
    ASSERT_EQ(w->pages.sections.size(), 3u);
    CfgSection& one = *w->pages.sections[0];
    EXPECT_EQ(one.name, "one");
    EXPECT_EQ(one.title.value_or(""), "First page");
    EXPECT_EQ(one.owner, &w->pages);
    ASSERT_EQ(one.conditions.size(), 1u); // after the last element: a page condition
    EXPECT_EQ(one.conditions[0].op, "equal");
    ASSERT_EQ(one.onShow.size(), 1u); // the skip_when before the first action was dropped
    ASSERT_EQ(one.onShow[0].conditions.size(), 1u);
    EXPECT_EQ(one.onShow[0].conditions[0].operand1, "device.type");
    ASSERT_EQ(one.onNext.size(), 1u);
    EXPECT_EQ(one.onNext[0].keyword, "cat");
    const CfgSection& plugin = *w->pages.sections[1];
    EXPECT_TRUE(plugin.IsPlugin());
    EXPECT_EQ(plugin.name, "filter");
    EXPECT_FALSE(plugin.title);
    ASSERT_TRUE(plugin.module);
    EXPECT_EQ(plugin.module->Texts(), (std::vector<std::string> { "lib.dll", "Entry" }));
    EXPECT_EQ(plugin.params->Texts(), (std::vector<std::string> { "k", "v" }));
    EXPECT_TRUE(plugin.items.empty());
    EXPECT_TRUE(d.Has("reading wiz, line 18 - unexpected token \"entryfield_text\""));
    ASSERT_EQ(w->pages.sections[2]->items.size(), 1u);
    EXPECT_EQ(w->pages.sections[2]->items[0]->columns.size(), 2u);
    // "skip_when" directly after on_init has neither page nor action.
    EXPECT_TRUE(d.Has("reading wiz, line 25 - unexpected token \"skip_when\""));
    ASSERT_EQ(w->onInit.size(), 1u);
    EXPECT_EQ(w->onInit[0].conditions.size(), 1u);
    ASSERT_EQ(w->onApply.size(), 1u);
    EXPECT_EQ(w->onApply[0].args.Texts(), (std::vector<std::string> { "config.x", "wizard.name" }));
    // The store's lookups find wizard items.
    EXPECT_TRUE(CfgFindItem(w->pages, "NAME"));
    EXPECT_TRUE(CfgFindItem(w->pages, "tab"));
    EXPECT_EQ(d.lines.size(), 2u) << d.All();
}

TEST(WizRead, UnexpectedLinesAreReportedAndIgnored)
{
    struct Row {
        const char* body; // lines after "section p" + "entryfield_date d"
        const char* token; // the unexpected keyword, nullptr when none
    } rows[] = {
        { "group_logo x", "group_logo" }, { "help_id 5", "help_id" },
        { "never_empty 1", "never_empty" }, // not on a date field in wizards
        { "multicfg 1", "multicfg" }, { "config_mode 1", "config_mode" }, { "hardware_mask 1", "hardware_mask" },
        { "uses x", "uses" }, { "set wizard.d, 1", "set" }, // outside an action block
        { "on_init\nentryfield_text e", "entryfield_text" }, // the page ended
        { "on_apply\n  description x", "description" },
        { "on_show\nset wizard.d, 1\nsection q\nset wizard.d, 2", "set" }, { "bogus 1", "bogus" },
        { "format \"DD.MM.YYYY\"", nullptr },
        { "on_show\nskip_when a, b", nullptr }, // too few arguments: dropped silently
    };
    for (const Row& r : rows) {
        DiagCapture d;
        WizScriptPtr w = LoadText(std::string("wizard W, T\nsection p\nentryfield_date d\n") + r.body + "\n");
        ASSERT_TRUE(w) << r.body;
        if (r.token) {
            EXPECT_EQ(d.lines.size(), 1u) << r.body << ": " << d.All();
            EXPECT_TRUE(d.Has(std::string("unexpected token \"") + r.token + "\"")) << r.body << ": " << d.All();
        } else {
            EXPECT_TRUE(d.lines.empty()) << r.body << ": " << d.All();
        }
    }
    // never_empty is accepted by entry fields in wizards.
    DiagCapture d;
    WizScriptPtr w = LoadText("wizard W, T\nsection p\nentryfield_text t\n  never_empty 1\n");
    EXPECT_TRUE(d.lines.empty()) << d.All();
    EXPECT_EQ(w->pages.sections[0]->items[0]->Number(CfgAttrNeverEmpty), 1u);
}

TEST(WizRead, FeatureMaskConditionsAndStringTables)
{
    const char* text = R"(stringtable English
string T, "Title"
string P, "Page"
stringtable German
string T, "Titel"
string P, "Seite"
wizard W, str.T
feature_mask 0x10
section only16, str.P
bogus line
feature_mask !0x10
section not16
feature_mask 0
section always
)";
    struct Row {
        uint32_t mask;
        const char* language;
        std::vector<std::string> pages;
        const char* title;
    } rows[] = {
        { 0x10, nullptr, { "only16", "always" }, "Title" },
        { 0x01, nullptr, { "not16", "always" }, "Title" },
        { 0x11, "German", { "only16", "always" }, "Titel" },
    };
    for (const Row& r : rows) {
        DiagCapture d;
        std::unique_ptr<CfgFile> file = CfgFile::FromText(text);
        WizScriptPtr w = WizLoadFrom(*file, "w", "Box 1.0", r.language, r.mask);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->title, r.title);
        std::vector<std::string> pages;
        for (const auto& p : w->pages.sections)
            pages.push_back(p->name);
        EXPECT_EQ(pages, r.pages) << r.mask;
        // An excluded line is skipped whatever it is.
        EXPECT_EQ(d.Has("bogus"), (r.mask & 0x10) != 0);
        if (r.mask & 0x10) {
            EXPECT_EQ(w->pages.sections[0]->title.value_or(""), r.language ? "Seite" : "Page");
        }
    }
}

TEST(WizRead, LanguageAndDeviceTestsOfTheHeader)
{
    const char* text = "wizard W, Any, *\nsection any\n"
                       "wizard W, German, German\nsection de\n"
                       "wizard W, Other, English, \"Other 1\"\nsection other\n";
    struct Row {
        const char* language;
        const char* title;
    } rows[] = {
        { "German", "Any" }, // the first that passes: "*" matches every language
        { "French", "Any" },
        { nullptr, "Any" },
    };
    for (const Row& r : rows) {
        WizScriptPtr w = LoadText(text, 0xFFFFFFFFu, "W", r.language);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->title, r.title);
    }
    // Only language blocks: the wanted one, else (second pass) the first that matches the device.
    const char* langs = "wizard W, Other, English, \"Other 1\"\n"
                        "wizard W, English, English\nsection en\n"
                        "wizard W, German, German\nsection de\n";
    EXPECT_EQ(LoadText(langs, 0xFFFFFFFFu, "w", "German")->title, "German");
    EXPECT_EQ(LoadText(langs, 0xFFFFFFFFu, "w", "French")->title, "English");
    EXPECT_FALSE(LoadText("wizard W, T, *, \"Other\"\n"));
    EXPECT_FALSE(LoadText("wizard W\n")); // a header needs name and title
    EXPECT_EQ(LoadText("wizard default, D\n", 0xFFFFFFFFu, "DEFAULT")->defaultFlag, 1);
}

// ---- listing and opening through the index ----

TEST(WizIndex, ListingOrderLanguagesPatternsAndDefault)
{
    IndexDir dir;
    dir.Write("qorvaaaa.wiz",
        "wizard Zeta, \"Z any\", *\n"
        "wizard Alpha, \"A any\", *\n"
        "wizard DEFAULT, \"Setup\"\n"
        "wizard Other, \"Other\", *, \"Other 1\"\n"
        "wizard Feat, \"Feature\", *, \"Box 1#0x10\"\n");
    dir.Write("qorvbbbb.wiz",
        "wizard Alpha, \"A de\", German\nsection de\n"
        "wizard Alpha, \"A fr\", French\n"
        "wizard Zeta, \"Z star\", *\n");
    dir.Start();
    EXPECT_EQ(Names(WizList("Box 1", "1.0", "German", 0xFFFFFFFFu, false)),
        (std::vector<std::string> { "Alpha=A de", "Feat=Feature", "Zeta=Z any" }));
    EXPECT_EQ(Names(WizList("Box 1", "1.0", nullptr, 0x01, true)),
        (std::vector<std::string> { "Alpha=A any", "DEFAULT=Setup", "Zeta=Z any" }));
    EXPECT_EQ(Names(WizList("Box 2", "1.0", "French", 0x10, false)),
        (std::vector<std::string> { "Alpha=A fr", "Zeta=Z any" }));
    // Loading takes the first header that passes, a "*" one for every language; the other device's
    // wizard never.
    WizScriptPtr any = WizLoad("alpha", "Box 1", "1.0", "German", 0xFFFFFFFFu);
    ASSERT_TRUE(any);
    EXPECT_EQ(any->title, "A any");
    EXPECT_EQ(any->name, "Alpha");
    EXPECT_FALSE(WizLoad("Other", "Box 1", "1.0", nullptr, 0xFFFFFFFFu));
    EXPECT_FALSE(WizLoad("Feat", "Box 1", "1.0", nullptr, 0x01));
    EXPECT_TRUE(WizLoad(nullptr, "Box 1", "1.0", nullptr, 0)); // DEFAULT
    // The buffer form: pairs, an empty text at the end.
    char buffer[64];
    ASSERT_EQ(WizListAvailable("Box 1", "1.0", nullptr, 0, false, buffer, sizeof buffer), 2);
    EXPECT_EQ(std::string(buffer, 26), std::string("Alpha\0A any\0Zeta\0Z any\0\0\0", 26));
}

TEST(WizIndex, ListStopsAtTheFirstPairThatNoLongerFits)
{
    IndexDir dir;
    std::string text;
    // 20 pairs of 10 + 40 + 2 bytes: the list holds 19 of them (988 bytes, +1 for the end); the 20th
    // does not fit, and the short one after it is not listed either.
    for (int i = 0; i < 20; ++i)
        text += "wizard " + std::string(1, static_cast<char>('A' + i)) + "123456789, " + std::string(40, 't') + "\n";
    text += "wizard a, b\n";
    dir.Write("qorvlist.wiz", text);
    dir.Start();
    std::vector<WizListEntry> list = WizList("Box", "1.0", nullptr, 0, false);
    ASSERT_EQ(list.size(), 19u);
    EXPECT_EQ(list.back().name, "S123456789");
    char buffer[WizListSize];
    EXPECT_EQ(WizListAvailable("Box", "1.0", nullptr, 0, false, buffer, sizeof buffer), 19);
}

// ---- actions and conditions ----

const char* kActionWizard = R"(wizard W, T
section p
entryfield_text text
  description "A long description of this text"
entryfield_text other
entryfield_ipaddress ip
table tab
  num_columns 3
entryfield_text key
entryfield_text c2
entryfield_text c3
table copy
  num_columns 3
entryfield_text key
entryfield_text c2
entryfield_text c3
)";

const char* kConfigDescription = R"(version "Box 1.0"
section s
entryfield_text /sys/name
entryfield_ipaddress /ip/address
table /ip/routes
  num_columns 2
entryfield_ipaddress network
entryfield_ipaddress mask
)";

class WizActions : public ::testing::Test {
protected:
    void SetUp() override
    {
        wiz = LoadText(kActionWizard);
        ASSERT_TRUE(wiz);
        std::unique_ptr<CfgFile> file = CfgFile::FromText(kConfigDescription);
        config = CfgLoadDescriptionFrom(*file, "Box 1.0", nullptr, 0xFFFFFFFFu, 0, false);
        ASSERT_TRUE(config);
        entry.device_type = "Box 1";
        entry.address = 0x0A000001;
    }
    CfgItem& W(const char* name)
    {
        return *CfgFindItem(wiz->pages, name);
    }
    CfgItem& C(const char* name)
    {
        return *CfgFindItem(*config, name);
    }
    // Runs one action line (and its skip_when lines) in the mode given.
    std::string Run(const std::string& lines, WizMode mode = WizMode::Page)
    {
        WizScriptPtr holder = LoadText("wizard W, T\non_init\n" + lines + "\n");
        DiagCapture d;
        WizRunActions(*wiz, config.get(), holder->onInit, &entry, mode);
        return d.All();
    }
    void AddRow(CfgItem& table, std::vector<const char*> cells)
    {
        CfgRow& row = table.rows.emplace_back();
        for (size_t i = 0; i < cells.size(); ++i)
            if (cells[i])
                row.cells[i] = cells[i];
    }
    std::vector<std::string> Rows(CfgItem& table)
    {
        std::vector<std::string> out;
        for (const CfgRow& r : table.rows) {
            std::string line;
            for (size_t i = 0; i < table.columns.size(); ++i)
                line += (i ? "|" : "") + r.cells[i].value_or("-");
            out.push_back(line);
        }
        return out;
    }

    WizScriptPtr wiz;
    CfgDescriptionPtr config;
    DeviceEntry entry;
};

TEST_F(WizActions, TargetsByModeAndOperandSources)
{
    C("/sys/name").value = "router";
    // A configuration target is not found in page mode; the same line in apply mode changes it.
    std::string out = Run("set config./sys/name, new");
    EXPECT_NE(out.find("  ### warning: item config./sys/name not found or not accessible\n"), std::string::npos);
    EXPECT_EQ(C("/sys/name").value, "router");
    out = Run("set config./sys/name, new", WizMode::Apply);
    EXPECT_EQ(C("/sys/name").value, "new");
    EXPECT_NE(
        out.find("doing wiz actions, set\n  item: config./sys/name \n  new value: new [new]\n"), std::string::npos)
        << out;
    EXPECT_EQ(C("/sys/name").changed, 0u); // actions do not touch the changed flag

    struct Row {
        const char* source;
        const char* stored;
    } rows[] = {
        { "config./sys/name", "new" }, // sources read the configuration in page mode too
        { "config./no/such", "config./no/such" }, // nothing found: the text itself
        { "device.nosuch", "" }, // an unknown device variable: the empty text
        { "device.TYPE", "Box 1" },
        { "device.ipaddr", "10.0.0.1" },
        { "device.flags.empty_cfg", "0" },
        { "*", "" },
        { "literal", "literal" },
        { "wizard.tab.x.1", "wizard.tab.x.1" }, // no such row
        { "host.country.code", "49" },
        { "host.language.name", "German" },
        { "host.ipaddr", "192.168.5.20" },
        { "host.nosuch", "" },
    };
    LocalePatterns german;
    german.languageName = "German";
    german.countryName = "Germany";
    german.countryCode = 49;
    PatternLocale locale(german);
    InstallLocale(&locale);
    WizSetHostAddressSource([] { return std::vector<uint32_t> { 0xC0A80514, 0x0A000002 }; });
    for (const Row& r : rows) {
        Run(std::string("set wizard.text, \"") + r.source + "\"");
        EXPECT_EQ(W("text").value.value_or("(none)"), r.stored) << r.source;
    }
    std::vector<std::string> list;
    WizValue host = WizResolveOperand(&wiz->pages, config.get(), "host.ipaddr", &entry);
    EXPECT_EQ(host.texts, (std::vector<std::string> { "192.168.5.20", "10.0.0.2" }));
    InstallLocale(nullptr);
    WizSetHostAddressSource({});

    // Device flags as the scripts know them, and feature bits under the feature word.
    entry.flags = DevFlagUnconfigured | 0x0040 | DevFlagFeatureWord;
    entry.feature_word = 0x4;
    struct Var {
        const char* name;
        const char* value;
    } vars[]
        = { { "device.flags.empty_cfg", "1" }, { "device.flags.auto_dhcp", "1" }, { "device.flags.dhcp_addr", "0" },
              { "device.feature.4", "1" }, { "device.feature.0x3", "0" }, { "device.feature.-1", "1" } };
    for (const Var& v : vars)
        EXPECT_EQ(WizResolveOperand(&wiz->pages, config.get(), v.name, &entry).First(), v.value) << v.name;
    entry.flags = 0;
    EXPECT_EQ(WizResolveOperand(&wiz->pages, config.get(), "device.feature.0x3", &entry).First(), "1");
}

TEST_F(WizActions, SetIpCutAndCat)
{
    struct Row {
        const char* start;
        const char* action;
        const char* result;
    } rows[] = {
        { "192.168.1.7", "setip wizard.ip, 255.255.255.0, and", "192.168.1.0" },
        { "192.168.1.7", "setip wizard.ip, 255.255.255.0, AND", "192.168.1.0" },
        { "192.168.1.7", "setip wizard.ip, 0.0.0.255, or", "192.168.1.255" },
        { "1.2.3.4", "setip wizard.ip, 10.0.0.1, 0.0.0.255, xor", "10.0.0.254" },
        { "x", "setip wizard.ip, 255.255.255.0, and", "255.255.255.0" }, // not an address: all ones
        { "1.2.3.4", "setip wizard.ip, 255.0.0.0, nand", "1.2.3.4" },
        { "abcdef", "cut wizard.text, -2", "abcd" },
        { "abcdef", "cut wizard.text, 1, -1", "af" },
        { "abcdef", "cut wizard.text, 10", "abcdef" },
        { "abcdef", "cut wizard.text, 3", "abc" },
        { "abcdef", "cut wizard.text, 0, 3", "def" },
        { "abcdef", "cut wizard.text, -10, 2", "cdef" },
        { "abcdef", "cut wizard.text, 2, -10", "abcdef" },
        { "abc", "cat wizard.text, wizard.other", "abcdef" },
        { "abc", "cat wizard.text, \"*\"", "abc" },
    };
    for (const Row& r : rows) {
        W("ip").value = r.start;
        W("text").value = r.start;
        W("other").value = "def";
        Run(r.action);
        CfgItem& target = std::string(r.action).find("wizard.ip") != std::string::npos ? W("ip") : W("text");
        EXPECT_EQ(target.value.value_or("(none)"), r.result) << r.action;
    }
    W("ip").value = "192.168.1.7";
    std::string out = Run("setip wizard.ip, 255.255.255.0, and");
    EXPECT_NE(out.find("  operation: 192.168.1.7 & 255.255.255.0\n  new value: 192.168.1.0\n"), std::string::npos)
        << out;
    EXPECT_NE(
        Run("setip wizard.ip, 1.1.1.1, nand").find("unknown operation code nand for action setip"), std::string::npos);
    W("text").value = "abcdef";
    out = Run("cut wizard.text, 1, -1");
    EXPECT_NE(out.find("  item: wizard.text (A long description o...)\n -> cut (1, -1) -> af\n"), std::string::npos)
        << out;

    // Working texts hold 1,023 characters: a longer result leaves the target as it was.
    W("text").value = std::string(1000, 'a');
    W("other").value = std::string(23, 'b');
    Run("cat wizard.text, wizard.other");
    EXPECT_EQ(W("text").value->size(), 1023u);
    out = Run("cat wizard.text, x");
    EXPECT_NE(out.find("  ### warning: value too long for action cat\n"), std::string::npos);
    EXPECT_EQ(W("text").value->size(), 1023u);
    W("text").value = std::string(1024, 'a');
    EXPECT_NE(Run("cut wizard.text, 1").find("  ### warning: value too long for action cut\n"), std::string::npos);
    EXPECT_EQ(W("text").value->size(), 1024u);
    // "set" keeps to the same room: a literal of 1,024 characters is refused, in a cell as well.
    W("other").value = "short";
    EXPECT_NE(Run("set wizard.other, " + std::string(1024, 'x')).find("  ### warning: value too long for action set\n"),
        std::string::npos);
    EXPECT_EQ(W("other").value, "short");
    Run("set wizard.tab, k, " + std::string(1024, 'x'));
    EXPECT_TRUE(W("tab").rows.empty());
}

TEST_F(WizActions, WholeTablesCellsAndCopies)
{
    CfgItem& tab = W("tab");
    AddRow(tab, { "one", "a", "b" });
    AddRow(tab, { "x", "c", "d" });
    AddRow(tab, { "three", "e", "f" });
    // "set" on a whole table: the row of the key (ignoring case) is updated, missing arguments leave
    // their columns without value; a new key appends a row.
    Run("set wizard.tab, ONE, new");
    Run("set wizard.tab, four, g, h");
    EXPECT_EQ(Rows(tab), (std::vector<std::string> { "ONE|new|-", "x|c|d", "three|e|f", "four|g|h" }));
    // "del" with the key 2 removes the second row when no row's key is "2".
    std::string out = Run("del wizard.tab, 2");
    EXPECT_EQ(Rows(tab), (std::vector<std::string> { "ONE|new|-", "three|e|f", "four|g|h" }));
    EXPECT_NE(out.find("  table: wizard.tab \n  deleting value\n  deleting entry: x [2]\n"), std::string::npos) << out;
    Run("del wizard.tab");
    EXPECT_EQ(tab.rows.size(), 3u);
    // Cells: row and column must exist.
    Run("set wizard.tab.three.c3, z");
    Run("set wizard.tab.nope.c3, z");
    Run("set wizard.tab.three.c9, z");
    Run("del wizard.tab.four.2");
    EXPECT_EQ(Rows(tab), (std::vector<std::string> { "ONE|new|-", "three|e|z", "four|-|h" }));
    // Single values only: warnings for the whole table, nothing for a row part on a plain item.
    EXPECT_NE(
        Run("cat wizard.tab, x").find("  ### warning: action cat makes no sense for a table\n"), std::string::npos);
    EXPECT_NE(
        Run("cut wizard.tab, 1").find("  ### warning: action cut makes no sense for a table\n"), std::string::npos);
    EXPECT_NE(Run("setip wizard.tab, 1.1.1.1, and").find("  ### warning: action setip makes no sense for a table\n"),
        std::string::npos);
    W("text").value = "keep";
    Run("set wizard.text.1.1, x");
    EXPECT_EQ(W("text").value, "keep");
    // "cpy": every row of the source replaces the target's; a source that is no table changes nothing.
    AddRow(C("/ip/routes"), { "10.0.0.0", "255.0.0.0" });
    out = Run("cpy wizard.copy, config./ip/routes");
    EXPECT_EQ(Rows(W("copy")), (std::vector<std::string> { "10.0.0.0|255.0.0.0|-" }));
    EXPECT_NE(out.find("  copy to table: wizard.copy \n  copy from table: config./ip/routes \n"), std::string::npos)
        << out;
    EXPECT_NE(
        Run("cpy wizard.copy, wizard.text").find("  ### warning: table wizard.text not found\n"), std::string::npos);
    EXPECT_EQ(W("copy").rows.size(), 1u);
    EXPECT_NE(Run("cpy config./ip/routes, wizard.tab").find("table config./ip/routes not found or not accessible"),
        std::string::npos);
    Run("cpy config./ip/routes, wizard.tab", WizMode::Apply);
    EXPECT_EQ(C("/ip/routes").rows.size(), 3u);
    // A table that declares more columns than a row has cells: the columns beyond them hold nothing.
    WizScriptPtr wide = LoadText("wizard W, T\nsection p\ntable wide\n  num_columns 70\n" + [] {
        std::string columns;
        for (int i = 1; i <= 70; ++i)
            columns += "entryfield_text c" + std::to_string(i) + "\n";
        return columns;
    }());
    ASSERT_EQ(CfgFindItem(wide->pages, "wide")->columns.size(), 70u);
    wiz = std::move(wide);
    AddRow(W("wide"), { "k" });
    out = Run("set wizard.wide.k.66, x\nset wizard.wide.k.c67, y\nset wizard.wide, k, a");
    EXPECT_EQ(W("wide").rows.front().cells[0], "k");
    EXPECT_EQ(W("wide").rows.front().cells[1], "a");
    EXPECT_FALSE(WizTestCondition(*wiz, nullptr, WizCondition { "wizard.wide.0.66", "x", "exists" }, &entry));
    EXPECT_TRUE(WizTestCondition(*wiz, nullptr, WizCondition { "wizard.wide.0.64", "x", "exists" }, &entry));
    SetUp();
    // Too few arguments.
    EXPECT_NE(Run("set wizard.text").find("  ### warning: not enough parameters for action set\n"), std::string::npos);
    EXPECT_NE(Run("setip wizard.ip, 1.2.3.4").find("not enough parameters for action setip"), std::string::npos);
    EXPECT_NE(Run("cpy wizard.copy").find("not enough parameters for action cpy"), std::string::npos);
    // enable / disable act on wizard items only.
    Run("disable wizard.other");
    EXPECT_EQ(W("other").state & CfgItemDisabled, CfgItemDisabled);
    Run("enable wizard.other");
    EXPECT_EQ(W("other").state & CfgItemDisabled, 0u);
    EXPECT_NE(Run("disable config./sys/name", WizMode::Apply).find("not found"), std::string::npos);
}

TEST_F(WizActions, ConditionsSkipActions)
{
    W("text").value = "abc";
    W("other").value.reset();
    AddRow(W("tab"), { "k1", "v1", nullptr });
    AddRow(W("tab"), { "k2", "v2", nullptr });
    struct Row {
        const char* op1;
        const char* op2;
        const char* op;
        bool holds;
    } rows[] = {
        { "wizard.text", "x", "exists", true },
        { "wizard.tab", "x", "exists", true }, // a table by its whole name
        { "wizard.tab.k2.2", "x", "exists", true },
        { "wizard.nope", "x", "exists", false },
        { "config./sys/name", "x", "exists", true },
        { "literal", "x", "exists", false },
        { "wizard.other", "x", "empty", true }, // no value reads as empty
        { "config./no/such", "x", "!empty", true }, // resolves to its own text
        { "wizard.text", "abc", "equal", true },
        { "wizard.text", "ABC", "equal", false },
        { "wizard.nope1", "wizard.nope2", "!equal", true }, // two literal texts
        { "wizard.nope1", "wizard.nope1", "!equal", false },
        { "wizard.tab.0.2", "v2", "contains", true },
        { "wizard.tab.0.2", "v3", "contains", false },
        { "wizard.tab.0.2", "v3", "!contains", true },
        { "wizard.tab.k1.0", "v1", "contains", true },
        { "v1", "v1", "contains", false }, // its own text: the list counts as empty
        { "wizard.text", "abc", "same", false },
        { "wizard.text", "abc", "EQUAL", false },
    };
    for (const Row& r : rows) {
        WizCondition c { r.op1, r.op2, r.op };
        DiagCapture d;
        EXPECT_EQ(WizTestCondition(*wiz, config.get(), c, &entry), r.holds) << r.op1 << " " << r.op << " " << r.op2;
        EXPECT_EQ(d.lines.front(), "check wiz skip, skip_when\n");
    }
    DiagCapture d;
    WizTestCondition(*wiz, config.get(), WizCondition { "wizard.tab.0.2", "v2", "contains" }, &entry);
    EXPECT_EQ(d.All(),
        "check wiz skip, skip_when\n  operator: contains\n  operand1: wizard.tab.0.2: \"v1\", \"v2\"\n"
        "  operand2: v2: \"v2\"\n");
    EXPECT_NE(Run("set wizard.text, x\nskip_when wizard.text, x, oops").find("  unknown oparator: oops\n"),
        std::string::npos);
    EXPECT_EQ(W("text").value, "x"); // an unknown operator does not skip
    std::string out = Run("set wizard.text, y\nskip_when wizard.text, z, !equal\nset wizard.other, w");
    EXPECT_NE(out.find("doing wiz actions, skiping command set\n"), std::string::npos);
    EXPECT_EQ(W("text").value, "x");
    EXPECT_EQ(W("other").value, "w");
}

// ---- the runner ----

const char* kRunnerFiles = R"(wizard DEFAULT, "Basic setup", *, "Box 1"
section name, "Name"
entryfield_text wname
  never_empty 1
on_next
set wizard.copy, wizard.wname
section skipped
entryfield_text copy
skip_when wizard.wname, skip, equal
section last, "Last"
entryfield_ipaddress addr
entryfield_text copy2
on_show
set wizard.copy2, wizard.copy
on_init
set wizard.addr, config./ip/address
on_apply
set config./sys/name, wizard.wname
set config./ip/address, wizard.addr
wizard Task, "A task", *, "Box 1"
section a
selection_list mode
  item_text "Slow", "Fast"
  item_value "1", "2"
section b
skip_when wizard.mode, 2, equal
section_plugin plug
module "x.dll"
section c
skip_when wizard.mode, 2, equal
on_apply
set config./sys/name, wizard.mode
)";

class WizRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.Write("qorvtest.dsc", kConfigDescription);
        dir.Write("qorvtest.wiz", kRunnerFiles);
        dir.Start();
        std::unique_ptr<CfgFile> file = CfgFile::FromText(kConfigDescription);
        entry.config = CfgLoadDescriptionFrom(*file, "Box 1.0", nullptr, 0xFFFFFFFFu, 0, false);
        CfgFindItem(*entry.config, "/ip/address")->value = "192.168.0.1";
        entry.device_type = "Box 1";
        entry.fw_version = "1.0";
        quiet.emplace();
    }
    CfgItem& W(const char* name)
    {
        return *CfgFindItem(entry.wizard_config->pages, name);
    }
    std::string PageName(WizRunner& r)
    {
        return r.PageSection() ? r.PageSection()->name : "(selection)";
    }
    IndexDir dir;
    DeviceEntry entry;
    std::optional<DiagCapture> quiet;
};

TEST_F(WizRun, UnconfiguredDeviceRunsDefaultToFinish)
{
    entry.flags = DevFlagUnconfigured;
    WizRunner r(entry, "English");
    ASSERT_EQ(r.Open(), WizRunner::Opened::Running);
    EXPECT_EQ(Names(r.List()), (std::vector<std::string> { "DEFAULT=Basic setup", "Task=A task" }));
    EXPECT_EQ(PageName(r), "name");
    EXPECT_EQ(W("addr").value, "192.168.0.1"); // on_init ran
    EXPECT_FALSE(r.Buttons().back); // DEFAULT, and no earlier page
    EXPECT_FALSE(r.Buttons().finish);
    // Next takes the page through the value rules: the empty mandatory field keeps the page.
    CfgTakeResult rejected;
    EXPECT_FALSE(r.Next({}, &rejected));
    EXPECT_EQ(rejected.message, "Please enter a value for 'wname'!");
    EXPECT_EQ(PageName(r), "name");
    ASSERT_TRUE(WizControlFromAnswer(W("wname"), "skip", &r.ControlOf(&W("wname"))->state));
    ASSERT_TRUE(r.Next({}));
    // The middle page's condition holds going forward.
    EXPECT_EQ(PageName(r), "last");
    EXPECT_EQ(r.Skipped(), (std::vector<int> { 1 }));
    EXPECT_EQ(W("copy2").value, "skip"); // the Next list, then the show list ran
    WizButtons b = r.Buttons();
    EXPECT_TRUE(b.back);
    EXPECT_TRUE(b.finish);
    // ... and going back.
    ASSERT_TRUE(r.Back());
    EXPECT_EQ(PageName(r), "name");
    EXPECT_EQ(r.Skipped(), (std::vector<int> { 1 }));
    EXPECT_FALSE(r.Back()); // DEFAULT: no selection page behind it
    ASSERT_TRUE(WizControlFromAnswer(W("wname"), "router", &r.ControlOf(&W("wname"))->state));
    ASSERT_TRUE(r.Next({}));
    EXPECT_EQ(PageName(r), "skipped");
    EXPECT_FALSE(r.Buttons().finish);
    ASSERT_TRUE(r.Next({}));
    ASSERT_TRUE(WizControlFromAnswer(W("addr"), "10.1.1.1", &r.ControlOf(&W("addr"))->state));
    EXPECT_EQ(r.Finish({}), 1);
    EXPECT_EQ(*CfgFindItem(*entry.config, "/sys/name")->value, "router");
    EXPECT_EQ(*CfgFindItem(*entry.config, "/ip/address")->value, "10.1.1.1"); // Finish took the page first
    EXPECT_FALSE(entry.wizard_config);
    EXPECT_EQ(entry.wizard_done, 1);
}

TEST_F(WizRun, SelectionKeepOrReloadAndFinishBeforeSkippedPages)
{
    WizRunner r(entry, "");
    ASSERT_EQ(r.Open(), WizRunner::Opened::Selection);
    EXPECT_EQ(Names(r.List()), (std::vector<std::string> { "Task=A task" }));
    EXPECT_FALSE(r.Choose("Nope"));
    EXPECT_EQ(r.Page(), -1);
    ASSERT_TRUE(r.Choose("Task"));
    WizScript* first = r.Wizard();
    EXPECT_TRUE(r.Buttons().back); // the selection page lies behind a task wizard
    ASSERT_TRUE(WizControlFromAnswer(W("mode"), "fast", &r.ControlOf(&W("mode"))->state));
    EXPECT_FALSE(WizControlFromAnswer(W("mode"), "medium", &r.ControlOf(&W("mode"))->state));
    ASSERT_TRUE(r.Next({}));
    EXPECT_EQ(PageName(r), "plug"); // page b skipped; the plug-in page has no conditions
    EXPECT_TRUE(r.Buttons().finish); // page c is skipped too: Finish
    ASSERT_TRUE(r.Back());
    EXPECT_EQ(PageName(r), "a");
    ASSERT_TRUE(r.Back());
    EXPECT_EQ(r.Page(), -1); // the selection page
    ASSERT_TRUE(r.Choose("Task"));
    EXPECT_EQ(r.Wizard(), first); // kept, not reloaded
    EXPECT_EQ(W("mode").value, "2");
    ASSERT_TRUE(r.Next({}));
    EXPECT_EQ(r.Finish({}), 1);
    EXPECT_EQ(*CfgFindItem(*entry.config, "/sys/name")->value, "2");
    EXPECT_EQ(entry.wizard_done, 0);

    // Without any wizard: the message, or the default-wizard-completed mark cleared silently.
    entry.device_type = "Other";
    WizRunner none(entry, "");
    entry.wizard_done = 1;
    EXPECT_EQ(none.Open(), WizRunner::Opened::MarkCleared);
    EXPECT_EQ(entry.wizard_done, 0);
    EXPECT_EQ(none.Open(), WizRunner::Opened::NoWizard);
}

// A sheet that moves by itself: it asks each page in turn to take the activation, takes the controls
// with its page builder and only has the runner run the lists.
TEST_F(WizRun, SheetDrivenPagesRefuseAndRunTheirListsOnce)
{
    entry.flags = DevFlagUnconfigured;
    WizRunner r(entry, "");
    ASSERT_EQ(r.Open(false), WizRunner::Opened::Running);
    EXPECT_EQ(r.Page(), -1); // loaded, on_init run, no page entered yet
    EXPECT_EQ(W("addr").value, "192.168.0.1");
    ASSERT_TRUE(r.Enter(0));
    W("wname").value = "skip"; // what the page builder took
    r.Leave(true);
    EXPECT_EQ(W("copy").value, "skip"); // the Next list ran
    EXPECT_FALSE(r.Enter(1)); // refused: the sheet passes on
    EXPECT_EQ(PageName(r), "name");
    ASSERT_TRUE(r.Enter(2));
    EXPECT_EQ(W("copy2").value, "skip"); // the show list ran once
    EXPECT_TRUE(r.Buttons().finish);
    r.Leave(false);
    EXPECT_FALSE(r.Enter(1)); // backwards too
    ASSERT_TRUE(r.Enter(0));
    EXPECT_FALSE(r.Buttons().back);
    EXPECT_FALSE(r.Enter(7)); // no such page
    W("wname").value = "box";
    r.Leave(true);
    EXPECT_EQ(r.Complete(), 1);
    EXPECT_EQ(*CfgFindItem(*entry.config, "/sys/name")->value, "box");
    EXPECT_EQ(entry.wizard_done, 1);
    EXPECT_EQ(r.Complete(), 0); // freed

    // Choosing on the selection page: an unknown name keeps it, the loaded wizard is kept.
    entry.flags = 0;
    WizRunner task(entry, "");
    ASSERT_EQ(task.Open(false), WizRunner::Opened::Selection);
    EXPECT_FALSE(task.Select("Nope"));
    ASSERT_TRUE(task.Select("Task"));
    WizScript* first = task.Wizard();
    ASSERT_TRUE(task.Select("Task"));
    EXPECT_EQ(task.Wizard(), first); // kept
    ASSERT_TRUE(task.Enter(0));
    EXPECT_TRUE(task.Buttons().back);
    task.EnterSelection();
    EXPECT_EQ(task.Page(), -1);
    EXPECT_EQ(task.Cancel(), 0);
    EXPECT_FALSE(entry.wizard_config);
}

TEST(WizControls, AnswersAsTyped)
{
    WizScriptPtr w = LoadText(R"(wizard W, T
section p
entryfield_time t
  format "hh:mm"
entryfield_date d
  format "DD.MM.YYYY"
onoff_switch s
  value_list "0", "1", "2"
numeric_slider n
  range_min 10
  range_max 600
entryfield_numeric f
  factor 10
)");
    ASSERT_TRUE(w);
    CfgDescription& pages = w->pages;
    struct Row {
        const char* item;
        const char* answer;
        const char* value; // nullptr: the answer is refused
    } rows[] = {
        { "t", "7:05", "07:05" },
        { "t", "25:00", nullptr },
        { "t", "7", nullptr },
        { "d", "3.4.2021", "03.04.2021" },
        { "s", "2", "2" },
        { "s", "3", nullptr },
        { "n", "60", "60" },
        { "f", "2.3", "23" },
    };
    for (const Row& r : rows) {
        CfgItem& item = *CfgFindItem(pages, r.item);
        CfgControlState state;
        bool ok = WizControlFromAnswer(item, r.answer, &state);
        ASSERT_EQ(ok, r.value != nullptr) << r.item << " " << r.answer;
        if (!ok)
            continue;
        EXPECT_EQ(CfgControlValue(item, state), r.value) << r.item;
        // The control refreshed from the stored value gives the value back.
        item.value = r.value;
        EXPECT_EQ(CfgControlValue(item, WizControlFromItem(item)), r.value) << r.item;
    }
}

// ---- the shipped wizard files ----

std::string DataDir()
{
    const char* src = std::getenv("SUITE_SOURCE_DIR");
    return std::string(src ? src : ".") + "/data/";
}

class WizShipped : public ::testing::Test {
protected:
    void SetUp() override
    {
        CfgStopIndex();
        DiagCapture quiet;
        CfgStartIndex(DataDir() + "qorv????.dsc", DataDir() + "qorv????.wiz");
        CfgWaitIndex();
    }
    void TearDown() override
    {
        CfgStopIndex();
    }
};

TEST_F(WizShipped, EveryScriptLoadsWithoutDiagnostics)
{
    const char* types[] = { "Morvak 1100", "Morvak 1100 Plus", "Morvak 2400", "Morvak 5000" };
    const char* versions[] = { "3.10.0012", "3.22.0005" };
    const char* languages[] = { "English", "German", "French" };
    for (const char* type : types)
        for (const char* version : versions)
            for (const char* language : languages) {
                std::vector<WizListEntry> list = WizList(type, version, language, 0xFFFFFFFFu, true);
                ASSERT_GE(list.size(), 3u) << type << " " << version << " " << language;
                EXPECT_EQ(list.front().name, "DEFAULT");
                for (const WizListEntry& e : list) {
                    DiagCapture d;
                    WizScriptPtr w = WizLoad(e.name.c_str(), type, version, language, 0xFFFFFFFFu);
                    ASSERT_TRUE(w) << e.name;
                    EXPECT_EQ(w->title, e.title);
                    EXPECT_TRUE(d.lines.empty())
                        << type << " " << version << " " << language << " " << e.name << ": " << d.All();
                    // Every wizard and configuration item the actions name exists.
                    CfgDescriptionPtr config
                        = CfgLoadDescription(type, version, language, 0xFFFFFFFFu, 0xFFFFFFFFu, false);
                    ASSERT_TRUE(config);
                    WizRunActions(*w, config.get(), w->onApply, nullptr, WizMode::Apply);
                    WizRunActions(*w, config.get(), w->onInit, nullptr, WizMode::Page);
                    for (const auto& page : w->pages.sections) {
                        WizRunActions(*w, config.get(), page->onShow, nullptr, WizMode::Page);
                        WizRunActions(*w, config.get(), page->onNext, nullptr, WizMode::Page);
                    }
                    EXPECT_EQ(d.All().find("not found"), std::string::npos) << e.name << ": " << d.All();
                }
            }
}

} // namespace
