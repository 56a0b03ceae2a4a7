// The SNMPv1 message decoder and the engine's dispatch on arbitrary datagrams: every decoded text and OID
// stays within its size, a decoded message re-encodes to a form that survives decode and encode
// unchanged, bindings read in place lie within the datagram, and the engine takes any datagram as an
// answer or a trap without harm. Every decoded binding prints (SnmpBindingText) and its OID is well
// formed and orders consistently against the others.
#include "fuzz/fuzz_check.h"
#include "monitor/snmp/snmp_ber.h"
#include "monitor/snmp/snmp_engine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void CheckSizes(const SnmpMessage& m)
{
    Check(m.community.size() <= kSnmpMaxText);
    Check(m.enterprise.length <= kSnmpMaxOid);
    for (const SnmpBinding& b : m.bindings) {
        Check(b.oid.length <= kSnmpMaxOid);
        Check(b.value.text.size() <= kSnmpMaxText);
        Check(b.value.kind <= kSnmpString);
    }
}

std::vector<uint8_t> Encode(const SnmpMessage& m)
{
    std::vector<uint8_t> out(SnmpEncodedSize(m));
    size_t n = SnmpEncodeMessage(m, out.data(), out.size());
    Check(n == out.size());
    return out;
}

int Callbacks = 0;
void Count(void*, int)
{
    ++Callbacks;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SnmpMessage m;
    SnmpDecodeResult r = SnmpDecodeMessage(data, size, &m);
    // Read in place (as the engine reads answers), every binding lies within the datagram.
    SnmpMessage header;
    std::vector<SnmpBindingView> views;
    Check(SnmpDecodeInPlace(data, size, &header, &views) == r);
    Check(r == kSnmpDecodeOk ? views.size() == m.bindings.size() : views.empty());
    for (const SnmpBindingView& v : views) {
        Check(v.oid >= data && v.oidLength <= kSnmpMaxOid && v.oidLength <= size - (v.oid - data));
        Check(v.content >= data && v.contentLength <= size - (v.content - data));
    }
    if (r == kSnmpDecodeOk) {
        CheckSizes(m);
        // Value printing takes every decoded binding; OIDs order consistently.
        for (const SnmpBinding& b : m.bindings) {
            std::string text = SnmpBindingText(b);
            Check(!text.empty());
            Check(b.oid.length > 0 && SnmpOidWellFormed(b.oid.bytes, b.oid.length));
            Check(!SnmpOidText(b.oid).empty());
            Check(SnmpOidCompare(b.oid, b.oid) == 0);
        }
        for (size_t i = 1; i < m.bindings.size(); ++i)
            Check(SnmpOidCompare(m.bindings[i - 1].oid, m.bindings[i].oid)
                == -SnmpOidCompare(m.bindings[i].oid, m.bindings[i - 1].oid));
        std::vector<uint8_t> first = Encode(m);
        SnmpMessage again;
        Check(SnmpDecodeMessage(first.data(), first.size(), &again) == kSnmpDecodeOk);
        CheckSizes(again);
        Check(again.bindings.size() == m.bindings.size());
        Check(Encode(again) == first);
    }

    // The engine with one subscribed device takes the datagram from that device.
    static SnmpEngine engine([](uint32_t, const uint8_t* d, size_t n) {
        SnmpMessage sent;
        Check(n <= kSnmpRequestBuffer && SnmpDecodeMessage(d, n, &sent) == kSnmpDecodeOk);
    });
    const uint32_t device = SnmpAddressFromHost(0x7F000001);
    if (engine.AgentCount() == 0 || size % 7 == 0) {
        engine.ClearAll();
        SnmpOid oid;
        SnmpOidFromText("1.3.6.1.2.1.1.5.0", &oid);
        engine.Subscribe(oid, device, "public", 100, &Callbacks, Count);
        if (r == kSnmpDecodeOk)
            for (const SnmpBinding& b : m.bindings)
                engine.Subscribe(b.oid, device, "public", 100, &Callbacks, Count);
        engine.Tick();
    }
    engine.Receive(device, data, size);
    return 0;
}
