#include "config/cfgfile/cfg_line.h"

#include "config/store/cfg_store.h"

std::string_view CfgTrimLine(std::string_view line)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0, e = line.size();
    while (b < e && blank(line[b]))
        ++b;
    while (e > b && blank(line[e - 1]))
        --e;
    return line.substr(b, e - b);
}

CfgLineKind CfgLineKindOf(std::string_view t)
{
    if (t.empty())
        return CfgLineKind::Empty;
    if (t[0] == '[' && t.find(']') != std::string_view::npos)
        return CfgLineKind::Section;
    if (t[0] == '{' && t.find('}') != std::string_view::npos)
        return CfgLineKind::Brace;
    if (t[0] == '<' && t.find('>') != std::string_view::npos)
        return CfgLineKind::Row;
    if (t.find('=') != std::string_view::npos)
        return CfgLineKind::Assign;
    return CfgLineKind::Other;
}

std::string_view CfgRowLineName(std::string_view t)
{
    size_t end = t.find('>');
    return t.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
}

uint32_t CfgLeadingDecimal(std::string_view text)
{
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10u + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFull)
            return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

uint32_t CfgLeadingHex(std::string_view text, bool* whole)
{
    uint32_t value = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        int d = (c >= '0' && c <= '9') ? c - '0'
            : (c >= 'a' && c <= 'f')   ? c - 'a' + 10
            : (c >= 'A' && c <= 'F')   ? c - 'A' + 10
                                       : -1;
        if (d < 0)
            break;
        value = value * 16u + static_cast<uint32_t>(d);
    }
    if (whole)
        *whole = i == text.size() && i >= 1 && i <= 8;
    return value;
}

namespace {

bool AllDigits(std::string_view t)
{
    for (char c : t)
        if (c < '0' || c > '9')
            return false;
    return !t.empty();
}

} // namespace

CfgTarget CfgClassifyName(const CfgDescription& desc, std::string_view name)
{
    CfgTarget target;
    if (name.size() >= 2 && name.front() == '(' && name.back() == ')') {
        std::string_view inner = name.substr(1, name.size() - 2);
        target.form = CfgTarget::Cell;
        size_t last = inner.rfind('.');
        std::string_view rest = inner;
        if (last != std::string_view::npos) {
            target.columnText = inner.substr(last + 1);
            rest = inner.substr(0, last);
            size_t next = rest.rfind('.');
            if (next != std::string_view::npos) {
                target.rowText = rest.substr(next + 1);
                rest = rest.substr(0, next);
            }
        }
        target.table = rest;
        target.wellFormed = AllDigits(target.rowText) && AllDigits(target.columnText);
        target.item = CfgFindItem(desc, rest);
        return target;
    }
    size_t dash = name.find('-');
    if (dash != std::string_view::npos) {
        // A table whose own name holds "-" is found at a later "-".
        for (size_t at = dash; at != std::string_view::npos; at = name.find('-', at + 1)) {
            CfgItem* table = CfgFindItem(desc, name.substr(0, at));
            if (table && table->IsTable()) {
                target.form = CfgTarget::Column;
                target.table = name.substr(0, at);
                target.columnText = name.substr(at + 1);
                target.item = table;
                CfgLeadingHex(target.columnText, &target.wellFormed);
                return target;
            }
        }
        CfgItem* item = CfgFindItem(desc, name);
        if (item && !item->IsTable()) {
            target.item = item;
            return target;
        }
        target.form = CfgTarget::Column;
        target.table = name.substr(0, dash);
        target.columnText = name.substr(dash + 1);
        CfgLeadingHex(target.columnText, &target.wellFormed);
        target.item = CfgFindItem(desc, target.table);
        return target;
    }
    target.item = CfgFindItem(desc, name);
    return target;
}
