#include "monitor/snmp/snmp_ber.h"

#include <gtest/gtest.h>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace {
SnmpOid Oid(const char* text)
{
    SnmpOid oid;
    EXPECT_EQ(SnmpOidFromText(text, &oid), 1) << text;
    return oid;
}

Bytes Encode(const SnmpMessage& m)
{
    uint8_t buffer[4096];
    size_t n = SnmpEncodeMessage(m, buffer, sizeof buffer);
    return Bytes(buffer, buffer + n);
}

// A GetResponse around one binding whose value bytes are given raw.
Bytes ResponseWithValue(Bytes value)
{
    Bytes binding = { 0x06, 0x03, 0x2B, 0x06, 0x01 };
    binding.insert(binding.end(), value.begin(), value.end());
    Bytes list = { 0x30, static_cast<uint8_t>(binding.size()) };
    list.insert(list.end(), binding.begin(), binding.end());
    Bytes wrapped = { 0x30, static_cast<uint8_t>(list.size()) };
    wrapped.insert(wrapped.end(), list.begin(), list.end());
    Bytes pdu = { 0x02, 0x01, 0x07, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00 };
    pdu.insert(pdu.end(), wrapped.begin(), wrapped.end());
    Bytes msg = { 0x02, 0x01, 0x00, 0x04, 0x01, 'p', 0xA2, static_cast<uint8_t>(pdu.size()) };
    msg.insert(msg.end(), pdu.begin(), pdu.end());
    Bytes out = { 0x30, static_cast<uint8_t>(msg.size()) };
    out.insert(out.end(), msg.begin(), msg.end());
    return out;
}
} // namespace

TEST(BerLength, ShortBelow127AndLongFormWithFewestBytesFrom127)
{
    struct Row {
        size_t length;
        Bytes bytes;
    } rows[] = {
        { 0, { 0x00 } },
        { 126, { 0x7E } },
        { 127, { 0x81, 0x7F } },
        { 128, { 0x81, 0x80 } },
        { 255, { 0x81, 0xFF } },
        { 256, { 0x82, 0x01, 0x00 } },
        { 0x10000, { 0x83, 0x01, 0x00, 0x00 } },
    };
    for (const Row& row : rows) {
        uint8_t out[8];
        size_t n = BerPutLength(out, row.length);
        EXPECT_EQ(Bytes(out, out + n), row.bytes) << row.length;
    }
}

TEST(BerInteger, FewestTwosComplementBytes)
{
    struct Row {
        int32_t value;
        Bytes bytes;
    } rows[] = {
        { 0, { 0x02, 0x01, 0x00 } },
        { 127, { 0x02, 0x01, 0x7F } },
        { 128, { 0x02, 0x02, 0x00, 0x80 } },
        { 255, { 0x02, 0x02, 0x00, 0xFF } },
        { -1, { 0x02, 0x01, 0xFF } },
        { -128, { 0x02, 0x01, 0x80 } },
        { -129, { 0x02, 0x02, 0xFF, 0x7F } },
        { 0x7FFFFFFF, { 0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF } },
        { INT32_MIN, { 0x02, 0x04, 0x80, 0x00, 0x00, 0x00 } },
    };
    for (const Row& row : rows) {
        uint8_t out[8];
        size_t n = BerPutInteger(out, row.value);
        EXPECT_EQ(Bytes(out, out + n), row.bytes) << row.value;
    }
    uint8_t out[8];
    size_t n = BerPutUnsigned(out, kBerGauge, 0xFFFFFFFFu);
    EXPECT_EQ(Bytes(out, out + n), (Bytes { 0x42, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF }));
}

TEST(BerDecode, NumbersAreSignExtendedOrUnsignedByTag)
{
    struct Row {
        Bytes value;
        SnmpKind kind;
        uint32_t number;
    } rows[] = {
        { { 0x02, 0x04, 0xFF, 0xFF, 0xFF, 0xFE }, kSnmpInteger, static_cast<uint32_t>(-2) },
        { { 0x02, 0x01, 0x80 }, kSnmpInteger, static_cast<uint32_t>(-128) },
        { { 0x02, 0x02, 0x00, 0x80 }, kSnmpInteger, 128 },
        { { 0x42, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF }, kSnmpInteger, 4294967295u },
        { { 0x41, 0x01, 0x80 }, kSnmpInteger, 128 },
        { { 0x43, 0x04, 0xFF, 0xFF, 0xFF, 0xFE }, kSnmpInteger, 0xFFFFFFFEu },
        { { 0x05, 0x00 }, kSnmpNone, 0 },
    };
    for (const Row& row : rows) {
        Bytes msg = ResponseWithValue(row.value);
        SnmpMessage m;
        ASSERT_EQ(SnmpDecodeMessage(msg.data(), msg.size(), &m), kSnmpDecodeOk);
        ASSERT_EQ(m.bindings.size(), 1u);
        EXPECT_EQ(m.bindings[0].value.kind, row.kind);
        EXPECT_EQ(m.bindings[0].value.integer, row.number);
    }
    Bytes address = ResponseWithValue({ 0x40, 0x04, 10, 1, 2, 3 });
    SnmpMessage m;
    ASSERT_EQ(SnmpDecodeMessage(address.data(), address.size(), &m), kSnmpDecodeOk);
    EXPECT_EQ(SnmpAddressText(m.bindings[0].value.address), "10.1.2.3");
    Bytes oidValue = ResponseWithValue({ 0x06, 0x03, 0x2B, 0x06, 0x01 });
    ASSERT_EQ(SnmpDecodeMessage(oidValue.data(), oidValue.size(), &m), kSnmpDecodeOk);
    EXPECT_EQ(m.bindings[0].value.text, "1.3.6.1");
}

TEST(BerDecode, RefusesElementsOutsideTheirEnclosingLength)
{
    Bytes good = ResponseWithValue({ 0x02, 0x01, 0x05 });
    SnmpMessage m;
    ASSERT_EQ(SnmpDecodeMessage(good.data(), good.size(), &m), kSnmpDecodeOk);
    // Every prefix of a valid message is refused (the outer length no longer fits).
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_EQ(SnmpDecodeMessage(good.data(), cut, &m), kSnmpDecodeBad) << cut;
    struct Row {
        const char* what;
        size_t offset;
        uint8_t byte;
    } rows[] = {
        { "version 1", 4, 0x01 },
        { "outer tag", 0, 0x31 },
        { "pdu length one short", 9, static_cast<uint8_t>(good[9] - 1) },
        { "pdu length one long", 9, static_cast<uint8_t>(good[9] + 1) },
        { "indefinite outer length", 1, 0x80 },
        { "community tag", 5, 0x02 },
    };
    for (const Row& row : rows) {
        Bytes bad = good;
        bad[row.offset] = row.byte;
        EXPECT_NE(SnmpDecodeMessage(bad.data(), bad.size(), &m), kSnmpDecodeOk) << row.what;
    }
    // The long form with more length bytes than needed is accepted.
    Bytes longForm = good;
    longForm[1] = 0x84;
    longForm.insert(longForm.begin() + 2, { 0x00, 0x00, 0x00, good[1] });
    EXPECT_EQ(SnmpDecodeMessage(longForm.data(), longForm.size(), &m), kSnmpDecodeOk);
}

TEST(BerDecode, AnUnknownValueTagEndsTheBindingsButKeepsEarlierOnes)
{
    SnmpMessage m;
    m.pdu = kPduResponse;
    m.requestId = 9;
    for (const char* text : { "1.3.6.1.2.1.1.1.0", "1.3.6.1.2.1.1.3.0", "1.3.6.1.2.1.1.5.0" }) {
        SnmpBinding b;
        b.oid = Oid(text);
        b.tag = kBerInteger;
        b.value = SnmpValue::Integer(0x4D);
        m.bindings.push_back(b);
    }
    Bytes wire = Encode(m);
    // The second binding's value tag becomes Counter64 (not SNMPv1).
    size_t second = 0;
    int seen = 0;
    for (size_t i = 0; i + 2 < wire.size(); ++i)
        if (wire[i] == 0x02 && wire[i + 1] == 0x01 && wire[i + 2] == 0x4D && ++seen == 2)
            second = i;
    ASSERT_NE(second, 0u);
    wire[second] = 0x46;
    SnmpMessage out;
    ASSERT_EQ(SnmpDecodeMessage(wire.data(), wire.size(), &out), kSnmpDecodeOk);
    EXPECT_FALSE(out.complete);
    ASSERT_EQ(out.bindings.size(), 1u);
    EXPECT_TRUE(SnmpOidEqual(out.bindings[0].oid, m.bindings[0].oid));
}

TEST(BerDecode, LongTextsAreCutAndOtherPdusSkipped)
{
    SnmpMessage m;
    m.pdu = kPduResponse;
    m.community = std::string(300, 'c');
    SnmpBinding b;
    b.oid = Oid("1.3.6.1.2.1.1.1.0");
    b.tag = kBerOctetString;
    b.value.kind = kSnmpString;
    b.value.text = std::string(400, 'x');
    m.bindings.push_back(b);
    Bytes wire = Encode(m);
    SnmpMessage out;
    ASSERT_EQ(SnmpDecodeMessage(wire.data(), wire.size(), &out), kSnmpDecodeOk);
    EXPECT_EQ(out.community.size(), kSnmpMaxText);
    EXPECT_EQ(out.bindings[0].value.text.size(), kSnmpMaxText);
    m.pdu = 5; // GetBulk is not SNMPv1
    m.community = "public";
    wire = Encode(m);
    EXPECT_EQ(SnmpDecodeMessage(wire.data(), wire.size(), &out), kSnmpDecodeOtherPdu);
}

TEST(BerMessage, EveryKindSurvivesEncodeDecodeEncode)
{
    SnmpMessage response;
    response.pdu = kPduResponse;
    response.community = "secret";
    response.requestId = 0x02000005;
    response.errorStatus = 2;
    response.errorIndex = 1;
    struct Row {
        uint8_t tag;
        SnmpValue value;
    } rows[] = {
        { kBerInteger, SnmpValue::Integer(static_cast<uint32_t>(-7)) },
        { kBerCounter, SnmpValue::Integer(0x80000000u) },
        { kBerGauge, SnmpValue::Integer(0) },
        { kBerTimeTicks, SnmpValue::Integer(123456) },
        { kBerIpAddress, SnmpValue::Address(SnmpAddressFromHost(0x7F000102)) },
        { kBerOctetString, SnmpValue::String(std::string(200, 'z')) },
        { kBerOid, SnmpValue::String("1.3.6.1.4.1.99") },
        { kBerNull, SnmpValue() },
    };
    for (const Row& row : rows) {
        SnmpBinding b;
        b.oid = Oid("1.3.6.1.2.1.2.2.1.10.1");
        b.tag = row.tag;
        b.value = row.value;
        response.bindings.push_back(b);
    }
    SnmpMessage trap;
    trap.pdu = kPduTrap;
    trap.community = "public";
    trap.enterprise = Oid("1.3.6.1.4.1.99");
    trap.agentAddress = SnmpAddressFromHost(0x7F000001);
    trap.genericTrap = 6;
    trap.specificTrap = 1;
    trap.timeStamp = 0xFFFFFFFF;
    trap.bindings = response.bindings;
    for (const SnmpMessage* m : { &response, &trap }) {
        Bytes first = Encode(*m);
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(first.size(), SnmpEncodedSize(*m));
        SnmpMessage decoded;
        ASSERT_EQ(SnmpDecodeMessage(first.data(), first.size(), &decoded), kSnmpDecodeOk);
        EXPECT_TRUE(decoded.complete);
        ASSERT_EQ(decoded.bindings.size(), m->bindings.size());
        EXPECT_EQ(decoded.bindings[1].value.integer, 0x80000000u);
        EXPECT_EQ(Encode(decoded), first);
    }
    EXPECT_EQ(SnmpEncodeMessage(response, nullptr, 10), 0u) << "too small a buffer is refused";
}

TEST(BerMessage, SetValuesGoAsIntegerOrOctetString)
{
    struct Row {
        SnmpValue value;
        uint8_t tag;
        const char* text;
    } rows[] = {
        { SnmpValue::Integer(5), kBerInteger, "" },
        { SnmpValue::Address(SnmpAddressFromHost(0xC0A80001)), kBerOctetString, "192.168.0.1" },
        { SnmpValue::String("abc"), kBerOctetString, "abc" },
        { SnmpValue(), kBerOctetString, "" },
    };
    for (const Row& row : rows) {
        SnmpBinding b;
        SnmpEncodeSetValue(row.value, &b);
        EXPECT_EQ(b.tag, row.tag);
        EXPECT_EQ(b.value.text, row.text);
    }
}

TEST(OidText, ConversionsBothWays)
{
    SnmpOid oid = Oid("1.3.6.1.2.1.1.5.0");
    EXPECT_EQ(Bytes(oid.bytes, oid.bytes + oid.length), (Bytes { 0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00 }));
    EXPECT_EQ(SnmpOidText(oid), "1.3.6.1.2.1.1.5.0");
    struct Row {
        const char* text;
        Bytes bytes;
        const char* back;
    } rows[] = {
        { "1.3.6.1.4.1.200.1", { 0x2B, 6, 1, 4, 1, 0x81, 0x48, 1 }, "1.3.6.1.4.1.200.1" },
        { "1.3.6.1.4.1.268435455", { 0x2B, 6, 1, 4, 1, 0xFF, 0xFF, 0xFF, 0x7F }, "1.3.6.1.4.1.268435455" },
        { "1.3.abc", { 0x2B, 97, 98, 99 }, "1.3.97.98.99" },
        { ".1.3.6", { 0x2B, 6 }, "1.3.6" },
        { "2.100.3", { 0x81, 0x34, 3 }, "2.100.3" },
        { "0.5", { 5 }, "0.5" },
        { "1.3.6 trailing", { 0x2B, 6 }, "1.3.6" },
        { "1.3.6.", { 0x2B, 6 }, "1.3.6" },
    };
    for (const Row& row : rows) {
        SnmpOid o = Oid(row.text);
        EXPECT_EQ(Bytes(o.bytes, o.bytes + o.length), row.bytes) << row.text;
        EXPECT_EQ(SnmpOidText(o), row.back) << row.text;
    }
    SnmpOid bad;
    EXPECT_EQ(SnmpOidFromText("", &bad), 0);
    EXPECT_EQ(SnmpOidFromText("abc", &bad), 0);
    std::string tooLong = "1.3";
    for (int i = 0; i < 300; ++i)
        tooLong += ".1";
    EXPECT_EQ(SnmpOidFromText(tooLong.c_str(), &bad), 0);
    SnmpOid cut = oid;
    cut.bytes[cut.length - 1] = 0x85; // the last subidentifier never ends
    std::string text = "unchanged";
    EXPECT_EQ(SnmpOidToText(cut, &text), 0);
}

TEST(OidText, AppendIndexTakesIntegersOnly)
{
    SnmpOid oid = Oid("1.3.6.1.2.1.2.2.1.2");
    SnmpOidAppendIndex(&oid, SnmpValue::Integer(300));
    EXPECT_EQ(SnmpOidText(oid), "1.3.6.1.2.1.2.2.1.2.300");
    SnmpOidAppendIndex(&oid, SnmpValue::String("7"));
    SnmpOidAppendIndex(&oid, SnmpValue());
    EXPECT_EQ(SnmpOidText(oid), "1.3.6.1.2.1.2.2.1.2.300");
    EXPECT_TRUE(SnmpOidStartsWith(oid, Oid("1.3.6.1.2.1.2.2.1.2")));
    EXPECT_FALSE(SnmpOidStartsWith(Oid("1.3.6.1.2.1.2.2.1.20.1"), Oid("1.3.6.1.2.1.2.2.1.2")))
        << "byte prefix 2 is not the subidentifier 20";
}

namespace {
// A GetResponse around one binding whose OID content and value bytes are given raw.
Bytes ResponseWithOid(Bytes oid, Bytes value = { 0x05, 0x00 })
{
    Bytes binding = { 0x06, static_cast<uint8_t>(oid.size()) };
    binding.insert(binding.end(), oid.begin(), oid.end());
    binding.insert(binding.end(), value.begin(), value.end());
    Bytes list = { 0x30, static_cast<uint8_t>(binding.size()) };
    list.insert(list.end(), binding.begin(), binding.end());
    Bytes wrapped = { 0x30, static_cast<uint8_t>(list.size()) };
    wrapped.insert(wrapped.end(), list.begin(), list.end());
    Bytes pdu = { 0x02, 0x01, 0x07, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00 };
    pdu.insert(pdu.end(), wrapped.begin(), wrapped.end());
    Bytes msg = { 0x02, 0x01, 0x00, 0x04, 0x01, 'p', 0xA2, static_cast<uint8_t>(pdu.size()) };
    msg.insert(msg.end(), pdu.begin(), pdu.end());
    Bytes out = { 0x30, static_cast<uint8_t>(msg.size()) };
    out.insert(out.end(), msg.begin(), msg.end());
    return out;
}
} // namespace

TEST(BerDecode, MalformedOidsAreRefusedNeverShownCut)
{
    struct {
        const char* name;
        Bytes oid;
        bool taken;
    } rows[] = {
        { "plain", { 0x2B, 0x06, 0x01 }, true },
        { "largest subidentifier", { 0x2B, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F }, true },
        { "above 2^32 - 1", { 0x2B, 0x90, 0x80, 0x80, 0x80, 0x00 }, false },
        { "six groups", { 0x2B, 0x81, 0x80, 0x80, 0x80, 0x80, 0x00 }, false },
        { "last byte continues", { 0x2B, 0x06, 0x81 }, false },
        { "padded subidentifier", { 0x2B, 0x80, 0x01 }, false },
        { "empty", {}, false },
    };
    for (auto& row : rows) {
        SnmpMessage m;
        ASSERT_EQ(
            SnmpDecodeMessage(ResponseWithOid(row.oid).data(), ResponseWithOid(row.oid).size(), &m), kSnmpDecodeOk)
            << row.name;
        EXPECT_EQ(m.complete, row.taken) << row.name;
        EXPECT_EQ(m.bindings.size(), row.taken ? 1u : 0u) << row.name;
        // The same bytes as an OBJECT IDENTIFIER value.
        Bytes value = { 0x06, static_cast<uint8_t>(row.oid.size()) };
        value.insert(value.end(), row.oid.begin(), row.oid.end());
        Bytes whole = ResponseWithValue(value);
        ASSERT_EQ(SnmpDecodeMessage(whole.data(), whole.size(), &m), kSnmpDecodeOk) << row.name;
        EXPECT_EQ(m.complete, row.taken) << row.name;
    }
    // Text never wraps a subidentifier to 32 bits.
    SnmpOid big;
    Bytes raw = { 0x2B, 0x90, 0x80, 0x80, 0x80, 0x00 };
    big.length = static_cast<uint32_t>(raw.size());
    std::copy(raw.begin(), raw.end(), big.bytes);
    std::string text = "x";
    EXPECT_EQ(SnmpOidToText(big, &text), 0);
    EXPECT_EQ(text, "");
}

TEST(OidOrder, SubidentifiersCompareAsNumbers)
{
    struct {
        const char* a;
        const char* b;
        int order;
    } rows[] = {
        { "1.3.6.1", "1.3.6.1", 0 },
        { "1.3.6.1", "1.3.6.1.0", -1 },
        { "1.3.6.127", "1.3.6.128", -1 }, // one byte against two
        { "1.3.6.200", "1.3.6.129.0", 1 },
        { "1.3.6.16384", "1.3.6.128.5", 1 },
        { "1.3.6.4294967295", "1.3.6.4294967294.9", 1 },
        { "0.39", "1.0", -1 },
        { "2.100", "1.39", 1 },
    };
    for (auto& row : rows) {
        EXPECT_EQ(SnmpOidCompare(Oid(row.a), Oid(row.b)), row.order) << row.a << " " << row.b;
        EXPECT_EQ(SnmpOidCompare(Oid(row.b), Oid(row.a)), -row.order) << row.b << " " << row.a;
    }
    EXPECT_TRUE(SnmpOidHasArcs(Oid("1.3.6.1"), { 1 }));
    EXPECT_TRUE(SnmpOidHasArcs(Oid("1.3.6.1"), { 1, 3, 6 }));
    EXPECT_FALSE(SnmpOidHasArcs(Oid("1.3.6.1"), { 1, 3, 6, 1, 2 }));
    EXPECT_FALSE(SnmpOidHasArcs(Oid("2.3"), { 1 }));
    EXPECT_FALSE(SnmpOidHasArcs(Oid("1.3.61"), { 1, 3, 6 }));
}

TEST(BindingText, ValuesWholeAndWithTheirOwnType)
{
    struct {
        Bytes value;
        const char* text;
    } rows[] = {
        { { 0x02, 0x01, 0xFB }, "integer: -5" },
        { { 0x02, 0x04, 0x80, 0x00, 0x00, 0x00 }, "integer: -2147483648" },
        { { 0x02, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF }, "hex: 00 FF FF FF FF" }, // beyond 32 bits
        { { 0x04, 0x05, 'h', 'e', 'l', 'l', 'o' }, "string: hello" },
        { { 0x04, 0x00 }, "string: " },
        { { 0x04, 0x04, 'a', 0x00, '\n', 'b' }, "hex: 61 00 0A 62" },
        { { 0x04, 0x02, 0xC3, 0xA9 }, "hex: C3 A9" },
        { { 0x06, 0x03, 0x2B, 0x06, 0x01 }, "oid: 1.3.6.1" },
        { { 0x40, 0x04, 10, 0, 0, 1 }, "ipaddress: 10.0.0.1" },
        { { 0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF }, "counter: 4294967295" },
        { { 0x42, 0x01, 0x07 }, "gauge: 7" },
        { { 0x43, 0x02, 0x30, 0x39 }, "timeticks: (12345) 0:02:03.45" },
        { { 0x43, 0x04, 0x00, 0x83, 0xD6, 0x00 }, "timeticks: (8640000) 1 day, 0:00:00.00" },
        { { 0x44, 0x02, 0x01, 0x02 }, "opaque: 01 02" },
        { { 0x05, 0x00 }, "null" },
    };
    for (auto& row : rows) {
        Bytes whole = ResponseWithValue(row.value);
        SnmpMessage m;
        ASSERT_EQ(SnmpDecodeMessage(whole.data(), whole.size(), &m), kSnmpDecodeOk) << row.text;
        ASSERT_EQ(m.bindings.size(), 1u) << row.text;
        EXPECT_EQ(SnmpBindingText(m.bindings[0]), row.text);
    }
    // A long text is printed whole (the monitor's value keeps 255 characters).
    SnmpBinding b;
    b.tag = kBerOctetString;
    b.raw.assign(300, 'x');
    EXPECT_EQ(SnmpBindingText(b), "string: " + std::string(300, 'x'));
}
