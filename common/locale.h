// Locale formats for numbers, dates and times the user sees (build dates in the about box, device
// clocks, file sizes). On Windows they come from the user's locale (GetNumberFormatA, GetDateFormatA,
// GetTimeFormatA); elsewhere a fixed English format. Tests install other formats through InstallLocale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct LocaleDate {
    uint16_t year = 0;
    uint16_t month = 1; // 1..12
    uint16_t day = 1; // 1..31
};

struct LocaleTime {
    uint16_t hour = 0; // 0..23
    uint16_t minute = 0;
    uint16_t second = 0;
};

class LocaleFormat {
public:
    virtual ~LocaleFormat() = default;
    // `number` is plain decimal text ("-1234.5"); the result has `decimals` digits after the decimal
    // separator (rounded half up), the integer part grouped. Text that is no number comes back as is.
    virtual std::string Number(std::string_view number, int decimals) const = 0;
    virtual std::string ShortDate(const LocaleDate& date) const = 0;
    virtual std::string Time(const LocaleTime& time, bool withSeconds) const = 0;
    // The English name of the user's interface language ("German"), the English name of the user's
    // country and its country code (the international dialling code, 49 for Germany).
    virtual std::string LanguageName() const
    {
        return "English";
    }
    virtual std::string CountryName() const
    {
        return "United States";
    }
    virtual int CountryCode() const
    {
        return 1;
    }
    // The name of the first installed locale's language whose country code is `country` ("German
    // (Germany)"), "" when none is. Elsewhere than on Windows a fixed table of the countries the
    // devices' firmware is made for.
    virtual std::string LanguageForCountry(int country) const;
};

// The pictures of a portable locale, in the Windows picture syntax: d dd M MM yy yyyy for dates,
// h hh (12-hour) H HH m mm s ss t tt for times, text in single quotes taken literally.
struct LocalePatterns {
    std::string decimal = ".";
    std::string thousand = ",";
    unsigned grouping = 3; // digits per group; 0 = no grouping
    bool leadingZero = true; // "0.5" rather than ".5"
    std::string shortDate = "M/d/yyyy";
    std::string time = "h:mm:ss tt";
    std::string am = "AM";
    std::string pm = "PM";
    std::string languageName = "English";
    std::string countryName = "United States";
    int countryCode = 1;
};

class PatternLocale : public LocaleFormat {
public:
    explicit PatternLocale(LocalePatterns patterns)
        : p_(std::move(patterns))
    {
    }
    std::string Number(std::string_view number, int decimals) const override;
    std::string ShortDate(const LocaleDate& date) const override;
    std::string Time(const LocaleTime& time, bool withSeconds) const override;
    std::string LanguageName() const override
    {
        return p_.languageName;
    }
    std::string CountryName() const override
    {
        return p_.countryName;
    }
    int CountryCode() const override
    {
        return p_.countryCode;
    }

private:
    LocalePatterns p_;
};

// The fixed English format (the default on systems without a Windows locale).
const LocaleFormat& EnglishLocale();
// The user's locale on Windows, the English format elsewhere.
const LocaleFormat& SystemLocale();

// The format in use: the system's unless a test or a program installed another.
const LocaleFormat& CurrentLocale();
// Installs a format (kept by pointer; it must outlive its use). Null returns to the system's.
void InstallLocale(const LocaleFormat* format);

std::string LocaleNumber(std::string_view number, int decimals);
std::string LocaleInteger(int64_t value);
std::string LocaleShortDate(const LocaleDate& date);
std::string LocaleTimeText(const LocaleTime& time, bool withSeconds = true);
