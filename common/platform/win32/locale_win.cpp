#include "common/locale.h"
#include "common/text.h"

#include <windows.h>

#include <string>

namespace {
// The search of LanguageForCountry: EnumSystemLocalesA's callback has no context argument.
thread_local int t_country = 0;
thread_local std::string t_language;

BOOL CALLBACK FindCountryLocale(LPSTR idText)
{
    LCID id = static_cast<LCID>(ParseUnsigned(std::string("0x") + idText));
    char buffer[128];
    int n = GetLocaleInfoA(id, LOCALE_ICOUNTRY, buffer, sizeof buffer);
    if (n <= 1 || ParseDecimal(std::string(buffer, static_cast<size_t>(n - 1))) != t_country)
        return TRUE;
    n = GetLocaleInfoA(id, LOCALE_SLANGUAGE, buffer, sizeof buffer);
    if (n <= 1)
        return TRUE;
    t_language.assign(buffer, static_cast<size_t>(n - 1));
    return FALSE; // the first installed locale of the country
}

std::string Info(LCTYPE type, const char* fallback)
{
    char buffer[32];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
    return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string(fallback);
}

// The user's locale through the Windows formatting functions.
class Win32Locale : public LocaleFormat {
public:
    std::string Number(std::string_view number, int decimals) const override
    {
        std::string decimal = Info(LOCALE_SDECIMAL, ".");
        std::string thousand = Info(LOCALE_STHOUSAND, ",");
        std::string grouping = Info(LOCALE_SGROUPING, "3;0");
        NUMBERFMTA fmt {};
        fmt.NumDigits = decimals < 0 ? 0u : static_cast<UINT>(decimals);
        fmt.LeadingZero = static_cast<UINT>(ParseDecimal(Info(LOCALE_ILZERO, "1")));
        // "3;0" means groups of three; "3;2;0" (Indian) is given to Windows as 32.
        UINT group = 0;
        for (char c : grouping)
            if (c >= '1' && c <= '9')
                group = group * 10 + static_cast<UINT>(c - '0');
        fmt.Grouping = group;
        fmt.lpDecimalSep = decimal.data();
        fmt.lpThousandSep = thousand.data();
        fmt.NegativeOrder = static_cast<UINT>(ParseDecimal(Info(LOCALE_INEGNUMBER, "1")));
        std::string in(number);
        char out[128];
        int n = GetNumberFormatA(LOCALE_USER_DEFAULT, 0, in.c_str(), &fmt, out, sizeof out);
        return n > 1 ? std::string(out, static_cast<size_t>(n - 1)) : in;
    }

    std::string ShortDate(const LocaleDate& date) const override
    {
        SYSTEMTIME st {};
        st.wYear = date.year;
        st.wMonth = date.month;
        st.wDay = date.day;
        char out[128];
        int n = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, out, sizeof out);
        return n > 1 ? std::string(out, static_cast<size_t>(n - 1)) : EnglishLocale().ShortDate(date);
    }

    std::string Time(const LocaleTime& time, bool withSeconds) const override
    {
        SYSTEMTIME st {};
        st.wYear = 2000;
        st.wMonth = 1;
        st.wDay = 1;
        st.wHour = time.hour;
        st.wMinute = time.minute;
        st.wSecond = time.second;
        char out[128];
        int n = GetTimeFormatA(LOCALE_USER_DEFAULT, withSeconds ? 0 : TIME_NOSECONDS, &st, nullptr, out, sizeof out);
        return n > 1 ? std::string(out, static_cast<size_t>(n - 1)) : EnglishLocale().Time(time, withSeconds);
    }

    // The user-interface language: GetUserDefaultUILanguage where the system has it (Windows 2000 and
    // later, bound by name), else the user's default language.
    std::string LanguageName() const override
    {
        LANGID lang = 0;
        using Fn = LANGID(WINAPI*)();
        HMODULE kernel = GetModuleHandleA("kernel32.dll");
        auto fn = kernel
            ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetUserDefaultUILanguage")))
            : nullptr;
        if (fn)
            lang = fn();
        if (lang == 0)
            lang = GetUserDefaultLangID();
        char buffer[64];
        int n = GetLocaleInfoA(MAKELCID(lang, SORT_DEFAULT), LOCALE_SENGLANGUAGE, buffer, sizeof buffer);
        return n > 1 ? std::string(buffer, static_cast<size_t>(n - 1)) : std::string("English");
    }
    std::string CountryName() const override
    {
        return Info(LOCALE_SENGCOUNTRY, "United States");
    }
    int CountryCode() const override
    {
        return ParseDecimal(Info(LOCALE_ICOUNTRY, "1"));
    }
    std::string LanguageForCountry(int country) const override
    {
        t_country = country;
        t_language.clear();
        EnumSystemLocalesA(FindCountryLocale, LCID_INSTALLED);
        return t_language;
    }
};
} // namespace

const LocaleFormat& SystemLocale()
{
    static const Win32Locale locale;
    return locale;
}
