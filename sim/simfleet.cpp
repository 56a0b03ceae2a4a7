#include "sim/simfleet.h"

#include "common/text.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <poll.h>

namespace {
constexpr uint32_t kLingerMs = 2000;
constexpr uint32_t kTickMs = 100;

std::string NodeDir(const std::string& dir, size_t index)
{
    return StrFormat("%s/device-%04zu", dir.c_str(), index + 1);
}
} // namespace

SimFleet::SimFleet(Clock& clock)
    : clock_(clock)
    , buffer_(65536)
{
}

SimFleet::~SimFleet() = default;

int SimFleet::OpenNode(Node& node, std::string* error)
{
    node.socket.Close();
    // Not shared (no SO_REUSEADDR): a second simulator at the same address and port would take half of
    // this device's requests; it fails to start instead, and its caller tries another port.
    if (!node.socket.Open() || !node.socket.Bind(node.device.address, settings_.port)) {
        *error = StrFormat("cannot listen on %s port %u (%s)", NetAddressText(node.device.address).c_str(),
            settings_.port, settings_.port < 1024 ? "a port below 1024 needs root; try --port" : "in use?");
        return 0;
    }
    return 1;
}

int SimFleet::Start(const SimSettings& settings, std::string* error)
{
    settings_ = settings;
    std::error_code ec;
    std::filesystem::create_directories(settings_.dir, ec);
    if (ec) {
        *error = "cannot create " + settings_.dir + ": " + ec.message();
        return 0;
    }
    for (uint32_t i = 0; i < settings_.count; ++i) {
        auto node = std::make_unique<Node>();
        std::string dir = NodeDir(settings_.dir, i);
        if (std::filesystem::exists(dir + "/device.ini", ec)) {
            if (!node->device.Load(dir, error))
                return 0;
            if (settings_.overrideOptions)
                node->device.options = settings_.device;
        } else {
            std::filesystem::create_directories(dir, ec);
            node->device.Create(dir, i + 1, settings_.type, settings_.firmware, settings_.address + i, settings_.device,
                settings_.password);
            if (!node->device.Save()) {
                *error = "cannot write the device state in " + dir;
                return 0;
            }
        }
        if (!OpenNode(*node, error))
            return 0;
        nodes_.push_back(std::move(node));
    }
    return 1;
}

void SimFleet::AddSocket(UdpSocket* socket, std::function<void(uint32_t)> onReadable)
{
    extras_.push_back({ socket, -1, std::move(onReadable) });
}

void SimFleet::AddDescriptor(int fd, std::function<void(uint32_t)> onReadable)
{
    extras_.push_back({ nullptr, fd, std::move(onReadable) });
}

void SimFleet::Take(size_t index, SimEffect effect, uint32_t now)
{
    Node& node = *nodes_[index];
    if (effect == SimEffect::Restart) {
        Restart(node, now);
    } else if (effect == SimEffect::ApplyConfig) {
        uint32_t old = node.device.address;
        node.device.ApplyConfig();
        Rebind(index, old);
    }
}

void SimFleet::RemoveSocket(UdpSocket* socket)
{
    extras_.erase(std::remove_if(extras_.begin(), extras_.end(), [&](const Extra& e) { return e.socket == socket; }),
        extras_.end());
}

void SimFleet::AddTicker(std::function<void(uint32_t)> ticker)
{
    tickers_.push_back(std::move(ticker));
}

void SimFleet::Emit(const std::shared_ptr<UdpSocket>& socket, std::vector<uint8_t> bytes, NetAddress to, uint32_t now)
{
    ++sentCount_;
    if (settings_.faults.dropEvery && sentCount_ % settings_.faults.dropEvery == 0)
        return;
    int copies = settings_.faults.duplicateEvery && sentCount_ % settings_.faults.duplicateEvery == 0 ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        if (settings_.faults.delayMs)
            pending_.push_back({ now + settings_.faults.delayMs, socket, bytes, to });
        else
            socket->SendTo(bytes.data(), bytes.size(), to);
    }
}

void SimFleet::Flush(Active& active, uint32_t now)
{
    for (SimTransfer::Datagram& d : active.transfer->Outbox()) {
        std::vector<uint8_t> copy;
        bool stray = settings_.faults.strayPort && !active.strayDone && active.sentPackets++ == 1;
        if (stray)
            copy = d.bytes;
        Emit(active.socket, std::move(d.bytes), d.to, now);
        if (stray) {
            // Once the client knows the transfer's port, a second socket of the same device sends a
            // copy of a packet: the client must refuse it (ERROR 5) and go on.
            active.strayDone = true;
            auto other = std::make_shared<UdpSocket>();
            if (other->Open() && other->Bind(nodes_[active.node]->device.address, 0))
                Emit(other, std::move(copy), d.to, now);
        }
    }
    active.transfer->Outbox().clear();
}

void SimFleet::OnRequest(size_t index, uint32_t now)
{
    Node& node = *nodes_[index];
    NetAddress from;
    int n = node.socket.ReceiveFrom(buffer_.data(), buffer_.size(), &from);
    if (n < 1 || node.restarting)
        return; // a restarting device hears nothing
    SimRequest request;
    if (!SimParseRequest(buffer_.data(), static_cast<size_t>(n), &request))
        return;
    if (onRequest)
        onRequest(index, request, from);
    if (settings_.verbose) {
        std::string options;
        for (auto& [name, value] : request.options)
            options += " " + name + "=" + value;
        std::printf("%s: %s %s%s from %s:%u\n", NetAddressText(node.device.address).c_str(),
            request.write ? "WRQ" : "RRQ", request.file.c_str(), options.c_str(), NetAddressText(from.ip).c_str(),
            from.port);
        std::fflush(stdout);
    }
    auto active = std::make_unique<Active>();
    active->node = index;
    active->request = request;
    active->socket = std::make_shared<UdpSocket>();
    if (!active->socket->Open() || !active->socket->Bind(node.device.address, 0))
        return;
    SimAnswer answer
        = request.write ? node.device.Write(request.file) : node.device.Read(request.file, &active->effect);
    if (answer.error >= 0) {
        Emit(active->socket, SimErrorPacket(static_cast<uint16_t>(answer.error), answer.message), from, now);
        return;
    }
    SimTransfer::Settings ts;
    ts.maxBlockSize = node.device.options.maxBlockSize;
    ts.truncatedOack = node.device.options.truncatedOack;
    ts.silentAfter = settings_.faults.silentAfter;
    active->transfer = std::make_unique<SimTransfer>(request, from, std::move(answer.data), ts);
    if (request.write) {
        const SimDevice* device = &node.device;
        std::string file = request.file;
        active->transfer->SetInspector(
            [device, file](const std::string& received, bool complete, uint16_t* code, std::string* message) {
                return device->Inspect(file, received, complete, code, message);
            });
    }
    active->transfer->Start(now);
    Flush(*active, now);
    active_.push_back(std::move(active));
}

void SimFleet::OnTransfer(Active& active, uint32_t now)
{
    NetAddress from;
    int n = active.socket->ReceiveFrom(buffer_.data(), buffer_.size(), &from);
    if (n < 1)
        return;
    active.transfer->Receive(buffer_.data(), static_cast<size_t>(n), from, now);
    Flush(active, now);
}

void SimFleet::Restart(Node& node, uint32_t now)
{
    node.restarting = true;
    node.restartEnd = now + node.device.options.restartMs;
    if (settings_.verbose) {
        std::printf(
            "%s: restarting (%u ms)\n", NetAddressText(node.device.address).c_str(), node.device.options.restartMs);
        std::fflush(stdout);
    }
}

void SimFleet::Rebind(size_t index, uint32_t oldAddress)
{
    Node& node = *nodes_[index];
    node.device.Save();
    if (node.device.address == oldAddress) {
        for (auto& watcher : onAddressChange)
            watcher(index, oldAddress, oldAddress);
        return;
    }
    std::string error;
    if (!OpenNode(node, &error)) {
        std::fprintf(stderr, "morvaksim: %s; staying at %s\n", error.c_str(), NetAddressText(oldAddress).c_str());
        node.device.address = oldAddress;
        OpenNode(node, &error);
        node.device.Save();
        return;
    }
    if (settings_.verbose) {
        std::printf("%s: now at %s\n", NetAddressText(oldAddress).c_str(), NetAddressText(node.device.address).c_str());
        std::fflush(stdout);
    }
    for (auto& watcher : onAddressChange)
        watcher(index, oldAddress, node.device.address);
}

void SimFleet::Finish(Active& active, uint32_t now)
{
    active.finished = true;
    Node& node = *nodes_[active.node];
    SimEffect effect = active.effect;
    if (active.request.write && active.transfer->GetState() == SimTransfer::State::Done)
        effect = node.device.Written(active.request.file, active.transfer->Received());
    Take(active.node, effect, now);
}

void SimFleet::Tick(uint32_t now)
{
    for (auto& active : active_) {
        active->transfer->Tick(now);
        Flush(*active, now);
        SimTransfer::State state = active->transfer->GetState();
        if (state != SimTransfer::State::Running && !active->finished) {
            Finish(*active, now);
            active->endAt = now + (active->request.write && state == SimTransfer::State::Done ? kLingerMs : 0);
        }
    }
    active_.erase(
        std::remove_if(active_.begin(), active_.end(),
            [&](const std::unique_ptr<Active>& a) { return a->finished && static_cast<int32_t>(now - a->endAt) >= 0; }),
        active_.end());
    for (size_t i = 0; i < nodes_.size(); ++i) {
        Node& node = *nodes_[i];
        if (node.restarting && !node.device.gone && static_cast<int32_t>(now - node.restartEnd) >= 0) {
            node.restarting = false;
            uint32_t old = node.device.address;
            node.device.ApplyConfig();
            Rebind(i, old);
        }
    }
    while (!pending_.empty() && static_cast<int32_t>(now - pending_.front().due) >= 0) {
        Pending& p = pending_.front();
        p.socket->SendTo(p.bytes.data(), p.bytes.size(), p.to);
        pending_.pop_front();
    }
    for (auto& ticker : tickers_)
        ticker(now);
}

void SimFleet::RunOnce(uint32_t maxWaitMs)
{
    std::vector<pollfd> fds;
    fds.reserve(nodes_.size() + active_.size() + extras_.size());
    for (auto& node : nodes_)
        fds.push_back({ static_cast<int>(node->socket.Handle()), POLLIN, 0 });
    for (auto& active : active_)
        fds.push_back({ static_cast<int>(active->socket->Handle()), POLLIN, 0 });
    for (auto& extra : extras_)
        fds.push_back({ extra.socket ? static_cast<int>(extra.socket->Handle()) : extra.fd, POLLIN, 0 });
    uint32_t wait = std::min(maxWaitMs, kTickMs);
    if (!pending_.empty())
        wait = std::min<uint32_t>(wait, 5);
    ::poll(fds.data(), fds.size(), static_cast<int>(wait));
    uint32_t now = clock_.TickMs();
    size_t k = 0;
    size_t nodeCount = nodes_.size(), activeCount = active_.size();
    for (size_t i = 0; i < nodeCount; ++i, ++k)
        if (fds[k].revents & POLLIN)
            OnRequest(i, now);
    for (size_t i = 0; i < activeCount; ++i, ++k)
        if (fds[k].revents & POLLIN)
            OnTransfer(*active_[i], now);
    std::vector<Extra> extras = extras_;
    for (size_t i = 0; i < extras.size(); ++i, ++k)
        if (fds[k].revents & POLLIN)
            extras[i].onReadable(now);
    Tick(now);
}

void SimFleet::Run(const std::atomic<bool>& stop)
{
    while (!stop.load())
        RunOnce(kTickMs);
}
