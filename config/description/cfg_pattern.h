// Device identity: the device key ("type version", with the settings file's OverrideVersion applied)
// and the device patterns of block headers that are matched against it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Reads one settings value (section, key) of the configuration tool's settings file, or none.
using CfgSettingsLookup = std::function<std::optional<std::string>(std::string_view section, std::string_view key)>;

// The settings the description module reads (OverrideVersion). Without one, no override applies.
void CfgSetSettingsLookup(CfgSettingsLookup lookup);
// Reads the settings file at `path` (an empty path: no settings).
void CfgSetSettingsFile(const std::string& path);

// The version whose descriptions a device uses: the settings entry OverrideVersion/"<type> <version
// up to its second dot>" (at most 8 characters) when there is one, else the version itself.
std::string CfgOverrideVersion(std::string_view deviceType, std::string_view version);

// "<type> <version>", the version after OverrideVersion.
std::string CfgDeviceKey(std::string_view deviceType, std::string_view version);

// Matches a device pattern against a device key: plain characters compare exactly; a group
// "[a;b;...]" takes the longest alternative that equals the key at that point; the end of the pattern
// matches whatever follows; "#" mask / "#!" mask at the end tests the feature mask (some / none of
// its bits).
bool CfgPatternMatch(std::string_view pattern, std::string_view key, uint32_t featureMask);
