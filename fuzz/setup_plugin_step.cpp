// Plug-in step records as a library fills them: any 1552 bytes decode with every text cut at its
// field, and the installer's library field always ends with a NUL inside the record.
#include "setup/plugin_step.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t record[kPluginStepSize] = {};
    std::memcpy(record, data, size < kPluginStepSize ? size : kPluginStepSize);
    PluginStepInfo step = PluginStepDecode(record);
    if (step.entry.size() > 256 || step.text.size() > 1024 || step.library.size() > 260) {
        std::abort();
    }
    std::string path(reinterpret_cast<const char*>(data), size > kPluginStepSize ? size - kPluginStepSize : 0);
    PluginStepSetLibrary(record, path);
    PluginStepInfo again = PluginStepDecode(record);
    if (again.library.size() > 259 || again.library != path.substr(0, std::min<size_t>(path.find('\0'), 259))) {
        std::abort();
    }
    if (again.entry != step.entry || again.text != step.text || again.level != step.level) {
        std::abort();
    }
    return 0;
}
