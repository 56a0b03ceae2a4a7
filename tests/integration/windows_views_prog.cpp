// Opens the accounting and VPN view windows of one simulated device as the monitor does, for the Wine
// test (until the monitor's main window opens them itself). Every 200 ms it prints, for each open view
// whose state changed, one line to DIR\\trace.log: kind, rows, the first row's texts, the window's rectangle, the first
// column's width, and the screen points of the second column's header (Remote Site), of the first column's right edge
// and of the Close button.
//   windows_views_prog.exe DIR ADDRESS PORT [acc|vpn|both]
// DIR holds talvmorv.dsc and talvine.ini; the program ends when its last view window closes.
#include "common/platform/net.h"
#include "common/strings.h"
#include "monitor/objtree/objtree.h"
#include "monitor/objtree/script.h"
#include "monitor/snmp/snmp_types.h"
#include "monitor/ui/views_win.h"

#include <cstdio>
#include <map>
#include <string>

namespace {

std::map<const TableView*, std::string> g_last;
FILE* g_trace = stdout; // DIR\\trace.log: read by the test while the program runs

void Say(const char* line)
{
    std::fputs(line, g_trace);
    std::fflush(g_trace);
}

struct Owner : ViewsWindowOwner {
    void ViewWindowClosed(HWND) override
    {
        Say("closed\n");
        // The last visible view window ends the test program (the monitor's main window decides itself).
        int open = 0;
        for (TableView* v : ViewsOpen())
            open += ViewWindow(*v) ? 1 : 0;
        if (open == 0)
            PostQuitMessage(0);
    }
};

POINT Center(HWND window, const RECT& r)
{
    POINT p { (r.left + r.right) / 2, (r.top + r.bottom) / 2 };
    ClientToScreen(window, &p);
    return p;
}

void CALLBACK Trace(HWND, UINT, UINT_PTR, DWORD)
{
    for (TableView* v : ViewsOpen()) {
        HWND w = ViewWindow(*v);
        if (!w)
            continue;
        HWND list = GetDlgItem(w, kViewList);
        HWND header = ListView_GetHeader(list);
        RECT wr, hr {}, cr {};
        GetWindowRect(w, &wr);
        Header_GetItemRect(header, 1, &hr);
        POINT h = Center(header, hr);
        HWND close = GetDlgItem(w, kViewCmdClose);
        GetClientRect(close, &cr);
        POINT c = Center(close, cr);
        RECT first {};
        Header_GetItemRect(header, 0, &first);
        POINT edge { first.right, (first.top + first.bottom) / 2 };
        ClientToScreen(header, &edge);
        std::string texts;
        if (v->RowCount() > 0)
            for (const std::string& t : v->RowTexts(0))
                texts += t + "|";
        char line[1024];
        std::snprintf(line, sizeof line,
            "view %s rows=%u running=%d first=%s rect=%ld,%ld,%ld,%ld col0=%d header1=%ld,%ld edge0=%ld,%ld "
            "close=%ld,%ld\n",
            v->Kind() == TableKind::Accounting ? "acc" : "vpn", static_cast<unsigned>(v->RowCount()),
            v->JobRunning() ? 1 : 0, texts.c_str(), wr.left, wr.top, wr.right, wr.bottom,
            ListView_GetColumnWidth(list, 0), h.x, h.y, edge.x, edge.y, c.x, c.y);
        if (g_last[v] != line) {
            g_last[v] = line;
            Say(line);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: windows_views_prog DIR ADDRESS PORT [acc|vpn|both]\n");
        return 2;
    }
    std::string dir = argv[1];
    std::string which = argc > 4 ? argv[4] : "both";
    NetStartup();
    if (FILE* f = std::fopen((dir + "\\trace.log").c_str(), "w"))
        g_trace = f;
    StrSetLanguage(1033);
    ScriptLoadAll(dir + "/talv*.dsc", "English");
    std::unique_ptr<DeviceObject> device = ScriptInstantiate("Morvak 2400");
    if (!device) {
        std::fprintf(stderr, "no script for Morvak 2400 in %s\n", dir.c_str());
        return 1;
    }
    ViewsConfig config;
    config.programDirectory = dir;
    config.settingsPath = dir + "\\talvine.ini";
    config.version = { 3, 0, 0 };
    config.port = static_cast<uint16_t>(std::atoi(argv[3]));
    Owner owner;
    if (ViewsWindowsInit(GetModuleHandleA(nullptr), &config, &owner) != 1 || ViewsInit(config) != 1) {
        std::fprintf(stderr, "the views did not start\n");
        return 1;
    }
    unsigned long a = 0, b = 0, c = 0, d = 0;
    std::sscanf(argv[2], "%lu.%lu.%lu.%lu", &a, &b, &c, &d);
    TableTarget target;
    target.address = SnmpAddressFromHost(static_cast<uint32_t>(a << 24 | b << 16 | c << 8 | d));
    target.community = "public";
    if ((which == "acc" || which == "both") && TableTargetFromDevice(*device, TableKind::Accounting, &target))
        ViewsOpenDevice(TableKind::Accounting, target, "Accounting test");
    if ((which == "vpn" || which == "both") && TableTargetFromDevice(*device, TableKind::Vpn, &target))
        ViewsOpenDevice(TableKind::Vpn, target, "VPN test");
    SetTimer(nullptr, 0, 200, Trace);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ViewsWindowsClose();
    ViewsShutdown();
    Say("end\n");
    return 0;
}
