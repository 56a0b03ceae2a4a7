#include "common/text.h"

#include <cstdarg>
#include <cstdio>

std::string StrLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

int StrCompareNoCase(std::string_view a, std::string_view b)
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(AsciiLower(a[i]));
        unsigned char cb = static_cast<unsigned char>(AsciiLower(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StrEqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && StrCompareNoCase(a, b) == 0;
}

bool StrStartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && StrEqualNoCase(text.substr(0, prefix.size()), prefix);
}

bool StrEndsWithNoCase(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && StrEqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

uint32_t ParseUnsigned(std::string_view text, size_t* end)
{
    size_t i = 0;
    while (i < text.size() && (IsBlank(text[i]) || text[i] == '\r' || text[i] == '\n'))
        ++i;
    unsigned base = 10;
    size_t start = i;
    if (i < text.size() && text[i] == '0') {
        if (i + 2 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(text[i + 2]) < 16) {
            base = 16;
            i += 2;
            start = i;
        } else {
            base = 8;
        }
    }
    uint32_t value = 0;
    while (i < text.size() && DigitValue(text[i]) < static_cast<int>(base)) {
        value = value * base + static_cast<uint32_t>(DigitValue(text[i]));
        ++i;
    }
    if (end)
        *end = (i == start) ? 0 : i;
    return value;
}

std::optional<uint32_t> ParseUnsignedStrict(std::string_view text)
{
    std::string_view t = Trim(text);
    size_t used = 0;
    uint32_t value = ParseUnsigned(t, &used);
    if (used == 0 || used != t.size())
        return std::nullopt;
    return value;
}

int32_t ParseDecimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (IsBlank(text[i]) || text[i] == '\r' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
        ++i;
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

std::string_view TrimLeft(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.substr(i);
}

std::string_view TrimRight(std::string_view text)
{
    size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1]))
        --n;
    return text.substr(0, n);
}

std::string_view Trim(std::string_view text)
{
    return TrimRight(TrimLeft(text));
}

std::string_view TrimLineEnd(std::string_view text)
{
    size_t n = text.size();
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n'))
        --n;
    return text.substr(0, n);
}

std::string CutTo(std::string_view text, size_t limit)
{
    return std::string(text.substr(0, limit));
}

std::string StrEscapeControls(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if (b == '\\') {
            out += "\\\\";
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b < 0x20 || b >= 0x7f) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string StrFormat(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

bool WildcardMatch(std::string_view pattern, std::string_view name)
{
    // '?' one character, '*' any run; letters compare ignoring case, as the file system does.
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
