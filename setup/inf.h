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
};
const char* InfErrorText(InfError error);

class InfText : public InfSource {
public:
    // Reads the script; false with the error and its line (continuation lines counted) on failure.
    bool Parse(std::string_view text, InfError* error = nullptr, unsigned* errorLine = nullptr);

    bool HasSection(std::string_view section) const override;
    std::vector<InfLine> Lines(std::string_view section) const override;

    // The sections in the order they first appear, and their lines as written (references unexpanded).
    std::vector<std::string> SectionNames() const;
    const std::vector<InfLine>* RawLines(std::string_view section) const;
    // "%name%" references replaced from [Strings]; "%%" is "%"; unknown references stay as written.
    std::string Expand(std::string_view text) const;

private:
    struct Section {
        std::string name;
        std::vector<InfLine> lines;
    };
    const Section* Find(std::string_view name) const;
    const std::string* StringValue(std::string_view name) const;
    std::vector<Section> sections_;
    const Section* strings_ = nullptr;
};

// Longest field, as SetupAPI cuts them.
inline constexpr size_t kInfMaxField = 511;
