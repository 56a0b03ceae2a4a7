#include "monitor/snmp/snmp_ber.h"

#include "common/text.h"

#include <cstring>

// Encoding: every element's size is counted first, then written front to back into a buffer whose
// capacity is checked once for the whole message.

size_t BerPutLength(uint8_t* out, size_t length)
{
    // Lengths below 127 take one byte; 127 and more the long form with the fewest bytes.
    if (length < 127) {
        if (out)
            out[0] = static_cast<uint8_t>(length);
        return 1;
    }
    size_t n = 1;
    while (n < 4 && (length >> (8 * n)) != 0)
        ++n;
    if (out) {
        out[0] = static_cast<uint8_t>(0x80 + n);
        for (size_t i = 0; i < n; ++i)
            out[1 + i] = static_cast<uint8_t>(length >> (8 * (n - 1 - i)));
    }
    return 1 + n;
}

namespace {
size_t LengthSize(size_t length)
{
    return BerPutLength(nullptr, length);
}

size_t TlvSize(size_t contentLength)
{
    return 1 + LengthSize(contentLength) + contentLength;
}

// Fewest two's-complement bytes of a 32-bit value (1 to 4).
size_t IntegerContentSize(int32_t value)
{
    uint32_t u = static_cast<uint32_t>(value);
    size_t n = 4;
    while (n > 1) {
        uint32_t lead = (u >> (8 * (n - 1))) & 0xFF;
        uint32_t nextTop = (u >> (8 * (n - 1) - 1)) & 1;
        if ((lead == 0 && nextTop == 0) || (lead == 0xFF && nextTop == 1))
            --n;
        else
            break;
    }
    return n;
}

// Unsigned numbers: like a non-negative INTEGER, so a top bit set takes a fifth, leading zero byte.
size_t UnsignedContentSize(uint32_t value)
{
    size_t n = 1;
    while (n < 4 && (value >> (8 * n)) != 0)
        ++n;
    if ((value >> (8 * n - 1)) & 1)
        ++n;
    return n;
}

struct Writer {
    uint8_t* p;
    size_t pos = 0;
    void Byte(uint8_t b)
    {
        p[pos++] = b;
    }
    void Header(uint8_t tag, size_t length)
    {
        Byte(tag);
        pos += BerPutLength(p + pos, length);
    }
    void Bytes(const void* data, size_t n)
    {
        if (n)
            std::memcpy(p + pos, data, n);
        pos += n;
    }
};

void PutIntegerContent(Writer& w, int32_t value)
{
    size_t n = IntegerContentSize(value);
    uint32_t u = static_cast<uint32_t>(value);
    for (size_t i = 0; i < n; ++i)
        w.Byte(static_cast<uint8_t>(u >> (8 * (n - 1 - i))));
}

void PutUnsignedContent(Writer& w, uint32_t value)
{
    size_t n = UnsignedContentSize(value);
    for (size_t i = 0; i < n; ++i) {
        size_t shift = 8 * (n - 1 - i);
        w.Byte(shift >= 32 ? 0 : static_cast<uint8_t>(value >> shift));
    }
}

// The content bytes of a binding's value as it goes on the wire.
struct ValueContent {
    size_t size = 0;
    SnmpOid oid; // OBJECT IDENTIFIER values
    const std::string* text = nullptr; // OCTET STRING and Opaque values
};

ValueContent ContentOf(const SnmpBinding& b)
{
    ValueContent c;
    switch (b.tag) {
    case kBerInteger:
        c.size = IntegerContentSize(static_cast<int32_t>(b.value.integer));
        break;
    case kBerCounter:
    case kBerGauge:
    case kBerTimeTicks:
        c.size = UnsignedContentSize(b.value.integer);
        break;
    case kBerIpAddress:
        c.size = 4;
        break;
    case kBerOid:
        SnmpOidFromText(b.value.text.c_str(), &c.oid);
        c.size = c.oid.length;
        break;
    case kBerOctetString:
    case kBerOpaque:
        c.text = &b.value.text;
        c.size = b.value.text.size();
        break;
    default: // NULL
        c.size = 0;
        break;
    }
    return c;
}

size_t BindingContentSize(const SnmpBinding& b)
{
    return TlvSize(b.oid.length) + TlvSize(ContentOf(b).size);
}

struct Sizes {
    size_t bindings = 0; // content of the bindings sequence
    size_t pdu = 0; // content of the PDU
    size_t message = 0; // content of the outer sequence
};

Sizes Count(const SnmpMessage& m)
{
    Sizes s;
    for (const SnmpBinding& b : m.bindings)
        s.bindings += TlvSize(BindingContentSize(b));
    if (m.pdu == kPduTrap) {
        s.pdu = TlvSize(m.enterprise.length) + TlvSize(4)
            + TlvSize(IntegerContentSize(static_cast<int32_t>(m.genericTrap)))
            + TlvSize(IntegerContentSize(static_cast<int32_t>(m.specificTrap)))
            + TlvSize(UnsignedContentSize(m.timeStamp)) + TlvSize(s.bindings);
    } else {
        s.pdu = TlvSize(IntegerContentSize(static_cast<int32_t>(m.requestId)))
            + TlvSize(IntegerContentSize(static_cast<int32_t>(m.errorStatus)))
            + TlvSize(IntegerContentSize(static_cast<int32_t>(m.errorIndex))) + TlvSize(s.bindings);
    }
    s.message
        = TlvSize(IntegerContentSize(static_cast<int32_t>(m.version))) + TlvSize(m.community.size()) + TlvSize(s.pdu);
    return s;
}

void PutInteger(Writer& w, uint32_t value)
{
    int32_t v = static_cast<int32_t>(value);
    w.Header(kBerInteger, IntegerContentSize(v));
    PutIntegerContent(w, v);
}
} // namespace

size_t BerPutInteger(uint8_t* out, int32_t value)
{
    size_t n = IntegerContentSize(value);
    if (out) {
        Writer w { out };
        w.Header(kBerInteger, n);
        PutIntegerContent(w, value);
    }
    return 2 + n;
}

size_t BerPutUnsigned(uint8_t* out, uint8_t tag, uint32_t value)
{
    size_t n = UnsignedContentSize(value);
    if (out) {
        Writer w { out };
        w.Header(tag, n);
        PutUnsignedContent(w, value);
    }
    return 2 + n;
}

size_t SnmpBindingSize(const SnmpBinding& binding)
{
    return TlvSize(BindingContentSize(binding));
}

size_t SnmpMessageSizeFor(const SnmpMessage& m, size_t bindingsLength)
{
    size_t pdu = TlvSize(IntegerContentSize(static_cast<int32_t>(m.requestId)))
        + TlvSize(IntegerContentSize(static_cast<int32_t>(m.errorStatus)))
        + TlvSize(IntegerContentSize(static_cast<int32_t>(m.errorIndex))) + TlvSize(bindingsLength);
    size_t message
        = TlvSize(IntegerContentSize(static_cast<int32_t>(m.version))) + TlvSize(m.community.size()) + TlvSize(pdu);
    return TlvSize(message);
}

size_t SnmpEncodedSize(const SnmpMessage& message)
{
    return TlvSize(Count(message).message);
}

size_t SnmpEncodeMessage(const SnmpMessage& m, uint8_t* buffer, size_t capacity)
{
    Sizes s = Count(m);
    size_t total = TlvSize(s.message);
    if (total > capacity)
        return 0;
    Writer w { buffer };
    w.Header(kBerSequence, s.message);
    PutInteger(w, m.version);
    w.Header(kBerOctetString, m.community.size());
    w.Bytes(m.community.data(), m.community.size());
    w.Header(static_cast<uint8_t>(0xA0 | (m.pdu & 0x1F)), s.pdu);
    if (m.pdu == kPduTrap) {
        w.Header(kBerOid, m.enterprise.length);
        w.Bytes(m.enterprise.bytes, m.enterprise.length);
        w.Header(kBerIpAddress, 4);
        w.Bytes(&m.agentAddress, 4); // network byte order is wire order
        PutInteger(w, m.genericTrap);
        PutInteger(w, m.specificTrap);
        w.Header(kBerTimeTicks, UnsignedContentSize(m.timeStamp));
        PutUnsignedContent(w, m.timeStamp);
    } else {
        PutInteger(w, m.requestId);
        PutInteger(w, m.errorStatus);
        PutInteger(w, m.errorIndex);
    }
    w.Header(kBerSequence, s.bindings);
    for (const SnmpBinding& b : m.bindings) {
        w.Header(kBerSequence, BindingContentSize(b));
        w.Header(kBerOid, b.oid.length);
        w.Bytes(b.oid.bytes, b.oid.length);
        ValueContent c = ContentOf(b);
        uint8_t tag = b.tag;
        w.Header(tag, c.size);
        switch (tag) {
        case kBerInteger:
            PutIntegerContent(w, static_cast<int32_t>(b.value.integer));
            break;
        case kBerCounter:
        case kBerGauge:
        case kBerTimeTicks:
            PutUnsignedContent(w, b.value.integer);
            break;
        case kBerIpAddress:
            w.Bytes(&b.value.address, 4);
            break;
        case kBerOid:
            w.Bytes(c.oid.bytes, c.oid.length);
            break;
        case kBerOctetString:
        case kBerOpaque:
            w.Bytes(c.text->data(), c.size);
            break;
        default:
            break;
        }
    }
    return w.pos;
}

void SnmpEncodeSetValue(const SnmpValue& value, SnmpBinding* binding)
{
    binding->value.Clear();
    if (value.kind == kSnmpInteger) {
        binding->tag = kBerInteger;
        binding->value = value;
        return;
    }
    binding->tag = kBerOctetString;
    binding->value.kind = kSnmpString;
    if (value.kind == kSnmpIpAddress)
        binding->value.text = SnmpAddressText(value.address);
    else if (value.kind == kSnmpString)
        binding->value.text = value.text;
}

// Decoding: a cursor over one enclosing element. Each read checks the element against what is left of
// its enclosing length before it touches a byte.
namespace {
struct Reader {
    const uint8_t* p;
    size_t end;
    size_t pos = 0;

    bool AtEnd() const
    {
        return pos == end;
    }
    // Reads a tag and a length; the content must fit what is left. Leaves pos at the content.
    bool Header(uint8_t* tag, size_t* length)
    {
        if (end - pos < 2)
            return false;
        *tag = p[pos++];
        if ((*tag & 0x1F) == 0x1F) // multi-byte tags are not part of SNMPv1
            return false;
        uint8_t first = p[pos++];
        size_t len = first;
        if (first & 0x80) {
            size_t n = first & 0x7F;
            if (n == 0 || end - pos < n) // indefinite form, or length bytes cut off
                return false;
            len = 0;
            for (size_t i = 0; i < n; ++i) {
                if (len > (SIZE_MAX >> 8))
                    return false;
                len = len << 8 | p[pos++];
            }
        }
        if (len > end - pos)
            return false;
        *length = len;
        return true;
    }
    bool Expect(uint8_t wanted, size_t* length)
    {
        uint8_t tag;
        return Header(&tag, length) && tag == wanted;
    }
    Reader Sub(size_t length)
    {
        Reader r { p, pos + length, pos };
        pos += length;
        return r;
    }
};

// Big-endian content keeping the low 32 bits; signed numbers are sign-extended from the first byte.
bool Number(const uint8_t* content, size_t length, bool isSigned, uint32_t* out)
{
    if (length == 0)
        return false;
    uint32_t v = (isSigned && (content[0] & 0x80)) ? 0xFFFFFFFFu : 0;
    for (size_t i = 0; i < length; ++i)
        v = v << 8 | content[i];
    *out = v;
    return true;
}

bool ReadInteger(Reader& r, uint32_t* out)
{
    size_t len;
    if (!r.Expect(kBerInteger, &len))
        return false;
    bool ok = Number(r.p + r.pos, len, true, out);
    r.pos += len;
    return ok;
}

bool OidFrom(const uint8_t* content, size_t length, SnmpOid* out)
{
    if (length > kSnmpMaxOid)
        return false;
    out->length = static_cast<uint32_t>(length);
    if (length)
        std::memcpy(out->bytes, content, length);
    return true;
}

// One binding in place: its OID and value must be well formed (a known value tag, a number of at least
// one byte, an address of four, an OID of at most kSnmpMaxOid bytes) and use up the binding.
bool ReadBindingView(Reader& list, SnmpBindingView* v)
{
    size_t len;
    if (!list.Expect(kBerSequence, &len))
        return false;
    Reader r = list.Sub(len);
    size_t oidLen;
    if (!r.Expect(kBerOid, &oidLen) || !SnmpOidWellFormed(r.p + r.pos, oidLen))
        return false;
    v->oid = r.p + r.pos;
    v->oidLength = static_cast<uint32_t>(oidLen);
    r.pos += oidLen;
    uint8_t tag;
    if (!r.Header(&tag, &len))
        return false;
    v->tag = tag;
    v->content = r.p + r.pos;
    v->contentLength = static_cast<uint32_t>(len);
    r.pos += len;
    switch (tag) {
    case kBerNull:
        if (len != 0)
            return false;
        break;
    case kBerInteger:
    case kBerCounter:
    case kBerGauge:
    case kBerTimeTicks:
        if (len == 0)
            return false;
        break;
    case kBerOctetString:
    case kBerOpaque:
        break;
    case kBerOid:
        if (!SnmpOidWellFormed(v->content, len))
            return false;
        break;
    case kBerIpAddress:
        if (len != 4)
            return false;
        break;
    default:
        return false;
    }
    return r.AtEnd();
}
} // namespace

void SnmpViewValue(const SnmpBindingView& v, SnmpValue* out)
{
    // (The text keeps its capacity: a reused value then takes the next answer's text without allocating.)
    out->kind = kSnmpNone;
    out->integer = 0;
    out->address = 0;
    out->tag = 0;
    out->text.clear();
    const uint8_t* c = v.content;
    size_t len = v.contentLength;
    switch (v.tag) {
    case kBerInteger:
        out->kind = kSnmpInteger;
        out->tag = v.tag;
        Number(c, len, true, &out->integer);
        break;
    case kBerCounter:
    case kBerGauge:
    case kBerTimeTicks:
        out->kind = kSnmpInteger;
        out->tag = v.tag;
        Number(c, len, false, &out->integer);
        break;
    case kBerOctetString:
    case kBerOpaque:
        out->kind = kSnmpString;
        out->text.assign(reinterpret_cast<const char*>(c), len > kSnmpMaxText ? kSnmpMaxText : len);
        break;
    case kBerOid: {
        SnmpOid oid;
        if (!OidFrom(c, len, &oid))
            break;
        out->kind = kSnmpString;
        SnmpOidToText(oid, &out->text);
        if (out->text.size() > kSnmpMaxText)
            out->text.resize(kSnmpMaxText);
        break;
    }
    case kBerIpAddress:
        if (len == 4) {
            out->kind = kSnmpIpAddress;
            std::memcpy(&out->address, c, 4);
        }
        break;
    default:
        break;
    }
}

namespace {
std::string HexBytes(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (i)
            out += ' ';
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

// The content of an INTEGER, Counter, Gauge or TimeTicks as a 64-bit number (up to 9 bytes).
bool RawNumber(const std::string& raw, bool isSigned, int64_t* out)
{
    if (raw.empty() || raw.size() > 9 || (raw.size() == 9 && (isSigned || raw[0] != 0)))
        return false;
    uint64_t v = isSigned && (static_cast<unsigned char>(raw[0]) & 0x80) ? ~uint64_t(0) : 0;
    for (char c : raw)
        v = v << 8 | static_cast<unsigned char>(c);
    *out = static_cast<int64_t>(v);
    return true;
}
} // namespace

std::string SnmpBindingText(const SnmpBinding& b)
{
    int64_t n = 0;
    switch (b.tag) {
    case kBerInteger:
        if (!RawNumber(b.raw, true, &n) || n < INT32_MIN || n > INT32_MAX)
            return "hex: " + HexBytes(b.raw); // more than 32 bits: the bytes as they came
        return StrFormat("integer: %lld", static_cast<long long>(n));
    case kBerCounter:
    case kBerGauge:
    case kBerTimeTicks: {
        const char* name = b.tag == kBerCounter ? "counter" : b.tag == kBerGauge ? "gauge" : "timeticks";
        if (!RawNumber(b.raw, false, &n) || n < 0 || n > static_cast<int64_t>(UINT32_MAX))
            return std::string(name) + ": hex: " + HexBytes(b.raw);
        if (b.tag != kBerTimeTicks)
            return StrFormat("%s: %lld", name, static_cast<long long>(n));
        // Hundredths of a second: "(N) D days, H:MM:SS.cc".
        long long t = n;
        long long days = t / 8640000, h = t / 360000 % 24, m = t / 6000 % 60, sec = t / 100 % 60, cs = t % 100;
        std::string span = days ? StrFormat("%lld day%s, ", days, days == 1 ? "" : "s") : std::string();
        return StrFormat("timeticks: (%lld) %s%lld:%02lld:%02lld.%02lld", t, span.c_str(), h, m, sec, cs);
    }
    case kBerOctetString: {
        bool printable = true;
        for (char c : b.raw)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                printable = false;
        return printable ? "string: " + b.raw : "hex: " + HexBytes(b.raw);
    }
    case kBerOpaque:
        return "opaque: " + HexBytes(b.raw);
    case kBerOid: {
        SnmpOid oid;
        std::string text;
        if (b.raw.size() > kSnmpMaxOid)
            return "oid: ?";
        oid.length = static_cast<uint32_t>(b.raw.size());
        std::memcpy(oid.bytes, b.raw.data(), b.raw.size());
        SnmpOidToText(oid, &text);
        return "oid: " + text;
    }
    case kBerIpAddress:
        if (b.raw.size() == 4)
            return StrFormat("ipaddress: %u.%u.%u.%u", static_cast<unsigned char>(b.raw[0]),
                static_cast<unsigned char>(b.raw[1]), static_cast<unsigned char>(b.raw[2]),
                static_cast<unsigned char>(b.raw[3]));
        return "ipaddress: hex: " + HexBytes(b.raw);
    case kBerNull:
        return "null";
    default:
        return StrFormat("tag 0x%02X: ", b.tag) + HexBytes(b.raw);
    }
}

void SnmpBindingFromView(const SnmpBindingView& v, SnmpBinding* out)
{
    OidFrom(v.oid, v.oidLength, &out->oid);
    out->tag = v.tag;
    out->raw.assign(reinterpret_cast<const char*>(v.content), v.contentLength);
    SnmpViewValue(v, &out->value);
}

SnmpDecodeResult SnmpDecodeInPlace(
    const uint8_t* data, size_t size, SnmpMessage* out, std::vector<SnmpBindingView>* bindings)
{
    bindings->clear();
    Reader datagram { data, size };
    size_t len;
    if (!datagram.Expect(kBerSequence, &len))
        return kSnmpDecodeBad;
    Reader msg = datagram.Sub(len);
    if (!ReadInteger(msg, &out->version) || out->version != 0)
        return kSnmpDecodeBad;
    if (!msg.Expect(kBerOctetString, &len))
        return kSnmpDecodeBad;
    out->community.assign(reinterpret_cast<const char*>(msg.p + msg.pos), len > kSnmpMaxText ? kSnmpMaxText : len);
    msg.pos += len;
    uint8_t pduTag;
    if (!msg.Header(&pduTag, &len) || (pduTag & 0xE0) != 0xA0)
        return kSnmpDecodeBad;
    Reader pdu = msg.Sub(len);
    if (!msg.AtEnd())
        return kSnmpDecodeBad;
    out->pdu = static_cast<uint8_t>(pduTag & 0x1F);
    out->complete = true;
    if (out->pdu > kPduTrap)
        return kSnmpDecodeOtherPdu;
    auto fail = [&] {
        bindings->clear();
        return kSnmpDecodeBad;
    };
    if (out->pdu == kPduTrap) {
        if (!pdu.Expect(kBerOid, &len) || !SnmpOidWellFormed(pdu.p + pdu.pos, len)
            || !OidFrom(pdu.p + pdu.pos, len, &out->enterprise))
            return fail();
        pdu.pos += len;
        if (!pdu.Expect(kBerIpAddress, &len) || len != 4)
            return fail();
        std::memcpy(&out->agentAddress, pdu.p + pdu.pos, 4);
        pdu.pos += 4;
        if (!ReadInteger(pdu, &out->genericTrap) || !ReadInteger(pdu, &out->specificTrap))
            return fail();
        if (!pdu.Expect(kBerTimeTicks, &len) || !Number(pdu.p + pdu.pos, len, false, &out->timeStamp))
            return fail();
        pdu.pos += len;
    } else {
        if (!ReadInteger(pdu, &out->requestId) || !ReadInteger(pdu, &out->errorStatus)
            || !ReadInteger(pdu, &out->errorIndex))
            return fail();
    }
    if (!pdu.Expect(kBerSequence, &len))
        return fail();
    Reader list = pdu.Sub(len);
    if (!pdu.AtEnd())
        return fail();
    while (!list.AtEnd()) {
        SnmpBindingView v;
        if (!ReadBindingView(list, &v)) {
            out->complete = false;
            break;
        }
        bindings->push_back(v);
    }
    return kSnmpDecodeOk;
}

SnmpDecodeResult SnmpDecodeMessage(const uint8_t* data, size_t size, SnmpMessage* out)
{
    thread_local std::vector<SnmpBindingView> views;
    SnmpDecodeResult r = SnmpDecodeInPlace(data, size, out, &views);
    // The bindings are read into the records the message already holds (a decoder reused datagram after
    // datagram then neither builds nor frees any); those left over are dropped.
    std::vector<SnmpBinding>& bindings = out->bindings;
    if (bindings.size() > views.size())
        bindings.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        if (i == bindings.size())
            bindings.emplace_back();
        SnmpBindingFromView(views[i], &bindings[i]);
    }
    return r;
}
