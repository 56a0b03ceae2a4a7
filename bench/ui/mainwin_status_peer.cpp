// The peer of the main window's status benchmark (bench/mainwin_status.sh): as many bare text updates
// of a list view's Status column as the window made status updates during its check-all, timed as the
// window times its own (the update and the list's paints it causes, the queue emptied after each one as
// the window's updates arrive one by one from the worker).
//   mainwin_status_peer UPDATES     prints "peer_us N"
#include <windows.h>

#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kRows = 1000;
constexpr int kColumns = 8;
LONGLONG g_ticks = 0;

struct Timer {
    LARGE_INTEGER start;
    Timer()
    {
        QueryPerformanceCounter(&start);
    }
    ~Timer()
    {
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        g_ticks += end.QuadPart - start.QuadPart;
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
};

LRESULT CALLBACK PaintTimingProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (message == WM_PAINT) {
        Timer timer;
        return DefSubclassProc(list, message, wParam, lParam);
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

// The thread's processor time (user and kernel) in 100 ns units.
unsigned long long ThreadCpuTime()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    auto value
        = [](const FILETIME& f) { return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    return value(kernel) + value(user);
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

int main(int argc, char** argv)
{
    long updates = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (updates <= 0) {
        std::fprintf(stderr, "usage: mainwin_status_peer UPDATES\n");
        return 2;
    }
    INITCOMMONCONTROLSEX icc { sizeof icc, ICC_LISTVIEW_CLASSES };
    InitCommonControlsEx(&icc);
    HWND top = CreateWindowExA(0, "STATIC", "Status peer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1000, 700, nullptr,
        nullptr, GetModuleHandleA(nullptr), nullptr);
    RECT client;
    GetClientRect(top, &client);
    HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0,
        client.right, client.bottom, top, nullptr, GetModuleHandleA(nullptr), nullptr);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    const char* headers[kColumns]
        = { "Name", "Status", "Address", "Device type", "Firmware", "Serial number", "MAC address", "Description" };
    for (int c = 0; c < kColumns; ++c) {
        LVCOLUMNA col {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<char*>(headers[c]);
        col.cx = 110;
        col.iSubItem = c;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
    }
    for (int r = 0; r < kRows; ++r) {
        std::string name = "MORVAK-" + std::to_string(r + 1);
        LVITEMA item {};
        item.mask = LVIF_TEXT;
        item.iItem = r;
        item.pszText = name.data();
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        const char* cells[kColumns] = { nullptr, "Unknown", "127.80.0.1:40000", "Morvak 1100", "3.10.0012 (14.05.2001)",
            "M1100000001", "00:a0:5a:00:00:01", "" };
        for (int c = 1; c < kColumns; ++c)
            ListView_SetItemText(list, r, c, const_cast<char*>(cells[c]));
    }
    SetWindowSubclass(list, PaintTimingProc, 1, 0);
    Pump();
    UpdateWindow(list);
    g_ticks = 0;
    unsigned long long cpuStart = ThreadCpuTime();
    // A check-all walks the list from the top: each device becomes "Checking ..." and then "Ok".
    for (long i = 0; i < updates; ++i) {
        {
            Timer timer;
            int row = static_cast<int>((i / 2) % kRows);
            ListView_SetItemText(list, row, 1, const_cast<char*>(i % 2 ? "Ok" : "Checking ..."));
        }
        Pump();
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::printf("peer_us %lld\n", static_cast<long long>(g_ticks * 1000000 / frequency.QuadPart));
    std::printf("peer_cpu_us %llu\n", (ThreadCpuTime() - cpuStart) / 10);
    DestroyWindow(top);
    return 0;
}
