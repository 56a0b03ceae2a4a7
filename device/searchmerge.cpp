// The merge of a finished search into the device list (window thread).
#include "common/platform/net.h"
#include "common/text.h"
#include "device/devicelist.h"
#include "device/search.h"
#include "device/texts.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace {
constexpr unsigned kIdConflictMessage = 2300;
constexpr unsigned kIdConflictUnconfigured = 2301;
constexpr unsigned kIdConflictConfigured = 2302;

std::string MacKey(const DeviceEntry& e)
{
    return StrLower(e.mac_address.str());
}
} // namespace

// Linear in the results and the list: the address groups and the list's entries are looked up in hash
// tables (a search may find ten thousand devices).
SearchMergeResult DeviceSearchMerge(DeviceList& list, std::vector<DeviceEntry>& results, DeviceFolder* folder)
{
    SearchMergeResult merge;
    // 1. Several devices on one address (devices in shipping state): to the front, not merged. Two IP
    // results on one address with different MAC addresses are both conflicts, so an address is in
    // conflict, with every result on it, as soon as it holds two MAC addresses.
    struct Group {
        std::string mac; // the first result's MAC address
        bool mixed = false;
    };
    std::unordered_map<uint32_t, Group> groups;
    groups.reserve(results.size());
    for (const DeviceEntry& r : results) {
        if (r.link != LinkIp)
            continue;
        auto [it, fresh] = groups.try_emplace(r.address);
        if (fresh)
            it->second.mac = MacKey(r);
        else if (!it->second.mixed && it->second.mac != MacKey(r))
            it->second.mixed = true;
    }
    std::vector<char> conflict(results.size(), 0);
    for (size_t i = 0; i < results.size(); ++i)
        conflict[i] = results[i].link == LinkIp && groups[results[i].address].mixed;
    std::vector<DeviceEntry> ordered;
    ordered.reserve(results.size());
    for (size_t i = 0; i < results.size(); ++i)
        if (conflict[i])
            ordered.push_back(std::move(results[i]));
    merge.conflicts = static_cast<int>(ordered.size());
    for (size_t i = 0; i < results.size(); ++i)
        if (!conflict[i])
            ordered.push_back(std::move(results[i]));
    results = std::move(ordered);

    // 2. The others by address (serial results, which have none, keep their order ahead of them).
    std::stable_sort(results.begin() + merge.conflicts, results.end(), [](const DeviceEntry& a, const DeviceEntry& b) {
        bool ipA = a.link == LinkIp, ipB = b.link == LinkIp;
        if (ipA != ipB)
            return !ipA;
        return ipA && a.address < b.address;
    });

    // 3. Update what the list has, add what it has not. The first list entry of an address (or a serial
    // port name) is the one that matches, as a walk through the list in order would find it.
    std::unordered_map<uint32_t, DeviceEntry*> byAddress;
    std::unordered_map<std::string, DeviceEntry*> byPort;
    list.ForEach([&](DeviceFolder&, DeviceEntry& e) {
        if (e.link == LinkIp)
            byAddress.try_emplace(e.address, &e);
        else if (e.link == LinkSerial)
            byPort.try_emplace(StrLower(e.line_name.str()), &e);
    });
    for (size_t i = static_cast<size_t>(merge.conflicts); i < results.size(); ++i) {
        const DeviceEntry& result = results[i];
        DeviceEntry* match = nullptr;
        if (result.link == LinkIp) {
            auto it = byAddress.find(result.address);
            match = it == byAddress.end() ? nullptr : it->second;
        } else if (result.link == LinkSerial) {
            auto it = byPort.find(StrLower(result.line_name.str()));
            match = it == byPort.end() ? nullptr : it->second;
        }
        if (match) {
            match->TakeSysInfo(result);
            merge.updated.push_back(match);
            continue;
        }
        DeviceEntry* added = list.Add(std::make_unique<DeviceEntry>(result), folder);
        added->next = nullptr;
        if (added->link == LinkIp)
            byAddress.try_emplace(added->address, added);
        else if (added->link == LinkSerial)
            byPort.try_emplace(StrLower(added->line_name.str()), added);
        merge.added.push_back(added);
        ++merge.new_devices;
        if (!merge.first_unconfigured && (added->flags & DevFlagUnconfigured))
            merge.first_unconfigured = added;
    }
    return merge;
}

std::string SearchConflictMessage()
{
    return DeviceText(kIdConflictMessage);
}

std::string SearchConflictDetails(const std::vector<DeviceEntry>& results, int conflicts)
{
    std::string details;
    std::string unconfigured = DeviceText(kIdConflictUnconfigured);
    std::string configured = DeviceText(kIdConflictConfigured);
    for (int i = 0; i < conflicts && static_cast<size_t>(i) < results.size(); ++i) {
        const DeviceEntry& e = results[static_cast<size_t>(i)];
        const std::string& format = (e.flags & DevFlagUnconfigured) ? unconfigured : configured;
        details
            += StrFormat(format.c_str(), NetAddressText(e.address).c_str(), e.MacText().c_str(), e.serial_no.c_str());
    }
    return details;
}
