// The about box's texts: lines built from the string tables' patterns, texts taken by id, the
// compiler's build date and the box placed on the mouse cursor.
#include "common/aboutbox.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {
class AboutBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstallLocale(&english_);
        StrSetLanguage(1033);
    }
    void TearDown() override
    {
        InstallLocale(nullptr);
        StrSetLanguage(1033);
    }
    PatternLocale english_ { LocalePatterns {} };
};

AboutBoxRecord Built()
{
    AboutBoxRecord r;
    r.strings = &qorvexal_Strings();
    r.flags = kAboutBuildVersion | kAboutBuildCopyright;
    r.major = 3;
    r.minor = 5;
    r.build = 42;
    r.buildDate = { 2001, 6, 30 };
    return r;
}
} // namespace

TEST_F(AboutBox, BuildsVersionAndCopyrightLines)
{
    AboutBoxRecord r = Built();
    AboutBuildLines(&r);
    EXPECT_EQ(r.version, "Version 3.05.0042 (6/30/2001)");
    EXPECT_EQ(r.copyright, "Copyright (c) 2001"); // first year 0: the build year
    struct Row {
        uint16_t first, last;
        uint32_t flags;
        const char* expected;
    } rows[] = {
        { 1998, 2001, kAboutBuildCopyright, "Copyright (c) 1998-2001" },
        { 1998, 1998, kAboutBuildCopyright, "Copyright (c) 1998" },
        { 2001, 1998, kAboutBuildCopyright, "Copyright (c) 2001" },
        { 0, 0, kAboutBuildCopyright, "Copyright (c) 0" }, // no version line built: no build year
        { 0, 2003, kAboutBuildCopyright | kAboutBuildVersion, "Copyright (c) 2001-2003" },
    };
    for (const Row& row : rows) {
        r.firstYear = row.first;
        r.lastYear = row.last;
        r.flags = row.flags;
        EXPECT_EQ(AboutCopyrightLine(r), row.expected);
    }
}

TEST_F(AboutBox, PatternsComeFromTheStringTablesOfEachLanguage)
{
    // The date follows the locale, the pattern the language's table (all three carry both patterns).
    PatternLocale german { LocalePatterns { ",", ".", 3, true, "dd.MM.yyyy" } };
    InstallLocale(&german);
    for (uint16_t lang : { 1033, 1031, 1036 }) {
        StrSetLanguage(lang);
        AboutBoxRecord r = Built();
        AboutBuildLines(&r);
        EXPECT_EQ(r.version, "Version 3.05.0042 (30.06.2001)") << lang;
        EXPECT_EQ(r.copyright, "Copyright (c) 2001") << lang;
    }
    // Without tables there are no patterns: no line rather than a made-up one.
    AboutBoxRecord r = Built();
    r.strings = nullptr;
    AboutBuildLines(&r);
    EXPECT_EQ(r.version, "");
    EXPECT_EQ(r.copyright, "");
}

TEST_F(AboutBox, PatternsThatDoNotFitTheirValuesGiveNoLine)
{
    AboutBoxRecord r = Built();
    struct Row {
        const char* pattern;
        const char* expected;
    } versions[] = {
        { "Version %d.%02d.%04d (%s)", "Version 3.05.0042 (6/30/2001)" },
        { "V%d.%02d.%04d %s 100%%", "V3.05.0042 6/30/2001 100%" },
        { "Version %s.%02d.%04d (%d)", "" }, // would read a number as text
        { "Version %d.%02d.%04d (%s) %s", "" }, // one argument too many
        { "Version %d.%02d", "" },
        { "%n", "" },
    };
    for (const Row& row : versions)
        EXPECT_EQ(AboutVersionLine(r, row.pattern), row.expected) << row.pattern;
    EXPECT_EQ(AboutCopyrightLine(r, "(c) %s, all rights reserved"), "(c) 2001, all rights reserved");
    EXPECT_EQ(AboutCopyrightLine(r, "(c) %d"), "");
}

TEST_F(AboutBox, TextsGivenByIdComeFromTheSourceAndAreCut)
{
    std::map<unsigned, std::string> table = {
        { 10, "About X" },
        { 11, "X" },
        { 12, std::string(300, 'p') },
        { 13, "Company" },
        { 14, "More" },
        { 15, "http://x.example/" },
        { kAboutVersionPatternId, "v%d.%02d.%04d %s" },
        { kAboutCopyrightPatternId, "(c) %s" },
    };
    AboutBoxRecord r = Built();
    r.flags = kAboutTitleId | kAboutProductId | kAboutProduct2Id | kAboutCompanyId | kAboutWebId | kAboutBuildVersion;
    r.titleId = 10;
    r.productId = 11;
    r.product2Id = 12;
    r.companyId = 13;
    r.additionalId = 14;
    r.webId = 15;
    r.additional = "kept: its flag is not set";
    r.copyright = std::string(400, 'c');
    AboutResolveTexts(&r, [&table](unsigned id) { return table[id]; });
    EXPECT_EQ(r.title, "About X");
    EXPECT_EQ(r.product, "X");
    EXPECT_EQ(r.product2, std::string(255, 'p'));
    EXPECT_EQ(r.company, "Company");
    EXPECT_EQ(r.additional, "kept: its flag is not set");
    EXPECT_EQ(r.web, "http://x.example/");
    EXPECT_EQ(r.version, "v3.05.0042 6/30/2001");
    EXPECT_EQ(r.copyright, std::string(255, 'c')); // not built, but still cut to its field
    // The program's own table: the qorvexal about texts in German.
    StrSetLanguage(1031);
    AboutBoxRecord q = Built();
    q.flags |= kAboutTitleId;
    q.titleId = 1613;
    AboutBuildLines(&q);
    EXPECT_EQ(q.title, "Info \374ber Velquin");
}

TEST_F(AboutBox, ParsesTheCompilersBuildDate)
{
    struct Row {
        const char* text;
        bool ok;
        LocaleDate date;
    } rows[] = {
        { "Jan  1 2024", true, { 2024, 1, 1 } },
        { "Dec 31 1999", true, { 1999, 12, 31 } },
        { "Sep 09 2025", true, { 2025, 9, 9 } },
        { "Foo  1 2024", false, {} },
        { "anF  1 2024", false, {} }, // a month name across two names
        { "Jan 32 2024", false, {} },
        { "Jan  0 2024", false, {} },
        { "Jan 1 2024", false, {} },
        { "", false, {} },
    };
    for (const Row& row : rows) {
        LocaleDate d;
        ASSERT_EQ(AboutParseCompilerDate(row.text, &d), row.ok) << row.text;
        if (row.ok) {
            EXPECT_EQ(d.year, row.date.year) << row.text;
            EXPECT_EQ(d.month, row.date.month) << row.text;
            EXPECT_EQ(d.day, row.date.day) << row.text;
        }
    }
    LocaleDate now;
    EXPECT_TRUE(AboutParseCompilerDate(__DATE__, &now));
}

TEST_F(AboutBox, CentresOnTheCursorInsideTheWorkArea)
{
    const PlaceRect work { 0, 0, 1280, 1000 };
    const PlaceRect box { 0, 0, 300, 200 };
    struct Row {
        int32_t x, y;
        PlaceRect expected;
    } rows[] = {
        { 640, 500, { 490, 400, 790, 600 } },
        { 1270, 990, { 980, 800, 1280, 1000 } }, // bottom-right corner: pushed back in
        { 5, 5, { 0, 0, 300, 200 } },
    };
    for (const Row& row : rows) {
        PlaceRect r = AboutRectOnPoint(box, row.x, row.y, work);
        EXPECT_EQ(r.left, row.expected.left) << row.x;
        EXPECT_EQ(r.top, row.expected.top) << row.y;
        EXPECT_EQ(r.right, row.expected.right) << row.x;
        EXPECT_EQ(r.bottom, row.expected.bottom) << row.y;
    }
    // Larger than the work area: the left and top edges stay visible.
    PlaceRect big = AboutRectOnPoint(PlaceRect { 0, 0, 2000, 1200 }, 640, 500, work);
    EXPECT_EQ(big.left, 0);
    EXPECT_EQ(big.top, 0);
}
