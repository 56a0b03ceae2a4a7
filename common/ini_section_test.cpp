#include "common/ini.h"

#include <gtest/gtest.h>

TEST(IniFile, SectionLinesKeepEveryLineInFileOrder)
{
    IniFile ini;
    ini.Parse("[Menu]\r\n"
              "Line = First ; a\r\n"
              "; a comment\r\n"
              "\r\n"
              "  Line=\"Quoted\"  \r\n"
              "bare line\r\n"
              "[Other]\r\n"
              "Line=elsewhere\r\n"
              "[menu]\r\n"
              "LINE=Second part\r\n");
    EXPECT_EQ(ini.SectionLines("MENU"),
        std::vector<std::string>({ "Line=First ; a", "Line=\"Quoted\"", "bare line", "LINE=Second part" }));
    EXPECT_TRUE(ini.SectionLines("Missing").empty());
}

TEST(IniFile, SectionLinesOfAUtf16FileAreAnsiText)
{
    std::u16string text = u"[Men\u00FC]\r\nLine=Caf\u00E9\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    IniFile ini;
    ini.Parse(bytes);
    EXPECT_EQ(ini.SectionLines("Men\xFC"), std::vector<std::string>({ "Line=Caf\xE9" }));
}
