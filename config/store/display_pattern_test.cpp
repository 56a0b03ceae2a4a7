#include "config/description/cfg_types.h"
#include "config/store/display_pattern.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {
const CfgMoment kMoment { 2005, 3, 9, 7, 5, 3 };

CfgMoment Only(const CfgMoment& m, unsigned fields)
{
    CfgMoment out;
    out.year = (fields & CfgFieldYear) ? m.year : 0;
    out.month = (fields & CfgFieldMonth) ? m.month : 0;
    out.day = (fields & CfgFieldDay) ? m.day : 0;
    out.hour = (fields & CfgFieldHour) ? m.hour : 0;
    out.minute = (fields & CfgFieldMinute) ? m.minute : 0;
    out.second = (fields & CfgFieldSecond) ? m.second : 0;
    return out;
}

// Every "format" attribute of the description files that ship in data/.
std::set<std::string> ShippedPatterns()
{
    std::set<std::string> patterns;
    const char* source = std::getenv("SUITE_SOURCE_DIR");
    std::filesystem::path dir = std::filesystem::path(source ? source : ".") / "data";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".dsc")
            continue;
        std::ifstream in(entry.path());
        std::string line;
        while (std::getline(in, line)) {
            size_t at = line.find_first_not_of(" \t");
            if (at == std::string::npos || line.compare(at, 7, "format ") != 0)
                continue;
            size_t open = line.find('"', at);
            size_t close = open == std::string::npos ? open : line.find('"', open + 1);
            if (close != std::string::npos)
                patterns.insert(line.substr(open + 1, close - open - 1));
        }
    }
    return patterns;
}
} // namespace

TEST(CfgPattern, WritesAndReadsBackTheFieldsItHolds)
{
    std::set<std::string> patterns = ShippedPatterns();
    ASSERT_FALSE(patterns.empty()) << "no format attribute found in data/*.dsc";
    for (const char* p : { "DDMMYYYY", "hh:mm", "hh:mm:ss", "DDMMYYYY hh:mm", "DDMMYYYY hh:mm:ss", "hhmmssDDMMYYYY",
             "D.M.Y", "M/D/Y", "YYYY-MM-DD", "DD.MM." })
        patterns.insert(p);
    for (const std::string& pattern : patterns) {
        std::string text = CfgPatternWrite(pattern, kMoment);
        CfgMoment back;
        unsigned found = 0;
        EXPECT_TRUE(CfgPatternRead(pattern, text, &back, &found)) << pattern << " -> " << text;
        EXPECT_EQ(found, CfgPatternFields(pattern)) << pattern;
        EXPECT_EQ(back, Only(kMoment, CfgPatternFields(pattern))) << pattern << " -> " << text;
    }
}

TEST(CfgPattern, Writing)
{
    struct Row {
        const char* pattern;
        const char* text;
    } rows[] = {
        { "DDMMYYYY", "09032005" },
        { "hh:mm:ss", "07:05:03" },
        { "D.M.Y", "9.3.2005" },
        { "YY", "2005" }, // a value wider than its run is written whole
        { "hhmmssDDMMYYYY", "07050309032005" },
        { "x-Dd", "x-9d" }, // only h m s D M Y are fields
        { "", "" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(CfgPatternWrite(r.pattern, kMoment), r.text) << r.pattern;
}

TEST(CfgPattern, ReadingWalksPatternAndText)
{
    struct Row {
        const char* pattern;
        const char* text;
        bool ok;
        CfgMoment expected;
    } rows[] = {
        // A run followed by another field letter takes exactly its length.
        { "DDMMYYYY", "09032005", true, { 2005, 3, 9, 0, 0, 0 } },
        { "DDMMYYYY", "0903205", true, { 205, 3, 9, 0, 0, 0 } },
        { "DDMMYYYY", "9032005", true, { 5, 32, 90, 0, 0, 0 } },
        { "DDMMYYYY", "09x32005", false, { 0, 0, 9, 0, 0, 0 } },
        // Other runs take the digits up to the next character, at least one.
        { "D.M.Y", "9.3.2005", true, { 2005, 3, 9, 0, 0, 0 } },
        { "DD.MM.YYYY", "9.3.5", true, { 5, 3, 9, 0, 0, 0 } },
        { "D.M.Y", "9.3.", false, { 0, 3, 9, 0, 0, 0 } },
        { "D.M.Y", "9-3-2005", false, { 0, 0, 9, 0, 0, 0 } },
        // A blank matches any run of blanks, also none.
        { "DDMMYYYY hh:mm", "09032005    7:05", true, { 2005, 3, 9, 7, 5, 0 } },
        { "DDMMYYYY hh:mm", "09032005 7:05", true, { 2005, 3, 9, 7, 5, 0 } },
        { "hh mm", "0705", false, { 0, 0, 0, 705, 0, 0 } },
        // Text after the pattern is ignored; a missing field reads as 0.
        { "hh:mm", "07:05:03", true, { 0, 0, 0, 7, 5, 0 } },
        { "hh:mm:ss", "07:05", false, { 0, 0, 0, 7, 5, 0 } },
        { "hh:mm", "", false, {} },
        { "", "anything", true, {} },
        // Too many digits stay at the largest value instead of wrapping.
        { "Y", "99999999999999", true, { 0xFFFFFFFFu, 0, 0, 0, 0, 0 } },
    };
    for (const Row& r : rows) {
        CfgMoment m { 1, 1, 1, 1, 1, 1 };
        EXPECT_EQ(CfgPatternRead(r.pattern, r.text, &m), r.ok) << r.pattern << " / " << r.text;
        EXPECT_EQ(m, r.expected) << r.pattern << " / " << r.text;
    }
}

TEST(CfgPattern, DeviceClock)
{
    EXPECT_EQ(CfgDeviceClockText({ 2026, 12, 7, 13, 4, 59 }), "13045907122026");
    CfgMoment m;
    ASSERT_TRUE(CfgReadDeviceClock("13045907122026", &m));
    EXPECT_EQ(m, (CfgMoment { 2026, 12, 7, 13, 4, 59 }));
    EXPECT_FALSE(CfgReadDeviceClock("1304590712", &m));
    EXPECT_FALSE(CfgReadDeviceClock("13:04:59", &m));
}

TEST(CfgPattern, TypedDates)
{
    struct Row {
        const char* text;
        uint32_t currentYear;
        unsigned found;
        CfgMoment date;
    } rows[] = {
        { "5.3.05", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 2005, 3, 5, 0, 0, 0 } },
        { "5.3.5", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 2005, 3, 5, 0, 0, 0 } },
        { "5.3.99", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 2099, 3, 5, 0, 0, 0 } },
        { "5.3.7", 1999, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 1907, 3, 5, 0, 0, 0 } },
        { "5.3.1999", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 1999, 3, 5, 0, 0, 0 } },
        { "3/5/5", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 2005, 3, 5, 0, 0, 0 } },
        { " 12/31/2000 ", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 2000, 12, 31, 0, 0, 0 } },
        { "05032005", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 2005, 3, 5, 0, 0, 0 } },
        { "050305", 2026, CfgFieldDay | CfgFieldMonth | CfgFieldYear, { 5, 3, 5, 0, 0, 0 } }, // no century rule
        { "5.3.", 2026, CfgFieldDay | CfgFieldMonth, { 0, 3, 5, 0, 0, 0 } },
        { "0503", 2026, CfgFieldDay | CfgFieldMonth, { 0, 3, 5, 0, 0, 0 } },
        { "5", 2026, 0, {} },
        { "", 2026, 0, {} },
    };
    for (const Row& r : rows) {
        CfgMoment m;
        EXPECT_EQ(CfgReadTypedDate(r.text, r.currentYear, &m), r.found) << r.text;
        EXPECT_EQ(m, r.date) << r.text;
    }
}

TEST(CfgPattern, ItemDefaults)
{
    CfgItem date, time, both;
    date.kind = CfgKindEntryDate;
    time.kind = CfgKindEntryTime;
    both.kind = CfgKindEntryDateTime;
    EXPECT_EQ(CfgItemPattern(date), "DDMMYYYY");
    EXPECT_EQ(CfgItemPattern(time), "hh:mm");
    EXPECT_EQ(CfgItemPattern(both), "DDMMYYYY hh:mm");
    time.SetNumber(CfgAttrShowSeconds, 1);
    both.SetNumber(CfgAttrShowSeconds, 1);
    EXPECT_EQ(CfgItemPattern(time), "hh:mm:ss");
    EXPECT_EQ(CfgItemPattern(both), "DDMMYYYY hh:mm:ss");
    date.SetText(CfgAttrFormat, "YYYY-MM-DD");
    EXPECT_EQ(CfgItemPattern(date), "YYYY-MM-DD");
}

TEST(CfgPattern, ValidDates)
{
    EXPECT_TRUE(CfgIsValidDate(2000, 2, 29));
    EXPECT_FALSE(CfgIsValidDate(1900 + 200, 2, 29));
    EXPECT_FALSE(CfgIsValidDate(2001, 2, 29));
    EXPECT_TRUE(CfgIsValidDate(2004, 2, 29));
    EXPECT_FALSE(CfgIsValidDate(2005, 4, 31));
    EXPECT_FALSE(CfgIsValidDate(2005, 13, 1));
    EXPECT_FALSE(CfgIsValidDate(2005, 0, 1));
    EXPECT_FALSE(CfgIsValidDate(2005, 1, 0));
    EXPECT_FALSE(CfgIsValidDate(0, 1, 1));
    EXPECT_TRUE(CfgIsValidDate(1601, 1, 1));
}
