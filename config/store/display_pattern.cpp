#include "config/store/display_pattern.h"

#include "common/text.h"
#include "config/description/cfg_types.h"

#include <ctime>
#include <limits>
#include <utility>

namespace {
bool IsFieldLetter(char c)
{
    return c == 'h' || c == 'm' || c == 's' || c == 'D' || c == 'M' || c == 'Y';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

uint32_t* FieldOf(CfgMoment* moment, char letter, unsigned* bit)
{
    switch (letter) {
    case 'h':
        *bit = CfgFieldHour;
        return &moment->hour;
    case 'm':
        *bit = CfgFieldMinute;
        return &moment->minute;
    case 's':
        *bit = CfgFieldSecond;
        return &moment->second;
    case 'D':
        *bit = CfgFieldDay;
        return &moment->day;
    case 'M':
        *bit = CfgFieldMonth;
        return &moment->month;
    default:
        *bit = CfgFieldYear;
        return &moment->year;
    }
}

size_t RunLength(std::string_view text, size_t at)
{
    size_t run = 1;
    while (at + run < text.size() && text[at + run] == text[at])
        ++run;
    return run;
}

// Adds a digit, staying at the largest value instead of wrapping: a field that long is no date.
uint32_t AddDigit(uint32_t value, char digit)
{
    uint32_t d = static_cast<uint32_t>(digit - '0');
    if (value > (std::numeric_limits<uint32_t>::max() - d) / 10)
        return std::numeric_limits<uint32_t>::max();
    return value * 10 + d;
}

std::function<CfgToday()>& DateSource()
{
    static std::function<CfgToday()> source;
    return source;
}
} // namespace

const char* const CfgDeviceClockPattern = "hhmmssDDMMYYYY";

unsigned CfgPatternFields(std::string_view pattern)
{
    unsigned fields = 0;
    CfgMoment scratch;
    for (char c : pattern) {
        if (IsFieldLetter(c)) {
            unsigned bit = 0;
            FieldOf(&scratch, c, &bit);
            fields |= bit;
        }
    }
    return fields;
}

std::string CfgPatternWrite(std::string_view pattern, const CfgMoment& moment)
{
    std::string out;
    CfgMoment m = moment;
    size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        if (!IsFieldLetter(c)) {
            out += c;
            ++i;
            continue;
        }
        size_t run = RunLength(pattern, i);
        unsigned bit = 0;
        uint32_t value = *FieldOf(&m, c, &bit);
        out += StrFormat("%0*u", static_cast<int>(run), static_cast<unsigned>(value));
        i += run;
    }
    return out;
}

bool CfgPatternRead(std::string_view pattern, std::string_view text, CfgMoment* moment, unsigned* found)
{
    *moment = CfgMoment {};
    unsigned read = 0;
    size_t i = 0; // in the pattern
    size_t j = 0; // in the text
    bool ok = true;
    while (i < pattern.size()) {
        char c = pattern[i];
        if (c == ' ') {
            while (j < text.size() && text[j] == ' ')
                ++j;
            ++i;
            continue;
        }
        if (!IsFieldLetter(c)) {
            if (j >= text.size() || text[j] != c) {
                ok = false;
                break;
            }
            ++i;
            ++j;
            continue;
        }
        size_t run = RunLength(pattern, i);
        bool fixed = i + run < pattern.size() && IsFieldLetter(pattern[i + run]);
        uint32_t value = 0;
        size_t taken = 0;
        if (fixed) {
            while (taken < run && j + taken < text.size() && IsDigit(text[j + taken]))
                value = AddDigit(value, text[j + taken++]);
            if (taken < run) {
                ok = false;
                break;
            }
        } else {
            while (j + taken < text.size() && IsDigit(text[j + taken]))
                value = AddDigit(value, text[j + taken++]);
            if (taken == 0) {
                ok = false;
                break;
            }
        }
        unsigned bit = 0;
        *FieldOf(moment, c, &bit) = value;
        read |= bit;
        i += run;
        j += taken;
    }
    if (found)
        *found = read;
    return ok;
}

std::string CfgItemPattern(const CfgItem& item)
{
    if (item.Text(CfgAttrFormat))
        return *item.Text(CfgAttrFormat);
    switch (item.kind) {
    case CfgKindEntryDate:
        return "DDMMYYYY";
    case CfgKindEntryTime:
        return item.Number(CfgAttrShowSeconds) ? "hh:mm:ss" : "hh:mm";
    case CfgKindEntryDateTime:
        return item.Number(CfgAttrShowSeconds) ? "DDMMYYYY hh:mm:ss" : "DDMMYYYY hh:mm";
    default:
        return "";
    }
}

std::string CfgDeviceClockText(const CfgMoment& moment)
{
    return CfgPatternWrite(CfgDeviceClockPattern, moment);
}

bool CfgReadDeviceClock(std::string_view text, CfgMoment* moment)
{
    return CfgPatternRead(CfgDeviceClockPattern, text, moment);
}

unsigned CfgReadTypedDate(std::string_view text, uint32_t currentYear, CfgMoment* moment)
{
    text = Trim(text);
    const char* pattern = "DDMMYYYY";
    bool shortYears = true;
    if (text.find('.') != std::string_view::npos)
        pattern = "D.M.Y";
    else if (text.find('/') != std::string_view::npos)
        pattern = "M/D/Y";
    else
        shortYears = false;
    CfgMoment read;
    unsigned found = 0;
    CfgPatternRead(pattern, text, &read, &found);
    if (shortYears && (found & CfgFieldYear) && read.year < 100)
        read.year += currentYear - currentYear % 100;
    moment->year = read.year;
    moment->month = read.month;
    moment->day = read.day;
    return found;
}

CfgToday CfgCurrentDate()
{
    if (DateSource())
        return DateSource()();
    std::time_t now = std::time(nullptr);
    // Called on the user-interface thread only, so the shared result of localtime is safe here.
    const std::tm* local = std::localtime(&now);
    if (!local)
        return CfgToday { 2000, 1, 1 };
    return CfgToday { static_cast<uint32_t>(local->tm_year + 1900), static_cast<uint32_t>(local->tm_mon + 1),
        static_cast<uint32_t>(local->tm_mday) };
}

void CfgSetDateSource(std::function<CfgToday()> source)
{
    DateSource() = std::move(source);
}

bool CfgIsValidDate(uint32_t year, uint32_t month, uint32_t day)
{
    if (year < 1601 || year > 30827 || month < 1 || month > 12 || day < 1)
        return false;
    static const uint32_t days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    uint32_t limit = days[month - 1];
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && leap)
        limit = 29;
    return day <= limit;
}
