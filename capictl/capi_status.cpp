#include "capictl/capi_status.h"

#include <utility>

void CapiStatusCopy::Swap(std::vector<uint8_t>& working, uint32_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_.swap(working);
    bytes_ = bytes <= buffer_.size() ? bytes : static_cast<uint32_t>(buffer_.size());
}

void CapiStatusCopy::Clear()
{
    std::vector<uint8_t> old;
    std::lock_guard<std::mutex> lock(mutex_);
    buffer_.swap(old);
    bytes_ = 0;
}

uint32_t CapiStatusCopy::Bytes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

CapiStatusCopy& CapiStatus()
{
    static CapiStatusCopy status;
    return status;
}

namespace capi_buffer {
uint32_t CountDevices(const uint8_t* data, size_t bytes, bool onlyAvailable)
{
    uint32_t count = 0;
    CapiWalker walk(data, bytes);
    for (CapiRecordView r; walk.Next(&r);) {
        if (r.Kind() == kCapiDeviceKind && (!onlyAvailable || r.Field(16) == 1))
            ++count;
    }
    return count;
}

uint32_t CountApplications(const uint8_t* data, size_t bytes)
{
    uint32_t count = 0;
    CapiWalker walk(data, bytes);
    for (CapiRecordView r; walk.Next(&r);)
        count += r.Kind() == kCapiApplicationKind;
    return count;
}

uint32_t CountConnections(const uint8_t* data, size_t bytes, uint32_t device)
{
    uint32_t count = 0;
    CapiWalker walk(data, bytes);
    for (CapiRecordView r; walk.Next(&r);) {
        if (r.Kind() == kCapiConnectionKind && (device == 0 || r.Field(12) == device))
            ++count;
    }
    return count;
}

CapiRecordCopy GetRecord(const uint8_t* data, size_t bytes, uint32_t kind, uint32_t id)
{
    CapiRecordCopy copy;
    CapiWalker walk(data, bytes);
    for (CapiRecordView r; walk.Next(&r);) {
        if (r.Kind() == kind && r.Field(8) == id) {
            copy.bytes.assign(r.bytes, r.bytes + r.length);
            break;
        }
    }
    return copy;
}

CapiRecordList ListRecords(const uint8_t* data, size_t bytes, uint32_t kind, uint32_t fieldOffset, uint32_t match)
{
    auto wanted
        = [&](const CapiRecordView& r) { return r.Kind() == kind && (match == 0 || r.Field(fieldOffset) == match); };
    // Two walks: the first sizes the copy exactly, the second fills it.
    CapiRecordList list;
    size_t total = 0;
    CapiWalker count(data, bytes);
    for (CapiRecordView r; count.Next(&r);) {
        if (wanted(r)) {
            ++list.count;
            total += r.length;
        }
    }
    if (list.count == 0)
        return list;
    list.bytes.reserve(total);
    CapiWalker copy(data, bytes);
    for (CapiRecordView r; copy.Next(&r);) {
        if (wanted(r))
            list.bytes.insert(list.bytes.end(), r.bytes, r.bytes + r.length);
    }
    return list;
}

bool RecentTraffic(const uint8_t* data, size_t bytes, uint32_t device, uint32_t ms)
{
    CapiWalker walk(data, bytes);
    for (CapiRecordView r; walk.Next(&r);) {
        if (r.Kind() != kCapiConnectionKind || (device != 0 && r.Field(12) != device))
            continue;
        uint32_t connected = r.Field(28);
        uint32_t last = r.Field(40);
        // A last transfer "after" the time connected is a broken record, not recent traffic.
        if (last <= connected && connected - last <= ms)
            return true;
    }
    return false;
}
} // namespace capi_buffer

uint32_t CapiCountDevices(bool onlyAvailable)
{
    return CapiStatus().With(
        [&](const uint8_t* d, size_t n) { return capi_buffer::CountDevices(d, n, onlyAvailable); });
}

uint32_t CapiCountApplications()
{
    return CapiStatus().With([](const uint8_t* d, size_t n) { return capi_buffer::CountApplications(d, n); });
}

uint32_t CapiCountConnections(uint32_t device)
{
    return CapiStatus().With([&](const uint8_t* d, size_t n) { return capi_buffer::CountConnections(d, n, device); });
}

CapiRecordCopy CapiGetDevice(uint32_t id)
{
    return CapiStatus().With(
        [&](const uint8_t* d, size_t n) { return capi_buffer::GetRecord(d, n, kCapiDeviceKind, id); });
}

CapiRecordList CapiListDevices(uint32_t attachment)
{
    return CapiStatus().With(
        [&](const uint8_t* d, size_t n) { return capi_buffer::ListRecords(d, n, kCapiDeviceKind, 12, attachment); });
}

CapiRecordCopy CapiGetConnection(uint32_t id)
{
    return CapiStatus().With(
        [&](const uint8_t* d, size_t n) { return capi_buffer::GetRecord(d, n, kCapiConnectionKind, id); });
}

CapiRecordList CapiListConnections(uint32_t device)
{
    return CapiStatus().With(
        [&](const uint8_t* d, size_t n) { return capi_buffer::ListRecords(d, n, kCapiConnectionKind, 12, device); });
}

bool CapiRecentTraffic(uint32_t device, uint32_t ms)
{
    return CapiStatus().With([&](const uint8_t* d, size_t n) { return capi_buffer::RecentTraffic(d, n, device, ms); });
}
