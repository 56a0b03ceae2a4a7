// The simulator's fleet: devices on consecutive loopback addresses, each with its TFTP command server,
// all served by one thread and one poll loop over every socket (so a thousand devices cost a thousand
// sockets, not a thousand threads). Other services (SNMP agent, search responder) add their sockets
// and tickers to the same loop.
#pragma once

#include "common/clock.h"
#include "common/platform/net.h"
#include "sim/simdevice.h"
#include "sim/simtftp.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Faults injected into every transfer, for tests of the client.
struct SimFaults {
    uint32_t dropEvery = 0; // drop every n-th datagram the devices send (0: none)
    uint32_t duplicateEvery = 0; // send every n-th datagram twice
    uint32_t delayMs = 0; // hold every datagram this long before sending it
    int silentAfter = -1; // a transfer stops answering after this many packets
    bool strayPort = false; // each transfer also sends one packet from another port
};

struct SimSettings {
    std::string dir; // state directory: one sub-directory per device
    uint16_t port = 69;
    uint32_t count = 1;
    uint32_t address = 0x7f000001; // the first device's address, host order
    std::string type = "Morvak 1100";
    std::string firmware = "3.10.0012";
    std::string password; // password of newly created devices
    SimDeviceOptions device;
    bool overrideOptions = false; // apply `device` also to devices loaded from the directory
    SimFaults faults;
    bool verbose = false; // one line per request on standard output
};

class SimFleet {
public:
    explicit SimFleet(Clock& clock = SystemClock());
    ~SimFleet();

    // Loads the devices saved in the directory or creates them, and opens their sockets. Returns 1 on
    // success; `error` tells what went wrong.
    int Start(const SimSettings& settings, std::string* error);
    // One round: waits at most `maxWaitMs` for a datagram, handles what came, runs the timers.
    void RunOnce(uint32_t maxWaitMs);
    // Runs until `stop` is set.
    void Run(const std::atomic<bool>& stop);

    size_t Count() const
    {
        return nodes_.size();
    }
    SimDevice& Device(size_t index)
    {
        return nodes_[index]->device;
    }
    bool Restarting(size_t index) const
    {
        return nodes_[index]->restarting;
    }

    // Hooks for further services on the same loop.
    void AddSocket(UdpSocket* socket, std::function<void(uint32_t now)> onReadable);
    void RemoveSocket(UdpSocket* socket);
    // Any other descriptor to poll for input (the serial console's pseudo-terminal).
    void AddDescriptor(int fd, std::function<void(uint32_t now)> onReadable);
    // What a command taken another way than TFTP (the console) does to device `index`: restart, or
    // apply the configuration at once.
    void Take(size_t index, SimEffect effect, uint32_t now);
    void AddTicker(std::function<void(uint32_t now)> ticker);
    // Called when a device took a written configuration and answers again (index, old address, new
    // address; both the same when the address stayed).
    std::vector<std::function<void(size_t, uint32_t, uint32_t)>> onAddressChange;
    // Called for every request a device takes (tests compare the exact fields).
    std::function<void(size_t index, const SimRequest& request, NetAddress from)> onRequest;

private:
    struct Node {
        SimDevice device;
        UdpSocket socket;
        bool restarting = false;
        uint32_t restartEnd = 0;
    };
    struct Active {
        size_t node = 0;
        SimRequest request;
        SimEffect effect = SimEffect::None;
        std::unique_ptr<SimTransfer> transfer;
        std::shared_ptr<UdpSocket> socket;
        bool strayDone = false;
        uint32_t sentPackets = 0;
        uint32_t endAt = 0; // a finished write lingers to acknowledge a repeated last block
        bool finished = false;
    };
    struct Pending {
        uint32_t due;
        std::shared_ptr<UdpSocket> socket;
        std::vector<uint8_t> bytes;
        NetAddress to;
    };
    struct Extra {
        UdpSocket* socket; // null: `fd` is polled
        int fd;
        std::function<void(uint32_t)> onReadable;
    };

    int OpenNode(Node& node, std::string* error);
    void OnRequest(size_t index, uint32_t now);
    void OnTransfer(Active& active, uint32_t now);
    void Flush(Active& active, uint32_t now);
    void Emit(const std::shared_ptr<UdpSocket>& socket, std::vector<uint8_t> bytes, NetAddress to, uint32_t now);
    void Finish(Active& active, uint32_t now);
    void Restart(Node& node, uint32_t now);
    void Rebind(size_t index, uint32_t oldAddress);
    void Tick(uint32_t now);

    Clock& clock_;
    SimSettings settings_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<std::unique_ptr<Active>> active_;
    std::deque<Pending> pending_;
    std::vector<Extra> extras_;
    std::vector<std::function<void(uint32_t)>> tickers_;
    uint32_t sentCount_ = 0;
    std::vector<uint8_t> buffer_;
};
