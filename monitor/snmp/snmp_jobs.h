// The blocking jobs of the table views: a table walk and a single set, each on a thread of its own with
// its own socket (SnmpOpenJobSocket), without the client's lock. The caller keeps the parameter record
// alive until the finish callback has run.
#pragma once

#include "common/platform/net.h"
#include "monitor/snmp/snmp_types.h"

#include <memory>
#include <string>
#include <vector>

class Clock;

// A second UDP socket on an ephemeral port, or null.
std::unique_ptr<UdpSocket> SnmpOpenJobSocket();

using SnmpJobCallback = void (*)(void* context, void* argument);

// One column of a walk: the column number as input; the binding's text, OID and value kind as output
// (the text at most 255 characters: "%lu" for integers, dotted for addresses, the text, empty for none).
struct SnmpWalkColumn {
    uint32_t column = 0;
    std::string text;
    SnmpOid oid;
    SnmpKind kind = kSnmpNone;
    SnmpOid prefix; // the table's OID with the column appended; set by the walk
};
using SnmpRowCallback = void (*)(void* rowContext, SnmpWalkColumn* columns, uint32_t count);

struct SnmpWalkParams {
    void* context = nullptr; // for the start and finish callbacks
    void* rowContext = nullptr;
    UdpSocket* socket = nullptr;
    uint32_t address = 0; // network byte order
    std::string community; // as the user entered it; "public" when empty
    const SnmpOid* oidTable = nullptr; // the device's OID table
    uint32_t entry = 0; // the entry that names the table
    SnmpWalkColumn* columns = nullptr;
    uint32_t columnCount = 0;
    SnmpJobCallback start = nullptr;
    void* startArgument = nullptr;
    SnmpJobCallback finish = nullptr;
    void* finishArgument = nullptr;
    SnmpRowCallback row = nullptr;
    uint16_t port = 161; // only tests and the command-line tools change it
    uint32_t waitMs = 1000; // per attempt
    Clock* clock = nullptr; // null = the system clock
    uint32_t answers = 0; // output: answers accepted (0: the device never answered)
    // Output: 1 when the walk ended because a column's answer did not lie after the OID asked (an agent
    // that answers GetNext so would be walked for ever).
    int notIncreasing = 0;
};

// Walks the table: GetNextRequests of all columns, a row per answer, until a column leaves its prefix,
// an error answers, or 10 attempts of one step go unanswered.
void SnmpWalkJob(SnmpWalkParams* params);

struct SnmpSetParams {
    void* context = nullptr;
    UdpSocket* socket = nullptr;
    int* result = nullptr; // 1 when the device answered with error status 0, else 0
    uint32_t address = 0;
    std::string community; // exactly as entered
    const SnmpOid* oidTable = nullptr;
    uint32_t entry = 0;
    SnmpJobCallback start = nullptr;
    void* startArgument = nullptr;
    SnmpJobCallback finish = nullptr;
    void* finishArgument = nullptr;
    uint16_t port = 161;
    uint32_t waitMs = 1000;
    Clock* clock = nullptr;
};

// Sets the entry's object to the empty string (how a device is told to clear a table).
void SnmpSetJob(SnmpSetParams* params);

// One request (`pdu` get, getnext or set) with `bindings` on a job socket, with the jobs' 10 attempts of
// `waitMs` each: the command line's get, getnext and set. Only a GetResponse from the agent's address
// and port with the request's id is taken. Fills `answer`. 1 when an answer came, else 0.
struct SnmpMessage;
struct SnmpBinding;
// Why a request job ended without an answer, when it was not silence: the request does not fit its
// 1024-byte buffer (nothing is sent), or the agent answered with a datagram larger than the 2048 bytes
// an answer is read into (its size; no further attempt is made).
struct SnmpJobFault {
    bool requestTooLarge = false;
    size_t answerTooLarge = 0;
};
int SnmpRequestJob(UdpSocket* socket, uint32_t address, uint16_t port, const std::string& community, uint8_t pdu,
    const std::vector<SnmpBinding>& bindings, uint32_t waitMs, SnmpMessage* answer, SnmpJobFault* fault = nullptr);
int SnmpGetNextJob(UdpSocket* socket, uint32_t address, uint16_t port, const std::string& community,
    const std::vector<SnmpOid>& oids, uint32_t waitMs, SnmpMessage* answer);

// How a subtree walk ended.
enum SnmpSubtreeEnd {
    kSnmpSubtreeDone = 0, // the agent answered past the subtree, or noSuchName (the end of its MIB)
    kSnmpSubtreeNoAnswer = 1, // a step went unanswered through all its attempts
    kSnmpSubtreeErrorStatus = 2, // an error status other than noSuchName (in `status`)
    kSnmpSubtreeNotIncreasing = 3, // an answer's OID did not lie after the OID asked
    kSnmpSubtreeBadAnswer = 4, // an answer without exactly one binding
};
// Walks every object whose OID begins with the arcs `prefix` (at least one; "1" walks all of 1.x):
// GetNextRequests from the prefix on, `row` called with each binding, until the agent answers past the
// subtree. `status` receives the error status of kSnmpSubtreeErrorStatus, `last` the last OID asked.
using SnmpSubtreeRow = void (*)(void* context, const SnmpBinding& binding);
SnmpSubtreeEnd SnmpWalkSubtree(UdpSocket* socket, uint32_t address, uint16_t port, const std::string& community,
    const std::vector<uint32_t>& prefix, uint32_t waitMs, SnmpSubtreeRow row, void* context, uint32_t* status,
    SnmpOid* last);
