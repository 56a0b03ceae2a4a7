#include "common/diag.h"
#include "common/tempstream.h"
#include "config/description/cfg_dump.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_pattern.h"
#include "config/description/cfg_reader.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

std::vector<std::string> Args(const CfgArgList& list)
{
    return list.Texts();
}

// Collects diagnostic lines while alive.
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
};

// The name index as (key, items) pairs, for comparing two indexes.
std::vector<std::pair<std::string, std::vector<const CfgItem*>>> IndexOf(const CfgDescription& d)
{
    std::vector<std::pair<std::string, std::vector<const CfgItem*>>> out;
    for (const auto& [key, items] : d.names.byName)
        out.emplace_back("name:" + key, std::vector<const CfgItem*>(items.begin(), items.end()));
    for (const auto& [key, item] : d.names.byAlias)
        out.emplace_back("alias:" + key, std::vector<const CfgItem*> { item });
    return out;
}

// The loader builds the name index while it reads: it must equal the index built afresh.
void ExpectIndexAsRebuilt(CfgDescription& d)
{
    auto loaded = IndexOf(d);
    CfgIndexNames(d);
    EXPECT_EQ(loaded, IndexOf(d));
}

// A directory of description files with the index running over it.
class IndexDir {
public:
    IndexDir()
    {
        static int n = 0;
        dir_ = std::filesystem::temp_directory_path()
            / ("dsc_test_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
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
    // Starts the index and, unless told otherwise, waits until it is complete (so that its own
    // diagnostics are out of the way).
    void Start(bool wait = true)
    {
        CfgStopIndex();
        std::unique_ptr<DiagCapture> quiet = wait ? std::make_unique<DiagCapture>() : nullptr;
        CfgStartIndex((dir_ / "qorv????.dsc").string(), (dir_ / "qorv????.wiz").string());
        if (wait)
            CfgWaitIndex();
    }

private:
    std::filesystem::path dir_;
};

TEST(CfgReadLine, SplitsKeywordAndArguments)
{
    struct Row {
        const char* line;
        const char* keyword;
        std::vector<std::string> args;
    } rows[] = {
        { "kw a, b", "kw", { "a", "b" } },
        { "  kw   a  ,\tb\t ", "kw", { "a", "b" } },
        { "kw \"a, b\" , c", "kw", { "a, b", "c" } },
        { "kw a,,b", "kw", { "a" } }, // an empty argument ends the list
        { "kw , a", "kw", {} },
        { "kw \"\", a", "kw", {} },
        { "kw \"abc", "kw", {} }, // unclosed quote: the list ends without it
        { "kw a, \"abc", "kw", { "a" } },
        { "kw \"x\" y, z", "kw", { "x" } }, // text after a closing quote ends the list
        { "kw a\\\"b, c\\n", "kw", { "a\"b", "c\n" } },
        { "kw \"say \\\"hi\\\"\", b", "kw", { "say \"hi\"", "b" } },
        { "kw \\a\\b\\f\\r\\t\\v\\'\\\\", "kw", { "\a\b\f\r\t\v'\\" } },
        { "kw a\\", "kw", { "a\\" } }, // escape at the line end stays
        { "kw a\\q", "kw", { "a\\q" } },
        { "kw a ; comment, b", "kw", { "a" } },
        { "kw \"a;b\"; c", "kw", { "a;b" } },
        { "kw\ta", "kw", { "a" } },
        { "keyword", "keyword", {} },
        { "kw 0x10, 010", "kw", { "0x10", "010" } },
        // Lines without quotes or backslashes before their comment take a quicker way through the
        // reader; these check its trimming and comment rules.
        { "\r\t kw a", "kw", { "a" } },
        { "kw\r a", "kw\r", { "a" } }, // a carriage return inside the line is text
        { "kw a\r, b", "kw", { "a\r", "b" } },
        { "kw ;a", "kw", {} },
        { "kw a, b ; \"q\\", "kw", { "a", "b" } }, // quotes and backslashes in the comment do not count
        { "kw  ,", "kw", {} },
        { "kw a,", "kw", { "a" } },
        // Quoted members take the quicker way too when they hold no backslash and are closed.
        { "kw \"a b\"", "kw", { "a b" } },
        { "kw \t \"a\" ,\"b\"", "kw", { "a", "b" } },
        { "kw a, \" b \" , c", "kw", { "a", " b ", "c" } }, // blanks inside quotes are kept
        { "kw \"a\"; c", "kw", { "a" } },
        { "kw \"a\" \t; c, d", "kw", { "a" } },
        { "kw \"a\"b, c", "kw", { "a" } },
        { "kw \"a\" ;", "kw", { "a" } },
        { "kw \"a\",", "kw", { "a" } },
        { "kw \"a\", ; b", "kw", { "a" } },
        { "kw a, \"\", b", "kw", { "a" } }, // "" ends the list
        { "kw \"a;b,c\", d ; e", "kw", { "a;b,c", "d" } },
        { "kw \"str.X\", \"'\"", "kw", { "str.X", "'" } },
        { "kw \"a\", \"b;c", "kw", { "a" } }, // not closed: the ";" is inside the open quote
        { "kw \"a\", b;\"c\"", "kw", { "a", "b" } },
        { "kw \"a\\tb\", \"c\\\"d\"", "kw", { "a\tb", "c\"d" } },
        { "kw \"a\\\", b\" ; \"c", "kw", { "a\", b" } }, // an escaped quote does not close
        { "kw \"a\", b\"c;d\", e", "kw", { "a", "b\"c;d\"", "e" } }, // a quote inside an unquoted member
        { "kw a\"b", "kw", { "a\"b" } },
        { "kw \"a\r\"\r", "kw", { "a\r" } }, // a carriage return inside quotes is text
        { "kw \"a\"\r, b", "kw", { "a" } },
        { "kw a, \"b\"\r\t", "kw", { "a", "b" } },
        { "\"kw\" a", "\"kw\"", { "a" } },
    };
    for (const Row& r : rows) {
        std::string kw;
        CfgArgList args;
        int line = 0;
        auto file = CfgFile::FromText(std::string(r.line) + "\r\n");
        ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr)) << r.line;
        EXPECT_EQ(kw, r.keyword) << r.line;
        EXPECT_EQ(Args(args), r.args) << r.line;
        EXPECT_EQ(line, 1);
        // The initial-data reader splits lines the same way.
        ASSERT_TRUE(CfgSplitLine(r.line, kw, args)) << r.line;
        EXPECT_EQ(kw, r.keyword) << r.line;
        EXPECT_EQ(Args(args), r.args) << r.line;
    }
}

TEST(CfgReadLine, CountsPhysicalLinesAndCutsLongLines)
{
    std::string longArg(5000, 'x');
    std::string text = "; comment\n\n   \nfirst " + longArg + "\nsecond a\nlast b"; // last line without line end
    auto file = CfgFile::FromText(text);
    std::string kw;
    CfgArgList args;
    int line = 0;
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    EXPECT_EQ(kw, "first");
    EXPECT_EQ(line, 4);
    EXPECT_EQ(args.At(0).size(), CfgMaxLine - 6); // the line is cut at 4095 characters
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    EXPECT_EQ(kw, "second"); // the rest of the long line is not read as a line of its own
    EXPECT_EQ(line, 5);
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    EXPECT_EQ(kw, "last");
    EXPECT_FALSE(CfgReadLine(*file, kw, args, line, nullptr));
    file->Rewind();
    line = 0;
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    EXPECT_EQ(kw, "first");
}

TEST(CfgReadLine, QuoteClosedOnlyBeyondTheCutIsNotClosed)
{
    // The closing quote as the last character kept, and one character later (cut off).
    std::string kept = "kw \"" + std::string(CfgMaxLine - 5, 'x') + "\"";
    std::string cut = "kw a, \"" + std::string(CfgMaxLine - 7, 'x') + "\", b";
    auto file = CfgFile::FromText(kept + "\n" + cut + "\r\n");
    std::string kw;
    CfgArgList args;
    int line = 0;
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    ASSERT_EQ(args.Count(), 1u);
    EXPECT_EQ(args.At(0).size(), CfgMaxLine - 5);
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    EXPECT_EQ(Args(args), (std::vector<std::string> { "a" }));
}

// Reads every line of `file` with CfgReadLine and checks it against CfgSplitLine of the same physical
// line (read again after a rewind); returns the number of lines with a keyword.
size_t ExpectReadAsSplit(CfgFile& file, const std::string& what)
{
    std::vector<std::string> raw;
    for (std::string l; file.ReadRawLine(l);)
        raw.push_back(l);
    file.Rewind();
    std::string kw, expected;
    CfgArgList args, expectedArgs;
    int line = 0;
    size_t next = 0, read = 0;
    while (CfgReadLine(file, kw, args, line, nullptr)) {
        if (line < 1 || static_cast<size_t>(line) > raw.size()) {
            ADD_FAILURE() << what << ": line " << line << " of " << raw.size();
            return read;
        }
        for (; next + 1 < static_cast<size_t>(line); ++next)
            EXPECT_FALSE(CfgSplitLine(raw[next], expected, expectedArgs)) << what << ": skipped line " << next + 1;
        EXPECT_TRUE(CfgSplitLine(raw[next], expected, expectedArgs)) << what << ": line " << line;
        EXPECT_EQ(kw, expected) << what << ": line " << line;
        EXPECT_EQ(Args(args), Args(expectedArgs)) << what << ": line " << line;
        ++next;
        ++read;
    }
    for (; next < raw.size(); ++next)
        EXPECT_FALSE(CfgSplitLine(raw[next], expected, expectedArgs)) << what << ": skipped line " << next + 1;
    return read;
}

TEST(CfgReadLine, KeywordAndMemberEndsOnEitherSideOfA16ByteBlock)
{
    // The reader scans 16 bytes at a time: a keyword, member or quoted text that ends just before, at
    // or just after a block boundary (and bytes that stop the scan beyond the line's end) must not
    // change the result. Every stopping byte at every such length, at the end of the text or not.
    const char stops[] = { ' ', '\t', ',', ';', '"', '\\', '\r', '\0', 'x' };
    std::string text;
    size_t lines = 0;
    for (size_t len : { 1, 2, 14, 15, 16, 17, 18, 31, 32, 33, 47, 48, 49 }) {
        std::string run(len, 'k');
        for (char stop : stops) {
            std::string s(1, stop);
            for (const std::string& l : { run + s + "a, b", "kw " + run + s + " , c", "kw \"" + run + s + "\", d",
                     "kw a,\t" + run + s, "  " + run + s + ";\"", "kw \"" + run + "\"" + s + ",e" }) {
                text += l + (lines % 3 ? "\n" : "\r\n");
                ++lines;
            }
        }
    }
    auto file = CfgFile::FromText(text);
    EXPECT_GT(ExpectReadAsSplit(*file, "block ends"), lines / 2);
    // The same lines each as the last of a text, without a line end.
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string last = text.substr(start, nl - start);
        ExpectReadAsSplit(*CfgFile::FromText(last), "last line " + last);
    }
    // A member that fills a block exactly, then one that crosses into the next.
    std::string kw;
    CfgArgList args;
    int line = 0;
    file = CfgFile::FromText("kw " + std::string(13, 'a') + "," + std::string(17, 'b') + " ;x");
    ASSERT_TRUE(CfgReadLine(*file, kw, args, line, nullptr));
    EXPECT_EQ(Args(args), (std::vector<std::string> { std::string(13, 'a'), std::string(17, 'b') }));
}

TEST(CfgReadLine, FileReadsSplitLikeTheText)
{
    // Random lines of the bytes that matter to the line syntax, some longer than a line is kept, in a
    // file of several 64 KB reads: lines that span two reads, a line that ends exactly at the end of a
    // read (its line feed the last byte of it, or the first of the next) and a last line without a
    // line end, read from the file and from memory.
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    const char alphabet[] = "kw a b,,;;\"\"\\\t\r str.x\0Z";
    std::string body;
    while (body.size() < 150000) {
        size_t len = next(8) == 0 ? 4000 + next(300) : next(60);
        for (size_t i = 0; i < len; ++i)
            body.push_back(alphabet[next(sizeof alphabet - 1)]);
        body += "\n";
    }
    std::filesystem::path path
        = std::filesystem::temp_directory_path() / ("dsc_reads_" + std::to_string(::getpid()) + ".dsc");
    for (size_t lineEnd : { 65534, 65535, 65536 }) {
        // Plain lines up to the one whose line feed stands at offset `lineEnd`, then the random ones.
        std::string text;
        while (text.size() + 40 < lineEnd)
            text += "entryfield_text /a/b, \"x;y\", 0x10\n";
        text += "kw " + std::string(lineEnd - text.size() - 3, 'v') + "\n";
        ASSERT_EQ(text.size(), lineEnd + 1);
        text += body + "last a, b"; // no line end
        std::ofstream(path, std::ios::binary) << text;
        auto file = CfgFile::Open(path.string());
        ASSERT_TRUE(file);
        size_t fromFile = ExpectReadAsSplit(*file, "file " + std::to_string(lineEnd));
        EXPECT_EQ(fromFile, ExpectReadAsSplit(*CfgFile::FromText(text), "text " + std::to_string(lineEnd)));
        EXPECT_GT(fromFile, 1500u);
    }
    std::filesystem::remove(path);
}

TEST(CfgOptArgList, KeepsNoneApartFromEmptyThroughCopiesMovesAndTheArena)
{
    CfgArgList ab = CfgArgList::FromTexts({ "a", "b" });
    CfgOptArgList none;
    CfgOptArgList empty;
    empty.emplace();
    EXPECT_FALSE(none.has_value());
    EXPECT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->Empty());
    EXPECT_FALSE(none == empty);

    CfgOptArgList copy = empty;
    EXPECT_TRUE(copy.has_value() && copy->Empty());
    CfgOptArgList moved = std::move(copy);
    EXPECT_TRUE(moved.has_value() && moved->Empty());
    CfgOptArgList full = ab;
    full = empty; // an owned list made empty stays present
    EXPECT_TRUE(full.has_value() && full->Empty());
    full = none;
    EXPECT_FALSE(full.has_value());
    full.emplace(ab);
    full->Append("c");
    empty->Append("x"); // the shared empty block is never written
    CfgOptArgList other;
    other.emplace();
    EXPECT_TRUE(other->Empty());
    EXPECT_EQ(Args(*full), (std::vector<std::string> { "a", "b", "c" }));

    // Lists in an arena: copies, moves and changes leave the arena, so they outlive it (AddressSanitizer
    // sees a read of the freed arena otherwise).
    auto arena = std::make_unique<CfgArena>();
    CfgOptArgList inArena, emptyInArena;
    inArena.emplace(*arena, ab);
    emptyInArena.emplace(*arena, CfgArgList());
    EXPECT_TRUE(emptyInArena.has_value() && emptyInArena->Empty());
    CfgOptArgList copied = inArena;
    CfgOptArgList taken = std::move(inArena);
    CfgOptArgList grown;
    grown.emplace(*arena, ab);
    grown->Append("c");
    CfgArgList plain = std::move(*taken);
    for (int i = 0; i < 100; ++i) // fill the arena past its first block
        arena->Allocate(4096);
    arena.reset();
    EXPECT_EQ(Args(*copied), (std::vector<std::string> { "a", "b" }));
    EXPECT_EQ(Args(plain), (std::vector<std::string> { "a", "b" }));
    EXPECT_EQ(Args(*grown), (std::vector<std::string> { "a", "b", "c" }));
}

TEST(CfgOptText, KeepsNoneApartFromEmptyThroughCopiesMovesAndTheArena)
{
    CfgOptText none;
    CfgOptText empty = "";
    EXPECT_FALSE(none.has_value());
    EXPECT_TRUE(empty.has_value() && empty->empty());
    EXPECT_FALSE(none == empty);
    EXPECT_EQ(std::optional<std::string>(empty), std::optional<std::string>(""));
    EXPECT_EQ(std::optional<std::string>(none), std::nullopt);
    CfgOptText copy = empty;
    CfgOptText moved = std::move(copy);
    EXPECT_TRUE(moved.has_value() && moved.View().empty());
    CfgOptText text = std::string("hh:mm");
    EXPECT_NE(text->find(':'), std::string_view::npos);
    EXPECT_EQ(*text + "!", "hh:mm!");
    text = none;
    EXPECT_FALSE(text.has_value());

    auto arena = std::make_unique<CfgArena>();
    CfgOptText inArena, emptyInArena;
    inArena.emplace(*arena, "YYYY-MM-DD");
    emptyInArena.emplace(*arena, "");
    EXPECT_TRUE(emptyInArena.has_value() && emptyInArena.View().empty());
    CfgOptText copied = inArena;
    CfgOptText taken = std::move(inArena);
    CfgOptText assigned;
    assigned = std::move(emptyInArena);
    arena.reset();
    EXPECT_EQ(copied.View(), "YYYY-MM-DD");
    EXPECT_EQ(taken.View(), "YYYY-MM-DD");
    EXPECT_TRUE(assigned.has_value() && assigned.View().empty());
}

TEST(CfgArena, ArenasThatFollowOneAnotherNeverShareStorage)
{
    // Blocks of an arena that went are handed to the next arenas: two arenas alive at once must still
    // get storage of their own (each fills its allocations with its own byte and finds them intact).
    auto fill = [](CfgArena& arena, char mark, std::vector<char*>& out) {
        for (int i = 0; i < 40; ++i) { // 40 x 4 KB: several 64 KB blocks
            char* p = static_cast<char*>(arena.Allocate(4096));
            std::memset(p, mark, 4096);
            out.push_back(p);
        }
    };
    {
        CfgArena first;
        std::vector<char*> unused;
        fill(first, 'x', unused);
    }
    CfgArena a, b;
    std::vector<char*> inA, inB;
    fill(a, 'a', inA);
    fill(b, 'b', inB);
    char* big = static_cast<char*>(a.Allocate(100000)); // beyond a block: storage of its own
    std::memset(big, 'c', 100000);
    auto intact = [](const std::vector<char*>& parts, char mark) {
        for (char* p : parts)
            for (int i = 0; i < 4096; ++i)
                if (p[i] != mark)
                    return false;
        return true;
    };
    EXPECT_TRUE(intact(inA, 'a'));
    EXPECT_TRUE(intact(inB, 'b'));
}

TEST(CfgKindAttrs, KeepsEachAttributeThroughGrowthCopiesAndTheArena)
{
    // Attributes added in the arena beyond the first blocks' room (4, 8), then read back, copied
    // (the copy must outlive the arena), moved and changed; absent ones read as 0 and none.
    auto arena = std::make_unique<CfgArena>();
    CfgItem item;
    item.kind = CfgKindEntryText;
    EXPECT_EQ(item.Number(CfgAttrMaxLen), 0u);
    EXPECT_FALSE(item.Text(CfgAttrUnit));
    EXPECT_FALSE(item.List(CfgAttrItemText));
    CfgArgList choices = CfgArgList::FromTexts({ "one", "two" });
    const CfgAttr numbers[]
        = { CfgAttrMaxLen, CfgAttrNeverEmpty, CfgAttrHidden, CfgAttrFill, CfgAttrSort, CfgAttrStep, CfgAttrFactor };
    uint32_t n = 10;
    for (CfgAttr attr : numbers) {
        item.kindAttrs.NumberSlot(attr, arena.get()) = n++;
        if (attr == CfgAttrHidden) {
            item.kindAttrs.TextSlot(CfgAttrUnit, arena.get()).emplace(*arena, "ms");
            item.kindAttrs.TextSlot(CfgAttrDefaultValue, arena.get()).emplace(*arena, "");
            item.kindAttrs.ListSlot(CfgAttrItemText, arena.get()).emplace(*arena, choices);
            item.kindAttrs.ListSlot(CfgAttrItemValue, arena.get()).emplace(*arena, CfgArgList());
        }
    }
    item.kindAttrs.NumberSlot(CfgAttrDefaultValue, arena.get()) = 7; // a slider's default, kept apart
    EXPECT_EQ(item.kindAttrs.Count(), 12u);
    auto expectAll = [&](const CfgItem& it) {
        uint32_t want = 10;
        for (CfgAttr attr : numbers)
            EXPECT_EQ(it.Number(attr), want++) << attr;
        EXPECT_EQ(it.Text(CfgAttrUnit).View(), "ms");
        EXPECT_TRUE(it.Text(CfgAttrDefaultValue).has_value() && it.Text(CfgAttrDefaultValue)->empty());
        EXPECT_EQ(it.Number(CfgAttrDefaultValue), 7u);
        EXPECT_EQ(it.List(CfgAttrItemText)->Texts(), choices.Texts());
        EXPECT_TRUE(it.List(CfgAttrItemValue).has_value() && it.List(CfgAttrItemValue)->Empty());
        EXPECT_FALSE(it.List(CfgAttrButtonText));
        EXPECT_EQ(it.Number(CfgAttrRangeMax), 0u);
    };
    expectAll(item);

    CfgItem copy;
    copy.kindAttrs = item.kindAttrs;
    CfgItem moved;
    moved.kindAttrs = std::move(item.kindAttrs);
    EXPECT_EQ(item.kindAttrs.Count(), 0u);
    expectAll(moved);
    moved.kindAttrs.Clear(); // its block is in the arena (as the loader's items, which go first)
    arena.reset();
    expectAll(copy);
    copy.SetNumber(CfgAttrMaxLen, 99);
    copy.SetText(CfgAttrUnit, std::nullopt);
    copy.SetList(CfgAttrButtonText, CfgArgList::FromTexts({ "b" }));
    EXPECT_EQ(copy.Number(CfgAttrMaxLen), 99u);
    EXPECT_FALSE(copy.Text(CfgAttrUnit));
    EXPECT_EQ(copy.List(CfgAttrButtonText)->At(0), "b");
    EXPECT_EQ(copy.List(CfgAttrItemText)->Texts(), choices.Texts());
    // The attributes every named kind accepts are fields, reached the same way.
    copy.SetNumber(CfgAttrHelpId, 5);
    copy.SetList(CfgAttrAlias, CfgArgList::FromTexts({ "a" }));
    EXPECT_EQ(copy.helpId, 5u);
    EXPECT_EQ(copy.Number(CfgAttrHelpId), 5u);
    EXPECT_EQ(copy.List(CfgAttrAlias)->At(0), "a");
}

TEST(CfgStringTable, HashIsTheSumOfLittleEndianWords)
{
    EXPECT_EQ(CfgStringTable::Hash(""), 0u);
    EXPECT_EQ(CfgStringTable::Hash("abcd"), 0x64636261u);
    EXPECT_EQ(CfgStringTable::Hash("abcde"), 0x64636261u + 0x65u);
    EXPECT_EQ(CfgStringTable::Hash(std::string("\xff\xff\xff\xff\xff\xff\xff\xff", 8)), 0xFFFFFFFEu); // wraps
    CfgStringTable t;
    // "abcd" and "dcba"-free collisions: "ab\0\0"-style keys with equal sums share a bucket.
    t.Set("ba", "1");
    t.Set("ab", "2");
    t.Set("ab", "3");
    EXPECT_EQ(*t.Find("ba"), "1");
    EXPECT_EQ(*t.Find("ab"), "3");
    EXPECT_EQ(t.Find("abc"), nullptr);
    EXPECT_EQ(t.Size(), 2u);
}

// Reads all lines handed on by the reader, each as "keyword:arg|arg".
std::vector<std::string> HandedOn(const std::string& text, const char* language)
{
    auto file = CfgFile::FromText(text);
    CfgStringContext ctx(language ? language : "", language != nullptr);
    std::string kw;
    CfgArgList args;
    int line = 0;
    std::vector<std::string> out;
    while (CfgReadLine(*file, kw, args, line, &ctx)) {
        std::string s = kw + ":";
        for (size_t i = 0; i < args.Count(); ++i)
            s += (i ? "|" : "") + std::string(args.At(i));
        out.push_back(s);
    }
    return out;
}

TEST(CfgStringContext, LoadsFirstTableAndTheSelectedLanguageOnly)
{
    const std::string tables = "stringtable English\n"
                               "string A, \"Apple\"\n"
                               "; a comment does not end the run\n"
                               "\n"
                               "string B, \"Bread\"\n"
                               "stringtable Klingon\n"
                               "string A, \"Qagh\"\n"
                               "stringtable German\n"
                               "string B, \"Brot\"\n"
                               "use str.A, str.B, str.C, plain\n";
    // The foreign table's "string" lines are not loaded: they are handed on like any other line.
    EXPECT_EQ(HandedOn(tables, "German"), (std::vector<std::string> { "string:A|Qagh", "use:Apple|Brot|str.C|plain" }));
    EXPECT_EQ(HandedOn(tables, "german")[1], "use:Apple|Brot|str.C|plain"); // language ignoring case
    const std::vector<std::string> english { "string:A|Qagh", "string:B|Brot", "use:Apple|Bread|str.C|plain" };
    EXPECT_EQ(HandedOn(tables, "English"), english);
    EXPECT_EQ(HandedOn(tables, nullptr), english);
}

TEST(CfgStringContext, StringLinesMustFollowTheirTable)
{
    EXPECT_EQ(HandedOn("stringtable English\nstring A, a1\nother x\nstring A, a2\nstring B\nuse str.A\n", "English"),
        (std::vector<std::string> { "other:x", "string:A|a2", "string:B", "use:a1" }));
    // A "stringtable" line without a name is an ordinary line; an empty text ends the argument list.
    EXPECT_EQ(HandedOn("stringtable\nstringtable E\nstring E, \"\"\nuse a, str.E, b\n", "E"),
        (std::vector<std::string> { "stringtable:", "string:E", "use:a|str.E|b" }));
    EXPECT_EQ(HandedOn("stringtable E\nstring E, \"\\0\"\nuse a, str.E, b\n", "E"),
        (std::vector<std::string> { "use:a|\\0|b" }));
}

TEST(CfgStringContext, QuotedTextsAndReferences)
{
    // Texts with separators and comment characters, a quoted reference, and texts that need the
    // general way (an escape, a quote not closed).
    EXPECT_EQ(HandedOn("stringtable E\n"
                       "string A, \"x; y, z\" ; comment\n"
                       "string B, \"say \\\"hi\\\"\"\n"
                       "string C, \"open\n"
                       "use \"str.A\", str.B, \"str.C\"\n",
                  "E"),
        (std::vector<std::string> { "string:C", "use:x; y, z|say \"hi\"|str.C" }));
}

TEST(CfgDevicePattern, Matches)
{
    struct Row {
        const char* pattern;
        const char* key;
        uint32_t features;
        bool match;
    } rows[] = {
        { "Dev [1;12]00", "Dev 1200.5", 0, true }, // longest alternative 12
        { "Dev [1;12]00", "Dev 100", 0, true }, // alternative 1
        { "Dev [1;12]00", "Dev 1300", 0, false },
        { "Dev [12;1]00 x", "Dev 100 x", 0, true },
        { "Dev [1;12]00 ", "Dev 1200 ", 0, true },
        { "Dev [1;12", "Dev 1200", 0, false }, // group without "]"
        { "Dev [;x]1", "Dev 1", 0, true }, // empty alternative
        { "Morvak 1100[ Plus;] 3.10", "Morvak 1100 Plus 3.10.0012", 0, true },
        { "Morvak 1100[ Plus;] 3.10", "Morvak 1100 3.10.0012", 0, true },
        { "Morvak 1100[ Plus;] 3.10", "Morvak 1100 Pro 3.10", 0, false },
        { "Morvak 1100 3.10", "Morvak 1100 3.1", 0, false }, // key ends before the pattern
        { "Morvak 1100 3.10", "morvak 1100 3.10", 0, false }, // case-sensitive
        { "Dev 3.10#!0x4", "Dev 3.10.0012", 0x3, true },
        { "Dev 3.10#!0x4", "Dev 3.10.0012", 0x4, false },
        { "Dev 3.10#!0x4", "Dev 3.10.0012", 0xFFFFFFFF, false },
        { "Dev 3.10#0x4", "Dev 3.10.0012", 0x6, true },
        { "Dev 3.10#0x4", "Dev 3.10.0012", 0x3, false },
        { "Dev 3.10#", "Dev 3.10", 0xFFFFFFFF, false }, // mask 0 has no bit in common
        { "Dev 3.10#!", "Dev 3.10", 0xFFFFFFFF, true },
        { "Dev#0x1", "Dev", 1, true },
        { "", "anything", 0, true },
    };
    for (const Row& r : rows)
        EXPECT_EQ(CfgPatternMatch(r.pattern, r.key, r.features), r.match) << r.pattern << " / " << r.key;
}

TEST(CfgDeviceKey, OverrideVersionUsesTheVersionUpToItsSecondDot)
{
    CfgSetSettingsLookup([](std::string_view section, std::string_view key) -> std::optional<std::string> {
        if (section != "OverrideVersion")
            return std::nullopt;
        if (key == "Morvak 1100 3.10")
            return std::string("3.22");
        if (key == "Morvak 2400 3")
            return std::string("3.22.0005-long"); // cut to 8 characters
        return std::nullopt;
    });
    struct Row {
        const char* type;
        const char* version;
        const char* key;
    } rows[] = {
        { "Morvak 1100", "3.10", "Morvak 1100 3.22" },
        { "Morvak 1100", "3.10.0012", "Morvak 1100 3.22" },
        { "Morvak 1100", "3.10.0012.7", "Morvak 1100 3.22" },
        { "Morvak 1100", "3.100", "Morvak 1100 3.100" },
        { "Morvak 1100", "3.22.0005", "Morvak 1100 3.22.0005" },
        { "Morvak 1100 Plus", "3.10", "Morvak 1100 Plus 3.10" },
        { "Morvak 2400", "3", "Morvak 2400 3.22.000" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(CfgDeviceKey(r.type, r.version), r.key) << r.version;
    CfgSetSettingsLookup({});
    EXPECT_EQ(CfgDeviceKey("Morvak 1100", "3.10"), "Morvak 1100 3.10");
}

TEST(CfgDeviceKey, OverrideVersionFromSettingsFile)
{
    auto path = std::filesystem::temp_directory_path() / ("dsc_ini_" + std::to_string(::getpid()) + ".ini");
    // Binary: the text already has its line ends (a text stream would turn "\r\n" into "\r\r\n" on Windows).
    std::ofstream(path, std::ios::binary) << "[OverrideVersion]\r\nMorvak 5000 3.10=3.22\r\n";
    CfgSetSettingsFile(path.string());
    EXPECT_EQ(CfgDeviceKey("Morvak 5000", "3.10.0012"), "Morvak 5000 3.22");
    EXPECT_EQ(CfgDeviceKey("morvak 5000", "3.10"), "morvak 5000 3.22"); // settings keys ignore case
    EXPECT_EQ(CfgDeviceKey("Morvak 2400", "3.10"), "Morvak 2400 3.10");
    CfgSetSettingsFile("");
    std::filesystem::remove(path);
}

const char* kSmall = "stringtable English\n"
                     "string T_SYS, \"System\"\n"
                     "string T_NAME, \"Device name\"\n"
                     "stringtable German\n"
                     "string T_NAME, \"Ger\\344tename\"\n"
                     "version Dev 1.0, English\n"
                     "help_id 5\n" // before the first element: unexpected
                     "section sys, str.T_SYS\n"
                     "entryfield_text name, 0x10\n"
                     "description str.T_NAME\n"
                     "max_len 31\n"
                     "max_len 15\n" // repeated: the later value replaces the earlier
                     "multicfg 1\n"
                     "section net\n"
                     "hidden 1\n" // applies to the last item of the previous section
                     "onoff_switch dhcp\n"
                     "max_len 3\n" // not accepted by onoff_switch
                     "group Frame, text\n"
                     "arrange 1\n" // groups take no attributes
                     "static_text Hello, world\n"
                     "arrange 2\n"
                     "table routes\n"
                     "num_columns 2\n"
                     "entryfield_ipaddress net\n"
                     "group Inside\n" // not an element in column mode: an unexpected attribute
                     "entryfield_numeric metric, 3\n"
                     "range_max 16\n"
                     "entryfield_text after\n" // column mode ended after two columns
                     "table single\n"
                     "readonly_text only\n"
                     "readonly_text next\n"
                     "string X, y\n"
                     "numeric_slider level\n"
                     "default_value 0x20\n"
                     "section_plugin Filter\n"
                     "module \"lib.dll\", \"Entry\"\n"
                     "multicfg 1\n"
                     "uses Counter, cnt\n"
                     "uses_table Zero, 0\n"
                     "uses_table Neg, -1\n"
                     "uses_table RuleTable, 3, rules\n"
                     "module_param macfilter, 1\n"
                     "module_param lonely\n"
                     "max_len 4\n"
                     "section last\n"
                     "version Dev 1.0, German\n"
                     "section other\n";

TEST(CfgLoadDescription, ElementsAttributesColumnsAndPluginSections)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", kSmall);
    dir.Start();
    DiagCapture diag;
    CfgDescriptionPtr d = CfgLoadDescription("Dev", "1.0", "English", 0xFFFFFFFF, 0, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->pattern, "Dev 1.0");
    EXPECT_EQ(diag.lines,
        (std::vector<std::string> {
            "reading dsc, line 7 - unexpected token \"help_id\"\n",
            "reading dsc, line 17 - unexpected token \"max_len\"\n",
            "reading dsc, line 19 - unexpected token \"arrange\"\n",
            "reading dsc, line 25 - unexpected token \"group\"\n",
            "reading dsc, line 32 - unexpected token \"string\"\n",
            "reading dsc, line 44 - unexpected token \"max_len\"\n",
        }));
    ASSERT_EQ(d->sections.size(), 4u);
    const CfgSection& sys = *d->sections[0];
    EXPECT_EQ(sys.name, "sys");
    EXPECT_EQ(sys.title, "System");
    ASSERT_EQ(sys.items.size(), 1u);
    const CfgItem& name = *sys.items[0];
    EXPECT_EQ(name.kind, CfgKindEntryText);
    EXPECT_EQ(name.name, "name");
    EXPECT_EQ(name.id, 0x10u);
    EXPECT_EQ(name.description->At(0), "Device name");
    EXPECT_EQ(name.Number(CfgAttrMaxLen), 15u);
    EXPECT_EQ(name.Number(CfgAttrHidden), 1u);
    EXPECT_EQ(name.section, &sys);
    EXPECT_FALSE(name.value);
    EXPECT_EQ(sys.multicfg, 1u);

    const CfgSection& net = *d->sections[1];
    EXPECT_FALSE(net.title);
    ASSERT_EQ(net.items.size(), 8u);
    EXPECT_EQ(net.items[1]->kind, CfgKindGroup);
    EXPECT_FALSE(net.items[1]->name);
    EXPECT_EQ(net.items[1]->description->Texts(), (std::vector<std::string> { "Frame", "text" }));
    EXPECT_EQ(net.items[2]->arrange, 2u);
    const CfgItem& routes = *net.items[3];
    ASSERT_EQ(routes.columns.size(), 2u);
    EXPECT_EQ(routes.columns[1]->name, "metric");
    EXPECT_EQ(routes.columns[1]->id, 3u);
    EXPECT_EQ(routes.columns[1]->Number(CfgAttrRangeMax), 16u);
    EXPECT_EQ(routes.columns[1]->table, &routes);
    EXPECT_EQ(net.items[4]->name, "after");
    EXPECT_EQ(net.items[5]->columns.size(), 1u); // without num_columns a table gets one column
    EXPECT_EQ(net.items[6]->name, "next");
    EXPECT_EQ(net.items[6]->kind, CfgKindReadonlyText);
    EXPECT_EQ(net.multicfg, 0u);

    const CfgSection& filter = *d->sections[2];
    EXPECT_TRUE(filter.IsPlugin());
    EXPECT_EQ(filter.title, "Filter");
    EXPECT_EQ(filter.module->Texts(), (std::vector<std::string> { "lib.dll", "Entry" }));
    EXPECT_EQ(filter.params->Texts(), (std::vector<std::string> { "macfilter", "1" }));
    EXPECT_EQ(filter.multicfg, 0u); // replaced by the computation over the items
    ASSERT_EQ(filter.items.size(), 2u); // uses_table with 0 or -1 columns adds nothing
    EXPECT_EQ(filter.items[0]->name, "Counter");
    EXPECT_EQ(filter.items[0]->alias->At(0), "cnt");
    const CfgItem& rules = *filter.items[1];
    EXPECT_EQ(rules.kind, CfgKindTable);
    EXPECT_EQ(rules.List(CfgAttrStaticTableMenu)->Texts(), (std::vector<std::string> { "1" }));
    ASSERT_EQ(rules.columns.size(), 3u);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(rules.columns[c]->name, std::to_string(c + 1));
        EXPECT_EQ(rules.columns[c]->kind, CfgKindReadonlyText);
    }
    EXPECT_EQ(d->multicfg, 1u);
    EXPECT_EQ(d->sections[3]->name, "last");

    // The name index.
    ASSERT_EQ(d->names.byName.count("routes"), 1u);
    EXPECT_EQ(d->names.byName["name"].front(), &name);
    EXPECT_EQ(d->names.byAlias["rules"], &rules);
    ExpectIndexAsRebuilt(*d);
}

TEST(CfgNameMap, SettledEntriesEqualEntriesInsertedOneByOne)
{
    // Names added for later and settled at once must give the map that inserting them one by one
    // gives: the same entries in the same order, a name given twice (in any case, before or after
    // the settling, the empty name too) joined in order, and every key found afterwards.
    std::vector<CfgItem> items(1200);
    std::vector<std::string> names;
    for (size_t n = 0; n < items.size(); ++n) {
        if (n % 7 == 3)
            names.push_back("/Dup/" + std::to_string(n % 50)); // names given again further on
        else if (n % 97 == 5)
            names.push_back("");
        else
            names.push_back("/s/Item" + std::to_string(n));
    }
    CfgNameMap<CfgItemRefs> one, later;
    auto join = [](CfgItemRefs& first, CfgItemRefs&& more) {
        for (CfgItem* item : more)
            first.push_back(item);
    };
    for (size_t n = 0; n < items.size(); ++n) {
        std::string key = names[n];
        if (n % 2) // the lowered name and the name as given land in the same entry
            for (char& c : key)
                c = AsciiLower(c);
        one.SlotNoCase(key).push_back(&items[n]);
        later.AddLaterNoCase(names[n], CfgItemRefs(&items[n]));
        if (n == 400) // a first settling: the later entries meet settled ones
            later.Settle(join);
    }
    later.Settle(join);
    ASSERT_EQ(later.size(), one.size());
    for (size_t e = 0; e < one.size(); ++e) {
        const auto& [key, refs] = one.begin()[e];
        EXPECT_EQ(later.begin()[e].first, key);
        EXPECT_EQ(std::vector<CfgItem*>(later.begin()[e].second.begin(), later.begin()[e].second.end()),
            std::vector<CfgItem*>(refs.begin(), refs.end()))
            << key;
        auto found = later.FindNoCase(key);
        ASSERT_NE(found, later.end()) << key;
        EXPECT_EQ(found->first, key);
    }
    EXPECT_EQ(later.find("/x/absent"), later.end());
}

TEST(CfgLoadDescription, NameIndexCountsSectionItemsInOrderAndTheirLastAlias)
{
    // Same names in two sections, a name differing in case, an item with two alias lines (the last
    // counts), two items with one alias (the first wins), a column with an alias (columns are not
    // indexed) and plug-in items.
    CfgDescriptionPtr d = CfgLoadDescriptionFrom(*CfgFile::FromText("version \"Dev 1.0\"\n"
                                                                    "section a\n"
                                                                    "entryfield_text /x/Name, 1\n"
                                                                    "  alias first\n"
                                                                    "  alias second\n"
                                                                    "entryfield_text /x/other\n"
                                                                    "  alias first\n"
                                                                    "table /t\n"
                                                                    "  num_columns 1\n"
                                                                    "entryfield_text /x/name\n"
                                                                    "  alias column\n"
                                                                    "section b\n"
                                                                    "onoff_switch /X/NAME, 2\n"
                                                                    "  alias second\n"
                                                                    "section_plugin \"Filter\"\n"
                                                                    "uses /x/used, usedalias\n"
                                                                    "uses_table /x/name, 2, tablealias\n"),
        "Dev 1.0", nullptr, 0xFFFFFFFF, 0, false);
    ASSERT_TRUE(d);
    auto alias = [&](const char* key) {
        auto it = d->names.byAlias.find(key);
        return it == d->names.byAlias.end() ? nullptr : it->second;
    };
    ASSERT_EQ(d->names.byName.count("/x/name"), 1u);
    const CfgItemRefs& same = d->names.byName.at("/x/name");
    ASSERT_EQ(same.size(), 3u);
    EXPECT_EQ(same[0], d->sections[0]->items[0].get());
    EXPECT_EQ(same[1], d->sections[1]->items[0].get());
    EXPECT_EQ(same[2], d->sections[2]->items[1].get());
    EXPECT_EQ(alias("second"), d->sections[0]->items[0].get());
    EXPECT_EQ(alias("first"), d->sections[0]->items[1].get());
    EXPECT_EQ(alias("column"), nullptr);
    EXPECT_EQ(alias("usedalias"), d->sections[2]->items[0].get());
    EXPECT_EQ(alias("tablealias"), d->sections[2]->items[1].get());
    ExpectIndexAsRebuilt(*d);
}

TEST(CfgLoadDescription, LanguageBlockAndFallbackPass)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", kSmall);
    dir.Write("qorv0002.dsc",
        "stringtable English\nstring T, \"Only English\"\nstringtable French\n"
        "string T, \"Fran\xe7"
        "ais\"\nversion Other 2, English\nsection s, str.T\n");
    dir.Start();
    DiagCapture diag;
    // The German block comes second but is taken in the first pass.
    CfgDescriptionPtr d = CfgLoadDescription("Dev", "1.0", "German", 0xFFFFFFFF, 0, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->sections[0]->name, "other");
    // No French block: the fallback pass takes the first block that matches, with the French texts.
    d = CfgLoadDescription("Other", "2", "French", 0xFFFFFFFF, 0, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->sections[0]->title,
        "Fran\xe7"
        "ais");
    // No language: the first matching block, default texts.
    d = CfgLoadDescription("Other", "2", nullptr, 0xFFFFFFFF, 0, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->sections[0]->title, "Only English");
    EXPECT_FALSE(CfgLoadDescription("Missing", "1.0", "English", 0xFFFFFFFF, 0, false));
}

TEST(CfgLoadDescription, ConditionsSuppressLinesInOrder)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc",
        "version Dev 1\n"
        "section s\n"
        "config_mode 1\n"
        "entryfield_text easy\n"
        "feature_mask 0x8\n" // skipped outside the simplified mode: the feature condition stays
        "config_mode 2\n"
        "entryfield_text expert\n"
        "config_mode 7\n"
        "entryfield_text never\n"
        "config_mode 0\n"
        "feature_mask 0x2\n"
        "entryfield_text feat2\n"
        "hardware_mask !0x1\n"
        "entryfield_text feat2_nohw1\n"
        "feature_mask !0x2\n"
        "entryfield_text nofeat2\n"
        "hardware_mask 0\n" // skipped when the feature condition fails
        "feature_mask 0\n"
        "entryfield_text always_hw\n"
        "hardware_mask 0\n"
        "entryfield_text always\n"
        "features Dev 1\n"
        "entryfield_text outside\n");
    dir.Start();
    struct Row {
        bool easy;
        uint32_t features, hardware;
        std::vector<std::string> names;
    } rows[] = {
        { false, 0x2, 0x0, { "expert", "feat2", "feat2_nohw1", "always_hw", "always" } },
        { false, 0x2, 0x1, { "expert", "feat2", "always" } },
        { true, 0x2, 0x0, { "easy", "feat2", "feat2_nohw1", "always_hw", "always" } },
        { false, 0x1, 0x0, { "expert", "nofeat2", "always_hw", "always" } },
        { false, 0x1, 0x1, { "expert", "nofeat2", "always_hw", "always" } }, // hardware_mask !0x1 was skipped
    };
    for (const Row& r : rows) {
        DiagCapture diag;
        CfgDescriptionPtr d = CfgLoadDescription("Dev", "1", nullptr, r.features, r.hardware, r.easy);
        ASSERT_TRUE(d);
        std::vector<std::string> names;
        for (const auto& item : d->sections[0]->items)
            names.push_back(*item->name);
        EXPECT_EQ(names, r.names) << r.easy << " " << r.features << " " << r.hardware;
        // The simplified mode left the expert's line out: the configuration opens with less than all.
        EXPECT_EQ((d->flags & CfgDescSimplified) != 0, r.easy) << r.easy;
        EXPECT_TRUE(diag.lines.empty()) << diag.All();
    }
}

// A description whose lines are the same in both modes (only lines that are never shown are left
// out) opens in the simplified mode without anything hidden from the user.
TEST(CfgLoadDescription, SimplifiedOnlyWhenFullModeLinesAreLeftOut)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc",
        "version Same 1\n"
        "section s\n"
        "config_mode 1\n"
        "entryfield_text easy\n"
        "config_mode 7\n"
        "entryfield_text never\n"
        "config_mode 0\n"
        "entryfield_text always\n");
    dir.Start();
    for (bool easy : { true, false }) {
        CfgDescriptionPtr d = CfgLoadDescription("Same", "1", nullptr, 0xFFFFFFFF, 0, easy);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->flags & CfgDescSimplified, 0u) << easy;
    }
}

TEST(CfgLoadDescription, DumpIsStable)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc",
        "version Dev 1\nsection s, \"A \\\"title\\\"\"\ngroup G\nentryfield_text n, 3\nmax_len 8\nunit \"\"\n"
        "numeric_slider sl\ndefault_value 7\ntable t\nnum_columns 1\nselection_list c\nitem_text a, b\n");
    dir.Start();
    CfgDescriptionPtr d = CfgLoadDescription("Dev", "1", nullptr, 0, 0, false);
    ASSERT_TRUE(d);
    EXPECT_EQ(CfgDumpDescription(*d),
        "version \"Dev 1\"\n"
        "flags 0x00000000 multicfg 0\n"
        "section \"s\" \"A \\\"title\\\"\"\n"
        "  multicfg 0\n"
        "  group\n"
        "    description \"G\"\n"
        "  entryfield_text \"n\" id 3\n"
        "    max_len 8\n"
        "    unit \"\"\n"
        "  numeric_slider \"sl\"\n"
        "    default_value 7\n"
        "  table \"t\"\n"
        "    num_columns 1\n"
        "    column selection_list \"c\"\n"
        "      item_text \"a\", \"b\"\n");
}

// A program that ends with the index still started (a second start that hands over to the first after
// a verb started the index) ends normally, not with an abort from the running thread. (The child
// process of a death test does not start under Wine; windows_qorvexal_test covers that start there.)
#ifndef _WIN32
TEST(CfgIndexDeathTest, ProgramEndingWithTheIndexStartedExitsNormally)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", "version A 1\nsection a\n");
    EXPECT_EXIT(
        {
            dir.Start(false);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

TEST(CfgIndex, SearchWaitsForEntriesTheThreadAddsLater)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", "version A 1\nsection a\n");
    dir.Write("qorv0002.dsc", "version B 1\nsection b\n");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> heldAtSecond;
    std::atomic<bool> signalled { false };
    CfgSetIndexFileHook([&](const std::string& path) {
        if (path.find("qorv0002") != std::string::npos) {
            if (!signalled.exchange(true))
                heldAtSecond.set_value();
            released.wait();
        }
    });
    DiagCapture diag;
    dir.Start(false);
    heldAtSecond.get_future().wait(); // the thread has indexed the first file and holds before the second
    EXPECT_TRUE(CfgIndexBusy());
    auto search = std::async(std::launch::async,
        [] { return CfgFindIndexEntry([](const CfgIndexEntry& e) { return e.args.At(0) == "B 1"; }); });
    EXPECT_EQ(search.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    release.set_value();
    const CfgIndexEntry* e = search.get();
    ASSERT_TRUE(e);
    EXPECT_NE(e->path.find("qorv0002.dsc"), std::string::npos);
    EXPECT_EQ(CfgFindIndexEntry([](const CfgIndexEntry& x) { return x.kind == CfgHeaderWizard; }), nullptr);
    CfgSetIndexFileHook({});
    EXPECT_FALSE(CfgIndexBusy());
    EXPECT_EQ(diag.lines.front(), "building index ....\n");
    EXPECT_EQ(diag.lines.back().rfind("index finished, time: ", 0), 0u);
}

const char* kHardware = "features Dev 1\n"
                        "feature_mask 0x1, One\n"
                        "feature_mask 0x2, \"\"\n" // no text: not offered
                        "bogus 1\n"
                        "feature_mask 0x4, Four\n"
                        "feature_mask 0, End\n"
                        "feature_mask 0x8, Unreachable\n"
                        "hardware Dev 1\n"
                        "string DSC_TEST_NAME, \"Office router\"\n"
                        "string DSC_TEST_EMPTY\n"
                        "string\n"
                        "hardware_mask 0x6\n"
                        "hardware Bad 1\n"
                        "hardware_mask 0xFFFFFFFF\n"
                        "init_data Dev 1\n"
                        "; the initial configuration\n"
                        "/sys/name = str.DSC_TEST_NAME ; comment\n"
                        "/sys/other = str.DSC_TEST_EMPTY and str.\n"
                        "hardware_mask 0x2\n"
                        "/hw2 = yes\n"
                        "hardware_mask !0x4\n"
                        "/not_hw4 = no\n"
                        "hardware_mask\n"
                        "feature_mask 0x1\n"
                        "/feat1 = yes\n"
                        "feature_mask\n"
                        "unknown token\n"
                        "(tbl.1.2) = str.DSC_TEST_NAME\n"
                        "version Dev 1\n"
                        "/after = no\n";

TEST(CfgReadHardwareBlock, EnvironmentStringsConditionsAndInitialText)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", kHardware);
    dir.Start();
    CfgPutEnv("DSC_TEST_EMPTY", "set before");
    DiagCapture diag;
    CfgTempStream text;
    uint32_t hw = 0;
    ASSERT_EQ(CfgReadHardwareBlock("Dev", "1", "First (setup)", 0x1, &hw, &text), 1);
    EXPECT_EQ(hw, 0x6u);
    EXPECT_EQ(text.Contents(),
        "(First (setup)\r\n"
        "(1) (0x00000001;0x00000006)\r\n"
        "[Dev]\r\n"
        "/sys/name = Office router\r\n"
        "/sys/other = str.DSC_TEST_EMPTY and str.\r\n"
        "/hw2 = yes\r\n"
        "/feat1 = yes\r\n"
        "(tbl.1.2) = Office router\r\n");
    std::string all = diag.All();
    EXPECT_NE(all.find("  --> _putenv: DSC_TEST_NAME=Office router\n"), std::string::npos);
    EXPECT_NE(all.find("  --> using hardware_mask: 0x00000006\n"), std::string::npos);
    EXPECT_NE(all.find("  --> found hardware_mask in init_data block: !0x00000004\n"), std::string::npos);
    EXPECT_NE(all.find("  --> found feature_mask in init_data block:  0x00000001\n"), std::string::npos);
    EXPECT_NE(all.find("  --> invalid token reading init_data block: unknown\n"), std::string::npos);
    EXPECT_NE(all.find("  --> did not find string\n"), std::string::npos);
    EXPECT_FALSE(CfgGetEnv("DSC_TEST_EMPTY", nullptr)); // a string without value empties the variable

    // A hardware mask of all ones is refused; no init_data block gives an empty text.
    diag.lines.clear();
    hw = 5;
    ASSERT_EQ(CfgReadHardwareBlock("Bad", "1", "c", 0x1, &hw, &text), 1);
    EXPECT_EQ(hw, 0u);
    EXPECT_EQ(text.Contents(), "");
    EXPECT_NE(diag.All().find("  --> strtoul returned an error code: "), std::string::npos);
    // No hardware block at all.
    diag.lines.clear();
    ASSERT_EQ(CfgReadHardwareBlock("None", "1", "c", 0x1, &hw, &text), 1);
    EXPECT_NE(diag.All().find("file open failed on hardware block file.\n"), std::string::npos);
    EXPECT_EQ(text.Contents(), "");
}

TEST(CfgGetFeature, FeatureListAndNewConfigurationMask)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", kHardware);
    dir.Start();
    DiagCapture diag;
    uint32_t mask = 0;
    std::string text;
    ASSERT_EQ(CfgGetFeature("Dev", "1", nullptr, 0xFFFFFFFF, 2, &mask, &text), 1);
    EXPECT_EQ(mask, 0x4u);
    EXPECT_EQ(text, "Four");
    EXPECT_EQ(CfgGetFeature("Dev", "1", nullptr, 0xFFFFFFFF, 3, &mask, &text), 0); // a zero mask ends the list
    ASSERT_EQ(CfgGetFeature("Dev", "1", nullptr, 0x6, 0, &mask, &text), 1);
    EXPECT_EQ(mask, 0x2u);
    EXPECT_EQ(diag.lines, (std::vector<std::string> { "reading dsc, line 4 - unexpected token \"bogus\"\n" }));

    std::vector<CfgFeatureChoice> offered = CfgNewConfigFeatures("Dev", "1", nullptr);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(CfgNewConfigFeatureMask(offered), 0xFFFFFFFFu);
    offered[1].checked = false;
    EXPECT_EQ(CfgNewConfigFeatureMask(offered), 0xFFFFFFFBu);
    offered[0].checked = false;
    EXPECT_EQ(CfgNewConfigFeatureMask(offered), 0xFFFFFFFAu);
}

TEST(CfgNewConfiguration, DeviceWithoutInitDataStartsEmpty)
{
    IndexDir dir;
    dir.Write("qorv0001.dsc", "version Dev 2\nsection s\nentryfield_text a\nhardware Dev 2\nhardware_mask 0x3\n");
    dir.Start();
    DiagCapture diag;
    CfgTempStream text;
    uint32_t hw = 0;
    CfgDescriptionPtr d = CfgNewConfiguration("Dev", "2", "new", "English", false, 0xFFFFFFFF, &hw, &text);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->flags, CfgDescNew | CfgDescNotFromDevice);
    EXPECT_EQ(hw, 3u);
    EXPECT_EQ(text.Contents(), "");
}

// ---- the shipped description files ----

std::string DataDir()
{
    const char* src = std::getenv("SUITE_SOURCE_DIR");
    return std::string(src ? src : ".") + "/data/";
}

class ShippedData : public ::testing::Test {
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

const char* kTypes[] = { "Morvak 1100", "Morvak 1100 Plus", "Morvak 2400", "Morvak 5000" };
const char* kVersions[] = { "3.10.0012", "3.22.0005" };

TEST_F(ShippedData, DeviceTypesAndVersions)
{
    EXPECT_EQ(CfgListDeviceTypes(),
        (std::vector<std::string> { "Morvak 1100", "Morvak 1100 Plus", "Morvak 2400", "Morvak 5000" }));
    EXPECT_EQ(CfgListVersions("Morvak 2400"), (std::vector<std::string> { "3.10", "3.22" }));
    char buffer[26];
    EXPECT_EQ(CfgListDeviceTypes(buffer, sizeof buffer), 1); // "Morvak 1100\0Morvak 1100 Plus\0\0" needs 30
    EXPECT_EQ(std::string(buffer), "Morvak 1100");
    EXPECT_EQ(buffer[12], '\0');
}

TEST_F(ShippedData, EveryDescriptionLoadsWithoutDiagnostics)
{
    for (const char* type : kTypes)
        for (const char* version : kVersions)
            for (const char* lang : { "English", "German", "French" })
                for (bool easy : { false, true })
                    for (uint32_t features : { 0xFFFFFFFFu, 0u }) {
                        DiagCapture diag;
                        CfgDescriptionPtr d = CfgLoadDescription(type, version, lang, features, 0x3, easy);
                        ASSERT_TRUE(d) << type << " " << version << " " << lang;
                        EXPECT_TRUE(diag.lines.empty()) << type << " " << version << " " << lang << "\n" << diag.All();
                        bool filter = false, routing = false;
                        for (const auto& s : d->sections) {
                            if (s->IsPlugin()) {
                                filter = true;
                                EXPECT_EQ(s->items.size(), 2u);
                                EXPECT_EQ(s->items[0]->columns.size(), 6u); // RuleTable
                                EXPECT_EQ(s->items[1]->columns.size(), 2u); // ObjectTable
                            }
                            routing |= s->name == "routing";
                            EXPECT_TRUE(s->title && !s->title->empty() && s->title->rfind("str.", 0) != 0);
                        }
                        EXPECT_EQ(filter, features != 0);
                        EXPECT_EQ(routing, !easy);
                        // What the sheet shows reads well: no item inside a frame repeats the frame's
                        // caption ("DHCP server" inside "DHCP server"), and a number with a factor of 1
                        // would only gain decimals ("1,440.00 min").
                        for (const auto& s : d->sections) {
                            std::vector<std::string> frames;
                            for (const auto& item : s->items) {
                                const bool described = item->description && item->description->Count();
                                if (item->kind == CfgKindGroup && described) {
                                    frames.emplace_back(item->description->At(0));
                                } else if (item->kind == CfgKindGroupEnd && !frames.empty()) {
                                    frames.pop_back();
                                } else if (described && !frames.empty()) {
                                    EXPECT_NE(std::string(item->description->At(0)), frames.back())
                                        << type << " " << version << " " << lang << ": " << item->name.value_or("");
                                }
                                // A third state shows as a grey, undetermined box: on/off switches
                                // have two values, choices of three are lists.
                                if (item->kind == CfgKindOnOff && item->List(CfgAttrValueList)) {
                                    EXPECT_LE(item->List(CfgAttrValueList)->Count(), 2u) << type << " " << *item->name;
                                }
                                if (item->kind == CfgKindEntryNumeric && item->Text(CfgAttrFactor)) {
                                    EXPECT_NE(*item->Text(CfgAttrFactor), "1") << type << " " << *item->name;
                                }
                            }
                        }
                        EXPECT_TRUE(d->names.byName.count("/ip/address"));
                        ExpectIndexAsRebuilt(*d);
                    }
}

TEST_F(ShippedData, NewConfigurationOfEveryTypeHasInitialText)
{
    for (const char* type : kTypes) {
        for (std::string version : CfgListVersions(type)) {
            DiagCapture diag;
            CfgTempStream text;
            uint32_t hw = 0;
            auto features = CfgNewConfigFeatures(type, version, "German");
            EXPECT_FALSE(features.empty());
            CfgDescriptionPtr d = CfgNewConfiguration(
                type, version, "new", "German", true, CfgNewConfigFeatureMask(features), &hw, &text);
            ASSERT_TRUE(d) << type << " " << version;
            std::string t = text.Contents();
            EXPECT_EQ(t.find("[" + std::string(type) + "]\r\n"), t.find("\r\n", t.find("\r\n") + 2) + 2) << t;
            EXPECT_NE(t.find("/sys/name = " + std::string(type) + "\r\n"), std::string::npos) << t;
            EXPECT_EQ(t.find("str."), std::string::npos) << t;
            EXPECT_EQ((hw & 0x2) != 0, std::string(type) != "Morvak 1100");
            EXPECT_EQ(t.find("/isdn/protocol") != std::string::npos, (hw & 0x2) != 0);
        }
    }
}

} // namespace
