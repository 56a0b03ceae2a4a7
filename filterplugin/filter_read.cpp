// Reading the filter: rule rows expanded through the definition language, object references followed
// through ObjectTable, the first error recorded with its place.
#include "common/text.h"
#include "filterplugin/filter.h"
#include "filterplugin/filter_tables.h"

#include <algorithm>
#include <cstring>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}
bool IsSeparator(char c)
{
    return c == ',' || c == '+' || IsBlank(c);
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = AsciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// One text being parsed (a rule cell or an object's definition).
struct Cursor {
    std::string_view text;
    size_t pos = 0;
    bool End() const
    {
        return pos >= text.size();
    }
    char Peek(size_t ahead = 0) const
    {
        return pos + ahead < text.size() ? text[pos + ahead] : '\0';
    }
};

class CellParser {
public:
    CellParser(const FilterHost& host, int32_t cell, FilterRule* rule, FilterReadError* error)
        : host_(host)
        , cell_(cell)
        , rule_(rule)
        , error_(error)
    {
    }

    bool Parse(std::string_view text)
    {
        return ParseText(text, 0, std::string());
    }

private:
    bool StationCell() const
    {
        return cell_ != FilterInProtocol;
    }
    std::vector<FilterStation>& Stations()
    {
        return cell_ == FilterInSource ? rule_->sources : rule_->dests;
    }
    std::string& Ports()
    {
        return cell_ == FilterInSource ? rule_->source_ports : rule_->dest_ports;
    }

    bool Fail(const Cursor& c, const std::string& object)
    {
        error_->where = object.empty() ? cell_ : FilterInObject;
        error_->object = object;
        error_->text = std::string(c.text);
        error_->position = std::min(c.pos, c.text.size());
        return false;
    }

    // A decimal number up to `max`; false when there is no digit or it is too large.
    static bool Number(Cursor& c, uint32_t max, uint32_t* out)
    {
        if (!IsDigit(c.Peek()))
            return false;
        uint64_t value = 0;
        while (IsDigit(c.Peek())) {
            value = value * 10 + static_cast<uint64_t>(c.Peek() - '0');
            if (value > max)
                return false;
            ++c.pos;
        }
        *out = static_cast<uint32_t>(value);
        return true;
    }

    // Dotted address: up to four numbers (at most three dots); missing low bytes are 0, dots after the
    // last number are ignored.
    static bool Address(Cursor& c, uint32_t* out)
    {
        uint32_t bytes[4] = {};
        for (int parts = 0; parts < 4; ++parts) {
            if (!Number(c, 255, &bytes[parts]))
                return false;
            if (c.Peek() != '.')
                break;
            size_t dots = c.pos;
            while (c.Peek() == '.')
                ++c.pos;
            if (!IsDigit(c.Peek()))
                break;
            if (parts == 3) {
                c.pos = dots; // a fourth dot
                return false;
            }
            if (c.pos - dots > 1) {
                c.pos = dots + 1; // an empty number
                return false;
            }
        }
        *out = bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
        return true;
    }

    // Appends an entry to a list field, which holds at most FilterListMax characters.
    bool AddToList(std::string& list, const std::string& entry)
    {
        size_t need = list.size() + (list.empty() ? 0 : 1) + entry.size();
        if (need > FilterListMax)
            return false;
        if (!list.empty())
            list += ',';
        list += entry;
        return true;
    }

    // Reads one list of entries separated by "," (a "," continues the list only when the next
    // character can start an entry).
    template<typename Entry, typename Start> bool List(Cursor& c, Start starts, Entry entry)
    {
        for (;;) {
            if (!starts(c.Peek()) || !entry(c))
                return false;
            if (c.Peek() == ',' && starts(c.Peek(1)))
                ++c.pos;
            else
                return true;
        }
    }

    bool ParseText(std::string_view text, int depth, const std::string& object)
    {
        Cursor c { text, 0 };
        // Index of the station a "%M" may turn into a network: set by a "%A" with one single address.
        size_t maskable = SIZE_MAX;
        for (;;) {
            while (!c.End() && IsSeparator(c.Peek()))
                ++c.pos;
            if (c.End())
                return true;
            // References may fan out at every level: a cell that expands to more elements than any
            // filter holds is refused instead of being followed for ever.
            if (++elements_ > kMaxElements)
                return Fail(c, object);
            size_t wasMaskable = maskable;
            maskable = SIZE_MAX;
            size_t start = c.pos;
            if (c.Peek() == '%') {
                char letter = AsciiUpper(c.Peek(1));
                if (!std::strchr("PSHEAML", letter) || letter == '\0') {
                    c.pos = start + 1; // the unknown letter
                    return Fail(c, object);
                }
                if (letter != 'P' && !StationCell())
                    return Fail(c, object); // not allowed in a protocol cell
                c.pos += 2;
                bool ok = true;
                switch (letter) {
                case 'P':
                    ok = Protocols(c);
                    break;
                case 'S':
                    ok = Ports(c);
                    break;
                case 'H':
                    ok = Names(c);
                    break;
                case 'E':
                    ok = Macs(c);
                    break;
                case 'A': {
                    size_t before = Stations().size();
                    ranged_ = false;
                    ok = Addresses(c);
                    if (ok && !ranged_ && Stations().size() == before + 1)
                        maskable = before;
                    break;
                }
                case 'M': {
                    if (wasMaskable == SIZE_MAX) {
                        c.pos = start;
                        return Fail(c, object); // only right after a single "%A" address
                    }
                    uint32_t mask = 0;
                    ok = Address(c, &mask);
                    if (ok && mask != 0xFFFFFFFFu) {
                        FilterStation& s = Stations()[wasMaskable];
                        s.kind = FilterStationNetwork;
                        s.last = mask;
                    }
                    break;
                }
                default: // 'L'
                    Stations().push_back(FilterStation {});
                    break;
                }
                if (!ok)
                    return Fail(c, object);
            } else if (!StationCell() && IsDigit(c.Peek())) {
                if (!Protocols(c))
                    return Fail(c, object);
            } else {
                size_t end = c.pos;
                while (end < text.size() && !IsSeparator(text[end]))
                    ++end;
                std::string name(text.substr(c.pos, end - c.pos));
                std::string definition;
                if (depth >= FilterMaxNesting || !FilterFindObject(host_, name, &definition))
                    return Fail(c, object);
                if (!ParseText(definition, depth + 1, name))
                    return false;
                c.pos = end;
            }
            // An element ends at a separator or the end of the text.
            if (!c.End() && !IsSeparator(c.Peek()))
                return Fail(c, object);
        }
    }

    bool Protocols(Cursor& c)
    {
        return List(c, IsDigit, [&](Cursor& cc) {
            uint32_t n = 0;
            return Number(cc, 255, &n) && AddToList(rule_->protocols, std::to_string(n));
        });
    }

    bool Ports(Cursor& c)
    {
        return List(c, IsDigit, [&](Cursor& cc) {
            uint32_t first = 0;
            if (!Number(cc, 65535, &first))
                return false;
            std::string entry = std::to_string(first);
            if (cc.Peek() == '-') {
                ++cc.pos;
                uint32_t last = 0;
                if (!Number(cc, 65535, &last))
                    return false;
                entry += "-" + std::to_string(last);
            }
            return AddToList(Ports(), entry);
        });
    }

    bool Names(Cursor& c)
    {
        auto starts = [](char ch) { return ch != '\0' && ch != '%' && !IsSeparator(ch); };
        return List(c, starts, [&](Cursor& cc) {
            size_t begin = cc.pos;
            while (!cc.End() && !IsSeparator(cc.Peek()))
                ++cc.pos;
            if (cc.pos - begin > FilterStationNameMax) {
                cc.pos = begin + FilterStationNameMax;
                return false;
            }
            FilterStation s;
            s.kind = FilterStationName;
            s.name = std::string(cc.text.substr(begin, cc.pos - begin));
            Stations().push_back(std::move(s));
            return true;
        });
    }

    bool Macs(Cursor& c)
    {
        auto starts = [](char ch) { return HexValue(ch) >= 0; };
        return List(c, starts, [&](Cursor& cc) {
            uint64_t value = 0;
            int digits = 0;
            while (HexValue(cc.Peek()) >= 0) {
                if (digits == 12)
                    return false;
                value = value << 4 | static_cast<uint64_t>(HexValue(cc.Peek()));
                ++digits;
                ++cc.pos;
            }
            FilterStation s;
            s.kind = FilterStationMac;
            for (int i = 5; i >= 0; --i, value >>= 8)
                s.mac[i] = static_cast<uint8_t>(value & 0xFF);
            Stations().push_back(s);
            return true;
        });
    }

    bool Addresses(Cursor& c)
    {
        return List(c, IsDigit, [&](Cursor& cc) {
            FilterStation s;
            s.kind = FilterStationRange;
            if (!Address(cc, &s.first))
                return false;
            s.last = s.first;
            if (cc.Peek() == '-') {
                ++cc.pos;
                if (!Address(cc, &s.last))
                    return false;
                ranged_ = true;
            }
            Stations().push_back(s);
            return true;
        });
    }

    const FilterHost& host_;
    int32_t cell_;
    FilterRule* rule_;
    FilterReadError* error_;
    bool ranged_ = false;
    static constexpr int kMaxElements = 4096;
    int elements_ = 0;
};

} // namespace

bool FilterParseCell(
    const FilterHost& host, int32_t cell, std::string_view text, FilterRule* rule, FilterReadError* error)
{
    CellParser parser(host, cell, rule, error);
    return parser.Parse(text);
}

int FilterReadRow(const FilterHost& host, int32_t row, FilterRule* rule, FilterReadError* error)
{
    std::vector<std::string> cells;
    if (!FilterGetRow(host, FilterRuleTable, row, 6, &cells))
        return -1;
    *rule = FilterRule {};
    *error = FilterReadError {};
    for (int32_t cell = FilterInProtocol; cell <= FilterInDestination; ++cell)
        if (!FilterParseCell(host, cell, cells[static_cast<size_t>(cell)], rule, error))
            return 0;
    rule->name = cells[0];
    rule->action = ParseUnsigned(cells[4]);
    if (rule->action == 0)
        rule->action = FilterActionDrop;
    rule->option = ParseUnsigned(cells[5]);
    FilterNormalize(rule);
    return 1;
}

FilterList FilterRead(const FilterHost& host)
{
    FilterList list;
    for (int32_t row = 0;; ++row) {
        FilterRule rule;
        FilterReadError error;
        int rc = FilterReadRow(host, row, &rule, &error);
        if (rc < 0)
            break;
        if (rc > 0) {
            list.rules.push_back(std::move(rule));
            continue;
        }
        std::vector<std::string> cells;
        FilterGetRow(host, FilterRuleTable, row, 1, &cells);
        list.unreadable.push_back(FilterUnreadable { row, cells.empty() ? std::string() : cells[0], error });
    }
    return list;
}

int FilterCorrectRow(const FilterHost& host, int32_t row, const FilterReadError& error, std::string_view text,
    FilterRule* rule, FilterReadError* newError)
{
    if (error.where == FilterInObject) {
        int32_t at = FilterFindObjectRow(host, error.object);
        if (at < 0)
            return 0;
        std::string name = error.object;
        std::string definition(text);
        const char* values[2] = { name.c_str(), definition.c_str() };
        if (!host.setTabRow(host.context, FilterObjectTable, at, 1, values))
            return 0;
    } else {
        std::vector<std::string> cells;
        if (error.where < FilterInProtocol || error.where > FilterInDestination
            || !FilterGetRow(host, FilterRuleTable, row, 6, &cells))
            return 0;
        cells[static_cast<size_t>(error.where)] = std::string(text);
        const char* values[6];
        for (size_t i = 0; i < 6; ++i)
            values[i] = cells[i].c_str();
        if (!host.setTabRow(host.context, FilterRuleTable, row, 5, values))
            return 0;
    }
    return FilterReadRow(host, row, rule, newError);
}
