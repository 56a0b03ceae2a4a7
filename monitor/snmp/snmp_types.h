// The monitor's SNMP values and object identifiers, shared by the engine, the monitor engine and the
// table views.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum SnmpKind : uint32_t {
    kSnmpNone = 0,
    kSnmpInteger = 1,
    kSnmpIpAddress = 2,
    kSnmpString = 3,
};

// A typed value. Copying duplicates the text; Clear() makes it none and releases the text.
struct SnmpValue {
    SnmpKind kind = kSnmpNone;
    uint32_t integer = 0; // kind integer: the number (signed numbers as their two's complement)
    uint32_t address = 0; // kind ipAddress: IPv4 address in network byte order
    std::string text; // kind string: at most kSnmpMaxText characters
    uint8_t tag = 0; // kind integer: the type the answer carried (INTEGER, Counter, Gauge, TimeTicks); 0 unknown

    void Clear()
    {
        kind = kSnmpNone;
        integer = 0;
        address = 0;
        tag = 0;
        text.clear();
        text.shrink_to_fit();
    }
    static SnmpValue Integer(uint32_t n)
    {
        SnmpValue v;
        v.kind = kSnmpInteger;
        v.integer = n;
        return v;
    }
    static SnmpValue Address(uint32_t networkOrder)
    {
        SnmpValue v;
        v.kind = kSnmpIpAddress;
        v.address = networkOrder;
        return v;
    }
    static SnmpValue String(std::string s);
};

constexpr size_t kSnmpMaxText = 255; // received communities and string values
constexpr size_t kSnmpMaxOid = 256; // bytes of an encoded OID

// An object identifier in encoded form: the BER content of an OBJECT IDENTIFIER (the first
// subidentifier is 40 x first arc + second arc).
// Only the first `length` bytes are meaningful (the rest is left uninitialised: OIDs are copied and
// built by the million while polling).
struct SnmpOid {
    uint32_t length = 0;
    uint8_t bytes[kSnmpMaxOid];
};

bool SnmpOidEqual(const SnmpOid& a, const SnmpOid& b);
// The BER content of an OID as a peer may send it is taken only when it is well formed: at least one
// byte, no subidentifier above 2^32 - 1 or with a leading 0x80 byte, the last byte with bit 7 clear.
bool SnmpOidWellFormed(const uint8_t* bytes, size_t length);
// Orders two well-formed OIDs by their subidentifiers (a prefix comes first): <0, 0, >0.
int SnmpOidCompare(const SnmpOid& a, const SnmpOid& b);
// True when `oid`, read as arcs (the first subidentifier gives two), begins with the arcs of `prefix`.
bool SnmpOidHasArcs(const SnmpOid& oid, const std::vector<uint32_t>& prefix);
// True when `oid` begins with all the subidentifiers of `prefix`.
bool SnmpOidStartsWith(const SnmpOid& oid, const SnmpOid& prefix);

// Dotted text to OID: "1.3.6.1.2.1.1.5.0" gives 2B 06 01 02 01 01 05 00. A component of digits is one
// subidentifier; any other component adds one subidentifier per character (its code). Reading ends at
// the end of the text or at the first character after a component that is not a dot. Returns 1, or 0
// when the text names no subidentifier or does not fit 256 bytes.
int SnmpOidFromText(const char* text, SnmpOid* out);
// OID to dotted text. Returns the text's length, 0 when a subidentifier is cut off (or the OID is empty).
int SnmpOidToText(const SnmpOid& oid, std::string* out);
std::string SnmpOidText(const SnmpOid& oid); // convenience: the text, or "" on failure
// Appends an integer value as one more subidentifier; other kinds leave the OID unchanged.
void SnmpOidAppendIndex(SnmpOid* oid, const SnmpValue& value);
// Appends one subidentifier. Returns 0 (OID unchanged) when it does not fit.
int SnmpOidAppend(SnmpOid* oid, uint32_t subidentifier);

// A request id no stranger can predict (the engine's counters and the jobs start there).
uint32_t SnmpRandomRequestId();

// IPv4 addresses: the engine keeps them in network byte order, the sockets in host order.
uint32_t SnmpAddressFromHost(uint32_t hostOrder);
uint32_t SnmpAddressToHost(uint32_t networkOrder);
// "a.b.c.d" of a network-order address.
std::string SnmpAddressText(uint32_t networkOrder);
// The text form used for values everywhere (walk columns, detection): "%lu", dotted, the text, "".
std::string SnmpValueText(const SnmpValue& value);
