// qorvexal-cli filter on configuration files of the shipped descriptions: rules added, shown, deleted,
// packed and corrected, and every refusal leaving the file as it was.
#include "cli/qorvexal/cli_fixture.h"

#include <gtest/gtest.h>

namespace {

using namespace qv_cli_test;

struct FilterCli : LcfTest {
    void SetUp() override
    {
        MakeFile("filter_cli", "");
    }
};

TEST_F(FilterCli, AddShowDeleteAndRefusals)
{
    std::string out, err;
    ASSERT_EQ(Cli("filter add --proto 17,6,6 --sport 25,20-21,22 --src host:printer --src ip:10.0.0.1 "
                  "--dst net:192.168.1.0/255.255.255.0 web "
                      + lcf,
                  &out, &err),
        0)
        << err;
    ASSERT_EQ(Cli("filter add --action transfer --dport 53 --dst mac:a1b2 dns " + lcf), 0);
    EXPECT_EQ(Cli("filter show " + lcf, &out), 0);
    EXPECT_EQ(out,
        "web\tDrop\t6,17\t20-22,25\tall\tStation printer; IP address 10.0.0.1\tIP network 192.168.1.0 / 255.255.255.0\n"
        "dns\tTransfer\tall\tall\t53\tall\tPhysical address 00000000A1B2\n");

    // Refusals exit 1 and change nothing.
    std::string before = Read(lcf);
    EXPECT_EQ(Cli("filter add WEB " + lcf, &out, &err), 1);
    EXPECT_NE(err.find("A rule with this name already exists."), std::string::npos) << err;
    EXPECT_EQ(Cli("filter add --proto 6x r " + lcf), 2);
    EXPECT_EQ(Cli("filter add --src ip:1.2.3 r " + lcf), 2);
    EXPECT_EQ(Cli("filter add toolongname1 " + lcf), 2);
    EXPECT_EQ(Cli("filter delete nothing " + lcf), 1);
    EXPECT_EQ(Read(lcf), before);

    // --out writes elsewhere; the input stays.
    ASSERT_EQ(Cli("filter delete --out " + dir + "/b.lcf web " + lcf), 0);
    EXPECT_EQ(Read(lcf), before);
    EXPECT_EQ(Cli("filter show " + dir + "/b.lcf", &out), 0);
    EXPECT_EQ(out, "dns\tTransfer\tall\tall\t53\tall\tPhysical address 00000000A1B2\n");
    // The header is kept.
    EXPECT_EQ(Read(dir + "/b.lcf").substr(0, 40), before.substr(0, 40));
}

TEST_F(FilterCli, UnreadableRulesArePreservedUntilDropped)
{
    ASSERT_EQ(Cli("filter add --proto 6 good " + lcf), 0);
    ASSERT_EQ(Cli("filter add --proto 17 bad " + lcf), 0);
    // Spoil the second rule's protocol cell (its object reference) in the file.
    std::string text = Read(lcf);
    size_t at = text.find("RuleTable-02 = UDP");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 18, "RuleTable-02 = %P6 %X");
    ASSERT_TRUE(FileWriteAtomic(lcf, text));

    std::string out, err;
    EXPECT_EQ(Cli("filter show " + lcf, &out), 0);
    EXPECT_EQ(out, "good\tDrop\t6\tall\tall\tall\tall\nbad\tunreadable\tprotocol\t5\t%P6 %X\n");
    EXPECT_EQ(Cli("filter pack " + lcf, &out, &err), 1);
    EXPECT_NE(err.find("bad"), std::string::npos) << err;
    EXPECT_EQ(Read(lcf), text);
    EXPECT_EQ(Cli("filter correct bad \"%P6 %Y\" " + lcf, &out), 1); // still fails
    EXPECT_EQ(out, "bad\tunreadable\tprotocol\t5\t%P6 %Y\n");
    EXPECT_EQ(Cli("filter correct good 6 " + lcf), 1); // nothing to correct
    EXPECT_EQ(Read(lcf), text);

    ASSERT_EQ(Cli("filter correct --out " + dir + "/c.lcf bad \"%P6,47\" " + lcf, &out), 0);
    EXPECT_EQ(out, "bad\tDrop\t6,47\tall\tall\tall\tall\n");
    ASSERT_EQ(Cli("filter pack " + dir + "/c.lcf", &out), 0);
    EXPECT_EQ(out,
        "RuleTable\tgood | TCP | ANYHOST | ANYHOST | 256 | 0\n"
        "RuleTable\tbad | bad0 | ANYHOST | ANYHOST | 256 | 0\n"
        "ObjectTable\tTCP | %P6\n"
        "ObjectTable\tANYHOST | %A0.0.0.0 %M0.0.0.0\n"
        "ObjectTable\tbad0 | %P6,47\n");

    // Dropping is explicit; deleting the unreadable rule itself needs no confirmation.
    ASSERT_EQ(Cli("filter pack --drop-unreadable --out " + dir + "/d.lcf " + lcf), 0);
    EXPECT_EQ(Cli("filter show " + dir + "/d.lcf", &out), 0);
    EXPECT_EQ(out, "good\tDrop\t6\tall\tall\tall\tall\n");
    ASSERT_EQ(Cli("filter delete bad " + lcf), 0);
    EXPECT_EQ(Cli("filter show " + lcf, &out), 0);
    EXPECT_EQ(out, "good\tDrop\t6\tall\tall\tall\tall\n");
}

} // namespace
