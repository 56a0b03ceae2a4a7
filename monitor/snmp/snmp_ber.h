// SNMPv1 messages in BER: the encoder and the decoder shared by the monitor's engine, its jobs and the
// device simulator's agent. Only the subset of BER that SNMPv1 needs.
#pragma once

#include "monitor/snmp/snmp_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// BER tags used on the wire.
enum : uint8_t {
    kBerInteger = 0x02,
    kBerOctetString = 0x04,
    kBerNull = 0x05,
    kBerOid = 0x06,
    kBerSequence = 0x30,
    kBerIpAddress = 0x40,
    kBerCounter = 0x41,
    kBerGauge = 0x42,
    kBerTimeTicks = 0x43,
    kBerOpaque = 0x44,
};

// PDU kinds: the low five bits of the PDU tag (0xA0 + kind).
enum SnmpPduKind : uint8_t {
    kPduGet = 0,
    kPduGetNext = 1,
    kPduResponse = 2,
    kPduSet = 3,
    kPduTrap = 4,
};

// SNMPv1 error statuses.
enum : uint32_t {
    kSnmpNoError = 0,
    kSnmpTooBig = 1,
    kSnmpNoSuchName = 2,
    kSnmpBadValue = 3,
    kSnmpReadOnly = 4,
    kSnmpGenErr = 5,
};

// One variable binding. `tag` is the value's wire tag; `value` its decoded form:
//   NULL -> none; INTEGER -> integer (sign-extended); Counter, Gauge, TimeTicks -> integer (unsigned);
//   OCTET STRING, Opaque -> string; OBJECT IDENTIFIER -> string, its dotted text; IpAddress -> ipAddress.
// When encoding, the tag chooses the wire type and `value` gives the content (an OBJECT IDENTIFIER from
// its dotted text, an OCTET STRING from the text of any kind: SnmpEncodeSetValue gives the engine's rule).
struct SnmpBinding {
    SnmpBinding() { } // leaves the OID's unused bytes alone (no zeroing of the whole record)
    SnmpOid oid;
    uint8_t tag = kBerNull;
    SnmpValue value;
    std::string raw; // decoded bindings: the value's content bytes whole, as received (not encoded)
};

struct SnmpMessage {
    uint32_t version = 0;
    std::string community; // at most 255 characters
    uint8_t pdu = kPduGet; // SnmpPduKind
    uint32_t requestId = 0;
    uint32_t errorStatus = 0;
    uint32_t errorIndex = 0;
    // Trap only.
    SnmpOid enterprise;
    uint32_t agentAddress = 0; // network byte order
    uint32_t genericTrap = 0;
    uint32_t specificTrap = 0;
    uint32_t timeStamp = 0;
    std::vector<SnmpBinding> bindings;
    // False when a binding with an unknown value tag (or a malformed binding) ended the decoding; the
    // bindings before it are kept.
    bool complete = true;
};

// Decoder result.
enum SnmpDecodeResult {
    kSnmpDecodeOk = 0, // a message of a known PDU kind (bindings may be incomplete, see `complete`)
    kSnmpDecodeBad = 1, // not a valid SNMPv1 message: ignore it
    kSnmpDecodeOtherPdu = 2, // valid header, but a PDU this decoder does not read (skipped)
};

// Decodes one datagram. Requests (get, getnext, set), responses and traps are read; anything else is
// refused. Every element must lie within its enclosing length and every enclosing length be used up.
SnmpDecodeResult SnmpDecodeMessage(const uint8_t* data, size_t size, SnmpMessage* out);

// One binding as it lies in the datagram: the OID's content bytes and the value's tag and content bytes,
// pointing into the datagram (valid while it is).
struct SnmpBindingView {
    const uint8_t* oid;
    uint32_t oidLength;
    uint8_t tag;
    const uint8_t* content;
    uint32_t contentLength;
};
// Decodes one datagram as SnmpDecodeMessage does, with the same checks, but leaves the bindings where
// they lie: `out` gets every field but its bindings (left alone), `bindings` the bindings. The engine reads
// answers this way, matching their OIDs against its requests without copying them.
SnmpDecodeResult SnmpDecodeInPlace(
    const uint8_t* data, size_t size, SnmpMessage* out, std::vector<SnmpBindingView>* bindings);
// A binding read in place, decoded as SnmpDecodeMessage decodes it (a value's text keeps its capacity).
void SnmpViewValue(const SnmpBindingView& view, SnmpValue* out);
void SnmpBindingFromView(const SnmpBindingView& view, SnmpBinding* out);

// A decoded binding's value whole and with its own type, as administrators read it: "integer: -5",
// "string: text" (printable ASCII only), "hex: 00 0A FF" (an octet string with any other byte),
// "oid: 1.3.6.1", "ipaddress: 10.0.0.1", "counter: 7", "gauge: 7", "timeticks: (12345) 0:02:03.45",
// "opaque: 01 02", "null". Uses the raw content bytes of the binding.
std::string SnmpBindingText(const SnmpBinding& binding);

// Encodes a message into `buffer`. Returns the size, or 0 when it does not fit `capacity`.
size_t SnmpEncodeMessage(const SnmpMessage& message, uint8_t* buffer, size_t capacity);
// The encoded size of a message, and what one binding adds to it (its own bytes plus any growth of the
// length fields around it is accounted for by SnmpEncodedSize).
size_t SnmpEncodedSize(const SnmpMessage& message);

// The binding the engine sends in a SetRequest for a value: an INTEGER for an integer, otherwise an
// OCTET STRING (an address as its dotted text, a string as its text, none as the empty string).
void SnmpEncodeSetValue(const SnmpValue& value, SnmpBinding* binding);

// Sizes for building a request binding by binding: the TLV size of one binding, and the size of a
// message with the header fields of `header` (its own bindings ignored) around bindings of
// `bindingsLength` bytes.
size_t SnmpBindingSize(const SnmpBinding& binding);
size_t SnmpMessageSizeFor(const SnmpMessage& header, size_t bindingsLength);

// Low-level pieces, exposed for the tests.
size_t BerPutLength(uint8_t* out, size_t length); // returns the bytes written (out may be null to count)
size_t BerPutInteger(uint8_t* out, int32_t value); // tag, length and content; out may be null to count
size_t BerPutUnsigned(uint8_t* out, uint8_t tag, uint32_t value);
