// The merge of a finished search into the device list (window thread).
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/device/devicelist.h"
#include "config/device/search.h"

#include <algorithm>

namespace {
constexpr unsigned kIdConflictMessage = 2300;
constexpr unsigned kIdConflictUnconfigured = 2301;
constexpr unsigned kIdConflictConfigured = 2302;

bool Conflicting(const DeviceEntry& a, const DeviceEntry& b)
{
    return a.link == LinkIp && b.link == LinkIp && a.address == b.address
        && !StrEqualNoCase(a.mac_address, b.mac_address);
}

bool SameDevice(const DeviceEntry& listed, const DeviceEntry& result)
{
    if (listed.link == LinkSerial && result.link == LinkSerial)
        return StrEqualNoCase(listed.line_name, result.line_name);
    return listed.link == LinkIp && result.link == LinkIp && listed.address == result.address;
}
} // namespace

SearchMergeResult DeviceSearchMerge(DeviceList& list, std::vector<DeviceEntry>& results, DeviceFolder* folder)
{
    SearchMergeResult merge;
    // 1. Several devices on one address (devices in shipping state): to the front, not merged.
    std::vector<char> conflict(results.size(), 0);
    for (size_t i = 0; i < results.size(); ++i)
        for (size_t j = i + 1; j < results.size(); ++j)
            if (Conflicting(results[i], results[j]))
                conflict[i] = conflict[j] = 1;
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

    // 3. Update what the list has, add what it has not.
    for (size_t i = static_cast<size_t>(merge.conflicts); i < results.size(); ++i) {
        const DeviceEntry& result = results[i];
        DeviceEntry* match = nullptr;
        for (DeviceEntry* e : list.All())
            if (SameDevice(*e, result)) {
                match = e;
                break;
            }
        if (match) {
            match->TakeSysInfo(result);
            merge.updated.push_back(match);
            continue;
        }
        DeviceEntry* added = list.Add(std::make_unique<DeviceEntry>(result), folder);
        added->next = nullptr;
        merge.added.push_back(added);
        ++merge.new_devices;
        if (!merge.first_unconfigured && (added->flags & DevFlagUnconfigured))
            merge.first_unconfigured = added;
    }
    return merge;
}

std::string SearchConflictMessage()
{
    return StrLoad(qorvexal_Strings(), kIdConflictMessage);
}

std::string SearchConflictDetails(const std::vector<DeviceEntry>& results, int conflicts)
{
    std::string details;
    std::string unconfigured = StrLoad(qorvexal_Strings(), kIdConflictUnconfigured);
    std::string configured = StrLoad(qorvexal_Strings(), kIdConflictConfigured);
    for (int i = 0; i < conflicts && static_cast<size_t>(i) < results.size(); ++i) {
        const DeviceEntry& e = results[static_cast<size_t>(i)];
        const std::string& format = (e.flags & DevFlagUnconfigured) ? unconfigured : configured;
        details
            += StrFormat(format.c_str(), NetAddressText(e.address).c_str(), e.mac_address.c_str(), e.serial_no.c_str());
    }
    return details;
}
