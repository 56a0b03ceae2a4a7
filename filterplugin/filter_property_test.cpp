// Random rules written and read back: the rule read is the normalised rule written, every cell within its
// capacity; with a bounded object table a rule that does not fit fails alone.
#include "filterplugin/filter_test_util.h"

#include <gtest/gtest.h>
#include <random>

namespace {

FilterRule RandomRule(std::mt19937& rng, int index)
{
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    FilterRule r;
    static const char* kNames[] = { "r", "rule", "123", "a,b", "long-name-", "x y", "%P", "Tcp" };
    r.name = std::string(kNames[pick(8)]).substr(0, 8) + std::to_string(index % 100);
    r.name = r.name.substr(0, FilterRuleNameMax);
    r.action = std::vector<uint32_t> { 256, 512, 1024, 1 }[pick(4)];
    r.option = pick(3);
    static const uint32_t kProtocols[] = { 1, 6, 17, 6, 17, 47, 50, 0, 255 };
    for (uint32_t n = pick(5); n > 0; --n)
        r.protocols += (r.protocols.empty() ? "" : ",") + std::to_string(kProtocols[pick(9)]);
    auto ports = [&](std::string& list) {
        for (uint32_t n = pick(6); n > 0; --n) {
            std::string entry = std::to_string(1 + pick(65535));
            if (pick(2))
                entry += "-" + std::to_string(1 + pick(65535));
            if (list.size() + entry.size() + 1 > FilterListMax)
                break;
            list += (list.empty() ? "" : ",") + entry;
        }
    };
    ports(r.source_ports);
    ports(r.dest_ports);
    auto stations = [&](std::vector<FilterStation>& out) {
        for (uint32_t n = pick(3) == 0 ? pick(14) : pick(3); n > 0; --n) {
            FilterStation s;
            s.kind = static_cast<int32_t>(pick(5));
            switch (s.kind) {
            case FilterStationName:
                s.name = "pc" + std::string(pick(3) == 0 ? 38 + pick(20) : pick(6), 'n') + std::to_string(pick(1000));
                break;
            case FilterStationMac:
                for (uint8_t& b : s.mac)
                    b = static_cast<uint8_t>(pick(256));
                break;
            case FilterStationRange:
                s.first = static_cast<uint32_t>(rng());
                s.last = pick(2) ? s.first : s.first + pick(1000);
                break;
            case FilterStationNetwork:
                s.first = static_cast<uint32_t>(rng()) & 0xFFFFFF00u;
                s.last = std::vector<uint32_t> { 0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u, 0xFFFFFFFFu }[pick(4)];
                break;
            }
            out.push_back(s);
        }
    };
    stations(r.sources);
    stations(r.dests);
    return r;
}

TEST(FilterProperty, WrittenRulesReadBackNormalised)
{
    std::mt19937 rng(20);
    for (int round = 0; round < 300; ++round) {
        FilterTables t;
        std::vector<FilterRule> rules;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 6); i < n; ++i)
            rules.push_back(RandomRule(rng, round * 10 + i));
        ASSERT_EQ(FilterWrite(t.host, rules, 0, false, {}), 0) << "round " << round;
        for (const auto& row : t.Rows("RuleTable")) {
            EXPECT_LE(row[1].size(), FilterProtocolCellMax) << row[1];
            EXPECT_LE(row[2].size(), FilterStationCellMax) << row[2];
            EXPECT_LE(row[3].size(), FilterStationCellMax) << row[3];
        }
        for (const auto& row : t.Rows("ObjectTable")) {
            EXPECT_LE(row[0].size(), FilterObjectNameMax) << row[0];
            EXPECT_LE(row[1].size(), FilterDefinitionMax) << row[1];
        }
        FilterList list = FilterRead(t.host);
        ASSERT_TRUE(list.unreadable.empty())
            << "round " << round << ": " << list.unreadable[0].error.text << " @" << list.unreadable[0].error.position;
        ASSERT_EQ(list.rules.size(), rules.size());
        for (size_t i = 0; i < rules.size(); ++i) {
            FilterNormalize(&rules[i]);
            EXPECT_EQ(list.rules[i], rules[i]) << "round " << round << " rule " << i;
        }
    }
}

TEST(FilterProperty, FullObjectTableFailsOnlyTheRuleThatDoesNotFit)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 100; ++round) {
        FilterTables t("module_param maxobjects, " + std::to_string(4 + rng() % 8) + "\n");
        FilterLimits limits = FilterReadLimits(t.host);
        std::vector<FilterRule> rules;
        for (int i = 0; i < 8; ++i)
            rules.push_back(RandomRule(rng, round * 10 + i));
        int failed = FilterWrite(t.host, rules, 0, false, limits);
        EXPECT_LE(t.Rows("ObjectTable").size(), static_cast<size_t>(limits.maxObjects));
        FilterList list = FilterRead(t.host);
        ASSERT_TRUE(list.unreadable.empty()) << "round " << round;
        EXPECT_EQ(list.rules.size() + static_cast<size_t>(failed), rules.size());
        // The rules that were written read back as written, in order.
        size_t next = 0;
        for (const FilterRule& back : list.rules) {
            while (next < rules.size() && rules[next].name != back.name)
                ++next;
            ASSERT_LT(next, rules.size());
            FilterRule expected = rules[next++];
            FilterNormalize(&expected);
            EXPECT_EQ(back, expected);
        }
    }
}

} // namespace
