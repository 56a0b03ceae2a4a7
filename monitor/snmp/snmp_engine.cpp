#include "monitor/snmp/snmp_engine.h"

#include <algorithm>
#include <array>

namespace {
// Splits an encoded OID into its subidentifiers. False when the last one is cut off.
bool Subidentifiers(const SnmpOid& oid, uint32_t* out, size_t* count)
{
    size_t n = 0;
    uint32_t value = 0;
    bool pending = false;
    for (uint32_t i = 0; i < oid.length; ++i) {
        value = value << 7 | (oid.bytes[i] & 0x7Fu);
        pending = true;
        if (!(oid.bytes[i] & 0x80)) {
            out[n++] = value;
            value = 0;
            pending = false;
        }
    }
    *count = n;
    return !pending && n > 0;
}

std::string Community(const char* text, const char* fallback)
{
    if (!text || !*text)
        return fallback;
    std::string s(text);
    if (s.size() > kSnmpMaxText)
        s.resize(kSnmpMaxText);
    return s;
}

int FindSubscriber(const SnmpNode& node, void* context)
{
    for (size_t i = 0; i < node.subscribers.size(); ++i)
        if (node.subscribers[i].context == context)
            return static_cast<int>(i);
    return -1;
}
} // namespace

SnmpEngine::SnmpEngine(SendFn send)
    : send_(std::move(send))
{
}

SnmpEngine::~SnmpEngine() = default;

SnmpAgent* SnmpEngine::Agent(uint32_t address, bool create)
{
    auto it = byAddress_.find(address);
    if (it != byAddress_.end())
        return it->second;
    if (!create)
        return nullptr;
    auto agent = std::make_unique<SnmpAgent>();
    agent->address = address;
    agent->readCommunity = "public";
    agent->root = std::make_unique<SnmpNode>();
    SnmpAgent* raw = agent.get();
    agents_.push_back(std::move(agent));
    byAddress_[address] = raw;
    return raw;
}

const SnmpAgent* SnmpEngine::FindAgent(uint32_t address) const
{
    auto it = byAddress_.find(address);
    return it == byAddress_.end() ? nullptr : it->second;
}

SnmpNode* SnmpEngine::Node(SnmpAgent* agent, const SnmpOid& oid, bool create) const
{
    uint32_t subs[kSnmpMaxOid];
    size_t count;
    if (!agent || !Subidentifiers(oid, subs, &count))
        return nullptr;
    SnmpNode* node = agent->root.get();
    for (size_t i = 0; i < count; ++i) {
        SnmpNode* child = node->firstChild.get();
        while (child && child->subidentifier != subs[i])
            child = child->next.get();
        if (!child) {
            if (!create)
                return nullptr;
            auto fresh = std::make_unique<SnmpNode>();
            fresh->subidentifier = subs[i];
            fresh->next = std::move(node->firstChild); // new children in front
            node->firstChild = std::move(fresh);
            child = node->firstChild.get();
        }
        node = child;
    }
    return node;
}

int SnmpEngine::Subscribe(const SnmpOid& oid, uint32_t address, const char* readCommunity, uint32_t intervalMs,
    void* context, SnmpCallback callback)
{
    SnmpAgent* agent = Agent(address, true);
    SnmpNode* node = Node(agent, oid, true);
    if (!node)
        return 0;
    int slot = FindSubscriber(*node, context);
    if (slot >= 0) {
        node->subscribers[slot].callback = callback;
    } else {
        if (node->subscribers.size() >= kSnmpMaxSubscribers)
            return 0;
        node->subscribers.push_back({ callback, context });
    }
    agent->readCommunity = Community(readCommunity, "public");
    if (intervalMs > 0) {
        uint32_t ticks = (intervalMs + kSnmpTickMs - 1) / kSnmpTickMs;
        if (node->countdown == 0 || ticks < node->countdown)
            node->countdown = ticks;
    }
    return 1;
}

int SnmpEngine::Unsubscribe(const SnmpOid& oid, uint32_t address, void* context)
{
    SnmpAgent* agent = Agent(address, false);
    uint32_t subs[kSnmpMaxOid];
    size_t count;
    if (!agent || !Subidentifiers(oid, subs, &count))
        return 0;
    // The path from the root, to prune empty nodes upward afterwards.
    std::vector<SnmpNode*> path { agent->root.get() };
    for (size_t i = 0; i < count; ++i) {
        SnmpNode* child = path.back()->firstChild.get();
        while (child && child->subidentifier != subs[i])
            child = child->next.get();
        if (!child)
            return 0;
        path.push_back(child);
    }
    SnmpNode* node = path.back();
    int slot = FindSubscriber(*node, context);
    if (slot < 0)
        return 0;
    node->subscribers.erase(node->subscribers.begin() + slot);
    ++treeChanges_;
    if (!node->subscribers.empty())
        return 1;
    node->value.Clear();
    node->countdown = 0;
    for (size_t level = path.size() - 1; level > 0; --level) {
        SnmpNode* n = path[level];
        if (!n->subscribers.empty() || n->firstChild)
            break;
        SnmpNode* parent = path[level - 1];
        std::unique_ptr<SnmpNode>* link = &parent->firstChild;
        while (link->get() != n)
            link = &(*link)->next;
        std::unique_ptr<SnmpNode> removed = std::move(*link);
        *link = std::move(removed->next);
    }
    return 1;
}

int SnmpEngine::QueueSet(const SnmpOid& oid, uint32_t address, const char* writeCommunity, const SnmpValue& value,
    void* context, SnmpCallback callback, int defaultFlag)
{
    SnmpAgent* agent = Agent(address, true);
    SnmpRequest r;
    r.kind = kSnmpRequestSet;
    r.oid = oid;
    r.value = value;
    r.callback = callback;
    r.context = context;
    r.serial = ++serial_;
    agent->queue.push_back(std::move(r));
    agent->writeCommunity = Community(writeCommunity, defaultFlag ? "public" : "");
    return 1;
}

int SnmpEngine::CancelSets(uint32_t address)
{
    SnmpAgent* agent = Agent(address, false);
    if (!agent)
        return 0;
    bool cancelledInFlight = false;
    auto& q = agent->queue;
    for (const SnmpRequest& r : q)
        if (r.kind == kSnmpRequestSet && r.inFlight)
            cancelledInFlight = true;
    q.erase(
        std::remove_if(q.begin(), q.end(), [](const SnmpRequest& r) { return r.kind == kSnmpRequestSet; }), q.end());
    // A cancelled set that was the outstanding request leaves nothing to wait for: forget its schedule
    // (and its request id) so the next request goes out at once instead of at its retransmission time.
    if (cancelledInFlight && std::none_of(q.begin(), q.end(), [](const SnmpRequest& r) { return r.inFlight; })) {
        agent->tickCounter = 0;
        agent->sendCounter = 0;
        ++agent->requestId;
    }
    return 1;
}

void SnmpEngine::ClearAll()
{
    ++generation_;
    ++treeChanges_;
    byAddress_.clear();
    agents_.clear();
}

int SnmpEngine::GetCached(const SnmpOid& oid, uint32_t address, SnmpValue* out) const
{
    auto it = byAddress_.find(address);
    if (it == byAddress_.end())
        return 0;
    SnmpNode* node = Node(it->second, oid, false);
    if (!node)
        return 0;
    *out = node->value;
    return 1;
}

void SnmpEngine::SetTrapObserver(SnmpTrapObserver observer, void* context)
{
    trapObserver_ = observer;
    trapContext_ = context;
}

// --- scheduling -------------------------------------------------------------------------------------

namespace {
// Pre-order walk that rebuilds each node's full OID; a countdown going from 1 to 0 queues a get.
void Countdowns(SnmpNode* node, SnmpOid& path, SnmpAgent& agent, uint64_t& serial)
{
    for (SnmpNode* child = node->firstChild.get(); child; child = child->next.get()) {
        uint32_t saved = path.length;
        if (!SnmpOidAppend(&path, child->subidentifier))
            continue;
        if (child->countdown > 0 && --child->countdown == 0) {
            SnmpRequest r;
            r.kind = kSnmpRequestGet;
            r.oid = path;
            r.serial = ++serial;
            agent.queue.push_back(std::move(r));
        }
        Countdowns(child, path, agent, serial);
        path.length = saved;
    }
}
} // namespace

void SnmpEngine::Tick()
{
    uint64_t generation = generation_;
    for (size_t i = 0; i < agents_.size(); ++i) {
        TickAgent(i, generation);
        if (generation != generation_)
            return;
    }
}

void SnmpEngine::TickAgent(size_t index, uint64_t generation)
{
    SnmpAgent& agent = *agents_[index];
    SnmpOid path;
    Countdowns(agent.root.get(), path, agent, serial_);
    auto& q = agent.queue;
    q.erase(std::remove_if(q.begin(), q.end(), [](const SnmpRequest& r) { return r.done; }), q.end());
    if (q.empty())
        return;
    uint32_t before = agent.tickCounter++;
    uint32_t slot = std::min<uint32_t>(agent.sendCounter + agent.latencyClass, 6);
    if (before != 0 && agent.tickCounter != kSnmpRetransmitTicks[slot] + 1)
        return;
    if (agent.sendCounter++ >= 4) {
        agent.tickCounter = 0;
        agent.sendCounter = 0;
        agent.latencyClass = 0;
        // A late answer to the abandoned request must not be taken for the next one.
        ++agent.requestId;
        GiveUp(agent.address, generation);
        return;
    }
    Send(agent);
}

void SnmpEngine::Send(SnmpAgent& agent)
{
    SnmpMessage m;
    m.pdu = kPduGet;
    m.community = agent.readCommunity;
    // The request id keeps its counter; the top byte names the kind of this request.
    uint32_t idGet = (agent.requestId & 0x00FFFFFFu) | (uint32_t(kSnmpRequestGet) << 24);
    m.requestId = idGet;
    size_t bindingsLength = 0;
    SnmpRequest* stop = nullptr;
    std::vector<SnmpRequest*> batch;
    for (SnmpRequest& r : agent.queue)
        r.inFlight = false;
    for (SnmpRequest& r : agent.queue) {
        if (r.done)
            continue;
        if (r.kind != kSnmpRequestGet || r.alone) {
            stop = &r;
            break;
        }
        if (batch.size() >= kSnmpBatchMax)
            break;
        SnmpBinding b;
        b.oid = r.oid;
        b.tag = kBerNull;
        size_t size = SnmpBindingSize(b);
        // A batch that would outgrow the request buffer is cut here; the rest goes in a later request.
        if (!batch.empty() && SnmpMessageSizeFor(m, bindingsLength + size) > kSnmpRequestBuffer)
            break;
        bindingsLength += size;
        m.bindings.push_back(std::move(b));
        batch.push_back(&r);
    }
    if (batch.empty()) {
        if (!stop)
            return;
        SnmpBinding b;
        b.oid = stop->oid;
        if (stop->kind == kSnmpRequestSet) {
            m.pdu = kPduSet;
            m.community = agent.writeCommunity;
            m.requestId = (agent.requestId & 0x00FFFFFFu) | (uint32_t(kSnmpRequestSet) << 24);
            SnmpEncodeSetValue(stop->value, &b);
        } else {
            b.tag = kBerNull;
        }
        m.bindings.push_back(std::move(b));
        batch.push_back(stop);
    }
    for (SnmpRequest* r : batch)
        r->inFlight = true;
    agent.requestId = m.requestId;
    uint8_t buffer[kSnmpRequestBuffer];
    size_t size = SnmpEncodeMessage(m, buffer, sizeof buffer);
    if (size > 0 && send_)
        send_(agent.address, buffer, size);
}

// --- completion ---------------------------------------------------------------------------------------

void SnmpEngine::Finish(uint32_t address, uint64_t serial, int status, const SnmpValue* value, uint64_t generation)
{
    SnmpAgent* agent = Agent(address, false);
    if (!agent)
        return;
    SnmpRequest* r = nullptr;
    for (SnmpRequest& q : agent->queue)
        if (q.serial == serial)
            r = &q;
    if (!r || r->done)
        return;
    r->done = true;
    r->inFlight = false;
    SnmpOid oid = r->oid;
    SnmpCallback callback = r->callback;
    void* context = r->context;
    if (callback) {
        callback(context, status);
        if (generation != generation_)
            return;
    }
    Deliver(address, oid, status, value, generation);
}

void SnmpEngine::Deliver(uint32_t address, const SnmpOid& oid, int status, const SnmpValue* value, uint64_t generation)
{
    SnmpNode* node = Node(Agent(address, false), oid, false);
    if (!node)
        return;
    if (value)
        node->value = *value;
    else
        node->value.Clear();
    // Subscribers may unsubscribe (themselves or others) from inside their callback: call a copy, and
    // after any change to the trees check that each one is still subscribed before calling it.
    std::array<SnmpSubscriber, kSnmpMaxSubscribers> subscribers;
    size_t count = node->subscribers.size();
    std::copy(node->subscribers.begin(), node->subscribers.end(), subscribers.begin());
    uint64_t changes = treeChanges_;
    for (size_t i = 0; i < count; ++i) {
        if (changes != treeChanges_) {
            node = Node(Agent(address, false), oid, false);
            if (!node)
                return;
            if (FindSubscriber(*node, subscribers[i].context) < 0)
                continue;
        }
        if (subscribers[i].callback)
            subscribers[i].callback(subscribers[i].context, status);
        if (generation != generation_)
            return;
    }
}

void SnmpEngine::GiveUp(uint32_t address, uint64_t generation)
{
    // Only the requests queued when the device was given up fail; callbacks may queue new ones.
    SnmpAgent* agent = Agent(address, false);
    std::vector<uint64_t> pending;
    for (const SnmpRequest& r : agent->queue)
        if (!r.done)
            pending.push_back(r.serial);
    for (uint64_t serial : pending) {
        Finish(address, serial, -1, nullptr, generation);
        if (generation != generation_)
            return;
    }
}

// --- received datagrams -------------------------------------------------------------------------------

void SnmpEngine::Receive(uint32_t sender, const uint8_t* data, size_t size)
{
    SnmpMessage& m = scratch_;
    if (SnmpDecodeMessage(data, size, &m) != kSnmpDecodeOk)
        return;
    if (m.pdu == kPduResponse)
        DispatchResponse(sender, m);
    else if (m.pdu == kPduTrap)
        DispatchTrap(sender, m);
}

namespace {
// The first queued request of a kind for an OID that still waits for its answer.
const SnmpRequest* Pending(const SnmpAgent& agent, uint8_t kind, const SnmpOid& oid)
{
    for (const SnmpRequest& r : agent.queue)
        if (!r.done && r.kind == kind && SnmpOidEqual(r.oid, oid))
            return &r;
    return nullptr;
}
} // namespace

void SnmpEngine::DispatchResponse(uint32_t sender, const SnmpMessage& m)
{
    SnmpAgent* agent = Agent(sender, false);
    if (!agent || m.requestId != agent->requestId)
        return;
    uint8_t kind = static_cast<uint8_t>(agent->requestId >> 24);
    ++agent->requestId;
    agent->latencyClass = agent->tickCounter < 10 ? 0 : agent->tickCounter < 25 ? 1 : 2;
    agent->tickCounter = 0;
    agent->sendCounter = 0;
    uint64_t generation = generation_;

    // What each binding completes, worked out before any callback runs.
    struct Outcome {
        uint64_t serial;
        int status;
        size_t binding;
    };
    std::vector<Outcome> outcomes;
    if (m.errorStatus == kSnmpTooBig) {
        bool named = false;
        for (const SnmpBinding& b : m.bindings) {
            const SnmpRequest* r = Pending(*agent, kind, b.oid);
            if (!r)
                continue;
            named = true;
            // Already sent by itself and still too big: it can never be answered, so it fails.
            if (r->alone)
                outcomes.push_back({ r->serial, kSnmpTooBig, SIZE_MAX });
            else
                const_cast<SnmpRequest*>(r)->alone = true;
        }
        // An answer that names no binding (some agents send none with tooBig) marks the whole request.
        if (!named) {
            for (SnmpRequest& r : agent->queue) {
                if (!r.inFlight || r.done)
                    continue;
                if (r.alone)
                    outcomes.push_back({ r.serial, kSnmpTooBig, SIZE_MAX });
                else
                    r.alone = true;
            }
        }
    } else if (m.errorStatus == kSnmpNoError) {
        for (size_t i = 0; i < m.bindings.size(); ++i)
            if (const SnmpRequest* r = Pending(*agent, kind, m.bindings[i].oid))
                outcomes.push_back({ r->serial, 0, i });
    } else {
        int status = static_cast<int>(m.errorStatus);
        if (m.errorIndex >= 1 && m.errorIndex <= m.bindings.size()) {
            if (const SnmpRequest* r = Pending(*agent, kind, m.bindings[m.errorIndex - 1].oid))
                outcomes.push_back({ r->serial, status, m.errorIndex - 1 });
        } else {
            // An error index that names no binding cannot be pinned on one request; sending the same
            // request again would get the same answer forever, so every request of it gets the error.
            for (SnmpRequest& r : agent->queue)
                if (r.inFlight && !r.done)
                    outcomes.push_back({ r.serial, status, SIZE_MAX });
        }
    }
    for (const Outcome& o : outcomes) {
        const SnmpValue* value = o.binding < m.bindings.size() ? &m.bindings[o.binding].value : nullptr;
        Finish(sender, o.serial, o.status, value, generation);
        if (generation != generation_)
            return;
    }
}

void SnmpEngine::DispatchTrap(uint32_t sender, const SnmpMessage& m)
{
    uint64_t generation = generation_;
    if (trapObserver_) {
        SnmpTrapInfo info;
        info.sender = sender;
        info.message = &m;
        trapObserver_(trapContext_, info);
        if (generation != generation_)
            return;
    }
    if (m.genericTrap != 6 || m.specificTrap != 1)
        return;
    for (const SnmpBinding& b : m.bindings) {
        if (!Agent(sender, false))
            return;
        Deliver(sender, b.oid, 0, &b.value, generation);
        if (generation != generation_)
            return;
    }
}
