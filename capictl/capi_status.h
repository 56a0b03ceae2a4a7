// The status copy and the queries on it. The status thread publishes each buffer the driver returns by
// swapping it with the published one under one lock (never copying it); every query takes the lock for
// its whole walk and hands out copies of exactly the bytes of the records it found.
#pragma once

#include "capictl/capi_records.h"

#include <cstdint>
#include <mutex>
#include <vector>

// One record, copied out of the status buffer; empty when there was none.
struct CapiRecordCopy {
    std::vector<uint8_t> bytes;
    explicit operator bool() const
    {
        return !bytes.empty();
    }
    CapiRecordView View() const
    {
        return CapiRecordView { bytes.data(), static_cast<uint32_t>(bytes.size()) };
    }
};

// Several records back to back, in buffer order; no bytes when the count is 0.
struct CapiRecordList {
    uint32_t count = 0;
    std::vector<uint8_t> bytes;
};

class CapiStatusCopy {
public:
    // Publishes the first `bytes` bytes of `working`: the two buffers change places under the lock, so
    // `working` comes back holding the previously published buffer (for the next request).
    void Swap(std::vector<uint8_t>& working, uint32_t bytes);
    // Forgets the published buffer (the status copy is empty until the next one arrives).
    void Clear();
    // Runs `f(data, bytes)` while holding the lock.
    template<class F> auto With(F f) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(buffer_.data(), static_cast<size_t>(bytes_));
    }
    uint32_t Bytes() const;

private:
    mutable std::mutex mutex_;
    std::vector<uint8_t> buffer_;
    uint32_t bytes_ = 0;
};

// The task's status copy, written by the status thread.
CapiStatusCopy& CapiStatus();

// The queries on the task's status copy.
uint32_t CapiCountDevices(bool onlyAvailable);
uint32_t CapiCountApplications();
uint32_t CapiCountConnections(uint32_t device); // 0: all
CapiRecordCopy CapiGetDevice(uint32_t id);
CapiRecordList CapiListDevices(uint32_t attachment); // 0: all
CapiRecordCopy CapiGetConnection(uint32_t id);
CapiRecordList CapiListConnections(uint32_t device); // 0: all
// True when a connection of the device (0: any) has (time connected - time at last transfer) <= ms.
bool CapiRecentTraffic(uint32_t device, uint32_t ms);

// The same queries on any buffer (the command-line tool, fuzzing).
namespace capi_buffer {
uint32_t CountDevices(const uint8_t* data, size_t bytes, bool onlyAvailable);
uint32_t CountApplications(const uint8_t* data, size_t bytes);
uint32_t CountConnections(const uint8_t* data, size_t bytes, uint32_t device);
CapiRecordCopy GetRecord(const uint8_t* data, size_t bytes, uint32_t kind, uint32_t id);
CapiRecordList ListRecords(const uint8_t* data, size_t bytes, uint32_t kind, uint32_t fieldOffset, uint32_t match);
bool RecentTraffic(const uint8_t* data, size_t bytes, uint32_t device, uint32_t ms);
} // namespace capi_buffer
