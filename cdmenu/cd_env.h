// What the CD start menu knows about the machine it runs on: the language (name and id), the country,
// the system name, and the options of its command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct CdEnvironment {
    std::string language = "English"; // the name scripts match ("German"), in English
    uint16_t languageId = 1033;
    std::string country;
    std::string system = "WINNT2K"; // "WIN32S", "WIN95", "WIN98", "WINNT35", "WINNT40", "WINNT2K"
};

// The system name of a platform version: `nt` for the NT family, else the 9x family ("WIN32S" for the
// Win32 extension of 16-bit Windows).
const char* CdSystemName(bool nt, bool win32s, unsigned major, unsigned minor);

// The English name of a language id by its primary language ("German" for 1031 and 2055); "" when unknown.
const char* CdLanguageName(uint16_t id);
// The id of a language name (any case) or of a number (decimal or "0x" hexadecimal); none when neither.
std::optional<uint16_t> CdLanguageId(std::string_view nameOrNumber);

// The command line: words separated by "/".
struct CdCommandLine {
    bool system = false; // show the "System:" message after start-up
    bool createBitmap = false; // "cb" / "createbitmap": the help-bitmap tool
    std::optional<std::string> language, country, os;
};
CdCommandLine CdParseCommandLine(std::string_view text);
// Applies "lang:", "country:" and "os:" to the environment: a known language name (or a number) sets
// the id too.
void CdApplyCommandLine(const CdCommandLine& line, CdEnvironment* env);
// The "System:" message text: language with its id, country, operating system.
std::string CdSystemMessage(const CdEnvironment& env);
