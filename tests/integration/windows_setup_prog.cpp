// The installer test's program, in the roles the sample product needs:
//   (as testsvc.exe, no arguments)  the test service SetupTestSvc: runs until it is told to stop
//   readlink LINK           prints a shortcut read back through the shell link object
//   hold FILE READY         holds FILE open without delete sharing, creates READY, waits to be killed
//   page TITLE BUTTON OUT   waits (bounded) until a window TITLE shows BUTTON enabled, has it drawn,
//                           writes the texts of its visible controls to OUT, one a line, and prints
//                           the window's rectangle on the screen ("WxH+X+Y")
//   click TITLE BUTTON      waits the same way, then clicks BUTTON (returns once the click is handled)
//   next TITLE CLICK BUTTON OUT   click TITLE CLICK, then page TITLE BUTTON OUT
//   window TITLE            waits (bounded) for a top-level window TITLE, closes it (waiting, bounded,
//                           until it is gone) and prints its class
//   walk TITLE DIR STEP...  a whole wizard in one run: pages kept (texts and pictures), clicks, windows
//                           closed (see Walk)
//                           A BUTTON written "#N" is the button with control id N (the wizard's own
//                           buttons are labelled in the language of the system's resources).
//   anything else           appends "args: ..." to the file named by SETUP_TEST_LOG (the Exec lines)
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;

void Report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID)
{
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(g_stop);
    }
    return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, LPSTR*)
{
    g_status = RegisterServiceCtrlHandlerExA("SetupTestSvc", Handler, nullptr);
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(g_stop, INFINITE);
    Report(SERVICE_STOPPED);
}

int ReadLink(const char* path)
{
    CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link)))) {
        return 1;
    }
    IPersistFile* file = nullptr;
    link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH);
    if (file == nullptr || FAILED(file->Load(wide, STGM_READ))) {
        return 1;
    }
    char target[MAX_PATH] = {};
    char args[MAX_PATH] = {};
    char dir[MAX_PATH] = {};
    char icon[MAX_PATH] = {};
    int index = 0;
    link->GetPath(target, MAX_PATH, nullptr, 0);
    link->GetArguments(args, MAX_PATH);
    link->GetWorkingDirectory(dir, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &index);
    std::printf("target=%s\nargs=%s\ndir=%s\nicon=%s,%d\n", target, args, dir, icon, index);
    std::fflush(stdout);
    return 0;
}

// The texts of the wizard's controls, read through WM_GETTEXT (an edit field's text lives in the
// control, not in the window manager).
std::string ControlText(HWND control)
{
    char text[1024] = {};
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(
            control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &len)) {
        return {};
    }
    return std::string(text, std::min<size_t>(len, sizeof text - 1));
}

// A button's text without its mnemonic marks.
std::string Plain(std::string text)
{
    std::string plain;
    for (char c : text) {
        if (c != '&') {
            plain += c;
        }
    }
    return plain;
}

struct Search {
    const char* title;
    const char* button;
    HWND window;
    HWND found;
    HWND pinned = nullptr; // when set: only this window is searched
};

// Shown as far as the window `top`: the control and each parent below `top` have the visible style.
bool ShownWithin(HWND control, HWND top)
{
    for (HWND w = control; w != nullptr && w != top; w = GetParent(w)) {
        if ((GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) == 0) {
            return false;
        }
    }
    return true;
}

BOOL CALLBACK FindButton(HWND child, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    bool named = search->button[0] == '#' ? GetDlgCtrlID(child) == std::atoi(search->button + 1)
                                          : Plain(ControlText(child)) == search->button;
    HWND top = search->pinned != nullptr ? search->pinned : GetAncestor(child, GA_ROOT);
    if (lstrcmpiA(cls, "Button") == 0 && ShownWithin(child, top) && IsWindowEnabled(child) && named) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindWindowWithButton(HWND window, LPARAM param)
{
    Search* search = reinterpret_cast<Search*>(param);
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    if (!IsWindowVisible(window) || std::strcmp(title, search->title) != 0) {
        return TRUE;
    }
    EnumChildWindows(window, FindButton, param);
    if (search->found != nullptr) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

// Waits at most 120 s (polls of 100 ms) for the button; its window is then idle and drawn.
bool WaitForButton(Search* search)
{
    for (int i = 0; i < 1200; ++i) {
        search->window = search->pinned;
        search->found = nullptr;
        if (search->pinned != nullptr) {
            EnumChildWindows(search->pinned, FindButton, reinterpret_cast<LPARAM>(search));
        } else {
            EnumWindows(FindWindowWithButton, reinterpret_cast<LPARAM>(search));
        }
        if (search->found != nullptr) {
            RedrawWindow(search->window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(search->window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
            return true;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "no window \"%s\" with an enabled button \"%s\"\n", search->title, search->button);
    return false;
}

struct TextSink {
    FILE* file;
    HWND top;
};

BOOL CALLBACK WriteControlText(HWND child, LPARAM param)
{
    TextSink* out = reinterpret_cast<TextSink*>(param);
    if (ShownWithin(child, out->top)) {
        std::string text = ControlText(child);
        if (!text.empty()) {
            std::fprintf(out->file, "%s\n", text.c_str());
        }
    }
    return TRUE;
}

bool WriteTexts(HWND window, const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    TextSink out = { file, window };
    EnumChildWindows(window, WriteControlText, reinterpret_cast<LPARAM>(&out));
    std::fclose(file);
    return true;
}

// The window's client area (the pages and the buttons) as a 24-bit bitmap file.
bool SaveClientBitmap(HWND window, const std::string& path)
{
    RECT r = {};
    GetClientRect(window, &r);
    const int width = r.right;
    const int height = r.bottom;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as bitmap files keep their rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
    }
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD size = stride * static_cast<DWORD>(height);
    FILE* file = ok ? std::fopen(path.c_str(), "wb") : nullptr;
    if (file != nullptr) {
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + size;
        info.bmiHeader.biSizeImage = size;
        ok = std::fwrite(&header, sizeof header, 1, file) == 1
            && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1
            && std::fwrite(bits, size, 1, file) == 1;
        std::fclose(file);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return ok && file != nullptr;
}

int Page(const char* title, const char* button, const char* outPath)
{
    Search search = { title, button, nullptr, nullptr };
    if (!WaitForButton(&search) || !WriteTexts(search.window, outPath)) {
        return 1;
    }
    RECT r = {};
    GetWindowRect(search.window, &r);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    std::fflush(stdout);
    return 0;
}

struct TopLevel {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindTitled(HWND window, LPARAM param)
{
    TopLevel* search = reinterpret_cast<TopLevel*>(param);
    char title[256] = {};
    GetWindowTextA(window, title, sizeof title);
    if (IsWindowVisible(window) && std::strcmp(title, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits at most 60 s (polls of 100 ms) for the window, then closes it and waits as long for its end.
int CloseWindowTitled(const char* title)
{
    TopLevel search = { title, nullptr };
    for (int i = 0; i < 600 && search.found == nullptr; ++i) {
        EnumWindows(FindTitled, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            Sleep(100);
        }
    }
    if (search.found == nullptr) {
        std::fprintf(stderr, "no window \"%s\"\n", title);
        return 1;
    }
    char cls[64] = {};
    GetClassNameA(search.found, cls, sizeof cls);
    PostMessageA(search.found, WM_CLOSE, 0, 0);
    for (int i = 0; i < 600 && IsWindow(search.found); ++i) {
        Sleep(100);
    }
    std::printf("%s\n", cls);
    std::fflush(stdout);
    return 0;
}

int Click(const char* title, const char* button)
{
    Search search = { title, button, nullptr, nullptr };
    if (!WaitForButton(&search)) {
        return 1;
    }
    // Sent, not posted: the page has changed (or the sheet has ended) when this returns.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(search.found, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
    return 0;
}

// A whole wizard in one run, the window found by its title once and kept. Steps:
//   page:NAME:BUTTON  wait for the page showing BUTTON, its texts to DIR\NAME.txt, its picture to
//                     DIR\NAME.bmp
//   click:BUTTON      wait for BUTTON and click it
//   close:TITLE       wait for the top-level window TITLE and close it (the test program window role)
int Walk(const char* title, const std::string& dir, int count, char** steps)
{
    Search search = { title, nullptr, nullptr, nullptr };
    for (int i = 0; i < count; ++i) {
        std::string step = steps[i];
        size_t colon = step.find(':');
        std::string verb = step.substr(0, colon);
        std::string rest = colon == std::string::npos ? std::string() : step.substr(colon + 1);
        bool ok = false;
        if (verb == "close") {
            ok = CloseWindowTitled(rest.c_str()) == 0;
        } else if (verb == "click" || verb == "page") {
            size_t second = verb == "page" ? rest.find(':') : std::string::npos;
            std::string name = second == std::string::npos ? std::string() : rest.substr(0, second);
            std::string button = second == std::string::npos ? rest : rest.substr(second + 1);
            search.button = button.c_str();
            ok = WaitForButton(&search);
            search.pinned = search.window;
            if (ok && verb == "click") {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutA(search.found, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
            } else if (ok) {
                ok = WriteTexts(search.window, dir + "\\" + name + ".txt")
                    && SaveClientBitmap(search.window, dir + "\\" + name + ".bmp");
            }
            search.button = nullptr;
        }
        if (!ok) {
            std::fprintf(stderr, "step %s failed\n", step.c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string self = argv[0];
    for (char& c : self) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (argc == 1 && self.find("testsvc") != std::string::npos) {
        SERVICE_TABLE_ENTRYA table[] = { { const_cast<char*>("SetupTestSvc"), ServiceMain }, { nullptr, nullptr } };
        return StartServiceCtrlDispatcherA(table) ? 0 : 1;
    }
    const char* role = argc > 1 ? argv[1] : "";
    if (std::strcmp(role, "readlink") == 0 && argc == 3) {
        return ReadLink(argv[2]);
    }
    if (std::strcmp(role, "hold") == 0 && argc == 4) {
        HANDLE held = CreateFileA(
            argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            return 1;
        }
        FILE* ready = std::fopen(argv[3], "w");
        if (ready != nullptr) {
            std::fclose(ready);
        }
        Sleep(INFINITE);
        return 0;
    }
    if (std::strcmp(role, "page") == 0 && argc == 5) {
        return Page(argv[2], argv[3], argv[4]);
    }
    if (std::strcmp(role, "click") == 0 && argc == 4) {
        return Click(argv[2], argv[3]);
    }
    if (std::strcmp(role, "next") == 0 && argc == 6) {
        return Click(argv[2], argv[3]) != 0 ? 1 : Page(argv[2], argv[4], argv[5]);
    }
    if (std::strcmp(role, "window") == 0 && argc == 3) {
        return CloseWindowTitled(argv[2]);
    }
    if (std::strcmp(role, "walk") == 0 && argc >= 4) {
        return Walk(argv[2], argv[3], argc - 4, argv + 4);
    }
    const char* log = std::getenv("SETUP_TEST_LOG");
    FILE* out = log != nullptr ? std::fopen(log, "a") : nullptr;
    if (out == nullptr) {
        return 1;
    }
    std::fprintf(out, "args:");
    for (int i = 1; i < argc; ++i) {
        std::fprintf(out, " %s", argv[i]);
    }
    std::fprintf(out, "\n");
    std::fclose(out);
    return 0;
}
