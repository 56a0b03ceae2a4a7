// The accounting and VPN rows: list texts, images, sorting, and the accounting file.
#include "common/locale.h"
#include "common/strings.h"
#include "monitor/snmp/snmp_jobs.h"
#include "monitor/views/table_rows.h"

#include <gtest/gtest.h>

namespace {

class English : public ::testing::Test {
protected:
    void SetUp() override
    {
        StrSetLanguage(1033);
        InstallLocale(&EnglishLocale());
    }
    void TearDown() override
    {
        InstallLocale(nullptr);
    }
};

using AccountingTexts = English;
using VpnTexts = English;
using AccountingFile = English;
using Sorting = English;

AccountingRow Row(std::string id, std::string user, std::string site, int32_t type, uint32_t rx, uint32_t tx,
    uint32_t online, uint32_t connections)
{
    return AccountingRow { std::move(id), std::move(user), std::move(site), type, rx, tx, online, connections };
}

std::vector<SnmpWalkColumn> Columns(std::initializer_list<std::string> texts)
{
    std::vector<SnmpWalkColumn> c;
    for (const auto& t : texts) {
        c.emplace_back();
        c.back().text = t;
    }
    return c;
}

TEST_F(AccountingTexts, UserTypeSizesDurationAndImage)
{
    AccountingRow r = Row("0000001A2B3C", "LANUSER-maria", "", 6, 1048576, 1048575, 90, 12);
    EXPECT_EQ(AccountingRowTexts(r),
        (std::vector<std::string> {
            "maria", "", "a/b port", "12", "1,024 MB", "1,048,575 KB", "One minute and 30 seconds" }));
    EXPECT_EQ(AccountingRowImage(r), 2);

    struct {
        std::string identifier, user, shown;
        int image;
    } users[] = {
        { "0A1B2C3D4E5F", "", "0A1B2C3D4E5F", 14 }, // no user: the identifier
        { "00000", "office-b", "office-b", 14 }, // five zeros are not the mark
        { "000000", "LANUSER-", "", 2 }, { "x", "lanuser-bob", "lanuser-bob", 14 }, // the prefix is matched exactly
        { "x", "LANUSER-LANUSER-a", "LANUSER-a", 14 }, // only once
    };
    for (const auto& u : users) {
        AccountingRow row = Row(u.identifier, u.user, "", 1, 0, 0, 0, 0);
        EXPECT_EQ(AccountingUserText(row), u.shown) << u.user;
        EXPECT_EQ(AccountingRowImage(row), u.image) << u.identifier;
    }

    struct {
        uint32_t kb;
        const char* text;
    } sizes[] = {
        { 0, "0 KB" },
        { 1023, "1,023 KB" },
        { 1048575, "1,048,575 KB" },
        { 1048576, "1,024 MB" },
        { 1048577, "1,025 MB" }, // rounded up
        { (1u << 30) - 1, "1,048,576 MB" },
        { 1u << 30, "1,024 GB" }, // 2^30 KB divided by 2^20
        { (1u << 30) + 1, "1,025 GB" },
        { 4294967295u, "4,096 GB" },
    };
    for (const auto& s : sizes)
        EXPECT_EQ(AccountingSizeText(s.kb), s.text) << s.kb;

    const char* types[] = { "Unknown", "Dial-up (ISDN)", "Leased line (ISDN)", "Unknown", "Dial-up (DSL)", "SOLVANE",
        "a/b port", "VPN connection", "PPTP connection", "Unknown" };
    for (int32_t t = 0; t <= 9; ++t)
        EXPECT_EQ(AccountingTypeText(t), types[t]) << t;
    EXPECT_EQ(AccountingTypeText(-1), "Unknown");
}

TEST_F(AccountingTexts, DigitGroupingAndLanguageOfTheUser)
{
    LocalePatterns german;
    german.thousand = ".";
    german.decimal = ",";
    PatternLocale locale(german);
    InstallLocale(&locale);
    StrSetLanguage(1031);
    EXPECT_EQ(AccountingSizeText(1048576), "1.024 MB");
    EXPECT_EQ(AccountingTypeText(9), "Unbekannt");
    EXPECT_EQ(AccountingColumnTitles().front(), "Benutzer");
    StrSetLanguage(1036);
    EXPECT_EQ(AccountingSizeText(2048), "2.048 Ko");
    EXPECT_EQ(AccountingColumnTitles().size(), kAccountingListColumns);
    EXPECT_EQ(VpnColumnTitles().size(), kVpnListColumns);
}

TEST_F(AccountingTexts, WalkColumnsAreCutToTheirWidths)
{
    std::string longText(300, 'x');
    auto c = Columns({ "0000001A2B3C4D5E6F", longText, longText, "7", "4294967295", "12junk", "59", "3" });
    AccountingRow r = AccountingRowFromWalk(c.data());
    EXPECT_EQ(r.identifier, "0000001A2B3C4D5");
    EXPECT_EQ(r.user.size(), kAccTextMax);
    EXPECT_EQ(r.remoteSite.size(), kAccTextMax);
    EXPECT_EQ(r.type, 7);
    EXPECT_EQ(r.received, 4294967295u);
    EXPECT_EQ(r.transmitted, 12u);
    EXPECT_EQ(AccountingRowTexts(r)[0].size(), kAccTextMax);

    // Walk numbers are decimal; the VPN short hold alone takes base prefixes.
    auto v = Columns({ std::string(80, 'n'), "198.51.100.1", "198.51.100.254", "AES", "256", "SHA1", "160", "HMAC-SHA1",
        "0x10", "7", "0", "0x10" });
    VpnRow row = VpnRowFromWalk(v.data());
    EXPECT_EQ(row.name.size(), kVpnNameMax);
    EXPECT_EQ(row.hmacBits, 0u);
    EXPECT_EQ(row.shortHold, 16u);
}

TEST_F(VpnTexts, StatesImagesAndAlgorithms)
{
    VpnRow r;
    r.name = "HQ";
    r.connection = "198.51.100.1";
    r.gateway = "198.51.100.254";
    r.encryption = "AES";
    r.encryptionBits = 256;
    r.hash = "SHA1";
    r.hashBits = 160;
    r.hmac = "HMAC-SHA1";
    r.hmacBits = 160;
    r.state = 7;
    r.secondState = 0;
    r.shortHold = 120;
    EXPECT_EQ(VpnRowTexts(r),
        (std::vector<std::string> { "HQ", "Connected", "120 seconds", "198.51.100.1", "198.51.100.254", "AES (256 bit)",
            "HMAC-SHA1 (160 bit)", "SHA1 (160 bit)" }));

    struct {
        uint32_t state, second;
        int image;
        const char* text;
    } states[] = {
        { 7, 0, 28, "Connected" },
        { 7, 1, 27, "Connected" },
        { 4, 1, 25, "Outgoing call" },
        { 4, 0, 26, "Outgoing call" },
        { 5, 2, 25, "Incoming call" },
        { 6, 1, 25, "Protocol negotiation" },
        { 8, 1, 25, "Disconnecting" },
        { 3, 1, 25, "" },
        { 9, 1, 25, "" },
    };
    for (const auto& s : states) {
        r.state = s.state;
        r.secondState = s.second;
        EXPECT_EQ(VpnRowImage(r), s.image) << s.state << "/" << s.second;
        EXPECT_EQ(VpnRowTexts(r)[1], s.text) << s.state;
    }
}

TEST(ViewsFill, FaultyTranslationsReadNoMissingArguments)
{
    EXPECT_EQ(ViewsFill("%s (%d bit)", { "AES", "256" }), "AES (256 bit)");
    EXPECT_EQ(ViewsFill("%s %s %d %x 100%%", { "a" }), "a %s %d %x 100%");
    EXPECT_EQ(ViewsFill("trailing %", { "a" }), "trailing %");
}

TEST_F(Sorting, NumbersByValueTextsExactly)
{
    std::vector<AccountingRow> rows {
        Row("1", "b", "Zeta", 7, 1048576, 5, 3600, 10),
        Row("2", "LANUSER-a", "alpha", 1, 900, 5, 59, 9),
        Row("3", "", "Beta", 4, 1u << 30, 7, 86400, 100),
    };
    auto order = [&](size_t column) {
        std::vector<AccountingRow> copy = rows;
        EXPECT_TRUE(AccountingSort(copy, column));
        std::string ids;
        for (const auto& r : copy)
            ids += r.identifier;
        return ids;
    };
    EXPECT_EQ(order(0), "321"); // "3" (the identifier), "a", "b"
    EXPECT_EQ(order(1), "312"); // exact comparison: upper case first
    EXPECT_EQ(order(2), "321"); // "Dial-up (DSL)", "Dial-up (ISDN)", "VPN connection"
    EXPECT_EQ(order(3), "213"); // 9, 10, 100: not "10" < "100" < "9"
    EXPECT_EQ(order(4), "213"); // 900 KB, 1,024 MB, 1,024 GB
    EXPECT_EQ(order(5), "123"); // equal values keep their order
    EXPECT_EQ(order(6), "213");
    EXPECT_FALSE(AccountingSort(rows, kAccountingListColumns));

    std::vector<VpnRow> vpn(3);
    vpn[0].name = "c";
    vpn[0].state = 10;
    vpn[0].shortHold = 9;
    vpn[1].name = "a";
    vpn[1].state = 7;
    vpn[1].shortHold = 120;
    vpn[2].name = "b";
    vpn[2].state = 8;
    vpn[2].shortHold = 10;
    auto names = [&](size_t column) {
        std::vector<VpnRow> copy = vpn;
        EXPECT_TRUE(VpnSort(copy, column));
        std::string out;
        for (const auto& r : copy)
            out += r.name;
        return out;
    };
    EXPECT_EQ(names(0), "abc");
    EXPECT_EQ(names(1), "abc"); // 7, 8, 10 by number
    EXPECT_EQ(names(2), "cba"); // 9, 10, 120 seconds
    EXPECT_FALSE(VpnSort(vpn, kVpnListColumns));
}

TEST_F(AccountingFile, SavedRowsReadBackTheSame)
{
    std::vector<AccountingRow> rows {
        Row("0000001A2B3C", "LANUSER-maria", "", 6, 1048576, 2048, 3600, 12), // no remote site
        Row("0A1B2C3D4E5F", "", "", 7, 4294967295u, 0, 0, 0), // no user either
        Row("", "a", "Branch", -1, 1, 2, 3, 4),
    };
    std::string text = AccountingFileText(rows, { 3, 0, 12 });
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "TravikAccountingFile;3.00.0012\r\n");
    EXPECT_NE(text.find("\r\n0000001A2B3C;LANUSER-maria;;6;1048576;2048;3600;12\r\n"), std::string::npos);
    std::vector<AccountingRow> back;
    ASSERT_TRUE(AccountingFileParse(text, &back));
    EXPECT_EQ(back, rows);

    // A NUL inside a text stays in the line (it does not end the text).
    std::vector<AccountingRow> nul { Row(std::string("a\0b", 3), "u", "s", 1, 1, 1, 1, 1) };
    ASSERT_TRUE(AccountingFileParse(AccountingFileText(nul, {}), &back));
    EXPECT_EQ(back, nul);

    // ";" and line breaks in a text would split the line: they are written as blanks.
    std::vector<AccountingRow> odd { Row("id;1", "a;b\r\nc", "x\ny", 2, 1, 1, 1, 1) };
    ASSERT_TRUE(AccountingFileParse(AccountingFileText(odd, {}), &back));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].identifier, "id 1");
    EXPECT_EQ(back[0].user, "a b  c");
    EXPECT_EQ(back[0].remoteSite, "x y");
}

TEST_F(AccountingFile, ReadingRules)
{
    std::vector<AccountingRow> rows;
    struct {
        const char* name;
        std::string text;
        bool ok;
        size_t count;
    } cases[] = {
        { "wrong tag", "TravikAccountingFileX;1.00.0000\r\nid;u;s;1;2;3;4;5\r\n", false, 0 },
        { "tag in other case", "travikaccountingfile;1\nid;u;s;1;2;3;4;5\n", false, 0 },
        { "empty file", "", false, 0 },
        { "version not checked", "TravikAccountingFile;garbage\nid;u;s;1;2;3;4;5\n", true, 1 },
        { "tag alone", "TravikAccountingFile\nid;u;s;1;2;3;4;5", true, 1 },
        { "seven fields skipped", "TravikAccountingFile;1\nid;u;s;1;2;3;4\nid;u;s;1;2;3;4;5\n", true, 1 },
        { "empty and blank lines", "TravikAccountingFile;1\r\n\r\n \r\nid;u;s;1;2;3;4;5\r\n", true, 1 },
        { "ninth field ignored", "TravikAccountingFile;1\nid;u;s;1;2;3;4;5;6\n", true, 1 },
        { "CR line ends only read as one line", "TravikAccountingFile;1\rid;u;s;1;2;3;4;5\r", true, 0 },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AccountingFileParse(c.text, &rows), c.ok) << c.name;
        EXPECT_EQ(rows.size(), c.count) << c.name;
    }

    ASSERT_TRUE(AccountingFileParse("TravikAccountingFile;1\nid;u;s;0x10;010;0X1f;-1; 7\n", &rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].type, 16);
    EXPECT_EQ(rows[0].received, 8u); // octal
    EXPECT_EQ(rows[0].transmitted, 31u);
    EXPECT_EQ(rows[0].onlineTime, 4294967295u); // wraps as strtoul does
    EXPECT_EQ(rows[0].connections, 7u);

    // Long texts are cut to their widths; a line longer than 1023 characters is cut there, so its
    // numbers past that point are lost with it.
    std::string id(40, 'i'), user(600, 'u'), site(300, 's');
    ASSERT_TRUE(AccountingFileParse("TravikAccountingFile;1\n" + id + ";" + user + ";" + site + ";1;2;3;4;5\n", &rows));
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].identifier.size(), kAccIdentifierMax);
    EXPECT_EQ(rows[0].user.size(), kAccTextMax);
    std::string longSite(1023 - 40 - 255 - 2, 's');
    ASSERT_TRUE(AccountingFileParse(
        "TravikAccountingFile;1\n" + id + ";" + user.substr(0, 255) + ";" + longSite + ";1;2;3;4;5\n", &rows));
    EXPECT_EQ(rows.size(), 0u) << "the numbers lay past character 1023";
}

} // namespace
