// Status buffers from the driver, walked and queried as the task and ostrel-cli decode do: every record
// lies within the buffer, every text within its record and ends at a NUL there, every copy a query hands
// out holds exactly the bytes of the records it names.
#include "capictl/capi_status.h"

#include "capictl/capi_format.h"
#include "capictl/capi_records.h"
#include "fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
void CheckText(const CapiRecordView& r, uint32_t field)
{
    std::string_view text = r.Text(field);
    if (text.empty())
        return;
    const auto* start = reinterpret_cast<const uint8_t*>(text.data());
    Check(start >= r.bytes && start + text.size() < r.bytes + r.length);
    Check(start[text.size()] == 0);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size heap copy, so AddressSanitizer sees any read past the byte count.
    std::vector<uint8_t> buffer(data, data + size);
    const uint8_t* b = buffer.data();

    uint32_t devices = 0, connections = 0;
    size_t walked = 0;
    CapiWalker walk(b, size);
    for (CapiRecordView r; walk.Next(&r);) {
        Check(r.bytes == b + walked && r.length >= 8 && r.length <= size - walked);
        walked += r.length;
        for (uint32_t field : { 32u, 36u, 40u, 44u })
            CheckText(r, field);
        CapiFormatStatusRecord(r);
        CapiFormatControlRecord(r);
        uint32_t kind = r.Kind();
        if (kind == kCapiDeviceKind || kind == kCapiConnectionKind) {
            (kind == kCapiDeviceKind ? devices : connections)++;
            // The first record of this kind and id is the one a lookup copies.
            CapiRecordCopy copy = capi_buffer::GetRecord(b, size, kind, r.Field(8));
            Check(copy && copy.bytes.size() >= 8);
            Check(copy.View().Kind() == kind && copy.View().Field(8) == r.Field(8));
        }
    }
    Check(walk.Walked() == walked);
    Check(capi_buffer::CountDevices(b, size, false) == devices);
    Check(capi_buffer::CountConnections(b, size, 0) == connections);
    Check(capi_buffer::CountDevices(b, size, true) <= devices);

    CapiRecordList all = capi_buffer::ListRecords(b, size, kCapiDeviceKind, 12, 0);
    Check(all.count == devices && (all.count == 0) == all.bytes.empty());
    CapiWalker listed(all.bytes.data(), all.bytes.size());
    uint32_t n = 0;
    for (CapiRecordView r; listed.Next(&r); ++n)
        Check(r.Kind() == kCapiDeviceKind);
    Check(n == all.count && listed.Walked() == all.bytes.size());
    CapiRecordList calls = capi_buffer::ListRecords(b, size, kCapiConnectionKind, 12, size ? b[0] : 0);
    Check(calls.count <= connections);
    capi_buffer::RecentTraffic(b, size, 0, size);
    CapiFormatSummary(b, size);

    // The same through the task's status copy.
    std::vector<uint8_t> working(buffer);
    CapiStatus().Swap(working, static_cast<uint32_t>(size));
    Check(CapiCountDevices(false) == devices && CapiCountConnections(0) == connections);
    return 0;
}
