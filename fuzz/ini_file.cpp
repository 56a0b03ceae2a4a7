// Settings files: any bytes parse; the text form is stable after one round; every listed key is found.
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
    for (const std::string& section : ini.SectionNames())
        for (const std::string& key : ini.Keys(section))
            if (!ini.Find(section, key))
                std::abort();
    ini.SetString("Options", "Fuzz", "1");
    if (ini.GetString("options", "FUZZ", "x") != "1")
        std::abort();
    ini.DeleteSection("Options");
    if (ini.HasSection("Options") || ini.Find("Options", "Fuzz"))
        std::abort();
    return 0;
}
