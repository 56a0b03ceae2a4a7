#include "device/mru.h"

#include "common/ini.h"
#include "common/text.h"

std::string MruFormat(std::string_view current, const std::vector<std::string>& items)
{
    std::string value;
    if (!current.empty()) {
        value += current;
        value += ';';
    }
    size_t kept = 0;
    for (const std::string& item : items) {
        if (kept == kMruMaxItems)
            break;
        if (item.empty() || StrEqualNoCase(item, current))
            continue;
        value += item;
        value += ';';
        ++kept;
    }
    return value;
}

std::vector<std::string> MruParse(std::string_view value)
{
    std::vector<std::string> items;
    size_t pos = 0;
    while (pos < value.size()) {
        size_t end = value.find(';', pos);
        if (end == std::string_view::npos)
            end = value.size();
        if (end > pos)
            items.emplace_back(value.substr(pos, end - pos));
        pos = end + 1;
    }
    return items;
}

std::vector<std::string> MruLoad(const IniFile& ini, std::string_view key, std::string_view section)
{
    return MruParse(ini.GetString(section, key, ""));
}

void MruStore(IniFile& ini, std::string_view key, std::string_view current, const std::vector<std::string>& items,
    std::string_view section)
{
    ini.SetString(section, key, MruFormat(current, items));
}
