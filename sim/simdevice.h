// One simulated Morvak device: what it says about itself, its configuration text, its firmware
// images and clock, and how it answers the TFTP commands. Its state lives in a directory of its own
// (device.ini, config.txt, image-N.bin) so that it survives a restart of the simulator.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Behaviour switches of a device, from the command line or its device.ini.
struct SimDeviceOptions {
    uint32_t restartMs = 3000; // silent this long after a configuration or firmware write
    bool noRestart = false; // applies a written configuration at once (CONFIG-STATUS bit 0x20)
    bool solvane = false; // offers the Solvane server (SOLVANE-PORT 4000)
    bool echoWrongPassword = false; // a refused password is answered with the echo of the request
    bool refuseAccess = false; // every command with a password gets ERROR 2 (access denied)
    bool truncatedOack = false; // answers the block-size option with the two bytes "bl"
    uint32_t maxBlockSize = 8192; // the largest block size it agrees to
    uint32_t images = 2; // firmware images kept (1 or 2); a one-image device reports no FIRMWARE-STATUS
    bool firmwareFailsToStart = false; // fault: new firmware does not start, the previous one runs again
    bool firmwareNoReturn = false; // fault: after a firmware upload the device never answers again
};

// The shipped device types and what their hardware reports.
struct SimDeviceType {
    const char* name;
    uint32_t hwMask;
    const char* serialPrefix;
};
const std::vector<SimDeviceType>& SimDeviceTypes();
const SimDeviceType* SimFindDeviceType(const std::string& name);
// Firmware versions the shipped descriptions know.
const std::vector<std::string>& SimFirmwareVersions();

struct SimImage {
    std::string version; // "3.22.0005"
    std::string date; // "DDMMYYYY"
};

// What a command does to the device after its transfer.
enum class SimEffect { None, Restart, ApplyConfig };

struct SimAnswer {
    int32_t error = -1; // 0 and above: answer with an ERROR of this code
    std::string message;
    std::string data; // read: the bytes served
    bool accept = false; // write: take the data
};

class SimDevice {
public:
    // A new device of `type` with firmware `firmware` at `address` (host order), number `index` of the
    // fleet (1-based, makes serial number, MAC address and name unique).
    void Create(const std::string& dir, uint32_t index, const std::string& type, const std::string& firmware,
        uint32_t address, const SimDeviceOptions& options, const std::string& initialPassword = {});
    // Loads a device saved in `dir`. Returns 1 on success; `error` tells why not.
    int Load(const std::string& dir, std::string* error);
    int Save() const;

    // A read request: the answer (data or error) and the effect once it has been sent.
    SimAnswer Read(const std::string& file, SimEffect* effect);
    // A write request: accept or refuse.
    SimAnswer Write(const std::string& file);
    // A completed write: stores it; returns what the device does next.
    SimEffect Written(const std::string& file, const std::string& data);
    // A write in progress, after each block (`complete`: the last one came): false refuses it with the
    // TFTP error `code` and `message` (a firmware file for another device type, or no firmware file).
    bool Inspect(const std::string& file, const std::string& received, bool complete, uint16_t* code,
        std::string* message) const;
    // Whether `data` is a firmware file this device takes; `message` tells why not.
    bool Acceptable(const std::string& data, std::string* message) const;
    // Stores a firmware file (checked with Acceptable) into an image: `imageParam` 0 the image that is
    // not running, n the image n - 1. A device with two images then runs the new one in test mode
    // until "activateimage". Returns the restart.
    SimEffect Flash(const std::string& data, uint32_t imageParam);

    std::string SysInfoText() const;
    // Ends a restart: the address, name and password of the stored configuration take effect; after a
    // written configuration, an address in it ends the unconfigured state.
    void ApplyConfig();

    uint32_t address = 0; // host order, where it answers now
    std::string dir;
    std::string type;
    std::string hwRelease = "A";
    std::string serial;
    std::string mac; // 12 hex digits
    std::string name; // from the configuration
    std::string password; // from the configuration
    std::string config; // the configuration text
    std::vector<SimImage> images;
    int32_t activeImage = 0; // the activated image, which starts after a restart
    int32_t runningImage = 0; // the image running now (test mode when it is not the activated one)
    bool gone = false; // fault firmwareNoReturn struck: never answers again
    int64_t clockOffset = 0; // device clock minus the host clock, seconds
    SimDeviceOptions options;
    // Not configured yet: "sysinfo" reports IP-ADDRESS 0.0.0.0 until a written configuration gives the
    // device an address.
    bool unconfigured = false;

private:
    bool configWritten_ = false; // a configuration was written since the last ApplyConfig
    // The password prefix and command of a file name, when it names `command`.
    bool Split(const std::string& file, const std::string& command, std::string* argument) const;
    SimAnswer PasswordRefused(const std::string& file, bool read) const;
};

// The device's configuration text as it leaves the factory (items of the shipped descriptions).
std::string SimInitialConfig(const std::string& type, const std::string& name, const std::string& serial,
    uint32_t address, const std::string& password = {});
// The value of item `name` in a configuration text ("" when missing); names ignore case.
std::string SimConfigValue(const std::string& config, const std::string& name);
// "hhmmssDDMMYYYY" of a UTC moment, and back (false for a text that is no valid moment).
std::string SimTimeText(std::time_t t);
bool SimParseTime(const std::string& text, std::time_t* t);
