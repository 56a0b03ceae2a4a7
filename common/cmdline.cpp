#include "common/cmdline.h"

#include "common/language.h"
#include "common/text.h"

namespace {
bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

struct NamedLanguage {
    const char* option;
    uint16_t lang;
};
const NamedLanguage kLanguages[] = {
    { "lang:eng", kLangEnglish },
    { "lang:ger", kLangGerman },
    { "lang:fre", kLangFrench },
    { "lang:ita", kLangItalian },
    { "lang:dut", kLangDutch },
    { "lang:spa", kLangSpanish },
};

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view line)
{
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsWhite(line[i]))
            ++i;
        if (i >= line.size())
            break;
        std::string token;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsWhite(line[i]))) {
            if (line[i] == '"')
                quoted = !quoted;
            token += line[i++];
        }
        tokens.push_back(StripEnclosingQuotes(token));
    }
    return tokens;
}

std::string StripEnclosingQuotes(std::string_view value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::optional<std::string_view> OptionText(std::string_view token)
{
    if (token.empty() || (token[0] != '-' && token[0] != '/'))
        return std::nullopt;
    return token.substr(1);
}

std::optional<uint16_t> LanguageOption(std::string_view text)
{
    if (!StrStartsWithNoCase(text, "lang:"))
        return std::nullopt;
    for (const NamedLanguage& l : kLanguages)
        if (StrEqualNoCase(text, l.option))
            return l.lang;
    // A number with base prefixes.
    size_t used = 0;
    uint32_t number = ParseUnsigned(text.substr(5), &used);
    if (used == 0)
        return std::nullopt;
    return static_cast<uint16_t>(number);
}
