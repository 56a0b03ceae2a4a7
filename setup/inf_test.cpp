#include "setup/inf.h"

#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace {

// A line as "key=f1|f2" or "|f1|f2" (no key), for compact comparisons.
std::string Show(const InfLine& line)
{
    std::string text = line.hasKey ? line.key + "=" : "|";
    for (size_t i = 0; i < line.fields.size(); ++i)
        text += (i ? "|" : "") + line.fields[i];
    return text;
}

std::vector<std::string> ShowSection(const InfText& inf, const char* section)
{
    std::vector<std::string> out;
    for (const InfLine& line : inf.Lines(section))
        out.push_back(Show(line));
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

TEST(InfText, SubstitutionIsCutToTheFieldLimit)
{
    // Each string is within the limit, but a field of many references must not grow past it.
    const std::string big(500, 'x');
    std::string refs;
    for (int i = 0; i < 2000; ++i)
        refs += "%big%";
    InfText inf;
    ASSERT_TRUE(
        inf.Parse("[S]\nk=" + refs.substr(0, 505) + ",a%big%%big%b\n%big%%big%=v\n[Strings]\nbig=" + big + "\n"));
    std::vector<InfLine> lines = inf.Lines("S");
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0].Field(1), std::string(kInfMaxField, 'x'));
    EXPECT_EQ(lines[0].Field(2), "a" + std::string(kInfMaxField - 1, 'x'));
    EXPECT_EQ(lines[1].key.size(), kInfMaxField);
    EXPECT_EQ(inf.Expand("%%%big%%big%"), "%" + std::string(kInfMaxField - 1, 'x'));
}

TEST(InfText, ManySectionsAndStringsReadInLinearTime)
{
    // 100,000 sections and as many strings and references: a lookup that walks every section or
    // string per name takes minutes; a linear one well under a second.
    constexpr int kCount = 100000;
    std::string text = "[Strings]\n";
    for (int i = 0; i < kCount; ++i)
        text += "s" + std::to_string(i) + "=v" + std::to_string(i) + "\n";
    for (int i = 0; i < kCount; ++i)
        text += "[Sec" + std::to_string(i) + "]\nk=%S" + std::to_string(i) + "%\n";
    const std::clock_t start = std::clock();
    InfText inf;
    ASSERT_TRUE(inf.Parse(text));
    for (int i = 0; i < kCount; i += 997) {
        std::vector<InfLine> lines = inf.Lines("sec" + std::to_string(i));
        ASSERT_EQ(lines.size(), 1U);
        EXPECT_EQ(lines[0].Field(1), "v" + std::to_string(i));
    }
    for (int i = 0; i < kCount; ++i)
        ASSERT_TRUE(inf.HasSection("SEC" + std::to_string(i)));
    EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 10.0);
}

TEST(InfText, Utf16ScriptsReadInTheAnsiCodePage)
{
    const std::u16string script = u"[Version]\r\nSignature=\"$Windows NT$\"\r\n[S]\r\n"
                                  u"k=Gr\u00FC\u00DFe \u20AC, \u4E2D\U0001F600!\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : script) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    bytes += 'z'; // an odd last byte is no character
    InfText inf;
    ASSERT_TRUE(inf.Open(bytes));
    EXPECT_EQ(ShowSection(inf, "S"),
        (std::vector<std::string> { "k=Gr\xFC\xDF"
                                    "e \x80|?"
                                    "?!" }));
}

TEST(InfText, OpeningNeedsAVersionSignature)
{
    struct Case {
        const char* text;
        bool opens;
    } cases[] = {
        { "[Version]\nSignature=\"$Chicago$\"\n", true },
        { "[version]\nsignature = $WINDOWS NT$\n", true },
        { "[Version]\nSignature=\"$Windows 95$\"\n", true },
        { "[Install]\nCopyFiles=F\n", false },
        { "[Version]\nProvider=Zevra\n", false },
        { "[Version]\nSignature=\"$Linux$\"\n", false },
        { "[Version]\n[Install]\nSignature=\"$Chicago$\"\n", false },
    };
    for (const Case& c : cases) {
        InfText inf;
        InfError error = InfError::None;
        unsigned line = 7;
        EXPECT_EQ(inf.Open(c.text, &error, &line), c.opens) << c.text;
        if (!c.opens) {
            EXPECT_EQ(error, InfError::WrongInfStyle) << c.text;
            EXPECT_EQ(line, 0U) << c.text;
            EXPECT_FALSE(inf.HasSection("Version")) << c.text;
        }
    }
    // A script that does not read at all keeps its own error.
    InfText inf;
    InfError error = InfError::None;
    EXPECT_FALSE(inf.Open("[Version]\nSignature=$Chicago$\n[broken\n", &error));
    EXPECT_EQ(error, InfError::BadSectionNameLine);
}

} // namespace
