// The kept values' file reader: any bytes give whole blocks up to `validBytes` and records that write
// back to the same records; the first byte chooses whether the rest is a file as it stands or the
// payload of one block with a correct checksum (so that the records themselves are fuzzed). The series
// reader then reads the same bytes as a device's raw and average files.
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_scratch.h"
#include "monitor/engine/trend_store.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {
bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr);
    Check(std::fwrite(data.data(), 1, data.size(), f) == data.size());
    std::fclose(f);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        // The rest as one block's payload, behind a correct header.
        std::string block;
        uint32_t header[3]
            = { kTrendBlockMagic, static_cast<uint32_t>(bytes.size()), TrendCrc32(bytes.data(), bytes.size()) };
        for (uint32_t v : header)
            for (int i = 0; i < 4; ++i)
                block.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
        bytes = block + bytes;
    }
    TrendFileContents c;
    int whole = TrendParse(bytes, &c);
    Check(c.validBytes <= bytes.size());
    Check((whole == 1) == (c.validBytes == bytes.size()));
    for (const TrendSeriesDef& s : c.series)
        Check(s.name.size() <= 255 && s.kind >= kTrendInteger && s.kind <= kTrendTicks);

    // The records written again read back the same (the valid part only).
    TrendBlockWriter w;
    for (const TrendRecord& r : c.records) {
        switch (r.type) {
        case kTrendRecSample:
            w.Sample(r.series, r.time, r.value);
            break;
        case kTrendRecBreak:
            w.Break(r.time);
            break;
        case kTrendRecAverage:
            w.Average(r.series, r.time, r.count, r.value, r.min, r.max);
            break;
        default:
            Check(false);
        }
    }
    TrendFileContents again;
    Check(TrendParse(w.Take(), &again) == 1);
    Check(again.records.size() == c.records.size());
    for (size_t i = 0; i < c.records.size(); ++i) {
        const TrendRecord& a = c.records[i];
        const TrendRecord& b = again.records[i];
        Check(a.type == b.type && a.time == b.time && SameBits(a.value, b.value) && a.count == b.count);
        if (a.type != kTrendRecBreak)
            Check(a.series == b.series);
        if (a.type == kTrendRecAverage)
            Check(SameBits(a.min, b.min) && SameBits(a.max, b.max));
    }

    // As a device's files: every series reads back by time, within the window asked for.
    std::string dir = FuzzScratchDir() + "/trends";
    uint32_t address = 0x0100007f;
    std::string folder = TrendDeviceDir(dir, address);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(folder, ec);
    WriteFile(folder + "/" + TrendRawFileName(1780000000), bytes);
    WriteFile(folder + "/" + TrendAverageFileName(1780000000), bytes);
    uint32_t from = data[0] & 2 ? 0 : 1000, to = data[0] & 4 ? UINT32_MAX : 100000;
    for (const std::string& name : TrendSeriesNames(dir, address)) {
        TrendSeriesData d;
        if (TrendRead(dir, address, name, from, to, &d) != 1)
            continue;
        uint32_t last = 0;
        for (const TrendPoint& p : d.points) {
            Check(p.time >= last && p.time >= from && p.time <= to);
            last = p.time;
        }
    }
    return 0;
}
