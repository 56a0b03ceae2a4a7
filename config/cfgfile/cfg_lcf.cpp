// Configuration files: the three header lines, export (scrambling secret values) and import.
#include "common/platform/file.h"
#include "common/scramble.h"
#include "common/text.h"
#include "config/cfgfile/cfg_file.h"
#include "config/cfgfile/cfg_line.h"
#include "config/description/cfg_load.h"
#include "config/store/cfg_store.h"

#include <cctype>
#include <cstdio>
#include <memory>

namespace {

// A header field must not end its line or its parentheses early: such characters become blanks.
std::string HeaderField(std::string_view text, char close)
{
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == close)
            c = ' ';
    return out;
}

// Splits text into lines (without line ends).
class LineSplitter {
public:
    explicit LineSplitter(std::string_view text)
        : text_(text)
    {
    }
    bool Next(std::string_view* line)
    {
        if (pos_ >= text_.size())
            return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos)
            end = text_.size();
        *line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return true;
    }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

std::string_view TrimCrLf(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

// "(" text ")" at the start of the line: the text up to the first ")" (or the end of the line).
bool Parenthesised(std::string_view line, std::string* out, bool allowEmpty)
{
    if (line.empty() || line[0] != '(')
        return false;
    size_t close = line.find(')', 1);
    std::string_view inner = line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
    if (inner.empty() && !allowEmpty)
        return false;
    *out = std::string(inner);
    return true;
}

// A hexadecimal number as "%lx" reads it: blanks, a sign, "0x", then digits; false without a digit.
bool ScanHex(std::string_view text, size_t* pos, uint32_t* value)
{
    size_t i = *pos;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    size_t start = i;
    uint64_t v = 0;
    while (i < text.size() && isxdigit(static_cast<unsigned char>(text[i]))) {
        char c = text[i];
        unsigned d = (c >= '0' && c <= '9') ? c - '0' : (c | 0x20) - 'a' + 10;
        v = v * 16 + d;
        if (v > 0xFFFFFFFFull)
            v = 0xFFFFFFFFull; // strtoul clamps on overflow
        ++i;
    }
    if (i == start)
        return false;
    uint32_t r = static_cast<uint32_t>(v);
    *value = negative ? 0u - r : r;
    *pos = i;
    return true;
}

// The masks of the second header line: "(" version ")" blanks "(" hex ";" hex ")".
void ParseMasks(std::string_view line, CfgFileHeader* header)
{
    size_t close = line.find(')', 1);
    if (close == std::string_view::npos || close == 1)
        return;
    size_t i = close + 1;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i >= line.size() || line[i] != '(')
        return;
    ++i;
    uint32_t feature = 0, hardware = 0;
    if (!ScanHex(line, &i, &feature))
        return;
    header->featureMask = feature;
    if (i >= line.size() || line[i] != ';')
        return;
    ++i;
    if (!ScanHex(line, &i, &hardware))
        return;
    header->hardwareMask = hardware;
    header->masksGiven = true;
}

bool IsSection(std::string_view line)
{
    return CfgLineKindOf(CfgTrimLine(line)) == CfgLineKind::Section;
}

} // namespace

std::string CfgFileHeaderText(std::string_view comment, std::string_view deviceType, std::string_view version,
    uint32_t featureMask, uint32_t hardwareMask)
{
    std::string c = HeaderField(comment, ')');
    std::string v = HeaderField(version, ')');
    std::string t = HeaderField(deviceType, ']');
    return StrFormat(
        "(%s)\r\n(%s) (0x%08x;0x%08x)\r\n[%s]\r\n", c.c_str(), v.c_str(), featureMask, hardwareMask, t.c_str());
}

int CfgWriteFileHeader(CfgTempStream& out, std::string_view comment, std::string_view deviceType,
    std::string_view version, uint32_t featureMask, uint32_t hardwareMask)
{
    std::string text = CfgFileHeaderText(comment, deviceType, version, featureMask, hardwareMask);
    return out.Write(text) == text.size() ? 1 : 0;
}

bool CfgParseFileHeader(std::string_view text, CfgFileHeader* header)
{
    *header = CfgFileHeader {};
    LineSplitter lines(text);
    std::string_view line[3];
    for (auto& l : line) {
        if (!lines.Next(&l))
            return false;
        l = TrimCrLf(l).substr(0, CfgMaxHeaderLine);
    }
    // The save dialog allows an empty comment, so "()" is a valid first line.
    if (!Parenthesised(line[0], &header->comment, true) || !Parenthesised(line[1], &header->version, false))
        return false;
    ParseMasks(line[1], header);
    // The device line opens the text: without its "]" the importer would find no section line and drop
    // the whole text.
    size_t close = line[2].find(']');
    if (line[2].size() < 2 || line[2][0] != '[' || close == std::string_view::npos || close == 1)
        return false;
    header->deviceType = std::string(line[2].substr(1, close - 1));
    return true;
}

bool CfgReadFileHeader(const std::string& path, CfgFileHeader* header)
{
    *header = CfgFileHeader {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    // Three lines of any length; each is cut to CfgMaxHeaderLine characters when parsed.
    std::string head;
    int lines = 0;
    int c;
    while (lines < 3 && (c = std::fgetc(f)) != EOF) {
        if (c == '\n')
            ++lines;
        if (head.size() < 3 * 4096)
            head.push_back(static_cast<char>(c));
    }
    std::fclose(f);
    return CfgParseFileHeader(head, header);
}

bool CfgIsSecret(const CfgItem& item)
{
    return item.Number(CfgAttrHidden)
        && (item.kind == CfgKindEntryText || item.kind == CfgKindEntryNumbers || item.kind == CfgKindEntryHex);
}

namespace {

// The item or column an assignment line addresses, for telling secret values apart.
const CfgItem* Addressed(const CfgDescription& desc, std::string_view name)
{
    CfgTarget t = CfgClassifyName(desc, name);
    if (!t.item)
        return nullptr;
    switch (t.form) {
    case CfgTarget::Item:
        return t.item;
    case CfgTarget::Column: {
        uint32_t n = CfgLeadingHex(t.columnText);
        if (!t.item->IsTable() || n < 1 || n > t.item->columns.size())
            return nullptr;
        return t.item->columns[n - 1].get();
    }
    case CfgTarget::Cell:
        if (!t.item->IsTable())
            return nullptr;
        for (const auto& col : t.item->columns)
            if (col->name && StrEqualNoCase(*col->name, t.columnText))
                return col.get();
        return nullptr;
    }
    return nullptr;
}

} // namespace

bool CfgExportFileWith(CfgTempStream& text, const CfgDescription* desc, std::string_view deviceType,
    std::string_view version, uint32_t featureMask, uint32_t hardwareMask, const std::string& path,
    std::string_view comment, bool noCrypt)
{
    std::string out = CfgFileHeaderText(comment, deviceType, version, featureMask, hardwareMask);
    text.Rewind();
    std::string raw;
    bool inside = false;
    while (text.ReadLine(&raw)) {
        if (raw.size() > CfgMaxTextLine)
            raw.resize(CfgMaxTextLine);
        std::string_view line = TrimCrLf(raw);
        std::string_view t = CfgTrimLine(line);
        CfgLineKind kind = CfgLineKindOf(t);
        if (kind == CfgLineKind::Section) {
            inside = true;
            continue;
        }
        if (!inside || !desc || kind != CfgLineKind::Assign) {
            out.append(line).append("\r\n");
            continue;
        }
        size_t eq = line.find('=');
        std::string_view head = line.substr(0, eq);
        std::string_view value = TrimLeft(line.substr(eq + 1));
        const CfgItem* item = Addressed(*desc, Trim(head));
        out.append(head);
        if (item && CfgIsSecret(*item) && !value.empty() && !noCrypt)
            out.append("== ").append(CfgScramble(value));
        else
            out.append("= ").append(value);
        out.append("\r\n");
    }
    text.Rewind();
    // The file is replaced as a whole, so a failed export never leaves half a configuration behind.
    return FileWriteAtomic(path, out) == 1;
}

bool CfgExportFile(CfgTempStream& text, std::string_view deviceType, std::string_view version, uint32_t featureMask,
    uint32_t hardwareMask, const std::string& path, std::string_view comment, bool noCrypt)
{
    CfgDescriptionPtr desc = CfgLoadDescription(deviceType, version, nullptr, featureMask, hardwareMask, false);
    return CfgExportFileWith(text, desc.get(), deviceType, version, featureMask, hardwareMask, path, comment, noCrypt);
}

CfgTempStream CfgImportFile(const std::string& path)
{
    CfgTempStream out;
    std::string data;
    if (!FileReadAll(path, &data) || !out.Open())
        return CfgTempStream {};
    LineSplitter lines(data);
    std::string_view line;
    std::string buffer;
    bool inside = false;
    while (lines.Next(&line)) {
        line = TrimCrLf(line.substr(0, CfgMaxTextLine));
        if (!inside) {
            if (!IsSection(line))
                continue;
            inside = true;
        }
        // A scrambled value is marked by a second "=" right after the line's first one; an "==" later
        // in a plain value belongs to the value.
        size_t eq = line.find('=');
        bool assign = CfgLineKindOf(CfgTrimLine(line)) == CfgLineKind::Assign;
        if (assign && eq + 1 < line.size() && line[eq + 1] == '=') {
            buffer.append(line.substr(0, eq)).append("= ");
            buffer.append(CfgUnscramble(Trim(line.substr(eq + 2))));
        } else {
            buffer.append(line);
        }
        buffer.append("\r\n");
    }
    out.Write(buffer);
    out.Rewind();
    return out;
}
