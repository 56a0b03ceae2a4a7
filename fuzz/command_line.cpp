// Command lines: both passes take any text; verbs reach their hooks with one of the known lock suffixes.
#include "config/startup/cmdline.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string line(reinterpret_cast<const char*>(data), size);
    for (const std::string& token : SplitCommandLine(line))
        if (token.size() > line.size())
            std::abort();
    StartupOptions options;
    ParseOptions(line, &options);
    ShellVerbHooks hooks;
    hooks.isOtherInstance = [](std::string_view, std::string_view suffix) {
        if (suffix != "edit" && suffix != "print" && suffix != "autoupdate")
            std::abort();
        return false;
    };
    hooks.printTo = [](uintptr_t, const std::string&, const std::string&, const std::string&, const std::string&) {};
    hooks.createEmptyFile = [](const std::string&) { return true; };
    hooks.newConfiguration = [](uintptr_t, const std::string&) { return false; };
    HandleShellVerbs(line, hooks);
    return 0;
}
