#include "common/strings.h"
#include "config/description/cfg_types.h"
#include "config/frontend/printout.h"
#include "filterplugin/filter_test_util.h"

#include <gtest/gtest.h>
#include <map>

namespace {
CfgArgList List(std::initializer_list<const char*> texts)
{
    CfgArgList list;
    for (const char* t : texts)
        list.Append(t);
    return list;
}

CfgItem* Add(CfgSection* section, uint32_t kind, const char* name, const char* label, const char* value = nullptr)
{
    CfgItem* item = CfgAddItem(section, kind);
    if (name)
        item->name = name;
    if (label)
        item->description = List({ label });
    if (value)
        item->value = value;
    return item;
}

CfgItem* AddColumn(CfgItem* table, const char* name, const char* label)
{
    CfgItem* c = CfgAddColumn(table, CfgKindEntryText);
    c->name = name;
    c->description = List({ label });
    return c;
}

std::string Squeeze(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ')
            out += c;
    return out;
}

// The pages' lines as text, and the properties every printout has: no line over the width, pages of
// the given length with the footer last, and the text of each value and label (by item and row) in
// reading order.
struct Printed {
    std::vector<std::vector<std::string>> pages;
    std::map<std::pair<const CfgItem*, const CfgRow*>, std::string> values;
    std::map<const CfgItem*, std::string> labels;
};

Printed Print(const CfgDescription& desc, const PrintOptions& options, PrintHeader header = {})
{
    Printout printout = CfgLayoutPrintout(desc, header, options);
    const std::vector<PrintPage>& pages = printout.pages;
    Printed p;
    int total = static_cast<int>(pages.size());
    for (int n = 0; n < total; ++n) {
        const PrintPage& page = pages[static_cast<size_t>(n)];
        EXPECT_EQ(page.lines.size(), static_cast<size_t>(options.lines)) << "page " << n + 1;
        EXPECT_EQ(page.lines.back().style, PrintStyle::Footer);
        p.pages.emplace_back();
        for (const PrintLine& line : page.lines) {
            int end = 0;
            std::string text;
            for (const PrintCell& cell : printout.Cells(line)) {
                std::string_view t = printout.Text(cell);
                EXPECT_GE(cell.x, end) << "cells overlap: " << t;
                end = cell.x + static_cast<int>(t.size());
                text.resize(static_cast<size_t>(cell.x), ' ');
                text += t;
                if (cell.part == PrintPart::Value)
                    p.values[{ cell.item, cell.row }] += t;
                if (cell.part == PrintPart::Label && !cell.row)
                    p.labels[cell.item] += t;
            }
            EXPECT_LE(end, options.columns) << text;
            p.pages.back().push_back(text);
        }
        EXPECT_EQ(p.pages.back().back().find("Page " + std::to_string(n + 1) + " of " + std::to_string(total))
                != std::string::npos,
            true)
            << p.pages.back().back();
    }
    return p;
}

struct PrintoutTest : ::testing::Test {
    void SetUp() override
    {
        StrSetLanguage(1033);
    }
};

TEST(PrintWrap, BreaksAtBlanksOrInsideLongWordsAndKeepsEveryCharacter)
{
    struct Case {
        const char* text;
        int width;
        std::vector<std::string> lines;
    } cases[] = {
        { "", 10, {} },
        { "   ", 10, {} },
        { "short", 10, { "short" } },
        { "exactly10!", 10, { "exactly10!" } },
        { "two words", 5, { "two", "words" } },
        { "a  b   c", 20, { "a  b   c" } }, // blanks inside a line kept
        { "aaa bbb ccc", 7, { "aaa bbb", "ccc" } },
        { "abcdefghijkl", 5, { "abcde", "fghij", "kl" } },
        { "ab abcdefghijkl", 5, { "ab", "abcde", "fghij", "kl" } },
        { "tab\there\r\nnext", 20, { "tab here  next" } }, // control characters show as blanks
        { "  lead", 10, { "lead" } },
        { "x", 0, { "x" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(CfgWrapText(c.text, c.width), c.lines) << c.text << " at " << c.width;
}

TEST_F(PrintoutTest, HeaderHeadingsGroupsAndItemsAsText)
{
    CfgDescription desc;
    CfgSection* s = desc.AddSection("sys", std::string("System"));
    Add(s, CfgKindEntryText, "/sys/name", "Device name", "router");
    CfgItem* group = CfgAddItem(s, CfgKindGroup);
    group->description = List({ "LAN" });
    CfgItem* mtu = Add(s, CfgKindEntryNumbers, "/lan/mtu", "Packet size", "1500");
    mtu->SetText(CfgAttrUnit, "bytes");
    CfgAddItem(s, CfgKindGroupEnd);
    Add(s, CfgKindStaticText, nullptr, "Some help that is not printed");
    desc.AddSection("empty", std::string("Nothing to print"));

    PrintOptions o;
    o.columns = 40;
    o.lines = 16;
    PrintHeader h { "router", "Morvak 1100", "3.10.0012", "192.168.0.1", "12/8/2026" };
    std::string text = CfgPrintoutText(CfgLayoutPrintout(desc, h, o));
    EXPECT_EQ(text,
        "Device name:      router\n"
        "Device type:      Morvak 1100\n"
        "Firmware version: 3.10.0012\n"
        "Source:           192.168.0.1\n"
        "Printed:          12/8/2026\n"
        "========================================\n"
        "\n"
        "System\n"
        "Device name    router\n"
        "\n"
        "LAN\n"
        "  Packet size  1500 bytes\n"
        "\n"
        "\n"
        "\n"
        "              Page 1 of 1\n");
}

TEST_F(PrintoutTest, HeadingsAndCaptionsNeverEndAPageAndEveryPageHasItsFooter)
{
    CfgDescription desc;
    for (int s = 0; s < 12; ++s) {
        CfgSection* section = desc.AddSection("s" + std::to_string(s), "Section " + std::to_string(s));
        for (int i = 0; i < s % 4 + 1; ++i) {
            if (i == 1) {
                CfgItem* g = CfgAddItem(section, CfgKindGroup);
                g->description = List({ "Group" });
            }
            std::string name = "i" + std::to_string(s) + "_" + std::to_string(i);
            CfgItem* item = CfgAddItem(section, CfgKindEntryText);
            item->name = name;
            // Some values take three lines.
            item->value = i == 2 ? std::string(70, 'v') : "v";
        }
    }
    for (int lines : { 12, 13, 17, 20 }) {
        PrintOptions o;
        o.columns = 40;
        o.lines = lines;
        Printed p = Print(desc, o);
        EXPECT_GT(p.pages.size(), 1u);
        Printout printout = CfgLayoutPrintout(desc, {}, o);
        for (const PrintPage& page : printout.pages) {
            // The last line before the blank lines of the foot.
            size_t last = page.lines.size() - 2;
            while (last > 0 && page.lines[last].cellCount == 0)
                --last;
            PrintStyle style = page.lines[last].style;
            EXPECT_NE(style, PrintStyle::Heading) << lines << " lines a page";
            EXPECT_NE(style, PrintStyle::Caption) << lines << " lines a page";
            // A page never starts with a blank line.
            EXPECT_FALSE(page.lines.front().cellCount == 0);
        }
        // Every value whole, in one place.
        for (const auto& section : desc.sections)
            for (const auto& item : section->items) {
                if (item->name) {
                    EXPECT_EQ((p.values[{ item.get(), nullptr }]), *item->value);
                }
            }
    }
}

TEST_F(PrintoutTest, TableHeadersRepeatOnEveryContinuedPage)
{
    CfgDescription desc;
    CfgSection* s = desc.AddSection("ip", std::string("Routes"));
    CfgItem* table = Add(s, CfgKindTable, "/ip/routes", "Static routes");
    CfgItem* net = AddColumn(table, "net", "Network");
    AddColumn(table, "gw", "Gateway");
    for (int r = 0; r < 40; ++r) {
        CfgRow& row = table->rows.emplace_back();
        row.cells[0] = "10.0." + std::to_string(r) + ".0";
        row.cells[1] = r == 7 ? "a gateway whose name is far too long for its column and wraps" : "10.0.0.254";
    }
    PrintOptions o;
    o.columns = 40;
    o.lines = 14;
    Printed p = Print(desc, o);
    ASSERT_GE(p.pages.size(), 4u);
    // The heading, caption, column headers and first row do not fit below the header block.
    EXPECT_EQ(p.pages[0][7], "");
    EXPECT_EQ(p.pages[1][0], "Routes");
    EXPECT_EQ(p.pages[1][2], "Static routes");
    for (size_t n = 2; n < p.pages.size(); ++n) {
        EXPECT_EQ(p.pages[n][0].substr(0, 7), "Network") << "page " << n + 1;
        EXPECT_EQ(p.pages[n][1].substr(0, 4), "----");
    }
    for (const CfgRow& row : table->rows) {
        EXPECT_EQ(Squeeze(p.values[{ net, &row }]), *row.cells[0]);
        EXPECT_EQ(Squeeze(p.values[{ table->columns[1].get(), &row }]), Squeeze(*row.cells[1]));
    }
}

TEST_F(PrintoutTest, WideTablesSplitIntoBandsLedByTheKeyColumn)
{
    CfgDescription desc;
    CfgSection* s = desc.AddSection("t", std::string("Wide"));
    CfgItem* table = Add(s, CfgKindTable, "/t", "Many columns");
    for (int c = 0; c < 20; ++c)
        AddColumn(table, ("c" + std::to_string(c)).c_str(), ("Column " + std::to_string(c)).c_str());
    for (int r = 0; r < 3; ++r) {
        CfgRow& row = table->rows.emplace_back();
        for (int c = 0; c < 20; ++c)
            row.cells[static_cast<size_t>(c)] = "r" + std::to_string(r) + "c" + std::to_string(c) + " value";
    }
    PrintOptions o;
    o.columns = 30;
    o.lines = 60;
    Printed p = Print(desc, o);
    for (const CfgRow& row : table->rows)
        for (size_t c = 0; c < 20; ++c) {
            std::string shown = p.values[{ table->columns[c].get(), &row }];
            // The key column appears once per band.
            if (c == 0) {
                EXPECT_GT(shown.size(), row.cells[0]->size());
            } else {
                EXPECT_EQ(Squeeze(shown), Squeeze(*row.cells[c]));
            }
        }
}

// A plug-in section declares its tables by column count only: the columns are named "1", "2", ...
// without descriptions. The filter's tables print with their columns' meanings; a column with a
// description of its own, one past the known columns and an unknown table keep what they have.
TEST_F(PrintoutTest, PluginTablesDeclaredByCountGetTheirColumnsMeanings)
{
    CfgDescription desc;
    CfgSection* s = desc.AddSection("filter", std::string("IP filter"));
    auto plugin = [&](const char* name, int count) {
        CfgItem* table = Add(s, CfgKindTable, name, nullptr);
        for (int c = 1; c <= count; ++c)
            CfgAddColumn(table, CfgKindReadonlyText)->name = std::to_string(c);
        CfgRow& row = table->rows.emplace_back();
        for (int c = 0; c < count; ++c)
            row.cells[static_cast<size_t>(c)] = "v" + std::to_string(c + 1);
        return table;
    };
    CfgItem* rules = plugin("RuleTable", 6);
    CfgItem* objects = plugin("ObjectTable", 3);
    objects->columns[1]->description = List({ "Object text" });
    CfgItem* other = plugin("OtherTable", 2);

    std::vector<std::string> headers;
    for (const CfgItem* table : { rules, objects, other })
        for (size_t c = 0; c < table->columns.size(); ++c)
            headers.push_back(CfgColumnHeader(*table, c));
    EXPECT_EQ(headers,
        (std::vector<std::string> {
            "Name", "Protocol", "Source", "Destination", "Action", "Option", "Name", "Object text", "3", "1", "2" }));
    EXPECT_EQ(CfgColumnHeader(*rules, 6), "");
    // In the program's language.
    StrSetLanguage(1031);
    EXPECT_EQ(CfgColumnHeader(*rules, 1), "Protokoll");
    EXPECT_EQ(CfgColumnHeader(*rules, 3), "Ziel");
    StrSetLanguage(1036);
    EXPECT_EQ(CfgColumnHeader(*objects, 0), "Nom");
    StrSetLanguage(1033);

    PrintOptions o;
    o.lines = 40;
    Printed p = Print(desc, o);
    auto line = [&](const std::string& start) {
        for (const std::string& l : p.pages[0])
            if (l.rfind(start, 0) == 0)
                return Squeeze(l);
        return std::string();
    };
    EXPECT_EQ(line("Name "), "Name|Protocol|Source|Destination|Action|Option");
    EXPECT_EQ(line("1 "), "1|2");
}

TEST_F(PrintoutTest, SecretsMaskedUnlessPasswordsAreShown)
{
    CfgDescription desc;
    CfgSection* s = desc.AddSection("sec", std::string("Security"));
    CfgItem* secret = Add(s, CfgKindEntryText, "/sys/password", "Password", "verysecret");
    secret->SetNumber(CfgAttrHidden, 1);
    CfgItem* table = Add(s, CfgKindTable, "/users", "Users");
    AddColumn(table, "name", "Name");
    CfgItem* pw = AddColumn(table, "pw", "Password");
    pw->SetNumber(CfgAttrHidden, 1);
    CfgRow& row = table->rows.emplace_back();
    row.cells[0] = "admin";
    row.cells[1] = "rowsecret";

    PrintOptions o;
    Printed hidden = Print(desc, o);
    EXPECT_EQ((hidden.values[{ secret, nullptr }]), "*");
    EXPECT_EQ((hidden.values[{ pw, &row }]), "*");
    o.hidePasswords = false;
    Printed shown = Print(desc, o);
    EXPECT_EQ((shown.values[{ secret, nullptr }]), "verysecret");
    EXPECT_EQ((shown.values[{ pw, &row }]), "rowsecret");
}

TEST_F(PrintoutTest, LongDescriptionsAndValuesWrapInTheirColumns)
{
    CfgDescription desc;
    CfgSection* s = desc.AddSection("x", std::string("A section title long enough to take two lines here"));
    std::string value;
    for (int i = 0; i < 30; ++i)
        value += "word" + std::to_string(i) + " ";
    value += std::string(90, 'z');
    CfgItem* item
        = Add(s, CfgKindEntryText, "/x", "A description far longer than two fifths of the line", value.c_str());
    PrintOptions o;
    o.columns = 32;
    o.lines = 12;
    Printed p = Print(desc, o);
    EXPECT_EQ(Squeeze(p.values[{ item, nullptr }]), Squeeze(value));
    EXPECT_EQ(Squeeze(p.labels[item]), "Adescriptionfarlongerthantwofifthsoftheline");
}
} // namespace

// The IP filter's page prints its rules as the rule editor shows them: names, action words, protocol
// names, stations and ports, with object references followed; never the definition language of the
// two tables. A row that cannot be read keeps its name and shows the text where reading stopped.
TEST_F(PrintoutTest, FilterRulesPrintAsTheUserReadsThem)
{
    FilterTables f;
    f.Rule("web", "TCP,UDP", "ANYHOST", "%S80,443 %A10.0.0.0 %M255.0.0.0", "1");
    f.Rule("telnet", "tel0", "%L", "%S23 ANYHOST", "256");
    f.Object("tel0", "%P6");
    f.Rule("guests", "ANY", "%A192.168.7.10-192.168.7.20 %Hprinter", "ANYHOST", "512");
    f.Object("ANY", "%P0");
    f.Object("TCP", "%P6");
    f.Object("UDP", "%P17");
    f.Object("ANYHOST", "%A0.0.0.0 %M0.0.0.0");
    f.Rule("broken", "bad0", "ANYHOST", "ANYHOST", "256");

    PrintOptions o;
    o.columns = 72;
    o.lines = 60;
    Printed p = Print(*f.device.config, o);
    std::string text;
    for (const auto& page : p.pages)
        for (const std::string& line : page)
            text += line + "\n";
    for (const char* raw : { "RuleTable", "ObjectTable", "ANYHOST", "%S", "%P", "%A", "%L", "%H", "256", "512" })
        EXPECT_EQ(text.find(raw), std::string::npos) << raw << " in\n" << text;
    // Each rule as a block of "label  value" lines, in table order.
    auto lineWith = [&](const std::string& label, const std::string& value) {
        for (const auto& page : p.pages)
            for (const std::string& line : page)
                if (line.find(label) != std::string::npos && line.size() >= value.size()
                    && line.compare(line.size() - value.size(), value.size(), value) == 0)
                    return true;
        return false;
    };
    EXPECT_TRUE(lineWith("Name:", "web")) << text;
    EXPECT_TRUE(lineWith("Action:", "Transfer")) << text;
    EXPECT_TRUE(lineWith("Protocols:", "TCP, UDP")) << text;
    EXPECT_TRUE(lineWith("Destination:", "IP network 10.0.0.0 / 255.0.0.0")) << text;
    EXPECT_TRUE(lineWith("Target ports:", "80,443")) << text;
    EXPECT_TRUE(lineWith("Action:", "Drop")) << text;
    EXPECT_TRUE(lineWith("Source:", "All stations in local network")) << text;
    EXPECT_TRUE(lineWith("Protocols:", "TCP")) << text;
    EXPECT_TRUE(lineWith("Target ports:", "23")) << text;
    EXPECT_TRUE(lineWith("Action:", "Drop if not connected")) << text;
    EXPECT_TRUE(lineWith("Protocols:", "All")) << text;
    // Further stations on lines of their own below the first.
    EXPECT_TRUE(lineWith("Source:", "Station printer")) << text;
    EXPECT_TRUE(lineWith("", "IP addresses 192.168.7.10 - 192.168.7.20")) << text;
    EXPECT_TRUE(lineWith("Name:", "broken")) << text;
    EXPECT_TRUE(lineWith("Could not be", "bad0")) << text;
    EXPECT_NE(text.find("(protocol):"), std::string::npos) << text;
    size_t web = text.find("web"), telnet = text.find("telnet"), guests = text.find("guests"),
           broken = text.find("broken");
    EXPECT_TRUE(web < telnet && telnet < guests && guests < broken) << text;
    // The page is the configuration's: printing reads the rules and leaves both tables as they were.
    EXPECT_EQ(f.Rows("RuleTable").size(), 4u);
    EXPECT_EQ(f.Rows("ObjectTable").size(), 5u);
}
