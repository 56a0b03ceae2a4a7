#include "device/search.h"

#include "common/ini.h"
#include "common/platform/net.h"
#include "common/platform/netif.h"
#include "common/text.h"
#include "device/sysinfo.h"

#include <algorithm>
#include <string>
#include <unordered_set>

namespace {

constexpr int32_t kStatusOk = 110; // DeviceStatus "Ok"
constexpr int32_t kSearchEntryTimeout = 10; // seconds, the time-out of every entry a search finds
constexpr uint32_t kRepeatMs = 1000; // the request goes out once a second
constexpr uint32_t kProbeDelayMs = 300; // unconfigured devices are probed on pseudo addresses after this
constexpr size_t kProbeSlots = 32;
constexpr uint32_t kDefaultNetmask = 0xFFFFFF00; // when a device reports no usable netmask
constexpr size_t kBlock = 512;

// RRQ "sysinfo" in mode "octet", no options: 16 bytes.
constexpr uint8_t kRequest[16] = { 0, 1, 's', 'y', 's', 'i', 'n', 'f', 'o', 0, 'o', 'c', 't', 'e', 't', 0 };
constexpr uint8_t kAck1[4] = { 0, 4, 0, 1 };
constexpr uint8_t kError3[5] = { 0, 5, 0, 3, 0 }; // "disk full": the client takes no more than one block

bool Due(uint32_t now, uint32_t moment)
{
    return static_cast<int32_t>(now - moment) >= 0;
}

} // namespace

uint32_t SearchPseudoAddress(uint32_t own, uint32_t netmask)
{
    return (own & netmask) | (~netmask & 0xFEFEFEFEu);
}

int DeviceSearchNet(std::vector<DeviceEntry>& results, size_t room, uint32_t target, uint32_t timeoutMs,
    std::atomic<int32_t>* found, const std::atomic<int32_t>* cancel, const SearchEnv& env)
{
    Clock& clock = env.clock ? *env.clock : SystemClock();
    std::vector<uint32_t> own;
    if (env.own_addresses)
        own = env.own_addresses();
    else if (target == 0xFFFFFFFFu)
        own = NetOwnAddresses();

    // The first socket broadcasts; the second probes pseudo addresses, so that their answers come back
    // apart from the broadcast's.
    UdpSocket sockets[2];
    for (int s = 0; s < 2; ++s) {
        if (!sockets[s].Open() || !sockets[s].Bind(0, 0))
            return 0;
        sockets[s].SetReceiveBuffer(env.receive_buffer);
    }
    if (!sockets[0].SetBroadcast(true))
        return 0;

    std::unordered_set<std::string> macs;
    size_t added = 0;
    const uint32_t start = clock.TickMs();
    uint32_t lastRequest = start - kRepeatMs;
    std::vector<uint32_t> pending;
    bool probeSet = false;
    uint32_t probeAt = 0;
    uint8_t buffer[8196];

    for (;;) {
        uint32_t now = clock.TickMs();
        if (now - start >= timeoutMs || added >= room || (cancel && cancel->load() != 0))
            break;
        if (now - lastRequest >= kRepeatMs) {
            sockets[0].SendTo(kRequest, sizeof kRequest, NetAddress { target, env.port });
            lastRequest = now;
        }
        if (probeSet && Due(now, probeAt)) {
            for (uint32_t address : pending)
                sockets[1].SendTo(kRequest, sizeof kRequest, NetAddress { address, env.port });
            pending.clear();
            probeSet = false;
        }

        bool received = false;
        for (int s = 0; s < 2 && added < room; ++s) {
            if (sockets[s].WaitReadable(0) != 1)
                continue;
            received = true;
            NetAddress from;
            int n = sockets[s].ReceiveFrom(buffer, sizeof buffer, &from);
            if (n < 4 || buffer[0] != 0 || buffer[1] != 3 || buffer[2] != 0 || buffer[3] != 1)
                continue; // only DATA block 1 is an answer
            size_t size = static_cast<size_t>(n) - 4;
            // A full block means the device has more to send: stop it, and use the first block.
            NetAddress replyTo = s == 0 ? NetAddress { target, from.port } : from;
            if (size >= kBlock) {
                size = kBlock;
                sockets[s].SendTo(kError3, sizeof kError3, replyTo);
            } else {
                sockets[s].SendTo(kAck1, sizeof kAck1, replyTo);
            }

            DeviceEntry entry;
            entry.link = LinkIp;
            entry.address = from.ip;
            entry.address_list[0] = from.ip;
            entry.timeout_s = kSearchEntryTimeout;
            entry.status = kStatusOk;
            std::string netmask;
            std::string_view text(reinterpret_cast<const char*>(buffer + 4), size);
            if (!SysInfoParseInto(text, entry, s == 0 ? &netmask : nullptr))
                continue;
            // (A hash of the MAC addresses found: a search of ten thousand devices stays linear.)
            if (macs.count(StrLower(entry.mac_address.str())))
                continue;
            // An unconfigured device answers from an address outside the PC's networks: ask it again on
            // its pseudo address in each of them, where it answers from an address the PC can reach.
            if (s == 0 && !own.empty() && (entry.flags & DevFlagUnconfigured)
                && !(entry.flags & DevFlagNoPseudoProbe)) {
                uint32_t mask = NetParseAddress(netmask).value_or(kDefaultNetmask);
                for (uint32_t address : own) {
                    uint32_t pseudo = SearchPseudoAddress(address, mask);
                    if (pending.size() < kProbeSlots
                        && std::find(pending.begin(), pending.end(), pseudo) == pending.end())
                        pending.push_back(pseudo);
                }
                if (!probeSet) {
                    probeAt = now + kProbeDelayMs;
                    probeSet = true;
                }
                continue;
            }
            macs.insert(StrLower(entry.mac_address.str()));
            results.push_back(std::move(entry));
            ++added;
            if (found)
                ++*found;
        }
        if (!received)
            clock.SleepMs(1);
    }
    return static_cast<int>(added);
}

std::vector<std::pair<uint32_t, uint32_t>> SearchParseNetList(std::string_view text)
{
    std::vector<std::pair<uint32_t, uint32_t>> nets;
    std::vector<std::string_view> items;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos)
            end = text.size();
        items.push_back(Trim(text.substr(pos, end - pos)));
        pos = end + 1;
    }
    for (size_t i = 0; i + 1 < items.size(); i += 2) {
        std::optional<uint32_t> address = NetParseAddress(items[i]);
        std::optional<uint32_t> mask = NetParseAddress(items[i + 1]);
        if (address && mask)
            nets.emplace_back(*address, *mask);
    }
    return nets;
}

SearchSettings SearchReadSettings(const IniFile& ini)
{
    SearchSettings s;
    s.at_startup = ini.GetInt("Options", "SearchAtStartup", 1);
    s.startup_lan = ini.GetInt("Options", "SearchStartupLAN", 1);
    s.startup_wan = ini.GetInt("Options", "SearchStartupWAN", 0);
    s.startup_wan_list = SearchParseNetList(ini.GetString("Options", "SearchStartupWANList", "", 1023));
    s.timeout_lan_s = ini.GetInt("Options", "SearchTimeoutLAN", 3);
    s.timeout_wan_s = ini.GetInt("Options", "SearchTimeoutWAN", 15);
    s.launch_wizard = ini.GetInt("Options", "SearchLaunchWizard", 1);
    return s;
}

int DeviceSearch(
    SearchRequest& request, std::vector<DeviceEntry>& results, const SearchSettings& settings, const SearchEnv& env)
{
    const size_t first = results.size();
    // The result table starts with room for kSearchRoom devices and grows: a search keeps every device
    // it finds until its time-out, however many answer.
    results.reserve(first + kSearchRoom);
    auto room = [] { return SIZE_MAX; };
    auto cancelled = [&] { return request.cancel.load() != 0; };
    auto seconds = [](int32_t s) { return static_cast<uint32_t>(std::max(s, 0)) * 1000u; };
    auto scan = [&](uint32_t target, int32_t timeoutS, int32_t local, int32_t phase) {
        request.phase = phase;
        size_t before = results.size();
        DeviceSearchNet(results, room(), target, seconds(timeoutS), &request.found, &request.cancel, env);
        for (size_t i = before; i < results.size(); ++i)
            results[i].local = local;
    };

    if ((request.what & SearchStartup) && !cancelled() && env.network) {
        if (settings.startup_lan)
            scan(0xFFFFFFFFu, settings.timeout_lan_s, 1, SearchPhaseLocal);
        if (settings.startup_wan)
            for (const auto& [address, mask] : settings.startup_wan_list)
                if (!cancelled())
                    scan(address | ~mask, settings.timeout_wan_s, 0, SearchPhaseRemote);
    }
    if ((request.what & SearchSerialPorts) && !cancelled() && env.serial) {
        request.phase = SearchPhaseSerial;
        for (const std::string& port : env.serial->Ports()) {
            if (cancelled())
                break;
            request.port_name = port;
            DeviceEntry entry;
            entry.link = LinkSerial;
            entry.line_name = port;
            if (env.serial->Check(entry)) {
                entry.local = 1;
                results.push_back(std::move(entry));
                ++request.found;
            }
        }
    }
    if ((request.what & SearchLocalNet) && !cancelled() && env.network)
        scan(0xFFFFFFFFu, settings.timeout_lan_s, 1, SearchPhaseLocal);
    if ((request.what & SearchRemoteNet) && !cancelled() && env.network)
        scan(request.remote_address | ~request.remote_netmask, settings.timeout_wan_s, 0, SearchPhaseRemote);
    request.phase = SearchPhaseDone;
    return static_cast<int>(results.size() - first);
}
