// The monitor's command line, the "add:" records that one instance hands another, and the settings of
// talvine.ini that the windows keep (every key with its default in one record).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A device of an "add:" option or record: its address in network byte order (as the engine keeps it) and
// the community, empty when none was given.
struct TalvineAdd {
    uint32_t address = 0;
    std::string community;
    bool operator==(const TalvineAdd&) const = default;
};

// What the command line asks for. Options not given keep their defaults; unknown ones are ignored.
struct TalvineOptions {
    std::optional<uint16_t> language; // "lang:" + name or number
    uint16_t port = 0; // "port:" + number: the SNMP client's local port (0: any)
    bool log2stdout = false; // a word beginning with "log2s"
    std::vector<TalvineAdd> adds; // "add:ADDRESS[:COMMUNITY]", in order
    std::optional<uint16_t> testControlPort; // "testctl:" + port: the test control channel on 127.0.0.1
};
TalvineOptions ParseTalvineOptions(std::string_view commandLine);
// One "add:" value ("ADDRESS" or "ADDRESS:COMMUNITY"); none when the address is not a numeric address
// other than 0.0.0.0.
std::optional<TalvineAdd> ParseAddValue(std::string_view value);

// The copy-data message (identifier 1) that carries "add:" devices: per device a 32-bit length (12 plus
// the community's length), the 32-bit address as it lies in memory and the community with its
// terminator. Communities are cut to 255 characters, as the receiver keeps them.
constexpr uint32_t kAddRecordsMessageId = 1;
std::vector<uint8_t> PackAddRecords(const std::vector<TalvineAdd>& adds);
std::vector<TalvineAdd> UnpackAddRecords(const uint8_t* data, size_t size);

// The settings of the main window and the questions (talvine.ini). Placement keys and the display
// windows' keys are read where those windows are made.
struct TalvineSettings {
    bool showTrayStatus = false; // "MainWindow" "ShowTrayStatus"
    uint32_t detailsMask = 1; // "MainWindow" "DetailsMask": 1 errors, 2 diagnostics, 4 system information
    bool dontAskForExit = false; // "Options" "DontAskForExit"
    bool dontAskForDeviceDelete = false; // "Options" "DontAskForDeviceDelete"
    std::string deviceAddressMru; // "Options" "DeviceAddressMRU" (items each followed by ";")
};
constexpr const char* kSectionMainWindow = "MainWindow";
constexpr const char* kSectionDisplayWindow = "DisplayWindow";
constexpr const char* kSectionOptions = "Options";
TalvineSettings ReadTalvineSettings(const std::string& iniPath);
// Writes the keys that the program changes while it runs (all but the address history, which the
// new-device dialog stores itself). Returns 1 when every key was written.
int WriteTalvineSettings(const std::string& iniPath, const TalvineSettings& settings);
