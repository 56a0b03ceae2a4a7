#include "cdmenu/cd_env.h"

#include "common/language.h"
#include "common/text.h"

namespace {
struct LanguageName {
    uint16_t primary;
    const char* name;
};
// Primary languages by their English names, as menu scripts write them.
const LanguageName kLanguages[] = {
    { 0x09, "English" },
    { 0x07, "German" },
    { 0x0c, "French" },
    { 0x10, "Italian" },
    { 0x13, "Dutch" },
    { 0x0a, "Spanish" },
    { 0x16, "Portuguese" },
    { 0x1d, "Swedish" },
    { 0x06, "Danish" },
    { 0x14, "Norwegian" },
    { 0x0b, "Finnish" },
    { 0x15, "Polish" },
    { 0x05, "Czech" },
    { 0x0e, "Hungarian" },
    { 0x08, "Greek" },
    { 0x1f, "Turkish" },
    { 0x19, "Russian" },
    { 0x11, "Japanese" },
    { 0x04, "Chinese" },
    { 0x12, "Korean" },
};

// The full id a language name stands for: the primary language in its main country.
uint16_t DefaultId(uint16_t primary)
{
    return static_cast<uint16_t>(primary | 0x400);
}
} // namespace

const char* CdSystemName(bool nt, bool win32s, unsigned major, unsigned minor)
{
    if (win32s)
        return "WIN32S";
    if (!nt)
        return minor != 0 ? "WIN98" : "WIN95";
    if (major < 4)
        return "WINNT35";
    return major == 4 ? "WINNT40" : "WINNT2K";
}

const char* CdLanguageName(uint16_t id)
{
    for (const LanguageName& l : kLanguages)
        if (l.primary == PrimaryLanguage(id))
            return l.name;
    return "";
}

std::optional<uint16_t> CdLanguageId(std::string_view nameOrNumber)
{
    std::string_view text = Trim(nameOrNumber);
    for (const LanguageName& l : kLanguages)
        if (StrEqualNoCase(text, l.name))
            return DefaultId(l.primary);
    std::optional<uint32_t> n = ParseUnsignedStrict(text);
    if (!n || *n == 0 || *n > 0xffff)
        return std::nullopt;
    return static_cast<uint16_t>(*n);
}

CdCommandLine CdParseCommandLine(std::string_view text)
{
    CdCommandLine out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view word = Trim(text.substr(start, end - start));
        // A program path or quotes around the whole line are not options.
        if (!word.empty() && word.front() == '"')
            word = Trim(word.substr(1));
        if (!word.empty() && word.back() == '"')
            word = Trim(word.substr(0, word.size() - 1));
        auto value = [&](std::string_view prefix) { return std::string(Trim(word.substr(prefix.size()))); };
        if (StrEqualNoCase(word, "system"))
            out.system = true;
        else if (StrEqualNoCase(word, "cb") || StrEqualNoCase(word, "createbitmap"))
            out.createBitmap = true;
        else if (StrStartsWithNoCase(word, "lang:"))
            out.language = value("lang:");
        else if (StrStartsWithNoCase(word, "country:"))
            out.country = value("country:");
        else if (StrStartsWithNoCase(word, "os:"))
            out.os = value("os:");
        start = end + 1;
    }
    return out;
}

void CdApplyCommandLine(const CdCommandLine& line, CdEnvironment* env)
{
    if (line.language && !line.language->empty()) {
        std::optional<uint16_t> id = CdLanguageId(*line.language);
        if (id) {
            env->languageId = *id;
            const char* name = CdLanguageName(*id);
            // A number names the language through its id; a name (even an unknown one) stands as written.
            bool number = ParseUnsignedStrict(Trim(*line.language)).has_value();
            env->language = number && *name ? name : *line.language;
        } else {
            env->language = *line.language;
        }
    }
    if (line.country)
        env->country = *line.country;
    if (line.os && !line.os->empty())
        env->system = *line.os;
}

std::string CdSystemMessage(const CdEnvironment& env)
{
    return "System:\n\n- Language:\t" + env.language + StrFormat(" (0x%04x)", env.languageId) + "\n- Country:\t\t"
        + env.country + "\n- Operating System:\t" + env.system;
}
