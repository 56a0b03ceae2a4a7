#include "cli/qorvexal/globals.h"

#include "config/startup/startup.h"

QvGlobals& QvGlobal()
{
    static QvGlobals globals;
    return globals;
}

bool QvTakeGlobalOptions(std::vector<std::string>& args, std::string& error)
{
    // Global options come before the subcommand's name.
    while (!args.empty() && (args[0].rfind("--ini", 0) == 0 || args[0] == "--nortscts")) {
        if (args[0] == "--nortscts") {
            // Serial links without hardware handshake, as the program's "nortscts" switch.
            Globals().noRtsCts = true;
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
    return true;
}
