#include "common/locale.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<const LocaleFormat*> g_installed { nullptr };

std::string Pad(unsigned value, size_t width)
{
    std::string s = std::to_string(value);
    if (s.size() >= width)
        return s;
    std::string out(width - s.size(), '0');
    out += s;
    return out;
}

// Expands a Windows date or time picture. A run of one letter is one element; quoted text is literal
// ('' inside quotes is one quote). Letters without a meaning are copied.
std::string Expand(std::string_view picture, const LocaleDate* date, const LocaleTime* time, const LocalePatterns& p)
{
    std::string out;
    size_t i = 0;
    while (i < picture.size()) {
        char c = picture[i];
        if (c == '\'') {
            ++i;
            while (i < picture.size()) {
                if (picture[i] == '\'') {
                    if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                        out += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out += picture[i++];
            }
            continue;
        }
        size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c)
            ++run;
        bool used = true;
        if (date && c == 'd' && run <= 2)
            out += Pad(date->day, run);
        else if (date && c == 'M' && run <= 2)
            out += Pad(date->month, run);
        else if (date && c == 'y')
            out += run <= 2 ? Pad(date->year % 100u, run) : Pad(date->year, 4);
        else if (time && (c == 'h' || c == 'H') && run <= 2) {
            unsigned h = time->hour;
            if (c == 'h') {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            out += Pad(h, run);
        } else if (time && c == 'm' && run <= 2)
            out += Pad(time->minute, run);
        else if (time && c == 's' && run <= 2)
            out += Pad(time->second, run);
        else if (time && c == 't') {
            const std::string& marker = time->hour < 12 ? p.am : p.pm;
            out += run == 1 ? marker.substr(0, 1) : marker;
        } else
            used = false;
        if (!used)
            out.append(run, c);
        i += run;
    }
    return out;
}

// The time picture without its seconds and the separator before them (TIME_NOSECONDS).
std::string WithoutSeconds(std::string_view picture)
{
    std::string out(picture);
    size_t s = out.find('s');
    if (s == std::string::npos)
        return out;
    size_t end = s;
    while (end < out.size() && out[end] == 's')
        ++end;
    size_t start = s;
    while (start > 0 && out[start - 1] != 'm' && out[start - 1] != 'h' && out[start - 1] != 'H')
        --start;
    out.erase(start, end - start);
    return out;
}
} // namespace

std::string PatternLocale::Number(std::string_view number, int decimals) const
{
    size_t i = 0;
    bool negative = false;
    if (i < number.size() && (number[i] == '-' || number[i] == '+')) {
        negative = number[i] == '-';
        ++i;
    }
    std::string whole, fraction;
    while (i < number.size() && number[i] >= '0' && number[i] <= '9')
        whole += number[i++];
    if (i < number.size() && number[i] == '.') {
        ++i;
        while (i < number.size() && number[i] >= '0' && number[i] <= '9')
            fraction += number[i++];
    }
    if (i != number.size() || (whole.empty() && fraction.empty()))
        return std::string(number);
    if (decimals < 0)
        decimals = 0;
    size_t keep = static_cast<size_t>(decimals);
    // Round half up on the decimal text itself: no binary floating point in between.
    bool carry = fraction.size() > keep && fraction[keep] >= '5';
    fraction.resize(keep, '0');
    std::string digits = whole + fraction;
    for (size_t k = digits.size(); carry && k > 0; --k) {
        if (digits[k - 1] == '9') {
            digits[k - 1] = '0';
        } else {
            ++digits[k - 1];
            carry = false;
        }
    }
    if (carry)
        digits = std::string(1, '1') + digits;
    whole = digits.substr(0, digits.size() - keep);
    fraction = digits.substr(digits.size() - keep);
    size_t nz = whole.find_first_not_of('0');
    if (nz == std::string::npos)
        whole = std::string(p_.leadingZero ? 1 : 0, '0');
    else
        whole.erase(0, nz);
    std::string grouped;
    for (size_t k = 0; k < whole.size(); ++k) {
        if (k > 0 && p_.grouping > 0 && (whole.size() - k) % p_.grouping == 0)
            grouped += p_.thousand;
        grouped += whole[k];
    }
    if (keep > 0)
        grouped += p_.decimal + fraction;
    bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = negative && !zero ? "-" : "";
    out += grouped;
    return out;
}

std::string PatternLocale::ShortDate(const LocaleDate& date) const
{
    return Expand(p_.shortDate, &date, nullptr, p_);
}

std::string PatternLocale::Time(const LocaleTime& time, bool withSeconds) const
{
    return Expand(withSeconds ? p_.time : WithoutSeconds(p_.time), nullptr, &time, p_);
}

const LocaleFormat& EnglishLocale()
{
    static const PatternLocale english { LocalePatterns {} };
    return english;
}

const LocaleFormat& CurrentLocale()
{
    const LocaleFormat* installed = g_installed.load();
    return installed ? *installed : SystemLocale();
}

void InstallLocale(const LocaleFormat* format)
{
    g_installed.store(format);
}

std::string LocaleNumber(std::string_view number, int decimals)
{
    return CurrentLocale().Number(number, decimals);
}

std::string LocaleInteger(int64_t value)
{
    return CurrentLocale().Number(std::to_string(value), 0);
}

std::string LocaleShortDate(const LocaleDate& date)
{
    return CurrentLocale().ShortDate(date);
}

std::string LocaleTimeText(const LocaleTime& time, bool withSeconds)
{
    return CurrentLocale().Time(time, withSeconds);
}

namespace {
// The country languages where no system locale list is available: the countries of the languages
// the devices' firmware comes in, with the names the Windows locales give them.
struct CountryLanguage {
    int country;
    const char* language;
};
const CountryLanguage kCountryLanguages[] = {
    { 1, "English (United States)" },
    { 31, "Dutch (Netherlands)" },
    { 32, "Dutch (Belgium)" },
    { 33, "French (France)" },
    { 34, "Spanish (Traditional Sort)" },
    { 39, "Italian (Italy)" },
    { 41, "German (Switzerland)" },
    { 43, "German (Austria)" },
    { 44, "English (United Kingdom)" },
    { 45, "Danish" },
    { 46, "Swedish" },
    { 47, "Norwegian (Bokmal)" },
    { 48, "Polish" },
    { 49, "German (Germany)" },
    { 351, "Portuguese (Portugal)" },
    { 352, "German (Luxembourg)" },
    { 358, "Finnish" },
};
} // namespace

std::string LocaleFormat::LanguageForCountry(int country) const
{
    for (const CountryLanguage& c : kCountryLanguages)
        if (c.country == country)
            return c.language;
    return {};
}
