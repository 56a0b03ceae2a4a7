// The SNMP engine's scheduling core, free of sockets and clocks: it takes received datagrams and 100-ms
// ticks and hands the datagrams it wants sent to a send function. The worker in snmp_client.cpp plugs
// a socket and a clock into it; the tests drive it by hand in simulated time.
//
// Not thread-safe by itself: the client holds its re-entrant lock around every call, and callbacks run
// inside the calls (they may call back into the engine).
#pragma once

#include "monitor/snmp/snmp_ber.h"
#include "monitor/snmp/snmp_types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// A subscriber or completion callback: callback(context, status). Status 0 value delivered, 2 and above
// the error status the device reported for this OID, 1 tooBig for a request that was already sent
// alone, -1 the device did not answer.
using SnmpCallback = void (*)(void* context, int status);

// A received trap as the trap observer sees it (sender in network byte order).
struct SnmpTrapInfo {
    uint32_t sender = 0;
    const SnmpMessage* message = nullptr;
};
using SnmpTrapObserver = void (*)(void* context, const SnmpTrapInfo& trap);

constexpr uint32_t kSnmpMaxSubscribers = 256;
constexpr uint32_t kSnmpBatchMax = 32; // gets merged into one GetRequest
constexpr size_t kSnmpRequestBuffer = 1024; // a request is built in a buffer of this size
constexpr size_t kSnmpReceiveBuffer = 2048;
constexpr uint32_t kSnmpTickMs = 100;
constexpr uint32_t kSnmpRetransmitTicks[7] = { 0, 10, 25, 50, 100, 150, 200 };

struct SnmpSubscriber {
    SnmpCallback callback = nullptr;
    void* context = nullptr;
};

// A node's subscribers in the order they subscribed. The first lives in the node itself (a polled object
// mostly has one, and a delivery then reads no second allocation); the others follow in a vector.
class SnmpSubscriberList {
public:
    size_t size() const
    {
        return count_;
    }
    bool empty() const
    {
        return count_ == 0;
    }
    SnmpSubscriber& operator[](size_t i)
    {
        return i == 0 ? first_ : rest_[i - 1];
    }
    const SnmpSubscriber& operator[](size_t i) const
    {
        return i == 0 ? first_ : rest_[i - 1];
    }
    void push_back(const SnmpSubscriber& s)
    {
        if (count_ == 0)
            first_ = s;
        else
            rest_.push_back(s);
        ++count_;
    }
    // Removes the i-th; those after it move up one place.
    void erase(size_t i)
    {
        if (i == 0) {
            if (!rest_.empty()) {
                first_ = rest_.front();
                rest_.erase(rest_.begin());
            }
        } else {
            rest_.erase(rest_.begin() + static_cast<std::ptrdiff_t>(i - 1));
        }
        --count_;
    }

private:
    SnmpSubscriber first_;
    uint32_t count_ = 0;
    std::vector<SnmpSubscriber> rest_; // the second and later
};

// One node of an agent's OID tree: a trie over subidentifiers, children with the newest in front. The
// poll countdown and the subscribers lead (a re-armed poll touches only these), the value follows. (Nodes
// aligned to cache lines measured no faster: the allocator then spread them over more pages.)
struct SnmpNode {
    // The poll countdown, kept as the tick number at which it runs out: the countdown is due - the
    // engine's tick number, and no poll is armed once that tick has passed (or due is 0). Ticks then cost
    // nothing for devices with no poll due.
    uint64_t due = 0;
    uint32_t slot = 0; // position in the agent's pre-order list
    uint32_t subidentifier = 0; // the first level holds the combined first two arcs
    SnmpSubscriberList subscribers; // at most kSnmpMaxSubscribers
    SnmpValue value; // last value received
    std::unique_ptr<SnmpNode> firstChild;
    std::unique_ptr<SnmpNode> next; // next sibling
};

// An agent's nodes by their encoded OID: open addressing (linear probing) over a power-of-two table at
// most half full. A slot holds the OID's hash, its bytes when they fit (most polled OIDs are 8 to 18
// bytes) and the node, so that finding a node costs one look into the table. (A node-based map cost a
// division and a cache miss per step along its bucket chain: with a thousand devices polled once a
// second the monitor's re-armed polls and cached-value reads spent a third of their time there.)
class SnmpNodeIndex {
public:
    SnmpNode* Find(const uint8_t* oid, uint32_t length) const;
    void Insert(const uint8_t* oid, uint32_t length, SnmpNode* node); // one not yet there
    void Clear();
    size_t Size() const
    {
        return count_;
    }

private:
    static constexpr uint32_t kInline = 18;
    struct Slot {
        SnmpNode* node; // null: free
        uint32_t hash;
        uint16_t length;
        uint8_t bytes[kInline]; // the OID's bytes, or (longer ones) the place of its bytes in long_
    };
    static uint32_t Hash(const uint8_t* oid, uint32_t length);
    bool Matches(const Slot& slot, uint32_t hash, const uint8_t* oid, uint32_t length) const;
    void Place(const Slot& slot);
    std::vector<Slot> slots_;
    std::vector<std::string> long_; // bytes of OIDs longer than kInline
    size_t count_ = 0;
};

// Request kinds, as kept in a request and in bits 24-31 of an agent's request id.
enum : uint8_t {
    kSnmpRequestGet = 0,
    kSnmpRequestSet = 2,
};

// What a queued set carries besides its OID: the value and the completion callback.
struct SnmpSetPart {
    SnmpValue value;
    SnmpCallback callback = nullptr;
    void* context = nullptr;
};

// A queued request. Its OID's bytes live in the agent's `queueOids`, in queue order, so that a queue of
// gets stays a few cache lines long (records of a full 256-byte OID each made every poll a string of
// cache misses once a few thousand devices no longer fit the cache); what only sets carry lies apart.
struct SnmpRequest {
    uint8_t kind = kSnmpRequestGet;
    bool done = false;
    bool alone = false; // the device answered tooBig: send this request by itself
    bool inFlight = false; // part of the request outstanding now
    uint32_t oidOffset = 0; // where the OID's bytes begin in the agent's queueOids
    uint32_t oidLength = 0;
    uint64_t serial = 0; // identifies the request while callbacks change the queue
    SnmpNode* node = nullptr; // the polled node, valid while the agent's tree version is `treeVersion`
    uint64_t treeVersion = 0;
    std::unique_ptr<SnmpSetPart> set; // sets only (gets, by the thousand, carry none)
};

// (The fields a tick and an answer touch come first, within the first cache lines of the record: with
// thousands of devices each visit of an agent begins with a cache miss, and each further line is another.)
struct alignas(64) SnmpAgent {
    uint32_t address = 0; // network byte order; the key
    uint32_t requestId = 0; // bits 24-31: kind of the request last sent; bits 0-23: counter
    uint32_t tickCounter = 0; // ticks since the first send of the outstanding request (0 = none)
    uint32_t sendCounter = 0; // sends of the outstanding request
    uint32_t latencyClass = 0; // 0, 1 or 2
    uint32_t index = 0; // the agent's place in the engine's flat per-agent arrays
    bool preorderStale = true;
    size_t doneCount = 0; // requests of the queue marked done
    uint64_t treeVersion = 0; // grows whenever a node of the tree is freed
    std::vector<SnmpRequest> queue; // in order of arrival
    std::vector<uint8_t> queueOids; // the OIDs of the queued requests, one after the other in queue order
    // Scheduling aids: the tree's nodes in pre-order with their full OIDs (rebuilt after the tree changes;
    // the OIDs' bytes one after the other in preorderOids).
    struct Entry {
        SnmpNode* node;
        uint32_t oidOffset;
        uint32_t oidLength;
    };
    std::vector<Entry> preorder;
    std::vector<uint64_t> preorderDue; // node->due of each entry, kept in step while the list is current
    std::vector<uint8_t> preorderOids;
    std::string readCommunity; // at most 255 characters
    std::string writeCommunity;
    std::unique_ptr<SnmpNode> root; // holds the first-level nodes as its children
    // Nodes by their encoded OID, so that answers, re-armed polls and cached-value reads skip the walk
    // down the tree.
    SnmpNodeIndex nodeIndex;
};

class SnmpEngine {
public:
    using SendFn = std::function<void(uint32_t address, const uint8_t* data, size_t size)>;
    explicit SnmpEngine(SendFn send);
    ~SnmpEngine();

    // One scheduler tick (100 ms): arm due polls, send or retransmit, give up.
    void Tick();
    // One received datagram from `sender` (network byte order).
    // `fromAgentPort`: the datagram came from the port requests go to; only such datagrams can be
    // answers (traps come from any port).
    void Receive(uint32_t sender, const uint8_t* data, size_t size, bool fromAgentPort = true);
    // A datagram of `whole` bytes of which only the first `size` were received (it was larger than the
    // receive buffer). An answer to the agent's outstanding request is taken as tooBig at once: the
    // requests it answered go alone from then on, and one that already went alone fails with status 1.
    void ReceiveCut(uint32_t sender, const uint8_t* data, size_t size, size_t whole, bool fromAgentPort = true);

    int Subscribe(const SnmpOid& oid, uint32_t address, const char* readCommunity, uint32_t intervalMs, void* context,
        SnmpCallback callback);
    int Unsubscribe(const SnmpOid& oid, uint32_t address, void* context);
    int QueueSet(const SnmpOid& oid, uint32_t address, const char* writeCommunity, const SnmpValue& value,
        void* context, SnmpCallback callback, int defaultFlag);
    int CancelSets(uint32_t address);
    void ClearAll();
    int GetCached(const SnmpOid& oid, uint32_t address, SnmpValue* out) const;
    // Sees every trap received (any generic and specific number) before the engine handles it.
    void SetTrapObserver(SnmpTrapObserver observer, void* context);

    // Asks for the agent's record ahead of its datagram (the worker calls it for the next datagram of a
    // batch while the engine handles one): with thousands of agents each record is a cache miss.
    void Prefetch(uint32_t sender) const;

    // For tests and diagnostics.
    const SnmpAgent* FindAgent(uint32_t address) const;
    size_t AgentCount() const
    {
        return agents_.size();
    }
    // Ticks left until the node's poll (0 = none armed).
    uint32_t Countdown(const SnmpNode& node) const
    {
        return node.due > tickNumber_ ? static_cast<uint32_t>(node.due - tickNumber_) : 0;
    }

private:
    SnmpAgent* Agent(uint32_t address, bool create);
    // Appends a request for `oid` to the agent's queue; removes the requests `drop` picks.
    SnmpRequest& Enqueue(SnmpAgent& agent, const uint8_t* oid, uint32_t oidLength);
    template<class Pred> void RemoveRequests(SnmpAgent& agent, Pred drop);
    SnmpNode* Node(SnmpAgent* agent, const uint8_t* oid, uint32_t oidLength, bool create) const;
    SnmpNode* Node(SnmpAgent* agent, const SnmpOid& oid, bool create) const
    {
        return Node(agent, oid.bytes, oid.length, create);
    }
    void TickAgent(size_t index, uint64_t generation);
    void Send(SnmpAgent& agent);
    // These take the agent itself: it stays valid while the engine's generation is the one passed (only
    // ClearAll frees agents), which they check after every callback.
    void GiveUp(SnmpAgent* agent, uint64_t generation);
    // A request done: its callback, then delivery to the node's subscribers. `binding`: the answer's
    // binding for it (its OID and value read in place), or null (no value).
    void Finish(SnmpAgent* agent, uint64_t serial, size_t hint, int status, const SnmpBindingView* binding,
        uint64_t generation);
    // A value (or none) for the node of `oid` to its subscribers: `value` decoded, or `binding` read in
    // place, or neither (the value is cleared).
    void Deliver(SnmpAgent* agent, const uint8_t* oid, uint32_t oidLength, int status, const SnmpValue* value,
        const SnmpBindingView* binding, uint64_t generation, SnmpNode* hint = nullptr, uint64_t hintVersion = 0);
    void DispatchResponse(uint32_t sender, const SnmpMessage& header);
    void DispatchTrap(uint32_t sender, const SnmpMessage& m);

    // The agent's place in agents_, or UINT32_MAX.
    uint32_t IndexOf(uint32_t address) const;
    void AddToIndex(uint32_t address, uint32_t index);

    SendFn send_;
    std::vector<std::unique_ptr<SnmpAgent>> agents_;
    // Agents by address: open addressing (linear probing) over a power-of-two table at most half full.
    // Finding the agent of an answer costs one look into a table of a few kilobytes; a node-based map
    // cost a cache miss per step along its bucket chains once there were a thousand agents.
    struct AddressSlot {
        uint32_t address;
        uint32_t number; // the agent's index + 1; 0: empty
    };
    std::vector<AddressSlot> addressTable_;
    uint64_t generation_ = 0; // grows with every ClearAll: callbacks may free everything
    uint64_t treeChanges_ = 0; // grows whenever a subscriber or node is removed
    uint64_t serial_ = 0;
    uint64_t tickNumber_ = 0; // ticks run so far
    // Per agent (by its index), so that a tick skips idle agents without touching them: the earliest tick
    // a poll may be due, and whether its queue may hold requests.
    std::vector<uint64_t> agentDue_;
    std::vector<uint8_t> agentQueued_;
    SnmpTrapObserver trapObserver_ = nullptr;
    void* trapContext_ = nullptr;
    SnmpMessage scratch_; // decoded datagram (the header; the bindings of traps only), reused
    std::vector<SnmpBindingView> views_; // its bindings, where they lie in the datagram
    SnmpMessage request_; // request being built, reused
    // The node being delivered: subscribers re-arm their poll and read the value from inside the callback,
    // which then finds agent and node without a search. Set only while Deliver calls the subscribers
    // (`oid` points at the OID's bytes in the datagram, or at Finish's copy of them).
    struct Recent {
        uint32_t address = 0;
        SnmpAgent* agent = nullptr;
        SnmpNode* node = nullptr;
        uint64_t treeVersion = 0;
        uint64_t generation = 0;
        const uint8_t* oid = nullptr;
        uint32_t oidLength = 0;
    };
    mutable Recent recent_;
    // What each binding of an answer completes, worked out before any callback runs.
    struct Outcome {
        uint64_t serial;
        int status;
        size_t binding; // in views_; SIZE_MAX: no value
        size_t index; // where the request stood in the queue
    };
    std::vector<Outcome> outcomes_;
};
