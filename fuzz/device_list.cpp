// The device list from the settings file, the legacy list file and the parameter strings. The first
// byte chooses the reader; whatever was loaded must survive a store and a second load unchanged, and
// every text field stays within its room.
#include "common/ini.h"
#include "common/text.h"
#include "device/devicelist.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {
void CheckFields(DeviceList& list)
{
    for (DeviceEntry* e : list.All()) {
        Check(e->name.size() <= 63 && e->description.size() <= 255 && e->password.size() <= 63);
        Check(e->line_name.size() <= 15 && e->ras_entry.size() <= 65 && e->phone_number.size() <= 63);
    }
}

// Line breaks inside a name or description are saved as blanks, and the settings file drops the blanks
// around a value, so names and descriptions compare that way.
std::string Flat(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    return std::string(Trim(text));
}

// What identifies an entry after a store and a load: its folder, name and parameter string.
std::string Summary(DeviceList& list)
{
    std::string out;
    list.ForEach([&](DeviceFolder& folder, DeviceEntry& e) {
        out += DeviceList::FolderPath(folder) + "|" + Flat(e.name.str()) + "|" + Flat(e.description.str()) + "|"
            + DeviceParameters(e) + "\n";
    });
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    DeviceList list;
    switch (data[0] % 3) {
    case 0: {
        IniFile ini;
        ini.Parse(text);
        DeviceListLoad(list, ini);
        break;
    }
    case 1:
        DeviceListImportLegacy(list, text);
        break;
    default: {
        DeviceEntry entry;
        DeviceParseParameters(text, entry);
        std::string once = DeviceParameters(entry);
        DeviceEntry again;
        DeviceParseParameters(once, again);
        Check(DeviceParameters(again) == once);
        return 0;
    }
    }
    CheckFields(list);
    IniFile stored;
    DeviceListStore(list, stored);
    DeviceList reloaded;
    DeviceListLoad(reloaded, stored);
    CheckFields(reloaded);
    Check(Summary(reloaded) == Summary(list));
    return 0;
}
