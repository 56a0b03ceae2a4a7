// The platform's remote-access (dial-up) service, reduced to what the configuration tool's dial-up
// link needs: phone-book entries, devices, dialling with an outcome reported later, the state of a
// connection, hanging up and error texts. On Windows the twelve functions of "rasapi32.dll", bound by
// name (DialupLoad); elsewhere there is none and every dial-up fails, unless a substitute is put in
// place (device/dialup.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Entry options (the platform's own bit values).
enum DialupOption : uint32_t {
    DialupOptUseCountryAndAreaCodes = 0x00000001,
    DialupOptSpecificIpAddr = 0x00000002,
    DialupOptIpHeaderCompression = 0x00000008,
    DialupOptSwCompression = 0x00000200,
};
constexpr uint32_t kDialupProtocolIp = 0x00000004; // network protocol IP only
constexpr uint32_t kDialupFramingPpp = 0x00000001;

struct DialupDeviceInfo {
    std::string type; // "isdn", "modem", ...
    std::string name;
};

// What the tool reads and changes of a phone-book entry.
struct DialupEntryProperties {
    uint32_t options = 0; // DialupOption bits
    std::string local_phone;
    uint32_t protocols = 0;
    uint32_t framing = 0;
    std::string device_type;
    std::string device_name;
    uint32_t ip_address = 0; // the specific local address, host order
};

// How a dial started with Dial stands.
enum class DialupOutcome { Pending, Connected, Failed };

class Dialup {
public:
    virtual ~Dialup() = default;
    // True when every function the link needs is there.
    virtual bool Available() = 0;
    // 0 when `name` is acceptable as the name of a new entry; else the platform's error code.
    virtual int ValidateEntryName(const std::string& name) = 0;
    // The properties of entry `name` (the defaults for a new entry). 0 or the platform's error code.
    virtual int GetEntryProperties(const std::string& name, DialupEntryProperties* properties) = 0;
    // Writes the properties, creating the entry when it does not exist. 0 or the error code.
    virtual int SetEntryProperties(const std::string& name, const DialupEntryProperties& properties) = 0;
    virtual int DeleteEntry(const std::string& name) = 0;
    virtual std::vector<DialupDeviceInfo> Devices() = 0;
    // Starts dialling entry `entry`; `connection` receives the handle at once. 0 when dialling began,
    // else the error code (the handle, when not 0, must still be hung up).
    virtual int Dial(const std::string& entry, const std::string& phone, const std::string& user,
        const std::string& password, uintptr_t* connection)
        = 0;
    // The outcome the platform reported for the dial (with its error code when it failed).
    virtual DialupOutcome Outcome(uintptr_t connection, int* error) = 0;
    // True while the connection is up.
    virtual bool IsConnected(uintptr_t connection) = 0;
    // True when IP runs over the connection (the projection succeeded).
    virtual bool HasIp(uintptr_t connection) = 0;
    virtual void HangUp(uintptr_t connection) = 0;
    // The platform's text for an error code ("" when it has none).
    virtual std::string ErrorText(int code) = 0;
};

// Binds the platform's functions (once; later calls return the first result). 1 when available.
int DialupLoad();
void DialupUnload();
// The platform's service (never null; Available() false when there is none).
Dialup& DialupSystem();
