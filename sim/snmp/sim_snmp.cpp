#include "sim/snmp/sim_snmp.h"

#include "common/diag.h"
#include "common/text.h"

#include <algorithm>

namespace {
const char* const kEnterpriseFallback = "1.3.6.1.4.1.58127";
const SimOidKey kSysObjectId = { 1, 3, 6, 1, 2, 1, 1, 2, 0 };

bool StartsWith(const SimOidKey& key, const SimOidKey& prefix)
{
    return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
}

std::string Substitute(std::string text, const SimSnmpDeviceConfig& config)
{
    const struct {
        const char* name;
        std::string value;
    } vars[] = { { "$name", config.name }, { "$address", NetAddressText(config.address) } };
    for (const auto& v : vars)
        for (size_t at = text.find(v.name); at != std::string::npos; at = text.find(v.name, at + v.value.size()))
            text.replace(at, std::string(v.name).size(), v.value);
    if (text.size() > kSnmpMaxText)
        text.resize(kSnmpMaxText);
    return text;
}

// Whether a set value fits the object's type. Addresses also come as their dotted text in an OCTET
// STRING (that is how the monitor sends them).
bool Fits(uint8_t objectTag, const SnmpBinding& b, SnmpValue* stored)
{
    if (objectTag == kBerIpAddress && b.tag == kBerOctetString) {
        auto ip = NetParseAddress(b.value.text);
        if (!ip)
            return false;
        *stored = SnmpValue::Address(SnmpAddressFromHost(*ip));
        return true;
    }
    if (objectTag != b.tag)
        return false;
    if (objectTag == kBerOid) {
        SimOidKey key;
        if (!SimOidKeyFromText(b.value.text, &key))
            return false;
    }
    *stored = b.value;
    return true;
}
} // namespace

SimSnmpAgent::SimSnmpAgent(const SimSnmpDeviceConfig& config, std::shared_ptr<const SimMib> mib, uint32_t nowMs)
    : config_(config)
    , mib_(std::move(mib))
    , startMs_(nowMs)
{
    for (const auto& [key, object] : mib_->objects) {
        if (!object.trap)
            continue;
        hasTrapObjects_ = true;
        size_t step = object.dynamic == SimObject::Dynamic::Cycle
            ? ((nowMs - startMs_ + Phase(object)) / object.periodMs) % object.cycle.size()
            : 0;
        trapState_.push_back({ key, step });
    }
}

SimMib& SimSnmpAgent::Own()
{
    if (!own_) {
        own_ = std::make_shared<SimMib>(*mib_);
        mib_ = own_;
    }
    return *own_;
}

uint32_t SimSnmpAgent::Phase(const SimObject& o) const
{
    // Devices of a fleet go through their cycles at different times.
    uint32_t span = o.periodMs * static_cast<uint32_t>(std::max<size_t>(o.cycle.size(), 1));
    return span ? (config_.address * 2654435761u) % span : 0;
}

bool SimSnmpAgent::Binding(const SimObject& o, const SimOidKey& key, uint32_t nowMs, SnmpBinding* out) const
{
    out->oid = SimOidFromKey(key);
    out->tag = o.tag;
    uint32_t elapsed = nowMs - startMs_;
    switch (o.dynamic) {
    case SimObject::Dynamic::Uptime:
        out->value = SnmpValue::Integer(elapsed / 10);
        break;
    case SimObject::Dynamic::Rate:
        out->value
            = SnmpValue::Integer(static_cast<uint32_t>(o.start + static_cast<uint64_t>(o.perSecond) * elapsed / 1000));
        break;
    case SimObject::Dynamic::Cycle:
        out->value = o.cycle[((elapsed + Phase(o)) / o.periodMs) % o.cycle.size()];
        break;
    default:
        out->value = o.value;
        break;
    }
    if (o.tag == kBerIpAddress && out->value.kind == kSnmpString) // $address
        out->value = SnmpValue::Address(SnmpAddressFromHost(config_.address));
    else if (out->value.kind == kSnmpString && o.tag == kBerOctetString)
        out->value.text = Substitute(out->value.text, config_);
    return true;
}

bool SimSnmpAgent::Value(const SimOidKey& key, uint32_t nowMs, SnmpBinding* out) const
{
    auto it = mib_->objects.find(key);
    return it != mib_->objects.end() && it->second.PresentAt(nowMs - startMs_) && Binding(it->second, key, nowMs, out);
}

void SimSnmpAgent::SetValue(const SimOidKey& key, uint8_t tag, const SnmpValue& value)
{
    SimObject& o = Own().objects[key];
    o.tag = tag;
    o.dynamic = SimObject::Dynamic::Fixed;
    o.value = value;
}

std::vector<NetAddress> SimSnmpAgent::TrapDestinations() const
{
    std::vector<NetAddress> out;
    if (config_.trapTo)
        out.push_back(*config_.trapTo);
    if (registered_ && registered_ != config_.trapTo)
        out.push_back(*registered_);
    return out;
}

std::vector<uint8_t> SimSnmpAgent::Handle(const uint8_t* data, size_t size, uint32_t nowMs, const NetAddress* from)
{
    SnmpMessage req;
    if (SnmpDecodeMessage(data, size, &req) != kSnmpDecodeOk || !req.complete)
        return {};
    if (req.pdu != kPduGet && req.pdu != kPduGetNext && req.pdu != kPduSet)
        return {};
    bool canWrite = !config_.writeCommunity.empty() && req.community == config_.writeCommunity;
    if (!canWrite && req.community != config_.readCommunity)
        return {}; // a wrong community gets no answer
    SnmpMessage resp;
    resp.pdu = kPduResponse;
    resp.community = req.community;
    resp.requestId = req.requestId;
    auto fail = [&](uint32_t status, size_t index) {
        resp.errorStatus = status;
        resp.errorIndex = static_cast<uint32_t>(index);
        resp.bindings = req.bindings;
    };
    const auto& objects = mib_->objects;
    if (req.pdu == kPduSet) {
        std::vector<std::pair<SimOidKey, SnmpValue>> changes;
        for (size_t i = 0; i < req.bindings.size() && resp.errorStatus == 0; ++i) {
            SimOidKey key = SimOidKeyFromOid(req.bindings[i].oid);
            auto it = objects.find(key);
            SnmpValue stored;
            // SNMPv1 has no "not writable" answer for a set: an object the community may not write, or
            // that cannot be written at all, is noSuchName (readOnly is never sent by agents).
            if (it == objects.end() || !canWrite || !it->second.writable || !it->second.PresentAt(nowMs - startMs_))
                fail(kSnmpNoSuchName, i + 1);
            else if (!Fits(it->second.tag, req.bindings[i], &stored))
                fail(kSnmpBadValue, i + 1);
            else
                changes.push_back({ key, stored });
        }
        if (resp.errorStatus == 0) {
            for (auto& [key, value] : changes) {
                SimMib& mib = Own();
                SimObject& o = mib.objects[key];
                o.dynamic = SimObject::Dynamic::Fixed;
                o.value = value;
                SimOidKey registration;
                if (from && SimOidKeyFromText(kSimRegistrationOid, &registration) && key == registration) {
                    if (value.text.empty())
                        registered_.reset();
                    else
                        registered_ = *from;
                }
                for (const SimOidKey& prefix : o.clears)
                    for (auto it = mib.objects.begin(); it != mib.objects.end();)
                        it = StartsWith(it->first, prefix) && it->first != key ? mib.objects.erase(it) : std::next(it);
            }
            resp.bindings = req.bindings;
        }
    } else {
        for (size_t i = 0; i < req.bindings.size() && resp.errorStatus == 0; ++i) {
            SimOidKey key = SimOidKeyFromOid(req.bindings[i].oid);
            auto it = req.pdu == kPduGet ? objects.find(key) : objects.upper_bound(key);
            // Rows that are gone at this moment do not exist: a get finds nothing, a getnext passes them.
            if (req.pdu == kPduGet && it != objects.end() && !it->second.PresentAt(nowMs - startMs_))
                it = objects.end();
            while (req.pdu != kPduGet && it != objects.end() && !it->second.PresentAt(nowMs - startMs_))
                ++it;
            if (key.empty() || it == objects.end()) {
                fail(kSnmpNoSuchName, i + 1);
                break;
            }
            SnmpBinding b;
            Binding(it->second, it->first, nowMs, &b);
            resp.bindings.push_back(std::move(b));
        }
    }
    std::vector<uint8_t> out(SnmpEncodedSize(resp));
    if (out.size() > config_.maxResponse) {
        fail(kSnmpTooBig, 0);
        out.resize(SnmpEncodedSize(resp));
    }
    out.resize(SnmpEncodeMessage(resp, out.data(), out.size()));
    return out;
}

std::vector<uint8_t> SimSnmpAgent::BuildTrap(uint32_t specific, const std::vector<SimOidKey>& oids, uint32_t nowMs)
{
    SnmpMessage trap;
    trap.pdu = kPduTrap;
    trap.community = config_.readCommunity;
    SnmpBinding id;
    SimOidKey enterprise;
    if (Value(kSysObjectId, nowMs, &id) && SimOidKeyFromText(id.value.text, &enterprise))
        trap.enterprise = SimOidFromKey(enterprise);
    else
        SnmpOidFromText(kEnterpriseFallback, &trap.enterprise);
    trap.agentAddress = SnmpAddressFromHost(config_.address);
    trap.genericTrap = 6;
    trap.specificTrap = specific;
    trap.timeStamp = (nowMs - startMs_) / 10;
    for (const SimOidKey& key : oids) {
        SnmpBinding b;
        if (Value(key, nowMs, &b))
            trap.bindings.push_back(std::move(b));
    }
    std::vector<uint8_t> out(SnmpEncodedSize(trap));
    out.resize(SnmpEncodeMessage(trap, out.data(), out.size()));
    return out;
}

std::vector<std::vector<uint8_t>> SimSnmpAgent::DueTraps(uint32_t nowMs)
{
    std::vector<std::vector<uint8_t>> traps;
    for (auto& [key, last] : trapState_) {
        auto it = mib_->objects.find(key);
        if (it == mib_->objects.end() || it->second.dynamic != SimObject::Dynamic::Cycle)
            continue;
        const SimObject& o = it->second;
        size_t step = ((nowMs - startMs_ + Phase(o)) / o.periodMs) % o.cycle.size();
        if (step != last) {
            last = step;
            traps.push_back(BuildTrap(1, { key }, nowMs));
        }
    }
    return traps;
}

// --- the fleet server -----------------------------------------------------------------------------------

SimSnmpServer::SimSnmpServer(Clock& clock)
    : clock_(clock)
{
}

SimSnmpServer::~SimSnmpServer()
{
    Stop();
}

int SimSnmpServer::AddDevice(const SimSnmpDeviceConfig& config, std::shared_ptr<const SimMib> mib)
{
    auto device = std::make_unique<Device>();
    if (!device->socket.Open() || !device->socket.Bind(config.address, config.port)) {
        Diag("snmp agent: cannot bind %s:%u\n", NetAddressText(config.address).c_str(), config.port);
        return 0;
    }
    device->socket.SetReceiveBuffer(1 << 18);
    device->agent = std::make_unique<SimSnmpAgent>(config, std::move(mib), clock_.TickMs());
    std::lock_guard<std::mutex> guard(lock_);
    devices_.push_back(std::move(device));
    return 1;
}

int SimSnmpServer::Start()
{
    if (thread_.joinable())
        return 1;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return 1;
}

void SimSnmpServer::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

SimSnmpServer::Device* SimSnmpServer::Find(uint32_t address)
{
    for (auto& d : devices_)
        if (d->agent->Config().address == address)
            return d.get();
    return nullptr;
}

int SimSnmpServer::SetValue(uint32_t address, const std::string& oidText, uint8_t tag, const SnmpValue& value)
{
    SimOidKey key;
    if (!SimOidKeyFromText(oidText, &key))
        return 0;
    std::lock_guard<std::mutex> guard(lock_);
    Device* d = Find(address);
    if (!d)
        return 0;
    d->agent->SetValue(key, tag, value);
    return 1;
}

int SimSnmpServer::SendTrap(uint32_t address, uint32_t specific, const std::vector<std::string>& oidTexts)
{
    std::vector<SimOidKey> keys;
    for (const std::string& text : oidTexts) {
        SimOidKey key;
        if (!SimOidKeyFromText(text, &key))
            return 0;
        keys.push_back(key);
    }
    std::lock_guard<std::mutex> guard(lock_);
    Device* d = Find(address);
    if (!d)
        return 0;
    std::vector<NetAddress> to = d->agent->TrapDestinations();
    if (to.empty())
        return 0;
    std::vector<uint8_t> trap = d->agent->BuildTrap(specific, keys, clock_.TickMs());
    // From the device's own address, so the monitor knows which device it is.
    int sent = 0;
    for (const NetAddress& a : to)
        sent += d->socket.SendTo(trap.data(), trap.size(), a) > 0 ? 1 : 0;
    return sent > 0 ? 1 : 0;
}

void SimSnmpServer::Run()
{
    std::vector<UdpSocket*> sockets;
    std::vector<Device*> devices;
    std::vector<uint8_t> ready;
    // The largest UDP payload: a request of any size is read whole (a longer one would be cut and dropped).
    std::vector<uint8_t> buffer(kSimSnmpMaxRequest);
    uint32_t lastTrapCheck = clock_.TickMs();
    while (!stop_.load()) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (devices.size() != devices_.size()) {
                devices.clear();
                sockets.clear();
                for (auto& d : devices_) {
                    devices.push_back(d.get());
                    sockets.push_back(&d->socket);
                }
                ready.assign(sockets.size(), 0);
            }
        }
        if (sockets.empty()) {
            clock_.SleepMs(10);
            continue;
        }
        int n = NetWaitAny(sockets.data(), sockets.size(), 50, ready.data());
        for (size_t i = 0; n > 0 && i < devices.size(); ++i) {
            if (!ready[i])
                continue;
            for (int k = 0; k < 16; ++k) {
                NetAddress from;
                int size = devices[i]->socket.ReceiveFrom(buffer.data(), buffer.size(), &from);
                if (size > 0) {
                    std::vector<uint8_t> answer;
                    {
                        std::lock_guard<std::mutex> guard(lock_);
                        answer = devices[i]->agent->Handle(
                            buffer.data(), static_cast<size_t>(size), clock_.TickMs(), &from);
                    }
                    ++requests_;
                    if (!answer.empty())
                        devices[i]->socket.SendTo(answer.data(), answer.size(), from);
                }
                if (devices[i]->socket.WaitReadable(0) <= 0)
                    break;
            }
        }
        uint32_t now = clock_.TickMs();
        if (now - lastTrapCheck >= 100) {
            lastTrapCheck = now;
            std::lock_guard<std::mutex> guard(lock_);
            for (Device* d : devices)
                if (d->agent->WantsTraps())
                    for (auto& trap : d->agent->DueTraps(now))
                        for (const NetAddress& a : d->agent->TrapDestinations())
                            d->socket.SendTo(trap.data(), trap.size(), a);
        }
    }
}

// --- one device on a host loop ---------------------------------------------------------------------------

std::vector<std::string> SimPolledObjects()
{
    std::vector<std::string> objects;
    for (int i = 1; i <= 7; ++i)
        objects.push_back("1.3.6.1.2.1.1." + std::to_string(i) + ".0");
    for (int column : { 1, 2, 3, 4, 5, 7, 8, 10, 16 })
        for (int row : { 1, 2 })
            objects.push_back("1.3.6.1.2.1.2.2.1." + std::to_string(column) + "." + std::to_string(row));
    for (int i = 1; i <= 7; ++i)
        objects.push_back("1.3.6.1.4.1.58127.2." + std::to_string(i) + ".0");
    return objects;
}

bool SimCommunitiesFromConfig(const std::string& config, std::string* read, std::string* write)
{
    // Column lines of the table, a row beginning at each column 1.
    struct Row {
        std::string community;
        uint32_t access = 0;
    };
    std::vector<Row> rows;
    const std::string_view prefix = "/snmp/communities-";
    size_t pos = 0;
    while (pos < config.size()) {
        size_t end = config.find_first_of("\r\n", pos);
        if (end == std::string::npos)
            end = config.size();
        std::string_view line = Trim(std::string_view(config).substr(pos, end - pos));
        pos = end + 1;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos || !StrStartsWithNoCase(line, prefix))
            continue;
        uint32_t column
            = ParseUnsigned(std::string("0x") + std::string(Trim(line.substr(prefix.size(), eq - prefix.size()))));
        std::string value(Trim(line.substr(eq + 1)));
        if (column == 1)
            rows.push_back({ value, 0 });
        else if (column == 2 && !rows.empty())
            rows.back().access = ParseUnsigned(value);
    }
    if (rows.empty())
        return false;
    const Row* reader = nullptr;
    const Row* writer = nullptr;
    for (const Row& r : rows) {
        if (r.community.empty())
            continue;
        if (r.access == 1 && !reader)
            reader = &r;
        if (r.access == 2 && !writer)
            writer = &r;
    }
    if (!reader)
        reader = writer;
    *read = reader ? reader->community : "";
    *write = writer ? writer->community : "";
    return true;
}

std::string SimMibFileFor(const std::string& deviceType)
{
    std::string file;
    for (char c : deviceType)
        if (c != ' ')
            file += AsciiLower(c);
    return file + ".mib";
}

int SimSnmpEndpoint::Open(const SimSnmpDeviceConfig& config, std::shared_ptr<const SimMib> mib, uint32_t nowMs)
{
    if (!socket_.Open() || !socket_.Bind(config.address, config.port)) {
        socket_.Close();
        return 0;
    }
    config_ = config;
    mib_ = mib;
    agent_ = std::make_unique<SimSnmpAgent>(config, std::move(mib), nowMs);
    lastTrapCheck_ = nowMs;
    return 1;
}

int SimSnmpEndpoint::Rebind(uint32_t address)
{
    UdpSocket fresh;
    if (!fresh.Open() || !fresh.Bind(address, config_.port))
        return 0;
    socket_ = std::move(fresh);
    return 1;
}

void SimSnmpEndpoint::OnReadable(uint32_t nowMs)
{
    std::vector<uint8_t> buffer(kSimSnmpMaxRequest);
    for (int n = 0; n < 16 && socket_.WaitReadable(0) > 0; ++n) {
        NetAddress from;
        int size = socket_.ReceiveFrom(buffer.data(), buffer.size(), &from);
        if (size <= 0)
            continue;
        std::vector<uint8_t> answer = agent_->Handle(buffer.data(), static_cast<size_t>(size), nowMs, &from);
        if (!answer.empty())
            socket_.SendTo(answer.data(), answer.size(), from);
    }
}

void SimSnmpEndpoint::OnTick(uint32_t nowMs)
{
    if (nowMs - lastTrapCheck_ < 100 || !agent_->WantsTraps())
        return;
    lastTrapCheck_ = nowMs;
    for (auto& trap : agent_->DueTraps(nowMs))
        for (const NetAddress& a : agent_->TrapDestinations())
            socket_.SendTo(trap.data(), trap.size(), a);
}
