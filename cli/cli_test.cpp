#include "cli/cli.h"

#include <gtest/gtest.h>

// The search options of search, update and find: defaults, values, and each refusal with exit code 2's
// message (nothing is searched after one).
TEST(CliSearchOptions, ReadsTheSharedOptionsAndRefusesWhatCannotBeSearched)
{
    std::vector<std::string> args { "--net", "10.1.0.0/16", "-t", "7", "--own", "--net=192.168.1.0/255.255.255.0" };
    CliArgs a(args);
    CliSearchOptions s(a, 3, 69);
    EXPECT_EQ(args, (std::vector<std::string> { "--own" })) << "the command's own options stay";
    ASSERT_TRUE(s.Check());
    EXPECT_FALSE(s.noLocal);
    EXPECT_EQ(s.timeout, 7u);
    EXPECT_EQ(s.port, 69u);
    EXPECT_EQ(s.remote,
        (std::vector<std::pair<uint32_t, uint32_t>> { { 0x0A010000, 0xFFFF0000 }, { 0xC0A80100, 0xFFFFFF00 } }));

    std::vector<std::string> none;
    CliArgs noArgs(none);
    CliSearchOptions defaults(noArgs, 3, 69);
    ASSERT_TRUE(defaults.Check());
    EXPECT_FALSE(defaults.timeoutText);
    EXPECT_EQ(defaults.timeout, 3u);
    EXPECT_TRUE(defaults.remote.empty());

    struct {
        std::vector<std::string> args;
        bool other; // another source is searched (search --serial)
        const char* message; // null: accepted
    } rows[] = {
        { { "-t", "3601" }, false, "invalid time-out: 3601" },
        { { "--port", "65536" }, false, "invalid port: 65536" },
        { { "--port", "x" }, false, "invalid port: x" },
        { { "--net", "10.0.0.0" }, false, "not a network (ADDRESS/NETMASK or ADDRESS/BITS): 10.0.0.0" },
        { { "--net", "10.0.0.0/33" }, false, "not a network (ADDRESS/NETMASK or ADDRESS/BITS): 10.0.0.0/33" },
        { { "--no-local" }, false, "nothing to search: --no-local without --net or --serial" },
        { { "--no-local" }, true, nullptr },
        { { "--no-local", "--net", "10.0.0.0/8" }, false, nullptr },
    };
    for (auto& r : rows) {
        std::string words;
        for (const std::string& w : r.args)
            words += w + " ";
        CliArgs ra(r.args);
        CliSearchOptions o(ra, 3, 69);
        testing::internal::CaptureStderr();
        bool ok = o.Check(r.other, "--serial");
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ok, r.message == nullptr) << words;
        if (r.message)
            EXPECT_NE(err.find(std::string(": ") + r.message + "\n"), std::string::npos) << words << err;
        else
            EXPECT_EQ(err, "") << words;
    }
}
