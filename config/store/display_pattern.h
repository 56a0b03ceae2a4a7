// Date and time patterns of stored values: an item's `format`, the kind's default, the device clock
// text and the dates a user types. In a pattern each run of h, m, s (hours, minutes, seconds) or
// D, M, Y (day, month, year) is that field in decimal with leading zeros to the run's length; every
// other character stands for itself. The same pattern writes a value and reads it back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

struct CfgItem;

// A moment as the patterns see it: every field a plain number, 0 when a pattern does not hold it.
struct CfgMoment {
    uint32_t year = 0;
    uint32_t month = 0;
    uint32_t day = 0;
    uint32_t hour = 0;
    uint32_t minute = 0;
    uint32_t second = 0;
    bool operator==(const CfgMoment&) const = default;
};

// Bits for the fields a pattern holds or a reading found.
enum CfgMomentField : unsigned {
    CfgFieldYear = 1u << 0,
    CfgFieldMonth = 1u << 1,
    CfgFieldDay = 1u << 2,
    CfgFieldHour = 1u << 3,
    CfgFieldMinute = 1u << 4,
    CfgFieldSecond = 1u << 5,
};

// The fields whose letters occur in `pattern`.
unsigned CfgPatternFields(std::string_view pattern);

// Writes the moment by the pattern ("%0*u" per run; a value wider than its run is written whole).
std::string CfgPatternWrite(std::string_view pattern, const CfgMoment& moment);

// Reads `text` by the pattern, walking both together: a blank of the pattern matches any run of
// blanks, another literal must match exactly, a field run directly followed by another field letter
// takes exactly its length in digits, any other field run takes the digits up to the next character
// (at least one). Text after the end of the pattern is ignored. Fields are stored as they are read,
// the rest stay 0; `found` (optional) receives the bits of the fields read. False at the first
// mismatch (the fields read before it are kept).
bool CfgPatternRead(std::string_view pattern, std::string_view text, CfgMoment* moment, unsigned* found = nullptr);

// The pattern of a date, time or date-and-time item: its `format`, or the kind's default
// ("DDMMYYYY"; "hh:mm" / "hh:mm:ss"; "DDMMYYYY hh:mm" / "DDMMYYYY hh:mm:ss" with show_seconds).
std::string CfgItemPattern(const CfgItem& item);

// The device clock text: "hhmmssDDMMYYYY".
extern const char* const CfgDeviceClockPattern;
std::string CfgDeviceClockText(const CfgMoment& moment);
bool CfgReadDeviceClock(std::string_view text, CfgMoment* moment);

// A date as the user typed it: "D.M.Y" when it holds a ".", "M/D/Y" when it holds a "/", else
// "DDMMYYYY". A year below 100 read by the first two forms gets the century of `currentYear` added.
// Returns the fields found (CfgMomentField bits); the moment gets the date fields only.
unsigned CfgReadTypedDate(std::string_view text, uint32_t currentYear, CfgMoment* moment);

// Today's date from the local clock, or from the source a test installed (nullptr: the clock again).
struct CfgToday {
    uint32_t year;
    uint32_t month;
    uint32_t day;
};
CfgToday CfgCurrentDate();
void CfgSetDateSource(std::function<CfgToday()> source);

// True when year, month and day form a date of the Gregorian calendar that the platform's date
// formatting accepts (years 1601 to 30827).
bool CfgIsValidDate(uint32_t year, uint32_t month, uint32_t day);
