#include "monitor/engine/trend_store.h"

#include "common/platform/file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;

uint64_t TrendSystemNowMs()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

// A series as the writer follows it.
struct TrendStore::SeriesState {
    DeviceState* deviceState = nullptr;
    std::string name;
    TrendKind kind = kTrendInteger;
    bool havePrevious = false; // counters: the last answer, for the next rate
    uint32_t breaksSeen = 0; // the device's breaks when the last answer came
    uint32_t previous = 0;
    uint64_t previousMs = 0;
    bool kept = false; // a raw sample was kept at keptTime
    uint32_t keptTime = 0;
    uint32_t bucket = 0; // the open five minutes
    uint32_t count = 0;
    double sum = 0, min = 0, max = 0;
};

// A record waiting to be written, in the file its time selects.
struct TrendStore::Pending {
    TrendRecordType type;
    const SeriesState* series; // not for breaks
    uint32_t time;
    double value, min, max;
    uint32_t count;
};

struct TrendStore::DeviceState {
    uint32_t address = 0;
    std::string folder;
    bool started = false; // a sample was kept in this run (before the first one: a break)
    uint32_t breaks = 0; // breaks so far: a counter's rate is not taken across one
    bool broken = false; // the last thing kept is a break
    bool folderMade = false;
    std::vector<Pending> raw, averages;
    // The files this run appends to: their series ids (handle -> id), found by reading the file once.
    struct FileIds {
        std::map<std::string, uint16_t> ids; // series name -> id
        uint32_t next = 1;
    };
    std::map<std::string, FileIds> files;
};

TrendStore::TrendStore(std::string dir, TrendNowFn now)
    : dir_(std::move(dir))
    , now_(now ? std::move(now) : TrendNowFn(TrendSystemNowMs))
{
}

TrendStore::~TrendStore()
{
    {
        std::lock_guard<std::mutex> guard(stopLock_);
        stop_ = true;
    }
    stopCv_.notify_all();
    if (writer_.joinable())
        writer_.join();
    Close();
}

void TrendStore::StartWriter(uint32_t intervalMs)
{
    if (!writer_.joinable())
        writer_ = std::thread([this, intervalMs] { WriterLoop(intervalMs); });
}

void TrendStore::WriterLoop(uint32_t intervalMs)
{
    std::unique_lock<std::mutex> guard(stopLock_);
    while (!stop_) {
        stopCv_.wait_for(guard, std::chrono::milliseconds(intervalMs), [this] { return stop_; });
        guard.unlock();
        Flush();
        guard.lock();
    }
}

uint32_t TrendStore::DeviceIndex(uint32_t address)
{
    auto it = byAddress_.find(address);
    if (it != byAddress_.end())
        return it->second;
    auto d = std::make_unique<DeviceState>();
    d->address = address;
    d->folder = TrendDeviceDir(dir_, address);
    devices_.push_back(std::move(d));
    uint32_t index = static_cast<uint32_t>(devices_.size() - 1);
    byAddress_.emplace(address, index);
    return index;
}

uint32_t TrendStore::Series(uint32_t address, const std::string& name, TrendKind kind)
{
    std::lock_guard<std::mutex> guard(notesLock_);
    auto key = std::make_pair(address, name.substr(0, kTrendMaxName));
    auto it = byName_.find(key);
    if (it != byName_.end())
        return it->second;
    auto s = std::make_unique<SeriesState>();
    s->deviceState = devices_[DeviceIndex(address)].get();
    s->name = key.second;
    s->kind = kind;
    series_.push_back(std::move(s));
    uint32_t handle = static_cast<uint32_t>(series_.size());
    byName_.emplace(std::move(key), handle);
    return handle;
}

void TrendStore::Note(uint32_t series, uint32_t raw)
{
    uint64_t ms = now_();
    std::lock_guard<std::mutex> guard(notesLock_);
    notes_.push_back(Entry { ms, series, raw });
    ++taken_;
}

void TrendStore::NoAnswer(uint32_t address)
{
    uint64_t ms = now_();
    std::lock_guard<std::mutex> guard(notesLock_);
    notes_.push_back(Entry { ms, 0, DeviceIndex(address) });
}

uint64_t TrendStore::NotesTaken() const
{
    std::lock_guard<std::mutex> guard(notesLock_);
    return taken_;
}

void TrendStore::Emit(SeriesState& s)
{
    if (!s.count)
        return;
    s.deviceState->averages.push_back(
        Pending { kTrendRecAverage, &s, s.bucket, s.sum / s.count, s.min, s.max, s.count });
    s.count = 0;
}

// Writer's side (flushLock_ held): one note becomes the records it gives.
void TrendStore::Apply(const Work& e)
{
    uint32_t time = static_cast<uint32_t>(e.ms / 1000);
    if (!e.series) {
        DeviceState& d = *e.device;
        if (d.broken)
            return;
        d.broken = true;
        ++d.breaks;
        d.raw.push_back(Pending { kTrendRecBreak, nullptr, time, 0, 0, 0, 0 });
        d.averages.push_back(Pending { kTrendRecBreak, nullptr, time, 0, 0, 0, 0 });
        return;
    }
    SeriesState& s = *e.series;
    DeviceState& d = *s.deviceState;
    double value;
    switch (s.kind) {
    case kTrendCounter: {
        // Across a time the device did not answer, the counter may have been reset: the next rate starts
        // after it.
        bool had = s.havePrevious && s.breaksSeen == d.breaks;
        s.breaksSeen = d.breaks;
        uint32_t previous = s.previous;
        uint64_t previousMs = s.previousMs;
        s.havePrevious = true;
        s.previous = e.raw;
        s.previousMs = e.ms;
        if (!had || e.ms <= previousMs)
            return;
        uint32_t delta = e.raw - previous; // modulo 2^32: a wrap gives the true increase
        if (e.raw < previous && delta > 0x80000000u)
            return; // the counter went back: reset, not wrapped
        value = static_cast<double>(delta) * 1000.0 / static_cast<double>(e.ms - previousMs);
        break;
    }
    case kTrendInteger:
        value = static_cast<int32_t>(e.raw);
        break;
    default:
        value = e.raw;
        break;
    }
    if (!d.started) {
        d.started = true;
        if (!d.broken) {
            // Nothing was kept of the time before this run: not drawn as a line.
            d.raw.push_back(Pending { kTrendRecBreak, nullptr, time, 0, 0, 0, 0 });
            d.averages.push_back(Pending { kTrendRecBreak, nullptr, time, 0, 0, 0, 0 });
        }
    }
    bool afterBreak = d.broken;
    d.broken = false;
    if (!s.kept || afterBreak || time >= s.keptTime + kTrendRawSpacing || time < s.keptTime) {
        s.kept = true;
        s.keptTime = time;
        d.raw.push_back(Pending { kTrendRecSample, &s, time, value, 0, 0, 1 });
    }
    uint32_t bucket = time - time % kTrendBucket;
    if (s.count && bucket != s.bucket)
        Emit(s);
    if (!s.count) {
        s.bucket = bucket;
        s.sum = 0;
        s.min = s.max = value;
    }
    ++s.count;
    s.sum += value;
    s.min = std::min(s.min, value);
    s.max = std::max(s.max, value);
}

namespace {
// Removes the device's files whose whole period lies before what is kept.
void Prune(const std::string& folder, uint32_t now)
{
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        uint32_t start;
        bool raw;
        std::string name = it->path().filename().string();
        if (!TrendFilePeriod(name, &start, &raw))
            continue;
        uint64_t finish = static_cast<uint64_t>(start) + (raw ? kTrendRawPeriod : kTrendAveragePeriod);
        uint64_t keep = raw ? kTrendRawKeep : kTrendAverageKeep;
        if (finish + keep <= now) {
            std::error_code rc;
            fs::remove(it->path(), rc);
        }
    }
}
} // namespace

int TrendStore::WriteDevice(DeviceState& d)
{
    if (d.raw.empty() && d.averages.empty())
        return 1;
    if (!d.folderMade) {
        std::error_code ec;
        fs::create_directories(d.folder, ec);
        d.folderMade = !ec;
    }
    int ok = 1;
    bool created = false;
    uint32_t newest = 0;
    // Records go to the file of their time's period, in the order they came (the name made once per
    // period: nearly every record of a flush falls into the same one).
    std::map<std::string, std::vector<const Pending*>> byFile;
    auto sort = [&](const std::vector<Pending>& records, uint32_t period, std::string (*name)(uint32_t)) {
        uint32_t start = 1; // no period starts there
        std::vector<const Pending*>* into = nullptr;
        for (const Pending& p : records) {
            if (p.time - p.time % period != start) {
                start = p.time - p.time % period;
                into = &byFile[name(p.time)];
            }
            into->push_back(&p);
        }
    };
    sort(d.raw, kTrendRawPeriod, TrendRawFileName);
    sort(d.averages, kTrendAveragePeriod, TrendAverageFileName);
    for (auto& [name, records] : byFile) {
        std::string path = d.folder + "/" + name;
        auto found = d.files.find(name);
        if (found == d.files.end()) {
            // First write to this file in this run: learn its series ids, cut off a torn tail.
            DeviceState::FileIds ids;
            std::string data;
            bool missing = false;
            if (FileReadAll(path, &data, &missing) == 1 && !missing) {
                TrendFileContents contents;
                if (TrendParse(data, &contents) == 0) {
                    std::error_code rc;
                    fs::resize_file(path, contents.validBytes, rc);
                    if (rc)
                        ok = 0;
                }
                for (const TrendSeriesDef& def : contents.series) {
                    ids.ids[def.name] = def.id;
                    ids.next = std::max<uint32_t>(ids.next, def.id + 1u);
                }
            } else {
                created = true;
            }
            found = d.files.emplace(name, std::move(ids)).first;
        }
        DeviceState::FileIds& ids = found->second;
        TrendBlockWriter block;
        for (const Pending* p : records) {
            newest = std::max(newest, p->time);
            if (p->type == kTrendRecBreak) {
                block.Break(p->time);
                continue;
            }
            auto id = ids.ids.find(p->series->name);
            if (id == ids.ids.end()) {
                if (ids.next > 0xffff)
                    continue;
                id = ids.ids.emplace(p->series->name, static_cast<uint16_t>(ids.next++)).first;
                block.Series(id->second, p->series->kind, p->series->name);
            }
            if (p->type == kTrendRecSample)
                block.Sample(id->second, p->time, p->value);
            else
                block.Average(id->second, p->time, p->count, p->value, p->min, p->max);
        }
        std::string bytes = block.Take();
        std::FILE* f = std::fopen(path.c_str(), "ab");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
            ok = 0;
        if (f && std::fclose(f) != 0)
            ok = 0;
        if (!ok) {
            // What was written of the block may be torn: read the file again before the next block.
            d.files.erase(name);
        }
    }
    d.raw.clear();
    d.averages.clear();
    if (created) {
        // A new period began: forget the files of finished periods, drop what is no longer kept.
        for (auto it = d.files.begin(); it != d.files.end();)
            it = byFile.count(it->first) ? std::next(it) : d.files.erase(it);
        Prune(d.folder, newest);
    }
    return ok;
}

int TrendStore::Write(bool closing)
{
    std::lock_guard<std::mutex> flush(flushLock_);
    std::vector<SeriesState*> all;
    std::vector<DeviceState*> devices;
    {
        // The records the notes name were made before the notes: resolved under the same lock.
        std::lock_guard<std::mutex> guard(notesLock_);
        work_.clear();
        for (const Entry& e : notes_)
            if (e.series <= series_.size() && (e.series || e.raw < devices_.size()))
                work_.push_back(Work { e.ms, e.series ? series_[e.series - 1].get() : nullptr,
                    e.series ? nullptr : devices_[e.raw].get(), e.raw });
        notes_.clear();
        if (closing)
            for (auto& s : series_)
                all.push_back(s.get());
        for (auto& d : devices_)
            devices.push_back(d.get());
    }
    for (const Work& e : work_)
        Apply(e);
    work_.clear();
    for (SeriesState* s : all)
        Emit(*s);
    int ok = 1;
    for (DeviceState* d : devices)
        if (!WriteDevice(*d))
            ok = 0;
    return ok;
}

int TrendStore::Flush()
{
    return Write(false);
}

int TrendStore::Close()
{
    return Write(true);
}

std::string TrendDeviceDir(const std::string& dir, uint32_t address)
{
    // The address is in network order: its first byte is the first number.
    char text[20];
    std::snprintf(
        text, sizeof text, "%u.%u.%u.%u", address & 0xff, (address >> 8) & 0xff, (address >> 16) & 0xff, address >> 24);
    return dir + "/" + text;
}

namespace {
struct FileRef {
    uint32_t start;
    bool raw;
    std::string path;
};

std::vector<FileRef> DeviceFiles(const std::string& folder)
{
    std::vector<FileRef> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        FileRef f;
        if (TrendFilePeriod(it->path().filename().string(), &f.start, &f.raw)) {
            f.path = it->path().string();
            files.push_back(std::move(f));
        }
    }
    std::sort(files.begin(), files.end(), [](const FileRef& a, const FileRef& b) { return a.start < b.start; });
    return files;
}
} // namespace

int TrendRead(
    const std::string& dir, uint32_t address, const std::string& name, uint32_t from, uint32_t to, TrendSeriesData* out)
{
    out->points.clear();
    std::vector<FileRef> files = DeviceFiles(TrendDeviceDir(dir, address));
    bool found = false;
    // The first raw sample of the series still kept: averages are used for the time before it.
    uint32_t rawFirst = UINT32_MAX;
    std::vector<TrendPoint> raw, averages;
    std::map<uint32_t, size_t> averageAt; // period start -> index in averages (a period written twice merges)
    for (const FileRef& f : files) {
        uint64_t end = static_cast<uint64_t>(f.start) + (f.raw ? kTrendRawPeriod : kTrendAveragePeriod);
        bool inRange = f.start <= to && end > from;
        // Raw files before the window still tell where raw samples begin.
        if (!inRange && !(f.raw && rawFirst == UINT32_MAX))
            continue;
        std::string data;
        if (FileReadAll(f.path, &data) != 1)
            continue;
        TrendFileContents c;
        TrendParse(data, &c);
        int id = -1;
        for (const TrendSeriesDef& def : c.series)
            if (def.name == name) {
                id = def.id;
                out->kind = def.kind;
            }
        if (id < 0)
            continue;
        found = true;
        for (const TrendRecord& r : c.records) {
            if (r.type != kTrendRecBreak && r.series != id)
                continue;
            if (f.raw)
                rawFirst = std::min(rawFirst, r.time); // where the raw records of the device begin
            if (!inRange || r.time < from || r.time > to)
                continue;
            TrendPoint p;
            p.time = r.time;
            p.value = r.value;
            p.min = p.max = r.value;
            p.count = r.count;
            if (r.type == kTrendRecBreak) {
                p.gap = true;
                (f.raw ? raw : averages).push_back(p);
            } else if (r.type == kTrendRecSample && f.raw) {
                raw.push_back(p);
            } else if (r.type == kTrendRecAverage && !f.raw) {
                p.averaged = true;
                p.min = r.min;
                p.max = r.max;
                auto at = averageAt.find(r.time);
                if (at == averageAt.end()) {
                    averageAt.emplace(r.time, averages.size());
                    averages.push_back(p);
                } else {
                    TrendPoint& q = averages[at->second];
                    uint32_t n = q.count + p.count;
                    q.value = n ? (q.value * q.count + p.value * p.count) / n : q.value;
                    q.min = std::min(q.min, p.min);
                    q.max = std::max(q.max, p.max);
                    q.count = n;
                }
            }
        }
    }
    if (!found)
        return 0;
    for (const TrendPoint& p : averages)
        if (rawFirst == UINT32_MAX || (p.gap ? p.time < rawFirst : p.time + kTrendBucket <= rawFirst))
            out->points.push_back(p);
    for (const TrendPoint& p : raw)
        if (p.time >= rawFirst || p.gap)
            out->points.push_back(p);
    std::stable_sort(out->points.begin(), out->points.end(),
        [](const TrendPoint& a, const TrendPoint& b) { return a.time < b.time; });
    return 1;
}

std::vector<std::string> TrendSeriesNames(const std::string& dir, uint32_t address)
{
    std::set<std::string> names;
    for (const FileRef& f : DeviceFiles(TrendDeviceDir(dir, address))) {
        std::string data;
        if (FileReadAll(f.path, &data) != 1)
            continue;
        TrendFileContents c;
        TrendParse(data, &c);
        for (const TrendSeriesDef& def : c.series)
            names.insert(def.name);
    }
    return { names.begin(), names.end() };
}

const char* TrendKindName(TrendKind kind)
{
    return kind == kTrendCounter ? "/s" : "";
}

std::string TrendValueText(double value)
{
    char buf[64];
    if (std::fabs(value) < 1e15 && value == std::floor(value))
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else
        std::snprintf(buf, sizeof buf, "%.3f", value);
    return buf;
}

std::string TrendStoreDir(const std::string& settingsDir)
{
    return settingsDir + "/trends";
}
