// Settings files: any bytes parse; the text form is stable after one round; every listed key is found
// (but those a file with a byte-order mark lists as "?").
#include "common/ini.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    IniFile ini;
    ini.Parse(text);
    std::string once = ini.Text();
    IniFile again;
    again.Parse(once);
    if (again.Text() != once)
        std::abort();
    // In a file with a byte-order mark the functions speak Windows-1252: a character it lacks (or a
    // byte that is no UTF-8) is listed as "?", as the Windows functions list it, and such a name
    // cannot be found again. Every other listed key must be found.
    bool marked = text.rfind("\xEF\xBB\xBF", 0) == 0 || text.rfind("\xFF\xFE", 0) == 0;
    for (const std::string& section : ini.SectionNames())
        for (const std::string& key : ini.Keys(section))
            if (!ini.Find(section, key) && !(marked && key.find('?') != std::string::npos))
                std::abort();
    ini.SetString("Options", "Fuzz", "1");
    if (ini.GetString("options", "FUZZ", "x") != "1")
        std::abort();
    ini.DeleteSection("Options");
    if (ini.HasSection("Options") || ini.Find("Options", "Fuzz"))
        std::abort();
    return 0;
}
