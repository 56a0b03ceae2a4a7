#include "config/frontend/history_diff.h"

#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/store/display.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace {
const std::string kEmpty;

std::string SectionTitle(const CfgSection& section)
{
    return section.title && !section.title->empty() ? *section.title : section.name;
}

std::string Label(const CfgItem& item, size_t position = 0)
{
    if (item.description && !item.description->Empty() && !item.description->At(0).empty())
        return std::string(item.description->At(0));
    if (item.name)
        return *item.name;
    return std::to_string(position + 1);
}

struct Differ {
    const HistDiffOptions& options;
    std::vector<HistChange>* out;

    bool Secret(const CfgItem& item) const
    {
        return CfgIsSecret(item);
    }
    // The value as the table lists show it, a secret masked when asked.
    std::string Shown(const CfgItem& item, const std::optional<std::string>& value) const
    {
        if (Secret(item) && options.maskSecrets)
            return value && !value->empty() ? "*" : "";
        std::optional<std::string> text = CfgDisplayText(item, value, options.on, options.off, false);
        return text ? *text : value.value_or(kEmpty);
    }

    // One plain item: `a` and `b` are the values before and after; none of them for an item only one
    // of the two configurations has.
    void Plain(const std::string& section, const CfgItem& item, const std::optional<std::string>* a,
        const std::optional<std::string>* b) const
    {
        if (a && b && a->value_or(kEmpty) == b->value_or(kEmpty))
            return;
        HistChange c;
        c.section = section;
        c.label = Label(item);
        c.name = *item.name;
        c.secret = Secret(item);
        c.masked = c.secret && options.maskSecrets;
        c.kind = a && b ? HistChangeKind::Changed : (a ? HistChangeKind::Removed : HistChangeKind::Added);
        c.before = a ? Shown(item, *a) : std::string();
        c.after = b ? Shown(item, *b) : std::string();
        out->push_back(std::move(c));
    }

    std::string RowText(const CfgItem& table, const CfgRow& row) const
    {
        std::string text;
        size_t count = std::min(table.columns.size(), CfgMaxColumns);
        for (size_t c = 1; c < count; ++c) {
            if (!row.cells[c] || row.cells[c]->empty())
                continue;
            if (!text.empty())
                text += ", ";
            text += Label(*table.columns[c], c) + ": " + Shown(*table.columns[c], row.cells[c]);
        }
        return text;
    }

    void Table(const std::string& section, const CfgItem& a, const CfgItem* b) const
    {
        static const CfgItem empty;
        const CfgItem& bt = b ? *b : empty;
        auto keyOf = [](const CfgRow& row) -> const std::string& { return row.cells[0] ? *row.cells[0] : kEmpty; };
        std::unordered_map<std::string_view, const CfgRow*> inB;
        inB.reserve(bt.rows.size());
        for (const CfgRow& row : bt.rows)
            inB.emplace(keyOf(row), &row);
        std::unordered_set<std::string_view> seen;
        seen.reserve(a.rows.size());
        size_t count = std::min({ a.columns.size(), b ? b->columns.size() : a.columns.size(), CfgMaxColumns });
        std::string tableLabel = Label(a);
        auto rowChange = [&](const std::string& key, HistChangeKind kind, const CfgRow& row) {
            HistChange c;
            c.kind = kind;
            c.section = section;
            c.label = tableLabel + " [" + key + "]";
            c.name = *a.name + "[" + key + "]";
            (kind == HistChangeKind::Added ? c.after : c.before) = RowText(a, row);
            out->push_back(std::move(c));
        };
        for (const CfgRow& row : a.rows) {
            const std::string& key = keyOf(row);
            if (!seen.insert(key).second)
                continue;
            auto found = inB.find(key);
            if (found == inB.end()) {
                rowChange(key, HistChangeKind::Removed, row);
                continue;
            }
            const CfgRow& other = *found->second;
            for (size_t col = 1; col < count; ++col) {
                const std::optional<std::string>& va = row.cells[col];
                const std::optional<std::string>& vb = other.cells[col];
                if (va.value_or(kEmpty) == vb.value_or(kEmpty))
                    continue;
                const CfgItem& column = *a.columns[col];
                HistChange c;
                c.section = section;
                c.label = tableLabel + " [" + key + "] " + Label(column, col);
                c.name = *a.name + "[" + key + "]." + (column.name ? *column.name : std::to_string(col + 1));
                c.secret = Secret(column) || a.Number(CfgAttrHidden);
                c.masked = c.secret && options.maskSecrets;
                c.before = c.masked ? (va && !va->empty() ? "*" : "") : Shown(column, va);
                c.after = c.masked ? (vb && !vb->empty() ? "*" : "") : Shown(column, vb);
                out->push_back(std::move(c));
            }
        }
        for (const CfgRow& row : bt.rows)
            if (seen.insert(keyOf(row)).second)
                rowChange(keyOf(row), HistChangeKind::Added, row);
    }
};

// The n-th item of that name in `desc` that is (or is not) a table.
const CfgItem* Nth(const CfgDescription& desc, const std::string& lowered, bool table, size_t n)
{
    auto named = desc.names.byName.find(lowered);
    if (named == desc.names.byName.end())
        return nullptr;
    for (const CfgItem* item : named->second)
        if (item->IsTable() == table && n-- == 0)
            return item;
    return nullptr;
}
} // namespace

std::vector<HistChange> HistCompare(
    const CfgDescription& before, const CfgDescription& after, const HistDiffOptions& options)
{
    std::vector<HistChange> out;
    Differ differ { options, &out };
    // Occurrences of each name seen so far in `before`: the k-th item of a name matches the k-th.
    std::map<std::pair<std::string, bool>, size_t> seen;
    for (const auto& section : before.sections) {
        std::string title = SectionTitle(*section);
        for (const auto& item : section->items) {
            if (!item->name)
                continue;
            std::string lowered = StrLower(*item->name);
            size_t n = seen[{ lowered, item->IsTable() }]++;
            const CfgItem* other = Nth(after, lowered, item->IsTable(), n);
            if (item->IsTable())
                differ.Table(title, *item, other);
            else
                differ.Plain(title, *item, &item->value, other ? &other->value : nullptr);
        }
    }
    // What only `after` has (another firmware's description).
    std::map<std::pair<std::string, bool>, size_t> counted;
    for (const auto& section : after.sections) {
        std::string title = SectionTitle(*section);
        for (const auto& item : section->items) {
            if (!item->name)
                continue;
            std::string lowered = StrLower(*item->name);
            size_t n = counted[{ lowered, item->IsTable() }]++;
            auto known = seen.find({ lowered, item->IsTable() });
            if (known != seen.end() && n < known->second)
                continue;
            if (item->IsTable()) {
                // Every row of a table the old configuration lacks is new.
                for (const CfgRow& row : item->rows) {
                    HistChange c;
                    c.kind = HistChangeKind::Added;
                    c.section = title;
                    std::string key = row.cells[0].value_or(kEmpty);
                    c.label = Label(*item) + " [" + key + "]";
                    c.name = *item->name + "[" + key + "]";
                    c.after = differ.RowText(*item, row);
                    out.push_back(std::move(c));
                }
            } else {
                differ.Plain(title, *item, nullptr, &item->value);
            }
        }
    }
    return out;
}

std::string HistChangesText(const std::vector<HistChange>& changes)
{
    if (changes.empty())
        return "no changes\n";
    std::string out;
    const std::string* section = nullptr;
    auto shown = [](const std::string& text) { return text.empty() ? std::string("(none)") : text; };
    for (const HistChange& c : changes) {
        if (!section || *section != c.section) {
            out += "[" + c.section + "]\n";
            section = &c.section;
        }
        out += "  " + c.label + ": ";
        switch (c.kind) {
        case HistChangeKind::Added:
            out += "added" + (c.after.empty() ? std::string() : " (" + c.after + ")");
            break;
        case HistChangeKind::Removed:
            out += "removed" + (c.before.empty() ? std::string() : " (" + c.before + ")");
            break;
        case HistChangeKind::Changed:
            if (c.masked && !c.before.empty() && !c.after.empty())
                out += "(secret value changed)";
            else
                out += shown(c.before) + " -> " + shown(c.after);
            break;
        }
        out += "\n";
    }
    return out;
}
