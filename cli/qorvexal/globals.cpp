#include "cli/qorvexal/globals.h"

#include "cli/cli.h"
#include "common/diag.h"
#include "common/platform/file.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/commands.h"
#include "config/startup/startup.h"
#include "device/console.h"

#include <cstdio>
#include <unistd.h>

namespace {
// Lines of the description index's progress ("building index ....", "index finished, time: ..."):
// news on a terminal, noise in a script's log. Every other diagnostic line is passed on.
bool IsIndexProgress(const std::string& line)
{
    return line.rfind("building index", 0) == 0 || line.rfind("index finished", 0) == 0;
}

void RouteDiagnostics()
{
    if (QvGlobal().verbose || isatty(2))
        return; // all of it, to standard error
    DiagSetSink([](const std::string& line) {
        if (IsIndexProgress(line))
            return;
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    });
}
} // namespace

QvGlobals& QvGlobal()
{
    static QvGlobals globals;
    return globals;
}

bool QvTakeGlobalOptions(std::vector<std::string>& args, std::string& error)
{
    // Global options come before the subcommand's name.
    while (!args.empty()
        && (args[0].rfind("--ini", 0) == 0 || args[0] == "--nortscts" || args[0] == "-v" || args[0] == "--verbose")) {
        if (args[0] == "-v" || args[0] == "--verbose") {
            QvGlobal().verbose = true;
            args.erase(args.begin());
        } else if (args[0] == "--nortscts") {
            // Serial links without hardware handshake, as the program's "nortscts" switch.
            Globals().noRtsCts = true;
            ConsoleSetHandshake(false);
            args.erase(args.begin());
        } else if (args[0] == "--ini") {
            if (args.size() < 2) {
                error = "--ini needs a file name";
                return false;
            }
            QvGlobal().iniFile = args[1];
            args.erase(args.begin(), args.begin() + 2);
        } else if (args[0].rfind("--ini=", 0) == 0) {
            QvGlobal().iniFile = args[0].substr(6);
            args.erase(args.begin());
        } else {
            break;
        }
    }
    RouteDiagnostics();
    return true;
}

int QvNotConfigFile(const std::string& path)
{
    std::string text;
    if (!FileReadAll(path, &text))
        return CliFail(StrLoad(qorvexal_Strings(), CmdStrCantOpenFile), 1);
    return CliFail(StrFormat("%s: not a configuration file", path.c_str()), 1);
}
