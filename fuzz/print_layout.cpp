// The printout's layout on random descriptions, values and page sizes: the first bytes choose the
// width, the page length and the password option, the rest builds sections, groups, items of every
// kind with their values and tables with rows. Every line stays within the width, every page has its
// length and its footer, and every value and description is printed whole (the key column and the
// headers of a table printed in bands once per band).
#include "common/strings.h"
#include "config/description/cfg_types.h"
#include "config/frontend/printout.h"
#include "config/frontend/valuerules.h"
#include "config/store/display.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace {
struct Input {
    const uint8_t* at;
    const uint8_t* end;
    uint8_t Byte()
    {
        return at < end ? *at++ : 0;
    }
    std::string Text()
    {
        size_t n = Byte() % 48;
        n = std::min(n, static_cast<size_t>(end - at));
        std::string t(reinterpret_cast<const char*>(at), n);
        at += n;
        return t;
    }
};

std::string Squeeze(const std::string& text)
{
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ' && c != 0x7F)
            out += c;
    return out;
}

// True when `printed` is `text` once or more, as far as the printable characters go.
bool Whole(const std::string& printed, const std::string& text)
{
    std::string p = Squeeze(printed), t = Squeeze(text);
    if (t.empty())
        return p.empty();
    if (p.size() % t.size() != 0 || p.empty())
        return false;
    for (size_t at = 0; at < p.size(); at += t.size())
        if (p.compare(at, t.size(), t) != 0)
            return false;
    return true;
}

CfgArgList One(const std::string& text)
{
    CfgArgList list;
    list.Append(text);
    return list;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in { data, data + size };
    PrintOptions options;
    options.columns = PrintMinColumns + in.Byte() % 181;
    options.lines = PrintMinLines + in.Byte() % 69;
    options.hidePasswords = (in.Byte() & 1) != 0;

    CfgDescription desc;
    CfgSection* section = nullptr;
    int count = 0;
    while (in.at < in.end && ++count < 200) {
        uint8_t op = in.Byte();
        if (!section || op % 8 == 0) {
            section = desc.AddSection("s", in.Text());
            continue;
        }
        switch (op % 8) {
        case 1:
        case 2: {
            CfgItem* g = CfgAddItem(section, op % 8 == 1 ? CfgKindGroup : CfgKindGroupEnd);
            if (op % 8 == 1)
                g->description = One(in.Text());
            break;
        }
        case 6: {
            CfgItem* table = CfgAddItem(section, CfgKindTable);
            table->name = "t";
            table->description = One(in.Text());
            size_t columns = in.Byte() % 70;
            for (size_t c = 0; c < columns; ++c) {
                CfgItem* col = CfgAddColumn(table, CfgKindReadonlyText + in.Byte() % 14);
                col->name = "c";
                col->description = One(in.Text());
                col->SetNumber(CfgAttrHidden, op >> 7);
            }
            size_t rows = in.Byte() % 8;
            for (size_t r = 0; r < rows; ++r) {
                CfgRow& row = table->rows.emplace_back();
                for (size_t c = 0; c < std::min(columns, CfgMaxColumns); ++c)
                    row.cells[c] = in.Text();
            }
            break;
        }
        case 7:
            CfgAddItem(section, CfgKindSeparator + in.Byte() % 3)->description = One(in.Text());
            break;
        default: {
            CfgItem* item = CfgAddItem(section, CfgKindReadonlyText + in.Byte() % 14);
            item->name = in.Text();
            item->description = One(in.Text());
            if (op & 0x10)
                item->value = in.Text();
            if (op & 0x20)
                item->SetText(CfgAttrUnit, in.Text());
            item->SetNumber(CfgAttrHidden, op >> 7);
            break;
        }
        }
    }

    Printout printout = CfgLayoutPrintout(desc, PrintHeader {}, options);
    const std::vector<PrintPage>& pages = printout.pages;
    std::map<std::pair<const CfgItem*, const CfgRow*>, std::string> values;
    std::map<const CfgItem*, std::string> labels;
    for (const PrintPage& page : pages) {
        Check(page.lines.size() == static_cast<size_t>(options.lines));
        Check(page.lines.back().style == PrintStyle::Footer);
        for (const PrintLine& line : page.lines) {
            int end = 0;
            for (const PrintCell& cell : printout.Cells(line)) {
                std::string_view text = printout.Text(cell);
                Check(cell.x >= end && cell.at + cell.size <= printout.texts.size());
                end = cell.x + static_cast<int>(text.size());
                if (cell.part == PrintPart::Value)
                    values[{ cell.item, cell.row }] += text;
                else if (cell.part == PrintPart::Label)
                    labels[cell.item] += text;
            }
            Check(end <= options.columns);
        }
    }
    const std::string on = StrLoad(qorvexal_Strings(), CfgStrOn);
    const std::string off = StrLoad(qorvexal_Strings(), CfgStrOff);
    for (const auto& s : desc.sections) {
        for (const auto& item : s->items) {
            if (!item->name || CfgKindIsDecoration(item->kind))
                continue;
            if (!item->IsTable()) {
                std::optional<std::string> shown = CfgDisplayText(*item, item->value, on, off, options.hidePasswords);
                Check(Whole(values[{ item.get(), nullptr }], shown.value_or(std::string())));
                Check(Whole(labels[item.get()], CfgItemLabel(*item)));
                continue;
            }
            if (item->columns.empty())
                continue;
            Check(Whole(labels[item.get()], CfgItemLabel(*item)));
            for (size_t c = 0; c < std::min(item->columns.size(), CfgMaxColumns); ++c)
                Check(Whole(labels[item->columns[c].get()], CfgItemLabel(*item->columns[c])));
            for (const CfgRow& row : item->rows)
                for (size_t c = 0; c < std::min(item->columns.size(), CfgMaxColumns); ++c) {
                    const CfgItem& col = *item->columns[c];
                    std::optional<std::string> shown
                        = CfgDisplayText(col, row.cells[c], on, off, options.hidePasswords);
                    Check(Whole(values[{ &col, &row }], shown.value_or(std::string())));
                }
        }
    }
    return 0;
}
