// The status benchmark's timers: what the main window's thread spends on the worker's status updates,
// read and reset on the test channel ("timing"). Internal to qorvexal.exe.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace mainwin {
// What the window thread spends on the worker's status updates, in performance-counter ticks, by part:
// the handler of the redraw message (the rows marked, progress and status bar), the list's paints, and
// the list's saves after a job's changes (not a status update: counted apart). With the number of
// updates the worker made and the list's notifications, the test channel's "timing" reads them for the
// benchmark.
enum TimingPart { kTimeRedraw, kTimePaint, kTimeSave, kTimeParts };
struct TimingCount {
    LONGLONG ticks = 0;
    uint64_t count = 0;
};
inline TimingCount g_timing[kTimeParts];
inline uint64_t g_dispInfos = 0; // LVN_GETDISPINFO answered
inline uint64_t g_customDraws = 0; // NM_CUSTOMDRAW answered
inline uint64_t g_cellsRedrawn = 0; // cells (and images) of rows in sight marked for painting again
inline std::atomic<uint64_t> g_statusUpdates { 0 };

// Adds the time from its making to its end to its part.
class PartTimer {
public:
    explicit PartTimer(TimingPart part);
    ~PartTimer();
    PartTimer(const PartTimer&) = delete;
    PartTimer& operator=(const PartTimer&) = delete;

private:
    TimingPart part_;
    LARGE_INTEGER start_;
};

// The list's paints timed, and the part each draws recorded for the cells' record (win.paintRegion).
LRESULT CALLBACK ListTimingProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR);
// The channel's "timing": the figures counted since "timing reset", which starts counting again.
std::string TimingCommand(const std::string& rest);
} // namespace mainwin
