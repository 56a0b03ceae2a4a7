// setup-cli inf: prints an INF script as the installer reads it, one line per script line: the
// section, the key (or "(no key)") and the fields, string references expanded. With --setupapi
// (Windows) the same through the platform's SetupAPI, for comparison.
#include "cli/cli.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "setup/inf.h"
#include "setup/inf_setupapi.h"
#include "setup/texts.h"

#include <cstdio>

namespace {
constexpr const char* kInfUsage = "inf [--setupapi] FILE";

std::string Quote(std::string_view text)
{
    std::string out = "\"";
    for (char c : StrEscapeControls(text)) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

void Print(const std::vector<std::string>& sections, const InfSource& inf)
{
    for (const std::string& section : sections) {
        std::printf("[%s]\n", StrEscapeControls(section).c_str());
        for (const InfLine& line : inf.Lines(section)) {
            std::string text = line.hasKey ? Quote(line.key) + " =" : "(no key)";
            for (size_t i = 0; i < line.fields.size(); ++i) {
                text += (i ? ", " : " ") + Quote(line.fields[i]);
            }
            std::printf("%s\n", text.c_str());
        }
    }
}

int RunInf(std::vector<std::string>& args)
{
    CliArgs opts(args);
    bool setupApi = opts.Flag("--setupapi");
    if (auto unknown = opts.UnknownOption()) {
        return CliFail(*unknown, 2);
    }
    if (opts.Rest().size() != 1) {
        return CliFail(std::string("usage: ") + kInfUsage, 2);
    }
    const std::string path = opts.Rest()[0];
    std::string text;
    if (!FileReadAll(path, &text)) {
        return CliFail("cannot read " + path, 1);
    }
    InfText inf;
    InfError error = InfError::None;
    unsigned line = 0;
    bool parsed = inf.Open(text, &error, &line);
    if (setupApi) {
        // The sections are listed by the native reader (SetupAPI cannot enumerate them); their lines
        // come from SetupAPI.
        unsigned apiLine = 0;
        std::unique_ptr<InfSource> api = InfOpenSetupApi(path, &apiLine);
        if (api == nullptr) {
            std::fprintf(stderr, "%s\n",
                StrFormat(StrLoad(setup_Strings(), SetupStrScriptError).c_str(), path.c_str(), apiLine).c_str());
            return 1;
        }
        Print(inf.SectionNames(), *api);
        return 0;
    }
    if (!parsed) {
        CliPrint(stderr, StrFormat(StrLoad(setup_Strings(), SetupStrScriptError).c_str(), path.c_str(), line) + "\n");
        std::fprintf(stderr, "(%s)\n", InfErrorText(error));
        return 1;
    }
    Print(inf.SectionNames(), inf);
    return 0;
}

CliRegistrar g_inf { { "inf", kInfUsage, RunInf } };
} // namespace
