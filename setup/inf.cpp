// The INF reader: one pass over the text with a small state machine whose states follow the syntax
// (line start, section name, key, value, quotes, blanks, backslash at the line end, comment). A field
// is finished at ",", ";" or the line end; blanks inside a field are kept, blanks around it dropped.
#include "setup/inf.h"

#include "common/text.h"

#include <algorithm>
#include <functional>

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
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
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
            if (low >= 0xDC00 && low <= 0xDFFF)
                i += 2; // one character outside the page
        } else {
            for (unsigned k = 0; k < 32; ++k)
                if (kHigh[k] != 0 && kHigh[k] == unit)
                    c = static_cast<char>(0x80 + k);
        }
        out += c;
    }
    return out;
}

// The script's text as the scanner reads it: UTF-16 (after its byte-order mark) converted into `wide`,
// a UTF-8 byte-order mark dropped, and the text cut at a Ctrl-Z, which ends it.
std::string_view ScriptText(std::string_view text, std::string* wide)
{
    if (text.starts_with("\xFF\xFE")) {
        *wide = FromUtf16(text.substr(2));
        text = *wide;
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (size_t eof = text.find('\x1A'); eof != std::string_view::npos)
        text = text.substr(0, eof);
    return text;
}

// One pass of the state machine over a script's text. Each state is a step of its own that reads from
// the current position and chooses the next state; states that return to where they came from (quotes,
// blanks, a backslash, a comment) find it on the stack. Sections go to `openSection`, which gives the
// line list a section's lines are added to (a section named twice gives the same list).
class InfScanner {
public:
    using OpenSection = std::function<std::vector<InfLine>*(std::string name)>;

    InfScanner(std::string_view text, OpenSection openSection)
        : text_(text)
        , end_(text.size())
        , openSection_(std::move(openSection))
    {
    }

    // Reads the whole text; the error that stopped it, or InfError::None.
    InfError Run()
    {
        while (failure_ == InfError::None) {
            switch (state_) {
            case State::LineStart:
                if (!LineStart())
                    return failure_;
                break;
            case State::SectionName:
                SectionName();
                break;
            case State::KeyName:
            case State::ValueName:
                Token();
                break;
            case State::Quotes:
                Quotes();
                break;
            case State::LeadingSpaces:
                LeadingSpaces();
                break;
            case State::TrailingSpaces:
                TrailingSpaces();
                break;
            case State::EolBackslash:
                EolBackslash();
                break;
            case State::Comment:
                Comment();
                break;
            }
        }
        return failure_;
    }
    // The line reached (the error's line after a failure), continuation lines counted.
    unsigned LineNo() const
    {
        return lineNo_;
    }
    // The first line with text before any section; 0 when there is none.
    unsigned BrokenLine() const
    {
        return brokenLine_;
    }

private:
    bool IsEol(size_t p) const
    {
        return p >= end_ || text_[p] == '\n';
    }
    // Adds the text from `start_` up to `upTo` to the token, which stops growing at kInfMaxField.
    void PushToken(size_t upTo)
    {
        if (upTo > start_) {
            size_t len = upTo - start_;
            if (token_.size() + len > kInfMaxField)
                len = kInfMaxField - token_.size();
            token_.append(text_.substr(start_, len));
        }
        start_ = upTo;
    }
    // The token as the line's key or as its next field; the first one starts the line.
    void AddField(bool isKey)
    {
        if (!line_) {
            lines_->emplace_back();
            line_ = &lines_->back();
        }
        if (isKey) {
            line_->hasKey = true;
            line_->key = std::move(token_);
        } else {
            line_->fields.push_back(std::move(token_));
        }
        token_.clear();
    }
    void Push(State next)
    {
        stack_.push_back(next);
    }
    void Pop()
    {
        state_ = stack_.empty() ? State::LineStart : stack_.back();
        if (!stack_.empty())
            stack_.pop_back();
    }
    // Goes to the next section name, key or comment; false at the end of the text.
    bool LineStart()
    {
        for (; p_ < end_; ++p_) {
            char c = text_[p_];
            if (c == '\n') {
                ++lineNo_;
                line_ = nullptr;
            } else if (c == ';') {
                Push(State::LineStart);
                state_ = State::Comment;
                ++p_;
                return true;
            } else if (c == '[') {
                start_ = p_ + 1;
                state_ = State::SectionName;
                ++p_;
                return true;
            } else if (!IsSpace(c)) {
                if (lines_) {
                    start_ = p_;
                    state_ = State::KeyName; // the key starts here
                    return true;
                }
                if (brokenLine_ == 0)
                    brokenLine_ = lineNo_;
            }
        }
        return false;
    }
    // "[name]": the section's lines follow; the rest of the line is ignored.
    void SectionName()
    {
        size_t q = p_;
        while (!IsEol(q) && text_[q] != ']')
            ++q;
        if (IsEol(q)) {
            failure_ = InfError::BadSectionNameLine;
            return;
        }
        std::string name(text_.substr(start_, q - start_));
        if (name.size() > 255) {
            failure_ = InfError::SectionNameTooLong;
            return;
        }
        lines_ = openSection_(std::move(name));
        line_ = nullptr;
        token_.clear();
        Push(State::LineStart);
        state_ = State::Comment;
        p_ = q + 1;
    }
    // A key (up to "=") or a field (up to ","), until a quote, a blank, a backslash or a comment takes
    // over or the line ends.
    void Token()
    {
        const bool inKey = state_ == State::KeyName;
        size_t tokenEnd = start_;
        for (; !IsEol(p_); ++p_) {
            char c = text_[p_];
            if (inKey && c == ',')
                break;
            if (inKey && c == '=') {
                PushToken(tokenEnd); // blanks before "=" are not part of the key
                AddField(true);
                start_ = p_ + 1;
                Push(State::ValueName);
                state_ = State::LeadingSpaces;
                ++p_;
                return;
            }
            if (c == ';') {
                PushToken(tokenEnd);
                AddField(false);
                Push(State::LineStart);
                state_ = State::Comment;
                ++p_;
                return;
            }
            if (!inKey && c == ',') {
                PushToken(tokenEnd);
                AddField(false);
                start_ = p_ + 1;
                Push(State::ValueName);
                state_ = State::LeadingSpaces;
                ++p_;
                return;
            }
            if (c == '"') {
                PushToken(p_);
                start_ = p_ + 1;
                Push(state_);
                state_ = State::Quotes;
                ++p_;
                return;
            }
            if (c == '\\') {
                PushToken(p_);
                start_ = p_;
                Push(state_);
                state_ = State::EolBackslash;
                return;
            }
            if (IsSpace(c)) {
                PushToken(p_);
                Push(state_);
                state_ = State::TrailingSpaces;
                return;
            }
            tokenEnd = p_ + 1;
        }
        PushToken(tokenEnd);
        if (inKey) {
            state_ = State::ValueName; // a line without key: the token is its first field
        } else {
            AddField(false);
            state_ = State::LineStart;
        }
    }
    // Inside quotes: a doubled quote is one quote; an unclosed quote runs to the line end.
    void Quotes()
    {
        for (; !IsEol(p_); ++p_) {
            if (text_[p_] != '"')
                continue;
            if (p_ + 1 < end_ && text_[p_ + 1] == '"') {
                PushToken(p_ + 1); // one quote of the pair
                start_ = p_ + 2;
                ++p_;
            } else {
                PushToken(p_);
                start_ = p_ + 1;
                ++p_;
                Pop();
                return;
            }
        }
        PushToken(p_);
        Pop();
    }
    void LeadingSpaces()
    {
        while (!IsEol(p_) && IsSpace(text_[p_]))
            ++p_;
        start_ = p_;
        Pop();
    }
    // Blanks after a token: dropped unless text follows them; a backslash may continue the line.
    void TrailingSpaces()
    {
        for (; !IsEol(p_); ++p_) {
            if (text_[p_] == '\\') {
                Push(State::TrailingSpaces);
                state_ = State::EolBackslash;
                return;
            }
            if (!IsSpace(text_[p_]))
                break;
        }
        Pop();
    }
    // Backslashes: the line continues when only blanks or a comment follow them, else they are text.
    void EolBackslash()
    {
        for (; p_ < end_; ++p_) {
            char c = text_[p_];
            if (c == '\n') {
                ++lineNo_;
                start_ = p_ + 1;
                state_ = State::LeadingSpaces;
                ++p_;
                return;
            }
            if (c == ';') {
                Push(State::EolBackslash);
                state_ = State::Comment;
                ++p_;
                return;
            }
            if (c != '\\' && !IsSpace(c)) {
                PushToken(p_); // not at the line end: the backslashes are text
                Pop();
                return;
            }
        }
        start_ = p_;
        Pop();
    }
    void Comment()
    {
        while (!IsEol(p_))
            ++p_;
        Pop();
    }

    std::string_view text_;
    size_t end_;
    OpenSection openSection_;
    State state_ = State::LineStart;
    std::vector<State> stack_;
    unsigned lineNo_ = 1;
    unsigned brokenLine_ = 0;
    std::vector<InfLine>* lines_ = nullptr; // the current section's lines
    InfLine* line_ = nullptr; // the line being filled, until the next line start
    std::string token_;
    size_t start_ = 0; // where the part of the token not yet pushed begins
    size_t p_ = 0;
    InfError failure_ = InfError::None;
};

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
    for (InfLine& line : inf.Lines(section))
        if (line.hasKey && StrEqualNoCase(line.key, key))
            return std::move(line);
    return std::nullopt;
}

std::vector<std::string> InfKeyFields(const InfSource& inf, std::string_view section, std::string_view key)
{
    std::vector<std::string> out;
    for (InfLine& line : inf.Lines(section)) {
        if (line.hasKey && StrEqualNoCase(line.key, key))
            for (std::string& field : line.fields)
                out.push_back(std::move(field));
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
    if (!Parse(text, error, errorLine))
        return false;
    std::optional<InfLine> signature = InfFindLine(*this, "Version", "Signature");
    if (signature) {
        for (const char* known : { "$Chicago$", "$Windows NT$", "$Windows 95$" })
            if (StrEqualNoCase(signature->Field(1), known))
                return true;
    }
    sections_.clear();
    sectionIndex_.clear();
    stringIndex_.clear();
    if (error)
        *error = InfError::WrongInfStyle;
    if (errorLine)
        *errorLine = 0;
    return false;
}

bool InfText::Parse(std::string_view text, InfError* error, unsigned* errorLine)
{
    sections_.clear();
    sectionIndex_.clear();
    stringIndex_.clear();
    std::string wide;
    InfScanner scanner(ScriptText(text, &wide), [this](std::string name) {
        auto [slot, added] = sectionIndex_.try_emplace(Lower(name), sections_.size());
        if (added)
            sections_.push_back({ std::move(name), {} });
        return &sections_[slot->second].lines;
    });
    InfError failure = scanner.Run();
    unsigned lineNo = scanner.LineNo();
    if (failure == InfError::None && scanner.BrokenLine() != 0 && !Find("Strings")) {
        failure = InfError::ExpectedSectionName;
        lineNo = scanner.BrokenLine();
    }
    if (const Section* strings = Find("Strings"); failure == InfError::None && strings) {
        for (size_t i = 0; i < strings->lines.size(); ++i) {
            const InfLine& entry = strings->lines[i];
            if (entry.hasKey && !entry.fields.empty())
                stringIndex_.try_emplace(Lower(entry.key), i); // the first one counts
        }
    }
    if (failure != InfError::None) {
        sections_.clear();
        sectionIndex_.clear();
        if (error)
            *error = failure;
        if (errorLine)
            *errorLine = lineNo;
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
    for (const Section& section : sections_)
        names.push_back(section.name);
    return names;
}

const std::vector<InfLine>* InfText::RawLines(std::string_view section) const
{
    const Section* found = Find(section);
    return found ? &found->lines : nullptr;
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
        if (open == std::string_view::npos)
            break;
        size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos)
            break;
        append(text.substr(pos, open - pos));
        std::string_view name = text.substr(open + 1, close - open - 1);
        if (name.empty())
            append("%");
        else if (const std::string* value = StringValue(name))
            append(*value);
        else
            append(text.substr(open, close - open + 1));
        pos = close + 1;
    }
    if (pos < text.size())
        append(text.substr(pos));
    return out;
}

std::vector<InfLine> InfText::Lines(std::string_view section) const
{
    std::vector<InfLine> lines;
    const Section* found = Find(section);
    if (!found)
        return lines;
    const bool strings = StrEqualNoCase(section, "Strings");
    for (const InfLine& raw : found->lines) {
        if (strings) {
            lines.push_back(raw); // the strings themselves are not expanded again
            continue;
        }
        InfLine line;
        line.hasKey = raw.hasKey;
        line.key = Expand(raw.key);
        for (const std::string& field : raw.fields)
            line.fields.push_back(Expand(field));
        lines.push_back(std::move(line));
    }
    return lines;
}
