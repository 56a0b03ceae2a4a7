#include "common/diag.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"
#include "config/store/cfg_store.h"

#include <gtest/gtest.h>

namespace {

CfgDescriptionPtr Load(const std::string& body, const char* pattern = "Test 1.0")
{
    std::string text = std::string("version \"") + pattern + "\", English\n" + body;
    auto file = CfgFile::FromText(text);
    return CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false);
}

const char* kBasic = R"(
section main, "Main"
entryfield_text x
entryfield_text y
alias x
entryfield_text x
entryfield_text dup
entryfield_text dup
table tab
num_columns 3
entryfield_text key
entryfield_text 4
entryfield_text val
section other
group "Frame"
entryfield_text inner
group_end
entryfield_text outer
)";

TEST(CfgStoreLookup, NamesAliasesAndOrdinals)
{
    auto d = Load(kBasic);
    ASSERT_TRUE(d);
    CfgItem* y = d->sections[0]->items[1].get();
    CfgItem* x2 = d->sections[0]->items[2].get();
    CfgItem* dup1 = d->sections[0]->items[3].get();
    CfgItem* dup2 = d->sections[0]->items[4].get();
    struct {
        const char* name;
        CfgItem* expected;
    } rows[] = {
        { "X", y }, // the alias wins over the earlier item named "x"
        { "x", y }, { "x#2", y }, // the alias pass does not use n
        { "dup", dup1 }, { "DUP#1", dup1 }, { "dup#2", dup2 }, { "dup#3", nullptr }, { "dup#0", nullptr }, { "y", y },
        { "nothing", nullptr }, { "key", nullptr }, // columns are not items of the description
    };
    for (const auto& r : rows)
        EXPECT_EQ(CfgFindItem(*d, r.name), r.expected) << r.name;
    EXPECT_EQ(CfgFindNextItem(*d, "dup", dup1), dup2);
    EXPECT_EQ(CfgFindNextItem(*d, "dup", dup2), nullptr);
    // From an item found by its alias, the next item of the name follows it in section order.
    EXPECT_EQ(CfgFindNextItem(*d, "x", y), x2);
}

TEST(CfgStoreLookup, ColumnsSectionsGroups)
{
    auto d = Load(kBasic);
    ASSERT_TRUE(d);
    CfgItem* tab = CfgFindItem(*d, "tab");
    ASSERT_TRUE(tab && tab->IsTable());
    ASSERT_EQ(tab->columns.size(), 3u);
    struct {
        const char* text;
        int expected;
    } rows[] = {
        { "1", 0 },
        { "2", 1 },
        { "3", 2 },
        { "4", 1 }, // "4" is above the count: the column named "4"
        { "val", 2 },
        { "VAL", -1 }, // names compare exactly here
        { "0", -1 },
        { "", -1 },
        { "5", -1 },
    };
    for (const auto& r : rows)
        EXPECT_EQ(CfgColumnIndex(*tab, r.text), r.expected) << r.text;
    EXPECT_EQ(CfgFindColumn(*tab, "VAL"), tab->columns[2].get());
    EXPECT_EQ(CfgFindColumn(*tab, "val#2"), nullptr);

    CfgItem* inner = CfgFindItem(*d, "inner");
    CfgItem* outer = CfgFindItem(*d, "outer");
    EXPECT_EQ(CfgSectionOf(*d, inner), d->sections[1].get());
    EXPECT_EQ(CfgSectionOf(*d, tab->columns[1].get()), d->sections[0].get());
    EXPECT_EQ(CfgGroupOf(*d, inner), d->sections[1]->items[0].get());
    EXPECT_EQ(CfgGroupOf(*d, outer), nullptr);
    EXPECT_EQ(CfgGroupOf(*d, tab), nullptr);
}

TEST(CfgStoreLookup, RowsAndQualifiedValues)
{
    auto d = Load(kBasic);
    ASSERT_TRUE(d);
    CfgItem* tab = CfgFindItem(*d, "tab");
    const char* r1[] = { "A", "a4", "a3" };
    const char* r2[] = { "B", nullptr, "b3" };
    const char* r3[] = { "2", "c4", nullptr };
    for (auto* r : { r1, r2, r3 })
        CfgRowSet(*tab, CfgRowInsert(*tab, 99), 2, r);
    CfgFindItem(*d, "outer")->value = "o";

    EXPECT_EQ(CfgRowByKey(*tab, "b", false), CfgRowAt(*tab, 1));
    EXPECT_EQ(CfgRowByKey(*tab, "2", false), CfgRowAt(*tab, 2)); // a key equal to the text comes first
    EXPECT_EQ(CfgRowByKey(*tab, "3", false), CfgRowAt(*tab, 2)); // then the number names the row
    EXPECT_EQ(CfgRowByKey(*tab, "0", false), nullptr);
    EXPECT_EQ(CfgRowByKey(*tab, "Z", false), nullptr);
    CfgRow* made = CfgRowByKey(*tab, "Z", true);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->cells[0], "Z");
    EXPECT_EQ(tab->rows.size(), 4u);
    CfgRowDelete(*tab, 3);

    using V = std::vector<std::string>;
    struct {
        const char* name;
        bool ok;
        V values;
    } rows[] = {
        { "config.outer", true, { "o" } },
        { "config.inner", true, { "" } },
        { "config.tab.0.3", true, { "a3", "b3" } }, // row 0: the column of every row that has a value
        { "config.tab.0.2", true, { "a4", "c4" } },
        { "config.tab.B.0", true, { "B", "b3" } }, // column 0: the row's non-empty values
        { "config.tab.0.0", false, {} },
        { "config.tab.A.val", true, { "a3" } },
        { "config.tab.2.4", true, { "c4" } },
        { "config.tab.B.2", true, { "" } },
        { "config.tab.Q.1", false, {} },
        { "config.tab", false, {} }, // a table without row and column
        { "config.outer.1.1", false, {} }, // a plain item with them
        { "wizard.outer", false, {} }, // no wizard description given
        { "outer", false, {} },
        { "Config.outer", false, {} },
    };
    for (const auto& r : rows) {
        V out;
        EXPECT_EQ(CfgValueOf(nullptr, d.get(), r.name, &out), r.ok) << r.name;
        EXPECT_EQ(out, r.values) << r.name;
    }
    CfgResolved res;
    ASSERT_TRUE(CfgResolveName(nullptr, d.get(), "config.dup#2", &res));
    EXPECT_EQ(res.item, d->sections[0]->items[4].get());
}

TEST(CfgStoreLookup, MapValue)
{
    auto list = [](std::vector<std::string> t) { return CfgOptArgList(CfgArgList::FromTexts(t)); };
    auto texts = list({ "Off", "On", "Unknown" });
    auto values = list({ "0", "1" });
    struct {
        std::optional<std::string> value;
        CfgOptArgList values;
        uint32_t index;
        std::optional<std::string> expected;
    } rows[] = {
        { "1", values, 0, "On" },
        { "7", values, 0, "Unknown" }, // not in the list: the text just after the last value
        { std::nullopt, values, 1, "On" },
        { "2", std::nullopt, 0, "Unknown" },
        { "5", std::nullopt, 0, "5" }, // no text at that position: the value itself
        { "-1", std::nullopt, 0, "-1" },
        { std::nullopt, std::nullopt, 9, std::nullopt },
    };
    for (const auto& r : rows)
        EXPECT_EQ(CfgMapValue(r.value, texts, r.values, r.index), r.expected);
    EXPECT_EQ(CfgMapValue(std::string("1"), std::nullopt, values, 0), std::nullopt);
}

TEST(CfgStoreChange, ChangedFlagAndRows)
{
    auto d = Load(kBasic);
    ASSERT_TRUE(d);
    EXPECT_FALSE(CfgIsModified(*d));
    CfgItem* tab = CfgFindItem(*d, "tab");
    EXPECT_EQ(CfgRowInsert(*tab, 0), 0);
    EXPECT_TRUE(CfgIsModified(*d));
    tab->changed = 0;
    CfgSetItemValue(*CfgFindItem(*d, "inner"), std::nullopt);
    EXPECT_TRUE(CfgIsModified(*d));

    const char* a[] = { "A", "x", "y" };
    const char* b[] = { "B" };
    EXPECT_EQ(CfgRowSet(*tab, 0, 2, a), 3);
    EXPECT_EQ(CfgRowInsert(*tab, 0), 0); // before the first
    EXPECT_EQ(CfgRowInsert(*tab, 50), 2); // beyond the last: appends
    EXPECT_EQ(CfgRowSet(*tab, 2, 0, b), 3);
    EXPECT_EQ(CfgRowSet(*tab, 3, 0, b), 0);
    EXPECT_EQ(CfgRowSet(*tab, 1, 0, a), 3); // columns after the last index lose their values
    EXPECT_EQ(CfgRowAt(*tab, 1)->cells[1], std::nullopt);
    EXPECT_EQ(CfgRowDelete(*tab, 0), 1);
    EXPECT_EQ(CfgRowDelete(*tab, 2), 0);
    EXPECT_EQ(CfgRowAt(*tab, 1)->cells[0], "B");
    EXPECT_EQ(CfgRowInsert(*CfgFindItem(*d, "x"), 0), -1);
}

TEST(CfgStoreText, CharacterSets)
{
    auto d = Load(R"(
section s
entryfield_text t
add_to_charset " "
entryfield_numbers n
add_to_charset "-"
entryfield_hex h
entryfield_ipaddress ip
selection_list_from_table sel
readonly_text ro
)");
    ASSERT_TRUE(d);
    struct {
        const char* item;
        char extra;
        const char* text;
        bool ok;
    } rows[] = {
        { "t", 0, "Abc09@{|}~!$%&'()+-,/:;<=>?[\\]^_.`", true },
        { "t", 0, "a b", true }, // the blank comes from add_to_charset
        { "t", '"', "", false },
        { "t", 0, "#", false },
        { "t", 0, "*", false },
        { "sel", 0, "a b", false },
        { "n", 0, "12-3", true },
        { "n", 0, "1a", false },
        { "h", 0, "09afAF", true },
        { "h", 'g', "", false },
        { "ip", 0, "10.0.0.1", true },
        { "ip", 0, "10.0.0.1/8", false },
        { "ro", 0, "any \"thing\" #*", true },
    };
    for (const auto& r : rows)
        EXPECT_EQ(CfgCheckText(*CfgFindItem(*d, r.item), r.extra, r.text), r.ok) << r.item << " " << r.text;
}

const char* kMerge = R"(
section s
table t
num_columns 3
merge_entrys 3
entryfield_text key
entryfield_text other
entryfield_text long
max_len 40
)";

TEST(CfgStoreMerge, SplitAndMergeRoundTrip)
{
    auto d = Load(kMerge);
    ASSERT_TRUE(d);
    CfgItem* t = CfgFindItem(*d, "t");
    std::string value;
    for (int i = 0; i < 100; ++i)
        value.push_back(static_cast<char>('a' + i % 26));
    const char* row[] = { "name", "o", value.c_str() };
    const char* plain[] = { "short", nullptr, "x" };
    CfgRowSet(*t, CfgRowInsert(*t, 9), 2, row);
    CfgRowSet(*t, CfgRowInsert(*t, 9), 2, plain);
    CfgMergeEntries(*t);
    EXPECT_EQ(CfgCountSplitRows(*t, value), 3);
    EXPECT_EQ(CfgCountSplitRows(*t, value.substr(0, 40)), 1);
    CfgSplitEntries(*t);
    EXPECT_EQ(CfgCountSplitRows(*t, value), 1); // no longer merged
    ASSERT_EQ(t->rows.size(), 4u);
    const char* keys[] = { "name#0", "name#1", "name#2", "short" };
    size_t lengths[] = { 40, 40, 20, 1 };
    int i = 0;
    for (const CfgRow& r : t->rows) {
        EXPECT_EQ(r.cells[0], keys[i]);
        EXPECT_EQ(r.cells[2]->size(), lengths[i]);
        if (i < 3) {
            EXPECT_EQ(r.cells[1], "o");
        }
        ++i;
    }
    CfgMergeEntries(*t);
    ASSERT_EQ(t->rows.size(), 2u);
    EXPECT_EQ(t->rows.front().cells[0], "name");
    EXPECT_EQ(t->rows.front().cells[2], value);
    EXPECT_TRUE(t->columns[2]->Number(CfgAttrMaxLen) & CfgMaxLenMerged);
}

TEST(CfgStoreMerge, SplitCharactersJoinTextAndLimits)
{
    auto d = Load(R"(
section s
table t
num_columns 2
merge_entrys 2, "-", " ", "+"
entryfield_text key
entryfield_text long
max_len 10
)");
    ASSERT_TRUE(d);
    CfgItem* t = CfgFindItem(*d, "t");
    const char* row[] = { "k", "aaa bbbb cccc dd" };
    CfgRowSet(*t, CfgRowInsert(*t, 0), 1, row);
    CfgSplitEntries(*t);
    std::vector<std::string> parts;
    for (const CfgRow& r : t->rows)
        parts.push_back(*r.cells[0] + "=" + *r.cells[1]);
    EXPECT_EQ(parts, (std::vector<std::string> { "k-0=aaa bbbb ", "k-1=cccc dd" }));
    // The join text goes between parts unless one side already has it.
    CfgMergeEntries(*t);
    EXPECT_EQ(t->rows.front().cells[1], "aaa bbbb +cccc dd");

    // More than 36 parts: the last part keeps the remainder instead of losing it.
    t->rows.clear();
    std::string huge(400, 'z');
    const char* big[] = { "h", huge.c_str() };
    CfgRowSet(*t, CfgRowInsert(*t, 0), 1, big);
    CfgSplitEntries(*t);
    ASSERT_EQ(t->rows.size(), 36u);
    EXPECT_EQ(t->rows.back().cells[0], "h-Z");
    size_t total = 0;
    for (const CfgRow& r : t->rows)
        total += r.cells[1]->size();
    EXPECT_EQ(total, huge.size());
}

TEST(CfgStoreWhole, AddressesAndPassword)
{
    auto d = Load(R"(
section s
entryfield_ipaddress a
very_important 1
entryfield_ipaddress b
very_important 1
entryfield_ipaddress plain
entryfield_text pw
entryfield_text pw2
very_important 1
table t
num_columns 2
entryfield_text k
entryfield_ipaddress addr
very_important 1
)");
    ASSERT_TRUE(d);
    EXPECT_EQ(CfgGetAccessPassword(*d), ""); // the first very important text field, without a value
    CfgFindItem(*d, "pw2")->value = "secret";
    EXPECT_EQ(CfgGetAccessPassword(*d), "secret");
    CfgFindItem(*d, "a")->value = "0.0.0.0"; // converts to 0: not collected
    CfgFindItem(*d, "b")->value = "10.1.2.3";
    CfgFindItem(*d, "plain")->value = "192.168.1.9"; // not very important
    CfgItem* t = CfgFindItem(*d, "t");
    const char* r1[] = { "1", "192.168.1.7" };
    const char* r2[] = { "2", "junk" };
    const char* r3[] = { "3", "192.168.7.1" };
    for (auto* r : { r1, r2, r3 })
        CfgRowSet(*t, CfgRowInsert(*t, 9), 1, r);
    std::vector<uint32_t> found;
    uint32_t device = 0xC0A80102; // 192.168.1.2
    EXPECT_EQ(CfgAlternativeAddresses(*d, device, &found), 0xC0A80107u);
    EXPECT_EQ(found, (std::vector<uint32_t> { 0xC0A80107, 0xC0A80701, 0x0A010203 }));

    // A full buffer drops further addresses with a diagnostic.
    std::vector<std::string> diags;
    DiagSetSink([&](const std::string& s) { diags.push_back(s); });
    t->rows.clear();
    std::vector<std::string> texts;
    for (int i = 1; i <= 40; ++i)
        texts.push_back("10.0.0." + std::to_string(i));
    for (const auto& text : texts) {
        const char* r[] = { "k", text.c_str() };
        CfgRowSet(*t, CfgRowInsert(*t, 99), 1, r);
    }
    CfgAlternativeAddresses(*d, 0x0A000001, &found);
    DiagSetSink(nullptr);
    EXPECT_EQ(found.size(), CfgMaxAltAddresses);
    ASSERT_EQ(diags.size(), 9u);
    EXPECT_EQ(diags[0], "warning: alternative ip address buffer to small, 10.0.0.32 will be ignored\n");
    EXPECT_EQ(found[0], 0x0A000001u);

    CfgDescription none;
    EXPECT_EQ(CfgAlternativeAddresses(none, 7, &found), 7u);
    EXPECT_EQ(CfgGetAccessPassword(none), std::nullopt);
}

TEST(CfgStoreWhole, InetAddr)
{
    struct {
        const char* text;
        std::optional<uint32_t> addr;
    } rows[] = {
        { "1.2.3.4", 0x01020304 },
        { "0x7f.1", 0x7f000001 },
        { "010.0.0.1", 0x08000001 },
        { "1.2.65535", 0x0102FFFF },
        { "4294967295", 0xFFFFFFFF },
        { "1.2.3.256", std::nullopt },
        { "1.2.3.4.5", std::nullopt },
        { "", std::nullopt },
        { "1..2", std::nullopt },
        { "1.2.3.4 ", std::nullopt },
    };
    for (const auto& r : rows)
        EXPECT_EQ(CfgInetAddr(r.text), r.addr) << r.text;
}

TEST(CfgStoreWhole, CloneLinkPruneReport)
{
    const char* body = R"(
section a, "Shared"
entryfield_text one
multicfg 1
section b, "Shared"
entryfield_text two
section c, "Alone"
entryfield_text three
table t
num_columns 2
entryfield_text k
description "Key"
entryfield_text v
description "Value"
)";
    auto d = Load(body, "Test 1.[0;1]");
    ASSERT_TRUE(d);
    d->flags = CfgDescNotFromDevice;
    CfgFindItem(*d, "one")->value = "1";
    CfgItem* t = CfgFindItem(*d, "t");
    CfgRowInsert(*t, 0);
    auto other = CfgCloneDescription(*d, "Test", "1.1", 0xFFFFFFFFu);
    ASSERT_TRUE(other);
    EXPECT_FALSE(CfgCloneDescription(*d, "Other", "1.0", 0xFFFFFFFFu));
    EXPECT_EQ(other->flags, CfgDescNotFromDevice);
    EXPECT_EQ(other->multicfg, 1u);
    EXPECT_EQ(CfgFindItem(*other, "one")->value, "1");
    CfgItem* ct = CfgFindItem(*other, "t");
    ASSERT_EQ(ct->columns.size(), 2u);
    EXPECT_EQ(ct->columns[1]->table, ct);
    EXPECT_TRUE(ct->rows.empty());
    // The copy is deep: changing it leaves the source alone.
    ct->columns[0]->name = "changed";
    EXPECT_EQ(t->columns[0]->name, "k");

    CfgLinkCounterparts(*d, *other);
    EXPECT_EQ(CfgFindItem(*d, "three")->counterpart, CfgFindItem(*other, "three"));
    EXPECT_EQ(t->columns[1]->counterpart, ct->columns[1].get());

    std::string report;
    CfgMissingItemsReport(*d, *other, &report);
    EXPECT_EQ(report, "  Alone / c /  : Key\r\n");

    CfgPruneForGroup(*d);
    ASSERT_EQ(d->sections.size(), 2u); // "Alone" has no multicfg item and no untitled section keeps it
    EXPECT_EQ(d->sections[1]->name, "b");
    EXPECT_EQ(CfgFindItem(*d, "three"), nullptr);
    EXPECT_TRUE(CfgFindItem(*d, "two"));
    CfgFreeDescription(d);
    EXPECT_FALSE(d);
}

} // namespace
