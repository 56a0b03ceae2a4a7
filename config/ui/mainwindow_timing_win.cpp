// The status benchmark's timers and the test channel's "timing" that reads them.
#include "config/ui/mainwindow_timing_win.h"

#include "common/testctl.h"
#include "common/text.h"
#include "config/ui/mainwindow_state_win.h"

#include <commctrl.h>

namespace mainwin {
namespace {
uint64_t g_cpuAtReset = 0; // the window thread's processor time at "timing reset"

// The calling thread's processor time (user and kernel), in 100 ns units: unlike the timed parts on the
// clock, untouched by the other programs of a busy machine.
uint64_t ThreadCpuTime()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    auto value = [](const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return value(kernel) + value(user);
}
} // namespace

LRESULT CALLBACK ListTimingProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_PAINT) {
        PartTimer timer(kTimePaint);
        // The part to be drawn, for the cells' record (win.shown); none when painting into a given DC.
        HRGN region = CreateRectRgn(0, 0, 0, 0);
        int kind = wParam ? NULLREGION : GetUpdateRgn(list, region, FALSE);
        if (kind == SIMPLEREGION || kind == COMPLEXREGION) {
            win.paintRegion = region;
            GetRgnBox(region, &win.paintBox);
            win.paintSimple = kind == SIMPLEREGION;
        }
        LRESULT result = DefSubclassProc(list, message, wParam, lParam);
        win.paintRegion = nullptr;
        DeleteObject(region);
        return result;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

PartTimer::PartTimer(TimingPart part)
    : part_(part)
{
    QueryPerformanceCounter(&start_);
}

PartTimer::~PartTimer()
{
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    g_timing[part_].ticks += end.QuadPart - start_.QuadPart;
    ++g_timing[part_].count;
}

std::string TimingCommand(const std::string& rest)
{
    // "timing" reports, "timing reset" starts counting again.
    if (rest == "reset") {
        g_statusUpdates = 0;
        for (TimingCount& t : g_timing)
            t = TimingCount {};
        g_dispInfos = g_customDraws = g_cellsRedrawn = 0;
        g_cpuAtReset = ThreadCpuTime();
        return TestCtlOk();
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto us
        = [&](TimingPart part) { return static_cast<long long>(g_timing[part].ticks * 1000000 / frequency.QuadPart); };
    auto n = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    // window_us: what the user waits for on a status update, the redraw messages and the paints.
    return TestCtlOkLines({ StrFormat("updates %llu", n(g_statusUpdates.load())),
        StrFormat("window_us %lld", us(kTimeRedraw) + us(kTimePaint)),
        StrFormat("redraws %llu", n(g_timing[kTimeRedraw].count)), StrFormat("redraw_us %lld", us(kTimeRedraw)),
        StrFormat("paints %llu", n(g_timing[kTimePaint].count)), StrFormat("paint_us %lld", us(kTimePaint)),
        StrFormat("saves %llu", n(g_timing[kTimeSave].count)), StrFormat("save_us %lld", us(kTimeSave)),
        StrFormat("dispinfo %llu", n(g_dispInfos)), StrFormat("customdraw %llu", n(g_customDraws)),
        StrFormat("cells %llu", n(g_cellsRedrawn)),
        StrFormat("cpu_us %llu", n((ThreadCpuTime() - g_cpuAtReset) / 10)) });
}
} // namespace mainwin
