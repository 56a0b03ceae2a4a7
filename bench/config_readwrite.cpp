// Reading a configuration text into a description and writing it out again, against copying the same
// text through the same temporary streams (line by line in, in large pieces out) in the same run.
// 20,000 lines into a description of 20,000 items: plain items, bit fields and table rows.
#include "bench/config_generated.h"
#include "common/diag.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/description/cfg_load.h"
#include "config/description/cfg_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

using bench::ConfigText;
using bench::DescriptionText;
using bench::kItems;

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

CfgTempStream Stream(const std::string& text)
{
    CfgTempStream s;
    s.Open();
    s.Write(text);
    s.Rewind();
    return s;
}

} // namespace

int main()
{
    DiagSetSink([](const std::string&) {});
    auto file = CfgFile::FromText(DescriptionText());
    CfgDescriptionPtr desc = CfgLoadDescriptionFrom(*file, "Bench 1.0", nullptr, 0xFFFFFFFFu, 0, false);
    if (!desc) {
        std::fprintf(stderr, "config_readwrite: the generated description did not load\n");
        return 1;
    }
    std::string text = ConfigText();
    size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    double bestStore = 1e9, bestCopy = 1e9, bestRead = 1e9;
    size_t outSize = 0;
    for (int round = 0; round < 7; ++round) {
        // The peer: the text read line by line from one stream, twice (as reader and writer read it), and
        // written to a new stream in large pieces.
        {
            CfgTempStream in = Stream(text);
            auto t0 = std::chrono::steady_clock::now();
            std::string line, out;
            size_t n = 0;
            while (in.ReadLine(&line))
                n += line.size();
            in.Rewind();
            CfgTempStream copy;
            copy.Open();
            while (in.ReadLine(&line)) {
                out.append(line).append("\r\n");
                if (out.size() >= 1 << 16) {
                    copy.Write(out);
                    out.clear();
                }
            }
            copy.Write(out);
            copy.Rewind();
            bestCopy = std::min(bestCopy, Seconds(std::chrono::steady_clock::now() - t0));
            if (n == 0)
                return 1;
        }
        // The store: read into the description, write the new text.
        {
            CfgTempStream in = Stream(text);
            for (const auto& section : desc->sections)
                for (const auto& item : section->items)
                    item->rows.clear();
            auto t0 = std::chrono::steady_clock::now();
            CfgReadFile(in, *desc);
            bestRead = std::min(bestRead, Seconds(std::chrono::steady_clock::now() - t0));
            CfgTempStream out = CfgWriteFile(std::move(in), *desc);
            bestStore = std::min(bestStore, Seconds(std::chrono::steady_clock::now() - t0));
            outSize = out.Size();
        }
    }
    std::printf("config_readwrite: %zu lines, %d items, output %zu bytes\n", lines, kItems, outSize);
    std::printf("  copy through the streams: %.2f ms\n", bestCopy * 1e3);
    std::printf("  read + write:             %.2f ms (read %.2f ms)\n", bestStore * 1e3, bestRead * 1e3);
    std::printf("  ratio: %.2f (aim: within 5)\n", bestStore / bestCopy);
    return 0;
}
