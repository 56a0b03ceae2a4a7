#include "cli/kardell/listing.h"

namespace {
void ListLines(const std::vector<CdLine>& lines, const CdBlock& block, int depth, std::string* out)
{
    for (const CdLine& line : lines) {
        *out += block.hotspot ? "hotspot\t" : "static\t";
        *out += std::to_string(block.number) + "\t" + std::to_string(depth) + "\t";
        *out += line.text + "\t" + line.command + "\t" + line.parameters + "\n";
        ListLines(line.subMenu, block, depth + 1, out);
    }
}
} // namespace

std::string CdListMenu(const CdMenu& menu)
{
    std::string out;
    for (const CdBlock& block : menu.blocks)
        ListLines(block.lines, block, 0, &out);
    return out;
}
