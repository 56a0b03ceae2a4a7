// The kept values' files: append-only sequences of blocks, each with its length and a CRC-32 of its
// records, so that a writer killed in the middle of a block leaves a file whose readable part ends at the
// last whole block. One device's values live in a folder of its own; raw samples go to files of six
// hours, five-minute averages to files of five days, so that old values are dropped a whole file at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What an item's polled value is, as the answer's type tells it.
enum TrendKind : uint8_t {
    kTrendInteger = 1, // signed
    kTrendGauge = 2,
    kTrendCounter = 3, // kept as its per-second rate
    kTrendTicks = 4, // hundredths of a second
};

enum TrendRecordType : uint8_t {
    kTrendRecSeries = 1, // file-local id, kind, name
    kTrendRecSample = 2, // id, time, value
    kTrendRecBreak = 3, // time: the device did not answer, or the monitor was not running before it
    kTrendRecAverage = 4, // id, period start, count, average, minimum, maximum
};

constexpr uint32_t kTrendBlockMagic = 0x314b5654; // "TVK1"
constexpr size_t kTrendBlockHeader = 12; // magic, payload length, CRC-32 of the payload
constexpr uint32_t kTrendMaxPayload = 1u << 20;
constexpr size_t kTrendMaxName = 200;
constexpr uint32_t kTrendRawPeriod = 6 * 3600; // seconds one raw file covers
constexpr uint32_t kTrendAveragePeriod = 5 * 86400; // seconds one average file covers
constexpr uint32_t kTrendBucket = 300; // seconds one average covers
constexpr uint32_t kTrendRawKeep = 2 * 86400; // raw files older than this are removed
constexpr uint32_t kTrendAverageKeep = 60 * 86400;
constexpr uint32_t kTrendRawSpacing = 3; // raw samples of one series are kept at least this far apart

// One record as read (the series as its name, resolved through the file's series records).
struct TrendRecord {
    TrendRecordType type = kTrendRecBreak;
    uint16_t series = 0; // file-local id (not for breaks)
    uint32_t time = 0; // seconds since 1970 (UTC)
    double value = 0; // sample, or average
    double min = 0, max = 0; // averages
    uint32_t count = 0; // averages: samples in the period
};

struct TrendSeriesDef {
    uint16_t id = 0;
    TrendKind kind = kTrendInteger;
    std::string name;
};

struct TrendFileContents {
    std::vector<TrendSeriesDef> series;
    std::vector<TrendRecord> records;
    size_t validBytes = 0; // the whole blocks at the start of the file
};

// Reads the whole blocks at the start of `data`; a block whose header, length or checksum is wrong ends
// the reading (a torn tail). Records of unknown type end their block. Returns 1 when every byte belonged
// to a whole block, 0 when a tail was left.
int TrendParse(std::string_view data, TrendFileContents* out);

uint32_t TrendCrc32(const void* data, size_t size);

// Builds one block's payload.
class TrendBlockWriter {
public:
    void Series(uint16_t id, TrendKind kind, std::string_view name);
    void Sample(uint16_t id, uint32_t time, double value);
    void Break(uint32_t time);
    void Average(uint16_t id, uint32_t time, uint32_t count, double average, double min, double max);
    bool Empty() const
    {
        return payload_.empty();
    }
    size_t Size() const
    {
        return payload_.size();
    }
    // The block (header and payload); the writer is empty again afterwards.
    std::string Take();

private:
    std::string payload_;
};

// File names inside a device's folder: "raw-YYYYMMDD-HH.tvk" (the start of the six hours, UTC),
// "avg-YYYYMMDD.tvk" (the start of the five days).
std::string TrendRawFileName(uint32_t time);
std::string TrendAverageFileName(uint32_t time);
// The start of the period a file name covers, and whether it holds raw samples; false for other names.
bool TrendFilePeriod(std::string_view name, uint32_t* start, bool* raw);
// "YYYY-MM-DD HH:MM:SS" in UTC, and back (also "YYYY-MM-DD", "YYYY-MM-DDTHH:MM[:SS]").
std::string TrendTimeText(uint32_t time);
bool TrendParseTime(std::string_view text, uint32_t* time);
