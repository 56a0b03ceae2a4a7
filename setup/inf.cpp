// The INF reader: one pass over the text with a small state machine whose states follow the syntax
// (line start, section name, key, value, quotes, blanks, backslash at the line end, comment). A field
// is finished at ",", ";" or the line end; blanks inside a field are kept, blanks around it dropped.
#include "setup/inf.h"

#include "common/text.h"

#include <algorithm>

namespace {

const std::string kEmpty;

enum class State : uint8_t {
    LineStart,
    SectionName,
    KeyName,
    ValueName,
    Quotes,
    LeadingSpaces,
    TrailingSpaces,
    EolBackslash,
    Comment
};

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// UTF-16 little-endian text (after its byte-order mark) in code page 1252: the characters of that
// page as its bytes, every other character (and a lone surrogate) as "?". An odd last byte is dropped.
std::string FromUtf16(std::string_view text)
{
    static constexpr uint16_t kHigh[32] = { 0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030,
        0x0160, 0x2039, 0x0152, 0, 0x017D, 0, 0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
        0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178 };
    std::string out;
    out.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto unit = static_cast<uint16_t>(static_cast<uint8_t>(text[i]) | static_cast<uint8_t>(text[i + 1]) << 8);
        char c = '?';
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
            c = static_cast<char>(unit);
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < text.size()) {
            const auto low
                = static_cast<uint16_t>(static_cast<uint8_t>(text[i + 2]) | static_cast<uint8_t>(text[i + 3]) << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2; // one character outside the page
            }
        } else {
            for (unsigned k = 0; k < 32; ++k) {
                if (kHigh[k] != 0 && kHigh[k] == unit) {
                    c = static_cast<char>(0x80 + k);
                }
            }
        }
        out += c;
    }
    return out;
}

} // namespace

const std::string& InfLine::Field(size_t n) const
{
    return n >= 1 && n <= fields.size() ? fields[n - 1] : kEmpty;
}

const char* InfErrorText(InfError error)
{
    switch (error) {
    case InfError::None:
        return "no error";
    case InfError::BadSectionNameLine:
        return "section name without \"]\"";
    case InfError::SectionNameTooLong:
        return "section name longer than 255 characters";
    case InfError::ExpectedSectionName:
        return "text before the first section";
    case InfError::WrongInfStyle:
        return "no [Version] section with a known signature";
    }
    return "unknown error";
}

std::optional<InfLine> InfFindLine(const InfSource& inf, std::string_view section, std::string_view key)
{
    for (InfLine& line : inf.Lines(section)) {
        if (line.hasKey && StrEqualNoCase(line.key, key)) {
            return std::move(line);
        }
    }
    return std::nullopt;
}

std::vector<std::string> InfKeyFields(const InfSource& inf, std::string_view section, std::string_view key)
{
    std::vector<std::string> out;
    for (InfLine& line : inf.Lines(section)) {
        if (line.hasKey && StrEqualNoCase(line.key, key)) {
            for (std::string& field : line.fields) {
                out.push_back(std::move(field));
            }
        }
    }
    return out;
}

const InfText::Section* InfText::Find(std::string_view name) const
{
    auto found = sectionIndex_.find(Lower(name));
    return found != sectionIndex_.end() ? &sections_[found->second] : nullptr;
}

bool InfText::Open(std::string_view text, InfError* error, unsigned* errorLine)
{
    if (!Parse(text, error, errorLine)) {
        return false;
    }
    std::optional<InfLine> signature = InfFindLine(*this, "Version", "Signature");
    if (signature) {
        for (const char* known : { "$Chicago$", "$Windows NT$", "$Windows 95$" }) {
            if (StrEqualNoCase(signature->Field(1), known)) {
                return true;
            }
        }
    }
    sections_.clear();
    sectionIndex_.clear();
    stringIndex_.clear();
    if (error != nullptr) {
        *error = InfError::WrongInfStyle;
    }
    if (errorLine != nullptr) {
        *errorLine = 0;
    }
    return false;
}

bool InfText::Parse(std::string_view text, InfError* error, unsigned* errorLine)
{
    sections_.clear();
    sectionIndex_.clear();
    stringIndex_.clear();
    std::string wide;
    if (text.starts_with("\xFF\xFE")) {
        wide = FromUtf16(text.substr(2));
        text = wide;
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    // A Ctrl-Z ends the text.
    if (size_t eof = text.find('\x1A'); eof != std::string_view::npos) {
        text = text.substr(0, eof);
    }
    const size_t end = text.size();
    auto isEol = [&](size_t p) { return p >= end || text[p] == '\n'; };

    State state = State::LineStart;
    std::vector<State> stack;
    unsigned lineNo = 1;
    unsigned brokenLine = 0; // first line with text before any section
    Section* current = nullptr;
    InfLine* line = nullptr; // the line being filled, until the next line start
    std::string token;
    size_t start = 0; // where the part of the token not yet pushed begins
    InfError failure = InfError::None;

    auto pushToken = [&](size_t upTo) {
        if (upTo > start) {
            size_t len = upTo - start;
            if (token.size() + len > kInfMaxField) {
                len = kInfMaxField - token.size();
            }
            token.append(text.substr(start, len));
        }
        start = upTo;
    };
    auto addField = [&](bool isKey) {
        if (line == nullptr) {
            current->lines.emplace_back();
            line = &current->lines.back();
        }
        if (isKey) {
            line->hasKey = true;
            line->key = std::move(token);
        } else {
            line->fields.push_back(std::move(token));
        }
        token.clear();
    };
    auto push = [&](State next) { stack.push_back(next); };
    auto pop = [&] {
        state = stack.empty() ? State::LineStart : stack.back();
        if (!stack.empty()) {
            stack.pop_back();
        }
    };

    size_t p = 0;
    while (failure == InfError::None) {
        switch (state) {
        case State::LineStart: {
            bool next = false;
            for (; p < end && !next; ++p) {
                char c = text[p];
                if (c == '\n') {
                    ++lineNo;
                    line = nullptr;
                } else if (c == ';') {
                    push(State::LineStart);
                    state = State::Comment;
                    next = true;
                } else if (c == '[') {
                    start = p + 1;
                    state = State::SectionName;
                    next = true;
                } else if (!IsSpace(c)) {
                    if (current != nullptr) {
                        start = p;
                        state = State::KeyName;
                        next = true;
                        --p; // the key starts here
                    } else if (brokenLine == 0) {
                        brokenLine = lineNo;
                    }
                }
            }
            if (!next) {
                goto done;
            }
            break;
        }
        case State::SectionName: {
            size_t q = p;
            while (!isEol(q) && text[q] != ']') {
                ++q;
            }
            if (isEol(q)) {
                failure = InfError::BadSectionNameLine;
                break;
            }
            std::string name(text.substr(start, q - start));
            if (name.size() > 255) {
                failure = InfError::SectionNameTooLong;
                break;
            }
            auto [slot, added] = sectionIndex_.try_emplace(Lower(name), sections_.size());
            if (added) {
                sections_.push_back({ std::move(name), {} });
            }
            current = &sections_[slot->second];
            line = nullptr;
            token.clear();
            push(State::LineStart);
            state = State::Comment; // the rest of the line is ignored
            p = q + 1;
            break;
        }
        case State::KeyName:
        case State::ValueName: {
            const bool inKey = state == State::KeyName;
            size_t tokenEnd = start;
            bool switched = false;
            for (; !isEol(p); ++p) {
                char c = text[p];
                if (inKey && c == ',') {
                    break;
                }
                if (inKey && c == '=') {
                    pushToken(tokenEnd); // blanks before "=" are not part of the key
                    addField(true);
                    start = p + 1;
                    push(State::ValueName);
                    state = State::LeadingSpaces;
                    ++p;
                    switched = true;
                    break;
                }
                if (c == ';') {
                    pushToken(tokenEnd);
                    addField(false);
                    push(State::LineStart);
                    state = State::Comment;
                    ++p;
                    switched = true;
                    break;
                }
                if (!inKey && c == ',') {
                    pushToken(tokenEnd);
                    addField(false);
                    start = p + 1;
                    push(State::ValueName);
                    state = State::LeadingSpaces;
                    ++p;
                    switched = true;
                    break;
                }
                if (c == '"') {
                    pushToken(p);
                    start = p + 1;
                    push(state);
                    state = State::Quotes;
                    ++p;
                    switched = true;
                    break;
                }
                if (c == '\\') {
                    pushToken(p);
                    start = p;
                    push(state);
                    state = State::EolBackslash;
                    switched = true;
                    break;
                }
                if (IsSpace(c)) {
                    pushToken(p);
                    push(state);
                    state = State::TrailingSpaces;
                    switched = true;
                    break;
                }
                tokenEnd = p + 1;
            }
            if (switched) {
                break;
            }
            pushToken(tokenEnd);
            if (inKey) {
                state = State::ValueName; // a line without key: the token is its first field
            } else {
                addField(false);
                state = State::LineStart;
            }
            break;
        }
        case State::Quotes: {
            bool closed = false;
            for (; !isEol(p); ++p) {
                if (text[p] != '"') {
                    continue;
                }
                if (p + 1 < end && text[p + 1] == '"') {
                    pushToken(p + 1); // one quote of the pair
                    start = p + 2;
                    ++p;
                } else {
                    pushToken(p);
                    start = p + 1;
                    ++p;
                    closed = true;
                    break;
                }
            }
            if (!closed) {
                pushToken(p); // an unclosed quote runs to the line end
            }
            pop();
            break;
        }
        case State::LeadingSpaces:
            while (!isEol(p) && IsSpace(text[p])) {
                ++p;
            }
            start = p;
            pop();
            break;
        case State::TrailingSpaces: {
            bool backslash = false;
            for (; !isEol(p); ++p) {
                if (text[p] == '\\') {
                    push(State::TrailingSpaces);
                    state = State::EolBackslash;
                    backslash = true;
                    break;
                }
                if (!IsSpace(text[p])) {
                    break;
                }
            }
            if (!backslash) {
                pop();
            }
            break;
        }
        case State::EolBackslash: {
            bool done = false;
            for (; p < end && !done; ++p) {
                char c = text[p];
                if (c == '\n') {
                    ++lineNo;
                    start = p + 1;
                    state = State::LeadingSpaces;
                    done = true;
                } else if (c == ';') {
                    push(State::EolBackslash);
                    state = State::Comment;
                    done = true;
                } else if (c != '\\' && !IsSpace(c)) {
                    pushToken(p); // not at the line end: the backslashes are text
                    pop();
                    done = true;
                    --p;
                }
            }
            if (!done) {
                start = p;
                pop();
            }
            break;
        }
        case State::Comment:
            while (!isEol(p)) {
                ++p;
            }
            pop();
            break;
        }
    }
done:
    if (failure == InfError::None && brokenLine != 0 && Find("Strings") == nullptr) {
        failure = InfError::ExpectedSectionName;
        lineNo = brokenLine;
    }
    if (const Section* strings = Find("Strings"); failure == InfError::None && strings != nullptr) {
        for (size_t i = 0; i < strings->lines.size(); ++i) {
            const InfLine& entry = strings->lines[i];
            if (entry.hasKey && !entry.fields.empty()) {
                stringIndex_.try_emplace(Lower(entry.key), i); // the first one counts
            }
        }
    }
    if (failure != InfError::None) {
        sections_.clear();
        sectionIndex_.clear();
        if (error != nullptr) {
            *error = failure;
        }
        if (errorLine != nullptr) {
            *errorLine = lineNo;
        }
        return false;
    }
    return true;
}

bool InfText::HasSection(std::string_view section) const
{
    return Find(section) != nullptr;
}

std::vector<std::string> InfText::SectionNames() const
{
    std::vector<std::string> names;
    for (const Section& section : sections_) {
        names.push_back(section.name);
    }
    return names;
}

const std::vector<InfLine>* InfText::RawLines(std::string_view section) const
{
    const Section* found = Find(section);
    return found != nullptr ? &found->lines : nullptr;
}

const std::string* InfText::StringValue(std::string_view name) const
{
    auto found = stringIndex_.find(Lower(name));
    return found != stringIndex_.end() ? &Find("Strings")->lines[found->second].fields[0] : nullptr;
}

std::string InfText::Expand(std::string_view text) const
{
    std::string out;
    auto append = [&out](std::string_view part) {
        out.append(part.substr(0, std::min(part.size(), kInfMaxField - out.size())));
    };
    size_t pos = 0;
    while (pos < text.size() && out.size() < kInfMaxField) {
        size_t open = text.find('%', pos);
        if (open == std::string_view::npos) {
            break;
        }
        size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            break;
        }
        append(text.substr(pos, open - pos));
        std::string_view name = text.substr(open + 1, close - open - 1);
        if (name.empty()) {
            append("%");
        } else if (const std::string* value = StringValue(name)) {
            append(*value);
        } else {
            append(text.substr(open, close - open + 1));
        }
        pos = close + 1;
    }
    if (pos < text.size()) {
        append(text.substr(pos));
    }
    return out;
}

std::vector<InfLine> InfText::Lines(std::string_view section) const
{
    std::vector<InfLine> lines;
    const Section* found = Find(section);
    if (found == nullptr) {
        return lines;
    }
    const bool strings = StrEqualNoCase(section, "Strings");
    for (const InfLine& raw : found->lines) {
        if (strings) {
            lines.push_back(raw); // the strings themselves are not expanded again
            continue;
        }
        InfLine line;
        line.hasKey = raw.hasKey;
        line.key = Expand(raw.key);
        for (const std::string& field : raw.fields) {
            line.fields.push_back(Expand(field));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}
