#include "setup/inf.h"

#include <gtest/gtest.h>

namespace {

// A line as "key=f1|f2" or "|f1|f2" (no key), for compact comparisons.
std::string Show(const InfLine& line)
{
    std::string text = line.hasKey ? line.key + "=" : "|";
    for (size_t i = 0; i < line.fields.size(); ++i) {
        text += (i ? "|" : "") + line.fields[i];
    }
    return text;
}

std::vector<std::string> ShowSection(const InfText& inf, const char* section)
{
    std::vector<std::string> out;
    for (const InfLine& line : inf.Lines(section)) {
        out.push_back(Show(line));
    }
    return out;
}

TEST(InfText, FieldsQuotesCommentsAndContinuation)
{
    struct Case {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        { "[S]\nkey = a , b,c\n", { "key=a|b|c" } },
        { "[S]\n  a b  ,  c  \n", { "|a b|c" } },
        { "[S]\nk=\n", { "k=" } },
        { "[S]\nk=a,\n", { "k=a|" } },
        { "[S]\na,\n", { "|a|" } },
        { "[S]\nk=\"a, b\" , \"say \"\"hi\"\"\"\n", { "k=a, b|say \"hi\"" } },
        { "[S]\nk=\"unclosed, runs ; on\n", { "k=unclosed, runs ; on" } },
        { "[S]\nk=a;comment, x\n;whole line\n", { "k=a" } },
        { "[S]\nk=a,\\\n  b\n", { "k=a|b" } },
        { "[S]\nk=a\\b\n", { "k=a\\b" } },
        { "[S]\nk=x \\ ; comment\n y\n", { "k=xy" } },
        { "[S]\r\nk=a\r\n\r\nm=b\r\n", { "k=a", "m=b" } },
        { "[S]\n\"quoted=key\"=v\n", { "quoted=key=v" } },
        { "[S]\nk=a\x1Am=b\n", { "k=a" } },
    };
    for (const Case& c : cases) {
        InfText inf;
        ASSERT_TRUE(inf.Parse(c.text)) << c.text;
        EXPECT_EQ(ShowSection(inf, "S"), c.lines) << c.text;
    }
}

TEST(InfText, SectionsMergeAndKeepTheirOrder)
{
    InfText inf;
    ASSERT_TRUE(inf.Parse("[B]\nx=1\n[a]\ny=2\n[b] trailing text ignored\nz=3\n[ Sp ]\nw\n"));
    EXPECT_EQ(inf.SectionNames(), (std::vector<std::string> { "B", "a", " Sp " }));
    EXPECT_EQ(ShowSection(inf, "b"), (std::vector<std::string> { "x=1", "z=3" }));
    EXPECT_TRUE(inf.HasSection(" sp "));
    EXPECT_FALSE(inf.HasSection("Sp"));
    EXPECT_TRUE(inf.Lines("missing").empty());
}

TEST(InfText, StringReferences)
{
    InfText inf;
    ASSERT_TRUE(
        inf.Parse("[S]\nk=%Name% is 100%% %unknown% %Dir%\\x, %a\n[Strings]\nname=\"Zevra, Inc\"\nDir=%Name%\n"));
    std::vector<InfLine> lines = inf.Lines("S");
    ASSERT_EQ(lines.size(), 1u);
    // References in [Strings] values are not expanded again.
    EXPECT_EQ(lines[0].Field(1), "Zevra, Inc is 100% %unknown% %Name%\\x");
    EXPECT_EQ(lines[0].Field(2), "%a");
    EXPECT_EQ(lines[0].Field(3), "");
}

TEST(InfText, ErrorsAndTheirLines)
{
    struct Case {
        std::string text;
        InfError error;
        unsigned line;
    } cases[] = {
        { "[S]\nk=a\n[broken\n", InfError::BadSectionNameLine, 3 },
        // Continuation lines count: the error is on the fifth line of the file.
        { "[S]\nk=a,\\\nb,\\\nc\n[bad", InfError::BadSectionNameLine, 5 },
        { "stray text\n[S]\nk=a\n", InfError::ExpectedSectionName, 1 },
        { "[" + std::string(256, 'x') + "]\n", InfError::SectionNameTooLong, 1 },
    };
    for (const Case& c : cases) {
        InfText inf;
        InfError error = InfError::None;
        unsigned line = 0;
        EXPECT_FALSE(inf.Parse(c.text, &error, &line)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(line, c.line) << c.text;
    }
    // Text before the first section is let through when the script has a [Strings] section.
    InfText inf;
    EXPECT_TRUE(inf.Parse("stray\n[Strings]\na=b\n"));
}

TEST(InfText, LongFieldsAreCut)
{
    InfText inf;
    ASSERT_TRUE(inf.Parse("[S]\nk=" + std::string(600, 'a') + "\n"));
    EXPECT_EQ(inf.Lines("S")[0].Field(1).size(), kInfMaxField);
}

} // namespace
