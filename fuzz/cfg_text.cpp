// The configuration text reader and writer on arbitrary text: after one pass through reader and writer
// the text is the writer's own form, and reading and writing it again changes nothing.
#include "cfg_text_desc.h"
#include "common/diag.h"
#include "config/cfgfile/cfg_file.h"
#include "config/store/cfg_store.h"
#include "fuzz/fuzz_check.h"
#include "fuzz_scratch.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

// A table that the text filled with more rows than this ends the run after its reading: a short text
// may name row 16,384, and writing and reading back that many rows three times makes a run slow without
// reaching code that a few rows do not.
constexpr size_t kMaxRows = 64;

// Reads `text` into a fresh description and writes it over the same text; none when a table got more
// than `maxRows` rows.
std::optional<std::string> Pass(const std::string& text, size_t maxRows)
{
    CfgDescriptionPtr desc = FuzzDescription();
    CfgTempStream in;
    Check(in.Open() == 1);
    in.Write(text);
    CfgReadFile(in, *desc);
    for (const auto& section : desc->sections)
        for (const auto& item : section->items) {
            if (item->rows.size() > maxRows)
                return std::nullopt;
            for (const CfgRow& row : item->rows)
                for (const auto& cell : row.cells)
                    Check(!cell || cell->size() <= CfgMaxTextLine);
        }
    std::vector<uint32_t> addresses;
    CfgAlternativeAddresses(*desc, 0x7f000001, &addresses);
    Check(addresses.size() <= CfgMaxAltAddresses);
    CfgTempStream out = CfgWriteFile(std::move(in), *desc);
    return out.Contents();
}

bool LinesFit(const std::string& text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end - start > CfgMaxTextLine)
            return false;
        start = end + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = (DiagSetSink([](const std::string&) {}), FuzzScratchDir(), true);
    (void)quiet;
    if (size > 1 << 16)
        return 0;
    std::string input(reinterpret_cast<const char*>(data), size);
    std::optional<std::string> first = Pass(input, kMaxRows);
    if (!first)
        return 0;
    // Long values of merged tables are written over several rows: the later passes take any number.
    std::string second = *Pass(*first, SIZE_MAX);
    // Lines the writer made longer than a line can be are cut when read again: no fixed point then.
    if (!LinesFit(*first) || !LinesFit(second) || input.find('\0') != std::string::npos)
        return 0;
    Check(*Pass(second, SIZE_MAX) == second);
    return 0;
}
