// qorvexal-cli on a device list where two entries carry one name, as devices in their factory state
// report it: a command naming them is refused with every match and its address, nothing is sent, and
// each device stays reachable by its address.
#include "cli/qorvexal/cli_fixture.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace qv_cli_test;

struct DevicesCli : ::testing::Test {
    std::string dir;
    std::string ini;
    void SetUp() override
    {
        namespace fs = std::filesystem;
        dir = (fs::temp_directory_path() / ("devices_cli_" + std::to_string(::getpid()))).string();
        fs::remove_all(dir);
        fs::create_directories(dir);
        ini = dir + "/qorvexal.ini";
        // Ports nobody serves: a command that went ahead would time out instead of being refused.
        FileWriteAtomic(ini,
            "[DeviceList]\r\nCount=3\r\n"
            "1_Name=MORVAK-1100\r\n1_Description=\r\n1_Parameters=0;;IP;127.0.46.1:9;1;\r\n"
            "2_Name=morvak-1100\r\n2_Description=\r\n2_Parameters=0;;IP;127.0.46.2:9;1;\r\n"
            "3_Name=lab\r\n3_Description=\r\n3_Parameters=0;;IP;127.0.46.3:9;1;\r\n");
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

TEST_F(DevicesCli, AnAmbiguousNameIsRefusedWithEveryMatch)
{
    for (const char* command : { "check", "read -p x", "time -p x" }) {
        std::string out, err;
        std::string args = std::string(command) + " MORVAK-1100";
        if (std::string(command).rfind("read", 0) == 0)
            args += " " + dir + "/c.txt";
        EXPECT_EQ(Cli("--ini " + ini + " " + args, &out, &err), 2) << command << ": " << out << err;
        EXPECT_NE(err.find("2 devices match 'MORVAK-1100'"), std::string::npos) << command << ": " << err;
        EXPECT_NE(err.find("MORVAK-1100 (127.0.46.1:9)"), std::string::npos) << command << ": " << err;
        EXPECT_NE(err.find("morvak-1100 (127.0.46.2:9)"), std::string::npos) << command << ": " << err;
        EXPECT_EQ(err.find("lab"), std::string::npos) << command << ": " << err;
        EXPECT_EQ(out, "") << command;
    }
    // One of them by its address goes ahead (and finds no device there).
    std::string out, err;
    EXPECT_EQ(Cli("--ini " + ini + " check -t 1 127.0.46.2:9", &out, &err), 1) << out << err;
    EXPECT_EQ(err.find("devices match"), std::string::npos) << err;
}

} // namespace
