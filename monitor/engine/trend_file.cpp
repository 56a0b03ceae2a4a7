#include "monitor/engine/trend_file.h"

#include "common/calendar.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {
void Put16(std::string& s, uint16_t v)
{
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void PutDouble(std::string& s, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i)
        s.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
}

uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16
        | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

double GetDouble(const uint8_t* p)
{
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= static_cast<uint64_t>(p[i]) << (8 * i);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

const std::array<uint32_t, 256>& CrcTable()
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t {};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

bool Digits(std::string_view s, size_t at, size_t n, unsigned* out)
{
    if (at + n > s.size())
        return false;
    unsigned v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(s[i] - '0');
    }
    *out = v;
    return true;
}

// "YYYYMMDD" at `at`.
bool DayOf(std::string_view s, size_t at, int64_t* days)
{
    unsigned y, m, d;
    if (!Digits(s, at, 4, &y) || !Digits(s, at + 4, 2, &m) || !Digits(s, at + 6, 2, &d) || m < 1 || m > 12 || d < 1
        || d > 31 || y < 1970)
        return false;
    *days = DaysFromCivil(y, m, d);
    return true;
}

std::string DayText(uint32_t time)
{
    int y;
    unsigned m, d;
    CivilFromDays(time / 86400, &y, &m, &d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02u%02u", y, m, d);
    return buf;
}
} // namespace

uint32_t TrendCrc32(const void* data, size_t size)
{
    const auto& t = CrcTable();
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = 0xffffffffu;
    for (size_t i = 0; i < size; ++i)
        c = t[(c ^ p[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

int TrendParse(std::string_view data, TrendFileContents* out)
{
    const uint8_t* base = reinterpret_cast<const uint8_t*>(data.data());
    size_t at = 0;
    out->validBytes = 0;
    while (data.size() - at >= kTrendBlockHeader) {
        const uint8_t* h = base + at;
        uint32_t length = Get32(h + 4);
        if (Get32(h) != kTrendBlockMagic || length > kTrendMaxPayload || length > data.size() - at - kTrendBlockHeader)
            break;
        const uint8_t* p = h + kTrendBlockHeader;
        if (TrendCrc32(p, length) != Get32(h + 8))
            break;
        size_t i = 0;
        while (i < length) {
            size_t left = length - i;
            const uint8_t* r = p + i;
            TrendRecord rec;
            rec.type = static_cast<TrendRecordType>(r[0]);
            if (rec.type == kTrendRecSeries && left >= 5 && left - 5 >= r[4] && r[3] >= kTrendInteger
                && r[3] <= kTrendTicks) {
                TrendSeriesDef def;
                def.id = Get16(r + 1);
                def.kind = static_cast<TrendKind>(r[3]);
                def.name.assign(reinterpret_cast<const char*>(r + 5), r[4]);
                out->series.push_back(std::move(def));
                i += 5 + r[4];
                continue;
            }
            if (rec.type == kTrendRecSample && left >= 15) {
                rec.series = Get16(r + 1);
                rec.time = Get32(r + 3);
                rec.value = GetDouble(r + 7);
                rec.count = 1;
                i += 15;
            } else if (rec.type == kTrendRecBreak && left >= 5) {
                rec.time = Get32(r + 1);
                i += 5;
            } else if (rec.type == kTrendRecAverage && left >= 33) {
                rec.series = Get16(r + 1);
                rec.time = Get32(r + 3);
                rec.count = Get16(r + 7);
                rec.value = GetDouble(r + 9);
                rec.min = GetDouble(r + 17);
                rec.max = GetDouble(r + 25);
                i += 33;
            } else {
                break; // unknown or cut record: the rest of the block is not read
            }
            out->records.push_back(rec);
        }
        at += kTrendBlockHeader + length;
        out->validBytes = at;
    }
    return at == data.size() ? 1 : 0;
}

void TrendBlockWriter::Series(uint16_t id, TrendKind kind, std::string_view name)
{
    if (name.size() > kTrendMaxName)
        name = name.substr(0, kTrendMaxName);
    payload_.push_back(static_cast<char>(kTrendRecSeries));
    Put16(payload_, id);
    payload_.push_back(static_cast<char>(kind));
    payload_.push_back(static_cast<char>(name.size()));
    payload_.append(name);
}

void TrendBlockWriter::Sample(uint16_t id, uint32_t time, double value)
{
    payload_.push_back(static_cast<char>(kTrendRecSample));
    Put16(payload_, id);
    Put32(payload_, time);
    PutDouble(payload_, value);
}

void TrendBlockWriter::Break(uint32_t time)
{
    payload_.push_back(static_cast<char>(kTrendRecBreak));
    Put32(payload_, time);
}

void TrendBlockWriter::Average(uint16_t id, uint32_t time, uint32_t count, double average, double min, double max)
{
    payload_.push_back(static_cast<char>(kTrendRecAverage));
    Put16(payload_, id);
    Put32(payload_, time);
    Put16(payload_, static_cast<uint16_t>(count > 0xffff ? 0xffff : count));
    PutDouble(payload_, average);
    PutDouble(payload_, min);
    PutDouble(payload_, max);
}

std::string TrendBlockWriter::Take()
{
    std::string block;
    block.reserve(kTrendBlockHeader + payload_.size());
    Put32(block, kTrendBlockMagic);
    Put32(block, static_cast<uint32_t>(payload_.size()));
    Put32(block, TrendCrc32(payload_.data(), payload_.size()));
    block += payload_;
    payload_.clear();
    return block;
}

std::string TrendRawFileName(uint32_t time)
{
    uint32_t start = time - time % kTrendRawPeriod;
    char hours[8];
    std::snprintf(hours, sizeof hours, "-%02u", (start % 86400) / 3600);
    return "raw-" + DayText(start) + hours + ".tvk";
}

std::string TrendAverageFileName(uint32_t time)
{
    return "avg-" + DayText(time - time % kTrendAveragePeriod) + ".tvk";
}

bool TrendFilePeriod(std::string_view name, uint32_t* start, bool* raw)
{
    int64_t days;
    unsigned hours = 0;
    if (name.size() == 19 && name.substr(0, 4) == "raw-" && name.substr(15) == ".tvk" && name[12] == '-'
        && DayOf(name, 4, &days) && Digits(name, 13, 2, &hours) && hours < 24) {
        *raw = true;
    } else if (name.size() == 16 && name.substr(0, 4) == "avg-" && name.substr(12) == ".tvk" && DayOf(name, 4, &days)) {
        *raw = false;
    } else {
        return false;
    }
    int64_t t = days * 86400 + hours * 3600;
    if (t > UINT32_MAX)
        return false;
    *start = static_cast<uint32_t>(t);
    return true;
}

std::string TrendTimeText(uint32_t time)
{
    int y;
    unsigned m, d;
    CivilFromDays(time / 86400, &y, &m, &d);
    uint32_t s = time % 86400;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", y, m, d, s / 3600, s / 60 % 60, s % 60);
    return buf;
}

bool TrendParseTime(std::string_view text, uint32_t* time)
{
    unsigned y, mo, d, h = 0, mi = 0, s = 0;
    if (text.size() < 10 || !Digits(text, 0, 4, &y) || text[4] != '-' || !Digits(text, 5, 2, &mo) || text[7] != '-'
        || !Digits(text, 8, 2, &d) || y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31)
        return false;
    if (text.size() > 10) {
        if ((text[10] != ' ' && text[10] != 'T') || text.size() < 16 || !Digits(text, 11, 2, &h) || text[13] != ':'
            || !Digits(text, 14, 2, &mi) || h > 23 || mi > 59)
            return false;
        if (text.size() > 16 && (text.size() != 19 || text[16] != ':' || !Digits(text, 17, 2, &s) || s > 59))
            return false;
    }
    int64_t t = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    if (t < 0 || t > UINT32_MAX)
        return false;
    *time = static_cast<uint32_t>(t);
    return true;
}
