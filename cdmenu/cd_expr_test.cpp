#include "cdmenu/cd_env.h"
#include "cdmenu/cd_expr.h"

#include <gtest/gtest.h>
#include <string>

namespace {
CdConditionSet Set(const char* names)
{
    CdConditionSet set;
    set.AddList(names);
    return set;
}
} // namespace

TEST(CdExpression, EvaluatesByPrecedenceAndParentheses)
{
    CdConditionSet set = Set("A, Win9x nothing;");
    set.Add("Two words");
    struct Row {
        const char* expression;
        int result;
    } rows[] = {
        { "A", 1 },
        { "B", 0 },
        { "a", 1 }, // names ignore case
        { "A and not B", 1 },
        { "A && !B", 1 },
        { "!A", 0 },
        { "not not A", 1 },
        { "B || A && Win9x", 1 }, // && binds tighter
        { "(B || A) && C", 0 },
        { "B or A and C", 0 },
        { "(A) && (B)", 0 }, // the outer pair does not match: not unwrapped
        { "(A) || (B)", 1 },
        { "((A))", 1 },
        { "!(A && B)", 1 },
        { "nothing", 1 }, // a name, not "not" + "hing"
        { "nothing and A", 1 },
        { "NOT B AND A", 1 },
        { "\"Two words\" && A", 1 },
        { "\"and\"", 0 }, // quoted: a name
        { "A&&Win9x", 1 },
        // Malformed.
        { "", -1 },
        { "(A && B", -1 },
        { "A && B)", -1 },
        { ")A(", -1 },
        { "A B", -1 },
        { "A !B", -1 }, // "!" must stand first
        { "A &&", -1 },
        { "&& A", -1 },
        { "B || || A", -1 },
        { "()", -1 },
        { "!", -1 },
        { "\"open", -1 },
        // The left side decides: the right one is not looked at.
        { "A || B C", 1 },
        { "B && (C D)", 0 },
        { "B || (C D)", -1 },
    };
    for (const Row& row : rows)
        EXPECT_EQ(CdEvalExpression(row.expression, set), row.result) << row.expression;
}

TEST(CdExpression, DeepNestingIsAnErrorNotAStackOverflow)
{
    CdConditionSet set = Set("A");
    std::string deep = std::string(5000, '(') + "A" + std::string(5000, ')');
    EXPECT_EQ(CdEvalExpression(deep, set), -1);
    std::string ok = std::string(kCdExprMaxDepth, '(') + "A" + std::string(kCdExprMaxDepth, ')');
    EXPECT_EQ(CdEvalExpression(ok, set), 1);
    std::string over = "(" + ok + ")";
    EXPECT_EQ(CdEvalExpression(over, set), -1);
    // Long flat chains and runs of "!" need no depth.
    std::string chain = "B";
    for (int i = 0; i < 20000; ++i)
        chain += " || B";
    EXPECT_EQ(CdEvalExpression(chain + " || A", set), 1);
    EXPECT_EQ(CdEvalExpression(std::string(20001, '!') + "A", set), 0);
}

TEST(CdLists, LanguageAndSystemEntries)
{
    EXPECT_TRUE(CdMatchLanguageList("", "German"));
    EXPECT_TRUE(CdMatchLanguageList(" , ", "German"));
    EXPECT_FALSE(CdMatchLanguageList("!German", "German"));
    EXPECT_TRUE(CdMatchLanguageList("!German", "French"));
    EXPECT_FALSE(CdMatchLanguageList("not german", "German"));
    EXPECT_TRUE(CdMatchLanguageList("English, german", "German"));
    EXPECT_FALSE(CdMatchLanguageList("Germ", "German")); // languages compare whole
    EXPECT_FALSE(CdMatchLanguageList("nothing", "German"));
    EXPECT_TRUE(CdMatchLanguageList("nothing", "Nothing"));

    for (const char* nt : { "WINNT35", "WINNT40", "WINNT2K" }) {
        EXPECT_FALSE(CdMatchSystemList("!WinNT", nt)) << nt;
        EXPECT_TRUE(CdMatchSystemList("WinNT", nt)) << nt;
    }
    EXPECT_TRUE(CdMatchSystemList("!WinNT", "WIN98"));
    EXPECT_TRUE(CdMatchSystemList("WIN95,WIN98", "WIN98"));
    EXPECT_FALSE(CdMatchSystemList("WIN95,WIN98", "WIN32S"));
    EXPECT_FALSE(CdMatchSystemList("WINNT40X", "WINNT40"));
}

TEST(CdEnvironment, SystemNamesAndLanguages)
{
    EXPECT_STREQ(CdSystemName(false, true, 3, 10), "WIN32S");
    EXPECT_STREQ(CdSystemName(false, false, 4, 0), "WIN95");
    EXPECT_STREQ(CdSystemName(false, false, 4, 10), "WIN98");
    EXPECT_STREQ(CdSystemName(false, false, 4, 90), "WIN98");
    EXPECT_STREQ(CdSystemName(true, false, 3, 51), "WINNT35");
    EXPECT_STREQ(CdSystemName(true, false, 4, 0), "WINNT40");
    EXPECT_STREQ(CdSystemName(true, false, 5, 0), "WINNT2K");
    EXPECT_STREQ(CdSystemName(true, false, 10, 0), "WINNT2K");

    EXPECT_STREQ(CdLanguageName(2055), "German");
    EXPECT_STREQ(CdLanguageName(1036), "French");
    EXPECT_STREQ(CdLanguageName(0x7f), "");
    EXPECT_EQ(CdLanguageId("german"), 1031);
    EXPECT_EQ(CdLanguageId("0x40c"), 1036);
    EXPECT_EQ(CdLanguageId("1043"), 1043);
    EXPECT_FALSE(CdLanguageId("Klingon"));
    EXPECT_FALSE(CdLanguageId("0x10000"));
}

TEST(CdCommandLine, WordsSeparatedBySlashes)
{
    CdCommandLine line = CdParseCommandLine("/System /lang:French/country: Canada /OS:WIN98 /cb");
    EXPECT_TRUE(line.system);
    EXPECT_TRUE(line.createBitmap);
    EXPECT_EQ(line.language, "French");
    EXPECT_EQ(line.country, "Canada");
    EXPECT_EQ(line.os, "WIN98");
    EXPECT_TRUE(CdParseCommandLine("/createbitmap").createBitmap);
    EXPECT_FALSE(CdParseCommandLine("systems").system);

    CdEnvironment env;
    CdApplyCommandLine(line, &env);
    EXPECT_EQ(env.language, "French");
    EXPECT_EQ(env.languageId, 1036);
    EXPECT_EQ(env.system, "WIN98");
    EXPECT_EQ(CdSystemMessage(env),
        "System:\n\n- Language:\tFrench (0x040c)\n- Country:\t\tCanada\n- Operating System:\tWIN98");

    CdApplyCommandLine(CdParseCommandLine("/lang:0x407"), &env);
    EXPECT_EQ(env.language, "German");
    EXPECT_EQ(env.languageId, 0x407);
    CdApplyCommandLine(CdParseCommandLine("/lang:Klingon"), &env);
    EXPECT_EQ(env.language, "Klingon");
    EXPECT_EQ(env.languageId, 0x407); // an unknown name keeps the id
}
