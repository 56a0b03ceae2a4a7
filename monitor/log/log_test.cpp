// Device logs: category masks, file switching at midnight, name patterns, older settings, and names that
// would leave the Log directory.
#include "common/ini.h"
#include "common/locale.h"
#include "monitor/log/log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

namespace {
std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A folder of its own with talvine.ini, the clock at `now` (UTC) and the English formats.
struct LogRig {
    std::string dir;
    std::string ini;
    std::time_t now = 0;
    explicit LogRig(const char* name)
    {
#ifdef _WIN32
        _putenv("TZ=UTC0");
        _tzset();
#else
        setenv("TZ", "UTC0", 1);
        tzset();
#endif
        dir = (std::filesystem::temp_directory_path()
            / (std::string("log-test-") + name + std::to_string(std::random_device {}())))
                  .string();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ini = dir + "/talvine.ini";
        InstallLocale(&EnglishLocale());
        LogSetTimeSource([this] { return now; });
    }
    ~LogRig()
    {
        LogClose();
        LogSetTimeSource({});
        InstallLocale(nullptr);
        std::filesystem::remove_all(dir);
    }
    void Device(const char* address, const char* pattern, int mask)
    {
        IniWriteString(ini, "Logging", (std::string(address) + "_Filename").c_str(), pattern);
        IniWriteInt(ini, "Logging", std::string(address) + "_LogMask", mask);
    }
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
#ifdef _WIN32
    return _mkgmtime(&tm);
#else
    return timegm(&tm);
#endif
}
} // namespace

TEST(Log, CategoriesAndMidnight)
{
    LogRig rig("mid");
    ASSERT_EQ(LogInit(rig.dir, rig.ini, false), 1);
    rig.Device("10.0.0.1", kLogDaily, 5);
    rig.now = Utc(2026, 3, 9, 23, 59, 58);
    EXPECT_EQ(LogWrite("10.0.0.1", 2, "a/b port"), 0) << "category 2 against mask 5";
    EXPECT_EQ(LogWrite("10.0.0.1", 4, "before"), 1);
    EXPECT_EQ(LogOpenFile(), "10.0.0.1-2026-03-09.Log");
    rig.now = Utc(2026, 3, 10, 0, 0, 1);
    EXPECT_EQ(LogWrite("10.0.0.1", 1, "after"), 1);
    EXPECT_EQ(LogOpenFile(), "10.0.0.1-2026-03-10.Log");
    EXPECT_EQ(Read(rig.dir + "/Log/10.0.0.1-2026-03-09.Log"), "[3/9/2026 11:59:58 PM] before\r\n");
    EXPECT_EQ(Read(rig.dir + "/Log/10.0.0.1-2026-03-10.Log"), "[3/10/2026 12:00:01 AM] after\r\n");
    // No pattern or no mask: nothing.
    rig.Device("10.0.0.2", "", 7);
    rig.Device("10.0.0.3", kLogDaily, 0);
    EXPECT_EQ(LogWrite("10.0.0.2", 7, "x"), 0);
    EXPECT_EQ(LogWrite("10.0.0.3", 7, "x"), 0);
    EXPECT_EQ(LogWrite("10.0.0.9", 7, "x"), 0);
}

TEST(Log, PatternsAndNamesThatLeaveTheDirectory)
{
    std::tm tm {};
    tm.tm_year = 126;
    tm.tm_mon = 2;
    tm.tm_mday = 9;
    struct Row {
        const char* pattern;
        const char* name;
    } rows[] = {
        { "%N-%N.txt", "1.2.3.4-1.2.3.4.txt" },
        { kLogMonthly, "1.2.3.4-2026-03.Log" },
        { "%Q%N%", "%Q1.2.3.4%" }, // unknown conversions stay as written
        { "100%%.log", "100%.log" },
        { "..\\%N.Log", "" },
        { "../%N.Log", "" },
        { "..", "" },
        { "", "" },
        { "%N:1", "" },
    };
    for (const Row& r : rows)
        EXPECT_EQ(LogFileName(r.pattern, "1.2.3.4", tm), r.name) << r.pattern;

    LogRig rig("names");
    ASSERT_EQ(LogInit(rig.dir, rig.ini, false), 1);
    rig.Device("10.0.0.1", "..\\%N.Log", 1);
    EXPECT_EQ(LogWrite("10.0.0.1", 1, "x"), 0);
    rig.Device("10.0.0.1", "%N-%N.Log", 1);
    EXPECT_EQ(LogWrite("10.0.0.1", 1, "x"), 1);
    EXPECT_TRUE(std::filesystem::exists(rig.dir + "/Log/10.0.0.1-10.0.0.1.Log"));
}

TEST(Log, OlderSettingsConvertedForEveryListedDevice)
{
    LogRig rig("old");
    std::ofstream(rig.ini, std::ios::binary) << "[Logging]\r\nFileName=router.log\r\nLogRouter=1\r\nLogAbPorts=0\r\n"
                                                "LogSolvane=1\r\nOther=5\r\n";
    std::ofstream(rig.dir + "/talvine.lst", std::ios::binary)
        << "Morvak 1100;10.0.0.1; ;0;\r\nNo Such Type;10.0.0.2;01;0;\r\nbroken\r\n";
    ASSERT_EQ(LogInit(rig.dir, rig.ini, false), 1);
    EXPECT_EQ(IniGetString(rig.ini, "Logging", "FileName", "-"), "-");
    EXPECT_EQ(IniGetString(rig.ini, "Logging", "LogRouter", "-"), "-");
    EXPECT_EQ(IniGetString(rig.ini, "Logging", "Other", "-"), "5");
    for (const char* a : { "10.0.0.1", "10.0.0.2" }) {
        EXPECT_EQ(IniGetString(rig.ini, "Logging", std::string(a) + "_FileName", ""), "%N-router.log");
        EXPECT_EQ(IniGetInt(rig.ini, "Logging", std::string(a) + "_LogMask", 0), 5);
    }
    // A second start finds nothing to convert and changes nothing.
    IniWriteInt(rig.ini, "Logging", "10.0.0.1_LogMask", 2);
    ASSERT_EQ(LogInit(rig.dir, rig.ini, false), 1);
    EXPECT_EQ(IniGetInt(rig.ini, "Logging", "10.0.0.1_LogMask", 0), 2);
}

TEST(Log, DeviceKeysOnAddAndRemove)
{
    LogRig rig("keys");
    LogWriteDeviceKeys(rig.ini, "10.0.0.1", true);
    LogWriteDeviceKeys(rig.ini, "10.0.0.2", false);
    EXPECT_EQ(IniGetString(rig.ini, "Logging", "10.0.0.1_Filename", ""), kLogMonthly);
    EXPECT_EQ(IniGetInt(rig.ini, "Logging", "10.0.0.1_LogMask", 0), 7);
    EXPECT_EQ(IniGetString(rig.ini, "Logging", "10.0.0.2_Filename", "-"), "");
    EXPECT_EQ(IniGetInt(rig.ini, "Logging", "10.0.0.2_LogMask", 9), 0);
    LogDeleteDeviceKeys(rig.ini, "10.0.0.1");
    EXPECT_EQ(IniKeys(rig.ini, "Logging"), (std::vector<std::string> { "10.0.0.2_Filename", "10.0.0.2_LogMask" }));
}
