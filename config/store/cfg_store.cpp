// Lookups and changes of the configuration store.
#include "config/store/cfg_store.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace {

// Splits "name#n" into the name and n (1 when there is no "#" followed only by decimal digits).
std::string_view SplitOrdinal(std::string_view name, uint32_t* n)
{
    *n = 1;
    size_t hash = name.rfind('#');
    if (hash == std::string_view::npos || hash + 1 >= name.size())
        return name;
    uint32_t value = 0;
    for (size_t i = hash + 1; i < name.size(); ++i) {
        char c = name[i];
        if (c < '0' || c > '9')
            return name;
        value = value * 10u + static_cast<uint32_t>(c - '0');
    }
    *n = value;
    return name.substr(0, hash);
}

// True when the text is wholly decimal digits (at least one).
bool AllDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

// ---- lookups ----

CfgItem* CfgFindItem(const CfgDescription& desc, std::string_view name)
{
    uint32_t n = 1;
    std::string_view base = SplitOrdinal(name, &n);
    if (!desc.names.byAlias.empty()) {
        auto alias = desc.names.byAlias.FindNoCase(base);
        if (alias != desc.names.byAlias.end())
            return alias->second;
    }
    auto named = desc.names.byName.FindNoCase(base);
    if (named == desc.names.byName.end() || n == 0 || n > named->second.size())
        return nullptr;
    return named->second[n - 1];
}

const CfgItemRefs* CfgItemsNamed(const CfgDescription& desc, std::string_view name)
{
    auto named = desc.names.byName.FindNoCase(name);
    return named == desc.names.byName.end() ? nullptr : &named->second;
}

CfgItem* CfgFindNextItem(const CfgDescription& desc, std::string_view name, const CfgItem* after)
{
    auto named = desc.names.byName.FindNoCase(name);
    if (named == desc.names.byName.end())
        return nullptr;
    const CfgItemRefs& list = named->second;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == after)
            return i + 1 < list.size() ? list[i + 1] : nullptr;
    // `after` has another name (found by its alias): walk the sections to learn where it stands.
    bool passed = false;
    size_t next = 0;
    for (const auto& section : desc.sections) {
        for (const auto& item : section->items) {
            if (next < list.size() && list[next] == item.get()) {
                if (passed)
                    return item.get();
                ++next;
            }
            if (item.get() == after)
                passed = true;
        }
    }
    return nullptr;
}

CfgItem* CfgFindColumn(const CfgItem& table, std::string_view name)
{
    uint32_t n = 1;
    std::string_view base = SplitOrdinal(name, &n);
    for (const auto& column : table.columns) {
        if (column->name && StrEqualNoCase(*column->name, base)) {
            if (--n == 0)
                return column.get();
        }
    }
    return nullptr;
}

CfgSection* CfgSectionOf(const CfgDescription& desc, const CfgItem* item)
{
    if (!item)
        return nullptr;
    const CfgItem* holder = item->table ? item->table : item;
    for (const auto& section : desc.sections)
        for (const auto& it : section->items)
            if (it.get() == holder)
                return section.get();
    return nullptr;
}

CfgItem* CfgGroupOf(const CfgDescription& desc, const CfgItem* item)
{
    CfgSection* section = CfgSectionOf(desc, item);
    if (!section)
        return nullptr;
    const CfgItem* holder = item->table ? item->table : item;
    CfgItem* group = nullptr;
    for (const auto& it : section->items) {
        if (it.get() == holder)
            return group;
        if (it->kind == CfgKindGroup || it->kind == CfgKindGroupLogo)
            group = it.get();
        else if (it->kind == CfgKindGroupEnd)
            group = nullptr;
    }
    return nullptr;
}

bool CfgIsModified(const CfgDescription& desc)
{
    for (const auto& section : desc.sections) {
        for (const auto& item : section->items) {
            if (item->changed)
                return true;
            for (const auto& column : item->columns)
                if (column->changed)
                    return true;
        }
    }
    return false;
}

int CfgColumnIndex(const CfgItem& table, std::string_view text)
{
    // A row has CfgMaxColumns cells: a column beyond them (a table that declares more) holds nothing.
    size_t count = std::min(table.columns.size(), CfgMaxColumns);
    if (AllDigits(text)) {
        std::optional<uint32_t> n = ParseUnsignedStrict(text);
        if (n && *n >= 1 && *n <= count)
            return static_cast<int>(*n - 1);
    }
    for (size_t i = 0; i < count; ++i) {
        const auto& name = table.columns[i]->name;
        if (name && *name == text)
            return static_cast<int>(i);
    }
    return -1;
}

CfgRow* CfgRowAt(CfgItem& table, size_t index)
{
    if (index >= table.rows.size())
        return nullptr;
    auto it = table.rows.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(index));
    return &*it;
}

CfgRow* CfgRowByKey(CfgItem& table, std::string_view key, bool create)
{
    for (CfgRow& row : table.rows)
        if (row.cells[0] && StrEqualNoCase(*row.cells[0], key))
            return &row;
    if (create) {
        table.rows.emplace_back();
        if (!key.empty())
            table.rows.back().cells[0] = std::string(key);
        return &table.rows.back();
    }
    std::optional<uint32_t> n = ParseUnsignedStrict(key);
    if (!n || *n == 0 || Trim(key).size() != key.size())
        return nullptr;
    return CfgRowAt(table, *n - 1);
}

bool CfgRowValues(CfgItem& table, std::string_view key, std::vector<std::string>* out)
{
    out->clear();
    CfgRow* row = CfgRowByKey(table, key, false);
    if (!row)
        return false;
    size_t count = std::min(table.columns.size(), CfgMaxColumns);
    for (size_t c = 0; c < count; ++c)
        if (row->cells[c] && !row->cells[c]->empty())
            out->push_back(*row->cells[c]);
    return true;
}

bool CfgColumnValues(CfgItem& table, std::string_view column, std::vector<std::string>* out)
{
    out->clear();
    int c = CfgColumnIndex(table, column);
    if (c < 0)
        return false;
    for (const CfgRow& row : table.rows)
        if (row.cells[c] && !row.cells[c]->empty())
            out->push_back(*row.cells[c]);
    return true;
}

bool CfgResolveName(CfgDescription* wizard, CfgDescription* config, std::string_view qualified, CfgResolved* out)
{
    *out = CfgResolved {};
    std::string_view name;
    if (qualified.substr(0, 7) == "wizard.") {
        out->desc = wizard;
        name = qualified.substr(7);
    } else if (qualified.substr(0, 7) == "config.") {
        out->desc = config;
        name = qualified.substr(7);
    } else {
        return false;
    }
    if (!out->desc)
        return false;
    // The n-th item of a name counts the first found (aliases first) and then the following names.
    auto find = [&](std::string_view full) -> CfgItem* {
        uint32_t n = 1;
        std::string_view base = SplitOrdinal(full, &n);
        if (n == 0)
            return nullptr;
        CfgItem* item = CfgFindItem(*out->desc, base);
        while (item && --n > 0)
            item = CfgFindNextItem(*out->desc, base, item);
        return item;
    };
    if ((out->item = find(name)) != nullptr)
        return true;
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    std::string_view column = name.substr(dot + 1);
    std::string_view rest = name.substr(0, dot);
    size_t dot2 = rest.rfind('.');
    if (dot2 == std::string_view::npos)
        return false;
    std::string_view row = rest.substr(dot2 + 1);
    rest = rest.substr(0, dot2);
    out->item = find(rest);
    if (!out->item)
        return false;
    out->row = std::string(row);
    out->column = std::string(column);
    return true;
}

bool CfgValueOf(
    CfgDescription* wizard, CfgDescription* config, std::string_view qualified, std::vector<std::string>* out)
{
    out->clear();
    CfgResolved r;
    if (!CfgResolveName(wizard, config, qualified, &r))
        return false;
    CfgItem& item = *r.item;
    bool addressed = r.row.has_value();
    if (!item.IsTable()) {
        if (addressed)
            return false;
        out->push_back(item.value.value_or(std::string()));
        return true;
    }
    if (!addressed)
        return false;
    const std::string& row = *r.row;
    const std::string& column = *r.column;
    if (row == "0" && column == "0")
        return false;
    if (row == "0")
        return CfgColumnValues(item, column, out);
    if (column == "0")
        return CfgRowValues(item, row, out);
    CfgRow* cells = CfgRowByKey(item, row, false);
    int c = CfgColumnIndex(item, column);
    if (!cells || c < 0)
        return false;
    out->push_back(cells->cells[c].value_or(std::string()));
    return true;
}

std::optional<std::string> CfgMapValue(
    const std::optional<std::string>& value, const CfgOptArgList& texts, const CfgOptArgList& values, uint32_t index)
{
    if (!texts)
        return std::nullopt;
    size_t position;
    if (!value) {
        position = index;
    } else if (values) {
        position = values->Count();
        size_t i = 0;
        for (std::string_view v : *values) {
            if (v == *value) {
                position = i;
                break;
            }
            ++i;
        }
    } else {
        int32_t n = ParseDecimal(*value);
        if (n < 0)
            return value;
        position = static_cast<size_t>(n);
    }
    if (position < texts->Count())
        return std::string(texts->At(position));
    return value;
}

// ---- changes ----

void CfgSetItemValue(CfgItem& item, const std::optional<std::string>& value)
{
    item.value = value;
    item.changed = 1;
}

int CfgRowInsert(CfgItem& table, int position)
{
    if (!table.IsTable())
        return -1;
    size_t count = table.rows.size();
    size_t at = (position < 0 || static_cast<size_t>(position) >= count) ? count : static_cast<size_t>(position);
    auto it = table.rows.begin();
    std::advance(it, static_cast<std::ptrdiff_t>(at));
    table.rows.emplace(it);
    table.changed = 1;
    return static_cast<int>(at);
}

int CfgRowSet(CfgItem& table, int index, int lastColumn, const char* const* values)
{
    if (!table.IsTable() || index < 0)
        return 0;
    CfgRow* row = CfgRowAt(table, static_cast<size_t>(index));
    if (!row)
        return 0;
    size_t count = std::min(table.columns.size(), CfgMaxColumns);
    for (size_t c = 0; c < count; ++c) {
        if (lastColumn >= 0 && c <= static_cast<size_t>(lastColumn) && values && values[c])
            row->cells[c] = std::string(values[c]);
        else
            row->cells[c].reset();
    }
    table.changed = 1;
    return static_cast<int>(table.columns.size());
}

int CfgRowDelete(CfgItem& table, int index)
{
    if (!table.IsTable() || index < 0 || static_cast<size_t>(index) >= table.rows.size())
        return 0;
    auto it = table.rows.begin();
    std::advance(it, index);
    table.rows.erase(it);
    table.changed = 1;
    return 1;
}

// ---- entered text ----

bool CfgCheckText(const CfgItem& item, char extra, std::string_view text)
{
    static const char kText[] = "@{|}~!$%&'()+-,/:;<=>?[\\]^_.`";
    auto allowed = [&](char c) -> bool {
        switch (item.kind) {
        case CfgKindEntryText:
        case CfgKindSelectionFromTable:
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
                return true;
            if (c != '\0' && std::strchr(kText, c))
                return true;
            return item.Text(CfgAttrAddToCharset) && item.Text(CfgAttrAddToCharset)->find(c) != std::string::npos;
        case CfgKindEntryNumbers:
            if (c >= '0' && c <= '9')
                return true;
            return item.Text(CfgAttrAddToCharset) && item.Text(CfgAttrAddToCharset)->find(c) != std::string::npos;
        case CfgKindEntryHex:
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        case CfgKindEntryIpAddress:
            return (c >= '0' && c <= '9') || c == '.';
        default:
            return true;
        }
    };
    if (extra != '\0' && !allowed(extra))
        return false;
    for (char c : text)
        if (!allowed(c))
            return false;
    return true;
}

// ---- bit fields and addresses ----

std::string CfgBitsValue(std::string_view text, uint32_t id)
{
    // Read as strtoul reads: a sign may lead (the writer writes signed decimal).
    std::string_view t = TrimLeft(text);
    bool negative = !t.empty() && t[0] == '-';
    if (!t.empty() && (t[0] == '-' || t[0] == '+'))
        t.remove_prefix(1);
    uint32_t number = ParseUnsigned(t);
    uint32_t value = (negative ? 0u - number : number) & id;
    return StrFormat("%d", static_cast<int32_t>(value));
}

std::optional<std::string> CfgCombineBits(const std::vector<CfgBitPart>& parts)
{
    std::optional<std::string> result;
    for (const CfgBitPart& part : parts) {
        if (!part.value || !*part.value)
            continue;
        if (!part.id) {
            result = **part.value;
            continue;
        }
        uint32_t so_far = result ? static_cast<uint32_t>(ParseDecimal(*result)) : 0u;
        uint32_t mine = static_cast<uint32_t>(ParseDecimal(**part.value));
        uint32_t combined = (so_far & ~part.id) | (mine & part.id);
        result = StrFormat("%d", static_cast<int32_t>(combined));
    }
    return result;
}

std::optional<uint32_t> CfgInetAddr(std::string_view text)
{
    // inet_addr: one to four parts, each decimal, octal ("0") or hexadecimal ("0x"); the last part fills
    // the remaining bytes.
    uint32_t parts[4] = {};
    size_t count = 0;
    size_t i = 0;
    while (true) {
        if (count == 4 || i >= text.size() || !(text[i] >= '0' && text[i] <= '9'))
            return std::nullopt;
        uint64_t value = 0;
        unsigned base = 10;
        if (text[i] == '0') {
            base = 8;
            ++i;
            if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
                base = 16;
                ++i;
            }
        }
        while (i < text.size()) {
            char c = text[i];
            int d = (c >= '0' && c <= '9') ? c - '0'
                : (c >= 'a' && c <= 'f')   ? c - 'a' + 10
                : (c >= 'A' && c <= 'F')   ? c - 'A' + 10
                                           : 99;
            if (d >= static_cast<int>(base))
                break;
            value = value * base + static_cast<unsigned>(d);
            if (value > 0xFFFFFFFFull)
                return std::nullopt;
            ++i;
        }
        parts[count++] = static_cast<uint32_t>(value);
        if (i < text.size() && text[i] == '.') {
            ++i;
            continue;
        }
        break;
    }
    if (i != text.size())
        return std::nullopt;
    uint32_t addr = 0;
    switch (count) {
    case 1:
        addr = parts[0];
        break;
    case 2:
        if (parts[0] > 255 || parts[1] > 0xFFFFFF)
            return std::nullopt;
        addr = parts[0] << 24 | parts[1];
        break;
    case 3:
        if (parts[0] > 255 || parts[1] > 255 || parts[2] > 0xFFFF)
            return std::nullopt;
        addr = parts[0] << 24 | parts[1] << 16 | parts[2];
        break;
    default:
        if (parts[0] > 255 || parts[1] > 255 || parts[2] > 255 || parts[3] > 255)
            return std::nullopt;
        addr = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
        break;
    }
    return addr;
}
