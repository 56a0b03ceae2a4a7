#include "common/diag.h"
#include "monitor/objtree/given_runtime.h"
#include "monitor/objtree/objtree.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {
class ScriptBuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DiagSetSink([this](const std::string& l) { diags.push_back(l); });
    }
    void TearDown() override
    {
        DiagSetSink({});
    }
    std::unique_ptr<DeviceObject> Build(const std::string& text, const char* type = "Morvak 1100")
    {
        lib.Clear();
        lib.LoadText(text, "talvtest.dsc", "English");
        return ScriptInstantiateFrom(lib, type);
    }
    ScriptLibrary lib;
    std::vector<std::string> diags;
};

const char* const kDevice = "device Morvak 1100\n"
                            "  name Morvak 1100\n"
                            "  vendor Zevra\n"
                            "  root 1.3.6.1.4.1, 1.3.6.1.2.1\n"
                            "  detect 2.1.1.0, Zevra Morvak 1100\n"
                            "  register 600, enter:Reg:$a:4711 bogus:Reg Missing:Nothing menu:Row\n"
                            "  childs Status, Missing, Line:2\n"
                            "  display Status\n"
                            "  plugins accounting, nothing\n"
                            "  option checkbox:Beep:1, Beep on errors\n"
                            "  option radiogroup:Mode, Mode, 7, Off, On\n"
                            "  option checkbox, no colon\n"
                            "  option other:Odd, label\n";

TEST_F(ScriptBuildTest, DeviceAttributesActionsPluginsOptionsAndMaps)
{
    auto d = Build(std::string(kDevice)
        + "function Reg\n"
          "  set 1.58127.2.7.0, \"$a\"\n"
          "  text Register\n"
          "  query 1, Sure?, Yes, No, Too many\n"
          "function Row\n"
          "  set 1.58127.4.1.1.13.$(1 +1), 0\n"
          "item Status\n"
          "  uses 2.1.3.0\n"
          "  childs Status\n"
          "item Line\n"
          "plugin accounting\n"
          "  uses , 1.58127.3.1.1, 1.58127.3.2.0\n"
          "map <Morvak 2400> Line\n  from 1\n"
          "map Line\n  from 1, 2\n  to up, down, unknown\n"
          "map <Morvak 1100> Line\n  from 3\n  to mine\n");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->vendor, "Zevra");
    EXPECT_EQ(d->detectOid, "1.3.6.1.2.1.1.1.0");
    EXPECT_EQ(d->registerInterval, 600u);
    ASSERT_EQ(d->registerActions.size(), 3u); // Missing:Nothing is left out
    const ActionObject& reg = d->registerActions[0];
    EXPECT_EQ(reg.event, kKwEnter);
    EXPECT_EQ(reg.kind, ActionKind::SnmpSet);
    EXPECT_EQ(reg.arguments, "$a:4711");
    EXPECT_EQ(reg.setOid, "1.3.6.1.4.1.58127.2.7.0");
    EXPECT_EQ(reg.setValue, "$a"); // one quoted part loses its quotes
    EXPECT_EQ(reg.queryFlags, 1u);
    EXPECT_EQ(reg.queryTexts, (std::vector<std::string> { "Sure?", "Yes", "No" }));
    EXPECT_EQ(d->registerActions[1].event, kKwNone); // unknown event word: no event
    EXPECT_EQ(d->registerActions[2].setOid, "1.3.6.1.4.1.58127.4.1.1.13");
    EXPECT_EQ(d->registerActions[2].setIndexTemplate, "$(1 +1)");
    ASSERT_EQ(d->items.size(), 2u);
    EXPECT_EQ(d->items[1]->ref, "Line:2");
    ASSERT_EQ(d->display.size(), 1u);
    EXPECT_TRUE(d->display[0]->children.empty()); // display items' children are not expanded
    ASSERT_EQ(d->plugins.size(), 1u);
    ASSERT_EQ(d->plugins[0].uses.size(), 3u);
    EXPECT_FALSE(d->plugins[0].uses[0].valid);
    EXPECT_EQ(d->plugins[0].uses[2].oidText, "1.3.6.1.4.1.58127.3.2.0");
    ASSERT_EQ(d->options.size(), 3u);
    EXPECT_EQ(d->options[0].kind, OptionKind::Checkbox);
    EXPECT_EQ(d->options[0].defaultValue, 1u);
    EXPECT_EQ(d->options[1].kind, OptionKind::Radiogroup);
    EXPECT_EQ(d->options[1].values, (std::vector<std::string> { "Mode", "7", "Off", "On" }));
    EXPECT_EQ(d->options[2].kind, OptionKind::None);
    // The type's own map comes first; the 2400's does not apply.
    ASSERT_EQ(d->maps.size(), 1u);
    EXPECT_EQ(d->maps[0].to[0].text, "mine");
    EXPECT_EQ(d->maps[0].from[0].kind, kSnmpInteger);
}

TEST_F(ScriptBuildTest, ItemListsStarHashAndOids)
{
    auto d = Build(std::string(kDevice)
        + "item Status\n"
          "  uses 2.1.3.0, 1.58127.2.5.$i, 0.1.3.6.1.2.1.2.2.1.8.$(1 tok 0), 9.1, *, #\n"
          "  states $1 == 1, *, #, $1 > 3\n"
          "  text Down, Up, *, #\n"
          "  image 1, 2, #\n"
          "  flags hide clone, bogus flash, error connect\n"
          "  refresh time:50 event:x event:y, event:z\n"
          "  action enter:Reg menu:Reg:1:(a b) leave:Reg, *\n"
          "  term up, $1 == 1\n"
          "function Reg\n  log line\n");
    ASSERT_NE(d, nullptr);
    const ItemObject& s = *d->items[0];
    ASSERT_EQ(s.uses.size(), 6u);
    EXPECT_EQ(s.uses[0].oidText, "1.3.6.1.2.1.1.3.0");
    EXPECT_EQ(s.uses[1].oidText, "1.3.6.1.4.1.58127.2.5");
    EXPECT_EQ(s.uses[1].indexTemplate, "$i");
    EXPECT_EQ(s.uses[2].indexTemplate, "$(1 tok 0)");
    EXPECT_FALSE(s.uses[3].valid); // beyond the roots
    EXPECT_EQ(s.uses[4].oidText, s.uses[0].oidText);
    EXPECT_EQ(s.uses[5].oidText, s.uses[4].oidText);
    EXPECT_EQ(s.stateTexts, (std::vector<std::string> { "$1 == 1", "$1 == 1", "$1 == 1", "$1 > 3" }));
    EXPECT_EQ(s.TextTemplate(0), "Down");
    EXPECT_EQ(s.TextTemplate(2), "Down"); // "*"
    EXPECT_EQ(s.TextTemplate(3), "Down"); // "#" the one before, itself "*"
    EXPECT_EQ(s.TextTemplate(9), "Down");
    EXPECT_EQ(s.Image(2), 2);
    EXPECT_EQ(s.Image(7), 1);
    EXPECT_EQ(s.Flags(0), kItemHide | kItemClone);
    EXPECT_EQ(s.Flags(1), kItemFlash);
    EXPECT_EQ(s.Flags(2), kItemError | kItemConnect);
    EXPECT_EQ(s.Refresh(0)->interval, 50u);
    EXPECT_EQ(s.Refresh(0)->events, (std::vector<std::string> { "x", "y" }));
    ASSERT_EQ(s.Actions(0)->size(), 3u);
    EXPECT_EQ((*s.Actions(0))[1].arguments, "1:(a b)"); // blanks inside parentheses stay
    EXPECT_EQ((*s.Actions(0))[1].event, kKwMenu);
    EXPECT_EQ((*s.Actions(0))[2].kind, ActionKind::Log);
    EXPECT_EQ(s.Actions(1)->size(), 3u); // "*"
    ASSERT_EQ(s.terms.size(), 1u);
}

TEST_F(ScriptBuildTest, LookupsPreferConstrainedDefinitionsInTheDevicesFile)
{
    lib.Clear();
    lib.LoadText("device Morvak 1100\n  childs Foo\nitem Foo\n  text plain\nitem <morvak 1100> foo\n  text mine\n",
        "talv1.dsc", "English");
    lib.LoadText("device Morvak 2400\n  childs Foo\n", "talv2.dsc", "English");
    auto a = ScriptInstantiateFrom(lib, "MORVAK 1100");
    ASSERT_EQ(a->items.size(), 1u);
    EXPECT_EQ(a->items[0]->TextTemplate(0), "mine");
    auto b = ScriptInstantiateFrom(lib, "Morvak 2400");
    EXPECT_TRUE(b->items.empty()); // Foo lives in another file
    EXPECT_EQ(ScriptInstantiateFrom(lib, "Morvak 9999"), nullptr);
}

TEST_F(ScriptBuildTest, DepthLimitAndRunawayTrees)
{
    // A chain of 101 items: the 101st level is dropped with its message.
    std::string chain = "device D\n  childs C1\n";
    for (int i = 1; i <= 101; ++i)
        chain += "item C" + std::to_string(i) + "\n  childs C" + std::to_string(i + 1) + "\n";
    auto d = Build(chain, "D");
    int depth = 0;
    for (const ItemObject* it = d->items[0].get(); it; it = it->children.empty() ? nullptr : it->children[0].get())
        ++depth;
    EXPECT_EQ(depth, kScriptMaxDepth);
    EXPECT_EQ(diags, std::vector<std::string> { "ObjTre: Max tree depth exceeded\n" });

    // Every item naming itself twice would be 2^100 items: building stops at its bound.
    diags.clear();
    auto e = Build("device D\n  childs X\nitem X\n  childs X, X\n", "D");
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(diags.empty());
}

TEST_F(ScriptBuildTest, StateTextAndInstanceThroughTheRuntime)
{
    auto d = Build(std::string(kDevice)
        + "item Line\n"
          "  uses 1.58127.2.5.0, 1.58127.4.1.1.1.$i\n"
          "  states $1 == 1, $1 == 3, $1 / 0\n"
          "  text \"Line $(1 map LineState), row $i: $2\", #, \"connected ($(up))\"\n"
          "  term up, $1 == 3\n"
          "  childs Row:$(i +1)\n"
          "item Row\n"
          "  uses 1.58127.4.1.1.1.$i\n"
          "  text \"$i:$1\"\n"
          "map LineState\n  from 1, 3\n  to idle, \"up ($f)\", other\n");
    ScriptGivenRuntime rt;
    rt.values["1.3.6.1.4.1.58127.2.5.0"] = SnmpValue::Integer(3);
    rt.values["1.3.6.1.4.1.58127.4.1.1.1.2"] = SnmpValue::String("HQ");
    rt.values["1.3.6.1.4.1.58127.4.1.1.1.3"] = SnmpValue::String("Warehouse");
    ScriptContext ctx;
    ctx.device = d.get();
    ctx.runtime = &rt;
    ASSERT_EQ(d->items.size(), 1u); // Status and Missing are not defined here
    const ItemObject& line = *d->items[0];
    ASSERT_EQ(line.children.size(), 1u);
    EXPECT_EQ(ItemState(line, ctx), 2u);
    EXPECT_EQ(ItemText(line, 2, ctx), "connected (1)");
    EXPECT_EQ(ItemText(line, 0, ctx), "Line up (3), row 2: HQ");
    EXPECT_EQ(ItemInstance(*line.children[0], ctx), 3u);
    EXPECT_EQ(ItemText(*line.children[0], 0, ctx), "3:Warehouse");
    rt.values["1.3.6.1.4.1.58127.2.5.0"] = SnmpValue::Integer(7);
    EXPECT_EQ(ItemState(line, ctx), 0u); // a failing expression does not match
    EXPECT_EQ(ItemText(line, 0, ctx), "Line other, row 2: HQ");
    rt.offsets[line.children[0].get()] = 2;
    EXPECT_EQ(ItemInstance(*line.children[0], ctx), 5u);

    // A clone of a row (the engine's next table row): its own object, the same parent, instance plus
    // its row offset; the original is untouched.
    std::unique_ptr<ItemObject> clone = ItemClone(*line.children[0], d->items[0].get());
    EXPECT_EQ(clone->parent, &line);
    EXPECT_EQ(clone->ref, "Row:$(i +1)");
    rt.offsets[clone.get()] = 1;
    EXPECT_EQ(ItemText(*clone, 0, ctx), "4:");
    rt.values["1.3.6.1.4.1.58127.4.1.1.1.4"] = SnmpValue::String("Depot");
    EXPECT_EQ(ItemText(*clone, 0, ctx), "4:Depot");
    EXPECT_EQ(ItemInstance(*line.children[0], ctx), 5u);
    std::unique_ptr<ItemObject> tree = ItemClone(line, nullptr);
    ASSERT_EQ(tree->children.size(), 1u);
    EXPECT_EQ(tree->children[0]->parent, tree.get());
}
} // namespace

namespace {
// Counts the items of a tree.
void Walk(const ItemObject& item, size_t* items)
{
    ++*items;
    for (const auto& c : item.children)
        Walk(*c, items);
}

TEST(ShippedScripts, LoadWithoutDiagnosticsInEveryLanguageAndBuildEveryType)
{
    const char* source = std::getenv("SUITE_SOURCE_DIR");
    std::string pattern = std::string(source ? source : ".") + "/data/talv*.dsc";
    std::vector<std::string> diags;
    DiagSetSink([&](const std::string& l) { diags.push_back(l); });
    for (const char* language : { "English", "Deutsch", "Francais" }) {
        ScriptLibrary lib;
        ASSERT_GE(lib.LoadAll(pattern, language), 1) << pattern;
        std::vector<std::string> types;
        ScriptLibrary::DetectEntry e;
        std::set<std::string> values;
        for (size_t n = 0; lib.Detect(n, &e); ++n) {
            types.push_back(e.device->name);
            EXPECT_TRUE(values.insert(e.value).second) << "two types detected by " << e.value;
        }
        EXPECT_EQ(
            types, (std::vector<std::string> { "Morvak 1100", "Morvak 1100 Plus", "Morvak 2400", "Morvak 5000" }));
        for (const std::string& type : types) {
            auto d = ScriptInstantiateFrom(lib, type);
            ASSERT_NE(d, nullptr);
            size_t items = 0;
            for (const auto& item : d->items)
                Walk(*item, &items);
            // The ISDN types add their channels, the 2400 and 5000 their VPN list and its row.
            std::map<std::string, size_t> expected { { "Morvak 1100", 11 }, { "Morvak 1100 Plus", 12 },
                { "Morvak 2400", 14 }, { "Morvak 5000", 14 } };
            EXPECT_EQ(items, expected[type]) << type << " " << language;
            EXPECT_EQ(d->display.size(), 3u) << type;
            EXPECT_FALSE(d->registerActions.empty());
            EXPECT_EQ(d->plugins[0].uses.size(), 4u);
            EXPECT_TRUE(d->plugins[0].uses[2].valid && d->plugins[0].uses[3].valid);
        }
    }
    EXPECT_TRUE(diags.empty()) << diags[0];
    DiagSetSink({});
}
} // namespace
