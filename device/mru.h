// Lists of recently used values of the dialogs' combo boxes (device addresses, phone numbers, the
// search's remote networks): one settings value, each item followed by ";", most recent first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class IniFile;

constexpr size_t kMruMaxItems = 20; // items kept besides the current text

// The stored value: the current text first (when not empty), then up to 20 of `items` in their order,
// leaving out the one equal to the current text.
std::string MruFormat(std::string_view current, const std::vector<std::string>& items);
// The items of a stored value in order.
std::vector<std::string> MruParse(std::string_view value);

// Reads and writes a list in the settings (section "Options" unless told).
std::vector<std::string> MruLoad(const IniFile& ini, std::string_view key, std::string_view section = "Options");
void MruStore(IniFile& ini, std::string_view key, std::string_view current, const std::vector<std::string>& items,
    std::string_view section = "Options");
