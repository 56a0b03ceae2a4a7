#include "config/description/cfg_reader.h"

#include "common/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// ---- CfgFile ----

CfgFile::~CfgFile()
{
    if (file_)
        std::fclose(file_);
}

std::unique_ptr<CfgFile> CfgFile::Open(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return nullptr;
    auto file = std::make_unique<CfgFile>();
    file->file_ = f;
    file->path_ = path;
    return file;
}

std::unique_ptr<CfgFile> CfgFile::FromText(std::string text)
{
    auto file = std::make_unique<CfgFile>();
    file->size_ = text.size();
    file->buffer_ = std::move(text);
    file->buffer_.append(CfgLinePad, '\0');
    file->memory_ = true;
    return file;
}

bool CfgFile::Fill()
{
    if (memory_ || eof_ || !file_)
        return false;
    constexpr size_t kRead = 1 << 16;
    buffer_.resize(kRead + CfgLinePad);
    size_t n = std::fread(buffer_.data(), 1, kRead, file_);
    size_ = n;
    pos_ = 0;
    if (n == 0) {
        eof_ = true;
        return false;
    }
    return true;
}

bool CfgFile::ReadRawLine(std::string& line)
{
    line.clear();
    bool any = false;
    for (;;) {
        if (pos_ >= size_ && !Fill())
            return any;
        const char* start = buffer_.data() + pos_;
        size_t avail = size_ - pos_;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', avail));
        size_t len = nl ? static_cast<size_t>(nl - start) : avail;
        if (line.size() < CfgMaxLine)
            line.append(start, std::min(len, CfgMaxLine - line.size()));
        any = true;
        pos_ += len;
        if (nl) {
            ++pos_;
            return true;
        }
    }
}

bool CfgFile::NextSpanningLine(std::string_view& line)
{
    // The line runs to the end of the buffer: gather it (and the rest after the next read) in `scratch`.
    if (!ReadRawLine(scratch))
        return false;
    size_t len = scratch.size();
    scratch.append(CfgLinePad, '\0'); // the padding the scans may read
    line = std::string_view(scratch.data(), len);
    return true;
}

void CfgFile::Rewind()
{
    pos_ = 0;
    if (memory_)
        return;
    buffer_.clear();
    size_ = 0;
    eof_ = false;
    if (file_)
        std::fseek(file_, 0, SEEK_SET);
}

// ---- CfgStringTable ----

uint32_t CfgStringTable::Hash(std::string_view key)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= key.size(); i += 4) {
        sum += static_cast<uint32_t>(static_cast<unsigned char>(key[i]))
            | static_cast<uint32_t>(static_cast<unsigned char>(key[i + 1])) << 8
            | static_cast<uint32_t>(static_cast<unsigned char>(key[i + 2])) << 16
            | static_cast<uint32_t>(static_cast<unsigned char>(key[i + 3])) << 24;
    }
    uint32_t last = 0;
    for (size_t s = 0; i < key.size(); ++i, s += 8)
        last |= static_cast<uint32_t>(static_cast<unsigned char>(key[i])) << s;
    return sum + last;
}

void CfgStringTable::Set(std::string_view key, std::string_view text)
{
    if (heads_.empty())
        heads_.assign(kBuckets, -1);
    uint32_t bucket = Hash(key) % kBuckets;
    for (int32_t i = heads_[bucket]; i >= 0; i = entries_[static_cast<size_t>(i)].next) {
        Entry& e = entries_[static_cast<size_t>(i)];
        if (e.key == key) {
            e.text.assign(text);
            return;
        }
    }
    entries_.push_back(Entry { std::string(key), std::string(text), heads_[bucket] });
    heads_[bucket] = static_cast<int32_t>(entries_.size() - 1);
}

const std::string* CfgStringTable::Find(std::string_view key) const
{
    if (heads_.empty())
        return nullptr;
    uint32_t bucket = Hash(key) % kBuckets;
    for (int32_t i = heads_[bucket]; i >= 0; i = entries_[static_cast<size_t>(i)].next) {
        const Entry& e = entries_[static_cast<size_t>(i)];
        if (e.key == key)
            return &e.text;
    }
    return nullptr;
}

// ---- line syntax ----

namespace {
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsLineTrim(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view TrimLine(std::string_view t)
{
    size_t b = 0;
    while (b < t.size() && IsLineTrim(t[b]))
        ++b;
    size_t e = t.size();
    while (e > b && IsLineTrim(t[e - 1]))
        --e;
    return t.substr(b, e - b);
}

std::string_view TrimBlanks(std::string_view t)
{
    size_t b = 0;
    while (b < t.size() && IsBlank(t[b]))
        ++b;
    size_t e = t.size();
    while (e > b && IsBlank(t[e - 1]))
        --e;
    return t.substr(b, e - b);
}

// Backslash escapes: \" \' \\ and \a \b \f \n \r \t \v; a backslash before anything else stays.
void Unescape(std::string_view raw, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            char n = raw[i + 1];
            char r = 0;
            switch (n) {
            case '"':
            case '\'':
            case '\\':
                r = n;
                break;
            case 'a':
                r = 7;
                break;
            case 'b':
                r = 8;
                break;
            case 'f':
                r = 12;
                break;
            case 'n':
                r = 10;
                break;
            case 'r':
                r = 13;
                break;
            case 't':
                r = 9;
                break;
            case 'v':
                r = 11;
                break;
            default:
                break;
            }
            if (r) {
                out.push_back(r);
                ++i;
                continue;
            }
        }
        out.push_back(c);
    }
}

const char* Find(const char* from, const char* end, char c)
{
    return from < end ? static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(end - from))) : nullptr;
}

bool StartsWithStr(std::string_view a)
{
    return a.size() >= 4 && std::memcmp(a.data(), "str.", 4) == 0;
}

// Appends an argument given as it stands in the line (escapes not yet resolved); false when it is
// empty (an empty argument ends the list). Sets *anyStr when the argument begins with "str.".
bool AddArg(CfgArgList& args, std::string_view raw, std::string& unescaped, bool* anyStr)
{
    if (raw.find('\\') != std::string_view::npos) {
        Unescape(raw, unescaped);
        raw = unescaped;
    }
    if (raw.empty() || raw[0] == '\0')
        return false;
    if (StartsWithStr(raw))
        *anyStr = true;
    args.Append(raw);
    return true;
}

// Splits the text after the keyword into arguments: separated by commas, trimmed of blanks, or in
// double quotes with escapes; the list ends at an empty argument or an unclosed quote. Returns true
// when an argument begins with "str." (only such lists need the string table).
bool SplitArgs(std::string_view rest, CfgArgList& args)
{
    bool anyStr = false;
    const size_t n = rest.size();
    const char* d = rest.data();
    size_t p = 0;
    std::string unescaped; // used only by arguments with a backslash
    for (;;) {
        while (p < n && IsBlank(d[p]))
            ++p;
        if (p >= n)
            break;
        if (d[p] == '"') {
            // The closing quote: the next one not preceded by a backslash.
            const char* q = Find(d + p + 1, d + n, '"');
            while (q && q[-1] == '\\')
                q = Find(q + 1, d + n, '"');
            if (!q)
                break; // no closing quote: the list ends without this argument
            size_t qi = static_cast<size_t>(q - d);
            std::string_view raw(d + p + 1, qi - p - 1);
            p = qi + 1;
            while (p < n && IsBlank(d[p]))
                ++p;
            if (!AddArg(args, raw, unescaped, &anyStr))
                break;
            if (p < n && d[p] == ',') {
                ++p;
                continue;
            }
            break;
        }
        const char* comma = Find(d + p, d + n, ',');
        size_t ci = comma ? static_cast<size_t>(comma - d) : n;
        std::string_view raw = TrimBlanks(rest.substr(p, ci - p));
        if (!AddArg(args, raw, unescaped, &anyStr))
            break;
        if (!comma)
            break;
        p = ci + 1;
    }
    return anyStr;
}

// Splits a stripped, non-empty line at its first blank into keyword and the text after the blank.
std::string_view SplitKeyword(std::string_view text, std::string_view& keyword)
{
    size_t blank = 0;
    while (blank < text.size() && !IsBlank(text[blank]))
        ++blank;
    keyword = text.substr(0, blank);
    return blank < text.size() ? text.substr(blank + 1) : std::string_view();
}

// Byte classes for splitting a plain line, one without backslashes or NULs before its comment and
// with quotes only around whole members (nearly every line of a description). Such a line splits in
// one scan; any other goes the general way (CfgStripLine, SplitKeyword, SplitArgs), which gives the
// same result for plain lines.
enum PlainClass : uint8_t {
    kText,
    kBlank, // blank or tab: trimmed, separates the keyword
    kLineEnd, // carriage return or line feed: trimmed at the ends of the line only
    kComma,
    kComment, // ";"
    kNotPlain, // double quote, backslash, NUL
};
constexpr std::array<uint8_t, 256> MakePlainClasses()
{
    std::array<uint8_t, 256> c {};
    c[' '] = c['\t'] = kBlank;
    c['\r'] = c['\n'] = kLineEnd;
    c[','] = kComma;
    c[';'] = kComment;
    c['"'] = c['\\'] = c[0] = kNotPlain;
    return c;
}
constexpr std::array<uint8_t, 256> kPlainClass = MakePlainClasses();

inline uint8_t ClassOf(char c)
{
    return kPlainClass[static_cast<unsigned char>(c)];
}

// The scans of a plain line, each to the first byte of the classes that stop it (or `end`). With SSE2
// they compare 16 bytes at a time with the stopping bytes; a load may run up to 15 bytes past `end`
// (CfgFile::NextLine guarantees CfgLinePad readable bytes after a line), hits there are not taken.
#if defined(__SSE2__)
template<char... Stops> const char* ScanTo(const char* p, const char* end)
{
    for (; p < end; p += 16) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hits = _mm_setzero_si128();
        ((hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, _mm_set1_epi8(Stops)))), ...);
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
        if (mask)
            return std::min(p + std::countr_zero(mask), end);
    }
    return end;
}
#endif

// The end of a keyword: a blank, line end, ";", quote, backslash or NUL.
inline const char* KeywordEnd(const char* p, const char* end)
{
#if defined(__SSE2__)
    return ScanTo<' ', '\t', '\r', '\n', ';', '"', '\\', '\0'>(p, end);
#else
    uint8_t cls;
    while (p < end && ((cls = ClassOf(*p)) == kText || cls == kComma))
        ++p;
    return p;
#endif
}

// The end of an unquoted member: a comma, ";", quote, backslash or NUL.
inline const char* MemberEnd(const char* p, const char* end)
{
#if defined(__SSE2__)
    return ScanTo<',', ';', '"', '\\', '\0'>(p, end);
#else
    uint8_t cls;
    while (p < end && (cls = ClassOf(*p)) != kComma && cls < kComment)
        ++p;
    return p;
#endif
}

// The end of a quoted member's text: a quote, backslash or NUL.
inline const char* QuotedEnd(const char* p, const char* end)
{
#if defined(__SSE2__)
    return ScanTo<'"', '\\', '\0'>(p, end);
#else
    while (p < end && ClassOf(*p) != kNotPlain)
        ++p;
    return p;
#endif
}

// A physical line cut into its keyword and the text after the blank that ends the keyword. The
// keyword is cut first; the rest is checked only when its arguments are wanted.
struct LineParts {
    std::string_view raw; // the physical line
    std::string_view rest;
    bool general = false; // cut the general way: `rest` is stripped and SplitArgs splits it
};

// The general way for lines with quotes, backslashes or NULs; false for an empty or comment line.
bool CutGeneral(LineParts& parts, std::string_view& keyword)
{
    std::string_view text = CfgStripLine(parts.raw);
    parts.rest = SplitKeyword(text, keyword);
    parts.general = true;
    return !text.empty();
}

bool IsTrim(uint8_t cls)
{
    return cls == kBlank || cls == kLineEnd;
}

// Cuts the keyword of a physical line; false for an empty or comment line. (The keyword is set
// directly, not through `parts`: copying it out of a record just written costs a store-forwarding
// stall per line.)
bool CutKeyword(std::string_view raw, LineParts& parts, std::string_view& keyword)
{
    parts.raw = raw;
    parts.general = false;
    const char* d = raw.data();
    size_t n = raw.size();
    size_t b = 0;
    while (b < n && IsTrim(ClassOf(d[b])))
        ++b;
    size_t k = static_cast<size_t>(KeywordEnd(d + b, d + n) - d);
    uint8_t cls = k < n ? ClassOf(d[k]) : uint8_t(kBlank);
    // A quote, backslash or NUL in the keyword, or a line end (which is trimmed when only blanks
    // follow it): rare, the general way.
    if (k < n && (cls == kNotPlain || cls == kLineEnd))
        return CutGeneral(parts, keyword);
    if (k == b)
        return false; // empty, or a comment from the start
    keyword = std::string_view(d + b, k - b);
    parts.rest = k < n && cls == kBlank ? std::string_view(d + k + 1, n - k - 1) : std::string_view();
    return true;
}

// Splits the text after the keyword in one scan, as SplitArgs splits it after CfgStripLine:
// members separated by commas and trimmed of blanks (the last, which ends at the comment or the line
// end, also of line ends), or quoted; an empty member ends the list. A member that begins with a
// double quote is the text up to the closing quote (a ";" or "," in it is text); after it blanks are
// skipped and a comma continues the list, anything else ends it. Meeting a quote inside an unquoted
// member, a backslash or NUL, or a quote not closed on the line, before the list ends, sets *plain to
// false (the text must go the general way); what follows the end of the list cannot change it.
// Returns true when a member begins with "str.".
bool SplitPlainRest(std::string_view rest, CfgArgList& args, bool* plain)
{
    bool anyStr = false;
    const char* p = rest.data();
    const char* end = p + rest.size();
    *plain = true;
    for (;;) {
        while (p < end && ClassOf(*p) == kBlank)
            ++p;
        if (p < end && *p == '"') {
            // Quoted: taken as it stands when it holds no escape. The opening quote follows a blank or
            // a comma and the closing one a character other than a backslash, so both count as
            // quotes for the comment rule as well.
            const char* q = QuotedEnd(p + 1, end);
            if (q == end || *q != '"') {
                *plain = false;
                return false;
            }
            if (q == p + 1)
                break; // "" ends the list
            std::string_view a(p + 1, static_cast<size_t>(q - p - 1));
            anyStr |= StartsWithStr(a);
            args.AppendPlain(a);
            p = q + 1;
            while (p < end && ClassOf(*p) == kBlank)
                ++p;
            if (p == end || *p != ',')
                break;
            ++p;
            continue;
        }
        const char* e = MemberEnd(p, end);
        uint8_t cls = e < end ? ClassOf(*e) : uint8_t(kText);
        if (e < end && cls == kNotPlain) {
            *plain = false;
            return false;
        }
        bool last = e == end || cls == kComment;
        const char* stop = e;
        while (stop > p && (ClassOf(stop[-1]) == kBlank || (last && ClassOf(stop[-1]) == kLineEnd)))
            --stop;
        if (stop == p)
            break;
        std::string_view a(p, static_cast<size_t>(stop - p));
        anyStr |= StartsWithStr(a);
        args.AppendPlain(a);
        if (last)
            break;
        p = e + 1;
    }
    return anyStr;
}

// Splits the arguments after the keyword: a plain rest (no backslash or NUL before its comment, quotes
// only around whole members, as in nearly every line of a description) in one scan, any other the
// general way. Returns true when an argument begins with "str.".
bool SplitRest(LineParts& parts, CfgArgList& args)
{
    if (!parts.general) {
        bool plain = false;
        bool anyStr = SplitPlainRest(parts.rest, args, &plain);
        if (plain)
            return anyStr;
        args.Clear();
        std::string_view keyword; // the same as cut before: the keyword held no quote or backslash
        CutGeneral(parts, keyword);
    }
    return SplitArgs(parts.rest, args);
}

// CfgReplaceStr with the string table, building the new list in the context's scratch list so that
// neither list gives up its storage. For lists that hold a "str." argument.
void ReplaceFromTable(CfgArgList& args, CfgStringContext& strings)
{
    const CfgStringTable& table = *strings.table;
    CfgArgList& out = strings.scratch;
    out.Clear();
    for (std::string_view a : args) {
        if (StartsWithStr(a)) {
            const std::string* text = table.Find(a.substr(4));
            if (text) {
                if (text->empty() || (*text)[0] == '\0')
                    break;
                out.Append(*text);
                continue;
            }
        }
        out.AppendPlain(a); // a member of a list: non-empty, without NUL
    }
    std::swap(args, out);
}
} // namespace

std::string_view CfgStripLine(std::string_view text)
{
    text = TrimLine(text);
    // A ";" outside double quotes starts a comment; a quote preceded by a backslash does not count.
    const char* d = text.data();
    const char* end = d + text.size();
    const char* at = d;
    const char* semi = Find(at, end, ';');
    bool quoted = false;
    for (;;) {
        if (!quoted) {
            if (semi && semi < at)
                semi = Find(at, end, ';');
            const char* quote = Find(at, semi ? semi : end, '"');
            if (!quote)
                return semi ? TrimLine(text.substr(0, static_cast<size_t>(semi - d))) : text;
            if (quote == d || quote[-1] != '\\')
                quoted = true;
            at = quote + 1;
        } else {
            const char* quote = Find(at, end, '"');
            if (!quote)
                return text;
            if (quote[-1] != '\\')
                quoted = false;
            at = quote + 1;
        }
    }
}

bool CfgSplitLine(std::string_view text, std::string& keyword, CfgArgList& args)
{
    keyword.clear();
    args.Clear();
    text = CfgStripLine(text);
    if (text.empty())
        return false;
    std::string_view kw;
    std::string_view rest = SplitKeyword(text, kw);
    keyword.assign(kw);
    SplitArgs(rest, args);
    return true;
}

bool CfgReadLineIf(CfgFile& file, std::string_view& keyword, CfgArgList& args, int& line, CfgStringContext* strings,
    bool (*wantArgs)(std::string_view keyword))
{
    std::string_view raw;
    LineParts parts;
    while (file.NextLine(raw)) {
        ++line;
        args.Clear();
        if (!CutKeyword(raw, parts, keyword)) {
            keyword = {};
            continue;
        }
        bool want = !wantArgs || wantArgs(keyword);
        if (!strings) {
            if (want)
                SplitRest(parts, args);
            return true;
        }
        if (CfgIsKeyword(keyword, "stringtable")) {
            SplitRest(parts, args);
            if (args.Count() >= 1) {
                if (!strings->table) {
                    strings->table = std::make_unique<CfgStringTable>();
                    strings->loading = true;
                } else {
                    strings->loading = strings->hasLanguage && StrEqualNoCase(args.At(0), strings->language);
                }
                strings->inRun = true;
                continue;
            }
            strings->inRun = false;
            return true; // no arguments: nothing to replace
        }
        bool anyStr = false; // an argument begins with "str."
        if (CfgIsKeyword(keyword, "string")) {
            if (strings->inRun && strings->loading) {
                anyStr = SplitRest(parts, args);
                if (args.Count() >= 2) {
                    strings->table->Set(args.At(0), args.At(1));
                    continue;
                }
                want = true; // already split
            }
        } else {
            strings->inRun = false;
        }
        if (!want)
            return true;
        if (args.Empty())
            anyStr = SplitRest(parts, args);
        if (strings->table && anyStr)
            ReplaceFromTable(args, *strings);
        return true;
    }
    return false;
}

bool CfgReadLineIf(CfgFile& file, std::string& keyword, CfgArgList& args, int& line, CfgStringContext* strings,
    bool (*wantArgs)(std::string_view keyword))
{
    std::string_view kw = keyword;
    bool ok = CfgReadLineIf(file, kw, args, line, strings, wantArgs);
    if (kw.data() != keyword.data())
        keyword.assign(kw);
    return ok;
}

bool CfgReadLine(CfgFile& file, std::string& keyword, CfgArgList& args, int& line, CfgStringContext* strings)
{
    return CfgReadLineIf(file, keyword, args, line, strings, nullptr);
}
