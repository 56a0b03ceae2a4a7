#include "cli/setup/inf_args.h"

#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "setup/texts.h"

#include <cstdio>

int SetupCliReadInf(
    CliArgs& opts, const std::optional<std::string>& osText, const char* usage, InfText* inf, SetupOs* os)
{
    if (auto unknown = opts.UnknownOption()) {
        return CliFail(*unknown, 2);
    }
    if (opts.Rest().size() != 1) {
        return CliFail(std::string("usage: ") + usage, 2);
    }
    if (osText && !SetupParseOs(*osText, os)) {
        return CliFail("--os: nt:MAJOR.MINOR or 9x:MAJOR.MINOR expected, not " + *osText, 2);
    }
    const std::string path = opts.Rest()[0];
    std::string text;
    if (!FileReadAll(path, &text)) {
        return CliFail("cannot read " + path, 1);
    }
    unsigned line = 0;
    if (!inf->Open(text, nullptr, &line)) {
        CliPrint(stderr, StrFormat(StrLoad(setup_Strings(), SetupStrScriptError).c_str(), path.c_str(), line) + "\n");
        return 1;
    }
    return 0;
}
