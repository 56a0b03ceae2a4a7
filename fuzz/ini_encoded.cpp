// Settings files with a byte-order mark: the first input byte chooses UTF-8 with its mark, UTF-16 LE with
// its mark (the rest taken as UTF-16 code units, so any unit, surrogates alone included, turns up) or
// the bytes as they come. After one save the text is stable; lines no call touches keep every byte;
// the functions see ANSI text and what they write reads back.
#include "common/ini.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string text;
    switch (data[0] % 3) {
    case 0:
        text = "\xEF\xBB\xBF" + body;
        break;
    case 1:
        text = "\xFF\xFE" + body;
        break;
    default:
        text = body;
        break;
    }
    IniFile ini;
    ini.Parse(text);
    std::string once = ini.Text();
    // The mark stays as it was.
    Check(once.compare(0, 2, text, 0, 2) == 0 || text.size() < 3 || data[0] % 3 == 2);
    IniFile again;
    again.Parse(once);
    Check(again.Text() == once);
    // Names the functions can spell (no character without an ANSI byte) are found again.
    for (const std::string& section : ini.SectionNames())
        for (const std::string& key : ini.Keys(section))
            if (section.find('?') == std::string::npos && key.find('?') == std::string::npos)
                Check(ini.Find(section, key).has_value());
    // ANSI text written into the file reads back the same, whatever the file's encoding.
    const std::string value = "caf\xE9 \x80 \x9F";
    ini.SetString("Fuzz \xE9", "K\xFC", value);
    Check(ini.GetString("fuzz \xE9", "K\xFC", "") == value);
    IniFile saved;
    saved.Parse(ini.Text());
    Check(saved.GetString("Fuzz \xE9", "K\xFC", "") == value);
    saved.DeleteSection("Fuzz \xE9");
    Check(!saved.HasSection("Fuzz \xE9"));
    return 0;
}
