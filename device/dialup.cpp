#include "device/dialup.h"

#include "common/diag.h"
#include "common/platform/net.h"
#include "common/platform/netif.h"
#include "common/text.h"
#include "device/devstatus.h"
#include "device/texts.h"
#include "device/tftp.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <random>
#include <thread>

namespace {
constexpr unsigned kIdErrorTexts = 1740; // 1740 + (-code - 1): the texts of DialupOwnError
constexpr int kEntryNames = 254;
constexpr uint32_t kFallbackAddress = 0xAC111111; // 172.17.17.17

DialupEnvironment g_env;

// The current connection and the idle hang-up: one lock, one event. The lock is held by the reuse check
// and by the hang-up, so the two never run at the same time; the event tells the idle thread that an
// operation took the connection over.
std::mutex g_lock;
std::condition_variable g_event;
bool g_signalled = false;
uintptr_t g_connection = 0; // the connection that is up (0: none)
std::thread g_idle;

Dialup& Platform()
{
    return g_env.platform ? *g_env.platform : DialupSystem();
}

Clock& LinkClock()
{
    return g_env.clock ? *g_env.clock : TftpClock();
}

uint32_t Random32()
{
    if (g_env.random)
        return g_env.random();
    static std::minstd_rand generator(SystemClock().TickMs());
    uint32_t high = generator() & 0xFFFF;
    uint32_t low = generator() & 0xFFFF;
    return (high << 16) | low;
}

std::optional<std::vector<uint32_t>> OwnAddresses()
{
    if (g_env.own_addresses)
        return g_env.own_addresses();
    std::vector<uint32_t> own = NetOwnAddresses();
    if (own.empty())
        return std::nullopt;
    return own;
}

// Ends the idle thread (it leaves the connection as it is). Called without the lock.
void StopIdle()
{
    if (!g_idle.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        g_signalled = true;
    }
    g_event.notify_all();
    g_idle.join();
    std::lock_guard<std::mutex> hold(g_lock);
    g_signalled = false;
}

// The idle thread must not outlive the program's statics.
struct IdleOwner {
    ~IdleOwner()
    {
        StopIdle();
    }
} g_idleOwner;

int32_t Fail(DeviceEntry& entry, int32_t error)
{
    entry.ras_error = error;
    entry.progress_kind = 0;
    return DevStatusDialUpError;
}

// Names the phone-book entry when it has no name yet, and sets its properties.
int32_t PrepareEntry(DeviceEntry& entry, Dialup& platform)
{
    if (entry.ras_entry.empty()) {
        for (int n = 1; n <= kEntryNames && entry.ras_entry.empty(); ++n) {
            std::string name = StrFormat("Velquin Dial-Up Connection #%d", n);
            if (platform.ValidateEntryName(name) == 0)
                entry.ras_entry = name;
        }
        if (entry.ras_entry.empty())
            return Fail(entry, DialupErrorNoEntryName);
    }
    DialupEntryProperties p;
    if (int code = platform.GetEntryProperties(entry.ras_entry.str(), &p))
        return Fail(entry, code);
    p.options = (p.options & DialupOptUseCountryAndAreaCodes) | DialupOptSpecificIpAddr | DialupOptIpHeaderCompression
        | DialupOptSwCompression;
    p.local_phone = entry.phone_number.str();
    p.protocols = kDialupProtocolIp;
    p.framing = kDialupFramingPpp;
    std::vector<DialupDeviceInfo> devices = platform.Devices();
    auto ofType = [&](const char* type) {
        return std::find_if(
            devices.begin(), devices.end(), [&](const DialupDeviceInfo& d) { return StrEqualNoCase(d.type, type); });
    };
    auto device = ofType("isdn");
    if (device == devices.end())
        device = ofType("modem");
    if (device == devices.end())
        return Fail(entry, DialupErrorNoDevice);
    p.device_type = device->type;
    p.device_name = device->name;
    Diag("    selected DeviceType: %s\n", p.device_type.c_str());
    Diag("    selected DeviceName: %s\n", p.device_name.c_str());
    p.ip_address = DialupLocalAddress(Random32(), OwnAddresses());
    Diag("using ip address %s for RAS connection\n", NetAddressText(p.ip_address).c_str());
    if (int code = platform.SetEntryProperties(entry.ras_entry.str(), p))
        return Fail(entry, code);
    return DevStatusOk;
}
} // namespace

void DialupSetEnvironment(DialupEnvironment environment)
{
    DialupHangUp();
    g_env = std::move(environment);
}

uint32_t DialupLocalAddress(uint32_t random, const std::optional<std::vector<uint32_t>>& own)
{
    uint32_t low = std::clamp<uint32_t>(random & 0xFF, 2, 253);
    uint32_t host = (random & 0xFFFFFF00u) | low;
    if (!own)
        return kFallbackAddress;
    auto used = [&](uint32_t network, uint32_t mask) {
        return std::any_of(own->begin(), own->end(), [&](uint32_t a) { return (a & mask) == network; });
    };
    if (!used(0x0A000000, 0xFF000000))
        return 0x0A000000 | (host & 0x00FFFFFF);
    for (uint32_t i = 0; i < 16; ++i) {
        uint32_t network = 0xAC100000 + (i << 16);
        if (!used(network, 0xFFFF0000))
            return network | (host & 0x0000FFFF);
    }
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t network = 0xC0A80000 + (i << 8);
        if (!used(network, 0xFFFFFF00))
            return network | (host & 0x000000FF);
    }
    return kFallbackAddress;
}

int32_t DialupConnect(DeviceEntry& entry)
{
    Dialup& platform = Platform();
    if (!platform.Available())
        return Fail(entry, DialupErrorNoSupport);
    StopIdle();
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (g_connection && entry.ras_connection == g_connection && platform.IsConnected(g_connection))
            return DevStatusOk; // the connection is still up: reused
        if (g_connection) {
            // One connection at a time: another entry's (or a dropped one) goes.
            platform.HangUp(g_connection);
            g_connection = 0;
        }
    }
    entry.ras_connection = 0;
    entry.ras_error = 0;
    if (int32_t status = PrepareEntry(entry, platform); status != DevStatusOk)
        return status;

    entry.progress_kind = 203; // "Dialing %s ..."
    entry.progress = 0;
    uintptr_t connection = 0;
    int code
        = platform.Dial(entry.ras_entry.str(), entry.phone_number.str(), "ADMIN", entry.password.str(), &connection);
    if (code != 0) {
        platform.HangUp(connection);
        return Fail(entry, code);
    }
    Clock& clock = LinkClock();
    uint32_t start = clock.TickMs();
    int error = 0;
    DialupOutcome outcome;
    while ((outcome = platform.Outcome(connection, &error)) == DialupOutcome::Pending) {
        if (entry.cancel.load()) {
            platform.HangUp(connection);
            entry.progress_kind = 0;
            return DevStatusCancelled;
        }
        if (clock.TickMs() - start >= kDialupOutcomeMs) {
            // The platform never said how the dial went: given up rather than waiting for ever.
            platform.HangUp(connection);
            return Fail(entry, DialupErrorNoOutcome);
        }
        clock.SleepMs(1);
    }
    if (outcome == DialupOutcome::Failed) {
        platform.HangUp(connection);
        return Fail(entry, error ? error : DialupErrorNoOutcome);
    }
    if (!platform.HasIp(connection)) {
        platform.HangUp(connection);
        return Fail(entry, kDialupErrorNoIp);
    }
    std::lock_guard<std::mutex> hold(g_lock);
    g_connection = connection;
    entry.ras_connection = connection;
    entry.progress_kind = 0;
    return DevStatusOk;
}

void DialupStartIdleHangUp(DeviceEntry& entry)
{
    StopIdle();
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_connection)
        return;
    uint32_t idleMs = static_cast<uint32_t>(std::max(entry.ras_idle_s, 0)) * 1000u;
    Dialup* platform = &Platform();
    Clock* clock = &LinkClock();
    uint32_t start = clock->TickMs(); // the idle time counts from the operation's end
    g_idle = std::thread([idleMs, platform, clock, start] {
        std::unique_lock<std::mutex> held(g_lock);
        while (!g_signalled) {
            uint32_t waited = clock->TickMs() - start;
            if (waited >= idleMs) {
                // Nobody took the connection over in time.
                if (g_connection)
                    platform->HangUp(g_connection);
                g_connection = 0;
                return;
            }
            // The clock may be simulated: it is read again at least every 100 ms.
            uint32_t slice = std::min<uint32_t>(idleMs - waited, 100);
            g_event.wait_for(held, std::chrono::milliseconds(slice));
        }
    });
}

void DialupHangUp(DeviceEntry* entry)
{
    StopIdle();
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_connection && (!entry || entry->ras_connection == g_connection)) {
        Platform().HangUp(g_connection);
        g_connection = 0;
    }
    if (entry)
        entry->ras_connection = 0;
}

bool DialupIsConnected()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_connection != 0;
}

std::string DialupErrorText(int32_t code)
{
    if (code < 0 && code >= DialupErrorNoOutcome) {
        std::string text = DeviceText(kIdErrorTexts + static_cast<unsigned>(-code - 1));
        if (!text.empty())
            return text;
    }
    std::string text = code > 0 ? Platform().ErrorText(code) : std::string();
    return text.empty() ? StrFormat("%d", code) : text;
}

// The scripted stand-in.

const DialupScript::Step& DialupScript::Current() const
{
    size_t i = dials_ > 0 ? static_cast<size_t>(dials_ - 1) : 0;
    return steps_[std::min(i, steps_.size() - 1)];
}

int DialupScript::ValidateEntryName(const std::string& name)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (refuse_names > 0) {
        --refuse_names;
        return 183; // already exists
    }
    for (const std::string& e : entries)
        if (StrEqualNoCase(e, name))
            return 183;
    return 0;
}

int DialupScript::GetEntryProperties(const std::string& name, DialupEntryProperties* properties)
{
    std::lock_guard<std::mutex> hold(mutex_);
    for (const std::string& e : entries)
        if (StrEqualNoCase(e, name)) {
            *properties = last_set;
            return 0;
        }
    // The platform's defaults for a new entry: country and area codes, and options the link clears.
    *properties = DialupEntryProperties {};
    properties->options = DialupOptUseCountryAndAreaCodes | 0x00000010 | 0x00000100;
    properties->protocols = 0x3;
    return 0;
}

int DialupScript::SetEntryProperties(const std::string& name, const DialupEntryProperties& properties)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (std::none_of(entries.begin(), entries.end(), [&](const std::string& e) { return StrEqualNoCase(e, name); }))
        entries.push_back(name);
    last_set = properties;
    log.push_back("set " + name);
    return 0;
}

int DialupScript::DeleteEntry(const std::string& name)
{
    std::lock_guard<std::mutex> hold(mutex_);
    entries.erase(
        std::remove_if(entries.begin(), entries.end(), [&](const std::string& e) { return StrEqualNoCase(e, name); }),
        entries.end());
    return 0;
}

int DialupScript::Dial(const std::string& entry, const std::string& phone, const std::string& user,
    const std::string& password, uintptr_t* connection)
{
    std::lock_guard<std::mutex> hold(mutex_);
    ++dials_;
    connection_ = static_cast<uintptr_t>(0x1000 + dials_);
    dialAt_ = clock_.TickMs();
    hungUp_ = false;
    log.push_back("dial " + entry + " " + phone + " " + user + " " + password);
    *connection = connection_;
    return 0;
}

DialupOutcome DialupScript::Outcome(uintptr_t connection, int* error)
{
    std::lock_guard<std::mutex> hold(mutex_);
    const Step& step = Current();
    *error = 0;
    if (connection != connection_ || step.kind == Step::Never || clock_.TickMs() - dialAt_ < step.delay_ms)
        return DialupOutcome::Pending;
    if (step.kind == Step::Fail) {
        *error = step.error;
        return DialupOutcome::Failed;
    }
    return DialupOutcome::Connected;
}

bool DialupScript::IsConnected(uintptr_t connection)
{
    std::lock_guard<std::mutex> hold(mutex_);
    const Step& step = Current();
    uint32_t since = clock_.TickMs() - dialAt_;
    return connection == connection_ && !hungUp_ && step.kind == Step::Connect && since >= step.delay_ms
        && (step.drop_after_ms == 0 || since < step.delay_ms + step.drop_after_ms);
}

bool DialupScript::HasIp(uintptr_t connection)
{
    std::lock_guard<std::mutex> hold(mutex_);
    return connection == connection_ && !Current().no_ip;
}

void DialupScript::HangUp(uintptr_t connection)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (connection && connection == connection_ && !hungUp_) {
        hungUp_ = true;
        log.push_back("hangup");
    }
}

std::string DialupScript::ErrorText(int code)
{
    return StrFormat("scripted error %d", code);
}
