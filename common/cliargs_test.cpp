#include "common/cliargs.h"

#include <gtest/gtest.h>

TEST(CliArgs, TakesFlagsAndValuesAnywhereBeforeTheEndMark)
{
    std::vector<std::string> args { "-t", "5", "HOST", "--dir=/x", "--easy", "A", "--", "-t", "7" };
    CliArgs cli(args);
    EXPECT_TRUE(cli.Flag("--easy"));
    EXPECT_FALSE(cli.Flag("--easy"));
    EXPECT_EQ(cli.Value("-t"), "5");
    EXPECT_EQ(cli.Value("--dir"), "/x");
    EXPECT_FALSE(cli.Value("--lang"));
    EXPECT_FALSE(cli.UnknownOption());
    EXPECT_EQ(args, (std::vector<std::string> { "HOST", "A", "--", "-t", "7" }));
}

TEST(CliArgs, RepeatedValuesKeepTheirOrderAndStrayOptionsAreReported)
{
    std::vector<std::string> args { "--net", "10.0.0.0/8", "--bogus", "--net", "127.0.0.0/8" };
    CliArgs cli(args);
    EXPECT_EQ(cli.Values("--net"), (std::vector<std::string> { "10.0.0.0/8", "127.0.0.0/8" }));
    EXPECT_EQ(cli.UnknownOption(), "unknown option --bogus");
}
