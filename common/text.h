// Text helpers shared by every program: the comparisons, number rules and trimming that the
// description, configuration and settings readers all apply the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Equality ignoring ASCII case (names in descriptions, configurations and settings files).
bool StrEqualNoCase(std::string_view a, std::string_view b);
// Three-way comparison ignoring ASCII case: <0, 0, >0 like strcmp.
int StrCompareNoCase(std::string_view a, std::string_view b);
bool StrStartsWithNoCase(std::string_view text, std::string_view prefix);
bool StrEndsWithNoCase(std::string_view text, std::string_view suffix);
inline char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string StrLower(std::string_view text);

// Reads an unsigned 32-bit number the way the suite reads numbers in its texts: decimal, "0x"/"0X"
// hexadecimal, or octal after a leading "0"; leading blanks are skipped, reading stops at the first
// character that does not belong to the number, and the value wraps modulo 2^32 like strtoul on a
// 32-bit system. `end` (optional) receives how many characters were used (0 when no digit was read).
uint32_t ParseUnsigned(std::string_view text, size_t* end = nullptr);
// Like ParseUnsigned, but the whole text (apart from surrounding blanks) must be a number.
std::optional<uint32_t> ParseUnsignedStrict(std::string_view text);
// Decimal integer with optional sign, `atoi` rules: leading blanks, stops at the first non-digit, 0 when none.
int32_t ParseDecimal(std::string_view text);

// File-name patterns: "*" any run of characters, "?" one character, letters ignoring case.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Blanks are spaces and tabs; TrimLineEnd removes carriage returns and line feeds.
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);
std::string_view Trim(std::string_view text);
std::string_view TrimLineEnd(std::string_view text);

// Copies at most `limit` characters: the fixed-size text fields of the suite's records.
std::string CutTo(std::string_view text, size_t limit);

// A text from a peer made safe to print on a terminal or in a log: control characters, DEL, bytes
// above 0x7F and the backslash itself are written as escapes (\n, \t, \r, \\, \x1B).
std::string StrEscapeControls(std::string_view text);
// A text in double quotes, with C's escapes for the quote, the backslash, \n, \r and \t; with
// `controls` also every other control character and DEL as \u00XX (a JSON string), else those kept as
// they are (the description dumps).
std::string StrQuote(std::string_view text, bool controls);

// Text encodings: ANSI is Windows-1252, the code page of Western Windows and of every text the suite
// stores, shows and receives from devices. Utf8FromAnsi converts every byte (the five unassigned bytes
// of 0x80-0x9F stand for the control character of their number); AnsiFromUtf8 gives "?" for a character
// without an ANSI byte. The UTF-16 LE pair keeps a lone surrogate (as three bytes) so it round-trips.
std::string Utf8FromAnsi(std::string_view text);
std::string AnsiFromUtf8(std::string_view text);
std::string Utf8FromUtf16Le(std::string_view bytes);
std::string Utf16LeFromUtf8(std::string_view text);

// printf-style formatting into a std::string.
std::string StrFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
