#include "config/frontend/printout.h"

#include "common/locale.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/description/cfg_types.h"
#include "config/frontend/cfgpage.h"
#include "config/frontend/jobs.h"
#include "config/frontend/valuerules.h"
#include "config/store/display.h"
#include "config/store/display_pattern.h"
#include "filterplugin/filter_pages.h"
#include "filterplugin/filter_tables.h"

#include <algorithm>

namespace {

constexpr int kIndentStep = 2; // per group level
constexpr int kMaxDepth = 3; // deeper groups are not indented further
constexpr int kMinLabel = 6; // an item's description gets at least this much room
constexpr int kGap = 2; // between description and value
constexpr int kMinColumn = 6; // a table column gets at least this much room (less when its texts are shorter)
constexpr int kFooterLines = 2; // a blank line and "Page %d of %d"

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

bool IsBlank(char c)
{
    return c == ' ' || IsControl(c);
}

using Block = PrintBlock;

// The plug-in tables the suite knows: the string id of the first column's header, the others follow
// in cell order.
struct KnownTable {
    const char* name;
    unsigned firstHeader;
    size_t columns;
};
const KnownTable kKnownTables[] = {
    { "RuleTable", PrintStrRuleColumns, 6 },
    { "ObjectTable", PrintStrObjectColumns, 2 },
};

// Wrapped lines of a text: each piece is `size` characters at `at` in `text`.
struct Pieces {
    std::string text;
    std::vector<std::pair<uint32_t, uint32_t>> at;
    size_t size() const
    {
        return at.size();
    }
    std::string_view operator[](size_t n) const
    {
        return std::string_view(text.data() + at[n].first, at[n].second);
    }
    void clear()
    {
        text.clear();
        at.clear();
    }
};

// Appends `text` wrapped at `width` to `out` (see CfgWrapText).
void WrapInto(std::string_view text, int width, Pieces* out)
{
    width = std::max(width, 1);
    const size_t w = static_cast<size_t>(width);
    auto piece = [&](size_t from) {
        out->at.emplace_back(static_cast<uint32_t>(from), static_cast<uint32_t>(out->text.size() - from));
    };
    // Most values are short and plain: one line as they stand.
    if (text.size() <= w && !text.empty() && !IsBlank(text.front())
        && std::none_of(text.begin(), text.end(), IsControl)) {
        size_t from = out->text.size();
        out->text.append(text);
        piece(from);
        return;
    }
    size_t line = out->text.size(); // where the line being filled starts
    size_t at = 0;
    while (at < text.size()) {
        // The blanks before the next word, then the word.
        size_t blanks = at;
        while (blanks < text.size() && IsBlank(text[blanks]))
            ++blanks;
        if (blanks == text.size())
            break;
        size_t end = blanks;
        while (end < text.size() && !IsBlank(text[end]))
            ++end;
        size_t used = out->text.size() - line;
        size_t space = used ? blanks - at : 0;
        size_t word = end - blanks;
        if (used && used + space + word > w) {
            piece(line);
            line = out->text.size();
            used = 0;
            space = 0;
        }
        if (used + space + word <= w) {
            out->text.append(space, ' ');
            out->text.append(text.substr(blanks, word));
        } else {
            // A word longer than a line: broken where the line ends.
            size_t p = blanks;
            while (p < end) {
                size_t take = std::min(w - (out->text.size() - line), end - p);
                out->text.append(text.substr(p, take));
                p += take;
                if (p < end) {
                    piece(line);
                    line = out->text.size();
                }
            }
        }
        at = end;
    }
    if (out->text.size() > line)
        piece(line);
}

// The caption of the filter page's rule list, "Filter rules:" in the plug-in's string table.
constexpr unsigned kFilterRulesCaption = 200;

bool IsNamedTable(const CfgItem& item, const char* name)
{
    return item.IsTable() && item.name && StrEqualNoCase(*item.name, name);
}

// The IP filter's page: a plug-in section that holds both of its tables. Its rules print as the rule
// editor shows them rather than as the cells of the definition language.
bool IsFilterSection(const CfgSection& section)
{
    if (!section.IsPlugin())
        return false;
    bool rules = false, objects = false;
    for (const auto& item : section.items) {
        rules = rules || IsNamedTable(*item, FilterRuleTable);
        objects = objects || IsNamedTable(*item, FilterObjectTable);
    }
    return rules && objects;
}

// One line of a rule as printed: its label ("Source:") and value; an empty label continues the field
// above (a further station).
struct RuleLine {
    std::string label;
    std::string value;
    bool unreadable = false; // the place where reading a row stopped
};

// The lines of the filter summary text ("Label:\tvalue" joined by CR LF).
void SplitSummary(const std::string& text, std::vector<RuleLine>* out)
{
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        end = end == std::string::npos ? text.size() : end;
        std::string_view line(text.data() + at, end - at);
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            out->push_back(RuleLine { std::string(), std::string(line), false });
        else
            out->push_back(RuleLine { std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)), false });
        at = end + 2;
    }
}

// The rules of the filter in table order, each as the lines the user reads: a readable rule as the
// filter's summary shows it (names, protocol names, stations, action words), a row that cannot be
// read with its name and the text where reading stopped.
std::vector<std::vector<RuleLine>> FilterRuleLines(const CfgSection& section)
{
    // Reading goes through the plug-in functions on the section's tables and changes nothing.
    PluginContext context;
    context.kind = PluginKindConfig;
    context.section = const_cast<CfgSection*>(&section);
    const FilterHost host = FilterHostDirect(&context);
    std::vector<std::vector<RuleLine>> rules;
    for (int32_t row = 0;; ++row) {
        FilterRule rule;
        FilterReadError error;
        int rc = FilterReadRow(host, row, &rule, &error);
        if (rc < 0)
            break;
        rules.emplace_back();
        if (rc > 0) {
            SplitSummary(FilterSummaryText(rule), &rules.back());
            continue;
        }
        std::vector<std::string> cells;
        FilterGetRow(host, FilterRuleTable, row, 1, &cells);
        std::string name = FilterStr(FilterStrSummaryName);
        name = name.substr(0, name.find('\t'));
        rules.back().push_back(RuleLine { name, cells.empty() ? std::string() : cells[0], false });
        std::string where
            = StrFormat(StrLoad(qorvexal_Strings(), PrintStrUnreadable).c_str(), FilterWhereName(error).c_str());
        rules.back().push_back(RuleLine { where, error.text, true });
    }
    return rules;
}

class Builder {
public:
    Builder(const PrintOptions& options, const std::string& on, const std::string& off, Printout& out)
        : columns_(std::max(options.columns, PrintMinColumns))
        , mask_(options.hidePasswords)
        , on_(on)
        , off_(off)
        , out_(out)
        , lines_(out.body)
        , blocks_(out.blocks)
    {
        out_.cells.clear();
        out_.texts.clear();
        lines_.clear();
        blocks_.clear();
    }

    void Reserve(size_t lines)
    {
        lines_.reserve(lines + 16);
        blocks_.reserve(lines + 16);
        out_.cells.reserve(2 * lines + 16);
        out_.texts.reserve(24 * lines);
    }
    void Header(const PrintHeader& header);
    void Section(const CfgSection& section);
    void Paginate(int linesPerPage);

private:
    int Begin(bool keepWithNext, bool gapBefore = false, int32_t header = -1)
    {
        Block b;
        b.first = static_cast<uint32_t>(lines_.size());
        b.keepWithNext = keepWithNext;
        b.gapBefore = gapBefore;
        b.header = header;
        blocks_.push_back(b);
        return static_cast<int>(blocks_.size() - 1);
    }
    void End()
    {
        blocks_.back().count = static_cast<uint32_t>(lines_.size()) - blocks_.back().first;
    }
    void NewLine(PrintStyle style)
    {
        lines_.push_back(PrintLine { style, static_cast<uint32_t>(out_.cells.size()), 0 });
    }
    // A cell at the end of the last line.
    void Cell(int x, std::string_view text, PrintPart part, const CfgItem* item = nullptr, const CfgRow* row = nullptr)
    {
        out_.cells.push_back(PrintCell {
            x, static_cast<uint32_t>(out_.texts.size()), static_cast<uint32_t>(text.size()), part, item, row });
        out_.texts.append(text);
        ++lines_.back().cellCount;
    }
    // A text wrapped at `x` to the line's end, one line each.
    void Wrapped(PrintStyle style, int x, std::string_view text, PrintPart part, const CfgItem* item = nullptr);
    void Item(const CfgItem& item, int indent, int labelColumn);
    void Table(const CfgItem& table, int indent);
    void FilterRules(const CfgSection& section, const CfgItem& table, int indent);
    std::string Display(const CfgItem& item, const std::optional<std::string>& value)
    {
        std::optional<std::string> text = CfgDisplayText(item, value, on_, off_, mask_);
        return text ? std::move(*text) : std::string();
    }

    int columns_;
    bool mask_;
    const std::string& on_;
    const std::string& off_;
    Printout& out_;
    std::vector<PrintLine>& lines_; // every line of the body in order
    std::vector<Block>& blocks_;
    Pieces wrapA_, wrapB_; // reused by the wrapping
};

void Builder::Wrapped(PrintStyle style, int x, std::string_view text, PrintPart part, const CfgItem* item)
{
    wrapA_.clear();
    WrapInto(text, columns_ - x, &wrapA_);
    for (size_t k = 0; k < wrapA_.size(); ++k) {
        NewLine(style);
        Cell(x, wrapA_[k], part, item);
    }
}

void Builder::Header(const PrintHeader& header)
{
    const std::pair<unsigned, const std::string*> fields[] = {
        { PrintStrDeviceName, &header.deviceName },
        { PrintStrDeviceType, &header.deviceType },
        { PrintStrFirmware, &header.firmware },
        { PrintStrSource, &header.source },
        { PrintStrPrinted, &header.date },
    };
    std::string labels[5];
    int labelWidth = 0;
    for (int i = 0; i < 5; ++i) {
        labels[i] = StrLoad(qorvexal_Strings(), fields[i].first);
        labelWidth = std::max(labelWidth, static_cast<int>(labels[i].size()));
    }
    labelWidth = std::min(labelWidth, columns_ / 2);
    const int valueX = labelWidth + 1;
    for (int i = 0; i < 5; ++i) {
        Begin(false);
        wrapA_.clear();
        wrapB_.clear();
        WrapInto(labels[i], labelWidth, &wrapA_);
        WrapInto(*fields[i].second, columns_ - valueX, &wrapB_);
        size_t n = std::max<size_t>({ wrapA_.size(), wrapB_.size(), 1 });
        for (size_t k = 0; k < n; ++k) {
            NewLine(PrintStyle::Header);
            if (k < wrapA_.size())
                Cell(0, wrapA_[k], PrintPart::Text);
            if (k < wrapB_.size())
                Cell(valueX, wrapB_[k], PrintPart::Text);
        }
        End();
    }
    Begin(false);
    NewLine(PrintStyle::Rule);
    Cell(0, std::string(static_cast<size_t>(columns_), '='), PrintPart::Text);
    End();
}

void Builder::Item(const CfgItem& item, int indent, int labelColumn)
{
    std::optional<std::string> value = CfgDisplayText(item, item.value, on_, off_, mask_);
    if (!value)
        return;
    const int valueX = labelColumn + kGap;
    Begin(false);
    wrapA_.clear();
    wrapB_.clear();
    WrapInto(CfgItemLabel(item), labelColumn - indent, &wrapA_);
    WrapInto(*value, columns_ - valueX, &wrapB_);
    size_t n = std::max<size_t>({ wrapA_.size(), wrapB_.size(), 1 });
    for (size_t k = 0; k < n; ++k) {
        NewLine(PrintStyle::Item);
        if (k < wrapA_.size())
            Cell(indent, wrapA_[k], PrintPart::Label, &item);
        if (k < wrapB_.size())
            Cell(valueX, wrapB_[k], PrintPart::Value, &item);
    }
    End();
}

// A column's least width: its header's longest word, or kMinColumn when that is more; never more than
// the column's natural width or the room.
std::vector<int> LeastWidths(const std::vector<std::string>& headers, const std::vector<int>& natural, int room)
{
    std::vector<int> least(headers.size());
    for (size_t c = 0; c < headers.size(); ++c) {
        int word = kMinColumn;
        for (size_t at = 0; at < headers[c].size();) {
            size_t end = headers[c].find(' ', at);
            end = end == std::string::npos ? headers[c].size() : end;
            word = std::max(word, static_cast<int>(end - at));
            at = end + 1;
        }
        least[c] = std::min({ natural[c], word, room });
    }
    return least;
}

// The columns side by side when they fit; otherwise bands of as many as fit at their least width,
// each band after the first led by the key column again when there is room for it.
std::vector<std::vector<size_t>> TableBands(const std::vector<int>& natural, const std::vector<int>& least, int room)
{
    const size_t n = natural.size();
    std::vector<std::vector<size_t>> bands;
    int all = -3;
    for (size_t c = 0; c < n; ++c)
        all += natural[c] + 3;
    if (all <= room) {
        bands.emplace_back();
        for (size_t c = 0; c < n; ++c)
            bands.back().push_back(c);
        return bands;
    }
    std::vector<size_t> band { 0 };
    int used = least[0];
    for (size_t c = 1; c < n; ++c) {
        if (used + 3 + least[c] <= room) {
            band.push_back(c);
            used += 3 + least[c];
            continue;
        }
        bands.push_back(std::move(band));
        if (least[0] + 3 + least[c] <= room) {
            band = { 0, c };
            used = least[0] + 3 + least[c];
        } else {
            band = { c };
            used = least[c];
        }
    }
    bands.push_back(std::move(band));
    return bands;
}

// A band's widths: the least width each, the rest of the room shared by what each column lacks.
std::vector<int> BandWidths(
    const std::vector<size_t>& band, const std::vector<int>& natural, const std::vector<int>& least, int room)
{
    const size_t k = band.size();
    std::vector<int> width(k);
    int used = -3, lack = 0;
    for (size_t i = 0; i < k; ++i) {
        width[i] = least[band[i]];
        used += width[i] + 3;
        lack += natural[band[i]] - width[i];
    }
    int spare = room - used;
    if (lack <= spare) {
        for (size_t i = 0; i < k; ++i)
            width[i] = natural[band[i]];
    } else if (spare > 0) {
        int given = 0;
        for (size_t i = 0; i < k; ++i) {
            int more = static_cast<int>(static_cast<int64_t>(spare) * (natural[band[i]] - width[i]) / lack);
            width[i] += more;
            given += more;
        }
        for (size_t i = 0; i < k && given < spare; ++i)
            if (width[i] < natural[band[i]]) {
                ++width[i];
                ++given;
            }
    }
    return width;
}

void Builder::Table(const CfgItem& table, int indent)
{
    const size_t n = std::min(table.columns.size(), CfgMaxColumns);
    if (n == 0)
        return;
    const int room = columns_ - indent;
    std::vector<std::string> headers(n);
    std::vector<int> natural(n, 1);
    for (size_t c = 0; c < n; ++c) {
        headers[c] = CfgColumnHeader(table, c);
        natural[c] = std::max(natural[c], static_cast<int>(headers[c].size()));
    }
    std::vector<std::vector<std::string>> cells;
    cells.reserve(table.rows.size());
    std::vector<const CfgRow*> rows;
    for (const CfgRow& row : table.rows) {
        rows.push_back(&row);
        cells.emplace_back(n);
        for (size_t c = 0; c < n; ++c) {
            cells.back()[c] = Display(*table.columns[c], row.cells[c]);
            natural[c] = std::max(natural[c], static_cast<int>(cells.back()[c].size()));
        }
    }
    const std::vector<int> least = LeastWidths(headers, natural, room);
    for (const std::vector<size_t>& band : TableBands(natural, least, room)) {
        const size_t k = band.size();
        const std::vector<int> width = BandWidths(band, natural, least, room);
        std::vector<int> x(k);
        for (size_t i = 0, at = static_cast<size_t>(indent); i < k; ++i) {
            x[i] = static_cast<int>(at);
            at += static_cast<size_t>(width[i]) + 3;
        }

        Begin(true, true);
        Wrapped(PrintStyle::Caption, indent, CfgItemLabel(table), PrintPart::Label, &table);
        End();

        // A row of wrapped texts, one per column of the band, with the separators between them.
        std::vector<Pieces> pieces(k);
        auto gridLines = [&](PrintStyle style, PrintPart part, const CfgRow* row) {
            size_t height = 1;
            for (size_t i = 0; i < k; ++i)
                height = std::max(height, pieces[i].size());
            for (size_t h = 0; h < height; ++h) {
                NewLine(style);
                for (size_t i = 0; i < k; ++i) {
                    if (i > 0)
                        Cell(x[i] - 2, "|", PrintPart::Grid);
                    if (h < pieces[i].size())
                        Cell(x[i], pieces[i][h], part, table.columns[band[i]].get(), row);
                }
            }
        };
        int32_t header = Begin(true);
        for (size_t i = 0; i < k; ++i) {
            pieces[i].clear();
            WrapInto(headers[band[i]], width[i], &pieces[i]);
        }
        gridLines(PrintStyle::TableHeader, PrintPart::Label, nullptr);
        std::string rule;
        for (size_t i = 0; i < k; ++i) {
            if (i > 0)
                rule += "-+-";
            rule.append(static_cast<size_t>(width[i]), '-');
        }
        NewLine(PrintStyle::Rule);
        Cell(indent, rule, PrintPart::Text);
        End();
        for (size_t r = 0; r < rows.size(); ++r) {
            Begin(false, false, header);
            for (size_t i = 0; i < k; ++i) {
                pieces[i].clear();
                WrapInto(cells[r][band[i]], width[i], &pieces[i]);
            }
            gridLines(PrintStyle::TableRow, PrintPart::Value, rows[r]);
            End();
        }
    }
}

void Builder::FilterRules(const CfgSection& section, const CfgItem& table, int indent)
{
    std::vector<std::vector<RuleLine>> rules = FilterRuleLines(section);
    std::string caption = FilterStr(kFilterRulesCaption);
    std::erase(caption, '&');
    while (!caption.empty() && (caption.back() == ':' || caption.back() == ' '))
        caption.pop_back();
    Begin(!rules.empty(), true);
    Wrapped(PrintStyle::Caption, indent, caption, PrintPart::Label, &table);
    End();
    // The values start after the longest label of all rules, leaving them at least half of the line.
    const int x = indent + kIndentStep;
    int labelColumn = x + kMinLabel;
    // The labels of readable rules set the column; the longer one of an unreadable row wraps.
    for (const auto& rule : rules)
        for (const RuleLine& line : rule)
            if (!line.unreadable)
                labelColumn = std::max(labelColumn, x + static_cast<int>(line.label.size()));
    labelColumn = std::min(labelColumn, std::max(x + kMinLabel, columns_ / 2 - kGap));
    const int valueX = labelColumn + kGap;
    // A rule is one block: its lines stay on one page when they fit on one.
    for (const auto& rule : rules) {
        Begin(false, true);
        for (const RuleLine& line : rule) {
            wrapA_.clear();
            wrapB_.clear();
            WrapInto(line.label, labelColumn - x, &wrapA_);
            WrapInto(line.value, columns_ - valueX, &wrapB_);
            size_t n = std::max<size_t>({ wrapA_.size(), wrapB_.size(), 1 });
            for (size_t k = 0; k < n; ++k) {
                NewLine(PrintStyle::Item);
                if (k < wrapA_.size())
                    Cell(x, wrapA_[k], PrintPart::Text);
                if (k < wrapB_.size())
                    Cell(valueX, wrapB_[k], PrintPart::Text);
            }
        }
        End();
    }
}

void Builder::Section(const CfgSection& section)
{
    // Where the values start: after the longest description (with its group's indent), but leaving
    // the values at least three fifths of the line.
    const int cap = std::max(kMinLabel, columns_ * 2 / 5 - kGap);
    int labelColumn = 0;
    int depth = 0, deepest = 0;
    bool any = false;
    for (const auto& item : section.items) {
        if (item->kind == CfgKindGroup || item->kind == CfgKindGroupLogo) {
            ++depth;
            continue;
        }
        if (item->kind == CfgKindGroupEnd) {
            depth = std::max(depth - 1, 0);
            continue;
        }
        if (!item->name || CfgKindIsDecoration(item->kind))
            continue;
        if (item->IsTable()) {
            any = any || !item->columns.empty();
            continue;
        }
        any = true;
        int indent = kIndentStep * std::min(depth, kMaxDepth);
        deepest = std::max(deepest, indent);
        labelColumn = std::max(labelColumn, indent + static_cast<int>(CfgItemLabel(*item).size()));
    }
    if (!any)
        return;
    labelColumn = std::max(std::min(labelColumn, cap), deepest + kMinLabel);

    Begin(true, true);
    Wrapped(PrintStyle::Heading, 0, section.title ? *section.title : section.name, PrintPart::Text);
    End();
    const bool filter = IsFilterSection(section);
    depth = 0;
    for (const auto& item : section.items) {
        int indent = kIndentStep * std::min(depth, kMaxDepth);
        switch (item->kind) {
        case CfgKindGroup:
        case CfgKindGroupLogo: {
            std::string caption = CfgDecorationText(*item);
            if (!caption.empty()) {
                Begin(true, true);
                Wrapped(PrintStyle::Caption, indent, caption, PrintPart::Text, item.get());
                End();
            }
            ++depth;
            continue;
        }
        case CfgKindGroupEnd:
            depth = std::max(depth - 1, 0);
            continue;
        default:
            break;
        }
        if (!item->name || CfgKindIsDecoration(item->kind))
            continue;
        if (filter && IsNamedTable(*item, FilterRuleTable))
            FilterRules(section, *item, indent);
        else if (filter && IsNamedTable(*item, FilterObjectTable))
            continue; // its definitions are printed where the rules use them
        else if (item->IsTable())
            Table(*item, indent);
        else
            Item(*item, indent, labelColumn);
    }
}

void Builder::Paginate(int linesPerPage)
{
    const size_t body = static_cast<size_t>(std::max(linesPerPage, PrintMinLines) - kFooterLines);
    // The pages of an earlier layout keep their storage for the new ones.
    std::vector<PrintPage>& pages = out_.pages;
    size_t pageCount = 0;
    auto newPage = [&] {
        if (pageCount == pages.size())
            pages.emplace_back();
        pages[pageCount].lines.clear();
        pages[pageCount].lines.reserve(body + kFooterLines);
        ++pageCount;
    };
    newPage();
    size_t used = 0;
    // The column headers of the table whose row is being placed, repeated at the top of a page the
    // table continues on (unless they would take half of the page).
    const Block* inTable = nullptr;
    auto repeatHeaders = [&] {
        if (!inTable || inTable->count * 2 > body)
            return;
        for (uint32_t l = 0; l < inTable->count; ++l)
            pages[pageCount - 1].lines.push_back(lines_[inTable->first + l]);
        used = inTable->count;
    };
    auto put = [&](const PrintLine& line) {
        if (used >= body) {
            newPage();
            used = 0;
            repeatHeaders();
        }
        pages[pageCount - 1].lines.push_back(line);
        ++used;
    };
    // Lines a block needs on the page together with the blocks it keeps with it: all of the last one
    // when it fits on a page, else its first line.
    auto needed = [&](size_t i) {
        size_t keep = 0;
        while (blocks_[i].keepWithNext && i + 1 < blocks_.size()) {
            keep += blocks_[i].count;
            ++i;
            if (blocks_[i].gapBefore)
                ++keep;
        }
        size_t last = blocks_[i].count;
        return keep + (keep + last <= body ? last : std::min<size_t>(last, 1));
    };
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const Block& b = blocks_[i];
        inTable = b.header >= 0 ? &blocks_[static_cast<size_t>(b.header)] : nullptr;
        size_t gap = b.gapBefore && used > 0 ? 1 : 0;
        size_t need = gap + needed(i);
        if (used > 0 && used + need > body && need - gap <= body) {
            newPage();
            used = 0;
            gap = 0;
            repeatHeaders();
        }
        if (gap && used < body) {
            pages[pageCount - 1].lines.emplace_back();
            ++used;
        }
        for (uint32_t l = 0; l < b.count; ++l)
            put(lines_[b.first + l]);
    }
    pages.resize(pageCount);
    // The foot of every page (its line added to the body's end).
    const std::string pattern = StrLoad(qorvexal_Strings(), PrintStrPage);
    const int total = static_cast<int>(pages.size());
    for (int p = 0; p < total; ++p) {
        PrintPage& page = pages[static_cast<size_t>(p)];
        page.lines.resize(std::max(page.lines.size(), body + 1));
        std::string text = StrFormat(pattern.c_str(), p + 1, total);
        text.resize(std::min(text.size(), static_cast<size_t>(columns_)));
        NewLine(PrintStyle::Footer);
        Cell((columns_ - static_cast<int>(text.size())) / 2, text, PrintPart::Text);
        page.lines.push_back(lines_.back());
    }
}

} // namespace

std::string CfgColumnHeader(const CfgItem& table, size_t column)
{
    if (column >= table.columns.size())
        return std::string();
    const CfgItem& item = *table.columns[column];
    if ((item.description && !item.description->Empty()) || !table.name || !item.name
        || *item.name != std::to_string(column + 1))
        return CfgItemLabel(item);
    for (const KnownTable& known : kKnownTables)
        if (*table.name == known.name && column < known.columns)
            return StrLoad(qorvexal_Strings(), known.firstHeader + static_cast<unsigned>(column));
    return CfgItemLabel(item);
}

std::vector<std::string> CfgWrapText(std::string_view text, int width)
{
    Pieces pieces;
    WrapInto(text, width, &pieces);
    std::vector<std::string> out;
    for (size_t k = 0; k < pieces.size(); ++k)
        out.emplace_back(pieces[k]);
    return out;
}

void CfgLayoutPrintout(
    const CfgDescription& desc, const PrintHeader& header, const PrintOptions& options, Printout* out)
{
    const std::string on = StrLoad(qorvexal_Strings(), CfgStrOn);
    const std::string off = StrLoad(qorvexal_Strings(), CfgStrOff);
    Builder b(options, on, off, *out);
    // Room for about one line of two cells per item and row, so that the buffers do not grow by copying.
    size_t count = 0;
    for (const auto& section : desc.sections)
        for (const auto& item : section->items)
            count += 1 + item->rows.size();
    b.Reserve(count);
    b.Header(header);
    for (const auto& section : desc.sections)
        b.Section(*section);
    b.Paginate(options.lines);
}

Printout CfgLayoutPrintout(const CfgDescription& desc, const PrintHeader& header, const PrintOptions& options)
{
    Printout out;
    CfgLayoutPrintout(desc, header, options, &out);
    return out;
}

std::string CfgPrintoutText(const Printout& printout)
{
    std::string out;
    CfgPrintoutText(printout, &out);
    return out;
}

void CfgPrintoutText(const Printout& printout, std::string* text)
{
    std::string& out = *text;
    out.clear();
    out.reserve(printout.texts.size() * 2);
    for (size_t p = 0; p < printout.pages.size(); ++p) {
        if (p > 0)
            out += '\f';
        for (const PrintLine& line : printout.pages[p].lines) {
            size_t start = out.size();
            for (const PrintCell& cell : printout.Cells(line)) {
                size_t at = start + static_cast<size_t>(cell.x);
                if (out.size() < at)
                    out.append(at - out.size(), ' ');
                out += printout.Text(cell);
            }
            out += '\n';
        }
    }
}

PrintHeader CfgPrintHeader(
    const CfgDescription& desc, const std::string& type, const std::string& firmware, const std::string& source)
{
    PrintHeader h;
    h.deviceName = JobConfigName(desc);
    h.deviceType = type;
    h.firmware = firmware;
    h.source = source;
    CfgToday today = CfgCurrentDate();
    h.date = CurrentLocale().ShortDate(LocaleDate {
        static_cast<uint16_t>(today.year), static_cast<uint16_t>(today.month), static_cast<uint16_t>(today.day) });
    return h;
}
