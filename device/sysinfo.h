// The system information text: every device answers the TFTP read request "sysinfo" with a few lines
// "KEY: value" that describe it. SysInfoParse reads it into the fields of a DeviceEntry; SysInfoBuild
// writes it (the simulator answers with it, so that producer and parser cannot drift apart).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// DeviceFlags: capabilities derived from the system information (`flags` of DeviceEntry).
enum DeviceFlags : uint32_t {
    DevFlagUnconfigured = 0x0001, // IP-ADDRESS and INTRANET-ADDRESS both 0.0.0.0: only a pseudo address
    DevFlagConfigStatus10 = 0x0002, // CONFIG-STATUS bit 0x10, kept with the entry
    DevFlagNoRestart = 0x0004, // CONFIG-STATUS bit 0x20: a written configuration applies without restart
    DevFlagSolvane = 0x0008, // SOLVANE-PORT not 0: the device offers the Solvane server
    DevFlagFirmwareImages = 0x0010, // FIRMWARE-STATUS present: several firmware images
    DevFlagAsymmetric = 0x0020, // an image version contains "m" or "M": asymmetric image store
    DevFlagSlowRestart = 0x0040, // CONFIG-STATUS bit 0x40: 30 more seconds for the restart
    DevFlagNoPseudoProbe = 0x0080, // CONFIG-STATUS bit 0x80: unconfigured, but never probed on a pseudo address
    DevFlagHasTime = 0x0100, // a TIME line was present
    DevFlagTimeValid = 0x0200, // the TIME value is not 0: the device clock can be shown
    DevFlagFeatureWord = 0x0400, // FEATUREWORD present: `feature_word` is valid
    DevFlagHwMask = 0x0800, // HW-MASK present: `hw_mask` is valid
};

// The firmware images a device keeps (FIRMWARE-STATUS "active;n2;n3;image;image;...").
struct FirmwareStatusInfo {
    static constexpr size_t kListBytes = 128; // room of the version list and of the date list

    int32_t active = 0; // index of the running image, 0-based
    int32_t number2 = 0; // second number of the line, kept for the firmware management
    int32_t number3 = 0; // third number of the line, kept for the firmware management
    int32_t image_count = 0; // number of image parts in the line
    // Version and date of each image ("*" and "*" for a part without two dots). Both lists together
    // with their terminators fit the 128-byte lists of the system (each text + NUL, then one empty
    // text); images past that room are counted but not listed.
    std::vector<std::string> versions;
    std::vector<std::string> dates;

    bool operator==(const FirmwareStatusInfo&) const = default;
};

// Field widths of the system information in DeviceEntry (characters, without the terminator).
constexpr size_t kSysDeviceTypeMax = 63;
constexpr size_t kSysHwReleaseMax = 4;
constexpr size_t kSysFwVersionMax = 9;
constexpr size_t kSysFwDateMax = 11;
constexpr size_t kSysSerialMax = 15; // the parser reads up to 24 characters; the field keeps 15
constexpr size_t kSysSerialReadMax = 24;
constexpr size_t kSysNameMax = 63;
constexpr size_t kSysMacMax = 13;
constexpr size_t kSysAddressMax = 15;
constexpr size_t kSysTimeMax = 15;
constexpr size_t kSysFwStatusMax = 255;
constexpr size_t kSysBinaryMax = 63;

// Every output of SysInfoParse; a null pointer skips that output. Given outputs are cleared first.
struct SysInfoOut {
    std::string* device_type = nullptr;
    std::string* fw_version = nullptr;
    std::string* fw_date = nullptr;
    std::string* serial_no = nullptr;
    std::string* name = nullptr;
    std::string* mac_address = nullptr;
    std::string* ip_address = nullptr; // IP-ADDRESS value as text
    std::string* ip_netmask = nullptr; // IP-NETMASK value as text
    std::string* hw_release = nullptr;
    std::string* sys_time = nullptr; // TIME "hhmmssDDMMYYYY"
    FirmwareStatusInfo* fw_status = nullptr;
    uint32_t* flags = nullptr; // DeviceFlags
    uint32_t* feature_word = nullptr;
    uint32_t* hw_mask = nullptr;
};

// Reads the text; returns 1 when it is valid (each of the six required keys DEVICE, HW-RELEASE,
// VERSION, SERIAL-NUMBER, NAME and MAC-ADDRESS exactly once). Texts are cut to the widths above.
int SysInfoParse(std::string_view text, const SysInfoOut& out);

struct DeviceEntry;
// Parses into the system information fields of an entry (name, type, versions, serial, MAC, hardware
// release, clock, firmware status, flags, feature word, hardware mask). `netmask` (optional) receives
// the IP-NETMASK text. Returns 1 when valid.
int SysInfoParseInto(std::string_view text, DeviceEntry& entry, std::string* netmask = nullptr);

// What a device says about itself; SysInfoBuild turns it into the text a device sends.
struct SysInfoFields {
    std::string device_type;
    std::string hw_release;
    std::string fw_version;
    std::string fw_date;
    std::string serial_no;
    std::string name;
    std::string mac_address;
    std::string ip_address; // empty: no IP-ADDRESS line
    std::string ip_netmask; // empty: no IP-NETMASK line
    std::string intranet_address; // empty: no INTRANET-ADDRESS line
    std::string intranet_mask; // empty: no INTRANET-MASK line
    int32_t config_status = -1; // -1: no CONFIG-STATUS line
    std::string time; // empty: no TIME line
    std::string fw_status; // empty: no FIRMWARE-STATUS line
    int32_t solvane_port = -1; // -1: no SOLVANE-PORT line
    std::string feature_word; // binary digits; empty: no FEATUREWORD line
    std::string hw_mask; // binary digits; empty: no HW-MASK line
    std::string padding; // extra text appended as a last line (used to fill whole blocks)
};

// The text with CR LF line ends, keys in English.
std::string SysInfoBuild(const SysInfoFields& fields);
