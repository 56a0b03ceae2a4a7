// The monitor's device logs: one line per log action whose category the device's settings select,
// written to a file in the Log directory whose name comes from the device's pattern ("%N" the address,
// the rest date fields of the local time). Settings: section "Logging" of talvine.ini, keys
// ADDRESS "_LogMask" and ADDRESS "_Filename". One file is open at a time, shared by every thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

constexpr uint32_t kLogDeviceEvents = 1;
constexpr uint32_t kLogAbPorts = 2;
constexpr uint32_t kLogSolvane = 4;
constexpr const char* kLogMonthly = "%N-%Y-%m.Log";
constexpr const char* kLogDaily = "%N-%Y-%m-%d.Log";

// Remembers the standard-output switch, creates `directory`/Log when missing and converts the older
// settings (one file name and three switches for all devices) for every device of `directory`/talvine.lst.
// Settings are read from `settingsPath` (talvine.ini). Returns 1 when the Log directory exists.
int LogInit(const std::string& directory, const std::string& settingsPath, bool toStdout);
// Writes "[DATE TIME] TEXT" (CR LF) when `mask` shares a bit with the device's mask and the device has a
// pattern. Returns 1 when written.
int LogWrite(std::string_view address, uint32_t mask, std::string_view text);
void LogClose();
std::string LogDirectory();
// The name of the file currently open ("" when none).
std::string LogOpenFile();

// The pattern expanded: "%N" the address, known date conversions of `time`; an unknown "%" conversion
// stays as written. Empty when the name would leave the Log directory (separators, "." or "..").
std::string LogFileName(std::string_view pattern, std::string_view address, const std::tm& time);

// Logging settings of a device: switched on gives the monthly pattern and mask 7, off an empty pattern
// and mask 0 (adding a device); deleting removes both keys (removing a device).
void LogWriteDeviceKeys(const std::string& settingsPath, std::string_view address, bool on);
void LogDeleteDeviceKeys(const std::string& settingsPath, std::string_view address);

// Tests inject the time of the lines (seconds since the epoch, read as local time).
void LogSetTimeSource(std::function<std::time_t()> source);
