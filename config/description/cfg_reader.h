// The line syntax shared by description and wizard files: one keyword and an argument list per line,
// comments, quotes and escapes, string tables ("stringtable", "string") and "str." replacement.
#pragma once

#include "config/description/cfg_types.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Longest line kept; the rest of a longer physical line is dropped (it is never read as a line of its own).
constexpr size_t CfgMaxLine = 4095;
// Readable bytes that follow every line CfgFile::NextLine hands out (the rest of the read buffer, or
// padding after the data): the line scans load 16 bytes at a time and may run past the line's end.
constexpr size_t CfgLinePad = 16;

// True when a line's keyword is `word` (a known, non-empty keyword). For the per-line checks: length
// and first character decide most of them without a call.
inline bool CfgIsKeyword(std::string_view keyword, std::string_view word)
{
    return keyword.size() == word.size() && keyword[0] == word[0]
        && std::memcmp(keyword.data(), word.data(), keyword.size()) == 0;
}

// A description or wizard file opened for line reading (binary, so "\r\n" and "\n" both end lines), or
// a text in memory. Buffered; can be rewound for a second reading pass.
class CfgFile {
public:
    CfgFile() = default;
    ~CfgFile();
    CfgFile(const CfgFile&) = delete;
    CfgFile& operator=(const CfgFile&) = delete;

    static std::unique_ptr<CfgFile> Open(const std::string& path);
    static std::unique_ptr<CfgFile> FromText(std::string text);

    // Reads the next physical line without its line end (at most CfgMaxLine characters). False at the end.
    bool ReadRawLine(std::string& line);
    // The same as a view into the read buffer (or into `scratch` for a line that spans two reads),
    // valid until the next read or rewind. At least CfgLinePad readable bytes follow the view: the read
    // buffer, the text in memory and `scratch` keep that much padding after their data.
    bool NextLine(std::string_view& line)
    {
        if (pos_ < size_) {
            const char* start = buffer_.data() + pos_;
            const char* nl = static_cast<const char*>(std::memchr(start, '\n', size_ - pos_));
            if (nl) {
                size_t len = static_cast<size_t>(nl - start);
                line = std::string_view(start, len < CfgMaxLine ? len : CfgMaxLine);
                pos_ += len + 1;
                return true;
            }
        }
        return NextSpanningLine(line);
    }
    void Rewind();
    const std::string& Path() const
    {
        return path_;
    }
    std::string scratch; // the raw line buffer CfgReadLine reuses

private:
    bool Fill();
    bool NextSpanningLine(std::string_view& line); // NextLine for a line that runs to the buffer's end

    FILE* file_ = nullptr;
    std::string path_;
    std::string buffer_; // the data of the last read (or the text), then CfgLinePad bytes of padding
    size_t size_ = 0; // bytes of data in buffer_
    size_t pos_ = 0;
    bool eof_ = false;
    bool memory_ = false;
};

// String table: key (exact comparison) to text, chained buckets.
class CfgStringTable {
public:
    static constexpr uint32_t kBuckets = 15013; // first prime not below 3 * 5000 entries

    // Sum modulo 2^32 of the key's bytes taken as 32-bit little-endian words (the last padded with 0).
    static uint32_t Hash(std::string_view key);

    CfgStringTable() = default;
    // Adds the entry or replaces the text of an existing key.
    void Set(std::string_view key, std::string_view text);
    // The text of the key, or nullptr.
    const std::string* Find(std::string_view key) const;
    size_t Size() const
    {
        return entries_.size();
    }

private:
    struct Entry {
        std::string key;
        std::string text;
        int32_t next; // next entry of the bucket, -1 at the end
    };
    std::vector<int32_t> heads_; // kBuckets heads, made by the first Set (many tables stay empty)
    std::vector<Entry> entries_;
};

// The string-table state of one reading pass (create a fresh one for every pass).
struct CfgStringContext {
    explicit CfgStringContext(std::string lang = {}, bool hasLanguage = false)
        : language(std::move(lang))
        , hasLanguage(hasLanguage)
    {
    }
    std::string language; // the description language; tables of this name override the first table
    bool hasLanguage = false; // false: no language requested (only the first table loads)
    std::unique_ptr<CfgStringTable> table; // created by the first "stringtable" line
    bool loading = false; // the current table loads
    bool inRun = false; // only "string" lines have followed the "stringtable" line so far
    CfgArgList scratch; // the replaced argument list is built here, then swapped in
};

// Reads the next line that is not empty or a comment into `keyword` and `args`. `line` counts every
// physical line. With a string-table context, loaded "stringtable"/"string" lines are consumed and
// "str." arguments replaced. Returns false at the end of the file.
bool CfgReadLine(CfgFile& file, std::string& keyword, CfgArgList& args, int& line, CfgStringContext* strings);

// The same, but only lines whose keyword `wantArgs` accepts get their arguments split and replaced;
// the others come back with their keyword and an empty argument list. String-table lines are handled
// as by CfgReadLine. For readers that skip most lines (the block index, the lines before a block).
bool CfgReadLineIf(CfgFile& file, std::string& keyword, CfgArgList& args, int& line, CfgStringContext* strings,
    bool (*wantArgs)(std::string_view keyword));
// The same with the keyword as a view into the line read, valid until the next read or rewind of
// `file`: for the readers of many lines, which need no copy of it.
bool CfgReadLineIf(CfgFile& file, std::string_view& keyword, CfgArgList& args, int& line, CfgStringContext* strings,
    bool (*wantArgs)(std::string_view keyword));

// Trims a physical line of blanks, tabs, carriage returns and line feeds and cuts it at a ";" outside
// double quotes (a quote preceded by a backslash does not count).
std::string_view CfgStripLine(std::string_view text);

// Splits one line (already read) into keyword and arguments, with trimming, comments, quotes and
// escapes; false for an empty or comment line. Also used by the initial-data reader.
bool CfgSplitLine(std::string_view text, std::string& keyword, CfgArgList& args);

// Replaces every argument that begins with "str." by lookup(name after "str."), when that gives a text.
// A replacement by the empty text ends the list there (an empty member ends an argument list).
template<typename Lookup> void CfgReplaceStr(CfgArgList& args, Lookup&& lookup)
{
    bool any = false;
    for (std::string_view a : args)
        if (a.size() >= 4 && a.compare(0, 4, "str.") == 0)
            any = true;
    if (!any)
        return;
    CfgArgList out;
    for (std::string_view a : args) {
        if (a.size() >= 4 && a.compare(0, 4, "str.") == 0) {
            const std::string* text = lookup(a.substr(4));
            if (text) {
                if (text->empty() || (*text)[0] == '\0')
                    break;
                out.Append(*text);
                continue;
            }
        }
        out.Append(a);
    }
    args = std::move(out);
}
