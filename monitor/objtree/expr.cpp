// Expressions, templates, references and value formats of the object-tree scripts.
//
// Every evaluation carries an Eval record: nested evaluations (terms, instance texts, index templates,
// map to-values) count its depth and every resolved reference its budget. Past either limit the whole
// evaluation is abandoned, so a term that refers to itself (directly or through others) fails instead
// of running the stack out, and a script cannot make one evaluation take exponential time.
#include "monitor/objtree/expr.h"

#include "common/locale.h"
#include "common/platform/net.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/objtree/objtree.h"
#include "monitor/objtree/texts.h"

#include <cstring>

namespace {
constexpr int kMaxSplitDepth = 256; // operator levels of one token list
constexpr uint32_t kMaxReferences = 20000; // references resolved by one evaluation

struct Eval {
    int depth = 0;
    uint32_t references = 0;
    bool aborted = false;
};

// Enters one nested evaluation; false (and the evaluation abandoned) past the limits.
struct Nest {
    Eval& ev;
    bool ok;
    explicit Nest(Eval& e)
        : ev(e)
        , ok(++e.depth <= kExprMaxDepth && !e.aborted)
    {
        if (!ok)
            ev.aborted = true;
    }
    ~Nest()
    {
        --ev.depth;
    }
};

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void CutText(std::string* s)
{
    if (s->size() > kExprMaxText)
        s->resize(kExprMaxText);
}

SnmpValue StringValue(std::string s)
{
    CutText(&s);
    SnmpValue v;
    v.kind = kSnmpString;
    v.text = std::move(s);
    return v;
}

std::optional<SnmpValue> Evaluate(
    const ExprTokens& t, size_t b, size_t e, const ScriptContext& ctx, Eval& ev, int level);
SnmpValue Expand(std::string_view text, const ScriptContext& ctx, Eval& ev);
SnmpValue Format(const SnmpValue& value, std::string_view format, const ScriptContext& ctx, Eval& ev);

ScriptContext ItemContextOf(const ScriptContext& ctx, const ItemObject* item)
{
    ScriptContext c;
    c.kind = ScriptContextKind::Item;
    c.item = item;
    c.device = item && item->device ? item->device : ctx.device;
    c.runtime = ctx.runtime;
    return c;
}

// The N-th uses entry's polled OID, its index template expanded in the item context.
bool PolledOid(const ItemObject& item, size_t n, const ScriptContext& ctx, Eval& ev, SnmpOid* out)
{
    if (n == 0 || n > item.uses.size() || !item.uses[n - 1].valid)
        return false;
    const ItemUse& use = item.uses[n - 1];
    *out = use.oid;
    if (!use.indexTemplate.empty()) {
        Nest nest(ev);
        if (!nest.ok)
            return false;
        SnmpValue index = Expand(use.indexTemplate, ItemContextOf(ctx, &item), ev);
        if (ev.aborted)
            return false;
        // As the engine polls it: none or 0 is a missing index (nothing is polled); an integer is
        // appended, any other value leaves the OID as it is.
        if (index.kind == kSnmpNone || (index.kind == kSnmpInteger && index.integer == 0))
            return false;
        SnmpOidAppendIndex(out, index);
    }
    return true;
}

uint32_t Instance(const ItemObject& item, const ScriptContext& ctx, Eval& ev)
{
    uint32_t offset = ctx.runtime ? ctx.runtime->RowOffset(item) : 0;
    size_t colon = item.ref.find(':');
    if (colon == std::string::npos)
        return 1 + offset;
    std::string_view text = std::string_view(item.ref).substr(colon + 1);
    if (!item.parent)
        return ParseUnsigned(text) + offset;
    Nest nest(ev);
    if (!nest.ok)
        return 0;
    if (text.find('$') == std::string_view::npos) // literal text (mostly a row number): read as it stands
        return ParseUnsigned(text.substr(0, kExprMaxText)) + offset;
    SnmpValue v = Expand(text, ItemContextOf(ctx, item.parent), ev);
    return ExprNumber(v) + offset;
}

bool AllDigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A reference by name or number, in the order the scripts rely on.
SnmpValue Resolve(std::string_view name, const ScriptContext& ctx, Eval& ev)
{
    if (++ev.references > kMaxReferences) {
        ev.aborted = true;
        return {};
    }
    if (AllDigits(name)) {
        uint32_t n = 0xFFFFFFFFu; // more than nine digits: beyond any list
        if (name.size() <= 9) {
            n = 0;
            for (char c : name)
                n = n * 10 + static_cast<uint32_t>(c - '0');
        }
        if (n >= 1) {
            switch (ctx.kind) {
            case ScriptContextKind::Item:
                if (ctx.item && n <= ctx.item->uses.size()) {
                    SnmpOid oid;
                    SnmpValue v;
                    if (PolledOid(*ctx.item, n, ctx, ev, &oid) && ctx.runtime && ctx.runtime->Cached(oid, &v))
                        return v;
                    return {};
                }
                break;
            case ScriptContextKind::Action:
                if (ctx.args && n <= ctx.args->size())
                    return (*ctx.args)[n - 1];
                return {};
            case ScriptContextKind::Map:
                return {};
            }
        }
    }
    auto is = [&](const char* shortName, const char* longName) {
        return StrEqualNoCase(name, shortName) || StrEqualNoCase(name, longName);
    };
    if (ctx.kind == ScriptContextKind::Map && is("f", "from"))
        return ctx.from ? *ctx.from : SnmpValue();
    if (is("a", "address"))
        return SnmpValue::Address(ctx.runtime ? ctx.runtime->Address() : 0);
    if (is("c", "community"))
        return StringValue(ctx.runtime ? ctx.runtime->Community() : std::string());
    if (is("n", "name"))
        return StringValue(ctx.device ? ctx.device->name : std::string());
    if (is("v", "vendor"))
        return StringValue(ctx.device ? ctx.device->vendor : std::string());
    if (is("e", "error"))
        return SnmpValue::Integer(ctx.runtime && ctx.runtime->Error() ? 1 : 0);
    if (is("d", "details"))
        return SnmpValue::Integer(ctx.runtime ? ctx.runtime->Details() : 0);
    if (ctx.item && ctx.kind != ScriptContextKind::Map && is("i", "instance"))
        return SnmpValue::Integer(Instance(*ctx.item, ctx, ev));
    if (ctx.item) {
        if (const ItemTerm* term = ctx.item->FindTerm(name)) {
            Nest nest(ev);
            if (!nest.ok)
                return {};
            std::optional<SnmpValue> v
                = Evaluate(term->expr, 0, term->expr.size(), ItemContextOf(ctx, ctx.item), ev, 0);
            return v ? *v : SnmpValue();
        }
    }
    if (ctx.device) {
        if (const OptionObject* option = ctx.device->FindOption(name))
            return SnmpValue::Integer(ctx.runtime ? ctx.runtime->OptionValue(*option) : option->defaultValue);
    }
    // Why "error" is 1, for the device's own item to tell: after terms and options, so that a script's own
    // names stay as they were.
    if (is("noanswer", "noanswer"))
        return SnmpValue::Integer(ctx.runtime && ctx.runtime->NoAnswer() ? 1 : 0);
    if (is("refused", "refused"))
        return SnmpValue::Integer(ctx.runtime && ctx.runtime->Refused() ? 1 : 0);
    return {};
}

SnmpValue Expand(std::string_view text, const ScriptContext& ctx, Eval& ev)
{
    std::string out;
    size_t references = 0;
    bool literal = false; // any text besides references
    SnmpValue single;
    // A template of one reference alone (most operands of state expressions) gives that value with its
    // kind: its text is only made once something else follows.
    bool pending = false; // `single` not yet in `out`
    auto flush = [&] {
        if (pending)
            out += ExprValueText(single);
        pending = false;
    };
    auto add = [&](SnmpValue v) {
        ++references;
        if (references == 1 && !literal) {
            single = std::move(v);
            pending = true;
            return;
        }
        flush();
        out += ExprValueText(v);
    };
    size_t i = 0;
    while (i < text.size() && !ev.aborted) {
        char c = text[i];
        if (c != '$') {
            size_t next = text.find('$', i);
            if (next == std::string_view::npos)
                next = text.size();
            flush();
            out.append(text.substr(i, next - i));
            literal = true;
            i = next;
            continue;
        }
        if (i + 1 >= text.size()) { // a "$" at the end is dropped
            ++i;
            continue;
        }
        char d = text[i + 1];
        if (d == '$') {
            flush();
            out.push_back('$');
            literal = true;
            i += 2;
        } else if (d == '(') {
            size_t close = text.find(')', i + 2);
            if (close == std::string_view::npos) { // malformed: dropped
                i = text.size();
                continue;
            }
            std::string_view inner = text.substr(i + 2, close - i - 2);
            size_t blank = 0;
            while (blank < inner.size() && !IsBlank(inner[blank]))
                ++blank;
            std::string_view name = inner.substr(0, blank);
            std::string_view format = blank < inner.size() ? inner.substr(blank + 1) : std::string_view();
            SnmpValue v = Resolve(name, ctx, ev);
            if (!format.empty())
                v = Format(v, format, ctx, ev);
            add(std::move(v));
            i = close + 1;
        } else if ((d >= 'a' && d <= 'z') || (d >= 'A' && d <= 'Z')) {
            add(Resolve(text.substr(i + 1, 1), ctx, ev));
            i += 2;
        } else if (d >= '0' && d <= '9') {
            size_t end = i + 1;
            while (end < text.size() && text[end] >= '0' && text[end] <= '9')
                ++end;
            add(Resolve(text.substr(i + 1, end - i - 1), ctx, ev));
            i = end;
        } else { // "$" followed by anything else: the "$" is dropped
            ++i;
        }
        if (out.size() > 4 * kExprMaxText)
            out.resize(4 * kExprMaxText);
    }
    if (references == 1 && !literal) {
        if (single.kind == kSnmpString)
            CutText(&single.text);
        return single;
    }
    flush();
    return StringValue(std::move(out));
}

// Unsigned number in a fixed base, as strtoul reads it: blanks, an optional sign, an optional "0x" in
// base 16; wraps modulo 2^32.
uint32_t ParseInBase(std::string_view s, int base)
{
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (base == 16 && i + 2 < s.size() + 1 && i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X'))
        i += 2;
    uint32_t v = 0;
    for (; i < s.size(); ++i) {
        char c = s[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        if (digit >= base)
            break;
        v = v * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    }
    return negative ? 0u - v : v;
}

// A translated duration text: "%d" takes the next number, "%%" is one "%", anything else stays as it
// stands (a faulty translation never reads arguments that are not there).
std::string FillNumbers(const std::string& pattern, std::initializer_list<uint32_t> numbers)
{
    std::string out;
    auto next = numbers.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 'd' && next != numbers.end()) {
                out += std::to_string(*next++);
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string Duration(uint32_t n)
{
    uint32_t d = n / 86400, h = n % 86400 / 3600, m = n % 3600 / 60, s = n % 60;
    auto text = [](unsigned id) { return StrLoad(talvine_Strings(), id); };
    if (d >= 2)
        return h == 1 ? FillNumbers(text(ExprStrDaysHour), { d }) : FillNumbers(text(ExprStrDaysHours), { d, h });
    if (d == 1)
        return h == 1 ? text(ExprStrDayHour) : FillNumbers(text(ExprStrDayHours), { h });
    if (h >= 2)
        return m == 1 ? FillNumbers(text(ExprStrHoursMinute), { h }) : FillNumbers(text(ExprStrHoursMinutes), { h, m });
    if (h == 1)
        return m == 1 ? text(ExprStrHourMinute) : FillNumbers(text(ExprStrHourMinutes), { m });
    if (m >= 2)
        return s == 1 ? FillNumbers(text(ExprStrMinutesSecond), { m })
                      : FillNumbers(text(ExprStrMinutesSeconds), { m, s });
    if (m == 1)
        return s == 1 ? text(ExprStrMinuteSecond) : FillNumbers(text(ExprStrMinuteSeconds), { s });
    return s == 1 ? text(ExprStrOneSecond) : FillNumbers(text(ExprStrSeconds), { s });
}

// Seconds since 1900 as the user's short date and time. The moment is computed here (days to a civil
// date), so times before 1970 come out as the dates they are.
std::string DateTime(uint32_t n)
{
    if (n == 0)
        return {};
    int64_t secs = static_cast<int32_t>(n - 2208988800u);
    int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    int64_t rem = secs - days * 86400;
    // Days since 1970-01-01 to year, month, day (proleptic Gregorian).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t day = doy - (153 * mp + 2) / 5 + 1;
    int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++y;
    LocaleDate date { static_cast<uint16_t>(y), static_cast<uint16_t>(month), static_cast<uint16_t>(day) };
    LocaleTime time { static_cast<uint16_t>(rem / 3600), static_cast<uint16_t>(rem % 3600 / 60),
        static_cast<uint16_t>(rem % 60) };
    return LocaleShortDate(date) + " " + LocaleTimeText(time, true);
}

std::vector<std::string_view> Words(std::string_view text)
{
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        size_t b = i;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        if (i > b)
            words.push_back(text.substr(b, i - b));
    }
    return words;
}

SnmpValue MapValue(const SnmpValue& value, std::string_view name, const ScriptContext& ctx, Eval& ev)
{
    if (!ctx.device)
        return value;
    const MapObject* map = ctx.device->FindMap(std::string(name) + ":" + ctx.device->type);
    if (!map)
        map = ctx.device->FindMap(name);
    if (!map)
        return value;
    auto take = [&](const SnmpValue& to) {
        if (to.kind != kSnmpString)
            return to;
        Nest nest(ev);
        if (!nest.ok)
            return SnmpValue();
        ScriptContext m = ctx;
        m.kind = ScriptContextKind::Map;
        m.from = &value;
        m.args = nullptr;
        return Expand(to.text, m, ev);
    };
    for (size_t i = 0; i < map->from.size(); ++i) {
        const SnmpValue& f = map->from[i];
        bool match = value.kind == kSnmpNone ? (f.kind != kSnmpString || f.text.empty()) : ExprEqual(value, f);
        if (match)
            return i < map->to.size() ? take(map->to[i]) : value;
    }
    if (map->to.size() > map->from.size())
        return take(map->to[map->from.size()]);
    return value;
}

// "sub START [LENGTH]": the value's text without its first START characters (a negative START keeps
// the last -START), cut to LENGTH (a negative LENGTH drops the last -LENGTH).
SnmpValue SubText(const SnmpValue& value, const std::vector<std::string_view>& w)
{
    std::string text = ExprValueText(value);
    int64_t start = ParseDecimal(w[1]);
    int64_t length = w.size() > 2 ? ParseDecimal(w[2]) : 0;
    int64_t size = static_cast<int64_t>(text.size());
    if (start > 0)
        text.erase(0, static_cast<size_t>(start < size ? start : size));
    else if (start < 0 && -start < size)
        text.erase(0, static_cast<size_t>(size + start));
    size = static_cast<int64_t>(text.size());
    if (length > 0 && length < size)
        text.resize(static_cast<size_t>(length));
    else if (length < 0)
        text.resize(static_cast<size_t>(-length < size ? size + length : 0));
    return StringValue(std::move(text));
}

// "tok N [SEPARATORS]": word N (from 0) of the value's text, words separated by any of SEPARATORS
// (a blank by default); the empty text when there are fewer words.
SnmpValue WordOf(const SnmpValue& value, const std::vector<std::string_view>& w)
{
    uint32_t n = ParseUnsigned(w[1]);
    std::string seps = w.size() > 2 ? std::string(w[2]) : std::string(" ");
    std::string text = ExprValueText(value);
    uint32_t index = 0;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && seps.find(text[i]) != std::string::npos)
            ++i;
        if (i >= text.size())
            break;
        size_t b = i;
        while (i < text.size() && seps.find(text[i]) == std::string::npos)
            ++i;
        if (index++ == n)
            return StringValue(text.substr(b, i - b));
    }
    return StringValue(std::string());
}

// The number a format works on: the value's text read as `input` ("int", "hex" or "ip") when it is a
// string and an input word was given, else the value as a number; then the arithmetic word applied.
uint32_t FormatNumber(const SnmpValue& value, std::string_view input, char arith, uint32_t operand)
{
    uint32_t n;
    if (!input.empty() && value.kind == kSnmpString) {
        if (input == "int") {
            n = ParseInBase(value.text, 10);
        } else if (input == "hex") {
            n = ParseInBase(value.text, 16);
        } else {
            std::optional<uint32_t> address = NetParseAddress(Trim(value.text));
            n = address ? *address : 0;
        }
    } else {
        n = ExprNumber(value);
    }
    switch (arith) {
    case '+':
        n += operand;
        break;
    case '-':
        n -= operand;
        break;
    case '*':
        n *= operand;
        break;
    case '/':
        if (operand != 0)
            n /= operand;
        break;
    default:
        break;
    }
    return n;
}

SnmpValue Format(const SnmpValue& value, std::string_view format, const ScriptContext& ctx, Eval& ev)
{
    std::vector<std::string_view> w = Words(format);
    if (w.empty())
        return value;
    if (w[0] == "map")
        return w.size() == 2 ? MapValue(value, w[1], ctx, ev) : value;
    if (w[0] == "sub") {
        if (w.size() < 2 || w.size() > 3)
            return value;
        return SubText(value, w);
    }
    if (w[0] == "tok") {
        if (w.size() < 2 || w.size() > 3)
            return value;
        return WordOf(value, w);
    }

    // Input word, arithmetic word, then "as" OUTPUT or "select" WORDS; anything else voids the format.
    size_t i = 0;
    std::string_view input;
    if (w[i] == "int" || w[i] == "hex" || w[i] == "ip")
        input = w[i++];
    char arith = 0;
    uint32_t operand = 0;
    if (i < w.size() && w[i].size() >= 2 && std::strchr("+-*/", w[i][0])) {
        auto number = ParseUnsignedStrict(w[i].substr(1));
        if (!number || IsBlank(w[i][1]))
            return value;
        arith = w[i][0];
        operand = *number;
        ++i;
    }
    std::string_view output;
    std::vector<std::string_view> select;
    bool selecting = false;
    if (i < w.size() && w[i] == "as") {
        if (i + 2 != w.size())
            return value;
        output = w[i + 1];
        i = w.size();
    } else if (i < w.size() && w[i] == "select") {
        selecting = true;
        select.assign(w.begin() + static_cast<long>(i) + 1, w.end());
        i = w.size();
    }
    if (i != w.size())
        return value;

    uint32_t n = FormatNumber(value, input, arith, operand);
    if (selecting)
        return n < select.size() ? StringValue(std::string(select[n])) : value;
    if (output.empty() || output == "int")
        return SnmpValue::Integer(n);
    if (output == "hex")
        return StringValue(StrFormat("%08lX", static_cast<unsigned long>(n)));
    if (output == "ip")
        return SnmpValue::Address(SnmpAddressFromHost(n));
    if (output == "duration")
        return StringValue(Duration(n));
    if (output == "datetime")
        return StringValue(DateTime(n));
    return value;
}

uint32_t Apply(uint8_t op, uint32_t a, uint32_t b, bool* ok)
{
    switch (op) {
    case kOpMul:
        return a * b;
    case kOpDiv:
    case kOpMod:
        if (b == 0) {
            *ok = false;
            return 0;
        }
        return op == kOpDiv ? a / b : a % b;
    case kOpAdd:
        return a + b;
    case kOpSub:
        return a - b;
    case kOpShl:
        return a << (b % 32);
    case kOpShr:
        return a >> (b % 32);
    case kOpLt:
        return a < b;
    case kOpLe:
        return a <= b;
    case kOpGt:
        return a > b;
    case kOpGe:
        return a >= b;
    case kOpAnd:
        return a & b;
    case kOpXor:
        return a ^ b;
    case kOpOr:
        return a | b;
    default:
        *ok = false;
        return 0;
    }
}

std::optional<SnmpValue> Evaluate(
    const ExprTokens& t, size_t b, size_t e, const ScriptContext& ctx, Eval& ev, int level)
{
    if (ev.aborted || level > kMaxSplitDepth || b >= e)
        return std::nullopt;
    // The operator outside parentheses with the highest code (the leftmost of equal ones) splits.
    int depth = 0;
    size_t split = e;
    uint8_t code = 0;
    for (size_t i = b; i < e; ++i) {
        uint8_t op = t[i].op;
        if (op == kOpOpen) {
            ++depth;
        } else if (op == kOpClose) {
            if (--depth < 0)
                return std::nullopt;
        } else if (op != 0 && depth == 0 && op > code) {
            code = op;
            split = i;
        }
    }
    if (depth != 0)
        return std::nullopt;
    if (split != e) {
        std::optional<SnmpValue> left = Evaluate(t, b, split, ctx, ev, level + 1);
        if (!left)
            return std::nullopt;
        if (code == kOpLogAnd || code == kOpLogOr) {
            uint32_t l = ExprNumber(*left);
            if (code == kOpLogAnd && l == 0)
                return SnmpValue::Integer(0);
            if (code == kOpLogOr && l != 0)
                return SnmpValue::Integer(1);
            std::optional<SnmpValue> right = Evaluate(t, split + 1, e, ctx, ev, level + 1);
            if (!right)
                return std::nullopt;
            return SnmpValue::Integer(ExprNumber(*right));
        }
        std::optional<SnmpValue> right = Evaluate(t, split + 1, e, ctx, ev, level + 1);
        if (!right)
            return std::nullopt;
        if (code == kOpEq || code == kOpNe)
            return SnmpValue::Integer(ExprEqual(*left, *right) == (code == kOpEq) ? 1 : 0);
        bool ok = true;
        uint32_t r = Apply(code, ExprNumber(*left), ExprNumber(*right), &ok);
        if (!ok)
            return std::nullopt;
        return SnmpValue::Integer(r);
    }
    if (t[b].op == kOpOpen && t[e - 1].op == kOpClose)
        return Evaluate(t, b + 1, e - 1, ctx, ev, level + 1);
    if (e - b == 1 && t[b].op == 0) {
        const SnmpValue& v = t[b].operand;
        if (v.kind != kSnmpString)
            return v;
        ScriptContext item = ctx;
        item.kind = ScriptContextKind::Item;
        SnmpValue r = Expand(v.text, item, ev);
        if (ev.aborted)
            return std::nullopt;
        return r;
    }
    return std::nullopt;
}

// Operators, the longer spelling first.
struct OpSpelling {
    const char* text;
    uint8_t op;
};
const OpSpelling kOps[] = { { "!=", kOpNe }, { "&&", kOpLogAnd }, { "||", kOpLogOr }, { "<<", kOpShl },
    { ">>", kOpShr }, { "<=", kOpLe }, { ">=", kOpGe }, { "==", kOpEq }, { "%", kOpMod }, { "&", kOpAnd },
    { "(", kOpOpen }, { ")", kOpClose }, { "*", kOpMul }, { "+", kOpAdd }, { "-", kOpSub }, { "/", kOpDiv },
    { "<", kOpLt }, { ">", kOpGt }, { "^", kOpXor }, { "|", kOpOr } };

// The operator at `text[i]`, 0 when none starts there; `length` its spelling's length. The two-character
// spellings are tried before the one-character ones (kOps lists them first); only spellings that start
// with that character are compared.
uint8_t OperatorAt(std::string_view text, size_t i, size_t* length)
{
    if (i >= text.size())
        return 0;
    char c = text[i];
    static constexpr char kStarts[] = "!&|<>=%()*+-/^"; // the first characters of the spellings
    if (!std::memchr(kStarts, c, sizeof kStarts - 1))
        return 0;
    for (const OpSpelling& o : kOps) {
        if (o.text[0] != c)
            continue;
        size_t n = o.text[1] ? 2 : 1;
        if (n == 1 || (i + 1 < text.size() && text[i + 1] == o.text[1])) {
            *length = n;
            return o.op;
        }
    }
    return 0;
}
} // namespace

uint32_t ScriptNullRuntime::OptionValue(const OptionObject& option)
{
    return option.defaultValue;
}

std::string ExprValueText(const SnmpValue& value)
{
    switch (value.kind) {
    case kSnmpInteger:
        return std::to_string(value.integer);
    case kSnmpIpAddress:
        return SnmpAddressText(value.address);
    case kSnmpString:
        return value.text;
    default:
        return {};
    }
}

uint32_t ExprNumber(const SnmpValue& value)
{
    switch (value.kind) {
    case kSnmpInteger:
        return value.integer;
    case kSnmpIpAddress:
        return SnmpAddressToHost(value.address);
    case kSnmpString:
        return ParseUnsigned(value.text);
    default:
        return 0;
    }
}

bool ExprEqual(const SnmpValue& a, const SnmpValue& b)
{
    if (a.kind == kSnmpNone || b.kind == kSnmpNone) {
        const SnmpValue& other = a.kind == kSnmpNone ? b : a;
        if (other.kind == kSnmpNone)
            return true;
        return other.kind == kSnmpString && other.text.empty();
    }
    if (a.kind == kSnmpString || b.kind == kSnmpString)
        return ExprValueText(a) == ExprValueText(b);
    return ExprNumber(a) == ExprNumber(b);
}

ExprTokens ExprParse(std::string_view text)
{
    ExprTokens tokens;
    size_t i = 0;
    auto operand = [&](std::string_view s) {
        ExprToken t;
        auto number = s.empty() ? std::nullopt : ParseUnsignedStrict(s);
        if (number && !IsBlank(s.front()) && !IsBlank(s.back()))
            t.operand = SnmpValue::Integer(*number);
        else
            t.operand = StringValue(std::string(s));
        tokens.push_back(std::move(t));
    };
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        size_t length = 0;
        if (uint8_t op = OperatorAt(text, i, &length)) {
            ExprToken t;
            t.op = op;
            tokens.push_back(std::move(t));
            i += length;
            continue;
        }
        if (text[i] == '"') {
            size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos)
                close = text.size();
            operand(text.substr(i + 1, close - i - 1));
            i = close < text.size() ? close + 1 : close;
            continue;
        }
        if (text.compare(i, 2, "$(") == 0) {
            size_t close = text.find(')', i + 2);
            close = close == std::string_view::npos ? text.size() : close + 1;
            operand(text.substr(i, close - i));
            i = close;
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() && !IsBlank(text[end]) && !OperatorAt(text, end, &length))
            ++end;
        operand(text.substr(i, end - i));
        i = end;
    }
    return tokens;
}

std::optional<SnmpValue> ExprEvaluate(const ExprTokens& tokens, const ScriptContext& context)
{
    Eval ev;
    std::optional<SnmpValue> v = Evaluate(tokens, 0, tokens.size(), context, ev, 0);
    if (ev.aborted)
        return std::nullopt;
    return v;
}

SnmpValue TemplateExpand(std::string_view text, const ScriptContext& context, bool* aborted)
{
    Eval ev;
    SnmpValue v = Expand(text, context, ev);
    if (aborted)
        *aborted = ev.aborted;
    return ev.aborted ? SnmpValue() : v;
}

SnmpValue ValueFormat(const SnmpValue& value, std::string_view format, const ScriptContext& context)
{
    Eval ev;
    SnmpValue v = Format(value, format, context, ev);
    return ev.aborted ? value : v;
}

std::vector<SnmpValue> ActionArguments(std::string_view text, const ScriptContext& itemContext)
{
    std::vector<SnmpValue> args;
    if (text.empty())
        return args;
    ScriptContext item = itemContext;
    item.kind = ScriptContextKind::Item;
    size_t b = 0;
    for (;;) {
        size_t colon = text.find(':', b);
        std::string_view part = text.substr(b, colon == std::string_view::npos ? std::string_view::npos : colon - b);
        if (part.size() >= 1 && part[0] == '$' && part.compare(0, 2, "$$") != 0) {
            args.push_back(TemplateExpand(part, item));
        } else {
            auto number = part.empty() || IsBlank(part.front()) || IsBlank(part.back()) ? std::nullopt
                                                                                        : ParseUnsignedStrict(part);
            if (number && *number != 0xFFFFFFFFu)
                args.push_back(SnmpValue::Integer(*number));
            else
                args.push_back(StringValue(std::string(part)));
        }
        if (colon == std::string_view::npos)
            break;
        b = colon + 1;
    }
    return args;
}

bool ItemPolledOid(const ItemObject& item, size_t n, const ScriptContext& context, SnmpOid* out)
{
    Eval ev;
    return PolledOid(item, n, context, ev, out) && !ev.aborted;
}

uint32_t ItemState(const ItemObject& item, const ScriptContext& context)
{
    ScriptContext ctx = ItemContextOf(context, &item);
    for (size_t i = 0; i < item.states.size(); ++i) {
        std::optional<SnmpValue> v = ExprEvaluate(item.states[i], ctx);
        if (v && ExprNumber(*v) != 0)
            return static_cast<uint32_t>(i + 1);
    }
    return 0;
}

std::string ItemText(const ItemObject& item, uint32_t state, const ScriptContext& context)
{
    std::string text = ExprValueText(TemplateExpand(item.TextTemplate(state), ItemContextOf(context, &item)));
    CutText(&text);
    return text;
}

uint32_t ItemInstance(const ItemObject& item, const ScriptContext& context)
{
    Eval ev;
    uint32_t n = Instance(item, context, ev);
    return ev.aborted ? 0 : n;
}

std::string ExprDuration(uint32_t seconds)
{
    return Duration(seconds);
}
