#include "common/diag.h"
#include "common/scramble.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"
#include "config/store/cfg_store.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

CfgDescriptionPtr Load(const std::string& body)
{
    auto file = CfgFile::FromText("version \"Test 1.0\", English\n" + body);
    return CfgLoadDescriptionFrom(*file, "Test 1.0", nullptr, 0xFFFFFFFFu, 0, false);
}

CfgTempStream Stream(const std::string& text)
{
    CfgTempStream s;
    EXPECT_TRUE(s.Open());
    s.Write(text);
    s.Rewind();
    return s;
}

// Captures the diagnostic lines of a scope.
struct Diags {
    std::vector<std::string> lines;
    Diags()
    {
        DiagSetSink([this](const std::string& s) { lines.push_back(s); });
    }
    ~Diags()
    {
        DiagSetSink(nullptr);
    }
};

std::string Write(const std::string& old, CfgDescription& d)
{
    return CfgWriteFile(Stream(old), d).Contents();
}

void Read(const std::string& text, CfgDescription& d)
{
    CfgTempStream s = Stream(text);
    CfgReadFile(s, d);
}

const char* kDesc = R"(
section main
entryfield_numeric bits, 0x0F
entryfield_numeric bits, 0xF0
entryfield_text name
entryfield_text secret
hidden 1
entryfield_text x
entryfield_text y
alias x
entryfield_text some-name
table tab
num_columns 2
entryfield_text key
entryfield_text val
table a.b
num_columns 2
entryfield_text 1
entryfield_text 2
table idx
num_columns 2
auto_index 1, 3
entryfield_text n
entryfield_text v
)";

TEST(CfgText, BitFieldsShareOneName)
{
    auto d = Load(kDesc);
    ASSERT_TRUE(d);
    Read("[T]\r\nbits = 255\r\n", *d);
    CfgItem* lo = d->sections[0]->items[0].get();
    CfgItem* hi = d->sections[0]->items[1].get();
    EXPECT_EQ(lo->value, "15");
    EXPECT_EQ(hi->value, "240");
    EXPECT_FALSE(CfgIsModified(*d)); // reading sets no changed flag
    CfgSetItemValue(*lo, std::string("3"));
    EXPECT_NE(Write("[T]\r\n", *d).find("\r\n    bits = 243\r\n"), std::string::npos);
    Read("[T]\r\nbits = 0x1ff\r\n", *d);
    EXPECT_EQ(lo->value, "15");
    EXPECT_EQ(hi->value, "240");
    Read("[T]\r\nbits =\r\n", *d);
    EXPECT_EQ(lo->value, std::nullopt);
    EXPECT_EQ(hi->value, std::nullopt);
}

TEST(CfgText, TwoRowTableWrittenAndReadBack)
{
    auto d = Load(kDesc);
    ASSERT_TRUE(d);
    CfgItem* tab = CfgFindItem(*d, "tab");
    const char* a[] = { "A", "A" };
    const char* b[] = { "B", nullptr };
    CfgRowSet(*tab, CfgRowInsert(*tab, 9), 1, a);
    CfgRowSet(*tab, CfgRowInsert(*tab, 9), 1, b);
    std::string text = Write("[T]\r\n", *d);
    const char* expected = "    <tab>\r\n"
                           "      tab-01 = A\r\n"
                           "      tab-02 = A\r\n"
                           "    <tab>\r\n"
                           "      tab-01 = B\r\n"
                           "      tab-02 = \r\n";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    auto e = Load(kDesc);
    Read(text, *e);
    CfgItem* copy = CfgFindItem(*e, "tab");
    ASSERT_EQ(copy->rows.size(), 2u);
    EXPECT_EQ(copy->rows.front().cells[1], "A");
    EXPECT_EQ(copy->rows.back().cells[0], "B");
    EXPECT_EQ(copy->rows.back().cells[1], std::nullopt);
}

TEST(CfgText, WriterLayout)
{
    auto d = Load(kDesc);
    ASSERT_TRUE(d);
    CfgFindItem(*d, "name")->value = "n1";
    CfgFindItem(*d, "y")->value = "why";
    CfgItem* dotted = CfgFindItem(*d, "a.b");
    const char* r[] = { "k", "v" };
    CfgRowSet(*dotted, CfgRowInsert(*dotted, 0), 1, r);
    CfgItem* idx = CfgFindItem(*d, "idx");
    const char* i1[] = { nullptr, "first" };
    const char* i2[] = { "001", "second" };
    CfgRowSet(*idx, CfgRowInsert(*idx, 9), 1, i1);
    CfgRowSet(*idx, CfgRowInsert(*idx, 9), 1, i2);
    const char* old = "(comment)\r\n"
                      "dropped = before the section\r\n"
                      "[Test]\r\n"
                      "{Keep me}\r\n"
                      "{Changed}\r\n"
                      "  name = old\r\n"
                      "unknown = kept\r\n"
                      "<other>\r\n"
                      "<tab>\r\n"
                      "other-1 = c\r\n"
                      "(z.y.2.3) = cell\r\n"
                      "tab-01 = owned\r\n"
                      "no equals sign\r\n";
    Diags diags;
    std::string text = Write(old, *d);
    EXPECT_EQ(diags.lines, (std::vector<std::string> { "writing config, line 13 - format error\n" }));
    const std::string expected = "[Test]\r\n"
                                 "  {Keep me}\r\n"
                                 "    unknown = kept\r\n"
                                 "    <other>\r\n"
                                 "      other-01 = c\r\n"
                                 "      (z.y.2.3) = cell\r\n"
                                 "  {Changed}\r\n"
                                 "    bits = \r\n"
                                 "    name = n1\r\n"
                                 "    secret = \r\n"
                                 "    y = why\r\n" // "x" is the alias of y: the item named x is not reached
                                 "    some-name = \r\n";
    EXPECT_EQ(text.substr(0, expected.size()), expected);
    EXPECT_NE(text.find("    <a.b>\r\n      (a.b.1.1) = k\r\n      (a.b.1.2) = v\r\n"), std::string::npos) << text;
    // Automatic index: the empty key gets the smallest free number in the width given.
    EXPECT_NE(text.find("    <idx>\r\n      idx-01 = 002\r\n      idx-02 = first\r\n"), std::string::npos) << text;
    EXPECT_EQ(idx->rows.front().cells[0], "002");

    // The writer's output reads back to the same values, cell lines and item names with "-" included.
    auto e = Load(kDesc);
    Diags more;
    Read(text, *e);
    EXPECT_EQ(CfgFindItem(*e, "name")->value, "n1");
    EXPECT_EQ(CfgRowAt(*CfgFindItem(*e, "a.b"), 0)->cells[1], "v");
    EXPECT_EQ(CfgRowAt(*CfgFindItem(*e, "idx"), 1)->cells[0], "001");
    EXPECT_EQ(more.lines,
        (std::vector<std::string> { "reading config, line 3 - item not found: unknown = kept\n",
            "reading config, line 5 - table not found: other = c\n",
            "reading config, line 6 - table not found: z.y\n" }));
}

TEST(CfgText, ReaderDiagnosticsAndValues)
{
    auto d = Load(kDesc);
    ASSERT_TRUE(d);
    CfgFindItem(*d, "name")->value = "was";
    Diags diags;
    Read("name = ignored before the section\r\n"
         "[T]\r\n"
         "{Changed}\r\n"
         "<tab>\r\n"
         "garbage\r\n"
         "name =\r\n"
         "  SOME-NAME   =   spaced value  \r\n"
         "X = via alias\r\n"
         "tab-02 = no row yet\r\n"
         "tab-41 = too far\r\n"
         "tab-00 = zero\r\n"
         "tab-01 = k\r\n"
         "tab-40 = last slot\r\n"
         "nosuch-01 = t\r\n"
         "(a.b.0.1) = zero row\r\n"
         "(a.b.3.65) = column 65\r\n"
         "(a.b.2.2) = deep\r\n"
         "(nosuch.1.1) = t\r\n"
         "(a.b.99999999.1) = huge\r\n",
        *d);
    std::vector<std::string> expected = {
        "reading config, line 5 - format error\n",
        "reading config, line 9 - table entry invalid\n",
        "reading config, line 10 - table entry invalid\n",
        "reading config, line 11 - table entry invalid\n",
        "reading config, line 14 - table not found: nosuch = t\n",
        "reading config, line 15 - table entry invalid\n",
        "reading config, line 16 - table entry invalid\n",
        "reading config, line 18 - table not found: nosuch\n",
        "reading config, line 19 - table entry invalid\n",
    };
    EXPECT_EQ(diags.lines, expected);
    EXPECT_EQ(CfgFindItem(*d, "name")->value, std::nullopt); // an empty value clears to none
    EXPECT_EQ(CfgFindItem(*d, "some-name")->value, "spaced value");
    EXPECT_EQ(CfgFindItem(*d, "y")->value, "via alias");
    CfgItem* tab = CfgFindItem(*d, "tab");
    ASSERT_EQ(tab->rows.size(), 1u);
    EXPECT_EQ(tab->rows.front().cells[63], "last slot");
    CfgItem* ab = CfgFindItem(*d, "a.b");
    ASSERT_EQ(ab->rows.size(), 2u); // rows are created up to the row number
    EXPECT_EQ(CfgRowAt(*ab, 1)->cells[1], "deep");
    EXPECT_EQ(CfgRowAt(*ab, 0)->cells[0], std::nullopt);
    EXPECT_FALSE(CfgIsModified(*d));
}

TEST(CfgText, CellLinesFindTheirRowsByNumber)
{
    // Any order, also past a row that a column line of the same table appended in between.
    auto d = Load(kDesc);
    Diags diags;
    Read("[T]\r\n{Changed}\r\n"
         "(a.b.3.1) = third\r\n"
         "a.b-01 = appended fourth\r\n"
         "(a.b.5.2) = fifth\r\n"
         "(a.b.1.2) = first\r\n"
         "(a.b.4.2) = fourth\r\n",
        *d);
    EXPECT_TRUE(diags.lines.empty()) << diags.lines.front();
    CfgItem& ab = *CfgFindItem(*d, "a.b");
    ASSERT_EQ(ab.rows.size(), 5u);
    EXPECT_EQ(CfgRowAt(ab, 0)->cells[1], "first");
    EXPECT_EQ(CfgRowAt(ab, 2)->cells[0], "third");
    EXPECT_EQ(CfgRowAt(ab, 3)->cells[0], "appended fourth");
    EXPECT_EQ(CfgRowAt(ab, 3)->cells[1], "fourth");
    EXPECT_EQ(CfgRowAt(ab, 4)->cells[1], "fifth");

    // The longest table a text may give, from its last row to its first: every value in its row.
    auto e = Load(kDesc);
    std::string text = "[T]\r\n{Changed}\r\n";
    for (int row = 16384; row >= 1; --row)
        text += StrFormat("(a.b.%d.1) = v%d\r\n", row, row);
    Read(text, *e);
    CfgItem& big = *CfgFindItem(*e, "a.b");
    ASSERT_EQ(big.rows.size(), 16384u);
    int row = 0;
    for (const CfgRow& r : big.rows)
        ASSERT_EQ(r.cells[0], StrFormat("v%d", ++row));
}

TEST(CfgText, MergedValueSplitWrittenAndReadBack)
{
    const char* desc = R"(
section s
table t
num_columns 3
merge_entrys 3
entryfield_text key
entryfield_text other
entryfield_text long
max_len 40
)";
    auto d = Load(desc);
    ASSERT_TRUE(d);
    CfgItem* t = CfgFindItem(*d, "t");
    std::string value(100, 'v');
    const char* row[] = { "key", "o", value.c_str() };
    CfgRowSet(*t, CfgRowInsert(*t, 0), 2, row);
    CfgSplitEntries(*t);
    std::string text = Write("[T]\r\n", *d);
    EXPECT_NE(text.find("      t-01 = key#0\r\n      t-02 = o\r\n      t-03 = " + std::string(40, 'v') + "\r\n"),
        std::string::npos);
    EXPECT_NE(text.find("      t-01 = key#2\r\n      t-02 = o\r\n      t-03 = " + std::string(20, 'v') + "\r\n"),
        std::string::npos);
    auto e = Load(desc);
    Read(text, *e);
    CfgItem* back = CfgFindItem(*e, "t");
    EXPECT_EQ(back->rows.size(), 3u);
    CfgMergeEntries(*back);
    ASSERT_EQ(back->rows.size(), 1u);
    EXPECT_EQ(back->rows.front().cells[0], "key");
    EXPECT_EQ(back->rows.front().cells[2], value);
}

class CfgFileTest : public ::testing::Test {
protected:
    std::string Path(const char* name)
    {
        std::filesystem::path p = std::filesystem::temp_directory_path()
            / ("cfgfile_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name);
        paths_.push_back(p.string());
        return p.string();
    }
    void TearDown() override
    {
        for (const auto& p : paths_)
            std::remove(p.c_str());
    }
    std::vector<std::string> paths_;
};

TEST_F(CfgFileTest, HeaderParse)
{
    struct {
        std::string text;
        bool ok;
        const char* comment;
        const char* version;
        const char* type;
        uint32_t features;
        uint32_t hardware;
    } rows[] = {
        { "(c)\r\n(3.22) (0x0000000f;0x00000100)\r\n[Morvak 1100]\r\n", true, "c", "3.22", "Morvak 1100", 0xF, 0x100 },
        { "(c)\n(3.22)\n[M]\n", true, "c", "3.22", "M", 0xFFFFFFFF, 0 }, // no masks: all features
        { "()\r\n(3.22) (0xffffffff;0x00000000)\r\n[M]\r\n", true, "", "3.22", "M", 0xFFFFFFFF, 0 },
        { "(c)\r\n()\r\n[M]\r\n", false, "", "", "", 0, 0 },
        { "(c)\r\n(3.22)\r\n[]\r\n", false, "", "", "", 0, 0 },
        { "(c)\r\n(3.22)\r\n[Morvak 1100\r\n  a = 1\r\n", false, "", "", "", 0, 0 }, // device line not closed
        { "(c)\r\n(3.22)\r\n[" + std::string(300, 'M') + "]\r\n", false, "", "", "", 0, 0 }, // "]" past the limit
        { "c\r\n(3.22)\r\n[M]\r\n", false, "", "", "", 0, 0 },
        { "(c)\r\n(3.22)\r\n", false, "", "", "", 0, 0 },
        { "", false, "", "", "", 0, 0 },
    };
    for (const auto& r : rows) {
        CfgFileHeader h;
        ASSERT_EQ(CfgParseFileHeader(r.text, &h), r.ok) << r.text;
        if (!r.ok)
            continue;
        EXPECT_EQ(h.comment, r.comment);
        EXPECT_EQ(h.version, r.version);
        EXPECT_EQ(h.deviceType, r.type);
        EXPECT_EQ(h.featureMask, r.features);
        EXPECT_EQ(h.hardwareMask, r.hardware);
    }
    // A comment longer than a header line is cut, not spilled into the next line.
    std::string path = Path("long.lcf");
    CfgTempStream s = Stream("");
    CfgWriteFileHeader(s, std::string(300, 'c') + ")\r\nx", "Morvak 1100", "3.22.0005", 0x12, 0x34);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::string text = s.Contents();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    CfgFileHeader h;
    ASSERT_TRUE(CfgReadFileHeader(path, &h));
    EXPECT_EQ(h.comment, std::string(254, 'c'));
    EXPECT_EQ(h.deviceType, "Morvak 1100");
    EXPECT_EQ(h.featureMask, 0x12u);
    EXPECT_FALSE(CfgReadFileHeader(Path("missing.lcf"), &h));
}

TEST_F(CfgFileTest, ExportScramblesSecretsAndImportRestoresThem)
{
    auto d = Load(kDesc);
    ASSERT_TRUE(d);
    CfgFindItem(*d, "secret")->value = "pa=ss==word";
    CfgFindItem(*d, "name")->value = "a==b";
    CfgTempStream text = CfgWriteFile(Stream("[Morvak 1100]\r\n"), *d);
    std::string written = text.Contents();
    std::string path = Path("secret.lcf");
    ASSERT_TRUE(CfgExportFileWith(text, d.get(), "Morvak 1100", "3.22", 0xF, 0, path, "my comment", false));
    std::string file;
    {
        FILE* f = std::fopen(path.c_str(), "rb");
        char buf[4096];
        size_t n = std::fread(buf, 1, sizeof buf, f);
        std::fclose(f);
        file.assign(buf, n);
    }
    EXPECT_EQ(file.substr(0, 54), "(my comment)\r\n(3.22) (0x0000000f;0x00000000)\r\n[Morvak ");
    EXPECT_EQ(file.find("[Morvak 1100]"), file.rfind("[Morvak 1100]")); // the text's section line is left out
    EXPECT_NE(file.find("\r\n    secret == " + CfgScramble("pa=ss==word") + "\r\n"), std::string::npos) << file;
    EXPECT_EQ(CfgScramble("pa=ss==word").size(), 22u);
    EXPECT_NE(file.find("\r\n    name = a==b\r\n"), std::string::npos);
    EXPECT_NE(file.find("\r\n    bits = \r\n"), std::string::npos); // empty values stay plain

    CfgTempStream back = CfgImportFile(path);
    ASSERT_TRUE(back.IsOpen());
    EXPECT_EQ(back.Contents(), written);

    // With the no-encryption flag the value is written in plain.
    ASSERT_TRUE(CfgExportFileWith(text, d.get(), "Morvak 1100", "3.22", 0xF, 0, path, "", true));
    CfgTempStream plain = CfgImportFile(path);
    EXPECT_EQ(plain.Contents(), written);
    CfgFileHeader h;
    ASSERT_TRUE(CfgReadFileHeader(path, &h));
    EXPECT_EQ(h.comment, "");

    // Without a description nothing is scrambled; an unwritable path fails.
    ASSERT_TRUE(CfgExportFileWith(text, nullptr, "Morvak 1100", "3.22", 0xF, 0, path, "", false));
    EXPECT_EQ(CfgImportFile(path).Contents(), written);
    EXPECT_FALSE(CfgExportFileWith(text, d.get(), "M", "1", 0, 0, "/nonexistent-dir/x.lcf", "", false));
    EXPECT_FALSE(CfgImportFile("/nonexistent-dir/x.lcf").IsOpen());
}

} // namespace
