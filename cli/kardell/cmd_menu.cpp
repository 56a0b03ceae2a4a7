// kardell-cli menu: reads a menu script as kardell.exe does for a given language, system and set of
// conditions, and prints the lines the menu would hold (format: CdListMenu in cli/kardell/listing.h).
#include "cdmenu/cd_files.h"
#include "cdmenu/cd_script.h"
#include "cli/cli.h"
#include "cli/kardell/listing.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"

#include <cstdio>
#include <filesystem>

namespace {
constexpr const char* kMenuUsage
    = "menu [--lang NAME] [--langid ID] [--country NAME] [--os NAME] [--cond NAME]... SCRIPT";

int RunMenu(std::vector<std::string>& args)
{
    CliArgs opts(args);
    std::optional<std::string> lang = opts.Value("--lang");
    std::optional<std::string> langId = opts.Value("--langid");
    std::optional<std::string> country = opts.Value("--country");
    std::optional<std::string> os = opts.Value("--os");
    std::vector<std::string> conditions = opts.Values("--cond");
    if (auto unknown = opts.UnknownOption())
        return CliFail(*unknown, 2);
    if (opts.Rest().size() != 1)
        return CliFail(std::string("usage: ") + kMenuUsage, 2);
    const std::string path = opts.Rest()[0];

    CdContext ctx;
    if (langId) {
        unsigned long long id = 0;
        if (!CliNumber(langId, 0xffff, &id, "--langid"))
            return 2;
        if (id == 0)
            return CliFail("invalid --langid: " + *langId, 2);
        ctx.env.languageId = static_cast<uint16_t>(id);
        if (*CdLanguageName(ctx.env.languageId))
            ctx.env.language = CdLanguageName(ctx.env.languageId);
    }
    if (lang) {
        if (lang->empty())
            return CliFail("--lang: a language name is needed", 2);
        ctx.env.language = *lang;
        std::optional<uint16_t> known = CdLanguageId(*lang);
        if (known && !ParseUnsignedStrict(*lang) && !langId)
            ctx.env.languageId = *known;
    }
    if (country)
        ctx.env.country = *country;
    if (os) {
        if (os->empty())
            return CliFail("--os: a system name is needed", 2);
        ctx.env.system = *os;
    }
    for (const std::string& c : conditions)
        ctx.established.Add(c);
    StrSetLanguage(ctx.env.languageId);

    std::string text;
    if (!FileReadAll(path, &text))
        return CliFail("cannot read " + path, 1);
    IniFile script;
    script.Parse(text);
    ctx.report = [](CdMessageKind, const std::string& message) {
        CliPrint(stderr, message + "\n");
        std::fflush(stderr);
    };
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::absolute(path, ec).parent_path();
    CdDirFileSystem files(dir.string());
    CdEstablishFileConditions(script, files, &ctx.established);
    CdMenu menu = CdReadMenu(script, ctx);
    CliPrint(stdout, CdListMenu(menu));
    return 0;
}

CliRegistrar g_menu { { "menu", kMenuUsage, RunMenu } };
} // namespace
