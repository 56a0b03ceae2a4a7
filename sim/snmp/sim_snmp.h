// The simulator's SNMPv1 agent. SimSnmpAgent is one device's agent as a function of datagrams and time
// (request in, answer out); SimSnmpServer serves a fleet of them, each on its own loopback address,
// from one thread.
#pragma once

#include "common/clock.h"
#include "common/platform/net.h"
#include "monitor/snmp/snmp_ber.h"
#include "sim/snmp/sim_mib.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The largest UDP payload over IPv4: requests up to this size are read whole.
constexpr size_t kSimSnmpMaxRequest = 65507;

struct SimSnmpDeviceConfig {
    std::string name = "morvak"; // $name in the MIB's texts
    uint32_t address = 0x7F000001; // host order; the agent listens here, $address in the MIB
    uint16_t port = 161;
    std::string readCommunity = "public"; // get and getnext
    std::string writeCommunity = "private"; // get, getnext and set
    size_t maxResponse = 1472; // larger answers become tooBig
    std::optional<NetAddress> trapTo; // where enterprise traps go (none: no traps)
};

class SimSnmpAgent {
public:
    SimSnmpAgent(const SimSnmpDeviceConfig& config, std::shared_ptr<const SimMib> mib, uint32_t nowMs);

    // One request datagram; the answer to send back (empty: no answer, e.g. a wrong community). `from`, the
    // sender: a set of the registration object makes it a destination of the enterprise traps (an empty
    // value ends that).
    std::vector<uint8_t> Handle(const uint8_t* data, size_t size, uint32_t nowMs, const NetAddress* from = nullptr);
    // An enterprise trap (generic 6) carrying the current values of `oids`.
    std::vector<uint8_t> BuildTrap(uint32_t specific, const std::vector<SimOidKey>& oids, uint32_t nowMs);
    // Traps for objects marked "trap" whose value changed since the last call.
    std::vector<std::vector<uint8_t>> DueTraps(uint32_t nowMs);
    // Changes or adds an object's value from outside (the value's kind picks the type for new objects).
    void SetValue(const SimOidKey& key, uint8_t tag, const SnmpValue& value);
    // The current value of an object, false when there is none.
    bool Value(const SimOidKey& key, uint32_t nowMs, SnmpBinding* out) const;

    const SimSnmpDeviceConfig& Config() const
    {
        return config_;
    }
    bool WantsTraps() const
    {
        return (config_.trapTo.has_value() || registered_.has_value()) && hasTrapObjects_;
    }
    // Where traps go: --trap's destination and the monitor registered last.
    std::vector<NetAddress> TrapDestinations() const;
    // The communities a written configuration gave the device (an empty write community: no writes).
    void SetCommunities(const std::string& read, const std::string& write)
    {
        config_.readCommunity = read;
        config_.writeCommunity = write;
    }

private:
    SimMib& Own(); // copy on first write: devices of one type share their MIB until then
    bool Binding(const SimObject& o, const SimOidKey& key, uint32_t nowMs, SnmpBinding* out) const;
    uint32_t Phase(const SimObject& o) const;

    SimSnmpDeviceConfig config_;
    std::shared_ptr<const SimMib> mib_;
    std::shared_ptr<SimMib> own_;
    uint32_t startMs_;
    bool hasTrapObjects_ = false;
    std::vector<std::pair<SimOidKey, size_t>> trapState_; // last cycle step seen per trap object
    std::optional<NetAddress> registered_; // the sender of the last non-empty registration set
};

// The object a monitor sets to register itself with the device (its name, or name and trap port).
constexpr const char* kSimRegistrationOid = "1.3.6.1.4.1.58127.2.7.0";

// One device's agent with its own socket, for a host loop that waits on the socket itself (morvaksim's
// fleet loop): the loop calls OnReadable when the socket has datagrams and OnTick now and then.
class SimSnmpEndpoint {
public:
    // Binds the device's address and port. 1 on success.
    int Open(const SimSnmpDeviceConfig& config, std::shared_ptr<const SimMib> mib, uint32_t nowMs);
    // Moves to another address (the device restarted with a new configuration). 1 on success.
    int Rebind(uint32_t address);
    void OnReadable(uint32_t nowMs);
    // Sends the traps that are due (objects marked "trap" that changed).
    void OnTick(uint32_t nowMs);
    UdpSocket* Socket()
    {
        return &socket_;
    }
    SimSnmpAgent* Agent()
    {
        return agent_.get();
    }

private:
    UdpSocket socket_;
    std::unique_ptr<SimSnmpAgent> agent_;
    SimSnmpDeviceConfig config_;
    std::shared_ptr<const SimMib> mib_;
    uint32_t lastTrapCheck_ = 0;
};

// The communities of a configuration text's /snmp/communities rows (columns: community, access 1 read or
// 2 read and write, manager address): the first read-only row's community reads (else the first
// read-write row's), the first read-write row's writes (else none: ""). False when the text has no row.
bool SimCommunitiesFromConfig(const std::string& config, std::string* read, std::string* write);

// The MIB file of a device type: "Morvak 1100 Plus" -> "morvak1100plus.mib".
std::string SimMibFileFor(const std::string& deviceType);

// The 32 objects a monitor polls on a simulated device, as OID texts: the system group, columns of
// both interface rows and the device's status objects (the load of the flood test and the benchmark).
std::vector<std::string> SimPolledObjects();

class SimSnmpServer {
public:
    explicit SimSnmpServer(Clock& clock = SystemClock());
    ~SimSnmpServer();

    // Binds the device's address and port and adds its agent. 1 on success, 0 when the socket cannot be
    // bound. Devices may be added before and while the server runs.
    int AddDevice(const SimSnmpDeviceConfig& config, std::shared_ptr<const SimMib> mib);
    int Start();
    void Stop();
    // Changes an object of the device at `address` (host order). 1 when the device exists.
    int SetValue(uint32_t address, const std::string& oidText, uint8_t tag, const SnmpValue& value);
    // Sends an enterprise trap (generic 6) from the device with the given objects. 1 when sent.
    int SendTrap(uint32_t address, uint32_t specific, const std::vector<std::string>& oidTexts);
    uint64_t Requests() const
    {
        return requests_.load();
    }

private:
    struct Device {
        UdpSocket socket;
        std::unique_ptr<SimSnmpAgent> agent;
    };
    void Run();
    Device* Find(uint32_t address);

    Clock& clock_;
    std::mutex lock_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::thread thread_;
    std::atomic<bool> stop_ { false };
    std::atomic<uint64_t> requests_ { 0 };
};
