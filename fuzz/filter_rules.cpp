// The filter's definition language on arbitrary table cells and object definitions: reading never
// crashes and reports a position inside the text; every rule read is written and read again to the same
// normalised rule, with every cell within its capacity and every definition within 64 characters.
#include "filterplugin/filter_test_util.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Clear(FilterTables& t)
{
    t.Table("RuleTable").rows.clear();
    t.Table("ObjectTable").rows.clear();
}

} // namespace

// Input: the protocol, source and destination cells on the first three lines, then object rows, each
// "name<TAB>definition" on a line of its own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FilterTables* tables = new FilterTables();
    FilterTables& t = *tables;
    Clear(t);
    std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= input.size() && lines.size() < 40) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos)
            end = input.size();
        lines.push_back(input.substr(at, end - at));
        at = end + 1;
    }
    while (lines.size() < 3)
        lines.emplace_back();
    t.Rule("fuzz", lines[0], lines[1], lines[2]);
    for (size_t i = 3; i < lines.size(); ++i) {
        size_t tab = lines[i].find('\t');
        t.Object(lines[i].substr(0, tab), tab == std::string::npos ? std::string() : lines[i].substr(tab + 1));
    }

    FilterRule rule;
    FilterReadError error;
    int rc = FilterReadRow(t.host, 0, &rule, &error);
    Check(rc >= 0);
    if (rc == 0) {
        Check(error.where >= FilterInProtocol && error.where <= FilterInObject);
        Check(error.position <= error.text.size());
        return 0;
    }
    Check(rule.protocols.size() <= FilterListMax && rule.source_ports.size() <= FilterListMax
        && rule.dest_ports.size() <= FilterListMax);

    Clear(t);
    int failed = FilterWrite(t.host, { rule }, 0, false, {});
    Check(failed == 0 || failed == 1);
    if (failed)
        return 0; // an item no object can hold (a station name of 63 characters)
    for (const auto& row : t.Rows("RuleTable"))
        Check(row[0].size() <= FilterRuleNameMax && row[1].size() <= FilterProtocolCellMax
            && row[2].size() <= FilterStationCellMax && row[3].size() <= FilterStationCellMax);
    for (const auto& row : t.Rows("ObjectTable"))
        Check(row[0].size() <= FilterObjectNameMax && row[1].size() <= FilterDefinitionMax);
    FilterRule back;
    Check(FilterReadRow(t.host, 0, &back, &error) == 1);
    Check(back == rule);
    return 0;
}
