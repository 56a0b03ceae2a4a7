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

namespace {
// The escapes of StrEscapeControls and StrQuote: what they write for a character other than the
// backslash, \n, \r, \t (and the double quote when quoting).
enum class Others { Hex, Json, Keep };

std::string Escaped(std::string_view text, Others others, bool quote)
{
    static const char hex[] = "0123456789abcdef";
    static const char upper[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 2);
    if (quote)
        out += '"';
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
        } else if (quote && b == '"') {
            out += "\\\"";
        } else if (others == Others::Hex && (b < 0x20 || b >= 0x7f)) {
            out += "\\x";
            out += upper[b >> 4];
            out += upper[b & 15];
        } else if (others == Others::Json && (b < 0x20 || b == 0x7f)) {
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    if (quote)
        out += '"';
    return out;
}
} // namespace

std::string StrEscapeControls(std::string_view text)
{
    return Escaped(text, Others::Hex, false);
}

std::string StrQuote(std::string_view text, bool controls)
{
    return Escaped(text, controls ? Others::Json : Others::Keep, true);
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

namespace {
// Windows-1252, the ANSI code page of Western Windows: 0x80-0x9F hold these characters (the five bytes
// without a character stand for the control character of their own number); every other byte is the
// character of its number.
const char16_t kAnsi80[32] = { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC,
    0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next character of UTF-8 text, advancing `i`; a byte that starts no well-formed sequence is one
// character of its own, reported as 0xFFFFFFFF. Surrogates (read from UTF-16 without their pair) pass.
uint32_t NextUtf8(std::string_view s, size_t& i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = byte(i);
    size_t n = b < 0x80 ? 0 : b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : 9;
    if (n == 0) {
        ++i;
        return b;
    }
    if (n == 9 || i + n >= s.size()) {
        ++i;
        return 0xFFFFFFFF;
    }
    uint32_t c = b & (0x3F >> n);
    for (size_t k = 1; k <= n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFFFFFF;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    uint32_t least = n == 1 ? 0x80 : n == 2 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF) {
        ++i;
        return 0xFFFFFFFF;
    }
    i += n + 1;
    return c;
}
} // namespace

std::string Utf8FromAnsi(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kAnsi80[b - 0x80] : b);
    }
    return out;
}

// Characters without an ANSI byte become "?", as the A functions give them.
std::string AnsiFromUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t c = NextUtf8(text, i);
        char b = '?';
        if (c < 0x80 || (c >= 0xA0 && c < 0x100)) {
            b = static_cast<char>(c);
        } else {
            for (unsigned k = 0; k < 32; ++k)
                if (kAnsi80[k] == c)
                    b = static_cast<char>(0x80 + k);
        }
        out += b;
    }
    return out;
}

// UTF-16 LE to UTF-8; a surrogate without its pair is kept (as its own three bytes) so that it is
// written back unchanged, and an odd last byte is dropped.
std::string Utf8FromUtf16Le(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() / 2 + bytes.size() / 8);
    auto unit = [&](size_t k) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[k]))
            | static_cast<uint32_t>(static_cast<unsigned char>(bytes[k + 1])) << 8;
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string Utf16LeFromUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    auto put = [&](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (size_t i = 0; i < text.size();) {
        uint32_t c = NextUtf8(text, i);
        if (c == 0xFFFFFFFF)
            c = 0xFFFD;
        if (c >= 0x10000) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}
