// The configuration history: every configuration read from a device or written to it is kept as a
// configuration file (".lcf") in a folder of that device, named by its serial number (or, without
// one, its MAC address), so that a device keeps its history when its address or name changes. A
// version's number, time (UTC) and source make its file name; its comment is the file's first
// header line. Versions are written whole (a new file renamed into place) and bounded per device.
#pragma once

#include "common/tempstream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CfgDescription;
struct DeviceEntry;

// Where and how much history is kept ("Options" of the settings file: HistoryVersions,
// HistorySizeLimit in KB per device).
struct HistSettings {
    std::string root; // the history folder (one subfolder per device); empty: no history is kept
    uint32_t maxVersions = 100; // the newest this many versions stay (at least 1)
    uint64_t maxBytes = 0; // beyond this many bytes the oldest versions go (the newest always stays); 0: no limit
    bool noCrypt = false; // secret values in plain, as the save job writes them with "nocrypt"
};

// One kept version.
struct HistVersion {
    uint32_t number = 0; // 1, 2, ... in the order kept
    int64_t time = 0; // seconds since 1970-01-01 UTC
    std::string source; // what produced it: read, read-wizard, read-print, write, wizard, backup, restore
    std::string comment; // the file's comment line
    uint64_t size = 0; // bytes of the file
    std::string path;
};

// The settings' history folder: "History" beside the settings file. The one place that decides it.
std::string HistFolderBeside(const std::string& settingsFile);
// The settings of the "Options" section of the settings file at `settingsFile`, the folder beside it.
HistSettings HistSettingsFrom(const std::string& settingsFile);
// A device's key: "SN-" and its serial number, else "MAC-" and its MAC address (characters other
// than letters, digits, "-" and "_" as "_"); "" when the device reported neither.
std::string HistDeviceKey(const DeviceEntry& entry);
// The device's folder under `root`, "" without a key.
std::string HistDeviceFolder(const std::string& root, const DeviceEntry& entry);
// The device folder under `root` whose device last had that name (ignoring case) or address
// ("a.b.c.d[:port]"), the most recently noted when several did; "" when none.
std::string HistFolderByNote(const std::string& root, std::string_view name, std::string_view address);

// Keeps a configuration text as the next version: a configuration file with the entry's device type,
// firmware and masks, secrets scrambled by `desc` (nullptr: the full description is loaded). The
// text's position is rewound. Returns 1 with `*kept` filled, 0 when nothing was kept (no history
// folder, no device key, the file could not be written).
int HistKeepText(const HistSettings& settings, const DeviceEntry& entry, CfgTempStream& text,
    const CfgDescription* desc, std::string_view source, std::string_view comment, HistVersion* kept = nullptr);
// Keeps a copy of a configuration file (as the save job wrote it, or as a restore sends it).
int HistKeepFile(const HistSettings& settings, const DeviceEntry& entry, const std::string& path,
    std::string_view source, HistVersion* kept = nullptr);

// The versions of a device folder, oldest first; without `comments` the files are not opened.
std::vector<HistVersion> HistList(const std::string& folder, bool comments = true);
// The version with that number, none when it is not kept.
std::optional<HistVersion> HistFind(const std::string& folder, uint32_t number);
// Removes the oldest versions beyond the bounds. Returns how many went.
size_t HistPrune(const std::string& folder, uint32_t maxVersions, uint64_t maxBytes);

// A version's file name, "NNNNNN_YYYYMMDD-HHMMSS_SOURCE.lcf" (UTC), and the fields it gives back: false
// for any other name (a writer's temporary file, a date that is none, number 0).
std::string HistFileName(uint32_t number, int64_t time, std::string_view source);
bool HistParseFileName(std::string_view name, HistVersion* v);

// "YYYY-MM-DD HH:MM:SS" (UTC) and "YYYY-MM-DDTHH:MM:SSZ" of a version's time.
std::string HistTimeText(int64_t time);
std::string HistTimeIso(int64_t time);
