#include "monitor/startup/startup.h"

#include "common/platform/instance.h"
#include "common/strings.h"
#include "common/text.h"
#include "monitor/startup/texts.h"

namespace {
std::string Text(unsigned id)
{
    return StrLoad(talvine_Strings(), id);
}
} // namespace

TalvineGlobals& TalvineGlobalsGet()
{
    static TalvineGlobals globals;
    return globals;
}

TalvinePaths BuildTalvinePaths(std::string_view programPath, const std::string& dataDirectory)
{
    TalvinePaths p;
    size_t slash = programPath.find_last_of("\\/");
    p.directory = slash == std::string_view::npos ? std::string() : std::string(programPath.substr(0, slash + 1));
    p.dataDirectory = dataDirectory.empty() ? p.directory : dataDirectory;
    p.settingsFile = p.dataDirectory + Text(TvStrSettingsFile);
    p.scriptPattern = p.directory + Text(TvStrScriptPattern);
    p.listFile = p.dataDirectory + Text(TvStrListFile);
    std::string help = Text(TvStrHelpFile);
    size_t at = help.find("%s");
    if (at != std::string::npos)
        help.replace(at, 2, Text(TvStrHelpFileSuffix));
    p.helpFile = p.directory + help;
    p.guideFile = p.directory + Text(TvStrGuideFile);
    return p;
}

std::string TalvineLockName(std::string_view programPath)
{
    return InstanceLockName(programPath, "");
}

int RunTalvine(std::string_view commandLine, TalvinePlatform& p)
{
    TalvineGlobals& g = TalvineGlobalsGet();

    // 1. Common controls, the user-interface language and the options; the language's name for the
    // scripts.
    p.InitCommonControls();
    g.uiLanguage = p.ChooseResourceLanguage(kTalvineLanguageDialogId);
    g.options = ParseTalvineOptions(commandLine);
    if (g.options.language)
        g.uiLanguage = *g.options.language;
    p.SetThreadLocale(g.uiLanguage);
    StrSetLanguage(g.uiLanguage);
    g.languageName = Text(TvStrLanguageName);
    if (g.options.testControlPort)
        p.StartTestControl(*g.options.testControlPort);

    // 2. Single instance: the running one is shown and takes this command line's devices. Its window is
    // waited for a bounded time: a first start stuck before its window must not keep this one alive.
    std::string programPath = p.ProgramPath();
    if (p.IsOtherInstance(TalvineLockName(programPath))) {
        for (uint32_t waited = 0; !p.FindOtherMainWindow(); waited += kOtherWindowWaitStepMs) {
            if (waited >= kOtherWindowWaitLimitMs)
                return 0;
            p.Sleep(kOtherWindowWaitStepMs);
        }
        p.ShowOtherMainWindow();
        if (!g.options.adds.empty())
            p.SendAddRecords(PackAddRecords(g.options.adds), false);
        return 0;
    }

    // 3. Paths.
    g.paths = BuildTalvinePaths(programPath);
    g.paths = BuildTalvinePaths(programPath, p.DataDirectory(g.paths.directory)); // once the directory is known

    // 4. The SNMP client; without it nothing can be watched.
    if (!p.StartSnmp(g.options.port)) {
        p.ErrorBox(Text(TvStrNoTcpIp), Text(TvStrProgramName));
        return 0;
    }

    // 5. Scripts, logs, views.
    p.LoadScripts(g.paths.scriptPattern, g.languageName);
    p.InitLog(g.paths.dataDirectory, g.paths.settingsFile, g.options.log2stdout);
    p.InitViews();

    // 6. Windows; 7. this command line's devices; 8. the message loop.
    if (p.CreateWindows(Text(TvStrProgramName))) {
        if (!g.options.adds.empty())
            p.SendAddRecords(PackAddRecords(g.options.adds), true);
        p.RunMessageLoop();
    }

    // Clean-up.
    p.CloseJobSockets();
    p.CloseLog();
    p.FreeScripts();
    p.StopSnmp();
    return 0;
}
