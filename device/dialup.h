// The dial-up link (link type dial-up): before an operation the connection to the device is made or
// reused, then IP is used as usual; afterwards the connection stays up for the entry's idle time and is
// hung up by a thread of its own unless another operation takes it over first. One connection at a
// time. The platform's remote-access service (common/platform/dialup.h) does the dialling; natively a
// scripted substitute (DialupScript) stands in for it in tests.
#pragma once

#include "common/clock.h"
#include "common/platform/dialup.h"
#include "device/deviceentry.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Dial-up failures without a platform error code (`ras_error` values of our own; their texts come
// from the string table).
enum DialupOwnError : int32_t {
    DialupErrorNoSupport = -1, // the platform has no dial-up functions
    DialupErrorNoEntryName = -2, // no name for a new phone-book entry was accepted
    DialupErrorNoDevice = -3, // no isdn or modem device
    DialupErrorNoOutcome = -4, // the platform reported no outcome within kDialupOutcomeMs
};
// The connection check after a successful dial failed (no IP over the line).
constexpr int32_t kDialupErrorNoIp = 716;
// How long the wait for the dial's outcome lasts when the platform never reports one.
constexpr uint32_t kDialupOutcomeMs = 90000;

// What the link takes from its surroundings; tests replace each part.
struct DialupEnvironment {
    Dialup* platform = nullptr; // null: DialupSystem()
    Clock* clock = nullptr; // null: the device operations' clock (TftpClock)
    // A random 32-bit number (two random 16-bit halves). Null: a generator seeded with the tick count
    // when first used.
    std::function<uint32_t()> random;
    // The PC's IPv4 addresses; none when they cannot be found. Null: NetOwnAddresses().
    std::function<std::optional<std::vector<uint32_t>>()> own_addresses;
};
void DialupSetEnvironment(DialupEnvironment environment);

// The local address of the connection: a network no interface of the PC lies in (10/8, else the first
// free 172.16+i/16, else the first free 192.168.i/24) combined with the random host part (its lowest
// byte kept within 2..253); 172.17.17.17 when all are used or the PC's addresses are unknown.
uint32_t DialupLocalAddress(uint32_t random, const std::optional<std::vector<uint32_t>>& own);

// Makes the connection for the entry, or reuses the current one. Returns 110, 114 (with `ras_error`
// set) or 0 when cancelled. Shows progress kind 203 while dialling.
int32_t DialupConnect(DeviceEntry& entry);
// After an operation: the connection stays up `ras_idle_s` seconds, then a thread hangs it up unless
// the next operation took it over.
void DialupStartIdleHangUp(DeviceEntry& entry);
// Hangs up at once: the entry's connection (null: whatever is connected). For the program's end and for
// an entry whose phone-book entry is deleted.
void DialupHangUp(DeviceEntry* entry = nullptr);
// True while a connection is up (for tests and the status display).
bool DialupIsConnected();
// The text of a dial-up error: the platform's, or ours for the codes above, or the number.
std::string DialupErrorText(int32_t code);

struct DialupScriptStep {
    enum Kind { Connect, Fail, Never } kind = Connect;
    uint32_t delay_ms = 0; // the outcome comes this long after the dial
    int error = 0; // Fail: the platform's code
    uint32_t drop_after_ms = 0; // Connect: the line drops this long after connecting (0: never)
    bool no_ip = false; // Connect: the projection fails
};

// A scripted stand-in for the platform: each Dial takes the next step of the script (the last step
// repeats). Time runs on the clock given, so tests run dialling, drops and idle time simulated.
class DialupScript : public Dialup {
public:
    using Step = DialupScriptStep;
    explicit DialupScript(Clock& clock, std::vector<Step> steps = { DialupScriptStep() })
        : clock_(clock)
        , steps_(std::move(steps))
    {
    }
    std::vector<DialupDeviceInfo> devices = { { "modem", "Scripted Modem" }, { "isdn", "Scripted ISDN 1" } };
    std::vector<std::string> entries; // phone-book entries that exist
    std::vector<std::string> log; // each call, for tests: "dial NAME PHONE USER", "hangup", "set NAME ..."
    DialupEntryProperties last_set;
    int refuse_names = 0; // the first n names asked for are refused as existing
    bool available = true; // false: a platform without dial-up functions

    bool Available() override
    {
        return available;
    }
    int ValidateEntryName(const std::string& name) override;
    int GetEntryProperties(const std::string& name, DialupEntryProperties* properties) override;
    int SetEntryProperties(const std::string& name, const DialupEntryProperties& properties) override;
    int DeleteEntry(const std::string& name) override;
    std::vector<DialupDeviceInfo> Devices() override
    {
        return devices;
    }
    int Dial(const std::string& entry, const std::string& phone, const std::string& user, const std::string& password,
        uintptr_t* connection) override;
    DialupOutcome Outcome(uintptr_t connection, int* error) override;
    bool IsConnected(uintptr_t connection) override;
    bool HasIp(uintptr_t connection) override;
    void HangUp(uintptr_t connection) override;
    std::string ErrorText(int code) override;
    int Dials() const
    {
        return dials_;
    }

private:
    const Step& Current() const;
    Clock& clock_;
    std::vector<Step> steps_;
    mutable std::mutex mutex_;
    int dials_ = 0;
    uintptr_t connection_ = 0; // the current dial's handle (0: none)
    uint32_t dialAt_ = 0;
    bool hungUp_ = false;
};
