// Settings (INI) files with the behaviour of the Windows profile-string functions, one implementation
// for every target: "[Section]" lines, "key=value" lines, sections and keys compared ignoring case,
// comments and lines this reader does not understand kept as they stand, CR LF line ends on write.
// Every save writes a complete new file and renames it over the old one (common/platform/file.h).
//
// Line ends are CR LF, LF or CR alone; Ctrl-Z bytes that end the file are dropped. A file that starts
// with a UTF-8 or UTF-16 LE byte-order mark is read as that text and written back in it, mark included;
// the functions take and give ANSI (Windows-1252) text for such a file, as the A functions do, while
// lines they do not change keep every character. A file without a mark is taken byte for byte.
//
// Reading follows GetPrivateProfileStringA: blanks around keys and values are dropped, a value
// enclosed in matching double or single quotes loses them, a missing key gives the default.
// GetInt follows GetPrivateProfileIntA: an absent or empty value gives the default; otherwise the
// leading number (optional sign, "0x" hexadecimal, "0o" octal, "0b" binary, else decimal; 0 when no
// digit) is the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(std::string path)
        : path_(std::move(path))
    {
    }

    // Reads the file. A missing file is an empty settings file (returns 1); 0 when it cannot be read.
    int Load(const std::string& path);
    int Load()
    {
        return Load(path_);
    }
    // Writes the whole file beside the old one and renames it over. Returns 1 on success.
    int Save() const;
    int SaveAs(const std::string& path) const;

    // The text form (CR LF line ends) and its reverse; Parse replaces the content.
    void Parse(std::string_view text);
    std::string Text() const;

    const std::string& Path() const
    {
        return path_;
    }

    // The value of a key (blanks and enclosing quotes removed), or none when absent.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    // GetPrivateProfileStringA: the value, else `def` (without its trailing blanks); at most `maxChars`
    // characters, as a buffer of maxChars + 1 bytes would receive.
    std::string GetString(std::string_view section, std::string_view key, std::string_view def,
        size_t maxChars = std::string::npos) const;
    // GetPrivateProfileIntA.
    int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;

    // WritePrivateProfileStringA: a null value deletes the key, a null key deletes the section with
    // all its lines. A new key goes after the last key of its section, a new section at the end.
    void Write(std::string_view section, const char* key, const char* value);
    void SetString(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int32_t value);
    void DeleteKey(std::string_view section, std::string_view key);
    void DeleteSection(std::string_view section);

    // Long lists in one pass over the file. ForEachKey: every key line in file order with the section it
    // stands in (`part` counts the section headers from 1, so that two parts of one section stay apart;
    // the name as spelled in that header) and its value as Find gives it.
    // DeleteSectionsStartingWith: every section whose name starts with `prefix` (ignoring case).
    // AppendSection: a new section part at the end with the keys and values in the order given.
    void ForEachKey(
        const std::function<void(size_t part, std::string_view section, std::string_view key, std::string_view value)>&
            visit) const;
    void DeleteSectionsStartingWith(std::string_view prefix);
    void AppendSection(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values);

    // Section names in file order (each once, as first spelled); the keys of a section in file order.
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> Keys(std::string_view section) const;
    bool HasSection(std::string_view section) const;
    // GetPrivateProfileSectionA: every line of the section in file order (each part of a section that
    // appears twice), equal keys included; key lines as "key=value" with the blanks around key and value
    // dropped (quotes kept), other lines trimmed; comments and blank lines left out.
    std::vector<std::string> SectionLines(std::string_view section) const;

    // True once a change was made since the last Load, Parse or Save.
    bool Changed() const
    {
        return changed_;
    }

private:
    enum class LineKind : uint8_t { Other, Section, Key };
    struct Line {
        LineKind kind = LineKind::Other;
        std::string text; // the line as it stands in the file, without its line end
        std::string name; // section or key name, blanks removed
    };
    // Index of the first line of the section's header, or npos; `from` continues after a match.
    size_t FindSection(std::string_view section, size_t from = 0) const;
    size_t SectionEnd(size_t header) const;
    size_t FindKey(std::string_view section, std::string_view key) const;
    static std::string_view RawValue(const Line& line);
    // Text of the functions in the form of the lines (UTF-8 for a file with a byte-order mark) and back;
    // `buffer` holds a converted text, the plain text is passed through.
    std::string_view Inner(std::string_view text, std::string& buffer) const;
    std::string Outer(std::string text) const;

    enum class Encoding : uint8_t { Ansi, Utf8, Utf16Le };
    std::string path_;
    Encoding encoding_ = Encoding::Ansi;
    std::vector<Line> lines_;
    mutable bool changed_ = false;
};

// Several changes to one settings file written at once: loads the file under a process-wide lock
// (re-entrant, so the free functions below may be used on the same thread meanwhile), and Commit
// writes every change in one file replacement. Without Commit nothing is written.
class IniTransaction {
public:
    explicit IniTransaction(const std::string& path);
    IniFile& File()
    {
        return file_;
    }
    IniFile* operator->()
    {
        return &file_;
    }
    // Returns 1 when the file was written (or nothing had changed).
    int Commit();

private:
    std::unique_lock<std::recursive_mutex> lock_;
    IniFile file_;
    bool loadFailed_ = false;
};

// The profile-string functions on a file path: each call reads the file, and each write replaces it.
std::string IniGetString(const std::string& path, std::string_view section, std::string_view key, std::string_view def,
    size_t maxChars = std::string::npos);
int32_t IniGetInt(const std::string& path, std::string_view section, std::string_view key, int32_t def);
// A null value deletes the key; a null key deletes the section. Returns 1 on success.
int IniWriteString(const std::string& path, std::string_view section, const char* key, const char* value);
int IniWriteInt(const std::string& path, std::string_view section, std::string_view key, int32_t value);
std::vector<std::string> IniSectionNames(const std::string& path);
std::vector<std::string> IniKeys(const std::string& path, std::string_view section);
