#include "sim/search.h"

#include "common/platform/netif.h"
#include "common/text.h"
#include "device/search.h"
#include "sim/simfleet.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr size_t kBlock = 512;

// Where the line beginning with `key` starts, or npos.
size_t FindLine(const std::string& text, const std::string& key)
{
    if (text.compare(0, key.size(), key) == 0)
        return 0;
    size_t at = text.find("\n" + key);
    return at == std::string::npos ? at : at + 1;
}

// Replaces the line beginning with `key`, or adds it at the end.
void SetLine(std::string& text, const std::string& key, const std::string& value)
{
    std::string line = key + " " + value + "\r\n";
    size_t at = FindLine(text, key);
    if (at == std::string::npos) {
        text += line;
        return;
    }
    size_t end = text.find('\n', at);
    text.replace(at, end == std::string::npos ? std::string::npos : end + 1 - at, line);
}

// The value of the line beginning with `key` ("" when there is none).
std::string LineValue(const std::string& text, const std::string& key)
{
    size_t at = FindLine(text, key);
    if (at == std::string::npos)
        return {};
    size_t end = text.find_first_of("\r\n", at);
    std::string_view line = std::string_view(text).substr(at, end == std::string::npos ? std::string::npos : end - at);
    return std::string(Trim(line.substr(key.size())));
}

} // namespace

std::string SimSearchText(
    const std::string& base, SimSearchRole role, const SimSearchOptions& options, uint32_t shippingAddress)
{
    std::string text = base;
    switch (role) {
    case SimSearchRole::Normal:
        break;
    case SimSearchRole::Unconfigured: {
        SetLine(text, "IP-ADDRESS:", "0.0.0.0");
        SetLine(text, "IP-NETMASK:", NetAddressText(options.unconfigured_netmask));
        if (options.no_probe) {
            uint32_t status = ParseUnsigned(LineValue(text, "CONFIG-STATUS:"));
            SetLine(text, "CONFIG-STATUS:", std::to_string(status | 0x80));
        }
        break;
    }
    case SimSearchRole::Shipping:
        SetLine(text, "IP-ADDRESS:", NetAddressText(shippingAddress));
        break;
    case SimSearchRole::FullBlock:
        // A long comment line: the text runs past the first block, as a chatty firmware's does.
        if (text.size() < kBlock + 64)
            text += "COMMENT: " + std::string(kBlock + 64 - text.size(), '*') + "\r\n";
        break;
    }
    return text;
}

SimSearchResponder::SimSearchResponder() = default;

SimSearchResponder::~SimSearchResponder()
{
    Stop();
}

int SimSearchResponder::Start(SimFleet& fleet, const SimSearchOptions& options, std::string* error)
{
    Stop();
    fleet_ = &fleet;
    options_ = options;
    shippingAddress_ = options.shipping_address;
    for (size_t i = 0; i < options.unconfigured && i < fleet.Count(); ++i)
        fleet.Device(i).unconfigured = true;
    if (!shippingAddress_ && options.shipping && options.unconfigured < fleet.Count())
        shippingAddress_ = fleet.Device(options.unconfigured).address;
    for (uint32_t address : options.bind) {
        auto listener = std::make_unique<Listener>();
        listener->address = address;
        UdpSocket& s = listener->socket;
        // Not shared (no SO_REUSEADDR): a second fleet on the same port would answer this fleet's
        // searches with devices of its own, so it fails to start instead.
        if (!s.Open() || !s.SetBroadcast(true) || !s.Bind(address, options.port)) {
            if (error)
                *error = StrFormat("search listener: cannot bind %s:%u", NetAddressText(address).c_str(), options.port);
            Stop();
            return 0;
        }
        listeners_.push_back(std::move(listener));
    }
    for (size_t i = 0; i < listeners_.size(); ++i)
        fleet.AddSocket(&listeners_[i]->socket, [this, i](uint32_t) { OnReadable(i); });
    return 1;
}

void SimSearchResponder::Stop()
{
    if (fleet_)
        for (auto& l : listeners_)
            fleet_->RemoveSocket(&l->socket);
    listeners_.clear();
}

SimSearchRole SimSearchResponder::Role(size_t index) const
{
    size_t u = options_.unconfigured, s = u + options_.shipping, f = s + options_.full_block;
    if (index < u)
        return SimSearchRole::Unconfigured;
    if (index < s)
        return SimSearchRole::Shipping;
    if (index < f)
        return SimSearchRole::FullBlock;
    return SimSearchRole::Normal;
}

bool SimSearchResponder::Answer(size_t index, uint32_t boundTo, std::string* text, uint32_t* from) const
{
    if (!fleet_ || index >= fleet_->Count() || fleet_->Restarting(index))
        return false;
    SimSearchRole role = Role(index);
    // A written configuration with an address has configured the device.
    if (role == SimSearchRole::Unconfigured && !fleet_->Device(index).unconfigured)
        role = SimSearchRole::Normal;
    const uint32_t mask = options_.unconfigured_netmask;
    bool probe = boundTo != 0xFFFFFFFFu && SearchPseudoAddress(boundTo, mask) == boundTo;
    uint32_t source = fleet_->Device(index).address;
    if (probe) {
        // A request to a pseudo address: only unconfigured devices that may be probed answer, from it.
        if (role != SimSearchRole::Unconfigured || options_.no_probe)
            return false;
        source = boundTo;
    } else if (role == SimSearchRole::Shipping) {
        source = shippingAddress_;
    }
    *text = SimSearchText(fleet_->Device(index).SysInfoText(), role, options_, shippingAddress_);
    *from = source;
    return true;
}

void SimSearchResponder::OnReadable(size_t which)
{
    Listener& l = *listeners_[which];
    uint8_t buffer[1024];
    NetAddress requester;
    int n = l.socket.ReceiveFrom(buffer, sizeof buffer, &requester);
    // Only a read request for "sysinfo" is a search; the search's ACK and ERROR end here too.
    if (n < 4 || buffer[0] != 0 || buffer[1] != 1)
        return;
    std::string_view file(reinterpret_cast<const char*>(buffer + 2),
        strnlen(reinterpret_cast<const char*>(buffer + 2), static_cast<size_t>(n) - 2));
    if (!StrEqualNoCase(file, "sysinfo"))
        return;
    ++requests;
    if (options_.pacer)
        options_.pacer->Begin();
    uint32_t sent = 0;
    for (size_t i = 0; i < fleet_->Count(); ++i) {
        std::string text;
        uint32_t from = 0;
        if (!Answer(i, l.address, &text, &from))
            continue;
        std::string packet("\0\3\0\1", 4);
        packet.append(text, 0, kBlock);
        if (NetSendFromLocal(l.socket, packet.data(), packet.size(), from, requester) > 0)
            ++answers;
        // Real devices answer spread over the network's jitter; a burst of a thousand answers at once
        // would only overflow the searching PC's receive buffer.
        if (options_.burst && ++sent % options_.burst == 0) {
            if (options_.pacer)
                options_.pacer->Pause(1);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (options_.pacer)
        options_.pacer->End();
}
