#include "common/language.h"

#include "common/text.h"

uint16_t ChooseLanguageFrom(uint16_t uiLanguage, const std::vector<uint16_t>& available)
{
    for (uint16_t lang : available)
        if (lang == uiLanguage)
            return lang;
    for (uint16_t lang : available)
        if (PrimaryLanguage(lang) == PrimaryLanguage(uiLanguage))
            return lang;
    return kLangEnglish;
}

uint16_t ParseHexLanguage(std::string_view text)
{
    text = Trim(text);
    if (text.empty() || text.size() > 8)
        return 0;
    uint32_t value = 0;
    for (char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return 0;
        value = value * 16 + digit;
    }
    return static_cast<uint16_t>(value & 0xffff);
}
