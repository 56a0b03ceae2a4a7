#include "filterplugin/filter_test_util.h"

#include <gtest/gtest.h>

namespace {

std::string StrJoinCopies(const std::string& text, int n)
{
    std::string out = text;
    for (int i = 1; i < n; ++i)
        out += " " + text;
    return out;
}

using Rows = std::vector<std::vector<std::string>>;

FilterStation Range(uint32_t first, uint32_t last)
{
    FilterStation s;
    s.kind = FilterStationRange;
    s.first = first;
    s.last = last;
    return s;
}
FilterStation Net(uint32_t address, uint32_t mask)
{
    FilterStation s;
    s.kind = FilterStationNetwork;
    s.first = address;
    s.last = mask;
    return s;
}
FilterStation Host(const std::string& name)
{
    FilterStation s;
    s.kind = FilterStationName;
    s.name = name;
    return s;
}

// Reads the only rule of the tables; fails the test when it is unreadable.
FilterRule ReadOne(FilterTables& t)
{
    FilterRule rule;
    FilterReadError error;
    EXPECT_EQ(FilterReadRow(t.host, 0, &rule, &error), 1) << error.text << " @" << error.position;
    return rule;
}

TEST(FilterRead, ElementsOfTheDefinitionLanguage)
{
    FilterTables t;
    t.Object("web", "%P6 %S80,443");
    t.Object("lan", "%A192.168.1.0 %M255.255.255.0 %Hprinter,scanner");
    t.Rule("r1", "17,6,6", "%S25,20-21,22+%L %e1a2b %A10.1.-10.1.0.9", "lan web %A1.2.3.4 %M255.255.255.255", "0", "7");
    FilterRule r = ReadOne(t);
    EXPECT_EQ(r.name, "r1");
    EXPECT_EQ(r.action, FilterActionDrop); // a stored 0 reads as Drop
    EXPECT_EQ(r.option, 7u);
    EXPECT_EQ(r.protocols, "6,17"); // sorted, duplicates removed
    EXPECT_EQ(r.source_ports, "20-22,25");
    EXPECT_EQ(r.dest_ports, "80,443");
    ASSERT_EQ(r.sources.size(), 3u);
    EXPECT_EQ(r.sources[0].kind, FilterStationLocal);
    EXPECT_EQ(r.sources[1].kind, FilterStationMac); // fewer digits fill from the right
    const uint8_t mac[6] = { 0, 0, 0, 0, 0x1A, 0x2B };
    EXPECT_EQ(std::memcmp(r.sources[1].mac, mac, 6), 0);
    EXPECT_EQ(r.sources[2], Range(0x0A010000, 0x0A010009)); // trailing dot ignored, missing bytes 0
    // Names, single addresses (a /32 network is one address), then networks.
    ASSERT_EQ(r.dests.size(), 4u);
    EXPECT_EQ(r.dests[0], Host("printer"));
    EXPECT_EQ(r.dests[1], Host("scanner"));
    EXPECT_EQ(r.dests[2], Range(0x01020304, 0x01020304));
    EXPECT_EQ(r.dests[3], Net(0xC0A80100, 0xFFFFFF00));
}

TEST(FilterRead, FirstErrorWithItsPlace)
{
    const struct {
        const char* protocol;
        const char* source;
        const char* dest;
        int32_t where;
        const char* object;
        const char* text;
        size_t position;
    } rows[] = {
        { "%Q1", "", "", FilterInProtocol, "", "%Q1", 1 }, // unknown letter
        { "%S80", "", "", FilterInProtocol, "", "%S80", 0 }, // not allowed in a protocol cell
        { "6", "TCP", "", FilterInSource, "", "TCP", 0 }, // no such object
        { "6x", "", "", FilterInProtocol, "", "6x", 1 }, // text that cannot be read
        { "256", "", "", FilterInProtocol, "", "256", 2 }, // not a protocol number
        { "", "%A1.2.3.300", "", FilterInSource, "", "%A1.2.3.300", 10 },
        { "", "%A1..2", "", FilterInSource, "", "%A1..2", 4 },
        { "", "%A1.2.3.4.5", "", FilterInSource, "", "%A1.2.3.4.5", 9 },
        { "", "", "%M255.0.0.0", FilterInDestination, "", "%M255.0.0.0", 0 }, // %M needs a single %A before
        { "", "", "%A1.0.0.0-1.0.0.9 %M255.0.0.0", FilterInDestination, "", "%A1.0.0.0-1.0.0.9 %M255.0.0.0", 18 },
        { "", "%E1234567890123", "", FilterInSource, "", "%E1234567890123", 14 },
        { "", "%S70000", "", FilterInSource, "", "%S70000", 6 },
        { "", "deep", "", FilterInObject, "deep", "deep", 0 }, // nests past 16 levels
        { "", "bad", "", FilterInObject, "inner", "%P6 %X", 5 }, // inside a nested object
        { "", "f0", "", FilterInObject, "f6", "%L %L %L %L", 9 }, // fans out past 4096 elements
    };
    for (const auto& row : rows) {
        FilterTables t;
        t.Object("deep", "deep");
        t.Object("bad", "inner");
        t.Object("inner", "%P6 %X");
        for (int i = 0; i < 6; ++i)
            t.Object("f" + std::to_string(i), StrJoinCopies("f" + std::to_string(i + 1), 4));
        t.Object("f6", "%L %L %L %L");
        t.Rule("r", row.protocol, row.source, row.dest);
        FilterRule rule;
        FilterReadError error;
        ASSERT_EQ(FilterReadRow(t.host, 0, &rule, &error), 0) << row.protocol << row.source << row.dest;
        EXPECT_EQ(error.where, row.where) << row.text;
        EXPECT_EQ(error.object, row.object) << row.text;
        EXPECT_EQ(error.text, row.text);
        EXPECT_EQ(error.position, row.position) << row.text;
    }
}

TEST(FilterRead, ReferencesAndWholeCells)
{
    FilterTables t;
    // The host's find ignores case and returns "Web" first; the reference means "web" exactly.
    t.Object("Web", "%P17");
    t.Object("web", "%P6");
    // 15 levels of references below the cell still read.
    for (int i = 0; i < 15; ++i)
        t.Object("n" + std::to_string(i), "n" + std::to_string(i + 1));
    t.Object("n15", "%P1");
    // A cell longer than any buffer guess is read whole, not cut.
    std::string longCell(300, ' ');
    longCell += "%L";
    t.Rule("r", "web n0", longCell, "");
    FilterRule r = ReadOne(t);
    EXPECT_EQ(r.protocols, "1,6");
    ASSERT_EQ(r.sources.size(), 1u);

    // A list that overflows its 62 characters is an error of the cell.
    FilterTables u;
    std::string ports = "%S";
    for (int p = 1000; p < 1013; ++p)
        ports += std::to_string(p) + ","; // 13 entries of 5 characters: 64 with the commas
    ports.pop_back();
    u.Rule("r", "", ports, "");
    FilterRule rule;
    FilterReadError error;
    EXPECT_EQ(FilterReadRow(u.host, 0, &rule, &error), 0);
    EXPECT_EQ(error.where, FilterInSource);
}

TEST(FilterNormalize, ListsAndStations)
{
    FilterRule r;
    r.protocols = "17,0,6";
    r.source_ports = "30-20,5,6,8-9,100";
    r.dest_ports = "5,0";
    r.sources = { Net(0x0A000000, 0xFF000000), Range(5, 9), Host("b"), Range(7, 7), Net(0x0A000000, 0xFFFF0000),
        Host("a"), FilterStation {} };
    r.dests = { Range(1, 1), Net(0, 0) };
    FilterNormalize(&r);
    EXPECT_EQ(r.protocols, ""); // 0: all protocols
    EXPECT_EQ(r.source_ports, "5-6,8-9,30,100"); // a last below the first is raised to it
    EXPECT_EQ(r.dest_ports, ""); // port 0: all ports
    std::vector<FilterStation> expected = { FilterStation {}, Host("a"), Host("b"), Range(7, 7), Range(5, 9),
        Net(0x0A000000, 0xFFFF0000), Net(0x0A000000, 0xFF000000) };
    EXPECT_EQ(r.sources, expected);
    EXPECT_TRUE(r.dests.empty()); // the network 0.0.0.0 / 0.0.0.0: all stations

    // Stations that agree in address and in the mask's lowest bit (a mask with holes) or in a range's
    // start: any order of them normalises to one (a rule written and read back compares equal).
    std::vector<FilterStation> ties
        = { Net(0x0A000000, 0x19030900), Net(0x0A000000, 0xFF000100), Range(5, 9), Range(5, 7) };
    FilterRule forward, backward;
    forward.sources = ties;
    backward.sources.assign(ties.rbegin(), ties.rend());
    FilterNormalize(&forward);
    FilterNormalize(&backward);
    EXPECT_EQ(forward.sources, backward.sources);
}

TEST(FilterWrite, CellsFixedObjectsAndGrouping)
{
    FilterTables t;
    FilterRule r;
    r.name = "web";
    r.protocols = "17,6,6";
    r.source_ports = "1024-65535";
    r.dests = { Range(0x0A000001, 0x0A000001), Net(0x0A000100, 0xFFFFFF00) };
    r.dest_ports = "80,443";
    FilterRule any;
    any.name = "any";
    any.protocols = "0,6";
    any.action = FilterActionTransfer;
    any.option = 3;
    ASSERT_EQ(FilterWrite(t.host, { r, any }, 0, false, {}), 0);
    EXPECT_EQ(t.Rows("RuleTable"),
        (Rows { { "web", "TCP,UDP", "ANYHOST %S1024-65535", "%A10.0.1.0 %M255.255.255.0 web0", "256", "0" },
            { "any", "ANY", "ANYHOST", "ANYHOST", "1", "3" } }));
    EXPECT_EQ(t.Rows("ObjectTable"),
        (Rows { { "TCP", "%P6" }, { "UDP", "%P17" }, { "ANYHOST", "%A0.0.0.0 %M0.0.0.0" },
            { "web0", "%S80,443 %A10.0.0.1" }, { "ANY", "" } }));
    FilterList list = FilterRead(t.host);
    ASSERT_EQ(list.rules.size(), 2u);
    FilterNormalize(&r);
    EXPECT_EQ(list.rules[0], r);
}

TEST(FilterWrite, GeneratedObjectsAndTheirNames)
{
    FilterTables t;
    FilterRule r;
    r.name = "abcdefghij"; // 10 characters: the counter replaces its end
    r.protocols = "1,6,17"; // "ICMP,TCP,UDP" needs more than 8 characters
    for (uint32_t i = 1; i <= 12; ++i)
        r.sources.push_back(Range(0xC0A80000 + i, 0xC0A80000 + i));
    ASSERT_EQ(FilterWrite(t.host, { r }, 0, false, {}), 0);
    Rows rules = t.Rows("RuleTable");
    EXPECT_EQ(rules[0][1], "abcdefghi0");
    EXPECT_LE(rules[0][2].size(), FilterStationCellMax);
    EXPECT_NE(rules[0][2].find("abcdefghi1"), std::string::npos);
    for (const auto& object : t.Rows("ObjectTable")) {
        EXPECT_LE(object[0].size(), FilterObjectNameMax);
        EXPECT_LE(object[1].size(), FilterDefinitionMax);
    }
    EXPECT_EQ(t.Rows("ObjectTable")[0], (std::vector<std::string> { "abcdefghi0", "%P1,6,17" }));
    FilterNormalize(&r);
    EXPECT_EQ(ReadOne(t), r);

    // Rule names that would not read back as names give object names that do.
    for (const char* name : { "123", "a,b", "x y", "%P", "+" }) {
        FilterTables u;
        FilterRule odd;
        odd.name = name;
        odd.protocols = "50";
        ASSERT_EQ(FilterWrite(u.host, { odd }, 0, false, {}), 0);
        std::string object = u.Rows("ObjectTable")[0][0];
        EXPECT_TRUE(std::isalpha(static_cast<unsigned char>(object[0]))) << object;
        EXPECT_EQ(object.find_first_of(",+ %"), std::string::npos) << object;
        FilterNormalize(&odd);
        EXPECT_EQ(ReadOne(u), odd) << name;
    }
}

TEST(FilterWrite, RewritingDropsUnusedObjectsAndReferences)
{
    FilterTables t;
    t.Object("unused", "%P99");
    t.Object("pair", "%Ha %Hb");
    t.Rule("r", "TCP", "pair", "", "512", "0");
    t.Object("TCP", "%P6");
    FilterList list = FilterRead(t.host);
    ASSERT_EQ(list.rules.size(), 1u);
    ASSERT_EQ(FilterWrite(t.host, list.rules, list.unreadable.size(), false, {}), 0);
    EXPECT_EQ(t.Rows("RuleTable"), (Rows { { "r", "TCP", "%Ha %Hb", "ANYHOST", "512", "0" } }));
    EXPECT_EQ(t.Rows("ObjectTable"), (Rows { { "TCP", "%P6" }, { "ANYHOST", "%A0.0.0.0 %M0.0.0.0" } }));
}

TEST(FilterWrite, FailuresLoseNothing)
{
    // Unreadable rows: writing the whole filter is refused unless dropping them is confirmed.
    FilterTables t;
    t.Rule("good", "6", "", "");
    t.Rule("bad", "%X", "", "");
    FilterList list = FilterRead(t.host);
    ASSERT_EQ(list.unreadable.size(), 1u);
    EXPECT_EQ(list.unreadable[0].name, "bad");
    EXPECT_EQ(FilterWrite(t.host, list.rules, list.unreadable.size(), false, {}), -1);
    EXPECT_EQ(t.Rows("RuleTable").size(), 2u);
    EXPECT_EQ(FilterWrite(t.host, list.rules, list.unreadable.size(), true, {}), 0);
    EXPECT_EQ(t.Rows("RuleTable").size(), 1u);

    // An item no object can hold (a 63-character station name) fails its rule; the writer ends.
    FilterTables u;
    FilterRule huge;
    huge.name = "huge";
    huge.sources = { Host(std::string(63, 'h')) };
    FilterRule fine;
    fine.name = "fine";
    EXPECT_EQ(FilterWrite(u.host, { fine, huge, fine }, 0, false, {}), 1);
    EXPECT_EQ(u.Rows("RuleTable").size(), 2u);

    // A full object table fails the rule and leaves the earlier rules and their objects intact.
    FilterTables v("module_param maxobjects, 2\nmodule_param maxrules, 2\n");
    FilterLimits limits = FilterReadLimits(v.host);
    EXPECT_EQ(limits.maxObjects, 2);
    EXPECT_EQ(limits.maxRules, 2);
    FilterRule a;
    a.name = "a";
    a.protocols = "6";
    FilterRule b;
    b.name = "b";
    b.protocols = "1,6,17"; // needs a third object
    FilterRule c;
    c.name = "c";
    c.protocols = "6";
    EXPECT_EQ(FilterWrite(v.host, { a, b, c, c, c }, 0, false, limits), 3); // b, then c twice past maxrules
    Rows objects = v.Rows("ObjectTable");
    EXPECT_EQ(objects, (Rows { { "TCP", "%P6" }, { "ANYHOST", "%A0.0.0.0 %M0.0.0.0" } }));
    FilterList back = FilterRead(v.host);
    ASSERT_EQ(back.rules.size(), 2u);
    EXPECT_EQ(back.rules[0].name, "a");
    EXPECT_EQ(back.rules[1].name, "c");
    EXPECT_TRUE(back.unreadable.empty());
}

TEST(FilterWrite, AppendKeepsOtherRulesObjects)
{
    FilterTables t;
    // Another rule's object called TCP that says something else is not overwritten.
    t.Object("TCP", "%P6,17");
    t.Rule("old", "TCP", "ANYHOST", "ANYHOST");
    t.Object("ANYHOST", "%L");
    FilterRule r;
    r.name = "new";
    r.protocols = "6";
    ASSERT_TRUE(FilterAppendRule(t.host, r, {}));
    FilterList list = FilterRead(t.host);
    ASSERT_EQ(list.rules.size(), 2u);
    EXPECT_EQ(list.rules[0].protocols, "6,17");
    EXPECT_EQ(list.rules[0].sources.size(), 1u);
    EXPECT_EQ(list.rules[1].protocols, "6");
    EXPECT_TRUE(list.rules[1].sources.empty());
}

TEST(FilterCorrect, ObjectOrCellReplacedAndReadAgain)
{
    FilterTables t;
    t.Object("obj", "%P6 %Z");
    t.Rule("r", "obj", "%Q", "");
    FilterRule rule;
    FilterReadError error;
    ASSERT_EQ(FilterReadRow(t.host, 0, &rule, &error), 0);
    EXPECT_EQ(FilterWhereText(error), "object obj");
    FilterReadError next;
    EXPECT_EQ(FilterCorrectRow(t.host, 0, error, "%P6", &rule, &next), 0); // now the source cell fails
    EXPECT_EQ(next.where, FilterInSource);
    EXPECT_EQ(t.Rows("ObjectTable")[0][1], "%P6");
    EXPECT_EQ(FilterCorrectRow(t.host, 0, next, "%L", &rule, &error), 1);
    EXPECT_EQ(t.Rows("RuleTable")[0][2], "%L");
    EXPECT_EQ(rule.protocols, "6");
}

TEST(FilterText, StationsAndArguments)
{
    const struct {
        const char* arg;
        const char* text;
    } rows[] = {
        { "local", "All stations in local network" },
        { "host:pc1", "Station pc1" },
        { "mac:a1b2", "Physical address 00000000A1B2" },
        { "ip:10.0.0.1", "IP address 10.0.0.1" },
        { "ip:10.0.0.1-10.0.0.9", "IP addresses 10.0.0.1 - 10.0.0.9" },
        { "net:10.0.0.0/255.0.0.0", "IP network 10.0.0.0 / 255.0.0.0" },
    };
    for (const auto& r : rows) {
        FilterStation s;
        ASSERT_TRUE(FilterParseStationArg(r.arg, &s)) << r.arg;
        EXPECT_EQ(FilterStationText(s), r.text);
    }
    FilterStation s;
    for (const char* bad :
        { "host:", "host:a,b", "mac:1234567890123", "ip:1.2.3", "ip:1.2.3.256", "net:1.2.3.4", "x:1" })
        EXPECT_FALSE(FilterParseStationArg(bad, &s)) << bad;
}

} // namespace
