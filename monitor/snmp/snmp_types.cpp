#include "monitor/snmp/snmp_types.h"

#include "common/text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>

SnmpValue SnmpValue::String(std::string s)
{
    SnmpValue v;
    v.kind = kSnmpString;
    v.text = std::move(s);
    if (v.text.size() > kSnmpMaxText)
        v.text.resize(kSnmpMaxText);
    return v;
}

bool SnmpOidEqual(const SnmpOid& a, const SnmpOid& b)
{
    return a.length == b.length && std::memcmp(a.bytes, b.bytes, a.length) == 0;
}

bool SnmpOidWellFormed(const uint8_t* bytes, size_t length)
{
    if (length == 0 || length > kSnmpMaxOid || (bytes[length - 1] & 0x80) != 0)
        return false;
    size_t start = 0;
    for (size_t i = 0; i < length; ++i) {
        if (i == start && bytes[i] == 0x80)
            return false; // a padded subidentifier: two encodings of one OID would compare unequal
        if (bytes[i] & 0x80)
            continue;
        // Five groups of seven bits hold 35: the first may then carry at most four.
        size_t groups = i - start + 1;
        if (groups > 5 || (groups == 5 && (bytes[start] & 0x7F) > 0x0F))
            return false;
        start = i + 1;
    }
    return true;
}

int SnmpOidCompare(const SnmpOid& a, const SnmpOid& b)
{
    // With minimal encodings a longer subidentifier is the larger one; equal lengths compare bytewise.
    uint32_t i = 0, j = 0;
    while (i < a.length && j < b.length) {
        uint32_t ei = i, ej = j;
        while (ei < a.length && (a.bytes[ei] & 0x80))
            ++ei;
        while (ej < b.length && (b.bytes[ej] & 0x80))
            ++ej;
        uint32_t la = ei - i + 1, lb = ej - j + 1;
        if (la != lb)
            return la < lb ? -1 : 1;
        if (int c = std::memcmp(a.bytes + i, b.bytes + j, std::min({ la, a.length - i, b.length - j })); c != 0)
            return c < 0 ? -1 : 1;
        i = ei + 1;
        j = ej + 1;
    }
    if (i < a.length)
        return 1;
    if (j < b.length)
        return -1;
    return 0;
}

bool SnmpOidHasArcs(const SnmpOid& oid, const std::vector<uint32_t>& prefix)
{
    size_t arc = 0;
    uint32_t value = 0;
    bool first = true;
    for (uint32_t i = 0; i < oid.length && arc < prefix.size(); ++i) {
        if (value > (UINT32_MAX >> 7))
            return false;
        value = value << 7 | (oid.bytes[i] & 0x7Fu);
        if (oid.bytes[i] & 0x80)
            continue;
        if (first) {
            uint32_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
            if (prefix[arc++] != top)
                return false;
            if (arc < prefix.size() && prefix[arc++] != value - 40 * top)
                return false;
            first = false;
        } else if (prefix[arc++] != value) {
            return false;
        }
        value = 0;
    }
    return arc == prefix.size();
}

bool SnmpOidStartsWith(const SnmpOid& oid, const SnmpOid& prefix)
{
    // Byte prefixes are subidentifier prefixes when the prefix ends on a whole subidentifier (its last
    // byte has bit 7 clear), which every OID built here does.
    if (prefix.length > oid.length)
        return false;
    if (prefix.length > 0 && (prefix.bytes[prefix.length - 1] & 0x80) != 0)
        return false;
    return std::memcmp(oid.bytes, prefix.bytes, prefix.length) == 0;
}

int SnmpOidAppend(SnmpOid* oid, uint32_t subidentifier)
{
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(subidentifier & 0x7F);
        subidentifier >>= 7;
    } while (subidentifier != 0);
    if (oid->length + count > kSnmpMaxOid)
        return 0;
    for (int i = count - 1; i >= 0; --i)
        oid->bytes[oid->length++] = static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0));
    return 1;
}

namespace {
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A component runs up to the next dot, blank or end of text.
bool IsComponentChar(char c)
{
    return c != '\0' && c != '.' && c != ' ' && c != '\t' && c != '\r' && c != '\n';
}

// Reads the component at `p`: its end, and whether it is all digits (with its value, wrapping at 2^32).
const char* ReadComponent(const char* p, bool* numeric, uint32_t* value)
{
    *numeric = true;
    *value = 0;
    const char* start = p;
    while (IsComponentChar(*p)) {
        if (!IsDigit(*p))
            *numeric = false;
        else
            *value = *value * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (p == start)
        *numeric = false;
    return p;
}
} // namespace

int SnmpOidFromText(const char* text, SnmpOid* out)
{
    SnmpOid oid;
    const char* p = text;
    if (*p == '.') // the leading dot of fully qualified names
        ++p;
    bool numeric;
    uint32_t first;
    p = ReadComponent(p, &numeric, &first);
    if (!numeric)
        return 0;
    uint32_t combined = first * 40;
    if (*p == '.' && IsComponentChar(p[1])) {
        uint32_t second;
        const char* end = ReadComponent(p + 1, &numeric, &second);
        if (!numeric)
            return 0;
        combined += second;
        p = end;
    }
    if (!SnmpOidAppend(&oid, combined))
        return 0;
    while (*p == '.' && IsComponentChar(p[1])) {
        uint32_t value;
        const char* end = ReadComponent(p + 1, &numeric, &value);
        if (numeric) {
            if (!SnmpOidAppend(&oid, value))
                return 0;
        } else {
            for (const char* c = p + 1; c < end; ++c)
                if (!SnmpOidAppend(&oid, static_cast<unsigned char>(*c)))
                    return 0;
        }
        p = end;
    }
    *out = oid;
    return 1;
}

int SnmpOidToText(const SnmpOid& oid, std::string* out)
{
    // Written with to_chars: values of type OBJECT IDENTIFIER are turned into text while polling.
    char text[kSnmpMaxOid * 11 + 8];
    char* end = text;
    char* const limit = text + sizeof text;
    uint32_t value = 0;
    bool first = true;
    bool pending = false;
    uint32_t length = oid.length > kSnmpMaxOid ? kSnmpMaxOid : oid.length;
    for (uint32_t i = 0; i < length; ++i) {
        if (value > (UINT32_MAX >> 7)) {
            out->clear(); // above 2^32 - 1: never shown cut to 32 bits
            return 0;
        }
        value = value << 7 | (oid.bytes[i] & 0x7Fu);
        pending = true;
        if (oid.bytes[i] & 0x80)
            continue;
        if (first) {
            uint32_t arc = value < 40 ? 0 : value < 80 ? 1 : 2;
            *end++ = static_cast<char>('0' + arc);
            *end++ = '.';
            end = std::to_chars(end, limit, value - 40 * arc).ptr;
            first = false;
        } else {
            *end++ = '.';
            end = std::to_chars(end, limit, value).ptr;
        }
        value = 0;
        pending = false;
    }
    if (pending || first) {
        out->clear();
        return 0;
    }
    out->assign(text, end);
    return static_cast<int>(out->size());
}

std::string SnmpOidText(const SnmpOid& oid)
{
    std::string text;
    SnmpOidToText(oid, &text);
    return text;
}

void SnmpOidAppendIndex(SnmpOid* oid, const SnmpValue& value)
{
    if (value.kind == kSnmpInteger)
        SnmpOidAppend(oid, value.integer);
}

uint32_t SnmpRandomRequestId()
{
    static std::mutex lock;
    static std::mt19937 generator { std::random_device {}()
        ^ static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) };
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<uint32_t>(generator());
}

uint32_t SnmpAddressFromHost(uint32_t hostOrder)
{
    uint8_t bytes[4] = { static_cast<uint8_t>(hostOrder >> 24), static_cast<uint8_t>(hostOrder >> 16),
        static_cast<uint8_t>(hostOrder >> 8), static_cast<uint8_t>(hostOrder) };
    uint32_t net;
    std::memcpy(&net, bytes, 4);
    return net;
}

uint32_t SnmpAddressToHost(uint32_t networkOrder)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrder, 4);
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16
        | static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

std::string SnmpAddressText(uint32_t networkOrder)
{
    uint32_t h = SnmpAddressToHost(networkOrder);
    return StrFormat("%u.%u.%u.%u", h >> 24, (h >> 16) & 255, (h >> 8) & 255, h & 255);
}

std::string SnmpValueText(const SnmpValue& value)
{
    switch (value.kind) {
    case kSnmpInteger:
        return StrFormat("%u", value.integer);
    case kSnmpIpAddress:
        return SnmpAddressText(value.address);
    case kSnmpString:
        return value.text;
    default:
        return std::string();
    }
}
