#include "common/ini.h"
#include "monitor/startup/logpage.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {
std::string TempIni()
{
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/talvine_logpage_test.ini";
}

TEST(LogPage, NamingFromTheSettingsAndBack)
{
    std::string ini = TempIni();
    std::remove(ini.c_str());
    // Nothing saved: logging off, monthly offered, the custom name proposed from the address.
    LogPageState s = LogPageLoad(ini, "10.0.0.1");
    EXPECT_EQ(s.mask, 0u);
    EXPECT_EQ(s.naming, LogNaming::Monthly);
    EXPECT_EQ(s.custom, "10.0.0.1.Log");

    // The keys are read without regard to case of "_FileName" (written as "_Filename").
    s.mask = 5;
    s.naming = LogNaming::Daily;
    EXPECT_EQ(LogPageSave(ini, "10.0.0.1", s), 1);
    EXPECT_EQ(IniGetString(ini, "Logging", "10.0.0.1_Filename", ""), "%N-%Y-%m-%d.Log");
    EXPECT_EQ(IniGetInt(ini, "Logging", "10.0.0.1_LogMask", 0), 5);
    LogPageState back = LogPageLoad(ini, "10.0.0.1");
    EXPECT_EQ(back.mask, 5u);
    EXPECT_EQ(back.naming, LogNaming::Daily);

    s.naming = LogNaming::Custom;
    s.custom = "%N-%N.txt";
    LogPageSave(ini, "10.0.0.1", s);
    back = LogPageLoad(ini, "10.0.0.1");
    EXPECT_EQ(back.naming, LogNaming::Custom);
    EXPECT_EQ(back.custom, "%N-%N.txt");
    // Another device keeps its own keys.
    EXPECT_EQ(LogPageLoad(ini, "10.0.0.2").mask, 0u);
    std::remove(ini.c_str());
}

TEST(LogPage, ExpandedNames)
{
    std::tm t {};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 8;
    EXPECT_EQ(LogPageExpandedName(LogNaming::Monthly, "10.0.0.1", t), "10.0.0.1-2026-12.Log");
    EXPECT_EQ(LogPageExpandedName(LogNaming::Daily, "10.0.0.1", t), "10.0.0.1-2026-12-08.Log");
}
} // namespace
