// The pages' portable half: finish texts, presets, proposed masks, the summary, field rules and the
// wizard's steps and counters on a real configuration store.
#include "filterplugin/filter_pages.h"
#include "filterplugin/filter_template.h"
#include "filterplugin/filter_test_util.h"

#include <gtest/gtest.h>

namespace {

struct English {
    English()
    {
        StrSetLanguage(1033);
    }
};

TEST(FilterPages, FinishTextForEveryCombinationOfCounts)
{
    English en;
    const char* close = "\r\rTo close this wizard, click Finish.";
    const char* save = "\r\rTo save the modified TCP/IP filters in your device, click Finish.";
    EXPECT_EQ(FilterFinishText(0, 0), std::string("You have not deleted any filter rules.") + close);
    EXPECT_EQ(FilterFinishText(0, 1), std::string("You have deleted one filter rule.") + save);
    EXPECT_EQ(FilterFinishText(0, 2), std::string("You have deleted 2 filter rules.") + save);
    EXPECT_EQ(FilterFinishText(1, 0), std::string("You have defined one new filter rule.") + save);
    EXPECT_EQ(FilterFinishText(2, 0), std::string("You have defined 2 new filter rules.") + save);
    EXPECT_EQ(FilterFinishText(1, 1),
        std::string("You have defined one new filter rule and deleted one filter rule.") + save);
    EXPECT_EQ(
        FilterFinishText(1, 2), std::string("You have defined one new filter rule and deleted 2 filter rules.") + save);
    EXPECT_EQ(
        FilterFinishText(2, 1), std::string("You have defined 2 new filter rules and deleted one filter rule.") + save);
    EXPECT_EQ(FilterFinishText(12, 7),
        std::string("You have defined 12 new filter rules and deleted 7 filter rules.") + save);
    // Where the host's pages follow, the page offers Next, and its text names that button.
    for (auto [added, deleted] : { std::pair { 0, 0 }, std::pair { 2, 1 } }) {
        std::string text = FilterFinishText(added, deleted, false);
        EXPECT_EQ(text.find("Finish"), std::string::npos) << text;
        EXPECT_NE(text.find("click Next"), std::string::npos) << text;
        EXPECT_EQ(text.substr(0, 20), FilterFinishText(added, deleted).substr(0, 20));
    }

    // Every language of the library has every text, with the counts in it.
    for (uint16_t lang : { 1031, 1036, 1040, 1043 }) {
        ASSERT_TRUE(StrHasLanguage(filterplugin_Strings(), lang)) << lang;
        StrSetLanguage(lang);
        std::string both = FilterFinishText(3, 4);
        EXPECT_NE(both.find('3'), std::string::npos) << lang;
        EXPECT_NE(both.find('4'), std::string::npos) << lang;
        EXPECT_NE(FilterFinishText(0, 0), FilterFinishText(0, 1)) << lang;
        EXPECT_NE(FilterFinishText(0, 1, false), FilterFinishText(0, 1)) << lang;
        for (unsigned id = 1; id < 250; ++id)
            if (!StrLoad(filterplugin_Strings(), id).empty()) {
                StrSetLanguage(1033);
                std::string english = StrLoad(filterplugin_Strings(), id);
                StrSetLanguage(lang);
                // Same conversions as the English text (a mismatch would drop or misplace a count).
                auto conversions = [](const std::string& s) {
                    std::string c;
                    for (size_t i = 0; i + 1 < s.size(); ++i)
                        if (s[i] == '%')
                            c += s[++i];
                    return c;
                };
                EXPECT_EQ(conversions(StrLoad(filterplugin_Strings(), id)), conversions(english)) << lang << " " << id;
            }
    }
    StrSetLanguage(1033);
}

TEST(FilterPages, PresetsAreReselectedFromTheRulesTexts)
{
    FilterRule rule;
    EXPECT_EQ(FilterPresetOf(rule), FilterPresetAll);
    rule.protocols = "6";
    rule.dest_ports = "23";
    EXPECT_EQ(FilterPresetOf(rule), FilterPresetTerminal);
    rule.source_ports = "23";
    EXPECT_EQ(FilterPresetOf(rule), FilterPresetUser);
    // Empty protocols are all services, whatever the ports say.
    rule.protocols.clear();
    EXPECT_EQ(FilterPresetOf(rule), FilterPresetAll);

    for (int p = FilterPresetAll; p < FilterPresetUser; ++p) {
        FilterRule r;
        r.protocols = "47";
        FilterApplyPreset(&r, static_cast<FilterPreset>(p));
        EXPECT_EQ(FilterPresetOf(r), p);
        // As read back from the device ("20,21" is "20-21" then), the preset is still found.
        FilterNormalize(&r);
        EXPECT_EQ(FilterPresetOf(r), p);
    }
    FilterRule names;
    FilterApplyPreset(&names, FilterPresetNames);
    EXPECT_EQ(names.protocols, "6,17");
    EXPECT_EQ(names.source_ports, "137-139");
    EXPECT_EQ(names.dest_ports, "");
    // User-defined keeps what the services dialog gave.
    FilterRule user;
    user.protocols = "47";
    FilterApplyPreset(&user, FilterPresetUser);
    EXPECT_EQ(user.protocols, "47");
}

TEST(FilterPages, MaskProposedFromTheAddressClass)
{
    uint32_t a = 0;
    ASSERT_TRUE(FilterParseAddress("10.1.2.3", &a));
    EXPECT_EQ(FilterAddressText(FilterProposedMask(a)), "255.0.0.0");
    ASSERT_TRUE(FilterParseAddress("200.1.1.1", &a));
    EXPECT_EQ(FilterAddressText(FilterProposedMask(a)), "255.255.255.0");
    EXPECT_EQ(FilterProposedMask(127u << 24), 0xFF000000u);
    EXPECT_EQ(FilterProposedMask(128u << 24), 0xFFFF0000u);
    EXPECT_EQ(FilterProposedMask(191u << 24 | 0xFFFFFF), 0xFFFF0000u);
    EXPECT_EQ(FilterProposedMask(223u << 24), 0xFFFFFF00u);
    EXPECT_EQ(FilterProposedMask(224u << 24), 0xFFFFFFFFu);

    for (const char* bad : { "", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4x", "0001.1.1.1" })
        EXPECT_FALSE(FilterParseAddress(bad, &a)) << bad;
    uint8_t mac[6];
    ASSERT_TRUE(FilterParseMac("a0b", mac));
    EXPECT_EQ(FilterMacText(mac), "000000000A0B");
    EXPECT_FALSE(FilterParseMac("0123456789abc", mac));
    EXPECT_FALSE(FilterParseMac("12g4", mac));
}

TEST(FilterPages, SummaryListsEveryFieldWithTabStops)
{
    English en;
    FilterRule rule;
    rule.name = "web";
    rule.action = FilterActionDropNotConnected;
    FilterStation host;
    host.kind = FilterStationName;
    host.name = "pc1";
    FilterStation net;
    net.kind = FilterStationNetwork;
    net.first = 0xC0A80100;
    net.last = 0xFFFFFF00;
    rule.sources = { host, net };
    rule.protocols = "6,17,47";
    rule.dest_ports = "80,443";
    EXPECT_EQ(FilterSummaryText(rule),
        "Name:\tweb\r\n"
        "Action:\tDrop if not connected\r\n"
        "Source:\tStation pc1\r\n"
        "\tIP network 192.168.1.0 / 255.255.255.0\r\n"
        "Destination:\tAll stations\r\n"
        "Protocols:\tTCP, UDP, Protocol 47\r\n"
        "Target ports:\t80,443\r\n");
    FilterRule all;
    all.name = "x";
    all.source_ports = "1024-65535";
    all.action = FilterActionTransfer;
    EXPECT_EQ(FilterSummaryText(all),
        "Name:\tx\r\nAction:\tTransfer\r\nSource:\tAll stations\r\nDestination:\tAll stations\r\n"
        "Protocols:\tAll\r\nSource ports:\t1024-65535\r\n");
    // A rule's only protocol without a name carries the rule's ports in its line.
    EXPECT_EQ(FilterProtocolNames("47", "", ""), "Protocol 47");
    EXPECT_EQ(FilterProtocolNames("47", "1024-65535", ""), "Protocol 47 from port 1024-65535");
    EXPECT_EQ(FilterProtocolNames("47", "", "80"), "Protocol 47 to port 80");
    EXPECT_EQ(FilterProtocolNames("47", "5", "6,7"), "Protocol 47 from port 5 to port 6,7");
    EXPECT_EQ(FilterProtocolNames("6", "5", "6"), "TCP");
    EXPECT_EQ(FilterProtocolNames("6,47", "5", "6"), "TCP, Protocol 47");
    EXPECT_EQ(FilterProtocolNames("0,47", "5", "6"), "All");
}

TEST(FilterPages, ServicesBoxesAndFieldRules)
{
    EXPECT_EQ(FilterProtocolsFromBoxes(true, true, true, "47,,50"), "6,17,1,47,50");
    EXPECT_EQ(FilterProtocolsFromBoxes(false, false, false, ""), "");
    bool tcp, udp, icmp;
    std::string other;
    FilterProtocolsToBoxes("1,6,47,50", &tcp, &udp, &icmp, &other);
    EXPECT_TRUE(tcp && icmp && !udp);
    EXPECT_EQ(other, "47,50");

    // Station names refuse the rule language's separators; rule names take them.
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldStationName, ','));
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldStationName, '+'));
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldStationName, ' '));
    EXPECT_TRUE(FilterFieldAccepts(FilterFieldStationName, '-'));
    EXPECT_TRUE(FilterFieldAccepts(FilterFieldRuleName, '+'));
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldRuleName, ' '));
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldRuleName, '"'));
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldMac, 'g'));
    EXPECT_TRUE(FilterFieldAccepts(FilterFieldPorts, '-'));
    EXPECT_FALSE(FilterFieldAccepts(FilterFieldProtocols, '-'));
    EXPECT_EQ(FilterFieldLimit(FilterFieldRuleName), 10u);
}

TEST(FilterPages, WizardPagesOfTheOtherModeAreSkipped)
{
    std::vector<int32_t> add, del;
    for (int32_t p = FilterPageStart; p; p = FilterWizardStep(p, FilterModeAdd, true))
        add.push_back(p);
    for (int32_t p = FilterPageStart; p; p = FilterWizardStep(p, FilterModeDelete, true))
        del.push_back(p);
    EXPECT_EQ(add, (std::vector<int32_t> { 10200, 10201, 10202, 10203, 10204, 10520, 10205 }));
    EXPECT_EQ(del, (std::vector<int32_t> { 10200, 10206, 10205 }));
    EXPECT_EQ(FilterWizardStep(FilterPageFinish, FilterModeAdd, false), FilterPageSummary);
    EXPECT_EQ(FilterWizardStep(FilterPageDelete, FilterModeDelete, false), FilterPageStart);
    EXPECT_EQ(FilterWizardStep(FilterPageStart, FilterModeAdd, false), 0);
}

TEST(FilterPages, WizardAddsTwoRulesWithTheBoxSetOnce)
{
    English en;
    FilterTables t;
    t.Rule("old", "TCP", "ANYHOST", "ANYHOST");
    FilterWizardState w;
    w.host = t.host;
    EXPECT_EQ(FilterCheckNewName(w.host, "OLD"), FilterStrDuplicateName);
    EXPECT_EQ(FilterCheckNewName(w.host, " "), FilterStrEnterName);
    EXPECT_EQ(FilterCheckNewName(w.host, "new1"), 0u);

    w.rule.name = "new1";
    w.rule.protocols = "17,6,6";
    ASSERT_TRUE(w.AddAnother());
    EXPECT_EQ(w.added, 1);
    EXPECT_EQ(w.rule, FilterRule()); // a fresh rule for the name page
    // The first rule is in the tables at once: its name is taken now.
    EXPECT_EQ(FilterCheckNewName(w.host, "NEW1"), FilterStrDuplicateName);

    w.rule.name = "new2";
    FilterApplyPreset(&w.rule, FilterPresetTerminal);
    w.MarkPending();
    EXPECT_EQ(t.Rows("RuleTable").size(), 2u); // not yet written
    EXPECT_EQ(w.FinishText(),
        "You have defined 2 new filter rules.\r\rTo save the modified TCP/IP filters in your device, click Finish.");
    ASSERT_TRUE(w.Finish());
    auto rows = t.Rows("RuleTable");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][0], "new1");
    EXPECT_EQ(rows[1][1], "TCP,UDP");
    EXPECT_EQ(rows[2][0], "new2");
    EXPECT_EQ(w.FinishText().substr(0, 36), "You have defined 2 new filter rules.");
    // Finish again (the sheet may ask twice) adds nothing more.
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(t.Rows("RuleTable").size(), 3u);
}

TEST(FilterPages, WizardKeepsTheRuleWhenTheTablesAreFull)
{
    FilterTables t("module_param maxrules, 1\n");
    t.Rule("old", "TCP", "ANYHOST", "ANYHOST");
    FilterWizardState w;
    w.host = t.host;
    w.rule.name = "new";
    EXPECT_FALSE(w.AddAnother());
    EXPECT_EQ(w.added, 0);
    EXPECT_EQ(w.rule.name, "new"); // still there for another try
    w.MarkPending();
    EXPECT_FALSE(w.Finish());
    EXPECT_TRUE(w.pending);
    EXPECT_EQ(t.Rows("RuleTable").size(), 1u);
}

TEST(FilterPages, WizardDeletesRulesAndKeepsRowsItCouldNotRead)
{
    English en;
    FilterTables t;
    t.Rule("a", "TCP", "ANYHOST", "ANYHOST");
    t.Rule("bad", "NOSUCH", "ANYHOST", "ANYHOST");
    t.Rule("b", "UDP", "ANYHOST", "ANYHOST");
    t.Rule("c", "ICMP", "ANYHOST", "ANYHOST");
    for (FilterTables* tables : { &t })
        for (auto [name, definition] :
            { std::pair { "TCP", "%P6" }, { "UDP", "%P17" }, { "ICMP", "%P1" }, { "ANYHOST", "%A0.0.0.0 %M0.0.0.0" } })
            tables->Object(name, definition);
    FilterWizardState w;
    w.host = t.host;
    w.mode = FilterModeDelete;
    w.list = FilterRead(w.host);
    ASSERT_EQ(w.list.rules.size(), 3u);
    EXPECT_EQ(w.WriteDeletions(), 0); // nothing deleted: nothing written
    EXPECT_EQ(w.FinishText(), "You have not deleted any filter rules.\r\rTo close this wizard, click Finish.");
    EXPECT_FALSE(w.DeleteAt(3));
    ASSERT_TRUE(w.DeleteAt(0));
    ASSERT_TRUE(w.DeleteAt(1)); // "c"
    EXPECT_EQ(w.WriteDeletions(), 0);
    auto rows = t.Rows("RuleTable");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "bad");
    EXPECT_EQ(rows[1][0], "b");
    EXPECT_EQ(w.FinishText().substr(0, 32), "You have deleted 2 filter rules.");

    // Without unreadable rows the filter is rewritten: unused objects go.
    FilterTables u;
    u.Rule("a", "TCP", "ANYHOST", "ANYHOST");
    u.Rule("b", "UDP", "ANYHOST", "ANYHOST");
    u.Object("TCP", "%P6");
    u.Object("UDP", "%P17");
    u.Object("ANYHOST", "%A0.0.0.0 %M0.0.0.0");
    FilterWizardState v;
    v.host = u.host;
    v.list = FilterRead(v.host);
    ASSERT_TRUE(v.DeleteAt(0));
    EXPECT_EQ(v.WriteDeletions(), 0);
    ASSERT_EQ(u.Rows("RuleTable").size(), 1u);
    for (const auto& row : u.Rows("ObjectTable"))
        EXPECT_NE(row[0], "TCP");
}

TEST(FilterPages, CorrectedRowsKeepTheirPlaceInTableOrder)
{
    FilterTables t;
    t.Rule("a", "TCP", "ANYHOST", "ANYHOST");
    t.Rule("bad1", "%Q", "ANYHOST", "ANYHOST");
    t.Rule("c", "UDP", "ANYHOST", "ANYHOST");
    t.Rule("bad2", "TCP", "%Z", "ANYHOST");
    t.Rule("bad3", "TCP", "ANYHOST", "nosuchobject");
    t.Rule("f", "ICMP", "ANYHOST", "ANYHOST");
    for (auto [name, definition] :
        { std::pair { "TCP", "%P6" }, { "UDP", "%P17" }, { "ICMP", "%P1" }, { "ANYHOST", "%A0.0.0.0 %M0.0.0.0" } })
        t.Object(name, definition);
    FilterList list = FilterRead(t.host);
    ASSERT_EQ(list.rules.size(), 3u);
    ASSERT_EQ(list.unreadable.size(), 3u);
    // bad1 corrected at once; bad2 first corrected wrongly (offered again where reading stopped), then
    // cancelled; bad3 corrected.
    std::vector<std::string> asked;
    int tries = 0;
    int corrected = FilterOfferCorrections(t.host, list, [&](const FilterUnreadable& row, std::string* text) {
        asked.push_back(row.name + ":" + row.error.text);
        if (row.name == "bad1")
            *text = "%P6";
        else if (row.name == "bad2")
            *text = "%Z";
        else
            *text = "ANYHOST";
        return row.name != "bad2" || ++tries < 2;
    });
    EXPECT_EQ(corrected, 2);
    EXPECT_EQ(asked, (std::vector<std::string> { "bad1:%Q", "bad2:%Z", "bad2:%Z", "bad3:nosuchobject" }));
    std::vector<std::string> names;
    for (const FilterRule& r : list.rules)
        names.push_back(r.name);
    EXPECT_EQ(names, (std::vector<std::string> { "a", "bad1", "c", "bad3", "f" }));
    ASSERT_EQ(list.unreadable.size(), 1u);
    EXPECT_EQ(list.unreadable[0].name, "bad2");
    EXPECT_EQ(list.unreadable[0].row, 3);
    EXPECT_EQ(t.Rows("RuleTable")[1][1], "%P6");
    EXPECT_EQ(t.Rows("RuleTable")[4][3], "ANYHOST");

    // Written back, the rules keep the order the device had (the cancelled row dropped).
    ASSERT_EQ(FilterWrite(t.host, list.rules, list.unreadable.size(), true, FilterReadLimits(t.host)), 0);
    FilterList again = FilterRead(t.host);
    names.clear();
    for (const FilterRule& r : again.rules)
        names.push_back(r.name);
    EXPECT_EQ(names, (std::vector<std::string> { "a", "bad1", "c", "bad3", "f" }));
    EXPECT_TRUE(again.unreadable.empty());

    // The wizard's delete page: the corrected row can be deleted, the cancelled one stays in the table.
    FilterTables u;
    u.Rule("a", "TCP", "ANYHOST", "ANYHOST");
    u.Rule("bad", "%Q", "ANYHOST", "ANYHOST");
    u.Rule("keep", "TCP", "%Z", "ANYHOST");
    u.Rule("d", "TCP", "ANYHOST", "ANYHOST");
    u.Object("TCP", "%P6");
    u.Object("ANYHOST", "%A0.0.0.0 %M0.0.0.0");
    FilterWizardState w;
    w.host = u.host;
    w.mode = FilterModeDelete;
    w.list = FilterRead(w.host);
    EXPECT_EQ(FilterOfferCorrections(w.host, w.list,
                  [](const FilterUnreadable& row, std::string* text) {
                      *text = "TCP";
                      return row.name == "bad";
                  }),
        1);
    ASSERT_EQ(w.list.rules.size(), 3u);
    EXPECT_EQ(w.list.rules[1].name, "bad");
    ASSERT_TRUE(w.DeleteAt(1));
    EXPECT_EQ(w.WriteDeletions(), 0);
    auto rows = u.Rows("RuleTable");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "a");
    EXPECT_EQ(rows[1][0], "keep");
    EXPECT_EQ(rows[2][0], "d");
}

TEST(FilterPages, RuleEditorNameCheck)
{
    std::vector<FilterRule> rules(2);
    rules[0].name = "Telnet";
    rules[1].name = "web";
    EXPECT_EQ(FilterCheckName("", rules, nullptr), FilterStrEnterName);
    EXPECT_EQ(FilterCheckName("TELNET", rules, nullptr), FilterStrDuplicateName);
    EXPECT_EQ(FilterCheckName("TELNET", rules, &rules[0]), 0u); // the rule itself
    EXPECT_EQ(FilterCheckName("ftp", rules, nullptr), 0u);
    English en;
    EXPECT_EQ(FilterRuleCaption("web"), "Filter rule web");
    EXPECT_EQ(FilterRuleCaption("%s%d"), "Filter rule %s%d");
}

} // namespace

// ---- dialog templates rebuilt with header texts ----

namespace {

struct TemplateWriter {
    std::vector<uint8_t> bytes;
    void U16(uint16_t v)
    {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void Text(const std::u16string& t)
    {
        for (char16_t c : t)
            U16(c);
        U16(0);
    }
    void Align()
    {
        while (bytes.size() % 4)
            bytes.push_back(0);
    }
};

// A template as the resource compiler writes it: caption, font, a text control and a list control
// with a class name and two bytes of creation data.
std::vector<uint8_t> SampleTemplate()
{
    TemplateWriter w;
    w.U16(1);
    w.U16(0xFFFF);
    w.U32(0);
    w.U32(0);
    w.U32(0x40 | 0x40000000u); // DS_SETFONT | WS_CHILD
    w.U16(2);
    w.U16(0), w.U16(0), w.U16(300), w.U16(140);
    w.U16(0); // no menu
    w.U16(0); // default class
    w.Text(u"IP Filter");
    w.U16(8), w.U16(400), w.U16(0);
    w.Text(u"MS Shell Dlg");
    w.Align();
    w.U32(0), w.U32(0), w.U32(0x50000000u);
    w.U16(20), w.U16(8), w.U16(260), w.U16(20);
    w.U32(1072);
    w.U16(0xFFFF), w.U16(0x0082);
    w.Text(u"Intro");
    w.U16(0);
    w.Align();
    w.U32(0), w.U32(0), w.U32(0x50000000u);
    w.U16(20), w.U16(40), w.U16(260), w.U16(60);
    w.U32(1095);
    w.Text(u"SysListView32");
    w.U16(0);
    w.U16(2), w.U16(0xABCD);
    return w.bytes;
}

TEST(FilterTemplate, HeaderTextsAddedAboveTheControls)
{
    std::vector<uint8_t> sample = SampleTemplate();
    FilterTemplateInfo before;
    ASSERT_TRUE(FilterTemplateRead(sample.data(), sample.size(), &before));
    EXPECT_EQ(before.count, 2);
    EXPECT_EQ(before.texts[0], u"Intro");

    FilterHeaderControls header;
    header.title = u"Configurer le filtre TCP/IP";
    header.subtitle = u"Voulez-vous ajouter ou supprimer des r\u00E8gles de filtrage ?";
    header.titleId = 1120;
    header.subtitleId = 1121;
    std::vector<uint8_t> rebuilt = FilterTemplateWithHeader(sample.data(), sample.size(), header);
    FilterTemplateInfo after;
    ASSERT_TRUE(FilterTemplateRead(rebuilt.data(), rebuilt.size(), &after));
    EXPECT_EQ(after.count, 4);
    EXPECT_EQ(after.height, 140 + header.height);
    EXPECT_EQ(after.ids, (std::vector<uint32_t> { 1120, 1121, 1072, 1095 }));
    EXPECT_EQ(after.texts[0], header.title);
    EXPECT_EQ(after.texts[1], header.subtitle);
    EXPECT_EQ(after.ys[2], 8 + header.height);
    EXPECT_EQ(after.ys[3], 40 + header.height);
    // The list control's creation data came along.
    EXPECT_EQ(rebuilt[rebuilt.size() - 2], 0xCD);
    EXPECT_EQ(rebuilt[rebuilt.size() - 1], 0xAB);

    // A template cut anywhere, or not an extended one, gives nothing (and reads nothing past its end).
    for (size_t n = 0; n < sample.size(); ++n) {
        std::vector<uint8_t> cut(sample.begin(), sample.begin() + static_cast<ptrdiff_t>(n));
        EXPECT_TRUE(FilterTemplateWithHeader(cut.data(), cut.size(), header).empty()) << n;
    }
    sample[2] = 0;
    EXPECT_TRUE(FilterTemplateWithHeader(sample.data(), sample.size(), header).empty());
}

} // namespace
