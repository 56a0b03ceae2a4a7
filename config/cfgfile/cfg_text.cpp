// The configuration text reader (text -> store) and writer (old text + store -> new text).
#include "common/diag.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/cfgfile/cfg_line.h"
#include "config/store/cfg_store.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <unordered_map>
#include <vector>

namespace {

// Row numbers of cell lines above this are refused: each row costs memory, and a hostile text must not
// make the reader allocate without bound.
constexpr uint32_t kMaxCellRow = 16384;

// Reads one line of at most CfgMaxTextLine characters; the rest of a longer line is dropped.
bool ReadTextLine(CfgTempStream& in, std::string* line)
{
    if (!in.ReadLine(line))
        return false;
    if (line->size() > CfgMaxTextLine)
        line->resize(CfgMaxTextLine);
    return true;
}

// Stores a read value into one item or cell: bit-field items keep the number AND their id; an empty
// value leaves none.
void StoreValue(std::optional<std::string>& slot, std::string_view value, uint32_t id)
{
    if (value.empty())
        slot.reset();
    else if (id)
        slot = CfgBitsValue(value, id);
    else
        slot = std::string(value);
}

// Position of every item of the description in section order, for "every later item of the name" after
// an item found by its alias (made only when such a line comes).
using Ordinals = std::unordered_map<const CfgItem*, size_t>;

const Ordinals& NumberItems(const CfgDescription& desc, Ordinals* ord)
{
    if (!ord->empty())
        return *ord;
    size_t n = 0;
    for (const auto& section : desc.sections)
        for (const auto& item : section->items)
            ord->emplace(item.get(), n++);
    return *ord;
}

void ReadItemLine(
    const CfgDescription& desc, Ordinals* ord, CfgItem* found, std::string_view name, std::string_view value)
{
    // The found item and every later item of the same name, up to the first table among them.
    if (found->IsTable())
        return;
    StoreValue(found->value, value, found->id);
    size_t hash = name.rfind('#');
    std::string_view base = hash == std::string_view::npos ? name : name.substr(0, hash);
    if (!found->name || !StrEqualNoCase(*found->name, base))
        base = name;
    const CfgItemRefs* list = CfgItemsNamed(desc, base);
    if (!list)
        return;
    auto next = std::find(list->begin(), list->end(), found);
    if (next != list->end()) {
        ++next;
    } else {
        const Ordinals& at = NumberItems(desc, ord);
        size_t after = at.at(found);
        next = std::upper_bound(
            list->begin(), list->end(), after, [&](size_t pos, const CfgItem* item) { return pos < at.at(item); });
    }
    for (; next != list->end(); ++next) {
        CfgItem* item = *next;
        if (item->IsTable())
            break;
        StoreValue(item->value, value, item->id);
    }
}

void ReadColumnLine(
    const CfgTarget& t, int line, std::string_view name, std::string_view value, std::string_view cutName)
{
    if (!t.item || !t.item->IsTable()) {
        std::string n(cutName), v(value);
        Diag("reading config, line %d - table not found: %s = %s\n", line, n.c_str(), v.c_str());
        return;
    }
    CfgItem& table = *t.item;
    uint32_t column = CfgLeadingHex(t.columnText);
    if (column == 1)
        table.rows.emplace_back();
    if (column < 1 || column > CfgMaxColumns || table.rows.empty()) {
        Diag("reading config, line %d - table entry invalid\n", line);
        return;
    }
    CfgRow& row = table.rows.back();
    size_t slot = column - 1;
    const CfgItem* col = slot < table.columns.size() ? table.columns[slot].get() : nullptr;
    StoreValue(row.cells[slot], value, col ? col->id : 0);
    // Columns that share the name of a bit-field column take their own bits of the same value.
    if (!col || !col->id || !col->name)
        return;
    size_t count = std::min(table.columns.size(), CfgMaxColumns);
    for (size_t j = 0; j < count; ++j) {
        const CfgItem& other = *table.columns[j];
        if (j != slot && other.id && other.name && StrEqualNoCase(*other.name, *col->name))
            StoreValue(row.cells[j], value, other.id);
    }
}

// The rows of the tables that cell lines name, by number. A table keeps its rows in a list, which walks
// to its n-th row; a text of many numbered cell lines must not cost the square of its rows.
class RowIndex {
public:
    // Row `index` (from 0) of `table`, which grows to that many rows first. Reading only appends rows.
    CfgRow& At(CfgItem& table, size_t index)
    {
        while (table.rows.size() <= index)
            table.rows.emplace_back();
        std::vector<CfgRow*>& rows = rows_[&table];
        if (rows.size() > table.rows.size())
            rows.clear();
        if (rows.size() < table.rows.size()) {
            auto it = std::prev(table.rows.end(), static_cast<std::ptrdiff_t>(table.rows.size() - rows.size()));
            for (; it != table.rows.end(); ++it)
                rows.push_back(&*it);
        }
        return *rows[index];
    }

private:
    std::unordered_map<const CfgItem*, std::vector<CfgRow*>> rows_;
};

void ReadCellLine(const CfgTarget& t, int line, std::string_view value, RowIndex* index)
{
    if (!t.item || !t.item->IsTable()) {
        std::string n(t.table);
        Diag("reading config, line %d - table not found: %s\n", line, n.c_str());
        return;
    }
    CfgItem& table = *t.item;
    uint32_t row = CfgLeadingDecimal(t.rowText);
    uint32_t column = CfgLeadingDecimal(t.columnText);
    if (row == 0 || column == 0 || column >= 65 || row > kMaxCellRow) {
        Diag("reading config, line %d - table entry invalid\n", line);
        return;
    }
    CfgRow& cells = index->At(table, row - 1);
    size_t count = std::min(table.columns.size(), CfgMaxColumns);
    for (size_t j = 0; j < count; ++j) {
        const CfgItem& col = *table.columns[j];
        if (col.name && !col.name->empty() && (*col.name)[0] >= '0' && (*col.name)[0] <= '9'
            && CfgLeadingDecimal(*col.name) == column)
            StoreValue(cells.cells[j], value, col.id);
    }
}

} // namespace

void CfgReadFile(CfgTempStream& text, CfgDescription& desc)
{
    text.Rewind();
    Ordinals ord;
    RowIndex rows;
    std::string raw;
    bool inside = false;
    int line = 0;
    while (ReadTextLine(text, &raw)) {
        ++line;
        std::string_view t = CfgTrimLine(raw);
        CfgLineKind kind = CfgLineKindOf(t);
        if (kind == CfgLineKind::Section) {
            inside = true;
            continue;
        }
        if (!inside || kind == CfgLineKind::Empty || kind == CfgLineKind::Brace || kind == CfgLineKind::Row)
            continue;
        if (kind == CfgLineKind::Other) {
            Diag("reading config, line %d - format error\n", line);
            continue;
        }
        size_t eq = t.find('=');
        std::string_view name = Trim(t.substr(0, eq));
        std::string_view value = Trim(t.substr(eq + 1));
        CfgTarget target = CfgClassifyName(desc, name);
        switch (target.form) {
        case CfgTarget::Cell:
            ReadCellLine(target, line, value, &rows);
            break;
        case CfgTarget::Column:
            ReadColumnLine(target, line, name, value, target.table);
            break;
        case CfgTarget::Item:
            if (!target.item) {
                std::string n(name), v(value);
                Diag("reading config, line %d - item not found: %s = %s\n", line, n.c_str(), v.c_str());
                break;
            }
            ReadItemLine(desc, &ord, target.item, name, value);
            break;
        }
    }
    text.Rewind();
}

namespace {

// Collects the new text and hands it to the stream in large pieces.
class Out {
public:
    explicit Out(CfgTempStream& stream)
        : stream_(stream)
    {
    }
    ~Out()
    {
        Flush();
    }
    void Add(std::string_view a)
    {
        buffer_.append(a);
        if (buffer_.size() >= 1 << 16)
            Flush();
    }
    template<typename... T> void Line(T... parts)
    {
        (Add(parts), ...);
        Add("\r\n");
    }
    void Flush()
    {
        stream_.Write(buffer_);
        buffer_.clear();
    }

private:
    CfgTempStream& stream_;
    std::string buffer_;
};

// Fills the empty cells of the auto_index column with the smallest numbers no row has there yet.
void FillAutoIndex(CfgItem& table)
{
    if (!table.List(CfgAttrAutoIndex) || table.List(CfgAttrAutoIndex)->Empty())
        return;
    uint32_t column = ParseUnsigned(table.List(CfgAttrAutoIndex)->At(0));
    if (column < 1 || column > std::min(table.columns.size(), CfgMaxColumns))
        return;
    bool withWidth = table.List(CfgAttrAutoIndex)->Count() > 1;
    // A width beyond any sensible key is cut, so a bad description cannot make huge keys.
    int width
        = withWidth ? static_cast<int>(std::min<uint32_t>(ParseUnsigned(table.List(CfgAttrAutoIndex)->At(1)), 64)) : 0;
    size_t slot = column - 1;
    std::set<std::string> used;
    for (const CfgRow& row : table.rows)
        if (row.cells[slot] && !row.cells[slot]->empty())
            used.insert(*row.cells[slot]);
    int n = 1;
    for (CfgRow& row : table.rows) {
        if (row.cells[slot] && !row.cells[slot]->empty())
            continue;
        std::string text;
        // Numbers only grow as cells are filled, so the search goes on from the last one.
        for (;; ++n) {
            text = withWidth ? StrFormat("%0*d", width, n) : StrFormat("%d", n);
            if (!used.count(text))
                break;
        }
        used.insert(text);
        row.cells[slot] = text;
    }
}

void WriteItems(const CfgDescription& desc, Out& out)
{
    std::vector<CfgBitPart> parts;
    for (const auto& section : desc.sections) {
        for (const auto& item : section->items) {
            if (item->IsTable() || !item->name)
                continue;
            // Only the item that CfgFindItem finds under the name writes: the first of the name, unless
            // another item has the name as its alias.
            const CfgItemRefs* same = CfgItemsNamed(desc, *item->name);
            if (!same || same->front() != item.get())
                continue;
            bool plain = desc.names.byAlias.empty() && item->name->find('#') == std::string::npos;
            if (!plain && CfgFindItem(desc, *item->name) != item.get())
                continue;
            if (same->size() == 1 && !item->id) {
                out.Line("    ", *item->name, " = ", item->value ? std::string_view(*item->value) : std::string_view());
                continue;
            }
            parts.clear();
            for (const CfgItem* other : *same)
                if (!other->IsTable())
                    parts.push_back(CfgBitPart { other->id, &other->value });
            out.Line("    ", *item->name, " = ", CfgCombineBits(parts).value_or(std::string()));
        }
    }
}

void WriteTable(CfgItem& table, Out& out)
{
    if (!table.name)
        return;
    FillAutoIndex(table);
    const std::string& name = *table.name;
    bool dotted = name.find('.') != std::string::npos;
    size_t count = std::min(table.columns.size(), CfgMaxColumns);
    // For every column: whether it writes (first of its name) and the slots combined into it.
    std::vector<std::vector<size_t>> groups(count);
    for (size_t c = 0; c < count; ++c) {
        const CfgItem& col = *table.columns[c];
        if (!col.name) {
            groups[c].push_back(c);
            continue;
        }
        if (CfgFindColumn(table, *col.name) != &col)
            continue;
        for (size_t j = 0; j < count; ++j)
            if (table.columns[j]->name && StrEqualNoCase(*table.columns[j]->name, *col.name))
                groups[c].push_back(j);
    }
    std::vector<CfgBitPart> parts;
    unsigned long rowNumber = 0;
    for (const CfgRow& row : table.rows) {
        ++rowNumber;
        out.Line("    <", name, ">");
        for (size_t c = 0; c < count; ++c) {
            if (groups[c].empty())
                continue;
            parts.clear();
            for (size_t j : groups[c])
                parts.push_back(CfgBitPart { table.columns[j]->id, &row.cells[j] });
            std::string value = CfgCombineBits(parts).value_or(std::string());
            const CfgItem& col = *table.columns[c];
            if (!dotted || !col.name)
                out.Line("      ", StrFormat("%s-%02x", name.c_str(), static_cast<unsigned>(c + 1)), " = ", value);
            else
                out.Line("      (", name, StrFormat(".%lu.", rowNumber), *col.name, ") = ", value);
        }
    }
}

// Copies one old line the store does not own; false when the line is a format error.
bool KeepLine(const CfgDescription& desc, std::string_view t, Out& out)
{
    size_t eq = t.find('=');
    std::string_view name = Trim(t.substr(0, eq));
    std::string value(Trim(t.substr(eq + 1)));
    CfgTarget target = CfgClassifyName(desc, name);
    if (target.item)
        return true; // the store writes it after "{Changed}"
    std::string table(target.table);
    if (target.form == CfgTarget::Column && target.wellFormed) {
        out.Line("      ", StrFormat("%s-%02x", table.c_str(), CfgLeadingHex(target.columnText)), " = ", value);
    } else if (target.form == CfgTarget::Cell && target.wellFormed) {
        out.Line("      ",
            StrFormat("(%s.%lu.%lu)", table.c_str(), static_cast<unsigned long>(CfgLeadingDecimal(target.rowText)),
                static_cast<unsigned long>(CfgLeadingDecimal(target.columnText))),
            " = ", value);
    } else if (target.form == CfgTarget::Item) {
        out.Line("    ", name, " = ", value);
    } else {
        // A column or cell form whose numbers do not read: kept exactly as it was named.
        out.Line("      ", name, " = ", value);
    }
    return true;
}

} // namespace

CfgTempStream CfgWriteFile(CfgTempStream old, CfgDescription& desc)
{
    CfgTempStream fresh;
    if (!fresh.Open()) {
        old.Rewind();
        return old;
    }
    {
        Out out(fresh);
        old.Rewind();
        std::string raw;
        bool inside = false;
        int line = 0;
        while (ReadTextLine(old, &raw)) {
            ++line;
            std::string_view t = CfgTrimLine(raw);
            CfgLineKind kind = CfgLineKindOf(t);
            if (kind == CfgLineKind::Section) {
                out.Line(t);
                inside = true;
                continue;
            }
            if (!inside || kind == CfgLineKind::Empty)
                continue;
            switch (kind) {
            case CfgLineKind::Brace:
                if (t.substr(0, 9) != "{Changed}")
                    out.Line("  ", t);
                break;
            case CfgLineKind::Row:
                if (!CfgFindItem(desc, CfgRowLineName(t)))
                    out.Line("    <", CfgRowLineName(t), ">");
                break;
            case CfgLineKind::Assign:
                KeepLine(desc, t, out);
                break;
            default:
                Diag("writing config, line %d - format error\n", line);
                break;
            }
        }
        old.Close();
        out.Line("  {Changed}");
        WriteItems(desc, out);
        for (const auto& section : desc.sections)
            for (const auto& item : section->items)
                if (item->IsTable())
                    WriteTable(*item, out);
    }
    fresh.Rewind();
    return fresh;
}
