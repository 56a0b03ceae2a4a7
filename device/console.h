// The device console over a serial cable (link type serial): the probe that finds the console's speed,
// the login that reads the banner (device type, firmware, serial number, name), the extra system
// information, and reading and writing the configuration. Each function opens the entry's port
// (`line_name`), works and closes it again, and returns a DeviceStatus: 110 done, 112 the port could not
// be opened or written, 115 the console stayed silent, 116 the password was refused, 0 cancelled.
#pragma once

#include "common/clock.h"
#include "common/platform/serial.h"
#include "device/deviceentry.h"
#include "device/search.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CfgTempStream;
class IniFile;

// One row of the probe table: the speed, how often 0x1A is sent, how long each answer is awaited.
struct ConsoleProbeRow {
    uint32_t baud;
    int tries;
    uint32_t wait_ms;
};
extern const ConsoleProbeRow kConsoleProbeTable[3];

// The banner line that names the maker (Zevra) or one of its partner brands, before the device type.
extern const char* const kConsoleMakers[3];

// Where the console reaches its ports; tests put a recording substitute here. Pauses and time-outs
// run on the device operations' clock (TftpClock, which tests replace through TftpSetEnvironment).
struct ConsoleEnvironment {
    // Null: SerialOpen.
    std::function<std::unique_ptr<SerialPort>(std::string_view name, const SerialOptions&, std::string* error)> open;
};
void ConsoleSetEnvironment(ConsoleEnvironment environment);

// The port options the console opens with: RTS/CTS handshake unless the program turned it off (its
// "nortscts" switch) through ConsoleSetHandshake. The setting holds for the whole process.
void ConsoleSetHandshake(bool rtsCts);
SerialOptions ConsoleSerialOptions();

// Reads the system information over the console into the entry (probe, login, extra information).
int32_t ConsoleCheck(DeviceEntry& entry);
// Check, then "readconfig": the configuration into a new temporary stream, handed back rewound.
int32_t ConsoleReadConfig(DeviceEntry& entry, std::shared_ptr<CfgTempStream>* stream);
// Probe, login, "writeconfig" and the stream's lines; cannot be cancelled once the lines go out.
int32_t ConsoleWriteConfig(DeviceEntry& entry, CfgTempStream& stream);

// Firmware over the console: the console's "do f/f" (probe, login) or, when the console stays silent
// (a device in its boot loader), the boot loader's upload prompt at 38400 baud; then XMODEM from the
// file's current position. 110 all acknowledged, 118 the device cancelled (CAN), 115 no prompt or no
// answer, 112 the port failed, 116 wrong password, 113 the file could not be read, 0 cancelled before
// the transfer began. `progress` counts the bytes acknowledged (kind 202 of progress_total).
int32_t ConsoleUploadFirmware(DeviceEntry& entry, std::FILE* firmware);
// The boot loader's speed and the bytes that wake its upload prompt (three CAN, five CR).
constexpr uint32_t kConsoleBootLoaderBaud = 38400;
extern const char kConsoleBootLoaderWake[8];

// The device name on the line after the banner: the text between the first two double quotes, or else
// the word before the last comma (63 characters).
std::string ConsoleNameFromLine(std::string_view line);

// Serial port names: on Windows NT the values of HKLM "Hardware\DeviceMap\SerialComm", on the older
// family the devices under "Enum" whose driver class is a serial port; elsewhere the ports the user
// named in the settings ("Options", key "SerialPorts", ";"-separated). Names longer than a DeviceEntry
// holds (15 characters) are left out with a diagnostic line naming them. Each name once (ignoring case),
// in the order found.
std::vector<std::string> ConsoleEnumeratePorts(const IniFile* settings);
// The ports the registry lists: on Windows NT the values of HKLM "Hardware\DeviceMap\SerialComm", on the
// older family (`win9x`) the devices under "Enum" whose driver class is a serial port.
std::vector<std::string> ConsoleRegistryPorts(bool win9x);
// The longest port name a DeviceEntry holds.
constexpr size_t kConsolePortNameMax = 15;
// Splits "a;b;;c" into names, each once (ignoring case), blanks trimmed.
std::vector<std::string> ConsoleSplitPortList(std::string_view text);

// The serial phase of the device search: the enumeration (or the given ports) and the console check.
class ConsoleSerialSearch : public SerialSearch {
public:
    explicit ConsoleSerialSearch(std::vector<std::string> ports)
        : ports_(std::move(ports))
    {
    }
    std::vector<std::string> Ports() override
    {
        return ports_;
    }
    int Check(DeviceEntry& entry) override;

private:
    std::vector<std::string> ports_;
};
