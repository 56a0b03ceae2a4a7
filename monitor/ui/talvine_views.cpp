#include "monitor/ui/talvine_views.h"

#include "common/diag.h"
#include "monitor/startup/startup.h"
#include "monitor/ui/display_win.h"
#include "monitor/ui/views_win.h"

#include <vector>

namespace {

// The main window decides as for its own closing: a view just closes while other things stay visible;
// otherwise the user is asked whether the program ends.
class MainWindowOwner : public ViewsWindowOwner {
public:
    bool ViewWindowMayClose(HWND window) override
    {
        return TalvineMayCloseOne(window);
    }
    void ViewWindowClosed(HWND) override { }
};

MainWindowOwner g_owner;
bool g_started = false;

} // namespace

void TalvineViewsStart(HINSTANCE instance)
{
    const TalvinePaths& paths = TalvineGlobalsGet().paths;
    ViewsConfig config;
    config.programDirectory = paths.dataDirectory; // the "Accounting" folder is made below it
    while (!config.programDirectory.empty()
        && (config.programDirectory.back() == '\\' || config.programDirectory.back() == '/'))
        config.programDirectory.pop_back();
    config.settingsPath = paths.settingsFile;
    config.version = { TALVINE_VERSION_MAJOR, TALVINE_VERSION_MINOR, TALVINE_VERSION_BUILD };
    if (ViewsWindowsInit(instance, &config, &g_owner) != 1) {
        Diag("views: cannot register their windows\n");
        return;
    }
    g_started = true;
    if (ViewsInit(config) != 1)
        Diag("views: no job socket or no directory %s\n", ViewsAccountingDirectory().c_str());
}

void TalvineViewsOpenFile(HWND owner)
{
    std::string path;
    if (g_started && ViewsAskAccountingFile(owner, false, &path))
        AccountingOpenFile(path);
}

uint32_t TalvineViewsVisible()
{
    return g_started ? ViewWindowsVisible() : 0;
}

void TalvineViewsCloseWindows()
{
    if (g_started)
        ViewsWindowsClose();
}

void TalvineViewsStop()
{
    TalvineViewsCloseWindows();
    ViewsShutdown();
    g_started = false;
}

std::string TalvineViewsTestCommand(const TestCtlCommand& command)
{
    if (command.verb != "views")
        return "";
    std::vector<std::string> lines;
    for (TableView* v : ViewsOpen()) {
        HWND window = ViewWindow(*v);
        lines.push_back(std::string(v->Kind() == TableKind::Accounting ? "acc" : "vpn") + (v->IsFile() ? " file" : "")
            + " rows=" + std::to_string(v->RowCount()) + " running=" + (v->JobRunning() ? "1" : "0")
            + " window=" + TestCtlHandle(reinterpret_cast<uintptr_t>(window)) + " title=" + TestCtlEscape(v->Title()));
    }
    return TestCtlOkLines(lines);
}
