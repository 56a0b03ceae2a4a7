// The reader of the object-tree scripts: lines with continuations and comments, keywords, constraint
// lists, values with quoted parts and "str." references, string tables, language blocks, definitions
// and their bases.
#include "common/diag.h"
#include "common/platform/file.h"
#include "common/text.h"
#include "monitor/objtree/script.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace {
const char* const kKeywordTexts[kKwCount] = { "", "action", "childs", "clone", "connect", "detect", "device", "display",
    "enter", "error", "event", "execute", "exechidden", "execplugin", "exit", "flags", "flash", "from", "function",
    "hide", "image", "infotip", "item", "language", "leave", "log", "map", "menu", "menudef", "menuex", "name",
    "option", "plugin", "plugins", "query", "refresh", "register", "root", "set", "setevent", "states", "string",
    "stringtable", "term", "text", "to", "uses", "vendor" };

// Hash tables of at least 5000 buckets keep string lookups flat.
constexpr size_t kScriptBuckets = 5003;

// The keywords by first letter (every keyword is lower-case ASCII): a lookup compares a handful of
// words of the same initial instead of hashing the word.
struct KeywordTable {
    uint8_t first[27] = {}; // keywords starting with letter c: index first[c - 'a'] up to first[c - 'a' + 1]
    ScriptKeyword order[kKwCount] = {};
    uint8_t length[kKwCount] = {}; // of order[i]
    KeywordTable()
    {
        int n = 0;
        for (int c = 0; c < 26; ++c) {
            first[c] = static_cast<uint8_t>(n);
            for (int k = 1; k < kKwCount; ++k)
                if (kKeywordTexts[k][0] == 'a' + c) {
                    length[n] = static_cast<uint8_t>(std::strlen(kKeywordTexts[k]));
                    order[n++] = static_cast<ScriptKeyword>(k);
                }
        }
        first[26] = static_cast<uint8_t>(n);
    }
    ScriptKeyword Find(std::string_view word) const
    {
        if (word.empty() || word[0] < 'a' || word[0] > 'z')
            return kKwNone;
        int c = word[0] - 'a';
        for (int i = first[c]; i < first[c + 1]; ++i) {
            const char* text = kKeywordTexts[order[i]];
            if (length[i] == word.size() && std::memcmp(text, word.data(), word.size()) == 0)
                return order[i];
        }
        return kKwNone;
    }
};

const KeywordTable& Keywords()
{
    static const KeywordTable table;
    return table;
}

// Character classes of the reader, one table lookup per character.
enum : uint8_t {
    kClassBlank = 1, // " \t\n\r\v\f"
    kClassValueEnd = 2, // ",", ";", a quote or a backslash: ends a run of ordinary value characters
    kClassWordEnd = 4, // blanks, ",", ";", "<", a quote or a backslash: ends a keyword
    kClassQuotedEnd = 8, // a quote or a backslash: ends a run of quoted characters
    kClassCheck = 16, // "s" (a "str." reference) and ">" (the end of a constraint list): looked at more closely
};
struct CharClasses {
    uint8_t of[256] = {};
    constexpr CharClasses()
    {
        for (char c : { ' ', '\t', '\n', '\r', '\v', '\f' })
            of[static_cast<uint8_t>(c)] |= kClassBlank | kClassWordEnd;
        for (char c : { ',', ';', '"', '\\' })
            of[static_cast<uint8_t>(c)] |= kClassValueEnd | kClassWordEnd;
        of[static_cast<uint8_t>('<')] |= kClassWordEnd;
        of[static_cast<uint8_t>('"')] |= kClassQuotedEnd;
        of[static_cast<uint8_t>('\\')] |= kClassQuotedEnd;
        of[static_cast<uint8_t>('s')] |= kClassCheck;
        of[static_cast<uint8_t>('>')] |= kClassCheck;
    }
};
constexpr CharClasses kClasses;

inline bool IsBlank(char c)
{
    return kClasses.of[static_cast<uint8_t>(c)] & kClassBlank;
}

std::string_view TrimBlanks(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// Index of the definition kinds in ScriptFile::byName (devices are not looked up by constraints).
int KindSlot(ScriptKeyword kind)
{
    switch (kind) {
    case kKwItem:
        return 0;
    case kKwFunction:
        return 1;
    case kKwMap:
        return 2;
    case kKwPlugin:
        return 3;
    default:
        return 4;
    }
}

bool IsFunctionAction(ScriptKeyword k)
{
    return k == kKwExecute || k == kKwExechidden || k == kKwExecplugin || k == kKwInfotip || k == kKwLog || k == kKwSet
        || k == kKwSetevent;
}

// True when `keyword` is an attribute line of a definition of `kind`.
bool IsAttributeOf(ScriptKeyword kind, ScriptKeyword k)
{
    switch (kind) {
    case kKwDevice:
        return k == kKwName || k == kKwVendor || k == kKwRoot || k == kKwDetect || k == kKwRegister || k == kKwChilds
            || k == kKwDisplay || k == kKwPlugins || k == kKwOption;
    case kKwItem:
        return k == kKwUses || k == kKwStates || k == kKwText || k == kKwImage || k == kKwFlags || k == kKwAction
            || k == kKwRefresh || k == kKwChilds || k == kKwTerm;
    case kKwFunction:
        return k == kKwText || k == kKwQuery || IsFunctionAction(k);
    case kKwMap:
        return k == kKwFrom || k == kKwTo;
    case kKwPlugin:
        return k == kKwUses;
    default:
        return false;
    }
}

bool IsAccumulating(ScriptKeyword k)
{
    return k == kKwOption || k == kKwTerm;
}

// The replacing attributes a definition of `kind` inherits (a function's action line is kept under
// kKwAction).
const std::vector<ScriptKeyword>& ReplacingAttrs(ScriptKeyword kind)
{
    static const std::vector<ScriptKeyword> device
        = { kKwName, kKwVendor, kKwRoot, kKwDetect, kKwRegister, kKwChilds, kKwDisplay, kKwPlugins };
    static const std::vector<ScriptKeyword> item
        = { kKwUses, kKwStates, kKwText, kKwImage, kKwFlags, kKwAction, kKwRefresh, kKwChilds };
    static const std::vector<ScriptKeyword> function = { kKwText, kKwQuery, kKwAction };
    static const std::vector<ScriptKeyword> map = { kKwFrom, kKwTo };
    static const std::vector<ScriptKeyword> plugin = { kKwUses };
    static const std::vector<ScriptKeyword> none;
    switch (kind) {
    case kKwDevice:
        return device;
    case kKwItem:
        return item;
    case kKwFunction:
        return function;
    case kKwMap:
        return map;
    case kKwPlugin:
        return plugin;
    default:
        return none;
    }
}

// One logical line: the keyword, the constraint list and the values.
struct ScriptLine {
    std::string_view keywordText;
    ScriptKeyword keyword = kKwNone;
    bool constrained = false;
    ScriptValuesBuilder constraints; // each cut to kScriptMaxName
    ScriptValuesBuilder values;
};

// A value being read by Reader::ReadComplexValue: its text so far and what decides its final form.
struct ComplexValue {
    std::string& out;
    int quotedParts = 0;
    bool plain = false; // a non-blank character outside quotes
    size_t lastClose = std::string::npos; // out's size just after the last closing quote

    // Opens a quoted part, or continues the last one when only blanks followed it.
    void OpenQuoted()
    {
        if (lastClose != std::string::npos) {
            size_t i = lastClose;
            while (i < out.size() && IsBlank(out[i]))
                ++i;
            if (i == out.size()) {
                out.resize(lastClose - 1);
                return;
            }
        }
        out.push_back('"');
        ++quotedParts;
    }
    void CloseQuoted()
    {
        out.push_back('"');
        lastClose = out.size();
    }
    // Leading and trailing blanks go (those outside quotes: a quoted part keeps its own), and the quotes
    // of a value that is exactly one quoted part.
    void Finish()
    {
        size_t b = 0, e = out.size();
        while (b < e && IsBlank(out[b]))
            ++b;
        while (e > b && IsBlank(out[e - 1]))
            --e;
        if (quotedParts == 1 && !plain && e - b >= 2) {
            ++b;
            --e;
        }
        out.resize(e);
        if (b > 0)
            out.erase(0, b);
    }
};

// Reads one file's text line by line. Lines are views into the text, or into a 64 KB read buffer when
// reading a file (a line longer than the buffer grows it); continuations fetch the next non-skipped
// line while a line is split into tokens. A view stays valid only until the next line is fetched:
// values are copied out as they are split.
class Reader {
public:
    Reader(std::string_view text, ScriptFile& file, std::string_view language)
        : data_(text.data())
        , end_(text.size())
        , eof_(true)
        , file_(file)
        , language_(language)
    {
        strings_.reserve(kScriptBuckets);
    }
    Reader(FILE* source, ScriptFile& file, std::string_view language)
        : source_(source)
        , file_(file)
        , language_(language)
    {
        buffer_.reset(new char[bufferSize_]);
        data_ = buffer_.get();
        strings_.reserve(kScriptBuckets);
    }

    void Run();
    bool ReadFailed() const
    {
        return readFailed_;
    }

private:
    bool NextPhysical(std::string_view* line);
    bool NextNonSkipped(std::string_view* line);
    void Report(const char* message, std::string_view extra = {});
    bool Tokenize(std::string_view line, ScriptLine* out);
    bool AtContinuation(size_t pos) const;
    bool Continue();
    void SkipBlanks();
    std::string_view ReadValue(char stop);
    void ReadComplexValue(std::string* out, char stop);
    void ReadQuotedPart(ComplexValue& value);
    void ReadReference(ComplexValue& value, char stop);
    void ReadPlainRun(ComplexValue& value, char stop, bool wordStart);
    void StartDefinition(ScriptLine& line);
    void EndDefinition();
    void Inherit(ScriptDef& def);
    ScriptValues* OwnAttr(ScriptKeyword keyword);

    void Refill();

    const char* data_ = nullptr; // the text, or the read buffer
    size_t offset_ = 0; // the next line's start
    size_t end_ = 0; // the end of the bytes read
    bool eof_ = false;
    FILE* source_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    size_t bufferSize_ = 64 * 1024;
    bool readFailed_ = false;
    int lineNo_ = 0;
    ScriptFile& file_;
    std::string_view language_;

    // Tokenizer state: the physical line being split and the position in it.
    std::string_view cur_;
    size_t pos_ = 0;

    bool on_ = true; // language block switched on
    bool inTable_ = false;
    bool tableRead_ = false;
    int tables_ = 0;
    std::unordered_map<std::string, std::string> strings_;
    ScriptDef* def_ = nullptr; // the open definition
    // The open definition's attributes and bases, until it ends (then its attributes go to the arena).
    std::vector<ScriptAttr> attrs_;
    std::vector<std::string> bases_;
    size_t baseCount_ = 0;
    std::vector<const ScriptDef*> baseDefs_; // scratch for Inherit
    std::vector<const ScriptValues*> givers_;
    ScriptValuesBuilder merged_; // scratch for inherited lists
    std::string value_; // scratch for the value being split (keeps its capacity from line to line)
};

// Keeps the unfinished line, moved to the buffer's start (the buffer doubled when it holds nothing
// else), and reads behind it.
void Reader::Refill()
{
    size_t keep = end_ - offset_;
    if (keep == bufferSize_) {
        std::unique_ptr<char[]> bigger(new char[bufferSize_ * 2]);
        std::memcpy(bigger.get(), buffer_.get() + offset_, keep);
        buffer_ = std::move(bigger);
        bufferSize_ *= 2;
    } else if (offset_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + offset_, keep);
    }
    data_ = buffer_.get();
    offset_ = 0;
    end_ = keep;
    size_t n = std::fread(buffer_.get() + end_, 1, bufferSize_ - end_, source_);
    end_ += n;
    if (n == 0) {
        eof_ = true;
        readFailed_ = std::ferror(source_) != 0;
    }
}

bool Reader::NextPhysical(std::string_view* line)
{
    for (;;) {
        const char* start = data_ + offset_;
        size_t left = end_ - offset_;
        const void* nl = left ? std::memchr(start, '\n', left) : nullptr;
        if (!nl && !eof_) {
            Refill();
            continue;
        }
        if (left == 0)
            return false;
        size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) : left;
        *line = std::string_view(start, len);
        offset_ += nl ? len + 1 : len;
        ++lineNo_;
        return true;
    }
}

// The next line that is neither empty, blank nor a comment.
bool Reader::NextNonSkipped(std::string_view* line)
{
    std::string_view l;
    while (NextPhysical(&l)) {
        size_t i = 0;
        while (i < l.size() && IsBlank(l[i]))
            ++i;
        if (i == l.size() || l[i] == ';')
            continue;
        *line = l;
        return true;
    }
    return false;
}

void Reader::Report(const char* message, std::string_view extra)
{
    if (extra.empty()) {
        Diag("ObjTre: %s(%d): %s", file_.name.c_str(), lineNo_, message);
        return;
    }
    std::string msg = StrFormat(message, std::string(extra).c_str());
    Diag("ObjTre: %s(%d): %s", file_.name.c_str(), lineNo_, msg.c_str());
}

// A "\" at `pos` followed by nothing but blanks, or blanks and a comment.
bool Reader::AtContinuation(size_t pos) const
{
    size_t i = pos + 1;
    while (i < cur_.size() && IsBlank(cur_[i]))
        ++i;
    return i == cur_.size() || cur_[i] == ';';
}

// Joins the next non-skipped line: tokenizing goes on at its start. False at the end of the file.
bool Reader::Continue()
{
    std::string_view next;
    if (!NextNonSkipped(&next)) {
        cur_ = {};
        pos_ = 0;
        return false;
    }
    cur_ = next;
    pos_ = 0;
    return true;
}

// Skips blanks and continuations.
void Reader::SkipBlanks()
{
    for (;;) {
        while (pos_ < cur_.size() && IsBlank(cur_[pos_]))
            ++pos_;
        if (pos_ < cur_.size() && cur_[pos_] == '\\' && AtContinuation(pos_)) {
            if (!Continue())
                return;
            continue;
        }
        return;
    }
}

// The next value (see ReadComplexValue): valid until the next value is read. A value of ordinary
// characters only (the most common kind) is a view into the line, without a copy.
std::string_view Reader::ReadValue(char stop)
{
    size_t end = pos_;
    while (end < cur_.size()) {
        char d = cur_[end];
        uint8_t cls = kClasses.of[static_cast<uint8_t>(d)];
        if (cls & (kClassValueEnd | kClassCheck)) {
            if (d == ',' || d == ';' || (stop && d == stop))
                break; // the value ends here
            if ((cls & kClassValueEnd) || (d == 's' && cur_.compare(end, 4, "str.") == 0))
                end = std::string_view::npos; // a quote, a backslash or perhaps a reference: the whole way
        }
        if (end == std::string_view::npos)
            break;
        ++end;
    }
    if (end == std::string_view::npos) {
        ReadComplexValue(&value_, stop);
        return value_;
    }
    std::string_view v = TrimBlanks(cur_.substr(pos_, end - pos_));
    pos_ = end;
    return v;
}

// The character an escape in a quoted part stands for: C's control escapes; a backslash before any
// other character is dropped.
char QuotedEscape(char e)
{
    switch (e) {
    case 'a':
        return '\a';
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    case 'v':
        return '\v';
    default:
        return e;
    }
}

// One value up to "," or ";" (or `stop`, the end of a constraint list) outside quotes, or the line's end.
// Quoted parts are kept with their quotes (escapes resolved) unless the value is exactly one of them;
// a quoted part that follows another with nothing but blanks between continues it.
void Reader::ReadComplexValue(std::string* out, char stop)
{
    ComplexValue value { *out };
    out->clear();
    while (pos_ < cur_.size()) {
        char c = cur_[pos_];
        if (c == ',' || c == ';' || (stop && c == stop))
            break;
        if (c == '"') {
            ReadQuotedPart(value);
            continue;
        }
        if (c == '\\' && AtContinuation(pos_)) {
            if (!Continue())
                break;
            continue;
        }
        bool wordStart = out->empty() || IsBlank(out->back()) || value.lastClose == out->size();
        if (c == 's' && wordStart && cur_.compare(pos_, 4, "str.") == 0) {
            ReadReference(value, stop);
            continue;
        }
        ReadPlainRun(value, stop, wordStart);
    }
    value.Finish();
}

// A quoted part from its opening quote: runs without escapes in one piece, escapes resolved; an
// unterminated part ends with the line.
void Reader::ReadQuotedPart(ComplexValue& value)
{
    std::string& out = value.out;
    ++pos_;
    value.OpenQuoted();
    while (pos_ < cur_.size() && cur_[pos_] != '"') {
        size_t run = pos_;
        while (run < cur_.size() && !(kClasses.of[static_cast<uint8_t>(cur_[run])] & kClassQuotedEnd))
            ++run;
        if (run > pos_) {
            out.append(cur_.data() + pos_, run - pos_);
            pos_ = run;
            continue;
        }
        char q = cur_[pos_++];
        if (q == '\\' && pos_ < cur_.size()) {
            out.push_back(QuotedEscape(cur_[pos_++]));
            continue;
        }
        out.push_back(q);
    }
    if (pos_ < cur_.size())
        ++pos_; // the closing quote
    value.CloseQuoted();
}

// "str.KEY" at a word's start: the string's text as a quoted part, or the reference as written when the
// key is unknown.
void Reader::ReadReference(ComplexValue& value, char stop)
{
    size_t end = pos_ + 4;
    while (end < cur_.size() && !IsBlank(cur_[end]) && cur_[end] != ',' && cur_[end] != ';' && cur_[end] != '"'
        && cur_[end] != '\\' && !(stop && cur_[end] == stop))
        ++end;
    std::string key(cur_.substr(pos_ + 4, end - pos_ - 4));
    auto it = strings_.find(key);
    if (it != strings_.end()) {
        value.OpenQuoted();
        value.out.append(it->second);
        value.CloseQuoted();
    } else {
        value.out.append(cur_.substr(pos_, end - pos_));
        value.plain = true;
    }
    pos_ = end;
}

// A run of ordinary characters (a "str." reference stops it where a word starts), or a lone "\" or "s"
// that starts no continuation or reference.
void Reader::ReadPlainRun(ComplexValue& value, char stop, bool wordStart)
{
    size_t end = pos_;
    while (end < cur_.size()) {
        char d = cur_[end];
        uint8_t cls = kClasses.of[static_cast<uint8_t>(d)];
        if (cls & (kClassValueEnd | kClassCheck)) {
            if ((cls & kClassValueEnd) || (stop && d == stop))
                break;
            if (d == 's' && (end == pos_ ? wordStart : IsBlank(cur_[end - 1])) && cur_.compare(end, 4, "str.") == 0)
                break;
        }
        ++end;
    }
    for (size_t i = pos_; !value.plain && i < end; ++i)
        value.plain = !IsBlank(cur_[i]);
    if (end == pos_) {
        char c = cur_[pos_];
        value.out.push_back(c);
        if (!IsBlank(c))
            value.plain = true;
        ++pos_;
        return;
    }
    value.out.append(cur_.substr(pos_, end - pos_));
    pos_ = end;
}

// Splits a line into keyword, constraints and values. False when it is to be skipped.
bool Reader::Tokenize(std::string_view line, ScriptLine* out)
{
    cur_ = line;
    pos_ = 0;
    while (pos_ < cur_.size() && IsBlank(cur_[pos_]))
        ++pos_;
    if (pos_ == cur_.size() || cur_[pos_] == ';')
        return false;
    size_t k = pos_;
    while (k < cur_.size() && !(kClasses.of[static_cast<uint8_t>(cur_[k])] & kClassWordEnd))
        ++k;
    out->keywordText = cur_.substr(pos_, k - pos_);
    out->keyword = Keywords().Find(out->keywordText);
    out->constrained = false;
    out->constraints.Clear();
    out->values.Clear();
    pos_ = k;
    SkipBlanks();
    if (pos_ >= cur_.size() || cur_[pos_] == ';')
        return true;

    bool definition
        = out->keyword == kKwItem || out->keyword == kKwFunction || out->keyword == kKwMap || out->keyword == kKwPlugin;
    if (definition && cur_[pos_] == '<') {
        ++pos_;
        out->constrained = true;
        for (;;) {
            SkipBlanks();
            out->constraints.Add(ReadValue('>').substr(0, kScriptMaxName));
            if (pos_ < cur_.size() && cur_[pos_] == ',') {
                ++pos_;
                continue;
            }
            break;
        }
        if (pos_ >= cur_.size() || cur_[pos_] != '>') {
            Report("Missing '>' after constraits list\n");
            return true;
        }
        ++pos_;
        SkipBlanks();
        if (pos_ >= cur_.size() || cur_[pos_] == ';')
            return true;
    }

    for (;;) {
        SkipBlanks();
        out->values.Add(ReadValue(0));
        if (pos_ < cur_.size() && cur_[pos_] == ',') {
            ++pos_;
            continue;
        }
        break;
    }
    // The value list ends at a comment or the line's end; anything else is reported.
    if (pos_ < cur_.size() && cur_[pos_] != ';')
        Report("Unrecognized stuff: %s\n", cur_.substr(pos_));
    return true;
}

void Reader::StartDefinition(ScriptLine& line)
{
    auto* def = new (file_.arena.Allocate(sizeof(ScriptDef))) ScriptDef;
    file_.defs.push_back(def);
    def->kind = line.keyword;
    def->constrained = line.constrained;
    def->constraints = line.constraints.Finish(&file_.arena);
    attrs_.clear();
    baseCount_ = 0;
    auto addBase = [&](std::string_view name) {
        if (baseCount_ == bases_.size())
            bases_.emplace_back();
        bases_[baseCount_++].assign(name);
    };
    if (!line.values.empty()) {
        std::string_view first = line.values[0];
        size_t colon = first.find(':');
        if (colon == std::string_view::npos) {
            def->name = std::string(first);
        } else {
            def->name = std::string(TrimBlanks(first.substr(0, colon)));
            addBase(TrimBlanks(first.substr(colon + 1)));
            for (size_t i = 1; i < line.values.size(); ++i)
                addBase(line.values[i]);
        }
    }
    if (def->name.size() > kScriptMaxName)
        def->name.resize(kScriptMaxName);
    def_ = def;
}

ScriptValues* Reader::OwnAttr(ScriptKeyword keyword)
{
    for (ScriptAttr& a : attrs_)
        if (a.keyword == keyword)
            return &a.values;
    return nullptr;
}

void Reader::Inherit(ScriptDef& def)
{
    if (baseCount_ == 0)
        return;
    // Bases by exact name among the definitions of the same kind finished so far (for items,
    // functions, maps and plugins the unconstrained ones), the first in file order.
    std::vector<const ScriptDef*>& bases = baseDefs_;
    bases.clear();
    for (size_t i = 0; i < baseCount_; ++i) {
        const std::string& name = bases_[i];
        const ScriptDef* base = nullptr;
        if (def.kind == kKwDevice) {
            for (const ScriptDef* d : file_.devices)
                if (d->name == name) {
                    base = d;
                    break;
                }
        } else {
            base = file_.byName[KindSlot(def.kind)].FindFirst(
                name, [&](const ScriptDef* c) { return !c->constrained && c->name == name; });
        }
        if (base)
            bases.push_back(base);
    }
    if (bases.empty())
        return;
    for (ScriptKeyword k : ReplacingAttrs(def.kind)) {
        std::vector<const ScriptValues*>& givers = givers_;
        givers.clear();
        for (const ScriptDef* b : bases) {
            const ScriptValues* v = b->Get(k);
            if (v && !v->empty())
                givers.push_back(v);
        }
        if (givers.empty())
            continue;
        ScriptValues* own = OwnAttr(k);
        if (!own) {
            if (givers.size() == 1) {
                attrs_.push_back({ k, givers[0]->ShareWithinFile() });
                continue;
            }
        } else {
            auto merge = std::find(own->begin(), own->end(), "<inherited-merge>");
            auto inherited = std::find(own->begin(), own->end(), "<inherited>");
            if (merge != own->end() || (inherited != own->end() && givers.size() == 1)) {
                // The first marker is replaced by the givers' values (<inherited-merge>: all of them).
                size_t at = merge != own->end() ? merge.index() : inherited.index();
                merged_.Clear();
                for (size_t i = 0; i < own->size(); ++i) {
                    if (i != at)
                        merged_.Add((*own)[i]);
                    else if (merge != own->end())
                        for (const ScriptValues* g : givers)
                            merged_.AddAll(*g);
                    else
                        merged_.AddAll(*givers[0]);
                }
                *own = merged_.Finish(&file_.arena);
                continue;
            }
        }
        if (givers.size() >= 2)
            Report("Deriving from multiple objects with overlapping attributes!\n");
    }
    // Accumulating attributes: every entry of every base, after the definition's own.
    for (const ScriptDef* b : bases)
        for (const ScriptAttr& a : b->attrs)
            if (IsAccumulating(a.keyword))
                attrs_.push_back({ a.keyword, a.values.ShareWithinFile() });
}

void Reader::EndDefinition()
{
    if (!def_)
        return;
    ScriptDef& def = *def_;
    def_ = nullptr;
    Inherit(def);
    if (!attrs_.empty()) {
        auto* at = static_cast<ScriptAttr*>(file_.arena.Allocate(sizeof(ScriptAttr) * attrs_.size()));
        for (size_t i = 0; i < attrs_.size(); ++i)
            new (at + i) ScriptAttr(std::move(attrs_[i]));
        def.attrs = std::span<ScriptAttr>(at, attrs_.size());
    }
    attrs_.clear();
    if (def.kind == kKwDevice) {
        file_.devices.push_back(&def);
    } else {
        file_.byName[KindSlot(def.kind)].Add(&def);
    }
}

void Reader::Run()
{
    std::string_view physical;
    ScriptLine line;
    while (NextPhysical(&physical)) {
        if (!Tokenize(physical, &line))
            continue;
        ScriptKeyword k = line.keyword;
        if (k == kKwLanguage) {
            EndDefinition();
            inTable_ = false;
            std::string_view name = line.values.empty() ? std::string_view() : line.values[0];
            on_ = name.empty() || name == "*" || StrEqualNoCase(name, language_);
            continue;
        }
        if (!on_)
            continue;
        if (def_) {
            if (IsAttributeOf(def_->kind, k)) {
                ScriptKeyword slot = k;
                if (def_->kind == kKwFunction && IsFunctionAction(k)) {
                    slot = kKwAction;
                    line.values.PushFront(ScriptKeywordText(k));
                }
                ScriptValues values = line.values.Finish(&file_.arena);
                if (IsAccumulating(k)) {
                    attrs_.push_back({ k, std::move(values) });
                } else if (ScriptValues* v = OwnAttr(slot)) {
                    *v = std::move(values);
                } else {
                    attrs_.push_back({ slot, std::move(values) });
                }
                continue;
            }
            EndDefinition();
        }
        if (inTable_) {
            if (k == kKwString) {
                if (tableRead_ && line.values.size() >= 2)
                    strings_[std::string(line.values[0])] = std::string(line.values[1]);
                continue;
            }
            inTable_ = false;
        }
        switch (k) {
        case kKwDevice:
        case kKwItem:
        case kKwFunction:
        case kKwMap:
        case kKwPlugin:
            StartDefinition(line);
            break;
        case kKwStringtable: {
            ++tables_;
            std::string_view name = line.values.empty() ? std::string_view() : line.values[0];
            inTable_ = true;
            tableRead_ = tables_ == 1 || StrEqualNoCase(name, language_);
            break;
        }
        default:
            Report("Found unexpected token\n");
            break;
        }
    }
    EndDefinition();
}

// "*" any run, "?" one character; exact otherwise (file names of the program directory).
bool MaskMatch(std::string_view mask, std::string_view name)
{
    size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
            ++m;
            ++n;
        } else if (m < mask.size() && mask[m] == '*') {
            starM = m++;
            starN = n;
        } else if (starM != std::string_view::npos) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}
} // namespace

namespace {
constexpr size_t kArenaBlock = 64 * 1024;
constexpr size_t kArenaKept = 32 * 1024 * 1024 / kArenaBlock;

// The blocks of arenas that went, for the next ones.
struct ArenaPool {
    std::mutex lock;
    std::vector<std::unique_ptr<char[]>> blocks;
};

ArenaPool& Pool()
{
    static ArenaPool* pool = new ArenaPool; // never destroyed: arenas may go during static destruction
    return *pool;
}
} // namespace

ScriptArena::~ScriptArena()
{
    Clear();
}

void* ScriptArena::Allocate(size_t bytes)
{
    bytes = (bytes + 7) & ~size_t(7);
    if (bytes > left_) {
        // A request larger than a quarter block gets a block of its own; the current one stays current.
        if (bytes > kArenaBlock / 4) {
            large_.push_back(std::unique_ptr<char[]>(new char[bytes]));
            return large_.back().get();
        }
        std::unique_ptr<char[]> block;
        {
            ArenaPool& pool = Pool();
            std::lock_guard<std::mutex> hold(pool.lock);
            if (!pool.blocks.empty()) {
                block = std::move(pool.blocks.back());
                pool.blocks.pop_back();
            }
        }
        if (!block)
            block.reset(new char[kArenaBlock]);
        blocks_.push_back(std::move(block));
        at_ = blocks_.back().get();
        left_ = kArenaBlock;
    }
    void* p = at_;
    at_ += bytes;
    left_ -= bytes;
    return p;
}

void ScriptArena::Clear()
{
    if (!blocks_.empty()) {
        ArenaPool& pool = Pool();
        std::lock_guard<std::mutex> hold(pool.lock);
        for (auto& block : blocks_)
            if (pool.blocks.size() < kArenaKept)
                pool.blocks.push_back(std::move(block));
    }
    blocks_.clear();
    large_.clear();
    at_ = nullptr;
    left_ = 0;
}

ScriptValues::ScriptValues(std::initializer_list<std::string_view> texts)
{
    ScriptValuesBuilder b;
    for (std::string_view t : texts)
        b.Add(t);
    *this = b.Finish(nullptr);
}

size_t ScriptValues::BlockSize() const
{
    if (!block_)
        return 0;
    size_t n = Head()[0];
    return sizeof(uint32_t) * (n + 1) + (n ? Head()[n] : 0);
}

void ScriptValues::Release()
{
    if (owned_)
        delete[] block_;
    block_ = nullptr;
    owned_ = false;
}

ScriptValues::ScriptValues(const ScriptValues& other)
{
    *this = other;
}

ScriptValues::ScriptValues(ScriptValues&& other) noexcept
    : block_(other.block_)
    , owned_(other.owned_)
{
    other.block_ = nullptr;
    other.owned_ = false;
}

ScriptValues& ScriptValues::operator=(const ScriptValues& other)
{
    if (this == &other)
        return *this;
    char* copy = nullptr;
    if (other.block_) {
        size_t size = other.BlockSize();
        copy = new char[size];
        std::memcpy(copy, other.block_, size);
    }
    Release();
    block_ = copy;
    owned_ = copy != nullptr;
    return *this;
}

ScriptValues& ScriptValues::operator=(ScriptValues&& other) noexcept
{
    if (this != &other) {
        Release();
        block_ = other.block_;
        owned_ = other.owned_;
        other.block_ = nullptr;
        other.owned_ = false;
    }
    return *this;
}

ScriptValues::~ScriptValues()
{
    Release();
}

std::vector<std::string> ScriptValues::Strings(size_t from) const
{
    std::vector<std::string> out;
    for (size_t i = from; i < size(); ++i)
        out.emplace_back((*this)[i]);
    return out;
}

ScriptValues ScriptValues::ShareWithinFile() const
{
    if (owned_)
        return *this;
    ScriptValues v;
    v.block_ = block_;
    return v;
}

bool operator==(const ScriptValues& a, const ScriptValues& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

void ScriptValuesBuilder::PushFront(std::string_view text)
{
    chars_.insert(0, text);
    for (uint32_t& e : ends_)
        e += static_cast<uint32_t>(text.size());
    ends_.insert(ends_.begin(), static_cast<uint32_t>(text.size()));
}

ScriptValues ScriptValuesBuilder::Finish(ScriptArena* arena) const
{
    ScriptValues v;
    if (ends_.empty())
        return v;
    size_t head = sizeof(uint32_t) * (ends_.size() + 1);
    size_t size = head + chars_.size();
    v.block_ = arena ? static_cast<char*>(arena->Allocate(size)) : new char[size];
    v.owned_ = arena == nullptr;
    uint32_t n = static_cast<uint32_t>(ends_.size());
    std::memcpy(v.block_, &n, sizeof n);
    std::memcpy(v.block_ + sizeof n, ends_.data(), sizeof(uint32_t) * n);
    if (!chars_.empty())
        std::memcpy(v.block_ + head, chars_.data(), chars_.size());
    return v;
}

ScriptKeyword ScriptFindKeyword(std::string_view word)
{
    return Keywords().Find(word);
}

const char* ScriptKeywordText(ScriptKeyword keyword)
{
    return keyword < kKwCount ? kKeywordTexts[keyword] : "";
}

const ScriptValues* ScriptDef::Get(ScriptKeyword keyword) const
{
    for (const ScriptAttr& a : attrs)
        if (a.keyword == keyword)
            return &a.values;
    return nullptr;
}

bool ScriptDef::Names(std::string_view deviceType) const
{
    for (std::string_view c : constraints)
        if (StrEqualNoCase(c, deviceType))
            return true;
    return false;
}

ScriptFile::~ScriptFile()
{
    // The definitions live in the arena: end them (their attribute lists first) before it goes.
    for (ScriptDef* def : defs) {
        for (ScriptAttr& a : def->attrs)
            a.~ScriptAttr();
        def->~ScriptDef();
    }
}

const ScriptDef* ScriptFile::Find(ScriptKeyword kind, std::string_view name, std::string_view deviceType) const
{
    int slot = KindSlot(kind);
    if (slot > 3)
        return nullptr;
    if (const ScriptDef* d
        = byName[slot].FindFirst(name, [&](const ScriptDef* c) { return c->constrained && c->Names(deviceType); }))
        return d;
    return byName[slot].FindFirst(name, [](const ScriptDef* c) { return !c->constrained; });
}

namespace {
// FNV-1a over the lower-cased bytes.
uint32_t NameHash(std::string_view name)
{
    uint32_t h = 2166136261u;
    for (char c : name)
        h = (h ^ static_cast<uint8_t>(AsciiLower(c))) * 16777619u;
    return h;
}
} // namespace

uint32_t ScriptNameIndex::Head(std::string_view name) const
{
    if (slots_.empty())
        return kNone;
    uint32_t h = NameHash(name);
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.head == kNone)
            return kNone;
        if (s.hash == h && StrEqualNoCase(entries_[s.head].def->name, name))
            return s.head;
    }
}

void ScriptNameIndex::Add(const ScriptDef* def)
{
    if ((names_ + 1) * 2 > slots_.size()) {
        // Grow to keep the table at most half full; the chains stay as they are.
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : old.size() * 2, Slot());
        size_t mask = slots_.size() - 1;
        for (const Slot& s : old) {
            if (s.head == kNone)
                continue;
            size_t i = s.hash & mask;
            while (slots_[i].head != kNone)
                i = (i + 1) & mask;
            slots_[i] = s;
        }
    }
    uint32_t h = NameHash(def->name);
    uint32_t e = static_cast<uint32_t>(entries_.size());
    entries_.push_back({ def, kNone });
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        Slot& s = slots_[i];
        if (s.head == kNone) {
            s = { h, e, e };
            ++names_;
            return;
        }
        if (s.hash == h && StrEqualNoCase(entries_[s.head].def->name, def->name)) {
            entries_[s.tail].next = e;
            s.tail = e;
            return;
        }
    }
}

void ScriptLibrary::LoadText(std::string_view text, const std::string& name, std::string_view language)
{
    auto file = std::make_unique<ScriptFile>();
    file->path = name;
    size_t slash = name.find_last_of("/\\");
    file->name = slash == std::string::npos ? name : name.substr(slash + 1);
    Reader reader(text, *file, language);
    reader.Run();
    files_.push_back(std::move(file));
}

int ScriptLibrary::LoadFile(const std::string& path, std::string_view language)
{
    // Read through a buffer rather than whole: a 5 MB script then costs no 5 MB of fresh pages.
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return 0;
    auto file = std::make_unique<ScriptFile>();
    file->path = path;
    size_t slash = path.find_last_of("/\\");
    file->name = slash == std::string::npos ? path : path.substr(slash + 1);
    Reader reader(f, *file, language);
    reader.Run();
    bool failed = reader.ReadFailed();
    std::fclose(f);
    if (failed)
        return 0; // as a file that cannot be read: none of it is kept
    files_.push_back(std::move(file));
    return 1;
}

int ScriptLibrary::LoadAll(const std::string& pattern, std::string_view language)
{
    size_t slash = pattern.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "." : pattern.substr(0, slash);
    if (dir.empty())
        dir = "/";
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (!it->is_regular_file(ec2))
            continue;
        std::string name = it->path().filename().string();
        if (MaskMatch(mask, name))
            names.push_back(name);
    }
    // Name order, so that every platform reads the files alike.
    std::sort(names.begin(), names.end());
    int read = 0;
    for (const std::string& name : names)
        read += LoadFile(slash == std::string::npos ? name : pattern.substr(0, slash + 1) + name, language);
    return read;
}

void ScriptLibrary::Clear()
{
    files_.clear();
}

const ScriptDef* ScriptLibrary::FindDevice(std::string_view name, const ScriptFile** file) const
{
    for (const auto& f : files_)
        for (const ScriptDef* d : f->devices)
            if (StrEqualNoCase(d->name, name)) {
                if (file)
                    *file = f.get();
                return d;
            }
    return nullptr;
}

bool ScriptLibrary::Detect(size_t n, DetectEntry* out) const
{
    for (const auto& f : files_)
        for (const ScriptDef* d : f->devices) {
            const ScriptValues* detect = d->Get(kKwDetect);
            if (!detect || detect->size() < 2)
                continue;
            if (n-- > 0)
                continue;
            out->device = d;
            out->file = f.get();
            out->oidText = ScriptResolveOid((*detect)[0], d->Get(kKwRoot));
            out->value = std::string((*detect)[1]);
            return true;
        }
    return false;
}

namespace {
template<typename Roots> std::string ResolveOid(std::string_view text, const Roots* roots)
{
    text = TrimBlanks(text);
    size_t dot = text.find('.');
    if (dot == std::string_view::npos)
        return {};
    auto n = ParseUnsignedStrict(text.substr(0, dot));
    if (!n)
        return {};
    std::string_view rest = text.substr(dot + 1);
    std::string out;
    if (*n == 0) {
        out = std::string(rest);
    } else {
        if (!roots || *n > roots->size())
            return {};
        out = (*roots)[*n - 1];
        out += '.';
        out.append(rest);
    }
    if (out.size() > kScriptMaxName)
        out.resize(kScriptMaxName);
    return out;
}
} // namespace

std::string ScriptResolveOid(std::string_view text, const ScriptValues* roots)
{
    return ResolveOid(text, roots);
}

std::string ScriptResolveOid(std::string_view text, const std::vector<std::string>* roots)
{
    return ResolveOid(text, roots);
}

ScriptLibrary& ScriptGlobal()
{
    static ScriptLibrary library;
    return library;
}

int ScriptLoadAll(const std::string& pattern, std::string_view language)
{
    return ScriptGlobal().LoadAll(pattern, language);
}

bool ScriptDetectEntry(size_t n, std::string* oidText)
{
    ScriptLibrary::DetectEntry e;
    if (!ScriptGlobal().Detect(n, &e))
        return false;
    *oidText = e.oidText;
    return true;
}

bool ScriptDetectValue(size_t n, std::string* value)
{
    ScriptLibrary::DetectEntry e;
    if (!ScriptGlobal().Detect(n, &e))
        return false;
    *value = e.value;
    return true;
}

bool ScriptDetectType(size_t n, std::string* type)
{
    ScriptLibrary::DetectEntry e;
    if (!ScriptGlobal().Detect(n, &e))
        return false;
    *type = e.device->name;
    return true;
}

std::string ScriptTypeForDetectValue(std::string_view value)
{
    ScriptLibrary::DetectEntry e;
    for (size_t n = 0; ScriptGlobal().Detect(n, &e); ++n)
        if (e.value == value)
            return e.device->name;
    return {};
}

void ScriptFreeAll()
{
    ScriptGlobal().Clear();
}
