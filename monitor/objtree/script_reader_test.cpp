#include "common/diag.h"
#include "monitor/objtree/script.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>

namespace {
class ScriptReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DiagSetSink([this](const std::string& l) { diags.push_back(l); });
    }
    void TearDown() override
    {
        DiagSetSink({});
    }
    const ScriptFile& Load(const std::string& text, const char* language = "English")
    {
        lib.LoadText(text, "dir/talvtest.dsc", language);
        return *lib.Files().back();
    }
    // The values of an attribute of the first definition named `name`.
    const ScriptValues* Attr(const ScriptFile& f, const std::string& name, ScriptKeyword k)
    {
        for (const auto& d : f.defs)
            if (d->name == name)
                return d->Get(k);
        return nullptr;
    }
    ScriptLibrary lib;
    std::vector<std::string> diags;
};

using V = ScriptValues;

TEST_F(ScriptReaderTest, ValuesQuotesJoinsAndStringReferences)
{
    struct Row {
        const char* line; // the text after "text "
        V expected;
    } rows[] = {
        { "a, b ,  c  ", { "a", "b", "c" } },
        { "\"A\" \"B\"", { "AB" } }, // joined quoted parts lose their quotes as one part
        { "\"A\" str.KEY", { "AC" } }, // a known str. key is a quoted part joined to the one before
        { "str.KEY \"D\"", { "CD" } },
        { "str.NOPE, x", { "str.NOPE", "x" } }, // unknown keys stay as written
        { "xstr.KEY, str, stretch", { "xstr.KEY", "str", "stretch" } }, // a reference starts a word
        { "a str.KEY", { "a \"C\"" } },
        { "$1 == \"up\"", { "$1 == \"up\"" } }, // quotes stay inside a value with more than one part
        { "\"a,b;c<d\"", { "a,b;c<d" } },
        { "\"esc\\\"\\'\\\\\\t\\q\"", { "esc\"'\\\tq" } },
        { "\"\\a\\b\\f\\n\\r\\v\"", { "\a\b\f\n\r\v" } },
        { "x ; a comment, not a value", { "x" } },
        { "<inherited>, Extra", { "<inherited>", "Extra" } }, // "<" is plain after an attribute keyword
        { "$1 < 5, $1 > 2", { "$1 < 5", "$1 > 2" } },
        { "\"unterminated, still one", { "unterminated, still one" } },
        { "C:\\path\\file.exe", { "C:\\path\\file.exe" } }, // "\" before text is no continuation
        { ", ,", { "", "", "" } },
    };
    for (const Row& r : rows) {
        std::string script = "stringtable English\nstring KEY, \"C\"\nitem I\n  text " + std::string(r.line) + "\n";
        ScriptLibrary one;
        one.LoadText(script, "t.dsc", "English");
        const ScriptValues* v = one.Files()[0]->defs[0]->Get(kKwText);
        ASSERT_NE(v, nullptr) << r.line;
        EXPECT_EQ(*v, r.expected) << r.line;
    }
    EXPECT_TRUE(diags.empty());
}

TEST_F(ScriptReaderTest, ContinuationsCommentsAndLineNumbers)
{
    const ScriptFile& f = Load("; header comment\n"
                               "   ; indented comment\n"
                               "\n"
                               "item \\\n"
                               "   ; a comment between continued lines\n"
                               "    Foo\n"
                               "  childs A, \\   ; continued after a comment\n"
                               "         B,\\\n"
                               "         C\n"
                               "  bogus here\n");
    ASSERT_EQ(f.defs.size(), 1u);
    EXPECT_EQ(f.defs[0]->name, "Foo");
    EXPECT_EQ(*Attr(f, "Foo", kKwChilds), (V { "A", "B", "C" }));
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags[0], "ObjTre: talvtest.dsc(10): Found unexpected token\n");
}

TEST_F(ScriptReaderTest, ConstraintsAndTheirErrors)
{
    const ScriptFile& f = Load("item <Morvak 1100, Morvak 2400> Line\n"
                               "  text constrained\n"
                               "item Line\n"
                               "  text plain\n"
                               "map <Morvak 1100 Line\n"
                               "  from 1\n"
                               "device Morvak 1100\n");
    EXPECT_EQ(f.defs[0]->constraints.Strings(), (std::vector<std::string> { "Morvak 1100", "Morvak 2400" }));
    EXPECT_EQ((*f.Find(kKwItem, "LINE", "morvak 2400")->Get(kKwText))[0], "constrained");
    EXPECT_EQ((*f.Find(kKwItem, "line", "Morvak 5000")->Get(kKwText))[0], "plain");
    ASSERT_EQ(diags.size(), 1u);
    EXPECT_EQ(diags[0], "ObjTre: talvtest.dsc(5): Missing '>' after constraits list\n");
    EXPECT_EQ(f.devices.size(), 1u);
}

TEST_F(ScriptReaderTest, ReplacingAndAccumulatingAttributesAndFunctionActions)
{
    const ScriptFile& f = Load("item I\n"
                               "  text one\n"
                               "  text two\n"
                               "  term a, 1\n"
                               "  term b, 2\n"
                               "function F\n"
                               "  log first\n"
                               "  set 1.2.0, $1\n"
                               "  query 3, Really?\n"
                               "device D\n"
                               "  option checkbox:X, Label\n"
                               "  option checkbox:Y, Label\n");
    EXPECT_EQ(*Attr(f, "I", kKwText), V { "two" });
    int terms = 0;
    for (const ScriptAttr& a : f.defs[0]->attrs)
        terms += a.keyword == kKwTerm;
    EXPECT_EQ(terms, 2);
    EXPECT_EQ(*Attr(f, "F", kKwAction), (V { "set", "1.2.0", "$1" }));
    EXPECT_EQ(*Attr(f, "F", kKwQuery), (V { "3", "Really?" }));
}

TEST_F(ScriptReaderTest, Inheritance)
{
    const ScriptFile& f = Load("item Early : Late\n" // Late is defined later: nothing inherited
                               "  uses 0.1\n"
                               "item Late\n"
                               "  text late\n"
                               "item Base\n"
                               "  childs A, B\n"
                               "  text base\n"
                               "  image 3\n"
                               "  term t, 1\n"
                               "item Other\n"
                               "  text other\n"
                               "  image 4\n"
                               "  term u, 2\n"
                               "item <X> Hidden\n"
                               "  text hidden\n"
                               "item Child : Base\n"
                               "  childs <inherited>, Extra\n"
                               "  term own, 0\n"
                               "item Both : Base, Other\n"
                               "  image 9\n"
                               "item Merge:Base,Other\n"
                               "  text <inherited-merge>, last\n"
                               "item Constrained : Hidden\n"
                               "item Exact : base\n");
    EXPECT_EQ(Attr(f, "Early", kKwText), nullptr);
    EXPECT_EQ(*Attr(f, "Child", kKwChilds), (V { "A", "B", "Extra" }));
    EXPECT_EQ(*Attr(f, "Child", kKwText), V { "base" }); // one giver, not set: copied
    const ScriptDef* child = f.Find(kKwItem, "Child", "");
    std::vector<std::string> termNames;
    for (const ScriptAttr& a : child->attrs)
        if (a.keyword == kKwTerm)
            termNames.emplace_back(a.values[0]);
    EXPECT_EQ(termNames, (std::vector<std::string> { "own", "t" })); // own entries first
    // Two givers of text and none of its own: overlap reported, no text. Image set: kept, reported too.
    EXPECT_EQ(Attr(f, "Both", kKwText), nullptr);
    EXPECT_EQ(*Attr(f, "Both", kKwImage), V { "9" });
    EXPECT_EQ(*Attr(f, "Merge", kKwText), (V { "base", "other", "last" }));
    EXPECT_EQ(Attr(f, "Constrained", kKwText), nullptr); // constrained definitions are no bases
    EXPECT_EQ(Attr(f, "Exact", kKwText), nullptr); // bases are matched with regard to case
    int overlaps = 0;
    for (const std::string& d : diags)
        overlaps += d.find("Deriving from multiple objects with overlapping attributes!\n") != std::string::npos;
    EXPECT_EQ(overlaps, 3); // Both: text and image; Merge: image
}

TEST_F(ScriptReaderTest, LanguageBlocksAndStringTables)
{
    std::string script = "stringtable Deutsch\n" // the first table is always read
                         "string A, \"erste\"\n"
                         "string B, \"zweite\"\n"
                         "stringtable English\n"
                         "string B, \"second\"\n"
                         "stringtable Francais\n"
                         "string B, \"deuxieme\"\n"
                         "string C\n" // fewer than two values: nothing
                         "item I\n"
                         "  text str.A, str.B, str.C\n"
                         "language Deutsch\n"
                         "item OnlyGerman\n"
                         "  bogus\n"
                         "language *\n"
                         "item Everyone\n"
                         "language\n"
                         "item AlsoEveryone\n";
    const ScriptFile& en = Load(script, "english");
    EXPECT_EQ(*Attr(en, "I", kKwText), (V { "erste", "second", "str.C" }));
    EXPECT_EQ(en.Find(kKwItem, "OnlyGerman", ""), nullptr);
    EXPECT_NE(en.Find(kKwItem, "Everyone", ""), nullptr);
    EXPECT_NE(en.Find(kKwItem, "AlsoEveryone", ""), nullptr);
    EXPECT_TRUE(diags.empty());
    const ScriptFile& de = Load(script, "Deutsch");
    EXPECT_EQ(*Attr(de, "I", kKwText), (V { "erste", "zweite", "str.C" }));
    EXPECT_NE(de.Find(kKwItem, "OnlyGerman", ""), nullptr);
    EXPECT_EQ(diags.size(), 1u); // "bogus" in the German block
}

TEST_F(ScriptReaderTest, HostileInputIsReadWithoutHarm)
{
    std::string nul("item N\n  text a\0b, c\n", 21);
    const ScriptFile& f = Load(nul);
    EXPECT_EQ(*Attr(f, "N", kKwText), (V { std::string("a\0b", 3), "c" }));

    std::string longLine = "item L\n  text " + std::string(100000, 'x') + "\n  image 1\n";
    const ScriptFile& g = Load(longLine);
    EXPECT_EQ((*Attr(g, "L", kKwText))[0].size(), 100000u);
    EXPECT_EQ(*Attr(g, "L", kKwImage), V { "1" });

    std::string longName = "item " + std::string(1000, 'n') + "\n";
    EXPECT_EQ(Load(longName).defs[0]->name.size(), kScriptMaxName);

    // A continuation on the last line, a file without line end, a lone quote.
    Load("item X\n  text a \\");
    Load("item Y\n  text \"");
    Load("\"");
    EXPECT_EQ(diags.size(), 1u); // the lone quote has no keyword
}

// Files are read through a 64 KB buffer: lines and continuations across its refills, a line longer
// than the buffer, and a diagnostic's line number come out as from the whole text. Lists copied out of
// a library outlive it; arena blocks handed to a later library start clean.
TEST_F(ScriptReaderTest, FileReadThroughBufferEqualsWholeText)
{
    std::string script = "stringtable English\nstring K, \"known\"\n";
    for (int i = 0; i < 3000; ++i) {
        std::string n = std::to_string(i);
        script += "item I" + n + (i % 5 ? "" : " : I0") + "\r\n  ; comment " + n + "\n  uses 1.2." + n
            + ".0, \\\n      2.1." + n + ".0\n  text str.K \"" + n + "\", <inherited>\n  term t, $1 + " + n + "\n";
        if (i == 1500)
            script += "  childs " + std::string(100000, 'c') + "\n";
    }
    script += "bogus\n";
    std::string path = ::testing::TempDir() + "talvbuffer-test.dsc";
    {
        std::ofstream out(path, std::ios::binary);
        out << script;
    }
    ScriptLibrary whole;
    whole.LoadText(script, path, "English");
    std::vector<std::string> wholeDiags = diags;
    diags.clear();
    ScriptValues kept;
    for (int round = 0; round < 2; ++round) {
        ScriptLibrary read;
        ASSERT_EQ(read.LoadFile(path, "English"), 1);
        EXPECT_EQ(diags, wholeDiags);
        diags.clear();
        const auto& a = whole.Files()[0]->defs;
        const auto& b = read.Files()[0]->defs;
        ASSERT_EQ(a.size(), b.size());
        for (size_t d = 0; d < a.size(); ++d) {
            ASSERT_EQ(a[d]->name, b[d]->name);
            ASSERT_EQ(a[d]->attrs.size(), b[d]->attrs.size()) << a[d]->name;
            for (size_t i = 0; i < a[d]->attrs.size(); ++i) {
                EXPECT_EQ(a[d]->attrs[i].keyword, b[d]->attrs[i].keyword);
                EXPECT_EQ(a[d]->attrs[i].values, b[d]->attrs[i].values) << a[d]->name;
            }
        }
        kept = *b[5]->Get(kKwText);
    }
    std::remove(path.c_str());
    EXPECT_EQ(kept, (V { "known5", "known0", "<inherited>" })); // I5 took I0's text for <inherited>
    EXPECT_EQ((*Attr(*whole.Files()[0], "I1500", kKwChilds))[0].size(), 100000u);
    EXPECT_EQ(wholeDiags.size(), 1u);
}

TEST_F(ScriptReaderTest, DetectionAcrossFilesAndOids)
{
    lib.LoadText("device A\n  root 1.3.6.1.4.1, 1.3.6.1.2.1\n  detect 2.1.1.0, Zevra A\n"
                 "device NoDetect\n  detect 2.1.1.0\n",
        "talv1.dsc", "English");
    lib.LoadText("device B\n  detect 0.1.3.6.1.2.1.1.1.0, Zevra B\n", "talv2.dsc", "English");
    ScriptLibrary::DetectEntry e;
    ASSERT_TRUE(lib.Detect(0, &e));
    EXPECT_EQ(e.device->name, "A");
    EXPECT_EQ(e.oidText, "1.3.6.1.2.1.1.1.0");
    ASSERT_TRUE(lib.Detect(1, &e));
    EXPECT_EQ(e.device->name, "B");
    EXPECT_EQ(e.value, "Zevra B");
    EXPECT_FALSE(lib.Detect(2, &e));

    struct Row {
        const char* text;
        const char* expected;
    } rows[] = { { "2.1.3.0", "1.3.6.1.2.1.1.3.0" }, { "0.1.2", "1.2" }, { "3.1", "" }, { "x.1", "" }, { "12", "" } };
    V roots { "1.3.6.1.4.1", "1.3.6.1.2.1" };
    for (const Row& r : rows)
        EXPECT_EQ(ScriptResolveOid(r.text, &roots), r.expected) << r.text;
}
} // namespace
