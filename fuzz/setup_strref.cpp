// String-table references: the input is a table (one string a line, numbered from 0); every string
// expands in bounded time and length, whatever cycles and fan-outs its references make.
#include "setup/setup_engine.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> table;
    size_t pos = 0;
    while (pos <= text.size() && table.size() < 64) {
        size_t end = text.find('\n', pos);
        end = end == std::string::npos ? text.size() : end;
        table.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    auto lookup = [&](unsigned id) { return id < table.size() ? table[id] : std::string(); };
    for (unsigned id = 0; id < table.size(); ++id) {
        if (SetupExpandString(id, lookup).size() > kSetupMaxExpanded) {
            std::abort();
        }
    }
    return 0;
}
