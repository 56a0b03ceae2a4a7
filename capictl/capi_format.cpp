#include "capictl/capi_format.h"

#include "capictl/capi_status.h"
#include "common/text.h"

std::string CapiHex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    return hex;
}

std::string CapiFormatSummary(const uint8_t* data, size_t bytes)
{
    return StrFormat("devices %u available %u applications %u connections %u",
        capi_buffer::CountDevices(data, bytes, false), capi_buffer::CountDevices(data, bytes, true),
        capi_buffer::CountApplications(data, bytes), capi_buffer::CountConnections(data, bytes, 0));
}

namespace {
std::string Quoted(std::string_view text)
{
    std::string out = "\"";
    out.append(text);
    out.push_back('"');
    return out;
}

std::string_view Bytes(const CapiRecordView& r)
{
    return std::string_view(reinterpret_cast<const char*>(r.bytes), r.length);
}

std::string Other(const CapiRecordView& r)
{
    return StrFormat("record kind=%u length=%u", r.Kind(), r.length);
}
} // namespace

std::string CapiFormatStatusRecord(const CapiRecordView& r)
{
    switch (r.Kind()) {
    case kCapiDeviceKind: {
        CapiDeviceInfo d = CapiReadDevice(r);
        return StrFormat("device id=%u attachment=%u state=%u channels=%u free=%u outgoing-only=%u location=", d.id,
                   d.attachment, d.state, d.channels, d.freeChannels, d.outgoingOnly)
            + Quoted(d.location) + " name=" + Quoted(d.name) + " numbers=" + Quoted(d.numbers)
            + StrFormat(" profile=%u", d.profile);
    }
    case kCapiConnectionKind: {
        CapiConnectionInfo c = CapiReadConnection(r);
        return StrFormat("connection id=%u device=%u incoming=%u connected-ms=%u received=%u sent=%u "
                         "last-transfer-ms=%u number=",
                   c.id, c.device, c.incoming, c.connectedMs, c.received, c.sent, c.lastTransferMs)
            + Quoted(c.number);
    }
    case kCapiApplicationKind:
        return "application";
    default:
        return Other(r);
    }
}

std::string CapiFormatControlRecord(const CapiRecordView& r)
{
    switch (r.Kind()) {
    case kCapiSettingKind: {
        // The data as far as it lies within the record.
        uint32_t offset = r.Field(20);
        uint32_t length = r.Field(16);
        std::string_view data;
        if (offset <= r.length)
            data = Bytes(r).substr(offset, length);
        return StrFormat("setting type=%u name=", r.Field(8)) + Quoted(r.Text(12)) + " data=" + CapiHex(data)
            + " bytes=" + CapiHex(Bytes(r));
    }
    case kCapiCommandKind:
        return StrFormat("drop id=%u bytes=", r.Field(8)) + CapiHex(Bytes(r));
    default:
        return Other(r);
    }
}
