// Program starts of script actions: parameters become arguments word by word, never a shell's text.
#include "common/platform/process.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <thread>

TEST(Process, ParametersSplitAtBlanks)
{
    EXPECT_EQ(ProcessSplitParameters("  -n 3\t10.0.0.1; rm -rf / "),
        (std::vector<std::string> { "-n", "3", "10.0.0.1;", "rm", "-rf", "/" }));
    EXPECT_TRUE(ProcessSplitParameters("   ").empty());
    EXPECT_EQ(ProcessStart("", "x", false), 0);
}

#ifndef _WIN32
TEST(Process, StartsWithoutAShell)
{
    auto dir = std::filesystem::temp_directory_path() / ("process-test-" + std::to_string(std::random_device {}()));
    std::filesystem::create_directories(dir);
    // A shell would run the second command and expand $(...); here they are file names.
    std::string a = (dir / "a;touch").string(), b = (dir / "b").string(), c = (dir / "c$(id)").string();
    ASSERT_EQ(ProcessStart("touch", a + " " + b + "  " + c, true), 1);
    bool done = false;
    for (int i = 0; i < 500 && !done; ++i) {
        done = std::filesystem::exists(a) && std::filesystem::exists(b) && std::filesystem::exists(c);
        if (!done)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(ProcessStart("no-such-program-anywhere", "", false), 0);
    std::filesystem::remove_all(dir);
}
#endif
