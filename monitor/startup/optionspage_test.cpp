// The options page's entries from the shipped script's options, clicks on them, and saving through the
// engine.
#include "common/ini.h"
#include "monitor/engine/engine.h"
#include "monitor/objtree/script.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/startup/optionspage.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {
std::string SourceDir()
{
    const char* s = std::getenv("SUITE_SOURCE_DIR");
    return s ? s : ".";
}

std::string TempPath(const char* name)
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name;
}

// Ignores what the engine says and answers its queries no.
using NoFrontEnd = EngineWaitingFrontEnd;

using Kind = OptionsPageEntry::Kind;

TEST(OptionsPage, ShippedScriptsOptionsInTheirLanguageClickedAndSaved)
{
    ASSERT_GT(ScriptLoadAll(SourceDir() + "/data/talv*.dsc", "Deutsch"), 0);
    std::string ini = TempPath("talvine_optionspage_test.ini");
    std::remove(ini.c_str());
    NoFrontEnd front;
    EngineSettings settings;
    settings.listPath = TempPath("talvine_optionspage_test.lst");
    settings.settingsPath = ini;
    {
        Engine engine(settings, &front);
        EngineDevice* d = engine.AddKnownDevice(SnmpAddressFromHost(0x0A000001), "", "Morvak 5000");
        ASSERT_TRUE(d);
        std::vector<OptionsPageEntry> e = OptionsPageEntries(d->object->options);
        ASSERT_EQ(e.size(), 5u);
        EXPECT_EQ(e[0].kind, Kind::Check);
        EXPECT_EQ(e[0].label, "Datenmenge der Schnittstellen anzeigen");
        EXPECT_EQ(e[1].kind, Kind::Check);
        EXPECT_EQ(e[2].kind, Kind::Group);
        EXPECT_EQ(e[2].label, "Wenn die Leitung getrennt wird");
        EXPECT_EQ(e[2].image, 1);
        EXPECT_EQ(e[3].kind, Kind::Radio);
        EXPECT_EQ(e[3].label, "Nichts tun");
        EXPECT_EQ(e[4].label, "Sprechblase zeigen");
        EXPECT_EQ(e[4].choice, 1u);
        EXPECT_EQ(e[4].option, e[2].option);

        // The script's defaults: Traffic 0, LogLine 1, Warn 1.
        std::vector<uint32_t> v = OptionsPageValues(*d);
        EXPECT_EQ(v, (std::vector<uint32_t> { 0, 1, 1 }));
        EXPECT_FALSE(OptionsPageChecked(e[0], v));
        EXPECT_TRUE(OptionsPageChecked(e[1], v));
        EXPECT_FALSE(OptionsPageChecked(e[2], v)) << "a group is never checked";
        EXPECT_FALSE(OptionsPageChecked(e[3], v));
        EXPECT_TRUE(OptionsPageChecked(e[4], v));

        // Clicks: a check entry toggles, a radio entry chooses (once), a group does nothing.
        EXPECT_TRUE(OptionsPageActivate(e[0], v));
        EXPECT_TRUE(OptionsPageActivate(e[1], v));
        EXPECT_FALSE(OptionsPageActivate(e[2], v));
        EXPECT_FALSE(OptionsPageActivate(e[4], v)) << "already chosen";
        EXPECT_TRUE(OptionsPageActivate(e[3], v));
        EXPECT_EQ(v, (std::vector<uint32_t> { 1, 0, 0 }));
        EXPECT_TRUE(OptionsPageActivate(e[0], v));
        EXPECT_EQ(v[0], 0u) << "toggled back";

        // Saving writes the options that changed, and the device reads them at once.
        EXPECT_EQ(OptionsPageSave(engine, *d, v), 2u);
        EXPECT_EQ(IniGetString(ini, "Advanced", "10.0.0.1_Traffic", "-"), "-") << "unchanged: not written";
        EXPECT_EQ(IniGetInt(ini, "Advanced", "10.0.0.1_LogLine", 9), 0);
        EXPECT_EQ(IniGetInt(ini, "Advanced", "10.0.0.1_Warn", 9), 0);
        EXPECT_EQ(OptionsPageValues(*d), v);
        EXPECT_EQ(OptionsPageSave(engine, *d, v), 0u) << "nothing changed since";
    }
    ScriptFreeAll();
    std::remove(ini.c_str());
}

TEST(OptionsPage, OddOptionLines)
{
    std::vector<OptionObject> options(4);
    options[0].kind = OptionKind::None; // an unknown kind word: no entry
    options[0].values = { "Ignored" };
    options[1].kind = OptionKind::Radiogroup; // no choices, an image that is no number
    options[1].name = "Empty";
    options[1].values = { "Empty group", "x" };
    options[2].kind = OptionKind::Checkbox; // no label: its name stands for it
    options[2].name = "Bare";
    options[3].kind = OptionKind::Radiogroup;
    options[3].values = { "Three", " 7 ", "a", "b", "c" };
    std::vector<OptionsPageEntry> e = OptionsPageEntries(options);
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0].kind, Kind::Group);
    EXPECT_EQ(e[0].image, -1);
    EXPECT_EQ(e[0].option, 1u);
    EXPECT_EQ(e[1].label, "Bare");
    EXPECT_EQ(e[2].image, 7);
    EXPECT_EQ(e[5].label, "c");
    EXPECT_EQ(e[5].choice, 2u);
    // Values shorter than the options (a device whose script changed): nothing to check or change.
    std::vector<uint32_t> v = { 0, 0 };
    EXPECT_FALSE(OptionsPageChecked(e[5], v));
    EXPECT_FALSE(OptionsPageActivate(e[5], v));
    EXPECT_EQ(v, (std::vector<uint32_t> { 0, 0 }));
}
} // namespace
