#include "config/description/cfg_pattern.h"

#include "common/ini.h"
#include "common/text.h"

#include <mutex>

namespace {
std::mutex g_settingsLock;
CfgSettingsLookup g_settings;

CfgSettingsLookup Settings()
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    return g_settings;
}
} // namespace

void CfgSetSettingsLookup(CfgSettingsLookup lookup)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings = std::move(lookup);
}

void CfgSetSettingsFile(const std::string& path)
{
    if (path.empty()) {
        CfgSetSettingsLookup({});
        return;
    }
    CfgSetSettingsLookup([path](std::string_view section, std::string_view key) -> std::optional<std::string> {
        IniFile ini;
        if (!ini.Load(path))
            return std::nullopt;
        return ini.Find(section, key);
    });
}

std::string CfgOverrideVersion(std::string_view deviceType, std::string_view version)
{
    CfgSettingsLookup settings = Settings();
    if (!settings)
        return std::string(version);
    // The key holds the version up to (not including) its second dot.
    size_t firstDot = version.find('.');
    size_t secondDot = firstDot == std::string_view::npos ? firstDot : version.find('.', firstDot + 1);
    std::string key(deviceType);
    key += ' ';
    key += version.substr(0, secondDot);
    std::optional<std::string> entry = settings("OverrideVersion", key);
    if (!entry || entry->empty())
        return std::string(version);
    return CutTo(*entry, 8);
}

std::string CfgDeviceKey(std::string_view deviceType, std::string_view version)
{
    std::string key(deviceType);
    key += ' ';
    key += CfgOverrideVersion(deviceType, version);
    return key;
}

bool CfgPatternMatch(std::string_view pattern, std::string_view key, uint32_t featureMask)
{
    size_t p = 0;
    size_t k = 0;
    while (p < pattern.size()) {
        char c = pattern[p];
        if (c == '#')
            break;
        if (c == '[') {
            size_t close = pattern.find(']', p + 1);
            if (close == std::string_view::npos)
                return false;
            std::string_view alts = pattern.substr(p + 1, close - p - 1);
            std::string_view rest = key.substr(k);
            long best = -1;
            size_t from = 0;
            for (;;) {
                size_t semi = alts.find(';', from);
                std::string_view alt
                    = alts.substr(from, semi == std::string_view::npos ? alts.size() - from : semi - from);
                if (rest.substr(0, alt.size()) == alt && static_cast<long>(alt.size()) > best)
                    best = static_cast<long>(alt.size());
                if (semi == std::string_view::npos)
                    break;
                from = semi + 1;
            }
            if (best < 0)
                return false;
            k += static_cast<size_t>(best);
            p = close + 1;
            continue;
        }
        if (k < key.size() && key[k] == c) {
            ++p;
            ++k;
            continue;
        }
        return false;
    }
    if (p >= pattern.size())
        return true;
    ++p; // '#'
    bool negate = p < pattern.size() && pattern[p] == '!';
    if (negate)
        ++p;
    uint32_t mask = ParseUnsigned(pattern.substr(p));
    bool common = (mask & featureMask) != 0;
    return negate ? !common : common;
}
