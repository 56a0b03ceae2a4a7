#include "monitor/snmp/snmp_engine.h"

#include "common/bytes.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Copies an OID's bytes: mostly 8 to 16, copied as two overlapping words (a call to memcpy costs more
// than the copy).
inline void CopyBytes(uint8_t* to, const uint8_t* from, size_t n)
{
    if (n >= 8 && n <= 16) {
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
        return;
    }
    std::memcpy(to, from, n);
}

// Splits an encoded OID into its subidentifiers. False when the last one is cut off.
bool Subidentifiers(const uint8_t* oid, uint32_t length, uint32_t* out, size_t* count)
{
    size_t n = 0;
    uint32_t value = 0;
    bool pending = false;
    for (uint32_t i = 0; i < length; ++i) {
        value = value << 7 | (oid[i] & 0x7Fu);
        pending = true;
        if (!(oid[i] & 0x80)) {
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
    if (recent_.agent && recent_.address == address && recent_.generation == generation_)
        return recent_.agent;
    uint32_t found = IndexOf(address);
    if (found != UINT32_MAX)
        return agents_[found].get();
    if (!create)
        return nullptr;
    auto agent = std::make_unique<SnmpAgent>();
    agent->address = address;
    // The counter starts where a stranger cannot guess it, so a forged answer is not taken.
    agent->requestId = SnmpRandomRequestId() & 0x00FFFFFFu;
    agent->readCommunity = "public";
    agent->root = std::make_unique<SnmpNode>();
    agent->index = static_cast<uint32_t>(agents_.size());
    agentDue_.push_back(UINT64_MAX);
    agentQueued_.push_back(0);
    SnmpAgent* raw = agent.get();
    agents_.push_back(std::move(agent));
    AddToIndex(address, raw->index);
    return raw;
}

namespace {
inline size_t AddressHash(uint32_t address, size_t mask)
{
    return (address * 0x9E3779B1u ^ address >> 16) & mask;
}
} // namespace

uint32_t SnmpEngine::IndexOf(uint32_t address) const
{
    if (addressTable_.empty())
        return UINT32_MAX;
    size_t mask = addressTable_.size() - 1;
    for (size_t i = AddressHash(address, mask);; i = (i + 1) & mask) {
        const AddressSlot& slot = addressTable_[i];
        if (slot.number == 0)
            return UINT32_MAX;
        if (slot.address == address)
            return slot.number - 1;
    }
}

void SnmpEngine::AddToIndex(uint32_t address, uint32_t index)
{
    auto place = [](std::vector<AddressSlot>& table, AddressSlot entry) {
        size_t mask = table.size() - 1;
        size_t i = AddressHash(entry.address, mask);
        while (table[i].number != 0)
            i = (i + 1) & mask;
        table[i] = entry;
    };
    if (2 * (agents_.size() + 1) > addressTable_.size()) {
        std::vector<AddressSlot> grown(std::max<size_t>(64, 2 * addressTable_.size()), AddressSlot { 0, 0 });
        for (const AddressSlot& slot : addressTable_)
            if (slot.number != 0)
                place(grown, slot);
        addressTable_ = std::move(grown);
    }
    place(addressTable_, AddressSlot { address, index + 1 });
}

void SnmpEngine::Prefetch(uint32_t sender) const
{
    uint32_t index = IndexOf(sender);
    if (index == UINT32_MAX)
        return;
    PrefetchLines(agents_[index].get(), 2);
}

SnmpRequest& SnmpEngine::Enqueue(SnmpAgent& agent, const uint8_t* oid, uint32_t oidLength)
{
    SnmpRequest& r = agent.queue.emplace_back();
    r.oidOffset = static_cast<uint32_t>(agent.queueOids.size());
    r.oidLength = oidLength;
    agent.queueOids.resize(r.oidOffset + oidLength);
    CopyBytes(agent.queueOids.data() + r.oidOffset, oid, oidLength);
    r.serial = ++serial_;
    agentQueued_[agent.index] = 1;
    return r;
}

template<class Pred> void SnmpEngine::RemoveRequests(SnmpAgent& agent, Pred drop)
{
    // The OIDs of the requests kept move down in the same pass (their order is the queue's).
    auto& q = agent.queue;
    size_t kept = 0;
    uint32_t bytes = 0;
    for (size_t i = 0; i < q.size(); ++i) {
        if (drop(q[i]))
            continue;
        SnmpRequest& r = q[i];
        if (r.oidOffset != bytes)
            std::memmove(agent.queueOids.data() + bytes, agent.queueOids.data() + r.oidOffset, r.oidLength);
        r.oidOffset = bytes;
        bytes += r.oidLength;
        if (kept != i)
            q[kept] = std::move(r);
        ++kept;
    }
    q.resize(kept);
    agent.queueOids.resize(bytes);
}

const SnmpAgent* SnmpEngine::FindAgent(uint32_t address) const
{
    uint32_t index = IndexOf(address);
    return index == UINT32_MAX ? nullptr : agents_[index].get();
}

uint32_t SnmpNodeIndex::Hash(const uint8_t* oid, uint32_t length)
{
    uint64_t h = 0x9E3779B97F4A7C15ull ^ length;
    uint32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t w;
        std::memcpy(&w, oid + i, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    if (i < length) {
        uint64_t w = 0;
        std::memcpy(&w, oid + i, length - i);
        h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 29;
    }
    return static_cast<uint32_t>(h ^ h >> 32);
}

bool SnmpNodeIndex::Matches(const Slot& slot, uint32_t hash, const uint8_t* oid, uint32_t length) const
{
    if (slot.hash != hash || slot.length != length)
        return false;
    if (length <= kInline)
        return SameBytes(slot.bytes, oid, length);
    uint32_t at;
    std::memcpy(&at, slot.bytes, sizeof at);
    return SameBytes(long_[at].data(), oid, length);
}

SnmpNode* SnmpNodeIndex::Find(const uint8_t* oid, uint32_t length) const
{
    if (count_ == 0)
        return nullptr;
    uint32_t hash = Hash(oid, length);
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (!slot.node)
            return nullptr;
        if (Matches(slot, hash, oid, length))
            return slot.node;
    }
}

void SnmpNodeIndex::Place(const Slot& slot)
{
    size_t mask = slots_.size() - 1;
    size_t i = slot.hash & mask;
    while (slots_[i].node)
        i = (i + 1) & mask;
    slots_[i] = slot;
}

void SnmpNodeIndex::Insert(const uint8_t* oid, uint32_t length, SnmpNode* node)
{
    if (2 * (count_ + 1) > slots_.size()) {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(std::max<size_t>(16, 2 * old.size()), Slot {});
        for (const Slot& slot : old)
            if (slot.node)
                Place(slot);
    }
    Slot slot {};
    slot.node = node;
    slot.hash = Hash(oid, length);
    slot.length = static_cast<uint16_t>(length);
    if (length <= kInline) {
        std::memcpy(slot.bytes, oid, length);
    } else {
        uint32_t at = static_cast<uint32_t>(long_.size());
        long_.emplace_back(reinterpret_cast<const char*>(oid), length);
        std::memcpy(slot.bytes, &at, sizeof at);
    }
    Place(slot);
    ++count_;
}

void SnmpNodeIndex::Clear()
{
    if (count_ == 0)
        return;
    std::fill(slots_.begin(), slots_.end(), Slot {});
    long_.clear();
    count_ = 0;
}

SnmpNode* SnmpEngine::Node(SnmpAgent* agent, const uint8_t* oid, uint32_t oidLength, bool create) const
{
    if (!agent)
        return nullptr;
    if (recent_.agent == agent && recent_.generation == generation_ && recent_.treeVersion == agent->treeVersion
        && recent_.oidLength == oidLength && SameBytes(recent_.oid, oid, oidLength))
        return recent_.node;
    if (SnmpNode* known = agent->nodeIndex.Find(oid, oidLength))
        return known;
    uint32_t subs[kSnmpMaxOid];
    size_t count;
    if (!Subidentifiers(oid, oidLength, subs, &count))
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
            agent->preorderStale = true;
            fresh->next = std::move(node->firstChild); // new children in front
            node->firstChild = std::move(fresh);
            child = node->firstChild.get();
        }
        node = child;
    }
    agent->nodeIndex.Insert(oid, oidLength, node);
    return node;
}

int SnmpEngine::Subscribe(const SnmpOid& oid, uint32_t address, const char* readCommunity, uint32_t intervalMs,
    void* context, SnmpCallback callback)
{
    // A subscriber re-arming its poll from inside its callback names the node being delivered.
    SnmpAgent* agent = recent_.agent;
    SnmpNode* node = recent_.node;
    if (!agent || recent_.address != address || recent_.generation != generation_
        || recent_.treeVersion != agent->treeVersion || recent_.oidLength != oid.length
        || !SameBytes(recent_.oid, oid.bytes, oid.length)) {
        agent = Agent(address, true);
        node = Node(agent, oid, true);
    }
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
    // (Re-armed polls give the same community again and again: compare before copying.)
    std::string_view community = readCommunity && *readCommunity ? std::string_view(readCommunity) : "public";
    if (community.size() > kSnmpMaxText)
        community = community.substr(0, kSnmpMaxText);
    if (agent->readCommunity != community) {
        agent->readCommunity.assign(community);
        // Another community (a device added again with its right password): what waits goes out with it at
        // the next tick, and the sends made with the old one count no longer (nor do their late answers).
        if (!agent->queue.empty()) {
            agent->tickCounter = 0;
            agent->sendCounter = 0;
            ++agent->requestId;
        }
    }
    if (intervalMs > 0) {
        uint32_t ticks = (intervalMs + kSnmpTickMs - 1) / kSnmpTickMs;
        uint32_t left = Countdown(*node);
        if (left == 0 || ticks < left) {
            node->due = tickNumber_ + ticks;
            if (!agent->preorderStale)
                agent->preorderDue[node->slot] = node->due;
            agentDue_[agent->index] = std::min(agentDue_[agent->index], node->due);
        }
    }
    return 1;
}

int SnmpEngine::Unsubscribe(const SnmpOid& oid, uint32_t address, void* context)
{
    SnmpAgent* agent = Agent(address, false);
    uint32_t subs[kSnmpMaxOid];
    size_t count;
    if (!agent || !Subidentifiers(oid.bytes, oid.length, subs, &count))
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
    node->subscribers.erase(static_cast<size_t>(slot));
    ++treeChanges_;
    if (!node->subscribers.empty())
        return 1;
    node->value.Clear();
    node->due = 0;
    if (!agent->preorderStale)
        agent->preorderDue[node->slot] = 0;
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
        agent->preorderStale = true;
        agent->nodeIndex.Clear();
        ++agent->treeVersion;
    }
    return 1;
}

int SnmpEngine::QueueSet(const SnmpOid& oid, uint32_t address, const char* writeCommunity, const SnmpValue& value,
    void* context, SnmpCallback callback, int defaultFlag)
{
    SnmpAgent* agent = Agent(address, true);
    SnmpRequest& r = Enqueue(*agent, oid.bytes, oid.length);
    r.kind = kSnmpRequestSet;
    r.set = std::make_unique<SnmpSetPart>();
    r.set->value = value;
    r.set->callback = callback;
    r.set->context = context;
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
    RemoveRequests(*agent, [](const SnmpRequest& r) { return r.kind == kSnmpRequestSet; });
    agent->doneCount
        = static_cast<size_t>(std::count_if(q.begin(), q.end(), [](const SnmpRequest& r) { return r.done; }));
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
    addressTable_.clear();
    agents_.clear();
    agentDue_.clear();
    agentQueued_.clear();
}

int SnmpEngine::GetCached(const SnmpOid& oid, uint32_t address, SnmpValue* out) const
{
    uint32_t index = IndexOf(address);
    if (index == UINT32_MAX)
        return 0;
    SnmpNode* node = Node(agents_[index].get(), oid, false);
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
// The tree in pre-order (newest children first), each node with its full OID.
void Preorder(SnmpNode* node, SnmpOid& path, SnmpAgent& agent)
{
    for (SnmpNode* child = node->firstChild.get(); child; child = child->next.get()) {
        uint32_t saved = path.length;
        if (!SnmpOidAppend(&path, child->subidentifier))
            continue;
        child->slot = static_cast<uint32_t>(agent.preorder.size());
        agent.preorder.push_back(
            { child, static_cast<uint32_t>(agent.preorderOids.size()), static_cast<uint32_t>(path.length) });
        agent.preorderOids.insert(agent.preorderOids.end(), path.bytes, path.bytes + path.length);
        Preorder(child, path, agent);
        path.length = saved;
    }
}
} // namespace

void SnmpEngine::Tick()
{
    ++tickNumber_;
    uint64_t generation = generation_;
    auto visits = [this](size_t i) { return tickNumber_ >= agentDue_[i] || agentQueued_[i]; };
    auto nextVisit = [&](size_t from) {
        while (from < agents_.size() && !visits(from))
            ++from;
        return from;
    };
    // Agents and their lists lie all over the heap. While one agent is handled, the record of the one
    // after next is asked for, and the lists of the next one (its record asked for a step earlier).
    // (Callbacks may add agents: their number is read afresh.)
    auto askRecord = [&](size_t i) {
        if (i >= agents_.size())
            return;
        PrefetchLines(agents_[i].get(), 3);
    };
    auto askLists = [&](size_t i) {
        if (i >= agents_.size())
            return;
        const SnmpAgent& agent = *agents_[i];
        if (!agent.preorderDue.empty()) {
            __builtin_prefetch(agent.preorderDue.data());
            __builtin_prefetch(agent.preorderDue.data() + 8);
        }
        if (agent.queue.capacity() > 0)
            __builtin_prefetch(agent.queue.data(), 1);
    };
    size_t next = 0, afterNext = 0; // the next two agents to visit after the current one
    for (size_t i = 0; i < agents_.size(); ++i) {
        if (!visits(i))
            continue;
        if (next <= i) {
            next = nextVisit(i + 1);
            askRecord(next);
        }
        if (afterNext <= next) {
            afterNext = nextVisit(next + 1);
            askRecord(afterNext);
        }
        askLists(next);
        TickAgent(i, generation);
        if (generation != generation_)
            return;
    }
}

void SnmpEngine::TickAgent(size_t index, uint64_t generation)
{
    SnmpAgent& agent = *agents_[index];
    // Every countdown moves on by one tick; those that run out queue a get, in pre-order.
    if (tickNumber_ >= agentDue_[index]) {
        if (agent.preorderStale) {
            agent.preorder.clear();
            agent.preorderOids.clear();
            SnmpOid path;
            Preorder(agent.root.get(), path, agent);
            agent.preorderDue.resize(agent.preorder.size());
            for (size_t i = 0; i < agent.preorder.size(); ++i)
                agent.preorderDue[i] = agent.preorder[i].node->due >= tickNumber_ ? agent.preorder[i].node->due : 0;
            agent.preorderStale = false;
        }
        uint64_t nextDue = UINT64_MAX;
        for (size_t i = 0; i < agent.preorderDue.size(); ++i) {
            uint64_t due = agent.preorderDue[i];
            if (due == tickNumber_) {
                const SnmpAgent::Entry& e = agent.preorder[i];
                agent.preorderDue[i] = 0; // (the node's own due is now in the past: not armed)
                SnmpRequest& r = Enqueue(agent, agent.preorderOids.data() + e.oidOffset, e.oidLength);
                r.node = e.node;
                r.treeVersion = agent.treeVersion;
            } else if (due > tickNumber_) {
                nextDue = std::min(nextDue, due);
            }
        }
        agentDue_[index] = nextDue;
    }
    auto& q = agent.queue;
    if (agent.doneCount == q.size()) {
        q.clear();
        agent.queueOids.clear();
    } else if (agent.doneCount > 0) {
        RemoveRequests(agent, [](const SnmpRequest& r) { return r.done; });
    }
    agent.doneCount = 0;
    if (q.empty()) {
        agentQueued_[index] = 0;
        return;
    }
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
        GiveUp(&agent, generation);
        return;
    }
    Send(agent);
}

namespace {
// (Lengths below 127, one byte, are by far the most common: they skip the general encoder.)
inline size_t PutLength(uint8_t* out, size_t length)
{
    if (length < 127) {
        *out = static_cast<uint8_t>(length);
        return 1;
    }
    return BerPutLength(out, length);
}

inline size_t Tlv(size_t contentLength)
{
    size_t lengthBytes = contentLength < 127 ? 1
        : contentLength < 0x100              ? 2
        : contentLength < 0x10000            ? 3
                                             : BerPutLength(nullptr, contentLength);
    return 1 + lengthBytes + contentLength;
}

// A get's binding: the OID and a NULL.
size_t GetBindingSize(uint32_t oidLength)
{
    return Tlv(Tlv(oidLength) + 2);
}
} // namespace

void SnmpEngine::Send(SnmpAgent& agent)
{
    // The request id keeps its counter; the top byte names the kind of this request.
    uint32_t idGet = (agent.requestId & 0x00FFFFFFu) | (uint32_t(kSnmpRequestGet) << 24);
    // A batch of gets is written straight from the queue into the datagram (version 0, error status and
    // index 0); the sizes around its bindings are worked out once.
    const std::string& community = agent.readCommunity;
    size_t fixedPdu = BerPutInteger(nullptr, static_cast<int32_t>(idGet)) + 2 * BerPutInteger(nullptr, 0);
    size_t fixedMessage = BerPutInteger(nullptr, 0) + Tlv(community.size());
    auto sizeFor = [&](size_t bindingsLength) { return Tlv(fixedMessage + Tlv(fixedPdu + Tlv(bindingsLength))); };
    size_t bindingsLength = 0;
    SnmpRequest* stop = nullptr;
    SnmpRequest* batch[kSnmpBatchMax];
    size_t batchCount = 0;
    for (SnmpRequest& r : agent.queue)
        r.inFlight = false;
    for (SnmpRequest& r : agent.queue) {
        if (r.done)
            continue;
        if (r.kind != kSnmpRequestGet || r.alone) {
            stop = &r;
            break;
        }
        if (batchCount >= kSnmpBatchMax)
            break;
        size_t size = GetBindingSize(r.oidLength);
        // A batch that would outgrow the request buffer is cut here; the rest goes in a later request. (The
        // three headers around the bindings take at most 12 bytes: only a batch near the limit is counted.)
        size_t grown = bindingsLength + size;
        if (batchCount > 0 && fixedMessage + fixedPdu + grown + 12 > kSnmpRequestBuffer
            && sizeFor(grown) > kSnmpRequestBuffer)
            break;
        bindingsLength += size;
        batch[batchCount++] = &r;
    }
    uint8_t buffer[kSnmpRequestBuffer];
    if (batchCount > 0) {
        for (size_t i = 0; i < batchCount; ++i)
            batch[i]->inFlight = true;
        agent.requestId = idGet;
        size_t pduLength = fixedPdu + Tlv(bindingsLength);
        size_t messageLength = fixedMessage + Tlv(pduLength);
        if (Tlv(messageLength) > sizeof buffer)
            return;
        uint8_t* p = buffer;
        *p++ = kBerSequence;
        p += BerPutLength(p, messageLength);
        p += BerPutInteger(p, 0);
        *p++ = kBerOctetString;
        p += BerPutLength(p, community.size());
        std::memcpy(p, community.data(), community.size());
        p += community.size();
        *p++ = static_cast<uint8_t>(0xA0 | kPduGet);
        p += BerPutLength(p, pduLength);
        p += BerPutInteger(p, static_cast<int32_t>(idGet));
        p += BerPutInteger(p, 0);
        p += BerPutInteger(p, 0);
        *p++ = kBerSequence;
        p += BerPutLength(p, bindingsLength);
        for (size_t i = 0; i < batchCount; ++i) {
            const SnmpRequest& r = *batch[i];
            *p++ = kBerSequence;
            p += PutLength(p, Tlv(r.oidLength) + 2);
            *p++ = kBerOid;
            p += PutLength(p, r.oidLength);
            CopyBytes(p, agent.queueOids.data() + r.oidOffset, r.oidLength);
            p += r.oidLength;
            *p++ = kBerNull;
            *p++ = 0;
        }
        if (send_)
            send_(agent.address, buffer, static_cast<size_t>(p - buffer));
        return;
    }
    if (!stop)
        return;
    // A set, or a get that must go alone: one binding through the general encoder.
    SnmpMessage& m = request_;
    m.bindings.clear();
    m.pdu = kPduGet;
    m.community = agent.readCommunity;
    m.requestId = idGet;
    SnmpBinding& b = m.bindings.emplace_back();
    b.oid.length = stop->oidLength;
    std::memcpy(b.oid.bytes, agent.queueOids.data() + stop->oidOffset, stop->oidLength);
    if (stop->kind == kSnmpRequestSet) {
        m.pdu = kPduSet;
        m.community = agent.writeCommunity;
        m.requestId = (agent.requestId & 0x00FFFFFFu) | (uint32_t(kSnmpRequestSet) << 24);
        SnmpEncodeSetValue(stop->set ? stop->set->value : SnmpValue(), &b);
    } else {
        b.tag = kBerNull;
        b.value.Clear();
    }
    stop->inFlight = true;
    agent.requestId = m.requestId;
    size_t size = SnmpEncodeMessage(m, buffer, sizeof buffer);
    if (size > 0 && send_)
        send_(agent.address, buffer, size);
}

// --- completion ---------------------------------------------------------------------------------------

void SnmpEngine::Finish(
    SnmpAgent* agent, uint64_t serial, size_t hint, int status, const SnmpBindingView* binding, uint64_t generation)
{
    // The request is normally still where it was found; callbacks may have moved it.
    SnmpRequest* r = nullptr;
    if (hint < agent->queue.size() && agent->queue[hint].serial == serial)
        r = &agent->queue[hint];
    for (size_t i = 0; !r && i < agent->queue.size(); ++i)
        if (agent->queue[i].serial == serial)
            r = &agent->queue[i];
    if (!r || r->done)
        return;
    r->done = true;
    ++agent->doneCount;
    r->inFlight = false;
    // The OID: the answer's own bytes when it names the request (the datagram outlives the dispatch);
    // otherwise a copy, since callbacks may move the queue's OIDs.
    uint8_t copy[kSnmpMaxOid];
    const uint8_t* oid = copy;
    uint32_t oidLength = r->oidLength;
    if (binding) {
        oid = binding->oid;
    } else {
        std::memcpy(copy, agent->queueOids.data() + r->oidOffset, oidLength);
    }
    SnmpCallback callback = r->set ? r->set->callback : nullptr;
    void* context = r->set ? r->set->context : nullptr;
    SnmpNode* node = r->node;
    uint64_t version = r->treeVersion;
    if (callback) {
        callback(context, status);
        if (generation != generation_)
            return;
    }
    Deliver(agent, oid, oidLength, status, nullptr, binding, generation, node, version);
}

void SnmpEngine::Deliver(SnmpAgent* agent, const uint8_t* oid, uint32_t oidLength, int status, const SnmpValue* value,
    const SnmpBindingView* binding, uint64_t generation, SnmpNode* hint, uint64_t hintVersion)
{
    SnmpNode* node = hint && agent->treeVersion == hintVersion ? hint : Node(agent, oid, oidLength, false);
    if (!node)
        return;
    if (binding)
        SnmpViewValue(*binding, &node->value);
    else if (value)
        node->value = *value;
    else
        node->value.Clear();
    // Subscribers may unsubscribe (themselves or others) from inside their callback: call a copy, and
    // after any change to the trees check that each one is still subscribed before calling it.
    SnmpSubscriber few[4];
    std::vector<SnmpSubscriber> many;
    size_t count = node->subscribers.size();
    SnmpSubscriber* subscribers = few;
    if (count > 4) {
        many.resize(count);
        subscribers = many.data();
    }
    for (size_t i = 0; i < count; ++i)
        subscribers[i] = node->subscribers[i];
    recent_.address = agent->address;
    recent_.agent = agent;
    recent_.node = node;
    recent_.treeVersion = agent->treeVersion;
    recent_.generation = generation_;
    recent_.oid = oid;
    recent_.oidLength = oidLength;
    uint64_t changes = treeChanges_;
    for (size_t i = 0; i < count; ++i) {
        if (changes != treeChanges_) {
            node = Node(agent, oid, oidLength, false); // (the agent lives while the generation holds)
            if (!node)
                break;
            if (FindSubscriber(*node, subscribers[i].context) < 0)
                continue;
        }
        if (subscribers[i].callback)
            subscribers[i].callback(subscribers[i].context, status);
        if (generation != generation_)
            break;
    }
    recent_.agent = nullptr; // (the OID it points at is gone after this)
}

void SnmpEngine::GiveUp(SnmpAgent* agent, uint64_t generation)
{
    // Only the requests queued when the device was given up fail; callbacks may queue new ones.
    std::vector<uint64_t> pending;
    for (const SnmpRequest& r : agent->queue)
        if (!r.done)
            pending.push_back(r.serial);
    for (uint64_t serial : pending) {
        Finish(agent, serial, SIZE_MAX, -1, nullptr, generation);
        if (generation != generation_)
            return;
    }
}

// --- received datagrams -------------------------------------------------------------------------------

void SnmpEngine::Receive(uint32_t sender, const uint8_t* data, size_t size, bool fromAgentPort)
{
    // Answers are read in place: their bindings' OIDs are matched against the queued requests and their
    // values decoded into the nodes, straight from the datagram.
    SnmpMessage& m = scratch_;
    if (SnmpDecodeInPlace(data, size, &m, &views_) != kSnmpDecodeOk)
        return;
    if (m.pdu == kPduResponse) {
        // An answer from another port is a stranger's. One whose bindings cannot all be read is a bad
        // answer: the request keeps its retransmission schedule and is given up like a silent one
        // (taking it would reset the schedule and send the same request again at once, for ever).
        if (fromAgentPort && m.complete)
            DispatchResponse(sender, m);
    } else if (m.pdu == kPduTrap) {
        m.bindings.resize(views_.size());
        for (size_t i = 0; i < views_.size(); ++i)
            SnmpBindingFromView(views_[i], &m.bindings[i]);
        DispatchTrap(sender, m);
    }
}

namespace {
// One BER element's tag and content at `*p` (the content may run past `end` when the datagram was cut;
// only its start is checked). False when even the tag and length are not there.
bool ReadHeader(const uint8_t*& p, const uint8_t* end, uint8_t* tag, size_t* length)
{
    if (end - p < 2)
        return false;
    *tag = *p++;
    uint8_t first = *p++;
    if (first < 0x80) {
        *length = first;
        return true;
    }
    size_t count = first & 0x7F;
    if (count == 0 || count > 4 || static_cast<size_t>(end - p) < count)
        return false;
    *length = 0;
    for (size_t i = 0; i < count; ++i)
        *length = (*length << 8) | *p++;
    return true;
}

// An INTEGER's value (low 32 bits, sign-extended from its first byte) when it lies whole before `end`.
bool ReadInteger(const uint8_t*& p, const uint8_t* end, uint32_t* value)
{
    uint8_t tag = 0;
    size_t length = 0;
    if (!ReadHeader(p, end, &tag, &length) || tag != 0x02 || length == 0 || length > 5
        || static_cast<size_t>(end - p) < length)
        return false;
    uint32_t v = (p[0] & 0x80) ? 0xFFFFFFFFu : 0u;
    for (size_t i = 0; i < length; ++i)
        v = (v << 8) | p[i];
    p += length;
    *value = v;
    return true;
}
} // namespace

void SnmpEngine::ReceiveCut(uint32_t sender, const uint8_t* data, size_t size, size_t whole, bool fromAgentPort)
{
    if (whole <= size) {
        Receive(sender, data, size, fromAgentPort);
        return;
    }
    // Only the head of a GetResponse is read: version 0, the community, then the request id.
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    uint8_t tag = 0;
    size_t length = 0;
    uint32_t version = 1, requestId = 0;
    if (!fromAgentPort || !ReadHeader(p, end, &tag, &length) || tag != 0x30 || !ReadInteger(p, end, &version)
        || version != 0 || !ReadHeader(p, end, &tag, &length) || tag != 0x04 || static_cast<size_t>(end - p) < length)
        return;
    p += length;
    if (!ReadHeader(p, end, &tag, &length) || tag != (0xA0 | kPduResponse) || !ReadInteger(p, end, &requestId))
        return;
    SnmpMessage& m = scratch_;
    m.bindings.clear();
    m.pdu = kPduResponse;
    m.requestId = requestId;
    m.errorStatus = kSnmpTooBig;
    m.errorIndex = 0;
    m.complete = true;
    views_.clear(); // names no binding: every request it answered
    DispatchResponse(sender, m);
}

namespace {
// The first queued request of a kind for an OID that still waits for its answer. Answers list their
// bindings in request order, so the search first tries where the previous one was found (`cursor`).
const SnmpRequest* Pending(
    const SnmpAgent& agent, uint8_t kind, const SnmpBindingView& binding, size_t* cursor = nullptr)
{
    auto matches = [&](const SnmpRequest& r) {
        return !r.done && r.kind == kind && r.oidLength == binding.oidLength
            && SameBytes(agent.queueOids.data() + r.oidOffset, binding.oid, binding.oidLength);
    };
    // (Pending gets of one OID are interchangeable, so the one at the cursor may take it.)
    if (cursor && *cursor < agent.queue.size() && agent.queue[*cursor].kind == kSnmpRequestGet
        && matches(agent.queue[*cursor]))
        return &agent.queue[(*cursor)++];
    for (size_t i = 0; i < agent.queue.size(); ++i)
        if (matches(agent.queue[i])) {
            if (cursor)
                *cursor = i + 1;
            return &agent.queue[i];
        }
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

    const std::vector<SnmpBindingView>& bindings = views_;
    size_t cursor = 0;
    std::vector<Outcome>& outcomes = outcomes_;
    outcomes.clear();
    if (m.errorStatus == kSnmpTooBig) {
        bool named = false;
        for (const SnmpBindingView& b : bindings) {
            const SnmpRequest* r = Pending(*agent, kind, b);
            if (!r)
                continue;
            named = true;
            // Already sent by itself and still too big: it can never be answered, so it fails.
            if (r->alone)
                outcomes.push_back({ r->serial, kSnmpTooBig, SIZE_MAX, SIZE_MAX });
            else
                const_cast<SnmpRequest*>(r)->alone = true;
        }
        // An answer that names no binding (some agents send none with tooBig) marks the whole request.
        if (!named) {
            for (SnmpRequest& r : agent->queue) {
                if (!r.inFlight || r.done)
                    continue;
                if (r.alone)
                    outcomes.push_back({ r.serial, kSnmpTooBig, SIZE_MAX, SIZE_MAX });
                else
                    r.alone = true;
            }
        }
    } else if (m.errorStatus == kSnmpNoError) {
        for (size_t i = 0; i < bindings.size(); ++i)
            if (const SnmpRequest* r = Pending(*agent, kind, bindings[i], &cursor))
                outcomes.push_back({ r->serial, 0, i, static_cast<size_t>(r - agent->queue.data()) });
    } else {
        int status = static_cast<int>(m.errorStatus);
        if (m.errorIndex >= 1 && m.errorIndex <= bindings.size()) {
            if (const SnmpRequest* r = Pending(*agent, kind, bindings[m.errorIndex - 1]))
                outcomes.push_back({ r->serial, status, m.errorIndex - 1, SIZE_MAX });
        } else {
            // An error index that names no binding cannot be pinned on one request; sending the same
            // request again would get the same answer forever, so every request of it gets the error.
            for (SnmpRequest& r : agent->queue)
                if (r.inFlight && !r.done)
                    outcomes.push_back({ r.serial, status, SIZE_MAX, SIZE_MAX });
        }
    }
    // Callbacks cannot reach this again (only the worker receives), so the lists are not disturbed.
    // The nodes lie all over the heap: each is asked for a few completions ahead of its own.
    constexpr size_t kAhead = 8;
    auto prefetchNode = [&](size_t k) {
        if (k < outcomes.size() && outcomes[k].index < agent->queue.size())
            PrefetchLines(agent->queue[outcomes[k].index].node, 2); // a job's request has no node
    };
    for (size_t k = 0; k < kAhead; ++k)
        prefetchNode(k);
    for (size_t k = 0; k < outcomes.size(); ++k) {
        prefetchNode(k + kAhead);
        const Outcome& o = outcomes[k];
        const SnmpBindingView* binding = o.binding < bindings.size() ? &bindings[o.binding] : nullptr;
        Finish(agent, o.serial, o.index, o.status, binding, generation);
        if (generation != generation_)
            return;
    }
    // A queue the answer completed is emptied now rather than by the next tick, which then passes the
    // agent by unless a poll is due.
    if (agent->doneCount > 0 && agent->doneCount == agent->queue.size()) {
        agent->queue.clear();
        agent->queueOids.clear();
        agent->doneCount = 0;
        agentQueued_[agent->index] = 0;
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
        SnmpAgent* agent = Agent(sender, false);
        if (!agent)
            return;
        Deliver(agent, b.oid.bytes, b.oid.length, 0, &b.value, nullptr, generation);
        if (generation != generation_)
            return;
    }
}
