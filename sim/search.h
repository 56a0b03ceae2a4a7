// The simulator's answer to device searches: a listener on the broadcast addresses (and on the pseudo
// addresses unconfigured devices answer on) that takes the TFTP read request "sysinfo" and answers it
// from the address of every simulated device, as a fleet of real devices answers a broadcast.
#pragma once

#include "common/platform/net.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SimFleet;

// The pace of the answers to one request: told when the run of answers starts and ends, and asked for
// the pause after each burst. By default the pauses are real sleeps; a test's clock may follow the
// fleet instead (its time runs by the pauses while the fleet answers, however long a busy machine
// holds the fleet's thread).
class SimSearchPacer {
public:
    virtual ~SimSearchPacer() = default;
    virtual void Begin() = 0;
    virtual void Pause(uint32_t ms) = 0;
    virtual void End() = 0;
};

struct SimSearchOptions {
    // Addresses the listener takes requests on: broadcast addresses (127.255.255.255 for a fleet on
    // loopback; 255.255.255.255 and the network's directed broadcast inside a test's network
    // namespace) and pseudo addresses (a.b.c.254) for unconfigured devices. Only these are bound, so
    // the simulator never hears, nor answers, anything else.
    std::vector<uint32_t> bind = { 0x7fffffffu };
    uint16_t port = 69;
    // Devices are assigned in fleet order: the first `unconfigured` report IP-ADDRESS 0.0.0.0, the next
    // `shipping` report and answer from `shipping_address` (devices in shipping state), the next
    // `full_block` send a text that fills a whole 512-byte block; the rest answer normally.
    uint32_t unconfigured = 0;
    bool no_probe = false; // unconfigured devices set CONFIG-STATUS bit 0x80 (never probed)
    uint32_t unconfigured_netmask = 0xFFFFFF00; // the netmask unconfigured devices report
    uint32_t shipping = 0;
    uint32_t shipping_address = 0; // 0: the first shipping device's own address
    uint32_t full_block = 0;
    uint32_t burst = 16; // answers sent back to back before a pause of 1 ms
    SimSearchPacer* pacer = nullptr; // null: the pauses are real sleeps
};

// The search role of one device.
enum class SimSearchRole { Normal, Unconfigured, Shipping, FullBlock };

// The system information text `base` as a device in `role` sends it.
std::string SimSearchText(
    const std::string& base, SimSearchRole role, const SimSearchOptions& options, uint32_t shippingAddress);

class SimSearchResponder {
public:
    SimSearchResponder();
    ~SimSearchResponder();

    // Opens the listeners and joins the fleet's poll loop. Returns 1 on success.
    int Start(SimFleet& fleet, const SimSearchOptions& options, std::string* error);
    void Stop();

    SimSearchRole Role(size_t index) const;
    // What device `index` answers to a request that reached `boundTo`: false when it stays silent;
    // otherwise the text and the address it answers from.
    bool Answer(size_t index, uint32_t boundTo, std::string* text, uint32_t* from) const;

    uint32_t requests = 0; // search requests taken
    uint32_t answers = 0; // answers sent

private:
    void OnReadable(size_t listener);

    struct Listener {
        uint32_t address = 0;
        UdpSocket socket;
    };
    SimFleet* fleet_ = nullptr;
    SimSearchOptions options_;
    uint32_t shippingAddress_ = 0;
    std::vector<std::unique_ptr<Listener>> listeners_;
};
