#include "config/description/cfg_dump.h"

#include "common/text.h"

std::string CfgDumpQuote(std::string_view text)
{
    return StrQuote(text, false);
}

std::string CfgDumpQuoteList(const CfgArgList& list)
{
    std::string out;
    for (std::string_view t : list) {
        if (!out.empty())
            out += ", ";
        out += CfgDumpQuote(t);
    }
    return out;
}

namespace {
std::string Quote(std::string_view text)
{
    return CfgDumpQuote(text);
}

std::string QuoteList(const CfgArgList& list)
{
    return CfgDumpQuoteList(list);
}

void DumpItem(std::string& out, const CfgItem& item, const std::string& indent, bool column)
{
    const char* keyword = CfgKindKeyword(item.kind);
    out += indent;
    if (column)
        out += "column ";
    out += keyword ? keyword : StrFormat("kind_%u", item.kind);
    if (item.name)
        out += " " + Quote(*item.name);
    if (item.id)
        out += StrFormat(" id %u", item.id);
    out += "\n";
    std::string inner = indent + "  ";
    if (item.description && !CfgAttrAccepts(CfgAttrDescription, item.kind))
        out += inner + "description " + QuoteList(*item.description) + "\n";
    const CfgAttrInfo* table = CfgAttrTable();
    for (size_t a = 0; a < CfgAttrCount; ++a) {
        const CfgAttrInfo& info = table[a];
        if (!CfgAttrAccepts(info.attr, item.kind) && !item.HasAttr(info.attr))
            continue;
        bool set = item.HasAttr(info.attr);
        std::string value;
        switch (CfgAttrFormOf(info, item.kind)) {
        case CfgAttrForm::Number: {
            uint32_t n = item.Number(info.attr);
            if (!set && n == 0)
                continue;
            value = StrFormat("%u", n);
            break;
        }
        case CfgAttrForm::Text: {
            const CfgOptText& t = item.Text(info.attr);
            if (!t)
                continue;
            value = Quote(*t);
            break;
        }
        case CfgAttrForm::List: {
            const CfgOptArgList& l = item.List(info.attr);
            if (!l)
                continue;
            value = QuoteList(*l);
            break;
        }
        }
        out += inner + info.keyword + " " + value + "\n";
    }
    for (const auto& c : item.columns)
        DumpItem(out, *c, inner, true);
}
} // namespace

void CfgDumpSection(std::string& out, const CfgSection& s)
{
    out += (s.plugin && s.name != "section_plugin" ? "section_plugin " : "section ") + Quote(s.name);
    if (s.title)
        out += " " + Quote(*s.title);
    out += "\n";
    if (s.module)
        out += "  module " + QuoteList(*s.module) + "\n";
    if (s.params) {
        for (size_t i = 0; i + 1 < s.params->Count(); i += 2)
            out += "  module_param " + Quote(s.params->At(i)) + ", " + Quote(s.params->At(i + 1)) + "\n";
    }
    out += StrFormat("  multicfg %u\n", s.multicfg);
    for (const auto& item : s.items)
        DumpItem(out, *item, "  ", false);
}

std::string CfgDumpDescription(const CfgDescription& desc)
{
    std::string out;
    out += "version " + Quote(desc.pattern) + "\n";
    out += StrFormat("flags 0x%08x multicfg %u\n", desc.flags, desc.multicfg);
    for (const auto& s : desc.sections)
        CfgDumpSection(out, *s);
    return out;
}
