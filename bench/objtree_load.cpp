// Benchmark: reading a large generated object-tree script (about 5 MB, 20,000 definitions, one device
// type with 2,000 items) and building that type, against reading the same bytes line by line with fgets
// in the same run; the best of several rounds.
//
//   objtree_load [--rounds N] [--cold]
#include "common/diag.h"
#include "monitor/objtree/objtree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <string>
#include <unistd.h>

namespace {
// CPU time of this thread in milliseconds: the machines these run on are shared, and wall time there
// measures the neighbours as much as the code.
double Now()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ReadLines(const std::string& path, size_t* bytes)
{
    double start = Now();
    char line[4096];
    *bytes = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    while (f && std::fgets(line, sizeof line, f))
        *bytes += std::strlen(line);
    if (f)
        std::fclose(f);
    return Now() - start;
}

// String tables in three languages, one device with 200 top-level items of 9 children each (2,000
// items), and further items, functions and maps up to 20,000 definitions, written as the shipped script
// is (indented attributes, quoted texts, str. references, comments, continuations).
std::string Generate()
{
    std::string s = "; generated object-tree script\n";
    for (const char* lang : { "English", "Deutsch", "Francais" }) {
        s += std::string("stringtable ") + lang + "\n";
        for (int i = 0; i < 1000; ++i)
            s += "string T" + std::to_string(i) + ", \"" + lang + " text number " + std::to_string(i) + "\"\n";
    }
    s += "device Big\n  name \"Big router\"\n  vendor \"Zevra\"\n  root 1.3.6.1.4.1.58127, 1.3.6.1.2.1\n"
         "  detect 2.1.1.0, \"Zevra Big\"\n  register 600, enter:Reg\n  childs ";
    for (int i = 0; i < 200; ++i)
        s += (i ? ", " : "") + std::string("Top") + std::to_string(i);
    s += "\n  option checkbox:Opt:1, str.T1\n\n";
    int defs = 1;
    for (int i = 0; i < 200; ++i, ++defs) {
        s += "item Top" + std::to_string(i) + "\n  uses 1.2." + std::to_string(i % 9 + 1) + ".0\n";
        s += "  states $1 == 1, $1 == 2\n  text str.T" + std::to_string(i % 1000) + " \": $(1 map State)\", #, *\n";
        s += "  image 1, 2, 3\n  flags , flash, error\n  refresh time:50\n  action menu:Fn" + std::to_string(i)
            + ", enter:Fn" + std::to_string(i) + ":$1:2\n  childs ";
        for (int c = 0; c < 9; ++c)
            s += (c ? ", " : "") + std::string("Leaf") + std::to_string(c) + ":" + std::to_string(c + 1);
        s += "\n";
    }
    for (int c = 0; c < 9; ++c, ++defs)
        s += "item Leaf" + std::to_string(c) + "\n  uses 1.4.1.1.1.$i, 1.4.1.1.11.$i, \\\n       2.2.2.1.8.$i\n"
            + "  term up, $2 == 5 || $2 == 7\n  states $(up), $2 != \"\"\n  text , \"$1: up\", \"$1: down\"\n"
            + "  flags hide, clone, clone\n";
    for (int i = 0; i < 200; ++i, ++defs)
        s += "function Fn" + std::to_string(i) + "\n  text str.T" + std::to_string(i) + "\n  log \"$(Opt)\", \"$1 "
            + std::to_string(i) + "\"\n";
    s += "map State\n  from 1, 2, 3\n  to up, down, \"other ($f)\", unknown\n";
    ++defs;
    // Definitions of other types: constrained items, functions and maps.
    for (int i = 0; defs < 20000; ++i, ++defs) {
        std::string n = std::to_string(i);
        s += "\n; ---- definition " + n + " of the generated part, for the types Other 0 to Other 6 ----\n";
        switch (i % 3) {
        case 0:
            s += "item <Other " + std::to_string(i % 7) + "> Extra" + n + " : Top" + std::to_string(i % 200) + "\n";
            s += "  ; a comment inside the definition\n  uses 1.2." + n + ".0, 2.1.3.0\n";
            s += "  states $1 > " + n + " && $2 < 100, *\n  text \"Extra " + n + ": $(1 /100 as duration)\"\n";
            s += "  image 4, 5, #\n  flags , flash error, *\n  refresh time:100 event:e" + n + "\n";
            s += "  action menu:Fn" + std::to_string(i % 200) + " menudef:Fn" + std::to_string((i + 1) % 200)
                + ", enter:Fn" + std::to_string(i % 200) + ":$1:" + n + "\n  term t" + n + ", ($1 + $2) * 2\n";
            break;
        case 1:
            s += "function <Other " + std::to_string(i % 7) + "> Fn" + std::to_string(i % 200) + "\n  text \"Function "
                + n + "\"\n  query 0x21, \"Really run " + n + "?\"\n  set 1.2.7.0, \"v" + n + "\"\n";
            break;
        default:
            s += "map <Other " + std::to_string(i % 7) + "> M" + n + "\n  from 1, 2, 3, 4, 5\n"
                + "  to \"first\", \"second\", \"third\", \"fourth\", \"fifth\", \"default " + n + " ($f)\"\n";
            break;
        }
    }
    return s;
}

size_t CountItems(const std::vector<std::unique_ptr<ItemObject>>& items)
{
    size_t n = 0;
    for (const auto& i : items)
        n += 1 + CountItems(i->children);
    return n;
}
} // namespace

int main(int argc, char** argv)
{
    int rounds = 7;
    bool cold = false;
    for (int i = 1; i < argc; ++i)
        cold = cold || std::strcmp(argv[i], "--cold") == 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    DiagSetSink([](const std::string& line) { std::fprintf(stderr, "%s", line.c_str()); });
    std::string path
        = (std::filesystem::temp_directory_path() / ("talvbench-" + std::to_string(getpid()) + ".dsc")).string();
    {
        std::ofstream out(path, std::ios::binary);
        out << Generate();
    }
    double bestLoad = 1e30, bestLines = 1e30, bestRead = 0;
    size_t bytes = 0, items = 0, defs = 0;
    for (int r = 0; r < rounds; ++r) {
        // Alternate the order so that neither always runs on a warm cache.
        for (int pass = 0; pass < 2; ++pass) {
            if ((pass == 0) == (r % 2 == 0)) {
                bestLines = std::min(bestLines, ReadLines(path, &bytes));
            } else {
                double start = Now();
                ScriptLibrary lib;
                lib.LoadFile(path, "English");
                double read = Now();
                std::unique_ptr<DeviceObject> device = ScriptInstantiateFrom(lib, "Big");
                double end = Now();
                if (end - start < bestLoad) {
                    bestLoad = end - start;
                    bestRead = read - start;
                }
                items = device ? CountItems(device->items) : 0;
                defs = lib.Files()[0]->defs.size();
                device.reset();
                lib.Clear();
#ifdef __GLIBC__
                // --cold: each round starts on a heap as the program's start-up finds it, the previous
                // round's blocks returned to the system (every page of the new library then faults in).
                if (cold)
                    malloc_trim(0);
#endif
            }
        }
    }
    std::remove(path.c_str());
    std::printf("objtree_load: %zu bytes, %zu definitions, %zu items: load and build %.1f ms (reading %.1f), line "
                "reading %.1f ms, RATIO %.2f\n",
        bytes, defs, items, bestLoad, bestRead, bestLines, bestLoad / bestLines);
    return 0;
}
