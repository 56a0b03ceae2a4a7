// Language identifiers (16-bit Windows language ids) and the choice of the resource language.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

enum : uint16_t {
    kLangEnglish = 1033,
    kLangGerman = 1031,
    kLangFrench = 1036,
    kLangItalian = 1040,
    kLangDutch = 1043,
    kLangSpanish = 10, // a primary id
};

// The primary language: the low 10 bits.
inline uint16_t PrimaryLanguage(uint16_t lang)
{
    return static_cast<uint16_t>(lang & 0x3ff);
}

// The resource language for a user-interface language among the languages a resource exists in: the
// user-interface language itself if present, else the first with the same primary language, else 1033.
uint16_t ChooseLanguageFrom(uint16_t uiLanguage, const std::vector<uint16_t>& available);

// A language id written in hexadecimal as the registry keeps it ("00000407", "0407"); 0 when unreadable.
uint16_t ParseHexLanguage(std::string_view text);
