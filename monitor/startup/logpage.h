// The logging page of a device's properties: three categories, the file naming (monthly, daily or a
// pattern of the user's), the names the first two give today, and saving both keys of section "Logging".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

enum class LogNaming : uint8_t { Monthly, Daily, Custom };

struct LogPageState {
    uint32_t mask = 0; // kLogDeviceEvents | kLogAbPorts | kLogSolvane
    LogNaming naming = LogNaming::Monthly;
    std::string custom; // the user's pattern (proposed: the address followed by ".Log")
};

// The page as the settings hold it for the device at `address` (dotted decimal).
LogPageState LogPageLoad(const std::string& settingsPath, std::string_view address);
// The pattern the page stands for.
std::string LogPagePattern(const LogPageState& state);
// Writes "_LogMask" and "_Filename" in one go; 1 when written.
int LogPageSave(const std::string& settingsPath, std::string_view address, const LogPageState& state);
// The name a naming gives at `time` ("" when the pattern would leave the Log directory).
std::string LogPageExpandedName(LogNaming naming, std::string_view address, const std::tm& time);
