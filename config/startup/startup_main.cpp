// qorvexal-startup: runs the configuration tool's option and verb passes on a command line and shows
// what start-up would do with it, with the settings read from a settings file.
//   qorvexal-startup [--ini FILE] COMMAND-LINE...
#include "common/diag.h"
#include "common/strings.h"
#include "config/frontend/mainview.h"
#include "config/startup/cmdline.h"
#include "config/startup/settings.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    std::string ini = "qorvexal.ini";
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ini") == 0 && i + 1 < argc) {
            ini = argv[++i];
            continue;
        }
        if (!line.empty())
            line += ' ';
        line += argv[i];
    }
    StartupOptions o;
    ParseOptions(line, &o);
    std::printf("command line: %s\n", line.c_str());
    std::printf("options: nortscts=%d nocrypt=%d wizstyle=%s lang=%s\n", o.noRtsCts ? 1 : 0, o.noCrypt ? 1 : 0,
        o.wizardStyle ? std::to_string(*o.wizardStyle).c_str() : "-",
        o.language ? std::to_string(*o.language).c_str() : "-");
    if (o.language)
        StrSetLanguage(*o.language);
    QorvexalSettings s = ReadSettingsFile(ini, StrLoad(qorvexal_Strings(), MainStrLanguage));
    std::printf("settings %s: DscLanguage=%s EasyConfig=%d SearchTimeoutLAN=%d SearchTimeoutWAN=%d\n", ini.c_str(),
        s.dscLanguage.c_str(), s.easyConfig, s.searchTimeoutLan, s.searchTimeoutWan);
    ShellVerbHooks h;
    h.isOtherInstance = [](std::string_view, std::string_view) { return false; };
    h.edit = [](uintptr_t, const std::string& f) { std::printf("verb: edit %s\n", f.c_str()); };
    h.print = [](uintptr_t, const std::string& f) { std::printf("verb: print %s\n", f.c_str()); };
    h.printTo
        = [](uintptr_t, const std::string& f, const std::string& p, const std::string& d, const std::string& port) {
              std::printf("verb: print %s on %s (%s, %s)\n", f.c_str(), p.c_str(), d.c_str(), port.c_str());
          };
    h.createEmptyFile = [](const std::string& f) {
        std::printf("verb: new configuration %s\n", f.c_str());
        return false;
    };
    h.autoUpdateFromFile
        = [](uintptr_t, const std::string& f) { std::printf("verb: firmware update from %s\n", f.c_str()); };
    h.autoUpdateDevice
        = [](uintptr_t, const std::string& d) { std::printf("verb: firmware update of %s\n", d.c_str()); };
    bool close = HandleShellVerbs(line, h);
    std::printf("%s\n", close ? "ends after the verbs" : "goes on to open the main window");
    return 0;
}
