// qorvexal-cli print on configuration files of the shipped descriptions: pages of the given width and
// length separated by form feeds, each with its footer; secrets hidden unless asked for; a table that
// continues on the next page repeats its column headers; a file that does not open. qorvexal-cli header
// on the same files: the comment line as written.
#include "cli/qorvexal/cli_fixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace qv_cli_test;

std::vector<std::vector<std::string>> Pages(const std::string& text)
{
    std::vector<std::vector<std::string>> pages(1);
    std::string line;
    for (char c : text) {
        if (c == '\f') {
            pages.emplace_back();
        } else if (c == '\n') {
            pages.back().push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return pages;
}

struct PrintCli : LcfTest {
    void SetUp() override
    {
        std::string text = "[Morvak 1100]\r\n/sys/name = frontdesk\r\n/sys/password = s3cret\r\n"
                           "/sys/location = "
            + std::string(40, 'L') + " second floor, room " + std::string(30, 'R') + "\r\n";
        for (int r = 0; r < 16; ++r)
            text += "/ip/routes-01 = 10." + std::to_string(r)
                + ".0.0\r\n/ip/routes-02 = 255.255.0.0\r\n"
                  "/ip/routes-03 = 192.168.0.1\r\n/ip/routes-04 = "
                + std::to_string(r % 16) + "\r\n";
        MakeFile("print_cli", text);
    }
};

TEST_F(PrintCli, PagesOfTheWidthWithFootersAndRepeatedTableHeaders)
{
    for (int width : { 80, 44 }) {
        std::string out, err;
        ASSERT_EQ(Cli("print --width " + std::to_string(width) + " " + lcf, &out, &err), 0) << err;
        std::vector<std::vector<std::string>> pages = Pages(out);
        ASSERT_GE(pages.size(), 2u);
        bool headersRepeated = false;
        for (size_t n = 0; n < pages.size(); ++n) {
            ASSERT_EQ(pages[n].size(), 66u) << "page " << n + 1;
            for (const std::string& line : pages[n])
                EXPECT_LE(line.size(), static_cast<size_t>(width)) << line;
            EXPECT_NE(pages[n].back().find("Page " + std::to_string(n + 1) + " of " + std::to_string(pages.size())),
                std::string::npos);
            if (n > 0 && pages[n][0].rfind("Network", 0) == 0 && pages[n][1].rfind("----", 0) == 0
                && pages[n][2].rfind("10.", 0) == 0)
                headersRepeated = true;
        }
        // At 44 columns the addresses wrap and the table goes on on the next page.
        EXPECT_EQ(headersRepeated, width == 44) << out;
        EXPECT_EQ(pages[0][0].substr(0, 12), "Device name:");
        EXPECT_NE(pages[0][0].find("frontdesk"), std::string::npos);
        EXPECT_NE(pages[0][1].find("Morvak 1100"), std::string::npos);
        EXPECT_NE(pages[0][3].find(lcf.substr(lcf.size() - 5)), std::string::npos);
        // The long location wrapped, not cut.
        std::string joined;
        for (char c : out)
            if (c != ' ' && c != '\n')
                joined += c;
        EXPECT_NE(joined.find(std::string(40, 'L') + "secondfloor,room" + std::string(30, 'R')), std::string::npos)
            << out;
        EXPECT_EQ(out.find("s3cret"), std::string::npos);
    }
}

TEST_F(PrintCli, PasswordsShownOnRequestAndErrors)
{
    std::string out, err;
    ASSERT_EQ(Cli("print --show-passwords " + lcf, &out), 0);
    EXPECT_NE(out.find("s3cret"), std::string::npos);
    ASSERT_EQ(Cli("print " + lcf, &out), 0);
    EXPECT_EQ(out.find("s3cret"), std::string::npos);

    EXPECT_EQ(Cli("print " + dir + "/missing.lcf", &out, &err), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("Can't open file."), std::string::npos) << err;
    EXPECT_EQ(Cli("print --width 5 " + lcf, &out, &err), 2);
    EXPECT_EQ(Cli("print --width wide " + lcf, &out, &err), 2);
}

// The IP filter prints as the user reads its rules (names, action words, protocol names, stations
// and ports), never as the cells of its two tables in the definition language.
TEST_F(PrintCli, FilterRulesPrintAsTheUserReadsThem)
{
    ASSERT_EQ(Cli("filter add --proto 6 --dport 23 --src local telnet " + lcf), 0);
    ASSERT_EQ(
        Cli("filter add --action transfer --proto 6,17 --dport 80,443 --dst net:10.0.0.0/255.0.0.0 web " + lcf), 0);
    std::string out, err;
    ASSERT_EQ(Cli("print --width 100 " + lcf, &out, &err), 0) << err;
    for (const char* raw : { "RuleTable", "ObjectTable", "ANYHOST", "%S", "%P", "%L", "%A", " 256" })
        EXPECT_EQ(out.find(raw), std::string::npos) << raw << " in\n" << out;
    std::vector<std::string> lines;
    for (const std::vector<std::string>& page : Pages(out))
        for (const std::string& line : page) {
            std::string squeezed;
            for (size_t n = 0; n < line.size(); ++n)
                if (line[n] != ' ' || (n > 0 && line[n - 1] != ' ' && n + 1 < line.size() && line[n + 1] != ' '))
                    squeezed += line[n];
            lines.push_back(squeezed);
        }
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("Filter rules")) << out;
    for (const char* line : { "Name:telnet", "Action:Drop", "Source:All stations in local network",
             "Destination:All stations", "Protocols:TCP", "Target ports:23", "Name:web", "Action:Transfer",
             "Destination:IP network 10.0.0.0 / 255.0.0.0", "Protocols:TCP, UDP", "Target ports:80,443" })
        EXPECT_TRUE(has(line)) << line << " not in\n" << out;
}

// Numbers print as their descriptions' value rules say: a lease time in whole minutes has no decimals.
TEST_F(PrintCli, WholeNumbersPrintWithoutDecimals)
{
    std::string out, err;
    ASSERT_EQ(Cli("print --width 100 " + lcf, &out, &err), 0) << err;
    size_t at = out.find("Lease time");
    ASSERT_NE(at, std::string::npos) << out;
    std::string line = out.substr(at, out.find('\n', at) - at);
    EXPECT_NE(line.find(" 1,440 min"), std::string::npos) << line;
    EXPECT_EQ(line.find(".00"), std::string::npos) << line;
}

// The comment given on export comes back as written, blanks and quotes included; a text without the
// header lines is no configuration file.
TEST_F(PrintCli, HeaderShowsTheCommentAsWritten)
{
    std::string out, err;
    const std::string comment = "Configuration of 'frontdesk' from 08.12.2026";
    ASSERT_EQ(
        Cli("export --comment \"" + comment + "\" \"Morvak 1100\" 3.10 " + dir + "/text.txt " + dir + "/c.lcf"), 0);
    ASSERT_EQ(Cli("header " + dir + "/c.lcf", &out, &err), 0) << err;
    EXPECT_EQ(out.substr(0, out.find("feature mask")),
        "comment: " + comment + "\ndevice type: Morvak 1100\nfirmware version: 3.10\n");
    // A file that reads but has no header is named as what it is; one that does not read cannot be opened.
    EXPECT_EQ(Cli("header " + dir + "/text.txt", &out, &err), 1);
    EXPECT_NE(err.find(dir + "/text.txt: not a configuration file"), std::string::npos) << err;
    EXPECT_EQ(Cli("print " + dir + "/text.txt", &out, &err), 1);
    EXPECT_NE(err.find("not a configuration file"), std::string::npos) << err;
    EXPECT_EQ(Cli("header " + dir + "/missing.lcf", &out, &err), 1);
    EXPECT_NE(err.find("Can't open file."), std::string::npos) << err;
}

// The description index's progress lines are for a terminal or for -v; a log of a scripted run keeps
// only what went wrong.
TEST_F(PrintCli, IndexProgressOnlyWhenAskedOrOnATerminal)
{
    std::string out, err;
    ASSERT_EQ(Cli("print " + lcf, &out, &err), 0) << err;
    EXPECT_EQ(err.find("building index"), std::string::npos) << err;
    EXPECT_EQ(err.find("index finished"), std::string::npos) << err;
    ASSERT_EQ(Cli("-v print " + lcf, &out, &err), 0) << err;
    EXPECT_NE(err.find("building index ....\n"), std::string::npos) << err;
    EXPECT_NE(err.find("index finished, time: "), std::string::npos) << err;
}

} // namespace
