#include "common/ini.h"

#include "common/platform/file.h"
#include "common/text.h"

#include <unordered_set>

namespace {
// One lock for every settings write of the process: a read-modify-write of a file must not interleave
// with another thread's.
std::recursive_mutex& IniLock()
{
    static std::recursive_mutex lock;
    return lock;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The number rules of the profile integer read: blanks, an optional sign, then "0x", "0o" or "0b"
// select the base (decimal otherwise); reading stops at the first character that is not a digit.
int32_t ProfileInteger(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        char p = text[i + 1];
        if (p == 'x' || p == 'X')
            base = 16;
        else if (p == 'o' || p == 'O')
            base = 8;
        else if (p == 'b' || p == 'B')
            base = 2;
        if (base != 10)
            i += 2;
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        value = value * base + digit;
    }
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

std::string StripQuotes(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return std::string(value.substr(1, value.size() - 2));
    return std::string(value);
}

// A value as it is written: reading drops blanks around a value and one pair of enclosing quotes, so a
// value that would lose either is written inside quotes of its own and reads back unchanged.
std::string ValueForWrite(std::string_view value)
{
    if (StripQuotes(Trim(value)) == value)
        return std::string(value);
    return "\"" + std::string(value) + "\"";
}

} // namespace

int IniFile::Load(const std::string& path)
{
    path_ = path;
    lines_.clear();
    changed_ = false;
    encoding_ = Encoding::Ansi;
    std::string data;
    bool missing = false;
    if (!FileReadAll(path, &data, &missing))
        return missing ? 1 : 0;
    Parse(data);
    return 1;
}

int IniFile::Save() const
{
    return SaveAs(path_);
}

int IniFile::SaveAs(const std::string& path) const
{
    if (path.empty())
        return 0;
    if (!FileWriteAtomic(path, Text()))
        return 0;
    changed_ = false;
    return 1;
}

void IniFile::Parse(std::string_view bytes)
{
    lines_.clear();
    changed_ = false;
    encoding_ = Encoding::Ansi;
    std::string decoded;
    std::string_view text = bytes;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        encoding_ = Encoding::Utf8;
        text.remove_prefix(3);
    } else if (text.substr(0, 2) == "\xFF\xFE") {
        encoding_ = Encoding::Utf16Le;
        decoded = Utf8FromUtf16Le(text.substr(2));
        text = decoded;
    }
    // The end-of-file mark of old editors is no part of the last line.
    while (!text.empty() && text.back() == '\x1A')
        text.remove_suffix(1);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        std::string_view raw = text.substr(pos, end - pos);
        // CR LF, LF and CR alone each end a line.
        pos = end;
        if (pos < text.size() && text[pos++] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;

        Line line;
        line.text = std::string(raw);
        std::string_view t = TrimLeft(raw);
        if (!t.empty() && t.front() == '[') {
            size_t close = t.rfind(']');
            if (close != std::string_view::npos) {
                line.kind = LineKind::Section;
                line.name = std::string(Trim(t.substr(1, close - 1)));
            }
        } else if (!t.empty() && t.front() != ';') {
            size_t eq = t.find('=');
            if (eq != std::string_view::npos && !Trim(t.substr(0, eq)).empty()) {
                line.kind = LineKind::Key;
                line.name = std::string(Trim(t.substr(0, eq)));
            }
        }
        lines_.push_back(std::move(line));
    }
}

std::string IniFile::Text() const
{
    std::string out;
    if (encoding_ == Encoding::Utf8)
        out = "\xEF\xBB\xBF";
    for (const Line& line : lines_) {
        out += line.text;
        out += "\r\n";
    }
    if (encoding_ == Encoding::Utf16Le)
        return "\xFF\xFE" + Utf16LeFromUtf8(out);
    return out;
}

std::string_view IniFile::Inner(std::string_view text, std::string& buffer) const
{
    if (encoding_ == Encoding::Ansi)
        return text;
    buffer = Utf8FromAnsi(text);
    return buffer;
}

std::string IniFile::Outer(std::string text) const
{
    return encoding_ == Encoding::Ansi ? text : AnsiFromUtf8(text);
}

size_t IniFile::FindSection(std::string_view section, size_t from) const
{
    for (size_t i = from; i < lines_.size(); ++i)
        if (lines_[i].kind == LineKind::Section && StrEqualNoCase(lines_[i].name, Trim(section)))
            return i;
    return std::string::npos;
}

size_t IniFile::SectionEnd(size_t header) const
{
    size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != LineKind::Section)
        ++i;
    return i;
}

// A section may appear more than once in a file; its keys are searched in every part, in file order.
size_t IniFile::FindKey(std::string_view section, std::string_view key) const
{
    std::string_view k = Trim(key);
    for (size_t s = FindSection(section); s != std::string::npos; s = FindSection(section, s + 1)) {
        size_t end = SectionEnd(s);
        for (size_t i = s + 1; i < end; ++i)
            if (lines_[i].kind == LineKind::Key && StrEqualNoCase(lines_[i].name, k))
                return i;
    }
    return std::string::npos;
}

std::string_view IniFile::RawValue(const Line& line)
{
    std::string_view t = line.text;
    return Trim(t.substr(t.find('=') + 1));
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const
{
    std::string b1, b2;
    size_t i = FindKey(Inner(section, b1), Inner(key, b2));
    if (i == std::string::npos)
        return std::nullopt;
    return Outer(StripQuotes(RawValue(lines_[i])));
}

std::string IniFile::GetString(
    std::string_view section, std::string_view key, std::string_view def, size_t maxChars) const
{
    std::optional<std::string> value = Find(section, key);
    std::string out = value ? *value : std::string(TrimRight(def));
    if (out.size() > maxChars)
        out.resize(maxChars);
    return out;
}

int32_t IniFile::GetInt(std::string_view section, std::string_view key, int32_t def) const
{
    std::optional<std::string> value = Find(section, key);
    if (!value || value->empty())
        return def;
    return ProfileInteger(*value);
}

void IniFile::Write(std::string_view section, const char* key, const char* value)
{
    if (!key)
        DeleteSection(section);
    else if (!value)
        DeleteKey(section, key);
    else
        SetString(section, key, value);
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value)
{
    std::string b1, b2, b3;
    section = Inner(section, b1);
    key = Inner(key, b2);
    value = Inner(value, b3);
    std::string_view k = Trim(key);
    size_t i = FindKey(section, k);
    if (i != std::string::npos) {
        std::string text = lines_[i].name + "=" + ValueForWrite(value);
        if (text != lines_[i].text) {
            lines_[i].text = std::move(text);
            changed_ = true;
        }
        return;
    }
    Line line;
    line.kind = LineKind::Key;
    line.name = std::string(k);
    line.text = line.name + "=" + ValueForWrite(value);
    changed_ = true;
    size_t s = FindSection(section);
    if (s == std::string::npos) {
        Line header;
        header.kind = LineKind::Section;
        header.name = std::string(Trim(section));
        header.text = "[" + header.name + "]";
        lines_.push_back(std::move(header));
        lines_.push_back(std::move(line));
        return;
    }
    // After the section's last key, so that trailing comments and blank lines stay where they are.
    size_t at = s + 1;
    size_t end = SectionEnd(s);
    for (size_t j = s + 1; j < end; ++j)
        if (lines_[j].kind == LineKind::Key)
            at = j + 1;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

void IniFile::SetInt(std::string_view section, std::string_view key, int32_t value)
{
    SetString(section, key, std::to_string(value));
}

void IniFile::DeleteKey(std::string_view section, std::string_view key)
{
    std::string b1, b2;
    section = Inner(section, b1);
    key = Inner(key, b2);
    // Every occurrence goes: deleting the first of two equal keys must not bring the second to light.
    for (size_t i = FindKey(section, key); i != std::string::npos; i = FindKey(section, key)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
        changed_ = true;
    }
}

void IniFile::DeleteSection(std::string_view section)
{
    std::string b1;
    section = Inner(section, b1);
    for (size_t s = FindSection(section); s != std::string::npos; s = FindSection(section, s)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(s),
            lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(s)));
        changed_ = true;
    }
}

void IniFile::ForEachKey(
    const std::function<void(size_t part, std::string_view section, std::string_view key, std::string_view value)>&
        visit) const
{
    std::string section, key;
    size_t part = 0;
    for (const Line& line : lines_) {
        if (line.kind == LineKind::Section) {
            section = Outer(line.name);
            ++part;
        } else if (line.kind == LineKind::Key && part > 0) {
            key = Outer(line.name);
            visit(part, section, key, Outer(StripQuotes(RawValue(line))));
        }
    }
}

void IniFile::DeleteSectionsStartingWith(std::string_view prefix)
{
    std::string b1;
    prefix = Inner(prefix, b1);
    size_t kept = 0;
    bool dropping = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind == LineKind::Section)
            dropping = StrStartsWithNoCase(lines_[i].name, prefix);
        if (dropping) {
            changed_ = true;
            continue;
        }
        if (kept != i)
            lines_[kept] = std::move(lines_[i]);
        ++kept;
    }
    lines_.resize(kept);
}

void IniFile::AppendSection(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values)
{
    std::string b1, b2, b3;
    Line header;
    header.kind = LineKind::Section;
    header.name = std::string(Trim(Inner(section, b1)));
    header.text = "[" + header.name + "]";
    lines_.push_back(std::move(header));
    for (const auto& [key, value] : values) {
        Line line;
        line.kind = LineKind::Key;
        line.name = std::string(Trim(Inner(key, b2)));
        line.text = line.name + "=" + ValueForWrite(Inner(value, b3));
        lines_.push_back(std::move(line));
    }
    changed_ = true;
}

std::vector<std::string> IniFile::SectionNames() const
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (const Line& line : lines_)
        if (line.kind == LineKind::Section && seen.insert(StrLower(line.name)).second)
            names.push_back(line.name);
    for (std::string& name : names)
        name = Outer(std::move(name));
    return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const
{
    std::string b1;
    section = Inner(section, b1);
    std::vector<std::string> keys;
    std::unordered_set<std::string> seen;
    for (size_t s = FindSection(section); s != std::string::npos; s = FindSection(section, s + 1)) {
        size_t end = SectionEnd(s);
        for (size_t i = s + 1; i < end; ++i)
            if (lines_[i].kind == LineKind::Key && seen.insert(StrLower(lines_[i].name)).second)
                keys.push_back(lines_[i].name);
    }
    for (std::string& key : keys)
        key = Outer(std::move(key));
    return keys;
}

bool IniFile::HasSection(std::string_view section) const
{
    std::string b1;
    return FindSection(Inner(section, b1)) != std::string::npos;
}

IniTransaction::IniTransaction(const std::string& path)
    : lock_(IniLock())
{
    if (!file_.Load(path))
        loadFailed_ = true;
}

int IniTransaction::Commit()
{
    // A file that exists but could not be read is never overwritten with a partial picture of it.
    if (loadFailed_)
        return 0;
    if (!file_.Changed())
        return 1;
    return file_.Save();
}

std::string IniGetString(
    const std::string& path, std::string_view section, std::string_view key, std::string_view def, size_t maxChars)
{
    IniFile file;
    file.Load(path);
    return file.GetString(section, key, def, maxChars);
}

int32_t IniGetInt(const std::string& path, std::string_view section, std::string_view key, int32_t def)
{
    IniFile file;
    file.Load(path);
    return file.GetInt(section, key, def);
}

int IniWriteString(const std::string& path, std::string_view section, const char* key, const char* value)
{
    IniTransaction t(path);
    t->Write(section, key, value);
    return t.Commit();
}

int IniWriteInt(const std::string& path, std::string_view section, std::string_view key, int32_t value)
{
    IniTransaction t(path);
    t->SetInt(section, key, value);
    return t.Commit();
}

std::vector<std::string> IniSectionNames(const std::string& path)
{
    IniFile file;
    file.Load(path);
    return file.SectionNames();
}

std::vector<std::string> IniKeys(const std::string& path, std::string_view section)
{
    IniFile file;
    file.Load(path);
    return file.Keys(section);
}
