// The device search: a broadcast of the TFTP read request "sysinfo" that every device answers with its
// system information (DeviceSearchNet), the phases over serial ports, the local network and remote
// networks (DeviceSearch), and the merge of the results into the device list (DeviceSearchMerge).
#pragma once

#include "common/clock.h"
#include "device/deviceentry.h"
#include "device/tftp.h" // kTftpPort: devices answer the search on their TFTP port

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IniFile;
class DeviceList;
struct DeviceFolder;

// What to search (`what` of SearchRequest).
enum SearchWhat : int32_t {
    SearchSerialPorts = 0x1,
    SearchLocalNet = 0x2,
    SearchRemoteNet = 0x4,
    SearchStartup = 0x8, // the start-up search: local and remote networks as the settings say
};

// The phase shown while a search runs (also the string id of its text).
enum SearchPhase : int32_t {
    SearchPhaseDone = 0,
    SearchPhaseSerial = 400, // "Checking serial ports ..."
    SearchPhaseLocal = 401, // "Scanning the local network ..."
    SearchPhaseRemote = 402, // "Scanning the remote network ..."
};

constexpr size_t kSearchRoom = 1024; // devices a search's table holds at first (it grows beyond)

struct SearchRequest {
    int32_t what = 0; // SearchWhat bits
    uint32_t remote_address = 0; // remote network (host order)
    uint32_t remote_netmask = 0;
    std::string port_name; // the serial port being checked, for display
    SharedWord phase = 0; // SearchPhase
    SharedWord found = 0; // devices found so far (the window shows it while the search runs)
    SharedWord cancel = 0; // set by the window thread to stop the search
};

// The serial-port phase: the port enumeration and the check over a serial line live with the serial
// links; the search calls them through this interface.
class SerialSearch {
public:
    virtual ~SerialSearch() = default;
    virtual std::vector<std::string> Ports() = 0;
    // Checks the device at entry.line_name; fills the entry's system information. Returns 1 when a
    // device answered.
    virtual int Check(DeviceEntry& entry) = 0;
};

// What the search takes from its surroundings; tests replace the clock, the port and the addresses.
struct SearchEnv {
    Clock* clock = nullptr; // null: the system clock
    uint16_t port = kTftpPort; // where devices listen
    // The PC's own addresses (for the pseudo-address probe). Null: NetOwnAddresses(), asked only when
    // the target is the limited broadcast 255.255.255.255. Tests set it to probe with any target.
    std::function<std::vector<uint32_t>()> own_addresses;
    SerialSearch* serial = nullptr; // null: no serial ports to search
    bool network = true; // false: the network stack is not available, network phases are skipped
    // Bytes asked for each socket, so that a burst of answers fits (a thousand answers of 8 KB at once).
    int receive_buffer = 16 << 20;
};

// Broadcasts (or sends) the request to `target` until `timeoutMs` has passed, `room` entries were
// added or `*cancel` is set. Appends one entry per device to `results`; increments `*found` (optional)
// per entry. Returns the number of entries added.
int DeviceSearchNet(std::vector<DeviceEntry>& results, size_t room, uint32_t target, uint32_t timeoutMs,
    std::atomic<int32_t>* found, const std::atomic<int32_t>* cancel, const SearchEnv& env = {});

// The pseudo address an unconfigured device answers on in the network of `own`: the host part all
// ones except the lowest bit of each byte (.254 in a /24 network).
uint32_t SearchPseudoAddress(uint32_t own, uint32_t netmask);

// Search settings of the section "Options".
struct SearchSettings {
    int32_t at_startup = 1; // "SearchAtStartup"
    int32_t startup_lan = 1; // "SearchStartupLAN"
    int32_t startup_wan = 0; // "SearchStartupWAN"
    std::vector<std::pair<uint32_t, uint32_t>> startup_wan_list; // "SearchStartupWANList": address, netmask
    int32_t timeout_lan_s = 3; // "SearchTimeoutLAN"
    int32_t timeout_wan_s = 15; // "SearchTimeoutWAN"
    int32_t launch_wizard = 1; // "SearchLaunchWizard"
};
SearchSettings SearchReadSettings(const IniFile& ini);
// "a.b.c.d;m.m.m.m;..." into address and netmask pairs (an unpaired or unreadable item is skipped).
std::vector<std::pair<uint32_t, uint32_t>> SearchParseNetList(std::string_view text);

// Runs the phases the request asks for; appends every device found to `results` (entries from a
// local-network or serial phase are marked local). Returns the number of devices found.
int DeviceSearch(SearchRequest& request, std::vector<DeviceEntry>& results, const SearchSettings& settings,
    const SearchEnv& env = {});

// The outcome of merging a search into the device list.
struct SearchMergeResult {
    int new_devices = 0;
    int conflicts = 0; // results with an address another result has with a different MAC address
    DeviceEntry* first_unconfigured = nullptr; // the first new device with DevFlagUnconfigured
    std::vector<DeviceEntry*> updated; // list entries that took a result's system information
    std::vector<DeviceEntry*> added; // list entries created from results
};

// Moves the address conflicts to the front of `results` (they are not merged), sorts the other IP
// results by address, updates the list entries they match and adds the others to `folder` (the root
// when null).
SearchMergeResult DeviceSearchMerge(
    DeviceList& list, std::vector<DeviceEntry>& results, DeviceFolder* folder = nullptr);

// The message about conflicting devices and its details list (per conflicting device).
std::string SearchConflictMessage();
std::string SearchConflictDetails(const std::vector<DeviceEntry>& results, int conflicts);
