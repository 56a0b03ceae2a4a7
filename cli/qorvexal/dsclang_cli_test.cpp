// The description language a user interface language starts with (the default of DscLanguage) names
// that language's texts in the shipped descriptions and set-up wizards, so a German or French
// configuration tool shows German or French dialogs without a setting of its own.
#include "cli/qorvexal/cli_fixture.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace qv_cli_test;

// The DscLanguage start-up reads with the user interface language `lang` and no settings file.
std::string DefaultDscLanguage(const std::string& lang)
{
    std::string text;
    RunCommand(Bin("qorvexal-startup") + " --ini /nonexistent/qorvexal.ini /lang:" + lang, &text);
    const std::string key = "DscLanguage=";
    size_t at = text.find(key);
    if (at == std::string::npos)
        return std::string();
    at += key.size();
    return text.substr(at, text.find(' ', at) - at);
}

TEST(DscLanguage, EachInterfaceLanguageFindsItsTextsInTheShippedFiles)
{
    struct Case {
        const char* lang;
        const char* section; // the IP filter section's title
        const char* wizard; // the DEFAULT wizard's title
    } cases[] = {
        { "eng", "\"IP filter\"", "DEFAULT\tBasic setup" },
        { "ger", "\"IP-Filter\"", "DEFAULT\tGrundeinstellung" },
        { "fre", "\"Filtre IP\"", "DEFAULT\tConfiguration de base" },
    };
    for (const Case& c : cases) {
        std::string language = DefaultDscLanguage(c.lang);
        ASSERT_FALSE(language.empty()) << c.lang;
        std::string out, err;
        ASSERT_EQ(Cli("describe --lang \"" + language + "\" \"Morvak 5000\" 3.22", &out, &err), 0) << err;
        EXPECT_NE(out.find(c.section), std::string::npos) << c.lang << ": " << language;
        if (std::string(c.lang) == "ger") { // the description's Windows-1252 text in UTF-8 on the terminal
            EXPECT_NE(out.find("Ger\xC3\xA4tename"), std::string::npos);
        }
        ASSERT_EQ(Cli("wizard list --unconfigured --lang \"" + language + "\" \"Morvak 5000\" 3.22", &out, &err), 0)
            << err;
        EXPECT_NE(out.find(c.wizard), std::string::npos) << c.lang << ": " << language << "\n" << out;
    }
}

} // namespace
