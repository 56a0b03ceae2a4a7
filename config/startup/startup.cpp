#include "config/startup/startup.h"

#include "common/ini.h"
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/commands.h"
#include "config/frontend/mainview.h"
#include "device/console.h"

QorvexalGlobals& Globals()
{
    static QorvexalGlobals globals;
    return globals;
}

int32_t DefaultWizardStyle(uint32_t ccMajor, uint32_t ccMinor, bool win9x, uint32_t majorVersion)
{
    if (win9x && majorVersion > 3)
        return 0;
    return (ccMajor > 4 || (ccMajor == 4 && ccMinor >= 71)) ? 1 : 0;
}

bool NetworkLibraryIsForeign(const std::optional<std::string>& company)
{
    return !company || company->find("Microsoft") == std::string::npos;
}

void MainWindowDefaultSize(int32_t dialogBaseUnitX, int32_t cxFrame, int32_t cxEdge, int32_t* width, int32_t* height)
{
    *width = dialogBaseUnitX * 215 / 4 + 2 * cxFrame + 2 * cxEdge;
    *height = *width * 2 / 3;
}

namespace {
// "%s" of the warning text replaced by the library's description; a text without it is shown as is.
std::string FormatWarning(std::string text, const std::string& description)
{
    size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, description);
    return text;
}
} // namespace

int RunQorvexal(std::string_view commandLine, StartupPlatform& p)
{
    QorvexalGlobals& g = Globals();
    const StrCatalog& table = qorvexal_Strings();

    // 1. Common controls, wizard style, user-interface language.
    p.InitCommonControls();
    uint32_t ccMajor = 4, ccMinor = 0;
    p.CommonControlsVersion(&ccMajor, &ccMinor);
    g.wizardStyle = DefaultWizardStyle(ccMajor, ccMinor, p.IsWin9x(), p.MajorVersion());
    g.uiLanguage = p.ChooseResourceLanguage(kLanguageDialogId);

    // 2. Option pass.
    StartupOptions options;
    ParseOptions(commandLine, &options);
    g.noRtsCts = options.noRtsCts;
    ConsoleSetHandshake(!options.noRtsCts);
    g.noCrypt = options.noCrypt;
    if (options.wizardStyle)
        g.wizardStyle = *options.wizardStyle;
    if (options.language)
        g.uiLanguage = *options.language;
    // The channel runs before the verbs, so that the dialogs the verbs open can be driven too.
    if (options.testControlPort)
        p.StartTestControl(*options.testControlPort);

    // 3. On Windows NT every later resource load uses the chosen language.
    if (!p.IsWin9x())
        p.SetThreadLocale(g.uiLanguage);
    StrSetLanguage(g.uiLanguage);

    // 4. File paths and the description language.
    std::string programDirectory = ProgramDirectoryOf(p.ProgramPath());
    g.paths = BuildStartupPaths(programDirectory, p.DataDirectory(programDirectory));
    QorvexalSettings settings = ReadSettingsFile(g.paths.settingsFile, StrLoad(table, MainStrLanguage));
    g.dscLanguage = settings.dscLanguage;

    // 5. Verb pass: "close" ends the program here.
    if (HandleShellVerbs(commandLine, p.VerbHooks()))
        return 0;

    // 6. Folders for configuration and firmware files.
    p.CreateDirectory(g.paths.configDirectory);
    p.CreateDirectory(g.paths.firmwareDirectory);

    // 7. Single instance: bring the running one to the front instead.
    if (p.IsOtherInstance(p.ProgramPath(), "")) {
        p.ActivateOtherInstance();
        return 0;
    }

    // 8. Dial-up library.
    p.LoadDialupLibrary();

    // 9. Network stack, and the warning about a network library not supplied with the system.
    std::string description;
    g.networkStarted = p.StartNetwork(&description);
    if (g.networkStarted && NetworkLibraryIsForeign(p.NetworkLibraryCompany())
        && IniGetInt(g.paths.settingsFile, kSectionOptions, kKeyDontWarnAboutWinsock, 0) == 0) {
        if (p.WarnWithCheckBox(FormatWarning(StrLoad(table, MainStrForeignNetLibrary), description),
                StrLoad(table, MainStrProgramName), StrLoad(table, CmdStrDontShowAgain)))
            IniWriteString(g.paths.settingsFile, kSectionOptions, kKeyDontWarnAboutWinsock, "1");
    }

    // 10. Description index; 11. device worker.
    p.StartDescriptionIndex(g.paths);
    p.StartDeviceWorker();

    // 12. Main window; 13. message loop. No configuration work starts without the window.
    if (p.CreateMainWindow(StrLoad(table, MainStrProgramName)))
        p.RunMessageLoop();

    // 14. Clean-up.
    if (g.networkStarted)
        p.StopNetwork();
    p.UnloadDialupLibrary();
    return 0;
}
