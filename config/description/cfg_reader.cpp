#include "config/description/cfg_reader.h"

#include "common/text.h"

#include <algorithm>
#include <cstring>

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
    file->buffer_ = std::move(text);
    file->memory_ = true;
    return file;
}

bool CfgFile::Fill()
{
    if (memory_ || eof_ || !file_)
        return false;
    buffer_.resize(1 << 16);
    size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    buffer_.resize(n);
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
        if (pos_ >= buffer_.size() && !Fill())
            return any;
        const char* start = buffer_.data() + pos_;
        size_t avail = buffer_.size() - pos_;
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

void CfgFile::Rewind()
{
    pos_ = 0;
    if (memory_)
        return;
    buffer_.clear();
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

CfgStringTable::CfgStringTable()
    : heads_(kBuckets, -1)
{
}

void CfgStringTable::Set(std::string_view key, std::string_view text)
{
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

// Appends an argument; false when it is empty (an empty argument ends the list).
bool AddArg(CfgArgList& args, const std::string& arg)
{
    if (arg.empty() || arg[0] == '\0')
        return false;
    args.Append(arg);
    return true;
}
} // namespace

std::string_view CfgStripLine(std::string_view text)
{
    text = TrimLine(text);
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"' && (i == 0 || text[i - 1] != '\\'))
            quoted = !quoted;
        else if (c == ';' && !quoted)
            return TrimLine(text.substr(0, i));
    }
    return text;
}

bool CfgSplitLine(std::string_view text, std::string& keyword, CfgArgList& args)
{
    keyword.clear();
    args.Clear();
    text = CfgStripLine(text);
    if (text.empty())
        return false;
    size_t blank = 0;
    while (blank < text.size() && !IsBlank(text[blank]))
        ++blank;
    keyword.assign(text.substr(0, blank));
    if (blank >= text.size())
        return true;

    std::string_view rest = text.substr(blank + 1);
    const size_t n = rest.size();
    size_t p = 0;
    std::string arg;
    for (;;) {
        while (p < n && IsBlank(rest[p]))
            ++p;
        if (p >= n)
            break;
        if (rest[p] == '"') {
            size_t q = p + 1;
            while (q < n && !(rest[q] == '"' && rest[q - 1] != '\\'))
                ++q;
            if (q >= n)
                break; // no closing quote: the list ends without this argument
            Unescape(rest.substr(p + 1, q - p - 1), arg);
            p = q + 1;
            while (p < n && IsBlank(rest[p]))
                ++p;
            if (!AddArg(args, arg))
                break;
            if (p < n && rest[p] == ',') {
                ++p;
                continue;
            }
            break;
        }
        size_t comma = rest.find(',', p);
        std::string_view raw = TrimBlanks(rest.substr(p, comma == std::string_view::npos ? n - p : comma - p));
        Unescape(raw, arg);
        if (!AddArg(args, arg))
            break;
        if (comma == std::string_view::npos)
            break;
        p = comma + 1;
    }
    return true;
}

bool CfgReadLine(CfgFile& file, std::string& keyword, CfgArgList& args, int& line, CfgStringContext* strings)
{
    std::string& raw = file.scratch;
    while (file.ReadRawLine(raw)) {
        ++line;
        if (!CfgSplitLine(raw, keyword, args))
            continue;
        if (!strings)
            return true;
        if (keyword == "stringtable" && args.Count() >= 1) {
            if (!strings->table) {
                strings->table = std::make_unique<CfgStringTable>();
                strings->loading = true;
            } else {
                strings->loading = strings->hasLanguage && StrEqualNoCase(args.At(0), strings->language);
            }
            strings->inRun = true;
            continue;
        }
        if (keyword == "string") {
            if (strings->inRun && strings->loading && args.Count() >= 2) {
                strings->table->Set(args.At(0), args.At(1));
                continue;
            }
        } else {
            strings->inRun = false;
        }
        if (strings->table) {
            const CfgStringTable& table = *strings->table;
            CfgReplaceStr(args, [&table](std::string_view key) { return table.Find(key); });
        }
        return true;
    }
    return false;
}
