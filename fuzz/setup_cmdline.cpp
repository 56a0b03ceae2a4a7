// The installer's command line: any text; a product key never holds a blank or a comma, and every
// "/lang:" that is taken is one of the six languages.
#include "setup/setup_engine.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    SetupCommandLine cmd = SetupParseCommandLine(text);
    for (const std::string& key : cmd.keys) {
        if (key.empty() || key.find(',') != std::string::npos || key.find(' ') != std::string::npos) {
            std::abort();
        }
    }
    switch (cmd.language) {
    case 0:
    case 1033:
    case 1031:
    case 1036:
    case 1040:
    case 10:
    case 1043:
        break;
    default:
        std::abort();
    }
    if (!cmd.keys.empty() && !cmd.keysGiven) {
        std::abort();
    }
    return 0;
}
