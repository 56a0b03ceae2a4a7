#include "common/scramble.h"

#include <gtest/gtest.h>

TEST(Scramble, RoundTripsAndUsesTheKeyCyclically)
{
    std::string s = CfgScramble("abc");
    EXPECT_EQ(s.size(), 6u);
    EXPECT_EQ(s, "2c0d11"); // 'a'^'M', 'b'^'o', 'c'^'r'
    EXPECT_EQ(CfgUnscramble(s), "abc");
    std::string longer(40, 'x');
    EXPECT_EQ(CfgUnscramble(CfgScramble(longer)), longer);
    // the 16th byte wraps to the key's first letter
    EXPECT_EQ(CfgScramble(std::string(16, '\0')).substr(30), CfgScramble(std::string(1, '\0')));
    EXPECT_EQ(CfgScramble(""), "");
}

TEST(Scramble, UnscrambleStopsAtIncompleteOrBadPairsAndAtTheLimit)
{
    EXPECT_EQ(CfgUnscramble("2c0d1"), "ab");
    EXPECT_EQ(CfgUnscramble("2c0dzz11"), "ab");
    EXPECT_EQ(CfgUnscramble("2C0D11"), "abc");
    EXPECT_EQ(CfgUnscramble(CfgScramble(std::string(300, 'q'))).size(), 255u);
}
