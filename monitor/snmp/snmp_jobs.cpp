#include "monitor/snmp/snmp_jobs.h"

#include "common/clock.h"
#include "monitor/snmp/snmp_ber.h"
#include "monitor/snmp/snmp_engine.h"

#include <vector>

std::unique_ptr<UdpSocket> SnmpOpenJobSocket()
{
    auto socket = std::make_unique<UdpSocket>();
    if (!socket->Open() || !socket->Bind(0, 0))
        return nullptr;
    return socket;
}

namespace {
// Sends `request` and waits up to `waitMs` for a datagram from the device that decodes (and, when
// `matchId` is set, is a GetResponse with the request's id). Other datagrams are passed over. A request
// that does not fit its buffer, or an answer from the agent larger than the receive size, ends the
// exchange at once and is told in `fault`.
bool Exchange(UdpSocket* socket, uint32_t address, uint16_t port, const SnmpMessage& request, uint32_t waitMs,
    Clock& clock, bool matchId, SnmpMessage* answer, SnmpJobFault* fault = nullptr)
{
    uint8_t out[kSnmpRequestBuffer];
    size_t size = SnmpEncodeMessage(request, out, sizeof out);
    if (size == 0) {
        if (fault)
            fault->requestTooLarge = true;
        return false;
    }
    NetAddress to { SnmpAddressToHost(address), port };
    socket->SendTo(out, size, to);
    uint32_t started = clock.TickMs();
    // Datagrams are taken whole, so that an answer beyond the receive size is told by its size.
    std::vector<uint8_t> in(65536);
    for (;;) {
        uint32_t elapsed = clock.TickMs() - started;
        if (elapsed >= waitMs)
            return false;
        if (socket->WaitReadable(waitMs - elapsed) <= 0)
            continue;
        NetAddress from;
        int n = socket->ReceiveFrom(in.data(), in.size(), &from);
        if (n <= 0 || from != to) // only the agent's own address and port answer
            continue;
        if (static_cast<size_t>(n) > kSnmpReceiveBuffer) {
            if (fault) {
                fault->answerTooLarge = static_cast<size_t>(n);
                return false;
            }
            continue;
        }
        if (SnmpDecodeMessage(in.data(), static_cast<size_t>(n), answer) != kSnmpDecodeOk)
            continue;
        if (!matchId)
            return true;
        if (answer->pdu == kPduResponse && answer->requestId == request.requestId)
            return true;
    }
}

constexpr int kJobAttempts = 10;
} // namespace

void SnmpWalkJob(SnmpWalkParams* p)
{
    if (p->start)
        p->start(p->context, p->startArgument);
    Clock& clock = p->clock ? *p->clock : SystemClock();
    std::vector<SnmpOid> next(p->columnCount);
    for (uint32_t i = 0; i < p->columnCount; ++i) {
        SnmpOid oid = p->oidTable[p->entry];
        SnmpOidAppendIndex(&oid, SnmpValue::Integer(p->columns[i].column));
        p->columns[i].prefix = oid;
        next[i] = oid;
    }
    SnmpMessage request;
    request.pdu = kPduGetNext;
    request.community = p->community.empty() ? std::string("public") : p->community;
    // The step number counts from a value no stranger can guess.
    uint32_t step = SnmpRandomRequestId() & 0x7FFFFFFFu;
    p->answers = 0;
    bool walking = p->columnCount > 0 && p->socket;
    for (int attempt = 0; walking && attempt < kJobAttempts; ++attempt) {
        request.requestId = step;
        request.bindings.assign(p->columnCount, SnmpBinding());
        for (uint32_t i = 0; i < p->columnCount; ++i)
            request.bindings[i].oid = next[i];
        SnmpMessage answer;
        if (!Exchange(p->socket, p->address, p->port, request, p->waitMs, clock, true, &answer))
            continue;
        attempt = 0; // every later step has its own attempts (the loop adds one)
        ++step;
        ++p->answers;
        // Bindings beyond the columns are dropped; every column needs its own binding within its prefix.
        if (answer.errorStatus != 0 || answer.bindings.size() < p->columnCount)
            break;
        bool inside = true;
        for (uint32_t i = 0; i < p->columnCount; ++i) {
            if (!SnmpOidStartsWith(answer.bindings[i].oid, p->columns[i].prefix))
                inside = false;
            else if (SnmpOidCompare(answer.bindings[i].oid, next[i]) <= 0)
                p->notIncreasing = 1;
        }
        if (!inside || p->notIncreasing)
            break;
        for (uint32_t i = 0; i < p->columnCount; ++i) {
            const SnmpBinding& b = answer.bindings[i];
            next[i] = b.oid;
            p->columns[i].oid = b.oid;
            p->columns[i].kind = b.value.kind;
            p->columns[i].text = SnmpValueText(b.value);
            if (p->columns[i].text.size() > kSnmpMaxText)
                p->columns[i].text.resize(kSnmpMaxText);
        }
        if (p->row)
            p->row(p->rowContext, p->columns, p->columnCount);
    }
    if (p->finish)
        p->finish(p->context, p->finishArgument);
}

void SnmpSetJob(SnmpSetParams* p)
{
    if (p->start)
        p->start(p->context, p->startArgument);
    Clock& clock = p->clock ? *p->clock : SystemClock();
    int result = 0;
    SnmpMessage request;
    request.pdu = kPduSet;
    request.requestId = SnmpRandomRequestId() & 0x7FFFFFFFu;
    request.community = p->community;
    SnmpBinding b;
    b.oid = p->oidTable[p->entry];
    b.tag = kBerOctetString;
    b.value = SnmpValue::String("");
    request.bindings.push_back(b);
    for (int attempt = 0; p->socket && attempt < kJobAttempts; ++attempt) {
        SnmpMessage answer;
        if (!Exchange(p->socket, p->address, p->port, request, p->waitMs, clock, true, &answer))
            continue;
        result = answer.pdu == kPduResponse && answer.errorStatus == 0 ? 1 : 0;
        break;
    }
    if (p->result)
        *p->result = result;
    if (p->finish)
        p->finish(p->context, p->finishArgument);
}

int SnmpRequestJob(UdpSocket* socket, uint32_t address, uint16_t port, const std::string& community, uint8_t pdu,
    const std::vector<SnmpBinding>& bindings, uint32_t waitMs, SnmpMessage* answer, SnmpJobFault* fault)
{
    SnmpMessage request;
    request.pdu = pdu;
    request.community = community.empty() ? std::string("public") : community;
    request.requestId = SnmpRandomRequestId() & 0x7FFFFFFFu;
    request.bindings = bindings;
    SnmpJobFault seen;
    for (int attempt = 0; socket && attempt < kJobAttempts; ++attempt) {
        if (Exchange(socket, address, port, request, waitMs, SystemClock(), true, answer, &seen))
            return 1;
        if (seen.requestTooLarge || seen.answerTooLarge)
            break; // another attempt would meet the same
    }
    if (fault)
        *fault = seen;
    return 0;
}

int SnmpGetNextJob(UdpSocket* socket, uint32_t address, uint16_t port, const std::string& community,
    const std::vector<SnmpOid>& oids, uint32_t waitMs, SnmpMessage* answer)
{
    std::vector<SnmpBinding> bindings(oids.size());
    for (size_t i = 0; i < oids.size(); ++i)
        bindings[i].oid = oids[i];
    return SnmpRequestJob(socket, address, port, community, kPduGetNext, bindings, waitMs, answer);
}

SnmpSubtreeEnd SnmpWalkSubtree(UdpSocket* socket, uint32_t address, uint16_t port, const std::string& community,
    const std::vector<uint32_t>& prefix, uint32_t waitMs, SnmpSubtreeRow row, void* context, uint32_t* status,
    SnmpOid* last)
{
    // The prefix as an OID: a single arc starts at its first object (x.0); the prefix test compares arcs,
    // since the first two arcs share one subidentifier.
    SnmpOid start;
    if (prefix.empty() || prefix[0] > 2 || (prefix.size() > 1 && prefix[0] < 2 && prefix[1] >= 40))
        return kSnmpSubtreeDone;
    SnmpOidAppend(&start, prefix[0] * 40 + (prefix.size() > 1 ? prefix[1] : 0));
    for (size_t i = 2; i < prefix.size(); ++i)
        SnmpOidAppend(&start, prefix[i]);
    std::vector<SnmpBinding> ask(1);
    ask[0].oid = start;
    for (;;) {
        *last = ask[0].oid;
        SnmpMessage answer;
        if (!SnmpRequestJob(socket, address, port, community, kPduGetNext, ask, waitMs, &answer))
            return kSnmpSubtreeNoAnswer;
        if (answer.errorStatus == kSnmpNoSuchName)
            return kSnmpSubtreeDone;
        if (answer.errorStatus != 0) {
            *status = answer.errorStatus;
            return kSnmpSubtreeErrorStatus;
        }
        if (answer.bindings.size() != 1)
            return kSnmpSubtreeBadAnswer;
        const SnmpBinding& b = answer.bindings[0];
        if (!SnmpOidHasArcs(b.oid, prefix))
            return kSnmpSubtreeDone;
        if (SnmpOidCompare(b.oid, ask[0].oid) <= 0)
            return kSnmpSubtreeNotIncreasing;
        row(context, b);
        ask[0].oid = b.oid;
    }
}
