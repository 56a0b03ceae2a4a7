// Merged table entries: a device keeps a long cell value split over rows whose keys carry a suffix
// ("name#0", "name#1", ...); the table-editing dialog shows them joined as one row.
#include "common/text.h"
#include "config/store/cfg_store.h"

#include <cstring>

namespace {

constexpr char kSuffixes[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr size_t kMaxParts = sizeof kSuffixes - 1;

// What the table's merge_entrys list says, when the named column can be merged at all.
struct MergeSpec {
    size_t column = 0; // 0-based slot
    CfgItem* item = nullptr; // the column item
    char separator = '#';
    std::string splitChars;
    std::string join;
    uint32_t maxLen = 0; // without the merged mark
};

bool GetSpec(const CfgItem& table, MergeSpec* spec)
{
    if (!table.IsTable() || !table.List(CfgAttrMergeEntrys) || table.List(CfgAttrMergeEntrys)->Empty())
        return false;
    const CfgArgList& list = *table.List(CfgAttrMergeEntrys);
    std::optional<uint32_t> column = ParseUnsignedStrict(list.At(0));
    if (!column || *column < 2 || *column > table.columns.size())
        return false;
    CfgItem* item = table.columns[*column - 1].get();
    if (item->kind < CfgKindEntryText || item->kind > CfgKindEntryNumeric)
        return false;
    spec->maxLen = item->Number(CfgAttrMaxLen) & ~CfgMaxLenMerged;
    if (spec->maxLen == 0)
        return false;
    spec->column = *column - 1;
    spec->item = item;
    if (list.Count() > 1 && !list.At(1).empty())
        spec->separator = list.At(1)[0];
    spec->splitChars = std::string(list.At(2));
    spec->join = std::string(list.At(3));
    return true;
}

// Where the next part of `value` ends: after the last split character at or before max_len, else at
// max_len.
size_t SplitPoint(std::string_view value, const MergeSpec& spec)
{
    for (size_t i = spec.maxLen; i-- > 0;)
        if (!spec.splitChars.empty() && spec.splitChars.find(value[i]) != std::string::npos)
            return i + 1;
    return spec.maxLen;
}

} // namespace

void CfgMergeEntries(CfgItem& table)
{
    MergeSpec spec;
    if (!GetSpec(table, &spec))
        return;
    spec.item->SetNumber(CfgAttrMaxLen, spec.item->Number(CfgAttrMaxLen) | CfgMaxLenMerged);
    for (auto row = table.rows.begin(); row != table.rows.end(); ++row) {
        if (!row->cells[0])
            continue;
        std::string& key = *row->cells[0];
        size_t sep = key.find(spec.separator);
        if (sep == std::string::npos)
            continue;
        std::string prefix = key.substr(0, sep + 1);
        std::string joined = row->cells[spec.column].value_or(std::string());
        for (auto later = std::next(row); later != table.rows.end();) {
            const auto& laterKey = later->cells[0];
            if (!laterKey || laterKey->compare(0, prefix.size(), prefix) != 0) {
                ++later;
                continue;
            }
            std::string part = later->cells[spec.column].value_or(std::string());
            if (!spec.join.empty()) {
                char j = spec.join[0];
                bool endsWith = !joined.empty() && joined.back() == j;
                bool beginsWith = !part.empty() && part[0] == j;
                if (!endsWith && !beginsWith)
                    joined += spec.join;
            }
            joined += part;
            later = table.rows.erase(later);
        }
        key.resize(sep);
        if (joined.empty())
            row->cells[spec.column].reset();
        else
            row->cells[spec.column] = std::move(joined);
    }
}

void CfgSplitEntries(CfgItem& table)
{
    MergeSpec spec;
    if (!GetSpec(table, &spec))
        return;
    spec.item->SetNumber(CfgAttrMaxLen, spec.item->Number(CfgAttrMaxLen) & ~CfgMaxLenMerged);
    for (auto row = table.rows.begin(); row != table.rows.end(); ++row) {
        auto& cell = row->cells[spec.column];
        if (!cell || cell->size() <= spec.maxLen)
            continue;
        std::string key = row->cells[0].value_or(std::string());
        key.push_back(spec.separator);
        key.push_back(kSuffixes[0]);
        row->cells[0] = key;
        for (size_t part = 1; row->cells[spec.column]->size() > spec.maxLen; ++part) {
            // A value of more than 36 parts keeps its remainder in the last part rather than losing it.
            if (part >= kMaxParts)
                break;
            std::string& value = *row->cells[spec.column];
            size_t at = SplitPoint(value, spec);
            CfgRow next = *row;
            next.cells[0]->back() = kSuffixes[part];
            next.cells[spec.column] = value.substr(at);
            value.resize(at);
            row = table.rows.insert(std::next(row), std::move(next));
        }
    }
}

int CfgCountSplitRows(const CfgItem& table, std::string_view value)
{
    MergeSpec spec;
    if (!GetSpec(table, &spec) || !(spec.item->Number(CfgAttrMaxLen) & CfgMaxLenMerged))
        return 1;
    int rows = 1;
    while (value.size() > spec.maxLen && static_cast<size_t>(rows) < kMaxParts) {
        value.remove_prefix(SplitPoint(value, spec));
        ++rows;
    }
    return rows;
}
