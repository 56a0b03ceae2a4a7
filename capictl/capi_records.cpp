#include "capictl/capi_records.h"

#include <cstring>

uint32_t CapiReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

void CapiAppendLe32(std::string* out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t CapiRecordView::Kind() const
{
    return Field(0);
}

uint32_t CapiRecordView::Field(uint32_t offset) const
{
    if (offset > length || length - offset < 4)
        return 0;
    return CapiReadLe32(bytes + offset);
}

std::string_view CapiRecordView::Text(uint32_t offsetField) const
{
    if (offsetField > length || length - offsetField < 4)
        return {};
    uint32_t at = CapiReadLe32(bytes + offsetField);
    if (at >= length)
        return {};
    const void* nul = std::memchr(bytes + at, 0, length - at);
    if (!nul)
        return {};
    return std::string_view(reinterpret_cast<const char*>(bytes + at), static_cast<const uint8_t*>(nul) - (bytes + at));
}

bool CapiWalker::Next(CapiRecordView* record)
{
    if (bytes_ - pos_ < kCapiHeaderBytes)
        return false;
    uint32_t length = CapiReadLe32(data_ + pos_ + 4);
    if (length < kCapiHeaderBytes || length > bytes_ - pos_)
        return false;
    record->bytes = data_ + pos_;
    record->length = length;
    pos_ += length;
    return true;
}

CapiDeviceInfo CapiReadDevice(const CapiRecordView& r)
{
    CapiDeviceInfo d;
    d.id = r.Field(8);
    d.attachment = r.Field(12);
    d.state = r.Field(16);
    d.channels = r.Field(20);
    d.freeChannels = r.Field(24);
    d.outgoingOnly = r.Field(28);
    d.location = r.Text(32);
    d.name = r.Text(36);
    d.numbers = r.Text(40);
    d.profile = r.Field(44);
    return d;
}

CapiConnectionInfo CapiReadConnection(const CapiRecordView& r)
{
    CapiConnectionInfo c;
    c.id = r.Field(8);
    c.device = r.Field(12);
    c.incoming = r.Field(24);
    c.connectedMs = r.Field(28);
    c.received = r.Field(32);
    c.sent = r.Field(36);
    c.lastTransferMs = r.Field(40);
    c.number = r.Text(44);
    return c;
}

void CapiAppendSetting(std::string* out, std::string_view name, uint32_t type, std::string_view data)
{
    auto nameBytes = static_cast<uint32_t>(name.size() + 1);
    auto dataBytes = static_cast<uint32_t>(data.size());
    CapiAppendLe32(out, kCapiSettingKind);
    CapiAppendLe32(out, 24 + nameBytes + dataBytes);
    CapiAppendLe32(out, type);
    CapiAppendLe32(out, 24);
    CapiAppendLe32(out, dataBytes);
    CapiAppendLe32(out, 24 + nameBytes);
    out->append(name);
    out->push_back('\0');
    out->append(data);
}

void CapiAppendKeyEnd(std::string* out, std::string_view path, uint32_t dataOffset)
{
    auto nameBytes = static_cast<uint32_t>(path.size() + 1);
    CapiAppendLe32(out, kCapiSettingKind);
    CapiAppendLe32(out, 24 + nameBytes);
    CapiAppendLe32(out, 0);
    CapiAppendLe32(out, 24);
    CapiAppendLe32(out, 0);
    CapiAppendLe32(out, dataOffset);
    out->append(path);
    out->push_back('\0');
}

void CapiAppendCommand(std::string* out, uint32_t connection)
{
    CapiAppendLe32(out, kCapiCommandKind);
    CapiAppendLe32(out, 12);
    CapiAppendLe32(out, connection);
}
