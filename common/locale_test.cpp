#include "common/locale.h"

#include <gtest/gtest.h>

TEST(Locale, EnglishNumbersRoundAndGroup)
{
    const LocaleFormat& en = EnglishLocale();
    struct Row {
        const char* in;
        int decimals;
        const char* out;
    } rows[] = {
        { "0", 0, "0" },
        { "999", 0, "999" },
        { "1000", 0, "1,000" },
        { "1234567", 0, "1,234,567" },
        { "-1234567", 2, "-1,234,567.00" },
        { "1234.565", 2, "1,234.57" },
        { "999.995", 2, "1,000.00" },
        { "0.5", 0, "1" },
        { "0.49", 0, "0" },
        { "-0.001", 2, "0.00" },
        { ".5", 1, "0.5" },
        { "007", 0, "7" },
        { "abc", 2, "abc" },
        { "1.2.3", 0, "1.2.3" },
        { "", 0, "" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(en.Number(r.in, r.decimals), r.out) << r.in;
}

TEST(Locale, EnglishDatesAndTimes)
{
    const LocaleFormat& en = EnglishLocale();
    EXPECT_EQ(en.ShortDate({ 2001, 3, 9 }), "3/9/2001");
    EXPECT_EQ(en.Time({ 0, 5, 7 }, true), "12:05:07 AM");
    EXPECT_EQ(en.Time({ 13, 5, 7 }, true), "1:05:07 PM");
    EXPECT_EQ(en.Time({ 12, 0, 0 }, false), "12:00 PM");
}

TEST(Locale, InstalledFormatsReplaceTheSystemOne)
{
    PatternLocale de({ .decimal = ",", .thousand = ".", .shortDate = "dd.MM.yyyy", .time = "HH:mm:ss" });
    PatternLocale odd(
        { .grouping = 0, .leadingZero = false, .shortDate = "yy-MM-dd 'at' d 'o''clock'", .time = "hh.mm.ss t" });

    InstallLocale(&de);
    EXPECT_EQ(LocaleNumber("1234.5", 2), "1.234,50");
    EXPECT_EQ(LocaleInteger(-1234567), "-1.234.567");
    EXPECT_EQ(LocaleShortDate({ 2001, 3, 9 }), "09.03.2001");
    EXPECT_EQ(LocaleTimeText({ 7, 5, 3 }), "07:05:03");
    EXPECT_EQ(LocaleTimeText({ 17, 5, 3 }, false), "17:05");

    InstallLocale(&odd);
    EXPECT_EQ(LocaleNumber("1234.5", 1), "1234.5");
    EXPECT_EQ(LocaleNumber("0.25", 2), ".25");
    EXPECT_EQ(LocaleShortDate({ 2009, 12, 1 }), "09-12-01 at 1 o'clock");
    EXPECT_EQ(LocaleTimeText({ 15, 4, 0 }), "03.04.00 P");

    InstallLocale(nullptr);
    EXPECT_EQ(&CurrentLocale(), &SystemLocale());
}
