#include "common/text.h"

#include <gtest/gtest.h>

TEST(ParseUnsigned, ReadsTheThreeBasesAndStopsAtTheFirstForeignCharacter)
{
    struct Row {
        const char* text;
        uint32_t value;
        size_t used;
    } rows[] = {
        { "1033", 1033, 4 },
        { "0x409", 1033, 5 },
        { "0X1f", 31, 4 },
        { "010", 8, 3 },
        { "0", 0, 1 },
        { "  42abc", 42, 4 },
        { "4294967295", 4294967295u, 10 },
        { "4294967296", 0, 10 },
        { "0x", 0, 1 },
        { "09", 0, 1 },
        { "", 0, 0 },
        { "abc", 0, 0 },
        { "0xg", 0, 1 },
    };
    for (const Row& row : rows) {
        size_t used = 99;
        EXPECT_EQ(ParseUnsigned(row.text, &used), row.value) << row.text;
        EXPECT_EQ(used, row.used) << row.text;
    }
}

TEST(ParseUnsigned, StrictFormRefusesTrailingText)
{
    EXPECT_EQ(ParseUnsignedStrict(" 0x10 "), 16u);
    EXPECT_FALSE(ParseUnsignedStrict("12a"));
    EXPECT_FALSE(ParseUnsignedStrict(""));
    EXPECT_EQ(ParseDecimal("-12x"), -12);
    EXPECT_EQ(ParseDecimal("x"), 0);
}

TEST(TextCompare, IgnoresAsciiCaseOnly)
{
    EXPECT_TRUE(StrEqualNoCase("DeviceList", "devicelist"));
    EXPECT_FALSE(StrEqualNoCase("abc", "abcd"));
    EXPECT_LT(StrCompareNoCase("abc", "ABD"), 0);
    EXPECT_GT(StrCompareNoCase("b", "A"), 0);
    EXPECT_FALSE(StrEqualNoCase("\xe4", "\xc4")); // no code-page folding
    EXPECT_TRUE(StrEndsWithNoCase("X.INI", ".ini"));
    EXPECT_FALSE(StrEndsWithNoCase("ini", ".ini"));
}

TEST(TextTrim, BlanksAndLineEnds)
{
    EXPECT_EQ(Trim(" \t a b \t"), "a b");
    EXPECT_EQ(TrimLineEnd("abc\r\n\r\n"), "abc");
    EXPECT_EQ(TrimLineEnd(" abc "), " abc ");
    EXPECT_EQ(Trim(""), "");
    EXPECT_EQ(CutTo("123456789012345678", 15), "123456789012345");
}

TEST(TextEscape, PeerTextsJsonStringsAndDumpsEscapeTheirOwnSets)
{
    const std::string text = std::string("a\"b\\c\n\r\t") + '\x1b' + '\x7f' + "\xc3\xa9";
    // A peer's text on a terminal: every control byte and every byte above 0x7F as \xHH, quotes kept.
    EXPECT_EQ(StrEscapeControls(text), "a\"b\\\\c\\n\\r\\t\\x1B\\x7F\\xC3\\xA9");
    // A JSON string: control characters and DEL as \u00hh, UTF-8 bytes kept.
    EXPECT_EQ(StrQuote(text, true), "\"a\\\"b\\\\c\\n\\r\\t\\u001b\\u007f\xc3\xa9\"");
    // A dump: only the quote, the backslash and the three line controls escaped.
    EXPECT_EQ(StrQuote(text, false), "\"a\\\"b\\\\c\\n\\r\\t\x1b\x7f\xc3\xa9\"");
    EXPECT_EQ(StrQuote("", true), "\"\"");
}
