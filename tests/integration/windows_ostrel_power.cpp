// Helper of windows_ostrel_test.sh.
//   windows_ostrel_power EVENT FLAGS   sends WM_POWERBROADCAST to the CAPI task's window ("RemoteCapiClass")
//                                      and prints "result N" (N as an unsigned decimal number)
//   windows_ostrel_power hold          keeps a small window open until it is closed or killed: under Wine
//                                      a service's windows and tray icon show only while a user program
//                                      keeps the desktop (and its tray) alive
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "hold") == 0) {
        HWND w = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "ostrel test desktop", WS_POPUP | WS_VISIBLE, 1180, 980,
            90, 40, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        std::printf("holding %p\n", static_cast<void*>(w));
        std::fflush(stdout);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: windows_ostrel_power EVENT FLAGS | hold\n");
        return 2;
    }
    HWND task = FindWindowA("RemoteCapiClass", nullptr);
    if (!task) {
        std::printf("no window\n");
        return 1;
    }
    LRESULT r
        = SendMessageA(task, WM_POWERBROADCAST, std::strtoul(argv[1], nullptr, 0), std::strtol(argv[2], nullptr, 0));
    std::printf("result %lu\n", static_cast<unsigned long>(r));
    return 0;
}
