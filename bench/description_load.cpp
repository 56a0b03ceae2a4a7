// Benchmark: loading a large generated description, and building the block index over 50 files, each
// against reading the same bytes line by line (fgets) in the same run; the best of several rounds.
//
//   description_load [--rounds N] [--load-only]
//
// --load-only measures only the large description (for profiling the loader, with more rounds).
#include "common/diag.h"
#include "config/description/cfg_index.h"
#include "config/description/cfg_load.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {
double Now()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Reads the files line by line with fgets: the peer every figure is compared with.
double ReadLines(const std::vector<std::string>& paths, size_t* bytes)
{
    double start = Now();
    char line[4096];
    *bytes = 0;
    for (const std::string& p : paths) {
        FILE* f = std::fopen(p.c_str(), "rb");
        while (f && std::fgets(line, sizeof line, f))
            *bytes += std::strlen(line);
        if (f)
            std::fclose(f);
    }
    return Now() - start;
}

// A description of `sections` sections of realistic items with attributes, string tables in three
// languages and "str." references.
std::string Generate(int sections, int itemsPerSection, const std::string& type)
{
    std::string s;
    for (const char* lang : { "English", "German", "French" }) {
        s += std::string("stringtable ") + lang + "\n";
        for (int i = 0; i < 2000; ++i)
            s += "string T" + std::to_string(i) + ", \"" + lang + " text number " + std::to_string(i) + "\"\n";
    }
    s += "version \"" + type + "[ Plus;] 1.0\"\n";
    int n = 0;
    for (int sec = 0; sec < sections; ++sec) {
        s += "section sec" + std::to_string(sec) + ", str.T" + std::to_string(sec % 2000) + "\n";
        for (int i = 0; i < itemsPerSection; ++i, ++n) {
            std::string name = "/s" + std::to_string(sec) + "/item" + std::to_string(i);
            switch (i % 4) {
            case 0:
                s += "entryfield_text " + name + "\n  description str.T" + std::to_string(n % 2000)
                    + "\n  max_len 31\n  add_to_charset \" \"\n  help_id " + std::to_string(n)
                    + "\n  multicfg 1\n  change_item /a/b, /c/d ; the items that follow this one\n";
                break;
            case 1:
                s += "entryfield_ipaddress " + name
                    + "\n  description \"An address with a rather long "
                      "description text\"\n  never_zero 1\n  default_value 192.168.0.1\n";
                break;
            case 2:
                s += "selection_list " + name + ", 0x" + std::to_string(1 << (i % 8))
                    + "\n  item_text str.T1, str.T2, str.T3, \"Fourth choice\"\n  item_value 1, 2, 3, 4\n"
                      "  default_selection 1\n";
                break;
            default:
                s += "table " + name
                    + "\n  num_columns 3\n  max_items 32\n  default_add \"a\", \"b\", \"c\"\n"
                      "entryfield_text key\n  max_len 10\nentryfield_ipaddress addr\nentryfield_numeric num\n"
                      "  range_min 0\n  range_max 100\n";
            }
        }
    }
    s += "features \"" + type + " 1.0\"\nfeature_mask 1, One\n";
    return s;
}
} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    bool loadOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load-only") == 0)
            loadOnly = true;
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    DiagSetSink([](const std::string&) {});
    auto dir = std::filesystem::temp_directory_path() / ("description_load_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    // 1. One large description.
    std::string big = Generate(160, 200, "Bench");
    std::string bigPath = (dir / "qorv0000.dsc").string();
    std::ofstream(bigPath, std::ios::binary) << big;
    CfgStartIndex(bigPath, "");
    CfgWaitIndex();
    size_t bytes = 0;
    double best = 1e30, bestLines = 1e30;
    size_t items = 0;
    for (int round = 0; round < rounds; ++round) {
        bestLines = std::min(bestLines, ReadLines({ bigPath }, &bytes));
        double start = Now();
        CfgDescriptionPtr d = CfgLoadDescription("Bench", "1.0", "German", 0xFFFFFFFF, 0, false);
        best = std::min(best, Now() - start);
        items = 0;
        for (const auto& s : d->sections)
            for (const auto& it : s->items)
                items += 1 + it->columns.size();
    }
    CfgStopIndex();
    std::printf("description_load: %zu bytes, %zu items: load %.1f ms, line reading %.1f ms, ratio %.2f\n", bytes,
        items, best, bestLines, best / bestLines);

    std::error_code ec;
    if (loadOnly) {
        std::filesystem::remove_all(dir, ec);
        return 0;
    }

    // 2. The index over 50 files.
    std::vector<std::string> paths;
    for (int f = 0; f < 50; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "qorv%04d.dsc", f + 1);
        paths.push_back((dir / name).string());
        std::ofstream(paths.back(), std::ios::binary) << Generate(10, 40, "Type" + std::to_string(f));
    }
    double bestIndex = 1e30;
    bestLines = 1e30;
    for (int round = 0; round < rounds; ++round) {
        bestLines = std::min(bestLines, ReadLines(paths, &bytes));
        double start = Now();
        CfgStartIndex((dir / "qorv????.dsc").string(), "");
        CfgWaitIndex();
        bestIndex = std::min(bestIndex, Now() - start);
        CfgStopIndex();
    }
    std::printf("description_index: 50 files, %zu bytes: index %.1f ms, line reading %.1f ms, ratio %.2f\n", bytes,
        bestIndex, bestLines, bestIndex / bestLines);
    std::filesystem::remove_all(dir, ec);
    return 0;
}
