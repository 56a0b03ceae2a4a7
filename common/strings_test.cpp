#include "common/strings.h"

#include <gtest/gtest.h>

TEST(Strings, FallsBackFromLanguageToPrimaryLanguageToEnglish)
{
    const StrCatalog& catalog = qorvexal_Strings();
    StrSetLanguage(1033);
    EXPECT_EQ(StrLoad(catalog, 1600), "English");
    StrSetLanguage(1031);
    EXPECT_EQ(StrLoad(catalog, 1600), "German");
    StrSetLanguage(2055); // German (Switzerland): no table of its own
    EXPECT_EQ(StrLoad(catalog, 1600), "German");
    StrSetLanguage(1040); // no Italian table
    EXPECT_EQ(StrLoad(catalog, 1600), "English");
    EXPECT_EQ(StrLoad(catalog, 65000), "");
    StrSetLanguage(1033);
}
