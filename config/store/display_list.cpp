#include "config/store/display_list.h"

#include "common/strings.h"
#include "config/description/cfg_types.h"
#include "config/store/display.h"

namespace {
void ListTable(const CfgItem& table, const std::string& on, const std::string& off, bool mask, std::string* out)
{
    *out += "  " + *table.name + ":\n";
    for (const CfgRow& row : table.rows) {
        std::string line;
        for (size_t c = 0; c < table.columns.size() && c < CfgMaxColumns; ++c) {
            const CfgItem& column = *table.columns[c];
            std::optional<std::string> text = CfgDisplayText(column, row.cells[c], on, off, mask);
            if (c > 0)
                line += " | ";
            line += text ? *text : std::string();
        }
        *out += "    " + line + "\n";
    }
}
} // namespace

void CfgListValues(const CfgDescription& desc, bool maskSecrets, std::string* out)
{
    const std::string on = StrLoad(qorvexal_Strings(), CfgStrOn);
    const std::string off = StrLoad(qorvexal_Strings(), CfgStrOff);
    for (const auto& section : desc.sections) {
        *out += "[" + (section->title ? *section->title : section->name) + "]\n";
        for (const auto& item : section->items) {
            if (!item->name)
                continue;
            if (item->IsTable()) {
                ListTable(*item, on, off, maskSecrets, out);
                continue;
            }
            std::optional<std::string> text = CfgDisplayText(*item, item->value, on, off, maskSecrets);
            if (text)
                *out += "  " + *item->name + " = " + *text + "\n";
        }
    }
}
