// Kept values: the numeric values the monitor polls, kept per device in a folder beside its settings, so
// that graphs and `talvine-cli history` can show what a device did over the last days and weeks.
//
// The SNMP worker hands each answer to Note (a lock and an append to a list, nothing more); a writer thread
// turns the notes into records every few seconds: counters become per-second rates (across a wrap of the
// 32-bit counter; a counter that went back by more than half its range was reset and gives no rate), raw
// samples are kept two days (no closer than three seconds apart), five-minute averages with their
// minimum and maximum sixty days. A device that stops answering, and the start of each run, leave a
// break, which graphs show as a gap. Files only grow by whole checksummed blocks: a killed writer loses
// at most what it had not yet written (one interval) and the next one cuts the torn block off.
#pragma once

#include "monitor/engine/trend_file.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The time source of the store: milliseconds since 1970 (UTC). Tests move it by hand.
using TrendNowFn = std::function<uint64_t()>;
uint64_t TrendSystemNowMs();

class TrendStore {
public:
    // `dir`: the folder of the kept values (one folder per device below it, made when first written).
    explicit TrendStore(std::string dir, TrendNowFn now = {});
    // Stops the writer, writes what waits and the open five-minute periods.
    ~TrendStore();
    TrendStore(const TrendStore&) = delete;
    TrendStore& operator=(const TrendStore&) = delete;

    // Starts the writer thread, which writes every `intervalMs`. Without it, Flush writes.
    void StartWriter(uint32_t intervalMs = 5000);

    // Any thread. The handle of a device's series (created when first asked for; never 0).
    uint32_t Series(uint32_t address, const std::string& name, TrendKind kind);
    // A polled value of a series as the answer carried it (the 32-bit number).
    void Note(uint32_t series, uint32_t raw);
    // The device did not answer a poll.
    void NoAnswer(uint32_t address);

    // Turns every waiting note into records and appends them to the files. Returns 0 when a file could
    // not be written (the records of that file are dropped; the next flush tries again with new ones).
    int Flush();
    // Flush, plus the averages of the five-minute periods still open (at the end of a run).
    int Close();

    const std::string& Dir() const
    {
        return dir_;
    }
    uint64_t NotesTaken() const;

private:
    struct Pending;
    struct SeriesState;
    struct DeviceState;
    struct Entry {
        uint64_t ms;
        uint32_t series; // 0: a no-answer of device `raw`
        uint32_t raw;
    };
    struct Work {
        uint64_t ms;
        SeriesState* series; // null: a no-answer of `device`
        DeviceState* device;
        uint32_t raw;
    };
    uint32_t DeviceIndex(uint32_t address); // notesLock_ held
    int Write(bool closing);
    void Apply(const Work& e);
    void Emit(SeriesState& s);
    int WriteDevice(DeviceState& d);
    void WriterLoop(uint32_t intervalMs);

    std::string dir_;
    TrendNowFn now_;
    mutable std::mutex notesLock_;
    std::vector<Entry> notes_;
    std::vector<std::unique_ptr<SeriesState>> series_; // handle - 1
    std::map<std::pair<uint32_t, std::string>, uint32_t> byName_;
    std::vector<std::unique_ptr<DeviceState>> devices_;
    std::map<uint32_t, uint32_t> byAddress_;
    uint64_t taken_ = 0;
    std::mutex flushLock_; // one flush at a time (writer thread, Close, a graph that wants the newest)
    std::vector<Work> work_;
    std::thread writer_;
    std::mutex stopLock_;
    std::condition_variable stopCv_;
    bool stop_ = false;
};

// One point of a series as read back: a raw sample (count 1), a five-minute average (`averaged`, with its
// minimum and maximum), or a gap (the line is not drawn across it).
struct TrendPoint {
    uint32_t time = 0; // seconds since 1970 (UTC); averages: the start of their five minutes
    double value = 0, min = 0, max = 0;
    uint32_t count = 0;
    bool averaged = false;
    bool gap = false;
};

struct TrendSeriesData {
    TrendKind kind = kTrendInteger;
    std::vector<TrendPoint> points; // by time
};

// The folder of one device's kept values.
std::string TrendDeviceDir(const std::string& dir, uint32_t address);
// Reads what is kept of a series between `from` and `to` (seconds, both included): raw samples where they
// are still kept, averages before. Returns 0 when the device or series has nothing kept.
int TrendRead(const std::string& dir, uint32_t address, const std::string& name, uint32_t from, uint32_t to,
    TrendSeriesData* out);
// The names of a device's kept series, sorted.
std::vector<std::string> TrendSeriesNames(const std::string& dir, uint32_t address);
// The text of a series' unit: "/s" for rates, "" otherwise; and a value as printed.
const char* TrendKindName(TrendKind kind);
std::string TrendValueText(double value);
// The kept values' folder beside the monitor's settings file (the folder that holds talvine.ini).
std::string TrendStoreDir(const std::string& settingsDir);
