// Laying out the printout of a configuration (pages, wrapping, table grids, page footers, and the text
// the command-line tool writes) against writing the same values as plain lines, "description value",
// with the same display texts, in the same run. The generated 20,000-item description of
// config_readwrite with its configuration text read in.
#include "bench/config_generated.h"
#include "common/diag.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"
#include "config/frontend/printout.h"
#include "config/frontend/valuerules.h"
#include "config/store/display.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The peer: every value's display text after its description, one line each; table rows as their
// cells one after another.
size_t PlainLines(const CfgDescription& desc, std::string* out)
{
    out->clear();
    size_t lines = 0;
    for (const auto& section : desc.sections) {
        for (const auto& item : section->items) {
            if (!item->name)
                continue;
            if (item->IsTable()) {
                for (const CfgRow& row : item->rows) {
                    for (size_t c = 0; c < item->columns.size(); ++c) {
                        std::optional<std::string> text
                            = CfgDisplayText(*item->columns[c], row.cells[c], "On", "Off", true);
                        out->append(c ? " " : "").append(text ? *text : std::string());
                    }
                    out->push_back('\n');
                    ++lines;
                }
                continue;
            }
            std::optional<std::string> text = CfgDisplayText(*item, item->value, "On", "Off", true);
            out->append(CfgItemLabel(*item)).append("  ").append(text ? *text : std::string()).push_back('\n');
            ++lines;
        }
    }
    return lines;
}

} // namespace

int main()
{
    DiagSetSink([](const std::string&) {});
    auto file = CfgFile::FromText(bench::DescriptionText());
    CfgDescriptionPtr desc = CfgLoadDescriptionFrom(*file, "Bench 1.0", nullptr, 0xFFFFFFFFu, 0, false);
    if (!desc) {
        std::fprintf(stderr, "printout_layout: the generated description did not load\n");
        return 1;
    }
    {
        std::string text = bench::ConfigText();
        CfgTempStream in;
        in.Open();
        in.Write(text);
        in.Rewind();
        CfgReadFile(in, *desc);
    }
    PrintHeader header { "bench", "Bench", "1.0", "generated", "12/8/2026" };
    PrintOptions options;
    double bestPlain = 1e9, bestLayout = 1e9, bestPages = 1e9;
    size_t plainLines = 0, pageCount = 0, textSize = 0;
    // Both keep their storage from round to round.
    std::string plain;
    Printout pages;
    std::string text;
    for (int round = 0; round < 15; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        plainLines = PlainLines(*desc, &plain);
        bestPlain = std::min(bestPlain, Seconds(std::chrono::steady_clock::now() - t0));

        t0 = std::chrono::steady_clock::now();
        CfgLayoutPrintout(*desc, header, options, &pages);
        bestPages = std::min(bestPages, Seconds(std::chrono::steady_clock::now() - t0));
        CfgPrintoutText(pages, &text);
        bestLayout = std::min(bestLayout, Seconds(std::chrono::steady_clock::now() - t0));
        pageCount = pages.pages.size();
        textSize = text.size();
    }
    std::printf("printout_layout: %d items, %zu plain lines (%zu bytes), %zu pages (%zu bytes)\n", bench::kItems,
        plainLines, plain.size(), pageCount, textSize);
    std::printf("  plain lines:         %.2f ms\n", bestPlain * 1e3);
    std::printf("  layout + text:       %.2f ms (pages alone %.2f ms)\n", bestLayout * 1e3, bestPages * 1e3);
    std::printf("  ratio: %.2f (aim: within 3)\n", bestLayout / bestPlain);
    return 0;
}
