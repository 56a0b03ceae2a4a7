#include "config/frontend/jobs_diff.h"

#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/store/cfg_store.h"

#include <algorithm>
#include <set>

namespace {
// The value of a plain name as the configuration text carries it: same-named bit fields combined.
std::optional<std::string> PlainValue(const CfgDescription& desc, const std::string& name)
{
    auto named = desc.names.byName.find(StrLower(name));
    if (named == desc.names.byName.end())
        return std::nullopt;
    std::vector<CfgBitPart> parts;
    for (const CfgItem* item : named->second)
        if (!item->IsTable())
            parts.push_back(CfgBitPart { item->id, &item->value });
    if (parts.empty())
        return std::nullopt;
    return CfgCombineBits(parts);
}

const CfgItem* FindTable(const CfgDescription& desc, const std::string& name)
{
    auto named = desc.names.byName.find(StrLower(name));
    if (named == desc.names.byName.end())
        return nullptr;
    for (const CfgItem* item : named->second)
        if (item->IsTable())
            return item;
    return nullptr;
}

std::string ColumnName(const CfgItem& table, size_t c)
{
    const CfgItem& column = *table.columns[c];
    return column.name ? *column.name : std::to_string(c + 1);
}

bool SecretColumn(const CfgItem& table, size_t c)
{
    return table.Number(CfgAttrHidden) || CfgIsSecret(*table.columns[c]);
}

const CfgRow* RowOf(const CfgItem& table, const std::string& key)
{
    for (const CfgRow& row : table.rows)
        if (row.cells[0].value_or(std::string()) == key)
            return &row;
    return nullptr;
}

void DiffTable(const CfgItem& a, const CfgItem* b, std::vector<CfgDiffLine>* out)
{
    size_t count = std::min(a.columns.size(), CfgMaxColumns);
    std::vector<std::string> keys;
    std::set<std::string> seen;
    for (const CfgRow& row : a.rows)
        if (seen.insert(row.cells[0].value_or(std::string())).second)
            keys.push_back(row.cells[0].value_or(std::string()));
    if (b)
        for (const CfgRow& row : b->rows)
            if (seen.insert(row.cells[0].value_or(std::string())).second)
                keys.push_back(row.cells[0].value_or(std::string()));
    for (const std::string& key : keys) {
        const CfgRow* ra = RowOf(a, key);
        const CfgRow* rb = b ? RowOf(*b, key) : nullptr;
        std::string rowName = *a.name + "[" + key + "]";
        if (!ra || !rb) {
            CfgDiffLine line;
            line.name = rowName;
            line.added = !ra;
            line.removed = !rb;
            const CfgRow& row = ra ? *ra : *rb;
            std::string& text = ra ? line.before : line.after;
            for (size_t c = 1; c < count; ++c) {
                if (!text.empty())
                    text += ", ";
                text += ColumnName(a, c) + "=" + (SecretColumn(a, c) ? "***" : row.cells[c].value_or(std::string()));
            }
            out->push_back(std::move(line));
            continue;
        }
        for (size_t c = 1; c < count; ++c) {
            std::string va = ra->cells[c].value_or(std::string());
            std::string vb = rb->cells[c].value_or(std::string());
            if (va == vb)
                continue;
            CfgDiffLine line;
            line.name = rowName + "." + ColumnName(a, c);
            line.secret = SecretColumn(a, c);
            line.before = va;
            line.after = vb;
            out->push_back(std::move(line));
        }
    }
}
} // namespace

std::vector<CfgDiffLine> CfgDiff(const CfgDescription& before, const CfgDescription& after)
{
    std::vector<CfgDiffLine> out;
    std::set<std::string> done;
    for (const auto& section : before.sections) {
        for (const auto& item : section->items) {
            if (!item->name || !done.insert(StrLower(*item->name) + (item->IsTable() ? "[]" : "")).second)
                continue;
            if (item->IsTable()) {
                DiffTable(*item, FindTable(after, *item->name), &out);
                continue;
            }
            std::string a = PlainValue(before, *item->name).value_or(std::string());
            std::string b = PlainValue(after, *item->name).value_or(std::string());
            if (a == b)
                continue;
            CfgDiffLine line;
            line.name = *item->name;
            line.secret = CfgIsSecret(*item);
            line.before = a;
            line.after = b;
            out.push_back(std::move(line));
        }
    }
    return out;
}

std::string CfgDiffText(const std::vector<CfgDiffLine>& lines)
{
    std::string text;
    for (const CfgDiffLine& line : lines) {
        if (line.added)
            text += line.name + ": added (" + line.after + ")\n";
        else if (line.removed)
            text += line.name + ": removed (" + line.before + ")\n";
        else if (line.secret)
            text += line.name + ": (secret value changed)\n";
        else
            text += line.name + ": \"" + line.before + "\" -> \"" + line.after + "\"\n";
    }
    return text;
}

int CfgAssign(CfgDescription& desc, std::string_view assignment, std::string* error)
{
    size_t eq = assignment.find('=');
    if (eq == std::string_view::npos || eq == 0) {
        *error = "not NAME=VALUE: " + std::string(assignment);
        return 0;
    }
    std::string name(Trim(assignment.substr(0, eq)));
    std::string value(assignment.substr(eq + 1));
    size_t open = name.find('[');
    if (open != std::string::npos) {
        // TABLE[KEY].COLUMN: the row with that key, made when missing.
        size_t close = name.find(']', open);
        if (close == std::string::npos || close + 1 >= name.size() || name[close + 1] != '.') {
            *error = "not TABLE[KEY].COLUMN=VALUE: " + std::string(assignment);
            return 0;
        }
        CfgItem* table = const_cast<CfgItem*>(FindTable(desc, name.substr(0, open)));
        if (!table) {
            *error = "no such table: " + name.substr(0, open);
            return 0;
        }
        std::string key = name.substr(open + 1, close - open - 1);
        int column = CfgColumnIndex(*table, name.substr(close + 2));
        if (column <= 0 || static_cast<size_t>(column) >= std::min(table->columns.size(), CfgMaxColumns)) {
            *error = "no such column: " + name;
            return 0;
        }
        CfgRow* row = CfgRowByKey(*table, key, true);
        if (!row) {
            *error = "no room for another row in " + *table->name;
            return 0;
        }
        row->cells[static_cast<size_t>(column)] = value;
        table->changed = 1;
        return 1;
    }
    CfgItem* item = CfgFindItem(desc, name);
    if (!item || item->IsTable()) {
        *error = item ? name + " is a table: name a cell as TABLE[KEY].COLUMN" : "no such item: " + name;
        return 0;
    }
    if (item->kind == CfgKindReadonlyText) {
        *error = name + " is read-only";
        return 0;
    }
    if ((item->kind == CfgKindEntryText || item->kind == CfgKindEntryNumbers || item->kind == CfgKindEntryHex)
        && !CfgCheckText(*item, 0, value)) {
        *error = "invalid characters for " + name + ": " + value;
        return 0;
    }
    if ((item->kind == CfgKindEntryText || item->kind == CfgKindEntryNumbers || item->kind == CfgKindEntryHex)
        && item->Number(CfgAttrMaxLen) && value.size() > item->Number(CfgAttrMaxLen)) {
        *error = name + " takes at most " + std::to_string(item->Number(CfgAttrMaxLen)) + " characters";
        return 0;
    }
    if (item->kind == CfgKindEntryIpAddress && !value.empty() && !CfgInetAddr(value)) {
        *error = "not an IP address for " + name + ": " + value;
        return 0;
    }
    if (item->List(CfgAttrItemValue) && (item->kind == CfgKindSelectionList || item->kind == CfgKindSelectionButtons)) {
        bool found = false;
        for (size_t i = 0; i < item->List(CfgAttrItemValue)->Count(); ++i)
            found = found || item->List(CfgAttrItemValue)->At(i) == value;
        if (!found) {
            *error = value + " is not one of the choices for " + name;
            return 0;
        }
    }
    CfgSetItemValue(*item, value);
    return 1;
}
