#include "common/aboutbox.h"

#include "common/diag.h"
#include "common/text.h"

#include <vector>

namespace {
// The conversions of a printf pattern in order ("d", "02d", "s"); "%%" is no conversion.
std::vector<std::string> Conversions(std::string_view pattern)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%')
            continue;
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '%') {
            i = j;
            continue;
        }
        while (
            j < pattern.size() && std::string_view("-+ #0123456789.hlLqjzt").find(pattern[j]) != std::string_view::npos)
            ++j;
        if (j < pattern.size())
            ++j;
        out.emplace_back(pattern.substr(i + 1, j - i - 1));
        i = j - 1;
    }
    return out;
}

bool PatternTakes(std::string_view pattern, const std::vector<std::string>& expected)
{
    if (Conversions(pattern) == expected)
        return true;
    Diag("about box: pattern \"%.*s\" does not fit its values\n", static_cast<int>(pattern.size()), pattern.data());
    return false;
}

std::string FromCatalog(const AboutBoxRecord& r, unsigned id)
{
    return r.strings ? StrLoad(*r.strings, id) : std::string();
}
} // namespace

std::string AboutVersionLine(const AboutBoxRecord& r, std::string_view pattern)
{
    std::string p(pattern);
    if (!PatternTakes(p, { "d", "02d", "04d", "s" }))
        return {};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return StrFormat(p.c_str(), r.major, r.minor, r.build, LocaleShortDate(r.buildDate).c_str());
#pragma GCC diagnostic pop
}

std::string AboutCopyrightLine(const AboutBoxRecord& r, std::string_view pattern)
{
    std::string p(pattern);
    if (!PatternTakes(p, { "s" }))
        return {};
    unsigned first = r.firstYear;
    if (first == 0 && (r.flags & kAboutBuildVersion))
        first = r.buildDate.year;
    std::string years = StrFormat("%u", first);
    if (r.lastYear > first)
        years += StrFormat("-%hu", r.lastYear);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return StrFormat(p.c_str(), years.c_str());
#pragma GCC diagnostic pop
}

std::string AboutVersionLine(const AboutBoxRecord& r)
{
    return AboutVersionLine(r, FromCatalog(r, kAboutVersionPatternId));
}

std::string AboutCopyrightLine(const AboutBoxRecord& r)
{
    return AboutCopyrightLine(r, FromCatalog(r, kAboutCopyrightPatternId));
}

void AboutResolveTexts(AboutBoxRecord* r, const AboutStringSource& load)
{
    struct Field {
        uint32_t flag;
        uint16_t id;
        std::string* text;
    } fields[] = {
        { kAboutTitleId, r->titleId, &r->title },
        { kAboutProductId, r->productId, &r->product },
        { kAboutProduct2Id, r->product2Id, &r->product2 },
        { kAboutCompanyId, r->companyId, &r->company },
        { kAboutAdditionalId, r->additionalId, &r->additional },
        { kAboutWebId, r->webId, &r->web },
    };
    for (const Field& f : fields)
        *f.text = CutTo((r->flags & f.flag) ? load(f.id) : *f.text, 255);
    r->version
        = CutTo((r->flags & kAboutBuildVersion) ? AboutVersionLine(*r, load(kAboutVersionPatternId)) : r->version, 255);
    r->copyright = CutTo(
        (r->flags & kAboutBuildCopyright) ? AboutCopyrightLine(*r, load(kAboutCopyrightPatternId)) : r->copyright, 255);
}

void AboutBuildLines(AboutBoxRecord* r)
{
    const AboutBoxRecord& record = *r;
    AboutResolveTexts(r, [&record](unsigned id) { return FromCatalog(record, id); });
}

bool AboutParseCompilerDate(std::string_view text, LocaleDate* date)
{
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() != 11 || text[3] != ' ' || text[6] != ' ')
        return false;
    std::string_view month = text.substr(0, 3);
    size_t pos = std::string_view(kMonths).find(month);
    if (pos == std::string_view::npos || pos % 3 != 0)
        return false;
    std::string_view day = Trim(text.substr(4, 2));
    if (day.size() == 2 && day[0] == '0')
        day.remove_prefix(1);
    auto d = ParseUnsignedStrict(day);
    auto y = ParseUnsignedStrict(text.substr(7, 4));
    if (!d || !y || *d < 1 || *d > 31 || *y == 0)
        return false;
    date->year = static_cast<uint16_t>(*y);
    date->month = static_cast<uint16_t>(pos / 3 + 1);
    date->day = static_cast<uint16_t>(*d);
    return true;
}

PlaceRect AboutRectOnPoint(const PlaceRect& window, int32_t x, int32_t y, const PlaceRect& workArea)
{
    int32_t w = window.Width();
    int32_t h = window.Height();
    int32_t left = x - w / 2;
    int32_t top = y - h / 2;
    if (left + w > workArea.right)
        left = workArea.right - w;
    if (left < workArea.left)
        left = workArea.left;
    if (top + h > workArea.bottom)
        top = workArea.bottom - h;
    if (top < workArea.top)
        top = workArea.top;
    return PlaceRect { left, top, left + w, top + h };
}
