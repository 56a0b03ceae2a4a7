// INF scripts: sections of lines, each line an optional key and its fields. `InfSource` is what the
// installer reads through (the native reader below, or SetupAPI on Windows); `InfText` reads a script
// the way SetupAPI does: quotes with doubled quotes inside, an unclosed quote running to the line end,
// "\" continuing a line, ";" comments, sections of the same name merged, and "%name%" references to
// the [Strings] section expanded when a field is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct InfLine {
    bool hasKey = false;
    std::string key;
    std::vector<std::string> fields; // field 1 onwards
    // Field n counted as SetupAPI counts them (1 = first field after the key); "" past the end.
    const std::string& Field(size_t n) const;
};

class InfSource {
public:
    virtual ~InfSource() = default;
    virtual bool HasSection(std::string_view section) const = 0;
    // The section's lines with string references expanded; empty when the section is missing.
    virtual std::vector<InfLine> Lines(std::string_view section) const = 0;
};

// The first line of the section whose key is `key` (ignoring case).
std::optional<InfLine> InfFindLine(const InfSource& inf, std::string_view section, std::string_view key);
// Every field of every line with this key (the "A, B" and "A" + "B" forms alike).
std::vector<std::string> InfKeyFields(const InfSource& inf, std::string_view section, std::string_view key);

// Why a script could not be read (the SetupAPI error codes).
enum class InfError : uint32_t {
    None = 0,
    BadSectionNameLine = 0xE0000001, // "[" without "]"
    SectionNameTooLong = 0xE0000002, // more than 255 characters
    ExpectedSectionName = 0xE0000000, // text before the first section (and no [Strings] section)
    WrongInfStyle = 0xE0000100, // no [Version] section with a known "Signature" (reported at line 0)
};
const char* InfErrorText(InfError error);

class InfText : public InfSource {
public:
    // Reads the script; false with the error and its line (continuation lines counted) on failure.
    // A text that starts with the UTF-16 little-endian byte-order mark is read as UTF-16 and handed on
    // in the Windows ANSI code page (1252), as SetupAPI's ANSI functions hand it out.
    bool Parse(std::string_view text, InfError* error = nullptr, unsigned* errorLine = nullptr);
    // Parse, then refuse a script whose [Version] section lacks a "Signature" of "$Chicago$",
    // "$Windows NT$" or "$Windows 95$", as opening a script through SetupAPI does. Every reader of a
    // script file goes through here; Parse alone serves scripts built in memory.
    bool Open(std::string_view text, InfError* error = nullptr, unsigned* errorLine = nullptr);

    bool HasSection(std::string_view section) const override;
    std::vector<InfLine> Lines(std::string_view section) const override;

    // The sections in the order they first appear, and their lines as written (references unexpanded).
    std::vector<std::string> SectionNames() const;
    const std::vector<InfLine>* RawLines(std::string_view section) const;
    // "%name%" references replaced from [Strings]; "%%" is "%"; unknown references stay as written.
    // The result is cut to kInfMaxField like every field, so a script cannot grow by substitution.
    std::string Expand(std::string_view text) const;

private:
    struct Section {
        std::string name;
        std::vector<InfLine> lines;
    };
    const Section* Find(std::string_view name) const;
    const std::string* StringValue(std::string_view name) const;
    std::vector<Section> sections_;
    // Sections and strings by lower-case name, so that lookups stay linear in the script's size.
    std::unordered_map<std::string, size_t> sectionIndex_;
    std::unordered_map<std::string, size_t> stringIndex_; // line of [Strings]
};

// Longest field, as SetupAPI cuts them.
inline constexpr size_t kInfMaxField = 511;
